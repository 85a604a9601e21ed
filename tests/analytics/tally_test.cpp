// The public analytics interface: argument checks, the pre-session cache, the start and the
// application's lifecycle, and exceptions kept from the caller. The sessions here are recording
// doubles; what the real facade answers is tested in facade_test.cpp.
#include "analytics/tally.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "analytics/global_variable_storage.h"
#include "analytics/tally_util.h"
#include "crash_reporter/reporter.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "support/recording_session.h"
#include "support/temp_dir.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Dictionary;
using foundation::Value;

class TallyTest : public SdkFixture {
 protected:
  // Quiet by default; tests of the messages raise the level.
  TallyTest() { reset(0); }
  ~TallyTest() override {
    reset(1);
    CurrentSession::setFactory(nullptr);
  }

  void reset(std::uint32_t logLevel) {
    Tally::shutdown();
    CurrentSession::setFactory(
        [](SessionStart start) { return std::make_shared<RecordingSession>(std::move(start)); });
    CurrentSession::clearPreCache();
    ui::Application::shared().reset();
    TallyUtil::setClock(&clock_);
    TallyUtil::setHome(files::AppHome(home_.path()));
    TallyUtil::setLogLevel(logLevel);
    TallyUtil::setShowErrorInLogEnabled(false);
  }

  static std::shared_ptr<RecordingSession> recorder() {
    return std::dynamic_pointer_cast<RecordingSession>(CurrentSession::get());
  }
};

TEST_F(TallyTest, EventsBeforeTheFirstSessionWaitAndAreRecordedFirst) {
  EXPECT_EQ(Tally::logEvent("graphics"), kTallyEventLoggingDelayed);
  Dictionary params{{"dayNum", "3"}, {"country", "DE"}};
  EXPECT_EQ(Tally::logEventWithParameters("tutorial_finished", params), kTallyEventLoggingDelayed);
  EXPECT_EQ(CurrentSession::preCachedEvents().size(), 2u);
  EXPECT_FALSE(Tally::activeSessionExists());

  Tally::startSession(kApiKey);
  ASSERT_TRUE(Tally::activeSessionExists());
  EXPECT_EQ(Tally::logEvent("graphics"), kTallyEventRecorded);

  auto session = recorder();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->apiKey(), kApiKey);
  EXPECT_EQ(session->startTime(), clock_.now());
  auto events = session->events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].name, "graphics");
  EXPECT_EQ(events[1].name, "tutorial_finished");
  EXPECT_EQ(events[1].params, params);
  EXPECT_EQ(events[2].name, "graphics");
  EXPECT_TRUE(CurrentSession::preCachedEvents().empty());
}

TEST_F(TallyTest, OnlyTextNamesAndDictionaryParametersAreAccepted) {
  TallyUtil::setLogLevel(2);
  for (bool started : {false, true}) {
    if (started) Tally::startSession(kApiKey);
    foundation::ScopedLogCapture log;
    EXPECT_EQ(Tally::logEvent(42), kTallyEventFailed);
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"Tally: Event not logged -- eventName must be of NSString type."});
    EXPECT_EQ(Tally::logEvent(Value()), kTallyEventFailed);
    EXPECT_EQ(Tally::logEventWithParameters("x", Value("not a dictionary")), kTallyEventFailed);
    Dictionary eleven;
    for (int i = 0; i < 11; ++i) eleven.set("p" + std::to_string(i), "v");
    // Refused before a session exists too (no session would record them), yet cached: the session
    // refuses them again at replay, which marks its event log incomplete.
    if (!started) {
      EXPECT_EQ(Tally::logEvent(""), kTallyEventFailed);
      EXPECT_EQ(Tally::logEventWithParameters("too_many", eleven), kTallyEventParamsCountExceeded);
    }
    eleven.erase("p10");
    EXPECT_EQ(Tally::logEventWithParameters("ten", eleven),
              started ? kTallyEventRecorded : kTallyEventLoggingDelayed);
    // Values need not be text: "cloud_up_failed" sends its code as a number.
    EXPECT_EQ(Tally::logEventWithParameters("cloud_up_failed", Dictionary{{"code", -1009}}),
              started ? kTallyEventRecorded : kTallyEventLoggingDelayed);
    if (!started) {
      EXPECT_EQ(CurrentSession::preCachedEvents().size(), 4u);
    }
  }
  EXPECT_EQ(recorder()->eventNames(),
            (std::vector<std::string>{"", "too_many", "ten", "cloud_up_failed", "ten", "cloud_up_failed"}));
}

