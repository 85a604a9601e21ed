#include "notes_list/day_statistics.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "notes_list/note_predicates.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"

namespace notes_list {

namespace {

using foundation::Date;

constexpr std::size_t kDaysPerBunch = 10;
// Notes walked per fetch while looking for days: a bunch of ten days rarely needs more.
constexpr std::size_t kWalkPage = 256;
constexpr const char* kNoDay = "20000101";

}  // namespace

entriesStatisticHelper::entriesStatisticHelper(app::NoteEditHelper neh, Services services)
    : neh_(std::move(neh)),
      services_(std::move(services)),
      calendar_(services_.calendar ? *services_.calendar : foundation::Calendar::current()) {
  for (const auto& type : neh_.getTypeIds(std::string_view())) {
    if (!neh_.canUseValueForSums(type)) continue;
    valTypesDictionary_[type] = neh_.getValueType(type).vt_NumMeasureCurrent().value_or("");
  }
  clearAllStatistic();
}

void entriesStatisticHelper::clearAllStatistic() {
  allDaysAreLoaded_ = false;
  filterTypes_.reset();
  filterSubTypes_.reset();
  sumDictionary_.clear();
}

app::InterfaceText entriesStatisticHelper::language() const {
  return services_.language ? services_.language() : app::InterfaceText::current();
}

Date entriesStatisticHelper::endOfDay(Date instant) const {
  auto parts = calendar_.components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
      instant);
  if (!parts) return instant;
  parts->day = *parts->day + 1;
  return calendar_.dateFromComponents(*parts).value_or(instant);
}

Date entriesStatisticHelper::startOfDay(Date instant) const {
  return calendar_.startOfDay(instant).value_or(instant);
}

std::string entriesStatisticHelper::dayKey(Date dayStart) const {
  auto parts = calendar_.components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
      dayStart);
  if (!parts) return kNoDay;
  auto two = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  return std::to_string(*parts->year) + two(*parts->month) + two(*parts->day);
}

Date entriesStatisticHelper::lastDayEnd(const app::Note& note) const {
  const Date stop = note.note_DateStop().value_or(Date{});
  const auto type = note.note_Type();
  const auto start = note.note_DateStart();
  // A timed stretch ending exactly at midnight spends no time in the day that midnight opens.
  if (neh_.howManyDates(type) == 2 && neh_.shouldSplitTheTimeBy24h(type) && start && *start < stop &&
      startOfDay(stop) == stop)
    return stop;
  return endOfDay(stop);
}

std::vector<store::Predicate> entriesStatisticHelper::filterPredicates() const {
  std::vector<store::Predicate> predicates;
  predicates.push_back(fixedPredicate("noteToBaby.baby_Name == %@", {currentBabyName_.value_or("")}));
  if (filterTypes_) predicates.push_back(fixedPredicate("(note_Type IN %@)", {stringArray(*filterTypes_)}));
  if (filterSubTypes_)
    predicates.push_back(fixedPredicate("(note_strValue IN %@)", {stringArray(*filterSubTypes_)}));
  if (beginDate_) predicates.push_back(fixedPredicate("note_DateStop >= %@", {*beginDate_}));
  if (endBound_) predicates.push_back(fixedPredicate("note_DateStop < %@", {*endBound_}));
  return predicates;
}

foundation::Result<std::vector<app::Note>> entriesStatisticHelper::fetchNotes(
    std::vector<store::Predicate> predicates, std::size_t limit, std::size_t offset) const {
  if (!services_.context) return foundation::Error::make("notes_list", 1, "The diary’s store is not open.");
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = store::Predicate::andPredicates(predicates);
  request.sortDescriptors = {{"note_DateStop", false}};
  request.fetchLimit = limit;
  request.fetchOffset = offset;
  auto objects = services_.context->fetch(request);
  if (!objects.ok()) {
    foundation::log("Day statistics: fetch failed: " + objects.error().description());
    return objects.error();
  }
  std::vector<app::Note> notes;
  notes.reserve(objects.value().size());
  for (auto& object : objects.value()) notes.emplace_back(object);
  return notes;
}

