#pragma once
// One analytics session and the facade that runs every session operation on the session queue.
//
//   start ─► running ─pause─► paused ─resume (within the continue interval)─► running
//                 │              └─ replaced by a new session: its block joins the saved sessions
//                 └─end─► its block is handed to the upload queue, the archive removed
//
// The running session is archived ("<SDK folder>/.tallyCurrent<k>_155.archive") at its start, at
// every pause, resume, error, location and reset, so a process that is killed leaves it behind (with
// the events recorded up to its last save: events alone do not rewrite the archive, which would make
// each event of a long session cost more than the one before); the next start puts that session's block among
// the saved sessions ("<SDK folder>/.tallyStored<k>_155.archive", a keyed archive of the blocks) and hands
// them all to the upload queue (data_sender.h). A session is reported at its creation (its start), at
// a pause when reports on pause are on, at its end when reports on close are on, and once more, from
// the saved sessions, with the next start (after an end, or when a new session replaces it): each
// block carries what happened since the one before, and an end is reported even when nothing
// happened since the last send. Promises:
//  - a pending crash report is purged only once the session carrying it is written to disk, and it
//    is attached at the next start whether or not a left-behind session is found;
//  - every archive is written atomically.
//
// A watch extension has a session of its own instead (currentWatchSession): archived apart
// ("<SDK folder>/.tallyCurrentWatch<k>_155.archive", with its event and error counters in
// ".tallyCurrentWatchAutoIncrement<k>_155.archive"), made from the bundle's "Tally Watch ..." entries,
// and ended (its block handed to the upload queue) once it holds as many events as its event
// threshold or is older than its duration threshold. TallyWatch (watch_tally.h) reaches it through the
// provider installWatchSessionProvider installs; its work runs on the watch queue.
//
// Threads: TallySession methods run on the session queue only. TallyImpl may be called from any
// thread; it queues the work (endSession and recordEvent wait for it).

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/data_sender.h"
#include "analytics/session_report.h"
#include "analytics/session_sink.h"
#include "platform/plist/keyed_archive.h"
#include "platform/runtime/serial_queue.h"

