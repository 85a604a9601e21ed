#pragma once
// The two main screens (the phone's notes screen inside the side menu, the tablet's main screen
// with its panel) share what they do around the notes list: choosing the baby (the first one of
// the store, or the baby list when there is none), opening the note-type chooser, the editor, the
// filter, and answering the screens they opened. MainScreen holds that; each device's screen adds
// its layout, badges and presentation.
//
// Launch: registerMainScreens adds both roots to the storyboard, makeMainRoot makes the one for
// the device in force:
//
//   phone:  SideMenuController( rear: sidebarMenuController, front: Navigation(notesViewController_iPhone) )
//   tablet: mainViewController_iPad
//
// No note is started for a missing baby: while no baby is chosen, the quick-start strip, the
// chooser and the timers open nothing. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/local_saves.h"
#include "app/note_edit_helper.h"
#include "babies/baby_list_controller.h"
#include "navigation/note_type_chooser.h"
#include "notes_list/list_extras.h"
#include "notes_list/notes_table_controller.h"
#include "notes_list/tutorial_badges.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/controls.h"
#include "platform/ui/storyboard.h"

namespace notes_list {

inline constexpr const char* kNotesViewControllerIPhoneId = "notesViewController_iPhone";
inline constexpr const char* kMainViewControllerIPadId = "mainViewController_iPad";
inline constexpr const char* kSideMenuId = "SideMenuController";
// The storyboard's initial screen: the root of the device in force.
inline constexpr const char* kMainRootId = "mainRoot";
inline constexpr const char* kLastNotesSegue = "lastNotesController";

class MainScreen;

// What the main screens take from the application.
struct MainScreenServices {
  app::NoteEditHelper neh;
  // The list's statistics services (the context at start among them).
  entriesStatisticHelper::Services statistics;
  std::shared_ptr<app::localSaves> saves;
  // Texts and the tutorial step.
  navigation::ChooserServices chooser;
  // The application delegate's context; asked again after a restore.
  std::function<std::shared_ptr<store::Context>()> applicationContext;
  // Tells the application delegate which baby is current (none after a restore).
  std::function<void(const std::optional<std::string>&)> setApplicationBabyName;
  // Whether the main bundle holds an "lproj" for the first preferred language.
  std::function<bool()> preferredLanguageHasBundle;
  // The only sender of "updateDataBase" the phone listens to (the application delegate), asked
  // when the screen loads; any sender when empty or null.
  std::function<const void*()> updateDataBaseSender;
  // The developer screenshot mode (the application delegate's screenShotState: 0 off, 1 start,
  // 2 running). At 1 the root's appearance sets it to 2 and hands the root to `startScreenshots`
  // (the screenshot tools, which make their sample babies and step through the screens).
  std::function<std::int32_t()> screenShotState;
  std::function<void(std::int32_t)> setScreenShotState;
  std::function<void(MainScreen&)> startScreenshots;
  // The pieces beside the list (strip, overlay, prompts); may be null.
  std::shared_ptr<ListExtras> extras;

  // The application delegate's context, file store, step and language.
  static MainScreenServices fromApplication();
};

class MainScreen : public noteTableController_Base {
 public:
  MainScreen(MainScreenServices services, bool iPad);
  ~MainScreen() override;

  // --- Outlets both screens have
  ui::Button& filterButton() { return *filterButton_; }
  ui::Button& filterOnButton() { return *filterOnButton_; }
  ui::SegmentedControl& tableStyleSegment() { return *tableStyleSegment_; }
  ui::View& noUserBlockLayer() { return *noUserBlockLayer_; }
  // This screen as the delegate of a child that keeps its delegate strongly, without keeping
  // this screen alive.
  std::shared_ptr<note_editor::noteViewDelegate> weakDelegate();
  // The context the screen and the screens it opens work on.
  const std::shared_ptr<store::Context>& screenContext() const { return context_; }
  // The badges of the last refresh; none before it, or once the tutorial is over.
  const std::optional<TutorialBadges>& tutorialBadges() const { return badges_; }

  void viewDidLoad() override;
  // Starts the screenshot mode when it was asked for (see MainScreenServices).
  void viewDidAppear(bool animated) override;
  void updateLanguageStuff() override;
  void performFetch() override;

