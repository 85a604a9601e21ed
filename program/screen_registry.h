#pragma once
// The registry of the diary's screens: every screen folder's scenes on one storyboard, with the
// services each takes from the running application.

#include <memory>

namespace files {
class AppHome;
}
namespace reports {
class ScreenshotMode;
}
namespace ui {
class Storyboard;
}

namespace program {

// Registers every screen of the diary on `storyboard`. Photos taken by the editor's camera stand-in go
// under the data root's Media/DCIM. With `screenshots`, the main screens hand their services to the
// developer's screenshot mode as they are made. Main thread.
void registerDiaryScreens(ui::Storyboard& storyboard, const files::AppHome& home,
                          std::shared_ptr<reports::ScreenshotMode> screenshots);

}  // namespace program
