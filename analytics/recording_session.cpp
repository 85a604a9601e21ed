#include "analytics/recording_session.h"

#include <algorithm>

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

std::vector<std::string> RecordingSession::recordedEventNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& event : events_) {
    if (event.status == kTallyEventRecorded) names.push_back(event.name);
  }
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
  TallyEventRecordStatus status = kTallyEventRecorded;
  if (name.empty()) {
    status = kTallyEventFailed;
  } else if (params && params->size() > kTallyMaxEventParameters) {
    status = kTallyEventParamsCountExceeded;
  } else if (distinctNames_.size() >= kTallyMaxDistinctEventNames) {
    status = kTallyEventUniqueCountExceeded;
  } else if (logged_ >= kTallyMaxLoggedEvents) {
    status = kTallyEventLogCountExceeded;
  }
  if (status == kTallyEventRecorded) {
    ++logged_;
    if (std::find(distinctNames_.begin(), distinctNames_.end(), name) == distinctNames_.end()) {
      distinctNames_.push_back(name);
    }
  }
  events_.push_back(Event{name, params, timed, status});
  return status;
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
