// What a person's taps leave in the store at the editor's edges, through the screen as the notes
// list opens it: a feeding's added duration, a stopwatch past the limit reopened from the list, a
// timer that is gone, a timer file that cannot be read, a remembered value past the wheel's last
// row, and the notice editor of an edited note.

#include <gtest/gtest.h>

#include "app/note_timer.h"
#include "note_editor/editor_fixture.h"
#include "note_editor/value_panel.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/touch.h"
#include "program/diary_console.h"

namespace editor_test {
namespace {

using note_editor::noteEditController;
namespace key = note_editor::text_key;

class EditorEdgesTest : public EditorTest {
 protected:
  // The alert on screen, its message, answered with OK; empty when there is none.
  std::string answerAlert() {
    auto alert = ui::topAlert();
    if (!alert) return {};
    std::string message = alert->message();
    alert->tapButton(0);
    runLoop();
    return message;
  }
  std::string text(std::string_view k) { return note_editor::NoteEditor(services()).localized(k); }
  void tapItem(const std::shared_ptr<ui::BarButtonItem>& item) {
    ASSERT_TRUE(item && item->customView());
    ui::TouchInjector(*item->customView()).tap(ui::Point(10, 30));
    runLoop();
  }
  std::shared_ptr<noteEditController> reopenOnScreen(std::int32_t number) {
    return open(std::nullopt, {}, [number](noteEditController& e) {
      e.setStopWatchOn(true);
      e.setStopWatchNum(number);
    });
  }
  void storeTimer(const std::string& type, Date start) {
    auto record = std::make_shared<app::noteTimer>();
    record->setParam_Type(type);
    record->setParam_DateStart(start);
    record->setParam_ImgPathNum(-1);
    ASSERT_TRUE(saves_->saveTimerArrayById({record}, "Anna").ok());
  }
};

TEST_F(EditorEdgesTest, AFeedingsAddedDurationIsStoredInMinutes) {
  for (const int seconds : {600, 1800}) {
    SCOPED_TRACE(seconds);
    auto editor = open("Breast Feeding");
    ASSERT_TRUE(editor->noteEditTable().tapRowAtIndexPath({0, 0}));
    ASSERT_EQ(editor->model().pickerViewType, 1);
    editor->valuePanel().datePicker().setDate(clock_.now() - seconds);
    editor->valuePanel().doneButton().tap();
    ASSERT_TRUE(ui::topActionSheet());
    ui::topActionSheet()->tapButton(0);  // "Left Breast"
    tapItem(editor->saveButton());
    EXPECT_EQ(answerAlert(), "");
  }
  ASSERT_EQ(opener_.saved, 2);
  std::vector<std::pair<double, double>> stored;  // minutes, span in minutes
  for (const auto& note : notes()) {
    EXPECT_EQ(note.note_numMeasureCurrent(), "0");
    stored.emplace_back(note.note_numValue()->toDouble(),
                        (*note.note_DateStop() - *note.note_DateStart()) / 60);
  }
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::pair<double, double>>{{10, 10}, {30, 30}}));
}

TEST_F(EditorEdgesTest, AStopwatchPastTheLimitReopenedEndsInOneDayNoteOnce) {
  storeTimer("Sleep", clock_.now() - 30 * 3600);
  auto editor = reopenOnScreen(0);
  EXPECT_EQ(answerAlert(), text(key::kTimerLimitExceeded));
  EXPECT_FALSE(saves_->loadTimerArray("Anna").value().size());
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->saveButton());
  EXPECT_FALSE(editor->isTicking());
  loop_.advance(5);
  EXPECT_EQ(answerAlert(), "") << "the limit is told once";
  tapItem(editor->saveButton());
  ASSERT_EQ(opener_.saved, 1);
  ASSERT_EQ(notes().size(), 1u);
  EXPECT_EQ(*notes()[0].note_DateStop() - *notes()[0].note_DateStart(), 86400);
  EXPECT_EQ(notes()[0].note_Type(), "Sleep");
}

TEST_F(EditorEdgesTest, AnEditorOnATimerThatIsGoneStoresNothing) {
  storeTimer("Walk", clock_.now() - 60);
  auto editor = reopenOnScreen(3);
  EXPECT_EQ(answerAlert(), "");
  EXPECT_FALSE(editor->model().note_Type);
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->emptyButton()) << "no Save offered";
  editor->save();
  EXPECT_EQ(answerAlert(), text(key::kSaveFailed));
  EXPECT_TRUE(notes().empty());
  EXPECT_EQ(opener_.saved, 0);
  EXPECT_EQ(saves_->loadTimerArray("Anna").value().size(), 1u);
}

TEST_F(EditorEdgesTest, AnUnreadableTimerFileIsToldAndKept) {
  const auto path = saves_->timerFilePath("Anna").value();
  fs::create_directories(path.parent_path());
  const foundation::Bytes garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};
  ASSERT_TRUE(files::writeAtomic(path, garbage).ok());

  auto reopened = reopenOnScreen(0);
  EXPECT_EQ(answerAlert(), text(key::kTimersUnreadable));

  // A start that cannot be stored says so; "to main screen" then claims nothing.
  auto editor = open("Sleep");
  auto* cell =
      dynamic_cast<note_editor::timerCellBase*>(editor->noteEditTable().cellForRowAtIndexPath({0, 1}));
  ASSERT_TRUE(cell);
  cell->centerButton->tap();
  runLoop();
  EXPECT_EQ(answerAlert(), text(key::kTimerNotStored));
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->toMainScreenButton());
  tapItem(editor->toMainScreenButton());
  EXPECT_EQ(answerAlert(), text(key::kTimerNotStored));
  EXPECT_EQ(opener_.saved, 0);
  EXPECT_EQ(files::readFile(path).value(), garbage);

  // Stopped, it is an ordinary note that saves.
  loop_.advance(90);
  editor->model().timerSheetAnswered(7, 0);
  tapItem(editor->saveButton());
  EXPECT_EQ(opener_.saved, 1);
  EXPECT_EQ(notes().size(), 1u);
  EXPECT_EQ(files::readFile(path).value(), garbage);
}