namespace analytics {

inline constexpr std::string_view kTallySessionQueueLabel = "com.Tally.Analytics.Session";
inline constexpr std::string_view kTallySessionStartedNotification = "TallySessionStarted";
inline constexpr std::int32_t kTallySessionSerializationVersion = 7;

class TallySession : public plist::Archivable,
                     public TallyDataSenderDelegate,
                     public std::enable_shared_from_this<TallySession> {
 public:
  static constexpr std::string_view kClassName = "TallySession";
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  // A new session: a session left behind by the previous process, with the pending crash report when
  // there is one, joins the saved sessions first; then the pre-session events are recorded.
  static std::shared_ptr<TallySession> sessionWithApiKey(const std::string& apiKey,
                                                         foundation::Date startTime,
                                                         const std::vector<TallyPreCacheEvent>& cached = {});
  static std::shared_ptr<TallySession> initWithAPIKey(const std::string& apiKey,
                                                      const std::string& appVersion,
                                                      foundation::Date startDate);

  static std::filesystem::path sessionsFilePath();
  static std::filesystem::path currentSessionFilePath();
  static void removeCurrentSessionFile();
  // The blocks waiting for the next hand-over, oldest first.
  static std::vector<foundation::Bytes> savedSessions();
  static foundation::Status setSavedSessions(const std::vector<foundation::Bytes>& blocks);
  static void setMaxSessions(std::int32_t limit);
  // The session archived in the current file, its switches taken from the settings; nothing when
  // absent, unreadable or of another serialization version.
  static std::shared_ptr<TallySession> restoreCurrent();

  // ---- The watch session (one per process; its methods run on the watch queue)
  static std::filesystem::path currentWatchSessionFilePath();
  static std::filesystem::path currentWatchAutoIncrementFilePath();
  // The watch session: the one in memory, else the archived one; one older than its duration
  // threshold is ended first; when none is left a new one is made from the bundle's entries (nothing
  // without "Tally Watch API Key").
  static std::shared_ptr<TallySession> currentWatchSession();
  // After each watch event or error: saved while below the event threshold, ended at it.
  static void finishWatchEvent();
  // Finishes the watch session, hands its block to the upload queue and forgets it, files and counters.
  static void endWatchSession();
  static bool hasWatchSessionExpired();
  static foundation::Status saveWatchSessionToDisk();
  static void clearWatchSessionOnDisk();
  // Forgets the watch session in memory (its archive stays), as when the process ends.
  static void forgetWatchSession();
  // Lets TallyWatch reach the watch session: each event or error recorded, then finishWatchEvent.
  static void installWatchSessionProvider();
  TallyEventRecordStatus recordWatchEvent(const std::string& name,
                                          const std::optional<foundation::Dictionary>& params);
  void recordWatchError(const std::string& errorId, const std::string& message,
                        const std::string& exceptionString, std::int32_t type,
                        const foundation::Bytes& liveReport);
  std::int32_t watchEventThreshold() const { return watchEventThreshold_; }
  std::int32_t watchDurationThreshold() const { return watchDurationThreshold_; }
  const std::string& watchAppVersion() const { return watchAppVersion_; }

  // A new session for the key that takes over the events this (replaced) session still holds as
  // pending; it starts no later than the earliest of them.
  std::shared_ptr<TallySession> sessionWithNewEventsWithApiKey(
      const std::string& apiKey, foundation::Date startTime,
      const std::vector<TallyPreCacheEvent>& cached = {});

  // Back to an empty session at its start time: no events, errors or facts; the locale, the time
  // zone and the start's device statistics taken afresh; saved.
  void resetSessionData();
  // After a send: the event logs, errors, page views and crash report start afresh, the device
  // statistics are taken again as at a start; saved. Events held back during a pause stay: the
  // block just sent did not carry them, and the return (or the end) decides where they go.
  void resetEventLogs();
  // Writes the device statistics into the session parameters: memory, disk and boot time always;
  // the used memory, CPU load and battery with ".start" (phase 0) or ".end" (phase 1).
  void getSessionParametersAtPhase(std::int32_t phase);
  // Each takes the time of the application event that caused it.
  void pauseSession(foundation::Date at);
  void markSessionAsResuming(foundation::Date at);
  void resumeSession(foundation::Date at);
  // The facade replaces this paused session by a new one.
  void archiveSession();
  void endSession(foundation::Date at);
  void finishSession(foundation::Date at);
  foundation::Status saveToDisk();
  void sendSessionsToServerIncludingCurrentSession(bool includeCurrent);
  void sendSessionsToServerForCreateSession();
  foundation::Status addToSavedSessions();
  TallyEventRecordStatus recordEvent(const std::string& name,
                                     const std::optional<foundation::Dictionary>& params, bool timed,
                                     std::optional<foundation::Date> started = std::nullopt);
  void maybeIncrementPageView(foundation::Date at);
  void endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params,
                     std::optional<foundation::Date> ended = std::nullopt);
  void recordError(const std::string& errorId, const std::string& message, const std::string& exceptionString,
                   std::int32_t type, const std::optional<foundation::Bytes>& liveReport);
  // Kept with the session (saved at once); the report does not carry purchase items. Null is ignored.
  void recordPurchaseItem(const foundation::Value& item);
  const std::vector<foundation::Value>& purchaseItems() const { return purchaseItems_; }
  // Degrees and metres, kept at reduced precision; the accuracy is the mean of the two given.
  void setLocation(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy);
  // "m" 1, "f" 0, anything else not set.
  void setGenderAsString(const std::string& gender);
  // 1 January, local midnight, of the year `age` years before the year of `now`; ages outside 1 to 150
  // change nothing.
  void setAgeInYears(std::int32_t age, foundation::Date now);
  // The first time the SDK ran with this key, kept in the keychain ("com.tally.analytics"); a key
  // other than the one kept there starts the count afresh.
  foundation::Date initialTimestamp();
  static std::filesystem::path initialTimestampFilePath();

