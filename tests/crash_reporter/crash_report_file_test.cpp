// Report files from real crashes. Each child sets a writer up, crashes on purpose inside the test
// module's functions (whose names the symbol lookup finds), and writes its report from the signal
// handler; the parent reads the file back, parses and formats it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "crash_reporter/crash_child.h"
#include "crash_reporter/crash_report.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/signal_numbers.h"
#include "crash_reporter/text_formatter.h"
#include "platform/system/threads.h"
#include "support/temp_dir.h"

namespace crash {
namespace {

using crash_child::FrameFunction;
using crash_child::readFile;

crash_log_writer gWriter;
crash_async_image_list gImages;
char gPath[512], gTempPath[512];

void onCrash(int nativeSignal, siginfo_t* info, void* uap) noexcept {
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &static_cast<ucontext_t*>(uap)->uc_mcontext);
  crash_log_signal_info signal{};
  signal.bsd.signo = crash_signal_from_native(nativeSignal);
  signal.bsd.code = crash_signal_code_from_native(nativeSignal, info->si_code);
  signal.bsd.address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const crash_error_t result = crash_write_report_file(
      &gWriter, gPath, gTempPath, crash_async_mach_thread_self(), &gImages, &signal, &state);
  _exit(result == CRASH_ESUCCESS ? 0 : 10 + result);
}

// Runs `crash` in a forked child whose crash handler writes the report to `path`; returns how the
// child ended ("exit 0": the report was written whole).
std::string crashInChild(const std::filesystem::path& path, const std::function<void(FrameFunction)>& crash) {
  return crash_child::runInChild([&] {
           const FrameFunction enter = crash_child::openModule().enter;
           if (!enter || sys::prepareThreadParking() != 0) _exit(3);
           std::snprintf(gPath, sizeof gPath, "%s", path.c_str());
           std::snprintf(gTempPath, sizeof gTempPath, "%s.tmp", path.c_str());
           crash_async_image_list_init(&gImages, crash_async_task_self());
           crash_async_image_list_sync(&gImages);
           if (crash_log_writer_init(&gWriter, "com.example.diary", "1.2", CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE,
                                     false) != CRASH_ESUCCESS)
             _exit(4);
           struct sigaction action {};
           action.sa_sigaction = onCrash;
           action.sa_flags = SA_SIGINFO;
           for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP})
             sigaction(sig, &action, nullptr);
           crash(enter);
           _exit(5);
         })
      .second;
}

// A frame named `name`, or (for a name ending in ".so.6") a frame inside that library.
bool hasFrameNamed(const TallyCrashReport& report, const std::vector<TallyCrashReportStackFrameInfo>& frames,
                   const std::string& name) {
  for (const auto& frame : frames) {
    if (frame.symbolInfo && frame.symbolInfo->symbolName == name) return true;
    const auto* image = report.imageForAddress(frame.instructionPointer);
    if (image && image->imageName.ends_with("/" + name)) return true;
  }
  return false;
}

volatile int gZero = 0;
volatile int gWorkerState = 0;
volatile int gQuotient = 0;

struct CrashCase {
  const char* label;
  const char* signal;
  const char* frame;      // a frame the crashed thread must show: a function, or a library
  void (*action)(void*);  // run from inside crash_test_frame_c; null: a store to an unmapped page there
};

const CrashCase kCrashes[] = {
    {"segv", "SIGSEGV", "crash_test_frame_c", nullptr},
    {"abort", "SIGABRT", "libc.so.6", [](void*) { std::abort(); }},
    {"fpe", "SIGFPE", "crash_test_frame_b",
     [](void*) {
       // In assembly, so that a sanitizer's check of the division cannot stop it first.
       int quotient;
       __asm__ volatile("cltd; idivl %1" : "=a"(quotient) : "r"(gZero), "a"(10) : "edx");
       gQuotient = quotient;
     }},
    {"ill", "SIGILL", "crash_test_frame_b", [](void*) { __builtin_trap(); }},
    {"trap", "SIGTRAP", "crash_test_frame_b", [](void*) { __asm__ volatile("int3"); }},
    {"bus", "SIGBUS", "crash_test_frame_b",
     [](void* path) {
       // A page of a file that has no byte there.
       const int fd = open(static_cast<const char*>(path), O_RDWR | O_CREAT | O_TRUNC, 0600);
       auto* page =
           static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
       page[0] = 1;
     }},
};

