#include "crash_reporter/reporter.h"

#include <cxxabi.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <typeinfo>

#include "crash_reporter/errors.h"
#include "crash_reporter/frame_cursor.h"
#include "crash_reporter/host_info.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/mach_exception_server.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/runtime/bundle.h"
#include "platform/system/threads.h"

namespace crash {
namespace {

// ---- Process-wide state, prepared before any crash and read on the crash path. Plain globals and
// pointers set once: nothing here may be a guarded static, whose first use could take a lock inside
// a signal handler.

// What the crash callbacks are handed: the writer filled at enable time and the report's paths.
struct CrashContext {
  crash_log_writer writer;
  char* report_path;
  char* temp_path;
  crash_mach_exception_port_set previous_ports;  // zeroed when there are none
};

CrashContext gCrashContext;
crash_async_image_list* gImages = nullptr;  // made once, never freed: a crash at exit still reads it
crash_crash_callbacks gCallbacks{};
std::mutex gStateMutex;  // enable and the first preparation only, never on the crash path
bool gEnabledOnce = false;

constexpr int kCrashSignals[] = {CRASH_SIGABRT, CRASH_SIGBUS,  CRASH_SIGFPE,
                                 CRASH_SIGILL,  CRASH_SIGSEGV, CRASH_SIGTRAP};

// The image list and thread parking, which live reports need as much as crashes. Not on the crash path.
crash_async_image_list* processImages() {
  std::lock_guard lock(gStateMutex);
  if (!gImages) {
    auto* images = new crash_async_image_list();
    crash_async_image_list_init(images, crash_async_task_self());
    sys::prepareThreadParking();
    gImages = images;
  }
  crash_async_image_list_sync(gImages);
  return gImages;
}

char* copyPath(const std::filesystem::path& path) {
  const std::string text = path.string();
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// The crash callback for BSD signals. Runs inside the signal handler.
bool signalHandlerCallback(int, crash_signal_info* info, ucontext_t* uap, void* context,
                           crash_signal_handler_callback*) noexcept {
  // A fault inside the writer ends the process: the handler restores the default action and raises
  // again. Nothing resets the other crash signals: a second thread crashing meanwhile must reach
  // crash_write_report_file, which holds it until the first report is whole.
  if (crash_report_writing_on_this_thread()) {
    info->reported = true;
    return false;
  }
  auto* crash = static_cast<CrashContext*>(context);
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &uap->uc_mcontext);
  crash_log_signal_info record{};
  record.bsd.signo = info->signo;
  record.bsd.code = info->code;
  record.bsd.address = info->address;
  const crash_error_t result =
      crash_write_report_file(&crash->writer, crash->report_path, crash->temp_path,
                              crash_async_mach_thread_self(), gImages, &record, &state);
  // A report on disk describes a crash that must end the process, whatever earlier handlers answer.
  if (result != CRASH_EINTERNAL) info->reported = true;
  if (result == CRASH_ESUCCESS && gCallbacks.crash_callback)
    gCallbacks.crash_callback(info, uap, gCallbacks.context);
  return false;
}

// The crash callback of the exception server. Runs on the server thread while the crashed thread
// waits for the reply.
struct MachWrite {
  CrashContext* crash;
  crash_thread_t thread;
  const crash_log_signal_info* record;
};

crash_error_t writeFromServerThread(crash_async_thread_state* state, void* context) {
  auto* write = static_cast<MachWrite*>(context);
  return crash_write_report_file(&write->crash->writer, write->crash->report_path, write->crash->temp_path,
                                 write->thread, gImages, write->record, state);
}

int machExceptionCallback(crash_task_t task, crash_thread_t thread, int exceptionType,
                          const std::int64_t* codes, std::size_t codeCount, void* context) {
  auto* crash = static_cast<CrashContext*>(context);
  if (crash_mach_exception_forward(task, thread, exceptionType, codes, codeCount, &crash->previous_ports) ==
      CRASH_KERN_SUCCESS)
    return CRASH_KERN_SUCCESS;
  crash_mach_siginfo mapped;
  if (!crash_async_mach_exception_get_siginfo(exceptionType, codes, codeCount, &mapped))
    return CRASH_KERN_FAILURE;
  std::uint64_t wideCodes[2] = {};
  for (std::size_t i = 0; i < codeCount && i < 2; ++i) wideCodes[i] = static_cast<std::uint64_t>(codes[i]);
  crash_log_signal_info record{};
  record.bsd = {mapped.signo, mapped.code, mapped.address};
  record.mach = {true, static_cast<std::uint64_t>(exceptionType), wideCodes, codeCount < 2 ? codeCount : 2};
  MachWrite write{crash, thread, &record};
  if (crash_async_thread_state_current(writeFromServerThread, &write) == CRASH_ESUCCESS &&
      gCallbacks.crash_callback) {
    crash_signal_info info{};
    info.signo = mapped.signo;
    info.code = mapped.code;
    info.address = mapped.address;
    ucontext_t zeroed;
    crash_async_memset(&zeroed, 0, sizeof zeroed);
    gCallbacks.crash_callback(&info, &zeroed, gCallbacks.context);
  }
  // The exception goes on to the system's default handling.
  return CRASH_KERN_FAILURE;
}

// The exception server and the registrations it replaced live until the process ends: the crash
// path reads them.
TallyCrashMachExceptionServer* gMachServer = nullptr;
TallyCrashMachExceptionPortSet* gPreviousMachPorts = nullptr;

foundation::Status enableMachExceptionServer(CrashContext* crash) {
  // Bad access, bad instruction, arithmetic, software and breakpoint; with the guard exception on
  // kernels of major version 13 and later.
  std::uint32_t mask = 110;
  if (const auto host = TallyCrashHostInfo::currentHostInfo(); host && host->darwinVersion().major >= 13)
    mask = 4206;
  auto underlying = [](const foundation::Error& error) {
    return std::make_shared<const foundation::Error>(error);
  };
  auto server = TallyCrashMachExceptionServer::initWithCallBackContextError(machExceptionCallback, crash);
  if (!server)
    return crash_make_error(kCrashReporterErrorOperatingSystem,
                            "Failed to instantiate the Mach exception server.", underlying(server.error()));
  auto port = (*server)->exceptionPortWithMaskError(mask);
  if (!port)
    return crash_make_error(kCrashReporterErrorOperatingSystem,
                            "Failed to instantiate the Mach exception port.", underlying(port.error()));
  auto previous = std::make_unique<TallyCrashMachExceptionPortSet>();
  if (auto registered = port->registerForTaskPreviousPortSetError(crash_async_task_self(), previous.get());
      !registered)
    return crash_make_error(kCrashReporterErrorOperatingSystem,
                            "Failed to set the target task's mach exception ports.",
                            underlying(registered.error()));
  // The crash path's copy owns its send rights, and lives as long as the process.
  crash->previous_ports = previous->asyncSafeRepresentation();
  gPreviousMachPorts = previous.release();
  gMachServer = server->release();
  return {};
}

// Stands in for the platform's uncaught-exception handler: records the exception in the
// process-wide writer and aborts, so the SIGABRT callback writes it into the report.
[[noreturn]] void terminateHandler() {
  if (const std::type_info* type = abi::__cxa_current_exception_type()) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
    const std::string name = status == 0 && demangled ? demangled.get() : type->name();
    std::string reason;
    try {
      std::rethrow_exception(std::current_exception());
    } catch (const std::exception& exception) {
      reason = exception.what();
    } catch (...) {
    }
    void* frames[CRASH_LOG_MAX_FRAMES];
    const int count = backtrace(frames, static_cast<int>(CRASH_LOG_MAX_FRAMES));
    std::uint64_t addresses[CRASH_LOG_MAX_FRAMES];
    for (int i = 0; i < count; ++i) addresses[i] = reinterpret_cast<std::uintptr_t>(frames[i]);
    crash_log_writer_set_exception(&gCrashContext.writer, name.c_str(), reason.c_str(), addresses,
                                   static_cast<std::size_t>(count > 0 ? count : 0));
  }
  std::abort();
}

std::string directoryName(std::string identifier) {
  for (char& c : identifier)
    if (c == '/') c = '_';
  return identifier;
}

foundation::Status makePrivateDirectory(const std::filesystem::path& path) {
  if (!files::exists(path)) {
    if (auto made = files::createDirectory(path); !made) return made;
  }
  std::error_code error;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, error);
  if (error) return crash_make_posix_error(error.value(), "Could not restrict the crash report folder");
  return {};
}

