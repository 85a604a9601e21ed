#include "app/backup_restore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>

#include "app/entities.h"
#include "app/model.h"
#include "file_store_fixture.h"
#include "platform/foundation/log.h"
#include "platform/store/context.h"
#include "platform/store/store.h"
#include "zip_bytes.h"

namespace app {
namespace {

using namespace file_store_test;
using foundation::Status;

// The bytes of a database made by the SQL.
Bytes database(const fs::path& scratch, const std::string& sql) {
  (void)files::remove(scratch);
  runSql(scratch, sql);
  return readAll(scratch);
}

class BackupRestoreTest : public FileStoreTest {
 public:
  BackupRestoreTest() : FileStoreTest("Europe/Berlin") {}

  void SetUp() override {
    makeStore("Anna");
    put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "photo one",
        local(2015, 3, 5, 10, 20, 30));
    put(home_.documents() / "Photos" / "_2015_March_06_08_00_512.jpg", "photo two",
        local(2015, 3, 6, 8, 0, 2));
    put(home_.documents() / "BabyInfo" / "Anna_ava.jpg", "icon", local(2014, 12, 31, 23, 59, 58));
    setFirstLaunch("2015.03.05");
  }

  void makeStore(const std::string& baby) {
    writeStore(home_.documents() / "dataBase.sqlite", {baby});
    ASSERT_TRUE(files::setModificationDate(home_.documents() / "dataBase.sqlite", local(2015, 3, 7, 9)).ok());
  }
  void setFirstLaunch(std::string_view date) {
    ASSERT_TRUE(files::createDirectory(firstLaunch().parent_path()).ok());
    ASSERT_TRUE(files::writeText(firstLaunch(), date, files::TextEncoding::Utf16).ok());
  }
  fs::path firstLaunch() const { return home_.library() / "Settings" / "firstLaunch.txt"; }

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
  void download(const std::vector<zip_bytes::NewEntry>& entries) { download(zip_bytes::build(entries)); }
  void download(const Bytes& archive) {
    ASSERT_TRUE(files::createDirectory(saves_.backUpDir()).ok());
    ASSERT_TRUE(files::writeAtomic(saves_.backUpArchivePath(), archive).ok());
  }
  std::vector<zip_bytes::NewEntry> soundEntries() {
    return {{"backUp.vers", zip_bytes::utf16Text("0")},
            {"firstLaunch.txt", zip_bytes::utf16Text("2013.01.02")},
            {"dataBase.sqlite", readAll(home_.documents() / "dataBase.sqlite")},
            {"Photos/_2013.jpg", bytes("old photo")}};
  }

  BackupRestore backUp_{saves_, hooks()};
  int closes_ = 0;
  bool stagedWhenClosed_ = false;
  bool archiveWhenClosed_ = true;
  Status closeResult_;
};

TEST_F(BackupRestoreTest, RoundTripRestoresEveryFileWithItsTimeAndTheFirstLaunchDate) {
  put(home_.tmp() / "AnnaPhotoTmp0.jpg", "running timer photo");
  put(home_.library() / "Timers" / "Anna.plist", "timers");
  const Snapshot before = snapshot(home_.documents());
  const Bytes firstLaunchBefore = readAll(firstLaunch());

  auto archive = backUp_.makeBackUp();
  ASSERT_TRUE(archive.ok()) << archive.error().description();
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(archiveWhenClosed_) << "the store is closed before packing";
  const Bytes uploaded = readAll(*archive);
  ASSERT_TRUE(backUp_.finish().ok());
  EXPECT_FALSE(fs::exists(*archive));

  // Later the user's data change; then the backup comes back from the cloud.
  makeStore("Boris");
  put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "changed");
  ASSERT_TRUE(files::remove(home_.documents() / "BabyInfo" / "Anna_ava.jpg").ok());
  put(home_.documents() / "Photos" / "new.jpg", "new");
  setFirstLaunch("2016.01.01");
  download(uploaded);

  EXPECT_TRUE(backUp_.checkArchiveVers());
  Status restored = backUp_.restoreBackUp();
  ASSERT_TRUE(restored.ok()) << restored.error().description();
  EXPECT_EQ(closes_, 2);
  EXPECT_TRUE(stagedWhenClosed_) << "the archive is checked before the store is closed";
  EXPECT_EQ(snapshot(home_.documents()), before);
  EXPECT_EQ(readAll(firstLaunch()), firstLaunchBefore);
  EXPECT_EQ(babyNames(home_.documents() / "dataBase.sqlite"), Names{"Anna"});
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  EXPECT_EQ(readAll(home_.tmp() / "AnnaPhotoTmp0.jpg"), bytes("running timer photo"));
  EXPECT_EQ(readAll(home_.library() / "Timers" / "Anna.plist"), bytes("timers"));
}

