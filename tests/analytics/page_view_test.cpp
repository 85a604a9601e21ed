// Page views counted over navigation and tab-bar controllers: messages reach the application's own
// delegate, replaced or not, and every shown screen or selected tab is counted.
#include <gtest/gtest.h>

#include "analytics/page_view_delegate.h"
#include "analytics/tally.h"
#include "platform/runtime/run_loop.h"
#include "support/recording_session.h"

namespace analytics {
namespace {

// A session that also counts the page views it is told of.
struct CountingSession : RecordingSession {
  using RecordingSession::RecordingSession;
  void maybeIncrementPageView() override { ++views; }
  int views = 0;
};

struct AppDelegate : ui::NavigationControllerDelegate, ui::TabBarControllerDelegate {
  int shown = 0;
  int asked = 0;
  bool allow = true;
  void navigationControllerDidShowViewController(ui::NavigationController&, ui::ViewController&,
                                                 bool) override {
    ++shown;
  }
  bool tabBarControllerShouldSelectViewController(ui::TabBarController&, ui::ViewController&) override {
    ++asked;
    return allow;
  }
};

class PageViewTest : public ::testing::Test {
 protected:
  PageViewTest() : scope_(loop_) {
    CurrentSession::setFactory([this](SessionStart start) {
      return session_ = std::make_shared<CountingSession>(std::move(start));
    });
    CurrentSession::setupWithKey("key");
  }
  ~PageViewTest() override {
    loop_.runUntilIdle();
    CurrentSession::cleanup();
    CurrentSession::setFactory(nullptr);
  }
  void push(ui::NavigationController& navigation) {
    navigation.pushViewController(std::make_shared<ui::ViewController>(), false);
    loop_.runUntilIdle();
  }

  std::shared_ptr<CountingSession> session_;
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop scope_;
};

TEST_F(PageViewTest, OnlyNavigationAndTabBarControllersGetAProxy) {
  auto plain = std::make_shared<ui::ViewController>();
  Tally::logAllPageViewsForTarget(plain);
  Tally::logAllPageViews(plain);
  auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
  AppDelegate own;
  navigation->setDelegate(&own);
  // Stopping where nothing was installed changes nothing.
  Tally::stopLogPageViewsForTarget(navigation.get());
  Tally::stopLogPageViewsForTarget(nullptr);
  EXPECT_EQ(navigation->delegate(), &own);
  push(*navigation);
  EXPECT_EQ(session_->views, 0);
}

TEST_F(PageViewTest, TheProxyFollowsAReplacedDelegateAndGivesItBackWhenStopped) {
  auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
  AppDelegate first, second;
  navigation->setDelegate(&first);
  Tally::logAllPageViewsForTarget(navigation);
  EXPECT_NE(navigation->delegate(), &first);
  push(*navigation);
  EXPECT_EQ(std::tuple(first.shown, session_->views), std::tuple(1, 1));

  navigation->setDelegate(&second);
  EXPECT_NE(navigation->delegate(), &second);
  push(*navigation);
  EXPECT_EQ(std::tuple(first.shown, second.shown, session_->views), std::tuple(1, 1, 2));

  Tally::stopLogPageViewsForTarget(navigation.get());
  EXPECT_EQ(navigation->delegate(), &second);
  push(*navigation);
  EXPECT_EQ(std::tuple(second.shown, session_->views), std::tuple(2, 2));
}

TEST_F(PageViewTest, ATabTheDelegateRefusesStaysRefusedAndIsNotCounted) {
  auto tabs = std::make_shared<ui::TabBarController>();
  tabs->setViewControllers({std::make_shared<ui::ViewController>(), std::make_shared<ui::ViewController>()});
  AppDelegate own;
  own.allow = false;
  tabs->setDelegate(&own);
  Tally::logAllPageViews(tabs);
  EXPECT_FALSE(tabs->tapTab(1));
  EXPECT_EQ(tabs->selectedIndex(), 0);
  own.allow = true;
  EXPECT_TRUE(tabs->tapTab(1));
  EXPECT_EQ(std::tuple(own.asked, session_->views), std::tuple(2, 1));
  // The old kind does not follow: a new delegate takes its place and nothing more is counted.
  AppDelegate replacement;
  tabs->setDelegate(&replacement);
  EXPECT_TRUE(tabs->tapTab(0));
  EXPECT_EQ(std::tuple(replacement.asked, session_->views), std::tuple(1, 1));
}

// Proxies installed on top of each other each count, and messages still reach the application's
// delegate once: two following proxies never pass messages round between them.
TEST_F(PageViewTest, StackedProxiesEachCountAndPassOnOnce) {
  auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
  AppDelegate own;
  navigation->setDelegate(&own);
  Tally::logAllPageViewsForTarget(navigation);
  Tally::logAllPageViewsForTarget(navigation);
  Tally::logAllPageViews(navigation);
  push(*navigation);
  EXPECT_EQ(std::tuple(own.shown, session_->views), std::tuple(1, 3));
  // The first one goes from the middle of the chain; the rest still reach the delegate.
  Tally::stopLogPageViewsForTarget(navigation.get());
  push(*navigation);
  EXPECT_EQ(std::tuple(own.shown, session_->views), std::tuple(2, 5));
  Tally::stopLogPageViewsForTarget(navigation.get());
  push(*navigation);
  EXPECT_EQ(std::tuple(own.shown, session_->views), std::tuple(3, 6));
}

}  // namespace
}  // namespace analytics
