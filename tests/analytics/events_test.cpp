// Events and errors of a session: limits and statuses, pending events, timed events, errors, the
// event and error records, and their keyed archives.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "analytics/auto_increment.h"
#include "analytics/tally_event.h"
#include "analytics/tally_util.h"
#include "tests/analytics/session_fixture.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;

class EventsTest : public SdkFixture {
 protected:
  EventsTest() { TallyAutoIncrement::instance()->resetAll(); }

  static Dictionary params(int n) {
    Dictionary d;
    for (int i = 0; i < n; ++i) d.set("k" + std::to_string(i), "v");
    return d;
  }

  TallySessionEvents events_;
};

TEST_F(EventsTest, LimitsGiveTheirStatusesAndMarkTheLogIncomplete) {
  EXPECT_EQ(events_.recordEvent("", std::nullopt, false, false), kTallyEventFailed);
  EXPECT_FALSE(events_.eventLogComplete);
  events_.eventLogComplete = true;
  EXPECT_EQ(events_.recordEvent("a", params(11), false, false), kTallyEventParamsCountExceeded);
  EXPECT_EQ(events_.recordEvent("a", params(10), false, false), kTallyEventRecorded);
  for (int i = 1; i < 100; ++i) events_.recordEvent("n" + std::to_string(i), std::nullopt, false, false);
  EXPECT_EQ(events_.recordEvent("new", std::nullopt, false, false), kTallyEventNotLogged);
  EXPECT_EQ(events_.eventCounts.size(), 100u);
  // One of the first hundred names is still counted and logged.
  EXPECT_EQ(events_.recordEvent("a", std::nullopt, false, false), kTallyEventRecorded);
  for (size_t i = events_.eventLog.size(); i < kTallyMaxLoggedEvents; ++i)
    events_.recordEvent("a", std::nullopt, false, false);
  EXPECT_EQ(events_.recordEvent("a", std::nullopt, false, false), kTallyEventLogCountExceeded);
  EXPECT_EQ(events_.eventLog.size(), kTallyMaxLoggedEvents);
  EXPECT_EQ(events_.eventCounts.front().second, 902);
  EXPECT_EQ(events_.totalEventCount(), 902 + 99);
}

TEST_F(EventsTest, ParametersKeepStringsAndNumbersRefuseAMergeBeyondTenAndRecordsAreBigEndian) {
  TallyEvent event("e", true, Dictionary{{"s", "x"}, {"n", 3}, {"d", Date{5}}});
  EXPECT_EQ(event.parameters(), (Dictionary{{"s", "x"}, {"n", 3}}));
  EXPECT_EQ(event.eventLogId(), 1);
  event.updateParameters(params(9));
  EXPECT_EQ(event.parameters()->size(), 2u);
  event.updateParameters(params(8));
  EXPECT_EQ(event.parameters()->size(), 10u);

  // Records are big-endian and relative to the session's start; ids count from one again.
  TallyAutoIncrement::instance()->resetAll();
  Date start = clock_.now() - 2;
  TallyEvent record("abc", false, Dictionary{{"k", 7}});
  EXPECT_EQ(record.dataRelativeToSessionStart(start),
            (Bytes{0, 1, 0, 3, 'a', 'b',  'c',  0, 1, 0, 1, 'k', 0, 1, '7', 0,
                   0, 0, 0, 0, 0,   0x07, 0xD0, 0, 0, 0, 0, 0,   0, 0, 0}));
  // String parameters with a timed event that ended, and a value long enough to be cut.
  TallyEvent timed("t", true, Dictionary{{"k", "v"}, {"edge", std::string(255, 'e')}}, start + 1);
  timed.end(start + 1.5, false);
  const Bytes both = timed.dataRelativeToSessionStart(start);
  ASSERT_EQ(both.size(), 2u + 3 + 2 + 3 + 3 + 6 + 2 + 255 + 16);
  EXPECT_EQ(Bytes(both.begin(), both.begin() + 13), (Bytes{0, 2, 0, 1, 't', 0, 2, 0, 1, 'k', 0, 1, 'v'}));
  EXPECT_EQ(Bytes(both.end() - 16, both.end()), (Bytes{0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0x01, 0xF4}));
  TallyEvent longValue("l", false, Dictionary{{"k", std::string(300, 'x')}});
  const Bytes cut = longValue.dataRelativeToSessionStart(start);
  ASSERT_EQ(cut.size(), 2u + 3 + 2 + 3 + 2 + 255 + 16);
  EXPECT_EQ(Bytes(cut.begin() + 10, cut.begin() + 13), (Bytes{0, 255, 'x'}));
  auto error = TallyError::errorWithString("", "", "", 1, Bytes{9});
  error->errorID = 0x10005;
  error->date = Date::fromUnix(1);
  Bytes out;
  error->appendToData(out);
  EXPECT_EQ(out, (Bytes{0, 5, 0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 9}));
}

