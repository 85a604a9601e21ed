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

// The application's resources, beside the tests folder the tests run in.
inline std::shared_ptr<runtime::Bundle> resources() {
  static std::shared_ptr<runtime::Bundle> bundle =
      std::make_shared<runtime::Bundle>(std::filesystem::path("..") / "resources");
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
  auto tz = foundation::TimeZone::withIdentifier(zone);
  if (!tz) throw std::runtime_error(std::string("no zone ") + zone);
  foundation::DateComponents c;
  c.year = year;
  c.month = month;
  c.day = day;
  c.hour = hour;
  c.minute = minute;
  c.second = second;
  auto date = foundation::Calendar::gregorian(*tz, foundation::Locale::posix()).dateFromComponents(c);
  if (!date) throw std::runtime_error("bad date");
  return *date;
}

class NoteHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = store::Store::open(home_ / "dataBase.sqlite", app::managedObjectModel());
    ASSERT_TRUE(opened.ok()) << opened.error().description();
    store_ = *opened;
    auto context = store_->newContext();
    ASSERT_TRUE(context.ok()) << context.error().description();
    context_ = *context;
  }

  // A helper in the interface language `code`, over this test's store and Library folder.
  app::NoteEditHelper helper(const std::string& code = "en", bool withContext = true) {
    app::NoteEditHelper::Environment environment;
    if (withContext) {
      auto context = context_;
      environment.context = [context] { return context; };
    }
    environment.library = library();
    environment.clock = &clock_;
    environment.language = [code] { return language(code); };
    return app::NoteEditHelper(std::move(environment));
  }

  std::filesystem::path library() const { return home_.path() / "Library"; }
  std::filesystem::path orderFile() const { return library() / "Settings" / "categoriesSequence.txt"; }

  testing_support::TempDir home_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  foundation::ManualClock clock_{foundation::Date{500000000}};
};

}  // namespace note_helper_test
