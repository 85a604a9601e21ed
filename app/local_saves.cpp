#include "app/local_saves.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

#include "app/settings_records.h"
#include "app/zip_packer.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/fnv_hash.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace app {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Error;
using foundation::Result;
using foundation::Status;

namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";
constexpr std::string_view kStagingFolderName = "restore";
constexpr std::string_view kPreviousDocumentsFolderName = "previousDocuments";
constexpr std::string_view kPartialArchiveName = "backUp.zip.partial";
// The restored first-launch date rides inside the new Documents under this name, so that it
// comes into place in the same step as they do; it then moves on to Library/"Settings".
constexpr std::string_view kPendingFirstLaunchName = ".firstLaunch.txt.restored";
// Files SQLite keeps beside a database.
constexpr std::string_view kStoreSideSuffixes[] = {"-wal", "-journal", "-shm"};
// Tables every diary store has had: without them a file is some other database.
constexpr std::string_view kDiaryTables[] = {"Z_PRIMARYKEY", "Z_METADATA", "ZBABY", "ZNOTE"};

Error savesError(std::int64_t code, std::string description, const fs::path& path = {}) {
  foundation::Dictionary info{{std::string(Error::kLocalizedDescriptionKey), description}};
  if (!path.empty()) info.set(std::string(Error::kFilePathKey), path.string());
  return Error(std::string(kLocalSavesErrorDomain), code, std::move(info));
}

Error emptyNameError() { return savesError(kLocalSavesEmptyName, "A name for files must not be empty"); }

Status logFailure(Status status, std::string_view what) {
  if (!status) foundation::log(std::string(what) + ": " + status.error().description());
  return status;
}

Result<Bytes> jpeg(const graphics::Image& image) { return image.jpegData(1.0); }

Status writeImage(const graphics::Image& image, const fs::path& path, std::string_view what) {
  auto bytes = jpeg(image);
  if (!bytes) return logFailure(bytes.error(), what);
  return logFailure(files::writeAtomic(path, *bytes), what);
}

bool isRegularFile(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

// Makes renames into the folder durable.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

// The platform's reading of UTF-16 text: by its byte-order mark, big-endian without one.
std::optional<std::string> decodeUtf16(const Bytes& bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  size_t start = 0;
  bool littleEndian = false;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    littleEndian = true;
    start = 2;
  } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    start = 2;
  }
  std::u16string units;
  for (size_t i = start; i < bytes.size(); i += 2) {
    const unsigned lo = littleEndian ? bytes[i] : bytes[i + 1];
    const unsigned hi = littleEndian ? bytes[i + 1] : bytes[i];
    units += static_cast<char16_t>(lo | (hi << 8));
  }
  auto text = foundation::text::fromUtf16(units);
  if (!text) return std::nullopt;
  return std::move(*text);
}

Error unusableStore(std::string why, const fs::path& store) {
  return savesError(kLocalSavesStoreUnusable, "The archive's store cannot be used: " + why, store);
}

// An SQLite connection closed when it goes.
struct Database {
  sqlite3* db = nullptr;
  ~Database() { sqlite3_close_v2(db); }
  std::string error() const { return db ? sqlite3_errmsg(db) : "out of memory"; }
  // The first column of every row.
  std::optional<std::vector<std::string>> column(const char* sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return std::nullopt;
    std::vector<std::string> values;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(statement, 0);
      values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) return std::nullopt;
    return values;
  }
};

