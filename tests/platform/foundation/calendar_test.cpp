#include "platform/foundation/calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "platform/foundation/civil_time.h"

namespace foundation {
namespace {

using testing_dates::at;

TimeZone zone(const char* identifier) {
  auto found = TimeZone::withIdentifier(identifier);
  EXPECT_TRUE(found) << identifier;
  return found.value_or(TimeZone::utc());
}

Calendar calendarIn(const char* zoneIdentifier, const char* locale = "en_US") {
  return Calendar::gregorian(zone(zoneIdentifier), Locale(locale));
}

DateComponents ymd(int year, int month, int day, std::optional<int> hour = std::nullopt,
                   std::optional<int> minute = std::nullopt, std::optional<int> second = std::nullopt) {
  DateComponents c;
  c.year = year;
  c.month = month;
  c.day = day;
  c.hour = hour;
  c.minute = minute;
  c.second = second;
  return c;
}

// Dates compare to the microsecond: assembly adds nanoseconds in floating point.
void expectSameMoment(std::optional<Date> actual, Date expected) {
  ASSERT_TRUE(actual);
  EXPECT_NEAR(actual->sinceReference, expected.sinceReference, 1e-6);
}

constexpr CalendarUnits kAllUnits = CalendarUnit::Era | CalendarUnit::Year | CalendarUnit::Month |
                                    CalendarUnit::Day | CalendarUnit::Hour | CalendarUnit::Minute |
                                    CalendarUnit::Second | CalendarUnit::Nanosecond | CalendarUnit::Weekday |
                                    CalendarUnit::WeekdayOrdinal | CalendarUnit::WeekOfMonth |
                                    CalendarUnit::WeekOfYear | CalendarUnit::YearForWeekOfYear;

// --- Breaking dates down -------------------------------------------------------------------------

TEST(CalendarComponents, BreaksADateDownInTheCalendarsZone) {
  const Date date = at(2014, 3, 5, 14, 7, 9.25);
  const auto c = calendarIn("UTC").components(kAllUnits, date);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->era, 1);
  EXPECT_EQ(c->year, 2014);
  EXPECT_EQ(c->month, 3);
  EXPECT_EQ(c->day, 5);
  EXPECT_EQ(c->hour, 14);
  EXPECT_EQ(c->minute, 7);
  EXPECT_EQ(c->second, 9);
  EXPECT_EQ(c->nanosecond, 250000000);
  EXPECT_EQ(c->weekday, 4);  // Wednesday
  EXPECT_EQ(c->weekdayOrdinal, 1);
  EXPECT_EQ(c->weekOfMonth, 2);  // 1 March 2014 was a Saturday, alone in the month's first week
  EXPECT_EQ(c->weekOfYear, 10);
  EXPECT_EQ(c->yearForWeekOfYear, 2014);

  const auto moscow = calendarIn("Europe/Moscow").components(CalendarUnit::Day | CalendarUnit::Hour, date);
  ASSERT_TRUE(moscow);
  EXPECT_EQ(moscow->hour, 18);  // +4 in 2014
  EXPECT_EQ(moscow->day, 5);
  EXPECT_FALSE(moscow->year);  // only what was asked for

