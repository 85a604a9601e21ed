#include "analytics/tally.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "analytics/file_cache.h"
#include "analytics/global_variable_storage.h"
#include "analytics/tally_util.h"
#include "crash_reporter/errors.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/application.h"

namespace analytics {
namespace {

using foundation::Value;

std::shared_ptr<TallyGlobalVariableStorage> settings() {
  return TallyGlobalVariableStorage::sharedInstance();
}

// Runs the work, handing any exception to the SDK's handler; `failed` is the answer then.
template <class F, class R = std::invoke_result_t<F&>>
R guarded(F&& work, R failed = R()) {
  try {
    return work();
  } catch (...) {
    TallyUtil::handleException(std::current_exception());
    return failed;
  }
}

template <class F>
void guardedVoid(F&& work) {
  try {
    work();
  } catch (...) {
    TallyUtil::handleException(std::current_exception());
  }
}

// startSession's once-only test, and the observations of the application it starts.
struct Lifecycle {
  std::mutex mutex;
  std::vector<runtime::ObserverToken> observers;
  runtime::ObserverToken launchObserver;
};

Lifecycle& lifecycle() {
  static Lifecycle l;
  return l;
}

// The platform's numbers for the application's state: 0 active, 1 inactive, 2 background.
std::int32_t applicationState() {
  switch (ui::Application::shared().state()) {
    case ui::ApplicationState::kActive:
      return 0;
    case ui::ApplicationState::kInactive:
      return 1;
    case ui::ApplicationState::kBackground:
      return 2;
    case ui::ApplicationState::kNotRunning:
      return -1;
  }
  return -1;
}

// Whole milliseconds from one date to the other, the fraction cut off; 0 without a start. Dates are
// binary fractions of seconds, so a span of exactly n ms can come out a hair below n: a tolerance of a
// microsecond keeps it whole without letting a real fraction of a millisecond count as one.
std::int64_t timeIntervalFromTo(std::optional<foundation::Date> from, foundation::Date to) {
  if (!from) return 0;
  double millis = (to - *from) * 1000.0;
  constexpr double kTolerance = 1e-3;
  return static_cast<std::int64_t>(std::trunc(millis + (millis < 0 ? -kTolerance : kTolerance)));
}

void createAndSendSession() {
  guardedVoid([] {
    auto store = settings();
    CurrentSession::setupWithKey(store->apiKey().value_or(""));
    // The new session takes the settings made before it.
    Tally::setCrashReportingEnabled(store->crashReportingEnabled());
    if (auto userId = store->userID()) Tally::setUserID(*userId);
    if (auto session = CurrentSession::get()) session->sendSessionsToServerForCreateSession();
  });
}

void startupNetworkAndSendSession() {
  TallyFileCache::createInstanceWithApiKey(settings()->apiKey().value_or(""), kTallyAgentVersion);
  createAndSendSession();
  TallyUtil::cleanupStoredIdentifierForVendor();
  TallyUtil::log(2, "Tally: Finish starting session with apiKey[%@]", {settings()->apiKey().value_or("")});
}

void applicationWillResignActive() {
  guardedVoid([] {
    if (!settings()->backgroundSessionEnabled()) Tally::pauseSession();
  });
}

void applicationWillEnterForeground() {
  guardedVoid([] {
    if (auto session = CurrentSession::get()) session->markSessionAsResuming();
  });
}

void applicationDidBecomeActive() {
  guardedVoid([] {
    auto store = settings();
    store->setAppApplicationState(0);
    std::int64_t elapsed = timeIntervalFromTo(store->pauseTime(), TallyUtil::clock().now());
    // In 64 bits: a continue interval above 2147483 seconds would overflow 32-bit milliseconds.
    std::int64_t limit = static_cast<std::int64_t>(store->pauseSecondsBeforeStartingNewSession()) * 1000;
    if (limit >= elapsed) {
      if (auto session = CurrentSession::get()) session->resumeSession();
    } else {
      createAndSendSession();
    }
  });
}

void observeApplication() {
  auto& center = runtime::NotificationCenter::defaultCenter();
  std::vector<runtime::ObserverToken> tokens;
  tokens.push_back(center.addObserver(std::string(ui::kApplicationWillTerminateNotification), nullptr,
                                      [](const runtime::Notification&) { Tally::endSession(); }));
  tokens.push_back(center.addObserver(std::string(ui::kApplicationWillResignActiveNotification), nullptr,
                                      [](const runtime::Notification&) { applicationWillResignActive(); }));
  if (TallyUtil::getSystemVersionAsAnInteger() >= 40000) {
    tokens.push_back(
        center.addObserver(std::string(ui::kApplicationWillEnterForegroundNotification), nullptr,
                           [](const runtime::Notification&) { applicationWillEnterForeground(); }));
  }
  tokens.push_back(center.addObserver(std::string(ui::kApplicationDidBecomeActiveNotification), nullptr,
                                      [](const runtime::Notification&) { applicationDidBecomeActive(); }));
  std::lock_guard lock(lifecycle().mutex);
  for (auto& token : tokens) lifecycle().observers.push_back(std::move(token));
}

// The start waits for the end of the launch when the application is not yet active. It runs once,
// however often the launch notification comes.
void startAfterLaunch() {
  auto token = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(ui::kApplicationDidFinishLaunchingNotification), nullptr, [](const runtime::Notification&) {
        runtime::ObserverToken done;
        {
          std::lock_guard lock(lifecycle().mutex);
          done = std::move(lifecycle().launchObserver);
        }
        if (!done.isActive()) return;
        done.remove();
        guardedVoid(startupNetworkAndSendSession);
      });
  std::lock_guard lock(lifecycle().mutex);
  lifecycle().launchObserver = std::move(token);
}

}  // namespace

