#pragma once
// A named serial queue ("com.Tally.Analytics.Session"): work runs one piece at a time, in the order
// it was queued, on the queue's own worker thread.

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/foundation/clock.h"

namespace runtime {

namespace detail {
struct QueueCore;
}

class SerialQueue {
 public:
  using Work = std::function<void()>;

  // `clock` times asyncAfter and must outlive the queue.
  explicit SerialQueue(std::string label, foundation::Clock& clock = foundation::Clock::system());
  // Finishes the work already queued (delayed work not yet due is dropped), then stops the worker.
  // Work on the queue may destroy its own queue: the worker then finishes on its own.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const;

  // Queues work and returns at once. An exception that escapes the work is logged and dropped, so
  // one failing piece does not take the queue (or the process) down.
  void async(Work work);

  // Queues work to run once `delay` seconds have passed on the queue's clock. On a ManualClock the
  // queue notices the clock only when it is woken: by the next async, sync or drain.
  void asyncAfter(double delay, Work work);

  // Runs work on the queue and waits for it: it runs after everything queued before it, and its
  // result (or exception) comes back to the caller. Called from the queue itself, it runs the work
  // at once instead of waiting for itself.
  template <class F>
  std::invoke_result_t<F&> sync(F&& work) {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
      syncWork([&work] { work(); });
    } else {
      std::optional<R> result;
      syncWork([&work, &result] { result.emplace(work()); });
      return std::move(*result);
    }
  }

  // How many pieces of work are queued or running on all the process's queues now; delayed work
  // counts from when it is due. For a caller that waits until background work is done.
  static std::size_t workInFlight();

  // True on the queue's worker thread, while it runs the queue's work.
  bool isCurrent() const;

  // Waits until the queue is empty: every piece queued so far has finished, and so has delayed work
  // whose time has come on the queue's clock. Later delayed work stays queued. From the queue's own
  // thread it returns at once (the caller's own work is still running).
  void drain();

 private:
  void syncWork(const Work& work);

  std::shared_ptr<detail::QueueCore> core_;
  std::thread worker_;
};

}  // namespace runtime