// Makes the extracted store stand alone, so that what the diary will open is exactly what is
// checked here: its write-ahead log is folded into the file; a rollback journal is never played
// back (beside a store in an archive it can only have come from elsewhere) and the log's index
// is rebuilt by SQLite, so both go. A side file that is not a regular file refuses the archive.
// Then the store must be an intact database holding the diary's tables.
Status settleStore(const fs::path& store) {
  for (const std::string_view suffix : kStoreSideSuffixes) {
    const fs::path side = store.string() + std::string(suffix);
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(side, ec).type();
    if (type != fs::file_type::not_found && type != fs::file_type::regular) {
      return savesError(kLocalSavesMalformedBackUp,
                        "The archive's \"" + side.filename().string() + "\" is not a file", side);
    }
  }
  const auto removeSideFiles = [&](bool withLog) -> Status {
    for (const std::string_view suffix : kStoreSideSuffixes) {
      if (suffix == "-wal" && !withLog) continue;
      if (auto status = files::remove(store.string() + std::string(suffix)); !status) return status;
    }
    return {};
  };
  if (auto status = removeSideFiles(false); !status) return status;
  if (!isRegularFile(store)) return savesError(kLocalSavesMissingStore, "The archive has no store", store);
  std::error_code ec;
  if (fs::file_size(store, ec) == 0 || ec) return unusableStore("it is empty", store);
  {
    Database database;
    if (sqlite3_open_v2(store.c_str(), &database.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return unusableStore(database.error(), store);
    // The file came from outside: SQLite's defensive mode, and no function its schema names runs.
    sqlite3_db_config(database.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(database.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // Folds the log into the file (nothing to do for a store not in WAL mode; a file without a
    // log to fold is left byte for byte as it came). The last connection's close deletes the log.
    const auto folded = database.column("PRAGMA wal_checkpoint(TRUNCATE)");
    if (!folded) return unusableStore(database.error(), store);
    if (folded->size() != 1 || folded->front() != "0")
      return unusableStore("its log cannot be folded in", store);
    const auto check = database.column("PRAGMA quick_check");
    if (!check) return unusableStore(database.error(), store);
    if (check->size() != 1 || check->front() != "ok") return unusableStore("it is damaged", store);
    const auto tables = database.column("SELECT upper(name) FROM sqlite_master WHERE type = 'table'");
    if (!tables) return unusableStore(database.error(), store);
    for (const std::string_view table : kDiaryTables) {
      if (std::find(tables->begin(), tables->end(), table) == tables->end())
        return unusableStore("it is no diary store", store);
    }
  }
  // A log beside a store that was not in WAL mode is not read by SQLite, so it goes too.
  return removeSideFiles(true);
}

// Moves a restored first-launch date from Documents to Library/"Settings" (replacing the date
// there in one step); an empty one keeps the date there.
Status placePendingFirstLaunch(const files::AppHome& home) {
  const fs::path pending = home.documents() / kPendingFirstLaunchName;
  if (!isRegularFile(pending)) return {};
  auto bytes = files::readFile(pending);
  if (!bytes) return bytes.error();
  if (bytes->empty()) return files::remove(pending);
  const fs::path settings = home.library() / kSettingsFolderName;
  if (auto status = files::createDirectory(settings); !status) return status;
  const fs::path target = settings / kFirstLaunchFileName;
  if (::rename(pending.c_str(), target.c_str()) == 0) {
    syncFolder(settings);
    return {};
  }
  if (errno != EXDEV) {
    return Error::make(std::string(files::kErrorDomain), files::kWriteUnknownError,
                       "Cannot put the first-launch date in place: " + std::string(std::strerror(errno)));
  }
  if (auto status = files::writeAtomic(target, *bytes); !status) return status;
  return files::remove(pending);
}

// Puts a new folder in the place of an old one in one step where the file system can exchange
// two names (so that no moment exists without the folder), else by two renames.
class Swap {
 public:
  Status install(const fs::path& fresh, const fs::path& place, const fs::path& aside, bool placeTaken) {
    fresh_ = fresh, place_ = place, aside_ = aside, placeTaken_ = placeTaken;
    if (placeTaken) {
      if (::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, place.c_str(), RENAME_EXCHANGE) == 0) {
        exchanged_ = true;
        syncFolder(place.parent_path());
        return {};
      }
      if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return Error::make(std::string(files::kErrorDomain), files::kWriteUnknownError,
                           "Cannot put " + fresh.string() + " in the place of " + place.string() + ": " +
                               std::strerror(errno));
      }
      (void)files::remove(aside);
      if (auto status = files::move(place, aside); !status) return status;
    }
    if (auto status = files::move(fresh, place); !status) {
      if (placeTaken) (void)logFailure(files::move(aside, place), "Cannot put the old documents back");
      return status;
    }
    syncFolder(place.parent_path());
    return {};
  }

  void undo() {
    if (exchanged_) {
      if (::renameat2(AT_FDCWD, fresh_.c_str(), AT_FDCWD, place_.c_str(), RENAME_EXCHANGE) != 0) {
        foundation::log("Cannot put the old documents back: " + std::string(std::strerror(errno)));
      }
      return;
    }
    (void)files::move(place_, fresh_);
    if (placeTaken_) (void)logFailure(files::move(aside_, place_), "Cannot put the old documents back");
  }

  // The replaced folder goes.
  void finish() {
    if (!placeTaken_) return;
    (void)logFailure(files::remove(exchanged_ ? fresh_ : aside_), "Cannot remove the replaced documents");
  }

 private:
  fs::path fresh_, place_, aside_;
  bool placeTaken_ = false;
  bool exchanged_ = false;
};

}  // namespace

namespace {

// The escaped form of a name: "." and then the name with "%", "/", NUL and a leading "."
// written as "%XX" (the form earlier versions gave every name starting with ".").
std::string escapedFileName(std::string_view name) {
  std::string out = ".";
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '%' || c == '/' || c == '\0' || (i == 0 && c == '.')) {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// The name whose escaped form the text is; nothing for any other text.
std::optional<std::string> unescapedFileName(std::string_view fileName) {
  if (fileName.size() < 2 || fileName.front() != '.') return std::nullopt;
  std::string name;
  for (size_t i = 1; i < fileName.size(); ++i) {
    if (fileName[i] != '%') {
      name += fileName[i];
      continue;
    }
    if (i + 2 >= fileName.size()) return std::nullopt;
    const auto hi = kHex.find(fileName[i + 1]);
    const auto lo = kHex.find(fileName[i + 2]);
    if (hi == std::string_view::npos || lo == std::string_view::npos) return std::nullopt;
    name += static_cast<char>((hi << 4) | lo);
    i += 2;
  }
  if (escapedFileName(name) != fileName) return std::nullopt;
  return name;
}

// File systems take names of at most this many bytes.
constexpr size_t kLongestFileName = 255;
// A shortened name ends in this mark and the name's hash in this many hex digits.
constexpr std::string_view kShortMark = "%~";
constexpr size_t kShortHashDigits = 16;

// Whether the text has the shape of a shortened name (below).
bool isShortForm(std::string_view text) {
  const size_t tail = kShortMark.size() + kShortHashDigits;
  if (text.size() < 1 + tail || text.front() != '.') return false;
  const std::string_view end = text.substr(text.size() - tail);
  if (end.substr(0, kShortMark.size()) != kShortMark) return false;
  return std::all_of(end.begin() + static_cast<std::ptrdiff_t>(kShortMark.size()), end.end(),
                     [](char c) { return kHex.find(c) != std::string_view::npos; });
}

// A name with "/" or NUL cannot be a file name. Nor, so that no two names share a file, can a
// name that is itself the escaped form of such a name (".a%2Fb"), and so on down, or a name
// shaped like a shortened one.
bool needsEscaping(std::string_view name) {
  if (name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos) return true;
  if (isShortForm(name)) return true;
  const auto inner = unescapedFileName(name);
  return inner && needsEscaping(*inner);
}

// The file-name part of a name too long to take its suffix within the file system's limit
// (else a long name's timers could not be written, and a running timer would be lost): "." and
// the start of the escaped name, cut at a whole character, then "%~" and the 64-bit FNV-1a hash
// of the whole name, in `room` bytes at most. An escaped name never holds "%~" and a name shaped
// like this one is escaped, so the form stands for this name alone (hash collisions apart).
std::string shortFileName(std::string_view name, size_t room) {
  foundation::Fnv1a64 fnv;
  fnv.add(name);
  const std::uint64_t hash = fnv.value;
  std::string escaped = escapedFileName(name);
  size_t cut = std::min(escaped.size(), room - kShortMark.size() - kShortHashDigits);
  // Not inside a "%XX", nor inside a UTF-8 character.
  if (cut >= 2 && escaped[cut - 2] == '%') {
    cut -= 2;
  } else if (cut >= 1 && escaped[cut - 1] == '%') {
    cut -= 1;
  }
  while (cut > 1 && cut < escaped.size() && (static_cast<unsigned char>(escaped[cut]) & 0xC0) == 0x80) --cut;
  escaped.resize(cut);
  escaped += kShortMark;
  for (int shift = 60; shift >= 0; shift -= 4) escaped += kHex[(hash >> shift) & 0xF];
  return escaped;
}

// The file name earlier versions used for a name that is now used as it is.
std::optional<std::string> legacyFileName(std::string_view name) {
  if (name.empty() || name.front() != '.' || needsEscaping(name)) return std::nullopt;
  return escapedFileName(name);
}

// The path of a name's file in a folder. A file that an earlier version wrote under the
// escaped form is moved to the plain name on first use (or, when it cannot move, used where it is).
std::optional<fs::path> namedFile(const fs::path& folder, std::string_view name, std::string_view suffix) {
  auto fileName = fileNameForName(name);
  if (!fileName) return std::nullopt;
  if (fileName->size() + suffix.size() > kLongestFileName)
    return folder / (shortFileName(name, kLongestFileName - suffix.size()) + std::string(suffix));
  const fs::path path = folder / (*fileName + std::string(suffix));
  const auto legacy = legacyFileName(name);
  if (!legacy) return path;
  const fs::path old = folder / (*legacy + std::string(suffix));
  std::error_code ec;
  if (fs::symlink_status(path, ec).type() != fs::file_type::not_found || !isRegularFile(old)) return path;
  if (auto moved = files::move(old, path); !moved) {
    (void)logFailure(moved, "Cannot rename " + old.string());
    return old;
  }
  return path;
}

}  // namespace

Result<std::string> fileNameForName(std::string_view name) {
  if (name.empty()) return emptyNameError();
  if (needsEscaping(name)) return escapedFileName(name);
  return std::string(name);
}

std::optional<std::string> nameForFileName(std::string_view fileName) {
  if (fileName.empty() || fileName.find('/') != std::string_view::npos ||
      fileName.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  // A shortened name cannot be read back.
  if (isShortForm(fileName)) return std::nullopt;
  if (auto name = unescapedFileName(fileName); name && needsEscaping(*name)) return name;
  return std::string(fileName);
}

localSaves::localSaves(files::AppHome home) : home_(std::move(home)) {}

fs::path localSaves::folder(std::optional<fs::path>& cache, const fs::path& path) {
  if (cache) return *cache;
  if (auto status = files::createDirectory(path); !status) {
    (void)logFailure(status, "Cannot create the folder " + path.string());
    return path;
  }
  cache = path;
  return path;
}

fs::path localSaves::getTimerDir() { return folder(privateTimerDir_, home_.library() / kTimersFolderName); }
fs::path localSaves::getBabyInfoDir() {
  return folder(publicBabyIconsDir_, home_.documents() / kBabyInfoFolderName);
}
fs::path localSaves::getPhotosDir() {
  return folder(publicPhotosDir_, home_.documents() / kPhotosFolderName);
}

// ---------------------------------------------------------------------------------------------
// Running timers

std::optional<fs::path> localSaves::timerFilePath(std::string_view babyName) {
  return namedFile(getTimerDir(), babyName, ".plist");
}

foundation::Result<NoteTimerArray> localSaves::readTimerArray(std::string_view babyName) {
  auto path = timerFilePath(babyName);
  if (!path) return emptyNameError();
  std::error_code ec;
  // A file that cannot even be looked at is read, so that its error is the reader's.
  if (!fs::exists(*path, ec) && !ec) return NoteTimerArray{};
  const std::string what = "Cannot read the timers of " + std::string(babyName);
  auto bytes = files::readFile(*path);
  if (!bytes) {
    (void)logFailure(bytes.error(), what);
    return bytes.error();
  }
  auto timers = unarchiveTimerArray(*bytes);
  if (!timers) {
    (void)logFailure(timers.error(), what);
    return timers.error();
  }
  return std::move(*timers);
}

std::optional<NoteTimerArray> localSaves::loadTimerArray(std::string_view babyName) {
  if (!timerFilePath(babyName)) return std::nullopt;
  auto timers = readTimerArray(babyName);
  if (!timers) return NoteTimerArray{};
  return std::move(*timers);
}

Status localSaves::saveTimerArrayById(const NoteTimerArray& timers, std::string_view babyName) {
  auto path = timerFilePath(babyName);
  if (!path) return logFailure(emptyNameError(), "Cannot save timers");
  auto bytes = archiveTimerArray(timers);
  if (!bytes) return logFailure(bytes.error(), "Cannot archive the timers of " + std::string(babyName));
  return logFailure(files::writeAtomic(*path, *bytes), "Cannot save the timers of " + std::string(babyName));
}

Status localSaves::deleteTimerArray(std::string_view babyName) {
  auto path = timerFilePath(babyName);
  if (!path) return logFailure(emptyNameError(), "Cannot remove timers");
  return logFailure(files::remove(*path), "Cannot remove the timers of " + std::string(babyName));
}

// ---------------------------------------------------------------------------------------------
// Icons and photos

std::optional<graphics::Image> localSaves::getImageWithTryingToConvert(const fs::path& pathWithoutExtension) {
  fs::path path = pathWithoutExtension;
  path += ".jpg";
  if (!isRegularFile(path)) return std::nullopt;
  auto bytes = files::readFile(path);
  if (!bytes) {
    (void)logFailure(bytes.error(), "Cannot read the image " + path.string());
    return std::nullopt;
  }
  auto image = graphics::Image::decode(*bytes);
  if (!image) {
    (void)logFailure(image.error(), "Cannot decode the image " + path.string());
    return std::nullopt;
  }
  return std::move(*image);
}

Status localSaves::saveIcon(const graphics::Image& image, std::string_view babyName) {
  auto path = namedFile(getBabyInfoDir(), babyName, "_ava.jpg");
  if (!path) return logFailure(emptyNameError(), "Cannot save an icon");
  return writeImage(image, *path, "Cannot save the icon of " + std::string(babyName));
}

std::optional<graphics::Image> localSaves::getIcon(std::string_view babyName) {
  auto path = namedFile(getBabyInfoDir(), babyName, "_ava.jpg");
  if (!path) return std::nullopt;
  return getImageWithTryingToConvert(path->parent_path() / path->stem());
}

Status localSaves::deleteIcon(std::string_view babyName) {
  auto path = namedFile(getBabyInfoDir(), babyName, "_ava.jpg");
  if (!path) return logFailure(emptyNameError(), "Cannot remove an icon");
  return logFailure(files::remove(*path), "Cannot remove the icon of " + std::string(babyName));
}

Status localSaves::savePhoto(const graphics::Image& image, std::string_view photoKey) {
  auto path = namedFile(getPhotosDir(), photoKey, ".jpg");
  if (!path) return logFailure(emptyNameError(), "Cannot save a photo");
  return writeImage(image, *path, "Cannot save the photo " + std::string(photoKey));
}

std::optional<graphics::Image> localSaves::getPhoto(std::string_view photoKey) {
  auto path = namedFile(getPhotosDir(), photoKey, ".jpg");
  if (!path) return std::nullopt;
  return getImageWithTryingToConvert(path->parent_path() / path->stem());
}

Status localSaves::deletePhoto(std::string_view photoKey) {
  auto path = namedFile(getPhotosDir(), photoKey, ".jpg");
  if (!path) return logFailure(emptyNameError(), "Cannot remove a photo");
  return logFailure(files::remove(*path), "Cannot remove the photo " + std::string(photoKey));
}

// ---------------------------------------------------------------------------------------------
// Photos of running timers

std::optional<fs::path> localSaves::tempPhotoFilePath(std::string_view babyName,
                                                      std::int64_t photoNum) const {
  return namedFile(home_.tmp(), babyName, "PhotoTmp" + std::to_string(photoNum) + ".jpg");
}

Status localSaves::saveTempPhotoPhotoPathPhotoNum(const graphics::Image& image, std::string_view babyName,
                                                  std::int64_t photoNum) {
  auto path = tempPhotoFilePath(babyName, photoNum);
  if (!path) return logFailure(emptyNameError(), "Cannot save a timer photo");
  if (auto status = files::createDirectory(home_.tmp()); !status) {
    return logFailure(status, "Cannot create the temporary folder");
  }
  return writeImage(image, *path, "Cannot save the timer photo " + path->filename().string());
}

std::optional<graphics::Image> localSaves::getTempPhotoPhotoNum(std::string_view babyName,
                                                                std::int64_t photoNum) {
  auto path = tempPhotoFilePath(babyName, photoNum);
  if (!path) return std::nullopt;
  fs::path stem = *path;
  stem.replace_extension();
  return getImageWithTryingToConvert(stem);
}

Status localSaves::deleteTempPhotoPhotoNum(std::string_view babyName, std::int64_t photoNum) {
  auto path = tempPhotoFilePath(babyName, photoNum);
  if (!path) return logFailure(emptyNameError(), "Cannot remove a timer photo");
  return logFailure(files::remove(*path), "Cannot remove the timer photo " + path->filename().string());
}

// ---------------------------------------------------------------------------------------------
// Renaming and clearing

Status localSaves::replaceTempInfo(std::string_view oldName, std::string_view newName) {
  if (oldName.empty()) return {};
  auto oldFile = timerFilePath(oldName);
  auto newFile = timerFilePath(newName);
  if (!newFile) return logFailure(emptyNameError(), "Cannot move timers to an empty name");
  if (*oldFile == *newFile) return {};
  std::error_code ec;
  if (!fs::exists(*oldFile, ec)) return {};
  auto bytes = files::readFile(*oldFile);
  if (!bytes) return logFailure(bytes.error(), "Cannot read the timers of " + std::string(oldName));
  auto timers = unarchiveTimerArray(*bytes);
  if (!timers) {
    // Timers nobody can read are no timers: there is nothing to carry over.
    (void)logFailure(timers.error(), "Cannot read the timers of " + std::string(oldName));
    return {};
  }

  std::set<std::int64_t> numbers;
  for (const auto& timer : *timers) {
    if (timer->param_ImgPathNum() && *timer->param_ImgPathNum() >= 0)
      numbers.insert(*timer->param_ImgPathNum());
  }
  // Copies first; should one fail, the copies made so far go and the old files stay.
  std::vector<std::pair<fs::path, fs::path>> moved;
  const auto undo = [&] {
    for (const auto& [from, to] : moved) (void)files::remove(to);
  };
  for (const std::int64_t number : numbers) {
    const fs::path from = *tempPhotoFilePath(oldName, number);
    const fs::path to = *tempPhotoFilePath(newName, number);
    if (!isRegularFile(from)) continue;
    auto photo = files::readFile(from);
    Status copied = photo ? files::writeAtomic(to, *photo) : Status(photo.error());
    if (!copied) {
      undo();
      return logFailure(copied, "Cannot move the timer photo " + from.filename().string());
    }
    moved.emplace_back(from, to);
  }
  if (auto status = files::writeAtomic(*newFile, *bytes); !status) {
    undo();
    return logFailure(status, "Cannot move the timers of " + std::string(oldName));
  }
  for (const auto& [from, to] : moved)
    (void)logFailure(files::remove(from), "Cannot remove " + from.string());
  (void)logFailure(files::remove(*oldFile), "Cannot remove " + oldFile->string());
  return {};
}

Status localSaves::clearFolderByPath(const fs::path& folder) {
  auto names = files::listDirectory(folder);
  if (!names) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) return {};
    return logFailure(names.error(), "Cannot list " + folder.string());
  }
  Status first;
  for (const auto& name : *names) {
    Status removed = files::remove(folder / name);
    if (!removed && first) first = removed;
    (void)logFailure(removed, "Cannot remove " + (folder / name).string());
  }
  return first;
}

Status localSaves::removeBackUpFiles() { return clearFolderByPath(backUpDir()); }

// ---------------------------------------------------------------------------------------------
// The backup archive

fs::path localSaves::backUpDir() const { return home_.tmp() / kBackUpFolderName; }
fs::path localSaves::backUpArchivePath() const { return backUpDir() / kBackUpArchiveName; }

Status localSaves::tryAddFileToZip(ZipPacker& zip, const fs::path& fullPath, std::string_view entryName) {
  if (!isRegularFile(fullPath)) return {};
  foundation::log("Path:" + std::string(entryName));
  return zip.addFileToZipNewname(fullPath, entryName);
}

Status localSaves::createZip() {
  (void)removeBackUpFiles();
  const fs::path archive = backUpArchivePath();
  foundation::log(archive.string());
  if (auto status = files::createDirectory(backUpDir()); !status)
    return logFailure(status, "Cannot make the backup folder");
  const fs::path partial = backUpDir() / kPartialArchiveName;

  const auto pack = [&]() -> Status {
    ZipPacker zip;
    if (auto status = zip.CreateZipFile2(partial); !status) return status;
    const fs::path versionFile = backUpDir() / kBackUpVersionName;
    if (auto status =
            files::writeText(versionFile, foundation::text::format("%d", {0}), files::TextEncoding::Utf16);
        !status) {
      return status;
    }
    if (auto status = zip.addFileToZipNewname(versionFile, kBackUpVersionName); !status) return status;
    // Anything but a regular file in the date file's place (a link, a FIFO) packs as no date.
    const fs::path firstLaunch = home_.library() / kSettingsFolderName / kFirstLaunchFileName;
    if (auto status = isRegularFile(firstLaunch) ? zip.addFileToZipNewname(firstLaunch, kFirstLaunchFileName)
                                                 : zip.addDataToZip({}, kFirstLaunchFileName, std::nullopt);
        !status) {
      return status;
    }
    auto listing = files::listRecursive(home_.documents());
    if (!listing) return listing.error();
    for (const fs::path& relative : *listing) {
      if (auto status = tryAddFileToZip(zip, home_.documents() / relative, relative.generic_string());
          !status) {
        return status;
      }
    }
    return zip.CloseZipFile2();
  };

  Status packed = pack();
  if (packed) {
    std::error_code ec;
    fs::rename(partial, archive, ec);
    if (ec)
      packed = Error::make(std::string(files::kErrorDomain), files::kWriteUnknownError,
                           "Cannot put the archive in place: " + ec.message());
  }
  if (!packed) {
    (void)clearFolderByPath(backUpDir());
    return logFailure(packed, "Cannot make the backup archive");
  }
  return {};
}

bool localSaves::checkArchiveVers() {
  ZipPacker zip;
  if (auto status = zip.UnzipOpenFile(backUpArchivePath()); !status) {
    (void)logFailure(status, "Cannot open the backup archive");
    return false;
  }
  if (auto status = zip.verifyEntries(); !status) {
    (void)logFailure(status, "Cannot unpack the backup archive");
    return false;
  }
  auto version = zip.readEntry(kBackUpVersionName);
  if (!version) {
    (void)logFailure(version.error(), "Cannot unpack the backup archive");
    return false;
  }
  if (!*version) return true;
  auto text = decodeUtf16(**version);
  if (!text) return true;
  return integerValueOfText(*text) < 1;
}

Result<localSaves::StagedBackUp> localSaves::stageBackUp(const StoreCheck& check) {
  const fs::path staging = backUpDir() / kStagingFolderName;
  (void)files::remove(staging);
  const auto refuse = [&](Error error) -> Result<StagedBackUp> {
    (void)files::remove(staging);
    foundation::log("The backup archive is refused: " + error.description());
    return error;
  };

  {
    ZipPacker zip;
    if (auto status = zip.UnzipOpenFile(backUpArchivePath()); !status) return refuse(status.error());
    if (auto status = zip.UnzipFileToOverWrite(staging, true); !status) return refuse(status.error());
    if (auto status = zip.UnzipCloseFile(); !status) return refuse(status.error());
  }

  const fs::path store = staging / kStoreFileName;
  if (auto status = settleStore(store); !status) return refuse(status.error());
  if (check) {
    if (Status usable = check(store); !usable)
      return refuse(unusableStore(usable.error().localizedDescription(), backUpArchivePath()));
  }
  // The version entry belongs to the archive, not to the documents; an archive without one comes
  // from before the archive had a version and is restored all the same.
  if (auto status = files::remove(staging / kBackUpVersionName); !status) return refuse(status.error());

  StagedBackUp staged{staging, std::nullopt};
  const fs::path firstLaunch = staging / kFirstLaunchFileName;
  const fs::path pending = staging / kPendingFirstLaunchName;
  if (auto status = files::remove(pending); !status) return refuse(status.error());
  std::error_code ec;
  const fs::file_type type = fs::symlink_status(firstLaunch, ec).type();
  if (type == fs::file_type::regular) {
    if (auto status = files::move(firstLaunch, pending); !status) return refuse(status.error());
    staged.firstLaunch = pending;
  } else if (type != fs::file_type::not_found) {
    return refuse(savesError(kLocalSavesMalformedBackUp, "The archive's \"firstLaunch.txt\" is not a file",
                             backUpArchivePath()));
  }
  return staged;
}

Status localSaves::installStagedBackUp(const StagedBackUp& staged) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(staged.documents, ec))) {
    return logFailure(
        savesError(kLocalSavesNoStagedBackUp, "No extracted backup to install", staged.documents),
        "Cannot restore the backup");
  }
  // A restore makes the settings folder, so that the records written after it have their place;
  // only a date to be put there makes its failure stop the restore (below).
  (void)logFailure(files::createDirectory(home_.library() / kSettingsFolderName),
                   "Cannot create the settings folder");

  // The date rides inside the new Documents, so a restore cut short after the swap still has
  // it at hand: recoverAtLaunch() finishes the move.
  const fs::path documents = home_.documents();
  const bool hadDocuments = fs::exists(fs::symlink_status(documents, ec));
  Swap swap;
  if (auto status =
          swap.install(staged.documents, documents, backUpDir() / kPreviousDocumentsFolderName, hadDocuments);
      !status) {
    return logFailure(status, "Cannot restore the backup");
  }
  if (auto status = placePendingFirstLaunch(home_); !status) {
    swap.undo();
    return logFailure(status, "Cannot restore the backup");
  }
  swap.finish();
  return {};
}

