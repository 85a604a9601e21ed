#include "notes_list/day_statistics.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "notes_list/note_predicates.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"

namespace notes_list {

namespace {

using foundation::Date;

constexpr std::size_t kDaysPerBunch = 10;
// Notes walked per fetch while looking for days.
constexpr std::size_t kWalkPage = 128;
constexpr const char* kNoDay = "20000101";
// Unit texts of walked notes kept from walk to walk, at most.
constexpr std::size_t kKeptUnits = 64;
// Predicates kept for conditions asked for again: the walk's few fetches and the units' one.
constexpr std::size_t kKeptPredicates = 8;

}  // namespace

std::optional<double> noteNumber(const store::Context::ValueRowView& row) {
  // A stored whole number's decimal reads as the integer rounded once, which the cast does.
  if (const auto whole = row.storedInteger(app::Note::kNote_numValue)) return static_cast<double>(*whole);
  const foundation::Value number = row.value(app::Note::kNote_numValue);
  if (const auto* d = number.decimal()) return d->toDouble();
  if (const auto* i = number.integer()) return foundation::Decimal::fromInteger(*i).toDouble();
  if (const auto* r = number.real())
    if (auto made = foundation::Decimal::fromDouble(*r)) return made->toDouble();
  return std::nullopt;
}

entriesStatisticHelper::entriesStatisticHelper(app::NoteEditHelper neh, Services services)
    : neh_(std::move(neh)),
      services_(std::move(services)),
      calendar_(services_.calendar ? *services_.calendar : foundation::Calendar::current()) {
  unitRows_ = readUnitRows(valTypesDictionary_);
  for (const auto& [type, row] : unitRows_)
    if (row.object() && row.object()->context()) unitsContext_ = row.object()->context();
  clearAllStatistic();
}

std::map<std::string, std::string> entriesStatisticHelper::currentSumUnits(const app::NoteEditHelper& neh) {
  std::map<std::string, std::string> units;
  for (const auto& type : neh.getTypeIds(std::string_view())) {
    if (!neh.canUseValueForSums(type)) continue;
    units[type] = neh.getValueType(type).vt_NumMeasureCurrent().value_or("");
  }
  return units;
}

entriesStatisticHelper::UnitRows entriesStatisticHelper::readUnitRows(
    std::map<std::string, std::string>& units) const {
  std::vector<std::string> types;
  for (const auto& type : neh_.getTypeIds(std::string_view()))
    if (neh_.canUseValueForSums(type)) types.push_back(type);
  // getValueType's answer is the type's row of lowest key, unsaved changes included: one fetch
  // of all the types in key order finds the same rows, where it runs in the same context.
  std::map<std::string, app::ValueType> found;
  if (services_.context && services_.context.get() == unitsContext_ && !types.empty()) {
    store::FetchRequest request{std::string(app::ValueType::kEntityName)};
    request.predicate = predicateFor({{"vt_Type IN %@", {stringArray(types)}}});
    if (auto rows = services_.context->fetch(request); rows.ok()) {
      for (auto& object : rows.value()) {
        app::ValueType row(std::move(object));
        if (auto type = row.vt_Type()) found.emplace(*type, std::move(row));
      }
    }
  }
  UnitRows rows;
  for (const auto& type : types) {
    auto known = found.find(type);
    app::ValueType row = known != found.end() ? std::move(known->second) : neh_.getValueType(type);
    units[type] = row.vt_NumMeasureCurrent().value_or("");
    rows.emplace_back(type, std::move(row));
  }
  return rows;
}

bool entriesStatisticHelper::sumUnitsChanged() {
  // A fetch of a type's row would answer the very object kept here while it is still in its
  // context, undeleted and of that type: the context hands out one object per row.
  for (const auto& [type, row] : unitRows_) {
    const store::ObjectPtr& object = row.object();
    if (!object || !object->context() || object->isDeleted() || row.vt_Type() != type) {
      std::map<std::string, std::string> units;
      UnitRows rows = readUnitRows(units);
      if (units != valTypesDictionary_) return true;
      unitRows_ = std::move(rows);
      return false;
    }
    auto unit = valTypesDictionary_.find(type);
    if (unit == valTypesDictionary_.end() || row.vt_NumMeasureCurrent().value_or("") != unit->second)
      return true;
  }
  return false;
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

// The calendar's answers are kept for the helper's life (its calendar never changes): the walk
// asks about the same few days for note after note, and a refresh asks about them all again.
// Each store of answers is emptied once it holds kKeptDays.
namespace {
constexpr std::size_t kKeptDays = 4096;

// The kept day [start, end) that holds the instant, if any.
const std::pair<const Date, Date>* dayHolding(const std::map<Date, Date>& days, Date instant) {
  auto after = days.upper_bound(instant);
  if (after == days.begin()) return nullptr;
  const auto& day = *std::prev(after);
  return instant < day.second ? &day : nullptr;
}

template <class Map, class Key, class Value>
void keep(Map& answers, Key key, Value value) {
  if (answers.size() >= kKeptDays) answers.clear();
  answers.emplace(std::move(key), std::move(value));
}

// The language with each of its texts looked up once: a walk's rows name the same few units.
app::InterfaceText withKeptTexts(app::InterfaceText language) {
  auto kept = std::make_shared<std::map<std::string, std::string, std::less<>>>();
  std::string code = language.language();
  return app::InterfaceText(std::move(code), [language = std::move(language), kept](std::string_view key) {
    auto known = kept->find(key);
    if (known == kept->end()) known = kept->emplace(std::string(key), language.localized(key)).first;
    return known->second;
  });
}
}  // namespace

Date entriesStatisticHelper::endOfDay(Date instant) const {
  if (lastEndDay_.first <= instant && instant < lastEndDay_.second) return lastEndDay_.second;
  if (const auto* day = dayHolding(endDays_, instant)) {
    lastEndDay_ = *day;
    return day->second;
  }
  auto parts = calendar_.components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
      instant);
  if (!parts) return instant;
  auto start = calendar_.dateFromComponents(*parts);
  parts->day = *parts->day + 1;
  auto end = calendar_.dateFromComponents(*parts);
  if (!start || !end) return instant;
  if (*start <= instant && instant < *end) keep(endDays_, *start, *end);
  return *end;
}

Date entriesStatisticHelper::startOfDay(Date instant) const {
  // The day runs to the start of the next one (found from a moment inside it), so a kept answer is
  // the calendar's own.
  if (lastStartDay_.first <= instant && instant < lastStartDay_.second) return lastStartDay_.first;
  if (const auto* day = dayHolding(startDays_, instant)) {
    lastStartDay_ = *day;
    return day->first;
  }
  const auto start = calendar_.startOfDay(instant);
  if (!start) return instant;
  if (const auto next = calendar_.startOfDay(endOfDay(instant)); next && *start <= instant && instant < *next)
    keep(startDays_, *start, *next);
  return *start;
}

std::optional<Date> entriesStatisticHelper::daysAfter(Date instant, int days) const {
  const auto key = std::make_pair(instant, days);
  if (auto kept = shiftedDays_.find(key); kept != shiftedDays_.end()) return kept->second;
  const auto shifted = calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, days, instant);
  keep(shiftedDays_, key, shifted);
  return shifted;
}

