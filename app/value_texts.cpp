#include "app/value_texts.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/note_types.h"
#include "app/units.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/number_formatter.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"

namespace app {

namespace {

using foundation::Calendar;
using foundation::CalendarUnit;
using foundation::Date;
using foundation::text::format;

namespace nt = note_type;

bool is(std::optional<std::string_view> text, std::string_view key) { return text && *text == key; }

// Whole part of a float as an int, toward zero, without leaving int's range.
int truncToInt(float f) {
  if (std::isnan(f)) return 0;
  if (f >= 2147483647.0f) return std::numeric_limits<int>::max();
  if (f <= -2147483648.0f) return std::numeric_limits<int>::min();
  return static_cast<int>(f);
}

long truncToLong(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9.2e18) return std::numeric_limits<long>::max();
  if (d <= -9.2e18) return std::numeric_limits<long>::min();
  return static_cast<long>(d);
}

bool withoutBlanks(const InterfaceText& lang) { return lang.isOneOf({"ja", "zh-Hans"}); }

std::string removeBlanks(std::string text) {
  std::erase(text, ' ');
  return text;
}

// The date to the second, the fraction dropped.
Date toWholeSecond(Date date) { return Date{std::floor(date.sinceReference)}; }
// The date to the minute, the seconds dropped. Zones today are whole minutes from UTC, so the
// local minute begins where the absolute one does.
Date toWholeMinute(Date date) { return Date{std::floor(date.sinceReference / 60.0) * 60.0}; }

int orZero(const std::optional<int>& v) { return v.value_or(0); }

}  // namespace

InterfaceText InterfaceText::current() {
  const auto languages = runtime::UserDefaults::standard()->preferredLanguages();
  std::string language = languages.empty() ? std::string() : languages.front();
  std::shared_ptr<runtime::Bundle> bundle = runtime::Bundle::main();
  return InterfaceText(language, [bundle, language](std::string_view key) {
    return bundle->localizedStringInLanguage(key, language);
  });
}

std::string InterfaceText::localized(std::string_view key) const {
  if (!lookup_) return std::string(key);
  return lookup_(key);
}

bool InterfaceText::isOneOf(std::initializer_list<std::string_view> codes) const {
  for (std::string_view code : codes) {
    if (language_ == code) return true;
  }
  return false;
}

foundation::Locale interfaceLocale(const InterfaceText& lang) {
  const foundation::Locale host = foundation::Locale::current();
  if (lang.language().empty()) return host;
  const foundation::Locale wanted(lang.language());
  // A host in the C or POSIX locale names no region a person chose (its "US" only stands for
  // fixed formats): the language keeps its own conventions, a Russian day its 24-hour clock.
  const std::string country = host == foundation::Locale::posix() ? std::string() : host.countryCode();
  if (!wanted.countryCode().empty() || country.empty()) return wanted;
  return foundation::Locale(wanted.identifier() + "_" + country);
}

std::int64_t leadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::string numberWithUnitText(const InterfaceText& lang, std::optional<std::string_view> type,
                               std::optional<double> number, std::optional<std::string_view> unitKey) {
  if (!number || !unitKey) return {};
  if (is(type, nt::kWeight) && *unitKey == unit::kLbsOz) {
    // Pounds-and-ounces are kept as decimal pounds; the ounces are the fraction times 16, cut.
    const float f = static_cast<float>(*number);
    const int pounds = truncToInt(f);
    const int ounces = truncToInt((f - static_cast<float>(pounds)) * 16.0f);
    return format("%d %@ %d %@", {pounds, lang.localized(unit::kLbs), ounces, lang.localized(unit::kOz)});
  }
  if (is(type, nt::kHeight) && *unitKey == unit::kFtInch) {
    // Feet-and-inches are kept as decimal inches.
    const float f = static_cast<float>(*number);
    const int feet = truncToInt(f / 12.0f);
    const float inches = f - static_cast<float>(feet) * 12.0f;
    return format("%d %@ %@ %@", {feet, lang.localized(unit::kFt),
                                  foundation::NumberFormatter::format(static_cast<double>(inches), 1),
                                  lang.localized(unit::kInch)});
  }
  int digits = 1;
  if (is(type, nt::kWeight)) {
    digits = 2;
  } else if ((is(type, nt::kHeight) || is(type, nt::kHeadSize) || is(type, nt::kChestSize)) &&
             *unitKey == unit::kInch) {
    digits = 2;
  }
  // The number, a blank and the unit's name: joined directly, as the summary writes this per row.
  std::string text = foundation::NumberFormatter::format(*number, digits);
  text += ' ';
  text += lang.localized(*unitKey);
  return text;
}

