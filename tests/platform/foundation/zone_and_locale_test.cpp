#include <gtest/gtest.h>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace foundation {
namespace {

using testing_dates::at;

TimeZone zone(const char* identifier) {
  auto found = TimeZone::withIdentifier(identifier);
  EXPECT_TRUE(found) << identifier;
  return found.value_or(TimeZone::utc());
}

TEST(TimeZone, FindsZonesByIdentifierAndRejectsUnknownOnes) {
  EXPECT_EQ(zone("America/New_York").identifier(), "America/New_York");
  EXPECT_EQ(zone("Europe/Moscow").identifier(), "Europe/Moscow");
  EXPECT_EQ(zone("UTC").identifier(), "UTC");
  EXPECT_FALSE(TimeZone::withIdentifier("Nowhere/Atlantis"));
  EXPECT_FALSE(TimeZone::withIdentifier(""));
  EXPECT_FALSE(TimeZone::withIdentifier("Europe/\xff\xfe"));
}

TEST(TimeZone, OffsetsFollowTheZonesHistory) {
  const TimeZone newYork = zone("America/New_York");
  EXPECT_EQ(newYork.secondsFromGMT(at(2014, 1, 15, 12)), -5 * 3600);
  EXPECT_EQ(newYork.secondsFromGMT(at(2014, 7, 15, 12)), -4 * 3600);
  EXPECT_FALSE(newYork.isDaylightSavingTime(at(2014, 1, 15, 12)));
  EXPECT_TRUE(newYork.isDaylightSavingTime(at(2014, 7, 15, 12)));

  // Moscow kept summer time until 2010, stayed at +4 from 2011 to 2014 and has been at +3 since.
  const TimeZone moscow = zone("Europe/Moscow");
  EXPECT_EQ(moscow.secondsFromGMT(at(2010, 1, 15)), 3 * 3600);
  EXPECT_EQ(moscow.secondsFromGMT(at(2010, 7, 15)), 4 * 3600);
  EXPECT_TRUE(moscow.isDaylightSavingTime(at(2010, 7, 15)));
  EXPECT_EQ(moscow.secondsFromGMT(at(2013, 1, 15)), 4 * 3600);
  EXPECT_FALSE(moscow.isDaylightSavingTime(at(2013, 1, 15)));
  EXPECT_EQ(moscow.secondsFromGMT(at(2015, 1, 15)), 3 * 3600);

  EXPECT_EQ(TimeZone::utc().secondsFromGMT(at(2014, 7, 15)), 0);
  EXPECT_FALSE(TimeZone::utc().isDaylightSavingTime(at(2014, 7, 15)));
}

TEST(TimeZone, AbbreviationsBelongToTheMoment) {
  const TimeZone newYork = zone("America/New_York");
  EXPECT_EQ(newYork.abbreviation(at(2014, 1, 15)), "EST");
  EXPECT_EQ(newYork.abbreviation(at(2014, 7, 15)), "EDT");
  const TimeZone moscow = zone("Europe/Moscow");
  EXPECT_EQ(moscow.abbreviation(at(2013, 1, 15)), "GMT+4");
  EXPECT_EQ(moscow.abbreviation(at(2015, 1, 15)), "GMT+3");
  EXPECT_EQ(TimeZone::gmt().abbreviation(at(2015, 1, 15)), "GMT");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(19800)->abbreviation(at(2015, 1, 15)), "GMT+5:30");
}

TEST(TimeZone, FixedOffsetsAreNamedByTheirOffset) {
  EXPECT_EQ(TimeZone::withSecondsFromGMT(3 * 3600)->identifier(), "GMT+0300");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-(5 * 3600 + 30 * 60))->identifier(), "GMT-0530");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(0)->identifier(), "GMT");
  EXPECT_EQ(TimeZone::withSecondsFromGMT(-(5 * 3600 + 30 * 60))->secondsFromGMT(at(2014, 7, 1)), -19800);
  EXPECT_EQ(TimeZone::withSecondsFromGMT(18 * 3600)->secondsFromGMT(at(2014, 7, 1)), 18 * 3600);
  EXPECT_FALSE(TimeZone::withSecondsFromGMT(18 * 3600 + 1));
  EXPECT_FALSE(TimeZone::withSecondsFromGMT(-18 * 3600 - 60));
  // Offset identifiers written other ways name the same zone.
  EXPECT_EQ(zone("GMT+3").identifier(), "GMT+0300");
  EXPECT_EQ(zone("GMT+03:00"), *TimeZone::withSecondsFromGMT(10800));
  EXPECT_EQ(zone("GMT+3").secondsFromGMT(at(2014, 7, 1)), 10800);
}

TEST(TimeZone, LocalZoneIsTheDefaultWhileOneIsSet) {
  EXPECT_EQ(TimeZone::local(), TimeZone::system());
  {
    ScopedDefaultTimeZone moscow(zone("Europe/Moscow"));
    EXPECT_EQ(TimeZone::local().identifier(), "Europe/Moscow");
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

TEST(TimeZone, CopiesAreEqualAndDifferentZonesAreNot) {
  const TimeZone a = zone("Europe/Moscow");
  const TimeZone b = a;
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a == zone("Europe/Berlin"));
  EXPECT_FALSE(TimeZone::utc() == TimeZone::gmt());
}

TEST(Locale, NormalisesIdentifiersAndSplitsThem) {
  EXPECT_EQ(Locale("en_US_POSIX").identifier(), "en_US_POSIX");
  EXPECT_EQ(Locale::posix(), Locale("en_US_POSIX"));
  EXPECT_EQ(Locale("zh-Hans").identifier(), "zh_Hans");
  EXPECT_EQ(Locale("en-US").identifier(), "en_US");

  const Locale chinese("zh_Hans");
  EXPECT_EQ(chinese.languageCode(), "zh");
  EXPECT_EQ(chinese.scriptCode(), "Hans");
  EXPECT_EQ(chinese.countryCode(), "");

  const Locale russian("ru_RU");
  EXPECT_EQ(russian.languageCode(), "ru");
  EXPECT_EQ(russian.countryCode(), "RU");
  EXPECT_EQ(russian.scriptCode(), "");

  EXPECT_EQ(Locale("ja_JP").countryCode(), "JP");
  EXPECT_EQ(Locale::posix().countryCode(), "US");
}

TEST(Locale, TextThatIsNoIdentifierGivesTheRootLocale) {
  for (const char* junk : {"", "!!!", "en US", "x", "123_US", "\xff\xfe", "toolonglanguage_US"}) {
    const Locale locale(junk);
    EXPECT_EQ(locale.identifier(), "") << junk;
    EXPECT_EQ(locale.languageCode(), "") << junk;
    EXPECT_EQ(locale.countryCode(), "") << junk;
  }
  EXPECT_EQ(Locale(), Locale(""));
}

TEST(Locale, CurrentLocaleIsTheDefaultWhileOneIsSet) {
  const Locale host = Locale::current();
  {
    ScopedDefaultLocale russian(Locale("ru_RU"));
    EXPECT_EQ(Locale::current().identifier(), "ru_RU");
    {
      ScopedDefaultLocale japanese(Locale("ja_JP"));
      EXPECT_EQ(Locale::current().languageCode(), "ja");
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