foundation::Status entriesStatisticHelper::setDatesBeginDateEndDate(
    std::optional<Date> beginDate, std::optional<Date> endDate, std::optional<std::string> babyName,
    std::optional<std::vector<std::string>> filterTypes,
    std::optional<std::vector<std::string>> filterSubtypes) {
  clearAllStatistic();
  currentBabyName_ = std::move(babyName);
  filterTypes_ = std::move(filterTypes);
  filterSubTypes_ = std::move(filterSubtypes);
  beginDate_ = beginDate;
  endBound_.reset();
  if (endDate) endBound_ = endOfDay(*endDate);
  const foundation::Clock& clock = services_.clock ? *services_.clock : foundation::Clock::system();
  latestDate_ = endBound_ ? *endBound_ : clock.now();
  earliestDate_.reset();

  // Without a baby no day gets rows: the summary is empty.
  if (!currentBabyName_ || currentBabyName_->empty()) {
    earliestDate_ = latestDate_;
    allDaysAreLoaded_ = true;
    return {};
  }
  auto newest = fetchNotes(filterPredicates(), 1, 0);
  if (!newest.ok()) {
    earliestDate_ = latestDate_;
    allDaysAreLoaded_ = true;
    return newest.error();
  }
  if (newest.value().empty()) {
    earliestDate_ = latestDate_;
    allDaysAreLoaded_ = true;
    return {};
  }
  latestDate_ = endOfDay(newest.value().front().note_DateStop().value_or(Date{}));
  if (!calculateNextBunchOfDays(true)) return {};
  return walkStatus_;
}

bool entriesStatisticHelper::calculateNextBunchOfDays(bool first) {
  walkStatus_ = {};
  if (allDaysAreLoaded_) return false;
  std::vector<Date> ends;
  Date current = *latestDate_;
  if (first) ends.push_back(current);
  std::size_t limit = kDaysPerBunch;

  auto predicates = filterPredicates();
  predicates.push_back(fixedPredicate("note_DateStop < %@", {*latestDate_}));
  bool ranOut = false;
  for (std::size_t offset = 0; limit > 0; offset += kWalkPage) {
    auto page = fetchNotes(predicates, kWalkPage, offset);
    if (!page.ok()) {
      walkStatus_ = page.error();
      allDaysAreLoaded_ = true;
      return true;
    }
    for (const auto& note : page.value()) {
      // Every day the note spends time in, newest first: its stop day, then (timed stretches)
      // its start day. Both are checked so a night's first day is never skipped.
      std::vector<Date> days = {lastDayEnd(note)};
      const auto type = note.note_Type();
      if (neh_.howManyDates(type) == 2 && neh_.shouldSplitTheTimeBy24h(type) && note.note_DateStart())
        days.push_back(endOfDay(*note.note_DateStart()));
      for (Date day : days) {
        if (day < current && limit > 0) {
          ends.push_back(day);
          current = day;
          --limit;
        }
      }
      if (limit == 0) break;
    }
    if (page.value().size() < kWalkPage) {
      ranOut = limit > 0;
      break;
    }
  }
  if (ranOut) allDaysAreLoaded_ = true;
  if (ends.empty()) return true;

  // One read for the whole bunch: every note stopping from the oldest day's start to the end of
  // the day after the newest (a night started in the newest day stops there).
  auto window = filterPredicates();
  const Date from =
      calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, -1, ends.back()).value_or(ends.back());
  const Date to =
      calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, 1, ends.front()).value_or(ends.front());
  window.push_back(fixedPredicate("(note_DateStop >= %@) AND (note_DateStop < %@)", {from, to}));
  auto notes = fetchNotes(std::move(window), 0, 0);
  if (!notes.ok()) {
    walkStatus_ = notes.error();
    allDaysAreLoaded_ = true;
    return true;
  }
  for (Date end : ends) {
    auto rows = calculateStatisticForDate(end, notes.value());
    // Days whose notes all belong elsewhere get no number: the list shows no gaps.
    if (!rows.empty()) sumDictionary_.push_back(Day{end, std::move(rows)});
  }
  latestDate_ = ends.back();
  return true;
}

bool entriesStatisticHelper::loadEnotherBunchOffDaysToDayNumber(std::uint64_t dayNumber) {
  if (sumDictionary_.empty() || dayNumber + 1 < sumDictionary_.size()) return false;
  return calculateNextBunchOfDays(false);
}

std::vector<DayRow> entriesStatisticHelper::calculateStatisticForDate(
    Date dayEnd, const std::vector<app::Note>& notes) const {
  const Date dayStart =
      calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, -1, dayEnd).value_or(dayEnd);
  std::map<std::string, sumInfo_> sums;
  for (const auto& note : notes) countNote(note, sums, dayStart, dayEnd);

  std::vector<DayRow> rows;
  for (const auto& [type, sum] : sums) {
    DayRow row{type, sum.dateIndefer, std::to_string(sum.count), {}, {}};
    if (sum.gotVal) {
      auto unit = valTypesDictionary_.find(type);
      row.valWithMeasure = neh_.getCurrentNumValueStr(
          type, static_cast<double>(static_cast<float>(sum.val)),
          unit == valTypesDictionary_.end() ? std::optional<std::string_view>() : unit->second);
    }
    if (sum.gotPeriod) row.time = getTimeIntervalAndCount(sum.period);
    rows.push_back(std::move(row));
  }
  return rows;
}

