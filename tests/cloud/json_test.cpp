// The JSON reader and writer: exact error traces, numbers, escapes, layouts and depth limits; the public
// conformance cases; the facade over both and the logging conversions.
#include "cloud/json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Error;
using foundation::Value;

// The error trace of a worker as "<code> <description>" of each error, innermost first, joined by " | ".
std::string traceOf(const CloudJsonBase& worker) {
  std::string out;
  for (const auto& error : worker.errorTrace())
    out += (out.empty() ? "" : " | ") + std::to_string(error.code) + " " + error.localizedDescription();
  return out;
}

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
  // Keys alike in length and in their first and last byte are still told apart; "" is a key too.
  const Value alike = parsed(R"({"ab":1,"abc":2,"azc":3,"":4,"abc":5,"":6})");
  EXPECT_EQ(alike.dictionary()->keys(), (std::vector<std::string>{"ab", "abc", "azc", ""}));
  EXPECT_EQ(alike, Value(Dictionary{{"ab", 1}, {"abc", 5}, {"azc", 3}, {"", 6}}));
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

TEST(JsonParser, NumbersPastTheDecimalRangeAreRefused) {
  // The Decimal holds 38 significant digits times 10 to the power -128 to 127.
  const std::string nines38(38, '9'), digits40 = "1234567890123456789012345678901234567890";
  const std::string refused[] = {"1e200", "-2.5E+300", "1e-200", "-1.5e-320", "-1e-9999",
                                 "0." + std::string(200, '0') + "7", "3" + std::string(200, '0'),
                                 "1e165", nines38 + "e128", "1e-129", "1.5e-128", digits40 + "e126",
                                 std::string(40, '9') + "e125"};  // rounds up to 1e165
  for (const auto& text : refused) {
    CloudJsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString("[" + text + "]")) << text;
    EXPECT_EQ(traceOf(parser), "2 Failed creating decimal instance | 3 Expected value while parsing array")
        << text;
  }
  // The edges that still fit stay exact; a long mantissa keeps its first 38 digits.
  const std::pair<std::string, std::string> kept[] = {
      {"1e127", "1e127"},
      {"1e164", "1e164"},  // 37 zeros moved into the mantissa
      {nines38 + "e127", nines38 + "e127"},
      {"-1e-128", "-1e-128"},
      {"10e-129", "1e-128"},  // trailing zeros folded
      {"0." + nines38 + "e-90", nines38 + "e-128"},
      {digits40, "12345678901234567890123456789012345679e2"},
      {digits40 + "e125", "12345678901234567890123456789012345679e127"},
      {"0." + digits40 + "e-90", "12345678901234567890123456789012345679e-128"}};
  for (const auto& [text, decimal] : kept) {
    const Value value = parsed(text);
    ASSERT_TRUE(value.decimal()) << text;
    EXPECT_EQ(value, Value(*Decimal::parse(decimal))) << text;
  }
}

TEST(JsonParser, StringEscapes) {
  // U+1F600 as one character from its surrogate pair; the last low surrogate DFFF accepted.
  EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t\u00e9\u20AC\ud83d\ude00\uDBFF\uDFFF\u0000\uFFFF")"),
            Value(std::string("\"\\/\b\f\n\r\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF") + '\0' +
                  "\xEF\xBF\xBF"));
  EXPECT_EQ(parsed("\"caf\xC3\xA9 \xF0\x9F\x8D\xBC\""), Value("caf\xC3\xA9 \xF0\x9F\x8D\xBC"));
  const std::string longText(1000, 'x');
  EXPECT_EQ(parsed("\"" + longText + "\\n" + longText + "\""), Value(longText + "\n" + longText));

  // Strings are scanned many bytes at a time: whatever their length and wherever in them, the
  // quote, an escape, a control, a non-ASCII character and a byte that is no UTF-8 are each seen
  // (as a key too, by the same scan).
  struct Case {
    std::string written, read;  // read empty: refused, with the code below
    std::int64_t code = 0;
  };
  const Case cases[] = {{"", ""},
                        {"\\t", "\t"},
                        {"\x01", "", kJsonControlCharacter},
                        {"\xC3\xA9", "\xC3\xA9"},
                        {"\xFF", "", kJsonInvalidUtf8}};
  for (size_t length = 0; length <= 40; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      for (const Case& c : cases) {
        const std::string before(at, 'a'), after(length - at, 'b');
        const std::string text = "[\"" + before + c.written + after + "\"]";
        CloudJsonParser parser;
        const auto value = parser.objectWithString(text);
        const auto where = ::testing::Message() << length << " " << at << " " << c.written;
        if (c.code != 0) {
          ASSERT_FALSE(value) << where;
          EXPECT_EQ(parser.errorTrace().front().code, c.code) << where;
        } else {
          ASSERT_TRUE(value) << where << ": " << traceOf(parser);
          EXPECT_EQ(*value, Value(Array{before + c.read + after})) << where;
          const auto key = parser.objectWithString("{\"" + before + c.written + after + "\":1}");
          ASSERT_TRUE(key) << where;
          EXPECT_TRUE(key->dictionary()->contains(before + c.read + after)) << where;
        }
      }
    }
  }
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

