// Requests on their own: pinned roots, error replies, the observer; path and query helpers; finding
// the stand-in service through the environment.
#include "cloud/cloud_request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "cloud/cloud_rest_client.h"
#include "platform/foundation/log.h"
#include "platform/security/digest.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

using foundation::Dictionary;
using foundation::Value;

struct Observer : CloudNetworkRequestDelegate {
  int started = 0;
  int stopped = 0;
  void networkRequestStarted() override { ++started; }
  void networkRequestStopped() override { ++stopped; }
};

TEST(CloudRequestRoots, TheCarriedRootsAllDecode) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(CloudRequest::rootCertificates().size(), 9u);
  EXPECT_EQ(CloudRequest::rootCertificateTexts().size(), 9u);
  EXPECT_TRUE(log.messages().empty());
}

TEST(CloudPaths, EscapingNormalisingAndQueryTexts) {
  EXPECT_EQ(CloudRestClient::escapePath("/a b/%41:?=,!$&'()*+;[]@#~\xC3\xA9.zip"),
            "/a%20b/%2541%3A%3F%3D%2C%21%24%26%27%28%29%2A%2B%3B%5B%5D%40%23%7E%C3%A9.zip");
  EXPECT_EQ(CloudRestClient::normalizedCloudPath("/"), "");
  EXPECT_TRUE(CloudRestClient::isEqualToCloudPath("/Backup/CAFE\xCC\x81.zip", "/backup/caf\xC3\xA9.zip"));
  EXPECT_EQ(CloudRestClient::dictionaryWithQueryString("a=1&b=x%20y&flag&bad=%zz"),
            (Dictionary{{"a", "1"}, {"b", "x y"}, {"flag", ""}}));
  EXPECT_EQ(CloudRestClient::urlRepresentation(Dictionary{{"path", "/a b&c"}, {"n", 3}}),
            "path=%2Fa%20b%26c&n=3");
}

class CloudRequestTest : public ::testing::Test {
 protected:
  CloudRequestTest() : server_(dir_ / "server") {
    CloudService::setCurrent({server_.host(), server_.host(), server_.host(), {server_.rootCertificate()}});
    CloudRequest::setNetworkRequestDelegate(&observer_);
  }
  ~CloudRequestTest() override {
    CloudRequest::setNetworkRequestDelegate(nullptr);
    CloudService::setCurrent({});
  }

  // Runs a request to the end; the request is handed back for inspection.
  std::unique_ptr<CloudRequest> run(const std::string& path, Dictionary userInfo = {},
                                    const std::string& host = {}) {
    net::HttpRequest request;
    request.url = "https://" + (host.empty() ? server_.host() : host) + path;
    bool done = false;
    auto made = std::make_unique<CloudRequest>(
        request,
        CloudRequest::Options{.completion = [&](CloudRequest&) { done = true; }, .userInfo = userInfo},
        loop_);
    EXPECT_TRUE(loop_.runUntil([&] { return done; }, 30));
    return made;
  }

  testing_support::TempDir dir_;
  testing_support::CloudServer server_;
  runtime::RunLoop loop_;
  Observer observer_;
};

TEST_F(CloudRequestTest, ErrorRepliesCarryTheServersFieldsAndTheParameters) {
  foundation::ScopedLogCapture log;
  auto notFound = run("/test/nothing?oauth_signature=secret%26secret", Dictionary{{"path", "/x"}});
  ASSERT_TRUE(notFound->error());
  EXPECT_EQ(notFound->error()->code, 404);
  EXPECT_EQ(notFound->error()->userInfo, (Dictionary{{"path", "/x"}, {"error", "Unknown test path"}}));
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{
                "[WARNING] CloudSDK: error making request to /test/nothing - (404) Unknown test path"});

  auto redirect = run("/test/redirect?to=x", Dictionary{{"path", "/y"}});
  EXPECT_EQ(redirect->error()->code, 302);
  EXPECT_EQ(redirect->error()->userInfo, (Dictionary{{"path", "/y"}}));
  EXPECT_EQ(redirect->parseResponseAsType(Value::Type::Dictionary), std::nullopt);

  auto fine = run("/test/bytes?n=3");
  EXPECT_FALSE(fine->error());
  EXPECT_EQ(fine->resultString(), "abc");
  EXPECT_EQ(fine->responseBodySize(), 3);
  EXPECT_EQ(fine->parseResponseAsType(Value::Type::Dictionary), std::nullopt);
  EXPECT_EQ(fine->error()->code, kCloudErrorInvalidResponse);
  EXPECT_EQ(observer_.started, 3);
  EXPECT_EQ(observer_.stopped, 3);

  // The body as text only where it is UTF-8; the bytes stay as they came.
  auto latin = run("/test/text?body=caf%E9");
  EXPECT_EQ(latin->resultData(), "caf\xE9");
  EXPECT_EQ(latin->resultString(), std::nullopt);
  EXPECT_EQ(latin->resultJSON(), std::nullopt);
}