std::string bundleVersion(const runtime::Bundle* bundle) {
  const foundation::Value version = bundle ? bundle->objectForInfoDictionaryKey("CFBundleVersion")
                                           : foundation::Value();
  if (const std::string* text = version.string()) return *text;
  foundation::log("[CrashReporter] Warning -- bundle version unavailable");
  return "";
}

// The bundle's identifier, else the program's name; nothing when both are empty.
std::optional<std::string> bundleIdentifier(const runtime::Bundle* bundle) {
  std::string identifier = bundle ? bundle->bundleIdentifier() : "";
  if (!identifier.empty()) return identifier;
  const char* name = program_invocation_short_name;
  if (name == nullptr || *name == '\0') return std::nullopt;
  foundation::log(std::string("[CrashReporter] Warning -- bundle identifier, using process name ") + name);
  return name;
}

}  // namespace

TallyCrashReporter::TallyCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                                       TallyCrashReporterConfig config, const files::AppHome& home)
    : config_(config),
      applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(applicationVersion)),
      crashReportDirectory_(home.caches() / "com.quennivore.crashreporter.data" /
                            directoryName(applicationIdentifier_)),
      temporaryDirectory_(home.tmp()) {}

foundation::Result<std::shared_ptr<TallyCrashReporter>> TallyCrashReporter::initWithBundle(
    const runtime::Bundle* bundle, TallyCrashReporterConfig config, const files::AppHome& home) {
  auto identifier = bundleIdentifier(bundle);
  if (!identifier)
    return foundation::Error::make(std::string(kCrashReporterException), 0, "Can not determine process identifier or process name");
  return std::make_shared<TallyCrashReporter>(std::move(*identifier), bundleVersion(bundle), config, home);
}

