#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/number_formatter.h"

namespace foundation {
namespace {

using testing_dates::at;
using testing_dates::zone;
using Style = DateFormatterStyle;

// The narrow no-break space the locale data puts between a time and its AM/PM marker.
const std::string kNarrowSpace = "\u202f";
// 14:07 UTC on Wednesday 5 March 2014: 18:07 in Moscow, which was at +4 that year.
const Date kSample = at(2014, 3, 5, 14, 7);

DateFormatter posix(std::string_view pattern, std::string_view zoneId = "UTC") {
  return DateFormatter::withPattern(pattern, Locale::posix(), zone(zoneId));
}

// --- Fixed patterns ------------------------------------------------------------------------------

TEST(DateFormatterPattern, PhotoKeyAndDayFilePatternsInTheZoneAndLocale) {
  auto formatter = posix("yyyy_MMMM_dd_HH_mm");
  EXPECT_EQ(formatter.stringFromDate(kSample), "2014_March_05_14_07");
  formatter.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(formatter.stringFromDate(kSample), "2014_March_05_18_07");
  formatter.setLocale(Locale("ru_RU"));
  EXPECT_EQ(formatter.stringFromDate(kSample), "2014_марта_05_18_07");

  const auto moscow = posix("yyyy.MM.dd", "Europe/Moscow");
  EXPECT_EQ(moscow.stringFromDate(at(2014, 3, 5, 21, 0)), "2014.03.06");
  EXPECT_EQ(moscow.dateFromString("2014.03.05"), at(2014, 3, 5, 0, 0, 0, 4));
  EXPECT_EQ(moscow.dateFromString("1999.12.31"), at(1999, 12, 31, 0, 0, 0, 3));
  EXPECT_EQ(posix("yyyy.MM.dd", "America/New_York").dateFromString("2014.07.04"),
            at(2014, 7, 4, 0, 0, 0, -4));
}

TEST(DateFormatterPattern, CloudMetadataPatternTakesTheOffsetFromTheText) {
  auto formatter = posix("EEE, dd MMM yyyy HH:mm:ss Z");
  EXPECT_EQ(formatter.stringFromDate(kSample), "Wed, 05 Mar 2014 14:07:00 +0000");
  EXPECT_EQ(formatter.dateFromString("Sat, 21 Aug 2010 22:31:20 +0000"), at(2010, 8, 21, 22, 31, 20));
  formatter.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(formatter.stringFromDate(kSample), "Wed, 05 Mar 2014 18:07:00 +0400");
  EXPECT_EQ(formatter.dateFromString("Wed, 05 Mar 2014 14:07:00 +0000"), kSample);
  EXPECT_EQ(formatter.dateFromString("Wed, 05 Mar 2014 17:07:00 +0300"), kSample);
}

TEST(DateFormatterPattern, MissingFieldsComeFromTheFirstOf2000InTheZone) {
  EXPECT_EQ(posix("yyyy", "Europe/Moscow").dateFromString("1980"), at(1980, 1, 1, 0, 0, 0, 3));
  const auto time = posix("HH:mm", "America/New_York");
  EXPECT_EQ(time.stringFromDate(kSample), "09:07");
  EXPECT_EQ(time.dateFromString("14:07"), at(2000, 1, 1, 14, 7, 0, -5));
  // The locale's own calendar writes and reads Buddhist years, and the default day is still 2000.
  const auto thai = DateFormatter::withPattern("yyyy.MM.dd", Locale("th_TH"), TimeZone::utc());
  EXPECT_EQ(thai.dateFromString("2557.03.05"), at(2014, 3, 5));
  EXPECT_EQ(DateFormatter::withPattern("HH:mm", Locale("th_TH"), TimeZone::utc()).dateFromString("14:07"),
            at(2000, 1, 1, 14, 7));
}

TEST(DateFormatterPattern, ParsingIsStrictAndUnusablePatternsFormatNothing) {
  const auto day = posix("yyyy.MM.dd");
  for (const char* text :
       {"", "2014.13.05", "2014.02.30", "2014.03.05 ", "2014-03-05", "2014.03", "2014.03.0\xff"})
    EXPECT_FALSE(day.dateFromString(text)) << text;
  const auto metadata = posix("EEE, dd MMM yyyy HH:mm:ss Z");
  for (const char* text :
       {"Wed, 05 Mar 2014 14:07:00", "Wed, 05 Mar 2014 25:07:00 +0000", "2014-03-05T14:07:00Z"})
    EXPECT_FALSE(metadata.dateFromString(text)) << text;
  EXPECT_EQ(day.stringFromDate(Date{std::numeric_limits<double>::quiet_NaN()}), "");
  // "j" belongs to templates, not to patterns.
  const auto broken = posix("yyyy jj");
  EXPECT_EQ(broken.stringFromDate(kSample), "");
  EXPECT_FALSE(broken.dateFromString("2014 14"));
  EXPECT_EQ(broken.dateFormat(), "yyyy jj");
  EXPECT_EQ(posix("").stringFromDate(kSample), "");
}

// --- Styles --------------------------------------------------------------------------------------

TEST(DateFormatterStyles, EachStyleFormatsAndParsesBack) {
  const std::tuple<Style, Style, const char*, std::string> cases[] = {
      {Style::Short, Style::None, "en_US", "3/5/14"},
      {Style::Medium, Style::None, "en_US", "Mar 5, 2014"},
      {Style::Long, Style::None, "de_DE", "5. März 2014"},
      {Style::Full, Style::None, "ru_RU", "среда, 5 марта 2014\u202fг."},
      {Style::None, Style::Short, "en_US", "6:07" + kNarrowSpace + "PM"},
      {Style::None, Style::Medium, "de_DE", "18:07:00"},
      {Style::Short, Style::Short, "ru_RU", "05.03.2014, 18:07"},
      {Style::None, Style::None, "en_US", ""}};
  for (const auto& [date, time, locale, expected] : cases) {
    const auto formatter = DateFormatter::withStyles(date, time, Locale(locale), zone("Europe/Moscow"));
    EXPECT_EQ(formatter.stringFromDate(kSample), expected) << locale;
    if (date != Style::None && time != Style::None) {
      EXPECT_EQ(formatter.dateFromString(expected), kSample) << expected;
    }
  }
  const auto longDate =
      DateFormatter::withStyles(Style::Long, Style::None, Locale("en_US"), zone("Europe/Moscow"));
  EXPECT_EQ(longDate.dateFromString("March 5, 2014"), at(2014, 3, 5, 0, 0, 0, 4));
  EXPECT_FALSE(longDate.dateFromString("March 32, 2014"));
  EXPECT_FALSE(DateFormatter::withStyles(Style::None, Style::None).dateFromString("March 5, 2014"));
}

TEST(DateFormatterStyles, PatternsAndStylesReplaceEachOther) {
  auto formatter = DateFormatter::withStyles(Style::Long, Style::None, Locale("en_US"), TimeZone::utc());
  EXPECT_EQ(formatter.dateFormat(), "MMMM d, y");
  EXPECT_EQ(formatter.dateStyle(), Style::Long);
  // A new locale re-derives a styled pattern...
  formatter.setLocale(Locale("de_DE"));
  EXPECT_EQ(formatter.dateFormat(), "d. MMMM y");
  EXPECT_EQ(formatter.locale().identifier(), "de_DE");
  // ...a set pattern replaces the styles and survives a change of locale...
  formatter.setDateFormat("yyyy_MMMM");
  EXPECT_EQ(formatter.stringFromDate(kSample), "2014_März");
  formatter.setLocale(Locale::posix());
  EXPECT_EQ(formatter.dateFormat(), "yyyy_MMMM");
  EXPECT_EQ(formatter.stringFromDate(kSample), "2014_March");
  // ...and setting a style brings the locale's pattern back.
  formatter.setTimeStyle(Style::Short);
  EXPECT_EQ(formatter.timeStyle(), Style::Short);
  EXPECT_EQ(formatter.dateFormat(), "MMMM d, y 'at' h:mm" + kNarrowSpace + "a");
  formatter.setDateStyle(Style::None);
  formatter.setTimeZone(zone("Asia/Tokyo"));
  EXPECT_EQ(formatter.timeZone().identifier(), "Asia/Tokyo");
  EXPECT_EQ(formatter.stringFromDate(kSample), "11:07" + kNarrowSpace + "PM");
}

TEST(DateFormatterStyles, FormattersOfOnePatternStayApart) {
  // Formatters of one pattern and locale made one after another (as a list's rows make them) each
  // keep their own zone and pattern.
  auto moscow = DateFormatter::withPattern("HH:mm", Locale::posix(), zone("Europe/Moscow"));
  auto tokyo = DateFormatter::withPattern("HH:mm", Locale::posix(), zone("Asia/Tokyo"));
  EXPECT_EQ(moscow.stringFromDate(kSample), "18:07");
  EXPECT_EQ(tokyo.stringFromDate(kSample), "23:07");
  tokyo.setTimeZone(TimeZone::utc());
  tokyo.setDateFormat("yyyy HH:mm");
  EXPECT_EQ(moscow.stringFromDate(kSample), "18:07");
  EXPECT_EQ(tokyo.stringFromDate(kSample), "2014 14:07");
  EXPECT_EQ(DateFormatter::withPattern("HH:mm", Locale::posix(), zone("Asia/Tokyo")).stringFromDate(kSample),
            "23:07");
}

TEST(DateFormatterStyles, DefaultFormatterUsesTheCurrentLocaleAndLocalZone) {
  ScopedDefaultTimeZone moscow(zone("Europe/Moscow"));
  ScopedDefaultLocale russian(Locale("ru_RU"));
  DateFormatter formatter;
  EXPECT_EQ(formatter.locale().identifier(), "ru_RU");
  EXPECT_EQ(formatter.timeZone().identifier(), "Europe/Moscow");
  EXPECT_EQ(formatter.stringFromDate(kSample), "");
  EXPECT_FALSE(formatter.dateFromString("2014"));
  formatter.setDateStyle(Style::Long);
  DateFormatter moved = std::move(formatter);
  EXPECT_EQ(moved.stringFromDate(kSample), "5 марта 2014\u202fг.");
  EXPECT_EQ(DateFormatter::withPattern("HH:mm").stringFromDate(kSample), "18:07");
}

TEST(DateFormatterTemplates, LocalisedPatternsForTemplates) {
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("en_US")), "MMM d");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("ru_RU")), "d MMM");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("jm", Locale("en_US")), "h:mm" + kNarrowSpace + "a");
  EXPECT_FALSE(DateFormatter::dateFormatFromTemplate("", Locale("en_US")));
  EXPECT_FALSE(DateFormatter::dateFormatFromTemplate("MM\xff", Locale("en_US")));
}

