#include "platform/files/file_ops.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <optional>

#include "support/temp_dir.h"

namespace files {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;
using Paths = std::vector<fs::path>;

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16

void put(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::string contentsOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every entry, hidden temporary files included.
Names namesIn(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void expectError(const foundation::Error& error, std::int64_t code, const fs::path& path) {
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, code);
  EXPECT_EQ(error.userInfo[foundation::Error::kFilePathKey].stringOr(""), path.string());
  EXPECT_NE(error.localizedDescription().find(path.filename().string()), std::string::npos)
      << error.localizedDescription();
}

// The error code of a failed Status or Result, 0 for success.
template <class R>
std::int64_t codeOf(const R& result) {
  return result ? 0 : result.error().code;
}

// Runs `body` in a child process and hands back the number it returns; nothing when the child
// could not run. Tests run as root, which ignores file permissions: an unprivileged child gives
// up root for the nobody account, so permission checks apply to it.
std::optional<std::int64_t> inChild(const std::function<std::int64_t()>& body, bool unprivileged = true) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(fds[0]);
    if (unprivileged && ::geteuid() == 0 && (::setgroups(0, nullptr) || ::setgid(65534) || ::setuid(65534)))
      ::_exit(2);
    const std::int64_t result = body();
    ::_exit(::write(fds[1], &result, sizeof result) == sizeof result ? 0 : 3);
  }
  ::close(fds[1]);
  std::int64_t result = 0;
  const bool read = ::read(fds[0], &result, sizeof result) == sizeof result;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

class FileOps : public ::testing::Test {
 protected:
  testing_support::TempDir dir;
};

// ---- folders and listing ------------------------------------------------------------------

TEST_F(FileOps, CreateDirectoryExistsAndIsDirectory) {
  ASSERT_TRUE(createDirectory(dir / "a/b/c"));
  put(dir / "a/b/c/f", "kept");
  EXPECT_TRUE(createDirectory(dir / "a/b/c/"));
  EXPECT_EQ(contentsOf(dir / "a/b/c/f"), "kept");
  // A file where the folder or one of its parents should be.
  expectError(createDirectory(dir / "a/b/c/f").error(), kWriteFileExistsError, dir / "a/b/c/f");
  EXPECT_EQ(codeOf(createDirectory(dir / "a/b/c/f/sub")), kWriteFileExistsError);
  EXPECT_EQ(contentsOf(dir / "a/b/c/f"), "kept");
  // Links are followed: one to a folder is a folder, one to nothing does not exist.
  fs::create_directory_symlink(dir / "a", dir / "to-folder");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_TRUE(isDirectory(dir / "to-folder"));
  EXPECT_TRUE(files::exists(dir / "a/b/c/f"));
  EXPECT_FALSE(isDirectory(dir / "a/b/c/f"));
  EXPECT_FALSE(files::exists(dir / "dangling"));
}

TEST_F(FileOps, ListsSortedByComponentWithoutFollowingLinks) {
  testing_support::TempDir outside;
  put(outside / "secret.txt", "s");
  const fs::path root = dir / "root";
  for (const char* file : {".hidden", "a/x", "a-b/x", "a.txt", "b/10", "b/2/c"}) put(root / file, "");
  fs::create_directory(root / "e");
  fs::create_directory_symlink(outside.path(), root / "link");
  // "a/x" comes before "a-b/x" though '-' < '/' as bytes; "b/10" before "b/2" (no numeric order).
  EXPECT_EQ(listRecursive(root).value(),
            (Paths{".hidden", "a/x", "a-b/x", "a.txt", "b/10", "b/2/c", "link"}));
  EXPECT_EQ(listRecursive(root, true).value(), (Paths{".hidden", "a", "a/x", "a-b", "a-b/x", "a.txt", "b",
                                                      "b/10", "b/2", "b/2/c", "e", "link"}));
  EXPECT_TRUE(listRecursive(root / "e")->empty());
  fs::create_symlink(dir / "nowhere", root / "e/dangling");
  EXPECT_EQ(listDirectory(root).value(), (Names{".hidden", "a", "a-b", "a.txt", "b", "e", "link"}));
  EXPECT_EQ(listDirectory(root / "e").value(), Names{"dangling"});

  const auto missing = listRecursive(dir / "missing");
  expectError(missing.error(), kReadNoSuchFileError, dir / "missing");
  EXPECT_EQ(missing.error().underlying->domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(missing.error().underlying->code, ENOENT);
  expectError(listDirectory(dir / "missing").error(), kReadNoSuchFileError, dir / "missing");
  EXPECT_EQ(codeOf(listRecursive(root / "a.txt")), kReadUnknownError);
}

// ---- moving, copying, removing ------------------------------------------------------------

TEST_F(FileOps, MovesFilesAndFoldersButNeverOverAnything) {
  put(dir / "a", "A");
  put(dir / "b", "B");
  put(dir / "folder/inner/x", "x");
  ASSERT_TRUE(move(dir / "folder", dir / "renamed"));
  EXPECT_EQ(contentsOf(dir / "renamed/inner/x"), "x");
  const auto taken = move(dir / "a", dir / "b");
  expectError(taken.error(), kWriteFileExistsError, dir / "a");
  EXPECT_EQ(taken.error().userInfo[kDestinationFilePathKey].stringOr(""), (dir / "b").string());
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_EQ(codeOf(move(dir / "a", dir / "dangling")), kWriteFileExistsError);
  EXPECT_EQ(codeOf(move(dir / "a", dir / "no/such/folder/a")), kNoSuchFileError);
  EXPECT_EQ(codeOf(move(dir / "renamed", dir / "renamed/inner/into")), kWriteUnknownError);
  expectError(move(dir / "missing", dir / "to").error(), kNoSuchFileError, dir / "missing");
  ASSERT_TRUE(move(dir / "a", dir / "c"));
  EXPECT_EQ(namesIn(dir.path()), (Names{"b", "c", "dangling", "renamed"}));
  EXPECT_EQ(contentsOf(dir / "b") + contentsOf(dir / "c"), "BA");
}

TEST_F(FileOps, MovesAcrossFileSystemsByCopyingAndRemovingTheOriginal) {
  struct stat here, shm;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &here) != 0 || here.st_dev == shm.st_dev)
    GTEST_SKIP() << "no second file system to move to";
  char pattern[] = "/dev/shm/diary-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path other = pattern;
  put(dir / "tree/sub/x.txt", "x");
  fs::create_symlink("sub/x.txt", dir / "tree/link");
  const bool moved = bool(move(dir / "tree", other / "tree"));
  const std::string copied = contentsOf(other / "tree/link");  // through the link, kept as a link
  const bool keptLink = fs::is_symlink(other / "tree/link");
  fs::remove_all(other);
  EXPECT_TRUE(moved && keptLink);
  EXPECT_EQ(copied, "x");
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST_F(FileOps, CopiesFilesWithModeAndTimeAndFoldersWithLinksAsLinks) {
  testing_support::TempDir outside;
  put(dir / "src/a.bin", "\0\x01\xFF"s);
  put(dir / "src/sub/c.txt", "c");
  fs::permissions(dir / "src/a.bin", fs::perms(0640));
  ASSERT_TRUE(setModificationDate(dir / "src/a.bin", foundation::Date{400000000.5}));
  fs::create_directory_symlink(outside.path(), dir / "src/out");
  fs::create_symlink("src/a.bin", dir / "file-link");
  ASSERT_TRUE(copyFile(dir / "src/a.bin", dir / "b.bin"));
  EXPECT_EQ(contentsOf(dir / "b.bin"), "\0\x01\xFF"s);
  EXPECT_EQ(fs::status(dir / "b.bin").permissions(), fs::perms(0640));
  EXPECT_DOUBLE_EQ(modificationDate(dir / "b.bin")->sinceReference, 400000000.5);
  ASSERT_TRUE(copyFile(dir / "src", dir / "dst"));
  EXPECT_EQ(contentsOf(dir / "dst/sub/c.txt"), "c");
  EXPECT_EQ(fs::read_symlink(dir / "dst/out"), outside.path());
  ASSERT_TRUE(copyFile(dir / "file-link", dir / "link-copy"));
  EXPECT_EQ(fs::read_symlink(dir / "link-copy"), "src/a.bin");

  // Never over anything, never into itself, and a failed copy leaves nothing behind.
  expectError(copyFile(dir / "src/a.bin", dir / "b.bin").error(), kWriteFileExistsError, dir / "src/a.bin");
  expectError(copyFile(dir / "missing", dir / "c").error(), kNoSuchFileError, dir / "missing");
  EXPECT_EQ(codeOf(copyFile(dir / "b.bin", dir / "no/folder/b")), kNoSuchFileError);
  EXPECT_EQ(codeOf(copyFile(dir / "src", dir / "src/sub/copy")), kWriteUnknownError);
  EXPECT_EQ(namesIn(dir.path()), (Names{"b.bin", "dst", "file-link", "link-copy", "src"}));
  EXPECT_EQ(namesIn(dir / "src/sub"), Names{"c.txt"});
}

TEST_F(FileOps, RemovesFilesFoldersAndLinksButNeverWhatLinksPointTo) {
  testing_support::TempDir outside;
  put(outside / "keep.txt", "keep");
  put(dir / "file", "x");
  put(dir / "folder/a/b.txt", "x");
  fs::create_directory_symlink(outside.path(), dir / "folder/out");
  fs::create_symlink(outside / "keep.txt", dir / "file-link");
  fs::create_directory_symlink(outside.path(), dir / "folder-link");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  for (const char* name :
       {"file", "folder", "file-link", "folder-link", "dangling", "missing", "missing/below"})
    EXPECT_TRUE(files::remove(dir / name)) << name;
  EXPECT_TRUE(namesIn(dir.path()).empty());
  EXPECT_EQ(contentsOf(outside / "keep.txt"), "keep");
}

// ---- modification dates, reading and atomic writing ---------------------------------------

TEST_F(FileOps, ModificationDatesKeepSubSecondPrecision) {
  put(dir / "f", "x");
  for (const double when : {0.0, -100000000.5, 754000000.123456, 123456789.25}) {
    ASSERT_TRUE(setModificationDate(dir / "f", foundation::Date{when})) << when;
    EXPECT_NEAR(modificationDate(dir / "f")->sinceReference, when, 1e-6) << when;
  }
  struct stat st;
  ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 123456789 + 978307200);
  EXPECT_EQ(st.st_mtim.tv_nsec, 250000000);
  ASSERT_TRUE(writeAtomic(dir / "f", "y"s));
  EXPECT_GT(modificationDate(dir / "f")->sinceReference, 123456789.25);
  ASSERT_TRUE(setModificationDate(dir.path(), foundation::Date{1000.5}));
  EXPECT_DOUBLE_EQ(modificationDate(dir.path())->sinceReference, 1000.5);

