#pragma once
// The diary as a person runs it: commands typed at the terminal or read from a script drive the
// screens through the UI kit (taps, typing, picks, swipes, drags, the back button), the application's
// clock moves only when told to (in a window it also runs on with real time), and after each step
// the whole screen is rendered to a PNG whose path is printed (in a window only when asked for with
// --screens: the window itself shows each step). A command that names nothing on the
// screen is refused with a message and changes nothing.
//
// Texts are matched as a person types them: a plain space stands for the narrow or no-break space a
// format put into the shown text (times before "AM"/"PM").

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"
#include "platform/ui/touch.h"
#include "platform/ui/view.h"

namespace note_editor {
class noteEditPickerPanelView;
}
namespace ui {
class Storyboard;
class TableView;
class Window;
}  // namespace ui

namespace program {

class DiaryConsole {
 public:
  struct Step {
    bool ok = true;
    // The command ended the session.
    bool quit = false;
    // What to tell the person: the refusal, or what a look found.
    std::string message;
    // Whether the screen may have changed (a new picture is due).
    bool changed = false;
  };

  // Drives the key window of the shared application; `loop` runs on `clock`, both outliving this.
  // Pictures go to `screensDir` at `scale` pixels a point.
  DiaryConsole(foundation::ManualClock& clock, runtime::RunLoop& loop, std::filesystem::path screensDir,
               double scale);
  ~DiaryConsole();
  DiaryConsole(const DiaryConsole&) = delete;
  DiaryConsole& operator=(const DiaryConsole&) = delete;

  // One command line (blank lines and "#" comments do nothing).
  Step execute(std::string_view line);

  // What the window backend hands on, in the window's points.
  Step tapPoint(graphics::Point point);
  Step drag(graphics::Point from, graphics::Point to);
  // Typing goes to the field being edited, else to the drawn keypad on screen (digits, "." and
  // delete), else is refused.
  Step typeText(const std::string& text);
  Step pressKey(std::string_view key);
  // A finger that follows the mouse: down, each move while the button is held, up. A finger that
  // hardly moved taps (as tapPoint does, overlays included); one that travelled has dragged all
  // along. A move or an up without a down does nothing.
  Step touchDown(graphics::Point point);
  Step touchMove(graphics::Point point);
  Step touchUp(graphics::Point point);
  // The mouse wheel over a point: `delta` points of content (positive: further down the list).
  Step wheel(graphics::Point point, graphics::Point delta);
  // Real time passed (the window's clock): the diary's clock moves on by it, due timers and
  // reminders fire. Negative or absurd spans are ignored.
  void passRealTime(double seconds);

  // The screen as it is now, at `scale` pixels a point (a window draws it at the size it shows it).
  foundation::Result<graphics::Image> renderImage(double scale);
  // The screen's size in points; empty when there is no screen.
  graphics::Size screenSize() const;
  // Pixels a point of the step pictures: the device's.
  double scale() const { return scale_; }
  // Renders the next numbered picture ("step-001.png", ...) and returns its path.
  foundation::Result<std::filesystem::path> renderStep();

  // The command list `help` and `diary --help` print.
  static std::string help();

 private:
  struct Command;
  static const std::vector<Command>& commands();
  std::shared_ptr<ui::Window> window() const;
  // The editor's drawn keypad when it is on screen and nothing covers it.
  note_editor::noteEditPickerPanelView* shownKeypad() const;

  Step tap(const std::vector<std::string>& args);
  Step type(const std::vector<std::string>& args);
  Step key(const std::vector<std::string>& args);
  Step pick(const std::vector<std::string>& args);
  Step swipe(const std::vector<std::string>& args);
  Step dragCommand(const std::vector<std::string>& args);
  Step back(const std::vector<std::string>& args);
  Step advance(const std::vector<std::string>& args);
  Step wait(const std::vector<std::string>& args);
  Step look(const std::vector<std::string>& args);
  Step quit(const std::vector<std::string>& args);
  Step helpCommand(const std::vector<std::string>& args);
  // A tap on a list whose row shows its Delete button only closes the button, as on the device.
  Step closeDeleteButton(ui::TableView& table);

  foundation::ManualClock& clock_;
  runtime::RunLoop& loop_;
  std::filesystem::path screensDir_;
  double scale_;
  int stepNumber_ = 0;
  // The mouse's finger while its button is held.
  std::unique_ptr<ui::TouchInjector> finger_;
  graphics::Point fingerDownAt_;
  bool fingerTravelled_ = false;
};

struct DiaryOptions {
  // Commands read first, before the terminal's.
  std::optional<std::filesystem::path> script;
  // Where the step pictures go; the data root's tmp/"screens" when unset. In a window they are
  // written only when this is set.
  std::optional<std::filesystem::path> screens;
  // Show a window when a display can be opened.
  bool window = true;
  bool help = false;
  // The developer screenshot mode (only on a scratch data root).
  bool screenshots = false;
  // The device the diary believes it runs on (diaryDeviceNames), portrait unless its name ends
  // in "-landscape"; the small phone when unset.
  std::optional<std::string> device;
  // The interface language to start in (a language the bundle has), put first in the preferred
  // languages and kept, as the language screen keeps a choice.
  std::optional<std::string> language;
};

// The devices --device takes, each also with "-portrait" or "-landscape".
std::vector<std::string> diaryDeviceNames();
// The profile of a device name; an error naming the choices for an unknown one.
foundation::Result<ui::DeviceProfile> diaryDeviceProfile(std::string_view name);

// Reads the program's arguments (without the program's name); a message on a bad one.
foundation::Result<DiaryOptions> parseDiaryArguments(const std::vector<std::string>& args);

// Launches the diary on `home` as runDiary does, then runs the commands of the script and of `in`
// (the window's clicks and keys too, when there is one) until a quit or the end of the input, and
// ends the application through its terminate path. Returns 0; 1 when a script command was refused or
// the data root cannot be prepared; 2 when the store cannot be opened.
int runDiaryConsole(const files::AppHome& home, const DiaryOptions& options, std::istream& in,
                    std::ostream& out, std::ostream& err,
                    const std::function<void(ui::Storyboard&)>& registerScreens = {});

}  // namespace program