  const auto newYork =
      calendarIn("America/New_York").components(CalendarUnit::Day | CalendarUnit::Hour, at(2014, 3, 5, 2));
  EXPECT_EQ(newYork->day, 4);
  EXPECT_EQ(newYork->hour, 21);
}

TEST(CalendarComponents, SingleComponentsAndDatesBeforeTheReferenceDate) {
  const Calendar utc = calendarIn("UTC");
  EXPECT_EQ(utc.component(CalendarUnit::Year, Date{0}), 2001);
  EXPECT_EQ(utc.component(CalendarUnit::Weekday, Date{0}), 2);  // 1 January 2001 was a Monday
  // A quarter second before a whole second counts from the second before it.
  const auto before =
      utc.components(CalendarUnit::Year | CalendarUnit::Second | CalendarUnit::Nanosecond, Date{-0.75});
  EXPECT_EQ(before->year, 2000);
  EXPECT_EQ(before->second, 59);
  EXPECT_EQ(before->nanosecond, 250000000);
  EXPECT_EQ(utc.component(CalendarUnit::Year, at(1, 1, 1)), 1);
  EXPECT_EQ(utc.component(CalendarUnit::Month, at(1969, 12, 31, 23, 59, 59)), 12);
}

TEST(CalendarComponents, WeeksFollowTheLocalesRules) {
  // 1 January 2016 was a Friday: week 1 in the US, the 53rd week of 2015 by the German rule.
  const Date newYear = at(2016, 1, 1, 12);
  const auto us = calendarIn("UTC", "en_US")
                      .components(CalendarUnit::WeekOfYear | CalendarUnit::YearForWeekOfYear, newYear);
  EXPECT_EQ(us->weekOfYear, 1);
  EXPECT_EQ(us->yearForWeekOfYear, 2016);
  const auto de = calendarIn("UTC", "de_DE")
                      .components(CalendarUnit::WeekOfYear | CalendarUnit::YearForWeekOfYear, newYear);
  EXPECT_EQ(de->weekOfYear, 53);
  EXPECT_EQ(de->yearForWeekOfYear, 2015);
}

TEST(CalendarComponents, DatesThatAreNoMomentGiveNothing) {
  const Calendar utc = calendarIn("UTC");
  EXPECT_FALSE(utc.components(kAllUnits, Date{std::numeric_limits<double>::quiet_NaN()}));
  EXPECT_FALSE(utc.component(CalendarUnit::Year, Date{std::numeric_limits<double>::infinity()}));
  EXPECT_FALSE(utc.components(CalendarUnit::Year, Date{1e300}));
}

TEST(CalendarComponents, ValueAndSetValueReachEveryField) {
  const CalendarUnit units[] = {CalendarUnit::Era,
                                CalendarUnit::Year,
                                CalendarUnit::Month,
                                CalendarUnit::Day,
                                CalendarUnit::Hour,
                                CalendarUnit::Minute,
                                CalendarUnit::Second,
                                CalendarUnit::Nanosecond,
                                CalendarUnit::Weekday,
                                CalendarUnit::WeekdayOrdinal,
                                CalendarUnit::WeekOfMonth,
                                CalendarUnit::WeekOfYear,
                                CalendarUnit::YearForWeekOfYear};
  DateComponents c;
  int n = 1;
  for (const CalendarUnit unit : units) c.setValue(unit, n++);
  n = 1;
  for (const CalendarUnit unit : units) EXPECT_EQ(c.value(unit), n++);
  EXPECT_EQ(c.month, 3);
  EXPECT_EQ(c.yearForWeekOfYear, 13);
  c.setValue(CalendarUnit::Month, std::nullopt);
  EXPECT_FALSE(c.month);
}

// --- Settings ------------------------------------------------------------------------------------

TEST(CalendarSettings, FirstWeekdayComesFromTheLocaleUnlessSet) {
  EXPECT_EQ(calendarIn("UTC", "en_US").firstWeekday(), 1);
  EXPECT_EQ(calendarIn("UTC", "ru_RU").firstWeekday(), 2);
  EXPECT_EQ(calendarIn("UTC", "de_DE").firstWeekday(), 2);
  EXPECT_EQ(calendarIn("UTC", "en_US").minimumDaysInFirstWeek(), 1);
  EXPECT_EQ(calendarIn("UTC", "de_DE").minimumDaysInFirstWeek(), 4);

  Calendar calendar = calendarIn("UTC", "en_US");
  // Sunday 2 March 2014 begins the second week of March when weeks start on Sunday...
  EXPECT_EQ(calendar.component(CalendarUnit::WeekOfMonth, at(2014, 3, 2)), 2);
  calendar.setFirstWeekday(2);
  EXPECT_EQ(calendar.firstWeekday(), 2);
  // ...and ends the first one when they start on Monday.
  EXPECT_EQ(calendar.component(CalendarUnit::WeekOfMonth, at(2014, 3, 2)), 1);
  calendar.setFirstWeekday(0);
  calendar.setFirstWeekday(8);
  EXPECT_EQ(calendar.firstWeekday(), 2);
}

TEST(CalendarSettings, CopiesAreIndependentValues) {
  const Calendar original = calendarIn("UTC", "en_US");
  Calendar copy = original;
  EXPECT_EQ(copy, original);
  copy.setTimeZone(zone("Asia/Tokyo"));
  copy.setLocale(Locale("ru_RU"));
  EXPECT_EQ(copy.timeZone().identifier(), "Asia/Tokyo");
  EXPECT_EQ(copy.locale().identifier(), "ru_RU");
  EXPECT_EQ(copy.firstWeekday(), 2);
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(original.timeZone().identifier(), "UTC");
  EXPECT_EQ(original.firstWeekday(), 1);
  EXPECT_EQ(original.component(CalendarUnit::Hour, at(2014, 3, 5, 14)), 14);
  EXPECT_EQ(copy.component(CalendarUnit::Hour, at(2014, 3, 5, 14)), 23);

  // A changed zone keeps a first weekday that was set by hand.
  Calendar monday = calendarIn("UTC", "en_US");
  monday.setFirstWeekday(2);
  monday.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(monday.firstWeekday(), 2);
}

TEST(CalendarSettings, CurrentCalendarUsesTheLocalZoneAndCurrentLocale) {
  ScopedDefaultTimeZone tokyo(zone("Asia/Tokyo"));
  ScopedDefaultLocale russian(Locale("ru_RU"));
  const Calendar current = Calendar::current();
  EXPECT_EQ(current.timeZone().identifier(), "Asia/Tokyo");
  EXPECT_EQ(current.locale().identifier(), "ru_RU");
  EXPECT_EQ(current.component(CalendarUnit::Hour, at(2014, 3, 5, 14)), 23);
  EXPECT_EQ(Calendar::gregorian(zone("UTC")).locale().identifier(), "ru_RU");
}

// --- Assembling dates ----------------------------------------------------------------------------

TEST(CalendarAssembly, BuildsLocalTimesInTheCalendarsZone) {
  expectSameMoment(calendarIn("UTC").dateFromComponents(ymd(2014, 3, 5, 14, 7)), at(2014, 3, 5, 14, 7));
  expectSameMoment(calendarIn("Europe/Moscow").dateFromComponents(ymd(2014, 3, 5, 14, 7)),
                   at(2014, 3, 5, 14, 7, 0, 4));
  expectSameMoment(calendarIn("America/New_York").dateFromComponents(ymd(2014, 7, 1)),
                   at(2014, 7, 1, 0, 0, 0, -4));

  DateComponents withNanos = ymd(2014, 3, 5, 14, 7, 9);
  withNanos.nanosecond = 500000000;
  expectSameMoment(calendarIn("UTC").dateFromComponents(withNanos), at(2014, 3, 5, 14, 7, 9.5));
}

TEST(CalendarAssembly, OutOfRangeValuesRollOver) {
  const Calendar utc = calendarIn("UTC");
  expectSameMoment(utc.dateFromComponents(ymd(2014, 0, 15)), at(2013, 12, 15));  // month 0: December before
  expectSameMoment(utc.dateFromComponents(ymd(2014, -1, 15)), at(2013, 11, 15));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 13, 1)), at(2015, 1, 1));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 4, 31)), at(2014, 5, 1));  // 31 April
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, 0)), at(2014, 2, 28));  // day 0: the day before
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, -1)), at(2014, 2, 27));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, 5, 25)), at(2014, 3, 6, 1));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, 5, -1)), at(2014, 3, 4, 23));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, 5, 0, -30)), at(2014, 3, 4, 23, 30));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 3, 5, 0, 0, 3600)), at(2014, 3, 5, 1));
  expectSameMoment(utc.dateFromComponents(ymd(2014, 12, 31, 23, 59, 60)), at(2015, 1, 1));
  // A month back from 31 March: 31 February is 3 March, or 2 March in a leap year.
  expectSameMoment(utc.dateFromComponents(ymd(2015, 2, 31)), at(2015, 3, 3));
  expectSameMoment(utc.dateFromComponents(ymd(2016, 2, 31)), at(2016, 3, 2));
  // Five months back from January, day 24.
  expectSameMoment(utc.dateFromComponents(ymd(2014, 1 - 5, 24)), at(2013, 8, 24));
}

