// The editor's timers on the manual clock: texts, a feeding that survives a restart, records owned
// by one editor only, the 24-hour limit, side switches and the tick on the run loop.

#include <gtest/gtest.h>

#include "app/note_timer.h"
#include "note_editor/editor_fixture.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"

namespace editor_test {
namespace {

using note_editor::NoteEditor;

// Taps a button of the shown timer cell (0 left, 1 centre, 2 right).
void tapTimerButton(note_editor::noteEditController& editor, int button) {
  auto* cell =
      dynamic_cast<note_editor::timerCellBase*>(editor.noteEditTable().cellForRowAtIndexPath({0, 1}));
  ASSERT_TRUE(cell);
  ui::Button* buttons[] = {cell->leftButton.get(), cell->centerButton.get(), cell->rightButton.get()};
  buttons[button]->tap();
}

class EditorTimersTest : public EditorTest {
 protected:
  // Seconds pass while the editor is on screen: one tick each.
  void run(NoteEditor& editor, int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock_.advance(1);
      editor.tick();
    }
  }
  // The timer file as the keyed-archive reader sees it.
  app::NoteTimerArray storedTimers() {
    auto path = saves_->timerFilePath("Anna").value();
    if (!fs::exists(path)) return {};
    return app::unarchiveTimerArray(files::readFile(path).value()).value();
  }
  std::shared_ptr<app::noteTimer> sleepRecordWithPhoto() {
    auto timer = std::make_shared<app::noteTimer>();
    timer->setParam_Type("Sleep");
    timer->setParam_DateStart(clock_.now() - 7200);
    timer->setParam_ImgPathNum(0);
    EXPECT_TRUE(saves_->saveTempPhotoPhotoPathPhotoNum(picture(4, 4, 9), "Anna", 0).ok());
    return timer;
  }
};

TEST_F(EditorTimersTest, TimerTexts) {
  struct Case {
    const char* type;
    std::int32_t seconds;
    const char* text;
  };
  for (const Case& c :
       {Case{"Sleep", 5, "00:00:05"}, Case{"Breast Feeding", 5, "00:05"}, Case{"Sleep", 3725, "01:02:05"},
        Case{"Breast Feeding", 3725, "01:02:05"}, Case{"Sleep", 36000, "10:00:00"},
        Case{"Breast Feeding", 3599, "59:59"}, Case{"Breast Feeding", 3600, "01:00:00"},
        Case{"Sleep", 3599, "00:59:59"}, Case{"Sleep", 86400, "24:00:00"}}) {
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.seconds));
    EXPECT_EQ(model(c.type)->timerStrFromSeconds(c.seconds), c.text);
  }
}

TEST_F(EditorTimersTest, AFeedingWithSwitchesPausesAndARestartKeepsItsMinutes) {
  auto editor = model("Breast Feeding");
  // The feeding begins when the editor set it (as it opened), not at the first start.
  const Date begin = clock_.now();
  clock_.advance(10);
  EXPECT_EQ(editor->timerButtonClicked(0), 0);  // left starts
  EXPECT_EQ(editor->note_DateStart, begin);
  EXPECT_EQ(editor->ownRecord(), std::optional<size_t>(0));
  run(*editor, 125);
  editor->timerButtonClicked(0);  // left paused
  EXPECT_EQ(editor->timerType, 4);
  const auto paused = storedTimers();
  ASSERT_EQ(paused.size(), 1u);
  EXPECT_EQ(paused[0]->param_Paused(), true);
  EXPECT_EQ(paused[0]->param_numValue().toInteger(), 125);
  run(*editor, 300);  // the pause counts nothing
  EXPECT_EQ(editor->timeStr, "02:05");
  editor->timerButtonClicked(2);  // right starts, left keeps 125 seconds
  run(*editor, 200);

  // The process ends; 100 seconds later a new one opens the record from the files alone.
  editor.reset();
  clock_.advance(100);
  editor = reopen(0);
  EXPECT_EQ(editor->timerType, 5);
  EXPECT_EQ((std::pair{editor->timerCount, editor->timerCount2}),
            (std::pair<std::int64_t, std::int64_t>{125, 300}));
  EXPECT_TRUE(editor->ticking);
  run(*editor, 60);
  editor->timerButtonClicked(0);  // back to the left side
  run(*editor, 59);
  EXPECT_EQ(editor->timerButtonClicked(1), 7);
  editor->timerSheetAnswered(7, 0);
  EXPECT_EQ((std::pair{editor->timerCount, editor->timerCount2}),
            (std::pair<std::int64_t, std::int64_t>{3, 6}));
  EXPECT_EQ(editor->note_DateStop, clock_.now());
  EXPECT_EQ(editor->note_DateStart, begin);
  EXPECT_FALSE(editor->ticking || editor->timerStarted || editor->dateTimerON);
  EXPECT_TRUE(storedTimers().empty());
  EXPECT_TRUE(editor->saveThisNote().close);
}

