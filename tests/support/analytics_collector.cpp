#include "support/analytics_collector.h"

#include <arpa/inet.h>
#include <avro.h>
#include <microhttpd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>

namespace testing_support {
namespace {

using foundation::Bytes;

// Whether the bytes are well-formed UTF-8 of at most 255 UTF-16 units.
bool shortUtf8(const Bytes& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    std::uint8_t lead = text[i];
    size_t extra = lead < 0x80             ? 0
                   : (lead & 0xE0) == 0xC0 ? 1
                   : (lead & 0xF0) == 0xE0 ? 2
                   : (lead & 0xF8) == 0xF0 ? 3
                                           : 9;
    if (extra == 9 || extra > text.size() - i - 1) return false;
    std::uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (text[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    units += cp >= 0x10000 ? 2 : 1;
    i += extra + 1;
  }
  return units <= 255;
}

// Reads big-endian fields. Past the end every read gives zero and the reader stays failed, so loops
// over counts end at once; the first failure's field name is kept.
class Reader {
 public:
  explicit Reader(const Bytes& data, size_t end) : data_(data), end_(end) {}

  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }
  size_t offset() const { return offset_; }

  std::uint64_t number(size_t size, const char* field) {
    if (failed() || end_ - offset_ < size) {
      fail(field);
      return 0;
    }
    std::uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | data_[offset_ + i];
    offset_ += size;
    return value;
  }
  std::uint8_t u8(const char* field) { return static_cast<std::uint8_t>(number(1, field)); }
  std::uint16_t u16(const char* field) { return static_cast<std::uint16_t>(number(2, field)); }
  std::int32_t i32(const char* field) { return static_cast<std::int32_t>(number(4, field)); }
  std::int64_t i64(const char* field) { return static_cast<std::int64_t>(number(8, field)); }
  bool boolean(const char* field) {
    std::uint8_t value = u8(field);
    if (value > 1) fail(field);
    return value == 1;
  }
  double f64(const char* field) {
    std::uint64_t bits = number(8, field);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  float f32(const char* field) {
    auto bits = static_cast<std::uint32_t>(number(4, field));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  Bytes bytes(size_t size, const char* field) {
    if (failed() || end_ - offset_ < size) {
      fail(field);
      return {};
    }
    Bytes out(data_.begin() + static_cast<std::ptrdiff_t>(offset_),
              data_.begin() + static_cast<std::ptrdiff_t>(offset_ + size));
    offset_ += size;
    return out;
  }
  // Text is UTF-8 and at most 255 UTF-16 units: the writer cuts longer text on a character boundary.
  std::string str(const char* field) {
    Bytes text = bytes(u16(field), field);
    if (!failed() && !shortUtf8(text)) fail(field);
    return std::string(text.begin(), text.end());
  }
  KeyValues keyValues(const char* field) {
    KeyValues list;
    for (std::uint16_t n = u16(field); n > 0 && !failed(); --n) {
      std::string key = str(field);
      list.emplace_back(std::move(key), str(field));
    }
    return list;
  }
  std::vector<MarkedValue> marked(const char* field) {
    std::vector<MarkedValue> list;
    for (std::uint16_t n = u16(field); n > 0 && !failed(); --n) {
      MarkedValue item;
      item.key = str(field);
      item.value = str(field);
      item.mark = u8(field);
      if (item.mark > 2) fail(field);
      list.push_back(std::move(item));
    }
    return list;
  }
  void expect(std::uint64_t value, size_t size, const char* field) {
    if (number(size, field) != value) fail(field);
  }
  void fail(const char* field) {
    if (!failed()) failure_ = std::string(field) + " at offset " + std::to_string(offset_);
  }

 private:
  const Bytes& data_;
  size_t end_;
  size_t offset_ = 0;
  std::string failure_;
};

CollectedEvent readEvent(Reader& r) {
  CollectedEvent event;
  event.id = r.u16("event id");
  event.name = r.str("event name");
  event.parameters = r.keyValues("event parameters");
  event.startOffsetMillis = r.i64("event start");
  event.durationMillis = r.i64("event duration");
  return event;
}

CollectedError readError(Reader& r) {
  CollectedError error;
  error.id = r.u16("error id");
  error.timeMillis = r.i64("error time");
  error.errorString = r.str("error string");
  error.message = r.str("error message");
  error.exceptionString = r.str("exception string");
  error.type = r.u8("error type");
  if (error.type < 1 || error.type > 3) r.fail("error type");
  std::uint8_t present = r.u8("report present");
  if (present > 1) r.fail("report present");
  if (present == 1) error.report = r.bytes(static_cast<std::uint32_t>(r.i32("report length")), "report");
  return error;
}

CollectedSession readSession(Reader& r) {
  CollectedSession s;
  s.version = r.u16("block version");
  if (s.version != 7) r.fail("block version");
  s.appVersion = r.str("block app version");
  s.startMillis = r.i64("block start");
  s.lengthMillis = r.i64("block length");
  s.totalPauseMillis = r.i64("block pause");
  s.backgroundSessionEnabled = r.boolean("background sessions");
  s.applicationState = r.u8("application state");
  if (s.applicationState > 2 && s.applicationState != 0xFF) r.fail("application state");
  if (r.boolean("origin present")) s.origin = r.str("origin");
  if (r.boolean("deep link present")) s.deepLink = r.str("deep link");
  s.properties = r.keyValues("session properties");
  s.parameters = r.marked("session parameters");
  s.locale = r.str("locale");
  s.timeZone = r.str("time zone");
  s.networkStatus = r.u8("network status");
  if (s.networkStatus > 3) r.fail("network status");
  s.orientation = r.u8("orientation");
  if (s.orientation != 1 && s.orientation != 2) r.fail("orientation");
  s.userId = r.str("user id");
  if (!r.boolean("location present")) r.fail("location present");
  s.latitude = r.f64("latitude");
  s.longitude = r.f64("longitude");
  s.accuracy = r.f32("accuracy");
  s.pageViews = r.i32("page views");
  s.jailbreak = r.u8("jailbreak");
  if (s.jailbreak != 0xFF) r.fail("jailbreak");
  r.expect(0, 1, "reserved byte");
  s.gender = r.u8("gender");
  if (s.gender > 1 && s.gender != 0xFF) r.fail("gender");
  if (r.boolean("birth date present")) s.birthMillis = r.i64("birth date");
  for (std::uint16_t n = r.u16("event counts"); n > 0 && !r.failed(); --n) {
    std::string name = r.str("event count name");
    s.eventCounts.emplace_back(std::move(name), r.i32("event count"));
  }
  for (std::uint16_t n = r.u16("event log"); n > 0 && !r.failed(); --n) {
    s.events.push_back(readEvent(r));
    // Every logged event is counted under its name.
    const std::string& name = s.events.back().name;
    if (std::none_of(s.eventCounts.begin(), s.eventCounts.end(),
                     [&](const auto& c) { return c.first == name; }))
      r.fail("event log name without a count");
  }
  s.eventLogComplete = r.boolean("event log complete");
  s.totalErrors = r.i32("total errors");
  std::uint16_t errorCount = r.u16("error count");
  if (s.totalErrors < errorCount) r.fail("total errors");
  for (std::uint16_t n = errorCount; n > 0 && !r.failed(); --n) s.errors.push_back(readError(r));
  // A crash attachment comes last, with empty texts and a report, its id one above the others'.
  std::uint16_t largest = 0;
  for (size_t i = 0; i < s.errors.size(); ++i) {
    const CollectedError& e = s.errors[i];
    if (e.type != 3) {
      largest = std::max(largest, e.id);
      continue;
    }
    if (i + 1 != s.errors.size() || !e.report || !e.errorString.empty() || !e.message.empty() ||
        !e.exceptionString.empty() || e.id != static_cast<std::uint16_t>(largest + 1))
      r.fail("crash attachment");
  }
  r.expect(0, 4, "reserved i32");
  for (int i = 0; i < 3; ++i) r.expect(0, 2, "reserved u16");
  return s;
}

std::uint32_t crc32(const Bytes& data, size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return size == 0 ? 0 : ~crc;
}

void put(Bytes& out, std::uint64_t value, size_t size) {
  for (size_t i = size; i > 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

}  // namespace

foundation::Result<CollectedUpload> decodeUpload(const Bytes& body) {
  auto failure = [](std::string why) {
    return foundation::Error::make("AnalyticsCollector", 1, "the upload does not decode: " + std::move(why));
  };
  if (body.size() < 4) return failure("no checksum");
  size_t end = body.size() - 4;
  std::uint32_t stored = 0;
  for (size_t i = end; i < body.size(); ++i) stored = (stored << 8) | body[i];
  if (crc32(body, end) != stored) return failure("checksum");

  Reader r(body, end);
  CollectedUpload u;
  r.expect(31, 2, "format");
  r.expect(4, 2, "field 2");
  r.expect(1, 2, "field 3");
  r.expect(0, 8, "field 4");
  r.expect(0, 2, "field 5");
  u.deviceFamily = r.u16("device family");
  if (u.deviceFamily != 2 && u.deviceFamily != 8) r.fail("device family");
  u.agentVersion = r.u16("agent version");
  if (u.agentVersion != 155) r.fail("agent version");
  u.nowMillis = r.i64("now");
  u.apiKey = r.str("API key");
  u.appVersion = r.str("app version");
  u.hostKind = r.u8("host kind");
  if (u.hostKind != 1 && u.hostKind != 2) r.fail("host kind");
  for (std::uint16_t n = r.u16("id count"); n > 0 && !r.failed(); --n) {
    std::uint16_t kind = r.u16("id kind");
    // Advertising (7), vendor (6), hardware (4): each once, in that order.
    if (!u.ids.empty() && kind >= u.ids.back().first) r.fail("id order");
    if (kind == 4) {
      u.ids.emplace_back(kind, r.bytes(r.u16("hardware id"), "hardware id"));
    } else if (kind == 6 || kind == 7) {
      std::string text = r.str("id");
      u.ids.emplace_back(kind, Bytes(text.begin(), text.end()));
    } else {
      r.fail("id kind");
    }
  }
  r.expect(0, 1, "field 16");
  u.everSent = r.boolean("ever sent");
  u.adTracking = r.boolean("ad tracking");
  u.firstUseMillis = r.i64("first use");
  u.sessionStartMillis = r.i64("session start");
  u.deviceProperties = r.marked("device properties");
  r.expect(0, 2, "field 22");
  r.expect(0, 1, "field 23");
  for (std::uint16_t n = r.u16("launch options"); n > 0 && !r.failed(); --n) {
    std::string key = r.str("launch option");
    std::vector<std::string> items;
    for (std::uint16_t m = r.u16("launch option items"); m > 0 && !r.failed(); --m)
      items.push_back(r.str("item"));
    u.launchOptions.emplace_back(std::move(key), std::move(items));
  }
  for (std::uint16_t n = r.u16("origins"); n > 0 && !r.failed(); --n) {
    std::string name = r.str("origin name");
    u.origins.emplace_back(std::move(name), r.keyValues("origin parameters"));
  }
  u.bundleIdentifier = r.str("bundle identifier");
  for (std::uint16_t n = r.u16("block count"); n > 0 && !r.failed(); --n)
    u.sessions.push_back(readSession(r));
  for (std::uint16_t n = r.u16("cookies"); n > 0 && !r.failed(); --n) {
    Bytes key = r.bytes(r.u16("cookie key"), "cookie key");
    u.cookies.emplace_back(std::move(key), r.bytes(r.u16("cookie value"), "cookie value"));
  }
  if (!r.failed() && r.offset() != end) r.fail("bytes left over");
  if (r.failed()) return failure(r.failure());
  return u;
}

foundation::Result<CollectedSession> decodeSessionBlock(const Bytes& block) {
  Reader r(block, block.size());
  CollectedSession session = readSession(r);
  if (!r.failed() && r.offset() != block.size()) r.fail("bytes left over");
  if (r.failed())
    return foundation::Error::make("AnalyticsCollector", 1, "the block does not decode: " + r.failure());
  return session;
}

Bytes encodeReply(const std::vector<std::pair<Bytes, Bytes>>& cookies) {
  Bytes rest;
  put(rest, 0, 2);
  put(rest, cookies.size(), 2);
  for (const auto& [key, value] : cookies) {
    put(rest, key.size(), 2);
    rest.insert(rest.end(), key.begin(), key.end());
    put(rest, value.size(), 2);
    rest.insert(rest.end(), value.begin(), value.end());
  }
  put(rest, 0, 2);
  Bytes reply;
  put(reply, 0x011E, 2);
  put(reply, rest.size(), 4);
  reply.insert(reply.end(), rest.begin(), rest.end());
  return reply;
}

// ---- The relay configuration endpoint, with Avro C's generic values

namespace {

struct SchemaHandle {
  avro_schema_t schema = nullptr;
  ~SchemaHandle() {
    if (schema) avro_schema_decref(schema);
  }
};

struct GenericValue {
  avro_value_iface_t* iface = nullptr;
  avro_value_t value{};
  bool made = false;
  explicit GenericValue(avro_schema_t schema) {
    iface = avro_generic_class_from_schema(schema);
    made = iface && avro_generic_value_new(iface, &value) == 0;
  }
  ~GenericValue() {
    if (made) avro_value_decref(&value);
    if (iface) avro_value_iface_decref(iface);
  }
  GenericValue(const GenericValue&) = delete;
  GenericValue& operator=(const GenericValue&) = delete;
};

// The schema file of the SDK's source tree: the one place the exchange's records are declared.
bool loadSchema(const char* name, SchemaHandle& handle) {
  std::ifstream file(std::string(DIARY_SOURCE_DIR) + "/analytics/schemas/" + name + ".avsc");
  std::string json((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return !json.empty() && avro_schema_from_json_length(json.data(), json.size(), &handle.schema) == 0;
}

avro_value_t child(avro_value_t& record, const char* name, bool& ok) {
  avro_value_t field{};
  if (avro_value_get_by_name(&record, name, &field, nullptr) != 0) ok = false;
  return field;
}

std::string text(avro_value_t value, bool& ok) {
  const char* chars = nullptr;
  size_t size = 0;
  if (!ok || avro_value_get_string(&value, &chars, &size) != 0 || size == 0) {
    ok = false;
    return {};
  }
  return std::string(chars, size - 1);
}

void setText(avro_value_t& record, const char* name, const std::string& value, bool& ok) {
  avro_value_t field = child(record, name, ok);
  if (ok && avro_value_set_string_len(&field, value.c_str(), value.size() + 1) != 0) ok = false;
}

template <class T, class Set>
void setNumber(avro_value_t& record, const char* name, T value, Set set, bool& ok) {
  avro_value_t field = child(record, name, ok);
  if (ok && set(&field, value) != 0) ok = false;
}

void setEnum(avro_value_t& record, const char* name, const std::string& symbol, bool& ok) {
  avro_value_t field = child(record, name, ok);
  int index = ok ? avro_schema_enum_get_by_name(avro_value_get_schema(&field), symbol.c_str()) : -1;
  if (index < 0 || avro_value_set_enum(&field, index) != 0) ok = false;
}

}  // namespace

foundation::Result<CollectedConfigRequest> decodeConfigRequest(const Bytes& body) {
  auto failure = [](std::string why) {
    return foundation::Error::make("AnalyticsCollector", 3,
                                   "the config request does not decode: " + std::move(why));
  };
  SchemaHandle schema;
  if (!loadSchema("ConfigRequest", schema)) return failure("no schema");
  GenericValue request(schema.schema);
  avro_reader_t reader =
      avro_reader_memory(reinterpret_cast<const char*>(body.data()), static_cast<std::int64_t>(body.size()));
  bool ok = request.made && reader && avro_value_read(reader, &request.value) == 0;
  // Nothing may follow the record.
  bool whole = ok && avro_skip(reader, 1) != 0;
  if (reader) avro_reader_free(reader);
  if (!ok) return failure(avro_strerror());
  if (!whole) return failure("bytes left over");

  CollectedConfigRequest r;
  avro_value_t& v = request.value;
  r.projectKey = text(child(v, "project_key", ok), ok);
  r.bundleId = text(child(v, "bundle_id", ok), ok);
  r.appVersion = text(child(v, "app_version", ok), ok);
  avro_value_t field = child(v, "sdk_version", ok);
  ok = ok && avro_value_get_int(&field, &r.sdkVersion) == 0;
  field = child(v, "platform", ok);
  ok = ok && avro_value_get_int(&field, &r.platform) == 0;
  r.platformVersion = text(child(v, "platform_version", ok), ok);
  field = child(v, "limit_ad_tracking", ok);
  int limit = 0;
  ok = ok && avro_value_get_boolean(&field, &limit) == 0;
  r.limitAdTracking = limit != 0;

  avro_value_t tags = child(v, "device_tags", ok), branch{};
  int discriminant = -1;
  ok = ok && avro_value_get_discriminant(&tags, &discriminant) == 0 &&
       avro_value_get_current_branch(&tags, &branch) == 0;
  if (ok && discriminant == 0) r.hwMachine = text(child(branch, "hw_machine", ok), ok);

  avro_value_t ids = child(v, "device_ids", ok);
  size_t count = 0;
  ok = ok && avro_value_get_size(&ids, &count) == 0;
  for (size_t i = 0; ok && i < count; ++i) {
    avro_value_t item{};
    ok = avro_value_get_by_index(&ids, i, &item, nullptr) == 0;
    std::int32_t type = 0;
    const void* bytes = nullptr;
    size_t size = 0;
    avro_value_t typeField = child(item, "type", ok), idField = child(item, "id", ok);
    ok = ok && avro_value_get_int(&typeField, &type) == 0 &&
         avro_value_get_bytes(&idField, &bytes, &size) == 0;
    if (ok) {
      auto* first = static_cast<const std::uint8_t*>(bytes);
      r.deviceIds.emplace_back(type, Bytes(first, first + size));
    }
  }

  avro_value_t geo = child(v, "geo", ok);
  ok = ok && avro_value_get_discriminant(&geo, &discriminant) == 0 &&
       avro_value_get_current_branch(&geo, &branch) == 0;
  if (ok && discriminant == 1) {
    double latitude = 0, longitude = 0;
    float accuracy = 0;
    avro_value_t a = child(branch, "latitude", ok), b = child(branch, "longitude", ok),
                 c = child(branch, "accuracy", ok);
    ok = ok && avro_value_get_double(&a, &latitude) == 0 && avro_value_get_double(&b, &longitude) == 0 &&
         avro_value_get_float(&c, &accuracy) == 0;
    r.geo = std::make_tuple(latitude, longitude, accuracy);
  }
  if (!ok) return failure("a field does not read");
  return r;
}

Bytes encodeConfigResponse(const ConfigResponseFields& fields) {
  SchemaHandle schema;
  if (!loadSchema("ConfigResponse", schema)) return {};
  GenericValue response(schema.schema);
  bool ok = response.made;
  avro_value_t& v = response.value;
  setNumber(
      v, "issued_at", fields.issuedAt,
      [](avro_value_t* f, std::int64_t n) { return avro_value_set_long(f, n); }, ok);
  setNumber(
      v, "refresh_ttl", fields.refreshTtl,
      [](avro_value_t* f, std::int64_t n) { return avro_value_set_long(f, n); }, ok);
  setNumber(
      v, "expiration_ttl", fields.expirationTtl,
      [](avro_value_t* f, std::int64_t n) { return avro_value_set_long(f, n); }, ok);
  auto setInt = [](avro_value_t* f, std::int32_t n) { return avro_value_set_int(f, n); };
  avro_value_t global = child(v, "global_settings", ok);
  if (ok) setEnum(global, "log_level", fields.logLevel, ok);
  setNumber(
      global, "analytics_enabled", fields.analyticsEnabled ? 1 : 0,
      [](avro_value_t* f, int n) { return avro_value_set_boolean(f, n); }, ok);
  avro_value_t callbacks = child(v, "callbacks", ok);
  setNumber(callbacks, "max_callbacks", fields.maxCallbacks, setInt, ok);
  avro_value_t templates = child(callbacks, "templates", ok);
  for (const auto& t : fields.templates) {
    avro_value_t element{};
    ok = ok && avro_value_append(&templates, &element, nullptr) == 0;
    if (!ok) break;
    setText(element, "partner", t.partner, ok);
    avro_value_t events = child(element, "events", ok);
    for (const auto& name : t.events) {
      avro_value_t item{};
      ok = ok && avro_value_append(&events, &item, nullptr) == 0 &&
           avro_value_set_string_len(&item, name.c_str(), name.size() + 1) == 0;
    }
    setEnum(element, "method", t.method, ok);
    setText(element, "uri_template", t.uriTemplate, ok);
    avro_value_t body = child(element, "body_template", ok), branch{};
    ok = ok && avro_value_set_branch(&body, t.bodyTemplate ? 1 : 0, &branch) == 0 &&
         (t.bodyTemplate
              ? avro_value_set_string_len(&branch, t.bodyTemplate->c_str(), t.bodyTemplate->size() + 1)
              : avro_value_set_null(&branch)) == 0;
    setNumber(element, "max_redirects", t.maxRedirects, setInt, ok);
    setNumber(element, "connect_timeout", t.connectTimeout, setInt, ok);
    setNumber(element, "request_timeout", t.requestTimeout, setInt, ok);
  }
  size_t size = 0;
  if (!ok || avro_value_sizeof(&v, &size) != 0) return {};
  Bytes out(size);
  avro_writer_t writer =
      avro_writer_memory(reinterpret_cast<const char*>(out.data()), static_cast<std::int64_t>(size));
  ok = writer && avro_value_write(writer, &v) == 0;
  if (writer) avro_writer_free(writer);
  return ok ? out : Bytes{};
}

struct AnalyticsCollector::State {
  MHD_Daemon* daemon = nullptr;
  std::uint16_t port = 0;
  mutable std::mutex mutex;
  Fault fault = Fault::kNone;
  std::vector<std::pair<Bytes, Bytes>> cookies;
  std::vector<CollectedUpload> uploads;
  std::vector<std::string> rejected;
  unsigned configStatus = 200;
  Bytes configBody;
  std::vector<CollectedConfigRequest> configRequests;
  std::vector<PartnerCall> partnerCalls;
};

namespace {

constexpr size_t kMaxUpload = 4 << 20;

struct Pending {
  Bytes body;
  bool tooLarge = false;
};

MHD_Result reply(MHD_Connection* connection, unsigned status, const Bytes& body) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<std::uint8_t*>(body.data()), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, "Content-Type", "application/octet-stream");
  MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// The header's value, or "".
std::string header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

MHD_Result answerConfig(AnalyticsCollector::State& s, MHD_Connection* connection, const Pending& pending) {
  auto request = pending.tooLarge ? foundation::Result<CollectedConfigRequest>(foundation::Error::make(
                                        "AnalyticsCollector", 2, "the config request is too large"))
                                  : decodeConfigRequest(pending.body);
  std::string checksum = std::to_string(static_cast<std::int32_t>(crc32(pending.body, pending.body.size())));
  if (request && header(connection, "fm-checksum") != checksum)
    request = foundation::Error::make("AnalyticsCollector", 4, "fm-checksum does not match the body");
  std::lock_guard lock(s.mutex);
  if (!request) {
    s.rejected.push_back(request.error().localizedDescription());
    return reply(connection, 400, {});
  }
  request->contentType = header(connection, "content-type");
  request->accept = header(connection, "accept");
  s.configRequests.push_back(std::move(*request));
  return reply(connection, s.configStatus, s.configBody);
}

MHD_Result onRequest(void* context, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* data, size_t* size, void** requestContext) {
  auto& s = *static_cast<AnalyticsCollector::State*>(context);
  auto* pending = static_cast<Pending*>(*requestContext);
  if (pending == nullptr) {
    *requestContext = new Pending;
    return MHD_YES;
  }
  if (*size > 0) {
    if (pending->body.size() + *size <= kMaxUpload) {
      pending->body.insert(pending->body.end(), data, data + *size);
    } else {
      pending->tooLarge = true;
    }
    *size = 0;
    return MHD_YES;
  }
  std::string_view path(url);
  // Where the redirect fault sends uploads: a page that answers anything with an empty 200.
  if (path == "/landing") return reply(connection, 200, {});
  bool partner = path.starts_with("/partner/");
  bool config = path == "/sdk/v1/config" && std::string_view(method) == "POST";
  if (!partner && !config && (path != "/ingest.do" || std::string_view(method) != "POST"))
    return reply(connection, 404, {});
  using Fault = AnalyticsCollector::Fault;
  Fault fault;
  std::vector<std::pair<Bytes, Bytes>> cookies;
  {
    std::lock_guard lock(s.mutex);
    fault = s.fault;
    cookies = s.cookies;
  }
  if (partner) {
    PartnerCall call{method, std::string(path), {}};
    MHD_get_connection_values(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* list, MHD_ValueKind, const char* key, const char* value) {
          static_cast<KeyValues*>(list)->emplace_back(key, value ? value : "");
          return MHD_YES;
        },
        &call.query);
    std::lock_guard lock(s.mutex);
    s.partnerCalls.push_back(std::move(call));
  }
  if (fault == Fault::kNoAnswer) return MHD_NO;
  if (fault == Fault::kStatus500) return reply(connection, 500, {});
  if (fault == Fault::kRedirectToGet && !partner && !config) {
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, "Location", "/landing");
    MHD_Result result = MHD_queue_response(connection, 302, response);
    MHD_destroy_response(response);
    return result;
  }
  if (partner) return reply(connection, 200, {});
  if (config) return answerConfig(s, connection, *pending);
  auto upload = pending->tooLarge ? foundation::Result<CollectedUpload>(foundation::Error::make(
                                        "AnalyticsCollector", 2, "the upload is too large"))
                                  : decodeUpload(pending->body);
  if (!upload) {
    std::lock_guard lock(s.mutex);
    s.rejected.push_back(upload.error().localizedDescription());
    return reply(connection, 400, {});
  }
  {
    std::lock_guard lock(s.mutex);
    s.uploads.push_back(std::move(*upload));
  }
  Bytes body = encodeReply(cookies);
  // Cut before the last field, which a reader must find.
  if (fault == Fault::kMalformedReply || fault == Fault::kFewerCookies) body.resize(body.size() - 2);
  if (fault == Fault::kOtherChunkType) body[1] = 0x1F;
  // The count, behind the chunk header (6 bytes) and its unused field, big-endian.
  if (fault == Fault::kFewerCookies) body[9] = static_cast<std::uint8_t>(body[9] + 1);
  return reply(connection, 200, body);
}

void onCompleted(void*, MHD_Connection*, void** requestContext, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*requestContext);
  *requestContext = nullptr;
}

}  // namespace

AnalyticsCollector::AnalyticsCollector() : state_(std::make_unique<State>()) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  state_->daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION, 0,
                                    nullptr, nullptr, onRequest, state_.get(), MHD_OPTION_SOCK_ADDR, &address,
                                    MHD_OPTION_NOTIFY_COMPLETED, onCompleted, nullptr, MHD_OPTION_END);
  if (state_->daemon) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
    state_->port = info ? info->port : 0;
  }
}

