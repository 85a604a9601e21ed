#pragma once
// What the tests of the reporter as the product runs it share: the reporter the product's crash sites
// enable (the identity product_child.cc gives its own), the waiting report read back from its folder,
// and a thread's frames by name.

#include <filesystem>
#include <string>
#include <vector>

#include "crash_reporter/crash_report.h"
#include "crash_reporter/reporter.h"

namespace crash::product_reports {

inline TallyCrashReporter reporterAt(const std::filesystem::path& home) {
  return TallyCrashReporter("com.example.diary", "7", TallyCrashReporterConfig(0, 3), files::AppHome(home));
}

// The report waiting in `reader`'s folder, parsed (an error when none waits); purged unless `keep`.
inline foundation::Result<TallyCrashReport> takePendingReport(const TallyCrashReporter& reader, bool keep = false) {
  if (!reader.hasPendingCrashReport()) return foundation::Error{};
  const auto bytes = reader.loadPendingCrashReportDataAndReturnError();
  if (!bytes.ok()) return bytes.error();
  auto report = TallyCrashReport::initWithDataError(std::string(bytes->begin(), bytes->end()));
  if (!keep) (void)reader.purgePendingCrashReportAndReturnError();
  return report;
}

// The symbol names of a thread's frames, "?" for an unnamed one.
inline std::vector<std::string> frameNames(const TallyCrashReportThreadInfo& thread) {
  std::vector<std::string> names;
  for (const auto& frame : thread.stackFrames) names.push_back(frame.symbolInfo ? frame.symbolInfo->symbolName : "?");
  return names;
}

// The first thread marked crashed; null when none is.
inline const TallyCrashReportThreadInfo* crashedThread(const TallyCrashReport& report) {
  for (const auto& thread : report.threads())
    if (thread.crashed) return &thread;
  return nullptr;
}

}  // namespace crash::product_reports
