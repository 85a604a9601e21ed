#pragma once
// The crash reporter's public object. The analytics SDK makes one when crash reporting is on,
// enables it once per process, and at the next launch asks it whether a report of an earlier crash
// waits, loads that report's bytes and deletes the file; it also asks it for live reports of the
// calling thread when the application records an error.
//
// Enabling prepares everything the crash path needs (the report folder, the process-wide writer, the
// image list, thread parking), installs the signal callbacks (signal_handler.h) and a terminate
// handler that records an uncaught C++ exception (its demangled type as the name, what() as the
// reason, the call stack at terminate) and aborts, so the SIGABRT callback writes a report with an
// Exception section. After a crash only async-signal-safe code runs, over state prepared here.
//
// Files: <caches>/com.quennivore.crashreporter.data/<identifier with "/" as "_">/live_report.crashlg,
// with an empty "queued_reports" folder beside it. Folders are 0700 and reports 0600: a report holds
// memory addresses and paths of the user's process. A report is written under a temporary name and
// linked into place when complete; a crash of a later run replaces a report an earlier one left waiting.
// The first crash of the process writes the report; threads that crash meanwhile wait (parked like
// the others) until it is whole, and touch no file.
//
// Every method runs on the caller's thread and none is safe in a signal handler.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "crash_reporter/async_util.h"
#include "crash_reporter/signal_handler.h"
#include "platform/files/app_home.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace runtime {
class Bundle;
}

namespace crash {

class TallyCrashReporterConfig {
 public:
  // Signal handler types.
  static constexpr std::uint64_t kSignalHandlerTypeBSD = 0;
  static constexpr std::uint64_t kSignalHandlerTypeMach = 1;

  TallyCrashReporterConfig() : TallyCrashReporterConfig(kSignalHandlerTypeBSD, 0) {}
  TallyCrashReporterConfig(std::uint64_t signalHandlerType, std::uint64_t symbolicationStrategy)
      : signalHandlerType_(signalHandlerType), symbolicationStrategy_(symbolicationStrategy) {}
  static TallyCrashReporterConfig defaultConfiguration() { return {}; }

  // 0 BSD signal handlers, 1 the exception server; any other value installs no crash handler (the
  // terminate handler only).
  std::uint64_t signalHandlerType() const { return signalHandlerType_; }
  // Bit 1 symbol-table symbolication, bit 2 Objective-C metadata; other bits are ignored.
  std::uint64_t symbolicationStrategy() const { return symbolicationStrategy_; }

 private:
  std::uint64_t signalHandlerType_;
  std::uint64_t symbolicationStrategy_;
};

// Called after a crash report was written, inside the signal handler: must be async-signal-safe.
struct crash_crash_callbacks {
  std::uint16_t version;  // 0
  void* context;
  void (*crash_callback)(const crash_signal_info* info, ucontext_t* uap, void* context);
};

class TallyCrashReporter {
 public:
  // Identifier and version from `bundle` ("CFBundleIdentifier", "CFBundleVersion"; nullptr: a
  // process without a bundle); without an identifier the program's name, without a version "" (each
  // logged). Reports live under `home`. Fails ("CrashReporterException") when there is neither an
  // identifier nor a program name: every such process would share one report folder and take
  // another's reports.
  static foundation::Result<std::shared_ptr<TallyCrashReporter>> initWithBundle(
      const runtime::Bundle* bundle, TallyCrashReporterConfig config, const files::AppHome& home);
  TallyCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                     TallyCrashReporterConfig config, const files::AppHome& home);
  // One process-wide reporter with the default configuration, the main bundle and the home named by
  // the environment, made on first use; the failure of initWithBundle, when it failed.
  static foundation::Result<TallyCrashReporter*> sharedReporter();

  // Enables crash reporting for the process: once per process, whichever instance asks. A second
  // call fails with code 3; the flag stays set even when a later step of the first call failed.
  foundation::Status enableCrashReporterAndReturnError();

  bool hasPendingCrashReport() const;
  foundation::Result<foundation::Bytes> loadPendingCrashReportDataAndReturnError() const;
  foundation::Status purgePendingCrashReportAndReturnError() const;

  // A complete report file of the calling thread, written without a crash ("SIGTRAP",
  // "TRAP_TRACE", user-requested). A report that would pass the size cap comes back cut short (marked
  // truncated), with the calling thread kept whole. Fails with code 0 when the report could not be
  // written, code 1 "Failed to create temporary path" (the error number underlying) when its temporary
  // file cannot be made, also when the home's temporary folder cannot be.
  // The calling thread's stack starts at the code that called this: none of the reporter's own frames.
  [[gnu::noinline]] foundation::Result<foundation::Bytes> generateLiveReportAndReturnError() const;
  // The same for another thread of the process (by its kernel id); the calling thread is then not in
  // the report.
  [[gnu::noinline]] foundation::Result<foundation::Bytes> generateLiveReportWithThreadError(
      crash_thread_t thread) const;

  // The system version reports carry (the device's, "9.3"); without one, the kernel's release. Set
  // before enabling: a report already prepared keeps the version it had.
  void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }

  // Stores the callbacks process-wide. Fails (nothing stored) once this instance is enabled
  // ("CrashReporterException") or for a version other than 0.
  foundation::Status setCrashCallbacks(const crash_crash_callbacks& callbacks);

  const std::filesystem::path& crashReportDirectory() const { return crashReportDirectory_; }
  std::filesystem::path queuedCrashReportDirectory() const {
    return crashReportDirectory_ / "queued_reports";
  }
  std::filesystem::path crashReportPath() const { return crashReportDirectory_ / "live_report.crashlg"; }
  bool isEnabled() const { return enabled_; }

  // 0 stays 0; otherwise only bits 1 and 2 are kept.
  static std::uint32_t mapToAsyncSymbolicationStrategy(std::uint64_t strategy);

 private:
  foundation::Status populateCrashReportDirectoryAndReturnError() const;
  // A live report of `thread`; the calling thread's walk starts above `callerFrame`, the frame of the
  // public method, and `returnAddress` is that method's.
  foundation::Result<foundation::Bytes> liveReport(crash_thread_t thread, std::uintptr_t callerFrame,
                                                   std::uintptr_t returnAddress) const;

  TallyCrashReporterConfig config_;
  bool enabled_ = false;
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::string systemVersion_;  // the device's, as reports name it; "" for the kernel's release
  std::filesystem::path crashReportDirectory_;
  std::filesystem::path temporaryDirectory_;
};

}  // namespace crash
