#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cloud/json.h"

namespace cloud {
namespace {

using foundation::Decimal;
using foundation::Value;

using Trace = std::vector<std::pair<std::int64_t, std::string>>;

Trace traceOf(const CloudJsonBase& worker) {
  Trace out;
  for (const auto& error : worker.errorTrace()) out.emplace_back(error.code, error.localizedDescription());
  return out;
}

// The trace after parsing text through the fragment entry (which must fail).
Trace failure(std::string_view text, std::uint64_t maxDepth = CloudJsonBase::kDefaultMaxDepth) {
  CloudJsonParser parser;
  parser.setMaxDepth(maxDepth);
  EXPECT_FALSE(parser.fragmentWithString(text)) << text;
  return traceOf(parser);
}

// The outermost (last) error after parsing text through the fragment entry.
std::pair<std::int64_t, std::string> lastError(std::string_view text) {
  const Trace trace = failure(text);
  return trace.empty() ? std::pair<std::int64_t, std::string>{0, ""} : trace.back();
}

Value parsed(std::string_view text) {
  CloudJsonParser parser;
  auto value = parser.fragmentWithString(text);
  EXPECT_TRUE(value) << text << (parser.errorTrace().empty() ? "" : parser.errorTrace().back().description());
  EXPECT_TRUE(parser.errorTrace().empty());
  return value.value_or(Value());
}

Value number(std::string_view text) { return Value(*Decimal::parse(text)); }

std::string nested(int levels, std::string_view inner = "") {
  return std::string(static_cast<size_t>(levels), '[') + std::string(inner) +
         std::string(static_cast<size_t>(levels), ']');
}

TEST(JsonParser, EmptyAndWhitespaceOnlyTextsEndUnexpectedly) {
  EXPECT_EQ(failure(""), (Trace{{11, "Unexpected end of string"}}));
  EXPECT_EQ(failure(" \t\r\n\v\f"), (Trace{{11, "Unexpected end of string"}}));
}

TEST(JsonParser, MissingTextIsRefused) {
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString(std::nullopt));
  EXPECT_EQ(traceOf(parser), (Trace{{12, "Input was 'nil'"}}));
  EXPECT_FALSE(parser.fragmentWithString(std::nullopt));
  EXPECT_EQ(traceOf(parser), (Trace{{12, "Input was 'nil'"}}));
}

TEST(JsonParser, ContainersAndScalars) {
  EXPECT_EQ(parsed(" [ ] "), Value(foundation::Array{}));
  EXPECT_EQ(parsed("{}"), Value(foundation::Dictionary{}));
  EXPECT_EQ(parsed("true"), Value(true));
  EXPECT_EQ(parsed("false"), Value(false));
  EXPECT_TRUE(parsed("null").isNull());
  EXPECT_EQ(parsed("\"x\""), Value("x"));

  const Value tree = parsed(R"({"a":[1,"two",{"b":null}],"c":true})");
  ASSERT_TRUE(tree.isDictionary());
  EXPECT_EQ(tree.dictionary()->keys(), (std::vector<std::string>{"a", "c"}));
  const auto& a = *(*tree.dictionary())["a"].array();
  ASSERT_EQ(a.size(), 3u);
  ASSERT_TRUE(a[0].decimal());  // integers are decimals too
  EXPECT_EQ(*a[0].decimal(), Decimal::fromInteger(1));
  EXPECT_EQ(a[1], Value("two"));
  EXPECT_TRUE((*a[2].dictionary())["b"].isNull());
  EXPECT_TRUE(a[2].dictionary()->contains("b"));
  ASSERT_TRUE((*tree.dictionary())["c"].boolean());
}

TEST(JsonParser, ObjectEntryRefusesScalars) {
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString("1"));
  EXPECT_EQ(traceOf(parser), (Trace{{4, "Valid fragment, but not JSON"}}));
  EXPECT_EQ(parser.fragmentWithString("1"), Value(Decimal::fromInteger(1)));
  EXPECT_TRUE(parser.errorTrace().empty());
  EXPECT_TRUE(parser.objectWithString("[1]"));
  EXPECT_TRUE(parser.objectWithString("{\"k\":1}"));
}

