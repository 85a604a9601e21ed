#include "cloud/oauth_credential_store.h"

#include <algorithm>
#include <cmath>

#include "cloud/oauth_errors.h"
#include "cloud/oauth_escaping.h"
#include "cloud/oauth_url.h"
#include "platform/foundation/uuid.h"
#include "platform/security/keychain.h"

namespace cloud {
namespace {

std::string asString(std::string_view text) { return std::string(text); }

}  // namespace

// A nonce has to be unique, not secret: a random UUID from the kernel's generator gives that at the
// cost of one call, where the crypto library's would first set itself up for the calling thread (a
// few milliseconds of a process that makes one request).
std::string makeOAuthNonce() { return foundation::makeUuid(); }

OAuthCredentialConcreteStore::OAuthCredentialConcreteStore(foundation::Dictionary credentials,
                                                           foundation::Clock& clock)
    : store_(std::move(credentials)), clock_(&clock), nonceSource_(makeOAuthNonce) {}

OAuthCredentialConcreteStore::OAuthCredentialConcreteStore(foundation::Dictionary credentials,
                                                           std::string baseURL, foundation::Clock& clock)
    : store_(std::move(credentials)),
      baseURL_(baseURL),
      authenticationURL_(std::move(baseURL)),
      clock_(&clock),
      nonceSource_(makeOAuthNonce) {}

OAuthCredentialConcreteStore::OAuthCredentialConcreteStore(foundation::Dictionary credentials,
                                                           std::string baseURL, std::string authenticationURL,
                                                           foundation::Clock& clock)
    : store_(std::move(credentials)),
      baseURL_(std::move(baseURL)),
      authenticationURL_(std::move(authenticationURL)),
      clock_(&clock),
      nonceSource_(makeOAuthNonce) {}

void OAuthCredentialConcreteStore::setNonceSource(OAuthNonceSource source) {
  nonceSource_ = source ? std::move(source) : OAuthNonceSource(makeOAuthNonce);
}

std::optional<std::string> OAuthCredentialConcreteStore::credentialNamed(std::string_view name) const {
  if (const std::string* value = store_[name].string()) return *value;
  return std::nullopt;
}

foundation::Status OAuthCredentialConcreteStore::discardOAuthCredentials() {
  foundation::Status results[] = {setRequestToken(std::nullopt), setRequestTokenSecret(std::nullopt),
                                  setAccessToken(std::nullopt), setAccessTokenSecret(std::nullopt),
                                  setSessionHandle(std::nullopt)};
  for (auto& result : results) {
    if (!result) return result;
  }
  return {};
}

std::optional<std::string> OAuthCredentialConcreteStore::consumerKey() const {
  return credentialNamed(kOAuthCredentialConsumerKey);
}
std::optional<std::string> OAuthCredentialConcreteStore::consumerSecret() const {
  return credentialNamed(kOAuthCredentialConsumerSecret);
}
std::optional<std::string> OAuthCredentialConcreteStore::username() const {
  return credentialNamed(kOAuthCredentialUsername);
}
std::optional<std::string> OAuthCredentialConcreteStore::password() const {
  return credentialNamed(kOAuthCredentialPassword);
}
std::optional<std::string> OAuthCredentialConcreteStore::requestToken() const {
  return credentialNamed(kOAuthCredentialRequestToken);
}
std::optional<std::string> OAuthCredentialConcreteStore::requestTokenSecret() const {
  return credentialNamed(kOAuthCredentialRequestTokenSecret);
}
std::optional<std::string> OAuthCredentialConcreteStore::accessToken() const {
  return credentialNamed(kOAuthCredentialAccessToken);
}
std::optional<std::string> OAuthCredentialConcreteStore::accessTokenSecret() const {
  return credentialNamed(kOAuthCredentialAccessTokenSecret);
}
std::optional<std::string> OAuthCredentialConcreteStore::sessionHandle() const {
  return credentialNamed(kOAuthCredentialSessionHandle);
}
std::optional<std::string> OAuthCredentialConcreteStore::signatureMethod() const {
  return credentialNamed(kOAuthSignatureMethod);
}

foundation::Status OAuthCredentialConcreteStore::setOrClear(std::string_view key,
                                                            std::optional<std::string> value) {
  if (value) {
    store_.set(asString(key), std::move(*value));
    return {};
  }
  store_.erase(key);
  return removeValueFromKeychainUsingName(key);
}

foundation::Status OAuthCredentialConcreteStore::setRequestToken(std::optional<std::string> value) {
  return setOrClear(kOAuthCredentialRequestToken, std::move(value));
}
foundation::Status OAuthCredentialConcreteStore::setRequestTokenSecret(std::optional<std::string> value) {
  return setOrClear(kOAuthCredentialRequestTokenSecret, std::move(value));
}
foundation::Status OAuthCredentialConcreteStore::setAccessToken(std::optional<std::string> value) {
  return setOrClear(kOAuthCredentialAccessToken, std::move(value));
}
foundation::Status OAuthCredentialConcreteStore::setAccessTokenSecret(std::optional<std::string> value) {
  return setOrClear(kOAuthCredentialAccessTokenSecret, std::move(value));
}
foundation::Status OAuthCredentialConcreteStore::setSessionHandle(std::optional<std::string> value) {
  return setOrClear(kOAuthCredentialSessionHandle, std::move(value));
}

void OAuthCredentialConcreteStore::setSignatureMethod(std::optional<std::string> method) {
  if (method) {
    store_.set(asString(kOAuthSignatureMethod), std::move(*method));
  } else {
    store_.erase(kOAuthSignatureMethod);
  }
}

foundation::Status OAuthCredentialConcreteStore::setCredentialWithName(std::string value,
                                                                       std::string_view name) {
  store_.set(asString(name), value);
  return addToKeychainUsingNameAndValue(name, value);
}

foundation::Status OAuthCredentialConcreteStore::removeCredentialNamed(std::string_view name) {
  store_.erase(name);
  return removeValueFromKeychainUsingName(name);
}

std::string OAuthCredentialConcreteStore::tokenSecret() const {
  if (accessToken()) return accessTokenSecret().value_or("");
  if (requestToken()) return requestTokenSecret().value_or("");
  return "";
}

std::optional<OAuthKeychain::Item> OAuthCredentialConcreteStore::keychainItem(std::string_view name) const {
  if (keychain_ == nullptr || !baseURL_ || !authenticationURL_) return std::nullopt;
  std::string server = urlHost(*baseURL_);
  std::string domain = urlHost(*authenticationURL_);
  if (server.empty() || domain.empty()) return std::nullopt;
  return OAuthKeychain::Item{std::move(domain), std::move(server), asString(name)};
}

foundation::Status OAuthCredentialConcreteStore::addToKeychainUsingNameAndValue(std::string_view name,
                                                                                std::string_view value) {
  auto item = keychainItem(name);
  if (!item) return {};
  std::string existing;
  std::int32_t status = keychain_->find(*item, &existing) == OAuthKeychain::kSuccess
                            ? keychain_->update(*item, value)
                            : keychain_->add(*item, value);
  if (status == OAuthKeychain::kDuplicateItem) return oauthKeychainDuplicateItemError(name, status);
  if (status == OAuthKeychain::kNotAvailable) return oauthKeychainNotAvailableError(status);
  return {};
}

foundation::Dictionary OAuthKeychain::attributesOf(const Item& item) {
  using security::Keychain;
  return foundation::Dictionary{{std::string(Keychain::kClassKey), std::string(Keychain::kClassInternetPassword)},
                                {std::string(Keychain::kSecurityDomainKey), item.securityDomain},
                                {std::string(Keychain::kServerKey), item.server},
                                {std::string(Keychain::kAccountKey), item.account},
                                {std::string(Keychain::kTypeKey), static_cast<std::int64_t>(kItemType)}};
}

std::int32_t OAuthKeychain::findItem(const Item& item, std::string* value, foundation::Dictionary* attributes) {
  std::string data;
  std::int32_t status = find(item, &data);
  if (status != kSuccess) return status;
  if (attributes) {
    *attributes = attributesOf(item);
    attributes->set(std::string(security::Keychain::kValueDataKey), foundation::Bytes(data.begin(), data.end()));
  }
  if (value) *value = std::move(data);
  return status;
}

std::optional<std::string> OAuthCredentialConcreteStore::findValueFromKeychainUsingName(
    std::string_view name) const {
  return findValueFromKeychainUsingNameReturningItem(name, nullptr);
}

std::optional<std::string> OAuthCredentialConcreteStore::findValueFromKeychainUsingNameReturningItem(
    std::string_view name, foundation::Dictionary* item) const {
  auto address = keychainItem(name);
  if (!address) return std::nullopt;
  std::string value;
  foundation::Dictionary attributes;
  if (keychain_->findItem(*address, &value, item ? &attributes : nullptr) != OAuthKeychain::kSuccess)
    return std::nullopt;
  if (item) *item = std::move(attributes);
  return value;
}

foundation::Status OAuthCredentialConcreteStore::removeValueFromKeychainUsingName(std::string_view name) {
  auto item = keychainItem(name);
  if (!item) return {};
  std::int32_t status = keychain_->remove(*item);
  if (status == OAuthKeychain::kParam) return oauthKeychainParameterError(name, status);
  if (status == OAuthKeychain::kAllocate) return oauthKeychainMemoryError(status);
  if (status == OAuthKeychain::kNotAvailable) return oauthKeychainNotAvailableError(status);
  return {};
}

std::vector<OAuthURLRequestParameter> OAuthCredentialConcreteStore::oauthParameters() const {
  std::vector<OAuthURLRequestParameter> parameters;
  parameters.reserve(6);
  parameters.push_back(oauthConsumerKeyParameter());
  if (auto token = oauthTokenParameter()) parameters.push_back(std::move(*token));
  parameters.push_back(oauthSignatureMethodParameter());
  parameters.push_back(oauthTimestampParameter());
  parameters.push_back(oauthNonceParameter());
  parameters.push_back(oauthVersionParameter());
  return parameters;
}

OAuthURLRequestParameter OAuthCredentialConcreteStore::oauthConsumerKeyParameter() const {
  return {"oauth_consumer_key", consumerKey()};
}

std::optional<OAuthURLRequestParameter> OAuthCredentialConcreteStore::oauthTokenParameter() const {
  if (auto token = accessToken()) return OAuthURLRequestParameter("oauth_token", std::move(token));
  if (auto token = requestToken()) return OAuthURLRequestParameter("oauth_token", std::move(token));
  return std::nullopt;
}

OAuthURLRequestParameter OAuthCredentialConcreteStore::oauthSignatureMethodParameter() const {
  return {"oauth_signature_method", signatureMethod()};
}

OAuthURLRequestParameter OAuthCredentialConcreteStore::oauthTimestampParameter() const {
  return {"oauth_timestamp", timestamp()};
}

OAuthURLRequestParameter OAuthCredentialConcreteStore::oauthNonceParameter() const {
  return {"oauth_nonce", nonceSource_()};
}

OAuthURLRequestParameter OAuthCredentialConcreteStore::oauthVersionParameter() const {
  if (versionParameter_) return *versionParameter_;
  return {"oauth_version", "1.0"};
}

std::string OAuthCredentialConcreteStore::signingKey() const {
  return stringByAddingURIPercentEscapesUsingEncoding(consumerSecret().value_or("")) + "&" +
         stringByAddingURIPercentEscapesUsingEncoding(tokenSecret());
}

std::string OAuthCredentialConcreteStore::timestamp() const {
  double seconds = std::trunc(clock_->now().unix());
  // A clock far outside any real date still yields a number, never undefined behaviour.
  constexpr double kLimit = 9.0e18;
  std::int64_t whole = 0;
  if (std::isfinite(seconds)) whole = static_cast<std::int64_t>(std::clamp(seconds, -kLimit, kLimit));
  return std::to_string(whole);
}

}  // namespace cloud
