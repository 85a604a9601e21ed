// One analytics session: creation, pause, resume, end, the hand-over of its blocks to the upload
// queue, and the events, errors and facts recorded in it.
#include "analytics/tally_session.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "analytics/auto_increment.h"
#include "analytics/global_variable_storage.h"
#include "analytics/keychain_wrapper.h"
#include "analytics/network_util.h"
#include "analytics/protocol_data.h"
#include "analytics/relay_event_controller.h"
#include "analytics/session_detail.h"
#include "analytics/tally_util.h"
#include "crash_reporter/reporter.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "platform/runtime/notification_center.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;
using namespace session_detail;

}  // namespace

std::shared_ptr<TallySession> TallySession::initWithAPIKey(const std::string& apiKey,
                                                           const std::string& appVersion, Date startDate) {
  return made(apiKey, appVersion, startDate, false);
}

std::shared_ptr<TallySession> TallySession::made(const std::string& apiKey, const std::string& appVersion,
                                                 Date startDate, bool watch) {
  std::shared_ptr<TallySession> session(new TallySession());
  session->watch_ = watch;
  session->apiKey_ = apiKey;
  session->report_.appVersion = appVersion;
  session->report_.startTime = startDate;
  session->resetSessionData();
  session->becomeDelegateOf(TallyDataSender::instance());
  TallyUtil::log(2, "TallySession: Initialized session from scratch with startTime[%@]", {Value(startDate)});
  return session;
}

std::shared_ptr<TallySession> TallySession::sessionWithApiKey(const std::string& apiKey, Date startTime,
                                                              const std::vector<TallyPreCacheEvent>& cached) {
  TallyUtil::assertThreadIsNotMain();
  auto store = settings();
  // The report is read now and purged only after the session carrying it is on disk, so a kill in
  // between leaves it pending for the next start rather than losing it.
  std::optional<Bytes> crashReport;
  bool crashPending = false;
  auto reporter = store->tallyCrashReporter();
  if (store->crashReportingEnabled() && reporter && reporter->hasPendingCrashReport()) {
    crashPending = true;
    auto loaded = reporter->loadPendingCrashReportDataAndReturnError();
    if (loaded) {
      crashReport = std::move(*loaded);
    } else {
      TallyUtil::log(2, "TallySession: Could not load crash report data: %@", {loaded.error().description()});
    }
  }

  bool crashWritten = false;
  if (auto found = restoreCurrent()) {
    // Its times go as values: the found session must reach the saved sessions unchanged (a block
    // without an end reports its length as -1).
    TallyRelayEventController::earlierSessionFound({found->report_.startTime, found->report_.endTime},
                                                   found->report_.totalPauseIntervalMillis);
    if (crashPending) {
      found->crashed_ = true;
      found->report_.crashReportData = crashReport;
    }
    crashWritten = found->addToSavedSessions().ok();
    TallyUtil::log(2, "TallySession: Add crashed former session");
    // The archive it came from is about to go: when the saved sessions cannot take it, the upload
    // queue (which keeps its own files) does, so neither its events nor its report are lost.
    if (!crashWritten) {
      if (auto sender = TallyDataSender::instance()) {
        // It wraps its own block: no session of this process exists yet.
        found->becomeDelegateOf(sender);
        sender->sendSessionsData(found->report_.data());
        crashWritten = true;
      }
    }
    crashPending = crashPending && !crashWritten;
  }
  removeCurrentSessionFile();

  auto session = initWithAPIKey(apiKey, store->appVersion().value_or(""), startTime);
  TallyUtil::log(2, "TallySession: Created active session with API[%@]", {apiKey});
  if (crashPending) {
    session->report_.crashReportData = crashReport;
    crashWritten = session->saveToDisk().ok();
  }
  if (crashWritten && reporter) (void)reporter->purgePendingCrashReportAndReturnError();

  if (!cached.empty()) {
    TallyUtil::log(2, "TallySession: Recording %ld events that were logged before the session was created",
                   {Value(static_cast<std::int64_t>(cached.size()))});
    for (const auto& event : cached) session->recordEvent(event.eventName, event.params, event.timed);
  }
  runtime::NotificationCenter::defaultCenter().post(std::string(kTallySessionStartedNotification));
  return session;
}

TallySession::~TallySession() {
  auto sender = sender_.lock();
  if (sender && sender->clearDataSenderDelegateIf(weak_from_this()))
    TallyUtil::log(2, "TallySession: dealloc session");
}

void TallySession::becomeDelegateOf(const std::shared_ptr<TallyDataSender>& sender) {
  if (!sender) return;
  sender->setDataSenderDelegate(weak_from_this());
  sender_ = sender;
}

