#pragma once
// Touch injection: one finger put down, moved and lifted at points of a view tree, as the screen
// would deliver it. The touch goes to the view hit-tested where it began (it keeps that view for its
// whole life) and first to the gesture recognisers of that view and of its ancestors, innermost
// first. Once one recogniser has recognised its gesture the others fail for the rest of the touch.

#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/gesture.h"
#include "platform/ui/view.h"

namespace ui {

class TouchInjector {
 public:
  // `root` is the tree's top view (usually the window); points are in its coordinates.
  explicit TouchInjector(View& root);
  ~TouchInjector();
  TouchInjector(const TouchInjector&) = delete;
  TouchInjector& operator=(const TouchInjector&) = delete;

  // Puts the finger down; returns the view that receives the touch (null when no view takes it, in
  // which case the other calls do nothing until the next began).
  View* began(Point point);
  void moved(Point point);
  void ended(Point point);
  // Ends the touch at its last point.
  void ended();
  void cancelled();
  // Down and up at one point; returns the view that received the touch.
  View* tap(Point point);
  // Down at `from`, moved in `steps` equal steps, up at `to`.
  View* drag(Point from, Point to, int steps = 4);

  bool isTouching() const { return touch_.has_value(); }

 private:
  void deliver(TouchPhase phase, Point point);
  bool recognizerTookTouch() const;
  static bool takenBy(const std::vector<std::shared_ptr<GestureRecognizer>>& recognizers,
                      const GestureRecognizer* except);

  View& root_;
  std::optional<Touch> touch_;
  Point lastPoint_;  // in the root's coordinates
  std::shared_ptr<View> hit_;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  bool viewCancelled_ = false;
};

}  // namespace ui
