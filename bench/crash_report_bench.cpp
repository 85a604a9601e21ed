// Writing a crash report on the crash path: the time from a fault to the closed report file in a
// child process (started afresh, as an application is) with 8 more threads (parked, walked and
// listed), next to a plain in-process handler doing the same work the way a person would write it for
// this one purpose: list the threads, park the 8 others with a signal, take every thread's registers,
// walk every stack by its frame pointers, write what it found to a temporary file and rename it into
// place. The reference reads stacks directly (no guarded reads), by frame pointers alone (it stops in
// the C library, which keeps none), names no function, lists no image and encodes nothing; what the
// reporter does beyond that (its walk goes on through call-frame information, so it finds more frames)
// is what the ratio prices. The child also counts heap allocations while the reporter's handler runs:
// the crash path must make none.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cpu_stopwatch.h"
#include "program_run.h"
#include "crash_reporter/log_writer.h"
#include "crash_reporter/signal_handler.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/system/signal_stack.h"
#include "platform/system/threads.h"

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* pointer, std::size_t size);

namespace {

std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};

}  // namespace

// Every allocation of the process passes here; while the handler runs, each one is counted.
extern "C" void* malloc(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  return __libc_realloc(pointer, size);
}

namespace {

using namespace crash;

struct Outcome {
  std::int64_t nanoseconds;
  std::int64_t bytes;
  int allocations;
  int result;
};

crash_log_writer gWriter;
crash_async_image_list gImages;
char gPath[256], gTempPath[256];
int gPipe = -1;
timespec gFault;

std::int64_t since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1'000'000'000 + (now.tv_nsec - start.tv_nsec);
}

void onFault(int nativeSignal, siginfo_t* info, void* uap) noexcept {
  gCounting = true;
  crash_async_thread_state state;
  crash_async_thread_state_mcontext_init(&state, &static_cast<ucontext_t*>(uap)->uc_mcontext);
  crash_log_signal_info signal{};
  signal.bsd = {crash_signal_from_native(nativeSignal),
                crash_signal_code_from_native(nativeSignal, info->si_code),
                reinterpret_cast<std::uintptr_t>(info->si_addr)};
  const int result = crash_write_report_file(&gWriter, gPath, gTempPath, crash_async_mach_thread_self(),
                                             &gImages, &signal, &state);
  Outcome outcome{since(gFault), 0, gAllocations.load(), result};
  gCounting = false;
  const int fd = open(gPath, O_RDONLY);
  outcome.bytes = lseek(fd, 0, SEEK_END);
  close(fd);
  if (write(gPipe, &outcome, sizeof outcome) != sizeof outcome) _exit(4);
  _exit(0);
}

// ---- The reference: a plain handler doing the same work.

constexpr int kReferenceSignal = 40;  // a real-time signal of its own for parking
constexpr int kMaxReferenceThreads = 64;

struct ReferenceSlot {
  std::atomic<int> parked{0};  // futex word
  mcontext_t registers;
};
ReferenceSlot gSlots[kMaxReferenceThreads];
std::atomic<int> gRelease{0};  // futex word

void futexWait(std::atomic<int>* word, int value) {
  syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}
