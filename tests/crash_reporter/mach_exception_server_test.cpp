// The exception server over its emulated port: requests and replies, malformed requests, forwarding
// to earlier registrations, the mapping to signals, and the reporter writing a report from the server
// thread.
#include "crash_reporter/mach_exception_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/crash_report.h"
#include "crash_reporter/reporter.h"
#include "crash_reporter/signal_numbers.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

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
}

TEST(MachExceptionServer, ForwardsOnlyToARegistrationForTheExceptionInABehaviorItServes) {
  Seen earlier;
  auto server = TallyCrashMachExceptionServer::initWithCallBackContextError(record, &earlier);
  ASSERT_TRUE(server.ok());
  auto port = (*server)->exceptionPortWithMaskError(0);
  ASSERT_TRUE(port.ok());
  const std::vector<TallyCrashMachExceptionPort> plain{
      TallyCrashMachExceptionPort(port->port(), 1u << CRASH_EXC_BAD_ACCESS, CRASH_EXCEPTION_DEFAULT, 1)};
  const auto set = crash_mach_exception_port_set_make(plain);
  const std::int64_t codes[] = {2, 0x1'0000'0008};

  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BREAKPOINT, codes, 2, &set), CRASH_KERN_FAILURE);
  EXPECT_EQ(earlier.calls, 0);
  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BAD_ACCESS, codes, 2, &set), CRASH_KERN_SUCCESS);
  EXPECT_EQ(earlier.calls, 1);
  EXPECT_EQ(earlier.codes, (std::vector<std::int64_t>{2, 8}));  // handed on as 32-bit codes

  const std::vector<TallyCrashMachExceptionPort> wide{TallyCrashMachExceptionPort(
      port->port(), 1u << CRASH_EXC_BAD_ACCESS, CRASH_MACH_EXCEPTION_CODES | CRASH_EXCEPTION_DEFAULT, 1)};
  const auto wideSet = crash_mach_exception_port_set_make(wide);
  EXPECT_EQ(crash_mach_exception_forward(0, 5, CRASH_EXC_BAD_ACCESS, codes, 2, &wideSet), CRASH_KERN_FAILURE);
  EXPECT_EQ(earlier.calls, 1);
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
      const auto ports = TallyCrashMachExceptionPort::exceptionPortsForTaskMask(crash_async_task_self(),
                                                                                1u << CRASH_EXC_BAD_ACCESS);
      const std::int64_t codes[] = {1, 16};
      if (!ports.empty())
        answer = crash_mach_exception_raise(ports[0].port(), crash_async_mach_thread_self(),
                                            crash_async_task_self(), CRASH_EXC_BAD_ACCESS, codes, 2);
    }).join();
    _exit(answer == CRASH_KERN_FAILURE ? 0 : 4);
  });
  ASSERT_EQ(outcome.second, "exit 0");

  const TallyCrashReporter reader("com.example.diary", "1", {}, files::AppHome(home.path()));
  auto bytes = reader.loadPendingCrashReportDataAndReturnError();
  ASSERT_TRUE(bytes.ok());
  auto report = TallyCrashReport::initWithDataError(std::string(bytes->begin(), bytes->end()));
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->signalInfo().name, "SIGSEGV");
  EXPECT_EQ(report->signalInfo().code, "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo().address, 16u);
  ASSERT_TRUE(report->machExceptionInfo().has_value());
  EXPECT_EQ(report->machExceptionInfo()->type, 1u);
  EXPECT_EQ(report->machExceptionInfo()->codes, (std::vector<std::uint64_t>{1, 16}));
  int crashed = 0;
  for (const auto& thread : report->threads()) crashed += thread.crashed;
  EXPECT_EQ(crashed, 1);  // the raising thread, parked while the server wrote
}

}  // namespace
}  // namespace crash
