#include <gtest/gtest.h>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace foundation {
namespace {

using testing_dates::at;
using testing_dates::zone;

TEST(TimeZone, FindsZonesByIdentifierAndNamesFixedOffsetsOneWay) {
  EXPECT_EQ(zone("Europe/Moscow").identifier(), "Europe/Moscow");
  for (const char* unknown : {"Nowhere/Atlantis", "", "Europe/\xff\xfe"})
    EXPECT_FALSE(TimeZone::withIdentifier(unknown)) << unknown;
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-(5 * 3600 + 30 * 60))->identifier(), "GMT-0530");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-19800)->secondsFromGMT(at(2014, 7, 1)), -19800);
  EXPECT_EQ(TimeZone::withSecondsFromGMT(0), TimeZone::gmt());
  EXPECT_EQ(TimeZone::withSecondsFromGMT(18 * 3600)->secondsFromGMT(at(2014, 7, 1)), 18 * 3600);
  EXPECT_FALSE(TimeZone::withSecondsFromGMT(18 * 3600 + 1));
  EXPECT_FALSE(TimeZone::withSecondsFromGMT(-18 * 3600 - 60));
  // Offset identifiers written other ways name the same zone.
  EXPECT_EQ(zone("GMT+3").identifier(), "GMT+0300");
  EXPECT_EQ(zone("GMT+03:00"), *TimeZone::withSecondsFromGMT(10800));
  EXPECT_EQ(zone("GMT+3").secondsFromGMT(at(2014, 7, 1)), 10800);
  EXPECT_FALSE(TimeZone::utc() == TimeZone::gmt());
}

TEST(TimeZone, OffsetsAndAbbreviationsFollowTheZonesHistory) {
  // Moscow kept summer time until 2010, stayed at +4 from 2011 to 2014 and has been at +3 since.
  const TimeZone moscow = zone("Europe/Moscow");
  const std::tuple<Date, int, bool, const char*> cases[] = {
      {at(2010, 7, 15), 4, true, "GMT+4"},
      {at(2013, 1, 15), 4, false, "GMT+4"},
      {at(2015, 1, 15), 3, false, "GMT+3"},
  };
  for (const auto& [date, hours, summer, abbreviation] : cases) {
    EXPECT_EQ(moscow.secondsFromGMT(date), hours * 3600) << abbreviation;
    EXPECT_EQ(moscow.isDaylightSavingTime(date), summer) << abbreviation;
    EXPECT_EQ(moscow.abbreviation(date), abbreviation);
  }
  const TimeZone newYork = zone("America/New_York");
  EXPECT_EQ(newYork.secondsFromGMT(at(2014, 1, 15, 12)), -5 * 3600);
  EXPECT_EQ(newYork.abbreviation(at(2014, 1, 15)), "EST");
  EXPECT_EQ(newYork.abbreviation(at(2014, 7, 15)), "EDT");
  EXPECT_FALSE(TimeZone::utc().isDaylightSavingTime(at(2014, 7, 15)));
  EXPECT_EQ(TimeZone::gmt().abbreviation(at(2015, 1, 15)), "GMT");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(19800)->abbreviation(at(2015, 1, 15)), "GMT+5:30");
}

TEST(TimeZone, LocalZoneIsTheDefaultWhileOneIsSet) {
  EXPECT_EQ(TimeZone::local(), TimeZone::system());
  {
    ScopedDefaultTimeZone moscow(zone("Europe/Moscow"));
    {
      ScopedDefaultTimeZone newYork(zone("America/New_York"));
      EXPECT_EQ(TimeZone::local().identifier(), "America/New_York");
    }
    EXPECT_EQ(TimeZone::local().identifier(), "Europe/Moscow");
  }
  EXPECT_EQ(TimeZone::local(), TimeZone::system());
  TimeZone::setDefault(zone("Asia/Tokyo"));
  EXPECT_EQ(TimeZone::local().secondsFromGMT(at(2014, 7, 1)), 9 * 3600);
  TimeZone::setDefault(std::nullopt);
  EXPECT_EQ(TimeZone::local(), TimeZone::system());
}

TEST(Locale, NormalisesIdentifiersSplitsThemAndGivesTheRootForJunk) {
  const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
      {"en_US_POSIX", "en_US_POSIX", "en", "US", ""},
      {"zh-Hans", "zh_Hans", "zh", "", "Hans"},
      {"ru_RU", "ru_RU", "ru", "RU", ""},
      {"en-US", "en_US", "en", "US", ""},
  };
  for (const auto& [text, identifier, language, country, script] : cases) {
    const Locale locale(text);
    EXPECT_EQ(locale.identifier(), identifier);
    EXPECT_EQ(locale.languageCode(), language) << text;
    EXPECT_EQ(locale.countryCode(), country) << text;
    EXPECT_EQ(locale.scriptCode(), script) << text;
  }
  EXPECT_EQ(Locale::posix(), Locale("en_US_POSIX"));
  for (const char* junk : {"", "!!!", "en US", "x", "123_US", "\xff\xfe", "toolonglanguage_US"}) {
    EXPECT_EQ(Locale(junk), Locale()) << junk;
    EXPECT_EQ(Locale(junk).languageCode(), "") << junk;
  }
}

TEST(Locale, CurrentLocaleIsTheDefaultWhileOneIsSet) {
  const Locale host = Locale::current();
  {
    ScopedDefaultLocale russian(Locale("ru_RU"));
    {
      ScopedDefaultLocale japanese(Locale("ja_JP"));
      EXPECT_EQ(Locale::current().identifier(), "ja_JP");
    }
    EXPECT_EQ(Locale::current().identifier(), "ru_RU");
  }
  EXPECT_EQ(Locale::current(), host);
  Locale::setDefault(Locale("de_DE"));
  EXPECT_EQ(Locale::current().countryCode(), "DE");
  Locale::setDefault(std::nullopt);
  EXPECT_EQ(Locale::current(), host);
}

}  // namespace
}  // namespace foundation
