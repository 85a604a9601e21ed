#pragma once
// Facts about the host for crash reports: the kernel release as a version triple, and the platform's
// sysctl values by name. Facts that cannot be read are empty, never fatal. Nothing in this header is
// safe to call from a signal handler: read these facts before a crash and keep them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace crash {

// Returns a malloc'd copy of the sysctl string value `name` ("kern.osrelease", "kern.osversion",
// "hw.machine"), to be released with free(), or null with errno set (ENOENT for a name the host does
// not answer). Not safe in a signal handler.
char* crash_sysctl_string(const char* name);

// Stores the 32-bit sysctl value `name` ("hw.cputype", "hw.cpusubtype", "hw.logicalcpu_max",
// "hw.physicalcpu_max") in `*result` and returns true, or returns false with errno set and leaves
// `*result` alone. Not safe in a signal handler.
bool crash_sysctl_int(const char* name, std::int32_t* result);

// A kernel release as three numbers: "6.8.12" is {6, 8, 12}.
struct CrashHostInfoVersion {
  std::intptr_t major = 0;
  std::intptr_t minor = 0;
  std::intptr_t revision = 0;

  friend bool operator==(const CrashHostInfoVersion&, const CrashHostInfoVersion&) = default;
};

class TallyCrashHostInfo {
 public:
  // The running kernel's facts, or empty (with a log line) when its release cannot be read.
  // Not safe in a signal handler.
  static std::optional<TallyCrashHostInfo> currentHostInfo();

  // Reads `osRelease` as a number, ".", a number, ".", a number; text after the third number (such
  // as "-45-generic") is ignored. When the text does not start that way the numbers read so far are
  // kept, the rest stay 0, and "Unexpected kern.osrelease string format: <text>" is logged.
  explicit TallyCrashHostInfo(std::string_view osRelease);

  // The running kernel's release numbers. Only reads a field.
  CrashHostInfoVersion darwinVersion() const { return darwinVersion_; }

 private:
  CrashHostInfoVersion darwinVersion_;
};

}  // namespace crash
