#include "cloud/cloud_session.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "cloud/cloud_keychain.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Value;

std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<CloudSession>& sharedSlot() {
  static std::shared_ptr<CloudSession> session;
  return session;
}

std::string key(std::string_view name) { return std::string(name); }

// A non-empty text value, or nothing.
std::optional<std::string> text(const Value& value) {
  const std::string* s = value.string();
  if (s == nullptr || s->empty()) return std::nullopt;
  return *s;
}

// The value read as an integer the way a stored number or its text is: 0 when it is neither.
std::int64_t integerOf(const Value& value) {
  if (auto n = value.toInteger()) return *n;
  if (const std::string* s = value.string()) return std::atoll(s->c_str());
  return 0;
}

bool hasConsumerKey(const Dictionary& stored, const std::string& appKey) {
  const std::string* storedKey = stored[kOAuthCredentialConsumerKey].string();
  return storedKey != nullptr && *storedKey == appKey;
}

struct StoredToken {
  std::string token;
  std::string secret;
};

// The token and secret at the top level of a dictionary; nothing unless both are texts.
std::optional<StoredToken> topLevelToken(const Dictionary& stored) {
  auto token = text(stored[kOAuthCredentialAccessToken]);
  auto secret = text(stored[kOAuthCredentialAccessTokenSecret]);
  if (!token || !secret) return std::nullopt;
  return StoredToken{*token, *secret};
}

struct StoredUser {
  std::string userId;
  StoredToken token;
};

// The usable entries of "kCloudUserCredentials"; what is damaged or missing is skipped.
std::vector<StoredUser> storedUsers(const Dictionary& stored) {
  std::vector<StoredUser> users;
  const foundation::Array* entries = stored[kCloudUserCredentialsKey].array();
  if (entries == nullptr) return users;
  for (const Value& entry : *entries) {
    const Dictionary* user = entry.dictionary();
    if (user == nullptr) continue;
    auto userId = text((*user)[kCloudUserIdKey]);
    auto token = topLevelToken(*user);
    if (userId && token) users.push_back(StoredUser{*userId, *token});
  }
  return users;
}

}  // namespace

CloudSession::CloudSession(std::string appKey, std::string appSecret, std::string root,
                           std::shared_ptr<runtime::UserDefaults> userDefaults, foundation::Clock& clock)
    : root_(std::move(root)),
      userDefaults_(userDefaults ? std::move(userDefaults) : runtime::UserDefaults::standard()),
      clock_(clock) {
  baseCredentials_ = Dictionary{{key(kOAuthCredentialConsumerKey), std::move(appKey)},
                                {key(kOAuthCredentialConsumerSecret), std::move(appSecret)},
                                {key(kOAuthSignatureMethod), "PLAINTEXT"}};
  loadStoredCredentials();
}

std::shared_ptr<CloudSession> CloudSession::sharedSession() {
  std::lock_guard lock(sharedMutex());
  return sharedSlot();
}

void CloudSession::setSharedSession(std::shared_ptr<CloudSession> session) {
  std::shared_ptr<CloudSession> previous;
  {
    std::lock_guard lock(sharedMutex());
    if (session == sharedSlot()) return;
    previous = std::exchange(sharedSlot(), std::move(session));
  }
  // The previous session is released outside the lock.
}

