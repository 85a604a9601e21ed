#pragma once
// Base64 as request signing and the pinned certificates use it: the standard alphabet with "="
// padding, lines of 72 characters ended by CR LF, and a forgiving decoder.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace cloud {

// Encodes inputLength bytes into output. *outputLength gives the room in output; it must hold
// L = 4 * ceil(n / 3) characters plus CR LF after every 72 of them (L + 2 * floor(L / 72)). When it
// is smaller nothing is written and the result is false; otherwise *outputLength becomes the
// number of characters written. No terminating NUL is written.
bool OAuthBase64EncodeWithLineBreaks(const std::uint8_t* input, std::size_t inputLength, char* output,
                                     std::size_t* outputLength);

// The room the decoder needs for a text of that length: 3 * ceil(length / 4).
std::size_t OAuthBase64DecodedLength(std::size_t inputLength);

// Decodes inputLength characters into output. The output's room *outputLength is first filled
// with "."; when it is smaller than OAuthBase64DecodedLength(inputLength) the result is false.
// Reading stops at the first "=" or the end; characters outside the alphabet (white space and
// line breaks included) are skipped. Every four characters give three bytes, a final two one byte
// and a final three two bytes; a single character left over is malformed text and fails.
// On success *outputLength becomes the number of bytes written.
bool OAuthBase64Decode(const char* input, std::size_t inputLength, std::uint8_t* output,
                       std::size_t* outputLength);

// The same, on whole buffers.
std::string OAuthBase64EncodeWithLineBreaks(std::span<const std::uint8_t> input);
// Malformed text (a single character in the last group) gives an error.
foundation::Result<foundation::Bytes> OAuthBase64Decode(std::string_view text);

}  // namespace cloud
