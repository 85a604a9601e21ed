// The general OAuth client against the stand-in service: the three-legged exchange with HMAC-SHA1,
// two clients side by side, redirects of signed requests, and where its tokens are kept.
#include "cloud/oauth_api.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cloud/oauth_errors.h"
#include "memory_oauth_keychain.h"
#include "platform/files/app_home.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/application.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

using foundation::Dictionary;

using MemoryKeychain = MemoryOAuthKeychain;

class OAuthAPITest : public ::testing::Test {
 protected:
  OAuthAPITest() : server_(dir_ / "server") {
    ui::Application::shared().reset();
    defaults_ = std::make_shared<runtime::UserDefaults>(dir_ / "defaults.plist");
  }
  ~OAuthAPITest() override { ui::Application::shared().reset(); }

  std::string url(std::string_view path) const { return "https://" + server_.host() + std::string(path); }

  std::unique_ptr<OAuthAPI> make(bool autoStart, OAuthKeychain* keychain) {
    Dictionary methodConfig{{std::string(kOAuthRequestTokenURL), url("/1/oauth/request_token")},
                            {std::string(kOAuthUserAuthorizationURL), url("/1/oauth/authorize")},
                            {std::string(kOAuthAccessTokenURL), url("/1/oauth/access_token")}};
    Dictionary domain{{std::string(kOAuthAuthenticationPreferredMethods),
                       foundation::Array{std::string(kOAuthAuthenticationMethodOAuth)}},
                      {std::string(kOAuthAuthenticationMethodOAuth), methodConfig}};
    OAuthAPI::Options options;
    options.userDefaults = defaults_;
    options.keychain = keychain;
    options.autoConfig = Dictionary{{"example.com", Dictionary{}}, {"127.0.0.1", domain}};
    options.anchorCertificates = {server_.rootCertificate()};
    auto api = OAuthAPI::make(Dictionary{{std::string(kOAuthCredentialConsumerKey), "qwv3rtnpa8sdkmz"},
                                         {std::string(kOAuthCredentialConsumerSecret), "hxb7ytrefo2lmcu"}},
                              url("/1/oauth"), url("/1/"), autoStart, options);
    EXPECT_TRUE(api.ok());
    return api.ok() ? std::move(api.value()) : nullptr;
  }

  static bool run(const std::function<bool()>& done) { return runtime::RunLoop::main().runUntil(done, 30); }
  static const std::vector<std::string>& opened() { return ui::Application::shared().openedURLs(); }

  testing_support::TempDir dir_;
  testing_support::CloudServer server_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
};

