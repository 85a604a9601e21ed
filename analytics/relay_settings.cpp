#include "analytics/relay_settings.h"

#include <algorithm>
#include <cmath>

#include "analytics/global_variable_storage.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

std::optional<std::int64_t> integerAt(const Dictionary& d, std::string_view key) {
  const Value* v = d.find(key);
  if (!v || !v->isNumber()) return std::nullopt;
  return v->toInteger();
}

std::optional<std::string> stringAt(const Dictionary& d, std::string_view key) {
  const Value* v = d.find(key);
  if (!v || !v->string()) return std::nullopt;
  return *v->string();
}

std::int32_t int32At(const Dictionary& d, std::string_view key) {
  return TallyUtil::int32FromNSInteger(integerAt(d, key).value_or(0));
}

std::int32_t indexOf(const std::vector<std::string>& names, std::optional<std::string_view> name) {
  if (!name) return 0;
  auto found = std::find(names.begin(), names.end(), *name);
  return found == names.end() ? 0 : static_cast<std::int32_t>(found - names.begin());
}

std::string nameAt(const std::vector<std::string>& names, std::int64_t index) {
  return index >= 0 && static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)] : "";
}

}  // namespace

// ---- Template

void TallyRelayAppTemplate::registerClass(plist::ClassRegistry& registry) {
  registry.add(std::string(kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return initWithCoder(d); });
}

TallyRelayAppTemplate TallyRelayAppTemplate::initWithDictionary(const Dictionary& d) {
  TallyRelayAppTemplate t;
  t.partner = stringAt(d, "partner").value_or("");
  if (const Value* events = d.find("events"); events && events->array())
    for (const Value& name : *events->array())
      if (name.string()) t.events.push_back(*name.string());
  t.method = int32At(d, "method");
  t.uriTemplate = stringAt(d, "uriTemplate");
  t.bodyTemplate = stringAt(d, "bodyTemplate");
  t.maxRedirects = int32At(d, "maxRedirects");
  t.connectTimeout = int32At(d, "connectionTimeout");
  t.requestTimeout = int32At(d, "requestTimeout");
  return t;
}

Dictionary TallyRelayAppTemplate::dataDictionary() const {
  Array names(events.begin(), events.end());
  Dictionary d{{"partner", partner}, {"events", std::move(names)}, {"method", method}};
  if (uriTemplate) d.set("uriTemplate", *uriTemplate);
  if (bodyTemplate) d.set("bodyTemplate", *bodyTemplate);
  d.set("maxRedirects", maxRedirects);
  d.set("connectionTimeout", connectTimeout);
  d.set("requestTimeout", requestTimeout);
  return d;
}

void TallyRelayAppTemplate::encodeWithCoder(plist::Coder& c) const {
  c.encodeString("partner", partner);
  c.encodeValue("events", Array(events.begin(), events.end()));
  c.encodeInt("method", method);
  c.encodeValue("uriTemplate", uriTemplate ? Value(*uriTemplate) : Value());
  c.encodeValue("bodyTemplate", bodyTemplate ? Value(*bodyTemplate) : Value());
  c.encodeInt("maxRedirects", maxRedirects);
  // Written and read under this name: stored templates already carry it.
  c.encodeInt("connectionTimeout", connectTimeout);
  c.encodeInt("requestTimeout", requestTimeout);
}

std::shared_ptr<TallyRelayAppTemplate> TallyRelayAppTemplate::initWithCoder(plist::Decoder& d) {
  auto t = std::make_shared<TallyRelayAppTemplate>();
  t->partner = d.decodeString("partner").value_or("");
  if (Value events = d.decodeValue("events"); events.array())
    for (const Value& name : *events.array())
      if (name.string()) t->events.push_back(*name.string());
  auto int32 = [&](std::string_view key) {
    return TallyUtil::int32FromNSInteger(d.decodeInteger(key).value_or(0));
  };
  t->method = int32("method");
  t->uriTemplate = d.decodeString("uriTemplate");
  t->bodyTemplate = d.decodeString("bodyTemplate");
  t->maxRedirects = int32("maxRedirects");
  t->connectTimeout = int32("connectionTimeout");
  t->requestTimeout = int32("requestTimeout");
  return t;
}