TEST(CalendarAssembly, AbsentFieldsTakeTheirSmallestValues) {
  const Calendar utc = calendarIn("UTC");
  // Before 1582 the calendar counts Julian years, whose 1 January of year 1 fell two days before
  // the proleptic Gregorian one.
  expectSameMoment(utc.dateFromComponents(DateComponents{}), at(0, 12, 30));
  DateComponents yearOnly;
  yearOnly.year = 2014;
  expectSameMoment(utc.dateFromComponents(yearOnly), at(2014, 1, 1));
  DateComponents timeOnly;
  timeOnly.hour = 14;
  timeOnly.minute = 7;
  expectSameMoment(utc.dateFromComponents(timeOnly), at(0, 12, 30, 14, 7));
}

TEST(CalendarAssembly, WeekBasedFieldsAndDayFieldsTogether) {
  DateComponents isoWeek;
  isoWeek.yearForWeekOfYear = 2015;
  isoWeek.weekOfYear = 53;
  isoWeek.weekday = 6;  // Friday
  expectSameMoment(calendarIn("UTC", "de_DE").dateFromComponents(isoWeek), at(2016, 1, 1));

  DateComponents secondSundayOfMay;
  secondSundayOfMay.year = 2014;
  secondSundayOfMay.month = 5;
  secondSundayOfMay.weekday = 1;
  secondSundayOfMay.weekdayOrdinal = 2;
  expectSameMoment(calendarIn("UTC").dateFromComponents(secondSundayOfMay), at(2014, 5, 11));

  // With a day of the month given, a weekday that disagrees does not move the date.
  DateComponents both = ymd(2014, 3, 5);
  both.weekday = 1;
  expectSameMoment(calendarIn("UTC").dateFromComponents(both), at(2014, 3, 5));
}

