#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/number_formatter.h"

namespace foundation {
namespace {

using testing_dates::at;
using Style = DateFormatterStyle;

// The narrow no-break space the locale data puts between a time and its AM/PM marker.
const std::string kNarrowSpace = "\u202f";

TimeZone zone(const char* identifier) {
  auto found = TimeZone::withIdentifier(identifier);
  EXPECT_TRUE(found) << identifier;
  return found.value_or(TimeZone::utc());
}

// 14:07 UTC on Wednesday 5 March 2014: 18:07 in Moscow, which was at +4 that year.
const Date kSample = at(2014, 3, 5, 14, 7);

// --- Fixed patterns ------------------------------------------------------------------------------

TEST(DateFormatterPattern, PhotoKeyPattern) {
  auto posix = DateFormatter::withPattern("yyyy_MMMM_dd_HH_mm", Locale::posix(), TimeZone::utc());
  EXPECT_EQ(posix.stringFromDate(kSample), "2014_March_05_14_07");
  posix.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(posix.stringFromDate(kSample), "2014_March_05_18_07");
  // In the device's locale the month name is the locale's own.
  const auto russian = DateFormatter::withPattern("yyyy_MMMM_dd_HH_mm", Locale("ru_RU"), TimeZone::utc());
  EXPECT_EQ(russian.stringFromDate(kSample), "2014_марта_05_14_07");
  const auto german = DateFormatter::withPattern("yyyy_MMMM_dd_HH_mm", Locale("de_DE"), TimeZone::utc());
  EXPECT_EQ(german.stringFromDate(kSample), "2014_März_05_14_07");
}

TEST(DateFormatterPattern, DayFilePatternFormatsAndParsesLocalDays) {
  const auto moscow = DateFormatter::withPattern("yyyy.MM.dd", Locale::posix(), zone("Europe/Moscow"));
  EXPECT_EQ(moscow.stringFromDate(kSample), "2014.03.05");
  EXPECT_EQ(moscow.stringFromDate(at(2014, 3, 5, 21, 0)), "2014.03.06");
  EXPECT_EQ(moscow.dateFromString("2014.03.05"), at(2014, 3, 5, 0, 0, 0, 4));
  EXPECT_EQ(moscow.dateFromString("1999.12.31"), at(1999, 12, 31, 0, 0, 0, 3));
  const auto newYork = DateFormatter::withPattern("yyyy.MM.dd", Locale::posix(), zone("America/New_York"));
  EXPECT_EQ(newYork.dateFromString("2014.07.04"), at(2014, 7, 4, 0, 0, 0, -4));
  EXPECT_EQ(newYork.stringFromDate(*newYork.dateFromString("2016.02.29")), "2016.02.29");
}

TEST(DateFormatterPattern, CloudMetadataPattern) {
  auto formatter =
      DateFormatter::withPattern("EEE, dd MMM yyyy HH:mm:ss Z", Locale::posix(), TimeZone::utc());
  EXPECT_EQ(formatter.stringFromDate(kSample), "Wed, 05 Mar 2014 14:07:00 +0000");
  EXPECT_EQ(formatter.dateFromString("Wed, 05 Mar 2014 14:07:00 +0000"), kSample);
  EXPECT_EQ(formatter.dateFromString("Wed, 05 Mar 2014 17:07:00 +0300"), kSample);
  EXPECT_EQ(formatter.dateFromString("Sat, 21 Aug 2010 22:31:20 +0000"), at(2010, 8, 21, 22, 31, 20));
  // The offset in the text decides, not the formatter's zone.
  formatter.setTimeZone(zone("Europe/Moscow"));
  EXPECT_EQ(formatter.stringFromDate(kSample), "Wed, 05 Mar 2014 18:07:00 +0400");
  EXPECT_EQ(formatter.dateFromString("Wed, 05 Mar 2014 14:07:00 +0000"), kSample);
}

TEST(DateFormatterPattern, WeekdayPatternInSeveralLocales) {
  const std::pair<const char*, const char*> expected[] = {{"en_US_POSIX", "Wed"}, {"en_US", "Wed"},
                                                          {"ru_RU", "ср"},        {"de_DE", "Mi."},
                                                          {"ja_JP", "水"},        {"zh_Hans", "周三"}};
  for (const auto& [locale, weekday] : expected) {
    EXPECT_EQ(DateFormatter::withPattern("E", Locale(locale), TimeZone::utc()).stringFromDate(kSample),
              weekday)
        << locale;
  }
  // Late on Wednesday in UTC is already Thursday in Tokyo.
  EXPECT_EQ(
      DateFormatter::withPattern("E", Locale::posix(), zone("Asia/Tokyo")).stringFromDate(at(2014, 3, 5, 20)),
      "Thu");
}

TEST(DateFormatterPattern, MissingFieldsComeFromTheFirstOf2000) {
  const auto year = DateFormatter::withPattern("yyyy", Locale::posix(), zone("Europe/Moscow"));
  EXPECT_EQ(year.stringFromDate(kSample), "2014");
  // A year alone is 1 January of that year at local midnight.
  EXPECT_EQ(year.dateFromString("2014"), at(2014, 1, 1, 0, 0, 0, 4));
  EXPECT_EQ(year.dateFromString("1980"), at(1980, 1, 1, 0, 0, 0, 3));

  const auto time = DateFormatter::withPattern("HH:mm", Locale::posix(), zone("America/New_York"));
  EXPECT_EQ(time.stringFromDate(kSample), "09:07");
  EXPECT_EQ(time.dateFromString("14:07"), at(2000, 1, 1, 14, 7, 0, -5));
}

TEST(DateFormatterPattern, ParsingIsStrict) {
  const auto day = DateFormatter::withPattern("yyyy.MM.dd", Locale::posix(), TimeZone::utc());
  for (const char* text : {"", "2014.13.05", "2014.02.30", "2014.00.10", "2014.03.05 ", "2014-03-05",
                           "2014.03", "2014.03.05x", "abcd.ef.gh", "2014.03.0\xff", "2014.03.05\n"}) {
    EXPECT_FALSE(day.dateFromString(text)) << text;
  }
  const auto metadata =
      DateFormatter::withPattern("EEE, dd MMM yyyy HH:mm:ss Z", Locale::posix(), TimeZone::utc());
  for (const char* text :
       {"Wed, 05 Mar 2014 14:07:00", "Wed, 05 Foo 2014 14:07:00 +0000", "Wed, 05 Mar 2014 25:07:00 +0000",
        "Wed, 05 Mar 2014 14:61:00 +0000", "05 Mar 2014 14:07:00 +0000", "2014-03-05T14:07:00Z", "null"}) {
    EXPECT_FALSE(metadata.dateFromString(text)) << text;
  }
}

TEST(DateFormatterPattern, AnUnusablePatternFormatsNothing) {
  // "j" belongs to templates, not to patterns.
  const auto broken = DateFormatter::withPattern("yyyy jj", Locale::posix(), TimeZone::utc());
  EXPECT_EQ(broken.stringFromDate(kSample), "");
  EXPECT_FALSE(broken.dateFromString("2014 14"));
  EXPECT_EQ(broken.dateFormat(), "yyyy jj");

  const auto empty = DateFormatter::withPattern("", Locale::posix(), TimeZone::utc());
  EXPECT_EQ(empty.stringFromDate(kSample), "");
  EXPECT_FALSE(empty.dateFromString(""));

  const auto fine = DateFormatter::withPattern("yyyy", Locale::posix(), TimeZone::utc());
  EXPECT_EQ(fine.stringFromDate(Date{std::numeric_limits<double>::quiet_NaN()}), "");
}

TEST(DateFormatterPattern, LocalesWithTheirOwnCalendarsRoundTrip) {
  const auto thai = DateFormatter::withPattern("yyyy.MM.dd", Locale("th_TH"), TimeZone::utc());
  EXPECT_EQ(thai.stringFromDate(kSample), "2557.03.05");
  EXPECT_EQ(thai.dateFromString("2557.03.05"), at(2014, 3, 5));
  EXPECT_EQ(DateFormatter::withPattern("HH:mm", Locale("th_TH"), TimeZone::utc()).dateFromString("14:07"),
            at(2000, 1, 1, 14, 7));
}

TEST(DateFormatterPattern, QuotedLiteralsAndNonAsciiText) {
  const auto quoted = DateFormatter::withPattern("'day' d 'of' MMMM", Locale("ru_RU"), TimeZone::utc());
  EXPECT_EQ(quoted.stringFromDate(kSample), "day 5 of марта");
  EXPECT_EQ(quoted.dateFromString("day 5 of марта"), at(2000, 3, 5));
}

// --- Styles --------------------------------------------------------------------------------------

struct StyleCase {
  Style date;
  Style time;
  const char* locale;
  std::string expected;
};

TEST(DateFormatterStyles, EachStyleInSeveralLocales) {
  const std::string pm = kNarrowSpace + "PM";
  const StyleCase cases[] = {
      {Style::Long, Style::None, "en_US", "March 5, 2014"},
      {Style::Long, Style::None, "ru_RU", "5 марта 2014\u202fг."},
      {Style::Long, Style::None, "ja_JP", "2014年3月5日"},
      {Style::Long, Style::None, "de_DE", "5. März 2014"},
      {Style::Medium, Style::None, "en_US", "Mar 5, 2014"},
      {Style::Medium, Style::None, "ru_RU", "5 мар. 2014\u202fг."},
      {Style::Medium, Style::None, "ja_JP", "2014/03/05"},
      {Style::Medium, Style::None, "de_DE", "05.03.2014"},
      {Style::Short, Style::None, "en_US", "3/5/14"},
      {Style::Short, Style::None, "ru_RU", "05.03.2014"},
      {Style::Short, Style::None, "de_DE", "05.03.14"},
      {Style::Full, Style::None, "en_US", "Wednesday, March 5, 2014"},
      {Style::Full, Style::None, "ru_RU", "среда, 5 марта 2014\u202fг."},
      {Style::Full, Style::None, "ja_JP", "2014年3月5日水曜日"},
      {Style::Full, Style::None, "de_DE", "Mittwoch, 5. März 2014"},
      {Style::None, Style::Short, "en_US", "6:07" + pm},
      {Style::None, Style::Short, "ru_RU", "18:07"},
      {Style::None, Style::Short, "ja_JP", "18:07"},
      {Style::None, Style::Short, "de_DE", "18:07"},
      {Style::None, Style::Medium, "en_US", "6:07:00" + pm},
      {Style::None, Style::Medium, "de_DE", "18:07:00"},
      {Style::Short, Style::Short, "en_US", "3/5/14, 6:07" + pm},
      {Style::Short, Style::Short, "ru_RU", "05.03.2014, 18:07"},
      {Style::Short, Style::Short, "ja_JP", "2014/03/05 18:07"},
      {Style::Short, Style::Short, "de_DE", "05.03.14, 18:07"},
      {Style::Long, Style::Short, "en_US", "March 5, 2014 at 6:07" + pm},
      {Style::Long, Style::Short, "ru_RU", "5 марта 2014\u202fг. в 18:07"},
      {Style::Long, Style::Short, "ja_JP", "2014年3月5日 18:07"},
      {Style::Long, Style::Short, "de_DE", "5. März 2014 um 18:07"},
      {Style::None, Style::None, "en_US", ""},
  };
  for (const auto& c : cases) {
    const auto formatter = DateFormatter::withStyles(c.date, c.time, Locale(c.locale), zone("Europe/Moscow"));
    EXPECT_EQ(formatter.stringFromDate(kSample), c.expected)
        << c.locale << " " << static_cast<int>(c.date) << "/" << static_cast<int>(c.time);
  }
}

TEST(DateFormatterStyles, LongStylesNameTheZone) {
  const auto newYork =
      DateFormatter::withStyles(Style::None, Style::Long, Locale("en_US"), zone("America/New_York"));
  EXPECT_EQ(newYork.stringFromDate(kSample), "9:07:00" + kNarrowSpace + "AM EST");
  const auto full =
      DateFormatter::withStyles(Style::None, Style::Full, Locale("en_US"), zone("America/New_York"));
  EXPECT_EQ(full.stringFromDate(at(2014, 7, 1, 16)), "12:00:00" + kNarrowSpace + "PM Eastern Daylight Time");
}

TEST(DateFormatterStyles, StyledTextParsesBack) {
  const auto longDate =
      DateFormatter::withStyles(Style::Long, Style::None, Locale("en_US"), zone("Europe/Moscow"));
  EXPECT_EQ(longDate.dateFromString("March 5, 2014"), at(2014, 3, 5, 0, 0, 0, 4));
  EXPECT_FALSE(longDate.dateFromString("March 32, 2014"));
  const auto russian =
      DateFormatter::withStyles(Style::Short, Style::Short, Locale("ru_RU"), zone("Europe/Moscow"));
  EXPECT_EQ(russian.dateFromString(russian.stringFromDate(kSample)), kSample);
  const auto none = DateFormatter::withStyles(Style::None, Style::None, Locale("en_US"), TimeZone::utc());
  EXPECT_FALSE(none.dateFromString("March 5, 2014"));
}

TEST(DateFormatterStyles, PatternsAndStylesReplaceEachOther) {
  auto formatter = DateFormatter::withStyles(Style::Long, Style::None, Locale("en_US"), TimeZone::utc());
  EXPECT_EQ(formatter.dateFormat(), "MMMM d, y");
  EXPECT_EQ(formatter.dateStyle(), Style::Long);
  EXPECT_EQ(formatter.timeStyle(), Style::None);

  // A new locale re-derives a styled pattern...
  formatter.setLocale(Locale("de_DE"));
  EXPECT_EQ(formatter.dateFormat(), "d. MMMM y");
  EXPECT_EQ(formatter.stringFromDate(kSample), "5. März 2014");
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
  EXPECT_EQ(formatter.stringFromDate(kSample), "2:07" + kNarrowSpace + "PM");

  formatter.setTimeZone(zone("Asia/Tokyo"));
  EXPECT_EQ(formatter.timeZone().identifier(), "Asia/Tokyo");
  EXPECT_EQ(formatter.stringFromDate(kSample), "11:07" + kNarrowSpace + "PM");
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
  EXPECT_EQ(formatter.stringFromDate(kSample), "5 марта 2014\u202fг.");
  EXPECT_EQ(DateFormatter::withPattern("HH:mm").stringFromDate(kSample), "18:07");

  DateFormatter moved = std::move(formatter);
  EXPECT_EQ(moved.stringFromDate(kSample), "5 марта 2014\u202fг.");
}

TEST(DateFormatterTemplates, LocalisedPatternsForTemplates) {
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("en_US")), "MMM d");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("ru_RU")), "d MMM");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("de_DE")), "d. MMM");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("MMMd", Locale("ja_JP")), "M月d日");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("jm", Locale("en_US")), "h:mm" + kNarrowSpace + "a");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("jm", Locale("ru_RU")), "HH:mm");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("yy.MM.dd", Locale("en_US")), "MM/dd/yy");
  EXPECT_EQ(DateFormatter::dateFormatFromTemplate("yy.MM.dd", Locale("ru_RU")), "dd.MM.yy");
  EXPECT_FALSE(DateFormatter::dateFormatFromTemplate("", Locale("en_US")));
  EXPECT_FALSE(DateFormatter::dateFormatFromTemplate("MM\xff", Locale("en_US")));
}

