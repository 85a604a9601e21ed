#include "app/backup_restore.h"

#include <gtest/gtest.h>

#include <map>

#include "app/entities.h"
#include "app/model.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"
#include "platform/store/context.h"
#include "platform/store/store.h"
#include "support/temp_dir.h"
#include "zip_bytes.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Date;
using foundation::Status;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes readAll(const fs::path& path) {
  auto read = files::readFile(path);
  return read ? *read : Bytes{};
}

Date local(int year, int month, int day, int hour, int minute, int second) {
  foundation::DateComponents parts;
  parts.year = year, parts.month = month, parts.day = day, parts.hour = hour, parts.minute = minute,
  parts.second = second;
  return *foundation::Calendar::gregorian(foundation::TimeZone::local()).dateFromComponents(parts);
}

// Every file under a folder: its bytes and modification time.
struct FileState {
  Bytes data;
  Date modified;
  friend bool operator==(const FileState&, const FileState&) = default;
};
using Snapshot = std::map<std::string, FileState>;

Snapshot snapshot(const fs::path& folder) {
  Snapshot files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), folder).generic_string()] = {
        readAll(entry.path()), files::modificationDate(entry.path()).valueOr(Date{})};
  }
  return files;
}

std::vector<std::string> babyNames(const fs::path& storeFile) {
  std::vector<std::string> names;
  auto store = store::Store::open(storeFile, managedObjectModel());
  if (!store) return names;
  auto context = (*store)->newContext();
  if (context) {
    auto babies = (*context)->fetch(store::FetchRequest(std::string(Baby::kEntityName)));
    if (babies) {
      for (auto& object : *babies) names.push_back(Baby(object).baby_Name().value_or(""));
    }
  }
  (void)(*store)->close();
  return names;
}

class BackupRestoreTest : public ::testing::Test {
 public:
  BackupRestoreTest()
      : zone_(*foundation::TimeZone::withIdentifier("Europe/Berlin")),
        home_(temp_.path() / "home"),
        saves_(home_) {}

  void SetUp() override {
    ASSERT_TRUE(home_.create().ok());
    makeStore("Anna");
    put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "photo one",
        local(2015, 3, 5, 10, 20, 30));
    put(home_.documents() / "Photos" / "_2015_March_06_08_00_512.jpg", "photo two",
        local(2015, 3, 6, 8, 0, 2));
    put(home_.documents() / "BabyInfo" / "Anna_ava.jpg", "icon", local(2014, 12, 31, 23, 59, 58));
    put(home_.library() / "Settings" / "firstLaunch.txt", "", local(2015, 3, 5, 0, 0, 0));
    ASSERT_TRUE(files::writeText(home_.library() / "Settings" / "firstLaunch.txt", "2015.03.05",
                                 files::TextEncoding::Utf16)
                    .ok());
  }

  void makeStore(const std::string& baby) {
    const fs::path file = home_.documents() / "dataBase.sqlite";
    auto store = store::Store::open(file, managedObjectModel());
    ASSERT_TRUE(store.ok()) << store.error().description();
    auto context = (*store)->newContext();
    ASSERT_TRUE(context.ok());
    Baby::insertIn(**context).setBaby_Name(baby);
    ASSERT_TRUE((*context)->save().ok());
    ASSERT_TRUE((*store)->close().ok());
    ASSERT_TRUE(files::setModificationDate(file, local(2015, 3, 7, 9, 0, 0)).ok());
  }

  void put(const fs::path& path, std::string_view contents, Date modified) {
    ASSERT_TRUE(files::createDirectory(path.parent_path()).ok());
    ASSERT_TRUE(files::writeAtomic(path, contents).ok());
    ASSERT_TRUE(files::setModificationDate(path, modified).ok());
  }

  BackUpHooks hooks() {
    BackUpHooks hooks;
    hooks.preReloadDataBase = [this]() -> Status {
      ++closes_;
      stagedWhenClosed_ = fs::exists(saves_.backUpDir() / "restore" / "dataBase.sqlite");
      archiveWhenClosed_ = fs::exists(saves_.backUpArchivePath());
      return closeResult_;
    };
    return hooks;
  }

  // An archive in the download place, from hand-made entries.
  void download(const std::vector<zip_bytes::NewEntry>& entries) {
    ASSERT_TRUE(files::createDirectory(saves_.backUpDir()).ok());
    ASSERT_TRUE(files::writeAtomic(saves_.backUpArchivePath(), zip_bytes::build(entries)).ok());
  }

  std::vector<zip_bytes::NewEntry> soundEntries() {
    return {{"backUp.vers", zip_bytes::utf16Text("0")},
            {"firstLaunch.txt", zip_bytes::utf16Text("2013.01.02")},
            {"dataBase.sqlite", readAll(home_.documents() / "dataBase.sqlite")},
            {"Photos/_2013.jpg", bytes("old photo")}};
  }

  foundation::ScopedDefaultTimeZone zone_;
  testing_support::TempDir temp_;
  files::AppHome home_;
  localSaves saves_;
  int closes_ = 0;
  bool stagedWhenClosed_ = false;
  bool archiveWhenClosed_ = true;
  Status closeResult_;
};

