#include "note_editor/editor_fixture.h"

#include <sqlite3.h>

#include <algorithm>

#include "support/diary_store.h"

namespace editor_test {

namespace {

// The application's string tables.
app::InterfaceText english() {
  static auto bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
  return app::InterfaceText(
      "en", [](std::string_view key) { return bundle->localizedStringInLanguage(key, "en"); });
}

}  // namespace

void refuse(const fs::path& storeFile, const std::string& when, const std::string& table) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(storeFile.c_str(), &db), SQLITE_OK);
  static int triggers = 0;
  const std::string sql = "CREATE TRIGGER refuse_" + std::to_string(++triggers) + " " + when + " ON " +
                          table + " BEGIN SELECT RAISE(ABORT, 'refused'); END";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

EditorTest::EditorTest() : home_(temp_.path() / "home"), saves_(std::make_shared<app::localSaves>(home_)) {
  store_ = testing_support::openDiaryStore(home_);
  context_ = store_->newContext().value();
  baby_ = testing_support::savedBaby(*context_, "Anna");
  note_editor::registerNoteEditorScreens(
      storyboard_, [this] { return services(); }, temp_.path() / "library");
}

EditorTest::~EditorTest() {
  if (window_) window_->setRootViewController(nullptr);
  runLoop();
}

note_editor::EditorServices EditorTest::services() {
  note_editor::EditorServices services;
  services.clock = &clock_;
  services.saves = saves_;
  services.language = english;
  services.library = home_.library();
  services.logEvent = [this](std::string name, foundation::Dictionary parameters) {
    LoggedEvent event{std::move(name), {}};
    for (const auto& [key, value] : parameters) event.parameters.emplace_back(key, value.stringOr("?"));
    events_.push_back(std::move(event));
  };
  services.preferredLanguage = [] { return std::optional<std::string>("en"); };
  services.countryCode = [this] { return country_; };
  services.random = [this] { return random_; };
  return services;
}

std::unique_ptr<note_editor::NoteEditor> EditorTest::model(std::optional<std::string> type,
                                                           app::Note editing) {
  auto editor = std::make_unique<note_editor::NoteEditor>(services());
  editor->managedObjectContext = context_;
  editor->currentBabyName = "Anna";
  // As the notes list opens an edited note: the note alone, its type comes from it.
  if (!editing) editor->note_Type = std::move(type);
  editor->editingNote = std::move(editing);
  editor->setUp();
  return editor;
}

std::unique_ptr<note_editor::NoteEditor> EditorTest::reopen(std::int32_t number) {
  auto editor = std::make_unique<note_editor::NoteEditor>(services());
  editor->managedObjectContext = context_;
  editor->currentBabyName = "Anna";
  editor->stopWatchOn = true;
  editor->stopWatchNum = number;
  editor->setUp();
  return editor;
}

std::shared_ptr<note_editor::noteEditController> EditorTest::open(
    std::optional<std::string> type, app::Note editing,
    const std::function<void(note_editor::noteEditController&)>& configure) {
  auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
      storyboard_.instantiateViewControllerWithIdentifier(note_editor::kEditNoteNavigationId));
  auto editor =
      std::dynamic_pointer_cast<note_editor::noteEditController>(navigation->viewControllers().back());
  editor->setManagedObjectContext(context_);
  editor->setCurrentBabyName("Anna");
  editor->setNoteView_delegate(&opener_);
  // As the notes list opens an edited note: the note alone, its type comes from it.
  if (!editing) editor->setNote_Type(std::move(type));
  editor->setEditingNote(std::move(editing));
  if (configure) configure(*editor);
  // Presented over a screen of the window, as the notes list presents it.
  window_ = std::make_shared<ui::Window>();
  auto list = std::make_shared<ui::ViewController>();
  window_->setRootViewController(list);
  window_->makeKeyAndVisible();
  list->presentViewController(navigation, false);
  runLoop();
  return editor;
}

app::Note EditorTest::addNote(const std::string& type, Date start, Date stop, std::optional<std::string> sub,
                              std::optional<double> number, std::optional<std::string> unit) {
  app::Note note = app::Note::insertIn(*context_);
  note.setNote_Type(type);
  note.setNote_DateStart(start);
  note.setNote_DateStop(stop);
  note.setNote_strValue(std::move(sub));
  note.setNote_numValue(note_editor::storedNumber(number));
  note.setNote_numMeasureCurrent(std::move(unit));
  note.setNoteToBaby(baby_);
  EXPECT_TRUE(context_->save().ok());
  return note;
}

std::vector<app::Note> EditorTest::notes() {
  std::vector<app::Note> out;
  for (auto& object : context_->fetch(store::FetchRequest{"Note"}).valueOr({})) out.emplace_back(object);
  return out;
}

std::vector<std::string> EditorTest::photoFiles() const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(home_.documents() / "Photos", error), end; !error && it != end;
       it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

foundation::Bytes EditorTest::storeBytes() const {
  return files::readFile(home_.documents() / "dataBase.sqlite").valueOr({});
}

std::vector<std::pair<std::string, foundation::Bytes>> EditorTest::homeFiles() const {
  std::vector<std::pair<std::string, foundation::Bytes>> out;
  for (const auto& entry : fs::recursive_directory_iterator(home_.root())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), home_.root()).string();
    // The store's journal files come and go with every connection.
    if (name.find("-wal") != std::string::npos || name.find("-shm") != std::string::npos) continue;
    out.emplace_back(name, files::readFile(entry.path()).valueOr({}));
  }
  std::sort(out.begin(), out.end());
  return out;
}

Date EditorTest::at(int year, int month, int day, int hour, int minute, int second) {
  foundation::DateComponents c;
  c.year = year, c.month = month, c.day = day, c.hour = hour, c.minute = minute, c.second = second;
  return foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("UTC").value())
      .dateFromComponents(c)
      .value();
}

}  // namespace editor_test
