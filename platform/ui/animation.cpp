#include "platform/ui/animation.h"

#include "platform/runtime/run_loop.h"

namespace ui {

namespace {
std::vector<AnimationRecord>& log() {
  static std::vector<AnimationRecord> records;
  return records;
}
}  // namespace

void animate(double duration, AnimationChanges changes, AnimationCompletion completion) {
  animate(duration, 0, std::move(changes), std::move(completion));
}

void animate(double duration, double delay, AnimationChanges changes, AnimationCompletion completion) {
  log().push_back({duration, delay});
  if (changes) changes();
  if (completion) {
    runtime::RunLoop::main().performSoon([completion = std::move(completion)] { completion(true); });
  }
}

const std::vector<AnimationRecord>& animationLog() { return log(); }
void clearAnimationLog() { log().clear(); }

}  // namespace ui
