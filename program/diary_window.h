#pragma once
// The diary in a window on the desktop: the screen the console renders, shown at the device's scale;
// the mouse is a finger (pressed, moved while pressed, released: a tap or a drag that the screen
// follows as it goes), the wheel scrolls what lies under the pointer, and the keyboard types. The
// window runs on real time: the diary's clock moves on with it every quarter second, so timers tick
// and delays pass without a command (the commands' advance still moves it further). The window is
// drawn again after each step. Commands keep coming from the script and the terminal meanwhile.
// Without GTK in the build, or without a display, there is no window and the console runs on
// commands alone, on the clock the commands move.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "program/diary_console.h"

namespace program {

// Runs a command line (from the script when `fromScript`); false once the session should end.
using DiaryLineHandler = std::function<bool(const std::string& line, bool fromScript)>;
// Tells the person what came of a click or a key; false once the session should end.
using DiaryStepHandler = std::function<bool(const DiaryConsole::Step& step)>;

// Whether this build has a window and DISPLAY names a display that opens.
bool diaryWindowAvailable();

// Shows the window and runs until a command ends the session or the window is closed: first the
// script's lines, one each turn of the window's loop, then the terminal's lines as they come.
void runDiaryWindow(DiaryConsole& console, const std::vector<std::string>& scriptLines,
                    const DiaryLineHandler& handleLine, const DiaryStepHandler& handleStep);

}  // namespace program
