#include "analytics/tally_util.h"

#include <cxxabi.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <typeinfo>

#include "analytics/global_variable_storage.h"
#include "analytics/keychain_wrapper.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"
#include "platform/plist/keyed_archive.h"
#include "platform/security/digest.h"
#include "platform/security/keychain.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;

std::atomic<std::uint32_t> gLogLevel{1};
std::atomic<bool> gShowErrors{false};
std::atomic<foundation::Clock*> gClock{nullptr};

// The class-wide lock of the operations the SDK serialises (opt-out, counters, identifiers).
std::mutex& classMutex() {
  static std::mutex m;
  return m;
}

struct Place {
  std::mutex mutex;
  std::optional<files::AppHome> home;
  std::shared_ptr<security::Keychain> keychain;
};

Place& place() {
  static Place p;
  return p;
}

void print(std::string_view format, std::initializer_list<foundation::Value> args = {}) {
  TallyUtil::log(2, format, args);
}

// "TallyFiles" under `parent`, owner-only; below system `fromVersion` the Caches folder instead.
foundation::Result<fs::path> sdkFolder(const fs::path& parent, std::int64_t fromVersion) {
  files::AppHome home = TallyUtil::home();
  bool old = TallyUtil::getSystemVersionAsAnInteger() < fromVersion;
  fs::path folder = old ? home.caches() : parent / kTallyFilesFolderName;
  if (auto status = files::createDirectory(folder); !status) return status.error();
  if (!old) {
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
  }
  return folder;
}

}  // namespace

// ---- Logging and errors

void TallyUtil::setLogLevel(std::uint32_t level) { gLogLevel = level; }
std::uint32_t TallyUtil::logLevel() { return gLogLevel; }
void TallyUtil::setShowErrorInLogEnabled(bool enabled) { gShowErrors = enabled; }
bool TallyUtil::showErrorInLogEnabled() { return gShowErrors; }

void TallyUtil::log(std::uint32_t level, std::string_view format,
                    std::initializer_list<foundation::Value> args) {
  std::uint32_t current = gLogLevel;
  bool shown = level >= 2 ? current >= 2 : current != 0;
  if (shown) foundation::log(foundation::text::format(format, args));
}

void TallyUtil::handleException(std::exception_ptr exception) noexcept {
  if (!gShowErrors || !exception) return;
  try {
    try {
      std::rethrow_exception(exception);
    } catch (const std::exception& e) {
      print("Tally: Caught Exception in Tally Analytics Code");
      print("Tally: -----------------------------------------");
      print("Tally: Name:%@ Reason:%@", {typeName(typeid(e)), e.what()});
      print("Tally: %@", {"(null)"});
    } catch (...) {
      print("Tally: Caught Error in Tally Analytics Code");
      print("Tally: %@", {"an exception of unknown type"});
    }
  } catch (...) {
    // Printing failed as well (out of memory): nothing more can be done.
  }
}

void TallyUtil::handleError(const foundation::Error& error) noexcept {
  if (!gShowErrors) return;
  try {
    print("Tally: Caught Error in Tally Analytics Code");
    print("Tally: -----------------------------------------");
    print("Tally: Code:%ld Domain:%@", {error.code, error.domain});
    print("Tally: %@", {foundation::Value(error.userInfo)});
  } catch (...) {
  }
}

// ---- Where the SDK keeps its things

void TallyUtil::setHome(std::optional<files::AppHome> home) {
  std::lock_guard lock(place().mutex);
  place().home = std::move(home);
  place().keychain.reset();
}

files::AppHome TallyUtil::home() {
  std::lock_guard lock(place().mutex);
  if (!place().home) place().home = files::AppHome::fromEnvironment();
  return *place().home;
}

namespace {

// The keychain outlives any clock a test installs, so it asks for the SDK's clock at every use.
class SdkClock final : public foundation::Clock {
 public:
  foundation::Date now() const override { return TallyUtil::clock().now(); }
};

}  // namespace

std::shared_ptr<security::Keychain> TallyUtil::keychain() {
  static SdkClock sdkClock;
  files::AppHome where = home();
  std::lock_guard lock(place().mutex);
  if (!place().keychain) place().keychain = std::make_shared<security::Keychain>(where, sdkClock);
  return place().keychain;
}

