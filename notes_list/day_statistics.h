#pragma once
// entriesStatisticHelper: the summary style of the notes list. For one baby and an optional
// filter it finds the calendar days that hold notes, newest first, and gives each day one row per
// note type: how many notes, their summed value in one unit, their summed duration.
//
// Days are found in bunches of at most ten (the list asks for the next bunch when the last day
// comes into view), so the cost follows what the screen shows: one paged fetch per bunch and one
// fetch per day computed, never a pass over the whole diary.
//
// A day is named by its end, the local midnight that closes it. A two-date note belongs to each
// day it overlaps for a positive time, so a sleep that ends exactly at midnight is not counted in
// the day that midnight opens. Day numbers count only days that got rows: there are no gaps.
//
// The units of the summed types are fixed when the helper is made. Main thread only.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/entities.h"
#include "app/note_edit_helper.h"
#include "app/value_texts.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace notes_list {

// The totals of one note type within one day.
struct sumInfo_ {
  std::int64_t count = 0;
  double period = 0;  // seconds
  double val = 0;     // in the type's unit of valTypesDictionary
  bool gotPeriod = false;
  bool gotVal = false;
  std::string dateIndefer;  // the day key, "yyyyMMdd" with unpadded year
};

// One row of a day: the type's totals as the cells show them.
// A note's number as the note's own accessor reads it (a decimal, or an integer or real made one),
// from a row of a fetch of values.
std::optional<double> noteNumber(const store::Context::ValueRowView& row);

struct DayRow {
  std::string id;    // the note-type key
  std::string date;  // the day key
  std::string get_count;
  std::optional<std::string> valWithMeasure;  // when a value took part
  std::optional<std::string> time;            // when a duration took part
  friend bool operator==(const DayRow&, const DayRow&) = default;
};

class entriesStatisticHelper {
 public:
  struct Services {
    std::shared_ptr<store::Context> context;
    const foundation::Clock* clock = nullptr;      // the main run loop's clock when null
    std::function<app::InterfaceText()> language;  // InterfaceText::current() when empty
    // First preferred language; "ja" and "zh-Hans" durations lose their blanks.
    std::function<std::optional<std::string>()> preferredLanguage;
    std::optional<foundation::Calendar> calendar;  // the current calendar when absent
  };

  // Takes the units of the summed types as they are now.
  entriesStatisticHelper(app::NoteEditHelper neh, Services services);
  // Its type rules point into its own units: a copy would point into the original's.
  entriesStatisticHelper(const entriesStatisticHelper&) = delete;
  entriesStatisticHelper& operator=(const entriesStatisticHelper&) = delete;

  // Restarts on a new range and computes the first bunch. A failed fetch leaves no day and is
  // returned (logged); the helper stays usable.
  foundation::Status setDatesBeginDateEndDate(std::optional<foundation::Date> beginDate,
                                              std::optional<foundation::Date> endDate,
                                              std::optional<std::string> babyName,
                                              std::optional<std::vector<std::string>> filterTypes,
                                              std::optional<std::vector<std::string>> filterSubtypes);
  // Computes up to ten more (older) days; false only when everything was loaded before the call.
  bool calculateNextBunchOfDays(bool first);
  // True when `dayNumber` is the last computed day and a further bunch was walked: reload.
  bool loadEnotherBunchOffDaysToDayNumber(std::uint64_t dayNumber);

  // The rows of a day, or null for a day not computed.
  const std::vector<DayRow>* sumForNum(std::int64_t dayNumber) const;
  // The day key of the day; "20000101" for a day not computed.
  std::string dateForDayNum(std::int64_t dayNumber) const;
  // The day's end (the midnight that closes it); none for a day not computed.
  std::optional<foundation::Date> dayEndForNum(std::int64_t dayNumber) const;
  std::size_t howManyDays() const { return sumDictionary_.size(); }
  bool allDaysAreLoaded() const { return allDaysAreLoaded_; }

  static bool isDateInsidePeriodFromToDate(foundation::Date date, foundation::Date from,
                                           foundation::Date to) {
    return from <= date && date <= to;
  }
  std::string getTimeIntervalAndCount(double seconds) const;
  void clearAllStatistic();

  const std::map<std::string, std::string>& valTypesDictionary() const { return valTypesDictionary_; }
  // The summed types (Food, Drink, Pumping) with the units stored for them now.
  static std::map<std::string, std::string> currentSumUnits(const app::NoteEditHelper& neh);
  // True when the units stored now differ from valTypesDictionary. Reads them from the ValueType
  // rows they were taken from (a change made through the same context shows in them at once)
  // without fetching, unless a row has left its context (a reset), was deleted or changed its
  // type; then the rows are read again, in one fetch when they were read in the list's context.
  bool sumUnitsChanged();

 private:
  struct Day {
    foundation::Date end;
    std::vector<DayRow> rows;
  };

  // What the walk and the sums ask of a note's type, found once per type.
  struct TypeRule {
    int dates = 0;
    bool split = false;                 // a timed stretch split at day boundaries
    bool breastFeeding = false;         // its duration is its minutes on either side
    const std::string* unit = nullptr;  // a summed type's unit, in valTypesDictionary_
  };
  // A note as the walk read it, with what every day it may count in asks of it read once.
  // Its texts are the helper's own copies, which stay while the walk's days are computed.
  struct WalkedNote {
    const std::string* type = nullptr;  // the key of its rule; null for a note without a type
    const TypeRule* rule = nullptr;
    std::optional<foundation::Date> start, stop;
    std::optional<double> number;       // note_numValue
    const std::string* unit = nullptr;  // note_numMeasureCurrent, in noteUnits_
  };
  WalkedNote walkedNote(const store::Context::ValueRowView& row) const;

