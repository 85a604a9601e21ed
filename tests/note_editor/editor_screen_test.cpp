// The note editor's screen on the headless kit: notes saved through taps and read back from a
// reopened store, the delete window, the photo screen and its library, the sub-value editor's
// answer, the notice keyboard, a running timer kept by Save, the row cells' lines, and pictures of
// the screen for people.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "app/note_types.h"
#include "note_editor/editor_fixture.h"
#include "note_editor/note_edit_controller.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/render.h"
#include "platform/ui/touch.h"

namespace editor_test {
namespace {

using graphics::Point;
using note_editor::noteEditController;

class EditorScreenTest : public EditorTest {
 protected:
  void tapItem(const std::shared_ptr<ui::BarButtonItem>& item) {
    ASSERT_TRUE(item && item->customView());
    ui::TouchInjector(*item->customView()).tap(Point(10, 30));
    runLoop();
  }
  ui::TableViewCell* cell(noteEditController& editor, int section, int row) {
    return editor.noteEditTable().cellForRowAtIndexPath({section, row});
  }
};

TEST_F(EditorScreenTest, EveryTypeSavedThroughTheScreenReadsBackFromTheStore) {
  for (const auto& type : app::defaultTypeIds()) {
    SCOPED_TRACE(type);
    auto editor = open(type);
    EXPECT_EQ(editor->title(), editor->model().localized(type));
    EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->saveButton());
    tapItem(editor->saveButton());
  }
  EXPECT_EQ(opener_.saved, 24);
  window_.reset();
  context_.reset();
  ASSERT_TRUE(store_->close().ok());

