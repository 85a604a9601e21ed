#pragma once
// What the file-store tests share: an application home in a temporary folder with its file store,
// the local time zone pinned, files written with given contents and modification times, snapshots
// of folders, and data stores written and read through connections of their own.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/model.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/time_zone.h"
#include "platform/store/fetch_request.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"

namespace file_store_test {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Date;

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline Bytes readAll(const fs::path& path) { return files::readFile(path).valueOr({}); }

// A wall-clock time in the zone in force.
inline Date local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  foundation::DateComponents parts;
  parts.year = year, parts.month = month, parts.day = day, parts.hour = hour, parts.minute = minute,
  parts.second = second;
  return foundation::Calendar::gregorian(foundation::TimeZone::local()).dateFromComponents(parts).value();
}

// Runs SQL on a database file (made when missing) through a connection of its own.
inline void runSql(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

// Every file under a folder, by its path relative to the folder: its bytes and modification time.
using Snapshot = std::map<std::string, std::pair<Bytes, Date>>;
inline Snapshot snapshot(const fs::path& folder) {
  Snapshot files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).generic_string()] = {
          readAll(entry.path()), files::modificationDate(entry.path()).valueOr(Date{})};
  }
  return files;
}

using Names = std::vector<std::string>;

// The babies' names in a context, in order.
inline Names babyNames(store::Context& context) {
  store::FetchRequest request{"Baby"};
  request.sortDescriptors.push_back({"baby_Name", true, store::StringComparison::Binary});
  auto babies = context.fetch(request);
  EXPECT_TRUE(babies.ok());
  Names names;
  for (const auto& b : babies.valueOr({})) names.push_back(app::Baby(b).baby_Name().value_or(""));
  return names;
}

// The babies' names in a store file.
inline Names babyNames(const fs::path& storeFile) {
  auto store = store::Store::open(storeFile, app::managedObjectModel()).value();
  const Names names = babyNames(*store->newContext().value());
  EXPECT_TRUE(store->close().ok());
  return names;
}

// Adds to a store file (made when missing) the named babies and, for each entry of `notesOf`, a note
// of the baby at that index (-1: of nobody).
inline void writeStore(const fs::path& path, const Names& names, const std::vector<int>& notesOf = {}) {
  auto store = store::Store::open(path, app::managedObjectModel());
  ASSERT_TRUE(store.ok()) << store.error().description();
  auto context = *(*store)->newContext();
  std::vector<app::Baby> babies;
  for (const auto& name : names) {
    babies.push_back(app::Baby::insertIn(*context));
    babies.back().setBaby_Name(name);
  }
  for (int of : notesOf) {
    auto note = app::Note::insertIn(*context);
    note.setNote_Type("Sleep");
    if (of >= 0) note.setNoteToBaby(babies[of]);
  }
  ASSERT_TRUE(context->save().ok());
  ASSERT_TRUE((*store)->close().ok());
}

class FileStoreTest : public ::testing::Test {
 public:
  explicit FileStoreTest(const char* zone = "UTC")
      : zone_(foundation::TimeZone::withIdentifier(zone).value()),
        home_(temp_.path() / "home"),
        saves_(home_) {
    EXPECT_TRUE(home_.create().ok());
  }

  // Writes the file (making its folders) and gives it the modification time.
  static void put(const fs::path& path, std::string_view contents, Date modified = Date{}) {
    ASSERT_TRUE(files::createDirectory(path.parent_path()).ok());
    ASSERT_TRUE(files::writeAtomic(path, contents).ok());
    ASSERT_TRUE(files::setModificationDate(path, modified).ok());
  }

  foundation::ScopedDefaultTimeZone zone_;
  testing_support::TempDir temp_;
  files::AppHome home_;
  app::localSaves saves_;
};

}  // namespace file_store_test
