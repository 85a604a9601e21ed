// Packing and unpacking the backup archive: a Documents folder of about 100 MB of JPEG photos and
// a 20 MB store, packed by the file store and, in the same run, by `zip -r -6 -n .jpg` of the
// same folder (which stores the photos, as the file store writes them at deflate level 0); then
// unpacked by the file store's restore staging and by `unzip`. The data are made once per run in
// a scratch folder under the system's temporary folder, which goes when the run ends (also when it
// is interrupted). The ratios printed at the end are of the median runs: aim for a pack time
// within 1.1 times zip's and a size within 0.1%.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "bench/scratch_folder.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"
#include "platform/store/store.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kPhotoBytes = 100u << 20;
constexpr std::uintmax_t kStoreBytes = 20u << 20;

std::unique_ptr<bench_support::ScratchFolder>& scratch() {
  static std::unique_ptr<bench_support::ScratchFolder> folder;
  return folder;
}

fs::path dataRoot() {
  if (!scratch()) scratch() = std::make_unique<bench_support::ScratchFolder>("backup-bench");
  return scratch()->path();
}

const files::AppHome& home() {
  static const files::AppHome home(dataRoot() / "home");
  return home;
}

// A photo-like picture: smooth light and shade with sensor noise, so that it compresses the way
// a camera's JPEG does (hardly at all once encoded).
foundation::Bytes photo(unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-24, 24);
  const int width = 1600, height = 1200;
  graphics::Image image(width, height);
  const int cx = static_cast<int>(random() % width), cy = static_cast<int>(random() % height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int d = (std::abs(x - cx) + std::abs(y - cy)) / 12;
      const auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
      image.setPixel(x, y,
                     {clamp(200 - d + noise(random)), clamp(140 + (x / 9) % 60 + noise(random)),
                      clamp(90 + (y / 7) % 80 + noise(random)), 255});
    }
  }
  return *image.jpegData(1.0);
}

// A diary store of about 20 MB: notes of one baby with dates, numbers, repeated type names and
// a short notice each, saved in batches as a long-used diary would have them.
bool makeStore(const fs::path& file) {
  std::mt19937 random(7);
  static const char* const kTypes[] = {"Breast Feeding", "Sleep", "WC",         "Walk",
                                       "Food",           "Drink", "Temperature"};
  auto store = store::Store::open(file, app::managedObjectModel());
  if (!store) return false;
  auto context = (*store)->newContext();
  if (!context) return false;
  const app::Baby baby = app::Baby::insertIn(**context);
  baby.setBaby_Name("Anna");
  std::error_code ec;
  for (unsigned batch = 0; fs::file_size(file, ec) < kStoreBytes; ++batch) {
    for (unsigned i = 0; i < 10000; ++i) {
      const app::Note note = app::Note::insertIn(**context);
      const double start = 450000000.0 + random() % 40000000;
      note.setNote_Type(kTypes[random() % 7]);
      note.setNote_DateStart(foundation::Date{start});
      note.setNote_DateStop(foundation::Date{start + random() % 7200});
      note.setNote_strValue(random() % 2 ? "Left Breast" : "Right Breast");
      note.setNote_numMeasureCurrent("Notation_ml");
      note.setNote_Notice("note " + std::to_string(random()) + " of batch " + std::to_string(batch));
      note.setNoteToBaby(baby);
    }
    if (!(*context)->save() || !(*store)->checkpoint()) return false;
  }
  return static_cast<bool>((*store)->close());
}

void prepare() {
  const fs::path documents = home().documents();
  static bool ready = false;
  if (ready) return;
  if (!home().create() || !files::createDirectory(documents / "Photos") ||
      !files::createDirectory(documents / "BabyInfo")) {
    std::fprintf(stderr, "cannot make %s\n", dataRoot().c_str());
    std::exit(1);
  }
  std::uintmax_t total = 0;
  for (unsigned i = 0; total < kPhotoBytes; ++i) {
    const foundation::Bytes jpeg = photo(i);
    const fs::path path = i % 10 == 9
                              ? documents / "BabyInfo" / ("Baby " + std::to_string(i) + "_ava.jpg")
                              : documents / "Photos" / ("_2015_March_05_10_" + std::to_string(i) + "_7.jpg");
    (void)files::writeAtomic(path, jpeg);
    total += jpeg.size();
  }
  if (!makeStore(documents / "dataBase.sqlite")) {
    std::fprintf(stderr, "cannot make the store\n");
    std::exit(1);
  }
  (void)files::createDirectory(home().library() / "Settings");
  (void)files::writeText(home().library() / "Settings" / "firstLaunch.txt", "2015.03.05",
                         files::TextEncoding::Utf16);
  ready = true;
}

