// Screens as the diary opens them: from the storyboard by identifier, pushed, presented modally, as
// form sheets and in popovers, with their appearance callbacks and completions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/foundation/log.h"
#include "platform/ui/render.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/touch.h"
#include "ui_fixture.h"

namespace {

using ::testing::ElementsAre;

std::vector<std::string>& journal() {
  static std::vector<std::string> j;
  return j;
}

class Screen : public ui::ViewController {
 public:
  explicit Screen(std::string name) : name_(std::move(name)) {}
  std::string babyName;  // set by the opener before the view loads
  std::string babyNameAtLoad;
  double widthAtLoad = 0;

  void viewDidLoad() override {
    babyNameAtLoad = babyName;
    widthAtLoad = view()->bounds().width();
    journal().push_back(name_ + " load");
  }
  void viewWillAppear(bool animated) override {
    journal().push_back(name_ + " willAppear" + (animated ? "*" : ""));
  }
  void viewDidAppear(bool) override { journal().push_back(name_ + " didAppear"); }
  void viewWillDisappear(bool) override { journal().push_back(name_ + " willDisappear"); }
  void viewDidDisappear(bool) override { journal().push_back(name_ + " didDisappear"); }
  void willRotateToInterfaceOrientation(ui::Orientation to, double) override {
    journal().push_back(name_ + " willRotate " + std::to_string(int(to)));
  }
  void prepareForSegue(ui::StoryboardSegue& segue, ui::View*) override {
    journal().push_back(name_ + " prepare " + segue.identifier());
    if (auto* nav = dynamic_cast<ui::NavigationController*>(segue.destinationViewController().get())) {
      if (auto* next = dynamic_cast<Screen*>(nav->topViewController())) next->babyName = "Anna";
    }
    if (segue.popoverController()) popover = segue.popoverController();
  }
  std::shared_ptr<ui::PopoverController> popover;

 private:
  std::string name_;
};

class NavigationTest : public ui_testing::UiTest {
 protected:
  NavigationTest() {
    journal().clear();
    board.registerController("list", [] { return std::make_shared<Screen>("list"); });
    board.registerController("editor", [] { return std::make_shared<Screen>("editor"); });
    board.registerController("edit_note_navigation_id", [] {
      return std::make_shared<ui::NavigationController>(std::make_shared<Screen>("editor"));
    });
    board.registerController("nothing", [] { return nullptr; });
    board.registerSegue("showEditor", "editor", ui::SegueKind::kPush);
    board.registerSegue("editModal", "edit_note_navigation_id", ui::SegueKind::kModal);
    board.registerSegue("latest", "editor", ui::SegueKind::kPopover);
    board.registerSegue("broken", "missing", ui::SegueKind::kModal);
  }

  // A window showing a navigation controller whose root is the list.
  std::shared_ptr<ui::NavigationController> showList() {
    auto list = board.instantiateViewControllerWithIdentifier("list");
    auto nav = std::make_shared<ui::NavigationController>(list);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    runLoop();
    journal().clear();
    return nav;
  }

  ui::Storyboard board;
  std::shared_ptr<ui::Window> window = std::make_shared<ui::Window>();
};

TEST_F(NavigationTest, AStoryboardMakesScreensByIdentifierAndNothingForUnknownOnes) {
  auto list = board.instantiateViewControllerWithIdentifier("list");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->storyboardIdentifier(), "list");
  EXPECT_EQ(list->storyboard(), &board);
  EXPECT_EQ(board.instantiateViewControllerWithIdentifier("no_such_screen"), nullptr);
  EXPECT_EQ(board.instantiateViewControllerWithIdentifier("nothing"), nullptr);
  EXPECT_EQ(board.instantiateInitialViewController(), nullptr);
  board.setInitialViewControllerIdentifier("list");
  EXPECT_NE(board.instantiateInitialViewController(), nullptr);
  // Nothing is loaded until someone asks for the view.
  EXPECT_FALSE(list->isViewLoaded());
  EXPECT_TRUE(journal().empty());
}

