// The session facade: the current session and the session queue every session operation runs on.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "analytics/session_detail.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;
using namespace session_detail;

}  // namespace

TallyImpl::TallyImpl() : queue_(std::string(kTallySessionQueueLabel), TallyUtil::clock()) {}

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

void TallyImpl::install() {
  gInstalled.store(true);
  auto impl = instance();
  CurrentSession::setFactory([impl](SessionStart start) -> std::shared_ptr<SessionSink> {
    impl->setupForApiKey(start.apiKey, start.startTime, std::move(start.cachedEvents));
    return impl;
  });
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
  queue_.async([this, apiKey, startTime, cached = std::move(cached)] {
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
void TallyImpl::pauseSession() {
  onSession([at = now()](TallySession& s) { s.pauseSession(at); });
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
