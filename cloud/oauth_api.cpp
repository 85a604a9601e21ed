#include "cloud/oauth_api.h"

#include <cmath>
#include <fstream>
#include <iterator>

#include "cloud/cloud_web_view.h"
#include "cloud/oauth_url.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/application.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Error;
using foundation::Status;

Error apiError(OAuthAPIErrorCode code, std::string description) {
  std::string_view domain = code == kOAuthAPIErrorNilMethod        ? kOAuthNilMethodRequestException
                            : code == kOAuthAPIErrorNotImplemented ? kOAuthNotImplemented
                                                                   : kOAuthAPIErrorDomain;
  return Error::make(std::string(domain), code, std::move(description));
}

std::string_view signatureMethodName(int scheme) {
  switch (scheme) {
    case kOAuthPlaintext:
      return "PLAINTEXT";
    case kOAuthRsaSha1:
      return "RSA-SHA1";
    default:
      return "HMAC-SHA1";
  }
}

// "scheme://authority" of an absolute URL, with the port as written; empty for anything else.
std::string origin(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  size_t end = url.find_first_of("/?#", scheme + 3);
  return std::string(url.substr(0, end));
}

// A method name against a base URL, as a relative reference resolves: an absolute name stands, a
// name starting with "/" replaces the path, any other replaces the base's last path segment.
std::string resolveMethod(std::string_view method, std::string_view base) {
  if (!urlScheme(method).empty() && method.find("://") != std::string_view::npos) return std::string(method);
  const std::string root = origin(base);
  if (method.starts_with('/')) return root + std::string(method);
  std::string_view path = base.substr(root.size());
  path = path.substr(0, path.find_first_of("?#"));
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string_view::npos ? "/" : std::string(path.substr(0, slash + 1));
  return root + directory + std::string(method);
}

bool hasPathOrQuery(std::string_view url) {
  const std::string root = origin(url);
  std::string_view rest = url.substr(std::min(root.size(), url.size()));
  return !rest.empty() && rest != "/";
}

std::optional<Dictionary> readAutoConfig() {
  auto bundle = runtime::Bundle::main();
  if (!bundle) return std::nullopt;
  auto path = bundle->pathForResource(kOAuthAutoConfigResource, "plist");
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto value = plist::readPropertyList(bytes);
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

runtime::NotificationCenter& center() { return runtime::NotificationCenter::defaultCenter(); }

}  // namespace

// --- The keychain items

namespace {
// What the platform's keychain cannot do is "not available" to the store, never success.
std::int32_t mapped(security::KeychainStatus status) {
  if (status == security::Keychain::kUnimplemented || status == security::Keychain::kParam ||
      status == security::Keychain::kIO || status == security::Keychain::kDecode)
    return OAuthKeychain::kNotAvailable;
  return status;
}
}  // namespace

std::int32_t OAuthInternetPasswordKeychain::find(const Item& item, std::string* value) {
  return findItem(item, value, nullptr);
}

std::int32_t OAuthInternetPasswordKeychain::findItem(const Item& item, std::string* value,
                                                     Dictionary* attributes) {
  if (!keychain_) return kNotAvailable;
  Dictionary query = OAuthKeychain::attributesOf(item);
  query.set(std::string(security::Keychain::kReturnDataKey), true);
  query.set(std::string(security::Keychain::kReturnAttributesKey), true);
  query.set(std::string(security::Keychain::kMatchLimitKey), std::string(security::Keychain::kMatchLimitOne));
  foundation::Value result;
  security::KeychainStatus status = keychain_->copyMatching(query, &result);
  const Dictionary* found = result.dictionary();
  if (status == security::Keychain::kSuccess && found) {
    const foundation::Bytes* data = (*found)[security::Keychain::kValueDataKey].data();
    if (value) *value = data ? std::string(data->begin(), data->end()) : std::string();
    if (attributes) *attributes = *found;
  }
  return mapped(status);
}

std::int32_t OAuthInternetPasswordKeychain::add(const Item& item, std::string_view value) {
  if (!keychain_) return kNotAvailable;
  Dictionary attributes = OAuthKeychain::attributesOf(item);
  attributes.set(std::string(security::Keychain::kValueDataKey),
                 foundation::Bytes(value.begin(), value.end()));
  return mapped(keychain_->add(attributes));
}

