#pragma once
// A stand-in for the analytics service's upload endpoint: a real HTTP server on 127.0.0.1 (libmicrohttpd)
// on a free port that takes POST "/ingest.do", decodes the upload envelope with a reader of its own
// (written from the format, apart from the SDK's writer, so that a fault in one is not mirrored in the
// other), keeps what it decoded, and answers in the server-reply format with the cookies it was given.
//
//   envelope:  u16 31, u16 4, u16 1, i64 0, u16 0, u16 device family, u16 agent version, ts now,
//              str API key, str app version, u8 host kind, u16 id count, ids, u8 0, bool ever sent,
//              bool ad tracking, ts first use, ts session start, marked list device properties, u16 0,
//              bool 0, launch options, origins, str bundle id, u16 block count, blocks, cookies, i32 CRC-32
//   reply:     u16 0x011E, i32 length of the rest, u16 0, i16 n, n x (i16 k, key, i16 v, value), u16 0
//
// An envelope that does not decode (cut short, bytes left over, a wrong checksum) is answered 400 and
// counted. Fault modes make the next replies fail on purpose: status 500, no answer (the connection is
// dropped), or a 200 with a reply cut short before its last field.
//
// Trust model: the bytes come from the test's own client, but the reader still checks every length
// against what is left, so a broken writer shows as a decode failure, never as a crash.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
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

// Decodes one envelope; an error names the field that did not decode.
foundation::Result<CollectedUpload> decodeUpload(const foundation::Bytes& body);

// The reply that hands the cookies over.
foundation::Bytes encodeReply(const std::vector<std::pair<foundation::Bytes, foundation::Bytes>>& cookies);

class AnalyticsCollector {
 public:
  enum class Fault { kNone, kStatus500, kNoAnswer, kMalformedReply };

  AnalyticsCollector();
  ~AnalyticsCollector();
  AnalyticsCollector(const AnalyticsCollector&) = delete;
  AnalyticsCollector& operator=(const AnalyticsCollector&) = delete;

  // False when the server could not start.
  bool running() const;
  // "http://127.0.0.1:<port>/ingest.do".
  std::string ingestUrl() const;

  // Applies to every reply from now on.
  void setFault(Fault fault);
  void setReplyCookies(std::vector<std::pair<foundation::Bytes, foundation::Bytes>> cookies);

  std::vector<CollectedUpload> uploads() const;
  // Requests to "/ingest.do" that did not decode, with the reason.
  std::vector<std::string> rejected() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace testing_support
