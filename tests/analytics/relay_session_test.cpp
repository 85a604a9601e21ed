// The session layer's calls into Relay and the watch session, against the stand-in collector: a start
// asks for the Relay settings, a pause prepares the callbacks that the next session fires, a session
// left behind fires its own without changing its block, and a watch extension's events reach a watch
// session that is kept across processes and sent when full or old.
#include <gtest/gtest.h>

#include <filesystem>

#include "analytics/data_sender.h"
#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/relay_event_controller.h"
#include "analytics/relay_settings.h"
#include "analytics/tally.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "analytics/watch_tally.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"
#include "support/analytics_collector.h"
#include "support/temp_dir.h"

namespace analytics {
namespace {

using foundation::Dictionary;
using foundation::Value;
using testing_support::AnalyticsCollector;
using testing_support::CollectedSession;

constexpr std::string_view kApiKey = "ZK4PW8RXT2MQ6VNB3LHD";
constexpr double kStart = 600000000;  // seconds since 2001

class RelaySessionTest : public ::testing::Test {
 protected:
  RelaySessionTest() : scope_(loop_) {
    TallyUtil::setHome(files::AppHome(home_.path()));
    TallyUtil::setClock(&clock_);
    TallyUtil::setLogLevel(0);
    TallyNetworkUtil::setServerURL(collector_.ingestUrl());
    TallyNetworkUtil::setConfigServerUrl(collector_.configUrl());
    testing_support::ConfigResponseFields fields;
    testing_support::ConfigTemplateFields callback;
    callback.partner = "adnet";
    callback.events = {"tally.session_end"};
    callback.uriTemplate = collector_.partnerUrl() + "/end?d=%{session_duration_millis}";
    fields.templates = {callback};
    collector_.setConfigResponse(200, testing_support::encodeConfigResponse(fields));
    freshProcess();
  }
  ~RelaySessionTest() override {
    EXPECT_EQ(collector_.rejected(), std::vector<std::string>{});
    killProcess();
    loop_.runUntilIdle();
    CurrentSession::setFactory(nullptr);
    TallyNetworkUtil::reset();
    if (previousBundle_) runtime::Bundle::setMain(previousBundle_);
    TallyUtil::setClock(nullptr);
    TallyUtil::setHome(std::nullopt);
    TallyUtil::setLogLevel(1);
  }

  void killProcess() {
    TallyImpl::cleanup();
    Tally::shutdown();
    CurrentSession::clearPreCache();
  }
  void freshProcess() {
    ui::Application::shared().reset();
    TallyImpl::install();
  }
  void start() {
    Tally::setRelayEnabled(true);
    // The switch as this device has it, so preparing calls does not ask for new settings.
    TallyGlobalVariableStorage::sharedInstance()->setLastAdTrackingEnabledSetting(
        TallyUtil::isAdTrackingEnabled());
    ui::Application::shared().launch();
    Tally::startSession(kApiKey);
    settle();
  }
  // Lets the session queue, the uploads and the Relay calls finish.
  void settle() {
    auto idle = [] {
      auto sender = TallyDataSender::instance();
      auto relay = TallyRelayEventController::existingInstance();
      bool relayIdle =
          !relay || (relay->runningCallCount() == 0 && relay->relayRequest()->runningTaskCount() == 0);
      return (!sender || sender->runningTaskCount() == 0) && relayIdle;
    };
    int quietRounds = 0;
    for (int round = 0; round < 4000 && quietRounds < 3; ++round) {
      TallyImpl::instance()->flush();
      loop_.runUntilIdle();
      quietRounds = idle() ? quietRounds + 1 : 0;
      if (!quietRounds) loop_.runUntil(idle, 0.005);
    }
    ASSERT_EQ(quietRounds, 3);
  }
  std::vector<CollectedSession> delivered() {
    std::vector<CollectedSession> sessions;
    for (const auto& upload : collector_.uploads())
      for (const auto& session : upload.sessions) sessions.push_back(session);
    return sessions;
  }
  std::vector<std::string> partnerQueries() {
    std::vector<std::string> calls;
    for (const auto& call : collector_.partnerCalls())
      calls.push_back(call.path + "?" + (call.query.empty() ? "" : call.query[0].second));
    return calls;
  }
  void bundleWith(const std::string& entries) {
    ASSERT_TRUE(
        files::writeAtomic(bundle_ / "Info.plist",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                               entries + "</dict></plist>\n")
            .ok());
    auto previous = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(bundle_.path()));
    if (!previousBundle_) previousBundle_ = previous;
  }

