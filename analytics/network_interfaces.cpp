#include "analytics/network_interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

namespace analytics {
namespace {

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text, '\0');
  return text;
}

std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> readInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) list = nullptr;
  return {list, [](ifaddrs* l) {
            if (l) ::freeifaddrs(l);
          }};
}

}  // namespace

InterfaceKind interfaceKind(std::string_view name, std::string_view sysNet) {
  std::string base = std::string(sysNet) + "/" + std::string(name);
  if (readSmallFile(base + "/uevent").find("DEVTYPE=wwan") != std::string::npos)
    return InterfaceKind::kCellular;
  std::string type = readSmallFile(base + "/type");
  int number = -1;
  if (std::sscanf(type.c_str(), "%d", &number) != 1) return InterfaceKind::kOther;
  switch (number) {
    case ARPHRD_LOOPBACK:
      return InterfaceKind::kLoopback;
    case ARPHRD_ETHER:
    case ARPHRD_IEEE80211:
      return InterfaceKind::kLocal;
    case ARPHRD_PPP:
    case ARPHRD_NONE:
    case 519:  // ARPHRD_RAWIP, which older headers lack
      return InterfaceKind::kCellular;
    default:
      return InterfaceKind::kOther;
  }
}

std::vector<InterfaceAddress> interfaceAddresses() {
  std::vector<InterfaceAddress> found;
  auto list = readInterfaces();
  for (ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0) continue;
    char text[INET6_ADDRSTRLEN] = {};
    int family = entry->ifa_addr->sa_family;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
      found.push_back({entry->ifa_name, "ipv4", text});
    } else if (family == AF_INET6) {
      auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) continue;
      found.push_back({entry->ifa_name, "ipv6", text});
    }
  }
  return found;
}

std::optional<std::string> interfaceForRole(std::string_view role, const std::vector<std::string>& names,
                                            const std::function<InterfaceKind(std::string_view)>& kindOf) {
  if (std::find(names.begin(), names.end(), role) != names.end()) return std::string(role);
  InterfaceKind wanted = role == "pdp_ip0" ? InterfaceKind::kCellular : InterfaceKind::kLocal;
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  for (const auto& name : sorted) {
    if (kindOf(name) == wanted) return name;
  }
  return std::nullopt;
}

std::string chooseIPAddress(const foundation::Dictionary& addresses, bool preferIPv4,
                            const std::function<InterfaceKind(std::string_view)>& kindOf) {
  std::set<std::string> unique;
  for (const auto& [key, value] : addresses) unique.insert(key.substr(0, key.rfind('/')));
  std::vector<std::string> names(unique.begin(), unique.end());
  const char* first = preferIPv4 ? "ipv4" : "ipv6";
  const char* second = preferIPv4 ? "ipv6" : "ipv4";
  for (std::string_view role : {"en0", "pdp_ip0"}) {
    auto name = interfaceForRole(role, names, kindOf);
    if (!name) continue;
    for (const char* family : {first, second}) {
      if (const std::string* text = addresses[*name + "/" + family].string()) return *text;
    }
  }
  return "0.0.0.0";
}

std::optional<std::string> linkAddress(std::string_view name) {
  auto list = readInterfaces();
  for (ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET || name != entry->ifa_name)
      continue;
    auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_halen == 0) return std::nullopt;
    std::string text;
    for (int i = 0; i < link->sll_halen && i < 8; ++i) {
      char pair[4];
      std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", link->sll_addr[i]);
      text += pair;
    }
    return text;
  }
  return std::nullopt;
}

}  // namespace analytics
