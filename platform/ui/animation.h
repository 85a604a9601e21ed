#pragma once
// View animations, headless: the changes apply at once and the completion runs on the main run loop
// (with finished = true), as it would once the animation had played. Each animation is recorded
// with its duration so that tests can tell what was animated how long.

#include <functional>
#include <vector>

namespace ui {

using AnimationChanges = std::function<void()>;
using AnimationCompletion = std::function<void(bool finished)>;

void animate(double duration, AnimationChanges changes, AnimationCompletion completion = {});
void animate(double duration, double delay, AnimationChanges changes, AnimationCompletion completion = {});

struct AnimationRecord {
  double duration = 0;
  double delay = 0;
};
// The animations run since the last clear, oldest first.
const std::vector<AnimationRecord>& animationLog();
void clearAnimationLog();

}  // namespace ui
