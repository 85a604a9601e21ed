#pragma once
// Reads the configuration service's answer: one Avro-binary `ConfigResponse` record
// (analytics/schemas/ConfigResponse.avsc) into Relay settings, the log level and the analytics
// switch.
//
// Trust model: the body comes from the network and is hostile until read. It is refused above
// kRelayMaxResponseBytes; its lengths and counts are checked against the bytes present before Avro C
// reads it (relay_avro.h), so no length in it drives an allocation larger than the body; ttl values
// are clamped to [0, kRelayMaxTtlSeconds] before they become milliseconds, so adding them to now
// cannot overflow. Reading gives everything or nothing: the stored settings change only through
// store(), after the whole record was read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "analytics/relay_avro.h"
#include "analytics/relay_settings.h"

namespace analytics {

inline constexpr size_t kRelayMaxResponseBytes = 64 * 1024;
inline constexpr std::int64_t kRelayMaxTtlSeconds = std::int64_t{10} * 366 * 86400;

// What one response says.
struct TallyRelayResponseContent {
  TallyRelaySettings settings;
  // The name of the "log_level" symbol and the "analytics_enabled" switch, when the record has
  // global settings.
  std::optional<std::string> logLevel;
  std::optional<bool> analyticsEnabled;

  // Puts everything into the persistent globals map in one change: "relaySettings" (dictionary
  // form), "logLevel", "analyticsEnabled". False before the settings have an API key.
  bool store() const;
};

class TallyRelayResponse {
 public:
  TallyRelayResponse() = default;
  TallyRelayResponse(const TallyRelayResponse&) = delete;
  TallyRelayResponse& operator=(const TallyRelayResponse&) = delete;

  // Parses the response schemas once; later calls answer from the first.
  bool initSchema();
  // The response read at the SDK clock's now; nothing when the body is too large or does not read
  // (the reason is logged at level 2).
  std::optional<TallyRelayResponseContent> parseRelayResponse(std::span<const std::uint8_t> body);

 private:
  relay_avro::Schema configResponse_;
  // Borrowed from configResponse_.
  avro_schema_t globalSettings_ = nullptr;
  avro_schema_t appTemplate_ = nullptr;
  avro_schema_t callbacks_ = nullptr;
};

}  // namespace analytics
