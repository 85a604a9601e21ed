#include "platform/system/threads.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace sys {
namespace {

// A slot of the parking table moves Idle -> Requested (the parker) -> Capturing -> Parked (the parked
// thread) -> Released (the parker) -> Idle (the parked thread, on leaving). A parker that waited long
// enough turns Requested into Abandoned; such a slot may be requested again. The thread id of a slot
// changes only while it is Idle or Abandoned, so a handler that won Requested -> Capturing can check
// that the slot is really its own.
enum SlotState : int { kIdle, kRequested, kCapturing, kParked, kReleased, kAbandoned };

struct Slot {
  std::atomic<int> state{kIdle};  // also the futex word the parker waits on
  std::atomic<ThreadId> thread{0};
  // The slot whose thread this one wakes on leaving, -1 for none; set before the slot is Released.
  std::atomic<int> next{-1};
  mcontext_t context;
};

Slot gSlots[kMaxThreads];
std::atomic<ThreadId> gOwner{0};
std::atomic<bool> gPrepared{false};
int* futexWord(std::atomic<int>* word) noexcept { return reinterpret_cast<int*>(word); }

void futexWake(std::atomic<int>* word) noexcept {
  syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

// Waits while `*word` holds `value`, at most `timeout` (null: no bound). Spurious wake-ups are fine.
void futexWait(std::atomic<int>* word, int value, const timespec* timeout) noexcept {
  syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, value, timeout, nullptr, 0);
}

std::int64_t monotonicNow() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Takes slot `slot` for the calling thread when the parker asked it to: true once the thread has
// parked there and been released.
bool parkIn(Slot& slot, ThreadId self, void* uap) noexcept {
  if (slot.thread.load(std::memory_order_acquire) != self) return false;
  int expected = kRequested;
  if (!slot.state.compare_exchange_strong(expected, kCapturing, std::memory_order_acq_rel)) return false;
  if (slot.thread.load(std::memory_order_acquire) != self) {
    slot.state.store(kRequested, std::memory_order_release);  // not ours after all
    return false;
  }
  slot.context = static_cast<ucontext_t*>(uap)->uc_mcontext;
  slot.state.store(kParked, std::memory_order_release);
  futexWake(&slot.state);
  while (slot.state.load(std::memory_order_acquire) == kParked) futexWait(&slot.state, kParked, nullptr);
  // Released threads wake one another in a chain (see releaseParkedThreads). The next one is read
  // before the slot goes Idle, when it may be claimed again.
  const int next = slot.next.load(std::memory_order_relaxed);
  slot.state.store(kIdle, std::memory_order_release);
  if (next >= 0) futexWake(&gSlots[next].state);
  return true;
}

void parkingHandler(int, siginfo_t* info, void* uap) noexcept {
  const int savedErrno = errno;
  const ThreadId self = threadSelf();
  // The parker names the slot in the signal's value, which spares every parked thread a walk over the
  // whole table (hundreds of cold cache lines). A signal sent some other way, or one that arrives
  // after its request was given up on, falls back to the walk.
  const int hint = info && info->si_code == SI_QUEUE ? info->si_value.sival_int : -1;
  bool parked = hint >= 0 && hint < static_cast<int>(kMaxThreads) && parkIn(gSlots[hint], self, uap);
  for (std::size_t i = 0; !parked && i < kMaxThreads; ++i) parked = parkIn(gSlots[i], self, uap);
  errno = savedErrno;
}

// A slot nobody uses, claimed for `thread`; -1 when all are taken. Only the owner claims slots, so
// `from` (where the previous claim ended) lets one parking run claim its slots in one pass.
int claimSlot(ThreadId thread, std::size_t* from) noexcept {
  for (std::size_t i = *from; i < kMaxThreads; ++i) {
    Slot& slot = gSlots[i];
    const int state = slot.state.load(std::memory_order_acquire);
    if (state != kIdle && state != kAbandoned) continue;
    slot.thread.store(thread, std::memory_order_release);
    int expected = state;
    if (slot.state.compare_exchange_strong(expected, kRequested, std::memory_order_acq_rel)) {
      *from = i + 1;
      return static_cast<int>(i);
    }
  }
  *from = kMaxThreads;
  return -1;
}

// Asks `thread` to park in a newly claimed slot. kParked here means only "asked": the answer comes in
// awaitParked. The slot is in *slotOut (-1 when nothing was asked).
ParkResult requestPark(const ParkedThreads& asker, ThreadId thread, std::size_t* from, int* slotOut) noexcept {
  *slotOut = -1;
  const int index = claimSlot(thread, from);
  if (index < 0) return ParkResult::kFull;
  siginfo_t info{};
  info.si_signo = threadParkingSignal();
  info.si_code = SI_QUEUE;  // a process may queue these to its own threads
  info.si_pid = asker.pid;
  info.si_uid = asker.uid;
  info.si_value.sival_int = index;
  long sent = syscall(SYS_rt_tgsigqueueinfo, asker.pid, thread, threadParkingSignal(), &info);
  // Where a sandbox refuses queued signals, a plain one still parks the thread (its handler then
  // looks for its slot).
  if (sent != 0 && (errno == ENOSYS || errno == EPERM))
    sent = syscall(SYS_tgkill, asker.pid, thread, threadParkingSignal());
  if (sent != 0) {
    const bool gone = errno == ESRCH;
    gSlots[index].state.store(kIdle, std::memory_order_release);
    *from = static_cast<std::size_t>(index);  // the slot is free again for the next thread
    // Anything else (the queue of pending signals is full) leaves a thread that cannot answer.
    return gone ? ParkResult::kGone : ParkResult::kTimedOut;
  }
  *slotOut = index;
  return ParkResult::kParked;
}

// Waits until the thread asked in `index` has parked, or gives up on it at `deadline`.
ParkResult awaitParked(int index, std::int64_t deadline) noexcept {
  Slot& slot = gSlots[index];
  for (;;) {
    const int state = slot.state.load(std::memory_order_acquire);
    if (state == kParked) return ParkResult::kParked;
    const std::int64_t left = deadline - monotonicNow();
    if (left <= 0 && state == kRequested) {
      int expected = kRequested;
      if (slot.state.compare_exchange_strong(expected, kAbandoned, std::memory_order_acq_rel)) {
        return ParkResult::kTimedOut;
      }
      continue;  // it began capturing just now: it parks in a moment
    }
    // A thread that is capturing finishes within a few instructions; wait for it in short steps.
    const std::int64_t step = left > 1000000 ? 1000000 : (left > 0 ? left : 100000);
    const timespec wait{0, static_cast<long>(step)};
    futexWait(&slot.state, state, &wait);
  }
}

bool alreadyListed(const ParkedThreads* threads, ThreadId thread) noexcept {
  for (std::size_t i = 0; i < threads->count; ++i) {
    if (threads->entries[i].thread == thread) return true;
  }
  return false;
}

// The thread list of the open directory `fd`, read from its start; see listThreads.
int listThreadsIn(int fd, ThreadId* out, std::size_t capacity) noexcept {
  if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) return -1;
  alignas(8) char buffer[2048];
  std::size_t count = 0;
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short length;
      __builtin_memcpy(&length, buffer + at + 16, sizeof length);
      const char* name = buffer + at + 19;
      ThreadId id = 0;
      bool digits = *name != '\0';
      for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
          digits = false;
          break;
        }
        id = id * 10 + (*c - '0');
      }
      if (digits && count < capacity) out[count++] = id;
      if (length == 0) break;
      at += length;
    }
  }
  return static_cast<int>(count);
}

