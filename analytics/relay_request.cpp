#include "analytics/relay_request.h"

#include <algorithm>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/tally_util.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"

namespace analytics {
namespace {

using foundation::Bytes;
using foundation::Dictionary;
using relay_avro::Datum;
using relay_avro::fieldSchema;

// The agent version the configuration service is told.
constexpr std::int32_t kRelaySdkVersion = 155;
constexpr std::int32_t kRelayPlatformPhone = 2;
constexpr std::int32_t kRelayPlatformPad = 8;
constexpr std::int32_t kDeviceIdAdvertising = 7;
constexpr std::int32_t kDeviceIdVendor = 6;

foundation::Error buildError(std::string what) {
  return foundation::Error::make("TallyRelayRequest", 1, std::move(what));
}

// Sets the field to a value made for it; avro_record_set takes its own reference.
bool set(avro_datum_t record, const char* name, avro_datum_t value) {
  Datum owned(value);
  return owned && avro_record_set(record, name, owned.get()) == 0;
}

double number(const foundation::Value& location, std::string_view key) {
  const Dictionary* d = location.dictionary();
  const foundation::Value* v = d ? d->find(key) : nullptr;
  return v ? v->toDouble().value_or(0) : 0;
}

}  // namespace

TallyRelayRequest::~TallyRelayRequest() {
  std::vector<std::shared_ptr<TallyHttpAsyncTask>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(runningTasks_);
  }
  for (auto& task : tasks) runtime::RunLoop::mainHandle().performSoon([task] { task->cancelTask(); });
}

bool TallyRelayRequest::initSchema() {
  std::lock_guard lock(mutex_);
  if (configRequest_) return geolocation_ != nullptr;
  auto parsed = relay_avro::parseSchema(relay_avro::schemaJson(relay_avro::SchemaName::kConfigRequest));
  if (!parsed) {
    TallyUtil::log(2, "Unable to parse relay request schema");
    return false;
  }
  configRequest_ = std::move(*parsed);
  // The record types are taken from the whole schema, so the schema file stays their one source.
  deviceTagsUnion_ = fieldSchema(configRequest_.get(), "device_tags");
  iosTags_ = relay_avro::branchSchema(deviceTagsUnion_, 0);
  if (!iosTags_) {
    TallyUtil::log(2, "Unable to parse ios tags schema");
    return false;
  }
  geoUnion_ = fieldSchema(configRequest_.get(), "geo");
  avro_schema_t geolocation = relay_avro::branchSchema(geoUnion_, 1);
  if (!geolocation) {
    TallyUtil::log(2, "Unable to parse geo location schema");
    return false;
  }
  deviceIdsArray_ = fieldSchema(configRequest_.get(), "device_ids");
  deviceId_ = relay_avro::itemSchema(deviceIdsArray_);
  if (!deviceId_) {
    TallyUtil::log(2, "Unable to parse device id type schema");
    return false;
  }
  geolocation_ = geolocation;
  TallyUtil::log(2, "Successfully parsed ad request schema");
  return true;
}

foundation::Result<Datum> TallyRelayRequest::buildRequestDatum() {
  if (!initSchema()) return buildError("the request schemas do not parse");
  auto storage = TallyGlobalVariableStorage::sharedInstance();
  auto failed = [](const char* message) {
    std::string why = relay_avro::lastError();
    TallyUtil::log(2, message, {why});
    return buildError(std::string(message) + ": " + why);
  };

  Datum tags(avro_record(iosTags_));
  if (!tags || !set(tags.get(), "hw_machine", avro_string(TallyUtil::devicePlatform().c_str())))
    return failed("Unable to create Ios Tags datum structure: %s");

  Datum ids(avro_array(deviceIdsArray_));
  auto appendId = [&](std::int32_t type, const std::string& id) {
    Datum item(avro_record(deviceId_));
    return item && set(item.get(), "type", avro_int32(type)) &&
           set(item.get(), "id", avro_bytes(id.data(), static_cast<std::int64_t>(id.size()))) &&
           avro_array_append_datum(ids.get(), item.get()) == 0;
  };
  if (!ids) return failed("Unable to create relay Request datum structure: %s");
  if (auto advertising = TallyUtil::getTallyId();
      advertising && !appendId(kDeviceIdAdvertising, *advertising))
    return failed("Unable to create IDFA Device id datum structure: %s");
  if (auto vendor = TallyUtil::getIdentifierForVendor(); vendor && !appendId(kDeviceIdVendor, *vendor))
    return failed("Unable to create IDFV Device id datum structure: %s");

  // Without a stored location the service is sent 0, 0 and 0 (the settings keep one only where the
  // platform has a location class; a dictionary of the three figures is read when present).
  foundation::Value location = storage->location();
  Datum geo(avro_record(geolocation_));
  if (!geo || !set(geo.get(), "latitude", avro_double(number(location, "latitude"))) ||
      !set(geo.get(), "longitude", avro_double(number(location, "longitude"))) ||
      !set(geo.get(), "accuracy", avro_float(static_cast<float>(number(location, "horizontalAccuracy")))))
    return failed("Unable to create Geo datum structure: %s");

  auto bundle = runtime::Bundle::main();
  Datum request(avro_record(configRequest_.get()));
  bool built =
      request && set(request.get(), "project_key", avro_string(storage->apiKey().value_or("").c_str())) &&
      set(request.get(), "bundle_id", avro_string(bundle ? bundle->bundleIdentifier().c_str() : "")) &&
      set(request.get(), "app_version", avro_string(storage->appVersion().value_or("").c_str())) &&
      set(request.get(), "sdk_version", avro_int32(kRelaySdkVersion)) &&
      set(request.get(), "platform",
          avro_int32(TallyUtil::isIPad() ? kRelayPlatformPad : kRelayPlatformPhone)) &&
      set(request.get(), "platform_version", avro_string(ui::device().systemVersion.c_str())) &&
      set(request.get(), "limit_ad_tracking", avro_boolean(TallyUtil::isAdTrackingEnabled() ? 0 : 1)) &&
      set(request.get(), "device_tags", avro_union(deviceTagsUnion_, 0, tags.get())) &&
      set(request.get(), "device_ids", avro_datum_incref(ids.get())) &&
      set(request.get(), "geo", avro_union(geoUnion_, 1, geo.get()));
  if (!built) return failed("Unable to create relay Request datum structure: %s");
  TallyUtil::log(2, "Successfully created relay request.");
  return request;
}

