#include "note_editor/sub_value_list.h"

#include "program/diary_console.h"
#include "note_editor/editor_fixture.h"
#include "platform/ui/screen_render.h"

namespace editor_test {
namespace {

using note_editor::SubValueList;
using Outcome = SubValueList::Outcome;
using Texts = std::vector<std::string>;

TEST(SubValueListTest, AddTrimsBeforeTheEmptyAndDuplicateChecks) {
  struct Case {
    const char* typed;
    Outcome outcome;
    Texts values;
  };
  const Case cases[] = {
      {" Milk\t", Outcome::kDuplicate, {"Milk", "Juice"}},
      {"   ", Outcome::kEmpty, {"Milk", "Juice"}},
      {"", Outcome::kEmpty, {"Milk", "Juice"}},
      {"milk", Outcome::kDone, {"milk", "Milk", "Juice"}},
      {"  Pear ", Outcome::kDone, {"Pear", "Milk", "Juice"}},
      // Only spaces and tabs are trimmed: a line break stays part of the word.
      {"Milk\n", Outcome::kDone, {"Milk\n", "Milk", "Juice"}},
      {" \tPear\n ", Outcome::kDone, {"Pear\n", "Milk", "Juice"}},
  };
  for (const auto& c : cases) {
    SubValueList list({"Milk", "Juice"}, "Juice");
    EXPECT_EQ(list.add(c.typed), c.outcome) << c.typed;
    EXPECT_EQ(list.values(), c.values) << c.typed;
    EXPECT_EQ(list.chosen(), c.outcome == Outcome::kDone ? c.values.front() : "Juice") << c.typed;
  }
}

TEST(SubValueListTest, SearchRenameRemoveAndStaleRows) {
  SubValueList list({"Milk", "Juice", "Mash"}, "Juice");
  EXPECT_EQ(list.shown(), (Texts{"Juice", "Milk", "Mash"}));  // the chosen one first
  list.search("MI");
  EXPECT_EQ(list.shown(), (Texts{"Milk"}));
  list.search("il");
  EXPECT_TRUE(list.shown().empty());
  EXPECT_FALSE(list.chooseShownRow(0));
  EXPECT_FALSE(list.removeShownRow(-1));
  list.search("");

  // Only an empty rename is refused: one onto another entry is taken as typed, less its blanks.
  EXPECT_EQ(list.rename("Milk", " "), Outcome::kEmpty);
  EXPECT_EQ(list.values(), (Texts{"Milk", "Juice", "Mash"}));
  EXPECT_EQ(list.rename("Milk", " Mash "), Outcome::kDone);
  EXPECT_EQ(list.values(), (Texts{"Mash", "Juice", "Mash"}));
  // Renaming or deleting the chosen entry leaves the chosen text, which the note keeps.
  EXPECT_EQ(list.rename("Juice", " Apple juice "), Outcome::kDone);
  EXPECT_EQ(list.values(), (Texts{"Apple juice", "Mash", "Mash"}));
  EXPECT_EQ(list.chosen(), "Juice");
  EXPECT_TRUE(list.chooseShownRow(0));
  EXPECT_TRUE(list.removeShownRow(0));
  EXPECT_EQ(list.values(), (Texts{"Mash", "Mash"}));
  EXPECT_EQ(list.chosen(), "Apple juice");
  EXPECT_FALSE(list.removeShownRow(2));
  EXPECT_EQ(SubValueList({"A"}, std::nullopt).chosen(), std::nullopt);
}

class SubValueScreenTest : public EditorTest {
 protected:
  SubValueScreenTest() {
    note_editor::registerSubValueScreens(storyboard_, [this] { return services(); });
  }

  // The editor of a new "WC" note with the sub-value editor pushed over it.
  note_editor::strValueListEditController& openList() {
    editor_ = open("WC");
    EXPECT_TRUE(editor_->noteEditTable().tapRowAtIndexPath({1, 0}));
    runLoop();
    auto* list = dynamic_cast<note_editor::strValueListEditController*>(
        editor_->navigationController()->topViewController());
    EXPECT_TRUE(list);
    return *list;
  }

  Texts stored() {
    Texts texts;
    for (auto& object : context_->fetch(store::FetchRequest{"StrValue"}).valueOr({}))
      texts.push_back(app::StrValue(object).strValue().value_or("?"));
    std::sort(texts.begin(), texts.end());
    return texts;
  }