std::string entriesStatisticHelper::dayKey(Date dayStart) const {
  if (auto kept = dayKeys_.find(dayStart); kept != dayKeys_.end()) return kept->second;
  auto parts = calendar_.components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
      dayStart);
  if (!parts) return kNoDay;
  auto two = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  std::string key = std::to_string(*parts->year) + two(*parts->month) + two(*parts->day);
  keep(dayKeys_, dayStart, key);
  return key;
}

const std::string& entriesStatisticHelper::diaryDayText(Date dayEnd) const {
  // Making the formatter costs far more than a walk's other work, and a refresh names the same days.
  const std::uint64_t zoneGeneration = foundation::TimeZone::localGeneration();
  if (!diaryDays_ || diaryZoneGeneration_ != zoneGeneration ||
      diaryDays_->locale() != foundation::Locale::current()) {
    diaryDays_ = foundation::DateFormatter::withPattern("yy.MM.dd");
    diaryZoneGeneration_ = zoneGeneration;
    diaryDayTexts_.clear();
  }
  if (auto kept = diaryDayTexts_.find(dayEnd); kept != diaryDayTexts_.end()) return kept->second;
  if (diaryDayTexts_.size() >= kKeptDays) diaryDayTexts_.clear();
  return diaryDayTexts_.emplace(dayEnd, diaryDays_->stringFromDate(dayEnd)).first->second;
}

