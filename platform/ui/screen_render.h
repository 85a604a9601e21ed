#pragma once
// The whole screen as a person sees it: the key window with whatever it presents, then what the
// view tree alone does not draw: the dimming behind form sheets and popovers, the popovers' frames,
// the keyboard (letters, or the keypad for number fields), the alert or action sheet on top with
// its buttons, and the status bar.
//
// The overlays' buttons and keys are laid out here once, so that drawing them and tapping them
// (overlayTargets / tapOverlayTarget) agree on where they are.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/graphics/canvas.h"
#include "platform/graphics/image.h"
#include "platform/ui/view.h"

namespace ui {

inline constexpr double kStatusBarHeight = 20;
inline constexpr std::string_view kHideKeyboardKey = "hide";

// Something on an overlay a person can tap, in the window's points.
struct OverlayTarget {
  enum class Kind { kAlertButton, kSheetButton, kKey };
  Kind kind = Kind::kKey;
  // A button's title; a key's text ("space", "delete" and "return" for those keys, and on a tablet
  // kHideKeyboardKey for the key that puts the keyboard away).
  std::string title;
  // The button's index in its alert or sheet.
  int index = -1;
  Rect frame;
};

// The taps the screen offers above the view tree, front-most first: the buttons of the newest alert
// (or, without one, of the newest action sheet), then the keyboard's keys while it is up. While an
// alert or sheet is up nothing behind it takes a tap, so only its buttons are listed then.
std::vector<OverlayTarget> overlayTargets(Size screen);
// Whether an alert or action sheet covers the screen.
bool overlayBlocksScreen();
// A tap on the target as a person makes it: the button reaches its alert's delegate; a key types
// into the first responder, and the hide key makes it resign. False when the target is gone or
// nothing takes the key.
bool tapOverlayTarget(const OverlayTarget& target);

// What lies below a floating screen (a form sheet or popover over the dimmed screen): the window's
// background and the screens under the dimming. A caller that draws picture after picture on one
// canvas may keep those pixels and put them back, rather than have them drawn again, while only
// the floating screen moves.
class ScreenUnderlay {
 public:
  virtual ~ScreenUnderlay() = default;
  // Before the window's background and `below` (its subviews under the dimming, bottom first) are
  // drawn: true when the canvas now holds them exactly as they would be drawn, so they are not.
  virtual bool restore(const View& window, const std::vector<const View*>& below) = 0;
  // After they were drawn: the canvas holds them, and nothing above them yet.
  virtual void keep(const View& window, const std::vector<const View*>& below) = 0;
};

struct ScreenRenderOptions {
  // What the status bar's clock shows.
  foundation::Date now;
  // Where what lies below a floating screen is kept; without one it is drawn.
  ScreenUnderlay* underlay = nullptr;
};

// Draws the window and the overlays with the window's top left at the canvas's current origin.
void renderScreen(View& window, graphics::Canvas& canvas, const ScreenRenderOptions& options);
foundation::Result<graphics::Image> renderScreenToImage(View& window, double scale,
                                                        const ScreenRenderOptions& options);
// Written atomically.
foundation::Status renderScreenToPng(View& window, const std::filesystem::path& path, double scale,
                                     const ScreenRenderOptions& options);

}  // namespace ui
