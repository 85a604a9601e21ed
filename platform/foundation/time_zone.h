#pragma once
// Time zones: a zone by its identifier ("Europe/Moscow"), UTC, a fixed offset from GMT, and the
// process's own zone. A TimeZone is an immutable value; copies share one zone and are cheap.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"

namespace foundation {

class TimeZone {
 public:
  // The zone with this identifier ("America/New_York", "UTC", "GMT+0300"), or nothing when the
  // identifier names no zone.
  static std::optional<TimeZone> withIdentifier(std::string_view identifier);
  // "UTC" and "GMT": both without any offset or daylight saving time.
  static TimeZone utc();
  static TimeZone gmt();
  // A zone at a fixed offset, named like "GMT+0300" ("GMT" for 0); nothing beyond ±18 hours.
  static std::optional<TimeZone> withSecondsFromGMT(int seconds);

  // The zone the host is set to (the TZ variable, else /etc/localtime; GMT when neither names a
  // zone), read once per process.
  static TimeZone system();
  // The zone local times are taken in: the default set below, else the system zone.
  static TimeZone local();
  // Replaces the zone that local() answers for the whole process; nothing restores the system zone.
  static void setDefault(std::optional<TimeZone> zone);
  // A number that changes whenever the zone local() answers may have changed (each setDefault and
  // scoped default). Lets a caller that keeps work done in the local zone check it is still valid
  // without taking the zone itself, which costs a lock.
  static std::uint64_t localGeneration();

  const std::string& identifier() const;
  // Offset of local time from GMT at that moment, daylight saving time included.
  int secondsFromGMT(Date date) const;
  bool isDaylightSavingTime(Date date) const;
  // The short name in English for that moment ("EST", "EDT", "GMT+3"; "GMT" for a zone at offset 0
  // with no name of its own); the identifier when ICU has no name data at all.
  std::string abbreviation(Date date) const;

  friend bool operator==(const TimeZone& a, const TimeZone& b) { return a.identifier() == b.identifier(); }

  // The ICU side, defined where ICU is included.
  struct Impl;

 private:
  friend struct IcuAccess;
  explicit TimeZone(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

// Sets the process's default zone for a scope (a test, a tool run) and puts the previous one back.
class ScopedDefaultTimeZone {
 public:
  explicit ScopedDefaultTimeZone(TimeZone zone);
  ~ScopedDefaultTimeZone();
  ScopedDefaultTimeZone(const ScopedDefaultTimeZone&) = delete;
  ScopedDefaultTimeZone& operator=(const ScopedDefaultTimeZone&) = delete;

 private:
  std::optional<TimeZone> previous_;
};

}  // namespace foundation
