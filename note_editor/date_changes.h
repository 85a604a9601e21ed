#pragma once
// Date changes of the editor, without any view: what the date panel's done button does to the
// note's dates and to a timer or the per-side minutes of a breast feeding.
//
// Breast feedings and shown timers never keep dates they cannot hold: the 24-hour window corrects
// them. Every other note keeps the picked dates as they are (a stop before the start too); saving
// refuses those. Main thread only.

#include "note_editor/note_editor.h"
#include "platform/foundation/date.h"

namespace note_editor {

// The 24-hour window: a start after the stop becomes the stop; a stop 86400 seconds or more after
// the start pulls the start to 86400 seconds before it.
void applyDayWindow(NoteEditor& model);

// A breast feeding's minutes (left + right) shrink to fit its dates: each side loses half the
// excess, a side below zero passes its deficit to the other, and the start moves to match.
void reconcileBreastSides(NoteEditor& model);

// Done on the date panel with the picked date (`pickerViewType` 1 start, 2 stop). Returns true when
// the side sheet (8) must ask where the added duration goes; `timerCountTmp` then holds its
// seconds.
bool pickedDateDone(NoteEditor& model, foundation::Date picked);

// The side sheet's answer: 0 left, 1 right, 2 both halves; -1 (cancel) changes nothing.
void changeBreastFeedStartDate(NoteEditor& model, int side);

// The side sheet's buttons after the cancel button, localised.
std::vector<std::string> addDurationButtons(const NoteEditor& model);

}  // namespace note_editor
