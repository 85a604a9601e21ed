// Escaping, parameter texts and URL operations of request signing.
#include "cloud/oauth_url.h"

#include <gtest/gtest.h>

#include "cloud/oauth_errors.h"
#include "cloud/oauth_escaping.h"
#include "cloud/oauth_parameter.h"

namespace cloud {
namespace {

using Param = OAuthURLRequestParameter;

TEST(OAuthEscaping, LeavesOnlyUnreservedCharactersAlone) {
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("~a-b_c.d"), "~a-b_c.d");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("AZaz09"), "AZaz09");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("a b&c/\xC3\xA9"), "a%20b%26c%2F%C3%A9");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding(":/?=,!$&'()*+;[]@#"),
            "%3A%2F%3F%3D%2C%21%24%26%27%28%29%2A%2B%3B%5B%5D%40%23");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding(""), "");
}

TEST(OAuthEscaping, EscapesAPercentSignEvenBeforeHexDigits) {
  // A path that already holds escapes is escaped once more in a signature base string.
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding("/a%20b%"), "%2Fa%2520b%25");
  EXPECT_EQ(stringByAddingURIPercentEscapesUsingEncoding(std::string("\x00\x7F\xFF", 3)), "%00%7F%FF");
}

TEST(OAuthEscaping, UnescapesQueryTextAndRejectsBrokenEscapes) {
  EXPECT_EQ(*stringByReplacingPercentEscapes("x%20y"), "x y");
  EXPECT_EQ(*stringByReplacingPercentEscapes("2+q"), "2 q");
  EXPECT_EQ(*stringByReplacingPercentEscapes("%3D%253D"), "=%3D");
  EXPECT_EQ(*stringByReplacingPercentEscapes("%c3%A9"), "\xC3\xA9");
  for (std::string_view bad : {"%", "%4", "a%zz", "%C3", "%FF", "%C0%80", "%ED%A0%80"}) {
    auto result = stringByReplacingPercentEscapes(bad);
    ASSERT_FALSE(result.ok()) << bad;
    EXPECT_EQ(result.error().domain, kOAuthMalformedParameterString);
  }
}

TEST(OAuthEscaping, RecognisesDottedQuadAddresses) {
  EXPECT_TRUE(isIPAddress("10.0.0.1"));
  EXPECT_TRUE(isIPAddress("254.254.254.254"));
  EXPECT_FALSE(isIPAddress("10.0.0.255"));
  EXPECT_FALSE(isIPAddress("10.0.0"));
  EXPECT_FALSE(isIPAddress("10.0.0.1.2"));
  EXPECT_FALSE(isIPAddress("a.b.c.d"));
  EXPECT_FALSE(isIPAddress("10..0.1"));
  EXPECT_FALSE(isIPAddress("10.0.0.-1"));
  EXPECT_FALSE(isIPAddress("10.0.0.99999999999999999999"));
  EXPECT_FALSE(isIPAddress(""));
}

TEST(OAuthParameter, EncodesNameAndValue) {
  EXPECT_EQ(Param("a b", "c&d").URLEncodedParameterString(), "a%20b=c%26d");
  EXPECT_EQ(Param("empty", std::nullopt).URLEncodedParameterString(), "empty=");
  Param p("x", "1");
  EXPECT_EQ(p.description().substr(0, 28), "<OAuthURLRequestParameter: 0");
  EXPECT_EQ(p.description().substr(p.description().size() - 5), " x=1>");
}

TEST(OAuthParameter, OrdersByEscapedNameThenEscapedValue) {
  EXPECT_TRUE(Param("a", "2").compare(Param("b", "1")) < 0);
  EXPECT_TRUE(Param("a", "1").compare(Param("a", "2")) < 0);
  EXPECT_TRUE(Param("a", "1").compare(Param("a", "1")) == 0);
  EXPECT_TRUE(Param("a", std::nullopt).compare(Param("a", "")) == 0);
  // "@" escapes to "%40", which sorts before "2": the order servers sign in.
  EXPECT_TRUE(Param("c@", "").compare(Param("c2", "")) < 0);
  EXPECT_TRUE(Param("a3", "2 q").compare(Param("a3", "a")) < 0);
}

