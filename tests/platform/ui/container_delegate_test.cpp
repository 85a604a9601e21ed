// Navigation and tab-bar controllers tell their delegates what they show, and report every new
// delegate to those who follow it.

#include <gtest/gtest.h>

#include "platform/ui/tab_bar_controller.h"
#include "ui_fixture.h"

namespace {

std::shared_ptr<ui::ViewController> screen(const std::string& title) {
  auto s = std::make_shared<ui::ViewController>();
  s->setTitle(title);
  return s;
}

// Writes what it hears; refuses the tabs named in `refused`.
struct Listener : ui::NavigationControllerDelegate, ui::TabBarControllerDelegate {
  std::vector<std::string> heard;
  std::string refused;
  void navigationControllerWillShowViewController(ui::NavigationController&, ui::ViewController& s,
                                                  bool) override {
    heard.push_back("will " + s.title());
  }
  void navigationControllerDidShowViewController(ui::NavigationController&, ui::ViewController& s,
                                                 bool) override {
    heard.push_back("did " + s.title());
  }
  bool tabBarControllerShouldSelectViewController(ui::TabBarController&, ui::ViewController& s) override {
    heard.push_back("should " + s.title());
    return s.title() != refused;
  }
  void tabBarControllerDidSelectViewController(ui::TabBarController&, ui::ViewController& s) override {
    heard.push_back("selected " + s.title());
  }
  void tabBarControllerWillBeginCustomizingViewControllers(ui::TabBarController&, const Screens& s) override {
    heard.push_back("begin " + std::to_string(s.size()));
  }
  void tabBarControllerWillEndCustomizingViewControllers(ui::TabBarController&, const Screens&,
                                                         bool changed) override {
    heard.push_back(std::string("will end ") + (changed ? "changed" : "same"));
  }
  void tabBarControllerDidEndCustomizingViewControllers(ui::TabBarController&, const Screens& s,
                                                        bool) override {
    heard.push_back("did end " + s.front()->title());
  }
};

using ContainerDelegateTest = ui_testing::UiTest;

TEST_F(ContainerDelegateTest, ANavigationControllerTellsItsDelegateOfEachNewTopScreen) {
  auto navigation = std::make_shared<ui::NavigationController>(screen("notes"));
  Listener listener;
  navigation->setDelegate(&listener);
  navigation->pushViewController(screen("editor"), true);
  EXPECT_EQ(listener.heard, std::vector<std::string>{"will editor"});
  runLoop();
  navigation->popViewControllerAnimated(true);
  // A pop with only the root left shows nothing new.
  navigation->popViewControllerAnimated(true);
  runLoop();
  EXPECT_EQ(listener.heard,
            (std::vector<std::string>{"will editor", "did editor", "will notes", "did notes"}));
}

TEST_F(ContainerDelegateTest, TabsAskTheirDelegateAndCodeSelectsSilently) {
  auto tabs = std::make_shared<ui::TabBarController>();
  tabs->setViewControllers({screen("list"), screen("charts"), screen("settings")});
  EXPECT_EQ(tabs->selectedIndex(), 0);
  Listener listener;
  listener.refused = "settings";
  tabs->setDelegate(&listener);

  tabs->tabButtons()[1]->tap();
  EXPECT_EQ(tabs->selectedIndex(), 1);
  EXPECT_FALSE(tabs->tapTab(2));
  EXPECT_EQ(tabs->selectedIndex(), 1);
  EXPECT_FALSE(tabs->tapTab(7));
  tabs->setSelectedIndex(0);
  EXPECT_EQ(tabs->selectedViewController()->title(), "list");
  EXPECT_EQ(listener.heard,
            (std::vector<std::string>{"should charts", "selected charts", "should settings"}));

  listener.heard.clear();
  auto order = tabs->viewControllers();
  std::swap(order[0], order[2]);
  EXPECT_TRUE(tabs->customizeViewControllers(order));
  EXPECT_FALSE(tabs->customizeViewControllers({screen("stranger")}));
  EXPECT_EQ(tabs->viewControllers()[0]->title(), "settings");
  EXPECT_EQ(tabs->selectedViewController()->title(), "list");  // the selection follows its screen
  EXPECT_EQ(listener.heard, (std::vector<std::string>{"begin 3", "will end changed", "did end settings"}));
}

TEST_F(ContainerDelegateTest, EveryNewDelegateIsReportedToItsFollowersUntilTheyStop) {
  ui::NavigationController navigation;
  Listener first, second;
  std::vector<ui::NavigationControllerDelegate*> reported;
  int id = navigation.delegateSlot().observe(
      [&](ui::NavigationControllerDelegate* now) { reported.push_back(now); });
  navigation.setDelegate(&first);
  navigation.setDelegate(&second);
  navigation.delegateSlot().unobserve(id);
  navigation.setDelegate(nullptr);
  EXPECT_EQ(reported, (std::vector<ui::NavigationControllerDelegate*>{&first, &second}));
  EXPECT_EQ(navigation.delegate(), nullptr);
}

}  // namespace