Status localSaves::recoverAtLaunch() {
  // Where the file system cannot exchange two names, a restore cut short between its two renames
  // leaves no Documents and the old ones aside: they go back, and nothing of the backup's files
  // is removed unless they did.
  std::error_code ec;
  const fs::path previous = backUpDir() / kPreviousDocumentsFolderName;
  if (!fs::exists(fs::symlink_status(home_.documents(), ec)) &&
      fs::is_directory(fs::symlink_status(previous, ec))) {
    if (auto status = files::move(previous, home_.documents()); !status)
      return logFailure(status, "Cannot put the documents back");
  }
  Status first =
      logFailure(placePendingFirstLaunch(home_), "Cannot put the restored first-launch date in place");
  if (Status cleared = removeBackUpFiles(); !cleared && first) first = cleared;
  auto removed = files::removeStaleTemporaries(home_.root());
  if (!removed) {
    (void)logFailure(removed.error(), "Cannot remove stale temporary files");
    if (first) first = removed.error();
  } else if (*removed > 0) {
    foundation::log("Removed " + std::to_string(*removed) + " stale temporary files");
  }
  return first;
}

Status localSaves::unZip(const StoreCheck& check) {
  auto staged = stageBackUp(check);
  if (!staged) return staged.error();
  return installStagedBackUp(*staged);
}

}  // namespace app
