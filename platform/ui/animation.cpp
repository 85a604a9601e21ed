#include "platform/ui/animation.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/runtime/run_loop.h"
#include "platform/ui/view.h"

namespace ui {

namespace {

using detail::AnimatedProperty;

// One property of one view on its way.
struct Track {
  std::weak_ptr<View> view;
  const View* key = nullptr;
  AnimatedProperty property = AnimatedProperty::kAlpha;
  double fromAlpha = 0, toAlpha = 0;
  Rect fromFrame, toFrame;
  // False once a later change of the property took over.
  bool live = true;
};

struct Playing {
  double start = 0;  // on the main run loop's clock, seconds since the reference date (delay included)
  double duration = 0;
  // Drawn in a frame of the window already: no longer held back.
  bool drawn = false;
  AnimationCurve curve = AnimationCurve::kEaseInOut;
  std::vector<Track> tracks;
};

// What a view showed before the changes of the animation being set up touched it.
struct Before {
  std::weak_ptr<View> view;
  const View* key = nullptr;
  bool alpha = false, frame = false;
  double fromAlpha = 0;
  Rect fromFrame;
};

struct State {
  AnimationMode mode = AnimationMode::kAtOnce;
  std::vector<std::shared_ptr<Playing>> playing;
  // Set while an animation's changes run.
  std::vector<Before>* capturing = nullptr;
  // Played animations whose completion has not run yet.
  int unfinished = 0;
  std::vector<AnimationRecord> log;
};

State& state() {
  static State s;
  return s;
}

double now() { return runtime::RunLoop::main().clock().now().sinceReference; }

// The eased share of the way a playing animation has gone.
double shareNow(const Playing& playing, double at) {
  if (!(playing.duration > 0)) return 1;
  return eased(playing.curve, (at - playing.start) / playing.duration);
}

// Walks the live tracks of `property` on `view`, oldest first.
template <class Visit>
void forTracks(const View& view, AnimatedProperty property, Visit visit) {
  for (auto& playing : state().playing)
    for (auto& track : playing->tracks)
      if (track.live && track.key == &view && track.property == property && !track.view.expired())
        visit(*playing, track);
}

void endTracks(const View& view, AnimatedProperty property) {
  forTracks(view, property, [](Playing&, Track& track) { track.live = false; });
}

double between(double from, double to, double share) { return from + (to - from) * share; }

void completeSoon(AnimationCompletion completion) {
  if (!completion) return;
  runtime::RunLoop::main().performSoon([completion = std::move(completion)] { completion(true); });
}

// The tracks of what the changes moved, each from what was drawn before to the view's new value.
std::vector<Track> tracksOf(const std::vector<Before>& before) {
  std::vector<Track> tracks;
  for (const auto& b : before) {
    auto view = b.view.lock();
    if (!view) continue;
    if (b.alpha && view->alpha() != b.fromAlpha) {
      Track track;
      track.view = b.view;
      track.key = b.key;
      track.fromAlpha = b.fromAlpha;
      track.toAlpha = view->alpha();
      tracks.push_back(track);
    }
    if (b.frame && view->frame() != b.fromFrame) {
      Track track;
      track.view = b.view;
      track.key = b.key;
      track.property = AnimatedProperty::kFrame;
      track.fromFrame = b.fromFrame;
      track.toFrame = view->frame();
      tracks.push_back(track);
    }
  }
  return tracks;
}

// Ends the animation once its time is out: at its end as set up, or later when it was held back
// meanwhile.
void finishWhenDue(const std::shared_ptr<Playing>& playing, AnimationCompletion completion) {
  runtime::RunLoop::main().performAfter(
      std::max(0.0, playing->start + playing->duration - now()), [playing, completion = std::move(completion)] {
        // Held back meanwhile (a millionth of a second spares rounding a turn of its own).
        if (now() + 1e-6 < playing->start + playing->duration) {
          finishWhenDue(playing, std::move(completion));
          return;
        }
        State& s = state();
        s.playing.erase(std::remove(s.playing.begin(), s.playing.end(), playing), s.playing.end());
        --s.unfinished;
        if (completion) completion(true);
      });
}

void play(double duration, double delay, AnimationCurve curve, const AnimationChanges& changes,
          AnimationCompletion completion) {
  State& s = state();
  std::vector<Before> before;
  std::vector<Before>* outer = s.capturing;
  s.capturing = &before;
  changes();
  s.capturing = outer;
  auto tracks = tracksOf(before);
  if (tracks.empty()) {
    completeSoon(std::move(completion));
    return;
  }
  // A property already on its way goes on from where it is drawn now.
  for (const auto& track : tracks) endTracks(*track.key, track.property);
  auto playing = std::make_shared<Playing>();
  playing->start = now() + std::max(0.0, delay);
  playing->duration = duration;
  playing->curve = curve;
  playing->tracks = std::move(tracks);
  s.playing.push_back(playing);
  ++s.unfinished;
  finishWhenDue(playing, std::move(completion));
}

}  // namespace

void animate(double duration, AnimationChanges changes, AnimationCompletion completion) {
  animate(duration, 0, std::move(changes), std::move(completion));
}

void animate(double duration, double delay, AnimationChanges changes, AnimationCompletion completion) {
  animate(duration, delay, AnimationCurve::kEaseInOut, std::move(changes), std::move(completion));
}

void animate(double duration, double delay, AnimationCurve curve, AnimationChanges changes,
             AnimationCompletion completion) {
  state().log.push_back({duration, delay});
  if (!changes) {
    completeSoon(std::move(completion));
    return;
  }
  if (state().mode == AnimationMode::kPlayed && (duration > 0 || delay > 0)) {
    play(std::max(0.0, duration), delay, curve, changes, std::move(completion));
    return;
  }
  changes();
  completeSoon(std::move(completion));
}

void setAnimationMode(AnimationMode mode) { state().mode = mode; }
AnimationMode animationMode() { return state().mode; }

bool animationsPlaying() { return state().unfinished > 0; }

void holdUndrawnAnimations(double seconds) {
  if (!std::isfinite(seconds)) return;
  for (auto& playing : state().playing)
    if (!playing->drawn) playing->start += seconds;
}

void animationsDrawn() {
  for (auto& playing : state().playing) playing->drawn = true;
}

double presentedAlpha(const View& view) {
  double alpha = view.alpha();
  if (state().playing.empty()) return alpha;
  const double at = now();
  forTracks(view, AnimatedProperty::kAlpha, [&](const Playing& playing, const Track& track) {
    alpha = between(track.fromAlpha, track.toAlpha, shareNow(playing, at));
  });
  return alpha;
}

graphics::Rect presentedFrame(const View& view) {
  Rect frame = view.frame();
  if (state().playing.empty()) return frame;
  const double at = now();
  forTracks(view, AnimatedProperty::kFrame, [&](const Playing& playing, const Track& track) {
    const double share = shareNow(playing, at);
    const Rect& a = track.fromFrame;
    const Rect& b = track.toFrame;
    frame = Rect(between(a.x(), b.x(), share), between(a.y(), b.y(), share), between(a.width(), b.width(), share),
                 between(a.height(), b.height(), share));
  });
  return frame;
}

double eased(AnimationCurve curve, double progress) {
  if (!(progress > 0)) return 0;
  if (progress >= 1) return 1;
  // The platform's timing curves: cubic Béziers from (0, 0) to (1, 1) with the control points
  // (0.42, 0), (0.58, 1) for ease in and out, (0, 0), (0.58, 1) for ease out and (0.42, 0), (1, 1)
  // for ease in, their time axis solved for `progress` by halving (the curves' x rises
  // monotonically).
  const double x1 = curve == AnimationCurve::kEaseOut ? 0 : 0.42;
  const double x2 = curve == AnimationCurve::kEaseIn ? 1 : 0.58;
  const auto bezier = [](double p1, double p2, double t) {
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
  };
  double low = 0, high = 1;
  for (int i = 0; i < 40; ++i) {
    const double mid = (low + high) / 2;
    (bezier(x1, x2, mid) < progress ? low : high) = mid;
  }
  return bezier(0, 1, (low + high) / 2);
}

const std::vector<AnimationRecord>& animationLog() { return state().log; }
void clearAnimationLog() { state().log.clear(); }

namespace detail {

void viewWillChange(View& view, AnimatedProperty property) {
  State& s = state();
  if (!s.capturing) {
    if (!s.playing.empty()) endTracks(view, property);
    return;
  }
  auto found = std::find_if(s.capturing->begin(), s.capturing->end(), [&](const Before& b) { return b.key == &view; });
  if (found == s.capturing->end()) {
    // A view no shared owner holds cannot be followed while it plays: it changes at once.
    std::weak_ptr<View> weak = view.weak_from_this();
    if (weak.expired()) return;
    Before before;
    before.view = weak;
    before.key = &view;
    found = s.capturing->insert(s.capturing->end(), before);
  }
  if (property == AnimatedProperty::kAlpha && !found->alpha) {
    found->alpha = true;
    found->fromAlpha = presentedAlpha(view);
  } else if (property == AnimatedProperty::kFrame && !found->frame) {
    found->frame = true;
    found->fromFrame = presentedFrame(view);
  }
}

}  // namespace detail

}  // namespace ui