TEST(CalendarAssembly, DaylightSavingGapsMoveForwardAndRepeatsTakeTheFirst) {
  const Calendar newYork = calendarIn("America/New_York");
  // 02:30 on 9 March 2014 does not exist in New York: the clocks went from 02:00 to 03:00.
  expectSameMoment(newYork.dateFromComponents(ymd(2014, 3, 9, 2, 30)), at(2014, 3, 9, 3, 30, 0, -4));
  // 01:30 on 2 November 2014 happened twice: first in daylight time.
  expectSameMoment(newYork.dateFromComponents(ymd(2014, 11, 2, 1, 30)), at(2014, 11, 2, 1, 30, 0, -4));

  const Calendar moscow = calendarIn("Europe/Moscow");
  expectSameMoment(moscow.dateFromComponents(ymd(2010, 3, 28, 2, 30)), at(2010, 3, 28, 3, 30, 0, 4));
  expectSameMoment(moscow.dateFromComponents(ymd(2010, 10, 31, 2, 30)), at(2010, 10, 31, 2, 30, 0, 4));
  expectSameMoment(moscow.dateFromComponents(ymd(2010, 10, 31, 3, 30)), at(2010, 10, 31, 3, 30, 0, 3));
}

TEST(CalendarAssembly, ResultsOutsideTheCalendarGiveNothing) {
  const Calendar utc = calendarIn("UTC");
  EXPECT_FALSE(utc.dateFromComponents(ymd(2000000000, 1, 1)));
  EXPECT_FALSE(utc.dateFromComponents(ymd(-2000000000, 1, 1)));
  EXPECT_FALSE(utc.dateFromComponents(ymd(2014, 1, 2000000000)));
  EXPECT_FALSE(utc.dateFromComponents(ymd(2014, 2000000000, 1)));
  // Far, but inside the calendar's range.
  const auto farFuture = utc.dateFromComponents(ymd(1000000, 1, 1));
  ASSERT_TRUE(farFuture);
  EXPECT_EQ(utc.component(CalendarUnit::Year, *farFuture), 1000000);
}

