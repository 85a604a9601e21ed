// A list screen built the way the diary's screens are: a view controller that is its table's data
// source and delegate, with sections, headers, swipe-delete, moving rows and selection.

#include "platform/ui/table_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/foundation/log.h"
#include "platform/ui/table_view_controller.h"
#include "platform/ui/gesture.h"
#include "platform/ui/touch.h"
#include "ui_fixture.h"

namespace {

using ui::IndexPath;

class RowCell : public ui::TableViewCell {
 public:
  RowCell() : ui::TableViewCell(ui::CellStyle::kDefault, "row") { ++made; }
  void prepareForReuse() override { ++reused; }
  static inline int made = 0;
  static inline int reused = 0;
};

class ListScreen : public ui::ViewController, public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  std::vector<std::string> titles;
  std::vector<std::vector<std::string>> rows;
  std::shared_ptr<ui::TableView> table;
  std::vector<std::string> calls;
  bool refuseSelection = false;
  bool firstSectionLocked = true;  // section 0 cannot be edited or moved
  bool forgetModelOnDelete = false;
  std::optional<IndexPath> redirectMoveTo;

  void loadView() override {
    setView(std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480)));
    table = std::make_shared<ui::TableView>(ui::Rect(0, 0, 320, 200));
    view()->addSubview(table);
  }
  void viewDidLoad() override {
    table->registerCell("row", [] { return std::make_shared<RowCell>(); });
    table->setDataSource(this);
    table->setDelegate(this);
  }

  int numberOfSectionsInTableView(ui::TableView&) override { return static_cast<int>(rows.size()); }
  int numberOfRowsInSection(ui::TableView&, int section) override {
    return static_cast<int>(rows[section].size());
  }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& tv, const IndexPath& p) override {
    auto cell = tv.dequeueReusableCellWithIdentifier("row");
    cell->textLabel().setText(rows[p.section][p.row]);
    return cell;
  }
  bool canEditRowAtIndexPath(ui::TableView&, const IndexPath& p) override {
    return !(firstSectionLocked && p.section == 0);
  }
  void commitEditingStyle(ui::TableView& tv, ui::CellEditingStyle style, const IndexPath& p) override {
    calls.push_back("commit " + std::to_string(int(style)) + " " + rows[p.section][p.row]);
    if (style != ui::CellEditingStyle::kDelete) return;
    if (!forgetModelOnDelete) rows[p.section].erase(rows[p.section].begin() + p.row);
    tv.deleteRowsAtIndexPaths({p});
  }
  bool canMoveRowAtIndexPath(ui::TableView&, const IndexPath& p) override {
    return !(firstSectionLocked && p.section == 0);
  }
  void moveRowAtIndexPath(ui::TableView&, const IndexPath& from, const IndexPath& to) override {
    std::string moved = rows[from.section][from.row];
    rows[from.section].erase(rows[from.section].begin() + from.row);
    rows[to.section].insert(rows[to.section].begin() + to.row, moved);
    calls.push_back("move " + moved);
  }

  std::optional<double> heightForHeaderInSection(ui::TableView&, int section) override {
    return section == 0 ? 0.0 : 23.0;
  }
  std::shared_ptr<ui::View> viewForHeaderInSection(ui::TableView&, int section) override {
    if (section == 0) return nullptr;
    auto header = std::make_shared<ui::Label>();
    header->setText(titles[section]);
    return header;
  }
  void willDisplayCell(ui::TableView&, ui::TableViewCell& cell, const IndexPath& p) override {
    cell.setBackgroundColor(ui::Color::clear());
    calls.push_back("display " + rows[p.section][p.row]);
  }
  std::optional<IndexPath> willSelectRowAtIndexPath(ui::TableView&, const IndexPath& p) override {
    if (refuseSelection) return std::nullopt;
    return p;
  }
  void didSelectRowAtIndexPath(ui::TableView&, const IndexPath& p) override {
    calls.push_back("select " + rows[p.section][p.row]);
  }
  void didDeselectRowAtIndexPath(ui::TableView&, const IndexPath& p) override {
    calls.push_back("deselect " + std::to_string(p.section) + "." + std::to_string(p.row));
  }
  void scrollViewDidScroll(ui::ScrollView& scroll) override {
    calls.push_back("scroll " + std::to_string(int(scroll.contentOffset().y)));
  }
  IndexPath targetIndexPathForMove(ui::TableView&, const IndexPath&, const IndexPath& proposed) override {
    return redirectMoveTo.value_or(proposed);
  }

  std::vector<std::string> shownTexts() const {
    std::vector<std::string> out;
    for (const auto& p : table->indexPathsForVisibleRows()) {
      out.push_back(table->cellForRowAtIndexPath(p)->textLabel().text());
    }
    return out;
  }
};

