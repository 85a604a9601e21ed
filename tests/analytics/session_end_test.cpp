// What reaches the stand-in collector around a session's end and its neighbours: the end's length and
// ".end" figures arrive whether or not anything happened since the session's last send; a 2xx whose
// reply does not read is one delivery; nothing waiting goes out while the application is in the
// background; what the application was launched with travels until the session's next finish.
#include <algorithm>
#include <functional>
#include <set>

#include "platform/foundation/log.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using testing_support::AnalyticsCollector;
using testing_support::CollectedSession;

class SessionEndTest : public SessionFixture {
 protected:
  // Every case starts a new process on an empty SDK folder: no session left behind, saved or queued
  // by the case before.
  void newProcessOnEmptyFolder() {
    killProcess();
    if (auto folder = TallyUtil::filePathDirectory()) std::filesystem::remove_all(*folder);
    freshProcess();
  }
};

bool hasEndFigures(const CollectedSession& session) {
  return std::any_of(session.parameters.begin(), session.parameters.end(),
                     [](const auto& parameter) { return parameter.key.ends_with(".end"); });
}

// One thing the application or the person does.
enum class Step { kAdvance, kBackground, kForeground, kTerminate, kRestart };

TEST_F(SessionEndTest, EverySessionsEndArrivesWithItsLength) {
  struct Case {
    std::string name;
    bool reportsOnClose;
    bool reportsOnPause;
    std::vector<std::pair<Step, double>> steps;
    // Of every delivered block, and of those carrying the end's figures.
    std::multiset<std::int64_t> lengths;
    std::multiset<std::int64_t> endedLengths;
    // The length of each block kept for the next start.
    std::vector<std::int64_t> saved;
  };
  const std::vector<Case> cases{
      {"idle 30 s, terminated, started again",
       true,
       true,
       {{Step::kAdvance, 30}, {Step::kTerminate, 0}, {Step::kRestart, 0}},
       {-1, 30000, 30000, -1},
       {30000},
       {}},
      {"idle 30 s, terminated",
       true,
       true,
       {{Step::kAdvance, 30}, {Step::kTerminate, 0}},
       {-1, 30000},
       {30000},
       {30000}},
      {"no reports on close: the end goes with the next start",
       false,
       true,
       {{Step::kAdvance, 30}, {Step::kTerminate, 0}, {Step::kRestart, 0}},
       {-1, 30000, -1},
       {30000},
       {}},
      {"paused after 20 s, replaced, 5 s, terminated",
       true,
       true,
       {{Step::kAdvance, 20},
        {Step::kBackground, 0},
        {Step::kAdvance, 11},
        {Step::kForeground, 0},
        {Step::kAdvance, 5},
        {Step::kTerminate, 0}},
       {-1, 20000, -1, 5000},
       {20000, 5000},
       {5000}},
      {"the same without reports on pause",
       true,
       false,
       {{Step::kAdvance, 20},
        {Step::kBackground, 0},
        {Step::kAdvance, 11},
        {Step::kForeground, 0},
        {Step::kAdvance, 5},
        {Step::kTerminate, 0}},
       {-1, 20000, -1, 5000},
       {20000, 5000},
       {5000}},
  };
  auto& app = ui::Application::shared();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    newProcessOnEmptyFolder();
    const size_t before = delivered().size();
    Tally::setSessionReportsOnCloseEnabled(c.reportsOnClose);
    Tally::setSessionReportsOnPauseEnabled(c.reportsOnPause);
    start();
    for (auto [step, seconds] : c.steps) {
      switch (step) {
        case Step::kAdvance:
          clock_.advance(seconds);
          break;
        case Step::kBackground:
          app.enterBackground();
          break;
        case Step::kForeground:
          app.enterForeground();
          break;
        case Step::kTerminate:
          app.terminate();
          break;
        case Step::kRestart:
          killProcess(), freshProcess(), start();
          break;
      }
      settle();
    }
    std::multiset<std::int64_t> lengths, endedLengths;
    auto sessions = delivered();
    for (size_t i = before; i < sessions.size(); ++i) {
      lengths.insert(sessions[i].lengthMillis);
      if (hasEndFigures(sessions[i])) endedLengths.insert(sessions[i].lengthMillis);
    }
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(endedLengths, c.endedLengths);
    std::vector<std::int64_t> saved;
    for (const auto& block : TallySession::savedSessions()) {
      auto session = testing_support::decodeSessionBlock(block);
      ASSERT_TRUE(session.ok()) << session.error().localizedDescription();
      EXPECT_TRUE(session->events.empty());
      saved.push_back(session->lengthMillis);
    }
    EXPECT_EQ(saved, c.saved);
  }
}

