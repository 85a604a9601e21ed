#include "platform/files/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/foundation/text.h"

namespace files {
namespace {

using foundation::Error;
using foundation::Result;
using foundation::Status;

enum class Action { Open, Save, Create, Move, Copy, Remove, Change };

std::string nameOf(const fs::path& path) {
  fs::path name = path.filename();
  if (name.empty()) name = path.parent_path().filename();  // "folder/" names the folder
  return name.empty() ? path.string() : name.string();
}

std::string pastTense(Action action) {
  switch (action) {
    case Action::Open:
      return "opened";
    case Action::Save:
      return "saved";
    case Action::Create:
      return "created";
    case Action::Move:
      return "moved";
    case Action::Copy:
      return "copied";
    case Action::Remove:
      return "removed";
    case Action::Change:
      return "changed";
  }
  return "used";
}

std::string describe(std::int64_t code, const fs::path& path, Action action) {
  const std::string name = "\u201C" + nameOf(path) + "\u201D";
  const std::string cannot = name + " couldn\u2019t be " + pastTense(action);
  switch (code) {
    case kNoSuchFileError:
      return "The file " + name + " doesn\u2019t exist.";
    case kReadUnknownError:
      return "The file " + name + " couldn\u2019t be opened.";
    case kReadNoPermissionError:
      return "The file " + name +
             " couldn\u2019t be opened because you don\u2019t have permission to view it.";
    case kReadNoSuchFileError:
      return "The file " + name + " couldn\u2019t be opened because there is no such file.";
    case kReadInapplicableStringEncodingError:
      return "The file " + name +
             " couldn\u2019t be opened because the text encoding of its contents can\u2019t be determined.";
    case kWriteNoPermissionError:
      return cannot + " because you don\u2019t have permission to access it.";
    case kWriteFileExistsError:
      return cannot + " because an item with the same name already exists.";
    case kWriteInapplicableStringEncodingError:
      return "The file " + name + " couldn\u2019t be saved because its text is not valid UTF-8.";
    case kWriteOutOfSpaceError:
      return cannot + " because there isn\u2019t enough space.";
    case kWriteVolumeReadOnlyError:
      return cannot + " because the volume is read only.";
    default:
      return cannot + ".";
  }
}

Error fileError(std::int64_t code, const fs::path& path, Action action, int err = 0,
                const fs::path* destination = nullptr, std::shared_ptr<const Error> underlying = nullptr) {
  foundation::Dictionary info;
  info.set(std::string(Error::kLocalizedDescriptionKey), describe(code, path, action));
  info.set(std::string(Error::kFilePathKey), path.string());
  if (destination) info.set(std::string(kDestinationFilePathKey), destination->string());
  if (err != 0 && !underlying) {
    underlying = std::make_shared<const Error>(
        Error::make(std::string(kPosixErrorDomain), err, std::system_category().message(err)));
  }
  return Error(std::string(kErrorDomain), code, std::move(info), std::move(underlying));
}

std::int64_t readCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return kReadNoSuchFileError;
    case EACCES:
    case EPERM:
      return kReadNoPermissionError;
    default:
      return kReadUnknownError;
  }
}

std::int64_t writeCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kNoSuchFileError;
    case EACCES:
    case EPERM:
      return kWriteNoPermissionError;
    case EEXIST:
    case ENOTEMPTY:
      return kWriteFileExistsError;
    case ENOSPC:
    case EDQUOT:
      return kWriteOutOfSpaceError;
    case EROFS:
      return kWriteVolumeReadOnlyError;
    default:
      return kWriteUnknownError;
  }
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether close succeeded (errno tells why not).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