TEST(JsonParser, RepeatedKeyKeepsLastValueInFirstPlace) {
  const Value tree = parsed(R"({"a":1,"b":2,"a":3})");
  EXPECT_EQ(tree.dictionary()->keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ((*tree.dictionary())["a"], Value(Decimal::fromInteger(3)));
}

TEST(JsonParser, TextAfterTheValue) {
  EXPECT_EQ(lastError("[] x"), std::make_pair(std::int64_t{10}, std::string("Garbage after JSON")));
  EXPECT_EQ(lastError("[]]"), std::make_pair(std::int64_t{10}, std::string("Garbage after JSON")));
  EXPECT_TRUE(parsed("[] \v\f\r\n\t").isArray());
  // A NUL byte inside the text does not end it.
  EXPECT_EQ(lastError(std::string_view("[1]\0x", 5)),
            std::make_pair(std::int64_t{10}, std::string("Garbage after JSON")));
  EXPECT_EQ(lastError(std::string_view("[1]\0", 4)),
            std::make_pair(std::int64_t{10}, std::string("Garbage after JSON")));
}

TEST(JsonParser, Literals) {
  EXPECT_EQ(failure("tru"), (Trace{{3, "Expected 'true'"}}));
  EXPECT_EQ(failure("fals"), (Trace{{3, "Expected 'false'"}}));
  EXPECT_EQ(failure("nul"), (Trace{{3, "Expected 'null'"}}));
  EXPECT_EQ(failure("nULL"), (Trace{{3, "Expected 'null'"}}));
  EXPECT_EQ(lastError("truex"), std::make_pair(std::int64_t{10}, std::string("Garbage after JSON")));
  EXPECT_EQ(failure("x"), (Trace{{3, "Unrecognised leading character"}}));
  EXPECT_EQ(failure("\xEF\xBB\xBF[]"), (Trace{{3, "Unrecognised leading character"}}));  // byte-order mark
}

TEST(JsonParser, ErrorTraceRunsFromInnermostToOutermostWithUnderlyingLinks) {
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString("[tru]"));
  const auto& trace = parser.errorTrace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].domain, "org.Marlowen.JSON.ErrorDomain");
  EXPECT_EQ(trace[0].code, 3);
  EXPECT_EQ(trace[0].localizedDescription(), "Expected 'true'");
  EXPECT_EQ(trace[0].underlying, nullptr);
  EXPECT_EQ(trace[1].code, 3);
  EXPECT_EQ(trace[1].localizedDescription(), "Expected value while parsing array");
  ASSERT_NE(trace[1].underlying, nullptr);
  EXPECT_EQ(*trace[1].underlying, trace[0]);
  // Only the description sits in the user info; the link is the underlying error.
  EXPECT_EQ(trace[1].userInfo.size(), 1u);

  // Deeper chains link every error to the one before it.
  EXPECT_FALSE(parser.objectWithString(R"({"k":[1,{"x":+1}]})"));
  EXPECT_EQ(traceOf(parser), (Trace{{2, "Leading + disallowed in number"},
                                    {3, "Object value expected for key: x"},
                                    {3, "Expected value while parsing array"},
                                    {3, "Object value expected for key: k"}}));
  const foundation::Error* link = &parser.errorTrace().back();
  for (size_t i = parser.errorTrace().size(); i-- > 0;) {
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(*link, parser.errorTrace()[i]);
    link = link->underlying.get();
  }
  EXPECT_EQ(link, nullptr);

  // The next call starts a fresh trace; a success leaves it empty.
  EXPECT_TRUE(parser.objectWithString("[]"));
  EXPECT_TRUE(parser.errorTrace().empty());
}

