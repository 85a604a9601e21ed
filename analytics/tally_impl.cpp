// The session facade: the current session and the session queue every session operation runs on.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "analytics/auto_increment.h"
#include "analytics/session_detail.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;
using namespace session_detail;

}  // namespace

// The platform's application always offers background tasks.
TallyImpl::TallyImpl()
    : queue_(std::string(kTallySessionQueueLabel), TallyUtil::clock()),
      isBackgroundSupported_(TallyUtil::getSystemVersionAsAnInteger() >= 40000) {}

std::shared_ptr<TallyImpl> TallyImpl::instance() {
  static std::shared_ptr<TallyImpl> impl = [] {
    registerArchivedClasses();
    return std::make_shared<TallyImpl>();
  }();
  return impl;
}

namespace {
std::atomic<bool> gInstalled{false};
}  // namespace

bool TallyImpl::isInstalled() { return gInstalled.load(); }

CurrentSession::Factory TallyImpl::sessionFactory() {
  return [](SessionStart start) -> std::shared_ptr<SessionSink> {
    gInstalled.store(true);
    auto impl = instance();
    impl->setupForApiKey(start.apiKey, start.startTime, std::move(start.cachedEvents));
    return impl;
  };
}

void TallyImpl::install() {
  gInstalled.store(true);
  CurrentSession::setFactory(sessionFactory());
  // The watch interface reaches the watch session the same way the application reaches this one.
  TallySession::installWatchSessionProvider();
}

void TallyImpl::cleanup() {
  auto impl = instance();
  impl->flush();
  {
    std::lock_guard lock(impl->mutex_);
    impl->session_.reset();
  }
  TallyDataSender::cleanup();
}

namespace {
int gSignalPipe[2] = {-1, -1};

// Signal handler: only write(2), which is safe here; the work happens on the watcher thread.
void onTerminationSignal(int signo) {
  unsigned char byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] auto written = ::write(gSignalPipe[1], &byte, 1);
}
}  // namespace

foundation::Status TallyImpl::endSessionOnTerminationSignals() {
  static std::once_flag once;
  static foundation::Status result;
  std::call_once(once, [] {
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) {
      result = foundation::Error("NSPOSIXErrorDomain", errno);
      return;
    }
    std::thread([] {
      unsigned char signo = 0;
      while (::read(gSignalPipe[0], &signo, 1) != 1) {
      }
      try {
        instance()->endSession();
      } catch (...) {
        TallyUtil::handleException(std::current_exception());
      }
      std::signal(signo, SIG_DFL);
      std::raise(signo);
    }).detach();
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
  });
  return result;
}

void TallyImpl::setupForApiKey(const std::string& apiKey, Date startTime,
                               std::vector<TallyPreCacheEvent> cached) {
  TallyDataSender::setupInstanceWithQueue(
      [this](std::function<void()> work) { queue_.async(std::move(work)); });
  {
    std::lock_guard lock(mutex_);
    apiKey_ = apiKey;
    startTime_ = startTime;
  }
  queue_.async([this, apiKey, startTime, cached = std::move(cached)] {
    // Event and error ids count from 1 in every session (they travel as 16 bits).
    TallyAutoIncrement::instance()->resetAll();
    auto old = session();
    std::shared_ptr<TallySession> made;
    if (old) {
      old->archiveSession();
      made = old->sessionWithNewEventsWithApiKey(apiKey, startTime, cached);
    } else {
      made = TallySession::sessionWithApiKey(apiKey, startTime, cached);
    }
    std::lock_guard lock(mutex_);
    session_ = std::move(made);
  });
}

std::shared_ptr<TallySession> TallyImpl::session() const {
  std::lock_guard lock(mutex_);
  return session_;
}

std::string TallyImpl::apiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}

std::optional<Date> TallyImpl::startTime() const {
  std::lock_guard lock(mutex_);
  return startTime_;
}

void TallyImpl::resetStartDate() {
  std::lock_guard lock(mutex_);
  startTime_ = now();
}

TallyImpl::BackgroundTaskId TallyImpl::registerBackgoundTask() {
  if (!instance()->isBackgroundSupported()) return ui::Application::kInvalidBackgroundTask;
  return ui::Application::shared().beginBackgroundTask([] {});
}

void TallyImpl::unregisterBackgoundTask(BackgroundTaskId task) {
  if (task != ui::Application::kInvalidBackgroundTask) ui::Application::shared().endBackgroundTask(task);
}

void TallyImpl::flush() {
  queue_.sync([] {});
}

void TallyImpl::onSession(std::function<void(TallySession&)> work) {
  queue_.async([this, work = std::move(work)] {
    if (auto s = session()) work(*s);
  });
}

