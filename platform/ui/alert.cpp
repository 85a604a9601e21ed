#include "platform/ui/alert.h"

#include <algorithm>

namespace ui {

namespace {

struct Shown {
  std::vector<std::shared_ptr<AlertView>> alerts;
  std::vector<std::shared_ptr<ActionSheet>> sheets;
};

Shown& shown() {
  static Shown s;
  return s;
}

template <class T>
void removeFrom(std::vector<std::shared_ptr<T>>& list, const T* item) {
  list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& p) { return p.get() == item; }),
             list.end());
}

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

void ActionSheet::showInView(View* view) {
  if (visible_) return;
  visible_ = true;
  shownIn_ = view;
  shown().sheets.push_back(shared_from_this());
}

bool ActionSheet::tapButton(int index) {
  if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
  auto keep = shared_from_this();
  if (delegate_) delegate_->actionSheetClickedButtonAtIndex(*this, index);
  dismissWithClickedButtonIndex(index, true);
  return true;
}

void ActionSheet::dismissWithClickedButtonIndex(int index, bool /*animated*/) {
  if (!visible_) return;
  auto keep = shared_from_this();
  visible_ = false;
  shownIn_ = nullptr;
  removeFrom(shown().sheets, this);
  if (delegate_) delegate_->actionSheetDidDismissWithButtonIndex(*this, index);
}

std::vector<std::shared_ptr<AlertView>> shownAlerts() { return shown().alerts; }
std::vector<std::shared_ptr<ActionSheet>> shownActionSheets() { return shown().sheets; }

std::shared_ptr<AlertView> topAlert() { return shown().alerts.empty() ? nullptr : shown().alerts.back(); }

std::shared_ptr<ActionSheet> topActionSheet() {
  return shown().sheets.empty() ? nullptr : shown().sheets.back();
}

void removeAllAlerts() {
  auto alerts = std::move(shown().alerts);
  auto sheets = std::move(shown().sheets);
  shown().alerts.clear();
  shown().sheets.clear();
  for (auto& a : alerts) a->visible_ = false;
  for (auto& s : sheets) {
    s->visible_ = false;
    s->shownIn_ = nullptr;
  }
}

}  // namespace ui
