#pragma once
// What every part of the analytics SDK leans on: the log level behind which its diagnostics are
// printed, the handler that swallows exceptions at its entry points, the SDK folder and safe
// archiving, the facts about the device that go into a session report, identifiers, hashes and the
// CRC-32 of the upload envelope, URL and parameter helpers, the cookie store update, the user's
// opt-out and the SDK's clock. Class operations only; all of them may be called from any thread.
//
// Where the facts come from: the model code, boot time, disk, battery, network interfaces (through
// getifaddrs), language and vendor identifier are this machine's; the idiom, screen, scale,
// orientation and the system version are the device profile's (ui::device()), because the SDK's
// version gates must follow the phone the application believes it runs on, not the kernel.
//
// The SDK's files live under one home (setHome; by default the one named by the environment): the
// SDK folder is made mode 0700 and every file the SDK writes is mode 0600, since they hold the user
// id and location. Files are marked excluded from backup with a "user." extended attribute where the
// file system allows; when it does not, the file is still written.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"
#include "platform/plist/keyed_archive.h"

namespace security {
class Keychain;
}
namespace ui {
class View;
class Window;
}  // namespace ui

namespace analytics {

// The name of the SDK folder under Application Support.
inline constexpr std::string_view kTallyFilesFolderName = "TallyFiles";
// The extended attribute that excludes a file from backup, in the "user." name space Linux allows
// for ordinary files.
inline constexpr std::string_view kSkipBackupAttribute = "user.com.apple.MobileBackup";
// The keychain identifier of the SDK's items.
inline constexpr std::string_view kTallyKeychainIdentifier = "com.tally.analytics";
// The most cookies the store keeps.
inline constexpr size_t kTallyMaxCookies = 1000;

class TallyUtil {
 public:
  TallyUtil() = delete;

  // ---- Logging and errors

  // 0 is silent, 1 (the default) prints the few level-1 messages, 2 and above the debug ones too.
  static void setLogLevel(std::uint32_t level);
  static std::uint32_t logLevel();
  // Whether handleException prints what it caught (off by default).
  static void setShowErrorInLogEnabled(bool enabled);
  static bool showErrorInLogEnabled();

  // Prints the formatted message (foundation::text::format) when the log level lets it through:
  // a level-2 message when the log level is 2 or more, a level-1 message when it is not 0.
  static void log(std::uint32_t level, std::string_view format,
                  std::initializer_list<foundation::Value> args = {});

  // Takes an exception caught at an entry point; never rethrows. Prints it (at log level 2 or
  // more) only when showing errors is enabled.
  static void handleException(std::exception_ptr exception) noexcept;
  // The same for an error handed over as a value.
  static void handleError(const foundation::Error& error) noexcept;
  // Runs the work at an entry point of the SDK: whatever it raises goes to handleException.
  template <class F>
  static void guarded(F&& work) noexcept {
    try {
      work();
    } catch (...) {
      handleException(std::current_exception());
    }
  }
  // The readable name of a type (an exception's class, for the logs and error records).
  static std::string typeName(const std::type_info& type);
  static void assertThreadIsNotMain() {}

  // ---- Where the SDK keeps its things

  // The home the SDK folder and keychain live under; nullopt goes back to the environment's
  // (files::AppHome::fromEnvironment). The keychain is made anew for a new home.
  static void setHome(std::optional<files::AppHome> home);
  static files::AppHome home();
  // The keychain of the home, made on first use.
  static std::shared_ptr<security::Keychain> keychain();

  // The SDK folder: "TallyFiles" under Application Support (Caches below system 5.1), created with
  // its parents when missing, mode 0700 and excluded from backup at every call. Fails when the
  // folder cannot be made.
  static foundation::Result<std::filesystem::path> filePathDirectory();
  // Where agent versions up to 109 kept their files: "TallyFiles" under Library above system 5.0,
  // else Caches.
  static foundation::Result<std::filesystem::path> oldFilePathDirectoryUptilAgentVersion109();
  // Marks the item excluded from backup; false below system 5.0.1 or when the file system refuses
  // the attribute. Never changes the item otherwise.
  static bool addSkipBackupAttributeToItemAtURL(const std::filesystem::path& path);

