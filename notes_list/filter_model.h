#pragma once
// FilterModel: what the note filter screen holds, without its views. The period, the ticked note
// types (basic filter) or one type with its ticked sub-values (detailed filter), and the four report
// options. It reads the type lists once, when configured; later changes to the sub-values do not
// show until the next opening.
//
// Every call takes the model's lock: the report screen reads the result from its report thread
// while the user may still be tapping on the main thread. Nothing is stored on disk.
//
// Restoring a result that no longer fits the store is mended, never trusted: a detailed result
// whose type has no sub-values any more becomes a basic one, sub-values the type lost are dropped,
// and the detailed filter cannot be chosen while no type has sub-values.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "app/note_edit_helper.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/date.h"

namespace notes_list {

// Report option "Photos".
enum class FilterPhotos : std::uint32_t { kNotInclude = 0, kSmall = 1, kBig = 2 };

// What the filter hands on.
struct FilterResult {
  std::vector<std::string> types;     // ticked type keys in the user's order, or the one picked type
  std::vector<std::string> subTypes;  // ticked sub-values of the picked type (detailed only)
  bool detailed = false;
  std::optional<foundation::Date> beginDate;
  std::optional<foundation::Date> endDate;
  FilterPhotos photos = FilterPhotos::kSmall;
  bool useTime = true;
  bool descending = true;
  bool forPrinting = false;
};

class FilterModel {
 public:
  // Reads the user's type order and the sorted sub-values of every type through `neh` (which
  // creates missing ValueType rows), ticks every type and sets the default period: 00:00 of the
  // day of `now` back to 00:00 of the same day a month earlier (rolled over the calendar's way:
  // 31 March gives 3 March).
  void configure(const app::NoteEditHelper& neh, foundation::Date now, const foundation::Calendar& calendar);

  // Restores a result handed back by the list. Nil types: the configured period kept, and every
  // type ticked for the basic filter; for the detailed one only the mode is taken, every tick
  // staying as it was. Otherwise the dates are taken as given (even when absent).
  void restore(const std::optional<std::vector<std::string>>& types,
               const std::optional<std::vector<std::string>>& subTypes, bool detailed,
               std::optional<foundation::Date> begin, std::optional<foundation::Date> end);

  // Appends the result's types and sub-values; answers the detailed flag.
  bool getSelectedTypesAndSubTypes(std::vector<std::string>& types, std::vector<std::string>& subTypes) const;
  FilterResult result() const;

  std::optional<foundation::Date> beginDate() const;
  std::optional<foundation::Date> endDate() const;
  void setBeginDate(foundation::Date date);
  void setEndDate(foundation::Date date);

  FilterPhotos photosType() const;
  bool shouldUseTime() const;
  bool shouldDoWithDescending() const;
  bool shouldReportForPrinting() const;
  void setPhotosType(FilterPhotos photos);
  void setUseTime(bool on);
  void setDescending(bool on);
  void setForPrinting(bool on);

  // --- The lists the table shows
  std::vector<std::string> noteTypeArray() const;
  std::vector<std::string> noteTypeWithSubArray() const;
  bool isDetailed() const;
  bool canUseDetailed() const;
  std::size_t currentTypeNum() const;
  // The sub-values of the picked type; empty when there is none.
  std::vector<std::string> currentSubTypes() const;
  // Rows of the last section: types (basic) or sub-values of the picked type (detailed).
  std::size_t selectableRowCount() const;
  bool isTicked(std::size_t row) const;
  // Flips a row of the last section; answers its new state.
  bool flip(std::size_t row);
  void setAllSelected(bool selected);
  // The filter segment: a change starts with everything ticked; false when nothing changed (also
  // when detailed is asked for and no type has sub-values).
  bool chooseDetailed(bool detailed);
  // The type picker: picks a type of noteTypeWithSubArray and ticks all its sub-values.
  void pickType(std::size_t index);

 private:
  bool detailedUsable() const { return filterWithSubtypes_ && currentTypeNum_ < subTypesArrays_.size(); }
  void tickAllLocked(bool selected);
  // One field read or written under the lock.
  template <class T>
  T locked(const T& field) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return field;
  }
  template <class T>
  void assign(T& field, std::type_identity_t<T> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    field = std::move(value);
  }

  mutable std::mutex mutex_;
  bool filterWithSubtypes_ = false;
  FilterPhotos photos_ = FilterPhotos::kSmall;
  bool withTime_ = true;
  bool withDescending_ = true;
  bool forPrinting_ = false;
  std::size_t currentTypeNum_ = 0;
  std::vector<std::string> noteTypeArray_;
  std::vector<std::string> noteTypeWithSubArray_;
  std::vector<std::vector<std::string>> subTypesArrays_;  // parallel to noteTypeWithSubArray_
  std::optional<foundation::Date> begin_;
  std::optional<foundation::Date> end_;
  std::map<std::size_t, bool> cellsState_;
  std::map<std::size_t, bool> subCellsState_;
};

// The sorted sub-values of a type as stored (digits compare by value); empty when it has none.
std::vector<std::string> sortedSubTypesForType(const app::NoteEditHelper& neh, const std::string& type);

}  // namespace notes_list