  expectError(modificationDate(dir / "missing").error(), kReadNoSuchFileError, dir / "missing");
  expectError(setModificationDate(dir / "missing", foundation::Date{0}).error(), kNoSuchFileError,
              dir / "missing");
  EXPECT_EQ(codeOf(setModificationDate(dir / "f", foundation::Date{NAN})), kWriteUnknownError);
  EXPECT_EQ(codeOf(setModificationDate(dir / "f", foundation::Date{INFINITY})), kWriteUnknownError);
}

TEST_F(FileOps, ReadsEveryByteAndReportsWhatIsNoFile) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  put(dir / "big", big);
  const auto read = readFile(dir / "big");
  EXPECT_EQ(std::string(read->begin(), read->end()), big);
  put(dir / "empty", "");
  EXPECT_TRUE(readFile(dir / "empty")->empty());

  const auto missing = readFile(dir / "missing.txt");
  expectError(missing.error(), kReadNoSuchFileError, dir / "missing.txt");
  EXPECT_EQ(missing.error().localizedDescription(),
            "The file \u201Cmissing.txt\u201D couldn\u2019t be opened because there is no such file.");
  EXPECT_EQ(missing.error().underlying->code, ENOENT);
  EXPECT_EQ(codeOf(readFile(dir / "missing/below")), kReadNoSuchFileError);
  EXPECT_EQ(codeOf(readFile(dir.path())), kReadUnknownError);
}

