// Reports of a program built exactly as the diary is (product_child.cc: the product's flags, linked as
// the diary), which fails in ordinary code: abort(), an uncaught exception, a fault inside the C
// library, threads waiting in the C library, several threads failing at once. Each case names the
// frames it expects, in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/product_reports.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

using product_reports::crashedThread;
using product_reports::frameNames;
using product_reports::reporterAt;

struct ProductRun {
  std::string ended;  // how the program ended
  foundation::Result<TallyCrashReport> report = foundation::Error{};  // the waiting report, or the live one
};

// Runs the program with `scenario` under `home`. `live`: read the live report it wrote instead of the
// waiting one; `keep`: leave the waiting report in place.
ProductRun runProduct(const std::filesystem::path& home, const std::string& scenario, int count, bool live = false,
               bool keep = false) {
  ProductRun run;
  const std::string homeText = home.string(), countText = std::to_string(count);
  run.ended = crash_child::runInChild([&] {
                char* const argv[] = {const_cast<char*>(CRASH_PRODUCT_CHILD), const_cast<char*>(scenario.c_str()),
                                      const_cast<char*>(homeText.c_str()), const_cast<char*>(countText.c_str()),
                                      nullptr};
                execv(CRASH_PRODUCT_CHILD, argv);
                _exit(9);
              }).second;
  if (live) {
    run.report = TallyCrashReport::initWithDataError(crash_child::readFile(home / "live.crashlg"));
    return run;
  }
  run.report = product_reports::takePendingReport(reporterAt(home), keep);
  return run;
}

// A function's name as the symbol table has it: the compiler may move a function's unlikely path
// (the one that calls abort() or throws) into a part of its own named "<function>.cold".
bool names(const std::string& name, const std::string& function) {
  return name == function || name == function + ".cold";
}

// Where `expected` starts in `frames`, consecutively: at `from`, or at the first frame that names
// expected[0] when `from` is negative. -1 when it is not there.
int findRun(const std::vector<std::string>& frames, const std::vector<std::string>& expected, int from) {
  for (std::size_t start = from < 0 ? 0 : static_cast<std::size_t>(from); start < frames.size(); ++start) {
    bool all = start + expected.size() <= frames.size();
    for (std::size_t i = 0; all && i < expected.size(); ++i) all = names(frames[start + i], expected[i]);
    if (all) return static_cast<int>(start);
    if (from >= 0) break;
  }
  return -1;
}

std::string joined(const std::vector<std::string>& frames) {
  std::string text;
  for (const auto& frame : frames) text += frame + " | ";
  return text;
}

// ---- One thread fails; the crashed thread's stack is whole.

struct CrashCase {
  const char* name;
  const char* scenario;
  int signal;                         // the signal the program ends with
  int from;                           // where `frames` starts in the crashed thread; -1: wherever frames[0] is
  std::vector<std::string> frames;    // consecutive frames, by name
  const char* reportedSignal;
};
void PrintTo(const CrashCase& c, std::ostream* out) { *out << c.name; }

class ProductCrashes : public testing::TestWithParam<CrashCase> {};

