#include "crash_reporter/signal_handler.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "child_process.h"
#include "crash_reporter/errors.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/system/signal_stack.h"

namespace crash {
namespace {

using crash_testing::report;
using crash_testing::reportNumber;
using crash_testing::runInChild;

constexpr int kCrashSignals[] = {CRASH_SIGABRT, CRASH_SIGBUS,  CRASH_SIGFPE,
                                 CRASH_SIGILL,  CRASH_SIGSEGV, CRASH_SIGTRAP};

// ---- Deliberate faults. Values pass through volatile objects so the optimiser keeps every fault.

std::uintptr_t gExpectedAddress = 0;

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
  const int fd = memfd_create("empty", MFD_CLOEXEC);
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  gExpectedAddress = reinterpret_cast<std::uintptr_t>(page);
  (void)*static_cast<volatile char*>(page);
}

// The undefined-behaviour sanitizer would report the division itself instead of letting it fault.
[[gnu::noinline, gnu::no_sanitize("integer-divide-by-zero")]] void divideByZero() {
  volatile int dividend = 1;
  volatile int divisor = 0;
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

// ---- Callbacks that report to the parent. Each runs inside the signal handler.

const char* addressClass(const crash_signal_info* info, const ucontext_t* uap) {
  if (info->address != 0 && info->address == gExpectedAddress) return "expected";
#if defined(__x86_64__)
  if (info->address != 0 && uap &&
      info->address == static_cast<std::uintptr_t>(uap->uc_mcontext.gregs[REG_RIP])) {
    return "pc";
  }
#endif
  return info->address == 0 ? "0" : "other";
}

// Reports "<name> sig=<n> code=<n> addr=<class> stack=<alt|own> native=<ok|bad>;" and declines.
bool describingCallback(int signal, crash_signal_info* info, ucontext_t* uap, void* context,
                        crash_signal_handler_callback*) {
  report(static_cast<const char*>(context));
  report(" sig=");
  reportNumber(signal);
  report(" code=");
  reportNumber(info->code);
  report(" addr=");
  report(addressClass(info, uap));
  report(" stack=");
  report(sys::isOnAlternateSignalStack() ? "alt" : "own");
  const bool nativeOk = uap && info->native && info->native->si_signo == info->native_signo &&
                        info->signo == signal && crash_signal_to_native(signal) == info->native_signo;
  report(nativeOk ? " native=ok;" : " native=bad;");
  return false;
}

// Reports its name and declines without running the rest of the chain.
bool namingCallback(int, crash_signal_info*, ucontext_t*, void* context, crash_signal_handler_callback*) {
  report(static_cast<const char*>(context));
  report(";");
  return false;
}

// Reports its name, runs the rest of the chain itself and reports what it answered.
bool forwardingCallback(int signal, crash_signal_info* info, ucontext_t* uap, void* context,
                        crash_signal_handler_callback* next) {
  report(static_cast<const char*>(context));
  report(">;");
  const bool handled = crash_signal_handler_forward(next, signal, info, uap);
  report(static_cast<const char*>(context));
  report(handled ? "<handled;" : "<declined;");
  return handled;
}

// Reports its name and handles the signal.
bool handlingCallback(int, crash_signal_info*, ucontext_t*, void* context, crash_signal_handler_callback*) {
  report(static_cast<const char*>(context));
  report(";");
  return true;
}

void registerOrDie(int signal, crash_signal_callback_fn callback, const char* name) {
  auto status = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
      signal, callback, const_cast<char*>(name));
  if (!status) {
    report("registration failed: ");
    report(status.error().description().c_str());
    _exit(99);
  }
}

void registerCrashSignals(crash_signal_callback_fn callback, const char* name) {
  for (int signal : kCrashSignals) registerOrDie(signal, callback, name);
}

void previousSigInfoHandler(int nativeSignal, siginfo_t* info, void* uap) {
  report("previous native=");
  reportNumber(nativeSignal);
  report(info && uap && info->si_signo == nativeSignal ? " info=ok;" : " info=bad;");
  _exit(42);
}

void previousPlainHandler(int nativeSignal) {
  report("plain native=");
  reportNumber(nativeSignal);
  report(";");
  _exit(43);
}

void previousReturningHandler(int) { report("previous returned;"); }

void install(int nativeSignal, void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(nativeSignal, &action, nullptr);
}

void install(int nativeSignal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(nativeSignal, &action, nullptr);
}

// ---- Real faults in a child: what the callback saw, and that the process still died of the signal.

struct FaultCase {
  const char* name;
  void (*fault)();
  int nativeSignal;
  std::string expected;
};

class SignalLayerFault : public testing::TestWithParam<FaultCase> {};

TEST_P(SignalLayerFault, ReportsInReporterNumberingAndDiesOfTheSignal) {
  const FaultCase& fault = GetParam();
  auto child = runInChild([&] {
    registerCrashSignals(describingCallback, "cb");
    fault.fault();
    report("survived;");
  });
  EXPECT_EQ(child.report, fault.expected);
  EXPECT_TRUE(child.killedBy(fault.nativeSignal)) << child.describe();
}

INSTANTIATE_TEST_SUITE_P(Faults, SignalLayerFault,
                         testing::Values(FaultCase{"UnmappedWrite", writeToUnmappedAddress, SIGSEGV,
                                                   "cb sig=11 code=1 addr=expected stack=alt native=ok;"},
                                         FaultCase{"ProtectedWrite", writeToProtectedPage, SIGSEGV,
                                                   "cb sig=11 code=2 addr=expected stack=alt native=ok;"},
                                         FaultCase{"BusError", readBeyondEndOfMappedFile, SIGBUS,
                                                   "cb sig=10 code=2 addr=expected stack=alt native=ok;"},
                                         FaultCase{"Abort", [] { abort(); }, SIGABRT,
                                                   "cb sig=6 code=0 addr=0 stack=alt native=ok;"},
                                         FaultCase{"IntegerDivisionByZero", divideByZero, SIGFPE,
                                                   "cb sig=8 code=7 addr=pc stack=alt native=ok;"},
                                         FaultCase{"IllegalInstruction", runIllegalInstruction, SIGILL,
                                                   "cb sig=4 code=4 addr=pc stack=alt native=ok;"},
                                         FaultCase{"Breakpoint", hitBreakpoint, SIGTRAP,
                                                   "cb sig=5 code=1 addr=0 stack=alt native=ok;"}),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Stack overflow needs the alternate stack of the overflowing thread.

void lowerMainStackLimit() {
  // The overflow then comes after 1 MB rather than after whatever the environment allows.
  const rlimit limit{1 << 20, 1 << 20};
  setrlimit(RLIMIT_STACK, &limit);
}

TEST(SignalLayerStacks, MainThreadOverflowIsCaughtWhenAnotherThreadEnabledTheLayer) {
  auto child = runInChild([] {
    std::thread enabling([] { registerOrDie(CRASH_SIGSEGV, namingCallback, "cb"); });
    enabling.join();
    lowerMainStackLimit();
    recurseForever(0);
  });
  EXPECT_EQ(child.report, "cb;");
  EXPECT_TRUE(child.killedBy(SIGSEGV)) << child.describe();
}

// Takes away the calling thread's alternate stack, as a thread the layer never saw has none (a
// sanitizer runtime gives every thread one of its own).
void dropAlternateStack() {
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
}

// Runs `body` on a thread with a small stack and waits for it.
void onSmallStackThread(void (*body)()) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  pthread_create(
      &thread, &attributes,
      [](void* argument) -> void* {
        reinterpret_cast<void (*)()>(argument)();
        return nullptr;
      },
      reinterpret_cast<void*>(body));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(SignalLayerStacks, EnablingThreadOverflowIsCaught) {
  auto child = runInChild([] {
    onSmallStackThread([] {
      dropAlternateStack();
      registerOrDie(CRASH_SIGSEGV, describingCallback, "cb");
      recurseForever(0);
    });
  });
  EXPECT_EQ(child.report.rfind("cb sig=11 ", 0), 0u) << child.report;
  EXPECT_NE(child.report.find("stack=alt"), std::string::npos) << child.report;
  EXPECT_TRUE(child.killedBy(SIGSEGV)) << child.describe();
}

TEST(SignalLayerStacks, OtherThreadsOverflowIsCaughtOnlyOncePrepared) {
  auto unprepared = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "cb");
    onSmallStackThread([] {
      dropAlternateStack();
      recurseForever(0);
    });
  });
  // Without a stack to run on, the handler cannot start; the kernel ends the process.
  EXPECT_EQ(unprepared.report, "");
  EXPECT_TRUE(unprepared.killedBy(SIGSEGV)) << unprepared.describe();

  auto prepared = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "cb");
    onSmallStackThread([] {
      dropAlternateStack();
      if (!TallyCrashSignalHandler::prepareCurrentThread()) report("prepare failed;");
      recurseForever(0);
    });
  });
  EXPECT_EQ(prepared.report, "cb;");
  EXPECT_TRUE(prepared.killedBy(SIGSEGV)) << prepared.describe();
}

