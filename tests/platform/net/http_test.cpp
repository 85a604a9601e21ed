// HTTP connections against the stand-in server: bodies in memory and in files, uploads from
// files, pinned roots, redirects, faults and cancel.
#include "platform/net/http.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace net {
namespace {

using testing_support::CloudServer;
namespace fs = std::filesystem;

struct Outcome {
  std::vector<std::string> events;
  std::optional<foundation::Result<HttpResponse>> result;
  std::vector<HttpProgress> progress;
};

class HttpTest : public ::testing::Test {
 protected:
  HttpTest() : server_(dir_ / "server") {}

  HttpRequest request(std::string path) {
    HttpRequest r;
    r.url = "https://" + server_.host() + path;
    r.anchorCertificates = {server_.rootCertificate()};
    r.timeoutSeconds = 10;
    return r;
  }

  std::unique_ptr<HttpConnection> start(HttpRequest r, Outcome& out) {
    HttpCallbacks callbacks;
    callbacks.response = [&out](const HttpResponse& head) {
      out.events.push_back("response " + std::to_string(head.status));
    };
    callbacks.progress = [&out](const HttpProgress& p) { out.progress.push_back(p); };
    callbacks.completion = [&out](foundation::Result<HttpResponse> result) {
      out.events.push_back("completion");
      out.result = std::move(result);
    };
    return HttpConnection::start(std::move(r), std::move(callbacks), loop_);
  }

  Outcome run(HttpRequest r) {
    Outcome out;
    auto connection = start(std::move(r), out);
    EXPECT_TRUE(loop_.runUntil([&] { return out.result.has_value(); }, 20));
    return out;
  }