int openTaskDirectory() noexcept { return open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// Lists the threads and asks every one not listed before to park, the caller excepted; the new entries
// start at threads->unanswered. False when the list cannot be read or holds no new thread.
bool askNewThreads(ParkedThreads* threads, ThreadId self) noexcept {
  ThreadId listed[kMaxThreads];
  const int n = listThreadsIn(threads->taskDirectory, listed, kMaxThreads);
  if (n < 0) return false;
  const std::size_t first = threads->count;
  for (int i = 0; i < n && threads->count < kMaxThreads; ++i) {
    if (alreadyListed(threads, listed[i])) continue;
    ParkedThreads::Entry& entry = threads->entries[threads->count++];
    entry.thread = listed[i];
    entry.slot = -1;
    entry.result =
        listed[i] == self ? ParkResult::kCaller : requestPark(*threads, listed[i], &threads->claimFrom, &entry.slot);
  }
  threads->unanswered = first;
  return threads->count > first;
}

// Whether the process has no thread beyond those listed: every listed thread answered (a parked one
// cannot end or start another) and the thread list's link count, which the kernel gives as two plus
// the number of threads, counts no more. One system call instead of reading the list again.
bool noThreadBeyondListed(const ParkedThreads* threads) noexcept {
  for (std::size_t i = 0; i < threads->count; ++i) {
    const ParkResult result = threads->entries[i].result;
    if (result != ParkResult::kParked && result != ParkResult::kCaller) return false;
  }
  struct stat status {};
  return threads->taskDirectory >= 0 && fstat(threads->taskDirectory, &status) == 0 &&
         status.st_nlink == 2 + threads->count;
}

}  // namespace

