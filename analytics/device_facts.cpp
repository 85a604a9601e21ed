// The device and process facts of TallyUtil: from this machine where Linux has them, from the device
// profile where it does not (see tally_util.h).
#include <strings.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "analytics/global_variable_storage.h"
#include "analytics/network_interfaces.h"
#include "analytics/tally_util.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"
#include "platform/security/digest.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int statusBarOrientation() { return static_cast<int>(ui::device().statusBarOrientation); }

}  // namespace

std::string TallyUtil::devicePlatform() {
  utsname name{};
  if (::uname(&name) != 0) return "unknown";
  return name.machine;
}

// Not cached: the device profile may change (tests install others), and reading it is cheap.
std::int64_t TallyUtil::getSystemVersionAsAnInteger() {
  return systemVersionAsAnInteger(ui::device().systemVersion);
}

std::int64_t TallyUtil::systemVersionAsAnInteger(std::string_view version) {
  std::int64_t parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    size_t dot = version.find('.');
    parts[i] = std::atoll(std::string(version.substr(0, dot)).c_str());
    if (dot == std::string_view::npos) break;
    version.remove_prefix(dot + 1);
  }
  return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

bool TallyUtil::isIPad() { return ui::device().isPad(); }
bool TallyUtil::isRetina() { return ui::device().scale == 2.0; }

graphics::Rect TallyUtil::deviceScreenBounds() {
  const ui::DeviceProfile& profile = ui::device();
  double shorter = std::min(profile.screenWidth, profile.screenHeight);
  double longer = std::max(profile.screenWidth, profile.screenHeight);
  return {0, 0, shorter, longer};
}

graphics::Rect TallyUtil::screenBounds() { return screenBounds(std::nullopt); }

graphics::Rect TallyUtil::screenBounds(std::optional<std::string_view> orientationName) {
  graphics::Rect device = deviceScreenBounds();
  bool landscape = orientationName ? canvasInLandscape(orientationName) : deviceInLandscape();
  if (landscape) return {0, 0, device.size.height + 0.1, device.size.width};
  return {0, 0, device.size.width, device.size.height + 0.1};
}

bool TallyUtil::deviceInLandscape() { return ui::device().isLandscape(); }

bool TallyUtil::canvasInLandscape(std::optional<std::string_view> name) {
  if (!name) return statusBarOrientation() == 3 || statusBarOrientation() == 4;
  return canvasInLandscapeRight(name) || canvasInLandscapeLeft(name);
}

bool TallyUtil::canvasInLandscapeRight(std::optional<std::string_view> name) {
  return name ? equalsIgnoringCase(*name, "landscapeRight") : statusBarOrientation() == 3;
}

bool TallyUtil::canvasInLandscapeLeft(std::optional<std::string_view> name) {
  return name ? equalsIgnoringCase(*name, "landscapeLeft") : statusBarOrientation() == 4;
}

bool TallyUtil::canvasInPortraitUpsideDown() { return statusBarOrientation() == 2; }

std::string TallyUtil::getCanvasOrientation() {
  return getOrientationStrFromInterfaceOrientation(statusBarOrientation()).value_or("portrait");
}

std::optional<std::string> TallyUtil::getOrientationStrFromInterfaceOrientation(int orientation) {
  switch (orientation) {
    case 1:
      return "portrait";
    case 2:
      return "portraitUpsideDown";
    case 3:
      return "landscapeRight";
    case 4:
      return "landscapeLeft";
    default:
      return std::nullopt;
  }
}

bool TallyUtil::theAppIsActive() {
  ui::ApplicationState state = ui::Application::shared().state();
  // A process without a running application object has no state to ask.
  if (state == ui::ApplicationState::kActive || state == ui::ApplicationState::kNotRunning) return true;
  log(2, "TallySession: The App is not active");
  return false;
}

bool TallyUtil::isInWatchExtension() {
  static const bool inExtension = [] {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return !error && exe.string().find(".appex/") != std::string::npos;
  }();
  return getSystemVersionAsAnInteger() >= 80000 && inExtension;
}