void TallySession::setUserID(const std::string& userId) {
  report_.userID = userId;
  TallyUtil::log(2, "TallySession: Set userID[%@]", {userId});
}

void TallySession::setEventLoggingEnabled(bool enabled) {
  report_.events.eventLoggingEnabled = enabled;
  TallyUtil::log(2, "TallySession: Event logging enabled[%d]", {Value(enabled ? 1 : 0)});
}

void TallySession::setSessionReportsOnCloseEnabled(bool enabled) {
  reportsOnClose_ = enabled;
  TallyUtil::log(2, "TallySession: Session reports on close enabled[%d]", {Value(enabled ? 1 : 0)});
}

void TallySession::setSessionReportsOnPauseEnabled(bool enabled) {
  reportsOnPause_ = enabled;
  TallyUtil::log(2, "TallySession: Session reports on pause enabled[%d]", {Value(enabled ? 1 : 0)});
}

void TallySession::setCrashReportingEnabled(bool enabled) {
  report_.events.crashReportingEnabled = enabled;
  TallyUtil::log(2, "TallySession: Crash reporting enabled[%d]", {Value(enabled ? 1 : 0)});
}

void TallySession::publishCounts() {
  distinctNames_.store(report_.events.eventCounts.size());
  loggedEvents_.store(report_.events.eventLog.size());
}

std::shared_ptr<TallySession> TallySession::sessionWithNewEventsWithApiKey(
    const std::string& apiKey, Date startTime, const std::vector<TallyPreCacheEvent>& cached) {
  auto made = sessionWithApiKey(apiKey, startTime, cached);
  auto pending = std::move(report_.events.pendingEventLog);
  report_.events.pendingEventLog.clear();
  for (const auto& event : pending) {
    event->updateID();
    // Counted as well as logged: a block whose log names an event its counts lack does not read.
    made->report_.events.putEventIntoLog(event);
    if (event->started() < made->report_.startTime) made->report_.startTime = event->started();
  }
  if (!pending.empty()) {
    made->publishCounts();
    (void)made->saveToDisk();
  }
  return made;
}

void TallySession::resetSessionData() {
  Bytes keptCrash = report_.crashReportData.value_or(Bytes{});
  bool hadCrash = report_.crashReportData.has_value();
  TallySessionReport fresh;
  fresh.appVersion = report_.appVersion;
  fresh.startTime = report_.startTime;
  fresh.userID = report_.userID;
  fresh.events.eventLoggingEnabled = report_.events.eventLoggingEnabled;
  fresh.events.crashReportingEnabled = report_.events.crashReportingEnabled;
  report_ = std::move(fresh);
  if (hadCrash) report_.crashReportData = std::move(keptCrash);
  crashed_ = false;
  purchaseItems_.clear();
  report_.locale = foundation::Locale::current().identifier();
  report_.timeZone = foundation::TimeZone::local().identifier();
  getSessionParametersAtPhase(0);
  publishCounts();
  (void)saveToDisk();
}

void TallySession::finishSession(Date at) {
  report_.endTime = at;
  TallyUtil::log(2, "TallySession: Finish session with endTime[%@]", {Value(*report_.endTime)});
  report_.events.endTimedEvents(*report_.endTime);
  getSessionParametersAtPhase(1);
  settings()->resetLaunchOptions();
}

void TallySession::pauseSession(Date at) {
  TallyUtil::assertThreadIsNotMain();
  if (ended_) return;
  pauseTime_ = at;
  TallyUtil::log(2, "TallySession: Pause session with pauseTime[%@]", {Value(*pauseTime_)});
  finishSession(at);
  if (reportsOnPause_) {
    sendSessionsToServerIncludingCurrentSession(true);
    removeCurrentSessionFile();
  } else {
    (void)saveToDisk();
  }
  TallyRelayEventController::sessionPaused({report_.startTime, report_.endTime},
                                           report_.totalPauseIntervalMillis);
  settings()->savePersistentGlobalsToDisk();
}

void TallySession::markSessionAsResuming(Date at) {
  resumeTime_ = isPaused() ? std::optional<Date>(at) : std::nullopt;
}

void TallySession::resumeSession(Date at) {
  if (!isPaused() || ended_) return;
  report_.totalPauseIntervalMillis += TallyProtocolData::timeIntervalFrom(pauseTime_, at);
  pauseTime_.reset();
  resumeTime_.reset();
  report_.events.mergePendingEventLog();
  publishCounts();
  (void)saveToDisk();
  TallyUtil::log(2, "TallySession: Resume session with resumeTime[%@]", {Value(at)});
}

