#include "platform/ui/view_controller.h"

#include <algorithm>

#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/screen_internals.h"

namespace ui {

using screens::Change;
using screens::popovers;
using screens::record;
using screens::runTransition;
using screens::screenRect;
using screens::shared;

namespace {
// The room kept between the bottom of the field being typed into and the top of the keyboard.
constexpr double kKeyboardClearance = 8;
// How long a popover takes to fade in or out when animations play.
constexpr double kPopoverFadeDuration = 0.25;

// The popovers closed while animations play whose content still fades out. Held weakly: the fade
// itself keeps each alive until it ends.
std::vector<std::weak_ptr<PopoverController>>& fadingPopovers() {
  static std::vector<std::weak_ptr<PopoverController>> list;
  return list;
}

void stopFading(const PopoverController* popover) {
  std::erase_if(fadingPopovers(), [&](const auto& weak) {
    auto fading = weak.lock();
    return !fading || fading.get() == popover;
  });
}
}  // namespace

// ------------------------------------------------------------------------------------ PopoverController

std::shared_ptr<PopoverController> PopoverController::create(std::shared_ptr<ViewController> content) {
  std::shared_ptr<PopoverController> p(new PopoverController());
  p->content_ = std::move(content);
  return p;
}

PopoverController::~PopoverController() = default;

void PopoverController::presentPopoverFromRect(const Rect& rect, View* view, unsigned arrows, bool animated) {
  if (!content_) return;
  fromRect_ = rect;
  fromView_ = view;
  arrows_ = arrows;
  std::shared_ptr<View> contentView = content_->view();
  // Presented again while it fades out: in reach again.
  screens::comeBack(*contentView);
  Window* window = view ? view->window() : nullptr;
  std::shared_ptr<Window> keyWindow = Application::shared().keyWindow();
  if (!window) window = keyWindow.get();
  Rect anchor = view ? view->convertRectToView(rect, window) : rect;
  Rect screen = window ? window->bounds() : screenRect();
  double x = anchor.maxX();
  double y = anchor.y();
  if (arrows == kPopoverArrowRight) x = anchor.x() - contentSize_.width;
  if (arrows == kPopoverArrowUp) {
    x = anchor.midX() - contentSize_.width / 2;
    y = anchor.maxY();
  }
  if (arrows == kPopoverArrowDown) {
    x = anchor.midX() - contentSize_.width / 2;
    y = anchor.y() - contentSize_.height;
  }
  x = std::clamp(x, 0.0, std::max(0.0, screen.width() - contentSize_.width));
  y = std::clamp(y, 0.0, std::max(0.0, screen.height() - contentSize_.height));
  presentedFrame_ = Rect(x, y, contentSize_.width, contentSize_.height);
  contentView->setFrame(presentedFrame_);
  if (window) window->addSubview(contentView);
  placeForKeyboard();
  if (visible_) return;
  visible_ = true;
  stopFading(this);
  popovers().push_back(shared_from_this());
  // Played, it fades in.
  if (window && animated && animationMode() == AnimationMode::kPlayed) {
    const double alpha = contentView->alpha();
    contentView->setAlpha(0);
    animate(kPopoverFadeDuration, [&] { contentView->setAlpha(alpha); });
  }
  record(ScreenEvent::Kind::kShowPopover, content_, animated);
  runTransition({{content_, true}}, animated, {});
}

void PopoverController::dismissPopoverAnimated(bool animated) {
  if (!visible_) return;
  auto keep = shared_from_this();
  visible_ = false;
  auto& list = popovers();
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  if (content_->isViewLoaded()) {
    std::shared_ptr<View> contentView = content_->view();
    // Played, it fades out before it leaves the window.
    if (animated && animationMode() == AnimationMode::kPlayed && contentView->superview()) {
      fadingPopovers().push_back(keep);
      screens::playFadingOut(contentView, kPopoverFadeDuration, [keep, contentView] {
        stopFading(keep.get());
        if (!keep->visible_) contentView->removeFromSuperview();
      });
    } else {
      contentView->removeFromSuperview();
    }
  }
  record(ScreenEvent::Kind::kDismissPopover, content_, animated);
  runTransition({{content_, false}}, animated, {});
}

bool PopoverController::dismissByUser() {
  if (!visible_ || !content_ || content_->isModalInPopover()) return false;
  auto keep = shared_from_this();
  dismissPopoverAnimated(true);
  if (delegate_) delegate_->popoverControllerDidDismissPopover(*this);
  return true;
}

void PopoverController::placeForKeyboard() {
  if (!content_ || !content_->isViewLoaded()) return;
  View& contentView = *content_->view();
  Rect frame = presentedFrame_;
  View* field = View::currentFirstResponder();
  View* window = contentView.superview();
  if (Keyboard::isVisible() && window && field && field != &contentView && field->isDescendantOfView(&contentView)) {
    // Where the field lies in the popover, wherever the popover stands now.
    const Rect inContent = field->convertRectToView(field->bounds(), &contentView);
    const double fieldBottom = frame.y() + inContent.maxY() + kKeyboardClearance;
    const double keyboardTop = window->convertRectFromView(Keyboard::shownFrame(), nullptr).y();
    if (fieldBottom > keyboardTop) frame.origin.y = std::max(0.0, frame.y() - (fieldBottom - keyboardTop));
  }
  if (contentView.frame() != frame) contentView.setFrame(frame);
}

std::vector<std::shared_ptr<PopoverController>> visiblePopovers() { return popovers(); }

std::vector<std::shared_ptr<PopoverController>> screens::drawnPopovers() {
  std::vector<std::shared_ptr<PopoverController>> drawn;
  for (const auto& weak : fadingPopovers())
    if (auto fading = weak.lock()) drawn.push_back(std::move(fading));
  drawn.insert(drawn.end(), popovers().begin(), popovers().end());
  return drawn;
}

void screens::placePopoversForKeyboard() {
  // A copy: a popover's content may answer its move by closing one.
  for (const auto& popover : std::vector(popovers())) popover->placeForKeyboard();
}

// --------------------------------------------------------------------------------------------- Window

Window::Window() : View(screenRect()) {}

Window::Window(const Rect& frame) : View(frame) {}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  std::vector<Change> changes;
  if (root_) {
    if (root_->isViewLoaded()) root_->view()->removeFromSuperview();
    changes.emplace_back(root_, false);
  }
  root_ = std::move(controller);
  if (root_) {
    std::shared_ptr<View> view = root_->view();
    view->setFrame(bounds());
    view->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    insertSubviewAtIndex(view, 0);
    if (visible_) changes.emplace_back(root_, true);
  }
  if (visible_) runTransition(std::move(changes), false, {});
}