TEST(OAuthParameter, ParsesQueryText) {
  auto parameters = Param::parametersFromString("a=1&b=x%20y");
  ASSERT_TRUE(parameters.ok());
  EXPECT_EQ(*parameters, (std::vector<Param>{{"a", "1"}, {"b", "x y"}}));

  EXPECT_EQ(*Param::parametersFromString("a"), (std::vector<Param>{{"a", ""}}));
  EXPECT_TRUE(Param::parametersFromString("")->empty());
  // A pair without "=" does not swallow the next one; names are unescaped like values.
  EXPECT_EQ(*Param::parametersFromString("c2&a3=2+q&c%40=&&x=a=b&"),
            (std::vector<Param>{{"c2", ""}, {"a3", "2 q"}, {"c@", ""}, {"x", "a=b"}}));
}

TEST(OAuthParameter, MalformedQueryTextIsAnError) {
  for (std::string_view bad : {"a=%", "a=1&b=%G0", "%ZZ=1", "a=%FF"}) {
    auto parameters = Param::parametersFromString(bad);
    ASSERT_FALSE(parameters.ok()) << bad;
    EXPECT_EQ(parameters.error().domain, kOAuthMalformedParameterString);
  }
  EXPECT_FALSE(Param::parameterDictionaryFromString("a=%4").ok());
}

TEST(OAuthParameter, ConvertsBetweenDictionariesAndText) {
  auto dictionary = Param::parameterDictionaryFromString("a=1&b=2&a=3");
  ASSERT_TRUE(dictionary.ok());
  EXPECT_EQ(dictionary->size(), 2u);
  EXPECT_EQ(*(*dictionary)["a"].string(), "3");
  EXPECT_TRUE(Param::parameterDictionaryFromString("")->empty());

  foundation::Dictionary given{{"z", "last"}, {"a b", "x/y"}, {"n", 5}, {"none", nullptr}};
  EXPECT_EQ(Param::parameterStringForDictionary(given), "z=last&a%20b=x%2Fy&n=5&none=");
  EXPECT_EQ(Param::parameterStringForParameters({}), "");
}

TEST(OAuthUrl, RemovesTheQuery) {
  EXPECT_EQ(urlByRemovingQuery("https://h.example/p?a=1&b=2"), "https://h.example/p");
  EXPECT_EQ(urlByRemovingQuery("https://h.example/p"), "https://h.example/p");
  EXPECT_EQ(urlHost("https://user@Api.Example.com:8443/x?y"), "Api.Example.com");
  EXPECT_EQ(urlHost("relative/path"), "");
}

TEST(OAuthUrl, AddsParametersAfterTheExistingQuery) {
  EXPECT_EQ(*urlByAddingParameters("http://h/p?b=2", {{"a", "x y"}}), "http://h/p?b=2&a=x%20y");
  EXPECT_EQ(*urlByAddingParameters("http://h/p", {{"a", "1"}}), "http://h/p?a=1");
  EXPECT_EQ(*urlByAddingParameters("http://h/p", {}), "http://h/p");
  EXPECT_FALSE(urlByAddingParameters("http://h/p?b=%", {{"a", "1"}}).ok());
}

TEST(OAuthUrl, MergesTheQueryIntoAParameterDictionary) {
  foundation::Dictionary given{{"oauth_token", "t"}, {"a", "given"}};
  // The query's own pair wins over a given pair of the same name.
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth?a=query", given),
            "http://h/auth?oauth_token=t&a=query");
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth", {}), "http://h/auth");
  EXPECT_EQ(*urlByAddingParameterDictionary("http://h/auth", {{"cb", "http://x/"}}),
            "http://h/auth?cb=http%3A%2F%2Fx%2F");
}

TEST(OAuthUrl, NormalisesForTheSignatureBaseString) {
  EXPECT_EQ(absoluteNormalizedString("https://api.example.com"), "https://api.example.com/");
  EXPECT_EQ(absoluteNormalizedString("https://api.example.com/1/files"), "https://api.example.com/1/files");
  EXPECT_EQ(absoluteNormalizedString("https://api.example.com?x=1"), "https://api.example.com?x=1");
  EXPECT_EQ(absoluteNormalizedString("HTTP://Example.COM:80/Path"), "http://example.com/Path");
  EXPECT_EQ(absoluteNormalizedString("https://example.com:443/a#frag"), "https://example.com/a");
  EXPECT_EQ(absoluteNormalizedString("https://example.com:8080/a"), "https://example.com:8080/a");
  EXPECT_EQ(absoluteNormalizedString("http://example.com:443/"), "http://example.com:443/");
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

}  // namespace
}  // namespace cloud
