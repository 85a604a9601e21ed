// Writing a crash report on the crash path: the time from a fault to the closed report file in a
// child process with 8 more threads (parked, walked and listed), next to writing the same number of
// bytes with plain write(2). The child also counts heap allocations while its handler runs: the crash
// path must make none.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/log_writer.h"
#include "crash_reporter/signal_numbers.h"
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

Outcome crashOnce(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {0, 0, 0, -1};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    gPipe = fds[1];
    std::snprintf(gPath, sizeof gPath, "%s", path.c_str());
    std::snprintf(gTempPath, sizeof gTempPath, "%s.tmp", path.c_str());
    sys::prepareThreadParking();
    crash_async_image_list_init(&gImages, crash_async_task_self());
    crash_async_image_list_sync(&gImages);
    crash_log_writer_init(&gWriter, "com.example.diary", "1.0", CRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, false);
    std::atomic<int> running{0};
    for (int i = 0; i < 8; ++i)
      std::thread([&running] {
        ++running;
        for (;;) pause();
      }).detach();
    while (running.load() < 8) std::this_thread::yield();
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
    clock_gettime(CLOCK_MONOTONIC, &gFault);
    volatile std::uintptr_t lowestPage = 16;  // an address the compiler cannot see through
    *reinterpret_cast<volatile int*>(lowestPage) = 1;
    _exit(3);
  }
  close(fds[1]);
  Outcome outcome{0, 0, 0, -1};
  if (read(fds[0], &outcome, sizeof outcome) != sizeof outcome) outcome.result = -1;
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  std::filesystem::remove(path);
  return outcome;
}

std::string benchFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string(name) + std::to_string(getpid()))).string();
}

std::int64_t gReportBytes = 30000;

// One write(2) of `bytes` to a new file, closed: the reference the crash path is held against.
std::int64_t plainWriteNanoseconds(const std::string& path, const std::vector<char>& bytes) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  benchmark::DoNotOptimize(write(fd, bytes.data(), bytes.size()));
  close(fd);
  const std::int64_t nanoseconds = since(start);
  std::filesystem::remove(path);
  return nanoseconds;
}

std::int64_t median(std::vector<std::int64_t> values) {
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                   values.end());
  return values[values.size() / 2];
}

// The machine this runs on is shared and busy, so a mean over a few forks swings with whatever else
// runs. Each crash is therefore paired with a plain write of its bytes made right after it, and the
// medians of both, and their ratio, are reported beside the mean.
void BM_CrashToClosedReport(benchmark::State& state) {
  const std::string path = benchFile("crash_report_bench_");
  const std::string plainPath = benchFile("crash_report_pair_");
  std::vector<std::int64_t> crashes, plains;
  for (auto _ : state) {
    const Outcome outcome = crashOnce(path);
    if (outcome.result != 0) {
      state.SkipWithError("the child did not write its report");
      return;
    }
    if (outcome.allocations != 0) {
      state.SkipWithError("the crash path allocated");
      return;
    }
    gReportBytes = outcome.bytes;
    state.SetIterationTime(static_cast<double>(outcome.nanoseconds) / 1e9);
    state.PauseTiming();
    crashes.push_back(outcome.nanoseconds);
    plains.push_back(
        plainWriteNanoseconds(plainPath, std::vector<char>(static_cast<std::size_t>(outcome.bytes), 'x')));
    state.ResumeTiming();
  }
  state.counters["bytes"] = static_cast<double>(gReportBytes);
  if (crashes.empty()) return;
  const std::int64_t crash = median(crashes), plain = median(plains);
  state.counters["median_us"] = static_cast<double>(crash) / 1e3;
  state.counters["plain_median_us"] = static_cast<double>(plain) / 1e3;
  state.counters["ratio_to_plain"] = plain > 0 ? static_cast<double>(crash) / static_cast<double>(plain) : 0;
}
BENCHMARK(BM_CrashToClosedReport)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

// The same bytes written with one write(2) to a new file, closed. The file is removed between rounds:
// rewriting an existing one through O_TRUNC makes some file systems flush it on close, which a crash
// report's new file never pays.
void BM_PlainWriteOfTheSameBytes(benchmark::State& state) {
  const std::string path = benchFile("crash_report_plain_");
  const std::vector<char> bytes(static_cast<std::size_t>(gReportBytes), 'x');
  for (auto _ : state) state.SetIterationTime(static_cast<double>(plainWriteNanoseconds(path, bytes)) / 1e9);
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_PlainWriteOfTheSameBytes)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
