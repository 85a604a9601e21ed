#include "platform/foundation/uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace foundation {
namespace {

TEST(Uuid, MakesDistinctRandomVersionFourUuidsInUpperCase) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = makeUuid();
    ASSERT_TRUE(std::regex_match(uuid, form)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_EQ(Uuid::parse(*seen.begin())->string(), *seen.begin());
  EXPECT_FALSE(Uuid::random().isNil());
}

TEST(Uuid, ReadsTheTextFormInEitherCaseAndNothingElseAndTheNilOneIsAllZero) {
  const Uuid::Bytes bytes{0xE6, 0x21, 0xE1, 0xF8, 0xC3, 0x6C, 0x49, 0x5A,
                          0x93, 0xFC, 0x0C, 0x24, 0x7A, 0x3E, 0x6E, 0x5F};
  for (const char* text : {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "e621e1f8-C36C-495a-93FC-0c247a3e6e5f"}) {
    EXPECT_EQ(Uuid::parse(text).value().bytes(), bytes) << text;
    EXPECT_TRUE(isValidUuid(text)) << text;
  }
  EXPECT_EQ(Uuid(bytes).string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  const std::string refused[] = {"",
                                 "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                                 "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",
                                 "E621E1F8C36C-495A-93FC-0C247A3E6E5F0",
                                 "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
                                 "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
                                 "{621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
                                 " E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                                 "E621E1F8-C36C-495A-93FC-0C247A3E6E+F",
                                 "E621E1F8_C36C_495A_93FC_0C247A3E6E5F",
                                 std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36)};
  for (const std::string& bad : refused) {
    EXPECT_FALSE(isValidUuid(bad)) << bad;
    EXPECT_FALSE(Uuid::parse(bad)) << bad;
  }
  // The nil UUID is all zero.
  EXPECT_TRUE(Uuid().isNil());
  EXPECT_EQ(Uuid().string(), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(Uuid::parse("00000000-0000-0000-0000-000000000000"), Uuid());
  Uuid::Bytes one{};
  one[15] = 1;
  EXPECT_EQ(Uuid(one).string(), "00000000-0000-0000-0000-000000000001");
  EXPECT_FALSE(Uuid(one).isNil());
}

}  // namespace
}  // namespace foundation