// ---- The writer.

std::string fragment(const Value& value) {
  CloudJsonWriter writer;
  auto text = writer.stringWithFragment(value);
  EXPECT_TRUE(text) << traceOf(writer);
  return text.value_or("<failed>");
}

Value deeplyNested(std::size_t levels) {
  Value value = Array{};
  for (std::size_t i = 1; i < levels; ++i) {
    Array outer;
    outer.push_back(std::move(value));  // an initializer list would copy the whole tree each time
    value = std::move(outer);
  }
  return value;
}

TEST(JsonWriter, CompactAndSortedHumanReadableLayouts) {
  const Value tree =
      Dictionary{{"b", Decimal::fromInteger(1)}, {"a", Array{true, nullptr, Array{}, Dictionary{}}}};
  EXPECT_EQ(fragment(tree), R"({"b":1,"a":[true,null,[],{}]})");
  CloudJsonWriter writer;
  writer.setSortKeys(true);
  writer.setHumanReadable(true);
  EXPECT_EQ(writer.stringWithObject(tree),
            "{\n  \"a\" : [\n    true,\n    null,\n    [],\n    {}\n  ],\n  \"b\" : 1\n}");
  EXPECT_EQ(writer.stringWithObject(Array{}), "[]");
}

TEST(JsonWriter, SortsKeysByUtf16Units) {
  // U+1F600 (a surrogate pair, D83D DE00) sorts before U+FF21 in UTF-16, after it in code points;
  // upper case before lower case; a prefix before its extensions.
  Dictionary tree;
  int n = 0;
  for (const char* key : {"\xEF\xBC\xA1", "\xF0\x9F\x98\x80", "b", "B", "ab", "a", "\xC3\xA9", ""})
    tree.set(key, ++n);
  CloudJsonWriter writer;
  writer.setSortKeys(true);
  EXPECT_EQ(
      writer.stringWithObject(tree),
      "{\"\":8,\"B\":4,\"a\":6,\"ab\":5,\"b\":3,\"\xC3\xA9\":7,\"\xF0\x9F\x98\x80\":2,\"\xEF\xBC\xA1\":1}");
}

TEST(JsonWriter, ScalarsAndEscapesOfOnlyControlsQuoteAndBackslash) {
  EXPECT_EQ(fragment("say \"hi\"\\ a/b \b\t\n\f\r" + std::string(1, '\0') +
                     "\x01\x0B\x1F\x7F caf\xC3\xA9 \xF0\x9F\x98\x80"),
            "\"say \\\"hi\\\"\\\\ a/b \\b\\t\\n\\f\\r\\u0000\\u0001\\u000b\\u001f\x7F caf\xC3\xA9 "
            "\xF0\x9F\x98\x80\"");
  EXPECT_EQ(fragment(Dictionary{{"k\"ey\n", "v"}}), R"({"k\"ey\n":"v"})");
  EXPECT_EQ(
      fragment(Array{true, false, nullptr, Decimal::fromInteger(-42), *Decimal::parse("1.50e-3"),
                     *Decimal::parse("12E4"), std::numeric_limits<std::int64_t>::min(), 0.1, -2.5, 1e300}),
      "[true,false,null,-42,0.0015,120000,-9223372036854775808,0.1,-2.5,1e+300]");
}

