#include "reports/note_statistic_helper.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "app/note_types.h"

namespace reports {

namespace {

// Whole minutes of a number as the platform's integerValue reads it; 0 below 1.
std::int64_t wholeMinutes(double value) {
  if (!std::isfinite(value) || value < 1) return 0;
  if (value >= 9.2e18) return std::numeric_limits<std::int64_t>::max() / 120;
  return static_cast<std::int64_t>(value);
}

}  // namespace

noteStatisticHelper::noteStatisticHelper(std::optional<app::NoteEditHelper> neh, Services services)
    : neh_(std::move(neh)), services_(std::move(services)) {
  updateValTypesInfo();
  clearAllStatistic();
}

void noteStatisticHelper::updateValTypesInfo() {
  valTypesDictionary_.clear();
  if (!neh_) return;
  for (const auto& type : neh_->getTypeIds(std::string_view())) {
    if (!neh_->canUseValueForSums(type)) continue;
    const app::ValueType row = neh_->getValueType(type);
    if (!row) continue;
    auto unit = row.vt_NumMeasureCurrent();
    auto key = row.vt_Type();
    // A row without a unit cannot be summed in one.
    if (unit && key) valTypesDictionary_[*key] = *unit;
  }
}

app::InterfaceText noteStatisticHelper::language() const {
  return services_.language ? services_.language() : app::InterfaceText::current();
}

void noteStatisticHelper::countNote(const app::Note& note) {
  if (!note) return;
  const std::string type = note.note_Type().value_or("");
  sumInfo& sum = sumDict_[type];
  sum.count += 1;

  if (neh_ && neh_->howManyDates(type) == 2) {
    sum.gotPeriod = true;
    const auto rightText = note.note_numMeasureCurrent();
    if (type == "Breast Feeding" && rightText) {
      const auto number = note.note_numValue();
      const std::int64_t left = number ? wholeMinutes(number->toDouble()) : 0;
      const std::int64_t right = std::max<std::int64_t>(app::leadingInteger(*rightText), 0);
      const double leftSeconds = static_cast<double>(left) * 60;
      const double rightSeconds = static_cast<double>(right >= 1 ? right : 0) * 60;
      sum.periodLeft += leftSeconds;
      sum.periodRight += rightSeconds;
      sum.period += leftSeconds + rightSeconds;
    } else {
      const auto start = note.note_DateStart();
      const auto stop = note.note_DateStop();
      // Negative when the stop lies before the start: the total then reads as no minutes.
      if (start && stop) sum.period += *stop - *start;
    }
  }

  if (auto unit = valTypesDictionary_.find(type); unit != valTypesDictionary_.end() && neh_) {
    sum.gotVal = true;
    const auto number = note.note_numValue();
    float value = number ? static_cast<float>(number->toDouble()) : 0.0f;
    const auto noteUnit = note.note_numMeasureCurrent();
    if (noteUnit != unit->second)
      value = static_cast<float>(neh_->convertNotationToOpposite(type, noteUnit, unit->second, value));
    sum.val += value;
  }
}

std::optional<TypeStatistic> noteStatisticHelper::getStatistic(const std::string& type) const {
  auto it = sumDict_.find(type);
  if (it == sumDict_.end()) return std::nullopt;
  const sumInfo& sum = it->second;
  TypeStatistic out;
  out.id = type;
  out.get_count = std::to_string(sum.count);
  if (sum.gotVal && neh_) {
    auto unit = valTypesDictionary_.find(type);
    const std::optional<std::string_view> unitKey =
        unit == valTypesDictionary_.end() ? std::nullopt : std::optional<std::string_view>(unit->second);
    out.valWithMeasure =
        neh_->getCurrentNumValueStr(type, static_cast<double>(static_cast<float>(sum.val)), unitKey);
  }
  if (sum.gotPeriod) {
    out.time = getTimeIntervalAndCount(sum.period);
    if (type == "Breast Feeding") {
      if (sum.periodLeft > 0) out.time_l = getTimeIntervalAndCount(sum.periodLeft);
      if (sum.periodRight > 0) out.time_r = getTimeIntervalAndCount(sum.periodRight);
    }
  }
  return out;
}

std::vector<TypeStatistic> noteStatisticHelper::getAllStatistic() const {
  std::vector<TypeStatistic> out;
  if (sumDict_.empty()) return out;
  // The default order, whatever order the user gave the types.
  const auto types = neh_ ? neh_->getTypeIds(std::string_view()) : std::vector<std::string>{};
  for (const auto& type : types)
    if (auto statistic = getStatistic(type)) out.push_back(std::move(*statistic));
  return out;
}

std::string noteStatisticHelper::getTimeIntervalAndCount(double seconds) const {
  const auto lang = language();
  const double wholeMinutes = std::trunc(seconds / 60.0);
  // Minutes are a 32-bit count; totals beyond it are clamped rather than wrapped.
  const std::int32_t minutes = static_cast<std::int32_t>(
      std::clamp(std::isfinite(wholeMinutes) ? wholeMinutes : 0.0, -2147483648.0, 2147483647.0));
  const std::int32_t hours = minutes / 60;
  const std::int32_t rest = minutes - 60 * hours;
  const std::string hourPart =
      minutes >= 60 ? std::to_string(hours) + lang.localized(app::text_key::kHour) : "";
  const std::string minutePart =
      rest >= 1 ? std::to_string(rest) + lang.localized(app::text_key::kMinute) : "";
  std::string text;
  if (!hourPart.empty() && !minutePart.empty())
    text = hourPart + " " + minutePart;
  else if (!hourPart.empty() || !minutePart.empty())
    text = hourPart + minutePart;
  else
    text = "0" + lang.localized(app::text_key::kMinute);
  const auto preferred = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  if (preferred == "ja" || preferred == "zh-Hans") std::erase(text, ' ');
  return text;
}

}  // namespace reports