// --- Numbers -------------------------------------------------------------------------------------

TEST(NumberFormatter, RoundsHalfUpWithoutTrailingZeros) {
  EXPECT_EQ(NumberFormatter::format(3, 2), "3");
  EXPECT_EQ(NumberFormatter::format(3.456, 2), "3.46");
  EXPECT_EQ(NumberFormatter::format(0.5, 2), "0.5");
  EXPECT_EQ(NumberFormatter::format(3.4, 2), "3.4");
  // Halves go up, where rounding to even would go down.
  EXPECT_EQ(NumberFormatter::format(1.25, 1), "1.3");
  EXPECT_EQ(NumberFormatter::format(0.125, 2), "0.13");
  EXPECT_EQ(NumberFormatter::format(2.5, 0), "3");
  // The decimal value written is rounded, not its nearest binary double.
  EXPECT_EQ(NumberFormatter::format(2.675, 2), "2.68");
  EXPECT_EQ(NumberFormatter::format(1.005, 2), "1.01");
  EXPECT_EQ(NumberFormatter::format(0.05, 1), "0.1");
  EXPECT_EQ(NumberFormatter::format(5.5, 1), "5.5");
  EXPECT_EQ(NumberFormatter::format(12.99, 1), "13");
  // Away from zero for negative values.
  EXPECT_EQ(NumberFormatter::format(-1.25, 1), "-1.3");
}

