#pragma once
// The application delegate: it starts the diary (navigation-bar look, the shared file store, the
// tutorial step, analytics, the cloud session, the iPad root screen), owns the one data-store
// stack, turns fired reminders into an alert, takes the cloud login hand-back, and saves the store
// when the application resigns or ends.
//
// Screens that were not handed the context, the file store or the current baby find them here,
// through the application's delegate (AppDelegate::shared()).
//
// The stack is built on the first request for the context and lives until preReloadDataBase().
// A store that cannot be opened is logged, kept as storeError(), and leaves the context empty
// (the next request tries again); the file is never removed or replaced. A failed save is logged
// and returned; the context keeps its changes, so a later save can still write them.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/local_saves.h"
#include "app/settings_records.h"
#include "platform/files/app_home.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"
#include "platform/store/model.h"
#include "platform/store/store.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"

namespace runtime {
class Bundle;
class UserDefaults;
}  // namespace runtime

namespace ui {
class Storyboard;
class Window;
}  // namespace ui

namespace app {

// The application's keys for its services.
inline constexpr std::string_view kAnalyticsApiKey = "ZK4PW8RXT2MQ6VNB3LHD";
inline constexpr std::string_view kCloudAppKey = "qwv3rtnpa8sdkmz";
inline constexpr std::string_view kCloudAppSecret = "hxb7ytrefo2lmcu";
// The application-folder root of the cloud storage.
inline constexpr std::string_view kCloudRoot = "sandbox";

// The store file in Documents.
inline constexpr std::string_view kDataBaseFileName = "dataBase.sqlite";

// Notifications the delegate posts.
// A reminder alert was answered (object: the delegate).
inline constexpr std::string_view kReminderDidComeNotification = "ReminderDidCome";
// The notification settings were registered (object: the delegate).
inline constexpr std::string_view kUpdateNotificationsStatusInfoNotification =
    "updateNotificationsStatusInfo";
// A cloud account was linked through the login hand-back (no object).
inline constexpr std::string_view kCloudLinkedEventNotification = "cloudLinkedEvent";
// After a restore, on the phone: the notes list reads the store again (object: the delegate).
inline constexpr std::string_view kUpdateDataBaseNotification = "updateDataBase";

// Keys of a reminder's user info.
inline constexpr std::string_view kReminderTypeKey = "type";
inline constexpr std::string_view kReminderBabyNameKey = "babyName";

// What the tablet's root screen takes from the delegate: at launch whether to open the language
// screen first, the context and the file store; after a restore the order to read the store again.
// A root screen that does not adopt it is left alone.
class RootScreen {
 public:
  virtual ~RootScreen() = default;
  virtual void setShouldChooseTheLanguage(bool shouldChoose) = 0;
  virtual void setManagedObjectContext(std::shared_ptr<store::Context> context) = 0;
  virtual void setLocSaves(std::shared_ptr<localSaves> saves) = 0;
  virtual void updateDataBase() = 0;
};

class AppDelegate : public ui::ApplicationDelegate, public ui::AlertViewDelegate {
 public:
  // Where the application lives and what it reads.
  struct Environment {
    files::AppHome home{files::AppHome::fromEnvironment()};
    // The main bundle (Info.plist, string tables) when null.
    std::shared_ptr<runtime::Bundle> bundle;
    // The standard preferences when null.
    std::shared_ptr<runtime::UserDefaults> userDefaults;
    // The system clock when null; must outlive the delegate.
    foundation::Clock* clock = nullptr;
  };

  explicit AppDelegate(Environment environment);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // The application's delegate when it is an AppDelegate, else null.
  static AppDelegate* shared();

  // --- Properties

