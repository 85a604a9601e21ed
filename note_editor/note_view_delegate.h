#pragma once
// The small protocols between the note editor and the screens around it: the screen that opened it
// (noteViewDelegate), the sub-value list editor it opens (noteInputDelegate, subValueListScreen) and
// the photo screen it opens (photoViewControllerDelegate, in photo_view_controller.h).
//
// Delegates are plain pointers: the opener outlives the screen it opened, and a child screen lives
// on its opener's navigation stack.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "platform/store/context.h"

namespace ui {
class ViewController;
}

namespace note_editor {

// The screen that opened a child screen (the notes list, the note-type chooser).
class noteViewDelegate {
 public:
  virtual ~noteViewDelegate() = default;
  // The child is done: `changed` is YES when it changed stored data. The opener dismisses it.
  virtual void noteViewChildDone(ui::ViewController& child, bool changed) = 0;
  // The note editor saved (or kept a running timer) and may close.
  virtual void noteEditWasClosedAndSaved(ui::ViewController& editor, bool saved) = 0;
  // The filter screen's answer; unused by the editor.
  virtual void noteViewChildFilter(ui::ViewController& /*child*/) {}
};

// What the sub-value list editor reports to the screen that opened it.
class noteInputDelegate {
 public:
  virtual ~noteInputDelegate() = default;
  // The list was saved; `text` is the chosen sub-value (nothing when none was chosen).
  virtual void noteInputSetSubtypesAndValues(ui::ViewController& sender,
                                             const std::optional<std::string>& text) = 0;
  // The notice text; no screen sends it today.
  virtual void noteInputSetNotes(ui::ViewController& sender, const std::optional<std::string>& text) = 0;
  virtual void noteInputCancel(ui::ViewController& sender) = 0;
};

// What the editor hands the sub-value list editor (storyboard identifier "strValueListEdit").
// That screen adopts this so the editor can set it up without knowing its class.
class subValueListScreen {
 public:
  virtual ~subValueListScreen() = default;
  virtual void setValues(std::vector<std::string> values) = 0;
  virtual void setStrCurrent(std::optional<std::string> current) = 0;
  virtual void setManagedObjectContext(std::shared_ptr<store::Context> context) = 0;
  virtual void setNoteInputDelegate(noteInputDelegate* delegate) = 0;
  virtual void setNote_Type(std::optional<std::string> type) = 0;
  virtual void setScreenTitle(std::string title) = 0;
};

}  // namespace note_editor
