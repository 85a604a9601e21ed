#pragma once
// The files that live beside the data store:
//
//   Library/"Timers"/<baby>".plist"        the baby's running timers (not part of a backup)
//   Documents/"BabyInfo"/<baby>"_ava.jpg"  the baby's icon
//   Documents/"Photos"/<photo key>".jpg"   a note's photo
//   tmp/<baby>"PhotoTmp"<n>".jpg"          the photo of a running timer numbered n
//   tmp/"backUp"/                          the backup archive and everything made for it
//
// Images are JPEG at quality 1.0. All state is on disk, so any number of instances may exist.
// Every write goes to a temporary file that is renamed into place; failures are logged and
// returned. Missing or unreadable files read as absent.
//
// Babies are known by name in file names, as the name itself (every such file name carries a
// suffix, so even "." or ".." stays inside its folder), so that the files of a backup made by
// the phone application keep their babies. Only a name holding "/" or NUL is written in an
// escaped form, and one too long for a file name in a shortened form (see fileNameForName); an
// empty name is refused.
//
// The backup archive "backUp.zip" holds "backUp.vers" (the format version "0" as UTF-16 text),
// "firstLaunch.txt" from Library/"Settings", then every regular file under Documents by its
// relative path. Restoring one extracts it into a folder of its own, checks it, and only then
// puts it in the place of Documents; until then nothing of the user's data is touched. What is
// put in place is exactly what was checked: the store alone, its log folded in.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/note_timer.h"
#include "platform/files/app_home.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"

namespace app {

class ZipPacker;

inline constexpr std::string_view kLocalSavesErrorDomain = "LocalSavesErrorDomain";

enum LocalSavesErrorCode : std::int64_t {
  kLocalSavesEmptyName = 1,        // a baby name or photo key that is empty
  kLocalSavesNoStagedBackUp = 2,   // nothing extracted to install
  kLocalSavesMissingStore = 4,     // the archive has no store file
  kLocalSavesStoreUnusable = 5,    // the archive's store does not open
  kLocalSavesMalformedBackUp = 6,  // the archive's "firstLaunch.txt" or a store side file is not a file
};

inline constexpr std::string_view kTimersFolderName = "Timers";
inline constexpr std::string_view kBabyInfoFolderName = "BabyInfo";
inline constexpr std::string_view kPhotosFolderName = "Photos";
inline constexpr std::string_view kBackUpFolderName = "backUp";
inline constexpr std::string_view kBackUpArchiveName = "backUp.zip";
inline constexpr std::string_view kBackUpVersionName = "backUp.vers";
inline constexpr std::string_view kStoreFileName = "dataBase.sqlite";

// The file-name part for a baby name (or a photo key): the name itself when it holds no "/" or
// NUL; otherwise "." followed by the name with "%", "/", NUL and a leading "." written as "%XX".
// A name that is itself such an escaped form of a name holding "/" or NUL is escaped too, so no
// two names share a file name. An empty name is refused. Files that earlier versions wrote
// under the escaped form of a name starting with "." are found and moved to the plain name.
// The files themselves take a shortened form of a name too long for the file system's 255 bytes
// with its suffix: "." and the start of the escaped name, "%~" and 16 hex digits of its hash (a
// name shaped like that is escaped).
foundation::Result<std::string> fileNameForName(std::string_view name);
// The name a file-name part stands for; nothing for text fileNameForName never makes, nor for a
// shortened form.
std::optional<std::string> nameForFileName(std::string_view fileName);

class localSaves {
 public:
  // Checks a store file extracted from an archive; an error refuses the archive.
  using StoreCheck = std::function<foundation::Status(const std::filesystem::path& storeFile)>;

  // An archive extracted and checked, waiting to be put in place.
  struct StagedBackUp {
    std::filesystem::path documents;                   // the new Documents
    std::optional<std::filesystem::path> firstLaunch;  // its first-launch date file (inside them)
  };

  explicit localSaves(files::AppHome home);

  const files::AppHome& home() const { return home_; }

  // The folders, made (with their parents) on first use.
  std::filesystem::path getTimerDir();
  std::filesystem::path getBabyInfoDir();
  std::filesystem::path getPhotosDir();

  // Running timers. Nothing for an empty name; an empty array when the baby has no timer file
  // or it cannot be read (no file is made).
  std::optional<NoteTimerArray> loadTimerArray(std::string_view babyName);
  // The same, telling an unreadable file from none: an empty array when the baby has no timer
  // file, an error for an empty name or a file that cannot be read or is no timer archive. A
  // writer that gets an error must not write the array: the file may hold running timers.
  foundation::Result<NoteTimerArray> readTimerArray(std::string_view babyName);
  foundation::Status saveTimerArrayById(const NoteTimerArray& timers, std::string_view babyName);
  // Succeeds when there is nothing to remove.
  foundation::Status deleteTimerArray(std::string_view babyName);

