// The session's archives: the current session ("<SDK folder>/.tallyCurrent<k>_155.archive", keyed
// archive of the session) and the saved sessions (".tallyStored<k>_155.archive", the blocks waiting
// for the next hand-over), and the session's own keyed-archive form.
#include <algorithm>
#include <typeinfo>

#include "analytics/auto_increment.h"
#include "analytics/session_detail.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "platform/files/file_ops.h"

namespace analytics {

namespace session_detail {

using foundation::Bytes;
using foundation::Date;

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

foundation::Status writeArchive(const std::filesystem::path& path, const foundation::Result<Bytes>& bytes,
                                bool skipBackup) {
  if (!bytes) return bytes.error();
  if (path.empty()) return foundation::Error("TallySession", 1);
  // They hold the user id and location: the owner's only, as every file of the SDK. The watch's files
  // alone stay in backups.
  return TallyUtil::writeSdkFile(path, *bytes, skipBackup);
}

void registerArchivedClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    TallySession::registerClass();
    TallyEvent::registerClass();
    TallyError::registerClass();
    TallyAutoIncrement::registerClass();
  });
}

}  // namespace session_detail

namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;
using namespace session_detail;

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

foundation::Status TallySession::saveToDisk() {
  if (watch_) return writeArchive(currentWatchSessionFilePath(), plist::archiveRootObject(*this), false);
  return writeArchive(currentSessionFilePath(), plist::archiveRootObject(*this));
}

foundation::Status TallySession::addToSavedSessions() {
  // Whatever fails, the saved list stays as it was: it is written whole, atomically, or not at all.
  auto failed = [](const std::string& why) {
    TallyUtil::log(2, "%s: exception %@", {"+[TallySession addToSavedSessions:]", why});
  };
  try {
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
    if (!status) failed(status.error().description());
    return status;
  } catch (const std::exception& e) {
    failed(TallyUtil::typeName(typeid(e)) + ": " + e.what());
    return foundation::Error::make("TallySession", 1, e.what());
  }
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
  c.encodeValue("purchaseItems", Value(foundation::Array(purchaseItems_.begin(), purchaseItems_.end())));
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
  if (auto v = d.decodeValue("purchaseItems"); v.array())
    s->purchaseItems_.assign(v.array()->begin(), v.array()->end());
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

}  // namespace analytics
