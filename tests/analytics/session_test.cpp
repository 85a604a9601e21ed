// The session lifecycle through the public interface, against the stand-in collector: each block
// delivered once, sessions surviving a kill, the continue interval to the millisecond, and a pending
// crash report attached to the next start.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>

#include "crash_reporter/reporter.h"
#include "platform/foundation/calendar.h"
#include "platform/runtime/notification_center.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Dictionary;
using testing_support::AnalyticsCollector;
using testing_support::CollectedSession;

// The whole-session fixture, shared with the Relay and watch tests.
using SessionTest = SessionFixture;

TEST_F(SessionTest, TheDiarysEventsArriveWithTheirParametersAndEveryBlockOnce) {
  auto& app = ui::Application::shared();
  // Sent at the end and at replacement only, so the pause total reaches the block.
  Tally::setSessionReportsOnPauseEnabled(false);
  EXPECT_EQ(Tally::logEvent("tutorial finished"), kTallyEventLoggingDelayed);
  start();
  auto first = current();
  ASSERT_NE(first, nullptr);
  // A boolean is a number on the platform and goes out as one; a date is dropped.
  EXPECT_EQ(Tally::logEventWithParameters(
                "note saved", Dictionary{{"words", "12"}, {"flag", true}, {"n", 5}, {"at", foundation::Date{5}}}),
            kTallyEventRecorded);

  // Back at exactly the continue interval: the same session, the pause counted.
  app.enterBackground();
  clock_.advance(10.0);
  app.enterForeground();
  settle();
  EXPECT_EQ(current(), first);
  EXPECT_FALSE(first->isPaused());
  EXPECT_EQ(first->totalPauseIntervalMillis(), 10000);

  // One millisecond later: a new session, the old one handed over with its event.
  app.enterBackground();
  clock_.advance(10.001);
  app.enterForeground();
  settle();
  ASSERT_NE(current(), first);
  Tally::logEvent("baby added");
  app.terminate();
  settle();
  // A second end (the quit path after the terminate notification) sends nothing more.
  Tally::endSession();
  settle();

  // Uploads may overlap, so blocks are found by their events, each delivered once.
  auto names = deliveredEventNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"baby added", "note saved", "tutorial finished"}));
  // The first block at the start, the first session at its replacement, the new one at its creation
  // and at its end; the end is kept once more for the next start.
  ASSERT_EQ(delivered().size(), 4u);
  auto noteSaved = withEvent("note saved");
  ASSERT_TRUE(noteSaved);
  EXPECT_EQ(noteSaved->totalPauseMillis, 10000);
  EXPECT_EQ(noteSaved->events[0].parameters,
            (testing_support::KeyValues{{"words", "12"}, {"flag", "1"}, {"n", "5"}}));
  EXPECT_EQ(TallySession::savedSessions().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(TallySession::currentSessionFilePath()));
}

// Events logged before the first session wait for it and reach its first block. One that no session
// records is answered with its refusal at once, yet cached: the session refuses it at the replay, and
// the block says its event log is incomplete.
TEST_F(SessionTest, ThePreSessionCacheReachesTheFirstBlockWithItsRefusals) {
  Dictionary eleven;
  for (int i = 0; i < 11; ++i) eleven.set("p" + std::to_string(i), "v");
  for (bool withRefusals : {false, true}) {
    const std::string name = withRefusals ? "graphics, refusals" : "graphics";
    EXPECT_EQ(Tally::logEventWithParameters(name, Dictionary{{"country", "DE"}}), kTallyEventLoggingDelayed);
    if (withRefusals) {
      EXPECT_EQ(Tally::logEvent(""), kTallyEventFailed);
      EXPECT_EQ(Tally::logEventWithParameters("too_many", eleven), kTallyEventParamsCountExceeded);
    }
    start();
    auto first = withEvent(name);
    ASSERT_TRUE(first) << name;
    ASSERT_EQ(first->events.size(), 1u) << name;
    EXPECT_EQ(first->events[0].parameters, (testing_support::KeyValues{{"country", "DE"}}));
    EXPECT_EQ(first->eventLogComplete, !withRefusals) << name;
    killProcess();
    freshProcess();
  }
}

