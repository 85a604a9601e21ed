#include "platform/foundation/value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/foundation/log.h"

namespace foundation {
namespace {

TEST(Decimal, ParsesJsonNumbersAndPrintsPlainNotation) {
  const std::string digits38 = "12345678901234567890123456789012345678";
  const std::pair<std::string, std::string> cases[] = {
      {"12E4", "120000"},
      {"0.5e-3", "0.0005"},
      {"-0", "0"},
      {"-1.50", "-1.5"},
      {"0.000", "0"},
      {digits38, digits38},
      // Digits past the 38th are rounded away.
      {digits38 + "9", "123456789012345678901234567890123456790"},
      {"99999999999999999999999999999999999999.9", "100000000000000000000000000000000000000"},
      {"0.00000000000000000000000000000000000000000000001",
       "0.00000000000000000000000000000000000000000000001"},
      // An exponent of seven digits and as many digits to make up for it.
      {"1" + std::string(1000000, '0') + "e-1000000", "1"},
      {"0." + std::string(999999, '0') + "1e1000000", "1"},
  };
  for (const auto& [text, plain] : cases) EXPECT_EQ(Decimal::parse(text).value().toString(), plain) << text;
  for (const char* bad : {"1e200", "1e-200", "1e99999999999999999999", "-", "1.", "1e", "1x", ""})
    EXPECT_FALSE(Decimal::parse(bad)) << bad;
}

TEST(Decimal, ConvertsAndOrders) {
  EXPECT_EQ(Decimal::parse("9223372036854775807")->toInteger(), INT64_MAX);
  EXPECT_EQ(Decimal::parse("-9223372036854775808")->toInteger(), INT64_MIN);
  EXPECT_FALSE(Decimal::parse("9223372036854775808")->toInteger());
  EXPECT_FALSE(Decimal::parse("1.5")->toInteger());
  EXPECT_DOUBLE_EQ(Decimal::parse("-2.5e3")->toDouble(), -2500.0);
  // The short path and the long one give strtod's double, bit for bit, on both sides of the border.
  for (const char* text : {"0.1", "-0.3", "9007199254740992", "9007199254740993", "12345e22", "1e23",
                           "123.456e-22", "1e-23", "1.5e100", "7e-120", "250"})
    EXPECT_EQ(Decimal::parse(text)->toDouble(), std::strtod(text, nullptr)) << text;
  // A whole number's double is the integer rounded once, as a cast rounds it.
  for (const std::int64_t whole : {std::int64_t{250}, (std::int64_t{1} << 53) + 1, INT64_MAX, INT64_MIN,
                                   -(std::int64_t{1} << 60) - 3})
    EXPECT_EQ(Decimal::fromInteger(whole).toDouble(), static_cast<double>(whole)) << whole;
  EXPECT_EQ(Decimal::fromDouble(0.1)->toString(), "0.1");
  EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(Decimal::fromInteger(INT64_MIN).toString(), "-9223372036854775808");
  EXPECT_LT(*Decimal::parse("-10"), *Decimal::parse("-9.99"));
  EXPECT_LT(*Decimal::parse("0.099"), *Decimal::parse("0.1"));
  EXPECT_GT(*Decimal::parse("1e3"), *Decimal::parse("999.999"));
  EXPECT_EQ(*Decimal::parse("1.0"), *Decimal::parse("1"));
}

TEST(Dictionary, KeepsInsertionOrderReplacesInPlaceAndLooksUpThroughItsIndex) {
  Dictionary d{{"b", 1}, {"a", 2}};
  d.set("c", 3);
  d.set("b", "x");
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(d["b"], Value("x"));
  EXPECT_TRUE(d["missing"].isNull());
  EXPECT_TRUE(d.erase("a"));
  EXPECT_FALSE(d.erase("a"));
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "c"}));

  // A large one looks up through its index, after copies and erasures too.
  d = Dictionary();
  for (int i = 0; i < 100; ++i) d.set("k" + std::to_string(i), i);
  d.set("k5", "five");
  Dictionary copy = d;
  EXPECT_TRUE(copy.erase("k50"));
  EXPECT_EQ(copy.size(), 99u);
  EXPECT_EQ(copy["k5"], Value("five"));
  EXPECT_EQ(copy["k99"], Value(99));
  EXPECT_FALSE(copy.contains("k50"));
  EXPECT_EQ(d["k50"], Value(50));
  Dictionary assigned;
  assigned = copy;
  EXPECT_EQ(assigned, copy);
  EXPECT_NE(Value(assigned), Value(d));
}

TEST(Dictionary, TakenOverEntriesKeepTheFirstPlaceAndLastValueOfARepeatedKey) {
  for (int size : {3, 40}) {  // below and above the size that brings the index
    std::vector<Dictionary::Entry> entries;
    for (int i = 0; i < size; ++i) entries.emplace_back("k" + std::to_string(i), i);
    entries.emplace_back("k1", "again");
    entries.emplace_back("", 0);
    entries.emplace_back("", 1);
    const Dictionary d(std::move(entries));
    EXPECT_EQ(d.size(), static_cast<size_t>(size) + 1) << size;
    EXPECT_EQ(d.keys()[1], "k1");
    EXPECT_EQ(d["k1"], Value("again"));
    EXPECT_EQ(d[""], Value(1));
    EXPECT_EQ(d["k2"], Value(2));
  }
}

