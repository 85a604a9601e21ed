#pragma once
// Backing up and restoring the user's data as the one archive of the file store, for the
// backup screen:
//
//   backup:  makeBackUp() -> upload backUpArchivePath() -> finish()
//   restore: download to backUpArchivePath() -> checkArchiveVers() (NO: ask the user first)
//            -> restoreBackUp() -> tell the user -> the application delegate's updateDataBase
//
// The data store is closed before its file is packed or replaced (through the application
// delegate's preReloadDataBase, which drops the store and so checkpoints its log); the
// delegate builds it again on the next request. A restore extracts and checks the whole archive
// before it closes the store, and replaces Documents in one step: whatever fails, the user's
// data stay as they were.

#include <filesystem>
#include <functional>

#include "app/local_saves.h"
#include "platform/foundation/error.h"

namespace app {

struct BackUpHooks {
  // Closes the data store so that its file stands alone; an error stops the backup or restore.
  std::function<foundation::Status()> preReloadDataBase;
  // Checks the store file of an extracted archive; by default a copy of it is opened with the
  // diary's model (openStoreCopy).
  localSaves::StoreCheck checkStore;
};

// Opens a copy of the store file made in `scratchFolder` with the diary's model, closes it again
// and removes the copy: the store opens, and migrates, as the diary will open it. The file must
// stand alone (the file store folds its log in first).
foundation::Status openStoreCopy(const std::filesystem::path& storeFile,
                                 const std::filesystem::path& scratchFolder);

class BackupRestore {
 public:
  // The file store is not owned and must outlive this object.
  BackupRestore(localSaves& saves, BackUpHooks hooks);

  // Closes the store, removes earlier backup files and packs the archive; its path, for the
  // upload. No archive is left behind on failure.
  foundation::Result<std::filesystem::path> makeBackUp();
  // Whether the downloaded archive's format is one this version knows (see localSaves).
  bool checkArchiveVers();
  // Restores the downloaded archive: extracts and checks it, closes the store, puts the new
  // Documents and first-launch date in place, and removes the backup files (also on failure).
  foundation::Status restoreBackUp();
  // Removes the backup files, after an upload or an abandoned restore.
  foundation::Status finish();

 private:
  foundation::Status closeStore();

  localSaves& saves_;
  BackUpHooks hooks_;
};

}  // namespace app
