#include "platform/plist/property_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

using foundation::Array;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

Bytes fixture(const std::string& name) {
  std::ifstream in(testing_support::sourceRoot() / "tests/platform/plist/fixtures" / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A binary property list of the given objects (object 0 is the top) with 4-byte offsets and
// `refSize`-byte references, laid out by hand so that damaged structures can be written.
Bytes binaryPlist(const std::vector<Bytes>& objects, std::uint8_t refSize) {
  Bytes out = bytesOf("bplist00"), table;
  auto put = [](Bytes& to, std::uint64_t v, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
      to.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  for (const Bytes& object : objects) {
    put(table, out.size(), 4);
    out.insert(out.end(), object.begin(), object.end());
  }
  const std::uint64_t tableOffset = out.size();
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, refSize});
  put(out, objects.size(), 8);
  put(out, 0, 8);
  put(out, tableOffset, 8);
  return out;
}

// Every kind of value, with the awkward ones: negative and 64-bit integers, non-ASCII text,
// empty containers, a date before 2001 with a fraction, bytes with zeros.
Value sample() {
  return Value(Dictionary{
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

TEST(PropertyListTest, BothFormatsRoundTripEveryValueAndKeyOrder) {
  for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
    auto bytes = plist::writePropertyList(sample(), format);
    ASSERT_TRUE(bytes.ok()) << bytes.error().description();
    plist::Format found = format == plist::Format::Xml ? plist::Format::Binary : plist::Format::Xml;
    auto back = plist::readPropertyList(*bytes, &found);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(found, format);
    EXPECT_EQ(back->dictionary()->keys(), sample().dictionary()->keys());
    // Integers stay integers and booleans stay booleans, not just equal numbers.
    EXPECT_NE((*back->dictionary())["negative"].integer(), nullptr);
    EXPECT_NE((*back->dictionary())["true"].boolean(), nullptr);
    Dictionary expected = *sample().dictionary();
    if (format == plist::Format::Xml) {
      // XML dates carry whole seconds only, and text is escaped.
      expected.set("date", Value(Date{123456789}));
      expected.set("beforeReference", Value(Date{-86400}));
      EXPECT_NE(std::string(bytes->begin(), bytes->end()).find("&lt;&amp;&gt;"), std::string::npos);
    } else {
      EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
    }
    EXPECT_EQ(*back, Value(expected));

    for (const Value& root : {Value("just text"), Value(12), Value(true), Value(Array{})})
      EXPECT_EQ(*plist::readPropertyList(*plist::writePropertyList(root, format)), root);
    // A decimal is written as a real.
    auto decimal =
        plist::readPropertyList(*plist::writePropertyList(Value(*foundation::Decimal::parse("2.5")), format));
    ASSERT_TRUE(decimal.ok() && decimal->real());
    EXPECT_DOUBLE_EQ(*decimal->real(), 2.5);
  }
}

TEST(PropertyListTest, BinaryDatesKeepMicrosecondsAcrossTheSignOfTheReferenceDate) {
  for (double seconds :
       {0.7, -0.3, -0.000001, -1.7, -280114613.239508, 1234567.000001, 2147483647.0, -2147483647.0}) {
    auto back = plist::readPropertyList(
        *plist::writePropertyList(Value(Array{Value(Date{seconds})}), plist::Format::Binary));
    ASSERT_TRUE(back.ok()) << seconds;
    const Date* date = (*back->array())[0].date();
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(date->sinceReference, seconds, 1e-7) << seconds;
  }
  // Sub-microsecond fractions round to the nearest microsecond.
  EXPECT_EQ(
      *plist::readPropertyList(*plist::writePropertyList(Value(Date{10.0000004}), plist::Format::Binary)),
      Value(Date{10.0}));
}

TEST(PropertyListTest, ValuesAPropertyListCannotHoldAreRefused) {
  for (const Value& value :
       {Value(), Value(Array{"a", Value()}), Value(Dictionary{{"k", Value()}}),
        Value(std::string("bad \xC3\x28 utf8")), Value(std::string("nul\0inside", 10)),
        Value(Dictionary{{std::string("key\xFF"), 1}}), Value(Date{1e12}), Value(Date{NAN})}) {
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
  EXPECT_EQ(*plist::readPropertyList(fixture("python_array_root.binary.plist")), Value(Array{"one", "two"}));
}

TEST(PropertyListTest, MalformedInputIsAnErrorNeverACrash) {
  const Bytes binary = fixture("python_sample.binary.plist");
  // Every truncation of a valid binary list fails; single corrupted bytes anywhere either read as
  // something or fail cleanly.
  for (size_t size = 0; size < binary.size(); ++size)
    EXPECT_FALSE(plist::readPropertyList(binary.data(), size).ok()) << size;
  for (size_t at = 0; at < binary.size(); ++at) {
    for (std::uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
      Bytes damaged = binary;
      damaged[at] ^= flip;
      (void)plist::readPropertyList(damaged);
    }
  }
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (const std::string& text :
       {std::string(), std::string("not a plist at all"), head + "<dict><key>a</key>",
        head + "<dict><key>a</key><string>x</dict></plist>", head + "<array></dict></plist>",
        head + "<unknown/></plist>", head + "<array><strin"}) {
    auto value = plist::readPropertyList(bytesOf(text));
    ASSERT_FALSE(value.ok()) << text;
    EXPECT_EQ(value.error().domain, plist::kErrorDomain);
    EXPECT_EQ(value.error().code, plist::kReadCorruptError);
  }
  // A keyed-archive reference has no Value.
  EXPECT_FALSE(plist::readPropertyList(fixture("python_keyed_archive.plist")).ok());
  // One array whose only element is the array itself.
  auto cycle = plist::readPropertyList(binaryPlist({Bytes{0xA1, 0x00}}, 1));
  ASSERT_FALSE(cycle.ok());
  EXPECT_EQ(cycle.error().code, plist::kReadCorruptError);
}

TEST(PropertyListTest, NestingBeyondTheLimitIsRefusedInBothFormats) {
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  std::string deep = head, sneaky = head;
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  EXPECT_FALSE(plist::readPropertyList(bytesOf(deep + "</plist>")).ok());
  // Closing tags hidden in a comment do not lower the count.
  for (int i = 0; i < 600; ++i) sneaky += "<array><!-- </array> -->";
  for (int i = 0; i < 600; ++i) sneaky += "</array>";
  EXPECT_FALSE(plist::readPropertyList(bytesOf(sneaky + "</plist>")).ok());
  // A binary list of nested one-element arrays, object i holding object i + 1.
  const std::uint32_t levels = 100000;
  std::vector<Bytes> objects;
  for (std::uint32_t i = 1; i < levels; ++i)
    objects.push_back(
        Bytes{0xA1, std::uint8_t(i >> 24), std::uint8_t(i >> 16), std::uint8_t(i >> 8), std::uint8_t(i)});
  objects.push_back(Bytes{0x08});  // false
  EXPECT_FALSE(plist::readPropertyList(binaryPlist(objects, 4)).ok());

  // Nesting at the limit is fine in both directions.
  Value nested("leaf");
  for (int i = 0; i < plist::kMaxDepth; ++i) nested = Value(Array{nested});
  for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
    auto back = plist::readPropertyList(*plist::writePropertyList(nested, format));
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(*back, nested);
  }
  EXPECT_FALSE(plist::writePropertyList(Value(Array{nested}), plist::Format::Binary).ok());
}

}  // namespace

// The object count a binary property list's trailer declares.
std::uint64_t objectCount(const Bytes& binary) {
  std::uint64_t count = 0;
  for (size_t i = binary.size() - 24; i < binary.size() - 16; ++i) count = (count << 8) | binary[i];
  return count;
}

TEST(PropertyListTest, RepeatedDataIsWrittenOnceSoTheBytesFollowFromTheValueAlone) {
  const Value bytes(Bytes{9, 1, 2});
  Array manyCopies;
  for (int i = 0; i < 300; ++i) manyCopies.push_back(bytes);
  Array copiesAmongStrings = manyCopies;
  for (int i = 0; i < 300; ++i) copiesAmongStrings.push_back(Value("s" + std::to_string(i)));
  const Value big(Bytes(70000, 0x5A));
  const struct {
    const char* name;
    Value value;
    std::uint64_t objects;
  } cases[] = {
      {"the same bytes twice", Value(Array{bytes, bytes}), 2},
      // Enough copies that libplist's own sharing, which hangs on the nodes' addresses, would
      // nearly always share some of them and not others.
      {"300 copies", Value(manyCopies), 2},
      {"more objects than one-byte references reach", Value(copiesAmongStrings), 302},
      {"offsets past 64 KiB", Value(Array{big, "x", big, Value(Bytes{}), Value(Bytes{})}), 4},
      {"in dictionaries, with their keys",
       Value(Dictionary{{"a", bytes}, {"b", Value(Array{bytes, Value(Dictionary{{"a", bytes}})})}}), 6},
  };
  for (const auto& c : cases) {
    const auto first = plist::writePropertyList(c.value, plist::Format::Binary);
    ASSERT_TRUE(first.ok()) << c.name << ": " << first.error().description();
    EXPECT_EQ(objectCount(*first), c.objects) << c.name;
    auto back = plist::readPropertyList(*first);
    ASSERT_TRUE(back.ok()) << c.name << ": " << back.error().description();
    EXPECT_EQ(*back, c.value) << c.name;
    for (int again = 0; again < 20; ++again) {
      ASSERT_EQ(*plist::writePropertyList(c.value, plist::Format::Binary), *first) << c.name;
      ASSERT_EQ(*plist::writePropertyList(*back, plist::Format::Binary), *first) << c.name;
    }
  }
}

TEST(PropertyListTest, AFuzzedListWithRepeatedBytesIsAFixedPointOfTheBinaryWriter) {
  // Found by fuzzing: a dictionary that names one list twice, the list holding one data object
  // twice. Writing it gave other bytes now and then.
  const auto value = plist::readPropertyList(fixture("repeated-data.bplist"));
  ASSERT_TRUE(value.ok()) << value.error().description();
  const auto binary = plist::writePropertyList(*value, plist::Format::Binary);
  ASSERT_TRUE(binary.ok());
  for (int run = 0; run < 200; ++run) {
    const auto again = plist::readPropertyList(*binary);
    ASSERT_TRUE(again.ok());
    ASSERT_EQ(*again, *value);
    ASSERT_EQ(*plist::writePropertyList(*again, plist::Format::Binary), *binary) << "run " << run;
  }
}