TEST(JsonWriter, RefusesWhatJsonCannotHold) {
  const std::string nsNumber = "1 JSON serialisation not supported for NSNumber";
  const std::pair<Value, std::string> objects[] = {
      {Decimal::fromInteger(1), "4 Not valid type for JSON"},
      {"text", "4 Not valid type for JSON"},
      {Array{std::nan("")}, nsNumber},
      {Array{-std::numeric_limits<double>::infinity()}, nsNumber},
      {Array{foundation::Bytes{1, 2}}, "1 JSON serialisation not supported for NSData"},
      {Dictionary{{"ok", 1}, {"when", Array{foundation::Date{0}}}},
       "1 JSON serialisation not supported for NSDate | 1 Unsupported value for key when in object"},
      {Array{"ok \xFF"}, "1 String is not valid UTF-8"},
      {Dictionary{{"\xC0\xAF", 1}}, "1 String is not valid UTF-8 | 1 JSON object key must be string"}};
  CloudJsonWriter writer;
  for (const auto& [value, trace] : objects) {
    EXPECT_FALSE(writer.stringWithObject(value)) << trace;
    EXPECT_EQ(traceOf(writer), trace);
  }
  EXPECT_EQ(*writer.errorTrace().back().underlying, writer.errorTrace().front());
  EXPECT_FALSE(writer.stringWithFragment(foundation::Date{0}));
  EXPECT_EQ(traceOf(writer), "1 JSON serialisation not supported for NSDate");
  EXPECT_EQ(writer.stringWithFragment(Decimal::fromInteger(1)), "1");
  EXPECT_TRUE(writer.errorTrace().empty());
}

TEST(JsonWriter, DepthLimit) {
  CloudJsonWriter writer;
  EXPECT_TRUE(writer.stringWithObject(deeplyNested(512)));
  EXPECT_FALSE(writer.stringWithObject(deeplyNested(513)));
  EXPECT_EQ(traceOf(writer), "7 Nested too deep");
  writer.setMaxDepth(0);
  EXPECT_TRUE(writer.stringWithObject(deeplyNested(513)));

  // A tree built in code can be deeper than any text we would read; writing it still ends cleanly.
  Value deep = deeplyNested(CloudJsonBase::kStackSafetyDepth + 1);
  EXPECT_FALSE(writer.stringWithObject(deep));
  EXPECT_EQ(traceOf(writer), "7 Nested too deep");
  writer.setMaxDepth(3);
  EXPECT_FALSE(writer.stringWithObject(Dictionary{{"a", Dictionary{{"b", Dictionary{{"c", Array{}}}}}}}));
  EXPECT_EQ(traceOf(writer),
            "7 Nested too deep | 1 Unsupported value for key c in object | 1 Unsupported value for key b in "
            "object | 1 Unsupported value for key a in object");
  // Tear the deep tree down level by level so the test's own stack is not the thing being tested.
  while (deep.array() && !deep.array()->empty()) {
    Value inner = std::move(deep.array()->front());
    deep = std::move(inner);
  }
}

TEST(JsonWriter, WrittenTextReadsBackAsTheSameTree) {
  const Value tree =
      Dictionary{{"path", "/Photos/caf\xC3\xA9 \"1\"\\\n.jpg"},
                 {"ratio", *Decimal::parse("-0.000012345678901234567890123456789012345678")},
                 {"contents", Array{Dictionary{{"thumb_exists", false}}, nullptr, std::string("\0", 1)}}};
  for (bool human : {false, true}) {
    CloudJsonWriter writer;
    writer.setHumanReadable(human);
    const auto text = writer.stringWithObject(tree);
    ASSERT_TRUE(text);
    EXPECT_EQ(CloudJsonParser().objectWithString(*text), tree) << *text;
  }
}

// ---- The public conformance cases: y_ files must be read, n_ files refused, i_ files may go either way
// but must end cleanly and quickly.

// Form feed counts as whitespace for this reader (as do vertical tab and the other four), so "[\f]"
// is an empty array here, although the suite lists it among the texts to refuse.
constexpr std::string_view kAcceptedByOurWhitespaceRule = "n_structure_whitespace_formfeed.json";

struct Case {
  std::string name;
  std::string text;
};

std::vector<Case> casesStartingWith(char prefix) {
  std::vector<Case> cases;
  for (const auto& entry :
       std::filesystem::directory_iterator(testing_support::sharedData("json-test-suite"))) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(std::string{prefix, '_'}) && entry.path().extension() == ".json") {
      std::ifstream in(entry.path(), std::ios::binary);
      cases.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    }
  }
  return cases;
}

