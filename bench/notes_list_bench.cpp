// The notes list under a long diary: its first screen (100 rows with their days) and a bunch of
// ten summary days, at the newest end and two years back, for one baby of 10,000 and of 300,000
// notes. Each is measured next to plain SQLite reading the same rows by hand, through the index on
// (baby, stop date) that the diary's model declares, in the same run; the list's benchmark reports
// `vs_sqlite`, its time over the plain one. The plain benchmarks are registered first so that they run first.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "notes_list/notes_list_model.h"
#include "platform/foundation/time_zone.h"
#include "platform/store/store.h"

namespace {

using foundation::Date;

const char* const kTypes[] = {"Breast Feeding", "Sleep", "WC", "Walk", "Food", "Drink", "Bath", "Weight"};
constexpr double kNewest = 8.0e8;
constexpr double kSpacing = 3000;  // about 29 notes a day
constexpr double kTwoYears = 2 * 365 * 86400.0;

using bench_support::plainTimes;
using bench_support::Stopwatch;

// One baby's diary of `count` notes, newest at kNewest, written once per size and run.
class Diary {
 public:
  static Diary& ofSize(int count) {
    static std::map<int, std::unique_ptr<Diary>> diaries;
    auto& diary = diaries[count];
    if (!diary) diary.reset(new Diary(count));
    return *diary;
  }
  const std::filesystem::path& path() const { return path_; }
  ~Diary() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  explicit Diary(int count) {
    std::string pattern = (std::filesystem::temp_directory_path() / "diary-list-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) folder_ = pattern;
    path_ = folder_ / "dataBase.sqlite";
    auto store = store::Store::open(path_, app::managedObjectModel()).value();
    auto context = store->newContext().value();
    auto bob = app::Baby::insertIn(*context);
    bob.setBaby_Name("Bob");
    auto anna = app::Baby::insertIn(*context);
    anna.setBaby_Name("Anna");
    for (int i = 0; i < count; ++i) {
      auto note = app::Note::insertIn(*context);
      const Date stop{kNewest - i * kSpacing};
      note.setNote_Type(kTypes[i % 8]);
      note.setNote_DateStart(stop - 1800);
      note.setNote_DateStop(stop);
      note.setNote_numValue(foundation::Decimal::fromInteger(i % 250));
      note.setNote_numMeasureCurrent("Notation_ml");
      note.setNoteToBaby(i % 10 == 9 ? anna : bob);
    }
    (void)context->save();
    (void)store->close();
  }
  std::filesystem::path folder_;
  std::filesystem::path path_;
};

std::string work(const char* what, const benchmark::State& state) {
  return std::string(what) + "/" + std::to_string(state.range(0)) + "/" + std::to_string(state.range(1));
}

// Plain SQLite: the baby's rows newest first through the index, with the day key of each.
class PlainReader {
 public:
  explicit PlainReader(const std::filesystem::path& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    const std::string columns =
        "SELECT n.Z_PK, n.ZNOTE_TYPE, n.ZNOTE_DATESTART, n.ZNOTE_DATESTOP, n.ZNOTE_NUMVALUE, "
        "n.ZNOTE_NUMMEASURECURRENT FROM ZNOTE n WHERE n.ZNOTETOBABY = (SELECT Z_PK FROM ZBABY WHERE "
        "ZBABY_NAME = ?)";
    sqlite3_prepare_v2(db_, (columns + " ORDER BY n.ZNOTE_DATESTOP DESC LIMIT 100").c_str(), -1, &first_,
                       nullptr);
    sqlite3_prepare_v2(
        db_,
        (columns + " AND n.ZNOTE_DATESTOP >= ? AND n.ZNOTE_DATESTOP < ? ORDER BY n.ZNOTE_DATESTOP DESC")
            .c_str(),
        -1, &range_, nullptr);
  }
  ~PlainReader() {
    sqlite3_finalize(first_);
    sqlite3_finalize(range_);
    sqlite3_close(db_);
  }
  // The first 100 rows and the days they fall in.
  size_t firstScreen(double& sink) {
    sqlite3_bind_text(first_, 1, "Bob", -1, SQLITE_STATIC);
    std::string day;
    size_t days = 0;
    while (sqlite3_step(first_) == SQLITE_ROW) {
      std::string key = app::dayKey(Date{sqlite3_column_double(first_, 3)});
      if (key != day) ++days, day = std::move(key);
      sink += sqlite3_column_double(first_, 2) + sqlite3_column_double(first_, 4) +
              sqlite3_column_bytes(first_, 1);
    }
    sqlite3_reset(first_);
    return days;
  }
  // Per-type counts and sums of the notes stopping in [from, to).
  void totals(double from, double to, std::map<std::string, double>& sums) {
    sqlite3_bind_text(range_, 1, "Bob", -1, SQLITE_STATIC);
    sqlite3_bind_double(range_, 2, from);
    sqlite3_bind_double(range_, 3, to);
    while (sqlite3_step(range_) == SQLITE_ROW) {
      const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(range_, 1));
      sums[std::string(type ? type : "") + app::dayKey(Date{sqlite3_column_double(range_, 3)})] +=
          sqlite3_column_double(range_, 4) + sqlite3_column_double(range_, 3) -
          sqlite3_column_double(range_, 2);
    }
    sqlite3_reset(range_);
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* first_ = nullptr;
  sqlite3_stmt* range_ = nullptr;
};

struct Opened {
  std::shared_ptr<store::Store> store;
  std::shared_ptr<store::Context> context;
  std::unique_ptr<notes_list::NotesListModel> list;
};

Opened openList(int count, bool sumStyle, bool twoYearsBack) {
  Opened opened;
  opened.store = store::Store::open(Diary::ofSize(count).path(), app::managedObjectModel()).value();
  opened.context = opened.store->newContext().value();
  app::NoteEditHelper::Environment environment;
  environment.context = [context = opened.context] { return context; };
  notes_list::entriesStatisticHelper::Services services;
  services.context = opened.context;
  services.language = [] {
    return app::InterfaceText("en", [](std::string_view key) { return std::string(key); });
  };
  services.preferredLanguage = [] { return std::optional<std::string>("en"); };
  opened.list =
      std::make_unique<notes_list::NotesListModel>(app::NoteEditHelper(environment), services, nullptr);
  opened.list->setCurrentBabyName("Bob");
  opened.list->setSumStyle(sumStyle);
  if (twoYearsBack) {
    notes_list::ListFilter filter;
    filter.endDate = Date{kNewest - kTwoYears};
    opened.list->setFilter(filter);
  }
  return opened;
}

void BM_Sqlite_FirstScreen(benchmark::State& state) {
  PlainReader reader(Diary::ofSize(static_cast<int>(state.range(0))).path());
  Stopwatch watch;
  double sink = 0;
  for (auto _ : state) {
    watch.start();
    benchmark::DoNotOptimize(reader.firstScreen(sink));
    watch.stop();
  }
  plainTimes()[work("first", state)] = watch.fastest();
  state.counters["best_us"] = watch.fastest() * 1e6;
}
BENCHMARK(BM_Sqlite_FirstScreen)->Args({10000, 0})->Args({300000, 0})->Unit(benchmark::kMillisecond);

void BM_List_FirstScreen(benchmark::State& state) {
  Opened opened = openList(static_cast<int>(state.range(0)), false, false);
  Stopwatch watch;
  double sink = 0;
  for (auto _ : state) {
    watch.start();
    (void)opened.list->performFetch();
    size_t shown = 0;
    for (size_t s = 0; s < opened.list->numberOfSections() && shown < 100; ++s)
      for (size_t r = 0; r < opened.list->numberOfRows(s) && shown < 100; ++r, ++shown) {
        auto note = opened.list->noteAt(s, r);
        sink += note.note_DateStart()->sinceReference + note.note_numValue()->toDouble() +
                static_cast<double>(note.note_Type()->size() + note.sectionIdentifier()->size());
      }
    watch.stop();
    state.PauseTiming();
    opened.context->reset();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(sink);
  state.counters["best_us"] = watch.fastest() * 1e6;
  auto plain = plainTimes().find(work("first", state));
  if (plain != plainTimes().end()) state.counters["vs_sqlite"] = watch.fastest() / plain->second;
}
BENCHMARK(BM_List_FirstScreen)->Args({10000, 0})->Args({300000, 0})->Unit(benchmark::kMillisecond);

// The days of the first summary bunch (newest, or two years back), as the list finds them.
std::pair<double, double> bunchSpan(int count, bool back) {
  Opened opened = openList(count, true, back);
  (void)opened.list->performFetch();
  auto& stats = opened.list->statistic();
  const size_t days = stats.howManyDays();
  const Date newest = stats.dayEndForNum(0).value_or(Date{});
  const Date oldest = stats.dayEndForNum(static_cast<std::int64_t>(days ? days - 1 : 0)).value_or(Date{});
  return {oldest.sinceReference - 86400, newest.sinceReference + 86400};
}

void BM_Sqlite_SummaryBunch(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  PlainReader reader(Diary::ofSize(count).path());
  const auto [from, to] = bunchSpan(count, state.range(1) != 0);
  Stopwatch watch;
  std::map<std::string, double> sums;
  for (auto _ : state) {
    watch.start();
    sums.clear();
    reader.totals(from, to, sums);
    watch.stop();
  }
  state.counters["rows"] = static_cast<double>(sums.size());
  plainTimes()[work("summary", state)] = watch.fastest();
  state.counters["best_us"] = watch.fastest() * 1e6;
}
BENCHMARK(BM_Sqlite_SummaryBunch)
    ->Args({10000, 0})
    ->Args({300000, 0})
    ->Args({300000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_List_SummaryBunch(benchmark::State& state) {
  Opened opened = openList(static_cast<int>(state.range(0)), true, state.range(1) != 0);
  Stopwatch watch;
  for (auto _ : state) {
    watch.start();
    (void)opened.list->performFetch();
    watch.stop();
    state.PauseTiming();
    opened.context->reset();
    state.ResumeTiming();
  }
  state.counters["days"] = static_cast<double>(opened.list->statistic().howManyDays());
  state.counters["best_us"] = watch.fastest() * 1e6;
  auto plain = plainTimes().find(work("summary", state));
  if (plain != plainTimes().end()) state.counters["vs_sqlite"] = watch.fastest() / plain->second;
}
BENCHMARK(BM_List_SummaryBunch)
    ->Args({10000, 0})
    ->Args({300000, 0})
    ->Args({300000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
