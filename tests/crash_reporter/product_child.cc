// A program built and linked exactly as the diary is (the product's flags, frame pointers, position-
// independent, the reporter linked in as a static library), which enables the reporter as the analytics
// SDK does and then fails in ordinary code, for the crash tests to read the report it leaves.
// Nothing here helps the walk: no barriers after calls, no special flags. Calls are kept from
// becoming jumps only the way ordinary code keeps them, by using what they return; every value
// comes from the command line, so the compiler makes no copies of these functions for constants.
//
// Usage: crash_product_child <scenario> <home> [count]
// Scenarios: unbundled (prints the name of the report folder of a reporter made without a bundle, or
// why it cannot be made), abort, exception, strlen, segv, end_of_function, fpe, trap, overflow, waiting (a live
// report of threads waiting in the C library), waiting_crash (a crash beside them), mixed, oversize.
// A live report (waiting, oversize) is written to <home>/live.crashlg and the program exits 0.
// (The file is *.cc so that the test folder's glob for test sources leaves it out.)

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>

#include "crash_reporter/reporter.h"
#include "platform/files/app_home.h"

namespace {

crash::TallyCrashReporter* gReporter = nullptr;
std::string gHome;

// Waits until `expected` other threads of the process sleep in the kernel, so that a live report sees
// them waiting rather than on their way there. A minute without them ends the program (exit 8), so a
// test that waits for it fails rather than hangs.
void awaitSleepingThreads(int expected) {
  const pid_t self = static_cast<pid_t>(gettid());
  const std::time_t giveUp = std::time(nullptr) + 60;
  for (;;) {
    if (std::time(nullptr) > giveUp) std::exit(8);
    int sleeping = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
      while (const dirent* entry = readdir(tasks)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0 || tid == self) continue;
        std::ifstream stat("/proc/self/task/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        sleeping += close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
      }
      closedir(tasks);
    }
    if (sleeping >= expected) return;
    sched_yield();
  }
}

void writeLive(const foundation::Result<foundation::Bytes>& bytes) {
  if (!bytes) {
    std::fprintf(stderr, "live report failed: %s\n", bytes.error().description().c_str());
    std::exit(5);
  }
  std::ofstream out(gHome + "/live.crashlg", std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
}

}  // namespace

extern "C" {

// ---- Crashes in the product's own code, and in the C library called from it.

__attribute__((noinline)) int product_abort_site(int n) {
  if (n > 0) std::abort();
  return n + 1;
}

__attribute__((noinline)) int product_throw_site(int n) {
  if (n > 0) throw std::runtime_error("product failure " + std::to_string(n));
  return n + 1;
}

__attribute__((noinline)) std::size_t product_strlen_site(const char* text) { return std::strlen(text) * 3 + 1; }

__attribute__((noinline)) int product_segv_site(volatile int* target, int n) {
  *target = n;
  return *target + 1;
}

// Ends in a call that never returns: its return address is the first byte after the function.
[[noreturn]] __attribute__((noinline)) void product_never_returns(volatile int* target, int n) {
  *target = n;
  std::abort();
}
__attribute__((noinline)) void product_ends_in_call(volatile int* target, int n) { product_never_returns(target, n + 1); }

__attribute__((noinline)) int product_fpe_site(int divisor, int n) { return n / divisor + 1; }

// Calls itself until the stack runs out (for any `limit` above the depth the stack allows); each frame
// keeps a local the next one reads, so the recursion stays a recursion.
__attribute__((noinline)) int product_recurses_until(volatile int* trail, long limit) {
  volatile int here = *trail + 1;
  if (limit == 0) return here;
  return product_recurses_until(&here, limit - 1) + here;
}

__attribute__((noinline)) int product_trap_site(int n) {
  if (n > 0) __builtin_trap();
  return n + 1;
}

// ---- Threads waiting in the C library.

pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gNever = PTHREAD_COND_INITIALIZER;
std::atomic<int> gWakes{0};

__attribute__((noinline)) int product_waits_on_condition(int n) {
  pthread_mutex_lock(&gMutex);
  while (n > 0) pthread_cond_wait(&gNever, &gMutex);
  pthread_mutex_unlock(&gMutex);
  return n + 1;
}
__attribute__((noinline)) void* product_condition_thread(void* arg) {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(product_waits_on_condition(*static_cast<int*>(arg)) + 1));
}

__attribute__((noinline)) long product_waits_in_read(int fd) {
  char byte;
  const long got = read(fd, &byte, 1);
  return got * 2 + 1;
}
__attribute__((noinline)) void* product_reader_thread(void* arg) {
  return reinterpret_cast<void*>(product_waits_in_read(*static_cast<int*>(arg)) + 1);
}

__attribute__((noinline)) int product_waits_in_pause(int n) {
  while (n > 0) {
    pause();
    gWakes.fetch_add(1);
  }
  return n + 1;
}

