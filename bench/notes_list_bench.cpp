// The notes list under a long diary: its first screen (100 rows with their days) and a bunch of
// ten summary days, at the newest end and two years back, for one baby of 10,000 and of 300,000
// notes. Each is measured against plain SQLite doing the same work as a person would write it: a
// statement prepared once and kept, reading through the index on (baby, stop date) that the diary's
// model declares the columns a row shows, with the day of each row. The two sides run in turns
// within each iteration, the one that goes first changing every iteration, so that both meet the
// same load and neither always finds the other's warm cache; each reports the median of its laps
// (CPU time of this thread), and `vs_sqlite` is the list's median over the plain one. Run with
// --benchmark_repetitions=5 (the default here) and read the median of `vs_sqlite`.
//
// The plain summary groups its rows by type and day in a map as it reads them: one SQL GROUP BY
// over the same rows, with SQLite's own local-time day, takes about twice as long.
//
// The diaries are written under a temporary folder that is removed at exit, and also when the run
// is interrupted. The list's log (the summary walk writes a line a day it finds) goes to a file
// there too, as an application's log goes to its file, rather than a few million lines to the
// terminal.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
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
#include "bench/long_diary.h"
#include "bench/scratch_folder.h"
#include "notes_list/notes_list_model.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"
#include "platform/store/store.h"

namespace {

using foundation::Date;

constexpr double kNewest = 8.0e8;
constexpr double kSpacing = 3000;  // about 29 notes a day
constexpr double kTwoYears = 2 * 365 * 86400.0;

void report(benchmark::State& state, const bench_support::AlternatedLaps& laps) {
  state.counters["list_us"] = laps.ours() * 1e6;
  state.counters["sqlite_us"] = laps.reference() * 1e6;
  if (laps.reference() > 0) state.counters["vs_sqlite"] = laps.ratio();
}

// The folder of the diaries, removed on the way out, an interruption included.
const std::filesystem::path& folder() {
  static const bench_support::ScratchFolder scratch("diary-list-bench");
  return scratch.path();
}

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

 private:
  explicit Diary(int count) {
    path_ = folder() / ("diary" + std::to_string(count) + ".sqlite");
    auto store = store::Store::open(path_, app::managedObjectModel()).value();
    auto context = store->newContext().value();
    auto bob = app::Baby::insertIn(*context);
    bob.setBaby_Name("Bob");
    auto anna = app::Baby::insertIn(*context);
    anna.setBaby_Name("Anna");
    bench_support::insertNotes(*context, count, Date{kNewest}, kSpacing,
                               [&](int i) { return i % 10 == 9 ? anna : bob; });
    (void)context->save();
    (void)store->close();
  }
  std::filesystem::path path_;
};

