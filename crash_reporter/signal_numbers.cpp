#include "crash_reporter/signal_numbers.h"

#include <signal.h>

namespace crash {
namespace {

// Kernel signal by reporter number; -1 where the kernel has none.
constexpr int kNativeByReporter[] = {
    -1,  // 0
    SIGHUP,  SIGINT,    SIGQUIT, SIGILL,   SIGTRAP,          SIGABRT, -1 /* SIGEMT */, SIGFPE,
    SIGKILL, SIGBUS,    SIGSEGV, SIGSYS,   SIGPIPE,          SIGALRM, SIGTERM,         SIGURG,
    SIGSTOP, SIGTSTP,   SIGCONT, SIGCHLD,  SIGTTIN,          SIGTTOU, SIGIO,           SIGXCPU,
    SIGXFSZ, SIGVTALRM, SIGPROF, SIGWINCH, -1 /* SIGINFO */, SIGUSR1, SIGUSR2,
};
constexpr int kReporterSignalCount =
    static_cast<int>(sizeof(kNativeByReporter) / sizeof(kNativeByReporter[0]));

// Reporter SIGILL cause by kernel cause (ILL_ILLOPC 1 ... ILL_BADSTK 8).
constexpr int kIllByNative[] = {CRASH_ILL_NOOP,   CRASH_ILL_ILLOPC, CRASH_ILL_ILLOPN,
                                CRASH_ILL_ILLADR, CRASH_ILL_ILLTRP, CRASH_ILL_PRVOPC,
                                CRASH_ILL_PRVREG, CRASH_ILL_COPROC, CRASH_ILL_BADSTK};
// Reporter SIGFPE cause by kernel cause (FPE_INTDIV 1 ... FPE_FLTSUB 8).
constexpr int kFpeByNative[] = {CRASH_FPE_NOOP,   CRASH_FPE_INTDIV, CRASH_FPE_INTOVF,
                                CRASH_FPE_FLTDIV, CRASH_FPE_FLTOVF, CRASH_FPE_FLTUND,
                                CRASH_FPE_FLTRES, CRASH_FPE_FLTINV, CRASH_FPE_FLTSUB};
static_assert(ILL_ILLOPC == 1 && ILL_ILLOPN == 2 && ILL_ILLADR == 3 && ILL_ILLTRP == 4 && ILL_PRVOPC == 5 &&
              ILL_PRVREG == 6 && ILL_COPROC == 7 && ILL_BADSTK == 8);
static_assert(FPE_INTDIV == 1 && FPE_INTOVF == 2 && FPE_FLTDIV == 3 && FPE_FLTOVF == 4 && FPE_FLTUND == 5 &&
              FPE_FLTRES == 6 && FPE_FLTINV == 7 && FPE_FLTSUB == 8);
static_assert(SEGV_MAPERR == CRASH_SEGV_MAPERR && SEGV_ACCERR == CRASH_SEGV_ACCERR);
static_assert(BUS_ADRALN == CRASH_BUS_ADRALN && BUS_ADRERR == CRASH_BUS_ADRERR &&
              BUS_OBJERR == CRASH_BUS_OBJERR);
static_assert(TRAP_BRKPT == CRASH_TRAP_BRKPT && TRAP_TRACE == CRASH_TRAP_TRACE);

}  // namespace

int crash_signal_to_native(int signal) noexcept {
  if (signal <= 0 || signal >= kReporterSignalCount) return -1;
  return kNativeByReporter[signal];
}

int crash_signal_from_native(int nativeSignal) noexcept {
  if (nativeSignal <= 0) return 0;
  for (int reporter = 1; reporter < kReporterSignalCount; ++reporter) {
    if (kNativeByReporter[reporter] == nativeSignal) return reporter;
  }
  return 0;
}

int crash_signal_code_from_native(int nativeSignal, int nativeCode) noexcept {
  if (nativeCode <= 0) return 0;
  if (nativeCode == SI_KERNEL) return nativeSignal == SIGTRAP ? CRASH_TRAP_BRKPT : 0;
  constexpr int kTableSize = static_cast<int>(sizeof(kIllByNative) / sizeof(kIllByNative[0]));
  if (nativeSignal == SIGILL && nativeCode < kTableSize) return kIllByNative[nativeCode];
  if (nativeSignal == SIGFPE && nativeCode < kTableSize) return kFpeByNative[nativeCode];
  return nativeCode;
}

}  // namespace crash
