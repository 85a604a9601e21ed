#pragma once
// A session that keeps in memory what the public interface sends it, for the tests of that interface
// (argument checks, the pre-session cache, the application's lifecycle). It decides nothing: every
// event it is handed answers kTallyEventRecorded; the statuses of the real facade are tested on the
// facade itself. Thread-safe.

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
  };

  // Records the start's cached events first, in their order.
  explicit RecordingSession(SessionStart start);

  const std::string& apiKey() const { return apiKey_; }
  foundation::Date startTime() const { return startTime_; }
  // Whether this session replaced another.
  bool replacedASession() const { return replacedASession_; }

  std::optional<std::string> userID() const;
  std::optional<bool> crashReportingEnabled() const;
  // Every event handed to the session, in order.
  std::vector<Event> events() const;
  std::vector<std::string> eventNames() const;
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
  int pauses_ = 0;
  int resumingMarks_ = 0;
  int resumes_ = 0;
  int ends_ = 0;
  int sends_ = 0;
};

}  // namespace analytics
