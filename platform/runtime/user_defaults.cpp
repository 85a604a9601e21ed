#include "platform/runtime/user_defaults.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/bundle.h"

namespace runtime {

using foundation::Array;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "de_DE.UTF-8" -> "de", "zh_TW" -> "zh-Hant", "pt_PT" -> "pt-PT"; nothing for "C", "POSIX"
// and anything that does not start with a language code.
std::optional<std::string> platformLanguage(std::string_view posix) {
  posix = posix.substr(0, posix.find_first_of(".@"));
  const size_t split = posix.find_first_of("_-");
  const std::string language = lower(posix.substr(0, split));
  const std::string region = split == std::string_view::npos ? "" : std::string(posix.substr(split + 1));
  if (language.size() < 2 || language.size() > 3) return std::nullopt;
  for (char c : language) {
    if (c < 'a' || c > 'z') return std::nullopt;
  }
  if (language == "zh") {
    return (region == "TW" || region == "HK" || region == "MO" || region == "Hant") ? "zh-Hant" : "zh-Hans";
  }
  if (language == "pt" && region == "PT") return "pt-PT";
  return language;
}

std::string_view skipBlanks(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return text.substr(i);
}

// The leading integer of text, as the platform's integerValue reads it; saturates.
std::int64_t leadingInteger(std::string_view text) {
  text = skipBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    const int digit = c - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) {
      return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

double leadingDouble(std::string_view text) {
  text = skipBlanks(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) return 0;
  return value;
}

bool leadingBool(std::string_view text) {
  text = skipBlanks(text);
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  while (!text.empty() && text[0] == '0') text.remove_prefix(1);
  if (text.empty()) return false;
  const char c = text[0];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::mutex& standardMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<UserDefaults>& standardSlot() {
  static std::shared_ptr<UserDefaults> slot;
  return slot;
}

}  // namespace

std::vector<std::string> systemPreferredLanguages() {
  std::vector<std::string> names;
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      names.emplace_back(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) {
      names.emplace_back(value);
      break;
    }
  }
  std::vector<std::string> languages;
  for (const auto& name : names) {
    auto language = platformLanguage(name);
    if (language && std::find(languages.begin(), languages.end(), *language) == languages.end()) {
      languages.push_back(*language);
    }
  }
  if (languages.empty()) languages.push_back("en");
  return languages;
}

UserDefaults::UserDefaults(std::filesystem::path file, std::vector<std::string> preferredLanguages)
    : path_(std::move(file)) {
  Array languages;
  for (auto& language : preferredLanguages) languages.emplace_back(std::move(language));
  registered_.set(std::string(kAppleLanguagesKey), Value(std::move(languages)));

  if (!files::exists(path_)) return;
  auto bytes = files::readFile(path_);
  if (!bytes) {
    foundation::log("UserDefaults: ignoring unreadable preferences " + path_.string() + ": " +
                    bytes.error().localizedDescription());
    return;
  }
  auto value = plist::readPropertyList(*bytes);
  if (!value || !value->dictionary()) {
    foundation::log(
        "UserDefaults: ignoring damaged preferences " + path_.string() + ": " +
        (value ? std::string("the root is not a dictionary") : value.error().localizedDescription()));
    return;
  }
  stored_ = std::move(*value->dictionary());
}

UserDefaults::~UserDefaults() {
  std::lock_guard lock(mutex_);
  if (!dirty_) return;
  if (auto status = writeLocked(); !status) {
    foundation::log("UserDefaults: could not save preferences " + path_.string() + ": " +
                    status.error().localizedDescription());
  }
}

std::filesystem::path UserDefaults::fileFor(const files::AppHome& home, std::string_view bundleIdentifier) {
  return home.preferences() / (std::string(bundleIdentifier) + ".plist");
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  std::lock_guard lock(standardMutex());
  auto& slot = standardSlot();
  if (!slot) {
    std::string identifier = Bundle::main()->bundleIdentifier();
    if (identifier.empty()) identifier = "diary";
    slot = std::make_shared<UserDefaults>(fileFor(files::AppHome::fromEnvironment(), identifier));
  }
  return slot;
}

std::shared_ptr<UserDefaults> UserDefaults::setStandard(std::shared_ptr<UserDefaults> defaults) {
  std::lock_guard lock(standardMutex());
  return std::exchange(standardSlot(), std::move(defaults));
}

const Value* UserDefaults::find(std::string_view key) const {
  if (const Value* value = stored_.find(key)) return value;
  return registered_.find(key);
}

Value UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  return value ? *value : Value();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value) return std::nullopt;
  if (const std::string* text = value->string()) return *text;
  if (const bool* b = value->boolean()) return *b ? "1" : "0";
  if (const std::int64_t* i = value->integer()) return std::to_string(*i);
  if (value->isNumber()) return value->description();
  return std::nullopt;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value) return 0;
  if (const std::string* text = value->string()) return leadingInteger(*text);
  if (const double* real = value->real()) {
    if (!std::isfinite(*real) || std::fabs(*real) >= 9.2e18) return 0;
  }
  return value->toInteger().value_or(0);
}