TEST(CalendarAssembly, BreakdownAndAssemblyRoundTrip) {
  const Calendar moscow = calendarIn("Europe/Moscow", "ru_RU");
  const CalendarUnits units = CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day |
                              CalendarUnit::Hour | CalendarUnit::Minute | CalendarUnit::Second |
                              CalendarUnit::Nanosecond;
  for (double t = -3e9; t < 3e9; t += 86400.0 * 97.3 + 0.125) {
    const auto c = moscow.components(units, Date{t});
    ASSERT_TRUE(c);
    expectSameMoment(moscow.dateFromComponents(*c), Date{t});
  }
}

// --- Adding --------------------------------------------------------------------------------------

TEST(CalendarAdding, MonthsAndYearsKeepTheDayOrTakeTheMonthsLast) {
  const Calendar utc = calendarIn("UTC");
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Month, 1, at(2014, 1, 31, 10)), at(2014, 2, 28, 10));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Month, 1, at(2016, 1, 31)), at(2016, 2, 29));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Month, -1, at(2014, 3, 31)), at(2014, 2, 28));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Month, -1, at(2014, 1, 15)), at(2013, 12, 15));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Month, 14, at(2014, 1, 15)), at(2015, 3, 15));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Year, 1, at(2016, 2, 29)), at(2017, 2, 28));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::Day, -1, at(2014, 3, 1)), at(2014, 2, 28));
  expectSameMoment(utc.dateByAddingUnit(CalendarUnit::WeekOfYear, 2, at(2014, 3, 1)), at(2014, 3, 15));

  DateComponents monthAndDay;
  monthAndDay.month = 1;
  monthAndDay.day = 1;
  expectSameMoment(utc.dateByAddingComponents(monthAndDay, at(2014, 1, 31)), at(2014, 3, 1));
}

TEST(CalendarAdding, DaysKeepTheClockAndHoursAddElapsedTime) {
  const Calendar newYork = calendarIn("America/New_York");
  const Date saturdayNoon = at(2014, 3, 8, 12, 0, 0, -5);
  expectSameMoment(newYork.dateByAddingUnit(CalendarUnit::Day, 1, saturdayNoon),
                   at(2014, 3, 9, 12, 0, 0, -4));
  expectSameMoment(newYork.dateByAddingUnit(CalendarUnit::Hour, 24, saturdayNoon),
                   at(2014, 3, 9, 13, 0, 0, -4));

  const Calendar moscow = calendarIn("Europe/Moscow");
  const Date beforeFallBack = at(2010, 10, 30, 12, 0, 0, 4);
  const auto nextDay = moscow.dateByAddingUnit(CalendarUnit::Day, 1, beforeFallBack);
  ASSERT_TRUE(nextDay);
  EXPECT_DOUBLE_EQ(*nextDay - beforeFallBack, 25 * 3600.0);
  EXPECT_EQ(moscow.component(CalendarUnit::Hour, *nextDay), 12);
}

