#include "platform/ui/application.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/view_controller.h"

namespace ui {

foundation::Value LocalNotification::toValue() const {
  foundation::Dictionary d;
  if (fireDate) d.set("fireDate", *fireDate);
  d.set("alertBody", alertBody);
  d.set("alertAction", alertAction);
  d.set("soundName", soundName);
  d.set("applicationIconBadgeNumber", applicationIconBadgeNumber);
  d.set("userInfo", userInfo);
  return d;
}

std::optional<LocalNotification> LocalNotification::fromValue(const foundation::Value& value) {
  const foundation::Dictionary* d = value.dictionary();
  if (!d) return std::nullopt;
  LocalNotification n;
  if (const foundation::Date* date = (*d)["fireDate"].date()) n.fireDate = *date;
  n.alertBody = (*d)["alertBody"].stringOr("");
  n.alertAction = (*d)["alertAction"].stringOr("");
  n.soundName = (*d)["soundName"].stringOr("");
  n.applicationIconBadgeNumber = static_cast<int>((*d)["applicationIconBadgeNumber"].toInteger().value_or(0));
  if (const foundation::Dictionary* info = (*d)["userInfo"].dictionary()) n.userInfo = *info;
  return n;
}

Application& Application::shared() {
  static Application app;
  return app;
}

void Application::reset() {
  delegate_ = nullptr;
  state_ = ApplicationState::kNotRunning;
  openedURLs_.clear();
  openableSchemes_.reset();
  scheduled_.clear();
  scheduledFile_.clear();
  deliveredInBackground_.clear();
  notificationSettingsRegistered_ = false;
  badgeNumber_ = 0;
  backgroundTasks_.clear();
  statusBarStyle_ = StatusBarStyle::kDefault;
  window_.reset();
  statusBarSlide_.reset();
}

void Application::post(std::string_view name, foundation::Dictionary userInfo) {
  runtime::NotificationCenter::defaultCenter().post(std::string(name), this, std::move(userInfo));
}

bool Application::launch(const foundation::Dictionary& options) {
  state_ = ApplicationState::kInactive;
  bool answer = delegate_ ? delegate_->didFinishLaunchingWithOptions(*this, options) : true;
  post(kApplicationDidFinishLaunchingNotification, options);
  becomeActive();
  if (!scheduledFile_.empty()) deliverOverdueAfterLaunch();
  return answer;
}

void Application::resignActive() {
  if (state_ != ApplicationState::kActive) return;
  if (delegate_) delegate_->willResignActive(*this);
  post(kApplicationWillResignActiveNotification);
  state_ = ApplicationState::kInactive;
}

void Application::becomeActive() {
  if (state_ == ApplicationState::kActive) return;
  state_ = ApplicationState::kActive;
  if (delegate_) delegate_->didBecomeActive(*this);
  post(kApplicationDidBecomeActiveNotification);
}

void Application::enterBackground() {
  if (state_ == ApplicationState::kBackground || state_ == ApplicationState::kNotRunning) return;
  resignActive();
  state_ = ApplicationState::kBackground;
  if (delegate_) delegate_->didEnterBackground(*this);
  post(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
  if (state_ != ApplicationState::kBackground) return;
  state_ = ApplicationState::kInactive;
  if (delegate_) delegate_->willEnterForeground(*this);
  post(kApplicationWillEnterForegroundNotification);
  becomeActive();
}

void Application::terminate() {
  if (state_ == ApplicationState::kNotRunning) return;
  if (delegate_) delegate_->willTerminate(*this);
  post(kApplicationWillTerminateNotification);
  state_ = ApplicationState::kNotRunning;
}

bool Application::handleOpenURL(const std::string& url) {
  return delegate_ ? delegate_->handleOpenURL(*this, url) : false;
}

namespace {
std::string schemeOf(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  for (size_t i = 0; i < colon; ++i) {
    char c = url[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return {};
  }
  std::string scheme = url.substr(0, colon);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return scheme;
}
}  // namespace

bool Application::canOpenURL(const std::string& url) const {
  std::string scheme = schemeOf(url);
  if (scheme.empty()) return false;
  if (!openableSchemes_) return true;
  return std::find(openableSchemes_->begin(), openableSchemes_->end(), scheme) != openableSchemes_->end();
}

bool Application::openURL(const std::string& url) {
  if (!canOpenURL(url)) return false;
  openedURLs_.push_back(url);
  return true;
}

namespace {

// The schedule a kept file holds; an explanation of why it holds none when it cannot be read.
foundation::Result<std::vector<LocalNotification>> readSchedule(const std::filesystem::path& file) {
  auto bytes = files::readFile(file);
  if (!bytes) return bytes.error();
  auto list = plist::readPropertyList(*bytes);
  if (!list) return list.error();
  const auto corrupt = [](std::string why) {
    return foundation::Error::make(std::string(plist::kErrorDomain), plist::kReadCorruptError,
                                   std::move(why));
  };
  const foundation::Array* entries = list->array();
  if (!entries) return corrupt("it holds no list of notifications");
  std::vector<LocalNotification> schedule;
  for (const auto& entry : *entries) {
    auto notification = LocalNotification::fromValue(entry);
    if (!notification) return corrupt("an entry is no notification");
    schedule.push_back(std::move(*notification));
  }
  return schedule;
}

}  // namespace

void Application::keepScheduledNotifications(const files::AppHome& home) {
  scheduledFile_ = home.root() / std::string(kScheduledNotificationsFileName);
  scheduled_.clear();
  if (!files::exists(scheduledFile_)) return;
  auto kept = readSchedule(scheduledFile_);
  if (!kept) {
    // The file is left as it is until the next change of the schedule replaces it.
    foundation::log("The scheduled local notifications in " + scheduledFile_.string() + " cannot be read (" +
                    kept.error().description() + "); none are scheduled");
    return;
  }
  scheduled_ = std::move(*kept);
}

void Application::storeScheduledNotifications() const {
  if (scheduledFile_.empty()) return;
  foundation::Array entries;
  for (const auto& notification : scheduled_) entries.push_back(notification.toValue());
  auto bytes = plist::writePropertyList(foundation::Value(std::move(entries)), plist::Format::Binary);
  const foundation::Status written =
      bytes ? files::writeAtomic(scheduledFile_, *bytes) : foundation::Status(bytes.error());
  if (!written)
    foundation::log("The scheduled local notifications cannot be kept in " + scheduledFile_.string() + ": " +
                    written.error().description());
}

void Application::deliverOverdueAfterLaunch() {
  runtime::RunLoop::main().performSoon([this] {
    if (state_ == ApplicationState::kNotRunning) return;
    deliverDueNotifications(runtime::RunLoop::main().clock().now());
  });
}

void Application::scheduleLocalNotification(const LocalNotification& notification) {
  scheduled_.push_back(notification);
  storeScheduledNotifications();
}

void Application::presentLocalNotificationNow(const LocalNotification& notification) {
  if (state_ == ApplicationState::kActive) {
    if (delegate_) delegate_->didReceiveLocalNotification(*this, notification);
  } else {
    deliveredInBackground_.push_back(notification);
  }
}

void Application::cancelLocalNotification(const std::function<bool(const LocalNotification&)>& matches) {
  if (std::erase_if(scheduled_, matches) > 0) storeScheduledNotifications();
}

void Application::cancelAllLocalNotifications() {
  scheduled_.clear();
  storeScheduledNotifications();
}

void Application::deliverDueNotifications(foundation::Date now) {
  std::vector<LocalNotification> due;
  std::vector<LocalNotification> waiting;
  for (auto& n : scheduled_) {
    if (!n.fireDate || *n.fireDate <= now) {
      due.push_back(std::move(n));
    } else {
      waiting.push_back(std::move(n));
    }
  }
  scheduled_ = std::move(waiting);
  // Kept before the delegate hears of them: a delegate that schedules anew writes on top of this.
  if (!due.empty()) storeScheduledNotifications();
  std::stable_sort(due.begin(), due.end(), [](const LocalNotification& a, const LocalNotification& b) {
    return a.fireDate.value_or(foundation::Date{}) < b.fireDate.value_or(foundation::Date{});
  });
  for (const auto& n : due) presentLocalNotificationNow(n);
}

void Application::registerUserNotificationSettings() {
  notificationSettingsRegistered_ = true;
  runtime::RunLoop::main().performSoon([this] {
    if (delegate_) delegate_->didRegisterUserNotificationSettings(*this);
  });
}

Application::BackgroundTaskId Application::beginBackgroundTask(std::function<void()> expirationHandler) {
  BackgroundTaskId id = nextTaskId_++;
  backgroundTasks_.push_back({id, std::move(expirationHandler)});
  return id;
}

void Application::endBackgroundTask(BackgroundTaskId id) {
  backgroundTasks_.erase(std::remove_if(backgroundTasks_.begin(), backgroundTasks_.end(),
                                        [id](const BackgroundTask& t) { return t.id == id; }),
                         backgroundTasks_.end());
}

void Application::expireBackgroundTasks() {
  // A handler normally ends its own task; whatever is left afterwards ends here.
  auto tasks = backgroundTasks_;
  for (auto& task : tasks) {
    if (task.expirationHandler) task.expirationHandler();
  }
  backgroundTasks_.clear();
}

bool Application::isStatusBarHidden() const { return device().statusBarHidden; }

namespace {

// Every navigation controller on screen: the window's root, its children and what they present.
void tellNavigationControllers(ViewController* controller) {
  if (!controller) return;
  if (auto* navigation = dynamic_cast<NavigationController*>(controller)) navigation->statusBarVisibilityChanged();
  for (const auto& child : controller->childViewControllers()) tellNavigationControllers(child.get());
  tellNavigationControllers(controller->presentedViewController());
}

}  // namespace

namespace {
Rect statusBarPlace(bool hidden) { return Rect(0, hidden ? -1 : 0, 1, 1); }
}  // namespace

void Application::setStatusBarHidden(bool hidden, bool animated) {
  if (device().statusBarHidden == hidden) return;
  device().statusBarHidden = hidden;
  // The bars lay themselves out again at once, so that a screen that hides the status bar and then
  // works out where a panel goes finds the room it gave back.
  const auto relayout = [this] {
    if (window_) tellNavigationControllers(window_->rootViewController());
  };
  if (!animated || animationMode() != AnimationMode::kPlayed) {
    if (statusBarSlide_) statusBarSlide_->setFrame(statusBarPlace(hidden));
    relayout();
    return;
  }
  if (!statusBarSlide_) statusBarSlide_ = std::make_shared<View>(statusBarPlace(!hidden));
  // Out of step with the device profile (put back without the application hearing of it): it
  // starts from where the profile had it.
  statusBarSlide_->setFrame(statusBarPlace(!hidden));
  animate(kBarSlideDuration, [&] {
    statusBarSlide_->setFrame(statusBarPlace(hidden));
    relayout();
  });
}

double Application::statusBarShownShare() const {
  const bool hidden = isStatusBarHidden();
  // The device profile may have been put back without the application hearing of it.
  if (!statusBarSlide_ || statusBarSlide_->frame() != statusBarPlace(hidden)) return hidden ? 0 : 1;
  return 1 + presentedFrame(*statusBarSlide_).y();
}

}  // namespace ui