entriesStatisticHelper::WalkedNote entriesStatisticHelper::walkedNote(
    const store::Context::ValueRowView& row) const {
  using N = app::Note;
  WalkedNote walked;
  const auto rule = [&](std::optional<std::string_view> type) {
    TypeRule made{neh_.howManyDates(type), neh_.shouldSplitTheTimeBy24h(type), type == "Breast Feeding",
                  nullptr};
    if (type) {
      if (auto unit = valTypesDictionary_.find(std::string(*type)); unit != valTypesDictionary_.end())
        made.unit = &unit->second;
    }
    return made;
  };
  if (const auto type = row.text(N::kNote_Type)) {
    auto known = typeRules_.find(*type);
    if (known == typeRules_.end()) known = typeRules_.emplace(std::string(*type), rule(*type)).first;
    walked.type = &known->first;
    walked.rule = &known->second;
  } else {
    if (!noTypeRule_) noTypeRule_ = rule(std::nullopt);
    walked.rule = &*noTypeRule_;
  }
  walked.start = row.date(N::kNote_DateStart);
  walked.stop = row.date(N::kNote_DateStop);
  walked.number = noteNumber(row);
  if (const auto unit = row.text(N::kNote_numMeasureCurrent)) {
    auto known = noteUnits_.find(*unit);
    if (known == noteUnits_.end()) known = noteUnits_.emplace(*unit).first;
    walked.unit = &*known;
  }
  return walked;
}

Date entriesStatisticHelper::lastDayEnd(const WalkedNote& note) const {
  const Date stop = note.stop.value_or(Date{});
  // A timed stretch ending exactly at midnight spends no time in the day that midnight opens.
  if (note.rule->dates == 2 && note.rule->split && note.start && *note.start < stop &&
      startOfDay(stop) == stop)
    return stop;
  return endOfDay(stop);
}

std::vector<entriesStatisticHelper::Condition> entriesStatisticHelper::filterConditions() const {
  std::vector<Condition> conditions;
  conditions.push_back({"noteToBaby.baby_Name == %@", {currentBabyName_.value_or("")}});
  if (filterTypes_) conditions.push_back({"(note_Type IN %@)", {stringArray(*filterTypes_)}});
  if (filterSubTypes_) conditions.push_back({"(note_strValue IN %@)", {stringArray(*filterSubTypes_)}});
  if (beginDate_) conditions.push_back({"note_DateStop >= %@", {*beginDate_}});
  if (endBound_) conditions.push_back({"note_DateStop < %@", {*endBound_}});
  return conditions;
}

store::Predicate entriesStatisticHelper::predicateFor(const std::vector<Condition>& conditions) const {
  const auto kept = std::find_if(predicates_.begin(), predicates_.end(),
                                 [&](const auto& entry) { return entry.first == conditions; });
  if (kept != predicates_.end()) {
    std::rotate(predicates_.begin(), kept, kept + 1);
    return predicates_.front().second;
  }
  std::vector<store::Predicate> parts;
  parts.reserve(conditions.size());
  for (const Condition& condition : conditions)
    parts.push_back(fixedPredicate(condition.format, condition.arguments));
  predicates_.emplace_front(conditions, store::Predicate::andPredicates(parts));
  if (predicates_.size() > kKeptPredicates) predicates_.pop_back();
  return predicates_.front().second;
}

