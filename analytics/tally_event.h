#pragma once
// What a session records besides its own times: named events (up to 10 string or number
// parameters, optionally timed) and errors reported by the application, and the rules by which a
// session accepts, counts, holds back and ends them (TallySessionEvents).
//
// Limits of one session: 10 parameters per event, 100 distinct event names, 1000 logged events, 10
// kept errors. An event beyond the name limit is neither counted nor logged; one beyond the log limit
// is counted only; an error beyond the error limit is counted in totalErrorCount only. Every refusal
// except a wrong argument type marks the event log incomplete, which the session report carries.
//
// Both record classes are keyed-archive classes ("TallyEvent", "TallyError"). Events are shared
// between the session queue and the public interface (which may end a timed event while it is being
// written), so their mutable fields are guarded by a lock. It is one lock for all events: a session's
// block writes up to a thousand records and takes it once for them all (a lock per event cost the
// block a fifth of its time), while events change seldom and hold it only for a few fields.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analytics/session_sink.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"

namespace analytics {

inline constexpr size_t kTallyMaxErrorsPerSession = 10;

// The session-level answer when a new event name exceeds the distinct-name limit (the facade turns
// it into kTallyEventUniqueCountExceeded for the caller).
inline constexpr TallyEventRecordStatus kTallyEventNotLogged = kTallyEventLogCountExceeded;

class TallyEvent : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyEvent";

  // Starts at `started` (now on the SDK's clock when not given) and takes the next event id.
  explicit TallyEvent(std::string name, bool timed = false,
                      const std::optional<foundation::Dictionary>& parameters = std::nullopt,
                      std::optional<foundation::Date> started = std::nullopt);
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  const std::string& name() const { return name_; }
  bool timed() const { return timed_; }
  foundation::Date started() const;
  std::optional<foundation::Date> ended() const;
  bool automaticallyEnded() const;
  // Nothing when the event has no parameters.
  std::optional<foundation::Dictionary> parameters() const;
  std::int32_t eventLogId() const;

  // Takes a fresh id from the event counter (an event taken over by a new session).
  void updateID();
  // Merges the parameters in: values that are neither strings nor numbers (booleans count as
  // numbers) are dropped; a merge that would leave more than 10 parameters changes nothing.
  void updateParameters(const std::optional<foundation::Dictionary>& parameters);
  void end(foundation::Date at, bool automatically);
  // Timed and not yet ended.
  bool isUnterminated() const;
  // Milliseconds from the session start to the event's start.
  std::int64_t startOffsetFromSessionStart(foundation::Date sessionStart) const;
  // Milliseconds from start to end for a timed, ended event; else 0.
  std::int64_t duration() const;
  // The event record of the session report.
  foundation::Bytes dataRelativeToSessionStart(foundation::Date sessionStart) const;
  // Appends the records of all the events, in order, under one taking of the lock: each record is
  // whole, as it stood before or after any change made meanwhile.
  static void appendRecords(std::span<const std::shared_ptr<TallyEvent>> events, foundation::Bytes& out,
                            foundation::Date sessionStart);

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallyEvent> initWithCoder(plist::Decoder& decoder);

 private:
  TallyEvent() = default;

  // The record's shape, worked out again whenever the name or the parameters change (with the
  // lock held, or before the event is shared), so that writing a record needs no look at each
  // value's kind first.
  void noteRecordShape();
  // With the lock held: the record written in place (only for a short one, at recordSize_ bytes),
  // and the record appended whatever it holds.
  std::uint8_t* putShortRecord(std::uint8_t* at, foundation::Date sessionStart) const;
  void appendRecord(foundation::Bytes& out, foundation::Date sessionStart) const;

  std::string name_;
  bool timed_ = false;
  foundation::Date started_;
  std::optional<foundation::Date> ended_;
  bool automaticallyEnded_ = false;
  std::optional<foundation::Dictionary> parameters_;
  std::int32_t eventLogId_ = 0;
  // Whether the record is short: string parameters only, and every text of it short enough to need
  // no cut (at most kTallyMaxStringUtf16Length bytes). Then recordSize_ is its size in bytes.
  bool shortRecord_ = true;
  std::size_t recordSize_ = 0;
};

class TallyError : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyError";
  enum Type : std::int32_t { kErrorObject = 1, kException = 2, kCrashAttachment = 3 };

  // Takes the next error id and the current time.
  TallyError();
  static std::shared_ptr<TallyError> errorWithString(std::string errorString, std::string message,
                                                     std::string exceptionString, std::int32_t type,
                                                     foundation::Bytes reportData);
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  std::int32_t errorID = 0;
  std::int32_t errorType = kException;
  foundation::Date date;
  std::string errorString;
  std::string errorMessage;
  std::string exceptionString = "nil";
  foundation::Bytes reportData;

  // Appends the error record of the session report.
  void appendToData(foundation::Bytes& out) const;
  std::string description() const;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallyError> initWithCoder(plist::Decoder& decoder);
};

// The event and error state of one session. Used from the session queue only.
class TallySessionEvents {
 public:
  using EventPtr = std::shared_ptr<TallyEvent>;
  using ErrorPtr = std::shared_ptr<TallyError>;

  // Counts per event name, in the order the names first came.
  std::vector<std::pair<std::string, std::int32_t>> eventCounts;
  std::vector<EventPtr> eventLog;
  // Events made while the session was paused.
  std::vector<EventPtr> pendingEventLog;
  bool eventLogComplete = true;
  bool eventLoggingEnabled = true;
  bool crashReportingEnabled = false;
  std::vector<ErrorPtr> errors;
  std::int32_t totalErrorCount = 0;

  // Decides the event's fate; `paused` holds it back in the pending log (kTallyEventLoggingDelayed).
  // `started` is when the application logged it (now when not given).
  TallyEventRecordStatus recordEvent(const std::string& name,
                                     const std::optional<foundation::Dictionary>& parameters, bool timed,
                                     bool paused, std::optional<foundation::Date> started = std::nullopt);
  TallyEventRecordStatus putEventIntoLog(const EventPtr& event);
  // Every pending event, in order, into the log.
  void mergePendingEventLog();
  // Pending events that started before the resume time; the rest stay pending.
  void mergeValidPendingEventLog(std::optional<foundation::Date> resumeTime);
  // Ends the first unterminated event of the name (log, then pending log); false when none.
  bool endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& parameters,
                     std::optional<foundation::Date> ended = std::nullopt);
  // Ends every unterminated (or earlier automatically ended) event at the session's end.
  void endTimedEvents(foundation::Date endTime);
  // Counts the error and keeps it while fewer than 10 are kept. A live report is kept only with crash
  // reporting on.
  void recordError(const std::string& errorId, const std::string& message, const std::string& exceptionString,
                   std::int32_t type, const std::optional<foundation::Bytes>& liveReport);
  // "%@: %@" of the two texts, "nil" when neither is given.
  static std::string exceptionText(const std::optional<std::string>& name,
                                   const std::optional<std::string>& reason);
  // The same of an error object's localised description and localised failure reason ("desc:
  // (null)" for an error without a reason); "nil" without an error.
  static std::string errorText(const std::optional<foundation::Error>& error);
  // Errors plus the sum of all event counts.
  std::int32_t totalEventCount() const;
  // After a send: the session starts its logs afresh; the pending log, which no block has carried
  // yet, is kept.
  void reset();
};

}  // namespace analytics
