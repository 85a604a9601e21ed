#pragma once
// The application's zip archives, over minizip: one archive open for writing and one open for
// reading at a time.
//
// Entries are written with deflate, neither encrypted nor commented and without extra fields;
// their date and time fields hold the source file's modification time as local time in the
// Gregorian calendar (which is how extraction reads them back, to the two seconds a zip date
// resolves). Every entry, pictures included, is deflated at zlib's default level. Source files
// are opened without following a link and without waiting on a FIFO, and only a regular file is
// read.
//
// Extraction never trusts the archive: every entry name is checked before anything is written
// (no absolute name, no ".." step, no encrypted entry, no method but stored or deflate), the
// sizes the entries declare must fit the free space of the target's disk with a margin, no
// entry yields more than it declares, every entry's data is checked against its CRC, each file
// is written beside its place and renamed into it, and the first fault stops the extraction
// with an error. Callers that must not keep a half-extracted archive extract into a folder of
// their own and discard it on failure.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace app {

inline constexpr std::string_view kZipErrorDomain = "ZipPackerErrorDomain";

enum ZipErrorCode : std::int64_t {
  kZipNotOpen = 1,           // no archive is open for the operation
  kZipCannotCreate = 2,      // the archive file could not be created
  kZipCannotOpen = 3,        // the file is no zip archive that can be read
  kZipWriteFailed = 4,       // writing the archive, or a file extracted from it, failed
  kZipReadFailed = 5,        // a source file, or an entry's data, could not be read
  kZipCrcMismatch = 6,       // an entry's data do not match its checksum
  kZipUnsafeEntryName = 7,   // an entry would land outside the target folder
  kZipUnsupportedEntry = 8,  // an encrypted entry, or one with an unknown method
  kZipNoSpace = 9,           // the disk is full, or the archive would not fit on it
};

// What a delegate may want to know; either function may be left empty.
struct ZipPackerDelegate {
  // A readable message about a failure ("Error occurs", "Failed to reading zip file").
  std::function<void(std::string_view message)> ErrorMessage;
  // Asked before an existing file is overwritten when overwriting is off; YES goes ahead.
  std::function<bool(const std::filesystem::path& path)> OverWriteOperation;
};

// One entry's name made safe to join to a folder: "\" read as "/", a leading "./" and empty
// steps dropped. Nothing for an absolute name, a name with a ".." step or a NUL, and for a name
// with no step left. A trailing "/" (a folder entry) is kept.
std::optional<std::string> safeEntryPath(std::string_view name);

class ZipPacker {
 public:
  ZipPacker();
  // A zip still open for writing is closed (and so completed); one open for reading is closed.
  ~ZipPacker();
  ZipPacker(const ZipPacker&) = delete;
  ZipPacker& operator=(const ZipPacker&) = delete;

  // Creates a new archive at the path (replacing any file there) and keeps it open for writing.
  foundation::Status CreateZipFile2(const std::filesystem::path& path);
  // Adds the whole file as one entry. A source that does not exist gives an empty entry with a
  // zero date; one that exists but cannot be read, or is no regular file (a link, a FIFO, a
  // folder), fails.
  foundation::Status addFileToZipNewname(const std::filesystem::path& source, std::string_view entryName);
  // Adds bytes as one entry with the given modification date (none: a zero date).
  foundation::Status addDataToZip(const foundation::Bytes& data, std::string_view entryName,
                                  std::optional<foundation::Date> modified);
  // Writes the central directory and closes the archive (flushed to the disk). Fails when no
  // archive is open; the handle is dropped either way. Any write that fails because the disk is
  // full says so (kZipNoSpace).
  foundation::Status CloseZipFile2();

  // Opens an archive for reading; logs the number of its entries.
  foundation::Status UnzipOpenFile(const std::filesystem::path& path);
  // Extracts every entry under the folder (made when missing). With overwrite off, an existing
  // file is replaced only when the delegate's OverWriteOperation agrees (or there is none to ask);
  // a file entry whose place holds a folder is asked about as any existing file, then skipped.
  // An archive whose entries declare more than the disk's free space less kExtractionMargin is
  // refused (kZipNoSpace) before anything is written.
  foundation::Status UnzipFileToOverWrite(const std::filesystem::path& folder, bool overwrite);
  // Room left on the disk beyond what an extraction declares: enough for the diary to go on
  // writing its store afterwards, plus the rounding of each file up to whole blocks (per entry).
  static constexpr std::uint64_t kExtractionMargin = std::uint64_t{32} << 20;
  static constexpr std::uint64_t kExtractionMarginPerEntry = 4096;
  // Closes the archive open for reading; succeeds when none is open.
  foundation::Status UnzipCloseFile();

  // The open archive's entry names, in archive order, as stored.
  foundation::Result<std::vector<std::string>> entryNames();
  // Reads every entry through, checking names, methods and checksums, without writing anything.
  foundation::Status verifyEntries();
  // The data of the first entry whose safe path is `name`, checked against its CRC; nothing when
  // the archive has no such entry. Entries after it are not looked at.
  foundation::Result<std::optional<foundation::Bytes>> readEntry(std::string_view name);

  const std::shared_ptr<ZipPackerDelegate>& delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ZipPackerDelegate> delegate) { delegate_ = std::move(delegate); }

  // The date and time fields of a zip entry (the DOS layout) for a moment, in the local time
  // zone; dates before 1980 or after 2107 are held at those limits.
  static std::uint32_t dosDateTime(foundation::Date date);
  // The moment the fields name, read as local time in the Gregorian calendar.
  static std::optional<foundation::Date> dateFromDosDateTime(std::uint32_t fields);

 private:
  struct Entry;
  void report(std::string_view message) const;
  foundation::Status openEntry(std::string_view entryName, std::optional<foundation::Date> modified,
                               std::uint64_t expectedSize);
  foundation::Status writeEntryData(const void* data, size_t size, std::string_view entryName);
  foundation::Status closeEntry(std::string_view entryName);
  foundation::Error writeError(std::string description) const;
  // The one walk over the entries: each one's header is read and checked, then `visit` runs
  // with that entry current and may set `stop`.
  foundation::Status walkEntries(const std::function<foundation::Status(const Entry&, bool& stop)>& visit);
  foundation::Result<Entry> currentEntry();
  foundation::Result<std::vector<Entry>> scanEntries();
  foundation::Status checkSpaceFor(const std::vector<Entry>& entries, const std::filesystem::path& folder);
  foundation::Status extractEntry(const Entry& entry, const std::filesystem::path& folder, bool overwrite);
  foundation::Status readCurrentEntry(const Entry& entry,
                                      const std::function<foundation::Status(const char*, size_t)>& sink);

  void* writer_ = nullptr;  // zipFile
  void* reader_ = nullptr;  // unzFile
  int writeErrno_ = 0;      // the last failed write to the archive's file, for its error
  std::filesystem::path writerPath_;
  std::filesystem::path readerPath_;
  std::shared_ptr<ZipPackerDelegate> delegate_;
};

}  // namespace app
