#include "analytics/relay_event_controller.h"

#include <cmath>
#include <vector>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/process_wide.h"
#include "analytics/tally_util.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/application.h"

namespace analytics {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

ProcessWide<TallyRelayEventController>& slot() {
  static ProcessWide<TallyRelayEventController> instance;
  return instance;
}

std::int64_t nowSeconds() { return static_cast<std::int64_t>(std::floor(TallyUtil::clock().now().unix())); }

// Rounded, not truncated: a date made from whole milliseconds may come back a hair below them.
std::int64_t millisSince1970(foundation::Date date) { return std::llround(date.unix() * 1000.0); }

// An item's number the way its stored text or number reads as an integer: leading digits with an
// optional sign, 0 when there are none.
std::int64_t integerValue(const Dictionary& item, std::string_view key) {
  const Value* v = item.find(key);
  if (!v) return 0;
  if (v->isNumber()) return v->toInteger().value_or(0);
  const std::string* text = v->string();
  if (!text) return 0;
  size_t i = text->find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = (*text)[i] == '-';
  if ((*text)[i] == '-' || (*text)[i] == '+') ++i;
  std::int64_t value = 0;
  for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return negative ? INT64_MIN : INT64_MAX;
    value = value * 10 + ((*text)[i] - '0');
  }
  return negative ? -value : value;
}

std::string urlOf(const Dictionary& item) { return item["invokeURL"].stringOr(""); }

bool isPlaceholderChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the placeholder "%{name}" or "{name}" starting at `at`, or 0.
size_t placeholderAt(std::string_view text, size_t at) {
  size_t i = at;
  if (i < text.size() && text[i] == '%') ++i;
  if (i >= text.size() || text[i] != '{') return 0;
  for (++i; i < text.size() && isPlaceholderChar(text[i]); ++i) {
  }
  return i < text.size() && text[i] == '}' ? i + 1 - at : 0;
}

}  // namespace

// ---- The shared controller and the session layer's entries

std::shared_ptr<TallyRelayEventController> TallyRelayEventController::sharedInstance() {
  return slot().getOrMake([] {
    auto controller = std::shared_ptr<TallyRelayEventController>(new TallyRelayEventController);
    controller->observe();
    return controller;
  });
}

std::shared_ptr<TallyRelayEventController> TallyRelayEventController::existingInstance() {
  return slot().get();
}

void TallyRelayEventController::cleanup() {
  if (auto controller = slot().get()) controller->cancelCalls();
  slot().reset();
}

void TallyRelayEventController::cancelCalls() {
  std::vector<std::shared_ptr<TallyHttpAsyncTask>> calls;
  {
    std::lock_guard lock(callsMutex_);
    calls.swap(runningCalls_);
  }
  for (auto& task : calls) runtime::RunLoop::mainHandle().performSoon([task] { task->cancelTask(); });
}

size_t TallyRelayEventController::runningCallCount() const {
  std::lock_guard lock(callsMutex_);
  return runningCalls_.size();
}

void TallyRelayEventController::callEnded(const TallyHttpAsyncTask& task) {
  std::lock_guard lock(callsMutex_);
  std::erase_if(runningCalls_, [&](const auto& running) { return running.get() == &task; });
}

void TallyRelayEventController::sessionPaused(const TallyRelaySessionTimes& session,
                                              std::int64_t totalPauseMillis) {
  if (!TallyGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) return;
  sharedInstance()->processEvent(std::string(kRelaySessionEndEvent),
                                 Dictionary{{"totalSessionBgTime", static_cast<double>(totalPauseMillis)}},
                                 session);
}

void TallyRelayEventController::earlierSessionFound(const TallyRelaySessionTimes& session,
                                                    std::int64_t totalPauseMillis) {
  if (!TallyGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) return;
  sessionPaused(session, totalPauseMillis);
  sharedInstance()->fireConfigUrlsForEvent(std::string(kRelaySessionEndEvent));
}

