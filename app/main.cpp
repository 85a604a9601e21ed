// diary: the baby-care diary on a data root (DIARY_HOME, else ./var/diary), driven by commands from
// the terminal or a script (diary --help), in a window when a display is there.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/diary_console.h"
#include "navigation/note_type_chooser.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/sub_value_list.h"
#include "platform/files/app_home.h"
#include "platform/runtime/bundle.h"

int main(int argc, char** argv) {
  const auto options = app::parseDiaryArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.ok()) {
    std::cerr << "diary: " << options.error().localizedDescription() << "\n";
    return 2;
  }
  if (options->help) {
    std::cout << "usage: diary [--script FILE] [--screens DIR] [--no-window]\n"
              << "Runs the diary on its data root (DIARY_HOME, else ./var/diary), draws the screen to a PNG\n"
              << "after each step and prints its path. Commands come from FILE, then from the terminal.\n\n"
              << app::DiaryConsole::help();
    return 0;
  }
  // Without its bundle the diary would run with every text shown as its key and its files named
  // after an empty identifier: refuse to start instead.
  const auto bundle = runtime::Bundle::main();
  if (bundle->bundleIdentifier().empty()) {
    std::cerr << "diary: no application bundle (Info.plist with CFBundleIdentifier) in "
              << bundle->bundlePath().string() << "; set DIARY_RESOURCES to the resources folder\n";
    return 2;
  }
  const files::AppHome home = files::AppHome::fromEnvironment();
  // The process's temporary files (the database engine's among them) go to the data root's tmp
  // folder, as an application's do on the device, never to the system's.
  if (home.create()) {
    ::setenv("TMPDIR", home.tmp().c_str(), 1);
    ::setenv("SQLITE_TMPDIR", home.tmp().c_str(), 1);
  }
  return app::runDiaryConsole(
      home, *options, std::cin, std::cout, std::cerr, [&home](ui::Storyboard& storyboard) {
        note_editor::registerNoteEditorScreens(
            storyboard, [] { return note_editor::EditorServices::fromApplication(); },
            home.root() / "Media" / "DCIM");
        note_editor::registerSubValueScreens(storyboard,
                                             [] { return note_editor::EditorServices::fromApplication(); });
        navigation::registerChooserScreens(storyboard,
                                           [] { return navigation::ChooserServices::fromApplication(); });
      });
}
