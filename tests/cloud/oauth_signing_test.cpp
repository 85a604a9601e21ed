// A store's credentials, "oauth_" parameters, signing key and keychain items; then signing whole
// requests: the published OAuth 1.0 examples, both signature methods, query and form-body placement, and
// the failures.
#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <tuple>

#include "cloud/oauth_credential_store.h"
#include "cloud/oauth_errors.h"
#include "cloud/oauth_request.h"
#include "cloud/oauth_signature.h"
#include "memory_oauth_keychain.h"

namespace cloud {
namespace {

using foundation::Date;
using foundation::Dictionary;
using foundation::ManualClock;
using Param = OAuthURLRequestParameter;

Dictionary app(std::string key, std::string secret, std::string method) {
  return Dictionary{{std::string(kOAuthCredentialConsumerKey), std::move(key)},
                    {std::string(kOAuthCredentialConsumerSecret), std::move(secret)},
                    {std::string(kOAuthSignatureMethod), std::move(method)}};
}

Dictionary appCredentials(std::string secret = "kd94hf93k423kf44") {
  return app("dpf43f3p2l4k3l03", std::move(secret), "PLAINTEXT");
}

using FakeKeychain = MemoryOAuthKeychain;

TEST(OAuthCredentialStore, CopiesWhatItWasGivenAndMakesTheSigningKeyFromThePresentToken) {
  Dictionary given = appCredentials();
  OAuthCredentialConcreteStore store(given);
  given.set(std::string(kOAuthCredentialConsumerKey), "changed");
  EXPECT_EQ(store.consumerKey(), "dpf43f3p2l4k3l03");
  EXPECT_EQ(store.credentialNamed("kOAuthCredentialConsumerSecret"), "kd94hf93k423kf44");
  EXPECT_EQ(store.accessToken(), std::nullopt);
  EXPECT_EQ(store.baseURL(), std::nullopt);
  store.setSignatureMethod("HMAC-SHA1");
  EXPECT_EQ(store.oauthSignatureMethodParameter(), Param("oauth_signature_method", "HMAC-SHA1"));
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&");
  EXPECT_EQ(OAuthCredentialConcreteStore(appCredentials("a b")).signingKey(), "a%20b&");
  EXPECT_EQ(OAuthCredentialConcreteStore(Dictionary{}).signingKey(), "&");

  ASSERT_TRUE(store.setAccessTokenSecret("pf&k/i").ok());
  EXPECT_EQ(store.tokenSecret(), "");  // a secret without its token does not count
  ASSERT_TRUE(store.setRequestToken("hh5s93j4hdidpola").ok());
  ASSERT_TRUE(store.setRequestTokenSecret("hdhd0244k9j7ao03").ok());
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&hdhd0244k9j7ao03");
  // The access token's secret wins over the request token's.
  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&pf%26k%2Fi");
  EXPECT_EQ(store.oauthTokenParameter(), Param("oauth_token", "nnch734d00sl2jdk"));

  // Clearing a token removes its key; discarding keeps only the application's credentials.
  ASSERT_TRUE(store.setSessionHandle("h").ok());
  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_FALSE(store.store().contains(kOAuthCredentialAccessToken));
  EXPECT_EQ(store.oauthTokenParameter(), Param("oauth_token", "hh5s93j4hdidpola"));
  ASSERT_TRUE(store.discardOAuthCredentials().ok());
  EXPECT_EQ(store.store().size(), 3u);
  EXPECT_EQ(store.sessionHandle(), std::nullopt);
  EXPECT_EQ(store.oauthTokenParameter(), std::nullopt);
}

TEST(OAuthCredentialStore, OAuthParametersComeInTheirOrderWithTimestampsPast2038) {
  ManualClock clock(Date::fromUnix(1191242096.75));
  OAuthCredentialConcreteStore store(appCredentials(), clock);
  store.setNonceSource([] { return std::string("kllo9940pd9333jh"); });
  EXPECT_EQ(store.oauthParameters(), (std::vector<Param>{{"oauth_consumer_key", "dpf43f3p2l4k3l03"},
                                                         {"oauth_signature_method", "PLAINTEXT"},
                                                         {"oauth_timestamp", "1191242096"},  // no fraction
                                                         {"oauth_nonce", "kllo9940pd9333jh"},
                                                         {"oauth_version", "1.0"}}));
  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  store.setVersionParameter(Param("oauth_version", "1.0a"));
  auto withToken = store.oauthParameters();
  ASSERT_EQ(withToken.size(), 6u);
  EXPECT_EQ(withToken[1], Param("oauth_token", "nnch734d00sl2jdk"));
  EXPECT_EQ(withToken.back().value, "1.0a");

  clock.set(Date::fromUnix(2147483648));
  EXPECT_EQ(store.timestamp(), "2147483648");
  clock.set(Date::fromUnix(4102444800.5));  // 2100-01-01
  EXPECT_EQ(store.timestamp(), "4102444800");
  clock.set(Date{std::numeric_limits<double>::quiet_NaN()});
  EXPECT_EQ(store.timestamp(), "0");
  clock.set(Date{1e300});
  EXPECT_FALSE(store.timestamp().empty());
}

TEST(OAuthCredentialStore, NoncesAreFreshRandomUuids) {
  OAuthCredentialConcreteStore store(appCredentials());
  const std::string a = *store.oauthNonceParameter().value;
  EXPECT_NE(a, *store.oauthNonceParameter().value);
  // A random (version 4) UUID in upper case.
  EXPECT_TRUE(
      std::regex_match(a, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << a;
}

TEST(OAuthCredentialStore, KeychainItemsAreAddressedByBothHostsAndTheName) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/1",
                                     "https://www.example.com/auth");
  store.setKeychain(&keychain);
  ASSERT_TRUE(store.setCredentialWithName("tok", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.items.at({"www.example.com", "api.example.com", "kOAuthCredentialAccessToken"}), "tok");
  EXPECT_EQ(store.accessToken(), "tok");
  // An existing item is updated rather than added twice.
  ASSERT_TRUE(store.setCredentialWithName("tok2", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.updates, 1);
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), "tok2");

  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_TRUE(keychain.items.empty());
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), std::nullopt);
  // Removing an item that is not there is not a failure.
  EXPECT_TRUE(store.removeCredentialNamed(kOAuthCredentialRequestToken).ok());
  EXPECT_TRUE(store.removeValueFromKeychainUsingName(kOAuthCredentialRequestToken).ok());
}

