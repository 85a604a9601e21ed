#include "platform/ui/device.h"

#include <charconv>
#include <mutex>

#include "platform/files/file_ops.h"
#include "platform/foundation/uuid.h"

namespace ui {

bool isLandscape(Orientation orientation) {
  return orientation == Orientation::kLandscapeLeft || orientation == Orientation::kLandscapeRight;
}

bool isPortrait(Orientation orientation) {
  return orientation == Orientation::kPortrait || orientation == Orientation::kPortraitUpsideDown;
}

DeviceProfile DeviceProfile::phone568() { return DeviceProfile{}; }

DeviceProfile DeviceProfile::phone667() {
  DeviceProfile p;
  p.screenWidth = 375;
  p.screenHeight = 667;
  return p;
}

DeviceProfile DeviceProfile::phone667Zoomed() {
  DeviceProfile p = phone667();
  p.nativeScale = 2.34375;
  return p;
}

DeviceProfile DeviceProfile::phone736() {
  DeviceProfile p;
  p.screenWidth = 414;
  p.screenHeight = 736;
  p.scale = 3;
  p.nativeScale = 2.608;
  return p;
}

DeviceProfile DeviceProfile::pad() {
  DeviceProfile p;
  p.idiom = Idiom::kPad;
  p.screenWidth = 768;
  p.screenHeight = 1024;
  p.model = "iPad";
  return p;
}

double DeviceProfile::systemVersionNumber() const {
  // Like the platform's floatValue: the leading number, so "8.1.2" reads 8.1.
  double value = 0;
  const char* begin = systemVersion.data();
  auto [end, error] = std::from_chars(begin, begin + systemVersion.size(), value);
  return error == std::errc() ? value : 0.0;
}

bool DeviceProfile::isPhone736() const { return isPhone() && screenHeight == 736; }

bool DeviceProfile::isStandardPhone667() const {
  return isPhone() && screenHeight == 667 && systemVersionNumber() >= 8.0 && nativeScale == scale;
}

foundation::Result<std::string> identifierForVendor(const files::AppHome& home) {
  // Analytics asks from its own queue while the launch asks on the main thread: two threads finding a
  // damaged file must not each write a different new identifier.
  static std::mutex lock;
  const std::scoped_lock held(lock);
  const std::filesystem::path path = home.root() / kIdentifierForVendorFileName;
  auto read = files::readFile(path);
  if (read) {
    std::string_view text(reinterpret_cast<const char*>(read->data()), read->size());
    // Tolerates a line end added by hand.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (auto uuid = foundation::Uuid::parse(text); uuid && !uuid->isNil()) return uuid->string();
  } else if (read.error().code != files::kReadNoSuchFileError) {
    // Never replace what merely could not be read: the identifier may well be in there.
    return read.error();
  }
  if (auto made = files::createDirectory(home.root()); !made) return made.error();
  std::string identifier = foundation::makeUuid();
  if (auto written = files::writeAtomic(path, identifier + "\n"); !written) return written.error();
  return identifier;
}

namespace {
DeviceProfile& current() {
  static DeviceProfile profile;
  return profile;
}
}  // namespace

DeviceProfile& device() { return current(); }
void setDevice(const DeviceProfile& profile) { current() = profile; }

ScopedDevice::ScopedDevice(const DeviceProfile& profile) : previous_(current()) { current() = profile; }
ScopedDevice::~ScopedDevice() { current() = previous_; }

}  // namespace ui