std::string valueText(const InterfaceText& lang, std::optional<std::string_view> type,
                      std::optional<std::string_view> subValue, std::optional<double> number,
                      std::optional<std::string_view> unitText) {
  if (!type) return {};
  if (*type == nt::kBreastFeeding) {
    const long left = number ? truncToLong(*number) : 0;
    const long right = unitText ? static_cast<long>(leadingInteger(*unitText)) : 0;
    const bool lastLeft = is(subValue, text_key::kLeftBreast);
    const bool lastRight = is(subValue, text_key::kRightBreast);
    const std::string m = lang.localized(text_key::kMinute);
    const std::string leftName = lang.localized(text_key::kLeftBreast);
    const std::string rightName = lang.localized(text_key::kRightBreast);
    const std::string lastSide = lang.localized(text_key::kLastSide);
    if (left >= 1) {
      std::string text = format("%@ %ld%@ ", {leftName, left, m});
      if (right >= 1) {
        if (lastLeft) text = format("%@(%@)", {text, lastSide});
        text = format("%@, %@ %ld%@ ", {text, rightName, right, m});
        if (lastRight) text = format("%@(%@)", {text, lastSide});
      } else if (lastRight) {
        text = format("%@, %@ 0%@ (%@)", {text, rightName, m, lastSide});
      }
      return text;
    }
    if (right >= 1) {
      std::string text = format("%@ %ld%@ ", {rightName, right, m});
      if (lastLeft) text = format("%@ 0%@ (%@), %@", {leftName, m, lastSide, text});
      return text;
    }
    return subValue ? lang.localized(*subValue) : std::string();
  }

  std::string sub = subValue ? std::string(*subValue) : std::string();
  if (*type == nt::kPumping && !sub.empty()) sub = lang.localized(sub);
  const std::string num = numberWithUnitText(lang, type, number, unitText);
  if (!sub.empty() && !num.empty()) return format("%@ %@", {sub, num});
  if (!sub.empty()) return sub;
  return num;
}

std::vector<std::string> dateAndDurationTexts(const InterfaceText& lang, std::optional<std::string_view> type,
                                              std::optional<Date> start, std::optional<Date> stop,
                                              std::optional<double> number,
                                              std::optional<std::string_view> unitText, bool shortWeekdays,
                                              const foundation::Clock& clock) {
  if (!type) return {};
  const foundation::Locale locale = interfaceLocale(lang);
  const auto timeFormatter = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::None, foundation::DateFormatterStyle::Short, locale);
  if (datesOfType(type) == 1) {
    return {stop ? timeFormatter.stringFromDate(*stop) : std::string(), std::string()};
  }

  if (start) start = toWholeMinute(*start);
  if (stop) stop = toWholeMinute(*stop);
  std::string startText = start ? timeFormatter.stringFromDate(*start) : std::string();
  std::string stopText = stop ? timeFormatter.stringFromDate(*stop) : std::string();
  if (start && stop) {
    const Calendar calendar = Calendar::current();
    const auto startDay = calendar.component(CalendarUnit::Day, *start);
    const auto stopDay = calendar.component(CalendarUnit::Day, *stop);
    if (startDay != stopDay) {
      const auto weekdayFormatter = foundation::DateFormatter::withPattern("E", locale);
      auto weekday = [&](Date date) {
        std::string name = foundation::text::toLower(weekdayFormatter.stringFromDate(date));
        if (shortWeekdays && foundation::text::utf16Length(name) >= 3) {
          name = foundation::text::prefixUtf16(name, 2);
        }
        return name;
      };
      startText = weekday(*start) + startText;
      stopText = weekday(*stop) + stopText;
    }
  }
  std::string range = format("%@ - %@", {startText, stopText});

  std::string duration;
  if (*type == nt::kBreastFeeding && unitText) {
    // A saved feeding's duration is its counted minutes, not the time between its dates.
    long left = number ? truncToLong(*number) : 0;
    long right = static_cast<long>(leadingInteger(*unitText));
    if (left < 1) left = 0;
    if (right < 1) right = 0;
    // Summed as doubles: two damaged counts near the integer limit must not overflow.
    const double minutes = static_cast<double>(left) + static_cast<double>(right);
    const Date now = clock.now();
    duration = elapsedTimeText(lang, now, now + minutes * 60.0, false, false);
  } else if (start && stop) {
    duration = elapsedTimeText(lang, *start, *stop, false, false);
  }
  return {std::move(range), std::move(duration)};
}

