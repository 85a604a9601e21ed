#pragma once
// The developer screenshot mode: sample babies copied from a template baby, the root screen walked
// through a fixed list of screens, each captured as a JPEG, and chosen captures uploaded to the
// cloud folder "/ScreenShots".
//
//   startScreenshotMode (the diary's switch) -> scratch check -> attach(root services)
//   root appears -> start: makeLocalizedBabys -> debugScreenShotSetLang
//     -> ticks every 2 s (present, capture "<n>.jpg", dismiss) -> upload tool
//     -> link ("cloudLinkedEvent") -> uploads one by one -> next language | removeBabys -> finished
//
// The promise: the user's babies are never touched. The mode runs only on a scratch store: one
// holding the template baby and nothing but the mode's own sample babies. It is checked before
// anything is deleted, and again before every deletion. Nothing in the application starts the mode
// but the diary's switch. Its state (screenShotState, screenShotLang, screenShotScreenNum) is the
// application delegate's when there is one, so the root screens read it there; the mode keeps its
// own only where no application runs (its tests).
//
// Failure ends the mode with a message (through `finished`), never a stall: a link that does not
// come in time, a failed upload. Captures that do not exist are skipped. Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/note_edit_helper.h"
#include "babies/photo_lib_controller.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
#include "cloud/cloud_rest_client.h"
#include "cloud/cloud_session.h"
#include "notes_list/main_screens.h"
#include "platform/files/app_home.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/store/context.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"

namespace reports {

// The developer's template baby: filled by hand (or by makeTemplateBaby on an empty store), copied
// for every language, never deleted.
inline constexpr std::string_view kScreenshotTemplateName = "Screenshot Template";
inline constexpr std::string_view kScreenshotsFolder = "ScreenShots";
inline constexpr std::string_view kScreenshotDeviceFolder = "iPhone_5.5";
inline constexpr std::string_view kScreenshotCloudRoot = "/ScreenShots";
// How long the upload waits for the account to be linked before it gives up.
inline constexpr double kScreenshotLinkTimeout = 300;

// Storyboard identifiers the walk presents, each a navigation controller holding the screen.
inline constexpr std::string_view kGraphicsNavigationId = charts::kGraphicsNavigationId;
inline constexpr std::string_view kDayTrackNavigationId = charts::kDayTrackNavigationId;
inline constexpr std::string_view kSumChartNavigationId = charts::kSumChartNavigationId;
inline constexpr std::string_view kPhotoAlbumNavId = babies::kPhotoAlbumNavId;

// Registers the photo list under the walk's name above (the charts register their own).
void registerScreenshotScreens(ui::Storyboard& storyboard);

// The languages the mode walks, in order.
const std::vector<std::string>& screenshotLanguages();
// The sample first name of a language; "N" (no sample baby) for a language without one.
std::string babyNameForLocal(std::string_view code);

struct ScreenshotServices {
  files::AppHome home{files::AppHome::fromEnvironment()};
  // The store the mode fills; the root's own context is used for the screens.
  std::shared_ptr<store::Context> context;
  // Where "AppleLanguages" is read and set.
  std::shared_ptr<runtime::UserDefaults> userDefaults;
  const foundation::Clock* clock = nullptr;  // the main run loop's clock when null
  foundation::Calendar calendar = foundation::Calendar::current();
  // The run loop of the timers and the cloud client; the main one when null.
  runtime::RunLoop* loop = nullptr;
  std::function<std::shared_ptr<cloud::CloudSession>()> session;
  // The screen as a person sees it; by default makeMyScreenshot.
  std::function<std::optional<graphics::Image>()> captureScreen;
  // Told once when the mode ends: nothing when it ran through, the reason when it failed.
  std::function<void(const std::optional<std::string>& failure)> finished;
  // The application's (the shared session, the key window, the standard preferences).
  static ScreenshotServices fromApplication();
};

// The sample data: babies per language copied from the template, and their removal.
class screenShotHelper {
 public:
  explicit screenShotHelper(const ScreenshotServices& services);