// --- Numbers -------------------------------------------------------------------------------------

// Halves go up (away from zero), where rounding to even would go down; the decimal value written
// is rounded, not its nearest binary double (2.675, 1.005); zero has no sign; no grouping and a
// point whatever the locale; odd values do not fail.
TEST(NumberFormatter, RoundsHalfUpWithoutTrailingZerosOrGroupingWhateverTheLocale) {
  ScopedDefaultLocale german(Locale("de_DE"));
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::tuple<double, int, const char*> cases[] = {{3, 2, "3"},
                                                        {3.456, 2, "3.46"},
                                                        {12.99, 1, "13"},
                                                        {1234567.5, 1, "1234567.5"},
                                                        {1.25, 1, "1.3"},
                                                        {2.5, 0, "3"},
                                                        {-1.25, 1, "-1.3"},
                                                        {2.675, 2, "2.68"},
                                                        {1.005, 2, "1.01"},
                                                        {-0.04, 1, "0"},
                                                        {-0.0, 2, "0"},
                                                        {-250, 1, "-250"},
                                                        {999999999999999, 2, "999999999999999"},
                                                        {1e15, 0, "1000000000000000"},
                                                        {1e21, 2, "1000000000000000000000"},
                                                        {1e-7, 20, "0.0000001"},
                                                        {std::numeric_limits<double>::quiet_NaN(), 2, "NaN"},
                                                        {kInf, 2, "∞"},
                                                        {-kInf, 2, "-∞"}};
  for (const auto& [value, digits, expected] : cases)
    EXPECT_EQ(NumberFormatter::format(value, digits), expected) << value << " to " << digits;
  EXPECT_EQ(NumberFormatter::format(-0.04, 1, 1), "0.0");
}