void futexWake(std::atomic<int>* word) {
  syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

void onPark(int, siginfo_t* info, void* uap) {
  ReferenceSlot& slot = gSlots[info->si_value.sival_int];
  slot.registers = static_cast<ucontext_t*>(uap)->uc_mcontext;
  slot.parked.store(1);
  futexWake(&slot.parked);
  while (gRelease.load() == 0) futexWait(&gRelease, 0);
}

// Up to 64 return addresses by frame pointers, read directly: each frame must lie above the last and
// within 8 MB of the stack pointer.
int walk(std::uint64_t pc, std::uint64_t fp, std::uint64_t sp, std::uint64_t* out) {
  int count = 0;
  out[count++] = pc;
  while (count < 64 && fp > sp && fp - sp < (8u << 20) && (fp & 7) == 0) {
    const auto* frame = reinterpret_cast<const std::uint64_t*>(fp);
    if (frame[1] < 16385) break;
    out[count++] = frame[1];
    if (frame[0] <= fp) break;
    fp = frame[0];
  }
  return count;
}

struct ThreadRecord {
  int tid;
  int frameCount;
  std::uint64_t registers[NGREG];
  std::uint64_t frames[64];
};

void onReferenceFault(int, siginfo_t*, void* uap) {
  // List the threads.
  const int self = static_cast<int>(syscall(SYS_gettid));
  int tids[kMaxReferenceThreads];
  int count = 0;
  const int dir = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  alignas(8) char buffer[2048];
  for (long n; (n = syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0;) {
    for (long at = 0; at < n;) {
      unsigned short length;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      const int tid = std::atoi(buffer + at + 19);
      if (tid > 0 && count < kMaxReferenceThreads) tids[count++] = tid;
      at += length;
    }
  }
  close(dir);
  // Park every other thread: signal all, then wait for each.
  const pid_t pid = getpid();
  const uid_t uid = getuid();
  for (int i = 0; i < count; ++i) {
    if (tids[i] == self) continue;
    siginfo_t info{};
    info.si_signo = kReferenceSignal;
    info.si_code = SI_QUEUE;
    info.si_pid = pid;
    info.si_uid = uid;
    info.si_value.sival_int = i;
    syscall(SYS_rt_tgsigqueueinfo, pid, tids[i], kReferenceSignal, &info);
  }
  for (int i = 0; i < count; ++i)
    if (tids[i] != self)
      while (gSlots[i].parked.load() == 0) futexWait(&gSlots[i].parked, 0);
  // Registers and stacks, into a temporary file, renamed into place.
  const int fd = open(gTempPath, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  for (int i = 0; i < count; ++i) {
    const mcontext_t& registers =
        tids[i] == self ? static_cast<ucontext_t*>(uap)->uc_mcontext : gSlots[i].registers;
    ThreadRecord record{};
    record.tid = tids[i];
    std::memcpy(record.registers, registers.gregs, sizeof record.registers);
    record.frameCount = walk(static_cast<std::uint64_t>(registers.gregs[REG_RIP]),
                             static_cast<std::uint64_t>(registers.gregs[REG_RBP]),
                             static_cast<std::uint64_t>(registers.gregs[REG_RSP]), record.frames);
    if (write(fd, &record, offsetof(ThreadRecord, frames) + 8 * static_cast<std::size_t>(record.frameCount)) < 0)
      _exit(5);
  }
  close(fd);
  rename(gTempPath, gPath);
  gRelease.store(1);
  futexWake(&gRelease);
  Outcome outcome{since(gFault), 0, 0, 0};
  if (write(gPipe, &outcome, sizeof outcome) != sizeof outcome) _exit(4);
  _exit(0);
}

// The crashing child: a process started afresh for each crash, as an application is, rather than a
// fork of this one. A forked child shares its pages with its parent until it writes them, which no
// crashing application does: there a guarded read (which pins the page it reads) copies each shared
// page, where a plain read does not. `reporter` picks whose handler writes the report; `pipe` takes the
// outcome.
[[noreturn]] void runCrashChild(const std::string& path, bool reporter, int pipe) {
  gPipe = pipe;
  std::snprintf(gPath, sizeof gPath, "%s", path.c_str());
  std::snprintf(gTempPath, sizeof gTempPath, "%s.tmp", path.c_str());
  // Both handlers run on an alternate stack, as the reporter's does in the product.
  sys::ensureAlternateSignalStack(TallyCrashSignalHandler::kAlternateStackSize);
  struct sigaction action {};
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  if (reporter) {
    sys::prepareThreadParking();
    crash_async_image_list_init(&gImages, crash_async_task_self());
    crash_async_image_list_sync(&gImages);
    crash_log_writer_init(&gWriter, "com.example.diary", "1.0", CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, false);
    action.sa_sigaction = onFault;
  } else {
    struct sigaction park {};
    park.sa_flags = SA_SIGINFO | SA_RESTART;
    park.sa_sigaction = onPark;
    sigfillset(&park.sa_mask);
    sigaction(kReferenceSignal, &park, nullptr);
    action.sa_sigaction = onReferenceFault;
  }
  std::atomic<int> running{0};
  for (int i = 0; i < 8; ++i)
    std::thread([&running] {
      ++running;
      for (;;) pause();
    }).detach();
  while (running.load() < 8) std::this_thread::yield();
  sigaction(SIGSEGV, &action, nullptr);
  clock_gettime(CLOCK_MONOTONIC, &gFault);
  volatile std::uintptr_t lowestPage = 16;  // an address the compiler cannot see through
  *reinterpret_cast<volatile int*>(lowestPage) = 1;
  _exit(3);
}

constexpr int kChildPipe = 100;  // where the child finds the write end of its outcome pipe

std::atomic<pid_t> gChild{0};  // the crash child running now, for an interruption to end

// Runs a crashing child (this program again, see main) and reads its outcome. An interruption of the
// benchmark ends the child first; the scratch folder holding its files goes after.
Outcome crashOnce(const std::string& path, bool reporter) {
  static const int hook = bench_support::addStopHook([] {
    if (const pid_t child = gChild.load(); child > 0) ::kill(child, SIGKILL);
  });
  (void)hook;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {0, 0, 0, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kChildPipe);
  const std::string self = bench_support::selfPath();
  std::vector<char*> argv{const_cast<char*>(self.c_str()), const_cast<char*>("--crash-child"),
                          const_cast<char*>(reporter ? "reporter" : "reference"),
                          const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  Outcome outcome{0, 0, 0, -1};
  if (spawned == 0) {
    gChild = pid;
    if (read(fds[0], &outcome, sizeof outcome) != sizeof outcome) outcome.result = -1;
    waitpid(pid, nullptr, 0);
    gChild = 0;
  }
  close(fds[0]);
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".tmp");
  if (bench_support::stopping()) bench_support::awaitStop();
  return outcome;
}

// The machine this runs on is shared and busy, so a mean over a few forks swings with whatever else
// runs. Each round therefore makes one reporter crash and one reference crash, the reference first in
// every other round, and the medians of both, and their ratio, are reported beside the mean.
void BM_CrashToClosedReport(benchmark::State& state) {
  const bench_support::ScratchFolder dir{"crash_report_bench"};
  const std::string path = (dir / "report").string();
  bench_support::AlternatedLaps laps;
  std::int64_t bytes = 0;
  const char* failure = nullptr;
  for (auto _ : state) {
    state.PauseTiming();
    Outcome outcome{};
    laps.round(
        [&] {
          outcome = crashOnce(path, true);
          return static_cast<double>(outcome.nanoseconds) / 1e9;
        },
        [&] {
          const Outcome reference = crashOnce(path, false);
          if (reference.result != 0) failure = "the reference child did not finish";
          return static_cast<double>(reference.nanoseconds) / 1e9;
        });
    state.ResumeTiming();
    if (outcome.result != 0) failure = "the child did not write its report";
    if (outcome.allocations != 0) failure = "the crash path allocated";
    if (failure) {
      state.SkipWithError(failure);
      return;
    }
    bytes = outcome.bytes;
    state.SetIterationTime(static_cast<double>(outcome.nanoseconds) / 1e9);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["median_us"] = laps.ours() * 1e6;
  state.counters["reference_median_us"] = laps.reference() * 1e6;
  state.counters["ratio_to_reference"] = laps.ratio();
}
BENCHMARK(BM_CrashToClosedReport)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

// The reference alone, for its own spread.
void BM_PlainHandlerReference(benchmark::State& state) {
  const bench_support::ScratchFolder dir{"crash_report_bench"};
  const std::string path = (dir / "report").string();
  for (auto _ : state) {
    const Outcome outcome = crashOnce(path, false);
    if (outcome.result != 0) {
      state.SkipWithError("the reference child did not finish");
      return;
    }
    state.SetIterationTime(static_cast<double>(outcome.nanoseconds) / 1e9);
  }
}
BENCHMARK(BM_PlainHandlerReference)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--crash-child") == 0)
    runCrashChild(argv[3], std::strcmp(argv[2], "reporter") == 0, kChildPipe);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
