#pragma once
// A session that keeps in memory what it is told: the stand-in for the session layer until that is
// built, and what tests read to see what the public interface sent. Its event statuses follow the
// session facade's rules (an empty name, too many parameters, too many distinct names, a full event
// log); an event it answers kTallyEventRecorded counts toward the last two. Thread-safe.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/session_sink.h"

namespace analytics {

class RecordingSession : public SessionSink {
 public:
  struct Event {
    std::string name;
    std::optional<foundation::Dictionary> params;
    bool timed = false;
    TallyEventRecordStatus status = kTallyEventFailed;
  };

  // Records the start's cached events first, in their order.
  explicit RecordingSession(SessionStart start);

  const std::string& apiKey() const { return apiKey_; }
  foundation::Date startTime() const { return startTime_; }
  // Whether this session replaced another.
  bool replacedASession() const { return replacedASession_; }

  std::optional<std::string> userID() const;
  std::optional<bool> crashReportingEnabled() const;
  // Every event handed to the session, with the status it answered.
  std::vector<Event> events() const;
  // The names of the events it recorded (status kTallyEventRecorded), in order.
  std::vector<std::string> recordedEventNames() const;
  int pauseCount() const;
  int resumingMarkCount() const;
  int resumeCount() const;
  int endCount() const;
  int sendCount() const;

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

 private:
  const std::string apiKey_;
  const foundation::Date startTime_;
  const bool replacedASession_;

  mutable std::mutex mutex_;
  std::optional<std::string> userID_;
  std::optional<bool> crashReportingEnabled_;
  std::vector<Event> events_;
  std::vector<std::string> distinctNames_;
  size_t logged_ = 0;
  int pauses_ = 0;
  int resumingMarks_ = 0;
  int resumes_ = 0;
  int ends_ = 0;
  int sends_ = 0;
};

}  // namespace analytics
