// The reporter as the product runs it: the crashing code is built with the product's own flags (this
// file is compiled as product code, see tests/CMakeLists.txt) and linked as the diary is (its functions
// are in no dynamic symbol table), several threads may crash at
// once, a library may be opened after enabling without anything refreshing the image list, and live
// reports are asked for from ordinary code. Each crash happens in a forked child whose report the
// parent reads back from the reporter's own folder.
#include <dlfcn.h>
#include <pthread.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/product_reports.h"
#include "platform/system/threads.h"
#include "support/temp_dir.h"

// Five calls deep under the test, in this executable, built with the product's flags (see
// tests/CMakeLists.txt). Plain C names, so a report names them as written; not exported, so only the
// executable's own symbol table knows them. Ordinary code: each caller uses what its callee returns,
// which keeps every call a call (and every caller's frame); the crash site is a leaf.
extern "C" {
[[gnu::noinline]] int product_crash_depth_5(volatile int* target) {
  *target = 1;
  return *target;
}
[[gnu::noinline]] int product_crash_depth_4(volatile int* target) { return product_crash_depth_5(target) + 1; }
[[gnu::noinline]] int product_crash_depth_3(volatile int* target) { return product_crash_depth_4(target) + 1; }
[[gnu::noinline]] int product_crash_depth_2(volatile int* target) { return product_crash_depth_3(target) + 1; }
[[gnu::noinline]] int product_crash_depth_1(volatile int* target) { return product_crash_depth_2(target) + 1; }
[[gnu::noinline]] int product_crash_elsewhere(volatile int* target) {
  *target = 2;
  return *target;
}
}

