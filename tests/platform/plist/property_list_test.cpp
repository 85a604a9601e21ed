#include "platform/plist/property_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

using foundation::Array;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

Bytes fixture(const std::string& name) {
  std::ifstream in("platform/plist/fixtures/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Every kind of value, with the awkward ones: negative and 64-bit integers, non-ASCII text,
// empty containers, a date before 2001 with a fraction, bytes with zeros.
Value sample() {
  return Value(Dictionary{
      {"string", "Baby Diary"},
      {"unicode", "Сhest Size – 日本語 😀 <&>"},
      {"empty", ""},
      {"zero", 0},
      {"negative", -7},
      {"min", static_cast<long long>(INT64_MIN)},
      {"max", static_cast<long long>(INT64_MAX)},
      {"real", 0.1 + 0.2},
      {"tiny", 1e-300},
      {"true", true},
      {"false", false},
      {"data", Value(Bytes{0, 1, 0xFE, 0xFF})},
      {"emptyData", Value(Bytes{})},
      {"date", Value(Date{123456789.25})},
      {"beforeReference", Value(Date{-86400.5})},
      {"array", Value(Array{"a", 1, Value(Array{}), Value(Dictionary{})})},
      {"nested", Value(Dictionary{{"inner", Value(Dictionary{{"deep", Value(Array{"x"})}})}})},
  });
}

TEST(PropertyListTest, BinaryRoundTripKeepsEveryValueAndKeyOrder) {
  auto bytes = plist::writePropertyList(sample(), plist::Format::Binary);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
  plist::Format format = plist::Format::Xml;
  auto back = plist::readPropertyList(*bytes, &format);
  ASSERT_TRUE(back.ok()) << back.error().description();
  EXPECT_EQ(format, plist::Format::Binary);
  EXPECT_EQ(*back, sample());
  EXPECT_EQ(back->dictionary()->keys(), sample().dictionary()->keys());
  // Integers stay integers and booleans stay booleans, not just equal numbers.
  EXPECT_NE((*back->dictionary())["negative"].integer(), nullptr);
  EXPECT_NE((*back->dictionary())["true"].boolean(), nullptr);
  EXPECT_NE((*back->dictionary())["real"].real(), nullptr);
}

TEST(PropertyListTest, XmlRoundTripKeepsValuesAndDatesToTheSecond) {
  auto bytes = plist::writePropertyList(sample(), plist::Format::Xml);
  ASSERT_TRUE(bytes.ok()) << bytes.error().description();
  const std::string text(bytes->begin(), bytes->end());
  EXPECT_NE(text.find("<?xml"), std::string::npos);
  EXPECT_NE(text.find("&lt;&amp;&gt;"), std::string::npos);
  plist::Format format = plist::Format::Binary;
  auto back = plist::readPropertyList(*bytes, &format);
  ASSERT_TRUE(back.ok()) << back.error().description();
  EXPECT_EQ(format, plist::Format::Xml);
  Dictionary expected = *sample().dictionary();
  // XML dates carry whole seconds only.
  expected.set("date", Value(Date{123456789}));
  expected.set("beforeReference", Value(Date{-86400}));
  EXPECT_EQ(*back, Value(expected));
}

TEST(PropertyListTest, ScalarRootsAndDecimalsAreWritten) {
  for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
    for (const Value& value : {Value("just text"), Value(12), Value(true), Value(Array{})}) {
      auto bytes = plist::writePropertyList(value, format);
      ASSERT_TRUE(bytes.ok());
      auto back = plist::readPropertyList(*bytes);
      ASSERT_TRUE(back.ok()) << back.error().description();
      EXPECT_EQ(*back, value);
    }
    auto decimal = plist::writePropertyList(Value(*foundation::Decimal::parse("2.5")), format);
    ASSERT_TRUE(decimal.ok());
    auto back = plist::readPropertyList(*decimal);
    ASSERT_TRUE(back.ok());
    ASSERT_NE(back->real(), nullptr);
    EXPECT_DOUBLE_EQ(*back->real(), 2.5);
  }
}

TEST(PropertyListTest, DatesKeepMicrosecondsAcrossTheSignOfTheReferenceDate) {
  for (double seconds : {0.0, 0.7, -0.3, -0.000001, -1.7, 12345.7, -280114613.239508, 1234567.000001,
                         2147483647.0, -2147483647.0}) {
    auto bytes = plist::writePropertyList(Value(Array{Value(Date{seconds})}), plist::Format::Binary);
    ASSERT_TRUE(bytes.ok()) << seconds;
    auto back = plist::readPropertyList(*bytes);
    ASSERT_TRUE(back.ok()) << seconds;
    const Date* date = (*back->array())[0].date();
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(date->sinceReference, seconds, 1e-7) << seconds;
  }
  // Sub-microsecond fractions round to the nearest microsecond.
  auto bytes = plist::writePropertyList(Value(Date{10.0000004}), plist::Format::Binary);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(*plist::readPropertyList(*bytes), Value(Date{10.0}));
}

TEST(PropertyListTest, ValuesAPropertyListCannotHoldAreRefused) {
  const Value refused[] = {
      Value(),
      Value(Array{"a", Value()}),
      Value(Dictionary{{"k", Value()}}),
      Value(std::string("bad \xC3\x28 utf8")),
      Value(std::string("nul\0inside", 10)),
      Value(Dictionary{{std::string("key\xFF"), 1}}),
      Value(Date{1e12}),
      Value(Date{NAN}),
  };
  for (const Value& value : refused) {
    for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
      auto bytes = plist::writePropertyList(value, format);
      ASSERT_FALSE(bytes.ok()) << value.description();
      EXPECT_EQ(bytes.error().domain, plist::kErrorDomain);
      EXPECT_EQ(bytes.error().code, plist::kWriteInvalidError);
    }
    EXPECT_FALSE(plist::validatePropertyList(value).ok());
  }
  EXPECT_TRUE(plist::validatePropertyList(sample()).ok());
}

