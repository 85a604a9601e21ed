#pragma once
// A program run by a benchmark in a process of its own: the benchmark's own executable in another
// mode, a client program, or the reference program it is measured against. Both sides of a
// comparison are started alike, straight from the benchmark's process, without a shell.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/cpu_stopwatch.h"
#include "bench/scratch_folder.h"

extern char** environ;

namespace bench_support {

// This benchmark's own executable, for running it again in another mode.
inline std::string selfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

struct ProgramUsage {
  double wall = 0;       // seconds from the start to the exit
  double cpu = 0;        // user and system seconds of the program itself
  // The program's largest resident size, or the caller's when that was larger: a spawned program
  // starts in its caller's memory, and the kernel counts that too.
  double peakBytes = 0;
};

// Runs the program (found on PATH unless `arguments[0]` names a path) in `folder` when one is given,
// and waits for it. Nothing when it could not start or did not exit with 0. With an `output` file,
// the program reads nothing and its two streams are added to that file. An interruption of the
// benchmark ends the program first, and then waits here for the end.
inline std::optional<ProgramUsage> runProgram(std::vector<std::string> arguments,
                                              const std::filesystem::path& folder = {},
                                              const std::filesystem::path& output = {}) {
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
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
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
  return ProgramUsage{wall, seconds(usage.ru_utime) + seconds(usage.ru_stime),
                      static_cast<double>(usage.ru_maxrss) * 1024};  // kilobytes on Linux
}

// Two programs' usages over the rounds of a comparison (the first measured against the second),
// reported as medians. For sides named a and b the counters are
//   a_s, b_s, x_b              wall seconds, and a's over b's
//   a_cpu_s, b_cpu_s, x_b_cpu  CPU seconds (user + system), and a's over b's
// where a ratio is -1 when b's median is not above 0. A benchmark adds counters of its own from the
// laps kept here.
struct ProgramLaps {
  struct Side {
    std::vector<double> wall, cpu, peakBytes;
  };
  Side a, b;

  void add(const ProgramUsage& first, const ProgramUsage& second) {
    for (auto [side, usage] : {std::pair{&a, &first}, std::pair{&b, &second}}) {
      side->wall.push_back(usage->wall);
      side->cpu.push_back(usage->cpu);
      side->peakBytes.push_back(usage->peakBytes);
    }
  }

  static double ratio(double over, double under) { return under > 0 ? over / under : -1; }

  void report(benchmark::State& state, const std::string& aName, const std::string& bName) const {
    state.counters[aName + "_s"] = median(a.wall);
    state.counters[bName + "_s"] = median(b.wall);
    state.counters["x_" + bName] = ratio(median(a.wall), median(b.wall));
    state.counters[aName + "_cpu_s"] = median(a.cpu);
    state.counters[bName + "_cpu_s"] = median(b.cpu);
    state.counters["x_" + bName + "_cpu"] = ratio(median(a.cpu), median(b.cpu));
  }
};

}  // namespace bench_support