  // --- The baby
  // The chosen baby becomes current: the filter ends, the list is fetched for it, the strip
  // follows, the block layer goes and any presented screen is dismissed.
  void babyListControllerDone(const std::optional<std::string>& name, int gender,
                              const std::optional<foundation::Date>& birthday);

  // --- Hooks of the list
  void quickStartNumWasClicked(int slot) override;
  void openTimerWithNum(std::size_t number) override;
  void noteEditWasClosedAndSaved(ui::ViewController& editor, bool saved) override;
  void noteViewChildDone(ui::ViewController& child, bool changed) override;
  void noteViewChildFilter(ui::ViewController& child) override;

  // --- Actions
  void openFilter();
  void resetFilterOnPressed();
  void tableStyleChanged();
  // The tutorial step as the list shows it (called at the end of every updateTable).
  void updateTutorial();
  // After a restore: the application's rebuilt context, and the baby chosen again.
  virtual void updateDataBase() = 0;

 protected:
  MainScreenServices& services() { return services_; }
  // The presentation style of the screens opened from the list.
  ui::ModalPresentationStyle openStyle() const;
  // A storyboard navigation controller with its last screen prepared by `prepare`; null (nothing
  // happens) when the storyboard makes none or it holds no screen.
  std::shared_ptr<ui::NavigationController> navigationFor(
      const std::string& identifier, const std::function<void(ui::ViewController&)>& prepare);
  // The baby list's navigation controller, prepared (context, this screen, file store, updateList).
  std::shared_ptr<ui::NavigationController> babyListNavigation();
  // Prepares the baby list of a segue's navigation controller.
  void prepareBabyList(ui::ViewController& destination);
  // The first Baby of the store becomes current; false when there is none (or the fetch failed).
  bool chooseFirstBaby();
  // The application's context again (after a restore), in the list and the screens it opens.
  void takeApplicationContext();
  // A context or file store handed by the application, for the list and the screens it opens.
  void adoptContext(std::shared_ptr<store::Context> context);
  void adoptSaves(std::shared_ptr<app::localSaves> saves);

  // The latest-updates screen gets the current baby and this screen as its delegate.
  void prepareLatestUpdates(ui::ViewController& screen);
  // The quick-start strip's badge (on its more slot).
  void showStripBadge(bool badge);
  // The strip for the current baby and type order, keeping the tutorial's badge on it (the
  // strip may be made only now).
  void refreshStrip();

  // The language screen in a navigation controller, presented without animation; once it is up
  // the screen no longer asks for it.
  void presentLanguageScreen(bool barHidden);

  // The first-run overlay over every control of the screen, and only the block layer above it;
  // each device's screen calls it once its own controls are in place.
  void layerOverlays();

  // Before opening a screen over the list (the tablet closes its popover).
  virtual void closePopover() {}
  // Shows the badges in the device's pictures.
  virtual void showBadges(const TutorialBadges& badges) = 0;
  // Shows the chosen baby's name.
  virtual void showBabyName(const std::optional<std::string>& name) = 0;

  std::shared_ptr<ui::Button> filterButton_;
  std::shared_ptr<ui::Button> filterOnButton_;
  std::shared_ptr<ui::SegmentedControl> tableStyleSegment_;
  std::shared_ptr<ui::View> noUserBlockLayer_;
  std::shared_ptr<store::Context> context_;

 private:
  void presentOpened(std::shared_ptr<ui::ViewController> controller);

  MainScreenServices services_;
  std::optional<TutorialBadges> badges_;
  // Hands the baby list's choice back while this screen lives (the list keeps its delegate).
  std::shared_ptr<babies::babyListControllerDelegate> babyChoice_;
};

// Shows the named picture; one that does not load leaves the view as it is.
void showPicture(ui::ImageView& view, const std::string& name);

// Adds "notesViewController_iPhone", "mainViewController_iPad", "SideMenuController" (the
// phone's root) and "mainRoot" (the root of the device in force, made the initial screen) to the
// storyboard, with the sidebar's segues. `services` is asked each time a screen is made.
void registerMainScreens(ui::Storyboard& storyboard, std::function<MainScreenServices()> services);
// The root screen for the device in force: the side-menu container on a phone, the tablet's main
// screen on a tablet. Null when the storyboard does not know it.
std::shared_ptr<ui::ViewController> makeMainRoot(ui::Storyboard& storyboard);

}  // namespace notes_list
