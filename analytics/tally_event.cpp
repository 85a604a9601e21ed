#include "analytics/tally_event.h"

#include <algorithm>

#include "analytics/auto_increment.h"
#include "analytics/protocol_data.h"
#include "analytics/tally_util.h"
#include "platform/foundation/text.h"

namespace analytics {
namespace {

foundation::Date now() { return TallyUtil::clock().now(); }

// The platform's booleans are numbers (a YES goes out as "1"); ours are a kind of their own.
bool isParameterValue(const foundation::Value& value) {
  return value.isString() || value.isNumber() || value.boolean();
}

// The lock over every event's mutable fields (see the header). Constant-initialised, so an event
// made during static initialisation finds it ready.
std::mutex eventFields;

}  // namespace

// ---- TallyEvent

TallyEvent::TallyEvent(std::string name, bool timed, const std::optional<foundation::Dictionary>& parameters,
                       std::optional<foundation::Date> started)
    : name_(std::move(name)), timed_(timed) {
  noteRecordShape();
  updateParameters(parameters);
  started_ = started.value_or(now());
  updateID();
}

void TallyEvent::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& decoder) -> plist::ObjectPtr { return initWithCoder(decoder); });
}

foundation::Date TallyEvent::started() const {
  std::lock_guard lock(eventFields);
  return started_;
}

std::optional<foundation::Date> TallyEvent::ended() const {
  std::lock_guard lock(eventFields);
  return ended_;
}

bool TallyEvent::automaticallyEnded() const {
  std::lock_guard lock(eventFields);
  return automaticallyEnded_;
}

std::optional<foundation::Dictionary> TallyEvent::parameters() const {
  std::lock_guard lock(eventFields);
  return parameters_;
}

std::int32_t TallyEvent::eventLogId() const {
  std::lock_guard lock(eventFields);
  return eventLogId_;
}

void TallyEvent::updateID() {
  std::int32_t id = TallyAutoIncrement::instance()->nextCountFor(kTallyEventCounter);
  std::lock_guard lock(eventFields);
  eventLogId_ = id;
}

void TallyEvent::updateParameters(const std::optional<foundation::Dictionary>& parameters) {
  if (!parameters || parameters->empty()) return;
  std::lock_guard lock(eventFields);
  foundation::Dictionary merged = parameters_.value_or(foundation::Dictionary{});
  for (const auto& [key, value] : *parameters)
    if (isParameterValue(value)) merged.set(key, value);
  if (merged.size() > kTallyMaxEventParameters) return;
  parameters_ = std::move(merged);
  noteRecordShape();
}

void TallyEvent::end(foundation::Date at, bool automatically) {
  std::lock_guard lock(eventFields);
  ended_ = at;
  if (automatically) automaticallyEnded_ = true;
}

bool TallyEvent::isUnterminated() const {
  std::lock_guard lock(eventFields);
  return timed_ && !ended_;
}

std::int64_t TallyEvent::startOffsetFromSessionStart(foundation::Date sessionStart) const {
  return TallyProtocolData::timeIntervalFrom(sessionStart, started());
}

std::int64_t TallyEvent::duration() const {
  std::lock_guard lock(eventFields);
  if (!timed_ || !ended_) return 0;
  return TallyProtocolData::timeIntervalFrom(started_, ended_);
}

void TallyEvent::noteRecordShape() {
  shortRecord_ = name_.size() <= kTallyMaxStringUtf16Length;
  recordSize_ = 2 + 2 + name_.size() + 2 + 8 + 8;
  if (!parameters_) return;
  for (const auto& [key, value] : *parameters_) {
    const std::string* text = value.string();
    shortRecord_ = shortRecord_ && text && key.size() <= kTallyMaxStringUtf16Length &&
                   text->size() <= kTallyMaxStringUtf16Length;
    if (!shortRecord_) return;
    recordSize_ += 2 + key.size() + 2 + text->size();
  }
}

