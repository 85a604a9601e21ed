#include "note_editor/photo_view_controller.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/graphics/image_effects.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/alert.h"

namespace note_editor {

namespace fs = std::filesystem;
using graphics::Rect;

namespace {

bool isPictureFile(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".jpg" || extension == ".jpeg" || extension == ".png";
}

}  // namespace

foundation::Result<graphics::Image> pictureFittingSize(const fs::path& file, graphics::Size size) {
  auto image = graphics::Image::fromFile(file);
  if (!image) return image.error();
  const double width = image->pointWidth(), height = image->pointHeight();
  const double factor = std::min({1.0, size.width / width, size.height / height});
  if (factor >= 1.0) return image;
  return graphics::scaledImage(*image, width * factor, height * factor, image->scale());
}

// --- The library

photoLibraryController::photoLibraryController(fs::path folder, graphics::Size requestedSize, Chosen chosen,
                                               Cancelled cancelled)
    : folder_(std::move(folder)),
      requestedSize_(requestedSize),
      chosen_(std::move(chosen)),
      cancelled_(std::move(cancelled)) {}

void photoLibraryController::viewDidLoad() {
  // "Cancel" in place of the back button also leaves the title the bar's room to the right.
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      runtime::localizedString("Cancel"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { cancel(); }));
  setTitle(runtime::localizedString("Choose Photo"));
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && isPictureFile(it->path())) files_.push_back(it->path());
  }
  std::sort(files_.begin(), files_.end());
  tableView().setDataSource(this);
  tableView().setDelegate(this);
  tableView().registerCell(
      "photoFile", [] { return std::make_shared<ui::TableViewCell>(ui::CellStyle::kDefault, "photoFile"); });
  tableView().reloadData();
  if (files_.empty()) {
    const double width = view()->bounds().width();
    emptyLabel_ = std::make_shared<ui::Label>(Rect(20, 20, width - 40, 120));
    emptyLabel_->setNumberOfLines(0);
    // Lines break between words; only a folder too long for a line of its own is broken inside.
    emptyLabel_->setLineBreakMode(graphics::LineBreakMode::kWordWrap);
    emptyLabel_->setTextAlignment(ui::TextAlignment::kCenter);
    emptyLabel_->setTextColor(graphics::Color::rgb255(64, 66, 87));
    emptyLabel_->setText(foundation::text::format(runtime::localizedString("NoPicturesIn"),
                                                  {foundation::Value(folder_.string())}));
    emptyLabel_->setAutoresizingMask(ui::kFlexibleWidth);
    view()->addSubview(emptyLabel_);
  }
}

void photoLibraryController::cancel() {
  if (cancelled_) return cancelled_();
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

int photoLibraryController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(files_.size());
}

std::shared_ptr<ui::TableViewCell> photoLibraryController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                 const ui::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier("photoFile");
  if (cell && path.row < static_cast<int>(files_.size()))
    cell->textLabel().setText(files_[static_cast<size_t>(path.row)].filename().string());
  return cell;
}

void photoLibraryController::didSelectRowAtIndexPath(ui::TableView& /*table*/, const ui::IndexPath& path) {
  if (path.row >= static_cast<int>(files_.size())) return;
  auto picture = pictureFittingSize(files_[static_cast<size_t>(path.row)], requestedSize_);
  if (!picture) {
    foundation::log("Cannot open the picture: " + picture.error().description());
    ui::AlertView::create("", runtime::localizedString("This picture cannot be opened."), nullptr, "OK")
        ->show();
    return;
  }
  if (chosen_) chosen_(std::move(*picture));
}

// --- The photo screen

photoViewController::photoViewController(fs::path libraryFolder) : libraryFolder_(std::move(libraryFolder)) {
  // The library is where a person puts the pictures to choose from; it must be there to be found.
  std::error_code error;
  if (!libraryFolder_.empty() && !fs::is_directory(libraryFolder_, error)) {
    fs::create_directories(libraryFolder_, error);
    if (error) foundation::log("Cannot make the photo library " + libraryFolder_.string() + ": " + error.message());
  }
}

