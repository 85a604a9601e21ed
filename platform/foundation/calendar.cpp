#include "platform/foundation/calendar.h"

#include <unicode/gregocal.h>

#include <atomic>
#include <cmath>
#include <utility>

#include "platform/foundation/icu_bridge.h"

namespace foundation {

struct Calendar::Impl {
  // Identifies this set-up, so a thread can keep one working ICU calendar per set-up it last used.
  std::uint64_t id = 0;
  TimeZone zone = TimeZone::utc();
  Locale locale;
  std::unique_ptr<icu::Calendar> prototype;
};

namespace {

// ICU's Gregorian calendar covers about ±5.8 million years; beyond that it pins silently.
constexpr double kMaxMillis = 183882168921600000.0;

std::uint64_t nextId() {
  static std::atomic<std::uint64_t> counter{0};
  return ++counter;
}

std::shared_ptr<const Calendar::Impl> makeImpl(TimeZone zone, Locale locale,
                                               std::optional<int> firstWeekday) {
  auto impl = std::make_shared<Calendar::Impl>();
  impl->id = nextId();
  impl->zone = std::move(zone);
  impl->locale = std::move(locale);
  UErrorCode status = U_ZERO_ERROR;
  auto calendar = std::make_unique<icu::GregorianCalendar>(IcuAccess::zone(impl->zone),
                                                           IcuAccess::locale(impl->locale), status);
  if (U_FAILURE(status)) {
    // Only a locale ICU cannot load at all gets here; fall back to the root locale's week rules.
    status = U_ZERO_ERROR;
    calendar =
        std::make_unique<icu::GregorianCalendar>(IcuAccess::zone(impl->zone), icu::Locale::getRoot(), status);
  }
  calendar->setLenient(true);
  calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
  calendar->setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
  if (firstWeekday) calendar->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(*firstWeekday));
  impl->prototype = std::move(calendar);
  return impl;
}

// The calling thread's working copy of the calendar. A thread keeps copies of the few set-ups it
// used last, so code that alternates between two calendars does not clone on every call. Every
// operation sets the time or clears the fields first, so nothing carries over between calls.
icu::Calendar& working(const Calendar::Impl& impl) {
  struct Slot {
    std::uint64_t id = 0;
    std::unique_ptr<icu::Calendar> calendar;
  };
  constexpr size_t kSlots = 4;
  thread_local Slot slots[kSlots];
  thread_local size_t nextVictim = 0;
  for (Slot& slot : slots) {
    if (slot.id == impl.id && slot.calendar) return *slot.calendar;
  }
  Slot& slot = slots[nextVictim];
  nextVictim = (nextVictim + 1) % kSlots;
  slot.calendar.reset(impl.prototype->clone());
  slot.id = impl.id;
  return *slot.calendar;
}

struct SplitDate {
  UDate wholeMillis;  // whole seconds, in ICU's milliseconds since 1970
  double fraction;    // the rest, 0 <= fraction < 1 second
};

std::optional<SplitDate> split(Date date) {
  if (!std::isfinite(date.sinceReference)) return std::nullopt;
  const double whole = std::floor(date.sinceReference);
  const UDate millis = (whole + Date::kUnixOffset) * 1000.0;
  if (std::fabs(millis) > kMaxMillis) return std::nullopt;
  return SplitDate{millis, date.sinceReference - whole};
}

std::optional<Date> joinDate(UDate millis, double extraSeconds) {
  if (!std::isfinite(millis) || std::fabs(millis) > kMaxMillis) return std::nullopt;
  const Date result{millis / 1000.0 - Date::kUnixOffset + extraSeconds};
  if (!std::isfinite(result.sinceReference)) return std::nullopt;
  return result;
}

// Bounds on the amounts ICU is given, so its integer arithmetic cannot overflow: together they stay
// within a few million years, inside the calendar's range.
bool withinLimits(const DateComponents& c) {
  const auto within = [](const std::optional<int>& value, long long limit) {
    return !value || (*value >= -limit && *value <= limit);
  };
  return within(c.era, 1) && within(c.year, 1000000) && within(c.yearForWeekOfYear, 1000000) &&
         within(c.month, 12000000) && within(c.day, 365000000) && within(c.weekday, 365000000) &&
         within(c.weekOfYear, 10000000) && within(c.weekOfMonth, 10000000) &&
         within(c.weekdayOrdinal, 10000000);
}

int nanosecondsOf(double fraction) {
  const double nanos = std::round(fraction * 1e9);
  return nanos >= 999999999.0 ? 999999999 : static_cast<int>(nanos);
}

// The ICU field of each unit, in the order from largest to smallest that sums and differences use.
struct UnitField {
  CalendarUnit unit;
  UCalendarDateFields field;
};
constexpr UnitField kUnitFields[] = {
    {CalendarUnit::Era, UCAL_ERA},
    {CalendarUnit::Year, UCAL_YEAR},
    {CalendarUnit::YearForWeekOfYear, UCAL_YEAR_WOY},
    {CalendarUnit::Month, UCAL_MONTH},
    {CalendarUnit::WeekOfYear, UCAL_WEEK_OF_YEAR},
    {CalendarUnit::WeekOfMonth, UCAL_WEEK_OF_MONTH},
    {CalendarUnit::WeekdayOrdinal, UCAL_DAY_OF_WEEK_IN_MONTH},
    {CalendarUnit::Day, UCAL_DATE},
    {CalendarUnit::Weekday, UCAL_DAY_OF_WEEK},
    {CalendarUnit::Hour, UCAL_HOUR_OF_DAY},
    {CalendarUnit::Minute, UCAL_MINUTE},
    {CalendarUnit::Second, UCAL_SECOND},
};

}  // namespace

