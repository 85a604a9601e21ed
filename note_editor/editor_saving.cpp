// The end of a note's road: the answers of the child screens, saving with its photo file and the
// type's remembered values (all or nothing, see note_editor.h), deleting and copying.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/note_types.h"
#include "note_editor/editor_support.h"
#include "note_editor/note_editor.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"

namespace note_editor {

namespace nt = app::note_type;
using foundation::Date;
using foundation::Dictionary;
using foundation::Status;
using foundation::Value;
using namespace detail;

namespace {

std::filesystem::path photoFile(app::localSaves& saves, std::string_view key) {
  auto name = app::fileNameForName(key);
  return name ? saves.getPhotosDir() / (*name + ".jpg") : std::filesystem::path();
}

void logPhotoInfoNotDeleted(const foundation::Error& error) {
  foundation::log("Failed to delete the photoInfo. Error = " + error.description());
}

}  // namespace

bool NoteEditor::photoFileIsGone(const app::PhotoInfo& info) const {
  if (!services_.saves) return false;
  const auto key = info.photo_Path();
  if (!key) return true;
  const std::filesystem::path path = photoFile(*services_.saves, *key);
  if (path.empty()) return true;
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  // A folder that cannot be searched tells nothing about the file.
  return status.type() == std::filesystem::file_type::not_found;
}

void NoteEditor::dropPhotoRecord(const app::PhotoInfo& info) {
  if (!managedObjectContext) return;
  store::Context& context = *managedObjectContext;
  context.deleteObject(info.object());
  if (Status saved = context.save(); !saved) {
    context.rollback();
    logPhotoInfoNotDeleted(saved.error());
  }
}

std::optional<foundation::Decimal> storedNumber(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return std::nullopt;
  const float single = static_cast<float>(*value);
  if (static_cast<double>(single) == *value) {
    char text[64];
    for (int digits = 1; digits <= 9; ++digits) {
      std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(single));
      if (std::strtof(text, nullptr) == single) return foundation::Decimal::parse(text);
    }
  }
  return foundation::Decimal::fromDouble(*value);
}

// ---------------------------------------------------------------------------------------------
// Answers of child screens

void NoteEditor::noteInputSetSubtypesAndValues(const std::optional<std::string>& text) {
  if (!text) return;
  note_strVal = *text;
  if (text->empty()) return;
  const auto lang = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  if (!lang || lang->empty()) return;
  PendingEvent event{"sub_categories", {}};
  event.parameters.set("type", Value(note_Type.value_or("")));
  event.parameters.set("lang", Value(*lang));
  if (auto country = services_.countryCode ? services_.countryCode() : std::nullopt) {
    event.parameters.set("country", Value(*country));
    event.parameters.set("sub_category", Value(*text));
  }
  logEvent(event);
}

void NoteEditor::setPhoto(const std::optional<graphics::Image>& image) {
  if (graphics::Image::samePicture(image, note_Photo)) return;
  photoState = image ? 2 : 0;
  note_Photo = image;
  // The user chose: an unreadable stored photo is replaced or, for nil, removed on save.
  photoUnreadable_ = false;
}

// ---------------------------------------------------------------------------------------------
// Saving

std::string NoteEditor::alertText(std::string_view key, std::optional<std::string_view> second) const {
  if (!second) return localized(key);
  return format2("%@ %@", localized(key), localized(*second));
}

app::Baby NoteEditor::findBaby(std::string& alert) {
  alert = alertText(text_key::kNoBaby);
  if (!managedObjectContext || !currentBabyName || currentBabyName->empty()) return {};
  auto predicate = store::Predicate::parse("baby_Name == %@", {Value(*currentBabyName)});
  if (!predicate) return {};
  store::FetchRequest request{std::string(app::Baby::kEntityName)};
  request.predicate = *predicate;
  auto rows = managedObjectContext->fetch(request);
  if (!rows) {
    alert = alertText(text_key::kSaveFailed);
    return {};
  }
  for (const auto& object : *rows)
    if (app::Baby baby(object); baby) return baby;
  return {};
}

