#pragma once
// The SDK's network status and server URLs, and its heartbeat.
//
// The status starts as "reachable, status 0" and follows the reachability of the ad-serving host
// once initNetworkReachability has run (on the main thread): 2 over Wi-Fi or a local link, 3 over
// the cellular network, 0 not reachable. Every change is announced with
// "TallyNetworkStatusChangedNotification" (object: networkUtilObject()) after the status lock is let
// go, so observers may ask isNetworkReachable, which takes it. All class operations are thread-safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"

namespace analytics {

inline constexpr std::string_view kTallyNetworkStatusChangedNotification =
    "TallyNetworkStatusChangedNotification";
inline constexpr std::string_view kTallyHeartBeatNotification = "TallyHeartBeatNotification";
// The error a failed status records as the last network operation error.
inline constexpr std::string_view kTallyFailedToLoadUrlDomain = "Failed to load url";
inline constexpr std::int64_t kTallyFailedToLoadUrlCode = 4;
inline constexpr std::string_view kTallyNetworkErrorDomain = "kCFErrorDomainCFNetwork";

// The configured hosts. Only the paths are fixed by the service.
inline constexpr std::string_view kTallyUploadHost = "data.tally.example";
inline constexpr std::string_view kTallyAdHost = "ads.tally.example";
inline constexpr std::string_view kTallyAdLogHost = "adlog.tally.example";
inline constexpr std::string_view kTallyConfigHost = "config.tally.example";
inline constexpr std::string_view kTallyAppCloudRoot = "https://cloud.tally.example/";
inline constexpr std::string_view kTallyAppCloudStagingRoot = "https://cloud-staging.tally.example/";

class TallyNetworkUtil {
 public:
  TallyNetworkUtil() = delete;

  // The object the status notification is posted with (the class, as the platform has it).
  static const void* networkUtilObject();

  // Starts following the reachability of the ad host, once; from another thread it is sent to the
  // main run loop and returns at once.
  static void initNetworkReachability();
  // Takes the status of the notification's reachability object and announces it.
  static void updateNetworkStatus(const runtime::Notification& notification);
  static bool isNetworkReachable();
  static std::int32_t networkStatus();
  static std::optional<foundation::Error> lastNetworkOperationError();
  static void setLastNetworkOperationError(std::optional<foundation::Error> error);
  static void setNetworkLikelyNotReachable();
  // Not reachable, or the last operation failed in the network domain.
  static bool isNetworkLikelyNotReachable();

  static std::string serverURL();
  static void setServerURL(std::string_view url);
  static std::string adServerUrl();
  static void setAdServerUrl(std::string_view url);
  static std::string adLogServerUrl();
  static void setAdLogServerUrl(std::string_view url);
  static std::string configServerUrl();
  static void setConfigServerUrl(std::string_view url);
  static std::string appCloudServerUrl();
  static void setAppCloudServerToStaging(bool staging);
  // YES: the upload, ad and ad-log URLs back to their https defaults; NO: their plain-http forms.
  static void setSecureTransportEnabledDeprecated(bool secure);

  // Stops following reachability (the SDK's shutdown); the status, error and URLs stay.
  static void stopNetworkReachability();
  // Stops following reachability and forgets status, error and URLs (between tests, and at the
  // SDK's shutdown).
  static void reset();
};

// Posts "TallyHeartBeatNotification" on the main run loop at a fixed interval.
class TallyHeartBeater {
 public:
  // Makes the one heartbeater and starts it, the first time only.
  static std::shared_ptr<TallyHeartBeater> createAndStartInstance(double interval);
  static std::shared_ptr<TallyHeartBeater> instance();
  // Stops and drops the heartbeater.
  static void cleanup();

  TallyHeartBeater() = default;
  ~TallyHeartBeater();
  TallyHeartBeater(const TallyHeartBeater&) = delete;
  TallyHeartBeater& operator=(const TallyHeartBeater&) = delete;

  // (Re)schedules the repeating timer on the main run loop.
  void start(double interval);
  void heartBeat();

 private:
  runtime::Timer timer_;
};

}  // namespace analytics
