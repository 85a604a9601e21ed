// The texts of request signing: escaping, parameter texts, URL operations, and base64 with 72-character
// lines as signatures and the pinned certificates use it.
#include "cloud/oauth_url.h"

#include <gtest/gtest.h>

#include <string>

#include "cloud/oauth_base64.h"
#include "cloud/oauth_errors.h"
#include "cloud/oauth_escaping.h"
#include "cloud/oauth_parameter.h"

namespace cloud {
namespace {

using Param = OAuthURLRequestParameter;

TEST(OAuthEscaping, EscapesAllButUnreservedCharactersAndUnescapesStrictly) {
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("~a-b_c.dAZ09"), "~a-b_c.dAZ09");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding(" &/\xC3\xA9:?=,!$'()*+;[]@#"),
            "%20%26%2F%C3%A9%3A%3F%3D%2C%21%24%27%28%29%2A%2B%3B%5B%5D%40%23");
  // A path that already holds escapes is escaped once more in a signature base string.
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("/a%20b%"), "%2Fa%2520b%25");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding(std::string("\x00\x7F\xFF", 3)), "%00%7F%FF");

  // Plain percent-unescaping: "+" stands for itself, as in a token secret.
  EXPECT_EQ(*stringByReplacingPercentEscapes("x%20y+%3D%253D%c3%A9%2B"), "x y+=%3D\xC3\xA9+");
  for (std::string_view bad : {"%", "%4", "a%zz", "%C3", "%FF", "%C0%80", "%ED%A0%80"}) {
    auto result = stringByReplacingPercentEscapes(bad);
    ASSERT_FALSE(result.ok()) << bad;
    EXPECT_EQ(result.error().domain, kOAuthMalformedParameterString);
  }
}

TEST(OAuthEscaping, RecognisesDottedQuadAddresses) {
  EXPECT_TRUE(isIPAddress("10.0.0.1"));
  EXPECT_TRUE(isIPAddress("254.254.254.254"));
  for (std::string_view no : {"10.0.0.255", "10.0.0", "10.0.0.1.2", "a.b.c.d", "10..0.1", "10.0.0.-1",
                              "10.0.0.99999999999999999999", ""}) {
    EXPECT_FALSE(isIPAddress(no)) << no;
  }
}

TEST(OAuthParameter, EncodesAndOrdersByEscapedNameThenEscapedValue) {
  EXPECT_EQ(Param("a b", "c&d").URLEncodedParameterString(), "a%20b=c%26d");
  EXPECT_EQ(Param("empty", std::nullopt).URLEncodedParameterString(), "empty=");
  const std::string description = Param("x", "1").description();
  EXPECT_TRUE(description.starts_with("<OAuthURLRequestParameter: 0") && description.ends_with(" x=1>"))
      << description;

  EXPECT_TRUE(Param("a", "2").compare(Param("b", "1")) < 0);
  EXPECT_TRUE(Param("a", "1").compare(Param("a", "2")) < 0);
  EXPECT_TRUE(Param("a", std::nullopt).compare(Param("a", "")) == 0);
  // "@" escapes to "%40", which sorts before "2": the order servers sign in.
  EXPECT_TRUE(Param("c@", "").compare(Param("c2", "")) < 0);
  EXPECT_TRUE(Param("a3", "2 q").compare(Param("a3", "a")) < 0);
}

