#include "crash_reporter/process_info.h"

#include <unistd.h>

#include <utility>

#include "platform/system/process.h"

namespace crash {

std::optional<TallyCrashProcessInfo> TallyCrashProcessInfo::currentProcessInfo() {
  return withProcessID(getpid());
}

std::optional<TallyCrashProcessInfo> TallyCrashProcessInfo::withProcessID(pid_t pid) {
  auto record = sys::processRecord(pid);
  if (!record) return std::nullopt;
  TallyCrashProcessInfo info;
  info.processID_ = record->pid;
  info.processName_ = std::move(record->name);
  info.parentProcessID_ = record->parentPid;
  info.traced_ = record->traced;
  info.startTime_ = record->startTime;
  return info;
}

}  // namespace crash
