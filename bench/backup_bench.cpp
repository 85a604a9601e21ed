// Packing and unpacking the backup archive: a Documents folder of about 100 MB of JPEG photos and
// a 20 MB store, packed by the file store and, in the same run, by `zip -r -6` of the same folder
// (which deflates every file at the default level, as the file store does); then
// unpacked by the file store's restore staging and by `unzip`. Each side runs as a program of its
// own, started afresh for every lap (the file store's is this program again, with --pack or
// --unpack), so that neither is timed warm while the other pays for its start; the laps of the two
// sides alternate, the first of each round changing from round to round, so that a busy machine
// meets both alike. The data are made once per run in a scratch folder under the system's
// temporary folder, which goes when the run ends (also when it is interrupted). The ratios printed
// at the end are of the median laps in wall time; the archive's size is compared with zip's too.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "bench/program_run.h"
#include "bench/scratch_folder.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"
#include "platform/store/store.h"

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

// The archive sizes of the last pack of each side, and each measurement's time ratio, printed at
// the end.
std::map<std::string, std::uintmax_t>& sizes() {
  static std::map<std::string, std::uintmax_t> bytes;
  return bytes;
}
std::map<std::string, double>& ratios() {
  static std::map<std::string, double> figures;
  return figures;
}

// Wall seconds of one program, from its start (in `folder`, when given) to its exit; a failure
// ends the run.
double timeProgram(std::vector<std::string> arguments, const fs::path& folder = {}) {
  const auto usage = bench_support::runProgram(arguments, folder);
  if (!usage) {
    std::string command;
    for (const auto& argument : arguments) command += argument + " ";
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return usage->wall;
}


// "--pack <home>": packs the home's backup archive as the diary does, in a process of its own.
int packIn(const fs::path& root) { return app::localSaves(files::AppHome(root)).createZip() ? 0 : 1; }

// "--unpack <home> <file>": unpacks and checks the home's archive for a restore, as the diary
// does, and writes where the staged folder is into the file, for the caller to remove.
int unpackIn(const fs::path& root, const fs::path& report) {
  app::localSaves saves{files::AppHome(root)};
  auto staged = saves.stageBackUp([](const fs::path&) { return foundation::Status(); });
  if (!staged) return 1;
  std::ofstream(report) << staged->documents.string();
  return 0;
}

void reportLaps(benchmark::State& state, const bench_support::AlternatedLaps& laps, const char* ours,
                const char* reference) {
  state.counters[std::string(ours) + "_s"] = laps.ours();
  state.counters[std::string(reference) + "_s"] = laps.reference();
  state.counters[std::string("x_") + reference] = laps.ratio();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folderBytes(home().documents())));
}

// Each iteration is one round: a pack by the file store and one by zip, in an order that changes
// every round.
void BM_PackVsZip(benchmark::State& state) {
  prepare();
  app::localSaves saves(home());
  const fs::path out = dataRoot() / "zip-r-6.zip";
  bench_support::AlternatedLaps laps;
  for (auto _ : state) {
    state.SetIterationTime(laps.round(
        [&] {
          (void)files::remove(saves.backUpArchivePath());
          return timeProgram({bench_support::selfPath(), "--pack", home().root().string()});
        },
        [&] {
          (void)files::remove(out);
          return timeProgram({"zip", "-q", "-r", "-6", out.string(), "."}, home().documents());
        }));
  }
  reportLaps(state, laps, "pack", "zip");
  sizes()["pack"] = fs::file_size(saves.backUpArchivePath());
  sizes()["zip"] = fs::file_size(out);
  state.counters["size_x_zip"] = static_cast<double>(sizes()["pack"]) / static_cast<double>(sizes()["zip"]);
  (void)files::remove(out);
  ratios()["pack time ratio (ours / zip -r -6)"] = laps.ratio();
}

// Each iteration is one round: the file store's unpacking for a restore and unzip's of the same
// archive, in an order that changes every round.
void BM_UnpackVsUnzip(benchmark::State& state) {
  prepare();
  app::localSaves saves(home());
  if (!fs::exists(saves.backUpArchivePath()) && !saves.createZip()) state.SkipWithError("createZip failed");
  const fs::path out = dataRoot() / "unzipped";
  const fs::path report = dataRoot() / "staged.txt";
  bench_support::AlternatedLaps laps;
  for (auto _ : state) {
    state.SetIterationTime(laps.round(
        [&] {
          const double took =
              timeProgram({bench_support::selfPath(), "--unpack", home().root().string(), report.string()});
          if (auto staged = files::readText(report)) (void)files::remove(*staged);
          return took;
        },
        [&] {
          (void)files::remove(out);
          return timeProgram({"unzip", "-q", "-o", saves.backUpArchivePath().string(), "-d", out.string()});
        }));
  }
  (void)files::remove(out);
  reportLaps(state, laps, "unpack", "unzip");
  ratios()["unpack time ratio (ours / unzip)"] = laps.ratio();
}

BENCHMARK(BM_PackVsZip)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(6);
BENCHMARK(BM_UnpackVsUnzip)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(6);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--pack") == 0) return packIn(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--unpack") == 0) return unpackIn(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [name, ratio] : ratios()) std::printf("%s: %.2f\n", name.c_str(), ratio);
  if (sizes().count("pack") && sizes().count("zip")) {
    std::printf("archive size ratio (ours / zip -r -6): %.4f\n",
                static_cast<double>(sizes()["pack"]) / static_cast<double>(sizes()["zip"]));
  }
  scratch().reset();
  return 0;
}