void CloudSession::loadStoredCredentials() {
  const std::string appKey = baseCredentials_[kOAuthCredentialConsumerKey].stringOr("");
  // Everything stored is read and merged in memory first, in the order the releases wrote it (a
  // real user replaces the placeholder, a later source wins for the same user), so that a leftover
  // of an older release never replaces users the keychain already holds. Then one save moves it
  // all to the current form; a crash can leave the old form or the new one, never half of each.
  // The user-defaults leftovers go only once that save holds, so a failed save loses nothing.
  bool migrate = false;
  std::vector<std::string_view> leftovers;

  // An older release kept one token, with its application key, in the user defaults.
  if (!userDefaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull()) {
    auto saved = userDefaults_->dictionaryForKey(kCloudSavedCredentialsKeyKey);
    if (saved && hasConsumerKey(*saved, appKey)) {
      if (auto token = topLevelToken(*saved)) {
        setAccessTokenAccessTokenSecretForUserId(token->token, token->secret, kCloudUnknownUserId);
        migrate = true;
      }
    }
    leftovers.push_back(kCloudSavedCredentialsKeyKey);
  }

  // A later one kept the current layout there.
  if (!userDefaults_->objectForKey(kCloudSavedCredentialsKey).isNull()) {
    auto saved = userDefaults_->dictionaryForKey(kCloudSavedCredentialsKey);
    if (saved && hasConsumerKey(*saved, appKey)) {
      for (const auto& user : storedUsers(*saved)) {
        setAccessTokenAccessTokenSecretForUserId(user.token.token, user.token.secret, user.userId);
        migrate = true;
      }
    }
    leftovers.push_back(kCloudSavedCredentialsKey);
  }

  auto stored = CloudKeychain::credentials();
  if (stored && !hasConsumerKey(*stored, appKey)) {
    // Tokens of another application are of no use to this one and are not kept.
    (void)CloudKeychain::deleteCredentials();
    stored.reset();
  }
  if (stored) {
    std::int64_t version = integerOf((*stored)[kCloudCredentialVersionKey]);
    if (version == 1) {
      if (auto token = topLevelToken(*stored)) {
        setAccessTokenAccessTokenSecretForUserId(token->token, token->secret, kCloudUnknownUserId);
        migrate = true;
      }
    } else {
      for (const auto& user : storedUsers(*stored)) {
        setAccessTokenAccessTokenSecretForUserId(user.token.token, user.token.secret, user.userId);
        if (version < kCloudCredentialVersion) migrate = true;
      }
    }
  }

  // When the save fails the leftovers stay for the next start to try again.
  if (migrate && !saveCredentials()) return;
  if (leftovers.empty()) return;
  for (std::string_view leftover : leftovers) userDefaults_->removeObjectForKey(leftover);
  (void)userDefaults_->synchronize();
}

std::vector<std::string> CloudSession::userIds() const {
  std::vector<std::string> ids;
  ids.reserve(credentialStores_.size());
  for (const auto& [userId, store] : credentialStores_) ids.push_back(userId);
  return ids;
}

CloudSession::StorePtr* CloudSession::findStore(std::string_view userId) {
  for (auto& [id, store] : credentialStores_) {
    if (id == userId) return &store;
  }
  return nullptr;
}

void CloudSession::setAccessTokenAccessTokenSecretForUserId(std::string_view token, std::string_view secret,
                                                            std::string_view userId) {
  StorePtr* found = findStore(userId);
  StorePtr store;
  if (found != nullptr) {
    store = *found;
  } else {
    store = std::make_shared<OAuthCredentialConcreteStore>(baseCredentials_, clock_);
    credentialStores_.emplace_back(std::string(userId), store);
    if (userId != kCloudUnknownUserId) {
      std::erase_if(credentialStores_, [](const auto& entry) { return entry.first == kCloudUnknownUserId; });
    }
  }
  // The stores of the session have no keychain of their own: setting a token cannot fail.
  (void)store->setAccessToken(std::string(token));
  (void)store->setAccessTokenSecret(std::string(secret));
}

void CloudSession::updateAccessTokenAccessTokenSecretForUserId(std::string_view token,
                                                               std::string_view secret,
                                                               std::string_view userId) {
  setAccessTokenAccessTokenSecretForUserId(token, secret, userId);
  (void)saveCredentials();
}

void CloudSession::unlinkAll() {
  credentialStores_.clear();
  (void)CloudKeychain::deleteCredentials();
}

void CloudSession::unlinkUserId(std::string_view userId) {
  std::erase_if(credentialStores_, [&](const auto& entry) { return entry.first == userId; });
  (void)saveCredentials();
}

CloudSession::StorePtr CloudSession::credentialStoreForUserId(std::optional<std::string_view> userId) {
  if (!userId) {
    if (!anonymousStore_)
      anonymousStore_ = std::make_shared<OAuthCredentialConcreteStore>(baseCredentials_, clock_);
    return anonymousStore_;
  }
  StorePtr* found = findStore(*userId);
  return found != nullptr ? *found : nullptr;
}

bool CloudSession::saveCredentials() {
  foundation::Array users;
  for (const auto& [userId, store] : credentialStores_) {
    users.push_back(
        Dictionary{{key(kCloudUserIdKey), userId},
                   {key(kOAuthCredentialAccessToken), store->accessToken().value_or("")},
                   {key(kOAuthCredentialAccessTokenSecret), store->accessTokenSecret().value_or("")}});
  }
  Dictionary stored{{key(kOAuthCredentialConsumerKey), baseCredentials_[kOAuthCredentialConsumerKey]},
                    {key(kCloudCredentialVersionKey), kCloudCredentialVersion},
                    {key(kCloudUserCredentialsKey), std::move(users)}};
  return CloudKeychain::setCredentials(stored) == security::Keychain::kSuccess;
}

}  // namespace cloud
