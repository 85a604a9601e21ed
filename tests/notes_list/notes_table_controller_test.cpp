#include "notes_list/notes_table_controller.h"

#include <gtest/gtest.h>

#include "note_editor/note_edit_controller.h"
#include "notes_list/list_cells.h"
#include "notes_list/list_fixture.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/ui/render.h"

namespace {

using foundation::Date;
using list_test::at;
using list_test::interfaceText;
using notes_list::noteTableController_Base;

class NotesScreenTest : public list_test::ListTest {
 protected:
  std::shared_ptr<noteTableController_Base> open(bool sumStyle = false, bool withStore = true,
                                                 bool iPad = false) {
    registerEditorScreens(storyboard_);
    auto services = this->services();
    if (!withStore) services.context = nullptr;
    services.language = [this] { return interfaceText(language_); };
    storyboard_.registerController("notesList", [&] {
      return std::make_shared<noteTableController_Base>(neh([this] { return interfaceText(language_); }),
                                                        services, saves_, iPad);
    });
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

  // The text of a day's header on screen.
  static std::string header(ui::TableView& table, int section) {
    ui::View* view = table.headerViewForSection(section);
    auto* label =
        view && !view->subviews().empty() ? dynamic_cast<ui::Label*>(view->subviews()[0].get()) : nullptr;
    return label ? label->text() : "";
  }

  std::string language_ = "en";
  ui::Storyboard storyboard_;
  std::shared_ptr<ui::Window> window_;
};

// A long list read as it is scrolled: each page comes in as its rows come into view, down to the
// oldest day; a refetch keeps what was read (the list stays where it was), and a new filter starts
// again at the first day.
TEST_F(NotesScreenTest, ScrollingReadsDaysAsTheyComeIntoViewAndANewFilterShowsTheFirstDay) {
  for (int i = 0; i < 150; ++i) {
    const Date stop = at(20, 12) - i * 43200.0;
    add(i % 2 ? "WC" : "Sleep", stop - 600, stop);
  }
  auto screen = open();
  auto& table = *screen->table();
  EXPECT_EQ(screen->model().numberOfSections(), 50u);  // the first page: 100 rows of 50 days
  for (int step = 0; step < 400; ++step) {
    const double most = table.contentSize().height - table.bounds().height();
    if (table.contentOffset().y >= most) break;
    table.setContentOffset(graphics::Point(0, std::min(most, table.contentOffset().y + 200)));
    runLoop();
  }
  EXPECT_EQ(screen->model().numberOfSections(), 75u);
  const int last = table.numberOfSections() - 1;
  EXPECT_EQ(last, 74);
  EXPECT_NE(table.cellForRowAtIndexPath({last, table.numberOfRowsInSection(last) - 1}), nullptr);

  screen->performFetch();  // after an edit
  EXPECT_EQ(table.numberOfSections(), 75);
  EXPECT_NE(table.cellForRowAtIndexPath({last, 0}), nullptr);

  screen->resetAllFilteres();
  EXPECT_EQ(table.contentOffset().y, 0);
  EXPECT_NE(table.cellForRowAtIndexPath({0, 0}), nullptr);
  EXPECT_EQ(header(table, 0), "December 20, 2026");
}

// Day titles and row texts (type, times, weekdays) follow the interface language, not the host's
// locale (a C locale, as the diary meets it), and a change reaches the list the next time it comes
// on screen, without a restart.
TEST_F(NotesScreenTest, DayTitlesAndRowsFollowALanguageChangeAtOnce) {
  foundation::ScopedDefaultLocale host(foundation::Locale::posix());
  add("Sleep", at(2, 23, 30), at(3, 1, 15));
  auto screen = open();
  auto& table = *screen->table();
  screen->viewWillAppear(false);
  const auto row = [&] {
    return dynamic_cast<notes_list::iPhoneNoteCell*>(table.cellForRowAtIndexPath({0, 0}));
  };
  EXPECT_EQ(header(table, 0), "December 3, 2026");
  ASSERT_NE(row(), nullptr);
  EXPECT_EQ(row()->toTimeLable->text(), "we11:30\u202fPM - th1:15\u202fAM");

  language_ = "ru";
  screen->viewWillAppear(false);  // back from the language screen
  EXPECT_EQ(header(table, 0), "3 декабря 2026\u202fг.");
  ASSERT_NE(row(), nullptr);
  EXPECT_EQ(row()->typeLable->text(), interfaceText("ru").localized("Sleep"));
  EXPECT_EQ(row()->toTimeLable->text(), "ср23:30 - чт01:15");
}

// A timer file that cannot be read: the list says so once (not at every refresh), shows no timers
// and leaves the file as it was; once readable again, its timers show.
TEST_F(NotesScreenTest, AnUnreadableTimerFileIsToldOnceAndKept) {
  add("WC", at(3, 10), at(3, 10));
  const auto path = saves_->timerFilePath("Anna").value();
  ASSERT_TRUE(files::createDirectory(path.parent_path()).ok());
  const std::string garbage = "not a timer archive";
  ASSERT_TRUE(files::writeAtomic(path, garbage).ok());

  auto screen = open();
  ASSERT_NE(screen->timersAlert(), nullptr);
  EXPECT_TRUE(screen->timersAlert()->isVisible());
  EXPECT_EQ(screen->timersAlert()->message(), "The running timers could not be read.");
  EXPECT_EQ(screen->table()->numberOfSections(), 1) << "no timers section";
  screen->timersAlert()->tapButton(0);
  screen->performFetch();
  EXPECT_FALSE(screen->timersAlert()->isVisible()) << "told once";
  EXPECT_EQ(files::readFile(path).value(), foundation::Bytes(garbage.begin(), garbage.end()));

  auto timer = std::make_shared<app::noteTimer>();
  timer->setParam_Type(std::string("Sleep"));
  ASSERT_TRUE(saves_->saveTimerArrayById({timer}, "Anna").ok());
  screen->performFetch();
  EXPECT_EQ(screen->table()->numberOfSections(), 2);
  EXPECT_FALSE(screen->timersAlert()->isVisible());
}

TEST_F(NotesScreenTest, RowsOpenTheEditorAndSwipeDeletes) {
  add("WC", at(3, 10), at(3, 10));
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

TEST_F(NotesScreenTest, OnTheTabletARowOpensTheEditorInAFormSheet) {
  add("WC", at(3, 10), at(3, 10));
  auto screen = open(false, true, true);
  ASSERT_TRUE(screen->table()->tapRowAtIndexPath({0, 0}));
  runLoop();
  auto* navigation = dynamic_cast<ui::NavigationController*>(screen->presentedViewController());
  ASSERT_NE(navigation, nullptr);
  EXPECT_EQ(navigation->modalPresentationStyle(), ui::ModalPresentationStyle::kFormSheet);
  auto editor =
      std::dynamic_pointer_cast<note_editor::noteEditController>(navigation->viewControllers().back());
  ASSERT_NE(editor, nullptr);
  screen->noteEditWasClosedAndSaved(*editor, true);
  runLoop();
  EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(NotesScreenTest, FailedFetchShowsAnEmptyListAndAnAlert) {
  add("WC", at(3, 10), at(3, 10));
  foundation::ScopedLogCapture log;
  auto screen = open(false, false);
  EXPECT_EQ(screen->table()->numberOfSections(), 0);
  ASSERT_NE(screen->failureAlert(), nullptr);
  EXPECT_TRUE(screen->failureAlert()->isVisible());
  // The log has the error twice: in full, and with the screen's class and the step that failed.
  EXPECT_TRUE(log.contains("Unresolved error Error Domain=")) << testing::PrintToString(log.messages());
  EXPECT_TRUE(
      log.contains("[noteTableController_Base performFetch] " + screen->failureAlert()->message() + " ("))
      << testing::PrintToString(log.messages());
}

// Records what the list asks of its side pieces.
struct RecordingExtras : notes_list::ListExtras {
  std::vector<std::string> calls;
  std::shared_ptr<ui::View> makeFirstLaunchView(noteTableController_Base&,
                                                const graphics::Rect& frame) override {
    calls.push_back("overlay");
    return std::make_shared<ui::View>(frame);
  }
  void saveFirstLaunchFile(noteTableController_Base&) override { calls.push_back("save"); }
  void updateQuickStartView(noteTableController_Base&, ui::View&,
                            const std::vector<std::string>& types) override {
    calls.push_back("strip " + std::to_string(types.size()));
  }
  void noteEditWasSaved(noteTableController_Base& list) override {
    calls.push_back("saved " + std::to_string(list.model().numberOfSections()));
  }
};

TEST_F(NotesScreenTest, FirstLaunchOverlayOnlyOverAnEmptyDiaryWithoutTheFile) {
  const auto marker = home_.library() / "Settings" / "firstLaunch.txt";
  struct Case {
    const char* what;
    bool withNote;
    bool withFile;
    std::vector<std::string> calls;
  };
  const Case cases[] = {{"empty diary", false, false, {"overlay"}},
                        {"notes but no file", true, false, {"save"}},
                        {"file present", true, true, {}}};
  for (const auto& c : cases) {
    if (c.withNote) add("WC", at(3, 10), at(3, 10));
    if (c.withFile) {
      ASSERT_TRUE(files::createDirectory(marker.parent_path()).ok());
      ASSERT_TRUE(files::writeAtomic(marker, std::string_view("2026.12.01")).ok());
    }
    RecordingExtras extras;
    auto screen = std::make_shared<noteTableController_Base>(neh(), services(), saves_);
    screen->setListExtras(&extras);
    screen->view();
    EXPECT_EQ(extras.calls, c.calls) << c.what;
    EXPECT_EQ(screen->fstLaunchView() != nullptr, c.calls == std::vector<std::string>{"overlay"}) << c.what;
    if (screen->fstLaunchView()) {
      EXPECT_EQ(screen->fstLaunchView()->superview(), screen->view().get());
    }

    screen->setCurrentBabyName("Anna");
    screen->noteEditWasSaved();
    screen->updateQuickStartView();
    EXPECT_EQ(extras.calls.end()[-2], c.withNote ? "saved 1" : "saved 0") << c.what;
    EXPECT_EQ(extras.calls.back(), "strip " + std::to_string(screen->quickStartTypeArr().size()));
  }
}

TEST_F(NotesScreenTest, SummaryRowsShowTotals) {
  add("Sleep", at(4, 1), at(4, 3));
  add("Sleep", at(4, 5), at(4, 6));
  auto screen = open(true);
  auto* cell = dynamic_cast<notes_list::iPhoneSumNoteCell*>(screen->table()->cellForRowAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->countLable->text(), "3h");
  EXPECT_NE(cell->typeLable->text().find("(2)"), std::string::npos);
  EXPECT_TRUE(ui::renderToPng(*window_, testing_support::testOutput() / "notes_list_summary.png", 2).ok());
}

}  // namespace