const std::vector<std::string>& TallyRelayAppTemplate::relayEventArrayInstance() {
  static const std::vector<std::string> names{"unknown", "tally.session_start", "tally.session_end",
                                              "tally.first_app_launch"};
  return names;
}

const std::vector<std::string>& TallyRelayAppTemplate::relayMethodsArrayInstance() {
  static const std::vector<std::string> names{"GET", "PUT", "POST"};
  return names;
}

std::string TallyRelayAppTemplate::relayEventEnumToString(std::int64_t index) {
  return nameAt(relayEventArrayInstance(), index);
}
std::string TallyRelayAppTemplate::relayMethodEnumToString(std::int64_t index) {
  return nameAt(relayMethodsArrayInstance(), index);
}
std::int32_t TallyRelayAppTemplate::relayEventStringToEnum(std::optional<std::string_view> name) {
  return indexOf(relayEventArrayInstance(), name);
}
std::int32_t TallyRelayAppTemplate::relayMethodStringToEnum(std::optional<std::string_view> name) {
  return indexOf(relayMethodsArrayInstance(), name);
}

// ---- Settings

void TallyRelaySettings::registerClass(plist::ClassRegistry& registry) {
  TallyRelayAppTemplate::registerClass(registry);
  registry.add(std::string(kClassName),
               [](plist::Decoder& d) -> plist::ObjectPtr { return initWithCoder(d); });
}

TallyRelaySettings TallyRelaySettings::initWithDictionary(const Dictionary& d) {
  TallyRelaySettings s;
  s.lastResponseTime = integerAt(d, "lastResponseTime").value_or(0);
  s.nextRefreshTTL = integerAt(d, "nextRefreshTTL").value_or(0);
  s.expirationTTL = integerAt(d, "expirationTTL").value_or(0);
  if (const Value* list = d.find("callbacks"); list && list->array())
    for (const Value& item : *list->array())
      if (item.dictionary())
        s.callbacks.push_back(TallyRelayAppTemplate::initWithDictionary(*item.dictionary()));
  return s;
}

Dictionary TallyRelaySettings::dataDictionary() const {
  Array list;
  for (const auto& t : callbacks) list.emplace_back(t.dataDictionary());
  return Dictionary{{"lastResponseTime", Value(static_cast<long long>(lastResponseTime))},
                    {"nextRefreshTTL", Value(static_cast<long long>(nextRefreshTTL))},
                    {"expirationTTL", Value(static_cast<long long>(expirationTTL))},
                    {"callbacks", std::move(list)}};
}

void TallyRelaySettings::encodeWithCoder(plist::Coder& c) const {
  c.encodeInt("lastResponseTime", lastResponseTime);
  c.encodeInt("nextRefreshTTL", nextRefreshTTL);
  c.encodeInt("expirationTTL", expirationTTL);
  std::vector<std::shared_ptr<TallyRelayAppTemplate>> list;
  for (const auto& t : callbacks) list.push_back(std::make_shared<TallyRelayAppTemplate>(t));
  c.encodeObjectArray("callbacks", list);
}

std::shared_ptr<TallyRelaySettings> TallyRelaySettings::initWithCoder(plist::Decoder& d) {
  auto s = std::make_shared<TallyRelaySettings>();
  s->lastResponseTime = d.decodeInteger("lastResponseTime").value_or(0);
  s->nextRefreshTTL = d.decodeInteger("nextRefreshTTL").value_or(0);
  s->expirationTTL = d.decodeInteger("expirationTTL").value_or(0);
  if (auto list = d.decodeObjectArray<TallyRelayAppTemplate>("callbacks"))
    for (const auto& t : *list) s->callbacks.push_back(*t);
  return s;
}

std::optional<TallyRelaySettings> storedRelaySettings() {
  auto globals = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kGlobals);
  if (!globals) return std::nullopt;
  const Value* stored = globals->find(kRelaySettingsKey);
  if (!stored || !stored->dictionary()) return std::nullopt;
  return TallyRelaySettings::initWithDictionary(*stored->dictionary());
}

void dropStoredRelaySettings() {
  (void)TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(
      TallyPersistentMap::kGlobals, [](Dictionary& globals) { globals.erase(kRelaySettingsKey); });
}

std::int64_t relayNowMillis() {
  // Rounded, not truncated: a clock set to whole milliseconds may read a hair below them.
  return std::llround(TallyUtil::clock().now().unix() * 1000.0);
}

}  // namespace analytics
