#include "platform/ui/scroll_view.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
// How far a finger moves before it drags rather than taps; the pan recogniser's own threshold.
constexpr double kDragSlop = 10;
}  // namespace

// The scroll view's pan: it lets a drag go at once when the drag's main direction is one the
// content cannot move in, so that an outer recogniser (a side menu's) or nobody takes it.
class ScrollView::Pan : public PanGestureRecognizer {
 public:
  Pan(ScrollView& owner, Action action) : PanGestureRecognizer(std::move(action)), owner_(owner) {}

  void touchesBegan(const TouchSet& touches) override {
    PanGestureRecognizer::touchesBegan(touches);
    if (!touches.empty()) startedAt_ = touches.front().location;
  }

  void touchesMoved(const TouchSet& touches) override {
    if (state() == GestureState::kPossible && !touches.empty()) {
      const Point at = touches.front().location;
      const double dx = at.x - startedAt_.x;
      const double dy = at.y - startedAt_.y;
      if (std::hypot(dx, dy) > kDragSlop) {
        const bool vertical = std::fabs(dy) >= std::fabs(dx);
        if (vertical ? !owner_.canScrollVertically() : !owner_.canScrollHorizontally()) {
          fail();
          return;
        }
      }
    }
    PanGestureRecognizer::touchesMoved(touches);
  }

 private:
  ScrollView& owner_;
  Point startedAt_;
};

ScrollView::ScrollView(const Rect& frame) : View(frame) {
  pan_ = std::make_shared<Pan>(*this, [this](GestureRecognizer& r) {
    handlePan(static_cast<PanGestureRecognizer&>(r));
  });
  addGestureRecognizer(pan_);
}

void ScrollView::setContentSize(Size size) {
  contentSize_ = size;
  setNeedsLayout();
}

Point ScrollView::maximumContentOffset() const {
  const Size content = contentSize();
  return Point(std::max(0.0, content.width - bounds().width()),
               std::max(0.0, content.height - bounds().height()));
}

Point ScrollView::clamped(Point offset) const {
  const Point most = maximumContentOffset();
  return Point(std::clamp(offset.x, 0.0, most.x), std::clamp(offset.y, 0.0, most.y));
}

void ScrollView::setContentOffset(Point offset, bool /*animated*/) {
  const Point before = contentOffset();
  setBounds(Rect(offset, bounds().size));
  contentOffsetDidChange();
  if (scrollDelegate_ && (before.x != offset.x || before.y != offset.y))
    scrollDelegate_->scrollViewDidScroll(*this);
}

bool ScrollView::scrollBy(Point delta) {
  if (!scrollEnabled_) return false;
  const Point from = contentOffset();
  Point to = from;
  if (canScrollHorizontally()) to.x = std::clamp(from.x + delta.x, 0.0, maximumContentOffset().x);
  if (canScrollVertically()) to.y = std::clamp(from.y + delta.y, 0.0, maximumContentOffset().y);
  if (to.x == from.x && to.y == from.y) return false;
  setContentOffset(to);
  return true;
}

void ScrollView::handlePan(PanGestureRecognizer& pan) {
  auto keep = weak_from_this().lock();
  switch (pan.state()) {
    case GestureState::kBegan:
      dragging_ = true;
      dragStartOffset_ = contentOffset();
      if (scrollDelegate_) scrollDelegate_->scrollViewWillBeginDragging(*this);
      [[fallthrough]];
    case GestureState::kChanged: {
      const Point moved = pan.translationInView(this);
      Point to = dragStartOffset_;
      if (canScrollHorizontally()) to.x -= moved.x;
      if (canScrollVertically()) to.y -= moved.y;
      to = clamped(to);
      if (to.x != contentOffset().x || to.y != contentOffset().y) setContentOffset(to);
      break;
    }
    case GestureState::kEnded:
    case GestureState::kCancelled:
      if (!dragging_) break;
      dragging_ = false;
      if (scrollDelegate_) scrollDelegate_->scrollViewDidEndDragging(*this, false);
      break;
    default:
      break;
  }
}

bool scrollWheelAt(View& root, Point point, Point delta) {
  View* hit = root.hitTest(point);
  for (View* v = hit; v; v = v->superview()) {
    if (auto* scroll = dynamic_cast<ScrollView*>(v); scroll && scroll->scrollBy(delta)) return true;
    if (v == &root) break;
  }
  return false;
}

}  // namespace ui