bool TallyUtil::viewIsVisible(const ui::View& view) {
  auto key = ui::Application::shared().keyWindow();
  ui::Window* window = view.window();
  if (!key || window != key.get() || view.isHidden()) return false;
  graphics::Rect bounds = view.bounds();
  graphics::Point centre(bounds.origin.x + bounds.size.width / 2, bounds.origin.y + bounds.size.height / 2);
  graphics::Point inWindow = view.convertPointToView(centre, window);
  graphics::Rect visible = window->bounds();
  return inWindow.x >= visible.origin.x && inWindow.y >= visible.origin.y &&
         inWindow.x < visible.origin.x + visible.size.width &&
         inWindow.y < visible.origin.y + visible.size.height;
}

bool TallyUtil::isPortaitOrientationSupportedForWindow(const ui::Window* /*window*/) {
  auto bundle = runtime::Bundle::main();
  foundation::Value listed =
      bundle ? bundle->objectForInfoDictionaryKey("UISupportedInterfaceOrientations") : foundation::Value();
  const foundation::Array* orientations = listed.array();
  if (orientations == nullptr || orientations->empty()) return true;
  for (const auto& item : *orientations) {
    std::string name = item.stringOr("");
    if (name == "UIInterfaceOrientationPortrait" || name == "UIInterfaceOrientationPortraitUpsideDown")
      return true;
  }
  // The application delegate here cannot narrow the orientations per window.
  return false;
}

namespace {

std::mutex& batteryMutex() {
  static std::mutex m;
  return m;
}

// The first power supply of type "Battery", if the machine has one.
std::optional<fs::path> batteryFolder() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/power_supply", error)) {
    std::ifstream type(entry.path() / "type");
    std::string text;
    if (std::getline(type, text) && text == "Battery") return entry.path();
  }
  return std::nullopt;
}

std::string firstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

}  // namespace

float TallyUtil::getBatteryLevel() {
  std::lock_guard lock(batteryMutex());
  auto folder = batteryFolder();
  if (!folder) return -100.0f;
  std::string capacity = firstLine(*folder / "capacity");
  char* end = nullptr;
  double percent = std::strtod(capacity.c_str(), &end);
  if (capacity.empty() || end == capacity.c_str()) return -100.0f;
  return static_cast<float>(percent);
}

int TallyUtil::getBatteryState() {
  std::lock_guard lock(batteryMutex());
  auto folder = batteryFolder();
  if (!folder) return 0;
  std::string status = firstLine(*folder / "status");
  if (status == "Discharging" || status == "Not charging") return 1;
  if (status == "Charging") return 2;
  if (status == "Full") return 3;
  return 0;
}

namespace {

std::optional<struct statvfs> documentsFileSystem() {
  struct statvfs info {};
  fs::path documents = TallyUtil::home().documents();
  if (::statvfs(documents.c_str(), &info) == 0) return info;
  int code = errno;
  TallyUtil::log(2, "Error Obtaining System Memory Info: Domain = %@, Code = %ld",
                 {"NSPOSIXErrorDomain", code});
  return std::nullopt;
}

}  // namespace

std::uint64_t TallyUtil::getFreeDiskspace() {
  auto info = documentsFileSystem();
  return info ? static_cast<std::uint64_t>(info->f_bavail) * info->f_frsize : 0;
}

std::uint64_t TallyUtil::getDiskSize() {
  auto info = documentsFileSystem();
  return info ? static_cast<std::uint64_t>(info->f_blocks) * info->f_frsize : 0;
}

std::int64_t TallyUtil::lastBootTime() {
  std::ifstream stat("/proc/stat");
  std::string line;
  while (std::getline(stat, line)) {
    long long seconds = 0;
    if (std::sscanf(line.c_str(), "btime %lld", &seconds) == 1) return seconds;
  }
  log(2, "Failed to get last boot time");
  return 0;
}