void TallyRelayEventController::sessionCreated() {
  if (!TallyGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) return;
  auto controller = sharedInstance();
  std::int64_t now = relayNowMillis();
  bool usable = false;
  if (auto settings = storedRelaySettings()) {
    if (settings->expiredAt(now)) {
      dropStoredRelaySettings();
    } else {
      usable = settings->usableAt(now);
    }
  }
  if (usable) {
    controller->updateRelayForAdTracking();
  } else {
    controller->makeRelayRequest();
  }
  controller->fireConfigUrlsForEvent(std::string(kRelaySessionEndEvent));
}

TallyRelayEventController::TallyRelayEventController() : queue_(std::string(kRelayQueueLabel)) {
  clearBeingFiredMarks();
}

TallyRelayEventController::~TallyRelayEventController() = default;

void TallyRelayEventController::observe() {
  auto& center = runtime::NotificationCenter::defaultCenter();
  std::weak_ptr<TallyRelayEventController> weak = weak_from_this();
  auto on = [weak](void (TallyRelayEventController::*handler)()) {
    return [weak, handler](const runtime::Notification&) {
      if (auto self = weak.lock()) ((*self).*handler)();
    };
  };
  resignObserver_ = center.addObserver(std::string(ui::kApplicationWillResignActiveNotification), nullptr,
                                       on(&TallyRelayEventController::appWillBackground));
  activeObserver_ = center.addObserver(std::string(ui::kApplicationDidBecomeActiveNotification), nullptr,
                                       on(&TallyRelayEventController::appWillResume));
  networkObserver_ = center.addObserver(std::string(kTallyNetworkStatusChangedNotification), nullptr,
                                        on(&TallyRelayEventController::networkStatusChanged));
}

void TallyRelayEventController::clearBeingFiredMarks() {
  std::lock_guard lock(mutex_);
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kRelayUrls, [](Dictionary& pending) {
        for (const std::string& url : pending.keys()) {
          Value* item = pending.find(url);
          if (item && item->dictionary()) item->dictionary()->set("beingFired", false);
        }
      });
}

std::shared_ptr<TallyRelayRequest> TallyRelayEventController::relayRequest() {
  std::lock_guard lock(requestMutex_);
  if (!relayRequest_) relayRequest_ = TallyRelayRequest::create();
  return relayRequest_;
}

void TallyRelayEventController::makeRelayRequest() {
  (void)relayRequest()->invokeRelayWithParams(std::nullopt);
}

void TallyRelayEventController::updateRelayForAdTracking() {
  auto storage = TallyGlobalVariableStorage::sharedInstance();
  bool enabled = TallyUtil::isAdTrackingEnabled();
  if (enabled == storage->lastAdTrackingEnabledSetting()) return;
  storage->setLastAdTrackingEnabledSetting(enabled);
  dropStoredRelaySettings();
  sharedInstance()->makeRelayRequest();
}

// ---- Preparing and firing

std::string TallyRelayEventController::substituteParamsInURL(std::string_view url, const Dictionary& values) {
  std::string out;
  out.reserve(url.size());
  for (size_t i = 0; i < url.size();) {
    size_t length = placeholderAt(url, i);
    if (length == 0) {
      out.push_back(url[i++]);
      continue;
    }
    if (const Value* value = values.find(url.substr(i, length)); value && value->string())
      out += *value->string();
    i += length;
  }
  return out;
}