TEST(SignalLayerStacks, MainThreadHasItsStackBeforeAnyRegistrationAndEveryRegistrarGetsOne) {
  auto child = runInChild([] {
    auto main = sys::currentAlternateSignalStack();
    report(main && main->ss_size == TallyCrashSignalHandler::kAlternateStackSize ? "main=64k;"
                                                                                 : "main=none;");
    std::thread registrar([] {
      dropAlternateStack();
      registerOrDie(CRASH_SIGSEGV, namingCallback, "cb");
      auto stack = sys::currentAlternateSignalStack();
      report(stack && stack->ss_size == 65536 && stack->ss_flags == 0 ? "registrar=64k;" : "registrar=bad;");
    });
    registrar.join();
  });
  EXPECT_EQ(child.report, "main=64k;registrar=64k;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

// ---- The chain.

TEST(SignalLayerChain, LastRegisteredRunsFirstAndForwardingRunsTheRest) {
  auto child = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "first");
    registerOrDie(CRASH_SIGSEGV, forwardingCallback, "second");
    writeToUnmappedAddress();
  });
  EXPECT_EQ(child.report, "second>;first;second<declined;");
  EXPECT_TRUE(child.killedBy(SIGSEGV)) << child.describe();
}

TEST(SignalLayerChain, DecliningWithoutForwardingStillReachesTheEarlierCallbacks) {
  auto child = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "first");
    registerOrDie(CRASH_SIGSEGV, namingCallback, "second");
    registerOrDie(CRASH_SIGSEGV, namingCallback, "third");
    writeToUnmappedAddress();
  });
  EXPECT_EQ(child.report, "third;second;first;");
  EXPECT_TRUE(child.killedBy(SIGSEGV)) << child.describe();
}

