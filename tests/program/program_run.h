#pragma once
// Running the built `diary` program from a test, and reading back what it stored.

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "first_run_script.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace program_run {

inline std::filesystem::path diaryProgram() {
  return testing_support::testOutput().parent_path() / "program" / "diary";
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a shell command line; its exit status.
inline int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quotedPath(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// On the phone's notes list: links the diary to the stand-in cloud service, backs the data up and
// restores them (which ends the tutorial), as a parent does from the settings.
inline constexpr const char* kBackUpAndRestore = R"(tap iPhone_list_button
tap Settings
tap Cloud
tap Connect
wait 10
tap "Back up data"
tap Yes
wait 30
tap OK
tap "Restore data"
wait 30
tap Yes
wait 30
tap OK
)";

// The program's own text for `key` in `language`, quoted for a script.
inline std::string quotedText(std::string_view key, std::string_view language) {
  static const runtime::Bundle bundle(testing_support::resourcesFolder());
  return "\"" + bundle.localizedStringInLanguage(key, language) + "\"";
}

// A new baby girl `name` and the metric first-run units, typed in `language`'s own texts.
inline std::string firstRun(const std::string& name, std::string_view language) {
  const auto t = [&](std::string_view key) { return quotedText(key, language); };
  return "tap " + t("Name") + "\ntype " + name + "\nkey return\ntap " + t("Girl") + "\ntap " + t("Done") +
         "\ntap " + t("Notation_kg") + "\ntap " + t("Notation_cm") + "\ntap " + t("Notation_celsius") +
         "\ntap " + t("Start") + "\ntap " + t("Start") + "\n";
}

// A picture in the photo library of the data root home/"root" (Media/DCIM, where the diary's photo
// chooser lists them), as the PNG file `name`.
inline foundation::Status putLibraryPicture(const testing_support::TempDir& home, const std::string& name,
                                           const graphics::Image& picture) {
  const auto library = home / "root" / "Media" / "DCIM";
  std::filesystem::create_directories(library);
  auto png = picture.pngData();
  if (!png.ok()) return png.error();
  return files::writeAtomic(library / name, *png);
}

// One run of the program: its exit status and what it printed, both streams in order.
struct DiaryRun {
  int status = -1;
  std::string out;
};

// The command line that runs the program on the data root home/"root" with the script file `script`,
// its pictures in `screens`: `environment` goes before it ("TZ=UTC"), `arguments` after it; the
// caller adds where its streams go.
inline std::string diaryCommand(const testing_support::TempDir& home, const std::filesystem::path& script,
                                const std::filesystem::path& screens, const std::string& arguments = "",
                                const std::string& environment = "") {
  return "env -u DISPLAY " + environment + " DIARY_HOME=" + quotedPath(home / "root") +
         " DIARY_RESOURCES=" + quotedPath(testing_support::resourcesFolder()) + " " + quotedPath(diaryProgram()) +
         " " + arguments + " --script " + quotedPath(script) + " --screens " + quotedPath(screens);
}

// Runs the program without a window on the data root home/"root" with `script`, its pictures in
// `screens` (emptied first); `environment` goes before it on the command line ("TZ=UTC").
inline DiaryRun runDiaryScript(const testing_support::TempDir& home, const std::string& script,
                               const std::filesystem::path& screens, const std::string& arguments = "",
                               const std::string& environment = "") {
  std::ofstream(home / "script") << script;
  std::filesystem::remove_all(screens);
  DiaryRun run;
  run.status = shell(diaryCommand(home, home / "script", screens, "--no-window " + arguments, environment) +
                     " </dev/null >" + quotedPath(home / "out") + " 2>&1");
  run.out = readFile(home / "out");
  return run;
}

// The quoted texts of each line the program printed that begins with `prefix`, in order.
inline std::vector<std::vector<std::string>> quotedLines(const std::string& out, std::string_view prefix) {
  std::vector<std::vector<std::string>> all;
  std::istringstream lines(out);
  const std::regex quotedText("\"([^\"]*)\"");
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(prefix)) continue;
    std::vector<std::string> texts;
    for (std::sregex_iterator m(line.begin(), line.end(), quotedText), end; m != end; ++m)
      texts.push_back((*m)[1]);
    all.push_back(std::move(texts));
  }
  return all;
}

// The texts of each "look" the program printed, in order.
inline std::vector<std::vector<std::string>> lookTexts(const std::string& out) {
  return quotedLines(out, "on the screen: ");
}

// Whether `texts` (a look's, or those cut short) hold `text`.
inline bool lists(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The texts the last "look" listed; none when the program printed no look.
inline std::set<std::string> lastLookTexts(const std::string& out) {
  const auto all = lookTexts(out);
  return all.empty() ? std::set<std::string>{} : std::set<std::string>(all.back().begin(), all.back().end());
}

// The texts that the looks found cut short, all together.
inline std::vector<std::string> cutTexts(const std::string& out) {
  std::vector<std::string> cut;
  for (auto& line : quotedLines(out, "cut short: ")) cut.insert(cut.end(), line.begin(), line.end());
  return cut;
}

// The store and the context the notes are read through, kept open while the test reads them.
struct OpenStore {
  std::shared_ptr<store::Store> store;
  std::shared_ptr<store::Context> context;
};

// Every row of an entity in the store the program left in home/"root".
inline std::vector<store::ObjectPtr> storedRows(const testing_support::TempDir& home, std::string_view entity,
                                                OpenStore& keep) {
  auto opened = store::Store::open(home / "root" / "Documents" / std::string(app::kDataBaseFileName),
                                   app::managedObjectModel());
  EXPECT_TRUE(opened.ok());
  if (!opened.ok()) return {};
  keep.store = *opened;
  auto context = keep.store->newReadOnlyContext();
  EXPECT_TRUE(context.ok());
  if (!context.ok()) return {};
  keep.context = *context;
  auto rows = keep.context->fetch(store::FetchRequest(std::string(entity)));
  EXPECT_TRUE(rows.ok());
  return rows.ok() ? *rows : std::vector<store::ObjectPtr>{};
}

// The notes the program left in the store of the data root home/"root", by type.
inline std::multimap<std::string, app::Note> storedNotes(const testing_support::TempDir& home, OpenStore& keep) {
  std::multimap<std::string, app::Note> notes;
  for (auto& row : storedRows(home, app::Note::kEntityName, keep)) {
    app::Note note(row);
    notes.emplace(note.note_Type().value_or(""), note);
  }
  return notes;
}

// The order the chooser shows, as "categoriesSequence.txt" keeps it (nothing when it holds none),
// read as the property list it is; the diary's own reader would merge in the defaults.
inline std::vector<std::string> storedOrder(const testing_support::TempDir& home) {
  std::vector<std::string> keys;
  const auto bytes = files::readFile(home / "root" / "Library" / "Settings" / "categoriesSequence.txt");
  if (!bytes.ok()) return keys;
  const auto order = plist::readPropertyList(*bytes);
  if (!order.ok() || !order->isArray()) return keys;
  for (const auto& entry : *order->array())
    if (const std::string* key = entry.string()) keys.push_back(*key);
  return keys;
}

}  // namespace program_run
