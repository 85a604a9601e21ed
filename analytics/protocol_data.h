#pragma once
// The primitives of the session report format: big-endian numbers, millisecond timestamps, strings
// cut to 255 UTF-16 units with a 16-bit byte count, and length-prefixed byte strings; and the two
// readers the server reply is parsed with.
//
// Strings are cut on code-point boundaries: a character outside the Basic Multilingual Plane that
// would straddle the limit is left out whole rather than split into half a surrogate pair, and text
// that is not valid UTF-8 is never cut inside a byte sequence. A reader never looks past the data:
// a field that does not lie wholly inside it gives the error "Malformed data".

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

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
    appendBigEndian<2>(static_cast<std::uint64_t>(value), out);
  }
  static void appendInt(std::int64_t value, Bytes& out) {
    appendBigEndian<4>(static_cast<std::uint64_t>(value), out);
  }
  static void appendLong(std::int64_t value, Bytes& out) {
    appendBigEndian<8>(static_cast<std::uint64_t>(value), out);
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

  // The low `Size` bytes of the value, most significant first: one swap and one store, where a
  // loop over the bytes would write them one at a time.
  template <size_t Size>
  static void appendBigEndian(std::uint64_t value, Bytes& out) {
    std::uint8_t bytes[Size];
    putBigEndian<Size>(value, bytes);
    out.insert(out.end(), bytes, bytes + Size);
  }

  // The same fields written into room the caller made beforehand (for a record whose size is known
  // up front: one growth of the buffer rather than one per field). Each returns the end of what it
  // wrote.
  template <size_t Size>
  static std::uint8_t* putBigEndian(std::uint64_t value, std::uint8_t* at) {
    static_assert(Size == 2 || Size == 4 || Size == 8);
    using Word = std::conditional_t<Size == 2, std::uint16_t,
                                    std::conditional_t<Size == 4, std::uint32_t, std::uint64_t>>;
    auto word = static_cast<Word>(value);
    if constexpr (std::endian::native == std::endian::little) {
      if constexpr (Size == 2) word = __builtin_bswap16(word);
      if constexpr (Size == 4) word = __builtin_bswap32(word);
      if constexpr (Size == 8) word = __builtin_bswap64(word);
    }
    std::memcpy(at, &word, Size);
    return at + Size;
  }
  // A string that needs no cut: u16 byte count, the bytes. The caller has made sure it has at most
  // kTallyMaxStringUtf16Length bytes.
  static std::uint8_t* putShortString(std::string_view text, std::uint8_t* at) {
    at = putBigEndian<2>(text.size(), at);
    copyShort(text.data(), text.size(), at);
    return at + text.size();
  }
  // Copies a text of at most a few hundred bytes in moves of a fixed width, the last one overlapping
  // the one before. Most texts of a record are names and values shorter than a word: a call to the
  // library's copy for each costs more than the moves, and a copy the compiler expands for a length
  // it knows to be short uses a string instruction that costs several times more than either.
  static void copyShort(const char* from, size_t size, std::uint8_t* to) {
    if (size < 8) {
      if (size >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + size - 4, from + size - 4, 4);
      } else if (size > 0) {
        to[0] = static_cast<std::uint8_t>(from[0]);
        to[size - 1] = static_cast<std::uint8_t>(from[size - 1]);
        if (size == 3) to[1] = static_cast<std::uint8_t>(from[1]);
      }
    } else if (size <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + size - 8, from + size - 8, 8);
    } else {
      for (size_t done = 0; done < size - 16; done += 16) std::memcpy(to + done, from + done, 16);
      std::memcpy(to + size - 16, from + size - 16, 16);
    }
  }
};

}  // namespace analytics