  const std::shared_ptr<store::Context>& managedObjectContext() const { return services_.context; }
  app::NoteEditHelper& neh() { return neh_; }

  // Fine when the store holds the template and no baby but the mode's samples; an error naming
  // the first other baby otherwise. Nothing is changed either way.
  foundation::Status checkScratchStore();
  // Makes the template when the store holds no baby at all: a few days of notes (the walks with a
  // photo), teeth (one lost again) and an icon, all drawn here.
  foundation::Status makeTemplateBaby();
  // The samples of earlier runs go, the template's birthday and notes move to today, and a sample
  // baby is made for each language. Refused (nothing changed) on a store that is not scratch.
  foundation::Status makeLocalizedBabys();
  // A copy of the template named `name`, with teeth, icon and notes; nothing on failure.
  std::optional<app::Baby> newMakeBabyWithName(const std::string& name,
                                               const std::optional<std::string>& local,
                                               const app::Baby& templateBaby);
  // Deletes the mode's sample babies (never the template, never another baby).
  foundation::Status removeBabys();

 private:
  std::optional<app::Baby> templateBaby();
  std::vector<app::Note> notesOf(const std::string& name, bool ascending);
  // Deletes the sample babies with their photo files and icons; callers check the store first.
  foundation::Status removeSamples();

  ScreenshotServices services_;
  app::NoteEditHelper neh_;
  std::shared_ptr<app::localSaves> locSaves_;
};

class screenShotsToCloud;

// The running mode: its state (0 off, 1 start, 2 running), language index and step counter.
class ScreenshotMode : public std::enable_shared_from_this<ScreenshotMode> {
 public:
  explicit ScreenshotMode(ScreenshotServices services);
  ~ScreenshotMode();

  std::int32_t screenShotState() const;
  void setScreenShotState(std::int32_t state);
  std::int32_t screenShotLang() const;
  void setScreenShotLang(std::int32_t lang);
  std::int32_t screenShotScreenNum() const;
  void setScreenShotScreenNum(std::int32_t step);
  // True from start until the mode ended (finished or failed).
  bool running() const { return screenShotState() == 2 && !ended_; }
  const std::optional<std::string>& failure() const { return failure_; }

  // Hands the mode to the root screens: they read and set its state and start it. Until the mode
  // has started, the state they read is 1.
  void attach(notes_list::MainScreenServices& services);
  // The root appeared with the state at 1 (and set it to 2).
  void start(notes_list::MainScreen& root);
  void debugScreenShotSetLang();
  void debugScreenShotNextScreenTick();
  void changeTheLangAndName(const std::string& language, const std::string& name);
  // Writes the screen as "<name>.jpg" into the capture folder. The walk asks the application
  // delegate, which forwards here once the mode has started.
  void captureViewWithName(const std::string& name);
  // Every window of the application drawn as a person sees it, the size of the main screen at the
  // device scale; nothing without a window.
  std::optional<graphics::Image> makeMyScreenshot() const;
  // The capture folder of the first "AppleLanguages" entry; nothing without one.
  std::optional<std::filesystem::path> captureFolder() const;
  std::optional<std::string> language() const;

  // From the upload tool.
  void uploadFinished();
  void end(const std::optional<std::string>& failure);
  const ScreenshotServices& services() const { return services_; }

 private:
  notes_list::MainScreen* root() const;
  runtime::RunLoop& loop() const;
  void after(double seconds, void (ScreenshotMode::*step)());
  // Presents the storyboard navigation controller `identifier` with its top screen prepared.
  struct Setup;
  void present(const std::string& identifier, const Setup& setup, bool animated);
  // What a person does on the first-run units overlay: the metric units chosen and "Start".
  void settleFirstRunUnits(notes_list::MainScreen& screen);
  void dismiss();
  // Step n of the device's walk.
  void walkStep(int n);
  void presentUploadTool();

