// The editor's timers: states, the tick, start, pause, stop, side switches, the 24-hour limit and
// the running-timer record each editor owns in the baby's timer file.
//
// States: 0 idle, 1 stopwatch running, 2 stopwatch halted at the limit, 3 / 5 left / right side
// running, 4 / 6 left / right side paused (or halted at the limit). While a timer is live the
// counters are seconds; a stopped breast-feeding timer keeps minutes per side, as its note does.
//
// The editor only ever reads, rewrites or removes the record it created or was opened on; a new
// editor owns none, so the baby's other running timers and their photos are never touched.

#include <algorithm>
#include <cmath>

#include "app/note_types.h"
#include "note_editor/editor_support.h"
#include "note_editor/note_editor.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"

namespace note_editor {

namespace nt = app::note_type;
using foundation::Date;
using foundation::Status;
using foundation::Value;

using namespace detail;

// ---------------------------------------------------------------------------------------------
// Timer state and texts

bool NoteEditor::isTimeLimitExceeded() const {
  // Both sides together may last a day: seconds while the timer is live, minutes after it stopped.
  if (isBreastType()) {
    const std::int64_t total = (timerCount + timerCount2) * (countsMinutes() ? 60 : 1);
    if (total > kDay) return true;
  }
  if (!note_DateStart || !note_DateStop) return false;
  const double span = *note_DateStop - *note_DateStart;
  const auto seconds = static_cast<std::int32_t>(std::clamp(std::trunc(span), -2147483647.0, 2147483647.0));
  return std::abs(seconds) > static_cast<std::int32_t>(kDay);
}

std::string NoteEditor::timerStrFromSeconds(std::int32_t seconds) const {
  const std::int32_t h = seconds / 3600;
  const std::int32_t m = seconds / 60 - 60 * h;
  const std::int32_t s = seconds - 3600 * h - 60 * m;
  auto two = [](std::int32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  const std::string hours = (seconds < 36000 ? "0" : "") + std::to_string(h);
  if (isBreastType() && h == 0) return two(m) + ":" + two(s);
  return hours + ":" + two(m) + ":" + two(s);
}

void NoteEditor::setRunningState() {
  if (!towTimers) {
    timerType = 1;
  } else if (isType(note_strVal, kLeftBreast)) {
    timerType = 3;
  } else if (isType(note_strVal, kRightBreast)) {
    timerType = 5;
  }
}

void NoteEditor::fakeRunningTimer() {
  const Date stop = Date{std::trunc(now().sinceReference)};
  note_DateStop = stop;
  note_DateStart = stop - 300;
  setRunningState();
  if (dateTimerON && !isBreastType()) timerCount = wholeSeconds(*note_DateStart, now());
  updateTimerTexts();
}

void NoteEditor::resetTimer() {
  timerCount = timerCount2 = timerCountTmp = 0;
  const Date current = now();
  note_DateStop = note_DateStart = current;
  timerType = 0;
  updateTimerTexts();
}

void NoteEditor::updateTimerTexts() {
  auto clamp32 = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  };
  timeStr = timerStrFromSeconds(clamp32(timerCount));
  if (isBreastType()) time2Str = timerStrFromSeconds(clamp32(timerCount2));
}

Status NoteEditor::refrashTimerSave() {
  if (!services_.saves || !currentBabyName || !ownRecord_) return {};
  auto timers = loadTimers();
  if (!timers) return timers.error();
  if (*ownRecord_ >= timers->size() || !(*timers)[*ownRecord_]) return {};
  app::noteTimer& record = *(*timers)[*ownRecord_];
  fillRecord(record);
  if (Status photo = writeRecordPhoto(record, *timers); !photo) return photo;
  return services_.saves->saveTimerArrayById(*timers, *currentBabyName);
}

// ---------------------------------------------------------------------------------------------
// Records

foundation::Result<app::NoteTimerArray> NoteEditor::loadTimers() const {
  return services_.saves->readTimerArray(*currentBabyName);
}

std::int64_t NoteEditor::freePhotoNumber(const app::NoteTimerArray& timers) {
  std::int64_t number = 0;
  while (std::any_of(timers.begin(), timers.end(), [number](const auto& timer) {
    return timer && timer->param_ImgPathNum().value_or(-1) == number;
  }))
    ++number;
  return number;
}

void NoteEditor::fillRecord(app::noteTimer& record) const {
  record.setParam_Type(note_Type);
  record.setParam_DateStart(note_DateStart);
  record.setParam_strValue(note_strVal);
  record.setParam_Notice(note_Notice);
  if (isBreastType()) {
    record.setParam_numValue(Value(timerCount));
    record.setParam_numMeasureCurrent(std::to_string(timerCount2));
    record.setParam_DateLast(now());
    record.setParam_Paused(timerType == 4 || timerType == 6);
  } else {
    record.setParam_numValue(note_numVal ? Value(*note_numVal) : Value());
    record.setParam_numMeasureCurrent(note_numMeasureCurrent);
  }
}

Status NoteEditor::writeRecordPhoto(app::noteTimer& record, const app::NoteTimerArray& timers) {
  const std::int64_t number = record.param_ImgPathNum().value_or(-1);
  if (!note_Photo) {
    if (number >= 0) (void)services_.saves->deleteTempPhotoPhotoNum(*currentBabyName, number);
    record.setParam_ImgPathNum(-1);
    return {};
  }
  const std::int64_t use = number >= 0 ? number : freePhotoNumber(timers);
  if (Status written = services_.saves->saveTempPhotoPhotoPathPhotoNum(*note_Photo, *currentBabyName, use);
      !written)
    return written;
  record.setParam_ImgPathNum(use);
  return {};
}

Status NoteEditor::saveTheTimer() {
  if (!services_.saves || !currentBabyName) return {};
  auto timers = loadTimers();
  if (!timers) {
    foundation::log("The timers of the baby cannot be read; the running timer is not stored: " +
                    timers.error().description());
    return timers.error();
  }
  auto record = std::make_shared<app::noteTimer>();
  fillRecord(*record);
  record->setParam_ImgPathNum(-1);
  if (Status photo = writeRecordPhoto(*record, *timers); !photo) return photo;
  timers->push_back(record);
  if (Status saved = services_.saves->saveTimerArrayById(*timers, *currentBabyName); !saved) {
    if (const auto number = record->param_ImgPathNum(); number && *number >= 0)
      (void)services_.saves->deleteTempPhotoPhotoNum(*currentBabyName, *number);
    return saved;
  }
  ownRecord_ = timers->size() - 1;
  stopWatchNum = static_cast<std::int32_t>(*ownRecord_);
  return {};
}

Status NoteEditor::keepRunningTimer() {
  Status kept = ownRecord_ ? refrashTimerSave() : saveTheTimer();
  if (kept && !ownRecord_)
    kept = foundation::Error::make("NoteEditor", 3, "No file store holds the running timer");
  return kept;
}

Status NoteEditor::deleteTheTimer() {
  if (!services_.saves || !currentBabyName || !ownRecord_) return {};
  auto timers = loadTimers();
  if (!timers) return timers.error();
  const size_t index = *ownRecord_;
  if (index >= timers->size() || !(*timers)[index]) {
    ownRecord_.reset();
    return {};
  }
  const std::int64_t number = (*timers)[index]->param_ImgPathNum().value_or(-1);
  timers->erase(timers->begin() + static_cast<std::ptrdiff_t>(index));
  // The record goes first: a photo left behind is harmless, a record without its photo is not.
  if (Status saved = services_.saves->saveTimerArrayById(*timers, *currentBabyName); !saved) return saved;
  if (number >= 0) (void)services_.saves->deleteTempPhotoPhotoNum(*currentBabyName, number);
  ownRecord_.reset();
  return {};
}

void NoteEditor::countersFromRecord(const app::noteTimer& record) {
  timerCount = std::max<std::int64_t>(0, record.param_numValue().toInteger().value_or(0));
  timerCount2 = std::max<std::int64_t>(0, app::leadingInteger(record.param_numMeasureCurrent().value_or("")));
  const bool left = isType(note_strVal, kLeftBreast);
  if (record.param_Paused().value_or(false)) {
    timerType = left ? 4 : 6;
    note_DatePaused = record.param_DateLast();
  } else {
    timerType = left ? 3 : 5;
    // The running side went on counting since the record was written.
    if (record.param_DateLast())
      (left ? timerCount : timerCount2) +=
          std::max<std::int64_t>(0, wholeSeconds(*record.param_DateLast(), now()));
  }
}

// ---------------------------------------------------------------------------------------------
// Counting

void NoteEditor::tick() {
  if (!timerStarted) return;
  if (isBreastType()) {
    if (timerType == 3) ++timerCount;
    if (timerType == 5) ++timerCount2;
  } else {
    ++timerCount;
  }
  note_DateStop = now();
  updateTimer();
}

void NoteEditor::updateTimer() {
  if (timerStarted) {
    const bool exceeded = isBreastType() ? isTimeLimitExceeded() : timerCount > kDay;
    if (exceeded) {
      timerStarted = false;
      timerLimitExceeded();
      return;
    }
  }
  updateTimerTexts();
}

Status NoteEditor::startAndSaveTimer(bool save) {
  const bool wasStarted = timerStarted;
  ticking = false;
  ++tickStarts;
  timerStarted = timerHasBeenStarted = true;
  const Date current = now();
  note_DateStop = current;
  runningTimerBar = true;
  Status stored;
  if (isBreastType()) {
    // A feeding keeps the beginning the editor gave it (when it opened, or as the user set it):
    // only its end follows the timer, and its sides are counted apart.
    ticking = true;
    stored = wasStarted || !save ? refrashTimerSave() : saveTheTimer();
    updateTimer();
    return stored;
  }
  if (save) {
    if (startTimeHasBeenChanged && note_DateStart) {
      // The chosen minute, with the seconds of now, so that the counter runs on whole seconds.
      const double start = note_DateStart->sinceReference;
      note_DateStart = Date{start - std::fmod(start, 60.0) + std::fmod(current.sinceReference, 60.0)};
    } else {
      note_DateStart = current;
    }
  }
  if (!note_DateStart || *note_DateStart > current) {
    note_DateStart = current;
  } else if (current - *note_DateStart >= static_cast<double>(kDay)) {
    note_DateStart = current - static_cast<double>(kDay);
  }
  timerCount = wholeSeconds(*note_DateStart, current);
  ticking = true;
  if (save) stored = saveTheTimer();
  updateTimer();
  return stored;
}

Status NoteEditor::stopTimerAndClose(bool close) {
  ticking = false;
  timerStarted = false;
  if (close) dateTimerON = false;
  setDatesFromTimerCount();
  runningTimerBar = false;
  Status removed = deleteTheTimer();
  if (!removed)
    foundation::log("The stopped timer's record cannot be removed: " + removed.error().description());
  updateTimer();
  return removed;
}

void NoteEditor::setDatesFromTimerCount() {
  const Date current = now();
  if (isBreastType()) {
    const bool halted = timerType == 2 || timerType == 4 || timerType == 6;
    note_DateStop = halted && note_DatePaused ? *note_DatePaused : current;
    timerCount /= 60;
    timerCount2 /= 60;
    return;
  }
  note_DateStop = current;
  if (timerHasBeenStarted) note_DateStart = current - static_cast<double>(timerCount);
}

void NoteEditor::setTimerCountFromDates(bool fromRecord) {
  if (!dateTimerON) return;
  if (isBreastType()) {
    if (fromRecord && ownRecord_ && timerStarted && services_.saves && currentBabyName) {
      auto timers = loadTimers();
      if (timers && *ownRecord_ < timers->size() && (*timers)[*ownRecord_])
        countersFromRecord(*(*timers)[*ownRecord_]);
    }
    updateTimer();
    return;
  }
  // An idle or halted stopwatch keeps what it shows; only a running one counts from its start.
  if (timerStarted && note_DateStart) timerCount = wholeSeconds(*note_DateStart, now());
  updateTimer();
}

void NoteEditor::timerLimitExceeded() {
  const bool left = isType(note_strVal, kLeftBreast), right = isType(note_strVal, kRightBreast);
  (void)stopTimerAndClose(true);
  const Date current = note_DateStop.value_or(now());
  if (isBreastType()) {
    // The side that ran keeps what it counted, the two together at most a day.
    if (left) timerCount = std::min(timerCount, kDayInMinutes - timerCount2);
    if (right) timerCount2 = std::min(timerCount2, kDayInMinutes - timerCount);
    timerCount = std::max<std::int64_t>(0, timerCount);
    timerCount2 = std::max<std::int64_t>(0, timerCount2);
    note_DateStop = current;
    note_DateStart = current - static_cast<double>((timerCount + timerCount2) * 60);
  } else {
    timerCount = kDay;
    note_DateStop = current;
    note_DateStart = current - static_cast<double>(kDay);
  }
  timerType = left ? 4 : right ? 6 : 2;
  updateTimerTexts();
  dateTimerON = false;
  limitAlertPending = true;
}

// ---------------------------------------------------------------------------------------------
// Buttons and sheets

std::optional<std::string> NoteEditor::startAnotherBreast(std::uint32_t side) {
  if (side != 1 && side != 2) return std::nullopt;
  const SaveOutcome saved = saveThisNote();
  if (!saved.close) return saved.alert.value_or(std::string(localized(text_key::kSaveFailed)));
  if ((side == 1 && timerType == 5) || (side == 2 && timerType == 3)) (void)stopTimerAndClose(false);
  resetTimer();
  note_strVal = std::string(side == 1 ? kLeftBreast : kRightBreast);
  timerType = side == 1 ? 3 : 5;
  if (Status started = startAndSaveTimer(true); !started) {
    foundation::log("The new side's timer is not stored: " + started.error().description());
    pendingAlert = localized(text_key::kTimerNotStored);
  }
  return std::nullopt;
}

int NoteEditor::timerButtonClicked(int button) {
  // A timer that cannot be stored runs on in this editor only, and the user is told.
  auto reportStore = [this](const Status& stored) {
    if (stored) return;
    foundation::log("The running timer is not stored: " + stored.error().description());
    pendingAlert = localized(text_key::kTimerNotStored);
  };
  auto startSide = [this, reportStore](bool left) {
    note_strVal = std::string(left ? kLeftBreast : kRightBreast);
    timerType = left ? 3 : 5;
    reportStore(startAndSaveTimer(true));
  };
  auto pause = [this, reportStore](std::int64_t state) {
    timerType = state;
    note_DatePaused = now();
    reportStore(refrashTimerSave());
  };
  const bool breast = isBreastType();
  if (button == 1) {
    if (!towTimers) {
      if (timerType == 0 || timerType == 2) {
        reportStore(startAndSaveTimer(true));
        timerType = 1;
        return 0;
      }
      return 7;
    }
    return breast ? 7 : 0;
  }
  if (!towTimers || (button != 0 && button != 2)) return 0;
  const bool left = button == 0;
  const std::int64_t running = left ? 3 : 5, paused = left ? 4 : 6;
  const std::int64_t otherRunning = left ? 5 : 3, otherPaused = left ? 6 : 4;
  if (timerType == 0 || timerType == paused) {
    startSide(left);
  } else if (timerType == running) {
    if (!breast) return 7;
    pause(paused);
  } else if (timerType == otherRunning || timerType == otherPaused) {
    if (!breast) return left ? 5 : 6;
    startSide(left);
  }
  return 0;
}

void NoteEditor::closeTimer() {
  dateTimerON = false;
  setDatesFromTimerCount();
  updateTimer();
}

std::optional<std::string> NoteEditor::timerSheetAnswered(int sheet, int buttonIndex) {
  if (buttonIndex != 0) return std::nullopt;
  switch (sheet) {
    case 4:
      resetTimer();
      updateTimer();
      break;
    case 5:
    case 6:
      return startAnotherBreast(sheet == 5 ? 1 : 2);
    case 7:
      if (timerType == 1 || timerType == 3 || timerType == 5) timerType = 0;
      (void)stopTimerAndClose(true);
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace note_editor
