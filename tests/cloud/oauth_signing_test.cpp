// Signing whole requests: the published OAuth 1.0 examples, both signature methods, query and
// form-body placement, and the failures.
#include <gtest/gtest.h>

#include "cloud/oauth_credential_store.h"
#include "cloud/oauth_errors.h"
#include "cloud/oauth_request.h"
#include "cloud/oauth_signature.h"

namespace cloud {
namespace {

using foundation::Date;
using foundation::Dictionary;
using foundation::ManualClock;
using Param = OAuthURLRequestParameter;

// The consumer and token of the OAuth Core 1.0 appendix (photos.example.net).
class PhotosExample : public ::testing::Test {
 protected:
  PhotosExample()
      : clock_(Date::fromUnix(1191242096)),
        store_(Dictionary{{std::string(kOAuthCredentialConsumerKey), "dpf43f3p2l4k3l03"},
                          {std::string(kOAuthCredentialConsumerSecret), "kd94hf93k423kf44"},
                          {std::string(kOAuthSignatureMethod), "HMAC-SHA1"}},
               clock_) {
    store_.setNonceSource([] { return std::string("kllo9940pd9333jh"); });
    EXPECT_TRUE(store_.setAccessToken("nnch734d00sl2jdk").ok());
    EXPECT_TRUE(store_.setAccessTokenSecret("pfkkdhi9sl3r4s00").ok());
  }

  OAuthURLRequest photoRequest() {
    OAuthURLRequest request("http://photos.example.net/photos", store_.oauthParameters());
    request.addParameters({{"file", "vacation.jpg"}, {"size", "original"}});
    return request;
  }

  // The base string of a request just signed: its parameters are left sorted.
  static std::string baseStringOf(const OAuthURLRequest& signed_) {
    return OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest(
        Param::parameterStringForParameters(signed_.parameters), signed_);
  }

  ManualClock clock_;
  OAuthCredentialConcreteStore store_;
};

TEST_F(PhotosExample, HmacSha1MatchesThePublishedBaseStringAndSignature) {
  OAuthURLRequest request = photoRequest();
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "HMAC-SHA1");
  ASSERT_TRUE(signedRequest.ok()) << signedRequest.error().description();

  EXPECT_EQ(store_.signingKey(), "kd94hf93k423kf44&pfkkdhi9sl3r4s00");
  EXPECT_EQ(
      baseStringOf(request),
      "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l"
      "03%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%"
      "3D1191242096"
      "%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%3D1.0%26size%3Doriginal");
  EXPECT_EQ(*OAuthSignatureParameter::HMAC_SHA1SignatureForTextUsingSecret(baseStringOf(request),
                                                                           store_.signingKey()),
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");

  EXPECT_EQ(signedRequest->method, "GET");
  EXPECT_EQ(
      signedRequest->url,
      "http://photos.example.net/photos?file=vacation.jpg&oauth_consumer_key=dpf43f3p2l4k3l03&oauth_nonce="
      "kllo9940pd9333jh&oauth_signature_method=HMAC-SHA1&oauth_timestamp=1191242096&oauth_token="
      "nnch734d00sl2jdk&oauth_version=1.0&size=original&oauth_signature=tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%"
      "3D");
  EXPECT_TRUE(signedRequest->body.empty());
  ASSERT_TRUE(request.urlRequest.has_value());
  EXPECT_EQ(request.urlRequest->url, signedRequest->url);
}

TEST_F(PhotosExample, PlaintextSendsTheEscapedSigningKey) {
  store_.setSignatureMethod("PLAINTEXT");
  OAuthURLRequest request = photoRequest();
  auto signedRequest =
      request.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), *store_.signatureMethod());
  ASSERT_TRUE(signedRequest.ok());
  const std::string tail = "&oauth_signature=kd94hf93k423kf44%26pfkkdhi9sl3r4s00";
  ASSERT_GE(signedRequest->url.size(), tail.size());
  EXPECT_EQ(signedRequest->url.substr(signedRequest->url.size() - tail.size()), tail);
  EXPECT_NE(signedRequest->url.find("oauth_signature_method=PLAINTEXT"), std::string::npos);

  auto signature = OAuthSignatureParameter::withTextAndSecretForRequestUsingMethod(
      "ignored", store_.signingKey(), request, "PLAINTEXT");
  ASSERT_TRUE(signature.ok());
  EXPECT_EQ(signature->name, "oauth_signature");
  EXPECT_EQ(signature->value, "kd94hf93k423kf44&pfkkdhi9sl3r4s00");
  EXPECT_EQ(signature->className(), "OAuthSignatureParameter");