TEST_F(EditorTimersTest, ANewEditorNeverTouchesTheBabysOtherTimer) {
  ASSERT_TRUE(saves_->saveTimerArrayById({sleepRecordWithPhoto()}, "Anna").ok());
  auto editor = open("Breast Feeding");
  EXPECT_FALSE(editor->model().ownRecord());
  // Back from the background: the new editor stays idle and adopts nothing.
  clock_.advance(30);
  runtime::NotificationCenter::defaultCenter().post(
      std::string(ui::kApplicationWillEnterForegroundNotification));
  runLoop();
  EXPECT_EQ(editor->model().timerType, 0);
  EXPECT_EQ(editor->model().timeStr, "00:00");
  EXPECT_FALSE(editor->isTicking());
  // Nor does an idle stopwatch count the time it was away.
  auto sleep = open("Sleep");
  clock_.advance(3600);
  runtime::NotificationCenter::defaultCenter().post(
      std::string(ui::kApplicationWillEnterForegroundNotification));
  EXPECT_EQ(sleep->model().timeStr, "00:00:00");

  // Its own timer is a second record with the next free photo number; stopping it removes only
  // that record and photo.
  editor->setPhoto(picture(4, 4, 200));
  editor->model().timerButtonClicked(0);
  EXPECT_EQ(editor->model().ownRecord(), std::optional<size_t>(1));
  EXPECT_EQ(storedTimers().at(1)->param_ImgPathNum(), 1);
  editor->model().timerSheetAnswered(7, 0);
  EXPECT_FALSE(saves_->getTempPhotoPhotoNum("Anna", 1));
  const auto timers = storedTimers();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0]->param_Type(), "Sleep");
  EXPECT_TRUE(saves_->getTempPhotoPhotoNum("Anna", 0));
}

TEST_F(EditorTimersTest, TheTickRunsOnTheLoopAndAReopenedStopwatchCountsFromItsStart) {
  ASSERT_TRUE(saves_->saveTimerArrayById({sleepRecordWithPhoto()}, "Anna").ok());
  auto editor = open(std::nullopt, {}, [](note_editor::noteEditController& e) {
    e.setStopWatchOn(true);
    e.setStopWatchNum(0);
  });
  EXPECT_EQ(editor->model().timeStr, "02:00:00");
  EXPECT_TRUE(editor->isTicking());
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->toMainScreenButton());
  loop_.advance(5);
  EXPECT_EQ(editor->model().timeStr, "02:00:05");
  // A night in the background: the loop did not run, the start date tells.
  clock_.advance(3600);
  runtime::NotificationCenter::defaultCenter().post(
      std::string(ui::kApplicationWillEnterForegroundNotification));
  EXPECT_EQ(editor->model().timeStr, "03:00:05");
  editor->model().timerSheetAnswered(7, 0);
  runLoop();
  EXPECT_FALSE(editor->isTicking());
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->saveButton());
  EXPECT_TRUE(storedTimers().empty());
  EXPECT_FALSE(saves_->getTempPhotoPhotoNum("Anna", 0));
}

