#pragma once
// The application object: its delegate and lifecycle, the URLs it opens, local notifications, the
// icon's badge number, background tasks, the status bar and the window.
//
// There is one application per process (Application::shared()). The launcher and the tests drive its
// lifecycle (launch, enterBackground, enterForeground, terminate); each step calls the delegate and
// posts the platform's notification on the default center, on the calling (main) thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/app_home.h"
#include "platform/foundation/value.h"

namespace ui {

class View;
class Window;
class Application;

// Names of the notifications the application posts (object: the application).
inline constexpr std::string_view kApplicationDidFinishLaunchingNotification =
    "UIApplicationDidFinishLaunchingNotification";
inline constexpr std::string_view kApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr std::string_view kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr std::string_view kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr std::string_view kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr std::string_view kApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";

// The launch-options key under which a launch by a local notification finds it.
inline constexpr std::string_view kLaunchOptionsLocalNotificationKey =
    "UIApplicationLaunchOptionsLocalNotificationKey";
inline constexpr std::string_view kLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";

// The file at the data root where the scheduled local notifications are kept between runs (the
// platform's record, like the vendor identifier: no part of the application's own folders).
inline constexpr std::string_view kScheduledNotificationsFileName = "scheduledLocalNotifications.plist";

enum class ApplicationState { kNotRunning, kActive, kInactive, kBackground };
enum class StatusBarStyle { kDefault = 0, kLightContent = 1 };

struct LocalNotification {
  std::optional<foundation::Date> fireDate;
  std::string alertBody;
  std::string alertAction;
  std::string soundName;
  int applicationIconBadgeNumber = 0;
  foundation::Dictionary userInfo;

  // As a Value, for launch options and for keeping scheduled notifications in a file.
  foundation::Value toValue() const;
  static std::optional<LocalNotification> fromValue(const foundation::Value& value);
};

// Non-owning: the application keeps a plain pointer; the delegate lives as long as the process.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual bool didFinishLaunchingWithOptions(Application& /*app*/,
                                             const foundation::Dictionary& /*options*/) {
    return true;
  }
  virtual void willResignActive(Application& /*app*/) {}
  virtual void didEnterBackground(Application& /*app*/) {}
  virtual void willEnterForeground(Application& /*app*/) {}
  virtual void didBecomeActive(Application& /*app*/) {}
  virtual void willTerminate(Application& /*app*/) {}
  virtual void didReceiveLocalNotification(Application& /*app*/, const LocalNotification& /*notification*/) {}
  virtual void didRegisterUserNotificationSettings(Application& /*app*/) {}
  // A URL handed to the application (a login hand-back); false when it is not taken.
  virtual bool handleOpenURL(Application& /*app*/, const std::string& /*url*/) { return false; }
};

class Application {
 public:
  // The process's application.
  static Application& shared();

  // Back to a fresh, not running application with no delegate, window, notifications or records
  // (between tests).
  void reset();

  ApplicationDelegate* delegate() const { return delegate_; }
  void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
  // May be read on any thread (a service's queue asks whether the application is in the background);
  // it changes on the main thread only.
  ApplicationState state() const { return state_.load(); }

  // The lifecycle. launch() calls didFinishLaunchingWithOptions, posts the launch notification (its
  // user info: the options) and becomes active; it returns what the delegate answered.
  bool launch(const foundation::Dictionary& options = {});
  void resignActive();
  void becomeActive();
  // Resigns (when active) and goes to the background.
  void enterBackground();
  // Comes back from the background and becomes active.
  void enterForeground();
  void terminate();

  // A URL handed to the application from outside; passed to the delegate.
  bool handleOpenURL(const std::string& url);

  // Opening URLs elsewhere (the store's review page, a mail link): recorded, in order. A URL is
  // opened when it has a scheme and `canOpenURL` allows it.
  bool openURL(const std::string& url);
  bool canOpenURL(const std::string& url) const;
  const std::vector<std::string>& openedURLs() const { return openedURLs_; }
  // Which schemes a test lets be opened; every scheme when unset.
  void setOpenableSchemes(std::optional<std::vector<std::string>> schemes) {
    openableSchemes_ = std::move(schemes);
  }