TEST_F(TallyTest, TheDiarysLaunchSequenceStartsTheSessionWhenTheLaunchEnds) {
  struct Delegate : ui::ApplicationDelegate {
    bool didFinishLaunchingWithOptions(ui::Application&, const Dictionary&) override {
      Tally::setUserID("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
      Tally::setCrashReportingEnabled(false);
      Tally::setAppVersion("1.4");
      Tally::startSession(kApiKey);
      sessionDuringLaunch = Tally::activeSessionExists();
      statusDuringLaunch = Tally::logEvent("launched");
      return true;
    }
    bool sessionDuringLaunch = true;
    TallyEventRecordStatus statusDuringLaunch = kTallyEventFailed;
  } delegate;
  ui::Application::shared().setDelegate(&delegate);
  {
    foundation::ScopedLogCapture quiet;  // at level 0 the start logs nothing
    ASSERT_TRUE(ui::Application::shared().launch());
    EXPECT_EQ(quiet.messages(), std::vector<std::string>{});
  }

  EXPECT_FALSE(delegate.sessionDuringLaunch);
  EXPECT_EQ(delegate.statusDuringLaunch, kTallyEventLoggingDelayed);
  auto session = recorder();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->apiKey(), kApiKey);
  EXPECT_EQ(session->userID(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(session->crashReportingEnabled(), false);
  EXPECT_EQ(session->eventNames(), std::vector<std::string>{"launched"});
  EXPECT_EQ(session->sendCount(), 1);
  // Becoming active right after the launch resumes the new session.
  EXPECT_EQ(session->resumeCount(), 1);
  auto settings = TallyGlobalVariableStorage::sharedInstance();
  EXPECT_EQ(settings->appVersion(), "1.4");
  EXPECT_EQ(settings->apiKey(), kApiKey);
  EXPECT_EQ(settings->appApplicationState(), 0);
  // Set after the start, they still reach the session.
  Tally::setUserID("after");
  Tally::setCrashReportingEnabled(true);
  EXPECT_EQ(std::tuple(session->userID(), session->crashReportingEnabled()), std::tuple("after", true));
  EXPECT_EQ(settings->userID(), "after");

  // A second launch notification does not start a second session.
  ui::Application::shared().reset();
  ui::Application::shared().launch();
  EXPECT_EQ(recorder(), session);
}

TEST_F(TallyTest, TheStartIsLoggedBehindTheLogLevel) {
  TallyUtil::setLogLevel(2);
  Tally::setCrashReportingEnabled(true);
  foundation::ScopedLogCapture log;
  Tally::startSession(kApiKey);
  // Less the five persistent-map paths the settings print when they take the key, and what the
  // network status and the settings handed to the new session print.
  std::vector<std::string> messages;
  for (auto& message : log.messages()) {
    if (message.rfind("-[TallyGlobalVariableStorage getPersistentFilePath:]", 0) != 0 &&
        message.rfind("initial network status", 0) != 0 &&
        message.rfind("Tally: Background session enabled", 0) != 0 &&
        // Crash reporting is enabled once per process: a later start in this process is refused.
        message.rfind("Tally: Failed to initialize crash reporter: Error Domain=CrashReporterErrorDomain",
                      0) != 0)
      messages.push_back(message);
  }
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[0], "Tally: startSession called for the first time");
  EXPECT_EQ(messages[1], "Tally: Start session called with apiKey[ZK4PW8RXT2MQ6VNB3LHD]");
  EXPECT_EQ(messages[2], "Tally: Starting session on Agent Version [Tally_iOS_155_6.7.0] ");
  EXPECT_EQ(messages[3], "Tally: crash reporting enabled");
  EXPECT_EQ(messages[4], "Tally: Trim white space and use apiKey[ZK4PW8RXT2MQ6VNB3LHD]");
  EXPECT_EQ(messages[5], "Tally: Finish starting session with apiKey[ZK4PW8RXT2MQ6VNB3LHD]");
  EXPECT_EQ(recorder()->crashReportingEnabled(), true);
  // The reporter is made with the SDK's configuration and kept in the settings.
  auto reporter = TallyGlobalVariableStorage::sharedInstance()->tallyCrashReporter();
  ASSERT_NE(reporter, nullptr);
  EXPECT_EQ(reporter->crashReportDirectory().string().rfind(home_.path().string(), 0), 0u);
  EXPECT_EQ(Tally::getTallyAgentVersion(), "Tally_iOS_155_6.7.0");

  // A second start changes nothing, and says so from level 1 on.
  auto first = recorder();
  TallyUtil::setLogLevel(0);
  {
    foundation::ScopedLogCapture quiet;
    Tally::startSession("ANOTHERKEY0000000000");
    EXPECT_TRUE(quiet.messages().empty());
  }
  TallyUtil::setLogLevel(1);
  foundation::ScopedLogCapture again;
  Tally::startSession(kApiKey);
  EXPECT_EQ(recorder(), first);
  EXPECT_EQ(first->apiKey(), kApiKey);
  EXPECT_EQ(again.messages(),
            std::vector<std::string>{
                "Tally: startSession has been called already. It should only be called once. Returning."});
}

TEST_F(TallyTest, TheAppVersionStartsAsTheBundleVersionAndCanOnlyBeSetBeforeTheFirstSession) {
  testing_support::TempDir dir;
  ASSERT_TRUE(
      files::writeAtomic(dir / "Info.plist", std::string_view("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                                              "<plist version=\"1.0\"><dict>"
                                                              "<key>CFBundleVersion</key><string>117</string>"
                                                              "</dict></plist>\n"))
          .ok());
  auto previous = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(dir.path()));
  TallyGlobalVariableStorage::cleanup();
  EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->appVersion(), "117");
  runtime::Bundle::setMain(previous);

  TallyUtil::setLogLevel(2);
  {
    foundation::ScopedLogCapture log;
    Tally::setAppVersion("1.4");
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Tally: setAppVersion[1.4]"});
  }
  Tally::startSession(kApiKey);
  TallyUtil::setLogLevel(1);
  foundation::ScopedLogCapture log;
  Tally::setAppVersion("2.0");
  EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->appVersion(), "1.4");
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{"Tally: Please call setAppVersion before startSession."});
}

