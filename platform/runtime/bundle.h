#pragma once
// A bundle: a folder of resources with its Info.plist, "<language>.lproj" folders of string
// tables, and images. The main bundle is the repository's resources/ folder; tests point one
// at a temporary folder.
//
// Localised text follows one rule everywhere: the key is looked up in the table
// "Localizable.strings" of the main bundle's resource named after the first preferred language
// with the type "lproj", with an empty default and no table name. A key the table lacks, a
// table that cannot be read, and a language without a folder all give the key itself.
//
// The preferred languages are the person's choice, the standard preferences' "AppleLanguages"
// (the system's languages until something stores a choice), read at every lookup, so that a
// bundle's own lookups follow the same language as the application's texts.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace runtime {

// Info.plist keys the system reads.
inline constexpr std::string_view kBundleIdentifierKey = "CFBundleIdentifier";
inline constexpr std::string_view kBundleShortVersionStringKey = "CFBundleShortVersionString";
inline constexpr std::string_view kBundleVersionKey = "CFBundleVersion";
inline constexpr std::string_view kBundleDisplayNameKey = "CFBundleDisplayName";
inline constexpr std::string_view kBundleDevelopmentRegionKey = "CFBundleDevelopmentRegion";

// An image file found by name, and the scale its name declares (2 for "name@2x.png").
struct ImageResource {
  std::filesystem::path path;
  double scale = 1;
};

class Bundle {
 public:
  // Reads <root>/Info.plist (XML or binary); a missing or damaged one leaves the information
  // empty (a damaged one is logged). `preferredLanguages` chooses the localisation that
  // localizedStringForKey and pathForResource search; empty, the standard preferences'
  // "AppleLanguages" choose it at each lookup (as they do for the main bundle).
  explicit Bundle(std::filesystem::path root, std::vector<std::string> preferredLanguages = {});
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  // The process-wide main bundle. Until one is installed, the first call makes one over the
  // folder named by DIARY_RESOURCES, else over the resources folder fixed when the program was
  // built; its localisation follows "AppleLanguages".
  static std::shared_ptr<Bundle> main();
  // Installs the main bundle (nullptr drops it) and returns the previous one.
  static std::shared_ptr<Bundle> setMain(std::shared_ptr<Bundle> bundle);

  const std::filesystem::path& bundlePath() const { return root_; }
  const foundation::Dictionary& infoDictionary() const { return info_; }
  // The Info.plist value, or null.
  foundation::Value objectForInfoDictionaryKey(std::string_view key) const;
  // "CFBundleIdentifier", or "" when there is none.
  std::string bundleIdentifier() const;

  // The file or folder "<name>.<type>" ("<name>" for an empty type) in the subdirectory, else in
  // the folders of the preferred localisations; nothing when absent or when a name would
  // leave the bundle.
  std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view type,
                                                       std::string_view subdirectory = {}) const;
  // The names of the "<name>.lproj" folders, sorted (read once, as resources do not change).
  std::vector<std::string> localizations() const;
  // The localisations to use, best first: the first preferred language the bundle has, else the
  // development region's, else the first it has; empty for a bundle without localisations.
  // Reads the standard preferences when the bundle was given no languages: never call it while
  // holding a lock those preferences may wait for.
  std::vector<std::string> preferredLocalizations() const;

  // Looks an image up by name ("iPhone_nav_bar" or "icon.png"; "png" when no extension is
  // given), preferring the variant for the screen scale ("name@2x.png" on a 2x screen) and
  // falling back to the others. Only finds the file; decoding is the graphics module's.
  std::optional<ImageResource> pathForImage(std::string_view name, double screenScale) const;

  // The text for the key in table `table` ("Localizable" when empty) of the best localisation
  // (or, when that has no such table, of the bundle's own folder). Missing: `value`, or the key
  // when `value` is empty. Each table is read once and kept.
  std::string localizedStringForKey(std::string_view key, std::string_view value = {},
                                    std::string_view table = {}) const;

  // The system's rule for visible text: the key in the bundle "<language>.lproj" inside this
  // one, with an empty default and no table (or the given one: the platform's own texts keep theirs
  // apart). The key itself when the language has no folder.
  std::string localizedStringInLanguage(std::string_view key, std::string_view language,
                                        std::string_view table = {}) const;
  // Whether a "<language>.lproj" folder exists (looked for once per language).
  bool hasLocalization(std::string_view language) const;

 private:
  // The table `file` of the localisation ("" for none), else of the bundle's own folder; null
  // when neither has it.
  const foundation::Dictionary* tableLocked(const std::string& localization, const std::string& file) const;
  const std::vector<std::string>& localizationsLocked() const;
  // The bundle of "<language>.lproj", null when the folder is absent.
  const std::shared_ptr<Bundle>& languageBundleLocked(std::string_view language) const;

  std::filesystem::path root_;
  std::vector<std::string> preferredLanguages_;
  foundation::Dictionary info_;

  mutable std::mutex mutex_;
  mutable std::optional<std::vector<std::string>> localizations_;
  // Tables by the path of the localisation's file ("ru.lproj/Localizable.strings", or the file
  // name alone for none); null for a table the bundle lacks.
  mutable std::map<std::string, std::unique_ptr<foundation::Dictionary>, std::less<>> tables_;
  mutable std::map<std::string, std::shared_ptr<Bundle>, std::less<>> languageBundles_;
};

// Localised text for the key by the system's rule: the main bundle, the first of the standard
// preferences' "AppleLanguages".
std::string localizedString(std::string_view key);

}  // namespace runtime