TEST(SignalLayerChain, HandlingStopsTheChainAndExecutionGoesOn) {
  auto child = runInChild([] {
    registerOrDie(CRASH_SIGTRAP, namingCallback, "earlier");
    registerOrDie(CRASH_SIGTRAP, handlingCallback, "handler");
    raise(SIGTRAP);
    report("alive;");
  });
  EXPECT_EQ(child.report, "handler;alive;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

TEST(SignalLayerChain, CallbacksRunOnlyForTheirOwnSignal) {
  auto child = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "segv");
    registerOrDie(CRASH_SIGBUS, namingCallback, "bus");
    registerOrDie(CRASH_SIGFPE, namingCallback, "fpe");
    readBeyondEndOfMappedFile();
  });
  EXPECT_EQ(child.report, "bus;");
  EXPECT_TRUE(child.killedBy(SIGBUS)) << child.describe();
}

// ---- Actions installed before the layer.

TEST(SignalLayerPrevious, SigInfoHandlerGetsTheKernelsSignalAfterTheCallbacks) {
  auto child = runInChild([] {
    install(SIGBUS, previousSigInfoHandler);
    registerOrDie(CRASH_SIGBUS, describingCallback, "cb");
    readBeyondEndOfMappedFile();
  });
  EXPECT_EQ(child.report, "cb sig=10 code=2 addr=expected stack=alt native=ok;previous native=" +
                              std::to_string(SIGBUS) + " info=ok;");
  EXPECT_TRUE(child.exitedWith(42)) << child.describe();
}

