#include "platform/runtime/bundle.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/strings_file.h"
#include "platform/runtime/user_defaults.h"

namespace runtime {

namespace fs = std::filesystem;
using foundation::Dictionary;
using foundation::Value;

namespace {

constexpr std::string_view kLprojType = "lproj";
constexpr std::string_view kDefaultTable = "Localizable";

// A single file name: no separators, no NUL, not "." or "..".
bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// A relative folder path that stays inside the bundle.
bool isInnerPath(std::string_view path) {
  if (path.empty()) return true;
  if (path.find('\0') != std::string_view::npos) return false;
  const fs::path p(path);
  if (p.is_absolute()) return false;
  for (const auto& part : p) {
    if (part == "..") return false;
  }
  return true;
}

std::string fileName(std::string_view name, std::string_view type) {
  std::string file(name);
  if (!type.empty()) {
    file.push_back('.');
    file.append(type);
  }
  return file;
}

std::mutex& mainMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<Bundle>& mainSlot() {
  static std::shared_ptr<Bundle> slot;
  return slot;
}

fs::path defaultResources() {
  if (const char* configured = std::getenv("DIARY_RESOURCES"); configured && *configured) return configured;
#ifdef DIARY_RESOURCES_DIR
  // Fixed when the program is built, so that it finds its bundle from whatever folder it starts in.
  return DIARY_RESOURCES_DIR;
#else
  return fs::absolute("resources");
#endif
}

}  // namespace

Bundle::Bundle(fs::path root, std::vector<std::string> preferredLanguages)
    : root_(std::move(root)), preferredLanguages_(std::move(preferredLanguages)) {
  const fs::path infoPath = root_ / "Info.plist";
  if (!files::exists(infoPath)) return;
  auto bytes = files::readFile(infoPath);
  auto value = bytes ? plist::readPropertyList(*bytes) : foundation::Result<Value>(bytes.error());
  if (!value || !value->dictionary()) {
    foundation::log(
        "Bundle: ignoring damaged " + infoPath.string() + ": " +
        (value ? std::string("the root is not a dictionary") : value.error().localizedDescription()));
    return;
  }
  info_ = std::move(*value->dictionary());
}

std::shared_ptr<Bundle> Bundle::main() {
  std::lock_guard lock(mainMutex());
  auto& slot = mainSlot();
  // No languages of its own: the person's choice in the preferences picks its localisation, as
  // it does the application's texts.
  if (!slot) slot = std::make_shared<Bundle>(defaultResources());
  return slot;
}

std::shared_ptr<Bundle> Bundle::setMain(std::shared_ptr<Bundle> bundle) {
  std::lock_guard lock(mainMutex());
  return std::exchange(mainSlot(), std::move(bundle));
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const { return info_[key]; }

std::string Bundle::bundleIdentifier() const { return info_[kBundleIdentifierKey].stringOr(""); }

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                std::string_view subdirectory) const {
  if (!isPlainName(name) || (!type.empty() && !isPlainName(type)) || !isInnerPath(subdirectory))
    return std::nullopt;
  const std::string file = fileName(name, type);
  std::vector<fs::path> folders{root_ / subdirectory};
  for (const auto& localization : preferredLocalizations()) {
    folders.push_back(root_ / fileName(localization, kLprojType) / subdirectory);
  }
  std::error_code error;
  for (const auto& folder : folders) {
    fs::path candidate = folder / file;
    if (fs::exists(candidate, error)) return candidate.lexically_normal();
  }
  return std::nullopt;
}

std::vector<std::string> Bundle::localizations() const {
  std::lock_guard lock(mutex_);
  return localizationsLocked();
}

const std::vector<std::string>& Bundle::localizationsLocked() const {
  if (localizations_) return *localizations_;
  std::vector<std::string> names;
  if (auto entries = files::listDirectory(root_)) {
    const std::string suffix = "." + std::string(kLprojType);
    for (const auto& entry : *entries) {
      if (entry.size() > suffix.size() && entry.ends_with(suffix) && files::isDirectory(root_ / entry)) {
        names.push_back(entry.substr(0, entry.size() - suffix.size()));
      }
    }
  }
  std::sort(names.begin(), names.end());
  localizations_ = std::move(names);
  return *localizations_;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
  std::vector<std::string> available;
  {
    std::lock_guard lock(mutex_);
    available = localizationsLocked();
  }
  if (available.empty()) return {};
  // The preferences are read outside the lock: making the standard ones asks the main bundle
  // for its identifier.
  const std::vector<std::string> languages =
      preferredLanguages_.empty() ? UserDefaults::standard()->preferredLanguages() : preferredLanguages_;
  for (const auto& language : languages) {
    if (std::find(available.begin(), available.end(), language) != available.end()) return {language};
  }
  const std::string development = info_[kBundleDevelopmentRegionKey].stringOr("");
  if (std::find(available.begin(), available.end(), development) != available.end()) return {development};
  return {available.front()};
}

std::optional<ImageResource> Bundle::pathForImage(std::string_view name, double screenScale) const {
  if (!isPlainName(name)) return std::nullopt;
  std::string_view stem = name;
  std::string_view extension = "png";
  if (const size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) {
    stem = name.substr(0, dot);
    extension = name.substr(dot + 1);
  }
  std::vector<int> scales;
  if (screenScale >= 2.5) {
    scales = {3, 2, 1};
  } else if (screenScale >= 1.5) {
    scales = {2, 3, 1};
  } else {
    scales = {1, 2, 3};
  }
  for (int scale : scales) {
    std::string candidate(stem);
    if (scale > 1) candidate += "@" + std::to_string(scale) + "x";
    if (auto path = pathForResource(candidate, extension)) {
      if (!files::isDirectory(*path)) return ImageResource{*path, static_cast<double>(scale)};
    }
  }
  return std::nullopt;
}

const Dictionary* Bundle::tableLocked(const std::string& localization, const std::string& file) const {
  const std::string localized = localization.empty() ? file : fileName(localization, kLprojType) + "/" + file;
  if (auto it = tables_.find(localized); it != tables_.end()) return it->second.get();
  std::optional<fs::path> found;
  if (isPlainName(file) && (localization.empty() || isPlainName(localization))) {
    for (const auto& candidate : {root_ / localized, root_ / file}) {
      if (files::exists(candidate) && !files::isDirectory(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  std::unique_ptr<Dictionary> entries;
  if (found) {
    entries = std::make_unique<Dictionary>();
    auto bytes = files::readFile(*found);
    auto parsed = bytes ? parseStringsFile(*bytes) : foundation::Result<Dictionary>(bytes.error());
    if (parsed) {
      *entries = std::move(*parsed);
    } else {
      foundation::log("Bundle: ignoring unreadable string table " + found->string() + ": " +
                      parsed.error().localizedDescription());
    }
  }
  return tables_.emplace(localized, std::move(entries)).first->second.get();
}

std::string Bundle::localizedStringForKey(std::string_view key, std::string_view value,
                                          std::string_view table) const {
  const std::string file = fileName(table.empty() ? kDefaultTable : table, "strings");
  const std::vector<std::string> localizations = preferredLocalizations();
  {
    std::lock_guard lock(mutex_);
    if (const Dictionary* entries = tableLocked(localizations.empty() ? "" : localizations.front(), file)) {
      if (const Value* text = entries->find(key)) return text->stringOr("");
    }
  }
  return std::string(value.empty() ? key : value);
}

bool Bundle::hasLocalization(std::string_view language) const {
  std::lock_guard lock(mutex_);
  return languageBundleLocked(language) != nullptr;
}

const std::shared_ptr<Bundle>& Bundle::languageBundleLocked(std::string_view language) const {
  // Every visible text asks for its language, and resources do not change while the program
  // runs: each language's folder is looked for on disk once, and its bundle kept (null: none).
  // A change of language only asks for another entry.
  if (auto it = languageBundles_.find(language); it != languageBundles_.end()) return it->second;
  std::shared_ptr<Bundle> bundle;
  if (isPlainName(language)) {
    const fs::path folder = root_ / fileName(language, kLprojType);
    if (files::isDirectory(folder)) bundle = std::make_shared<Bundle>(folder);
  }
  return languageBundles_.emplace(std::string(language), std::move(bundle)).first->second;
}

std::string Bundle::localizedStringInLanguage(std::string_view key, std::string_view language,
                                              std::string_view table) const {
  std::shared_ptr<Bundle> bundle;
  {
    std::lock_guard lock(mutex_);
    bundle = languageBundleLocked(language);
  }
  if (!bundle) return std::string(key);
  return bundle->localizedStringForKey(key, "", table);
}

std::string localizedString(std::string_view key) {
  const auto languages = UserDefaults::standard()->preferredLanguages();
  return Bundle::main()->localizedStringInLanguage(
      key, languages.empty() ? std::string_view() : languages.front());
}

}  // namespace runtime
