#pragma once
// The threads of this process, and stopping them to read their registers.
//
// Linux has no call that suspends another thread of the same process. Instead the crashing thread
// queues each other thread a reserved real-time signal (rt_tgsigqueueinfo, whose value names the
// thread's slot) and only then waits for their answers, so they stop side by side. A thread's handler
// copies the registers it was interrupted with into its slot of a static table, marks itself parked
// and waits on a futex until it is released. While parked a thread runs nothing of its own, so its stack
// holds still for a walk. A thread that does not answer within the caller's bound (it blocks the signal, or
// is stopped) is given up on and recorded without registers; when the signal reaches it later it finds
// nothing asked of it and goes on. Only one thread parks others at a time: a second one gets kBusy
// (and is parked by the first when its signal arrives), so two crashing threads never wait on each other.
//
// Everything here except prepareThreadParking is safe to call from a signal handler: system calls
// (getdents64, rt_tgsigqueueinfo, futex, clock_gettime), atomics and static storage only.

#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "platform/system/memory.h"

namespace sys {

// The most threads listed or parked at once; a bigger process has the rest left out.
inline constexpr std::size_t kMaxThreads = 512;

// Lists the kernel ids of this process's threads (from /proc/self/task) into `out`, at most
// `capacity` of them, in the kernel's order. Returns how many were listed, or -1 when the list cannot
// be read. Safe in a signal handler (open, getdents64, close on a stack buffer).
int listThreads(ThreadId* out, std::size_t capacity) noexcept;

// The real-time signal this process reserves for parking threads (SIGRTMIN + 3: glibc keeps the first
// two for itself). Safe in a signal handler.
int threadParkingSignal() noexcept;

// Installs the parking handler for threadParkingSignal(). Until it is installed no thread is ever sent
// the signal (its default action would end the process), and parking fails with kNotPrepared.
// Returns 0 or the error number. Idempotent. Not safe in a signal handler.
int prepareThreadParking();

enum class ParkResult {
  kParked,       // the thread sits in its handler; its registers are in the slot
  kTimedOut,     // it did not answer in time (blocks the signal, is stopped): no registers
  kGone,         // no such thread any more
  kNotPrepared,  // prepareThreadParking was never called
  kBusy,         // another thread is parking threads right now
  kFull,         // every slot is in use
  kCaller,       // the calling thread itself, listed in its place but not parked
};

// The threads one caller parked, and their registers. Fixed size, so a signal handler can keep it on
// its own (alternate) stack or in static storage; about 6 KB. The registers themselves live in the
// static slots of the parking table. Only the first `count` entries hold anything: the rest are left
// uninitialised, since clearing 6 KB of a cold signal stack would cost the crash path more than it
// spends on most of its threads.
struct ParkedThreads {
  struct Entry {
    ThreadId thread;
    ParkResult result;
    int slot;  // the slot of a parked thread, -1 otherwise
  };
  Entry entries[kMaxThreads];
  std::size_t count = 0;
  bool owner = false;  // this caller holds the right to park threads
  // Between requestParking and awaitParking: the entries asked last and not yet answered (from
  // `unanswered` on), where the next slot is looked for, who sends the signals, and the open thread
  // list, read again in every round.
  std::size_t unanswered = 0;
  std::size_t claimFrom = 0;
  pid_t pid = 0;
  uid_t uid = 0;
  int taskDirectory = -1;
};

// Parks every thread of the process except the caller and records each one's outcome in `*threads`,
// in the kernel's order, the caller too (as kCaller), so a report can list them as the kernel does.
// The list is read again after every round and the new threads parked too, until a reading finds no
// thread that was not seen before (bounded by a few rounds), so a thread created during the crash is
// not missed; when every listed thread answered, the kernel's count of threads tells in one call
// whether there is any to read the list for. Each round signals all its new threads first and then waits at most `timeoutNanoseconds`
// for all of their answers together, so threads that never answer cost one bound per round. Returns
// kParked when the caller may go on (single threads may still have timed out: see the entries), kBusy when
// another thread is parking threads (then `*threads` holds nothing), kNotPrepared when the handler is not
// installed. Safe in a signal handler.
ParkResult parkOtherThreads(ParkedThreads* threads, std::int64_t timeoutNanoseconds) noexcept;

// parkOtherThreads in two halves, for a caller with work of its own to do while the threads it asked get
// to their handlers (each answer waits for the scheduler to run that thread). requestParking takes the
// right to park threads, lists the threads and asks each one, without waiting: kParked when it did
// (then awaitParking must follow, and the asked threads may run on until it returns), kBusy or
// kNotPrepared as parkOtherThreads. awaitParking waits for the answers and does the further rounds,
// returning what parkOtherThreads would. Both safe in a signal handler.
ParkResult requestParking(ParkedThreads* threads) noexcept;
ParkResult awaitParking(ParkedThreads* threads, std::int64_t timeoutNanoseconds) noexcept;

// The registers a parked thread was interrupted with; null for an entry that is not parked. The
// pointer stays valid until releaseParkedThreads. Safe in a signal handler.
const mcontext_t* parkedThreadContext(const ParkedThreads* threads, std::size_t index) noexcept;

// The thread that holds the right to park threads right now, or 0. Safe in a signal handler.
ThreadId parkingOwner() noexcept;

// Lets every parked thread of `*threads` go on and gives up the right to park threads. Safe in a
// signal handler; idempotent.
void releaseParkedThreads(ParkedThreads* threads) noexcept;

}  // namespace sys