TEST_F(BackupRestoreTest, RoundTripRestoresEveryFileWithItsTimeAndTheFirstLaunchDate) {
  put(home_.tmp() / "AnnaPhotoTmp0.jpg", "running timer photo", local(2015, 3, 8, 0, 0, 0));
  put(home_.library() / "Timers" / "Anna.plist", "timers", local(2015, 3, 8, 0, 0, 0));
  const Snapshot before = snapshot(home_.documents());
  const Bytes firstLaunch = readAll(home_.library() / "Settings" / "firstLaunch.txt");

  BackupRestore backUp(saves_, hooks());
  auto archive = backUp.makeBackUp();
  ASSERT_TRUE(archive.ok()) << archive.error().description();
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(archiveWhenClosed_) << "the store is closed before packing";
  const Bytes uploaded = readAll(*archive);
  ASSERT_TRUE(backUp.finish().ok());
  EXPECT_FALSE(fs::exists(*archive));

  // Later the user's data change; then the backup comes back from the cloud.
  makeStore("Boris");
  put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "changed", local(2016, 1, 1, 0, 0, 0));
  ASSERT_TRUE(files::remove(home_.documents() / "BabyInfo" / "Anna_ava.jpg").ok());
  put(home_.documents() / "Photos" / "new.jpg", "new", local(2016, 1, 1, 0, 0, 0));
  ASSERT_TRUE(files::writeText(home_.library() / "Settings" / "firstLaunch.txt", "2016.01.01",
                               files::TextEncoding::Utf16)
                  .ok());
  ASSERT_TRUE(files::writeAtomic(saves_.backUpArchivePath(), uploaded).ok());

  EXPECT_TRUE(backUp.checkArchiveVers());
  Status restored = backUp.restoreBackUp();
  ASSERT_TRUE(restored.ok()) << restored.error().description();
  EXPECT_EQ(closes_, 2);
  EXPECT_TRUE(stagedWhenClosed_) << "the archive is checked before the store is closed";

  EXPECT_EQ(snapshot(home_.documents()), before);
  EXPECT_EQ(readAll(home_.library() / "Settings" / "firstLaunch.txt"), firstLaunch);
  EXPECT_EQ(babyNames(home_.documents() / "dataBase.sqlite"), std::vector<std::string>{"Anna"});
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  EXPECT_EQ(readAll(home_.tmp() / "AnnaPhotoTmp0.jpg"), bytes("running timer photo"));
  EXPECT_EQ(readAll(home_.library() / "Timers" / "Anna.plist"), bytes("timers"));
}

TEST_F(BackupRestoreTest, FailingToCloseTheStoreStopsTheBackup) {
  closeResult_ = foundation::Error::make("StoreDomain", 1, "busy");
  BackupRestore backUp(saves_, hooks());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(backUp.makeBackUp().ok());
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
}

// Each fault refuses the whole archive and leaves the user's data as they were.
struct Refusal {
  const char* what;
  std::function<void(BackupRestoreTest&, std::vector<zip_bytes::NewEntry>&)> change;
};

class RefusedArchiveTest : public BackupRestoreTest, public ::testing::WithParamInterface<int> {};

