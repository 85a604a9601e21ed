#pragma once
// photoLibController: the photo list as the top screen of "photoAlbumNav_id", the navigation
// controller the screenshot mode presents. It is the photo album (the current baby's note photos,
// newest first) taking what that opener hands over: `noteView_delegate` (told NO when it closes)
// and `local_ID`, which, set before the view loads, fixes what the mode shows: the list from its
// top, the newest photos. Main thread only.

#include <optional>
#include <string>

#include "babies/baby_list_controller.h"
#include "platform/ui/storyboard.h"

namespace babies {

inline constexpr const char* kPhotoLibId = "photoLibController";
inline constexpr const char* kPhotoAlbumNavId = "photoAlbumNav_id";

class photoLibController : public photoCollectionController {
 public:
  void setLocal_ID(std::optional<std::string> id) { local_ID_ = std::move(id); }
  const std::optional<std::string>& local_ID() const { return local_ID_; }

  void viewWillAppear(bool animated) override;

 private:
  std::optional<std::string> local_ID_;
};

// Registers "photoLibController" and "photoAlbumNav_id" (a navigation controller holding it).
void registerPhotoLibScreens(ui::Storyboard& storyboard);

}  // namespace babies
