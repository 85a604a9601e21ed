#pragma once
// The tablet's main screen and the storyboard's first screen: the notes list on the right, and on
// the left a panel with the current baby's picture, name and age and the buttons to the other
// screens (reminders, summary chart, day track, growth graph, teeth, allergies, contacts, photos,
// settings, growth information, latest updates), reached by storyboard segues. Screens opened from
// the list come up as form sheets; the latest updates, and the baby list after a restore, in a
// popover, which every other way off the list closes first.
//
// It is the application delegate's root screen: at launch it is told whether to open the language
// screen and given the store; after a restore it is told to take the store again. The strip's slot
// count and the first-run overlay follow the orientation. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/flat_widgets.h"
#include "notes_list/main_screens.h"

namespace notes_list {

class mainViewController_iPad : public MainScreen,
                                public app::RootScreen,
                                public ui::PopoverControllerDelegate {
 public:
  // The panel buttons and the segues they perform.
  struct PanelEntry {
    std::string captionKey;  // empty for the growth information, whose caption is fixed
    std::string segue;
  };

  explicit mainViewController_iPad(MainScreenServices services);

  // --- Outlets
  ui::Label& babyNameLable() { return *babyNameLable_; }
  ui::Label& daysLable() { return *daysLable_; }
  ui::ImageView& babyImage() { return *babyImage_; }
  ui::Button& babyNameButton() { return *babyNameButton_; }
  app::lineDrawerView& LeftSideBackView() { return *leftSideBackView_; }
  ui::ImageView& graphImg() { return *graphImg_; }
  ui::ImageView& latestNotesImg() { return *latestNotesImg_; }
  ui::Button& photoButton() { return *photoButton_; }
  // At the right end of the list's bar: a new note through "addNoteSegue".
  ui::Button& addNoteButton() { return *addNoteButton_; }
  // The panel button that performs the segue; null when there is none.
  ui::Button* panelButton(const std::string& segue) const;
  ui::Label* panelLabel(const std::string& segue) const;
  // The growth-information entry; null when the storyboard cannot open it.
  ui::View* growthInfoViews() const { return growthInfo_.get(); }
  const std::shared_ptr<ui::PopoverController>& myPopoverController() const { return myPopoverController_; }
  // The pictures the badges and the baby chose last (a picture that does not load leaves the view).
  const std::string& graphImageName() const { return graphImageName_; }
  const std::string& latestNotesImageName() const { return latestNotesImageName_; }
  const std::string& babyImageName() const { return babyImageName_; }

  // --- What the application delegate hands the root screen
  void setShouldChooseTheLanguage(bool shouldChoose) override {
    noteTableController_Base::setShouldChooseTheLanguage(shouldChoose);
  }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) override;
  void setLocSaves(std::shared_ptr<app::localSaves> saves) override;
  void updateDataBase() override;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidLayoutSubviews() override;
  void willRotateToInterfaceOrientation(ui::Orientation to, double duration) override;
  void didRotateFromInterfaceOrientation(ui::Orientation from) override;
  void updateLanguageStuff() override;
  void updateTable() override;
  void prepareForSegue(ui::StoryboardSegue& segue, ui::View* sender) override;
  void popoverControllerDidDismissPopover(ui::PopoverController& popover) override;

  // The strip and the overlay follow the orientation; the list reloads.
  void adjustViewsForOrientation(ui::Orientation orientation);

 protected:
  void closePopover() override;
  void showBadges(const TutorialBadges& badges) override;
  void showBabyName(const std::optional<std::string>& name) override;

 private:
  void buildPanel();
  void layoutScreen();
  void showBabyPicture();
  // The baby list in a popover at (50, 50, 50, 50), arrow left, after a restore into a store
  // without babies; also when the layer that then covers the list is tapped.
  void askForBabyInPopover();

  std::shared_ptr<ui::Label> babyNameLable_;
  std::shared_ptr<ui::Label> daysLable_;
  std::shared_ptr<ui::ImageView> babyImage_;
  std::shared_ptr<ui::Button> babyNameButton_;
  std::shared_ptr<app::lineDrawerView> leftSideBackView_;
  std::shared_ptr<ui::ImageView> graphImg_;
  std::shared_ptr<ui::ImageView> latestNotesImg_;
  std::shared_ptr<ui::Button> photoButton_;
  std::shared_ptr<ui::Button> addNoteButton_;
  std::shared_ptr<ui::View> growthInfo_;
  std::vector<std::shared_ptr<ui::Button>> panelButtons_;
  std::vector<std::shared_ptr<ui::Label>> panelLabels_;
  std::vector<PanelEntry> panelEntries_;
  std::shared_ptr<ui::PopoverController> myPopoverController_;
  std::string graphImageName_;
  std::string latestNotesImageName_;
  std::string babyImageName_;
  // The baby list is up in a popover because a restore left the store without babies.
  bool askingAfterRestore_ = false;
};

}  // namespace notes_list