foundation::Result<Bytes> TallyRelayRequest::buildRequestBody() {
  auto request = buildRequestDatum();
  if (!request) return request.error();
  auto json = relay_avro::toJson(request->get());
  if (!json) {
    std::string why = json.error().localizedDescription();
    TallyUtil::log(2, "Unable to get JSON from relay request, error %s", {why});
    return buildError("Unable to get JSON from relay request: " + why);
  }
  TallyUtil::log(2, "Sending relay Request of size %lu....", {static_cast<std::int64_t>(json->size())});
  auto body = relay_avro::writeBinary(configRequest_.get(), request->get());
  if (!body) {
    TallyUtil::log(2, "Unable to validate= %s\n", {body.error().localizedDescription()});
    return body.error();
  }
  return std::move(*body);
}

bool TallyRelayRequest::invokeRelayWithParams(const std::optional<Dictionary>& params) {
  auto storage = TallyGlobalVariableStorage::sharedInstance();
  if (!storage->beginRelayRequest()) return false;
  TallyUtil::log(2, "Sending relay Request....");
  auto body = buildRequestBody();
  // Nothing was posted, so no callback clears the flag: the exchange stays off for this process.
  if (!body) return false;
  sendRelayRequest(*body, params);
  return true;
}

void TallyRelayRequest::sendRelayRequest(const Bytes& body, const std::optional<Dictionary>& params) {
  Dictionary headers{{"content-type", kRelayContentType},
                     {"accept", kRelayAccept},
                     {"fm-checksum", TallyUtil::fmChecksum(body)}};
  auto task = TallyHttpAsyncTask::sendMethod("POST", TallyNetworkUtil::configServerUrl(), body, headers,
                                             shared_from_this(), false);
  task->setTag(std::string(kRelayRequestTag));
  if (params) task->setTaskParam("params", *params);
  {
    std::lock_guard lock(mutex_);
    runningTasks_.push_back(task);
  }
  std::weak_ptr<TallyHttpAsyncTask> weak = task;
  runtime::RunLoop::mainHandle().performSoon([weak] {
    if (auto t = weak.lock()) t->startInRunLoop(runtime::RunLoop::main());
  });
}

void TallyRelayRequest::unregisterTask(const TallyHttpAsyncTask* task) {
  std::lock_guard lock(mutex_);
  std::erase_if(runningTasks_, [task](const auto& running) { return running.get() == task; });
}

size_t TallyRelayRequest::runningTaskCount() const {
  std::lock_guard lock(mutex_);
  return runningTasks_.size();
}

std::optional<Dictionary> TallyRelayRequest::lastParams() const {
  std::lock_guard lock(mutex_);
  return lastParams_;
}

void TallyRelayRequest::finishTask(TallyHttpAsyncTask& task) {
  Dictionary taskParams = task.taskParams();
  {
    std::lock_guard lock(mutex_);
    const foundation::Value* params = taskParams.find("params");
    lastParams_ =
        params && params->dictionary() ? std::optional<Dictionary>(*params->dictionary()) : std::nullopt;
  }
  unregisterTask(&task);
}

void TallyRelayRequest::requestSuccessful(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) {
  finishTask(task);
  if (response.isSuccess() && !response.body.empty()) {
    TallyUtil::log(2, "This is a relay response of len %lu",
                   {static_cast<std::int64_t>(response.body.size())});
    if (auto content = response_.parseRelayResponse(response.body)) (void)content->store();
  } else {
    TallyUtil::log(2, "relayRequst: bad response from server");
  }
  TallyGlobalVariableStorage::sharedInstance()->setRelayRequestPending(false);
}

void TallyRelayRequest::requestDidFail(TallyHttpAsyncTask& task, const TallyHTTPResponse& response) {
  TallyUtil::log(2, "relayRequest: Could not connect to server: %@",
                 {response.error ? response.error->description() : std::string("(null)")});
  finishTask(task);
  TallyGlobalVariableStorage::sharedInstance()->setRelayRequestPending(false);
}

void TallyRelayRequest::requestDidCancel(TallyHttpAsyncTask& task, const TallyHTTPResponse&) {
  unregisterTask(&task);
  TallyGlobalVariableStorage::sharedInstance()->setRelayRequestPending(false);
  TallyUtil::log(2, "relayRequst: Request was cancelled");
}

}  // namespace analytics
