#pragma once
// The device the application believes it runs on: phone or tablet, the main screen's size in points,
// its scale and native scale, the system version and the status bar's orientation.
//
// Screens adapt their layout in code from these facts, so tests choose a profile (ScopedDevice) and
// the application sets one at start-up. Nothing here looks at the host machine.
//
// The vendor identifier is not a fact of the profile: it belongs to one installation, so it is kept
// under the installation's data root (identifierForVendor below).

#include <string>
#include <string_view>

#include "platform/files/app_home.h"
#include "platform/foundation/error.h"

namespace ui {

enum class Idiom { kPhone, kPad };

// The platform's interface orientations, with its numbers: 0 unknown, 1 portrait, 2 upside down,
// 3 and 4 the two landscape orientations.
enum class Orientation : int {
  kUnknown = 0,
  kPortrait = 1,
  kPortraitUpsideDown = 2,
  kLandscapeRight = 3,
  kLandscapeLeft = 4,
};

bool isLandscape(Orientation orientation);
bool isPortrait(Orientation orientation);

struct DeviceProfile {
  Idiom idiom = Idiom::kPhone;
  // The main screen's bounds in points.
  double screenWidth = 320;
  double screenHeight = 568;
  double scale = 2;
  // Differs from `scale` on a zoomed display.
  double nativeScale = 2;
  std::string systemVersion = "8.0";
  Orientation statusBarOrientation = Orientation::kPortrait;
  bool statusBarHidden = false;
  // What the mail composer and the image picker may use.
  bool canSendMail = true;
  bool cameraAvailable = true;
  std::string model = "iPhone";

  // Ready-made profiles of the sizes the layouts tell apart.
  static DeviceProfile phone568();        // 320 × 568, scale 2
  static DeviceProfile phone667();        // 375 × 667, scale 2, not zoomed
  static DeviceProfile phone667Zoomed();  // 375 × 667, scale 2, native scale 2.343750
  static DeviceProfile phone736();        // 414 × 736, scale 3, native scale 2.608
  static DeviceProfile pad();             // 768 × 1024, scale 2, portrait

  bool isPad() const { return idiom != Idiom::kPhone; }
  bool isPhone() const { return idiom == Idiom::kPhone; }
  // The system version read as a float ("8.1.2" gives 8.1; text that is no number gives 0).
  double systemVersionNumber() const;
  // A phone whose screen is 736 points high.
  bool isPhone736() const;
  // A phone whose screen is 667 points high on system 8.0 or later with native scale equal to scale:
  // a standard, not zoomed, display.
  bool isStandardPhone667() const;
  bool isLandscape() const { return ui::isLandscape(statusBarOrientation); }
};

// The profile in force; a phone568() profile until something sets another.
DeviceProfile& device();
void setDevice(const DeviceProfile& profile);

// The file at the data root that keeps the installation's vendor identifier.
inline constexpr std::string_view kIdentifierForVendorFileName = "identifierForVendor";

// The vendor identifier of the installation at `home`, in the upper-case 36-character form: read from
// the data root's "identifierForVendor" file, or, the first time, a new random UUID written there
// atomically (the root is created when missing). So one installation always answers the same
// identifier and two installations never share one. A file that holds no UUID (cut short, edited) is
// replaced by a new identifier, as the platform hands out a new one when its record is gone. Fails,
// writing nothing, when the file exists but cannot be read, or when a new one cannot be written.
foundation::Result<std::string> identifierForVendor(const files::AppHome& home);

// Installs a profile while it lives, then restores the previous one. For tests.
class ScopedDevice {
 public:
  explicit ScopedDevice(const DeviceProfile& profile);
  ~ScopedDevice();
  ScopedDevice(const ScopedDevice&) = delete;
  ScopedDevice& operator=(const ScopedDevice&) = delete;

 private:
  DeviceProfile previous_;
};

}  // namespace ui
