#include "analytics/protocol_data.h"

#include <bit>
#include <cmath>
#include <limits>

#include "platform/foundation/text.h"

namespace analytics {
namespace {

foundation::Error malformed(const char* function, size_t length, std::int64_t index) {
  return foundation::Error::make(
      std::string(kTallyMalformedDataDomain), 1,
      std::string(function) + ": data len=" + std::to_string(length) + ", ix=" + std::to_string(index));
}

bool fieldInside(std::span<const std::uint8_t> data, std::int64_t index, size_t size) {
  return index >= 0 && static_cast<std::uint64_t>(index) <= data.size() &&
         data.size() - static_cast<std::uint64_t>(index) >= size;
}

}  // namespace

void TallyProtocolData::appendFloat(float value, Bytes& out) {
  appendBigEndian<4>(std::bit_cast<std::uint32_t>(value), out);
}

void TallyProtocolData::appendDouble(double value, Bytes& out) {
  appendBigEndian<8>(std::bit_cast<std::uint64_t>(value), out);
}

std::int64_t TallyProtocolData::timestampMillis(foundation::Date date) {
  double millis = std::trunc(date.unix() * 1000.0);
  if (!std::isfinite(millis)) return 0;
  if (millis >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  if (millis <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(millis);
}

void TallyProtocolData::appendTimestamp(std::optional<foundation::Date> date, Bytes& out) {
  appendLong(date ? timestampMillis(*date) : 0, out);
}

std::string TallyProtocolData::limitStringLength(std::string_view text) {
  if (text.size() <= kTallyMaxStringUtf16Length) return std::string(text);  // at most 1 unit a byte
  if (foundation::text::utf16Length(text) <= kTallyMaxStringUtf16Length) return std::string(text);
  // Whole code points only: a pair that would straddle the limit is left out.
  return foundation::text::prefixUtf16(text, kTallyMaxStringUtf16Length);
}

void TallyProtocolData::appendString(std::optional<std::string_view> text, Bytes& out) {
  if (!text) {
    appendUshort(0, out);
    return;
  }
  // Most strings are short: those are written as they are, without a copy.
  std::string cut;
  std::string_view limited = *text;
  if (limited.size() > kTallyMaxStringUtf16Length) {
    cut = limitStringLength(limited);
    limited = cut;
  }
  appendUshort(static_cast<std::int64_t>(limited.size()), out);
  out.insert(out.end(), limited.begin(), limited.end());
}

void TallyProtocolData::appendTinyData(std::span<const std::uint8_t> data, Bytes& out) {
  data = data.first(std::min<size_t>(data.size(), 0xFF));
  appendByte(static_cast<std::int64_t>(data.size()), out);
  out.insert(out.end(), data.begin(), data.end());
}

void TallyProtocolData::appendShortData(std::span<const std::uint8_t> data, Bytes& out) {
  data = data.first(std::min<size_t>(data.size(), 0xFFFF));
  appendUshort(static_cast<std::int64_t>(data.size()), out);
  out.insert(out.end(), data.begin(), data.end());
}

void TallyProtocolData::appendLargeData(std::span<const std::uint8_t> data, Bytes& out) {
  data = data.first(std::min<size_t>(data.size(), 0xFFFFFFFFu));
  appendInt(static_cast<std::int64_t>(data.size()), out);
  out.insert(out.end(), data.begin(), data.end());
}

foundation::Result<std::int16_t> TallyProtocolData::getInt16FromData(std::span<const std::uint8_t> data,
                                                                     std::int64_t index) {
  if (!fieldInside(data, index, 2))
    return malformed("+[TallyProtocolData getInt16FromData:atIndex:]", data.size(), index);
  auto i = static_cast<size_t>(index);
  return static_cast<std::int16_t>((data[i] << 8) | data[i + 1]);
}

foundation::Result<std::int32_t> TallyProtocolData::getInt32FromData(std::span<const std::uint8_t> data,
                                                                     std::int64_t index) {
  if (!fieldInside(data, index, 4))
    return malformed("+[TallyProtocolData getInt32FromData:atIndex:]", data.size(), index);
  auto i = static_cast<size_t>(index);
  return static_cast<std::int32_t>((std::uint32_t{data[i]} << 24) | (std::uint32_t{data[i + 1]} << 16) |
                                   (std::uint32_t{data[i + 2]} << 8) | data[i + 3]);
}

}  // namespace analytics