TEST(Value, EqualityIsDeepAndNumericAcrossNumberTypes) {
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_EQ(Value(*Decimal::parse("2.5")), Value(2.5));
  EXPECT_EQ(Value(*Decimal::parse("3")), Value(3));
  EXPECT_NE(Value(true), Value(1));
  EXPECT_NE(Value("1"), Value(1));
  EXPECT_EQ(Value(Array{1, "a", Dictionary{{"k", Array{}}}}),
            Value(Array{1, "a", Dictionary{{"k", Array{}}}}));
  EXPECT_NE(Value(Array{1, 2}), Value(Array{2, 1}));
  EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}}));
  EXPECT_TRUE(Value(nullptr).isNull());
}

TEST(Value, ConvertsNamesAndDescribesLikeThePlatform) {
  EXPECT_EQ(Value(2.9).toInteger(), 2);
  EXPECT_EQ(Value(-2.9).toInteger(), -2);
  EXPECT_FALSE(Value(1e300).toInteger());
  EXPECT_EQ(Value(true).toDouble(), 1.0);
  EXPECT_FALSE(Value("3").toDouble());
  EXPECT_EQ(Value(7).stringOr("none"), "none");
  EXPECT_EQ(Value(std::string_view("s")).stringOr("none"), "s");
  EXPECT_EQ(Value(Date{}).typeName(), "NSDate");
  EXPECT_EQ(Value(*Decimal::parse("1")).typeName(), "NSDecimalNumber");
  EXPECT_EQ(Value("plain").description(), "plain");
  EXPECT_EQ(Value(Date::fromUnix(0)).description(), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(Value(Bytes{0xde, 0xad, 0xbe, 0xef, 0x01}).description(), "<deadbeef 01>");
  EXPECT_EQ(Value(Dictionary{{"name", "Anna Lee"}, {"list", Array{1, 2.5}}}).description(),
            "{\n    name = \"Anna Lee\";\n    list = (\n        1,\n        2.5\n    );\n}");
  EXPECT_EQ(Value(Array{}).description(), "()");
  EXPECT_EQ(Value(Array{"a\"b\r"}).description(), "(\n    \"a\\\"b\\r\"\n)");
}

TEST(Error, DescribesItselfWithItsUnderlyingErrorAndResultsHoldOneOrAValue) {
  auto inner = std::make_shared<Error>(Error::make("inner.domain", 3, "Inner failed"));
  const Error outer = Error::make("outer.domain", 7, "Outer failed", inner);
  EXPECT_EQ(outer.localizedDescription(), "Outer failed");
  EXPECT_NE(outer.description().find("Error Domain=outer.domain Code=7 \"Outer failed\""), std::string::npos);
  EXPECT_NE(outer.description().find("Inner failed"), std::string::npos);
  EXPECT_EQ(Error("d", 4).localizedDescription(), "The operation couldn\u2019t be completed. (d error 4.)");
  EXPECT_EQ(outer, Error::make("outer.domain", 7, "Outer failed", inner));
  EXPECT_FALSE(outer == Error::make("outer.domain", 7, "Outer failed"));

  // A result holds a value or an error.
  Result<int> good = 5;
  Result<int> bad = Error("d", 1);
  EXPECT_EQ(*good, 5);
  EXPECT_EQ(bad.valueOr(9), 9);
  EXPECT_THROW((void)bad.value(), std::logic_error);
  EXPECT_EQ(bad.error().code, 1);
  EXPECT_TRUE(Status().ok());
  EXPECT_EQ(Status(Error("d", 2)).error().code, 2);
}

TEST(Clock, ManualClockMovesOnlyWhenToldAndTheSystemClockIsNow) {
  ManualClock clock(Date{1000});
  clock.advance(2.5);
  EXPECT_EQ(clock.now(), Date{1002.5});
  clock.set(Date{-5});
  EXPECT_EQ(clock.now(), Date{-5});
  EXPECT_NEAR(Clock::system().now().unix(), static_cast<double>(std::time(nullptr)), 5);
}

TEST(Log, CaptureCollectsMessagesAndRestoresTheSink) {
  std::vector<std::string> outer;
  auto previous = setLogSink([&](std::string_view m) { outer.emplace_back(m); });
  {
    ScopedLogCapture capture;
    log("inside");
    EXPECT_TRUE(capture.contains("ins"));
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"inside"});
  }
  log("after");
  setLogSink(previous);
  EXPECT_EQ(outer, std::vector<std::string>{"after"});
}

TEST(Fatal, ReplacedHookSeesTheMessageAndTheCallStillEnds) {
  std::string seen;
  auto previous = setFatalHook([&](std::string_view m) { seen = m; });
  EXPECT_THROW(fatal("store cannot open"), FatalError);
  EXPECT_EQ(seen, "store cannot open");
  setFatalHook(previous);
}

TEST(FatalDeathTest, DefaultHookExitsNonZero) {
  EXPECT_EXIT(fatal("boom"), ::testing::ExitedWithCode(1), "fatal: boom");
}

}  // namespace
}  // namespace foundation