TEST(JsonParser, Arrays) {
  EXPECT_EQ(parsed("[1 , 2,3 ]"), Value(foundation::Array{number("1"), number("2"), number("3")}));
  EXPECT_EQ(failure("[1,]"), (Trace{{9, "Trailing comma disallowed in array"}}));
  EXPECT_EQ(failure("[1, ]"), (Trace{{9, "Trailing comma disallowed in array"}}));
  EXPECT_EQ(failure("["), (Trace{{11, "End of input while parsing array"}}));
  EXPECT_EQ(failure("[1"), (Trace{{11, "End of input while parsing array"}}));
  EXPECT_EQ(failure("[1,"), (Trace{{11, "End of input while parsing array"}}));
  EXPECT_EQ(failure("[ "),
            (Trace{{11, "Unexpected end of string"}, {3, "Expected value while parsing array"}}));
  EXPECT_EQ(failure("[,1]"),
            (Trace{{3, "Unrecognised leading character"}, {3, "Expected value while parsing array"}}));
  EXPECT_EQ(failure("[1,,2]"),
            (Trace{{3, "Unrecognised leading character"}, {3, "Expected value while parsing array"}}));
  EXPECT_EQ(failure("[\"a\"}"), (Trace{{3, "Expected ',' or ']' after array element"}}));
}

TEST(JsonParser, MissingCommasAreRefused) {
  EXPECT_EQ(failure("[1 2]"), (Trace{{3, "Expected ',' or ']' after array element"}}));
  EXPECT_EQ(failure("[[] []]"), (Trace{{3, "Expected ',' or ']' after array element"}}));
  EXPECT_EQ(failure(R"({"a":1 "b":2})"), (Trace{{3, "Expected ',' or '}' after object member"}}));
  EXPECT_EQ(failure(R"([{"a":1 "b":2}])"), (Trace{{3, "Expected ',' or '}' after object member"},
                                                  {3, "Expected value while parsing array"}}));
}

TEST(JsonParser, Objects) {
  EXPECT_EQ(failure(R"({"a":1,})"), (Trace{{9, "Trailing comma disallowed in object"}}));
  EXPECT_EQ(failure("{"), (Trace{{11, "End of input while parsing object"}}));
  EXPECT_EQ(failure(R"({"a":1)"), (Trace{{11, "End of input while parsing object"}}));
  EXPECT_EQ(failure(R"({"a":1,)"), (Trace{{3, "Object key string expected"}}));
  EXPECT_EQ(failure("{ "), (Trace{{3, "Object key string expected"}}));
  EXPECT_EQ(failure("{1:2}"), (Trace{{3, "Object key string expected"}}));
  EXPECT_EQ(failure("{'a':2}"), (Trace{{3, "Object key string expected"}}));
  EXPECT_EQ(failure(R"({"a)"),
            (Trace{{5, "Unescaped control character '0x0'"}, {3, "Object key string expected"}}));
  EXPECT_EQ(failure(R"({"a\q":1})"),
            (Trace{{8, "Illegal escape sequence '0x71'"}, {3, "Object key string expected"}}));
  EXPECT_EQ(failure(R"({"a" 1})"), (Trace{{3, "Expected ':' separating key and value"}}));
  EXPECT_EQ(failure(R"({"a")"), (Trace{{3, "Expected ':' separating key and value"}}));
  EXPECT_EQ(failure(R"({"a":})"),
            (Trace{{3, "Unrecognised leading character"}, {3, "Object value expected for key: a"}}));
  EXPECT_EQ(failure(R"({"a": )"),
            (Trace{{11, "Unexpected end of string"}, {3, "Object value expected for key: a"}}));
  EXPECT_EQ(parsed(" { \"a\" : 1 , \"b\" : [ ] } ").dictionary()->size(), 2u);
}

