// The editor's model: its services, and the set-up that turns how the editor was opened (a type,
// an edited note, a running timer's record) into the editing state with the type's defaults.

#include "note_editor/note_editor.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "analytics/tally.h"
#include "app/app_delegate.h"
#include "app/note_types.h"
#include "app/units.h"
#include "note_editor/editor_support.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"

namespace note_editor {

namespace nt = app::note_type;
using foundation::Date;
using foundation::Dictionary;
using foundation::Status;
using foundation::Value;
using namespace detail;

// ---------------------------------------------------------------------------------------------
// Services

EditorServices EditorServices::fromApplication() {
  EditorServices services;
  files::AppHome home = files::AppHome::fromEnvironment();
  if (auto* delegate = app::AppDelegate::shared()) home = delegate->home();
  services.saves = std::make_shared<app::localSaves>(home);
  services.library = home.library();
  services.clock = &runtime::RunLoop::main().clock();
  services.logEvent = [](std::string event, Dictionary parameters) {
    analytics::Tally::logEventWithParameters(Value(std::move(event)), Value(std::move(parameters)));
  };
  services.preferredLanguage = []() -> std::optional<std::string> {
    auto languages =
        runtime::UserDefaults::standard()->arrayForKey(runtime::UserDefaults::kAppleLanguagesKey);
    if (!languages || languages->empty() || !languages->front().string()) return std::nullopt;
    return *languages->front().string();
  };
  services.countryCode = []() -> std::optional<std::string> {
    std::string code = foundation::Locale::current().countryCode();
    if (code.empty()) return std::nullopt;
    return code;
  };
  services.random = [] {
    static std::mt19937 generator{std::random_device{}()};
    return static_cast<std::uint32_t>(generator());
  };
  return services;
}

// ---------------------------------------------------------------------------------------------
// Set-up

NoteEditor::NoteEditor(EditorServices services)
    : services_(std::move(services)),
      helper_([this] {
        app::NoteEditHelper::Environment environment;
        environment.context = [this] { return managedObjectContext; };
        environment.library = services_.library;
        environment.clock = services_.clock;
        environment.language = [this] { return language(); };
        return app::NoteEditHelper(std::move(environment));
      }()),
      calendar_(foundation::Calendar::current()) {}

app::InterfaceText NoteEditor::language() const {
  return services_.language ? services_.language() : app::InterfaceText::current();
}

std::string NoteEditor::localized(std::string_view key) const { return language().localized(key); }

bool NoteEditor::canUseTimer() const { return !editingNote && !isType(note_Type, nt::kHealth); }

bool NoteEditor::isBreastType() const { return isType(note_Type, nt::kBreastFeeding); }

void NoteEditor::setUp() {
  // An editor opened on a stored timer has no type yet, so it takes no defaults from a row.
  valueType_ = note_Type ? helper_.getValueType(note_Type) : app::ValueType();

  firstValue = 0;
  pickerViewType = actionSheetNum = 0;
  dateTimerON = startTimeHasBeenChanged = timerHasBeenStarted = false;
  timerCount = timerCount2 = timerCountTmp = 0;
  lastBreast = 0;
  photoState = 0;

  if (editingNote) {
    loadEditedNote();
  } else if (stopWatchOn) {
    restoreTimerRecord();
  }
  applyDefaults();

  if (helper_.howManyDates(note_Type) == 2) {
    dateTimerON = canUseTimer();
    towTimers = isType(note_Type, nt::kBreastFeeding) || isType(note_Type, nt::kPumping);
    if (canUseTimer() && towTimers) findLastBreast();
  }
  timerAtLoad();
}

void NoteEditor::loadEditedNote() {
  note_Type = editingNote.note_Type();
  note_DateStart = editingNote.note_DateStart();
  note_DateStop = editingNote.note_DateStop();
  note_strVal = editingNote.note_strValue();
  note_numMeasureCurrent = editingNote.note_numMeasureCurrent();
  if (auto number = editingNote.note_numValue()) note_numVal = number->toDouble();
  note_Notice = editingNote.note_Notice();

  if (isBreastType()) {
    timerCount = atLeastZero(static_cast<std::int64_t>(std::trunc(note_numVal.value_or(0))));
    timerCount2 = atLeastZero(app::leadingInteger(note_numMeasureCurrent.value_or("")));
    if (timerCount == 0 && timerCount2 == 0 && note_DateStart && note_DateStop) {
      const std::int64_t minutes = atLeastZero(wholeSeconds(*note_DateStart, *note_DateStop) / 60);
      (isType(note_strVal, kLeftBreast) ? timerCount : timerCount2) = minutes;
    }
  }

  if (app::PhotoInfo info = editingNote.noteToPhotoInfo()) {
    std::optional<graphics::Image> image;
    if (services_.saves && info.photo_Path()) image = services_.saves->getPhoto(*info.photo_Path());
    if (image) {
      note_Photo = std::move(image);
      photoState = 1;
    } else if (photoFileIsGone(info)) {
      dropPhotoRecord(info);
    } else {
      // A file that is there but cannot be read may be a passing fault (a backup being restored, a
      // full disk): the note shows no photo, and its record stays for a later read.
      photoUnreadable_ = true;
      foundation::log("The photo " + info.photo_Path().value_or("") + " of the note cannot be read");
    }
  }
}

void NoteEditor::restoreTimerRecord() {
  if (!services_.saves || !currentBabyName) return;
  auto timers = loadTimers();
  if (!timers) {
    // Nothing is restored and nothing will be written over the file.
    foundation::log("The running timers of the baby cannot be read: " + timers.error().description());
    pendingAlert = localized(text_key::kTimersUnreadable);
    return;
  }
  if (stopWatchNum < 0 || static_cast<size_t>(stopWatchNum) >= timers->size() ||
      !(*timers)[static_cast<size_t>(stopWatchNum)]) {
    foundation::log("No running timer " + std::to_string(stopWatchNum) +
                    " for the baby; the editor opens empty, with nothing to save");
    return;
  }
  const app::noteTimer& record = *(*timers)[static_cast<size_t>(stopWatchNum)];
  ownRecord_ = static_cast<size_t>(stopWatchNum);
  const Date current = now();

  note_Type = record.param_Type();
  note_DateStart = record.param_DateStart();
  note_DateStop = current;
  note_strVal = record.param_strValue();
  if (!isBreastType()) {
    note_numVal = record.param_numValue().toDouble();
    note_numMeasureCurrent = record.param_numMeasureCurrent();
  } else {
    countersFromRecord(record);
    if (timerType == 4 || timerType == 6) runningTimerBar = true;
  }
  note_Notice = record.param_Notice();
  if (const auto number = record.param_ImgPathNum(); number && *number >= 0) {
    if (auto image = services_.saves->getTempPhotoPhotoNum(*currentBabyName, *number)) setPhoto(image);
  }
}

void NoteEditor::applyDefaults() {
  if (!note_DateStop) setDates();
  if (!valueType_) return;
  if (!note_numVal) {
    if (usesKeypad(note_Type)) {
      note_numVal = 0;
    } else if (auto last = valueType_.vt_NumCurrent()) {
      note_numVal = *last;
    }
    note_numMeasureCurrent = valueType_.vt_NumMeasureCurrent();
    if (note_numVal) {
      const app::IntegerRange range =
          helper_.getTypeIntegerRange(valueType_.vt_Type(), note_numMeasureCurrent);
      // The range's location is the lowest value and its length the highest, as the wheel's rows
      // run; feet and inches keep their inches, which the wheel shows in columns of their own.
      const float lowest = static_cast<float>(range.location);
      const float highest = static_cast<float>(range.length);
      const float value = static_cast<float>(*note_numVal);
      if (value < lowest) {
        note_numVal = lowest;
      } else if (value > highest && !isType(note_numMeasureCurrent, app::unit::kFtInch)) {
        note_numVal = highest;
      }
    }
  }
  if (!note_strVal) note_strVal = valueType_.vt_StrCurrent();
}

void NoteEditor::findLastBreast() {
  if (!managedObjectContext || !currentBabyName || !note_Type) return;
  auto predicate =
      store::Predicate::parse("noteToBaby.baby_Name == %@ AND note_Type == %@ AND note_DateStop < %@",
                              {Value(*currentBabyName), Value(*note_Type), Value(now())});
  if (!predicate) return;
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = *predicate;
  request.sortDescriptors = {{"note_DateStop", false, store::StringComparison::LocalizedCaseInsensitive}};
  request.fetchLimit = 1;
  auto rows = managedObjectContext->fetch(request);
  std::string side;
  if (rows && !rows->empty()) side = app::Note((*rows)[0]).note_strValue().value_or("");
  if (side == kLeftBreast) lastBreast = 1;
  if (side == kRightBreast) lastBreast = 2;
}

void NoteEditor::timerAtLoad() {
  if (!stopWatchOn) {
    if (dateTimerON) resetTimer();
    return;
  }
  // Without a record of its own the editor shows no timer to resume (the opener logged why).
  if (!ownRecord_) return;
  timerStarted = true;
  if (!isBreastType()) {
    setRunningState();
    if (note_DateStart) timerCount = std::max<std::int64_t>(0, wholeSeconds(*note_DateStart, now()));
  }
  // A record past the limit ends here, once: its record goes and the note the limit makes waits
  // for Save. Nothing starts ticking again.
  if (isTimeLimitExceeded() || (!isBreastType() && timerCount > kDay)) {
    timerStarted = false;
    timerLimitExceeded();
    return;
  }
  const bool running = !isBreastType() || timerType == 3 || timerType == 5;
  if (!running) {
    // A paused side shows its counts; nothing ticks until a side is continued.
    updateTimer();
    return;
  }
  if (Status started = startAndSaveTimer(false); !started)
    pendingAlert = localized(text_key::kTimerNotStored);
}

void NoteEditor::setDates() {
  const Date minute = cutToMinute(now());
  note_DateStart = note_DateStop = minute;
}

Date NoteEditor::cutToMinute(Date date) const {
  using foundation::CalendarUnit;
  auto parts = calendar_.components(CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day |
                                        CalendarUnit::Hour | CalendarUnit::Minute,
                                    date);
  if (!parts) return date;
  return calendar_.dateFromComponents(*parts).value_or(date);
}

bool usesKeypad(const std::optional<std::string>& type) {
  return isType(type, nt::kFood) || isType(type, nt::kDrink) || isType(type, nt::kPumping);
}

}  // namespace note_editor
