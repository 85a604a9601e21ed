#pragma once
// A general OAuth 1.0 / 1.0a client: an API object with its credential store and its way of
// authenticating, the three-legged token exchange and signed loads.
//
//   authenticate ─► GET request token ─► "OAuthNotificationRequestTokenReceived"
//                   ─► the system browser opens the authorisation URL (user authorises)
//   authenticate ─► GET access token ─► "OAuthNotificationAccessTokenReceived" ─► authenticated
//   (an expired access token is refreshed; a refresh interval repeats it on the main run loop)
//
// Every load goes through an OAuthConnection, which signs it with the store's parameters
// (HMAC-SHA1 unless the scheme is changed), and is examined afterwards: replies that start with
// "oauth_token" or "oauth_problem" update the store and post the notifications below, with no
// sender. An API's authentication hears them from any sender but takes only the tokens its own
// store was just given, so that two clients never take each other's tokens. Redirects of signed
// requests are followed only to https on the same host and port; any other redirect fails the
// load. Misuse (no consumer key, no method) is an error value.
//
// Main thread only: loads call back on the main run loop (synchronous loads run their own loop).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/oauth_credential_store.h"
#include "cloud/oauth_request.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/http.h"
#include "platform/net/text_encoding.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/keychain.h"

namespace cloud {

inline constexpr std::string_view kOAuthNotificationRequestTokenReceived =
    "OAuthNotificationRequestTokenReceived";
inline constexpr std::string_view kOAuthNotificationRequestTokenRejected =
    "OAuthNotificationRequestTokenRejected";
inline constexpr std::string_view kOAuthNotificationAccessTokenReceived =
    "OAuthNotificationAccessTokenReceived";
inline constexpr std::string_view kOAuthNotificationAccessTokenRejected =
    "OAuthNotificationAccessTokenRejected";
inline constexpr std::string_view kOAuthNotificationAccessTokenRefreshed =
    "OAuthNotificationAccessTokenRefreshed";
inline constexpr std::string_view kOAuthNotificationErrorHasOccurred = "OAuthNotificationErrorHasOccurred";
inline constexpr std::string_view kOAuthAutomaticTokenRefreshLastExpiryDate =
    "OAuthAutomaticTokenRefreshLastExpiryDate";
// The configuration resource and its keys.
inline constexpr std::string_view kOAuthAutoConfigResource = "oauthAutoConfig";
inline constexpr std::string_view kOAuthAuthenticationPreferredMethods =
    "OAuthAuthenticationPreferredMethods";
inline constexpr std::string_view kOAuthAuthenticationMethodOAuth = "OAuthAuthenticationMethodOAuth";
inline constexpr std::string_view kOAuthRequestTokenURL = "OAuthRequestTokenURL";
inline constexpr std::string_view kOAuthUserAuthorizationURL = "OAuthUserAuthorizationURL";
inline constexpr std::string_view kOAuthAccessTokenURL = "OAuthAccessTokenURL";
// Errors of this client's own making. Misuse that has a name of its own carries the name as its
// domain, as the signing errors do: a missing method "OAuthNilMethodRequestException", a method of
// authentication without its own steps "Not Implemented".
inline constexpr std::string_view kOAuthAPIErrorDomain = "OAuthAPIErrorDomain";
inline constexpr std::string_view kOAuthNilMethodRequestException = "OAuthNilMethodRequestException";
inline constexpr std::string_view kOAuthNotImplemented = "Not Implemented";
enum OAuthAPIErrorCode : std::int64_t {
  kOAuthAPIErrorNoConsumerKey = 1,
  kOAuthAPIErrorNilMethod = 2,
  kOAuthAPIErrorRedirectRefused = 3,
  kOAuthAPIErrorConfiguration = 4,
  kOAuthAPIErrorNotImplemented = 5,
};

enum OAuthSignatureScheme : int { kOAuthPlaintext = 0, kOAuthHmacSha1 = 1, kOAuthRsaSha1 = 2 };

// The store's keychain as internet-password items of the application's keychain: security domain
// "sdmn", server "srvr", account "acct" and the item type 'oaut' under "type". A keychain that
// cannot hold such items answers kNotAvailable, so that the store reports it instead of taking
// the tokens as kept.
class OAuthInternetPasswordKeychain : public OAuthKeychain {
 public:
  explicit OAuthInternetPasswordKeychain(std::shared_ptr<security::Keychain> keychain)
      : keychain_(std::move(keychain)) {}
  std::int32_t find(const Item& item, std::string* value) override;
  std::int32_t findItem(const Item& item, std::string* value, foundation::Dictionary* attributes) override;
  std::int32_t add(const Item& item, std::string_view value) override;
  std::int32_t update(const Item& item, std::string_view value) override;
  std::int32_t remove(const Item& item) override;

