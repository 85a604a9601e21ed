#pragma once
// Running the built `diary` program from a test, and reading back what it stored.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
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

// The store and the context the notes are read through, kept open while the test reads them.
struct OpenStore {
  std::shared_ptr<store::Store> store;
  std::shared_ptr<store::Context> context;
};

// The notes the program left in the store of the data root home/"root", by type.
inline std::multimap<std::string, app::Note> storedNotes(const testing_support::TempDir& home, OpenStore& keep) {
  auto opened = store::Store::open(home / "root" / "Documents" / std::string(app::kDataBaseFileName),
                                   app::managedObjectModel());
  EXPECT_TRUE(opened.ok());
  if (!opened.ok()) return {};
  keep.store = *opened;
  auto context = keep.store->newReadOnlyContext();
  EXPECT_TRUE(context.ok());
  if (!context.ok()) return {};
  keep.context = *context;
  auto rows = keep.context->fetch(store::FetchRequest(std::string(app::Note::kEntityName)));
  EXPECT_TRUE(rows.ok());
  std::multimap<std::string, app::Note> notes;
  if (rows.ok())
    for (auto& row : *rows) {
      app::Note note(row);
      notes.emplace(note.note_Type().value_or(""), note);
    }
  return notes;
}

}  // namespace program_run