TEST_F(FileOps, WritesAtomicallyKeepingOrSettingTheMode) {
  ASSERT_TRUE(writeAtomic(dir / "f", "first"s));
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms(0644));
  ASSERT_TRUE(writeAtomic(dir / "f", foundation::Bytes{'s', 0, 'b'}));
  EXPECT_EQ(contentsOf(dir / "f"), "s\0b"s);
  ASSERT_TRUE(writeAtomic(dir / "f", "", 0));
  EXPECT_EQ(contentsOf(dir / "f"), "");
  fs::permissions(dir / "f", fs::perms(0600));
  ASSERT_TRUE(writeAtomic(dir / "f", "new"s));
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms(0600));
  ASSERT_TRUE(writeAtomic(dir / "f", "n", 1, fs::perms(0640)));
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms(0640));
  EXPECT_EQ(contentsOf(dir / "f"), "n");
  EXPECT_EQ(namesIn(dir.path()), Names{"f"});
}

TEST_F(FileOps, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  put(dir / "old.txt", "old contents");
  // A file-size limit makes the write itself fail half-way.
  const auto code = inChild(
      [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit { 1024, 1024 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return codeOf(writeAtomic(dir / "old.txt", std::string(64 * 1024, 'n')));
      },
      false);
  EXPECT_EQ(code, kWriteUnknownError);
  EXPECT_EQ(contentsOf(dir / "old.txt"), "old contents");
  // A folder where the file should go: the final rename fails.
  put(dir / "folder/inside", "i");
  expectError(writeAtomic(dir / "folder", "x"s).error(), kWriteUnknownError, dir / "folder");
  expectError(writeAtomic(dir / "no/such/f", "x"s).error(), kNoSuchFileError, dir / "no/such/f");
  EXPECT_EQ(namesIn(dir.path()), (Names{"folder", "old.txt"}));
  EXPECT_EQ(namesIn(dir / "folder"), Names{"inside"});
}

TEST_F(FileOps, AWriterPutsItsPiecesInPlaceOnlyWhenCommitted) {
  put(dir / "old.txt", "old contents");
  fs::permissions(dir / "old.txt", fs::perms(0600));
  auto writer = AtomicWriter::create(dir / "old.txt").value();
  ASSERT_TRUE(writer.write("ab", 2));
  ASSERT_TRUE(writer.write("cd", 2));
  EXPECT_EQ(contentsOf(dir / "old.txt"), "old contents");
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);  // and the temporary file beside it
  AtomicWriter moved = std::move(writer);
  ASSERT_TRUE(moved.commit());
  EXPECT_EQ(contentsOf(dir / "old.txt"), "abcd");
  EXPECT_EQ(fs::status(dir / "old.txt").permissions(), fs::perms(0600));
  EXPECT_FALSE(moved.commit().ok());
  EXPECT_FALSE(moved.write("e", 1).ok());
  // Dropped without a commit: the old file stays and the temporary file goes.
  EXPECT_TRUE(AtomicWriter::create(dir / "old.txt").value().write("dropped", 7));
  EXPECT_TRUE(AtomicWriter::create(dir / "new.txt").value().write("dropped", 7));
  EXPECT_EQ(contentsOf(dir / "old.txt"), "abcd");
  EXPECT_EQ(namesIn(dir.path()), Names{"old.txt"});
  expectError(AtomicWriter::create(dir / "no/such/f").error(), kNoSuchFileError, dir / "no/such/f");
}

