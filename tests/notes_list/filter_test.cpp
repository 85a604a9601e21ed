#include <gtest/gtest.h>

#include <thread>

#include "notes_list/date_picker_cell.h"
#include "notes_list/filter_cells.h"
#include "notes_list/filter_view_controller.h"
#include "navigation/screen_fit.h"
#include "notes_list/list_fixture.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/render.h"

namespace {

using foundation::Date;
using notes_list::FilterModel;
using notes_list::filterViewController;

foundation::Calendar utc() {
  return foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("UTC").value());
}

Date day(int year, int month, int dayOfMonth, int hour = 0) {
  foundation::DateComponents parts;
  parts.year = year;
  parts.month = month;
  parts.day = dayOfMonth;
  parts.hour = hour;
  return utc().dateFromComponents(parts).value();
}

struct Recorder : note_editor::noteViewDelegate {
  void noteViewChildDone(ui::ViewController&, bool changed) override { done.push_back(changed); }
  void noteEditWasClosedAndSaved(ui::ViewController&, bool) override {}
  void noteViewChildFilter(ui::ViewController& child) override {
    applied = dynamic_cast<filterViewController*>(&child)->result();
  }
  std::vector<bool> done;
  std::optional<notes_list::FilterResult> applied;
};

class FilterTest : public list_test::ListTest {
 protected:
  std::shared_ptr<filterViewController> open(
      bool listMode, std::function<app::InterfaceText()> language = list_test::english) {
    filterViewController::Services services;
    services.neh = neh(language);
    services.clock = &clock_;
    services.language = language;
    services.calendar = utc();
    auto screen = std::make_shared<filterViewController>(std::move(services));
    if (listMode) screen->setNoteView_delegate(&recorder_);
    screen->setAllStuffWithMail(!listMode);
    screen->setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(std::nullopt, std::nullopt, false,
                                                                           std::nullopt, std::nullopt);
    window_ = std::make_shared<ui::Window>(graphics::Rect(0, 0, 320, 568));
    window_->setRootViewController(std::make_shared<ui::NavigationController>(screen));
    window_->makeKeyAndVisible();
    screen->filterTable()->setFrame(graphics::Rect(0, 0, 320, 3000));  // every row on screen
    screen->filterTable()->layoutIfNeeded();
    runLoop();
    return screen;
  }

  ~FilterTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
  }

  template <class Cell>
  Cell& cell(filterViewController& screen, int section, int row) {
    auto* found = dynamic_cast<Cell*>(screen.filterTable()->cellForRowAtIndexPath({section, row}));
    EXPECT_NE(found, nullptr) << section << "/" << row;
    return *found;
  }

  Recorder recorder_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(FilterTest, DefaultPeriodIsAMonthBackRolledOverTheCalendarsWay) {
  const struct {
    Date now, begin, end;
  } cases[] = {
      {day(2026, 3, 31, 15), day(2026, 3, 3), day(2026, 3, 31)},    // 31 February rolls into March
      {day(2024, 3, 31, 9), day(2024, 3, 2), day(2024, 3, 31)},     // leap year
      {day(2027, 1, 15, 23), day(2026, 12, 15), day(2027, 1, 15)},  // January goes back a year
  };
  for (const auto& c : cases) {
    FilterModel model;
    model.configure(neh(), c.now, utc());
    EXPECT_EQ(model.beginDate(), c.begin);
    EXPECT_EQ(model.endDate(), c.end);
  }
}