// Plain SQLite: the baby's rows newest first through the index, with the day key of each and the
// columns a row shows (type, dates, sub-value, number, unit, notice, photo); the first screen keeps
// its rows, texts copied out, as a screen must to show them after the statement moves on.
class PlainReader {
 public:
  explicit PlainReader(const std::filesystem::path& path) {
    // One connection used by one thread, as the store's: no mutex around every call.
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    const std::string columns =
        "SELECT n.Z_PK, n.ZNOTE_TYPE, n.ZNOTE_DATESTART, n.ZNOTE_DATESTOP, n.ZNOTE_NUMVALUE, "
        "n.ZNOTE_NUMMEASURECURRENT, n.ZNOTE_STRVALUE, n.ZNOTE_NOTICE, n.ZNOTETOPHOTOINFO FROM ZNOTE n "
        "WHERE n.ZNOTETOBABY = (SELECT Z_PK FROM ZBABY WHERE ZBABY_NAME = ?)";
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
  // What a screen keeps of a row to show it (the statement's texts are gone at its next step).
  struct Row {
    std::int64_t key;
    std::string type, unit, strValue, notice;
    double start, stop, number;
    bool photo;
  };
  // The first 100 rows, kept as a screen keeps them, and the days they fall in with their counts.
  void firstScreen(std::vector<Row>& rows, std::vector<std::pair<std::string, size_t>>& days) {
    rows.clear();
    days.clear();
    sqlite3_bind_text(first_, 1, "Bob", -1, SQLITE_STATIC);
    const auto text = [this](int column) {
      const unsigned char* t = sqlite3_column_text(first_, column);
      return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(first_, column)))
               : std::string();
    };
    while (sqlite3_step(first_) == SQLITE_ROW) {
      rows.push_back({sqlite3_column_int64(first_, 0), text(1), text(5), text(6), text(7),
                      sqlite3_column_double(first_, 2), sqlite3_column_double(first_, 3),
                      sqlite3_column_double(first_, 4), sqlite3_column_int64(first_, 8) != 0});
      std::string key = app::dayKey(Date{rows.back().stop});
      if (days.empty() || days.back().first != key) days.emplace_back(std::move(key), 0);
      ++days.back().second;
    }
    sqlite3_reset(first_);
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

// What a list row shows of a note, read as the cells read it.
double readRow(const notes_list::NoteRow* row) {
  if (!row) return 0;
  auto size = [](const std::string* text) { return text ? static_cast<double>(text->size()) : 0.0; };
  return row->start.value_or(Date{}).sinceReference + row->stop.value_or(Date{}).sinceReference +
         row->number.value_or(0) + size(row->type) + size(row->unit) + size(row->strValue) +
         size(row->notice) + (notes_list::NotesListModel::showsPhotoMark(*row) ? 1 : 0);
}

void BM_FirstScreen(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  PlainReader reader(Diary::ofSize(count).path());
  Opened opened = openList(count, false, false);
  bench_support::AlternatedLaps laps;
  double sink = 0;
  std::vector<PlainReader::Row> plainRows;
  std::vector<std::pair<std::string, size_t>> plainDays;
  plainRows.reserve(100);
  for (auto _ : state) {
    laps.round(
        [&] {
          // Each screen starts from a store read afresh, as after a restart.
          opened.context->reset();
          return bench_support::cpuLap([&] {
            (void)opened.list->performFetch();
            size_t shown = 0;
            for (size_t s = 0; s < opened.list->numberOfSections() && shown < 100; ++s)
              for (size_t r = 0; r < opened.list->numberOfRows(s) && shown < 100; ++r, ++shown)
                sink += readRow(opened.list->rowAt(s, r));
          });
        },
        [&] {
          return bench_support::cpuLap([&] {
            reader.firstScreen(plainRows, plainDays);
            for (const auto& row : plainRows)
              sink += row.start + row.stop + row.number + static_cast<double>(row.type.size() + row.unit.size() +
                                                                              row.strValue.size() + row.notice.size()) +
                      (row.photo ? 1 : 0);
          });
        });
  }
  benchmark::DoNotOptimize(sink);
  report(state, laps);
}
BENCHMARK(BM_FirstScreen)->Args({10000, 0})->Args({300000, 0})->Unit(benchmark::kMillisecond)->Repetitions(5);

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

void BM_SummaryBunch(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool back = state.range(1) != 0;
  PlainReader reader(Diary::ofSize(count).path());
  // Plain names rather than a structured binding: the lambdas below capture them.
  const auto span = bunchSpan(count, back);
  const double from = span.first, to = span.second;
  Opened opened = openList(count, true, back);
  bench_support::AlternatedLaps laps;
  std::map<std::string, double> sums;
  for (auto _ : state) {
    laps.round(
        [&] {
          opened.context->reset();
          return bench_support::cpuLap([&] { (void)opened.list->performFetch(); });
        },
        [&] {
          return bench_support::cpuLap([&] {
            sums.clear();
            reader.totals(from, to, sums);
          });
        });
  }
  state.counters["days"] = static_cast<double>(opened.list->statistic().howManyDays());
  state.counters["rows"] = static_cast<double>(sums.size());
  report(state, laps);
}
BENCHMARK(BM_SummaryBunch)
    ->Args({10000, 0})
    ->Args({300000, 0})
    ->Args({300000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  const int log = ::open((folder() / "diary.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (log >= 0) {
    foundation::setLogSink([log](std::string_view message) {
      iovec line[] = {{const_cast<char*>(message.data()), message.size()}, {const_cast<char*>("\n"), 1}};
      (void)::writev(log, line, 2);
    });
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  foundation::setLogSink({});
  if (log >= 0) ::close(log);
  return 0;
}
