// The SDK's HTTP layer against a real server on 127.0.0.1 (redirects followed within http and https
// only, failures of every kind reaching the delegate), TLS verified against the system's roots, the
// network status driven by a test provider, and the heartbeat.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <microhttpd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/http_task.h"
#include "analytics/network_util.h"
#include "analytics/reachability.h"
#include "analytics/tally_util.h"
#include "http_outcome.h"
#include "platform/net/http.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "support/cloud_server.h"
#include "support/temp_dir.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

// A plain HTTP server with a few fixed answers:
//   /ingest.do       200, the body "got <n>" for a request body of n bytes
//   /moved           302 to /ingest.do          /moved-away   302 to file:///etc/passwd
//   /moved-whole     307 to /ingest.do
//   /loop            302 to /loop               /not-modified 304
//   /fail            500                        /huge         a body over the SDK's reply cap
class LocalServer {
 public:
  LocalServer() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    daemon_ =
        MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION, 0, nullptr, nullptr,
                         &LocalServer::answer, this, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_END);
    if (daemon_) port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
  }
  ~LocalServer() {
    if (daemon_) MHD_stop_daemon(daemon_);
  }
  std::string url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  std::vector<std::string> seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  struct Pending {
    std::string body;
  };

  static MHD_Result answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char*, const char* data, size_t* size, void** context) {
    auto* pending = static_cast<Pending*>(*context);
    if (pending == nullptr) {
      *context = new Pending;
      return MHD_YES;
    }
    if (*size > 0) {
      pending->body.append(data, *size);
      *size = 0;
      return MHD_YES;
    }
    std::string path = url;
    auto* server = static_cast<LocalServer*>(self);
    {
      std::lock_guard lock(server->mutex_);
      server->seen_.push_back(std::string(method) + " " + path + " " + std::to_string(pending->body.size()));
    }
    unsigned status = 200;
    std::string body, location;
    if (path == "/ingest.do") {
      body = "got " + std::to_string(pending->body.size());
    } else if (path == "/moved") {
      status = 302, location = "/ingest.do";
    } else if (path == "/moved-whole") {
      status = 307, location = "/ingest.do";
    } else if (path == "/moved-away") {
      status = 302, location = "file:///etc/passwd";
    } else if (path == "/loop") {
      status = 302, location = "/loop";
    } else if (path == "/not-modified") {
      status = 304;
    } else if (path == "/fail") {
      status = 500, body = "broken";
    } else if (path == "/huge") {
      body.assign(static_cast<size_t>(kTallyMaxReplyBytes) + 1, 'x');
    } else {
      status = 404;
    }
    delete pending;
    *context = nullptr;
    MHD_Response* response = MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
    if (!location.empty()) MHD_add_response_header(response, "Location", location.c_str());
    MHD_add_response_header(response, "X-Tally-Test", "yes");
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
  }

  MHD_Daemon* daemon_ = nullptr;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> seen_;
};

class NetworkTest : public ::testing::Test {
 protected:
  NetworkTest() : scope_(loop_) { TallyNetworkUtil::reset(); }
  ~NetworkTest() override {
    TallyNetworkUtil::reset();
    ReachabilityProvider::setShared(nullptr);
  }

  std::shared_ptr<Outcome> run(std::string_view method, const std::string& url, std::string_view body = {}) {
    return sendAndWait(loop_, method, url, Bytes(body.begin(), body.end()));
  }

  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
};

