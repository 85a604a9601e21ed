#include "note_editor/note_editor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "analytics/tally.h"
#include "app/app_delegate.h"
#include "app/note_types.h"
#include "app/units.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"

namespace note_editor {

namespace nt = app::note_type;
using foundation::Date;
using foundation::Dictionary;
using foundation::Status;
using foundation::Value;

namespace {

constexpr double kDayInSeconds = 86400;

bool isType(const std::optional<std::string>& type, std::string_view key) { return type && *type == key; }

// Whole seconds from one date to the other, cut toward zero.
std::int64_t wholeSeconds(Date from, Date to) { return static_cast<std::int64_t>(std::trunc(to - from)); }

std::int64_t atLeastZero(std::int64_t value) { return value < 0 ? 0 : value; }

bool sameImage(const std::optional<graphics::Image>& a, const std::optional<graphics::Image>& b) {
  if (!a || !b) return !a && !b;
  return a->pixelWidth() == b->pixelWidth() && a->pixelHeight() == b->pixelHeight() &&
         a->pixels() == b->pixels();
}

std::filesystem::path photoFile(app::localSaves& saves, std::string_view key) {
  auto name = app::fileNameForName(key);
  return name ? saves.getPhotosDir() / (*name + ".jpg") : std::filesystem::path();
}

std::string format2(std::string_view pattern, const std::string& a, const std::string& b) {
  std::string out(pattern);
  for (const std::string* part : {&a, &b}) {
    auto at = out.find("%@");
    if (at == std::string::npos) break;
    out.replace(at, 2, *part);
  }
  return out;
}

}  // namespace

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
    } else {
      // An unreadable file may be a passing fault (a backup being restored, a full disk): the
      // note shows no photo, and its record stays for a later read.
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
      // The wheel's rows run from location to location + length - 1: a value whose whole part
      // has no row starts on the last row, so that what opens is what the wheel can show.
      const float lowest = static_cast<float>(range.location);
      const float end = static_cast<float>(range.location + range.length);
      const float value = static_cast<float>(*note_numVal);
      if (value < lowest) {
        note_numVal = lowest;
      } else if (range.length > 0 && value >= end && !isType(note_numMeasureCurrent, app::unit::kFtInch)) {
        note_numVal = end - 1;
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
  if (isTimeLimitExceeded() || (!isBreastType() && timerCount > static_cast<std::int64_t>(kDayInSeconds))) {
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
  if (Status started = startAndSaveTimer(false); !started) pendingAlert = localized(text_key::kTimerNotStored);
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

// ---------------------------------------------------------------------------------------------
// Timer state

bool NoteEditor::isTimeLimitExceeded() const {
  // Both sides together may last a day: seconds while the timer is live, minutes after it stopped.
  if (isBreastType()) {
    const std::int64_t total = (timerCount + timerCount2) * (countsMinutes() ? 60 : 1);
    if (total > static_cast<std::int64_t>(kDayInSeconds)) return true;
  }
  if (!note_DateStart || !note_DateStop) return false;
  const double span = *note_DateStop - *note_DateStart;
  const auto seconds = static_cast<std::int32_t>(std::clamp(std::trunc(span), -2147483647.0, 2147483647.0));
  return std::abs(seconds) > static_cast<std::int32_t>(kDayInSeconds);
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
// The table

int NoteEditor::numberOfRowsInSection(int section) const {
  switch (section) {
    case 0:
      return helper_.howManyDates(note_Type) == 1 ? 1 : 2;
    case 1:
      if (isBreastType()) return dateTimerON ? 0 : 3;
      if (isType(note_Type, nt::kPumping)) return dateTimerON ? 1 : 2;
      return (note_strVal ? 1 : 0) + (note_numVal && note_numMeasureCurrent ? 1 : 0);
    case 2:
      return 1;
    default:
      return 0;
  }
}

double NoteEditor::headerHeight(int section) const {
  if (section != 0 || helper_.howManyDates(note_Type) != 2) return 0;
  return dateTimerON && canUseTimer() ? 0 : 30;
}

double NoteEditor::rowHeight(int section, int row, double viewHeight) const {
  if (section == 0 && row == 1 && dateTimerON) return isBreastType() ? 180 : 193;
  if (section == 2) {
    double used = 63;
    for (int s = 0; s < 2; ++s) {
      used += headerHeight(s);
      for (int r = 0; r < numberOfRowsInSection(s); ++r) used += rowHeight(s, r, viewHeight);
    }
    const float free = static_cast<float>(viewHeight + 20) - static_cast<float>(used);
    return free > 0 ? free : 50;
  }
  return 50;
}

std::string NoteEditor::headerText() const {
  if (note_DateStart && note_DateStop && *note_DateStop < *note_DateStart)
    return format2("%@ > %@", localized("Begin"), localized("End"));
  if (isTimeLimitExceeded()) return "> 24" + localized(app::text_key::kHour);
  if (isBreastType()) return std::to_string(timerCount + timerCount2) + localized(app::text_key::kMinute);
  auto texts = helper_.getDateAndDurationStrings(note_Type, note_DateStart, note_DateStop, note_numVal,
                                                 note_numMeasureCurrent, false);
  return texts.size() > 1 ? texts[1] : std::string();
}

RowContent NoteEditor::rowContent(int section, int row) {
  RowContent content;
  auto dateText = [](std::optional<Date> date) {
    if (!date) return std::string();
    using Style = foundation::DateFormatterStyle;
    auto day = foundation::DateFormatter::withStyles(Style::Medium, Style::None);
    auto time = foundation::DateFormatter::withStyles(Style::None, Style::Short);
    return day.stringFromDate(*date) + "  " + time.stringFromDate(*date);
  };
  auto dateRow = [&](std::string_view caption, std::optional<Date> date, bool top, bool full) {
    content.kind = RowKind::kDate;
    content.identifier = "noteEditDateCell";
    content.leftText = localized(caption);
    content.rightText = dateText(date);
    content.drawTopLine = top;
    content.drawBottomLine = true;
    content.foolLine = full;
  };
  auto valueRow = [&](std::string text) {
    content.kind = RowKind::kValue;
    content.identifier = "noteEditCell";
    content.rightText = std::move(text);
    content.drawBottomLine = true;
  };
  auto segmentRow = [&](std::string_view caption) {
    content.kind = RowKind::kSegment;
    content.identifier = "noteSegmentEditCell";
    content.leftText = localized(caption);
    content.segmentTitles = {localized(kLeftBreast), localized(kRightBreast)};
    if (isType(note_strVal, kLeftBreast)) content.selectedSegment = 0;
    if (isType(note_strVal, kRightBreast)) content.selectedSegment = 1;
  };
  auto numberText = [&] {
    return helper_.getCurrentNumValueStr(note_Type, note_numVal, note_numMeasureCurrent);
  };

  if (section == 0) {
    if (helper_.howManyDates(note_Type) == 1) {
      dateRow(text_key::kDate, note_DateStop, false, false);
    } else if (!dateTimerON) {
      row == 0 ? dateRow("Begin", note_DateStart, true, false) : dateRow("End", note_DateStop, false, false);
    } else if (row == 0) {
      dateRow("Begin", note_DateStart, false, true);
    } else {
      content.kind = isBreastType() ? RowKind::kTimerBreast : RowKind::kTimer;
      content.identifier = isBreastType() ? "noteTimerBreastCell" : "noteTimerCell";
    }
  } else if (section == 1) {
    if (isBreastType()) {
      if (row < 2) {
        dateRow(row == 0 ? kLeftBreast : kRightBreast, std::nullopt, false, false);
        content.rightText =
            std::to_string(row == 0 ? timerCount : timerCount2) + localized(app::text_key::kMinute);
      } else {
        segmentRow(app::text_key::kLastSide);
      }
    } else if (towTimers && row == 0 && !dateTimerON) {
      segmentRow(text_key::kBreast);
    } else if (!towTimers && row == 0) {
      if (note_strVal) {
        firstValue = 1;
        valueRow(*note_strVal);
      } else if (note_numVal && note_numMeasureCurrent) {
        firstValue = 2;
        valueRow(numberText());
      } else {
        valueRow("");
      }
    } else {
      valueRow(numberText());
    }
  } else {
    content.kind = RowKind::kNotice;
    content.identifier = "noteEditNoticeCell";
    content.rightText = note_Notice && !note_Notice->empty() ? *note_Notice : localized("Note");
  }
  return content;
}

TimerCellContent NoteEditor::timerCellContent() const {
  TimerCellContent cell;
  cell.breast = isBreastType();
  cell.closeHidden = timerStarted;
  cell.time = timeStr;
  cell.time2 = time2Str;
  if (!cell.breast) {
    cell.hoursCaption = localized("HOURS");
    cell.minutesCaption = localized("MINUTES");
    cell.secondsCaption = localized("SECONDS");
  }
  auto shown = [this](std::string_view key, bool filled) {
    return TimerButtonLook{false, localized(key), filled, false};
  };
  auto& [left, centre, right] = cell.buttons;
  const std::string_view stop = "Stop";
  // The filled button of a live side: pause (breast feeding) or stop while it runs, continue after.
  const std::string_view sideAction =
      timerType == 3 || timerType == 5 ? (cell.breast ? text_key::kPause : stop) : text_key::kContinue;
  switch (timerType) {
    case 0:
      if (towTimers) {
        left = shown(kLeftBreast, false);
        right = shown(kRightBreast, false);
        if (lastBreast == 1) cell.leftPrevious = localized("previous");
        if (lastBreast == 2) cell.rightPrevious = localized("previous");
      } else {
        centre = shown(text_key::kStart, false);
      }
      break;
    case 1:
    case 2:
      if (!cell.breast) centre = shown(timerType == 1 ? stop : text_key::kContinue, true);
      break;
    case 3:
    case 4:
      left = shown(sideAction, true);
      right = shown(kRightBreast, false);
      break;
    case 5:
    case 6:
      left = shown(kLeftBreast, false);
      right = shown(sideAction, true);
      break;
    default:
      break;
  }
  if (cell.breast && timerType >= 3 && timerType <= 6)
    centre = TimerButtonLook{false, localized(stop), false, true};
  return cell;
}

RowTap NoteEditor::tapOnRow(int section, int row) {
  if (section == 0) {
    if (helper_.howManyDates(note_Type) == 1) return RowTap::kStopDate;
    if (row == 0) return RowTap::kStartDate;
    return dateTimerON ? RowTap::kNone : RowTap::kStopDate;
  }
  if (section != 1) return RowTap::kNone;
  if (isBreastType()) {
    if (row > 1) return RowTap::kNone;
    timerCountTmp = row;
    return RowTap::kNumberEntry;
  }
  if (towTimers) {
    if (row == 0) return dateTimerON ? RowTap::kNumberEntry : RowTap::kNone;
    return RowTap::kNumberEntry;
  }
  if (row == 0) {
    if (firstValue == 1) return RowTap::kSubValues;
    if (firstValue == 2) return RowTap::kNumberEntry;
    return RowTap::kNone;
  }
  return RowTap::kNumberEntry;
}

void NoteEditor::breastSegmentChanged(int segment) {
  if (segment == 0) {
    lastBreast = 1;
    note_strVal = std::string(kLeftBreast);
  } else if (segment == 1) {
    lastBreast = 2;
    note_strVal = std::string(kRightBreast);
  }
}

std::optional<std::vector<std::string>> NoteEditor::subValueTexts() const {
  app::ValueType row = helper_.getValueType(note_Type);
  if (!row) return std::nullopt;
  std::vector<std::string> texts;
  for (const auto& value : row.valueTypeToStrValue())
    if (auto text = value.strValue()) texts.push_back(*text);
  std::stable_sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
    return foundation::text::numericCompare(a, b) == foundation::text::Ordering::Ascending;
  });
  return texts;
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
  if (sameImage(image, note_Photo)) return;
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
  if (!info) return foundation::Error::make("NoteEditor", 2, "Failed to create the new photoInfo.");
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
