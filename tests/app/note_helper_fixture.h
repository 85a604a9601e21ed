#pragma once
// What the note-type tests share: the diary's store in a temporary home, the application's own
// string tables, a helper whose interface language, time zone, locale and clock a test chooses.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/model.h"
#include "app/note_edit_helper.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace note_helper_test {

// The application's resources.
inline std::shared_ptr<runtime::Bundle> resources() {
  static auto bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
  return bundle;
}

// The interface language `code`, with the application's string tables.
inline app::InterfaceText language(const std::string& code) {
  auto bundle = resources();
  return app::InterfaceText(
      code, [bundle, code](std::string_view key) { return bundle->localizedStringInLanguage(key, code); });
}

// A date given by its wall-clock time in a zone.
inline foundation::Date at(const char* zone, int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0) {
  foundation::DateComponents c;
  c.year = year, c.month = month, c.day = day, c.hour = hour, c.minute = minute, c.second = second;
  return foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier(zone).value(),
                                         foundation::Locale::posix())
      .dateFromComponents(c)
      .value();
}

class NoteHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = store::Store::open(home_ / "dataBase.sqlite", app::managedObjectModel()).value();
    context_ = store_->newContext().value();
  }

  // A helper in the interface language `code`, over this test's store and Library folder.
  app::NoteEditHelper helper(const std::string& code = "en", bool withContext = true) {
    app::NoteEditHelper::Environment environment;
    if (withContext) environment.context = [context = context_] { return context; };
    environment.library = library();
    environment.clock = &clock_;
    environment.language = [code] { return language(code); };
    return app::NoteEditHelper(std::move(environment));
  }

  // Pins the device's locale and time zone for the rest of the test.
  void pin(const char* locale, const char* zone) {
    zone_.reset();
    locale_.reset();
    zone_.emplace(foundation::TimeZone::withIdentifier(zone).value());
    locale_.emplace(foundation::Locale(locale));
  }

  std::filesystem::path library() const { return home_.path() / "Library"; }
  std::filesystem::path orderFile() const { return library() / "Settings" / "categoriesSequence.txt"; }

  testing_support::TempDir home_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  foundation::ManualClock clock_{foundation::Date{700000000.25}};
  std::optional<foundation::ScopedDefaultTimeZone> zone_;
  std::optional<foundation::ScopedDefaultLocale> locale_;
};

}  // namespace note_helper_test
