#pragma once
// Units of the note types that carry a number: their keys (also the localisation keys of their
// names), the conversions between a type's unit families, and the size of the whole-number column
// of the editor's number picker.
//
// A value in pounds-and-ounces is stored as decimal pounds and one in feet-and-inches as decimal
// inches, so those pairs share their numbers; only texts and pickers differ.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

namespace unit {
inline constexpr std::string_view kG = "Notation_g";
inline constexpr std::string_view kOz = "Notation_oz";
inline constexpr std::string_view kMl = "Notation_ml";
inline constexpr std::string_view kCelsius = "Notation_celsius";
inline constexpr std::string_view kFahrenheit = "Notation_fahrenheit";
inline constexpr std::string_view kKg = "Notation_kg";
inline constexpr std::string_view kLbs = "Notation_lbs";
inline constexpr std::string_view kLbsOz = "Notation_lbs_oz";
inline constexpr std::string_view kCm = "Notation_cm";
inline constexpr std::string_view kInch = "Notation_inch";
inline constexpr std::string_view kFtInch = "Notation_ft_inch";
// Only a label inside feet-and-inches texts.
inline constexpr std::string_view kFt = "Notation_ft";
}  // namespace unit

// Millilitres per fluid ounce, grams per ounce, centimetres per inch, kilograms per pound.
inline constexpr double kMlPerOz = 29.573531;
inline constexpr double kGPerOz = 28.349523125;
inline constexpr double kCmPerInch = 2.54;
inline constexpr double kKgPerLb = 0.45359237;
// The temperature factors are the single-precision 1.8 and 5/9 widened to double; stored values
// were converted with exactly these.
inline constexpr double kFahrenheitPerCelsius = static_cast<double>(1.8f);         // 1.7999999523162842
inline constexpr double kCelsiusPerFahrenheit = static_cast<double>(5.0f / 9.0f);  // 0.5555555820465088

double convertMlToOz(double x);
double convertOzToMl(double x);
double convertGToOz(double x);
double convertOzToG(double x);
double convertCelsiusToFahrenheit(double x);
double convertFahrenheitToCelsius(double x);
double convertCmToInch(double x);
double convertInchToCm(double x);
double convertKgToLbs(double x);
double convertLbsToKg(double x);

// The unit keys of a type, metric first; empty for types without a number.
std::vector<std::string> unitsOfType(std::optional<std::string_view> type);

// The value, given in `source`, brought into the type's other unit family. The direction follows
// the source unit; pounds and pounds-and-ounces, and inches and feet-and-inches, hold the same
// number. A value asked for in the unit it is already in comes back unchanged. Types without
// units give 0.
double convertToOppositeUnit(std::optional<std::string_view> type, std::optional<std::string_view> source,
                             std::optional<std::string_view> target, double value);

// A range of whole numbers starting at `location`.
struct IntegerRange {
  std::size_t location = 0;
  std::size_t length = 0;
  friend bool operator==(const IntegerRange&, const IntegerRange&) = default;
};

// Rows of the whole-number column of the number picker for the type in the unit: the numbers
// 0 to length - 1 (minutes for "Breast Feeding", whole feet for feet-and-inches).
IntegerRange integerRangeOfType(std::optional<std::string_view> type,
                                std::optional<std::string_view> unitKey);

}  // namespace app