TEST_F(EditorTimersTest, TheLimit) {
  // A stopwatch shows 24:00:00 and halts on the next tick.
  auto sleep = model("Sleep");
  sleep->timerButtonClicked(1);
  run(*sleep, 86400);
  EXPECT_EQ(sleep->timeStr, "24:00:00");
  EXPECT_TRUE(sleep->timerStarted);
  run(*sleep, 1);
  EXPECT_EQ(sleep->timerType, 2);
  EXPECT_EQ(sleep->timerCount, 86400);
  EXPECT_EQ(*sleep->note_DateStop - *sleep->note_DateStart, 86400);
  EXPECT_TRUE(sleep->limitAlertPending && !sleep->dateTimerON && !sleep->ticking);
  EXPECT_TRUE(storedTimers().empty());

  struct Case {
    const char* name;
    int left, pauseAfterLeft, right;  // seconds run left, paused, run right (until the limit)
    std::int64_t leftMinutes, rightMinutes, state, spanMinutes;
  };
  for (const Case& c :
       {Case{"the right side reaches the day", 1800, 0, 84601, 30, 1410, 6, 1440},
        Case{"a paused side keeps what it counted", 600, 86400 - 600 + 1, -1, 10, 0, 4, 10}}) {
    SCOPED_TRACE(c.name);
    auto feeding = model("Breast Feeding");
    feeding->timerButtonClicked(0);
    run(*feeding, c.left);
    feeding->timerButtonClicked(c.right < 0 ? 0 : 2);
    if (c.right < 0) {
      run(*feeding, c.pauseAfterLeft);
    } else {
      feeding->timerCount2 = c.right - 1;  // most of the day at once
      run(*feeding, 1);
    }
    EXPECT_EQ((std::pair{feeding->timerCount, feeding->timerCount2}),
              (std::pair{c.leftMinutes, c.rightMinutes}));
    EXPECT_EQ(feeding->timerType, c.state);
    EXPECT_EQ(*feeding->note_DateStop - *feeding->note_DateStart, static_cast<double>(c.spanMinutes * 60));
    EXPECT_TRUE(feeding->limitAlertPending);
    EXPECT_FALSE(feeding->isTimeLimitExceeded());
    EXPECT_TRUE(storedTimers().empty());
  }
}

TEST_F(EditorTimersTest, PumpingAsksBeforeSwitchingAndCancelChangesNothing) {
  auto editor = open("Pumping");
  tapTimerButton(*editor, 0);
  loop_.advance(30);
  tapTimerButton(*editor, 2);
  auto sheet = ui::topActionSheet();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->buttonTitleAtIndex(0), "Save and switch sides");
  sheet->tapButton(sheet->cancelButtonIndex());
  loop_.advance(5);
  EXPECT_EQ(editor->model().timerType, 3);
  EXPECT_EQ(editor->model().timeStr, "00:00:35");
  EXPECT_TRUE(notes().empty());
  tapTimerButton(*editor, 0);
  ASSERT_TRUE(ui::topActionSheet());
  EXPECT_EQ(ui::topActionSheet()->buttonTitleAtIndex(0), "Stop");
  ui::topActionSheet()->tapButton(0);
  EXPECT_FALSE(editor->isTicking());
  EXPECT_TRUE(storedTimers().empty());
}

TEST_F(EditorTimersTest, ASideSwitchBeginsAFreshSecond) {
  auto editor = open("Breast Feeding");
  tapTimerButton(*editor, 0);
  loop_.advance(0.5);
  tapTimerButton(*editor, 2);
  loop_.advance(0.9);
  EXPECT_EQ((std::pair{editor->model().timerCount, editor->model().timerCount2}),
            (std::pair<std::int64_t, std::int64_t>{0, 0}));
  loop_.advance(0.1);
  EXPECT_EQ(editor->model().timerCount2, 1);
}

TEST_F(EditorTimersTest, PumpingSwitchesSidesOnlyWhenTheNoteIsSaved) {
  auto pumping = model("Pumping");
  pumping->timerButtonClicked(0);
  run(*pumping, 90);
  EXPECT_FALSE(pumping->timerSheetAnswered(6, 0));
  ASSERT_EQ(notes().size(), 1u);
  EXPECT_EQ(notes()[0].note_strValue(), "Left Breast");
  EXPECT_EQ((std::pair{pumping->timerType, pumping->timerCount}),
            (std::pair<std::int64_t, std::int64_t>{5, 0}));

  // A save that fails keeps the running side and its record.
  run(*pumping, 30);
  refuse(store_->path(), "BEFORE INSERT", "ZNOTE");
  EXPECT_EQ(pumping->timerButtonClicked(0), 5);
  EXPECT_TRUE(pumping->timerSheetAnswered(5, 0));
  EXPECT_EQ(pumping->timerType, 5);
  EXPECT_EQ(pumping->timerCount, 30);
  EXPECT_TRUE(pumping->ticking);
  const auto timers = storedTimers();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0]->param_strValue(), "Right Breast");
}

