#pragma once
// What the cloud client knows about the application and its linked users: the application key
// and secret, the root every path lies under, and one OAuth credential store per linked user.
//
// One session is made at start-up and published as the shared session; the REST client takes its
// credentials from it, the link flow adds users to it (handleOpenURL), and the backup screen asks
// whether an account is linked and unlinks it. The users' tokens are kept between launches in one
// keychain item (CloudKeychain) as a keyed archive of the dictionary
//   { kOAuthCredentialConsumerKey: <application key>, "CloudCredentialVersion": 3,
//     "kCloudUserCredentials": [ { "kCloudUserId", kOAuthCredentialAccessToken,
//                                  kOAuthCredentialAccessTokenSecret }, ... ] }
// and the session still reads the older forms: a keychain item of version 1 (one token at the top
// level, no user id) or 2 (the layout above), and two user-defaults entries of older releases.
//
// A session is used on one thread (the main thread); sharedSession() may be read from any.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cloud/oauth_credential_store.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/value.h"
#include "platform/runtime/user_defaults.h"

namespace cloud {

// The user id under which a token of an older store (one token, no user id) is held until a token
// for a real user arrives.
inline constexpr std::string_view kCloudUnknownUserId = "unknown";

// Keys of the stored credentials.
inline constexpr std::string_view kCloudCredentialVersionKey = "CloudCredentialVersion";
inline constexpr std::string_view kCloudUserCredentialsKey = "kCloudUserCredentials";
inline constexpr std::string_view kCloudUserIdKey = "kCloudUserId";
// The version this system writes.
inline constexpr int kCloudCredentialVersion = 3;
// User-defaults entries of older releases: one token with its application key, and the
// version-3 layout.
inline constexpr std::string_view kCloudSavedCredentialsKeyKey = "kCloudSavedCredentialsKey";
inline constexpr std::string_view kCloudSavedCredentialsKey = "kCloudSavedCredentials";

// The login hand-back: "cloud-<application key>://1/connect?oauth_token=...&oauth_token_secret=...
// &uid=...&state=<nonce>", or ".../cancel". The nonce of the latest link attempt waits in the
// user defaults until its answer arrives.
inline constexpr std::string_view kCloudLinkNonceKey = "cloud.sync.nonce";
inline constexpr std::string_view kCloudAPIVersion = "1";

class CloudSession;

// Told when a request of a user is refused for its credentials (the REST client sends it).
class CloudSessionDelegate {
 public:
  virtual ~CloudSessionDelegate() = default;
  virtual void sessionDidReceiveAuthorizationFailureUserId(CloudSession& session,
                                                           const std::string& userId) = 0;
};

class CloudSession {
 public:
  using StorePtr = std::shared_ptr<OAuthCredentialConcreteStore>;

  // Builds the session for the application and restores the credentials stored for the same
  // application key (moving older stored forms to the current one, and dropping those of another
  // key). The user defaults are the standard ones unless given; the clock times the stores'
  // "oauth_timestamp" and must outlive the session.
  CloudSession(std::string appKey, std::string appSecret, std::string root,
               std::shared_ptr<runtime::UserDefaults> userDefaults = nullptr,
               foundation::Clock& clock = foundation::Clock::system());
  CloudSession(const CloudSession&) = delete;
  CloudSession& operator=(const CloudSession&) = delete;

  // The process-wide session (nullptr before one is set), and making a session the shared one.
  static std::shared_ptr<CloudSession> sharedSession();
  static void setSharedSession(std::shared_ptr<CloudSession> session);

  // Consumer key, consumer secret and "PLAINTEXT" under the OAuth key constants.
  const foundation::Dictionary& baseCredentials() const { return baseCredentials_; }
  const std::string& root() const { return root_; }
  CloudSessionDelegate* delegate() const { return delegate_; }
  // Not owned.
  void setDelegate(CloudSessionDelegate* delegate) { delegate_ = delegate; }
  // Where the link flow keeps the nonce of its latest attempt.
  const std::shared_ptr<runtime::UserDefaults>& userDefaults() const { return userDefaults_; }

  // True when the credentials of at least one user are held.
  bool isLinked() const { return !credentialStores_.empty(); }
  // The linked users, in the order they were linked.
  std::vector<std::string> userIds() const;

  // Puts a token into the user's store, making the store when the user has none (a real user
  // replaces the "unknown" placeholder). Does not save.
  void setAccessTokenAccessTokenSecretForUserId(std::string_view token, std::string_view secret,
                                                std::string_view userId);
  // The same, then saveCredentials().
  void updateAccessTokenAccessTokenSecretForUserId(std::string_view token, std::string_view secret,
                                                   std::string_view userId);
  // Forgets every user and deletes the keychain item; the anonymous store stays.
  void unlinkAll();
  // Forgets one user and saves the rest (possibly none).
  void unlinkUserId(std::string_view userId);
  // The anonymous store for no user id (made on first use, the same one every time), else the
  // user's store, or nullptr for a user that is not linked.
  StorePtr credentialStoreForUserId(std::optional<std::string_view> userId);
  // Writes every user's token to the keychain item in the current form. False when the keychain
  // refused (logged); the tokens in memory stay as they are either way.
  bool saveCredentials();

  // The link hand-back.
  // "cloud-<application key>".
  std::string appScheme() const;
  // False when the URL is not this application's login hand-back, or when a "connect" answer does
  // not verify against the nonce of the latest link attempt (the nonce is used up either way) or
  // carries no credentials. True for a verified answer, whose credentials are stored, for a
  // cancelled link, and for any other hand-back path.
  bool handleOpenURL(std::string_view url);
  // A query text as a dictionary: split at "&", each piece at its first "=", the value's percent
  // escapes decoded as UTF-8 (a "+" stays a "+"), the name unchanged. Pieces without "=", and
  // values whose escapes do not decode, are left out; a later piece replaces an earlier one.
  static foundation::Dictionary parseURLParams(std::string_view query);

 private:
  StorePtr* findStore(std::string_view userId);
  void loadStoredCredentials();

  foundation::Dictionary baseCredentials_;
  std::vector<std::pair<std::string, StorePtr>> credentialStores_;
  StorePtr anonymousStore_;
  std::string root_;
  CloudSessionDelegate* delegate_ = nullptr;
  std::shared_ptr<runtime::UserDefaults> userDefaults_;
  foundation::Clock& clock_;
};

}  // namespace cloud
