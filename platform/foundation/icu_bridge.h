#pragma once
// Internal to platform/foundation: the meeting point of our date and locale types and ICU. Public
// headers never include this, so ICU stays out of other modules' compiles.

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/calendar.h"
#include "platform/foundation/date.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"

namespace foundation {

struct IcuAccess {
  static const icu::TimeZone& zone(const TimeZone& zone);
  static icu::Locale locale(const Locale& locale);
};

namespace icu_bridge {

// ICU counts milliseconds since 1970; a Date counts seconds since 2001.
inline UDate toUDate(Date date) { return (date.sinceReference + Date::kUnixOffset) * 1000.0; }
inline Date fromUDate(UDate udate) { return Date{udate / 1000.0 - Date::kUnixOffset}; }

// Nothing for text that is not valid UTF-8.
std::optional<icu::UnicodeString> toUnicode(std::string_view utf8);
std::string toUtf8(const icu::UnicodeString& text);

}  // namespace icu_bridge
}  // namespace foundation
