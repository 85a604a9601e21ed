#include "note_editor/value_entry.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/note_types.h"
#include "app/units.h"

namespace note_editor {
namespace {

namespace nt = app::note_type;
namespace unit = app::unit;

bool is(const std::optional<std::string>& value, std::string_view key) { return value && *value == key; }

std::string formatInt(const char* format, int number) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, number);
  return buffer;
}

}  // namespace

int digitsAfterPoint(const std::optional<std::string>& type, const std::optional<std::string>& unitKey) {
  if (is(type, nt::kBreastFeeding)) return 0;
  if (is(type, nt::kWeight)) return is(unitKey, unit::kLbsOz) ? 1 : 2;
  if (is(type, nt::kHeight) || is(type, nt::kHeadSize) || is(type, nt::kChestSize)) {
    if (is(unitKey, unit::kCm)) return 1;
    return 2;  // inches, and feet with inches and tenths
  }
  return 1;
}

NumberWheel::NumberWheel(const std::optional<std::string>& type, const std::optional<std::string>& unitKey,
                         const Localizer& localized)
    : unit_(unitKey.value_or("")), digits_(digitsAfterPoint(type, unitKey)), localized_(localized) {
  // The range's two numbers are the first and the last row, both offered: 0 and 60 give the 61
  // rows 0 to 60. Equal numbers give no rows.
  const app::IntegerRange range = app::integerRangeOfType(type, unitKey);
  if (range.location == range.length) return;
  first_ = static_cast<int>(std::min(range.location, range.length));
  last_ = static_cast<int>(std::max(range.location, range.length));
  std::string suffix;
  if (unit_ == unit::kLbsOz) suffix = " " + localized_("Notation_lbs");
  if (unit_ == unit::kFtInch) suffix = " " + localized_("Notation_ft");
  for (int n = first_; n <= last_; ++n) firstColumn_.push_back(std::to_string(n) + suffix);
}

int NumberWheel::numberOfRows(int component) const {
  if (component == 0) return static_cast<int>(firstColumn_.size());
  if (component < 0 || component > digits_) return 0;
  if (unit_ == unit::kLbsOz) return 16;
  if (unit_ == unit::kFtInch && component == 1) return 12;
  return 10;
}

double NumberWheel::widthForComponent(int component, double pickerWidth,
                                      const std::optional<std::string>& language) const {
  if (component < 0 || component > digits_) return 0;
  if (digits_ == 0) return pickerWidth - 40;
  if (digits_ == 1) return 140;
  if (unit_ == unit::kFtInch) {
    const bool wide = language && (*language == "es" || *language == "pt" || *language == "zh-Hans");
    static constexpr double kWide[] = {110, 110, 50};
    static constexpr double kNarrow[] = {70, 100, 70};
    return wide ? kWide[component] : kNarrow[component];
  }
  static constexpr double kTwo[] = {100, 70, 100};
  return kTwo[component];
}

std::string NumberWheel::rowText(int row, int component) const {
  if (row < 0 || row >= numberOfRows(component)) return {};
  if (component == 0) return firstColumn_[static_cast<size_t>(row)];
  if (component == 1) {
    if (unit_ == unit::kLbsOz) return std::to_string(row) + " " + localized_("Notation_oz");
    if (unit_ == unit::kFtInch) return std::to_string(row) + " " + localized_("Notation_inch");
    return formatInt(" .%d", row);
  }
  return unit_ == unit::kFtInch ? formatInt(" .%d", row) : std::to_string(row);
}

std::array<std::optional<int>, 3> NumberWheel::preselection(float value) const {
  std::array<std::optional<int>, 3> rows;
  // Single precision throughout, as the value is kept; the 0.01 lifts a tenth stored just below
  // itself (2.3 is 2.2999999) and stays in the product the hundredth is read from, so that 3.12
  // does not read as 3.11.
  const float whole = std::trunc(value);
  const float tenthsProduct = (value - whole) * 10.0f + 0.01f;
  const int d1 = static_cast<int>(tenthsProduct);
  const int d2 = static_cast<int>((tenthsProduct - static_cast<float>(d1)) * 10.0f);
  int firstValue = static_cast<int>(whole);
  std::array<int, 2> further{d1, d2};
  if (unit_ == unit::kLbsOz) {
    further = {static_cast<int>((value - whole) * 16.0f), 0};
  } else if (unit_ == unit::kFtInch) {
    const float feet = std::trunc(value / 12.0f);
    firstValue = static_cast<int>(feet);
    further = {static_cast<int>(value - feet * 12.0f), d1};
  }
  if (!empty() && value >= 0 && firstValue >= first_ && firstValue <= last_) rows[0] = firstValue - first_;
  for (int c = 1; c <= digits_; ++c) {
    const int row = further[static_cast<size_t>(c - 1)];
    if (row >= 0 && row < numberOfRows(c)) rows[static_cast<size_t>(c)] = row;
  }
  return rows;
}

float NumberWheel::valueOfRows(const std::array<int, 3>& rows) const {
  const int c1 = digits_ >= 1 ? rows[1] : 0;
  const int c2 = digits_ >= 2 ? rows[2] : 0;
  const double value = first_ + rows[0];
  // Whole hundredths first, one division last: the nearest float of the decimal the rows show.
  if (unit_ == unit::kLbsOz) return static_cast<float>(value + c1 * 0.0625);
  if (unit_ == unit::kFtInch) return static_cast<float>((value * 120 + c1 * 10 + c2) / 10.0);
  return static_cast<float>((value * 100 + c1 * 10 + c2) / 100.0);
}