TEST(CrashReportFile, EachCrashKindIsWrittenParsedAndFormatted) {
  testing_support::TempDir dir;
  for (const CrashCase& c : kCrashes) {
    const auto path = dir / (std::string(c.label) + ".crashlg");
    const std::string busFile = (dir / "bus").string();
    // What a crash that died mid-write leaves: the report must still be a fresh, whole, private file.
    { std::ofstream(path.string() + ".tmp") << std::string(100000, 'x'); }
    std::filesystem::permissions(path.string() + ".tmp", std::filesystem::perms(0644));
    const std::string status = crashInChild(path, [&](FrameFunction enter) {
      // A worker parked in the module's frames, to be listed beside the crashed thread.
      std::thread([enter] { enter(1, &gWorkerState, nullptr, nullptr); }).detach();
      while (gWorkerState != 1) std::this_thread::yield();
      if (c.action)
        enter(2, nullptr, c.action, const_cast<char*>(busFile.c_str()));
      else
        crash_child::crashInModule(enter);
    });
    ASSERT_EQ(status, "exit 0") << c.label;
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp")) << c.label;
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.substr(0, 8), std::string("crashlg\x01", 8)) << c.label;
    auto report = TallyCrashReport::initWithDataError(bytes);
    ASSERT_TRUE(report.ok()) << c.label << ": " << report.error().description();
    EXPECT_EQ(report->signalInfo().name, c.signal) << c.label;
    EXPECT_FALSE(report->signalInfo().code.empty());
    EXPECT_EQ(report->applicationInfo().applicationIdentifier, "com.example.diary");
    EXPECT_EQ(report->systemInfo().operatingSystem, TallyCrashReportOperatingSystemiPhoneOS);
    EXPECT_EQ(report->systemInfo().architecture, TallyCrashReportArchitectureUnknown);
    EXPECT_FALSE(report->userRequested());
    EXPECT_FALSE(report->truncated());
    ASSERT_TRUE(report->uuidRef().has_value());

    int crashed = 0;
    for (std::size_t i = 0; i < report->threads().size(); ++i) {
      const auto& thread = report->threads()[i];
      EXPECT_EQ(thread.threadNumber, static_cast<std::int64_t>(i));
      if (!thread.crashed) continue;
      ++crashed;
      EXPECT_FALSE(thread.registers.empty());
      EXPECT_EQ(thread.registers[0].registerName, "rip");
      // The crash happened in crash_test_frame_c or in an action it called, whose callers a
      // frame-pointer walk finds; abort crashes inside the C library, which keeps no frame pointers.
      EXPECT_TRUE(hasFrameNamed(*report, thread.stackFrames, c.frame))
          << c.label << "\n"
          << TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
                 *report, TallyCrashReportTextFormatiOS);
    }
    EXPECT_EQ(crashed, 1) << c.label;
    EXPECT_GE(report->threads().size(), 2u);

    const std::string text = TallyCrashReportTextFormatter::stringValueForCrashReportWithTextFormat(
        *report, TallyCrashReportTextFormatiOS);
    EXPECT_NE(text.find(std::string("Exception Type:  ") + c.signal), std::string::npos) << text;
    EXPECT_NE(text.find("crash_test_frame_b"), std::string::npos) << text;
    EXPECT_NE(text.find("Binary Images:"), std::string::npos);
  }
}

TEST(CrashReportFile, AWaitingReportIsNeverReplacedByTheNextCrash) {
  testing_support::TempDir dir;
  const auto path = dir / "live_report.crashlg";
  { std::ofstream(path) << "earlier"; }
  EXPECT_EQ(crashInChild(path, crash_child::crashInModule), "exit " + std::to_string(10 + CRASH_EINTERNAL));
  EXPECT_EQ(readFile(path), "earlier");
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
}

}  // namespace
}  // namespace crash
