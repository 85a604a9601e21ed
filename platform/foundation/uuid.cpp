#include "platform/foundation/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <random>

namespace foundation {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isHyphenPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
  Bytes bytes{};
  size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got > 0) {
      filled += static_cast<size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      // Only a kernel without getrandom (before 3.17) gets here: the library's device reads the
      // system's random source another way.
      std::random_device device;
      for (; filled < bytes.size(); ++filled) bytes[filled] = static_cast<std::uint8_t>(device());
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4: random
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // the RFC 4122 variant
  return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Bytes bytes{};
  size_t nibble = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = hexValue(text[i]);
    if (v < 0) return std::nullopt;
    bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 ? v : v << 4));
    ++nibble;
  }
  return Uuid(bytes);
}

std::string Uuid::string() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(36, '-');
  size_t at = 0;
  for (const std::uint8_t byte : bytes_) {
    if (isHyphenPosition(at)) ++at;
    text[at++] = kDigits[byte >> 4];
    text[at++] = kDigits[byte & 0x0f];
  }
  return text;
}

std::string makeUuid() { return Uuid::random().string(); }

bool isValidUuid(std::string_view text) { return Uuid::parse(text).has_value(); }

}  // namespace foundation
