#pragma once
// The analytics SDK's process-wide settings: what the public interface sets before and during a
// session and what the session layer reads back, plus five maps that persist between launches as
// keyed archives of one dictionary each in the SDK folder (server properties, cookies from the upload
// replies, and three maps of callback URLs).
//
// One shared instance, made on first use; cleanup() drops it, so the next use starts from the
// initial values. Every getter and setter takes the instance's lock: the session queue and the main
// thread both use the settings. The maps are handed out as copies and changed only through
// updatePersistentMap, under the same lock.
//
// The cookie map is keyed by the cookies' key bytes, which need not be text; its file holds them as
// data. The globals map holds the Relay settings in their dictionary form ("relaySettings"); its file
// holds them as a TallyRelaySettings object (relay_settings.h).
//
// The maps exist only after setApiKey, because their file names derive from the key:
// "<SDK folder>/.<stem><hash>_<agent version>.archive", where the hash is TallyUtil::stableHash of the
// key (a signed 32-bit decimal that stays the same from build to build, so the next launch finds the
// files again) and the agent version is "155". They reach the disk only in savePersistentGlobalsToDisk.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/value.h"
#include "platform/runtime/run_loop.h"

namespace crash {
class TallyCrashReporter;
}  // namespace crash

namespace analytics {

enum class TallyPersistentMap { kGlobals, kCookies, kUrls, kRelayUrls, kRelayPrepUrls };
inline constexpr TallyPersistentMap kTallyPersistentMaps[] = {
    TallyPersistentMap::kGlobals, TallyPersistentMap::kCookies, TallyPersistentMap::kUrls,
    TallyPersistentMap::kRelayUrls, TallyPersistentMap::kRelayPrepUrls};

// The file name stem of a map: "tallyPropertiesData", "tallyCkData", "tallyPersistentUrlsData",
// "tallyPersistenRelayUrlsData", "tallyPersistenRelayPrepUrlsData".
std::string_view persistentMapStem(TallyPersistentMap map);

// The agent version in the map file names.
inline constexpr std::string_view kTallyAgentVersion = "155";
// Session parameters and origin-set parameters are refused from these counts on.
inline constexpr size_t kTallyMaxSessionParameters = 20;
inline constexpr size_t kTallyMaxOriginParameters = 10;

class TallyGlobalVariableStorage {
 public:
  TallyGlobalVariableStorage();
  TallyGlobalVariableStorage(const TallyGlobalVariableStorage&) = delete;
  TallyGlobalVariableStorage& operator=(const TallyGlobalVariableStorage&) = delete;

  static std::shared_ptr<TallyGlobalVariableStorage> sharedInstance();
  static void cleanup();

#define TALLY_DECLARE_SETTING(Type, getter, setter) \
  Type getter() const;                              \
  void setter(Type value);

