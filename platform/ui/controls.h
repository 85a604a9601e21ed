#pragma once
// Labels, image views and the controls: buttons, segmented controls and switches. A control calls
// its actions (std::function, given the control as sender) for the events they were added for; a
// touch that ends inside a button is its touch-up-inside event.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/canvas.h"
#include "platform/graphics/font.h"
#include "platform/ui/image_library.h"
#include "platform/ui/view.h"

namespace ui {

using graphics::Font;
using graphics::LineBreakMode;
using graphics::TextAlignment;

// The platform's control-event bits.
enum ControlEvent : unsigned {
  kControlEventTouchDown = 1u << 0,
  kControlEventTouchDragInside = 1u << 2,
  kControlEventTouchDragOutside = 1u << 3,
  kControlEventTouchUpInside = 1u << 6,
  kControlEventTouchUpOutside = 1u << 7,
  kControlEventTouchCancel = 1u << 8,
  kControlEventValueChanged = 1u << 12,
  kControlEventEditingDidBegin = 1u << 16,
  kControlEventEditingChanged = 1u << 17,
  kControlEventEditingDidEnd = 1u << 18,
  kControlEventEditingDidEndOnExit = 1u << 19,
};

// The platform's control states; a title or image is looked up for the current state, then normal.
enum class ControlState : unsigned { kNormal = 0, kHighlighted = 1, kDisabled = 2, kSelected = 4 };

class Label : public View {
 public:
  Label();
  explicit Label(const Rect& frame);

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const Font& font() const { return font_; }
  void setFont(Font font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& color);
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment);
  // 0 is as many lines as fit.
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines);
  LineBreakMode lineBreakMode() const { return lineBreak_; }
  void setLineBreakMode(LineBreakMode mode);
  // Shrinking to fit: a one-line label that adjusts draws its text smaller, by one factor for all
  // of it, until it fits its width or reaches the minimum scale factor (0: as small as needed).
  // Only one-line labels shrink; a label that does not adjust cuts its text instead (its line
  // break mode: "…" at the end by default).
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSize_ = adjusts; }
  double minimumScaleFactor() const { return minimumScaleFactor_; }
  void setMinimumScaleFactor(double factor) { minimumScaleFactor_ = factor; }
  // Whether the text as drawn (after any shrinking) does not fit the bounds: one line wider than
  // the label, or more lines or more height than it holds. A walk over the screens asks this to
  // find cut texts.
  bool isTextCut() const;
  // Styled text; when set it is drawn instead of text, font and colour.
  const std::optional<graphics::AttributedText>& attributedText() const { return attributed_; }
  void setAttributedText(std::optional<graphics::AttributedText> text);

  // The text as drawn: the attributed text, or the plain text in the label's font, colour and
  // alignment (a shrunk font when the text must fit the width).
  graphics::AttributedText drawnText() const;
  // The rectangle the text occupies inside `bounds`, vertically centred as the platform does.
  Rect textRectForBounds(const Rect& bounds) const;

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;
  Size sizeThatFits(Size size) const override;

 private:
  std::string text_;
  Font font_;
  Color textColor_ = Color::black();
  TextAlignment alignment_ = TextAlignment::kLeft;
  int numberOfLines_ = 1;
  LineBreakMode lineBreak_ = LineBreakMode::kTruncateTail;
  bool adjustsFontSize_ = false;
  double minimumScaleFactor_ = 0;
  std::optional<graphics::AttributedText> attributed_;
};

class ImageView : public View {
 public:
  ImageView();
  explicit ImageView(const Rect& frame);
  // Sized to the image's size in points.
  explicit ImageView(ImageRef image);

  const ImageRef& image() const { return image_; }
  void setImage(ImageRef image);

  // Where the image is drawn inside the bounds for the content mode.
  Rect imageRect() const;
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;
  Size sizeThatFits(Size size) const override;

