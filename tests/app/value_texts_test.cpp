// Texts of values, time ranges, durations, elapsed times, ages and counts, in several interface
// languages, locales and time zones.

#include "app/value_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/note_types.h"
#include "note_helper_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/strings_file.h"
#include "platform/runtime/user_defaults.h"

namespace {

using foundation::Date;
using note_helper_test::at;
using note_helper_test::language;
using Texts = std::vector<std::string>;

// A helper in an interface language, with the device's locale and time zone pinned.
class ValueTextsTest : public ::testing::Test {
 protected:
  app::NoteEditHelper helper(const std::string& code) {
    app::NoteEditHelper::Environment environment;
    environment.clock = &clock_;
    environment.language = [code] { return language(code); };
    return app::NoteEditHelper(std::move(environment));
  }
  void pin(const char* locale, const char* zone) {
    zone_.emplace(*foundation::TimeZone::withIdentifier(zone));
    locale_.emplace(foundation::Locale(locale));
  }

  foundation::ManualClock clock_{Date{700000000.25}};
  std::optional<foundation::ScopedDefaultTimeZone> zone_;
  std::optional<foundation::ScopedDefaultLocale> locale_;
};

// --- Numbers with units

TEST_F(ValueTextsTest, PoundsAndOuncesAndFeetAndInches) {
  EXPECT_EQ(helper("en").getCurrentNumValueStr("Weight", 12.99, "Notation_lbs_oz"), "12 lbs 15 oz");
  EXPECT_EQ(helper("ru").getCurrentNumValueStr("Weight", 12.99, "Notation_lbs_oz"), "12 фунт 15 унц");
  EXPECT_EQ(helper("en").getCurrentNumValueStr("Weight", 0.5, "Notation_lbs_oz"), "0 lbs 8 oz");
  EXPECT_EQ(helper("en").getCurrentNumValueStr("Height", 65.5, "Notation_ft_inch"), "5 ft 5.5 in");
  EXPECT_EQ(helper("zh-Hans").getCurrentNumValueStr("Height", 65.5, "Notation_ft_inch"), "5 英尺 5.5 英寸");
  EXPECT_EQ(helper("en").getCurrentNumValueStr("Height", 72, "Notation_ft_inch"), "6 ft 0 in");
  // The composite forms belong to those two types only.
  EXPECT_EQ(helper("en").getCurrentNumValueStr("Food", 12.99, "Notation_lbs_oz"), "13 lbs & oz");
}

TEST_F(ValueTextsTest, DecimalsByTypeAndUnit) {
  auto h = helper("en");
  EXPECT_EQ(h.getCurrentNumValueStr("Weight", 3, "Notation_kg"), "3 kg");
  EXPECT_EQ(h.getCurrentNumValueStr("Weight", 3.456, "Notation_kg"), "3.46 kg");
  EXPECT_EQ(h.getCurrentNumValueStr("Weight", 3.455, "Notation_kg"), "3.46 kg") << "half up";
  EXPECT_EQ(h.getCurrentNumValueStr("Weight", 7.1, "Notation_lbs"), "7.1 lbs");
  EXPECT_EQ(h.getCurrentNumValueStr("Food", 0.5, "Notation_g"), "0.5 g");
  EXPECT_EQ(h.getCurrentNumValueStr("Food", 12.25, "Notation_oz"), "12.3 oz");
  EXPECT_EQ(h.getCurrentNumValueStr("Height", 170.25, "Notation_cm"), "170.3 cm");
  EXPECT_EQ(h.getCurrentNumValueStr("Height", 15.125, "Notation_inch"), "15.13 in");
  EXPECT_EQ(h.getCurrentNumValueStr("Head Size", 15.125, "Notation_inch"), "15.13 in");
  EXPECT_EQ(h.getCurrentNumValueStr("\xD0\xA1hest Size", 15.125, "Notation_inch"), "15.13 in");
  EXPECT_EQ(h.getCurrentNumValueStr("Chest Size", 15.125, "Notation_inch"), "15.1 in")
      << "Latin C: no such type";
  EXPECT_EQ(h.getCurrentNumValueStr("\xD0\xA1hest Size", 45.25, "Notation_cm"), "45.3 cm");
  EXPECT_EQ(h.getCurrentNumValueStr("Temperature", static_cast<double>(36.6f), "Notation_celsius"),
            "36.6 °C");
  EXPECT_EQ(h.getCurrentNumValueStr("Temperature", 97.87999550819404, "Notation_fahrenheit"), "97.9 °F");
  EXPECT_EQ(helper("zh-Hans").getCurrentNumValueStr("Drink", 120, "Notation_ml"), "120 毫升");
  EXPECT_EQ(helper("de").getCurrentNumValueStr("Drink", 1234.5, "Notation_ml"), "1234.5 ml") << "no grouping";
  EXPECT_EQ(h.getCurrentNumValueStr("Food", std::nullopt, "Notation_g"), "");
  EXPECT_EQ(h.getCurrentNumValueStr("Food", 5, std::nullopt), "");
}

// --- Value texts

TEST_F(ValueTextsTest, BreastFeedingSides) {
  auto h = helper("en");
  const std::string L = "Left Breast", R = "Right Breast";
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", R, 5, "0"), "Left 5m , Right 0m (last)");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", L, 5, "0"), "Left 5m ");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", L, 5, "3"), "Left 5m (last), Right 3m ");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", R, 5, "3"), "Left 5m , Right 3m (last)");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", L, 0, "3"), "Left 0m (last), Right 3m ");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", R, 0, "3"), "Right 3m ");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", R, 0, "0"), "Right");
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", std::nullopt, std::nullopt, std::nullopt), "");
  // Minutes are whole: 0.9 left minutes are none; the right minutes are the text's leading number.
  EXPECT_EQ(h.getCurrentValues("Breast Feeding", R, 0.9, " 12 min"), "Right 12m ");
  EXPECT_EQ(helper("ru").getCurrentValues("Breast Feeding", R, 5, "0"),
            "Левая 5мин , Правая 0мин (последняя)");
  EXPECT_EQ(helper("ja").getCurrentValues("Breast Feeding", L, 5, "3"), "左 5分 (最後), 右 3分 ");
}