  // Read on any thread: the facade decides an event's status from them while the queue records.
  size_t distinctEventNameCount() const { return distinctNames_.load(); }
  size_t loggedEventCount() const { return loggedEvents_.load(); }

  void setUserID(const std::string& userId);
  void setCrashReportingEnabled(bool enabled);
  void setEventLoggingEnabled(bool enabled);
  void setSessionReportsOnCloseEnabled(bool enabled);
  void setSessionReportsOnPauseEnabled(bool enabled);
  bool sessionReportsOnCloseEnabled() const { return reportsOnClose_; }
  bool sessionReportsOnPauseEnabled() const { return reportsOnPause_; }

  bool isPaused() const { return pauseTime_.has_value(); }
  std::optional<foundation::Date> pauseTime() const { return pauseTime_; }
  bool crashed() const { return crashed_; }
  const std::string& apiKey() const { return apiKey_; }
  TallySessionReport& report() { return report_; }
  std::int64_t totalPauseIntervalMillis() const { return report_.totalPauseIntervalMillis; }

  // TallyDataSenderDelegate
  std::optional<TallyEnvelope> prepareForSendingSessions(
      const std::vector<foundation::Bytes>& blocks) override;

  // plist::Archivable
  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallySession> initWithCoder(plist::Decoder& decoder);

  // A session that is still the upload queue's delegate lets go of it.
  ~TallySession() override;

 private:
  TallySession() = default;
  // Makes this session the one that wraps the upload queue's blocks.
  void becomeDelegateOf(const std::shared_ptr<TallyDataSender>& sender);
  static std::shared_ptr<TallySession> made(const std::string& apiKey, const std::string& appVersion,
                                            foundation::Date startDate, bool watch);
  static std::shared_ptr<TallySession> restoreFrom(const std::filesystem::path& path);
  static std::shared_ptr<TallySession> makeWatchSession();
  static foundation::Status saveWatchSessionToDisk(const std::shared_ptr<TallySession>& session);
  void takeSwitchesFromSettings();
  // Publishes the two counts the facade reads.
  void publishCounts();

  std::string apiKey_;
  TallySessionReport report_;
  std::vector<foundation::Value> purchaseItems_;
  std::optional<foundation::Date> pauseTime_;
  std::optional<foundation::Date> resumeTime_;
  bool crashed_ = false;
  bool reportsOnClose_ = true;
  bool reportsOnPause_ = false;
  // Ended: a second end (termination, then the quit path) or a pause after it does nothing.
  bool ended_ = false;
  // The watch session: archived to the watch file, without the do-not-back-up mark.
  bool watch_ = false;
  std::string watchAppVersion_;
  std::int32_t watchEventThreshold_ = 0;
  // Minutes.
  std::int32_t watchDurationThreshold_ = 0;
  std::atomic<size_t> distinctNames_{0};
  std::atomic<size_t> loggedEvents_{0};
  // The sender this session was made the delegate of.
  std::weak_ptr<TallyDataSender> sender_;
};