fs::path folderOf(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// Makes the rename of an entry in the folder durable.
void syncFolder(const fs::path& folder) {
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// A hidden name beside the target for a temporary file or folder, with the X's mkstemp fills.
std::string temporaryPattern(const fs::path& target) {
  std::string name = nameOf(target).substr(0, 200);
  return (folderOf(target) / ("." + name + ".tmp-XXXXXX")).string();
}

// Whether a file name is one temporaryPattern made: "." + name + ".tmp-" + six letters or digits.
bool isTemporaryName(std::string_view name) {
  constexpr std::string_view kMark = ".tmp-";
  constexpr size_t kRandom = 6;
  if (name.size() < 1 + 1 + kMark.size() + kRandom || name.front() != '.') return false;
  const std::string_view tail = name.substr(name.size() - kRandom);
  if (name.substr(name.size() - kRandom - kMark.size(), kMark.size()) != kMark) return false;
  return std::all_of(tail.begin(), tail.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// Renames without replacing anything at the destination; errno is EEXIST when something is there.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse to replace by itself: look first.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

Status copyRegularFile(const fs::path& from, const fs::path& to, const struct stat& source) {
  Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    const int err = errno;
    return fileError(err == ENOENT ? kNoSuchFileError : readCode(err), from, Action::Copy, err, &to);
  }
  std::string temporary = temporaryPattern(to);
  Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (out.get() < 0) {
    const int err = errno;
    return fileError(writeCode(err), from, Action::Copy, err, &to);
  }
  const auto fail = [&](int err, std::int64_t code) {
    out.reset();
    ::unlink(temporary.c_str());
    return fileError(code, from, Action::Copy, err, &to);
  };
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno, kReadUnknownError);
    if (n == 0) break;
    if (!writeAll(out.get(), buffer, static_cast<size_t>(n))) return fail(errno, writeCode(errno));
  }
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (::fchmod(out.get(), source.st_mode & 07777) != 0) return fail(errno, writeCode(errno));
  if (::futimens(out.get(), times) != 0) return fail(errno, writeCode(errno));
  if (::fsync(out.get()) != 0) return fail(errno, writeCode(errno));
  if (!out.close()) return fail(errno, writeCode(errno));
  if (!renameNoReplace(temporary, to)) return fail(errno, writeCode(errno));
  syncFolder(folderOf(to));
  return {};
}

// Whether `inner` lies inside `outer` (or is it), after resolving links and "..".
bool isWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  if (ec) return false;
  const fs::path b = fs::weakly_canonical(outer, ec);
  if (ec) return false;
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // a trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

Status copyFolder(const fs::path& from, const fs::path& to, const struct stat& source) {
  // A copy into the folder itself would copy its own growing copy.
  if (isWithin(to, from)) return fileError(kWriteUnknownError, from, Action::Copy, EINVAL, &to);
  std::string temporary = temporaryPattern(to);
  if (!::mkdtemp(temporary.data())) {
    const int err = errno;
    return fileError(writeCode(err), from, Action::Copy, err, &to);
  }
  const auto fail = [&](int err) {
    std::error_code ignored;
    fs::remove_all(temporary, ignored);
    return fileError(writeCode(err), from, Action::Copy, err, &to);
  };
  std::error_code ec;
  fs::copy(from, temporary, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) return fail(ec.value());
  if (::chmod(temporary.c_str(), source.st_mode & 07777) != 0) return fail(errno);
  if (!renameNoReplace(temporary, to)) return fail(errno);
  syncFolder(folderOf(to));
  return {};
}

Error listError(const fs::path& folder, int err) {
  struct stat st;
  if (err == ENOTDIR && ::stat(folder.c_str(), &st) == 0)
    return fileError(kReadUnknownError, folder, Action::Open, err);
  return fileError(readCode(err), folder, Action::Open, err);
}

Error encodingError(const fs::path& path, const std::string& why) {
  auto underlying = std::make_shared<const Error>(Error::make(
      std::string(foundation::text::kErrorDomain), foundation::text::kInapplicableStringEncodingError, why));
  return fileError(kReadInapplicableStringEncodingError, path, Action::Open, 0, nullptr,
                   std::move(underlying));
}

}  // namespace

foundation::Status createDirectory(const fs::path& path) {
  if (path.empty()) return fileError(kNoSuchFileError, path, Action::Create, ENOENT);
  std::error_code ec;
  fs::create_directories(path, ec);
  if (!ec) return {};
  const int err = ec.value();
  // Something that is not a folder stands where the folder (or one of its parents) should be.
  if (err == EEXIST || err == ENOTDIR) return fileError(kWriteFileExistsError, path, Action::Create, err);
  return fileError(writeCode(err), path, Action::Create, err);
}

