#include "reports/note_statistic_helper.h"

#include <gtest/gtest.h>

#include "app/note_helper_fixture.h"
#include "app/units.h"

namespace {

using note_helper_test::at;
using reports::noteStatisticHelper;
using reports::TypeStatistic;

class NoteStatisticTest : public note_helper_test::NoteHelperTest {
 protected:
  noteStatisticHelper statistics(std::optional<std::string> preferred = "en") {
    noteStatisticHelper::Services services;
    services.language = [] { return note_helper_test::language("en"); };
    services.preferredLanguage = [preferred] { return preferred; };
    return noteStatisticHelper(helper(), services);
  }
  app::Note note(const std::string& type, foundation::Date start, foundation::Date stop,
                 std::optional<double> number = {}, std::optional<std::string> unit = {}) {
    auto n = app::Note::insertIn(*context_);
    n.setNote_Type(type);
    n.setNote_DateStart(start);
    n.setNote_DateStop(stop);
    if (number) n.setNote_numValue(foundation::Decimal::fromDouble(*number));
    n.setNote_numMeasureCurrent(unit);
    return n;
  }
};

TEST_F(NoteStatisticTest, DurationTexts) {
  struct Case {
    double seconds;
    const char* english;
    const char* japanese;
  } cases[] = {
      {59, "0m", "0m"},        {60, "1m", "1m"},   {3600, "1h", "1h"},
      {3660, "1h 1m", "1h1m"}, {-300, "0m", "0m"}, {86400 + 59 * 60, "24h 59m", "24h59m"},
  };
  auto english = statistics("en");
  auto japanese = statistics("ja");
  for (const auto& c : cases) {
    EXPECT_EQ(english.getTimeIntervalAndCount(c.seconds), c.english) << c.seconds;
    EXPECT_EQ(japanese.getTimeIntervalAndCount(c.seconds), c.japanese) << c.seconds;
  }
}

TEST_F(NoteStatisticTest, BreastFeedingSidesSleepBackwardsAndFoodInCurrentUnit) {
  auto stats = statistics();
  const auto day = at("UTC", 2026, 5, 1, 10);
  stats.countNote(note("Breast Feeding", day, day, 5, "7"));
  stats.countNote(note("Breast Feeding", day, day, 0, "3"));  // no left minutes
  stats.countNote(note("Sleep", day + 600, day));             // stop before start: negative
  stats.countNote(note("Food", day, day, 4, std::string(app::unit::kOz)));
  stats.countNote(note("Food", day, day, 100, std::string(app::unit::kG)));
  stats.countNote(note("Weight", day, day, 5, std::string(app::unit::kKg)));

  const auto all = stats.getAllStatistic();
  ASSERT_EQ(all.size(), 4u);
  // The default order: Breast Feeding, Sleep, Food, Weight, whatever the user's order is.
  EXPECT_EQ(all[0], (TypeStatistic{"Breast Feeding", "2", {}, "15m", "5m", "10m"}));
  EXPECT_EQ(all[1], (TypeStatistic{"Sleep", "1", {}, "0m", {}, {}}));
  EXPECT_EQ(all[2].id, "Food");
  EXPECT_EQ(all[2].valWithMeasure, "213.4 g");  // 4 oz is 113.4 g
  EXPECT_EQ(all[2].time, std::nullopt);
  EXPECT_EQ(all[3], (TypeStatistic{"Weight", "1", {}, {}, {}, {}}));  // no current unit: no value

  stats.clearAllStatistic();
  EXPECT_TRUE(stats.getAllStatistic().empty());
  EXPECT_EQ(stats.getStatistic("Sleep"), std::nullopt);
}

TEST_F(NoteStatisticTest, WithoutHelperNothingIsSummed) {
  noteStatisticHelper stats(std::nullopt);
  EXPECT_TRUE(stats.valTypesDictionary().empty());
  stats.countNote(note("Food", at("UTC", 2026, 5, 1), at("UTC", 2026, 5, 1), 10, std::string(app::unit::kG)));
  EXPECT_EQ(stats.getStatistic("Food")->valWithMeasure, std::nullopt);
}

}  // namespace