TEST_F(TallyTest, AReturnWithinTheContinueIntervalResumesOneMillisecondMoreStartsAnew) {
  auto& app = ui::Application::shared();
  app.launch();
  Tally::setUserID("user");
  Tally::startSession(kApiKey);
  auto first = recorder();
  ASSERT_NE(first, nullptr);

  app.enterBackground();
  EXPECT_EQ(first->pauseCount(), 1);
  EXPECT_EQ(TallyGlobalVariableStorage::sharedInstance()->pauseTime(), clock_.now());
  clock_.advance(10.0);
  app.enterForeground();
  EXPECT_EQ(first->resumingMarkCount(), 1);
  EXPECT_EQ(first->resumeCount(), 1);
  EXPECT_EQ(recorder(), first);

  // The elapsed time is cut to whole milliseconds, not rounded.
  app.enterBackground();
  clock_.advance(10.0009);
  app.enterForeground();
  EXPECT_EQ(recorder(), first);

  app.enterBackground();
  clock_.advance(10.001);
  app.enterForeground();
  auto second = recorder();
  ASSERT_NE(second, first);
  EXPECT_TRUE(second->replacedASession());
  EXPECT_EQ(second->startTime(), clock_.now());
  EXPECT_EQ(second->userID(), "user");
  EXPECT_EQ(second->sendCount(), 1);
  EXPECT_EQ(first->pauseCount(), 3);
  EXPECT_EQ(second->resumeCount(), 0);

  app.terminate();
  EXPECT_EQ(second->endCount(), 1);
}

// A continue interval whose milliseconds pass 2^31 still resumes: nothing is counted in 32 bits.
// Background sessions are not paused on resign.
TEST_F(TallyTest, ALongContinueIntervalDoesNotOverflowAndBackgroundSessionsAreNotPaused) {
  auto& app = ui::Application::shared();
  app.launch();
  Tally::startSession(kApiKey);
  auto first = recorder();
  ASSERT_NE(first, nullptr);
  TallyGlobalVariableStorage::sharedInstance()->setPauseSecondsBeforeStartingNewSession(3000000);
  app.enterBackground();
  clock_.advance(2500000.0);
  app.enterForeground();
  EXPECT_EQ(recorder(), first);
  EXPECT_EQ(first->resumeCount(), 1);
  TallyGlobalVariableStorage::sharedInstance()->setBackgroundSessionEnabled(true);
  app.enterBackground();
  EXPECT_EQ(first->pauseCount(), 1);
}

TEST_F(TallyTest, AfterShutdownTheApplicationIsNoLongerFollowed) {
  auto& app = ui::Application::shared();
  app.launch();
  Tally::startSession(kApiKey);
  auto session = recorder();
  Tally::shutdown();
  app.enterBackground();
  app.terminate();
  EXPECT_EQ(session->pauseCount(), 0);
  EXPECT_EQ(session->endCount(), 0);
  EXPECT_FALSE(Tally::activeSessionExists());
  // Settings start afresh: analytics can start again.
  Tally::startSession(kApiKey);
  EXPECT_TRUE(Tally::activeSessionExists());
}

