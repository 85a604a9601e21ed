#pragma once
// Runs test code that crashes on purpose in a forked child, and tells the parent what the child
// reported on its way down and how it ended.

#include <sys/wait.h>

#include <cstdint>
#include <functional>
#include <string>

namespace crash_testing {

struct ChildResult {
  std::string report;  // everything the child passed to report(), in order
  int status = 0;      // as waitpid gives it

  bool killedBy(int nativeSignal) const { return WIFSIGNALED(status) && WTERMSIG(status) == nativeSignal; }
  bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  std::string describe() const;  // "exit 3" or "signal 11", for failure messages
};

// Forks; the child starts with the crash signals at their default actions, no core files and a
// 60-second alarm (a child that hangs dies of SIGALRM instead of stalling the suite), runs `body`
// and exits with status 0 when it returns. The parent reads the report until the child is gone and
// reaps it.
ChildResult runInChild(const std::function<void()>& body);

// Appends to the report; async-signal-safe, for use inside handlers. Only in a child.
void report(const char* text) noexcept;
// Appends the decimal form of `value`; async-signal-safe. Only in a child.
void reportNumber(long long value) noexcept;

}  // namespace crash_testing
