// Signal numbers and causes between the kernel's and the reporter's numbering; then the signal layer
// under real signals, each test in a crashing child (crash_child.h).
#include "crash_reporter/signal_handler.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crash_child.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/system/signal_stack.h"

namespace crash {
namespace {

using crash_child::check;
using crash_child::killedBy;
using crash_child::number;
using crash_child::Outcome;
using crash_child::report;
using crash_child::runInChild;

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

// ---- Deliberate faults. Values pass through volatile objects so the optimiser keeps every fault.

// Volatile: the store must land before the faulting write, which the compiler may otherwise move it past.
volatile std::uintptr_t gExpectedAddress = 0;

[[gnu::noinline]] void writeToUnmappedAddress() {
  volatile std::uintptr_t address = 0x10;
  gExpectedAddress = address;
  *reinterpret_cast<volatile int*>(address) = 1;
}

[[gnu::noinline]] void writeToProtectedPage() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  gExpectedAddress = reinterpret_cast<std::uintptr_t>(page);
  *static_cast<volatile int*>(page) = 1;
}

[[gnu::noinline]] void readBeyondEndOfMappedFile() {
  // A page mapped from an empty file has no backing: touching it is a bus error.
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, memfd_create("empty", MFD_CLOEXEC), 0);
  gExpectedAddress = reinterpret_cast<std::uintptr_t>(page);
  (void)*static_cast<volatile char*>(page);
}

// The undefined-behaviour sanitizer would report the division itself instead of letting it fault.
[[gnu::noinline]] __attribute__((no_sanitize("integer-divide-by-zero"))) void divideByZero() {
  volatile int dividend = 1, divisor = 0;  // constants would let the compiler divide without dividing
  volatile int quotient = dividend / divisor;
  (void)quotient;
}

[[gnu::noinline]] void runIllegalInstruction() {
#if defined(__x86_64__)
  asm volatile("ud2");
#else
  __builtin_trap();
#endif
}

[[gnu::noinline]] void hitBreakpoint() {
#if defined(__x86_64__)
  asm volatile("int3");
#else
  raise(SIGTRAP);
#endif
}

volatile int gStopRecursion = 0;

[[gnu::noinline]] int recurseForever(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (gStopRecursion) return frame[0];
  return recurseForever(depth + 1) + frame[0];
}

// ---- Callbacks. Each runs inside the signal handler and reports to the parent.

const char* addressClass(const crash_signal_info* info, const ucontext_t* uap) {
  if (info->address != 0 && info->address == gExpectedAddress) return "expected";
#if defined(__x86_64__)
  if (info->address != 0 && info->address == static_cast<std::uintptr_t>(uap->uc_mcontext.gregs[REG_RIP]))
    return "pc";
#endif
  return info->address == 0 ? "0" : "other";
}

// Reports "sig=<n> code=<n> addr=<class> stack=<alt|own> native=<ok|bad>;" and declines.
bool describingCallback(int signal, crash_signal_info* info, ucontext_t* uap, void*,
                        crash_signal_handler_callback*) {
  char sig[16], code[16];
  const bool nativeOk = uap && info->native && info->native->si_signo == info->native_signo &&
                        info->signo == signal && crash_signal_to_native(signal) == info->native_signo;
  report({"sig=", number(signal, sig), " code=", number(info->code, code), " addr=", addressClass(info, uap),
          sys::isOnAlternateSignalStack() ? " stack=alt" : " stack=own",
          nativeOk ? " native=ok;" : " native=bad;"});
  return false;
}

// Reports its name and answers `kHandles` without running the rest of the chain itself; with
// `kReports`, it also marks the crash reported, as the reporter's callback does once its report is
// written.
template <bool kHandles, bool kReports = false>
bool namingCallback(int, crash_signal_info* info, ucontext_t*, void* context,
                    crash_signal_handler_callback*) {
  report({static_cast<const char*>(context), ";"});
  if (kReports) info->reported = true;
  return kHandles;
}
constexpr auto naming = namingCallback<false>;
constexpr auto reportingCallback = namingCallback<false, true>;