TEST_F(ValueTextsTest, SubValueAndNumber) {
  auto en = helper("en");
  auto ru = helper("ru");
  EXPECT_EQ(en.getCurrentValues("Food", "Fruit", 100, "Notation_g"), "Fruit 100 g");
  // Stored sub-values are plain texts; only "Pumping" translates its own.
  EXPECT_EQ(ru.getCurrentValues("Food", "Fruit", 100, "Notation_g"), "Fruit 100 г");
  EXPECT_EQ(ru.getCurrentValues("Pumping", "Left Breast", 50, "Notation_ml"), "Левая 50 мл");
  EXPECT_EQ(en.getCurrentValues("Mood", "Happy", std::nullopt, std::nullopt), "Happy");
  EXPECT_EQ(en.getCurrentValues("Food", std::nullopt, 100, "Notation_g"), "100 g");
  EXPECT_EQ(en.getCurrentValues("Food", "", 100, "Notation_g"), "100 g");
  EXPECT_EQ(en.getCurrentValues("Note", std::nullopt, std::nullopt, std::nullopt), "");
  EXPECT_EQ(en.getCurrentValues(std::nullopt, "Fruit", 100, "Notation_g"), "");
}

// --- Time ranges and durations

TEST_F(ValueTextsTest, SleepOverMidnightInLondon) {
  pin("en_GB", "Europe/London");
  auto h = helper("en");
  const Date start = at("Europe/London", 2024, 1, 1, 23, 30, 40);  // a Monday
  const Date stop = at("Europe/London", 2024, 1, 2, 1, 15, 10);
  EXPECT_EQ(h.getDateAndDurationStrings("Sleep", start, stop, std::nullopt, std::nullopt, false),
            (Texts{"mon23:30 - tue01:15", "1h 45m"}));
  EXPECT_EQ(h.getDateAndDurationStrings("Sleep", start, stop, std::nullopt, std::nullopt, true),
            (Texts{"mo23:30 - tu01:15", "1h 45m"}));
}

TEST_F(ValueTextsTest, TheSameMomentsInTokyoFallOnOneDay) {
  pin("en_GB", "Asia/Tokyo");
  auto h = helper("en");
  const Date start = at("Europe/London", 2024, 1, 1, 23, 30);
  const Date stop = at("Europe/London", 2024, 1, 2, 1, 15);
  EXPECT_EQ(h.getDateAndDurationStrings("Walk", start, stop, std::nullopt, std::nullopt, true),
            (Texts{"08:30 - 10:15", "1h 45m"}));
}