 private:
  ImageRef image_;
};

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;
  struct ActionEntry {
    int id = 0;
    unsigned events = 0;
    Action action;
  };

  using View::View;

  // Adds an action for the events (bits of ControlEvent); returns its id for removeAction.
  int addTarget(Action action, unsigned events);
  void removeAction(int id);
  void removeAllActions() { actions_.clear(); }
  const std::vector<ActionEntry>& actions() const { return actions_; }
  // Calls, in the order they were added, the actions for any of the events.
  void sendActionsForControlEvents(unsigned events);

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled);
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted);
  ControlState state() const;

  void touchesBegan(const TouchSet& touches) override;
  void touchesMoved(const TouchSet& touches) override;
  void touchesEnded(const TouchSet& touches) override;
  void touchesCancelled(const TouchSet& touches) override;

 protected:
  // A touch lifted inside the control, after the touch-up-inside actions' event was decided.
  virtual void touchEndedInside(Point /*location*/) {}

 private:
  std::vector<ActionEntry> actions_;
  int nextId_ = 1;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
};

class Button : public Control {
 public:
  Button();
  explicit Button(const Rect& frame);

  void setTitle(std::string title, ControlState state = ControlState::kNormal);
  // The title for the state (falling back to the normal title); empty when none.
  std::string titleForState(ControlState state) const;
  std::string currentTitle() const { return titleForState(state()); }
  void setTitleColor(const Color& color, ControlState state = ControlState::kNormal);
  Color titleColorForState(ControlState state) const;
  void setImage(ImageRef image, ControlState state = ControlState::kNormal);
  ImageRef imageForState(ControlState state) const;
  void setBackgroundImage(ImageRef image, ControlState state = ControlState::kNormal);
  ImageRef backgroundImageForState(ControlState state) const;
  const Font& titleFont() const { return titleFont_; }
  void setTitleFont(Font font);

  // A tap as the user makes it: touch-down and touch-up-inside, when enabled.
  void tap();
  // Whether the current title, in the title font on one line, is wider than the button leaves it
  // (the bounds less the image's width).
  bool isTitleCut() const;

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 private:
  std::map<ControlState, std::string> titles_;
  std::map<ControlState, Color> titleColors_;
  std::map<ControlState, ImageRef> images_;
  std::map<ControlState, ImageRef> backgroundImages_;
  Font titleFont_ = Font::systemFontOfSize(15);
};

class SegmentedControl : public Control {
 public:
  static constexpr int kNoSegment = -1;

  SegmentedControl();
  explicit SegmentedControl(std::vector<std::string> titles);

  int numberOfSegments() const { return static_cast<int>(titles_.size()); }
  void insertSegmentWithTitle(std::string title, int index);
  void removeAllSegments();
  void setTitleForSegmentAtIndex(std::string title, int index);
  std::string titleForSegmentAtIndex(int index) const;
  int selectedSegmentIndex() const { return selected_; }
  // Chooses a segment from code: no value-changed event (as the platform does).
  void setSelectedSegmentIndex(int index);
  const Color& tintColor() const { return tint_; }
  void setTintColor(const Color& color);

  // A tap on a segment as the user makes it: selects it and sends value-changed when it changed.
  void tapSegment(int index);

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 protected:
  void touchEndedInside(Point location) override;

 private:
  Font segmentTitleFont(const Font& font, const std::string& title, double segmentWidth);

  std::vector<std::string> titles_;
  int selected_ = kNoSegment;
  Color tint_ = Color::systemBlue();
};

class Switch : public Control {
 public:
  Switch();
  explicit Switch(const Rect& frame);

  bool isOn() const { return on_; }
  // From code: no value-changed event.
  void setOn(bool on, bool animated = false);
  const Color& onTintColor() const { return onTint_; }
  void setOnTintColor(const Color& color) { onTint_ = color; }

  // A flip as the user makes it: toggles and sends value-changed.
  void toggle();

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 protected:
  void touchEndedInside(Point location) override;

 private:
  bool on_ = false;
  Color onTint_ = Color::rgb255(76, 217, 100);
};

}  // namespace ui
