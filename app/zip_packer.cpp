#include "app/zip_packer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace app {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Error;
using foundation::Status;

namespace {

// Reading and writing go through buffers this large: a backup is mostly photos of a few
// megabytes each, and small system calls would dominate the time deflate leaves.
constexpr size_t kFileBufferSize = size_t{1} << 20;
constexpr size_t kChunkSize = size_t{1} << 20;
constexpr int kDefaultMemLevel = 8;

Error zipError(std::int64_t code, std::string description, const fs::path& path = {}) {
  foundation::Dictionary info{{std::string(Error::kLocalizedDescriptionKey), description}};
  if (!path.empty()) info.set(std::string(Error::kFilePathKey), path.string());
  return Error(std::string(kZipErrorDomain), code, std::move(info));
}

Error posixError(std::int64_t code, std::string description, const fs::path& path, int err) {
  Error error = zipError(code, std::move(description) + ": " + std::strerror(err), path);
  error.underlying = std::make_shared<const Error>(std::string(files::kPosixErrorDomain), err);
  return error;
}

// The archive's own file, through stdio with a large buffer. Closing a file that was written
// flushes it to the disk, so a closed archive is complete even after a power cut.
struct ArchiveFile {
  std::FILE* file = nullptr;
  bool writing = false;
  std::unique_ptr<char[]> buffer;
  size_t unsynced = 0;  // bytes written since the disk was last asked to start on them
};

// While an archive is written the disk is asked every few megabytes to start writing what
// stdio has handed on, so that the flush at its close waits for little more than the end.
constexpr size_t kStartWritebackEvery = size_t{8} << 20;

voidpf openArchiveFile(voidpf, const void* filename, int mode) {
  const char* how = nullptr;
  bool writing = false;
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
    how = "rbe";
  } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
    how = "r+be";
    writing = true;
  } else if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
    how = "wbe";
    writing = true;
  }
  if (!how || !filename) return nullptr;
  std::FILE* file = std::fopen(static_cast<const char*>(filename), how);
  if (!file) return nullptr;
  auto handle = std::make_unique<ArchiveFile>();
  handle->file = file;
  handle->writing = writing;
  handle->buffer = std::make_unique<char[]>(kFileBufferSize);
  std::setvbuf(file, handle->buffer.get(), _IOFBF, kFileBufferSize);
  return handle.release();
}

uLong readArchiveFile(voidpf, voidpf stream, void* buf, uLong size) {
  return std::fread(buf, 1, size, static_cast<ArchiveFile*>(stream)->file);
}

// The opaque pointer of a writer is the packer's errno slot: minizip reports only that a write
// failed, and the user needs to know when it failed because the disk is full.
void noteWriteError(voidpf opaque) {
  if (opaque) *static_cast<int*>(opaque) = errno;
}

