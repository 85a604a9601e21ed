#pragma once
// A point in time: seconds since 2001-01-01 00:00:00 UTC, as the stored files count it.

#include <compare>

namespace foundation {

struct Date {
  // Seconds between 1970-01-01 and 2001-01-01.
  static constexpr double kUnixOffset = 978307200.0;

  double sinceReference = 0;

  static constexpr Date fromUnix(double unixSeconds) { return Date{unixSeconds - kUnixOffset}; }
  constexpr double unix() const { return sinceReference + kUnixOffset; }

  constexpr Date operator+(double seconds) const { return Date{sinceReference + seconds}; }
  constexpr Date operator-(double seconds) const { return Date{sinceReference - seconds}; }
  constexpr double operator-(Date other) const { return sinceReference - other.sinceReference; }
  constexpr auto operator<=>(const Date&) const = default;
};

}  // namespace foundation
