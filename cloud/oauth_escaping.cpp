#include "cloud/oauth_escaping.h"

#include <cstdint>

#include "cloud/oauth_errors.h"
#include "platform/foundation/text.h"

namespace cloud {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string stringByAddingURIPercentEscapesUsingEncoding(std::string_view text) {
  return foundation::text::percentEscaped(text);
}

foundation::Result<std::string> stringByReplacingPercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
      int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (hi < 0 || lo < 0) {
        return oauthMalformedParameterStringError("Bad percent escape in \"" + std::string(text) + "\"");
      }
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  if (!foundation::text::isValidUtf8(out)) {
    return oauthMalformedParameterStringError("Escaped text is not UTF-8: \"" + std::string(text) + "\"");
  }
  return out;
}

bool isIPAddress(std::string_view text) {
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = text.find('.', start);
    std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty()) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
      if (value >= 255) return false;
    }
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace cloud
