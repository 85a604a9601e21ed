#include "navigation/side_menu_controller.h"

#include <gtest/gtest.h>

#include "platform/runtime/notification_center.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/touch.h"
#include "platform/ui/ui_fixture.h"

namespace {

using navigation::SideMenuController;

// The front screen the container reads the overlay of.
class FrontScreen : public ui::ViewController, public navigation::SideMenuFrontScreen {
 public:
  void viewDidLoad() override {
    overlay = std::make_shared<ui::View>(view()->bounds());
    overlay->setHidden(true);
    view()->addSubview(overlay);
  }
  ui::View* transparentView() const override { return overlay.get(); }
  std::shared_ptr<ui::View> overlay;
};

class SideMenuTest : public ui_testing::UiTest {
 protected:
  SideMenuTest() {
    services_.language = [] {
      return app::InterfaceText("en", [](std::string_view key) { return std::string(key); });
    };
    services_.tutorialState = [this] { return step_; };
    services_.setTutorialState = [this](std::int32_t step) -> foundation::Status {
      step_ = step;
      return {};
    };
    storyboard_.registerController("graph", [] { return std::make_shared<ui::ViewController>(); });
    storyboard_.registerSegue(navigation::kGrowGraphSidebarShow, "graph", ui::SegueKind::kPush);
    // A row whose screen nobody registered is not offered.
    storyboard_.registerSegue("teeth_sidebar_show", "teeth", ui::SegueKind::kPush);
    storyboard_.registerController("root", [this] {
      front_ = std::make_shared<FrontScreen>();
      auto sidebar = std::make_shared<navigation::sidebarMenuController>(
          services_, std::vector<navigation::SidebarItem>{{"Growth graph", navigation::kGrowGraphSidebarShow},
                                                          {"Teeth", "teeth_sidebar_show"}});
      return std::make_shared<SideMenuController>(sidebar,
                                                  std::make_shared<ui::NavigationController>(front_));
    });
    container_ = std::static_pointer_cast<SideMenuController>(
        storyboard_.instantiateViewControllerWithIdentifier("root"));
    window_->setRootViewController(container_);
    window_->makeKeyAndVisible();
    runLoop();
  }
  ~SideMenuTest() override {
    window_->setRootViewController(nullptr);
    runLoop();
  }

  double frontX() const { return container_->frontViewController()->view()->frame().origin.x; }

  navigation::ChooserServices services_;
  std::int32_t step_ = 1;
  ui::Storyboard storyboard_;
  std::shared_ptr<ui::Window> window_ = std::make_shared<ui::Window>();
  std::shared_ptr<FrontScreen> front_;
  std::shared_ptr<SideMenuController> container_;
};

TEST_F(SideMenuTest, ToggleAndDragMoveTheFrontAndItsOverlay) {
  EXPECT_EQ(navigation::revealViewController(*front_), container_.get());
  EXPECT_EQ(navigation::revealViewController(*container_->rearViewController()), container_.get());
  EXPECT_EQ(navigation::revealViewController(ui::ViewController()), nullptr);

  container_->revealToggle();
  runLoop();
  EXPECT_TRUE(container_->isRearShown());
  EXPECT_EQ(frontX(), SideMenuController::kRearRevealWidth);
  EXPECT_FALSE(front_->overlay->isHidden());
  container_->revealToggle();
  runLoop();
  EXPECT_EQ(frontX(), 0);
  EXPECT_TRUE(front_->overlay->isHidden());

  // A drag past half way opens the menu; a short one back leaves it open.
  front_->view()->addGestureRecognizer(container_->panGestureRecognizer());
  ui::TouchInjector touches(*window_);
  touches.drag({20, 300}, {200, 300});
  runLoop();
  EXPECT_TRUE(container_->isRearShown());
  EXPECT_FALSE(front_->overlay->isHidden());
  touches.drag({280, 300}, {240, 300});
  runLoop();
  EXPECT_TRUE(container_->isRearShown());
  EXPECT_EQ(frontX(), SideMenuController::kRearRevealWidth);
}

TEST_F(SideMenuTest, GrowthGraphFromTheMenuMovesTheTutorialOnOnceAndClosesTheMenu) {
  auto* sidebar = dynamic_cast<navigation::sidebarMenuController*>(container_->rearViewController().get());
  ASSERT_NE(sidebar, nullptr);
  ASSERT_EQ(sidebar->rows().size(), 1u);
  int posted = 0;
  auto token = runtime::NotificationCenter::defaultCenter().addObserver(
      navigation::kUpdateTutorialNotification, nullptr, [&](const runtime::Notification&) { ++posted; });

  container_->revealToggle();
  ASSERT_TRUE(sidebar->table()->tapRowAtIndexPath({0, 0}));
  runLoop();
  EXPECT_EQ(step_, 2);
  EXPECT_EQ(posted, 1);
  EXPECT_FALSE(container_->isRearShown());
  auto* navigation = dynamic_cast<ui::NavigationController*>(container_->frontViewController().get());
  ASSERT_NE(navigation, nullptr);
  EXPECT_EQ(navigation->viewControllers().size(), 2u);

  // At any other step the graph opens and the step stays.
  navigation->popViewControllerAnimated(false);
  sidebar->openRow(0);
  runLoop();
  EXPECT_EQ(step_, 2);
  EXPECT_EQ(posted, 1);
}

}  // namespace
