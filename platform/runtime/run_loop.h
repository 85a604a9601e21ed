#pragma once
// The main run loop: work posted to run soon and timers, run on one thread on an injectable clock.
//
// The application runs RunLoop::main() on its main thread; every screen, timer tick and delegate
// callback runs there. Tests install a loop on a ManualClock as the main one (ScopedMainRunLoop) and
// drive it with runUntilIdle() and advance(seconds) instead of waiting.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/foundation/clock.h"

namespace runtime {

namespace detail {
struct TimerState;
struct LoopLife;
}  // namespace detail

class LoopHandle;

// A handle of a scheduled timer; copies refer to the same timer. Dropping every handle does not stop
// the timer: the loop keeps it until it is invalidated or, for a one-shot timer, until it has fired.
// An object whose timer callback refers to it must invalidate the timer before it goes away.
class Timer {
 public:
  Timer() = default;

  // Stops the timer for good; it does not fire again, even when it is due right now or is running.
  // Releases the callback. Safe from any thread, and from the timer's own callback.
  void invalidate() const;
  // True while the timer will still fire: not invalidated, and a one-shot timer that has not fired.
  bool isValid() const;
  bool repeats() const;
  // Seconds between fires of a repeating timer; the delay a one-shot timer was scheduled with.
  double interval() const;
  // When the timer fires next (for a fired one-shot timer, when it fired).
  foundation::Date fireDate() const;

  // False for a default-constructed handle that names no timer.
  explicit operator bool() const { return state_ != nullptr; }
  friend bool operator==(const Timer& a, const Timer& b) { return a.state_ == b.state_; }

 private:
  friend class RunLoop;
  explicit Timer(std::shared_ptr<detail::TimerState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::TimerState> state_;
};

class RunLoop {
 public:
  using Work = std::function<void()>;
  using TimerCallback = std::function<void(Timer&)>;

  // The loop runs on the thread that constructs it until another thread runs it.
  explicit RunLoop(foundation::Clock& clock = foundation::Clock::system());
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The process's main loop: the one a ScopedMainRunLoop installed, else a loop on the system clock
  // that belongs to the process's initial thread.
  static RunLoop& main();

  foundation::Clock& clock() const { return clock_; }
  // True on the thread that runs this loop.
  bool isCurrent() const;

  // Queues work to run on the loop's thread, after work queued before it. Safe from any thread
  // while the loop lives; a thread that may still post after the loop has gone posts through a
  // handle() instead.
  void performSoon(Work work);

  // A handle for posting to this loop that does not keep the loop alive: once the loop is
  // destroyed, posts through it are dropped.
  LoopHandle handle() const;
  // A handle of the loop that is the main loop now (see main()). Unlike main().performSoon(...),
  // posting through it cannot race a test's loop going away.
  static LoopHandle mainHandle();

  // Schedules a timer that fires `interval` seconds from now on the loop's clock, and then every
  // `interval` seconds when it repeats. A repeating timer keeps its schedule: each fire is planned
  // from the previous planned time, not from when the callback ran; when the loop was too busy to
  // fire it in time it fires once and then resumes at the next planned time still ahead. A repeating
  // interval below 0.1 ms is taken as 0.1 ms. Safe from any thread.
  Timer scheduleTimer(double interval, bool repeats, TimerCallback callback);
  // A one-shot timer that runs `work` after `delay` seconds.
  Timer performAfter(double delay, Work work);

  // Runs everything that is due now: queued work, including work queued while running, and the
  // timers whose time has come, in time order (ties in the order they were scheduled). Returns at
  // once when nothing is due; never waits.
  void runUntilIdle();

  // Moves the loop's ManualClock forward by `seconds`, firing every timer that comes due on the way
  // in time order, each with the clock set to its own fire time, and the work queued by each before
  // the next fires. The clock ends `seconds` later. Calling this on a loop whose clock is not a
  // ManualClock is a programming error and stops the process.
  void advance(double seconds);

  // For real-clock use in the application: runs work and timers as they come due for `seconds`. On
  // a ManualClock this is advance(seconds): nothing is waited for.
  void runFor(double seconds);
  // Runs work and timers as they come due until `done` returns true (checked before each piece of
  // work and whenever the loop wakes) or `timeoutSeconds` of real time have passed; returns done().
  // Work posted from other threads wakes the loop. On a ManualClock the clock is never moved: the
  // loop runs what is due and waits only for work from other threads.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

  // How many pieces of queued work and timer fires the loop has run so far: a caller that shows
  // what the work changes (a window) compares it before and after running the loop, and need not
  // draw again when nothing ran. Read on the loop's thread.
  std::uint64_t piecesRun() const { return piecesRun_; }

 private:
  friend class ScopedMainRunLoop;

  struct Entry {
    foundation::Date due;
    std::uint64_t order;
    std::shared_ptr<detail::TimerState> timer;
    bool operator<(const Entry& other) const {
      return due < other.due || (due == other.due && order < other.order);
    }
  };

  void claimThread();
  // Runs one piece of queued work, or fires the earliest timer due at `now`; false when none.
  bool runOne(foundation::Date now);
  // The earliest valid timer's due time; drops invalidated timers on the way. Needs mutex_.
  const Entry* firstValidTimerLocked();

  foundation::Clock& clock_;
  foundation::ManualClock* manual_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> posted_;
  std::set<Entry> timers_;
  std::uint64_t nextOrder_ = 0;
  std::uint64_t piecesRun_ = 0;
  std::thread::id owner_;
  bool ownedByInitialThread_ = false;
  // Outlives the loop in the handles given out; marked dead first thing in the destructor.
  std::shared_ptr<detail::LoopLife> life_;
};

// Posts to a loop from any thread without keeping it alive. A post while the loop lives queues the
// work as RunLoop::performSoon does; a post after the loop's destructor has begun drops the work
// quietly (it is released on the posting thread). A post never overlaps the loop's destruction.
// Copies refer to the same loop; a default handle names none and drops every post.
class LoopHandle {
 public:
  LoopHandle() = default;

  // True when the work was queued; false when the loop is gone and the work was dropped.
  bool performSoon(RunLoop::Work work) const;
  // True while the loop lives; it may be gone right after.
  bool alive() const;
  // True on the thread that runs the loop, while it lives.
  bool isCurrent() const;

 private:
  friend class RunLoop;
  explicit LoopHandle(std::shared_ptr<detail::LoopLife> life) : life_(std::move(life)) {}
  std::shared_ptr<detail::LoopLife> life_;
};

// Makes `loop` the process's main loop while it lives, then restores the previous one. For tests
// and for the application's start-up; install it before other threads look at RunLoop::main().
class ScopedMainRunLoop {
 public:
  explicit ScopedMainRunLoop(RunLoop& loop);
  ~ScopedMainRunLoop();
  ScopedMainRunLoop(const ScopedMainRunLoop&) = delete;
  ScopedMainRunLoop& operator=(const ScopedMainRunLoop&) = delete;

 private:
  RunLoop* previous_;
  std::shared_ptr<detail::LoopLife> previousLife_;
};

}  // namespace runtime
