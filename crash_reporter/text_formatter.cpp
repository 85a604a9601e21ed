#include "crash_reporter/text_formatter.h"

#include <cxxabi.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace crash {
namespace {

namespace text = foundation::text;

constexpr std::uint64_t kCpuArm = 12, kCpuArm64 = 0x100000c, kCpuX86 = 7, kCpuX86_64 = 0x1000007,
                        kCpuPPC = 18;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  va_list args, copy;
  va_start(args, pattern);
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string out(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::vsnprintf(out.data(), out.size() + 1, pattern, args);
  va_end(args);
  return out;
}

std::string orUnknown(const std::optional<std::string>& value) { return value ? *value : "???"; }

std::string lastComponent(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string operatingSystemName(std::int32_t os) {
  switch (os) {
    case TallyCrashReportOperatingSystemMacOSX:
    case TallyCrashReportOperatingSystemiPhoneSimulator:
      return "Mac OS X";
    case TallyCrashReportOperatingSystemiPhoneOS:
      return "iPhone OS";
    default:
      return format("Unknown (%d)", os);
  }
}

struct CodeType {
  std::string name;
  bool lp64;
};

CodeType codeType(const TallyCrashReport& report) {
  for (const auto& image : report.images()) {
    if (!image.codeType || image.codeType->typeEncoding != TallyCrashReportProcessorTypeEncodingMach)
      continue;
    switch (image.codeType->type) {
      case kCpuArm64:
        return {"ARM-64", true};
      case kCpuX86_64:
        return {"X86-64", true};
      case kCpuX86:
        return {"X86", false};
      case kCpuArm:
        return {"ARM", false};
      case kCpuPPC:
        return {"PPC", false};
      default:
        break;
    }
  }
  switch (report.systemInfo().architecture) {
    case TallyCrashReportArchitectureX86_32:
      return {"X86", false};
    case TallyCrashReportArchitectureX86_64:
      return {"X86-64", true};
    case TallyCrashReportArchitectureARMv6:
    case TallyCrashReportArchitectureARMv7:
      return {"ARM", false};
    case TallyCrashReportArchitecturePPC:
      return {"PPC", false};
    default:
      return {format("Unknown (%d)", report.systemInfo().architecture), true};
  }
}

std::string architectureName(const std::optional<TallyCrashReportProcessorInfo>& cpu) {
  if (!cpu) return "???";
  switch (cpu->type) {
    case kCpuArm64:
      return cpu->subtype == 0 ? "arm64" : cpu->subtype == 13 ? "armv8" : "arm64-unknown";
    case kCpuX86_64:
      return "x86_64";
    case kCpuX86:
      return "i386";
    case kCpuArm:
      return cpu->subtype == 6    ? "armv6"
             : cpu->subtype == 9  ? "armv7"
             : cpu->subtype == 11 ? "armv7s"
                                  : "arm-unknown";
    case kCpuPPC:
      return "powerpc";
    default:
      return "???";
  }
}

// C++ names read as written in the source; any other name stays whole. That is the rule of the systems
// whose reports this build writes (the phone's, the desktop's, the simulator's); for another system's
// report nobody knows how its names are prefixed, so they stay as written, and the log says so.
std::string symbolName(const std::string& name, std::int32_t operatingSystem) {
  if (operatingSystem != TallyCrashReportOperatingSystemMacOSX &&
      operatingSystem != TallyCrashReportOperatingSystemiPhoneOS &&
      operatingSystem != TallyCrashReportOperatingSystemiPhoneSimulator) {
    foundation::log("Symbol prefix rules are unknown for this OS!");
    return name;
  }
  if (name.size() < 2 || name[0] != '_' || name[1] != 'Z') return name;
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : name;
}

std::string dateText(const foundation::Date& date) {
  const auto seconds = static_cast<std::time_t>(date.unix());
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
  return text;
}

// An address or offset as the foundation's formatting takes numbers (signed 64-bit); "%llx" shows the
// bits unsigned again.
long long number(std::uint64_t value) { return static_cast<long long>(value); }

// One line of a stack. The image name's column is 35 characters wide, counted as the platform counts
// them (UTF-16 units, through the foundation's formatting), so a name such as "Bébé" keeps the address
// column where an ASCII name puts it.
std::string formatStackFrame(const TallyCrashReportStackFrameInfo& frame, std::size_t index,
                             const TallyCrashReport& report, bool lp64) {
  const auto* image = report.imageForAddress(frame.instructionPointer);
  const std::string imageName = image ? lastComponent(image->imageName) : "???";
  const std::uint64_t pc = frame.instructionPointer;
  std::string where;
  if (frame.symbolInfo) {
    where = text::format("%@ + %lld",
                         {symbolName(frame.symbolInfo->symbolName, report.systemInfo().operatingSystem),
                          number(pc - frame.symbolInfo->startAddress)});
  } else {
    const std::uint64_t base = image ? image->imageBaseAddress : 0;
    where = text::format("0x%llx + %lld", {number(base), number(pc - base)});
  }
  return text::format("%-4ld%-35S 0x%0*llx %@\n",
                      {number(index), imageName, lp64 ? 16 : 8, number(pc), where});
}

}  // namespace

std::string TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
    const TallyCrashReport& report, TallyCrashReportTextFormat) {
  std::string out;
  const CodeType code = codeType(report);
  const auto& process = report.processInfo();
  const auto& system = report.systemInfo();

  // Header.
  out += "Incident Identifier: " + (report.uuidRef() ? foundation::Uuid(*report.uuidRef()).string() : "???") +
         "\n";
  out += "CrashReporter Key:   TODO\n";
  out +=
      "Hardware Model:      " + (report.machineInfo() ? orUnknown(report.machineInfo()->modelName) : "???") +
      "\n";
  out += "Process:         " + (process ? orUnknown(process->processName) : "???") + " [" +
         (process ? std::to_string(process->processID) : "???") + "]\n";
  out += "Path:            " + (process ? orUnknown(process->processPath) : "???") + "\n";
  out += "Identifier:      " + report.applicationInfo().applicationIdentifier + "\n";
  out += "Version:         " + report.applicationInfo().applicationVersion + "\n";
  out += "Code Type:       " + code.name + "\n";
  out += "Parent Process:  " + (process ? orUnknown(process->parentProcessName) : "???") + " [" +
         (process ? std::to_string(process->parentProcessID) : "???") + "]\n\n";
  out += "Date/Time:       " + (system.timestamp ? dateText(*system.timestamp) : "(null)") + "\n";
  // A report without a build shows it as the platform shows a missing object.
  out += "OS Version:      " + operatingSystemName(system.operatingSystem) + " " +
         system.operatingSystemVersion + " (" + system.operatingSystemBuild.value_or("(null)") + ")\n";
  out += "Report Version:  104\n\n";

  // The exception.
  out += "Exception Type:  " + report.signalInfo().name + "\n";
  out += format("Exception Codes: %s at 0x%" PRIx64 "\n", report.signalInfo().code.c_str(),
                report.signalInfo().address);
  const TallyCrashReportThreadInfo* crashed = nullptr;
  for (const auto& thread : report.threads())
    if (thread.crashed) {
      crashed = &thread;
      break;
    }
  if (crashed) out += format("Crashed Thread:  %" PRId64 "\n", crashed->threadNumber);
  out += "\n";

  if (const auto& exception = report.exceptionInfo()) {
    out += "Application Specific Information:\n";
    out += "*** Terminating app due to uncaught exception '" + exception->exceptionName + "', reason: '" +
           exception->exceptionReason + "'\n\n";
    if (!exception->stackFrames.empty()) {
      out += "Last Exception Backtrace:\n";
      for (std::size_t i = 0; i < exception->stackFrames.size(); ++i)
        out += formatStackFrame(exception->stackFrames[i], i, report, code.lp64);
      out += "\n";
    }
  }

  // Threads.
  for (const auto& thread : report.threads()) {
    out += format(thread.crashed ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n",
                  thread.threadNumber);
    for (std::size_t i = 0; i < thread.stackFrames.size(); ++i)
      out += formatStackFrame(thread.stackFrames[i], i, report, code.lp64);
    out += "\n";
  }

  // The crashed thread's registers, four to a line.
  if (crashed) {
    out += format("Thread %" PRId64 " crashed with %s Thread State:\n", crashed->threadNumber,
                  code.name.c_str());
    const bool arm = report.machineInfo() && (report.machineInfo()->processorInfo.type & 0xffffff) == kCpuArm;
    std::size_t column = 0;
    for (const auto& reg : crashed->registers) {
      const std::string name = arm && reg.registerName == "r12" ? "ip" : reg.registerName;
      out += code.lp64 ? format("%6s: 0x%016" PRIx64 " ", name.c_str(), reg.registerValue)
                       : format("%6s: 0x%08" PRIx64 " ", name.c_str(), reg.registerValue);
      if (++column == 4) {
        out += "\n";
        column = 0;
      }
    }
    if (column != 0) out += "\n";
    out += "\n";
  }

  // Images by address.
  out += "Binary Images:\n";
  std::vector<const TallyCrashReportBinaryImageInfo*> images;
  for (const auto& image : report.images()) images.push_back(&image);
  std::stable_sort(images.begin(), images.end(),
                   [](auto* a, auto* b) { return a->imageBaseAddress < b->imageBaseAddress; });
  const std::string processPath = process ? process->processPath.value_or("") : "";
  for (const auto* image : images) {
    const std::uint64_t end =
        image->imageSize == 0 ? image->imageBaseAddress : image->imageBaseAddress + image->imageSize - 1;
    out += text::format(
        code.lp64 ? "%18#llx - %18#llx %@%@ %@  <%@> %@\n" : "%10#llx - %10#llx %@%@ %@  <%@> %@\n",
        {number(image->imageBaseAddress), number(end), image->imageName == processPath ? "+" : " ",
         lastComponent(image->imageName), architectureName(image->codeType),
         image->hasImageUUID ? image->imageUUID : "???", image->imageName});
  }
  return out;
}

}  // namespace crash