uLong writeArchiveFile(voidpf opaque, voidpf stream, const void* buf, uLong size) {
  auto* handle = static_cast<ArchiveFile*>(stream);
  const size_t written = std::fwrite(buf, 1, size, handle->file);
  if (written < size) noteWriteError(opaque);
  handle->unsynced += written;
  if (handle->unsynced >= kStartWritebackEvery) {
    handle->unsynced = 0;
    (void)::sync_file_range(::fileno(handle->file), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  return written;
}

ZPOS64_T tellArchiveFile(voidpf, voidpf stream) {
  const off_t at = ::ftello(static_cast<ArchiveFile*>(stream)->file);
  return at < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(at);
}

long seekArchiveFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  int whence = SEEK_SET;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) whence = SEEK_CUR;
  if (origin == ZLIB_FILEFUNC_SEEK_END) whence = SEEK_END;
  return ::fseeko(static_cast<ArchiveFile*>(stream)->file, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

int closeArchiveFile(voidpf opaque, voidpf stream) {
  std::unique_ptr<ArchiveFile> handle(static_cast<ArchiveFile*>(stream));
  int result = 0;
  if (handle->writing) {
    if (std::fflush(handle->file) != 0 || ::fsync(::fileno(handle->file)) != 0) {
      noteWriteError(opaque);
      result = -1;
    }
  }
  if (std::fclose(handle->file) != 0) {
    if (handle->writing) noteWriteError(opaque);
    result = -1;
  }
  return result;
}

int errorArchiveFile(voidpf, voidpf stream) { return std::ferror(static_cast<ArchiveFile*>(stream)->file); }

zlib_filefunc64_def archiveFileFunctions(int* writeErrno = nullptr) {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = openArchiveFile;
  functions.zread_file = readArchiveFile;
  functions.zwrite_file = writeArchiveFile;
  functions.ztell64_file = tellArchiveFile;
  functions.zseek64_file = seekArchiveFile;
  functions.zclose_file = closeArchiveFile;
  functions.zerror_file = errorArchiveFile;
  functions.opaque = writeErrno;
  return functions;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

foundation::Calendar localGregorian() {
  return foundation::Calendar::gregorian(foundation::TimeZone::local(), foundation::Locale::posix());
}

// A file descriptor closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A failed write of an extracted file, by errno; a full disk says so.
Error cannotWrite(const fs::path& target) {
  const int err = errno;
  if (err == ENOSPC || err == EDQUOT)
    return posixError(kZipNoSpace, "The disk is full. Cannot write " + target.string(), target, err);
  return posixError(kZipWriteFailed, "Cannot write " + target.string(), target, err);
}

// Every folder between `folder` and the parent of `relative` is a real folder (made when
// missing), never a link that could lead the extraction elsewhere.
Status makeParentFolders(const fs::path& folder, const fs::path& relative) {
  fs::path at = folder;
  const fs::path parent = relative.parent_path();
  for (const auto& step : parent) {
    at /= step;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(at, ec);
    if (status.type() == fs::file_type::not_found) {
      if (::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST) {
        return posixError(kZipWriteFailed, "Cannot create the folder " + at.string(), at, errno);
      }
      continue;
    }
    if (status.type() != fs::file_type::directory) {
      return zipError(kZipWriteFailed, "The entry's folder " + at.string() + " is not a folder", at);
    }
  }
  return {};
}

}  // namespace

std::optional<std::string> safeEntryPath(std::string_view name) {
  std::string normal(name);
  for (char& c : normal) {
    if (c == '\\') c = '/';
  }
  if (normal.empty() || normal.find('\0') != std::string::npos || normal.front() == '/') return std::nullopt;
  // A drive letter would make the name absolute where such names mean anything.
  if (normal.size() >= 2 && normal[1] == ':') return std::nullopt;
  const bool folder = normal.back() == '/';
  std::string out;
  size_t start = 0;
  while (start <= normal.size()) {
    size_t end = normal.find('/', start);
    if (end == std::string::npos) end = normal.size();
    const std::string_view step(normal.data() + start, end - start);
    if (step == "..") return std::nullopt;
    if (!step.empty() && step != ".") {
      if (!out.empty()) out += '/';
      out += step;
    }
    start = end + 1;
  }
  if (out.empty()) return std::nullopt;
  if (folder) out += '/';
  return out;
}

struct ZipPacker::Entry {
  std::string name;  // as stored
  std::string path;  // safe path; ends in "/" for a folder
  bool folder = false;
  unz_file_info64 info{};
};

ZipPacker::ZipPacker() = default;

ZipPacker::~ZipPacker() {
  if (writer_) (void)CloseZipFile2();
  if (reader_) (void)UnzipCloseFile();
}

void ZipPacker::report(std::string_view message) const {
  if (delegate_ && delegate_->ErrorMessage) delegate_->ErrorMessage(message);
}

std::uint32_t ZipPacker::dosDateTime(foundation::Date date) {
  using foundation::CalendarUnit;
  const auto parts =
      localGregorian().components(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day |
                                      CalendarUnit::Hour | CalendarUnit::Minute | CalendarUnit::Second,
                                  date);
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (parts && parts->year && *parts->year >= 1980) {
    if (*parts->year > 2107) {
      year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
    } else {
      year = *parts->year;
      month = parts->month.value_or(1);
      day = parts->day.value_or(1);
      hour = parts->hour.value_or(0);
      minute = parts->minute.value_or(0);
      second = parts->second.value_or(0);
    }
  }
  const std::uint32_t dosDate = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t dosTime = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (dosDate << 16) | dosTime;
}

std::optional<foundation::Date> ZipPacker::dateFromDosDateTime(std::uint32_t fields) {
  const std::uint32_t dosDate = fields >> 16;
  const std::uint32_t dosTime = fields & 0xFFFF;
  foundation::DateComponents parts;
  parts.year = 1980 + static_cast<int>(dosDate >> 9);
  parts.month = static_cast<int>((dosDate >> 5) & 0xF);
  parts.day = static_cast<int>(dosDate & 0x1F);
  parts.hour = static_cast<int>(dosTime >> 11);
  parts.minute = static_cast<int>((dosTime >> 5) & 0x3F);
  parts.second = static_cast<int>((dosTime & 0x1F) * 2);
  return localGregorian().dateFromComponents(parts);
}

// ---------------------------------------------------------------------------------------------
// Writing

Status ZipPacker::CreateZipFile2(const fs::path& path) {
  if (writer_) (void)CloseZipFile2();
  writeErrno_ = 0;
  zlib_filefunc64_def functions = archiveFileFunctions(&writeErrno_);
  writer_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (!writer_)
    return posixError(kZipCannotCreate, "Cannot create the archive " + path.string(), path, errno);
  writerPath_ = path;
  return {};
}

Status ZipPacker::openEntry(std::string_view entryName, std::optional<foundation::Date> modified,
                            std::uint64_t expectedSize) {
  if (!writer_) return zipError(kZipNotOpen, "No archive is open for writing");
  if (entryName.empty() || entryName.find('\0') != std::string_view::npos || entryName.size() > 0xFFFF) {
    return zipError(kZipUnsafeEntryName,
                    "The entry name \"" + std::string(entryName) + "\" cannot be stored");
  }
  zip_fileinfo info{};
  if (modified) info.dosDate = dosDateTime(*modified);
  const int zip64 = expectedSize >= 0xFFFFFFFFull ? 1 : 0;
  const std::string name(entryName);
  const int rc = zipOpenNewFileInZip4_64(writer_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, kDefaultMemLevel,
                                         Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, zip64);
  if (rc != ZIP_OK) return writeError("Cannot open the entry \"" + name + "\" in " + writerPath_.string());
  return {};
}

Error ZipPacker::writeError(std::string description) const {
  if (writeErrno_ == ENOSPC || writeErrno_ == EDQUOT) {
    return posixError(kZipNoSpace, "The disk is full. " + description, writerPath_, writeErrno_);
  }
  if (writeErrno_ != 0) return posixError(kZipWriteFailed, std::move(description), writerPath_, writeErrno_);
  return zipError(kZipWriteFailed, std::move(description), writerPath_);
}

Status ZipPacker::writeEntryData(const void* data, size_t size, std::string_view entryName) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const unsigned piece = static_cast<unsigned>(std::min<size_t>(size, kChunkSize));
    if (zipWriteInFileInZip(writer_, at, piece) != ZIP_OK)
      return writeError("Cannot write the entry \"" + std::string(entryName) + "\" to " +
                        writerPath_.string());
    at += piece;
    size -= piece;
  }
  return {};
}