// A session whose every operation fails.
class FailingSession : public SessionSink {
 public:
  void setUserID(const std::string&) override { throw std::runtime_error("boom"); }
  void setCrashReportingEnabled(bool) override { throw std::runtime_error("boom"); }
  TallyEventRecordStatus recordEvent(const std::string&, const std::optional<Dictionary>&, bool) override {
    throw std::runtime_error("boom");
  }
  void pauseSession() override { throw 7; }
  void markSessionAsResuming() override { throw std::runtime_error("boom"); }
  void resumeSession() override { throw std::runtime_error("boom"); }
  void endSession() override { throw std::runtime_error("boom"); }
  void sendSessionsToServerForCreateSession() override { throw std::runtime_error("boom"); }
};

TEST_F(TallyTest, NoExceptionReachesTheCaller) {
  CurrentSession::setFactory([](SessionStart) { return std::make_shared<FailingSession>(); });
  auto& app = ui::Application::shared();
  app.launch();
  EXPECT_NO_THROW(Tally::startSession(kApiKey));
  ASSERT_TRUE(Tally::activeSessionExists());
  EXPECT_NO_THROW(Tally::setUserID("u"));
  EXPECT_NO_THROW(Tally::setCrashReportingEnabled(true));
  EXPECT_EQ(Tally::logEvent("graphics"), kTallyEventFailed);
  EXPECT_NO_THROW(app.enterBackground());
  EXPECT_NO_THROW(app.enterForeground());
  EXPECT_NO_THROW(app.terminate());

  // Shown only when asked for, at log level 2.
  TallyUtil::setLogLevel(2);
  {
    foundation::ScopedLogCapture log;
    Tally::logEvent("graphics");
    EXPECT_TRUE(log.messages().empty());
  }
  TallyUtil::setShowErrorInLogEnabled(true);
  foundation::ScopedLogCapture log;
  Tally::logEvent("graphics");
  Tally::pauseSession();
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{"Tally: Caught Exception in Tally Analytics Code",
                                      "Tally: -----------------------------------------",
                                      "Tally: Name:std::runtime_error Reason:boom", "Tally: (null)",
                                      "Tally: Caught Error in Tally Analytics Code",
                                      "Tally: an exception of unknown type"}));
}

TEST_F(TallyTest, EventsLoggedWhileTheSessionStartsAreNeitherLostNorReordered) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto status = Tally::logEventWithParameters("t" + std::to_string(t), Dictionary{{"i", i}});
        if (status != kTallyEventRecorded && status != kTallyEventLoggingDelayed) ADD_FAILURE() << status;
      }
    });
  }
  Tally::startSession(kApiKey);
  for (auto& thread : threads) thread.join();

  auto events = recorder()->events();
  ASSERT_EQ(events.size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_TRUE(CurrentSession::preCachedEvents().empty());
  // Each thread's events arrive in the order it logged them.
  std::vector<std::int64_t> next(kThreads, 0);
  for (const auto& event : events) {
    int t = event.name[1] - '0';
    EXPECT_EQ((*event.params)["i"].toInteger().value_or(-1), next[t]++);
  }
}

TEST_F(TallyTest, TheDelegateHearsOfEachNewSessionWithItsId) {
  struct Listener : TallyDelegate {
    void tallySessionDidCreateWithInfo(const Dictionary& info) override { heard.push_back(info); }
    std::vector<Dictionary> heard;
  } listener;
  EXPECT_EQ(Tally::getSessionID(), "0");
  Tally::setDelegate(&listener);
  Tally::startSession(kApiKey);
  Tally::setDelegate(nullptr);
  // 600000000 seconds after 2001 began, in milliseconds since 1970.
  EXPECT_EQ(Tally::getSessionID(), "1578307200000");
  EXPECT_EQ(listener.heard,
            (std::vector<Dictionary>{{{"apiKey", std::string(kApiKey)}, {"sessionId", "1578307200000"}}}));
}

TEST(TallyUtilTest, SystemVersionsAsNumbers) {
  ui::DeviceProfile profile;
  for (auto [text, number] : std::vector<std::pair<std::string, std::int64_t>>{
           {"8.0", 80000}, {"5.0.1", 50001}, {"5.1", 50100}, {"7", 70000}, {"4.3.2.1", 40302}, {"", 0}}) {
    profile.systemVersion = text;
    ui::ScopedDevice device(profile);
    EXPECT_EQ(TallyUtil::getSystemVersionAsAnInteger(), number) << text;
  }
}

}  // namespace
}  // namespace analytics
