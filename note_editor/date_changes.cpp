#include "note_editor/date_changes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace note_editor {
namespace {

constexpr double kDay = 86400;

std::int64_t wholeSeconds(double seconds) { return static_cast<std::int64_t>(std::trunc(seconds)); }

// Before any start in this editor the start takes the stop's second within the minute, so that a
// timer shows whole minutes from a start picked to the minute.
void secondOfStop(NoteEditor& model) {
  if (model.timerHasBeenStarted || !model.note_DateStart || !model.note_DateStop) return;
  auto secondOf = [](foundation::Date d) {
    return d.sinceReference - std::floor(d.sinceReference / 60) * 60;
  };
  const foundation::Date start = *model.note_DateStart;
  model.note_DateStart = start - secondOf(start) + secondOf(*model.note_DateStop);
}

}  // namespace

void applyDayWindow(NoteEditor& model) {
  if (!model.note_DateStart || !model.note_DateStop) return;
  if (*model.note_DateStart > *model.note_DateStop) {
    model.note_DateStart = model.note_DateStop;
  } else if (*model.note_DateStop - *model.note_DateStart >= kDay) {
    model.note_DateStart = *model.note_DateStop - kDay;
  }
}

void reconcileBreastSides(NoteEditor& model) {
  if (!model.note_DateStart || !model.note_DateStop) return;
  const std::int64_t span =
      std::max<std::int64_t>(0, wholeSeconds(*model.note_DateStop - *model.note_DateStart));
  std::int64_t left = model.timerCount * 60;
  std::int64_t right = model.timerCount2 * 60;
  const std::int64_t excess = left + right - span;
  if (excess <= 0) return;
  left -= excess / 2;
  right -= excess / 2;
  if (left < 0) {
    right += left;
    left = 0;
    right = std::max<std::int64_t>(right, 0);
  } else if (right < 0) {
    left += right;
    right = 0;
    left = std::max<std::int64_t>(left, 0);
  }
  model.note_DateStart = *model.note_DateStop - static_cast<double>(left + right);
  model.timerCount = left / 60;
  model.timerCount2 = right / 60;
}

bool pickedDateDone(NoteEditor& model, foundation::Date picked) {
  const std::int64_t type = model.pickerViewType;
  if (type != 1 && type != 2) return false;
  model.pickerViewType = 0;
  const foundation::Date now = model.now();
  if (type == 2) {
    model.note_DateStop = picked;
    if (model.isBreastType()) {
      applyDayWindow(model);
      reconcileBreastSides(model);
    }
    return false;
  }
  if (model.isBreastType() && model.dateTimerON) {
    // Held in the last 24 hours; a start in the future adds nothing.
    if (picked > now) picked = now;
    if (now - picked >= kDay) picked = now - kDay;
    model.timerCountTmp = wholeSeconds(now - picked);
    return true;
  }
  model.startTimeHasBeenChanged = true;
  model.note_DateStart = picked;
  if (model.dateTimerON) {
    model.note_DateStop = now;
    secondOfStop(model);
    applyDayWindow(model);
    model.timerCount = std::max<std::int64_t>(0, wholeSeconds(*model.note_DateStop - *model.note_DateStart));
    model.updateTimer();
    if (model.timerStarted) (void)model.refrashTimerSave();
  } else if (model.isBreastType()) {
    applyDayWindow(model);
    reconcileBreastSides(model);
  }
  return false;
}

void changeBreastFeedStartDate(NoteEditor& model, int side) {
  if (side < 0) return;
  const std::int64_t add = model.timerCountTmp;
  model.startTimeHasBeenChanged = true;
  model.note_DateStop = model.now();
  model.note_DateStart = model.note_DateStart.value_or(*model.note_DateStop) - static_cast<double>(add);
  secondOfStop(model);
  applyDayWindow(model);
  std::int64_t& left = model.timerCount;
  std::int64_t& right = model.timerCount2;
  if (side == 0) left += add;
  if (side == 1) right += add;
  if (side == 2) {
    left += add / 2;
    right += add / 2;
  }
  if (left < 0) {
    right += left;
    left = 0;
  } else if (right < 0) {
    left += right;
    right = 0;
  }
  model.timerCountTmp = 0;
  left = std::max<std::int64_t>(left, 0);
  right = std::max<std::int64_t>(right, 0);
  model.updateTimer();
  if (model.timerStarted) (void)model.refrashTimerSave();
}

std::vector<std::string> addDurationButtons(const NoteEditor& model) {
  return {model.localized(kLeftBreast), model.localized(kRightBreast),
          model.localized("Both Breast") + "(50/50)"};
}

}  // namespace note_editor
