#include "analytics/tally.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "analytics/file_cache.h"
#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/page_view_delegate.h"
#include "analytics/relay_event_controller.h"
#include "analytics/tally_event.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "analytics/watch_tally.h"
#include "crash_reporter/reporter.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"

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

// The text the argument holds; for anything else the refusal is logged (level 2) and nothing returned.
const std::string* textOrRefuse(const Value& argument, std::string_view refusal) {
  const std::string* text = argument.string();
  if (!text) TallyUtil::log(2, refusal);
  return text;
}

// Whether the call is refused because it runs in a watch extension (logged, level 2).
bool refusedInWatchExtension(std::string_view refusal) {
  if (!TallyUtil::isInWatchExtension()) return false;
  TallyUtil::log(2, refusal);
  return true;
}

// The name of an event to log: refused (logged) in a watch extension or when it is not a text.
const std::string* eventNameOrRefuse(const Value& eventName) {
  if (refusedInWatchExtension("Tally: Event not logged -- this method cannot be used in watch extension."))
    return nullptr;
  return textOrRefuse(eventName, "Tally: Event not logged -- eventName must be of NSString type.");
}

// startSession's once-only test, and the observations of the application it starts.
struct Lifecycle {
  std::mutex mutex;
  TallyDelegate* delegate = nullptr;
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
  TallyUtil::guarded([] {
    auto store = settings();
    CurrentSession::setupWithKey(store->apiKey().value_or(""));
    // The new session takes the settings made before it, in this order.
    Tally::setSessionReportsOnCloseEnabled(store->sessionReportsOnCloseEnabled());
    Tally::setSessionReportsOnPauseEnabled(store->sessionReportsOnPauseEnabled());
    Tally::setBackgroundSessionEnabled(store->backgroundSessionEnabled());
    Tally::setEventLoggingEnabled(store->eventLoggingEnabled());
    Tally::setCrashReportingEnabled(store->crashReportingEnabled());
    Tally::setAge(store->age());
    TallyDelegate* delegate;
    {
      std::lock_guard lock(lifecycle().mutex);
      delegate = lifecycle().delegate;
    }
    if (delegate) {
      delegate->tallySessionDidCreateWithInfo(foundation::Dictionary{{"apiKey", store->apiKey().value_or("")},
                                                                     {"sessionId", Tally::getSessionID()}});
    }
    // Refreshes the Relay settings when due and fires the calls earlier sessions prepared (nothing
    // while Relay is off).
    TallyRelayEventController::sessionCreated();
    if (auto userId = store->userID()) Tally::setUserID(*userId);
    if (auto gender = store->gender()) Tally::setGender(*gender);
    if (auto session = CurrentSession::get()) session->sendSessionsToServerForCreateSession();
  });
}

void startupNetworkAndSendSession() {
  TallyNetworkUtil::initNetworkReachability();
  TallyHeartBeater::createAndStartInstance(1.0);
  TallyFileCache::createInstanceWithApiKey(settings()->apiKey().value_or(""), kTallyAgentVersion);
  createAndSendSession();
  TallyUtil::cleanupStoredIdentifierForVendor();
  TallyUtil::log(2, "Tally: Finish starting session with apiKey[%@]", {settings()->apiKey().value_or("")});
}

void applicationWillResignActive() {
  TallyUtil::guarded([] {
    if (!settings()->backgroundSessionEnabled()) Tally::pauseSession();
  });
}

void applicationWillEnterForeground() {
  TallyUtil::guarded([] {
    if (auto session = CurrentSession::get()) session->markSessionAsResuming();
  });
}