store::FetchRequest entriesStatisticHelper::notesRequest(const std::vector<Condition>& conditions,
                                                         std::size_t limit, std::size_t offset) const {
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = predicateFor(conditions);
  request.sortDescriptors = {{"note_DateStop", false}};
  request.fetchLimit = limit;
  request.fetchOffset = offset;
  // The walk reads values only, and only those it counts with: no note objects are made for the
  // rows.
  request.propertiesToFetch = {"note_Type", "note_DateStart", "note_DateStop", "note_numValue",
                               "note_numMeasureCurrent"};
  return request;
}

foundation::Result<std::size_t> entriesStatisticHelper::visitNotes(
    const std::vector<Condition>& conditions, std::size_t limit, std::size_t offset,
    const store::Context::RowVisitor& visit) const {
  if (!services_.context) return foundation::Error::make("notes_list", 1, "The diary’s store is not open.");
  auto visited = services_.context->visitValues(notesRequest(conditions, limit, offset), visit);
  if (!visited.ok()) {
    foundation::log("Day statistics: fetch failed: " + visited.error().description());
    return visited.error();
  }
  return visited.value();
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
  const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
  latestDate_ = endBound_ ? *endBound_ : clock.now();
  earliestDate_.reset();

  // Without a baby no day gets rows: the summary is empty.
  if (!currentBabyName_ || currentBabyName_->empty()) {
    earliestDate_ = latestDate_;
    allDaysAreLoaded_ = true;
    return {};
  }
  std::optional<Date> newestStop;
  auto newest = visitNotes(filterConditions(), 1, 0, [&newestStop](const store::Context::ValueRowView& row) {
    newestStop = row.date(app::Note::kNote_DateStop);
    return false;
  });
  if (!newest.ok() || newest.value() == 0) {
    earliestDate_ = latestDate_;
    allDaysAreLoaded_ = true;
    return newest.ok() ? foundation::Status{} : foundation::Status(newest.error());
  }
  latestDate_ = endOfDay(newestStop ? *newestStop : Date{});
  if (!calculateNextBunchOfDays(true)) return {};
  return walkStatus_;
}

