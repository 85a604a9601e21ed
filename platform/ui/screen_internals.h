#pragma once
// What the screen classes (view controllers, navigation controllers, popovers, the window) share
// inside the kit: the record of screen events, the popovers on screen, transitions and the screen's
// rectangle. Not for the diary's own code.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/view_controller.h"

namespace ui::screens {

std::vector<ScreenEvent>& events();
// The popovers on screen, which the screen itself keeps alive while they show.
std::vector<std::shared_ptr<PopoverController>>& popovers();
// Moves each popover on screen so that the field being typed into in it stays above the keyboard,
// or back where it was presented when the keyboard is down. The keyboard calls it as it comes, goes,
// or serves another field.
void placePopoversForKeyboard();
void record(ScreenEvent::Kind kind, const std::shared_ptr<ViewController>& controller, bool animated);

// A screen and whether it appears (true) or disappears.
using Change = std::pair<std::shared_ptr<ViewController>, bool>;
// The will-callbacks now; the did-callbacks and the completion once the transition has "played",
// on the main run loop.
void runTransition(std::vector<Change> changes, bool animated, std::function<void()> completion);

// When animations play: a screen that goes makes its `move` (frame changes) over `duration`. It is
// out of reach from the start (its alpha is 0 for touches and for whoever looks for controls, while
// the drawing holds it opaque until the last moment); its alpha comes back at the end, before `done`.
void playLeaving(const std::shared_ptr<View>& view, double duration, const std::function<void()>& move,
                 std::function<void()> done);
// When animations play: a view that goes fades out over `duration`, out of reach from the start;
// its alpha comes back at the end, before `done`.
void playFadingOut(const std::shared_ptr<View>& view, double duration, std::function<void()> done);
// A screen shown again while it is still leaving (pushed and popped at once) is in reach again now.
void comeBack(View& view);

// The popovers to draw, oldest first: those on screen, and those closed while animations play whose
// content is still fading out of its window (out of reach).
std::vector<std::shared_ptr<PopoverController>> drawnPopovers();

// The main screen's bounds for the device and orientation in force.
Rect screenRect();
std::shared_ptr<ViewController> shared(ViewController* controller);
// A screen as a log line names it.
std::string describe(const ViewController& c);

}  // namespace ui::screens
