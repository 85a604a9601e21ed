#include "platform/system/memory.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace sys {
namespace {

// How this process reads its own memory: the direct system call, or a pipe where a sandbox
// forbids it. Decided on the first refusal and kept; a plain integer so a signal handler can use it.
enum ReadPath : int { kDirect = 0, kPipe = 1 };
std::atomic<int> gSelfReadPath{kDirect};

// Cached without a guarded static, whose first use could take a lock inside a signal handler.
std::atomic<std::uintptr_t> gPageSize{0};

std::uintptr_t pageSize() noexcept {
  std::uintptr_t size = gPageSize.load(std::memory_order_relaxed);
  if (size == 0) {
    size = static_cast<std::uintptr_t>(getpagesize());
    gPageSize.store(size, std::memory_order_relaxed);
  }
  return size;
}

// Whether a failed read of our own memory hit a hole or a page we may not read.
MemoryReadResult classifySelf(std::uintptr_t address) noexcept {
  const std::uintptr_t page = address & ~(pageSize() - 1);
  unsigned char residency = 0;
  if (mincore(reinterpret_cast<void*>(page), pageSize(), &residency) == 0) {
    return MemoryReadResult::kProtectionFailure;
  }
  if (errno == ENOMEM) return MemoryReadResult::kInvalidAddress;
  return MemoryReadResult::kFailure;
}

// Lets the kernel copy the bytes through a pipe: write() from a bad address fails with EFAULT
// instead of raising a signal. Works page by page so a failure names the page that caused it.
MemoryReadResult readThroughPipe(std::uintptr_t address, unsigned char* out, std::size_t length) noexcept {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return MemoryReadResult::kFailure;
  MemoryReadResult result = MemoryReadResult::kSuccess;
  while (length > 0) {
    const std::uintptr_t toPageEnd = pageSize() - (address & (pageSize() - 1));
    const std::size_t chunk = length < toPageEnd ? length : static_cast<std::size_t>(toPageEnd);
    ssize_t written;
    do {
      written = write(fds[1], reinterpret_cast<const void*>(address), chunk);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
      result = errno == EFAULT ? classifySelf(address) : MemoryReadResult::kFailure;
      break;
    }
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(written)) {
      const ssize_t n = read(fds[0], out + got, static_cast<std::size_t>(written) - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got != static_cast<std::size_t>(written)) {
      result = MemoryReadResult::kFailure;
      break;
    }
    address += got;
    out += got;
    length -= got;
  }
  close(fds[0]);
  close(fds[1]);
  return result;
}

// This process's id, for reads of its own memory, which would otherwise ask the kernel for it on every
// read. A fork gives the child its own: the handler below runs in every child made by fork().
std::atomic<pid_t> gSelfPid{0};

pid_t selfPid() noexcept {
  pid_t pid = gSelfPid.load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = getpid();
    gSelfPid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

[[maybe_unused]] const bool gForkHandler =
    pthread_atfork(nullptr, nullptr, [] { gSelfPid.store(getpid(), std::memory_order_relaxed); }) == 0;

// Whether reads of this process's own memory go through the pipe (see gSelfReadPath).
bool selfReadsThroughPipe(bool self) noexcept {
  return self && gSelfReadPath.load(std::memory_order_relaxed) == kPipe;
}

// Whether a direct read that failed was the kernel refusing us our own memory, which readMemory then
// reads through the pipe.
bool selfReadRefused(bool self) noexcept { return self && (errno == ENOSYS || errno == EPERM); }

// One gathered read of `count` pieces, tried again when a signal interrupts it.
ssize_t readVectors(pid_t pid, const iovec* local, const iovec* remote, std::size_t count) noexcept {
  ssize_t n;
  do n = process_vm_readv(pid, local, count, remote, count, 0);
  while (n < 0 && errno == EINTR);
  return n;
}

// One gathered read of `count` pieces (kMaxMemoryPieces at most), tried again when a signal interrupts it.
ssize_t readPieces(pid_t pid, const MemoryPiece* pieces, std::size_t count) noexcept {
  iovec local[kMaxMemoryPieces], remote[kMaxMemoryPieces];
  for (std::size_t i = 0; i < count; ++i) {
    local[i] = {pieces[i].destination, pieces[i].length};
    remote[i] = {reinterpret_cast<void*>(pieces[i].address), pieces[i].length};
  }
  return readVectors(pid, local, remote, count);
}

}  // namespace

Task taskSelf() noexcept { return 0; }

ThreadId threadSelf() noexcept { return static_cast<ThreadId>(syscall(SYS_gettid)); }

void setSelfReadsUsePipeForTesting(bool usePipe) noexcept {
  gSelfReadPath.store(usePipe ? kPipe : kDirect, std::memory_order_relaxed);
}

MemoryReadResult readMemory(Task task, std::uintptr_t address, void* destination,
                            std::size_t length) noexcept {
  if (length == 0) return MemoryReadResult::kSuccess;
  if (address + (length - 1) < address) return MemoryReadResult::kInvalidAddress;
  const bool self = task == 0 || task == selfPid();
  if (self) task = selfPid();
  auto* out = static_cast<unsigned char*>(destination);
  if (selfReadsThroughPipe(self)) {
    return readThroughPipe(address, out, length);
  }
  while (length > 0) {
    iovec local{out, length};
    iovec remote{reinterpret_cast<void*>(address), length};
    const ssize_t n = process_vm_readv(task, &local, 1, &remote, 1, 0);
    if (n > 0) {
      // A short read stops at the first unreadable page; the next round reports it.
      address += static_cast<std::size_t>(n);
      out += n;
      length -= static_cast<std::size_t>(n);
      continue;
    }
    const int error = n == 0 ? EFAULT : errno;
    switch (error) {
      case EINTR:
        continue;
      case ENOMEM:
        return MemoryReadResult::kInvalidAddress;
      case EFAULT:
        return self ? classifySelf(address) : MemoryReadResult::kInvalidAddress;
      case ENOSYS:
      case EPERM:
        if (!self) return MemoryReadResult::kFailure;
        gSelfReadPath.store(kPipe, std::memory_order_relaxed);
        return readThroughPipe(address, out, length);
      default:
        return MemoryReadResult::kFailure;
    }
  }
  return MemoryReadResult::kSuccess;
}

bool readMemoryPieces(Task task, const MemoryPiece* pieces, std::size_t count) noexcept {
  if (count > kMaxMemoryPieces) return false;
  const bool self = task == 0 || task == selfPid();
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i) total += pieces[i].length;
  if (!selfReadsThroughPipe(self) && count > 0) {
    const ssize_t n = readPieces(self ? selfPid() : task, pieces, count);
    if (n >= 0) return static_cast<std::size_t>(n) == total;
    if (!selfReadRefused(self)) return false;
  }
  for (std::size_t i = 0; i < count; ++i)
    if (readMemory(task, pieces[i].address, pieces[i].destination, pieces[i].length) != MemoryReadResult::kSuccess)
      return false;
  return true;
}

