#pragma once
// The analytics interface for code inside a watch extension, where Tally::startSession is refused:
// TallyWatch takes its API key from the bundle's information property list ("Tally Watch API Key")
// instead of a start call, checks each call on the caller's thread, and hands the work to the watch
// session on a serial queue of its own ("com.Tally.WatchAnalytics.Session"), on which the upload
// queue of the watch also runs.
//
//   logWatchEvent(...)  caller's thread: key? in an extension? name text, not empty? <= 10 params?
//        └─► watch queue: session->recordWatchEvent(name, params)        answer 1 at once
//   logWatchError*(...) caller's thread: the same checks, the live report (crash reporting on)
//        └─► watch queue: session->recordWatchError(id, message, text, type, report)
//
// Every refusal is logged (level 2) and starts no queue work. The key and the queue are made once per
// process; reset() forgets both (tests and shutdown).
//
// What the watch session is: the session layer's process-wide watch session (its own archives,
// thresholds and expiry). It is reached through the provider installed with setSessionProvider; with
// none installed, queued work finds no session and records nothing.

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/session_sink.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/runtime/serial_queue.h"

namespace analytics {

inline constexpr std::string_view kTallyWatchApiKeyInfoKey = "Tally Watch API Key";
inline constexpr std::string_view kTallyWatchQueueLabel = "com.Tally.WatchAnalytics.Session";

// The operations of the watch session that the watch interface sends, on the watch queue.
class TallyWatchSession {
 public:
  virtual ~TallyWatchSession() = default;
  virtual TallyEventRecordStatus recordWatchEvent(const std::string& name,
                                                  const std::optional<foundation::Dictionary>& params) = 0;
  // `type` is TallyError's (1 error object, 2 exception); `liveReport` is empty without one.
  virtual void recordWatchError(const std::string& errorId, const std::string& message,
                                const std::string& exceptionString, std::int32_t type,
                                const foundation::Bytes& liveReport) = 0;
};

class TallyWatch {
 public:
  TallyWatch() = delete;

  using SessionProvider = std::function<std::shared_ptr<TallyWatchSession>()>;
  // How queued work finds the current watch session (the session layer installs it).
  static void setSessionProvider(SessionProvider provider);

  // The key under "Tally Watch API Key" of the main bundle's information property list, read once;
  // a key found is handed to the settings (setApiKey). Nothing when absent.
  static std::optional<std::string> apiKey();
  // The watch queue, made once; its first work sets up the upload queue on it.
  static runtime::SerialQueue& queue();

  static TallyEventRecordStatus logWatchEvent(const foundation::Value& name);
  // 0 refused, 1 handed to the session, 3 more than 10 parameters.
  static TallyEventRecordStatus logWatchEventWithParameters(const foundation::Value& name,
                                                            const foundation::Value& parameters);
  static void logWatchErrorWithException(const foundation::Value& errorId, const foundation::Value& message,
                                         const std::exception* exception);
  static void logWatchErrorWithError(const foundation::Value& errorId, const foundation::Value& message,
                                     const std::optional<foundation::Error>& error);

  // Whether the process runs inside a watch extension (TallyUtil::isInWatchExtension unless a test
  // installs another answer; nullptr restores it).
  static void setExtensionCheck(std::function<bool()> check);
  // Waits for the watch queue's work, then forgets the key, the queue and the provider.
  static void reset();
};

}  // namespace analytics
