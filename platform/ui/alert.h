#pragma once
// Alerts and action sheets. Showing one puts it on the screen's list of shown alerts, which holds it
// until a button is tapped; a test (or the screenshot tools) finds it there and taps a button by
// index, which reaches the delegate as a real tap would.
//
// When animations play (the window), an action sheet slides up from the bottom edge as it is shown
// and back down as it is dismissed, as on the device. Its buttons answer from the start of the slide
// up; a tap's click reaches the delegate at once, and the sheet leaves the list of shown sheets at
// once (out of reach of taps) while it is still drawn sliding down; the delegate hears of the
// dismissal once it is out. At once (no window) the dismissal follows the click directly.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class View;
class AlertView;
class ActionSheet;
void removeAllAlerts();

// Non-owning: the delegate must outlive the alert's time on screen, or clear itself from it.
class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(AlertView& alert, int buttonIndex) = 0;
  virtual void alertViewDidDismissWithButtonIndex(AlertView& /*alert*/, int /*buttonIndex*/) {}
};

// Non-owning as well; a delegate that goes while one of its sheets is still on screen or sliding
// away is cleared from it, so the dismissal that comes later finds no delegate.
class ActionSheetDelegate {
 public:
  virtual ~ActionSheetDelegate();
  virtual void actionSheetClickedButtonAtIndex(ActionSheet& sheet, int buttonIndex) = 0;
  virtual void actionSheetDidDismissWithButtonIndex(ActionSheet& /*sheet*/, int /*buttonIndex*/) {}
};

class AlertView : public std::enable_shared_from_this<AlertView> {
 public:
  // Buttons are numbered in order: the cancel button first when there is one, then the others.
  static std::shared_ptr<AlertView> create(std::string title, std::string message,
                                           AlertViewDelegate* delegate,
                                           std::optional<std::string> cancelButtonTitle,
                                           std::vector<std::string> otherButtonTitles = {});

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  const std::string& message() const { return message_; }
  void setMessage(std::string message) { message_ = std::move(message); }
  AlertViewDelegate* delegate() const { return delegate_; }
  void setDelegate(AlertViewDelegate* delegate) { delegate_ = delegate; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

  // Appends a button and returns its index.
  int addButtonWithTitle(std::string title);
  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  // The title of a button; empty for an index out of range.
  std::string buttonTitleAtIndex(int index) const;
  // -1 when there is no cancel button.
  int cancelButtonIndex() const { return cancelButtonIndex_; }
  // -1 when there are no other buttons.
  int firstOtherButtonIndex() const;

  // Puts the alert on screen (once; showing a shown alert again does nothing).
  void show();
  bool isVisible() const { return visible_; }

  // A tap on a button: the delegate hears of the click, then the alert leaves the screen and the
  // delegate hears of the dismissal. Returns false, and does nothing, when the alert is not on screen
  // or the index names no button.
  bool tapButton(int index);
  // Takes the alert off screen as if the button were tapped, without the click callback.
  void dismissWithClickedButtonIndex(int index, bool animated);

 private:
  friend void removeAllAlerts();
  AlertView() = default;
  std::string title_;
  std::string message_;
  AlertViewDelegate* delegate_ = nullptr;
  std::vector<std::string> buttons_;
  int cancelButtonIndex_ = -1;
  int tag_ = 0;
  bool visible_ = false;
};

class ActionSheet : public std::enable_shared_from_this<ActionSheet> {
 public:
  // Buttons are numbered in order: the destructive button first when there is one, then the others,
  // then the cancel button last.
  static std::shared_ptr<ActionSheet> create(std::optional<std::string> title, ActionSheetDelegate* delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::optional<std::string> destructiveButtonTitle,
                                             std::vector<std::string> otherButtonTitles = {});

  const std::optional<std::string>& title() const { return title_; }
  ActionSheetDelegate* delegate() const { return delegate_; }
  void setDelegate(ActionSheetDelegate* delegate) { delegate_ = delegate; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  std::string buttonTitleAtIndex(int index) const;
  int cancelButtonIndex() const { return cancelButtonIndex_; }
  int destructiveButtonIndex() const { return destructiveButtonIndex_; }
  int firstOtherButtonIndex() const { return firstOtherButtonIndex_; }

  // Puts the sheet on screen over `view` (which may be null); the view is remembered, not owned.
  void showInView(View* view);
  bool isVisible() const { return visible_; }
  View* shownInView() const { return shownIn_; }

  bool tapButton(int index);
  // Animated while animations play, it slides down first and the delegate hears of the dismissal
  // then; otherwise at once.
  void dismissWithClickedButtonIndex(int index, bool animated);

  // How far up the sheet is drawn now: 1 in its place, 0 just below the screen's bottom edge (the
  // dimming behind it follows the same share).
  double shownShare() const;

 private:
  friend void removeAllAlerts();
  ActionSheet() = default;
  // Moves the sheet's drawing up into place or down out of view, played when `animated` and
  // animations play; `done` runs once it is there.
  void slide(bool up, bool animated, std::function<void()> done);
  std::optional<std::string> title_;
  ActionSheetDelegate* delegate_ = nullptr;
  std::vector<std::string> buttons_;
  int cancelButtonIndex_ = -1;
  int destructiveButtonIndex_ = -1;
  int firstOtherButtonIndex_ = -1;
  int tag_ = 0;
  bool visible_ = false;
  View* shownIn_ = nullptr;
  // A stand-in whose frame plays the slide: its y is 0 with the sheet in place and 1 below the
  // bottom edge. Made at the first played slide.
  std::shared_ptr<View> slide_;
};

// What is on screen, oldest first.
std::vector<std::shared_ptr<AlertView>> shownAlerts();
std::vector<std::shared_ptr<ActionSheet>> shownActionSheets();
// The newest alert or sheet on screen, or null.
std::shared_ptr<AlertView> topAlert();
std::shared_ptr<ActionSheet> topActionSheet();
// The sheets dismissed while animations play that are still sliding down, oldest first: drawn, but
// out of reach of taps.
std::vector<std::shared_ptr<ActionSheet>> actionSheetsSlidingAway();
// Takes every alert and sheet off screen, and those sliding away, without telling their delegates
// (between tests).
void removeAllAlerts();

}  // namespace ui