const std::vector<Refusal>& refusals() {
  static const std::vector<Refusal> cases = {
      {"checksum error", [](auto&, auto& e) { e[3].wrongCrc = true; }},
      {"no version entry", [](auto&, auto& e) { e.erase(e.begin()); }},
      {"no store", [](auto&, auto& e) { e.erase(e.begin() + 2); }},
      {"store that does not open",
       [](auto&, auto& e) { e[2].data = bytes("SQLite format 3\0 but nothing more"); }},
      {"store that is no database", [](auto&, auto& e) { e[2].data = Bytes(4096, 0x5A); }},
      {"parent step",
       [](auto&, auto& e) {
         e.push_back({"../escaped.txt", bytes("evil")});
       }},
      {"hidden parent step",
       [](auto&, auto& e) {
         e.push_back({"Photos/../../escaped.txt", bytes("evil")});
       }},
      {"absolute path",
       [](auto& t, auto& e) {
         e.push_back({(t.temp_.path() / "escaped.txt").string(), bytes("evil")});
       }},
      {"encrypted entry",
       [](auto&, auto& e) {
         e[3].flags = 1;
         e[3].method = 0;
       }},
      {"date file is a folder", [](auto&, auto& e) { e[1].name = "firstLaunch.txt/inside"; }},
  };
  return cases;
}

TEST_P(RefusedArchiveTest, LeavesDocumentsUntouched) {
  const Refusal& refusal = refusals()[static_cast<size_t>(GetParam())];
  SCOPED_TRACE(refusal.what);
  auto entries = soundEntries();
  refusal.change(*this, entries);
  download(entries);
  const Snapshot documents = snapshot(home_.documents());
  const Snapshot settings = snapshot(home_.library() / "Settings");

  BackupRestore restore(saves_, hooks());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(restore.restoreBackUp().ok());
  EXPECT_EQ(closes_, 0) << "the store stays open for an archive that is refused";
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_EQ(snapshot(home_.library() / "Settings"), settings);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  EXPECT_FALSE(fs::exists(temp_.path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(home_.root() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(home_.tmp() / "escaped.txt"));
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusedArchiveTest, ::testing::Range(0, 10));

TEST_F(BackupRestoreTest, SoundHandMadeArchiveIsRestored) {
  download(soundEntries());
  BackupRestore restore(saves_, hooks());
  ASSERT_TRUE(restore.restoreBackUp().ok());
  EXPECT_EQ(readAll(home_.documents() / "Photos" / "_2013.jpg"), bytes("old photo"));
  EXPECT_FALSE(fs::exists(home_.documents() / "BabyInfo"));
  EXPECT_FALSE(fs::exists(home_.documents() / "backUp.vers"));
  EXPECT_FALSE(fs::exists(home_.documents() / "firstLaunch.txt"));
  EXPECT_EQ(readAll(home_.library() / "Settings" / "firstLaunch.txt"), zip_bytes::utf16Text("2013.01.02"));
}

TEST_F(BackupRestoreTest, ArchivesThatCannotBeReadAreRefused) {
  const Snapshot documents = snapshot(home_.documents());
  BackupRestore restore(saves_, hooks());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(restore.restoreBackUp().ok()) << "no archive at all";
  ASSERT_TRUE(files::createDirectory(saves_.backUpDir()).ok());
  ASSERT_TRUE(
      files::writeAtomic(saves_.backUpArchivePath(), std::string_view("<html>Not found</html>")).ok());
  EXPECT_FALSE(restore.checkArchiveVers());
  EXPECT_FALSE(restore.restoreBackUp().ok());
  const Bytes whole = zip_bytes::build(soundEntries());
  ASSERT_TRUE(files::createDirectory(saves_.backUpDir()).ok());
  ASSERT_TRUE(files::writeAtomic(saves_.backUpArchivePath(),
                                 Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)))
                  .ok());
  EXPECT_FALSE(restore.checkArchiveVers());
  EXPECT_FALSE(restore.restoreBackUp().ok());
  EXPECT_EQ(closes_, 0);
  EXPECT_EQ(snapshot(home_.documents()), documents);
}