std::int32_t OAuthInternetPasswordKeychain::update(const Item& item, std::string_view value) {
  if (!keychain_) return kNotAvailable;
  return mapped(
      keychain_->update(OAuthKeychain::attributesOf(item), Dictionary{{std::string(security::Keychain::kValueDataKey),
                                                     foundation::Bytes(value.begin(), value.end())}}));
}

std::int32_t OAuthInternetPasswordKeychain::remove(const Item& item) {
  if (!keychain_) return kNotAvailable;
  return mapped(keychain_->remove(OAuthKeychain::attributesOf(item)));
}

// --- Signed connections

OAuthConnection::~OAuthConnection() { cancel(); }

void OAuthConnection::cancel() {
  connection_.reset();
  delegate_ = {};
}

foundation::Result<std::unique_ptr<OAuthConnection>> OAuthConnection::connectionWithRequest(
    OAuthURLRequest& request, Delegate delegate, std::shared_ptr<OAuthCredentialConcreteStore> credentials,
    Options options) {
  auto connection = std::make_unique<OAuthConnection>();
  if (Status started =
          connection->initWithRequest(request, std::move(delegate), std::move(credentials), std::move(options));
      !started)
    return started.error();
  return connection;
}

namespace {
// The store's parameters added to the request, signed with its key and method.
foundation::Result<net::HttpRequest> signWithStore(OAuthURLRequest& request,
                                                   const OAuthCredentialConcreteStore& credentials,
                                                   std::vector<foundation::Bytes> anchors) {
  request.addParameters(credentials.oauthParameters());
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod(
      credentials.signingKey(), credentials.signatureMethod().value_or("HMAC-SHA1"));
  if (!signedRequest) return signedRequest.error();
  net::HttpRequest http;
  http.method = signedRequest->method;
  http.url = signedRequest->url;
  http.headers = signedRequest->headers;
  http.body = signedRequest->body;
  http.anchorCertificates = std::move(anchors);
  return http;
}
}  // namespace

Status OAuthConnection::initWithRequest(OAuthURLRequest& request, Delegate delegate,
                                        std::shared_ptr<OAuthCredentialConcreteStore> credentials,
                                        Options options) {
  cancel();
  if (!credentials)
    return apiError(kOAuthAPIErrorNoConsumerKey, "Unable to load without valid credentials");
  auto http = signWithStore(request, *credentials, std::move(options.anchorCertificates));
  if (!http) return http.error();
  credentials_ = std::move(credentials);
  delegate_ = std::move(delegate);
  loop_ = options.loop ? options.loop : &runtime::RunLoop::main();
  send(std::move(http.value()), 0);
  return {};
}

foundation::Result<std::string> OAuthConnection::sendSynchronousRequest(
    OAuthURLRequest& request, std::shared_ptr<OAuthCredentialConcreteStore> credentials,
    OAuthURLResponse* response, Options options) {
  runtime::RunLoop loop;
  options.loop = &loop;
  std::optional<foundation::Result<net::HttpResponse>> outcome;
  OAuthConnection connection;
  if (Status started = connection.initWithRequest(
          request, [&outcome](foundation::Result<net::HttpResponse> result) { outcome = std::move(result); },
          std::move(credentials), std::move(options));
      !started)
    return started.error();
  (void)loop.runUntil([&outcome] { return outcome.has_value(); }, 120);
  connection.cancel();
  if (!outcome) return Error::make(std::string(net::kURLErrorDomain), net::kURLErrorTimedOut, "load did not end");
  if (!*outcome) return outcome->error();
  if (response) {
    *response = OAuthURLResponse{};
    response->status = (*outcome)->status;
    response->headers = (*outcome)->headers;
    response->body = (*outcome)->body;
  }
  return std::move((*outcome)->body);
}

void OAuthConnection::send(net::HttpRequest request, int redirects) {
  net::HttpRequest sent = request;
  net::HttpCallbacks callbacks;
  callbacks.completion = [this, sent = std::move(sent), redirects](foundation::Result<net::HttpResponse> result) {
    finished(std::move(result), sent, redirects);
  };
  connection_ = net::HttpConnection::start(std::move(request), std::move(callbacks), *loop_);
}

