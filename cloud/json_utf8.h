#pragma once
// UTF-8 helpers shared by the JSON reader and writer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cloud::json_utf8 {

// Length of the well-formed UTF-8 character that starts at p (p < end, *p >= 0x80), or 0 when the
// bytes there are not one: stray continuation bytes, overlong forms, surrogates, values past
// U+10FFFF and sequences cut short all count as malformed.
inline size_t sequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = p[0];
  const size_t available = static_cast<size_t>(end - p);
  auto continuation = [&](size_t i) { return i < available && (p[i] & 0xC0) == 0x80; };
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (available < 2) return 0;
    const unsigned char second = p[1];
    if (lead == 0xE0 && second < 0xA0) return 0;  // overlong
    if (lead == 0xED && second > 0x9F) return 0;  // UTF-16 surrogate
    return continuation(1) && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (available < 2) return 0;
    const unsigned char second = p[1];
    if (lead == 0xF0 && second < 0x90) return 0;  // overlong
    if (lead == 0xF4 && second > 0x8F) return 0;  // past U+10FFFF
    return continuation(1) && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

inline bool isValid(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const size_t n = sequenceLength(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

inline void append(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    const char bytes[] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 2);
  } else if (cp < 0x10000) {
    const char bytes[] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                          static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 3);
  } else {
    const char bytes[] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                          static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                          static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 4);
  }
}

// Literal order of the texts' UTF-16 units. UTF-8 bytes sort in code-point order, which agrees with
// UTF-16 order except that characters past U+FFFF (surrogate pairs, D800-DFFF) sort before
// U+E000-U+FFFF in UTF-16; that one case is settled on the first differing character.
inline bool utf16Less(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size();
  // Only differing first bytes of characters can need the correction: bytes inside a character
  // (continuation bytes) are below 0xC0 and never match the leads tested here.
  const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
  auto aboveE000 = [](unsigned char lead) { return lead == 0xEE || lead == 0xEF; };
  if (x >= 0xF0 && aboveE000(y)) return true;
  if (y >= 0xF0 && aboveE000(x)) return false;
  return x < y;
}

}  // namespace cloud::json_utf8
