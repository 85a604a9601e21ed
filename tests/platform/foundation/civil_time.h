#pragma once
// Dates for test expectations, computed with plain proleptic Gregorian arithmetic so that they do
// not depend on the calendar code under test.

#include <cstdint>
#include <string_view>

#include "platform/foundation/date.h"
#include "platform/foundation/time_zone.h"

namespace foundation::testing_dates {

// Days from 1970-01-01 to the given civil date.
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The moment at that wall time at the given offset from UTC (hours, may be fractional).
constexpr Date at(int year, int month, int day, int hour = 0, int minute = 0, double second = 0,
                  double utcOffsetHours = 0) {
  const double unix =
      static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) *
          86400.0 +
      hour * 3600.0 + minute * 60.0 + second - utcOffsetHours * 3600.0;
  return Date::fromUnix(unix);
}

// A zone the test relies on; an unknown identifier throws, which fails the test.
inline TimeZone zone(std::string_view identifier) { return TimeZone::withIdentifier(identifier).value(); }

}  // namespace foundation::testing_dates
