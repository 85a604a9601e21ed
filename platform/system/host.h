#pragma once
// Facts about the host: the kernel's names (uname), processor counts, and the phone platform's
// sysctl names answered from their Linux sources. A fact that cannot be read is empty, never fatal.
// Apart from the two CPU numbers, none of these functions is safe to call from a signal handler
// (they allocate and read files); gather what a crash handler needs before a crash.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sys {

struct KernelNames {
  std::string sysname;   // "Linux"
  std::string nodename;  // the host name
  std::string release;   // "6.8.0-45-generic"
  std::string version;   // "#47-Ubuntu SMP PREEMPT_DYNAMIC ..."
  std::string machine;   // "x86_64"
};

// Not safe in a signal handler.
std::optional<KernelNames> kernelNames();

// Processors the system was configured with, online or not. Not safe in a signal handler.
std::optional<std::int32_t> logicalProcessorCount();
// Distinct cores (package and core id pairs) the kernel describes. Not safe in a signal handler.
std::optional<std::int32_t> physicalProcessorCount();

// The platform's CPU type and subtype numbers for the architecture this program was built for
// (0x1000007 and 3 for x86_64, 0x100000c and 0 for arm64); empty elsewhere. Safe in a signal handler
// (constants).
std::optional<std::int32_t> platformCpuType();
std::optional<std::int32_t> platformCpuSubtype();

// The phone platform's sysctl values by name, from their Linux sources:
//   "kern.osrelease" (uname release), "kern.osversion" (uname version), "hw.machine" (uname machine);
//   "hw.cputype", "hw.cpusubtype", "hw.logicalcpu_max", "hw.physicalcpu_max".
// An unknown name, or a value the host does not give, is empty with errno ENOENT (a failing uname
// keeps its own error number). Not safe in a signal handler.
std::optional<std::string> sysctlString(std::string_view name);
std::optional<std::int32_t> sysctlInt(std::string_view name);

}  // namespace sys