TEST(JsonParser, NumbersKeepTheirDigits) {
  EXPECT_EQ(parsed("-0"), number("0"));
  EXPECT_EQ(parsed("0.5e-3"), number("0.0005"));
  EXPECT_EQ(parsed("12E4"), number("120000"));
  EXPECT_EQ(parsed("1E+2"), number("100"));
  EXPECT_EQ(parsed("-123.4500").decimal()->toString(), "-123.45");
  EXPECT_EQ(parsed("9223372036854775807").decimal()->toString(), "9223372036854775807");
  EXPECT_EQ(parsed("-9223372036854775808").decimal()->toString(), "-9223372036854775808");
  EXPECT_EQ(parsed("123456789012345678").decimal()->toInteger(), 123456789012345678);
  EXPECT_EQ(parsed("100000000000000000000").decimal()->toString(), "100000000000000000000");
  EXPECT_EQ(parsed("0.1").decimal()->toString(), "0.1");  // no binary rounding
  EXPECT_EQ(parsed("[-0.000000000000000000000000000000000000000000000000000000000000000000000000000001]"),
            Value(foundation::Array{number("-1e-78")}));
}

TEST(JsonParser, ThirtyEightDigitsAreKeptAndTheThirtyNinthRounds) {
  EXPECT_EQ(parsed("12345678901234567890123456789012345678").decimal()->toString(),
            "12345678901234567890123456789012345678");
  EXPECT_EQ(parsed("123456789012345678901234567890123456789").decimal()->toString(),
            "123456789012345678901234567890123456790");
  EXPECT_EQ(parsed("123456789012345678901234567890123456784").decimal()->toString(),
            "123456789012345678901234567890123456780");
  EXPECT_EQ(parsed("0.12345678901234567890123456789012345678").decimal()->toString(),
            "0.12345678901234567890123456789012345678");
  EXPECT_EQ(parsed("0.123456789012345678901234567890123456785").decimal()->toString(),
            "0.12345678901234567890123456789012345679");
}

TEST(JsonParser, MalformedNumbers) {
  EXPECT_EQ(failure("01"), (Trace{{2, "Leading 0 disallowed in number"}}));
  EXPECT_EQ(failure("-01"), (Trace{{2, "Leading 0 disallowed in number"}}));
  EXPECT_EQ(failure("-"), (Trace{{2, "No digits after initial minus"}}));
  EXPECT_EQ(failure("-a"), (Trace{{2, "No digits after initial minus"}}));
  EXPECT_EQ(failure("1."), (Trace{{2, "No digits after decimal point"}}));
  EXPECT_EQ(failure("1.e3"), (Trace{{2, "No digits after decimal point"}}));
  EXPECT_EQ(failure("1e+"), (Trace{{2, "No digits after exponent"}}));
  EXPECT_EQ(failure("1E"), (Trace{{2, "No digits after exponent"}}));
  EXPECT_EQ(failure("+1"), (Trace{{2, "Leading + disallowed in number"}}));
  EXPECT_EQ(failure(".5"), (Trace{{3, "Unrecognised leading character"}}));
  EXPECT_EQ(failure("1e200"), (Trace{{2, "Failed creating decimal instance"}}));
  EXPECT_EQ(failure("[1e-9999]"),
            (Trace{{2, "Failed creating decimal instance"}, {3, "Expected value while parsing array"}}));
  EXPECT_EQ(lastError("0x1").first, 10);
  EXPECT_EQ(lastError("1.5.2").first, 10);
}

