#pragma once
// The primitives of the session report format: big-endian numbers, millisecond timestamps, strings
// cut to 255 UTF-16 units with a 16-bit byte count, and length-prefixed byte strings; and the two
// readers the server reply is parsed with.
//
// Strings are cut on code-point boundaries: a character outside the Basic Multilingual Plane that
// would straddle the limit is left out whole rather than split into half a surrogate pair, and text
// that is not valid UTF-8 is never cut inside a byte sequence. A reader never looks past the data:
// a field that does not lie wholly inside it gives the error "Malformed data".

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace analytics {

inline constexpr size_t kTallyMaxStringUtf16Length = 255;
inline constexpr std::string_view kTallyMalformedDataDomain = "Malformed data";

class TallyProtocolData {
 public:
  TallyProtocolData() = delete;
  using Bytes = foundation::Bytes;

  static void appendBoolean(bool value, Bytes& out) { out.push_back(value ? 1 : 0); }
  static void appendByte(std::int64_t value, Bytes& out) { out.push_back(static_cast<std::uint8_t>(value)); }
  static void appendUshort(std::int64_t value, Bytes& out) {
    appendBigEndian(static_cast<std::uint64_t>(value), 2, out);
  }
  static void appendInt(std::int64_t value, Bytes& out) {
    appendBigEndian(static_cast<std::uint64_t>(value), 4, out);
  }
  static void appendLong(std::int64_t value, Bytes& out) {
    appendBigEndian(static_cast<std::uint64_t>(value), 8, out);
  }
  static void appendFloat(float value, Bytes& out);
  static void appendDouble(double value, Bytes& out);
  // Milliseconds since 1970, truncated toward zero; nothing gives 0.
  static void appendTimestamp(std::optional<foundation::Date> date, Bytes& out);
  static std::int64_t timestampMillis(foundation::Date date);
  // Cut to 255 UTF-16 units, then u16 byte count and the UTF-8 bytes; nothing gives u16 0.
  static void appendString(std::optional<std::string_view> text, Bytes& out);
  // u8 length (its low 8 bits) and the bytes.
  static void appendTinyData(std::span<const std::uint8_t> data, Bytes& out);
  // u16 length and the bytes; longer data is cut to 65,535 bytes so the length stays true.
  static void appendShortData(std::span<const std::uint8_t> data, Bytes& out);
  // u32 length and the bytes; longer data is cut below 4 GiB so the length stays true.
  static void appendLargeData(std::span<const std::uint8_t> data, Bytes& out);
  // The text's first 255 UTF-16 units when it has 256 or more, never splitting a code point.
  static std::string limitStringLength(std::string_view text);
  // Milliseconds (to - from), truncated; 0 when either is missing. Inline: a session's block takes
  // two for each of its events.
  static std::int64_t timeIntervalFrom(std::optional<foundation::Date> from,
                                       std::optional<foundation::Date> to) {
    if (!from || !to) return 0;
    const double millis = std::trunc((*to - *from) * 1000.0);
    if (!std::isfinite(millis) || std::fabs(millis) >= 9.2e18) return 0;
    return static_cast<std::int64_t>(millis);
  }

  // The signed 16-bit, and the 32-bit, big-endian value at the index; "Malformed data" when the
  // field does not lie wholly inside the data.
  static foundation::Result<std::int16_t> getInt16FromData(std::span<const std::uint8_t> data,
                                                           std::int64_t index);
  static foundation::Result<std::int32_t> getInt32FromData(std::span<const std::uint8_t> data,
                                                           std::int64_t index);

  static void appendBigEndian(std::uint64_t value, size_t size, Bytes& out) {
    std::uint8_t bytes[8];
    putBigEndian(value, size, bytes);
    out.insert(out.end(), bytes, bytes + size);
  }

  // The same fields written into room the caller made beforehand (for a record whose size is known
  // up front: one growth of the buffer rather than one per field). Each returns the end of what it
  // wrote.
  static std::uint8_t* putBigEndian(std::uint64_t value, size_t size, std::uint8_t* at) {
    for (size_t i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    return at + size;
  }
  // A string that needs no cut (at most kTallyMaxStringUtf16Length bytes): u16 byte count, the bytes.
  // The bound, stated again here, lets the compiler copy such short strings in place.
  static std::uint8_t* putShortString(std::string_view text, std::uint8_t* at) {
    const size_t size = text.size() < kTallyMaxStringUtf16Length ? text.size() : kTallyMaxStringUtf16Length;
    at = putBigEndian(size, 2, at);
    std::memcpy(at, text.data(), size);
    return at + size;
  }
};

}  // namespace analytics
