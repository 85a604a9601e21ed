#pragma once
// A parsed crash report as a crash log people read, in the platform's classic layout ("Report Version:
// 104"): header, exception, the uncaught exception's backtrace, every thread's stack, the crashed
// thread's registers and the binary images. C++ symbol names are demangled here (never on the crash
// path); they keep their leading underscore until then, which the phone's layout would strip.
// Not safe in a signal handler.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crash_reporter/crash_report.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace crash {

enum TallyCrashReportTextFormat : int {
  TallyCrashReportTextFormatiOS = 0,  // the classic layout, the only one defined
};

// The platform's string encodings a formatted report can be written in, by their numbers.
enum TallyCrashStringEncoding : std::uint64_t {
  TallyCrashStringEncodingASCII = 1,
  TallyCrashStringEncodingUTF8 = 4,
  TallyCrashStringEncodingISOLatin1 = 5,
  TallyCrashStringEncodingISOLatin2 = 9,
  TallyCrashStringEncodingUnicode = 10,  // UTF-16 in this machine's byte order, after a byte-order mark
  TallyCrashStringEncodingWindowsCP1251 = 11,
  TallyCrashStringEncodingWindowsCP1252 = 12,
  TallyCrashStringEncodingWindowsCP1250 = 15,
  TallyCrashStringEncodingMacOSRoman = 30,
  TallyCrashStringEncodingUTF16BigEndian = 0x90000100,
  TallyCrashStringEncodingUTF16LittleEndian = 0x94000100,
  TallyCrashStringEncodingUTF32 = 0x8c000100,  // in this machine's byte order, after a byte-order mark
};

class TallyCrashReportTextFormatter {
 public:
  TallyCrashReportTextFormatter(TallyCrashReportTextFormat format, std::uint64_t stringEncoding)
      : textFormat_(format), stringEncoding_(stringEncoding) {}

  // The text of `report` in the formatter's encoding. Characters the encoding cannot hold become "?"
  // (a lossy conversion, never a failure); an encoding not listed above fails with
  // NSCocoaErrorDomain 261 and the encoding's number.
  foundation::Result<foundation::Bytes> formatReportError(const TallyCrashReport& report) const;

  // The text of `report` as UTF-8 (names that are not valid UTF-8 pass through as bytes).
  static std::string stringValueForCrashReportWithTextFormat(const TallyCrashReport& report,
                                                             TallyCrashReportTextFormat format);

  // `text` (UTF-8) in `encoding`, as formatReportError encodes.
  static foundation::Result<foundation::Bytes> encode(std::string_view text, std::uint64_t encoding);

 private:
  TallyCrashReportTextFormat textFormat_;
  std::uint64_t stringEncoding_;
};

}  // namespace crash
