// The number entry: every unit's wheel reads back what it preselects, stored values past a wheel
// survive Done, the keypad types under a comma-decimal locale, and date changes keep breast
// minutes within their dates.

#include "note_editor/value_entry.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>

#include "program/diary_console.h"
#include "note_editor/date_changes.h"
#include "note_editor/editor_fixture.h"
#include "note_editor/value_panel.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/alert.h"
#include "platform/ui/device.h"
#include "platform/ui/touch.h"

namespace editor_test {
namespace {

using note_editor::keypadKeyAt;
using note_editor::keypadText;
using note_editor::NumberEntry;
using note_editor::NumberWheel;

std::string identity(std::string_view key) { return std::string(key); }

std::array<int, 3> rowsOf(const std::array<std::optional<int>, 3>& rows) {
  return {rows[0].value_or(-1), rows[1].value_or(-1), rows[2].value_or(-1)};
}

TEST(NumberWheelTest, EveryUnitReadsBackItsEndsAndOneInsideValue) {
  struct Case {
    const char* type;
    const char* unit;
    int components, rows0, rows1;
    float value;
    std::array<int, 3> rows;
  };
  const Case cases[] = {
      {"Breast Feeding", "", 1, 61, 0, 0, {0, -1, -1}},
      {"Breast Feeding", "", 1, 61, 0, 59, {59, -1, -1}},
      {"Breast Feeding", "", 1, 61, 0, 60, {60, -1, -1}},
      {"Weight", "Notation_kg", 3, 101, 10, 3.45f, {3, 4, 5}},
      {"Weight", "Notation_kg", 3, 101, 10, 2.3f, {2, 3, 0}},
      {"Weight", "Notation_kg", 3, 101, 10, 99.99f, {99, 9, 9}},
      {"Weight", "Notation_kg", 3, 101, 10, 100, {100, 0, 0}},
      {"Weight", "Notation_lbs", 3, 201, 10, 199.99f, {199, 9, 9}},
      {"Weight", "Notation_lbs_oz", 2, 201, 16, 7.5f, {7, 8, -1}},
      {"Weight", "Notation_lbs_oz", 2, 201, 16, 199.9375f, {199, 15, -1}},
      {"Height", "Notation_cm", 2, 201, 10, 199.9f, {199, 9, -1}},
      {"Height", "Notation_inch", 3, 101, 10, 0, {0, 0, 0}},
      {"Height", "Notation_ft_inch", 3, 11, 12, 30.5f, {2, 6, 5}},
      {"Height", "Notation_ft_inch", 3, 11, 12, 119.9f, {9, 11, 9}},
      {"Head Size", "Notation_cm", 2, 101, 10, 35.2f, {35, 2, -1}},
      {"Temperature", "Notation_celsius", 2, 101, 10, 36.6f, {36, 6, -1}},
      {"Temperature", "Notation_fahrenheit", 2, 201, 10, 199.9f, {199, 9, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.unit + " " + std::to_string(c.value));
    const NumberWheel wheel(c.type, std::string(c.unit), identity);
    EXPECT_EQ(wheel.numberOfComponents(), c.components);
    EXPECT_EQ(wheel.numberOfRows(0), c.rows0);
    if (c.components > 1) {
      EXPECT_EQ(wheel.numberOfRows(1), c.rows1);
    }
    const auto rows = rowsOf(wheel.preselection(c.value));
    EXPECT_EQ(rows, c.rows);
    std::array<int, 3> chosen{};
    for (size_t i = 0; i < 3; ++i) chosen[i] = std::max(rows[i], 0);
    EXPECT_EQ(wheel.valueOfRows(chosen), c.value);
  }
}

TEST(NumberWheelTest, EveryHundredthUpTo99_99ReadsBackAsItself) {
  const NumberWheel wheel(std::string("Weight"), std::string("Notation_kg"), identity);
  for (int hundredths = 0; hundredths <= 9999; ++hundredths) {
    const auto value = static_cast<float>(hundredths / 100.0);
    const auto rows = wheel.preselection(value);
    ASSERT_TRUE(rows[0] && rows[1] && rows[2]) << value;
    ASSERT_EQ(wheel.valueOfRows({*rows[0], *rows[1], *rows[2]}), value) << hundredths;
  }
}

TEST(NumberWheelTest, TextsAndWidths) {
  const NumberWheel feet(std::string("Height"), std::string("Notation_ft_inch"), identity);
  EXPECT_EQ(feet.rowText(2, 0), "2 Notation_ft");
  EXPECT_EQ(feet.rowText(6, 1), "6 Notation_inch");
  EXPECT_EQ(feet.rowText(5, 2), " .5");
  EXPECT_EQ(feet.widthForComponent(2, 320, "es"), 50);
  EXPECT_EQ(feet.widthForComponent(0, 320, "en"), 70);
  const NumberWheel kg(std::string("Weight"), std::string("Notation_kg"), identity);
  EXPECT_EQ(kg.rowText(4, 1), " .4");
  EXPECT_EQ(kg.rowText(5, 2), "5");
  EXPECT_EQ(kg.widthForComponent(1, 320, std::nullopt), 70);
  const NumberWheel minutes(std::string("Breast Feeding"), std::nullopt, identity);
  EXPECT_EQ(minutes.widthForComponent(0, 320, std::nullopt), 280);
  EXPECT_EQ(minutes.rowText(60, 0), "60");
  EXPECT_EQ(minutes.rowText(61, 0), "");
}

TEST(KeypadTest, TextRulesAndHitTest) {
  auto type = [](std::string text, std::initializer_list<int> keys, int digits) {
    for (int key : keys) text = keypadText(text, key, digits);
    return text;
  };
  EXPECT_EQ(type("0", {0, 1, 9, 4, 4}, 1), "12.5");
  EXPECT_EQ(type("12.5", {11, 11, 11}, 1), "1");
  EXPECT_EQ(type("1", {11}, 1), "0");
  EXPECT_EQ(type("0", {10, 10, 9, 9, 10}, 2), "0.0");
  EXPECT_EQ(type("0", {0, 1, 2, 3, 4, 5, 6, 7, 8, 0}, 1), "123456789");
  EXPECT_EQ(type("7", {12, -1}, 1), "7");

  struct Hit {
    double x, y;
    std::optional<int> key;
  };
  for (const Hit& h :
       {Hit{10, 50, 0}, Hit{310, 260, 11}, Hit{160, 30, std::nullopt}, Hit{-1, 100, std::nullopt},
        Hit{320.0 / 3, 99, 0}, Hit{320.0 / 3 + 0.01, 99.01, 4}, Hit{500, 50, 2}}) {
    EXPECT_EQ(keypadKeyAt(320, 264, h.x, h.y), h.key) << h.x << "," << h.y;
  }

  // The drawn keys are listed by what they show, each where a touch reaches it.
  note_editor::noteEditPickerPanelView keypad;
  keypad.setFrame(ui::Rect(0, 0, 320, 308));
  std::string shown;
  const auto keys = keypad.accessibilityElements();
  ASSERT_EQ(keys.size(), 12u);
  for (size_t i = 0; i < keys.size(); ++i) {
    shown += keys[i].label;
    EXPECT_EQ(keypadKeyAt(320, 308, keys[i].frame.midX(), keys[i].frame.midY()), static_cast<int>(i));
  }
  EXPECT_EQ(shown, "123456789.0<");
}

TEST(PickerOverlayTest, StyleThreeFollowsTheDevice) {
  struct Case {
    ui::DeviceProfile device;
    std::vector<double> separators;
  };
  for (const Case& c :
       {Case{ui::DeviceProfile::phone568(), {130, 200}}, Case{ui::DeviceProfile::pad(), {230, 310}}}) {
    ui::ScopedDevice device(c.device);
    note_editor::customPickerView overlay(ui::Rect(0, 0, 400, 216));
    overlay.pickerStyle = 3;
    overlay.cutTopAndBottom = false;
    graphics::RecordingCanvas canvas;
    overlay.drawRect(canvas, overlay.bounds());
    std::vector<double> vertical;
    for (const auto& line : canvas.lines())
      if (line.from.x == line.to.x) vertical.push_back(line.from.x);
    EXPECT_EQ(vertical, c.separators);
  }
}

// Decimal comma for C++ streams and, where the system has it, for the C library.
class CommaLocale {
 public:
  CommaLocale() : previous_(std::locale::global(std::locale(std::locale::classic(), new Comma))) {
    const char* c = std::setlocale(LC_NUMERIC, nullptr);
    cPrevious_ = c ? c : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  }
  ~CommaLocale() {
    std::locale::global(previous_);
    std::setlocale(LC_NUMERIC, cPrevious_.c_str());
  }

 private:
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  std::locale previous_;
  std::string cPrevious_;
};

class ValueEntryTest : public EditorTest {};

TEST_F(ValueEntryTest, KeypadTouchesUnderACommaLocaleAndZero) {
  CommaLocale german;
  auto editor = model("Drink");
  editor->note_numVal = 40;
  NumberEntry entry;
  entry.open(*editor);
  ASSERT_TRUE(entry.usesKeypad());
  EXPECT_EQ(entry.keypadLabelText(), "40");
  // "<", "<", "1", "2", ".", "5", "5" as touches on a 320 × 264 keypad.
  for (auto [x, y] : {std::pair{310.0, 260.0},
                      {310.0, 260.0},
                      {10.0, 50.0},
                      {160.0, 50.0},
                      {10.0, 260.0},
                      {160.0, 150.0},
                      {160.0, 150.0}}) {
    entry.key(*keypadKeyAt(320, 264, x, y));
  }
  EXPECT_EQ(entry.keypadLabelText(), "12.5");
  entry.done(*editor);
  EXPECT_EQ(editor->note_numVal, 12.5);

  entry.open(*editor);
  entry.key(11), entry.key(11), entry.key(11), entry.key(11);
  entry.done(*editor);
  EXPECT_EQ(editor->note_numVal, 0.0);  // a typed zero is a value

  editor->note_numVal = 12.55;
  entry.open(*editor);
  entry.done(*editor);  // no key: the stored value stays, not the label's rounding
  EXPECT_EQ(editor->note_numVal, static_cast<double>(12.55f));
}

TEST_F(ValueEntryTest, AStoredValuePastTheWheelSurvivesDone) {
  auto editor = model("Breast Feeding");
  editor->note_DateStart = clock_.now() - 7200;
  editor->note_DateStop = clock_.now() - 2700;  // 75 minutes
  editor->timerCount = 75;
  editor->timerCountTmp = 0;
  NumberEntry entry;
  entry.open(*editor);
  EXPECT_FALSE(entry.wheel()->preselection(75)[0]);
  entry.done(*editor);
  EXPECT_EQ(editor->timerCount, 75);
  EXPECT_EQ(*editor->note_DateStop - *editor->note_DateStart, 4500);

  entry.open(*editor);
  entry.selectRow(30, 0);
  entry.done(*editor);
  EXPECT_EQ(editor->timerCount, 30);
}

TEST_F(ValueEntryTest, BreastMinutesMoveTheDates) {
  auto editor = model("Breast Feeding");
  const Date ten = clock_.now() - 3600;
  editor->note_DateStart = ten;
  editor->note_DateStop = ten + 1200;
  editor->timerCount2 = 5;
  editor->timerCountTmp = 0;
  NumberEntry entry;
  entry.open(*editor);
  entry.selectRow(30, 0);
  entry.done(*editor);
  EXPECT_EQ(*editor->note_DateStop, ten + 35 * 60);

  // The end would be in the future: it ends now.
  editor->note_DateStart = clock_.now() - 600;
  editor->note_DateStop = clock_.now();
  entry.open(*editor);
  entry.selectRow(30, 0);
  entry.done(*editor);
  EXPECT_EQ(*editor->note_DateStop, clock_.now());
  EXPECT_EQ(*editor->note_DateStart, clock_.now() - 35 * 60);
}

TEST_F(ValueEntryTest, StopDateChangesReconcileBreastSides) {
  struct Case {
    std::int64_t left, right, span, leftAfter, rightAfter, startBeforeStop;
  };
  for (const Case& c : {Case{30, 10, 20 * 60, 20, 0, 20 * 60}, Case{30, 2, 20 * 60, 20, 0, 20 * 60},
                        Case{5, 5, 60 * 60, 5, 5, 60 * 60}}) {
    auto editor = model("Breast Feeding");
    const Date start = clock_.now() - 7200;
    editor->note_DateStart = start;
    editor->note_DateStop = start + 40 * 60;
    editor->timerCount = c.left;
    editor->timerCount2 = c.right;
    editor->pickerViewType = 2;
    EXPECT_FALSE(note_editor::pickedDateDone(*editor, start + static_cast<double>(c.span)));
    EXPECT_EQ(editor->timerCount, c.leftAfter);
    EXPECT_EQ(editor->timerCount2, c.rightAfter);
    EXPECT_EQ(*editor->note_DateStop - *editor->note_DateStart, static_cast<double>(c.startBeforeStop));
  }
}

TEST_F(ValueEntryTest, DayWindowAcrossAClockChange) {
  auto editor = model("Breast Feeding");
  editor->note_DateStart = clock_.now() - 3600;
  editor->note_DateStop = clock_.now();
  // The clock is set back an hour and more: a stop before the start pulls the start to it.
  editor->pickerViewType = 2;
  note_editor::pickedDateDone(*editor, clock_.now() - 5400);
  EXPECT_EQ(editor->note_DateStart, editor->note_DateStop);
  // Set forward a day: the start follows to 24 hours before the stop.
  editor->pickerViewType = 2;
  note_editor::pickedDateDone(*editor, clock_.now() + 90000);
  EXPECT_EQ(*editor->note_DateStop - *editor->note_DateStart, 86400);

  // Any other note keeps a stop before its start, and its save refuses it.
  auto sleep = model("Sleep");
  sleep->note_DateStart = clock_.now() - 600;
  sleep->pickerViewType = 2;
  note_editor::pickedDateDone(*sleep, clock_.now() - 1200);
  EXPECT_LT(*sleep->note_DateStop, *sleep->note_DateStart);
}

TEST_F(ValueEntryTest, AddedDurationOnALiveBreastTimer) {
  struct Case {
    double ago;
    int side;
    std::int64_t left, right;
  };
  for (const Case& c : {Case{600, 0, 600, 0}, Case{301, 2, 150, 150}, Case{30 * 3600, 1, 0, 86400},
                        Case{-600, 0, 0, 0}, Case{600, -1, 0, 0}}) {
    auto editor = model("Breast Feeding");
    ASSERT_TRUE(editor->dateTimerON);
    const auto start = editor->note_DateStart;
    editor->pickerViewType = 1;
    EXPECT_TRUE(note_editor::pickedDateDone(*editor, clock_.now() - c.ago));
    note_editor::changeBreastFeedStartDate(*editor, c.side);
    EXPECT_EQ(editor->timerCount, c.left) << c.ago;
    EXPECT_EQ(editor->timerCount2, c.right) << c.ago;
    if (c.side < 0) {
      EXPECT_EQ(editor->note_DateStart, start);
    }
  }
}

TEST_F(ValueEntryTest, StopwatchStartPickedBeforeItRuns) {
  auto editor = model("Sleep");
  ASSERT_TRUE(editor->dateTimerON);
  editor->pickerViewType = 1;
  EXPECT_FALSE(note_editor::pickedDateDone(*editor, clock_.now() - 2400));
  EXPECT_EQ(editor->timerCount, 2400);
  EXPECT_EQ(editor->timeStr, "00:40:00");
}

}  // namespace
}  // namespace editor_test

namespace editor_test {
namespace {

// Taps the rows of a section until the panel opens in `type`.
bool tapUntilPanel(note_editor::noteEditController& editor, int section, std::int64_t type) {
  editor.noteEditTable().reloadData();
  for (int row = 0; row < editor.model().numberOfRowsInSection(section); ++row) {
    editor.noteEditTable().tapRowAtIndexPath({section, row});
    if (editor.model().pickerViewType == type) return true;
  }
  return false;
}

TEST_F(ValueEntryTest, ScreenWheelAndAddedDurationSheet) {
  auto weight = open("Weight", {}, [](note_editor::noteEditController& e) { e.model().note_numVal = 3.45; });
  weight->model().note_numMeasureCurrent = "Notation_kg";
  weight->model().note_numVal = 3.45;
  ASSERT_TRUE(tapUntilPanel(*weight, 1, 3));
  auto& panel = weight->valuePanel();
  ASSERT_TRUE(panel.inputPicker());
  EXPECT_EQ(panel.inputPicker()->selectedRowInComponent(1), 4);
  panel.inputPicker()->spinToRow(0, 2);
  panel.doneButton().tap();
  EXPECT_EQ(weight->model().note_numVal, static_cast<double>(3.4f));

  auto breast = open("Breast Feeding");
  ASSERT_TRUE(breast->model().dateTimerON);
  ASSERT_TRUE(tapUntilPanel(*breast, 0, 1));
  breast->valuePanel().datePicker().setDate(clock_.now() - 600);
  breast->valuePanel().doneButton().tap();
  auto sheet = ui::topActionSheet();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->buttonTitleAtIndex(2), breast->model().localized("Both Breast") + "(50/50)");
  sheet->tapButton(0);
  EXPECT_EQ(breast->model().timerCount, 600);

