// Wheels a person turns: a finger dragged on a column of a picker or a date picker, and the turns a
// script makes, each held inside the picker's limits and reported once.

#include "platform/ui/picker_view.h"

#include <gtest/gtest.h>

#include "platform/foundation/civil_time.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/render.h"
#include "platform/ui/touch.h"
#include "support/temp_dir.h"
#include "ui_fixture.h"

namespace {

using foundation::Date;
// The fixture's zone is UTC, so wall times there are the moments at offset 0.
using foundation::testing_dates::at;
using ui::Point;

class Wheels : public ui::PickerViewDataSource, public ui::PickerViewDelegate {
 public:
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 2; }
  int numberOfRowsInComponent(ui::PickerView&, int component) override { return component == 0 ? 5 : 10; }
  std::optional<double> widthForComponent(ui::PickerView&, int) override { return 100; }
  std::optional<std::string> titleForRow(ui::PickerView&, int row, int) override { return std::to_string(row); }
  void didSelectRow(ui::PickerView&, int row, int component) override {
    picks.push_back(std::to_string(component) + ":" + std::to_string(row));
  }
  std::vector<std::string> picks;
};

class PickerTest : public ui_testing::UiTest {
 protected:
  PickerTest() : locale_(foundation::Locale("en_US")), zone_(foundation::TimeZone::utc()) {
    root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
    picker = std::make_shared<ui::PickerView>(ui::Rect(0, 100, 320, 216));
    picker->setDataSource(&wheels);
    picker->setDelegate(&wheels);
    picker->reloadAllComponents();
    root->addSubview(picker);
    datePicker = std::make_shared<ui::DatePicker>(ui::Rect(0, 100, 320, 216));
    datePicker->addTarget([this](ui::Control&) { ++changes; }, ui::kControlEventValueChanged);
  }

  std::string text(Date date) const {
    return foundation::DateFormatter::withPattern("yyyy-MM-dd HH:mm:ss").stringFromDate(date);
  }

  foundation::ScopedDefaultLocale locale_;
  foundation::ScopedDefaultTimeZone zone_;
  Wheels wheels;
  std::shared_ptr<ui::View> root;
  std::shared_ptr<ui::PickerView> picker;
  std::shared_ptr<ui::DatePicker> datePicker;
  int changes = 0;
};

TEST_F(PickerTest, AFingerTurnsTheWheelItDragsWithinItsRows) {
  // Two 100-point wheels centred in 320 points: x 60-160 and 160-260; rows 32 high, middle y 208.
  EXPECT_EQ(picker->componentFrame(1), ui::Rect(160, 0, 100, 216));
  ui::TouchInjector touch(*root);
  touch.drag(Point(200, 250), Point(200, 186));  // up two rows on wheel 1
  touch.drag(Point(100, 150), Point(100, 300));  // down five rows on wheel 0: held at row 0
  touch.drag(Point(200, 200), Point(203, 203));  // too short to turn anything
  touch.drag(Point(150, 200), Point(250, 210));  // sideways: not the wheel's
  touch.drag(Point(20, 250), Point(20, 100));    // beside the wheels
  EXPECT_EQ(wheels.picks, (std::vector<std::string>{"1:2", "0:0"}));
  picker->turnComponent(0, 9);
  EXPECT_EQ(picker->selectedRowInComponent(0), 4);
  EXPECT_EQ(wheels.picks.back(), "0:4");
}

