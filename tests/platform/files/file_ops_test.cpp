#include "platform/files/file_ops.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "support/temp_dir.h"

namespace files {
namespace {

using testing_support::TempDir;

void put(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::string contentsOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string filePathOf(const foundation::Error& error) {
  return error.userInfo[foundation::Error::kFilePathKey].stringOr("");
}

void expectError(const foundation::Error& error, std::int64_t code, const fs::path& path) {
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, code);
  EXPECT_EQ(filePathOf(error), path.string());
  EXPECT_NE(error.localizedDescription().find(path.filename().string()), std::string::npos)
      << error.localizedDescription();
}

// Runs `body` in a child process and hands back the number it returns. Tests run as root,
// which ignores file permissions; the child then gives up root for the nobody account, so
// permission checks apply to it. Nothing when the child could not run.
std::optional<std::int64_t> inChild(const std::function<std::int64_t()>& body, bool unprivileged) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(pipeFds[0]);
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    }
    const std::int64_t result = body();
    const bool written = ::write(pipeFds[1], &result, sizeof result) == sizeof result;
    ::_exit(written ? 0 : 3);
  }
  ::close(pipeFds[1]);
  std::int64_t result = 0;
  const bool read = ::read(pipeFds[0], &result, sizeof result) == sizeof result;
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

std::optional<std::int64_t> unprivileged(const std::function<std::int64_t()>& body) {
  return inChild(body, true);
}

// The error code of a failed status, 0 for success.
std::int64_t codeOf(const foundation::Status& status) { return status ? 0 : status.error().code; }
template <class T>
std::int64_t codeOf(const foundation::Result<T>& result) {
  return result ? 0 : result.error().code;
}

// ---- folders ------------------------------------------------------------------------------

TEST(CreateDirectory, MakesEveryMissingParentAndAcceptsAnExistingFolder) {
  TempDir dir;
  const fs::path deep = dir / "a/b/c";
  ASSERT_TRUE(createDirectory(deep));
  EXPECT_TRUE(isDirectory(deep));
  put(deep / "keep.txt", "kept");
  EXPECT_TRUE(createDirectory(deep));
  EXPECT_TRUE(createDirectory(dir / "a/b/c/"));
  EXPECT_EQ(contentsOf(deep / "keep.txt"), "kept");
}

TEST(CreateDirectory, FailsWhenAFileIsInTheWay) {
  TempDir dir;
  put(dir / "file", "x");
  const auto atPath = createDirectory(dir / "file");
  ASSERT_FALSE(atPath);
  expectError(atPath.error(), kWriteFileExistsError, dir / "file");
  const auto belowFile = createDirectory(dir / "file/sub");
  ASSERT_FALSE(belowFile);
  EXPECT_EQ(belowFile.error().code, kWriteFileExistsError);
  EXPECT_EQ(contentsOf(dir / "file"), "x");
}

TEST(ExistsAndIsDirectory, FollowLinksLikeThePlatform) {
  TempDir dir;
  put(dir / "file", "x");
  fs::create_directory(dir / "folder");
  fs::create_directory_symlink(dir / "folder", dir / "to-folder");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_TRUE(files::exists(dir / "file"));
  EXPECT_FALSE(isDirectory(dir / "file"));
  EXPECT_TRUE(files::exists(dir / "folder"));
  EXPECT_TRUE(isDirectory(dir / "folder"));
  EXPECT_TRUE(isDirectory(dir / "to-folder"));
  EXPECT_FALSE(files::exists(dir / "dangling"));
  EXPECT_FALSE(files::exists(dir / "missing"));
  EXPECT_FALSE(isDirectory(dir / "missing"));
  EXPECT_FALSE(files::exists(dir / "file/below"));
}

// ---- listing ------------------------------------------------------------------------------

TEST(ListRecursive, ListsEverythingSortedByPathWithoutFollowingLinks) {
  TempDir dir;
  TempDir outside;
  put(outside / "secret.txt", "s");
  const fs::path root = dir / "root";
  put(root / "b/2.txt", "");
  put(root / "b/10.txt", "");
  put(root / "a.txt", "");
  put(root / "b/c/d.txt", "");
  put(root / ".hidden", "");
  put(root / "a/x", "");
  put(root / "a-b/x", "");
  fs::create_directory(root / "empty");
  fs::create_directory_symlink(outside.path(), root / "link");
  fs::create_directory_symlink(outside.path(), root / "b/c/deep-link");

  const auto files = listRecursive(root);
  ASSERT_TRUE(files);
  // Sorted component by component: "a/x" before "a-b/x", though '-' < '/' as bytes.
  const std::vector<fs::path> expectedFiles{".hidden", "a/x",       "a-b/x",         "a.txt", "b/10.txt",
                                            "b/2.txt", "b/c/d.txt", "b/c/deep-link", "link"};
  EXPECT_EQ(*files, expectedFiles);

  const auto all = listRecursive(root, true);
  ASSERT_TRUE(all);
  const std::vector<fs::path> expectedAll{
      ".hidden",  "a",       "a/x", "a-b",       "a-b/x",         "a.txt", "b",
      "b/10.txt", "b/2.txt", "b/c", "b/c/d.txt", "b/c/deep-link", "empty", "link"};
  EXPECT_EQ(*all, expectedAll);
}

