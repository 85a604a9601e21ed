#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cloud/json.h"
#include "cloud/json_trace.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Value;

Value parsed(std::string_view text) {
  CloudJsonParser parser;
  auto value = parser.fragmentWithString(text);
  EXPECT_TRUE(value) << text << ": " << traceOf(parser);
  EXPECT_TRUE(parser.errorTrace().empty());
  return value.value_or(Value());
}

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(JsonParser, MalformedTextsGiveTheirExactTrace) {
  const std::string u = "Unrecognised leading character", inArray = "Expected value while parsing array";
  const std::pair<std::string, std::string> cases[] = {
      {" \t\r\n\v\f", "11 Unexpected end of string"},
      {std::string("[1]\0", 4), "10 Garbage after JSON"},  // a NUL byte does not end the text
      {"tru", "3 Expected 'true'"},
      {"fals", "3 Expected 'false'"},
      {"nULL", "3 Expected 'null'"},
      {"\xEF\xBB\xBF[]", "3 " + u},  // byte-order mark
      {"[1, ]", "9 Trailing comma disallowed in array"},
      {"[1,", "11 End of input while parsing array"},
      {"[ ", "11 Unexpected end of string | 3 " + inArray},
      {"[1,,2]", "3 " + u + " | 3 " + inArray},
      {"[1 2]", "3 Expected ',' or ']' after array element"},
      {R"([{"a":1 "b":2}])", "3 Expected ',' or '}' after object member | 3 " + inArray},
      {R"({"a":1,})", "9 Trailing comma disallowed in object"},
      {R"({"a":1)", "11 End of input while parsing object"},
      {R"({"a":1,)", "3 Object key string expected"},
      {R"({"a\q":1})", "8 Illegal escape sequence '0x71' | 3 Object key string expected"},
      {R"({"a")", "3 Expected ':' separating key and value"},
      {R"({"a":})", "3 " + u + " | 3 Object value expected for key: a"},
      {"-01", "2 Leading 0 disallowed in number"},
      {"-a", "2 No digits after initial minus"},
      {"1.e3", "2 No digits after decimal point"},
      {"1E", "2 No digits after exponent"},
      {"1e309", "2 Failed creating decimal instance"},  // past the largest double
      {"[-1e9999]", "2 Failed creating decimal instance | 3 " + inArray},
      {R"({"k":[1,{"x":+1}]})", "2 Leading + disallowed in number | 3 Object value expected for key: x | 3 " +
                                    inArray + " | 3 Object value expected for key: k"},
      {"\"abc\\n", "11 Unexpected EOF while parsing string"},
      {"\"\\\xE9\"", "8 Illegal escape sequence '0xffe9'"},
      {"\"\\", "8 Illegal escape sequence '0x0'"},
      {"\"a\tb\"", "5 Unescaped control character '0x9'"},
      {"\"\x1F\"", "5 Unescaped control character '0x1f'"},
      {std::string("\"a\0\"", 4), "5 Unescaped control character '0x0'"},
      {R"("\u12")", "6 Missing hex digit in quad | 6 Missing hex quad | 6 Broken unicode character"},
      {R"("\ud83d\n")", "6 Missing low character in surrogate pair | 6 Broken unicode character"},
      {R"("\ud83d\u12")",
       "6 Missing hex digit in quad | 6 Missing hex quad | 6 Missing low character in surrogate pair | 6 "
       "Broken unicode character"},
      {R"("\ud83d\u0041")", "6 Invalid low surrogate char | 6 Broken unicode character"},
      {R"(["\ude00"])",
       "6 Invalid high character in surrogate pair | 6 Broken unicode character | 3 " + inArray},
      {"\"\x81\"", "13 Invalid UTF-8 byte '0x81' in string"},
      {"\"\xC0\xAF\"", "13 Invalid UTF-8 byte '0xc0' in string"},          // overlong
      {"\"\xED\xA0\x80\"", "13 Invalid UTF-8 byte '0xed' in string"},      // surrogate
      {"\"\xF4\x90\x80\x80\"", "13 Invalid UTF-8 byte '0xf4' in string"},  // past U+10FFFF
      {"\"\xE2\x82", "13 Invalid UTF-8 byte '0xe2' in string"},            // cut by the end
      {"{\"\xE9\":1}", "13 Invalid UTF-8 byte '0xe9' in string | 3 Object key string expected"},
      // Long runs take the word-at-a-time path; the bad byte is found there too.
      {"\"" + std::string(37, 'a') + "\xFF" + std::string(20, 'b') + "\"",
       "13 Invalid UTF-8 byte '0xff' in string"}};
  for (const auto& [text, trace] : cases) {
    CloudJsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString(text)) << text;
    EXPECT_EQ(traceOf(parser), trace) << text;
  }
}