  // Local notifications. Scheduled ones wait for their fire date; deliverDueNotifications(now) hands
  // every one that is due to the delegate while the application is active, or keeps it as delivered
  // in the background. A notification without a fire date is due at once.
  //
  // As on a phone, the schedule outlives the process once keepScheduledNotifications(home) has named
  // the installation: it is read from home's root/kScheduledNotificationsFileName there (replacing
  // what is scheduled now) and written back atomically, as a binary property list, after every
  // schedule, cancel and delivery. The next launch() hands the ones whose time passed while the
  // application was not running to the delegate, on the main run loop once the launch is over, at
  // the main loop's clock. A file that cannot be read or holds no schedule is logged and counts as an
  // empty schedule; one that cannot be written is logged and the schedule lives on in memory.
  void keepScheduledNotifications(const files::AppHome& home);
  void scheduleLocalNotification(const LocalNotification& notification);
  void presentLocalNotificationNow(const LocalNotification& notification);
  void cancelLocalNotification(const std::function<bool(const LocalNotification&)>& matches);
  void cancelAllLocalNotifications();
  const std::vector<LocalNotification>& scheduledLocalNotifications() const { return scheduled_; }
  // Notifications that fired while the application was not active.
  const std::vector<LocalNotification>& deliveredInBackground() const { return deliveredInBackground_; }
  void deliverDueNotifications(foundation::Date now);
  // Registration of the notification types; the delegate hears of it on the main run loop.
  void registerUserNotificationSettings();
  bool userNotificationSettingsRegistered() const { return notificationSettingsRegistered_; }

  int applicationIconBadgeNumber() const { return badgeNumber_; }
  void setApplicationIconBadgeNumber(int number) { badgeNumber_ = number; }

  // Background tasks: an identifier for each begun task (0 is never one), ended once. A test ends
  // the background time with expireBackgroundTasks(), which runs the expiration handlers.
  using BackgroundTaskId = std::uint64_t;
  static constexpr BackgroundTaskId kInvalidBackgroundTask = 0;
  BackgroundTaskId beginBackgroundTask(std::function<void()> expirationHandler);
  void endBackgroundTask(BackgroundTaskId id);
  size_t runningBackgroundTasks() const { return backgroundTasks_.size(); }
  void expireBackgroundTasks();

  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle style) { statusBarStyle_ = style; }
  // Hidden state of the status bar; kept in the device profile, which layouts read. A screen hides
  // it (a panel that takes the whole screen) and shows it again; the navigation bars on screen give
  // back or take its 20 points at once (NavigationController::statusBarVisibilityChanged). Animated
  // while animations play, the status bar slides up off the top (or back down) and the bars' drawn
  // frames follow over the same time.
  bool isStatusBarHidden() const;
  void setStatusBarHidden(bool hidden, bool animated = false);
  // The share of the status bar's height drawn below the top of the screen: 1 shown, 0 hidden,
  // between while it slides.
  double statusBarShownShare() const;

  // The window that shows the screens; the application holds it.
  std::shared_ptr<Window> keyWindow() const { return window_; }
  void setKeyWindow(std::shared_ptr<Window> window) { window_ = std::move(window); }

 private:
  Application() = default;
  void post(std::string_view name, foundation::Dictionary userInfo = {});
  // Writes the schedule to its file, when one was named.
  void storeScheduledNotifications() const;
  // The overdue ones of a kept schedule, handed on once the launch is over.
  void deliverOverdueAfterLaunch();

  ApplicationDelegate* delegate_ = nullptr;
  std::atomic<ApplicationState> state_{ApplicationState::kNotRunning};
  std::vector<std::string> openedURLs_;
  std::optional<std::vector<std::string>> openableSchemes_;
  std::vector<LocalNotification> scheduled_;
  // Where the schedule is kept between runs; nothing keeps it when empty.
  std::filesystem::path scheduledFile_;
  std::vector<LocalNotification> deliveredInBackground_;
  bool notificationSettingsRegistered_ = false;
  int badgeNumber_ = 0;
  struct BackgroundTask {
    BackgroundTaskId id;
    std::function<void()> expirationHandler;
  };
  std::vector<BackgroundTask> backgroundTasks_;
  BackgroundTaskId nextTaskId_ = 1;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::kDefault;
  std::shared_ptr<Window> window_;
  // Stands in for the status bar while it slides: its frame's y is minus the share out of view.
  std::shared_ptr<View> statusBarSlide_;
};

}  // namespace ui
