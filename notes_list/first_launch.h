#pragma once
// The first launch: the date of the first launch in Library/Settings/"firstLaunch.txt" and the
// units chosen on the first-run overlay.
//
// The date is written as "yyyy.MM.dd" in the Gregorian calendar with a fixed locale, so that any
// device reads it back the same way. Files written by earlier versions used the device's own
// calendar (Buddhist years on a Thai device, imperial years on a Japanese one); reading tries those
// calendars too and takes the latest reading that is not in the future.

#include <optional>

#include "app/note_edit_helper.h"
#include "app/settings_records.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace notes_list {

// The first-launch day (its midnight in the local time zone), or nothing when the file is missing,
// is no plain file or holds no such date.
std::optional<foundation::Date> readFirstLaunchDate(const app::SettingsRecords& records,
                                                    foundation::Date now);

// Whole days from the first launch to now (cut toward zero); nothing without a first-launch date.
std::optional<long long> daysSinceFirstLaunch(const app::SettingsRecords& records, foundation::Date now);

// Writes today's date; makes the Settings folder when missing. Atomic.
foundation::Status saveFirstLaunchFile(const app::SettingsRecords& records, foundation::Date now);

// The overlay's three choices, 1-based; 0 means not chosen.
struct UnitChoice {
  unsigned weightNum = 0;  // 1 kg, 2 lbs, 3 lbs and oz
  unsigned heightNum = 0;  // 1 cm, 2 inch, 3 ft and inch
  unsigned temperNum = 0;  // 1 Celsius, 2 Fahrenheit
  bool complete() const { return weightNum && heightNum && temperNum; }
};

// Writes the chosen units into the ValueType rows the note types read ("Weight", "Height",
// "Temperature", "Bath", and the metric or imperial unit of "Food", "Drink", "Pumping",
// "Сhest Size", "Head Size") and saves the context. A failed save is rolled back and returned, so
// that the user can choose again.
[[nodiscard]] foundation::Status saveNotations(const app::NoteEditHelper& neh, store::Context& context,
                                               const UnitChoice& choice);

}  // namespace notes_list