void readMemoryPiecePrefixes(Task task, const MemoryPiece* pieces, std::size_t count, std::size_t* lengths) noexcept {
  if (count > kMaxMemoryPieces) count = kMaxMemoryPieces;
  const bool self = task == 0 || task == selfPid();
  std::size_t from = 0;
  while (from < count && !selfReadsThroughPipe(self)) {
    const ssize_t n = readPieces(self ? selfPid() : task, pieces + from, count - from);
    if (n < 0 && selfReadRefused(self)) break;  // the pipe path, piece by piece, below
    // The kernel reads the pieces in order and stops at the first byte it cannot read: the pieces
    // before it are whole, the one it stopped in is read that far (a failure with nothing read at
    // all is that piece unread), and the rest wait for the next round.
    std::size_t read = n > 0 ? static_cast<std::size_t>(n) : 0;
    while (from < count && read >= pieces[from].length) {
      lengths[from] = pieces[from].length;
      read -= pieces[from++].length;
    }
    if (from < count) lengths[from++] = read;
  }
  for (; from < count; ++from)
    lengths[from] = readMemoryPrefix(task, pieces[from].address, pieces[from].destination, pieces[from].length);
}

std::size_t readMemoryPrefix(Task task, std::uintptr_t address, void* destination, std::size_t length) noexcept {
  if (length == 0 || address + (length - 1) < address) return 0;
  const bool self = task == 0 || task == selfPid();
  auto* out = static_cast<unsigned char*>(destination);
  if (!selfReadsThroughPipe(self)) {
    iovec local{out, length};
    iovec remote{reinterpret_cast<void*>(address), length};
    // The kernel stops at the first page it cannot read and reports what it copied.
    const ssize_t n = readVectors(self ? selfPid() : task, &local, &remote, 1);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (!selfReadRefused(self)) return 0;
  }
  // Page by page through the read that falls back to a pipe: whole pages until one fails.
  std::size_t done = 0;
  while (done < length) {
    const std::uintptr_t at = address + done;
    const std::size_t toPageEnd = static_cast<std::size_t>(pageSize() - (at & (pageSize() - 1)));
    const std::size_t chunk = length - done < toPageEnd ? length - done : toPageEnd;
    if (readMemory(task, at, out + done, chunk) != MemoryReadResult::kSuccess) break;
    done += chunk;
  }
  return done;
}

}  // namespace sys