void Window::makeKeyAndVisible() {
  if (auto self = std::dynamic_pointer_cast<Window>(weak_from_this().lock())) {
    Application::shared().setKeyWindow(self);
  }
  if (visible_) return;
  visible_ = true;
  if (root_) runTransition({{root_, true}}, false, {});
}

void Window::rotateTo(Orientation orientation) {
  Orientation from = device().statusBarOrientation;
  if (root_) root_->notifyRotation(orientation, from, true);
  device().statusBarOrientation = orientation;
  setFrame(screenRect());
  for (ViewController* p = root_ ? root_->presentedViewController() : nullptr; p;
       p = p->presentedViewController()) {
    if (p->isViewLoaded())
      p->view()->setFrame(ViewController::presentationFrame(p->modalPresentationStyle()));
  }
  if (root_) root_->notifyRotation(orientation, from, false);
}

ViewController* Window::topmostViewController() const {
  ViewController* v = root_.get();
  while (v && v->presentedViewController()) v = v->presentedViewController();
  return v;
}

View* Window::hitTest(Point point) {
  const View* lowestSheet = nullptr;
  if (device().isPad()) {
    for (ViewController* c = root_ ? root_->presentedViewController() : nullptr; c && !lowestSheet;
         c = c->presentedViewController()) {
      const auto style = c->modalPresentationStyle();
      if (c->isViewLoaded() && (style == ModalPresentationStyle::kFormSheet || style == ModalPresentationStyle::kPageSheet))
        lowestSheet = c->view().get();
    }
  }
  if (!lowestSheet || lowestSheet->superview() != this) return View::hitTest(point);
  if (isHidden() || !isUserInteractionEnabled() || !pointInside(point)) return nullptr;
  const auto& views = subviews();
  for (auto it = views.rbegin(); it != views.rend(); ++it) {
    View* sub = it->get();
    if (View* hit = sub->hitTest(sub->convertPointFromView(point, this))) return hit;
    if (sub == lowestSheet) break;
  }
  return nullptr;
}


}  // namespace ui
