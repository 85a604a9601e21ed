#include "analytics/tally_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <thread>
#include <utility>

#include "analytics/auto_increment.h"
#include "analytics/global_variable_storage.h"
#include "analytics/keychain_wrapper.h"
#include "analytics/network_util.h"
#include "analytics/protocol_data.h"
#include "analytics/relay_event_controller.h"
#include "analytics/tally_util.h"
#include "analytics/watch_tally.h"
#include "crash_reporter/reporter.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/notification_center.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;

std::mutex& classMutex() {
  static std::mutex m;
  return m;
}
std::int32_t& maxSessions() {
  static std::int32_t limit = 50;
  return limit;
}

std::shared_ptr<TallyGlobalVariableStorage> settings() {
  return TallyGlobalVariableStorage::sharedInstance();
}
Date now() { return TallyUtil::clock().now(); }

std::filesystem::path sdkFile(std::string_view stem) {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) return {};
  std::string name = "." + std::string(stem) +
                     std::to_string(TallyUtil::stableHash(settings()->apiKey().value_or(""))) + "_" +
                     std::to_string(kTallyAgentVersionNumber) + ".archive";
  return *folder / name;
}

// The watch files are the ones left to the backup.
foundation::Status writeArchive(const std::filesystem::path& path, const foundation::Result<Bytes>& bytes,
                                bool skipBackup = true) {
  if (!bytes) return bytes.error();
  if (path.empty()) return foundation::Error("TallySession", 1);
  auto written = files::writeAtomic(path, *bytes);
  if (written && skipBackup) TallyUtil::addSkipBackupAttributeToItemAtURL(path);
  return written;
}

// The archived classes, registered once whichever session (the facade's or the watch's) comes first.
void registerArchivedClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    TallySession::registerClass();
    TallyEvent::registerClass();
    TallyError::registerClass();
    TallyAutoIncrement::registerClass();
  });
}

foundation::Dictionary countsOf(const TallySessionEvents& events) {
  foundation::Dictionary counts;
  for (const auto& [name, count] : events.eventCounts)
    counts.set(name, Value(static_cast<std::int64_t>(count)));
  return counts;
}

}  // namespace

void TallySession::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return initWithCoder(d); });
}

std::filesystem::path TallySession::sessionsFilePath() { return sdkFile("tallyStored"); }
std::filesystem::path TallySession::currentSessionFilePath() { return sdkFile("tallyCurrent"); }

void TallySession::removeCurrentSessionFile() {
  std::error_code ignored;
  std::filesystem::remove(currentSessionFilePath(), ignored);
}

std::vector<Bytes> TallySession::savedSessions() {
  std::vector<Bytes> blocks;
  auto stored = TallyUtil::safeUnarchiveObjectWithFile(sessionsFilePath());
  const foundation::Array* list = stored ? stored->array() : nullptr;
  if (!list) return blocks;
  for (const auto& item : *list)
    if (const Bytes* block = item.data()) blocks.push_back(*block);
  return blocks;
}

foundation::Status TallySession::setSavedSessions(const std::vector<Bytes>& blocks) {
  Value list{foundation::Array{}};
  for (const auto& block : blocks) list.array()->emplace_back(block);
  return writeArchive(sessionsFilePath(), plist::archiveRootValue(list));
}

void TallySession::setMaxSessions(std::int32_t limit) {
  std::lock_guard lock(classMutex());
  maxSessions() = limit;
}

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
  if (auto sender = TallyDataSender::instance()) sender->setDataSenderDelegate(session);
  TallyUtil::log(2, "TallySession: Initialized session from scratch with startTime[%@]", {Value(startDate)});
  return session;
}

std::shared_ptr<TallySession> TallySession::restoreCurrent() { return restoreFrom(currentSessionFilePath()); }

std::shared_ptr<TallySession> TallySession::restoreFrom(const std::filesystem::path& path) {
  registerArchivedClasses();
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return nullptr;
  auto bytes = files::readFile(path);
  if (!bytes) return nullptr;
  auto session = plist::unarchiveRootObjectOfClass<TallySession>(*bytes);
  if (!session || !*session) {
    // Unreadable or of another version: it would never be read, so it goes.
    std::filesystem::remove(path, ec);
    return nullptr;
  }
  (*session)->takeSwitchesFromSettings();
  (*session)->publishCounts();
  return *session;
}