  // Booleans: YES at first for udidEnabled, sessionReportsOnCloseEnabled,
  // sessionReportsOnPauseEnabled, eventLoggingEnabled and macAddressEnabled; NO for the others.
  TALLY_DECLARE_SETTING(bool, udidEnabled, setUdidEnabled)
  TALLY_DECLARE_SETTING(bool, sessionReportsOnCloseEnabled, setSessionReportsOnCloseEnabled)
  TALLY_DECLARE_SETTING(bool, sessionReportsOnPauseEnabled, setSessionReportsOnPauseEnabled)
  TALLY_DECLARE_SETTING(bool, backgroundSessionEnabled, setBackgroundSessionEnabled)
  TALLY_DECLARE_SETTING(bool, crashReportingEnabled, setCrashReportingEnabled)
  // The crash reporter the start made with crash reporting on; nothing otherwise.
  TALLY_DECLARE_SETTING(std::shared_ptr<crash::TallyCrashReporter>, tallyCrashReporter, setTallyCrashReporter)
  // With crash reporting on and a reporter kept, a live report of the calling thread (a failure to
  // make one is logged); nothing otherwise. Errors recorded by the application carry it.
  std::optional<foundation::Bytes> liveCrashReport();
  TALLY_DECLARE_SETTING(bool, eventLoggingEnabled, setEventLoggingEnabled)
  TALLY_DECLARE_SETTING(bool, hasSessionOriginName, setHasSessionOriginName)
  TALLY_DECLARE_SETTING(bool, hasDeepLinkName, setHasDeepLinkName)
  TALLY_DECLARE_SETTING(bool, startSessionCalled, setStartSessionCalled)
  TALLY_DECLARE_SETTING(bool, macAddressEnabled, setMacAddressEnabled)
  TALLY_DECLARE_SETTING(bool, optOutSessionPending, setOptOutSessionPending)
  TALLY_DECLARE_SETTING(bool, relayMonitoringEnabled, setRelayMonitoringEnabled)
  TALLY_DECLARE_SETTING(bool, relayRequestPending, setRelayRequestPending)
  // 10 at first.
  TALLY_DECLARE_SETTING(std::int32_t, pauseSecondsBeforeStartingNewSession,
                        setPauseSecondsBeforeStartingNewSession)
  // The application's state as the platform numbers it (0 active, 1 inactive, 2 background); -1 at
  // first.
  TALLY_DECLARE_SETTING(std::int32_t, appApplicationState, setAppApplicationState)
  // -1 at first.
  TALLY_DECLARE_SETTING(std::int32_t, age, setAge)
  TALLY_DECLARE_SETTING(std::optional<std::string>, savedResponseUrl, setSavedResponseUrl)
  TALLY_DECLARE_SETTING(std::optional<std::string>, gender, setGender)
  TALLY_DECLARE_SETTING(std::optional<std::string>, sessionOriginName, setSessionOriginName)
  TALLY_DECLARE_SETTING(std::optional<std::string>, deepLinkName, setDeepLinkName)
  // When the session was last paused.
  TALLY_DECLARE_SETTING(std::optional<foundation::Date>, pauseTime, setPauseTime)
  TALLY_DECLARE_SETTING(std::optional<foundation::Date>, lastPageViewDate, setLastPageViewDate)
  // Empty at first; nothing after recordSessionProperties cleared them.
  TALLY_DECLARE_SETTING(std::optional<foundation::Dictionary>, sessionParameters, setSessionParameters)
  // The location given to the interface (null at first).
  TALLY_DECLARE_SETTING(foundation::Value, location, setLocation)
  // Dictionaries {"originName": name, "parameters": {...}}, oldest first.
  TALLY_DECLARE_SETTING(foundation::Array, originSets, setOriginSets)
  TALLY_DECLARE_SETTING(std::int64_t, adsFetchCount, setAdsFetchCount)
  TALLY_DECLARE_SETTING(std::int64_t, adRequestsCount, setAdRequestsCount)
  TALLY_DECLARE_SETTING(std::int64_t, adsReturnedCount, setAdsReturnedCount)
  TALLY_DECLARE_SETTING(std::int64_t, adsReadyCount, setAdsReadyCount)
  TALLY_DECLARE_SETTING(std::int64_t, adsImpressionFiredCount, setAdsImpressionFiredCount)
#undef TALLY_DECLARE_SETTING
  // Sets relayRequestPending and answers whether it was clear, in one step under the lock, so two
  // threads cannot both start a configuration request.
  bool beginRelayRequest();

  std::optional<std::string> apiKey() const;
  // Keeps the key with every space removed, then loads the persistent maps named after it.
  void setApiKey(std::string key);
  // The main bundle's "CFBundleVersion" at first.
  std::optional<std::string> appVersion() const;
  void setAppVersion(std::string version);
  std::optional<std::string> userID() const;
  void setUserID(std::string userId);

  // Key to an array of texts: what the application was launched with, until the session's next finish.
  foundation::Dictionary launchOptions() const;
  // Adds the option, replacing one of the same key.
  void setLaunchOption(std::string key, foundation::Value value);
  void resetLaunchOptions();

  // Timers of callback URLs under way; removePendingUrlTimers invalidates those still valid and
  // forgets them all.
  void addPendingUrlTimer(runtime::Timer timer);
  size_t pendingUrlTimerCount() const;
  void removePendingUrlTimers();

  // ---- Persistent maps

