#include "crash_reporter/errors.h"

#include <utility>

namespace crash {

foundation::Error crash_make_error(int code, std::string description,
                                   std::shared_ptr<const foundation::Error> underlying) {
  return foundation::Error::make(std::string(kCrashReporterErrorDomain), code, std::move(description),
                                 std::move(underlying));
}

namespace {

foundation::Error operatingSystemError(std::string_view domain, int code, std::string description) {
  auto underlying = std::make_shared<const foundation::Error>(std::string(domain), code);
  return crash_make_error(kCrashReporterErrorOperatingSystem, std::move(description), std::move(underlying));
}

}  // namespace

foundation::Error crash_make_posix_error(int errnum, std::string description) {
  return operatingSystemError(kPOSIXErrorDomain, errnum, std::move(description));
}

foundation::Error crash_make_mach_error(int kernelResult, std::string description) {
  return operatingSystemError(kMachErrorDomain, kernelResult, std::move(description));
}

void crash_populate_error(foundation::Error* outError, int code, std::string description,
                          std::shared_ptr<const foundation::Error> underlying) {
  if (outError) *outError = crash_make_error(code, std::move(description), std::move(underlying));
}

void crash_populate_posix_error(foundation::Error* outError, int errnum, std::string description) {
  if (outError) *outError = crash_make_posix_error(errnum, std::move(description));
}

void crash_populate_mach_error(foundation::Error* outError, int kernelResult, std::string description) {
  if (outError) *outError = crash_make_mach_error(kernelResult, std::move(description));
}

}  // namespace crash
