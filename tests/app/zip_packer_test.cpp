#include "app/zip_packer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "file_store_fixture.h"
#include "platform/foundation/log.h"
#include "support/small_disk.h"
#include "zip_bytes.h"

namespace app {
namespace {

using namespace file_store_test;
using zip_bytes::dosDate;
using zip_bytes::dosTime;

using testing_support::onSmallDisk;

class ZipPackerTest : public FileStoreTest {
 protected:
  ZipPackerTest() : FileStoreTest("America/New_York") {}

  fs::path archiveOf(const std::vector<zip_bytes::NewEntry>& entries) {
    const fs::path path = temp_.path() / ("made" + std::to_string(++made_) + ".zip");
    EXPECT_TRUE(files::writeAtomic(path, zip_bytes::build(entries)).ok());
    return path;
  }
  // Opens a hand-made archive and extracts it into `out`.
  foundation::Status extract(ZipPacker& zip, const std::vector<zip_bytes::NewEntry>& entries,
                             const fs::path& out, bool overwrite = true) {
    auto opened = zip.UnzipOpenFile(archiveOf(entries));
    return opened.ok() ? zip.UnzipFileToOverWrite(out, overwrite) : opened;
  }

  const std::uint32_t stamp_ = (dosDate(2014, 2, 3) << 16) | dosTime(4, 5, 6);
  int made_ = 0;
};

// --- The archive's bytes

TEST_F(ZipPackerTest, BackupArchiveHoldsVersionDateFileThenDocumentsInListingOrder) {
  const Date when = local(2015, 3, 5, 10, 20, 31);
  const fs::path firstLaunch = home_.library() / "Settings" / "firstLaunch.txt";
  ASSERT_TRUE(files::createDirectory(firstLaunch.parent_path()).ok());
  ASSERT_TRUE(files::writeText(firstLaunch, "2015.03.05", files::TextEncoding::Utf16).ok());
  ASSERT_TRUE(files::setModificationDate(firstLaunch, when).ok());
  put(home_.documents() / "dataBase.sqlite", "SQLite format 3 store", when + 3600);
  put(home_.documents() / "Photos" / "_2015_March_05_10_20_7.jpg", "photo bytes photo bytes photo bytes",
      when);
  put(home_.documents() / "Photos" / "sub" / "deep.bin", "deep deep deep deep deep deep deep deep", when);
  put(home_.documents() / "BabyInfo" / "Маша_ava.jpg", "icon", when);
  ASSERT_TRUE(files::createDirectory(home_.documents() / "Empty").ok());
  put(temp_.path() / "outside.txt", "outside", when);
  fs::create_symlink(temp_.path() / "outside.txt", home_.documents() / "link.jpg");

  ASSERT_TRUE(saves_.createZip().ok());
  ASSERT_EQ(saves_.backUpArchivePath(), home_.tmp() / "backUp" / "backUp.zip");
  const auto entries = zip_bytes::parse(readAll(saves_.backUpArchivePath()));
  std::vector<std::string> names;
  for (const auto& e : entries) {
    names.push_back(e.name);
    // Deflated, not encrypted, sizes in the local header, no extra fields or comments.
    EXPECT_EQ((std::vector<std::uint32_t>{e.method, e.localMethod, e.flags, e.localFlags, e.versionNeeded,
                                          e.localVersionNeeded, e.localExtraLength, e.centralExtraLength,
                                          e.commentLength}),
              (std::vector<std::uint32_t>{8, 8, 0, 0, 20, 20, 0, 0, 0}))
        << e.name;
    EXPECT_EQ(e.name, e.localName);
    EXPECT_EQ(zip_bytes::crc(zip_bytes::contents(e)), e.crc) << e.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"backUp.vers", "firstLaunch.txt", "BabyInfo/Маша_ava.jpg",
                                             "Photos/_2015_March_05_10_20_7.jpg", "Photos/sub/deep.bin",
                                             "dataBase.sqlite"}));
  ASSERT_EQ(entries.size(), 6u);
  // Every entry, photos too, holds the very bytes of zlib's deflate at its default level.
  for (const auto& e : entries)
    EXPECT_EQ(e.compressed, zip_bytes::zlibRaw(zip_bytes::contents(e), true)) << e.name;
  EXPECT_EQ(zip_bytes::contents(entries[0]), (Bytes{0xFF, 0xFE, '0', 0}));
  EXPECT_EQ(zip_bytes::contents(entries[1]), readAll(firstLaunch));
  EXPECT_EQ(zip_bytes::contents(entries[3]), bytes("photo bytes photo bytes photo bytes"));
  EXPECT_EQ(zip_bytes::contents(entries[5]), bytes("SQLite format 3 store"));
  // Local time, two-second steps.
  EXPECT_EQ(entries[1].date, dosDate(2015, 3, 5));
  EXPECT_EQ(entries[1].time, dosTime(10, 20, 30));
  EXPECT_EQ(entries[5].time, dosTime(11, 20, 30));
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath().string() + ".partial"));

  // Without a date file, or with a link or a FIFO in its place (neither followed nor waited on),
  // the archive still holds an empty one, with a zero date.
  const std::vector<std::function<void()>> noDateFile = {
      [&] { ASSERT_TRUE(files::remove(firstLaunch).ok()); },
      [&] { fs::create_symlink(temp_.path() / "outside.txt", firstLaunch); },
      [&] { ASSERT_EQ(::mkfifo(firstLaunch.c_str(), 0600), 0); },
  };
  for (const auto& make : noDateFile) {
    ASSERT_TRUE(files::remove(firstLaunch).ok());
    make();
    ASSERT_TRUE(saves_.createZip().ok());
    const auto again = zip_bytes::parse(readAll(saves_.backUpArchivePath()));
    EXPECT_EQ(again.at(1).name, "firstLaunch.txt");
    EXPECT_EQ(again[1].size, 0u);
    EXPECT_EQ(again[1].time, 0u);
  }
}