__attribute__((noinline)) std::size_t product_asks_live_report(int expected) {
  awaitSleepingThreads(expected);
  auto bytes = gReporter->generateLiveReportAndReturnError();
  writeLive(bytes);
  return bytes ? bytes->size() : 0;
}
__attribute__((noinline)) void* product_reporter_thread(void* arg) {
  const std::size_t size = product_asks_live_report(*static_cast<int*>(arg));
  _exit(size > 0 ? 0 : 6);
}

// Crashes once the others wait, so that the crash's report sees them waiting.
__attribute__((noinline)) void* product_crasher_thread(void* arg) {
  awaitSleepingThreads(*static_cast<int*>(arg));
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(product_segv_site(reinterpret_cast<volatile int*>(16), 1)));
}

// ---- Many threads at once.

std::atomic<int> gReady{0};
std::atomic<bool> gGo{false};

// Thread i faults the (i % 4)th way: a bad store, abort(), a division by zero, a trap.
__attribute__((noinline)) void* product_mixed_thread(void* arg) {
  const int i = *static_cast<int*>(arg);
  gReady.fetch_add(1);
  while (!gGo.load()) {
  }
  int result = 0;
  switch (i % 4) {
    case 0:
      result = product_segv_site(reinterpret_cast<volatile int*>(16), i + 1);
      break;
    case 1:
      result = product_abort_site(i + 1);
      break;
    case 2:
      result = product_fpe_site(0, i + 1);
      break;
    default:
      result = product_trap_site(i + 1);
      break;
  }
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(result));
}

// `depth` calls deep, then waits; each frame lends its caller a local, as real code passes its own
// state down.
__attribute__((noinline)) int product_recurses(int depth, int* trail) {
  int here = depth + *trail;
  if (depth == 0) return product_waits_on_condition(here + 1);
  return product_recurses(depth - 1, &here) + here;
}
__attribute__((noinline)) void* product_deep_thread(void* arg) {
  int start = 1;
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(product_recurses(*static_cast<int*>(arg), &start)));
}

}  // extern "C"

namespace {

void startThread(void* (*body)(void*), void* arg) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, body, arg) != 0) std::exit(7);
  pthread_detach(thread);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string scenario = argv[1];
  gHome = argv[2];
  const int count = argc > 3 ? std::atoi(argv[3]) : 1;
  if (scenario == "unbundled") {
    // A reporter as a process without a bundle makes it: named after the program, or refused.
    auto made = crash::TallyCrashReporter::initWithBundle(nullptr, crash::TallyCrashReporterConfig(0, 3),
                                                          files::AppHome(gHome));
    std::printf("%s\n", made ? (*made)->crashReportDirectory().filename().c_str()
                             : (made.error().domain + ": " + made.error().localizedDescription()).c_str());
    return made ? 0 : 10;
  }
  gReporter = new crash::TallyCrashReporter("com.example.diary", "7", crash::TallyCrashReporterConfig(0, 3),
                                            files::AppHome(gHome));
  if (!gReporter->enableCrashReporterAndReturnError()) return 3;
  volatile int* const unmapped = reinterpret_cast<volatile int*>(static_cast<std::uintptr_t>(count) * 16);
  int result = 0;
  if (scenario == "abort") result = product_abort_site(count);
  if (scenario == "exception") result = product_throw_site(count);
  if (scenario == "strlen") result = static_cast<int>(product_strlen_site(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(count) * 16)));
  if (scenario == "segv") result = product_segv_site(unmapped, count);
  if (scenario == "end_of_function") product_ends_in_call(unmapped, count);
  if (scenario == "fpe") result = product_fpe_site(count - 1, count);
  if (scenario == "trap") result = product_trap_site(count);
  if (scenario == "overflow") {
    volatile int start = count;
    result = product_recurses_until(&start, 1L << 40);
  }
  if (scenario == "waiting" || scenario == "waiting_crash") {
    static int fds[2];
    static int waits = count;
    static int others = 3;  // main, the condition and the reader
    if (pipe(fds) != 0) return 7;
    startThread(product_condition_thread, &waits);
    startThread(product_reader_thread, &fds[0]);
    startThread(scenario == "waiting" ? product_reporter_thread : product_crasher_thread, &others);
    result = product_waits_in_pause(count);
  }
  if (scenario == "mixed") {
    static int numbers[64];
    const int threads = count < 64 ? count : 64;
    for (int i = 0; i < threads; ++i) {
      numbers[i] = i;
      startThread(product_mixed_thread, &numbers[i]);
    }
    while (gReady.load() < threads) {
    }
    gGo = true;
    result = product_waits_in_pause(count);
  }
  if (scenario == "oversize") {
    static int depth = 200;
    for (int i = 0; i < count; ++i) startThread(product_deep_thread, &depth);
    result = static_cast<int>(product_asks_live_report(count));
    _exit(result > 0 ? 0 : 6);
  }
  return result > 0 ? 4 : 5;  // uses every result, so no call is left out
}