TEST(JsonParser, StringEscapes) {
  EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t")"), Value("\"\\/\b\f\n\r\t"));
  EXPECT_EQ(parsed(R"("a/b")"), Value("a/b"));
  EXPECT_EQ(parsed(R"("\u00e9\u20AC")"), Value("\xC3\xA9\xE2\x82\xAC"));
  EXPECT_EQ(parsed(R"("\ud83d\ude00")"), Value("\xF0\x9F\x98\x80"));  // U+1F600 as one character
  EXPECT_EQ(parsed(R"("\uDBFF\uDFFF")"), Value("\xF4\x8F\xBF\xBF"));  // low surrogate DFFF accepted
  EXPECT_EQ(*parsed(R"("a\u0000b")").string(), std::string("a\0b", 3));
  EXPECT_EQ(parsed(R"("\uFFFF")"), Value("\xEF\xBF\xBF"));
  EXPECT_EQ(parsed("\"caf\xC3\xA9 \xF0\x9F\x8D\xBC\""), Value("caf\xC3\xA9 \xF0\x9F\x8D\xBC"));
  const std::string longText(1000, 'x');
  EXPECT_EQ(parsed("\"" + longText + "\\n" + longText + "\""), Value(longText + "\n" + longText));
}

TEST(JsonParser, BrokenStrings) {
  EXPECT_EQ(failure("\"abc"), (Trace{{5, "Unescaped control character '0x0'"}}));
  EXPECT_EQ(failure("\"abc\\n"), (Trace{{11, "Unexpected EOF while parsing string"}}));
  EXPECT_EQ(failure("\"\\x\""), (Trace{{8, "Illegal escape sequence '0x78'"}}));
  EXPECT_EQ(failure("\"\\\xE9\""), (Trace{{8, "Illegal escape sequence '0xffe9'"}}));
  EXPECT_EQ(failure("\"\\"), (Trace{{8, "Illegal escape sequence '0x0'"}}));
  EXPECT_EQ(failure("\"a\tb\""), (Trace{{5, "Unescaped control character '0x9'"}}));
  EXPECT_EQ(failure("\"\x1F\""), (Trace{{5, "Unescaped control character '0x1f'"}}));
  EXPECT_EQ(failure(std::string_view("\"a\0\"", 4)), (Trace{{5, "Unescaped control character '0x0'"}}));
  EXPECT_EQ(failure("[\"abc]"),
            (Trace{{5, "Unescaped control character '0x0'"}, {3, "Expected value while parsing array"}}));
}