 private:
  std::shared_ptr<security::Keychain> keychain_;
};

struct OAuthURLResponse {
  long status = 0;
  net::Headers headers;
  std::string body;
  // The pairs of a body that starts with "oauth".
  foundation::Dictionary oauthParameters;

  // The character set of the body: the one "Content-Type" names, or UTF-8 when it names none or
  // one that is not known.
  net::StringEncoding encoding() const;
};

// A connection that signs its request before it starts: the store's "oauth_" parameters are added
// to the request, which is signed with the store's signing key and signature method (and keeps
// the signed form in its urlRequest); the connection keeps the store. Redirects are followed, at
// most 10, only to https on the same host and port: a signed request carries the token (with
// PLAINTEXT the secrets too) and goes nowhere else; any other redirect ends the load with
// kOAuthAPIErrorRedirectRefused. Main thread, or the thread of the given run loop.
struct OAuthConnectionOptions {
  // The only roots trusted (DER); the system's when empty.
  std::vector<foundation::Bytes> anchorCertificates;
  // Where the delegate is told; the main run loop when null.
  runtime::RunLoop* loop = nullptr;
};

class OAuthConnection {
 public:
  // Told once, at the end of the load (the body in memory), on the connection's run loop; never
  // after cancel() or the connection's end.
  using Delegate = std::function<void(foundation::Result<net::HttpResponse>)>;
  using Options = OAuthConnectionOptions;

  // A new connection, started: initWithRequest on a connection of its own.
  static foundation::Result<std::unique_ptr<OAuthConnection>> connectionWithRequest(
      OAuthURLRequest& request, Delegate delegate, std::shared_ptr<OAuthCredentialConcreteStore> credentials,
      Options options = {});
  // Signs the request and starts the load. An error for a request that cannot be signed (nothing
  // is started then, the delegate is not told).
  foundation::Status initWithRequest(OAuthURLRequest& request, Delegate delegate,
                                     std::shared_ptr<OAuthCredentialConcreteStore> credentials,
                                     Options options = {});
  // Signs the request and sends it, returning when the load has ended (it runs a run loop of its
  // own meanwhile): the body, with the reply in *response; the connection's error otherwise.
  static foundation::Result<std::string> sendSynchronousRequest(
      OAuthURLRequest& request, std::shared_ptr<OAuthCredentialConcreteStore> credentials,
      OAuthURLResponse* response, Options options = {});

  OAuthConnection() = default;
  // Cancels.
  ~OAuthConnection();
  OAuthConnection(const OAuthConnection&) = delete;
  OAuthConnection& operator=(const OAuthConnection&) = delete;

  const std::shared_ptr<OAuthCredentialConcreteStore>& credentials() const { return credentials_; }
  // Stops the load; the delegate is not told.
  void cancel();

 private:
  void send(net::HttpRequest request, int redirects);
  void finished(foundation::Result<net::HttpResponse> result, const net::HttpRequest& sent, int redirects);

  std::shared_ptr<OAuthCredentialConcreteStore> credentials_;
  Delegate delegate_;
  runtime::RunLoop* loop_ = nullptr;
  std::unique_ptr<net::HttpConnection> connection_;
};

class OAuthAPIRequestLoader : public std::enable_shared_from_this<OAuthAPIRequestLoader> {
 public:
  using Completion = std::function<void(OAuthAPIRequestLoader& loader)>;
  using Failure = std::function<void(OAuthAPIRequestLoader& loader, const foundation::Error& error)>;

  OAuthAPIRequestLoader(std::shared_ptr<OAuthCredentialConcreteStore> credentials, OAuthURLRequest request);
  ~OAuthAPIRequestLoader();

  void setCompletion(Completion completion) { completion_ = std::move(completion); }
  void setFailure(Failure failure) { failure_ = std::move(failure); }
  // The only roots trusted (DER); the system's when empty.
  void setAnchorCertificates(std::vector<foundation::Bytes> anchors) { anchors_ = std::move(anchors); }

  // Sends the request through an OAuthConnection. Asynchronous: the completion or the failure
  // follows on the main run loop, while the loader is kept alive by whoever holds it. Synchronous:
  // returns after the load, with no callback. An error for a store without a consumer key or a
  // request that cannot be signed.
  foundation::Status loadSynchronously(bool synchronously);