TEST(OAuthCredentialStore, KeychainFailuresCarryTheirNamesAndTexts) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/");
  store.setKeychain(&keychain);
  auto expectError = [](const foundation::Status& status, std::string_view domain, std::string_view text) {
    ASSERT_FALSE(status.ok()) << domain;
    EXPECT_EQ(status.error().domain, domain);
    EXPECT_EQ(status.error().localizedDescription(), text);
  };

  keychain.addStatus = OAuthKeychain::kDuplicateItem;
  expectError(store.addToKeychainUsingNameAndValue("kOAuthCredentialRequestToken", "x"),
              "Keychain duplicate item exception", "Item already exists for kOAuthCredentialRequestToken");
  keychain.addStatus = OAuthKeychain::kNotAvailable;
  auto unavailable = store.setCredentialWithName("x", "name");
  expectError(unavailable, "Keychain Not Available", "Keychain Access Not Currently Available");
  EXPECT_EQ(unavailable.error().code, OAuthKeychain::kNotAvailable);
  keychain.addStatus = -1;  // any other result is not reported
  EXPECT_TRUE(store.setCredentialWithName("x", "name").ok());

  keychain.removeStatus = OAuthKeychain::kParam;
  expectError(
      store.removeCredentialNamed("kOAuthCredentialSessionHandle"), "Keychain parameter error",
      "One or more parameters passed to the function were not valid from kOAuthCredentialSessionHandle");
  keychain.removeStatus = OAuthKeychain::kAllocate;
  expectError(store.discardOAuthCredentials(), "Keychain memory error", "Failed to allocate memory");
}

TEST(OAuthCredentialStore, AStoreWithoutURLsLeavesTheKeychainAlone) {
  FakeKeychain keychain;
  keychain.items[{"", "", "kOAuthCredentialAccessToken"}] = "someone else's";
  OAuthCredentialConcreteStore store(appCredentials());
  store.setKeychain(&keychain);
  ASSERT_TRUE(store.setAccessToken("t").ok());
  ASSERT_TRUE(store.setCredentialWithName("v", "kOAuthCredentialUsername").ok());
  ASSERT_TRUE(store.discardOAuthCredentials().ok());
  EXPECT_EQ(keychain.calls, 0);
  EXPECT_EQ(keychain.items.size(), 1u);
}

// ---- Signing.

