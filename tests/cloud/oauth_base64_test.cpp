// Base64 with 72-character lines, as signatures and the pinned certificates use it.
#include "cloud/oauth_base64.h"

#include <gtest/gtest.h>

#include <string>

namespace cloud {
namespace {

foundation::Bytes counting(std::size_t n) {
  foundation::Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

std::string text(const foundation::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(OAuthBase64, EncodesTheStandardVectors) {
  for (auto [plain, encoded] : {std::pair<std::string, std::string>{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foobar", "Zm9vYmFy"}}) {
    EXPECT_EQ(OAuthBase64EncodeWithLineBreaks(
                  std::span(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size())),
              encoded);
    EXPECT_EQ(text(*OAuthBase64Decode(encoded)), plain);
  }
}

TEST(OAuthBase64, BreaksLinesAfterEvery72Characters) {
  std::string digestSized = OAuthBase64EncodeWithLineBreaks(counting(20));
  EXPECT_EQ(digestSized.size(), 28u);
  EXPECT_EQ(digestSized.back(), '=');

  std::string oneLine = OAuthBase64EncodeWithLineBreaks(counting(54));
  ASSERT_EQ(oneLine.size(), 74u);
  EXPECT_EQ(oneLine.substr(72), "\r\n");
  EXPECT_EQ(oneLine.find('\r'), 72u);

  std::string twoLines = OAuthBase64EncodeWithLineBreaks(counting(108));
  ASSERT_EQ(twoLines.size(), 148u);
  EXPECT_EQ(twoLines.substr(72, 2), "\r\n");
  EXPECT_EQ(twoLines.substr(146, 2), "\r\n");

  std::string partial = OAuthBase64EncodeWithLineBreaks(counting(56));
  EXPECT_EQ(partial.size(), 78u);  // 76 characters and one break
  EXPECT_EQ(partial.substr(74), "fYQ=");
}

TEST(OAuthBase64, ReportsASmallOutputBufferAndWritesNothing) {
  foundation::Bytes input = counting(54);
  std::string buffer(73, '#');
  std::size_t length = buffer.size();
  EXPECT_FALSE(OAuthBase64EncodeWithLineBreaks(input.data(), input.size(), buffer.data(), &length));
  EXPECT_EQ(length, 73u);
  EXPECT_EQ(buffer, std::string(73, '#'));

  buffer.assign(80, '#');
  length = buffer.size();
  ASSERT_TRUE(OAuthBase64EncodeWithLineBreaks(input.data(), input.size(), buffer.data(), &length));
  EXPECT_EQ(length, 74u);
  EXPECT_EQ(buffer.substr(74), "######");  // no terminating NUL
}

TEST(OAuthBase64, DecodesAcrossLineBreaksAndSkipsStrayCharacters) {
  foundation::Bytes input = counting(200);
  std::string folded = OAuthBase64EncodeWithLineBreaks(input);
  ASSERT_NE(folded.find("\r\n"), std::string::npos);
  std::string flat;
  for (char c : folded) {
    if (c != '\r' && c != '\n') flat.push_back(c);
  }
  EXPECT_EQ(*OAuthBase64Decode(folded), input);
  EXPECT_EQ(*OAuthBase64Decode(flat), input);
  EXPECT_EQ(text(*OAuthBase64Decode(" Zm9v\tYm!Fy\v")), "foobar");
  // Reading stops at the first "=".
  EXPECT_EQ(text(*OAuthBase64Decode("Zg==Zm9v")), "f");
  EXPECT_EQ(text(*OAuthBase64Decode("Zm8")), "fo");
}

TEST(OAuthBase64, DecodingNeedsRoomForThreeBytesPerFourCharacters) {
  EXPECT_EQ(OAuthBase64DecodedLength(0), 0u);
  EXPECT_EQ(OAuthBase64DecodedLength(4), 3u);
  EXPECT_EQ(OAuthBase64DecodedLength(5), 6u);

  const char* input = "Zm9vYmFy";
  std::uint8_t out[6];
  std::size_t length = 5;
  EXPECT_FALSE(OAuthBase64Decode(input, 8, out, &length));
  EXPECT_EQ(length, 5u);
  length = sizeof out;
  ASSERT_TRUE(OAuthBase64Decode(input, 8, out, &length));
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "foobar");
}

TEST(OAuthBase64, ASingleLeftOverCharacterIsMalformed) {
  EXPECT_FALSE(OAuthBase64Decode("Zm9vY").ok());
  EXPECT_FALSE(OAuthBase64Decode("Z").ok());
  EXPECT_TRUE(OAuthBase64Decode("").ok());
}

}  // namespace
}  // namespace cloud