TEST(NumberFormatter, NoGroupingAndAPointWhateverTheLocale) {
  ScopedDefaultLocale german(Locale("de_DE"));
  EXPECT_EQ(NumberFormatter::format(1234567.5, 1), "1234567.5");
  EXPECT_EQ(NumberFormatter::format(3.5, 1), "3.5");
  EXPECT_EQ(NumberFormatter::format(0.04, 1), "0");
  EXPECT_EQ(NumberFormatter::format(0.4, 0), "0");
}

TEST(NumberFormatter, MinimumFractionDigitsAndLimits) {
  NumberFormatter formatter(2, 1);
  EXPECT_EQ(formatter.stringFromNumber(3), "3.0");
  EXPECT_EQ(formatter.stringFromNumber(3.456), "3.46");
  EXPECT_EQ(formatter.stringFromNumber(3.5), "3.5");

  formatter.setMaximumFractionDigits(0);  // drags the minimum down with it
  EXPECT_EQ(formatter.maximumFractionDigits(), 0);
  EXPECT_EQ(formatter.minimumFractionDigits(), 0);
  EXPECT_EQ(formatter.stringFromNumber(3.5), "4");

  formatter.setMinimumFractionDigits(3);  // pushes the maximum up with it
  EXPECT_EQ(formatter.minimumFractionDigits(), 3);
  EXPECT_EQ(formatter.maximumFractionDigits(), 3);
  EXPECT_EQ(formatter.stringFromNumber(0.5), "0.500");

  formatter.setMaximumFractionDigits(99);
  EXPECT_EQ(formatter.maximumFractionDigits(), 20);
  formatter.setMinimumFractionDigits(-4);
  EXPECT_EQ(formatter.minimumFractionDigits(), 0);
  EXPECT_EQ(formatter.stringFromNumber(0.1), "0.1");

  NumberFormatter defaults;
  EXPECT_EQ(defaults.stringFromNumber(12.5), "13");
  NumberFormatter moved = std::move(defaults);
  EXPECT_EQ(moved.stringFromNumber(-12.5), "-13");
}

TEST(NumberFormatter, ZeroHasNoSignAndOddValuesDoNotFail) {
  EXPECT_EQ(NumberFormatter::format(-0.04, 1), "0");
  EXPECT_EQ(NumberFormatter::format(-0.0, 2), "0");
  EXPECT_EQ(NumberFormatter::format(-0.04, 1, 1), "0.0");
  EXPECT_EQ(NumberFormatter::format(std::numeric_limits<double>::quiet_NaN(), 2), "NaN");
  EXPECT_EQ(NumberFormatter::format(std::numeric_limits<double>::infinity(), 2), "∞");
  EXPECT_EQ(NumberFormatter::format(-std::numeric_limits<double>::infinity(), 2), "-∞");
  EXPECT_EQ(NumberFormatter::format(1e21, 2), "1000000000000000000000");
  EXPECT_EQ(NumberFormatter::format(1e-7, 20), "0.0000001");
}

}  // namespace
}  // namespace foundation
