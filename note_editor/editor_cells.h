#pragma once
// The rows of the note editor's table. Each cell only holds its subviews and draws its hairlines;
// the editor fills the texts and sets the line switches when it builds the row.
//
//   noteEditDateCell     caption left, date and time right; top / bottom / full-width line switches
//   noteEditCell         one value label; the same line switches
//   noteSegmentEditCell  caption and the breast-side control; always the inset bottom line
//   noteEditNoticeCell   the notice text; draws nothing of its own
//   noteTimerCell        one counter with hours, minutes and seconds captions and three buttons
//   noteTimerBreastCell  the left and right counters and three buttons
//
// Hairlines are 0.5 points wide, without antialiasing, in RGB 242/239/252 at alpha 0.3.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/controls.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"

namespace note_editor {

// The hairline colour of the editor's rows.
graphics::Color editorHairlineColor();

// A row that draws its own top and bottom lines as the editor switches them.
class lineSwitchCell : public ui::TableViewCell {
 public:
  explicit lineSwitchCell(std::string identifier);

  bool drawTopLine = false;
  bool drawBottomLine = false;
  // The bottom line runs the full width; otherwise it starts 10 points in.
  bool foolLine = false;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class noteEditDateCell : public lineSwitchCell {
 public:
  static constexpr const char* kIdentifier = "noteEditDateCell";
  noteEditDateCell();

  std::shared_ptr<ui::Label> leftLable;
  std::shared_ptr<ui::Label> rightLable;

  void layoutSubviews() override;
};

class noteEditCell : public lineSwitchCell {
 public:
  static constexpr const char* kIdentifier = "noteEditCell";
  noteEditCell();

  std::shared_ptr<ui::Label> valueLable;

  void layoutSubviews() override;
};

class noteSegmentEditCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "noteSegmentEditCell";
  noteSegmentEditCell();

  std::shared_ptr<ui::Label> segmentLabel;
  std::shared_ptr<ui::SegmentedControl> breastSegment;

  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class noteEditNoticeCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "noteEditNoticeCell";
  noteEditNoticeCell();

  std::shared_ptr<ui::TextView> noticeTextView;
  // Covers the text; a tap on it starts editing the notice.
  std::shared_ptr<ui::Button> editButton;

  void layoutSubviews() override;
};

// A timer cell's button. The editor tells the buttons apart by the restoration identifier the
// cell gives each: "timerLeftButton", "timerCenterButton", "timerRightButton" in the single timer's
// cell, the same with "2" in the breast timer's.
class timerButton : public ui::Button {
 public:
  explicit timerButton(std::string restorationIdentifier);
  const std::string& restorationIdentifier() const { return restorationIdentifier_; }

 private:
  std::string restorationIdentifier_;
};

// The button a restoration identifier names: 0 left, 1 centre, 2 right (either cell's identifier);
// nothing for any other.
std::optional<int> timerButtonIndex(std::string_view restorationIdentifier);

// What both timer cells share: the three buttons with their captions, the captions of the side
// used last, the close button and the bottom hairline. `suffix` ends the buttons' restoration
// identifiers.
class timerCellBase : public ui::TableViewCell {
 public:
  timerCellBase(std::string identifier, std::string_view suffix);

  std::shared_ptr<ui::Button> leftButton, centerButton, rightButton, closeButton;
  std::shared_ptr<ui::Label> leftButtonLable, centerButtonLable, rightButtonLable;
  std::shared_ptr<ui::Label> leftPrevLable, rightPrevLable;

  // The one-time adjustment for the larger screens, then the bottom hairline.
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
  // The adjustment for the larger screens has been decided (made, or not needed on this screen).
  bool atLeastOnce() const { return atLeastOnce_; }

 protected:
  // Moves the views for the larger screens; false on a screen that keeps the base layout.
  virtual bool adjustForScreen() = 0;
  // A laid-out cell whose adjustment is made keeps it through later layouts.
  void keepAdjustment();

  // Places the buttons' row with its centre line at `y`, the side groups centred on `leftX` and
  // `rightX`.
  void layoutButtons(double y, double leftX, double rightX);

 private:
  bool atLeastOnce_ = false;
  bool adjusted_ = false;
};

class noteTimerCell : public timerCellBase {
 public:
  static constexpr const char* kIdentifier = "noteTimerCell";
  noteTimerCell();

  std::shared_ptr<ui::Label> timeLable;
  std::shared_ptr<ui::Label> hoursLable, minutesLable, secondsLable;

  void layoutSubviews() override;

 protected:
  bool adjustForScreen() override;
};

class noteTimerBreastCell : public timerCellBase {
 public:
  static constexpr const char* kIdentifier = "noteTimerBreastCell";
  noteTimerBreastCell();

  std::shared_ptr<ui::Label> timeLeftLable, timeRightLable;

  void layoutSubviews() override;

 protected:
  bool adjustForScreen() override;
};

}  // namespace note_editor
