#pragma once
// The phone's main screen: the notes list as the front screen of the side menu, in a navigation
// controller. Around the list it has the current baby's name (which opens the baby list), the
// filter and reset-filter buttons, the list or summary switch, the reminders and latest-updates
// buttons, the menu button, and the first-use badges on the menu and latest-updates pictures.
//
// First appearance: the language screen when the first preferred language has no texts; then the
// first baby of the store, or the baby list when there is none. After a restore ("updateDataBase"
// from the application delegate) it drops the screens pushed over it, takes the rebuilt store and
// chooses the baby again. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "navigation/side_menu_controller.h"
#include "notes_list/main_screens.h"
#include "platform/runtime/notification_center.h"

namespace notes_list {

class notesViewController_iPhone : public MainScreen, public navigation::SideMenuFrontScreen {
 public:
  explicit notesViewController_iPhone(MainScreenServices services);

  // --- Outlets
  ui::Button& babyNameButton() { return *babyNameButton_; }
  ui::ImageView& menuImg() { return *menuImg_; }
  ui::ImageView& lastUpdatesImg() { return *lastUpdatesImg_; }
  ui::Button& remindersButton() { return *remindersButton_; }
  ui::Button& lastUpdatesButton() { return *lastUpdatesButton_; }
  const std::shared_ptr<ui::BarButtonItem>& sidebarButton() const { return sidebarButton_; }
  ui::View* transparentView() const override { return transparentView_.get(); }
  // The pictures the badges chose last (the view keeps its picture when one does not load).
  const std::string& menuImageName() const { return menuImageName_; }
  const std::string& lastUpdatesImageName() const { return lastUpdatesImageName_; }

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewDidLayoutSubviews() override;
  void updateTable() override;
  void performFetch() override;
  void prepareForSegue(ui::StoryboardSegue& segue, ui::View* sender) override;

  // --- Actions
  void openReminder();
  void showOtherData();
  // The name button: the baby list through "changeBabySegue".
  void changeBaby();
  void updateDataBase() override;

 protected:
  void showBadges(const TutorialBadges& badges) override;
  void showBabyName(const std::optional<std::string>& name) override;

 private:
  void layoutControls();
  // The navigation bar shows what lies behind it: the bar's picture, laid there by this screen.
  void seeThroughBar();
  // The first baby of the store, or the baby list presented without animation.
  void chooseBabyOrAsk();

  std::shared_ptr<ui::Button> babyNameButton_;
  std::shared_ptr<ui::Button> menuButton_;
  std::shared_ptr<ui::ImageView> menuImg_;
  std::shared_ptr<ui::Button> lastUpdatesButton_;
  std::shared_ptr<ui::ImageView> lastUpdatesImg_;
  std::shared_ptr<ui::Button> remindersButton_;
  std::shared_ptr<ui::BarButtonItem> sidebarButton_;
  std::shared_ptr<ui::View> transparentView_;
  std::shared_ptr<ui::ImageView> barBackdrop_;
  std::string menuImageName_;
  std::string lastUpdatesImageName_;
  runtime::ObserverToken updateDataBaseObserver_;
  runtime::ObserverToken updateTutorialObserver_;
};

}  // namespace notes_list
