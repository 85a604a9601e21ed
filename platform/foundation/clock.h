#pragma once
// Where "now" comes from. Code takes a Clock& so tests can run on a ManualClock and never sleep.

#include <atomic>

#include "platform/foundation/date.h"

namespace foundation {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;

  // The process-wide wall clock.
  static Clock& system();
};

class SystemClock final : public Clock {
 public:
  Date now() const override;
};

// A clock that moves only when told to. Safe to read from any thread.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(Date start = Date{}) : now_(start.sinceReference) {}
  Date now() const override { return Date{now_.load()}; }
  void set(Date date) { now_.store(date.sinceReference); }
  void advance(double seconds);

 private:
  std::atomic<double> now_;
};

}  // namespace foundation
