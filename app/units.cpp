#include "app/units.h"

#include "app/note_types.h"

namespace app {

namespace {

namespace nt = note_type;

bool is(std::optional<std::string_view> text, std::string_view key) { return text && *text == key; }

std::vector<std::string> keys(std::initializer_list<std::string_view> list) {
  return std::vector<std::string>(list.begin(), list.end());
}

}  // namespace

double convertMlToOz(double x) { return x / kMlPerOz; }
double convertOzToMl(double x) { return x * kMlPerOz; }
double convertGToOz(double x) { return x / kGPerOz; }
double convertOzToG(double x) { return x * kGPerOz; }
double convertCelsiusToFahrenheit(double x) { return x * kFahrenheitPerCelsius + 32; }
double convertFahrenheitToCelsius(double x) { return (x - 32) * kCelsiusPerFahrenheit; }
double convertCmToInch(double x) { return x / kCmPerInch; }
double convertInchToCm(double x) { return x * kCmPerInch; }
double convertKgToLbs(double x) { return x / kKgPerLb; }
double convertLbsToKg(double x) { return x * kKgPerLb; }

std::vector<std::string> unitsOfType(std::optional<std::string_view> type) {
  if (!type) return {};
  if (*type == nt::kFood) return keys({unit::kG, unit::kOz});
  if (*type == nt::kDrink || *type == nt::kPumping) return keys({unit::kMl, unit::kOz});
  if (*type == nt::kTemperature || *type == nt::kBath) return keys({unit::kCelsius, unit::kFahrenheit});
  if (*type == nt::kWeight) return keys({unit::kKg, unit::kLbs, unit::kLbsOz});
  if (*type == nt::kHeight) return keys({unit::kCm, unit::kInch, unit::kFtInch});
  if (*type == nt::kHeadSize || *type == nt::kChestSize) return keys({unit::kCm, unit::kInch});
  return {};
}

double convertToOppositeUnit(std::optional<std::string_view> type, std::optional<std::string_view> source,
                             std::optional<std::string_view> target, double value) {
  if (!type) return 0;
  const std::string_view t = *type;
  const bool hasUnits = t == nt::kWeight || t == nt::kHeight || t == nt::kChestSize || t == nt::kHeadSize ||
                        t == nt::kFood || t == nt::kDrink || t == nt::kPumping || t == nt::kTemperature ||
                        t == nt::kBath;
  if (!hasUnits) return 0;
  // Converting into the unit the value is already in would turn kilograms into pounds under the
  // kilogram label; the value is already right.
  if (source && target && *source == *target) return value;

  if (t == nt::kWeight) {
    if ((is(source, unit::kLbs) && is(target, unit::kLbsOz)) ||
        (is(source, unit::kLbsOz) && is(target, unit::kLbs))) {
      return value;
    }
    if (is(source, unit::kLbs) || is(source, unit::kLbsOz)) return convertLbsToKg(value);
    return convertKgToLbs(value);
  }
  if (t == nt::kHeight) {
    if ((is(source, unit::kInch) && is(target, unit::kFtInch)) ||
        (is(source, unit::kFtInch) && is(target, unit::kInch))) {
      return value;
    }
    if (is(source, unit::kInch) || is(source, unit::kFtInch)) return convertInchToCm(value);
    return convertCmToInch(value);
  }
  if (t == nt::kChestSize || t == nt::kHeadSize) {
    return is(source, unit::kInch) ? convertInchToCm(value) : convertCmToInch(value);
  }
  if (t == nt::kFood) return is(source, unit::kOz) ? convertOzToG(value) : convertGToOz(value);
  if (t == nt::kDrink || t == nt::kPumping) {
    return is(source, unit::kOz) ? convertOzToMl(value) : convertMlToOz(value);
  }
  // Temperature and Bath.
  return is(source, unit::kFahrenheit) ? convertFahrenheitToCelsius(value)
                                       : convertCelsiusToFahrenheit(value);
}

IntegerRange integerRangeOfType(std::optional<std::string_view> type,
                                std::optional<std::string_view> unitKey) {
  auto rows = [](std::size_t length) { return IntegerRange{0, length}; };
  if (!type) return rows(0);
  const std::string_view t = *type;
  if (t == nt::kBreastFeeding) return rows(60);
  if (t == nt::kFood) return rows(is(unitKey, unit::kG) ? 1000 : 100);
  if (t == nt::kDrink || t == nt::kPumping) return rows(is(unitKey, unit::kMl) ? 1000 : 100);
  if (t == nt::kBath || t == nt::kTemperature) return rows(is(unitKey, unit::kCelsius) ? 100 : 200);
  if (t == nt::kChestSize) return rows(is(unitKey, unit::kCm) ? 200 : 100);
  if (t == nt::kHeadSize) return rows(100);
  if (t == nt::kWeight) return rows(is(unitKey, unit::kKg) ? 100 : 200);
  if (t == nt::kHeight) {
    if (is(unitKey, unit::kCm)) return rows(200);
    if (is(unitKey, unit::kInch)) return rows(100);
    return rows(10);
  }
  return rows(0);
}

}  // namespace app