// Reports its name, runs the rest of the chain itself and reports what it answered; answers the same,
// or with `kOverrules` handled whatever the rest answered.
template <bool kOverrules>
bool forwardingCallbackThat(int signal, crash_signal_info* info, ucontext_t* uap, void* context,
                            crash_signal_handler_callback* next) {
  const char* name = static_cast<const char*>(context);
  report({name, ">;"});
  const bool handled = crash_signal_handler_forward(next, signal, info, uap);
  report({name, handled ? "<handled;" : "<declined;"});
  return kOverrules || handled;
}
constexpr auto forwardingCallback = forwardingCallbackThat<false>;
constexpr auto overrulingCallback = forwardingCallbackThat<true>;

void registerOrDie(int signal, crash_signal_callback_fn callback, const char* name) {
  auto status = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
      signal, callback, const_cast<char*>(name));
  if (!status) {
    report({status.error().description().c_str()});
    _exit(99);
  }
}

// Actions installed before the layer.
void previousSigInfoHandler(int nativeSignal, siginfo_t* info, void* uap) {
  char sig[16];
  report({"previous native=", number(nativeSignal, sig),
          info && uap && info->si_signo == nativeSignal ? ";" : " bad;"});
  _exit(42);
}
void previousPlainHandler(int nativeSignal) {
  char sig[16];
  report({"plain native=", number(nativeSignal, sig), ";"});
  _exit(43);
}
void previousReturningHandler(int) { report({"previous returned;"}); }

enum class Earlier { kDefault, kIgnore, kSigInfoExits, kPlainExits, kReturns };

void installEarlier(int nativeSignal, Earlier earlier) {
  struct sigaction action {};
  if (earlier == Earlier::kSigInfoExits) {
    action.sa_sigaction = previousSigInfoHandler;
    action.sa_flags = SA_SIGINFO;
  } else {
    action.sa_handler = earlier == Earlier::kIgnore       ? SIG_IGN
                        : earlier == Earlier::kPlainExits ? previousPlainHandler
                        : earlier == Earlier::kReturns    ? previousReturningHandler
                                                          : SIG_DFL;
  }
  sigaction(nativeSignal, &action, nullptr);
}

// ---- Real faults: what the callback saw, in the reporter's numbering, and that the process still
// died of the signal.

struct FaultCase {
  const char* name;
  void (*fault)();
  int nativeSignal;
  const char* expected;
};
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class SignalLayerFault : public testing::TestWithParam<FaultCase> {};

TEST_P(SignalLayerFault, ReportsInReporterNumberingAndDiesOfTheSignal) {
  const FaultCase& fault = GetParam();
  EXPECT_EQ(runInChild([&] {
              for (int signal :
                   {CRASH_SIGABRT, CRASH_SIGBUS, CRASH_SIGFPE, CRASH_SIGILL, CRASH_SIGSEGV, CRASH_SIGTRAP})
                registerOrDie(signal, describingCallback, "");
              fault.fault();
              report({"survived;"});
            }),
            Outcome(fault.expected, killedBy(fault.nativeSignal)));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, SignalLayerFault, testing::Values(
    FaultCase{"UnmappedWrite", writeToUnmappedAddress, SIGSEGV, "sig=11 code=1 addr=expected stack=alt native=ok;"},
    FaultCase{"ProtectedWrite", writeToProtectedPage, SIGSEGV, "sig=11 code=2 addr=expected stack=alt native=ok;"},
    FaultCase{"BusError", readBeyondEndOfMappedFile, SIGBUS, "sig=10 code=2 addr=expected stack=alt native=ok;"},
    FaultCase{"Abort", [] { abort(); }, SIGABRT, "sig=6 code=0 addr=0 stack=alt native=ok;"},
    FaultCase{"IntegerDivisionByZero", divideByZero, SIGFPE, "sig=8 code=7 addr=pc stack=alt native=ok;"},
    FaultCase{"IllegalInstruction", runIllegalInstruction, SIGILL, "sig=4 code=4 addr=pc stack=alt native=ok;"},
    FaultCase{"Breakpoint", hitBreakpoint, SIGTRAP, "sig=5 code=1 addr=0 stack=alt native=ok;"}),
  [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });
// clang-format on

// ---- The chain, and the actions installed before the layer: the newest callback for the signal runs,
// and the rest only when it forwards.

struct ChainCase {
  const char* name;
  Earlier earlier;  // for the signal the trigger raises
  std::vector<std::tuple<int, crash_signal_callback_fn, const char*>> callbacks;  // in registration order
  void (*trigger)();
  std::string report;
  std::string end;
};
void PrintTo(const ChainCase& c, std::ostream* out) { *out << c.name; }

class SignalLayerChain : public testing::TestWithParam<ChainCase> {};

TEST_P(SignalLayerChain, RunsInOrderAndEndsTheProcessOnlyWhenItMust) {
  const ChainCase& c = GetParam();
  EXPECT_EQ(runInChild([&] {
              for (const auto& entry : c.callbacks)
                installEarlier(crash_signal_to_native(std::get<0>(entry)), c.earlier);
              for (const auto& [signal, callback, name] : c.callbacks) registerOrDie(signal, callback, name);
              c.trigger();
              report({"alive;"});
            }),
            Outcome(c.report, c.end));
}

const int kSegv = CRASH_SIGSEGV, kTrap = CRASH_SIGTRAP, kAbrt = CRASH_SIGABRT;
void raiseTrap() { raise(SIGTRAP); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, SignalLayerChain, testing::Values(
    ChainCase{"NewestFirstOnlyForItsSignalAndADecliningCallbackEndsTheChain", Earlier::kSigInfoExits,
              {{kSegv, naming, "first"}, {kSegv, forwardingCallback, "second"}, {CRASH_SIGBUS, naming, "bus"},
               {kSegv, forwardingCallback, "third"}},
              writeToUnmappedAddress, "third>;second>;first;second<declined;third<declined;", killedBy(SIGSEGV)},
    ChainCase{"HandlingStopsTheChainAndExecutionGoesOn", Earlier::kDefault,
              {{kTrap, naming, "earlier"}, {kTrap, namingCallback<true>, "handler"}}, raiseTrap, "handler;alive;",
              "exit 0"},
    ChainCase{"ForwardedToAnEarlierSigInfoHandlerAsTheKernelsSignal", Earlier::kSigInfoExits,
              {{CRASH_SIGBUS, forwardingCallback, "cb"}}, readBeyondEndOfMappedFile,
              "cb>;previous native=" + std::to_string(SIGBUS) + ";", "exit 42"},
    ChainCase{"ForwardedToAnEarlierPlainHandlerAsTheKernelsSignal", Earlier::kPlainExits,
              {{CRASH_SIGFPE, forwardingCallback, "cb"}}, divideByZero,
              "cb>;plain native=" + std::to_string(SIGFPE) + ";", "exit 43"},
    // Registered twice, a signal has two forwarding entries; the earlier action still runs once.
    ChainCase{"TwoRegistrationsRunTheEarlierActionOnce", Earlier::kReturns,
              {{kTrap, forwardingCallback, "a"}, {kTrap, forwardingCallback, "b"}}, raiseTrap,
              "b>;a>;previous returned;a<handled;b<handled;alive;", "exit 0"},
    ChainCase{"AnIgnoredSignalAProcessSentStaysIgnored", Earlier::kIgnore, {{kAbrt, forwardingCallback, "cb"}},
              [] { raise(SIGABRT), kill(getpid(), SIGABRT); }, "cb>;cb<handled;cb>;cb<handled;alive;", "exit 0"},
    // An ignored fault would fault again forever; it ends the process instead, and abort() still aborts.
    ChainCase{"AnIgnoredFaultEndsTheProcess", Earlier::kIgnore, {{kSegv, forwardingCallback, "cb"}},
              writeToUnmappedAddress, "cb>;cb<declined;", killedBy(SIGSEGV)},
    ChainCase{"AbortStillAborts", Earlier::kIgnore, {{kAbrt, forwardingCallback, "cb"}}, abort,
              "cb>;cb<handled;", killedBy(SIGABRT)},
    // A reported crash: the reporter's callback hands nothing on, so no earlier action runs after the
    // report is written, and the process ends whatever a newer callback answers.
    ChainCase{"AReportedCrashEndsDespiteAnEarlierIgnore", Earlier::kIgnore, {{kTrap, reportingCallback, "report"}},
              raiseTrap, "report;", killedBy(SIGTRAP)},
    ChainCase{"AReportedCrashRunsNoEarlierHandlerThatReturns", Earlier::kReturns,
              {{kTrap, reportingCallback, "report"}}, raiseTrap, "report;", killedBy(SIGTRAP)},
    ChainCase{"AReportedCrashRunsNoEarlierHandlerThatExits", Earlier::kSigInfoExits,
              {{kTrap, reportingCallback, "report"}}, raiseTrap, "report;", killedBy(SIGTRAP)},
    ChainCase{"AReportedCrashEndsThoughANewerCallbackCallsItHandled", Earlier::kIgnore,
              {{kTrap, reportingCallback, "report"}, {kTrap, overrulingCallback, "outer"}}, raiseTrap,
              "outer>;report;outer<declined;", killedBy(SIGTRAP)}),
  [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });
// clang-format on

// ---- Stack overflow needs an alternate stack on the overflowing thread.

// Takes away the calling thread's alternate stack, as a thread the layer never saw has none (a
// sanitizer runtime gives every thread one of its own).
void dropAlternateStack() {
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
}

// An alternate stack at least as large as the layer's own: a larger one already there (a sanitizer's,
// sized by the processor's signal frame) is kept rather than replaced.
bool hasLayerStack() {
  auto stack = sys::currentAlternateSignalStack();
  return stack && stack->ss_size >= TallyCrashSignalHandler::kAlternateStackSize;
}

// Runs `body` on a thread with a small stack and waits for it.
void onSmallStackThread(void (*body)()) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  pthread_create(
      &thread, &attributes, [](void* body) -> void* { return reinterpret_cast<void (*)()>(body)(), nullptr; },
      reinterpret_cast<void*>(body));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(SignalLayerStacks, TheMainThreadHasOneBeforeAnyRegistrationAnotherOnceItRegisteredOrWasPrepared) {
  EXPECT_EQ(runInChild([] {
              check(hasLayerStack(), "main 64k");
              std::thread([] { registerOrDie(kSegv, naming, "cb"); }).join();
              // The overflow then comes after 1 MB rather than after whatever the environment allows.
              const rlimit limit{1 << 20, 1 << 20};
              setrlimit(RLIMIT_STACK, &limit);
              recurseForever(0);
            }),
            Outcome("main 64k;cb;", killedBy(SIGSEGV)));

  const std::pair<void (*)(), const char*> threads[] = {
      // Without a stack to run on, the handler cannot start; the kernel ends the process.
      {[] { dropAlternateStack(), recurseForever(0); }, ""},
      {[] {
         dropAlternateStack();
         check(TallyCrashSignalHandler::prepareCurrentThread().ok() && hasLayerStack(), "prepared");
         recurseForever(0);
       },
       "prepared;cb;"},
      {[] {
         dropAlternateStack();
         registerOrDie(kSegv, naming, "own");
         check(hasLayerStack(), "64k");
         recurseForever(0);
       },
       "64k;own;"}};
  for (const auto& [thread, expected] : threads) {
    EXPECT_EQ(runInChild([body = thread] {
                registerOrDie(kSegv, naming, "cb");
                onSmallStackThread(body);
              }),
              Outcome(expected, killedBy(SIGSEGV)));
  }
}

// ---- Registration.

