// The watch session: one per process inside a watch extension, archived apart with its counters.
#include "analytics/auto_increment.h"
#include "analytics/network_util.h"
#include "analytics/session_detail.h"
#include "analytics/tally_session.h"
#include "analytics/tally_util.h"
#include "analytics/watch_tally.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/text.h"
#include "platform/runtime/bundle.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Date;
using foundation::Value;
using namespace session_detail;

}  // namespace

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

}  // namespace analytics
