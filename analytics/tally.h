#pragma once
// The application's only door into the analytics SDK: class operations, never an instance.
//
// Every operation checks its arguments, prints its diagnostics behind the SDK's log level
// (TallyUtil), catches every exception its work raises (handing it to TallyUtil::handleException)
// and then sends the work on: process-wide settings to TallyGlobalVariableStorage, session work to
// the current session (CurrentSession, session_sink.h), which does nothing until the first session
// exists, except that logged events wait for it in the pre-session cache.
//
// Arguments whose type the SDK checks at run time (event names, event parameters) are Values; the
// others are typed.
//
// startSession starts analytics once per process. Called while the application is launching
// (inactive), it waits for the end of the launch to create the first session; from then on it
// follows the application: resigning active pauses the session, becoming active again resumes it
// within the continue interval (10 seconds) or starts a new one, terminating ends it.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/session_sink.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace ui {
class ViewController;
}  // namespace ui

namespace analytics {

// Told of each new session (kept as a plain pointer; the application keeps it alive while set).
class TallyDelegate {
 public:
  virtual ~TallyDelegate() = default;
  // "apiKey" and "sessionId" of the session just made.
  virtual void tallySessionDidCreateWithInfo(const foundation::Dictionary& info) = 0;
};

class Tally {
 public:
  Tally() = delete;

  // Starts analytics with the API key; a second call only logs (at level 1) and returns.
  static void startSession(std::string_view apiKey);
  // setLaunchOptions with the options, then startSession.
  static void startSessionWithOptions(std::string_view apiKey, const foundation::Value& launchOptions);
  // What the application was launched with (a dictionary of the platform's launch-option keys; null
  // is ignored) joins the launch options that the uploads carry until the session's next finish (a
  // pause or the end). Each option becomes an array of texts: the URL and the source application
  // under their own keys, a remote notification or a location under the key with "Flag" appended,
  // the annotation's entries (parsePropertyList) under theirs; options of none of these kinds are
  // taken entry by entry.
  static void setLaunchOptions(const foundation::Value& launchOptions);
  // A dictionary, or an array of them, entry by entry (parseDictionary); anything else is ignored.
  static void parsePropertyList(const foundation::Value& propertyList);
  // Each entry as an array of texts under its key: a text as it is, a number as its digits, a date as
  // milliseconds since 1970, an array element by element (other kinds skipped); an entry that gives
  // no text is not kept.
  static void parseDictionary(const foundation::Dictionary& dictionary);
  // The version reported with the sessions; only before the first session exists.
  static void setAppVersion(std::string_view version);
  // The user identifier sent with the sessions.
  static void setUserID(std::string_view userId);
  // Read by startSession: it must come before it to switch the crash reporter on.
  static void setCrashReportingEnabled(bool enabled);

  // Records the named event (text) with its parameters (null, or a dictionary of at most 10 text
  // keys), or keeps it until a session exists. Raises nothing; the answer says what happened.
  static TallyEventRecordStatus logEvent(const foundation::Value& eventName);
  static TallyEventRecordStatus logEventWithParameters(const foundation::Value& eventName,
                                                       const foundation::Value& parameters);
  static TallyEventRecordStatus logEventWithParametersTimed(const foundation::Value& eventName,
                                                            const foundation::Value& parameters, bool timed);

  // Counts one page view for the current session (nothing before the first session).
  static void logPageView();
  // Counts the page views of a navigation or tab-bar controller (anything else is ignored): a screen
  // shown, a tab selected. logAllPageViews installs for good; ...ForTarget keeps following the
  // controller's delegate until stopLogPageViewsForTarget.
  static void logAllPageViews(const std::shared_ptr<ui::ViewController>& controller);
  static void logAllPageViewsForTarget(const std::shared_ptr<ui::ViewController>& controller);
  static void stopLogPageViewsForTarget(const ui::ViewController* controller);

  // Settings that every session takes (the current one too).
  static void setSessionReportsOnCloseEnabled(bool enabled);
  static void setSessionReportsOnPauseEnabled(bool enabled);
  // With background sessions, resigning active does not pause the session.
  static void setBackgroundSessionEnabled(bool enabled);
  static void setEventLoggingEnabled(bool enabled);
  // How long a paused session may wait for the application's return (10 seconds at first).
  static void setSessionContinueSeconds(std::int32_t seconds);
  static std::int32_t sessionContinueSeconds();
  // How many finished session blocks wait at most for the next hand-over (50 at first).
  static void setMaxSessionsSaved(std::int32_t count);
  static void setDebugLogEnabled(bool enabled);
  static void setShowErrorInLogEnabled(bool enabled);

  // The user's facts: "m" or "f" (text only), age in years (1 to 150), a location.
  static void setGender(const foundation::Value& gender);
  static void setAge(std::int32_t years);
  static void setLatitudeLongitude(double latitude, double longitude, float horizontalAccuracy,
                                   float verticalAccuracy);

  // Where the session came from (texts only; anything else is refused with a log line).
  static void addSessionOrigin(const foundation::Value& name);
  static void addSessionOriginWithDeepLink(const foundation::Value& name, const foundation::Value& deepLink);
  static void addOriginWithVersion(const foundation::Value& name, const foundation::Value& version,
                                   const foundation::Value& parameters = foundation::Value());
  // At most 20 properties; null clears them.
  static void sessionProperties(const foundation::Value& properties);

  // Straight to the session, never cached: kTallyEventFailed while no session exists.
  static TallyEventRecordStatus logEventTimed(const foundation::Value& eventName, bool timed);
  static void endTimedEvent(const foundation::Value& eventName, const foundation::Value& parameters);
  // An error the application met, with the exception (type 2) or error (type 1) behind it.
  static void logErrorWithException(const foundation::Value& errorId, const foundation::Value& message,
                                    const std::exception* exception);
  static void logErrorWithError(const foundation::Value& errorId, const foundation::Value& message,
                                const std::optional<foundation::Error>& error);

  // Opting out ends the current session; its block still goes, nothing after it.
  static void setTallyOptOut(bool optOut);
  static bool hasUserOptedOut();
  static void setServerURL(std::string_view url);
  static void setRelayServerURL(std::string_view url);
  static void setRelayEnabled(bool enabled);
  static void setAppCloudServerToStaging(bool staging);
  static void setSecureTransportEnabledDeprecated(bool secure);
  static void setDelegate(TallyDelegate* delegate);
  // Always true.
  static bool sendUsageInfo();
  // The current session's start in whole milliseconds since 1970; "0" before the first session.
  static std::string getSessionID();

  // Ends the current session (the application's termination does it too).
  static void endSession();
  // Pauses the current session and remembers when.
  static void pauseSession();
  // Pauses only while the application is in the background.
  static void pauseBackgroundSession();
  // Whether a session exists.
  static bool activeSessionExists();
  // "Tally_iOS_155_6.7.0".
  static std::string getTallyAgentVersion();
  static void setLogLevel(std::uint32_t level);

  // Waits for the session queue (so an ended session is on disk), releases the session, the Relay
  // controller, the watch interface and the settings and stops following the application, so
  // analytics can be started afresh. The diary calls it on its way out, after the termination ended
  // the session.
  static void shutdown();
};

}  // namespace analytics