TEST(ListRecursive, ReportsMissingAndWrongFolders) {
  TempDir dir;
  EXPECT_TRUE(listRecursive(dir.path())->empty());
  const auto missing = listRecursive(dir / "missing");
  ASSERT_FALSE(missing);
  expectError(missing.error(), kReadNoSuchFileError, dir / "missing");
  ASSERT_TRUE(missing.error().underlying);
  EXPECT_EQ(missing.error().underlying->domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(missing.error().underlying->code, ENOENT);
  put(dir / "file", "x");
  const auto notFolder = listRecursive(dir / "file");
  ASSERT_FALSE(notFolder);
  EXPECT_EQ(notFolder.error().code, kReadUnknownError);
}

TEST(ListDirectory, NamesDirectEntriesSorted) {
  TempDir dir;
  put(dir / "b", "");
  put(dir / "a", "");
  put(dir / "C/inner", "");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  const auto names = listDirectory(dir.path());
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, (std::vector<std::string>{"C", "a", "b", "dangling"}));
  const auto missing = listDirectory(dir / "missing");
  ASSERT_FALSE(missing);
  expectError(missing.error(), kReadNoSuchFileError, dir / "missing");
}

// ---- moving, copying, removing ------------------------------------------------------------

TEST(Move, MovesFilesAndFolders) {
  TempDir dir;
  put(dir / "from.txt", "payload");
  ASSERT_TRUE(move(dir / "from.txt", dir / "to.txt"));
  EXPECT_FALSE(files::exists(dir / "from.txt"));
  EXPECT_EQ(contentsOf(dir / "to.txt"), "payload");
  put(dir / "folder/inner/x", "x");
  ASSERT_TRUE(move(dir / "folder", dir / "renamed"));
  EXPECT_EQ(contentsOf(dir / "renamed/inner/x"), "x");
  EXPECT_FALSE(files::exists(dir / "folder"));
}

TEST(Move, NeverReplacesTheDestination) {
  TempDir dir;
  put(dir / "a", "A");
  put(dir / "b", "B");
  const auto taken = move(dir / "a", dir / "b");
  ASSERT_FALSE(taken);
  expectError(taken.error(), kWriteFileExistsError, dir / "a");
  EXPECT_EQ(taken.error().userInfo[kDestinationFilePathKey].stringOr(""), (dir / "b").string());
  EXPECT_EQ(contentsOf(dir / "a"), "A");
  EXPECT_EQ(contentsOf(dir / "b"), "B");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_EQ(codeOf(move(dir / "a", dir / "dangling")), kWriteFileExistsError);
  EXPECT_EQ(contentsOf(dir / "a"), "A");
}

TEST(Move, ReportsMissingSourceAndDestinationFolder) {
  TempDir dir;
  const auto missing = move(dir / "missing", dir / "to");
  ASSERT_FALSE(missing);
  expectError(missing.error(), kNoSuchFileError, dir / "missing");
  put(dir / "a", "A");
  EXPECT_EQ(codeOf(move(dir / "a", dir / "no/such/folder/a")), kNoSuchFileError);
  EXPECT_EQ(contentsOf(dir / "a"), "A");
  put(dir / "tree/x", "");
  EXPECT_EQ(codeOf(move(dir / "tree", dir / "tree/inside")), kWriteUnknownError);
  EXPECT_TRUE(files::exists(dir / "tree/x"));
}

TEST(Move, CopiesAcrossFileSystems) {
  TempDir dir;
  struct stat here, shm;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &here) != 0 || here.st_dev == shm.st_dev) {
    GTEST_SKIP() << "no second file system to move to";
  }
  char pattern[] = "/dev/shm/diary-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path other = pattern;
  put(dir / "tree/sub/x.txt", "x");
  fs::create_symlink("sub/x.txt", dir / "tree/link");
  const auto moved = move(dir / "tree", other / "tree");
  const bool movedFile =
      files::exists(other / "tree/sub/x.txt") && contentsOf(other / "tree/sub/x.txt") == "x";
  const bool keptLink = fs::is_symlink(other / "tree/link");
  const bool sourceGone = !fs::exists(fs::symlink_status(dir / "tree"));
  fs::remove_all(other);
  EXPECT_TRUE(moved);
  EXPECT_TRUE(movedFile);
  EXPECT_TRUE(keptLink);
  EXPECT_TRUE(sourceGone);
}

