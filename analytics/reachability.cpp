#include "analytics/reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "analytics/network_interfaces.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"

namespace analytics {
namespace {

// Addresses that do not lead past the link: IPv4 link-local and IPv6 link-local.
bool isRoutable(const InterfaceAddress& address) {
  if (address.family == "ipv4") return address.address.rfind("169.254.", 0) != 0;
  return address.address.rfind("fe80:", 0) != 0;
}

// The machine's interfaces, watched for changes of links and addresses over rtnetlink by one thread
// that runs while anyone watches.
class NetlinkProvider : public ReachabilityProvider {
 public:
  ~NetlinkProvider() override { stopThread(); }

  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override {
    bool local = false, localRoutable = false, cellular = false;
    for (const auto& address : interfaceAddresses()) {
      InterfaceKind kind = interfaceKind(address.name);
      if (kind == InterfaceKind::kLocal) {
        local = true;
        localRoutable = localRoutable || isRoutable(address);
      } else if (kind == InterfaceKind::kCellular && isRoutable(address)) {
        cellular = true;
      }
    }
    if (target.localLink) return local ? kReachabilityReachable | kReachabilityIsDirect : 0u;
    if (localRoutable) return kReachabilityReachable;
    if (cellular) return kReachabilityReachable | kReachabilityIsWWAN;
    return 0u;
  }

  int watch(std::function<void()> changed) override {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable() && !startThreadLocked()) return 0;
    int id = ++lastId_;
    watchers_.emplace(id, std::move(changed));
    return id;
  }

  void unwatch(int id) override {
    bool last = false;
    {
      std::lock_guard lock(mutex_);
      watchers_.erase(id);
      last = watchers_.empty();
    }
    if (last) stopThread();
  }

 private:
  bool startThreadLocked() {
    int sock = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (sock < 0) return false;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    int stop = ::eventfd(0, EFD_CLOEXEC);
    if (stop < 0 || ::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(sock);
      if (stop >= 0) ::close(stop);
      return false;
    }
    socket_ = sock;
    stop_ = stop;
    thread_ = std::thread([this, sock, stop] { run(sock, stop); });
    return true;
  }

  void stopThread() {
    std::thread thread;
    int sock = -1, stop = -1;
    {
      std::lock_guard lock(mutex_);
      if (!thread_.joinable() || !watchers_.empty()) return;
      std::uint64_t one = 1;
      (void)!::write(stop_, &one, sizeof one);
      thread = std::move(thread_);
      sock = std::exchange(socket_, -1);
      stop = std::exchange(stop_, -1);
    }
    // A watch that comes meanwhile starts a thread of its own, with descriptors of its own.
    thread.join();
    ::close(sock);
    ::close(stop);
  }