void Tally::startSession(std::string_view apiKey) {
  guardedVoid([&] {
    {
      std::lock_guard lock(lifecycle().mutex);
      auto store = settings();
      if (store->startSessionCalled()) {
        TallyUtil::log(
            1, "Tally: startSession has been called already. It should only be called once. Returning.");
        return;
      }
      TallyUtil::log(2, "Tally: startSession called for the first time");
      store->setStartSessionCalled(true);
    }
    TallyUtil::log(2, "Tally: Start session called with apiKey[%@]", {apiKey});
    TallyUtil::log(1, "Tally: Starting session on Agent Version [%@] ", {getTallyAgentVersion()});

    auto store = settings();
    if (store->crashReportingEnabled()) {
      TallyUtil::log(2, "Tally: crash reporting enabled");
      // The crash reporter cannot be switched on in this build; analytics goes on without it.
      foundation::Error error =
          crash::crash_make_error(crash::kCrashReporterErrorUnknown, "The crash reporter is not available");
      TallyUtil::log(2, "Tally: Failed to initialize crash reporter: %@", {error.description()});
    }
    store->setApiKey(std::string(apiKey));
    observeApplication();
    std::int32_t state = applicationState();
    store->setAppApplicationState(state);
    if (state != 1 && state != 2) {
      startupNetworkAndSendSession();
    } else {
      startAfterLaunch();
    }
  });
}

void Tally::setAppVersion(std::string_view version) {
  guardedVoid([&] {
    if (CurrentSession::get()) {
      TallyUtil::log(1, "Tally: Please call setAppVersion before startSession.");
      return;
    }
    settings()->setAppVersion(std::string(version));
    TallyUtil::log(2, "Tally: setAppVersion[%@]", {version});
  });
}

void Tally::setUserID(std::string_view userId) {
  guardedVoid([&] {
    if (auto session = CurrentSession::get()) session->setUserID(std::string(userId));
    TallyUtil::log(2, "Tally: setUserID[%@]", {userId});
    settings()->setUserID(std::string(userId));
  });
}

void Tally::setCrashReportingEnabled(bool enabled) {
  guardedVoid([&] {
    if (auto session = CurrentSession::get()) session->setCrashReportingEnabled(enabled);
    settings()->setCrashReportingEnabled(enabled);
  });
}

TallyEventRecordStatus Tally::logEvent(const Value& eventName) {
  return logEventWithParametersTimed(eventName, Value(), false);
}

TallyEventRecordStatus Tally::logEventWithParameters(const Value& eventName, const Value& parameters) {
  return logEventWithParametersTimed(eventName, parameters, false);
}

TallyEventRecordStatus Tally::logEventWithParametersTimed(const Value& eventName, const Value& parameters,
                                                          bool timed) {
  return guarded(
      [&]() -> TallyEventRecordStatus {
        if (TallyUtil::isInWatchExtension()) {
          TallyUtil::log(2, "Tally: Event not logged -- this method cannot be used in watch extension.");
          return kTallyEventFailed;
        }
        const std::string* name = eventName.string();
        if (name == nullptr) {
          TallyUtil::log(2, "Tally: Event not logged -- eventName must be of NSString type.");
          return kTallyEventFailed;
        }
        std::optional<foundation::Dictionary> params;
        if (const foundation::Dictionary* given = parameters.dictionary()) {
          params = *given;
        } else if (!parameters.isNull()) {
          return kTallyEventFailed;  // parameters that are no dictionary
        }
        return CurrentSession::recordOrCache(*name, params, timed);
      },
      kTallyEventFailed);
}

void Tally::logPageView() {
  guardedVoid([] {
    if (auto session = CurrentSession::get()) session->maybeIncrementPageView();
  });
}

void Tally::endSession() {
  guardedVoid([] {
    if (auto session = CurrentSession::get()) session->endSession();
  });
}

void Tally::pauseSession() {
  guardedVoid([] {
    settings()->setPauseTime(TallyUtil::clock().now());
    if (auto session = CurrentSession::get()) session->pauseSession();
  });
}

bool Tally::activeSessionExists() {
  return guarded([] { return CurrentSession::get() != nullptr; }, false);
}

std::string Tally::getTallyAgentVersion() {
  char text[64];
  std::snprintf(text, sizeof text, "Tally_iOS_%d_%d.%d.%d%s%s", 155, 6, 7, 0, "", "");
  return text;
}

void Tally::setLogLevel(std::uint32_t level) { TallyUtil::setLogLevel(level); }

void Tally::shutdown() {
  guardedVoid([] {
    std::vector<runtime::ObserverToken> observers;
    runtime::ObserverToken launch;
    {
      std::lock_guard lock(lifecycle().mutex);
      observers = std::move(lifecycle().observers);
      lifecycle().observers.clear();
      launch = std::move(lifecycle().launchObserver);
    }
    observers.clear();
    launch.remove();
    CurrentSession::cleanup();
    TallyFileCache::cleanup();
    TallyGlobalVariableStorage::cleanup();
  });
}

}  // namespace analytics
