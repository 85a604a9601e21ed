#include "platform/runtime/strings_file.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/plist/property_list.h"

using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;

namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The text as UTF-16 with a byte-order mark, in the given byte order.
Bytes utf16(std::u16string_view text, bool littleEndian) {
  Bytes out = littleEndian ? Bytes{0xFF, 0xFE} : Bytes{0xFE, 0xFF};
  for (char16_t unit : text) {
    const std::uint8_t low = unit & 0xFF, high = unit >> 8;
    out.insert(out.end(), {littleEndian ? low : high, littleEndian ? high : low});
  }
  return out;
}

TEST(StringsFileTest, ReadsEntriesCommentsAndUnquotedStringsInFileOrder) {
  auto table = runtime::parseStringsText(R"(
/* Multi-line
   comment "not = a; key" */
"Breast Feeding" = "Breast Feeding";   // trailing comment
"Сhest Size"="Chest size";
unquoted.key-1/x:y$z = plain_value;
"Same";
'single' = 'quoted';
"empty" = "";
"later" = "first";
"later" = "second";
)");
  ASSERT_TRUE(table.ok()) << table.error().description();
  // clang-format off
  EXPECT_EQ(*table, (Dictionary{{"Breast Feeding", "Breast Feeding"}, {"Сhest Size", "Chest size"},
                                {"unquoted.key-1/x:y$z", "plain_value"}, {"Same", "Same"}, {"single", "quoted"},
                                {"empty", ""}, {"later", "second"}}));
  // clang-format on
  EXPECT_EQ(table->keys().front(), "Breast Feeding");
  EXPECT_EQ(table->keys().back(), "later");
}

TEST(StringsFileTest, DecodesEveryEscape) {
  auto table = runtime::parseStringsText(
      R"("k" = "q\" s\' b\\ n\n t\t r\r a\a f\f v\v e\U00e9 u\u0416 pair\UD83D\UDE00 lone\UD800x oct\101\12 other\z short\U41;";)");
  ASSERT_TRUE(table.ok()) << table.error().description();
  EXPECT_EQ((*table)["k"],
            Value("q\" s' b\\ n\n t\t r\r a\a f\f v\v eé uЖ pair😀 lone\xEF\xBF\xBDx octA\n otherz shortA;"));
  // A key may hold escapes too, and an empty quoted key is allowed.
  auto keys = runtime::parseStringsText("\"line\\nbreak\" = \"x\"; \"\" = \"nothing\";");
  ASSERT_TRUE(keys.ok());
  EXPECT_EQ(*keys, (Dictionary{{"line\nbreak", "x"}, {"", "nothing"}}));
}

TEST(StringsFileTest, ReadsUtf8AndUtf16WithByteOrderMarksAndCompiledPropertyLists) {
  const std::u16string text = u"/* Russian */\n\"Sleep\" = \"Сон\";\n\"Smile\" = \"😀\";\n";
  const std::string utf8 = "\"Sleep\" = \"Сон\"; \"Smile\" = \"😀\";";
  const Dictionary expected{{"Sleep", "Сон"}, {"Smile", "😀"}};
  for (const Bytes& bytes : {utf16(text, true), utf16(text, false), bytesOf("\xEF\xBB\xBF" + utf8),
                             bytesOf(utf8), *plist::writePropertyList(Value(expected), plist::Format::Xml),
                             *plist::writePropertyList(Value(expected), plist::Format::Binary)}) {
    auto table = runtime::parseStringsFile(bytes);
    ASSERT_TRUE(table.ok()) << table.error().description();
    EXPECT_EQ(*table, expected);
  }
  auto empty = runtime::parseStringsFile(Bytes{});
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->empty());
  // A compiled table must be a dictionary of strings.
  EXPECT_FALSE(
      runtime::parseStringsFile(*plist::writePropertyList(Value(Dictionary{{"n", 1}}), plist::Format::Binary))
          .ok());
  EXPECT_FALSE(
      runtime::parseStringsFile(*plist::writePropertyList(Value(foundation::Array{"a"}), plist::Format::Xml))
          .ok());
}

TEST(StringsFileTest, MalformedTablesFailWithTheLine) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"\"a\" = \"b\"", 1},  // no semicolon at the end
      {"\"a\" = \"b\";\n\"c\" = \"d\"\n\"e\" = \"f\";", 2}, {"\"a\" \"b\";", 1},  // no '='
      {"\n\n\"a\" = \"unterminated;", 3}, {"\"a\" = \"b\";\n/* never closed", 2}, {"\"a\" = ;", 1},
      {"\"a\" = (\"list\");", 1},  // only text values
      {"\"a\" = \"b\";;", 1}, {"key with spaces = \"v\";", 1}, {"\"a\" =", 1}};
  // clang-format on
  for (const auto& c : cases) {
    auto table = runtime::parseStringsText(c.first);
    ASSERT_FALSE(table.ok()) << c.first;
    EXPECT_EQ(std::tuple(table.error().domain, table.error().code), std::tuple("NSCocoaErrorDomain", 3840));
    EXPECT_NE(table.error().localizedDescription().find("line " + std::to_string(c.second)),
              std::string::npos)
        << c.first << " -> " << table.error().localizedDescription();
  }
  // Bytes that are not text in any of the encodings.
  EXPECT_FALSE(runtime::parseStringsFile(bytesOf("\"a\" = \"\xC3\x28\";")).ok());
  EXPECT_FALSE(runtime::parseStringsFile(Bytes{0xFF, 0xFE, 0x41}).ok());              // odd UTF-16
  EXPECT_FALSE(runtime::parseStringsFile(utf16(u"\"a\" = \"\xD800\";", true)).ok());  // lone surrogate
}

}  // namespace