  std::shared_ptr<note_editor::noteEditController> editor_;
};

TEST_F(SubValueScreenTest, DeletingTheChosenOneKeepsTheEditorsText) {
  auto& list = openList();
  EXPECT_EQ(list.list().shown(), (Texts{"Wet", "Dry", "Poopy"}));
  list.editValueTable();
  ASSERT_TRUE(list.valueTable().tapEditingControlAtIndexPath({0, 0}));
  ASSERT_TRUE(list.valueTable().tapDeleteConfirmationButton());
  list.done();
  runLoop();
  EXPECT_EQ(editor_->navigationController()->topViewController(), editor_.get());
  EXPECT_EQ(editor_->model().note_strVal, "Wet");
  EXPECT_EQ(stored(), (Texts{"Dry", "Poopy"}));
}

TEST_F(SubValueScreenTest, ARenameMayRepeatAnEntryAndLeavesTheChosenText) {
  auto& list = openList();
  list.editValueTable();
  ASSERT_TRUE(list.valueTable().tapRowAtIndexPath({0, 2}));  // "Poopy"
  runLoop();
  auto* rename = dynamic_cast<note_editor::strValueEditController*>(
      editor_->navigationController()->topViewController());
  ASSERT_TRUE(rename);
  // An empty name is refused and the rename screen stays; a name already listed is taken.
  rename->textField().setText(" \t");
  rename->back();
  runLoop();
  ASSERT_TRUE(ui::topAlert());
  ui::topAlert()->tapButton(0);
  EXPECT_EQ(editor_->navigationController()->topViewController(), rename);
  rename->textField().setText(" Dry ");
  rename->back();
  runLoop();
  EXPECT_FALSE(ui::topAlert());
  EXPECT_EQ(editor_->navigationController()->topViewController(), &list);
  EXPECT_EQ(list.list().values(), (Texts{"Dry", "Dry", "Wet"}));

  const auto& shown = list.list().shown();
  const int wet = static_cast<int>(std::find(shown.begin(), shown.end(), "Wet") - shown.begin());
  ASSERT_TRUE(list.valueTable().tapRowAtIndexPath({0, wet}));  // the chosen one
  runLoop();
  rename = dynamic_cast<note_editor::strValueEditController*>(
      editor_->navigationController()->topViewController());
  ASSERT_TRUE(rename);
  rename->textField().setText("Soaked ");
  rename->back();
  runLoop();
  EXPECT_EQ(editor_->navigationController()->topViewController(), &list);
  list.done();
  runLoop();
  EXPECT_EQ(editor_->model().note_strVal, "Wet");
  EXPECT_EQ(stored(), (Texts{"Dry", "Dry", "Soaked"}));
}

TEST_F(SubValueScreenTest, TheChosenRowShowsItsTickAndTheSearchFieldIsListed) {
  auto& list = openList();
  ASSERT_TRUE(ui::renderScreenToImage(*window_, 1, ui::ScreenRenderOptions{clock_.now()}).ok());
  std::vector<std::string> ticked;
  for (int row = 0; row < list.valueTable().numberOfRowsInSection(0); ++row) {
    auto* cell = dynamic_cast<note_editor::strValueCell*>(list.valueTable().cellForRowAtIndexPath({0, row}));
    ASSERT_TRUE(cell);
    const ui::Rect tick = cell->checkMarkImg->convertRectToView(cell->checkMarkImg->bounds(), nullptr);
    if (!cell->checkMarkImg->isHidden() && cell->checkMarkImg->image() && window_->bounds().contains(tick))
      ticked.push_back(cell->strValueLable->text());
  }
  EXPECT_EQ(ticked, (Texts{"Wet"}));

  testing_support::TempDir screens;
  program::DiaryConsole console(clock_, loop_, screens.path(), 1);
  const auto look = console.execute("look");
  EXPECT_NE(look.message.find(list.searchTextField().placeholder()), std::string::npos) << look.message;
  EXPECT_FALSE(list.searchTextField().placeholder().empty());
}

// A failed save is told, changes nothing stored, and still takes the person back to the note.
TEST_F(SubValueScreenTest, AFailedSaveKeepsTheStoreAndGoesBackToTheNote) {
  auto& list = openList();
  list.searchTextField().insertText("Damp");
  list.addNew();
  refuse(home_.documents() / "dataBase.sqlite", "BEFORE INSERT", "ZSTRVALUE");
  list.done();
  runLoop();
  ASSERT_TRUE(ui::topAlert());
  EXPECT_EQ(editor_->navigationController()->topViewController(), editor_.get());
  EXPECT_EQ(editor_->model().note_strVal, "Damp");  // the note keeps what the person picked
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_EQ(stored(), (Texts{"Dry", "Poopy", "Wet"}));
}

}  // namespace
}  // namespace editor_test
