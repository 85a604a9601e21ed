#include "analytics/session_report.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "analytics/global_variable_storage.h"
#include "analytics/network_util.h"
#include "analytics/protocol_data.h"
#include "analytics/tally_util.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/device.h"

namespace analytics {
namespace {

using foundation::Bytes;
using P = TallyProtocolData;

constexpr std::string_view kTrackedKeys[] = {"device.locale",  "default.timezone", "device.os.version",
                                             "device.model.1", "boot.time",        "scr.height",
                                             "scr.width"};

std::string textOf(const foundation::Value& value) {
  if (const std::string* text = value.string()) return *text;
  return value.description();
}

// Kept once worked out: every block and envelope hashes the same few tracked keys and their values, and
// one hash through the crypto library costs more than the rest of a short block. Bounded: a full
// table starts again.
std::string saltedHash(std::string_view text) {
  static std::mutex mutex;
  static std::vector<std::pair<std::string, std::string>> known;
  constexpr size_t kKept = 32;
  {
    std::lock_guard lock(mutex);
    for (const auto& [input, hash] : known)
      if (input == text) return hash;
  }
  std::string hash = TallyUtil::md5String(std::string(text) + TallyUtil::getFixedSalt());
  std::lock_guard lock(mutex);
  if (known.size() >= kKept) known.clear();
  known.emplace_back(std::string(text), hash);
  return hash;
}

void appendKeyValues(const foundation::Dictionary& entries, Bytes& out) {
  size_t n = std::min<size_t>(entries.size(), 0xFFFF);
  P::appendUshort(static_cast<std::int64_t>(n), out);
  for (const auto& [key, value] : entries) {
    if (n-- == 0) break;
    P::appendString(key, out);
    P::appendString(textOf(value), out);
  }
}

void appendMarked(const std::vector<std::pair<std::string, std::string>>& entries, TallyPropertyMarks& marks,
                  Bytes& out) {
  P::appendUshort(static_cast<std::int64_t>(entries.size()), out);
  for (const auto& [key, value] : entries) {
    P::appendString(key, out);
    P::appendString(value, out);
    P::appendByte(marks.mark(value, key), out);
  }
}

std::string wholeNumber(double value) {
  return std::isfinite(value) ? std::to_string(static_cast<long long>(value)) : "0";
}

}  // namespace

// ---- Marks

bool TallyPropertyMarks::isTracked(std::string_view key) {
  return std::find(std::begin(kTrackedKeys), std::end(kTrackedKeys), key) != std::end(kTrackedKeys);
}

std::uint8_t TallyPropertyMarks::mark(std::string_view value, std::string_view key) {
  if (!isTracked(key)) return 0;
  std::string hk = saltedHash(key);
  std::string hv = saltedHash(value);
  auto waiting = std::find_if(pending_.begin(), pending_.end(), [&](const auto& e) { return e.first == hk; });
  bool unchanged;
  if (waiting != pending_.end()) {
    unchanged = waiting->second == hv;
  } else {
    auto globals = TallyGlobalVariableStorage::sharedInstance()->persistentMap(TallyPersistentMap::kGlobals);
    const foundation::Value* stored = globals ? globals->find(hk) : nullptr;
    unchanged = stored && stored->string() && *stored->string() == hv;
  }
  if (unchanged) return 2;
  if (waiting != pending_.end()) {
    waiting->second = hv;
  } else {
    pending_.emplace_back(std::move(hk), std::move(hv));
  }
  return 1;
}

void TallyPropertyMarks::commitMarks(const Pending& pending) {
  if (pending.empty()) return;
  TallyGlobalVariableStorage::sharedInstance()->updatePersistentMap(TallyPersistentMap::kGlobals,
                                                                    [&](foundation::Dictionary& globals) {
                                                                      for (const auto& [hk, hv] : pending)
                                                                        globals.set(hk, hv);
                                                                    });
}

// ---- Session block

Bytes TallySessionReport::data() {
  auto settings = TallyGlobalVariableStorage::sharedInstance();
  backgroundSessionEnabled = settings->backgroundSessionEnabled();
  appApplicationState = settings->appApplicationState();
  sessionOriginName = settings->hasSessionOriginName() ? settings->sessionOriginName() : std::nullopt;
  deepLinkName = settings->hasDeepLinkName() ? settings->deepLinkName() : std::nullopt;
  if (auto parameters = settings->sessionParameters(); parameters && !parameters->empty())
    sessionPropertyParams = *parameters;
  sessionParams.set("device.locale", locale);
  sessionParams.set("default.timezone", timeZone);

  Bytes out;
  // Room for events of ten short parameters (about 200 bytes each) from the start: room never written
  // costs nothing, while a buffer that grows copies all it holds each time.
  out.reserve(512 + events.eventLog.size() * 256);
  P::appendUshort(kTallySessionBlockVersion, out);
  P::appendString(appVersion, out);
  P::appendTimestamp(startTime, out);
  P::appendLong(endTime ? P::timeIntervalFrom(startTime, endTime) : -1, out);
  P::appendLong(totalPauseIntervalMillis, out);
  P::appendBoolean(backgroundSessionEnabled, out);
  P::appendByte(appApplicationState, out);
  P::appendBoolean(sessionOriginName.has_value(), out);
  if (sessionOriginName) P::appendString(*sessionOriginName, out);
  P::appendBoolean(deepLinkName.has_value(), out);
  if (deepLinkName) P::appendString(*deepLinkName, out);
  appendKeyValues(sessionPropertyParams, out);

  TallyPropertyMarks marks;
  std::vector<std::pair<std::string, std::string>> parameters;
  for (const auto& [key, value] : sessionParams) parameters.emplace_back(key, textOf(value));
  appendMarked(parameters, marks, out);
  // The block is stored before it is sent and will reach the server: its marks hold from now on.
  TallyPropertyMarks::commitMarks(marks.pending());

  P::appendString(locale, out);
  P::appendString(timeZone, out);
  P::appendByte(TallyNetworkUtil::networkStatus(), out);
  P::appendByte(TallyUtil::canvasInLandscape() ? 2 : 1, out);
  P::appendString(userID, out);
  P::appendBoolean(true, out);
  P::appendDouble(latitude, out);
  P::appendDouble(longitude, out);
  P::appendFloat(accuracy, out);
  P::appendInt(pageViewCount, out);
  P::appendByte(TallyUtil::deviceIsJailbroken(), out);
  P::appendByte(0, out);
  P::appendByte(gender, out);
  P::appendBoolean(birthDate.has_value(), out);
  if (birthDate) P::appendTimestamp(*birthDate, out);

  P::appendUshort(static_cast<std::int64_t>(events.eventCounts.size()), out);
  for (const auto& [name, count] : events.eventCounts) {
    P::appendString(name, out);
    P::appendInt(count, out);
  }
  P::appendUshort(static_cast<std::int64_t>(events.eventLog.size()), out);
  TallyEvent::appendRecords(events.eventLog, out, startTime);
  P::appendBoolean(events.eventLogComplete, out);

  const bool crash = crashReportData.has_value();
  P::appendInt(static_cast<std::int64_t>(events.totalErrorCount) + (crash ? 1 : 0), out);
  P::appendUshort(static_cast<std::int64_t>(events.errors.size()) + (crash ? 1 : 0), out);
  std::uint16_t largestId = 0;
  for (const auto& error : events.errors) {
    error->appendToData(out);
    largestId = std::max(largestId, static_cast<std::uint16_t>(error->errorID));
  }
  if (crash) {
    P::appendUshort(static_cast<std::uint16_t>(largestId + 1), out);
    P::appendTimestamp(TallyUtil::clock().now(), out);
    for (int i = 0; i < 3; ++i) P::appendString("", out);
    P::appendByte(TallyError::kCrashAttachment, out);
    P::appendByte(1, out);
    P::appendLargeData(*crashReportData, out);
  }
  P::appendInt(0, out);
  for (int i = 0; i < 3; ++i) P::appendUshort(0, out);
  return out;
}

// ---- Envelope

std::optional<TallyEnvelope> dataForSessions(const TallyEnvelopeFacts& facts,
                                             const std::vector<Bytes>& blocks) {
  auto advertisingId = TallyUtil::getTallyId();
  auto vendorId = TallyUtil::getIdentifierForVendor();
  auto hardwareId = TallyUtil::getMACUID();
  int ids = (advertisingId ? 1 : 0) + (vendorId ? 1 : 0) + (hardwareId ? 1 : 0);
  if (ids == 0) return std::nullopt;
  auto settings = TallyGlobalVariableStorage::sharedInstance();

  TallyEnvelope envelope;
  Bytes& out = envelope.body;
  size_t blockBytes = 0;
  for (const auto& block : blocks) blockBytes += block.size();
  out.reserve(512 + blockBytes);
  P::appendUshort(kTallyEnvelopeFormat, out);
  P::appendUshort(4, out);
  P::appendUshort(1, out);
  P::appendLong(0, out);
  P::appendUshort(0, out);
  P::appendUshort(TallyUtil::isIPad() ? 8 : 2, out);
  P::appendUshort(kTallyAgentVersionNumber, out);
  P::appendTimestamp(TallyUtil::clock().now(), out);
  P::appendString(facts.apiKey, out);
  P::appendString(facts.appVersion, out);
  P::appendByte(TallyUtil::isInWatchExtension() ? 2 : 1, out);
  P::appendUshort(ids, out);
  if (advertisingId) {
    P::appendUshort(7, out);
    P::appendString(*advertisingId, out);
  }
  if (vendorId) {
    P::appendUshort(6, out);
    P::appendString(*vendorId, out);
  }
  if (hardwareId) {
    P::appendUshort(4, out);
    P::appendShortData(*hardwareId, out);
  }
  P::appendByte(0, out);
  P::appendBoolean(facts.sentReportSuccessful, out);
  P::appendBoolean(TallyUtil::isAdTrackingEnabled(), out);
  P::appendTimestamp(facts.initialTimestamp, out);
  P::appendTimestamp(facts.startTime, out);

  graphics::Rect screen = TallyUtil::deviceScreenBounds();
  TallyPropertyMarks marks;
  appendMarked({{"device.model.1", TallyUtil::devicePlatform()},
                {"device.os.version", ui::device().systemVersion},
                {"device.arch", std::string(kTallyBuildArchitecture)},
                {"scr.width", wholeNumber(screen.size.width)},
                {"scr.height", wholeNumber(screen.size.height)}},
               marks, out);
  envelope.marks = marks.pending();
  P::appendUshort(0, out);
  P::appendBoolean(false, out);

  foundation::Dictionary launchOptions = settings->launchOptions();
  P::appendUshort(static_cast<std::int64_t>(launchOptions.size()), out);
  for (const auto& [key, value] : launchOptions) {
    P::appendString(key, out);
    const foundation::Array* items = value.array();
    P::appendUshort(items ? static_cast<std::int64_t>(items->size()) : 0, out);
    if (items)
      for (const auto& item : *items) P::appendString(textOf(item), out);
  }

  std::vector<std::pair<std::string, foundation::Dictionary>> origins;
  for (const auto& origin : settings->originSets()) {
    const foundation::Dictionary* set = origin.dictionary();
    if (!set || !(*set)["originName"].isString()) continue;
    const foundation::Dictionary* parameters = (*set)["parameters"].dictionary();
    origins.emplace_back(*(*set)["originName"].string(), parameters ? *parameters : foundation::Dictionary{});
  }
  P::appendUshort(static_cast<std::int64_t>(origins.size()), out);
  for (const auto& [name, parameters] : origins) {
    P::appendString(name, out);
    appendKeyValues(parameters, out);
  }
  auto bundle = runtime::Bundle::main();
  P::appendString(bundle ? bundle->bundleIdentifier() : std::string(), out);

  P::appendUshort(static_cast<std::int64_t>(std::min<size_t>(blocks.size(), 0xFFFF)), out);
  for (size_t i = 0; i < blocks.size() && i < 0xFFFF; ++i)
    out.insert(out.end(), blocks[i].begin(), blocks[i].end());

  std::vector<std::pair<Bytes, Bytes>> cookies;
  if (auto map = settings->persistentMap(TallyPersistentMap::kCookies)) {
    for (const auto& [key, value] : *map) {
      if (const Bytes* bytes = value.data()) cookies.emplace_back(Bytes(key.begin(), key.end()), *bytes);
    }
  }
  P::appendUshort(static_cast<std::int64_t>(cookies.size()), out);
  for (const auto& [key, value] : cookies) {
    P::appendShortData(key, out);
    P::appendShortData(value, out);
  }
  P::appendInt(TallyUtil::dataChecksum(out), out);
  return envelope;
}

// ---- Reply

void applyServerReply(const TallyServerReply& reply) {
  auto settings = TallyGlobalVariableStorage::sharedInstance();
  if (reply.clearCookies) {
    settings->updatePersistentMap(TallyPersistentMap::kCookies,
                                  [](foundation::Dictionary& map) { map.clear(); });
    return;
  }
  for (const auto& [key, value] : reply.cookies) TallyUtil::updateIfChangedCookieValue(value, key);
  settings->savePersistentGlobalsToDisk();
}

}  // namespace analytics