void TallySession::takeSwitchesFromSettings() {
  auto store = settings();
  report_.events.eventLoggingEnabled = store->eventLoggingEnabled();
  report_.events.crashReportingEnabled = store->crashReportingEnabled();
  reportsOnClose_ = store->sessionReportsOnCloseEnabled();
  reportsOnPause_ = store->sessionReportsOnPauseEnabled();
}

std::shared_ptr<TallySession> TallySession::sessionWithApiKey(const std::string& apiKey, Date startTime,
                                                              const std::vector<TallyPreCacheEvent>& cached) {
  TallyUtil::assertThreadIsNotMain();
  auto store = settings();
  // The report is read now and purged only after the session carrying it is on disk, so a kill in
  // between leaves it pending for the next start rather than losing it.
  std::optional<Bytes> crashReport;
  bool crashPending = false;
  if (store->crashReportingEnabled() && crash::TallyCrashReporter::sharedReporter().hasPendingCrashReport()) {
    crashPending = true;
    auto loaded = crash::TallyCrashReporter::sharedReporter().loadPendingCrashReportDataAndReturnError();
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
        sender->setDataSenderDelegate(found);
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
  if (crashWritten) (void)crash::TallyCrashReporter::sharedReporter().purgePendingCrashReportAndReturnError();

  if (!cached.empty()) {
    TallyUtil::log(2, "TallySession: Recording %ld events that were logged before the session was created",
                   {Value(static_cast<std::int64_t>(cached.size()))});
    for (const auto& event : cached) session->recordEvent(event.eventName, event.params, event.timed);
  }
  runtime::NotificationCenter::defaultCenter().post(std::string(kTallySessionStartedNotification));
  return session;
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
  publishCounts();
  (void)saveToDisk();
}

foundation::Status TallySession::saveToDisk() {
  if (watch_) return writeArchive(currentWatchSessionFilePath(), plist::archiveRootObject(*this), false);
  return writeArchive(currentSessionFilePath(), plist::archiveRootObject(*this));
}

void TallySession::finishSession(Date at) {
  report_.endTime = at;
  TallyUtil::log(2, "TallySession: Finish session with endTime[%@]", {Value(*report_.endTime)});
  report_.events.endTimedEvents(*report_.endTime);
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
  handedOver_ = false;
  (void)saveToDisk();
  TallyUtil::log(2, "TallySession: Resume session with resumeTime[%@]", {Value(at)});
}

void TallySession::archiveSession() {
  report_.events.mergeValidPendingEventLog(resumeTime_);
  publishCounts();
  // Already handed over at its pause with nothing since: saving it again would send it twice.
  if (!(handedOver_ && report_.events.eventLog.empty())) (void)addToSavedSessions();
  resumeTime_.reset();
  removeCurrentSessionFile();
}

void TallySession::endSession(Date at) {
  TallyUtil::assertThreadIsNotMain();
  if (ended_) return;
  ended_ = true;
  finishSession(at);
  // Sent now, or saved for the next start; never both, and not again after a send at the pause.
  if (reportsOnClose_) {
    if (!handedOver_) sendSessionsToServerIncludingCurrentSession(true);
  } else if (!handedOver_) {
    (void)addToSavedSessions();
  }
  removeCurrentSessionFile();
  settings()->savePersistentGlobalsToDisk();
}

foundation::Status TallySession::addToSavedSessions() {
  TallyUtil::log(2, "TallySession: Add session with startTime[%@] to saved sessions",
                 {Value(report_.startTime)});
  auto list = savedSessions();
  list.push_back(report_.data());
  std::int32_t limit;
  {
    std::lock_guard lock(classMutex());
    limit = maxSessions();
  }
  if (limit >= 0 && list.size() > static_cast<size_t>(limit)) {
    size_t drop = list.size() - static_cast<size_t>(limit);
    TallyUtil::log(2, "TallySession: Max sessions allowed[%d] exceeded",
                   {Value(static_cast<std::int64_t>(limit))});
    TallyUtil::log(2, "TallySession: Removing [%lu] sessions from saved sessions",
                   {Value(static_cast<std::int64_t>(drop))});
    list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  auto status = setSavedSessions(list);
  if (!status) TallyUtil::handleError(status.error());
  return status;
}

void TallySession::sendSessionsToServerIncludingCurrentSession(bool includeCurrent) {
  auto store = settings();
  if (TallyUtil::hasUserOptedOut() && !store->optOutSessionPending()) {
    TallyUtil::log(2, "TallySession: User is opted out, not sending session report");
    (void)setSavedSessions({});
    return;
  }
  auto sender = TallyDataSender::instance();
  if (sender) sender->setDataSenderDelegate(weak_from_this());
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
  if (includeCurrent) handedOver_ = true;
  report_.sessionParams = {};
  report_.events.reset();
  report_.pageViewCount = 0;
  report_.crashReportData.reset();
  publishCounts();
  (void)saveToDisk();
}

void TallySession::sendSessionsToServerForCreateSession() {
  auto store = settings();
  TallyUtil::log(2,
                 "Native Debug Log: ad_fetch = %ld, ad_requests = %ld, ads_returned = %ld, ad_ready = %ld, "
                 "Impression fired = %ld",
                 {Value(store->adsFetchCount()), Value(store->adRequestsCount()),
                  Value(store->adsReturnedCount()), Value(store->adsReadyCount()), Value(std::int64_t{0})});
  store->setAdsFetchCount(0);
  store->setAdRequestsCount(0);
  store->setAdsReturnedCount(0);
  store->setAdsReadyCount(0);
  sendSessionsToServerIncludingCurrentSession(true);
}

TallyEventRecordStatus TallySession::recordEvent(const std::string& name,
                                                 const std::optional<foundation::Dictionary>& params,
                                                 bool timed, std::optional<Date> started) {
  handedOver_ = false;
  auto status = report_.events.recordEvent(name, params, timed, isPaused(), started);
  publishCounts();
  // Saved at once: a kill right after the call must not lose an event the caller was told is kept.
  if (status == kTallyEventRecorded || status == kTallyEventLoggingDelayed) (void)saveToDisk();
  return status;
}

void TallySession::maybeIncrementPageView(Date at) {
  auto store = settings();
  auto last = store->lastPageViewDate();
  if (last && at - *last <= 0.3) return;
  ++report_.pageViewCount;
  handedOver_ = false;
  store->setLastPageViewDate(at);
}

void TallySession::endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params,
                                 std::optional<Date> ended) {
  if (report_.events.endTimedEvent(name, params, ended)) (void)saveToDisk();
}

void TallySession::recordError(const std::string& errorId, const std::string& message,
                               const std::string& exceptionString, std::int32_t type,
                               const std::optional<Bytes>& liveReport) {
  handedOver_ = false;
  report_.events.recordError(errorId, message, exceptionString, type, liveReport);
  (void)saveToDisk();
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

void TallySession::encodeWithCoder(plist::Coder& c) const {
  const auto& r = report_;
  c.encodeInt("serializationVersion", kTallySessionSerializationVersion);
  c.encodeDate("startTime", r.startTime);
  if (r.endTime) c.encodeDate("endTime", *r.endTime);
  if (pauseTime_) c.encodeDate("pauseTime", *pauseTime_);
  c.encodeBool("setBackgroundSessionEnabled", r.backgroundSessionEnabled);
  c.encodeInt("appApplicationState", r.appApplicationState);
  c.encodeInt("pauseIntervalMillis", r.totalPauseIntervalMillis);
  c.encodeBool("hasSessionOriginName", r.sessionOriginName.has_value());
  c.encodeValue("sessionOriginName", r.sessionOriginName ? Value(*r.sessionOriginName) : Value());
  c.encodeBool("hasDeepLinkName", r.deepLinkName.has_value());
  c.encodeValue("deepLinkName", r.deepLinkName ? Value(*r.deepLinkName) : Value());
  c.encodeValue("sessionPropertyParams", Value(r.sessionPropertyParams));
  c.encodeValue("sessionParams", Value(r.sessionParams));
  c.encodeValue("eventCounts", Value(countsOf(r.events)));
  c.encodeObjectArray("pendingEventLog", r.events.pendingEventLog);
  c.encodeObjectArray("eventLog", r.events.eventLog);
  c.encodeBool("eventLogComplete", r.events.eventLogComplete);
  c.encodeObjectArray("errors", r.events.errors);
  c.encodeInt("totalErrorCount", r.events.totalErrorCount);
  c.encodeValue("purchaseItems", Value(foundation::Array{}));
  c.encodeDouble("latitude", r.latitude);
  c.encodeDouble("longitude", r.longitude);
  c.encodeDouble("accuracy", r.accuracy);
  c.encodeBool("crashed", crashed_);
  if (r.crashReportData) c.encodeData("crashReportData", *r.crashReportData);
  c.encodeString("apiKey", apiKey_);
  c.encodeString("appVersion", r.appVersion);
  c.encodeString("userID", r.userID);
  c.encodeInt("pageViewCount", r.pageViewCount);
  c.encodeString("locale", r.locale);
  c.encodeString("timeZone", r.timeZone);
  if (r.birthDate) c.encodeDate("age", *r.birthDate);
  c.encodeInt("gender", r.gender == 0xFF ? -1 : r.gender);
  c.encodeValue("watchAppVersion", watch_ ? Value(watchAppVersion_) : Value());
  c.encodeInt("watchEventThreshold", watchEventThreshold_);
  c.encodeInt("watchDurationThreshold", watchDurationThreshold_);
}

std::shared_ptr<TallySession> TallySession::initWithCoder(plist::Decoder& d) {
  auto version = d.decodeInteger("serializationVersion").value_or(0);
  if (version >= 1 && version != kTallySessionSerializationVersion) return nullptr;
  std::shared_ptr<TallySession> s(new TallySession());
  auto& r = s->report_;
  auto start = d.decodeDate("startTime");
  if (!start) {
    d.fail("a session without a start");
    return nullptr;
  }
  r.startTime = *start;
  r.endTime = d.decodeDate("endTime");
  s->pauseTime_ = d.decodeDate("pauseTime");
  r.backgroundSessionEnabled = d.decodeBool("setBackgroundSessionEnabled").value_or(false);
  r.appApplicationState = static_cast<std::int32_t>(d.decodeInteger("appApplicationState").value_or(0));
  r.totalPauseIntervalMillis = d.decodeInteger("pauseIntervalMillis").value_or(0);
  if (auto v = d.decodeValue("sessionOriginName"); v.string()) r.sessionOriginName = *v.string();
  if (auto v = d.decodeValue("deepLinkName"); v.string()) r.deepLinkName = *v.string();
  if (auto v = d.decodeValue("sessionPropertyParams"); v.dictionary())
    r.sessionPropertyParams = *v.dictionary();
  if (auto v = d.decodeValue("sessionParams"); v.dictionary()) r.sessionParams = *v.dictionary();
  if (auto v = d.decodeValue("eventCounts"); v.dictionary())
    for (const auto& [name, count] : *v.dictionary())
      if (auto n = count.toInteger()) r.events.eventCounts.emplace_back(name, static_cast<std::int32_t>(*n));
  if (d.containsValue("pendingEventLog"))
    r.events.pendingEventLog = d.decodeObjectArray<TallyEvent>("pendingEventLog")
                                   .value_or(std::vector<std::shared_ptr<TallyEvent>>{});
  r.events.eventLog =
      d.decodeObjectArray<TallyEvent>("eventLog").value_or(std::vector<std::shared_ptr<TallyEvent>>{});
  r.events.eventLogComplete = d.decodeBool("eventLogComplete").value_or(true);
  r.events.errors =
      d.decodeObjectArray<TallyError>("errors").value_or(std::vector<std::shared_ptr<TallyError>>{});
  r.events.totalErrorCount = static_cast<std::int32_t>(d.decodeInteger("totalErrorCount").value_or(0));
  r.latitude = d.decodeDouble("latitude").value_or(0);
  r.longitude = d.decodeDouble("longitude").value_or(0);
  r.accuracy = static_cast<float>(d.decodeDouble("accuracy").value_or(0));
  s->crashed_ = d.decodeBool("crashed").value_or(false);
  r.crashReportData = d.decodeData("crashReportData");
  s->apiKey_ = d.decodeString("apiKey").value_or("");
  r.appVersion = d.decodeString("appVersion").value_or("");
  r.userID = d.decodeString("userID").value_or("");
  r.pageViewCount = static_cast<std::int32_t>(d.decodeInteger("pageViewCount").value_or(0));
  r.locale = d.decodeString("locale").value_or("");
  r.timeZone = d.decodeString("timeZone").value_or("");
  r.birthDate = d.decodeDate("age");
  auto gender = d.decodeInteger("gender").value_or(-1);
  r.gender = gender == 0 || gender == 1 ? static_cast<std::uint8_t>(gender) : 0xFF;
  s->watchAppVersion_ = d.decodeString("watchAppVersion").value_or("");
  s->watchEventThreshold_ = static_cast<std::int32_t>(d.decodeInteger("watchEventThreshold").value_or(0));
  s->watchDurationThreshold_ =
      static_cast<std::int32_t>(d.decodeInteger("watchDurationThreshold").value_or(0));
  s->publishCounts();
  return s;
}

// ---- The watch session

namespace {

// The one watch session of the process. Re-entrant: ending an expired session while making the
// current one takes it again.
struct WatchSlot {
  std::recursive_mutex mutex;
  std::shared_ptr<TallySession> session;
};

WatchSlot& watchSlot() {
  static WatchSlot slot;
  return slot;
}

Value watchInfo(std::string_view key) {
  auto bundle = runtime::Bundle::main();
  return bundle ? bundle->objectForInfoDictionaryKey(key) : Value();
}

// "Tally Watch Debug": a true number, or the text YES in any case.
bool watchDebugRequested() {
  Value v = watchInfo("Tally Watch Debug");
  if (const bool* b = v.boolean()) return *b;
  if (v.isNumber()) return v.toInteger().value_or(0) != 0;
  const std::string* text = v.string();
  return text && foundation::text::caseInsensitiveCompare(*text, "YES") == foundation::text::Ordering::Same;
}

// A threshold of the bundle (a number), its default when absent, kept within [low, high].
std::int32_t watchThreshold(std::string_view key, std::int32_t fallback, std::int32_t low, std::int32_t high,
                            std::string_view belowMessage, std::string_view aboveMessage) {
  Value v = watchInfo(key);
  std::int64_t given = v.isNumber() ? v.toInteger().value_or(fallback) : fallback;
  if (given < low) {
    TallyUtil::log(2, belowMessage, {Value(static_cast<std::int64_t>(low))});
    return low;
  }
  if (given > high) {
    TallyUtil::log(2, aboveMessage, {Value(static_cast<std::int64_t>(high))});
    return high;
  }
  return static_cast<std::int32_t>(given);
}

// What TallyWatch hands its queued work to: the current watch session, and after each event or
// error the check whether it is full.
class WatchSessionAdapter : public TallyWatchSession {
 public:
  explicit WatchSessionAdapter(std::shared_ptr<TallySession> session) : session_(std::move(session)) {}
  TallyEventRecordStatus recordWatchEvent(const std::string& name,
                                          const std::optional<foundation::Dictionary>& params) override {
    return session_->recordWatchEvent(name, params);
  }
  void recordWatchError(const std::string& errorId, const std::string& message,
                        const std::string& exceptionString, std::int32_t type,
                        const foundation::Bytes& liveReport) override {
    session_->recordWatchError(errorId, message, exceptionString, type, liveReport);
  }

 private:
  std::shared_ptr<TallySession> session_;
};

}  // namespace

std::filesystem::path TallySession::currentWatchSessionFilePath() { return sdkFile("tallyCurrentWatch"); }
std::filesystem::path TallySession::currentWatchAutoIncrementFilePath() {
  return sdkFile("tallyCurrentWatchAutoIncrement");
}

std::shared_ptr<TallySession> TallySession::currentWatchSession() {
  std::lock_guard lock(watchSlot().mutex);
  auto& slot = watchSlot().session;
  if (!slot) {
    slot = restoreFrom(currentWatchSessionFilePath());
    if (slot) {
      slot->watch_ = true;
      if (auto counters = files::readFile(currentWatchAutoIncrementFilePath())) {
        auto restored = plist::unarchiveRootObjectOfClass<TallyAutoIncrement>(*counters);
        if (restored && *restored) TallyAutoIncrement::setWatchInstance(*restored);
      }
    }
  }
  if (slot && hasWatchSessionExpired()) endWatchSession();
  if (!slot) slot = makeWatchSession();
  if (!slot) return nullptr;
  slot->report_.appApplicationState = 0;
  settings()->setAppApplicationState(0);
  return slot;
}

std::shared_ptr<TallySession> TallySession::makeWatchSession() {
  Value key = watchInfo(kTallyWatchApiKeyInfoKey);
  if (!key.string()) {
    TallyUtil::log(1, "API Key not provided in plist with key %@, watch analytics will not be available!!",
                   {kTallyWatchApiKeyInfoKey});
    return nullptr;
  }
  // A new session numbers its events and errors from 1, as the facade's sessions do.
  TallyAutoIncrement::instance()->resetAll();
  auto session = made(*key.string(), settings()->appVersion().value_or(""), now(), true);
  TallyNetworkUtil::initNetworkReachability();
  if (watchDebugRequested()) TallyUtil::setLogLevel(2);
  Value version = watchInfo("Tally Watch App Version");
  if (version.string()) session->watchAppVersion_ = *version.string();
  session->watchEventThreshold_ =
      watchThreshold("Tally Watch Event Threshold", 10, 5, 50, "Watch event threshold may not be below %d",
                     "Watch event threshold may not be above %d");
  session->watchDurationThreshold_ = watchThreshold("Tally Watch Duration Threshold", 10, 5, 60,
                                                    "Watch duration threshold may not be below %d",
                                                    "Watch duration threshold may not be above %d");
  Value user = watchInfo("Tally Watch User ID");
  if (user.string()) session->setUserID(*user.string());
  (void)saveWatchSessionToDisk(session);
  return session;
}

bool TallySession::hasWatchSessionExpired() {
  std::lock_guard lock(watchSlot().mutex);
  auto& slot = watchSlot().session;
  if (!slot) return false;
  return now() - slot->report_.startTime > static_cast<double>(slot->watchDurationThreshold_) * 60.0;
}

void TallySession::finishWatchEvent() {
  std::lock_guard lock(watchSlot().mutex);
  auto& slot = watchSlot().session;
  if (!slot) return;
  if (slot->report_.events.totalEventCount() < slot->watchEventThreshold_) {
    (void)saveWatchSessionToDisk(slot);
  } else {
    endWatchSession();
  }
}

void TallySession::endWatchSession() {
  std::lock_guard lock(watchSlot().mutex);
  auto session = std::move(watchSlot().session);
  watchSlot().session.reset();
  if (!session) return;
  session->finishSession(now());
  session->sendSessionsToServerIncludingCurrentSession(true);
  clearWatchSessionOnDisk();
  TallyAutoIncrement::instance()->resetAll();
}

foundation::Status TallySession::saveWatchSessionToDisk() {
  std::lock_guard lock(watchSlot().mutex);
  return saveWatchSessionToDisk(watchSlot().session);
}

foundation::Status TallySession::saveWatchSessionToDisk(const std::shared_ptr<TallySession>& session) {
  if (!session) return foundation::Status();
  auto status = session->saveToDisk();
  if (!status) return status;
  return writeArchive(currentWatchAutoIncrementFilePath(),
                      plist::archiveRootObject(*TallyAutoIncrement::instance()), false);
}

void TallySession::clearWatchSessionOnDisk() {
  std::error_code ignored;
  std::filesystem::remove(currentWatchSessionFilePath(), ignored);
  std::filesystem::remove(currentWatchAutoIncrementFilePath(), ignored);
}

void TallySession::forgetWatchSession() {
  std::lock_guard lock(watchSlot().mutex);
  watchSlot().session.reset();
}

void TallySession::installWatchSessionProvider() {
  TallyWatch::setSessionProvider([]() -> std::shared_ptr<TallyWatchSession> {
    auto session = currentWatchSession();
    if (!session) return nullptr;
    return std::make_shared<WatchSessionAdapter>(std::move(session));
  });
}

TallyEventRecordStatus TallySession::recordWatchEvent(const std::string& name,
                                                      const std::optional<foundation::Dictionary>& params) {
  auto status = recordEvent(name, params, false);
  finishWatchEvent();
  return status;
}

void TallySession::recordWatchError(const std::string& errorId, const std::string& message,
                                    const std::string& exceptionString, std::int32_t type,
                                    const Bytes& liveReport) {
  recordError(errorId, message, exceptionString, type,
              liveReport.empty() ? std::nullopt : std::optional<Bytes>(liveReport));
  finishWatchEvent();
}

// ---- The facade

TallyImpl::TallyImpl() : queue_(std::string(kTallySessionQueueLabel), TallyUtil::clock()) {}

std::shared_ptr<TallyImpl> TallyImpl::instance() {
  static std::shared_ptr<TallyImpl> impl = [] {
    registerArchivedClasses();
    return std::make_shared<TallyImpl>();
  }();
  return impl;
}

namespace {
std::atomic<bool> gInstalled{false};
}  // namespace

bool TallyImpl::isInstalled() { return gInstalled.load(); }

void TallyImpl::install() {
  gInstalled.store(true);
  auto impl = instance();
  CurrentSession::setFactory([impl](SessionStart start) -> std::shared_ptr<SessionSink> {
    impl->setupForApiKey(start.apiKey, start.startTime, std::move(start.cachedEvents));
    return impl;
  });
  // The watch interface reaches the watch session the same way the application reaches this one.
  TallySession::installWatchSessionProvider();
}

void TallyImpl::cleanup() {
  auto impl = instance();
  impl->flush();
  {
    std::lock_guard lock(impl->mutex_);
    impl->session_.reset();
  }
  TallyDataSender::cleanup();
}

namespace {
int gSignalPipe[2] = {-1, -1};

// Signal handler: only write(2), which is safe here; the work happens on the watcher thread.
void onTerminationSignal(int signo) {
  unsigned char byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] auto written = ::write(gSignalPipe[1], &byte, 1);
}
}  // namespace

foundation::Status TallyImpl::endSessionOnTerminationSignals() {
  static std::once_flag once;
  static foundation::Status result;
  std::call_once(once, [] {
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) {
      result = foundation::Error("NSPOSIXErrorDomain", errno);
      return;
    }
    std::thread([] {
      unsigned char signo = 0;
      while (::read(gSignalPipe[0], &signo, 1) != 1) {
      }
      try {
        instance()->endSession();
      } catch (...) {
        TallyUtil::handleException(std::current_exception());
      }
      std::signal(signo, SIG_DFL);
      std::raise(signo);
    }).detach();
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
  });
  return result;
}

