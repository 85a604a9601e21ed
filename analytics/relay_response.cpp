#include "analytics/relay_response.h"

#include <algorithm>

#include "analytics/global_variable_storage.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

using relay_avro::fieldSchema;

// Each reader gives nothing when the field is missing or of another type; the caller logs
// "<field> is not present" and gives up.
avro_datum_t field(avro_datum_t record, const char* name) {
  avro_datum_t value = nullptr;
  if (record == nullptr || avro_record_get(record, name, &value) != 0) return nullptr;
  return value;
}

std::optional<std::int64_t> longField(avro_datum_t record, const char* name) {
  std::int64_t value = 0;
  avro_datum_t d = field(record, name);
  if (d == nullptr || avro_int64_get(d, &value) != 0) return std::nullopt;
  return value;
}

std::optional<std::int32_t> intField(avro_datum_t record, const char* name) {
  std::int32_t value = 0;
  avro_datum_t d = field(record, name);
  if (d == nullptr || avro_int32_get(d, &value) != 0) return std::nullopt;
  return value;
}

std::optional<std::string> stringOf(avro_datum_t d) {
  char* text = nullptr;
  if (d == nullptr || !is_avro_string(d) || avro_string_get(d, &text) != 0 || text == nullptr)
    return std::nullopt;
  return std::string(text);
}

std::optional<std::string> enumName(avro_datum_t record, const char* name) {
  avro_datum_t d = field(record, name);
  if (d == nullptr || !is_avro_enum(d)) return std::nullopt;
  const char* symbol = avro_enum_get_name(d);
  if (symbol == nullptr) return std::nullopt;
  return std::string(symbol);
}

// ttl seconds from the network, clamped, as the milliseconds since 1970 when they run out.
std::int64_t deadline(std::int64_t nowMillis, std::int64_t ttlSeconds) {
  return nowMillis + std::clamp<std::int64_t>(ttlSeconds, 0, kRelayMaxTtlSeconds) * 1000;
}

bool absent(const char* field) {
  TallyUtil::log(2, "%s is not present", {field});
  return false;
}

std::nullopt_t missing(const char* field) {
  absent(field);
  return std::nullopt;
}

// One template element; false (logged) when a field cannot be read.
bool readTemplate(avro_datum_t element, TallyRelayAppTemplate& t) {
  auto partner = stringOf(field(element, "partner"));
  if (!partner) return absent("partner");
  t.partner = *partner;
  avro_datum_t events = field(element, "events");
  if (events == nullptr || !is_avro_array(events)) return absent("events");
  for (size_t i = 0, n = avro_array_size(events); i < n; ++i) {
    avro_datum_t item = nullptr;
    if (avro_array_get(events, static_cast<std::int64_t>(i), &item) != 0) return absent("events");
    auto name = stringOf(item);
    if (!name) return absent("events");
    t.events.push_back(std::move(*name));
  }
  auto method = enumName(element, "method");
  if (!method) return absent("method");
  t.method = TallyRelayAppTemplate::relayMethodStringToEnum(*method);
  auto uri = stringOf(field(element, "uri_template"));
  if (!uri) return absent("uri_template");
  if (!uri->empty()) t.uriTemplate = std::move(*uri);
  avro_datum_t body = field(element, "body_template");
  if (body == nullptr || !is_avro_union(body)) return absent("body_template");
  if (auto text = stringOf(avro_union_current_branch(body)); text && !text->empty()) t.bodyTemplate = *text;
  struct {
    const char* name;
    std::int32_t* out;
  } numbers[] = {{"max_redirects", &t.maxRedirects},
                 {"connect_timeout", &t.connectTimeout},
                 {"request_timeout", &t.requestTimeout}};
  for (auto& number : numbers) {
    auto value = intField(element, number.name);
    if (!value) return absent(number.name);
    *number.out = *value;
  }
  return true;
}

}  // namespace