TEST_F(ZipPackerTest, FailedPackingLeavesNoArchive) {
  put(home_.documents() / "dataBase.sqlite", "store");
  foundation::ScopedLogCapture log;
  // A document that cannot be read fails the packing as a whole (not when file modes are ignored).
  const fs::path locked = home_.documents() / "Photos" / "locked.jpg";
  put(locked, "secret");
  fs::permissions(locked, fs::perms::none);
  const bool readable = ::access(locked.c_str(), R_OK) == 0;
  const bool packed = saves_.createZip().ok();
  fs::permissions(locked, fs::perms::owner_all);
  if (!readable) {
    EXPECT_FALSE(packed);
    EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
    EXPECT_TRUE(fs::is_empty(saves_.backUpDir()));
  }
  // Sources that are no regular files are refused where they are opened.
  ZipPacker zip;
  ASSERT_TRUE(zip.CreateZipFile2(temp_.path() / "kinds.zip").ok());
  fs::create_symlink(locked, temp_.path() / "link");
  ASSERT_EQ(::mkfifo((temp_.path() / "fifo").c_str(), 0600), 0);
  for (const char* source : {"link", "fifo", "."}) {
    auto added = zip.addFileToZipNewname(temp_.path() / source, "x");
    ASSERT_FALSE(added.ok()) << source;
    EXPECT_EQ(added.error().code, kZipReadFailed) << source;
  }
  // The backup folder cannot be made: a file is in its place.
  ASSERT_TRUE(files::remove(saves_.backUpDir()).ok());
  put(saves_.backUpDir(), "in the way");
  EXPECT_FALSE(saves_.createZip().ok());
  EXPECT_FALSE(fs::exists(saves_.backUpArchivePath()));
}

