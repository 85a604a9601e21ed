#pragma once
// What the kernel records about a process: its name, parent, whether a debugger traces it, and
// when it started; and the path of the running executable. Read from /proc. A process that cannot
// be read gives empty, never an error that ends the program. Nothing here is safe to call from a
// signal handler (it allocates and reads files); gather what a crash handler needs beforehand.

#include <sys/time.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace sys {

struct ProcessRecord {
  pid_t pid = 0;
  pid_t parentPid = 0;
  std::string name;     // the kernel's command name (at most 15 bytes)
  bool traced = false;  // a debugger or other tracer is attached
  timeval startTime{};  // wall-clock time the process started, to the kernel's clock tick
};

// Not safe in a signal handler.
std::optional<ProcessRecord> processRecord(pid_t pid);

// Reads the fields of a /proc/<pid>/stat line (its command name may hold spaces and parentheses)
// with the tracer pid from /proc/<pid>/status, the boot time in seconds and the clock ticks per
// second; exposed for tests. Not safe in a signal handler.
std::optional<ProcessRecord> parseProcessRecord(std::string_view statLine, pid_t tracerPid,
                                                long long bootTimeSeconds, long ticksPerSecond);

// The absolute path of the program this process runs. Not safe in a signal handler.
std::optional<std::string> executablePath();

}  // namespace sys