TEST(CalendarAdding, SecondsFractionsAndNanoseconds) {
  const Calendar utc = calendarIn("UTC");
  DateComponents amount;
  amount.minute = 1;
  amount.second = -2;
  amount.nanosecond = 250000000;
  expectSameMoment(utc.dateByAddingComponents(amount, Date{10.5}), Date{68.75});
  expectSameMoment(utc.dateByAddingComponents(DateComponents{}, Date{-0.25}), Date{-0.25});
  EXPECT_FALSE(utc.dateByAddingUnit(CalendarUnit::Day, 1, Date{std::numeric_limits<double>::quiet_NaN()}));
  EXPECT_FALSE(utc.dateByAddingUnit(CalendarUnit::Year, 2000000000, at(2014, 1, 1)));
  EXPECT_FALSE(utc.dateByAddingUnit(CalendarUnit::Day, 2000000000, at(2014, 1, 1)));
  // About 5.7 million years on, near the end of the calendar.
  const Date nearTheEnd{1.8e14};
  ASSERT_TRUE(utc.component(CalendarUnit::Year, nearTheEnd));
  EXPECT_FALSE(utc.dateByAddingUnit(CalendarUnit::Year, 1000000, nearTheEnd));
  EXPECT_FALSE(utc.dateByAddingUnit(CalendarUnit::Year, -1000000, Date{-1.8e14}));
  EXPECT_EQ(
      utc.component(CalendarUnit::Year, *utc.dateByAddingUnit(CalendarUnit::Year, 1000000, at(2014, 1, 1))),
      1002014);
}

// --- Start of day --------------------------------------------------------------------------------

TEST(CalendarStartOfDay, IsLocalMidnight) {
  expectSameMoment(calendarIn("UTC").startOfDay(at(2014, 3, 5, 14, 7, 9.5)), at(2014, 3, 5));
  expectSameMoment(calendarIn("UTC").startOfDay(at(2014, 3, 5)), at(2014, 3, 5));
  expectSameMoment(calendarIn("UTC").startOfDay(Date{-0.5}), at(2000, 12, 31));
  // 02:00 in Moscow is still the previous evening in UTC.
  expectSameMoment(calendarIn("Europe/Moscow").startOfDay(at(2014, 3, 5, 22, 0)), at(2014, 3, 6, 0, 0, 0, 4));
  // The day the clocks went forward in New York still began at midnight, in standard time.
  expectSameMoment(calendarIn("America/New_York").startOfDay(at(2014, 3, 9, 15, 0, 0, -4)),
                   at(2014, 3, 9, 0, 0, 0, -5));
  // A day with a repeated hour begins at its one midnight.
  expectSameMoment(calendarIn("Europe/Moscow").startOfDay(at(2010, 10, 31, 12, 0, 0, 3)),
                   at(2010, 10, 31, 0, 0, 0, 4));
}

TEST(CalendarStartOfDay, WhenMidnightIsSkippedTheDayBeginsWhenTheClockJumps) {
  // Brazil moved its clocks from 00:00 to 01:00 on 4 November 2018.
  expectSameMoment(calendarIn("America/Sao_Paulo").startOfDay(at(2018, 11, 4, 12, 0, 0, -2)),
                   at(2018, 11, 4, 1, 0, 0, -2));
  // Cuba did the same on 9 March 2014.
  expectSameMoment(calendarIn("America/Havana").startOfDay(at(2014, 3, 9, 12, 0, 0, -4)),
                   at(2014, 3, 9, 1, 0, 0, -4));
  EXPECT_FALSE(calendarIn("UTC").startOfDay(Date{std::numeric_limits<double>::quiet_NaN()}));
}

// --- Differences ---------------------------------------------------------------------------------

