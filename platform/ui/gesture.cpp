#include "platform/ui/gesture.h"

#include <cmath>

namespace ui {

namespace {
constexpr double kTapSlop = 10;

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }
}  // namespace

GestureRecognizer::GestureRecognizer(Action action) {
  if (action) actions_.push_back(std::move(action));
}

void GestureRecognizer::addAction(Action action) {
  if (action) actions_.push_back(std::move(action));
}

Point GestureRecognizer::locationInView(const View* view) const { return lastTouch_.locationInView(view); }

void GestureRecognizer::touchesBegan(const TouchSet& touches) {
  if (!touches.empty()) lastTouch_ = touches.front();
}

void GestureRecognizer::touchesMoved(const TouchSet& touches) {
  if (!touches.empty()) lastTouch_ = touches.front();
}

void GestureRecognizer::touchesEnded(const TouchSet& touches) {
  if (!touches.empty()) lastTouch_ = touches.front();
}

void GestureRecognizer::touchesCancelled(const TouchSet& touches) {
  if (!touches.empty()) lastTouch_ = touches.front();
  if (state_ == GestureState::kBegan || state_ == GestureState::kChanged) {
    setState(GestureState::kCancelled);
  } else if (state_ == GestureState::kPossible) {
    setState(GestureState::kFailed);
  }
}

void GestureRecognizer::reset() {
  state_ = GestureState::kPossible;
  recognized_ = false;
}

void GestureRecognizer::setState(GestureState state) {
  state_ = state;
  if (state == GestureState::kBegan || state == GestureState::kEnded) recognized_ = true;
  if (state == GestureState::kBegan || state == GestureState::kChanged || state == GestureState::kEnded ||
      state == GestureState::kCancelled) {
    auto actions = actions_;
    for (auto& action : actions) action(*this);
  }
}

void TapGestureRecognizer::touchesBegan(const TouchSet& touches) {
  GestureRecognizer::touchesBegan(touches);
  start_ = lastTouch_.location;
}

void TapGestureRecognizer::touchesMoved(const TouchSet& touches) {
  GestureRecognizer::touchesMoved(touches);
  if (state() == GestureState::kPossible && distance(lastTouch_.location, start_) > kTapSlop) {
    setState(GestureState::kFailed);
  }
}

void TapGestureRecognizer::touchesEnded(const TouchSet& touches) {
  GestureRecognizer::touchesEnded(touches);
  if (state() != GestureState::kPossible) return;
  if (distance(lastTouch_.location, start_) > kTapSlop) {
    setState(GestureState::kFailed);
  } else {
    setState(GestureState::kEnded);
  }
}

void PanGestureRecognizer::touchesBegan(const TouchSet& touches) {
  GestureRecognizer::touchesBegan(touches);
  start_ = lastTouch_.location;
}

void PanGestureRecognizer::touchesMoved(const TouchSet& touches) {
  GestureRecognizer::touchesMoved(touches);
  if (state() == GestureState::kPossible) {
    if (distance(lastTouch_.location, start_) > kTapSlop) setState(GestureState::kBegan);
  } else if (state() == GestureState::kBegan || state() == GestureState::kChanged) {
    setState(GestureState::kChanged);
  }
}

void PanGestureRecognizer::touchesEnded(const TouchSet& touches) {
  GestureRecognizer::touchesEnded(touches);
  if (state() == GestureState::kBegan || state() == GestureState::kChanged) {
    setState(GestureState::kEnded);
  } else if (state() == GestureState::kPossible) {
    setState(GestureState::kFailed);
  }
}

void PanGestureRecognizer::reset() {
  GestureRecognizer::reset();
  start_ = Point();
}

Point PanGestureRecognizer::translationInView(const View* view) const {
  // Translations are differences, so only the scale between coordinate systems would matter; views
  // here are never scaled, so the root's difference is every view's.
  (void)view;
  return Point(lastTouch_.location.x - start_.x, lastTouch_.location.y - start_.y);
}

void PanGestureRecognizer::setTranslation(Point translation, const View* /*view*/) {
  start_ = Point(lastTouch_.location.x - translation.x, lastTouch_.location.y - translation.y);
}

}  // namespace ui
