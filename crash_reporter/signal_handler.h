#pragma once
// The signal layer of the crash reporter. It installs one process-wide handler for each crash
// signal it is asked for, run on a 64 KB alternate stack, and hands a caught signal to a chain of
// crash callbacks that ends with the actions that were installed before it.
//
// Chain. Callbacks run newest first, each only for the signal it was registered for. The layer runs the
// newest callback for the signal and takes its answer: true when it handled the signal (execution then
// goes on), false when not. A callback hands the signal on to the older callbacks, and to the action in
// force before the layer, only by running them itself through crash_signal_handler_forward; one that
// returns without doing so ends the chain. So once the reporter's callback, which does not forward, has
// written its report and declined, the process ends with the signal it received; the handlers installed
// before the layer do not run after it. Each registration also adds a forwarding entry at the end of the
// chain, which hands the signal to the action in force before the layer took the signal over: a handler is
// called; an ignored signal is handled by doing nothing, except a fault the kernel raised, which cannot be
// ignored (the instruction would fault again forever) and is treated as the default action; the default
// action is not-handled.
//
// When nobody handled the signal, the handler restores the default action and raises the signal
// again, so the process ends with the signal it received, as it would have without the layer.
//
// A crash that was reported ends the process. A callback that wrote a crash report sets
// crash_signal_info::reported; whatever the chain answers afterwards (a newer callback that forwarded
// to it and then calls the signal handled, an earlier "ignore" that it forwarded to), the handler
// then ends the process with the default action. A report on disk of a process that went on would
// describe a crash that never ended anything.
//
// Stacks. The kernel keeps one alternate stack per thread. The main thread gets one before main
// runs, every registration gives one to the registering thread, and any other thread that should
// report a stack overflow calls TallyCrashSignalHandler::prepareCurrentThread.
//
// Numbering. Signals and their causes are numbered the reporter's way (SIGBUS is 10, see
// signal_numbers.h); the kernel's numbers appear only in crash_signal_info::native_signo and
// ::native.

#include <signal.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async_list.h"
#include "platform/foundation/error.h"

namespace crash {

// A caught signal as the crash path sees it.
struct crash_signal_info {
  int signo;               // the reporter's signal number
  int code;                // the reporter's cause code
  std::uintptr_t address;  // the faulting address of a fault the kernel raised, 0 otherwise
  int native_signo;        // the kernel's signal number
  siginfo_t* native;       // the kernel's record, as the handler received it
  bool reported;           // set by a callback that wrote a crash report: the process must end
};

struct crash_signal_handler_callback;

// A crash callback: the signal, its information, the interrupted context, the context given at
// registration, and the handle of the rest of the chain (null at the end). Returns true when the
// signal was handled. It runs inside the signal handler and must be async-signal-safe.
using crash_signal_callback_fn = bool (*)(int signal, crash_signal_info* info, ucontext_t* uap, void* context,
                                          crash_signal_handler_callback* next);

// A link of the callback chain.
struct crash_signal_callback_entry {
  int signal;
  crash_signal_callback_fn callback;
  void* context;
};

// An action that was in force before the layer installed its handler for `signal`.
struct crash_previous_action {
  int signal;         // the reporter's number
  int native_signal;  // the kernel's number
  struct sigaction action;
};

using crash_signal_callback_node = crash_async_list_node<crash_signal_callback_entry>;

// The rest of the chain, handed to a callback so it can run it.
struct crash_signal_handler_callback {
  bool (*iterator)(int signal, crash_signal_info* info, ucontext_t* uap, crash_signal_callback_node* current);
  crash_signal_callback_node* node;  // the entry that was handed this; the rest starts after it
};

// The process-wide lists, empty before any constructor runs and never freed: a crash while the
// process exits must still find them.
struct crash_shared_handler_context {
  crash_async_list<crash_signal_callback_entry> callbacks;
  crash_async_list<crash_previous_action> previous_actions;
};
extern crash_shared_handler_context crash_shared_handler;

// Runs the rest of the chain behind `next` and returns whether it handled the signal; false for a
// null handle. Safe in a signal handler.
bool crash_signal_handler_forward(crash_signal_handler_callback* next, int signal, crash_signal_info* info,
                                  ucontext_t* uap) noexcept;

// Runs the one entry for `signal` after `current` (the newest when it is null) and returns its answer,
// false when there is none; the entries after it run only when it forwards. Safe in a signal handler.
bool crash_signal_callback_iterator(int signal, crash_signal_info* info, ucontext_t* uap,
                                    crash_signal_callback_node* current) noexcept;

// The forwarding entry: the rest of the chain first (another forwarding entry, when the signal was
// registered more than once), then the action saved for the signal. Safe in a signal handler.
bool crash_previous_action_callback(int signal, crash_signal_info* info, ucontext_t* uap, void* context,
                                    crash_signal_handler_callback* next) noexcept;

// The handler installed for every registered signal (SA_SIGINFO | SA_ONSTACK, empty mask). It runs
// inside the signal and allocates nothing and takes no lock: it counts itself in as a reader of the
// lists, calls the chain, and, when nobody handled the signal or a callback reported the crash,
// restores the default action and raises the signal again.
void crash_signal_handler(int nativeSignal, siginfo_t* info, void* uap) noexcept;

// Gives the main thread its alternate stack; runs before main. Not safe in a signal handler.
void crash_signal_handler_static_init();

class TallyCrashSignalHandler {
 public:
  static constexpr std::size_t kAlternateStackSize = 65536;

  // The one instance. Not safe in a signal handler.
  static TallyCrashSignalHandler& sharedHandler();

  // Takes over `signal` (the reporter's number) as registerHandlerWithSignalError does, then puts
  // {callback, context} at the head of the chain, so the last registered callback runs first.
  // Not safe in a signal handler.
  foundation::Status registerHandlerForSignalCallbackContextError(int signal,
                                                                  crash_signal_callback_fn callback,
                                                                  void* context);

  // Gives the calling thread its alternate stack, adds a forwarding entry for `signal` to the end of
  // the chain, and, the first time for this signal, saves the action in force and installs the
  // handler. Fails with code 1 and the error number underlying: "Could not initialize alternative
  // signal stack", or "Failed to register signal handler" (also for a signal the kernel does not
  // have or that cannot be caught). Not safe in a signal handler.
  foundation::Status registerHandlerWithSignalError(int signal);

  // Gives the calling thread its alternate stack of kAlternateStackSize bytes (kept when it already
  // has one at least that big), so a stack overflow on it still reaches the handler. Fails with
  // code 1 "Could not initialize alternative signal stack". Not safe in a signal handler.
  static foundation::Status prepareCurrentThread();

  // Puts back the actions that were in force before the layer took the signals over and empties
  // both lists. Emptying the lists alone would leave the layer's handler installed with no record of
  // the earlier actions: their handlers would never run again, a signal they ignored would end the
  // process, and a later registration would find only the layer's own handler to chain to.
  // Not safe in a signal handler.
  static void resetHandlers();

 private:
  TallyCrashSignalHandler() = default;
};

}  // namespace crash