// Two clients side by side, each with its own keychain: neither sees the other's tokens.
TEST_F(OAuthAPITest, ThreeLeggedExchangeWithHmacSignaturesForTwoClients) {
  MemoryKeychain keychain, other;
  // The notifications name no sender: anyone hears them.
  int heard = 0;
  auto listener = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(kOAuthNotificationRequestTokenReceived), nullptr,
      [&heard](const runtime::Notification& n) { heard += n.object == nullptr ? 1 : 100; });
  auto api = make(true, &keychain);
  auto second = make(true, &other);
  ASSERT_TRUE(api && second);
  EXPECT_EQ(api->credentials().signatureMethod(), "HMAC-SHA1");
  ASSERT_TRUE(run([&] { return opened().size() == 2; }));
  const auto requestToken = api->credentials().requestToken();
  ASSERT_TRUE(requestToken && second->credentials().requestToken());
  EXPECT_NE(*requestToken, *second->credentials().requestToken());
  EXPECT_EQ(std::ranges::count(opened(), url("/1/oauth/authorize?oauth_token=") + *requestToken), 1);
  EXPECT_TRUE(keychain.holds(kOAuthCredentialRequestToken));
  EXPECT_NE(keychain.items, other.items);
  EXPECT_EQ(heard, 2);
  EXPECT_FALSE(api->isAuthenticated());

  // The user authorised in the browser; the next step takes the access token.
  ASSERT_TRUE(api->authenticate().ok());
  ASSERT_TRUE(run([&] { return api->isAuthenticated(); }));
  EXPECT_FALSE(api->credentials().requestToken());
  EXPECT_TRUE(keychain.holds(kOAuthCredentialAccessToken));
  EXPECT_FALSE(keychain.holds(kOAuthCredentialRequestToken));
  EXPECT_TRUE(defaults_->objectForKey(kOAuthAutomaticTokenRefreshLastExpiryDate).isNull());
  EXPECT_EQ(api->activeLoaderCount(), 0u);
  EXPECT_FALSE(second->isAuthenticated());
  EXPECT_FALSE(second->credentials().accessToken());
  ASSERT_TRUE(second->authenticate().ok());
  ASSERT_TRUE(run([&] { return second->isAuthenticated(); }));
  EXPECT_NE(*api->credentials().accessToken(), *second->credentials().accessToken());

  // Signed requests of the user are accepted.
  auto info = api->dataForMethod("account/info");
  ASSERT_TRUE(info.ok()) << info.error().description();
  EXPECT_NE(info->find("\"uid\""), std::string::npos);
  // So is a prepared request, signed afresh: its query's parameters travel with the signature.
  HttpRequest prepared;
  prepared.url = url("/1/account/info?locale=en");
  std::optional<std::string> body;
  auto loader = api->performURLRequest(prepared, [&](OAuthAPIRequestLoader& l) { body = l.responseString(); });
  ASSERT_TRUE(loader.ok()) << loader.error().description();
  ASSERT_TRUE(run([&] { return body.has_value(); }));
  EXPECT_NE(body->find("\"uid\""), std::string::npos);
  EXPECT_EQ(api->activeLoaderCount(), 0u);

  ASSERT_TRUE(api->discardCredentials().ok());
  EXPECT_FALSE(api->isAuthenticated());
  EXPECT_FALSE(keychain.holds(kOAuthCredentialAccessToken));
}

// The connection signs with the store it is given, synchronously or not; the stand-in checks the
// signature and refuses one made with the wrong secret.
TEST_F(OAuthAPITest, TheConnectionSignsWhatTheServerChecks) {
  server_.addUser("4711", "ctok", "csec");
  const OAuthConnection::Options options{.anchorCertificates = {server_.rootCertificate()}};
  struct Case {
    const char* method;
    const char* secret;
    long status;
  };
  const Case cases[] = {
      {"HMAC-SHA1", "csec", 200}, {"PLAINTEXT", "csec", 200}, {"HMAC-SHA1", "wrong", 401}, {"PLAINTEXT", "wrong", 401}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.secret);
    auto store = std::make_shared<OAuthCredentialConcreteStore>(
        Dictionary{{std::string(kOAuthCredentialConsumerKey), "qwv3rtnpa8sdkmz"},
                   {std::string(kOAuthCredentialConsumerSecret), "hxb7ytrefo2lmcu"},
                   {std::string(kOAuthSignatureMethod), c.method}});
    ASSERT_TRUE(store->setAccessToken("ctok").ok() && store->setAccessTokenSecret(c.secret).ok());

    OAuthURLRequest sync(url("/1/account/info"));
    OAuthURLResponse response;
    auto body = OAuthConnection::sendSynchronousRequest(sync, store, &response, options);
    ASSERT_TRUE(body.ok()) << body.error().description();
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.body, *body);
    ASSERT_TRUE(sync.urlRequest);
    EXPECT_NE(sync.urlRequest->url.find("&oauth_signature="), std::string::npos);

    OAuthURLRequest async(url("/1/account/info"));
    std::optional<long> status;
    auto connection = OAuthConnection::connectionWithRequest(
        async, [&](foundation::Result<net::HttpResponse> r) { status = r ? r->status : -1; }, store, options);
    ASSERT_TRUE(connection.ok());
    EXPECT_EQ(connection.value()->credentials(), store);
    ASSERT_TRUE(run([&] { return status.has_value(); }));
    EXPECT_EQ(*status, c.status);
  }
  // A store that cannot sign starts nothing.
  auto rsa = std::make_shared<OAuthCredentialConcreteStore>(
      Dictionary{{std::string(kOAuthCredentialConsumerKey), "k"}, {std::string(kOAuthSignatureMethod), "RSA-SHA1"}});
  OAuthURLRequest refused(url("/1/account/info"));
  const auto before = server_.requests().size();
  EXPECT_FALSE(OAuthConnection::sendSynchronousRequest(refused, rsa, nullptr, options).ok());
  EXPECT_EQ(server_.requests().size(), before);
}