TEST_F(SessionTest, ASessionLeftBehindByAKillIsDeliveredOnceByTheNextStart) {
  start();
  Tally::logEvent("note saved");
  // Events reach the archive with the next save; a new location is one.
  Tally::setLatitudeLongitude(52.5, 13.4, 10, 10);
  settle();
  EXPECT_TRUE(std::filesystem::exists(TallySession::currentSessionFilePath()));
  size_t before = delivered().size();

  killProcess();
  freshProcess();
  start();
  EXPECT_EQ(delivered().size(), before + 2);  // the one left behind, then the new one
  EXPECT_TRUE(withEvent("note saved"));

  // The next process sends the second one left behind, and nothing older again.
  killProcess();
  freshProcess();
  start();
  EXPECT_EQ(delivered().size(), before + 4);
  EXPECT_EQ(deliveredEventNames(), (std::vector<std::string>{"note saved"}));
}

// A pending crash report goes with the next start: on the session left behind when there is one,
// else on the new session; it is purged only once written. A start that cannot write the saved
// sessions loses neither the session left behind nor the report found with it, and no later start
// sends either again.
TEST_F(SessionTest, APendingCrashReportIsAttachedAtTheNextStartOnce) {
  enum Case { kLeftBehind, kNoneLeft, kSavedSessionsBlocked };
  for (Case c : {kLeftBehind, kNoneLeft, kSavedSessionsBlocked}) {
    SCOPED_TRACE(c);
    start();
    Tally::logEvent("before the crash");
    // Events reach the archive with the next save; a new location is one.
    Tally::setLatitudeLongitude(52.5, 13.4, 10, 10);
    settle();
    killProcess();
    if (c == kNoneLeft) std::filesystem::remove(TallySession::currentSessionFilePath());
    // Where the start's reporter looks: the SDK's home, named by the main bundle.
    auto reporter = *crash::TallyCrashReporter::initWithBundle(runtime::Bundle::main().get(), {}, TallyUtil::home());
    std::filesystem::create_directories(reporter->crashReportPath().parent_path());
    const Bytes report{'c', 'r', 'a', 's', 'h', 'l', 'g', 1, static_cast<std::uint8_t>(42 + c)};
    ASSERT_TRUE(files::writeAtomic(reporter->crashReportPath(), report).ok());
    const auto stored = TallySession::sessionsFilePath();
    if (c == kSavedSessionsBlocked) {
      TallyGlobalVariableStorage::sharedInstance()->setApiKey(std::string(kApiKey));
      // A folder where the saved sessions' file goes: every write of it fails.
      std::filesystem::remove(stored);
      std::filesystem::create_directories(stored / "blocked");
    }
    size_t before = delivered().size();

    freshProcess();
    TallyGlobalVariableStorage::sharedInstance()->setCrashReportingEnabled(true);
    start();
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    if (c == kSavedSessionsBlocked) std::filesystem::remove_all(stored);
    killProcess();
    freshProcess();
    start();

    auto sessions = delivered();
    size_t reports = 0, events = 0;
    for (size_t i = before; i < sessions.size(); ++i) {
      for (const auto& error : sessions[i].errors) reports += error.type == 3 && error.report == report;
      for (const auto& event : sessions[i].events) events += event.name == "before the crash";
    }
    EXPECT_EQ(reports, 1u);
    EXPECT_TRUE(c == kNoneLeft ? events <= 1 : events == 1) << events;  // never twice
    killProcess();
  }
}

// Page views 0.3 seconds apart or less count once; the count goes out with the block.
TEST_F(SessionTest, PageViewsCloserThanAThirdOfASecondCountOnce) {
  start();
  for (double gap : {0.0, 0.3, 0.301, 0.1, 1.0}) {
    clock_.advance(gap);
    Tally::logPageView();
  }
  settle();
  EXPECT_EQ(current()->report().pageViewCount, 3);
}

// SIGTERM ends the session before the process leaves: its block reaches the upload queue's store.
TEST_F(SessionTest, ATerminationSignalEndsTheSessionFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child re-runs this test from its start, with a home of its own: it takes the parent's from the
  // environment it inherits.
  ::setenv("SESSION_TEST_PARENT_HOME", home_.path().c_str(), 0);
  std::filesystem::path home = ::getenv("SESSION_TEST_PARENT_HOME");
  TallyNetworkUtil::setServerURL("http://127.0.0.1:9/ingest.do");
  EXPECT_EXIT(
      {
        killProcess();
        TallyUtil::setHome(files::AppHome(home));
        TallyNetworkUtil::setServerURL("http://127.0.0.1:9/ingest.do");
        freshProcess();
        start();
        Tally::logEvent("note saved");
        TallyImpl::instance()->flush();
        ASSERT_TRUE(TallyImpl::endSessionOnTerminationSignals().ok());
        std::raise(SIGTERM);
        for (;;) pause();
      },
      ::testing::KilledBySignal(SIGTERM), "");
  // The child's session was ended: no archive of a running session is left behind.
  TallyGlobalVariableStorage::sharedInstance()->setApiKey(std::string(kApiKey));
  EXPECT_FALSE(std::filesystem::exists(TallySession::currentSessionFilePath()));
  ::unsetenv("SESSION_TEST_PARENT_HOME");
}