TEST(JsonParser, EntriesMissingTextAndTheLinkedTrace) {
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString(std::nullopt));
  EXPECT_EQ(traceOf(parser), "12 Input was 'nil'");
  EXPECT_FALSE(parser.fragmentWithString(std::nullopt));
  EXPECT_EQ(traceOf(parser), "12 Input was 'nil'");
  EXPECT_FALSE(parser.objectWithString("1"));
  EXPECT_EQ(traceOf(parser), "4 Valid fragment, but not JSON");
  EXPECT_EQ(parser.fragmentWithString("1"), Value(Decimal::fromInteger(1)));
  EXPECT_TRUE(parser.errorTrace().empty());

  // Every error links the one before it as its underlying error; only the description is user info.
  EXPECT_FALSE(parser.objectWithString(R"({"k":[1,{"x":+1}]})"));
  const auto& trace = parser.errorTrace();
  ASSERT_EQ(trace.size(), 4u);
  const foundation::Error* link = &trace.back();
  for (std::size_t i = trace.size(); i-- > 0; link = link->underlying.get()) {
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(*link, trace[i]);
    EXPECT_EQ(link->domain, kJsonErrorDomain);
    EXPECT_EQ(link->userInfo.size(), 1u);
  }
  EXPECT_EQ(link, nullptr);

  // Nothing of a failed parse is kept for the next one.
  EXPECT_FALSE(parser.objectWithString("[1,2"));
  EXPECT_EQ(parser.objectWithString("[1,2]"), Value(Array{1, 2}));
  EXPECT_TRUE(parser.errorTrace().empty());
}

