#pragma once
// What the charts read from the store: a baby's notes of one type as points in the type's current
// unit, a day's notes as spans on a 24-hour strip, and a type's totals per day for the summary chart.
//
// A note's number is brought into the type's current unit only when the note was stored in
// another one. Notes of the types whose time is split at day boundaries are cut there: a sleep
// from 22:00 to 06:00 is two hours on the first day and six on the next.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace charts {

// One measure of a growth type.
struct GrowthPoint {
  foundation::Date date;
  double value = 0;  // in `unit`
};

struct GrowthSeries {
  std::string type;
  std::string unit;                 // the type's current unit key; empty for a type without a number
  std::vector<GrowthPoint> points;  // oldest first
};

// One piece of a note inside one day.
struct DaySpan {
  std::string type;
  foundation::Date start;  // inside the day
  foundation::Date stop;   // inside the day, not before start; equal for a one-date note
};

// The baby's notes of the type, oldest first, each with a number, in the type's current unit
// (the measure getSumsForType names for it, else the unit of its ValueType row). A failed fetch
// is returned.
foundation::Result<GrowthSeries> growthSeries(store::Context& context, const app::NoteEditHelper& helper,
                                              std::string_view babyName, std::string_view type);

// The pieces of the baby's notes that fall on the day holding `day` (local midnight to midnight
// of `calendar`), by start. Two-date notes of the types split at day boundaries are cut at them;
// others are placed by their start alone, cut at the day's end.
foundation::Result<std::vector<DaySpan>> daySpans(store::Context& context, const app::NoteEditHelper& helper,
                                                  const foundation::Calendar& calendar,
                                                  std::string_view babyName, foundation::Date day);

// One day of the summary chart: its local midnight and the day's total in the chart's measure.
struct DaySum {
  foundation::Date day;
  double value = 0;
  friend bool operator==(const DaySum&, const DaySum&) = default;
};

struct SumSeries {
  std::string type;
  std::string measure;        // "show_count", "show_hours" or a unit key
  std::vector<DaySum> days;   // the days that have notes of the type, oldest first
};

// The note types the baby has notes of, in the user's order. A failed count is returned.
foundation::Result<std::vector<std::string>> typesWithNotes(store::Context& context,
                                                            const app::NoteEditHelper& helper,
                                                            std::string_view babyName);

// The baby's notes of the type totalled per day in one of the measures getSumsForType offers:
//   "show_count"  notes per day
//   "show_hours"  hours per day (a breast feeding by its two sides' minutes, others stop - start)
//   a unit key    the numbers added up in that unit; a note stored in another unit is converted
// Notes of the types split at day boundaries are cut there and counted on each day they touch for
// a positive time (an instant note on the day it falls in); every other note counts on the day of
// its stop. A failed fetch is returned.
foundation::Result<SumSeries> sumSeries(store::Context& context, const app::NoteEditHelper& helper,
                                        const foundation::Calendar& calendar, std::string_view babyName,
                                        std::string_view type, std::string_view measure);

// The latest stop date among the baby's notes; nothing when it has none (or the fetch failed).
std::optional<foundation::Date> latestNoteDate(store::Context& context, std::string_view babyName);

// Cuts [start, stop] at the day boundaries of the calendar: one piece per day it touches.
std::vector<std::pair<foundation::Date, foundation::Date>> splitAtDays(const foundation::Calendar& calendar,
                                                                       foundation::Date start,
                                                                       foundation::Date stop);

}  // namespace charts