TEST_F(EventsTest, PendingAndTimedEvents) {
  EXPECT_EQ(events_.recordEvent("walk", std::nullopt, true, true), kTallyEventLoggingDelayed);
  clock_.advance(10);
  Date resume = clock_.now();
  clock_.advance(1);
  events_.recordEvent("late", std::nullopt, false, true);
  events_.mergeValidPendingEventLog(resume);
  ASSERT_EQ(events_.eventLog.size(), 1u);
  EXPECT_EQ(events_.pendingEventLog.size(), 1u);

  clock_.advance(2.5);
  EXPECT_TRUE(events_.endTimedEvent("walk", Dictionary{{"km", 2}}));
  EXPECT_FALSE(events_.endTimedEvent("walk", std::nullopt));
  EXPECT_EQ(events_.eventLog[0]->duration(), 13500);
  // An event ended automatically earlier is ended again at the finish.
  events_.recordEvent("nap", std::nullopt, true, false);
  events_.endTimedEvents(clock_.now() + 1);
  events_.endTimedEvents(clock_.now() + 4);
  EXPECT_TRUE(events_.eventLog[1]->automaticallyEnded());
  EXPECT_EQ(events_.eventLog[1]->duration(), 4000);
  EXPECT_EQ(events_.eventLog[0]->duration(), 13500);
}

// The public interface ends timed events while the session queue writes them: every record
// written meanwhile is whole, before or after the change.
TEST_F(EventsTest, EventsChangedWhileTheirRecordsAreWrittenGiveWholeRecords) {
  std::vector<std::unique_ptr<TallyEvent>> events;
  for (int i = 0; i < 200; ++i) events.push_back(std::make_unique<TallyEvent>("walk", true, params(1)));
  std::atomic<bool> done{false};
  std::thread other([&] {
    for (auto& event : events) {
      event->updateParameters(params(10));
      event->end(clock_.now() + 2, false);
    }
    done = true;
  });
  auto u16 = [](const Bytes& b, size_t at) { return static_cast<size_t>(b[at] << 8 | b[at + 1]); };
  int written = 0;
  bool whole = true;
  while (whole && (!done || written < 1000)) {
    const auto& event = events[static_cast<size_t>(written++ % 200)];
    const Bytes record = event->dataRelativeToSessionStart(clock_.now());
    size_t at = 2 + 2 + 4;  // id, "walk"
    const size_t count = u16(record, at);
    at += 2;
    for (size_t i = 0; i < 2 * count && at + 2 <= record.size(); ++i) at += 2 + u16(record, at);
    whole = (count == 1 || count == 10) && at + 16 == record.size();
  }
  other.join();
  EXPECT_TRUE(whole) << "record " << written;
}

TEST_F(EventsTest, ErrorsBeyondTenAreCountedOnlyAndReportsNeedCrashReporting) {
  events_.recordError("e", "m", TallySessionEvents::exceptionText("Name", "reason"), 2, Bytes{1, 2});
  EXPECT_EQ(events_.errors[0]->exceptionString, "Name: reason");
  EXPECT_TRUE(events_.errors[0]->reportData.empty());
  events_.crashReportingEnabled = true;
  events_.recordError("e", "m", TallySessionEvents::exceptionText(std::nullopt, std::nullopt), 1,
                      Bytes{1, 2});
  EXPECT_EQ(events_.errors[1]->exceptionString, "nil");
  EXPECT_EQ(events_.errors[1]->reportData, (Bytes{1, 2}));
  for (int i = 0; i < 9; ++i) events_.recordError("e", "m", "x", 2, std::nullopt);
  EXPECT_EQ(events_.errors.size(), 10u);
  EXPECT_EQ(events_.totalErrorCount, 11);
}

TEST_F(EventsTest, ArchivesRestoreEveryField) {
  TallyEvent::registerClass();
  TallyError::registerClass();
  auto event = std::make_shared<TallyEvent>("e", true, Dictionary{{"k", "v"}});
  event->end(clock_.now() + 3, true);
  auto restored = plist::unarchiveRootObjectOfClass<TallyEvent>(*plist::archiveRootObject(*event));
  ASSERT_TRUE(restored.ok());
  EXPECT_EQ((*restored)->dataRelativeToSessionStart(Date{}), event->dataRelativeToSessionStart(Date{}));
  EXPECT_TRUE((*restored)->automaticallyEnded());

  auto error = TallyError::errorWithString("id", "msg", "ex", 2, Bytes{1});
  auto back = plist::unarchiveRootObjectOfClass<TallyError>(*plist::archiveRootObject(*error));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ((*back)->description(), error->description());
  EXPECT_EQ((*back)->reportData, error->reportData);
}

}  // namespace
}  // namespace analytics
