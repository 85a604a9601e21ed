#include "platform/foundation/locale.h"

#include <mutex>

#include "platform/foundation/icu_bridge.h"

namespace foundation {
namespace {

// Letters, digits, the part separators and the "@key=value;..." keyword syntax; anything else
// is no locale identifier.
bool looksLikeIdentifier(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '_' && c != '-' && c != '@' && c != '=' && c != ';' && c != '.') return false;
  }
  const auto languageEnd = text.find_first_of("_-@");
  const auto language = text.substr(0, languageEnd);
  if (language.size() == 1 || language.size() > 8) return false;
  for (const char c : language) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

std::mutex& defaultMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<Locale>& defaultLocale() {
  static std::optional<Locale> locale;
  return locale;
}

}  // namespace

icu::Locale IcuAccess::locale(const Locale& locale) { return icu::Locale(locale.identifier().c_str()); }

Locale::Locale(std::string_view identifier) {
  if (!looksLikeIdentifier(identifier)) return;
  const icu::Locale parsed(std::string(identifier).c_str());
  if (!parsed.isBogus()) identifier_ = parsed.getName();
}

Locale Locale::posix() { return Locale("en_US_POSIX"); }

Locale Locale::current() {
  {
    std::lock_guard lock(defaultMutex());
    if (defaultLocale()) return *defaultLocale();
  }
  // ICU reads the host's locale from the environment once; it is never changed by this program.
  static const Locale host(icu::Locale::getDefault().getName());
  return host;
}

void Locale::setDefault(std::optional<Locale> locale) {
  std::lock_guard lock(defaultMutex());
  defaultLocale() = std::move(locale);
}

std::string Locale::languageCode() const { return icu::Locale(identifier_.c_str()).getLanguage(); }
std::string Locale::countryCode() const { return icu::Locale(identifier_.c_str()).getCountry(); }
std::string Locale::scriptCode() const { return icu::Locale(identifier_.c_str()).getScript(); }

ScopedDefaultLocale::ScopedDefaultLocale(Locale locale) {
  std::lock_guard lock(defaultMutex());
  previous_ = defaultLocale();
  defaultLocale() = std::move(locale);
}

ScopedDefaultLocale::~ScopedDefaultLocale() {
  std::lock_guard lock(defaultMutex());
  defaultLocale() = std::move(previous_);
}

}  // namespace foundation
