#include "platform/security/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hex(const foundation::Result<security::Bytes>& result) {
  EXPECT_TRUE(result.ok());
  return result.ok() ? security::toHex(*result) : std::string();
}

security::Bytes repeated(std::uint8_t byte, std::size_t count) { return security::Bytes(count, byte); }

TEST(Md5, MatchesTheReferenceSuite) {
  // The test suite that closes the MD5 definition (RFC 1321, appendix A.5).
  EXPECT_EQ(hex(security::md5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(security::md5("a")), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(hex(security::md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(security::md5("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(hex(security::md5("abcdefghijklmnopqrstuvwxyz")), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(hex(security::md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  std::string eightyDigits;
  for (int i = 0; i < 8; ++i) eightyDigits += "1234567890";
  EXPECT_EQ(hex(security::md5(eightyDigits)), "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(security::md5("abc")->size(), security::kMd5Length);
}

TEST(Sha1, MatchesTheStandardsExamples) {
  // FIPS 180 examples: one block, two blocks, a million "a".
  EXPECT_EQ(hex(security::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(security::sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(hex(security::sha1(repeated('a', 1000000))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(hex(security::sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(HmacSha1, MatchesTheRfc2202TestCases) {
  using security::hmacSha1;
  EXPECT_EQ(hex(hmacSha1(std::string(20, '\x0b'), "Hi There")), "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(hex(hmacSha1("Jefe", "what do ya want for nothing?")),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hex(hmacSha1(repeated(0xaa, 20), repeated(0xdd, 50))),
            "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  security::Bytes key4;
  for (std::uint8_t b = 1; b <= 25; ++b) key4.push_back(b);
  EXPECT_EQ(hex(hmacSha1(key4, repeated(0xcd, 50))), "4c9007f4026250c6bc8414f9bf50c86c2d7235da");
  EXPECT_EQ(hex(hmacSha1(std::string(20, '\x0c'), "Test With Truncation")),
            "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04");
  // Keys longer than the block are hashed first.
  std::string longKey(80, '\xaa');
  EXPECT_EQ(hex(hmacSha1(longKey, "Test Using Larger Than Block-Size Key - Hash Key First")),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(
      hex(hmacSha1(longKey, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")),
      "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

TEST(HmacSha1, AcceptsAnEmptyKey) {
  auto mac = security::hmacSha1("", "text");
  ASSERT_TRUE(mac.ok());
  EXPECT_EQ(mac->size(), security::kSha1Length);
}

TEST(Base64, EncodesAndDecodesTheRfc4648Vectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(security::base64Encode(plain), encoded);
    auto decoded = security::base64Decode(encoded);
    ASSERT_TRUE(decoded.ok()) << encoded;
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), plain);
  }
}

TEST(Base64, RoundTripsEveryByteValueAndLargeInput) {
  security::Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(*security::base64Decode(security::base64Encode(all)), all);

  // Larger than the slices the encoder and decoder work in.
  auto big = security::randomBytes(3 * 1024 * 1024 + 7);
  ASSERT_TRUE(big.ok());
  std::string text = security::base64Encode(*big);
  EXPECT_EQ(text.size(), (big->size() + 2) / 3 * 4);
  EXPECT_EQ(*security::base64Decode(text), *big);
}

TEST(Base64, IgnoresWhiteSpaceBetweenCharacters) {
  auto decoded = security::base64Decode(" Zm9v\r\nYmE=\n");
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(std::string(decoded->begin(), decoded->end()), "fooba");
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

TEST(ToHex, WritesTwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(security::toHex(security::Bytes{0x00, 0x0f, 0xa0, 0xff}), "000fa0ff");
  EXPECT_EQ(security::toHex(security::Bytes{}), "");
}

}  // namespace
