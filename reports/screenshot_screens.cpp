// The screens the screenshot walk presents under its own storyboard names, each the real screen in
// a navigation controller of its own, as the walk expects.
#include "reports/screenshot_helper.h"

#include "babies/baby_list_controller.h"
#include "charts/chart_screens.h"

namespace reports {

void registerScreenshotScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(std::string(kGraphicsNavigationId), [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<charts::graphicsViewController>());
  });
  storyboard.registerController(std::string(kDayTrackNavigationId), [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<charts::DayTrackController>());
  });
  storyboard.registerController(std::string(kPhotoAlbumNavId), [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<babies::photoCollectionController>());
  });
}

}  // namespace reports
