#include "app/backup_restore.h"

#include "app/model.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/store/store.h"

namespace app {

namespace fs = std::filesystem;
using foundation::Status;

namespace {

constexpr std::string_view kStoreCheckFolderName = "storeCheck";

Status logFailure(Status status, std::string_view what) {
  if (!status) foundation::log(std::string(what) + ": " + status.error().description());
  return status;
}

}  // namespace

Status openStoreCopy(const fs::path& storeFile, const fs::path& scratchFolder) {
  (void)files::remove(scratchFolder);
  if (auto status = files::createDirectory(scratchFolder); !status) return status;
  const fs::path copy = scratchFolder / storeFile.filename();
  const auto checked = [&]() -> Status {
    if (auto status = files::copyFile(storeFile, copy); !status) return status;
    auto store = store::Store::open(copy, managedObjectModel());
    if (!store) return store.error();
    return (*store)->close();
  }();
  (void)files::remove(scratchFolder);
  return checked;
}

BackupRestore::BackupRestore(localSaves& saves, BackUpHooks hooks)
    : saves_(saves), hooks_(std::move(hooks)) {}

Status BackupRestore::closeStore() {
  if (!hooks_.preReloadDataBase) return {};
  return logFailure(hooks_.preReloadDataBase(), "Cannot close the data store");
}

foundation::Result<fs::path> BackupRestore::makeBackUp() {
  if (auto status = closeStore(); !status) return status.error();
  if (auto status = saves_.createZip(); !status) return status.error();
  return saves_.backUpArchivePath();
}

bool BackupRestore::checkArchiveVers() { return saves_.checkArchiveVers(); }

Status BackupRestore::restoreBackUp() {
  localSaves::StoreCheck check = hooks_.checkStore;
  if (!check) {
    const fs::path scratch = saves_.backUpDir() / kStoreCheckFolderName;
    check = [scratch](const fs::path& storeFile) { return openStoreCopy(storeFile, scratch); };
  }
  const auto result = [&]() -> Status {
    auto staged = saves_.stageBackUp(check);
    if (!staged) return staged.error();
    if (auto status = closeStore(); !status) return status;
    return saves_.installStagedBackUp(*staged);
  }();
  (void)saves_.removeBackUpFiles();
  return logFailure(result, "The backup was not restored");
}

Status BackupRestore::finish() { return saves_.removeBackUpFiles(); }

}  // namespace app