TEST(CalendarDifferences, CountWholeUnitsLargestFirst) {
  const Calendar utc = calendarIn("UTC");
  const auto monthsDays =
      utc.componentsBetween(CalendarUnit::Month | CalendarUnit::Day, at(2014, 1, 31), at(2014, 3, 1));
  ASSERT_TRUE(monthsDays);
  EXPECT_EQ(monthsDays->month, 1);
  EXPECT_EQ(monthsDays->day, 1);
  EXPECT_FALSE(monthsDays->year);

  EXPECT_EQ(utc.componentsBetween(CalendarUnit::Day, at(2014, 1, 31), at(2014, 3, 1))->day, 29);
  EXPECT_EQ(utc.componentsBetween(CalendarUnit::Day, at(2014, 1, 31), at(2014, 3, 1, 0, 0, -1))->day, 28);

  const CalendarUnits age = CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day;
  const auto oneYear = utc.componentsBetween(age, at(2013, 3, 5), at(2014, 3, 5));
  EXPECT_EQ(oneYear->year, 1);
  EXPECT_EQ(oneYear->month, 0);
  EXPECT_EQ(oneYear->day, 0);
  const auto leapling = utc.componentsBetween(age, at(2016, 2, 29), at(2017, 2, 28));
  EXPECT_EQ(leapling->year, 1);
  EXPECT_EQ(leapling->month, 0);
  EXPECT_EQ(leapling->day, 0);

  const CalendarUnits elapsed = CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day |
                                CalendarUnit::Hour | CalendarUnit::Minute | CalendarUnit::Second;
  const auto dayAndFive = utc.componentsBetween(elapsed, at(2014, 3, 5, 23, 30), at(2014, 3, 6, 23, 35));
  EXPECT_EQ(dayAndFive->year, 0);
  EXPECT_EQ(dayAndFive->month, 0);
  EXPECT_EQ(dayAndFive->day, 1);
  EXPECT_EQ(dayAndFive->hour, 0);
  EXPECT_EQ(dayAndFive->minute, 5);
  EXPECT_EQ(dayAndFive->second, 0);

  const auto sleep = utc.componentsBetween(CalendarUnit::Hour | CalendarUnit::Minute, at(2014, 3, 5, 23, 30),
                                           at(2014, 3, 6, 1, 15));
  EXPECT_EQ(sleep->hour, 1);
  EXPECT_EQ(sleep->minute, 45);

  const auto forty = utc.componentsBetween(elapsed, at(2014, 3, 1), at(2014, 4, 10));
  EXPECT_EQ(forty->month, 1);
  EXPECT_EQ(forty->day, 9);
  EXPECT_EQ(utc.componentsBetween(CalendarUnit::Day, at(2014, 3, 1), at(2014, 4, 10))->day, 40);
  EXPECT_EQ(utc.componentsBetween(CalendarUnit::WeekOfYear, at(2014, 3, 1), at(2014, 4, 10))->weekOfYear, 5);
}

TEST(CalendarDifferences, BackwardsGivesNegativeCounts) {
  const Calendar utc = calendarIn("UTC");
  const auto back =
      utc.componentsBetween(CalendarUnit::Month | CalendarUnit::Day, at(2014, 3, 1), at(2014, 1, 31));
  EXPECT_EQ(back->month, -1);
  EXPECT_EQ(back->day, -1);
  EXPECT_EQ(utc.componentsBetween(CalendarUnit::Hour, at(2014, 3, 5, 10), at(2014, 3, 5, 7, 30))->hour, -2);
}

TEST(CalendarDifferences, DaysAreCalendarDaysAcrossDaylightSavingChanges) {
  const Calendar newYork = calendarIn("America/New_York");
  const Date saturdayNoon = at(2014, 3, 8, 12, 0, 0, -5);
  const CalendarUnits units = CalendarUnit::Day | CalendarUnit::Hour | CalendarUnit::Minute;
  // Noon to noon is one day although only 23 hours passed.
  const auto oneDay = newYork.componentsBetween(units, saturdayNoon, at(2014, 3, 9, 12, 0, 0, -4));
  EXPECT_EQ(oneDay->day, 1);
  EXPECT_EQ(oneDay->hour, 0);
  EXPECT_EQ(oneDay->minute, 0);
  // A minute less is no whole day: 22 hours and 59 minutes passed.
  const auto almost = newYork.componentsBetween(units, saturdayNoon, at(2014, 3, 9, 11, 59, 0, -4));
  EXPECT_EQ(almost->day, 0);
  EXPECT_EQ(almost->hour, 22);
  EXPECT_EQ(almost->minute, 59);
  EXPECT_EQ(newYork.componentsBetween(CalendarUnit::Hour, saturdayNoon, at(2014, 3, 9, 12, 0, 0, -4))->hour,
            23);

  const Calendar moscow = calendarIn("Europe/Moscow");
  EXPECT_EQ(
      moscow
          .componentsBetween(CalendarUnit::Hour, at(2010, 10, 30, 12, 0, 0, 4), at(2010, 10, 31, 12, 0, 0, 3))
          ->hour,
      25);
  EXPECT_EQ(
      moscow
          .componentsBetween(CalendarUnit::Day, at(2010, 10, 30, 12, 0, 0, 4), at(2010, 10, 31, 12, 0, 0, 3))
          ->day,
      1);
}

