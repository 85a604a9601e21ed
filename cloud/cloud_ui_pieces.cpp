#include "cloud/cloud_ui_pieces.h"

#include <cmath>
#include <numbers>

#include "platform/ui/device.h"

namespace cloud {

// --- activity indicator ----------------------------------------------------------------------------

double ActivityIndicatorView::sideFor(ActivityIndicatorViewStyle style) {
  return style == ActivityIndicatorViewStyle::kWhiteLarge ? 37 : 20;
}

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorViewStyle style)
    : ui::View(ui::Rect(0, 0, sideFor(style), sideFor(style))), style_(style) {
  setOpaque(false);
  setUserInteractionEnabled(false);
  setHidden(true);
}

ActivityIndicatorView::~ActivityIndicatorView() { timer_.invalidate(); }

ui::Color ActivityIndicatorView::color() const {
  return style_ == ActivityIndicatorViewStyle::kGray ? ui::Color::gray() : ui::Color::white();
}

void ActivityIndicatorView::startAnimating() {
  setHidden(false);
  if (animating_) return;
  animating_ = true;
  std::weak_ptr<ui::View> weak = weak_from_this();
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

ui::Size ActivityIndicatorView::sizeThatFits(ui::Size) const { return {sideFor(style_), sideFor(style_)}; }

void ActivityIndicatorView::drawRect(graphics::Canvas& canvas, const ui::Rect&) {
  const ui::Rect b = bounds();
  const double side = std::min(b.width(), b.height());
  const double outer = side / 2;
  const double inner = outer * 0.45;
  const ui::Point centre{b.x() + b.width() / 2, b.y() + b.height() / 2};
  canvas.save();
  canvas.setLineCap(graphics::LineCap::kRound);
  canvas.setLineWidth(side * 0.09);
  for (int i = 0; i < kSpokes; ++i) {
    // The leading spoke is darkest; those behind it fade to a quarter.
    const int behind = (leadingSpoke_ - i + kSpokes) % kSpokes;
    ui::Color spoke = color();
    spoke.a = 1.0 - 0.75 * behind / (kSpokes - 1);
    canvas.setStrokeColor(spoke);
    const double angle = 2 * std::numbers::pi * i / kSpokes - std::numbers::pi / 2;
    canvas.strokeLine({centre.x + inner * std::cos(angle), centre.y + inner * std::sin(angle)},
                      {centre.x + outer * std::cos(angle), centre.y + outer * std::sin(angle)});
  }
  canvas.restore();
}

// --- system bar button items -----------------------------------------------------------------------

std::shared_ptr<SystemBarButtonItem> SystemBarButtonItem::make(BarButtonSystemItem item, Action action) {
  auto made = std::make_shared<SystemBarButtonItem>();
  made->item_ = item;
  made->setTitle("Cancel");
  made->setStyle(ui::BarButtonItemStyle::kPlain);
  made->setAction(std::move(action));
  return made;
}

// --- Foundation version ----------------------------------------------------------------------------

double foundationVersionNumber() {
  // The platform's numbers: 6.0 is 992.0, 6.1 is 993.0, 7.0 is 1047.20, 8.0 is 1140.11.
  const double system = ui::device().systemVersionNumber();
  if (system >= 8.0) return 1140.11;
  if (system >= 7.0) return 1047.20;
  return system >= 6.1 ? 993.0 : 992.0;
}

}  // namespace cloud