// The walk reads the notes newest first, a page at a time, and keeps them: once it has found its
// days it reads on to the start of the oldest one, so the notes it holds are every note that can
// count in those days (a note counts only in days up to one before the day it stops in), and the
// days are computed from them without reading the store again. Nothing newer than where the walk
// starts is needed: the walk starts at the end of the newest day of the range, or at the oldest
// day already computed, whose notes the day before it sees again.
bool entriesStatisticHelper::calculateNextBunchOfDays(bool first) {
  walkStatus_ = {};
  if (allDaysAreLoaded_) return false;
  std::vector<Date> ends;
  Date current = *latestDate_;
  if (first) ends.push_back(current);
  std::size_t limit = kDaysPerBunch;

  auto conditions = filterConditions();
  conditions.push_back({"note_DateStop < %@", {*latestDate_}});
  std::vector<WalkedNote> walked;
  // The unit texts of an earlier walk's notes are no longer pointed at; a few are kept for this one.
  if (noteUnits_.size() > kKeptUnits) noteUnits_.clear();
  std::optional<Date> oldestStart;  // start of the oldest day found, once the bunch is full
  bool ranOut = false;
  // Each page goes on from where the last one ended (its stop date, past the notes already read
  // that share it) rather than skipping an offset, which the store would step through again.
  std::optional<Date> lastStop;
  std::size_t readAtLastStop = 0;
  // The first read is a window of dates rather than a count: where every day has notes, the
  // bunch's days are the days just below where the walk starts, so one fetch reads exactly their
  // notes and none past them. Where days are sparser, or a timed stretch reaches further back,
  // the walk goes on from the window a page at a time.
  const auto windowStart = daysAfter(current, -static_cast<int>(kDaysPerBunch + 1));
  const Date window = windowStart.value_or(current);
  bool windowed = windowStart.has_value();
  for (;;) {
    auto pageConditions = conditions;
    if (windowed) {
      pageConditions.push_back({"note_DateStop >= %@", {window}});
    } else if (lastStop) {
      pageConditions.push_back({"note_DateStop <= %@", {*lastStop}});
    }
    const bool paged = !windowed;
    bool past = false;
    const auto visit = [&](const store::Context::ValueRowView& row) {
      WalkedNote note = walkedNote(row);
      const Date stop = note.stop.value_or(Date{});
      if (lastStop && stop.sinceReference == lastStop->sinceReference) {
        ++readAtLastStop;
      } else {
        lastStop = stop;
        readAtLastStop = 1;
      }
      if (oldestStart && stop < *oldestStart) {
        past = true;
        return false;
      }
      // Every day the note spends time in, newest first: its stop day, then (timed stretches)
      // its start day. Both are checked so a night's first day is never skipped.
      if (limit > 0) {
        const bool stretch = note.rule->dates == 2 && note.rule->split && note.start;
        const Date days[] = {lastDayEnd(note), stretch ? endOfDay(*note.start) : Date{}};
        for (std::size_t d = 0; d < (stretch ? 2u : 1u); ++d) {
          const Date day = days[d];
          if (day < current && limit > 0) {
            ends.push_back(day);
            current = day;
            --limit;
          }
        }
        if (limit == 0) oldestStart = daysAfter(ends.back(), -1).value_or(ends.back());
      }
      walked.push_back(note);
      return true;
    };
    const auto visited =
        visitNotes(pageConditions, paged ? kWalkPage : 0, paged && lastStop ? readAtLastStop : 0, visit);
    if (!visited.ok()) {
      walkStatus_ = visited.error();
      allDaysAreLoaded_ = true;
      return true;
    }
    if (past) break;
    const std::size_t read = visited.value();
    if (!paged) {
      // The window held every note from its start on: enough once the oldest day starts there.
      if (oldestStart && window <= *oldestStart) break;
      windowed = false;
      continue;
    }
    if (read < kWalkPage) {
      ranOut = limit > 0;
      break;
    }
  }
  if (ranOut) allDaysAreLoaded_ = true;
  if (ends.empty()) return true;

  // The walk's diary: each day with the number it takes, then where the next bunch starts.
  RowTexts texts;
  for (Date end : ends) {
    foundation::log("num:" + std::to_string(sumDictionary_.size()) + " date:" + diaryDayText(end));
    auto rows = calculateStatisticForDate(end, walked, texts);
    // Days whose notes all belong elsewhere get no number: the list shows no gaps.
    if (!rows.empty()) sumDictionary_.push_back(Day{end, std::move(rows)});
  }
  latestDate_ = ends.back();
  foundation::log(foundation::text::format("latestDate:%@", {foundation::Value(*latestDate_)}));
  return true;
}

bool entriesStatisticHelper::loadEnotherBunchOffDaysToDayNumber(std::uint64_t dayNumber) {
  if (sumDictionary_.empty() || dayNumber + 1 < sumDictionary_.size()) return false;
  return calculateNextBunchOfDays(false);
}

