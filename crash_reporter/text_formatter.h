#pragma once
// A parsed crash report as a crash log people read, in the platform's classic layout ("Report Version:
// 104"): header, exception, the uncaught exception's backtrace, every thread's stack, the crashed
// thread's registers and the binary images. C++ symbol names are demangled here (never on the crash
// path); they keep their leading underscore until then, which the phone's layout would strip.
// Not safe in a signal handler.

#include <optional>
#include <string>

#include "crash_reporter/crash_report.h"

namespace crash {

enum TallyCrashReportTextFormat : int {
  TallyCrashReportTextFormatiOS = 0,  // the classic layout, the only one defined
};

class TallyCrashReportTextFormatter {
 public:
  TallyCrashReportTextFormatter(TallyCrashReportTextFormat format) : textFormat_(format) {}

  // The text of `report` (output is UTF-8; names that are not valid UTF-8 pass through as bytes).
  std::string formatReport(const TallyCrashReport& report) const {
    return stringValueForCrashReportWithTextFormat(report, textFormat_);
  }

  static std::string stringValueForCrashReportWithTextFormat(const TallyCrashReport& report,
                                                             TallyCrashReportTextFormat format);

 private:
  TallyCrashReportTextFormat textFormat_;
};

}  // namespace crash
