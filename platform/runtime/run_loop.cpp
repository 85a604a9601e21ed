#include "platform/runtime/run_loop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/foundation/log.h"

namespace runtime {

namespace detail {

struct TimerState {
  TimerState(double interval, bool repeats, RunLoop::TimerCallback callback)
      : interval(interval), repeats(repeats), callback(std::move(callback)) {}

  const double interval;
  const bool repeats;

  std::atomic<bool> valid{true};
  mutable std::mutex mutex;  // guards callback and due
  RunLoop::TimerCallback callback;
  foundation::Date due;
};

struct LoopLife {
  explicit LoopLife(RunLoop* loop) : loop(loop) {}

  std::mutex mutex;  // held across a post, so that the loop cannot go in the middle of one
  RunLoop* loop;     // null once the loop's destructor has begun
};

}  // namespace detail

namespace {

constexpr double kMinimumRepeatInterval = 0.0001;

std::atomic<RunLoop*> installedMain{nullptr};
// Guards installing a main loop together with its life, so that mainHandle() sees the two agree.
std::mutex installMutex;
// Never destroyed: worker threads may still ask for the main loop while the process exits.
std::shared_ptr<detail::LoopLife>& installedLife() {
  static auto* const life = new std::shared_ptr<detail::LoopLife>();
  return *life;
}

bool onInitialThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

}  // namespace

// --- Timer ---------------------------------------------------------------------------------------

void Timer::invalidate() const {
  if (!state_) return;
  state_->valid.store(false);
  RunLoop::TimerCallback released;
  {
    std::lock_guard lock(state_->mutex);
    released = std::move(state_->callback);
    state_->callback = nullptr;
  }
  // `released` goes here, outside the lock: its captures may own objects whose destructors
  // touch this timer again.
}

bool Timer::isValid() const { return state_ && state_->valid.load(); }

bool Timer::repeats() const { return state_ && state_->repeats; }

double Timer::interval() const { return state_ ? state_->interval : 0.0; }

foundation::Date Timer::fireDate() const {
  if (!state_) return foundation::Date{};
  std::lock_guard lock(state_->mutex);
  return state_->due;
}

// --- RunLoop -------------------------------------------------------------------------------------

RunLoop::RunLoop(foundation::Clock& clock)
    : clock_(clock),
      manual_(dynamic_cast<foundation::ManualClock*>(&clock)),
      owner_(std::this_thread::get_id()),
      life_(std::make_shared<detail::LoopLife>(this)) {}

RunLoop::~RunLoop() {
  // From here on posts through handles are dropped; one under way finishes first.
  {
    std::lock_guard lock(life_->mutex);
    life_->loop = nullptr;
  }
  // A loop that goes while still installed as the main one stops being it at once, rather than
  // leaving main() to hand out a loop that is gone.
  {
    std::lock_guard lock(installMutex);
    RunLoop* self = this;
    if (installedMain.compare_exchange_strong(self, nullptr)) installedLife().reset();
  }
  // Timer handles may outlive the loop: none of them may still read as valid, and the callbacks
  // (with whatever they captured) go with the loop.
  std::set<Entry> timers;
  {
    std::lock_guard lock(mutex_);
    timers.swap(timers_);
  }
  for (const Entry& entry : timers) Timer(entry.timer).invalidate();
}

RunLoop& RunLoop::main() {
  if (RunLoop* loop = installedMain.load()) return *loop;
  // Never destroyed: worker threads may still post to it while the process exits.
  static RunLoop* const processLoop = [] {
    auto* loop = new RunLoop(foundation::Clock::system());
    // Made lazily, maybe from a worker thread: it belongs to the process's initial thread until
    // some thread runs it.
    loop->owner_ = std::thread::id{};
    loop->ownedByInitialThread_ = true;
    return loop;
  }();
  return *processLoop;
}

LoopHandle RunLoop::handle() const { return LoopHandle(life_); }

LoopHandle RunLoop::mainHandle() {
  // Under the lock no loop can be installed or uninstall itself, so main() names a loop that lives.
  std::lock_guard lock(installMutex);
  if (installedLife()) return LoopHandle(installedLife());
  return main().handle();
}

bool RunLoop::isCurrent() const {
  std::lock_guard lock(mutex_);
  if (owner_ == std::thread::id{}) return ownedByInitialThread_ && onInitialThread();
  return owner_ == std::this_thread::get_id();
}

void RunLoop::claimThread() {
  std::lock_guard lock(mutex_);
  owner_ = std::this_thread::get_id();
}

void RunLoop::performSoon(Work work) {
  if (!work) return;
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(work));
  }
  wake_.notify_all();
}

Timer RunLoop::scheduleTimer(double interval, bool repeats, TimerCallback callback) {
  if (!std::isfinite(interval) || interval < 0) interval = 0;
  if (repeats) interval = std::max(interval, kMinimumRepeatInterval);
  auto state = std::make_shared<detail::TimerState>(interval, repeats, std::move(callback));
  const foundation::Date due = clock_.now() + interval;
  state->due = due;
  {
    std::lock_guard lock(mutex_);
    timers_.insert(Entry{due, nextOrder_++, state});
  }
  wake_.notify_all();
  return Timer(std::move(state));
}

Timer RunLoop::performAfter(double delay, Work work) {
  return scheduleTimer(delay, false, [work = std::move(work)](Timer&) {
    if (work) work();
  });
}