std::string TallyUtil::preferredLanguage() {
  auto languages = runtime::systemPreferredLanguages();
  if (!languages.empty()) return languages.front();
  if (auto bundle = runtime::Bundle::main()) {
    auto preferred = bundle->preferredLocalizations();
    if (!preferred.empty()) return preferred.front();
  }
  if (auto defaults = runtime::UserDefaults::standard()) {
    foundation::Value languages = defaults->objectForKey(runtime::UserDefaults::kAppleLanguagesKey);
    const foundation::Array* apple = languages.array();
    if (apple && !apple->empty() && apple->front().isString()) return *apple->front().string();
  }
  return "en";
}

std::optional<foundation::Dictionary> TallyUtil::getIPAddresses() {
  foundation::Dictionary addresses;
  for (const auto& found : interfaceAddresses())
    addresses.set(found.name + "/" + found.family, found.address);
  if (addresses.empty()) return std::nullopt;
  return addresses;
}

std::string TallyUtil::getIPAddress(bool preferIPv4) {
  auto addresses = getIPAddresses().value_or(foundation::Dictionary{});
  // The addresses say where the user is: only a debugging log level shows them.
  log(2, "addresses: %@", {foundation::Value(addresses)});
  return chooseIPAddress(addresses, preferIPv4, [](std::string_view name) { return interfaceKind(name); });
}

std::optional<std::string> TallyUtil::getIdentifierForVendor() {
  auto identifier = ui::identifierForVendor(home());
  if (!identifier) return std::nullopt;
  return std::move(*identifier);
}

std::optional<std::string> TallyUtil::MACString() {
  if (!TallyGlobalVariableStorage::sharedInstance()->macAddressEnabled()) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& found : interfaceAddresses()) names.push_back(found.name);
  auto en0 = interfaceForRole("en0", names, [](std::string_view name) { return interfaceKind(name); });
  if (!en0) return std::nullopt;
  auto text = linkAddress(*en0);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

std::optional<foundation::Bytes> TallyUtil::getMACUID() {
  if (getSystemVersionAsAnInteger() >= 70000) return std::nullopt;
  auto mac = MACString();
  if (!mac || mac->empty()) return std::nullopt;
  return hashData(std::span(reinterpret_cast<const std::uint8_t*>(mac->data()), mac->size()));
}

// ---- Process measurements

float tallyCpuLoad() {
  std::ifstream uptimeFile("/proc/uptime");
  double uptime = 0;
  if (!(uptimeFile >> uptime)) return -1.0f;
  double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::error_code error;
  fs::directory_iterator tasks("/proc/self/task", error);
  if (error || ticks <= 0) return -1.0f;
  double total = 0;
  for (const auto& task : tasks) {
    std::ifstream statFile(task.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) return -1.0f;
    // The command name may hold blanks and parentheses: the fields start after the last ")".
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1.0f;
    std::istringstream fields(stat.substr(close + 2));
    std::string state;
    fields >> state;
    std::string skip;
    for (int i = 0; i < 10; ++i) fields >> skip;  // ppid .. cmajflt
    double user = 0, system = 0;
    fields >> user >> system;
    for (int i = 0; i < 6; ++i) fields >> skip;  // cutime .. itrealvalue
    double start = 0;
    if (!(fields >> start)) return -1.0f;
    if (state == "I") continue;  // an idle thread counts for nothing
    double lifetime = uptime - start / ticks;
    if (lifetime > 0) total += (user + system) / ticks / lifetime;
  }
  return static_cast<float>(total * 100.0);
}

namespace {

std::uint64_t memoryField(std::string_view name) {
  std::ifstream info("/proc/meminfo");
  std::string line;
  while (std::getline(info, line)) {
    if (line.compare(0, name.size(), name) == 0 && line.size() > name.size() && line[name.size()] == ':') {
      return std::strtoull(line.c_str() + name.size() + 1, nullptr, 10) * 1024;
    }
  }
  TallyUtil::log(2, "Failed to fetch vm statistics");
  return 0;
}

}  // namespace

std::uint64_t tallyWiredMemory() { return memoryField("Unevictable"); }
std::uint64_t tallyActiveMemory() { return memoryField("Active"); }
std::uint64_t tallyInactiveMemory() { return memoryField("Inactive"); }
std::uint64_t tallyFreeMemory() { return memoryField("MemFree"); }

}  // namespace analytics
