#include "notes_list/day_statistics.h"

#include <gtest/gtest.h>

#include <memory>

#include "notes_list/list_fixture.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"

namespace {

using foundation::Date;
using list_test::at;
using list_test::english;
using notes_list::DayRow;
using notes_list::entriesStatisticHelper;
using DayStatisticsTest = list_test::ListTest;

TEST_F(DayStatisticsTest, SleepAcrossMidnightSplitsAndFoodNextMorningSumsInGrams) {
  auto stats = helper();  // Food in grams, as it is by default
  add("Sleep", at(3, 22), at(4, 6));
  add("Food", at(4, 8), at(4, 8), 4.0, std::string(app::unit::kOz));
  add("Food", at(4, 9), at(4, 9), 100.0, std::string(app::unit::kG));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());

  ASSERT_EQ(stats->howManyDays(), 2u);
  auto newest = rows(*stats, 0);
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0].id, "Food");
  EXPECT_EQ(newest[0].date, "20261204");
  EXPECT_EQ(newest[0].get_count, "2");
  EXPECT_EQ(
      newest[0].valWithMeasure,
      neh().getCurrentNumValueStr("Food", static_cast<float>(app::convertOzToG(4.0) + 100.0), app::unit::kG));
  EXPECT_EQ(newest[0].time, std::nullopt);
  EXPECT_EQ(newest[1], (DayRow{"Sleep", "20261204", "1", {}, "6h"}));
  EXPECT_EQ(rows(*stats, 1), (std::vector<DayRow>{{"Sleep", "20261203", "1", {}, "2h"}}));
  EXPECT_EQ(stats->dateForDayNum(2), "20000101");
}

TEST_F(DayStatisticsTest, StretchEndingAtMidnightStaysInItsOwnDay) {
  auto stats = helper();
  add("Sleep", at(5, 22), at(6, 0));
  add("WC", at(6, 0), at(6, 0));  // an instant at midnight opens the new day
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  ASSERT_EQ(stats->howManyDays(), 2u);
  EXPECT_EQ(rows(*stats, 0), (std::vector<DayRow>{{"WC", "20261206", "1", {}, {}}}));
  EXPECT_EQ(rows(*stats, 1), (std::vector<DayRow>{{"Sleep", "20261205", "1", {}, "2h"}}));
}

// Summer time begins in Berlin in the night to 29 March 2026, a day of 23 hours: a sleep from
// 22:00 to 06:00 spends 2 hours in the 28th and 5 in the 29th, on every refresh alike.
TEST_F(DayStatisticsTest, ADayOfTwentyThreeHoursKeepsItsHoursOnARefresh) {
  auto berlin = services();
  berlin.calendar =
      foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("Europe/Berlin").value());
  entriesStatisticHelper stats(neh(), berlin);
  add("Sleep", Date::fromUnix(1774731600), Date::fromUnix(1774756800));  // 21:00 and 04:00 UTC
  for (int refresh = 0; refresh < 2; ++refresh) {
    ASSERT_TRUE(stats.setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
    EXPECT_EQ(rows(stats, 0), (std::vector<DayRow>{{"Sleep", "20260329", "1", {}, "5h"}})) << refresh;
    EXPECT_EQ(rows(stats, 1), (std::vector<DayRow>{{"Sleep", "20260328", "1", {}, "2h"}})) << refresh;
  }
}

