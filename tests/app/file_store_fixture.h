#pragma once
// What the file-store tests share: an application home in a temporary folder with its file store,
// the local time zone pinned, and files written with given contents and modification times.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "app/local_saves.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/time_zone.h"
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