  void run(int socket, int stop) {
    char buffer[8192];
    while (true) {
      pollfd fds[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      // One notice per burst: drain what is queued, then tell the watchers once.
      while (::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      std::lock_guard lock(mutex_);
      for (auto& [id, changed] : watchers_) changed();
    }
  }

  std::mutex mutex_;
  std::map<int, std::function<void()>> watchers_;
  int lastId_ = 0;
  int socket_ = -1;
  int stop_ = -1;
  std::thread thread_;
};

struct SharedProvider {
  std::mutex mutex;
  std::shared_ptr<ReachabilityProvider> installed;
  std::shared_ptr<ReachabilityProvider> machine;
};

SharedProvider& sharedProvider() {
  static SharedProvider s;
  return s;
}

constexpr std::uint32_t kLocalLinkAddress = 0xA9FE0000u;  // 169.254.0.0

}  // namespace

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::shared() {
  std::lock_guard lock(sharedProvider().mutex);
  if (sharedProvider().installed) return sharedProvider().installed;
  if (!sharedProvider().machine) sharedProvider().machine = std::make_shared<NetlinkProvider>();
  return sharedProvider().machine;
}

void ReachabilityProvider::setShared(std::shared_ptr<ReachabilityProvider> provider) {
  std::lock_guard lock(sharedProvider().mutex);
  sharedProvider().installed = std::move(provider);
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityWithHostName(std::string_view host) {
  if (host.empty()) return nullptr;
  return std::make_shared<TallyReachability>(ReachabilityTarget{std::string(host)},
                                             ReachabilityProvider::shared());
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityWithAddress(std::uint32_t address) {
  bool localLink = address == htonl(kLocalLinkAddress);
  return std::make_shared<TallyReachability>(ReachabilityTarget{tallyMakeAddressKey(address), localLink},
                                             ReachabilityProvider::shared());
}

// The two general objects (0.0.0.0 and the link-local 169.254.0.0) are known by names of their own.
std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityForInternetConnection() {
  return std::make_shared<TallyReachability>(ReachabilityTarget{"InternetConnection"},
                                             ReachabilityProvider::shared());
}

std::shared_ptr<TallyReachability> TallyReachability::tallyReachabilityForLocalWiFi() {
  return std::make_shared<TallyReachability>(ReachabilityTarget{"LocalWiFiConnection", true},
                                             ReachabilityProvider::shared());
}

std::string TallyReachability::tallyMakeAddressKey(std::uint32_t address) {
  std::uint32_t host = ntohl(address);
  return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
         std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
}

TallyReachability::TallyReachability(ReachabilityTarget target,
                                     std::shared_ptr<ReachabilityProvider> provider)
    : target_(std::move(target)), provider_(std::move(provider)) {}

TallyReachability::~TallyReachability() { tallyStopNotifier(); }

bool TallyReachability::tallyStartNotifier() {
  if (watch_ != 0) return true;
  // Changes come on the provider's thread, which may outlive the loop.
  runtime::LoopHandle loop = runtime::RunLoop::mainHandle();
  std::weak_ptr<TallyReachability> weak = weak_from_this();
  watch_ = provider_->watch([loop, weak] {
    loop.performSoon([weak] {
      if (auto self = weak.lock()) {
        runtime::NotificationCenter::defaultCenter().post(std::string(kTallyReachabilityChangedNotification),
                                                          self.get());
      }
    });
  });
  return watch_ != 0;
}

void TallyReachability::tallyStopNotifier() {
  if (watch_ == 0) return;
  provider_->unwatch(watch_);
  watch_ = 0;
}

int TallyReachability::tallyNetworkStatusForFlags(std::uint32_t flags) const {
  if ((flags & kReachabilityReachable) == 0) return kTallyNotReachable;
  if (target_.localLink) return (flags & kReachabilityIsDirect) ? kTallyReachableViaWiFi : kTallyNotReachable;
  if (flags & kReachabilityIsWWAN) return kTallyReachableViaWWAN;
  std::uint32_t rest =
      flags & ~(kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect);
  if (rest == (kReachabilityConnectionRequired | kReachabilityTransientConnection)) return kTallyNotReachable;
  if (flags & kReachabilityTransientConnection) return kTallyReachableViaWiFi;
  if (rest == 0) return kTallyReachableViaWiFi;
  return (flags & kReachabilityConnectionRequired) ? kTallyReachableViaWiFi : kTallyNotReachable;
}

std::uint32_t TallyReachability::tallyReachabilityFlags() const {
  return provider_->flags(target_).value_or(0);
}

int TallyReachability::tallyCurrentReachabilityStatus() const {
  auto flags = provider_->flags(target_);
  return flags ? tallyNetworkStatusForFlags(*flags) : kTallyNotReachable;
}

bool TallyReachability::isTallyReachable() const {
  return tallyCurrentReachabilityStatus() != kTallyNotReachable;
}
bool TallyReachability::isTallyConnectionRequired() const {
  return (tallyReachabilityFlags() & kReachabilityConnectionRequired) != 0;
}
bool TallyReachability::isTallyConnectionOnDemand() const {
  std::uint32_t flags = tallyReachabilityFlags();
  return (flags & kReachabilityConnectionRequired) &&
         (flags & (kReachabilityConnectionOnTraffic | kReachabilityConnectionOnDemand));
}
bool TallyReachability::isTallyUserInterventionRequired() const {
  std::uint32_t flags = tallyReachabilityFlags();
  return (flags & kReachabilityConnectionRequired) && (flags & kReachabilityInterventionRequired);
}
bool TallyReachability::isTallyReachableViaWWAN() const {
  return tallyCurrentReachabilityStatus() == kTallyReachableViaWWAN;
}
bool TallyReachability::isTallyReachableViaWiFi() const {
  return tallyCurrentReachabilityStatus() == kTallyReachableViaWiFi;
}

}  // namespace analytics
