#include "app/zip_packer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/local_saves.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"
#include "support/temp_dir.h"
#include "zip_bytes.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Date;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes readAll(const fs::path& path) {
  auto read = files::readFile(path);
  return read ? *read : Bytes{};
}

// A local time in the zone in force.
Date local(int year, int month, int day, int hour, int minute, int second) {
  foundation::DateComponents parts;
  parts.year = year, parts.month = month, parts.day = day, parts.hour = hour, parts.minute = minute,
  parts.second = second;
  return *foundation::Calendar::gregorian(foundation::TimeZone::local()).dateFromComponents(parts);
}

std::uint16_t dosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
std::uint16_t dosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

class ZipPackerTest : public ::testing::Test {
 protected:
  ZipPackerTest()
      : zone_(*foundation::TimeZone::withIdentifier("America/New_York")),
        home_(temp_.path() / "home"),
        saves_(home_) {
    EXPECT_TRUE(home_.create().ok());
  }

  void put(const fs::path& path, std::string_view contents, Date modified) {
    ASSERT_TRUE(files::createDirectory(path.parent_path()).ok());
    ASSERT_TRUE(files::writeAtomic(path, contents).ok());
    ASSERT_TRUE(files::setModificationDate(path, modified).ok());
  }

  fs::path archiveOf(const std::vector<zip_bytes::NewEntry>& entries) {
    const fs::path path = temp_.path() / ("made" + std::to_string(++made_) + ".zip");
    EXPECT_TRUE(files::writeAtomic(path, zip_bytes::build(entries)).ok());
    return path;
  }

  foundation::ScopedDefaultTimeZone zone_;
  testing_support::TempDir temp_;
  files::AppHome home_;
  localSaves saves_;
  int made_ = 0;
};

// --- The archive's bytes -------------------------------------------------------------------------------

TEST_F(ZipPackerTest, BackupArchiveHoldsVersionDateFileThenDocumentsInListingOrder) {
  const Date when = local(2015, 3, 5, 10, 20, 31);
  ASSERT_TRUE(files::createDirectory(home_.library() / "Settings").ok());
  ASSERT_TRUE(files::writeText(home_.library() / "Settings" / "firstLaunch.txt", "2015.03.05",
                               files::TextEncoding::Utf16)
                  .ok());
  ASSERT_TRUE(files::setModificationDate(home_.library() / "Settings" / "firstLaunch.txt", when).ok());
  put(home_.documents() / "dataBase.sqlite", "SQLite format 3 store", when + 3600);
  put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "photo bytes photo bytes photo bytes",
      when);
  put(home_.documents() / "Photos" / "sub" / "deep.bin", "deep", when);
  put(home_.documents() / "BabyInfo" / "Маша_ava.jpg", "icon", when);
  ASSERT_TRUE(files::createDirectory(home_.documents() / "Empty").ok());
  put(temp_.path() / "outside.txt", "outside", when);
  fs::create_symlink(temp_.path() / "outside.txt", home_.documents() / "link.jpg");

  ASSERT_TRUE(saves_.createZip().ok());
  const fs::path archive = home_.tmp() / "backUp" / "backUp.zip";
  ASSERT_EQ(saves_.backUpArchivePath(), archive);
  const auto entries = zip_bytes::parse(readAll(archive));

  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"backUp.vers", "firstLaunch.txt", "BabyInfo/Маша_ava.jpg",
                                             "Photos/_2015_March_05_10_20_7.jpg", "Photos/sub/deep.bin",
                                             "dataBase.sqlite"}));
  for (const auto& e : entries) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.name, e.localName);
    EXPECT_EQ(e.method, 8);
    EXPECT_EQ(e.localMethod, 8);
    EXPECT_EQ(e.flags, 0);  // not encrypted, default level, sizes in the local header
    EXPECT_EQ(e.localFlags, 0);
    EXPECT_EQ(e.versionNeeded, 20);
    EXPECT_EQ(e.localVersionNeeded, 20);
    EXPECT_EQ(e.localExtraLength, 0);
    EXPECT_EQ(e.centralExtraLength, 0);
    EXPECT_EQ(e.commentLength, 0);
    EXPECT_EQ(zip_bytes::crc(zip_bytes::contents(e)), e.crc);
  }
  EXPECT_EQ(zip_bytes::contents(entries[0]), (Bytes{0xFF, 0xFE, '0', 0}));
  EXPECT_EQ(zip_bytes::contents(entries[1]), readAll(home_.library() / "Settings" / "firstLaunch.txt"));
  EXPECT_EQ(zip_bytes::contents(entries[3]), bytes("photo bytes photo bytes photo bytes"));
  EXPECT_EQ(zip_bytes::contents(entries[5]), bytes("SQLite format 3 store"));
  // Local time, two-second steps.
  EXPECT_EQ(entries[1].date, dosDate(2015, 3, 5));
  EXPECT_EQ(entries[1].time, dosTime(10, 20, 30));
  EXPECT_EQ(entries[5].time, dosTime(11, 20, 30));
  EXPECT_FALSE(fs::exists(home_.tmp() / "backUp" / "backUp.zip.partial"));
}

