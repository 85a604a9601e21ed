#include "platform/security/digest.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>

namespace security {
namespace {

// The crypto library sets itself up once, keeping a little state on the thread that does it; done at
// start on the main thread, that state goes with the process rather than with a worker thread that
// ends without telling the library.
[[maybe_unused]] const bool kCryptoReady = OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) == 1;

// The crypto library wants real pointers even for empty input.
const std::uint8_t kEmpty[1] = {0};
const std::uint8_t* nonNull(std::span<const std::uint8_t> data) {
  return data.empty() ? kEmpty : data.data();
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

foundation::Error cryptoError(std::string_view what) {
  unsigned long code = ERR_get_error();
  std::string description = std::string(what) + " failed";
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    description += ": ";
    description += reason;
  }
  ERR_clear_error();
  return foundation::Error::make(std::string(kDigestErrorDomain), static_cast<std::int64_t>(code),
                                 std::move(description));
}

foundation::Result<Bytes> digest(const EVP_MD* md, std::string_view name,
                                 std::span<const std::uint8_t> data) {
  if (md == nullptr) return cryptoError(name);
  Bytes out(static_cast<std::size_t>(EVP_MAX_MD_SIZE));
  unsigned int length = 0;
  if (EVP_Digest(nonNull(data), data.size(), out.data(), &length, md, nullptr) != 1) return cryptoError(name);
  out.resize(length);
  return out;
}

bool isBase64Space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isBase64Alphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

foundation::Error base64Error(std::string description) {
  return foundation::Error::make(std::string(kBase64ErrorDomain), 1, std::move(description));
}

}  // namespace

foundation::Result<Bytes> md5(std::span<const std::uint8_t> data) { return digest(EVP_md5(), "MD5", data); }
foundation::Result<Bytes> md5(std::string_view data) { return md5(asBytes(data)); }

foundation::Result<Bytes> sha1(std::span<const std::uint8_t> data) {
  return digest(EVP_sha1(), "SHA-1", data);
}
foundation::Result<Bytes> sha1(std::string_view data) { return sha1(asBytes(data)); }

foundation::Result<Bytes> hmacSha1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  if (key.size() > static_cast<std::size_t>(INT_MAX))
    return foundation::Error::make(std::string(kDigestErrorDomain), 0, "HMAC-SHA1 key too long");
  Bytes out(static_cast<std::size_t>(EVP_MAX_MD_SIZE));
  unsigned int length = 0;
  if (HMAC(EVP_sha1(), nonNull(key), static_cast<int>(key.size()), nonNull(data), data.size(), out.data(),
           &length) == nullptr) {
    return cryptoError("HMAC-SHA1");
  }
  out.resize(length);
  return out;
}

foundation::Result<Bytes> hmacSha1(std::string_view key, std::string_view data) {
  return hmacSha1(asBytes(key), asBytes(data));
}

std::string base64Encode(std::span<const std::uint8_t> data, std::size_t lineLength) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::size_t plain = (data.size() + 2) / 3 * 4;
  std::string out;
  out.reserve(plain + (lineLength > 0 ? 2 * (plain / lineLength) : 0));
  std::size_t column = 0;
  auto put = [&](char c) {
    out.push_back(c);
    if (lineLength > 0 && ++column == lineLength) {
      out += "\r\n";
      column = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t group =
        (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
    put(kAlphabet[(group >> 18) & 0x3F]);
    put(kAlphabet[(group >> 12) & 0x3F]);
    put(kAlphabet[(group >> 6) & 0x3F]);
    put(kAlphabet[group & 0x3F]);
  }
  if (const std::size_t left = data.size() - i; left > 0) {
    std::uint32_t group = std::uint32_t{data[i]} << 16;
    if (left == 2) group |= std::uint32_t{data[i + 1]} << 8;
    put(kAlphabet[(group >> 18) & 0x3F]);
    put(kAlphabet[(group >> 12) & 0x3F]);
    put(left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    put('=');
  }
  return out;
}

std::string base64Encode(std::string_view data, std::size_t lineLength) {
  return base64Encode(asBytes(data), lineLength);
}

foundation::Result<Bytes> base64Decode(std::string_view text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (!isBase64Space(c)) compact.push_back(c);
  }
  if (compact.size() % 4 != 0) return base64Error("Base64 text is not a whole number of 4-character groups");
  std::size_t padding = 0;
  for (std::size_t i = 0; i < compact.size(); ++i) {
    char c = compact[i];
    if (c == '=') {
      // Padding is one or two "=" closing the last group.
      if (i + 2 < compact.size() || (i + 2 == compact.size() && compact[i + 1] != '=')) {
        return base64Error("Base64 padding in the middle of the text");
      }
      ++padding;
    } else if (!isBase64Alphabet(c)) {
      return base64Error("Base64 text holds a character outside the alphabet at offset " + std::to_string(i));
    }
  }
  Bytes out;
  out.reserve(compact.size() / 4 * 3);
  constexpr std::size_t kSlice = 4 * 1024 * 1024;
  for (std::size_t start = 0; start < compact.size(); start += kSlice) {
    std::size_t n = std::min(kSlice, compact.size() - start);
    Bytes chunk(n / 4 * 3 + 1);
    int written = EVP_DecodeBlock(
        chunk.data(), reinterpret_cast<const unsigned char*>(compact.data() + start), static_cast<int>(n));
    if (written < 0) return base64Error("Base64 text could not be decoded");
    chunk.resize(static_cast<std::size_t>(written));
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  // The library counts the padded group as three bytes.
  out.resize(out.size() - padding);
  return out;
}

foundation::Result<Bytes> randomBytes(std::size_t count) {
  Bytes out(count);
  std::size_t done = 0;
  while (done < count) {
    int n = static_cast<int>(std::min<std::size_t>(count - done, INT_MAX));
    if (RAND_bytes(out.data() + done, n) != 1) return cryptoError("Random bytes");
    done += static_cast<std::size_t>(n);
  }
  return out;
}

std::string toHex(std::span<const std::uint8_t> data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.size() * 2);
  for (std::uint8_t b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0f]);
  }
  return out;
}

}  // namespace security