double UserDefaults::doubleForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value) return 0;
  if (const std::string* text = value->string()) return leadingDouble(*text);
  return value->toDouble().value_or(0);
}

bool UserDefaults::boolForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value) return false;
  if (const bool* b = value->boolean()) return *b;
  if (const std::string* text = value->string()) return leadingBool(*text);
  return value->toDouble().value_or(0) != 0;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value || !value->array()) return std::nullopt;
  return *value->array();
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value || !value->array()) return std::nullopt;
  std::vector<std::string> strings;
  for (const Value& item : *value->array()) {
    if (!item.isString()) return std::nullopt;
    strings.push_back(*item.string());
  }
  return strings;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

std::optional<Bytes> UserDefaults::dataForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const Value* value = find(key);
  if (!value || !value->data()) return std::nullopt;
  return *value->data();
}

foundation::Status UserDefaults::setObject(std::string_view key, Value value) {
  if (value.isNull()) {
    removeObjectForKey(key);
    return {};
  }
  if (auto valid = plist::validatePropertyList(Value(Dictionary{{std::string(key), value}})); !valid) {
    return valid.error();
  }
  std::lock_guard lock(mutex_);
  stored_.set(std::string(key), std::move(value));
  dirty_ = true;
  return {};
}

foundation::Status UserDefaults::setString(std::string_view key, std::string_view value) {
  return setObject(key, Value(value));
}

foundation::Status UserDefaults::setArray(std::string_view key, Array value) {
  return setObject(key, Value(std::move(value)));
}

foundation::Status UserDefaults::setDictionary(std::string_view key, Dictionary value) {
  return setObject(key, Value(std::move(value)));
}

void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
  (void)setObject(key, Value(static_cast<long long>(value)));
}

void UserDefaults::setDouble(std::string_view key, double value) { (void)setObject(key, Value(value)); }

void UserDefaults::setBool(std::string_view key, bool value) { (void)setObject(key, Value(value)); }

void UserDefaults::removeObjectForKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (stored_.erase(key)) dirty_ = true;
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : defaults) registered_.set(key, value);
}

foundation::Status UserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  if (!dirty_) return {};
  return writeLocked();
}

foundation::Status UserDefaults::writeLocked() {
  auto bytes = plist::writePropertyList(Value(stored_), plist::Format::Binary);
  if (!bytes) return bytes.error();
  if (auto made = files::createDirectory(path_.parent_path()); !made) return made.error();
  if (auto written = files::writeAtomic(path_, *bytes); !written) return written.error();
  dirty_ = false;
  return {};
}

std::vector<std::string> UserDefaults::preferredLanguages() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> languages;
  const Value* value = find(kAppleLanguagesKey);
  if (!value || !value->array()) return languages;
  for (const Value& item : *value->array()) {
    if (const std::string* text = item.string()) languages.push_back(*text);
  }
  return languages;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  Dictionary all = registered_;
  for (const auto& [key, value] : stored_) all.set(key, value);
  return all;
}

}  // namespace runtime