TEST_F(PickerTest, EachDateWheelMovesItsOwnPartOfTheDate) {
  struct Case {
    ui::DatePickerMode mode;
    ui::DatePicker::Wheel wheel;
    int rows;
    const char* expected;
  };
  using W = ui::DatePicker::Wheel;
  const Case cases[] = {
      // A 12-hour wheel goes round inside its half of the day; the minutes inside their hour.
      {ui::DatePickerMode::kTime, W::kHour, 3, "2026-01-31 01:15:30"},
      {ui::DatePickerMode::kTime, W::kMinute, -20, "2026-01-31 10:55:30"},
      {ui::DatePickerMode::kTime, W::kAmPm, 5, "2026-01-31 22:15:30"},
      {ui::DatePickerMode::kTime, W::kAmPm, -1, "2026-01-31 10:15:30"},
      // A month with fewer days holds the day at its last.
      {ui::DatePickerMode::kDate, W::kMonth, 1, "2026-02-28 10:15:30"},
      {ui::DatePickerMode::kDate, W::kMonth, -2, "2026-11-30 10:15:30"},
      {ui::DatePickerMode::kDate, W::kDayOfMonth, 1, "2026-01-01 10:15:30"},
      {ui::DatePickerMode::kDate, W::kYear, -3, "2023-01-31 10:15:30"},
      {ui::DatePickerMode::kDateAndTime, W::kDay, 1, "2026-02-01 10:15:30"},
  };
  for (const auto& c : cases) {
    datePicker->setMode(c.mode);
    datePicker->setDate(at(2026, 1, 31, 10, 15, 30));
    const auto wheels = datePicker->wheels();
    const auto it = std::find(wheels.begin(), wheels.end(), c.wheel);
    ASSERT_NE(it, wheels.end()) << c.expected;
    datePicker->turnWheel(static_cast<int>(it - wheels.begin()), c.rows);
    EXPECT_EQ(text(datePicker->date()), c.expected);
  }
  EXPECT_EQ(changes, static_cast<int>(std::size(cases)));
  // The wheels are in the locale's order: month, day, year; in Russian day, month, year, with the
  // month's own name and a 24-hour clock without an AM/PM wheel.
  datePicker->setMode(ui::DatePickerMode::kDate);
  EXPECT_EQ(datePicker->wheels(), (std::vector<W>{W::kMonth, W::kDayOfMonth, W::kYear}));
  datePicker->setLocale(foundation::Locale("ru"));
  EXPECT_EQ(datePicker->wheels(), (std::vector<W>{W::kDayOfMonth, W::kMonth, W::kYear}));
  EXPECT_EQ(datePicker->wheelText(1, 0), "февраль");  // the last case left 1 February
  EXPECT_EQ(datePicker->dateFromText("1 февраля 2026 г."), at(2026, 2, 1, 10, 15, 30));
  datePicker->setMode(ui::DatePickerMode::kTime);
  EXPECT_EQ(datePicker->wheels(), (std::vector<W>{W::kHour, W::kMinute}));
  EXPECT_EQ(datePicker->wheelText(0, 0), "10");
}

TEST_F(PickerTest, ADateWheelIsHeldInsideTheLimitsAndTurnedByADrag) {
  datePicker->setMode(ui::DatePickerMode::kTime);
  datePicker->setDate(at(2026, 12, 7, 10, 15));
  datePicker->setMaximumDate(at(2026, 12, 7, 11, 0));
  root->addSubview(datePicker);
  // The minute wheel: three rows up.
  const ui::Rect minutes = datePicker->wheelFrame(1);
  ui::TouchInjector touch(*root);
  touch.drag(Point(minutes.midX(), 250), Point(minutes.midX(), 250 - 3 * 32));
  EXPECT_EQ(text(datePicker->date()), "2026-12-07 10:18:00");
  EXPECT_EQ(changes, 1);
  // The afternoon would pass the maximum: the picker stops there and still reports the turn.
  datePicker->turnWheel(2, 1);
  EXPECT_EQ(text(datePicker->date()), "2026-12-07 11:00:00");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(datePicker->wheelText(2, 0), "AM");
  EXPECT_EQ(datePicker->wheelText(2, 1), "PM");
  EXPECT_EQ(datePicker->wheelText(2, 2), "");
}