TEST(JsonParser, ReadsTheTreeKeepingTheLastOfARepeatedKeyInTheFirstPlace) {
  const Value tree = parsed(R"( {"a":1 , "b":[true,false,null,"x",{},[ ]],"a":3} )");
  EXPECT_EQ(tree,
            Value(Dictionary{{"a", 3}, {"b", Array{true, false, nullptr, "x", Dictionary{}, Array{}}}}));
  EXPECT_EQ(tree.dictionary()->keys(), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE((*tree.dictionary())["a"].decimal());  // integers are decimals too
}

TEST(JsonParser, NumbersKeepThirtyEightDigits) {
  const std::pair<const char*, const char*> cases[] = {
      {"-0", "0"},
      {"0.5e-3", "0.0005"},
      {"-123.4500", "-123.45"},
      {"0.1", "0.1"},  // no binary rounding
      {"-9223372036854775808", "-9223372036854775808"},
      {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
      {"123456789012345678901234567890123456789", "123456789012345678901234567890123456790"},
      {"123456789012345678901234567890123456784", "123456789012345678901234567890123456780"},
      {"0.123456789012345678901234567890123456785", "0.12345678901234567890123456789012345679"}};
  for (const auto& [text, digits] : cases) {
    const Value value = parsed(text);
    ASSERT_TRUE(value.decimal()) << text;
    EXPECT_EQ(value.decimal()->toString(), digits) << text;
  }
  EXPECT_EQ(parsed("-0.000000000000000000000000000000000000000000000000000000000000000000000000000001"),
            Value(*Decimal::parse("-1e-78")));
}

TEST(JsonParser, NumbersPastTheDecimalRangeReadAsTheNearestDouble) {
  const std::pair<std::string, double> cases[] = {{"1e200", 1e200},
                                                  {"-2.5E+300", -2.5e300},
                                                  {"1e-200", 1e-200},
                                                  {"-1.5e-320", -1.5e-320},  // below the normal doubles
                                                  {"0." + std::string(200, '0') + "7", 7e-201},
                                                  {"3" + std::string(200, '0'), 3e200}};
  for (const auto& [text, real] : cases) {
    const Value value = parsed("[" + text + "]");
    ASSERT_TRUE(value.isArray()) << text;
    ASSERT_TRUE((*value.array())[0].real()) << text;
    EXPECT_EQ(*(*value.array())[0].real(), real) << text;
  }
  // Below every double the nearest is zero, read as the Decimal that "0" and "-0" give.
  EXPECT_EQ(parsed("-1e-9999"), Value(Decimal()));
  ASSERT_TRUE(parsed("-1e-9999").decimal());
  // The edges of the Decimal's own range stay exact.
  EXPECT_EQ(parsed("1e127"), Value(*Decimal::parse("1e127")));
  EXPECT_EQ(parsed("1e-128"), Value(*Decimal::parse("1e-128")));
  ASSERT_TRUE(parsed("1e-128").decimal());
}

TEST(JsonParser, StringEscapes) {
  // U+1F600 as one character from its surrogate pair; the last low surrogate DFFF accepted.
  EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t\u00e9\u20AC\ud83d\ude00\uDBFF\uDFFF\u0000\uFFFF")"),
            Value(std::string("\"\\/\b\f\n\r\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF") + '\0' +
                  "\xEF\xBF\xBF"));
  EXPECT_EQ(parsed("\"caf\xC3\xA9 \xF0\x9F\x8D\xBC\""), Value("caf\xC3\xA9 \xF0\x9F\x8D\xBC"));
  const std::string longText(1000, 'x');
  EXPECT_EQ(parsed("\"" + longText + "\\n" + longText + "\""), Value(longText + "\n" + longText));
}

TEST(JsonParser, DepthLimitAndTheStackSafetyLimitBehindNoLimit) {
  EXPECT_TRUE(parsed(nested(512)).isArray());
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString(nested(513)));
  ASSERT_EQ(parser.errorTrace().size(), 513u);
  EXPECT_EQ(parser.errorTrace().front().localizedDescription(), "Nested too deep");
  EXPECT_EQ(parser.errorTrace().front().code, kJsonTooDeep);

  // Objects count as levels; siblings do not add up.
  const std::string objects = R"({"k":{"k":{"k":1}}})";
  parser.setMaxDepth(2);
  EXPECT_FALSE(parser.objectWithString(objects));
  parser.setMaxDepth(3);
  EXPECT_TRUE(parser.objectWithString(objects));
  EXPECT_TRUE(parser.objectWithString(R"([[[1]],[[2]],{"a":[3]}])"));

  parser.setMaxDepth(0);
  EXPECT_TRUE(parser.objectWithString(nested(CloudJsonBase::kStackSafetyDepth)));
  EXPECT_FALSE(parser.objectWithString(nested(CloudJsonBase::kStackSafetyDepth + 1)));
  EXPECT_EQ(parser.errorTrace().size(), CloudJsonBase::kStackSafetyDepth + 1);
  EXPECT_EQ(parser.errorTrace().front().code, kJsonTooDeep);
  for (char opener : {'[', '{'}) EXPECT_FALSE(parser.objectWithString(std::string(100000, opener)));
}

}  // namespace
}  // namespace cloud