const RunLoop::Entry* RunLoop::firstValidTimerLocked() {
  while (!timers_.empty()) {
    auto first = timers_.begin();
    if (first->timer->valid.load()) return &*first;
    timers_.erase(first);
  }
  return nullptr;
}

bool RunLoop::runOne(foundation::Date now) {
  std::unique_lock lock(mutex_);
  if (!posted_.empty()) {
    Work work = std::move(posted_.front());
    posted_.pop_front();
    lock.unlock();
    work();
    ++piecesRun_;
    return true;
  }

  const Entry* first = firstValidTimerLocked();
  if (!first || first->due > now) return false;
  Entry entry = *first;
  timers_.erase(timers_.begin());
  detail::TimerState& state = *entry.timer;
  foundation::Date nextDue = entry.due;
  if (state.repeats) {
    // Keep the schedule: the next fire is planned from this planned time. Fires missed while the
    // loop was busy are skipped, not caught up one after another.
    double next = entry.due.sinceReference + state.interval;
    if (next <= now.sinceReference) {
      const double missed = std::floor((now.sinceReference - entry.due.sinceReference) / state.interval);
      next = entry.due.sinceReference + (missed + 1) * state.interval;
      if (next <= now.sinceReference) next = now.sinceReference + state.interval;
    }
    nextDue = foundation::Date{next};
    timers_.insert(Entry{nextDue, entry.order, entry.timer});
  }
  lock.unlock();

  TimerCallback callback;
  {
    std::lock_guard stateLock(state.mutex);
    if (!state.valid.load()) return true;  // invalidated from another thread a moment ago
    callback = state.callback;             // a copy: invalidate() may release the original meanwhile
    state.due = nextDue;
  }

  Timer handle(entry.timer);
  if (callback) callback(handle);
  ++piecesRun_;

  if (!state.repeats) {
    // A one-shot timer is spent once it has fired.
    state.valid.store(false);
    TimerCallback released;
    std::lock_guard stateLock(state.mutex);
    released = std::move(state.callback);
    state.callback = nullptr;
  }
  return true;
}

void RunLoop::runUntilIdle() {
  claimThread();
  while (runOne(clock_.now())) {
  }
}

void RunLoop::advance(double seconds) {
  if (!manual_) foundation::fatal("RunLoop::advance needs a loop on a ManualClock");
  claimThread();
  if (!(seconds > 0)) seconds = 0;
  const foundation::Date target = manual_->now() + seconds;
  runUntilIdle();
  while (true) {
    foundation::Date due;
    {
      std::lock_guard lock(mutex_);
      const Entry* first = firstValidTimerLocked();
      if (!first || first->due > target) break;
      due = first->due;
    }
    if (due > manual_->now()) manual_->set(due);
    runUntilIdle();
  }
  if (target > manual_->now()) manual_->set(target);
  runUntilIdle();
}

void RunLoop::runFor(double seconds) {
  if (manual_) {
    advance(seconds);
    return;
  }
  runUntil([] { return false; }, seconds);
}

bool RunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  using Steady = std::chrono::steady_clock;
  claimThread();
  if (!std::isfinite(timeoutSeconds) || timeoutSeconds > 1e9) timeoutSeconds = 1e9;
  const Steady::time_point deadline =
      Steady::now() + std::chrono::duration_cast<Steady::duration>(
                          std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
  while (true) {
    if (done()) return true;
    if (Steady::now() >= deadline) return false;
    if (runOne(clock_.now())) continue;

    std::unique_lock lock(mutex_);
    if (!posted_.empty()) continue;
    Steady::time_point until = deadline;
    if (!manual_) {
      if (const Entry* first = firstValidTimerLocked()) {
        const double wait = std::max(0.0, first->due - clock_.now());
        const auto timerTime =
            Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(wait));
        until = std::min(until, timerTime);
      }
    }
    // Woken by work or timers from other threads; a timer scheduled on this thread is seen on the
    // next pass anyway since scheduling notifies before we wait again.
    wake_.wait_until(lock, until);
  }
}

// --- LoopHandle ----------------------------------------------------------------------------------

bool LoopHandle::performSoon(RunLoop::Work work) const {
  if (!life_ || !work) return false;
  {
    std::lock_guard lock(life_->mutex);
    if (life_->loop) {
      life_->loop->performSoon(std::move(work));
      return true;
    }
  }
  // Dropped: `work` goes with this call, outside the lock, since its captures may post again.
  return false;
}

bool LoopHandle::alive() const {
  if (!life_) return false;
  std::lock_guard lock(life_->mutex);
  return life_->loop != nullptr;
}

bool LoopHandle::isCurrent() const {
  if (!life_) return false;
  std::lock_guard lock(life_->mutex);
  return life_->loop && life_->loop->isCurrent();
}

// --- ScopedMainRunLoop ---------------------------------------------------------------------------

ScopedMainRunLoop::ScopedMainRunLoop(RunLoop& loop) {
  std::lock_guard lock(installMutex);
  previous_ = installedMain.exchange(&loop);
  previousLife_ = std::exchange(installedLife(), loop.life_);
}

ScopedMainRunLoop::~ScopedMainRunLoop() {
  std::lock_guard lock(installMutex);
  // A previous loop that has gone meanwhile is not brought back.
  if (previousLife_) {
    std::lock_guard lifeLock(previousLife_->mutex);
    if (!previousLife_->loop) {
      previous_ = nullptr;
      previousLife_.reset();
    }
  }
  installedMain.store(previous_);
  installedLife() = std::move(previousLife_);
}

}  // namespace runtime