  // Icons and photos.
  foundation::Status saveIcon(const graphics::Image& image, std::string_view babyName);
  std::optional<graphics::Image> getIcon(std::string_view babyName);
  foundation::Status deleteIcon(std::string_view babyName);
  foundation::Status savePhoto(const graphics::Image& image, std::string_view photoKey);
  std::optional<graphics::Image> getPhoto(std::string_view photoKey);
  foundation::Status deletePhoto(std::string_view photoKey);
  // The image in the file at the path with ".jpg" added; nothing when there is none or it does
  // not decode.
  std::optional<graphics::Image> getImageWithTryingToConvert(
      const std::filesystem::path& pathWithoutExtension);

  // Photos of running timers, by baby and number.
  foundation::Status saveTempPhotoPhotoPathPhotoNum(const graphics::Image& image, std::string_view babyName,
                                                    std::int64_t photoNum);
  std::optional<graphics::Image> getTempPhotoPhotoNum(std::string_view babyName, std::int64_t photoNum);
  foundation::Status deleteTempPhotoPhotoNum(std::string_view babyName, std::int64_t photoNum);
  // Where a baby's timer file and a running timer's photo live; nothing for an empty name.
  std::optional<std::filesystem::path> timerFilePath(std::string_view babyName);
  std::optional<std::filesystem::path> tempPhotoFilePath(std::string_view babyName,
                                                         std::int64_t photoNum) const;

  // A renamed baby takes its running timers and every photo they carry (by their photo
  // numbers) along. The new files are written first; the old ones go only when all are in
  // place. Nothing happens for an empty old name or when the baby has no readable timer file.
  foundation::Status replaceTempInfo(std::string_view oldName, std::string_view newName);

  // Removes everything inside the folder, one entry at a time, going on past failures (the
  // first is returned); the folder itself stays.
  foundation::Status clearFolderByPath(const std::filesystem::path& folder);
  // Empties the backup's own folder; other temporary files (a running timer's photo) stay.
  foundation::Status removeBackUpFiles();

  // The backup's own folder in the temporary directory, and the archive in it (where a
  // download is put before a restore).
  std::filesystem::path backUpDir() const;
  std::filesystem::path backUpArchivePath() const;

  // Packs the archive. It appears at backUpArchivePath() only when complete; on failure there
  // is none. Close the data store first, so its file stands alone.
  foundation::Status createZip();
  // Adds a regular file (never a folder or a link) under the entry name; anything else is
  // skipped without error.
  foundation::Status tryAddFileToZip(ZipPacker& zip, const std::filesystem::path& fullPath,
                                     std::string_view entryName);
  // YES when the archive opens, reads through intact and its "backUp.vers" is missing, not a
  // file, unreadable or below 1; NO when it cannot be read or was made by a newer format.
  bool checkArchiveVers();

  // Extracts the archive into a folder of its own and checks it: every entry intact and safe,
  // the declared sizes fitting the disk, the store file present, intact, holding the diary's
  // tables and accepted by `check`. The store's write-ahead log is folded into it, and its
  // other side files ("-journal", "-shm") are dropped; a side file that is not a regular file
  // refuses the archive. Its "backUp.vers" is dropped; an archive without one (made before the
  // archive had a version) is restored like any other. Documents is not touched.
  foundation::Result<StagedBackUp> stageBackUp(const StoreCheck& check = {});
  // Puts a staged archive in the place of Documents and its first-launch date in
  // Library/"Settings" (made when missing; a missing or empty date in the archive keeps the date
  // there), all or nothing. The data store must be closed.
  foundation::Status installStagedBackUp(const StagedBackUp& staged);
  // At launch, before anything else writes: finishes a restore cut short after Documents were
  // replaced (their first-launch date moves on) or puts back the old ones when it was cut short
  // before, then removes the backup's own files and the temporary files that writes cut short
  // left anywhere under the data root.
  foundation::Status recoverAtLaunch();
  // Both, in one step.
  foundation::Status unZip(const StoreCheck& check = {});

 private:
  std::filesystem::path folder(std::optional<std::filesystem::path>& cache,
                               const std::filesystem::path& path);

  files::AppHome home_;
  std::optional<std::filesystem::path> privateTimerDir_;
  std::optional<std::filesystem::path> publicBabyIconsDir_;
  std::optional<std::filesystem::path> publicPhotosDir_;
};

}  // namespace app
