#include "platform/ui/view_controller.h"

#include <algorithm>

#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/platform_texts.h"
#include "platform/ui/screen_internals.h"

namespace ui {

using screens::Change;
using screens::comeBack;
using screens::playLeaving;
using screens::record;
using screens::runTransition;
using screens::shared;

// ------------------------------------------------------------------------------ NavigationController

namespace {

// How long a push or a pop slides the screens.
constexpr double kSlideDuration = 0.35;

// A push slides the new screen in from the right over the old one, which drifts a third of the way
// left; a pop slides the top screen out to the right over the one beneath, which drifts back in.
// The screen that goes stays in the tree, under or over the other and out of reach, until it has
// slid out; its controller (`owner`, popped off the stack already) lives on until then, since what
// its view draws may call back into it.
void slide(NavigationController& navigation, std::shared_ptr<ViewController> owner, std::shared_ptr<View> leaving,
           std::shared_ptr<View> coming, bool pushing) {
  std::shared_ptr<View> root = navigation.view();
  const auto& subviews = root->subviews();
  const auto at = std::find(subviews.begin(), subviews.end(), coming);
  if (at == subviews.end()) return;
  const size_t comingIndex = static_cast<size_t>(at - subviews.begin());
  root->insertSubviewAtIndex(leaving, pushing ? comingIndex : comingIndex + 1);
  const double w = root->bounds().width();
  const Rect comingFrame = coming->frame();
  const Rect leavingFrame = leaving->frame();
  coming->setFrame(comingFrame.offsetBy(pushing ? w : -w / 3, 0));
  std::weak_ptr<ViewController> weakNavigation = navigation.weak_from_this();
  animate(kSlideDuration, [&] { coming->setFrame(comingFrame); });
  playLeaving(
      leaving, kSlideDuration, [&] { leaving->setFrame(leavingFrame.offsetBy(pushing ? -w / 3 : w, 0)); },
      [owner, leaving, root, weakNavigation] {
        auto self = std::dynamic_pointer_cast<NavigationController>(weakNavigation.lock());
        ViewController* top = self ? self->topViewController() : nullptr;
        // Back on top meanwhile (pushed and popped at once): it stays.
        if (top && top->isViewLoaded() && top->view() == leaving) return;
        if (leaving->superview() == root.get()) leaving->removeFromSuperview();
      });
}

}  // namespace

NavigationController::NavigationController() = default;

NavigationController::NavigationController(std::shared_ptr<ViewController> root) {
  if (root) addChildViewController(std::move(root));
}

ViewController* NavigationController::topViewController() const {
  return childViewControllers().empty() ? nullptr : childViewControllers().back().get();
}

ViewController* NavigationController::visibleViewController() const {
  if (ViewController* presented = presentedViewController()) return presented;
  return topViewController();
}

std::vector<ViewController*> NavigationController::appearanceChildren() {
  if (ViewController* top = topViewController()) return {top};
  return {};
}

void NavigationController::pushViewController(std::shared_ptr<ViewController> controller, bool animated) {
  if (!controller) return;
  const auto& stack = childViewControllers();
  if (std::find(stack.begin(), stack.end(), controller) != stack.end()) {
    foundation::log("Pushing a screen that is already in the navigation stack is ignored");
    return;
  }
  std::shared_ptr<ViewController> oldTop = stack.empty() ? nullptr : stack.back();
  addChildViewController(controller);
  record(ScreenEvent::Kind::kPush, controller, animated);
  showTop(oldTop.get(), animated, true);
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
  if (childViewControllers().size() < 2) return nullptr;
  std::shared_ptr<ViewController> popped = childViewControllers().back();
  popped->removeFromParentViewController();
  record(ScreenEvent::Kind::kPop, popped, animated);
  showTop(popped.get(), animated, false);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToViewController(
    const ViewController* target, bool animated) {
  std::vector<std::shared_ptr<ViewController>> popped;
  const auto& stack = childViewControllers();
  auto it = std::find_if(stack.begin(), stack.end(), [target](const auto& p) { return p.get() == target; });
  if (it == stack.end() || it + 1 == stack.end()) return popped;
  popped.assign(it + 1, stack.end());
  std::shared_ptr<ViewController> oldTop = popped.back();
  for (auto& p : popped) p->removeFromParentViewController();
  record(ScreenEvent::Kind::kPop, oldTop, animated);
  showTop(oldTop.get(), animated, false);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewControllerAnimated(
    bool animated) {
  if (childViewControllers().empty()) return {};
  return popToViewController(childViewControllers().front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                              bool animated) {
  std::shared_ptr<ViewController> oldTop =
      childViewControllers().empty() ? nullptr : childViewControllers().back();
  auto old = childViewControllers();
  for (auto& c : old) c->removeFromParentViewController();
  for (auto& c : controllers) addChildViewController(c);
  showTop(oldTop.get(), animated, true);
}

void NavigationController::showTop(ViewController* oldTop, bool animated, bool pushing) {
  ViewController* newTop = topViewController();
  std::shared_ptr<ViewController> keepOld = shared(oldTop);
  if (isViewLoaded()) {
    std::shared_ptr<View> leaving;
    if (oldTop && oldTop != newTop && oldTop->isViewLoaded()) {
      std::shared_ptr<View> old = oldTop->view();
      if (old->superview() == view().get()) {
        old->removeFromSuperview();
        leaving = old;
      }
    }
    layoutContent();
    updateNavigationBar();
    if (leaving && newTop && animated && isOnScreen() && animationMode() == AnimationMode::kPlayed)
      slide(*this, keepOld, leaving, newTop->view(), pushing);
  }
  if (oldTop != newTop) tellDelegateOfNewTop(newTop, animated);
  if (!isOnScreen() || oldTop == newTop) return;
  std::vector<Change> changes;
  if (keepOld) changes.emplace_back(keepOld, false);
  if (auto top = shared(newTop)) changes.emplace_back(top, true);
  runTransition(std::move(changes), animated, {});
}

void NavigationController::tellDelegateOfNewTop(ViewController* newTop, bool animated) {
  std::shared_ptr<ViewController> shown = shared(newTop);
  if (!shown) return;
  if (NavigationControllerDelegate* d = delegate())
    d->navigationControllerWillShowViewController(*this, *shown, animated);
  // The delegate in place once the transition has played hears the end of it.
  std::weak_ptr<ViewController> weakSelf = weak_from_this();
  std::weak_ptr<ViewController> weakShown = shown;
  runtime::RunLoop::main().performSoon([weakSelf, weakShown, animated] {
    auto self = std::dynamic_pointer_cast<NavigationController>(weakSelf.lock());
    auto top = weakShown.lock();
    if (!self || !top) return;
    if (NavigationControllerDelegate* d = self->delegate())
      d->navigationControllerDidShowViewController(*self, *top, animated);
  });
}

void NavigationController::layoutContent() {
  ViewController* top = topViewController();
  if (!top || !isViewLoaded()) return;
  std::shared_ptr<View> root = view();
  // The screen starts below the bar while the bar shows, unless it asked to lie under a translucent
  // bar; one loaded now lays itself out there.
  const bool underBar = bar_ && bar_->isTranslucent() && (top->edgesForExtendedLayout() & kRectEdgeTop);
  double barBottom = (bar_ && !barHidden_ && !underBar) ? bar_->frame().maxY() : 0;
  Rect b = root->bounds();
  const Rect frame(b.x(), b.y() + barBottom, b.width(), std::max(0.0, b.height() - barBottom));
  if (!top->isViewLoaded()) top->plannedFrame_ = frame;
  std::shared_ptr<View> content = top->view();
  comeBack(*content);
  content->setFrame(frame);
  content->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
  if (content->superview() != root.get()) root->insertSubviewAtIndex(content, 0);
}

void NavigationController::statusBarVisibilityChanged() {
  if (!bar_) return;
  const double inset = device().statusBarHidden ? 0 : 20;
  const Rect f = bar_->frame();
  const double height = NavigationBar::kBarHeight + inset;
  // A bar sliding out of view goes all the way out at its new height.
  bar_->setFrame(Rect(f.x(), f.y() < 0 ? -height : f.y(), f.width(), height));
  // Its title and buttons take their new places now, inside the status bar's slide when that
  // plays, so that they move with the bar instead of jumping ahead of it.
  bar_->setNeedsLayout();
  bar_->layoutIfNeeded();
  layoutContent();
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
  const bool wasHidden = barHidden_;
  barHidden_ = hidden;
  if (!bar_) return;
  const Rect f = bar_->frame();
  const Rect inView(f.x(), 0, f.width(), f.height());
  if (!animated || animationMode() != AnimationMode::kPlayed || !isOnScreen()) {
    bar_->setHidden(hidden);
    bar_->setFrame(inView);
    layoutContent();
    return;
  }
  // Already going that way, or there.
  if (hidden == wasHidden) return;
  // Played, the bar slides up out of view (or down into it) with the screen's view following. A
  // bar going stays drawn until it is out; its place above the top keeps it out of reach meanwhile.
  if (!hidden && bar_->isHidden()) bar_->setFrame(inView.offsetBy(0, -f.height()));
  bar_->setHidden(false);
  std::weak_ptr<ViewController> weak = weak_from_this();
  animate(
      kBarSlideDuration,
      [&] {
        bar_->setFrame(hidden ? inView.offsetBy(0, -f.height()) : inView);
        layoutContent();
      },
      [weak](bool) {
        auto self = std::dynamic_pointer_cast<NavigationController>(weak.lock());
        // Shown again meanwhile, or another slide still on its way: that one has the last word.
        if (!self || !self->barHidden_) return;
        NavigationBar& bar = *self->bar_;
        if (bar.isHidden() || presentedFrame(bar) != bar.frame()) return;
        bar.setHidden(true);
        const Rect out = bar.frame();
        bar.setFrame(Rect(out.x(), 0, out.width(), out.height()));
      });
}

NavigationBar& NavigationController::navigationBar() {
  view();
  return *bar_;
}

void NavigationController::loadView() {
  Rect frame = plannedViewFrame();
  auto root = std::make_shared<View>(frame);
  setView(root);
  bar_ = std::make_shared<NavigationBar>();
  double inset = device().statusBarHidden ? 0 : 20;
  bar_->setFrame(Rect(0, 0, frame.width(), NavigationBar::kBarHeight + inset));
  bar_->setHidden(barHidden_);
  root->addSubview(bar_);
  layoutContent();
  updateNavigationBar();
}

std::optional<std::string> NavigationController::backButtonTitle() const {
  const auto& stack = childViewControllers();
  if (stack.size() < 2) return std::nullopt;
  const NavigationItem& top = stack.back()->navigationItem();
  if (top.hidesBackButton() || top.leftBarButtonItem()) return std::nullopt;
  const NavigationItem& previous = stack[stack.size() - 2]->navigationItem();
  if (previous.backBarButtonItem()) return previous.backBarButtonItem()->title();
  if (!previous.title().empty()) return previous.title();
  return platformText("Back");
}

bool NavigationController::tapBackButton() {
  if (!backButtonTitle()) return false;
  popViewControllerAnimated(true);
  return true;
}

void NavigationController::updateNavigationBar() {
  for (auto& c : childViewControllers()) c->navigationItem().setChangeHandler(nullptr);
  if (!bar_) return;
  ViewController* top = topViewController();
  std::weak_ptr<ViewController> weak = weak_from_this();
  auto refresh = [weak] {
    if (auto self = std::dynamic_pointer_cast<NavigationController>(weak.lock())) self->updateNavigationBar();
  };
  bar_->showItem(top ? &top->navigationItem() : nullptr, backButtonTitle(), [weak] {
    if (auto self = std::dynamic_pointer_cast<NavigationController>(weak.lock())) self->tapBackButton();
  });
  if (top) top->navigationItem().setChangeHandler(refresh);
}


}  // namespace ui