TEST_F(FilterTest, RestoringMendsWhatTheStoreNoLongerHas) {
  FilterModel model;
  model.configure(neh(), clock_.now(), utc());
  ASSERT_EQ(model.noteTypeWithSubArray().front(), "WC");
  const std::optional<std::vector<std::string>> food{{"Food"}};
  // Sub-values sort by the value of their digits; one the type lost is dropped.
  model.restore(food, std::vector<std::string>{"Meat", "Gone"}, true, day(2026, 12, 1), day(2026, 12, 5));
  std::vector<std::string> types, subs;
  EXPECT_TRUE(model.getSelectedTypesAndSubTypes(types, subs));
  EXPECT_EQ(types, std::vector<std::string>{"Food"});
  EXPECT_EQ(subs, std::vector<std::string>{"Meat"});
  // Without a type list the flag still holds: the picked type and its ticks stay.
  model.restore(std::nullopt, std::nullopt, true, std::nullopt, std::nullopt);
  types.clear();
  subs.clear();
  EXPECT_TRUE(model.getSelectedTypesAndSubTypes(types, subs));
  EXPECT_EQ(types, std::vector<std::string>{"Food"});
  EXPECT_EQ(subs, std::vector<std::string>{"Meat"});
  // On a fresh filter that is the first type with sub-values, none of them ticked.
  FilterModel fresh;
  fresh.configure(neh(), clock_.now(), utc());
  fresh.restore(std::nullopt, std::nullopt, true, std::nullopt, std::nullopt);
  types.clear();
  subs.clear();
  EXPECT_TRUE(fresh.getSelectedTypesAndSubTypes(types, subs));
  EXPECT_EQ(types, std::vector<std::string>{"WC"});
  EXPECT_TRUE(subs.empty());

  // "Food" loses every sub-value: the detailed result falls back to the basic filter with it.
  for (const auto& value : neh().getValueType("Food").valueTypeToStrValue())
    context_->deleteObject(value.object());
  ASSERT_TRUE(context_->save().ok());
  FilterModel after;
  after.configure(neh(), clock_.now(), utc());
  after.restore(food, std::vector<std::string>{"Meat"}, true, std::nullopt, std::nullopt);
  types.clear();
  subs.clear();
  EXPECT_FALSE(after.getSelectedTypesAndSubTypes(types, subs));
  EXPECT_EQ(types, std::vector<std::string>{"Food"});
  EXPECT_TRUE(subs.empty());

  // Without any sub-values the detailed filter cannot be chosen at all.
  app::NoteEditHelper::Environment bare;
  bare.library = temp_.path() / "Library";
  FilterModel none;
  none.configure(app::NoteEditHelper(bare), clock_.now(), utc());
  EXPECT_FALSE(none.canUseDetailed());
  EXPECT_FALSE(none.chooseDetailed(true));
  none.restore(food, std::vector<std::string>{"Meat"}, true, std::nullopt, std::nullopt);
  EXPECT_FALSE(none.isDetailed());
  EXPECT_EQ(none.result().types, std::vector<std::string>{"Food"});
}

TEST_F(FilterTest, ListModeTicksSwitchesAndApplies) {
  auto screen = open(true);
  auto& table = *screen->filterTable();
  ASSERT_EQ(table.numberOfSections(), 4);
  EXPECT_EQ(table.numberOfRowsInSection(3), 24);
  EXPECT_EQ(screen->title(), "Filter");
  ASSERT_NE(screen->navigationItem().rightBarButtonItem(), nullptr);

  // "Apply" at once hands every type and the default period.
  screen->navigationItem().rightBarButtonItem()->tap();
  ASSERT_TRUE(recorder_.applied);
  EXPECT_EQ(recorder_.applied->types.size(), 24u);
  EXPECT_EQ(recorder_.applied->beginDate, day(2026, 11, 20));
  EXPECT_EQ(recorder_.applied->endDate, day(2026, 12, 20));

  // "Unselect all", then tick the second type by a tap on its row.
  cell<notes_list::filterSelectTypeCell>(*screen, 2, 0).deselectButton->tap();
  ASSERT_TRUE(table.tapRowAtIndexPath({3, 1}));
  ASSERT_TRUE(table.tapRowAtIndexPath({2, 0}));  // the select-all row itself ticks nothing
  EXPECT_EQ(screen->result().types, std::vector<std::string>{"Sleep"});
  EXPECT_EQ(cell<notes_list::filterGroupCell>(*screen, 3, 1).imgOn->alpha(), 1);

  // The detailed filter picks the first type with sub-values, all ticked; a picker spin moves on.
  cell<notes_list::filterSegmentCell>(*screen, 1, 0).filterSegment->tapSegment(1);
  ASSERT_EQ(table.numberOfSections(), 5);
  EXPECT_EQ(screen->result().types, std::vector<std::string>{"WC"});
  EXPECT_EQ(screen->result().subTypes, (std::vector<std::string>{"Dry", "Poopy", "Wet"}));
  auto& picker = *cell<notes_list::filterPickerCell>(*screen, 2, 0).filterPicker;
  picker.spinToRow(1, 0);
  EXPECT_EQ(screen->result().types, std::vector<std::string>{"Food"});
  EXPECT_EQ(screen->result().subTypes.size(), 5u);

  // Back to basic: every type ticked again. "Cancel" reports no change.
  cell<notes_list::filterSegmentCell>(*screen, 1, 0).filterSegment->tapSegment(0);
  EXPECT_EQ(screen->result().types.size(), 24u);
  screen->navigationItem().leftBarButtonItem()->tap();
  EXPECT_EQ(recorder_.done, std::vector<bool>{false});
  EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "filter_list_mode.png", 2).ok());
}