void OAuthConnection::finished(foundation::Result<net::HttpResponse> result, const net::HttpRequest& sent,
                               int redirects) {
  auto ending = std::move(connection_);
  if (result) {
    const net::HttpResponse& response = result.value();
    auto location = response.header("Location");
    if (response.status >= 300 && response.status < 400 && location) {
      // The signed request goes on unchanged, but only where its signature and token may go.
      auto next = resolveLocation(sent.url, *location);
      if (next && urlScheme(*next) == "https" && origin(*next) == origin(sent.url) &&
          redirects < kCloudWebViewMaxRedirects) {
        net::HttpRequest again = sent;
        again.url = *next;
        return send(std::move(again), redirects + 1);
      }
      result = apiError(kOAuthAPIErrorRedirectRefused,
                        "redirect refused: " + (next ? *next : std::string(*location)));
    }
  }
  // The delegate may end this connection.
  if (auto delegate = std::move(delegate_)) delegate(std::move(result));
}

// --- Loading

OAuthAPIRequestLoader::OAuthAPIRequestLoader(std::shared_ptr<OAuthCredentialConcreteStore> credentials,
                                             OAuthURLRequest request)
    : credentials_(std::move(credentials)), request_(std::move(request)) {}

OAuthAPIRequestLoader::~OAuthAPIRequestLoader() = default;

void OAuthAPIRequestLoader::cancel() {
  connection_.reset();
  completion_ = {};
  failure_ = {};
}

Status OAuthAPIRequestLoader::loadSynchronously(bool synchronously) {
  if (!credentials_) return apiError(kOAuthAPIErrorNoConsumerKey, "Unable to load without valid credentials");
  if (!credentials_->consumerKey())
    return apiError(kOAuthAPIErrorNoConsumerKey, "Unable to load, credentials contain no consumer key");
  if (synchronously) {
    OAuthURLResponse response;
    auto data = OAuthConnection::sendSynchronousRequest(request_, credentials_, &response, {anchors_});
    if (!data) {
      error_ = data.error();
      return *error_;
    }
    response_ = std::move(response);
    responseString_.reset();
    examineResponse();
    return {};
  }
  std::weak_ptr<OAuthAPIRequestLoader> weak = weak_from_this();
  auto connection = OAuthConnection::connectionWithRequest(
      request_,
      [this, weak](foundation::Result<net::HttpResponse> result) {
        // The callbacks may let go of the last other hold on the loader.
        std::shared_ptr<OAuthAPIRequestLoader> keep = weak.lock();
        finished(std::move(result));
      },
      credentials_, {anchors_, &runtime::RunLoop::main()});
  if (!connection) return connection.error();
  connection_ = std::move(connection.value());
  return {};
}

void OAuthAPIRequestLoader::keepResponse(net::HttpResponse&& response) {
  response_.status = response.status;
  response_.headers = std::move(response.headers);
  response_.body = std::move(response.body);
  responseString_.reset();
}

void OAuthAPIRequestLoader::finished(foundation::Result<net::HttpResponse> result) {
  if (!result) {
    error_ = result.error();
    if (failure_) failure_(*this, *error_);
    return;
  }
  keepResponse(std::move(result.value()));
  examineResponse();
  if (completion_) completion_(*this);
}

net::StringEncoding OAuthURLResponse::encoding() const {
  auto charset = net::textEncodingNameOf(headers);
  auto named = charset ? net::StringEncoding::forIANACharSetName(*charset) : std::nullopt;
  return named.value_or(net::StringEncoding::utf8());
}

const std::optional<std::string>& OAuthAPIRequestLoader::responseString() const {
  if (!responseString_) responseString_ = response_.encoding().decode(response_.body);
  return *responseString_;
}

