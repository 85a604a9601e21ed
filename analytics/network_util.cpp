#include "analytics/network_util.h"

#include <mutex>

#include "analytics/process_wide.h"
#include "analytics/reachability.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

std::string https(std::string_view host, std::string_view path) {
  return "https://" + std::string(host) + std::string(path);
}
std::string http(std::string_view host, std::string_view path) {
  return "http://" + std::string(host) + std::string(path);
}

constexpr std::string_view kUploadPath = "/ingest.do";
constexpr std::string_view kAdPath = "/v14/getAds.do";
constexpr std::string_view kAdLogPath = "/postAdLog.do";
constexpr std::string_view kConfigPath = "/sdk/v1/config";

struct NetworkState {
  std::mutex mutex;  // the class lock
  bool started = false;
  bool likelyNotReachable = false;
  std::int32_t status = 0;
  std::optional<foundation::Error> lastError;
  std::shared_ptr<TallyReachability> hostReachability;
  runtime::ObserverToken observer;
  std::string serverUrl = https(kTallyUploadHost, kUploadPath);
  std::string adServerUrl = https(kTallyAdHost, kAdPath);
  std::string adLogServerUrl = https(kTallyAdLogHost, kAdLogPath);
  std::string configServerUrl = https(kTallyConfigHost, kConfigPath);
  bool staging = false;
};

NetworkState& state() {
  static NetworkState s;
  return s;
}

const char kClassTag = 0;

// Needs the class lock.
void applyStatusLocked(int reachability) {
  NetworkState& s = state();
  switch (reachability) {
    case kTallyReachableViaWiFi:
      s.likelyNotReachable = false;
      s.status = 2;
      break;
    case kTallyReachableViaWWAN:
      s.likelyNotReachable = false;
      s.status = 3;
      break;
    default:
      s.likelyNotReachable = true;
      s.status = 0;
      break;
  }
}

std::string read(std::string NetworkState::*field) {
  std::lock_guard lock(state().mutex);
  return state().*field;
}

void write(std::string NetworkState::*field, std::string_view value) {
  std::lock_guard lock(state().mutex);
  state().*field = std::string(value);
}

}  // namespace

const void* TallyNetworkUtil::networkUtilObject() { return &kClassTag; }

void TallyNetworkUtil::initNetworkReachability() {
  // Maybe called on a queue while a test's main loop goes away: asked and posted to through a handle.
  runtime::LoopHandle main = runtime::RunLoop::mainHandle();
  if (!main.isCurrent()) {
    main.performSoon([] { initNetworkReachability(); });
    return;
  }
  NetworkState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.started) return;
  s.observer = runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(kTallyReachabilityChangedNotification), nullptr,
      [](const runtime::Notification& notification) { updateNetworkStatus(notification); });
  s.hostReachability = TallyReachability::tallyReachabilityWithHostName(kTallyAdHost);
  if (s.hostReachability) s.hostReachability->tallyStartNotifier();
  int status = TallyReachability::tallyReachabilityForInternetConnection()->tallyCurrentReachabilityStatus();
  TallyUtil::log(2, "initial network status [%d] ========= ", {status});
  applyStatusLocked(status);
  s.started = true;
}

void TallyNetworkUtil::updateNetworkStatus(const runtime::Notification& notification) {
  // The object is the reachability that changed; only the SDK's own are taken.
  std::shared_ptr<TallyReachability> reachability;
  {
    std::lock_guard lock(state().mutex);
    reachability = state().hostReachability;
  }
  if (!reachability || notification.object != reachability.get()) return;
  int status = reachability->tallyCurrentReachabilityStatus();
  {
    std::lock_guard lock(state().mutex);
    TallyUtil::log(2, "updated network status [%d] ======== ", {status});
    applyStatusLocked(status);
  }
  // Posted without the lock: observers ask isNetworkReachable, which takes it.
  runtime::NotificationCenter::defaultCenter().post(std::string(kTallyNetworkStatusChangedNotification),
                                                    networkUtilObject());
}

bool TallyNetworkUtil::isNetworkReachable() {
  std::lock_guard lock(state().mutex);
  return !state().likelyNotReachable;
}

std::int32_t TallyNetworkUtil::networkStatus() {
  std::lock_guard lock(state().mutex);
  return state().status;
}

std::optional<foundation::Error> TallyNetworkUtil::lastNetworkOperationError() {
  std::lock_guard lock(state().mutex);
  return state().lastError;
}

