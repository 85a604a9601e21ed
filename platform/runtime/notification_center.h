#pragma once
// Named notifications between parts that do not know each other ("updateDataBase",
// "cloudLinkedEvent", "TallyNetworkStatusChangedNotification"), with an optional sender and user info.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/value.h"

namespace runtime {

namespace detail {
struct CenterCore;
}

struct Notification {
  std::string name;
  // The sender, compared by identity only; never dereferenced. May be null.
  const void* object = nullptr;
  foundation::Dictionary userInfo;
};

// One observation. It ends when the token is destroyed or remove() is called, so an object that keeps
// its tokens as members stops observing when it goes. Movable, not copyable.
class ObserverToken {
 public:
  ObserverToken() = default;
  ~ObserverToken() { remove(); }
  ObserverToken(ObserverToken&& other) noexcept;
  ObserverToken& operator=(ObserverToken&& other) noexcept;
  ObserverToken(const ObserverToken&) = delete;
  ObserverToken& operator=(const ObserverToken&) = delete;

  // Ends the observation. When the callback is running on another thread at that moment, waits for
  // it to return, so the observer may be destroyed right after. Safe from inside any callback,
  // including the observation's own.
  void remove();
  // True until the observation ends (or its center is gone).
  bool isActive() const;

 private:
  friend class NotificationCenter;
  ObserverToken(std::weak_ptr<detail::CenterCore> center, std::uint64_t id)
      : center_(std::move(center)), id_(id) {}

  std::weak_ptr<detail::CenterCore> center_;
  std::uint64_t id_ = 0;
};

class NotificationCenter {
 public:
  using Callback = std::function<void(const Notification&)>;

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process's center; it lives as long as the process.
  static NotificationCenter& defaultCenter();

  // Observes notifications named `name` (empty: every name) sent by `object` (null: any sender).
  // Dropping the returned token ends the observation at once.
  [[nodiscard]] ObserverToken addObserver(std::string name, const void* object, Callback callback);
  // The same as token.remove().
  void removeObserver(ObserverToken& token);

  // Delivers the notification synchronously on the calling thread to every observation that matches
  // and exists when the post starts, in the order they were added. Observations removed during the
  // post are not called after their removal; observations added during the post see the next one.
  // Callbacks may post and may add or remove observations.
  void post(const Notification& notification);
  void post(std::string name, const void* object = nullptr, foundation::Dictionary userInfo = {});

  // How many observations are active, for diagnostics and tests.
  size_t observerCount() const;

 private:
  std::shared_ptr<detail::CenterCore> core_;
};

}  // namespace runtime