void OAuthAPIRequestLoader::examineResponse() {
  const std::string text = responseString().value_or(std::string());
  if (text.size() < 6 || !text.starts_with("oauth")) return;
  response_.oauthParameters = OAuthURLRequestParameter::parameterDictionaryFromString(text);
  const Dictionary& p = response_.oauthParameters;
  const bool request = credentials_->requestToken().has_value();
  const bool access = credentials_->accessToken().has_value();

  if (response_.status == 401 || (text.size() >= 14 && text.starts_with("oauth_problem"))) {
    if (const std::string* problem = p["oauth_problem"].string()) {
      if (*problem == "token_rejected") {
        if (request && !access) {
          (void)credentials_->setRequestToken(std::nullopt);
          (void)credentials_->setRequestTokenSecret(std::nullopt);
          center().post(std::string(kOAuthNotificationRequestTokenRejected), nullptr, p);
        } else if (access && !request) {
          center().post(std::string(kOAuthNotificationAccessTokenRejected), nullptr, p);
        }
      }
      center().post(std::string(kOAuthNotificationErrorHasOccurred), nullptr, p);
    }
    return;
  }
  const std::string* token = p["oauth_token"].string();
  if (text.size() < 12 || !text.starts_with("oauth_token") || token == nullptr) return;
  std::optional<std::string> secret;
  if (const std::string* s = p["oauth_token_secret"].string()) secret = *s;
  if (!request && !access) {
    (void)credentials_->setRequestToken(*token);
    (void)credentials_->setRequestTokenSecret(secret);
    center().post(std::string(kOAuthNotificationRequestTokenReceived), nullptr, p);
  } else if (request && !access) {
    (void)credentials_->setRequestToken(std::nullopt);
    (void)credentials_->setRequestTokenSecret(std::nullopt);
    (void)credentials_->setAccessToken(*token);
    (void)credentials_->setAccessTokenSecret(secret);
    center().post(std::string(kOAuthNotificationAccessTokenReceived), nullptr, p);
  } else if (access && !request) {
    (void)credentials_->setAccessToken(*token);
    (void)credentials_->setAccessTokenSecret(secret);
    center().post(std::string(kOAuthNotificationAccessTokenRefreshed), nullptr, p);
  }
}

// --- Authentication methods

OAuthAuthenticationMethod::~OAuthAuthenticationMethod() {
  if (refreshTimer_) refreshTimer_->invalidate();
}

std::optional<Dictionary> OAuthAuthenticationMethod::configurationForURL(std::string_view url,
                                                                         const Dictionary& autoConfig) {
  for (const auto& [domain, value] : autoConfig) {
    if (!domainMatches(url, domain)) continue;
    const Dictionary* configuration = value.dictionary();
    if (configuration == nullptr) return Dictionary{};
    const foundation::Array* preferred = (*configuration)[kOAuthAuthenticationPreferredMethods].array();
    if (preferred == nullptr || preferred->empty()) return *configuration;
    const std::string name = (*preferred)[0].stringOr(std::string(kOAuthAuthenticationMethodOAuth));
    const Dictionary* method = (*configuration)[name].dictionary();
    return method ? *method : Dictionary{};
  }
  return std::nullopt;
}

foundation::Result<std::unique_ptr<OAuthAuthenticationMethod>> OAuthAuthenticationMethod::make(
    OAuthAPI& api, std::string_view url, const std::optional<Dictionary>& autoConfig) {
  std::optional<Dictionary> configuration;
  if (autoConfig) configuration = configurationForURL(url, *autoConfig);
  auto method = OAuthAuthenticationMethodOAuth::make(api, configuration);
  if (!method) return method.error();
  return std::unique_ptr<OAuthAuthenticationMethod>(std::move(method.value()));
}

Status OAuthAuthenticationMethod::authenticate() {
  return apiError(kOAuthAPIErrorNotImplemented,
                  "All subclasses of OAuthAuthenticationMethod are required to implement -authenticate");
}

void OAuthAuthenticationMethod::setTokenRefreshInterval(double seconds) {
  if (refreshTimer_ || !(seconds > 0)) return;
  refreshTimer_ = runtime::RunLoop::main().scheduleTimer(seconds, true,
                                                         [this](runtime::Timer&) { refreshAccessToken(); });
}

void OAuthAuthenticationMethod::refreshAccessToken() {
  if (!accessTokenURL_) return;
  std::vector<OAuthURLRequestParameter> parameters;
  if (auto handle = api_.credentials().sessionHandle())
    parameters.push_back(OAuthURLRequestParameter{"oauth_session_handle", *handle});
  (void)api_.performMethod(std::nullopt, *accessTokenURL_, std::move(parameters));
}