TEST_F(OAuthAPITest, SignedRedirectsStayOnTheSameHttpsHost) {
  auto api = make(false, nullptr);
  ASSERT_TRUE(api);
  struct Case {
    std::string to;
    bool followed;
  };
  const Case cases[] = {
      {url("/test/echo"), true},
      {"/test/echo", true},
      {"https://localhost:" + std::to_string(server_.port()) + "/test/echo", false},
      {"http://" + server_.host() + "/test/echo", false},
      {"https://example.com/test/echo", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    std::optional<bool> completed;
    std::optional<foundation::Error> error;
    auto loader = api->performMethod(
        std::nullopt, url("/test/redirect"), {OAuthURLRequestParameter{"to", c.to}},
        [&](OAuthAPIRequestLoader& l) { completed = l.response().status == 200; },
        [&](OAuthAPIRequestLoader&, const foundation::Error& e) { error = e; });
    ASSERT_TRUE(loader.ok());
    ASSERT_TRUE(run([&] { return completed || error; }));
    EXPECT_EQ(completed.value_or(false), c.followed);
    if (!c.followed) {
      ASSERT_TRUE(error);
      EXPECT_EQ(error->code, kOAuthAPIErrorRedirectRefused);
    }
  }
}

TEST_F(OAuthAPITest, MisuseIsAnErrorValue) {
  auto api = make(false, nullptr);
  ASSERT_TRUE(api);
  auto nil = api->performMethod(std::nullopt, "https://" + server_.host(), {});
  ASSERT_FALSE(nil.ok());
  EXPECT_EQ(nil.error().code, kOAuthAPIErrorNilMethod);
  EXPECT_EQ(nil.error().domain, kOAuthNilMethodRequestException);
  EXPECT_EQ(api->performURLRequest(std::nullopt).error().code, kOAuthAPIErrorNilMethod);
  HttpRequest undecodable;
  undecodable.url = url("/1/account/info?locale=%zz");
  EXPECT_FALSE(api->performURLRequest(undecodable).ok());
  EXPECT_EQ(api->activeLoaderCount(), 0u);

  OAuthAPI::Options options;
  options.userDefaults = defaults_;
  options.autoConfig = Dictionary{};
  auto noKey = OAuthAPI::make(Dictionary{}, url("/1/oauth"), url("/1/"), true, options);
  ASSERT_FALSE(noKey.ok());
  EXPECT_EQ(noKey.error().code, kOAuthAPIErrorNoConsumerKey);

  options.autoConfig = Dictionary{{"127.0.0.1", Dictionary{{"a", "b"}}}};
  auto bad = OAuthAPI::make(Dictionary{}, url("/1/oauth"), url("/1/"), false, options);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().code, kOAuthAPIErrorConfiguration);
}