  auto reopened =
      store::Store::open(home_.documents() / "dataBase.sqlite", app::managedObjectModel()).value();
  auto context = reopened->newContext().value();
  std::vector<std::string> types;
  const auto rows = context->fetch(store::FetchRequest{"Note"}).value();
  for (const auto& object : rows) {
    app::Note note(object);
    EXPECT_EQ(note.noteToBaby().baby_Name(), "Anna");
    EXPECT_EQ(note.note_DateStop(), at(2020, 1, 6, 10, 40));
    types.push_back(note.note_Type().value_or(""));
  }
  std::sort(types.begin(), types.end());
  auto expected = app::defaultTypeIds();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(types, expected);
}

TEST_F(EditorScreenTest, DeletingWaitsForTheSheetAndSaveInsideTheWaitKeepsTheNote) {
  auto withPhoto = model("Milestone");
  withPhoto->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(withPhoto->saveThisNote().close);
  const app::Note note = notes()[0];
  ASSERT_EQ(photoFiles().size(), 1u);

  // Save pressed inside the 0.2 seconds: the note is saved, never deleted, the opener told once.
  auto editor = open("Milestone", note);
  editor->deleteButton().tap();
  ASSERT_TRUE(ui::topActionSheet());
  EXPECT_EQ(ui::topActionSheet()->buttonTitleAtIndex(0), editor->model().localized("Delete"));
  ui::topActionSheet()->tapButton(0);
  EXPECT_TRUE(editor->deletePending());
  tapItem(editor->saveButton());
  loop_.advance(1);
  EXPECT_EQ(notes().size(), 1u);
  EXPECT_EQ((std::pair{opener_.saved, opener_.done}), (std::pair{1, 0}));

  // Confirmed and left alone: one save, the photo file after it.
  editor = open("Milestone", note);
  editor->deleteButton().tap();
  ui::topActionSheet()->tapButton(0);
  loop_.advance(0.1);
  EXPECT_EQ(notes().size(), 1u);
  loop_.advance(0.2);
  EXPECT_TRUE(notes().empty());
  EXPECT_TRUE(photoFiles().empty());
  EXPECT_EQ((std::pair{opener_.saved, opener_.done}), (std::pair{1, 1}));
}

TEST_F(EditorScreenTest, ANewNoteTakesAPhotoFromTheLibrary) {
  const fs::path library = temp_.path() / "library";
  ASSERT_TRUE(files::createDirectory(library).ok());
  ASSERT_TRUE(files::writeAtomic(library / "a.png", picture(1280, 960, 250).pngData().value()).ok());
  ASSERT_TRUE(files::writeAtomic(library / "b.jpg", "not a picture").ok());
  ASSERT_TRUE(files::writeAtomic(library / "notes.txt", "skipped").ok());

  auto editor = open("Weight");
  EXPECT_TRUE(editor->deleteButton().alpha() == 0 && editor->makeCopyButton().alpha() == 0);
  editor->photoButton().tap();
  auto sheet = ui::topActionSheet();
  ASSERT_TRUE(sheet);
  ASSERT_EQ(sheet->numberOfButtons(), 2) << "no camera";
  EXPECT_EQ(sheet->buttonTitleAtIndex(0), editor->model().localized("Choose Photo"));
  sheet->tapButton(0);
  runLoop();
  auto* navigation = editor->navigationController();
  auto* chooser = dynamic_cast<note_editor::photoLibraryController*>(navigation->topViewController());
  ASSERT_TRUE(chooser);
  ASSERT_EQ(chooser->files().size(), 2u);
  chooser->tableView().tapRowAtIndexPath({0, 1});  // the broken file: an alert, nothing chosen
  ASSERT_TRUE(ui::topAlert());
  ui::topAlert()->tapButton(0);
  chooser->tableView().tapRowAtIndexPath({0, 0});
  runLoop();
  auto* photo = dynamic_cast<note_editor::photoViewController*>(navigation->topViewController());
  ASSERT_TRUE(photo && photo->photoImage);
  EXPECT_EQ(photo->photoImage->pointWidth(), 640);
  EXPECT_EQ(photo->photoImage->pointHeight(), 480);
  EXPECT_TRUE(navigation->tapBackButton());
  runLoop();
  EXPECT_EQ(editor->model().photoState, 2);
  EXPECT_EQ(editor->photoView().alpha(), 1);
  tapItem(editor->saveButton());
  EXPECT_EQ(photoFiles().size(), 1u);
}

// The empty library says where pictures go; its lines break between words, and only a word too
// long for a line of its own (the folder) is broken inside.
TEST_F(EditorScreenTest, TheEmptyLibrarysMessageBreaksNoWordThatFitsALine) {
  auto editor = open("Weight");
  editor->photoButton().tap();
  ASSERT_TRUE(ui::topActionSheet());
  ui::topActionSheet()->tapButton(0);
  runLoop();
  auto* chooser =
      dynamic_cast<note_editor::photoLibraryController*>(editor->navigationController()->topViewController());
  ASSERT_TRUE(chooser && chooser->emptyLabel());
  const ui::Label& label = *chooser->emptyLabel();
  const graphics::AttributedText text = label.drawnText();
  const double width = label.bounds().width();
  auto measurer = graphics::defaultTextMeasurer();
  const double line = measurer->lineHeight(label.font());
  ASSERT_GT(measurer->measure(text, width).lineCount, 1) << "the message wraps";
  size_t start = 0;  // in UTF-16 units; the message's words before the folder are ASCII here
  std::istringstream words(label.text());
  for (std::string word; words >> word; start += word.size() + 1) {
    start = label.text().find(word, start);
    if (measurer->sizeOf(word, label.font()).width > width) continue;
    const graphics::Rect box = measurer->rangeBounds(text, width, start, word.size());
    EXPECT_LT(box.height(), line * 1.5) << "\"" << word << "\" is broken across lines in: " << label.text();
  }
}

TEST_F(EditorScreenTest, ThePhotoScreenRemovesAPhotoAndAFailedDeleteKeepsTheEditor) {
  auto withPhoto = model("Milestone");
  withPhoto->setPhoto(picture(8, 8, 200));
  ASSERT_TRUE(withPhoto->saveThisNote().close);
  const app::Note note = notes()[0];

  // The photo screen shows the photo; removing it there only clears the picture, and the
  // editor's save then removes file and record.
  auto editor = open("Milestone", note);
  editor->photoButton().tap();
  runLoop();
  auto* navigation = editor->navigationController();
  auto* photo = dynamic_cast<note_editor::photoViewController*>(navigation->topViewController());
  ASSERT_TRUE(photo && photo->photoImage);
  EXPECT_EQ(photo->photoInfo, note.noteToPhotoInfo());
  photo->removeButton().tap();
  EXPECT_EQ(photoFiles().size(), 1u);
  EXPECT_TRUE(navigation->tapBackButton());
  runLoop();
  EXPECT_FALSE(editor->model().note_Photo);
  EXPECT_EQ(editor->photoView().alpha(), 0);

  refuse(store_->path(), "BEFORE DELETE", "ZNOTE");
  editor->deleteButton().tap();
  ui::topActionSheet()->tapButton(0);
  loop_.advance(0.3);
  ASSERT_TRUE(ui::topAlert());
  EXPECT_EQ(ui::topAlert()->message(), editor->model().localized(note_editor::text_key::kDeleteFailed));
  EXPECT_EQ(notes().size(), 1u);
  EXPECT_EQ(photoFiles().size(), 1u);
  EXPECT_EQ(opener_.done, 0);
  ui::topAlert()->tapButton(0);
  tapItem(editor->saveButton());
  EXPECT_EQ(opener_.saved, 1);
  EXPECT_TRUE(photoFiles().empty());
}

struct FakeSubValueList : ui::ViewController, note_editor::subValueListScreen {
  std::vector<std::string> values;
  std::optional<std::string> current;
  note_editor::noteInputDelegate* delegate = nullptr;
  void setValues(std::vector<std::string> v) override { values = std::move(v); }
  void setStrCurrent(std::optional<std::string> c) override { current = std::move(c); }
  void setManagedObjectContext(std::shared_ptr<store::Context>) override {}
  void setNoteInputDelegate(note_editor::noteInputDelegate* d) override { delegate = d; }
  void setNote_Type(std::optional<std::string>) override {}
  void setScreenTitle(std::string) override {}
};

TEST_F(EditorScreenTest, TheSubValueEditorAnswersAndTheNoticeIsTyped) {
  storyboard_.registerController(note_editor::kStrValueListEditId,
                                 [] { return std::make_shared<FakeSubValueList>(); });
  auto editor = open("WC");
  ASSERT_TRUE(editor->noteEditTable().tapRowAtIndexPath({1, 0}));
  runLoop();
  auto* list = dynamic_cast<FakeSubValueList*>(editor->navigationController()->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->values, (std::vector<std::string>{"Dry", "Poopy", "Wet"}));
  EXPECT_EQ(list->current, "Wet");
  list->delegate->noteInputSetSubtypesAndValues(*list, "Dry");
  runLoop();
  EXPECT_EQ(editor->navigationController()->topViewController(), editor.get());
  EXPECT_EQ(static_cast<note_editor::noteEditCell*>(cell(*editor, 1, 0))->valueLable->text(), "Dry");
  EXPECT_EQ(events_.size(), 1u);

  // The notice: the keyboard comes, the done button sits on it, the text goes back on hiding.
  static_cast<note_editor::noteEditNoticeCell*>(cell(*editor, 2, 0))->editButton->tap();
  runLoop();
  EXPECT_TRUE(editor->noticeTextView().isFirstResponder());
  EXPECT_TRUE(editor->navigationController()->isNavigationBarHidden());
  EXPECT_TRUE(ui::Application::shared().isStatusBarHidden());
  const double h = editor->view()->bounds().size.height;
  EXPECT_EQ(editor->noticeTextDoneButton().frame().maxY(), h - ui::Keyboard::height());
  editor->noticeTextView().insertText("slept well");
  editor->noticeTextDoneButton().tap();
  runLoop();
  EXPECT_EQ(editor->model().note_Notice, "slept well");
  EXPECT_FALSE(editor->navigationController()->isNavigationBarHidden());
  EXPECT_EQ(editor->noticeTextBackView().alpha(), 0);
  tapItem(editor->saveButton());
  EXPECT_EQ(notes()[0].note_Notice(), "slept well");
  EXPECT_EQ(notes()[0].note_strValue(), "Dry");
}

TEST_F(EditorScreenTest, SaveWhileAStopwatchRunsKeepsTheTimerAndStoresNoNote) {
  auto record = std::make_shared<app::noteTimer>();
  record->setParam_Type("Sleep");
  record->setParam_DateStart(clock_.now() - 7200);
  record->setParam_ImgPathNum(-1);
  ASSERT_TRUE(saves_->saveTimerArrayById({record}, "Anna").ok());

  auto editor = open(std::nullopt, {}, [](noteEditController& e) {
    e.setStopWatchOn(true);
    e.setStopWatchNum(0);
  });
  EXPECT_EQ(editor->model().timerType, 1);
  EXPECT_EQ(editor->model().timeStr, "02:00:00");
  EXPECT_EQ(editor->navigationItem().rightBarButtonItem(), editor->toMainScreenButton());
  auto* timer = dynamic_cast<note_editor::noteTimerCell*>(cell(*editor, 0, 1));
  ASSERT_TRUE(timer);
  EXPECT_EQ(timer->centerButtonLable->text(), editor->model().localized("Stop"));
  EXPECT_TRUE(timer->closeButton->isHidden());
  editor->model().note_Notice = "nap";
  tapItem(editor->toMainScreenButton());
  EXPECT_EQ(opener_.saved, 1);
  EXPECT_TRUE(notes().empty());
  auto timers = saves_->loadTimerArray("Anna").value();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0]->param_Notice(), "nap");
  EXPECT_EQ(timers[0]->param_DateStart(), clock_.now() - 7200);

  // An index the file does not hold: no timer, an empty editor.
  auto lost = open(std::nullopt, {}, [](noteEditController& e) {
    e.setStopWatchOn(true);
    e.setStopWatchNum(3);
  });
  EXPECT_FALSE(lost->model().note_Type);
  EXPECT_FALSE(lost->model().timerStarted);

  // The screenshot tools' made-up timer: five minutes, nothing ticking, nothing stored.
  auto pictured = open("Walk", {}, [](noteEditController& e) { e.setLocal_ID("walk"); });
  EXPECT_EQ(pictured->model().timerType, 1);
  EXPECT_EQ(pictured->model().timeStr, "00:05:00");
  EXPECT_EQ(saves_->loadTimerArray("Anna").value().size(), 1u);
}