std::uint8_t* TallyEvent::putShortRecord(std::uint8_t* at, foundation::Date sessionStart) const {
  using P = TallyProtocolData;
  at = P::putBigEndian<2>(static_cast<std::uint16_t>(eventLogId_), at);
  at = P::putShortString(name_, at);
  at = P::putBigEndian<2>(parameters_ ? parameters_->size() : 0, at);
  if (parameters_) {
    for (const auto& [key, value] : *parameters_) {
      at = P::putShortString(key, at);
      at = P::putShortString(*value.string(), at);
    }
  }
  at = P::putBigEndian<8>(static_cast<std::uint64_t>(P::timeIntervalFrom(sessionStart, started_)), at);
  return P::putBigEndian<8>(
      static_cast<std::uint64_t>(timed_ && ended_ ? P::timeIntervalFrom(started_, ended_) : 0), at);
}

void TallyEvent::appendRecord(foundation::Bytes& out, foundation::Date sessionStart) const {
  if (shortRecord_) {
    const std::size_t at = out.size();
    out.resize(at + recordSize_);
    putShortRecord(out.data() + at, sessionStart);
    return;
  }
  // Written straight from the fields: copying the parameters out first would cost more than this.
  using P = TallyProtocolData;
  P::appendUshort(static_cast<std::uint16_t>(eventLogId_), out);
  P::appendString(name_, out);
  P::appendUshort(parameters_ ? static_cast<std::int64_t>(parameters_->size()) : 0, out);
  if (parameters_) {
    for (const auto& [key, value] : *parameters_) {
      P::appendString(key, out);
      if (const std::string* text = value.string()) {
        P::appendString(*text, out);
      } else {
        P::appendString(value.description(), out);
      }
    }
  }
  P::appendLong(P::timeIntervalFrom(sessionStart, started_), out);
  P::appendLong(timed_ && ended_ ? P::timeIntervalFrom(started_, ended_) : 0, out);
}

void TallyEvent::appendRecords(std::span<const std::shared_ptr<TallyEvent>> events, foundation::Bytes& out,
                               foundation::Date sessionStart) {
  std::lock_guard lock(eventFields);
  for (const auto& event : events) event->appendRecord(out, sessionStart);
}

foundation::Bytes TallyEvent::dataRelativeToSessionStart(foundation::Date sessionStart) const {
  foundation::Bytes out;
  std::lock_guard lock(eventFields);
  appendRecord(out, sessionStart);
  return out;
}

void TallyEvent::encodeWithCoder(plist::Coder& coder) const {
  std::lock_guard lock(eventFields);
  coder.encodeString("name", name_);
  coder.encodeDate("started", started_);
  coder.encodeValue("ended", ended_ ? foundation::Value(*ended_) : foundation::Value());
  coder.encodeBool("timed", timed_);
  coder.encodeValue("parameters", parameters_ ? foundation::Value(*parameters_) : foundation::Value());
  coder.encodeBool("automaticallyEnded", automaticallyEnded_);
  coder.encodeInt("eventLogId", eventLogId_);
}

std::shared_ptr<TallyEvent> TallyEvent::initWithCoder(plist::Decoder& decoder) {
  std::shared_ptr<TallyEvent> event(new TallyEvent());
  auto name = decoder.decodeString("name");
  auto started = decoder.decodeDate("started");
  if (!name || !started) {
    decoder.fail("an event without name or start");
    return nullptr;
  }
  event->name_ = std::move(*name);
  event->noteRecordShape();
  event->started_ = *started;
  event->ended_ = decoder.decodeDate("ended");
  event->timed_ = decoder.decodeBool("timed").value_or(false);
  event->automaticallyEnded_ = decoder.decodeBool("automaticallyEnded").value_or(false);
  foundation::Value parameters = decoder.decodeValue("parameters");
  if (parameters.isDictionary()) {
    // The same rules as for parameters handed over live: a damaged file cannot smuggle in more.
    event->updateParameters(*parameters.dictionary());
  } else if (!parameters.isNull()) {
    decoder.fail("event parameters that are no dictionary");
    return nullptr;
  }
  auto id = decoder.decodeInteger("eventLogId").value_or(0);
  event->eventLogId_ = static_cast<std::int32_t>(id);
  return event;
}

// ---- TallyError

TallyError::TallyError()
    : errorID(TallyAutoIncrement::instance()->nextCountFor(kTallyErrorCounter)), date(now()) {}

std::shared_ptr<TallyError> TallyError::errorWithString(std::string errorString, std::string message,
                                                        std::string exceptionString, std::int32_t type,
                                                        foundation::Bytes reportData) {
  auto error = std::make_shared<TallyError>();
  error->errorString = std::move(errorString);
  error->errorMessage = std::move(message);
  error->exceptionString = std::move(exceptionString);
  error->errorType = type;
  error->reportData = std::move(reportData);
  return error;
}

