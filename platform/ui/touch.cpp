#include "platform/ui/touch.h"

#include <algorithm>

#include "platform/ui/table_view.h"

namespace ui {

TouchInjector::TouchInjector(View& root) : root_(root) {}

TouchInjector::~TouchInjector() {
  if (touch_) cancelled();
}

bool TouchInjector::takenBy(const std::vector<std::shared_ptr<GestureRecognizer>>& recognizers,
                            const GestureRecognizer* except) {
  return std::any_of(recognizers.begin(), recognizers.end(),
                     [except](const auto& r) { return r.get() != except && r->hasRecognized(); });
}

bool TouchInjector::recognizerTookTouch() const {
  for (const auto& r : recognizers_) {
    if (r->hasRecognized() && r->cancelsTouchesInView()) return true;
  }
  return false;
}

namespace {

// A row's delete button closes when a finger touches anything but the button.
void closeDeleteButtonsAwayFrom(View& view, const View* touched) {
  if (auto* table = dynamic_cast<TableView*>(&view); table && table->deleteConfirmationIndexPath()) {
    const Button* button = table->deleteConfirmationButton();
    const bool onButton = button && touched && (touched == button || touched->isDescendantOfView(button));
    const bool onTable = touched && (touched == table || touched->isDescendantOfView(table));
    // A touch on the table itself closes it there (the table's own first tap).
    if (!onButton && !onTable) table->hideDeleteConfirmationButton();
  }
  auto subviews = view.subviews();
  for (auto& sub : subviews) closeDeleteButtonsAwayFrom(*sub, touched);
}

}  // namespace

View* TouchInjector::began(Point point) {
  if (touch_) cancelled();
  View* hit = root_.hitTest(point);
  closeDeleteButtonsAwayFrom(root_, hit);
  if (!hit) return nullptr;
  hit_ = hit->weak_from_this().lock();
  Touch t;
  t.root = &root_;
  t.view = hit;
  t.location = root_.convertPointToView(point, nullptr);
  t.previousLocation = t.location;
  t.phase = TouchPhase::kBegan;
  touch_ = t;
  viewCancelled_ = false;
  recognizers_.clear();
  for (View* v = hit; v; v = v->superview()) {
    for (const auto& r : v->gestureRecognizers()) {
      if (r->isEnabled()) recognizers_.push_back(r);
    }
    if (v == &root_) break;
  }
  for (auto& r : recognizers_) r->reset();
  deliver(TouchPhase::kBegan, point);
  return hit;
}

void TouchInjector::moved(Point point) {
  if (touch_) deliver(TouchPhase::kMoved, point);
}

void TouchInjector::ended(Point point) {
  if (!touch_) return;
  deliver(TouchPhase::kEnded, point);
  touch_.reset();
  for (auto& r : recognizers_) r->reset();
  recognizers_.clear();
  hit_.reset();
}

void TouchInjector::ended() {
  if (touch_) ended(lastPoint_);
}

void TouchInjector::cancelled() {
  if (!touch_) return;
  deliver(TouchPhase::kCancelled, lastPoint_);
  touch_.reset();
  for (auto& r : recognizers_) r->reset();
  recognizers_.clear();
  hit_.reset();
}

View* TouchInjector::tap(Point point) {
  View* hit = began(point);
  if (hit) ended(point);
  return hit;
}

View* TouchInjector::drag(Point from, Point to, int steps) {
  View* hit = began(from);
  if (!hit) return nullptr;
  steps = std::max(1, steps);
  for (int i = 1; i <= steps; ++i) {
    double f = double(i) / steps;
    moved(Point(from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f));
  }
  ended(to);
  return hit;
}

void TouchInjector::deliver(TouchPhase phase, Point point) {
  Touch& t = *touch_;
  lastPoint_ = point;
  t.previousLocation = t.location;
  t.location = root_.convertPointToView(point, nullptr);
  t.phase = phase;
  TouchSet set{t};
  auto recognizers = recognizers_;
  for (auto& r : recognizers) {
    if (!r->view() || r->state() == GestureState::kFailed) continue;
    // One recogniser takes a touch: once an inner one has, the outer ones let it go.
    if (!r->hasRecognized() && takenBy(recognizers, r.get())) {
      r->fail();
      continue;
    }
    switch (phase) {
      case TouchPhase::kBegan:
        r->touchesBegan(set);
        break;
      case TouchPhase::kMoved:
        r->touchesMoved(set);
        break;
      case TouchPhase::kEnded:
        r->touchesEnded(set);
        break;
      case TouchPhase::kCancelled:
        r->touchesCancelled(set);
        break;
    }
  }
  if (viewCancelled_ || !hit_) return;
  if (recognizerTookTouch()) {
    viewCancelled_ = true;
    if (phase != TouchPhase::kBegan) {
      set[0].phase = TouchPhase::kCancelled;
      hit_->touchesCancelled(set);
    }
    return;
  }
  switch (phase) {
    case TouchPhase::kBegan:
      hit_->touchesBegan(set);
      break;
    case TouchPhase::kMoved:
      hit_->touchesMoved(set);
      break;
    case TouchPhase::kEnded:
      hit_->touchesEnded(set);
      break;
    case TouchPhase::kCancelled:
      hit_->touchesCancelled(set);
      break;
  }
}

}  // namespace ui