TEST_F(NetworkTest, RequestsAndTheirOutcomes) {
  LocalServer server;
  auto posted = run("POST", server.url("/ingest.do"), "abc");
  EXPECT_EQ(posted->kind, "success");
  EXPECT_EQ(posted->response.statusCode, 200);
  EXPECT_EQ(posted->response.body, Bytes({'g', 'o', 't', ' ', '3'}));
  EXPECT_EQ(posted->response.headers["x-tally-test"], Value("yes"));
  EXPECT_EQ(TallyNetworkUtil::lastNetworkOperationError(), std::nullopt);

  // A 302 would turn the POST into a GET without its body: the request fails where it was answered,
  // whatever the target would say. A 307 repeats it whole; a GET follows a 302.
  auto moved = run("POST", server.url("/moved"), "abc");
  EXPECT_EQ(moved->kind, "fail");
  ASSERT_TRUE(moved->response.error);
  EXPECT_EQ(moved->response.error->code, net::kURLErrorBadServerResponse);
  EXPECT_EQ(server.seen().back(), "POST /moved 3");
  auto whole = run("POST", server.url("/moved-whole"), "abc");
  EXPECT_EQ(whole->kind, "success");
  EXPECT_EQ(server.seen().back(), "POST /ingest.do 3");
  auto fetched = run("GET", server.url("/moved"));
  EXPECT_EQ(fetched->kind, "success");
  EXPECT_EQ(server.seen().back(), "GET /ingest.do 0");

  struct Case {
    std::string path;
    std::int32_t status;
    std::optional<std::int64_t> errorCode;  // nothing: the "Failed to load url" status failure
  };
  for (const Case& c : std::vector<Case>{
           {"/not-modified", 304, std::nullopt},
           {"/fail", 500, std::nullopt},
           {"/moved-away", 0, net::kURLErrorUnsupportedURL},
           {"/loop", 0, net::kURLErrorHTTPTooManyRedirects},
           {"/huge", 0, net::kURLErrorDataLengthExceedsMaximum},
       }) {
    auto outcome = run("GET", server.url(c.path));
    EXPECT_EQ(outcome->kind, "fail") << c.path;
    auto last = TallyNetworkUtil::lastNetworkOperationError();
    ASSERT_TRUE(last) << c.path;
    if (c.errorCode) {
      ASSERT_TRUE(outcome->response.error) << c.path;
      EXPECT_EQ(outcome->response.error->code, *c.errorCode) << c.path;
      EXPECT_EQ(last->code, *c.errorCode) << c.path;
    } else {
      EXPECT_EQ(outcome->response.statusCode, c.status) << c.path;
      EXPECT_EQ(last->domain, kTallyFailedToLoadUrlDomain) << c.path;
      EXPECT_EQ(last->code, kTallyFailedToLoadUrlCode) << c.path;
    }
  }
  // 304 fails for the delegate but counts as a success of the response itself.
  EXPECT_TRUE(TallyHTTPResponse::initWithBody({}, 304, {}, std::nullopt).isSuccess());
  // posted 1, moved 1, moved whole 2, fetched 2, not-modified 1, fail 1, moved-away 1 (file:// is never
  // fetched), loop 1 + 10 redirects, huge 1.
  EXPECT_EQ(server.seen().size(), 21u);

  auto refused = run("GET", "file:///etc/passwd");
  EXPECT_EQ(refused->kind, "fail");
  EXPECT_EQ(refused->response.error->code, net::kURLErrorUnsupportedURL);

  // A cancelled task tells nobody.
  auto cancelled = std::make_shared<Outcome>();
  auto task = TallyHttpAsyncTask::get(server.url("/ingest.do"), cancelled);
  task->cancelTask();
  loop_.runFor(0.2);
  EXPECT_TRUE(cancelled->kind.empty());
  EXPECT_TRUE(task->isDone());
}

TEST_F(NetworkTest, AServerOutsideTheSystemsTrustIsRefused) {
  testing_support::TempDir folder;
  testing_support::CloudServer cloud(folder.path());
  auto outcome = run("GET", "https://" + cloud.host() + "/test/anything");
  EXPECT_EQ(outcome->kind, "fail");
  ASSERT_TRUE(outcome->response.error);
  EXPECT_EQ(outcome->response.error->domain, net::kURLErrorDomain);
}

TEST(TallyHttpHelpers, QueriesAndUrls) {
  EXPECT_EQ(TallyHttpAsyncTask::stringToQueryDictionary("a=1&flag&b=2=3&"),
            (Dictionary{{"a", "1"}, {"flag", ""}, {"b", "2"}}));
  EXPECT_EQ(TallyHttpAsyncTask::queryDictionaryToString(Dictionary{{"b", "2"}, {"a", 1}}), "b=2&a=1");
  EXPECT_EQ(
      TallyHttpAsyncTask::urlWithProtocol(std::nullopt, "h.example", 80, "p", Value(Dictionary{{"q", "1"}})),
      "http://h.example/p?q=1");
  EXPECT_EQ(TallyHttpAsyncTask::urlWithProtocol("https", "h.example", 8443, std::nullopt, Value("x=y")),
            "https://h.example:8443?x=y");
}

// A provider the test drives: flags it sets, changes it announces.
class TestProvider : public ReachabilityProvider {
 public:
  std::optional<std::uint32_t> flags(const ReachabilityTarget&) override {
    std::lock_guard lock(mutex_);
    return flags_;
  }
  int watch(std::function<void()> changed) override {
    std::lock_guard lock(mutex_);
    watchers_[++last_] = std::move(changed);
    return last_;
  }
  void unwatch(int id) override {
    std::lock_guard lock(mutex_);
    watchers_.erase(id);
  }
  void change(std::optional<std::uint32_t> flags) {
    std::lock_guard lock(mutex_);
    flags_ = flags;
    for (auto& [id, changed] : watchers_) changed();
  }

