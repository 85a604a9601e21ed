// Units of the note types, conversions between them and the number picker's whole-number rows.

#include "app/units.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"

namespace {

using Keys = std::vector<std::string>;

app::NoteEditHelper helper() { return app::NoteEditHelper(app::NoteEditHelper::Environment{}); }

TEST(NoteUnits, TemperatureFactorsAreTheSinglePrecisionValuesWidened) {
  EXPECT_EQ(app::kFahrenheitPerCelsius, 1.7999999523162842);
  EXPECT_EQ(app::kCelsiusPerFahrenheit, 0.5555555820465088);
  auto h = helper();
  EXPECT_EQ(h.convetrCelsius_to_Fahrenheit(100), 211.99999523162842);
  EXPECT_EQ(h.convetrFahrenheit_to_Celsius(212), 100.00000476837158);
  EXPECT_NEAR(h.convetrCelsius_to_Fahrenheit(36.6), 97.88, 0.001);
  // A stored single-precision 36.6 converts from its own value.
  EXPECT_EQ(h.convetrCelsius_to_Fahrenheit(static_cast<double>(36.6f)), 97.87999550819404);
}

TEST(NoteUnits, OtherFactors) {
  auto h = helper();
  EXPECT_EQ(h.convetrOz_to_Ml(1), 29.573531);
  EXPECT_EQ(h.convetrMl_to_Oz(29.573531), 1);
  EXPECT_EQ(h.convetrG_to_Oz(100), 3.5273961949580412);
  EXPECT_EQ(h.convetrOz_to_G(1), 28.349523125);
  EXPECT_EQ(h.convetrKg_to_Lbs(1), 2.2046226218487757);
  EXPECT_EQ(h.convetrLbs_to_Kg(12.5), 5.669904625);
  EXPECT_EQ(h.convetrInch_to_Cm(10), 25.4);
  EXPECT_EQ(h.convetrCm_to_Inch(25.4), 10);
}

TEST(NoteUnits, UnitsOfEachType) {
  auto h = helper();
  const std::map<std::string, Keys> expected{
      {"Food", {"Notation_g", "Notation_oz"}},
      {"Drink", {"Notation_ml", "Notation_oz"}},
      {"Pumping", {"Notation_ml", "Notation_oz"}},
      {"Temperature", {"Notation_celsius", "Notation_fahrenheit"}},
      {"Bath", {"Notation_celsius", "Notation_fahrenheit"}},
      {"Weight", {"Notation_kg", "Notation_lbs", "Notation_lbs_oz"}},
      {"Height", {"Notation_cm", "Notation_inch", "Notation_ft_inch"}},
      {"Head Size", {"Notation_cm", "Notation_inch"}},
      {"\xD0\xA1hest Size", {"Notation_cm", "Notation_inch"}},
  };
  for (const auto& type : app::defaultTypeIds()) {
    auto it = expected.find(type);
    EXPECT_EQ(h.notationByTypeId(type), it == expected.end() ? Keys{} : it->second) << type;
  }
  EXPECT_EQ(h.notationByTypeId("Chest Size"), Keys{});
  EXPECT_EQ(h.notationByTypeId(std::nullopt), Keys{});
}

// Every ordered pair of a type's units, the value converted with the factor the pair needs.
TEST(NoteUnits, EveryUnitPairBothWays) {
  auto h = helper();
  const double x = 12.5;
  struct Case {
    std::string type, from, to;
    double expected;
  };
  const double kg_lb = x / 0.45359237, lb_kg = x * 0.45359237;
  const double cm_in = x / 2.54, in_cm = x * 2.54;
  const std::vector<Case> cases{
      {"Food", "Notation_g", "Notation_oz", x / 28.349523125},
      {"Food", "Notation_oz", "Notation_g", x * 28.349523125},
      {"Drink", "Notation_ml", "Notation_oz", x / 29.573531},
      {"Drink", "Notation_oz", "Notation_ml", x * 29.573531},
      {"Pumping", "Notation_ml", "Notation_oz", x / 29.573531},
      {"Pumping", "Notation_oz", "Notation_ml", x * 29.573531},
      {"Temperature", "Notation_celsius", "Notation_fahrenheit", x * 1.7999999523162842 + 32},
      {"Temperature", "Notation_fahrenheit", "Notation_celsius", (x - 32) * 0.5555555820465088},
      {"Bath", "Notation_celsius", "Notation_fahrenheit", x * 1.7999999523162842 + 32},
      {"Bath", "Notation_fahrenheit", "Notation_celsius", (x - 32) * 0.5555555820465088},
      {"Weight", "Notation_kg", "Notation_lbs", kg_lb},
      {"Weight", "Notation_lbs", "Notation_kg", lb_kg},
      {"Weight", "Notation_kg", "Notation_lbs_oz", kg_lb},
      {"Weight", "Notation_lbs_oz", "Notation_kg", lb_kg},
      {"Weight", "Notation_lbs", "Notation_lbs_oz", x},
      {"Weight", "Notation_lbs_oz", "Notation_lbs", x},
      {"Height", "Notation_cm", "Notation_inch", cm_in},
      {"Height", "Notation_inch", "Notation_cm", in_cm},
      {"Height", "Notation_cm", "Notation_ft_inch", cm_in},
      {"Height", "Notation_ft_inch", "Notation_cm", in_cm},
      {"Height", "Notation_inch", "Notation_ft_inch", x},
      {"Height", "Notation_ft_inch", "Notation_inch", x},
      {"Head Size", "Notation_cm", "Notation_inch", cm_in},
      {"Head Size", "Notation_inch", "Notation_cm", in_cm},
      {"\xD0\xA1hest Size", "Notation_cm", "Notation_inch", cm_in},
      {"\xD0\xA1hest Size", "Notation_inch", "Notation_cm", in_cm},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(h.convertNotationToOpposite(c.type, c.from, c.to, x), c.expected)
        << c.type << ": " << c.from << " -> " << c.to;
  }
  // Into the unit the value is already in: the value itself, for every unit of every type.
  for (const auto& type : app::defaultTypeIds()) {
    for (const auto& unit : h.notationByTypeId(type)) {
      EXPECT_EQ(h.convertNotationToOpposite(type, unit, unit, x), x) << type << " " << unit;
    }
  }
}

TEST(NoteUnits, PartsExamplesAndOddCallers) {
  auto h = helper();
  EXPECT_EQ(h.convertNotationToOpposite("Weight", "Notation_lbs", "Notation_lbs_oz", 12.5), 12.5);
  EXPECT_EQ(h.convertNotationToOpposite("Weight", "Notation_lbs_oz", "Notation_kg", 12.5), 5.669904625);
  EXPECT_EQ(h.convertNotationToOpposite("Drink", "Notation_oz", "Notation_ml", 1), 29.573531);
  EXPECT_EQ(h.convertNotationToOpposite("Temperature", "Notation_celsius", "Notation_fahrenheit", 100),
            211.99999523162842);
  EXPECT_EQ(h.convertNotationToOpposite("Temperature", "Notation_fahrenheit", "Notation_celsius", 212),
            100.00000476837158);
  // Types without units, and no type: 0.
  EXPECT_EQ(h.convertNotationToOpposite("Mood", "Notation_g", "Notation_oz", 5), 0);
  EXPECT_EQ(h.convertNotationToOpposite("Mood", "x", "x", 5), 0);
  EXPECT_EQ(h.convertNotationToOpposite("Chest Size", "Notation_cm", "Notation_inch", 5), 0);
  EXPECT_EQ(h.convertNotationToOpposite(std::nullopt, "Notation_g", "Notation_oz", 5), 0);
  // The direction follows the source unit: a note without a unit counts as metric.
  EXPECT_EQ(h.convertNotationToOpposite("Food", std::nullopt, "Notation_oz", 28.349523125), 1);
  EXPECT_EQ(h.convertNotationToOpposite("Weight", std::nullopt, std::nullopt, 0.45359237), 1);
}

TEST(NoteUnits, PickerRows) {
  auto h = helper();
  struct Case {
    std::string type;
    std::optional<std::string> unit;
    size_t rows;
  };
  const std::vector<Case> cases{
      {"Breast Feeding", std::nullopt, 60},
      {"Breast Feeding", "Notation_g", 60},
      {"Food", "Notation_g", 1000},
      {"Food", "Notation_oz", 100},
      {"Drink", "Notation_ml", 1000},
      {"Drink", "Notation_oz", 100},
      {"Pumping", "Notation_ml", 1000},
      {"Pumping", "Notation_oz", 100},
      {"Bath", "Notation_celsius", 100},
      {"Bath", "Notation_fahrenheit", 200},
      {"Temperature", "Notation_celsius", 100},
      {"Temperature", "Notation_fahrenheit", 200},
      {"\xD0\xA1hest Size", "Notation_cm", 200},
      {"\xD0\xA1hest Size", "Notation_inch", 100},
      {"Head Size", "Notation_cm", 100},
      {"Head Size", "Notation_inch", 100},
      {"Weight", "Notation_kg", 100},
      {"Weight", "Notation_lbs", 200},
      {"Weight", "Notation_lbs_oz", 200},
      {"Height", "Notation_cm", 200},
      {"Height", "Notation_inch", 100},
      {"Height", "Notation_ft_inch", 10},
      {"Height", std::nullopt, 10},
      {"Mood", "Notation_g", 0},
      {"Chest Size", "Notation_cm", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(h.getTypeIntegerRange(c.type, c.unit), (app::IntegerRange{0, c.rows}))
        << c.type << " " << c.unit.value_or("(none)");
  }
  EXPECT_EQ(h.getTypeIntegerRange(std::nullopt, std::nullopt), (app::IntegerRange{0, 0}));
}

}  // namespace