bool exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool isDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

foundation::Result<std::vector<fs::path>> listRecursive(const fs::path& folder, bool withDirectories) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) return listError(folder, ec.value());
  std::vector<fs::path> entries;
  for (const fs::recursive_directory_iterator end; it != end;) {
    std::error_code ignored;
    const bool realFolder = it->symlink_status(ignored).type() == fs::file_type::directory;
    if (withDirectories || !realFolder) {
      // The last depth() + 1 components of the entry's path are its path under the folder.
      std::vector<fs::path> parts;
      fs::path p = it->path();
      for (int d = it.depth(); d >= 0; --d) {
        parts.push_back(p.filename());
        p = p.parent_path();
      }
      fs::path relative;
      for (auto part = parts.rbegin(); part != parts.rend(); ++part) relative /= *part;
      entries.push_back(std::move(relative));
    }
    it.increment(ec);
    if (ec) return listError(folder, ec.value());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

foundation::Result<std::vector<std::string>> listDirectory(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return listError(folder, ec.value());
  std::vector<std::string> names;
  for (const fs::directory_iterator end; it != end;) {
    names.push_back(it->path().filename().string());
    it.increment(ec);
    if (ec) return listError(folder, ec.value());
  }
  std::sort(names.begin(), names.end());
  return names;
}

foundation::Status move(const fs::path& from, const fs::path& to) {
  if (renameNoReplace(from, to)) {
    syncFolder(folderOf(to));
    return {};
  }
  const int err = errno;
  struct stat st;
  if (err == ENOENT && ::lstat(from.c_str(), &st) != 0)
    return fileError(kNoSuchFileError, from, Action::Move, err, &to);
  if (err != EXDEV) return fileError(writeCode(err), from, Action::Move, err, &to);
  // Another file system: copy, then remove the original; never leave both halves behind.
  if (auto copied = copyFile(from, to); !copied) return copied;
  if (auto removed = files::remove(from); !removed) {
    (void)files::remove(to);
    return fileError(removed.error().code, from, Action::Move, 0, &to,
                     std::make_shared<const Error>(removed.error()));
  }
  return {};
}

foundation::Status copyFile(const fs::path& from, const fs::path& to) {
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) {
    const int err = errno;
    const std::int64_t code = err == ENOENT || err == ENOTDIR ? kNoSuchFileError : readCode(err);
    return fileError(code, from, Action::Copy, err, &to);
  }
  struct stat existing;
  if (::lstat(to.c_str(), &existing) == 0)
    return fileError(kWriteFileExistsError, from, Action::Copy, EEXIST, &to);
  if (S_ISREG(st.st_mode)) return copyRegularFile(from, to, st);
  if (S_ISDIR(st.st_mode)) return copyFolder(from, to, st);
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(from, ec);
    if (ec) return fileError(kReadUnknownError, from, Action::Copy, ec.value(), &to);
    if (::symlink(target.c_str(), to.c_str()) != 0) {
      const int err = errno;
      return fileError(writeCode(err), from, Action::Copy, err, &to);
    }
    return {};
  }
  return fileError(kWriteUnknownError, from, Action::Copy, ENOTSUP, &to);
}

foundation::Status remove(const fs::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return {};
    return fileError(writeCode(err), path, Action::Remove, err);
  }
  int err = 0;
  if (S_ISDIR(st.st_mode)) {
    // remove_all looks at every entry without following links, so a link inside the folder
    // goes, and what it points to stays.
    std::error_code ec;
    fs::remove_all(path, ec);
    err = ec.value();
  } else if (::unlink(path.c_str()) != 0) {
    err = errno;
  }
  if (err == 0 || err == ENOENT) return {};
  return fileError(writeCode(err), path, Action::Remove, err);
}

bool writeAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

