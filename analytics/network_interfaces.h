#pragma once
// The machine's network interfaces as the analytics SDK sees them: their addresses, and which one
// plays the part of the phone's Wi-Fi interface ("en0") and which its cellular one ("pdp_ip0").
// Linux names its interfaces otherwise (eth0, wlp2s0, wwan0), so the roles are told by the kind of
// device: an Ethernet-type link is the local (Wi-Fi or wired) one, a WWAN, PPP or raw-IP link the
// cellular one. The first interface of a kind, by name, takes the role; an interface really named
// "en0" or "pdp_ip0" keeps its own.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace analytics {

enum class InterfaceKind { kLoopback, kLocal, kCellular, kOther };

// The kind of the named interface from /sys/class/net (`sysNet` for tests): its "uevent" DEVTYPE
// ("wwan") and its "type" (the ARPHRD number).
InterfaceKind interfaceKind(std::string_view name, std::string_view sysNet = "/sys/class/net");

struct InterfaceAddress {
  std::string name;
  // "ipv4" or "ipv6".
  std::string family;
  std::string address;
};

// The IPv4 and IPv6 addresses of the interfaces that are up, in the order the system lists them.
std::vector<InterfaceAddress> interfaceAddresses();

// The interface that plays `role` ("en0" or "pdp_ip0") among the names, if any.
std::optional<std::string> interfaceForRole(std::string_view role, const std::vector<std::string>& names,
                                            const std::function<InterfaceKind(std::string_view)>& kindOf);

// The address getIPAddress answers from "<name>/<family>" entries: the local interface's, then the
// cellular one's, each in the preferred family first; "0.0.0.0" when none.
std::string chooseIPAddress(const foundation::Dictionary& addresses, bool preferIPv4,
                            const std::function<InterfaceKind(std::string_view)>& kindOf);

// The link-level (MAC) address of the named interface as upper-case hex pairs joined by ":";
// nothing when it has none or the list cannot be read.
std::optional<std::string> linkAddress(std::string_view name);

}  // namespace analytics
