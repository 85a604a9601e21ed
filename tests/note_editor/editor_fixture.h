#pragma once
// What the note editor tests share: a clean screen on a manual clock, the diary's store and file
// store in a temporary home with one baby, editor services that record analytics events, and an
// opener that records what the editor tells it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/local_saves.h"
#include "app/model.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/note_editor.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace editor_test {

namespace fs = std::filesystem;
using foundation::Date;

struct LoggedEvent {
  std::string name;
  std::vector<std::pair<std::string, std::string>> parameters;  // in the order given
  friend bool operator==(const LoggedEvent&, const LoggedEvent&) = default;
};

// The opener: counts what the editor tells it.
struct Opener : note_editor::noteViewDelegate {
  int saved = 0;
  int done = 0;
  void noteViewChildDone(ui::ViewController&, bool) override { ++done; }
  void noteEditWasClosedAndSaved(ui::ViewController&, bool) override { ++saved; }
};

inline graphics::Image picture(int width, int height, std::uint8_t red) {
  graphics::Image image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, {red, 80, 160, 255});
  return image;
}

// Refuses the statement on the table: the store's next save fails and writes nothing.
void refuse(const fs::path& storeFile, const std::string& when, const std::string& table);

class EditorTest : public ui_testing::UiTest {
 protected:
  EditorTest();
  ~EditorTest() override;

  note_editor::EditorServices services();
  // A model over this test's store, opened as the screen would open it. An edited note is opened
  // as the notes list opens it: the note alone, `type` unused.
  std::unique_ptr<note_editor::NoteEditor> model(std::optional<std::string> type, app::Note editing = {});
  // A model opened on the baby's running timer `number`, as the notes list opens it.
  std::unique_ptr<note_editor::NoteEditor> reopen(std::int32_t number);
  // The editor screen in a navigation controller presented over a screen of the window, its view
  // loaded and shown, as the notes list opens it (an edited note alone, `type` unused).
  // `configure` sets what else an opener sets.
  std::shared_ptr<note_editor::noteEditController> open(
      std::optional<std::string> type, app::Note editing = {},
      const std::function<void(note_editor::noteEditController&)>& configure = {});

  app::Note addNote(const std::string& type, Date start, Date stop, std::optional<std::string> sub = {},
                    std::optional<double> number = {}, std::optional<std::string> unit = {});
  std::vector<app::Note> notes();
  // The photo files, by name.
  std::vector<std::string> photoFiles() const;
  foundation::Bytes storeBytes() const;
  // Every file of the home with its contents.
  std::vector<std::pair<std::string, foundation::Bytes>> homeFiles() const;
  // A date given by its wall-clock time (UTC).
  static Date at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

  testing_support::TempDir temp_;
  files::AppHome home_;
  std::shared_ptr<app::localSaves> saves_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  app::Baby baby_;
  std::vector<LoggedEvent> events_;
  std::uint32_t random_ = 7;
  std::optional<std::string> country_ = "US";
  Opener opener_;
  std::shared_ptr<ui::Window> window_;
  ui::Storyboard storyboard_;
  foundation::ScopedDefaultTimeZone zone_{foundation::TimeZone::withIdentifier("UTC").value()};
  foundation::ScopedDefaultLocale locale_{foundation::Locale("en_US")};
};

}  // namespace editor_test
