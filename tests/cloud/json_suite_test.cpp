// The public JSON conformance cases: y_ files must be read, n_ files refused, i_ files may go either
// way but must end cleanly and quickly.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cloud/json.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

namespace fs = std::filesystem;

// Form feed counts as whitespace for this reader (as do vertical tab and the other four), so "[\f]"
// is an empty array here, although the suite lists it among the texts to refuse.
constexpr std::string_view kAcceptedByOurWhitespaceRule = "n_structure_whitespace_formfeed.json";

struct Case {
  std::string name;
  std::string text;
};

std::vector<Case> casesStartingWith(char prefix) {
  std::vector<Case> cases;
  for (const auto& entry : fs::directory_iterator(testing_support::sharedData("json-test-suite"))) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(std::string{prefix, '_'}) && entry.path().extension() == ".json") {
      std::ifstream in(entry.path(), std::ios::binary);
      cases.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    }
  }
  return cases;
}

TEST(JsonTestSuite, AcceptsEveryValidText) {
  const auto cases = casesStartingWith('y');
  EXPECT_GE(cases.size(), 90u);
  for (const auto& c : cases) {
    CloudJsonParser parser;
    const auto value = parser.fragmentWithString(c.text);
    EXPECT_TRUE(value) << c.name << ": "
                       << (parser.errorTrace().empty() ? "" : parser.errorTrace().back().description());
    if (!value) continue;
    // What we read, we write back to text that reads as the same tree.
    CloudJsonWriter writer;
    const auto written = writer.stringWithFragment(*value);
    ASSERT_TRUE(written) << c.name;
    EXPECT_EQ(parser.fragmentWithString(*written), *value) << c.name << " -> " << *written;
  }
}

TEST(JsonTestSuite, RefusesEveryInvalidText) {
  const auto cases = casesStartingWith('n');
  EXPECT_GE(cases.size(), 180u);
  for (const auto& c : cases) {
    CloudJsonParser parser;
    const auto value = parser.fragmentWithString(c.text);
    if (c.name == kAcceptedByOurWhitespaceRule) {
      EXPECT_EQ(value, foundation::Value(foundation::Array{})) << c.name;
      continue;
    }
    EXPECT_FALSE(value) << c.name;
    ASSERT_FALSE(parser.errorTrace().empty()) << c.name;
    for (const auto& error : parser.errorTrace()) EXPECT_EQ(error.domain, kJsonErrorDomain) << c.name;
  }
}

TEST(JsonTestSuite, UndecidedTextsEndCleanlyAndQuickly) {
  const auto cases = casesStartingWith('i');
  EXPECT_GE(cases.size(), 30u);
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    CloudJsonParser parser;
    const auto value = parser.fragmentWithString(c.text);
    EXPECT_EQ(value.has_value(), parser.errorTrace().empty()) << c.name;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(1)) << c.name;
  }
}

}  // namespace
}  // namespace cloud