void TallySession::archiveSession() {
  report_.events.mergeValidPendingEventLog(resumeTime_);
  publishCounts();
  // Sent at its pause with no event since: its block went then, and the saved sessions with it.
  if (reportsOnPause_ && report_.events.eventLog.empty()) {
    (void)setSavedSessions({});
  } else {
    (void)addToSavedSessions();
  }
  resumeTime_.reset();
  removeCurrentSessionFile();
}

void TallySession::endSession(Date at) {
  TallyUtil::assertThreadIsNotMain();
  if (ended_) return;
  ended_ = true;
  finishSession(at);
  // Events logged during a pause that ends in no return have no later session to go to: they go
  // out with this one's end rather than with nothing.
  report_.events.mergePendingEventLog();
  publishCounts();
  // The block that goes now carries the end, the length and the events; the one saved after it (its
  // events reset by the send) reports the session's end once more with the next start.
  if (reportsOnClose_) sendSessionsToServerIncludingCurrentSession(true);
  (void)addToSavedSessions();
  removeCurrentSessionFile();
  settings()->savePersistentGlobalsToDisk();
}

void TallySession::sendSessionsToServerIncludingCurrentSession(bool includeCurrent) {
  auto store = settings();
  if (TallyUtil::hasUserOptedOut() && !store->optOutSessionPending()) {
    TallyUtil::log(2, "TallySession: User is opted out, not sending session report");
    (void)setSavedSessions({});
    return;
  }
  auto sender = TallyDataSender::instance();
  becomeDelegateOf(sender);
  TallyUtil::log(2, "TallySession: Sending sessions to server, include current %@",
                 {Value(includeCurrent ? "YES" : "NO")});
  auto list = savedSessions();
  if (includeCurrent) list.push_back(report_.data());
  store->setOptOutSessionPending(false);
  // The upload queue stores each block before anything else: once handed over, the saved list may go.
  for (const auto& block : list) {
    try {
      if (sender) sender->sendSessionsData(block);
    } catch (...) {
      TallyUtil::handleException(std::current_exception());
    }
  }
  TallyUtil::log(2, "TallySession: Scheduled send %lu session(s).",
                 {Value(static_cast<std::int64_t>(list.size()))});
  (void)setSavedSessions({});
  resetEventLogs();
}

void TallySession::resetEventLogs() {
  report_.sessionParams = {};
  report_.events.reset();
  report_.pageViewCount = 0;
  report_.crashReportData.reset();
  getSessionParametersAtPhase(0);
  publishCounts();
  (void)saveToDisk();
}

void TallySession::sendSessionsToServerForCreateSession() {
  auto store = settings();
  TallyUtil::log(
      2,
      "Native Debug Log: ad_fetch = %ld, ad_requests = %ld, ads_returned = %ld, ad_ready = %ld, "
      "Impression fired = %ld",
      {Value(store->adsFetchCount()), Value(store->adRequestsCount()), Value(store->adsReturnedCount()),
       Value(store->adsReadyCount()), Value(store->adsImpressionFiredCount())});
  store->setAdsFetchCount(0);
  store->setAdRequestsCount(0);
  store->setAdsReturnedCount(0);
  store->setAdsReadyCount(0);
  store->setAdsImpressionFiredCount(0);
  sendSessionsToServerIncludingCurrentSession(true);
}

TallyEventRecordStatus TallySession::recordEvent(const std::string& name,
                                                 const std::optional<foundation::Dictionary>& params,
                                                 bool timed, std::optional<Date> started) {
  auto status = report_.events.recordEvent(name, params, timed, isPaused(), started);
  publishCounts();
  // Not saved here: rewriting the archive for every event would make a long session's events cost
  // ever more. The next save (a pause, a resume, an error, the end) carries it.
  return status;
}

void TallySession::maybeIncrementPageView(Date at) {
  auto store = settings();
  auto last = store->lastPageViewDate();
  if (last && at - *last <= 0.3) return;
  ++report_.pageViewCount;
  store->setLastPageViewDate(at);
}

void TallySession::endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params,
                                 std::optional<Date> ended) {
  (void)report_.events.endTimedEvent(name, params, ended);
}

void TallySession::recordPurchaseItem(const foundation::Value& item) {
  if (item.isNull()) return;
  purchaseItems_.push_back(item);
  (void)saveToDisk();
}

void TallySession::recordError(const std::string& errorId, const std::string& message,
                               const std::string& exceptionString, std::int32_t type,
                               const std::optional<Bytes>& liveReport) {
  // The error or exception is known here by its text only.
  const std::string recording = type == TallyError::kException
                                    ? "TallySession: Recording error id[%@] with message[%@] and exception[%@]"
                                    : "TallySession: Recording error id[%@] with message[%@] and error[%@]";
  TallyUtil::log(2, recording, {errorId, message, exceptionString});
  report_.events.recordError(errorId, message, exceptionString, type, liveReport);
  (void)saveToDisk();
  TallyUtil::log(2, recording + " complete", {errorId, message, exceptionString});
}