TEST_F(BackupRestoreTest, FailingToCloseTheStoreStopsTheRestore) {
  download(soundEntries());
  closeResult_ = foundation::Error::make("StoreDomain", 1, "busy");
  const Snapshot documents = snapshot(home_.documents());
  BackupRestore restore(saves_, hooks());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(restore.restoreBackUp().ok());
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
}

TEST_F(BackupRestoreTest, FailureAfterTheSwapPutsTheOldDocumentsBack) {
  download(soundEntries());
  // The date file's place is taken by a folder: it cannot be replaced.
  ASSERT_TRUE(files::remove(home_.library() / "Settings" / "firstLaunch.txt").ok());
  ASSERT_TRUE(files::createDirectory(home_.library() / "Settings" / "firstLaunch.txt" / "inside").ok());
  const Snapshot documents = snapshot(home_.documents());
  BackupRestore restore(saves_, hooks());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(restore.restoreBackUp().ok());
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
}

TEST_F(BackupRestoreTest, EmptyDateFileInTheArchiveKeepsTheDateHere) {
  auto entries = soundEntries();
  entries[1].data.clear();
  download(entries);
  const Bytes date = readAll(home_.library() / "Settings" / "firstLaunch.txt");
  BackupRestore restore(saves_, hooks());
  ASSERT_TRUE(restore.restoreBackUp().ok());
  EXPECT_EQ(readAll(home_.library() / "Settings" / "firstLaunch.txt"), date);
  EXPECT_TRUE(fs::exists(home_.documents() / "Photos" / "_2013.jpg"));

  // Without a date here either, none is made up.
  ASSERT_TRUE(files::remove(home_.library() / "Settings").ok());
  download(entries);
  ASSERT_TRUE(restore.restoreBackUp().ok());
  EXPECT_FALSE(fs::exists(home_.library() / "Settings" / "firstLaunch.txt"));
}

TEST_F(BackupRestoreTest, BackslashNamesRestoreIntoFolders) {
  auto entries = soundEntries();
  entries[3].name = "Photos\\_2013.jpg";
  download(entries);
  BackupRestore restore(saves_, hooks());
  ASSERT_TRUE(restore.restoreBackUp().ok());
  EXPECT_EQ(readAll(home_.documents() / "Photos" / "_2013.jpg"), bytes("old photo"));
}

TEST_F(BackupRestoreTest, VersionCheckFollowsTheVersionEntry) {
  const auto versioned = [&](std::optional<Bytes> version) {
    auto entries = soundEntries();
    if (version) {
      entries[0].data = *version;
    } else {
      entries.erase(entries.begin());
    }
    download(entries);
    return saves_.checkArchiveVers();
  };
  EXPECT_TRUE(versioned(zip_bytes::utf16Text("0")));
  EXPECT_FALSE(versioned(zip_bytes::utf16Text("1"))) << "made by a newer format";
  EXPECT_FALSE(versioned(zip_bytes::utf16Text(" 12")));
  EXPECT_TRUE(versioned(zip_bytes::utf16Text("-1")));
  EXPECT_TRUE(versioned(std::nullopt)) << "no version entry";
  EXPECT_TRUE(versioned(Bytes{0xFF, 0xFE, '1'})) << "unreadable text";
  EXPECT_TRUE(versioned(zip_bytes::utf16Text("zero")));
  // The check unpacks nothing: the backup folder holds only the archive.
  EXPECT_EQ(std::distance(fs::directory_iterator(saves_.backUpDir()), fs::directory_iterator()), 1);
}

TEST_F(BackupRestoreTest, StoreCheckOpensACopyAndLeavesTheFileAlone) {
  const fs::path file = home_.documents() / "dataBase.sqlite";
  const Snapshot before = snapshot(home_.documents());
  EXPECT_TRUE(openStoreCopy(file, home_.tmp() / "check").ok());
  EXPECT_FALSE(fs::exists(home_.tmp() / "check"));
  EXPECT_EQ(snapshot(home_.documents()), before);
  put(home_.tmp() / "junk.sqlite", "not a database at all, not at all, not at all",
      local(2015, 1, 1, 0, 0, 0));
  EXPECT_FALSE(openStoreCopy(home_.tmp() / "junk.sqlite", home_.tmp() / "check").ok());
}

}  // namespace
}  // namespace app
