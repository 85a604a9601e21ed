#pragma once
// File operations the system needs, each reporting failure as an Error in the domain
// "NSCocoaErrorDomain" (with the path in the user info under Error::kFilePathKey, a readable
// description, and the system's errno as an underlying "NSPOSIXErrorDomain" error) instead of
// throwing.
//
// std::filesystem has functions of the same names (exists, remove) that argument-dependent
// lookup finds for an fs::path argument: call these as files::exists(...), files::remove(...).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace files {

namespace fs = std::filesystem;

inline constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::string_view kPosixErrorDomain = "NSPOSIXErrorDomain";
// User-info key of the destination of a failed move or copy.
inline constexpr std::string_view kDestinationFilePathKey = "NSDestinationFilePath";

// The platform's codes for file errors.
enum ErrorCode : std::int64_t {
  kNoSuchFileError = 4,
  kReadUnknownError = 256,
  kReadNoPermissionError = 257,
  kReadNoSuchFileError = 260,
  kReadInapplicableStringEncodingError = 261,
  kWriteUnknownError = 512,
  kWriteNoPermissionError = 513,
  kWriteFileExistsError = 516,
  kWriteInapplicableStringEncodingError = 517,
  kWriteOutOfSpaceError = 640,
  kWriteVolumeReadOnlyError = 642,
};

// Creates the folder and any missing parents; succeeds when it exists already.
foundation::Status createDirectory(const fs::path& path);
// Both follow a symbolic link, as the platform does: a link to nothing does not exist.
bool exists(const fs::path& path);
bool isDirectory(const fs::path& path);
// Every entry under the folder, relative to it, sorted by path (component by component, in
// byte order); folders themselves included when withDirectories is set. Symbolic links are
// listed, never followed. A folder inside that cannot be read fails the whole listing.
foundation::Result<std::vector<fs::path>> listRecursive(const fs::path& folder, bool withDirectories = false);
// Names of the folder's direct entries, sorted.
foundation::Result<std::vector<std::string>> listDirectory(const fs::path& folder);
// Moves a file or folder; fails when the destination exists (even as a dangling link).
foundation::Status move(const fs::path& from, const fs::path& to);
// Copies a file (keeping its permissions and modification time), a folder with its contents,
// or a symbolic link as a link; fails when the destination exists. A failed copy leaves
// nothing at the destination.
foundation::Status copyFile(const fs::path& from, const fs::path& to);
// Removes a file or a folder with its contents; succeeds when nothing is there. A symbolic
// link is removed itself, never what it points to.
foundation::Status remove(const fs::path& path);

// The modification time (of what a link points to), to the nanosecond where the file system
// keeps it.
foundation::Result<foundation::Date> modificationDate(const fs::path& path);
foundation::Status setModificationDate(const fs::path& path, foundation::Date date);

foundation::Result<foundation::Bytes> readFile(const fs::path& path);
// Writes to a temporary file beside the target, flushes it, then renames it over the target:
// readers see the old or the new contents, never a mix, and a failure leaves the old file and
// no temporary file behind. A new file gets mode 0644, a replaced one keeps its mode, unless
// permissions are given.
foundation::Status writeAtomic(const fs::path& path, const void* data, size_t size);
foundation::Status writeAtomic(const fs::path& path, const void* data, size_t size, fs::perms permissions);
foundation::Status writeAtomic(const fs::path& path, const foundation::Bytes& data);
foundation::Status writeAtomic(const fs::path& path, std::string_view text);

// A file written piece by piece and put in place as writeAtomic puts one: the pieces go to a
// temporary file beside the target, and commit() flushes it and renames it over the target. A
// writer dropped without a commit, or whose write or commit failed, removes its temporary file and
// leaves the old file as it was.
class AtomicWriter {
 public:
  // The temporary file, made now; the target's mode is as writeAtomic gives it.
  static foundation::Result<AtomicWriter> create(const fs::path& path,
                                                 std::optional<fs::perms> permissions = std::nullopt);
  AtomicWriter(AtomicWriter&& other) noexcept;
  AtomicWriter& operator=(AtomicWriter&& other) noexcept;
  ~AtomicWriter();

  foundation::Status write(const void* data, size_t size);
  // Once only: the file is in place, or the writer is spent and its temporary file gone.
  foundation::Status commit();

 private:
  AtomicWriter(fs::path path, std::string temporary, int fd, unsigned mode);
  foundation::Status fail(int err);
  void abandon();
  fs::path path_;
  std::string temporary_;
  int fd_ = -1;
  unsigned mode_ = 0;
};

// Removes the temporary files and folders that writeAtomic and copyFile leave beside their target
// when the process dies mid-write (".<name>.tmp-XXXXXX"), at every depth under the folder, without
// following links; returns how many went. Only safe while nothing else writes under the folder,
// as at launch.
foundation::Result<size_t> removeStaleTemporaries(const fs::path& folder);

// The bytes an unprivileged writer may still use on the file system that holds the path (or its
// nearest existing parent, for a path not made yet).
foundation::Result<std::uint64_t> availableSpace(const fs::path& path);

// Writes every byte to the descriptor, going on after interruptions; false with errno set when a
// write fails.
bool writeAll(int fd, const void* data, size_t size);

enum class TextEncoding { Utf8, Utf16 };
// UTF-16 is written little-endian after the byte-order mark FF FE; UTF-8 without a mark.
// Text that is not valid UTF-8 is refused (kWriteInapplicableStringEncodingError).
foundation::Status writeText(const fs::path& path, std::string_view utf8, TextEncoding encoding);
// Reads UTF-8 (with or without its byte-order mark) or UTF-16 in either byte order by its
// byte-order mark; UTF-16 without a mark is refused, as is text that does not decode and
// text holding U+0000 (kReadInapplicableStringEncodingError).
foundation::Result<std::string> readText(const fs::path& path);

}  // namespace files
