#include "notes_list/notes_table_controller.h"

#include <gtest/gtest.h>

#include "note_editor/note_edit_controller.h"
#include "notes_list/list_cells.h"
#include "notes_list/list_fixture.h"
#include "platform/ui/render.h"

namespace {

using list_test::at;
using notes_list::noteTableController_Base;

class NotesScreenTest : public list_test::ListTest {
 protected:
  std::shared_ptr<noteTableController_Base> open(bool sumStyle = false, bool withStore = true) {
    note_editor::registerNoteEditorScreens(
        storyboard_,
        [this] {
          note_editor::EditorServices editor;
          editor.clock = &clock_;
          editor.saves = saves_;
          editor.language = list_test::english;
          editor.library = home_.library();
          return editor;
        },
        temp_.path() / "photos");
    auto services = this->services();
    if (!withStore) services.context = nullptr;
    storyboard_.registerController(
        "notesList", [&] { return std::make_shared<noteTableController_Base>(neh(), services, saves_); });
    auto screen = std::static_pointer_cast<noteTableController_Base>(
        storyboard_.instantiateViewControllerWithIdentifier("notesList"));
    window_ = std::make_shared<ui::Window>(graphics::Rect(0, 0, 320, 568));
    window_->setRootViewController(screen);
    screen->model().setCurrentBabyName("Anna");
    screen->model().setSumStyle(sumStyle);
    screen->performFetch();
    screen->table()->layoutIfNeeded();
    runLoop();
    return screen;
  }

  ~NotesScreenTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
  }

  ui::Storyboard storyboard_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(NotesScreenTest, RowsOpenTheEditorAndSwipeDeletes) {
  add("Diaper", at(3, 10), at(3, 10));
  add("Sleep", at(4, 1), at(4, 3));
  auto screen = open();
  auto& table = *screen->table();
  ASSERT_EQ(table.numberOfSections(), 2);
  auto* cell = dynamic_cast<notes_list::iPhoneNoteCell*>(table.cellForRowAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_TRUE(cell->lastCellInSection);
  EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "notes_list_screen.png", 2).ok());

  ASSERT_TRUE(table.tapRowAtIndexPath({0, 0}));
  runLoop();
  auto* navigation = dynamic_cast<ui::NavigationController*>(screen->presentedViewController());
  ASSERT_NE(navigation, nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<note_editor::noteEditController>(navigation->viewControllers().back()),
            nullptr);
  screen->noteViewChildDone(*navigation, false);
  runLoop();

  ASSERT_TRUE(table.swipeToDeleteRowAtIndexPath({1, 0}));
  ASSERT_TRUE(table.tapDeleteConfirmationButton());
  runLoop();
  EXPECT_EQ(table.numberOfSections(), 1);
}

TEST_F(NotesScreenTest, FailedFetchShowsAnEmptyListAndAnAlert) {
  add("Diaper", at(3, 10), at(3, 10));
  auto screen = open(false, false);
  EXPECT_EQ(screen->table()->numberOfSections(), 0);
  ASSERT_NE(screen->failureAlert(), nullptr);
  EXPECT_TRUE(screen->failureAlert()->isVisible());
}

TEST_F(NotesScreenTest, SummaryRowsShowTotals) {
  add("Sleep", at(4, 1), at(4, 3));
  add("Sleep", at(4, 5), at(4, 6));
  auto screen = open(true);
  auto* cell = dynamic_cast<notes_list::iPhoneSumNoteCell*>(screen->table()->cellForRowAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->countLable->text(), "3h");
  EXPECT_NE(cell->typeLable->text().find("(2)"), std::string::npos);
}

}  // namespace