void TallyRelayEventController::processEvent(const std::string& event, const Dictionary&,
                                             const TallyRelaySessionTimes& session) {
  updateRelayForAdTracking();
  auto settings = storedRelaySettings();
  if (!settings) return;
  foundation::Date end = session.end.value_or(session.start);
  auto text = [](std::int64_t n) { return foundation::text::format("%lld", {static_cast<long long>(n)}); };
  std::string duration = text(static_cast<std::int64_t>(std::llround((end - session.start) * 1000.0)));
  Dictionary values{{"%{session_duration_millis}", duration},
                    {"%{fg_timespent_millis}", duration},
                    {"%{timestamp_epoch_millis}", text(millisSince1970(session.start))}};

  Array items;
  for (const auto& t : settings->callbacks) {
    if (!t.uriTemplate) continue;
    for (const auto& name : t.events) {
      if (name != event) continue;
      items.emplace_back(Dictionary{{"invokeURL", substituteParamsInURL(*t.uriTemplate, values)},
                                    {"method", TallyRelayAppTemplate::relayMethodEnumToString(t.method)},
                                    {"eventString", event},
                                    {"beingFired", true},
                                    {"repeatDuration", static_cast<long long>(kRelayRepeatDuration)}});
    }
  }
  std::string sessionKey = text(millisSince1970(session.start));
  std::lock_guard lock(mutex_);
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kRelayPrepUrls, [&](Dictionary& prepared) {
        Value* entry = prepared.find(sessionKey);
        if (!entry || !entry->dictionary()) {
          prepared.set(sessionKey, Dictionary{});
          entry = prepared.find(sessionKey);
        }
        // A later pause of the same session replaces the calls of the earlier one.
        entry->dictionary()->set(event, std::move(items));
      });
}

void TallyRelayEventController::fireConfigUrlsForEvent(const std::string& event) {
  std::lock_guard lock(mutex_);
  std::vector<Dictionary> toFire;
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kRelayPrepUrls, [&](Dictionary& prepared) {
        for (const std::string& key : prepared.keys()) {
          Value* entry = prepared.find(key);
          if (!entry || !entry->dictionary()) continue;
          if (const Value* list = entry->dictionary()->find(event); list && list->array())
            for (const Value& item : *list->array())
              if (item.dictionary()) toFire.push_back(*item.dictionary());
          entry->dictionary()->erase(event);
        }
        for (const std::string& key : prepared.keys()) {
          const Value* entry = prepared.find(key);
          if (!entry->dictionary() || entry->dictionary()->empty()) prepared.erase(key);
        }
      });
  for (auto& item : toFire) asyncInvokeURLWithParams(std::move(item));
}

void TallyRelayEventController::asyncInvokeURLWithParams(Dictionary item) {
  std::string url = urlOf(item);
  std::string method = item["method"].stringOr("GET");
  {
    std::lock_guard lock(mutex_);
    item.set("beingFired", true);
    item.set("expiration", foundation::text::format(
                               "%lld", {static_cast<long long>(nowSeconds() + kRelayCallLifetimeSeconds)}));
    (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
        TallyPersistentMap::kRelayUrls, [&](Dictionary& pending) { pending.set(url, item); });
  }
  auto task = TallyHttpAsyncTask::sendMethod(
      method, url, {}, Dictionary{{"Content-Type", "application/octet-stream"}}, shared_from_this(), false);
  for (const auto& [key, value] : item) task->setTaskParam(key, value);
  {
    std::lock_guard lock(callsMutex_);
    runningCalls_.push_back(task);
  }
  std::weak_ptr<TallyHttpAsyncTask> weak = task;
  runtime::RunLoop::mainHandle().performSoon([weak] {
    if (auto t = weak.lock()) t->startInRunLoop(runtime::RunLoop::main());
  });
}

void TallyRelayEventController::requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse&) {
  callEnded(task);
  std::string url = urlOf(task.taskParams());
  std::lock_guard lock(mutex_);
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kRelayUrls, [&](Dictionary& pending) { pending.erase(url); });
}

void TallyRelayEventController::requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse&) {
  callFailed(task);
}

void TallyRelayEventController::requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse&) {
  callFailed(task);
}

void TallyRelayEventController::callFailed(TallyHttpAsyncTask& task) {
  callEnded(task);
  Dictionary item = task.taskParams();
  item.set("beingFired", false);
  std::string url = urlOf(item);
  std::lock_guard lock(mutex_);
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kRelayUrls, [&](Dictionary& pending) {
        if (Value* stored = pending.find(url); stored && stored->dictionary())
          stored->dictionary()->set("beingFired", false);
      });
  manageUrlStorage(item);
}

