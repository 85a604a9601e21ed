// The reporter object: enabling (once per process, so in forked children), a real crash left as the
// pending report for the next launch, an uncaught C++ exception, and live reports. Then the exception
// server over its emulated port: requests and replies, malformed requests, forwarding to earlier
// registrations, the mapping to signals, and the reporter writing a report from the server thread.
#include "crash_reporter/reporter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/crash_report.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/mach_exception_server.h"
#include "crash_reporter/signal_numbers.h"
#include "crash_reporter/text_formatter.h"
#include "platform/system/threads.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

TallyCrashReporter reporterAt(const std::filesystem::path& root) {
  return TallyCrashReporter("com.example/diary", "3.1", TallyCrashReporterConfig(0, 7), files::AppHome(root));
}

// How a child running `body` ended ("exit 0", "signal 11").
std::string inChild(const std::function<void()>& body) { return crash_child::runInChild(body).second; }

// The report a reporter handed out, or why there is none.
foundation::Result<TallyCrashReport> parsed(const foundation::Result<foundation::Bytes>& bytes) {
  if (!bytes.ok()) return bytes.error();
  return TallyCrashReport::initWithDataError(std::string(bytes->begin(), bytes->end()));
}

int crashedThreads(const TallyCrashReport& report) {
  int crashed = 0;
  for (const auto& thread : report.threads()) crashed += thread.crashed;
  return crashed;
}

TEST(TallyCrashReporter, ACrashIsLeftAsThePendingReportOfTheNextLaunch) {
  testing_support::TempDir home;
  const std::string ended = inChild([&] {
    TallyCrashReporter reporter = reporterAt(home.path());
    if (!reporter.enableCrashReporterAndReturnError()) _exit(3);
    // Enabling again, with this instance or another, is refused.
    const auto again = reporterAt(home.path()).enableCrashReporterAndReturnError();
    if (again || again.error().code != kCrashReporterErrorResourceBusy ||
        again.error().localizedDescription() != "A CrashReporter instance has already been enabled")
      _exit(4);
    // Callbacks come before enabling: afterwards they are refused as a misuse, not a failed write.
    const auto late = reporter.setCrashCallbacks(crash_crash_callbacks{});
    if (late || late.error().domain != kCrashReporterException) _exit(4);
    const auto enter = crash_child::openModule().enter;
    if (!enter) _exit(5);
    reporter.generateLiveReportAndReturnError().ok();  // brings the image list up to date
    crash_child::crashInModule(enter);
    _exit(6);
  });
  // The earlier handler the layer hands the crash on to ends the process: the default action, or a
  // sanitizer's own handler, which exits with 1.
  EXPECT_TRUE(ended == "signal " + std::to_string(SIGSEGV) || ended == "exit 1") << ended;

  const TallyCrashReporter next = reporterAt(home.path());
  EXPECT_EQ(next.crashReportDirectory().filename(), "com.example_diary");
  struct stat folder {};
  ASSERT_EQ(stat(next.crashReportDirectory().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_TRUE(std::filesystem::is_directory(next.queuedCrashReportDirectory()));
  ASSERT_TRUE(next.hasPendingCrashReport());
  struct stat file {};
  ASSERT_EQ(stat(next.crashReportPath().c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);

  auto report = parsed(next.loadPendingCrashReportDataAndReturnError());
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->signalInfo().name, "SIGSEGV");
  EXPECT_EQ(report->signalInfo().code, "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo().address, 16u);
  EXPECT_EQ(report->applicationInfo().applicationVersion, "3.1");
  bool found = false;
  for (const auto& thread : report->threads())
    if (thread.crashed && !thread.stackFrames.empty() && thread.stackFrames[0].symbolInfo)
      found = thread.stackFrames[0].symbolInfo->symbolName == "crash_test_frame_c";
  EXPECT_TRUE(found) << TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(*report, TallyCrashReportTextFormatiOS);

  ASSERT_TRUE(next.purgePendingCrashReportAndReturnError().ok());
  EXPECT_FALSE(next.hasPendingCrashReport());
}

TEST(TallyCrashReporter, AnUncaughtExceptionOnASecondThreadIsReportedWithItsTypeAndReason) {
  testing_support::TempDir home;
  const std::string ended = inChild([&] {
    TallyCrashReporter reporter = reporterAt(home.path());
    if (!reporter.enableCrashReporterAndReturnError()) _exit(3);
    std::thread([] { throw std::out_of_range("no baby at row 7"); }).join();
  });
  EXPECT_EQ(ended, "signal " + std::to_string(SIGABRT));
  auto report = parsed(reporterAt(home.path()).loadPendingCrashReportDataAndReturnError());
  ASSERT_TRUE(report.ok()) << report.error().description();
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->exceptionName, "std::out_of_range");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason, "no baby at row 7");
  EXPECT_FALSE(report->exceptionInfo()->stackFrames.empty());
  EXPECT_EQ(report->signalInfo().name, "SIGABRT");
  EXPECT_EQ(report->signalInfo().code, "#0");
  // The crashed thread is the second one, not the main thread listed first.
  ASSERT_GE(report->threads().size(), 2u);
  EXPECT_FALSE(report->threads()[0].crashed);
  EXPECT_EQ(crashedThreads(*report), 1);
  const std::string formatted = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
      *report, TallyCrashReportTextFormatiOS);
  for (const char* line : {"*** Terminating app due to uncaught exception 'std::out_of_range', reason: 'no "
                           "baby at row 7'",
                           "Last Exception Backtrace:"})
    EXPECT_NE(formatted.find(line), std::string::npos) << formatted;
}

