#pragma once
// A stand-in for the analytics service's upload endpoint: a real HTTP server on 127.0.0.1 (libmicrohttpd)
// on a free port that takes POST "/ingest.do", decodes the upload envelope with a reader of its own
// (written from the format, apart from the SDK's writer, so that a fault in one is not mirrored in the
// other), keeps what it decoded, and answers in the server-reply format with the cookies it was given.
// It also stands in for the configuration endpoint "/sdk/v1/config" (Avro binary, read with Avro C)
// and for partner callback URLs under "/partner/".
//
//   envelope:  u16 31, u16 4, u16 1, i64 0, u16 0, u16 device family, u16 agent version, ts now,
//              str API key, str app version, u8 host kind, u16 id count, ids, u8 0, bool ever sent,
//              bool ad tracking, ts first use, ts session start, marked list device properties, u16 0,
//              bool 0, launch options, origins, str bundle id, u16 block count, blocks, cookies, i32 CRC-32
//   reply:     u16 0x011E, i32 length of the rest, u16 0, i16 n, n x (i16 k, key, i16 v, value), u16 0
//
// An envelope that does not decode (cut short, bytes left over, a wrong checksum) is answered 400 and
// counted. Fault modes make the next replies fail on purpose: status 500, no answer (the connection is
// dropped), a 200 with a reply cut short before its last field, or a 302 from "/ingest.do" to a page
// that answers an empty 200 (what a client that turns the POST into a GET would take for an empty
// reply).
//
// Trust model: the bytes come from the test's own client, but the reader still checks every length
// against what is left, so a broken writer shows as a decode failure, never as a crash.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace testing_support {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

struct MarkedValue {
  std::string key;
  std::string value;
  std::uint8_t mark = 0;
  friend bool operator==(const MarkedValue&, const MarkedValue&) = default;
};

struct CollectedEvent {
  std::uint16_t id = 0;
  std::string name;
  KeyValues parameters;
  std::int64_t startOffsetMillis = 0;
  std::int64_t durationMillis = 0;
};

struct CollectedError {
  std::uint16_t id = 0;
  std::int64_t timeMillis = 0;
  std::string errorString;
  std::string message;
  std::string exceptionString;
  std::uint8_t type = 0;
  std::optional<foundation::Bytes> report;
};

struct CollectedSession {
  std::uint16_t version = 0;
  std::string appVersion;
  std::int64_t startMillis = 0;
  std::int64_t lengthMillis = 0;
  std::int64_t totalPauseMillis = 0;
  bool backgroundSessionEnabled = false;
  std::uint8_t applicationState = 0;
  std::optional<std::string> origin;
  std::optional<std::string> deepLink;
  KeyValues properties;
  std::vector<MarkedValue> parameters;
  std::string locale;
  std::string timeZone;
  std::uint8_t networkStatus = 0;
  std::uint8_t orientation = 0;
  std::string userId;
  double latitude = 0;
  double longitude = 0;
  float accuracy = 0;
  std::int32_t pageViews = 0;
  std::uint8_t jailbreak = 0;
  std::uint8_t gender = 0;
  std::optional<std::int64_t> birthMillis;
  std::vector<std::pair<std::string, std::int32_t>> eventCounts;
  std::vector<CollectedEvent> events;
  bool eventLogComplete = false;
  std::int32_t totalErrors = 0;
  std::vector<CollectedError> errors;
};

struct CollectedUpload {
  std::uint16_t deviceFamily = 0;
  std::uint16_t agentVersion = 0;
  std::int64_t nowMillis = 0;
  std::string apiKey;
  std::string appVersion;
  std::uint8_t hostKind = 0;
  // Id kind (7 advertising, 6 vendor, 4 hardware) to its bytes.
  std::vector<std::pair<std::uint16_t, foundation::Bytes>> ids;
  bool everSent = false;
  bool adTracking = false;
  std::int64_t firstUseMillis = 0;
  std::int64_t sessionStartMillis = 0;
  std::vector<MarkedValue> deviceProperties;
  std::vector<std::pair<std::string, std::vector<std::string>>> launchOptions;
  std::vector<std::pair<std::string, KeyValues>> origins;
  std::string bundleIdentifier;
  std::vector<CollectedSession> sessions;
  std::vector<std::pair<foundation::Bytes, foundation::Bytes>> cookies;
};

