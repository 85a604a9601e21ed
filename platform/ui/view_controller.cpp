#include "platform/ui/view_controller.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/log.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"
#include "platform/ui/gesture.h"
#include "platform/ui/storyboard.h"

namespace ui {

namespace {

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

using Change = std::pair<std::shared_ptr<ViewController>, bool>;

// The will-callbacks now; the did-callbacks and the completion once the transition has "played",
// on the main run loop.
void runTransition(std::vector<Change> changes, bool animated, std::function<void()> completion) {
  for (auto& [controller, appearing] : changes) controller->beginAppearanceTransition(appearing, animated);
  runtime::RunLoop::main().performSoon([changes = std::move(changes), completion = std::move(completion)] {
    for (auto& change : changes) change.first->endAppearanceTransition();
    if (completion) completion();
  });
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

}  // namespace

// ------------------------------------------------------------------------------------- BarButtonItem

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style,
                                                        Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(ImageRef image, BarButtonItemStyle style,
                                                        Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->image_ = std::move(image);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
  auto item = std::make_shared<BarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

void BarButtonItem::tap() {
  if (!enabled_ || customView_ || !action_) return;
  auto action = action_;
  action(*this);
}

// ------------------------------------------------------------------------------------ NavigationItem

void NavigationItem::setTitle(std::string title) {
  title_ = std::move(title);
  changed();
}

void NavigationItem::setTitleView(std::shared_ptr<View> view) {
  titleView_ = std::move(view);
  changed();
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool /*animated*/) {
  left_ = std::move(item);
  changed();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool /*animated*/) {
  right_ = std::move(item);
  changed();
}

void NavigationItem::setHidesBackButton(bool hides) {
  hidesBackButton_ = hides;
  changed();
}

// ------------------------------------------------------------------------------------- NavigationBar

NavigationBarAppearance& NavigationBar::appearance() {
  static NavigationBarAppearance a;
  return a;
}

NavigationBar::NavigationBar() {
  titleLabel_ = std::make_shared<Label>();
  titleLabel_->setTextAlignment(TextAlignment::kCenter);
  addSubview(titleLabel_);
  setAutoresizingMask(kFlexibleWidth);
}

std::shared_ptr<View> NavigationBar::itemView(const std::shared_ptr<BarButtonItem>& item) {
  if (!item) return nullptr;
  if (item->customView()) return item->customView();
  auto button = std::make_shared<Button>(Rect(0, 0, 0, kBarHeight));
  if (item->image()) {
    button->setImage(item->image());
    button->setFrame(Rect(0, 0, std::max(44.0, item->image()->pointWidth()), kBarHeight));
  } else {
    button->setTitle(item->title());
    double width = graphics::defaultTextMeasurer()->sizeOf(item->title(), button->titleFont()).width;
    button->setFrame(Rect(0, 0, std::max(44.0, std::ceil(width) + 8), kBarHeight));
  }
  if (auto tint = appearance().tintColor) button->setTitleColor(*tint);
  button->setEnabled(item->isEnabled());
  std::weak_ptr<BarButtonItem> weak = item;
  button->addTarget(
      [weak](Control&) {
        if (auto i = weak.lock()) i->tap();
      },
      kControlEventTouchUpInside);
  return button;
}

void NavigationBar::showItem(const NavigationItem* item, std::optional<std::string> backTitle,
                             std::function<void()> onBack) {
  for (auto* view :
       {leftView_.get(), rightView_.get(), titleView_.get(), static_cast<View*>(backButton_.get())}) {
    if (view && view->superview() == this) view->removeFromSuperview();
  }
  leftView_.reset();
  rightView_.reset();
  titleView_.reset();
  backButton_.reset();
  titleLabel_->setText(item ? item->title() : "");
  titleLabel_->setFont(appearance().titleFont.value_or(graphics::Font::boldSystemFontOfSize(17)));
  titleLabel_->setTextColor(appearance().titleColor.value_or(Color::black()));
  if (item) {
    if (item->titleView()) {
      titleView_ = item->titleView();
      addSubview(titleView_);
    }
    if (item->leftBarButtonItem()) {
      leftView_ = itemView(item->leftBarButtonItem());
    } else if (backTitle && !item->hidesBackButton()) {
      backButton_ = std::make_shared<Button>(Rect(0, 0, 90, kBarHeight));
      backButton_->setTitle("\u2039 " + *backTitle);
      if (auto tint = appearance().tintColor) backButton_->setTitleColor(*tint);
      backButton_->addTarget(
          [onBack](Control&) {
            if (onBack) onBack();
          },
          kControlEventTouchUpInside);
    }
    rightView_ = itemView(item->rightBarButtonItem());
  }
  if (leftView_) addSubview(leftView_);
  if (backButton_) addSubview(backButton_);
  if (rightView_) addSubview(rightView_);
  setNeedsLayout();
  layoutIfNeeded();
  setNeedsDisplay();
}

double NavigationBar::statusBarInset() const { return std::max(0.0, bounds().height() - kBarHeight); }

void NavigationBar::layoutSubviews() {
  Rect b = bounds();
  double top = statusBarInset();
  auto placeLeft = [&](View* v, double x) {
    if (v)
      v->setFrame(
          Rect(x, top + (kBarHeight - v->frame().height()) / 2, v->frame().width(), v->frame().height()));
  };
  placeLeft(leftView_.get(), 16);
  placeLeft(backButton_.get(), 8);
  if (rightView_) placeLeft(rightView_.get(), b.width() - 16 - rightView_->frame().width());
  // The title is centred in the room the bar's buttons leave on both sides.
  double side = 0;
  for (const View* v :
       {static_cast<const View*>(leftView_.get()), static_cast<const View*>(backButton_.get())})
    if (v && v->superview() == this) side = std::max(side, v->frame().maxX());
  if (rightView_ && rightView_->superview() == this)
    side = std::max(side, b.width() - rightView_->frame().x());
  side += 8;
  titleLabel_->setFrame(Rect(side, top, std::max(0.0, b.width() - 2 * side), kBarHeight));
  if (titleView_) {
    Rect f = titleView_->frame();
    titleView_->setFrame(
        Rect((b.width() - f.width()) / 2, top + (kBarHeight - f.height()) / 2, f.width(), f.height()));
  }
}

void NavigationBar::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  Rect b = bounds();
  const NavigationBarAppearance& a = appearance();
  canvas.setFillColor(a.barTintColor.value_or(Color::white(0.97)));
  canvas.fillRect(b);
  ImageRef image = backgroundImage_;
  if (!image && !a.backgroundImageName.empty()) image = imageNamed(a.backgroundImageName);
  if (image) canvas.drawImage(*image, b);
}

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
    if (!view_) view_ = std::make_shared<View>(screenRect());
    loading_ = false;
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) { view_ = std::move(view); }

void ViewController::loadView() {
  view_ = std::make_shared<View>(screenRect());
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
  std::shared_ptr<View> view = controller->view();
  ModalPresentationStyle style = controller->modalPresentationStyle();
  view->setFrame(presentationFrame(style));
  Window* window = host->view_ ? host->view_->window() : nullptr;
  std::shared_ptr<Window> keyWindow = Application::shared().keyWindow();
  if (!window) window = keyWindow.get();
  if (window) window->addSubview(view);
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
    if (c->view_) c->view_->removeFromSuperview();
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

// ------------------------------------------------------------------------------ NavigationController

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

void NavigationController::showTop(ViewController* oldTop, bool animated, bool /*pushing*/) {
  ViewController* newTop = topViewController();
  std::shared_ptr<ViewController> keepOld = shared(oldTop);
  if (isViewLoaded()) {
    if (oldTop && oldTop != newTop && oldTop->isViewLoaded()) {
      std::shared_ptr<View> old = oldTop->view();
      if (old->superview() == view().get()) old->removeFromSuperview();
    }
    layoutContent();
    updateNavigationBar();
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
  std::shared_ptr<View> content = top->view();
  std::shared_ptr<View> root = view();
  // The screen starts below the bar while the bar shows.
  double barBottom = (bar_ && !barHidden_) ? bar_->frame().maxY() : 0;
  Rect b = root->bounds();
  content->setFrame(Rect(b.x(), b.y() + barBottom, b.width(), std::max(0.0, b.height() - barBottom)));
  content->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
  if (content->superview() != root.get()) root->insertSubviewAtIndex(content, 0);
}

void NavigationController::setNavigationBarHidden(bool hidden, bool /*animated*/) {
  barHidden_ = hidden;
  if (bar_) bar_->setHidden(hidden);
  layoutContent();
}

NavigationBar& NavigationController::navigationBar() {
  view();
  return *bar_;
}

void NavigationController::loadView() {
  Rect frame = screenRect();
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
  return std::string("Back");
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
  contentView->setFrame(Rect(x, y, contentSize_.width, contentSize_.height));
  if (window) window->addSubview(contentView);
  if (visible_) return;
  visible_ = true;
  popovers().push_back(shared_from_this());
  record(ScreenEvent::Kind::kShowPopover, content_, animated);
  runTransition({{content_, true}}, animated, {});
}

void PopoverController::dismissPopoverAnimated(bool animated) {
  if (!visible_) return;
  auto keep = shared_from_this();
  visible_ = false;
  auto& list = popovers();
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  if (content_->isViewLoaded()) content_->view()->removeFromSuperview();
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

std::vector<std::shared_ptr<PopoverController>> visiblePopovers() { return popovers(); }

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

const std::vector<ScreenEvent>& screenEvents() { return events(); }
void clearScreenEvents() { events().clear(); }

}  // namespace ui