// A reply read as JSON, and the "X-Cloud-Metadata" header, log their parse trace when they do not
// parse; an error body is read quietly, since it need not be JSON at all.
TEST_F(CloudRequestTest, OnlyRepliesMeantToBeJsonLogWhyTheyDoNotParse) {
  struct Case {
    std::string query;
    std::int64_t code;  // of the error once the body was asked for as a dictionary
    bool parseLogged;
    std::optional<Dictionary> metadata;
  };
  const Case cases[] = {
      {"body=%7B%22a%22%3A", kCloudErrorInvalidResponse, true, std::nullopt},            // {"a":
      {"body=%5B1%5D", kCloudErrorInvalidResponse, false, std::nullopt},                 // [1]: parses
      {"body=%7B%7D&metadata=%7B%22bytes%22%3A2", 0, true, std::nullopt},
      {"body=%7B%7D&metadata=%7B%22bytes%22%3A2%7D", 0, false, Dictionary{{"bytes", foundation::Decimal::fromInteger(2)}}},
      {"status=404&body=%7B%22a%22%3A", 404, false, std::nullopt},                       // error body
      {"status=500&body=Internal%20error", 500, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    foundation::ScopedLogCapture log;
    auto request = run("/test/text?" + c.query, Dictionary{{"path", "/x"}});
    EXPECT_EQ(request->xCloudMetadataJSON(), c.metadata);
    auto json = request->parseResponseAsType(Value::Type::Dictionary);
    EXPECT_EQ(request->error() ? request->error()->code : 0, c.code);
    EXPECT_EQ(json.has_value(), c.code == 0);
    if (c.code >= 400) {
      EXPECT_EQ(request->error()->userInfo, (Dictionary{{"path", "/x"}}));
    }
    int traces = 0;
    for (const std::string& line : log.messages())
      traces += line.starts_with("-JSONValue failed. Error trace is: ");
    EXPECT_EQ(traces, c.parseLogged ? 1 : 0);  // a bad header once, though the head comes twice
  }
}

// Only a chain that ends at a trusted root, for a certificate of the host, is accepted; a refused
// certificate is logged as such, and the request fails with the connection's own error.
TEST_F(CloudRequestTest, ARefusedCertificateIsLoggedWithItsHost) {
  struct Case {
    std::string name;
    std::vector<foundation::Bytes> anchors;  // empty: the pinned roots
    std::string host;                        // empty: 127.0.0.1
    bool refused;
  };
  const std::string port = std::to_string(server_.port());
  const Case cases[] = {
      {"the stand-in's root", {server_.rootCertificate()}, "", false},
      {"its root, by the other name", {server_.rootCertificate()}, "localhost:" + port, false},
      {"another root", {server_.otherRootCertificate()}, "", true},
      {"another root, by the other name", {server_.otherRootCertificate()}, "localhost:" + port, true},
      {"the pinned roots", {}, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CloudService::setCurrent({server_.host(), server_.host(), server_.host(), c.anchors});
    foundation::ScopedLogCapture log;
    auto request = run("/test/bytes?n=3", Dictionary{{"path", "/x"}}, c.host);
    if (!c.refused) {
      EXPECT_FALSE(request->error());
      EXPECT_EQ(request->resultString(), "abc");
      EXPECT_TRUE(log.messages().empty());
      continue;
    }
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->domain, net::kURLErrorDomain);
    EXPECT_EQ(request->error()->code, net::kURLErrorServerCertificateUntrusted);
    EXPECT_EQ(request->error()->userInfo, (Dictionary{{"path", "/x"}}));
    const std::string host = c.host.empty() ? "127.0.0.1" : "localhost";
    ASSERT_EQ(log.messages().size(), 2u);
    EXPECT_EQ(log.messages()[0], "[ERROR] CloudSDK: SSL Error. Cannot validate a certificate for the host: " + host);
    EXPECT_TRUE(log.messages()[1].starts_with("[WARNING] CloudSDK: error making request to /test/bytes - (-1202) "))
        << log.messages()[1];
  }
  EXPECT_EQ(observer_.started, observer_.stopped);
}

// A 401 asking for the service's own scheme stands as the reply; one asking for any other is refused
// as a challenge the client cannot answer.
TEST_F(CloudRequestTest, OnlyTheServicesOwnChallengeIsAnswered) {
  const std::pair<std::string, std::int64_t> cases[] = {
      {"OAuth", 401}, {"Bearer", 401}, {"Basic", net::kURLErrorUserCancelledAuthentication},
      {"Digest", net::kURLErrorUserCancelledAuthentication}, {"Whatever", net::kURLErrorUserCancelledAuthentication}};
  for (const auto& [scheme, code] : cases) {
    SCOPED_TRACE(scheme);
    foundation::ScopedLogCapture log;
    auto request = run("/test/challenge?scheme=" + scheme, Dictionary{{"path", "/x"}});
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, code);
    EXPECT_EQ(request->error()->userInfo["path"], Value("/x"));
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(log.messages()[0].starts_with("[ERROR] CloudSDK: SSL Error. Unknown authentication method NSURL"),
              code != 401)
        << log.messages()[0];
  }
  EXPECT_EQ(observer_.started, observer_.stopped);
}

TEST_F(CloudRequestTest, TheStandInIsFoundThroughTheEnvironment) {
  std::string b64 = security::base64Encode(server_.rootCertificate());
  std::ofstream(dir_ / "root.pem") << "-----BEGIN CERTIFICATE-----\n"
                                   << b64.substr(0, 64) << "\n"
                                   << b64.substr(64) << "\n-----END CERTIFICATE-----\n";
  ::setenv("DIARY_CLOUD_HOST", server_.host().c_str(), 1);
  ::setenv("DIARY_CLOUD_ROOT", (dir_ / "root.pem").c_str(), 1);
  auto service = CloudService::fromEnvironment();
  ASSERT_TRUE(service);
  EXPECT_EQ(service->anchorCertificates, std::vector<foundation::Bytes>{server_.rootCertificate()});
  ::setenv("DIARY_CLOUD_ROOT", (dir_ / "absent").c_str(), 1);
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(CloudService::fromEnvironment());
  ::unsetenv("DIARY_CLOUD_HOST");
  ::unsetenv("DIARY_CLOUD_ROOT");
  EXPECT_FALSE(CloudService::fromEnvironment());
}

}  // namespace
}  // namespace cloud
