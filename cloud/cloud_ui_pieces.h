#pragma once
// Three pieces of the platform's interface kit that the login screen asks for and our ui layer
// does not have yet: the activity indicator, the system bar button items, and the edges of a
// screen that may extend under the bars. Only the login screen uses them; they belong in
// platform/ui once another screen needs them.
//
// Main thread only, like every view.

#include <memory>
#include <optional>

#include "platform/runtime/run_loop.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"

namespace cloud {

// The platform's indicator styles and their sizes: 37 points for the large one, 20 for the others.
enum class ActivityIndicatorViewStyle { kWhiteLarge = 0, kWhite = 1, kGray = 2 };

// Twelve spokes round the centre, the leading one darkest and the others fading behind it; while
// animating the lead moves on one spoke every twelfth of a second on the main run loop's clock.
// Stopped, it hides itself (unless told not to) and its timer goes.
class ActivityIndicatorView : public ui::View {
 public:
  static constexpr double kSpokeInterval = 1.0 / 12;
  static constexpr int kSpokes = 12;

  explicit ActivityIndicatorView(ActivityIndicatorViewStyle style);
  ~ActivityIndicatorView() override;

  ActivityIndicatorViewStyle style() const { return style_; }
  // The spokes' colour: white for the white styles, grey for the grey one.
  ui::Color color() const;

  // Must be called on a view held by a shared_ptr (every view is).
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool hides);
  // The spoke that leads now, 0 to 11.
  int leadingSpoke() const { return leadingSpoke_; }

  ui::Size sizeThatFits(ui::Size size) const override;
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;

 private:
  static double sideFor(ActivityIndicatorViewStyle style);

  ActivityIndicatorViewStyle style_;
  bool animating_ = false;
  bool hidesWhenStopped_ = true;
  int leadingSpoke_ = 0;
  runtime::Timer timer_;
};

// The platform's system bar button items that the diary uses (the platform's value).
enum class BarButtonSystemItem { kCancel = 1 };

// A bar button item the system makes from its kind: the kind's own title in plain style (the bar
// draws it as the platform draws a system item), and the action.
class SystemBarButtonItem : public ui::BarButtonItem {
 public:
  static std::shared_ptr<SystemBarButtonItem> make(BarButtonSystemItem item, Action action);
  BarButtonSystemItem systemItem() const { return item_; }

 private:
  BarButtonSystemItem item_ = BarButtonSystemItem::kCancel;
};

// The edges of a screen that may lie under the navigation and tool bars (the platform's bits).
enum RectEdge : unsigned {
  kRectEdgeNone = 0,
  kRectEdgeTop = 1,
  kRectEdgeLeft = 2,
  kRectEdgeBottom = 4,
  kRectEdgeRight = 8,
  kRectEdgeAll = 15,
};

// The Foundation version number of the system the device profile runs: 993.0 is system 6.1, the
// last whose screens never extend under the bars; every later system has a higher number.
double foundationVersionNumber();

}  // namespace cloud