// ---- text files ---------------------------------------------------------------------------

TEST_F(FileOps, WritesUtf16LittleEndianAfterTheMarkAndUtf8WithoutOne) {
  ASSERT_TRUE(writeText(dir / "backUp.vers", "0", TextEncoding::Utf16));
  EXPECT_EQ(contentsOf(dir / "backUp.vers"), "\xFF\xFE\x30\x00"s);
  ASSERT_TRUE(writeText(dir / "emoji.txt", "a" + kEmoji, TextEncoding::Utf16));
  EXPECT_EQ(contentsOf(dir / "emoji.txt"), "\xFF\xFE\x61\x00\x3D\xD8\x00\xDE"s);
  ASSERT_TRUE(writeText(dir / "empty.txt", "", TextEncoding::Utf16));
  EXPECT_EQ(contentsOf(dir / "empty.txt"), "\xFF\xFE");
  ASSERT_TRUE(writeText(dir / "u8.txt", "\xD0\xA1hest", TextEncoding::Utf8));
  EXPECT_EQ(contentsOf(dir / "u8.txt"), "\xD0\xA1hest");
  // Malformed text is refused and leaves the old file, or none.
  put(dir / "empty.txt", "kept");
  for (const auto encoding : {TextEncoding::Utf8, TextEncoding::Utf16}) {
    expectError(writeText(dir / "bad.txt", "ok\xFF", encoding).error(), kWriteInapplicableStringEncodingError,
                dir / "bad.txt");
    EXPECT_FALSE(writeText(dir / "empty.txt", "\xED\xA0\x80", encoding));
  }
  EXPECT_EQ(contentsOf(dir / "empty.txt"), "kept");
  EXPECT_EQ(namesIn(dir.path()), (Names{"backUp.vers", "emoji.txt", "empty.txt", "u8.txt"}));
}

