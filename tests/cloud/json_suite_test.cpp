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

}  // namespace
}  // namespace cloud
