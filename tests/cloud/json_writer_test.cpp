#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "cloud/json.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Value;

using Trace = std::vector<std::pair<std::int64_t, std::string>>;

Trace traceOf(const CloudJsonBase& worker) {
  Trace out;
  for (const auto& error : worker.errorTrace()) out.emplace_back(error.code, error.localizedDescription());
  return out;
}

std::string fragment(const Value& value) {
  CloudJsonWriter writer;
  auto text = writer.stringWithFragment(value);
  EXPECT_TRUE(text) << (writer.errorTrace().empty() ? "" : writer.errorTrace().back().description());
  return text.value_or("<failed>");
}

Value deeplyNested(int levels) {
  Value value = Array{};
  for (int i = 1; i < levels; ++i) {
    Array outer;
    outer.push_back(std::move(value));  // an initializer list would copy the whole tree each time
    value = std::move(outer);
  }
  return value;
}

TEST(JsonWriter, SortedHumanReadableLayout) {
  const Value tree = Dictionary{{"b", Decimal::fromInteger(1)}, {"a", Array{true, nullptr}}};
  CloudJsonWriter writer;
  writer.setSortKeys(true);
  writer.setHumanReadable(true);
  EXPECT_EQ(writer.stringWithObject(tree),
            "{\n"
            "  \"a\" : [\n"
            "    true,\n"
            "    null\n"
            "  ],\n"
            "  \"b\" : 1\n"
            "}");
  EXPECT_EQ(fragment(tree), R"({"b":1,"a":[true,null]})");
}

TEST(JsonWriter, EmptyContainersHaveNothingBetweenTheirBrackets) {
  CloudJsonWriter writer;
  writer.setHumanReadable(true);
  EXPECT_EQ(writer.stringWithObject(Array{}), "[]");
  EXPECT_EQ(writer.stringWithObject(Dictionary{}), "{}");
  EXPECT_EQ(writer.stringWithObject(Array{Array{}, Dictionary{}}), "[\n  [],\n  {}\n]");
}

TEST(JsonWriter, IndentationFollowsNestingWithoutADepthLimit) {
  CloudJsonWriter writer;
  writer.setHumanReadable(true);
  writer.setMaxDepth(0);
  EXPECT_EQ(writer.stringWithObject(Array{Array{Array{1}}}), "[\n  [\n    [\n      1\n    ]\n  ]\n]");
}

TEST(JsonWriter, SortsKeysByUtf16Units) {
  // U+1F600 (a surrogate pair, D83D DE00) sorts before U+FF21 in UTF-16, after it in code points;
  // upper case before lower case; a prefix before its extensions.
  const Value tree = Dictionary{{"\xEF\xBC\xA1", 1},
                                {"\xF0\x9F\x98\x80", 2},
                                {"b", 3},
                                {"B", 4},
                                {"ab", 5},
                                {"a", 6},
                                {"\xC3\xA9", 7},
                                {"", 8}};
  CloudJsonWriter writer;
  writer.setSortKeys(true);
  EXPECT_EQ(
      writer.stringWithObject(tree),
      "{\"\":8,\"B\":4,\"a\":6,\"ab\":5,\"b\":3,\"\xC3\xA9\":7,\"\xF0\x9F\x98\x80\":2,\"\xEF\xBC\xA1\":1}");
}

TEST(JsonWriter, EscapesOnlyControlsQuoteAndBackslash) {
  EXPECT_EQ(fragment("\x1F"), "\"\\u001f\"");
  EXPECT_EQ(fragment("a/b"), "\"a/b\"");
  EXPECT_EQ(fragment("say \"hi\"\\"), R"("say \"hi\"\\")");
  EXPECT_EQ(fragment("\b\t\n\f\r"), R"("\b\t\n\f\r")");
  EXPECT_EQ(fragment(std::string("a\0b\x01\x0B", 5)), R"("a\u0000b\u0001\u000b")");
  EXPECT_EQ(fragment("\x7F caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"\x7F caf\xC3\xA9 \xF0\x9F\x98\x80\"");
  CloudJsonWriter writer;
  EXPECT_EQ(writer.stringWithObject(Dictionary{{"k\"ey\n", "v"}}), R"({"k\"ey\n":"v"})");
}