foundation::Result<std::unique_ptr<OAuthAuthenticationMethodOAuth>> OAuthAuthenticationMethodOAuth::make(
    OAuthAPI& api, const std::optional<Dictionary>& configuration) {
  std::unique_ptr<OAuthAuthenticationMethodOAuth> method(new OAuthAuthenticationMethodOAuth(api));
  if (configuration) {
    if (configuration->size() < 3)
      return apiError(kOAuthAPIErrorConfiguration, "Incorrect number of oauth authorization methods");
    auto url = [&](std::string_view key) -> std::optional<std::string> {
      if (const std::string* text = (*configuration)[key].string()) return *text;
      return std::nullopt;
    };
    method->requestTokenURL_ = url(kOAuthRequestTokenURL);
    method->authorizeTokenURL_ = url(kOAuthUserAuthorizationURL);
    method->accessTokenURL_ = url(kOAuthAccessTokenURL);
  }
  OAuthAuthenticationMethodOAuth* self = method.get();
  // The notifications come from any client's loads. A loader stores what it received in its own
  // store before it posts, so a client takes a notification as its own only when its store holds
  // the token it names: two clients never take each other's tokens.
  auto ours = [](const std::optional<std::string>& held, const runtime::Notification& n) {
    const std::string* token = n.userInfo["oauth_token"].string();
    return token != nullptr && held == *token;
  };
  method->observers_.push_back(center().addObserver(
      std::string(kOAuthNotificationRequestTokenReceived), nullptr, [self, ours](const runtime::Notification& n) {
        if (!ours(self->api_.credentials().requestToken(), n)) return;
        if (n.userInfo.find("oauth_callback_confirmed")) self->oauth10aModeActive_ = true;
        if (const std::string* token = n.userInfo["oauth_token"].string())
          (void)self->api_.setCredentialWithName(*token, kOAuthCredentialRequestToken);
        if (const std::string* secret = n.userInfo["oauth_token_secret"].string())
          (void)self->api_.setCredentialWithName(*secret, kOAuthCredentialRequestTokenSecret);
      }));
  method->observers_.push_back(center().addObserver(
      std::string(kOAuthNotificationRequestTokenRejected), nullptr, [self](const runtime::Notification&) {
        // A refusal names no token; the refused client's loader has already let go of its own.
        if (self->api_.credentials().requestToken()) return;
        (void)self->api_.removeCredentialNamed(kOAuthCredentialRequestToken);
        (void)self->api_.removeCredentialNamed(kOAuthCredentialRequestTokenSecret);
      }));
  method->observers_.push_back(center().addObserver(
      std::string(kOAuthNotificationAccessTokenReceived), nullptr, [self, ours](const runtime::Notification& n) {
        OAuthAPI& api = self->api_;
        if (!ours(api.credentials().accessToken(), n)) return;
        (void)api.removeCredentialNamed(kOAuthCredentialRequestToken);
        (void)api.removeCredentialNamed(kOAuthCredentialRequestTokenSecret);
        if (const std::string* token = n.userInfo["oauth_token"].string())
          (void)api.setCredentialWithName(*token, kOAuthCredentialAccessToken);
        if (const std::string* secret = n.userInfo["oauth_token_secret"].string())
          (void)api.setCredentialWithName(*secret, kOAuthCredentialAccessTokenSecret);
        if (const std::string* handle = n.userInfo["oauth_session_handle"].string())
          (void)api.setCredentialWithName(*handle, kOAuthCredentialSessionHandle);
        api.setAuthenticated(true);
        const std::string* expires = n.userInfo["oauth_expires_in"].string();
        if (expires == nullptr) {
          api.userDefaults().removeObjectForKey(kOAuthAutomaticTokenRefreshLastExpiryDate);
          return;
        }
        const double seconds = std::floor(std::strtod(expires->c_str(), nullptr));
        (void)api.userDefaults().setObject(kOAuthAutomaticTokenRefreshLastExpiryDate,
                                           api.clock().now() + (std::isfinite(seconds) ? seconds : 0));
        if (seconds >= 1) self->setTokenRefreshInterval(seconds);
      }));
  return method;
}

OAuthAuthenticationMethodOAuth::~OAuthAuthenticationMethodOAuth() = default;

