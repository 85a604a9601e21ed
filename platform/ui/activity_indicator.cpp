#include "platform/ui/activity_indicator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ui {

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorViewStyle style)
    : View(Rect(0, 0, kSide, kSide)), style_(style) {
  setOpaque(false);
  setUserInteractionEnabled(false);
  setHidden(true);
}

ActivityIndicatorView::~ActivityIndicatorView() { timer_.invalidate(); }

Color ActivityIndicatorView::color() const { return Color::gray(); }

void ActivityIndicatorView::startAnimating() {
  setHidden(false);
  if (animating_) return;
  animating_ = true;
  std::weak_ptr<View> weak = weak_from_this();
  timer_ = runtime::RunLoop::main().scheduleTimer(kSpokeInterval, true, [weak](runtime::Timer& timer) {
    auto self = std::static_pointer_cast<ActivityIndicatorView>(weak.lock());
    if (!self) {
      timer.invalidate();
      return;
    }
    self->leadingSpoke_ = (self->leadingSpoke_ + 1) % kSpokes;
    // Off screen nothing needs drawing again.
    if (self->window() != nullptr) self->setNeedsDisplay();
  });
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  timer_.invalidate();
  timer_ = {};
  if (hidesWhenStopped_) setHidden(true);
  setNeedsDisplay();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
  hidesWhenStopped_ = hides;
  if (!animating_) setHidden(hides);
}

Size ActivityIndicatorView::sizeThatFits(Size) const { return {kSide, kSide}; }

void ActivityIndicatorView::drawRect(graphics::Canvas& canvas, const Rect&) {
  const Rect b = bounds();
  const double side = std::min(b.width(), b.height());
  const double outer = side / 2;
  const double inner = outer * 0.45;
  const Point centre{b.x() + b.width() / 2, b.y() + b.height() / 2};
  canvas.save();
  canvas.setLineCap(graphics::LineCap::kRound);
  canvas.setLineWidth(side * 0.09);
  for (int i = 0; i < kSpokes; ++i) {
    // The leading spoke is darkest; those behind it fade to a quarter.
    const int behind = (leadingSpoke_ - i + kSpokes) % kSpokes;
    Color spoke = color();
    spoke.a = 1.0 - 0.75 * behind / (kSpokes - 1);
    canvas.setStrokeColor(spoke);
    const double angle = 2 * std::numbers::pi * i / kSpokes - std::numbers::pi / 2;
    canvas.strokeLine({centre.x + inner * std::cos(angle), centre.y + inner * std::sin(angle)},
                      {centre.x + outer * std::cos(angle), centre.y + outer * std::sin(angle)});
  }
  canvas.restore();
}

}  // namespace ui