  ScreenshotServices services_;
  std::weak_ptr<ui::ViewController> root_;
  std::int32_t screenShotState_ = 1;
  std::int32_t screenShotLang_ = 0;
  std::int32_t screenShotScreenNum_ = 0;
  bool started_ = false;
  bool ended_ = false;
  std::optional<std::string> failure_;
  std::shared_ptr<screenShotsToCloud> uploadTool_;
};

// The upload tool: redraws the phone captures to 750 x 1334 pixels, links the account when it is
// not, and uploads the chosen captures one by one. On the phone `screenW` x `screenH` (375 x 667)
// is a capture's cell in a 2 x 2 grid of `newImageSize` (750 x 1334 points), drawn at half the
// screen's scale; on the tablet all three stay 0.
class screenShotsToCloud : public ui::ViewController, public cloud::CloudRestClientDelegate {
 public:
  screenShotsToCloud(std::weak_ptr<ScreenshotMode> mode, bool iPhone);
  ~screenShotsToCloud() override;

  unsigned state() const { return state_; }
  const std::filesystem::path& dirPath() const { return dirPath_; }
  const std::string& cloudDirPath() const { return cloudDirPath_; }
  unsigned screenW() const { return screenW_; }
  unsigned screenH() const { return screenH_; }
  const graphics::Size& newImageSize() const { return newImageSize_; }

  // Draws the four captures "<name>.jpg" of `names` as a 2 x 2 grid (first top left, second below
  // it, third top right, fourth below that) into "<resultName>.jpg" in dirPath. A capture that
  // cannot be read leaves its cell empty; an error when there are not four names, no cell size
  // (before the phone's appearance, or on the tablet) or the result cannot be written.
  foundation::Status imageByCombiningImagesAndResultName(const std::vector<std::string>& names,
                                                         const std::string& resultName);
  // The image a file holds; nothing when it cannot be read or decoded.
  static std::optional<graphics::Image> getScreenshotImgWithPath(const std::filesystem::path& path);

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  void restClientUploadedFileFromMetadata(Client&, const std::string& destPath, const std::string& srcPath,
                                          const cloud::CloudMetadataPtr& metadata) override;
  void restClientUploadFileFailedWithError(Client&, const Error& error) override;

 private:
  void redrawPhoneCaptures();
  void cloudLinked();
  // Uploads the capture of `state_`, skipping those that do not exist; finishes after the last.
  void uploadCurrent();
  void finish(const std::optional<std::string>& failure);

  // Draws `images` at their rectangles into a newImageSize canvas at half the screen's scale and
  // writes it as JPEG to `path`.
  foundation::Status drawAndWrite(const std::vector<std::pair<const graphics::Image*, graphics::Rect>>& images,
                                  const std::filesystem::path& path) const;

  std::weak_ptr<ScreenshotMode> mode_;
  bool iPhone_;
  unsigned screenW_ = 0;
  unsigned screenH_ = 0;
  graphics::Size newImageSize_{};
  unsigned state_ = 0;
  bool uploading_ = false;
  bool done_ = false;
  std::filesystem::path allScreenShotsDirPath_;
  std::filesystem::path dirPath_;
  std::string cloudDirPath_;
  std::unique_ptr<cloud::CloudRestClient> restClient_;
  runtime::ObserverToken linkedObserver_;
  runtime::Timer linkTimeout_;
};

// The diary's switch: checks that the store is scratch (making the template on an empty one) and
// returns the mode at state 1, to be attached to the root screens' services before they appear.
// An error, and nothing changed, on a store with real babies. Without a store in `services` (the
// switch is read before the launch opens it) the same check runs on the root's store when the root
// starts the mode, and a refusal ends the mode through `finished`.
foundation::Result<std::shared_ptr<ScreenshotMode>> startScreenshotMode(ScreenshotServices services);

}  // namespace reports
