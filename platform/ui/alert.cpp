#include "platform/ui/alert.h"

#include <algorithm>

#include "platform/ui/animation.h"
#include "platform/ui/view.h"

namespace ui {

namespace {

// How long an action sheet takes to slide up into place or down out of view.
constexpr double kSheetSlideDuration = 0.3;

struct Shown {
  std::vector<std::shared_ptr<AlertView>> alerts;
  std::vector<std::shared_ptr<ActionSheet>> sheets;
  std::vector<std::shared_ptr<ActionSheet>> slidingAway;
};

Shown& shown() {
  // Never destroyed: a delegate that outlives the program's statics still clears itself from it.
  static Shown* s = new Shown;
  return *s;
}

// Whether the item was in the list.
template <class T>
bool removeFrom(std::vector<std::shared_ptr<T>>& list, const T* item) {
  const auto end = std::remove_if(list.begin(), list.end(), [&](const auto& p) { return p.get() == item; });
  const bool found = end != list.end();
  list.erase(end, list.end());
  return found;
}

// The stand-in's frame with the sheet in place (up) or out of view.
Rect slidePlace(bool up) { return Rect(0, up ? 0 : 1, 1, 1); }

std::string titleAt(const std::vector<std::string>& buttons, int index) {
  if (index < 0 || index >= static_cast<int>(buttons.size())) return {};
  return buttons[index];
}

}  // namespace

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message,
                                             AlertViewDelegate* delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles) {
  std::shared_ptr<AlertView> alert(new AlertView());
  alert->title_ = std::move(title);
  alert->message_ = std::move(message);
  alert->delegate_ = delegate;
  if (cancelButtonTitle) {
    alert->cancelButtonIndex_ = 0;
    alert->buttons_.push_back(std::move(*cancelButtonTitle));
  }
  for (auto& other : otherButtonTitles) alert->buttons_.push_back(std::move(other));
  return alert;
}

int AlertView::addButtonWithTitle(std::string title) {
  buttons_.push_back(std::move(title));
  return numberOfButtons() - 1;
}

std::string AlertView::buttonTitleAtIndex(int index) const { return titleAt(buttons_, index); }

int AlertView::firstOtherButtonIndex() const {
  int first = cancelButtonIndex_ == 0 ? 1 : 0;
  return first < numberOfButtons() ? first : -1;
}

void AlertView::show() {
  if (visible_) return;
  visible_ = true;
  shown().alerts.push_back(shared_from_this());
}

bool AlertView::tapButton(int index) {
  if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
  auto keep = shared_from_this();
  if (delegate_) delegate_->alertViewClickedButtonAtIndex(*this, index);
  dismissWithClickedButtonIndex(index, true);
  return true;
}

void AlertView::dismissWithClickedButtonIndex(int index, bool /*animated*/) {
  if (!visible_) return;
  auto keep = shared_from_this();
  visible_ = false;
  removeFrom(shown().alerts, this);
  if (delegate_) delegate_->alertViewDidDismissWithButtonIndex(*this, index);
}

std::shared_ptr<ActionSheet> ActionSheet::create(std::optional<std::string> title,
                                                 ActionSheetDelegate* delegate,
                                                 std::optional<std::string> cancelButtonTitle,
                                                 std::optional<std::string> destructiveButtonTitle,
                                                 std::vector<std::string> otherButtonTitles) {
  std::shared_ptr<ActionSheet> sheet(new ActionSheet());
  sheet->title_ = std::move(title);
  sheet->delegate_ = delegate;
  if (destructiveButtonTitle) {
    sheet->destructiveButtonIndex_ = 0;
    sheet->buttons_.push_back(std::move(*destructiveButtonTitle));
  }
  if (!otherButtonTitles.empty()) sheet->firstOtherButtonIndex_ = sheet->numberOfButtons();
  for (auto& other : otherButtonTitles) sheet->buttons_.push_back(std::move(other));
  if (cancelButtonTitle) {
    sheet->cancelButtonIndex_ = sheet->numberOfButtons();
    sheet->buttons_.push_back(std::move(*cancelButtonTitle));
  }
  return sheet;
}

std::string ActionSheet::buttonTitleAtIndex(int index) const { return titleAt(buttons_, index); }

ActionSheetDelegate::~ActionSheetDelegate() {
  for (const auto* list : {&shown().sheets, &shown().slidingAway})
    for (const auto& sheet : *list)
      if (sheet->delegate() == this) sheet->setDelegate(nullptr);
}

void ActionSheet::showInView(View* view) {
  if (visible_) return;
  visible_ = true;
  shownIn_ = view;
  // Shown again on its way down: it goes back up from where it is drawn.
  removeFrom(shown().slidingAway, this);
  shown().sheets.push_back(shared_from_this());
  slide(true, true, {});
}

void ActionSheet::slide(bool up, bool animated, std::function<void()> done) {
  if (!animated || animationMode() != AnimationMode::kPlayed) {
    if (slide_) slide_->setFrame(slidePlace(up));
    if (done) done();
    return;
  }
  if (!slide_) slide_ = std::make_shared<View>(slidePlace(!up));
  animate(kSheetSlideDuration, [&] { slide_->setFrame(slidePlace(up)); }, [done = std::move(done)](bool) {
    if (done) done();
  });
}

double ActionSheet::shownShare() const {
  if (!slide_) return visible_ ? 1 : 0;
  return 1 - presentedFrame(*slide_).y();
}

bool ActionSheet::tapButton(int index) {
  if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
  auto keep = shared_from_this();
  if (delegate_) delegate_->actionSheetClickedButtonAtIndex(*this, index);
  dismissWithClickedButtonIndex(index, true);
  return true;
}

void ActionSheet::dismissWithClickedButtonIndex(int index, bool animated) {
  if (!visible_) return;
  auto keep = shared_from_this();
  visible_ = false;
  shownIn_ = nullptr;
  removeFrom(shown().sheets, this);
  const bool played = animated && animationMode() == AnimationMode::kPlayed;
  if (played) shown().slidingAway.push_back(keep);
  slide(false, played, [keep, index, played] {
    // Shown again on the way down, or taken off between tests: no dismissal to tell of.
    if (played && !removeFrom(shown().slidingAway, keep.get())) return;
    if (keep->delegate_) keep->delegate_->actionSheetDidDismissWithButtonIndex(*keep, index);
  });
}

std::vector<std::shared_ptr<AlertView>> shownAlerts() { return shown().alerts; }
std::vector<std::shared_ptr<ActionSheet>> shownActionSheets() { return shown().sheets; }

std::shared_ptr<AlertView> topAlert() { return shown().alerts.empty() ? nullptr : shown().alerts.back(); }

std::shared_ptr<ActionSheet> topActionSheet() {
  return shown().sheets.empty() ? nullptr : shown().sheets.back();
}

std::vector<std::shared_ptr<ActionSheet>> actionSheetsSlidingAway() { return shown().slidingAway; }

void removeAllAlerts() {
  auto alerts = std::move(shown().alerts);
  auto sheets = std::move(shown().sheets);
  shown().alerts.clear();
  shown().sheets.clear();
  shown().slidingAway.clear();
  for (auto& a : alerts) a->visible_ = false;
  for (auto& s : sheets) {
    s->visible_ = false;
    s->shownIn_ = nullptr;
    s->slide_.reset();
  }
}

}  // namespace ui