std::string keypadText(std::string text, int key, int digits) {
  if (key < 0 || key > 11) return text;
  const size_t point = text.rfind('.');
  const size_t fraction = point == std::string::npos ? 0 : text.size() - point;
  if (key == 11) {
    if (!text.empty()) text.pop_back();
    return text.empty() ? "0" : text;
  }
  if (text.size() > 8 || fraction > static_cast<size_t>(digits)) return text;
  if (key <= 8) {
    const char digit = static_cast<char>('1' + key);
    return text == "0" ? std::string(1, digit) : text + digit;
  }
  if (key == 9) return point == std::string::npos ? text + "." : text;
  return text == "0" ? text : text + "0";
}

std::optional<double> keypadNumber(std::string_view text) {
  double number = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, number, std::chars_format::fixed);
  if (ec != std::errc{} || ptr != end || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::string keypadLabel(float value) {
  const long long tenths = static_cast<long long>(std::floor(static_cast<double>(value) * 10 + 0.5));
  const long long magnitude = tenths < 0 ? -tenths : tenths;
  std::string text = (tenths < 0 ? "-" : "") + std::to_string(magnitude / 10);
  if (magnitude % 10 != 0) text += "." + std::to_string(magnitude % 10);
  return text;
}

std::optional<int> keypadKeyAt(double width, double height, double x, double y) {
  if (x < 0) return std::nullopt;
  const int column = x <= width / 3 ? 0 : x <= width / 3 + width / 3 ? 1 : 2;
  const double below = y - 44;
  const double q = (height - 44) / 4;
  if (below < 0) return std::nullopt;
  const int row = below <= q ? 0 : below <= 2 * q ? 1 : below <= 3 * q ? 2 : 3;
  return row * 3 + column;
}

void NumberEntry::open(NoteEditor& model) {
  model.pickerViewType = 3;
  numCurrent_ = static_cast<float>(model.note_numVal.value_or(0));
  const bool breast = model.isBreastType();
  if (breast && (model.timerCountTmp == 0 || model.timerCountTmp == 1)) {
    numCurrent_ = static_cast<float>(model.timerCountTmp == 0 ? model.timerCount : model.timerCount2);
  }
  digits_ = digitsAfterPoint(model.note_Type, model.note_numMeasureCurrent);
  keypad_ = note_editor::usesKeypad(model.note_Type);
  changed_ = false;
  wheel_.reset();
  rows_ = {};
  if (keypad_) {
    label_ = keypadLabel(numCurrent_);
    return;
  }
  wheel_.emplace(model.note_Type, model.note_numMeasureCurrent,
                 [&model](std::string_view key) { return model.localized(key); });
  const auto preselected = wheel_->preselection(numCurrent_);
  for (size_t c = 0; c < rows_.size(); ++c) rows_[c] = preselected[c].value_or(0);
}

void NumberEntry::selectRow(int row, int component) {
  if (!wheel_ || component < 0 || component >= wheel_->numberOfComponents()) return;
  if (row < 0 || row >= wheel_->numberOfRows(component)) return;
  rows_[static_cast<size_t>(component)] = row;
  changed_ = true;
}

void NumberEntry::key(int key) {
  if (!keypad_) return;
  label_ = keypadText(label_, key, digits_);
  changed_ = true;
}

void NumberEntry::readBack() {
  // Nothing touched: the value stays exactly as stored, also where no row could show it.
  if (!changed_) return;
  if (keypad_) {
    // A typed "0" is a zero; a text that is no number (a lone ".") changes nothing.
    if (const auto number = keypadNumber(label_); number && *number >= 0)
      numCurrent_ = static_cast<float>(*number);
    label_ = "0";
    return;
  }
  if (wheel_ && !wheel_->empty()) numCurrent_ = wheel_->valueOfRows(rows_);
}

void NumberEntry::done(NoteEditor& model) {
  readBack();
  if (model.isBreastType() && (model.timerCountTmp == 0 || model.timerCountTmp == 1)) {
    const auto minutes = static_cast<std::int64_t>(numCurrent_);
    (model.timerCountTmp == 0 ? model.timerCount : model.timerCount2) = minutes;
    breastDatesFollowMinutes(model);
  }
  model.note_numVal = static_cast<double>(numCurrent_);
  if (model.timerStarted) (void)model.refrashTimerSave();
}

void breastDatesFollowMinutes(NoteEditor& model) {
  if (!model.note_DateStart || !model.note_DateStop) return;
  const foundation::Date start = *model.note_DateStart;
  const auto span = static_cast<std::int64_t>(std::fabs(*model.note_DateStop - start));
  const std::int64_t needed = (model.timerCount + model.timerCount2) * 60;
  if (span == needed) return;
  model.note_DateStop = start + static_cast<double>(needed);
  const foundation::Date now = model.now();
  if (span < needed && *model.note_DateStop > now) {
    model.note_DateStop = now;
    model.note_DateStart = now - static_cast<double>(needed);
  }
}

}  // namespace note_editor