Status ZipPacker::closeEntry(std::string_view entryName) {
  if (zipCloseFileInZip(writer_) != ZIP_OK)
    return writeError("Cannot finish the entry \"" + std::string(entryName) + "\" in " +
                      writerPath_.string());
  return {};
}

Status ZipPacker::addDataToZip(const Bytes& data, std::string_view entryName,
                               std::optional<foundation::Date> modified) {
  if (auto status = openEntry(entryName, modified, data.size()); !status) return status;
  Status written = writeEntryData(data.data(), data.size(), entryName);
  Status closed = closeEntry(entryName);
  if (!written) return written;
  return closed;
}

Status ZipPacker::addFileToZipNewname(const fs::path& source, std::string_view entryName) {
  if (!writer_) return zipError(kZipNotOpen, "No archive is open for writing");
  // The kind is checked on what was opened, so nothing can be swapped in between: a link is
  // not followed out of the folder being packed, and a FIFO does not hold the backup forever.
  Descriptor fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) {
    const int err = errno;
    // A file that is not there still gives its entry: empty, with a zero date.
    if (err == ENOENT || err == ENOTDIR) return addDataToZip({}, entryName, std::nullopt);
    if (err == ELOOP) return zipError(kZipReadFailed, source.string() + " is a link, not a file", source);
    return posixError(kZipReadFailed, "Cannot open " + source.string(), source, err);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    return posixError(kZipReadFailed, "Cannot read the attributes of " + source.string(), source, errno);
  if (!S_ISREG(info.st_mode)) return zipError(kZipReadFailed, source.string() + " is not a file", source);
  const foundation::Date modified =
      foundation::Date::fromUnix(static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9);
  if (auto status = openEntry(entryName, modified, static_cast<std::uint64_t>(info.st_size)); !status)
    return status;
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  Status result;
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.get(), kChunkSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      result = posixError(kZipReadFailed, "Cannot read " + source.string(), source, errno);
      break;
    }
    if (got == 0) break;
    if (result = writeEntryData(buffer.get(), static_cast<size_t>(got), entryName); !result) break;
  }
  Status closed = closeEntry(entryName);
  if (!result) return result;
  return closed;
}

