#include "reports/jpeg_info.h"

namespace reports {

namespace {

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// The orientation tag of an EXIF block ("Exif\0\0" then a TIFF header); 1 when absent or damaged.
int exifOrientation(const std::uint8_t* p, size_t n) {
  if (n < 14 || p[0] != 'E' || p[1] != 'x' || p[2] != 'i' || p[3] != 'f' || p[4] != 0 || p[5] != 0) return 1;
  const std::uint8_t* tiff = p + 6;
  const size_t size = n - 6;
  bool little;
  if (tiff[0] == 'I' && tiff[1] == 'I')
    little = true;
  else if (tiff[0] == 'M' && tiff[1] == 'M')
    little = false;
  else
    return 1;
  auto u16 = [&](size_t at) -> std::uint32_t {
    return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
  };
  auto u32 = [&](size_t at) -> std::uint32_t {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  const std::uint32_t ifd = u32(4);
  if (ifd > size || size - ifd < 2) return 1;
  const std::uint32_t entries = u16(ifd);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const size_t at = ifd + 2 + static_cast<size_t>(i) * 12;
    if (at > size || size - at < 12) return 1;
    if (u16(at) == 0x0112) {
      const std::uint32_t value = u16(at + 8);
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

}  // namespace

std::optional<JpegInfo> readJpegInfo(const std::uint8_t* data, size_t size) {
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  JpegInfo info;
  size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return std::nullopt;
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // no frame header before the data
    const size_t length = be16(data + at + 2);
    if (length < 2 || length > size - at - 2) return std::nullopt;
    const std::uint8_t* body = data + at + 4;
    const size_t bodySize = length - 2;
    if (marker == 0xE1) info.orientation = exifOrientation(body, bodySize);
    // Start-of-frame markers, except the DHT, JPG and DAC codes among them.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (bodySize < 5) return std::nullopt;
      info.height = be16(body + 1);
      info.width = be16(body + 3);
      if (info.width == 0 || info.height == 0) return std::nullopt;
      return info;
    }
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace reports