Status OAuthAuthenticationMethodOAuth::authenticate() {
  OAuthCredentialConcreteStore& store = api_.credentials();
  const bool access = store.accessToken().has_value();
  const bool request = store.requestToken().has_value();
  if (!access && !request) {
    if (!requestTokenURL_) return {};
    std::string callback = "oob";
    if (delegate_) {
      if (auto url = delegate_->callbackURLForCompletedUserAuthorization()) callback = *url;
    }
    auto loader = api_.performMethod(
        std::nullopt, *requestTokenURL_, {OAuthURLRequestParameter{"oauth_callback", callback}},
        [this](OAuthAPIRequestLoader& l) { requestTokenLoaded(l); },
        [this](OAuthAPIRequestLoader&, const Error& e) { loaderFailed(e); });
    if (!loader) return loader.error();
    return {};
  }
  if (access) {
    const foundation::Value expiry =
        api_.userDefaults().objectForKey(kOAuthAutomaticTokenRefreshLastExpiryDate);
    if (const foundation::Date* date = expiry.date(); date && *date < api_.clock().now())
      refreshAccessToken();
    return {};
  }
  requestAccessToken();
  return {};
}

void OAuthAuthenticationMethodOAuth::requestTokenLoaded(OAuthAPIRequestLoader& loader) {
  const Dictionary& p = loader.response().oauthParameters;
  const std::string* token = p["oauth_token"].string();
  if (token == nullptr) return;
  std::optional<std::string> authorize = authorizeTokenURL_;
  if (const std::string* url = p["xoauth_request_auth_url"].string()) authorize = *url;
  if (!authorize) return;
  std::optional<std::string> callback;
  if (delegate_ && !oauth10aModeActive_) callback = delegate_->callbackURLForCompletedUserAuthorization();
  Dictionary add{{"oauth_token", *token}};
  if (callback) add.set("oauth_callback", *callback);
  auto url = urlByAddingParameterDictionary(*authorize, add);
  if (!url) return loaderFailed(url.error());
  if (delegate_ && !delegate_->automaticallyRequestAuthenticationFromURL(*url, callback)) return;
  (void)ui::Application::shared().openURL(*url);
}

void OAuthAuthenticationMethodOAuth::requestAccessToken() {
  std::vector<OAuthURLRequestParameter> parameters;
  if (delegate_) {
    if (auto verifier = delegate_->oauthVerifierForCompletedUserAuthorization())
      parameters.push_back(OAuthURLRequestParameter{"oauth_verifier", *verifier});
  }
  if (!accessTokenURL_) return;
  (void)api_.performMethod(std::nullopt, *accessTokenURL_, std::move(parameters), {},
                           [this](OAuthAPIRequestLoader&, const Error& e) { loaderFailed(e); });
}

void OAuthAuthenticationMethodOAuth::loaderFailed(const Error& error) {
  if (delegate_) delegate_->authenticationDidFailWithError(error);
}

// --- The API

foundation::Result<std::unique_ptr<OAuthAPI>> OAuthAPI::make(Dictionary credentials,
                                                             std::string authenticationURL,
                                                             std::string baseURL, bool autoStart,
                                                             Options options) {
  std::unique_ptr<OAuthAPI> api(new OAuthAPI());
  api->clock_ = options.clock ? options.clock : &foundation::Clock::system();
  api->userDefaults_ = options.userDefaults ? options.userDefaults : runtime::UserDefaults::standard();
  api->anchors_ = std::move(options.anchorCertificates);
  api->baseURL_ = baseURL;
  api->authenticationURL_ = authenticationURL;
  api->credentials_ = std::make_shared<OAuthCredentialConcreteStore>(
      std::move(credentials), std::move(baseURL), std::move(authenticationURL), *api->clock_);
  api->credentials_->setKeychain(options.keychain);
  auto method = OAuthAuthenticationMethod::make(*api, api->authenticationURL_,
                                                options.autoConfig ? options.autoConfig : readAutoConfig());
  if (!method) return method.error();
  api->authenticationMethod_ = std::move(method.value());
  api->setSignatureScheme(kOAuthHmacSha1);
  if (autoStart) {
    if (Status started = api->authenticate(); !started) return started.error();
  }
  return api;
}

OAuthAPI::~OAuthAPI() {
  // Loads still running stop before the method and store they report to go, also those a caller
  // still holds.
  for (const auto& loader : activeLoaders_) loader->cancel();
  activeLoaders_.clear();
  authenticationMethod_.reset();
}

void OAuthAPI::setSignatureScheme(int scheme) {
  signatureScheme_ = scheme;
  credentials_->setSignatureMethod(std::string(signatureMethodName(scheme)));
}