bool TallyRelayResponseContent::store() const {
  return TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kGlobals, [&](foundation::Dictionary& globals) {
        globals.set(std::string(kRelaySettingsKey), settings.dataDictionary());
        if (logLevel) globals.set("logLevel", *logLevel);
        if (analyticsEnabled) globals.set("analyticsEnabled", *analyticsEnabled);
      });
}

bool TallyRelayResponse::initSchema() {
  if (configResponse_) return callbacks_ != nullptr;
  auto parsed = relay_avro::parseSchema(relay_avro::schemaJson(relay_avro::SchemaName::kConfigResponse));
  if (!parsed) {
    TallyUtil::log(2, "Unable to parse relay response schema");
    return false;
  }
  configResponse_ = std::move(*parsed);
  // The record types are taken from the whole schema, so the schema file stays their one source.
  globalSettings_ = fieldSchema(configResponse_.get(), "global_settings");
  if (!globalSettings_) {
    TallyUtil::log(2, "Unable to parse relay global settings schema");
    return false;
  }
  // The templates are found inside the callbacks record: without that record neither is there.
  avro_schema_t callbacks = fieldSchema(configResponse_.get(), "callbacks");
  appTemplate_ = relay_avro::itemSchema(fieldSchema(callbacks, "templates"));
  if (!appTemplate_ && callbacks && is_avro_record(callbacks)) {
    TallyUtil::log(2, "Unable to parse relay app templates schema");
    return false;
  }
  if (!appTemplate_) {
    TallyUtil::log(2, "Unable to parse relay callbacks schema");
    return false;
  }
  callbacks_ = callbacks;
  TallyUtil::log(2, "Successfully parsed arelay response schema");
  return true;
}

std::optional<TallyRelayResponseContent> TallyRelayResponse::parseRelayResponse(
    std::span<const std::uint8_t> body) {
  if (!initSchema()) return std::nullopt;
  if (body.size() > kRelayMaxResponseBytes) {
    TallyUtil::log(2, "relayResponse: a response of %lu bytes is above the limit",
                   {static_cast<std::int64_t>(body.size())});
    return std::nullopt;
  }
  auto datum = relay_avro::readBinary(configResponse_.get(), body);
  if (!datum) {
    TallyUtil::log(2, "relayResponse: %@", {datum.error().localizedDescription()});
    return std::nullopt;
  }
  avro_datum_t record = datum->get();

  TallyRelayResponseContent content;
  TallyRelaySettings& s = content.settings;
  std::int64_t now = relayNowMillis();
  auto issued = longField(record, "issued_at");
  if (!issued) return missing("issued_at");
  s.lastResponseTime = *issued;
  auto refresh = longField(record, "refresh_ttl");
  if (!refresh) return missing("refresh_ttl");
  s.nextRefreshTTL = deadline(now, *refresh);
  auto expiration = longField(record, "expiration_ttl");
  if (!expiration) return missing("expiration_ttl");
  s.expirationTTL = deadline(now, *expiration);

  if (avro_datum_t global = field(record, "global_settings")) {
    content.logLevel = enumName(global, "log_level");
    if (!content.logLevel) return missing("log_level");
    std::int8_t enabled = 0;
    avro_datum_t flag = field(global, "analytics_enabled");
    if (flag == nullptr || avro_boolean_get(flag, &enabled) != 0) return missing("analytics_enabled");
    content.analyticsEnabled = enabled != 0;
  }

  avro_datum_t callbacks = field(record, "callbacks");
  if (callbacks == nullptr) return content;
  if (!intField(callbacks, "max_callbacks")) return missing("max_callbacks");
  avro_datum_t templates = field(callbacks, "templates");
  if (templates == nullptr || !is_avro_array(templates)) return content;
  for (size_t i = 0, n = avro_array_size(templates); i < n; ++i) {
    avro_datum_t element = nullptr;
    if (avro_array_get(templates, static_cast<std::int64_t>(i), &element) != 0 || element == nullptr)
      continue;
    TallyRelayAppTemplate t;
    if (!readTemplate(element, t)) return std::nullopt;
    s.callbacks.push_back(std::move(t));
  }
  return content;
}

}  // namespace analytics
