#include "support/recording_session.h"

namespace analytics {

RecordingSession::RecordingSession(SessionStart start)
    : apiKey_(std::move(start.apiKey)),
      startTime_(start.startTime),
      replacedASession_(start.previous != nullptr) {
  for (const auto& cached : start.cachedEvents) recordEvent(cached.eventName, cached.params, cached.timed);
}

std::optional<std::string> RecordingSession::userID() const {
  std::lock_guard lock(mutex_);
  return userID_;
}

std::optional<bool> RecordingSession::crashReportingEnabled() const {
  std::lock_guard lock(mutex_);
  return crashReportingEnabled_;
}

std::vector<RecordingSession::Event> RecordingSession::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::string> RecordingSession::eventNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& event : events_) names.push_back(event.name);
  return names;
}

#define COUNTER(getter, field)           \
  int RecordingSession::getter() const { \
    std::lock_guard lock(mutex_);        \
    return field;                        \
  }
COUNTER(pauseCount, pauses_)
COUNTER(resumingMarkCount, resumingMarks_)
COUNTER(resumeCount, resumes_)
COUNTER(endCount, ends_)
COUNTER(sendCount, sends_)
#undef COUNTER

void RecordingSession::setUserID(const std::string& userId) {
  std::lock_guard lock(mutex_);
  userID_ = userId;
}

void RecordingSession::setCrashReportingEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  crashReportingEnabled_ = enabled;
}

TallyEventRecordStatus RecordingSession::recordEvent(const std::string& name,
                                                     const std::optional<foundation::Dictionary>& params,
                                                     bool timed) {
  std::lock_guard lock(mutex_);
  events_.push_back(Event{name, params, timed});
  return kTallyEventRecorded;
}

void RecordingSession::pauseSession() {
  std::lock_guard lock(mutex_);
  ++pauses_;
}

void RecordingSession::markSessionAsResuming() {
  std::lock_guard lock(mutex_);
  ++resumingMarks_;
}

void RecordingSession::resumeSession() {
  std::lock_guard lock(mutex_);
  ++resumes_;
}

void RecordingSession::endSession() {
  std::lock_guard lock(mutex_);
  ++ends_;
}

void RecordingSession::sendSessionsToServerForCreateSession() {
  std::lock_guard lock(mutex_);
  ++sends_;
}

}  // namespace analytics
