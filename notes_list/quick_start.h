#pragma once
// quickStartView: the strip of note-type icons on the main screens. It shows the first types of
// the user's order in frames, then the "more" slot that leads to all types. Over each type whose
// latest note of the current baby stopped less than a day ago it writes how long ago that was
// (without the "ago" word when that does not fit); with no such label it writes "quick launch".
// It redraws every 30 seconds of the main run loop's clock once it has been drawn. A touch
// reports its slot (n equal slices of the width) to the delegate: the type's index, or -1 for the
// last slot. Main thread only.
//
// Slots: 6 on a tablet in portrait, 9 in landscape; 7 on a 736-point phone, 6 on a standard
// 667-point phone, 5 otherwise (the more slot included).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/context.h"
#include "platform/ui/view.h"

namespace notes_list {

class quickStartViewDelegate {
 public:
  virtual ~quickStartViewDelegate() = default;
  virtual void quickStartNumWasClicked(int slot) = 0;
};

class quickStartView : public ui::View {
 public:
  // `context` gives the store to read the latest notes from (none: no labels).
  quickStartView(const graphics::Rect& frame, app::NoteEditHelper neh,
                 std::function<std::shared_ptr<store::Context>()> context,
                 std::function<app::InterfaceText()> language = {});
  ~quickStartView() override;

  quickStartViewDelegate* quickStartView_delegate = nullptr;  // non-owning
  std::optional<std::string> currentBabyName;
  std::vector<std::string> typeIconArr;
  std::vector<std::string> typeIdArr;
  bool showTheBadge = false;

  // The strip inside a list's quick-start slot, if one was put there.
  static quickStartView* in(ui::View& slot);

  unsigned framesCount() const;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
  // Draws one slot in its frame rectangle: a type slot's time label when its latest note stopped
  // less than a day ago, then its icon; for -1 the more slot's icon with its badge. True when it
  // drew a time label (never for the more slot, nor for an index past the types).
  bool drawImageNumInRect(graphics::Canvas& canvas, int num, const graphics::Rect& frame);
  void touchesEnded(const ui::TouchSet& touches) override;
  // Each slot as the touch finds it, named by its type ("+" for the last), and the time labels
  // (or the "quick launch" caption) where they are drawn.
  std::vector<AccessibilityElement> accessibilityElements() const override;
  // The slot under a horizontal position, reported to the delegate.
  void checkPoint(double x);
  // One refresh step: schedules the next and asks for a redraw.
  void doUpdate();

  // The label over a type's icon now (empty: none), as the slot would draw it.
  std::string timeLabelForType(const std::string& type, double slotWidth) const;

 private:
  // A type's time label and where it goes over the slot in `frame`, looked up and measured once for
  // drawing or reading out; none when the type has no note that stopped less than a day ago.
  std::optional<AccessibilityElement> timeLabel(const std::string& type, const graphics::Rect& frame) const;
  // The "quick launch" caption and where it goes, for a strip without time labels.
  AccessibilityElement caption() const;

  graphics::AttributedText labelText(const std::string& text) const;
  // Where slot i's frame is drawn.
  graphics::Rect slotFrame(unsigned i) const;
  graphics::Font captionFont() const;
  std::string localized(std::string_view key) const;

  app::NoteEditHelper neh_;
  std::function<std::shared_ptr<store::Context>()> context_;
  std::function<app::InterfaceText()> language_;
  bool refreshStarted_ = false;
  runtime::Timer refresh_;
};

}  // namespace notes_list