Status OAuthAPI::authenticate() {
  if (!credentials_->consumerKey())
    return apiError(kOAuthAPIErrorNoConsumerKey, "A Consumer Key is required for use of OAuth.");
  return authenticationMethod_->authenticate();
}

foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> OAuthAPI::makeLoader(
    std::optional<std::string_view> method, std::string_view url,
    std::vector<OAuthURLRequestParameter> parameters, std::string_view httpMethod) {
  std::string target;
  if (method) {
    target = resolveMethod(*method, url);
  } else if (hasPathOrQuery(url)) {
    target = std::string(url);
  } else {
    return apiError(kOAuthAPIErrorNilMethod,
                    "Nil was passed as the method to be performed on " + std::string(url));
  }
  OAuthURLRequest request(std::move(target), std::move(parameters));
  request.HTTPMethod = std::string(httpMethod);
  auto loader = std::make_shared<OAuthAPIRequestLoader>(credentials_, std::move(request));
  loader->setAnchorCertificates(anchors_);
  return loader;
}

foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> OAuthAPI::performMethod(
    std::optional<std::string_view> method, std::string_view url,
    std::vector<OAuthURLRequestParameter> parameters, OAuthAPIRequestLoader::Completion completion,
    OAuthAPIRequestLoader::Failure failure, std::string_view httpMethod) {
  auto made = makeLoader(method, url, std::move(parameters), httpMethod);
  if (!made) return made.error();
  return startLoader(made.value(), std::move(completion), std::move(failure));
}

foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> OAuthAPI::performURLRequest(
    const std::optional<HttpRequest>& request, OAuthAPIRequestLoader::Completion completion,
    OAuthAPIRequestLoader::Failure failure) {
  if (!request) return apiError(kOAuthAPIErrorNilMethod, "Nil was passed as the method to be performed on (null)");
  auto oauthRequest = OAuthURLRequest::withURLRequest(*request);
  if (!oauthRequest) return oauthRequest.error();
  auto loader = std::make_shared<OAuthAPIRequestLoader>(credentials_, std::move(oauthRequest.value()));
  loader->setAnchorCertificates(anchors_);
  return startLoader(std::move(loader), std::move(completion), std::move(failure));
}

foundation::Result<std::shared_ptr<OAuthAPIRequestLoader>> OAuthAPI::startLoader(
    std::shared_ptr<OAuthAPIRequestLoader> loader, OAuthAPIRequestLoader::Completion completion,
    OAuthAPIRequestLoader::Failure failure) {
  // The loader leaves the active list once it has reported.
  auto release = [this](OAuthAPIRequestLoader& l) {
    std::erase_if(activeLoaders_, [&](const auto& active) { return active.get() == &l; });
  };
  loader->setCompletion([completion, release](OAuthAPIRequestLoader& l) {
    auto keep = l.shared_from_this();
    if (completion) completion(l);
    release(l);
  });
  loader->setFailure([failure, release](OAuthAPIRequestLoader& l, const Error& e) {
    auto keep = l.shared_from_this();
    if (failure) failure(l, e);
    release(l);
  });
  if (Status started = loader->loadSynchronously(false); !started) return started.error();
  activeLoaders_.push_back(loader);
  return loader;
}

foundation::Result<std::string> OAuthAPI::dataForURL(std::string_view url,
                                                     std::optional<std::string_view> method,
                                                     std::vector<OAuthURLRequestParameter> parameters) {
  auto made = makeLoader(method, url, std::move(parameters), "GET");
  if (!made) return made.error();
  if (Status loaded = made.value()->loadSynchronously(true); !loaded) return loaded.error();
  return made.value()->response().body;
}

std::optional<std::string> OAuthAPI::credentialNamed(std::string_view name) const {
  return credentials_->credentialNamed(name);
}

Status OAuthAPI::setCredentialWithName(std::string value, std::string_view name) {
  return credentials_->setCredentialWithName(std::move(value), name);
}

Status OAuthAPI::removeCredentialNamed(std::string_view name) {
  return credentials_->removeCredentialNamed(name);
}

Status OAuthAPI::discardCredentials() {
  Status status = credentials_->discardOAuthCredentials();
  authenticationState_ = 0;
  return status;
}

}  // namespace cloud
