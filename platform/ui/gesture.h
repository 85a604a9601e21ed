#pragma once
// Gesture recognisers: attached to a view, they see the touches that begin in it or its subviews
// before the views do, and call their actions when they recognise their gesture. A recognised
// gesture cancels the touches in the view (the view gets touchesCancelled instead of touchesEnded)
// unless told not to. One touch is taken by one recogniser: the innermost that recognises first
// (a picker's wheel inside a list inside a side menu); the others then fail (touch.h).

#include <functional>
#include <vector>

#include "platform/ui/view.h"

namespace ui {

enum class GestureState { kPossible, kBegan, kChanged, kEnded, kCancelled, kFailed };

class GestureRecognizer {
 public:
  using Action = std::function<void(GestureRecognizer&)>;

  explicit GestureRecognizer(Action action = {});
  virtual ~GestureRecognizer() = default;
  GestureRecognizer(const GestureRecognizer&) = delete;
  GestureRecognizer& operator=(const GestureRecognizer&) = delete;

  void addAction(Action action);
  // The view it is attached to (not owned).
  View* view() const { return view_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
  void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
  GestureState state() const { return state_; }
  // Where the gesture's touch is, in the coordinates of `view` (null: the tree's root).
  Point locationInView(const View* view) const;

  // Driven by touch delivery (touch.h).
  virtual void touchesBegan(const TouchSet& touches);
  virtual void touchesMoved(const TouchSet& touches);
  virtual void touchesEnded(const TouchSet& touches);
  virtual void touchesCancelled(const TouchSet& touches);
  // Back to kPossible once a touch sequence is over.
  virtual void reset();
  // True once the gesture began or ended recognised during the current touch sequence.
  bool hasRecognized() const { return recognized_; }
  // Out of the running for the rest of this touch sequence, without calling the actions: the
  // recogniser saw a gesture it does not follow, or another recogniser took the touch.
  void fail() { state_ = GestureState::kFailed; }

 protected:
  // Moves to the state and calls the actions for began, changed and ended.
  void setState(GestureState state);
  Touch lastTouch_;

 private:
  friend class View;
  View* view_ = nullptr;
  std::vector<Action> actions_;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  GestureState state_ = GestureState::kPossible;
  bool recognized_ = false;
};

// A single tap: the touch ends within 10 points of where it began.
class TapGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  void touchesBegan(const TouchSet& touches) override;
  void touchesMoved(const TouchSet& touches) override;
  void touchesEnded(const TouchSet& touches) override;

 private:
  Point start_;
};

// A drag: begins once the touch has moved 10 points, reports every move, ends with the touch.
class PanGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  void touchesBegan(const TouchSet& touches) override;
  void touchesMoved(const TouchSet& touches) override;
  void touchesEnded(const TouchSet& touches) override;
  void reset() override;
  // How far the touch moved since it began (or since setTranslation), in `view`'s coordinates.
  Point translationInView(const View* view) const;
  void setTranslation(Point translation, const View* view);

 private:
  Point start_;
};

}  // namespace ui