class TableViewTest : public ui_testing::UiTest {
 protected:
  TableViewTest() {
    RowCell::made = RowCell::reused = 0;
    screen = std::make_shared<ListScreen>();
    screen->titles = {"timers", "Today", "Yesterday"};
    screen->rows = {{"timer"}, {"a", "b", "c"}, {"d", "e", "f", "g", "h", "i"}};
    screen->view();
    screen->table->reloadData();
  }
  std::shared_ptr<ListScreen> screen;
};

TEST_F(TableViewTest, LaysSectionsOutFromTheDataSourceAndMakesCellsOnlyForVisibleRows) {
  ui::TableView& t = *screen->table;
  ASSERT_EQ(t.numberOfSections(), 3);
  EXPECT_EQ(t.numberOfRowsInSection(2), 6);
  // Section 0 has no header; the others a 23-point one.
  EXPECT_EQ(t.rectForRowAtIndexPath({0, 0}), ui::Rect(0, 0, 320, 44));
  EXPECT_EQ(t.rectForHeaderInSection(1), ui::Rect(0, 44, 320, 23));
  EXPECT_EQ(t.rectForRowAtIndexPath({1, 0}), ui::Rect(0, 67, 320, 44));
  EXPECT_EQ(t.contentSize().height, 44 + 23 + 3 * 44 + 23 + 6 * 44);
  // 200 points show rows 0.0 to 1.2 and the first header.
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("timer", "a", "b", "c"));
  EXPECT_EQ(RowCell::made, 4);
  ASSERT_NE(t.headerViewForSection(1), nullptr);
  EXPECT_EQ(t.headerViewForSection(1)->frame(), ui::Rect(0, 44, 320, 23));
  EXPECT_EQ(t.headerViewForSection(0), nullptr);
  EXPECT_EQ(t.cellForRowAtIndexPath({2, 5}), nullptr);
  // Each newly shown cell was announced to the delegate, which made its background clear.
  EXPECT_THAT(screen->calls, ::testing::ElementsAre("display timer", "display a", "display b", "display c"));
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 0})->backgroundColor(), ui::Color::clear());
}

TEST_F(TableViewTest, ScrollingReusesCellsThatLeftTheScreen) {
  ui::TableView& t = *screen->table;
  t.scrollToRowAtIndexPath({2, 5}, ui::ScrollPosition::kBottom);
  EXPECT_EQ(t.contentOffset().y, t.contentSize().height - 200);
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("e", "f", "g", "h", "i"));
  EXPECT_LE(RowCell::made, 6);
  EXPECT_GE(RowCell::reused, 3);
  // The cells sit at their rows in content coordinates.
  EXPECT_EQ(t.cellForRowAtIndexPath({2, 5})->frame(), t.rectForRowAtIndexPath({2, 5}));
}

TEST_F(TableViewTest, SwipeDeleteCommitsThroughTheDataSourceAndTheRowsClose) {
  ui::TableView& t = *screen->table;
  ui::TableViewCell* cellB = t.cellForRowAtIndexPath({1, 1});
  // The timers section cannot be edited: no delete button there.
  EXPECT_FALSE(t.swipeToDeleteRowAtIndexPath({0, 0}));
  ASSERT_TRUE(t.swipeToDeleteRowAtIndexPath({1, 0}));
  EXPECT_EQ(t.deleteConfirmationIndexPath(), (IndexPath{1, 0}));
  EXPECT_EQ(t.deleteConfirmationButtonTitle(), "Delete");
  EXPECT_TRUE(t.cellForRowAtIndexPath({1, 0})->showsDeleteConfirmation());
  screen->calls.clear();
  ASSERT_TRUE(t.tapDeleteConfirmationButton());
  EXPECT_THAT(screen->calls, ::testing::ElementsAre("commit 1 a", "display d"));
  EXPECT_EQ(t.numberOfRowsInSection(1), 2);
  // The rows below moved up and kept their cells.
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 0}), cellB);
  EXPECT_EQ(cellB->frame(), t.rectForRowAtIndexPath({1, 0}));
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("timer", "b", "c", "d"));
  EXPECT_FALSE(t.deleteConfirmationIndexPath());
}

