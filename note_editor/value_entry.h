#pragma once
// The number entry of the editor: the wheel picker's columns and the drawn keypad's text rules,
// without any view, so that both read back exactly what they show.
//
//   open(model) ── wheel: columns from the type and unit, rows preselected from the value
//               └─ keypad: the label shows the value with one fraction digit
//   selectRow() / key()      the user's changes
//   done(model)              the number (and, for breast feeding, the side and the dates) is stored
//
// Two promises: a value that no wheel was moved for is kept as it was, even when it lies beyond
// the wheel's last row (a 75-minute side counted by a timer); and the keypad's text is read with
// "." as the separator whatever the process locale. Main thread only.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "note_editor/note_editor.h"

namespace note_editor {

// Digits the entry takes after the point for the type in the unit (0, 1 or 2): also the number of
// wheel columns after the whole-number column.
int digitsAfterPoint(const std::optional<std::string>& type, const std::optional<std::string>& unit);

using Localizer = std::function<std::string(std::string_view)>;

// The columns of the wheel for one type and unit.
class NumberWheel {
 public:
  static constexpr double kRowHeight = 44;

  NumberWheel(const std::optional<std::string>& type, const std::optional<std::string>& unit,
              const Localizer& localized);

  // The whole numbers of the first column, both ends included; empty when the type has none.
  int first() const { return first_; }
  int last() const { return last_; }
  bool empty() const { return firstColumn_.empty(); }
  int digits() const { return digits_; }

  int numberOfComponents() const { return digits_ + 1; }
  int numberOfRows(int component) const;
  // `language`: the first "AppleLanguages" entry.
  double widthForComponent(int component, double pickerWidth,
                           const std::optional<std::string>& language) const;
  std::string rowText(int row, int component) const;

  // The rows that show `value`; the first column's is empty when the value lies past its rows.
  std::array<std::optional<int>, 3> preselection(float value) const;
  // The number the rows show (rows of absent columns are ignored).
  float valueOfRows(const std::array<int, 3>& rows) const;

 private:
  std::string unit_;
  int digits_ = 1;
  int first_ = 0;
  int last_ = -1;
  std::vector<std::string> firstColumn_;
  Localizer localized_;
};

// The keypad's label text after key `key` (0-8 the digits 1-9, 9 ".", 10 "0", 11 delete); keys
// past 11 change nothing. At most `digits` digits follow the point and at most 9 characters are
// typed.
std::string keypadText(std::string text, int key, int digits);
// The keypad's text as a number, "." the separator whatever the locale; nothing when it is none.
std::optional<double> keypadNumber(std::string_view text);
// The label's text for a value: rounded half up to one fraction digit, "." the separator.
std::string keypadLabel(float value);

// The key under a point of a keypad of `width` × `height` (its 44-point top band holds none).
std::optional<int> keypadKeyAt(double width, double height, double x, double y);

// One opening of the number panel.
class NumberEntry {
 public:
  // Opens on the editor's number (for breast feeding the side in `timerCountTmp`, 0 left, 1 right).
  void open(NoteEditor& model);

  bool usesKeypad() const { return keypad_; }
  const std::optional<NumberWheel>& wheel() const { return wheel_; }
  const std::array<int, 3>& selectedRows() const { return rows_; }
  const std::string& keypadLabelText() const { return label_; }
  float numCurrent() const { return numCurrent_; }

  // A wheel was turned to `row` of `component`.
  void selectRow(int row, int component);
  // A keypad key.
  void key(int key);
  // Done: the chosen number becomes the note's (and, for breast feeding, the side's minutes; the
  // dates then hold both sides).
  void done(NoteEditor& model);

 private:
  void readBack();

  bool keypad_ = false;
  bool changed_ = false;
  std::optional<NumberWheel> wheel_;
  std::array<int, 3> rows_{};
  std::string label_ = "0";
  float numCurrent_ = 0;
  int digits_ = 1;
};

// The dates of a breast feeding follow its minutes (left + right): a shorter span grows from the
// start (ending now at the latest), a longer one shrinks to them.
void breastDatesFollowMinutes(NoteEditor& model);

}  // namespace note_editor