  foundation::Date endOfDay(foundation::Date instant) const;
  foundation::Date startOfDay(foundation::Date instant) const;
  std::string dayKey(foundation::Date dayStart) const;
  // The day's end as the walk's diary names it ("yy.MM.dd" in the current locale and local zone).
  const std::string& diaryDayText(foundation::Date dayEnd) const;
  // The instant moved by whole days in the calendar; nothing where the calendar cannot.
  std::optional<foundation::Date> daysAfter(foundation::Date instant, int days) const;
  // The end of the last day the note spends a positive time in.
  foundation::Date lastDayEnd(const WalkedNote& note) const;
  // One condition of a fetch: a predicate's format and its arguments.
  struct Condition {
    std::string_view format;
    std::vector<foundation::Value> arguments;
    friend bool operator==(const Condition&, const Condition&) = default;
  };
  std::vector<Condition> filterConditions() const;
  // All the conditions as one predicate. The same conditions give the very predicate they gave
  // last time (a few are kept), so that the store runs the SQL it compiled for it again rather
  // than parsing and compiling it anew: a refresh of the summary asks for the same notes.
  store::Predicate predicateFor(const std::vector<Condition>& conditions) const;
  store::FetchRequest notesRequest(const std::vector<Condition>& conditions, std::size_t limit,
                                   std::size_t offset) const;
  // The notes the conditions select, newest first, read one at a time as the visitor asks (true to
  // go on): the walk keeps only what it counts with. The notes visited, or the fetch's failure
  // (logged).
  foundation::Result<std::size_t> visitNotes(const std::vector<Condition>& conditions, std::size_t limit,
                                             std::size_t offset,
                                             const store::Context::RowVisitor& visit) const;
  // The words of a duration in the interface language.
  struct DurationWords {
    std::string hour, minute;
    bool withoutBlanks = false;  // "ja" and "zh-Hans"
  };
  // The words the rows of a walk's days are written with, taken once per walk when first needed.
  struct RowTexts {
    std::optional<app::InterfaceText> language;  // the note helper's, for values with units
    std::optional<DurationWords> durations;
  };
  // The rows of one day from `notes` (every note that may count in it); empty when none counts.
  std::vector<DayRow> calculateStatisticForDate(foundation::Date dayEnd, const std::vector<WalkedNote>& notes,
                                                RowTexts& texts) const;
  // A day's totals by type, the type being the walk's one string for it (its address tells types
  // apart): a day holds few types.
  using DaySums = std::vector<std::pair<const std::string*, sumInfo_>>;
  void countNote(const WalkedNote& note, DaySums& sums, foundation::Date dayStart,
                 foundation::Date dayEnd) const;
  app::InterfaceText language() const;
  DurationWords durationWords() const;
  static std::string durationText(double seconds, const DurationWords& words);

  app::NoteEditHelper neh_;
  Services services_;
  foundation::Calendar calendar_;
  std::map<std::string, std::string> valTypesDictionary_;
  using UnitRows = std::vector<std::pair<std::string, app::ValueType>>;
  // The summed types' rows and their units: through the helper's getValueType, or where
  // `unitsContext_` is the list's own context, in one fetch there.
  UnitRows readUnitRows(std::map<std::string, std::string>& units) const;
  UnitRows unitRows_;                             // where valTypesDictionary_ was read
  const store::Context* unitsContext_ = nullptr;  // the context the helper read them in
  // By type name; looked up for every note walked, so by hash rather than by comparing names.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  mutable std::unordered_map<std::string, TypeRule, NameHash, std::equal_to<>> typeRules_;
  mutable std::optional<TypeRule> noTypeRule_;
  mutable std::set<std::string, std::less<>> noteUnits_;  // the walked notes' unit texts
  mutable std::deque<std::pair<std::vector<Condition>, store::Predicate>> predicates_;  // newest first
  std::optional<foundation::Date> earliestDate_;
  std::optional<foundation::Date> latestDate_;
  std::vector<Day> sumDictionary_;  // index = day number, 0 the newest
  std::optional<std::string> currentBabyName_;
  std::optional<std::vector<std::string>> filterTypes_, filterSubTypes_;
  std::optional<foundation::Date> beginDate_, endBound_;  // the list's date filter
  foundation::Status walkStatus_;                         // the last walk's fetch failure
  // The calendar's answers, kept: days [start, end) as endOfDay and as startOfDay found them, days
  // added to a date, and day keys.
  mutable std::map<foundation::Date, foundation::Date> endDays_, startDays_;
  // The day each of them last answered from: the walk's notes come day by day.
  mutable std::pair<foundation::Date, foundation::Date> lastEndDay_, lastStartDay_;
  mutable std::map<std::pair<foundation::Date, int>, std::optional<foundation::Date>> shiftedDays_;
  mutable std::map<foundation::Date, std::string> dayKeys_;
  // The diary's formatter and its texts, kept while the locale and the local zone stay those it
  // was made for.
  mutable std::optional<foundation::DateFormatter> diaryDays_;
  mutable std::uint64_t diaryZoneGeneration_ = 0;
  mutable std::map<foundation::Date, std::string> diaryDayTexts_;
  bool allDaysAreLoaded_ = false;
};

}  // namespace notes_list