void applicationDidBecomeActive() {
  TallyUtil::guarded([] {
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
      std::string(ui::kApplicationDidFinishLaunchingNotification), nullptr,
      [](const runtime::Notification& notification) {
        runtime::ObserverToken done;
        {
          std::lock_guard lock(lifecycle().mutex);
          done = std::move(lifecycle().launchObserver);
        }
        if (!done.isActive()) return;
        done.remove();
        // The launch's user info is what the application was launched with.
        Tally::setLaunchOptions(foundation::Value(notification.userInfo));
        TallyUtil::guarded(startupNetworkAndSendSession);
      });
  std::lock_guard lock(lifecycle().mutex);
  lifecycle().launchObserver = std::move(token);
}

// BSD signals, both symbolication strategies. Its reports live in the SDK's home, named by the main
// bundle. A reporter that cannot be enabled is logged and analytics goes on without it.
void startCrashReporter() {
  crash::TallyCrashReporterConfig config(crash::TallyCrashReporterConfig::kSignalHandlerTypeBSD, 3);
  auto made = crash::TallyCrashReporter::initWithBundle(runtime::Bundle::main().get(), config, TallyUtil::home());
  foundation::Status enabled = made ? foundation::Status() : foundation::Status(made.error());
  if (made) {
    (*made)->setSystemVersion(ui::device().systemVersion);
    settings()->setTallyCrashReporter(*made);
    enabled = (*made)->enableCrashReporterAndReturnError();
  }
  if (!enabled)
    TallyUtil::log(2, "Tally: Failed to initialize crash reporter: %@", {enabled.error().description()});
}

}  // namespace