// Restored from its archive, a session takes its four switches from the settings (the archive keeps
// none), so that it logs events or not as they say; an archive of another version is not restored.
TEST_F(SessionTest, ARestoredSessionTakesItsSwitchesFromTheSettingsAndOnlyItsOwnVersion) {
  start();
  settle();
  for (bool logging : {true, false}) {
    auto store = TallyGlobalVariableStorage::sharedInstance();
    store->setEventLoggingEnabled(logging);
    store->setSessionReportsOnCloseEnabled(!logging);
    store->setSessionReportsOnPauseEnabled(logging);
    store->setCrashReportingEnabled(!logging);
    TallyImpl::instance()->queue().sync([&] {
      auto restored = TallySession::restoreCurrent();
      ASSERT_NE(restored, nullptr);
      EXPECT_EQ(restored->sessionReportsOnCloseEnabled(), !logging);
      EXPECT_EQ(restored->sessionReportsOnPauseEnabled(), logging);
      EXPECT_EQ(restored->report().events.crashReportingEnabled, !logging);
      size_t before = restored->report().events.eventLog.size();
      restored->recordEvent("restored", std::nullopt, false);
      EXPECT_EQ(restored->report().events.eventLog.size(), before + (logging ? 1 : 0)) << logging;
    });
  }
  // The version is the first integer written; an archive saying 6 yields no session.
  auto forged = plist::archive([](plist::Coder& c) { c.encodeInt("serializationVersion", 6); });
  ASSERT_TRUE(forged.ok());
  ASSERT_TRUE(files::writeAtomic(TallySession::currentSessionFilePath(), *forged).ok());
  EXPECT_EQ(TallySession::restoreCurrent(), nullptr);
}

// Events logged after the return to the foreground began, but before the application became active
// again, belong to the session that replaces the paused one.
TEST_F(SessionTest, EventsOfTheReturnMoveToTheNextSession) {
  auto& app = ui::Application::shared();
  start();
  auto first = current();
  app.enterBackground();
  Tally::logEvent("while away");
  clock_.advance(20);
  TallyImpl::instance()->markSessionAsResuming();
  clock_.advance(1);
  Tally::logEvent("on the way back");
  runtime::NotificationCenter::defaultCenter().post(std::string(ui::kApplicationDidBecomeActiveNotification));
  settle();
  ASSERT_NE(current(), first);
  auto away = withEvent("while away");
  auto back = withEvent("on the way back");
  ASSERT_TRUE(away && back) << testing::PrintToString(deliveredEventNames());
  EXPECT_NE(away->startMillis, back->startMillis);
}

// Ages outside 1 to 150 change nothing; another gives 1 January of the birth year, local midnight.
TEST_F(SessionTest, AgesBecomeTheFirstDayOfTheBirthYear) {
  start();
  auto calendar = foundation::Calendar::current();
  int year = *calendar.component(foundation::CalendarUnit::Year, clock_.now());
  foundation::DateComponents birth;
  birth.year = year - 30;
  TallyImpl::instance()->queue().sync([&] {
    auto session = current();
    for (int age : {0, 151}) {
      session->setAgeInYears(age, clock_.now());
      EXPECT_FALSE(session->report().birthDate) << age;
    }
    session->setAgeInYears(30, clock_.now());
    EXPECT_EQ(session->report().birthDate, calendar.dateFromComponents(birth));
  });
}

