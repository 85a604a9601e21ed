// The activity indicator, the system bar items and screens that extend under a translucent bar.

#include <gtest/gtest.h>

#include "platform/ui/activity_indicator.h"
#include "platform/ui/render.h"
#include "support/temp_dir.h"
#include "ui_fixture.h"

namespace {

using BarPiecesTest = ui_testing::UiTest;

TEST_F(BarPiecesTest, TheIndicatorTurnsOnTheMainLoopAndHidesWhenStopped) {
  auto indicator = std::make_shared<ui::ActivityIndicatorView>();
  EXPECT_EQ(indicator->frame().size, ui::Size(20, 20));
  EXPECT_TRUE(indicator->isHidden());
  indicator->startAnimating();
  EXPECT_FALSE(indicator->isHidden());
  // A second start keeps one timer; a quarter of a second and a bit moves the lead three spokes.
  indicator->startAnimating();
  loop_.advance(0.3);
  EXPECT_EQ(indicator->leadingSpoke(), 3);
  // For people: the spokes at this moment, on the login screen's blue.
  auto backdrop = std::make_shared<ui::View>(ui::Rect(0, 0, 40, 40));
  backdrop->setBackgroundColor(graphics::Color::rgb(241 / 255.0, 249 / 255.0, 1.0));
  indicator->setCenter({20, 20});
  backdrop->addSubview(indicator);
  EXPECT_TRUE(ui::renderToPng(*backdrop, testing_support::testOutput() / "activity_indicator.png", 4));
  indicator->removeFromSuperview();

  indicator->stopAnimating();
  loop_.advance(1);
  EXPECT_FALSE(indicator->isAnimating());
  EXPECT_EQ(indicator->leadingSpoke(), 3);
  EXPECT_TRUE(indicator->isHidden());
  // Told to stay, a stopped indicator shows; told again, it hides.
  indicator->setHidesWhenStopped(false);
  EXPECT_FALSE(indicator->isHidden());
  indicator->setHidesWhenStopped(true);
  EXPECT_TRUE(indicator->isHidden());
  // A turning indicator that goes takes its timer along.
  indicator->startAnimating();
  indicator.reset();
  loop_.advance(1);
}

TEST_F(BarPiecesTest, TheSystemCancelItemShowsTheSystemsTitleAndActs) {
  int taps = 0;
  auto cancel = ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::kCancel,
                                                  [&](ui::BarButtonItem&) { ++taps; });
  EXPECT_EQ(cancel->systemItem(), ui::BarButtonSystemItem::kCancel);
  EXPECT_EQ(cancel->title(), "Cancel");
  EXPECT_EQ(cancel->style(), ui::BarButtonItemStyle::kPlain);
  EXPECT_FALSE(ui::BarButtonItem::withTitle("Cancel", ui::BarButtonItemStyle::kPlain, {})->systemItem());
  cancel->tap();
  EXPECT_EQ(taps, 1);
}

TEST_F(BarPiecesTest, AScreenLiesUnderATranslucentBarOnlyWhenItsEdgesIncludeTheTop) {
  auto screen = std::make_shared<ui::ViewController>();
  auto nav = std::make_shared<ui::NavigationController>(screen);
  (void)nav->view();
  const ui::Rect below(0, 64, 320, 568 - 64);
  const ui::Rect under(0, 0, 320, 568);
  // The kit's default keeps every screen below the bar, translucent or not.
  EXPECT_EQ(screen->edgesForExtendedLayout(), ui::kRectEdgeNone);
  EXPECT_TRUE(nav->navigationBar().isTranslucent());
  EXPECT_EQ(screen->view()->frame(), below);
  struct Case {
    unsigned edges;
    bool translucent;
    ui::Rect frame;
  };
  for (const Case& c : {Case{ui::kRectEdgeAll, true, under}, Case{ui::kRectEdgeTop, true, under},
                        Case{ui::kRectEdgeAll, false, below}, Case{ui::kRectEdgeBottom, true, below},
                        Case{ui::kRectEdgeNone, true, below}}) {
    nav->navigationBar().setTranslucent(c.translucent);
    screen->setEdgesForExtendedLayout(c.edges);
    EXPECT_EQ(screen->view()->frame(), c.frame) << c.edges << " " << c.translucent;
  }
  // A screen pushed with its edges set lays itself out under the bar from the start.
  nav->navigationBar().setTranslucent(true);
  auto pushed = std::make_shared<ui::ViewController>();
  pushed->setEdgesForExtendedLayout(ui::kRectEdgeAll);
  nav->pushViewController(pushed, false);
  EXPECT_EQ(pushed->plannedViewFrame(), under);
}

}  // namespace