AnalyticsCollector::~AnalyticsCollector() {
  if (state_->daemon) MHD_stop_daemon(state_->daemon);
}

bool AnalyticsCollector::running() const { return state_->daemon != nullptr && state_->port != 0; }

std::string AnalyticsCollector::ingestUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/ingest.do";
}

std::string AnalyticsCollector::configUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/sdk/v1/config";
}

std::string AnalyticsCollector::partnerUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/partner";
}

void AnalyticsCollector::setConfigResponse(unsigned status, Bytes body) {
  std::lock_guard lock(state_->mutex);
  state_->configStatus = status;
  state_->configBody = std::move(body);
}

std::vector<CollectedConfigRequest> AnalyticsCollector::configRequests() const {
  std::lock_guard lock(state_->mutex);
  return state_->configRequests;
}

std::vector<PartnerCall> AnalyticsCollector::partnerCalls() const {
  std::lock_guard lock(state_->mutex);
  return state_->partnerCalls;
}

void AnalyticsCollector::setFault(Fault fault) {
  std::lock_guard lock(state_->mutex);
  state_->fault = fault;
}

void AnalyticsCollector::setReplyCookies(std::vector<std::pair<Bytes, Bytes>> cookies) {
  std::lock_guard lock(state_->mutex);
  state_->cookies = std::move(cookies);
}

std::vector<CollectedUpload> AnalyticsCollector::uploads() const {
  std::lock_guard lock(state_->mutex);
  return state_->uploads;
}

std::vector<std::string> AnalyticsCollector::rejected() const {
  std::lock_guard lock(state_->mutex);
  return state_->rejected;
}

}  // namespace testing_support
