// The screenshot mode's upload tool: the phone captures redrawn to 750 x 1334 pixels, the account
// linked when it is not, and the chosen captures uploaded one by one.
#include "reports/screenshot_helper.h"

#include <array>

#include "app/app_delegate.h"
#include "cloud/cloud_link.h"
#include "platform/files/file_ops.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"

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

void screenShotsToCloud::redrawPhoneCaptures() {
  constexpr graphics::Size kPixels{750, 1334};
  for (int n = 1; n <= 10; ++n) {
    const auto path = dirPath_ / (std::to_string(n) + ".jpg");
    if (!files::exists(path)) continue;  // a capture that was not made is skipped
    auto image = graphics::Image::fromFile(path);
    if (!image) continue;
    auto canvas = graphics::CairoCanvas::createBitmap(kPixels, 1.0);
    if (!canvas) return;
    graphics::Canvas& drawing = **canvas;
    drawing.drawImage(*image, graphics::Rect{{0, 0}, kPixels});
    auto redrawn = (*canvas)->image();
    if (!redrawn) continue;
    if (auto jpeg = redrawn->jpegData(1.0)) (void)files::writeAtomic(path, *jpeg);
  }
}

void screenShotsToCloud::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  auto mode = mode_.lock();
  if (!mode || uploading_ || done_) return;
  if (cloudDirPath_.empty()) {
    finish("Screenshots: no language for the captures");
    return;
  }
  if (iPhone_) redrawPhoneCaptures();
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
  if (!allScreenShotsDirPath_.empty()) (void)files::remove(allScreenShotsDirPath_);
  auto mode = mode_.lock();
  if (!mode) return;
  if (failure)
    mode->end(failure);
  else
    mode->uploadFinished();
}

}  // namespace reports