TEST_F(NavigationTest, PushAndPopCallTheAppearanceCallbacksInOrder) {
  auto nav = showList();
  auto editor = std::make_shared<Screen>("editor");
  editor->babyName = "Anna";
  nav->pushViewController(editor, true);
  EXPECT_THAT(journal(), ElementsAre("editor load", "list willDisappear", "editor willAppear*"));
  EXPECT_EQ(editor->babyNameAtLoad, "Anna");
  runLoop();
  EXPECT_THAT(journal(), ElementsAre("editor load", "list willDisappear", "editor willAppear*",
                                     "list didDisappear", "editor didAppear"));
  EXPECT_EQ(nav->topViewController(), editor.get());
  EXPECT_EQ(editor->navigationController(), nav.get());
  EXPECT_EQ(nav->backButtonTitle(), "Back");
  journal().clear();

  auto popped = nav->popViewControllerAnimated(true);
  EXPECT_EQ(popped, editor);
  runLoop();
  EXPECT_THAT(journal(), ElementsAre("editor willDisappear", "list willAppear*", "editor didDisappear",
                                     "list didAppear"));
  EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr);  // the root stays
  EXPECT_EQ(editor->navigationController(), nullptr);
}

// Played (a window on real time), a push slides the new screen in over the old one, which stays in
// the tree until it has slid out; a pop slides the top one away; a presentation rises into place
// and a dismissal sinks away.
// Touches reach what the screens hold at the end from the start.
TEST_F(NavigationTest, PlayedPushesPopsAndPresentationsSlideTheScreens) {
  auto nav = showList();
  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  auto list = nav->topViewController()->view();
  auto editor = std::make_shared<Screen>("editor");
  const double w = nav->view()->bounds().width();
  const struct {
    const char* what;
    std::function<void()> act;
    std::shared_ptr<ui::View> leaving, coming;
    double leavingTo, comingFrom;  // x, as a share of the width
  } steps[] = {
      {"push", [&] { nav->pushViewController(editor, true); }, list, nullptr, -1.0 / 3, 1},
      {"pop", [&] { nav->popViewControllerAnimated(true); }, nullptr, list, 1, -1.0 / 3},
  };
  for (const auto& step : steps) {
    step.act();
    auto leaving = step.leaving ? step.leaving : editor->view();
    auto coming = step.coming ? step.coming : editor->view();
    EXPECT_EQ(leaving->superview(), nav->view().get()) << step.what;
    EXPECT_NEAR(ui::presentedFrame(*coming).x(), step.comingFrom * w, 1e-6) << step.what;
    EXPECT_EQ(coming->frame().x(), 0) << step.what;
    EXPECT_EQ(nav->view()->hitTest(ui::Point(w / 2, 300)), coming.get()) << step.what;
    loop_.advance(0.175);
    EXPECT_NEAR(ui::presentedFrame(*coming).x(), step.comingFrom * w / 2, 1e-3) << step.what;
    EXPECT_NEAR(ui::presentedFrame(*leaving).x(), step.leavingTo * w / 2, 1e-3) << step.what;
    loop_.advance(0.2);
    EXPECT_EQ(leaving->superview(), nullptr) << step.what;
    EXPECT_EQ(ui::presentedFrame(*coming).x(), 0) << step.what;
    EXPECT_FALSE(ui::animationsPlaying()) << step.what;
  }
  // Pushed and popped at once: the list is in reach again at once and stays when the slides end.
  nav->pushViewController(std::make_shared<Screen>("editor"), true);
  EXPECT_FALSE(nav->view()->hitTest(ui::Point(w / 2, 300))->isDescendantOfView(list.get()));
  nav->popViewControllerAnimated(true);
  EXPECT_TRUE(nav->view()->hitTest(ui::Point(w / 2, 300))->isDescendantOfView(list.get()));
  loop_.advance(0.4);
  EXPECT_EQ(list->superview(), nav->view().get());
  EXPECT_EQ(list->alpha(), 1);
  EXPECT_EQ(nav->view()->subviews().front(), list);

  auto sheet = std::make_shared<Screen>("editor");
  nav->presentViewController(sheet, true);
  const ui::Rect place = sheet->view()->frame();
  EXPECT_EQ(ui::presentedFrame(*sheet->view()).y(), window->bounds().height());
  loop_.advance(0.4);
  EXPECT_EQ(ui::presentedFrame(*sheet->view()), place);
  // Dismissed, it sinks away seen but out of reach, and leaves the window once out.
  nav->dismissViewControllerAnimated(true);
  loop_.advance(0.175);
  EXPECT_EQ(sheet->view()->superview(), window.get());
  EXPECT_EQ(ui::presentedAlpha(*sheet->view()), 1);
  EXPECT_GT(ui::presentedFrame(*sheet->view()).y(), place.y());
  EXPECT_FALSE(window->hitTest(place.center())->isDescendantOfView(sheet->view().get()));
  loop_.advance(0.2);
  EXPECT_EQ(sheet->view()->superview(), nullptr);
  EXPECT_EQ(sheet->view()->alpha(), 1);
  EXPECT_EQ(sheet->view()->frame(), place);
}