std::optional<int> DateComponents::value(CalendarUnit unit) const {
  switch (unit) {
    case CalendarUnit::Era:
      return era;
    case CalendarUnit::Year:
      return year;
    case CalendarUnit::Month:
      return month;
    case CalendarUnit::Day:
      return day;
    case CalendarUnit::Hour:
      return hour;
    case CalendarUnit::Minute:
      return minute;
    case CalendarUnit::Second:
      return second;
    case CalendarUnit::Nanosecond:
      return nanosecond;
    case CalendarUnit::Weekday:
      return weekday;
    case CalendarUnit::WeekdayOrdinal:
      return weekdayOrdinal;
    case CalendarUnit::WeekOfMonth:
      return weekOfMonth;
    case CalendarUnit::WeekOfYear:
      return weekOfYear;
    case CalendarUnit::YearForWeekOfYear:
      return yearForWeekOfYear;
  }
  return std::nullopt;
}

void DateComponents::setValue(CalendarUnit unit, std::optional<int> value) {
  switch (unit) {
    case CalendarUnit::Era:
      era = value;
      break;
    case CalendarUnit::Year:
      year = value;
      break;
    case CalendarUnit::Month:
      month = value;
      break;
    case CalendarUnit::Day:
      day = value;
      break;
    case CalendarUnit::Hour:
      hour = value;
      break;
    case CalendarUnit::Minute:
      minute = value;
      break;
    case CalendarUnit::Second:
      second = value;
      break;
    case CalendarUnit::Nanosecond:
      nanosecond = value;
      break;
    case CalendarUnit::Weekday:
      weekday = value;
      break;
    case CalendarUnit::WeekdayOrdinal:
      weekdayOrdinal = value;
      break;
    case CalendarUnit::WeekOfMonth:
      weekOfMonth = value;
      break;
    case CalendarUnit::WeekOfYear:
      weekOfYear = value;
      break;
    case CalendarUnit::YearForWeekOfYear:
      yearForWeekOfYear = value;
      break;
  }
}

Calendar Calendar::gregorian(TimeZone zone, Locale locale) {
  return Calendar(makeImpl(std::move(zone), std::move(locale), std::nullopt));
}

Calendar Calendar::current() { return gregorian(TimeZone::local(), Locale::current()); }

const TimeZone& Calendar::timeZone() const { return impl_->zone; }
const Locale& Calendar::locale() const { return impl_->locale; }

void Calendar::setTimeZone(TimeZone zone) {
  impl_ = makeImpl(std::move(zone), impl_->locale, firstWeekday());
}

void Calendar::setLocale(Locale locale) { impl_ = makeImpl(impl_->zone, std::move(locale), std::nullopt); }

int Calendar::firstWeekday() const {
  UErrorCode status = U_ZERO_ERROR;
  return impl_->prototype->getFirstDayOfWeek(status);
}

void Calendar::setFirstWeekday(int weekday) {
  if (weekday < 1 || weekday > 7) return;
  impl_ = makeImpl(impl_->zone, impl_->locale, weekday);
}

int Calendar::minimumDaysInFirstWeek() const { return impl_->prototype->getMinimalDaysInFirstWeek(); }

std::optional<DateComponents> Calendar::components(CalendarUnits units, Date date) const {
  const auto parts = split(date);
  if (!parts) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(parts->wholeMillis, status);
  DateComponents result;
  for (const auto& [unit, field] : kUnitFields) {
    if (!units.contains(unit)) continue;
    int value = calendar.get(field, status);
    if (field == UCAL_MONTH) value += 1;
    result.setValue(unit, value);
  }
  if (U_FAILURE(status)) return std::nullopt;
  if (units.contains(CalendarUnit::Nanosecond)) result.nanosecond = nanosecondsOf(parts->fraction);
  return result;
}

std::optional<int> Calendar::component(CalendarUnit unit, Date date) const {
  const auto result = components(unit, date);
  if (!result) return std::nullopt;
  return result->value(unit);
}