std::vector<DayRow> entriesStatisticHelper::calculateStatisticForDate(Date dayEnd,
                                                                      const std::vector<WalkedNote>& notes,
                                                                      RowTexts& texts) const {
  const Date dayStart = daysAfter(dayEnd, -1).value_or(dayEnd);
  const Date after = daysAfter(dayEnd, 1).value_or(dayEnd);
  // The notes are newest first: those stopping from the day's start to the end of the next day.
  const auto stopOf = [](const WalkedNote& note) { return note.stop.value_or(Date{}); };
  const auto first = std::partition_point(notes.begin(), notes.end(),
                                          [&](const WalkedNote& n) { return stopOf(n) >= after; });
  const auto last =
      std::partition_point(first, notes.end(), [&](const WalkedNote& n) { return stopOf(n) >= dayStart; });
  DaySums sums;
  sums.reserve(typeRules_.size() + 1);  // at most one total per type the walk has met
  for (auto note = first; note != last; ++note) countNote(*note, sums, dayStart, dayEnd);
  if (sums.empty()) return {};
  // The rows go in the order of their types' names: the totals are put in order by address.
  std::vector<DaySums::value_type*> ordered;
  ordered.reserve(sums.size());
  for (auto& entry : sums) ordered.push_back(&entry);
  std::sort(ordered.begin(), ordered.end(),
            [](const auto* a, const auto* b) { return *a->first < *b->first; });
  const std::string key = dayKey(dayStart);

  std::vector<DayRow> rows;
  rows.reserve(sums.size());
  for (DaySums::value_type* entry : ordered) {
    const std::string& type = *entry->first;
    sumInfo_& sum = entry->second;
    sum.dateIndefer = key;
    DayRow row{type, sum.dateIndefer, std::to_string(sum.count), {}, {}};
    if (sum.gotVal) {
      // As the helper's getCurrentNumValueStr writes it, in its language taken once.
      if (!texts.language) texts.language = withKeptTexts(neh_.language());
      auto unit = valTypesDictionary_.find(type);
      row.valWithMeasure = app::numberWithUnitText(
          *texts.language, type, static_cast<double>(static_cast<float>(sum.val)),
          unit == valTypesDictionary_.end() ? std::optional<std::string_view>() : unit->second);
    }
    if (sum.gotPeriod) {
      if (!texts.durations) texts.durations = durationWords();
      row.time = durationText(sum.period, *texts.durations);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void entriesStatisticHelper::countNote(const WalkedNote& walked, DaySums& sums, Date dayStart,
                                       Date dayEnd) const {
  const std::string* type = walked.type;
  const auto& stop = walked.stop;
  if (!type || !stop) return;
  const TypeRule& rule = *walked.rule;
  // Half-open days: an instant at midnight belongs to the day it opens.
  const bool stopInside = dayStart <= *stop && *stop < dayEnd;
  double duration = 0;
  bool hasDuration = false;
  if (rule.dates != 2) {
    if (!stopInside) return;
  } else if (rule.split) {
    const Date start = walked.start.value_or(*stop);
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
    if (rule.breastFeeding) {
      const auto minutes = static_cast<std::int64_t>(walked.number.value_or(0));
      const auto other =
          app::leadingInteger(walked.unit ? std::string_view(*walked.unit) : std::string_view());
      if (minutes >= 1) duration += 60.0 * static_cast<double>(minutes);
      if (other >= 1) duration += 60.0 * static_cast<double>(other);
    } else if (walked.start) {
      duration = *stop - *walked.start;
    }
  }

  double value = 0;
  bool hasValue = false;
  if (rule.unit) {
    value = static_cast<float>(walked.number.value_or(0));
    if (!walked.unit || *walked.unit != *rule.unit) {
      const auto noteUnit =
          walked.unit ? std::optional<std::string_view>(*walked.unit) : std::optional<std::string_view>();
      value = neh_.convertNotationToOpposite(*type, noteUnit, *rule.unit, value);
    }
    hasValue = true;
  }

  // Its day key is the day's, set once the day is counted.
  auto known = std::find_if(sums.begin(), sums.end(), [&](const auto& entry) { return entry.first == type; });
  sumInfo_& sum = known != sums.end() ? known->second : sums.emplace_back(type, sumInfo_{}).second;
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

entriesStatisticHelper::DurationWords entriesStatisticHelper::durationWords() const {
  const auto lang = language();
  const auto preferred = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  return DurationWords{lang.localized("hourInMainCell"), lang.localized("minuteInMainCell"),
                       preferred == "ja" || preferred == "zh-Hans"};
}

std::string entriesStatisticHelper::getTimeIntervalAndCount(double seconds) const {
  return durationText(seconds, durationWords());
}

std::string entriesStatisticHelper::durationText(double seconds, const DurationWords& words) {
  const auto minutes = static_cast<std::int64_t>(std::trunc(seconds / 60));
  const std::int64_t hours = minutes / 60;
  const std::int64_t rest = minutes - 60 * hours;
  // Hours when there is a whole one, then minutes when there is a whole one, a blank between.
  std::string text;
  if (minutes >= 60) {
    text += std::to_string(hours);
    text += words.hour;
  }
  if (rest >= 1) {
    if (!text.empty()) text += ' ';
    text += std::to_string(rest);
    text += words.minute;
  }
  if (text.empty()) {
    text = "0";
    text += words.minute;
  }
  if (words.withoutBlanks) std::erase(text, ' ');
  return text;
}

}  // namespace notes_list
