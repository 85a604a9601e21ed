#include "babies/photo_lib_controller.h"

namespace babies {

void photoLibController::viewWillAppear(bool animated) {
  photoCollectionController::viewWillAppear(animated);
  if (local_ID_ && !photoKeys().empty()) photoTable().setContentOffset(graphics::Point(0, 0));
}

void registerPhotoLibScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kPhotoLibId, [] { return std::make_shared<photoLibController>(); });
  storyboard.registerController(kPhotoAlbumNavId, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<photoLibController>());
  });
}

}  // namespace babies
