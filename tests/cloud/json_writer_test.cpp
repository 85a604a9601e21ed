#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

TEST(JsonWriter, EscapesOnlyControlsQuoteAndBackslash) {
  EXPECT_EQ(fragment("say \"hi\"\\ a/b \b\t\n\f\r" + std::string(1, '\0') +
                     "\x01\x0B\x1F\x7F caf\xC3\xA9 \xF0\x9F\x98\x80"),
            "\"say \\\"hi\\\"\\\\ a/b \\b\\t\\n\\f\\r\\u0000\\u0001\\u000b\\u001f\x7F caf\xC3\xA9 "
            "\xF0\x9F\x98\x80\"");
  EXPECT_EQ(fragment(Dictionary{{"k\"ey\n", "v"}}), R"({"k\"ey\n":"v"})");
}

TEST(JsonWriter, Scalars) {
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

}  // namespace
}  // namespace cloud
