#include "app/backup_restore.h"

#include <gtest/gtest.h>

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

// Every file under a folder: its bytes and modification time.
using Snapshot = std::map<std::string, std::pair<Bytes, Date>>;
Snapshot snapshot(const fs::path& folder) {
  Snapshot files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).generic_string()] = {
          readAll(entry.path()), files::modificationDate(entry.path()).valueOr(Date{})};
  }
  return files;
}

// The names of the babies in a store file.
std::vector<std::string> babyNames(const fs::path& storeFile) {
  auto store = store::Store::open(storeFile, managedObjectModel()).value();
  const auto babies = store->newContext().value()->fetch(store::FetchRequest("Baby")).value();
  std::vector<std::string> names;
  for (auto& object : babies) names.push_back(Baby(object).baby_Name().value_or(""));
  EXPECT_TRUE(store->close().ok());
  return names;
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
    const fs::path file = home_.documents() / "dataBase.sqlite";
    auto store = store::Store::open(file, managedObjectModel()).value();
    auto context = store->newContext().value();
    Baby::insertIn(*context).setBaby_Name(baby);
    ASSERT_TRUE(context->save().ok());
    ASSERT_TRUE(store->close().ok());
    ASSERT_TRUE(files::setModificationDate(file, local(2015, 3, 7, 9, 0, 0)).ok());
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
  EXPECT_EQ(babyNames(home_.documents() / "dataBase.sqlite"), std::vector<std::string>{"Anna"});
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

TEST_F(BackupRestoreTest, UnreadableArchivesAndFailuresOfTheStepsLeaveDocumentsAsTheyWere) {
  const Snapshot documents = snapshot(home_.documents());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(backUp_.restoreBackUp().ok()) << "no archive at all";
  const Bytes whole = zip_bytes::build(soundEntries());
  for (const Bytes& bad :
       {bytes("<html>Not found</html>"), Bytes(whole.begin(), whole.begin() + whole.size() / 2)}) {
    download(bad);
    EXPECT_FALSE(backUp_.checkArchiveVers());
    EXPECT_FALSE(backUp_.restoreBackUp().ok());
  }
  EXPECT_EQ(closes_, 0);
  EXPECT_EQ(snapshot(home_.documents()), documents);

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
  const Snapshot before = snapshot(home_.documents());
  EXPECT_TRUE(openStoreCopy(home_.documents() / "dataBase.sqlite", home_.tmp() / "check").ok());
  EXPECT_FALSE(fs::exists(home_.tmp() / "check"));
  EXPECT_EQ(snapshot(home_.documents()), before);
  put(home_.tmp() / "junk.sqlite", "not a database at all, not at all, not at all");
  EXPECT_FALSE(openStoreCopy(home_.tmp() / "junk.sqlite", home_.tmp() / "check").ok());
}

}  // namespace
}  // namespace app