TEST_F(DayStatisticsTest, FifteenDailyNotesLoadInBunchesWithoutGaps) {
  auto stats = helper();
  for (int day = 1; day <= 15; ++day) add("WC", at(day, 10), at(day, 10));
  foundation::ScopedLogCapture log;
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  EXPECT_EQ(stats->howManyDays(), 11u);  // the newest day and ten older ones
  EXPECT_FALSE(stats->loadEnotherBunchOffDaysToDayNumber(5));
  EXPECT_TRUE(stats->loadEnotherBunchOffDaysToDayNumber(10));
  EXPECT_EQ(stats->howManyDays(), 15u);
  EXPECT_TRUE(stats->allDaysAreLoaded());
  EXPECT_FALSE(stats->loadEnotherBunchOffDaysToDayNumber(14));
  for (int number = 0; number < 15; ++number)
    EXPECT_EQ(stats->dateForDayNum(number),
              "202612" + std::string(15 - number < 10 ? "0" : "") + std::to_string(15 - number));
  // The walk logs each day with its number, and where it stopped after each of its two bunches;
  // a day is written by its end, the next midnight.
  std::vector<std::string> walked;
  for (const auto& message : log.messages())
    if (message.rfind("num:", 0) == 0 || message.rfind("latestDate:", 0) == 0) walked.push_back(message);
  ASSERT_EQ(walked.size(), 17u) << testing::PrintToString(log.messages());
  EXPECT_EQ(walked[0], "num:0 date:26.12.16");
  EXPECT_EQ(walked[10], "num:10 date:26.12.06");
  EXPECT_EQ(walked[11].rfind("latestDate:2026-12-06", 0), 0u) << walked[11];
  EXPECT_EQ(walked[15], "num:14 date:26.12.02");
  EXPECT_EQ(walked[16].rfind("latestDate:2026-12-02", 0), 0u) << walked[16];

  // The days are named in the local zone and the locale as they are at each walk.
  for (const char* zone : {"Pacific/Honolulu", "UTC"}) {
    foundation::ScopedDefaultTimeZone local(foundation::TimeZone::withIdentifier(zone).value());
    foundation::ScopedDefaultLocale thai(foundation::Locale("th_TH"));
    foundation::ScopedLogCapture again;
    ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
    EXPECT_TRUE(again.contains(std::string(zone) == "UTC" ? "num:0 date:69.12.16" : "num:0 date:69.12.15"))
        << zone << testing::PrintToString(again.messages());
  }
}

// A refresh asks the store the same questions again: what was saved since, a note or a baby's new
// name, shows all the same.
TEST_F(DayStatisticsTest, ARefreshSeesWhatWasSavedSince) {
  auto stats = helper();
  add("WC", at(5, 10), at(5, 10));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  EXPECT_EQ(rows(*stats, 0).at(0).get_count, "1");
  add("WC", at(5, 11), at(5, 11));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  EXPECT_EQ(rows(*stats, 0).at(0).get_count, "2");
  baby_.setBaby_Name("Bea");
  ASSERT_TRUE(context_->save().ok());
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  EXPECT_EQ(stats->howManyDays(), 0u);
}

// The walk reads pages of 128 notes, each going on from the stop date where the last ended: notes
// sharing that date on both sides of a page's end are each counted once.
TEST_F(DayStatisticsTest, NotesSharingAStopAcrossPagesCountOnce) {
  auto stats = helper();
  for (int i = 0; i < 130; ++i) add("WC", at(5, 10), at(5, 10));
  for (int i = 0; i < 130; ++i) add("WC", at(4, 10), at(4, 10));
  add("WC", at(3, 10), at(3, 10));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  ASSERT_EQ(stats->howManyDays(), 3u);
  for (const auto& [day, count] : {std::pair{0, "130"}, {1, "130"}, {2, "1"}})
    EXPECT_EQ(rows(*stats, day).at(0).get_count, count) << day;
}

TEST_F(DayStatisticsTest, NightSkippingAnEmptyDayStillGivesItsFirstDay) {
  auto stats = helper();
  // Eleven single days, then a night whose first day holds nothing else.
  for (int day = 1; day <= 11; ++day) add("WC", at(day, 10), at(day, 10));
  add("Sleep", at(13, 22), at(14, 6));
  add("WC", at(16, 10), at(16, 10));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  while (stats->loadEnotherBunchOffDaysToDayNumber(stats->howManyDays() - 1)) {
  }
  std::vector<std::string> days;
  for (std::size_t n = 0; n < stats->howManyDays(); ++n) days.push_back(stats->dateForDayNum(n));
  EXPECT_EQ(days.size(), 14u);
  EXPECT_EQ(days[1], "20261214");
  EXPECT_EQ(days[2], "20261213");
}

