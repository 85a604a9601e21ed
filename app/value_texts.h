#pragma once
// The short texts the lists, charts and the report show for a note: its value with its unit, its
// time or time range and duration, elapsed times, ages and counted days, months and years, in the
// interface language.
//
// Labels are localised texts of keys; a few rules follow the language's code: Russian plural
// forms, no blanks in Japanese and Simplified Chinese elapsed times, "ago" placed first in French,
// German, Spanish and Portuguese. Times and weekdays are written in the interface language with the
// host's region (interfaceLocale) and in the host's time zone; calendar arithmetic uses the current
// calendar.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/clock.h"
#include "platform/foundation/date.h"
#include "platform/foundation/locale.h"

namespace app {

// Keys of the labels these texts use.
namespace text_key {
inline constexpr std::string_view kMinute = "minuteInMainCell";
inline constexpr std::string_view kHour = "hourInMainCell";
inline constexpr std::string_view kDayLetter = "dayByOneLetter";
inline constexpr std::string_view kAgo = "ago";
inline constexpr std::string_view kLeftBreast = "Left Breast";
inline constexpr std::string_view kRightBreast = "Right Breast";
inline constexpr std::string_view kLastSide = "Last side";
inline constexpr std::string_view kDay = "Day";
inline constexpr std::string_view kDays = "Days";
inline constexpr std::string_view kMonth = "Month";
inline constexpr std::string_view kMonths = "Months";
inline constexpr std::string_view kYear = "Year";
inline constexpr std::string_view kYears = "Years";
}  // namespace text_key

// The interface language: its code ("en", "ru", "zh-Hans"...) and its string table.
class InterfaceText {
 public:
  using Lookup = std::function<std::string(std::string_view key)>;

  // The language the application shows now: the first "AppleLanguages" entry of the standard
  // preferences, its texts from the main bundle.
  static InterfaceText current();

  InterfaceText(std::string language, Lookup lookup)
      : language_(std::move(language)), lookup_(std::move(lookup)) {}

  const std::string& language() const { return language_; }
  // The text for the key; the key itself when the table has none.
  std::string localized(std::string_view key) const;

  bool isOneOf(std::initializer_list<std::string_view> codes) const;

 private:
  std::string language_;
  Lookup lookup_;
};

// The locale that dates and times shown in the interface language are written in: the language
// with the host's region ("ru" on an en_US host gives ru_US: Russian words, the region's clock and
// orders); a language that names its own region keeps it, and on a host in the C or POSIX locale,
// which names no region, the language stands alone ("ru": a 24-hour clock); the host's locale when
// there is no language. The one rule of every date the diary shows in its language (list rows and day titles,
// the report). Any thread: it reads the host's locale and sets nothing process-wide.
foundation::Locale interfaceLocale(const InterfaceText& lang);

// The leading whole number of a text as the platform's integerValue reads it: blanks, a sign and
// digits; 0 when there are none, clamped to the 64-bit range.
std::int64_t leadingInteger(std::string_view text);

// A number with its unit: "3.46 kg", "12 lbs 15 oz", "5 ft 5.5 in". Empty without a number or a
// unit.
std::string numberWithUnitText(const InterfaceText& lang, std::optional<std::string_view> type,
                               std::optional<double> number, std::optional<std::string_view> unitKey);

// The value text of a note from its sub-value, number and unit text. For "Breast Feeding" the
// sub-value names the side fed last, the number holds the left minutes and the unit text the right
// minutes.
std::string valueText(const InterfaceText& lang, std::optional<std::string_view> type,
                      std::optional<std::string_view> subValue, std::optional<double> number,
                      std::optional<std::string_view> unitText);

// The time (or time range) of a note and its duration; empty without a type. `clock` gives the
// "now" against which breast-feeding minutes are measured.
std::vector<std::string> dateAndDurationTexts(const InterfaceText& lang, std::optional<std::string_view> type,
                                              std::optional<foundation::Date> start,
                                              std::optional<foundation::Date> stop,
                                              std::optional<double> number,
                                              std::optional<std::string_view> unitText, bool shortWeekdays,
                                              const foundation::Clock& clock);

// Elapsed time from one date to the other in days, hours and minutes ("1d 5m", "2h 30m ago");
// beyond 30 days an empty text, or "> 30d ago" when "ago" is asked for.
std::string elapsedTimeText(const InterfaceText& lang, foundation::Date from, foundation::Date to,
                            bool addAgo, bool shortVersion);

// An age in years, months and days between the days of two dates.
std::string ageText(const InterfaceText& lang, foundation::Date from, foundation::Date to);

// A count with its noun; the count is written without its sign.
std::string dayCountText(const InterfaceText& lang, std::int32_t count);
std::string monthCountText(const InterfaceText& lang, std::int32_t count);
std::string yearCountText(const InterfaceText& lang, std::int32_t count);

}  // namespace app