TEST_F(ZipPackerTest, PackingOntoAFullDiskSaysSoAndLeavesNothing) {
  std::mt19937 random(3);
  std::string photo(1 << 20, '\0');
  for (char& c : photo) c = static_cast<char>(random());
  put(home_.documents() / "Photos" / "big.jpg", photo);
  const auto result = onSmallDisk(home_.tmp(), 64 << 10, [&] {
    foundation::ScopedLogCapture log;
    const auto packed = saves_.createZip();
    if (packed.ok()) return 1;
    if (packed.error().code != kZipNoSpace ||
        packed.error().description().find("disk is full") == std::string::npos)
      return 2;
    return fs::is_empty(saves_.backUpDir()) ? 0 : 3;
  });
  if (!result) GTEST_SKIP() << "no file system of a given size can be made here";
  EXPECT_EQ(*result, 0) << "1: packed, 2: the error does not say the disk is full, 3: files left";
}

TEST_F(ZipPackerTest, EntryDatesAreLocalGregorianTimeBothWays) {
  for (const Date date :
       {local(2015, 3, 8, 1, 59, 58), local(2015, 3, 8, 3, 0, 0), local(2015, 7, 1, 23, 59, 58),
        local(1980, 1, 1, 0, 0, 0), local(2107, 12, 31, 23, 59, 58)}) {
    EXPECT_EQ(ZipPacker::dateFromDosDateTime(ZipPacker::dosDateTime(date)), std::optional<Date>(date));
  }
  // Odd seconds and fractions fall to the two-second step below; outside the fields' range, the limits.
  EXPECT_EQ(ZipPacker::dosDateTime(local(2015, 7, 1, 12, 0, 41) + 0.7),
            (dosDate(2015, 7, 1) << 16) | dosTime(12, 0, 40));
  EXPECT_EQ(ZipPacker::dosDateTime(local(1970, 6, 1)), dosDate(1980, 1, 1) << 16);
  EXPECT_EQ(ZipPacker::dosDateTime(local(2200, 6, 1)), (dosDate(2107, 12, 31) << 16) | dosTime(23, 59, 58));
}

TEST(SafeEntryPathTest, NamesThatLeaveTheFolderAreRefused) {
  EXPECT_EQ(safeEntryPath("Photos/a.jpg"), std::optional<std::string>("Photos/a.jpg"));
  EXPECT_EQ(safeEntryPath("Photos\\a.jpg"), std::optional<std::string>("Photos/a.jpg"));
  EXPECT_EQ(safeEntryPath("Photos\\"), std::optional<std::string>("Photos/"));
  EXPECT_EQ(safeEntryPath("./a//b"), std::optional<std::string>("a/b"));
  EXPECT_EQ(safeEntryPath("..a/b..c"), std::optional<std::string>("..a/b..c"));
  for (const char* bad :
       {"", "/etc/passwd", "\\evil", "../x", "a/../../x", "a/..", "..", "C:evil", "c:\\x", "./", "."})
    EXPECT_EQ(safeEntryPath(bad), std::nullopt) << bad;
  EXPECT_EQ(safeEntryPath(std::string("a\0b", 3)), std::nullopt);
}

// --- Writing and reading with ZipPacker

TEST_F(ZipPackerTest, NothingOpenDestroyingAnOpenPackerAndReadingOneEntry) {
  ZipPacker idle;
  EXPECT_FALSE(idle.CloseZipFile2().ok());
  EXPECT_TRUE(idle.UnzipCloseFile().ok());
  EXPECT_FALSE(idle.addFileToZipNewname(temp_.path() / "x", "x").ok());
  EXPECT_FALSE(idle.UnzipFileToOverWrite(temp_.path() / "out", true).ok());

  const fs::path path = temp_.path() / "left.zip";
  {
    ZipPacker left;
    ASSERT_TRUE(left.CreateZipFile2(path).ok());
    ASSERT_TRUE(left.addDataToZip(bytes("hello"), "a.txt", std::nullopt).ok());
    ASSERT_TRUE(left.addFileToZipNewname(temp_.path() / "missing", "empty.txt").ok());
  }
  const auto entries = zip_bytes::parse(readAll(path));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(zip_bytes::contents(entries[0]), bytes("hello"));
  EXPECT_EQ(entries[1].size, 0u) << "a source that does not exist gives an empty entry";

  // One entry is read checked and found by its safe path.
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(archiveOf({{"dir\\backUp.vers", bytes("1")},
                                           {"backUp.vers", zip_bytes::utf16Text("0")}}))
                  .ok());
  EXPECT_EQ(zip.readEntry("backUp.vers").value(), std::optional<Bytes>(zip_bytes::utf16Text("0")));
  EXPECT_EQ(zip.readEntry("nothing").value(), std::nullopt);
  EXPECT_EQ(zip.entryNames().value(), (std::vector<std::string>{"dir\\backUp.vers", "backUp.vers"}));
}