void TallyError::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& decoder) -> plist::ObjectPtr { return initWithCoder(decoder); });
}

void TallyError::appendToData(foundation::Bytes& out) const {
  TallyProtocolData::appendUshort(static_cast<std::uint16_t>(errorID), out);
  TallyProtocolData::appendTimestamp(date, out);
  TallyProtocolData::appendString(errorString, out);
  TallyProtocolData::appendString(errorMessage, out);
  TallyProtocolData::appendString(exceptionString, out);
  TallyProtocolData::appendByte(errorType, out);
  TallyProtocolData::appendByte(reportData.empty() ? 0 : 1, out);
  if (!reportData.empty()) TallyProtocolData::appendLargeData(reportData, out);
}

std::string TallyError::description() const {
  return foundation::text::format(
      "errorLogId[%d] errorTime[%@] errorId[%@] errorMessage[%@] exception[%@] type[%d]",
      {errorID, date, errorString, errorMessage, exceptionString, errorType});
}

void TallyError::encodeWithCoder(plist::Coder& coder) const {
  coder.encodeInt("errorID", errorID);
  coder.encodeDate("date", date);
  coder.encodeString("errorString", errorString);
  coder.encodeString("errorMessage", errorMessage);
  coder.encodeString("exceptionString", exceptionString);
  coder.encodeInt("errorType", errorType);
  coder.encodeData("reportData", reportData);
}

std::shared_ptr<TallyError> TallyError::initWithCoder(plist::Decoder& decoder) {
  auto error = std::make_shared<TallyError>();
  auto id = decoder.decodeInteger("errorID");
  auto date = decoder.decodeDate("date");
  auto type = decoder.decodeInteger("errorType");
  if (!id || !date || !type) {
    decoder.fail("an error without id, date or type");
    return nullptr;
  }
  error->errorID = static_cast<std::int32_t>(*id);
  error->date = *date;
  error->errorType = static_cast<std::int32_t>(*type);
  error->errorString = decoder.decodeString("errorString").value_or("");
  error->errorMessage = decoder.decodeString("errorMessage").value_or("");
  error->exceptionString = decoder.decodeString("exceptionString").value_or("");
  error->reportData = decoder.decodeData("reportData").value_or(foundation::Bytes{});
  return error;
}

// ---- TallySessionEvents

TallyEventRecordStatus TallySessionEvents::recordEvent(
    const std::string& name, const std::optional<foundation::Dictionary>& parameters, bool timed, bool paused,
    std::optional<foundation::Date> started) {
  TallyUtil::log(2, "TallySession: Attempting to record Event eventName[%@] with parameters[%@]",
                 {name, parameters ? foundation::Value(*parameters) : foundation::Value()});
  if (name.empty()) {
    eventLogComplete = false;
    TallyUtil::log(1, "TallySession: Not logging Event eventName[%@] due to invalid eventName", {name});
    return kTallyEventFailed;
  }
  if (parameters && parameters->size() > kTallyMaxEventParameters) {
    eventLogComplete = false;
    TallyUtil::log(1,
                   "TallySession: Not logging Event eventName[%@] because event has more than %d "
                   "parameters (max allowed parameters).",
                   {name, static_cast<int>(kTallyMaxEventParameters)});
    return kTallyEventParamsCountExceeded;
  }
  auto event = std::make_shared<TallyEvent>(name, timed, parameters, started);
  if (paused) {
    pendingEventLog.push_back(event);
    TallyUtil::log(2, "TallySession: Event log for eventName[%@] put to pending", {name});
    return kTallyEventLoggingDelayed;
  }
  return putEventIntoLog(event);
}