TEST(OAuthParameter, ConvertsBetweenTextsListsAndDictionaries) {
  EXPECT_EQ(Param::parametersFromString("a=1&b=x%20y"), (std::vector<Param>{{"a", "1"}, {"b", "x y"}}));
  EXPECT_TRUE(Param::parametersFromString("").empty());
  // A pair without "=" does not swallow the next one; names are taken as written, except where a
  // request is read to be signed afresh: there they are unescaped like values.
  EXPECT_EQ(Param::parametersFromString("c2&a3=2+q&c%40=&&x=a=b&"),
            (std::vector<Param>{{"c2", ""}, {"a3", "2+q"}, {"c%40", ""}, {"x", "a=b"}}));
  EXPECT_EQ(*Param::decodedParametersFromString("c2&a3=2+q&c%40=&&x=a=b&"),
            (std::vector<Param>{{"c2", ""}, {"a3", "2+q"}, {"c@", ""}, {"x", "a=b"}}));
  // A bad escape leaves that value absent and the other pairs standing; a request to be signed
  // refuses it.
  const std::pair<std::string_view, std::vector<Param>> bad[] = {
      {"a=%", {{"a", std::nullopt}}},
      {"a=1&b=%G0", {{"a", "1"}, {"b", std::nullopt}}},
      {"%ZZ=1", {{"%ZZ", "1"}}},
      {"a=%FF&c=3", {{"a", std::nullopt}, {"c", "3"}}}};
  for (const auto& [text, lenient] : bad) {
    EXPECT_EQ(Param::parametersFromString(text), lenient) << text;
    auto decoded = Param::decodedParametersFromString(text);
    ASSERT_FALSE(decoded.ok()) << text;
    EXPECT_EQ(decoded.error().domain, kOAuthMalformedParameterString);
  }

  EXPECT_EQ(Param::parameterDictionaryFromString("a=1&b=2&a=3"), (foundation::Dictionary{{"a", "3"}, {"b", "2"}}));
  EXPECT_EQ(Param::parameterDictionaryFromString("a=%4&b=1"), (foundation::Dictionary{{"b", "1"}}));
  foundation::Dictionary given{{"z", "last"}, {"a b", "x/y"}, {"n", 5}, {"none", nullptr}};
  EXPECT_EQ(Param::parameterStringForDictionary(given), "z=last&a%20b=x%2Fy&n=5&none=");
  EXPECT_EQ(Param::parameterStringForParameters({}), "");
}

TEST(OAuthUrl, SplitsAndExtendsTheQuery) {
  EXPECT_EQ(urlByRemovingQuery("https://h.example/p?a=1&b=2"), "https://h.example/p");
  EXPECT_EQ(urlByRemovingQuery("https://h.example/p"), "https://h.example/p");
  EXPECT_EQ(urlHost("https://user@Api.Example.com:8443/x?y"), "Api.Example.com");
  EXPECT_EQ(urlHost("relative/path"), "");

  EXPECT_EQ(*urlByAddingParameters("http://h/p?b=2", {{"a", "x y"}}), "http://h/p?b=2&a=x%20y");
  EXPECT_EQ(*urlByAddingParameters("http://h/p", {{"a", "1"}}), "http://h/p?a=1");
  EXPECT_EQ(*urlByAddingParameters("http://h/p", {}), "http://h/p");
  EXPECT_FALSE(urlByAddingParameters("http://h/p?b=%", {{"a", "1"}}).ok());

  // The query's own pair wins over a given pair of the same name.
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth?a=query", {{"oauth_token", "t"}, {"a", "given"}}),
            "http://h/auth?oauth_token=t&a=query");
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth", {}), "http://h/auth");
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth", {{"cb", "http://x/"}}),
            "http://h/auth?cb=http%3A%2F%2Fx%2F");
}

TEST(OAuthUrl, NormalisesForTheSignatureBaseString) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://api.example.com", "https://api.example.com/"},
      {"https://api.example.com?x=1", "https://api.example.com?x=1"},
      {"HTTP://Example.COM:80/Path", "http://example.com/Path"},
      {"https://example.com:443/a#frag", "https://example.com/a"},
      {"https://example.com:8080/a", "https://example.com:8080/a"},
      {"http://example.com:443/", "http://example.com:443/"}};
  for (const auto& [url, normalised] : cases) EXPECT_EQ(absoluteNormalizedString(url), normalised);
}

TEST(OAuthUrl, MatchesDomains) {
  EXPECT_TRUE(domainMatches("http://10.0.0.1/x", "10.0.0.1"));
  EXPECT_TRUE(domainMatches("https://api.example.com/x", ".example.com"));
  EXPECT_TRUE(domainMatches("https://api.example.com/x", "example.com"));
  EXPECT_TRUE(domainMatches("https://Example.com/x", ".example.COM"));
  EXPECT_FALSE(domainMatches("https://example.com/x", "example.com"));
  EXPECT_FALSE(domainMatches("https://example.com.evil.net/x", ".example.com"));
  EXPECT_FALSE(domainMatches("https://other.org/x", ".example.com"));
}

foundation::Bytes counting(std::size_t n) {
  foundation::Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

std::string text(const foundation::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(OAuthBase64, EncodesTheStandardVectorsBreakingLinesAndDecodesThemBack) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(OAuthBase64EncodeWithLineBreaks(foundation::Bytes(plain.begin(), plain.end())), encoded);
    EXPECT_EQ(text(*OAuthBase64Decode(encoded)), plain);
  }
  // A line break after every 72 characters.
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