  testing_support::TempDir dir_;
  runtime::RunLoop loop_;
  CloudServer server_;
};

TEST_F(HttpTest, BodiesArriveInMemoryOrInANewFileWithProgress) {
  ASSERT_TRUE(server_.running());
  Outcome memory = run(request("/test/bytes?n=1000"));
  ASSERT_TRUE(memory.result && memory.result->ok());
  EXPECT_EQ((*memory.result)->status, 200);
  EXPECT_EQ((*memory.result)->body.substr(0, 3), "abc");
  EXPECT_EQ((*memory.result)->header("content-length"), "1000");
  EXPECT_EQ(memory.events, (std::vector<std::string>{"response 200", "completion"}));
  // Nothing asks the server to compress: sizes are compared with the bytes as sent.
  EXPECT_EQ(server_.requests().back().headers.count("accept-encoding"), 0u);

  HttpRequest big = request("/test/bytes?n=3000000");
  big.downloadFile = dir_ / "big.bin";
  Outcome file = run(big);
  ASSERT_TRUE(file.result && file.result->ok());
  EXPECT_TRUE((*file.result)->bodyInFile);
  EXPECT_TRUE((*file.result)->body.empty());
  EXPECT_EQ(fs::file_size(dir_ / "big.bin"), 3000000u);
  ASSERT_FALSE(file.progress.empty());
  EXPECT_LE(file.progress.size(), 110u);
  EXPECT_EQ(file.progress.back().received, 3000000);
  EXPECT_EQ(file.progress.back().expectedToReceive, 3000000);

  // An empty body makes an empty file, for the caller to move into place.
  HttpRequest empty = request("/test/bytes?n=0");
  empty.downloadFile = dir_ / "empty.bin";
  Outcome none = run(empty);
  ASSERT_TRUE(none.result && none.result->ok());
  EXPECT_TRUE((*none.result)->bodyInFile);
  EXPECT_TRUE(fs::exists(dir_ / "empty.bin"));
  EXPECT_EQ(fs::file_size(dir_ / "empty.bin"), 0u);

  // The file is made new: an existing one is never written into.
  Outcome again = run(big);
  ASSERT_TRUE(again.result && !again.result->ok());
  EXPECT_EQ(again.result->error().code, kURLErrorCannotCreateFile);

  // An error reply stays in memory even when a file was asked for.
  HttpRequest missing = request("/test/nothing");
  missing.downloadFile = dir_ / "missing.bin";
  Outcome notFound = run(missing);
  EXPECT_EQ((*notFound.result)->status, 404);
  EXPECT_FALSE(fs::exists(dir_ / "missing.bin"));

  HttpRequest capped = request("/test/bytes?n=5000");
  capped.maxBodyInMemory = 4096;
  EXPECT_EQ(run(capped).result->error().code, kURLErrorDataLengthExceedsMaximum);
}

TEST_F(HttpTest, UploadsStreamFromAFile) {
  std::ofstream(dir_ / "up.bin", std::ios::binary) << std::string(700000, 'x');
  HttpRequest up = request("/test/echo");
  up.method = "POST";
  up.bodyFile = dir_ / "up.bin";
  Outcome out = run(up);
  ASSERT_TRUE(out.result && out.result->ok());
  EXPECT_EQ((*out.result)->body, R"({"bytes":700000})");
  ASSERT_FALSE(out.progress.empty());
  EXPECT_EQ(out.progress.back().sent, 700000);

  up.bodyFile = dir_ / "absent.bin";
  EXPECT_EQ(run(up).result->error().code, kURLErrorCannotOpenFile);
  up.bodyFile = dir_.path();
  EXPECT_EQ(run(up).result->error().code, kURLErrorCannotOpenFile);
}

TEST_F(HttpTest, OnlyTheGivenRootsAreTrusted) {
  CloudServer foreign(dir_ / "foreign", CloudServer::Options{.foreignRoot = true});
  HttpRequest r = request("/test/bytes?n=10");
  r.url = "https://" + foreign.host() + "/test/bytes?n=10";
  r.downloadFile = dir_ / "never.bin";
  EXPECT_EQ(run(r).result->error().code, kURLErrorServerCertificateUntrusted);
  // Without anchors the system's store decides, and it knows no test root either.
  r.anchorCertificates.clear();
  EXPECT_EQ(run(r).result->error().code, kURLErrorServerCertificateUntrusted);
  EXPECT_FALSE(fs::exists(dir_ / "never.bin"));
}

TEST_F(HttpTest, RedirectsAreFollowedOnlyWhenAskedAndOnlyToHttps) {
  const std::string target = "https://" + server_.host() + "/test/bytes?n=5";
  HttpRequest r = request("/test/redirect?to=" + target);
  EXPECT_EQ((*run(r).result)->status, 302);
  r.followRedirects = true;
  EXPECT_EQ((*run(r).result)->body, "abcde");
  r = request("/test/redirect?to=http://" + server_.host() + "/test/bytes?n=5");
  r.followRedirects = true;
  EXPECT_FALSE(run(r).result->ok());
}

TEST_F(HttpTest, FaultsEndInTheirErrorsAndLeaveNoFile) {
  HttpRequest r = request("/test/bytes?n=20000");
  r.downloadFile = dir_ / "fault.bin";

  server_.setFault(CloudServer::Fault::TruncatedBody, 1);
  Outcome truncated = run(r);
  ASSERT_TRUE(truncated.result->ok());
  EXPECT_TRUE((*truncated.result)->truncated);
  EXPECT_EQ((*truncated.result)->bodyBytes, 19999);
  fs::remove(dir_ / "fault.bin");

  server_.setFault(CloudServer::Fault::DropConnection, 1);
  EXPECT_EQ(run(r).result->error().code, kURLErrorNetworkConnectionLost);
  EXPECT_FALSE(fs::exists(dir_ / "fault.bin"));

  std::string closed;
  {
    CloudServer gone(dir_ / "gone");
    closed = "https://" + gone.host() + "/test/bytes?n=1";
  }
  r.url = closed;
  EXPECT_EQ(run(r).result->error().code, kURLErrorCannotConnectToHost);
  EXPECT_FALSE(fs::exists(dir_ / "fault.bin"));
}

TEST_F(HttpTest, ACancelledConnectionCallsNothingAndRemovesItsFile) {
  server_.setFault(CloudServer::Fault::SlowTrickle, 1);
  HttpRequest r = request("/test/bytes?n=100000");
  r.downloadFile = dir_ / "slow.bin";
  Outcome out;
  auto connection = start(r, out);
  ASSERT_TRUE(loop_.runUntil([&] { return fs::exists(dir_ / "slow.bin"); }, 20));
  connection->cancel();
  connection.reset();  // waits for the worker
  loop_.runUntilIdle();
  EXPECT_FALSE(out.result.has_value());
  EXPECT_FALSE(fs::exists(dir_ / "slow.bin"));
}

TEST_F(HttpTest, ALoopThatGoesBeforeTheAnswerIsHandedNothing) {
  server_.setFault(CloudServer::Fault::SlowTrickle, 1);
  HttpRequest r = request("/test/bytes?n=10");
  r.downloadFile = dir_ / "late.bin";
  bool called = false;
  HttpCallbacks callbacks;
  callbacks.response = [&called](const HttpResponse&) { called = true; };
  callbacks.progress = [&called](const HttpProgress&) { called = true; };
  callbacks.completion = [&called](foundation::Result<HttpResponse>) { called = true; };
  auto gone = std::make_unique<runtime::RunLoop>();
  auto connection = HttpConnection::start(std::move(r), std::move(callbacks), *gone);
  gone.reset();
  // The whole body arrives after the loop went: the worker has handed it the response and progress.
  runtime::Timer poll = loop_.scheduleTimer(0.01, true, [](runtime::Timer&) {});
  EXPECT_TRUE(loop_.runUntil(
      [&] {
        std::error_code ignored;
        return fs::file_size(dir_ / "late.bin", ignored) == 10;
      },
      20));
  poll.invalidate();
  connection.reset();
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace net