TEST_F(ValueTextsTest, WeekdaysFollowTheDeviceLocale) {
  const Date start = at("Europe/Moscow", 2024, 1, 1, 23, 30);
  const Date stop = at("Europe/Moscow", 2024, 1, 2, 1, 15);
  {
    pin("ru_RU", "Europe/Moscow");
    EXPECT_EQ(helper("ru").getDateAndDurationStrings("Sleep", start, stop, std::nullopt, std::nullopt, false),
              (Texts{"пн23:30 - вт01:15", "1ч 45мин"}));
  }
  {
    pin("de_DE", "Europe/Moscow");
    EXPECT_EQ(helper("de").getDateAndDurationStrings("Sleep", start, stop, std::nullopt, std::nullopt, false),
              (Texts{"mo.23:30 - di.01:15", "1Std 45Min"}));
    EXPECT_EQ(helper("de").getDateAndDurationStrings("Sleep", start, stop, std::nullopt, std::nullopt, true),
              (Texts{"mo23:30 - di01:15", "1Std 45Min"}));
  }
}

TEST_F(ValueTextsTest, OneDateTypesAndMissingDates) {
  pin("en_GB", "Europe/London");
  auto h = helper("en");
  const Date morning = at("Europe/London", 2024, 6, 3, 9, 15, 30);
  EXPECT_EQ(h.getDateAndDurationStrings("Weight", morning - 3600, morning, 3.5, "Notation_kg", false),
            (Texts{"09:15", ""}));
  EXPECT_EQ(h.getDateAndDurationStrings("Weight", morning, std::nullopt, std::nullopt, std::nullopt, false),
            (Texts{"", ""}));
  EXPECT_EQ(h.getDateAndDurationStrings("Walk", morning, morning + 5400, std::nullopt, std::nullopt, false),
            (Texts{"09:15 - 10:45", "1h 30m"}));
  EXPECT_EQ(h.getDateAndDurationStrings("Walk", std::nullopt, morning, std::nullopt, std::nullopt, false),
            (Texts{" - 09:15", ""}));
  EXPECT_EQ(h.getDateAndDurationStrings(std::nullopt, morning, morning, std::nullopt, std::nullopt, false),
            Texts{});
}

TEST_F(ValueTextsTest, BreastFeedingDurationIsItsCountedMinutes) {
  pin("en_GB", "Europe/London");
  auto h = helper("en");
  const Date start = at("Europe/London", 2024, 6, 3, 9, 0);
  const Date stop = start + 3 * 3600;
  EXPECT_EQ(h.getDateAndDurationStrings("Breast Feeding", start, stop, 10, "5", false)[1], "15m");
  EXPECT_EQ(h.getDateAndDurationStrings("Breast Feeding", start, stop, 50, "20", false)[1], "1h 10m");
  EXPECT_EQ(h.getDateAndDurationStrings("Breast Feeding", start, stop, 0.5, "-3", false)[1], "0m");
  // Without the right side's text the dates decide.
  EXPECT_EQ(h.getDateAndDurationStrings("Breast Feeding", start, stop, 10, std::nullopt, false)[1], "3h");
}

// --- Elapsed time

TEST_F(ValueTextsTest, ElapsedTimeShortAndLong) {
  pin("en_GB", "Europe/London");
  auto en = helper("en");
  const Date t = at("Europe/London", 2024, 6, 3, 9, 0);
  auto elapsed = [&](const app::NoteEditHelper& h, double seconds, bool ago, bool shortVersion) {
    return h.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(t, t + seconds, ago, shortVersion);
  };
  EXPECT_EQ(elapsed(en, 86400 + 300, false, true), "1d 5m");
  EXPECT_EQ(elapsed(en, 86400 + 300, false, false), "1d 5m");
  EXPECT_EQ(elapsed(en, 86400 + 7200 + 300, false, true), "1d 2h5m");
  EXPECT_EQ(elapsed(en, 86400 + 7200 + 300, false, false), "1d 2h 5m");
  EXPECT_EQ(elapsed(en, 7200, false, true), "2h");
  EXPECT_EQ(elapsed(en, 0, false, false), "0m");
  EXPECT_EQ(elapsed(en, 0, false, true), "0m");
  EXPECT_EQ(elapsed(en, 59, false, false), "0m");
  EXPECT_EQ(elapsed(en, 30 * 86400, false, false), "") << "3 June to 3 July is a whole month";
  const Date january = at("Europe/London", 2024, 1, 1, 9, 0);
  EXPECT_EQ(en.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(january, january + 30 * 86400,
                                                                           true, false),
            "30d ago");

  auto ja = helper("ja");
  EXPECT_EQ(elapsed(ja, 86400 + 7200 + 300, false, true), "1日2時間5");
  EXPECT_EQ(elapsed(ja, 86400 + 7200 + 300, false, false), "1日2時間5分");
  EXPECT_EQ(elapsed(helper("zh-Hans"), 86400 + 7200 + 300, false, false), "1天2小时5分钟");
  EXPECT_EQ(elapsed(helper("zh-Hans"), 7200 + 300, false, true), "2小时5");
}

