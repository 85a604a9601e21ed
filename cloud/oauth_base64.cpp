#include "cloud/oauth_base64.h"

#include <cstring>

#include "cloud/oauth_errors.h"

namespace cloud {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 72;
constexpr std::size_t kLineWithBreak = kLineLength + 2;

int decodeValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::size_t encodedLength(std::size_t inputLength) {
  std::size_t plain = (inputLength + 2) / 3 * 4;
  return plain + 2 * (plain / kLineLength);
}

}  // namespace

bool OAuthBase64EncodeWithLineBreaks(const std::uint8_t* input, std::size_t inputLength, char* output,
                                     std::size_t* outputLength) {
  if (outputLength == nullptr || (inputLength > 0 && input == nullptr)) return false;
  if (inputLength > (SIZE_MAX / 4 - 2) / 2) return false;
  std::size_t needed = encodedLength(inputLength);
  if (*outputLength < needed || (needed > 0 && output == nullptr)) return false;
  std::size_t out = 0;
  auto lineBreak = [&] {
    if (out % kLineWithBreak == kLineLength) {
      output[out++] = '\r';
      output[out++] = '\n';
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= inputLength; i += 3) {
    std::uint32_t group = (std::uint32_t{input[i]} << 16) | (std::uint32_t{input[i + 1]} << 8) | input[i + 2];
    output[out++] = kAlphabet[(group >> 18) & 0x3F];
    output[out++] = kAlphabet[(group >> 12) & 0x3F];
    output[out++] = kAlphabet[(group >> 6) & 0x3F];
    output[out++] = kAlphabet[group & 0x3F];
    lineBreak();
  }
  std::size_t left = inputLength - i;
  if (left > 0) {
    std::uint32_t group = std::uint32_t{input[i]} << 16;
    if (left == 2) group |= std::uint32_t{input[i + 1]} << 8;
    output[out++] = kAlphabet[(group >> 18) & 0x3F];
    output[out++] = kAlphabet[(group >> 12) & 0x3F];
    output[out++] = left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    output[out++] = '=';
    lineBreak();
  }
  *outputLength = out;
  return true;
}

std::size_t OAuthBase64DecodedLength(std::size_t inputLength) { return (inputLength + 3) / 4 * 3; }

bool OAuthBase64Decode(const char* input, std::size_t inputLength, std::uint8_t* output,
                       std::size_t* outputLength) {
  if (outputLength == nullptr || (inputLength > 0 && input == nullptr)) return false;
  if (*outputLength > 0 && output != nullptr) std::memset(output, '.', *outputLength);
  if (*outputLength < OAuthBase64DecodedLength(inputLength)) return false;
  std::size_t out = 0;
  std::uint32_t group = 0;
  int count = 0;
  for (std::size_t i = 0; i < inputLength && input[i] != '='; ++i) {
    int value = decodeValue(input[i]);
    if (value < 0) continue;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      output[out++] = static_cast<std::uint8_t>(group >> 16);
      output[out++] = static_cast<std::uint8_t>(group >> 8);
      output[out++] = static_cast<std::uint8_t>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return false;
  if (count == 2) {
    output[out++] = static_cast<std::uint8_t>(group >> 4);
  } else if (count == 3) {
    output[out++] = static_cast<std::uint8_t>(group >> 10);
    output[out++] = static_cast<std::uint8_t>(group >> 2);
  }
  *outputLength = out;
  return true;
}

std::string OAuthBase64EncodeWithLineBreaks(std::span<const std::uint8_t> input) {
  std::size_t length = encodedLength(input.size());
  std::string text(length, '\0');
  if (!OAuthBase64EncodeWithLineBreaks(input.data(), input.size(), text.data(), &length)) return {};
  text.resize(length);
  return text;
}

foundation::Result<foundation::Bytes> OAuthBase64Decode(std::string_view text) {
  std::size_t length = OAuthBase64DecodedLength(text.size());
  foundation::Bytes bytes(length);
  if (!OAuthBase64Decode(text.data(), text.size(), bytes.data(), &length)) {
    return foundation::Error::make(std::string(kOAuthMalformedBase64), kOAuthErrorCode,
                                   "Base64 text ends in a single character");
  }
  bytes.resize(length);
  return bytes;
}

}  // namespace cloud
