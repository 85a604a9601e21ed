#include "crash_reporter/signal_handler.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "crash_reporter/errors.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/system/memory.h"
#include "platform/system/signal_stack.h"

namespace crash {

constinit crash_shared_handler_context crash_shared_handler{};

namespace {

// Serialises registrations as a whole; never taken on the signal path.
std::mutex gRegistrationMutex;

bool isOurHandler(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == crash_signal_handler;
}

// Signals the kernel raises for a fault of the instruction being run.
bool isFaultSignal(int nativeSignal) {
  return nativeSignal == SIGSEGV || nativeSignal == SIGBUS || nativeSignal == SIGILL ||
         nativeSignal == SIGFPE || nativeSignal == SIGTRAP;
}

bool raisedByKernelForFault(const crash_signal_info* info) {
  return info->native && info->native->si_code > 0 && isFaultSignal(info->native_signo);
}

// The first entry for `signal` after `node` (from the head when it is null). Safe in a signal handler.
crash_signal_callback_node* nextEntryFor(crash_async_list<crash_signal_callback_entry>* list,
                                         crash_signal_callback_node* node, int signal) noexcept {
  do {
    node = crash_async_list_next(list, node);
  } while (node && node->value.signal != signal);
  return node;
}

}  // namespace

bool crash_signal_callback_iterator(int signal, crash_signal_info* info, ucontext_t* uap,
                                    crash_signal_callback_node* current) noexcept {
  auto* list = &crash_shared_handler.callbacks;
  crash_async_list_set_reading(list, true);
  bool handled = false;
  if (auto* node = nextEntryFor(list, current, signal)) {
    // One entry runs; the ones after it only if it hands the signal on.
    crash_signal_handler_callback rest{crash_signal_callback_iterator, node};
    const bool hasRest = nextEntryFor(list, node, signal) != nullptr;
    handled = node->value.callback(signal, info, uap, node->value.context, hasRest ? &rest : nullptr);
  }
  crash_async_list_set_reading(list, false);
  return handled;
}

bool crash_signal_handler_forward(crash_signal_handler_callback* next, int signal, crash_signal_info* info,
                                  ucontext_t* uap) noexcept {
  if (!next) return false;
  return next->iterator(signal, info, uap, next->node);
}

bool crash_previous_action_callback(int signal, crash_signal_info* info, ucontext_t* uap, void*,
                                    crash_signal_handler_callback* next) noexcept {
  if (next && crash_signal_handler_forward(next, signal, info, uap)) return true;

  auto* list = &crash_shared_handler.previous_actions;
  crash_async_list_set_reading(list, true);
  const crash_async_list_node<crash_previous_action>* found = nullptr;
  for (auto* node = crash_async_list_next(list, nullptr); node; node = crash_async_list_next(list, node)) {
    if (node->value.signal == signal) {
      found = node;
      break;
    }
  }
  bool handled = false;
  if (found) {
    const struct sigaction& action = found->value.action;
    if (action.sa_flags & SA_SIGINFO) {
      action.sa_sigaction(found->value.native_signal, info->native, uap);
      handled = true;
    } else if (action.sa_handler == SIG_IGN) {
      // Ignoring a fault would run the faulting instruction again, forever; the kernel ends a process
      // that ignores such a fault, and so do we. A signal some process sent is simply ignored.
      handled = !raisedByKernelForFault(info);
    } else if (action.sa_handler != SIG_DFL) {
      action.sa_handler(found->value.native_signal);
      handled = true;
    }
  }
  crash_async_list_set_reading(list, false);
  return handled;
}

void crash_signal_handler(int nativeSignal, siginfo_t* info, void* uap) noexcept {
  const int savedErrno = errno;
  crash_signal_info signal{};
  signal.native_signo = nativeSignal;
  signal.native = info;
  signal.signo = crash_signal_from_native(nativeSignal);
  signal.code = info ? crash_signal_code_from_native(nativeSignal, info->si_code) : 0;
  signal.address = raisedByKernelForFault(&signal) ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;

  const bool handled =
      crash_signal_callback_iterator(signal.signo, &signal, static_cast<ucontext_t*>(uap), nullptr);
  if (!handled || signal.reported) {
    // Let the default action end the process with this signal. The signal is blocked while the
    // handler runs, so it is delivered, with the default action, on return.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(nativeSignal, &fallback, nullptr);
    raise(nativeSignal);
  }
  errno = savedErrno;
}

void crash_signal_handler_static_init() {
  // Only the main thread runs static constructors of the program; a library loaded later on
  // another thread leaves that thread to its registration.
  if (sys::threadSelf() == getpid())
    sys::ensureAlternateSignalStack(TallyCrashSignalHandler::kAlternateStackSize);
}

namespace {
[[maybe_unused]] const bool gStaticInit = (crash_signal_handler_static_init(), true);
}  // namespace

TallyCrashSignalHandler& TallyCrashSignalHandler::sharedHandler() {
  static TallyCrashSignalHandler* const shared = new TallyCrashSignalHandler();
  return *shared;
}

foundation::Status TallyCrashSignalHandler::prepareCurrentThread() {
  if (const int error = sys::ensureAlternateSignalStack(kAlternateStackSize)) {
    return crash_make_posix_error(error, "Could not initialize alternative signal stack");
  }
  return {};
}

foundation::Status TallyCrashSignalHandler::registerHandlerWithSignalError(int signal) {
  std::lock_guard<std::mutex> lock(gRegistrationMutex);
  if (auto stack = prepareCurrentThread(); !stack) return stack;

  crash_async_list_append(&crash_shared_handler.callbacks,
                          crash_signal_callback_entry{signal, crash_previous_action_callback, nullptr});

  auto* previous = &crash_shared_handler.previous_actions;
  crash_async_list_set_reading(previous, true);
  bool known = false;
  for (auto* node = crash_async_list_next(previous, nullptr); node && !known;
       node = crash_async_list_next(previous, node)) {
    known = node->value.signal == signal;
  }
  crash_async_list_set_reading(previous, false);
  if (known) return {};

  const int nativeSignal = crash_signal_to_native(signal);
  if (nativeSignal < 0) return crash_make_posix_error(EINVAL, "Failed to register signal handler");

  crash_previous_action saved{signal, nativeSignal, {}};
  if (sigaction(nativeSignal, nullptr, &saved.action) != 0) {
    return crash_make_posix_error(errno, "Failed to register signal handler");
  }
  if (isOurHandler(saved.action)) {
    // Forwarding to ourselves would recurse; whoever installed it before left no record of theirs.
    saved.action = {};
    saved.action.sa_handler = SIG_DFL;
    sigemptyset(&saved.action.sa_mask);
  }
  // Saved before the handler goes in, so a signal arriving in between finds the earlier action.
  auto* node = crash_async_list_append(previous, saved);

  struct sigaction action {};
  action.sa_sigaction = crash_signal_handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  if (sigaction(nativeSignal, &action, nullptr) != 0) {
    const int error = errno;
    crash_async_list_remove(previous, node);
    return crash_make_posix_error(error, "Failed to register signal handler");
  }
  return {};
}

foundation::Status TallyCrashSignalHandler::registerHandlerForSignalCallbackContextError(
    int signal, crash_signal_callback_fn callback, void* context) {
  if (auto status = registerHandlerWithSignalError(signal); !status) return status;
  crash_async_list_prepend(&crash_shared_handler.callbacks,
                           crash_signal_callback_entry{signal, callback, context});
  return {};
}

void TallyCrashSignalHandler::resetHandlers() {
  std::lock_guard<std::mutex> lock(gRegistrationMutex);
  auto* previous = &crash_shared_handler.previous_actions;
  crash_async_list_set_reading(previous, true);
  for (auto* node = crash_async_list_next(previous, nullptr); node;) {
    auto* following = crash_async_list_next(previous, node);
    sigaction(node->value.native_signal, &node->value.action, nullptr);
    crash_async_list_remove(previous, node);
    node = following;
  }
  crash_async_list_set_reading(previous, false);

  auto* callbacks = &crash_shared_handler.callbacks;
  crash_async_list_set_reading(callbacks, true);
  for (auto* node = crash_async_list_next(callbacks, nullptr); node;) {
    auto* following = crash_async_list_next(callbacks, node);
    crash_async_list_remove(callbacks, node);
    node = following;
  }
  crash_async_list_set_reading(callbacks, false);
}

}  // namespace crash
