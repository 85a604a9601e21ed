#pragma once
// The photo screen the note editor pushes ("notePhotoEdit") and the photo library it opens.
//
// This platform has no camera: isCameraAvailable() answers NO, so the screen only ever opens the
// library. The library is a folder of picture files (photoLibraryController lists its JPEG and
// PNG files by name), made by the photo screen when it does not exist yet; an empty library says
// which folder it reads. The chosen picture comes back no larger than the requested 640 by 640
// points. Trust: the files are the user's own, but any of them may fail to decode; such a file
// brings an alert and changes nothing.
//
// "Cancel" on the library goes back to the photo screen when it shows a picture, and otherwise
// past it to the screen that opened it, which stays as it was. "Delete" shows only with a picture.
// When the screen leaves its navigation stack it hands its delegate the picture it shows then
// (nothing when the user removed it).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"
#include "platform/ui/controls.h"
#include "platform/ui/table_view.h"
#include "platform/ui/table_view_controller.h"
#include "platform/ui/view_controller.h"

namespace note_editor {

class photoViewControllerDelegate {
 public:
  virtual ~photoViewControllerDelegate() = default;
  // The picture shown when the photo screen went; nothing when it was removed.
  virtual void setPhoto(const std::optional<graphics::Image>& image) = 0;
};

// A folder of pictures shown as a list; a tap on a row answers the chosen picture, "Cancel" answers
// none.
class photoLibraryController : public ui::TableViewController,
                               public ui::TableViewDataSource,
                               public ui::TableViewDelegate {
 public:
  using Chosen = std::function<void(graphics::Image image)>;
  using Cancelled = std::function<void()>;

  photoLibraryController(std::filesystem::path folder, graphics::Size requestedSize, Chosen chosen,
                         Cancelled cancelled = {});

  // The picture files of the folder, by name.
  const std::vector<std::filesystem::path>& files() const { return files_; }
  // Shown instead of rows when the folder holds no picture; names the folder.
  ui::Label* emptyLabel() const { return emptyLabel_.get(); }
  void cancel();

  void viewDidLoad() override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

 private:
  std::filesystem::path folder_;
  graphics::Size requestedSize_;
  Chosen chosen_;
  Cancelled cancelled_;
  std::vector<std::filesystem::path> files_;
  std::shared_ptr<ui::Label> emptyLabel_;
};

// The picture decoded from a file, scaled down (never up) to fit the size in points.
foundation::Result<graphics::Image> pictureFittingSize(const std::filesystem::path& file,
                                                       graphics::Size size);

class photoViewController : public ui::ViewController {
 public:
  static constexpr const char* kStoryboardIdentifier = "notePhotoEdit";
  static constexpr double kRequestedSide = 640;

  // Makes the library folder (with its parents) when it is missing.
  explicit photoViewController(std::filesystem::path libraryFolder);

  static bool isCameraAvailable() { return false; }

  // Set by the opener.
  photoViewControllerDelegate* photoView_delegate = nullptr;
  // 1 the camera, 2 the library, 0 neither: acted on once when the screen appears.
  int getPhotoOnStart = 0;
  std::optional<graphics::Image> photoImage;
  app::PhotoInfo photoInfo;
  // Only with both does removing delete the stored photo; the note editor gives neither.
  std::shared_ptr<app::localSaves> locSaves;
  std::shared_ptr<store::Context> managedObjectContext;

  ui::ImageView& photoView() { return *photoView_; }
  ui::Button& libraryButton() { return *libraryButton_; }
  ui::Button& removeButton() { return *removeButton_; }

  // Opens the library over this screen.
  void openLibrary();
  // The remove action.
  void removePhoto();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

 private:
  void showImage();
  void libraryCancelled();

  std::filesystem::path libraryFolder_;
  std::shared_ptr<ui::ImageView> photoView_;
  std::shared_ptr<ui::Button> libraryButton_;
  std::shared_ptr<ui::Button> removeButton_;
  // The library is on top of this screen: this screen is covered, not gone.
  bool choosing_ = false;
};

}  // namespace note_editor
