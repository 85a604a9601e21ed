#pragma once
// The activity indicator: a small wheel of spokes that turns while work goes on.
//
// Twelve spokes round the centre, the leading one darkest and the others fading behind it; while
// animating, the lead moves on one spoke every twelfth of a second on the main run loop's clock (so
// a test turns it with the loop's manual clock). Stopped, it keeps its place, hides itself (unless
// told not to) and drops its timer. A new indicator is stopped and hidden.
//
// Main thread only, like every view. Must be held by a shared_ptr (every view is).

#include "platform/runtime/run_loop.h"
#include "platform/ui/view.h"

namespace ui {

// The platform's indicator styles that the screens use, with the platform's values.
enum class ActivityIndicatorViewStyle { kGray = 2 };

class ActivityIndicatorView : public View {
 public:
  static constexpr double kSpokeInterval = 1.0 / 12;
  static constexpr int kSpokes = 12;
  // The side of the grey indicator, in points.
  static constexpr double kSide = 20;

  explicit ActivityIndicatorView(ActivityIndicatorViewStyle style = ActivityIndicatorViewStyle::kGray);
  ~ActivityIndicatorView() override;

  ActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
  // The spokes' colour.
  Color color() const;

  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool hides);
  // The spoke that leads now, 0 to 11 clockwise from twelve o'clock.
  int leadingSpoke() const { return leadingSpoke_; }

  Size sizeThatFits(Size size) const override;
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 private:
  ActivityIndicatorViewStyle style_;
  bool animating_ = false;
  bool hidesWhenStopped_ = true;
  int leadingSpoke_ = 0;
  runtime::Timer timer_;
};

}  // namespace ui
