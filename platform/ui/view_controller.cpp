#include "platform/ui/view_controller.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/foundation/log.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/gesture.h"
#include "platform/ui/screen_internals.h"
#include "platform/ui/storyboard.h"


namespace ui {

namespace {

// How long an animated presentation takes to rise into place, or a dismissal to sink away.
constexpr double kPresentDuration = 0.35;
// The last moment of a screen's leaving, in which it fades out.
constexpr double kLeavingFade = 0.02;

// Where a screen in `place` stands just below the window's bottom edge: where a presented one rises
// from and a dismissed one sinks to.
Rect belowWindow(const Rect& place, const View& window) {
  return place.offsetBy(0, window.bounds().height() - place.y());
}

// Played, a dismissed screen sinks out through the bottom edge and then leaves the window; its own
// frame comes back once it is out. The screen itself lives on until then: what its view draws may
// call back into it (a wheel asks its data source for rows at every frame).
void sinkAway(const std::shared_ptr<ViewController>& controller, const std::shared_ptr<View>& view) {
  View* window = view->superview();
  const Rect place = view->frame();
  screens::playLeaving(
      view, kPresentDuration, [&] { view->setFrame(belowWindow(place, *window)); },
      [controller, view, place] {
        // Presented again meanwhile: it stays where that presentation put it.
        if (controller->presentingViewController()) return;
        view->removeFromSuperview();
        view->setFrame(place);
      });
}

}  // namespace

namespace screens {

std::vector<ScreenEvent>& events() {
  static std::vector<ScreenEvent> list;
  return list;
}

std::vector<std::shared_ptr<PopoverController>>& popovers() {
  static std::vector<std::shared_ptr<PopoverController>> list;
  return list;
}

void record(ScreenEvent::Kind kind, const std::shared_ptr<ViewController>& controller, bool animated) {
  ScreenEvent e;
  e.kind = kind;
  e.controller = controller;
  e.animated = animated;
  if (controller) e.style = controller->modalPresentationStyle();
  events().push_back(e);
}

void runTransition(std::vector<Change> changes, bool animated, std::function<void()> completion) {
  for (auto& [controller, appearing] : changes) controller->beginAppearanceTransition(appearing, animated);
  runtime::RunLoop::main().performSoon([changes = std::move(changes), completion = std::move(completion)] {
    for (auto& change : changes) change.first->endAppearanceTransition();
    if (completion) completion();
  });
}

namespace {
// The screens still leaving, with the alpha each had.
std::map<const View*, double>& leavingAlphas() {
  static std::map<const View*, double> alphas;
  return alphas;
}

// Plays the changes of a screen that goes, out of reach until they end; its alpha comes back then.
void leave(const std::shared_ptr<View>& view, double duration, const std::function<void()>& changes,
           std::function<void()> done) {
  leavingAlphas().emplace(view.get(), view->alpha());
  animate(duration, changes, [view, done = std::move(done)](bool) {
    comeBack(*view);
    if (done) done();
  });
}
}  // namespace

void playLeaving(const std::shared_ptr<View>& view, double duration, const std::function<void()>& move,
                 std::function<void()> done) {
  leave(view, duration, move, std::move(done));
  animate(kLeavingFade, duration - kLeavingFade, [&] { view->setAlpha(0); });
}

void playFadingOut(const std::shared_ptr<View>& view, double duration, std::function<void()> done) {
  leave(view, duration, [&] { view->setAlpha(0); }, std::move(done));
}

void comeBack(View& view) {
  auto found = leavingAlphas().find(&view);
  if (found == leavingAlphas().end()) return;
  const double alpha = found->second;
  leavingAlphas().erase(found);
  view.setAlpha(alpha);
}

Rect screenRect() {
  const DeviceProfile& d = device();
  double w = d.screenWidth, h = d.screenHeight;
  if (d.isLandscape()) {
    w = std::max(d.screenWidth, d.screenHeight);
    h = std::min(d.screenWidth, d.screenHeight);
  } else if (isPortrait(d.statusBarOrientation)) {
    w = std::min(d.screenWidth, d.screenHeight);
    h = std::max(d.screenWidth, d.screenHeight);
  }
  return Rect(0, 0, w, h);
}

std::shared_ptr<ViewController> shared(ViewController* controller) {
  return controller ? controller->weak_from_this().lock() : nullptr;
}

std::string describe(const ViewController& c) {
  if (!c.storyboardIdentifier().empty()) return "\"" + c.storyboardIdentifier() + "\"";
  if (!c.title().empty()) return "\"" + c.title() + "\"";
  return "a screen";
}

}  // namespace screens

using screens::Change;
using screens::describe;
using screens::events;
using screens::popovers;
using screens::record;
using screens::runTransition;
using screens::screenRect;
using screens::shared;

// ------------------------------------------------------------------------------------ ViewController

ViewController::ViewController() = default;

ViewController::~ViewController() {
  for (auto& child : children_) child->parent_ = nullptr;
  if (presented_) presented_->presenting_ = nullptr;
}

std::shared_ptr<View> ViewController::view() {
  if (!view_ && !loading_) {
    loading_ = true;
    loadView();
    if (!view_) view_ = std::make_shared<View>(plannedViewFrame());
    loading_ = false;
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) { view_ = std::move(view); }

Rect ViewController::plannedViewFrame() const { return plannedFrame_.value_or(screenRect()); }

void ViewController::loadView() {
  view_ = std::make_shared<View>(plannedViewFrame());
  view_->setBackgroundColor(Color::white());
}

void ViewController::layoutViewIfNeeded() {
  if (!view_) return;
  if (view_->needsLayout()) {
    viewWillLayoutSubviews();
    view_->layoutIfNeeded();
    viewDidLayoutSubviews();
  } else {
    view_->layoutIfNeeded();
  }
}

bool ViewController::isOnScreen() const {
  return appearance_ == Appearance::kAppearing || appearance_ == Appearance::kAppeared;
}

void ViewController::setTitle(std::string title) {
  title_ = title;
  navigationItem_.setTitle(std::move(title));
}

Storyboard* ViewController::storyboard() const {
  if (storyboard_) return storyboard_;
  if (parent_) return parent_->storyboard();
  if (presenting_) return presenting_->storyboard();
  return nullptr;
}

void ViewController::addChildViewController(std::shared_ptr<ViewController> child) {
  if (!child || child.get() == this || child->parent_ == this) return;
  child->removeFromParentViewController();
  child->parent_ = this;
  children_.push_back(std::move(child));
}

void ViewController::removeFromParentViewController() {
  if (!parent_) return;
  auto keep = weak_from_this().lock();
  auto& siblings = parent_->children_;
  siblings.erase(
      std::remove_if(siblings.begin(), siblings.end(), [this](const auto& p) { return p.get() == this; }),
      siblings.end());
  parent_ = nullptr;
}

NavigationController* ViewController::navigationController() const {
  for (ViewController* p = parent_; p; p = p->parent_) {
    if (auto* nav = dynamic_cast<NavigationController*>(p)) return nav;
  }
  return nullptr;
}

ViewController* ViewController::outermost() {
  ViewController* v = this;
  while (v->parent_) v = v->parent_;
  return v;
}

ViewController* ViewController::presentedViewController() const {
  const ViewController* v = this;
  while (v->parent_) v = v->parent_;
  return v->presented_.get();
}

ViewController* ViewController::presentingViewController() const {
  const ViewController* v = this;
  while (v->parent_) v = v->parent_;
  return v->presenting_;
}

Rect ViewController::presentationFrame(ModalPresentationStyle style) {
  Rect screen = screenRect();
  if (device().isPad()) {
    if (style == ModalPresentationStyle::kFormSheet) {
      return Rect((screen.width() - 540) / 2, (screen.height() - 620) / 2, 540, 620);
    }
    if (style == ModalPresentationStyle::kPageSheet) {
      double w = std::min(screen.width(), 768.0);
      return Rect((screen.width() - w) / 2, 0, w, screen.height());
    }
  }
  return screen;
}

void ViewController::presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                                           std::function<void()> completion) {
  if (!controller) return;
  ViewController* host = outermost();
  if (host->presented_) {
    foundation::log("Attempt to present " + describe(*controller) + " on " + describe(*host) +
                    " which is already presenting " + describe(*host->presented_));
    return;
  }
  if (controller->presenting_ || controller->parent_ || controller.get() == host) {
    foundation::log("Attempt to present " + describe(*controller) + " which is already on screen");
    return;
  }
  host->presented_ = controller;
  controller->presenting_ = host;
  ModalPresentationStyle style = controller->modalPresentationStyle();
  // A screen loaded for this presentation lays itself out in the room it will have (a form sheet's).
  if (!controller->isViewLoaded()) controller->plannedFrame_ = presentationFrame(style);
  std::shared_ptr<View> view = controller->view();
  screens::comeBack(*view);
  view->setFrame(presentationFrame(style));
  Window* window = host->view_ ? host->view_->window() : nullptr;
  std::shared_ptr<Window> keyWindow = Application::shared().keyWindow();
  if (!window) window = keyWindow.get();
  if (window) window->addSubview(view);
  // Played, the new screen rises from the bottom edge into its place.
  if (window && animated && animationMode() == AnimationMode::kPlayed) {
    const Rect place = view->frame();
    view->setFrame(belowWindow(place, *window));
    animate(kPresentDuration, [&] { view->setFrame(place); });
  }
  record(ScreenEvent::Kind::kPresent, controller, animated);

  std::vector<Change> changes{{controller, true}};
  bool covers = !(device().isPad() && (style == ModalPresentationStyle::kFormSheet ||
                                       style == ModalPresentationStyle::kPageSheet));
  host->coveredByPresented_ = covers && host->isOnScreen();
  if (host->coveredByPresented_) {
    if (auto h = shared(host)) changes.emplace_back(h, false);
  }
  runTransition(std::move(changes), animated, std::move(completion));
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  ViewController* host = outermost();
  if (host->presented_) {
    host->dismissPresented(animated, std::move(completion));
  } else if (host->presenting_) {
    host->presenting_->dismissPresented(animated, std::move(completion));
  }
}

void ViewController::dismissPresented(bool animated, std::function<void()> completion) {
  std::vector<std::shared_ptr<ViewController>> chain;
  for (auto p = presented_; p; p = p->presented_) chain.push_back(p);
  if (chain.empty()) return;
  std::vector<Change> changes;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    auto& c = *it;
    // Only the front-most screen is seen leaving; those under it go at once.
    if (c->view_ && it == chain.rbegin() && animated && c->view_->superview() &&
        animationMode() == AnimationMode::kPlayed) {
      sinkAway(c, c->view_);
    } else if (c->view_) {
      c->view_->removeFromSuperview();
    }
    changes.emplace_back(c, false);
  }
  for (auto& c : chain) {
    c->presenting_ = nullptr;
    c->presented_.reset();
  }
  presented_.reset();
  record(ScreenEvent::Kind::kDismiss, chain.front(), animated);
  if (coveredByPresented_) {
    coveredByPresented_ = false;
    if (auto self = weak_from_this().lock()) changes.emplace_back(self, true);
  }
  runTransition(std::move(changes), animated, std::move(completion));
}