// How many entries of the list match.
template <class T, class Match>
int count(crash_async_list<T>& list, Match match) {
  int n = 0;
  for (auto* node = crash_async_list_next(&list, nullptr); node; node = crash_async_list_next(&list, node))
    n += match(node->value);
  return n;
}
int countEntries(int signal, crash_signal_callback_fn callback) {
  return count(crash_shared_handler.callbacks,
               [&](auto& e) { return e.signal == signal && e.callback == callback; });
}
int countPreviousActions(int signal) {
  return count(crash_shared_handler.previous_actions, [&](auto& e) { return e.signal == signal; });
}

TEST(SignalLayerRegistration, InstallsOnceWithSigInfoOnTheAlternateStackAndRefusesUncatchableSignals) {
  EXPECT_EQ(
      runInChild([] {
        registerOrDie(kSegv, naming, "a");
        struct sigaction installed {};
        sigaction(SIGSEGV, nullptr, &installed);
        // The C library adds its own return trampoline flag (SA_RESTORER, which it does not export).
        check(installed.sa_sigaction == crash_signal_handler &&
                  (installed.sa_flags & ~0x04000000) == (SA_SIGINFO | SA_ONSTACK),
              "ours");
        bool maskEmpty = true;
        for (int s = 1; s < NSIG; ++s) maskEmpty = maskEmpty && !sigismember(&installed.sa_mask, s);
        check(maskEmpty, "mask empty");
        // A second registration must not install again: an action put in meanwhile stays.
        installEarlier(SIGSEGV, Earlier::kSigInfoExits);
        registerOrDie(kSegv, forwardingCallback, "b");
        sigaction(SIGSEGV, nullptr, &installed);
        check(installed.sa_sigaction == previousSigInfoHandler, "kept");
        check(countPreviousActions(kSegv) == 1 && countEntries(kSegv, crash_previous_action_callback) == 2 &&
                  countEntries(kSegv, naming) == 1 && countEntries(kSegv, forwardingCallback) == 1,
              "entries");
        // Signals the kernel lacks or that cannot be caught are refused and leave no trace.
        for (int signal : {CRASH_SIGEMT, CRASH_SIGINFO, CRASH_SIGKILL, CRASH_SIGSTOP, 0, 64}) {
          auto status = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
              signal, naming, nullptr);
          check(!status.ok() && status.error().code == 1 &&
                    status.error().localizedDescription() == "Failed to register signal handler" &&
                    status.error().underlying && status.error().underlying->code == EINVAL,
                "refused");
        }
        check(countEntries(CRASH_SIGKILL, naming) == 0 && countPreviousActions(CRASH_SIGKILL) == 0,
              "no trace");
      }),
      Outcome("ours;mask empty;kept;entries;refused;refused;refused;refused;refused;refused;no trace;",
              "exit 0"));
}

TEST(SignalLayerRegistration, ResetPutsBackTheEarlierActions) {
  EXPECT_EQ(runInChild([] {
              installEarlier(SIGTRAP, Earlier::kReturns);
              registerOrDie(kTrap, naming, "cb");
              registerOrDie(CRASH_SIGILL, naming, "cb");
              TallyCrashSignalHandler::resetHandlers();
              struct sigaction trap {
              }, ill{};
              sigaction(SIGTRAP, nullptr, &trap);
              sigaction(SIGILL, nullptr, &ill);
              check(trap.sa_handler == previousReturningHandler && ill.sa_handler == SIG_DFL, "restored");
              check(!crash_async_list_next(&crash_shared_handler.callbacks, nullptr) &&
                        !crash_async_list_next(&crash_shared_handler.previous_actions, nullptr),
                    "lists empty");
              // Registering again chains to the restored action, not to the layer itself.
              registerOrDie(kTrap, forwardingCallback, "again");
              raiseTrap();
              report({"alive;"});
            }),
            Outcome("restored;lists empty;again>;previous returned;again<handled;alive;", "exit 0"));
}

}  // namespace
}  // namespace crash