TEST_F(TableViewTest, AnUpdateThatDoesNotAddUpReloadsInsteadOfShowingStaleRows) {
  foundation::ScopedLogCapture log;
  screen->forgetModelOnDelete = true;
  ASSERT_TRUE(screen->table->swipeToDeleteRowAtIndexPath({1, 2}));
  ASSERT_TRUE(screen->table->tapDeleteConfirmationButton());
  EXPECT_TRUE(log.contains("Invalid table update"));
  EXPECT_EQ(screen->table->numberOfRowsInSection(1), 3);
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("timer", "a", "b", "c"));
}

TEST_F(TableViewTest, EveryUnsoundUpdateSaysWhyAndReloads) {
  // Each update is wrong against the data source as it stands (sections of 1, 3 and 6 rows, the
  // second one losing its last row where a case says so).
  struct Case {
    const char* why;
    bool dropLastRow;
    std::function<void(ui::TableView&)> update;
  };
  const Case cases[] = {
      {"a deleted section does not exist", false, [](ui::TableView& t) { t.deleteSections({3}); }},
      {"a reloaded section does not exist", false,
       [](ui::TableView& t) {
         t.beginUpdates();
         t.deleteSections({1});
         t.reloadSections({1});
         t.endUpdates();
       }},
      {"an inserted section is out of range", false, [](ui::TableView& t) { t.insertSections({5}); }},
      {"the number of sections is 3, expected 2", false, [](ui::TableView& t) { t.deleteSections({2}); }},
      {"a deleted row does not exist in section 1", true,
       [](ui::TableView& t) {
         t.deleteRowsAtIndexPaths({{1, 3}});
       }},
      {"an inserted row is out of range in section 1", false,
       [](ui::TableView& t) {
         t.beginUpdates();
         t.deleteRowsAtIndexPaths({{1, 0}});
         t.insertRowsAtIndexPaths({{1, 3}});
         t.endUpdates();
       }},
      {"section 1 has 2 rows, expected 3", true,
       [](ui::TableView& t) {
         t.reloadRowsAtIndexPaths({{1, 0}});
       }},
      {"a reloaded row does not exist", false,
       [](ui::TableView& t) {
         t.reloadRowsAtIndexPaths({{2, 9}});
       }},
      {"a moved row does not exist", false, [](ui::TableView& t) {
         // The counts add up (a row leaves section 0 and one arrives), but the source is nowhere.
         t.beginUpdates();
         t.deleteRowsAtIndexPaths({{0, 0}});
         t.moveRowAtIndexPath({5, 0}, {0, 0});
         t.endUpdates();
       }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    screen->rows = {{"timer"}, {"a", "b", "c"}, {"d", "e", "f", "g", "h", "i"}};
    screen->table->reloadData();
    if (c.dropLastRow) screen->rows[1].pop_back();
    foundation::ScopedLogCapture log;
    c.update(*screen->table);
    EXPECT_TRUE(log.contains(std::string("Invalid table update (") + c.why + ")"));
    // The reload shows the data source as it is, not the table's idea of it.
    for (int s = 0; s < 3; ++s)
      EXPECT_EQ(screen->table->numberOfRowsInSection(s), static_cast<int>(screen->rows[s].size()));
  }
}

TEST_F(TableViewTest, ATapWhileTheDeleteButtonShowsOnlyClosesIt) {
  ui::TableView& t = *screen->table;
  ASSERT_TRUE(t.swipeToDeleteRowAtIndexPath({1, 1}));
  screen->calls.clear();
  EXPECT_FALSE(t.tapRowAtIndexPath({1, 0}));
  EXPECT_TRUE(screen->calls.empty());
  EXPECT_FALSE(t.deleteConfirmationIndexPath());
  EXPECT_TRUE(t.tapRowAtIndexPath({1, 0}));
  EXPECT_THAT(screen->calls, ::testing::ElementsAre("select a"));
}

TEST_F(TableViewTest, SelectionGoesThroughTheDelegateAndMovesBetweenRows) {
  ui::TableView& t = *screen->table;
  screen->calls.clear();
  EXPECT_TRUE(t.tapRowAtIndexPath({1, 1}));
  EXPECT_TRUE(t.cellForRowAtIndexPath({1, 1})->isSelected());
  EXPECT_TRUE(t.tapRowAtIndexPath({1, 2}));
  EXPECT_FALSE(t.cellForRowAtIndexPath({1, 1})->isSelected());
  EXPECT_EQ(t.indexPathForSelectedRow(), (IndexPath{1, 2}));
  EXPECT_THAT(screen->calls, ::testing::ElementsAre("select b", "deselect 1.1", "select c"));
  screen->refuseSelection = true;
  screen->calls.clear();
  EXPECT_FALSE(t.tapRowAtIndexPath({1, 0}));
  EXPECT_TRUE(screen->calls.empty());
  // Selecting from code tells nobody; reloading forgets the selection.
  t.selectRowAtIndexPath(IndexPath{0, 0}, false);
  EXPECT_TRUE(screen->calls.empty());
  t.reloadData();
  EXPECT_FALSE(t.indexPathForSelectedRow());
}

TEST_F(TableViewTest, ATouchOnACellSelectsItsRowButADragScrolls) {
  ui::TouchInjector touch(*screen->view());
  screen->calls.clear();
  // Row 1.1 starts at y 111; the label inside the cell takes no touches, so the row does.
  touch.tap(ui::Point(100, 120));
  EXPECT_THAT(screen->calls, ::testing::ElementsAre("select b"));
  screen->calls.clear();
  touch.drag(ui::Point(100, 180), ui::Point(100, 80));
  EXPECT_EQ(screen->table->contentOffset().y, 100);
  EXPECT_THAT(screen->calls, ::testing::Not(::testing::Contains("select c")));
}

TEST_F(TableViewTest, FingerAndWheelStopAtTheEndsAndTheDelegateHearsEveryMove) {
  ui::TableView& t = *screen->table;
  const double bottom = t.contentSize().height - 200;
  ui::TouchInjector touch(*screen->view());
  struct Case {
    const char* how;
    std::function<void()> act;
    double offset;
  };
  const Case cases[] = {
      {"a long drag up stops at the end", [&] { touch.drag(ui::Point(100, 190), ui::Point(100, -400)); }, bottom},
      {"the wheel at the end moves nothing", [&] { ui::scrollWheelAt(*screen->view(), ui::Point(100, 100), ui::Point(0, 50)); }, bottom},
      {"the wheel up", [&] { ui::scrollWheelAt(*screen->view(), ui::Point(100, 100), ui::Point(0, -90)); }, bottom - 90},
      {"a drag down past the top stops there", [&] { touch.drag(ui::Point(100, 10), ui::Point(100, 600)); }, 0},
  };
  for (const auto& c : cases) {
    c.act();
    EXPECT_EQ(t.contentOffset().y, c.offset) << c.how;
  }
  // Rows that came into view were announced; no drag selected a row.
  EXPECT_THAT(screen->calls, ::testing::Contains("display i"));
  EXPECT_THAT(screen->calls, ::testing::Contains("scroll " + std::to_string(int(bottom))));
  EXPECT_THAT(screen->calls, ::testing::Contains("scroll 0"));
  EXPECT_THAT(screen->calls, ::testing::Not(::testing::Contains(::testing::StartsWith("select"))));
  EXPECT_FALSE(ui::scrollWheelAt(*screen->view(), ui::Point(100, 400), ui::Point(0, 50)));  // not over the list
  // A reload with fewer rows brings the end back into view.
  t.scrollToRowAtIndexPath({2, 5}, ui::ScrollPosition::kBottom);
  screen->rows[2].resize(1);
  t.reloadData();
  EXPECT_EQ(t.contentOffset().y, t.contentSize().height - 200);
}

TEST_F(TableViewTest, AContainersPanTakesSidewaysDragsAndLeavesTheListItsOwn) {
  int panned = 0;
  auto pan = std::make_shared<ui::PanGestureRecognizer>([&](ui::GestureRecognizer&) { ++panned; });
  screen->view()->addGestureRecognizer(pan);
  ui::TouchInjector touch(*screen->view());
  touch.drag(ui::Point(100, 180), ui::Point(110, 80));
  EXPECT_EQ(screen->table->contentOffset().y, 100);
  EXPECT_EQ(panned, 0);
  touch.drag(ui::Point(50, 100), ui::Point(250, 110));
  EXPECT_GT(panned, 0);
  EXPECT_EQ(screen->table->contentOffset().y, 100);
  // To the left across a row, the finger swipes it: its Delete button shows, the container stays.
  panned = 0;
  touch.drag(ui::Point(250, 150), ui::Point(60, 154));
  EXPECT_EQ(panned, 0);
  ASSERT_TRUE(screen->table->deleteConfirmationIndexPath());
  EXPECT_EQ(*screen->table->deleteConfirmationIndexPath(), (IndexPath{2, 0}));
  // Slid half off the screen (a side menu open beside it), the list leaves that drag to the container.
  screen->table->hideDeleteConfirmationButton();
  screen->table->setFrame(ui::Rect(160, 0, 320, 200));
  touch.drag(ui::Point(300, 150), ui::Point(170, 154));
  EXPECT_GT(panned, 0);
  EXPECT_FALSE(screen->table->deleteConfirmationIndexPath());
  screen->table->setFrame(ui::Rect(0, 0, 320, 200));
  // A list whose rows all fit lets even an upward drag go to the container.
  screen->rows = {{"only"}};
  screen->table->reloadData();
  panned = 0;
  touch.drag(ui::Point(100, 150), ui::Point(100, 50));
  EXPECT_GT(panned, 0);
}

TEST_F(TableViewTest, TheDeleteButtonIsOnTheRowAndATouchCommitsOrHidesIt) {
  ui::TableView& t = *screen->table;
  ASSERT_TRUE(t.swipeToDeleteRowAtIndexPath({1, 1}));
  ui::Button* button = t.deleteConfirmationButton();
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->superview(), t.cellForRowAtIndexPath({1, 1}));
  EXPECT_EQ(button->currentTitle(), "Delete");
  EXPECT_EQ(button->frame().maxX(), 320);
  ui::TouchInjector touch(*screen->view());
  // A touch on another row hides it and commits nothing.
  touch.tap(ui::Point(100, 80));
  EXPECT_EQ(t.deleteConfirmationButton(), nullptr);
  EXPECT_THAT(screen->calls, ::testing::Not(::testing::Contains(::testing::StartsWith("commit"))));
  ASSERT_TRUE(t.swipeToDeleteRowAtIndexPath({1, 1}));
  const ui::Rect frame = t.deleteConfirmationButton()->convertRectToView(t.deleteConfirmationButton()->bounds(), screen->view().get());
  touch.tap(frame.center());
  EXPECT_THAT(screen->calls, ::testing::Contains("commit 1 b"));
  // A touch outside the list closes the button too, and goes on to what it touched.
  ASSERT_TRUE(t.swipeToDeleteRowAtIndexPath({1, 1}));
  auto outside = std::make_shared<ui::Button>(ui::Rect(0, 300, 100, 40));
  int outsideTaps = 0;
  outside->addTarget([&](ui::Control&) { ++outsideTaps; }, ui::kControlEventTouchUpInside);
  screen->view()->addSubview(outside);
  touch.tap(ui::Point(50, 320));
  EXPECT_FALSE(t.deleteConfirmationIndexPath());
  EXPECT_EQ(outsideTaps, 1);
  EXPECT_EQ(t.numberOfRowsInSection(1), 2);
  EXPECT_EQ(t.deleteConfirmationButton(), nullptr);
}