foundation::Result<size_t> removeStaleTemporaries(const fs::path& folder) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) return listError(folder, ec.value());
  std::vector<fs::path> stale;
  for (const fs::recursive_directory_iterator end; it != end;) {
    if (isTemporaryName(it->path().filename().string())) {
      stale.push_back(it->path());
      it.disable_recursion_pending();
    }
    it.increment(ec);
    if (ec) return listError(folder, ec.value());
  }
  for (const fs::path& path : stale) {
    if (auto status = files::remove(path); !status) return status.error();
  }
  return stale.size();
}

foundation::Result<std::uint64_t> availableSpace(const fs::path& path) {
  fs::path at = path.empty() ? fs::path(".") : path;
  struct statvfs info;
  while (::statvfs(at.c_str(), &info) != 0) {
    const int err = errno;
    const fs::path parent = folderOf(at);
    if ((err != ENOENT && err != ENOTDIR) || parent == at)
      return fileError(readCode(err), path, Action::Open, err);
    at = parent;
  }
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

foundation::Result<foundation::Date> modificationDate(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    return fileError(readCode(err), path, Action::Open, err);
  }
  const double seconds = static_cast<double>(static_cast<std::int64_t>(st.st_mtim.tv_sec) -
                                             static_cast<std::int64_t>(foundation::Date::kUnixOffset));
  return foundation::Date{seconds + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9};
}

foundation::Status setModificationDate(const fs::path& path, foundation::Date date) {
  if (!std::isfinite(date.sinceReference) || std::fabs(date.sinceReference) > 1e15) {
    return fileError(kWriteUnknownError, path, Action::Change, EINVAL);
  }
  // Split the date itself, not its Unix time, so the fraction loses no precision.
  const double whole = std::floor(date.sinceReference);
  long nanoseconds = std::lround((date.sinceReference - whole) * 1e9);
  auto seconds = static_cast<std::int64_t>(whole) + static_cast<std::int64_t>(foundation::Date::kUnixOffset);
  if (nanoseconds >= 1000000000L) {
    nanoseconds -= 1000000000L;
    ++seconds;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = nanoseconds;
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    const int err = errno;
    return fileError(writeCode(err), path, Action::Change, err);
  }
  return {};
}

foundation::Result<foundation::Bytes> readFile(const fs::path& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    const int err = errno;
    return fileError(readCode(err), path, Action::Open, err);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    const int err = errno;
    return fileError(kReadUnknownError, path, Action::Open, err);
  }
  if (S_ISDIR(st.st_mode)) return fileError(kReadUnknownError, path, Action::Open, EISDIR);
  foundation::Bytes bytes;
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  std::uint8_t buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      return fileError(kReadUnknownError, path, Action::Open, err);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

Result<AtomicWriter> AtomicWriter::create(const fs::path& path, std::optional<fs::perms> permissions) {
  if (path.empty() || path.filename().empty())
    return fileError(kWriteUnknownError, path, Action::Save, EISDIR);
  struct stat st;
  const mode_t mode = permissions ? static_cast<mode_t>(*permissions & fs::perms::mask)
                      : ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 07777
                                                                              : 0644;
  std::string temporary = temporaryPattern(path);
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return fileError(writeCode(err), path, Action::Save, err);
  }
  return AtomicWriter(path, std::move(temporary), fd, mode);
}

AtomicWriter::AtomicWriter(fs::path path, std::string temporary, int fd, unsigned mode)
    : path_(std::move(path)), temporary_(std::move(temporary)), fd_(fd), mode_(mode) {}

AtomicWriter::AtomicWriter(AtomicWriter&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)),
      mode_(other.mode_) {}

AtomicWriter& AtomicWriter::operator=(AtomicWriter&& other) noexcept {
  if (this != &other) {
    abandon();
    path_ = std::move(other.path_);
    temporary_ = std::move(other.temporary_);
    fd_ = std::exchange(other.fd_, -1);
    mode_ = other.mode_;
  }
  return *this;
}

AtomicWriter::~AtomicWriter() { abandon(); }

void AtomicWriter::abandon() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  ::unlink(temporary_.c_str());
}

Status AtomicWriter::fail(int err) {
  abandon();
  return fileError(writeCode(err), path_, Action::Save, err);
}

