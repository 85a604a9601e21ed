#include "analytics/global_variable_storage.h"

#include <utility>

#include "platform/runtime/bundle.h"

namespace analytics {
namespace {

std::mutex& instanceMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<TallyGlobalVariableStorage>& instanceSlot() {
  static std::shared_ptr<TallyGlobalVariableStorage> instance;
  return instance;
}

}  // namespace

TallyGlobalVariableStorage::TallyGlobalVariableStorage() {
  if (auto bundle = runtime::Bundle::main()) {
    foundation::Value version = bundle->objectForInfoDictionaryKey(runtime::kBundleVersionKey);
    if (const std::string* text = version.string()) appVersion_ = *text;
  }
}

std::shared_ptr<TallyGlobalVariableStorage> TallyGlobalVariableStorage::sharedInstance() {
  std::lock_guard lock(instanceMutex());
  if (!instanceSlot()) instanceSlot() = std::make_shared<TallyGlobalVariableStorage>();
  return instanceSlot();
}

void TallyGlobalVariableStorage::cleanup() {
  std::shared_ptr<TallyGlobalVariableStorage> dropped;
  std::lock_guard lock(instanceMutex());
  dropped = std::move(instanceSlot());
}

#define TALLY_SETTING(Type, getter, setter, field)      \
  Type TallyGlobalVariableStorage::getter() const {     \
    std::lock_guard lock(mutex_);                       \
    return field;                                       \
  }                                                     \
  void TallyGlobalVariableStorage::setter(Type value) { \
    std::lock_guard lock(mutex_);                       \
    field = std::move(value);                           \
  }

TALLY_SETTING(bool, crashReportingEnabled, setCrashReportingEnabled, crashReportingEnabled_)
TALLY_SETTING(bool, backgroundSessionEnabled, setBackgroundSessionEnabled, backgroundSessionEnabled_)
TALLY_SETTING(bool, startSessionCalled, setStartSessionCalled, startSessionCalled_)
TALLY_SETTING(std::int32_t, pauseSecondsBeforeStartingNewSession, setPauseSecondsBeforeStartingNewSession,
              pauseSecondsBeforeStartingNewSession_)
TALLY_SETTING(std::int32_t, appApplicationState, setAppApplicationState, appApplicationState_)
TALLY_SETTING(std::optional<foundation::Date>, pauseTime, setPauseTime, pauseTime_)

#undef TALLY_SETTING

std::optional<std::string> TallyGlobalVariableStorage::apiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}
void TallyGlobalVariableStorage::setApiKey(std::string key) {
  std::lock_guard lock(mutex_);
  apiKey_ = std::move(key);
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

}  // namespace analytics