std::string NoteEditor::newPhotoKey(Date photoDate) {
  auto formatter = foundation::DateFormatter::withPattern("yyyy_MMMM_dd_HH_mm");
  const std::string date = formatter.stringFromDate(photoDate);
  auto taken = [&](const std::string& key) {
    if (services_.saves && std::filesystem::exists(photoFile(*services_.saves, key))) return true;
    auto predicate = store::Predicate::parse("photo_Path == %@", {Value(key)});
    if (!predicate || !managedObjectContext) return false;
    store::FetchRequest request{std::string(app::PhotoInfo::kEntityName)};
    request.predicate = *predicate;
    auto count = managedObjectContext->count(request);
    // A record that cannot be counted leaves the file check alone to decide.
    return count && *count > 0;
  };
  const std::uint32_t start = (services_.random ? services_.random() : 0) % 1000;
  // Another number of the same minute when one is in use; past all thousand, numbers go on above.
  for (std::uint32_t step = 0;; ++step) {
    const std::uint32_t number = step < 1000 ? (start + step) % 1000 : step;
    std::string key = "_" + date + "_" + std::to_string(number);
    if (!taken(key)) return key;
  }
}

std::optional<NoteEditor::PendingEvent> NoteEditor::newNoteEvent() const {
  if (!note_numVal || !note_numMeasureCurrent) return std::nullopt;
  const auto lang = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  if (!lang || lang->empty()) return std::nullopt;
  PendingEvent event{"new_" + *note_numMeasureCurrent, {}};
  event.parameters.set("lang", Value(*lang));
  if (auto country = services_.countryCode ? services_.countryCode() : std::nullopt) {
    event.parameters.set("country", Value(*country));
    event.parameters.set("type", Value(note_Type.value_or("")));
  }
  return event;
}

std::optional<NoteEditor::PendingEvent> NoteEditor::breastTypeEvent() const {
  const auto [leftMinutes, rightMinutes] = breastMinutes();
  const bool left = leftMinutes >= 1, right = rightMinutes >= 1;
  if (!left && !right) return std::nullopt;
  return PendingEvent{"breast_type", Dictionary{{"type", Value(left && right ? "Both"
                                                               : left        ? "Left"
                                                                             : "Right")}}};
}

void NoteEditor::logEvent(const PendingEvent& event) const {
  if (services_.logEvent) services_.logEvent(event.name, event.parameters);
}

std::optional<std::string_view> NoteEditor::dateProblem() {
  if (helper_.howManyDates(note_Type) != 2) {
    note_DateStart = note_DateStop;
    return std::nullopt;
  }
  if (note_DateStart && note_DateStop && *note_DateStop < *note_DateStart) return text_key::kEndBeforeBegin;
  if (isTimeLimitExceeded()) return text_key::kTimeLimit;
  return std::nullopt;
}

void NoteEditor::writeNote(const app::Note& note) {
  if (note_DateStart) note_DateStart = cutToMinute(*note_DateStart);
  if (note_DateStop) note_DateStop = cutToMinute(*note_DateStop);
  if (isBreastType()) {
    const auto [left, right] = breastMinutes();
    note_numVal = static_cast<double>(left);
    note_numMeasureCurrent = std::to_string(right);
  }
  note.setNote_Type(note_Type);
  note.setNote_DateStart(note_DateStart);
  note.setNote_DateStop(note_DateStop);
  note.setNote_strValue(note_strVal);
  note.setNote_numValue(storedNumber(note_numVal));
  note.setNote_Notice(note_Notice);
  note.setNote_numMeasureCurrent(note_numMeasureCurrent);
}

void NoteEditor::PhotoFiles::undo(app::localSaves* saves) const {
  if (written && saves) (void)saves->deletePhoto(*written);
  if (replaced) (void)files::writeAtomic(replaced->first, replaced->second);
}

// Files change only in ways that can be undone until the store has saved: a new file under a new
// key, or a rewritten file whose old bytes are kept; a removed photo's file goes after the save.
Status NoteEditor::writePhoto(const app::Note& note, const app::Baby& baby, PhotoFiles& files) {
  store::Context& context = *managedObjectContext;
  app::PhotoInfo info = editingNote ? editingNote.noteToPhotoInfo() : app::PhotoInfo();
  if (!note_Photo) {
    if (info && !photoUnreadable_) {
      files.removeAfterSave = info.photo_Path();
      context.deleteObject(info.object());
    } else if (info) {
      info.setPhoto_Date(note_DateStop);
    }
    return {};
  }
  if (!services_.saves) return foundation::Error::make("NoteEditor", 1, "No file store for the photo");
  if (info) {
    info.setPhoto_Date(note_DateStop);
    if (photoState != 2) return {};
    const std::string key = info.photo_Path().value_or("");
    const auto path = photoFile(*services_.saves, key);
    if (auto old = files::readFile(path)) files.replaced.emplace(path, *old);
    return services_.saves->savePhoto(*note_Photo, key);
  }
  info = app::PhotoInfo::insertIn(context);
  if (!info) {
    foundation::log("Failed to create the new photoInfo.");
    return foundation::Error::make("NoteEditor", 2, "Failed to create the new photoInfo.");
  }
  info.setPhoto_Date(note_DateStop);
  const std::string key = newPhotoKey(note_DateStop.value_or(now()));
  info.setPhoto_Path(key);
  if (Status written = services_.saves->savePhoto(*note_Photo, key); !written) return written;
  files.written = key;
  info.setPhotoInfoToBaby(baby);
  info.setPhotoInfoToNote(note);
  return {};
}

