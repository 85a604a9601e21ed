#pragma once
// The Gregorian calendar in a time zone and a locale: breaking a Date into its components,
// building a Date from components (leniently: out-of-range values roll over), adding components,
// the start of a day and whole-unit differences between two dates.
//
// A Calendar is an immutable-looking value: copies share their set-up and are cheap; the setters
// give the copy its own. Any thread may use its own copies.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/foundation/date.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace foundation {

enum class CalendarUnit : std::uint32_t {
  Era = 1u << 1,
  Year = 1u << 2,
  Month = 1u << 3,
  Day = 1u << 4,
  Hour = 1u << 5,
  Minute = 1u << 6,
  Second = 1u << 7,
  Weekday = 1u << 9,
  WeekdayOrdinal = 1u << 10,
  WeekOfMonth = 1u << 12,
  WeekOfYear = 1u << 13,
  YearForWeekOfYear = 1u << 14,
  Nanosecond = 1u << 15,
};

// A set of calendar units: CalendarUnit::Year | CalendarUnit::Month.
class CalendarUnits {
 public:
  constexpr CalendarUnits() = default;
  constexpr CalendarUnits(CalendarUnit unit) : bits_(static_cast<std::uint32_t>(unit)) {}
  constexpr bool contains(CalendarUnit unit) const { return (bits_ & static_cast<std::uint32_t>(unit)) != 0; }
  constexpr CalendarUnits operator|(CalendarUnits other) const { return CalendarUnits(bits_ | other.bits_); }
  constexpr bool operator==(const CalendarUnits&) const = default;

 private:
  constexpr explicit CalendarUnits(std::uint32_t bits) : bits_(bits) {}
  std::uint32_t bits_ = 0;
};
constexpr CalendarUnits operator|(CalendarUnit a, CalendarUnit b) { return CalendarUnits(a) | b; }

// Components of a date, or amounts to add. Months count from 1, weekdays from 1 (Sunday), era 1 is
// the common era. An absent field is not part of the breakdown, the assembly or the sum.
struct DateComponents {
  std::optional<int> era, year, month, day, hour, minute, second, nanosecond;
  std::optional<int> weekday, weekdayOrdinal, weekOfMonth, weekOfYear, yearForWeekOfYear;

  std::optional<int> value(CalendarUnit unit) const;
  void setValue(CalendarUnit unit, std::optional<int> value);
  friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

class Calendar {
 public:
  // The Gregorian calendar in the given zone and locale (which supplies the first weekday).
  static Calendar gregorian(TimeZone zone, Locale locale = Locale::current());
  // The Gregorian calendar in the local time zone and the current locale, as they are now.
  static Calendar current();

  const TimeZone& timeZone() const;
  const Locale& locale() const;
  void setTimeZone(TimeZone zone);
  // A new locale brings its own first weekday and week rules.
  void setLocale(Locale locale);
  // 1 is Sunday, 2 Monday ... 7 Saturday; by default the locale's (1 in en_US, 2 in ru_RU).
  int firstWeekday() const;
  void setFirstWeekday(int weekday);
  // Days of the new year a week needs to count as the year's first week (1 in en_US, 4 in de_DE).
  int minimumDaysInFirstWeek() const;

  // The requested components of the date in this calendar's zone. Nothing for a date outside the
  // calendar's range (or not a number).
  std::optional<DateComponents> components(CalendarUnits units, Date date) const;
  // One component; nothing as above.
  std::optional<int> component(CalendarUnit unit, Date date) const;

  // The date the components name. Out-of-range values roll over the way the platform does: month
  // 0 is December of the year before, 31 April is 1 May, hour 25 is 1 o'clock the next day and
  // negative values count back. Absent fields take the smallest value (year 1, January, day 1,
  // midnight). A local time skipped by a daylight saving change moves forward by the gap; a
  // repeated one takes its first occurrence. Nothing when the result is outside the calendar's range.
  std::optional<Date> dateFromComponents(const DateComponents& components) const;

  // The date plus the components, largest unit first. Adding months or years keeps the day of
  // the month where it exists and otherwise takes the month's last day (31 January plus one month
  // is 28 or 29 February); adding days keeps the local time of day across daylight saving changes,
  // adding hours and smaller units adds elapsed time.
  std::optional<Date> dateByAddingComponents(const DateComponents& components, Date date) const;
  std::optional<Date> dateByAddingUnit(CalendarUnit unit, int value, Date date) const;

  // The first moment of the date's day: local midnight, or the moment the day begins when a
  // daylight saving change skips midnight.
  std::optional<Date> startOfDay(Date date) const;

  // The whole units from one date to the other, largest unit first, each unit counting only what
  // the larger ones leave (from 31 January to 1 March is 1 month and 1 day when months and days are
  // asked for). Negative when `to` is earlier than `from`. Weekday, weekday ordinal and year for
  // week of year are not amounts and are never filled in.
  std::optional<DateComponents> componentsBetween(CalendarUnits units, Date from, Date to) const;

  // The days of the month holding the date: 1 through 28, 29, 30 or 31.
  struct DayRange {
    int first = 1;
    int count = 0;
  };
  std::optional<DayRange> rangeOfDaysInMonth(Date date) const;

  friend bool operator==(const Calendar& a, const Calendar& b);

  // The ICU side, defined where ICU is included.
  struct Impl;

 private:
  friend struct IcuAccess;
  explicit Calendar(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

}  // namespace foundation
