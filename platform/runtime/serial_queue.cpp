#include "platform/runtime/serial_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "platform/foundation/log.h"

namespace runtime {

namespace {
// Work queued and not yet done on every queue of the process (delayed work counts once it is due).
std::atomic<std::size_t> inFlight{0};
}  // namespace

namespace detail {

struct QueueCore {
  QueueCore(std::string label, foundation::Clock& clock)
      : label(std::move(label)),
        clock(clock),
        manual(dynamic_cast<foundation::ManualClock*>(&clock) != nullptr) {}

  // Moves delayed work whose time has come to the end of the ready queue, earliest first. Needs mutex.
  void promoteDueLocked() {
    if (delayed.empty()) return;
    const foundation::Date now = clock.now();
    while (!delayed.empty() && delayed.begin()->first.first <= now) {
      ready.push_back(std::move(delayed.begin()->second));
      delayed.erase(delayed.begin());
      ++inFlight;
    }
  }

  const std::string label;
  foundation::Clock& clock;
  const bool manual;

  std::mutex mutex;
  std::condition_variable wake;  // the worker waits here for work
  std::condition_variable idle;  // drain waits here for the worker to finish a piece
  std::deque<SerialQueue::Work> ready;
  std::map<std::pair<foundation::Date, std::uint64_t>, SerialQueue::Work> delayed;
  std::uint64_t nextOrder = 0;
  bool busy = false;
  bool stopping = false;
};

}  // namespace detail

namespace {

thread_local const detail::QueueCore* currentQueue = nullptr;

void runLogged(const detail::QueueCore& core, const SerialQueue::Work& work) {
  try {
    work();
  } catch (const std::exception& e) {
    foundation::log("SerialQueue " + core.label + ": work ended by an exception: " + e.what());
  } catch (...) {
    foundation::log("SerialQueue " + core.label + ": work ended by an unknown exception");
  }
}

void workerLoop(std::shared_ptr<detail::QueueCore> core) {
  currentQueue = core.get();
  std::unique_lock lock(core->mutex);
  while (true) {
    core->promoteDueLocked();
    if (!core->ready.empty()) {
      SerialQueue::Work work = std::move(core->ready.front());
      core->ready.pop_front();
      core->busy = true;
      lock.unlock();
      runLogged(*core, work);
      work = nullptr;  // its captures go before the queue counts as idle
      --inFlight;
      lock.lock();
      core->busy = false;
      core->idle.notify_all();
      continue;
    }
    if (core->stopping) break;
    if (!core->delayed.empty() && !core->manual) {
      const double wait = std::max(0.0, core->delayed.begin()->first.first - core->clock.now());
      core->wake.wait_for(lock, std::chrono::duration<double>(wait));
    } else {
      core->wake.wait(lock);
    }
  }
  core->delayed.clear();
  core->idle.notify_all();
  currentQueue = nullptr;
}

}  // namespace

SerialQueue::SerialQueue(std::string label, foundation::Clock& clock)
    : core_(std::make_shared<detail::QueueCore>(std::move(label), clock)), worker_(workerLoop, core_) {}

SerialQueue::~SerialQueue() {
  std::map<std::pair<foundation::Date, std::uint64_t>, Work> dropped;
  {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
    dropped.swap(core_->delayed);
  }
  core_->wake.notify_all();
  if (isCurrent()) {
    worker_.detach();  // we are the worker: it finishes the queue and ends after this work returns
  } else {
    worker_.join();
  }
}

const std::string& SerialQueue::label() const { return core_->label; }

bool SerialQueue::isCurrent() const { return currentQueue == core_.get(); }

void SerialQueue::async(Work work) {
  if (!work) return;
  {
    std::lock_guard lock(core_->mutex);
    core_->promoteDueLocked();  // delayed work that is already due goes first
    core_->ready.push_back(std::move(work));
    ++inFlight;
  }
  core_->wake.notify_all();
}

std::size_t SerialQueue::workInFlight() { return inFlight.load(); }

void SerialQueue::asyncAfter(double delay, Work work) {
  if (!work) return;
  if (!(delay > 0) || !std::isfinite(delay)) {
    async(std::move(work));
    return;
  }
  {
    std::lock_guard lock(core_->mutex);
    const foundation::Date due = core_->clock.now() + delay;
    core_->delayed.emplace(std::make_pair(due, core_->nextOrder++), std::move(work));
  }
  core_->wake.notify_all();
}

void SerialQueue::syncWork(const Work& work) {
  if (isCurrent()) {
    work();
    return;
  }
  struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::exception_ptr error;
  } waiter;
  async([&work, &waiter] {
    std::exception_ptr error;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(waiter.mutex);
    waiter.error = error;
    waiter.done = true;
    waiter.cv.notify_all();
  });
  std::unique_lock lock(waiter.mutex);
  waiter.cv.wait(lock, [&waiter] { return waiter.done; });
  if (waiter.error) std::rethrow_exception(waiter.error);
}

void SerialQueue::drain() {
  if (isCurrent()) return;
  std::unique_lock lock(core_->mutex);
  core_->promoteDueLocked();
  core_->wake.notify_all();
  core_->idle.wait(lock, [this] { return core_->ready.empty() && !core_->busy; });
}

}  // namespace runtime