foundation::Result<TallyCrashReporter*> TallyCrashReporter::sharedReporter() {
  // Never destroyed: a crash during exit may still need it.
  static const auto* const shared = new foundation::Result<std::shared_ptr<TallyCrashReporter>>(
      initWithBundle(runtime::Bundle::main().get(), TallyCrashReporterConfig::defaultConfiguration(),
                     files::AppHome::fromEnvironment()));
  if (!*shared) return shared->error();
  return shared->value().get();
}

std::uint32_t TallyCrashReporter::mapToAsyncSymbolicationStrategy(std::uint64_t strategy) {
  return static_cast<std::uint32_t>(strategy &
                                    (CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE | CRASH_SYMBOL_STRATEGY_OBJC));
}

foundation::Status TallyCrashReporter::populateCrashReportDirectoryAndReturnError() const {
  if (auto made = makePrivateDirectory(crashReportDirectory_); !made) return made;
  return makePrivateDirectory(queuedCrashReportDirectory());
}

foundation::Status TallyCrashReporter::enableCrashReporterAndReturnError() {
  {
    std::lock_guard lock(gStateMutex);
    if (gEnabledOnce)
      return crash_make_error(kCrashReporterErrorResourceBusy,
                              "A CrashReporter instance has already been enabled");
    gEnabledOnce = true;
  }
  if (auto populated = populateCrashReportDirectoryAndReturnError(); !populated) return populated;
  processImages();
  // backtrace() loads its unwinder on first use, which allocates: do it now, not at terminate.
  void* frame[1];
  backtrace(frame, 1);

  gCrashContext.report_path = copyPath(crashReportPath());
  gCrashContext.temp_path = copyPath(crashReportDirectory_ / ".live_report.crashlg.tmp");
  if (crash_log_writer_init(
          &gCrashContext.writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
          mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()), false, systemVersion_.c_str()) !=
      CRASH_ESUCCESS)
    return crash_make_error(kCrashReporterErrorUnknown,
                            "Could not read this process's facts for crash reports");

  if (config_.signalHandlerType() == TallyCrashReporterConfig::kSignalHandlerTypeBSD) {
    for (int signal : kCrashSignals) {
      auto registered = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
          signal, signalHandlerCallback, &gCrashContext);
      if (!registered) return registered;
    }
  } else if (config_.signalHandlerType() == TallyCrashReporterConfig::kSignalHandlerTypeMach) {
    auto registered = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
        CRASH_SIGABRT, signalHandlerCallback, &gCrashContext);
    if (!registered) return registered;
    if (auto server = enableMachExceptionServer(&gCrashContext); !server) return server;
  }
  std::set_terminate(terminateHandler);
  enabled_ = true;
  return {};
}

bool TallyCrashReporter::hasPendingCrashReport() const { return files::exists(crashReportPath()); }

foundation::Result<foundation::Bytes> TallyCrashReporter::loadPendingCrashReportDataAndReturnError() const {
  return files::readFile(crashReportPath());
}

foundation::Status TallyCrashReporter::purgePendingCrashReportAndReturnError() const {
  return files::remove(crashReportPath());
}