TEST(PropertyListTest, ReadsWhatPythonsPlistlibWrote) {
  const Value expected(Dictionary{
      {"name", "Baby Diary"},
      {"unicode", "Сhest Size – 日本語 😀"},
      {"count", 42},
      {"negative", -7},
      {"large", 9007199254740993LL},
      {"ratio", 0.1},
      {"enabled", true},
      {"disabled", false},
      {"bytes", Value(Bytes{0, 1, 0xFE, 0xFF})},
      {"born", Value(Date::fromUnix(1393999628))},  // 2014-03-05 06:07:08 UTC
      {"list", Value(Array{"a", 1, 2.5, Value(Array{}), Value(Dictionary{})})},
      {"nested",
       Value(Dictionary{
           {"inner", Value(Dictionary{{"deep", Value(Array{"x", Value(Dictionary{{"y", "z"}})})}})}})},
      {"empty", ""},
  });
  for (const char* name : {"python_sample.xml.plist", "python_sample.binary.plist"}) {
    auto value = plist::readPropertyList(fixture(name));
    ASSERT_TRUE(value.ok()) << name << ": " << value.error().description();
    EXPECT_EQ(*value, expected) << name << "\n" << value->description();
    EXPECT_EQ(value->dictionary()->keys(), expected.dictionary()->keys()) << name;
  }
  auto array = plist::readPropertyList(fixture("python_array_root.binary.plist"));
  ASSERT_TRUE(array.ok());
  EXPECT_EQ(*array, Value(Array{"one", "two"}));
}

