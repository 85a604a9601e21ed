#include "platform/ui/view.h"

#include <algorithm>

#include "platform/ui/animation.h"
#include "platform/ui/gesture.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/view_controller.h"

namespace ui {

namespace {

View*& firstResponderSlot() {
  static View* responder = nullptr;
  return responder;
}

// Point in a view's bounds coordinates → its superview's bounds coordinates.
Point toSuper(const View& v, Point p) {
  return Point(p.x - v.bounds().x() + v.frame().x(), p.y - v.bounds().y() + v.frame().y());
}

Point fromSuper(const View& v, Point p) {
  return Point(p.x - v.frame().x() + v.bounds().x(), p.y - v.frame().y() + v.bounds().y());
}

Point toRoot(const View* v, Point p) {
  for (; v && v->superview(); v = v->superview()) p = toSuper(*v, p);
  return p;
}

Point fromRoot(const View* v, Point p) {
  std::vector<const View*> chain;
  for (; v && v->superview(); v = v->superview()) chain.push_back(v);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = fromSuper(**it, p);
  return p;
}

// Distributes `delta` over the flexible parts of one axis in proportion to their sizes (equally
// when they are all zero), as the platform's autoresizing does.
void resizeAxis(double& start, double& length, double oldTotal, double delta, bool flexStart, bool flexLength,
                bool flexEnd) {
  double end = oldTotal - start - length;
  double parts[3] = {flexStart ? start : 0, flexLength ? length : 0, flexEnd ? end : 0};
  bool flex[3] = {flexStart, flexLength, flexEnd};
  int count = int(flexStart) + int(flexLength) + int(flexEnd);
  if (count == 0) return;
  double sum = parts[0] + parts[1] + parts[2];
  double share[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (!flex[i]) continue;
    share[i] = sum > 0 ? delta * parts[i] / sum : delta / count;
  }
  start += share[0];
  length += share[1];
}

}  // namespace

Point Touch::locationInView(const View* v) const {
  return v ? v->convertPointFromView(location, nullptr) : location;
}

Point Touch::previousLocationInView(const View* v) const {
  return v ? v->convertPointFromView(previousLocation, nullptr) : previousLocation;
}

View::View() = default;

View::View(const Rect& frame) : frame_(frame), bounds_(0, 0, frame.width(), frame.height()) {}

View::~View() {
  if (firstResponderSlot() == this) {
    // The subclass is gone already, so ask the keyboard rather than usesKeyboard(): only a text
    // input brings it up.
    firstResponderSlot() = nullptr;
    if (Keyboard::isVisible()) Keyboard::hide();
  }
  for (auto& sub : subviews_) sub->superview_ = nullptr;
  for (auto& r : recognizers_) r->view_ = nullptr;
}

void View::setFrame(const Rect& frame) {
  if (frame != frame_) detail::viewWillChange(*this, detail::AnimatedProperty::kFrame);
  Size oldSize = bounds_.size;
  frame_ = frame;
  bounds_.size = frame.size;
  if (oldSize != frame.size) {
    if (autoresizesSubviews_) resizeSubviews(oldSize);
    needsLayout_ = true;
    if (contentMode_ == ContentMode::kRedraw) setNeedsDisplay();
  }
}

void View::setBounds(const Rect& bounds) {
  Size oldSize = bounds_.size;
  bounds_ = bounds;
  if (oldSize != bounds.size) {
    detail::viewWillChange(*this, detail::AnimatedProperty::kFrame);
    // A new size keeps the centre where it was.
    Point c = center();
    frame_ = Rect(c.x - bounds.width() / 2, c.y - bounds.height() / 2, bounds.width(), bounds.height());
    if (autoresizesSubviews_) resizeSubviews(oldSize);
    needsLayout_ = true;
  }
}

void View::setCenter(Point c) {
  const Point origin(c.x - frame_.width() / 2, c.y - frame_.height() / 2);
  if (origin != frame_.origin) detail::viewWillChange(*this, detail::AnimatedProperty::kFrame);
  frame_.origin = origin;
}

void View::resizeSubviews(Size oldSize) {
  double dw = bounds_.width() - oldSize.width;
  double dh = bounds_.height() - oldSize.height;
  for (auto& sub : subviews_) {
    unsigned m = sub->autoresizingMask_;
    if (m == kAutoresizingNone) continue;
    Rect f = sub->frame_;
    double x = f.x(), w = f.width(), y = f.y(), h = f.height();
    resizeAxis(x, w, oldSize.width, dw, m & kFlexibleLeftMargin, m & kFlexibleWidth,
               m & kFlexibleRightMargin);
    resizeAxis(y, h, oldSize.height, dh, m & kFlexibleTopMargin, m & kFlexibleHeight,
               m & kFlexibleBottomMargin);
    sub->setFrame(Rect(x, y, w, h));
  }
}

void View::setHidden(bool hidden) {
  if (hidden == hidden_) return;
  hidden_ = hidden;
  if (hidden && firstResponderSlot() &&
      (firstResponderSlot() == this || firstResponderSlot()->isDescendantOfView(this))) {
    firstResponderSlot()->resignFirstResponder();
  }
}

void View::setAlpha(double alpha) {
  alpha = std::clamp(alpha, 0.0, 1.0);
  if (alpha != alpha_) detail::viewWillChange(*this, detail::AnimatedProperty::kAlpha);
  alpha_ = alpha;
}

void View::setBackgroundColor(std::optional<Color> color) {
  backgroundColor_ = color;
  setNeedsDisplay();
}

void View::setCornerRadius(double radius) { cornerRadius_ = std::max(0.0, radius); }

void View::addSubview(std::shared_ptr<View> view) {
  if (!view || view.get() == this || isDescendantOfView(view.get())) return;
  if (view->superview_ == this) {
    bringSubviewToFront(view.get());
    return;
  }
  view->removeFromSuperview();
  view->willMoveToSuperview(this);
  view->superview_ = this;
  subviews_.push_back(view);
  view->didMoveToSuperview();
}

void View::insertSubviewAtIndex(std::shared_ptr<View> view, size_t index) {
  if (!view || view.get() == this || isDescendantOfView(view.get())) return;
  if (view->superview_ != this) {
    view->removeFromSuperview();
    view->willMoveToSuperview(this);
  } else {
    subviews_.erase(std::find(subviews_.begin(), subviews_.end(), view));
  }
  view->superview_ = this;
  subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
  view->didMoveToSuperview();
}

void View::detachFromSuperview() {
  View* parent = superview_;
  auto it = std::find_if(parent->subviews_.begin(), parent->subviews_.end(),
                         [this](const auto& p) { return p.get() == this; });
  superview_ = nullptr;
  if (it != parent->subviews_.end()) parent->subviews_.erase(it);
}

void View::removeFromSuperview() {
  if (!superview_) return;
  // The superview may hold the last reference; keep the view alive until the callbacks are done.
  auto keep = weak_from_this().lock();
  View* responder = firstResponderSlot();
  if (responder && (responder == this || responder->isDescendantOfView(this)))
    responder->resignFirstResponder();
  willMoveToSuperview(nullptr);
  detachFromSuperview();
  didMoveToSuperview();
}

void View::bringSubviewToFront(const View* view) {
  auto it =
      std::find_if(subviews_.begin(), subviews_.end(), [view](const auto& p) { return p.get() == view; });
  if (it == subviews_.end()) return;
  auto keep = *it;
  subviews_.erase(it);
  subviews_.push_back(keep);
}

void View::sendSubviewToBack(const View* view) {
  auto it =
      std::find_if(subviews_.begin(), subviews_.end(), [view](const auto& p) { return p.get() == view; });
  if (it == subviews_.end()) return;
  auto keep = *it;
  subviews_.erase(it);
  subviews_.insert(subviews_.begin(), keep);
}

bool View::isDescendantOfView(const View* view) const {
  for (const View* v = this; v; v = v->superview_) {
    if (v == view) return true;
  }
  return false;
}

View* View::viewWithTag(int tag) {
  if (tag_ == tag) return this;
  for (auto& sub : subviews_) {
    if (View* found = sub->viewWithTag(tag)) return found;
  }
  return nullptr;
}

Window* View::window() const {
  const View* v = this;
  while (v->superview_) v = v->superview_;
  return dynamic_cast<Window*>(const_cast<View*>(v));
}

void View::drawRect(graphics::Canvas& /*canvas*/, const Rect& /*rect*/) {}

void View::setNeedsDisplay() {
  needsDisplay_ = true;
  ++displayRequests_;
}

void View::layoutIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  auto subs = subviews_;
  for (auto& sub : subs) sub->layoutIfNeeded();
}

