// diary: the baby-care diary on a data root (DIARY_HOME, else ./var/diary), driven by commands from
// the terminal or a script (diary --help), in a window when a display is there.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/runtime/bundle.h"
#include "program/diary_console.h"
#include "program/screen_registry.h"
#include "reports/screenshot_helper.h"

int main(int argc, char** argv) {
  const auto options = program::parseDiaryArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.ok()) {
    std::cerr << "diary: " << options.error().localizedDescription() << "\n";
    return 2;
  }
  if (options->help) {
    std::string devices;
    for (const auto& name : program::diaryDeviceNames()) devices += (devices.empty() ? "" : ", ") + name;
    std::cout << "usage: diary [--script FILE] [--screens DIR] [--no-window] [--device NAME] [--language CODE]\n"
              << "             [--screenshots]\n"
              << "Runs the diary on its data root (DIARY_HOME, else ./var/diary), draws the screen to a PNG\n"
              << "after each step and prints its path (in a window only with --screens DIR). Commands come\n"
              << "from FILE, then from the terminal.\n"
              << "In a window the mouse is a finger (click, drag, wheel), the keyboard types (digits on the\n"
              << "drawn keypad too) and the clock runs on real time, animations playing as they go; the window\n"
              << "opens at a size that fits the display and may be resized, the screen scaled to it.\n"
              << "--device NAME  the device to run as: " << devices << ";\n"
              << "               NAME-landscape turns it (ipad-landscape); the 568-point phone by default\n"
              << "--language CODE  start in that interface language (en, ru, de...), kept as the\n"
              << "               language screen keeps a choice\n"
              << "--screenshots captures every screen for each language and uploads them to the cloud\n"
              << "folder \"/ScreenShots\"; it runs only on a data root that holds no baby of its own.\n"
              << "Photos and baby pictures are chosen from the JPEG and PNG files in Media/DCIM under the data root.\n\n"
              << "The cloud backup (Settings, Cloud, Connect) needs a cloud server, named by two settings:\n"
              << "  DIARY_CLOUD_HOST=HOST:PORT  the server, for its API, files and login page\n"
              << "  DIARY_CLOUD_ROOT=FILE       the root certificate (DER or PEM) trusted for it\n"
              << "The stand-in server prints both: build/release/tests/cloud_server FOLDER (built by\n"
              << "scripts/build release cloud_server). Without them Connect finds no server.\n\n"
              << program::DiaryConsole::help();
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
  // The screenshot mode is the developer's: nothing but this switch starts it, and it refuses a data
  // root with babies of its own before changing anything.
  std::shared_ptr<reports::ScreenshotMode> screenshots;
  if (options->screenshots) {
    auto services = reports::ScreenshotServices::fromApplication();
    services.finished = [](const std::optional<std::string>& failure) {
      if (failure)
        std::cerr << "diary: screenshot mode ended: " << *failure << "\n";
      else
        std::cout << "diary: screenshot mode done\n";
    };
    auto mode = reports::startScreenshotMode(std::move(services));
    if (!mode.ok()) {
      std::cerr << "diary: screenshot mode refused: " << mode.error().localizedDescription() << "\n";
      return 2;
    }
    screenshots = *mode;
  }
  return program::runDiaryConsole(home, *options, std::cin, std::cout, std::cerr,
                                  [&home, screenshots](ui::Storyboard& storyboard) {
                                    program::registerDiaryScreens(storyboard, home, screenshots);
                                  });
}
