#pragma once
// View animations.
//
// The changes always reach the views at once: whatever reads a view back (layout, hit testing, the
// next step of a screen) sees the end state, as on the device. What differs is what is drawn.
//
// - At once (the default): without a window the diary's clock moves only on command, so nothing is
//   played; the completion runs on the main run loop (finished = true) as soon as it turns, as it
//   would once the animation had played.
// - Played (the window, whose clock runs on real time): the views' drawn alpha and frame (its
//   position and size) move from what was drawn before the changes to the new values over the
//   duration, on the main run loop's clock, eased in and out (or as the curve given says); they wait
//   out a delay at the old values. The completion runs on the main run loop when the animation ends.
//   A change made with no animation to a property that is playing ends that property's playing at
//   once. Changes that move nothing drawn complete as they do at once.
//
// Each animation is recorded with its duration so that tests can tell what was animated how long.
// Main thread only.

#include <functional>
#include <vector>

#include "platform/graphics/geometry.h"

namespace ui {

class View;

using AnimationChanges = std::function<void()>;
using AnimationCompletion = std::function<void(bool finished)>;

void animate(double duration, AnimationChanges changes, AnimationCompletion completion = {});
void animate(double duration, double delay, AnimationChanges changes, AnimationCompletion completion = {});
// How an animation's way is spread over its time: slow at both ends, slowing down to the end, or
// speeding up from the start.
enum class AnimationCurve { kEaseInOut, kEaseOut, kEaseIn };
void animate(double duration, double delay, AnimationCurve curve, AnimationChanges changes,
             AnimationCompletion completion = {});

// How long the navigation bar and the status bar take to slide out of view or back into it.
inline constexpr double kBarSlideDuration = 0.2;

enum class AnimationMode { kAtOnce, kPlayed };
void setAnimationMode(AnimationMode mode);
AnimationMode animationMode();

// Whether an animation is still to play out (its completion has not run): a window draws frames
// while this holds.
bool animationsPlaying();
// A window drawing on real time plays an animation from its first frame, as the platform starts
// one when its changes reach the screen: real time that passes before the animation is first drawn
// (the main thread busy with the rest of a step, a picture being written) is held back from it,
// and its completion comes that much later. The window tells of such time (it passes it on to the
// clock) and of each frame drawn. Time that commands move the clock by is not held back. A
// negative span moves them on: the window draws an animation first a frame on from its start, as a
// display's first frame after the changes shows it (drawn at its start it would show nothing new).
void holdUndrawnAnimations(double seconds);
void animationsDrawn();
// A view as it is drawn now: its alpha and frame as the animations playing on it have them, else
// its own.
double presentedAlpha(const View& view);
graphics::Rect presentedFrame(const View& view);
// The share of an animation's way at `progress` (0 to 1) of its time on the curve.
double eased(AnimationCurve curve, double progress);
inline double easeInOut(double progress) { return eased(AnimationCurve::kEaseInOut, progress); }

struct AnimationRecord {
  double duration = 0;
  double delay = 0;
};
// The animations run since the last clear, oldest first.
const std::vector<AnimationRecord>& animationLog();
void clearAnimationLog();

namespace detail {
enum class AnimatedProperty { kAlpha, kFrame };
// Told by a view just before one of its animated properties takes a new value.
void viewWillChange(View& view, AnimatedProperty property);
}  // namespace detail

}  // namespace ui
