// The session facade and real sessions behind the public interface: the statuses the caller gets,
// ids counted per session, what a block carries about the device, the background task around the
// pause, the waiting getters, a long session's cost, and opting out.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>

#include "analytics/tally.h"
#include "analytics/tally_session.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/ui/application.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Dictionary;

class FacadeTest : public SessionFixture {
 protected:
  // Resign, wait past the continue interval and come back: a new session.
  void startAnotherSession() {
    auto& app = ui::Application::shared();
    app.enterBackground();
    clock_.advance(11);
    app.enterForeground();
    settle();
  }
};

TEST_F(FacadeTest, TheCallerGetsTheFacadesStatusAndTheSessionAppliesItsOwnRules) {
  start();
  Dictionary eleven;
  for (int i = 0; i < 11; ++i) eleven.set("p" + std::to_string(i), "v");
  EXPECT_EQ(Tally::logEvent(""), kTallyEventFailed);
  EXPECT_EQ(Tally::logEventWithParameters("too_many", eleven), kTallyEventParamsCountExceeded);

  // 1,000 events of one session cost about the same each: a bound a session that rewrote its archive
  // for every event (12 s here) cannot meet.
  auto begun = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(Tally::logEvent("n" + std::to_string(i % 50)), kTallyEventRecorded);
  TallyImpl::instance()->flush();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));

  // The log is full: counted, not logged.
  EXPECT_EQ(Tally::logEvent("n1"), kTallyEventLogCountExceeded);
  for (int i = 50; i < 100; ++i) Tally::logEvent("n" + std::to_string(i));
  TallyImpl::instance()->flush();
  // 100 names: status 2 whatever the name, though the session still counts one it knows.
  EXPECT_EQ(Tally::logEvent("n1"), kTallyEventUniqueCountExceeded);
  EXPECT_EQ(Tally::logEvent("new"), kTallyEventUniqueCountExceeded);

  ui::Application::shared().terminate();
  settle();
  auto block = delivered().back();
  EXPECT_EQ(block.events.size(), 1000u);
  EXPECT_FALSE(block.eventLogComplete);
  EXPECT_EQ(block.eventCounts.size(), 100u);
  EXPECT_EQ(block.eventCounts[1], (std::pair<std::string, std::int32_t>{"n1", 22}));
}

// Ids start at one in every session. With crash reporting on, an error carries a report of the
// calling thread; without, none.
TEST_F(FacadeTest, IdsStartAtOneInEverySessionAndErrorsCarryALiveReportOnlyWithCrashReportingOn) {
  TallyGlobalVariableStorage::sharedInstance()->setCrashReportingEnabled(true);
  start();
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"a", "b", "c"}) Tally::logEvent(name);
    // Switched off in the first session: its second error and all that follow carry none.
    Tally::logErrorWithError(round == 0 ? "on" : "off", "m", std::nullopt);
    Tally::setCrashReportingEnabled(false);
    Tally::logErrorWithError("off", "m", std::nullopt);
    if (round == 0) startAnotherSession();
  }
  ui::Application::shared().terminate();
  settle();
  int withEvents = 0;
  for (const auto& session : delivered()) {
    if (session.events.empty()) continue;
    ++withEvents;
    ASSERT_EQ(session.events.size(), 3u);
    ASSERT_EQ(session.errors.size(), 2u);
    for (std::uint16_t i = 0; i < 3; ++i) EXPECT_EQ(session.events[i].id, i + 1);
    for (std::uint16_t i = 0; i < 2; ++i) {
      const auto& error = session.errors[i];
      EXPECT_EQ(error.id, i + 1);
      EXPECT_EQ(error.report && !error.report->empty(), error.errorString == "on") << error.errorString;
    }
  }
  EXPECT_EQ(withEvents, 2);
}