TEST(JsonTestSuite, AcceptsValidTextsRefusesInvalidOnesAndEndsUndecidedOnesCleanlyAndQuickly) {
  const std::pair<char, std::size_t> kinds[] = {{'y', 90}, {'n', 180}, {'i', 30}};
  for (const auto& [kind, least] : kinds) {
    const auto cases = casesStartingWith(kind);
    EXPECT_GE(cases.size(), least) << kind;
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      const auto start = std::chrono::steady_clock::now();
      CloudJsonParser parser;
      const auto value = parser.fragmentWithString(c.text);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
      EXPECT_EQ(value.has_value(), parser.errorTrace().empty());
      for (const auto& error : parser.errorTrace()) EXPECT_EQ(error.domain, kJsonErrorDomain);
      if (c.name == kAcceptedByOurWhitespaceRule) {
        EXPECT_EQ(value, foundation::Value(foundation::Array{}));
      } else if (kind == 'n') {
        EXPECT_FALSE(value);
      } else if (kind == 'y') {
        ASSERT_TRUE(value) << (parser.errorTrace().empty() ? "" : parser.errorTrace().back().description());
        // What we read, we write back to text that reads as the same tree.
        const auto written = CloudJsonWriter().stringWithFragment(*value);
        ASSERT_TRUE(written);
        EXPECT_EQ(parser.fragmentWithString(*written), *value) << *written;
      }
    }
  }
}

// ---- The facade and the conversions.

TEST(CloudJSON, ForwardsSettingsToBothWorkersAndHandsOutTheFailingWorkersLastError) {
  CloudJSON json;
  EXPECT_EQ(json.maxDepth(), 512u);
  json.setMaxDepth(2);
  EXPECT_EQ(json.maxDepth(), 2u);
  EXPECT_FALSE(json.objectWithString("[[[]]]"));
  EXPECT_EQ(json.errorTrace().front().code, kJsonTooDeep);
  EXPECT_FALSE(json.stringWithObject(Array{Array{Array{}}}));
  EXPECT_EQ(json.errorTrace().front().code, kJsonTooDeep);
  json.setHumanReadable(true);
  json.setSortKeys(true);
  EXPECT_TRUE(json.humanReadable() && json.sortKeys());
  EXPECT_EQ(json.stringWithObject(Dictionary{{"b", 1}, {"a", 2}}), "{\n  \"a\" : 2,\n  \"b\" : 1\n}");

  Error error;
  EXPECT_FALSE(json.objectWithStringError("[tru]", &error));
  ASSERT_EQ(json.errorTrace().size(), 2u);
  EXPECT_EQ(error, json.errorTrace()[1]);
  EXPECT_EQ(error.localizedDescription(), "Expected value while parsing array");
  EXPECT_EQ(error.underlying->localizedDescription(), "Expected 'true'");
  // A success leaves no trace behind, and the out-parameter untouched; none at all is fine too.
  Error untouched = Error::make("keep", 99, "keep");
  EXPECT_TRUE(json.objectWithStringError("[true]", &untouched));
  EXPECT_TRUE(json.errorTrace().empty());
  EXPECT_EQ(untouched.code, 99);
  EXPECT_FALSE(json.objectWithStringAllowScalarError("x", true, nullptr));
  EXPECT_EQ(json.errorTrace().back().code, kJsonSyntax);
}