TEST_F(ZipPackerTest, ArchiveWithoutDateFileStillHoldsAnEmptyOne) {
  put(home_.documents() / "dataBase.sqlite", "store", local(2016, 1, 2, 3, 4, 6));
  ASSERT_TRUE(saves_.createZip().ok());
  const auto entries = zip_bytes::parse(readAll(saves_.backUpArchivePath()));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].name, "firstLaunch.txt");
  EXPECT_EQ(entries[1].size, 0u);
  EXPECT_EQ(entries[1].time, 0);
}

TEST_F(ZipPackerTest, FailedPackingLeavesNoArchive) {
  put(home_.documents() / "dataBase.sqlite", "store", local(2016, 1, 2, 3, 4, 6));
  ASSERT_TRUE(saves_.createZip().ok());
  // The backup folder cannot be made: a file is in its place.
  ASSERT_TRUE(files::remove(saves_.backUpDir()).ok());
  ASSERT_TRUE(files::writeAtomic(saves_.backUpDir(), std::string_view("in the way")).ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saves_.createZip().ok());
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
}

TEST_F(ZipPackerTest, UnreadableDocumentFailsThePackingAsAWhole) {
  put(home_.documents() / "dataBase.sqlite", "store", local(2016, 1, 2, 3, 4, 6));
  put(home_.documents() / "Photos" / "locked.jpg", "secret", local(2016, 1, 2, 3, 4, 6));
  fs::permissions(home_.documents() / "Photos" / "locked.jpg", fs::perms::none);
  const bool readable = ::access((home_.documents() / "Photos" / "locked.jpg").c_str(), R_OK) == 0;
  foundation::ScopedLogCapture log;
  const bool packed = saves_.createZip().ok();
  fs::permissions(home_.documents() / "Photos" / "locked.jpg", fs::perms::owner_all);
  if (readable) GTEST_SKIP() << "running with permissions that ignore file modes";
  EXPECT_FALSE(packed);
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
  EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
}

// --- Dates -----------------------------------------------------------------------------------------------

TEST_F(ZipPackerTest, EntryDatesAreLocalGregorianTimeBothWays) {
  for (const Date date :
       {local(2015, 3, 8, 1, 59, 58), local(2015, 3, 8, 3, 0, 0), local(2015, 7, 1, 23, 59, 58),
        local(1980, 1, 1, 0, 0, 0), local(2107, 12, 31, 23, 59, 58)}) {
    EXPECT_EQ(ZipPacker::dateFromDosDateTime(ZipPacker::dosDateTime(date)), std::optional<Date>(date));
  }
  // Odd seconds and fractions fall to the two-second step below.
  EXPECT_EQ(ZipPacker::dateFromDosDateTime(ZipPacker::dosDateTime(local(2015, 7, 1, 12, 0, 41) + 0.7)),
            std::optional<Date>(local(2015, 7, 1, 12, 0, 40)));
  EXPECT_EQ(ZipPacker::dosDateTime(local(2015, 7, 1, 12, 0, 41)),
            (std::uint32_t{dosDate(2015, 7, 1)} << 16) | dosTime(12, 0, 40));
  // Outside what the fields hold: held at the limits.
  EXPECT_EQ(ZipPacker::dosDateTime(local(1970, 6, 1, 0, 0, 0)), std::uint32_t{dosDate(1980, 1, 1)} << 16);
  EXPECT_EQ(ZipPacker::dosDateTime(local(2200, 6, 1, 0, 0, 0)),
            (std::uint32_t{dosDate(2107, 12, 31)} << 16) | dosTime(23, 59, 58));
}

// --- Names ------------------------------------------------------------------------------------------------

TEST(SafeEntryPathTest, NamesThatLeaveTheFolderAreRefused) {
  EXPECT_EQ(safeEntryPath("Photos/a.jpg"), std::optional<std::string>("Photos/a.jpg"));
  EXPECT_EQ(safeEntryPath("Photos\\a.jpg"), std::optional<std::string>("Photos/a.jpg"));
  EXPECT_EQ(safeEntryPath("Photos\\"), std::optional<std::string>("Photos/"));
  EXPECT_EQ(safeEntryPath("./a//b"), std::optional<std::string>("a/b"));
  EXPECT_EQ(safeEntryPath("..a/b..c"), std::optional<std::string>("..a/b..c"));
  for (const char* bad :
       {"", "/etc/passwd", "\\evil", "../x", "a/../../x", "a/..", "..", "C:evil", "c:\\x", "./", "."}) {
    EXPECT_EQ(safeEntryPath(bad), std::nullopt) << bad;
  }
}

