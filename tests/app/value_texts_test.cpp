// Texts of values, time ranges, durations, elapsed times, ages and counts, in several interface
// languages, locales and time zones.

#include "app/value_texts.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/note_types.h"
#include "app/units.h"
#include "note_helper_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/text.h"
#include "platform/runtime/strings_file.h"
#include "platform/runtime/user_defaults.h"

namespace {

using foundation::Date;
using note_helper_test::at;
using Texts = std::vector<std::string>;
using Opt = std::optional<std::string>;
using ValueTextsTest = note_helper_test::NoteHelperTest;

TEST_F(ValueTextsTest, NumbersWithUnits) {
  auto text = [&](const char* lang, const char* type, std::optional<double> number, Opt unit) {
    return helper(lang).getCurrentNumValueStr(type, number, unit);
  };
  EXPECT_EQ(text("en", "Weight", 12.99, "Notation_lbs_oz"), "12 lbs 15 oz");
  EXPECT_EQ(text("ru", "Weight", 12.99, "Notation_lbs_oz"), "12 фунт 15 унц");
  EXPECT_EQ(text("en", "Weight", 0.5, "Notation_lbs_oz"), "0 lbs 8 oz");
  EXPECT_EQ(text("en", "Height", 65.5, "Notation_ft_inch"), "5 ft 5.5 in");
  EXPECT_EQ(text("en", "Height", 72, "Notation_ft_inch"), "6 ft 0 in");
  EXPECT_EQ(text("en", "Food", 12.99, "Notation_lbs_oz"), "13 lbs & oz") << "composite forms are Weight's";
  EXPECT_EQ(text("en", "Weight", 3, "Notation_kg"), "3 kg");
  EXPECT_EQ(text("en", "Weight", 3.455, "Notation_kg"), "3.46 kg") << "half up";
  EXPECT_EQ(text("en", "Food", 12.25, "Notation_oz"), "12.3 oz");
  EXPECT_EQ(text("en", "Height", 15.125, "Notation_inch"), "15.13 in");
  EXPECT_EQ(text("en", "\xD0\xA1hest Size", 15.125, "Notation_inch"), "15.13 in");
  EXPECT_EQ(text("en", "Chest Size", 15.125, "Notation_inch"), "15.1 in") << "Latin C: no such type";
  EXPECT_EQ(text("en", "Temperature", static_cast<double>(36.6f), "Notation_celsius"), "36.6 °C");
  EXPECT_EQ(text("en", "Temperature", 97.87999550819404, "Notation_fahrenheit"), "97.9 °F");
  EXPECT_EQ(text("de", "Drink", 1234.5, "Notation_ml"), "1234.5 ml") << "no grouping";
  EXPECT_EQ(text("en", "Food", std::nullopt, "Notation_g"), "");
  EXPECT_EQ(text("en", "Food", 5, std::nullopt), "");
}

TEST_F(ValueTextsTest, ValueTexts) {
  // For "Breast Feeding": the side fed last, the left minutes and the right minutes' text.
  auto fed = [&](const char* lang, Opt last, std::optional<double> left, Opt right) {
    return helper(lang).getCurrentValues("Breast Feeding", last, left, right);
  };
  const std::string L = "Left Breast", R = "Right Breast";
  EXPECT_EQ(fed("en", R, 5, "0"), "Left 5m , Right 0m (last)");
  EXPECT_EQ(fed("en", L, 5, "0"), "Left 5m ");
  EXPECT_EQ(fed("en", L, 5, "3"), "Left 5m (last), Right 3m ");
  EXPECT_EQ(fed("en", R, 5, "3"), "Left 5m , Right 3m (last)");
  EXPECT_EQ(fed("en", L, 0, "3"), "Left 0m (last), Right 3m ");
  EXPECT_EQ(fed("en", R, 0, "3"), "Right 3m ");
  EXPECT_EQ(fed("en", R, 0, "0"), "Right");
  EXPECT_EQ(fed("en", {}, {}, {}), "");
  EXPECT_EQ(fed("en", R, 0.9, " 12 min"), "Right 12m ") << "whole minutes, the text's leading number";
  EXPECT_EQ(fed("ru", R, 5, "0"), "Левая 5мин , Правая 0мин (последняя)");

  auto value = [&](const char* lang, Opt type, Opt sub, std::optional<double> number, Opt unit) {
    return helper(lang).getCurrentValues(type, sub, number, unit);
  };
  EXPECT_EQ(value("en", "Food", "Fruit", 100, "Notation_g"), "Fruit 100 g");
  // Stored sub-values are plain texts; only "Pumping" translates its own.
  EXPECT_EQ(value("ru", "Food", "Fruit", 100, "Notation_g"), "Fruit 100 г");
  EXPECT_EQ(value("ru", "Pumping", L, 50, "Notation_ml"), "Левая 50 мл");
  EXPECT_EQ(value("en", "Mood", "Happy", {}, {}), "Happy");
  EXPECT_EQ(value("en", "Food", "", 100, "Notation_g"), "100 g");
  EXPECT_EQ(value("en", "Note", {}, {}, {}), "");
  EXPECT_EQ(value("en", {}, "Fruit", 100, "Notation_g"), "");
}

TEST_F(ValueTextsTest, TimeRangesAndDurations) {
  auto texts = [&](const char* lang, Opt type, std::optional<Date> start, std::optional<Date> stop,
                   bool shortDays = false, std::optional<double> number = {}, Opt unit = {}) {
    return helper(lang).getDateAndDurationStrings(type, start, stop, number, unit, shortDays);
  };
  pin("en_GB", "Europe/London");
  const Date late = at("Europe/London", 2024, 1, 1, 23, 30, 40), early = late + 6270;  // Monday to Tuesday
  EXPECT_EQ(texts("en", "Sleep", late, early), (Texts{"mon23:30 - tue01:15", "1h 45m"}));
  EXPECT_EQ(texts("en", "Sleep", late, early, true), (Texts{"mo23:30 - tu01:15", "1h 45m"}));
  const Date morning = at("Europe/London", 2024, 6, 3, 9, 15, 30);
  EXPECT_EQ(texts("en", "Weight", morning - 3600, morning, false, 3.5, "Notation_kg"), (Texts{"09:15", ""}));
  EXPECT_EQ(texts("en", "Weight", morning, {}), (Texts{"", ""}));
  EXPECT_EQ(texts("en", "Walk", morning, morning + 5400), (Texts{"09:15 - 10:45", "1h 30m"}));
  EXPECT_EQ(texts("en", "Walk", {}, morning), (Texts{" - 09:15", ""}));
  EXPECT_EQ(texts("en", {}, morning, morning), Texts{});
  // A feeding's duration is its counted minutes; without the right side's text the dates decide.
  for (const auto& [left, right, duration] :
       std::vector<std::tuple<double, Opt, std::string>>{{10, "5", "15m"},
                                                         {50, "20", "1h 10m"},
                                                         {0.5, "-3", "0m"},
                                                         {10, {}, "3h"},
                                                         {1e300, "99999999999999999999", ""}}) {
    EXPECT_EQ(texts("en", "Breast Feeding", morning, morning + 10800, false, left, right)[1], duration);
  }
  // The same moments in Tokyo fall on one day; weekdays follow the device's locale.
  pin("en_GB", "Asia/Tokyo");
  EXPECT_EQ(texts("en", "Walk", late, early, true), (Texts{"08:30 - 10:15", "1h 45m"}));
  const Date moscow = at("Europe/Moscow", 2024, 1, 1, 23, 30);
  pin("de_DE", "Europe/Moscow");
  EXPECT_EQ(texts("de", "Sleep", moscow, moscow + 6300), (Texts{"mo.23:30 - di.01:15", "1Std 45Min"}));
  EXPECT_EQ(texts("de", "Sleep", moscow, moscow + 6300, true), (Texts{"mo23:30 - di01:15", "1Std 45Min"}));
}

TEST_F(ValueTextsTest, ElapsedTimeInWholeSecondsAndCalendarDays) {
  pin("en_GB", "Europe/London");
  const Date jun = at("Europe/London", 2024, 6, 3, 9, 0), jan = at("Europe/London", 2024, 1, 1, 9, 0);
  auto elapsed = [&](const std::string& lang, Date from, double seconds, bool ago, bool shortVersion) {
    return helper(lang).getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(from, from + seconds, ago,
                                                                                    shortVersion);
  };
  const double d1h2m5 = 86400 + 7200 + 300;
  EXPECT_EQ(elapsed("en", jun, 86400 + 300, false, true), "1d 5m");
  EXPECT_EQ(elapsed("en", jun, d1h2m5, false, true), "1d 2h5m");
  EXPECT_EQ(elapsed("en", jun, d1h2m5, false, false), "1d 2h 5m");
  EXPECT_EQ(elapsed("en", jun, 7200, false, true), "2h");
  EXPECT_EQ(elapsed("en", jun, 0, false, true), "0m");
  EXPECT_EQ(elapsed("en", jun, 59, false, false), "0m");
  EXPECT_EQ(elapsed("en", jun, 30 * 86400, false, false), "") << "3 June to 3 July is a whole month";
  EXPECT_EQ(elapsed("en", jan, 30 * 86400, true, false), "30d ago");
  EXPECT_EQ(elapsed("en", jan, 31 * 86400, true, true), "> 30d ago");
  // No blanks in Japanese and Chinese, and no minute label in their short form.
  EXPECT_EQ(elapsed("ja", jun, d1h2m5, false, true), "1日2時間5");
  EXPECT_EQ(elapsed("ja", jun, d1h2m5, false, false), "1日2時間5分");
  EXPECT_EQ(elapsed("ja", jun, 86400 + 3600, true, false), "1日1時間前");
  // "ago" comes first in French, German, Spanish and Portuguese.
  for (const auto& [lang, five, over] :
       std::vector<std::tuple<std::string, std::string, std::string>>{{"en", "5m ago", "> 30d ago"},
                                                                      {"fr", "il y a 5min", "il y a > 30j"},
                                                                      {"de", "vor 5Min", "vor > 30T"},
                                                                      {"es", "hace 5min", "más de 30d"},
                                                                      {"pt", "há 5min", "há > 30d"},
                                                                      {"ja", "5分前", ">30日前"},
                                                                      {"zh-Hans", "5分钟前", "30多天之前"}}) {
    EXPECT_EQ(elapsed(lang, jun, 300, true, true), five);
    EXPECT_EQ(elapsed(lang, jan, 40 * 86400, true, false), over);
  }
  // Whole seconds count: 59.3 seconds apart, but the cut seconds are a minute apart. Across the spring
  // change a calendar day is 23 hours long.
  pin("en_GB", "Europe/Berlin");
  EXPECT_EQ(elapsed("en", at("Europe/Berlin", 2024, 6, 3, 10, 0, 0) + 0.9, 59.3, false, false), "1m");
  EXPECT_EQ(elapsed("en", at("Europe/Berlin", 2024, 3, 30, 12, 0), 23 * 3600, false, false), "1d");
}

TEST_F(ValueTextsTest, AgesInWholeDaysOfTheDeviceTimeZone) {
  pin("en_GB", "Europe/London");
  auto age = [&](const std::string& lang, int year, int month, int day, int hour = 8) {
    const Date birth = at("Europe/London", 2023, 5, 10, 18, 0);
    return helper(lang).getIntervalBetween2DatesString(birth, at("Europe/London", year, month, day, hour, 1));
  };
  EXPECT_EQ(age("en", 2024, 5, 10), "1 Year, 0 Days");
  EXPECT_EQ(age("en", 2024, 7, 12), "1 Year, 2 Months, 2 Days");
  EXPECT_EQ(age("en", 2023, 6, 11), "1 Month, 1 Day");
  EXPECT_EQ(age("en", 2023, 5, 10, 23), "0 Days");
  EXPECT_EQ(age("en", 2023, 5, 11, 0), "1 Day") << "whole days, not 24-hour spans";
  EXPECT_EQ(age("ru", 2024, 7, 12), "1 Год, 2 Месяца, 2 Дня");
  EXPECT_EQ(age("zh-Hans", 2024, 7, 12), "1 岁2 个月2 天");
  const Date from = at("UTC", 2023, 1, 1, 23, 30), to = from + 3600;
  EXPECT_EQ(helper("en").getIntervalBetween2DatesString(from, to), "1 Day");
  pin("en_US", "America/New_York");
  EXPECT_EQ(helper("en").getIntervalBetween2DatesString(from, to), "0 Days");
}

TEST_F(ValueTextsTest, CountsWithNouns) {
  auto en = helper("en");
  EXPECT_EQ(en.getDayString(1), "1 Day");
  EXPECT_EQ(en.getDayString(0), "0 Days");
  EXPECT_EQ(en.getDayString(-1), "1 Day");
  EXPECT_EQ(en.getDayString(INT32_MIN), "2147483648 Days");
  EXPECT_EQ(en.getMonthString(1), "1 Month");
  EXPECT_EQ(en.getMonthString(11), "11 Months");
  EXPECT_EQ(en.getYearString(1), "1 Year");
  EXPECT_EQ(en.getYearString(2), "2 Years");

  // Russian: one form for 1 and 21, one for 2-4 and 22-24, one for the rest (months: 1 and 2-4 only).
  auto ru = helper("ru");
  for (int n : {1, 21, -21}) EXPECT_EQ(ru.getDayString(n), std::to_string(std::abs(n)) + " День");
  for (int n : {2, 4, 22, 24}) EXPECT_EQ(ru.getDayString(n), std::to_string(n) + " Дня");
  for (int n : {0, 5, 11, 12, 20, 25, 31}) EXPECT_EQ(ru.getDayString(n), std::to_string(n) + " Дней");
  EXPECT_EQ(ru.getMonthString(1), "1 Месяц");
  for (int n : {2, 4}) EXPECT_EQ(ru.getMonthString(n), std::to_string(n) + " Месяца");
  for (int n : {0, 5, 11, 21, 22}) EXPECT_EQ(ru.getMonthString(n), std::to_string(n) + " Месяцев");
  for (int n : {1, 21}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Год");
  for (int n : {2, 24}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Года");
  for (int n : {0, 5, 11, 25}) EXPECT_EQ(ru.getYearString(n), std::to_string(n) + " Лет");

  EXPECT_EQ(helper("ja").getYearString(3), "3 歳");
  EXPECT_EQ(helper("zh-Hans").getYearString(3), "3 岁");
  EXPECT_EQ(helper("zh-Hans").getMonthString(1), "1 个月");
  EXPECT_EQ(helper("es").getMonthString(2), "2 meses");
  EXPECT_EQ(helper("de").getYearString(2), "2 Jahre");
  EXPECT_EQ(helper("pt").getMonthString(1), "1 mês");
}

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

// ---- Every key the diary looks up has a text in every language.

// The diary's own sources: the application and the screens built on it.
using testing_support::sourceRoot;
constexpr const char* kDiaryFolders[] = {"app",    "note_editor", "notes_list", "babies",
                                         "charts", "navigation",  "reports"};

// The text of a string literal's body; the sources write a few keys' letters as \u escapes.
std::string unescaped(std::string_view body) {
  std::string text;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\' || i + 1 == body.size()) {
      text += body[i];
      continue;
    }
    const char kind = body[++i];
    if (kind == 'u' || kind == 'x') {
      const size_t digits = kind == 'u' ? 4 : 2;
      const auto code =
          static_cast<std::uint32_t>(std::stoul(std::string(body.substr(i + 1, digits)), nullptr, 16));
      i += digits;
      if (kind == 'x') {
        text += static_cast<char>(code);
      } else {
        text += foundation::text::fromUtf16(std::u16string(1, static_cast<char16_t>(code))).value();
      }
    } else {
      text += kind == 'n' ? '\n' : kind;
    }
  }
  return text;
}

// The keys the sources hand to a lookup, as literals or as named constants, and the constants of
// the `text_key` namespaces (label keys chosen at run time, such as a noun's singular or plural).
// A constant the scan cannot read is reported in `unread`.
std::set<std::string> keysInSources(std::vector<std::string>& unread) {
  const std::string literal = R"re("((?:[^"\\]|\\.)*)")re";
  const std::regex lookup(
      R"re(\b(?:localized|localizedString|localizedStringForKey|localizedStringInLanguage|)re"
      R"re(barButtonItemWithTextWithTargetSelector)\s*\(\s*(?:)re" +
      literal + R"re(|([A-Za-z_][\w:]*)\s*[,)]))re");
  const std::regex constant(R"re(\b(k\w+)\s*=\s*)re" + literal);
  const std::regex keyNamespace(R"re(namespace\s+text_key\s*\{([^}]*)\})re");

  std::vector<std::string> sources;
  for (const char* folder : kDiaryFolders) {
    auto files = files::listRecursive(sourceRoot() / folder);
    if (!files) continue;  // a screen folder not begun yet
    for (const auto& file : *files) {
      if (file.extension() != ".cpp" && file.extension() != ".h") continue;
      sources.push_back(files::readText(sourceRoot() / folder / file).value());
    }
  }
  std::multimap<std::string, std::string> constants;
  std::set<std::string> keys;
  for (const auto& source : sources) {
    for (std::sregex_iterator m(source.begin(), source.end(), constant), end; m != end; ++m)
      constants.emplace((*m)[1], unescaped((*m)[2].str()));
    for (std::sregex_iterator m(source.begin(), source.end(), keyNamespace), end; m != end; ++m) {
      const std::string block = (*m)[1];
      for (std::sregex_iterator c(block.begin(), block.end(), constant); c != end; ++c)
        keys.insert(unescaped((*c)[2].str()));
    }
  }
  for (const auto& source : sources) {
    for (std::sregex_iterator m(source.begin(), source.end(), lookup), end; m != end; ++m) {
      if ((*m)[1].matched) {
        keys.insert(unescaped((*m)[1].str()));
        continue;
      }
      // A variable holds a key chosen at run time; a constant (kName, maybe qualified) names one.
      std::string name = (*m)[2];
      name = name.substr(name.rfind(':') == std::string::npos ? 0 : name.rfind(':') + 1);
      if (name.size() < 2 || name[0] != 'k' || !std::isupper(static_cast<unsigned char>(name[1]))) continue;
      auto [first, last] = constants.equal_range(name);
      if (first == last) unread.push_back(name);
      for (; first != last; ++first) keys.insert(first->second);
    }
  }
  return keys;
}

TEST_F(ValueTextsTest, EveryStringTableHoldsEveryKeyTheDiaryLooksUp) {
  std::vector<std::string> unread;
  std::set<std::string> keys = keysInSources(unread);
  EXPECT_TRUE(unread.empty()) << "key constants the scan cannot read: " << testing::PrintToString(unread);
  // The scan must see the sources: keys of the reminder alert, a label and a unit label.
  for (const char* known : {"Reminder", "OK", "minuteInMainCell", "Days", "Notation_ft"})
    ASSERT_TRUE(keys.count(known)) << known << " not found under " << sourceRoot();

  // Keys that come from data: the note types, their units, their default and demonstration
  // sub-values, as the note-type rules ask for them.
  app::NoteEditHelper::Environment environment;
  environment.context = [context = context_] { return context; };
  environment.library = library();
  environment.clock = &clock_;
  environment.language = [&keys] {
    return app::InterfaceText("en", [&keys](std::string_view key) {
      keys.emplace(key);
      return std::string(key);
    });
  };
  const app::NoteEditHelper recorder(std::move(environment));
  for (const auto& type : app::defaultTypeIds()) {
    keys.insert(type);
    for (const auto& unit : app::unitsOfType(type)) keys.insert(unit);
    recorder.setUpForScreenshots(recorder.getValueType(type));
  }
  ASSERT_TRUE(keys.count("\xD0\xA1urd"));

  auto languages = files::listDirectory(note_helper_test::resources()->bundlePath());
  ASSERT_TRUE(languages.ok());
  std::erase_if(*languages, [](const std::string& name) { return !name.ends_with(".lproj"); });
  EXPECT_EQ(languages->size(), 8u);
  for (const auto& folder : *languages) {
    auto bytes =
        files::readFile(note_helper_test::resources()->bundlePath() / folder / "Localizable.strings");
    ASSERT_TRUE(bytes.ok()) << folder;
    auto table = runtime::parseStringsFile(*bytes);
    ASSERT_TRUE(table.ok()) << folder << ": " << table.error().description();
    for (const auto& key : keys) {
      const foundation::Value* text = table->find(key);
      EXPECT_TRUE(text && text->isString() && !text->string()->empty()) << folder << ": " << key;
    }
  }
}

TEST(LeadingInteger, ReadsLikeThePlatform) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"12", 12}, {"  7 min", 7}, {"-3", -3}, {"+4", 4},
      {"3.9", 3}, {"abc", 0},     {"", 0},    {"99999999999999999999", INT64_MAX}};
  for (const auto& [text, value] : cases) EXPECT_EQ(app::leadingInteger(text), value) << text;
}

}  // namespace
