// The photo list the screenshot walk presents under its own storyboard name, in a navigation
// controller of its own, as the walk expects; the charts register theirs with the other charts.
#include "reports/screenshot_helper.h"

#include "babies/photo_lib_controller.h"

namespace reports {

void registerScreenshotScreens(ui::Storyboard& storyboard) { babies::registerPhotoLibScreens(storyboard); }

}  // namespace reports