TEST_F(NavigationTest, PopToRootAndTheBackButton) {
  auto nav = showList();
  nav->topViewController()->setTitle("Notes");
  nav->pushViewController(std::make_shared<Screen>("a"), false);
  nav->pushViewController(std::make_shared<Screen>("b"), false);
  runLoop();
  EXPECT_EQ(nav->viewControllers().size(), 3u);
  ASSERT_NE(nav->navigationBar().backButton(), nullptr);
  EXPECT_TRUE(nav->tapBackButton());
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_EQ(nav->backButtonTitle(), "Notes");
  // The back button in the bar is a real button: a touch on it pops.
  ui::TouchInjector touch(*window);
  ui::Rect back = nav->navigationBar().backButton()->frame();
  touch.tap(ui::Point(back.midX(), back.midY()));
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  nav->pushViewController(std::make_shared<Screen>("c"), false);
  nav->pushViewController(std::make_shared<Screen>("d"), false);
  runLoop();
  journal().clear();
  auto popped = nav->popToRootViewControllerAnimated(false);
  EXPECT_EQ(popped.size(), 2u);
  runLoop();
  EXPECT_THAT(journal(),
              ElementsAre("d willDisappear", "list willAppear", "d didDisappear", "list didAppear"));
  // A screen whose item has its own left button shows no back button.
  auto own = std::make_shared<Screen>("own");
  own->navigationItem().setLeftBarButtonItem(
      ui::BarButtonItem::withTitle("Cancel", ui::BarButtonItemStyle::kPlain, {}));
  nav->pushViewController(own, false);
  EXPECT_FALSE(nav->backButtonTitle());
  EXPECT_FALSE(nav->tapBackButton());
}

TEST_F(NavigationTest, TheBackButtonShowsATitleWholeOrTheChevronAlone) {
  auto nav = showList();
  const std::string titles[] = {"Notes", std::string(60, 'x')};
  for (const std::string& title : titles) {
    SCOPED_TRACE(title);
    nav->topViewController()->setTitle(title);
    nav->pushViewController(std::make_shared<Screen>("next"), false);
    runLoop();
    const auto* back = nav->navigationBar().backButton();
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->isTitleCut());
    EXPECT_GE(back->frame().width(), 90);
    EXPECT_LE(back->frame().maxX(), nav->navigationBar().bounds().width() / 2);
    EXPECT_EQ(back->currentTitle(), title.size() > 20 ? "\u2039" : "\u2039 " + title);
    nav->popViewControllerAnimated(false);
    runLoop();
  }
}