Status AtomicWriter::write(const void* data, size_t size) {
  if (fd_ < 0) return fileError(kWriteUnknownError, path_, Action::Save, EBADF);
  if (!writeAll(fd_, data, size)) return fail(errno);
  return {};
}

Status AtomicWriter::commit() {
  if (fd_ < 0) return fileError(kWriteUnknownError, path_, Action::Save, EBADF);
  if (::fchmod(fd_, mode_) != 0 || ::fsync(fd_) != 0) return fail(errno);
  if (::close(std::exchange(fd_, -1)) != 0 || ::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary_.c_str());
    return fileError(writeCode(err), path_, Action::Save, err);
  }
  syncFolder(folderOf(path_));
  return {};
}

namespace {

Status writeAtomicImpl(const fs::path& path, const void* data, size_t size, std::optional<fs::perms> permissions) {
  auto writer = AtomicWriter::create(path, permissions);
  if (!writer.ok()) return writer.error();
  if (auto written = writer->write(data, size); !written.ok()) return written;
  return writer->commit();
}

}  // namespace

foundation::Status writeAtomic(const fs::path& path, const void* data, size_t size) {
  return writeAtomicImpl(path, data, size, std::nullopt);
}

foundation::Status writeAtomic(const fs::path& path, const void* data, size_t size, fs::perms permissions) {
  return writeAtomicImpl(path, data, size, permissions);
}

foundation::Status writeAtomic(const fs::path& path, const foundation::Bytes& data) {
  return writeAtomicImpl(path, data.data(), data.size(), std::nullopt);
}

foundation::Status writeAtomic(const fs::path& path, std::string_view text) {
  return writeAtomicImpl(path, text.data(), text.size(), std::nullopt);
}

foundation::Status writeText(const fs::path& path, std::string_view utf8, TextEncoding encoding) {
  auto utf16 = foundation::text::toUtf16(utf8);
  if (!utf16) {
    return fileError(kWriteInapplicableStringEncodingError, path, Action::Save, 0, nullptr,
                     std::make_shared<const Error>(utf16.error()));
  }
  if (encoding == TextEncoding::Utf8) return writeAtomic(path, utf8);
  foundation::Bytes bytes;
  bytes.reserve(2 + utf16->size() * 2);
  bytes.push_back(0xFF);
  bytes.push_back(0xFE);
  for (const char16_t unit : *utf16) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return writeAtomic(path, bytes);
}

foundation::Result<std::string> readText(const fs::path& path) {
  auto read = readFile(path);
  if (!read) return read.error();
  const foundation::Bytes& bytes = *read;
  const auto startsWith = [&](std::initializer_list<std::uint8_t> mark) {
    return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
  };
  const bool littleEndian = startsWith({0xFF, 0xFE});
  if (littleEndian || startsWith({0xFE, 0xFF})) {
    if (bytes.size() % 2 != 0) return encodingError(path, "UTF-16 text with an odd number of bytes.");
    std::u16string units;
    units.reserve(bytes.size() / 2 - 1);
    for (size_t i = 2; i < bytes.size(); i += 2) {
      const unsigned lo = littleEndian ? bytes[i] : bytes[i + 1];
      const unsigned hi = littleEndian ? bytes[i + 1] : bytes[i];
      units += static_cast<char16_t>(lo | (hi << 8));
    }
    if (units.find(u'\0') != std::u16string::npos) return encodingError(path, "The text holds U+0000.");
    auto text = foundation::text::fromUtf16(units);
    if (!text) return encodingError(path, text.error().localizedDescription());
    return std::move(*text);
  }
  const size_t skip = startsWith({0xEF, 0xBB, 0xBF}) ? 3 : 0;
  std::string text(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end());
  // UTF-16 without its mark would read as UTF-8 full of zero bytes: refuse rather than guess.
  if (text.find('\0') != std::string::npos) return encodingError(path, "The text holds U+0000.");
  if (!foundation::text::isValidUtf8(text)) return encodingError(path, "The text is not valid UTF-8.");
  return text;
}

}  // namespace files