  // Without a token the key, and so the signature, ends in "&".
  OAuthCredentialConcreteStore requestTokenStage(
      Dictionary{{std::string(kOAuthCredentialConsumerKey), "dpf43f3p2l4k3l03"},
                 {std::string(kOAuthCredentialConsumerSecret), "kd94hf93k423kf44"},
                 {std::string(kOAuthSignatureMethod), "PLAINTEXT"}},
      clock_);
  OAuthURLRequest tokenRequest("https://photos.example.net/request_token",
                               requestTokenStage.oauthParameters());
  tokenRequest.HTTPMethod = "POST";
  auto posted =
      tokenRequest.urlRequestSignedWithSecretUsingMethod(requestTokenStage.signingKey(), "PLAINTEXT");
  ASSERT_TRUE(posted.ok());
  EXPECT_TRUE(posted->body.ends_with("&oauth_signature=kd94hf93k423kf44%26")) << posted->body;
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
      OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest(parameterText, *request),
      "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%3D%253D%25253D%26c%"
      "2540"
      "%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_nonce%3D7d8f3e4a%26oauth_signature_method%"
      "3D"
      "HMAC-SHA1%26oauth_timestamp%3D137131201%26oauth_token%3Dkkk9d7dh3k39sjv7");
  // The HMAC of that base string under this key, computed apart with another HMAC implementation.
  EXPECT_EQ(signedRequest->body, parameterText + "&oauth_signature=r6%2FTJjbCOr97%2F%2BUU0NsvSne7s5g%3D");
  EXPECT_EQ(signedRequest->url, "http://example.com/request");
}

class CloudStyleSigning : public ::testing::Test {
 protected:
  CloudStyleSigning()
      : clock_(Date::fromUnix(1400000000)),
        store_(Dictionary{{std::string(kOAuthCredentialConsumerKey), "appkey"},
                          {std::string(kOAuthCredentialConsumerSecret), "app secret"},
                          {std::string(kOAuthSignatureMethod), "PLAINTEXT"}},
               clock_) {
    store_.setNonceSource([this] { return "NONCE" + std::to_string(++nonces_); });
    EXPECT_TRUE(store_.setAccessToken("usertoken").ok());
    EXPECT_TRUE(store_.setAccessTokenSecret("user/secret").ok());
  }

  OAuthURLRequest callRequest(std::string url, Dictionary call) {
    OAuthURLRequest request(std::move(url), store_.oauthParameters());
    request.addParameters(Param::parametersFromDictionary(call));
    return request;
  }

  ManualClock clock_;
  OAuthCredentialConcreteStore store_;
  int nonces_ = 0;
};

TEST_F(CloudStyleSigning, GetSendsSortedParametersAndTheSignatureLast) {
  OAuthURLRequest request =
      callRequest("https://api.example.com/1/metadata/sandbox/a", {{"x", "1"}, {"locale", "en"}});
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  ASSERT_TRUE(signedRequest.ok());
  EXPECT_EQ(
      signedRequest->url,
      "https://api.example.com/1/metadata/sandbox/a?locale=en&oauth_consumer_key=appkey&oauth_nonce=NONCE1"
      "&oauth_signature_method=PLAINTEXT&oauth_timestamp=1400000000&oauth_token=usertoken&oauth_version=1.0"
      "&x=1&oauth_signature=app%2520secret%26user%252Fsecret");
  // The signature is appended to the text, not added to the sorted list.
  for (const auto& parameter : request.parameters) EXPECT_NE(parameter.name, "oauth_signature");
  EXPECT_TRUE(signedRequest->headers.empty());
}