TEST_P(ProductCrashes, ShowTheWholeStackOfTheCrashedThreadThroughCodeWithoutFramePointers) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  const CrashCase& c = GetParam();
  testing_support::TempDir home;
  const ProductRun run = runProduct(home.path(), c.scenario, 1);
  EXPECT_EQ(run.ended, crash_child::killedBy(c.signal));
  ASSERT_TRUE(run.report.ok()) << run.report.error().description();
  EXPECT_EQ(run.report->signalInfo().name, c.reportedSignal);
  const TallyCrashReportThreadInfo* thread = crashedThread(*run.report);
  ASSERT_NE(thread, nullptr);
  const auto frames = frameNames(*thread);
  EXPECT_GE(findRun(frames, c.frames, c.from), 0) << joined(frames);
  // The walk ends at the thread's outermost function, not in frames it made up.
  for (const auto& frame : thread->stackFrames)
    EXPECT_NE(run.report->imageForAddress(frame.instructionPointer), nullptr) << std::hex << frame.instructionPointer;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ProductCrashes, testing::Values(
    // The C library's abort() and raise() keep no frame pointer: only their call-frame records lead on.
    CrashCase{"Abort", "abort", SIGABRT, -1, {"abort", "product_abort_site", "main"}, "SIGABRT"},
    // The thread of an uncaught exception runs through the C++ runtime's terminate and throw.
    CrashCase{"UncaughtException", "exception", SIGABRT, -1, {"__cxa_throw", "product_throw_site", "main"},
              "SIGABRT"},
    // A fault inside strlen (a local, ifunc-chosen variant without symbols of its own): the product
    // function that called it is the second frame.
    CrashCase{"FaultInsideTheCLibrary", "strlen", SIGSEGV, 1, {"product_strlen_site", "main"}, "SIGSEGV"},
    CrashCase{"FaultInTheProduct", "segv", SIGSEGV, 0, {"product_segv_site", "main"}, "SIGSEGV"},
    // The caller's last instruction is the call: its return address is the first byte of the next
    // function, and the frame is still named after the caller.
    CrashCase{"ReturnAddressAtTheEndOfAFunction", "end_of_function", SIGSEGV, 0,
              {"product_never_returns", "product_ends_in_call", "main"}, "SIGSEGV"},
    // The stack ran out: the report is written on the alternate stack, from the innermost call on.
    CrashCase{"StackOverflow", "overflow", SIGSEGV, 0,
              {"product_recurses_until", "product_recurses_until", "product_recurses_until"}, "SIGSEGV"}),
  [](const testing::TestParamInfo<CrashCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(ProductCrashes, AnUncaughtExceptionIsNamedWithItsReason) {
  testing_support::TempDir home;
  const ProductRun run = runProduct(home.path(), "exception", 3);
  ASSERT_TRUE(run.report.ok()) << run.report.error().description();
  ASSERT_TRUE(run.report->hasExceptionInfo());
  EXPECT_EQ(run.report->exceptionInfo()->exceptionName, "std::runtime_error");
  EXPECT_EQ(run.report->exceptionInfo()->exceptionReason, "product failure 3");
}

// ---- Threads parked while they wait in the C library, under a live report and beside a crash.

// Checks that `report` holds, once each, the crashed thread starting with `crashed` and the three
// threads of the program that wait in the C library, each down to its callers.
void expectWaitingThreads(const TallyCrashReport& report, const std::vector<std::string>& crashed) {
  const struct {
    bool crashed;  // the report's crashed thread (a live report's: its calling thread)
    int from;
    std::vector<std::string> frames;
  } expected[] = {
      {true, 0, crashed},
      {false, -1, {"pause", "product_waits_in_pause", "main"}},
      {false, -1, {"pthread_cond_wait", "product_waits_on_condition", "product_condition_thread"}},
      {false, -1, {"read", "product_waits_in_read", "product_reader_thread"}},
  };
  std::string all;
  for (const auto& thread : report.threads()) all += joined(frameNames(thread)) + "\n";
  for (const auto& e : expected) {
    int found = 0;
    for (const auto& thread : report.threads())
      found += thread.crashed == e.crashed && findRun(frameNames(thread), e.frames, e.from) >= 0;
    EXPECT_EQ(found, 1) << e.frames[1] << " in\n" << all;
  }
}

TEST(ProductLiveReports, ShowEveryWaitingThreadDownToItsCallers) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  testing_support::TempDir home;
  const ProductRun run = runProduct(home.path(), "waiting", 1, true);
  EXPECT_EQ(run.ended, "exit 0");
  ASSERT_TRUE(run.report.ok()) << run.report.error().description();
  expectWaitingThreads(*run.report, {"product_asks_live_report", "product_reporter_thread"});
}

// The same threads parked from inside the crash handler, on its own stack.
TEST(ProductCrashes, ShowEveryWaitingThreadDownToItsCallers) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  testing_support::TempDir home;
  const ProductRun run = runProduct(home.path(), "waiting_crash", 1);
  EXPECT_EQ(run.ended, crash_child::killedBy(SIGSEGV));
  ASSERT_TRUE(run.report.ok()) << run.report.error().description();
  expectWaitingThreads(*run.report, {"product_segv_site", "product_crasher_thread"});
}