TEST_F(FilterTest, InlinePickerMovesBetweenTheDatesAndSetsThem) {
  auto screen = open(true);
  auto& table = *screen->filterTable();
  ASSERT_TRUE(table.tapRowAtIndexPath({0, 0}));  // under "Begin"
  EXPECT_EQ(screen->datePickerIndexPath(), 1);
  ASSERT_TRUE(table.tapRowAtIndexPath({0, 2}));  // "End" moves it under "End"
  EXPECT_EQ(screen->datePickerIndexPath(), 2);
  EXPECT_EQ(cell<notes_list::filterDateCell>(*screen, 0, 1).dateIDLable->text(), "End");
  auto& pickerCell = cell<notes_list::datePickerCell>(*screen, 0, 2);
  EXPECT_EQ(pickerCell.datePicker->date(), day(2026, 12, 20));
  // A date before the begin date is taken as it is.
  pickerCell.datePicker->spinToDate(day(2026, 1, 2));
  EXPECT_EQ(screen->getEndDate(), day(2026, 1, 2));
  EXPECT_EQ(cell<notes_list::filterDateCell>(*screen, 0, 1).dateLable->text(), "January 2, 2026");
  ASSERT_TRUE(table.tapRowAtIndexPath({0, 1}));  // "End" again closes it
  EXPECT_EQ(screen->datePickerIndexPath(), std::nullopt);
  EXPECT_EQ(table.numberOfRowsInSection(0), 2);
}

TEST_F(FilterTest, DatesReadInTheInterfaceLanguage) {
  foundation::ScopedDefaultLocale host(foundation::Locale::posix());
  auto screen = open(true, [] { return app::InterfaceText("ru", {}); });
  EXPECT_EQ(cell<notes_list::filterDateCell>(*screen, 0, 1).dateLable->text(), "20 декабря 2026\u202fг.");
  // The inline wheel turns through Russian months too.
  ASSERT_TRUE(screen->filterTable()->tapRowAtIndexPath({0, 0}));
  EXPECT_EQ(cell<notes_list::datePickerCell>(*screen, 0, 1).datePicker->locale().languageCode(), "ru");
}

TEST_F(FilterTest, ReportModeOptionsAreReadFromAnotherThread) {
  auto screen = open(false);
  auto& table = *screen->filterTable();
  ASSERT_EQ(table.numberOfSections(), 5);
  EXPECT_EQ(screen->navigationItem().rightBarButtonItem(), nullptr);
  EXPECT_EQ(screen->photosType(), notes_list::FilterPhotos::kSmall);
  cell<notes_list::filterSwitchCell>(*screen, 1, 0).mainSwitch->toggle();
  cell<notes_list::filterSwitchCell>(*screen, 1, 1).mainSwitch->toggle();
  cell<notes_list::filterColorTypeCell>(*screen, 1, 2).typeSegment->tapSegment(0);
  cell<notes_list::filterPhotoCell>(*screen, 1, 3).photoSegment->tapSegment(2);

  notes_list::FilterResult read;
  std::thread report([&] { read = screen->result(); });
  for (int i = 0; i < 50; ++i) screen->selectButtonClicked();
  report.join();
  EXPECT_FALSE(read.useTime);
  EXPECT_FALSE(read.descending);
  EXPECT_TRUE(read.forPrinting);
  EXPECT_EQ(read.photos, notes_list::FilterPhotos::kBig);
  EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "filter_report_mode.png", 2).ok());
}

}  // namespace