// --- Writing and reading with ZipPacker
// ---------------------------------------------------------------------

TEST_F(ZipPackerTest, ClosingWithNothingOpen) {
  ZipPacker zip;
  EXPECT_FALSE(zip.CloseZipFile2().ok());
  EXPECT_TRUE(zip.UnzipCloseFile().ok());
  EXPECT_FALSE(zip.addFileToZipNewname(temp_.path() / "x", "x").ok());
  EXPECT_FALSE(zip.UnzipFileToOverWrite(temp_.path() / "out", true).ok());
}

TEST_F(ZipPackerTest, DestroyingAPackerCompletesItsArchive) {
  const fs::path path = temp_.path() / "left.zip";
  {
    ZipPacker zip;
    ASSERT_TRUE(zip.CreateZipFile2(path).ok());
    ASSERT_TRUE(zip.addDataToZip(bytes("hello"), "a.txt", std::nullopt).ok());
  }
  const auto entries = zip_bytes::parse(readAll(path));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(zip_bytes::contents(entries[0]), bytes("hello"));
}

TEST_F(ZipPackerTest, ExtractionReadsBackslashesAsFoldersAndSetsDates) {
  const std::uint32_t stamp = (std::uint32_t{dosDate(2014, 2, 3)} << 16) | dosTime(4, 5, 6);
  const fs::path archive = archiveOf({{"Photos\\x.jpg", bytes("x"), 8, 0, stamp},
                                      {"Empty\\", {}, 0, 0, stamp},
                                      {"top.txt", bytes("top"), 0, 0, stamp}});
  foundation::ScopedLogCapture log;
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(archive).ok());
  EXPECT_TRUE(log.contains("3 entries in the zip file"));
  const fs::path out = temp_.path() / "out";
  ASSERT_TRUE(zip.UnzipFileToOverWrite(out, true).ok());
  EXPECT_TRUE(zip.UnzipCloseFile().ok());
  EXPECT_TRUE(zip.UnzipCloseFile().ok());
  EXPECT_EQ(readAll(out / "Photos" / "x.jpg"), bytes("x"));
  EXPECT_TRUE(fs::is_directory(out / "Empty"));
  EXPECT_EQ(readAll(out / "top.txt"), bytes("top"));
  EXPECT_EQ(files::modificationDate(out / "Photos" / "x.jpg").valueOr(Date{}), local(2014, 2, 3, 4, 5, 6));
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    EXPECT_EQ(entry.path().filename().string().find(".unzip-"), std::string::npos)
        << "a temporary file was left";
  }
}

TEST_F(ZipPackerTest, OverwritingFollowsTheFlagAndTheDelegate) {
  const std::uint32_t stamp = (std::uint32_t{dosDate(2014, 2, 3)} << 16) | dosTime(4, 5, 6);
  const fs::path archive =
      archiveOf({{"a.txt", bytes("new a"), 8, 0, stamp}, {"b.txt", bytes("new b"), 8, 0, stamp}});
  const fs::path out = temp_.path() / "out";
  put(out / "a.txt", "old a", local(2020, 1, 1, 0, 0, 0));

  ZipPacker zip;
  auto delegate = std::make_shared<ZipPackerDelegate>();
  std::vector<fs::path> asked;
  delegate->OverWriteOperation = [&](const fs::path& path) {
    asked.push_back(path);
    return false;
  };
  zip.setDelegate(delegate);
  ASSERT_TRUE(zip.UnzipOpenFile(archive).ok());
  ASSERT_TRUE(zip.UnzipFileToOverWrite(out, false).ok());
  EXPECT_EQ(asked, std::vector<fs::path>{out / "a.txt"});
  EXPECT_EQ(readAll(out / "a.txt"), bytes("old a"));
  EXPECT_EQ(readAll(out / "b.txt"), bytes("new b"));

  ASSERT_TRUE(zip.UnzipFileToOverWrite(out, true).ok());
  EXPECT_EQ(readAll(out / "a.txt"), bytes("new a"));
  EXPECT_EQ(files::modificationDate(out / "a.txt").valueOr(Date{}), local(2014, 2, 3, 4, 5, 6));
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(ZipPackerTest, HostileNamesAreRefusedBeforeAnythingIsWritten) {
  for (const char* name : {"../evil.txt", "Photos/../../evil.txt", "/tmp/evil.txt", "..\\evil.txt"}) {
    SCOPED_TRACE(name);
    const fs::path archive = archiveOf({{"fine.txt", bytes("fine")}, {name, bytes("evil")}});
    const fs::path out = temp_.path() / "deep" / "out";
    ZipPacker zip;
    std::vector<std::string> messages;
    auto delegate = std::make_shared<ZipPackerDelegate>();
    delegate->ErrorMessage = [&](std::string_view message) { messages.emplace_back(message); };
    zip.setDelegate(delegate);
    ASSERT_TRUE(zip.UnzipOpenFile(archive).ok());
    auto status = zip.UnzipFileToOverWrite(out, true);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kZipErrorDomain);
    EXPECT_EQ(status.error().code, kZipUnsafeEntryName);
    EXPECT_FALSE(messages.empty());
    EXPECT_FALSE(fs::exists(out / "fine.txt"));
    EXPECT_FALSE(fs::exists(temp_.path() / "deep" / "evil.txt"));
    EXPECT_FALSE(fs::exists(temp_.path() / "evil.txt"));
  }
}