TEST(JsonWriter, Scalars) {
  EXPECT_EQ(fragment(true), "true");
  EXPECT_EQ(fragment(false), "false");
  EXPECT_EQ(fragment(nullptr), "null");
  EXPECT_EQ(fragment(Decimal::fromInteger(-42)), "-42");
  EXPECT_EQ(fragment(*Decimal::parse("1.50e-3")), "0.0015");
  EXPECT_EQ(fragment(*Decimal::parse("12E4")), "120000");
  EXPECT_EQ(fragment(7), "7");
  EXPECT_EQ(fragment(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(fragment(0.1), "0.1");
  EXPECT_EQ(fragment(-2.5), "-2.5");
  EXPECT_EQ(fragment(1e300), "1e+300");
}

TEST(JsonWriter, OnlyContainersThroughTheObjectEntry) {
  CloudJsonWriter writer;
  EXPECT_FALSE(writer.stringWithObject(Decimal::fromInteger(1)));
  EXPECT_EQ(traceOf(writer), (Trace{{4, "Not valid type for JSON"}}));
  EXPECT_FALSE(writer.stringWithObject("text"));
  EXPECT_EQ(traceOf(writer), (Trace{{4, "Not valid type for JSON"}}));
  EXPECT_EQ(writer.stringWithFragment(Decimal::fromInteger(1)), "1");
  EXPECT_TRUE(writer.errorTrace().empty());
}

TEST(JsonWriter, UnsupportedValuesNameTheirClassAndKey) {
  CloudJsonWriter writer;
  EXPECT_FALSE(writer.stringWithFragment(foundation::Date{0}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "JSON serialisation not supported for NSDate"}}));
  EXPECT_FALSE(writer.stringWithFragment(foundation::Bytes{1, 2}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "JSON serialisation not supported for NSData"}}));

  EXPECT_FALSE(writer.stringWithObject(Dictionary{{"ok", 1}, {"when", Array{foundation::Date{0}}}}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "JSON serialisation not supported for NSDate"},
                                    {1, "Unsupported value for key when in object"}}));
  ASSERT_NE(writer.errorTrace().back().underlying, nullptr);
  EXPECT_EQ(*writer.errorTrace().back().underlying, writer.errorTrace().front());
}

TEST(JsonWriter, NumbersWithoutAJsonFormAreRefused) {
  CloudJsonWriter writer;
  EXPECT_FALSE(writer.stringWithObject(Array{std::nan("")}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "JSON serialisation not supported for NSNumber"}}));
  EXPECT_FALSE(writer.stringWithObject(Array{std::numeric_limits<double>::infinity()}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "JSON serialisation not supported for NSNumber"}}));
}

TEST(JsonWriter, TextThatIsNotUtf8IsRefused) {
  CloudJsonWriter writer;
  EXPECT_FALSE(writer.stringWithObject(Array{"ok \xFF"}));
  EXPECT_EQ(traceOf(writer), (Trace{{1, "String is not valid UTF-8"}}));
  EXPECT_FALSE(writer.stringWithObject(Dictionary{{"\xC0\xAF", 1}}));
  EXPECT_EQ(traceOf(writer),
            (Trace{{1, "String is not valid UTF-8"}, {1, "JSON object key must be string"}}));
}

TEST(JsonWriter, DepthLimit) {
  CloudJsonWriter writer;
  EXPECT_TRUE(writer.stringWithObject(deeplyNested(512)));
  EXPECT_FALSE(writer.stringWithObject(deeplyNested(513)));
  EXPECT_EQ(traceOf(writer), (Trace{{7, "Nested too deep"}}));
  writer.setMaxDepth(0);
  EXPECT_TRUE(writer.stringWithObject(deeplyNested(513)));

  // A tree built in code can be deeper than any text we would read; writing it still ends cleanly.
  Value deep = deeplyNested(static_cast<int>(CloudJsonBase::kStackSafetyDepth) + 1);
  EXPECT_FALSE(writer.stringWithObject(deep));
  EXPECT_EQ(traceOf(writer), (Trace{{7, "Nested too deep"}}));
  writer.setMaxDepth(3);
  EXPECT_FALSE(writer.stringWithObject(Dictionary{{"a", Dictionary{{"b", Dictionary{{"c", Array{}}}}}}}));
  EXPECT_EQ(traceOf(writer), (Trace{{7, "Nested too deep"},
                                    {1, "Unsupported value for key c in object"},
                                    {1, "Unsupported value for key b in object"},
                                    {1, "Unsupported value for key a in object"}}));
  // Tear the deep tree down level by level so the test's own stack is not the thing being tested.
  while (deep.array() && !deep.array()->empty()) {
    Value inner = std::move(deep.array()->front());
    deep = std::move(inner);
  }
}

TEST(JsonWriter, WrittenTextReadsBackAsTheSameTree) {
  const Value tree = Dictionary{
      {"size", "2.3 KB"},
      {"bytes", Decimal::fromInteger(2350)},
      {"thumb_exists", false},
      {"path", "/Photos/caf\xC3\xA9 \"1\"\\\n.jpg"},
      {"ratio", *Decimal::parse("-0.000012345678901234567890123456789012345678")},
      {"contents", Array{Dictionary{}, Array{}, nullptr, std::string("\0", 1)}},
  };
  for (bool human : {false, true}) {
    for (bool sorted : {false, true}) {
      CloudJsonWriter writer;
      writer.setHumanReadable(human);
      writer.setSortKeys(sorted);
      const auto text = writer.stringWithObject(tree);
      ASSERT_TRUE(text);
      CloudJsonParser parser;
      EXPECT_EQ(parser.objectWithString(*text), tree) << *text;
    }
  }
}

}  // namespace
}  // namespace cloud