TEST_F(PickerTest, ADateOrATimeIsReadAsAScreenWritesIt) {
  datePicker->setDate(at(2026, 12, 7, 10, 15, 30));
  struct Case {
    const char* typed;
    const char* expected;  // empty: no date
  };
  const Case cases[] = {
      {"9:05 PM", "2026-12-07 21:05:30"},  // a time keeps the day (typed with a plain space)
      {"December 1, 2026", "2026-12-01 10:15:30"},  // a date keeps the time
      {"Nov 30, 2026, 7:45 AM", "2026-11-30 07:45:30"},
      {"Dec 2, 2026  4:19 PM", "2026-12-02 16:19:30"},  // an editor row's own pattern
      {"Dec 2, 2026 December 3", ""},
      {"the day after", ""},
      {"25:00", ""},
  };
  for (const auto& c : cases) {
    auto read = datePicker->dateFromText(c.typed);
    EXPECT_EQ(read ? text(*read) : std::string(), c.expected) << c.typed;
  }
  // The picker's own text reads back to its date.
  datePicker->setMode(ui::DatePickerMode::kTime);
  EXPECT_EQ(text(*datePicker->dateFromText(datePicker->shownText())), "2026-12-07 10:15:30");
}

TEST_F(PickerTest, TheWheelsShowTheirNeighboursAroundTheSelectionBand) {
  datePicker->setMode(ui::DatePickerMode::kTime);
  datePicker->setDate(at(2026, 12, 7, 10, 15));
  datePicker->setFrame(ui::Rect(0, 0, 320, 216));
  graphics::RecordingCanvas canvas;
  ui::renderView(*datePicker, canvas);
  std::vector<std::string> middle;
  for (const auto& text : canvas.texts())
    if (text.font.pointSize() == 21) middle.push_back(text.text);
  EXPECT_EQ(middle, (std::vector<std::string>{"10", "15", "AM"}));
  // Neighbours: 9 and 11 around the hour; the AM/PM wheel shows PM below and nothing above.
  std::vector<std::string> shown;
  for (const auto& text : canvas.texts()) shown.push_back(text.text);
  EXPECT_NE(std::find(shown.begin(), shown.end(), "9"), shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), "11"), shown.end());
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "PM"), 1);
  // The band: two hairlines 32 points apart around the middle row.
  const auto lines = canvas.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].from.y, 108 - 16);
  EXPECT_EQ(lines[1].from.y, 108 + 16);
  EXPECT_EQ(lines[0].width, 0.5);
  ASSERT_TRUE(ui::renderToPng(*datePicker, testing_support::testOutput() / "date_picker_wheels.png", 2).ok());
  picker->setFrame(ui::Rect(0, 0, 320, 216));
  ASSERT_TRUE(ui::renderToPng(*picker, testing_support::testOutput() / "picker_wheels.png", 2).ok());
}

// A picker holds its data source and delegate weakly: once they have ended (the screen that owned
// them gone while its view is still drawn) it has no wheels, draws none and reports no turn.
TEST_F(PickerTest, APickerWhoseSourceHasEndedShowsNoWheels) {
  auto owner = std::make_unique<Wheels>();
  auto shown = std::make_shared<ui::PickerView>(ui::Rect(0, 0, 320, 216));
  shown->setDataSource(owner.get());
  shown->setDelegate(owner.get());
  shown->reloadAllComponents();
  // A copy is a data source of its own, which the picker does not follow.
  Wheels copy = *owner;
  ASSERT_EQ(shown->numberOfComponents(), 2);
  owner.reset();
  EXPECT_EQ(shown->dataSource(), nullptr);
  EXPECT_EQ(shown->delegate(), nullptr);
  EXPECT_EQ(shown->numberOfComponents(), 0);
  EXPECT_EQ(shown->selectedRowInComponent(0), -1);
  EXPECT_EQ(shown->titleForRow(1, 0), "");
  shown->spinToRow(2, 0);
  graphics::RecordingCanvas canvas;
  ui::renderView(*shown, canvas);
  EXPECT_TRUE(canvas.texts().empty());
  EXPECT_TRUE(copy.picks.empty());
}

}  // namespace