foundation::Result<fs::path> TallyUtil::filePathDirectory() {
  auto folder = sdkFolder(home().applicationSupport(), 50100);
  if (folder) addSkipBackupAttributeToItemAtURL(*folder);
  return folder;
}

foundation::Result<fs::path> TallyUtil::oldFilePathDirectoryUptilAgentVersion109() {
  return sdkFolder(home().library(), 50001);
}

bool TallyUtil::addSkipBackupAttributeToItemAtURL(const fs::path& path) {
  if (getSystemVersionAsAnInteger() < 50001) return false;
  const char one = 1;
  // Some file systems take no "user." attributes: the item is kept all the same, only not marked.
  return ::setxattr(path.c_str(), std::string(kSkipBackupAttribute).c_str(), &one, 1, 0) == 0;
}

foundation::Status TallyUtil::writeSdkFile(const fs::path& path, const foundation::Bytes& data,
                                           bool skipBackup) {
  auto status =
      files::writeAtomic(path, data.data(), data.size(), fs::perms::owner_read | fs::perms::owner_write);
  if (status && skipBackup) addSkipBackupAttributeToItemAtURL(path);
  return status;
}

namespace {

// What `unarchive` reads from the file's bytes; nothing for an empty path or a missing file, and a
// file that does not read is deleted.
template <class T, class Unarchive>
std::optional<T> safeUnarchive(const fs::path& path, Unarchive unarchive) {
  if (path.empty() || !files::exists(path)) return std::nullopt;
  auto bytes = files::readFile(path);
  if (!bytes) {
    TallyUtil::handleError(bytes.error());
    return std::nullopt;
  }
  foundation::Result<T> value = unarchive(*bytes);
  if (!value) {
    (void)files::remove(path);
    TallyUtil::handleError(value.error());
    return std::nullopt;
  }
  return std::move(*value);
}

foundation::Status archiveMapToFile(const foundation::Result<foundation::Bytes>& bytes,
                                    const fs::path& path) {
  foundation::Status status =
      bytes ? TallyUtil::writeSdkFile(path, *bytes) : foundation::Status(bytes.error());
  if (!status) {
    TallyUtil::log(2, "%s: map not saved to disk at path[%@]",
                   {"+[TallyUtil archiveDictionary:toFile:]", path.string()});
  }
  return status;
}

}  // namespace

std::optional<foundation::Value> TallyUtil::safeUnarchiveObjectWithFile(const fs::path& path) {
  return safeUnarchive<foundation::Value>(
      path, [](const foundation::Bytes& bytes) { return plist::unarchiveRootValue(bytes); });
}

std::optional<std::vector<plist::DictionaryEntry>> TallyUtil::safeUnarchiveEntriesWithFile(
    const fs::path& path, const plist::ClassRegistry& registry) {
  using Entries = std::vector<plist::DictionaryEntry>;
  auto entries = safeUnarchive<std::optional<Entries>>(path, [&](const foundation::Bytes& bytes) {
    std::optional<Entries> root;
    auto status = plist::unarchive(
        bytes, [&](plist::Decoder& top) { root = top.decodeEntries(plist::kRootKey); }, registry);
    return status ? foundation::Result<std::optional<Entries>>(std::move(root)) : status.error();
  });
  return entries ? std::move(*entries) : std::nullopt;
}

foundation::Status TallyUtil::archiveDictionary(const foundation::Value& object, const fs::path& path) {
  if (!object.isDictionary()) {
    return foundation::Error::make(std::string(files::kErrorDomain), files::kWriteUnknownError,
                                   "only a dictionary is archived");
  }
  return archiveMapToFile(plist::archiveRootValue(object), path);
}

foundation::Status TallyUtil::archiveEntries(const std::vector<plist::DictionaryEntry>& entries,
                                             const fs::path& path) {
  return archiveMapToFile(
      plist::archive([&](plist::Coder& top) { top.encodeEntries(plist::kRootKey, entries); }), path);
}

// ---- Identifiers that need no device

std::string TallyUtil::generateCFUUID() { return foundation::makeUuid(); }
std::string TallyUtil::generateCFUUIDBasedUID() { return "ID" + generateCFUUID(); }

std::optional<std::string> TallyUtil::getTallyId() {
  std::lock_guard lock(classMutex());
  return std::nullopt;
}

bool TallyUtil::isAdTrackingEnabled() { return true; }

