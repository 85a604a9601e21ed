#include "platform/runtime/strings_file.h"

#include <gtest/gtest.h>

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
    const auto low = static_cast<std::uint8_t>(unit & 0xFF);
    const auto high = static_cast<std::uint8_t>(unit >> 8);
    if (littleEndian) {
      out.push_back(low);
      out.push_back(high);
    } else {
      out.push_back(high);
      out.push_back(low);
    }
  }
  return out;
}

TEST(StringsFileTest, ReadsEntriesCommentsAndUnquotedStrings) {
  auto table = runtime::parseStringsText(R"(
/* Multi-line
   comment "not = a; key" */
"Breast Feeding" = "Breast Feeding";   // trailing comment
"Сhest Size"="Chest size";
Notation_ml = "ml";
unquoted.key-1/x:y$z = plain_value;
"Same";
'single' = 'quoted';
"empty" = "";
"later" = "first";
"later" = "second";
)");
  ASSERT_TRUE(table.ok()) << table.error().description();
  EXPECT_EQ(*table, (Dictionary{{"Breast Feeding", "Breast Feeding"},
                                {"Сhest Size", "Chest size"},
                                {"Notation_ml", "ml"},
                                {"unquoted.key-1/x:y$z", "plain_value"},
                                {"Same", "Same"},
                                {"single", "quoted"},
                                {"empty", ""},
                                {"later", "second"}}));
  EXPECT_EQ(table->keys(),
            (std::vector<std::string>{"Breast Feeding", "Сhest Size", "Notation_ml", "unquoted.key-1/x:y$z",
                                      "Same", "single", "empty", "later"}));
  EXPECT_EQ((*table)["later"], Value("second"));
  EXPECT_EQ((*table)["empty"], Value(""));
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
  EXPECT_EQ((*keys)["line\nbreak"], Value("x"));
  EXPECT_EQ((*keys)[""], Value("nothing"));
}

TEST(StringsFileTest, ReadsUtf8AndUtf16WithByteOrderMarks) {
  const std::u16string text = u"/* Russian */\n\"Sleep\" = \"Сон\";\n\"Smile\" = \"😀\";\n";
  const Dictionary expected{{"Sleep", "Сон"}, {"Smile", "😀"}};
  for (bool little : {true, false}) {
    auto table = runtime::parseStringsFile(utf16(text, little));
    ASSERT_TRUE(table.ok()) << table.error().description();
    EXPECT_EQ(*table, expected);
  }
  auto withMark = runtime::parseStringsFile(bytesOf("\xEF\xBB\xBF\"Sleep\" = \"Сон\"; \"Smile\" = \"😀\";"));
  ASSERT_TRUE(withMark.ok());
  EXPECT_EQ(*withMark, expected);
  auto plain = runtime::parseStringsFile(bytesOf("\"Sleep\" = \"Сон\"; \"Smile\" = \"😀\";"));
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(*plain, expected);
  // An empty file is an empty table.
  auto empty = runtime::parseStringsFile(Bytes{});
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->empty());
}

TEST(StringsFileTest, ReadsTablesCompiledIntoPropertyLists) {
  const Value table(Dictionary{{"Walk", "Прогулка"}, {"Bath", "Купание"}});
  for (auto format : {plist::Format::Xml, plist::Format::Binary}) {
    auto bytes = plist::writePropertyList(table, format);
    ASSERT_TRUE(bytes.ok());
    auto parsed = runtime::parseStringsFile(*bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error().description();
    EXPECT_EQ(Value(*parsed), table);
  }
  auto notStrings = plist::writePropertyList(Value(Dictionary{{"n", 1}}), plist::Format::Binary);
  ASSERT_TRUE(notStrings.ok());
  EXPECT_FALSE(runtime::parseStringsFile(*notStrings).ok());
  auto notDictionary = plist::writePropertyList(Value(foundation::Array{"a"}), plist::Format::Xml);
  ASSERT_TRUE(notDictionary.ok());
  EXPECT_FALSE(runtime::parseStringsFile(*notDictionary).ok());
}

TEST(StringsFileTest, MalformedTablesFailWithTheLine) {
  struct Case {
    const char* text;
    int line;
  };
  for (const Case& c :
       {Case{"\"a\" = \"b\"", 1},  // no semicolon at the end
        Case{"\"a\" = \"b\";\n\"c\" = \"d\"\n\"e\" = \"f\";", 2}, Case{"\"a\" \"b\";", 1},  // no '='
        Case{"\n\n\"a\" = \"unterminated;", 3}, Case{"\"a\" = \"b\";\n/* never closed", 2},
        Case{"\"a\" = ;", 1}, Case{"\"a\" = (\"list\");", 1},  // only text values
        Case{"\"a\" = \"b\";;", 1}, Case{"key with spaces = \"v\";", 1}, Case{"\"a\" =", 1}}) {
    auto table = runtime::parseStringsText(c.text);
    ASSERT_FALSE(table.ok()) << c.text;
    EXPECT_EQ(table.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(table.error().code, 3840);
    EXPECT_NE(table.error().localizedDescription().find("line " + std::to_string(c.line)), std::string::npos)
        << c.text << " -> " << table.error().localizedDescription();
  }
  // Bytes that are not text in any of the encodings.
  EXPECT_FALSE(runtime::parseStringsFile(bytesOf("\"a\" = \"\xC3\x28\";")).ok());
  EXPECT_FALSE(runtime::parseStringsFile(Bytes{0xFF, 0xFE, 0x41}).ok());              // odd UTF-16
  EXPECT_FALSE(runtime::parseStringsFile(utf16(u"\"a\" = \"\xD800\";", true)).ok());  // lone surrogate
}

}  // namespace