// What the application tells the interface about the user, timed events and errors goes out with the
// session's block.
TEST_F(SessionTest, UserFactsTimedEventsErrorsAndOriginGoOutWithTheBlock) {
  Tally::addSessionOrigin("reminder");
  Tally::sessionProperties(Dictionary{{"plan", "free"}});
  start();
  Tally::setGender("f");
  Tally::setGender(7);  // refused: not a text
  Tally::setAge(30);
  Tally::setLatitudeLongitude(52.52, 13.40, 10, 30);
  EXPECT_EQ(Tally::logEventTimed("sleep", true), kTallyEventRecorded);
  clock_.advance(5);
  Tally::endTimedEvent("sleep", Dictionary{{"side", "left"}});
  std::runtime_error failure("disk full");
  Tally::logErrorWithException("save", "could not save", &failure);
  Tally::logErrorWithError("cloud", "upload", foundation::Error("NSURLErrorDomain", -1009));
  foundation::Error withReason = foundation::Error::make("D", 1, "desc");
  withReason.userInfo.set(std::string(foundation::Error::kLocalizedFailureReasonKey), "reason");
  Tally::logErrorWithError("restore", "unzip", withReason);
  Tally::endSession();
  settle();

  auto block = withEvent("sleep");
  ASSERT_TRUE(block);
  EXPECT_EQ(block->gender, 0);
  EXPECT_TRUE(block->birthMillis);
  EXPECT_NEAR(block->latitude, 52.52, 0.01);
  EXPECT_NEAR(block->accuracy, 20, 1);
  EXPECT_EQ(block->events[0].durationMillis, 5000);
  EXPECT_EQ(block->events[0].parameters, (testing_support::KeyValues{{"side", "left"}}));
  // An exception gives its class and reason; an error object its description and failure reason.
  const std::tuple<std::string, std::string, int> errors[] = {
      {"save", "std::runtime_error: disk full", 2},
      {"cloud", "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1009.): (null)", 1},
      {"restore", "desc: reason", 1}};
  ASSERT_EQ(block->errors.size(), std::size(errors));
  for (size_t i = 0; i < std::size(errors); ++i) {
    const auto& e = block->errors[i];
    EXPECT_EQ(std::tuple(e.errorString, e.exceptionString, int{e.type}), errors[i]);
  }
  EXPECT_EQ(block->origin, "reminder");
  EXPECT_EQ(block->properties, (testing_support::KeyValues{{"plan", "free"}}));
}

// The first use of a key is kept in the keychain: later sessions of the key find it, another key
// starts afresh.
TEST_F(SessionTest, TheFirstUseOfAKeyIsKeptAcrossSessions) {
  start();
  foundation::Date firstStart = clock_.now();
  clock_.advance(3600);
  TallyImpl::instance()->queue().sync([&] {
    EXPECT_EQ(current()->initialTimestamp(), firstStart);
    auto later = TallySession::initWithAPIKey(std::string(kApiKey), "1", clock_.now());
    EXPECT_EQ(later->initialTimestamp(), firstStart);
    auto other = TallySession::initWithAPIKey("ANOTHERKEY", "1", clock_.now());
    EXPECT_EQ(other->initialTimestamp(), clock_.now());
  });
}

// With reports on pause (the default) the application's trip to the background sends the block with
// its events; the termination reports the end without them, and a second end sends nothing more.
TEST_F(SessionTest, APauseThenTerminationSendsTheEventsOnceAndTheEnd) {
  auto& app = ui::Application::shared();
  start();
  Tally::logEvent("note saved");
  settle();
  size_t before = delivered().size();
  app.enterBackground();
  app.terminate();
  Tally::endSession();
  settle();
  EXPECT_EQ(delivered().size(), before + 2);
  EXPECT_EQ(deliveredEventNames(), std::vector<std::string>{"note saved"});
  EXPECT_EQ(TallySession::savedSessions().size(), 1u);
}

// Events logged while the session is paused are never dropped: a second pause leaves them for the
// return to put into the log, and an end that no return precedes sends them with the end.
TEST_F(SessionTest, EventsLoggedWhilePausedAreDeliveredOnceWhateverFollows) {
  auto& app = ui::Application::shared();
  start();
  app.enterBackground();
  Tally::logEvent("away, paused again");
  Tally::pauseSession();
  clock_.advance(2);
  app.enterForeground();
  settle();
  app.enterBackground();
  Tally::logEvent("away, then quit");
  app.terminate();
  settle();
  auto names = deliveredEventNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"away, paused again", "away, then quit"}));
}

// Reply cookies are kept under their key bytes, text or not, and the next process sends them all.
TEST_F(SessionTest, ReplyCookiesKeyedByTextOrBytesGoOutAgainAfterARestart) {
  std::vector<std::pair<Bytes, Bytes>> cookies{{Bytes{'s', 'i', 'd'}, Bytes{'4', '2'}},
                                               {Bytes{0xFF, 0x6B}, Bytes{'v'}}};
  collector_.setReplyCookies(cookies);
  start();
  killProcess();
  collector_.setReplyCookies({});
  size_t before = collector_.uploads().size();
  freshProcess();
  start();
  auto uploads = collector_.uploads();
  ASSERT_GT(uploads.size(), before);
  std::sort(cookies.begin(), cookies.end());
  for (size_t i = before; i < uploads.size(); ++i) {
    auto sent = uploads[i].cookies;
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, cookies) << i;
  }
}

}  // namespace
}  // namespace analytics