TEST_F(ValueTextsTest, AgoComesFirstInSomeLanguages) {
  pin("en_GB", "Europe/Paris");
  const Date t = at("Europe/Paris", 2024, 6, 3, 9, 0);
  const std::vector<std::pair<std::string, std::string>> expected{
      {"en", "5m ago"},  {"fr", "il y a 5min"}, {"de", "vor 5Min"}, {"es", "hace 5min"},
      {"pt", "há 5min"}, {"ru", "5мин назад"},  {"ja", "5分前"},    {"zh-Hans", "5分钟前"}};
  for (const auto& [code, text] : expected) {
    EXPECT_EQ(
        helper(code).getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(t, t + 300, true, true),
        text)
        << code;
  }
  EXPECT_EQ(helper("ja").getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(t, t + 86400 + 3600,
                                                                                     true, false),
            "1日1時間前");
}

TEST_F(ValueTextsTest, MoreThanThirtyDays) {
  pin("en_GB", "Europe/London");
  const Date t = at("Europe/London", 2024, 1, 1, 9, 0);
  const Date later = t + 40 * 86400;
  const std::vector<std::pair<std::string, std::string>> expected{
      {"en", "> 30d ago"}, {"fr", "il y a > 30j"}, {"de", "vor > 30T"}, {"es", "más de 30d"},
      {"pt", "há > 30d"},  {"ru", "> 30д назад"},  {"ja", ">30日前"},   {"zh-Hans", "30多天之前"}};
  for (const auto& [code, text] : expected) {
    auto h = helper(code);
    EXPECT_EQ(h.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(t, later, true, false), text)
        << code;
    EXPECT_EQ(h.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(t, later, false, false), "")
        << code;
  }
  // A whole calendar month counts as "more than 30 days" too.
  EXPECT_EQ(helper("en").getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(
                t, at("Europe/London", 2024, 2, 1, 9, 0), true, true),
            "> 30d ago");
}

TEST_F(ValueTextsTest, ElapsedTimeCountsWholeSecondsAndCalendarDays) {
  pin("en_GB", "Europe/Berlin");
  auto h = helper("en");
  // 59.3 seconds apart, but the cut seconds are a minute apart.
  const Date a = at("Europe/Berlin", 2024, 6, 3, 10, 0, 0) + 0.9;
  const Date b = at("Europe/Berlin", 2024, 6, 3, 10, 1, 0) + 0.2;
  EXPECT_EQ(h.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(a, b, false, false), "1m");
  // Across the spring change a calendar day is 23 hours long.
  const Date before = at("Europe/Berlin", 2024, 3, 30, 12, 0);
  const Date after = at("Europe/Berlin", 2024, 3, 31, 12, 0);
  ASSERT_EQ(after - before, 23 * 3600.0);
  EXPECT_EQ(h.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(before, after, false, false), "1d");
}

// --- Ages and counts