void TallyNetworkUtil::setLastNetworkOperationError(std::optional<foundation::Error> error) {
  std::lock_guard lock(state().mutex);
  state().lastError = std::move(error);
}

void TallyNetworkUtil::setNetworkLikelyNotReachable() {
  setLastNetworkOperationError(foundation::Error(std::string(kTallyNetworkErrorDomain), 1));
}

bool TallyNetworkUtil::isNetworkLikelyNotReachable() {
  std::lock_guard lock(state().mutex);
  if (state().likelyNotReachable) return true;
  return state().lastError && state().lastError->domain == kTallyNetworkErrorDomain;
}

std::string TallyNetworkUtil::serverURL() { return read(&NetworkState::serverUrl); }
void TallyNetworkUtil::setServerURL(std::string_view url) { write(&NetworkState::serverUrl, url); }
std::string TallyNetworkUtil::adServerUrl() { return read(&NetworkState::adServerUrl); }
void TallyNetworkUtil::setAdServerUrl(std::string_view url) { write(&NetworkState::adServerUrl, url); }
std::string TallyNetworkUtil::adLogServerUrl() { return read(&NetworkState::adLogServerUrl); }
void TallyNetworkUtil::setAdLogServerUrl(std::string_view url) { write(&NetworkState::adLogServerUrl, url); }
std::string TallyNetworkUtil::configServerUrl() { return read(&NetworkState::configServerUrl); }
void TallyNetworkUtil::setConfigServerUrl(std::string_view url) {
  write(&NetworkState::configServerUrl, url);
}

std::string TallyNetworkUtil::appCloudServerUrl() {
  std::lock_guard lock(state().mutex);
  return std::string(state().staging ? kTallyAppCloudStagingRoot : kTallyAppCloudRoot);
}

void TallyNetworkUtil::setAppCloudServerToStaging(bool staging) {
  std::lock_guard lock(state().mutex);
  state().staging = staging;
}

void TallyNetworkUtil::setSecureTransportEnabledDeprecated(bool secure) {
  auto url = secure ? https : http;
  std::lock_guard lock(state().mutex);
  state().serverUrl = url(kTallyUploadHost, kUploadPath);
  state().adServerUrl = url(kTallyAdHost, kAdPath);
  state().adLogServerUrl = url(kTallyAdLogHost, kAdLogPath);
}

void TallyNetworkUtil::stopNetworkReachability() {
  std::shared_ptr<TallyReachability> reachability;
  runtime::ObserverToken observer;
  {
    std::lock_guard lock(state().mutex);
    NetworkState& s = state();
    reachability = std::move(s.hostReachability);
    observer = std::move(s.observer);
    s.started = false;
  }
  observer.remove();
  if (reachability) reachability->tallyStopNotifier();
}

void TallyNetworkUtil::reset() {
  stopNetworkReachability();
  {
    std::lock_guard lock(state().mutex);
    NetworkState& s = state();
    s.likelyNotReachable = false;
    s.status = 0;
    s.lastError.reset();
    s.serverUrl = https(kTallyUploadHost, kUploadPath);
    s.adServerUrl = https(kTallyAdHost, kAdPath);
    s.adLogServerUrl = https(kTallyAdLogHost, kAdLogPath);
    s.configServerUrl = https(kTallyConfigHost, kConfigPath);
    s.staging = false;
  }
}

// ---- Heartbeat

namespace {

ProcessWide<TallyHeartBeater>& heart() {
  static ProcessWide<TallyHeartBeater> h;
  return h;
}

}  // namespace

std::shared_ptr<TallyHeartBeater> TallyHeartBeater::createAndStartInstance(double interval) {
  return heart().getOrMake([interval] {
    auto beater = std::make_shared<TallyHeartBeater>();
    beater->start(interval);
    return beater;
  });
}

std::shared_ptr<TallyHeartBeater> TallyHeartBeater::instance() { return heart().get(); }

void TallyHeartBeater::cleanup() { heart().reset(); }

TallyHeartBeater::~TallyHeartBeater() { timer_.invalidate(); }

void TallyHeartBeater::start(double interval) {
  timer_.invalidate();
  // The timer calls no member: the heartbeat is a plain post, so it needs no pointer back here.
  timer_ = runtime::RunLoop::main().scheduleTimer(interval, true, [](runtime::Timer&) {
    runtime::NotificationCenter::defaultCenter().post(std::string(kTallyHeartBeatNotification));
  });
}

void TallyHeartBeater::heartBeat() {
  runtime::NotificationCenter::defaultCenter().post(std::string(kTallyHeartBeatNotification));
}

}  // namespace analytics