// The first read covers the eleven days below the newest end; a night found from its start can
// make the oldest day older than that, and its notes are still read.
TEST_F(DayStatisticsTest, OldestDayFoundFromANightsStartKeepsItsNotes) {
  auto stats = helper();
  for (int day = 12; day <= 20; ++day) add("WC", at(day, 10), at(day, 10));
  add("Sleep", at(9, 22), at(11, 6));
  add("WC", at(9, 10), at(9, 10));
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  ASSERT_EQ(stats->howManyDays(), 11u);
  EXPECT_EQ(rows(*stats, 10), (std::vector<DayRow>{{"WC", "20261209", "1", {}, {}}}));
}

TEST_F(DayStatisticsTest, FiltersAndRangeLimitWhatIsCounted) {
  add("Sleep", at(3, 22), at(4, 6));  // after the range's end: its evening is not counted either
  add("WC", at(3, 10), at(3, 10), {}, {}, "Wet");
  add("WC", at(3, 11), at(3, 11), {}, {}, "Poopy");
  add("WC", at(1, 11), at(1, 11), {}, {}, "Wet");
  auto stats = helper();
  ASSERT_TRUE(stats->setDatesBeginDateEndDate(at(2, 0), at(3, 0), "Anna", {}, {}).ok());
  ASSERT_EQ(stats->howManyDays(), 1u);
  EXPECT_EQ(rows(*stats, 0), (std::vector<DayRow>{{"WC", "20261203", "2", {}, {}}}));

  ASSERT_TRUE(stats
                  ->setDatesBeginDateEndDate({}, {}, "Anna", std::vector<std::string>{"WC"},
                                             std::vector<std::string>{"Wet"})
                  .ok());
  ASSERT_EQ(stats->howManyDays(), 2u);
  EXPECT_EQ(rows(*stats, 0), (std::vector<DayRow>{{"WC", "20261203", "1", {}, {}}}));

  for (std::optional<std::string> nobody : {std::optional<std::string>(), std::optional<std::string>("")}) {
    ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, nobody, {}, {}).ok());
    EXPECT_EQ(stats->howManyDays(), 0u);
    EXPECT_EQ(stats->dateForDayNum(0), "20000101");
  }
}

TEST_F(DayStatisticsTest, BreastFeedingCountsBothSidesMinutes) {
  auto stats = helper();
  add("Breast Feeding", at(2, 9), at(2, 9, 40), 12.0, "8");
  ASSERT_TRUE(stats->setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  ASSERT_EQ(rows(*stats, 0).size(), 1u);
  EXPECT_EQ(rows(*stats, 0)[0].time, "20m");
}

TEST_F(DayStatisticsTest, DurationTexts) {
  struct Case {
    double seconds;
    std::optional<std::string> language;
    std::string text;
  };
  for (const auto& c : {Case{3725, "en", "1h 2m"}, Case{30, "en", "0m"}, Case{3600, "en", "1h"},
                        Case{3725, "ja", "1h2m"}, Case{3725, "zh-Hans", "1h2m"}})
    EXPECT_EQ(helper(c.language)->getTimeIntervalAndCount(c.seconds), c.text) << c.seconds;
}

TEST_F(DayStatisticsTest, FailedFetchLeavesNoDayAndReportsIt) {
  auto stats = helper();
  add("WC", at(1, 10), at(1, 10));
  entriesStatisticHelper::Services services;  // no store
  services.language = english;
  entriesStatisticHelper closed(neh(), services);
  EXPECT_FALSE(closed.setDatesBeginDateEndDate({}, {}, "Anna", {}, {}).ok());
  EXPECT_EQ(closed.howManyDays(), 0u);
  EXPECT_FALSE(closed.calculateNextBunchOfDays(false));
}

}  // namespace