// The one facade: owns the current session and the session queue. Every operation is queued and the
// caller returns at once, except endSession (which waits, so the session is saved before the process
// ends), the getters (which wait for the answer) and the event calls, whose status is decided on the
// caller's thread from the session's counts at that moment while the event itself is queued. Each new
// session numbers its events and errors from 1. The pause runs inside a background task of the
// application, begun on the caller's (main) thread and ended there once the session is paused.
class TallyImpl : public SessionSink {
 public:
  // The process-wide facade, made with its queue on first use.
  static std::shared_ptr<TallyImpl> instance();
  // What CurrentSession makes sessions with: each new session is set up through this facade.
  static CurrentSession::Factory sessionFactory();
  // Makes the factory of CurrentSession build real sessions through this facade, and TallyWatch reach
  // the watch session.
  static void install();
  // Whether the facade was installed or made a session in this process.
  static bool isInstalled();
  // Waits for the queue, forgets the session and the upload queue (tests and shutdown).
  static void cleanup();
  // On SIGTERM or SIGINT the session is ended (as at termination) before the process leaves by the
  // same signal: nothing else keeps the process alive for it. Installed once; later calls do nothing.
  static foundation::Status endSessionOnTerminationSignals();

  using BackgroundTaskId = std::uint64_t;

  runtime::SerialQueue& queue() { return queue_; }
  // Whether the application can run background tasks (from system version 4.0); set at creation.
  bool isBackgroundSupported() const { return isBackgroundSupported_; }
  // A background task with an expiration handler that does nothing, or the invalid identifier 0 when
  // background tasks are not supported; unregisterBackgoundTask ends a valid one. Main thread only
  // (the application's tasks belong to it).
  static BackgroundTaskId registerBackgoundTask();
  static void unregisterBackgoundTask(BackgroundTaskId task);
  // The key and start time of the session set up last (nothing before the first).
  std::string apiKey() const;
  std::optional<foundation::Date> startTime() const;
  // Start time := now.
  void resetStartDate();
  // Archives the current session, if any, and makes a new one on the queue.
  void setupForApiKey(const std::string& apiKey, foundation::Date startTime,
                      std::vector<TallyPreCacheEvent> cachedEvents);
  // The current session; read under the lock, so any thread may ask.
  std::shared_ptr<TallySession> session() const;
  // Waits until the work queued so far has run.
  void flush();

  // SessionSink
  void setUserID(const std::string& userId) override;
  void setCrashReportingEnabled(bool enabled) override;
  TallyEventRecordStatus recordEvent(const std::string& name,
                                     const std::optional<foundation::Dictionary>& params,
                                     bool timed) override;
  void pauseSession() override;
  void markSessionAsResuming() override;
  void resumeSession() override;
  void endSession() override;
  void sendSessionsToServerForCreateSession() override;
  void maybeIncrementPageView() override;
  void setEventLoggingEnabled(bool enabled) override;
  void setSessionReportsOnCloseEnabled(bool enabled) override;
  void setSessionReportsOnPauseEnabled(bool enabled) override;
  void setLocation(double latitude, double longitude, float horizontalAccuracy,
                   float verticalAccuracy) override;
  void setGenderAsString(const std::string& gender) override;
  void setAgeInYears(std::int32_t age) override;
  void endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params) override;
  void recordError(const std::string& errorId, const std::string& message, const std::string& exceptionString,
                   std::int32_t type, const std::optional<foundation::Bytes>& liveReport) override;
  void endSessionAsync() override;
  void recordPurchaseItem(const foundation::Value& item);

  // The current session's values, read on the queue after everything sent before (the caller
  // waits); 0, -1 (gender) or nothing while there is no session. Never from the queue itself.
  double latitude();
  double longitude();
  float accuracy();
  std::int32_t gender();
  std::optional<foundation::Date> age();
  std::int32_t pageViewCount();
  std::optional<foundation::Date> pauseTime();
  std::optional<foundation::Date> endTime();
  std::int64_t totalPauseIntervalMillis();

  TallyImpl();

 private:
  void onSession(std::function<void(TallySession&)> work);
  template <class T, class Read>
  T readSession(T none, Read read);

  runtime::SerialQueue queue_;
  const bool isBackgroundSupported_;
  mutable std::mutex mutex_;
  std::shared_ptr<TallySession> session_;
  std::string apiKey_;
  std::optional<foundation::Date> startTime_;
};

}  // namespace analytics
