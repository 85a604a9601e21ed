#pragma once
// Facts the kernel records about a process, for crash reports: id, name, parent, whether a debugger
// traces it, and its start time. Nothing in this header is safe to call from a signal handler: read
// these facts before a crash and keep them.

#include <sys/time.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace crash {

class TallyCrashProcessInfo {
 public:
  // This process's facts, or empty when the kernel's record of it cannot be read.
  // Not safe in a signal handler.
  static std::optional<TallyCrashProcessInfo> currentProcessInfo();
  // The facts of process `pid`, or empty when there is no such process or its record cannot be
  // read. Not safe in a signal handler.
  static std::optional<TallyCrashProcessInfo> withProcessID(pid_t pid);

  // The accessors only read fields.
  pid_t processID() const { return processID_; }
  // The kernel's command name, as UTF-8 (at most 15 bytes on Linux).
  const std::string& processName() const { return processName_; }
  pid_t parentProcessID() const { return parentProcessID_; }
  bool isTraced() const { return traced_; }
  // Wall-clock start time, seconds and microseconds since 1970.
  timeval startTime() const { return startTime_; }

 private:
  TallyCrashProcessInfo() = default;

  pid_t processID_ = 0;
  std::string processName_;
  pid_t parentProcessID_ = 0;
  bool traced_ = false;
  timeval startTime_{};
};

}  // namespace crash
