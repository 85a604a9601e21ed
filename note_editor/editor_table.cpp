// The editor's table as the model describes it: rows and their texts, the header over the
// dates, the timer cell's buttons, and what a tap on a row asks for.

#include <algorithm>

#include "app/note_types.h"
#include "note_editor/editor_support.h"
#include "note_editor/note_editor.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/text.h"

namespace note_editor {

namespace nt = app::note_type;
using foundation::Date;
using foundation::Dictionary;
using foundation::Status;
using foundation::Value;
using namespace detail;

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
  auto dateText = [this](std::optional<Date> date) {
    if (!date) return std::string();
    // In the interface language, as the panel's wheels turn.
    using Style = foundation::DateFormatterStyle;
    const auto locale = app::interfaceLocale(language());
    auto day = foundation::DateFormatter::withStyles(Style::Medium, Style::None, locale);
    auto time = foundation::DateFormatter::withStyles(Style::None, Style::Short, locale);
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

}  // namespace note_editor