// A live report of the calling thread, then of another thread: that one is the crashed thread, the
// caller is left out and the rest are numbered in order.
TEST(TallyCrashReporter, LiveReportsAreCompleteFilesAndLeaveNoTemporaryFile) {
  testing_support::TempDir home;
  TallyCrashReporter reporter = reporterAt(home.path());
  reporter.setSystemVersion("9.3");  // the device's, which reports name rather than the kernel's
  auto ownReport = parsed(reporter.generateLiveReportAndReturnError());
  ASSERT_TRUE(ownReport.ok()) << ownReport.error().description();
  EXPECT_TRUE(ownReport->userRequested());
  EXPECT_EQ(ownReport->systemInfo().operatingSystemVersion, "9.3");
  EXPECT_EQ(std::tuple(ownReport->signalInfo().name, ownReport->signalInfo().code),
            std::tuple("SIGTRAP", "TRAP_TRACE"));
  EXPECT_EQ(crashedThreads(*ownReport), 1);
  EXPECT_TRUE(std::filesystem::is_empty(home / "tmp"));
  EXPECT_FALSE(reporter.hasPendingCrashReport());

  std::atomic<crash_thread_t> other{0};
  std::promise<void> release;
  std::thread worker([&, released = release.get_future()] {
    other = crash_async_mach_thread_self();
    released.wait();
  });
  while (other.load() == 0) std::this_thread::yield();
  sys::ThreadId listed[sys::kMaxThreads];
  const int before = sys::listThreads(listed, sys::kMaxThreads);
  auto report = parsed(reporter.generateLiveReportWithThreadError(other));
  release.set_value();
  worker.join();
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(static_cast<int>(report->threads().size()), before - 1);
  for (std::size_t i = 0; i < report->threads().size(); ++i)
    EXPECT_EQ(report->threads()[i].threadNumber, static_cast<std::int64_t>(i));
  EXPECT_EQ(crashedThreads(*report), 1);
}