foundation::Status TallyCrashReporter::setCrashCallbacks(const crash_crash_callbacks& callbacks) {
  if (enabled_)
    return foundation::Error::make(std::string(kCrashReporterException), 0, "The crash reporter has alread been enabled");
  if (callbacks.version != 0)
    return crash_make_error(kCrashReporterErrorUnknown, "Unsupported crash callbacks version");
  gCallbacks = callbacks;
  return {};
}

namespace {

struct LiveReport {
  crash_log_writer* writer;
  crash_thread_t thread;
  crash_async_image_list* images;
  crash_async_file* file;
  const crash_log_signal_info* signal;
  std::uintptr_t callerFrame;  // the frame of the public method the application called
};

crash_error_t writeLiveReport(crash_async_thread_state* state, void* context) {
  auto* live = static_cast<LiveReport*>(context);
  if (!state) return crash_log_writer_write(live->writer, live->thread, live->images, live->file, live->signal, nullptr);
  // The report starts where the application asked for it: the reporter's own frames, down to the
  // public method, are stepped over.
  crash_async_frame_cursor cursor;
  crash_frame_cursor_init(&cursor, crash_async_task_self(), state, live->images);
  crash_frame_cursor_next(&cursor);
  // A handful of frames; bounded as every walk is, should the stack below be damaged.
  for (std::size_t steps = 0;
       steps < CRASH_LOG_MAX_FRAMES && crash_async_thread_state_get_reg(&cursor.frame, CRASH_REG_FP) <= live->callerFrame &&
       crash_frame_cursor_next(&cursor) == CRASH_FRAME_ESUCCESS;
       ++steps) {
  }
  const crash_async_thread_state* start =
      crash_async_thread_state_get_reg(&cursor.frame, CRASH_REG_FP) > live->callerFrame ? &cursor.frame : state;
  return crash_log_writer_write(live->writer, live->thread, live->images, live->file, live->signal, start);
}

}  // namespace

foundation::Result<foundation::Bytes> TallyCrashReporter::generateLiveReportAndReturnError() const {
  return liveReport(crash_async_mach_thread_self(), reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)),
                    reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

foundation::Result<foundation::Bytes> TallyCrashReporter::generateLiveReportWithThreadError(
    crash_thread_t thread) const {
  return liveReport(thread, reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)),
                    reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

foundation::Result<foundation::Bytes> TallyCrashReporter::liveReport(crash_thread_t thread,
                                                                     std::uintptr_t callerFrame,
                                                                     std::uintptr_t returnAddress) const {
  crash_async_image_list* images = processImages();
  std::string path = (temporaryDirectory_ / "live_crash_report.XXXXXX").string();
  // The phone's temporary folder always exists; the home's is made on first use. When it cannot be,
  // making the file fails too, and that failure, with its error number, is the one reported.
  (void)files::createDirectory(temporaryDirectory_);
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return crash_make_posix_error(errno, "Failed to create temporary path");

  crash_log_writer writer;
  crash_log_writer_init(&writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                        mapToAsyncSymbolicationStrategy(config_.symbolicationStrategy()), true,
                        systemVersion_.c_str());
  crash_async_file file;
  crash_async_file_init(&file, fd, CRASH_LOG_SIZE_LIMIT);
  crash_log_signal_info signal{};
  signal.bsd = {CRASH_SIGTRAP, CRASH_TRAP_TRACE, returnAddress};
  LiveReport live{&writer, thread, images, &file, &signal, callerFrame};
  const crash_error_t written = thread == crash_async_mach_thread_self()
                                    ? crash_async_thread_state_current(writeLiveReport, &live)
                                    : writeLiveReport(nullptr, &live);
  crash_log_writer_close(&writer);
  const bool closed = crash_async_file_close(&file);
  crash_log_writer_free(&writer);

  foundation::Result<foundation::Bytes> result = foundation::Bytes{};
  if (written != CRASH_ESUCCESS || !closed) {
    foundation::log(std::string("Write failed with error ") +
                    crash_async_strerror(closed ? written : CRASH_OUTPUT_ERR));
    result = crash_make_error(kCrashReporterErrorUnknown, "Failed to write the crash report to disk");
  } else if (auto bytes = files::readFile(path); bytes) {
    result = std::move(*bytes);
  } else {
    result = crash_make_error(kCrashReporterErrorUnknown, "Unable to open live crash report for reading");
  }
  if (unlink(path.c_str()) != 0)
    foundation::log(std::string("Failure occured deleting live crash report: ") + std::strerror(errno));
  return result;
}

}  // namespace crash