  // Stops a running load; neither callback runs afterwards.
  void cancel();

  const OAuthURLResponse& response() const { return response_; }
  // The body as text, decoded with the response's encoding (made on first use); nothing when the
  // body is not valid in it.
  const std::optional<std::string>& responseString() const;
  const std::optional<foundation::Error>& error() const { return error_; }
  const OAuthURLRequest& request() const { return request_; }

 private:
  void finished(foundation::Result<net::HttpResponse> result);
  void keepResponse(net::HttpResponse&& response);
  void examineResponse();

  std::shared_ptr<OAuthCredentialConcreteStore> credentials_;
  OAuthURLRequest request_;
  Completion completion_;
  Failure failure_;
  OAuthURLResponse response_;
  mutable std::optional<std::optional<std::string>> responseString_;
  std::optional<foundation::Error> error_;
  std::vector<foundation::Bytes> anchors_;
  std::unique_ptr<OAuthConnection> connection_;
};

class OAuthAPI;

// Told by the OAuth authentication of the steps where the application has a say; every operation
// is optional (the defaults answer as an absent delegate would).
class OAuthAuthenticationDelegate {
 public:
  virtual ~OAuthAuthenticationDelegate() = default;
  virtual std::optional<std::string> callbackURLForCompletedUserAuthorization() { return std::nullopt; }
  // False keeps the system browser from opening the URL (the application shows it itself).
  virtual bool automaticallyRequestAuthenticationFromURL(const std::string& /*url*/,
                                                         const std::optional<std::string>& /*callback*/) {
    return true;
  }
  virtual std::optional<std::string> oauthVerifierForCompletedUserAuthorization() { return std::nullopt; }
  virtual void authenticationDidFailWithError(const foundation::Error& /*error*/) {}
};

class OAuthAuthenticationMethod {
 public:
  explicit OAuthAuthenticationMethod(OAuthAPI& api) : api_(api) {}
  virtual ~OAuthAuthenticationMethod();
  OAuthAuthenticationMethod(const OAuthAuthenticationMethod&) = delete;
  OAuthAuthenticationMethod& operator=(const OAuthAuthenticationMethod&) = delete;

  // The method the configuration names for the URL's host (the OAuth method by default).
  static foundation::Result<std::unique_ptr<OAuthAuthenticationMethod>> make(
      OAuthAPI& api, std::string_view url, const std::optional<foundation::Dictionary>& autoConfig);
  // The configuration for the URL: of the first domain (in the dictionary's order) the URL's host
  // matches, the configuration of its first preferred method, or the domain's whole configuration
  // when it prefers none; nothing when no domain matches.
  static std::optional<foundation::Dictionary> configurationForURL(std::string_view url,
                                                                   const foundation::Dictionary& autoConfig);

  virtual foundation::Status authenticate();
  void setTokenRefreshInterval(double seconds);
  void refreshAccessToken();

  const std::optional<std::string>& oauthGetAccessTokenURL() const { return accessTokenURL_; }

 protected:
  OAuthAPI& api_;
  std::optional<std::string> accessTokenURL_;
  std::optional<runtime::Timer> refreshTimer_;
};

class OAuthAuthenticationMethodOAuth : public OAuthAuthenticationMethod {
 public:
  // An error for a configuration with fewer than three entries.
  static foundation::Result<std::unique_ptr<OAuthAuthenticationMethodOAuth>> make(
      OAuthAPI& api, const std::optional<foundation::Dictionary>& configuration);
  ~OAuthAuthenticationMethodOAuth() override;

  foundation::Status authenticate() override;

  // Not owned.
  void setDelegate(OAuthAuthenticationDelegate* delegate) { delegate_ = delegate; }
  const std::optional<std::string>& oauthRequestTokenURL() const { return requestTokenURL_; }
  const std::optional<std::string>& oauthAuthorizeTokenURL() const { return authorizeTokenURL_; }
  bool oauth10aModeActive() const { return oauth10aModeActive_; }

 private:
  explicit OAuthAuthenticationMethodOAuth(OAuthAPI& api) : OAuthAuthenticationMethod(api) {}
  void requestAccessToken();
  void requestTokenLoaded(OAuthAPIRequestLoader& loader);
  void loaderFailed(const foundation::Error& error);

