// Alerts and action sheets tapped by button index, as the screens' confirmation flows use them.

#include "platform/ui/alert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui_fixture.h"

namespace {

// A screen that numbers the sheet on screen and answers every sheet in one place.
class ConfirmingScreen : public ui::ViewController,
                         public ui::AlertViewDelegate,
                         public ui::ActionSheetDelegate {
 public:
  int sheetNumber = 0;
  std::vector<std::string> answers;

  void askAboutDelete() {
    sheetNumber = 3;
    auto sheet = ui::ActionSheet::create(std::nullopt, this, "Cancel", "Delete");
    sheet->showInView(view().get());
  }
  void askAboutSides() {
    sheetNumber = 8;
    auto sheet = ui::ActionSheet::create(std::nullopt, this, "Cancel", std::nullopt,
                                         {"Left Breast", "Right Breast", "Both Breast(50/50)"});
    sheet->showInView(view().get());
  }
  void actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int index) override {
    answers.push_back("sheet " + std::to_string(sheetNumber) + " " + sheet.buttonTitleAtIndex(index));
    sheetNumber = 0;
  }
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int index) override {
    answers.push_back(alert.title() + " " + std::to_string(index) + " tag " + std::to_string(alert.tag()));
  }
  void alertViewDidDismissWithButtonIndex(ui::AlertView&, int index) override {
    answers.push_back("dismissed " + std::to_string(index));
  }
};

class AlertTest : public ui_testing::UiTest {};

TEST_F(AlertTest, AnAlertTappedByIndexReachesItsDelegateAndLeavesTheScreen) {
  ConfirmingScreen screen;
  auto alert = ui::AlertView::create("Do you like this app?", "", &screen, "Yes", {"No"});
  alert->setTag(7);
  EXPECT_EQ(ui::topAlert(), nullptr);
  alert->show();
  alert.reset();  // the screen holds a shown alert
  ASSERT_NE(ui::topAlert(), nullptr);
  EXPECT_EQ(ui::topAlert()->cancelButtonIndex(), 0);
  EXPECT_EQ(ui::topAlert()->firstOtherButtonIndex(), 1);
  EXPECT_EQ(ui::topAlert()->buttonTitleAtIndex(1), "No");
  EXPECT_TRUE(ui::topAlert()->tapButton(1));
  EXPECT_THAT(screen.answers, ::testing::ElementsAre("Do you like this app? 1 tag 7", "dismissed 1"));
  EXPECT_TRUE(ui::shownAlerts().empty());
}

TEST_F(AlertTest, ButtonsOutOfRangeAndAlertsNotShownTakeNoTaps) {
  ConfirmingScreen screen;
  auto alert = ui::AlertView::create("About Errors", "", &screen, std::nullopt, {"OK"});
  EXPECT_EQ(alert->cancelButtonIndex(), -1);
  EXPECT_FALSE(alert->tapButton(0));  // not on screen
  alert->show();
  EXPECT_FALSE(alert->tapButton(1));
  EXPECT_FALSE(alert->tapButton(-1));
  EXPECT_TRUE(screen.answers.empty());
  EXPECT_TRUE(alert->tapButton(0));
  EXPECT_FALSE(alert->tapButton(0));  // gone after the first tap
  EXPECT_EQ(screen.answers.size(), 2u);
}

TEST_F(AlertTest, AnAlertWhoseDelegateCreatesTheNextAlertChainsThem) {
  struct Chain : ui::AlertViewDelegate {
    std::vector<std::string> seen;
    void alertViewClickedButtonAtIndex(ui::AlertView& alert, int index) override {
      seen.push_back(alert.title());
      if (alert.title() == "first" && index == 0) ui::AlertView::create("second", "", this, "OK")->show();
    }
  } chain;
  ui::AlertView::create("first", "", &chain, "Yes", {"No"})->show();
  ASSERT_TRUE(ui::topAlert()->tapButton(0));
  ASSERT_NE(ui::topAlert(), nullptr);
  EXPECT_EQ(ui::topAlert()->title(), "second");
  EXPECT_EQ(ui::shownAlerts().size(), 1u);
}

TEST_F(AlertTest, ActionSheetsNumberDestructiveFirstAndCancelLast) {
  ConfirmingScreen screen;
  screen.askAboutDelete();
  auto sheet = ui::topActionSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_FALSE(sheet->title());
  EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
  EXPECT_EQ(sheet->cancelButtonIndex(), 1);
  EXPECT_EQ(sheet->firstOtherButtonIndex(), -1);
  EXPECT_EQ(sheet->shownInView(), screen.view().get());
  ASSERT_TRUE(sheet->tapButton(0));
  EXPECT_EQ(screen.sheetNumber, 0);

  screen.askAboutSides();
  sheet = ui::topActionSheet();
  EXPECT_EQ(sheet->destructiveButtonIndex(), -1);
  EXPECT_EQ(sheet->firstOtherButtonIndex(), 0);
  EXPECT_EQ(sheet->cancelButtonIndex(), 3);
  ASSERT_TRUE(sheet->tapButton(2));
  EXPECT_THAT(screen.answers, ::testing::ElementsAre("sheet 3 Delete", "sheet 8 Both Breast(50/50)"));
  EXPECT_EQ(ui::topActionSheet(), nullptr);
}

TEST_F(AlertTest, DismissingFromCodeSkipsTheClickCallback) {
  ConfirmingScreen screen;
  auto alert = ui::AlertView::create("Reminder", "Sleep (Anna)", &screen, "OK");
  alert->show();
  alert->dismissWithClickedButtonIndex(0, true);
  EXPECT_THAT(screen.answers, ::testing::ElementsAre("dismissed 0"));
  EXPECT_FALSE(alert->isVisible());
}

}  // namespace