// A title between buttons of unequal widths: centred on the bar when it fits there, else moved
// into the room the buttons leave (a long left button), and cut only when that room is too small
// as well.
TEST_F(NavigationTest, TheTitleMovesOffCentreAndShrinksBeforeItIsCut) {
  auto nav = showList();
  const struct {
    const char* left;
    const char* right;
    std::string title;
    bool centred, shrunk, cut;
  } cases[] = {
      {"Cancel", "Send", "Mail", true, false, false},
      {"Zurück zur Übersicht", "OK", "Bericht", false, false, false},
      {"Вернуться к списку", "OK", "Отчёт", false, false, false},
      // A subject between the Russian mail buttons: smaller, but whole.
      {"Отменить", "Отправить", "Отчёт: Александра", false, true, false},
      {"Abbrechen", "Senden", "Bericht: Ada", true, false, false},
      {"Zurück zur Übersicht", "OK", std::string(40, 'x'), false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    auto screen = std::make_shared<Screen>("mail");
    screen->setTitle(c.title);
    screen->navigationItem().setLeftBarButtonItem(
        ui::BarButtonItem::withTitle(c.left, ui::BarButtonItemStyle::kPlain, {}));
    screen->navigationItem().setRightBarButtonItem(
        ui::BarButtonItem::withTitle(c.right, ui::BarButtonItemStyle::kPlain, {}));
    nav->pushViewController(screen, false);
    runLoop();
    ui::NavigationBar& bar = nav->navigationBar();
    bar.layoutIfNeeded();
    const ui::Label* title = bar.titleLabel();
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), c.title);
    EXPECT_EQ(title->isTextCut(), c.cut);
    EXPECT_EQ(std::abs(title->frame().midX() - bar.bounds().width() / 2) < 0.5, c.centred);
    const double drawnSize = title->drawnText().runs.front().font.pointSize();
    EXPECT_EQ(drawnSize < title->font().pointSize(), c.shrunk) << drawnSize;
    EXPECT_GE(drawnSize, title->font().pointSize() * ui::NavigationBar::kBarTitleMinimumScale - 0.01);
    // Never over a button.
    int buttons = 0;
    for (const auto& sub : bar.subviews())
      if (dynamic_cast<const ui::Button*>(sub.get()) && sub->superview() == &bar && !sub->isHidden()) {
        ++buttons;
        EXPECT_FALSE(sub->frame().intersects(title->frame())) << dynamic_cast<const ui::Button&>(*sub).currentTitle();
      }
    EXPECT_EQ(buttons, 2);
    nav->popViewControllerAnimated(false);
    runLoop();
  }
}