// ---- Retries

void TallyRelayEventController::manageUrlStorage(const Dictionary& item) {
  std::string url = urlOf(item);
  std::lock_guard lock(mutex_);
  bool expired = nowSeconds() >= integerValue(item, "expiration") || integerValue(item, "repeatDuration") < 1;
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(TallyPersistentMap::kRelayUrls,
                                                                          [&](Dictionary& pending) {
                                                                            if (expired) {
                                                                              pending.erase(url);
                                                                            } else {
                                                                              pending.set(url, item);
                                                                            }
                                                                          });
  if (!expired && TallyNetworkUtil::isNetworkReachable())
    setTimerToFireUrlWithTaskParams(item, static_cast<double>(integerValue(item, "repeatDuration")) * 3);
}

void TallyRelayEventController::setTimerToFireUrlWithTaskParams(const Dictionary& item, double duration) {
  std::weak_ptr<TallyRelayEventController> weak = weak_from_this();
  runtime::Timer timer =
      runtime::RunLoop::main().scheduleTimer(duration, false, [weak, item](runtime::Timer&) {
        if (auto self = weak.lock()) self->asyncInvokeURLWithParams(item);
      });
  TallyGlobalVariableStorage::sharedInstance()->addPendingUrlTimer(timer);
}

void TallyRelayEventController::firePendingUrls() {
  std::lock_guard lock(mutex_);
  auto pending = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kRelayUrls);
  if (!pending) return;
  std::int64_t now = nowSeconds();
  std::vector<Dictionary> toFire;
  std::vector<std::string> expired;
  for (const auto& [url, value] : *pending) {
    const Dictionary* item = value.dictionary();
    if (!item) continue;
    std::int64_t expiration = integerValue(*item, "expiration");
    if (expiration < 1 || now >= expiration) {
      expired.push_back(url);
    } else if (const Value* firing = item->find("beingFired");
               !(firing && firing->boolean() && *firing->boolean())) {
      toFire.push_back(*item);
    }
  }
  for (auto& item : toFire) asyncInvokeURLWithParams(std::move(item));
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(TallyPersistentMap::kRelayUrls,
                                                                          [&](Dictionary& map) {
                                                                            for (const auto& url : expired)
                                                                              map.erase(url);
                                                                          });
}

void TallyRelayEventController::firePendingUrlsOnNetworkAvailability() {
  bool reachable = TallyNetworkUtil::isNetworkReachable();
  TallyUtil::log(2, "TallySession: networkStatusChanged to %@ reachable", {reachable ? "" : "not"});
  if (!reachable) return;
  if (TallyUtil::getSystemVersionAsAnInteger() < 40000) {
    firePendingUrls();
    return;
  }
  std::weak_ptr<TallyRelayEventController> weak = weak_from_this();
  queue_.async([weak] {
    if (auto self = weak.lock()) self->firePendingUrls();
  });
}

// ---- Notifications

void TallyRelayEventController::networkStatusChanged() {
  bool reachable = TallyNetworkUtil::isNetworkReachable();
  TallyUtil::log(2, "TallySession: networkStatusChanged to %@ reachable", {reachable ? "" : "not"});
  if (!reachable) return;
  if (TallyGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) {
    std::int64_t now = relayNowMillis();
    auto settings = storedRelaySettings();
    if (!settings || settings->expiredAt(now)) {
      dropStoredRelaySettings();
      makeRelayRequest();
    } else if (!settings->usableAt(now)) {
      makeRelayRequest();
    }
  }
  firePendingUrlsOnNetworkAvailability();
}

void TallyRelayEventController::appWillBackground() {
  TallyUtil::log(2, "TallyRelayEventController: pause session called");
  TallyGlobalVariableStorage::sharedInstance()->removePendingUrlTimers();
}

void TallyRelayEventController::appWillResume() {
  TallyUtil::log(2, "TallyRelayEventController: app resuming");
  firePendingUrlsOnNetworkAvailability();
}

}  // namespace analytics