  testing_support::TempDir home_;
  testing_support::TempDir bundle_;
  std::shared_ptr<runtime::Bundle> previousBundle_;
  foundation::ManualClock clock_{foundation::Date{kStart}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
  AnalyticsCollector collector_;
};

TEST_F(RelaySessionTest, AStartFetchesTheSettingsAndAPausePreparesTheCallsTheNextSessionFires) {
  start();
  ASSERT_EQ(collector_.configRequests().size(), 1u);
  EXPECT_EQ(collector_.configRequests()[0].projectKey, kApiKey);
  ASSERT_TRUE(storedRelaySettings());
  EXPECT_TRUE(collector_.partnerCalls().empty());

  auto& center = runtime::NotificationCenter::defaultCenter();
  clock_.advance(5);
  center.post(std::string(ui::kApplicationWillResignActiveNotification));
  settle();
  auto prepared =
      *TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kRelayPrepUrls);
  ASSERT_EQ(prepared.size(), 1u);
  EXPECT_EQ(prepared.begin()->first,
            std::to_string(static_cast<std::int64_t>(foundation::Date{kStart}.unix()) * 1000));

  // Back after the continue interval: a new session, whose creation fires the pause's calls with the
  // settings it already holds.
  clock_.advance(20);
  center.post(std::string(ui::kApplicationDidBecomeActiveNotification));
  settle();
  EXPECT_EQ(partnerQueries(), std::vector<std::string>{"/partner/end?5000"});
  EXPECT_EQ(collector_.configRequests().size(), 1u);
}

TEST_F(RelaySessionTest, ASessionLeftBehindFiresItsCallsAndItsBlockKeepsAnUnknownLength) {
  start();
  Tally::logEvent("note saved");
  settle();
  ASSERT_TRUE(TallyGlobalVariableStorage::sharedInstance()->savePersistentGlobalsToDisk());

  killProcess();
  freshProcess();
  clock_.advance(60);
  start();
  // No end was ever recorded: the call reports no duration and the block no length.
  EXPECT_EQ(partnerQueries(), std::vector<std::string>{"/partner/end?0"});
  bool found = false;
  for (const auto& session : delivered()) {
    if (session.events.empty() || session.events[0].name != "note saved") continue;
    found = true;
    EXPECT_EQ(session.lengthMillis, -1);
  }
  EXPECT_TRUE(found);
}

TEST_F(RelaySessionTest, WatchEventsFillAWatchSessionThatIsKeptAcrossProcessesAndSentWhenFullOrOld) {
  bundleWith(
      "<key>Tally Watch API Key</key><string>WK42</string>"
      "<key>Tally Watch Event Threshold</key><integer>2</integer>"
      "<key>Tally Watch App Version</key><string>3.1</string>");
  TallyWatch::setExtensionCheck([] { return true; });
  auto uploaded = [&](size_t n) { return loop_.runUntil([&] { return delivered().size() >= n; }, 20); };

  // The threshold below the least is raised to 5.
  for (int i = 1; i <= 4; ++i)
    ASSERT_EQ(TallyWatch::logWatchEvent(Value("tap " + std::to_string(i))), kTallyEventRecorded);
  TallyWatch::queue().drain();
  EXPECT_TRUE(std::filesystem::exists(TallySession::currentWatchSessionFilePath()));
  EXPECT_TRUE(std::filesystem::exists(TallySession::currentWatchAutoIncrementFilePath()));
  auto watch = TallySession::currentWatchSession();
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->watchEventThreshold(), 5);
  EXPECT_EQ(watch->watchAppVersion(), "3.1");

  // A new process takes the archived session up again; the fifth event fills it and it is sent.
  TallyWatch::queue().drain();
  TallySession::forgetWatchSession();
  TallyWatch::logWatchEvent(Value("tap 5"));
  TallyWatch::queue().drain();
  ASSERT_TRUE(uploaded(1));
  auto first = delivered()[0];
  std::vector<std::string> names;
  for (const auto& event : first.events) names.push_back(event.name);
  EXPECT_EQ(names, (std::vector<std::string>{"tap 1", "tap 2", "tap 3", "tap 4", "tap 5"}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(first.events[i].id, i + 1);
  EXPECT_FALSE(std::filesystem::exists(TallySession::currentWatchSessionFilePath()));

  // A session older than its duration threshold (10 minutes) is sent before the next event.
  TallyWatch::logWatchEvent(Value("old"));
  TallyWatch::queue().drain();
  clock_.advance(601);
  TallyWatch::logWatchEvent(Value("new"));
  TallyWatch::queue().drain();
  ASSERT_TRUE(uploaded(2));
  ASSERT_EQ(delivered()[1].events.size(), 1u);
  EXPECT_EQ(delivered()[1].events[0].name, "old");
  EXPECT_EQ(delivered()[1].events[0].id, 1);
}

}  // namespace
}  // namespace analytics