Size View::sizeThatFits(Size /*size*/) const { return bounds_.size; }

void View::sizeToFit() {
  Size s = sizeThatFits(bounds_.size);
  setFrame(Rect(frame_.origin, s));
}

Point View::convertPointToView(Point point, const View* view) const {
  Point root = toRoot(this, point);
  return view ? fromRoot(view, root) : root;
}

Point View::convertPointFromView(Point point, const View* view) const {
  Point root = view ? toRoot(view, point) : point;
  return fromRoot(this, root);
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
  return Rect(convertPointToView(rect.origin, view), rect.size);
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
  return Rect(convertPointFromView(rect.origin, view), rect.size);
}

View* View::hitTest(Point point) {
  if (hidden_ || alpha_ < 0.01 || !userInteractionEnabled_ || !pointInside(point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    View* sub = it->get();
    if (View* hit = sub->hitTest(fromSuper(*sub, point))) return hit;
  }
  return this;
}

bool View::pointInside(Point point) const { return bounds_.contains(point); }

void View::touchesBegan(const TouchSet& touches) {
  if (superview_) superview_->touchesBegan(touches);
}

void View::touchesMoved(const TouchSet& touches) {
  if (superview_) superview_->touchesMoved(touches);
}

void View::touchesEnded(const TouchSet& touches) {
  if (superview_) superview_->touchesEnded(touches);
}

void View::touchesCancelled(const TouchSet& touches) {
  if (superview_) superview_->touchesCancelled(touches);
}

void View::addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer) {
  if (!recognizer) return;
  if (recognizer->view_ && recognizer->view_ != this)
    recognizer->view_->removeGestureRecognizer(recognizer.get());
  if (recognizer->view_ == this) return;
  recognizer->view_ = this;
  recognizers_.push_back(std::move(recognizer));
}

