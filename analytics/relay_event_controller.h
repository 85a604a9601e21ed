#pragma once
// Relay callbacks: turns the templates of the stored Relay settings (relay_settings.h) into HTTP
// calls when SDK events happen, keeps the calls on disk until they succeed or expire, and asks for a
// new configuration when the settings are due, expired, or the advertising-tracking switch moved.
//
//   session paused ── processEvent ──► prepared map  {session start ms: {event: [call items]}}
//   session created ─ fireConfigUrlsForEvent ──► pending map {url: call item} ──► HTTP call
//        success: removed │ failure/cancel: kept, retried after 3 × repeatDuration s (90 s) while the
//        network is reachable, and on network and resume notifications, until three days after
//        its last firing.
//
// A call item is a dictionary: "invokeURL", "method", "eventString", "beingFired" (true while a
// request runs), "repeatDuration" (30) and "expiration" (text: whole seconds since 1970).
//
// Sound behaviour beyond the plain algorithm:
//  - substitution runs in one pass, so a value that holds a placeholder is not filled in again;
//  - an item's expiration is set, with its "beingFired" mark, under the lock before its request
//    starts, so a failure that comes back at once still finds a live expiration and keeps the call;
//  - "beingFired" marks left on disk by a process that ended mid-call are cleared when the controller
//    is made, or those calls would never be fired again;
//  - processEvent takes the session's times as values: working out the duration of a session
//    without an end never changes the session itself.
//
// Threads: the two maps change only under the controller's re-entrant lock (and, inside it, the
// settings' own). Preparing runs on the caller's thread (the session queue), notifications and HTTP
// callbacks on the main thread, firePendingUrls on the queue "com.Tally.RelayEventController".

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/http_task.h"
#include "analytics/relay_request.h"
#include "analytics/relay_settings.h"
#include "platform/foundation/date.h"
#include "platform/foundation/value.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/serial_queue.h"

namespace analytics {

inline constexpr std::string_view kRelayQueueLabel = "com.Tally.RelayEventController";
inline constexpr std::int64_t kRelayRepeatDuration = 30;
inline constexpr std::int64_t kRelayCallLifetimeSeconds = 259200;

// The times of the session an event belongs to.
struct TallyRelaySessionTimes {
  foundation::Date start;
  // Nothing while the session has not ended: the duration is then 0.
  std::optional<foundation::Date> end;
};

class TallyRelayEventController : public TallyHttpAsyncTaskDelegate,
                                  public std::enable_shared_from_this<TallyRelayEventController> {
 public:
  // The one controller, made on first use (observing the lifecycle and network notifications).
  static std::shared_ptr<TallyRelayEventController> sharedInstance();
  // The controller if one was made.
  static std::shared_ptr<TallyRelayEventController> existingInstance();
  // Drops the shared controller and cancels its calls in flight (they stay stored, and are fired
  // again by the next controller).
  static void cleanup();

  // What the session layer sends; each does nothing while relayMonitoringEnabled is off.
  // A session paused (after it was saved): prepares its session-end calls.
  static void sessionPaused(const TallyRelaySessionTimes& session, std::int64_t totalPauseMillis);
  // A session of an earlier run found at start: prepares and fires its session-end calls.
  static void earlierSessionFound(const TallyRelaySessionTimes& session, std::int64_t totalPauseMillis);
  // A new session made: drops expired settings, refreshes them when due, fires session-end calls.
  static void sessionCreated();

  ~TallyRelayEventController() override;
  TallyRelayEventController(const TallyRelayEventController&) = delete;
  TallyRelayEventController& operator=(const TallyRelayEventController&) = delete;

  void processEvent(const std::string& event, const foundation::Dictionary& params,
                    const TallyRelaySessionTimes& session);
  void fireConfigUrlsForEvent(const std::string& event);
  void asyncInvokeURLWithParams(foundation::Dictionary item);
  void makeRelayRequest();
  void updateRelayForAdTracking();
  void firePendingUrls();
  void firePendingUrlsOnNetworkAvailability();
  void manageUrlStorage(const foundation::Dictionary& item);
  void setTimerToFireUrlWithTaskParams(const foundation::Dictionary& item, double duration);

  // Replaces every "%{name}" or "{name}" (letters, digits, "_") by the value under the placeholder's
  // own text, or by nothing; inserted values are not looked at again.
  static std::string substituteParamsInURL(std::string_view url, const foundation::Dictionary& values);

  // Notification handlers (main thread).
  void networkStatusChanged();
  void appWillBackground();
  void appWillResume();

  std::shared_ptr<TallyRelayRequest> relayRequest();
  runtime::SerialQueue& queue() { return queue_; }
  size_t runningCallCount() const;

  // TallyHttpAsyncTaskDelegate
  void requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;

 private:
  TallyRelayEventController();
  void observe();
  void clearBeingFiredMarks();
  void callFailed(TallyHttpAsyncTask& task);
  void callEnded(const TallyHttpAsyncTask& task);
  void cancelCalls();

  std::recursive_mutex mutex_;
  std::mutex requestMutex_;
  std::shared_ptr<TallyRelayRequest> relayRequest_;
  mutable std::mutex callsMutex_;
  std::vector<std::shared_ptr<TallyHttpAsyncTask>> runningCalls_;
  runtime::SerialQueue queue_;
  runtime::ObserverToken resignObserver_;
  runtime::ObserverToken activeObserver_;
  runtime::ObserverToken networkObserver_;
};

}  // namespace analytics
