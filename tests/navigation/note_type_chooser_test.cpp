#include "navigation/note_type_chooser.h"

#include <sys/resource.h>

#include <csignal>

#include "app/note_types.h"
#include "navigation/type_order_editor.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/alert.h"
#include "platform/ui/animation.h"
#include "platform/ui/image_library.h"
#include "platform/ui/touch.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace navigation {
namespace {

namespace fs = std::filesystem;

// Stands in for the reminder list: it pushes the chooser and pops what remains on a YES.
struct ReminderList : ui::ViewController, reminderChooseDelegate {
  std::vector<bool> answers;
  size_t stackAtAnswer = 0;
  void doDismissMeDone(ui::ViewController&, bool done) override {
    answers.push_back(done);
    stackAtAnswer = navigationController()->viewControllers().size();
    if (done) navigationController()->popViewControllerAnimated(true);
  }
};

class ChooserTest : public ui_testing::UiTest {
 protected:
  // A bundle of the two badge images only.
  ChooserTest() {
    fs::create_directories(library());
    fs::create_directories(temp_.path() / "bundle");
    const auto png = graphics::Image(4, 4).pngData().value();
    for (const char* name : {"iPhone_badge_no_letter.png", "icon_weight_badge.png"})
      EXPECT_TRUE(files::writeAtomic(temp_.path() / "bundle" / name, png).ok());
    previousBundle_ = runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(temp_.path() / "bundle"));
    ui::clearImageCache();
  }
  ~ChooserTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
    runtime::Bundle::setMain(previousBundle_);
    ui::clearImageCache();
  }

  fs::path library() const { return temp_.path() / "Library"; }

  ChooserServices services() {
    ChooserServices s;
    static auto bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
    s.language = [] {
      return app::InterfaceText(
          "en", [](std::string_view key) { return bundle->localizedStringInLanguage(key, "en"); });
    };
    s.library = library();
    s.tutorialState = [this] { return tutorial_; };
    s.setTutorialState = [this](std::int32_t state) -> foundation::Status {
      tutorial_ = state;
      return {};
    };
    return s;
  }

  // A fresh storyboard (as after a restart) and the chooser in note mode, on screen.
  noteTypeTableController& openChooser() {
    storyboard_ = std::make_unique<ui::Storyboard>();
    registerChooserScreens(*storyboard_, [this] { return services(); });
    navigation_ = std::dynamic_pointer_cast<ui::NavigationController>(
        storyboard_->instantiateViewControllerWithIdentifier(kAddNoteNavigationId));
    show(navigation_);
    return *dynamic_cast<noteTypeTableController*>(navigation_->topViewController());
  }

  void show(std::shared_ptr<ui::ViewController> root) {
    if (window_) window_->setRootViewController(nullptr);
    window_ = std::make_shared<ui::Window>();
    window_->setRootViewController(std::move(root));
    window_->makeKeyAndVisible();
    runLoop();
  }

  noteTypeListEditController& openOrderEditor(noteTypeTableController& chooser) {
    chooser.edit();
    runLoop();
    return *dynamic_cast<noteTypeListEditController*>(navigation_->topViewController());
  }

  testing_support::TempDir temp_;
  std::shared_ptr<runtime::Bundle> previousBundle_;
  std::int32_t tutorial_ = -1;
  std::unique_ptr<ui::Storyboard> storyboard_;
  std::shared_ptr<ui::NavigationController> navigation_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(ChooserTest, AnEditedOrderSurvivesARestartAndTheTutorialMovesOnOnce) {
  tutorial_ = 3;
  auto& chooser = openChooser();
  const auto defaults = chooser.noteTypeArray();
  ASSERT_EQ(defaults.size(), 24u);
  EXPECT_EQ(chooser.typeTable().numberOfRowsInSection(0), 8);
  EXPECT_TRUE(chooser.navigationItem().rightBarButtonItem()->customView());  // the badged "Edit"

  auto& editor = openOrderEditor(chooser);
  EXPECT_FALSE(chooser.navigationItem().rightBarButtonItem()->customView());
  EXPECT_EQ(tutorial_, 4);
  runLoop();
  std::vector<double> durations;
  for (const auto& a : ui::animationLog()) durations.push_back(a.duration);
  EXPECT_EQ(durations, (std::vector<double>{0.6, 0.5, 0.4, 0.9, 0.6}));
  ASSERT_TRUE(editor.badgeView());
  EXPECT_EQ(editor.badgeView()->alpha(), 0);

  EXPECT_FALSE(editor.tableView().swipeToDeleteRowAtIndexPath({0, 3}));
  ASSERT_TRUE(editor.tableView().moveRowByUser({0, 0}, {0, 23}));
  ui::View* back = navigation_->navigationBar().leftItemView();
  ASSERT_TRUE(back);
  ui::TouchInjector(*window_).tap(back->convertRectToView(back->bounds(), window_.get()).center());
  runLoop();
  EXPECT_EQ(navigation_->topViewController(), &chooser);
  EXPECT_EQ(chooser.noteTypeArray().back(), defaults.front());  // at once, on coming back

  auto& again = openChooser();
  EXPECT_EQ(again.noteTypeArray().back(), defaults.front());
  EXPECT_EQ(again.noteTypeArray().front(), defaults[1]);
  ui::clearAnimationLog();
  EXPECT_FALSE(openOrderEditor(again).badgeView());
  EXPECT_TRUE(ui::animationLog().empty());
}