std::uintmax_t folderBytes(const fs::path& folder) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

// Wall time of each run of each measurement, for the ratios of medians printed at the end.
std::map<std::string, std::vector<double>>& laps() {
  static std::map<std::string, std::vector<double>> times;
  return times;
}
void record(const std::string& name, double seconds) { laps()[name].push_back(seconds); }
std::map<std::string, std::uintmax_t>& sizes() {
  static std::map<std::string, std::uintmax_t> bytes;
  return bytes;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The shell command's process while it runs, ended on an interrupt before the scratch folder goes.
std::atomic<pid_t> commandPid{0};

// Runs the command through the shell and waits for it. (Not std::system: it ignores SIGINT while it
// waits, so an interrupt would not stop the run.)
void run(const std::string& command) {
  static const int hook = bench_support::addStopHook([] {
    // The shell and what it started, as one process group.
    if (pid_t pid = commandPid.load(); pid > 0) ::kill(-pid, SIGKILL);
  });
  (void)hook;
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  int status = -1;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned == 0) {
    commandPid = pid;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    commandPid = 0;
  }
  if (bench_support::stopping()) bench_support::awaitStop();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

void BM_CreateZip(benchmark::State& state) {
  prepare();
  app::localSaves saves(home());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!saves.createZip()) state.SkipWithError("createZip failed");
    const double took = seconds(start);
    state.SetIterationTime(took);
    record("pack", took);
  }
  sizes()["pack"] = fs::file_size(saves.backUpArchivePath());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folderBytes(home().documents())));
  state.counters["archive_MB"] = static_cast<double>(sizes()["pack"]) / (1 << 20);
}

void BM_ZipR6StoringJpeg(benchmark::State& state) {
  prepare();
  const fs::path out = dataRoot() / "zip-r-6.zip";
  for (auto _ : state) {
    (void)files::remove(out);
    const auto start = std::chrono::steady_clock::now();
    run("cd '" + home().documents().string() + "' && zip -q -r -6 -n .jpg '" + out.string() + "' .");
    const double took = seconds(start);
    state.SetIterationTime(took);
    record("zip", took);
  }
  sizes()["zip"] = fs::file_size(out);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folderBytes(home().documents())));
  state.counters["archive_MB"] = static_cast<double>(sizes()["zip"]) / (1 << 20);
}

void BM_UnpackForRestore(benchmark::State& state) {
  prepare();
  app::localSaves saves(home());
  if (!fs::exists(saves.backUpArchivePath()) && !saves.createZip()) state.SkipWithError("createZip failed");
  const auto accept = [](const fs::path&) { return foundation::Status(); };
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto staged = saves.stageBackUp(accept);
    const double took = seconds(start);
    if (!staged) state.SkipWithError("unpacking failed");
    state.SetIterationTime(took);
    record("unpack", took);
    if (staged) (void)files::remove(staged->documents);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folderBytes(home().documents())));
}

void BM_Unzip(benchmark::State& state) {
  prepare();
  app::localSaves saves(home());
  if (!fs::exists(saves.backUpArchivePath()) && !saves.createZip()) state.SkipWithError("createZip failed");
  const fs::path out = dataRoot() / "unzipped";
  for (auto _ : state) {
    (void)files::remove(out);
    const auto start = std::chrono::steady_clock::now();
    run("unzip -q -o '" + saves.backUpArchivePath().string() + "' -d '" + out.string() + "'");
    const double took = seconds(start);
    state.SetIterationTime(took);
    record("unzip", took);
  }
  (void)files::remove(out);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folderBytes(home().documents())));
}

BENCHMARK(BM_CreateZip)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_ZipR6StoringJpeg)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_UnpackForRestore)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Unzip)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::map<std::string, double> times;
  for (const auto& [name, runs] : laps()) times[name] = bench_support::median(runs);
  if (times.count("pack") && times.count("zip")) {
    std::printf("pack time ratio (ours / zip -r -6 -n .jpg): %.2f\n", times["pack"] / times["zip"]);
  }
  if (sizes().count("pack") && sizes().count("zip")) {
    std::printf("archive size ratio (ours / zip -r -6 -n .jpg): %.4f\n",
                static_cast<double>(sizes()["pack"]) / static_cast<double>(sizes()["zip"]));
  }
  if (times.count("unpack") && times.count("unzip")) {
    std::printf("unpack time ratio (ours / unzip): %.2f\n", times["unpack"] / times["unzip"]);
  }
  scratch().reset();
  return 0;
}
