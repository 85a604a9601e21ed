// The signing code's base64 is the system's one encoder and strict decoder (platform/security),
// wrapped in the buffer contract its callers use. The decoder is forgiving where the strict one is
// not: it reads only up to the first "=" and skips every character outside the alphabet.

#include "cloud/oauth_base64.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "cloud/oauth_errors.h"
#include "platform/security/digest.h"

namespace cloud {
namespace {

constexpr std::size_t kLineLength = 72;

std::size_t encodedLength(std::size_t inputLength) {
  const std::size_t plain = (inputLength + 2) / 3 * 4;
  return plain + 2 * (plain / kLineLength);
}

bool isAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The alphabet characters before the first "=", padded back to whole groups for the strict
// decoder; nothing when a single character is left over (it cannot stand for a byte).
std::optional<std::string> forgivingText(std::string_view text) {
  std::string clean;
  clean.reserve(text.size() + 3);
  for (char c : text.substr(0, text.find('='))) {
    if (isAlphabet(c)) clean.push_back(c);
  }
  if (clean.size() % 4 == 1) return std::nullopt;
  clean.append((4 - clean.size() % 4) % 4, '=');
  return clean;
}

}  // namespace

bool OAuthBase64EncodeWithLineBreaks(const std::uint8_t* input, std::size_t inputLength, char* output,
                                     std::size_t* outputLength) {
  if (outputLength == nullptr || (inputLength > 0 && input == nullptr)) return false;
  if (inputLength > (SIZE_MAX / 4 - 2) / 2) return false;
  const std::size_t needed = encodedLength(inputLength);
  if (*outputLength < needed || (needed > 0 && output == nullptr)) return false;
  const std::string text = security::base64Encode({input, inputLength}, kLineLength);
  if (!text.empty()) std::memcpy(output, text.data(), text.size());
  *outputLength = text.size();
  return true;
}

std::size_t OAuthBase64DecodedLength(std::size_t inputLength) { return (inputLength + 3) / 4 * 3; }

bool OAuthBase64Decode(const char* input, std::size_t inputLength, std::uint8_t* output,
                       std::size_t* outputLength) {
  if (outputLength == nullptr || (inputLength > 0 && input == nullptr)) return false;
  if (*outputLength > 0 && output != nullptr) std::memset(output, '.', *outputLength);
  if (*outputLength < OAuthBase64DecodedLength(inputLength)) return false;
  auto bytes = OAuthBase64Decode(std::string_view(input, inputLength));
  if (!bytes) return false;
  if (!bytes->empty()) std::memcpy(output, bytes->data(), bytes->size());
  *outputLength = bytes->size();
  return true;
}

std::string OAuthBase64EncodeWithLineBreaks(std::span<const std::uint8_t> input) {
  return security::base64Encode(input, kLineLength);
}

foundation::Result<foundation::Bytes> OAuthBase64Decode(std::string_view text) {
  if (const auto clean = forgivingText(text)) {
    if (auto bytes = security::base64Decode(*clean)) return std::move(*bytes);
  }
  return foundation::Error::make(std::string(kOAuthMalformedBase64), kOAuthErrorCode,
                                 "Base64 text ends in a single character");
}

}  // namespace cloud