Status ZipPacker::CloseZipFile2() {
  if (!writer_) return zipError(kZipNotOpen, "No archive is open for writing");
  void* writer = std::exchange(writer_, nullptr);
  const int rc = zipClose(writer, nullptr);
  Status result;
  if (rc != ZIP_OK) result = writeError("Cannot complete the archive " + writerPath_.string());
  writerPath_.clear();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Reading

Status ZipPacker::UnzipOpenFile(const fs::path& path) {
  if (reader_) (void)UnzipCloseFile();
  zlib_filefunc64_def functions = archiveFileFunctions();
  reader_ = unzOpen2_64(path.c_str(), &functions);
  if (!reader_)
    return zipError(kZipCannotOpen, "The file " + path.string() + " is no zip archive that can be read",
                    path);
  readerPath_ = path;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(reader_, &global) == UNZ_OK) {
    foundation::log(foundation::text::format("%d entries in the zip file",
                                             {static_cast<long long>(global.number_entry)}));
  }
  return {};
}

Status ZipPacker::UnzipCloseFile() {
  if (!reader_) return {};
  void* reader = std::exchange(reader_, nullptr);
  const fs::path path = std::exchange(readerPath_, {});
  if (unzClose(reader) != UNZ_OK)
    return zipError(kZipReadFailed, "Cannot close the archive " + path.string(), path);
  return {};
}