TEST_F(NavigationTest, ModalPresentationRunsItsCompletionOnTheRunLoop) {
  auto nav = showList();
  auto editorNav = board.instantiateViewControllerWithIdentifier("edit_note_navigation_id");
  ASSERT_NE(editorNav, nullptr);
  auto* editor =
      dynamic_cast<Screen*>(dynamic_cast<ui::NavigationController&>(*editorNav).topViewController());
  ASSERT_NE(editor, nullptr);
  editor->babyName = "Ben";
  bool completed = false;
  // The list presents from inside its navigation controller: the navigation controller presents.
  nav->topViewController()->presentViewController(editorNav, true, [&] { completed = true; });
  EXPECT_FALSE(completed);
  EXPECT_EQ(editor->babyNameAtLoad, "Ben");
  EXPECT_EQ(nav->presentedViewController(), editorNav.get());
  EXPECT_EQ(editorNav->presentingViewController(), nav.get());
  EXPECT_EQ(editorNav->view()->superview(), window.get());
  runLoop();
  EXPECT_TRUE(completed);
  EXPECT_THAT(journal(), ElementsAre("editor load", "editor willAppear*", "list willDisappear",
                                     "editor didAppear", "list didDisappear"));
  journal().clear();

  // A second presentation while one is up is refused.
  foundation::ScopedLogCapture log;
  nav->presentViewController(std::make_shared<Screen>("other"), true);
  EXPECT_TRUE(log.contains("already presenting"));
  EXPECT_EQ(nav->presentedViewController(), editorNav.get());

  // The presented screen dismisses itself through its presenter.
  bool dismissed = false;
  editor->dismissViewControllerAnimated(true, [&] { dismissed = true; });
  EXPECT_EQ(nav->presentedViewController(), nullptr);
  EXPECT_EQ(editorNav->view()->superview(), nullptr);
  runLoop();
  EXPECT_TRUE(dismissed);
  EXPECT_THAT(journal(), ElementsAre("editor willDisappear", "list willAppear*", "editor didDisappear",
                                     "list didAppear"));
  ASSERT_EQ(ui::screenEvents().size(), 2u);
  EXPECT_EQ(ui::screenEvents()[0].kind, ui::ScreenEvent::Kind::kPresent);
  EXPECT_EQ(ui::screenEvents()[1].kind, ui::ScreenEvent::Kind::kDismiss);

  // Dismissing with nothing presented does nothing, not even the completion.
  bool ran = false;
  nav->dismissViewControllerAnimated(true, [&] { ran = true; });
  runLoop();
  EXPECT_FALSE(ran);
}

TEST_F(NavigationTest, AFormSheetOnATabletLeavesThePresenterOnScreen) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window = std::make_shared<ui::Window>();
  auto nav = showList();
  auto sheet = std::make_shared<ui::NavigationController>(std::make_shared<Screen>("filter"));
  sheet->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  nav->presentViewController(sheet, true);
  runLoop();
  EXPECT_EQ(sheet->view()->frame(), ui::Rect(114, 202, 540, 620));
  EXPECT_THAT(journal(), ElementsAre("filter load", "filter willAppear*", "filter didAppear"));
  EXPECT_TRUE(nav->topViewController()->isOnScreen());
  EXPECT_EQ(ui::screenEvents().back().style, ui::ModalPresentationStyle::kFormSheet);

  // The sheet is modal: a finger on the dimmed screen around it reaches nothing of the presenter,
  // inside it the sheet's own views; once it is gone the presenter takes touches again.
  const ui::Point outside(40, 40), inside(300, 400);
  EXPECT_EQ(window->hitTest(outside), nullptr);
  ui::View* hit = window->hitTest(inside);
  ASSERT_NE(hit, nullptr);
  EXPECT_TRUE(hit == sheet->view().get() || hit->isDescendantOfView(sheet->view().get()));
  nav->dismissViewControllerAnimated(false);
  runLoop();
  EXPECT_NE(window->hitTest(outside), nullptr);
}

TEST_F(NavigationTest, SeguesAreMadeFromTheStoryboardAndPreparedBySource) {
  auto nav = showList();
  auto* list = nav->topViewController();
  EXPECT_TRUE(list->performSegueWithIdentifier("editModal"));
  auto* presented = dynamic_cast<ui::NavigationController*>(list->presentedViewController());
  ASSERT_NE(presented, nullptr);
  EXPECT_EQ(dynamic_cast<Screen*>(presented->topViewController())->babyNameAtLoad, "Anna");
  list->dismissViewControllerAnimated(false);
  runLoop();

  EXPECT_TRUE(list->performSegueWithIdentifier("showEditor"));
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  journal().clear();
  EXPECT_FALSE(list->performSegueWithIdentifier("no_such_segue"));
  EXPECT_FALSE(list->performSegueWithIdentifier("broken"));
  EXPECT_TRUE(journal().empty());  // no prepare for a segue that cannot happen
}

class PopoverWatcher : public ui::PopoverControllerDelegate {
 public:
  int closed = 0;
  void popoverControllerDidDismissPopover(ui::PopoverController&) override { ++closed; }
};