  // The keypad view under a comma locale: touches "1", "0", ".", "5" after clearing the label.
  CommaLocale german;
  auto drink = open("Drink");
  ASSERT_TRUE(tapUntilPanel(*drink, 1, 3));
  auto& keypad = drink->valuePanel().keypad();
  ui::TouchInjector finger(*window_);
  const double w = keypad.bounds().size.width, h = keypad.bounds().size.height;
  auto touch = [&](double x, double y) { finger.tap(keypad.convertPointToView(ui::Point(x, y), nullptr)); };
  for (int i = 0; i < 4; ++i) touch(w - 10, h - 4);                         // "<"
  touch(10, 50), touch(w / 2, h - 4), touch(10, h - 4), touch(w / 2, 150);  // "1", "0", ".", "5"
  touch(w / 2, 30);                                                         // the top band: nothing
  EXPECT_EQ(drink->valuePanel().numLabel().text(), "10.5");
  // And by what the keys show, as a person names them to the console.
  testing_support::TempDir screens;
  program::DiaryConsole console(clock_, loop_, screens.path(), 1);
  EXPECT_NE(console.execute("look").message.find("\"<\""), std::string::npos);
  for (const char* key : {"<", "<", "<", "<", "\"7\"", "\"0\"", "."})
    EXPECT_TRUE(console.execute(std::string("tap ") + key).ok) << key;
  EXPECT_EQ(drink->valuePanel().numLabel().text(), "70.");
  drink->valuePanel().doneButton().tap();
  EXPECT_EQ(drink->model().note_numVal, 70);
}

}  // namespace
}  // namespace editor_test