// A file the reporter cannot make names its cause, in a process of its own (enabling happens once a
// process): the report folder's failure is the file layer's own error; the live report's temporary folder
// makes its file fail, a system failure with its error number, as does a write the file size limit stops.
TEST(TallyCrashReporter, FailingToMakeOrWriteItsFilesNamesTheCodeAndUnderlyingError) {
  const auto blockWithAFile = [](std::string name) {
    return [name](const std::filesystem::path& home) {
      std::filesystem::create_directories((home / name).parent_path());
      std::ofstream(home / name) << "not a folder";
    };
  };
  const auto liveReport = [](TallyCrashReporter& reporter) -> foundation::Status {
    auto bytes = reporter.generateLiveReportAndReturnError();
    return bytes ? foundation::Status() : foundation::Status(bytes.error());
  };
  const std::string notAFolder = "NSPOSIXErrorDomain " + std::to_string(ENOTDIR);
  const struct {
    std::function<void(const std::filesystem::path& home)> prepare;  // in the child, before the reporter
    std::function<foundation::Status(TallyCrashReporter&)> fail;
    std::string error;  // domain and code, description, underlying domain and code
  } cases[] = {
      {blockWithAFile("tmp"), liveReport,
       "CrashReporterErrorDomain 1\nFailed to create temporary path\n" + notAFolder},
      {blockWithAFile("Library/Caches"),
       [](TallyCrashReporter& reporter) { return reporter.enableCrashReporterAndReturnError(); },
       "NSCocoaErrorDomain 516\n\u201Ccom.example_diary\u201D couldn\u2019t be created because an item "
       "with the same name already exists.\n" +
           notAFolder},
      {[](const std::filesystem::path&) {
         signal(SIGXFSZ, SIG_IGN);
         const rlimit small{1024, 1024};
         setrlimit(RLIMIT_FSIZE, &small);
       },
       liveReport, "CrashReporterErrorDomain 0\nFailed to write the crash report to disk\n"},
  };
  const auto named = [](const foundation::Error* error) {
    return error ? error->domain + " " + std::to_string(error->code) : std::string();
  };
  for (const auto& c : cases) {
    testing_support::TempDir home;
    const auto outcome = crash_child::runInChild([&] {
      c.prepare(home.path());
      TallyCrashReporter reporter = reporterAt(home.path());
      const foundation::Status failed = c.fail(reporter);
      if (failed) _exit(3);
      const std::string seen = named(&failed.error()) + "\n" + failed.error().localizedDescription() + "\n" +
                               named(failed.error().underlying.get());
      crash_child::report({seen.c_str()});
    });
    EXPECT_EQ(outcome, crash_child::Outcome(c.error, "exit 0"));
    // A live report leaves no file behind, whether or not it was written.
    if (std::filesystem::is_directory(home / "tmp")) {
      EXPECT_TRUE(std::filesystem::is_empty(home / "tmp")) << c.error;
    }
  }
}

TEST(TallyCrashReporter, SymbolicationStrategiesKeepOnlyTheKnownBits) {
  const std::pair<std::uint64_t, std::uint32_t> cases[] = {{0, 0}, {7, 3}, {4, 0},
                                                           {2, 2}, {1, 1}, {~0ull, 3}};
  for (const auto& [given, mapped] : cases)
    EXPECT_EQ(TallyCrashReporter::mapToAsyncSymbolicationStrategy(given), mapped) << given;
}

// ---- The exception server.

struct Seen {
  std::atomic<int> calls{0};
  int type = 0;
  crash_thread_t thread = 0;
  std::vector<std::int64_t> codes;
  int answer = CRASH_KERN_SUCCESS;
};

int record(crash_task_t, crash_thread_t thread, int type, const std::int64_t* codes, std::size_t count,
           void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->type = type;
  seen->thread = thread;
  seen->codes.assign(codes, codes + count);
  ++seen->calls;
  return seen->answer;
}