void TallyImpl::setUserID(const std::string& userId) {
  onSession([userId](TallySession& s) { s.setUserID(userId); });
}
void TallyImpl::setCrashReportingEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setCrashReportingEnabled(enabled); });
}
TallyEventRecordStatus TallyImpl::recordEvent(const std::string& name,
                                              const std::optional<foundation::Dictionary>& params,
                                              bool timed) {
  // Decided now, from the counts the session has published; the session applies its own rules when
  // the event reaches it (an event of a name already counted is still counted and logged there).
  TallyEventRecordStatus status = kTallyEventRecorded;
  auto current = session();
  if (name.empty()) {
    status = kTallyEventFailed;
  } else if (params && params->size() > kTallyMaxEventParameters) {
    status = kTallyEventParamsCountExceeded;
  } else if (current && current->distinctEventNameCount() >= kTallyMaxDistinctEventNames) {
    status = kTallyEventUniqueCountExceeded;
  } else if (current && current->loggedEventCount() >= kTallyMaxLoggedEvents) {
    status = kTallyEventLogCountExceeded;
  }
  // Stamped now: the queue may reach it after the clock has moved on.
  onSession(
      [name, params, timed, at = now()](TallySession& s) { (void)s.recordEvent(name, params, timed, at); });
  return status;
}
void TallyImpl::setEventLoggingEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setEventLoggingEnabled(enabled); });
}
void TallyImpl::setSessionReportsOnCloseEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setSessionReportsOnCloseEnabled(enabled); });
}
void TallyImpl::setSessionReportsOnPauseEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setSessionReportsOnPauseEnabled(enabled); });
}
void TallyImpl::setLocation(double latitude, double longitude, float horizontalAccuracy,
                            float verticalAccuracy) {
  onSession(
      [=](TallySession& s) { s.setLocation(latitude, longitude, horizontalAccuracy, verticalAccuracy); });
}
void TallyImpl::setGenderAsString(const std::string& gender) {
  onSession([gender](TallySession& s) { s.setGenderAsString(gender); });
}
void TallyImpl::setAgeInYears(std::int32_t age) {
  onSession([age, at = now()](TallySession& s) { s.setAgeInYears(age, at); });
}
void TallyImpl::endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params) {
  onSession([name, params, at = now()](TallySession& s) { s.endTimedEvent(name, params, at); });
}
void TallyImpl::recordError(const std::string& errorId, const std::string& message,
                            const std::string& exceptionString, std::int32_t type,
                            const std::optional<Bytes>& liveReport) {
  onSession([=](TallySession& s) { s.recordError(errorId, message, exceptionString, type, liveReport); });
}
void TallyImpl::endSessionAsync() {
  onSession([at = now()](TallySession& s) { s.endSession(at); });
}
// The times are taken on the caller's thread: the queue may run the work later than the event.
// The pause runs inside a background task, so that it finishes (the session saved or sent) even when
// the application is suspended right after resigning. The application's tasks belong to the main
// thread: the task is ended there once the queue has paused the session.
void TallyImpl::pauseSession() {
  BackgroundTaskId task = ui::Application::kInvalidBackgroundTask;
  if (isBackgroundSupported())
    task = ui::Application::shared().beginBackgroundTask(
        [] { TallyUtil::log(2, "Tally: Session suspend expiration handler reached"); });
  queue_.async([this, at = now(), task] {
    if (auto s = session()) s->pauseSession(at);
    if (task != ui::Application::kInvalidBackgroundTask)
      runtime::RunLoop::mainHandle().performSoon([task] { unregisterBackgoundTask(task); });
  });
}
void TallyImpl::recordPurchaseItem(const foundation::Value& item) {
  onSession([item](TallySession& s) { s.recordPurchaseItem(item); });
}

// The getters wait for the queue: what they answer includes every operation sent before.
template <class T, class Read>
T TallyImpl::readSession(T none, Read read) {
  T answer = none;
  queue_.sync([&] {
    if (auto s = session()) answer = read(*s);
  });
  return answer;
}
double TallyImpl::latitude() {
  return readSession(0.0, [](TallySession& s) { return s.report().latitude; });
}
double TallyImpl::longitude() {
  return readSession(0.0, [](TallySession& s) { return s.report().longitude; });
}
float TallyImpl::accuracy() {
  return readSession(0.0f, [](TallySession& s) { return s.report().accuracy; });
}
std::int32_t TallyImpl::gender() {
  return readSession(std::int32_t{-1}, [](TallySession& s) {
    return s.report().gender == 0xFF ? -1 : static_cast<std::int32_t>(s.report().gender);
  });
}
std::optional<Date> TallyImpl::age() {
  return readSession(std::optional<Date>(), [](TallySession& s) { return s.report().birthDate; });
}
std::int32_t TallyImpl::pageViewCount() {
  return readSession(std::int32_t{0}, [](TallySession& s) { return s.report().pageViewCount; });
}
std::optional<Date> TallyImpl::pauseTime() {
  return readSession(std::optional<Date>(), [](TallySession& s) { return s.pauseTime(); });
}
std::optional<Date> TallyImpl::endTime() {
  return readSession(std::optional<Date>(), [](TallySession& s) { return s.report().endTime; });
}
std::int64_t TallyImpl::totalPauseIntervalMillis() {
  return readSession(std::int64_t{0}, [](TallySession& s) { return s.totalPauseIntervalMillis(); });
}
void TallyImpl::markSessionAsResuming() {
  onSession([at = now()](TallySession& s) { s.markSessionAsResuming(at); });
}
void TallyImpl::resumeSession() {
  onSession([at = now()](TallySession& s) { s.resumeSession(at); });
}
void TallyImpl::endSession() {
  Date at = now();
  queue_.sync([this, at] {
    if (auto s = session()) s->endSession(at);
  });
}
void TallyImpl::sendSessionsToServerForCreateSession() {
  onSession([](TallySession& s) { s.sendSessionsToServerForCreateSession(); });
}
void TallyImpl::maybeIncrementPageView() {
  onSession([at = now()](TallySession& s) { s.maybeIncrementPageView(at); });
}

}  // namespace analytics