void View::removeGestureRecognizer(const GestureRecognizer* recognizer) {
  auto it = std::find_if(recognizers_.begin(), recognizers_.end(),
                         [recognizer](const auto& p) { return p.get() == recognizer; });
  if (it == recognizers_.end()) return;
  (*it)->view_ = nullptr;
  recognizers_.erase(it);
}

bool View::becomeFirstResponder() {
  View*& slot = firstResponderSlot();
  if (slot == this) return true;
  if (!canBecomeFirstResponder() || !shouldBecomeFirstResponder()) return false;
  View* previous = slot;
  if (previous) {
    if (!previous->shouldResignFirstResponder()) return false;
    slot = nullptr;
    previous->didResignFirstResponder();
  }
  slot = this;
  // The keyboard stays up when the typing moves from one text input to another.
  if (usesKeyboard()) {
    Keyboard::show();
  } else if (previous && previous->usesKeyboard()) {
    Keyboard::hide();
  }
  didBecomeFirstResponder();
  return true;
}

bool View::resignFirstResponder() {
  View*& slot = firstResponderSlot();
  if (slot != this) return true;
  if (!shouldResignFirstResponder()) return false;
  slot = nullptr;
  didResignFirstResponder();
  if (usesKeyboard()) Keyboard::hide();
  return true;
}

bool View::isFirstResponder() const { return firstResponderSlot() == this; }

bool View::endEditing(bool force) {
  View* responder = firstResponderSlot();
  if (!responder || !responder->isDescendantOfView(this)) return true;
  if (force) {
    firstResponderSlot() = nullptr;
    responder->didResignFirstResponder();
    if (responder->usesKeyboard()) Keyboard::hide();
    return true;
  }
  return responder->resignFirstResponder();
}

View* View::currentFirstResponder() { return firstResponderSlot(); }

}  // namespace ui