TallyEventRecordStatus TallySessionEvents::putEventIntoLog(const EventPtr& event) {
  auto count = std::find_if(eventCounts.begin(), eventCounts.end(),
                            [&](const auto& entry) { return entry.first == event->name(); });
  if (count == eventCounts.end()) {
    if (eventCounts.size() >= kTallyMaxDistinctEventNames) {
      eventLogComplete = false;
      return kTallyEventNotLogged;
    }
    count = eventCounts.insert(eventCounts.end(), {event->name(), 0});
  }
  if (count->second < std::numeric_limits<std::int32_t>::max()) ++count->second;
  TallyUtil::log(2, "TallySession: Event count for eventName[%@] updated to count[%d]",
                 {event->name(), count->second});
  if (eventLog.size() < kTallyMaxLoggedEvents && eventLoggingEnabled) {
    eventLog.push_back(event);
    TallyUtil::log(
        2, "TallySession: Recording event eventName[%@] with parameters[%@] complete",
        {event->name(), event->parameters() ? foundation::Value(*event->parameters()) : foundation::Value()});
    return kTallyEventRecorded;
  }
  eventLogComplete = false;
  return kTallyEventLogCountExceeded;
}

void TallySessionEvents::mergePendingEventLog() {
  auto pending = std::move(pendingEventLog);
  pendingEventLog.clear();
  for (const auto& event : pending) putEventIntoLog(event);
}

void TallySessionEvents::mergeValidPendingEventLog(std::optional<foundation::Date> resumeTime) {
  if (!resumeTime) return;
  std::vector<EventPtr> stay;
  for (const auto& event : pendingEventLog) {
    if (event->started() < *resumeTime) {
      putEventIntoLog(event);
    } else {
      stay.push_back(event);
    }
  }
  pendingEventLog = std::move(stay);
}

bool TallySessionEvents::endTimedEvent(const std::string& name,
                                       const std::optional<foundation::Dictionary>& parameters,
                                       std::optional<foundation::Date> ended) {
  foundation::Date at = ended.value_or(now());
  for (const auto* log : {&eventLog, &pendingEventLog}) {
    for (const auto& event : *log) {
      if (event->name() != name || !event->isUnterminated()) continue;
      event->end(at, false);
      event->updateParameters(parameters);
      TallyUtil::log(2, "TallySession: event named[%@] ended at %@", {name, at});
      return true;
    }
  }
  return false;
}

void TallySessionEvents::endTimedEvents(foundation::Date endTime) {
  TallyUtil::log(2, "TallySession: ending all unterminated timed events with _endTime[%@]...", {endTime});
  for (const auto* log : {&eventLog, &pendingEventLog}) {
    for (const auto& event : *log) {
      if (!event->isUnterminated() && !event->automaticallyEnded()) continue;
      event->end(endTime, true);
      TallyUtil::log(2, "TallySession: forcefully terminated event named[%@]", {event->name()});
    }
  }
  TallyUtil::log(2, "TallySession: ...finished ending un-ended timed events.");
}

void TallySessionEvents::recordError(const std::string& errorId, const std::string& message,
                                     const std::string& exceptionString, std::int32_t type,
                                     const std::optional<foundation::Bytes>& liveReport) {
  if (totalErrorCount < std::numeric_limits<std::int32_t>::max()) ++totalErrorCount;
  if (errors.size() >= kTallyMaxErrorsPerSession) {
    TallyUtil::log(2, "TallySession: Error id[%@] not recorded", {errorId});
    return;
  }
  foundation::Bytes report = liveReport && crashReportingEnabled ? *liveReport : foundation::Bytes{};
  auto error = TallyError::errorWithString(errorId, message, exceptionString, type, std::move(report));
  errors.push_back(error);
  TallyUtil::log(2, "TallySession: Error id[%d] updated", {error->errorID});
}

std::string TallySessionEvents::exceptionText(const std::optional<std::string>& name,
                                              const std::optional<std::string>& reason) {
  if (!name && !reason) return "nil";
  return foundation::text::format("%@: %@",
                                  {name ? foundation::Value(*name) : foundation::Value("(null)"),
                                   reason ? foundation::Value(*reason) : foundation::Value("(null)")});
}

std::string TallySessionEvents::errorText(const std::optional<foundation::Error>& error) {
  if (!error) return exceptionText(std::nullopt, std::nullopt);
  return exceptionText(error->localizedDescription(), error->localizedFailureReason());
}

std::int32_t TallySessionEvents::totalEventCount() const {
  std::int64_t total = static_cast<std::int64_t>(errors.size());
  for (const auto& [name, count] : eventCounts) total += count;
  return static_cast<std::int32_t>(std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
}

void TallySessionEvents::reset() {
  eventCounts.clear();
  eventLog.clear();
  eventLogComplete = true;
  errors.clear();
  totalErrorCount = 0;
}

}  // namespace analytics
