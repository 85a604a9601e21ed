#include "platform/ui/platform_texts.h"

#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"

namespace ui {

std::string platformText(std::string_view english) {
  const auto languages = runtime::UserDefaults::standard()->preferredLanguages();
  if (languages.empty() || languages.front() == "en") return std::string(english);
  // The bundle keeps each language's folder and tables once read, and never leaves itself for a
  // language code that is not a plain name.
  return runtime::Bundle::main()->localizedStringInLanguage(english, languages.front(), "Platform");
}

}  // namespace ui