TEST_F(FileOps, ReadsTextByTheByteOrderMarkAndRefusesWhatDoesNotDecode) {
  const std::string text = "20" + kEmoji + "\xD0\xA1";
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"\xFE\xFF\x00\x32\x00\x30\xD8\x3D\xDE\x00\x04\x21"s, text},
      {"\xFF\xFE\x32\x00\x30\x00\x3D\xD8\x00\xDE\x21\x04"s, text},
      {"\xEF\xBB\xBF\x32\x30", "20"},
      {"", ""},
      {"\xFF\xFE\x30\x00\x31"s, std::nullopt},      // odd byte count
      {"\xFF\xFE\x3D\xD8\x41\x00"s, std::nullopt},  // high surrogate, then "A"
      {"\x30\x00\x31\x00"s, std::nullopt},          // UTF-16 without its mark
      {"\xFE\xFF\x00\x00"s, std::nullopt},          // U+0000
      {"caf\xE9", std::nullopt},                    // Latin-1, not UTF-8
      {"\xEF\xBB\xBF\xC0\xAF"s, std::nullopt},      // the mark, then no UTF-8
  };
  for (const auto& [bytes, expected] : cases) {
    put(dir / "t.txt", bytes);
    const auto read = readText(dir / "t.txt");
    EXPECT_EQ(read.valueOr("(failed)"), expected.value_or("(failed)"));
    if (!expected && !read) expectError(read.error(), kReadInapplicableStringEncodingError, dir / "t.txt");
  }
  EXPECT_EQ(codeOf(readText(dir / "missing.txt")), kReadNoSuchFileError);
}

// ---- permissions --------------------------------------------------------------------------

// Each case sets up files as root in a folder everyone may enter, then runs the operation in a
// child that has given up root.
class Permissions : public FileOps {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the operations as another user";
    fs::permissions(dir.path(), fs::perms(0755));
  }
};

TEST_F(Permissions, ReadingWhatOthersMayNotRead) {
  put(dir / "private", "p");
  fs::permissions(dir / "private", fs::perms(0600));
  EXPECT_EQ(inChild([&] { return codeOf(readFile(dir / "private")); }), kReadNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(readText(dir / "private")); }), kReadNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(copyFile(dir / "private", dir / "copy")); }), kReadNoPermissionError);
  EXPECT_FALSE(files::exists(dir / "copy"));
  // The modification time needs no permission on the file itself.
  EXPECT_EQ(inChild([&] { return codeOf(modificationDate(dir / "private")); }), 0);

  put(dir / "open/a.txt", "");
  put(dir / "open/closed/b.txt", "");
  fs::permissions(dir / "open/closed", fs::perms(0700));
  EXPECT_EQ(inChild([&] { return codeOf(listDirectory(dir / "open/closed")); }), kReadNoPermissionError);
  // One unreadable folder fails the whole listing rather than leave entries out unnoticed.
  EXPECT_EQ(inChild([&] { return codeOf(listRecursive(dir / "open")); }), kReadNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(listDirectory(dir / "open")); }), 0);
}

TEST_F(Permissions, ChangingWhatOthersMayNotWrite) {
  put(dir / "f", "old");
  EXPECT_EQ(inChild([&] { return codeOf(createDirectory(dir / "sub/folder")); }), kWriteNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(move(dir / "f", dir / "g")); }), kWriteNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(files::remove(dir / "f")); }), kWriteNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(writeText(dir / "t.txt", "t", TextEncoding::Utf16)); }),
            kWriteNoPermissionError);
  EXPECT_EQ(inChild([&] { return codeOf(setModificationDate(dir / "f", foundation::Date{5})); }),
            kWriteNoPermissionError);
  // The error names the target, not the temporary file the write began with.
  const auto namesTarget = inChild([&] {
    const auto status = writeAtomic(dir / "f", "new"s);
    return std::int64_t(!status &&
                        status.error().userInfo[foundation::Error::kFilePathKey] == (dir / "f").string());
  });
  EXPECT_EQ(namesTarget, 1);
  EXPECT_EQ(contentsOf(dir / "f"), "old");
  EXPECT_EQ(namesIn(dir.path()), Names{"f"});
}

}  // namespace
}  // namespace files