// The base string of a request just signed: its parameters are left sorted.
std::string baseStringOf(const OAuthURLRequest& signed_) {
  return OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest(
      Param::parameterStringForParameters(signed_.parameters), signed_);
}

// The consumer and token of the OAuth Core 1.0 appendix (photos.example.net).
TEST(OAuthSigning, MatchesThePublishedPhotosExampleInBothMethods) {
  ManualClock clock(Date::fromUnix(1191242096));
  OAuthCredentialConcreteStore store(app("dpf43f3p2l4k3l03", "kd94hf93k423kf44", "HMAC-SHA1"), clock);
  store.setNonceSource([] { return std::string("kllo9940pd9333jh"); });
  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  ASSERT_TRUE(store.setAccessTokenSecret("pfkkdhi9sl3r4s00").ok());
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&pfkkdhi9sl3r4s00");

  OAuthURLRequest request("http://photos.example.net/photos", store.oauthParameters());
  request.addParameters({{"file", "vacation.jpg"}, {"size", "original"}});
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod(store.signingKey(), "HMAC-SHA1");
  ASSERT_TRUE(signedRequest.ok()) << signedRequest.error().description();
  EXPECT_EQ(
      baseStringOf(request),
      "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l"
      "03%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%"
      "3D1191242096%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal");
  EXPECT_EQ(*OAuthSignatureParameter::HMAC_SHA1SignatureForTextUsingSecret(baseStringOf(request),
                                                                           store.signingKey()),
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(OAuthSignatureParameter::usingHMAC_SHA1WithTextAndSecretForRequest(
                Param::parameterStringForParameters(request.parameters), store.signingKey(), request)
                ->value,
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(signedRequest->method, "GET");
  EXPECT_EQ(
      signedRequest->url,
      "http://photos.example.net/photos?file=vacation.jpg&oauth_consumer_key=dpf43f3p2l4k3l03&oauth_nonce="
      "kllo9940pd9333jh&oauth_signature_method=HMAC-SHA1&oauth_timestamp=1191242096&oauth_token="
      "nnch734d00sl2jdk&oauth_version=1.0&size=original&oauth_signature=tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%"
      "3D");
  EXPECT_TRUE(signedRequest->body.empty());
  EXPECT_EQ(request.urlRequest->url, signedRequest->url);

  // PLAINTEXT sends the signing key itself.
  auto signature = OAuthSignatureParameter::withTextAndSecretForRequestUsingMethod(
      "ignored", store.signingKey(), request, "PLAINTEXT");
  ASSERT_TRUE(signature.ok());
  EXPECT_EQ(*signature, Param("oauth_signature", "kd94hf93k423kf44&pfkkdhi9sl3r4s00"));
  EXPECT_EQ(signature->className(), "OAuthSignatureParameter");
}

TEST(OAuthSigning, MatchesTheRfc5849BaseStringExample) {
  // RFC 5849, section 3.4.1: a form "POST" whose parameters come from the query, the body and the
  // OAuth parameters, with escaped names ("c%40"), "+" for a blank and a value holding "%3D".
  HttpRequest form;
  form.method = "POST";
  form.url = "http://example.com/request?b5=%3D%253D&a3=a&c%40=&a2=r%20b";
  form.setHeader("Content-Type", "application/x-www-form-urlencoded");
  form.body = "c2&a3=2+q";
  auto request = OAuthURLRequest::withURLRequest(form);
  ASSERT_TRUE(request.ok()) << request.error().description();
  EXPECT_EQ(request->url, "http://example.com/request");
  EXPECT_EQ(request->HTTPMethod, "POST");
  request->addParameters({{"oauth_consumer_key", "9djdj82h48djs9d2"},
                          {"oauth_token", "kkk9d7dh3k39sjv7"},
                          {"oauth_signature_method", "HMAC-SHA1"},
                          {"oauth_timestamp", "137131201"},
                          {"oauth_nonce", "7d8f3e4a"}});

  auto signedRequest =
      request->urlRequestSignedWithSecretUsingMethod("j49sk3j29djd&dh893hdasih9", "HMAC-SHA1");
  ASSERT_TRUE(signedRequest.ok());
  std::string parameterText = Param::parameterStringForParameters(request->parameters);
  EXPECT_EQ(
      parameterText,
      "a2=r%20b&a3=2%20q&a3=a&b5=%3D%253D&c%40=&c2=&oauth_consumer_key=9djdj82h48djs9d2&oauth_nonce=7d8f3e4a"
      "&oauth_signature_method=HMAC-SHA1&oauth_timestamp=137131201&oauth_token=kkk9d7dh3k39sjv7");
  EXPECT_EQ(
      baseStringOf(*request),
      "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%3D%253D%25253D%26c%"
      "2540%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_nonce%3D7d8f3e4a%26oauth_signature_"
      "method%3DHMAC-SHA1%26oauth_timestamp%3D137131201%26oauth_token%3Dkkk9d7dh3k39sjv7");
  // The HMAC of that base string under this key, computed apart with another HMAC implementation.
  EXPECT_EQ(signedRequest->body, parameterText + "&oauth_signature=r6%2FTJjbCOr97%2F%2BUU0NsvSne7s5g%3D");
  EXPECT_EQ(signedRequest->url, "http://example.com/request");
}

class CloudStyleSigning : public ::testing::Test {
 protected:
  CloudStyleSigning()
      : clock_(Date::fromUnix(1400000000)), store_(app("appkey", "app secret", "PLAINTEXT"), clock_) {
    store_.setNonceSource([this] { return "NONCE" + std::to_string(++nonces_); });
    EXPECT_TRUE(store_.setAccessToken("usertoken").ok());
    EXPECT_TRUE(store_.setAccessTokenSecret("user/secret").ok());
  }

  foundation::Result<HttpRequest> sign(std::string url, Dictionary call, std::string method = "GET") {
    request_ = OAuthURLRequest(std::move(url), store_.oauthParameters());
    request_.addParameters(Param::parametersFromDictionary(call));
    request_.HTTPMethod = std::move(method);
    return request_.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  }

  ManualClock clock_;
  OAuthCredentialConcreteStore store_;
  OAuthURLRequest request_{""};
  int nonces_ = 0;
};

TEST_F(CloudStyleSigning, GetSendsSortedParametersAsTheQueryAndPostAsAFormBody) {
  auto get = sign("https://api.example.com/1/metadata/sandbox/a", {{"x", "1"}, {"locale", "en"}});
  ASSERT_TRUE(get.ok());
  EXPECT_EQ(
      get->url,
      "https://api.example.com/1/metadata/sandbox/a?locale=en&oauth_consumer_key=appkey&oauth_nonce=NONCE1"
      "&oauth_signature_method=PLAINTEXT&oauth_timestamp=1400000000&oauth_token=usertoken&oauth_version=1.0"
      "&x=1&oauth_signature=app%2520secret%26user%252Fsecret");
  // The signature is appended to the text, not added to the sorted list.
  for (const auto& parameter : request_.parameters) EXPECT_NE(parameter.name, "oauth_signature");
  EXPECT_TRUE(get->headers.empty());

  clock_.advance(90);  // every request gets its own timestamp and nonce
  auto post = sign("https://api.example.com/1/fileops/delete", {{"path", "/backUp.zip"}}, "POST");
  ASSERT_TRUE(post.ok());
  EXPECT_EQ(post->method, "POST");
  EXPECT_EQ(post->url, "https://api.example.com/1/fileops/delete");
  EXPECT_EQ(post->body,
            "oauth_consumer_key=appkey&oauth_nonce=NONCE2&oauth_signature_method=PLAINTEXT&oauth_timestamp="
            "1400000090&oauth_token=usertoken&oauth_version=1.0&path=%2FbackUp.zip"
            "&oauth_signature=app%2520secret%26user%252Fsecret");
  ASSERT_NE(post->header("content-length"), nullptr);
  EXPECT_EQ(*post->header("content-length"), std::to_string(post->body.size()));
  EXPECT_EQ(*post->header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(CloudStyleSigning, ATokenSecretWithAPlusFromATokenReplySignsWithThePlus) {
  auto reply = Param::parameterDictionaryFromString("oauth_token_secret=a+b%2Bc&oauth_token=t%2B1");
  ASSERT_TRUE(reply["oauth_token"].string() && reply["oauth_token_secret"].string());
  ASSERT_TRUE(store_.setAccessToken(*reply["oauth_token"].string()).ok());
  ASSERT_TRUE(store_.setAccessTokenSecret(*reply["oauth_token_secret"].string()).ok());
  EXPECT_EQ(store_.signingKey(), "app%20secret&a%2Bb%2Bc");
  auto get = sign("https://api.example.com/1/account/info", {});
  ASSERT_TRUE(get.ok());
  EXPECT_TRUE(get->url.ends_with(
      "&oauth_token=t%2B1&oauth_version=1.0&oauth_signature=app%2520secret%26a%252Bb%252Bc"))
      << get->url;
}

TEST_F(CloudStyleSigning, UnsupportedMethodsAreNamedErrors) {
  auto put = sign("https://api.example.com/1/files_put/sandbox/x", {}, "PUT");
  ASSERT_FALSE(put.ok());
  EXPECT_EQ(put.error().domain, kOAuthUnhandledHTTPMethodException);
  EXPECT_EQ(put.error().localizedDescription(), "The requested HTTP method, PUT, is not supported");
  EXPECT_FALSE(request_.urlRequest.has_value());

  request_.HTTPMethod = "GET";
  auto rsa = request_.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "RSA-SHA1");
  ASSERT_FALSE(rsa.ok());
  EXPECT_EQ(rsa.error().domain, "Unsupported Signature Method");
  EXPECT_EQ(rsa.error().localizedDescription(),
            "The signature method \"RSA-SHA1\" is not currently support by OAuthConnection");

  auto nothing = OAuthURLRequest("https://api.example.com/1/account/info")
                     .urlRequestSignedWithSecretUsingMethod("k&", "PLAINTEXT");
  ASSERT_FALSE(nothing.ok());
  EXPECT_EQ(nothing.error().localizedDescription(), "The requested HTTP method, GET, is not supported");
}

TEST(OAuthSigning, BaseStringNormalisesTheURLAndTakesInItsQuery) {
  OAuthURLRequest bare("https://API.Example.com:443");
  EXPECT_EQ(OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest("a=1", bare),
            "GET&https%3A%2F%2Fapi.example.com%2F&a%3D1");
  // An escape already in the path is escaped again, so the server's view and ours agree.
  OAuthURLRequest escapedPath("https://api.example.com/1/files/sandbox/my%20file%25.txt");
  escapedPath.HTTPMethod = "POST";
  EXPECT_EQ(OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest("", escapedPath),
            "POST&https%3A%2F%2Fapi.example.com%2F1%2Ffiles%2Fsandbox%2Fmy%2520file%2525.txt&");

  // A query left on the URL is signed with the other parameters, not sent beside them.
  OAuthURLRequest request("http://h.example/p?b=2&a=x+y#part", {{"c", "3"}, {"a", "1"}});
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod("s&", "PLAINTEXT");
  ASSERT_TRUE(signedRequest.ok());
  EXPECT_EQ(signedRequest->url, "http://h.example/p?a=1&a=x%2By&b=2&c=3&oauth_signature=s%26");
  auto failed = OAuthURLRequest("http://h.example/p?b=%zz", {{"a", "1"}})
                    .urlRequestSignedWithSecretUsingMethod("s&", "PLAINTEXT");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().domain, kOAuthMalformedParameterString);
}

TEST(OAuthSigning, RequestsFromHttpRequestsKeepTheirParameters) {
  HttpRequest get;
  get.url = "https://h.example/list?path=%2Fa%20b&n=2";
  auto fromGet = OAuthURLRequest::withURLRequest(get);
  ASSERT_TRUE(fromGet.ok());
  EXPECT_EQ(fromGet->url, "https://h.example/list");
  EXPECT_EQ(fromGet->HTTPMethod, "GET");
  EXPECT_EQ(fromGet->parameters, (std::vector<Param>{{"path", "/a b"}, {"n", "2"}}));

  // A body that is not a form is not read as parameters; a form's content type is matched loosely.
  HttpRequest upload;
  upload.method = "POST";
  upload.url = "https://h.example/put";
  upload.setHeader("Content-Type", "application/octet-stream");
  upload.body = "a=1";
  EXPECT_TRUE(OAuthURLRequest::withURLRequest(upload)->parameters.empty());
  upload.setHeader("content-type", "Application/X-WWW-Form-Urlencoded; charset=utf-8");
  EXPECT_EQ(upload.headers.size(), 1u);
  EXPECT_EQ(OAuthURLRequest::withURLRequest(upload)->parameters, (std::vector<Param>{{"a", "1"}}));
  upload.body = "a=%E";
  EXPECT_EQ(OAuthURLRequest::withURLRequest(upload).error().domain, kOAuthMalformedParameterString);
}

}  // namespace
}  // namespace cloud
