#include "notes_list/notes_list_model.h"

#include <utility>

#include "app/model.h"
#include "app/value_texts.h"
#include "notes_list/note_predicates.h"
#include "platform/foundation/log.h"

namespace notes_list {

NotesListModel::NotesListModel(app::NoteEditHelper neh, entriesStatisticHelper::Services services,
                               std::shared_ptr<app::localSaves> saves)
    : neh_(std::move(neh)),
      services_(std::move(services)),
      saves_(std::move(saves)),
      calendar_(services_.calendar ? *services_.calendar : foundation::Calendar::current()) {}

const foundation::DateFormatter& NotesListModel::headerFormatter() const {
  const app::InterfaceText language =
      services_.language ? services_.language() : app::InterfaceText::current();
  if (!headerFormatter_ || headerLanguage_ != language.language()) {
    headerFormatter_ = foundation::DateFormatter::withStyles(
        foundation::DateFormatterStyle::Long, foundation::DateFormatterStyle::None,
        app::interfaceLocale(language), calendar_.timeZone());
    headerLanguage_ = language.language();
  }
  return *headerFormatter_;
}

entriesStatisticHelper& NotesListModel::statistic() {
  if (!statistic_) statistic_ = std::make_unique<entriesStatisticHelper>(neh_, services_);
  return *statistic_;
}

std::vector<store::Predicate> NotesListModel::predicates() const {
  std::vector<store::Predicate> out{fixedPredicate("noteToBaby.baby_Name == %@", {*currentBabyName_})};
  if (!filter_) return out;
  if (filter_->types) out.push_back(fixedPredicate("(note_Type IN %@)", {stringArray(*filter_->types)}));
  if (filter_->subTypes)
    out.push_back(fixedPredicate("(note_strValue IN %@)", {stringArray(*filter_->subTypes)}));
  if (filter_->beginDate) out.push_back(fixedPredicate("note_DateStop >= %@", {*filter_->beginDate}));
  if (filter_->endDate) {
    auto parts = calendar_.components(
        foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day,
        *filter_->endDate);
    if (parts) {
      parts->day = *parts->day + 1;
      if (auto end = calendar_.dateFromComponents(*parts))
        out.push_back(fixedPredicate("note_DateStop < %@", {*end}));
    }
  }
  return out;
}

foundation::Status NotesListModel::performFetch() {
  // A new baby or filter (no predicate yet) starts from the top; the same list keeps its length.
  const bool same = predicate_.has_value();
  const std::size_t rowsWanted = same ? rowsRead_ : 0;
  const std::size_t daysWanted = same && statistic_ ? statistic_->howManyDays() : 0;
  days_.clear();
  rows_.clear();
  texts_.clear();
  rowsRead_ = 0;
  allRowsRead_ = true;
  stopWatch_.clear();
  timersError_.reset();
  if (saves_ && currentBabyName_ && !currentBabyName_->empty()) {
    // An unreadable file shows no timers (the reader logged why); the list writes none, so the
    // file stays as it is for the editor to refuse writing over too.
    if (auto timers = saves_->readTimerArray(*currentBabyName_))
      stopWatch_ = std::move(*timers);
    else
      timersError_ = timers.error();
  }
  if (!currentBabyName_) return {};
  if (sumStyle_) {
    // Totals follow the units as they are now: a units change made while the list is open (the
    // settings screen, the first-run overlay) shows at the next refresh.
    if (statistic_ && statistic_->sumUnitsChanged()) statistic_.reset();
    // The statistics use the same period and filters as the list.
    const ListFilter none;
    const ListFilter& f = filter_ ? *filter_ : none;
    if (!predicate_) predicate_ = store::Predicate::andPredicates(predicates());
    auto status =
        statistic().setDatesBeginDateEndDate(f.beginDate, f.endDate, currentBabyName_, f.types, f.subTypes);
    while (status.ok() && statistic_->howManyDays() < daysWanted && !statistic_->allDaysAreLoaded()) {
      const std::size_t before = statistic_->howManyDays();
      if (!statistic_->calculateNextBunchOfDays(false) || statistic_->howManyDays() == before) break;
    }
    return status;
  }
  allRowsRead_ = false;
  auto status = loadNextPage();
  while (status.ok() && !allRowsRead_ && rowsRead_ < rowsWanted) status = loadNextPage();
  if (!status.ok()) {
    days_.clear();
    rows_.clear();
    texts_.clear();
    rowsRead_ = 0;
    allRowsRead_ = true;
  }
  return status;
}

foundation::Status NotesListModel::loadNextPage() {
  if (allRowsRead_) return {};
  if (!services_.context) {
    allRowsRead_ = true;
    foundation::log("Notes list: the diary's store is not open");
    return foundation::Error::make("notes_list", 1, "The diary’s store is not open.");
  }
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  // Every page of one fetch, and every fetch until the baby or the filter changes, asks the same.
  if (!predicate_) predicate_ = store::Predicate::andPredicates(predicates());
  request.predicate = *predicate_;
  request.sortDescriptors = {{"note_DateStop", false, store::StringComparison::LocalizedCaseInsensitive}};
  request.fetchLimit = kPageSize;
  request.fetchOffset = rowsRead_;
  using N = app::Note;
  const store::EntityDescription* notes = services_.context->model().entity(N::kEntityName);
  const store::RelationshipDescription* photo = notes ? notes->relationship("noteToPhotoInfo") : nullptr;
  // The rows are read where they are, no value made for a column; their texts are kept beside them.
  const auto kept = [this](std::optional<std::string_view> text) -> const std::string* {
    return text ? &texts_.emplace_back(*text) : nullptr;
  };
  const std::size_t before = rows_.size();
  rows_.reserve(before + kPageSize);
  auto page = services_.context->visitValues(request, [&](const store::Context::ValueRowView& note) {
    NoteRow row;
    row.key = note.key();
    row.type = kept(note.text(N::kNote_Type));
    row.strValue = kept(note.text(N::kNote_strValue));
    row.unit = kept(note.text(N::kNote_numMeasureCurrent));
    row.notice = kept(note.text(N::kNote_Notice));
    row.start = note.date(N::kNote_DateStart);
    row.stop = note.date(N::kNote_DateStop);
    row.number = noteNumber(note);
    row.hasPhoto = photo && note.link(photo->toOneSlot) != 0;
    // The day key of the stop date, as the note's sectionIdentifier is made.
    std::string key = row.stop ? app::dayKey(*row.stop) : std::string();
    if (days_.empty() || days_.back().key != key) days_.push_back(Day{std::move(key), rows_.size(), 0});
    ++days_.back().count;
    rows_.push_back(row);
    return true;
  });
  if (!page.ok()) {
    allRowsRead_ = true;
    foundation::log("Notes list: fetch failed: " + page.error().description());
    return page.error();
  }
  const std::size_t read = rows_.size() - before;
  rowsRead_ += read;
  if (read < kPageSize) allRowsRead_ = true;
  return {};
}

std::size_t NotesListModel::numberOfSections() const {
  std::size_t data = 0;
  if (currentBabyName_) data = sumStyle_ ? (statistic_ ? statistic_->howManyDays() : 0) : days_.size();
  return data + (hasTimersSection() ? 1 : 0);
}

std::optional<std::size_t> NotesListModel::dataSection(std::size_t section) const {
  if (!hasTimersSection()) return section;
  if (section == 0) return std::nullopt;
  return section - 1;
}

std::size_t NotesListModel::numberOfRows(std::size_t section) const {
  auto data = dataSection(section);
  if (!data) return stopWatch_.size();
  if (sumStyle_) {
    const auto* rows = statistic_ ? statistic_->sumForNum(static_cast<std::int64_t>(*data)) : nullptr;
    return rows ? rows->size() : 0;
  }
  return *data < days_.size() ? days_[*data].count : 0;
}

std::string NotesListModel::sectionTitle(std::size_t section) const {
  auto data = dataSection(section);
  if (!data) return "";
  std::string key;
  if (sumStyle_) {
    if (!statistic_ || !statistic_->sumForNum(static_cast<std::int64_t>(*data))) return "";
    key = statistic_->dateForDayNum(static_cast<std::int64_t>(*data));
  } else {
    if (*data >= days_.size()) return "";
    key = days_[*data].key;
  }
  // "yyyyMMdd" with a year of any length; anything else has no title.
  if (key.size() < 5 || key.find_first_not_of("0123456789") != std::string::npos) return "";
  foundation::DateComponents parts;
  parts.year = std::stoi(key.substr(0, key.size() - 4));
  parts.month = std::stoi(key.substr(key.size() - 4, 2));
  parts.day = std::stoi(key.substr(key.size() - 2));
  auto midnight = calendar_.dateFromComponents(parts);
  return midnight ? headerFormatter().stringFromDate(*midnight) : "";
}

const NoteRow* NotesListModel::rowAt(std::size_t section, std::size_t row) const {
  auto data = dataSection(section);
  if (sumStyle_ || !data || *data >= days_.size() || row >= days_[*data].count) return nullptr;
  return &rows_[days_[*data].first + row];
}

app::Note NotesListModel::noteAt(std::size_t section, std::size_t row) const {
  const NoteRow* found = rowAt(section, row);
  if (!found || !services_.context) return {};
  const store::EntityDescription* entity = services_.context->model().entity(app::Note::kEntityName);
  return entity ? app::Note(services_.context->objectWithID(store::ObjectID{entity, found->key}))
                : app::Note();
}

const DayRow* NotesListModel::sumRowAt(std::size_t section, std::size_t row) const {
  auto data = dataSection(section);
  if (!sumStyle_ || !data || !statistic_) return nullptr;
  const auto* rows = statistic_->sumForNum(static_cast<std::int64_t>(*data));
  return rows && row < rows->size() ? &(*rows)[row] : nullptr;
}

bool NotesListModel::willDisplayRow(std::size_t section, std::size_t row) {
  if (section + 1 != numberOfSections() || row + 1 != numberOfRows(section)) return false;
  auto data = dataSection(section);
  if (!data) return false;
  if (sumStyle_) return statistic_ && statistic_->loadEnotherBunchOffDaysToDayNumber(*data);
  if (allRowsRead_) return false;
  const std::size_t before = rowsRead_;
  auto status = loadNextPage();
  return !status.ok() || rowsRead_ != before;
}

std::string NotesListModel::cellIdentifierForNote(const app::Note& note) const {
  const auto type = note.note_Type();
  return cellIdentifierForType(type ? &*type : nullptr);
}

std::string NotesListModel::cellIdentifierForType(const std::string* stored) const {
  const std::string type = stored ? *stored : std::string();
  const bool freeText = type == "Note" || type == "Pool" || type == "Event" ||
                        (type == "Milestone" && !neh_.getValueType(type).vt_StrCurrent());
  return freeText ? "iPhoneNoteNoticeCell" : "iPhoneNoteCell";
}

foundation::Status NotesListModel::deleteNoteAt(std::size_t section, std::size_t row) {
  app::Note note = noteAt(section, row);
  if (!note || !services_.context) return foundation::Error::make("notes_list", 2, "There is no such note.");
  auto& context = *services_.context;
  std::optional<std::string> photoPath;
  const app::PhotoInfo photo = note.noteToPhotoInfo();
  if (photo) {
    photoPath = photo.photo_Path();
    context.deleteObject(photo.object());
  }
  context.deleteObject(note.object());
  auto saved = context.save();
  if (!saved.ok()) {
    // The photo record went in the same save: it is not deleted either.
    if (photo) foundation::log("Failed to delete the photoInfo. Error = " + saved.error().description());
    foundation::log("Failed to delete the note. Error = " + saved.error().description());
    context.rollback();
    return saved;
  }
  // Only now that the store forgot the note may its photo go: a failed save keeps both.
  if (photoPath && saves_) {
    if (auto removed = saves_->deletePhoto(*photoPath); !removed.ok())
      foundation::log("Failed to delete the photo file. Error = " + removed.error().description());
  }
  return performFetch();
}

}  // namespace notes_list