TEST(JsonParser, BrokenUnicodeEscapes) {
  EXPECT_EQ(
      failure(R"("\u12")"),
      (Trace{{6, "Missing hex digit in quad"}, {6, "Missing hex quad"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(
      failure(R"("\u)"),
      (Trace{{6, "Missing hex digit in quad"}, {6, "Missing hex quad"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ud83dx")"),
            (Trace{{6, "Missing low character in surrogate pair"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ud83d\n")"),
            (Trace{{6, "Missing low character in surrogate pair"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ud83d\u12")"), (Trace{{6, "Missing hex digit in quad"},
                                               {6, "Missing hex quad"},
                                               {6, "Missing low character in surrogate pair"},
                                               {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ud83d\u0041")"),
            (Trace{{6, "Invalid low surrogate char"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ud83d\ud83d")"),
            (Trace{{6, "Invalid low surrogate char"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"("\ude00")"),
            (Trace{{6, "Invalid high character in surrogate pair"}, {6, "Broken unicode character"}}));
  EXPECT_EQ(failure(R"(["\ud83d"])"), (Trace{{6, "Missing low character in surrogate pair"},
                                             {6, "Broken unicode character"},
                                             {3, "Expected value while parsing array"}}));
}

TEST(JsonParser, InvalidUtf8InStringsIsRefused) {
  EXPECT_EQ(failure("\"\xFF\""), (Trace{{13, "Invalid UTF-8 byte '0xff' in string"}}));
  EXPECT_EQ(failure("\"\x81\""), (Trace{{13, "Invalid UTF-8 byte '0x81' in string"}}));
  EXPECT_EQ(failure("\"\xC0\xAF\""), (Trace{{13, "Invalid UTF-8 byte '0xc0' in string"}}));      // overlong
  EXPECT_EQ(failure("\"\xE0\x80\xAF\""), (Trace{{13, "Invalid UTF-8 byte '0xe0' in string"}}));  // overlong
  EXPECT_EQ(failure("\"\xED\xA0\x80\""), (Trace{{13, "Invalid UTF-8 byte '0xed' in string"}}));  // surrogate
  EXPECT_EQ(failure("\"\xF4\x90\x80\x80\""),
            (Trace{{13, "Invalid UTF-8 byte '0xf4' in string"}}));                           // > U+10FFFF
  EXPECT_EQ(failure("\"\xE2\x82\""), (Trace{{13, "Invalid UTF-8 byte '0xe2' in string"}}));  // cut short
  EXPECT_EQ(failure("\"\xE2\x82"), (Trace{{13, "Invalid UTF-8 byte '0xe2' in string"}}));    // cut by the end
  EXPECT_EQ(failure("{\"\xE9\":1}"),
            (Trace{{13, "Invalid UTF-8 byte '0xe9' in string"}, {3, "Object key string expected"}}));
  // Long runs take the word-at-a-time path; the bad byte is found there too.
  EXPECT_EQ(failure("\"" + std::string(37, 'a') + "\xFF" + std::string(20, 'b') + "\""),
            (Trace{{13, "Invalid UTF-8 byte '0xff' in string"}}));
}

TEST(JsonParser, DepthLimit) {
  EXPECT_TRUE(parsed(nested(512)).isArray());
  const Trace tooDeep = failure(nested(513));
  ASSERT_EQ(tooDeep.size(), 513u);
  EXPECT_EQ(tooDeep.front(), std::make_pair(std::int64_t{7}, std::string("Nested too deep")));
  EXPECT_EQ(tooDeep.back(),
            std::make_pair(std::int64_t{3}, std::string("Expected value while parsing array")));

  // Objects count as levels too.
  std::string objects;
  for (int i = 0; i < 3; ++i) objects += "{\"k\":";
  objects += "1}}}";
  CloudJsonParser parser;
  parser.setMaxDepth(2);
  EXPECT_FALSE(parser.objectWithString(objects));
  EXPECT_EQ(traceOf(parser).front(), std::make_pair(std::int64_t{7}, std::string("Nested too deep")));
  parser.setMaxDepth(3);
  EXPECT_TRUE(parser.objectWithString(objects));
  // Siblings do not add up: depth falls back when a container closes.
  EXPECT_TRUE(parser.objectWithString("[[[1]],[[2]],{\"a\":[3]}]"));
}

TEST(JsonParser, NoLimitStillStopsShortOfExhaustingTheStack) {
  CloudJsonParser parser;
  parser.setMaxDepth(0);
  EXPECT_TRUE(parser.objectWithString(nested(1000, "1")));
  EXPECT_TRUE(parser.objectWithString(nested(static_cast<int>(CloudJsonBase::kStackSafetyDepth))));
  EXPECT_FALSE(parser.objectWithString(nested(static_cast<int>(CloudJsonBase::kStackSafetyDepth) + 1)));
  EXPECT_FALSE(parser.objectWithString(nested(100000)));
  EXPECT_EQ(parser.errorTrace().front().code, 7);
  EXPECT_EQ(parser.errorTrace().size(), CloudJsonBase::kStackSafetyDepth + 1);
  // Unclosed openers fail the same way, whatever the limit.
  EXPECT_FALSE(parser.objectWithString(std::string(100000, '[')));
  EXPECT_FALSE(parser.objectWithString(std::string(100000, '{')));
  parser.setMaxDepth(512);
  EXPECT_FALSE(parser.objectWithString(std::string(100000, '[')));
}

TEST(JsonParser, KeepsNothingOfAFailedParse) {
  CloudJsonParser parser;
  EXPECT_FALSE(parser.objectWithString("[1,2"));
  EXPECT_FALSE(parser.errorTrace().empty());
  auto again = parser.objectWithString("[1,2]");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->array()->size(), 2u);
}

}  // namespace
}  // namespace cloud
