#pragma once
// The user's preferences: one property list per application in Library/Preferences, named
// after the bundle identifier ("<identifier>.plist"), plus registered defaults that are never
// written. Values are property-list values (no null). Reads and writes are thread-safe.
//
// Changes live in memory until synchronize() writes the whole file atomically; an instance
// that goes away with unsaved changes writes them then. A file that cannot be read counts as
// empty preferences (logged, never fatal) and is replaced at the next synchronize().

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace runtime {

// The user's interface languages, most preferred first, as the platform names them ("en",
// "ru", "zh-Hans", "pt-PT"), from the process's locale environment (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG); ["en"] when it names none.
std::vector<std::string> systemPreferredLanguages();

class UserDefaults {
 public:
  // The interface languages; the language screen writes it and localised text follows it.
  static constexpr std::string_view kAppleLanguagesKey = "AppleLanguages";

  // Preferences kept in `file`; "AppleLanguages" is registered as `preferredLanguages`.
  explicit UserDefaults(std::filesystem::path file,
                        std::vector<std::string> preferredLanguages = systemPreferredLanguages());
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // Library/Preferences/<bundle identifier>.plist under the home.
  static std::filesystem::path fileFor(const files::AppHome& home, std::string_view bundleIdentifier);

  // The process-wide preferences. Until one is installed, the first call makes one for the
  // main bundle's identifier under the home named by the environment.
  static std::shared_ptr<UserDefaults> standard();
  // Installs the process-wide preferences (nullptr drops them) and returns the previous ones.
  static std::shared_ptr<UserDefaults> setStandard(std::shared_ptr<UserDefaults> defaults);

  const std::filesystem::path& path() const { return path_; }

  // The stored value, else the registered one, else null.
  foundation::Value objectForKey(std::string_view key) const;
  // Text, or a number's text; nothing for anything else.
  std::optional<std::string> stringForKey(std::string_view key) const;
  // Numbers (reals truncated), booleans as 0 and 1, and text read as its leading integer; 0
  // for anything else.
  std::int64_t integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  // Non-zero numbers; text starting with Y, y, T, t or a digit 1-9 (after blanks, a sign and
  // zeros); false for anything else.
  bool boolForKey(std::string_view key) const;
  std::optional<foundation::Array> arrayForKey(std::string_view key) const;
  // An array whose elements are all text.
  std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
  std::optional<foundation::Dictionary> dictionaryForKey(std::string_view key) const;
  std::optional<foundation::Bytes> dataForKey(std::string_view key) const;

  // Stores the value; null removes the key. Fails, storing nothing, for a value a property
  // list cannot hold.
  foundation::Status setObject(std::string_view key, foundation::Value value);
  foundation::Status setString(std::string_view key, std::string_view value);
  foundation::Status setArray(std::string_view key, foundation::Array value);
  foundation::Status setDictionary(std::string_view key, foundation::Dictionary value);
  void setInteger(std::string_view key, std::int64_t value);
  void setDouble(std::string_view key, double value);
  void setBool(std::string_view key, bool value);
  void removeObjectForKey(std::string_view key);

  // Values to fall back on; they replace registered values of the same keys, never stored ones.
  void registerDefaults(const foundation::Dictionary& defaults);

  // Writes the stored values when they changed since the last write. The folder is created
  // when missing.
  foundation::Status synchronize();

  // "AppleLanguages" as text, most preferred first (entries that are not text are skipped).
  std::vector<std::string> preferredLanguages() const;
  // Registered values overlaid with stored ones.
  foundation::Dictionary dictionaryRepresentation() const;

 private:
  const foundation::Value* find(std::string_view key) const;
  foundation::Status writeLocked();

  mutable std::mutex mutex_;
  std::filesystem::path path_;
  foundation::Dictionary stored_;
  foundation::Dictionary registered_;
  bool dirty_ = false;
};

}  // namespace runtime