  OAuthAuthenticationDelegate* delegate_ = nullptr;
  std::optional<std::string> requestTokenURL_;
  std::optional<std::string> authorizeTokenURL_;
  bool oauth10aModeActive_ = false;
  std::vector<runtime::ObserverToken> observers_;
};

class OAuthAPI {
 public:
  struct Options {
    // The user defaults for the expiry date; the standard ones when null.
    std::shared_ptr<runtime::UserDefaults> userDefaults;
    // Where the store keeps its items; none kept when null. Not owned.
    OAuthKeychain* keychain = nullptr;
    // The "oauthAutoConfig" dictionary; read from the main bundle when not given.
    std::optional<foundation::Dictionary> autoConfig;
    foundation::Clock* clock = nullptr;
    // The only roots its loads trust (DER); the system's when empty.
    std::vector<foundation::Bytes> anchorCertificates;
  };

  // Builds the API (signature scheme HMAC-SHA1) and, with `autoStart`, authenticates. An error for
  // a configuration the authentication cannot use, or (with autoStart) no consumer key.
  static foundation::Result<std::unique_ptr<OAuthAPI>> make(foundation::Dictionary credentials,
                                                            std::string authenticationURL,
                                                            std::string baseURL, bool autoStart,
                                                            Options options);
  ~OAuthAPI();
  OAuthAPI(const OAuthAPI&) = delete;
  OAuthAPI& operator=(const OAuthAPI&) = delete;

  void setSignatureScheme(int scheme);
  int signatureScheme() const { return signatureScheme_; }
  foundation::Status authenticate();
  bool isAuthenticated() const { return authenticationState_ == 2; }
  void setAuthenticated(bool authenticated) { authenticationState_ = authenticated ? 2 : 0; }

  // Loads the method name resolved against `url` (or `url` itself when there is no name and it
  // has a path or query) with the parameters, asynchronously; the loader is kept until it ends.
  foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> performMethod(
      std::optional<std::string_view> method, std::string_view url,
      std::vector<OAuthURLRequestParameter> parameters, OAuthAPIRequestLoader::Completion completion = {},
      OAuthAPIRequestLoader::Failure failure = {}, std::string_view httpMethod = "GET");
  // Loads a prepared request (its URL, its query and form parameters and its method, signed
  // afresh) asynchronously, as performMethod does. An error for no request, or for one whose query
  // or form body does not decode.
  foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> performURLRequest(
      const std::optional<HttpRequest>& request, OAuthAPIRequestLoader::Completion completion = {},
      OAuthAPIRequestLoader::Failure failure = {});
  // The same as performMethod, synchronously; the received body as it came.
  foundation::Result<std::string> dataForURL(std::string_view url, std::optional<std::string_view> method,
                                             std::vector<OAuthURLRequestParameter> parameters);
  foundation::Result<std::string> dataForMethod(std::string_view method,
                                                std::vector<OAuthURLRequestParameter> parameters = {}) {
    return dataForURL(baseURL_, method, std::move(parameters));
  }

  std::optional<std::string> credentialNamed(std::string_view name) const;
  foundation::Status setCredentialWithName(std::string value, std::string_view name);
  foundation::Status removeCredentialNamed(std::string_view name);
  foundation::Status discardCredentials();

  OAuthCredentialConcreteStore& credentials() { return *credentials_; }
  OAuthAuthenticationMethod& authenticationMethod() { return *authenticationMethod_; }
  const std::string& baseURL() const { return baseURL_; }
  const std::string& authenticationURL() const { return authenticationURL_; }
  runtime::UserDefaults& userDefaults() { return *userDefaults_; }
  foundation::Clock& clock() { return *clock_; }
  size_t activeLoaderCount() const { return activeLoaders_.size(); }

 private:
  OAuthAPI() = default;
  foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> makeLoader(
      std::optional<std::string_view> method, std::string_view url,
      std::vector<OAuthURLRequestParameter> parameters, std::string_view httpMethod);
  // Starts the loader asynchronously and keeps it until it has reported.
  foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> startLoader(
      std::shared_ptr<OAuthAPIRequestLoader> loader, OAuthAPIRequestLoader::Completion completion,
      OAuthAPIRequestLoader::Failure failure);

  std::shared_ptr<OAuthCredentialConcreteStore> credentials_;
  std::string baseURL_;
  std::string authenticationURL_;
  std::unique_ptr<OAuthAuthenticationMethod> authenticationMethod_;
  int signatureScheme_ = kOAuthHmacSha1;
  std::vector<std::shared_ptr<OAuthAPIRequestLoader>> activeLoaders_;
  int authenticationState_ = 0;
  std::shared_ptr<runtime::UserDefaults> userDefaults_;
  foundation::Clock* clock_ = nullptr;
  std::vector<foundation::Bytes> anchors_;
};

}  // namespace cloud
