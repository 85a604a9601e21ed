#pragma once
// ListExtras: the pieces of the notes list that live beside it (the first-run units overlay and the
// first-launch file, the quick-start strip, the prompts after a save). The list calls them at
// fixed points of its load and save paths; its owner sets them, and without them the list simply
// has none of these pieces. Calls come on the main thread, with the list they belong to.

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/geometry.h"
#include "platform/ui/view.h"

namespace notes_list {

class noteTableController_Base;

class ListExtras {
 public:
  virtual ~ListExtras() = default;

  // At load, when Library/"Settings"/"firstLaunch.txt" is not a plain file and the store holds no
  // note: the first-run overlay with the given frame (the list's view). The list keeps it as its
  // fstLaunchView and puts it over its view. Null: no overlay.
  virtual std::shared_ptr<ui::View> makeFirstLaunchView(noteTableController_Base& list,
                                                        const graphics::Rect& frame) = 0;

  // Writes the first-launch date and takes the overlay (list.fstLaunchView(), may be null) off
  // the screen. The list calls it at load when the store already holds notes or cannot be read.
  virtual void saveFirstLaunchFile(noteTableController_Base& list) = 0;

  // Fills the list's quick-start slot (list.noteQuickStartView()) with the strip for the types
  // in `quickStartTypeArr` (the user's order) and redraws it. Clicks go to
  // list.quickStartNumWasClicked.
  virtual void updateQuickStartView(noteTableController_Base& list, ui::View& noteQuickStartView,
                                    const std::vector<std::string>& quickStartTypeArr) = 0;

  // After a note was saved and the list fetched again: count the notes (list.setAllEntriesNum)
  // and run the prompts. Feedback mail goes through list.launchMailAppOnDevice.
  virtual void noteEditWasSaved(noteTableController_Base& list) = 0;
};

}  // namespace notes_list
