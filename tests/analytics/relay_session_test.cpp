// The session layer's calls into Relay and the watch session, against the stand-in collector: a start
// asks for the Relay settings, a pause prepares the callbacks that the next session fires, a session
// left behind fires its own without changing its block, and a watch extension's events reach a watch
// session that is kept across processes and sent when full or old.
#include <gtest/gtest.h>

#include <filesystem>

#include "analytics/relay_settings.h"
#include "analytics/watch_tally.h"
#include "platform/runtime/notification_center.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Value;

class RelaySessionTest : public SessionFixture {
 protected:
  RelaySessionTest() {
    TallyNetworkUtil::setConfigServerUrl(collector_.configUrl());
    testing_support::ConfigResponseFields fields;
    testing_support::ConfigTemplateFields callback;
    callback.partner = "adnet";
    callback.events = {"tally.session_end"};
    callback.uriTemplate = collector_.partnerUrl() + "/end?d=%{session_duration_millis}";
    fields.templates = {callback};
    collector_.setConfigResponse(200, testing_support::encodeConfigResponse(fields));
  }

  void startWithRelay() {
    Tally::setRelayEnabled(true);
    // The switch as this device has it, so preparing calls does not ask for new settings.
    TallyGlobalVariableStorage::sharedInstance()->setLastAdTrackingEnabledSetting(
        TallyUtil::isAdTrackingEnabled());
    start();
  }
  std::vector<std::string> partnerQueries() {
    std::vector<std::string> calls;
    for (const auto& call : collector_.partnerCalls())
      calls.push_back(call.path + "?" + (call.query.empty() ? "" : call.query[0].second));
    return calls;
  }
};

TEST_F(RelaySessionTest, AStartFetchesTheSettingsAndAPausePreparesTheCallsTheNextSessionFires) {
  startWithRelay();
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
            std::to_string(static_cast<std::int64_t>(foundation::Date{600000000}.unix()) * 1000));

  // Back after the continue interval: a new session, whose creation fires the pause's calls with the
  // settings it already holds.
  clock_.advance(20);
  center.post(std::string(ui::kApplicationDidBecomeActiveNotification));
  settle();
  EXPECT_EQ(partnerQueries(), std::vector<std::string>{"/partner/end?5000"});
  EXPECT_EQ(collector_.configRequests().size(), 1u);
}

TEST_F(RelaySessionTest, ASessionLeftBehindFiresItsCallsAndItsBlockKeepsAnUnknownLength) {
  startWithRelay();
  Tally::logEvent("note saved");
  // Events reach the archive with the next save; a new location is one.
  Tally::setLatitudeLongitude(52.5, 13.4, 10, 10);
  settle();
  ASSERT_TRUE(TallyGlobalVariableStorage::sharedInstance()->savePersistentGlobalsToDisk());

  killProcess();
  freshProcess();
  clock_.advance(60);
  startWithRelay();
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
