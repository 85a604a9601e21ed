#include "platform/foundation/uuid.h"

#include <uuid/uuid.h>

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
  uuid_t raw;
  uuid_generate_random(raw);
  Bytes bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = raw[i];
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
  uuid_t raw;
  for (size_t i = 0; i < bytes_.size(); ++i) raw[i] = bytes_[i];
  char text[37];
  uuid_unparse_upper(raw, text);
  return std::string(text, 36);
}

std::string makeUuid() { return Uuid::random().string(); }

bool isValidUuid(std::string_view text) { return Uuid::parse(text).has_value(); }

}  // namespace foundation