TEST(CopyFile, CopiesContentsModeAndModificationTime) {
  TempDir dir;
  put(dir / "a.bin", std::string("\0\x01\xFF", 3));
  fs::permissions(dir / "a.bin", fs::perms(0640));
  ASSERT_TRUE(setModificationDate(dir / "a.bin", foundation::Date{400000000.5}));
  ASSERT_TRUE(copyFile(dir / "a.bin", dir / "b.bin"));
  EXPECT_EQ(contentsOf(dir / "b.bin"), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(fs::status(dir / "b.bin").permissions(), fs::perms(0640));
  EXPECT_DOUBLE_EQ(modificationDate(dir / "b.bin")->sinceReference, 400000000.5);
  EXPECT_EQ(contentsOf(dir / "a.bin"), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST(CopyFile, CopiesFoldersWithLinksAsLinks) {
  TempDir dir;
  TempDir outside;
  put(outside / "big.txt", "outside");
  put(dir / "src/a.txt", "a");
  put(dir / "src/sub/b.txt", "b");
  fs::create_directory_symlink(outside.path(), dir / "src/out");
  ASSERT_TRUE(copyFile(dir / "src", dir / "dst"));
  EXPECT_EQ(contentsOf(dir / "dst/a.txt"), "a");
  EXPECT_EQ(contentsOf(dir / "dst/sub/b.txt"), "b");
  EXPECT_TRUE(fs::is_symlink(dir / "dst/out"));
  EXPECT_EQ(fs::read_symlink(dir / "dst/out"), outside.path());
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dst", "src"}));
  EXPECT_EQ(codeOf(copyFile(dir / "src", dir / "src/sub/copy")), kWriteUnknownError);
  EXPECT_FALSE(files::exists(dir / "src/sub/copy"));
  fs::create_symlink("src/a.txt", dir / "file-link");
  ASSERT_TRUE(copyFile(dir / "file-link", dir / "link-copy"));
  EXPECT_EQ(fs::read_symlink(dir / "link-copy"), "src/a.txt");
}

TEST(CopyFile, NeverReplacesTheDestinationAndReportsMissingSource) {
  TempDir dir;
  put(dir / "a", "A");
  put(dir / "b", "B");
  const auto taken = copyFile(dir / "a", dir / "b");
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().code, kWriteFileExistsError);
  EXPECT_EQ(contentsOf(dir / "b"), "B");
  const auto missing = copyFile(dir / "missing", dir / "c");
  ASSERT_FALSE(missing);
  expectError(missing.error(), kNoSuchFileError, dir / "missing");
  EXPECT_EQ(codeOf(copyFile(dir / "a", dir / "no/folder/a")), kNoSuchFileError);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a", "b"}));
}

TEST(Remove, RemovesFilesAndFoldersAndAcceptsNothing) {
  TempDir dir;
  put(dir / "file", "x");
  put(dir / "folder/a/b/c.txt", "x");
  ASSERT_TRUE(files::remove(dir / "file"));
  ASSERT_TRUE(files::remove(dir / "folder"));
  EXPECT_FALSE(files::exists(dir / "file"));
  EXPECT_FALSE(files::exists(dir / "folder"));
  EXPECT_TRUE(files::remove(dir / "missing"));
  EXPECT_TRUE(files::remove(dir / "missing/below"));
}

TEST(Remove, NeverFollowsLinksOutOfTheFolder) {
  TempDir dir;
  TempDir outside;
  put(outside / "keep.txt", "keep");
  put(dir / "folder/x", "");
  fs::create_directory_symlink(outside.path(), dir / "folder/out");
  fs::create_symlink(outside / "keep.txt", dir / "file-link");
  fs::create_directory_symlink(outside.path(), dir / "folder-link");
  ASSERT_TRUE(files::remove(dir / "folder"));
  ASSERT_TRUE(files::remove(dir / "file-link"));
  ASSERT_TRUE(files::remove(dir / "folder-link"));
  EXPECT_EQ(contentsOf(outside / "keep.txt"), "keep");
  EXPECT_TRUE(namesIn(dir.path()).empty());
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  ASSERT_TRUE(files::remove(dir / "dangling"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "dangling")));
}

// ---- modification dates -------------------------------------------------------------------

TEST(ModificationDate, KeepsSubSecondPrecision) {
  TempDir dir;
  put(dir / "f", "x");
  for (const double when : {123456789.25, 0.0, -100000000.5, -1000000000.0, 754000000.123456}) {
    ASSERT_TRUE(setModificationDate(dir / "f", foundation::Date{when})) << when;
    const auto read = modificationDate(dir / "f");
    ASSERT_TRUE(read);
    EXPECT_NEAR(read->sinceReference, when, 1e-6) << when;
  }
  ASSERT_TRUE(setModificationDate(dir / "f", foundation::Date{123456789.25}));
  EXPECT_EQ(modificationDate(dir / "f")->sinceReference, 123456789.25);
  struct stat st;
  ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 123456789 + 978307200);
  EXPECT_EQ(st.st_mtim.tv_nsec, 250000000);
}