TEST_F(NavigationTest, APopoverSegueHandsItsPopoverToTheSourceAndTheUserCanCloseIt) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window = std::make_shared<ui::Window>();
  auto nav = showList();
  auto* list = dynamic_cast<Screen*>(nav->topViewController());
  ASSERT_TRUE(list->performSegueWithIdentifier("latest"));
  ASSERT_NE(list->popover, nullptr);
  EXPECT_TRUE(list->popover->isPopoverVisible());
  EXPECT_EQ(ui::visiblePopovers().size(), 1u);
  PopoverWatcher watcher;
  list->popover->setDelegate(&watcher);
  // Closing from code does not tell the delegate.
  list->popover->dismissPopoverAnimated(true);
  EXPECT_EQ(watcher.closed, 0);
  EXPECT_TRUE(ui::visiblePopovers().empty());

  auto popover = ui::PopoverController::create(std::make_shared<Screen>("babies"));
  popover->setDelegate(&watcher);
  popover->presentPopoverFromRect(ui::Rect(50, 50, 50, 50), list->view().get(), ui::kPopoverArrowLeft, false);
  EXPECT_EQ(popover->permittedArrowDirections(), ui::kPopoverArrowLeft);
  EXPECT_EQ(popover->presentedFromRect(), ui::Rect(50, 50, 50, 50));
  EXPECT_EQ(popover->contentViewController()->view()->frame().x(), 100);
  popover->contentViewController()->setModalInPopover(true);
  EXPECT_FALSE(popover->dismissByUser());
  popover->contentViewController()->setModalInPopover(false);
  EXPECT_TRUE(popover->dismissByUser());
  EXPECT_EQ(watcher.closed, 1);
}

TEST_F(NavigationTest, BarItemsFollowTheTopScreensNavigationItem) {
  auto nav = showList();
  auto* list = nav->topViewController();
  int taps = 0;
  list->navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      "Apply", ui::BarButtonItemStyle::kPlain, [&](ui::BarButtonItem&) { ++taps; }));
  list->setTitle("Filter");
  EXPECT_EQ(nav->navigationBar().titleLabel()->text(), "Filter");
  // The item's button is in the bar; a touch on it runs the action.
  ui::View* button = nullptr;
  for (auto& sub : nav->navigationBar().subviews()) {
    if (auto* b = dynamic_cast<ui::Button*>(sub.get()); b && b->currentTitle() == "Apply") button = b;
  }
  ASSERT_NE(button, nullptr);
  ui::TouchInjector touch(*window);
  ui::Point center = button->convertPointToView(ui::Point(5, 5), window.get());
  touch.tap(center);
  EXPECT_EQ(taps, 1);
  // The screen starts below the bar, and takes the whole view once the bar hides.
  EXPECT_EQ(list->view()->frame(), ui::Rect(0, 64, 320, 504));
  nav->setNavigationBarHidden(true);
  EXPECT_TRUE(nav->navigationBar().isHidden());
  EXPECT_EQ(list->view()->frame(), ui::Rect(0, 0, 320, 568));
}