TEST_F(ChooserTest, AFailedWriteKeepsTheOldOrderAndSaysSo) {
  tutorial_ = 0;
  auto& chooser = openChooser();
  EXPECT_EQ(chooser.getImageForTypeID("Weight"), ui::imageNamed("icon_weight_badge.png"));
  const fs::path file = app::CategoriesSequence(library()).path();
  const auto before = files::readFile(file).valueOr({});
  ASSERT_FALSE(before.empty());
  auto& editor = openOrderEditor(chooser);
  ASSERT_TRUE(editor.tableView().moveRowByUser({0, 0}, {0, 5}));

  // A file-size limit far below the order's size makes the write fail.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tiny{64, old.rlim_max};
  setrlimit(RLIMIT_FSIZE, &tiny);
  const bool failed = !editor.saveListSettings().ok();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(failed);
  EXPECT_EQ(files::readFile(file).valueOr({}), before);
  ASSERT_TRUE(ui::topAlert());
  EXPECT_EQ(ui::topAlert()->title(), "The order could not be saved.");
}

TEST_F(ChooserTest, ReminderModeHandsTheTypeOnAndAnswersYesThroughTheChooser) {
  storyboard_ = std::make_unique<ui::Storyboard>();
  registerChooserScreens(*storyboard_, [this] { return services(); });
  auto list = std::make_shared<ReminderList>();
  navigation_ = std::make_shared<ui::NavigationController>(list);
  show(navigation_);
  tutorial_ = 0;
  auto chooser = std::dynamic_pointer_cast<noteTypeTableController>(
      storyboard_->instantiateViewControllerWithIdentifier(kNoteTypeId));
  chooser->setReminderChoose_delegate(list);
  chooser->setCurrentBabyName("Anna");
  chooser->setForReminders(true);
  navigation_->pushViewController(chooser, true);
  runLoop();
  // No Cancel: only the way back to the list.
  ASSERT_TRUE(chooser->navigationItem().leftBarButtonItem());
  EXPECT_TRUE(chooser->navigationItem().leftBarButtonItem()->title().empty());
  ASSERT_TRUE(ui::imageNamed("icon_weight_badge.png"));
  EXPECT_NE(chooser->getImageForTypeID("Weight"), ui::imageNamed("icon_weight_badge.png"));

  chooser->noteTypeFromNum(24);  // a stale index
  chooser->noteTypeFromNum(-1);
  EXPECT_EQ(navigation_->topViewController(), chooser.get());
  chooser->noteTypeFromNum(2);
  runLoop();
  auto* date = dynamic_cast<reminderChooseDateController*>(navigation_->topViewController());
  ASSERT_TRUE(date);
  EXPECT_EQ(date->babyName(), "Anna");
  EXPECT_EQ(date->typeId(), chooser->noteTypeArray()[2]);

  date->reminderSaved();
  runLoop();
  EXPECT_EQ(list->answers, std::vector<bool>{true});
  EXPECT_EQ(list->stackAtAnswer, 2u);  // the date screen went before the list heard
  EXPECT_EQ(navigation_->viewControllers().size(), 1u);
}

TEST_F(ChooserTest, ACellTapPicksTheColumnUnderTheFingerAndNothingForAnEmptyOne) {
  struct Picks : noteTypeCellDelegate {
    std::vector<int> picked;
    void noteTypeFromNum(int index) override { picked.push_back(index); }
  } picks;
  noteTypeCell cell;
  cell.setFrame(graphics::Rect(0, 0, 300, 80));
  auto tap = [&cell](double x) {
    ui::Touch touch;
    touch.root = &cell;
    touch.view = &cell;
    touch.location = graphics::Point(x, 40);
    cell.checkPoint({touch});
  };
  tap(50);  // no delegate yet
  cell.noteTypeCell_delegate = &picks;
  tap(50);  // every index still -1
  cell.leftNum = 3, cell.middleNum = 4, cell.rightNum = 5;
  for (double x : {10.0, 100.0, 100.5, 200.0, 299.0}) tap(x);
  EXPECT_EQ(picks.picked, (std::vector<int>{3, 3, 4, 4, 5}));
}

// The table fills what the bar leaves: a finger's drag scrolls it (picking nothing) until the last
// row (Pool, Event, Note) lies whole on the screen, and a tap there picks that row's type.
TEST_F(ChooserTest, ADragScrollsToTheLastRowWhichATapThenPicks) {
  auto& chooser = openChooser();
  const auto window = window_->bounds();
  const auto table = chooser.typeTable().convertRectToView(chooser.typeTable().bounds(), window_.get());
  EXPECT_LE(table.maxY(), window.maxY());
  ui::TouchInjector finger(*window_);
  const graphics::Point middle(window.width() / 2, window.height() / 2);
  finger.drag(middle, graphics::Point(middle.x, middle.y - 400));
  runLoop();
  EXPECT_EQ(navigation_->viewControllers().size(), 1u) << "a drag opened a type";
  auto* last = chooser.typeTable().cellForRowAtIndexPath(ui::IndexPath{0, 7});
  ASSERT_NE(last, nullptr);
  const auto shown = last->convertRectToView(last->bounds(), window_.get());
  EXPECT_LE(shown.maxY(), window.maxY() + 0.5);
  EXPECT_GE(shown.y(), table.y());
  // No editor is registered here: the pick is seen as the chooser asking for the right column.
  const auto* cell = dynamic_cast<noteTypeCell*>(last);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(chooser.noteTypeArray().at(static_cast<size_t>(cell->rightNum)), "Note");
}

}  // namespace
}  // namespace navigation
