#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "cloud/json.h"
#include "platform/foundation/log.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Decimal;
using foundation::Dictionary;
using foundation::Error;
using foundation::Value;

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
