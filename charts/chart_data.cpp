#include "charts/chart_data.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "app/note_types.h"
#include "app/value_texts.h"
#include "platform/store/predicate.h"

namespace charts {

using foundation::Date;
using foundation::Value;

namespace {

foundation::Result<std::vector<app::Note>> fetchNotes(store::Context& context, std::string_view format,
                                                      std::vector<Value> arguments, std::string_view sortKey,
                                                      bool ascending = true, std::size_t limit = 0) {
  auto predicate = store::Predicate::parse(format, std::move(arguments));
  if (!predicate) return predicate.error();
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = predicate.value();
  request.sortDescriptors = {{std::string(sortKey), ascending}};
  request.fetchLimit = limit;
  auto rows = context.fetch(request);
  if (!rows) return rows.error();
  std::vector<app::Note> notes;
  for (auto& row : rows.value()) notes.emplace_back(row);
  return notes;
}

// The type's current unit: the measure getSumsForType names for a summed type, else the unit its
// ValueType row holds (the growth types); empty when it has none.
std::string unitOfType(const app::NoteEditHelper& helper, std::string_view type) {
  for (const auto& measure : helper.getSumsForType(type)) {
    if (measure != app::kShowCount && measure != app::kShowHours) return measure;
  }
  return helper.getValueType(type).vt_NumMeasureCurrent().value_or("");
}

}  // namespace

foundation::Result<GrowthSeries> growthSeries(store::Context& context, const app::NoteEditHelper& helper,
                                              std::string_view babyName, std::string_view type) {
  GrowthSeries series;
  series.type = std::string(type);
  series.unit = unitOfType(helper, type);
  auto notes = fetchNotes(context, "noteToBaby.baby_Name == %@ AND note_Type == %@",
                          {Value(std::string(babyName)), Value(std::string(type))}, "note_DateStop");
  if (!notes) return notes.error();
  for (const auto& note : notes.value()) {
    auto number = note.note_numValue();
    auto date = note.note_DateStop();
    if (!number || !date) continue;
    double value = number->toDouble();
    const auto noteUnit = note.note_numMeasureCurrent();
    if (!series.unit.empty() && noteUnit != series.unit)
      value = helper.convertNotationToOpposite(type, noteUnit, series.unit, value);
    series.points.push_back({*date, value});
  }
  return series;
}

std::vector<std::pair<Date, Date>> splitAtDays(const foundation::Calendar& calendar, Date start, Date stop) {
  std::vector<std::pair<Date, Date>> pieces;
  if (stop < start) std::swap(start, stop);
  Date from = start;
  // A note lasts a day at most; the bound only keeps a corrupt row from looping for long.
  for (int guard = 0; guard < 400; ++guard) {
    auto dayStart = calendar.startOfDay(from);
    auto next =
        dayStart ? calendar.dateByAddingUnit(foundation::CalendarUnit::Day, 1, *dayStart) : std::nullopt;
    if (!next || *next <= from || stop < *next) {
      pieces.emplace_back(from, stop);
      return pieces;
    }
    pieces.emplace_back(from, *next);
    if (*next == stop) return pieces;
    from = *next;
  }
  pieces.emplace_back(from, stop);
  return pieces;
}

foundation::Result<std::vector<DaySpan>> daySpans(store::Context& context, const app::NoteEditHelper& helper,
                                                  const foundation::Calendar& calendar,
                                                  std::string_view babyName, Date day) {
  auto dayStart = calendar.startOfDay(day);
  auto dayEnd =
      dayStart ? calendar.dateByAddingUnit(foundation::CalendarUnit::Day, 1, *dayStart) : std::nullopt;
  if (!dayStart || !dayEnd)
    return foundation::Error::make("ChartsErrorDomain", 1, "The day lies outside the calendar.");
  // Every note that may touch the day: a note lasts 24 hours at most, so one that starts up to a
  // day before may reach into it.
  auto notes =
      fetchNotes(context, "noteToBaby.baby_Name == %@ AND note_DateStop >= %@ AND note_DateStart < %@",
                 {Value(std::string(babyName)), Value(*dayStart), Value(*dayEnd)}, "note_DateStart");
  if (!notes) return notes.error();

  std::vector<DaySpan> spans;
  for (const auto& note : notes.value()) {
    auto type = note.note_Type();
    auto start = note.note_DateStart();
    auto stop = note.note_DateStop();
    if (!type || !stop) continue;
    if (!start || helper.howManyDates(*type) != 2) start = stop;
    if (*stop < *start) std::swap(start, stop);
    if (helper.howManyDates(*type) == 2 && helper.shouldSplitTheTimeBy24h(*type)) {
      for (const auto& [from, to] : splitAtDays(calendar, *start, *stop)) {
        if (from >= *dayStart && from < *dayEnd) spans.push_back({*type, from, std::min(to, *dayEnd)});
      }
    } else if (*start >= *dayStart && *start < *dayEnd) {
      spans.push_back({*type, *start, std::min(*stop, *dayEnd)});
    }
  }
  std::stable_sort(spans.begin(), spans.end(),
                   [](const DaySpan& a, const DaySpan& b) { return a.start < b.start; });
  return spans;
}

foundation::Result<std::vector<std::string>> typesWithNotes(store::Context& context,
                                                            const app::NoteEditHelper& helper,
                                                            std::string_view babyName) {
  std::vector<std::string> types;
  for (const auto& type : helper.getTypeIds(app::kUserList)) {
    auto predicate = store::Predicate::parse("noteToBaby.baby_Name == %@ AND note_Type == %@",
                                             {Value(std::string(babyName)), Value(type)});
    if (!predicate) return predicate.error();
    store::FetchRequest request{std::string(app::Note::kEntityName)};
    request.predicate = predicate.value();
    request.fetchLimit = 1;
    auto count = context.count(request);
    if (!count) return count.error();
    if (*count > 0) types.push_back(type);
  }
  return types;
}

namespace {

// A note's share of one measure while it is counted whole on one day.
double wholeNoteMeasure(const app::NoteEditHelper& helper, const app::Note& note, std::string_view type,
                        std::string_view measure) {
  if (measure == app::kShowCount) return 1;
  const auto start = note.note_DateStart();
  const auto stop = note.note_DateStop();
  if (measure == app::kShowHours) {
    // A breast feeding keeps its sides' minutes: the left in the number, the right in the unit
    // field; the dates also span the pauses.
    if (type == "Breast Feeding") {
      const auto left = note.note_numValue() ? note.note_numValue()->toDouble() : 0.0;
      const auto right = static_cast<double>(app::leadingInteger(note.note_numMeasureCurrent().value_or("")));
      return (std::max(0.0, std::trunc(left)) + std::max(0.0, right)) / 60.0;
    }
    return start && stop && *start < *stop ? (*stop - *start) / 3600.0 : 0.0;
  }
  if (!note.note_numValue()) return 0;
  const double value = note.note_numValue()->toDouble();
  const auto unit = note.note_numMeasureCurrent();
  if (unit == measure) return value;
  return helper.convertNotationToOpposite(type, unit, measure, value);
}

}  // namespace

foundation::Result<SumSeries> sumSeries(store::Context& context, const app::NoteEditHelper& helper,
                                        const foundation::Calendar& calendar, std::string_view babyName,
                                        std::string_view type, std::string_view measure) {
  SumSeries series{std::string(type), std::string(measure), {}};
  auto notes = fetchNotes(context, "noteToBaby.baby_Name == %@ AND note_Type == %@",
                          {Value(std::string(babyName)), Value(std::string(type))}, "note_DateStop");
  if (!notes) return notes.error();
  const bool split = helper.howManyDates(type) == 2 && helper.shouldSplitTheTimeBy24h(type);
  std::map<Date, double> perDay;
  const auto addTo = [&](Date when, double amount) {
    if (auto day = calendar.startOfDay(when)) perDay[*day] += amount;
  };
  for (const auto& note : notes.value()) {
    const auto stop = note.note_DateStop();
    if (!stop) continue;
    const auto start = note.note_DateStart();
    if (split && start && *start < *stop) {
      for (const auto& [from, to] : splitAtDays(calendar, *start, *stop)) {
        if (!(from < to)) continue;  // a piece of no length (a stop at midnight) is no day's
        addTo(from, measure == app::kShowCount ? 1.0
                    : measure == app::kShowHours ? (to - from) / 3600.0
                                                 : 0.0);
      }
    } else {
      addTo(*stop, wholeNoteMeasure(helper, note, type, measure));
    }
  }
  for (const auto& [day, value] : perDay) series.days.push_back({day, value});
  return series;
}

std::optional<Date> latestNoteDate(store::Context& context, std::string_view babyName) {
  auto notes =
      fetchNotes(context, "noteToBaby.baby_Name == %@", {Value(std::string(babyName))}, "note_DateStop", false, 1);
  if (!notes || notes->empty()) return std::nullopt;
  return notes->front().note_DateStop();
}

}  // namespace charts
