#include "crash_reporter/signal_numbers.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace crash {
namespace {

TEST(SignalNumbers, ReporterSignalsMapToTheKernelsAndBackAndOneSidedOnesToNothing) {
  // The numbers reports carry, spelled out for the signals the reporter catches.
  const std::pair<int, int> crashes[] = {{4, SIGILL}, {5, SIGTRAP}, {6, SIGABRT},
                                         {8, SIGFPE}, {10, SIGBUS}, {11, SIGSEGV}};
  for (const auto& [reporter, native] : crashes) {
    EXPECT_EQ(crash_signal_to_native(reporter), native) << reporter;
    EXPECT_EQ(crash_signal_from_native(native), reporter) << native;
  }
  int mapped = 0;
  for (int reporter = 1; reporter <= CRASH_SIGUSR2; ++reporter) {
    const int native = crash_signal_to_native(reporter);
    if (native == -1) continue;
    ++mapped;
    EXPECT_EQ(crash_signal_from_native(native), reporter) << reporter;
  }
  EXPECT_EQ(mapped, 29);  // all but SIGEMT and SIGINFO
  EXPECT_EQ(crash_signal_from_native(SIGUSR1), 30);
  for (int signal : {CRASH_SIGEMT, CRASH_SIGINFO, 0, 32, -3}) EXPECT_EQ(crash_signal_to_native(signal), -1);
  for (int native : {SIGSTKFLT, SIGPWR, SIGRTMIN, 0}) EXPECT_EQ(crash_signal_from_native(native), 0);
}

TEST(SignalNumbers, CausesAreRenumberedKeptOrClearedForSentSignals) {
  const struct {
    int signal, nativeCode, code;
  } cases[] = {{SIGILL, ILL_ILLOPN, 4},
               {SIGILL, ILL_ILLTRP, 2},
               {SIGILL, ILL_BADSTK, 8},
               {SIGFPE, FPE_INTDIV, 7},
               {SIGFPE, FPE_FLTDIV, 1},
               {SIGFPE, FPE_FLTSUB, 6},
               // Numbered alike, or unknown: kept.
               {SIGSEGV, SEGV_ACCERR, CRASH_SEGV_ACCERR},
               {SIGFPE, 14, 14},
               {SIGSEGV, 4, 4},
               // Sent by a process: no cause. The kernel's generic code is a breakpoint only for SIGTRAP.
               {SIGABRT, SI_TKILL, 0},
               {SIGSEGV, SI_USER, 0},
               {SIGTRAP, SI_KERNEL, CRASH_TRAP_BRKPT},
               {SIGSEGV, SI_KERNEL, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(crash_signal_code_from_native(c.signal, c.nativeCode), c.code)
        << c.signal << " " << c.nativeCode;
  }
}

}  // namespace
}  // namespace crash