// The collector got the envelope: its reply, cut short, must not bring the same events twice.
TEST_F(SessionEndTest, ADamagedReplyToAnUploadIsOneDelivery) {
  collector_.setFault(AnalyticsCollector::Fault::kMalformedReply);
  start();
  Tally::logEvent("note saved");
  ui::Application::shared().terminate();
  settle();
  collector_.setFault(AnalyticsCollector::Fault::kNone);
  // The next start's upload succeeds, which sends whatever still waits.
  killProcess();
  freshProcess();
  start();
  EXPECT_EQ(deliveredEventNames(), std::vector<std::string>{"note saved"});
  EXPECT_EQ(collector_.uploads().size(), 4u);  // the start and the end, the next start's two blocks
}

// A block whose upload failed waits: a network change sends it while the application is active, never
// while it is in the background.
TEST_F(SessionEndTest, ANetworkChangeInTheBackgroundSendsNothing) {
  auto& app = ui::Application::shared();
  for (bool background : {true, false}) {
    SCOPED_TRACE(background);
    newProcessOnEmptyFolder();
    start();
    collector_.setFault(AnalyticsCollector::Fault::kStatus500);
    const std::string name = background ? "kept in the background" : "sent when active";
    Tally::logEvent(name);
    app.enterBackground();  // the pause's own upload fails
    settle();
    collector_.setFault(AnalyticsCollector::Fault::kNone);
    if (!background) {
      app.enterForeground();
      settle();
    }
    const size_t uploads = collector_.uploads().size();
    TallyUtil::setLogLevel(2);
    foundation::ScopedLogCapture log;
    runtime::NotificationCenter::defaultCenter().post(std::string(kTallyNetworkStatusChangedNotification));
    settle();
    TallyUtil::setLogLevel(0);
    EXPECT_EQ(log.contains("Tally: application is in background, skipping sending data."), background);
    EXPECT_EQ(collector_.uploads().size(), uploads + (background ? 0 : 1));
    auto names = deliveredEventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), name), background ? 0 : 1);
  }
}

// Starts analytics while the application launches, as the diary does.
struct LaunchingDelegate : ui::ApplicationDelegate {
  bool didFinishLaunchingWithOptions(ui::Application&, const Dictionary&) override {
    Tally::startSession(kApiKey);
    return true;
  }
};

