// The diary's start-up under a long diary: `diary --no-window --script FILE` with a script that only
// quits, so that a run is the launch, the first screen drawn to its step picture, and the way out.
// It runs on two data roots that differ only in their notes: one baby with 300,000 notes, and the
// same baby with an empty notes list. Both roots come from one first run of the diary itself (a new
// baby, and the units chosen on the first-run overlay), copied with everything that run wrote (its
// first-launch file among them); the notes are then added to the copy through the store, as the
// diary saves them. So both open straight on the notes list.
//
// Each iteration runs the diary once on each root, in an order that alternates (bench_support::
// inTurn), so that a change of load on a shared machine meets both alike. The counters are medians
// of the iterations, and the ratios are those of the 300,000-note root over the empty one:
//
//   notes_s, empty_s, x_empty              wall seconds from the start to the exit
//   notes_cpu_s, empty_cpu_s, x_empty_cpu  CPU seconds (user + system) of the diary
//   notes_peak_MB, empty_peak_MB           the largest resident size
//   x_round_min, x_round_max               the least and the greatest wall ratio of one round
//
// The diaries run without a network where the benchmark may make a network namespace (as root), so
// that no name lookup, and no name server's delay, is part of the times.
// The roots live in a scratch folder that goes when the run ends, also when it is interrupted.
// `startup_bench --diary PATH` measures another build of the diary (an earlier one, to compare);
// `startup_bench --make-roots DIR` only writes the two roots into DIR (as DIR/notes and DIR/empty)
// and leaves them, for a profiler to run the diary on.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "bench/long_diary.h"
#include "bench/program_run.h"
#include "bench/scratch_folder.h"
#include "platform/foundation/clock.h"
#include "platform/store/store.h"
#include "tests/program/first_run_script.h"

namespace {

namespace fs = std::filesystem;
using bench_support::ProgramUsage;

constexpr int kNotes = 300'000;
constexpr double kSpacing = 3000;  // about 29 notes a day, the newest a minute ago

// The diary this benchmark was built with, or the one named by --diary.
std::string& diaryProgram() {
  static std::string path = DIARY_PROGRAM;
  return path;
}

// Runs the diary without a window on the data root `home` with the script `script`; its output goes
// to `log`. Nothing when it failed.
std::optional<ProgramUsage> runDiary(const fs::path& home, const fs::path& script, const fs::path& log) {
  ::setenv("DIARY_HOME", home.c_str(), 1);
  return bench_support::runProgram({diaryProgram(), "--no-window", "--script", script.string()}, {}, log);
}

// Ends the benchmark with `what` and the diary's output so far in `log` (when one is named).
[[noreturn]] void fail(const std::string& what, const fs::path& log) {
  std::cerr << "startup_bench: " << what << "\n";
  if (std::ifstream in(log); !log.empty() && in) std::cerr << in.rdbuf();
  std::cerr << std::flush;
  std::exit(1);
}

// The 300,000 notes, the newest stopping a minute ago, of the one baby in the store at `database`,
// written in one save as the diary's store writes them.
void addNotes(const fs::path& database) {
  auto store = store::Store::open(database, app::managedObjectModel());
  if (!store) fail("cannot open " + database.string() + ": " + store.error().localizedDescription(), {});
  auto context = (*store)->newContext().value();
  auto babies = context->fetch(store::FetchRequest(std::string(app::Baby::kEntityName)));
  if (!babies || babies->size() != 1) fail("the first run left no single baby", {});
  const app::Baby baby(babies->front());
  const foundation::Date newest = foundation::Clock::system().now() - 60;
  bench_support::insertNotes(*context, kNotes, newest, kSpacing, [&](int) { return baby; });
  if (auto saved = context->save(); !saved) fail("cannot save the notes: " + saved.error().localizedDescription(), {});
  (void)(*store)->close();
}

// The two roots under `folder`, and the scripts and logs of the runs on them.
struct Roots {
  fs::path folder;
  fs::path notes = folder / "notes";
  fs::path empty = folder / "empty";
  fs::path quitScript = folder / "quit.script";
  fs::path log = folder / "diary.log";