TEST(EditorCells, RowLinesFollowTheirSwitches) {
  using Segments = std::vector<std::pair<Point, Point>>;
  auto lines = [](ui::View& view) {
    graphics::RecordingCanvas canvas;
    view.drawRect(canvas, view.bounds());
    Segments out;
    for (const auto& line : canvas.lines()) {
      EXPECT_FALSE(line.antialias);
      EXPECT_EQ(line.width, 0.5);
      EXPECT_TRUE(line.color.approximatelyEquals(graphics::Color::rgb255(242, 239, 252, 0.3)));
      out.emplace_back(line.from, line.to);
    }
    return out;
  };
  struct Case {
    bool top, bottom, full;
    Segments expected;
  };
  const std::vector<Case> cases{
      {false, false, false, {}},
      {false, false, true, {}},
      {false, true, false, {{Point(10, 50), Point(320, 50)}}},
      {true, true, true, {{Point(0, 0.5), Point(320, 0.5)}, {Point(0, 50), Point(320, 50)}}}};
  for (const auto& c : cases) {
    note_editor::noteEditDateCell date;
    note_editor::noteEditCell value;
    date.setFrame(graphics::Rect(0, 0, 320, 50));
    value.setFrame(graphics::Rect(0, 0, 320, 50));
    date.drawTopLine = value.drawTopLine = c.top;
    date.drawBottomLine = value.drawBottomLine = c.bottom;
    date.foolLine = value.foolLine = c.full;
    EXPECT_EQ(lines(date), c.expected);
    EXPECT_EQ(lines(value), c.expected);
  }
  note_editor::noteSegmentEditCell segment;
  segment.setFrame(graphics::Rect(0, 0, 320, 50));
  EXPECT_EQ(lines(segment), (Segments{{Point(10, 50), Point(320, 50)}}));
  note_editor::noteTimerBreastCell timer;
  timer.setFrame(graphics::Rect(0, 0, 320, 180));
  EXPECT_EQ(lines(timer), (Segments{{Point(0, 180), Point(320, 180)}}));
}