TEST_F(FacadeTest, ABlockCarriesTheLocaleTheTimeZoneAndTheDevicesStatistics) {
  foundation::ScopedDefaultLocale locale(foundation::Locale("de_DE"));
  foundation::ScopedDefaultTimeZone zone(*foundation::TimeZone::withIdentifier("Europe/Berlin"));
  start();
  Tally::logEvent("note saved");
  ui::Application::shared().terminate();
  settle();
  auto block = withEvent("note saved");
  ASSERT_TRUE(block);
  EXPECT_EQ(block->locale, "de_DE");
  EXPECT_EQ(block->timeZone, "Europe/Berlin");
  std::set<std::string> keys;
  for (const auto& p : block->parameters) {
    keys.insert(p.key);
    if (p.key == "device.locale") {
      EXPECT_EQ(p.value, "de_DE");
    } else if (p.key == "default.timezone") {
      EXPECT_EQ(p.value, "Europe/Berlin");
    } else if (p.key.starts_with("battery.charging")) {
      EXPECT_TRUE(p.value == "0" || p.value == "1") << p.key;
    }
  }
  std::set<std::string> expected{"memory.total",   "boot.time",     "disk.size.total",
                                 "disk.size.used", "device.locale", "default.timezone"};
  for (const char* phase : {".start", ".end"})
    for (const char* key : {"memory.used.wired", "memory.used.active", "memory.used.inactive", "cpu.load",
                            "battery.remaining", "battery.charging"})
      expected.insert(std::string(key) + phase);
  EXPECT_EQ(keys, expected);
}

TEST_F(FacadeTest, ThePauseRunsInABackgroundTaskAndTheGettersWaitForTheQueue) {
  start();
  auto& app = ui::Application::shared();
  auto impl = TallyImpl::instance();
  EXPECT_TRUE(impl->isBackgroundSupported());
  Tally::setLatitudeLongitude(52.52, 13.40, 10, 20);
  EXPECT_DOUBLE_EQ(impl->latitude(), TallyUtil::reduceLocationPrecision(52.52));
  EXPECT_FLOAT_EQ(impl->accuracy(), static_cast<float>(TallyUtil::reduceLocationPrecision(15)));
  Tally::setGender("f");
  EXPECT_EQ(impl->gender(), 0);
  impl->recordPurchaseItem(foundation::Value("premium"));
  impl->flush();
  EXPECT_EQ(TallySession::restoreCurrent()->purchaseItems(), std::vector<foundation::Value>{"premium"});

  auto pausedAt = clock_.now();
  app.enterBackground();
  // The task is ended on the main thread once the queue has paused the session.
  EXPECT_EQ(app.runningBackgroundTasks(), 1u);
  EXPECT_EQ(impl->pauseTime(), pausedAt);
  settle();
  EXPECT_EQ(app.runningBackgroundTasks(), 0u);
  clock_.advance(4);
  app.enterForeground();
  EXPECT_EQ(impl->totalPauseIntervalMillis(), 4000);
  EXPECT_EQ(impl->pauseTime(), std::nullopt);

  auto task = TallyImpl::registerBackgoundTask();
  EXPECT_NE(task, ui::Application::kInvalidBackgroundTask);
  TallyImpl::unregisterBackgoundTask(task);
  EXPECT_EQ(app.runningBackgroundTasks(), 0u);
}

// Opting out ends the session: its block goes once, later sessions are never sent (what the last end
// keeps is dropped by the next start).
TEST_F(FacadeTest, OptingOutSendsTheLastSessionOnceAndNothingAfter) {
  start();
  Tally::logEvent("before");
  Tally::setTallyOptOut(true);
  settle();
  startAnotherSession();
  Tally::logEvent("after");
  startAnotherSession();
  ui::Application::shared().terminate();
  settle();
  EXPECT_EQ(deliveredEventNames(), std::vector<std::string>{"before"});
  size_t uploads = collector_.uploads().size();
  killProcess();
  freshProcess();
  start();
  EXPECT_EQ(collector_.uploads().size(), uploads);
  EXPECT_TRUE(TallySession::savedSessions().empty());
  Tally::setTallyOptOut(false);
}

}  // namespace
}  // namespace analytics