TEST(MachExceptionServer, AnswersEachRequestWithItsCallbacksResultAndRefusesShortOnes) {
  Seen seen;
  seen.answer = 7;
  auto server = TallyCrashMachExceptionServer::initWithCallBackContextError(record, &seen);
  ASSERT_TRUE(server.ok());
  auto port = (*server)->exceptionPortWithMaskError(1u << CRASH_EXC_BAD_ACCESS);
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(port->behavior(), 0x80000001u);
  EXPECT_EQ(port->flavor(), 1u);

  const std::int64_t codes[] = {1, 0x7fff'0000'0010};
  EXPECT_EQ(
      crash_mach_exception_raise(port->port(), 77, crash_async_task_self(), CRASH_EXC_BAD_ACCESS, codes, 2),
      7);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.type, CRASH_EXC_BAD_ACCESS);
  EXPECT_EQ(seen.thread, 77);
  EXPECT_EQ(seen.codes, (std::vector<std::int64_t>{1, 0x7fff'0000'0010}));

  // Fewer than 76 bytes, or a code count past the end: failure, and the callback never sees it.
  char shortRequest[75] = {};
  EXPECT_EQ(crash_mach_exception_raise_raw(port->port(), shortRequest, sizeof shortRequest),
            CRASH_KERN_FAILURE);
  char overCounted[76] = {};
  overCounted[64] = 2;  // code count 2 in a request with room for one
  EXPECT_EQ(crash_mach_exception_raise_raw(port->port(), overCounted, sizeof overCounted),
            CRASH_KERN_FAILURE);
  EXPECT_EQ(seen.calls, 1);

  // A well-formed request padded past the server's first buffer (1,024 bytes) is taken whole once the
  // buffer has grown, and the requests after it are served as before.
  std::vector<char> padded(2000, 0);
  auto put = [&](std::size_t at, const auto& value) { std::memcpy(&padded[at], &value, sizeof value); };
  put(4, std::uint32_t{2000});  // header size
  put(28, std::uint32_t{78});   // thread
  put(60, std::int32_t{CRASH_EXC_BAD_INSTRUCTION});
  put(64, std::uint32_t{2});  // code count
  put(68, std::int64_t{3});
  put(76, std::int64_t{4});
  EXPECT_EQ(crash_mach_exception_raise_raw(port->port(), padded.data(), padded.size()), 7);
  EXPECT_EQ(seen.calls, 2);
  EXPECT_EQ(seen.thread, 78);
  EXPECT_EQ(seen.codes, (std::vector<std::int64_t>{3, 4}));
  EXPECT_EQ(
      crash_mach_exception_raise(port->port(), 79, crash_async_task_self(), CRASH_EXC_BAD_ACCESS, codes, 2),
      7);
  EXPECT_EQ(seen.thread, 79);
}

TEST(MachExceptionServer, ForwardsOnlyToARegistrationForTheExceptionInABehaviorItServes) {
  Seen earlier;
  auto server = TallyCrashMachExceptionServer::initWithCallBackContextError(record, &earlier);
  ASSERT_TRUE(server.ok());
  auto port = (*server)->exceptionPortWithMaskError(0);
  ASSERT_TRUE(port.ok());
  const auto set =
      TallyCrashMachExceptionPortSet::initWithSet(
          {TallyCrashMachExceptionPort(port->port(), 1u << CRASH_EXC_BAD_ACCESS, CRASH_EXCEPTION_DEFAULT, 1)})
          ->asyncSafeRepresentation();
  const std::int64_t codes[] = {2, 0x1'0000'0008};

  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BREAKPOINT, codes, 2, &set), CRASH_KERN_FAILURE);
  EXPECT_EQ(earlier.calls, 0);
  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BAD_ACCESS, codes, 2, &set), CRASH_KERN_SUCCESS);
  EXPECT_EQ(earlier.calls, 1);
  EXPECT_EQ(earlier.codes, (std::vector<std::int64_t>{2, 8}));  // handed on as 32-bit codes

  const auto wideSet = TallyCrashMachExceptionPortSet::initWithSet(
                           {TallyCrashMachExceptionPort(port->port(), 1u << CRASH_EXC_BAD_ACCESS,
                                                        CRASH_MACH_EXCEPTION_CODES | CRASH_EXCEPTION_DEFAULT, 1)})
                           ->asyncSafeRepresentation();
  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BAD_ACCESS, codes, 2, &wideSet), CRASH_KERN_FAILURE);
  EXPECT_EQ(earlier.calls, 1);
}

