#include "platform/runtime/notification_center.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace runtime {

namespace detail {

struct Registration {
  Registration(std::uint64_t id, std::string name, const void* object, NotificationCenter::Callback callback)
      : id(id), name(std::move(name)), object(object), callback(std::move(callback)) {}

  bool matches(const Notification& n) const {
    return (name.empty() || name == n.name) && (object == nullptr || object == n.object);
  }

  const std::uint64_t id;
  const std::string name;
  const void* const object;
  const NotificationCenter::Callback callback;

  // Guarded by CenterCore::mutex.
  bool active = true;
  std::vector<std::thread::id> runningOn;  // threads inside the callback right now
};

struct CenterCore {
  void remove(std::uint64_t id) {
    std::unique_lock lock(mutex);
    auto it =
        std::find_if(registrations.begin(), registrations.end(), [id](const auto& r) { return r->id == id; });
    if (it == registrations.end()) return;
    std::shared_ptr<Registration> reg = *it;
    registrations.erase(it);
    reg->active = false;
    // Wait for calls on other threads, so the observer can go right after; a call on this thread
    // is the caller itself (removing from inside the callback) and is not waited for.
    const auto self = std::this_thread::get_id();
    finished.wait(lock, [&] {
      return std::all_of(reg->runningOn.begin(), reg->runningOn.end(), [&](auto id) { return id == self; });
    });
  }

  mutable std::mutex mutex;
  std::condition_variable finished;
  std::vector<std::shared_ptr<Registration>> registrations;
  std::uint64_t nextId = 1;
};

}  // namespace detail

// --- ObserverToken -------------------------------------------------------------------------------

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : center_(std::move(other.center_)), id_(std::exchange(other.id_, 0)) {
  other.center_.reset();
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
  if (this != &other) {
    remove();
    center_ = std::move(other.center_);
    other.center_.reset();
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void ObserverToken::remove() {
  const std::uint64_t id = std::exchange(id_, 0);
  std::shared_ptr<detail::CenterCore> center = center_.lock();
  center_.reset();
  if (center && id != 0) center->remove(id);
}

bool ObserverToken::isActive() const {
  std::shared_ptr<detail::CenterCore> center = center_.lock();
  if (!center || id_ == 0) return false;
  std::lock_guard lock(center->mutex);
  return std::any_of(center->registrations.begin(), center->registrations.end(),
                     [this](const auto& r) { return r->id == id_; });
}

// --- NotificationCenter --------------------------------------------------------------------------

NotificationCenter::NotificationCenter() : core_(std::make_shared<detail::CenterCore>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers in other static objects may still remove themselves at exit.
  static NotificationCenter* const center = new NotificationCenter();
  return *center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* object, Callback callback) {
  std::lock_guard lock(core_->mutex);
  const std::uint64_t id = core_->nextId++;
  core_->registrations.push_back(
      std::make_shared<detail::Registration>(id, std::move(name), object, std::move(callback)));
  return ObserverToken(core_, id);
}

void NotificationCenter::removeObserver(ObserverToken& token) { token.remove(); }

void NotificationCenter::post(const Notification& notification) {
  // Our own reference: a callback may destroy this center while the post goes on.
  const std::shared_ptr<detail::CenterCore> core = core_;
  std::vector<std::shared_ptr<detail::Registration>> targets;
  {
    std::lock_guard lock(core->mutex);
    for (const auto& reg : core->registrations) {
      if (reg->matches(notification)) targets.push_back(reg);
    }
  }
  const auto self = std::this_thread::get_id();
  for (const auto& reg : targets) {
    {
      std::lock_guard lock(core->mutex);
      if (!reg->active) continue;  // removed by an earlier observer of this post
      reg->runningOn.push_back(self);
    }
    struct Leave {
      detail::CenterCore& core;
      detail::Registration& reg;
      std::thread::id self;
      ~Leave() {
        std::lock_guard lock(core.mutex);
        auto it = std::find(reg.runningOn.begin(), reg.runningOn.end(), self);
        if (it != reg.runningOn.end()) reg.runningOn.erase(it);
        core.finished.notify_all();
      }
    } leave{*core, *reg, self};
    if (reg->callback) reg->callback(notification);
  }
}

void NotificationCenter::post(std::string name, const void* object, foundation::Dictionary userInfo) {
  post(Notification{std::move(name), object, std::move(userInfo)});
}

size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->registrations.size();
}

}  // namespace runtime
