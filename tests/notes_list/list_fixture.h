#pragma once
// What the notes list tests share: the diary's store in a temporary home with one baby "Anna", a
// manual clock in December 2026, English texts and UTC days.

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include "app/local_saves.h"
#include "app/model.h"
#include "app/units.h"
#include "note_editor/note_edit_controller.h"
#include "notes_list/day_statistics.h"
#include "platform/files/app_home.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "platform/ui/ui_fixture.h"
#include "support/diary_store.h"
#include "support/temp_dir.h"

namespace notes_list {
inline void PrintTo(const DayRow& row, std::ostream* out) {
  *out << row.id << "/" << row.date << "/" << row.get_count << "/" << row.valWithMeasure.value_or("-") << "/"
       << row.time.value_or("-");
}
}  // namespace notes_list

namespace list_test {

using foundation::Date;
using notes_list::DayRow;
using notes_list::entriesStatisticHelper;

// The interface texts of `language`, from the diary's own resources.
inline app::InterfaceText interfaceText(const std::string& language) {
  static auto bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
  return app::InterfaceText(
      language, [language](std::string_view key) { return bundle->localizedStringInLanguage(key, language); });
}

inline app::InterfaceText english() { return interfaceText("en"); }

inline Date at(int day, int hour, int minute = 0) {
  // December 2026, UTC.
  return Date::fromUnix(1796083200.0 + (day - 1) * 86400.0 + hour * 3600.0 + minute * 60.0);
}

class ListTest : public ui_testing::UiTest {
 protected:
  ListTest() {
    clock_.set(at(20, 12));
    store_ = testing_support::openDiaryStore(home_);
    context_ = store_->newContext().value();
    baby_ = testing_support::savedBaby(*context_, "Anna");
  }

  app::NoteEditHelper neh(std::function<app::InterfaceText()> language = english) {
    app::NoteEditHelper::Environment environment;
    environment.context = [this] { return context_; };
    environment.library = temp_.path() / "Library";
    environment.clock = &clock_;
    environment.language = std::move(language);
    return app::NoteEditHelper(environment);
  }

  entriesStatisticHelper::Services services(std::optional<std::string> language = "en") {
    entriesStatisticHelper::Services services;
    services.context = context_;
    services.clock = &clock_;
    services.language = english;
    services.preferredLanguage = [language] { return language; };
    services.calendar = foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("UTC").value());
    return services;
  }

  std::unique_ptr<entriesStatisticHelper> helper(std::optional<std::string> language = "en") {
    return std::make_unique<entriesStatisticHelper>(neh(), services(language));
  }

  app::Note add(const std::string& type, Date start, Date stop, std::optional<double> number = {},
                std::optional<std::string> unit = {}, std::optional<std::string> sub = {}) {
    auto note = app::Note::insertIn(*context_);
    note.setNote_Type(type);
    note.setNote_DateStart(start);
    note.setNote_DateStop(stop);
    if (number) note.setNote_numValue(foundation::Decimal::fromDouble(*number));
    note.setNote_numMeasureCurrent(std::move(unit));
    note.setNote_strValue(std::move(sub));
    note.setNoteToBaby(baby_);
    EXPECT_TRUE(context_->save().ok());
    return note;
  }

  static std::vector<DayRow> rows(const entriesStatisticHelper& stats, int day) {
    const auto* found = stats.sumForNum(day);
    return found ? *found : std::vector<DayRow>{};
  }

  foundation::ScopedDefaultTimeZone zone_{foundation::TimeZone::withIdentifier("UTC").value()};
  foundation::ScopedDefaultLocale locale_{foundation::Locale("en_US")};
  // The note editor on `storyboard`, working with this test's clock, files and texts.
  void registerEditorScreens(ui::Storyboard& storyboard) {
    note_editor::registerNoteEditorScreens(
        storyboard,
        [this] {
          note_editor::EditorServices editor;
          editor.clock = &clock_;
          editor.saves = saves_;
          editor.language = english;
          editor.library = home_.library();
          return editor;
        },
        temp_.path() / "photos");
  }

  testing_support::TempDir temp_;
  files::AppHome home_{temp_.path() / "home"};
  std::shared_ptr<app::localSaves> saves_ = std::make_shared<app::localSaves>(home_);
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  app::Baby baby_;
};

}  // namespace list_test
