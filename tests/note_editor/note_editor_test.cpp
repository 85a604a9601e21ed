// The note editor's model: set-up, the table it describes, saving, copying, deleting and the
// all-or-nothing promise of its saves.

#include "note_editor/note_editor.h"

#include <gtest/gtest.h>

#include "note_editor/editor_fixture.h"
#include "platform/foundation/log.h"

namespace editor_test {
namespace {

using note_editor::RowKind;
using note_editor::RowTap;

class NoteEditorTest : public EditorTest {};

TEST_F(NoteEditorTest, NewNotesStartFromTheirTypesRules) {
  // A timer type: state 0 at zero, both dates now.
  auto sleep = model("Sleep");
  EXPECT_TRUE(sleep->dateTimerON);
  EXPECT_EQ(sleep->timerType, 0);
  EXPECT_EQ(sleep->note_DateStart, clock_.now());
  EXPECT_EQ(sleep->note_DateStop, clock_.now());
  EXPECT_EQ(sleep->timeStr, "00:00:00");
  EXPECT_EQ(sleep->rowContent(0, 1).kind, RowKind::kTimer);
  EXPECT_EQ(sleep->headerHeight(0), 0);
  // "Health" has two dates and no timer.
  auto health = model("Health");
  EXPECT_FALSE(health->dateTimerON);
  EXPECT_EQ(health->numberOfRowsInSection(0), 2);
  EXPECT_EQ(health->headerHeight(0), 30);

  auto temperature = model("Temperature");
  EXPECT_EQ(temperature->note_numVal, static_cast<double>(36.6f));
  EXPECT_EQ(temperature->note_numMeasureCurrent, "Notation_celsius");
  temperature->valueType().setVt_NumCurrent(1000.0f);
  EXPECT_EQ(model("Temperature")->note_numVal, 100) << "held at the range's highest value, the wheel's last row";
  model("Food")->valueType().setVt_NumCurrent(55.0f);
  EXPECT_EQ(model("Food")->note_numVal, 0) << "a keypad type starts at 0";
}

TEST_F(NoteEditorTest, EditedBreastFeedingAndTheSideUsedLast) {
  const Date start = at(2020, 1, 5, 9, 0, 30);
  app::Note old = addNote("Breast Feeding", start, start + 25 * 60 + 20, "Right Breast", 0, "0");
  auto edited = model("Breast Feeding", old);
  EXPECT_EQ(edited->timerCount, 0);
  EXPECT_EQ(edited->timerCount2, 25);
  EXPECT_FALSE(edited->dateTimerON);
  EXPECT_EQ(edited->numberOfRowsInSection(1), 3);
  EXPECT_EQ(edited->rowContent(1, 1).rightText, "25" + edited->localized("minuteInMainCell"));
  EXPECT_EQ(edited->rowContent(1, 2).selectedSegment, 1);

  auto fresh = model("Breast Feeding");
  EXPECT_EQ(fresh->lastBreast, 2u);
  const auto cell = fresh->timerCellContent();
  EXPECT_EQ(cell.leftPrevious, "");
  EXPECT_EQ(cell.rightPrevious, fresh->localized("previous"));
  EXPECT_FALSE(cell.buttons[0].hidden);
  EXPECT_TRUE(cell.buttons[1].hidden);
}

TEST_F(NoteEditorTest, ReopenedBreastFeedingTimers) {
  auto record = [&](std::int64_t left, std::string right, const char* side, Date last, bool paused) {
    auto timer = std::make_shared<app::noteTimer>();
    timer->setParam_Type("Breast Feeding");
    timer->setParam_DateStart(clock_.now() - 3600);
    timer->setParam_strValue(side);
    timer->setParam_numValue(foundation::Value(left));
    timer->setParam_numMeasureCurrent(std::move(right));
    timer->setParam_DateLast(last);
    timer->setParam_Paused(paused);
    timer->setParam_ImgPathNum(-1);
    return timer;
  };
  const Date pausedAt = clock_.now() - 600;
  auto withPhoto = record(10, "60", "Right Breast", clock_.now() - 90, false);
  withPhoto->setParam_ImgPathNum(0);
  ASSERT_TRUE(saves_->saveTempPhotoPhotoPathPhotoNum(picture(4, 4, 9), "Anna", 0).ok());
  ASSERT_TRUE(
      saves_->saveTimerArrayById({record(120, "-5", "Left Breast", pausedAt, true), withPhoto}, "Anna").ok());
  auto paused = reopen(0);
  EXPECT_EQ(paused->timerType, 4);
  EXPECT_EQ((std::pair{paused->timerCount, paused->timerCount2}),
            (std::pair<std::int64_t, std::int64_t>{120, 0}));
  EXPECT_EQ(paused->note_DatePaused, pausedAt);
  EXPECT_TRUE(paused->timerStarted && paused->runningTimerBar);
  EXPECT_EQ(paused->time2Str, "00:00");
  EXPECT_EQ(paused->rowContent(0, 1).kind, RowKind::kTimerBreast);

  auto running = reopen(1);
  EXPECT_EQ(running->timerType, 5);
  EXPECT_EQ(running->timerCount2, 150);
  EXPECT_EQ(running->photoState, 2);
  // The record follows the editor: its photo goes when the editor's does.
  running->setPhoto(std::nullopt);
  ASSERT_TRUE(running->refrashTimerSave().ok());
  EXPECT_FALSE(saves_->getTempPhotoPhotoNum("Anna", 0));
  EXPECT_EQ(saves_->loadTimerArray("Anna").value()[1]->param_ImgPathNum(), -1);
}

TEST_F(NoteEditorTest, TimerButtonsFollowTheState) {
  // Each button as "-" hidden, "key" outline, "key*" filled, "key=" keeping its image.
  auto looks = [](const note_editor::NoteEditor& editor) {
    std::vector<std::string> out;
    for (const auto& b : editor.timerCellContent().buttons) {
      std::string key = b.label;
      for (const char* k : {"Start", "Stop", "Continue", "Pause", "Left Breast", "Right Breast"})
        if (b.label == editor.localized(k)) key = k;
      out.push_back(b.hidden ? "-" : key + (b.keepsImage ? "=" : b.filled ? "*" : ""));
    }
    return out;
  };
  using V = std::vector<std::string>;
  struct Case {
    const char* type;
    int state;
    V buttons;
  };
  const std::vector<Case> cases{
      {"Sleep", 0, V{"-", "Start", "-"}},
      {"Sleep", 1, V{"-", "Stop*", "-"}},
      {"Sleep", 2, V{"-", "Continue*", "-"}},
      {"Pumping", 0, V{"Left Breast", "-", "Right Breast"}},
      {"Pumping", 3, V{"Stop*", "-", "Right Breast"}},
      {"Pumping", 4, V{"Continue*", "-", "Right Breast"}},
      {"Pumping", 5, V{"Left Breast", "-", "Stop*"}},
      {"Pumping", 6, V{"Left Breast", "-", "Continue*"}},
      {"Breast Feeding", 0, V{"Left Breast", "-", "Right Breast"}},
      {"Breast Feeding", 1, V{"-", "-", "-"}},
      {"Breast Feeding", 3, V{"Pause*", "Stop=", "Right Breast"}},
      {"Breast Feeding", 4, V{"Continue*", "Stop=", "Right Breast"}},
      {"Breast Feeding", 5, V{"Left Breast", "Stop=", "Pause*"}},
      {"Breast Feeding", 6, V{"Left Breast", "Stop=", "Continue*"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.state));
    auto editor = model(c.type);
    editor->timerType = c.state;
    EXPECT_EQ(looks(*editor), c.buttons);
  }
}

TEST_F(NoteEditorTest, TheDateRowIsWrittenInTheInterfaceLanguage) {
  foundation::ScopedDefaultLocale host(foundation::Locale::posix());
  auto services = this->services();
  services.language = [] { return app::InterfaceText("ru", {}); };
  note_editor::NoteEditor editor(services);
  editor.managedObjectContext = context_;
  editor.currentBabyName = "Anna";
  editor.note_Type = "Weight";
  editor.setUp();
  editor.note_DateStop = editor.note_DateStart = at(2026, 12, 7, 17, 5);
  EXPECT_EQ(editor.rowContent(0, 0).rightText, "7 дек. 2026 г.  17:05");
}

TEST_F(NoteEditorTest, RowsHeadersAndTaps) {
  auto temperature = model("Temperature");
  ASSERT_EQ(temperature->numberOfRowsInSection(1), 1);
  EXPECT_EQ(temperature->rowContent(1, 0).rightText,
            temperature->helper().getCurrentNumValueStr("Temperature", temperature->note_numVal,
                                                        "Notation_celsius"));
  EXPECT_EQ(temperature->tapOnRow(1, 0), RowTap::kNumberEntry);
  EXPECT_EQ(model("Note")->numberOfRowsInSection(1), 0);
  auto wc = model("WC");
  ASSERT_EQ(wc->numberOfRowsInSection(1), 1);
  EXPECT_EQ(wc->rowContent(1, 0).rightText, "Wet");
  EXPECT_EQ(wc->tapOnRow(1, 0), RowTap::kSubValues);

  const Date t = at(2020, 1, 5, 9);
  auto sleep = model("Sleep", addNote("Sleep", t, t - 60));
  EXPECT_EQ(sleep->headerText(), sleep->localized("Begin") + " > " + sleep->localized("End"));
  sleep->note_DateStop = t + 25 * 3600;
  EXPECT_EQ(sleep->headerText(), "> 24" + sleep->localized("hourInMainCell"));
  EXPECT_EQ(sleep->tapOnRow(0, 1), RowTap::kStopDate);
  EXPECT_EQ(model("Sleep")->tapOnRow(0, 1), RowTap::kNone) << "the timer row";
  auto feeding = model("Breast Feeding", addNote("Breast Feeding", t, t + 720, "Left Breast", 7, "5"));
  EXPECT_EQ(feeding->headerText(), "12" + feeding->localized("minuteInMainCell"));

  // The notice row takes what is left of the screen, or 50 points when nothing is.
  auto note = model("Note");
  EXPECT_EQ(note->rowHeight(2, 0, 568), 568 + 20 - 63 - 50);
  EXPECT_EQ(note->rowHeight(2, 0, 80), 50);
}

TEST_F(NoteEditorTest, SavingChecksTheDatesAndCutsThemToTheMinute) {
  auto wc = model("WC");
  wc->note_DateStop = at(2020, 1, 5, 10, 15, 42);
  ASSERT_TRUE(wc->saveThisNote().close);
  ASSERT_EQ(notes().size(), 1u);
  EXPECT_EQ(notes()[0].note_DateStart(), at(2020, 1, 5, 10, 15));
  EXPECT_EQ(notes()[0].note_DateStop(), at(2020, 1, 5, 10, 15));
  EXPECT_EQ(notes()[0].noteToBaby(), baby_);

  auto sleep = model("Sleep");
  sleep->note_DateStop = sleep->note_DateStart;
  EXPECT_TRUE(sleep->saveThisNote().close) << "equal dates pass";
  auto early = model("Sleep");
  early->note_DateStop = *early->note_DateStart - 60;
  EXPECT_EQ(early->saveThisNote().alert, early->localized("EndT_Biger_BeginT"));
  early->note_DateStop = *early->note_DateStart + 86401;
  EXPECT_EQ(early->saveThisNote().alert, early->localized("TimeLimit24Hours"));
  EXPECT_EQ(notes().size(), 2u);
}

TEST_F(NoteEditorTest, BreastFeedingFieldsAndEvent) {
  struct Case {
    std::int64_t left, right;
    std::vector<LoggedEvent> events;
  };
  const std::vector<Case> cases{{12, 0, {{"breast_type", {{"type", "Left"}}}}},
                                {0, 3, {{"breast_type", {{"type", "Right"}}}}},
                                {4, 5, {{"breast_type", {{"type", "Both"}}}}},
                                {0, 0, {}}};
  for (const auto& c : cases) {
    events_.clear();
    // The shown timer counts seconds; the note keeps whole minutes.
    auto feeding = model("Breast Feeding");
    feeding->timerCount = c.left * 60 + 59;
    feeding->timerCount2 = c.right * 60;
    ASSERT_TRUE(feeding->saveThisNote().close);
    const app::Note saved = notes().back();
    EXPECT_EQ(saved.note_numValue()->toDouble(), static_cast<double>(c.left));
    EXPECT_EQ(saved.note_numMeasureCurrent(), std::to_string(c.right));
    EXPECT_EQ(events_, c.events);
  }
}

TEST_F(NoteEditorTest, NewNotesRememberTheirValueAndLogTheUnit) {
  auto food = model("Food");
  food->note_numVal = 120;
  food->note_strVal = "Meat";
  ASSERT_TRUE(food->saveThisNote().close);
  EXPECT_EQ(food->valueType().vt_NumCurrent(), 120.0f);
  EXPECT_EQ(food->valueType().vt_StrCurrent(), "Meat");
  EXPECT_EQ(
      events_,
      (std::vector<LoggedEvent>{{"new_Notation_g", {{"lang", "en"}, {"country", "US"}, {"type", "Food"}}}}));

  // Another unit, an edited note, or no country: the number is not remembered or the event shrinks.
  events_.clear();
  country_.reset();
  auto ounces = model("Food");
  ounces->note_numVal = 4;
  ounces->note_numMeasureCurrent = "Notation_oz";
  ASSERT_TRUE(ounces->saveThisNote().close);
  EXPECT_EQ(ounces->valueType().vt_NumCurrent(), 120.0f);
  EXPECT_EQ(events_, (std::vector<LoggedEvent>{{"new_Notation_oz", {{"lang", "en"}}}}));
  auto edited = model("Food", notes()[0]);
  edited->note_numVal = 30;
  events_.clear();
  ASSERT_TRUE(edited->saveThisNote().close);
  EXPECT_EQ(model("Food")->valueType().vt_NumCurrent(), 120.0f);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(notes()[0].note_numValue()->toString(), "30");
}

TEST_F(NoteEditorTest, SubValueAnswers) {
  auto wc = model("WC");
  wc->noteInputSetSubtypesAndValues(std::nullopt);
  EXPECT_EQ(wc->note_strVal, "Wet");
  wc->noteInputSetSubtypesAndValues("");
  EXPECT_EQ(wc->note_strVal, "");
  EXPECT_TRUE(events_.empty());
  wc->noteInputSetSubtypesAndValues("Dry");
  country_.reset();
  wc->noteInputSetSubtypesAndValues("Poopy");
  EXPECT_EQ(
      events_,
      (std::vector<LoggedEvent>{
          {"sub_categories", {{"type", "WC"}, {"lang", "en"}, {"country", "US"}, {"sub_category", "Dry"}}},
          {"sub_categories", {{"type", "WC"}, {"lang", "en"}}}}));
}

TEST_F(NoteEditorTest, CopiesAreNewNotesEndingNow) {
  const Date t = at(2020, 1, 5, 9);
  auto sleep = model("Sleep", addNote("Sleep", t, t + 3600));
  sleep->copyThisNote();
  EXPECT_FALSE(sleep->editingNote);
  EXPECT_EQ(sleep->note_DateStart, sleep->note_DateStop);
  EXPECT_EQ(sleep->note_DateStop, at(2020, 1, 6, 10, 40));

  // The counters as shown, an edited one included.
  auto feeding = model("Breast Feeding", addNote("Breast Feeding", t, t + 900, "Left Breast", 10, "5"));
  feeding->timerCount2 = 8;
  feeding->copyThisNote();
  EXPECT_EQ(feeding->note_DateStop, clock_.now());
  EXPECT_EQ(*feeding->note_DateStop - *feeding->note_DateStart, 18 * 60);
  ASSERT_TRUE(feeding->saveThisNote().close);
  EXPECT_EQ(notes().size(), 3u);
  EXPECT_EQ(notes().back().note_numMeasureCurrent(), "8");
}

TEST_F(NoteEditorTest, PhotoRecordsAndFilesFollowTheNote) {
  auto weight = model("Weight");
  weight->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(weight->saveThisNote().close);
  // A second note with a photo in the same minute, with the same random number, keeps both.
  auto second = model("Weight");
  second->setPhoto(picture(8, 8, 10));
  ASSERT_TRUE(second->saveThisNote().close);
  const auto files = photoFiles();
  ASSERT_EQ(files,
            (std::vector<std::string>{"_2020_January_06_10_40_7.jpg", "_2020_January_06_10_40_8.jpg"}));

  const app::Note note = notes()[0];
  const app::PhotoInfo info = note.noteToPhotoInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info.photo_Path(), "_2020_January_06_10_40_7");
  EXPECT_EQ(info.photo_Date(), note.note_DateStop());
  EXPECT_EQ(info.photoInfoToBaby(), baby_);
  const fs::path file = home_.documents() / "Photos" / files[0];
  const auto original = files::readFile(file).value();

