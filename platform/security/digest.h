#pragma once
// Message digests, HMAC, base64 and random bytes for the rest of the system. The work is done by
// the system's crypto library; nothing of it shows through this header.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace security {

using foundation::Bytes;

inline constexpr std::size_t kMd5Length = 16;
inline constexpr std::size_t kSha1Length = 20;

// Domain of the errors below: the crypto library refused an operation (out of memory, or an
// algorithm disabled by the system's policy).
inline constexpr std::string_view kDigestErrorDomain = "security.digest";
// Domain of the error for text that is not base64.
inline constexpr std::string_view kBase64ErrorDomain = "security.base64";

// 16-byte MD5 digest.
foundation::Result<Bytes> md5(std::span<const std::uint8_t> data);
foundation::Result<Bytes> md5(std::string_view data);

// 20-byte SHA-1 digest.
foundation::Result<Bytes> sha1(std::span<const std::uint8_t> data);
foundation::Result<Bytes> sha1(std::string_view data);

// 20-byte HMAC-SHA1 of the data under the key (any key length, empty included).
foundation::Result<Bytes> hmacSha1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);
foundation::Result<Bytes> hmacSha1(std::string_view key, std::string_view data);

// Base64 with the standard alphabet (A-Z a-z 0-9 + /) and "=" padding. With a line length, CR LF
// follows every full line of that many characters (the last one too, when it is full); without
// one the text is a single line. The system's one base64 encoder: variants call it.
std::string base64Encode(std::span<const std::uint8_t> data, std::size_t lineLength = 0);
std::string base64Encode(std::string_view data, std::size_t lineLength = 0);

// Decodes padded base64. White space (blank, tab, CR, LF, VT, FF) anywhere is ignored, so
// folded lines decode; any other character outside the alphabet, a missing or misplaced "=",
// or a length that is not a whole number of groups is an error.
foundation::Result<Bytes> base64Decode(std::string_view text);

// Bytes from the cryptographic random source.
foundation::Result<Bytes> randomBytes(std::size_t count);

// Lower-case hexadecimal, two digits per byte.
std::string toHex(std::span<const std::uint8_t> data);

}  // namespace security
