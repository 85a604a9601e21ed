#include "platform/foundation/uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace foundation {
namespace {

TEST(Uuid, MakesRandomVersionFourUuidsInUpperCase) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = makeUuid();
    ASSERT_EQ(uuid.size(), 36u);
    ASSERT_TRUE(std::regex_match(uuid, form)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
  const Uuid random = Uuid::random();
  EXPECT_FALSE(random.isNil());
  EXPECT_EQ(random.bytes()[6] >> 4, 4);
  EXPECT_EQ(random.bytes()[8] & 0xC0, 0x80);
}

TEST(Uuid, ParsesTheTextFormInEitherCase) {
  const auto uuid = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  ASSERT_TRUE(uuid);
  const Uuid::Bytes expected{0xE6, 0x21, 0xE1, 0xF8, 0xC3, 0x6C, 0x49, 0x5A,
                             0x93, 0xFC, 0x0C, 0x24, 0x7A, 0x3E, 0x6E, 0x5F};
  EXPECT_EQ(uuid->bytes(), expected);
  EXPECT_EQ(uuid->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(lower);
  EXPECT_EQ(*lower, *uuid);
  EXPECT_EQ(lower->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  const std::string made = makeUuid();
  EXPECT_EQ(Uuid::parse(made)->string(), made);
}

TEST(Uuid, RefusesAnythingButTheTextForm) {
  EXPECT_TRUE(isValidUuid("00000000-0000-0000-0000-000000000000"));
  EXPECT_TRUE(isValidUuid("e621e1f8-C36C-495a-93FC-0c247a3e6e5f"));
  for (const std::string bad :
       {"", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",
        "E621E1F8C36C-495A-93FC-0C247A3E6E5F0", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
        "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "{621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
        " E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8_C36C_495A_93FC_0C247A3E6E5F",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E+F"}) {
    EXPECT_FALSE(isValidUuid(bad)) << bad;
    EXPECT_FALSE(Uuid::parse(bad)) << bad;
  }
  EXPECT_FALSE(isValidUuid(std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36)));
}

TEST(Uuid, NilUuidIsAllZero) {
  const Uuid nil;
  EXPECT_TRUE(nil.isNil());
  EXPECT_EQ(nil.string(), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(*Uuid::parse("00000000-0000-0000-0000-000000000000"), nil);
  Uuid::Bytes bytes{};
  bytes[15] = 1;
  EXPECT_EQ(Uuid(bytes).string(), "00000000-0000-0000-0000-000000000001");
  EXPECT_FALSE(Uuid(bytes).isNil());
}

}  // namespace
}  // namespace foundation
