#pragma once
// Small rules the note editor's parts share. Internal to the editor; not for other folders.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"

namespace note_editor::detail {

// The longest a note or a timer may last.
inline constexpr std::int64_t kDay = 86400;
inline constexpr std::int64_t kDayInMinutes = 1440;

inline bool isType(const std::optional<std::string>& value, std::string_view key) {
  return value && *value == key;
}

// Whole seconds from one date to the other, cut toward zero.
inline std::int64_t wholeSeconds(foundation::Date from, foundation::Date to) {
  return static_cast<std::int64_t>(std::trunc(to - from));
}

inline std::int64_t atLeastZero(std::int64_t value) { return value < 0 ? 0 : value; }

// The pattern's first two "%@" filled with the two texts.
inline std::string format2(std::string_view pattern, const std::string& a, const std::string& b) {
  std::string out(pattern);
  for (const std::string* part : {&a, &b}) {
    const auto at = out.find("%@");
    if (at == std::string::npos) break;
    out.replace(at, 2, *part);
  }
  return out;
}

}  // namespace note_editor::detail
