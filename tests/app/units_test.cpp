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

TEST(NoteUnits, FactorsOfEachConversion) {
  // The temperature factors are the single-precision 1.8 and 5/9, widened.
  EXPECT_EQ(kHelper.convetrCelsius_to_Fahrenheit(100), 211.99999523162842);
  EXPECT_EQ(kHelper.convetrCelsius_to_Fahrenheit(static_cast<double>(36.6f)), 97.87999550819404);
  EXPECT_EQ(kHelper.convetrFahrenheit_to_Celsius(212), 100.00000476837158);
  EXPECT_EQ(kHelper.convetrOz_to_Ml(1), 29.573531);
  EXPECT_EQ(kHelper.convetrMl_to_Oz(29.573531), 1);
  EXPECT_EQ(kHelper.convetrG_to_Oz(100), 3.5273961949580412);
  EXPECT_EQ(kHelper.convetrOz_to_G(1), 28.349523125);
  EXPECT_EQ(kHelper.convetrKg_to_Lbs(1), 2.2046226218487757);
  EXPECT_EQ(kHelper.convetrLbs_to_Kg(12.5), 5.669904625);
  EXPECT_EQ(kHelper.convetrInch_to_Cm(10), 25.4);
  EXPECT_EQ(kHelper.convetrCm_to_Inch(25.4), 10);
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
  auto rows = [](std::optional<std::string> type, std::optional<std::string> unit) {
    const app::IntegerRange range = kHelper.getTypeIntegerRange(type, unit);
    return range.location == 0 ? range.length : 9999;
  };
  EXPECT_EQ(rows("Breast Feeding", {}), 60u);
  EXPECT_EQ(rows("Breast Feeding", "Notation_g"), 60u);
  EXPECT_EQ(rows("Food", "Notation_g"), 1000u);
  EXPECT_EQ(rows("Food", "Notation_oz"), 100u);
  EXPECT_EQ(rows("Pumping", "Notation_ml"), 1000u);
  EXPECT_EQ(rows("Drink", "Notation_oz"), 100u);
  EXPECT_EQ(rows("Bath", "Notation_celsius"), 100u);
  EXPECT_EQ(rows("Temperature", "Notation_fahrenheit"), 200u);
  EXPECT_EQ(rows("\xD0\xA1hest Size", "Notation_cm"), 200u);
  EXPECT_EQ(rows("\xD0\xA1hest Size", "Notation_inch"), 100u);
  EXPECT_EQ(rows("Head Size", "Notation_cm"), 100u);
  EXPECT_EQ(rows("Weight", "Notation_kg"), 100u);
  EXPECT_EQ(rows("Weight", "Notation_lbs_oz"), 200u);
  EXPECT_EQ(rows("Height", "Notation_cm"), 200u);
  EXPECT_EQ(rows("Height", "Notation_inch"), 100u);
  EXPECT_EQ(rows("Height", "Notation_ft_inch"), 10u);
  EXPECT_EQ(rows("Height", {}), 10u);
  EXPECT_EQ(rows("Mood", "Notation_g"), 0u);
  EXPECT_EQ(rows("Chest Size", "Notation_cm"), 0u);
  EXPECT_EQ(rows({}, {}), 0u);
}

}  // namespace