TEST_F(ZipPackerTest, DamagedAndUnsupportedEntriesFailTheExtraction) {
  struct Case {
    const char* what;
    zip_bytes::NewEntry entry;
    std::int64_t code;
  };
  const std::vector<Case> cases = {
      {"checksum", {"a.txt", bytes("payload"), 8, 0, 0x4A210000, true}, kZipCrcMismatch},
      {"stored checksum", {"a.txt", bytes("payload"), 0, 0, 0x4A210000, true}, kZipCrcMismatch},
      {"encrypted", {"a.txt", bytes("payload"), 0, 1}, kZipUnsupportedEntry},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZipPacker zip;
    ASSERT_TRUE(zip.UnzipOpenFile(archiveOf({c.entry})).ok());
    auto status = zip.UnzipFileToOverWrite(temp_.path() / "out", true);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, c.code) << status.error().description();
    EXPECT_FALSE(zip.verifyEntries().ok());
  }
  // An unknown method (bzip2's number) is refused, not guessed at.
  Bytes archive = zip_bytes::build({{"a.txt", bytes("payload"), 0}});
  archive[8] = 12;  // local header method
  const auto centralAt = archive.size() - 22 - 46 - 5;
  archive[centralAt + 10] = 12;
  ASSERT_TRUE(files::writeAtomic(temp_.path() / "bz.zip", archive).ok());
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(temp_.path() / "bz.zip").ok());
  auto status = zip.UnzipFileToOverWrite(temp_.path() / "out2", true);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, kZipUnsupportedEntry);
}

TEST_F(ZipPackerTest, FilesThatAreNoArchivesDoNotOpen) {
  const Bytes good = zip_bytes::build({{"a.txt", bytes("some text to compress, some text to compress")}});
  for (const Bytes& bad : {Bytes{}, bytes("PK\x03\x04 not really"), Bytes(good.begin(), good.begin() + 30)}) {
    ASSERT_TRUE(files::writeAtomic(temp_.path() / "bad.zip", bad).ok());
    ZipPacker zip;
    EXPECT_FALSE(zip.UnzipOpenFile(temp_.path() / "bad.zip").ok());
  }
  ZipPacker zip;
  EXPECT_FALSE(zip.UnzipOpenFile(temp_.path() / "missing.zip").ok());
}

TEST_F(ZipPackerTest, ExtractionNeverFollowsALinkOutOfTheFolder) {
  const fs::path out = temp_.path() / "out";
  const fs::path elsewhere = temp_.path() / "elsewhere";
  ASSERT_TRUE(files::createDirectory(out).ok());
  ASSERT_TRUE(files::createDirectory(elsewhere).ok());
  fs::create_directory_symlink(elsewhere, out / "Photos");
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(archiveOf({{"Photos/x.jpg", bytes("x")}})).ok());
  EXPECT_FALSE(zip.UnzipFileToOverWrite(out, true).ok());
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(ZipPackerTest, ReadingOneEntryChecksItAndFindsItBySafePath) {
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(archiveOf({{"dir\\backUp.vers", bytes("1")},
                                           {"backUp.vers", zip_bytes::utf16Text("0")}}))
                  .ok());
  auto found = zip.readEntry("backUp.vers");
  ASSERT_TRUE(found.ok());
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ(**found, zip_bytes::utf16Text("0"));
  auto missing = zip.readEntry("nothing");
  ASSERT_TRUE(missing.ok());
  EXPECT_FALSE(missing->has_value());
  auto names = zip.entryNames();
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, (std::vector<std::string>{"dir\\backUp.vers", "backUp.vers"}));
}

}  // namespace
}  // namespace app