TEST_F(TableViewTest, MovingARowNeedsEditingAndReachesTheDataSource) {
  ui::TableView& t = *screen->table;
  EXPECT_FALSE(t.moveRowByUser({1, 0}, {1, 2}));
  t.setEditing(true, false);
  EXPECT_TRUE(t.cellForRowAtIndexPath({1, 0})->isEditing());
  EXPECT_FALSE(t.moveRowByUser({0, 0}, {1, 0}));  // the timers section stays put
  ui::TableViewCell* cellA = t.cellForRowAtIndexPath({1, 0});
  ASSERT_TRUE(t.moveRowByUser({1, 0}, {1, 2}));
  EXPECT_THAT(screen->rows[1], ::testing::ElementsAre("b", "c", "a"));
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 2}), cellA);
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("timer", "b", "c", "a"));
  // Across sections, where the delegate redirects the drop.
  screen->redirectMoveTo = IndexPath{2, 0};
  ASSERT_TRUE(t.moveRowByUser({1, 0}, {2, 3}));
  EXPECT_THAT(screen->rows[2], ::testing::ElementsAre("b", "d", "e", "f", "g", "h", "i"));
  EXPECT_EQ(t.numberOfRowsInSection(1), 2);
  EXPECT_EQ(t.numberOfRowsInSection(2), 7);
}