namespace crash {
namespace {

// The ICU converter of each encoding, and whether the platform writes a byte-order mark first.
struct EncodingName {
  std::uint64_t encoding;
  const char* converter;
  bool byteOrderMark;
};

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* kUtf16Native = "UTF-16LE";
constexpr const char* kUtf32Native = "UTF-32LE";
#else
constexpr const char* kUtf16Native = "UTF-16BE";
constexpr const char* kUtf32Native = "UTF-32BE";
#endif

constexpr EncodingName kEncodings[] = {
    {TallyCrashStringEncodingASCII, "US-ASCII", false},
    {TallyCrashStringEncodingUTF8, "UTF-8", false},
    {TallyCrashStringEncodingISOLatin1, "ISO-8859-1", false},
    {TallyCrashStringEncodingISOLatin2, "ISO-8859-2", false},
    {TallyCrashStringEncodingUnicode, kUtf16Native, true},
    {TallyCrashStringEncodingWindowsCP1251, "windows-1251", false},
    {TallyCrashStringEncodingWindowsCP1252, "windows-1252", false},
    {TallyCrashStringEncodingWindowsCP1250, "windows-1250", false},
    {TallyCrashStringEncodingMacOSRoman, "macos-0_2-10.2", false},
    {TallyCrashStringEncodingUTF16BigEndian, "UTF-16BE", false},
    {TallyCrashStringEncodingUTF16LittleEndian, "UTF-16LE", false},
    {TallyCrashStringEncodingUTF32, kUtf32Native, true},
};

foundation::Error unsupported(std::uint64_t encoding) {
  return foundation::Error::make(std::string(foundation::text::kErrorDomain),
                                 foundation::text::kInapplicableStringEncodingError,
                                 "The text cannot be written in string encoding " + std::to_string(encoding));
}

}  // namespace

foundation::Result<foundation::Bytes> TallyCrashReportTextFormatter::encode(std::string_view text,
                                                                           std::uint64_t encoding) {
  const EncodingName* name = nullptr;
  for (const EncodingName& candidate : kEncodings)
    if (candidate.encoding == encoding) name = &candidate;
  if (!name) return unsupported(encoding);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open(name->converter, &status), ucnv_close);
  if (U_FAILURE(status)) return unsupported(encoding);
  // Lossy: a character the encoding lacks becomes "?", as the platform's lossy conversion writes it.
  ucnv_setSubstChars(converter.get(), "?", 1, &status);
  status = U_ZERO_ERROR;
  // Bytes that are not UTF-8 (a name copied from a damaged image) are read as U+FFFD first.
  const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  foundation::Bytes out;
  if (name->byteOrderMark) {
    const UChar mark = 0xfeff;
    char bytes[8];
    const int32_t length = ucnv_fromUChars(converter.get(), bytes, sizeof bytes, &mark, 1, &status);
    if (U_FAILURE(status)) return unsupported(encoding);
    out.insert(out.end(), bytes, bytes + length);
    ucnv_reset(converter.get());
    status = U_ZERO_ERROR;
  }
  const int32_t needed =
      ucnv_fromUChars(converter.get(), nullptr, 0, unicode.getBuffer(), unicode.length(), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return unsupported(encoding);
  status = U_ZERO_ERROR;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(needed) + 4);
  const int32_t written = ucnv_fromUChars(converter.get(), reinterpret_cast<char*>(out.data() + start), needed + 4,
                                          unicode.getBuffer(), unicode.length(), &status);
  if (U_FAILURE(status)) return unsupported(encoding);
  out.resize(start + static_cast<std::size_t>(written));
  return out;
}

foundation::Result<foundation::Bytes> TallyCrashReportTextFormatter::formatReportError(
    const TallyCrashReport& report) const {
  return encode(stringValueForCrashReportWithTextFormat(report, textFormat_), stringEncoding_);
}

}  // namespace crash