 private:
  std::mutex mutex_;
  std::optional<std::uint32_t> flags_ = kReachabilityReachable;
  std::map<int, std::function<void()>> watchers_;
  int last_ = 0;
};

TEST_F(NetworkTest, StatusFollowsTheProviderAndObserversMayAskIt) {
  EXPECT_TRUE(TallyNetworkUtil::isNetworkReachable());
  EXPECT_EQ(TallyNetworkUtil::networkStatus(), 0);
  auto provider = std::make_shared<TestProvider>();
  ReachabilityProvider::setShared(provider);
  TallyNetworkUtil::initNetworkReachability();
  EXPECT_EQ(TallyNetworkUtil::networkStatus(), 2);

  std::vector<std::pair<bool, int>> seen;
  auto token = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(kTallyNetworkStatusChangedNotification), TallyNetworkUtil::networkUtilObject(),
      [&](const runtime::Notification&) {
        seen.emplace_back(TallyNetworkUtil::isNetworkReachable(), TallyNetworkUtil::networkStatus());
      });
  provider->change(kReachabilityReachable | kReachabilityIsWWAN);
  loop_.runUntilIdle();
  provider->change(0);
  loop_.runUntilIdle();
  provider->change(std::nullopt);  // flags that cannot be read: not reachable
  loop_.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::pair<bool, int>>{{true, 3}, {false, 0}, {false, 0}}));
  EXPECT_TRUE(TallyNetworkUtil::isNetworkLikelyNotReachable());

  provider->change(kReachabilityReachable);
  loop_.runUntilIdle();
  EXPECT_FALSE(TallyNetworkUtil::isNetworkLikelyNotReachable());
  TallyNetworkUtil::setNetworkLikelyNotReachable();
  EXPECT_TRUE(TallyNetworkUtil::isNetworkLikelyNotReachable());
}

TEST(TallyReachabilityTest, StatusFromFlags) {
  auto provider = std::make_shared<TestProvider>();
  TallyReachability internet(ReachabilityTarget{"0.0.0.0"}, provider);
  TallyReachability local(ReachabilityTarget{"169.254.0.0", true}, provider);
  struct Case {
    std::uint32_t flags;
    int internet;
    int local;
  };
  for (const Case& c : std::vector<Case>{
           {0, 0, 0},
           {kReachabilityReachable, 1, 0},
           {kReachabilityReachable | kReachabilityIsDirect, 1, 1},
           {kReachabilityReachable | kReachabilityIsWWAN, 2, 0},
           {kReachabilityReachable | kReachabilityConnectionOnTraffic, 0, 0},
           {kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityTransientConnection, 0,
            0},
           {kReachabilityReachable | kReachabilityTransientConnection, 1, 0},
           {kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnDemand, 1, 0},
       }) {
    EXPECT_EQ(internet.tallyNetworkStatusForFlags(c.flags), c.internet) << c.flags;
    EXPECT_EQ(local.tallyNetworkStatusForFlags(c.flags), c.local) << c.flags;
  }
  EXPECT_EQ(TallyReachability::tallyMakeAddressKey(htonl(0xA9FE0001u)), "169.254.0.1");
  // The machine's provider starts and stops its watcher cleanly, whatever the machine's network.
  auto machine = TallyReachability::tallyReachabilityForInternetConnection();
  machine->tallyStartNotifier();
  machine->tallyStopNotifier();
}

TEST(TallyHeartBeaterTest, BeatsOnTheMainLoop) {
  foundation::ManualClock clock{foundation::Date{0}};
  runtime::RunLoop loop(clock);
  runtime::ScopedMainRunLoop scope(loop);
  int beats = 0;
  auto token = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(kTallyHeartBeatNotification), nullptr, [&](const runtime::Notification&) { ++beats; });
  auto beater = TallyHeartBeater::createAndStartInstance(1.0);
  EXPECT_EQ(TallyHeartBeater::createAndStartInstance(5.0), beater);
  loop.advance(3.5);
  EXPECT_EQ(beats, 3);
  beater.reset();
  TallyHeartBeater::cleanup();
  loop.advance(3);
  EXPECT_EQ(beats, 3);
}

}  // namespace
}  // namespace analytics
