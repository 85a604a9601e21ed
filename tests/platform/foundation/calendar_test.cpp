#include "platform/foundation/calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/foundation/civil_time.h"

// Components name only the fields they set; the others are meant to stay absent.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace foundation {
namespace {

using enum CalendarUnit;
using testing_dates::at;
using testing_dates::zone;

// Every unit, in the order DateComponents declares its fields.
constexpr CalendarUnit kEveryUnit[] = {
    Era,        Year,    Month,          Day,         Hour,       Minute,           Second,
    Nanosecond, Weekday, WeekdayOrdinal, WeekOfMonth, WeekOfYear, YearForWeekOfYear};
constexpr CalendarUnits kAll = [] {
  CalendarUnits all;
  for (const CalendarUnit unit : kEveryUnit) all = all | unit;
  return all;
}();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

// Failures show the fields that are set, by their unit's number.
static void PrintTo(const DateComponents& c, std::ostream* os) {
  for (const CalendarUnit unit : kEveryUnit)
    if (const auto v = c.value(unit)) *os << " [" << static_cast<int>(unit) << "]=" << *v;
}

namespace {

Calendar calendarIn(std::string_view zoneIdentifier, const char* locale = "en_US") {
  return Calendar::gregorian(zone(zoneIdentifier), Locale(locale));
}

DateComponents ymd(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return {.year = year, .month = month, .day = day, .hour = hour, .minute = minute, .second = second};
}

// Dates compare to the microsecond: assembly adds nanoseconds in floating point.
::testing::AssertionResult sameMoment(std::optional<Date> actual, Date expected) {
  if (actual && std::fabs(actual->sinceReference - expected.sinceReference) < 1e-6)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (actual ? std::to_string(actual->sinceReference) : "nothing")
                                       << " instead of " << std::to_string(expected.sinceReference);
}

// --- Breaking dates down -------------------------------------------------------------------------

TEST(CalendarComponents, BreaksADateDownInTheCalendarsZone) {
  const Calendar utc = calendarIn("UTC");
  const Date date = at(2014, 3, 5, 14, 7, 9.25);
  // A Wednesday; 1 March 2014 was a Saturday, alone in the month's first week.
  EXPECT_EQ(utc.components(kAll, date),
            (DateComponents{1, 2014, 3, 5, 14, 7, 9, 250000000, 4, 1, 2, 10, 2014}));
  // Only what was asked for; Moscow was at +4 in 2014.
  EXPECT_EQ(calendarIn("Europe/Moscow").components(Day | Hour, date), (DateComponents{.day = 5, .hour = 18}));
  EXPECT_EQ(calendarIn("America/New_York").components(Day | Hour, at(2014, 3, 5, 2)),
            (DateComponents{.day = 4, .hour = 21}));
  // A quarter second before a whole second counts from the second before it.
  EXPECT_EQ(utc.components(Year | Second | Nanosecond, Date{-0.75}),
            (DateComponents{.year = 2000, .second = 59, .nanosecond = 250000000}));
  EXPECT_EQ(utc.component(Weekday, Date{0}), 2);  // 1 January 2001 was a Monday
  EXPECT_EQ(utc.component(Year, at(1, 1, 1)), 1);
  // Dates that are no moment, or lie beyond the calendar, give nothing.
  EXPECT_FALSE(utc.components(kAll, Date{kNaN}));
  EXPECT_FALSE(utc.component(Year, Date{std::numeric_limits<double>::infinity()}));
  EXPECT_FALSE(utc.components(Year, Date{1e300}));
}

TEST(CalendarComponents, WeeksFollowTheLocaleAndEveryFieldIsReachable) {
  // 1 January 2016 was a Friday: week 1 in the US, the 53rd week of 2015 by the German rule.
  EXPECT_EQ(calendarIn("UTC", "en_US").components(WeekOfYear | YearForWeekOfYear, at(2016, 1, 1, 12)),
            (DateComponents{.weekOfYear = 1, .yearForWeekOfYear = 2016}));
  EXPECT_EQ(calendarIn("UTC", "de_DE").components(WeekOfYear | YearForWeekOfYear, at(2016, 1, 1, 12)),
            (DateComponents{.weekOfYear = 53, .yearForWeekOfYear = 2015}));

  DateComponents c;
  for (int i = 0; i < 13; ++i) c.setValue(kEveryUnit[i], i + 1);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(c.value(kEveryUnit[i]), i + 1);
  EXPECT_EQ(c, (DateComponents{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
  c.setValue(Month, std::nullopt);
  EXPECT_FALSE(c.month);
}

// --- Settings ------------------------------------------------------------------------------------

TEST(CalendarSettings, FirstWeekdayComesFromTheLocaleUnlessSet) {
  EXPECT_EQ(calendarIn("UTC", "ru_RU").firstWeekday(), 2);
  EXPECT_EQ(calendarIn("UTC", "en_US").minimumDaysInFirstWeek(), 1);
  EXPECT_EQ(calendarIn("UTC", "de_DE").minimumDaysInFirstWeek(), 4);
  Calendar calendar = calendarIn("UTC", "en_US");
  EXPECT_EQ(calendar.firstWeekday(), 1);
  // Sunday 2 March 2014 begins the second week of March when weeks start on Sunday, and ends the
  // first one when they start on Monday.
  EXPECT_EQ(calendar.component(WeekOfMonth, at(2014, 3, 2)), 2);
  calendar.setFirstWeekday(2);
  calendar.setFirstWeekday(0);
  calendar.setFirstWeekday(8);
  EXPECT_EQ(calendar.firstWeekday(), 2);
  EXPECT_EQ(calendar.component(WeekOfMonth, at(2014, 3, 2)), 1);
  // A new zone keeps a first weekday set by hand; a new locale brings its own.
  calendar.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(calendar.firstWeekday(), 2);
  calendar.setLocale(Locale("en_US"));
  EXPECT_EQ(calendar.firstWeekday(), 1);
}

TEST(CalendarSettings, CopiesAreIndependentAndCurrentFollowsTheDefaults) {
  const Calendar original = calendarIn("UTC", "en_US");
  Calendar copy = original;
  EXPECT_EQ(copy, original);
  copy.setTimeZone(zone("Asia/Tokyo"));
  copy.setLocale(Locale("ru_RU"));
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(copy.timeZone().identifier(), "Asia/Tokyo");
  EXPECT_EQ(copy.locale().identifier(), "ru_RU");
  EXPECT_EQ(original.firstWeekday(), 1);
  EXPECT_EQ(original.component(Hour, at(2014, 3, 5, 14)), 14);
  EXPECT_EQ(copy.component(Hour, at(2014, 3, 5, 14)), 23);

  ScopedDefaultTimeZone tokyo(zone("Asia/Tokyo"));
  ScopedDefaultLocale russian(Locale("ru_RU"));
  EXPECT_EQ(Calendar::current(), copy);
  EXPECT_EQ(Calendar::gregorian(zone("UTC")).locale().identifier(), "ru_RU");
}

// --- Assembling dates ----------------------------------------------------------------------------

TEST(CalendarAssembly, OutOfRangeValuesRollOverAndAbsentFieldsTakeTheSmallest) {
  const Calendar utc = calendarIn("UTC");
  const std::pair<DateComponents, Date> cases[] = {
      {ymd(2014, 0, 15), at(2013, 12, 15)},  // month 0 is December of the year before
      {ymd(2014, 4, 31), at(2014, 5, 1)},
      {ymd(2014, 3, 0), at(2014, 2, 28)},  // day 0 is the day before
      {ymd(2014, 3, 5, 25), at(2014, 3, 6, 1)},
      {{.year = 2014, .month = 3, .day = 5, .second = 9, .nanosecond = 500000000}, at(2014, 3, 5, 0, 0, 9.5)},
      {{.year = 2014}, at(2014, 1, 1)},
      // Before 1582 the calendar counts Julian years, whose 1 January of year 1 fell two days
      // before the proleptic Gregorian one.
      {{}, at(0, 12, 30)},
      {{.hour = 14, .minute = 7}, at(0, 12, 30, 14, 7)},
      // A weekday that disagrees with the day of the month does not move the date.
      {{.year = 2014, .month = 3, .day = 5, .weekday = 1}, at(2014, 3, 5)},
      {{.year = 2014, .month = 5, .weekday = 1, .weekdayOrdinal = 2}, at(2014, 5, 11)},
  };
  for (const auto& [components, expected] : cases)
    EXPECT_TRUE(sameMoment(utc.dateFromComponents(components), expected));

  // The ISO week rule of de_DE: Friday of week 53 of 2015.
  EXPECT_TRUE(sameMoment(calendarIn("UTC", "de_DE")
                             .dateFromComponents({.weekday = 6, .weekOfYear = 53, .yearForWeekOfYear = 2015}),
                         at(2016, 1, 1)));
  for (const auto& far :
       {ymd(2000000000, 1, 1), ymd(-2000000000, 1, 1), ymd(2014, 1, 2000000000), ymd(2014, 2000000000, 1)})
    EXPECT_FALSE(utc.dateFromComponents(far)) << *far.year;
  EXPECT_EQ(utc.component(Year, utc.dateFromComponents(ymd(1000000, 1, 1)).value()), 1000000);
}

TEST(CalendarAssembly, LocalTimesInTheZoneWithGapsMovedForwardAndRepeatsTakenFirst) {
  EXPECT_TRUE(sameMoment(calendarIn("Europe/Moscow").dateFromComponents(ymd(2014, 3, 5, 14, 7)),
                         at(2014, 3, 5, 14, 7, 0, 4)));
  const Calendar newYork = calendarIn("America/New_York");
  EXPECT_TRUE(sameMoment(newYork.dateFromComponents(ymd(2014, 7, 1)), at(2014, 7, 1, 0, 0, 0, -4)));
  // 02:30 on 9 March 2014 did not exist in New York: the clocks went from 02:00 to 03:00.
  EXPECT_TRUE(sameMoment(newYork.dateFromComponents(ymd(2014, 3, 9, 2, 30)), at(2014, 3, 9, 3, 30, 0, -4)));
  // 01:30 on 2 November 2014 happened twice: first in daylight time.
  EXPECT_TRUE(sameMoment(newYork.dateFromComponents(ymd(2014, 11, 2, 1, 30)), at(2014, 11, 2, 1, 30, 0, -4)));

  const Calendar moscow = calendarIn("Europe/Moscow", "ru_RU");
  for (double t = -3e9; t < 3e9; t += 86400.0 * 97.3 + 0.125) {
    const auto c = moscow.components(Year | Month | Day | Hour | Minute | Second | Nanosecond, Date{t});
    EXPECT_TRUE(sameMoment(moscow.dateFromComponents(c.value()), Date{t}));
  }
}

// --- Adding --------------------------------------------------------------------------------------

TEST(CalendarAdding, MonthsKeepTheDayOrTakeTheMonthsLast) {
  const Calendar utc = calendarIn("UTC");
  const struct {
    CalendarUnit unit;
    int amount;
    Date from, to;
  } cases[] = {
      {Month, 1, at(2014, 1, 31, 10), at(2014, 2, 28, 10)}, {Month, 1, at(2016, 1, 31), at(2016, 2, 29)},
      {Month, -1, at(2014, 3, 31), at(2014, 2, 28)},        {Month, 14, at(2014, 1, 15), at(2015, 3, 15)},
      {Year, 1, at(2016, 2, 29), at(2017, 2, 28)},          {Day, -1, at(2014, 3, 1), at(2014, 2, 28)},
      {WeekOfYear, 2, at(2014, 3, 1), at(2014, 3, 15)},
  };
  for (const auto& c : cases) EXPECT_TRUE(sameMoment(utc.dateByAddingUnit(c.unit, c.amount, c.from), c.to));
  // Largest unit first: 31 January plus a month is 28 February, plus a day 1 March.
  EXPECT_TRUE(
      sameMoment(utc.dateByAddingComponents({.month = 1, .day = 1}, at(2014, 1, 31)), at(2014, 3, 1)));
  EXPECT_TRUE(
      sameMoment(utc.dateByAddingComponents({.minute = 1, .second = -2, .nanosecond = 250000000}, Date{10.5}),
                 Date{68.75}));
}

TEST(CalendarAdding, SumsBeyondTheCalendarGiveNothing) {
  const Calendar utc = calendarIn("UTC");
  EXPECT_FALSE(utc.dateByAddingUnit(Day, 1, Date{kNaN}));
  EXPECT_FALSE(utc.dateByAddingUnit(Year, 2000000000, at(2014, 1, 1)));
  EXPECT_FALSE(utc.dateByAddingUnit(Day, 2000000000, at(2014, 1, 1)));
  // About 5.7 million years on, near the ends of the calendar, where it would pin or wrap.
  ASSERT_TRUE(utc.component(Year, Date{1.8e14}));
  EXPECT_FALSE(utc.dateByAddingUnit(Year, 1000000, Date{1.8e14}));
  EXPECT_FALSE(utc.dateByAddingUnit(Year, -1000000, Date{-1.8e14}));
  EXPECT_EQ(utc.component(Year, utc.dateByAddingUnit(Year, 1000000, at(2014, 1, 1)).value()), 1002014);
}

TEST(CalendarAdding, DaysKeepTheClockAcrossDaylightSavingChangesAndHoursDoNot) {
  const Calendar newYork = calendarIn("America/New_York");
  const Date saturdayNoon = at(2014, 3, 8, 12, 0, 0, -5);
  const Date sundayNoon = at(2014, 3, 9, 12, 0, 0, -4);
  EXPECT_TRUE(sameMoment(newYork.dateByAddingUnit(Day, 1, saturdayNoon), sundayNoon));
  EXPECT_TRUE(sameMoment(newYork.dateByAddingUnit(Hour, 24, saturdayNoon), sundayNoon + 3600));
  // Noon to noon is one day although only 23 hours passed; a minute less is no whole day.
  EXPECT_EQ(newYork.componentsBetween(Day | Hour | Minute, saturdayNoon, sundayNoon),
            (DateComponents{.day = 1, .hour = 0, .minute = 0}));
  EXPECT_EQ(newYork.componentsBetween(Day | Hour | Minute, saturdayNoon, sundayNoon - 60),
            (DateComponents{.day = 0, .hour = 22, .minute = 59}));
  EXPECT_EQ(newYork.componentsBetween(Hour, saturdayNoon, sundayNoon), (DateComponents{.hour = 23}));
}

// --- Start of day, differences and ranges --------------------------------------------------------

TEST(CalendarStartOfDay, IsLocalMidnightOrWhenTheClockJumpsPastIt) {
  const std::tuple<const char*, Date, Date> cases[] = {
      {"UTC", at(2014, 3, 5, 14, 7, 9.5), at(2014, 3, 5)},
      {"UTC", Date{-0.5}, at(2000, 12, 31)},
      {"Europe/Moscow", at(2014, 3, 5, 22, 0), at(2014, 3, 6, 0, 0, 0, 4)},
      // Brazil moved its clocks from 00:00 to 01:00 on 4 November 2018.
      {"America/Sao_Paulo", at(2018, 11, 4, 12, 0, 0, -2), at(2018, 11, 4, 1, 0, 0, -2)},
  };
  for (const auto& [zoneId, date, start] : cases)
    EXPECT_TRUE(sameMoment(calendarIn(zoneId).startOfDay(date), start)) << zoneId;
  EXPECT_FALSE(calendarIn("UTC").startOfDay(Date{kNaN}));
}

TEST(CalendarDifferences, CountWholeUnitsLargestFirst) {
  const CalendarUnits elapsed = Year | Month | Day | Hour | Minute | Second;
  const struct {
    CalendarUnits units;
    Date from, to;
    DateComponents expected;
  } cases[] = {
      {Month | Day, at(2014, 1, 31), at(2014, 3, 1), {.month = 1, .day = 1}},
      {Day, at(2014, 1, 31), at(2014, 3, 1), {.day = 29}},
      {Day, at(2014, 1, 31), at(2014, 3, 1, 0, 0, -1), {.day = 28}},
      {Year | Month | Day, at(2016, 2, 29), at(2017, 2, 28), {.year = 1, .month = 0, .day = 0}},
      {elapsed,
       at(2014, 3, 5, 23, 30),
       at(2014, 3, 6, 23, 35),
       {.year = 0, .month = 0, .day = 1, .hour = 0, .minute = 5, .second = 0}},
      {elapsed,
       at(2014, 3, 1),
       at(2014, 4, 10),
       {.year = 0, .month = 1, .day = 9, .hour = 0, .minute = 0, .second = 0}},
      {Month | Day, at(2014, 3, 1), at(2014, 1, 31), {.month = -1, .day = -1}},
      {Weekday | YearForWeekOfYear, at(2014, 3, 1), at(2014, 3, 9), {}},  // not amounts
      {Second | Nanosecond, Date{0.5}, Date{10.25}, {.second = 9, .nanosecond = 750000000}},
      {Second | Nanosecond, Date{10.25}, Date{0.5}, {.second = -9, .nanosecond = -750000000}},
      {Second, Date{0.9}, Date{10.1}, {.second = 9}},
  };
  const Calendar utc = calendarIn("UTC");
  for (const auto& c : cases)
    EXPECT_EQ(utc.componentsBetween(c.units, c.from, c.to), c.expected)
        << c.from.sinceReference << " to " << c.to.sinceReference;
  EXPECT_FALSE(utc.componentsBetween(Second, Date{0}, Date{kNaN}));
}

TEST(CalendarRanges, DaysInTheMonthInTheCalendarsZone) {
  const Calendar moscow = calendarIn("Europe/Moscow");
  // 30 April 22:00 UTC is already May in Moscow.
  const std::pair<Date, int> cases[] = {
      {at(2014, 2, 10), 28}, {at(2016, 2, 10), 29}, {at(2014, 4, 10), 30}, {at(2014, 4, 30, 22), 31}};
  for (const auto& [date, days] : cases) {
    const auto range = moscow.rangeOfDaysInMonth(date);
    EXPECT_EQ(range->first, 1);
    EXPECT_EQ(range->count, days);
  }
  EXPECT_FALSE(moscow.rangeOfDaysInMonth(Date{std::numeric_limits<double>::infinity()}));
}

// --- Sharing -------------------------------------------------------------------------------------

TEST(CalendarSharing, ManyCalendarsInTurnAndOneCalendarOnManyThreads) {
  // More set-ups in turn than a thread keeps working copies of: each answer is still its own.
  std::vector<Calendar> calendars;
  for (int hours = -5; hours <= 5; ++hours)
    calendars.push_back(Calendar::gregorian(*TimeZone::withSecondsFromGMT(hours * 3600)));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < static_cast<int>(calendars.size()); ++i)
      EXPECT_EQ(calendars[i].component(Hour, at(2014, 3, 5, 12)), 12 + i - 5);
  }

  const Calendar moscow = calendarIn("Europe/Moscow", "ru_RU");
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const Calendar own = moscow;  // copies share the set-up
      for (int i = 0; i < 500; ++i) {
        const Date date = at(2010, 1, 1) + (t * 500 + i) * 7919.5;
        const auto c = own.components(Year | Month | Day | Hour | Minute | Second | Nanosecond, date);
        const auto back = c ? moscow.dateFromComponents(*c) : std::nullopt;
        const auto midnight = moscow.startOfDay(date);
        if (!back || *back != date || !midnight || moscow.component(Hour, *midnight) != 0) ++mismatches[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace foundation