std::string elapsedTimeText(const InterfaceText& lang, Date from, Date to, bool addAgo, bool shortVersion) {
  const Calendar calendar = Calendar::current();
  const auto parts =
      calendar.componentsBetween(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day |
                                     CalendarUnit::Hour | CalendarUnit::Minute | CalendarUnit::Second,
                                 toWholeSecond(from), toWholeSecond(to));
  if (!parts) return {};
  const int years = orZero(parts->year);
  const int months = orZero(parts->month);
  const int days = orZero(parts->day);
  const int hours = orZero(parts->hour);
  const int minutes = orZero(parts->minute);

  const std::string d = lang.localized(text_key::kDayLetter);
  const bool agoFirst = lang.isOneOf({"fr", "de", "es", "pt"});
  if (years < 1 && months < 1 && days < 31) {
    const std::string h = lang.localized(text_key::kHour);
    const std::string m = lang.localized(text_key::kMinute);
    std::string text;
    if (shortVersion) {
      if (hours < 1) {
        text = format("%d%@", {minutes, m});
      } else if (minutes >= 1) {
        text = withoutBlanks(lang) ? format("%d%@%d", {hours, h, minutes})
                                   : format("%d%@%d%@", {hours, h, minutes, m});
      } else {
        text = format("%d%@", {hours, h});
      }
      if (days >= 1) text = format("%d%@ %@", {days, d, text});
    } else {
      auto add = [&text](int count, const std::string& label) {
        if (count < 1) return;
        if (!text.empty()) text += ' ';
        text += format("%d%@", {count, label});
      };
      add(days, d);
      add(hours, h);
      add(minutes, m);
      if (text.empty()) text = format("0%@", {m});
    }
    if (addAgo) {
      const std::string ago = lang.localized(text_key::kAgo);
      text = agoFirst ? format("%@ %@", {ago, text}) : format("%@ %@", {text, ago});
    }
    if (withoutBlanks(lang)) text = removeBlanks(std::move(text));
    return text;
  }

  if (!addAgo) return {};
  if (lang.language() == "es") return "más de 30d";
  if (lang.language() == "ja") return ">30日前";
  if (lang.language() == "zh-Hans") return "30多天之前";
  const std::string over = format("> 30%@", {d});
  const std::string ago = lang.localized(text_key::kAgo);
  return lang.isOneOf({"fr", "de", "pt"}) ? format("%@ %@", {ago, over}) : format("%@ %@", {over, ago});
}

std::string ageText(const InterfaceText& lang, Date from, Date to) {
  const Calendar calendar = Calendar::current();
  const auto fromDay = calendar.startOfDay(from);
  const auto toDay = calendar.startOfDay(to);
  if (!fromDay || !toDay) return {};
  const auto parts = calendar.componentsBetween(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day,
                                                *fromDay, *toDay);
  if (!parts) return {};
  const std::string separator = lang.language() == "zh-Hans" ? "" : ", ";
  std::string text;
  if (orZero(parts->year) >= 1) text += yearCountText(lang, orZero(parts->year)) + separator;
  if (orZero(parts->month) >= 1) text += monthCountText(lang, orZero(parts->month)) + separator;
  text += dayCountText(lang, orZero(parts->day));
  return text;
}

namespace {

// Russian nouns after a count: one form for 1 and 21, one for 2-4 and 22-24, one for the rest.
std::string russianCount(std::int64_t n, const char* one, const char* few, const char* many) {
  if (n == 1 || n == 21) return format(one, {n});
  if ((n >= 2 && n <= 4) || (n >= 22 && n <= 24)) return format(few, {n});
  return format(many, {n});
}

std::int64_t magnitude(std::int32_t count) { return std::llabs(static_cast<long long>(count)); }

std::string countWithNoun(const InterfaceText& lang, std::int64_t n, std::string_view single,
                          std::string_view plural) {
  return format("%d %@", {n, lang.localized(n == 1 ? single : plural)});
}

}  // namespace

std::string dayCountText(const InterfaceText& lang, std::int32_t count) {
  const std::int64_t n = magnitude(count);
  if (lang.language() == "ru") return russianCount(n, "%d День", "%d Дня", "%d Дней");
  return countWithNoun(lang, n, text_key::kDay, text_key::kDays);
}

std::string monthCountText(const InterfaceText& lang, std::int32_t count) {
  const std::int64_t n = magnitude(count);
  if (lang.language() == "ru") {
    if (n == 1) return format("%d Месяц", {n});
    if (n >= 2 && n <= 4) return format("%d Месяца", {n});
    return format("%d Месяцев", {n});
  }
  return countWithNoun(lang, n, text_key::kMonth, text_key::kMonths);
}

std::string yearCountText(const InterfaceText& lang, std::int32_t count) {
  const std::int64_t n = magnitude(count);
  if (lang.language() == "ru") return russianCount(n, "%d Год", "%d Года", "%d Лет");
  if (lang.language() == "ja") return format("%d 歳", {n});
  if (lang.language() == "zh-Hans") return format("%d 岁", {n});
  return countWithNoun(lang, n, text_key::kYear, text_key::kYears);
}

}  // namespace app
