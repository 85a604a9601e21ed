#include "support/analytics_collector.h"

#include <arpa/inet.h>
#include <microhttpd.h>

#include <algorithm>
#include <cstring>
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

struct AnalyticsCollector::State {
  MHD_Daemon* daemon = nullptr;
  std::uint16_t port = 0;
  mutable std::mutex mutex;
  Fault fault = Fault::kNone;
  std::vector<std::pair<Bytes, Bytes>> cookies;
  std::vector<CollectedUpload> uploads;
  std::vector<std::string> rejected;
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
  if (std::string_view(url) != "/ingest.do" || std::string_view(method) != "POST")
    return reply(connection, 404, {});
  using Fault = AnalyticsCollector::Fault;
  Fault fault;
  std::vector<std::pair<Bytes, Bytes>> cookies;
  {
    std::lock_guard lock(s.mutex);
    fault = s.fault;
    cookies = s.cookies;
  }
  if (fault == Fault::kNoAnswer) return MHD_NO;
  if (fault == Fault::kStatus500) return reply(connection, 500, {});
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
  if (fault == Fault::kMalformedReply) body.resize(body.size() - 2);
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
