#pragma once
// Dates to text and back, with the platform's Unicode patterns ("yyyy.MM.dd", "EEE, dd MMM yyyy
// HH:mm:ss Z") or with date and time styles in a locale and a time zone.
//
// Dates are written in the locale's own calendar, as the platform does: Gregorian for nearly every
// locale, Buddhist years in th_TH. Fixed formats meant for files use Locale::posix().
//
// A DateFormatter is used by one thread at a time; threads that format dates keep their own.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace foundation {

enum class DateFormatterStyle { None = 0, Short = 1, Medium = 2, Long = 3, Full = 4 };

class DateFormatter {
 public:
  // The current locale and the local time zone, no styles and no pattern (formats every date as
  // the empty text until a pattern or a style is set).
  DateFormatter();
  DateFormatter(DateFormatter&&) noexcept;
  DateFormatter& operator=(DateFormatter&&) noexcept;
  ~DateFormatter();

  static DateFormatter withPattern(std::string_view pattern, Locale locale = Locale::current(),
                                   TimeZone zone = TimeZone::local());
  static DateFormatter withStyles(DateFormatterStyle dateStyle, DateFormatterStyle timeStyle,
                                  Locale locale = Locale::current(), TimeZone zone = TimeZone::local());

  // A pattern replaces the styles; setting a style replaces the pattern with the locale's pattern
  // for the styles. Changing the locale keeps a pattern as it is and re-derives a styled one.
  void setDateFormat(std::string_view pattern);
  void setDateStyle(DateFormatterStyle style);
  void setTimeStyle(DateFormatterStyle style);
  void setLocale(Locale locale);
  void setTimeZone(TimeZone zone);

  // The pattern in force (the set one, or the one the styles give in the locale).
  const std::string& dateFormat() const;
  DateFormatterStyle dateStyle() const;
  DateFormatterStyle timeStyle() const;
  const Locale& locale() const;
  const TimeZone& timeZone() const;

  std::string stringFromDate(Date date) const;
  // Strict: the whole text must match the pattern and every field must be in range. Fields the
  // pattern lacks are taken from 1 January 2000, 00:00 in the formatter's zone. Nothing when the
  // text does not match.
  std::optional<Date> dateFromString(std::string_view text) const;

  // The locale's pattern for a template of wanted fields ("MMMd" gives "MMM d" in en_US and
  // "d MMM" in ru_RU; "jm" the locale's hour and minute). Nothing for an unusable template.
  static std::optional<std::string> dateFormatFromTemplate(std::string_view tmpl, const Locale& locale);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
