#pragma once
// The crash reporter numbers signals and their causes as the phone's platform does (SIGBUS is 10,
// an integer division by zero is FPE_INTDIV 7), so that reports read the same wherever they were
// written. The kernel here numbers them its own way; these functions translate at the edge, where
// handlers are installed and where a caught signal enters the crash path. All of them are safe to
// call from a signal handler (table look-ups only).

namespace crash {

inline constexpr int CRASH_SIGHUP = 1;
inline constexpr int CRASH_SIGINT = 2;
inline constexpr int CRASH_SIGQUIT = 3;
inline constexpr int CRASH_SIGILL = 4;
inline constexpr int CRASH_SIGTRAP = 5;
inline constexpr int CRASH_SIGABRT = 6;
inline constexpr int CRASH_SIGEMT = 7;
inline constexpr int CRASH_SIGFPE = 8;
inline constexpr int CRASH_SIGKILL = 9;
inline constexpr int CRASH_SIGBUS = 10;
inline constexpr int CRASH_SIGSEGV = 11;
inline constexpr int CRASH_SIGSYS = 12;
inline constexpr int CRASH_SIGPIPE = 13;
inline constexpr int CRASH_SIGALRM = 14;
inline constexpr int CRASH_SIGTERM = 15;
inline constexpr int CRASH_SIGURG = 16;
inline constexpr int CRASH_SIGSTOP = 17;
inline constexpr int CRASH_SIGTSTP = 18;
inline constexpr int CRASH_SIGCONT = 19;
inline constexpr int CRASH_SIGCHLD = 20;
inline constexpr int CRASH_SIGTTIN = 21;
inline constexpr int CRASH_SIGTTOU = 22;
inline constexpr int CRASH_SIGIO = 23;
inline constexpr int CRASH_SIGXCPU = 24;
inline constexpr int CRASH_SIGXFSZ = 25;
inline constexpr int CRASH_SIGVTALRM = 26;
inline constexpr int CRASH_SIGPROF = 27;
inline constexpr int CRASH_SIGWINCH = 28;
inline constexpr int CRASH_SIGINFO = 29;
inline constexpr int CRASH_SIGUSR1 = 30;
inline constexpr int CRASH_SIGUSR2 = 31;

// Causes of SIGILL.
inline constexpr int CRASH_ILL_NOOP = 0;
inline constexpr int CRASH_ILL_ILLOPC = 1;
inline constexpr int CRASH_ILL_ILLTRP = 2;
inline constexpr int CRASH_ILL_PRVOPC = 3;
inline constexpr int CRASH_ILL_ILLOPN = 4;
inline constexpr int CRASH_ILL_ILLADR = 5;
inline constexpr int CRASH_ILL_PRVREG = 6;
inline constexpr int CRASH_ILL_COPROC = 7;
inline constexpr int CRASH_ILL_BADSTK = 8;
// Causes of SIGFPE.
inline constexpr int CRASH_FPE_NOOP = 0;
inline constexpr int CRASH_FPE_FLTDIV = 1;
inline constexpr int CRASH_FPE_FLTOVF = 2;
inline constexpr int CRASH_FPE_FLTUND = 3;
inline constexpr int CRASH_FPE_FLTRES = 4;
inline constexpr int CRASH_FPE_FLTINV = 5;
inline constexpr int CRASH_FPE_FLTSUB = 6;
inline constexpr int CRASH_FPE_INTDIV = 7;
inline constexpr int CRASH_FPE_INTOVF = 8;
// Causes of SIGSEGV.
inline constexpr int CRASH_SEGV_NOOP = 0;
inline constexpr int CRASH_SEGV_MAPERR = 1;
inline constexpr int CRASH_SEGV_ACCERR = 2;
// Causes of SIGBUS.
inline constexpr int CRASH_BUS_NOOP = 0;
inline constexpr int CRASH_BUS_ADRALN = 1;
inline constexpr int CRASH_BUS_ADRERR = 2;
inline constexpr int CRASH_BUS_OBJERR = 3;
// Causes of SIGTRAP.
inline constexpr int CRASH_TRAP_BRKPT = 1;
inline constexpr int CRASH_TRAP_TRACE = 2;

// The kernel's number for a reporter signal, or -1 when the kernel has no such signal
// (SIGEMT, SIGINFO) or the number is not a signal. Safe in a signal handler.
int crash_signal_to_native(int signal) noexcept;

// The reporter's number for a kernel signal, or 0 when the reporter has none for it
// (real-time signals, SIGSTKFLT, SIGPWR). Safe in a signal handler.
int crash_signal_from_native(int nativeSignal) noexcept;

// The reporter's cause code for a kernel `nativeCode` of `nativeSignal`. Causes the two number
// differently (SIGILL, SIGFPE) are translated; a signal sent by a process rather than raised by the
// kernel for a fault (a code of 0 or below, as kill, raise and abort give) has cause 0; the kernel's
// generic code of a breakpoint instruction is TRAP_BRKPT and of other faults 0; any other code is
// kept as it is. Safe in a signal handler.
int crash_signal_code_from_native(int nativeSignal, int nativeCode) noexcept;

}  // namespace crash