TEST(CloudJsonBase, AnnouncesEachChangeOfTheErrorTraceBeforeAndAfter) {
  struct Recorder final : CloudJsonObserver {
    std::vector<std::string> events;  // "<when> <key> <trace size then>"
    void willChangeValueForKey(const CloudJsonBase& worker, std::string_view key) override {
      events.push_back("will " + std::string(key) + " " + std::to_string(worker.errorTrace().size()));
    }
    void didChangeValueForKey(const CloudJsonBase& worker, std::string_view key) override {
      events.push_back("did " + std::string(key) + " " + std::to_string(worker.errorTrace().size()));
    }
  } recorder;
  using Events = std::vector<std::string>;
  CloudJsonParser parser;
  parser.setObserver(&recorder);
  EXPECT_FALSE(parser.objectWithString("[tru]"));  // cleared, then two errors
  EXPECT_EQ(recorder.events, (Events{"will errorTrace 0", "did errorTrace 0", "will errorTrace 0",
                                     "did errorTrace 1", "will errorTrace 1", "did errorTrace 2"}));
  recorder.events.clear();
  parser.clearErrorTrace();
  EXPECT_EQ(recorder.events, (Events{"will errorTrace 2", "did errorTrace 0"}));

  // The facade's own trace: cleared, then given the failing worker's.
  CloudJSON json;
  json.setObserver(&recorder);
  recorder.events.clear();
  EXPECT_FALSE(json.objectWithString("[tru]"));
  EXPECT_EQ(recorder.events,
            (Events{"will errorTrace 0", "did errorTrace 0", "will errorTrace 0", "did errorTrace 2"}));

  // A copy has no observer, and a worker going announces nothing.
  recorder.events.clear();
  {
    CloudJSON copy = json;
    EXPECT_FALSE(copy.objectWithString("["));
  }
  EXPECT_TRUE(recorder.events.empty());
  parser.setObserver(nullptr);
  json.setObserver(nullptr);
}

TEST(CloudJSON, ScalarEntriesAndTheirRefusals) {
  CloudJSON json;
  Error error;
  EXPECT_EQ(json.fragmentWithStringError("12", &error), Value(Decimal::fromInteger(12)));
  EXPECT_FALSE(json.objectWithStringError("12", &error));
  EXPECT_EQ(json.stringWithFragmentError("x", &error), "\"x\"");
  EXPECT_FALSE(json.stringWithObjectError("x", &error));
  EXPECT_EQ(error.code, kJsonNotContainer);
  EXPECT_EQ(json.stringWithObjectAllowScalarError(Array{1}, false, &error), "[1]");
}

TEST(JsonConversions, SucceedQuietlyAndLogTheTraceOfAFailure) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(JSONValue(R"({"a":[1]})"), Value(Dictionary{{"a", Array{Decimal::fromInteger(1)}}}));
  EXPECT_EQ(JSONFragmentValue("\"x\""), Value("x"));
  EXPECT_EQ(JSONRepresentation(Array{true}), "[true]");
  EXPECT_EQ(JSONFragment(false), "false");
  EXPECT_FALSE(JSONValue(std::nullopt));  // a missing text yields nothing without a log
  EXPECT_FALSE(JSONFragmentValue(std::nullopt));
  EXPECT_TRUE(log.messages().empty());

  EXPECT_FALSE(JSONValue("[tru]"));
  ASSERT_EQ(log.messages().size(), 1u);
  const std::string message = log.messages()[0];
  EXPECT_EQ(message.rfind("-JSONValue failed. Error trace is: ", 0), 0u) << message;
  EXPECT_LT(message.find("Expected 'true'"), message.find("Expected value while parsing array"));
  EXPECT_NE(message.find("Expected value while parsing array"), std::string::npos);

  EXPECT_FALSE(JSONFragmentValue("-"));
  EXPECT_FALSE(JSONRepresentation(1));
  EXPECT_FALSE(JSONFragment(foundation::Date{0}));
  EXPECT_TRUE(log.contains("-JSONFragmentValue failed. Error trace is: "));
  EXPECT_TRUE(log.contains("-JSONRepresentation failed. Error trace is: "));
  EXPECT_TRUE(log.contains("-JSONFragment failed. Error trace is: "));
  EXPECT_TRUE(log.contains("JSON serialisation not supported for NSDate"));
  EXPECT_EQ(log.messages().size(), 4u);
}

TEST(JsonConversions, DeepFailureLogStaysLinearInSize) {
  // Each error is logged once, not again inside every later error's underlying chain.
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(JSONValue(std::string(600, '[')));
  ASSERT_EQ(log.messages().size(), 1u);
  EXPECT_LT(log.messages()[0].size(), 513u * 400u);
}

TEST(JsonConversions, SafeFromManyThreadsAtOnce) {
  const std::string text = R"({"contents":[{"path":"/a","bytes":1},{"path":"/b","bytes":2}],"is_dir":true})";
  std::vector<std::thread> threads;
  std::vector<int> successes(8, 0);
  for (std::size_t t = 0; t < successes.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        auto value = JSONValue(text);
        if (value && JSONRepresentation(*value) == text) ++successes[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int count : successes) EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace cloud