  // Only the date changes: the record moves, the file is not written.
  auto dated = model("Weight", note);
  EXPECT_EQ(dated->photoState, 1);
  dated->note_DateStop = at(2020, 1, 6, 8);
  ASSERT_TRUE(dated->saveThisNote().close);
  EXPECT_EQ(info.photo_Date(), at(2020, 1, 6, 8));
  EXPECT_EQ(files::readFile(file).value(), original);

  // A new picture keeps the key and replaces the file; removing it removes file and record.
  auto replaced = model("Weight", note);
  replaced->setPhoto(picture(8, 8, 90));
  ASSERT_TRUE(replaced->saveThisNote().close);
  EXPECT_EQ(photoFiles(), files);
  EXPECT_NE(files::readFile(file).value(), original);
  auto removed = model("Weight", note);
  removed->setPhoto(std::nullopt);
  ASSERT_TRUE(removed->saveThisNote().close);
  EXPECT_FALSE(note.noteToPhotoInfo());
  EXPECT_EQ(photoFiles(), std::vector<std::string>{files[1]});
}

TEST_F(NoteEditorTest, AFailedSaveChangesNothing) {
  auto withPhoto = model("Weight");
  withPhoto->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(withPhoto->saveThisNote().close);
  const app::Note stored = notes()[0];

  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::function<std::unique_ptr<note_editor::NoteEditor>()> edit;
    // What the log says (besides the failed save, when the store refused).
    std::vector<std::string> logged = {};
  };
  const std::string failedSave = "Failed to save the new MainData. Error = ";
  const std::vector<Case> cases{
      {"no such baby", [] {},
       [&] {
         auto e = model("Food");
         e->currentBabyName = "Nobody";
         return e;
       }},
      {"a new note the store refuses, with its photo",
       [&] { refuse(store_->path(), "BEFORE INSERT", "ZNOTE"); },
       [&] {
         auto e = model("Weight");
         e->setPhoto(picture(4, 4, 1));
         return e;
       },
       {failedSave}},
      {"a replaced photo whose note the store refuses",
       [&] { refuse(store_->path(), "BEFORE UPDATE", "ZNOTE"); },
       [&] {
         auto e = model("Weight", stored);
         e->setPhoto(picture(8, 8, 33));
         e->note_Notice = "changed";
         return e;
       },
       {failedSave}},
      {"a removed photo whose record the store keeps",
       [&] { refuse(store_->path(), "BEFORE DELETE", "ZPHOTOINFO"); },
       [&] {
         auto e = model("Weight", stored);
         e->setPhoto(std::nullopt);
         return e;
       },
       {"Failed to delete the photoInfo. Error = ", failedSave}},
      {"a photo that cannot be written",
       [&] {
         fs::rename(home_.documents() / "Photos", home_.documents() / "Moved");
         EXPECT_TRUE(files::writeAtomic(home_.documents() / "Photos", "x").ok());
       },
       [&] {
         auto e = model("Weight");
         e->setPhoto(picture(4, 4, 1));
         return e;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    auto editor = c.edit();
    const auto before = homeFiles();
    events_.clear();
    foundation::ScopedLogCapture log;
    const auto outcome = editor->saveThisNote();
    for (const auto& line : c.logged) EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_FALSE(outcome.close);
    EXPECT_TRUE(outcome.alert && !outcome.alert->empty());
    EXPECT_TRUE(events_.empty());
    EXPECT_FALSE(context_->hasChanges());
    EXPECT_EQ(homeFiles(), before);
    ASSERT_EQ(notes().size(), 1u);
    EXPECT_TRUE(stored.noteToPhotoInfo());
  }
}

TEST_F(NoteEditorTest, AnUnreadablePhotoIsKeptAndDeletingRemovesItAfterTheSave) {
  auto withPhoto = model("Milestone");
  withPhoto->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(withPhoto->saveThisNote().close);
  const app::Note note = notes()[0];
  const fs::path file = home_.documents() / "Photos" / photoFiles()[0];
  ASSERT_TRUE(files::writeAtomic(file, "not a picture").ok());

  auto opened = model("Milestone", note);
  EXPECT_FALSE(opened->note_Photo);
  EXPECT_EQ(opened->photoState, 0);
  opened->note_Notice = "first steps";
  ASSERT_TRUE(opened->saveThisNote().close);
  EXPECT_TRUE(note.noteToPhotoInfo()) << "an unreadable photo is not a removed one";
  EXPECT_TRUE(fs::exists(file));

  refuse(store_->path(), "BEFORE DELETE", "ZNOTE");
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(opened->removeThisNote().ok());
  EXPECT_TRUE(log.contains("Failed to delete the photoInfo. Error = "));
  EXPECT_TRUE(log.contains("Failed to delete the note. Error = "));
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(notes().size(), 1u);
}

// A photo whose file is gone loses its record when the note is opened (the walks show that). When
// the store refuses the deletion, the log says so, the note opens all the same, and its save tries
// again.
TEST_F(NoteEditorTest, AMissingPhotosRecordThatCannotBeDeletedIsTriedAgainOnSave) {
  auto withPhoto = model("Milestone");
  withPhoto->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(withPhoto->saveThisNote().close);
  const app::Note note = notes()[0];
  ASSERT_TRUE(files::remove(home_.documents() / "Photos" / photoFiles()[0]).ok());

  refuse(store_->path(), "BEFORE DELETE", "ZPHOTOINFO");
  foundation::ScopedLogCapture log;
  auto opened = model("Milestone", note);
  EXPECT_TRUE(log.contains("Failed to delete the photoInfo. Error = "));
  EXPECT_FALSE(opened->note_Photo);
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_TRUE(note.noteToPhotoInfo());
  foundation::ScopedLogCapture saving;
  EXPECT_FALSE(opened->saveThisNote().close);
  EXPECT_TRUE(saving.contains("Failed to delete the photoInfo. Error = "));
  EXPECT_TRUE(note.noteToPhotoInfo());
}

}  // namespace
}  // namespace editor_test
