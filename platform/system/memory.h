#pragma once
// Reading memory of a process without ever faulting, and the identities of the calling process and
// thread. A crash handler walks stacks and loader records that may be torn or unmapped; every read
// here goes through the kernel, which reports a bad address as an error instead of a signal.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace sys {

// A process whose memory can be read; the crash reporter only ever reads its own.
using Task = pid_t;
// A kernel thread id.
using ThreadId = pid_t;

// The calling process, whichever it is: 0, which every read takes as "this process", so a record
// made before a fork still reads the child's own memory in the child (a process id kept from before
// would read the parent's). Safe to call from a signal handler.
Task taskSelf() noexcept;
// Safe to call from a signal handler (one system call, no allocation, no lock).
ThreadId threadSelf() noexcept;

// The outcome of a memory read, in the kernel's terms.
enum class MemoryReadResult {
  kSuccess,
  kInvalidAddress,     // some byte of the range lies in no mapping (or the range wraps around)
  kProtectionFailure,  // the range is mapped but some byte of it cannot be read
  kFailure,            // anything else: no such process, no permission, out of resources
};

// Copies `length` bytes at `address` of `task` to `destination`. A bad source address gives
// kInvalidAddress or kProtectionFailure and never a signal; `destination` must be valid.
// For another process, whose mappings are not examined, both bad-address cases report
// kInvalidAddress. Bytes before the first unreadable one may have been copied on failure.
// Safe to call from a signal handler: system calls only (process_vm_readv, mincore, and a pipe
// where the first is not permitted), no allocation, no lock.
MemoryReadResult readMemory(Task task, std::uintptr_t address, void* destination,
                            std::size_t length) noexcept;

// Copies as many of the `length` bytes at `address` of `task` as can be read in order, up to the first
// byte that cannot, and returns how many. For reading ahead where the end of what is mapped is not
// known (a stack's top, the end of a section): one system call where readMemory would fail and need
// another try. Safe to call from a signal handler, like readMemory.
std::size_t readMemoryPrefix(Task task, std::uintptr_t address, void* destination, std::size_t length) noexcept;

// One piece of a gathered read: `length` bytes at `address` into `destination`.
struct MemoryPiece {
  std::uintptr_t address;
  void* destination;
  std::size_t length;
};
inline constexpr std::size_t kMaxMemoryPieces = 64;

// Reads up to kMaxMemoryPieces pieces scattered over `task`'s memory in one system call where the
// kernel allows (else one read each). True when every piece was read whole; false, with the pieces
// before the first unreadable one read, otherwise (or for more than kMaxMemoryPieces pieces). Safe in
// a signal handler, like readMemory.
bool readMemoryPieces(Task task, const MemoryPiece* pieces, std::size_t count) noexcept;

// Reads each of up to kMaxMemoryPieces pieces as far as it can be read from its start, as
// readMemoryPrefix does for one, and stores how many bytes of piece i were read in `lengths[i]`. One
// system call reads them all where the kernel allows; a piece that stops short (it runs into memory
// that cannot be read) costs one more for the pieces after it. For reading ahead in several places at
// once, such as the stacks of many threads. Safe in a signal handler, like readMemory.
void readMemoryPiecePrefixes(Task task, const MemoryPiece* pieces, std::size_t count, std::size_t* lengths) noexcept;

// Makes reads of this process's own memory take the pipe path that sandboxes without
// process_vm_readv fall back to, so tests cover it. Not for production code. Safe in a signal handler
// (one atomic store).
void setSelfReadsUsePipeForTesting(bool usePipe) noexcept;

}  // namespace sys
