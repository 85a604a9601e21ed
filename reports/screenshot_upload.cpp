// The screenshot mode's upload tool: the phone captures redrawn to 750 x 1334 pixels, the account
// linked when it is not, and the chosen captures uploaded one by one.
#include "reports/screenshot_helper.h"

#include <array>

#include "app/app_delegate.h"
#include "cloud/cloud_link.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"

namespace reports {

namespace {

// The uploads after the first: remote name and the capture it comes from, per device.
struct UploadStep {
  const char* remote;
  const char* phone;
  const char* pad;  // null: the pad is done before this step
};
constexpr std::array<UploadStep, 7> kUploads{{
    {"1.jpg", "1.jpg", "1.jpg"},
    {"2.jpg", "2.jpg", "2.jpg"},
    {"3.jpg", "4.jpg", "3.jpg"},
    {"4.jpg", "5.jpg", "4.jpg"},
    {"5.jpg", "6.jpg", "5.jpg"},
    {"6.jpg", "7.jpg", nullptr},
    {"7.jpg", "9.jpg", nullptr},
}};

}  // namespace

// ---------------------------------------------------------------------------------------------
// screenShotsToCloud

screenShotsToCloud::screenShotsToCloud(std::weak_ptr<ScreenshotMode> mode, bool iPhone)
    : mode_(std::move(mode)), iPhone_(iPhone) {}

screenShotsToCloud::~screenShotsToCloud() {
  linkTimeout_.invalidate();
  if (restClient_) {
    restClient_->setDelegate(nullptr);
    restClient_->cancelAllRequests();
  }
}

void screenShotsToCloud::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  state_ = 1;
  auto mode = mode_.lock();
  if (!mode) return;
  if (auto language = mode->language()) {
    allScreenShotsDirPath_ = mode->services().home.documents() / kScreenshotsFolder;
    dirPath_ = *mode->captureFolder();
    cloudDirPath_ =
        std::string(kScreenshotCloudRoot) + "/" + *language + "/" + std::string(kScreenshotDeviceFolder);
  }
}

std::optional<graphics::Image> screenShotsToCloud::getScreenshotImgWithPath(const std::filesystem::path& path) {
  auto image = graphics::Image::fromFile(path);
  if (!image) return std::nullopt;
  return std::move(image).value();
}

foundation::Status screenShotsToCloud::drawAndWrite(
    const std::vector<std::pair<const graphics::Image*, graphics::Rect>>& images,
    const std::filesystem::path& path) const {
  if (newImageSize_.width <= 0 || newImageSize_.height <= 0)
    return foundation::Error::make("ScreenshotModeErrorDomain", 10, "Screenshots: no picture size");
  auto canvas = graphics::CairoCanvas::createBitmap(newImageSize_, ui::device().scale / 2);
  if (!canvas) return canvas.error();
  graphics::Canvas& drawing = **canvas;
  for (const auto& [image, rect] : images)
    if (image) drawing.drawImage(*image, rect);
  auto drawn = (*canvas)->image();
  if (!drawn) return drawn.error();
  auto jpeg = drawn->jpegData(1.0);
  if (!jpeg) return jpeg.error();
  return files::writeAtomic(path, *jpeg);
}

void screenShotsToCloud::redrawPhoneCaptures() {
  for (int n = 1; n <= 10; ++n) {
    const auto path = dirPath_ / (std::to_string(n) + ".jpg");
    auto image = getScreenshotImgWithPath(path);
    if (!image) continue;  // a capture that was not made is skipped
    if (auto drawn = drawAndWrite({{&*image, graphics::Rect(0, 0, 750, 1334)}}, path); !drawn)
      foundation::log(drawn.error().localizedDescription());
  }
}