void Tally::startSession(std::string_view apiKey) {
  TallyUtil::guarded([&] {
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
      if (!store->tallyCrashReporter()) startCrashReporter();
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

void Tally::startSessionWithOptions(std::string_view apiKey, const Value& launchOptions) {
  setLaunchOptions(launchOptions);
  startSession(apiKey);
}

namespace {

// One launch-option value as texts: nothing for a kind no text stands for. A text stays as it is and a
// number reads as the platform writes its digits (a boolean as 1 or 0), which is its description.
std::optional<std::string> launchOptionText(const Value& value) {
  if (value.string() || value.boolean() || value.isNumber()) return value.description();
  if (const foundation::Date* date = value.date())
    return std::to_string(static_cast<std::int64_t>(std::floor(date->unix() * 1000)));
  return std::nullopt;
}

}  // namespace

void Tally::setLaunchOptions(const Value& launchOptions) {
  TallyUtil::guarded([&] {
    if (launchOptions.isNull()) return;
    auto store = settings();
    const size_t before = store->launchOptions().size();
    TallyUtil::log(2, "TallySession: Setting launchOptions [%@], count %lu ",
                   {launchOptions.description(), Value(static_cast<std::int64_t>(before))});
    if (const foundation::Dictionary* options = launchOptions.dictionary()) {
      // The one-element options: the platform's key, where it goes, and what is logged.
      struct Single {
        std::string_view key;
        std::string_view storedAs;
        std::string_view logLine;
      };
      for (const Single& single : {
               Single{"UIApplicationLaunchOptionsURLKey", "UIApplicationLaunchOptionsURLKey",
                      "TallySession: Getting launchOptions from UIApplicationLaunchOptionsURLKey[%@] "},
               Single{"UIApplicationLaunchOptionsSourceApplicationKey",
                      "UIApplicationLaunchOptionsSourceApplicationKey",
                      "TallySession: Getting launchOptions from "
                      "UIApplicationLaunchOptionsSourceApplicationKey[%@] "},
               Single{"UIApplicationLaunchOptionsRemoteNotificationKey",
                      "UIApplicationLaunchOptionsRemoteNotificationKeyFlag", ""},
               Single{"UIApplicationLaunchOptionsLocationKey", "UIApplicationLaunchOptionsLocationKeyFlag",
                      ""},
           }) {
        const Value* value = options->find(single.key);
        if (!value) continue;
        store->setLaunchOption(std::string(single.storedAs), Value(foundation::Array{*value}));
        if (!single.logLine.empty()) TallyUtil::log(2, single.logLine, {*value});
      }
      if (const Value* downloads = options->find("UIApplicationLaunchOptionsNewsstandDownloadsKey"))
        store->setLaunchOption("UIApplicationLaunchOptionsNewsstandDownloadsKey", *downloads);
      if (const Value* annotation = options->find("UIApplicationLaunchOptionsAnnotationKey"))
        parsePropertyList(*annotation);
    }
    if (store->launchOptions().size() == before) parsePropertyList(launchOptions);
  });
}

void Tally::parsePropertyList(const Value& propertyList) {
  if (const foundation::Dictionary* dictionary = propertyList.dictionary()) {
    parseDictionary(*dictionary);
  } else if (const foundation::Array* items = propertyList.array()) {
    for (const auto& item : *items)
      if (const foundation::Dictionary* dictionary = item.dictionary()) parseDictionary(*dictionary);
  }
}

void Tally::parseDictionary(const foundation::Dictionary& dictionary) {
  auto store = settings();
  for (const auto& [key, value] : dictionary) {
    foundation::Array texts;
    if (const foundation::Array* items = value.array()) {
      for (const auto& item : *items)
        if (auto text = launchOptionText(item)) texts.push_back(Value(std::move(*text)));
    } else if (auto text = launchOptionText(value)) {
      texts.push_back(Value(std::move(*text)));
    }
    if (!texts.empty()) store->setLaunchOption(key, Value(std::move(texts)));
  }
}

void Tally::setAppVersion(std::string_view version) {
  TallyUtil::guarded([&] {
    if (CurrentSession::get()) {
      TallyUtil::log(1, "Tally: Please call setAppVersion before startSession.");
      return;
    }
    settings()->setAppVersion(std::string(version));
    TallyUtil::log(2, "Tally: setAppVersion[%@]", {version});
  });
}

void Tally::setUserID(std::string_view userId) {
  TallyUtil::guarded([&] {
    if (auto session = CurrentSession::get()) session->setUserID(std::string(userId));
    TallyUtil::log(2, "Tally: setUserID[%@]", {userId});
    settings()->setUserID(std::string(userId));
  });
}

void Tally::setCrashReportingEnabled(bool enabled) {
  TallyUtil::guarded([&] {
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
        const std::string* name = eventNameOrRefuse(eventName);
        if (!name) return kTallyEventFailed;
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
  TallyUtil::guarded([] {
    if (refusedInWatchExtension(
            "Tally: logPageView disabled -- this method cannot be used in watch extension."))
      return;
    if (auto session = CurrentSession::get()) session->maybeIncrementPageView();
  });
}

void Tally::logAllPageViews(const std::shared_ptr<ui::ViewController>& controller) {
  TallyUtil::guarded([&] {
    if (refusedInWatchExtension(
            "Tally: logAllPageViews disabled -- this method cannot be used in watch extension."))
      return;
    TallyPageViewDelegateOld::createDelegateOnTarget(controller);
  });
}

void Tally::logAllPageViewsForTarget(const std::shared_ptr<ui::ViewController>& controller) {
  TallyUtil::guarded([&] {
    if (refusedInWatchExtension(
            "Tally: logAllPageViews disabled -- this method cannot be used in watch extension."))
      return;
    TallyPageViewDelegate::createDelegateOnTarget(controller);
  });
}

void Tally::stopLogPageViewsForTarget(const ui::ViewController* controller) {
  TallyUtil::guarded([&] { TallyPageViewDelegate::destroyDelegateOnTarget(controller); });
}

void Tally::setSessionReportsOnCloseEnabled(bool enabled) {
  TallyUtil::guarded([&] {
    settings()->setSessionReportsOnCloseEnabled(enabled);
    if (auto session = CurrentSession::get()) session->setSessionReportsOnCloseEnabled(enabled);
  });
}

void Tally::setSessionReportsOnPauseEnabled(bool enabled) {
  TallyUtil::guarded([&] {
    settings()->setSessionReportsOnPauseEnabled(enabled);
    if (auto session = CurrentSession::get()) session->setSessionReportsOnPauseEnabled(enabled);
  });
}

void Tally::setBackgroundSessionEnabled(bool enabled) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, "Tally: Background session enabled[%d]", {Value(enabled ? 1 : 0)});
    settings()->setBackgroundSessionEnabled(enabled);
  });
}

void Tally::setEventLoggingEnabled(bool enabled) {
  TallyUtil::guarded([&] {
    settings()->setEventLoggingEnabled(enabled);
    if (auto session = CurrentSession::get()) session->setEventLoggingEnabled(enabled);
  });
}

void Tally::setSessionContinueSeconds(std::int32_t seconds) {
  TallyUtil::guarded([&] { settings()->setPauseSecondsBeforeStartingNewSession(seconds); });
}

std::int32_t Tally::sessionContinueSeconds() {
  return guarded([] { return settings()->pauseSecondsBeforeStartingNewSession(); }, std::int32_t{0});
}

void Tally::setMaxSessionsSaved(std::int32_t count) {
  TallyUtil::guarded([&] { TallySession::setMaxSessions(count); });
}

void Tally::setDebugLogEnabled(bool enabled) { TallyUtil::setLogLevel(enabled ? 2 : 1); }

void Tally::setShowErrorInLogEnabled(bool enabled) { TallyUtil::setShowErrorInLogEnabled(enabled); }

void Tally::setGender(const Value& gender) {
  TallyUtil::guarded([&] {
    const std::string* text =
        textOrRefuse(gender, "Tally: setGender failed -- gender must be of NSString type.");
    if (!text) return;
    if (auto session = CurrentSession::get()) session->setGenderAsString(*text);
    TallyUtil::log(2, "Tally: setGender[%@]", {*text});
    settings()->setGender(*text);
  });
}

void Tally::setAge(std::int32_t years) {
  TallyUtil::guarded([&] {
    settings()->setAge(years);
    if (auto session = CurrentSession::get()) session->setAgeInYears(years);
  });
}

void Tally::setLatitudeLongitude(double latitude, double longitude, float horizontalAccuracy,
                                 float verticalAccuracy) {
  // The platform's location class does not exist here, so the settings keep no location object; the
  // session takes the figures.
  TallyUtil::guarded([&] {
    if (auto session = CurrentSession::get())
      session->setLocation(latitude, longitude, horizontalAccuracy, verticalAccuracy);
  });
}

void Tally::addSessionOrigin(const Value& name) {
  TallyUtil::guarded([&] {
    const std::string* text = textOrRefuse(
        name, "Tally: Session Origin not added -- Session Origin Name must be of NSString type.");
    if (!text) return;
    settings()->setSessionOriginName(*text);
    settings()->setHasSessionOriginName(true);
  });
}

void Tally::addSessionOriginWithDeepLink(const Value& name, const Value& deepLink) {
  TallyUtil::guarded([&] {
    const std::string* text = textOrRefuse(
        name, "Tally: Session Origin not added -- Session Origin Name must be of NSString type.");
    if (!text) return;
    const std::string* link = textOrRefuse(
        deepLink, "Tally: deepLink not added -- Session deepLink Name must be of NSString type.");
    if (!link) return;
    settings()->setSessionOriginName(*text);
    settings()->setHasSessionOriginName(true);
    settings()->setDeepLinkName(*link);
    settings()->setHasDeepLinkName(true);
  });
}

void Tally::addOriginWithVersion(const Value& name, const Value& version, const Value& parameters) {
  TallyUtil::guarded([&] {
    const std::string* origin =
        textOrRefuse(name, "Tally: Origin not added -- originName must be of NSString type.");
    if (!origin) return;
    const std::string* text =
        textOrRefuse(version, "Tally: Origin not added -- originVersion must be of NSString type.");
    if (!text) return;
    const foundation::Dictionary* given = parameters.dictionary();
    settings()->recordOrigin(*origin, *text, given ? *given : foundation::Dictionary{});
  });
}

void Tally::sessionProperties(const Value& properties) {
  TallyUtil::guarded([&] {
    const foundation::Dictionary* given = properties.dictionary();
    settings()->recordSessionProperties(given ? std::optional<foundation::Dictionary>(*given) : std::nullopt);
  });
}

TallyEventRecordStatus Tally::logEventTimed(const Value& eventName, bool timed) {
  return guarded(
      [&]() -> TallyEventRecordStatus {
        const std::string* name = eventNameOrRefuse(eventName);
        if (!name) return kTallyEventFailed;
        auto session = CurrentSession::get();
        return session ? session->recordEvent(*name, std::nullopt, timed) : kTallyEventFailed;
      },
      kTallyEventFailed);
}

void Tally::endTimedEvent(const Value& eventName, const Value& parameters) {
  TallyUtil::guarded([&] {
    const std::string* name =
        textOrRefuse(eventName, "Tally: Event not logged -- eventName must be of NSString type.");
    if (!name) return;
    const foundation::Dictionary* given = parameters.dictionary();
    if (auto session = CurrentSession::get())
      session->endTimedEvent(*name, given ? std::optional<foundation::Dictionary>(*given) : std::nullopt);
  });
}

namespace {

// The shared checks and recording of the two error calls.
void logError(const Value& errorId, const Value& message, const std::string& exceptionString,
              std::int32_t type) {
  TallyUtil::guarded([&] {
    if (refusedInWatchExtension("Tally: Error not logged -- this method cannot be used in watch extension."))
      return;
    const std::string* id =
        textOrRefuse(errorId, "Tally: Error not logged -- errorId must be of NSString type.");
    if (!id) return;
    const std::string* text =
        textOrRefuse(message, "Tally: Error not logged -- message must be of NSString type.");
    if (!text) return;
    // With crash reporting on, the error carries a report of the calling thread.
    std::optional<foundation::Bytes> report = settings()->liveCrashReport();
    if (auto session = CurrentSession::get()) session->recordError(*id, *text, exceptionString, type, report);
  });
}

}  // namespace

void Tally::logErrorWithException(const Value& errorId, const Value& message,
                                  const std::exception* exception) {
  std::string text = exception ? TallySessionEvents::exceptionText(TallyUtil::typeName(typeid(*exception)),
                                                                   std::string(exception->what()))
                               : TallySessionEvents::exceptionText(std::nullopt, std::nullopt);
  logError(errorId, message, text, TallyError::kException);
}

void Tally::logErrorWithError(const Value& errorId, const Value& message,
                              const std::optional<foundation::Error>& error) {
  logError(errorId, message, TallySessionEvents::errorText(error), TallyError::kErrorObject);
}

void Tally::setTallyOptOut(bool optOut) {
  TallyUtil::guarded([&] {
    bool was = TallyUtil::hasUserOptedOut();
    TallyUtil::setTallyOptOut(optOut);
    if (!was && optOut) {
      settings()->setOptOutSessionPending(true);
      if (auto session = CurrentSession::get()) session->endSessionAsync();
    }
  });
}

bool Tally::hasUserOptedOut() {
  return guarded([] { return TallyUtil::hasUserOptedOut(); }, false);
}

void Tally::setServerURL(std::string_view url) { TallyNetworkUtil::setServerURL(url); }
void Tally::setRelayServerURL(std::string_view url) { TallyNetworkUtil::setConfigServerUrl(url); }
void Tally::setRelayEnabled(bool enabled) {
  TallyUtil::guarded([&] { settings()->setRelayMonitoringEnabled(enabled); });
}
void Tally::setAppCloudServerToStaging(bool staging) {
  TallyNetworkUtil::setAppCloudServerToStaging(staging);
}
void Tally::setSecureTransportEnabledDeprecated(bool secure) {
  TallyNetworkUtil::setSecureTransportEnabledDeprecated(secure);
}
void Tally::setDelegate(TallyDelegate* delegate) {
  std::lock_guard lock(lifecycle().mutex);
  lifecycle().delegate = delegate;
}
bool Tally::sendUsageInfo() { return true; }

std::string Tally::getSessionID() {
  return guarded(
      [] {
        auto start = CurrentSession::startTime();
        std::int64_t millis = start ? static_cast<std::int64_t>(std::floor(start->unix() * 1000)) : 0;
        return std::to_string(millis);
      },
      std::string("0"));
}

void Tally::pauseBackgroundSession() {
  TallyUtil::guarded([] {
    if (TallyUtil::getSystemVersionAsAnInteger() < 40000 || applicationState() == 2) pauseSession();
  });
}

void Tally::endSession() {
  TallyUtil::guarded([] {
    if (auto session = CurrentSession::get()) session->endSession();
  });
}

void Tally::pauseSession() {
  TallyUtil::guarded([] {
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
  TallyUtil::guarded([] {
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
    // The facade's queue is drained first: a session ended a moment ago is on disk before it goes.
    if (TallyImpl::isInstalled()) TallyImpl::cleanup();
    TallyHeartBeater::cleanup();
    TallyNetworkUtil::stopNetworkReachability();
    CurrentSession::cleanup();
    TallyRelayEventController::cleanup();
    TallyWatch::reset();
    TallySession::forgetWatchSession();
    TallyFileCache::cleanup();
    TallyGlobalVariableStorage::cleanup();
  });
}

}  // namespace analytics
