#pragma once
// ListExtrasImpl: the pieces beside one notes list, as the list's ListExtras.
//   load      first launch with an empty store: the units overlay; "Start" on the overlay asks
//             for confirmation, stores the units and then writes the first-launch file. When the
//             units cannot be saved the overlay stays and an alert says so.
//   header    the quick-start strip inside the list's slot; its taps go to the list.
//   saves     counts the store's notes and runs the after-save prompts; feedback mail goes out
//             through the list's mail composer.
// One per list; it must outlive the list's view. Main thread only.
//
// registerListExtrasScreens registers the filter ("filterViewController") and the latest updates
// ("lastNotesControllerNav_id", "lastNotesController") with a storyboard.

#include <functional>
#include <memory>

#include "notes_list/after_save_prompts.h"
#include "notes_list/list_extras.h"
#include "notes_list/quick_start.h"
#include "notes_list/units_overlay.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"

namespace notes_list {

class ListExtrasImpl : public ListExtras,
                       public firstLaunchViewDelegate,
                       public quickStartViewDelegate,
                       public ui::ActionSheetDelegate {
 public:
  struct Services {
    AfterSavePrompts::Services prompts;
    // The interface language; InterfaceText::current() when empty.
    std::function<app::InterfaceText()> language;
    // The store the quick-start strip reads the latest notes from, asked at each drawing (a
    // restore puts a new one in place); when empty, the list's context as it is then.
    std::function<std::shared_ptr<store::Context>()> context;
    // The running application's: the application delegate's context for the strip.
    static Services fromApplication();
  };

  explicit ListExtrasImpl(Services services);
  ~ListExtrasImpl() override;

  std::shared_ptr<ui::View> makeFirstLaunchView(noteTableController_Base& list,
                                                const graphics::Rect& frame) override;
  void saveFirstLaunchFile(noteTableController_Base& list) override;
  void updateQuickStartView(noteTableController_Base& list, ui::View& noteQuickStartView,
                            const std::vector<std::string>& quickStartTypeArr) override;
  void noteEditWasSaved(noteTableController_Base& list) override;

  void firstLaunchViewDoClose() override;
  void quickStartNumWasClicked(int slot) override;
  void actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) override;

  AfterSavePrompts& prompts() { return prompts_; }
  // The alert of a failed units save, while shown.
  const std::shared_ptr<ui::AlertView>& unitsAlert() const { return unitsAlert_; }

 private:
  std::string localized(std::string_view key) const;

  Services services_;
  AfterSavePrompts prompts_;
  noteTableController_Base* list_ = nullptr;
  std::shared_ptr<ui::ActionSheet> sheet_;
  std::shared_ptr<ui::AlertView> unitsAlert_;
};

// What the filter and latest-updates screens are made with.
struct ListExtrasScreenServices {
  app::NoteEditHelper neh;
  std::function<std::shared_ptr<store::Context>()> context;
  const foundation::Clock* clock = &foundation::Clock::system();
  std::function<app::InterfaceText()> language;
  app::AnalyticsEventSink logEvent;
  // The running application's: its context, Tally, the main run loop's clock.
  static ListExtrasScreenServices fromApplication();
};

// Registers "filterViewController", "lastNotesControllerNav_id" and "lastNotesController". The
// services are asked for each new screen; the application's when empty.
void registerListExtrasScreens(ui::Storyboard& storyboard,
                               std::function<ListExtrasScreenServices()> services = {});

}  // namespace notes_list
