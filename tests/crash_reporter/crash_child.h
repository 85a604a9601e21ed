#pragma once
// Crashes on purpose happen in a forked child, which tells the parent what it saw through a pipe; the
// parent compares that report and how the child ended. One runner for every crash test of the folder,
// and the test module (frames_module.c) the crashes happen in.

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

// Under the address sanitizer the C library's functions are the runtime's interceptors and the
// runtime takes the crash signals first, so a walk through the C library, or a product child's
// crash, is not what a product build shows: such tests do not run there.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ADDRESS_SANITIZER() \
  GTEST_SKIP() << "the address sanitizer's runtime stands between the product and the C library"
#else
#define SKIP_UNDER_ADDRESS_SANITIZER() (void)0
#endif

namespace crash_child {

// crash_test_frame_a of the test module: it calls _b, which calls _c; _c then stores 1 through `target`
// (mode 0), stores 1 and spins until `*target` is 2 (mode 1), or calls `action(context)` (mode 2).
using FrameFunction = int (*)(int mode, volatile int* target, void (*action)(void*), void* context);

struct Module {
  void* handle = nullptr;
  FrameFunction enter = nullptr;  // null when the module could not be loaded
};

inline Module openModule() {
  Module module;
  module.handle = dlopen(CRASH_TEST_FRAMES_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (module.handle)
    module.enter = reinterpret_cast<FrameFunction>(dlsym(module.handle, "crash_test_frame_a"));
  return module;
}

// A store to the lowest page from crash_test_frame_c; unlike a null pointer, sanitizers let it through
// to the fault.
inline void crashInModule(FrameFunction enter) {
  enter(0, reinterpret_cast<volatile int*>(16), nullptr, nullptr);
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The child's end of the report pipe; -1 in the parent.
inline int gReportFd = -1;

// Appends to the child's report. Async-signal-safe.
inline void report(std::initializer_list<const char*> parts) noexcept {
  for (const char* text : parts) {
    for (std::size_t left = std::strlen(text); left > 0;) {
      const ssize_t n = write(gReportFd, text, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      text += n;
      left -= static_cast<std::size_t>(n);
    }
  }
}

// A small number as text, in the caller's buffer. Async-signal-safe.
inline const char* number(int value, char (&digits)[16]) noexcept {
  char* at = digits + sizeof digits;
  *--at = '\0';
  do *--at = static_cast<char>('0' + value % 10);
  while ((value /= 10) > 0);
  return at;
}

// Reports "<what>;", or "NOT <what>;" when the check failed. Async-signal-safe.
inline void check(bool ok, const char* what) noexcept { report({ok ? "" : "NOT ", what, ";"}); }

// What the child reported, and how it ended ("exit 0", "signal 11").
using Outcome = std::pair<std::string, std::string>;

inline std::string killedBy(int nativeSignal) { return "signal " + std::to_string(nativeSignal); }

// Runs `body` in a forked child with the crash signals at their default actions, no core files and
// a 60-second alarm (a child that hangs dies of SIGALRM instead of stalling the suite); the child
// exits 0 when `body` returns.
inline Outcome runInChild(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {"pipe failed", ""};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    gReportFd = fds[1];
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP}) signal(sig, SIG_DFL);
    alarm(60);
    body();
    _exit(0);
  }
  close(fds[1]);
  Outcome outcome;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) outcome.first.append(buffer, static_cast<std::size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(fds[0]);
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.second =
      WIFSIGNALED(status) ? killedBy(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status));
  return outcome;
}

}  // namespace crash_child
