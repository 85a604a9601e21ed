#pragma once
// Scroll views: a view whose bounds' origin (the content offset) moves over content larger than
// itself. A person moves it with a finger (its own pan recogniser, which takes the touch from the
// buttons and rows inside once it has moved 10 points, so a drag never taps) or with the mouse
// wheel (scrollBy); both stop at the content's ends. Code may set any offset.
//
// The delegate hears every change of the offset (scrollViewDidScroll), whoever made it, and the
// start and end of a finger's drag. Tables are scroll views: their delegate is this delegate too.
//
// A drag is taken by the innermost view that can follow it: a scroll view begins only when it can
// move in the drag's main direction (a list that only scrolls up and down lets a sideways drag go
// to the side menu's pan around it), and once one recogniser has taken a touch the others let it
// go (touch.h). Main thread only.

#include <memory>

#include "platform/ui/gesture.h"
#include "platform/ui/view.h"

namespace ui {

class ScrollView;

// Non-owning.
class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  // After every change of the content offset: a finger, the wheel, or code.
  virtual void scrollViewDidScroll(ScrollView& /*scrollView*/) {}
  // A finger took hold of the content / let go of it.
  virtual void scrollViewWillBeginDragging(ScrollView& /*scrollView*/) {}
  virtual void scrollViewDidEndDragging(ScrollView& /*scrollView*/, bool /*willDecelerate*/) {}
};

class ScrollView : public View {
 public:
  explicit ScrollView(const Rect& frame = Rect());

  // The size of what scrolls; a subclass that works it out itself (a table) overrides it.
  virtual Size contentSize() const { return contentSize_; }
  void setContentSize(Size size);
  Point contentOffset() const { return bounds().origin; }
  // From code: any offset, as given. The delegate hears of a change.
  virtual void setContentOffset(Point offset, bool animated = false);
  // The furthest offset a person can scroll to (0 on an axis whose content fits).
  Point maximumContentOffset() const;
  bool canScrollVertically() const { return scrollEnabled_ && maximumContentOffset().y > 0; }
  bool canScrollHorizontally() const { return scrollEnabled_ && maximumContentOffset().x > 0; }

  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
  // A finger holds the content now.
  bool isDragging() const { return dragging_; }

  ScrollViewDelegate* scrollDelegate() const { return scrollDelegate_; }
  void setScrollDelegate(ScrollViewDelegate* delegate) { scrollDelegate_ = delegate; }

  // A person's scroll by `delta` points (the mouse wheel): the offset moves and stops at the
  // content's ends. False when it could not move at all (already at that end, or nothing to scroll).
  bool scrollBy(Point delta);
  // The recogniser the finger's drags go through.
  PanGestureRecognizer& panGestureRecognizer() { return *pan_; }

 protected:
  // After the offset changed, before the delegate hears of it: a table brings rows on screen here.
  virtual void contentOffsetDidChange() {}

 private:
  class Pan;
  void handlePan(PanGestureRecognizer& pan);
  Point clamped(Point offset) const;

  Size contentSize_;
  bool scrollEnabled_ = true;
  bool dragging_ = false;
  Point dragStartOffset_;
  ScrollViewDelegate* scrollDelegate_ = nullptr;
  std::shared_ptr<PanGestureRecognizer> pan_;
};

// The mouse wheel over `point` of the tree at `root` (in its coordinates): the innermost scroll
// view under the point that can move by `delta` scrolls. False when none could.
bool scrollWheelAt(View& root, Point point, Point delta);

}  // namespace ui