TEST_F(SessionEndTest, LaunchOptionsTravelUntilTheNextFinish) {
  using Options = std::vector<std::pair<std::string, std::vector<std::string>>>;
  const std::string url = "diary://note/3?from=reminder";
  const std::string kUrlKey(ui::kLaunchOptionsURLKey);
  struct Case {
    std::string name;
    Value options;
    // Through the launch notification, else through startSessionWithOptions once active.
    bool atLaunch;
    Options expected;
  };
  const std::vector<Case> cases{
      {"a URL and its source",
       Dictionary{{kUrlKey, url}, {"UIApplicationLaunchOptionsSourceApplicationKey", "com.mail"}},
       true,
       {{"UIApplicationLaunchOptionsSourceApplicationKey", {"com.mail"}}, {kUrlKey, {url}}}},
      {"a URL with an annotation",
       Dictionary{
           {kUrlKey, url},
           {"UIApplicationLaunchOptionsAnnotationKey", Dictionary{{"ref", "mail"},
                                                                  {"ids", Array{7, "a", Dictionary{}}},
                                                                  {"at", foundation::Date::fromUnix(1.5)},
                                                                  {"raw", foundation::Bytes{1}}}}},
       true,
       {{"at", {"1500"}}, {"ids", {"7", "a"}}, {"ref", {"mail"}}, {kUrlKey, {url}}}},
      {"options of no known kind, given to the start",
       Dictionary{{"campaign", "spring"}, {"count", 7}},
       false,
       {{"campaign", {"spring"}}, {"count", {"7"}}}},
      {"a list of dictionaries", Array{Dictionary{{"k", "v"}}, "not a dictionary"}, false, {{"k", {"v"}}}},
      {"nothing", Value(), false, {}},
  };
  auto& app = ui::Application::shared();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    newProcessOnEmptyFolder();
    const size_t before = collector_.uploads().size();
    LaunchingDelegate delegate;
    if (c.atLaunch) {
      app.setDelegate(&delegate);
      app.launch(*c.options.dictionary());
    } else {
      app.launch();
      Tally::startSessionWithOptions(kApiKey, c.options);
    }
    settle();
    auto uploads = collector_.uploads();
    ASSERT_EQ(uploads.size(), before + 1);
    Options got = uploads.back().launchOptions;
    Options expected = c.expected;
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);

    app.enterBackground();  // the pause finishes the session, then sends it
    settle();
    uploads = collector_.uploads();
    ASSERT_EQ(uploads.size(), before + 2);
    EXPECT_TRUE(uploads.back().launchOptions.empty());
    app.setDelegate(nullptr);
  }
}

TEST_F(SessionEndTest, TheAdCountersAreLoggedAndClearedAtEachNewSession) {
  auto store = storage();
  store->setAdsFetchCount(1);
  store->setAdRequestsCount(2);
  store->setAdsReturnedCount(3);
  store->setAdsReadyCount(4);
  store->setAdsImpressionFiredCount(5);
  TallyUtil::setLogLevel(2);
  foundation::ScopedLogCapture log;
  start();
  TallyUtil::setLogLevel(0);
  EXPECT_TRUE(
      log.contains("ad_fetch = 1, ad_requests = 2, ads_returned = 3, ad_ready = 4, Impression fired = 5"));
  EXPECT_EQ(
      std::vector<std::int64_t>({store->adsFetchCount(), store->adRequestsCount(), store->adsReturnedCount(),
                                 store->adsReadyCount(), store->adsImpressionFiredCount()}),
      std::vector<std::int64_t>(5, 0));
}

// What the session says of its switches and its user, of a failed save of its block (after which the
// saved sessions are as they were), and of going away while it still wraps the upload queue's blocks.
TEST_F(SessionEndTest, TheSessionLogsItsSettersAFailedSaveAndItsGoingAway) {
  start();
  const auto stored = TallySession::sessionsFilePath();
  struct Case {
    std::function<void()> act;
    std::string message;
  } cases[] = {
      {[] { Tally::setUserID("u1"); }, "TallySession: Set userID[u1]"},
      {[] { Tally::setEventLoggingEnabled(false); }, "TallySession: Event logging enabled[0]"},
      {[] { Tally::setSessionReportsOnCloseEnabled(true); }, "TallySession: Session reports on close enabled[1]"},
      {[] { Tally::setSessionReportsOnPauseEnabled(false); }, "TallySession: Session reports on pause enabled[0]"},
      {[] { Tally::setCrashReportingEnabled(false); }, "TallySession: Crash reporting enabled[0]"},
      // A folder where the saved sessions' file goes: every write of it fails.
      {[&] {
         std::filesystem::remove(stored);
         std::filesystem::create_directories(stored / "kept");
         Tally::endSession();
       },
       "+[TallySession addToSavedSessions:]: exception "},
  };
  TallyUtil::setLogLevel(2);
  for (const auto& c : cases) {
    foundation::ScopedLogCapture log;
    c.act();
    settle();
    EXPECT_TRUE(log.contains(c.message)) << c.message;
  }
  EXPECT_TRUE(std::filesystem::exists(stored / "kept"));
  foundation::ScopedLogCapture log;
  killProcess();
  TallyUtil::setLogLevel(0);
  EXPECT_TRUE(log.contains("TallySession: dealloc session"));
}

}  // namespace
}  // namespace analytics