namespace {

TEST(FilterCells, HairlinesFollowThePlaceInTheSection) {
  ui::clearAnimationLog();
  struct Case {
    std::shared_ptr<notes_list::filterPlacedCell> cell;
    bool first, last;
    double height;
    std::vector<std::pair<graphics::Point, graphics::Point>> lines;
  };
  Case cases[] = {
      {std::make_shared<notes_list::filterDateCell>(),
       true,
       true,
       44,
       {{{0, 0.5}, {320, 0.5}}, {{0, 44}, {320, 44}}}},
      {std::make_shared<notes_list::filterSwitchCell>(), false, false, 44, {{{10, 44}, {320, 44}}}},
      {std::make_shared<notes_list::filterGroupCell>(),
       false,
       true,
       50,
       {{{0, 44}, {320, 44}}, {{0, 50}, {320, 50}}}},
  };
  for (auto& c : cases) {
    c.cell->setFrame(graphics::Rect(0, 0, 320, c.height));
    c.cell->firstInSection = c.first;
    c.cell->lastInSection = c.last;
    graphics::RecordingCanvas canvas(graphics::Size(320, 50));
    c.cell->drawRect(canvas, c.cell->bounds());
    std::vector<std::pair<graphics::Point, graphics::Point>> drawn;
    for (const auto& line : canvas.lines()) drawn.emplace_back(line.from, line.to);
    EXPECT_EQ(drawn, c.lines) << c.cell->reuseIdentifier();
  }
  graphics::RecordingCanvas segment(graphics::Size(320, 44));
  notes_list::filterSegmentCell().drawRect(segment, graphics::Rect(0, 0, 320, 44));
  EXPECT_TRUE(segment.ops().empty());

  // A tick set without animation still fades over 0.2 seconds.
  notes_list::filterGroupCell group;
  group.setSelectionTypeWithAnima(true, false);
  ASSERT_EQ(ui::animationLog().size(), 1u);
  EXPECT_DOUBLE_EQ(ui::animationLog()[0].duration, 0.2);
  EXPECT_EQ(group.imgOn->alpha(), 1);
  EXPECT_EQ(group.imgOff->alpha(), 0);
}

TEST(FilterCells, TabletDatePickerIsReplacedKeepingItsWiring) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  ui::TableView table;
  int changes = 0;
  notes_list::registerFilterCells(table, [&changes](ui::Control&) { ++changes; });
  auto cell = std::dynamic_pointer_cast<notes_list::datePickerCell>(
      table.dequeueReusableCellWithIdentifier(notes_list::datePickerCell::kIdentifier));
  ASSERT_NE(cell, nullptr);
  auto* picker = dynamic_cast<ui::DatePicker*>(cell->viewWithTag(99));
  ASSERT_EQ(picker, cell->datePicker.get());
  EXPECT_EQ(picker->frame().height(), 162);
  EXPECT_EQ(picker->mode(), ui::DatePickerMode::kDate);
  picker->spinToDate(foundation::Date{1000});
  EXPECT_EQ(changes, 1);
}

}  // namespace

// The report options in the longest languages, on the smallest phone and on the tablet's form
// sheet, as the real fonts draw them: every text whole (no segment title shrunk below its size) and
// every control on the screen; the inline wheel keeps to its own row, clear of "End" below it.
TEST_F(FilterTest, ReportOptionsAreWholeInEveryLanguageAndTheWheelKeepsToItsRow) {
  graphics::ScopedTextMeasurer realFonts(std::make_shared<graphics::PangoTextMeasurer>());
  const struct {
    const char* name;
    ui::DeviceProfile device;
    graphics::Rect window;
  } devices[] = {{"phone", ui::DeviceProfile::phone568(), graphics::Rect(0, 0, 320, 568)},
                 {"tablet form sheet", ui::DeviceProfile::pad(), graphics::Rect(0, 0, 540, 620)}};
  for (const auto& device : devices) {
    ui::ScopedDevice scoped(device.device);
    for (const std::string language : {"en", "ru", "de", "fr", "es"}) {
      const std::string where = language + " on the " + device.name;
      filterViewController::Services services;
      services.neh = neh([language] { return list_test::interfaceText(language); });
      services.clock = &clock_;
      services.language = [language] { return list_test::interfaceText(language); };
      services.calendar = utc();
      auto screen = std::make_shared<filterViewController>(std::move(services));
      screen->setAllStuffWithMail(true);
      screen->setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(std::nullopt, std::nullopt, false,
                                                                             std::nullopt, std::nullopt);
      window_ = std::make_shared<ui::Window>(device.window);
      window_->setRootViewController(std::make_shared<ui::NavigationController>(screen));
      window_->makeKeyAndVisible();
      runLoop();
      window_->layoutIfNeeded();
      EXPECT_EQ(screen_fit::problems(*window_), std::vector<std::string>{}) << where;
      EXPECT_EQ(cell<notes_list::filterPhotoCell>(*screen, 1, 3).photoSegment->titleForSegmentAtIndex(0),
                list_test::interfaceText(language).localized("Not include"))
          << where;

      auto& table = *screen->filterTable();
      ASSERT_TRUE(table.tapRowAtIndexPath({0, 0})) << where;  // the wheel opens under "Begin"
      runLoop();
      window_->layoutIfNeeded();
      auto& wheelRow = cell<notes_list::datePickerCell>(*screen, 0, 1);
      const auto& end = cell<notes_list::filterDateCell>(*screen, 0, 2);
      const graphics::Rect wheel =
          wheelRow.datePicker->convertRectToView(wheelRow.datePicker->bounds(), window_.get());
      const graphics::Rect endRow = end.convertRectToView(end.bounds(), window_.get());
      EXPECT_LE(wheel.maxY(), endRow.y() + 0.5) << where << ": the wheel reaches over \"End\"";
      window_->setRootViewController(nullptr);
      runLoop();
    }
  }
}
