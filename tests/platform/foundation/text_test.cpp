#include "platform/foundation/text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <tuple>

#include "platform/foundation/locale.h"
#include "support/temp_dir.h"

namespace foundation::text {
namespace {

using enum Ordering;
using namespace std::string_literals;

// U+1F600 GRINNING FACE: four UTF-8 bytes, a surrogate pair in UTF-16.
const std::string kEmoji = "\xF0\x9F\x98\x80";
// "Сhest Size" with U+0421 CYRILLIC CAPITAL LETTER ES, as the note type is stored.
const std::string kCyrillicChest = "\xD0\xA1hest Size";
const std::string kLatinChest = "Chest Size";
const std::string kComposedE = "\xC3\xA9";     // U+00E9
const std::string kDecomposedE = "e\xCC\x81";  // e + U+0301 COMBINING ACUTE ACCENT

TEST(TextCounting, CountsUtf16UnitsAndEachMalformedByteAsOne) {
  const std::pair<std::string, size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {kComposedE, 1},
      {"a" + kEmoji + "b", 4},
      {"\xE2\x82\xAC", 1},
      {"\xFF", 1},
      {"a\xC3", 2},             // truncated two-byte sequence
      {"\xC0\xAF", 2},          // overlong "/"
      {"\xED\xA0\x80", 3},      // an encoded surrogate
      {"\xF4\x90\x80\x80", 4},  // above U+10FFFF
      {"\xF0\x9F\x98", 3},      // emoji cut short
      {"\x80" + kEmoji, 3},     // a stray continuation byte before a good one
  };
  for (const auto& [text, units] : cases) EXPECT_EQ(utf16Length(text), units) << text;
  for (const std::string& good : {""s, kCyrillicChest + kEmoji + kDecomposedE, "\xF4\x8F\xBF\xBF"s, "a\0b"s})
    EXPECT_TRUE(isValidUtf8(good)) << good;
  for (const char* bad :
       {"\xFF", "\xC0\x80", "\xE0\x80\xAF", "\xED\xB0\x80", "\xF4\x90\x80\x80", "abc\xE2\x82"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  // The malformed byte is found on either side of a word of ASCII read eight bytes at a time.
  const std::string ascii(13, 'a');
  EXPECT_EQ(validUtf8Length(ascii + "\xC3\xA9" + ascii + "\x80" + ascii), 28u);
  EXPECT_EQ(validUtf8Length("\xC3" + ascii), 0u);
  EXPECT_EQ(validUtf8Length(ascii + kEmoji), ascii.size() + kEmoji.size());
}

TEST(TextEscaping, EscapesQuotesBackslashesAndControlsOnly) {
  std::string out = "<";
  appendEscaped(out, "a\"b\\c/\b\t\n\f\r\x01\x1F\x7F\xC3\xA9"s + '\0');
  EXPECT_EQ(out, "<a\\\"b\\\\c/\\b\\t\\n\\f\\r\\u0001\\u001f\x7F\xC3\xA9\\u0000");
}

TEST(TextConversion, RoundTripsThroughUtf16AndRefusesMalformedInput) {
  const auto units = toUtf16("a" + kEmoji + kCyrillicChest);
  EXPECT_EQ(units.value(), u"a\xD83D\xDE00\x0421hest Size");
  EXPECT_EQ(fromUtf16(*units).value(), "a" + kEmoji + kCyrillicChest);
  EXPECT_EQ(toUtf16("").value(), u"");

  const auto bad = toUtf16("ok\xFFok");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().domain, "NSCocoaErrorDomain");
  EXPECT_EQ(bad.error().code, kInapplicableStringEncodingError);
  EXPECT_NE(bad.error().localizedDescription().find("offset 2"), std::string::npos);
  EXPECT_FALSE(toUtf16("\xED\xA0\xBD"));
  for (const std::u16string& unpaired : {u"a\xD83D"s, u"\xDE00"s + u"a", u"\xD83D"s + u"a"})
    EXPECT_EQ(fromUtf16(unpaired).error().code, kInapplicableStringEncodingError);
}

TEST(TextCutting, NeverSplitsASurrogatePairAndKeepsMalformedBytes) {
  const std::string text = "a" + kEmoji + "b";
  const std::tuple<std::string, size_t, std::string> prefixes[] = {
      {text, 0, ""},
      {text, 1, "a"},
      {text, 2, "a"},  // would end inside the pair
      {text, 3, "a" + kEmoji},
      {text, 400, text},
      {kDecomposedE, 1, "e"},  // code points, not characters
      {"a\xFF"s + "bc", 2, "a\xFF"},
      {"\xF0\x9F\x98"s + "x", 2, "\xF0\x9F"}};
  for (const auto& [from, units, expected] : prefixes) EXPECT_EQ(prefixUtf16(from, units), expected) << from;

  const std::tuple<std::string, size_t, size_t, std::string> substrings[] = {
      {text, 0, 1, "a"},
      {text, 1, 1, kEmoji},  // ends inside the pair
      {text, 2, 1, kEmoji},  // starts inside the pair
      {text, 2, 2, kEmoji + "b"},
      {text, 3, 10, "b"},
      {text, 0, SIZE_MAX, text},
      {text, 4, 1, ""},
      {text, 1, 0, ""},
      {kCyrillicChest, 1, 4, "hest"},
      {"a\xFF"s + "bc", 1, 2, "\xFF"s + "b"}};
  for (const auto& [from, start, length, expected] : substrings)
    EXPECT_EQ(substringUtf16(from, start, length), expected) << from << " " << start << "+" << length;
}

using Comparison = std::function<Ordering(std::string_view, std::string_view)>;
void expectOrders(const Comparison& compareFn,
                  std::initializer_list<std::tuple<std::string, std::string, Ordering>> cases) {
  for (const auto& [a, b, expected] : cases) EXPECT_EQ(compareFn(a, b), expected) << a << " vs " << b;
}

TEST(TextComparison, LiteralCaseInsensitiveAndNumericComparisons) {
  expectOrders(compare, {{"a", "b", Ascending},
                         {"same", "same", Same},
                         {"", "a", Ascending},
                         {"ab", "abc", Ascending},
                         {"B", "a", Ascending},
                         {kLatinChest, kCyrillicChest, Ascending},
                         // U+FF61 sorts after an emoji by UTF-16 units, though before it by code point.
                         {"\xEF\xBD\xA1", kEmoji, Descending},
                         // Canonically equivalent spellings still differ.
                         {kComposedE, kDecomposedE, Descending},
                         {"a\xFF", "a\xFF", Same},
                         {"a\xFF", "a", Descending}});
  expectOrders(caseInsensitiveCompare, {{"HELLO", "hello", Same},
                                        {"Stra\xC3\x9F"s + "e", "STRASSE", Same},
                                        {"a", "B", Ascending},
                                        {"abc", "ABD", Ascending},
                                        {"\xD0\xA1HEST SIZE", kCyrillicChest, Same},
                                        {"chest size", kCyrillicChest, Ascending},
                                        {"A\xFF", "a\xFF", Same}});
  expectOrders(numericCompare, {{"file2", "file10", Ascending},
                                {"a10b2", "a10b10", Ascending},
                                {"007", "7", Same},
                                {"1.5", "1.10", Ascending},
                                {"v99", "v123456789012345678901234567890", Ascending},
                                {"Food 2", "food 1", Ascending},  // case-sensitive
                                {"", "0", Ascending},
                                {kLatinChest + " 2", kCyrillicChest + " 1", Ascending},
                                {"\xFF"s + "2", "\xFF"s + "10", Ascending}});
}

TEST(TextComparison, LocalizedComparisonIgnoresCaseButNotAccentsOrScripts) {
  const auto in = [](const char* localeId) -> Comparison {
    return [localeId](std::string_view a, std::string_view b) {
      return localizedCaseInsensitiveCompare(a, b, localeId);
    };
  };
  expectOrders(in("en"), {{"apple", "Banana", Ascending},
                          {"ABC", "abc", Same},
                          {kComposedE, "e", Descending},
                          {kComposedE, kDecomposedE, Same},
                          {kComposedE, "f", Ascending},
                          {"\xC3", "\xC3", Same}});
  // The language decides: "ö" follows "z" in Swedish and precedes it in German.
  expectOrders(in("sv"), {{"\xC3\xB6", "z", Descending}});
  expectOrders(in("de"), {{"\xC3\xB6", "z", Ascending}});
  // The POSIX locale sorts for people too, not by code point.
  expectOrders(in("en_US_POSIX"), {{"apple", "Banana", Ascending}});
  expectOrders(in("C"), {{"apple", "Banana", Ascending}});
  for (const char* localeId : {"en", "ru"})
    EXPECT_NE(localizedCaseInsensitiveCompare(kLatinChest, kCyrillicChest, localeId), Same) << localeId;
  // Without a locale the current one decides.
  ScopedDefaultLocale swedish(Locale("sv_SE"));
  EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3\xB6", "z"), Descending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("Apple", "apple"), Same);
}

TEST(TextTransforms, NormalisesMapsCaseAndTrims) {
  const std::tuple<std::string (*)(std::string_view), std::string, std::string> cases[] = {
      {toNFC, kDecomposedE, kComposedE},
      {toNFC, "\xE1\x84\x80\xE1\x85\xA1", "\xEA\xB0\x80"},  // Hangul jamo to a syllable
      {toNFC, kEmoji + kCyrillicChest, kEmoji + kCyrillicChest},
      {toNFC, "a\xFF", "a\xEF\xBF\xBD"},  // a malformed byte becomes U+FFFD
      {toLower, "\xC3\x80\xC3\x89 \xD0\xA1HEST", "\xC3\xA0\xC3\xA9 \xD1\x81hest"},
      {toLower, "/Photos/IMG_01.JPG", "/photos/img_01.jpg"},
      {toUpper, "stra\xC3\x9F"s + "e", "STRASSE"},
      {toUpper, "i" + kEmoji, "I" + kEmoji},  // untailored: no Turkish dotted capital I
      {toUpper, "x\xC3", "X\xEF\xBF\xBD"},
      {trim, "  a b \n\t", "a b"},
      {trim, "\xC2\xA0\xE2\x80\x83x\xE3\x80\x80", "x"},  // no-break, em and ideographic spaces
      {trim, "\xE2\x80\xA8line\xE2\x80\xA9\r\n", "line"},
      {trim, "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // a zero-width space is no white space
      {trim, " \n ", ""},
      {trim, " \xFF ", "\xFF"},
  };
  for (const auto& [transform, input, expected] : cases) EXPECT_EQ(transform(input), expected) << input;
}

TEST(TextFormat, FormatsObjectsIntegersAndAddresses) {
  const std::tuple<std::string, Array, std::string> cases[] = {
      {"noteToBaby.baby_Name == %@", {kCyrillicChest}, "noteToBaby.baby_Name == " + kCyrillicChest},
      {"%@PhotoTmp%d", {"Anna", 3}, "AnnaPhotoTmp3"},
      {"%@", {Value()}, "<null>"},
      {"%@", {Value(Array{1, "a b"})}, "(\n    1,\n    \"a b\"\n)"},
      {"%02d:%02d", {7, 30}, "07:30"},
      {"%d %ld %lld %llu %qu %i", {1, 2L, 3LL, 4, 5, -6}, "1 2 3 4 5 -6"},
      {"%d", {5000000000LL}, "5000000000"},
      {"%u %lu", {-1, -1}, "4294967295 18446744073709551615"},
      {"%hhd %hu", {300, 70000}, "44 4464"},
      {"%+d|% d|%5d|%-5d|%05d", {5, 5, 42, 42, -42}, "+5| 5|   42|42   |-0042"},
      {"%d%%", {50}, "50%"},
      {"%x %X %#x %o", {255, 255, 255, 8}, "ff FF 0xff 10"},
      {"%x|%llx|%x",
       {-1, -1, 0x123456789LL},
       "ffffffff|ffffffffffffffff|123456789"},               // 32 bits unless more are needed
      {"%18#llx|", {0x100000000LL}, "       0x100000000|"},  // flags after the width too
      {"%0*llx", {16, 0x1000}, "0000000000001000"},
      {"%*d|", {-4, 7}, "7   |"},  // a negative width pads on the right
      {"%p", {4096}, "0x1000"},
  };
  for (const auto& [pattern, args, expected] : cases) EXPECT_EQ(format(pattern, args), expected) << pattern;
  EXPECT_EQ(format("Unexpected error in vm_allocate(): 0x%x", {10}),
            "Unexpected error in vm_allocate(): 0xa");
}

TEST(TextFormat, FormatsRealNumbersStringsAndCharacters) {
  const std::tuple<std::string, Array, std::string> cases[] = {
      {"%.2f", {3.14159}, "3.14"},
      {"%.1f", {*Decimal::parse("2.5")}, "2.5"},
      {"%.0f", {2.5}, "2"},  // exact ties go to even, as printf does
      {"%e|%g|%g", {12345.678, 0.0001, 1e20}, "1.234568e+04|0.0001|1e+20"},
      {"%f|%8.3f|", {1, -1.5}, "1.000000|  -1.500|"},
      {"%.*f", {2, 1.0 / 3}, "0.33"},
      {"%s|%-6s|%6s", {"abc", "ab", "ab"}, "abc|ab    |    ab"},
      {"%5@|", {kEmoji}, "   " + kEmoji + "|"},  // widths count UTF-16 units
      {"%.3@", {"abcdef"}, "abc"},
      {"%.2@", {"a" + kEmoji}, "a"},  // precision never splits a pair
      {"%c%C", {65, 0x421}, "A\xD0\xA1"},
      {"%C", {0xD800}, "\xEF\xBF\xBD"},
      {"[%-100s=> %5d]", {"x", 3}, "[x" + std::string(99, ' ') + "=>     3]"},
  };
  for (const auto& [pattern, args, expected] : cases) EXPECT_EQ(format(pattern, args), expected) << pattern;
  EXPECT_EQ(format("Feedback: [ %@ / %.2f / %@ / b:%d / %@ / n:%d / %@(%@) ]",
                   {"iPad", 7.1, "en", 2, "1.4", 120, "Anna", "ru"}),
            "Feedback: [ iPad / 7.10 / en / b:2 / 1.4 / n:120 / Anna(ru) ]");
}

TEST(TextFormat, PositionsMismatchesAndWhatItCannotFill) {
  const std::tuple<std::string, Array, std::string> cases[] = {
      {"%1$@ %2$@ %1$@", {"a", "b"}, "a b a"},
      {"%2$d/%1$.1f", {2.25, 9}, "9/2.2"},
      {"%3$@", {"a"}, "%3$@"},
      {"%0$@", {"a"}, "%0$@"},
      // A value that does not fit its directive is written as its description.
      {"%d|%.1f|%x|%s", {"text", "n/a", Value(), 42}, "text|n/a|<null>|42"},
      {"%d|%d", {true, 2.9}, "1|2"},
      // A directive without an argument, or one not understood, is written as given.
      {"%@ and %@", {"x"}, "x and %@"},
      {"100%", {}, "100%"},
      {"%k %d", {1}, "%k 1"},
      {"%*d", {}, "%*d"},
      {"%*d", {INT64_MIN, 7}, "%*d"},
      {"%999999999d", {1}, "%999999999d"},
      {"\xFF%d\xC3", {1}, "\xFF"s + "1\xC3"},
      {"", {1}, ""},
  };
  for (const auto& [pattern, args, expected] : cases) EXPECT_EQ(format(pattern, args), expected) << pattern;
}

// Switches LC_NUMERIC to a locale with a decimal comma for its lifetime: an installed one, or
// one compiled into a temporary folder when none is installed.
class CommaLocale {
 public:
  CommaLocale() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
      if (std::setlocale(LC_NUMERIC, name)) return;
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    if (const char* old = std::getenv("LOCPATH")) oldLocPath_ = old;
    ::setenv("LOCPATH", dir_.path().c_str(), 1);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  }
  ~CommaLocale() {
    std::setlocale(LC_NUMERIC, previous_.c_str());
    oldLocPath_ ? ::setenv("LOCPATH", oldLocPath_->c_str(), 1) : ::unsetenv("LOCPATH");
  }
  bool active() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    return std::string(buffer) == "1,5";
  }

 private:
  std::string previous_;
  testing_support::TempDir dir_;
  std::optional<std::string> oldLocPath_;
};

TEST(TextFormat, KeepsTheDecimalPointWhateverTheProcessLocale) {
  CommaLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma can be had";
  EXPECT_EQ(format("%.2f|%g|%@", {1.5, 0.25, 2.5}), "1.50|0.25|2.5");
}

}  // namespace
}  // namespace foundation::text