foundation::Status screenShotsToCloud::imageByCombiningImagesAndResultName(const std::vector<std::string>& names,
                                                                           const std::string& resultName) {
  if (names.size() != 4)
    return foundation::Error::make("ScreenshotModeErrorDomain", 12, "Screenshots: a grid takes four captures");
  if (screenW_ == 0 || screenH_ == 0)
    return foundation::Error::make("ScreenshotModeErrorDomain", 10, "Screenshots: no picture size");
  const double w = screenW_, h = screenH_;
  const graphics::Point corners[] = {{0, 0}, {0, h}, {w, 0}, {w, h}};
  std::vector<std::optional<graphics::Image>> images;
  for (const auto& name : names) images.push_back(getScreenshotImgWithPath(dirPath_ / (name + ".jpg")));
  std::vector<std::pair<const graphics::Image*, graphics::Rect>> cells;
  for (std::size_t i = 0; i < 4; ++i)
    cells.emplace_back(images[i] ? &*images[i] : nullptr, graphics::Rect(corners[i].x, corners[i].y, w, h));
  return drawAndWrite(cells, dirPath_ / (resultName + ".jpg"));
}

void screenShotsToCloud::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  auto mode = mode_.lock();
  if (!mode || uploading_ || done_) return;
  if (cloudDirPath_.empty()) {
    finish("Screenshots: no language for the captures");
    return;
  }
  if (iPhone_) {
    screenW_ = 750;
    screenH_ = 1334;
    newImageSize_ = graphics::Size{750, 1334};
    // A capture's cell in the grid: half the picture each way.
    screenW_ /= 2;
    screenH_ /= 2;
    redrawPhoneCaptures();
  }
  auto session = mode->services().session ? mode->services().session() : nullptr;
  if (!session) {
    finish("Screenshots: no cloud session");
    return;
  }
  if (session->isLinked()) {
    cloudLinked();
    return;
  }
  // The uploads wait for the link, but not for ever.
  linkedObserver_ = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(app::kCloudLinkedEventNotification), nullptr,
      [this](const runtime::Notification&) { cloudLinked(); });
  auto& loop = mode->services().loop ? *mode->services().loop : runtime::RunLoop::main();
  linkTimeout_ = loop.scheduleTimer(kScreenshotLinkTimeout, false, [this](runtime::Timer&) {
    finish("Screenshots: the cloud account was not linked; nothing was uploaded");
  });
  cloud::linkFromController(session, *this);
}

void screenShotsToCloud::cloudLinked() {
  auto mode = mode_.lock();
  if (!mode || uploading_ || done_) return;
  auto session = mode->services().session ? mode->services().session() : nullptr;
  if (!session || !session->isLinked()) return;
  linkTimeout_.invalidate();
  linkedObserver_.remove();
  auto& loop = mode->services().loop ? *mode->services().loop : runtime::RunLoop::main();
  restClient_ = cloud::CloudRestClient::make(session, loop);
  if (!restClient_) {
    finish("Screenshots: no cloud client");
    return;
  }
  restClient_->setDelegate(this);
  uploading_ = true;
  uploadCurrent();
}

void screenShotsToCloud::uploadCurrent() {
  while (state_ >= 1 && state_ <= kUploads.size()) {
    const auto& step = kUploads[state_ - 1];
    const char* local = iPhone_ ? step.phone : step.pad;
    if (!local) break;
    const auto path = dirPath_ / local;
    if (files::exists(path)) {
      restClient_->uploadFileToPathWithParentRevFromPath(step.remote, cloudDirPath_, std::nullopt,
                                                         path.string());
      return;
    }
    ++state_;  // a capture that does not exist is skipped
  }
  finish(std::nullopt);
}

void screenShotsToCloud::restClientUploadedFileFromMetadata(Client&, const std::string&, const std::string&,
                                                            const cloud::CloudMetadataPtr&) {
  if (done_) return;
  ++state_;
  uploadCurrent();
}

void screenShotsToCloud::restClientUploadFileFailedWithError(Client&, const Error& error) {
  finish("Screenshots: an upload failed: " + error.localizedDescription());
}

void screenShotsToCloud::finish(const std::optional<std::string>& failure) {
  if (done_) return;
  done_ = true;
  linkTimeout_.invalidate();
  linkedObserver_.remove();
  // The captures go only once they are all sent; after a failure a later run can send them.
  if (!failure && !allScreenShotsDirPath_.empty()) (void)files::remove(allScreenShotsDirPath_);
  auto mode = mode_.lock();
  if (!mode) return;
  if (failure)
    mode->end(failure);
  else
    mode->uploadFinished();
}

}  // namespace reports