  explicit Roots(fs::path where) : folder(std::move(where)) {}

  void make() const {
    const fs::path firstRun = folder / "first-run.script";
    std::ofstream(firstRun) << program_run::kNewBabyFirstRun << "quit\n";
    std::ofstream(quitScript) << "quit\n";
    if (!runDiary(empty, firstRun, log)) fail("the first run failed", log);
    // The first run's step pictures are no part of either root.
    fs::remove_all(empty / "tmp" / "screens");
    fs::copy(empty, notes, fs::copy_options::recursive);
    addNotes(notes / "Documents" / std::string(app::kDataBaseFileName));
    // One launch each before timing, so that neither is timed on what a first start does once.
    for (const fs::path& home : {notes, empty})
      if (!runDiary(home, quitScript, log)) fail("a launch on " + home.string() + " failed", log);
  }
};

// The roots are made by this program run again with --make-roots, so that the 300,000 notes it
// holds in memory to write them never count as the peak of a diary started from here (a spawned
// child begins in its parent's memory, and the kernel counts that peak as the child's).
struct Rig {
  bench_support::ScratchFolder dir{"startup-bench"};
  Roots roots{dir.path()};
  Rig() {
    if (!bench_support::runProgram(
            {bench_support::selfPath(), "--diary", diaryProgram(), "--make-roots", dir.path().string()}))
      fail("making the data roots failed", roots.log);
  }
};

Rig& rig() {
  static Rig made;
  return made;
}

void BM_StartupVsEmpty(benchmark::State& state) {
  const Roots& roots = rig().roots;
  bench_support::ProgramLaps laps;  // the notes' root against the empty one
  int iteration = 0;
  for (auto _ : state) {
    std::optional<ProgramUsage> withNotes, without;
    bench_support::inTurn(
        iteration++, [&] { withNotes = runDiary(roots.notes, roots.quitScript, roots.log); },
        [&] { without = runDiary(roots.empty, roots.quitScript, roots.log); });
    if (!withNotes || !without) {
      state.SkipWithError("a launch of the diary failed (see its log)");
      break;
    }
    state.SetIterationTime(withNotes->wall);
    laps.add(*withNotes, *without);
  }
  laps.report(state, "notes", "empty");
  std::vector<double> rounds;
  for (size_t i = 0; i < laps.a.wall.size(); ++i) rounds.push_back(laps.ratio(laps.a.wall[i], laps.b.wall[i]));
  if (!rounds.empty()) {
    state.counters["x_round_min"] = *std::min_element(rounds.begin(), rounds.end());
    state.counters["x_round_max"] = *std::max_element(rounds.begin(), rounds.end());
  }
  state.counters["notes_peak_MB"] = bench_support::median(laps.a.peakBytes) / 1e6;
  state.counters["empty_peak_MB"] = bench_support::median(laps.b.peakBytes) / 1e6;
}
BENCHMARK(BM_StartupVsEmpty)->Iterations(60)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  // The diary's analytics starts sending its sessions as it quits, and looks its host's name (a
  // reserved one) up first. The exit does not wait for that lookup (the request is cancelled and
  // the lookup left behind), but how long its start takes still depends on the machine's resolver.
  // Without a network (a namespace of our own, where we may make one) it fails at once, alike on
  // both roots, so that no name lookup is part of the times.
  if (::unshare(CLONE_NEWNET) != 0)
    std::fprintf(stderr, "startup_bench: running with the network: the diary's name lookups are timed too\n");
  ::unsetenv("DISPLAY");
  if (argc >= 3 && std::strcmp(argv[1], "--diary") == 0) {
    diaryProgram() = fs::absolute(argv[2]).string();
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
  }
  if (argc == 3 && std::strcmp(argv[1], "--make-roots") == 0) {
    fs::create_directories(argv[2]);
    Roots(fs::absolute(argv[2])).make();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