  // Writes the bytes atomically, mode 0600, and (unless `skipBackup` is false) marks the file
  // excluded from backup.
  static foundation::Status writeSdkFile(const std::filesystem::path& path, const foundation::Bytes& data,
                                         bool skipBackup = true);
  // The plain value archived in the file; nothing for an empty path or a missing file. A file that
  // cannot be read as a keyed archive is deleted (its error goes to handleError): it would never
  // read better later, and the next save starts it afresh.
  static std::optional<foundation::Value> safeUnarchiveObjectWithFile(const std::filesystem::path& path);
  // The same for a dictionary that plain values cannot hold (keys of data, values that are objects
  // of the registry's classes): its entries in the file's order; nothing also for a nil root.
  static std::optional<std::vector<plist::DictionaryEntry>> safeUnarchiveEntriesWithFile(
      const std::filesystem::path& path, const plist::ClassRegistry& registry);
  // Archives a dictionary (anything else is refused) into the file with writeSdkFile; a failure is
  // logged ("map not saved to disk") and returned.
  static foundation::Status archiveDictionary(const foundation::Value& object,
                                              const std::filesystem::path& path);
  // The same for a dictionary given entry by entry.
  static foundation::Status archiveEntries(const std::vector<plist::DictionaryEntry>& entries,
                                           const std::filesystem::path& path);

  // ---- Device and application facts

  // The machine's hardware name (uname's machine, "x86_64"): the model code of this device.
  static std::string devicePlatform();
  // The device's system version as major * 10000 + minor * 100 + patch ("8.0" is 80000); a fourth
  // component is ignored.
  static std::int64_t getSystemVersionAsAnInteger();
  static std::int64_t systemVersionAsAnInteger(std::string_view version);
  static bool isIPad();
  static bool isRetina();
  // The screen with the shorter side as width.
  static graphics::Rect deviceScreenBounds();
  // The screen as the device is held: the longer side plus 0.1 across in landscape.
  static graphics::Rect screenBounds();
  // The same, with the orientation name deciding when one is given.
  static graphics::Rect screenBounds(std::optional<std::string_view> orientationName);
  static bool deviceInLandscape();
  // The status bar's orientation, or, given a name, a case-insensitive match with "landscapeRight"
  // and "landscapeLeft".
  static bool canvasInLandscape(std::optional<std::string_view> orientationName = std::nullopt);
  static bool canvasInLandscapeRight(std::optional<std::string_view> orientationName = std::nullopt);
  static bool canvasInLandscapeLeft(std::optional<std::string_view> orientationName = std::nullopt);
  static bool canvasInPortraitUpsideDown();
  // "portrait", "portraitUpsideDown", "landscapeRight" or "landscapeLeft" for the status bar.
  static std::string getCanvasOrientation();
  // The name of orientation 1 to 4; nothing otherwise.
  static std::optional<std::string> getOrientationStrFromInterfaceOrientation(int orientation);
  static bool theAppIsActive();
  // From system 8.0, whether the executable lives inside an ".appex/" bundle.
  static bool isInWatchExtension();
  // Alerts here are no windows of their own, so the key window is never an alert.
  static bool isKeyWindowAlertView() { return false; }
  // Whether the view is on the key window, shown, and its visible centre lies inside the window.
  static bool viewIsVisible(const ui::View& view);
  // Whether the bundle lists a portrait orientation, or lists no orientation at all.
  static bool isPortaitOrientationSupportedForWindow(const ui::Window* window);
  static int deviceIsJailbroken() { return -1; }
  // Battery charge in percent; -100 when unknown (no battery).
  static float getBatteryLevel();
  // 0 unknown, 1 unplugged, 2 charging, 3 full.
  static int getBatteryState();
  // Free and total bytes of the file system holding Documents; 0 on failure (logged).
  static std::uint64_t getFreeDiskspace();
  static std::uint64_t getDiskSize();
  // Seconds since 1970 when the kernel booted; 0 on failure (logged).
  static std::int64_t lastBootTime();
  static std::string preferredLanguage();
  // "<interface>/ipv4" and "<interface>/ipv6" to the address, for interfaces that are up; nothing
  // when there is none.
  static std::optional<foundation::Dictionary> getIPAddresses();
  // The first address of the Wi-Fi/Ethernet interface ("en0"), then of the cellular one
  // ("pdp_ip0"), in the preferred family first; "0.0.0.0" when none. The addresses are printed at
  // log level 2 only.
  static std::string getIPAddress(bool preferIPv4);

  // ---- Identifiers

  static std::string generateCFUUID();
  static std::string generateCFUUIDBasedUID();
  // The installation's vendor identifier; nothing when it cannot be read or made.
  static std::optional<std::string> getIdentifierForVendor();
  // The link address of the "en0" interface ("A0:B1:..."), only while the setting allows it.
  static std::optional<std::string> MACString();
  // SHA-1 of MACString; nothing from system 7.0 on.
  static std::optional<foundation::Bytes> getMACUID();
  // There is no advertising-identifier facility on this platform: no identifier, tracking allowed.
  static std::optional<std::string> getTallyId();
  static bool isAdTrackingEnabled();
  // The 15-character salt of the tracked-value hashes.
  static std::string getFixedSalt();
  // Reads and deletes the old stored identifier item.
  static void cleanupStoredIdentifierForVendor();

