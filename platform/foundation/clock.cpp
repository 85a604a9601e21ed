#include "platform/foundation/clock.h"

#include <chrono>

namespace foundation {

Clock& Clock::system() {
  static SystemClock clock;
  return clock;
}

Date SystemClock::now() const {
  using namespace std::chrono;
  const auto since = duration<double>(system_clock::now().time_since_epoch()).count();
  return Date::fromUnix(since);
}

void ManualClock::advance(double seconds) {
  double current = now_.load();
  while (!now_.compare_exchange_weak(current, current + seconds)) {
  }
}

}  // namespace foundation