// The application's keychain keeps the store's tokens as internet passwords: a second store over the
// same home, as after a relaunch, reads them back, and clearing one removes its item.
TEST_F(OAuthAPITest, TokensAreKeptInTheApplicationsKeychain) {
  files::AppHome home(dir_ / "home");
  auto makeStore = [&] {
    return OAuthCredentialConcreteStore(Dictionary{{std::string(kOAuthCredentialConsumerKey), "k"}},
                                        url("/1/"), url("/1/oauth"));
  };
  OAuthInternetPasswordKeychain keychain(std::make_shared<security::Keychain>(home));
  OAuthCredentialConcreteStore store = makeStore();
  store.setKeychain(&keychain);
  foundation::Status saved = store.setCredentialWithName("at1", kOAuthCredentialAccessToken);
  ASSERT_TRUE(saved.ok()) << saved.error().description();
  ASSERT_TRUE(store.setCredentialWithName("at2", kOAuthCredentialAccessToken).ok());
  ASSERT_TRUE(store.setCredentialWithName("sec", kOAuthCredentialAccessTokenSecret).ok());

  OAuthInternetPasswordKeychain again(std::make_shared<security::Keychain>(home));
  OAuthCredentialConcreteStore second = makeStore();
  second.setKeychain(&again);
  EXPECT_EQ(second.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), "at2");
  EXPECT_EQ(second.findValueFromKeychainUsingName(kOAuthCredentialAccessTokenSecret), "sec");
  // The item itself comes with its value: its address, its data and its dates.
  Dictionary item;
  EXPECT_EQ(second.findValueFromKeychainUsingNameReturningItem(kOAuthCredentialAccessToken, &item), "at2");
  EXPECT_EQ(item["acct"], foundation::Value(std::string(kOAuthCredentialAccessToken)));
  EXPECT_EQ(item["srvr"], foundation::Value("127.0.0.1"));
  EXPECT_EQ(item["type"], foundation::Value(std::int64_t{0x6f617574}));
  EXPECT_EQ(item["v_Data"], foundation::Value(foundation::Bytes{'a', 't', '2'}));
  EXPECT_TRUE(item["mdat"].date());
  Dictionary untouched{{"x", 1}};
  EXPECT_FALSE(second.findValueFromKeychainUsingNameReturningItem(kOAuthCredentialSessionHandle, &untouched));
  EXPECT_EQ(untouched, (Dictionary{{"x", 1}}));
  ASSERT_TRUE(second.removeCredentialNamed(kOAuthCredentialAccessToken).ok());
  EXPECT_FALSE(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken));
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessTokenSecret), "sec");
}

// A reply is read as text in the character set its "Content-Type" names, UTF-8 by default; the
// received data stay as they came.
TEST_F(OAuthAPITest, RepliesAreReadInTheCharacterSetTheyName) {
  auto api = make(false, nullptr);
  ASSERT_TRUE(api);
  struct Case {
    std::string charset;  // empty: none named
    std::string body;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"ISO-8859-1", "Gr\xFC\xDF" "e, caf\xE9", "Gr\xC3\xBC\xC3\x9F" "e, caf\xC3\xA9"},
      {"latin1", "na\xEFve", "na\xC3\xAFve"},
      {"windows-1252", "\x80 5", "\xE2\x82\xAC 5"},
      {"", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"x-unknown-set", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"utf-8", "caf\xE9", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    std::optional<std::optional<std::string>> text;
    std::string data;
    std::vector<OAuthURLRequestParameter> parameters{{"body", c.body}};
    if (!c.charset.empty()) parameters.push_back({"charset", c.charset});
    auto loader = api->performMethod(std::nullopt, url("/test/text"), parameters, [&](OAuthAPIRequestLoader& l) {
      text = l.responseString();
      data = l.response().body;
    });
    ASSERT_TRUE(loader.ok());
    ASSERT_TRUE(run([&] { return text.has_value(); }));
    EXPECT_EQ(*text, c.text);
    EXPECT_EQ(data, c.body);
  }
  // The synchronous load hands back the bytes themselves.
  auto raw = api->dataForURL(url("/test/text"), std::nullopt,
                             {{"body", "caf\xE9"}, {"charset", "ISO-8859-1"}});
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(*raw, "caf\xE9");
}

}  // namespace
}  // namespace cloud