std::string TallyUtil::getFixedSalt() {
  // Built from parts, as the SDK does, so the salt does not stand in the binary as one string.
  static constexpr std::array<std::string_view, 3> kParts = {"tA1", "ly#S4lt", "-v155"};
  std::string salt;
  for (auto part : kParts) salt += part;
  return salt;
}

void TallyUtil::cleanupStoredIdentifierForVendor() {
  std::lock_guard lock(classMutex());
  if (auto wrapper = TallyKeychainWrapper::keychainWrapperWithIdentifier(kTallyKeychainIdentifier)) {
    (void)wrapper->stringForKey("TallyDataKey");
    wrapper->removeObjectForKey("TallyDataKey");
  }
}

// ---- Hashes and checksums

foundation::Bytes TallyUtil::hashData(std::span<const std::uint8_t> data) {
  auto digest = security::sha1(data.first(uint32FromNSUInteger(data.size())));
  return digest ? std::move(*digest) : foundation::Bytes{};
}

std::string TallyUtil::hashDataToHexString(std::span<const std::uint8_t> data) {
  return security::toHex(data);
}

std::string TallyUtil::md5String(std::string_view text) {
  auto digest = security::md5(text);
  return digest ? security::toHex(*digest) : std::string();
}

namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

}  // namespace

std::uint32_t TallyUtil::dataChecksum(std::span<const std::uint8_t> data) {
  if (data.empty()) return 0;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : data) crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string TallyUtil::fmChecksum(std::span<const std::uint8_t> data) {
  return std::to_string(static_cast<std::int32_t>(dataChecksum(data)));
}

std::int32_t TallyUtil::stableHash(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<std::int32_t>(hash);
}

// ---- Numbers

