#pragma once
// The analytics SDK's process-wide settings: what the public interface sets before and during a
// session and what the session start reads back. One shared instance, made on first use; cleanup()
// drops it, so the next use starts from the initial values. Thread-safe.
//
// Only the settings the public interface uses so far are here; the others (and the persistent
// maps) join them as the parts that use them are built.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"

namespace analytics {

class TallyGlobalVariableStorage {
 public:
  TallyGlobalVariableStorage();
  TallyGlobalVariableStorage(const TallyGlobalVariableStorage&) = delete;
  TallyGlobalVariableStorage& operator=(const TallyGlobalVariableStorage&) = delete;

  static std::shared_ptr<TallyGlobalVariableStorage> sharedInstance();
  static void cleanup();

  // NO at first.
  bool crashReportingEnabled() const;
  void setCrashReportingEnabled(bool enabled);
  // NO at first.
  bool backgroundSessionEnabled() const;
  void setBackgroundSessionEnabled(bool enabled);
  // NO until the first startSession.
  bool startSessionCalled() const;
  void setStartSessionCalled(bool called);
  // 10 at first.
  std::int32_t pauseSecondsBeforeStartingNewSession() const;
  void setPauseSecondsBeforeStartingNewSession(std::int32_t seconds);
  // The application's state as the platform numbers it (0 active, 1 inactive, 2 background); -1 at
  // first.
  std::int32_t appApplicationState() const;
  void setAppApplicationState(std::int32_t state);

  std::optional<std::string> apiKey() const;
  void setApiKey(std::string key);
  // When the session was last paused.
  std::optional<foundation::Date> pauseTime() const;
  void setPauseTime(std::optional<foundation::Date> time);
  // The main bundle's "CFBundleVersion" at first.
  std::optional<std::string> appVersion() const;
  void setAppVersion(std::string version);
  std::optional<std::string> userID() const;
  void setUserID(std::string userId);

 private:
  mutable std::mutex mutex_;
  bool crashReportingEnabled_ = false;
  bool backgroundSessionEnabled_ = false;
  bool startSessionCalled_ = false;
  std::int32_t pauseSecondsBeforeStartingNewSession_ = 10;
  std::int32_t appApplicationState_ = -1;
  std::optional<std::string> apiKey_;
  std::optional<foundation::Date> pauseTime_;
  std::optional<std::string> appVersion_;
  std::optional<std::string> userID_;
};

}  // namespace analytics