void TallySession::setLocation(double latitude, double longitude, float horizontalAccuracy,
                               float verticalAccuracy) {
  report_.latitude = TallyUtil::reduceLocationPrecision(latitude);
  report_.longitude = TallyUtil::reduceLocationPrecision(longitude);
  double meanAccuracy =
      (std::abs(static_cast<double>(horizontalAccuracy)) + std::abs(static_cast<double>(verticalAccuracy))) /
      2;
  report_.accuracy = static_cast<float>(TallyUtil::reduceLocationPrecision(meanAccuracy));
  TallyUtil::log(
      2, "TallySession: New location set with lat[%f] long[%f] accuracy[%f]",
      {Value(report_.latitude), Value(report_.longitude), Value(static_cast<double>(report_.accuracy))});
  (void)saveToDisk();
}

void TallySession::setGenderAsString(const std::string& gender) {
  report_.gender = gender == "m" ? 1 : gender == "f" ? 0 : 0xFF;
  TallyUtil::log(2, "TallySession: given gender [%@], _gender = [%d]",
                 {gender, Value(report_.gender == 0xFF ? -1 : static_cast<int>(report_.gender))});
}

void TallySession::setAgeInYears(std::int32_t age, Date now) {
  if (age < 1 || age > 150) return;
  auto calendar = foundation::Calendar::current();
  auto year = calendar.component(foundation::CalendarUnit::Year, now);
  if (!year) return;
  foundation::DateComponents birth;
  birth.year = *year - age;
  auto date = calendar.dateFromComponents(birth);
  if (!date) return;
  report_.birthDate = *date;
  TallyUtil::log(2, "TallySession: set age to [%@]", {Value(*date)});
}

std::filesystem::path TallySession::initialTimestampFilePath() {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return {};
  std::string name = ".initialTimestamp" +
                     std::to_string(TallyUtil::stableHash(settings()->apiKey().value_or(""))) + ".archive";
  auto path = *folder / name;
  // Agents up to 109 kept it elsewhere: it moves here once.
  if (auto old = TallyUtil::oldFilePathDirectoryUptilAgentVersion109()) {
    std::error_code ec;
    auto oldPath = *old / name;
    if (std::filesystem::exists(oldPath, ec) && !std::filesystem::exists(path, ec)) {
      TallyUtil::log(2, "TallySession: Moving initial timestamp[%@] from saved source", {oldPath.string()});
      std::filesystem::rename(oldPath, path, ec);
    }
  }
  return path;
}

Date TallySession::initialTimestamp() {
  constexpr std::string_view kStampKey = "TallySessionTimestampKey";
  constexpr std::string_view kKeyKey = "TallyAPIKey";
  auto keychain = TallyKeychainWrapper::keychainWrapperWithIdentifier("com.tally.analytics");
  std::optional<Value> stamp = keychain ? keychain->objectForKey(kStampKey) : std::nullopt;
  std::optional<std::string> storedKey = keychain ? keychain->stringForKey(kKeyKey) : std::nullopt;
  bool changed = storedKey && *storedKey != apiKey_;
  if (keychain && (!storedKey || changed)) keychain->setString(apiKey_, kKeyKey);
  if (!changed && stamp && stamp->date()) {
    TallyUtil::log(2, "TallySession: Initial timestamp[%@] from secure source", {*stamp});
    return *stamp->date();
  }
  if (!changed) {
    auto legacy = TallyUtil::safeUnarchiveObjectWithFile(initialTimestampFilePath());
    if (legacy && legacy->date()) {
      TallyUtil::log(2, "TallySession: Initial timestamp[%@] from legacy source", {*legacy});
      if (keychain) keychain->setObject(*legacy, kStampKey);
      return *legacy->date();
    }
  }
  Date made = report_.startTime;
  if (keychain) keychain->setObject(Value(made), kStampKey);
  TallyUtil::log(2, "TallySession: Initial timestamp[%@] created and saved", {Value(made)});
  return made;
}

std::optional<TallyEnvelope> TallySession::prepareForSendingSessions(const std::vector<Bytes>& blocks) {
  auto sender = TallyDataSender::instance();
  TallyEnvelopeFacts facts{apiKey_, report_.appVersion, sender && sender->everSentReportSuccessfully(),
                           initialTimestamp(), report_.startTime};
  auto envelope = dataForSessions(facts, blocks);
  if (!envelope)
    TallyUtil::log(2, "%s: Unable to create session date from sessions array",
                   {Value("-[TallySession prepareForSendingSessions:]")});
  return envelope;
}

}  // namespace analytics