TEST_F(EditorTimersTest, AnUnreadableTimerFileIsNeverWrittenOver) {
  const auto path = saves_->timerFilePath("Anna").value();
  fs::create_directories(path.parent_path());
  const foundation::Bytes garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};
  ASSERT_TRUE(files::writeAtomic(path, garbage).ok());
  auto editor = model("Sleep");
  editor->timerButtonClicked(1);
  EXPECT_FALSE(editor->ownRecord());
  editor->timerSheetAnswered(7, 0);
  EXPECT_EQ(files::readFile(path).value(), garbage);
}

TEST_F(EditorTimersTest, TheTimerButtonsAreKnownByTheirRestorationIdentifiers) {
  for (const auto& [type, suffix] : {std::pair{"Sleep", ""}, std::pair{"Breast Feeding", "2"}}) {
    auto editor = open(type);
    auto* cell =
        dynamic_cast<note_editor::timerCellBase*>(editor->noteEditTable().cellForRowAtIndexPath({0, 1}));
    ASSERT_TRUE(cell);
    int index = 0;
    for (ui::Button* button : {cell->leftButton.get(), cell->centerButton.get(), cell->rightButton.get()})
      EXPECT_EQ(note_editor::timerButtonIndex(
                    dynamic_cast<note_editor::timerButton&>(*button).restorationIdentifier()),
                index++)
          << type;
    EXPECT_EQ(dynamic_cast<note_editor::timerButton&>(*cell->rightButton).restorationIdentifier(),
              std::string("timerRightButton") + suffix);
  }
  for (const char* stranger : {"timerRightButton3", "timerButton", "2", ""})
    EXPECT_FALSE(note_editor::timerButtonIndex(stranger)) << stranger;
}

TEST(EditorTimerCells, TheLargerScreensMoveTheViewsOnceAtTheFirstDrawing) {
  struct Case {
    const char* name;
    ui::DeviceProfile profile;
    double secondsOffset, leftOffset;  // seconds caption and left button from the counter's x
    double fontSize, sideGap;          // breast cell: counters' font and their centres from the middle
  };
  const Case cases[] = {
      {"568", ui::DeviceProfile::phone568(), 153, -35, 36, 92},
      {"667", ui::DeviceProfile::phone667(), 191, -6, 45, 92},
      {"667 zoomed", ui::DeviceProfile::phone667Zoomed(), 153, -35, 36, 92},
      {"736", ui::DeviceProfile::phone736(), 191, -6, 50, 106},
      {"pad", ui::DeviceProfile::pad(), 153, -35, 50, 106},
  };
  auto drawTwice = [](ui::View& cell) {
    for (int i = 0; i < 2; ++i) {
      graphics::RecordingCanvas canvas;
      cell.setNeedsLayout();
      cell.layoutIfNeeded();
      cell.drawRect(canvas, cell.bounds());
      EXPECT_EQ(canvas.lines().size(), 1u);
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ScopedDevice device(c.profile);
    const double w = c.profile.screenWidth;
    note_editor::noteTimerCell single;
    single.setFrame(graphics::Rect(0, 0, w, 193));
    drawTwice(single);
    const double t = single.timeLable->frame().origin.x;
    EXPECT_EQ(single.secondsLable->frame().origin.x - t, c.secondsOffset);
    EXPECT_EQ(single.leftButton->frame().origin.x - t, c.leftOffset);

    note_editor::noteTimerBreastCell breast;
    breast.setFrame(graphics::Rect(0, 0, w, 180));
    drawTwice(breast);
    EXPECT_EQ(breast.timeLeftLable->font().pointSize(), c.fontSize);
    EXPECT_EQ(breast.timeRightLable->frame().midX() - w / 2, c.sideGap);
    EXPECT_EQ(breast.leftButton->frame().midX(), w / 2 - c.sideGap);
    EXPECT_EQ(breast.rightPrevLable->frame().midX(), w / 2 + c.sideGap);
  }
}

}  // namespace
}  // namespace editor_test
