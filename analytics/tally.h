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
#include <string>
#include <string_view>

#include "analytics/session_sink.h"
#include "platform/foundation/value.h"

namespace analytics {

class Tally {
 public:
  Tally() = delete;

  // Starts analytics with the API key; a second call only logs (at level 1) and returns.
  static void startSession(std::string_view apiKey);
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

  // Ends the current session (the application's termination does it too).
  static void endSession();
  // Pauses the current session and remembers when.
  static void pauseSession();
  // Whether a session exists.
  static bool activeSessionExists();
  // "Tally_iOS_155_6.7.0".
  static std::string getTallyAgentVersion();
  static void setLogLevel(std::uint32_t level);

  // Releases the session and the settings and stops following the application, so analytics can
  // be started afresh (used between tests; nothing in the application calls it).
  static void shutdown();
};

}  // namespace analytics
