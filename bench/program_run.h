#pragma once
// A program run by a benchmark in a process of its own: the benchmark's own executable in another
// mode, a client program, or the reference program it is measured against. Both sides of a
// comparison are started alike, straight from the benchmark's process, without a shell.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/cpu_stopwatch.h"
#include "bench/scratch_folder.h"

extern char** environ;

namespace bench_support {

// This benchmark's own executable, for running it again in another mode.
inline std::string selfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

struct ProgramUsage {
  double wall = 0;  // seconds from the start to the exit
  double cpu = 0;   // user and system seconds of the program itself
};

// Runs the program (found on PATH unless `arguments[0]` names a path) in `folder` when one is given,
// and waits for it. Nothing when it could not start or did not exit with 0. An interruption of the
// benchmark ends the program first, and then waits here for the end.
inline std::optional<ProgramUsage> runProgram(std::vector<std::string> arguments,
                                              const std::filesystem::path& folder = {}) {
  static std::atomic<pid_t> running{0};
  static const int hook = addStopHook([] {
    if (pid_t pid = running.load(); pid > 0) ::kill(pid, SIGKILL);
  });
  (void)hook;
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  int status = -1;
  rusage usage{};
  const double begin = wallSeconds();
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  if (spawned == 0) {
    running = pid;
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    running = 0;
  }
  const double wall = wallSeconds() - begin;
  posix_spawn_file_actions_destroy(&actions);
  if (stopping()) awaitStop();
  if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return ProgramUsage{wall, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

}  // namespace bench_support