  const std::shared_ptr<ui::Window>& window() const { return window_; }
  void setWindow(std::shared_ptr<ui::Window> window) { window_ = std::move(window); }
  // The one shared file store, made at launch.
  const std::shared_ptr<localSaves>& babysLocalSaves() const { return babysLocalSaves_; }
  void setBabysLocalSaves(std::shared_ptr<localSaves> saves) { babysLocalSaves_ = std::move(saves); }
  // The baby whose notes are shown; set and cleared by the root screens.
  const std::optional<std::string>& currentBabyName() const { return currentBabyName_; }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  // The first-use badges' step: 0 to 4, -1 finished.
  std::int32_t tutorialState() const { return tutorialState_; }
  void setTutorialState(std::int32_t state) { tutorialState_ = state; }
  // The developer screenshot mode's state (0 off, 1 start, 2 running), its language index and its
  // step; all 0 after a launch. The mode keeps them here, where the root screens read them.
  std::int32_t screenShotState() const { return screenShotState_; }
  void setScreenShotState(std::int32_t value) { screenShotState_ = value; }
  std::int32_t screenShotLang() const { return screenShotLang_; }
  void setScreenShotLang(std::int32_t value) { screenShotLang_ = value; }
  std::int32_t screenShotScreenNum() const { return screenShotScreenNum_; }
  void setScreenShotScreenNum(std::int32_t value) { screenShotScreenNum_ = value; }
  // The screenshot mode's captures, forwarded to the mode that set them (nothing without one):
  // makeMyScreenshot draws every window of the application; captureViewWithName writes that as
  // "<name>.jpg" into the mode's capture folder.
  struct ScreenshotCapture {
    std::function<void(const std::string& name)> captureViewWithName;
    std::function<std::optional<graphics::Image>()> makeMyScreenshot;
  };
  void setScreenshotCapture(ScreenshotCapture capture) { screenshotCapture_ = std::move(capture); }
  void captureViewWithName(const std::string& name) const {
    if (screenshotCapture_.captureViewWithName) screenshotCapture_.captureViewWithName(name);
  }
  std::optional<graphics::Image> makeMyScreenshot() const {
    return screenshotCapture_.makeMyScreenshot ? screenshotCapture_.makeMyScreenshot() : std::nullopt;
  }

  const files::AppHome& home() const { return home_; }

  // --- The data store

  // The diary's model.
  std::shared_ptr<const store::Model> managedObjectModel();
  // The store at Documents/"dataBase.sqlite", opened (and lightly migrated) on first request;
  // null when it cannot be opened, with the reason in storeError().
  std::shared_ptr<store::Store> persistentStoreCoordinator();
  // The main-thread context over that store, made on first request; null while the store
  // cannot be opened.
  std::shared_ptr<store::Context> managedObjectContext();
  // Why the last attempt to build the stack failed; nothing once it is built.
  const std::optional<foundation::Error>& storeError() const { return storeError_; }
  // The user's Documents folder, where the store lives.
  std::filesystem::path applicationDocumentsDirectory() const { return home_.documents(); }

  // Saves the context when it exists and has changes. A failure is logged ("Unresolved error
  // ...") and returned; the context keeps its changes.
  foundation::Status saveContext();
  // Before a restore: forgets every object of the context, closes the store so that its file
  // stands alone, and drops the stack; the next request for the context opens the file then on
  // disk. The error of closing comes back (the stack is dropped all the same).
  foundation::Status preReloadDataBase();
  // After a restore: the tutorial counts as finished, and the root screen reads the store again
  // (on the phone through the "updateDataBase" notification, on the tablet by its own call).
  void updateDataBase();

  // --- The tutorial step (Library/"Settings"/"tutorialStatus.txt")

  // At launch (NO) or after a restore (YES).
  void initTutorialStatus(bool finished);
  // Writes the current step; logs "tutorial_finished" when it is -1 and the first launch is known.
  foundation::Status saveTutorialState();

  // --- The application's life