// The contrast ratio of two opaque colours as the web's accessibility guidelines define it: 1 for
// the same colour, 21 for black on white; body text wants 4.5.
double contrast(const graphics::Color& a, const graphics::Color& b) {
  const auto luminance = [](const graphics::Color& c) {
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

const ui::Label* labelShowing(const ui::View& view, const std::string& text) {
  if (const auto* label = dynamic_cast<const ui::Label*>(&view); label && label->text() == text) return label;
  for (const auto& sub : view.subviews())
    if (const auto* found = labelShowing(*sub, text)) return found;
  return nullptr;
}

TEST_F(EditorScreenTest, TheDurationOverTheDatesReadsAgainstTheEditorsBackground) {
  const Date t = at(2020, 1, 6, 9, 10);
  const struct {
    const char* type;
    app::Note note;
  } cases[] = {{"Breast Feeding", addNote("Breast Feeding", t, t + 12 * 60, "Left Breast", 7, "5")},
               {"Sleep", addNote("Sleep", t, t + 2 * 3600)},
               {"Sleep", addNote("Sleep", t, t - 60)}};
  for (const auto& c : cases) {
    auto editor = open(c.type, c.note);
    const std::string header = editor->model().headerText();
    const ui::Label* label = labelShowing(*window_, header);
    ASSERT_NE(label, nullptr) << c.type << ": \"" << header << "\" is not shown";
    ASSERT_TRUE(editor->view()->backgroundColor());
    EXPECT_GE(contrast(label->textColor(), *editor->view()->backgroundColor()), 4.5) << c.type << ": " << header;
  }
}

// Pictures for people, in the build tree's test output; not compared.
TEST_F(EditorScreenTest, PicturesOfAFeedingAndAGrowthNote) {
  const fs::path output = testing_support::testOutput();
  const Date t = at(2020, 1, 6, 9, 10);
  auto feeding = addNote("Breast Feeding", t, t + 12 * 60, "Left Breast", 7, "5");
  auto editor = open("Breast Feeding", feeding);
  editor->model().note_Notice = "calm, fell asleep";
  editor->updateEditView();
  EXPECT_TRUE(ui::renderToPng(*window_, output / "note_editor_feeding.png", 2).ok());

  editor = open("Breast Feeding");
  EXPECT_TRUE(ui::renderToPng(*window_, output / "note_editor_feeding_timer.png", 2).ok());

  auto growth = addNote("Weight", t, t, std::nullopt, 7.45, "Notation_kg");
  editor = open("Weight", growth);
  editor->setPhoto(picture(64, 64, 240));
  EXPECT_TRUE(ui::renderToPng(*window_, output / "note_editor_growth.png", 2).ok());
  EXPECT_TRUE(fs::file_size(output / "note_editor_growth.png") > 0);
}

}  // namespace
}  // namespace editor_test