TEST_F(BackupRestoreTest, SoundHandMadeArchiveIsRestoredWithBackslashesAsFolders) {
  auto entries = soundEntries();
  entries[3].name = "Photos\\_2013.jpg";
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(readAll(home_.documents() / "Photos" / "_2013.jpg"), bytes("old photo"));
  EXPECT_FALSE(fs::exists(home_.documents() / "BabyInfo"));
  EXPECT_FALSE(fs::exists(home_.documents() / "backUp.vers"));
  EXPECT_FALSE(fs::exists(home_.documents() / "firstLaunch.txt"));
  EXPECT_EQ(readAll(firstLaunch()), zip_bytes::utf16Text("2013.01.02"));

  // An empty date file in the archive keeps the date here; without one here either, none is made
  // up, but the settings folder is.
  entries[1].data.clear();
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(readAll(firstLaunch()), zip_bytes::utf16Text("2013.01.02"));
  ASSERT_TRUE(files::remove(firstLaunch().parent_path()).ok());
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  EXPECT_FALSE(fs::exists(firstLaunch()));
  EXPECT_TRUE(fs::is_directory(firstLaunch().parent_path()));

  // An archive from before the version entry existed is restored like any other.
  entries.erase(entries.begin());
  entries[2].name = "Photos/_2012.jpg";
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(readAll(home_.documents() / "Photos" / "_2012.jpg"), bytes("old photo"));
  EXPECT_FALSE(fs::exists(home_.documents() / "backUp.vers"));
}

// Each fault refuses the whole archive and leaves the user's data as they were.
struct Refusal {
  const char* what;
  std::function<void(BackupRestoreTest&, std::vector<zip_bytes::NewEntry>&)> change;
};

zip_bytes::NewEntry escaping(std::string name) { return {std::move(name), bytes("evil")}; }

const Refusal kRefusals[] = {
    {"checksum error", [](auto&, auto& e) { e[3].wrongCrc = true; }},
    {"no store", [](auto&, auto& e) { e.erase(e.begin() + 2); }},
    {"store that does not open", [](auto&, auto& e) { e[2].data = bytes("SQLite format 3 but no more"); }},
    {"store that is no database", [](auto&, auto& e) { e[2].data = Bytes(4096, 0x5A); }},
    {"parent step", [](auto&, auto& e) { e.push_back(escaping("../escaped.txt")); }},
    {"hidden parent step", [](auto&, auto& e) { e.push_back(escaping("Photos/../../escaped.txt")); }},
    {"absolute path",
     [](auto& t, auto& e) { e.push_back(escaping((t.temp_.path() / "escaped.txt").string())); }},
    {"encrypted entry", [](auto&, auto& e) { e[3].flags = 1, e[3].method = 0; }},
    {"date file is a folder", [](auto&, auto& e) { e[1].name = "firstLaunch.txt/inside"; }},
    {"zero-length store", [](auto&, auto& e) { e[2].data.clear(); }},
    {"database without tables",
     [](auto& t, auto& e) { e[2].data = database(t.temp_.path() / "x.db", "PRAGMA user_version = 3"); }},
    {"database without the diary's tables",
     [](auto& t, auto& e) {
       e[2].data = database(t.temp_.path() / "x.db",
                            "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY);"
                            "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY)");
     }},
    {"log that is a folder",
     [](auto&, auto& e) {
       e.push_back({"dataBase.sqlite-wal/x", bytes("x")});
     }},
};

class RefusedArchiveTest : public BackupRestoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(RefusedArchiveTest, LeavesDocumentsUntouched) {
  const Refusal& refusal = kRefusals[GetParam()];
  SCOPED_TRACE(refusal.what);
  auto entries = soundEntries();
  refusal.change(*this, entries);
  download(entries);
  const Snapshot documents = snapshot(home_.documents());
  const Snapshot settings = snapshot(home_.library() / "Settings");

  foundation::ScopedLogCapture log;
  EXPECT_FALSE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(closes_, 0) << "the store stays open for an archive that is refused";
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_EQ(snapshot(home_.library() / "Settings"), settings);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  for (const fs::path& folder : {temp_.path(), home_.root(), home_.tmp()})
    EXPECT_FALSE(fs::exists(folder / "escaped.txt")) << folder;
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusedArchiveTest,
                         ::testing::Range(0, static_cast<int>(std::size(kRefusals))));

TEST_F(BackupRestoreTest, NoArchiveOrAFailedStepLeavesDocumentsAsTheyWere) {
  const Snapshot documents = snapshot(home_.documents());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(backUp_.restoreBackUp().ok()) << "no archive at all";
  EXPECT_FALSE(backUp_.checkArchiveVers());

  // The store cannot be closed: neither a backup nor a restore goes ahead.
  closeResult_ = foundation::Error::make("StoreDomain", 1, "busy");
  EXPECT_FALSE(backUp_.makeBackUp().ok());
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
  download(soundEntries());
  EXPECT_FALSE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));

  // The date file's place is taken by a folder, so it cannot be replaced after the swap: the old
  // Documents are put back.
  closeResult_ = Status();
  closes_ = 0;
  ASSERT_TRUE(files::remove(firstLaunch()).ok());
  ASSERT_TRUE(files::createDirectory(firstLaunch() / "inside").ok());
  download(soundEntries());
  EXPECT_FALSE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(snapshot(home_.documents()), documents);
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
}

