#pragma once
// Asks the configuration service for the Relay settings: builds one `ConfigRequest` record
// (analytics/schemas/ConfigRequest.avsc) from the SDK's settings and device facts, writes it in Avro
// binary form with Avro C, and posts it to the configuration URL ("/sdk/v1/config") with its CRC-32
// in the "fm-checksum" header. The answer is read by TallyRelayResponse and stored whole.
//
//   invokeRelayWithParams  (any thread) pending flag set? stop : set it, build, encode, post
//     -> requestSuccessful   (main loop) a 2xx/3xx reply with a body: parse, store   } pending
//     -> requestDidFail      (main loop) logged                                     } flag
//     -> requestDidCancel    (main loop) logged                                     } cleared
//
// One request at a time per process: the settings' relayRequestPending flag is taken and set in
// one step under the settings' lock. A failure before the post (schemas, building, encoding) leaves
// it set: what failed once would fail again, so no further request is made while the process runs.
// Tasks still running when the object goes are cancelled.

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "analytics/http_task.h"
#include "analytics/relay_avro.h"
#include "analytics/relay_response.h"
#include "platform/foundation/value.h"

namespace analytics {

inline constexpr std::string_view kRelayRequestTag = "relayRequest";
inline constexpr std::string_view kRelayContentType = "application/vnd.tally.sdk-avrobin;version=1";
inline constexpr std::string_view kRelayAccept = "application/vnd.tally.sdk-avrobin; version=1";

class TallyRelayRequest : public TallyHttpAsyncTaskDelegate,
                          public std::enable_shared_from_this<TallyRelayRequest> {
 public:
  static std::shared_ptr<TallyRelayRequest> create() {
    return std::shared_ptr<TallyRelayRequest>(new TallyRelayRequest);
  }
  ~TallyRelayRequest() override;
  TallyRelayRequest(const TallyRelayRequest&) = delete;
  TallyRelayRequest& operator=(const TallyRelayRequest&) = delete;

  // Parses the request schemas once; later calls answer from the first.
  bool initSchema();
  // Builds, encodes and posts one request unless one is pending; true when it was posted.
  bool invokeRelayWithParams(const std::optional<foundation::Dictionary>& params = std::nullopt);
  // The request body as it would be posted now; the error names the step that failed.
  foundation::Result<foundation::Bytes> buildRequestBody();

  void unregisterTask(const TallyHttpAsyncTask* task);
  size_t runningTaskCount() const;
  // The "params" handed through the last finished task.
  std::optional<foundation::Dictionary> lastParams() const;

  // TallyHttpAsyncTaskDelegate
  void requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;
  void requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) override;

 private:
  TallyRelayRequest() = default;
  foundation::Result<relay_avro::Datum> buildRequestDatum();
  void sendRelayRequest(const foundation::Bytes& body, const std::optional<foundation::Dictionary>& params);
  void finishTask(TallyHttpAsyncTask& task);

  mutable std::mutex mutex_;
  relay_avro::Schema configRequest_;
  // Borrowed from configRequest_.
  avro_schema_t deviceTagsUnion_ = nullptr;
  avro_schema_t iosTags_ = nullptr;
  avro_schema_t deviceIdsArray_ = nullptr;
  avro_schema_t deviceId_ = nullptr;
  avro_schema_t geoUnion_ = nullptr;
  avro_schema_t geolocation_ = nullptr;
  std::vector<std::shared_ptr<TallyHttpAsyncTask>> runningTasks_;
  std::optional<foundation::Dictionary> lastParams_;
  TallyRelayResponse response_;
};

}  // namespace analytics
