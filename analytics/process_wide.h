#pragma once
// The slot of one of the SDK's process-wide objects (settings, counters, cache, heartbeat): made on
// first use under the slot's lock, swapped or dropped whole. An object that goes is destroyed after
// the lock is let go, so its destructor may use other slots.

#include <memory>
#include <mutex>
#include <utility>

namespace analytics {

template <class T>
class ProcessWide {
 public:
  // The object; nullptr when none was made.
  std::shared_ptr<T> get() const {
    std::lock_guard lock(mutex_);
    return object_;
  }
  // The object, made by `make` the first time.
  template <class Make>
  std::shared_ptr<T> getOrMake(Make&& make) {
    std::lock_guard lock(mutex_);
    if (!object_) object_ = make();
    return object_;
  }
  // Puts `object` in place (nullptr empties the slot).
  void reset(std::shared_ptr<T> object = nullptr) {
    std::shared_ptr<T> previous;
    {
      std::lock_guard lock(mutex_);
      previous = std::exchange(object_, std::move(object));
    }
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> object_;
};

}  // namespace analytics