void ViewController::setEditing(bool editing, bool /*animated*/) { editing_ = editing; }

void ViewController::setEdgesForExtendedLayout(unsigned edges) {
  edgesForExtendedLayout_ = edges & kRectEdgeAll;
  // Only the top screen of a navigation controller is laid out by it.
  if (auto* navigation = dynamic_cast<NavigationController*>(parent_))
    if (navigation->topViewController() == this) navigation->layoutContent();
}

bool ViewController::performSegueWithIdentifier(const std::string& identifier, View* sender) {
  Storyboard* board = storyboard();
  if (!board) return false;
  auto declared = board->segue(identifier);
  if (!declared) return false;
  if (declared->kind == SegueKind::kPush && !navigationController()) {
    foundation::log("The push segue \"" + identifier + "\" needs a navigation controller");
    return false;
  }
  std::shared_ptr<ViewController> destination =
      board->instantiateViewControllerWithIdentifier(declared->destinationIdentifier);
  if (!destination) return false;
  auto keep = weak_from_this().lock();
  StoryboardSegue segue(identifier, this, destination, declared->kind);
  if (declared->kind == SegueKind::kFormSheet)
    destination->setModalPresentationStyle(ModalPresentationStyle::kFormSheet);
  if (declared->kind == SegueKind::kPopover) segue.popover_ = PopoverController::create(destination);
  prepareForSegue(segue, sender);
  switch (declared->kind) {
    case SegueKind::kPush:
      if (NavigationController* nav = navigationController()) nav->pushViewController(destination, true);
      break;
    case SegueKind::kModal:
    case SegueKind::kFormSheet:
      presentViewController(destination, true);
      break;
    case SegueKind::kPopover: {
      View* anchor = sender ? sender : view().get();
      Rect rect = sender ? sender->bounds() : Rect(anchor->bounds().midX(), anchor->bounds().midY(), 1, 1);
      segue.popover_->presentPopoverFromRect(rect, anchor, kPopoverArrowAny, true);
      break;
    }
  }
  return true;
}

