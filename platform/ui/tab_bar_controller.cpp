#include "platform/ui/tab_bar_controller.h"

#include <algorithm>

#include "platform/runtime/run_loop.h"

namespace ui {

ViewController* TabBarController::selectedViewController() const {
  const auto& screens = childViewControllers();
  return selected_ >= 0 && selected_ < static_cast<int>(screens.size()) ? screens[selected_].get() : nullptr;
}

void TabBarController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers) {
  std::shared_ptr<ViewController> kept =
      selectedViewController() ? selectedViewController()->weak_from_this().lock() : nullptr;
  for (auto& old : std::vector<std::shared_ptr<ViewController>>(childViewControllers())) {
    if (old->isViewLoaded()) old->view()->removeFromSuperview();
    old->removeFromParentViewController();
  }
  for (auto& c : controllers) addChildViewController(c);
  auto it = std::find(controllers.begin(), controllers.end(), kept);
  selected_ =
      controllers.empty() ? -1 : (it != controllers.end() ? static_cast<int>(it - controllers.begin()) : 0);
  rebuildTabs();
  layoutContent();
}

void TabBarController::setSelectedIndex(int index) {
  if (index < 0 || index >= static_cast<int>(childViewControllers().size())) return;
  select(index);
}

bool TabBarController::tapTab(int index) {
  if (index < 0 || index >= static_cast<int>(childViewControllers().size())) return false;
  std::shared_ptr<ViewController> screen = childViewControllers()[index];
  if (TabBarControllerDelegate* d = delegate();
      d && !d->tabBarControllerShouldSelectViewController(*this, *screen))
    return false;
  select(index);
  if (TabBarControllerDelegate* d = delegate()) d->tabBarControllerDidSelectViewController(*this, *screen);
  return true;
}

bool TabBarController::customizeViewControllers(std::vector<std::shared_ptr<ViewController>> order) {
  auto current = childViewControllers();
  auto sortedCurrent = current;
  auto sortedOrder = order;
  std::sort(sortedCurrent.begin(), sortedCurrent.end());
  std::sort(sortedOrder.begin(), sortedOrder.end());
  if (sortedCurrent != sortedOrder) return false;
  if (TabBarControllerDelegate* d = delegate())
    d->tabBarControllerWillBeginCustomizingViewControllers(*this, current);
  const bool changed = order != current;
  if (changed) setViewControllers(order);
  if (TabBarControllerDelegate* d = delegate())
    d->tabBarControllerWillEndCustomizingViewControllers(*this, childViewControllers(), changed);
  if (TabBarControllerDelegate* d = delegate())
    d->tabBarControllerDidEndCustomizingViewControllers(*this, childViewControllers(), changed);
  return true;
}

void TabBarController::select(int index) {
  if (index == selected_) return;
  std::shared_ptr<ViewController> old =
      selectedViewController() ? selectedViewController()->weak_from_this().lock() : nullptr;
  if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
  selected_ = index;
  layoutContent();
  if (!isOnScreen()) return;
  // The same two steps as any transition: will-callbacks now, did-callbacks once it has played.
  std::shared_ptr<ViewController> shown = selectedViewController()->weak_from_this().lock();
  if (old) old->beginAppearanceTransition(false, false);
  shown->beginAppearanceTransition(true, false);
  runtime::RunLoop::main().performSoon([old, shown] {
    if (old) old->endAppearanceTransition();
    shown->endAppearanceTransition();
  });
}

std::vector<ViewController*> TabBarController::appearanceChildren() {
  if (ViewController* shown = selectedViewController()) return {shown};
  return {};
}

const std::vector<std::shared_ptr<Button>>& TabBarController::tabButtons() {
  view();
  return tabs_;
}

void TabBarController::loadView() {
  auto root = std::make_shared<View>(Rect(0, 0, device().screenWidth, device().screenHeight));
  setView(root);
  bar_ = std::make_shared<View>();
  root->addSubview(bar_);
  rebuildTabs();
  layoutContent();
}

void TabBarController::rebuildTabs() {
  if (!bar_) return;
  for (auto& tab : tabs_) tab->removeFromSuperview();
  tabs_.clear();
  const auto& screens = childViewControllers();
  std::weak_ptr<ViewController> weak = weak_from_this();
  for (size_t i = 0; i < screens.size(); ++i) {
    auto tab = std::make_shared<Button>();
    tab->setTitle(screens[i]->title());
    tab->addTarget(
        [weak, i](Control&) {
          if (auto self = std::dynamic_pointer_cast<TabBarController>(weak.lock()))
            self->tapTab(static_cast<int>(i));
        },
        kControlEventTouchUpInside);
    bar_->addSubview(tab);
    tabs_.push_back(std::move(tab));
  }
}

void TabBarController::layoutContent() {
  if (!isViewLoaded()) return;
  std::shared_ptr<View> root = view();
  Rect b = root->bounds();
  double barTop = std::max(0.0, b.height() - kTabBarHeight);
  bar_->setFrame(Rect(b.x(), b.y() + barTop, b.width(), b.height() - barTop));
  bar_->setAutoresizingMask(kFlexibleWidth | kFlexibleTopMargin);
  if (!tabs_.empty()) {
    double width = b.width() / static_cast<double>(tabs_.size());
    for (size_t i = 0; i < tabs_.size(); ++i)
      tabs_[i]->setFrame(Rect(width * static_cast<double>(i), 0, width, kTabBarHeight));
  }
  ViewController* shown = selectedViewController();
  if (!shown) return;
  std::shared_ptr<View> content = shown->view();
  content->setFrame(Rect(b.x(), b.y(), b.width(), barTop));
  content->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
  if (content->superview() != root.get()) root->insertSubviewAtIndex(content, 0);
}

}  // namespace ui