TEST_F(NavigationTest, ARetitledOrDisabledBarItemShowsAtOnce) {
  auto nav = showList();
  auto* list = nav->topViewController();
  auto edit = ui::BarButtonItem::withTitle("Edit", ui::BarButtonItemStyle::kPlain, {});
  auto cancel = ui::BarButtonItem::withTitle("Cancel", ui::BarButtonItemStyle::kPlain, {});
  list->navigationItem().setRightBarButtonItem(edit);
  list->navigationItem().setLeftBarButtonItem(cancel);
  auto barButton = [&](const std::string& title) -> ui::Button* {
    for (auto& sub : nav->navigationBar().subviews())
      if (auto* b = dynamic_cast<ui::Button*>(sub.get()); b && b->currentTitle() == title) return b;
    return nullptr;
  };
  struct Case {
    const char* how;
    std::function<void()> change;
    std::string shown, gone;
    bool enabled;
  };
  const Case cases[] = {
      {"retitled", [&] { edit->setTitle("Done"); }, "Done", "Edit", true},
      {"disabled", [&] { edit->setEnabled(false); }, "Done", "Edit", false},
      {"an item moved to the other side still follows", [&] {
         list->navigationItem().setLeftBarButtonItem(edit);
         list->navigationItem().setRightBarButtonItem(nullptr);
         edit->setEnabled(true);
         edit->setTitle("Edit");
       }, "Edit", "Done", true},
      // The item no longer in the bar changes nothing there.
      {"a replaced item", [&] { cancel->setTitle("Gone"); }, "Edit", "Gone", true},
  };
  for (const Case& c : cases) {
    c.change();
    ASSERT_NE(barButton(c.shown), nullptr) << c.how;
    EXPECT_EQ(barButton(c.shown)->isEnabled(), c.enabled) << c.how;
    EXPECT_EQ(barButton(c.gone), nullptr) << c.how;
  }
  // An item that outlives its screen changes nothing and nothing breaks.
  nav->popToRootViewControllerAnimated(false);
  edit->setTitle("Later");
}

TEST_F(NavigationTest, ABarDrawsItsHairlineUnlessItsOwnImagesSayOtherwise) {
  auto nav = showList();
  ui::NavigationBar& bar = nav->navigationBar();
  const auto empty = std::make_shared<const graphics::Image>();
  auto red = std::make_shared<graphics::Image>(4, 4, 1.0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) red->setPixel(x, y, {255, 0, 0, 255});
  const std::shared_ptr<const graphics::Image> redRef = red;
  struct Case {
    const char* how;
    ui::ImageRef background, shadow;
    bool barFilled, hairline;
  };
  const Case cases[] = {
      {"the kit's own bar", nullptr, nullptr, true, true},
      {"a shadow image without a background of the bar's own counts for nothing", nullptr, empty, true, true},
      {"an empty background shows what lies behind, with the hairline", empty, nullptr, false, true},
      {"empty background and shadow: nothing at all", empty, empty, false, false},
      {"an own background with an empty shadow", redRef, empty, true, false},
  };
  for (const Case& c : cases) {
    bar.setBackgroundImage(c.background);
    bar.setShadowImage(c.shadow);
    auto drawn = ui::renderToImage(bar, 1.0);
    ASSERT_TRUE(drawn.ok()) << c.how;
    const int h = static_cast<int>(bar.bounds().height());
    EXPECT_EQ(drawn->pixel(10, 10).a > 0, c.barFilled) << c.how;
    EXPECT_EQ(drawn->pixel(10, h - 1) != drawn->pixel(10, h - 3), c.hairline) << c.how;
  }
}

TEST_F(NavigationTest, RotationReachesTheVisibleScreensAndResizesTheWindow) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window = std::make_shared<ui::Window>();
  auto nav = showList();
  window->rotateTo(ui::Orientation::kLandscapeLeft);
  EXPECT_EQ(window->bounds().size, ui::Size(1024, 768));
  EXPECT_EQ(nav->view()->frame().size, ui::Size(1024, 768));
  EXPECT_EQ(ui::device().statusBarOrientation, ui::Orientation::kLandscapeLeft);
  EXPECT_THAT(journal(), ElementsAre("list willRotate 4"));
}

TEST_F(NavigationTest, HidingTheStatusBarGivesItsRoomBackAtOnce) {
  auto nav = showList();
  ui::Application::shared().setKeyWindow(window);
  ui::View& content = *nav->topViewController()->view();
  EXPECT_EQ(nav->navigationBar().frame().height(), 64);
  EXPECT_EQ(content.frame().y(), 64);
  ui::Application::shared().setStatusBarHidden(true);
  EXPECT_EQ(nav->navigationBar().frame().height(), 44);
  EXPECT_EQ(content.frame(), ui::Rect(0, 44, 320, 568 - 44));
  nav->setNavigationBarHidden(true);
  EXPECT_EQ(content.frame(), ui::Rect(0, 0, 320, 568));
  nav->setNavigationBarHidden(false);
  ui::Application::shared().setStatusBarHidden(false);
  EXPECT_EQ(content.frame(), ui::Rect(0, 64, 320, 568 - 64));
}