std::vector<ViewController*> ViewController::appearanceChildren() {
  std::vector<ViewController*> out;
  if (!view_) return out;
  for (auto& child : children_) {
    if (child->view_ && child->view_->isDescendantOfView(view_.get())) out.push_back(child.get());
  }
  return out;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
  if (appearing) {
    if (isOnScreen()) return;
    view();
    appearance_ = Appearance::kAppearing;
    appearanceAnimated_ = animated;
    viewWillAppear(animated);
    layoutViewIfNeeded();
  } else {
    if (!isOnScreen()) return;
    appearance_ = Appearance::kDisappearing;
    appearanceAnimated_ = animated;
    viewWillDisappear(animated);
  }
  transitionChildren_.clear();
  for (ViewController* child : appearanceChildren()) {
    transitionChildren_.push_back(child->weak_from_this());
    child->beginAppearanceTransition(appearing, animated);
  }
}

void ViewController::endAppearanceTransition() {
  auto keep = weak_from_this().lock();
  if (appearance_ == Appearance::kAppearing) {
    appearance_ = Appearance::kAppeared;
    viewDidAppear(appearanceAnimated_);
  } else if (appearance_ == Appearance::kDisappearing) {
    appearance_ = Appearance::kDisappeared;
    viewDidDisappear(appearanceAnimated_);
  }
  auto children = std::move(transitionChildren_);
  transitionChildren_.clear();
  for (auto& weak : children) {
    if (auto child = weak.lock()) child->endAppearanceTransition();
  }
}

void ViewController::notifyRotation(Orientation to, Orientation from, bool will) {
  if (will) {
    willRotateToInterfaceOrientation(to, 0.4);
  } else {
    didRotateFromInterfaceOrientation(from);
  }
  for (ViewController* child : appearanceChildren()) child->notifyRotation(to, from, will);
  if (presented_) presented_->notifyRotation(to, from, will);
}

const std::vector<ScreenEvent>& screenEvents() { return events(); }
void clearScreenEvents() { events().clear(); }

}  // namespace ui