TEST_F(TableViewTest, BatchUpdatesNameDeletionsAsTheyWereAndInsertionsAsTheyWillBe) {
  ui::TableView& t = *screen->table;
  ui::TableViewCell* cellB = t.cellForRowAtIndexPath({1, 1});
  ui::TableViewCell* cellC = t.cellForRowAtIndexPath({1, 2});
  screen->rows[1] = {"b", "c", "new"};
  t.beginUpdates();
  t.deleteRowsAtIndexPaths({{1, 0}});
  t.insertRowsAtIndexPaths({{1, 2}});
  t.endUpdates();
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 0}), cellB);
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 1}), cellC);
  EXPECT_THAT(screen->shownTexts(), ::testing::ElementsAre("timer", "b", "c", "new"));
  // Reloading a row asks for its cell again.
  screen->rows[1][0] = "B";
  t.reloadRowsAtIndexPaths({{1, 0}});
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 0})->textLabel().text(), "B");
  // Removing a whole section.
  screen->rows.erase(screen->rows.begin());
  screen->titles.erase(screen->titles.begin());
  t.deleteSections({0});
  EXPECT_EQ(t.numberOfSections(), 2);
  EXPECT_EQ(t.cellForRowAtIndexPath({0, 1}), cellC);
}

TEST_F(TableViewTest, EditingModeOffersDeletionThroughTheEditingControl) {
  ui::TableView& t = *screen->table;
  EXPECT_FALSE(t.tapEditingControlAtIndexPath({1, 0}));
  t.setEditing(true, false);
  EXPECT_FALSE(t.swipeToDeleteRowAtIndexPath({1, 0}));  // no swipe while editing
  ASSERT_TRUE(t.tapEditingControlAtIndexPath({1, 0}));
  ASSERT_TRUE(t.tapDeleteConfirmationButton());
  EXPECT_THAT(screen->rows[1], ::testing::ElementsAre("b", "c"));
  // Rows are not selected while editing unless the table allows it.
  EXPECT_FALSE(t.tapRowAtIndexPath({1, 0}));
  t.setAllowsSelectionDuringEditing(true);
  EXPECT_TRUE(t.tapRowAtIndexPath({1, 0}));
}