TEST_F(ZipPackerTest, ExtractionReadsBackslashesAsFoldersAndSetsDates) {
  foundation::ScopedLogCapture log;
  ZipPacker zip;
  const fs::path out = temp_.path() / "out";
  ASSERT_TRUE(extract(zip,
                      {{"Photos\\x.jpg", bytes("x"), 8, 0, stamp_},
                       {"Empty\\", {}, 0, 0, stamp_},
                       {"top.txt", bytes("top"), 0, 0, stamp_}},
                      out)
                  .ok());
  EXPECT_TRUE(log.contains("3 entries in the zip file"));
  EXPECT_TRUE(zip.UnzipCloseFile().ok());
  EXPECT_EQ(readAll(out / "Photos" / "x.jpg"), bytes("x"));
  EXPECT_TRUE(fs::is_directory(out / "Empty"));
  EXPECT_EQ(readAll(out / "top.txt"), bytes("top"));
  EXPECT_EQ(files::modificationDate(out / "Photos" / "x.jpg").valueOr(Date{}), local(2014, 2, 3, 4, 5, 6));
  for (const auto& entry : fs::recursive_directory_iterator(out))
    EXPECT_EQ(entry.path().filename().string().find(".unzip-"), std::string::npos)
        << "a temporary file was left";
}

TEST_F(ZipPackerTest, OverwritingFollowsTheFlagAndTheDelegate) {
  const fs::path out = temp_.path() / "out";
  put(out / "a.txt", "old a");
  ZipPacker zip;
  auto delegate = std::make_shared<ZipPackerDelegate>();
  std::vector<fs::path> asked;
  delegate->OverWriteOperation = [&](const fs::path& path) {
    asked.push_back(path);
    return path.filename() != "a.txt";
  };
  zip.setDelegate(delegate);
  // A file entry whose place holds a folder is asked about like any existing file, and skipped
  // even when the delegate agrees; the entries after it still land.
  put(out / "Photos" / "kept.jpg", "kept");
  ASSERT_TRUE(extract(zip,
                      {{"a.txt", bytes("new a"), 8, 0, stamp_},
                       {"Photos", bytes("not a folder")},
                       {"b.txt", bytes("new b"), 8, 0, stamp_}},
                      out, false)
                  .ok());
  EXPECT_EQ(asked, (std::vector<fs::path>{out / "a.txt", out / "Photos"}));
  EXPECT_EQ(readAll(out / "a.txt"), bytes("old a"));
  EXPECT_EQ(readAll(out / "b.txt"), bytes("new b"));
  EXPECT_EQ(readAll(out / "Photos" / "kept.jpg"), bytes("kept"));

  ASSERT_TRUE(zip.UnzipFileToOverWrite(out, true).ok());
  EXPECT_EQ(readAll(out / "a.txt"), bytes("new a"));
  EXPECT_EQ(files::modificationDate(out / "a.txt").valueOr(Date{}), local(2014, 2, 3, 4, 5, 6));
  EXPECT_EQ(readAll(out / "Photos" / "kept.jpg"), bytes("kept"));
  EXPECT_EQ(asked.size(), 2u);

  // A file where an entry's folder belongs stops the extraction: what goes inside it is not
  // silently left out.
  const fs::path blocked = temp_.path() / "blocked";
  put(blocked / "Photos", "a file");
  ZipPacker stopped;
  auto status = extract(stopped, {{"Photos/x.jpg", bytes("x")}, {"later.txt", bytes("later")}}, blocked);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, kZipWriteFailed);
  EXPECT_EQ(readAll(blocked / "Photos"), bytes("a file"));
  EXPECT_FALSE(fs::exists(blocked / "later.txt"));
}

