#pragma once
// The exception-server way of receiving crashes, over an emulated port.
//
// On the phone a background thread receives the task's Mach exception messages on a port of its
// own, hands each to a callback and replies, while the faulting thread waits for the reply. Linux has
// no Mach and its kernel never sends such a message; this file keeps the same logic over a stand-in:
//   - a port is one end of a SOCK_SEQPACKET socket pair; a send right is a descriptor of it;
//   - a request is the platform's exception request laid out byte for byte (header, thread and task,
//     exception type, code count, 64-bit codes; at least 76 bytes) and carries its reply port, a
//     descriptor of a fresh socket pair, as SCM_RIGHTS, so concurrent requests get their own replies;
//   - the reply is the platform's 36-byte reply (message id + 100, return code);
//   - the task's exception ports are a process-wide table of 13 registrations that
//     TallyCrashMachExceptionPort swaps itself into, as the kernel's task ports would be.
// So a crash reaches the server only when something raises it through crash_mach_exception_raise (the
// tests, or forwarding from another server). The system's start-up chooses BSD signals anyway.
//
// The crash path functions (raise, forward, get_siginfo) are safe in a signal handler; the rest are not.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "crash_reporter/async_util.h"
#include "platform/foundation/error.h"

namespace crash {

using crash_mach_port_t = int;  // a descriptor; -1 is no port
inline constexpr crash_mach_port_t CRASH_MACH_PORT_NULL = -1;

// Exception types and their mask bits (1 << type).
inline constexpr int CRASH_EXC_BAD_ACCESS = 1;
inline constexpr int CRASH_EXC_BAD_INSTRUCTION = 2;
inline constexpr int CRASH_EXC_ARITHMETIC = 3;
inline constexpr int CRASH_EXC_EMULATION = 4;
inline constexpr int CRASH_EXC_SOFTWARE = 5;
inline constexpr int CRASH_EXC_BREAKPOINT = 6;
inline constexpr std::size_t CRASH_EXC_TYPES_COUNT = 13;

inline constexpr std::uint32_t CRASH_EXCEPTION_DEFAULT = 1;
inline constexpr std::uint32_t CRASH_EXCEPTION_STATE = 2;
inline constexpr std::uint32_t CRASH_EXCEPTION_STATE_IDENTITY = 3;
inline constexpr std::uint32_t CRASH_MACH_EXCEPTION_CODES = 0x80000000;

inline constexpr int CRASH_KERN_SUCCESS = 0;
inline constexpr int CRASH_KERN_FAILURE = 5;

// The registrations in force before ours, readable on the crash path.
struct crash_mach_exception_port_set {
  std::uint32_t count;
  std::uint32_t masks[CRASH_EXC_TYPES_COUNT];
  crash_mach_port_t ports[CRASH_EXC_TYPES_COUNT];
  std::uint32_t behaviors[CRASH_EXC_TYPES_COUNT];
  std::uint32_t flavors[CRASH_EXC_TYPES_COUNT];
};
static_assert(sizeof(crash_mach_exception_port_set) == 212);

// The callback: (task, crashed thread, exception type, codes, code count, context) -> kernel result.
using crash_mach_exception_callback = int (*)(crash_task_t task, crash_thread_t thread, int exception_type,
                                              const std::int64_t* codes, std::size_t code_count,
                                              void* context);

// Sends an exception request to `port` and waits for the reply; returns the reply's code, or
// CRASH_KERN_FAILURE when the request cannot be sent or no reply comes. Safe in a signal handler.
int crash_mach_exception_raise(crash_mach_port_t port, crash_thread_t thread, crash_task_t task,
                               int exception_type, const std::int64_t* codes,
                               std::size_t code_count) noexcept;

// Sends raw request bytes (for tests of malformed requests) and returns the reply's code.
int crash_mach_exception_raise_raw(crash_mach_port_t port, const void* request, std::size_t length) noexcept;

// Hands the exception to the first registration of `ports` whose mask holds its bit and whose port is
// valid, in that registration's behavior (plain, with state, with state and identity; the codes cut
// to 32 bits). CRASH_KERN_FAILURE when none fits or its behavior asks for 64-bit codes or is unknown.
// Safe in a signal handler.
int crash_mach_exception_forward(crash_task_t task, crash_thread_t thread, int exception_type,
                                 const std::int64_t* codes, std::size_t code_count,
                                 const crash_mach_exception_port_set* ports) noexcept;

// The signal the exception stands for (the reporter's numbering), its cause and address (always the
// second code). False with fewer than 2 codes or an unknown type. Safe in a signal handler.
struct crash_mach_siginfo {
  int signo;
  int code;
  std::uintptr_t address;
};
bool crash_async_mach_exception_get_siginfo(int exception_type, const std::int64_t* codes,
                                            std::size_t code_count, crash_mach_siginfo* info) noexcept;

class TallyCrashMachExceptionPort;
class TallyCrashMachExceptionPortSet;

// One server thread receiving on its own port until the object is destroyed.
class TallyCrashMachExceptionServer {
 public:
  // Starts the server thread and returns once it runs (its id is then known).
  static foundation::Result<std::unique_ptr<TallyCrashMachExceptionServer>> initWithCallBackContextError(
      crash_mach_exception_callback callback, void* context);
  // Stops the thread (a stop message, then waits for it to finish) and closes the ports.
  ~TallyCrashMachExceptionServer();