// Registrations per thread and for the task, swapped in and out; the set's record and back.
TEST(MachExceptionServer, RegistrationsSwapPerThreadAndTheirRecordRoundTrips) {
  Seen seen;
  auto server = TallyCrashMachExceptionServer::initWithCallBackContextError(record, &seen);
  ASSERT_TRUE(server.ok());
  EXPECT_GT((*server)->serverThread(), 0);
  EXPECT_NE((*server)->serverThread(), crash_async_mach_thread_self());
  auto right = (*server)->copySendRightForServerAndReturningError();
  ASSERT_TRUE(right.ok());
  const std::int64_t codes[] = {1, 2};
  EXPECT_EQ(crash_mach_exception_raise(*right, 1, 0, CRASH_EXC_BAD_ACCESS, codes, 2), CRASH_KERN_SUCCESS);
  close(*right);

  const crash_thread_t thread = 4242;  // a thread table of its own, apart from the task's
  const std::uint32_t access = 1u << CRASH_EXC_BAD_ACCESS, trap = 1u << CRASH_EXC_BREAKPOINT;
  auto port = (*server)->exceptionPortWithMaskError(access | trap);
  ASSERT_TRUE(port.ok());
  TallyCrashMachExceptionPortSet previous;
  ASSERT_TRUE(port->registerForThreadPreviousPortSetError(thread, &previous).ok());
  EXPECT_EQ(previous.count(), 0u);
  auto installed = TallyCrashMachExceptionPort::exceptionPortsForThreadMaskError(thread, access);
  ASSERT_TRUE(installed.ok());
  ASSERT_EQ(installed->count(), 1u);
  EXPECT_EQ(installed->set()[0].mask(), access);
  EXPECT_EQ(TallyCrashMachExceptionPort::exceptionPortsForThreadMaskError(thread + 1, access)->count(), 0u);
  // Swapping again hands back the first registration, both types joined into one.
  ASSERT_TRUE(port->registerForThreadPreviousPortSetError(thread, &previous).ok());
  ASSERT_EQ(previous.count(), 1u);
  EXPECT_EQ(previous.set()[0].mask(), access | trap);
  EXPECT_EQ(previous.set()[0].behavior(), 0x80000001u);

  // The record owns its rights; a set made from it takes its own and drops the record's.
  const crash_mach_exception_port_set record = previous.asyncSafeRepresentation();
  ASSERT_EQ(record.count, 1u);
  EXPECT_NE(record.ports[0], previous.set()[0].port());
  auto back = TallyCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(record);
  ASSERT_TRUE(back.ok());
  ASSERT_EQ(back->count(), 1u);
  EXPECT_EQ(std::tuple(back->set()[0].mask(), back->set()[0].flavor()), std::tuple(access | trap, 1u));
  EXPECT_EQ(fcntl(record.ports[0], F_GETFD), -1);  // dropped

  crash_mach_exception_port_set tooMany{};
  tooMany.count = 14;
  auto refused = TallyCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(tooMany);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().localizedDescription(), "Count of 14 exceeds EXC_TYPES_COUNT (13)");
  std::vector<TallyCrashMachExceptionPort> fourteen(14, TallyCrashMachExceptionPort(-1, 0, 1, 1));
  EXPECT_FALSE(TallyCrashMachExceptionPortSet::initWithSet(fourteen).ok());
}