TEST(ModificationDate, FollowsWritesAndSetsFolders) {
  TempDir dir;
  ASSERT_TRUE(setModificationDate(dir.path(), foundation::Date{1000.5}));
  EXPECT_DOUBLE_EQ(modificationDate(dir.path())->sinceReference, 1000.5);
  put(dir / "f", "x");
  ASSERT_TRUE(setModificationDate(dir / "f", foundation::Date{1000}));
  ASSERT_TRUE(writeAtomic(dir / "f", std::string_view("y")));
  EXPECT_GT(modificationDate(dir / "f")->sinceReference, 1000);
}

TEST(ModificationDate, ReportsMissingFilesAndBadDates) {
  TempDir dir;
  const auto get = modificationDate(dir / "missing");
  ASSERT_FALSE(get);
  expectError(get.error(), kReadNoSuchFileError, dir / "missing");
  const auto set = setModificationDate(dir / "missing", foundation::Date{0});
  ASSERT_FALSE(set);
  expectError(set.error(), kNoSuchFileError, dir / "missing");
  put(dir / "f", "x");
  EXPECT_EQ(codeOf(setModificationDate(dir / "f", foundation::Date{NAN})), kWriteUnknownError);
  EXPECT_EQ(codeOf(setModificationDate(dir / "f", foundation::Date{INFINITY})), kWriteUnknownError);
}

// ---- reading and atomic writing -----------------------------------------------------------

TEST(ReadFile, ReadsEveryByte) {
  TempDir dir;
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  put(dir / "big", big);
  const auto read = readFile(dir / "big");
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(read->begin(), read->end()), big);
  put(dir / "empty", "");
  EXPECT_TRUE(readFile(dir / "empty")->empty());
}

TEST(ReadFile, ReportsMissingFilesAndFolders) {
  TempDir dir;
  const auto missing = readFile(dir / "missing.txt");
  ASSERT_FALSE(missing);
  expectError(missing.error(), kReadNoSuchFileError, dir / "missing.txt");
  EXPECT_EQ(missing.error().localizedDescription(),
            "The file \u201Cmissing.txt\u201D couldn\u2019t be opened because there is no such file.");
  ASSERT_TRUE(missing.error().underlying);
  EXPECT_EQ(missing.error().underlying->code, ENOENT);
  EXPECT_EQ(codeOf(readFile(dir / "missing/below")), kReadNoSuchFileError);
  fs::create_directory(dir / "folder");
  EXPECT_EQ(codeOf(readFile(dir / "folder")), kReadUnknownError);
}

TEST(WriteAtomic, WritesAndReplacesLeavingNoTemporaryFile) {
  TempDir dir;
  ASSERT_TRUE(writeAtomic(dir / "f", std::string_view("first")));
  EXPECT_EQ(contentsOf(dir / "f"), "first");
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms(0644));
  ASSERT_TRUE(writeAtomic(dir / "f", foundation::Bytes{'s', 0, 'b'}));
  EXPECT_EQ(contentsOf(dir / "f"), std::string("s\0b", 3));
  ASSERT_TRUE(writeAtomic(dir / "f", "", 0));
  EXPECT_EQ(contentsOf(dir / "f"), "");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"f"});
}

TEST(WriteAtomic, KeepsTheModeOfTheFileItReplacesUnlessToldOtherwise) {
  TempDir dir;
  put(dir / "secret", "old");
  fs::permissions(dir / "secret", fs::perms(0600));
  ASSERT_TRUE(writeAtomic(dir / "secret", std::string_view("new")));
  EXPECT_EQ(fs::status(dir / "secret").permissions(), fs::perms(0600));
  ASSERT_TRUE(writeAtomic(dir / "key", "k", 1, fs::perms(0600)));
  EXPECT_EQ(fs::status(dir / "key").permissions(), fs::perms(0600));
  ASSERT_TRUE(writeAtomic(dir / "secret", "n", 1, fs::perms(0640)));
  EXPECT_EQ(fs::status(dir / "secret").permissions(), fs::perms(0640));
}

