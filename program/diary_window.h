#pragma once
// The diary in a window on the desktop: the screen the console renders, drawn at the window's size
// (whole, centred, its proportions kept) and opened at a size that fits the display; the window can
// be resized at will and clicks land where they are seen;
// the mouse is a finger (pressed, moved while pressed, released: a tap or a drag that the screen
// follows as it goes), the wheel scrolls what lies under the pointer, and the keyboard types. The
// window runs on real time: the diary's clock moves on with it every quarter second, so timers tick
// and delays pass without a command (the commands' advance still moves it further), and animations
// play over their durations, drawn at the display's pace (each frame of its frame clock) while they
// last, the first picture already a frame on its way. Otherwise the window is drawn again only
// after a step or when what the screen shows changed (work that ran on the clock, the status bar's
// minute): at rest it draws nothing. Events that come together are drawn
// together (a burst of keys makes one picture), so that a click or a key shows within a frame or
// two; it is told of after (its step's picture written, when pictures were asked for). Commands keep
// coming from the script and the terminal meanwhile.
// Without GTK in the build, or without a display, there is no window and the console runs on
// commands alone, on the clock the commands move.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/graphics/geometry.h"
#include "program/diary_console.h"

namespace program {

// Runs a command line (from the script when `fromScript`); false once the session should end.
using DiaryLineHandler = std::function<bool(const std::string& line, bool fromScript)>;
// Tells the person what came of a click or a key; false once the session should end.
using DiaryStepHandler = std::function<bool(const DiaryConsole::Step& step)>;

// Where the drawn screen lies in a window's area: scaled by `scale` (window pixels per picture
// pixel), its top left at `origin`.
struct ScreenFit {
  double scale = 1;
  graphics::Point origin;
};

// The whole picture in the area, as large as fits, centred. An empty picture or area gives scale 1.
ScreenFit fitScreen(graphics::Size picture, graphics::Size area);
// The window's opening size for a picture on a display whose usable area is `workarea`: the
// picture's own size when it fits with room for a title bar, else scaled down until it does.
graphics::Size openingSize(graphics::Size picture, graphics::Size workarea);
// A window point as a point of the screen drawn at `pixelsPerPoint` (outside the picture too: a
// finger dragged off the edge goes on moving).
graphics::Point screenPoint(const ScreenFit& fit, double pixelsPerPoint, graphics::Point window);

// Whether this build has a window and DISPLAY names a display that opens.
bool diaryWindowAvailable();

// Shows the window and runs until a command ends the session or the window is closed: first the
// script's lines, one each turn of the window's loop, then the terminal's lines as they come.
void runDiaryWindow(DiaryConsole& console, const std::vector<std::string>& scriptLines,
                    const DiaryLineHandler& handleLine, const DiaryStepHandler& handleStep);

}  // namespace program