TEST_F(TableViewTest, ATableWithoutDataSourceShowsNothingAndADataSourceWithoutCellIsSurvived) {
  ui::TableView empty(ui::Rect(0, 0, 320, 100));
  empty.reloadData();
  EXPECT_EQ(empty.numberOfSections(), 0);
  EXPECT_TRUE(empty.visibleCells().empty());

  struct NoCells : ui::TableViewDataSource {
    int numberOfRowsInSection(ui::TableView&, int) override { return 2; }
    std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, const IndexPath&) override {
      return nullptr;
    }
  } source;
  foundation::ScopedLogCapture log;
  ui::TableView table(ui::Rect(0, 0, 320, 100));
  table.setDataSource(&source);
  table.reloadData();
  EXPECT_EQ(table.visibleCells().size(), 2u);
  EXPECT_TRUE(log.contains("gave no cell"));
  // Without a registered prototype there is nothing to dequeue.
  EXPECT_EQ(table.dequeueReusableCellWithIdentifier("unknown"), nullptr);
}

// An order editor: always reordering, no delete controls, and a source that reloads after a move.
class OrderEditor : public ui::TableViewController,
                    public ui::TableViewDataSource,
                    public ui::TableViewDelegate {
 public:
  std::vector<std::string> keys{"Breast Feeding", "Sleep", "WC", "Walk"};
  void viewDidLoad() override {
    tableView().registerCell(
        "cell", [] { return std::make_shared<ui::TableViewCell>(ui::CellStyle::kDefault, "cell"); });
    setEditing(true, false);
  }
  int numberOfRowsInSection(ui::TableView&, int) override { return static_cast<int>(keys.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& tv, const IndexPath& p) override {
    auto cell = tv.dequeueReusableCellWithIdentifier("cell");
    cell->textLabel().setText(keys[p.row]);
    return cell;
  }
  bool canMoveRowAtIndexPath(ui::TableView&, const IndexPath&) override { return true; }
  ui::CellEditingStyle editingStyleForRowAtIndexPath(ui::TableView&, const IndexPath&) override {
    return ui::CellEditingStyle::kNone;
  }
  void moveRowAtIndexPath(ui::TableView& tv, const IndexPath& from, const IndexPath& to) override {
    std::string key = keys[from.row];
    keys.erase(keys.begin() + from.row);
    keys.insert(keys.begin() + to.row, key);
    tv.reloadData();
  }
  std::vector<std::string> shown() {
    std::vector<std::string> out;
    for (const auto& p : tableView().indexPathsForVisibleRows()) {
      out.push_back(tableView().cellForRowAtIndexPath(p)->textLabel().text());
    }
    return out;
  }
};

TEST_F(TableViewTest, ATableScreenReordersItsRowsWhenItsSourceReloadsDuringTheMove) {
  auto editor = std::make_shared<OrderEditor>();
  ui::TableView& t = editor->tableView();
  EXPECT_EQ(t.dataSource(), editor.get());
  EXPECT_TRUE(editor->isEditing());
  EXPECT_TRUE(t.isEditing());
  t.layoutIfNeeded();  // the table loads at its first layout
  EXPECT_THAT(editor->shown(), ::testing::ElementsAre("Breast Feeding", "Sleep", "WC", "Walk"));
  ASSERT_TRUE(t.moveRowByUser({0, 0}, {0, 2}));
  EXPECT_THAT(editor->keys, ::testing::ElementsAre("Sleep", "WC", "Breast Feeding", "Walk"));
  EXPECT_THAT(editor->shown(), ::testing::ElementsAre("Sleep", "WC", "Breast Feeding", "Walk"));
  // A drop beyond the end lands on the last row.
  ASSERT_TRUE(t.moveRowByUser({0, 0}, {0, 9}));
  EXPECT_THAT(editor->shown(), ::testing::ElementsAre("WC", "Breast Feeding", "Walk", "Sleep"));
  // No delete controls in this list.
  EXPECT_FALSE(t.tapEditingControlAtIndexPath({0, 1}));
  editor->setEditing(false, false);
  EXPECT_FALSE(t.isEditing());
  EXPECT_FALSE(t.moveRowByUser({0, 0}, {0, 1}));
}

// --- The editing controls a finger reaches: the delete control at the left, the grip at the right.

// A row's controls as shown: "delete" or "-" at the left, "grip" or "-" at the right, and what they
// are called for a person.
std::string controlsOf(ui::TableView& t, IndexPath p) {
  ui::TableViewCell* cell = t.cellForRowAtIndexPath(p);
  if (!cell) return "no cell";
  std::string out = cell->editingControl() ? cell->editingControl()->accessibilityLabel() : "-";
  out += " | ";
  out += cell->reorderControl() ? cell->reorderControl()->accessibilityLabel() : "-";
  return out;
}

TEST_F(TableViewTest, EditingRowsCarryTheControlsTheirSourceAllows) {
  ui::TableView& t = *screen->table;
  EXPECT_EQ(controlsOf(t, {1, 0}), "- | -");  // nothing outside editing mode
  t.setEditing(true, false);
  struct Case {
    IndexPath row;
    std::string controls;
    double contentX, contentWidth;  // the content gives way to the controls
  };
  for (const Case& c : {Case{{0, 0}, "- | -", 0, 320},  // neither edited nor moved
                        Case{{1, 0}, "Delete a | Reorder a", 38, 244},
                        Case{{1, 2}, "Delete c | Reorder c", 38, 244}}) {
    EXPECT_EQ(controlsOf(t, c.row), c.controls) << c.row.section << "." << c.row.row;
    const ui::Rect content = t.cellForRowAtIndexPath(c.row)->contentView().frame();
    EXPECT_EQ(std::pair(content.x(), content.width()), std::pair(c.contentX, c.contentWidth));
  }
  // Rows that come into view while editing get theirs; leaving editing takes them all away.
  t.setContentOffset(ui::Point(0, 280));
  EXPECT_EQ(controlsOf(t, {2, 5}), "Delete i | Reorder i");
  t.setEditing(false, false);
  EXPECT_EQ(controlsOf(t, {2, 5}), "- | -");
  EXPECT_EQ(t.cellForRowAtIndexPath({2, 5})->contentView().frame().width(), 320);
}

TEST_F(TableViewTest, ATapOnTheDeleteControlOffersTheDeleteButton) {
  ui::TableView& t = *screen->table;
  t.setEditing(true, false);
  ui::TouchInjector touch(*screen->view());
  // Row 1.1 ("b") lies from 111 to 155; its delete control takes the first 38 points.
  touch.tap(ui::Point(19, 133));
  ASSERT_EQ(t.deleteConfirmationIndexPath(), std::optional<IndexPath>(IndexPath{1, 1}));
  ui::Button* button = t.deleteConfirmationButton();
  ASSERT_NE(button, nullptr);
  touch.tap(button->convertRectToView(button->bounds(), screen->view().get()).center());
  EXPECT_THAT(screen->rows[1], ::testing::ElementsAre("a", "c"));
  EXPECT_THAT(screen->calls, ::testing::Contains("commit 1 b"));
  // The locked row shows no control: a tap at its left edge selects nothing and deletes nothing.
  touch.tap(ui::Point(19, 22));
  EXPECT_FALSE(t.deleteConfirmationIndexPath());
}

TEST_F(TableViewTest, AFingerOnTheGripCarriesTheRowAndADragElsewhereScrolls) {
  ui::TableView& t = *screen->table;
  ui::TouchInjector touch(*screen->view());
  // Rows: timer 0-44 | header | a 67-111, b 111-155, c 155-199 | header 199-222 | d 222-266 … i
  // 442-486. The list shows 200 points; the grip is the row's last 38 points.
  struct Case {
    const char* how;
    ui::Point from, to;
    std::vector<std::string> today, yesterday;
    double offset;
  };
  const std::vector<std::string> today{"a", "b", "c"}, yesterday{"d", "e", "f", "g", "h", "i"};
  const Case cases[] = {
      {"a down past c's middle", {301, 89}, {301, 180}, {"b", "c", "a"}, yesterday, 0},
      {"c up onto a", {301, 177}, {301, 80}, {"c", "a", "b"}, yesterday, 0},
      {"a onto b's middle takes its place", {301, 89}, {301, 133}, {"b", "a", "c"}, yesterday, 0},
      {"a let go where it was", {301, 89}, {301, 95}, today, yesterday, 0},
      {"a pushed past the list's end goes last", {301, 89}, {301, 900}, {"b", "c"},
       {"d", "e", "f", "g", "h", "i", "a"}, 286},
      {"a drag in the row's middle scrolls", {150, 180}, {150, 80}, today, yesterday, 100},
      {"so does one at its left edge", {19, 180}, {19, 80}, today, yesterday, 100},
      {"the locked row has no grip", {301, 22}, {301, 150}, today, yesterday, 0},
  };
  for (const Case& c : cases) {
    screen->rows = {{"timer"}, today, yesterday};
    t.setEditing(false, false);
    t.reloadData();
    t.setContentOffset(ui::Point(0, 0));
    t.setEditing(true, false);
    screen->calls.clear();
    touch.drag(c.from, c.to);
    EXPECT_EQ(screen->rows[1], c.today) << c.how;
    EXPECT_EQ(screen->rows[2], c.yesterday) << c.how;
    EXPECT_EQ(t.contentOffset().y, c.offset) << c.how;
    EXPECT_FALSE(t.reorderingIndexPath()) << c.how;
    EXPECT_THAT(screen->calls, ::testing::Not(::testing::Contains(::testing::StartsWith("select")))) << c.how;
    // Every row is back in its place, the moved one included.
    for (const auto& p : t.indexPathsForVisibleRows())
      EXPECT_EQ(t.cellForRowAtIndexPath(p)->frame(), t.rectForRowAtIndexPath(p)) << c.how;
  }
}

TEST_F(TableViewTest, TheCarriedRowFollowsTheFingerUntilItIsLetGo) {
  ui::TableView& t = *screen->table;
  t.setEditing(true, false);
  ui::TouchInjector touch(*screen->view());
  ui::TableViewCell* a = t.cellForRowAtIndexPath({1, 0});
  touch.began(ui::Point(301, 89));
  touch.moved(ui::Point(301, 129));
  EXPECT_EQ(t.reorderingIndexPath(), std::optional<IndexPath>(IndexPath{1, 0}));
  EXPECT_EQ(a->frame().y(), 107);
  // Shown over the rows it passes.
  EXPECT_EQ(t.subviews().back().get(), a);
  // A reload meanwhile (the source changed) drops the carry; the finger then moves nothing.
  t.reloadData();
  touch.moved(ui::Point(301, 170));
  touch.ended();
  EXPECT_THAT(screen->rows[1], ::testing::ElementsAre("a", "b", "c"));
  // A cancelled touch puts the row back.
  touch.began(ui::Point(301, 89));
  touch.moved(ui::Point(301, 170));
  touch.cancelled();
  EXPECT_FALSE(t.reorderingIndexPath());
  EXPECT_THAT(screen->rows[1], ::testing::ElementsAre("a", "b", "c"));
  EXPECT_EQ(t.cellForRowAtIndexPath({1, 0})->frame().y(), 67);
  // Carried past the list's end, the row stays under the finger, in the table, while the list
  // moves on beneath it to its end.
  ui::TableViewCell* carried = t.cellForRowAtIndexPath({1, 0});
  touch.began(ui::Point(301, 89));
  touch.moved(ui::Point(301, 500));
  EXPECT_EQ(t.contentOffset().y, 286);
  EXPECT_EQ(carried->superview(), &t);
  EXPECT_EQ(carried->frame().maxY(), 286 + 200);
  // Still row "a": not handed out again for a row that came into view.
  EXPECT_EQ(carried->textLabel().text(), "a");
  EXPECT_EQ(t.indexPathForCell(carried), std::optional<IndexPath>(IndexPath{1, 0}));
  touch.ended();
  EXPECT_THAT(screen->rows[2], ::testing::ElementsAre("d", "e", "f", "g", "h", "i", "a"));
}

}  // namespace