  // The server thread (its kernel id), read under the server's mutex.
  crash_thread_t serverThread() const;
  // A new send right to the server's port, owned by the caller (close it). Fails with code 1 "Failed to
  // insert Mach send right".
  foundation::Result<crash_mach_port_t> copySendRightForServerAndReturningError() const;
  // A registration with a send right to this server, behavior 0x80000001 and flavor 1.
  foundation::Result<TallyCrashMachExceptionPort> exceptionPortWithMaskError(std::uint32_t mask) const;

  struct Context;

 private:
  explicit TallyCrashMachExceptionServer(std::unique_ptr<Context> context);
  std::unique_ptr<Context> context_;
};

// One exception-port registration. Holds its own send right (a descriptor), closed on destruction.
class TallyCrashMachExceptionPort {
 public:
  TallyCrashMachExceptionPort(crash_mach_port_t port, std::uint32_t mask, std::uint32_t behavior,
                              std::uint32_t flavor);
  TallyCrashMachExceptionPort(const TallyCrashMachExceptionPort& other);
  TallyCrashMachExceptionPort& operator=(const TallyCrashMachExceptionPort&) = delete;
  ~TallyCrashMachExceptionPort();

  crash_mach_port_t port() const { return port_; }
  std::uint32_t mask() const { return mask_; }
  std::uint32_t behavior() const { return behavior_; }
  std::uint32_t flavor() const { return flavor_; }

  // Swaps this registration into the task's table for every type of its mask; the registrations that
  // were there come back (each with its own send right) as the previous set. Fails with code 1
  // "Failed to swap mach exception ports".
  foundation::Status registerForTaskPreviousPortSetError(crash_task_t task,
                                                         TallyCrashMachExceptionPortSet* previous) const;
  // The same for one thread's own table (the kernel consults it before the task's; nothing raises
  // exceptions by thread here).
  foundation::Status registerForThreadPreviousPortSetError(crash_thread_t thread,
                                                           TallyCrashMachExceptionPortSet* previous) const;

  // The task's registrations whose mask meets `mask` (the same port, behavior and flavor for several
  // types joined into one registration, as the kernel reports them).
  static foundation::Result<TallyCrashMachExceptionPortSet> exceptionPortsForTaskMaskError(crash_task_t task,
                                                                                          std::uint32_t mask);
  // The same for one thread's own table.
  static foundation::Result<TallyCrashMachExceptionPortSet> exceptionPortsForThreadMaskError(
      crash_thread_t thread, std::uint32_t mask);

 private:
  crash_mach_port_t port_;
  std::uint32_t mask_, behavior_, flavor_;
};

// The registrations in force before ours, as objects and as the record the crash path reads.
class TallyCrashMachExceptionPortSet {
 public:
  TallyCrashMachExceptionPortSet() = default;
  // At most 13 registrations; more fail with code 1 "Set size of <n> exceeds EXC_TYPES_COUNT (13)".
  static foundation::Result<TallyCrashMachExceptionPortSet> initWithSet(std::vector<TallyCrashMachExceptionPort> set);
  // The registrations a record holds. The record's own send rights are dropped (closed): the set
  // holds its own. More than 13 fail with code 1 "Count of <n> exceeds EXC_TYPES_COUNT (13)".
  static foundation::Result<TallyCrashMachExceptionPortSet> initWithAsyncSafeRepresentation(
      const crash_mach_exception_port_set& record);

  // A record of the set, safe to read on the crash path. Its send rights are its own (copies): the
  // record stays usable after the set is gone, and whoever keeps it owns them.
  crash_mach_exception_port_set asyncSafeRepresentation() const;
  const std::vector<TallyCrashMachExceptionPort>& set() const { return set_; }
  std::size_t count() const { return set_.size(); }
  auto begin() const { return set_.begin(); }
  auto end() const { return set_.end(); }

 private:
  std::vector<TallyCrashMachExceptionPort> set_;
};

}  // namespace crash
