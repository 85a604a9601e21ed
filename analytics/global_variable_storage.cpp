#include "analytics/global_variable_storage.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

#include "analytics/process_wide.h"
#include "analytics/relay_settings.h"
#include "analytics/tally_util.h"
#include "crash_reporter/reporter.h"
#include "platform/files/file_ops.h"
#include "platform/runtime/bundle.h"

namespace analytics {
namespace {

namespace fs = std::filesystem;
using foundation::Dictionary;
using foundation::Value;

ProcessWide<TallyGlobalVariableStorage>& slot() {
  static ProcessWide<TallyGlobalVariableStorage> s;
  return s;
}

constexpr std::string_view kMaxBitRateKey = "maxBitRateKbps";
constexpr std::string_view kAnalyticsEnabledKey = "analyticsEnabled";
constexpr std::string_view kLogLevelKey = "logLevel";
constexpr std::string_view kAdTrackingKey = "isAdTrackingEnabled";
constexpr std::int64_t kDefaultMaxBitRateKbps = 500;

// ---- The maps' files
//
// Each file is a keyed archive of one NSDictionary. Two maps hold what plain values cannot: the
// cookie map's keys are the cookies' bytes, written as data (files written before hold text keys,
// read as the same bytes), and the globals map's Relay settings are a TallyRelaySettings object
// (files written before hold its dictionary form, read as it stands). In memory every map is a
// dictionary of plain values: cookie keys as byte strings, the Relay settings in dictionary form.

const plist::ClassRegistry& mapClasses() {
  static plist::ClassRegistry registry;
  static std::once_flag once;
  std::call_once(once, [] { TallyRelaySettings::registerClass(registry); });
  return registry;
}

Dictionary mapFromEntries(TallyPersistentMap map, std::vector<plist::DictionaryEntry> entries) {
  const bool cookies = map == TallyPersistentMap::kCookies;
  Dictionary out;
  out.reserve(entries.size());
  for (auto& entry : entries) {
    std::string key;
    if (const std::string* text = entry.key.string()) {
      key = *text;
    } else if (const foundation::Bytes* bytes = entry.key.data(); bytes && cookies) {
      key.assign(bytes->begin(), bytes->end());
    } else {
      continue;  // only cookies are keyed by bytes
    }
    if (cookies && key.empty()) continue;
    Value value = std::move(entry.value);
    if (entry.object) {
      auto settings = std::dynamic_pointer_cast<TallyRelaySettings>(entry.object);
      if (!settings) continue;
      value = Value(settings->dataDictionary());
    }
    out.set(std::move(key), std::move(value));
  }
  return out;
}

std::vector<plist::DictionaryEntry> entriesOfMap(TallyPersistentMap map, const Dictionary& contents) {
  std::vector<plist::DictionaryEntry> entries;
  entries.reserve(contents.size());
  for (const auto& [key, value] : contents) {
    plist::DictionaryEntry entry;
    if (map == TallyPersistentMap::kCookies) {
      entry.key = Value(foundation::Bytes(key.begin(), key.end()));
    } else {
      entry.key = Value(key);
    }
    if (map == TallyPersistentMap::kGlobals && key == kRelaySettingsKey && value.dictionary()) {
      entry.object =
          std::make_shared<TallyRelaySettings>(TallyRelaySettings::initWithDictionary(*value.dictionary()));
    } else {
      entry.value = value;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace

std::string_view persistentMapStem(TallyPersistentMap map) {
  switch (map) {
    case TallyPersistentMap::kGlobals:
      return "tallyPropertiesData";
    case TallyPersistentMap::kCookies:
      return "tallyCkData";
    case TallyPersistentMap::kUrls:
      return "tallyPersistentUrlsData";
    case TallyPersistentMap::kRelayUrls:
      return "tallyPersistenRelayUrlsData";
    case TallyPersistentMap::kRelayPrepUrls:
      return "tallyPersistenRelayPrepUrlsData";
  }
  return "";
}

TallyGlobalVariableStorage::TallyGlobalVariableStorage() {
  if (auto bundle = runtime::Bundle::main()) {
    Value version = bundle->objectForInfoDictionaryKey(runtime::kBundleVersionKey);
    if (const std::string* text = version.string()) appVersion_ = *text;
  }
}

std::shared_ptr<TallyGlobalVariableStorage> TallyGlobalVariableStorage::sharedInstance() {
  return slot().getOrMake([] { return std::make_shared<TallyGlobalVariableStorage>(); });
}

void TallyGlobalVariableStorage::cleanup() { slot().reset(); }

#define TALLY_SETTING(Type, getter, setter, field)      \
  Type TallyGlobalVariableStorage::getter() const {     \
    std::lock_guard lock(mutex_);                       \
    return field;                                       \
  }                                                     \
  void TallyGlobalVariableStorage::setter(Type value) { \
    std::lock_guard lock(mutex_);                       \
    field = std::move(value);                           \
  }

TALLY_SETTING(bool, udidEnabled, setUdidEnabled, udidEnabled_)
TALLY_SETTING(bool, sessionReportsOnCloseEnabled, setSessionReportsOnCloseEnabled,
              sessionReportsOnCloseEnabled_)
TALLY_SETTING(bool, sessionReportsOnPauseEnabled, setSessionReportsOnPauseEnabled,
              sessionReportsOnPauseEnabled_)
TALLY_SETTING(bool, backgroundSessionEnabled, setBackgroundSessionEnabled, backgroundSessionEnabled_)
TALLY_SETTING(bool, crashReportingEnabled, setCrashReportingEnabled, crashReportingEnabled_)
TALLY_SETTING(std::shared_ptr<crash::TallyCrashReporter>, tallyCrashReporter, setTallyCrashReporter,
              tallyCrashReporter_)
TALLY_SETTING(bool, eventLoggingEnabled, setEventLoggingEnabled, eventLoggingEnabled_)
TALLY_SETTING(bool, hasSessionOriginName, setHasSessionOriginName, hasSessionOriginName_)
TALLY_SETTING(bool, hasDeepLinkName, setHasDeepLinkName, hasDeepLinkName_)
TALLY_SETTING(bool, startSessionCalled, setStartSessionCalled, startSessionCalled_)
TALLY_SETTING(bool, macAddressEnabled, setMacAddressEnabled, macAddressEnabled_)
TALLY_SETTING(bool, optOutSessionPending, setOptOutSessionPending, optOutSessionPending_)
TALLY_SETTING(bool, relayMonitoringEnabled, setRelayMonitoringEnabled, relayMonitoringEnabled_)
TALLY_SETTING(bool, relayRequestPending, setRelayRequestPending, relayRequestPending_)
bool TallyGlobalVariableStorage::beginRelayRequest() {
  std::lock_guard lock(mutex_);
  return !std::exchange(relayRequestPending_, true);
}
TALLY_SETTING(std::int32_t, pauseSecondsBeforeStartingNewSession, setPauseSecondsBeforeStartingNewSession,
              pauseSecondsBeforeStartingNewSession_)
TALLY_SETTING(std::int32_t, appApplicationState, setAppApplicationState, appApplicationState_)
TALLY_SETTING(std::int32_t, age, setAge, age_)
TALLY_SETTING(std::optional<std::string>, savedResponseUrl, setSavedResponseUrl, savedResponseUrl_)
TALLY_SETTING(std::optional<std::string>, gender, setGender, gender_)
TALLY_SETTING(std::optional<std::string>, sessionOriginName, setSessionOriginName, sessionOriginName_)
TALLY_SETTING(std::optional<std::string>, deepLinkName, setDeepLinkName, deepLinkName_)
TALLY_SETTING(std::optional<foundation::Date>, pauseTime, setPauseTime, pauseTime_)
TALLY_SETTING(std::optional<foundation::Date>, lastPageViewDate, setLastPageViewDate, lastPageViewDate_)
TALLY_SETTING(std::optional<Dictionary>, sessionParameters, setSessionParameters, sessionParameters_)
TALLY_SETTING(Value, location, setLocation, location_)
TALLY_SETTING(foundation::Array, originSets, setOriginSets, originSets_)
TALLY_SETTING(std::int64_t, adsFetchCount, setAdsFetchCount, adsFetchCount_)
TALLY_SETTING(std::int64_t, adRequestsCount, setAdRequestsCount, adRequestsCount_)
TALLY_SETTING(std::int64_t, adsReturnedCount, setAdsReturnedCount, adsReturnedCount_)
TALLY_SETTING(std::int64_t, adsReadyCount, setAdsReadyCount, adsReadyCount_)
TALLY_SETTING(std::int64_t, adsImpressionFiredCount, setAdsImpressionFiredCount, adsImpressionFiredCount_)

#undef TALLY_SETTING

std::optional<std::string> TallyGlobalVariableStorage::apiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}

void TallyGlobalVariableStorage::setApiKey(std::string key) {
  std::erase(key, ' ');
  TallyUtil::log(2, "Tally: Trim white space and use apiKey[%@]", {key});
  {
    std::lock_guard lock(mutex_);
    apiKey_ = std::move(key);
  }
  initPersistentMap();
}

std::optional<std::string> TallyGlobalVariableStorage::appVersion() const {
  std::lock_guard lock(mutex_);
  return appVersion_;
}
void TallyGlobalVariableStorage::setAppVersion(std::string version) {
  std::lock_guard lock(mutex_);
  appVersion_ = std::move(version);
}
std::optional<std::string> TallyGlobalVariableStorage::userID() const {
  std::lock_guard lock(mutex_);
  return userID_;
}
void TallyGlobalVariableStorage::setUserID(std::string userId) {
  std::lock_guard lock(mutex_);
  userID_ = std::move(userId);
}

Dictionary TallyGlobalVariableStorage::launchOptions() const {
  std::lock_guard lock(mutex_);
  return launchOptions_;
}

void TallyGlobalVariableStorage::setLaunchOption(std::string key, foundation::Value value) {
  std::lock_guard lock(mutex_);
  launchOptions_.set(std::move(key), std::move(value));
}

void TallyGlobalVariableStorage::resetLaunchOptions() {
  std::lock_guard lock(mutex_);
  launchOptions_ = Dictionary{};
}

void TallyGlobalVariableStorage::addPendingUrlTimer(runtime::Timer timer) {
  std::lock_guard lock(mutex_);
  pendingUrlTimers_.push_back(std::move(timer));
}

size_t TallyGlobalVariableStorage::pendingUrlTimerCount() const {
  std::lock_guard lock(mutex_);
  return pendingUrlTimers_.size();
}

void TallyGlobalVariableStorage::removePendingUrlTimers() {
  std::vector<runtime::Timer> timers;
  {
    std::lock_guard lock(mutex_);
    timers.swap(pendingUrlTimers_);
  }
  for (const auto& timer : timers) {
    if (timer.isValid()) timer.invalidate();
  }
}

// ---- Persistent maps

std::optional<Dictionary>& TallyGlobalVariableStorage::mapSlot(TallyPersistentMap map) {
  switch (map) {
    case TallyPersistentMap::kGlobals:
      return globalsMap_;
    case TallyPersistentMap::kCookies:
      return cookiesMap_;
    case TallyPersistentMap::kUrls:
      return urlsMap_;
    case TallyPersistentMap::kRelayUrls:
      return relayUrlsMap_;
    case TallyPersistentMap::kRelayPrepUrls:
      break;
  }
  return relayPrepUrlsMap_;
}

std::optional<Dictionary> TallyGlobalVariableStorage::persistentMap(TallyPersistentMap map) const {
  std::lock_guard lock(mutex_);
  return const_cast<TallyGlobalVariableStorage*>(this)->mapSlot(map);
}

bool TallyGlobalVariableStorage::updatePersistentMap(TallyPersistentMap map,
                                                     const std::function<void(Dictionary&)>& change) {
  std::lock_guard lock(mutex_);
  auto& slot = mapSlot(map);
  if (!slot) return false;
  change(*slot);
  return true;
}

std::optional<fs::path> TallyGlobalVariableStorage::persistentFilePath(std::string_view stem,
                                                                       const std::string& apiKey) const {
  auto folder = TallyUtil::filePathDirectory();
  if (!folder) {
    TallyUtil::log(2, "%s: exception %@",
                   {"-[TallyGlobalVariableStorage getPersistentFilePath:]", folder.error().description()});
    return std::nullopt;
  }
  // "%@/.%@%d_%@.archive": folder, stem, hash of the key, agent version.
  fs::path path = *folder / ("." + std::string(stem) + std::to_string(TallyUtil::stableHash(apiKey)) + "_" +
                             std::string(kTallyAgentVersion) + ".archive");
  if (!files::exists(path)) {
    // A failure here shows again when the map is saved; the path is still the map's.
    (void)TallyUtil::archiveDictionary(Dictionary{}, path);
  } else {
    TallyUtil::addSkipBackupAttributeToItemAtURL(path);
  }
  TallyUtil::log(2, "%s: %@", {"-[TallyGlobalVariableStorage getPersistentFilePath:]", path.string()});
  return path;
}

std::optional<fs::path> TallyGlobalVariableStorage::getPersistentFilePath(std::string_view stem) const {
  auto key = apiKey();
  if (!key) return std::nullopt;
  return persistentFilePath(stem, *key);
}

std::optional<fs::path> TallyGlobalVariableStorage::persistentGlobalsFilePath() const {
  return getPersistentFilePath(persistentMapStem(TallyPersistentMap::kGlobals));
}
std::optional<fs::path> TallyGlobalVariableStorage::persistentCookiesFilePath() const {
  return getPersistentFilePath(persistentMapStem(TallyPersistentMap::kCookies));
}
std::optional<fs::path> TallyGlobalVariableStorage::persistentUrlsFilePath() const {
  return getPersistentFilePath(persistentMapStem(TallyPersistentMap::kUrls));
}
std::optional<fs::path> TallyGlobalVariableStorage::persistentRelayUrlsFilePath() const {
  return getPersistentFilePath(persistentMapStem(TallyPersistentMap::kRelayUrls));
}
std::optional<fs::path> TallyGlobalVariableStorage::persistentRelayPrepUrlsFilePath() const {
  return getPersistentFilePath(persistentMapStem(TallyPersistentMap::kRelayPrepUrls));
}

void TallyGlobalVariableStorage::initPersistentMap() {
  auto key = apiKey();
  if (!key) return;
  // The files are read outside the lock; the maps are installed together.
  std::array<Dictionary, std::size(kTallyPersistentMaps)> loaded;
  for (size_t i = 0; i < loaded.size(); ++i) {
    auto path = persistentFilePath(persistentMapStem(kTallyPersistentMaps[i]), *key);
    auto entries = path ? TallyUtil::safeUnarchiveEntriesWithFile(*path, mapClasses()) : std::nullopt;
    if (entries) loaded[i] = mapFromEntries(kTallyPersistentMaps[i], std::move(*entries));
  }
  std::lock_guard lock(mutex_);
  if (apiKey_ != key) return;  // a newer key came meanwhile; its own load wins
  for (size_t i = 0; i < loaded.size(); ++i) mapSlot(kTallyPersistentMaps[i]) = std::move(loaded[i]);
}

bool TallyGlobalVariableStorage::savePersistentGlobalsToDisk() {
  std::lock_guard saving(saveMutex_);
  std::optional<std::string> key;
  std::array<std::optional<Dictionary>, std::size(kTallyPersistentMaps)> maps;
  {
    std::lock_guard lock(mutex_);
    key = apiKey_;
    for (size_t i = 0; i < maps.size(); ++i) maps[i] = mapSlot(kTallyPersistentMaps[i]);
  }
  if (!key) return false;
  bool allSaved = true;
  for (size_t i = 0; i < maps.size(); ++i) {
    if (!maps[i]) continue;
    auto path = persistentFilePath(persistentMapStem(kTallyPersistentMaps[i]), *key);
    if (!path || !TallyUtil::archiveEntries(entriesOfMap(kTallyPersistentMaps[i], *maps[i]), *path))
      allSaved = false;
  }
  return allSaved;
}

std::int64_t TallyGlobalVariableStorage::maxBitRateKbps() const {
  auto globals = persistentMap(TallyPersistentMap::kGlobals);
  std::int64_t stored = globals ? (*globals)[kMaxBitRateKey].toInteger().value_or(0) : 0;
  return stored < 1 ? kDefaultMaxBitRateKbps : stored;
}

void TallyGlobalVariableStorage::setMaxBitRateKbps(std::int64_t kbps) {
  updatePersistentMap(TallyPersistentMap::kGlobals, [&](Dictionary& globals) {
    globals.set(std::string(kMaxBitRateKey), Value(static_cast<long long>(kbps)));
  });
}

bool TallyGlobalVariableStorage::analyticsEnabled() const {
  auto globals = persistentMap(TallyPersistentMap::kGlobals);
  return globals && (*globals)[kAnalyticsEnabledKey].toInteger().value_or(0) != 0;
}

std::int64_t TallyGlobalVariableStorage::logLevel() const {
  auto globals = persistentMap(TallyPersistentMap::kGlobals);
  return globals ? (*globals)[kLogLevelKey].toInteger().value_or(0) : 0;
}

bool TallyGlobalVariableStorage::lastAdTrackingEnabledSetting() {
  bool enabled = true;
  updatePersistentMap(TallyPersistentMap::kGlobals, [&](Dictionary& globals) {
    const Value* stored = globals.find(kAdTrackingKey);
    if (stored == nullptr) {
      globals.set(std::string(kAdTrackingKey), Value(true));
    } else {
      enabled = stored->toInteger().value_or(0) != 0;
    }
  });
  return enabled;
}

void TallyGlobalVariableStorage::setLastAdTrackingEnabledSetting(bool enabled) {
  updatePersistentMap(TallyPersistentMap::kGlobals,
                      [&](Dictionary& globals) { globals.set(std::string(kAdTrackingKey), Value(enabled)); });
}

bool TallyGlobalVariableStorage::isAdNetIntegration() const {
  std::lock_guard lock(mutex_);
  return std::any_of(originSets_.begin(), originSets_.end(), [](const Value& set) {
    return set.dictionary() && (*set.dictionary())["originName"] == Value("Tally_Adnet_iOS");
  });
}

// The merge rule of session parameters: too many new ones are refused outright; a current set of
// fewer than 2 is replaced; otherwise the new entries are merged in one by one, in their order,
// until the merged set reaches the limit.
void TallyGlobalVariableStorage::recordSessionProperties(const std::optional<Dictionary>& parameters) {
  if (!parameters || parameters->empty()) {
    setSessionParameters(std::nullopt);
    TallyUtil::log(2, "TallyGlobalVariableStorage: clearing session parameters");
    return;
  }
  TallyUtil::log(2, "TallyGlobalVariableStorage: Attempting to record orgin new set with parameters: %@",
                 {Value(*parameters)});
  constexpr std::string_view kTooMany =
      "TallyGlobalVariableStorage: Attempting to record more than 20 parameters for orgin set with "
      "parameters: %@";
  if (parameters->size() >= kTallyMaxSessionParameters) {
    TallyUtil::log(2, kTooMany, {Value(*parameters)});
    return;
  }
  std::optional<Dictionary> tooMany;
  {
    std::lock_guard lock(mutex_);
    if (!sessionParameters_ || sessionParameters_->size() < 2) {
      sessionParameters_ = *parameters;
      return;
    }
    Dictionary merged = *sessionParameters_;
    for (const auto& [key, value] : *parameters) {
      merged.set(key, value);
      if (merged.size() >= kTallyMaxSessionParameters) {
        tooMany = merged;
        break;
      }
    }
    sessionParameters_ = std::move(merged);
  }
  if (tooMany) TallyUtil::log(2, kTooMany, {Value(*tooMany)});
}

void TallyGlobalVariableStorage::recordOrigin(std::string_view name, std::string_view version,
                                              const Dictionary& parameters) {
  TallyUtil::log(
      2, "TallyGlobalVariableStorage: Attempting to record orgin new set with name: %@ and parameters: %@",
      {name, Value(parameters)});
  if (parameters.size() >= kTallyMaxOriginParameters) {
    TallyUtil::log(
        2,
        "TallyGlobalVariableStorage: Attempting to record more than 10 parameters for orgin set with "
        "name: %@ and parameters: %@",
        {name, Value(parameters)});
    return;
  }
  if (name.empty()) {
    TallyUtil::log(1, "TallyGlobalVariableStorage: Not logging Event eventName[%@] due to invalid eventName",
                   {name});
    return;
  }
  Dictionary originParameters{{"tallyOriginVersion", version}};
  for (const auto& [key, value] : parameters) originParameters.set(key, value);
  Value set(Dictionary{{"originName", name}, {"parameters", Value(std::move(originParameters))}});
  std::lock_guard lock(mutex_);
  auto same = std::find_if(originSets_.begin(), originSets_.end(), [&](const Value& existing) {
    return existing.dictionary() && (*existing.dictionary())["originName"] == Value(name);
  });
  if (same != originSets_.end()) originSets_.erase(same);
  originSets_.push_back(std::move(set));
}

std::optional<foundation::Bytes> TallyGlobalVariableStorage::liveCrashReport() {
  auto reporter = tallyCrashReporter();
  if (!reporter || !crashReportingEnabled()) return std::nullopt;
  auto report = reporter->generateLiveReportAndReturnError();
  if (!report) {
    TallyUtil::log(2, "TallySession: Failed to generate crash report: %@", {report.error().description()});
    return std::nullopt;
  }
  return std::move(*report);
}

}  // namespace analytics