  bool didFinishLaunchingWithOptions(ui::Application& app, const foundation::Dictionary& options) override;
  void willResignActive(ui::Application& app) override;
  void didEnterBackground(ui::Application& app) override;
  void willEnterForeground(ui::Application& app) override;
  void didBecomeActive(ui::Application& app) override;
  void willTerminate(ui::Application& app) override;
  void didReceiveLocalNotification(ui::Application& app, const ui::LocalNotification& notification) override;
  void didRegisterUserNotificationSettings(ui::Application& app) override;
  // The cloud login hand-back: false when the shared session does not take the URL; when it
  // does and an account is linked, posts "cloudLinkedEvent".
  bool handleOpenURL(ui::Application& app, const std::string& url) override;

  // Turns a fired reminder into the "Reminder" alert (the badge is cleared in any case).
  void appReminderReceiveLaunchedApp(ui::Application& app, const ui::LocalNotification& notification,
                                     bool launchedApp);
  // The reminder alert's button.
  void alertViewClickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

  // Text for a key in the interface language (the first "AppleLanguages" entry).
  std::string localizedString(std::string_view key) const;

 private:
  TutorialEnvironment tutorialEnvironment() const;
  bool preferredLanguageHasBundle() const;
  // The data root's own vendor identifier, sent as the analytics user.
  std::string vendorIdentifier() const;
  void installHelperEnvironment();

  files::AppHome home_;
  std::shared_ptr<runtime::Bundle> bundle_;
  std::shared_ptr<runtime::UserDefaults> userDefaults_;
  foundation::Clock* clock_;

  std::shared_ptr<ui::Window> window_;
  std::shared_ptr<localSaves> babysLocalSaves_;
  std::optional<std::string> currentBabyName_;
  std::int32_t tutorialState_ = 0;
  std::int32_t screenShotState_ = 0;
  std::int32_t screenShotLang_ = 0;
  std::int32_t screenShotScreenNum_ = 0;
  ScreenshotCapture screenshotCapture_;

  std::shared_ptr<const store::Model> model_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  std::optional<foundation::Error> storeError_;

  // Reminder alerts on screen that still name this delegate.
  std::vector<std::weak_ptr<ui::AlertView>> reminderAlerts_;
  // Lives as long as the delegate; helpers made later reach the context only while it does.
  std::shared_ptr<AppDelegate*> self_;
};

// What the platform does around the delegate's launch: a window the size of the screen whose root
// is the storyboard's initial screen (none without a storyboard, or when it names none), handed to
// the delegate and made the application's key window; the delegate installed on the application;
// the scheduled local notifications kept at the delegate's home taken up; the launch with the
// options; the window shown. Returns what the launch answered.
bool applicationMain(AppDelegate& delegate, ui::Storyboard* storyboard,
                     const foundation::Dictionary& options = {});

// Takes the screens down while the delegate's store is still open: the window, its screens (and the
// store contexts they hold) and any alert on screen go before the delegate, never at process exit
// after the store has gone.
void closeScreens(AppDelegate& delegate);

// The look the launch gives every navigation bar: the violet bar picture, white buttons and title.
void installNavigationBarLook();

// Logs a store failure the way the application logs every one it cannot resolve:
// "Unresolved error <description>, <user info>".
void logUnresolved(const foundation::Error& error);

// The headless diary on a data root: prepares the root, makes its preferences the standard ones
// and its keychain the cloud client's, launches the application as the platform would, and writes
// what the store holds to `out`:
//   diary: data root <path>
//   babies: <N>, notes: <M>
//     <baby name>: <K> notes          (one line per baby, by name)
// then terminates the application. Returns 0; 1 when the data root cannot be prepared; 2 when the
// store cannot be opened or read, which is explained on `err` (the store file is left as it is).
// `registerScreens` adds the screens of the folders built on this one to the main storyboard.
int runDiary(const files::AppHome& home, std::ostream& out, std::ostream& err,
             const std::function<void(ui::Storyboard&)>& registerScreens = {});

}  // namespace app