TEST(PropertyListTest, MalformedInputIsAnErrorNeverACrash) {
  const Bytes binary = fixture("python_sample.binary.plist");
  // Every truncation of a valid binary list.
  for (size_t size = 0; size < binary.size(); ++size) {
    auto value = plist::readPropertyList(binary.data(), size);
    EXPECT_FALSE(value.ok()) << size;
  }
  // Single corrupted bytes anywhere either read as something or fail cleanly.
  for (size_t at = 0; at < binary.size(); ++at) {
    for (std::uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
      Bytes damaged = binary;
      damaged[at] ^= flip;
      (void)plist::readPropertyList(damaged);
    }
  }
  const char* badXml[] = {
      "",
      "not a plist at all",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><string>x</dict></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array></dict></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><unknown/></plist>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><strin",
  };
  for (const char* text : badXml) {
    auto value = plist::readPropertyList(bytesOf(text));
    ASSERT_FALSE(value.ok()) << text;
    EXPECT_EQ(value.error().domain, plist::kErrorDomain);
    EXPECT_EQ(value.error().code, plist::kReadCorruptError);
  }
  // A keyed-archive reference has no Value.
  auto archive = plist::readPropertyList(fixture("python_keyed_archive.plist"));
  EXPECT_FALSE(archive.ok());
}

TEST(PropertyListTest, NestingBeyondTheLimitIsRefusedInBothFormats) {
  std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  deep += "</plist>";
  auto value = plist::readPropertyList(bytesOf(deep));
  EXPECT_FALSE(value.ok());

  // Closing tags hidden in a comment do not lower the count.
  std::string sneaky = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 600; ++i) sneaky += "<array><!-- </array> -->";
  for (int i = 0; i < 600; ++i) sneaky += "</array>";
  sneaky += "</plist>";
  EXPECT_FALSE(plist::readPropertyList(bytesOf(sneaky)).ok());

  // A binary list of nested one-element arrays, object i holding object i + 1.
  const int levels = 100000;
  Bytes bin = bytesOf("bplist00");
  std::vector<std::uint32_t> offsets;
  for (int i = 0; i < levels; ++i) {
    offsets.push_back(static_cast<std::uint32_t>(bin.size()));
    if (i + 1 < levels) {
      bin.push_back(0xA1);
      for (int shift = 24; shift >= 0; shift -= 8) bin.push_back(static_cast<std::uint8_t>((i + 1) >> shift));
    } else {
      bin.push_back(0x08);  // false
    }
  }
  const std::uint32_t table = static_cast<std::uint32_t>(bin.size());
  for (std::uint32_t offset : offsets)
    for (int shift = 24; shift >= 0; shift -= 8) bin.push_back(static_cast<std::uint8_t>(offset >> shift));
  auto put64 = [&](std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) bin.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  for (int i = 0; i < 6; ++i) bin.push_back(0);
  bin.push_back(4);
  bin.push_back(4);
  put64(levels);
  put64(0);
  put64(table);
  EXPECT_FALSE(plist::readPropertyList(bin).ok());

  // Nesting at the limit is fine in both directions.
  Value nested("leaf");
  for (int i = 0; i < plist::kMaxDepth; ++i) nested = Value(Array{nested});
  for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
    auto bytes = plist::writePropertyList(nested, format);
    ASSERT_TRUE(bytes.ok());
    auto back = plist::readPropertyList(*bytes);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(*back, nested);
  }
  EXPECT_FALSE(plist::writePropertyList(Value(Array{nested}), plist::Format::Binary).ok());
}

TEST(PropertyListTest, BinaryObjectsThatContainThemselvesAreRefused) {
  // One array whose only element is the array itself.
  Bytes bin = bytesOf("bplist00");
  bin.push_back(0xA1);
  bin.push_back(0x00);
  const std::uint8_t table = static_cast<std::uint8_t>(bin.size());
  bin.push_back(8);
  for (int i = 0; i < 6; ++i) bin.push_back(0);
  bin.push_back(1);
  bin.push_back(1);
  for (std::uint64_t v : {std::uint64_t{1}, std::uint64_t{0}, std::uint64_t{table}})
    for (int shift = 56; shift >= 0; shift -= 8) bin.push_back(static_cast<std::uint8_t>(v >> shift));
  auto value = plist::readPropertyList(bin);
  ASSERT_FALSE(value.ok());
  EXPECT_EQ(value.error().code, plist::kReadCorruptError);
}

}  // namespace