TEST(WriteAtomic, FailureLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  put(dir / "old.txt", "old contents");
  const std::string big(64 * 1024, 'n');
  // A file-size limit makes the write itself fail half-way.
  const auto code = inChild(
      [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit { 1024, 1024 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return codeOf(writeAtomic(dir / "old.txt", big));
      },
      false);
  EXPECT_EQ(code, kWriteUnknownError);
  EXPECT_EQ(contentsOf(dir / "old.txt"), "old contents");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"old.txt"});

  // A folder where the file should go: the final rename fails.
  put(dir / "folder/inside", "i");
  const auto onFolder = writeAtomic(dir / "folder", std::string_view("x"));
  ASSERT_FALSE(onFolder);
  expectError(onFolder.error(), kWriteUnknownError, dir / "folder");
  EXPECT_EQ(contentsOf(dir / "folder/inside"), "i");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"folder", "old.txt"}));
}

TEST(WriteAtomic, ReportsAMissingFolder) {
  TempDir dir;
  const auto missing = writeAtomic(dir / "no/such/f", std::string_view("x"));
  ASSERT_FALSE(missing);
  expectError(missing.error(), kNoSuchFileError, dir / "no/such/f");
  EXPECT_TRUE(namesIn(dir.path()).empty());
}

// ---- permissions --------------------------------------------------------------------------

// Tests run as root, which reads and writes whatever the permissions say. Each case here sets
// up files as root in a folder that everyone may enter, then runs the operation in a child
// process that has given up root for the nobody account.
class Permissions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the operations as another user";
    fs::permissions(dir.path(), fs::perms(0755));
  }

  TempDir dir;
};

TEST_F(Permissions, ReadingAFileOthersMayNotRead) {
  put(dir / "private", "p");
  fs::permissions(dir / "private", fs::perms(0600));
  EXPECT_EQ(unprivileged([&] { return codeOf(readFile(dir / "private")); }), kReadNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(readText(dir / "private")); }), kReadNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(copyFile(dir / "private", dir / "copy")); }),
            kReadNoPermissionError);
  EXPECT_FALSE(files::exists(dir / "copy"));
  // The modification time needs no permission on the file itself.
  EXPECT_EQ(unprivileged([&] { return codeOf(modificationDate(dir / "private")); }), 0);
}

TEST_F(Permissions, ListingAFolderOthersMayNotRead) {
  put(dir / "open/a.txt", "");
  put(dir / "open/closed/b.txt", "");
  fs::permissions(dir / "open", fs::perms(0755));
  fs::permissions(dir / "open/closed", fs::perms(0700));
  EXPECT_EQ(unprivileged([&] { return codeOf(listDirectory(dir / "open/closed")); }), kReadNoPermissionError);
  // One unreadable folder fails the whole listing rather than leave entries out unnoticed.
  EXPECT_EQ(unprivileged([&] { return codeOf(listRecursive(dir / "open")); }), kReadNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(listDirectory(dir / "open")); }), 0);
}

TEST_F(Permissions, ChangingAFolderOthersMayNotWrite) {
  put(dir / "f", "old");
  EXPECT_EQ(unprivileged([&] { return codeOf(createDirectory(dir / "sub/folder")); }),
            kWriteNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(move(dir / "f", dir / "g")); }), kWriteNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(files::remove(dir / "f")); }), kWriteNoPermissionError);
  EXPECT_EQ(unprivileged([&] { return codeOf(writeText(dir / "t.txt", "t", TextEncoding::Utf16)); }),
            kWriteNoPermissionError);
  const auto path = unprivileged([&] {
    const auto status = writeAtomic(dir / "f", std::string_view("new"));
    return status ? 0 : std::int64_t(filePathOf(status.error()) == (dir / "f").string());
  });
  EXPECT_EQ(path, 1);
  EXPECT_EQ(contentsOf(dir / "f"), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"f"});
}

TEST_F(Permissions, ChangingTheTimeOfAnotherUsersFile) {
  put(dir / "f", "x");
  EXPECT_EQ(unprivileged([&] { return codeOf(setModificationDate(dir / "f", foundation::Date{5})); }),
            kWriteNoPermissionError);
}

}  // namespace
}  // namespace files
