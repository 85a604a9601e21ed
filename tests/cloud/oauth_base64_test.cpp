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

TEST(OAuthBase64, EncodesTheStandardVectorsAndDecodesThemBack) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(OAuthBase64EncodeWithLineBreaks(foundation::Bytes(plain.begin(), plain.end())), encoded);
    EXPECT_EQ(text(*OAuthBase64Decode(encoded)), plain);
  }
}

TEST(OAuthBase64, BreaksLinesAfterEvery72Characters) {
  EXPECT_EQ(OAuthBase64EncodeWithLineBreaks(counting(20)).size(), 28u);  // a digest: no break
  const std::string oneLine = OAuthBase64EncodeWithLineBreaks(counting(54));
  ASSERT_EQ(oneLine.size(), 74u);
  EXPECT_EQ(oneLine.find("\r\n"), 72u);
  const std::string twoLines = OAuthBase64EncodeWithLineBreaks(counting(108));
  ASSERT_EQ(twoLines.size(), 148u);
  EXPECT_EQ(twoLines.substr(72, 2) + twoLines.substr(146), "\r\n\r\n");
  const std::string partial = OAuthBase64EncodeWithLineBreaks(counting(56));
  EXPECT_EQ(partial.size(), 78u);  // 76 characters and one break
  EXPECT_EQ(partial.substr(72), "\r\nfYQ=");
}

TEST(OAuthBase64, BufferEntriesReportASmallOutputAndWriteNothing) {
  foundation::Bytes input = counting(54);
  std::string buffer(80, '#');
  std::size_t length = 73;
  EXPECT_FALSE(OAuthBase64EncodeWithLineBreaks(input.data(), input.size(), buffer.data(), &length));
  EXPECT_EQ(length, 73u);
  EXPECT_EQ(buffer, std::string(80, '#'));
  length = buffer.size();
  ASSERT_TRUE(OAuthBase64EncodeWithLineBreaks(input.data(), input.size(), buffer.data(), &length));
  EXPECT_EQ(length, 74u);
  EXPECT_EQ(buffer.substr(74), "######");  // no terminating NUL

  EXPECT_EQ(OAuthBase64DecodedLength(0), 0u);
  EXPECT_EQ(OAuthBase64DecodedLength(4), 3u);
  EXPECT_EQ(OAuthBase64DecodedLength(5), 6u);
  std::uint8_t out[6];
  length = 5;
  EXPECT_FALSE(OAuthBase64Decode("Zm9vYmFy", 8, out, &length));
  EXPECT_EQ(length, 5u);
  length = sizeof out;
  ASSERT_TRUE(OAuthBase64Decode("Zm9vYmFy", 8, out, &length));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), "foobar");
}

TEST(OAuthBase64, DecodesAcrossLineBreaksSkipsStrayCharactersAndStopsAtPadding) {
  const foundation::Bytes input = counting(200);
  std::string folded = OAuthBase64EncodeWithLineBreaks(input);
  EXPECT_EQ(*OAuthBase64Decode(folded), input);
  std::erase(folded, '\r');
  std::erase(folded, '\n');
  EXPECT_EQ(*OAuthBase64Decode(folded), input);
  EXPECT_EQ(text(*OAuthBase64Decode(" Zm9v\tYm!Fy\v")), "foobar");
  EXPECT_EQ(text(*OAuthBase64Decode("Zg==Zm9v")), "f");
  EXPECT_EQ(text(*OAuthBase64Decode("Zm8")), "fo");
  // A single character left over is malformed.
  EXPECT_FALSE(OAuthBase64Decode("Zm9vY").ok());
  EXPECT_FALSE(OAuthBase64Decode("Z").ok());
}

}  // namespace
}  // namespace cloud