std::optional<Date> Calendar::dateFromComponents(const DateComponents& c) const {
  if (!withinLimits(c)) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  calendar.clear();
  // Fields set later win where they disagree, so the week-based fields go first and the plain
  // year, month and day decide when both are given.
  if (c.era) calendar.set(UCAL_ERA, *c.era);
  if (c.yearForWeekOfYear) calendar.set(UCAL_YEAR_WOY, *c.yearForWeekOfYear);
  if (c.weekOfYear) calendar.set(UCAL_WEEK_OF_YEAR, *c.weekOfYear);
  if (c.weekOfMonth) calendar.set(UCAL_WEEK_OF_MONTH, *c.weekOfMonth);
  if (c.weekdayOrdinal) calendar.set(UCAL_DAY_OF_WEEK_IN_MONTH, *c.weekdayOrdinal);
  if (c.weekday) calendar.set(UCAL_DAY_OF_WEEK, *c.weekday);
  if (c.year) {
    calendar.set(UCAL_YEAR, *c.year);
  } else if (!c.yearForWeekOfYear) {
    calendar.set(UCAL_YEAR, 1);
  }
  if (c.month) calendar.set(UCAL_MONTH, *c.month - 1);
  if (c.day) calendar.set(UCAL_DATE, *c.day);
  calendar.set(UCAL_HOUR_OF_DAY, c.hour.value_or(0));
  calendar.set(UCAL_MINUTE, c.minute.value_or(0));
  calendar.set(UCAL_SECOND, c.second.value_or(0));
  calendar.set(UCAL_MILLISECOND, 0);
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return joinDate(millis, c.nanosecond.value_or(0) / 1e9);
}

std::optional<Date> Calendar::dateByAddingComponents(const DateComponents& c, Date date) const {
  const auto parts = split(date);
  if (!parts || !withinLimits(c)) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(parts->wholeMillis, status);
  bool forward = false;
  bool backward = false;
  for (const auto& [unit, field] : kUnitFields) {
    const auto amount = c.value(unit);
    if (!amount || *amount == 0) continue;
    calendar.add(field, *amount, status);
    (*amount > 0 ? forward : backward) = true;
  }
  const UDate millis = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  // Past the calendar's ends ICU pins or wraps instead of failing; a sum that moved the wrong
  // way went over the edge.
  if ((forward && !backward && millis < parts->wholeMillis) ||
      (backward && !forward && millis > parts->wholeMillis)) {
    return std::nullopt;
  }
  return joinDate(millis, parts->fraction + c.nanosecond.value_or(0) / 1e9);
}

std::optional<Date> Calendar::dateByAddingUnit(CalendarUnit unit, int value, Date date) const {
  DateComponents amount;
  amount.setValue(unit, value);
  return dateByAddingComponents(amount, date);
}

std::optional<Date> Calendar::startOfDay(Date date) const {
  const auto parts = split(date);
  if (!parts) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(parts->wholeMillis, status);
  const int era = calendar.get(UCAL_ERA, status);
  const int year = calendar.get(UCAL_YEAR, status);
  const int month = calendar.get(UCAL_MONTH, status);
  const int day = calendar.get(UCAL_DATE, status);
  calendar.clear();
  calendar.set(UCAL_ERA, era);
  calendar.set(year, month, day, 0, 0, 0);
  // Where a daylight saving change skips midnight, the day begins when the clock jumps.
  calendar.setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
  const UDate millis = calendar.getTime(status);
  calendar.setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
  if (U_FAILURE(status)) return std::nullopt;
  return joinDate(millis, 0);
}

std::optional<DateComponents> Calendar::componentsBetween(CalendarUnits units, Date from, Date to) const {
  const auto start = split(from);
  if (!start || !std::isfinite(to.sinceReference)) return std::nullopt;
  // Counting from a whole second, with the target moved by the same fraction, leaves every
  // count of seconds and larger units as it was and keeps ICU's arithmetic on whole milliseconds.
  const UDate target = icu_bridge::toUDate(to - start->fraction);
  if (std::fabs(target) > kMaxMillis) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(start->wholeMillis, status);
  DateComponents result;
  for (const auto& [unit, field] : kUnitFields) {
    if (!units.contains(unit)) continue;
    if (unit == CalendarUnit::Weekday || unit == CalendarUnit::WeekdayOrdinal ||
        unit == CalendarUnit::YearForWeekOfYear) {
      continue;
    }
    result.setValue(unit, calendar.fieldDifference(target, field, status));
  }
  const UDate reached = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  if (units.contains(CalendarUnit::Nanosecond)) {
    const double nanos = std::round((target - reached) * 1e6);
    if (std::fabs(nanos) > 2147483647.0) return std::nullopt;
    result.nanosecond = static_cast<int>(nanos);
  }
  return result;
}

std::optional<Calendar::DayRange> Calendar::rangeOfDaysInMonth(Date date) const {
  const auto parts = split(date);
  if (!parts) return std::nullopt;
  icu::Calendar& calendar = working(*impl_);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(parts->wholeMillis, status);
  const int last = calendar.getActualMaximum(UCAL_DATE, status);
  if (U_FAILURE(status)) return std::nullopt;
  return DayRange{1, last};
}

bool operator==(const Calendar& a, const Calendar& b) {
  return a.timeZone() == b.timeZone() && a.locale() == b.locale() && a.firstWeekday() == b.firstWeekday() &&
         a.minimumDaysInFirstWeek() == b.minimumDaysInFirstWeek();
}

}  // namespace foundation
