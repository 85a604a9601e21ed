#include "platform/foundation/icu_bridge.h"

#include <unicode/ustring.h>

#include <limits>

namespace foundation::icu_bridge {

std::optional<icu::UnicodeString> toUnicode(std::string_view utf8) {
  if (utf8.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) return std::nullopt;
  const auto length = static_cast<int32_t>(utf8.size());
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8(nullptr, 0, &units, utf8.data(), length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  icu::UnicodeString result;
  if (units == 0) return result;
  status = U_ZERO_ERROR;
  UChar* buffer = result.getBuffer(units);
  if (buffer == nullptr) return std::nullopt;
  u_strFromUTF8(buffer, units, nullptr, utf8.data(), length, &status);
  result.releaseBuffer(U_SUCCESS(status) ? units : 0);
  if (U_FAILURE(status)) return std::nullopt;
  return result;
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace foundation::icu_bridge