// Only the store is put in place, exactly as it was checked: its log folded in, a journal never
// played back, the log's index dropped.
TEST_F(BackupRestoreTest, StoreIsInstalledAloneWithItsLogFoldedIn) {
  const fs::path store = home_.documents() / "dataBase.sqlite";
  // A hot journal of another database: played back, it would turn any file beside it into that one.
  const fs::path foreign = temp_.path() / "foreign.sqlite";
  runSql(foreign,
         "PRAGMA journal_mode = DELETE; CREATE TABLE foreign_rows (x);"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
         "INSERT INTO foreign_rows SELECT randomblob(1000) FROM n");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN; CREATE TABLE more (y); UPDATE foreign_rows SET x = 0",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  const Bytes hotJournal = readAll(foreign.string() + "-journal");
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  // (It is hot: beside a copy of the store, SQLite plays it back and the foreign table appears.)
  ASSERT_TRUE(files::copyFile(store, temp_.path() / "probe.sqlite").ok());
  ASSERT_TRUE(files::writeAtomic(temp_.path() / "probe.sqlite-journal", hotJournal).ok());
  runSql(temp_.path() / "probe.sqlite", "SELECT count(*) FROM foreign_rows");

  auto entries = soundEntries();
  entries.push_back({"dataBase.sqlite-journal", hotJournal});
  entries.push_back({"dataBase.sqlite-shm", Bytes(32768, 0xA5)});
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  EXPECT_EQ(babyNames(store), Names{"Anna"});

  // A log with a change committed after the file was last checkpointed.
  {
    auto open = store::Store::open(store, managedObjectModel()).value();
    auto context = open->newContext().value();
    Baby::insertIn(*context).setBaby_Name("Boris");
    ASSERT_TRUE(context->save().ok());
    entries = soundEntries();
    entries.push_back({"dataBase.sqlite-wal", readAll(store.string() + "-wal")});
    ASSERT_TRUE(open->close().ok());
  }
  ASSERT_GT(entries.back().data.size(), 0u);
  download(entries);
  ASSERT_TRUE(backUp_.restoreBackUp().ok());
  for (const char* side : {"-wal", "-journal", "-shm"})
    EXPECT_FALSE(fs::exists(store.string() + side)) << side;
  EXPECT_EQ(babyNames(store), (Names{"Anna", "Boris"}));
}

// A restore cut short right after Documents were replaced leaves the new first-launch date
// inside them; the next launch puts it in place and clears what cut-short writes left.
TEST_F(BackupRestoreTest, LaunchFinishesAnInterruptedRestoreAndClearsStaleTemporaries) {
  download(soundEntries());
  auto staged = saves_.stageBackUp();
  ASSERT_TRUE(staged.ok()) << staged.error().description();
  ASSERT_TRUE(files::remove(home_.documents()).ok());
  ASSERT_TRUE(files::move(staged->documents, home_.documents()).ok());
  const std::vector<fs::path> stale = {home_.documents() / ".dataBase.sqlite.tmp-a1B2c3",
                                       home_.library() / "Settings" / ".tutorialStatus.txt.tmp-ZZZZZZ",
                                       home_.root() / ".keychain.tmp-000000"};
  const std::vector<fs::path> kept = {home_.documents() / "Photos" / "x.tmp-a1B2c3",
                                      home_.documents() / "Photos" / ".x.tmp-a1B2c",
                                      home_.tmp() / "AnnaPhotoTmp0.jpg"};
  for (const auto& path : stale) put(path, "partial");
  for (const auto& path : kept) put(path, "keep");

  ASSERT_TRUE(localSaves(home_).recoverAtLaunch().ok());
  EXPECT_EQ(readAll(firstLaunch()), zip_bytes::utf16Text("2013.01.02"));
  EXPECT_EQ(babyNames(home_.documents() / "dataBase.sqlite"), Names{"Anna"});
  for (const auto& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  const auto documents = snapshot(home_.documents());
  EXPECT_EQ(documents.count("Photos/_2013.jpg"), 1u);
  EXPECT_EQ(documents.size(), 4u) << "no date file is left in Documents";

  // Cut short between the two renames of a file system that cannot exchange names: the old
  // Documents are aside and none in place; they come back.
  ASSERT_TRUE(files::move(home_.documents(), saves_.backUpDir() / "previousDocuments").ok());
  ASSERT_TRUE(localSaves(home_).recoverAtLaunch().ok());
  EXPECT_EQ(snapshot(home_.documents()), documents);
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

}  // namespace
}  // namespace app