TEST_F(ValueTextsTest, Ages) {
  pin("en_GB", "Europe/London");
  const Date birth = at("Europe/London", 2023, 5, 10, 18, 0);
  auto age = [&](const std::string& code, Date to) {
    return helper(code).getIntervalBetween2DatesString(birth, to);
  };
  EXPECT_EQ(age("en", at("Europe/London", 2024, 5, 10, 8, 0)), "1 Year, 0 Days");
  EXPECT_EQ(age("en", at("Europe/London", 2024, 7, 12, 8, 0)), "1 Year, 2 Months, 2 Days");
  EXPECT_EQ(age("en", at("Europe/London", 2023, 6, 11, 8, 0)), "1 Month, 1 Day");
  EXPECT_EQ(age("en", at("Europe/London", 2023, 5, 10, 23, 0)), "0 Days");
  EXPECT_EQ(age("en", at("Europe/London", 2023, 5, 11, 0, 1)), "1 Day") << "whole days, not 24-hour spans";
  EXPECT_EQ(age("ru", at("Europe/London", 2024, 7, 12, 8, 0)), "1 Год, 2 Месяца, 2 Дня");
  EXPECT_EQ(age("ru", at("Europe/London", 2023, 6, 1, 8, 0)), "22 Дня");
  EXPECT_EQ(age("ru", at("Europe/London", 2023, 6, 4, 8, 0)), "25 Дней");
  EXPECT_EQ(age("ja", at("Europe/London", 2024, 7, 12, 8, 0)), "1 歳, 2 ヶ月, 2 日");
  EXPECT_EQ(age("zh-Hans", at("Europe/London", 2024, 7, 12, 8, 0)), "1 岁2 个月2 天");
  EXPECT_EQ(age("fr", at("Europe/London", 2026, 5, 10, 8, 0)), "3 ans, 0 jours");
}

TEST_F(ValueTextsTest, AgesFollowTheDeviceTimeZone) {
  const Date from = at("UTC", 2023, 1, 1, 23, 30);
  const Date to = at("UTC", 2023, 1, 2, 0, 30);
  {
    pin("en_GB", "Europe/London");
    EXPECT_EQ(helper("en").getIntervalBetween2DatesString(from, to), "1 Day");
  }
  {
    pin("en_US", "America/New_York");
    EXPECT_EQ(helper("en").getIntervalBetween2DatesString(from, to), "0 Days");
  }
}

