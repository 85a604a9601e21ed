#include "notes_list/filter_model.h"

#include <algorithm>

#include "platform/foundation/text.h"

namespace notes_list {

using foundation::CalendarUnit;
using foundation::Date;
using Lock = std::lock_guard<std::mutex>;

std::vector<std::string> sortedSubTypesForType(const app::NoteEditHelper& neh, const std::string& type) {
  std::vector<std::string> values;
  app::ValueType row = neh.getValueType(type);
  if (!row) return values;
  for (const auto& value : row.valueTypeToStrValue()) {
    if (auto text = value.strValue()) values.push_back(*text);
  }
  std::stable_sort(values.begin(), values.end(), [](const std::string& a, const std::string& b) {
    return foundation::text::numericCompare(a, b) == foundation::text::Ordering::Ascending;
  });
  return values;
}

void FilterModel::configure(const app::NoteEditHelper& neh, Date now, const foundation::Calendar& calendar) {
  std::vector<std::string> types = neh.getTypeIds("userList");
  std::vector<std::string> withSub;
  std::vector<std::vector<std::string>> lists;
  for (const auto& type : types) {
    auto values = sortedSubTypesForType(neh, type);
    if (values.empty()) continue;
    withSub.push_back(type);
    lists.push_back(std::move(values));
  }

  std::optional<Date> stop;
  std::optional<Date> start;
  if (auto parts = calendar.components(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day, now)) {
    foundation::DateComponents day;
    day.year = parts->year;
    day.month = parts->month;
    day.day = parts->day;
    stop = calendar.dateFromComponents(day);
    day.month = *day.month - 1;
    start = calendar.dateFromComponents(day);
  }

  Lock lock(mutex_);
  noteTypeArray_ = std::move(types);
  noteTypeWithSubArray_ = std::move(withSub);
  subTypesArrays_ = std::move(lists);
  filterWithSubtypes_ = false;
  currentTypeNum_ = 0;
  begin_ = start;
  end_ = stop;
  cellsState_.clear();
  subCellsState_.clear();
  tickAllLocked(true);
}

void FilterModel::restore(const std::optional<std::vector<std::string>>& types,
                          const std::optional<std::vector<std::string>>& subTypes, bool detailed,
                          std::optional<Date> begin, std::optional<Date> end) {
  Lock lock(mutex_);
  if (types) {
    begin_ = begin;
    end_ = end;
  }
  auto contains = [](const std::optional<std::vector<std::string>>& list, const std::string& item) {
    return list && std::find(list->begin(), list->end(), item) != list->end();
  };

  if (detailed && !types && !noteTypeWithSubArray_.empty()) {
    // No list to restore: only the mode is taken. The picked type and every tick stay as they
    // were (on a fresh filter: the first type with sub-values, none of them ticked).
    filterWithSubtypes_ = true;
    if (currentTypeNum_ >= noteTypeWithSubArray_.size()) currentTypeNum_ = 0;
    return;
  }
  if (detailed && types && !types->empty()) {
    auto found = std::find(noteTypeWithSubArray_.begin(), noteTypeWithSubArray_.end(), types->front());
    if (found != noteTypeWithSubArray_.end()) {
      filterWithSubtypes_ = true;
      currentTypeNum_ = static_cast<std::size_t>(found - noteTypeWithSubArray_.begin());
      subCellsState_.clear();
      const auto& values = subTypesArrays_[currentTypeNum_];
      // A sub-value the type no longer has finds no row and is dropped.
      for (std::size_t j = 0; j < values.size(); ++j) subCellsState_[j] = contains(subTypes, values[j]);
      return;
    }
    // The type lost its sub-values (or is gone): the basic filter with that type is the nearest
    // meaning left, rather than a picker pointing past its list.
  }
  filterWithSubtypes_ = false;
  bool any = false;
  for (std::size_t i = 0; i < noteTypeArray_.size(); ++i) {
    const bool ticked = !types || contains(types, noteTypeArray_[i]);
    cellsState_[i] = ticked;
    any = any || ticked;
  }
  if (detailed && !any) tickAllLocked(true);
}

bool FilterModel::getSelectedTypesAndSubTypes(std::vector<std::string>& types,
                                              std::vector<std::string>& subTypes) const {
  Lock lock(mutex_);
  if (detailedUsable()) {
    types.push_back(noteTypeWithSubArray_[currentTypeNum_]);
    const auto& values = subTypesArrays_[currentTypeNum_];
    for (std::size_t j = 0; j < values.size(); ++j) {
      auto it = subCellsState_.find(j);
      if (it != subCellsState_.end() && it->second) subTypes.push_back(values[j]);
    }
    return true;
  }
  for (std::size_t i = 0; i < noteTypeArray_.size(); ++i) {
    auto it = cellsState_.find(i);
    if (it != cellsState_.end() && it->second) types.push_back(noteTypeArray_[i]);
  }
  return false;
}

FilterResult FilterModel::result() const {
  FilterResult result;
  result.detailed = getSelectedTypesAndSubTypes(result.types, result.subTypes);
  Lock lock(mutex_);
  result.beginDate = begin_;
  result.endDate = end_;
  result.photos = photos_;
  result.useTime = withTime_;
  result.descending = withDescending_;
  result.forPrinting = forPrinting_;
  return result;
}

std::optional<Date> FilterModel::beginDate() const { return locked(begin_); }
std::optional<Date> FilterModel::endDate() const { return locked(end_); }
void FilterModel::setBeginDate(Date date) { assign(begin_, date); }
void FilterModel::setEndDate(Date date) { assign(end_, date); }

FilterPhotos FilterModel::photosType() const { return locked(photos_); }
bool FilterModel::shouldUseTime() const { return locked(withTime_); }
bool FilterModel::shouldDoWithDescending() const { return locked(withDescending_); }
bool FilterModel::shouldReportForPrinting() const { return locked(forPrinting_); }
void FilterModel::setPhotosType(FilterPhotos photos) { assign(photos_, photos); }
void FilterModel::setUseTime(bool on) { assign(withTime_, on); }
void FilterModel::setDescending(bool on) { assign(withDescending_, on); }
void FilterModel::setForPrinting(bool on) { assign(forPrinting_, on); }

std::vector<std::string> FilterModel::noteTypeArray() const { return locked(noteTypeArray_); }
std::vector<std::string> FilterModel::noteTypeWithSubArray() const { return locked(noteTypeWithSubArray_); }
bool FilterModel::isDetailed() const { return locked(filterWithSubtypes_); }
bool FilterModel::canUseDetailed() const {
  Lock lock(mutex_);
  return !noteTypeWithSubArray_.empty();
}
std::size_t FilterModel::currentTypeNum() const { return locked(currentTypeNum_); }
std::vector<std::string> FilterModel::currentSubTypes() const {
  Lock lock(mutex_);
  if (currentTypeNum_ >= subTypesArrays_.size()) return {};
  return subTypesArrays_[currentTypeNum_];
}

std::size_t FilterModel::selectableRowCount() const {
  Lock lock(mutex_);
  if (!filterWithSubtypes_) return noteTypeArray_.size();
  return currentTypeNum_ < subTypesArrays_.size() ? subTypesArrays_[currentTypeNum_].size() : 0;
}

bool FilterModel::isTicked(std::size_t row) const {
  Lock lock(mutex_);
  const auto& states = filterWithSubtypes_ ? subCellsState_ : cellsState_;
  auto it = states.find(row);
  return it != states.end() && it->second;
}

bool FilterModel::flip(std::size_t row) {
  Lock lock(mutex_);
  auto& states = filterWithSubtypes_ ? subCellsState_ : cellsState_;
  bool& state = states[row];
  state = !state;
  return state;
}

void FilterModel::tickAllLocked(bool selected) {
  if (filterWithSubtypes_) {
    const std::size_t count =
        currentTypeNum_ < subTypesArrays_.size() ? subTypesArrays_[currentTypeNum_].size() : 0;
    for (std::size_t j = 0; j < count; ++j) subCellsState_[j] = selected;
  } else {
    for (std::size_t i = 0; i < noteTypeArray_.size(); ++i) cellsState_[i] = selected;
  }
}

void FilterModel::setAllSelected(bool selected) {
  Lock lock(mutex_);
  tickAllLocked(selected);
}

bool FilterModel::chooseDetailed(bool detailed) {
  Lock lock(mutex_);
  if (detailed == filterWithSubtypes_) return false;
  if (detailed && noteTypeWithSubArray_.empty()) return false;
  filterWithSubtypes_ = detailed;
  currentTypeNum_ = 0;
  subCellsState_.clear();
  tickAllLocked(true);
  return true;
}

void FilterModel::pickType(std::size_t index) {
  Lock lock(mutex_);
  if (index >= noteTypeWithSubArray_.size()) return;
  currentTypeNum_ = index;
  subCellsState_.clear();
  tickAllLocked(true);
}

}  // namespace notes_list
