#include "app/note_edit_helper.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

#include "platform/files/app_home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/fetch_request.h"
#include "platform/store/predicate.h"

namespace app {

namespace {

namespace nt = note_type;

std::mutex& environmentMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<NoteEditHelper::Environment>& applicationEnvironment() {
  static std::optional<NoteEditHelper::Environment> environment;
  return environment;
}

NoteEditHelper::Environment currentApplicationEnvironment() {
  std::lock_guard lock(environmentMutex());
  if (applicationEnvironment()) return *applicationEnvironment();
  NoteEditHelper::Environment fallback;
  fallback.library = files::AppHome::fromEnvironment().library();
  return fallback;
}

// Defaults of a new ValueType row: number and unit where the type has them, then its sub-values
// (localisation keys) in the order the editor offers them.
struct ValueTypeDefaults {
  std::string_view type;
  std::optional<float> number;
  std::string_view unit;  // empty: none
  std::vector<std::string_view> subValues;
};

const std::vector<ValueTypeDefaults>& valueTypeDefaults() {
  static const std::vector<ValueTypeDefaults> table{
      {nt::kFood, 0.0f, unit::kG, {"Fruit", "Vegetable", "\u0421urd", "Porridge", "Meat"}},
      {nt::kDrink, 0.0f, unit::kMl, {"Milk", "Water", "Formula", "Juice"}},
      {nt::kPumping, 0.0f, unit::kMl, {}},
      {nt::kWC, std::nullopt, {}, {"Wet", "Dry", "Poopy"}},
      {nt::kBath, 37.0f, unit::kCelsius, {}},
      {nt::kMood, std::nullopt, {}, {"Happy", "Sad", "Angry", "Scared", "Crying"}},
      {nt::kActivity, std::nullopt, {}, {"Playing with toys", "Playing with friends", "Dancing"}},
      {nt::kHealth, std::nullopt, {}, {"Runny nose", "Coughing", "Fever", "Diarrhea", "Teething"}},
      {nt::kTemperature, 36.6f, unit::kCelsius, {}},
      {nt::kMedicine, std::nullopt, {}, {"Panadol"}},
      {nt::kVaccine, std::nullopt, {}, {"BCG"}},
      {nt::kWeight, 0.0f, unit::kKg, {}},
      {nt::kHeight, 0.0f, unit::kCm, {}},
      {nt::kChestSize, 0.0f, unit::kCm, {}},
      {nt::kHeadSize, 0.0f, unit::kCm, {}},
      {nt::kDoctor, std::nullopt, {}, {"Pediatrician", "Physiotherapist"}},
      {nt::kProcedure, std::nullopt, {}, {"Ultrasonography", "Massage"}},
  };
  return table;
}

constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kScreenshotSubValues{{
    {nt::kFood, "Fruit"},
    {nt::kDrink, "Milk"},
    {nt::kWC, "Wet"},
    {nt::kMood, "Happy"},
    {nt::kActivity, "Playing with toys"},
    {nt::kHealth, "Coughing"},
    {nt::kMedicine, "Panadol"},
    {nt::kVaccine, "BCG"},
    {nt::kDoctor, "Pediatrician"},
    {nt::kProcedure, "Ultrasonography"},
}};

}  // namespace

NoteEditHelper::NoteEditHelper() : environment_(currentApplicationEnvironment()) {}

NoteEditHelper::NoteEditHelper(Environment environment) : environment_(std::move(environment)) {}

void NoteEditHelper::setApplicationEnvironment(Environment environment) {
  std::lock_guard lock(environmentMutex());
  applicationEnvironment() = std::move(environment);
}

InterfaceText NoteEditHelper::language() const {
  return environment_.language ? environment_.language() : InterfaceText::current();
}

const foundation::Clock& NoteEditHelper::clock() const {
  return environment_.clock ? *environment_.clock : runtime::RunLoop::main().clock();
}

// --- Type lists, icons, dates and sums

std::vector<std::string> NoteEditHelper::getTypeIds(std::optional<std::string_view> listName) const {
  if (listName && *listName == kGrowthTypesList) return growthTypeIds();
  if (listName && *listName == kUserList) return CategoriesSequence(environment_.library).read();
  return defaultTypeIds();
}

foundation::Status NoteEditHelper::saveNewTypeList(
    const std::optional<std::vector<std::string>>& keys) const {
  if (!keys) return {};
  return CategoriesSequence(environment_.library).save(*keys);
}

std::optional<std::string> NoteEditHelper::getIconPath(std::optional<std::string_view> type) const {
  if (!type) return std::nullopt;
  return iconNameForType(*type);
}

int NoteEditHelper::howManyDates(std::optional<std::string_view> type) const { return datesOfType(type); }

bool NoteEditHelper::shouldSplitTheTimeBy24h(std::optional<std::string_view> type) const {
  return splitsAtDayBoundaries(type);
}

bool NoteEditHelper::canUseValueForSums(std::optional<std::string_view> type) const {
  return isSummedType(type);
}

std::vector<std::string> NoteEditHelper::getSumsForType(std::optional<std::string_view> type) const {
  std::vector<std::string> sums{std::string(kShowCount)};
  if (howManyDates(type) == 2) sums.emplace_back(kShowHours);
  if (canUseValueForSums(type)) {
    const ValueType row = getValueType(type);
    const auto unitKey = row.vt_NumMeasureCurrent();
    if (unitKey && !unitKey->empty()) sums.push_back(*unitKey);
  }
  if (sums.size() > 1) std::reverse(sums.begin(), sums.end());
  return sums;
}

// --- Value types

ValueType NoteEditHelper::getValueType(std::optional<std::string_view> type) const {
  const std::shared_ptr<store::Context> context = environment_.context ? environment_.context() : nullptr;
  if (!context || !type) return {};

  store::FetchRequest request{std::string(ValueType::kEntityName)};
  auto predicate = store::Predicate::parse("vt_Type == %@", {foundation::Value(*type)});
  if (predicate.ok()) {
    request.predicate = *predicate;
    request.includesPendingChanges = true;
    auto rows = context->fetch(request);
    if (rows.ok()) {
      for (const auto& object : *rows) {
        if (ValueType row(object); row) return row;
      }
    }
  }

  const ValueType row = ValueType::insertIn(*context);
  if (!row) {
    foundation::log("Failed to create the new ValueType.");
    return {};
  }
  row.setVt_Type(std::string(*type));
  initValueType(row);
  if (auto saved = context->save(); !saved.ok()) {
    foundation::log(foundation::text::format("Failed to save the new ValueType '%@'. Error = %@",
                                             {*type, saved.error().description()}));
    return {};
  }
  return row;
}

void NoteEditHelper::initValueType(const ValueType& valueType) const {
  const auto type = valueType.vt_Type();
  if (!type) return;
  for (const auto& defaults : valueTypeDefaults()) {
    if (defaults.type != *type) continue;
    if (defaults.number) valueType.setVt_NumCurrent(*defaults.number);
    if (!defaults.unit.empty()) valueType.setVt_NumMeasureCurrent(std::string(defaults.unit));
    for (std::string_view subValue : defaults.subValues) setStrValueToValueType(valueType, subValue);
    return;
  }
}

void NoteEditHelper::setStrValueToValueType(const ValueType& valueType,
                                            std::optional<std::string_view> text) const {
  if (!valueType || !text) return;
  store::Context* context = valueType.object()->context();
  if (!context) return;
  std::string stored = language().localized(*text);
  if (stored.empty()) stored = std::string(*text);

  const StrValue subValue = StrValue::insertIn(*context);
  if (!subValue) return;
  subValue.setStrValue(stored);
  valueType.addValueTypeToStrValueObject(subValue);
  const auto current = valueType.vt_StrCurrent();
  if (!current || current->empty()) valueType.setVt_StrCurrent(stored);
}

void NoteEditHelper::setUpForScreenshots(const ValueType& valueType) const {
  const auto type = valueType.vt_Type();
  if (!type) return;
  for (const auto& [key, demo] : kScreenshotSubValues) {
    if (key == *type) {
      valueType.setVt_StrCurrent(language().localized(demo));
      return;
    }
  }
}

// --- Units

std::vector<std::string> NoteEditHelper::notationByTypeId(std::optional<std::string_view> type) const {
  return unitsOfType(type);
}

double NoteEditHelper::convertNotationToOpposite(std::optional<std::string_view> type,
                                                 std::optional<std::string_view> source,
                                                 std::optional<std::string_view> target, double value) const {
  return convertToOppositeUnit(type, source, target, value);
}

IntegerRange NoteEditHelper::getTypeIntegerRange(std::optional<std::string_view> type,
                                                 std::optional<std::string_view> unitKey) const {
  return integerRangeOfType(type, unitKey);
}

// --- Texts

std::string NoteEditHelper::getCurrentNumValueStr(std::optional<std::string_view> type,
                                                  std::optional<double> number,
                                                  std::optional<std::string_view> unitKey) const {
  return numberWithUnitText(language(), type, number, unitKey);
}

std::string NoteEditHelper::getCurrentValues(std::optional<std::string_view> type,
                                             std::optional<std::string_view> subValue,
                                             std::optional<double> number,
                                             std::optional<std::string_view> unitText) const {
  return valueText(language(), type, subValue, number, unitText);
}

std::vector<std::string> NoteEditHelper::getDateAndDurationStrings(std::optional<std::string_view> type,
                                                                   std::optional<foundation::Date> start,
                                                                   std::optional<foundation::Date> stop,
                                                                   std::optional<double> number,
                                                                   std::optional<std::string_view> unitText,
                                                                   bool shortWeekdays) const {
  return dateAndDurationTexts(language(), type, start, stop, number, unitText, shortWeekdays, clock());
}

std::string NoteEditHelper::getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(
    foundation::Date from, foundation::Date to, bool addAgo, bool useShortVers) const {
  return elapsedTimeText(language(), from, to, addAgo, useShortVers);
}

std::string NoteEditHelper::getIntervalBetween2DatesString(foundation::Date from, foundation::Date to) const {
  return ageText(language(), from, to);
}

std::string NoteEditHelper::getDayString(std::int32_t count) const { return dayCountText(language(), count); }
std::string NoteEditHelper::getMonthString(std::int32_t count) const {
  return monthCountText(language(), count);
}
std::string NoteEditHelper::getYearString(std::int32_t count) const {
  return yearCountText(language(), count);
}

}  // namespace app
