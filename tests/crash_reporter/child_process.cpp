#include "child_process.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace crash_testing {
namespace {

int gReportFd = -1;

void writeAll(const char* data, std::size_t length) noexcept {
  while (length > 0) {
    const ssize_t n = write(gReportFd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string ChildResult::describe() const {
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  return "status " + std::to_string(status);
}

void report(const char* text) noexcept { writeAll(text, std::strlen(text)); }

void reportNumber(long long value) noexcept {
  char digits[24];
  char* end = digits + sizeof(digits);
  char* at = end;
  const bool negative = value < 0;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value) : value;
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (negative) *--at = '-';
  writeAll(at, static_cast<std::size_t>(end - at));
}

ChildResult runInChild(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
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
  ChildResult result;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.report.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

}  // namespace crash_testing
