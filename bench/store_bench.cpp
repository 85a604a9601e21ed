// The object store under the diary's load: bulk and one-by-one inserts of notes, and opening one
// baby's notes of a 3-year diary (30,000 notes) sorted by stop date with day sections, next to
// the same rows read by a plain prepared SQLite statement in the same run.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/model.h"
#include "platform/store/fetched_results.h"
#include "platform/store/store.h"

namespace {

using foundation::Date;

const char* const kTypes[] = {"Breast Feeding", "Sleep", "WC", "Walk", "Food", "Drink", "Bath", "Weight"};

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "diary-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
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
  note.setNote_Type(kTypes[index % 8]);
  note.setNote_DateStart(stop - 1800);
  note.setNote_DateStop(stop);
  note.setNote_numValue(foundation::Decimal::fromInteger(index % 250));
  note.setNote_numMeasureCurrent("Notation_ml");
  if (index % 5 == 0) note.setNote_Notice("A short notice about this entry");
  note.setNoteToBaby(baby);
}

void BM_InsertNotesOneSave(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TempFolder folder;
    Diary diary = openDiary(folder.path() / "dataBase.sqlite");
    auto babies = addBabies(*diary.context);
    (void)diary.context->save();
    state.ResumeTiming();
    for (int i = 0; i < count; ++i) addNote(*diary.context, babies[i % 3], i, Date{4.6e8 + i * 60.0});
    auto status = diary.context->save();
    if (!status) state.SkipWithError(status.error().description().c_str());
    state.PauseTiming();
    diary.context.reset();
    diary.store.reset();
    state.ResumeTiming();
  }
  state.counters["notes"] = count;
  // Seconds per note.
  state.counters["per_note"] =
      benchmark::Counter(static_cast<double>(count),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_InsertNotesOneSave)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

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

void BM_Store_First100Rows(benchmark::State& state) {
  Diary diary = openDiary(ThreeYearDiary::shared().path());
  RowSink sink;
  for (auto _ : state) {
    store::FetchedResultsController list(diary.context, notesOf("Bob"), "sectionIdentifier");
    (void)list.performFetch();
    size_t shown = 0;
    for (size_t s = 0; s < list.sections().size() && shown < 100; ++s)
      for (size_t r = 0; r < list.sections()[s].numberOfObjects && shown < 100; ++r, ++shown)
        readNote(app::Note(list.objectAtIndexPath({s, r})), sink);
    state.PauseTiming();
    diary.context->reset();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Store_First100Rows)->Unit(benchmark::kMillisecond);

void BM_Store_AllSections(benchmark::State& state) {
  Diary diary = openDiary(ThreeYearDiary::shared().path());
  size_t total = 0;
  for (auto _ : state) {
    store::FetchedResultsController list(diary.context, notesOf("Bob"), "sectionIdentifier");
    (void)list.performFetch();
    for (const auto& section : list.sections()) total += section.numberOfObjects + section.name.size();
    state.counters["sections"] = static_cast<double>(list.sections().size());
    state.counters["rows"] = static_cast<double>(list.fetchedCount());
  }
  benchmark::DoNotOptimize(total);
}
BENCHMARK(BM_Store_AllSections)->Unit(benchmark::kMillisecond);

void BM_Store_AllRows(benchmark::State& state) {
  Diary diary = openDiary(ThreeYearDiary::shared().path());
  RowSink sink;
  for (auto _ : state) {
    store::FetchedResultsController list(diary.context, notesOf("Bob"), "sectionIdentifier");
    (void)list.performFetch();
    for (size_t s = 0; s < list.sections().size(); ++s)
      for (const auto& object : list.objectsInSection(s)) readNote(app::Note(object), sink);
    state.PauseTiming();
    diary.context->reset();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Store_AllRows)->Unit(benchmark::kMillisecond);

// The baseline: one prepared statement, values copied out as a screen would keep them.
class PlainReader {
 public:
  // The same search the store makes: the baby's notes through the index on their link.
  explicit PlainReader(const std::filesystem::path& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    const std::string columns =
        "SELECT n.Z_PK, n.ZNOTE_TYPE, n.ZNOTE_DATESTART, n.ZNOTE_DATESTOP, n.ZNOTE_STRVALUE, "
        "n.ZNOTE_NUMVALUE, "
        "n.ZNOTE_NUMMEASURECURRENT, n.ZNOTE_NOTICE";
    const std::string from =
        " FROM ZNOTE n WHERE n.ZNOTETOBABY IN (SELECT b.Z_PK FROM ZBABY b WHERE b.ZBABY_NAME = ?)"
        " ORDER BY n.ZNOTE_DATESTOP DESC, n.Z_PK";
    sqlite3_prepare_v2(db_, (columns + from + " LIMIT 100").c_str(), -1, &first_, nullptr);
    sqlite3_prepare_v2(db_, (columns + from).c_str(), -1, &all_, nullptr);
    sqlite3_prepare_v2(db_, ("SELECT n.Z_PK, n.ZNOTE_DATESTOP" + from).c_str(), -1, &keys_, nullptr);
  }
  ~PlainReader() {
    sqlite3_finalize(first_);
    sqlite3_finalize(all_);
    sqlite3_finalize(keys_);
    sqlite3_close(db_);
  }

  void readRows(const std::string& baby, bool all, RowSink& sink) {
    sqlite3_stmt* rows = all ? all_ : first_;
    sqlite3_bind_text(rows, 1, baby.c_str(), -1, SQLITE_STATIC);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      std::string type = text(rows, 1), measure = text(rows, 6), notice = text(rows, 7);
      const double stop = sqlite3_column_double(rows, 3);
      sink.bytes += type.size() + measure.size() + notice.size() + app::dayKey(Date{stop}).size();
      sink.sum += stop + sqlite3_column_double(rows, 2) + sqlite3_column_double(rows, 5);
    }
    sqlite3_reset(rows);
  }

  // Day sections: names and counts, from the stop dates of every row.
  size_t readSections(const std::string& baby) {
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
    return sections.size();
  }

 private:
  static std::string text(sqlite3_stmt* s, int column) {
    const unsigned char* t = sqlite3_column_text(s, column);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* first_ = nullptr;
  sqlite3_stmt* all_ = nullptr;
  sqlite3_stmt* keys_ = nullptr;
};

void BM_Sqlite_First100Rows(benchmark::State& state) {
  PlainReader reader(ThreeYearDiary::shared().path());
  RowSink sink;
  for (auto _ : state) reader.readRows("Bob", false, sink);
  benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Sqlite_First100Rows)->Unit(benchmark::kMillisecond);

void BM_Sqlite_AllSections(benchmark::State& state) {
  PlainReader reader(ThreeYearDiary::shared().path());
  size_t sections = 0;
  for (auto _ : state) sections = reader.readSections("Bob");
  state.counters["sections"] = static_cast<double>(sections);
}
BENCHMARK(BM_Sqlite_AllSections)->Unit(benchmark::kMillisecond);

void BM_Sqlite_AllRows(benchmark::State& state) {
  PlainReader reader(ThreeYearDiary::shared().path());
  RowSink sink;
  for (auto _ : state) reader.readRows("Bob", true, sink);
  benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_Sqlite_AllRows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
