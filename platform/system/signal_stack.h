#pragma once
// Alternate signal stacks, per thread. A handler installed with SA_ONSTACK runs on the thread's
// alternate stack when it has one, which is what lets a crash handler run after the thread's own
// stack overflowed. The kernel keeps one alternate stack per thread, so every thread that should
// survive a stack overflow into its handler needs its own.

#include <signal.h>

#include <cstddef>
#include <optional>

namespace sys {

// Gives the calling thread an alternate signal stack of at least `size` bytes. A stack the thread
// already has (ours or anybody's) is kept when it is at least that big; otherwise a stack of exactly
// `size` bytes is mapped, with an inaccessible guard page below it so that overrunning it faults
// instead of corrupting memory, and installed. A stack mapped here belongs to the thread and is
// removed and unmapped when the thread exits. Returns 0 or the error number of the failure.
// Not safe to call from a signal handler (it maps memory).
int ensureAlternateSignalStack(std::size_t size);

// The calling thread's alternate signal stack, or empty when it has none (or it is disabled).
// Safe to call from a signal handler (one system call).
std::optional<stack_t> currentAlternateSignalStack() noexcept;

// Whether the calling thread is running on its alternate signal stack right now.
// Safe to call from a signal handler (one system call).
bool isOnAlternateSignalStack() noexcept;

}  // namespace sys