TEST(MachExceptionServer, ExceptionsMapToSignals) {
  struct Case {
    int type;
    std::int64_t first;
    int signo, code;
  } cases[] = {
      {CRASH_EXC_BAD_ACCESS, 1, CRASH_SIGSEGV, 1},     {CRASH_EXC_BAD_ACCESS, 2, CRASH_SIGBUS, 2},
      {CRASH_EXC_BAD_INSTRUCTION, 1, CRASH_SIGILL, 0}, {CRASH_EXC_ARITHMETIC, 1, CRASH_SIGFPE, 0},
      {CRASH_EXC_EMULATION, 1, CRASH_SIGEMT, 0},       {CRASH_EXC_SOFTWARE, 0x10000, CRASH_SIGSYS, 0},
      {CRASH_EXC_SOFTWARE, 0x10001, CRASH_SIGPIPE, 0}, {CRASH_EXC_SOFTWARE, 0x10003, CRASH_SIGKILL, 0},
      {CRASH_EXC_SOFTWARE, 5, CRASH_SIGABRT, 0},       {CRASH_EXC_BREAKPOINT, 1, CRASH_SIGTRAP, 1},
  };
  for (const Case& c : cases) {
    const std::int64_t codes[] = {c.first, 0x1234};
    crash_mach_siginfo info{};
    ASSERT_TRUE(crash_async_mach_exception_get_siginfo(c.type, codes, 2, &info)) << c.type;
    EXPECT_EQ(info.signo, c.signo) << c.type << " " << c.first;
    EXPECT_EQ(info.code, c.code) << c.type << " " << c.first;
    EXPECT_EQ(info.address, 0x1234u);
  }
  const std::int64_t one[] = {1};
  crash_mach_siginfo info{};
  EXPECT_FALSE(crash_async_mach_exception_get_siginfo(CRASH_EXC_BAD_ACCESS, one, 1, &info));
  const std::int64_t two[] = {1, 2};
  EXPECT_FALSE(crash_async_mach_exception_get_siginfo(9, two, 2, &info));
}

TEST(MachExceptionServer, TheReporterWritesTheCrashedThreadsReportFromTheServerThread) {
  testing_support::TempDir home;
  const auto outcome = crash_child::runInChild([&] {
    TallyCrashReporter reporter("com.example.diary", "1", TallyCrashReporterConfig(1, 1),
                                files::AppHome(home.path()));
    if (!reporter.enableCrashReporterAndReturnError()) _exit(3);
    // What the kernel would do on a fault: raise the exception to the task's registered port.
    int answer = -1;
    std::thread([&] {
      const auto ports = TallyCrashMachExceptionPort::exceptionPortsForTaskMaskError(crash_async_task_self(),
                                                                                     1u << CRASH_EXC_BAD_ACCESS);
      const std::int64_t codes[] = {1, 16};
      if (ports && ports->count() > 0)
        answer = crash_mach_exception_raise(ports->set()[0].port(), crash_async_mach_thread_self(),
                                            crash_async_task_self(), CRASH_EXC_BAD_ACCESS, codes, 2);
    }).join();
    _exit(answer == CRASH_KERN_FAILURE ? 0 : 4);
  });
  ASSERT_EQ(outcome.second, "exit 0");

  const TallyCrashReporter reader("com.example.diary", "1", {}, files::AppHome(home.path()));
  auto report = parsed(reader.loadPendingCrashReportDataAndReturnError());
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->signalInfo().name, "SIGSEGV");
  EXPECT_EQ(report->signalInfo().code, "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo().address, 16u);
  ASSERT_TRUE(report->machExceptionInfo().has_value());
  EXPECT_EQ(report->machExceptionInfo()->type, 1u);
  EXPECT_EQ(report->machExceptionInfo()->codes, (std::vector<std::uint64_t>{1, 16}));
  EXPECT_EQ(crashedThreads(*report), 1);  // the raising thread, parked while the server wrote
}

}  // namespace
}  // namespace crash
