#pragma once
// Locales by identifier ("en_US_POSIX", "ru_RU", "ja_JP", "zh_Hans") and the process's current
// locale. A Locale is a small immutable value.

#include <optional>
#include <string>
#include <string_view>

namespace foundation {

class Locale {
 public:
  // The root locale (identifier ""), which formats like English without regional data.
  Locale() = default;
  // Any identifier is accepted, with "-" or "_" between its parts ("zh-Hans" reads as "zh_Hans");
  // text that is no locale identifier at all gives the root locale.
  explicit Locale(std::string_view identifier);

  // "en_US_POSIX": the locale for fixed formats that must not follow the user's settings.
  static Locale posix();
  // The locale the host runs in (LC_ALL, LC_MESSAGES, LANG; "C" and "POSIX" mean en_US_POSIX),
  // unless a default has been set below.
  static Locale current();
  // Replaces the locale that current() answers for the whole process.
  static void setDefault(std::optional<Locale> locale);

  // Parts joined by "_": language, script, country, variant ("zh_Hans", "en_US_POSIX").
  const std::string& identifier() const { return identifier_; }
  // "en", "ru", "zh"; empty for the root locale.
  std::string languageCode() const;
  // "US", "RU"; empty when the identifier names no country ("zh_Hans").
  std::string countryCode() const;
  // "Hans"; empty when the identifier names no script.
  std::string scriptCode() const;

  friend bool operator==(const Locale& a, const Locale& b) { return a.identifier_ == b.identifier_; }

 private:
  std::string identifier_;
};

// Sets the process's current locale for a scope and puts the previous setting back.
class ScopedDefaultLocale {
 public:
  explicit ScopedDefaultLocale(Locale locale);
  ~ScopedDefaultLocale();
  ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
  ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

 private:
  std::optional<Locale> previous_;
};

}  // namespace foundation