TEST(CalendarDifferences, FractionsOfSecondsGoToNanoseconds) {
  const Calendar utc = calendarIn("UTC");
  const CalendarUnits units = CalendarUnit::Second | CalendarUnit::Nanosecond;
  const auto forward = utc.componentsBetween(units, Date{0.5}, Date{10.25});
  EXPECT_EQ(forward->second, 9);
  EXPECT_EQ(forward->nanosecond, 750000000);
  const auto backward = utc.componentsBetween(units, Date{10.25}, Date{0.5});
  EXPECT_EQ(backward->second, -9);
  EXPECT_EQ(backward->nanosecond, -750000000);
  // Cut to whole seconds, as the elapsed-time texts do, a difference has no fraction.
  EXPECT_EQ(utc.componentsBetween(CalendarUnit::Second, Date{0.9}, Date{10.1})->second, 9);
  EXPECT_FALSE(utc.componentsBetween(units, Date{0}, Date{std::numeric_limits<double>::quiet_NaN()}));
  // Weekdays are not amounts.
  EXPECT_FALSE(utc.componentsBetween(CalendarUnit::Weekday, at(2014, 3, 1), at(2014, 3, 9))->weekday);
}

// --- Ranges --------------------------------------------------------------------------------------

TEST(CalendarRanges, DaysInTheMonth) {
  const Calendar moscow = calendarIn("Europe/Moscow");
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2014, 2, 10))->count, 28);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2016, 2, 10))->count, 29);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2014, 4, 10))->count, 30);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2014, 1, 10))->first, 1);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2014, 1, 10))->count, 31);
  // 30 April 22:00 UTC is already May in Moscow.
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2014, 4, 30, 22))->count, 31);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(1900, 2, 10))->count, 28);
  EXPECT_EQ(moscow.rangeOfDaysInMonth(at(2000, 2, 10))->count, 29);
  EXPECT_FALSE(moscow.rangeOfDaysInMonth(Date{std::numeric_limits<double>::infinity()}));
}

// --- Sharing -------------------------------------------------------------------------------------

TEST(CalendarSharing, ManyCalendarsInTurnAndOneCalendarOnManyThreads) {
  // More set-ups in turn than a thread keeps working copies of: each answer is still its own.
  std::vector<Calendar> calendars;
  for (int hours = -5; hours <= 5; ++hours)
    calendars.push_back(Calendar::gregorian(*TimeZone::withSecondsFromGMT(hours * 3600)));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < static_cast<int>(calendars.size()); ++i) {
      EXPECT_EQ(calendars[i].component(CalendarUnit::Hour, at(2014, 3, 5, 12)), 12 + i - 5);
    }
  }

  const Calendar moscow = calendarIn("Europe/Moscow", "ru_RU");
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const Calendar own = moscow;  // copies share the set-up
      for (int i = 0; i < 500; ++i) {
        const Date date = at(2010, 1, 1) + (t * 500 + i) * 7919.5;
        const auto c =
            own.components(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day | CalendarUnit::Hour |
                               CalendarUnit::Minute | CalendarUnit::Second | CalendarUnit::Nanosecond,
                           date);
        const auto back = c ? moscow.dateFromComponents(*c) : std::nullopt;
        const auto midnight = moscow.startOfDay(date);
        if (!back || *back != date || !midnight || moscow.component(CalendarUnit::Hour, *midnight) != 0)
          ++mismatches[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace foundation