foundation::Result<ZipPacker::Entry> ZipPacker::currentEntry() {
  Entry entry;
  if (unzGetCurrentFileInfo64(reader_, &entry.info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    report("Error occurs while getting file info");
    return zipError(kZipCannotOpen, "Cannot read an entry of " + readerPath_.string(), readerPath_);
  }
  entry.name.assign(entry.info.size_filename, '\0');
  if (unzGetCurrentFileInfo64(reader_, &entry.info, entry.name.data(), entry.name.size() + 1, nullptr, 0,
                              nullptr, 0) != UNZ_OK) {
    report("Error occurs while getting file info");
    return zipError(kZipCannotOpen, "Cannot read an entry of " + readerPath_.string(), readerPath_);
  }
  auto path = safeEntryPath(entry.name);
  if (!path) {
    report("Error occurs");
    return zipError(kZipUnsafeEntryName,
                    "The entry \"" + entry.name + "\" would be written outside its folder", readerPath_);
  }
  entry.path = *path;
  entry.folder = entry.path.back() == '/';
  if ((entry.info.flag & 1) != 0) {
    report("Error occurs");
    return zipError(kZipUnsupportedEntry, "The entry \"" + entry.name + "\" is encrypted", readerPath_);
  }
  if (entry.info.compression_method != 0 && entry.info.compression_method != Z_DEFLATED) {
    report("Error occurs");
    return zipError(kZipUnsupportedEntry,
                    "The entry \"" + entry.name + "\" uses an unknown compression method", readerPath_);
  }
  return entry;
}

Status ZipPacker::walkEntries(const std::function<Status(const Entry&, bool& stop)>& visit) {
  if (!reader_) return zipError(kZipNotOpen, "No archive is open for reading");
  int rc = unzGoToFirstFile(reader_);
  if (rc != UNZ_OK) {
    report("Failed");
    return zipError(kZipCannotOpen,
                    "The archive " + readerPath_.string() + " holds no entry that can be read", readerPath_);
  }
  bool stop = false;
  while (rc == UNZ_OK) {
    auto entry = currentEntry();
    if (!entry) return entry.error();
    if (auto status = visit(*entry, stop); !status || stop) return status;
    rc = unzGoToNextFile(reader_);
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE) {
    report("Error occurs while getting file info");
    return zipError(kZipCannotOpen, "The archive " + readerPath_.string() + " is damaged", readerPath_);
  }
  return {};
}

foundation::Result<std::vector<ZipPacker::Entry>> ZipPacker::scanEntries() {
  std::vector<Entry> entries;
  auto status = walkEntries([&](const Entry& entry, bool&) {
    entries.push_back(entry);
    return Status();
  });
  if (!status) return status.error();
  return entries;
}

foundation::Result<std::vector<std::string>> ZipPacker::entryNames() {
  auto entries = scanEntries();
  if (!entries) return entries.error();
  std::vector<std::string> names;
  names.reserve(entries->size());
  for (auto& entry : *entries) names.push_back(std::move(entry.name));
  return names;
}

Status ZipPacker::readCurrentEntry(const Entry& entry,
                                   const std::function<Status(const char*, size_t)>& sink) {
  if (unzOpenCurrentFile(reader_) != UNZ_OK) {
    report("Error occurs");
    return zipError(kZipReadFailed, "Cannot open the entry \"" + entry.name + "\"", readerPath_);
  }
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  std::uint64_t total = 0;
  Status result;
  for (;;) {
    const int got = unzReadCurrentFile(reader_, buffer.get(), static_cast<unsigned>(kChunkSize));
    if (got < 0) {
      report("Failed to reading zip file");
      result = zipError(kZipReadFailed, "Cannot read the entry \"" + entry.name + "\"", readerPath_);
      break;
    }
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    // No entry may yield more than it declared: the free space was checked against that.
    if (total > entry.info.uncompressed_size) {
      report("Failed to reading zip file");
      result = zipError(kZipReadFailed, "The entry \"" + entry.name + "\" holds more than it declares",
                        readerPath_);
      break;
    }
    if (result = sink(buffer.get(), static_cast<size_t>(got)); !result) break;
  }
  const int closed = unzCloseCurrentFile(reader_);
  if (!result) return result;
  if (closed == UNZ_CRCERROR) {
    report("Failed to reading zip file");
    return zipError(kZipCrcMismatch, "The entry \"" + entry.name + "\" does not match its checksum",
                    readerPath_);
  }
  if (closed != UNZ_OK || total != entry.info.uncompressed_size) {
    report("Failed to reading zip file");
    return zipError(kZipReadFailed, "The entry \"" + entry.name + "\" is damaged", readerPath_);
  }
  return {};
}

Status ZipPacker::verifyEntries() {
  return walkEntries([this](const Entry& entry, bool&) {
    return readCurrentEntry(entry, [](const char*, size_t) { return Status(); });
  });
}

foundation::Result<std::optional<Bytes>> ZipPacker::readEntry(std::string_view name) {
  std::optional<Bytes> found;
  auto status = walkEntries([&](const Entry& entry, bool& stop) -> Status {
    if (entry.path != name) return {};
    stop = true;
    Bytes data;
    auto read = readCurrentEntry(entry, [&](const char* bytes, size_t size) {
      data.insert(data.end(), bytes, bytes + size);
      return Status();
    });
    if (read) found = std::move(data);
    return read;
  });
  if (!status) return status.error();
  return found;
}

Status ZipPacker::extractEntry(const Entry& entry, const fs::path& folder, bool overwrite) {
  const fs::path relative(entry.path);
  // A folder that cannot be made (a file in its place) stops the extraction rather than leaving
  // out what belongs in it: a restore would otherwise put documents without those files in the
  // place of the user's own.
  if (entry.folder) {
    if (auto status = makeParentFolders(folder, relative / "x"); !status) return status;
    return {};
  }
  if (auto status = makeParentFolders(folder, relative); !status) return status;
  const fs::path target = folder / relative;
  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(target, ec);
  if (existing.type() != fs::file_type::not_found && !overwrite) {
    const bool agreed =
        !(delegate_ && delegate_->OverWriteOperation) || delegate_->OverWriteOperation(target);
    if (!agreed) return {};
  }
  // A folder cannot be opened for writing: the entry is skipped and the rest still lands.
  if (existing.type() == fs::file_type::directory) return {};

  // Written beside its place and renamed into it: a reader sees the old file or the whole new one.
  std::string temporary =
      (target.parent_path() / ("." + target.filename().string() + ".unzip-XXXXXX")).string();
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0)
    return posixError(kZipWriteFailed, "Cannot create a file beside " + target.string(), target, errno);
  off_t written = 0;
  Status status = readCurrentEntry(entry, [&](const char* bytes, size_t size) -> Status {
    if (!files::writeAll(fd.get(), bytes, size)) return cannotWrite(target);
    // The disk starts on each piece at once, while the next is read, so the fsync below has
    // little left to wait for.
    (void)::sync_file_range(fd.get(), written, static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
    written += static_cast<off_t>(size);
    return {};
  });
  if (status && ::fchmod(fd.get(), 0644) != 0) status = cannotWrite(target);
  if (status && ::fsync(fd.get()) != 0) status = cannotWrite(target);
  if (::close(fd.release()) != 0 && status) status = cannotWrite(target);
  if (status && ::rename(temporary.c_str(), target.c_str()) != 0) {
    status = cannotWrite(target);
  }
  if (!status) {
    ::unlink(temporary.c_str());
    return status;
  }
  auto date = dateFromDosDateTime(static_cast<std::uint32_t>(entry.info.dosDate));
  if (!date || !files::setModificationDate(target, *date)) foundation::log("Failed to set attributes");
  return {};
}

Status ZipPacker::checkSpaceFor(const std::vector<Entry>& entries, const fs::path& folder) {
  std::uint64_t needed = kExtractionMargin;
  for (const Entry& entry : entries) {
    needed = saturatingAdd(needed, kExtractionMarginPerEntry);
    if (!entry.folder) needed = saturatingAdd(needed, entry.info.uncompressed_size);
  }
  auto available = files::availableSpace(folder);
  if (!available) return available.error();
  if (needed > *available) {
    report("Error occurs");
    return zipError(kZipNoSpace,
                    "The archive " + readerPath_.string() + " needs " + std::to_string(needed) +
                        " bytes, more than the disk has free (" + std::to_string(*available) + ")",
                    readerPath_);
  }
  return {};
}

Status ZipPacker::UnzipFileToOverWrite(const fs::path& folder, bool overwrite) {
  // The headers go first, so that a bad name or a size the disk cannot take refuses the archive
  // before anything is written.
  auto entries = scanEntries();
  if (!entries) return entries.error();
  if (auto status = checkSpaceFor(*entries, folder); !status) return status;
  if (auto status = files::createDirectory(folder); !status) return status;
  return walkEntries([&](const Entry& entry, bool&) { return extractEntry(entry, folder, overwrite); });
}

}  // namespace app
