#include "crash_reporter/signal_numbers.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace crash {
namespace {

TEST(SignalNumbers, ReporterSignalsMapToTheKernelsAndBackAndOneSidedOnesToNothing) {
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
  EXPECT_EQ(crash_signal_from_native(SIGBUS), 10);  // the numbers reports carry, spelled out
  EXPECT_EQ(crash_signal_from_native(SIGUSR1), 30);
  for (int signal : {CRASH_SIGEMT, CRASH_SIGINFO, 0, 32, -3}) EXPECT_EQ(crash_signal_to_native(signal), -1);
  for (int native : {SIGSTKFLT, SIGPWR, SIGRTMIN, 0}) EXPECT_EQ(crash_signal_from_native(native), 0);
}

TEST(SignalNumbers, CausesAreRenumberedKeptOrClearedForSentSignals) {
  const struct {
    int signal, nativeCode, code;
  } cases[] = {{SIGILL, ILL_ILLOPC, CRASH_ILL_ILLOPC},
               {SIGILL, ILL_ILLOPN, 4},
               {SIGILL, ILL_ILLADR, 5},
               {SIGILL, ILL_ILLTRP, 2},
               {SIGILL, ILL_PRVOPC, 3},
               {SIGILL, ILL_PRVREG, 6},
               {SIGILL, ILL_COPROC, 7},
               {SIGILL, ILL_BADSTK, 8},
               {SIGFPE, FPE_INTDIV, 7},
               {SIGFPE, FPE_INTOVF, 8},
               {SIGFPE, FPE_FLTDIV, 1},
               {SIGFPE, FPE_FLTOVF, 2},
               {SIGFPE, FPE_FLTUND, 3},
               {SIGFPE, FPE_FLTRES, 4},
               {SIGFPE, FPE_FLTINV, 5},
               {SIGFPE, FPE_FLTSUB, 6},
               // Numbered alike, or unknown: kept.
               {SIGSEGV, SEGV_MAPERR, CRASH_SEGV_MAPERR},
               {SIGSEGV, SEGV_ACCERR, CRASH_SEGV_ACCERR},
               {SIGBUS, BUS_ADRALN, CRASH_BUS_ADRALN},
               {SIGBUS, BUS_OBJERR, CRASH_BUS_OBJERR},
               {SIGTRAP, TRAP_TRACE, CRASH_TRAP_TRACE},
               {SIGFPE, 14, 14},
               {SIGSEGV, 4, 4},
               // Sent by a process: no cause. The kernel's generic code is a breakpoint only for SIGTRAP.
               {SIGABRT, SI_TKILL, 0},
               {SIGSEGV, SI_USER, 0},
               {SIGILL, SI_QUEUE, 0},
               {SIGTRAP, SI_KERNEL, CRASH_TRAP_BRKPT},
               {SIGSEGV, SI_KERNEL, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(crash_signal_code_from_native(c.signal, c.nativeCode), c.code)
        << c.signal << " " << c.nativeCode;
  }
}

}  // namespace
}  // namespace crash
