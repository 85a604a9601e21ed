#pragma once
// The SDK's view of whether the network can be reached, in the platform's reachability terms.
//
// A TallyReachability watches one target (a host name, an IPv4 address, the internet as a whole
// (0.0.0.0) or the local link (169.254.0.0)) and, while its notifier runs, posts
// "TallyReachabilityChangedNotification" with itself as the object on the main run loop whenever the
// flags may have changed. The flags come from a ReachabilityProvider: on Linux the machine's
// interfaces, watched through a netlink socket; tests install a provider they drive.
//
// How the machine's interfaces read as flags: an interface of the local kind (Ethernet or Wi-Fi,
// network_interfaces.h) that is up with a routable address makes every target reachable; failing
// that, a cellular one makes them reachable over WWAN. The local-link target needs a local interface
// and is then reachable and direct. Host names are not resolved: a host counts as reachable when the
// internet does (the SDK asks only to learn whether uploads may go out).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace analytics {

// The platform's reachability flags, with its values.
enum TallyReachabilityFlag : std::uint32_t {
  kReachabilityTransientConnection = 1u << 0,
  kReachabilityReachable = 1u << 1,
  kReachabilityConnectionRequired = 1u << 2,
  kReachabilityConnectionOnTraffic = 1u << 3,
  kReachabilityInterventionRequired = 1u << 4,
  kReachabilityConnectionOnDemand = 1u << 5,
  kReachabilityIsLocalAddress = 1u << 16,
  kReachabilityIsDirect = 1u << 17,
  kReachabilityIsWWAN = 1u << 18,
};

// Reachability statuses: 0 not reachable, 1 over Wi-Fi or a local link, 2 over the cellular network.
enum TallyReachabilityStatus : int {
  kTallyNotReachable = 0,
  kTallyReachableViaWiFi = 1,
  kTallyReachableViaWWAN = 2
};

inline constexpr std::string_view kTallyReachabilityChangedNotification =
    "TallyReachabilityChangedNotification";

struct ReachabilityTarget {
  // The host name, "a.b.c.d", "InternetConnection" or "LocalWiFiConnection".
  std::string key;
  bool localLink = false;
};

class ReachabilityProvider {
 public:
  virtual ~ReachabilityProvider() = default;
  // The target's flags; nothing when they cannot be read.
  virtual std::optional<std::uint32_t> flags(const ReachabilityTarget& target) = 0;
  // Calls `changed`, from any thread, whenever the flags may have changed, until unwatch(id).
  // Returns the watch's id, or 0 when changes cannot be watched.
  virtual int watch(std::function<void()> changed) = 0;
  virtual void unwatch(int id) = 0;

  // The provider reachability objects use: the machine's (made on first use) unless one is set;
  // nullptr goes back to the machine's.
  static std::shared_ptr<ReachabilityProvider> shared();
  static void setShared(std::shared_ptr<ReachabilityProvider> provider);
};

class TallyReachability : public std::enable_shared_from_this<TallyReachability> {
 public:
  static std::shared_ptr<TallyReachability> tallyReachabilityWithHostName(std::string_view host);
  // The address in network byte order.
  static std::shared_ptr<TallyReachability> tallyReachabilityWithAddress(std::uint32_t address);
  static std::shared_ptr<TallyReachability> tallyReachabilityForInternetConnection();
  static std::shared_ptr<TallyReachability> tallyReachabilityForLocalWiFi();
  // "a.b.c.d" of an address in network byte order.
  static std::string tallyMakeAddressKey(std::uint32_t address);

  TallyReachability(ReachabilityTarget target, std::shared_ptr<ReachabilityProvider> provider);
  ~TallyReachability();
  TallyReachability(const TallyReachability&) = delete;
  TallyReachability& operator=(const TallyReachability&) = delete;

  const std::string& key() const { return target_.key; }
  bool isTallyReachabilityEqual(const TallyReachability& other) const { return key() == other.key(); }

  // Starts posting change notifications on the main run loop; false when changes cannot be watched.
  bool tallyStartNotifier();
  void tallyStopNotifier();

  int tallyNetworkStatusForFlags(std::uint32_t flags) const;
  // 0 (and false) when the flags cannot be read.
  std::uint32_t tallyReachabilityFlags() const;
  int tallyCurrentReachabilityStatus() const;
  bool isTallyReachable() const;
  bool isTallyConnectionRequired() const;
  bool isTallyConnectionOnDemand() const;
  bool isTallyUserInterventionRequired() const;
  bool isTallyReachableViaWWAN() const;
  bool isTallyReachableViaWiFi() const;

 private:
  const ReachabilityTarget target_;
  const std::shared_ptr<ReachabilityProvider> provider_;
  int watch_ = 0;
};

}  // namespace analytics
