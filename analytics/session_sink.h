#pragma once
// The analytics session as the public interface (Tally) sees it, and where the current one lives.
//
// Tally never talks to a session directly: it sends its work to the current SessionSink and asks
// CurrentSession to set up a new one when analytics starts (or a paused session has waited too
// long). Events logged before the first session exists wait in the pre-session cache and are handed
// to the session that is set up next, in the order they were logged.
//
// Sessions are made by the session layer proper (TallyImpl, tally_session.h: the session queue,
// persistence and upload) unless a test installs a factory of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/value.h"

namespace analytics {

// What an event-logging call answers.
enum TallyEventRecordStatus : int {
  // Not recorded: invalid event name or parameters, or an exception was caught.
  kTallyEventFailed = 0,
  kTallyEventRecorded = 1,
  // Not recorded: the session already counts 100 distinct event names.
  kTallyEventUniqueCountExceeded = 2,
  // Not recorded: more than 10 parameters.
  kTallyEventParamsCountExceeded = 3,
  // Not recorded in the event log: it already holds 1000 events.
  kTallyEventLogCountExceeded = 4,
  // No session exists yet: the event waits in the pre-session cache.
  kTallyEventLoggingDelayed = 5,
};

inline constexpr size_t kTallyMaxEventParameters = 10;
inline constexpr size_t kTallyMaxDistinctEventNames = 100;
inline constexpr size_t kTallyMaxLoggedEvents = 1000;

// An event logged before any session existed.
struct TallyPreCacheEvent {
  std::string eventName;
  std::optional<foundation::Dictionary> params;
  bool timed = false;

  friend bool operator==(const TallyPreCacheEvent&, const TallyPreCacheEvent&) = default;
};

// The operations of a session that the public interface sends.
class SessionSink {
 public:
  virtual ~SessionSink() = default;
  virtual void setUserID(const std::string& userId) = 0;
  virtual void setCrashReportingEnabled(bool enabled) = 0;
  // The status is decided at once, from the session's state at the time of the call.
  virtual TallyEventRecordStatus recordEvent(const std::string& name,
                                             const std::optional<foundation::Dictionary>& params,
                                             bool timed) = 0;
  virtual void pauseSession() = 0;
  virtual void markSessionAsResuming() = 0;
  virtual void resumeSession() = 0;
  // Returns once the session is saved: the process may end right after.
  virtual void endSession() = 0;
  virtual void sendSessionsToServerForCreateSession() = 0;
  // Counts a page view, unless one was counted 0.3 seconds or less before.
  virtual void maybeIncrementPageView() {}
  // The session's switches, copies of the settings.
  virtual void setEventLoggingEnabled(bool /*enabled*/) {}
  virtual void setSessionReportsOnCloseEnabled(bool /*enabled*/) {}
  virtual void setSessionReportsOnPauseEnabled(bool /*enabled*/) {}
  // The user's facts: a location (degrees, metres), "m" or "f", an age in years.
  virtual void setLocation(double /*latitude*/, double /*longitude*/, float /*horizontalAccuracy*/,
                           float /*verticalAccuracy*/) {}
  virtual void setGenderAsString(const std::string& /*gender*/) {}
  virtual void setAgeInYears(std::int32_t /*age*/) {}
  virtual void endTimedEvent(const std::string& /*name*/,
                             const std::optional<foundation::Dictionary>& /*params*/) {}
  // An error of the application (type 1 an error object, 2 an exception), with a live crash report
  // when crash reporting gave one.
  virtual void recordError(const std::string& /*errorId*/, const std::string& /*message*/,
                           const std::string& /*exceptionString*/, std::int32_t /*type*/,
                           const std::optional<foundation::Bytes>& /*liveReport*/) {}
  // Ends the session without waiting for it (the user opted out: the last block still goes).
  virtual void endSessionAsync() {}
};

// What a new session is made from.
struct SessionStart {
  std::string apiKey;
  foundation::Date startTime;
  // The session it replaces, nullptr for the first; it is archived by the new one.
  std::shared_ptr<SessionSink> previous;
  // Events logged before any session existed, oldest first; the new session records them.
  std::vector<TallyPreCacheEvent> cachedEvents;
};

class CurrentSession {
 public:
  using Factory = std::function<std::shared_ptr<SessionSink>(SessionStart start)>;

  CurrentSession() = delete;

  // The current session, nullptr until the first is set up.
  static std::shared_ptr<SessionSink> get();
  // When the current session was set up.
  static std::optional<foundation::Date> startTime();

  // Makes a new session for the key (starting now on the SDK's clock) with the events of the
  // pre-session cache, and makes it the current one.
  static void setupWithKey(const std::string& apiKey);
  // How sessions are made; an empty factory makes them through the session facade (TallyImpl).
  static void setFactory(Factory factory);

  // Records the event in the current session, or, while there is none, keeps it in the
  // pre-session cache (kTallyEventLoggingDelayed). An event that no session would record (an
  // empty name, too many parameters) is answered with its refusal at once, but cached all the same:
  // the session refuses it at replay and its event log says it is incomplete.
  static TallyEventRecordStatus recordOrCache(const std::string& name,
                                              const std::optional<foundation::Dictionary>& params,
                                              bool timed);
  // The events waiting for the first session.
  static std::vector<TallyPreCacheEvent> preCachedEvents();

  // Forgets the current session (the pre-session cache lives as long as the process, but a test
  // may empty it with clearPreCache).
  static void cleanup();
  static void clearPreCache();
};

}  // namespace analytics
