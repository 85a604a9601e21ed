#pragma once
// The Relay settings the configuration service answers with (relay_response.h) and the callback
// templates they hold, which the Relay controller (relay_event_controller.h) turns into calls.
//
// Both are plain values with two stored forms: a keyed archive (class names "TallyRelaySettings" and
// "TallyRelayAppTemplate") and a dictionary of the same keys. The current settings live under
// "relaySettings" in the settings' persistent globals map (stored, storedRelaySettings,
// dropStoredRelaySettings): in memory, where the map holds plain values only, in their dictionary
// form; in the map's file as the archived object (global_variable_storage.h). Reading either form
// never trusts it: a field of the wrong type reads as missing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/plist/keyed_archive.h"

namespace analytics {

inline constexpr std::string_view kRelaySettingsKey = "relaySettings";
// The event names of Relay; only the session end is sent in this system.
inline constexpr std::string_view kRelaySessionEndEvent = "tally.session_end";

class TallyRelayAppTemplate : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyRelayAppTemplate";
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  std::string partner;
  // SDK event names that trigger the callback.
  std::vector<std::string> events;
  // 0 "GET", 1 "PUT", 2 "POST".
  std::int32_t method = 0;
  std::optional<std::string> uriTemplate;
  std::optional<std::string> bodyTemplate;
  std::int32_t maxRedirects = 0;
  std::int32_t connectTimeout = 0;
  std::int32_t requestTimeout = 0;

  static TallyRelayAppTemplate initWithDictionary(const foundation::Dictionary& dictionary);
  foundation::Dictionary dataDictionary() const;

  // "unknown", "tally.session_start", "tally.session_end", "tally.first_app_launch".
  static const std::vector<std::string>& relayEventArrayInstance();
  // "GET", "PUT", "POST".
  static const std::vector<std::string>& relayMethodsArrayInstance();
  // The name at the index; "" outside the list.
  static std::string relayEventEnumToString(std::int64_t index);
  static std::string relayMethodEnumToString(std::int64_t index);
  // The index of the name; 0 for nothing or a name outside the list.
  static std::int32_t relayEventStringToEnum(std::optional<std::string_view> name);
  static std::int32_t relayMethodStringToEnum(std::optional<std::string_view> name);

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallyRelayAppTemplate> initWithCoder(plist::Decoder& decoder);

  friend bool operator==(const TallyRelayAppTemplate& a, const TallyRelayAppTemplate& b) {
    return a.partner == b.partner && a.events == b.events && a.method == b.method &&
           a.uriTemplate == b.uriTemplate && a.bodyTemplate == b.bodyTemplate &&
           a.maxRedirects == b.maxRedirects && a.connectTimeout == b.connectTimeout &&
           a.requestTimeout == b.requestTimeout;
  }
};

class TallyRelaySettings : public plist::Archivable {
 public:
  static constexpr std::string_view kClassName = "TallyRelaySettings";
  static void registerClass(plist::ClassRegistry& registry = plist::ClassRegistry::shared());

  // The response's "issued_at", as sent.
  std::int64_t lastResponseTime = 0;
  // Milliseconds since 1970 when a new configuration is due, and when these settings expire.
  std::int64_t nextRefreshTTL = 0;
  std::int64_t expirationTTL = 0;
  std::vector<TallyRelayAppTemplate> callbacks;

  static TallyRelaySettings initWithDictionary(const foundation::Dictionary& dictionary);
  foundation::Dictionary dataDictionary() const;

  // Whether the settings expired at `nowMillis` (milliseconds since 1970).
  bool expiredAt(std::int64_t nowMillis) const { return expirationTTL <= nowMillis; }
  // Neither due for refresh nor expired, with at least one callback.
  bool usableAt(std::int64_t nowMillis) const {
    return nextRefreshTTL > nowMillis && expirationTTL > nowMillis && !callbacks.empty();
  }

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override;
  static std::shared_ptr<TallyRelaySettings> initWithCoder(plist::Decoder& decoder);

  friend bool operator==(const TallyRelaySettings& a, const TallyRelaySettings& b) {
    return a.lastResponseTime == b.lastResponseTime && a.nextRefreshTTL == b.nextRefreshTTL &&
           a.expirationTTL == b.expirationTTL && a.callbacks == b.callbacks;
  }
};

// The settings kept under "relaySettings" in the persistent globals map; nothing when absent or
// before the settings have an API key.
std::optional<TallyRelaySettings> storedRelaySettings();
void dropStoredRelaySettings();

// Milliseconds since 1970 on the SDK's clock.
std::int64_t relayNowMillis();

}  // namespace analytics
