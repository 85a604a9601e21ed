#pragma once
// The crash reporter's error objects: domain "CrashReporterErrorDomain" with its four codes.
// None of these functions is safe to call from a signal handler: building an error allocates.

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace crash {

inline constexpr std::string_view kCrashReporterErrorDomain = "CrashReporterErrorDomain";
// A reporter used against its rules (no identity to report under, callbacks set after enabling):
// the error's domain is the failure's name, code 0, so a caller tells it from a failed write.
inline constexpr std::string_view kCrashReporterException = "CrashReporterException";
// Domain of the error numbers of the operating system, as underlying errors.
inline constexpr std::string_view kPOSIXErrorDomain = "NSPOSIXErrorDomain";
// Domain of the kernel's results of exception-port and thread calls, as underlying errors.
inline constexpr std::string_view kMachErrorDomain = "NSMachErrorDomain";

enum CrashReporterError : int {
  kCrashReporterErrorUnknown = 0,             // writing or reading back a report failed
  kCrashReporterErrorOperatingSystem = 1,     // a system call failed; the error number is underlying
  kCrashReporterErrorCrashReportInvalid = 2,  // a report file could not be decoded
  kCrashReporterErrorResourceBusy = 3,        // the reporter was already enabled in this process
};

// Stores in `*outError` (when it is not null) an error of the crash reporter's domain with `code`,
// `description` as its localised description and `underlying`, when given, as its underlying error.
// Not safe in a signal handler.
void crash_populate_error(foundation::Error* outError, int code, std::string description,
                          std::shared_ptr<const foundation::Error> underlying = nullptr);

// The same with code kCrashReporterErrorOperatingSystem and the error number `errnum` as an
// underlying error of the POSIX domain. Not safe in a signal handler.
void crash_populate_posix_error(foundation::Error* outError, int errnum, std::string description);

// The same with code kCrashReporterErrorOperatingSystem and the kernel result `kernelResult` as an
// underlying error of the Mach domain. Not safe in a signal handler.
void crash_populate_mach_error(foundation::Error* outError, int kernelResult, std::string description);

// The errors the two functions above store, as values. Not safe in a signal handler.
foundation::Error crash_make_error(int code, std::string description,
                                   std::shared_ptr<const foundation::Error> underlying = nullptr);
foundation::Error crash_make_posix_error(int errnum, std::string description);
foundation::Error crash_make_mach_error(int kernelResult, std::string description);

}  // namespace crash