// A relay configuration request as "/sdk/v1/config" decoded it with Avro C's own reader (its generic
// values, apart from the SDK's datum writer) against analytics/schemas/ConfigRequest.avsc.
struct CollectedConfigRequest {
  std::string projectKey;
  std::string bundleId;
  std::string appVersion;
  std::int32_t sdkVersion = 0;
  std::int32_t platform = 0;
  std::string platformVersion;
  bool limitAdTracking = false;
  // The IosTags branch's hw_machine; nothing for the other branch.
  std::optional<std::string> hwMachine;
  std::vector<std::pair<std::int32_t, foundation::Bytes>> deviceIds;
  // Latitude, longitude, accuracy; nothing for the null branch.
  std::optional<std::tuple<double, double, float>> geo;
  std::string contentType;
  std::string accept;
};
foundation::Result<CollectedConfigRequest> decodeConfigRequest(const foundation::Bytes& body);

// What a relay configuration response says; encodeConfigResponse writes it with Avro C against
// analytics/schemas/ConfigResponse.avsc.
struct ConfigTemplateFields {
  std::string partner;
  std::vector<std::string> events;
  std::string method = "GET";
  std::string uriTemplate;
  std::optional<std::string> bodyTemplate;
  std::int32_t maxRedirects = 5;
  std::int32_t connectTimeout = 20;
  std::int32_t requestTimeout = 20;
};
struct ConfigResponseFields {
  std::int64_t issuedAt = 0;
  std::int64_t refreshTtl = 86400;
  std::int64_t expirationTtl = 604800;
  std::string logLevel = "OFF";
  bool analyticsEnabled = false;
  std::int32_t maxCallbacks = 3;
  std::vector<ConfigTemplateFields> templates;
};
foundation::Bytes encodeConfigResponse(const ConfigResponseFields& response);

// A call to a partner URL ("/partner/..."), as the collector received it.
struct PartnerCall {
  std::string method;
  std::string path;
  KeyValues query;
};

// Decodes one envelope; an error names the field that did not decode.
foundation::Result<CollectedUpload> decodeUpload(const foundation::Bytes& body);
// Decodes one session block as the SDK keeps it on disk (saved sessions, queued block files).
foundation::Result<CollectedSession> decodeSessionBlock(const foundation::Bytes& block);

// The reply that hands the cookies over.
foundation::Bytes encodeReply(const std::vector<std::pair<foundation::Bytes, foundation::Bytes>>& cookies);

class AnalyticsCollector {
 public:
  // The replies' faults: kMalformedReply lacks its closing field, kOtherChunkType is of chunk type 0x011F,
  // kFewerCookies announces one cookie more than it holds (and lacks the closing field it then cannot have).
  enum class Fault { kNone, kStatus500, kNoAnswer, kMalformedReply, kRedirectToGet, kOtherChunkType, kFewerCookies };

  AnalyticsCollector();
  ~AnalyticsCollector();
  AnalyticsCollector(const AnalyticsCollector&) = delete;
  AnalyticsCollector& operator=(const AnalyticsCollector&) = delete;

  // False when the server could not start.
  bool running() const;
  // "http://127.0.0.1:<port>/ingest.do".
  std::string ingestUrl() const;
  // "http://127.0.0.1:<port>/sdk/v1/config": takes an Avro ConfigRequest whose "fm-checksum" header
  // matches its body (else 400, counted in rejected()) and answers with the configured response.
  std::string configUrl() const;
  // "http://127.0.0.1:<port>/partner": calls under it are recorded and answered 200 (or by the fault).
  std::string partnerUrl() const;

  // Applies to every reply from now on.
  void setFault(Fault fault);
  void setReplyCookies(std::vector<std::pair<foundation::Bytes, foundation::Bytes>> cookies);

  // The answer of "/sdk/v1/config" from now on (200 and an empty body at first).
  void setConfigResponse(unsigned status, foundation::Bytes body);

  std::vector<CollectedUpload> uploads() const;
  std::vector<CollectedConfigRequest> configRequests() const;
  std::vector<PartnerCall> partnerCalls() const;
  // Requests to "/ingest.do" and "/sdk/v1/config" that did not decode, with the reason.
  std::vector<std::string> rejected() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace testing_support
