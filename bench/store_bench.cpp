// The object store under the diary's load: bulk and one-by-one inserts of notes, and opening one
// baby's notes of a 3-year diary (30,000 notes) sorted by stop date with day sections. Each is
// measured next to plain SQLite doing the same work as a person would write it (same file, schema,
// pragmas and rows): every iteration runs both, in an order that alternates, and times each in wall
// time, so that the disk's flushes (synchronous FULL) count as a person waits for them. The
// counters `store_ms` and `sqlite_ms` are the medians of the laps, `vs_sqlite` their ratio.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/model.h"
#include "bench/cpu_stopwatch.h"
#include "bench/long_diary.h"
#include "bench/scratch_folder.h"
#include "platform/store/fetched_results.h"
#include "platform/store/store.h"

namespace {

using foundation::Date;

const char* const kNotice = "A short notice about this entry";

using bench_support::AlternatedLaps;
using bench_support::kNoteTypes;
using bench_support::wallLap;

// The medians of both sides and the store's over plain SQLite's.
void reportLaps(benchmark::State& state, const AlternatedLaps& laps) {
  state.counters["store_ms"] = laps.ours() * 1e3;
  state.counters["sqlite_ms"] = laps.reference() * 1e3;
  state.counters["vs_sqlite"] = laps.ratio();
}

// A folder of the run's own under the system's temporary folder, removed when done or interrupted.
class TempFolder : public bench_support::ScratchFolder {
 public:
  TempFolder() : ScratchFolder("diary-bench") {}
};

struct Diary {
  std::shared_ptr<store::Store> store;
  std::shared_ptr<store::Context> context;
};

Diary openDiary(const std::filesystem::path& path) {
  Diary d;
  d.store = store::Store::open(path, app::managedObjectModel()).value();
  d.context = d.store->newContext().value();
  return d;
}

std::vector<app::Baby> addBabies(store::Context& context) {
  std::vector<app::Baby> babies;
  for (const char* name : {"Anna", "Bob", "Clara"}) {
    auto baby = app::Baby::insertIn(context);
    baby.setBaby_Name(name);
    baby.setBaby_BirthDay(Date{4.5e8});
    baby.setBaby_Gender(false);
    babies.push_back(baby);
  }
  return babies;
}

// A note as the editor makes it: type, both dates cut to the minute, a value, a unit.
void addNote(store::Context& context, const app::Baby& baby, int index, Date stop) {
  auto note = app::Note::insertIn(context);
  note.setNote_Type(kNoteTypes[index % 8]);
  note.setNote_DateStart(stop - 1800);
  note.setNote_DateStop(stop);
  note.setNote_numValue(foundation::Decimal::fromInteger(index % 250));
  note.setNote_numMeasureCurrent("Notation_ml");
  if (index % 5 == 0) note.setNote_Notice(kNotice);
  note.setNoteToBaby(baby);
}

void countPerNote(benchmark::State& state, int count) {
  state.counters["notes"] = count;
  // Seconds per note.
  state.counters["per_note"] =
      benchmark::Counter(static_cast<double>(count),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The same notes written by hand: the store's file and schema (made by the store, which also sets
// WAL and synchronous FULL), opened as the store opens it (no mutex: one thread uses it), one
// prepared INSERT whose constant parameters (the entity number, the unit) are bound once and the
// rest per row, one transaction, and the key counter brought up to date as the store does.
// Returns the lap; an error goes to `failure`.
double sqliteInsertLap(int count, std::string& failure) {
  TempFolder folder;
  const auto path = folder.path() / "dataBase.sqlite";
  {
    Diary diary = openDiary(path);
    addBabies(*diary.context);
    (void)diary.context->save();
    (void)diary.store->close();
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  std::int64_t noteEntity = 0;
  sqlite3_stmt* entity = nullptr;
  sqlite3_prepare_v2(db, "SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'Note'", -1, &entity, nullptr);
  if (sqlite3_step(entity) == SQLITE_ROW) noteEntity = sqlite3_column_int64(entity, 0);
  sqlite3_finalize(entity);
  const double lap = wallLap([&] {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO ZNOTE (Z_PK, Z_ENT, Z_OPT, ZNOTE_TYPE, ZNOTE_DATESTART, ZNOTE_DATESTOP, "
                       "ZNOTE_NUMVALUE, ZNOTE_NUMMEASURECURRENT, ZNOTE_NOTICE, ZNOTETOBABY) "
                       "VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    // A reset keeps the bindings: what every row shares is bound once.
    sqlite3_bind_int64(insert, 2, noteEntity);
    sqlite3_bind_text(insert, 7, "Notation_ml", -1, SQLITE_STATIC);
    for (int i = 0; i < count; ++i) {
      const double stop = 4.6e8 + i * 60.0;
      sqlite3_bind_int64(insert, 1, i + 1);
      sqlite3_bind_text(insert, 3, kNoteTypes[i % 8], -1, SQLITE_STATIC);
      sqlite3_bind_double(insert, 4, stop - 1800);
      sqlite3_bind_double(insert, 5, stop);
      sqlite3_bind_int64(insert, 6, i % 250);
      if (i % 5 == 0) {
        sqlite3_bind_text(insert, 8, kNotice, -1, SQLITE_STATIC);
      } else {
        sqlite3_bind_null(insert, 8);
      }
      sqlite3_bind_int64(insert, 9, i % 3 + 1);
      if (sqlite3_step(insert) != SQLITE_DONE) failure = sqlite3_errmsg(db);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const std::string counter =
        "UPDATE Z_PRIMARYKEY SET Z_MAX = " + std::to_string(count) + " WHERE Z_NAME = 'Note'";
    sqlite3_exec(db, counter.c_str(), nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) failure = sqlite3_errmsg(db);
  });
  sqlite3_close(db);
  return lap;
}

// The store's side: the notes inserted in one context and saved once.
double storeInsertLap(int count, std::string& failure) {
  TempFolder folder;
  Diary diary = openDiary(folder.path() / "dataBase.sqlite");
  auto babies = addBabies(*diary.context);
  (void)diary.context->save();
  return wallLap([&] {
    for (int i = 0; i < count; ++i) addNote(*diary.context, babies[i % 3], i, Date{4.6e8 + i * 60.0});
    auto status = diary.context->save();
    if (!status) failure = status.error().description();
  });
}

void BM_InsertNotesOneSave(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  AlternatedLaps laps;
  std::string failure;
  for (auto _ : state) {
    const double lap = laps.round([&] { return storeInsertLap(count, failure); },
                                  [&] { return sqliteInsertLap(count, failure); });
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
    state.SetIterationTime(lap);
  }
  reportLaps(state, laps);
  countPerNote(state, count);
}
BENCHMARK(BM_InsertNotesOneSave)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(9)->UseManualTime();

void BM_InsertNotesSaveEach(benchmark::State& state) {
  TempFolder folder;
  Diary diary = openDiary(folder.path() / "dataBase.sqlite");
  auto babies = addBabies(*diary.context);
  (void)diary.context->save();
  int i = 0;
  for (auto _ : state) {
    addNote(*diary.context, babies[i % 3], i, Date{4.6e8 + i * 60.0});
    auto status = diary.context->save();
    if (!status) state.SkipWithError(status.error().description().c_str());
    ++i;
  }
  state.SetLabel("one note and one save (WAL, synchronous FULL) per iteration");
}
BENCHMARK(BM_InsertNotesSaveEach)->Unit(benchmark::kMicrosecond)->Iterations(3000);

// A 3-year diary of three babies with 30,000 notes each, written once per run.
class ThreeYearDiary {
 public:
  static ThreeYearDiary& shared() {
    static ThreeYearDiary diary;
    return diary;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  ThreeYearDiary() {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    path_ = folder_.path() / "dataBase.sqlite";
    Diary diary = openDiary(path_);
    auto babies = addBabies(*diary.context);
    const double span = 3 * 365 * 86400.0;
    const int perBaby = 30000;
    for (int i = 0; i < perBaby; ++i) {
      for (int b = 0; b < 3; ++b) {
        const double minute = std::floor((i * span / perBaby + b * 997.0) / 60) * 60;
        addNote(*diary.context, babies[static_cast<size_t>(b)], i, Date{4.6e8 + minute});
      }
    }
    (void)diary.context->save();
    (void)diary.store->close();
  }
  TempFolder folder_;
  std::filesystem::path path_;
};

store::FetchRequest notesOf(const std::string& baby) {
  store::FetchRequest request("Note");
  request.predicate = *store::Predicate::parse("noteToBaby.baby_Name == %@", {baby});
  request.sortDescriptors = {{"note_DateStop", false, store::StringComparison::LocalizedCaseInsensitive}};
  request.fetchBatchSize = 100;
  return request;
}

struct RowSink {
  size_t bytes = 0;
  double sum = 0;
};

void readNote(const app::Note& note, RowSink& sink) {
  sink.bytes += note.note_Type().value_or("").size() + note.note_Notice().value_or("").size() +
                note.note_numMeasureCurrent().value_or("").size() +
                note.sectionIdentifier().value_or("").size();
  sink.sum += note.note_DateStop()->sinceReference + note.note_DateStart()->sinceReference +
              note.note_numValue()->toDouble();
}

// The plain side of the reads, written as a person would: the baby's notes through the index on
// their link, keys and stop dates first (for the day sections), whole rows only for the rows
// shown. Sorting whole rows under LIMIT would be the slow way, which the store avoids too.
class PlainReader {
 public:
  explicit PlainReader(const std::filesystem::path& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    const std::string columns =
        "SELECT n.Z_PK, n.ZNOTE_TYPE, n.ZNOTE_DATESTART, n.ZNOTE_DATESTOP, n.ZNOTE_STRVALUE, "
        "n.ZNOTE_NUMVALUE, "
        "n.ZNOTE_NUMMEASURECURRENT, n.ZNOTE_NOTICE";
    const std::string from =
        " FROM ZNOTE n WHERE n.ZNOTETOBABY IN (SELECT b.Z_PK FROM ZBABY b WHERE b.ZBABY_NAME = ?)"
        " ORDER BY n.ZNOTE_DATESTOP DESC, n.Z_PK";
    std::string byKeys = columns + " FROM ZNOTE n WHERE n.Z_PK IN (?";
    for (size_t i = 1; i < kShown; ++i) byKeys += ", ?";
    byKeys += ")";
    sqlite3_prepare_v2(db_, byKeys.c_str(), -1, &byKeys_, nullptr);
    sqlite3_prepare_v2(db_, (columns + from).c_str(), -1, &all_, nullptr);
    sqlite3_prepare_v2(db_, ("SELECT n.Z_PK, n.ZNOTE_DATESTOP" + from).c_str(), -1, &keys_, nullptr);
  }
  ~PlainReader() {
    sqlite3_finalize(byKeys_);
    sqlite3_finalize(all_);
    sqlite3_finalize(keys_);
    sqlite3_close(db_);
  }

  // The day sections (names and counts) from the keys and stop dates of every row, as the list
  // needs before it shows anything; the keys in list order come back.
  std::vector<std::int64_t> readSections(const std::string& baby, size_t& sectionCount) {
    sqlite3_bind_text(keys_, 1, baby.c_str(), -1, SQLITE_STATIC);
    std::vector<std::int64_t> keys;
    std::vector<std::pair<std::string, size_t>> sections;
    while (sqlite3_step(keys_) == SQLITE_ROW) {
      keys.push_back(sqlite3_column_int64(keys_, 0));
      std::string day = app::dayKey(Date{sqlite3_column_double(keys_, 1)});
      if (sections.empty() || sections.back().first != day) sections.emplace_back(std::move(day), 0);
      ++sections.back().second;
    }
    sqlite3_reset(keys_);
    sectionCount = sections.size();
    return keys;
  }

  // The first screenful: the sections, then the first rows by their keys.
  void readFirstRows(const std::string& baby, RowSink& sink) {
    size_t sections = 0;
    const std::vector<std::int64_t> keys = readSections(baby, sections);
    const size_t shown = std::min(kShown, keys.size());
    for (size_t i = 0; i < kShown; ++i)
      sqlite3_bind_int64(byKeys_, static_cast<int>(i + 1), keys.empty() ? 0 : keys[std::min(i, shown - 1)]);
    while (sqlite3_step(byKeys_) == SQLITE_ROW) readRow(byKeys_, sink);
    sqlite3_reset(byKeys_);
    sink.bytes += sections;
  }

  // Every row, whole, in list order.
  void readAllRows(const std::string& baby, RowSink& sink) {
    sqlite3_bind_text(all_, 1, baby.c_str(), -1, SQLITE_STATIC);
    while (sqlite3_step(all_) == SQLITE_ROW) readRow(all_, sink);
    sqlite3_reset(all_);
  }

 private:
  static constexpr size_t kShown = 100;

  // Values copied out as a screen would keep them, with the row's day key.
  static void readRow(sqlite3_stmt* rows, RowSink& sink) {
    std::string type = text(rows, 1), measure = text(rows, 6), notice = text(rows, 7);
    const double stop = sqlite3_column_double(rows, 3);
    sink.bytes += type.size() + measure.size() + notice.size() + app::dayKey(Date{stop}).size();
    sink.sum += stop + sqlite3_column_double(rows, 2) + sqlite3_column_double(rows, 5);
  }
  static std::string text(sqlite3_stmt* s, int column) {
    const unsigned char* t = sqlite3_column_text(s, column);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* byKeys_ = nullptr;
  sqlite3_stmt* all_ = nullptr;
  sqlite3_stmt* keys_ = nullptr;
};

// Opens the notes list both ways each iteration, in turn: the store's fetched-results controller
// with day sections (`show` reads what the screen shows; loaded objects are forgotten between laps,
// untimed, so that each lap loads them again) and the plain reader (`read`).
template <class Show, class Read>
void openList(benchmark::State& state, Show show, Read read) {
  Diary diary = openDiary(ThreeYearDiary::shared().path());
  PlainReader reader(ThreeYearDiary::shared().path());
  AlternatedLaps laps;
  for (auto _ : state) {
    const double lap = laps.round(
        [&] {
          const double storeLap = wallLap([&] {
            store::FetchedResultsController list(diary.context, notesOf("Bob"), "sectionIdentifier");
            (void)list.performFetch();
            show(list);
          });
          diary.context->reset();
          return storeLap;
        },
        [&] { return wallLap([&] { read(reader); }); });
    state.SetIterationTime(lap);
  }
  reportLaps(state, laps);
}

void BM_First100Rows(benchmark::State& state) {
  RowSink sink, plainSink;
  openList(
      state,
      [&](store::FetchedResultsController& list) {
        size_t shown = 0;
        for (size_t s = 0; s < list.sections().size() && shown < 100; ++s)
          for (size_t r = 0; r < list.sections()[s].numberOfObjects && shown < 100; ++r, ++shown)
            readNote(app::Note(list.objectAtIndexPath({s, r})), sink);
      },
      [&](PlainReader& reader) { reader.readFirstRows("Bob", plainSink); });
  benchmark::DoNotOptimize(sink);
  benchmark::DoNotOptimize(plainSink);
}
BENCHMARK(BM_First100Rows)->Unit(benchmark::kMillisecond)->Iterations(21)->UseManualTime();

void BM_AllSections(benchmark::State& state) {
  size_t total = 0, plainSections = 0;
  openList(
      state,
      [&](store::FetchedResultsController& list) {
        for (const auto& section : list.sections()) total += section.numberOfObjects + section.name.size();
        state.counters["sections"] = static_cast<double>(list.sections().size());
        state.counters["rows"] = static_cast<double>(list.fetchedCount());
      },
      [&](PlainReader& reader) { benchmark::DoNotOptimize(reader.readSections("Bob", plainSections)); });
  benchmark::DoNotOptimize(total);
  if (state.counters["sections"] != static_cast<double>(plainSections))
    state.SkipWithError("the store and plain SQLite found different day sections");
}
BENCHMARK(BM_AllSections)->Unit(benchmark::kMillisecond)->Iterations(21)->UseManualTime();

void BM_AllRows(benchmark::State& state) {
  RowSink sink, plainSink;
  openList(
      state,
      [&](store::FetchedResultsController& list) {
        for (size_t s = 0; s < list.sections().size(); ++s)
          for (const auto& object : list.objectsInSection(s)) readNote(app::Note(object), sink);
      },
      [&](PlainReader& reader) { reader.readAllRows("Bob", plainSink); });
  benchmark::DoNotOptimize(sink);
  benchmark::DoNotOptimize(plainSink);
}
BENCHMARK(BM_AllRows)->Unit(benchmark::kMillisecond)->Iterations(21)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