TEST(SignalLayerPrevious, PlainHandlerIsCalledWithTheKernelsNumber) {
  auto child = runInChild([] {
    install(SIGFPE, previousPlainHandler);
    registerCrashSignals(namingCallback, "cb");
    divideByZero();
  });
  EXPECT_EQ(child.report, "cb;plain native=" + std::to_string(SIGFPE) + ";");
  EXPECT_TRUE(child.exitedWith(43)) << child.describe();
}

TEST(SignalLayerPrevious, HandlerThatReturnsLetsASentSignalPass) {
  auto child = runInChild([] {
    install(SIGTRAP, previousReturningHandler);
    registerOrDie(CRASH_SIGTRAP, namingCallback, "cb");
    raise(SIGTRAP);
    report("alive;");
  });
  EXPECT_EQ(child.report, "cb;previous returned;alive;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

TEST(SignalLayerPrevious, IgnoredSignalSentByAProcessStaysIgnored) {
  auto child = runInChild([] {
    signal(SIGABRT, SIG_IGN);
    registerOrDie(CRASH_SIGABRT, namingCallback, "cb");
    raise(SIGABRT);
    kill(getpid(), SIGABRT);
    report("alive;");
  });
  EXPECT_EQ(child.report, "cb;cb;alive;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

TEST(SignalLayerPrevious, IgnoredFaultStillEndsTheProcessInsteadOfFaultingForever) {
  auto child = runInChild([] {
    signal(SIGSEGV, SIG_IGN);
    registerOrDie(CRASH_SIGSEGV, namingCallback, "cb");
    writeToUnmappedAddress();
    report("survived;");
  });
  EXPECT_EQ(child.report, "cb;");
  EXPECT_TRUE(child.killedBy(SIGSEGV)) << child.describe();
}

TEST(SignalLayerPrevious, AbortWithAnIgnoredSignalStillAborts) {
  auto child = runInChild([] {
    signal(SIGABRT, SIG_IGN);
    registerOrDie(CRASH_SIGABRT, namingCallback, "cb");
    abort();
  });
  EXPECT_EQ(child.report.rfind("cb;", 0), 0u) << child.report;
  EXPECT_TRUE(child.killedBy(SIGABRT)) << child.describe();
}

// ---- Registration.

int countEntries(int signal, bool forwarding) {
  int count = 0;
  auto* list = &crash_shared_handler.callbacks;
  for (auto* node = crash_async_list_next(list, nullptr); node; node = crash_async_list_next(list, node)) {
    if (node->value.signal == signal &&
        (node->value.callback == crash_previous_action_callback) == forwarding) {
      ++count;
    }
  }
  return count;
}

int countPreviousActions(int signal) {
  int count = 0;
  auto* list = &crash_shared_handler.previous_actions;
  for (auto* node = crash_async_list_next(list, nullptr); node; node = crash_async_list_next(list, node)) {
    count += node->value.signal == signal;
  }
  return count;
}

TEST(SignalLayerRegistration, InstallsOnceWithSigInfoOnStackAndEmptyMask) {
  auto child = runInChild([] {
    registerOrDie(CRASH_SIGSEGV, namingCallback, "a");
    struct sigaction installed {};
    sigaction(SIGSEGV, nullptr, &installed);
    sigset_t empty;
    sigemptyset(&empty);
    const bool ours = (installed.sa_flags & SA_SIGINFO) && installed.sa_sigaction == crash_signal_handler;
    report(ours ? "ours;" : "not ours;");
    // The C library adds its own return trampoline flag (SA_RESTORER, which it does not export).
    constexpr int kRestorer = 0x04000000;
    report((installed.sa_flags & ~kRestorer) == (SA_SIGINFO | SA_ONSTACK) ? "flags;" : "other flags;");
    bool maskEmpty = true;
    for (int s = 1; s < NSIG; ++s) maskEmpty = maskEmpty && !sigismember(&installed.sa_mask, s);
    report(maskEmpty ? "mask;" : "mask set;");

    // A second registration must not install again: an action put in meanwhile stays.
    install(SIGSEGV, previousSigInfoHandler);
    registerOrDie(CRASH_SIGSEGV, namingCallback, "b");
    struct sigaction after {};
    sigaction(SIGSEGV, nullptr, &after);
    report(after.sa_sigaction == previousSigInfoHandler ? "kept;" : "reinstalled;");
    report("previous=");
    reportNumber(countPreviousActions(CRASH_SIGSEGV));
    report(" forwarding=");
    reportNumber(countEntries(CRASH_SIGSEGV, true));
    report(" callbacks=");
    reportNumber(countEntries(CRASH_SIGSEGV, false));
    report(";");
  });
  EXPECT_EQ(child.report, "ours;flags;mask;kept;previous=1 forwarding=2 callbacks=2;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

TEST(SignalLayerRegistration, ResetPutsBackTheEarlierActions) {
  auto child = runInChild([] {
    install(SIGTRAP, previousReturningHandler);
    registerOrDie(CRASH_SIGTRAP, namingCallback, "cb");
    registerOrDie(CRASH_SIGILL, namingCallback, "cb");
    TallyCrashSignalHandler::resetHandlers();
    struct sigaction trap {
    }, ill{};
    sigaction(SIGTRAP, nullptr, &trap);
    sigaction(SIGILL, nullptr, &ill);
    report(trap.sa_handler == previousReturningHandler ? "trap restored;" : "trap not restored;");
    report(ill.sa_handler == SIG_DFL ? "ill restored;" : "ill not restored;");
    report(crash_async_list_next(&crash_shared_handler.callbacks, nullptr) ||
                   crash_async_list_next(&crash_shared_handler.previous_actions, nullptr)
               ? "lists not empty;"
               : "lists empty;");
    raise(SIGTRAP);
    // Registering again after a reset chains to the restored action, not to the layer itself.
    registerOrDie(CRASH_SIGTRAP, namingCallback, "again");
    raise(SIGTRAP);
    report("alive;");
  });
  EXPECT_EQ(child.report,
            "trap restored;ill restored;lists empty;previous returned;again;previous returned;alive;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

TEST(SignalLayerRegistration, SignalsTheKernelLacksOrThatCannotBeCaughtFail) {
  auto child = runInChild([] {
    for (int signal : {CRASH_SIGEMT, CRASH_SIGINFO, CRASH_SIGKILL, CRASH_SIGSTOP, 0, 64}) {
      auto status = TallyCrashSignalHandler::sharedHandler().registerHandlerForSignalCallbackContextError(
          signal, namingCallback, nullptr);
      if (status) {
        report("accepted;");
        continue;
      }
      const auto& error = status.error();
      const bool expected = error.domain == "CrashReporterErrorDomain" && error.code == 1 &&
                            error.localizedDescription() == "Failed to register signal handler" &&
                            error.underlying && error.underlying->domain == "NSPOSIXErrorDomain" &&
                            error.underlying->code == EINVAL;
      report(expected ? "refused;" : error.description().c_str());
    }
    report(countEntries(CRASH_SIGKILL, false) == 0 && countPreviousActions(CRASH_SIGKILL) == 0 ? "no trace;"
                                                                                               : "trace;");
  });
  EXPECT_EQ(child.report, "refused;refused;refused;refused;refused;refused;no trace;");
  EXPECT_TRUE(child.exitedWith(0)) << child.describe();
}

}  // namespace
}  // namespace crash