  // ---- Hashes and checksums

  // SHA-1 (20 bytes); empty when the crypto library refuses.
  static foundation::Bytes hashData(std::span<const std::uint8_t> data);
  static std::string hashDataToHexString(std::span<const std::uint8_t> data);
  // MD5 of the UTF-8 bytes as 32 lower-case hexadecimal digits; empty when the library refuses.
  static std::string md5String(std::string_view text);
  // CRC-32 as in zlib (reflected 0xEDB88320, start and final inversion); 0 for no data.
  static std::uint32_t dataChecksum(std::span<const std::uint8_t> data);
  // The "fm-checksum" header text: the CRC-32 as a signed 32-bit decimal.
  static std::string fmChecksum(std::span<const std::uint8_t> data);
  // A hash that stays the same across builds and launches (32-bit FNV-1a of the UTF-8 bytes, read
  // as signed), for file names derived from the API key.
  static std::int32_t stableHash(std::string_view text);

  // ---- Numbers

  static std::uint32_t uint32FromNSUInteger(std::uint64_t value);
  static std::int32_t int32FromNSInteger(std::int64_t value);
  // Three decimals, truncated toward zero.
  static double reduceLocationPrecision(double value);

  // ---- URL and parameter helpers

  // Percent-escapes the UTF-8 bytes of everything but letters, digits and "-._~".
  static std::string encodeToPercentEscapeString(std::string_view text);
  // Percent-escapes only what may not stand in a URL.
  static std::string encodeIllegalCharsToPercentEscapeString(std::string_view text);
  // Replaces every "%XX"; nothing when an escape is malformed or the result is not UTF-8.
  static std::optional<std::string> decodeFromPercentEscapeString(std::string_view text);
  // Splits "header?k=v&k2=v2": the header and the query text go to the optional outputs; the
  // pairs (pieces with at least one "=") come back as a dictionary; nothing without a "?".
  static std::optional<foundation::Dictionary> createParamKeysDictFromUrlParams(std::string_view url,
                                                                                std::string* header,
                                                                                std::string* query);
  // (position, length) of the first occurrence of the needle; (0, 0) when there is none.
  static std::pair<size_t, size_t> tallyRangeOfData(std::span<const std::uint8_t> needle,
                                                    std::span<const std::uint8_t> haystack);
  // Replaces each "$(NAME)" by the dictionary's text under "$(NAME)" (empty when missing), again
  // from the start after each replacement, so values may hold placeholders too; at most
  // kMaxSubstitutions replacements, so a value that names itself cannot loop forever.
  static constexpr int kMaxSubstitutions = 256;
  static void substituteParamsInURL(std::string& url, const foundation::Dictionary& values);
  static foundation::Value firstElementFromArray(const foundation::Value& array);

  // ---- Cookies and opt-out

  // Stores, replaces or (for an empty value) removes the cookie in the settings' cookie map, under
  // the key's bytes (text or not); true when the map changed. A new key is dropped once the map
  // holds 1000 cookies, and so is an empty key. Nothing is written to disk here.
  static bool updateIfChangedCookieValue(const foundation::Bytes& value, const foundation::Bytes& key);
  static void setTallyOptOut(bool optOut);
  static bool hasUserOptedOut();

  // ---- Debug counters (level 2 or more only)

  static void incrementCounter(std::string_view name);
  static void decrementCounter(std::string_view name);
  static void incrementCounter(std::string_view name, std::string_view location);
  static void decrementCounter(std::string_view name, std::string_view location);
  static void printCounters();
  static foundation::Dictionary allCounters();

  // ---- The SDK's clock

  // Where the SDK takes "now" from: the system clock unless a test installs another (nullptr
  // restores the system clock). The clock must outlive its use.
  static foundation::Clock& clock();
  static void setClock(foundation::Clock* clock);
};

// Measurements of the process and host for the session parameters.
// The process's CPU use in percent: each thread's CPU time over its lifetime, summed; -1 when the
// task's threads cannot be read.
float tallyCpuLoad();
// Bytes of the host's memory by kind: locked (wired), active, inactive and free; 0 when unknown.
std::uint64_t tallyWiredMemory();
std::uint64_t tallyActiveMemory();
std::uint64_t tallyInactiveMemory();
std::uint64_t tallyFreeMemory();

}  // namespace analytics
