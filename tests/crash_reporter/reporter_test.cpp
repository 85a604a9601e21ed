// The reporter object: enabling (once per process, so in forked children), a real crash left as the
// pending report for the next launch, an uncaught C++ exception, and live reports.
#include "crash_reporter/reporter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/crash_report.h"
#include "crash_reporter/errors.h"
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

std::string text(const foundation::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

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

  auto bytes = next.loadPendingCrashReportDataAndReturnError();
  ASSERT_TRUE(bytes.ok());
  auto report = TallyCrashReport::initWithDataError(text(*bytes));
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(report->signalInfo().name, "SIGSEGV");
  EXPECT_EQ(report->signalInfo().code, "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo().address, 16u);
  EXPECT_EQ(report->applicationInfo().applicationVersion, "3.1");
  bool found = false;
  for (const auto& thread : report->threads())
    if (thread.crashed && !thread.stackFrames.empty() && thread.stackFrames[0].symbolInfo)
      found = thread.stackFrames[0].symbolInfo->symbolName == "crash_test_frame_c";
  EXPECT_TRUE(found);

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
  auto bytes = reporterAt(home.path()).loadPendingCrashReportDataAndReturnError();
  ASSERT_TRUE(bytes.ok());
  auto report = TallyCrashReport::initWithDataError(text(*bytes));
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
  const TallyCrashReporter reporter = reporterAt(home.path());
  auto own = reporter.generateLiveReportAndReturnError();
  ASSERT_TRUE(own.ok()) << own.error().description();
  auto ownReport = TallyCrashReport::initWithDataError(text(*own));
  ASSERT_TRUE(ownReport.ok()) << ownReport.error().description();
  EXPECT_TRUE(ownReport->userRequested());
  EXPECT_EQ(std::tuple(ownReport->signalInfo().name, ownReport->signalInfo().code),
            std::tuple("SIGTRAP", "TRAP_TRACE"));
  EXPECT_EQ(crashedThreads(*ownReport), 1);
  EXPECT_TRUE(std::filesystem::is_empty(home / "tmp"));
  EXPECT_FALSE(reporter.hasPendingCrashReport());

  std::atomic<crash_thread_t> other{0};
  std::mutex mutex;
  std::condition_variable wake;
  bool done = false;
  std::thread worker([&] {
    other = crash_async_mach_thread_self();
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return done; });
  });
  while (other.load() == 0) std::this_thread::yield();
  sys::ThreadId listed[sys::kMaxThreads];
  const int before = sys::listThreads(listed, sys::kMaxThreads);
  auto bytes = reporter.generateLiveReportWithThreadError(other);
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  wake.notify_one();
  worker.join();
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  auto report = TallyCrashReport::initWithDataError(text(*bytes));
  ASSERT_TRUE(report.ok()) << report.error().description();
  EXPECT_EQ(static_cast<int>(report->threads().size()), before - 1);
  for (std::size_t i = 0; i < report->threads().size(); ++i)
    EXPECT_EQ(report->threads()[i].threadNumber, static_cast<std::int64_t>(i));
  EXPECT_EQ(crashedThreads(*report), 1);
}

TEST(TallyCrashReporter, SymbolicationStrategiesKeepOnlyTheKnownBits) {
  const std::pair<std::uint64_t, std::uint32_t> cases[] = {{0, 0}, {7, 3}, {4, 0},
                                                           {2, 2}, {1, 1}, {~0ull, 3}};
  for (const auto& [given, mapped] : cases)
    EXPECT_EQ(TallyCrashReporter::mapToAsyncSymbolicationStrategy(given), mapped) << given;
}

}  // namespace
}  // namespace crash
