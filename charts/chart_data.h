#pragma once
// What the charts read from the store: a baby's notes of one type as points in the type's current
// unit, and a day's notes as spans on a 24-hour strip.
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

// Cuts [start, stop] at the day boundaries of the calendar: one piece per day it touches.
std::vector<std::pair<foundation::Date, foundation::Date>> splitAtDays(const foundation::Calendar& calendar,
                                                                       foundation::Date start,
                                                                       foundation::Date stop);

}  // namespace charts