void entriesStatisticHelper::countNote(const app::Note& note, std::map<std::string, sumInfo_>& sums,
                                       Date dayStart, Date dayEnd) const {
  const auto type = note.note_Type();
  const auto stop = note.note_DateStop();
  if (!type || !stop) return;
  // Half-open days: an instant at midnight belongs to the day it opens.
  const bool stopInside = dayStart <= *stop && *stop < dayEnd;
  double duration = 0;
  bool hasDuration = false;
  if (neh_.howManyDates(type) != 2) {
    if (!stopInside) return;
  } else if (neh_.shouldSplitTheTimeBy24h(type)) {
    const Date start = note.note_DateStart().value_or(*stop);
    if (start < *stop) {
      duration = std::min(*stop, dayEnd) - std::max(start, dayStart);
      if (duration <= 0) return;
    } else if (!stopInside) {
      return;
    }
    hasDuration = true;
  } else {
    if (!stopInside) return;
    hasDuration = true;
    if (*type == "Breast Feeding") {
      const auto minutes =
          static_cast<std::int64_t>(note.note_numValue() ? note.note_numValue()->toDouble() : 0);
      const auto other = app::leadingInteger(note.note_numMeasureCurrent().value_or(""));
      if (minutes >= 1) duration += 60.0 * static_cast<double>(minutes);
      if (other >= 1) duration += 60.0 * static_cast<double>(other);
    } else if (note.note_DateStart()) {
      duration = *stop - *note.note_DateStart();
    }
  }

  double value = 0;
  bool hasValue = false;
  if (auto unit = valTypesDictionary_.find(*type); unit != valTypesDictionary_.end()) {
    value = static_cast<float>(note.note_numValue() ? note.note_numValue()->toDouble() : 0);
    const auto noteUnit = note.note_numMeasureCurrent();
    if (noteUnit != unit->second) value = neh_.convertNotationToOpposite(type, noteUnit, unit->second, value);
    hasValue = true;
  }

  auto [entry, inserted] = sums.try_emplace(*type);
  sumInfo_& sum = entry->second;
  if (inserted) sum.dateIndefer = dayKey(dayStart);
  sum.count += 1;
  sum.period += duration;
  sum.val += value;
  sum.gotPeriod = sum.gotPeriod || hasDuration;
  sum.gotVal = sum.gotVal || hasValue;
}

const std::vector<DayRow>* entriesStatisticHelper::sumForNum(std::int64_t dayNumber) const {
  if (dayNumber < 0 || static_cast<std::size_t>(dayNumber) >= sumDictionary_.size()) return nullptr;
  return &sumDictionary_[static_cast<std::size_t>(dayNumber)].rows;
}

std::string entriesStatisticHelper::dateForDayNum(std::int64_t dayNumber) const {
  const auto* rows = sumForNum(dayNumber);
  return rows && !rows->empty() ? rows->front().date : kNoDay;
}

std::optional<Date> entriesStatisticHelper::dayEndForNum(std::int64_t dayNumber) const {
  if (!sumForNum(dayNumber)) return std::nullopt;
  return sumDictionary_[static_cast<std::size_t>(dayNumber)].end;
}

std::string entriesStatisticHelper::getTimeIntervalAndCount(double seconds) const {
  const auto lang = language();
  const auto minutes = static_cast<std::int64_t>(std::trunc(seconds / 60));
  const std::int64_t hours = minutes / 60;
  const std::int64_t rest = minutes - 60 * hours;
  std::string hoursPart = minutes >= 60 ? std::to_string(hours) + lang.localized("hourInMainCell") : "";
  std::string minutesPart = rest >= 1 ? std::to_string(rest) + lang.localized("minuteInMainCell") : "";
  std::string text;
  if (!hoursPart.empty() && !minutesPart.empty())
    text = hoursPart + " " + minutesPart;
  else if (!hoursPart.empty() || !minutesPart.empty())
    text = hoursPart + minutesPart;
  else
    text = "0" + lang.localized("minuteInMainCell");
  const auto preferred = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  if (preferred == "ja" || preferred == "zh-Hans") std::erase(text, ' ');
  return text;
}

}  // namespace notes_list