TEST(NumberFormatter, MinimumFractionDigitsAndLimits) {
  NumberFormatter formatter(2, 1);
  EXPECT_EQ(formatter.stringFromNumber(3), "3.0");
  EXPECT_EQ(formatter.stringFromNumber(3.456), "3.46");
  formatter.setMaximumFractionDigits(0);  // drags the minimum down with it
  EXPECT_EQ(formatter.minimumFractionDigits(), 0);
  EXPECT_EQ(formatter.stringFromNumber(3.5), "4");
  formatter.setMinimumFractionDigits(3);  // pushes the maximum up with it
  EXPECT_EQ(formatter.maximumFractionDigits(), 3);
  EXPECT_EQ(formatter.stringFromNumber(0.5), "0.500");
  formatter.setMaximumFractionDigits(99);
  EXPECT_EQ(formatter.maximumFractionDigits(), 20);
  formatter.setMinimumFractionDigits(-4);
  EXPECT_EQ(formatter.minimumFractionDigits(), 0);
  EXPECT_EQ(formatter.stringFromNumber(0.1), "0.1");
  NumberFormatter defaults;
  NumberFormatter moved = std::move(defaults);
  EXPECT_EQ(moved.stringFromNumber(-12.5), "-13");
}

// The one-off formatting keeps one formatter per pair of bounds and shares it between threads: each
// thread's texts are those of a formatter of its own, bounds out of range included, and stay so
// when the same values come again (the texts a thread keeps).
TEST(NumberFormatter, OneOffFormattingFromManyThreadsMatchesOwnFormatters) {
  const std::pair<int, int> bounds[] = {{0, 0}, {1, 0}, {2, 1}, {99, -4}, {-3, 5}};
  std::vector<std::string> failures[std::size(bounds)];
  std::vector<std::thread> threads;
  for (size_t t = 0; t < std::size(bounds); ++t) {
    threads.emplace_back([&, t] {
      const auto [most, least] = bounds[t];
      const NumberFormatter own(most, least);
      for (int i = 0; i < 800; ++i) {
        const double value = (i % 400 - 200) * 0.0375;
        const std::string shared = NumberFormatter::format(value, most, least);
        if (shared != own.stringFromNumber(value)) failures[t].push_back(shared);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failed : failures) EXPECT_TRUE(failed.empty()) << failed.front();
}

}  // namespace
}  // namespace foundation