std::uint32_t TallyUtil::uint32FromNSUInteger(std::uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::int32_t TallyUtil::int32FromNSInteger(std::int64_t value) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

double TallyUtil::reduceLocationPrecision(double value) { return std::trunc(value * 1000.0) / 1000.0; }

// ---- URL and parameter helpers

namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// The characters that may stand in a URL as they are: the unreserved ones, the reserved
// delimiters and "%" (an escape already made).
bool isLegalInUrl(unsigned char c) {
  return isUnreserved(c) ||
         std::string_view("!*'();:@&=+$,/?#[]%").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string escapeUnless(std::string_view text, bool (*keep)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (keep(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string TallyUtil::encodeToPercentEscapeString(std::string_view text) {
  return foundation::text::percentEscaped(text);
}

std::string TallyUtil::encodeIllegalCharsToPercentEscapeString(std::string_view text) {
  return escapeUnless(text, isLegalInUrl);
}

std::optional<std::string> TallyUtil::decodeFromPercentEscapeString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexDigit(text[i + 1]);
    int low = hexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (!foundation::text::isValidUtf8(out)) return std::nullopt;
  return out;
}

std::optional<foundation::Dictionary> TallyUtil::createParamKeysDictFromUrlParams(std::string_view url,
                                                                                  std::string* header,
                                                                                  std::string* query) {
  size_t mark = url.find('?');
  if (mark == std::string_view::npos) {
    if (header) *header = std::string(url);
    return std::nullopt;
  }
  if (header) *header = std::string(url.substr(0, mark));
  std::string_view rest = url.substr(mark + 1);
  if (query) *query = std::string(rest);
  foundation::Dictionary params;
  while (true) {
    size_t amp = rest.find('&');
    std::string_view piece = rest.substr(0, amp);
    if (size_t eq = piece.find('='); eq != std::string_view::npos) {
      std::string_view value = piece.substr(eq + 1);
      params.set(std::string(piece.substr(0, eq)), std::string(value.substr(0, value.find('='))));
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return params;
}

std::pair<size_t, size_t> TallyUtil::tallyRangeOfData(std::span<const std::uint8_t> needle,
                                                      std::span<const std::uint8_t> haystack) {
  if (needle.empty() || needle.size() > haystack.size()) return {0, 0};
  auto found = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
  if (found == haystack.end()) return {0, 0};
  return {static_cast<size_t>(found - haystack.begin()), needle.size()};
}

void TallyUtil::substituteParamsInURL(std::string& url, const foundation::Dictionary& values) {
  // "$(" then letters and "_" only, then ")".
  auto nextPlaceholder = [&url]() -> std::pair<size_t, size_t> {
    for (size_t start = url.find("$("); start != std::string::npos; start = url.find("$(", start + 1)) {
      size_t end = start + 2;
      while (end < url.size() && (std::isalpha(static_cast<unsigned char>(url[end])) || url[end] == '_'))
        ++end;
      if (end < url.size() && url[end] == ')') return {start, end + 1 - start};
    }
    return {std::string::npos, 0};
  };
  for (int done = 0; done < kMaxSubstitutions; ++done) {
    auto [start, length] = nextPlaceholder();
    if (start == std::string::npos) return;
    const foundation::Value* value = values.find(std::string_view(url).substr(start, length));
    url.replace(start, length, value ? value->stringOr("") : std::string());
  }
}

foundation::Value TallyUtil::firstElementFromArray(const foundation::Value& array) {
  const foundation::Array* items = array.array();
  return items && !items->empty() ? items->front() : foundation::Value();
}

// ---- Cookies and opt-out

bool TallyUtil::updateIfChangedCookieValue(const foundation::Bytes& value, const foundation::Bytes& key) {
  // The map keeps the key's bytes as they came, text or not.
  std::string name(key.begin(), key.end());
  if (name.empty()) return false;
  bool changed = false;
  TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kCookies, [&](foundation::Dictionary& cookies) {
        if (value.empty()) {
          cookies.erase(name);
          changed = true;
          return;
        }
        const foundation::Value* stored = cookies.find(name);
        if (stored && stored->data() && *stored->data() == value) return;
        if (!stored && cookies.size() >= kTallyMaxCookies) return;
        cookies.set(std::move(name), foundation::Value(value));
        changed = true;
      });
  return changed;
}

void TallyUtil::setTallyOptOut(bool optOut) {
  std::lock_guard lock(classMutex());
  if (auto wrapper = TallyKeychainWrapper::keychainWrapperWithIdentifier(kTallyKeychainIdentifier)) {
    (void)wrapper->setObject(foundation::Value(optOut), "TallyUserOptOut");
  }
}

bool TallyUtil::hasUserOptedOut() {
  std::lock_guard lock(classMutex());
  auto wrapper = TallyKeychainWrapper::keychainWrapperWithIdentifier(kTallyKeychainIdentifier);
  if (!wrapper) return false;
  auto stored = wrapper->objectForKey("TallyUserOptOut");
  return stored && stored->toInteger().value_or(0) != 0;
}

// ---- Debug counters

namespace {

std::map<std::string, std::int64_t>& counters() {
  static std::map<std::string, std::int64_t> c;
  return c;
}

void addToCounter(std::string name, std::int64_t delta) {
  if (TallyUtil::logLevel() < 2) return;
  std::lock_guard lock(classMutex());
  counters()[std::move(name)] += delta;
}

std::string locationName(std::string_view name, std::string_view location) {
  return foundation::text::format("%@_location_%@", {name, location});
}

}  // namespace

void TallyUtil::incrementCounter(std::string_view name) { addToCounter(std::string(name), 1); }
void TallyUtil::decrementCounter(std::string_view name) { addToCounter(std::string(name), -1); }
void TallyUtil::incrementCounter(std::string_view name, std::string_view location) {
  addToCounter(locationName(name, location), 1);
}
void TallyUtil::decrementCounter(std::string_view name, std::string_view location) {
  addToCounter(locationName(name, location), -1);
}

void TallyUtil::printCounters() {
  foundation::Dictionary all = allCounters();
  log(2, "=========== Printing All Counters [name, value] ===========");
  for (const auto& [name, value] : all) log(2, "[%-100s=> %5d]", {name, value});
  log(2, "===========================================================");
}

foundation::Dictionary TallyUtil::allCounters() {
  std::lock_guard lock(classMutex());
  foundation::Dictionary all;
  for (const auto& [name, value] : counters())
    all.set(name, foundation::Value(static_cast<long long>(value)));
  return all;
}

// ---- The SDK's clock

foundation::Clock& TallyUtil::clock() {
  foundation::Clock* clock = gClock;
  return clock != nullptr ? *clock : foundation::Clock::system();
}

void TallyUtil::setClock(foundation::Clock* clock) { gClock = clock; }

std::string TallyUtil::typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

}  // namespace analytics