namespace crash {
namespace {

// A variable, as a real program's bad pointer is: a constant would let the compiler make copies of the
// functions above for it, named apart from them.
volatile int* gUnmapped = reinterpret_cast<volatile int*>(16);

using product_reports::reporterAt;

struct Crashed {
  std::string ended;  // how the child ended
  foundation::Result<TallyCrashReport> report = foundation::Error{};
  bool leftover = false;  // a temporary file beside the report
};

// Runs `body` in a child that enabled a reporter under `home` (after `before`), then reads the report
// it left.
Crashed crashWithReporter(const std::filesystem::path& home, const std::function<void()>& body,
                          const std::function<void()>& before = [] {}) {
  Crashed crashed;
  crashed.ended = crash_child::runInChild([&] {
                    before();
                    if (!reporterAt(home).enableCrashReporterAndReturnError()) _exit(3);
                    body();
                    _exit(4);
                  })
                      .second;
  const TallyCrashReporter reader = reporterAt(home);
  for (const auto& entry : std::filesystem::directory_iterator(reader.crashReportDirectory()))
    crashed.leftover |= entry.path().filename().string().starts_with(".");
  crashed.report = product_reports::takePendingReport(reader);
  return crashed;
}

// The symbol names of the crashed thread's frames, "?" for an unnamed one.
std::vector<std::string> crashedFrames(const TallyCrashReport& report) {
  std::vector<std::string> names;
  for (const auto& thread : report.threads())
    if (thread.crashed)
      for (auto& name : product_reports::frameNames(thread)) names.push_back(std::move(name));
  return names;
}

bool endedBySegv(const std::string& ended) {
  // A sanitizer's own handler, which the layer hands the crash on to, exits with 1.
  return ended == crash_child::killedBy(SIGSEGV) || ended == "exit 1";
}

// ---- Several threads faulting at the same moment: the first wins and writes the one report.

class SimultaneousCrashes : public testing::TestWithParam<int> {};

TEST_P(SimultaneousCrashes, GiveExactlyOneCompleteReportEveryRound) {
  const int threads = GetParam();
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    testing_support::TempDir home;
    const Crashed crashed = crashWithReporter(home.path(), [threads] {
      std::atomic<int> ready{0};
      std::atomic<bool> go{false};
      for (int i = 0; i < threads; ++i)
        std::thread([&] {
          ++ready;
          while (!go.load()) {
          }
          product_crash_depth_1(gUnmapped);
        }).detach();
      while (ready.load() < threads) {
      }
      go = true;
      for (;;) pause();
    });
    ASSERT_TRUE(endedBySegv(crashed.ended)) << round << ": " << crashed.ended;
    ASSERT_TRUE(crashed.report.ok()) << round << ": " << crashed.report.error().description();
    EXPECT_FALSE(crashed.leftover) << round;
    const TallyCrashReport& report = *crashed.report;
    EXPECT_FALSE(report.truncated()) << round;
    EXPECT_GE(report.threads().size(), static_cast<std::size_t>(threads + 1)) << round;
    int crashedCount = 0;
    for (const auto& thread : report.threads()) crashedCount += thread.crashed;
    ASSERT_EQ(crashedCount, 1) << round;
    const auto frames = crashedFrames(report);
    ASSERT_GE(frames.size(), 2u) << round;
    EXPECT_EQ(frames[0], "product_crash_depth_5") << round;
    EXPECT_EQ(frames[1], "product_crash_depth_4") << round;
  }
}

// A thread that crashes while the first report is written, and that cannot be parked (it blocks the
// parking signal), waits without touching the report and is listed with the stack of its own crash.
TEST(SimultaneousCrashes, ALaterCrashIsListedFromItsOwnCrashSite) {
  testing_support::TempDir home;
  const Crashed crashed = crashWithReporter(home.path(), [] {
    std::atomic<bool> ready{false};
    std::thread([&] {
      sigset_t parking;
      sigemptyset(&parking);
      sigaddset(&parking, sys::threadParkingSignal());
      pthread_sigmask(SIG_BLOCK, &parking, nullptr);
      ready = true;
      while (sys::parkingOwner() == 0) {
      }
      product_crash_elsewhere(gUnmapped);
    }).detach();
    while (!ready.load()) {
    }
    product_crash_depth_1(gUnmapped);
  });
  ASSERT_TRUE(endedBySegv(crashed.ended)) << crashed.ended;
  ASSERT_TRUE(crashed.report.ok()) << crashed.report.error().description();
  EXPECT_EQ(crashedFrames(*crashed.report).front(), "product_crash_depth_5");
  int elsewhere = 0;
  for (const auto& thread : crashed.report->threads())
    elsewhere += !thread.crashed && !thread.stackFrames.empty() && thread.stackFrames[0].symbolInfo &&
                 thread.stackFrames[0].symbolInfo->symbolName == "product_crash_elsewhere";
  EXPECT_EQ(elsewhere, 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, SimultaneousCrashes, testing::Values(2, 8),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

// ---- What a report of the product's own code shows.

struct StackCase {
  const char* name;
  std::function<void()> crash;        // runs in the child after enabling
  std::vector<std::string> expected;  // the crashed thread's first frames, in order
  bool moduleListed;                  // the test library among the report's images
  std::function<void()> before = [] {};  // runs in the child before enabling
};
void PrintTo(const StackCase& c, std::ostream* out) { *out << c.name; }

class ProductStacks : public testing::TestWithParam<StackCase> {};

TEST_P(ProductStacks, NameTheCrashSiteAndEveryCallerInOrderAndListTheImagesMappedAtTheCrash) {
  const StackCase& c = GetParam();
  testing_support::TempDir home;
  const Crashed crashed = crashWithReporter(home.path(), c.crash, c.before);
  ASSERT_TRUE(endedBySegv(crashed.ended)) << crashed.ended;
  ASSERT_TRUE(crashed.report.ok()) << crashed.report.error().description();
  const auto frames = crashedFrames(*crashed.report);
  ASSERT_GE(frames.size(), c.expected.size());
  EXPECT_EQ(std::vector<std::string>(frames.begin(), frames.begin() + c.expected.size()), c.expected);
  bool listed = false;
  std::set<std::uint64_t> bases;
  for (const auto& image : crashed.report->images()) {
    listed |= image.imageName == CRASH_TEST_FRAMES_MODULE;
    EXPECT_TRUE(bases.insert(image.imageBaseAddress).second) << image.imageName << " listed twice";
  }
  EXPECT_EQ(listed, c.moduleListed);
}

void* gOpened = nullptr;  // the test library, opened before enabling
const std::vector<std::string> kFiveDeep = {"product_crash_depth_5", "product_crash_depth_4", "product_crash_depth_3",
                                            "product_crash_depth_2", "product_crash_depth_1"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ProductStacks, testing::Values(
    StackCase{"FiveCallsDeepInTheExecutable", [] { product_crash_depth_1(gUnmapped); }, kFiveDeep, false},
    // Opened after enabling, with nothing refreshing the image list before the crash.
    StackCase{"LibraryOpenedAfterEnabling", [] { crash_child::crashInModule(crash_child::openModule().enter); },
              {"crash_test_frame_c", "crash_test_frame_b", "crash_test_frame_a"}, true},
    // Listed at enabling, closed before the crash: gone from the report.
    StackCase{"LibraryClosedAfterEnabling", [] { dlclose(gOpened), product_crash_depth_1(gUnmapped); }, kFiveDeep,
              false, [] { gOpened = crash_child::openModule().handle; }}),
  [](const testing::TestParamInfo<StackCase>& info) { return std::string(info.param.name); });
// clang-format on

// A live report starts at the code that asked for it: none of the reporter's own frames, and every
// frame of every thread lies in a listed image.
std::size_t gLiveReportSize = 0;

// C linkage only keeps the frame's name plain; only C++ calls it, so its C++ result is safe.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" [[gnu::noinline]] foundation::Result<foundation::Bytes> product_live_report_caller(
    const TallyCrashReporter* reporter) {
  auto bytes = reporter->generateLiveReportAndReturnError();
  if (bytes) gLiveReportSize = bytes->size();  // what the application keeps of it
  return bytes;
}
#ifdef __clang__
#pragma clang diagnostic pop
#endif

TEST(ProductLiveReport, StartsAtItsCallerAndHoldsNoFrameOutsideTheImages) {
  testing_support::TempDir home;
  const TallyCrashReporter reporter = reporterAt(home.path());
  const auto bytes = product_live_report_caller(&reporter);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  const auto report = TallyCrashReport::initWithDataError(std::string(bytes->begin(), bytes->end()));
  ASSERT_TRUE(report.ok()) << report.error().description();
  const auto frames = crashedFrames(*report);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0], "product_live_report_caller");
  for (const auto& thread : report->threads())
    for (const auto& frame : thread.stackFrames)
      EXPECT_NE(report->imageForAddress(frame.instructionPointer), nullptr)
          << std::hex << frame.instructionPointer << " of thread " << thread.threadNumber;
}

}  // namespace
}  // namespace crash