TEST_F(CloudStyleSigning, PostSendsTheSameTextAsAFormBody) {
  OAuthURLRequest request =
      callRequest("https://api.example.com/1/fileops/delete", {{"path", "/backUp.zip"}});
  request.HTTPMethod = "POST";
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  ASSERT_TRUE(signedRequest.ok());
  EXPECT_EQ(signedRequest->method, "POST");
  EXPECT_EQ(signedRequest->url, "https://api.example.com/1/fileops/delete");
  EXPECT_EQ(signedRequest->body,
            "oauth_consumer_key=appkey&oauth_nonce=NONCE1&oauth_signature_method=PLAINTEXT&oauth_timestamp="
            "1400000000&oauth_token=usertoken&oauth_version=1.0&path=%2FbackUp.zip"
            "&oauth_signature=app%2520secret%26user%252Fsecret");
  ASSERT_NE(signedRequest->header("content-length"), nullptr);
  EXPECT_EQ(*signedRequest->header("Content-Length"), std::to_string(signedRequest->body.size()));
  EXPECT_EQ(*signedRequest->header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(CloudStyleSigning, EveryRequestGetsItsOwnTimestampAndNonce) {
  auto first = callRequest("https://api.example.com/1/account/info", {})
                   .urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  clock_.advance(90);
  auto second = callRequest("https://api.example.com/1/account/info", {})
                    .urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_NE(first->url.find("oauth_nonce=NONCE1&"), std::string::npos);
  EXPECT_NE(second->url.find("oauth_nonce=NONCE2&"), std::string::npos);
  EXPECT_NE(second->url.find("oauth_timestamp=1400000090&"), std::string::npos);
}

TEST_F(CloudStyleSigning, UnsupportedMethodsAreNamedErrors) {
  OAuthURLRequest put = callRequest("https://api.example.com/1/files_put/sandbox/x", {});
  put.HTTPMethod = "PUT";
  auto unhandled = put.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "PLAINTEXT");
  ASSERT_FALSE(unhandled.ok());
  EXPECT_EQ(unhandled.error().domain, "UnhandledHTTPMethodException");
  EXPECT_EQ(unhandled.error().localizedDescription(), "The requested HTTP method, PUT, is not supported");
  EXPECT_FALSE(put.urlRequest.has_value());

  OAuthURLRequest get = callRequest("https://api.example.com/1/account/info", {});
  auto rsa = get.urlRequestSignedWithSecretUsingMethod(store_.signingKey(), "RSA-SHA1");
  ASSERT_FALSE(rsa.ok());
  EXPECT_EQ(rsa.error().domain, "Unsupported Signature Method");
  EXPECT_EQ(rsa.error().localizedDescription(),
            "The signature method \"RSA-SHA1\" is not currently support by OAuthConnection");

  OAuthURLRequest empty("https://api.example.com/1/account/info");
  auto nothing = empty.urlRequestSignedWithSecretUsingMethod("k&", "PLAINTEXT");
  ASSERT_FALSE(nothing.ok());
  EXPECT_EQ(nothing.error().domain, kOAuthUnhandledHTTPMethodException);
  EXPECT_EQ(nothing.error().localizedDescription(), "The requested HTTP method, GET, is not supported");
}

TEST(OAuthSigning, HmacSignaturesAreTwentyEightCharacters) {
  auto signature = OAuthSignatureParameter::HMAC_SHA1SignatureForTextUsingSecret("any text", "k&s");
  ASSERT_TRUE(signature.ok());
  EXPECT_EQ(signature->size(), 28u);
  EXPECT_EQ(signature->back(), '=');
}

TEST(OAuthSigning, BaseStringNormalisesAndEscapesTheURL) {
  OAuthURLRequest bare("https://API.Example.com:443");
  EXPECT_EQ(OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest("a=1", bare),
            "GET&https%3A%2F%2Fapi.example.com%2F&a%3D1");
  // An escape already in the path is escaped again, so the server's view and ours agree.
  OAuthURLRequest escapedPath("https://api.example.com/1/files/sandbox/my%20file%25.txt");
  escapedPath.HTTPMethod = "POST";
  EXPECT_EQ(OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest("", escapedPath),
            "POST&https%3A%2F%2Fapi.example.com%2F1%2Ffiles%2Fsandbox%2Fmy%2520file%2525.txt&");
}

TEST(OAuthSigning, AQueryLeftOnTheURLIsSignedWithTheOtherParameters) {
  OAuthURLRequest request("http://h.example/p?b=2&a=x+y#part", {{"c", "3"}, {"a", "1"}});
  auto signedRequest = request.urlRequestSignedWithSecretUsingMethod("s&", "PLAINTEXT");
  ASSERT_TRUE(signedRequest.ok());
  EXPECT_EQ(signedRequest->url, "http://h.example/p?a=1&a=x%20y&b=2&c=3&oauth_signature=s%26");

  OAuthURLRequest broken("http://h.example/p?b=%zz", {{"a", "1"}});
  auto failed = broken.urlRequestSignedWithSecretUsingMethod("s&", "PLAINTEXT");
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

  // A body that is not a form is not read as parameters.
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
  auto malformed = OAuthURLRequest::withURLRequest(upload);
  ASSERT_FALSE(malformed.ok());
  EXPECT_EQ(malformed.error().domain, kOAuthMalformedParameterString);
}

}  // namespace
}  // namespace cloud
