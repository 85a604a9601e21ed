#include "crash_reporter/signal_numbers.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace crash {
namespace {

TEST(SignalNumbers, ReporterSignalsMapToTheKernelsAndBack) {
  const std::pair<int, int> pairs[] = {
      {CRASH_SIGHUP, SIGHUP},       {CRASH_SIGINT, SIGINT},   {CRASH_SIGQUIT, SIGQUIT},
      {CRASH_SIGILL, SIGILL},       {CRASH_SIGTRAP, SIGTRAP}, {CRASH_SIGABRT, SIGABRT},
      {CRASH_SIGFPE, SIGFPE},       {CRASH_SIGKILL, SIGKILL}, {CRASH_SIGBUS, SIGBUS},
      {CRASH_SIGSEGV, SIGSEGV},     {CRASH_SIGSYS, SIGSYS},   {CRASH_SIGPIPE, SIGPIPE},
      {CRASH_SIGALRM, SIGALRM},     {CRASH_SIGTERM, SIGTERM}, {CRASH_SIGURG, SIGURG},
      {CRASH_SIGSTOP, SIGSTOP},     {CRASH_SIGTSTP, SIGTSTP}, {CRASH_SIGCONT, SIGCONT},
      {CRASH_SIGCHLD, SIGCHLD},     {CRASH_SIGTTIN, SIGTTIN}, {CRASH_SIGTTOU, SIGTTOU},
      {CRASH_SIGIO, SIGIO},         {CRASH_SIGXCPU, SIGXCPU}, {CRASH_SIGXFSZ, SIGXFSZ},
      {CRASH_SIGVTALRM, SIGVTALRM}, {CRASH_SIGPROF, SIGPROF}, {CRASH_SIGWINCH, SIGWINCH},
      {CRASH_SIGUSR1, SIGUSR1},     {CRASH_SIGUSR2, SIGUSR2}};
  for (const auto& [reporter, native] : pairs) {
    EXPECT_EQ(crash_signal_to_native(reporter), native) << reporter;
    EXPECT_EQ(crash_signal_from_native(native), reporter) << native;
  }
  // The numbers that differ between the two, spelled out.
  EXPECT_EQ(CRASH_SIGBUS, 10);
  EXPECT_EQ(crash_signal_from_native(SIGBUS), 10);
  EXPECT_EQ(crash_signal_from_native(SIGUSR1), 30);
  EXPECT_EQ(crash_signal_from_native(SIGSYS), 12);
}

TEST(SignalNumbers, SignalsOnlyOneSideHasMapToNothing) {
  EXPECT_EQ(crash_signal_to_native(CRASH_SIGEMT), -1);
  EXPECT_EQ(crash_signal_to_native(CRASH_SIGINFO), -1);
  EXPECT_EQ(crash_signal_to_native(0), -1);
  EXPECT_EQ(crash_signal_to_native(32), -1);
  EXPECT_EQ(crash_signal_to_native(-3), -1);
  EXPECT_EQ(crash_signal_from_native(SIGSTKFLT), 0);
  EXPECT_EQ(crash_signal_from_native(SIGPWR), 0);
  EXPECT_EQ(crash_signal_from_native(SIGRTMIN), 0);
  EXPECT_EQ(crash_signal_from_native(0), 0);
}

TEST(SignalNumbers, CausesOfIllegalInstructionAndArithmeticAreRenumbered) {
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_ILLOPC), CRASH_ILL_ILLOPC);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_ILLOPN), 4);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_ILLADR), 5);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_ILLTRP), 2);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_PRVOPC), 3);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_PRVREG), 6);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_COPROC), 7);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, ILL_BADSTK), 8);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_INTDIV), 7);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_INTOVF), 8);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTDIV), 1);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTOVF), 2);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTUND), 3);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTRES), 4);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTINV), 5);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, FPE_FLTSUB), 6);
}

TEST(SignalNumbers, CausesNumberedAlikeOrUnknownAreKept) {
  EXPECT_EQ(crash_signal_code_from_native(SIGSEGV, SEGV_MAPERR), CRASH_SEGV_MAPERR);
  EXPECT_EQ(crash_signal_code_from_native(SIGSEGV, SEGV_ACCERR), CRASH_SEGV_ACCERR);
  EXPECT_EQ(crash_signal_code_from_native(SIGBUS, BUS_ADRALN), CRASH_BUS_ADRALN);
  EXPECT_EQ(crash_signal_code_from_native(SIGBUS, BUS_OBJERR), CRASH_BUS_OBJERR);
  EXPECT_EQ(crash_signal_code_from_native(SIGTRAP, TRAP_TRACE), CRASH_TRAP_TRACE);
  EXPECT_EQ(crash_signal_code_from_native(SIGFPE, 14), 14);
  EXPECT_EQ(crash_signal_code_from_native(SIGSEGV, 4), 4);
}

TEST(SignalNumbers, SentSignalsHaveNoCauseAndKernelBreakpointsAreBreakpoints) {
  EXPECT_EQ(crash_signal_code_from_native(SIGABRT, SI_TKILL), 0);
  EXPECT_EQ(crash_signal_code_from_native(SIGSEGV, SI_USER), 0);
  EXPECT_EQ(crash_signal_code_from_native(SIGILL, SI_QUEUE), 0);
  EXPECT_EQ(crash_signal_code_from_native(SIGTRAP, SI_KERNEL), CRASH_TRAP_BRKPT);
  EXPECT_EQ(crash_signal_code_from_native(SIGSEGV, SI_KERNEL), 0);
}

}  // namespace
}  // namespace crash