TEST_F(EditorEdgesTest, ARememberedValuePastTheWheelsLastRowOpensOnIt) {
  app::ValueType row = model("Temperature")->helper().getValueType("Temperature");
  row.setVt_NumCurrent(1000.0f);
  row.setVt_NumMeasureCurrent(std::string("Notation_celsius"));
  ASSERT_TRUE(context_->save().ok());

  auto editor = open("Temperature");
  EXPECT_EQ(editor->model().note_numVal, 100);
  ASSERT_TRUE(editor->noteEditTable().tapRowAtIndexPath({1, 0}));
  ASSERT_EQ(editor->model().pickerViewType, 3);
  auto* wheel = editor->valuePanel().inputPicker();
  ASSERT_TRUE(wheel);
  EXPECT_EQ(wheel->selectedRowInComponent(0), 100);
  wheel->spinToRow(5, 1);
  editor->valuePanel().doneButton().tap();
  tapItem(editor->saveButton());
  ASSERT_EQ(notes().size(), 1u);
  EXPECT_EQ(notes()[0].note_numValue()->toDouble(), 100.5);
}

TEST_F(EditorEdgesTest, PanelsReachTheBottomDimAllAndHideTheStatusBar) {
  struct Case {
    const char* type;
    ui::IndexPath row;
  };
  for (const Case& c : {Case{"Milestone", {0, 0}}, Case{"Weight", {1, 0}}, Case{"Drink", {1, 1}}}) {
    SCOPED_TRACE(c.type);
    auto editor = open(c.type);
    ASSERT_TRUE(editor->noteEditTable().tapRowAtIndexPath(c.row));
    ASSERT_NE(editor->model().pickerViewType, 0);
    auto& panel = editor->valuePanel();
    const ui::Rect screen = window_->bounds();
    EXPECT_TRUE(ui::Application::shared().isStatusBarHidden());
    EXPECT_GE(panel.pickerPanelView().convertRectToView(panel.pickerPanelView().bounds(), nullptr).maxY(),
              screen.maxY());
    const ui::Rect dim = panel.datePickerView().convertRectToView(panel.datePickerView().bounds(), nullptr);
    EXPECT_TRUE(dim.contains(screen)) << dim.y() << " " << dim.height();
    panel.cancelButton().tap();
    EXPECT_FALSE(ui::Application::shared().isStatusBarHidden());
  }
}

TEST_F(EditorEdgesTest, ThePhotoScreensButtonsLieInsideTheScreen) {
  for (const auto& profile :
       {ui::DeviceProfile::phone568(), ui::DeviceProfile::phone736(), ui::DeviceProfile::pad()}) {
    ui::ScopedDevice device(profile);
    auto editor = open("Milestone");
    editor->setPhoto(picture(8, 8, 200));
    editor->photoButton().tap();
    runLoop();
    auto* photo =
        dynamic_cast<note_editor::photoViewController*>(editor->navigationController()->topViewController());
    ASSERT_TRUE(photo);
    window_->layoutIfNeeded();
    for (ui::Button* button : {&photo->libraryButton(), &photo->removeButton()}) {
      const ui::Rect frame = button->convertRectToView(button->bounds(), nullptr);
      EXPECT_TRUE(window_->bounds().contains(frame))
          << button->currentTitle() << " at " << frame.y() << " on a screen " << window_->bounds().height();
    }
  }
}

TEST_F(EditorEdgesTest, TheNoticeOfAnEditedNoteIsDoneAsAPersonTapsIt) {
  // The phone's notice is left by its done button; the tablet's has none and its text runs down to
  // the keyboard, which puts it away by its own key.
  const std::pair<ui::DeviceProfile, const char*> devices[] = {{ui::DeviceProfile::phone568(), "tap Done"},
                                                               {ui::DeviceProfile::pad(), "key hide"}};
  for (const auto& [profile, leave] : devices) {
    ui::ScopedDevice device(profile);
    // The date panel was used first: closed, it must stay out of sight when the bars hide again.
    const Date t = at(2020, 1, 6, 9, 10);
    const app::Note note = addNote("Milestone", t, t, std::nullopt, std::nullopt, std::nullopt);
    auto editor = open("Milestone", note);
    ASSERT_TRUE(editor->noteEditTable().tapRowAtIndexPath({0, 0}));
    editor->valuePanel().cancelButton().tap();
    runLoop();
    testing_support::TempDir screens;
    program::DiaryConsole console(clock_, loop_, screens.path(), 1);
    ASSERT_TRUE(console.execute("tap Note").ok) << leave;
    ASSERT_TRUE(editor->noticeTextView().isFirstResponder());
    ASSERT_TRUE(console.execute("type \"first tooth\"").ok);
    const ui::TextView& text = editor->noticeTextView();
    const double keyboardTop =
        text.superview()->convertPointFromView(ui::Keyboard::shownFrame().origin, nullptr).y;
    EXPECT_EQ(text.frame().maxY() == keyboardTop, profile.isPad()) << leave;
    const auto done = console.execute(leave);
    EXPECT_TRUE(done.ok) << done.message;
    EXPECT_FALSE(editor->noticeTextView().isFirstResponder());
    EXPECT_EQ(editor->noticeTextBackView().alpha(), 0);
    tapItem(editor->saveButton());
    EXPECT_EQ(note.note_Notice(), "first tooth") << leave;
  }
}

}  // namespace
}  // namespace editor_test