TEST_F(ValueTextsTest, CountsWithNouns) {
  auto en = helper("en");
  EXPECT_EQ(en.getDayString(1), "1 Day");
  EXPECT_EQ(en.getDayString(0), "0 Days");
  EXPECT_EQ(en.getDayString(-1), "1 Day");
  EXPECT_EQ(en.getDayString(21), "21 Days");
  EXPECT_EQ(en.getMonthString(1), "1 Month");
  EXPECT_EQ(en.getMonthString(11), "11 Months");
  EXPECT_EQ(en.getYearString(1), "1 Year");
  EXPECT_EQ(en.getYearString(2), "2 Years");
  EXPECT_EQ(en.getDayString(INT32_MIN), "2147483648 Days");

  auto ru = helper("ru");
  for (int n : {1, 21, -21}) EXPECT_EQ(ru.getDayString(n), std::to_string(std::abs(n)) + " День");
  for (int n : {2, 3, 4, 22, 23, 24}) EXPECT_EQ(ru.getDayString(n), std::to_string(n) + " Дня");
  for (int n : {0, 5, 11, 12, 20, 25, 30, 31}) EXPECT_EQ(ru.getDayString(n), std::to_string(n) + " Дней");
  EXPECT_EQ(ru.getMonthString(1), "1 Месяц");
  for (int n : {2, 3, 4}) EXPECT_EQ(ru.getMonthString(n), std::to_string(n) + " Месяца");
  for (int n : {0, 5, 11, 21, 22}) EXPECT_EQ(ru.getMonthString(n), std::to_string(n) + " Месяцев");
  for (int n : {1, 21}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Год");
  for (int n : {2, 4, 22, 24}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Года");
  for (int n : {0, 5, 11, 25}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Лет");

  EXPECT_EQ(helper("ja").getYearString(3), "3 歳");
  EXPECT_EQ(helper("ja").getDayString(3), "3 日");
  EXPECT_EQ(helper("zh-Hans").getYearString(3), "3 岁");
  EXPECT_EQ(helper("zh-Hans").getMonthString(1), "1 个月");
  EXPECT_EQ(helper("es").getMonthString(1), "1 mes");
  EXPECT_EQ(helper("es").getMonthString(2), "2 meses");
  EXPECT_EQ(helper("de").getYearString(2), "2 Jahre");
  EXPECT_EQ(helper("pt").getMonthString(1), "1 mês");
}

// --- The interface language itself

TEST(InterfaceLanguage, FollowsTheStandardPreferences) {
  testing_support::TempDir home;
  auto previousBundle = runtime::Bundle::setMain(note_helper_test::resources());
  auto previousDefaults = runtime::UserDefaults::setStandard(
      std::make_shared<runtime::UserDefaults>(home / "prefs.plist", std::vector<std::string>{"en"}));
  ASSERT_TRUE(runtime::UserDefaults::standard()->setArray("AppleLanguages", {"ru", "en"}).ok());

  app::NoteEditHelper h{app::NoteEditHelper::Environment{}};
  EXPECT_EQ(app::InterfaceText::current().language(), "ru");
  EXPECT_EQ(h.getDayString(22), "22 Дня");
  EXPECT_EQ(h.getCurrentNumValueStr("Food", 100, "Notation_g"), "100 г");

  // A language without a table shows the keys themselves.
  ASSERT_TRUE(runtime::UserDefaults::standard()->setArray("AppleLanguages", {"xx"}).ok());
  EXPECT_EQ(h.getCurrentNumValueStr("Food", 100, "Notation_g"), "100 Notation_g");

  runtime::UserDefaults::setStandard(previousDefaults);
  runtime::Bundle::setMain(previousBundle);
}

TEST(StringTables, EveryLanguageTranslatesEveryKeyOfTheNoteTypes) {
  std::vector<std::string> keys = app::defaultTypeIds();
  for (const char* key : {"Fruit",
                          "Vegetable",
                          "\xD0\xA1urd",
                          "Porridge",
                          "Meat",
                          "Milk",
                          "Water",
                          "Formula",
                          "Juice",
                          "Wet",
                          "Dry",
                          "Poopy",
                          "Happy",
                          "Sad",
                          "Angry",
                          "Scared",
                          "Crying",
                          "Playing with toys",
                          "Playing with friends",
                          "Dancing",
                          "Runny nose",
                          "Coughing",
                          "Fever",
                          "Diarrhea",
                          "Teething",
                          "Panadol",
                          "BCG",
                          "Pediatrician",
                          "Physiotherapist",
                          "Ultrasonography",
                          "Massage",
                          "Notation_g",
                          "Notation_oz",
                          "Notation_ml",
                          "Notation_celsius",
                          "Notation_fahrenheit",
                          "Notation_kg",
                          "Notation_lbs",
                          "Notation_lbs_oz",
                          "Notation_cm",
                          "Notation_inch",
                          "Notation_ft_inch",
                          "Notation_ft",
                          "minuteInMainCell",
                          "hourInMainCell",
                          "dayByOneLetter",
                          "ago",
                          "Left Breast",
                          "Right Breast",
                          "Last side",
                          "Day",
                          "Days",
                          "Month",
                          "Months",
                          "Year",
                          "Years",
                          "show_count",
                          "show_hours"}) {
    keys.emplace_back(key);
  }
  for (const char* code : {"en", "ru", "ja", "zh-Hans", "fr", "de", "es", "pt"}) {
    SCOPED_TRACE(code);
    auto bytes = files::readFile(std::filesystem::path("..") / "resources" / (std::string(code) + ".lproj") /
                                 "Localizable.strings");
    ASSERT_TRUE(bytes.ok());
    auto table = runtime::parseStringsFile(*bytes);
    ASSERT_TRUE(table.ok()) << table.error().description();
    for (const auto& key : keys) {
      const foundation::Value* text = table->find(key);
      ASSERT_TRUE(text && text->isString() && !text->string()->empty()) << key;
    }
  }
}

TEST(LeadingInteger, ReadsLikeThePlatform) {
  EXPECT_EQ(app::leadingInteger("12"), 12);
  EXPECT_EQ(app::leadingInteger("  7 min"), 7);
  EXPECT_EQ(app::leadingInteger("-3"), -3);
  EXPECT_EQ(app::leadingInteger("+4"), 4);
  EXPECT_EQ(app::leadingInteger("3.9"), 3);
  EXPECT_EQ(app::leadingInteger("abc"), 0);
  EXPECT_EQ(app::leadingInteger(""), 0);
  EXPECT_EQ(app::leadingInteger("99999999999999999999"), INT64_MAX);
}

}  // namespace