// A live report larger than the file's cap comes back cut short, and the calling thread is kept whole.
TEST(ProductLiveReports, PastTheSizeCapComeBackCutWithTheCallingThreadKept) {
  testing_support::TempDir home;
  const ProductRun run = runProduct(home.path(), "oversize", 40, true);
  EXPECT_EQ(run.ended, "exit 0");
  ASSERT_TRUE(run.report.ok()) << run.report.error().description();
  EXPECT_TRUE(run.report->truncated());
  EXPECT_TRUE(run.report->userRequested());
  const TallyCrashReportThreadInfo* thread = crashedThread(*run.report);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(findRun(frameNames(*thread), {"product_asks_live_report", "main"}, 0), 0)
      << joined(frameNames(*thread));
  EXPECT_LE(std::filesystem::file_size(home.path() / "live.crashlg"), 65536u);
}

// ---- Several threads failing in different ways at once: one report, and the process ends on the
// signal it names.

TEST(ProductCrashes, MixedFaultsOnEightThreadsEndOnTheReportedSignal) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  const std::map<std::string, std::pair<int, std::string>> sites = {
      {"SIGSEGV", {SIGSEGV, "product_segv_site"}},
      {"SIGABRT", {SIGABRT, "product_abort_site"}},
      {"SIGFPE", {SIGFPE, "product_fpe_site"}},
      {"SIGILL", {SIGILL, "product_trap_site"}},
  };
  constexpr int kRounds = 30;
  for (int round = 0; round < kRounds; ++round) {
    testing_support::TempDir home;
    const ProductRun run = runProduct(home.path(), "mixed", 8);
    ASSERT_TRUE(run.report.ok()) << round << ": " << run.report.error().description();
    const auto site = sites.find(run.report->signalInfo().name);
    ASSERT_NE(site, sites.end()) << round << ": " << run.report->signalInfo().name;
    EXPECT_EQ(run.ended, crash_child::killedBy(site->second.first)) << round << ": " << site->first;
    const TallyCrashReportThreadInfo* thread = crashedThread(*run.report);
    ASSERT_NE(thread, nullptr) << round;
    EXPECT_GE(findRun(frameNames(*thread), {site->second.second, "product_mixed_thread"}, -1), 0)
        << round << ": " << joined(frameNames(*thread));
  }
}

// ---- A report waiting from an earlier run.

// Without a bundle the program's name names the report folder; a process with no name at all (an
// empty argv[0]) gets no reporter, rather than a folder it would share with every other such process.
TEST(ProductReporter, WithoutABundleIsNamedAfterTheProgramOrRefused) {
  testing_support::TempDir home;
  const std::string homeText = home.path().string();
  struct Case {
    const char* argv0;
    crash_child::Outcome outcome;
  } cases[] = {{"diary-helper", {"diary-helper\n", "exit 0"}},
               {"", {"CrashReporterException: Can not determine process identifier or process name\n", "exit 10"}}};
  for (const auto& c : cases) {
    auto outcome = crash_child::runInChild([&] {
      dup2(crash_child::gReportFd, STDOUT_FILENO);
      char* const argv[] = {const_cast<char*>(c.argv0), const_cast<char*>("unbundled"),
                            const_cast<char*>(homeText.c_str()), nullptr};
      execv(CRASH_PRODUCT_CHILD, argv);
      _exit(9);
    });
    EXPECT_EQ(outcome, c.outcome) << c.argv0;
  }
}

TEST(ProductCrashes, ALaterRunsCrashReplacesAWaitingReport) {
  testing_support::TempDir home;
  const ProductRun first = runProduct(home.path(), "segv", 1, false, true);
  ASSERT_TRUE(first.report.ok());
  ASSERT_EQ(first.report->signalInfo().name, "SIGSEGV");
  const ProductRun second = runProduct(home.path(), "abort", 1);
  ASSERT_TRUE(second.report.ok()) << second.report.error().description();
  EXPECT_EQ(second.report->signalInfo().name, "SIGABRT");
  EXPECT_NE(first.report->uuidRef(), second.report->uuidRef());
  const TallyCrashReportThreadInfo* thread = crashedThread(*second.report);
  ASSERT_NE(thread, nullptr);
  EXPECT_GE(findRun(frameNames(*thread), {"abort", "product_abort_site", "main"}, -1), 0) << joined(frameNames(*thread));
  EXPECT_FALSE(std::filesystem::exists(reporterAt(home.path()).crashReportDirectory() / ".live_report.crashlg.tmp"));
}

}  // namespace
}  // namespace crash
