#pragma once
// NotesListModel: what the notes list shows for one baby, without the views. In list style the
// baby's notes, newest first, grouped into days by their stored day key; in summary style one row
// per note type and day (entriesStatisticHelper), summed in the units stored when the list last
// fetched (a units change shows at the next fetch). Running timers, when there are any, come first
// as a section of their own and shift every data section by one.
//
// The list costs what the screen shows: notes are read a page at a time (100 rows) as the table
// asks for them, as values rather than objects, and days are found on the pages read. Until the
// last page is in, the last day shown may still grow; showing its last row reads the next page
// (willDisplayRow answers true: reload the table).
//
// A failed fetch is logged and leaves an empty list; the caller tells the user. Main thread only.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/note_edit_helper.h"
#include "app/note_timer.h"
#include "notes_list/day_statistics.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"

namespace notes_list {

// A list row as the cells show it: the note's values as the list read them (valid until the list
// reads again). The note itself is made only when a row is opened or deleted (noteAt).
struct NoteRow {
  std::int64_t key = 0;  // the note's primary key
  const std::string* type = nullptr;
  const std::string* strValue = nullptr;
  const std::string* unit = nullptr;  // note_numMeasureCurrent
  const std::string* notice = nullptr;
  std::optional<foundation::Date> start, stop;
  std::optional<double> number;
  bool hasPhoto = false;
};

struct ListFilter {
  std::optional<std::vector<std::string>> types;     // note-type keys; none: every type
  std::optional<std::vector<std::string>> subTypes;  // sub-values; none: every sub-value
  std::optional<foundation::Date> beginDate;         // notes stopping at or after it
  std::optional<foundation::Date> endDate;           // notes stopping before the end of its day
};

class NotesListModel {
 public:
  static constexpr std::size_t kPageSize = 100;

  // The statistics helper of summary style is made from `neh` on first use.
  NotesListModel(app::NoteEditHelper neh, entriesStatisticHelper::Services services,
                 std::shared_ptr<app::localSaves> saves);

  // The baby whose notes are listed; none: an empty list.
  void setCurrentBabyName(std::optional<std::string> name) {
    currentBabyName_ = std::move(name);
    predicate_.reset();
  }
  const std::optional<std::string>& currentBabyName() const { return currentBabyName_; }
  // The filter in force; none: every note of the baby.
  void setFilter(std::optional<ListFilter> filter) {
    filter_ = std::move(filter);
    predicate_.reset();
  }
  const std::optional<ListFilter>& filter() const { return filter_; }
  void setSumStyle(bool sumStyle) { sumStyle_ = sumStyle; }
  bool sumStyle() const { return sumStyle_; }

  // Reads the first page (or the first bunch of days), and the baby's running timers; for the same
  // baby and filter at least as many rows (or days) as were read before, so that a list scrolled
  // down stays where it was. On failure the list is empty and the error is returned.
  foundation::Status performFetch();

  // --- Table shape, in table sections (timers first when there are any)
  bool hasTimersSection() const { return !stopWatch_.empty(); }
  const app::NoteTimerArray& stopWatch() const { return stopWatch_; }
  // Why the baby's timer file could not be read at the last fetch (the list then shows no timers);
  // none when it was read or there is none.
  const std::optional<foundation::Error>& timersError() const { return timersError_; }
  std::size_t numberOfSections() const;
  std::size_t numberOfRows(std::size_t section) const;
  // The data section of a table section; none for the timers section.
  std::optional<std::size_t> dataSection(std::size_t section) const;
  // The header of a table section: the day in the long date style of the interface language;
  // empty for the timers section.
  std::string sectionTitle(std::size_t section) const;
  // The values of a list-style row, valid until the list reads again; null otherwise.
  const NoteRow* rowAt(std::size_t section, std::size_t row) const;
  // The note of a list-style row (made now, loaded when first read); empty otherwise.
  app::Note noteAt(std::size_t section, std::size_t row) const;
  // The totals of a summary-style row; null otherwise.
  const DayRow* sumRowAt(std::size_t section, std::size_t row) const;
  // Called as a row comes into view; true when more rows were read and the table should reload.
  bool willDisplayRow(std::size_t section, std::size_t row);
  bool canEditRow(std::size_t section) const { return !sumStyle_ && dataSection(section).has_value(); }

  // The cell a list row takes: "iPhoneNoteNoticeCell" for free-text notes ("Note", "Pool",
  // "Event", and "Milestone" while that type has no current sub-value), else "iPhoneNoteCell".
  std::string cellIdentifierForNote(const app::Note& note) const;
  std::string cellIdentifierForType(const std::string* type) const;
  // The photo mark shows whenever the note has a photo, whatever its notice says.
  static bool showsPhotoMark(const app::Note& note) { return static_cast<bool>(note.noteToPhotoInfo()); }
  static bool showsPhotoMark(const NoteRow& row) { return row.hasPhoto; }

  // Deletes the note of a list row with its photo record; the photo file goes only once the store
  // saved the deletion. A failed save changes nothing and is returned.
  foundation::Status deleteNoteAt(std::size_t section, std::size_t row);

  entriesStatisticHelper& statistic();

 private:
  struct Day {
    std::string key;        // the stored day key
    std::size_t first = 0;  // in rows_
    std::size_t count = 0;
  };

  foundation::Status loadNextPage();
  const foundation::DateFormatter& headerFormatter() const;
  std::vector<store::Predicate> predicates() const;

  app::NoteEditHelper neh_;
  entriesStatisticHelper::Services services_;
  std::shared_ptr<app::localSaves> saves_;
  std::unique_ptr<entriesStatisticHelper> statistic_;
  foundation::Calendar calendar_;
  // Day headers in the interface language (with the host's region), made again when it changes.
  mutable std::optional<std::string> headerLanguage_;
  mutable std::optional<foundation::DateFormatter> headerFormatter_;

  std::optional<std::string> currentBabyName_;
  std::optional<ListFilter> filter_;
  std::optional<store::Predicate> predicate_;  // of the baby and filter above, made on first use
  bool sumStyle_ = false;

  app::NoteTimerArray stopWatch_;
  std::optional<foundation::Error> timersError_;
  std::vector<Day> days_;
  std::vector<NoteRow> rows_;                    // every row read, in order; the days are runs of them
  std::deque<std::string> texts_;  // what the rows' texts point at
  std::size_t rowsRead_ = 0;
  bool allRowsRead_ = true;
};

}  // namespace notes_list