std::vector<NoteEditor::PendingEvent> NoteEditor::rememberValues(const app::ValueType& valueType,
                                                                 bool isNew) {
  std::vector<PendingEvent> events;
  if (isBreastType()) {
    if (auto event = breastTypeEvent()) events.push_back(std::move(*event));
    return events;
  }
  if (isNew)
    if (auto event = newNoteEvent()) events.push_back(std::move(*event));
  if (!valueType) return events;
  valueType.setVt_StrCurrent(note_strVal);
  if (isNew && note_numMeasureCurrent && valueType.vt_NumMeasureCurrent() == note_numMeasureCurrent)
    valueType.setVt_NumCurrent(note_numVal ? std::optional<float>(static_cast<float>(*note_numVal))
                                           : std::nullopt);
  return events;
}

std::pair<std::int64_t, std::int64_t> NoteEditor::breastMinutes() const {
  if (countsMinutes()) return {timerCount, timerCount2};
  return {timerCount / 60, timerCount2 / 60};
}

SaveOutcome NoteEditor::saveThisNote() {
  // A note needs a type; an editor opened on a running timer that is gone has none.
  if (!note_Type) return {false, alertText(text_key::kSaveFailed)};
  if (auto problem = dateProblem()) return {false, alertText(*problem)};
  std::string alert;
  const app::Baby baby = findBaby(alert);
  if (!baby) return {false, alert};
  store::Context& context = *managedObjectContext;
  // Fetched before anything is written: a type's first row is created and saved at once, and
  // that save must not carry a half-written note along.
  const app::ValueType valueType = isBreastType() ? app::ValueType() : helper_.getValueType(note_Type);

  const bool isNew = !editingNote;
  const app::Note note = isNew ? app::Note::insertIn(context) : editingNote;
  if (!note) {
    foundation::log("Failed ");
    return {false, alertText(text_key::kSaveFailed)};
  }
  writeNote(note);
  if (isNew) note.setNoteToBaby(baby);
  PhotoFiles photoFiles;
  Status done = writePhoto(note, baby, photoFiles);
  const std::vector<PendingEvent> events =
      done ? rememberValues(valueType, isNew) : std::vector<PendingEvent>();
  if (done) done = context.save();
  if (!done) {
    context.rollback();
    photoFiles.undo(services_.saves.get());
    // The photo record went in the same save: it is not deleted either.
    if (photoFiles.removeAfterSave) logPhotoInfoNotDeleted(done.error());
    foundation::log("Failed to save the new MainData. Error = " + done.error().description());
    return {false, alertText(text_key::kSaveFailed)};
  }
  if (photoFiles.removeAfterSave && services_.saves)
    (void)services_.saves->deletePhoto(*photoFiles.removeAfterSave);
  for (const auto& event : events) logEvent(event);
  return {true, std::nullopt};
}

Status NoteEditor::removeThisNote() {
  if (!editingNote || !managedObjectContext) return {};
  store::Context& context = *managedObjectContext;
  std::optional<std::string> photoKey;
  if (app::PhotoInfo info = editingNote.noteToPhotoInfo()) {
    photoKey = info.photo_Path();
    context.deleteObject(info.object());
  }
  context.deleteObject(editingNote.object());
  if (Status saved = context.save(); !saved) {
    context.rollback();
    if (photoKey) logPhotoInfoNotDeleted(saved.error());
    foundation::log("Failed to delete the note. Error = " + saved.error().description());
    return saved;
  }
  if (photoKey && services_.saves) (void)services_.saves->deletePhoto(*photoKey);
  return {};
}

void NoteEditor::copyThisNote() {
  editingNote = app::Note();
  photoState = 0;
  note_Photo.reset();
  photoUnreadable_ = false;
  const Date current = now();
  if (isBreastType() && note_numMeasureCurrent) {
    // The counters as the editor shows them, edits included.
    note_DateStop = current;
    note_DateStart = current - static_cast<double>((timerCount + timerCount2) * 60);
  } else if (isBreastType()) {
    const double span = note_DateStart && note_DateStop ? std::trunc(*note_DateStop - *note_DateStart) : 0;
    note_DateStop = current;
    note_DateStart = current - span;
  } else {
    setDates();
  }
}

}  // namespace note_editor