void TallyImpl::setupForApiKey(const std::string& apiKey, Date startTime,
                               std::vector<TallyPreCacheEvent> cached) {
  TallyDataSender::setupInstanceWithQueue(
      [this](std::function<void()> work) { queue_.async(std::move(work)); });
  queue_.async([this, apiKey, startTime, cached = std::move(cached)] {
    auto old = session();
    std::shared_ptr<TallySession> made;
    if (old) {
      old->archiveSession();
      made = old->sessionWithNewEventsWithApiKey(apiKey, startTime, cached);
    } else {
      made = TallySession::sessionWithApiKey(apiKey, startTime, cached);
    }
    std::lock_guard lock(mutex_);
    session_ = std::move(made);
  });
}

std::shared_ptr<TallySession> TallyImpl::session() const {
  std::lock_guard lock(mutex_);
  return session_;
}

void TallyImpl::flush() {
  queue_.sync([] {});
}

void TallyImpl::onSession(std::function<void(TallySession&)> work) {
  queue_.async([this, work = std::move(work)] {
    if (auto s = session()) work(*s);
  });
}

void TallyImpl::setUserID(const std::string& userId) {
  onSession([userId](TallySession& s) { s.setUserID(userId); });
}
void TallyImpl::setCrashReportingEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setCrashReportingEnabled(enabled); });
}
TallyEventRecordStatus TallyImpl::recordEvent(const std::string& name,
                                              const std::optional<foundation::Dictionary>& params,
                                              bool timed) {
  // Decided now, from the counts the session has published; the session applies its own rules when
  // the event reaches it (an event of a name already counted is still counted and logged there).
  TallyEventRecordStatus status = kTallyEventRecorded;
  auto current = session();
  if (name.empty()) {
    status = kTallyEventFailed;
  } else if (params && params->size() > kTallyMaxEventParameters) {
    status = kTallyEventParamsCountExceeded;
  } else if (current && current->distinctEventNameCount() >= kTallyMaxDistinctEventNames) {
    status = kTallyEventUniqueCountExceeded;
  } else if (current && current->loggedEventCount() >= kTallyMaxLoggedEvents) {
    status = kTallyEventLogCountExceeded;
  }
  // Stamped now: the queue may reach it after the clock has moved on.
  onSession(
      [name, params, timed, at = now()](TallySession& s) { (void)s.recordEvent(name, params, timed, at); });
  return status;
}
void TallyImpl::setEventLoggingEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setEventLoggingEnabled(enabled); });
}
void TallyImpl::setSessionReportsOnCloseEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setSessionReportsOnCloseEnabled(enabled); });
}
void TallyImpl::setSessionReportsOnPauseEnabled(bool enabled) {
  onSession([enabled](TallySession& s) { s.setSessionReportsOnPauseEnabled(enabled); });
}
void TallyImpl::setLocation(double latitude, double longitude, float horizontalAccuracy,
                            float verticalAccuracy) {
  onSession(
      [=](TallySession& s) { s.setLocation(latitude, longitude, horizontalAccuracy, verticalAccuracy); });
}
void TallyImpl::setGenderAsString(const std::string& gender) {
  onSession([gender](TallySession& s) { s.setGenderAsString(gender); });
}
void TallyImpl::setAgeInYears(std::int32_t age) {
  onSession([age, at = now()](TallySession& s) { s.setAgeInYears(age, at); });
}
void TallyImpl::endTimedEvent(const std::string& name, const std::optional<foundation::Dictionary>& params) {
  onSession([name, params, at = now()](TallySession& s) { s.endTimedEvent(name, params, at); });
}
void TallyImpl::recordError(const std::string& errorId, const std::string& message,
                            const std::string& exceptionString, std::int32_t type,
                            const std::optional<Bytes>& liveReport) {
  onSession([=](TallySession& s) { s.recordError(errorId, message, exceptionString, type, liveReport); });
}
void TallyImpl::endSessionAsync() {
  onSession([at = now()](TallySession& s) { s.endSession(at); });
}
// The times are taken on the caller's thread: the queue may run the work later than the event.
void TallyImpl::pauseSession() {
  onSession([at = now()](TallySession& s) { s.pauseSession(at); });
}
void TallyImpl::markSessionAsResuming() {
  onSession([at = now()](TallySession& s) { s.markSessionAsResuming(at); });
}
void TallyImpl::resumeSession() {
  onSession([at = now()](TallySession& s) { s.resumeSession(at); });
}
void TallyImpl::endSession() {
  Date at = now();
  queue_.sync([this, at] {
    if (auto s = session()) s->endSession(at);
  });
}
void TallyImpl::sendSessionsToServerForCreateSession() {
  onSession([](TallySession& s) { s.sendSessionsToServerForCreateSession(); });
}
void TallyImpl::maybeIncrementPageView() {
  onSession([at = now()](TallySession& s) { s.maybeIncrementPageView(at); });
}

}  // namespace analytics
