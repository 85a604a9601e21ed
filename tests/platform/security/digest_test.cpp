#include "platform/security/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using security::Bytes;

std::string hex(const foundation::Result<Bytes>& result) {
  EXPECT_TRUE(result.ok());
  return result.ok() ? security::toHex(*result) : std::string();
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Digest, MatchesThePublishedVectors) {
  // Empty input included: the crypto library needs a real pointer even then.
  EXPECT_EQ(hex(security::md5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(security::md5(Bytes{'a', 'b', 'c'})), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(security::sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hex(security::sha1(Bytes(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  // Two lower-case digits per byte, leading zeros kept.
  EXPECT_EQ(security::toHex(Bytes{0x00, 0x0f, 0xa0, 0xff}), "000fa0ff");
}

TEST(HmacSha1, MatchesTheRfc2202CasesWithShortLongAndEmptyKeys) {
  using security::hmacSha1;
  EXPECT_EQ(hex(hmacSha1("Jefe", "what do ya want for nothing?")),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hex(hmacSha1(Bytes(20, 0xaa), Bytes(50, 0xdd))), "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  // Keys longer than the block are hashed first.
  EXPECT_EQ(hex(hmacSha1(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(hex(hmacSha1("", "")), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST(Base64, EncodesAndDecodesTheRfc4648VectorsAndFoldedLines) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(security::base64Encode(plain), encoded);
    auto decoded = security::base64Decode(encoded);
    ASSERT_TRUE(decoded.ok()) << encoded;
    EXPECT_EQ(text(*decoded), plain);
  }
  EXPECT_EQ(text(*security::base64Decode(" Zm9v\r\nYmE=\n")), "fooba");

  // Folded: a break after every full line.
  const std::pair<std::string, std::string> cases[] = {
      {"foobar", "Zm9v\r\nYmFy\r\n"}, {"fooba", "Zm9v\r\nYmE=\r\n"}, {"foob", "Zm9v\r\nYg==\r\n"}};
  for (const auto& [plain, encoded] : cases) EXPECT_EQ(security::base64Encode(plain, 4), encoded) << plain;
  EXPECT_EQ(security::base64Encode("foob", 6), "Zm9vYg\r\n==");
  EXPECT_EQ(security::base64Encode("", 4), "");
}

TEST(Base64, RoundTripsEveryByteValueAndInputLargerThanItsSlices) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(*security::base64Decode(security::base64Encode(all)), all);

  auto big = security::randomBytes(3 * 1024 * 1024 + 7);
  ASSERT_TRUE(big.ok());
  std::string encoded = security::base64Encode(*big);
  EXPECT_EQ(encoded.size(), (big->size() + 2) / 3 * 4);
  EXPECT_EQ(*security::base64Decode(encoded), *big);
}

TEST(Base64, RejectsMalformedText) {
  for (std::string_view bad : {"Zm9", "Zm9vY", "Zm9v!A==", "Zg==Zg==", "Z===", "====", "Zg=a", "Zm9v="}) {
    auto decoded = security::base64Decode(bad);
    ASSERT_FALSE(decoded.ok()) << bad;
    EXPECT_EQ(decoded.error().domain, security::kBase64ErrorDomain);
  }
}

TEST(RandomBytes, GivesTheCountAskedForAndDiffersBetweenCalls) {
  auto a = security::randomBytes(32);
  auto b = security::randomBytes(32);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);
  EXPECT_TRUE(security::randomBytes(0)->empty());
}

}  // namespace