int listThreads(ThreadId* out, std::size_t capacity) noexcept {
  const int fd = openTaskDirectory();
  if (fd < 0) return -1;
  const int count = listThreadsIn(fd, out, capacity);
  close(fd);
  return count;
}

int threadParkingSignal() noexcept { return SIGRTMIN + 3; }

int prepareThreadParking() {
  if (gPrepared.load(std::memory_order_acquire)) return 0;
  struct sigaction action {};
  action.sa_sigaction = parkingHandler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  // Nothing else runs on a parked thread: its stack must hold still while it is walked.
  sigfillset(&action.sa_mask);
  if (sigaction(threadParkingSignal(), &action, nullptr) != 0) return errno;
  gPrepared.store(true, std::memory_order_release);
  return 0;
}

ParkResult requestParking(ParkedThreads* threads) noexcept {
  threads->count = 0;
  threads->owner = false;
  threads->unanswered = 0;
  threads->claimFrom = 0;
  threads->taskDirectory = -1;
  if (!gPrepared.load(std::memory_order_acquire)) return ParkResult::kNotPrepared;
  const ThreadId self = threadSelf();
  ThreadId expected = 0;
  if (!gOwner.compare_exchange_strong(expected, self, std::memory_order_acq_rel)) return ParkResult::kBusy;
  threads->owner = true;
  threads->pid = getpid();
  threads->uid = getuid();
  // Kept open for the later rounds: reading it again costs less than finding it again.
  threads->taskDirectory = openTaskDirectory();
  askNewThreads(threads, self);
  return ParkResult::kParked;
}

ParkResult awaitParking(ParkedThreads* threads, std::int64_t timeoutNanoseconds) noexcept {
  if (!threads->owner) return ParkResult::kBusy;
  // Running threads may start new ones until they are parked themselves; a few rounds catch them.
  // Each round first asks every new thread and only then waits for the answers, so the threads get
  // to their handlers side by side and a round costs the slowest answer, not the sum of them.
  constexpr int kRounds = 8;
  const ThreadId self = threadSelf();
  for (int round = 0; round < kRounds; ++round) {
    if (round > 0 && (noThreadBeyondListed(threads) || !askNewThreads(threads, self))) break;
    const std::int64_t deadline = monotonicNow() + timeoutNanoseconds;
    for (std::size_t i = threads->unanswered; i < threads->count; ++i) {
      ParkedThreads::Entry& entry = threads->entries[i];
      if (entry.slot < 0) continue;
      entry.result = awaitParked(entry.slot, deadline);
      if (entry.result != ParkResult::kParked) entry.slot = -1;
    }
    threads->unanswered = threads->count;
  }
  if (threads->taskDirectory >= 0) close(threads->taskDirectory);
  threads->taskDirectory = -1;
  return ParkResult::kParked;
}

ParkResult parkOtherThreads(ParkedThreads* threads, std::int64_t timeoutNanoseconds) noexcept {
  const ParkResult asked = requestParking(threads);
  return asked == ParkResult::kParked ? awaitParking(threads, timeoutNanoseconds) : asked;
}

const mcontext_t* parkedThreadContext(const ParkedThreads* threads, std::size_t index) noexcept {
  if (index >= threads->count) return nullptr;
  const ParkedThreads::Entry& entry = threads->entries[index];
  if (entry.result != ParkResult::kParked || entry.slot < 0) return nullptr;
  return &gSlots[entry.slot].context;
}

ThreadId parkingOwner() noexcept { return gOwner.load(std::memory_order_acquire); }

void releaseParkedThreads(ParkedThreads* threads) noexcept {
  // The releasing thread wakes only the first parked thread, and each one woken wakes the next as it
  // leaves. Woken all at once, they would all be ready to run on a machine with few processors, and
  // the releasing thread would wait its turn behind every one of them.
  int first = -1;
  for (std::size_t i = threads->count; i-- > 0;) {
    const ParkedThreads::Entry& entry = threads->entries[i];
    if (entry.result != ParkResult::kParked || entry.slot < 0) continue;
    gSlots[entry.slot].next.store(first, std::memory_order_relaxed);
    first = entry.slot;
  }
  for (std::size_t i = 0; i < threads->count; ++i) {
    ParkedThreads::Entry& entry = threads->entries[i];
    if (entry.result == ParkResult::kParked && entry.slot >= 0)
      gSlots[entry.slot].state.store(kReleased, std::memory_order_release);
    entry.result = ParkResult::kGone;
    entry.slot = -1;
  }
  if (first >= 0) futexWake(&gSlots[first].state);
  if (threads->owner) {
    threads->owner = false;
    gOwner.store(0, std::memory_order_release);
  }
}

}  // namespace sys