  // A copy of the map; nothing before setApiKey.
  std::optional<foundation::Dictionary> persistentMap(TallyPersistentMap map) const;
  // Runs the change on the map under the lock; false (and nothing runs) before setApiKey. The change
  // must not call back into the settings.
  bool updatePersistentMap(TallyPersistentMap map,
                           const std::function<void(foundation::Dictionary&)>& change);
  // Reads the five maps from their files (a missing or unreadable file gives an empty map).
  void initPersistentMap();
  // Writes the five maps, each atomically; saves from several threads reach the disk in the order
  // they took their copies. False when any could not be written (each failure is logged).
  bool savePersistentGlobalsToDisk();
  // The map's file, made with an empty map when missing and marked excluded from backup; nothing
  // without an API key or an SDK folder.
  std::optional<std::filesystem::path> getPersistentFilePath(std::string_view stem) const;
  std::optional<std::filesystem::path> persistentGlobalsFilePath() const;
  std::optional<std::filesystem::path> persistentCookiesFilePath() const;
  std::optional<std::filesystem::path> persistentUrlsFilePath() const;
  std::optional<std::filesystem::path> persistentRelayUrlsFilePath() const;
  std::optional<std::filesystem::path> persistentRelayPrepUrlsFilePath() const;

  // Values kept in the globals map. 500 when missing or below 1.
  std::int64_t maxBitRateKbps() const;
  void setMaxBitRateKbps(std::int64_t kbps);
  // NO when missing.
  bool analyticsEnabled() const;
  // 0 when missing.
  std::int64_t logLevel() const;
  // Stored as YES the first time it is read missing.
  bool lastAdTrackingEnabledSetting();
  void setLastAdTrackingEnabledSetting(bool enabled);
  // Whether an origin set is named "Tally_Adnet_iOS".
  bool isAdNetIntegration() const;

  // Session parameters, at most 20 (see the implementation for the merge rule); nothing or an
  // empty dictionary clears them.
  void recordSessionProperties(const std::optional<foundation::Dictionary>& parameters);
  // Adds the origin set, replacing one of the same name (the new one goes to the end). Refused for
  // 10 or more parameters or an empty name.
  void recordOrigin(std::string_view name, std::string_view version,
                    const foundation::Dictionary& parameters);

 private:
  std::optional<std::filesystem::path> persistentFilePath(std::string_view stem,
                                                          const std::string& apiKey) const;
  std::optional<foundation::Dictionary>& mapSlot(TallyPersistentMap map);

  mutable std::mutex mutex_;
  // Keeps whole saves in order; taken before mutex_, never inside it.
  std::mutex saveMutex_;

  bool udidEnabled_ = true;
  bool sessionReportsOnCloseEnabled_ = true;
  bool sessionReportsOnPauseEnabled_ = true;
  bool backgroundSessionEnabled_ = false;
  bool crashReportingEnabled_ = false;
  std::shared_ptr<crash::TallyCrashReporter> tallyCrashReporter_;
  bool eventLoggingEnabled_ = true;
  bool hasSessionOriginName_ = false;
  bool hasDeepLinkName_ = false;
  bool startSessionCalled_ = false;
  bool macAddressEnabled_ = true;
  bool optOutSessionPending_ = false;
  bool relayMonitoringEnabled_ = false;
  bool relayRequestPending_ = false;
  std::int32_t pauseSecondsBeforeStartingNewSession_ = 10;
  std::int32_t appApplicationState_ = -1;
  std::int32_t age_ = -1;
  std::optional<std::string> savedResponseUrl_;
  std::optional<std::string> apiKey_;
  std::optional<foundation::Date> pauseTime_;
  std::optional<foundation::Date> lastPageViewDate_;
  std::optional<std::string> appVersion_;
  std::optional<std::string> userID_;
  std::optional<std::string> gender_;
  std::optional<std::string> sessionOriginName_;
  std::optional<std::string> deepLinkName_;
  std::optional<foundation::Dictionary> sessionParameters_ = foundation::Dictionary{};
  foundation::Dictionary launchOptions_;
  foundation::Value location_;
  foundation::Array originSets_;
  std::vector<runtime::Timer> pendingUrlTimers_;
  std::int64_t adsFetchCount_ = 0;
  std::int64_t adRequestsCount_ = 0;
  std::int64_t adsReturnedCount_ = 0;
  std::int64_t adsReadyCount_ = 0;
  std::int64_t adsImpressionFiredCount_ = 0;

  std::optional<foundation::Dictionary> globalsMap_;
  std::optional<foundation::Dictionary> cookiesMap_;
  std::optional<foundation::Dictionary> urlsMap_;
  std::optional<foundation::Dictionary> relayUrlsMap_;
  std::optional<foundation::Dictionary> relayPrepUrlsMap_;
};

}  // namespace analytics