// Hidden and shown with animation, as the editor's panels do: at once the bars take their end
// places at once; played, the navigation bar slides up out of view and back with the screen's view
// following, and the status bar slides off the top and back, over the same time.
TEST_F(NavigationTest, BarsHiddenWithAnimationSlideWhenAnimationsPlay) {
  auto nav = showList();
  auto& app = ui::Application::shared();
  app.setKeyWindow(window);
  ui::NavigationBar& bar = nav->navigationBar();
  ui::View& content = *nav->topViewController()->view();
  const auto hideBars = [&](bool hidden) {
    nav->setNavigationBarHidden(hidden, true);
    app.setStatusBarHidden(hidden, true);
  };
  hideBars(true);
  EXPECT_TRUE(bar.isHidden());
  EXPECT_EQ(content.frame().y(), 0);
  EXPECT_EQ(app.statusBarShownShare(), 0);
  hideBars(false);
  EXPECT_EQ(content.frame().y(), 64);
  EXPECT_EQ(app.statusBarShownShare(), 1);

  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  for (const bool hidden : {true, false}) {
    hideBars(hidden);
    // The screen's view has its end place at once, and a going bar is out of reach.
    EXPECT_EQ(content.frame().y(), hidden ? 0 : 64) << hidden;
    EXPECT_FALSE(bar.isHidden()) << hidden;
    EXPECT_EQ(nav->view()->hitTest(ui::Point(160, 40)) == &content, hidden) << hidden;
    loop_.advance(ui::kBarSlideDuration / 2);
    EXPECT_NEAR(ui::presentedFrame(bar).maxY(), 32, 1e-3) << hidden;
    EXPECT_NEAR(ui::presentedFrame(content).y(), 32, 1e-3) << hidden;
    EXPECT_NEAR(app.statusBarShownShare(), 0.5, 1e-3) << hidden;
    loop_.advance(ui::kBarSlideDuration / 2);
    EXPECT_FALSE(ui::animationsPlaying()) << hidden;
    EXPECT_EQ(bar.isHidden(), hidden) << hidden;
    EXPECT_EQ(ui::presentedFrame(bar), ui::Rect(0, 0, 320, hidden ? 44 : 64)) << hidden;
    EXPECT_EQ(ui::presentedFrame(content).y(), hidden ? 0 : 64) << hidden;
    EXPECT_EQ(app.statusBarShownShare(), hidden ? 0 : 1) << hidden;
  }
}

TEST_F(NavigationTest, AScreenLaysItselfOutInTheRoomItWillHave) {
  // On the tablet a form sheet is 540 points wide: a screen loaded for it, inside a navigation
  // controller, already has that width when it lays itself out.
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  auto list = showList();
  auto editor = std::make_shared<Screen>("editor");
  auto sheet = std::make_shared<ui::NavigationController>(editor);
  sheet->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  list->topViewController()->presentViewController(sheet, false);
  EXPECT_EQ(editor->widthAtLoad, 540);
  EXPECT_EQ(editor->view()->frame(), ui::Rect(0, 64, 540, 620 - 64));
  // Pushed on a stack (the window here is the phone's it was made for), the screen gets the stack's
  // room below the bar.
  auto pushed = std::make_shared<Screen>("pushed");
  list->pushViewController(pushed, false);
  EXPECT_EQ(pushed->widthAtLoad, 320);
  EXPECT_EQ(pushed->plannedViewFrame(), ui::Rect(0, 64, 320, 568 - 64));
}

}  // namespace
