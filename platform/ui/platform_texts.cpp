#include "platform/ui/platform_texts.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"

namespace ui {

std::string platformText(std::string_view english) {
  const auto languages = runtime::UserDefaults::standard()->preferredLanguages();
  if (languages.empty() || languages.front() == "en") return std::string(english);
  const std::string& language = languages.front();
  // A language code names a folder inside the bundle, never a path out of it.
  if (language.empty() || language.find_first_of("/\\") != std::string::npos || language.starts_with("."))
    return std::string(english);
  static std::mutex mutex;
  static std::map<std::filesystem::path, std::shared_ptr<runtime::Bundle>> bundles;
  const std::filesystem::path folder = runtime::Bundle::main()->bundlePath() / (language + ".lproj");
  std::shared_ptr<runtime::Bundle> bundle;
  {
    std::lock_guard lock(mutex);
    auto& kept = bundles[folder];
    if (!kept && std::filesystem::is_directory(folder)) kept = std::make_shared<runtime::Bundle>(folder);
    bundle = kept;
  }
  return bundle ? bundle->localizedStringForKey(english, english, "Platform") : std::string(english);
}

}  // namespace ui