void photoViewController::viewDidLoad() {
  view()->setBackgroundColor(graphics::Color::black());
  const double w = view()->bounds().size.width, h = view()->bounds().size.height;
  photoView_ = std::make_shared<ui::ImageView>(Rect(0, 0, w, h - 60));
  photoView_->setContentMode(ui::ContentMode::kScaleAspectFit);
  // The screen is built on the whole screen and then fitted below the navigation bar: the picture
  // takes what is left and the buttons keep to the bottom edge, inside the screen.
  photoView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  view()->addSubview(photoView_);
  libraryButton_ = std::make_shared<ui::Button>(Rect(10, h - 50, w / 2 - 20, 40));
  libraryButton_->setTitle(runtime::localizedString("Choose Photo"));
  libraryButton_->setTitleColor(graphics::Color::white());
  libraryButton_->addTarget([this](ui::Control&) { openLibrary(); }, ui::kControlEventTouchUpInside);
  libraryButton_->setAutoresizingMask(ui::kFlexibleTopMargin | ui::kFlexibleWidth | ui::kFlexibleRightMargin);
  view()->addSubview(libraryButton_);
  removeButton_ = std::make_shared<ui::Button>(Rect(w / 2 + 10, h - 50, w / 2 - 20, 40));
  removeButton_->setTitle(runtime::localizedString("Delete"));
  removeButton_->setTitleColor(graphics::Color::white());
  removeButton_->addTarget([this](ui::Control&) { removePhoto(); }, ui::kControlEventTouchUpInside);
  removeButton_->setAutoresizingMask(ui::kFlexibleTopMargin | ui::kFlexibleWidth | ui::kFlexibleLeftMargin);
  view()->addSubview(removeButton_);
}

void photoViewController::viewWillAppear(bool /*animated*/) {
  choosing_ = false;
  showImage();
}

void photoViewController::viewDidAppear(bool /*animated*/) {
  const int start = getPhotoOnStart;
  getPhotoOnStart = 0;
  // Without a camera both ways lead to the library.
  if (start == 2 || (start == 1 && !isCameraAvailable())) openLibrary();
}

void photoViewController::viewWillDisappear(bool /*animated*/) {
  if (choosing_) return;
  if (photoView_delegate) photoView_delegate->setPhoto(photoImage);
}

void photoViewController::showImage() {
  if (!photoView_) return;
  photoView_->setImage(photoImage ? std::make_shared<const graphics::Image>(*photoImage) : nullptr);
  // Nothing to delete without a picture.
  removeButton_->setHidden(!photoImage);
}

void photoViewController::libraryCancelled() {
  auto* navigation = navigationController();
  if (!navigation) return;
  if (photoImage) {
    navigation->popToViewController(this, true);
    return;
  }
  // Nothing was chosen and nothing shows: back to the opener, as it was.
  const auto& stack = navigation->viewControllers();
  for (size_t i = 1; i < stack.size(); ++i) {
    if (stack[i].get() == this) {
      navigation->popToViewController(stack[i - 1].get(), true);
      return;
    }
  }
  navigation->popToViewController(this, true);
}

void photoViewController::openLibrary() {
  auto* navigation = navigationController();
  if (!navigation) return;
  std::weak_ptr<ui::ViewController> self = weak_from_this();
  auto library = std::make_shared<photoLibraryController>(
      libraryFolder_, graphics::Size(kRequestedSide, kRequestedSide), [this, self](graphics::Image image) {
        if (self.expired()) return;
        photoImage = std::move(image);
        showImage();
        if (auto* nav = navigationController()) nav->popToViewController(this, true);
      },
      [this, self] {
        if (!self.expired()) libraryCancelled();
      });
  choosing_ = true;
  navigation->pushViewController(library, true);
}

void photoViewController::removePhoto() {
  if (locSaves && managedObjectContext && photoInfo) {
    const auto key = photoInfo.photo_Path();
    managedObjectContext->deleteObject(photoInfo.object());
    if (auto saved = managedObjectContext->save(); !saved) {
      managedObjectContext->rollback();
      foundation::log("Failed to delete the photoInfo. Error = " + saved.error().description());
      return;
    }
    if (key) (void)locSaves->deletePhoto(*key);
    photoInfo = app::PhotoInfo();
  }
  photoImage.reset();
  showImage();
}

}  // namespace note_editor
