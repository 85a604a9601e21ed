// Units of the note types, conversions between them and the number picker's whole-number rows.

#include "app/units.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/note_edit_helper.h"

namespace {

using Keys = std::vector<std::string>;
using Convert = std::function<double(double)>;

const app::NoteEditHelper kHelper{app::NoteEditHelper::Environment{}};

Convert times(double k) {
  return [k](double x) { return x * k; };
}
Convert over(double k) {
  return [k](double x) { return x / k; };
}

// Every ordered pair of every type's units: the factor the pair needs, or none within a family
// (pounds and pounds-and-ounces, inches and feet-and-inches share their numbers).
TEST(NoteUnits, EveryUnitPairBothWays) {
  const Keys g{"Notation_g", "Notation_oz"}, ml{"Notation_ml", "Notation_oz"},
      deg{"Notation_celsius", "Notation_fahrenheit"}, kg{"Notation_kg", "Notation_lbs", "Notation_lbs_oz"},
      cm{"Notation_cm", "Notation_inch", "Notation_ft_inch"}, cmOnly{"Notation_cm", "Notation_inch"};
  const Convert toF = [](double x) { return x * 1.7999999523162842 + 32; };
  const Convert toC = [](double x) { return (x - 32) * 0.5555555820465088; };
  // The units, metric first, and the conversions from metric and into it.
  const std::map<std::string, std::tuple<Keys, Convert, Convert>> families{
      {"Food", {g, over(28.349523125), times(28.349523125)}},
      {"Drink", {ml, over(29.573531), times(29.573531)}},
      {"Pumping", {ml, over(29.573531), times(29.573531)}},
      {"Temperature", {deg, toF, toC}},
      {"Bath", {deg, toF, toC}},
      {"Weight", {kg, over(0.45359237), times(0.45359237)}},
      {"Height", {cm, over(2.54), times(2.54)}},
      {"Head Size", {cmOnly, over(2.54), times(2.54)}},
      {"\xD0\xA1hest Size", {cmOnly, over(2.54), times(2.54)}}};
  const double x = 12.5;
  for (const auto& type : app::defaultTypeIds()) {
    auto family = families.find(type);
    if (family == families.end()) {
      EXPECT_EQ(kHelper.notationByTypeId(type), Keys{}) << type;
      EXPECT_EQ(kHelper.convertNotationToOpposite(type, "x", "x", 5), 0) << type;
      continue;
    }
    const auto& [units, fromMetric, toMetric] = family->second;
    ASSERT_EQ(kHelper.notationByTypeId(type), units) << type;
    for (size_t from = 0; from < units.size(); ++from) {
      for (size_t to = 0; to < units.size(); ++to) {
        const double expected = (from == 0) == (to == 0) ? x : from == 0 ? fromMetric(x) : toMetric(x);
        EXPECT_EQ(kHelper.convertNotationToOpposite(type, units[from], units[to], x), expected)
            << type << ": " << units[from] << " -> " << units[to];
      }
    }
  }
  // No type, or a Latin C: no units. A note without a unit counts as metric.
  EXPECT_EQ(kHelper.notationByTypeId("Chest Size"), Keys{});
  EXPECT_EQ(kHelper.notationByTypeId(std::nullopt), Keys{});
  EXPECT_EQ(kHelper.convertNotationToOpposite("Chest Size", "Notation_cm", "Notation_inch", 5), 0);
  EXPECT_EQ(kHelper.convertNotationToOpposite(std::nullopt, "Notation_g", "Notation_oz", 5), 0);
  EXPECT_EQ(kHelper.convertNotationToOpposite("Food", std::nullopt, "Notation_oz", 28.349523125), 1);
  EXPECT_EQ(kHelper.convertNotationToOpposite("Weight", std::nullopt, std::nullopt, 0.45359237), 1);
}

TEST(NoteUnits, PickerRows) {
  // Type, unit without its "Notation_" ("" for none), rows.
  const std::string kChest = "\xD0\xA1hest Size";
  const std::tuple<std::string, std::string, size_t> cases[] = {
      {"Breast Feeding", "", 60}, {"Breast Feeding", "g", 60},
      {"Food", "g", 1000},        {"Food", "oz", 100},
      {"Pumping", "ml", 1000},    {"Drink", "oz", 100},
      {"Bath", "celsius", 100},   {"Temperature", "fahrenheit", 200},
      {kChest, "cm", 200},        {kChest, "inch", 100},
      {"Head Size", "cm", 100},   {"Weight", "kg", 100},
      {"Weight", "lbs_oz", 200},  {"Height", "cm", 200},
      {"Height", "inch", 100},    {"Height", "ft_inch", 10},
      {"Height", "", 10},         {"Mood", "g", 0},
      {"Chest Size", "cm", 0}};
  for (const auto& [type, unit, rows] : cases) {
    const auto key = unit.empty() ? std::nullopt : std::optional<std::string>("Notation_" + unit);
    EXPECT_EQ(kHelper.getTypeIntegerRange(type, key), (app::IntegerRange{0, rows})) << type << " " << unit;
  }
  EXPECT_EQ(kHelper.getTypeIntegerRange(std::nullopt, std::nullopt), (app::IntegerRange{0, 0}));
}

}  // namespace
