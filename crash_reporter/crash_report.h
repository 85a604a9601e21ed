#pragma once
// A crash report file read back into plain values: the reading side of log_writer.h.
//
// Trust: the bytes come from a file a crashing process wrote, possibly cut short or damaged, or from
// anywhere else. They are checked header first ("crashlg", version 1), unpacked by protobuf-c (which
// bounds every length by the input) and then every piece the format requires is checked before it is
// used; whatever is wrong gives one error of code 2 in "CrashReporterErrorDomain" naming the first
// missing or bad piece, never a crash. Nothing of the unpacked message outlives the parse: the model
// holds its own copies.
//
// Not safe in a signal handler.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/uuid.h"

namespace crash {

// Operating systems and architectures as the report numbers them.
enum TallyCrashReportOperatingSystem : std::int32_t {
  TallyCrashReportOperatingSystemMacOSX = 0,
  TallyCrashReportOperatingSystemiPhoneOS = 1,
  TallyCrashReportOperatingSystemiPhoneSimulator = 2,
  TallyCrashReportOperatingSystemUnknown = 3,
};
enum TallyCrashReportArchitecture : std::int32_t {
  TallyCrashReportArchitectureX86_32 = 0,
  TallyCrashReportArchitectureX86_64 = 1,
  TallyCrashReportArchitectureARMv6 = 2,
  TallyCrashReportArchitecturePPC = 3,
  TallyCrashReportArchitecturePPC64 = 4,
  TallyCrashReportArchitectureARMv7 = 5,
  TallyCrashReportArchitectureUnknown = 6,
};
enum TallyCrashReportProcessorTypeEncoding : std::int32_t {
  TallyCrashReportProcessorTypeEncodingUnknown = 0,
  TallyCrashReportProcessorTypeEncodingMach = 1,
};

struct TallyCrashReportSystemInfo {
  std::int32_t operatingSystem = TallyCrashReportOperatingSystemUnknown;
  std::string operatingSystemVersion;
  std::optional<std::string> operatingSystemBuild;
  std::int32_t architecture = TallyCrashReportArchitectureUnknown;
  std::optional<foundation::Date> timestamp;  // none for a time of 0
};

struct TallyCrashReportProcessorInfo {
  std::int32_t typeEncoding = TallyCrashReportProcessorTypeEncodingUnknown;
  std::uint64_t type = 0;
  std::uint64_t subtype = 0;
};

struct TallyCrashReportMachineInfo {
  std::optional<std::string> modelName;
  TallyCrashReportProcessorInfo processorInfo;
  std::uint32_t processorCount = 0;
  std::uint32_t logicalProcessorCount = 0;
};

struct TallyCrashReportApplicationInfo {
  std::string applicationIdentifier;
  std::string applicationVersion;
};

struct TallyCrashReportProcessInfo {
  std::optional<std::string> processName;
  std::uint32_t processID = 0;
  std::optional<std::string> processPath;
  std::optional<foundation::Date> processStartTime;
  std::optional<std::string> parentProcessName;
  std::uint32_t parentProcessID = 0;
  bool native = false;
};

struct TallyCrashReportSignalInfo {
  std::string name;
  std::string code;
  std::uint64_t address = 0;
};

struct TallyCrashReportMachExceptionInfo {
  std::uint64_t type = 0;
  std::vector<std::uint64_t> codes;
};

struct TallyCrashReportSymbolInfo {
  std::string symbolName;  // as written: mangled C++ names stay mangled
  std::uint64_t startAddress = 0;
  std::uint64_t endAddress = 0;  // 0 when the report gives none
};

struct TallyCrashReportStackFrameInfo {
  std::uint64_t instructionPointer = 0;
  std::optional<TallyCrashReportSymbolInfo> symbolInfo;
};

struct TallyCrashReportRegisterInfo {
  std::string registerName;
  std::uint64_t registerValue = 0;
};

struct TallyCrashReportThreadInfo {
  std::int64_t threadNumber = 0;
  std::vector<TallyCrashReportStackFrameInfo> stackFrames;
  bool crashed = false;
  std::vector<TallyCrashReportRegisterInfo> registers;
};

struct TallyCrashReportBinaryImageInfo {
  std::optional<TallyCrashReportProcessorInfo> codeType;
  std::uint64_t imageBaseAddress = 0;
  std::uint64_t imageSize = 0;
  std::string imageName;
  bool hasImageUUID = false;
  std::string imageUUID;  // lower-case hexadecimal, two digits a byte, when hasImageUUID
};

struct TallyCrashReportExceptionInfo {
  std::string exceptionName;
  std::string exceptionReason;
  std::vector<TallyCrashReportStackFrameInfo> stackFrames;
};

class TallyCrashReport {
 public:
  // Reads the bytes of a report file. The error (code 2) names the first piece that is missing or bad.
  static foundation::Result<TallyCrashReport> initWithDataError(std::string_view data);

  const TallyCrashReportSystemInfo& systemInfo() const { return systemInfo_; }
  bool hasMachineInfo() const { return machineInfo_.has_value(); }
  const std::optional<TallyCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
  const TallyCrashReportApplicationInfo& applicationInfo() const { return applicationInfo_; }
  bool hasProcessInfo() const { return processInfo_.has_value(); }
  const std::optional<TallyCrashReportProcessInfo>& processInfo() const { return processInfo_; }
  const TallyCrashReportSignalInfo& signalInfo() const { return signalInfo_; }
  const std::optional<TallyCrashReportMachExceptionInfo>& machExceptionInfo() const {
    return machExceptionInfo_;
  }
  const std::vector<TallyCrashReportThreadInfo>& threads() const { return threads_; }
  const std::vector<TallyCrashReportBinaryImageInfo>& images() const { return images_; }
  bool hasExceptionInfo() const { return exceptionInfo_.has_value(); }
  const std::optional<TallyCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
  // The report's 16-byte identifier, when it has one.
  const std::optional<foundation::Uuid::Bytes>& uuidRef() const { return uuid_; }
  bool userRequested() const { return userRequested_; }
  // The writer left sections out to keep the file under its size cap.
  bool truncated() const { return truncated_; }

  // The first image with base <= address < base + size, or null.
  const TallyCrashReportBinaryImageInfo* imageForAddress(std::uint64_t address) const;

 private:
  TallyCrashReport() = default;
  friend struct CrashReportDecoder;

  TallyCrashReportSystemInfo systemInfo_;
  std::optional<TallyCrashReportMachineInfo> machineInfo_;
  TallyCrashReportApplicationInfo applicationInfo_;
  std::optional<TallyCrashReportProcessInfo> processInfo_;
  TallyCrashReportSignalInfo signalInfo_;
  std::optional<TallyCrashReportMachExceptionInfo> machExceptionInfo_;
  std::vector<TallyCrashReportThreadInfo> threads_;
  std::vector<TallyCrashReportBinaryImageInfo> images_;
  std::optional<TallyCrashReportExceptionInfo> exceptionInfo_;
  std::optional<foundation::Uuid::Bytes> uuid_;
  bool userRequested_ = false;
  bool truncated_ = false;
};

}  // namespace crash
