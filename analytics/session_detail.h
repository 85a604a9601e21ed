#pragma once
// What the session's source files share: the class lock, the SDK files the sessions are archived to,
// and the archived classes. Internal to the session layer.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>

#include "analytics/global_variable_storage.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace analytics::session_detail {

// Guards the class-wide state of the sessions (the limit of saved sessions).
std::mutex& classMutex();
// The limit of saved sessions (50 unless set); read and written under classMutex().
std::int32_t& maxSessions();
std::shared_ptr<TallyGlobalVariableStorage> settings();
// Now on the SDK's clock.
foundation::Date now();
// "<SDK folder>/.<stem><hash of the API key>_155.archive"; empty without an SDK folder.
std::filesystem::path sdkFile(std::string_view stem);
// Writes the archive atomically and, unless told otherwise (the watch files), keeps it out of backups.
foundation::Status writeArchive(const std::filesystem::path& path,
                                const foundation::Result<foundation::Bytes>& bytes, bool skipBackup = true);
// Registers the archived classes once, whichever session (the facade's or the watch's) comes first.
void registerArchivedClasses();

}  // namespace analytics::session_detail
