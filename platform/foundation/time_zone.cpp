#include "platform/foundation/time_zone.h"

#include <unicode/simpletz.h>
#include <unicode/tzfmt.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/foundation/icu_bridge.h"

namespace foundation {

struct TimeZone::Impl {
  std::string identifier;
  std::unique_ptr<const icu::TimeZone> zone;
};

namespace {

constexpr int kMaxOffsetSeconds = 18 * 3600;

std::shared_ptr<const TimeZone::Impl> makeImpl(std::string identifier, std::unique_ptr<icu::TimeZone> zone) {
  auto impl = std::make_shared<TimeZone::Impl>();
  impl->identifier = std::move(identifier);
  impl->zone = std::move(zone);
  return impl;
}

// "GMT", "GMT+0300", "GMT-0530": how fixed offsets are named.
std::string offsetName(int seconds) {
  if (seconds == 0) return "GMT";
  const int magnitude = std::abs(seconds);
  char text[16];
  std::snprintf(text, sizeof text, "GMT%c%02d%02d", seconds < 0 ? '-' : '+', magnitude / 3600,
                (magnitude / 60) % 60);
  return text;
}

std::mutex& defaultMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<TimeZone>& defaultZone() {
  static std::optional<TimeZone> zone;
  return zone;
}

// Bumped under defaultMutex() with every change of the default zone.
std::atomic<std::uint64_t> localZoneGeneration{1};

}  // namespace

const icu::TimeZone& IcuAccess::zone(const TimeZone& zone) { return *zone.impl_->zone; }

std::optional<TimeZone> TimeZone::withIdentifier(std::string_view identifier) {
  auto text = icu_bridge::toUnicode(identifier);
  if (!text || identifier.empty()) return std::nullopt;
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(*text));
  icu::UnicodeString id;
  icu::UnicodeString unknown;
  if (!zone || zone->getID(id) == icu::TimeZone::getUnknown().getID(unknown)) return std::nullopt;
  // ICU knows custom offsets ("GMT+3", "GMT+03:00"); name them the one way fixed offsets are named.
  icu::UnicodeString canonical;
  UBool isSystemZone = false;
  UErrorCode status = U_ZERO_ERROR;
  icu::TimeZone::getCanonicalID(*text, canonical, isSystemZone, status);
  if (U_SUCCESS(status) && !isSystemZone) return withSecondsFromGMT(zone->getRawOffset() / 1000);
  return TimeZone(makeImpl(std::string(identifier), std::move(zone)));
}

TimeZone TimeZone::utc() {
  static const TimeZone zone(
      makeImpl("UTC", std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone("UTC"))));
  return zone;
}

TimeZone TimeZone::gmt() {
  static const TimeZone zone(
      makeImpl("GMT", std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone("GMT"))));
  return zone;
}

std::optional<TimeZone> TimeZone::withSecondsFromGMT(int seconds) {
  if (seconds < -kMaxOffsetSeconds || seconds > kMaxOffsetSeconds) return std::nullopt;
  if (seconds == 0) return gmt();
  const std::string name = offsetName(seconds);
  auto zone = std::make_unique<icu::SimpleTimeZone>(seconds * 1000, icu::UnicodeString::fromUTF8(name));
  return TimeZone(makeImpl(name, std::move(zone)));
}

TimeZone TimeZone::system() {
  static const TimeZone zone = [] {
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    if (host) {
      icu::UnicodeString id;
      if (auto known = withIdentifier(icu_bridge::toUtf8(host->getID(id)))) return *known;
    }
    return gmt();
  }();
  return zone;
}

TimeZone TimeZone::local() {
  {
    std::lock_guard lock(defaultMutex());
    if (defaultZone()) return *defaultZone();
  }
  return system();
}

void TimeZone::setDefault(std::optional<TimeZone> zone) {
  std::lock_guard lock(defaultMutex());
  defaultZone() = std::move(zone);
  localZoneGeneration.fetch_add(1, std::memory_order_release);
}

std::uint64_t TimeZone::localGeneration() { return localZoneGeneration.load(std::memory_order_acquire); }

const std::string& TimeZone::identifier() const { return impl_->identifier; }

int TimeZone::secondsFromGMT(Date date) const {
  int32_t raw = 0;
  int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  impl_->zone->getOffset(icu_bridge::toUDate(date), false, raw, dst, status);
  if (U_FAILURE(status)) return impl_->zone->getRawOffset() / 1000;
  return (raw + dst) / 1000;
}

bool TimeZone::isDaylightSavingTime(Date date) const {
  int32_t raw = 0;
  int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  impl_->zone->getOffset(icu_bridge::toUDate(date), false, raw, dst, status);
  return U_SUCCESS(status) && dst != 0;
}

std::string TimeZone::abbreviation(Date date) const {
  // The names depend on the moment: Moscow was "GMT+4" in 2014 and is "GMT+3" now. The English
  // name table is loaded once and shared; its lookups are serialised.
  static std::mutex mutex;
  static const std::unique_ptr<icu::TimeZoneFormat> names = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::TimeZoneFormat> made(
        icu::TimeZoneFormat::createInstance(icu::Locale("en_US"), status));
    if (U_FAILURE(status)) made.reset();
    return made;
  }();
  if (names) {
    std::lock_guard lock(mutex);
    icu::UnicodeString name;
    names->format(UTZFMT_STYLE_SPECIFIC_SHORT, *impl_->zone, icu_bridge::toUDate(date), name);
    if (!name.isEmpty()) return icu_bridge::toUtf8(name);
  }
  return identifier();
}

ScopedDefaultTimeZone::ScopedDefaultTimeZone(TimeZone zone) {
  std::lock_guard lock(defaultMutex());
  previous_ = defaultZone();
  defaultZone() = std::move(zone);
  localZoneGeneration.fetch_add(1, std::memory_order_release);
}

ScopedDefaultTimeZone::~ScopedDefaultTimeZone() {
  std::lock_guard lock(defaultMutex());
  defaultZone() = std::move(previous_);
  localZoneGeneration.fetch_add(1, std::memory_order_release);
}

}  // namespace foundation