// Each fault fails the extraction with its code and a message to the delegate; a bad name or a
// size the disk cannot take is found before anything is written, and nothing lands outside.
TEST_F(ZipPackerTest, FaultyEntriesFailTheExtraction) {
  struct Case {
    std::vector<zip_bytes::NewEntry> entries;
    std::int64_t code;
    bool beforeWriting;
  };
  std::vector<Case> cases;
  for (const char* name : {"Photos/../../evil.txt", "/tmp/evil.txt", "..\\evil.txt"})
    cases.push_back({{{name, bytes("evil")}}, kZipUnsafeEntryName, true});
  cases.push_back({{{"a.txt", bytes("payload"), 8, 0, stamp_, true}}, kZipCrcMismatch, false});
  cases.push_back({{{"a.txt", bytes("payload"), 0, 0, stamp_, true}}, kZipCrcMismatch, false});
  cases.push_back({{{"a.txt", bytes("payload"), 0, 1}}, kZipUnsupportedEntry, false});  // encrypted
  // 16384 entries of five bytes each declaring 4 GB: 64 TB in all.
  Case huge{{}, kZipNoSpace, true};
  for (int i = 0; i < 16384; ++i) {
    huge.entries.push_back({"big" + std::to_string(i), bytes("zeros"), 0});
    huge.entries.back().declaredSize = 0xFFFFFFFE;
  }
  cases.push_back(std::move(huge));

  for (auto& [entries, code, beforeWriting] : cases) {
    SCOPED_TRACE(entries[0].name);
    entries.insert(entries.begin(), {"fine.txt", bytes("fine")});
    const fs::path out = temp_.path() / "deep" / "out";
    ZipPacker zip;
    std::vector<std::string> messages;
    auto delegate = std::make_shared<ZipPackerDelegate>();
    delegate->ErrorMessage = [&](std::string_view message) { messages.emplace_back(message); };
    zip.setDelegate(delegate);
    auto status = extract(zip, entries, out);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kZipErrorDomain);
    EXPECT_EQ(status.error().code, code) << status.error().description();
    EXPECT_FALSE(messages.empty());
    EXPECT_FALSE(zip.verifyEntries().ok());
    EXPECT_TRUE(!beforeWriting || !fs::exists(out));
    for (const fs::path& folder : {temp_.path(), temp_.path() / "deep"})
      EXPECT_FALSE(fs::exists(folder / "evil.txt"));
    ASSERT_TRUE(files::remove(temp_.path() / "deep").ok());
  }
}

TEST_F(ZipPackerTest, UnknownMethodsAndLinksInTheTargetFailTheExtraction) {
  // An unknown method (bzip2's number) is refused, not guessed at.
  Bytes archive = zip_bytes::build({{"a.txt", bytes("payload"), 0}});
  archive[8] = 12;                                  // local header
  archive[archive.size() - 22 - 46 - 5 + 10] = 12;  // central header
  ASSERT_TRUE(files::writeAtomic(temp_.path() / "bz.zip", archive).ok());
  ZipPacker zip;
  ASSERT_TRUE(zip.UnzipOpenFile(temp_.path() / "bz.zip").ok());
  auto status = zip.UnzipFileToOverWrite(temp_.path() / "out2", true);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code, kZipUnsupportedEntry);

  // A link in the target folder is never followed out of it.
  const fs::path out = temp_.path() / "linked", elsewhere = temp_.path() / "elsewhere";
  ASSERT_TRUE(files::createDirectory(out).ok());
  ASSERT_TRUE(files::createDirectory(elsewhere).ok());
  fs::create_directory_symlink(elsewhere, out / "Photos");
  ZipPacker linked;
  EXPECT_FALSE(extract(linked, {{"Photos/x.jpg", bytes("x")}}, out).ok());
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
}  // namespace app
