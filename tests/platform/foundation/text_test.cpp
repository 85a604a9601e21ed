#include "platform/foundation/text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/foundation/locale.h"
#include "support/temp_dir.h"

namespace foundation::text {
namespace {

// U+1F600 GRINNING FACE: four UTF-8 bytes, a surrogate pair in UTF-16.
const std::string kEmoji = "\xF0\x9F\x98\x80";
// "Сhest Size" with U+0421 CYRILLIC CAPITAL LETTER ES, as the note type is stored.
const std::string kCyrillicChest = "\xD0\xA1hest Size";
const std::string kLatinChest = "Chest Size";
const std::string kComposedE = "\xC3\xA9";     // U+00E9
const std::string kDecomposedE = "e\xCC\x81";  // e + U+0301 COMBINING ACUTE ACCENT

TEST(TextCounting, CountsUtf16Units) {
  EXPECT_EQ(utf16Length(""), 0u);
  EXPECT_EQ(utf16Length("abc"), 3u);
  EXPECT_EQ(utf16Length(kComposedE), 1u);
  EXPECT_EQ(utf16Length(kDecomposedE), 2u);
  EXPECT_EQ(utf16Length(kEmoji), 2u);
  EXPECT_EQ(utf16Length("a" + kEmoji + "b"), 4u);
  EXPECT_EQ(utf16Length(kCyrillicChest), 10u);
  EXPECT_EQ(utf16Length("\xE2\x82\xAC"), 1u);  // U+20AC, three bytes
}

TEST(TextCounting, CountsEachMalformedByteAsOneUnit) {
  EXPECT_EQ(utf16Length("\xFF"), 1u);
  EXPECT_EQ(utf16Length("a\xC3"), 2u);             // truncated two-byte sequence
  EXPECT_EQ(utf16Length("\xC0\xAF"), 2u);          // overlong "/"
  EXPECT_EQ(utf16Length("\xED\xA0\x80"), 3u);      // an encoded surrogate
  EXPECT_EQ(utf16Length("\xF4\x90\x80\x80"), 4u);  // above U+10FFFF
  EXPECT_EQ(utf16Length("\xF0\x9F\x98"), 3u);      // emoji cut short
  EXPECT_EQ(utf16Length("\x80" + kEmoji), 3u);     // a stray continuation byte before a good one
}

TEST(TextCounting, ValidatesUtf8) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8(kCyrillicChest + kEmoji + kDecomposedE));
  EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
  EXPECT_FALSE(isValidUtf8("\xFF"));
  EXPECT_FALSE(isValidUtf8("\xC0\x80"));
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));
  EXPECT_FALSE(isValidUtf8("\xED\xB0\x80"));
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));
  EXPECT_FALSE(isValidUtf8("abc\xE2\x82"));
}

TEST(TextConversion, RoundTripsThroughUtf16) {
  auto units = toUtf16("a" + kEmoji + kCyrillicChest);
  ASSERT_TRUE(units);
  EXPECT_EQ(units->substr(0, 4), std::u16string(u"a\xD83D\xDE00\x0421"));
  EXPECT_EQ(units->size(), 13u);
  auto back = fromUtf16(*units);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, "a" + kEmoji + kCyrillicChest);
  EXPECT_EQ(*toUtf16(""), u"");
}

TEST(TextConversion, RefusesMalformedInput) {
  const auto bad = toUtf16("ok\xFFok");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().domain, "NSCocoaErrorDomain");
  EXPECT_EQ(bad.error().code, kInapplicableStringEncodingError);
  EXPECT_NE(bad.error().localizedDescription().find("offset 2"), std::string::npos);
  EXPECT_FALSE(toUtf16("\xED\xA0\xBD"));
  EXPECT_FALSE(fromUtf16(std::u16string(u"a\xD83D")));  // high surrogate at the end
  EXPECT_FALSE(
      fromUtf16(std::u16string(u"\xDE00"
                               "a")));  // low surrogate alone
  EXPECT_FALSE(
      fromUtf16(std::u16string(u"\xD83D"
                               "a")));  // high surrogate without its partner
  EXPECT_EQ(fromUtf16(std::u16string(u"\xD83D\xDE00")).value(), kEmoji);
}

TEST(TextCutting, PrefixNeverSplitsASurrogatePair) {
  const std::string text = "a" + kEmoji + "b";
  EXPECT_EQ(prefixUtf16(text, 0), "");
  EXPECT_EQ(prefixUtf16(text, 1), "a");
  EXPECT_EQ(prefixUtf16(text, 2), "a");  // would end inside the pair
  EXPECT_EQ(prefixUtf16(text, 3), "a" + kEmoji);
  EXPECT_EQ(prefixUtf16(text, 4), text);
  EXPECT_EQ(prefixUtf16(text, 400), text);
  // Code points, not characters: a combining mark is its own unit.
  EXPECT_EQ(prefixUtf16(kDecomposedE, 1), "e");
  EXPECT_EQ(prefixUtf16(kCyrillicChest, 1), "\xD0\xA1");
}

TEST(TextCutting, KeepsMalformedBytesAsSingleUnits) {
  EXPECT_EQ(prefixUtf16("a\xFF"
                        "bc",
                        2),
            "a\xFF");
  EXPECT_EQ(prefixUtf16("\xF0\x9F\x98"
                        "x",
                        2),
            "\xF0\x9F");
  EXPECT_EQ(substringUtf16("a\xFF"
                           "bc",
                           1, 2),
            "\xFF"
            "b");
}

TEST(TextCutting, SubstringWidensToWholeCodePoints) {
  const std::string text = "a" + kEmoji + "b";
  EXPECT_EQ(substringUtf16(text, 0, 1), "a");
  EXPECT_EQ(substringUtf16(text, 1, 1), kEmoji);  // ends inside the pair
  EXPECT_EQ(substringUtf16(text, 2, 1), kEmoji);  // starts inside the pair
  EXPECT_EQ(substringUtf16(text, 2, 2), kEmoji + "b");
  EXPECT_EQ(substringUtf16(text, 3, 1), "b");
  EXPECT_EQ(substringUtf16(text, 3, 10), "b");
  EXPECT_EQ(substringUtf16(text, 0, SIZE_MAX), text);
  EXPECT_EQ(substringUtf16(text, 4, 1), "");
  EXPECT_EQ(substringUtf16(text, 99, 1), "");
  EXPECT_EQ(substringUtf16(text, 1, 0), "");
  EXPECT_EQ(substringUtf16(kCyrillicChest, 1, 4), "hest");
}

TEST(TextComparison, LiteralComparisonGoesByUtf16Units) {
  EXPECT_EQ(compare("a", "b"), Ordering::Ascending);
  EXPECT_EQ(compare("b", "a"), Ordering::Descending);
  EXPECT_EQ(compare("same", "same"), Ordering::Same);
  EXPECT_EQ(compare("", "a"), Ordering::Ascending);
  EXPECT_EQ(compare("ab", "abc"), Ordering::Ascending);
  EXPECT_EQ(compare("B", "a"), Ordering::Ascending);  // case matters
  EXPECT_EQ(compare(kLatinChest, kCyrillicChest), Ordering::Ascending);
  EXPECT_EQ(compare(kCyrillicChest, kLatinChest), Ordering::Descending);
  // U+FF61 sorts after an emoji by UTF-16 units, though before it by code point.
  EXPECT_EQ(compare("\xEF\xBD\xA1", kEmoji), Ordering::Descending);
  // Literal: canonically equivalent spellings still differ.
  EXPECT_NE(compare(kComposedE, kDecomposedE), Ordering::Same);
}

TEST(TextComparison, CaseInsensitiveUsesFullCaseFolding) {
  EXPECT_EQ(caseInsensitiveCompare("HELLO", "hello"), Ordering::Same);
  EXPECT_EQ(caseInsensitiveCompare("Stra\xC3\x9F"
                                   "e",
                                   "STRASSE"),
            Ordering::Same);
  EXPECT_EQ(caseInsensitiveCompare("a", "B"), Ordering::Ascending);
  EXPECT_EQ(caseInsensitiveCompare("\xD0\xA1HEST SIZE", kCyrillicChest), Ordering::Same);
  EXPECT_NE(caseInsensitiveCompare("chest size", kCyrillicChest), Ordering::Same);
  EXPECT_NE(caseInsensitiveCompare(kLatinChest, "\xD1\x81hest size"), Ordering::Same);
  EXPECT_EQ(caseInsensitiveCompare("abc", "ABD"), Ordering::Ascending);
}

TEST(TextComparison, NumericComparisonComparesDigitRunsByValue) {
  EXPECT_EQ(numericCompare("file2", "file10"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("file10", "file2"), Ordering::Descending);
  EXPECT_EQ(numericCompare("a10b2", "a10b10"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("x9", "x10"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("007", "7"), Ordering::Same);
  EXPECT_EQ(numericCompare("1.5", "1.10"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("v99", "v123456789012345678901234567890"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("b1", "a2"), Ordering::Descending);
  EXPECT_EQ(numericCompare("Food 2", "food 1"), Ordering::Ascending);  // case-sensitive
  EXPECT_EQ(numericCompare("", "0"), Ordering::Ascending);
  EXPECT_EQ(numericCompare("item", "item 1"), Ordering::Ascending);
  EXPECT_EQ(numericCompare(kLatinChest + " 2", kCyrillicChest + " 1"), Ordering::Ascending);
}

TEST(TextComparison, LocalizedComparisonIgnoresCaseButNotAccents) {
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "Banana", "en"), Ordering::Ascending);
  EXPECT_EQ(compare("apple", "Banana"), Ordering::Descending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("ABC", "abc", "en"), Ordering::Same);
  EXPECT_EQ(localizedCaseInsensitiveCompare(kComposedE, "e", "en"), Ordering::Descending);
  EXPECT_EQ(localizedCaseInsensitiveCompare(kComposedE, kDecomposedE, "en"), Ordering::Same);
  EXPECT_EQ(localizedCaseInsensitiveCompare(kComposedE, "f", "en"), Ordering::Ascending);
  EXPECT_NE(localizedCaseInsensitiveCompare(kLatinChest, kCyrillicChest, "en"), Ordering::Same);
  EXPECT_NE(localizedCaseInsensitiveCompare(kLatinChest, kCyrillicChest, "ru"), Ordering::Same);
  // The language decides: "ö" follows "z" in Swedish and precedes it in German.
  EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3\xB6", "z", "sv"), Ordering::Descending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3\xB6", "z", "de"), Ordering::Ascending);
  // The POSIX locale sorts for people too, not by code point.
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "Banana", "en_US_POSIX"), Ordering::Ascending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "Banana", "C"), Ordering::Ascending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("Apple", "apple"), Ordering::Same);
  // Without a locale the current one decides.
  {
    ScopedDefaultLocale swedish(Locale("sv_SE"));
    EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3\xB6", "z"), Ordering::Descending);
  }
  {
    ScopedDefaultLocale german(Locale("de_DE"));
    EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3\xB6", "z"), Ordering::Ascending);
  }
}

TEST(TextComparison, MalformedInputComparesWithoutHarm) {
  EXPECT_EQ(compare("a\xFF", "a\xFF"), Ordering::Same);
  EXPECT_EQ(compare("a\xFF", "a"), Ordering::Descending);
  EXPECT_EQ(caseInsensitiveCompare("A\xFF", "a\xFF"), Ordering::Same);
  EXPECT_EQ(numericCompare("\xFF"
                           "2",
                           "\xFF"
                           "10"),
            Ordering::Ascending);
  EXPECT_EQ(localizedCaseInsensitiveCompare("\xC3", "\xC3", "en"), Ordering::Same);
}

TEST(TextTransforms, NormalisesToComposedForm) {
  EXPECT_EQ(toNFC(kDecomposedE), kComposedE);
  EXPECT_EQ(toNFC(kComposedE), kComposedE);
  EXPECT_EQ(toNFC("A\xCC\x8A"), "\xC3\x85");                     // A + ring above -> Å
  EXPECT_EQ(toNFC("\xE1\x84\x80\xE1\x85\xA1"), "\xEA\xB0\x80");  // Hangul jamo -> syllable
  EXPECT_EQ(toNFC(kEmoji + kCyrillicChest), kEmoji + kCyrillicChest);
  EXPECT_EQ(toNFC(""), "");
  EXPECT_EQ(toNFC("a\xFF"), "a\xEF\xBF\xBD");  // malformed byte becomes U+FFFD
}

TEST(TextTransforms, MapsCaseWithoutLanguageTailoring) {
  EXPECT_EQ(toLower("\xC3\x80\xC3\x89 \xD0\xA1HEST"), "\xC3\xA0\xC3\xA9 \xD1\x81hest");
  EXPECT_EQ(toUpper("stra\xC3\x9F"
                    "e"),
            "STRASSE");
  EXPECT_EQ(toUpper(kEmoji + "a"), kEmoji + "A");
  EXPECT_EQ(toLower("I"), "i");
  EXPECT_EQ(toUpper("i"), "I");
  EXPECT_EQ(toLower("/Photos/IMG_01.JPG"), "/photos/img_01.jpg");
  EXPECT_EQ(toUpper("x\xC3"), "X\xEF\xBF\xBD");
}

TEST(TextTransforms, TrimsUnicodeWhiteSpaceAtBothEnds) {
  EXPECT_EQ(trim("  a b \n\t"), "a b");
  EXPECT_EQ(trim("\xC2\xA0\xE2\x80\x83x\xE3\x80\x80"), "x");  // no-break, em and ideographic spaces
  EXPECT_EQ(trim("\xE2\x80\xA8line\xE2\x80\xA9\r\n"), "line");
  EXPECT_EQ(trim("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");  // zero-width space is not white space
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim(" \n "), "");
  EXPECT_EQ(trim(" \xFF "), "\xFF");
  EXPECT_EQ(trim(" " + kEmoji + " "), kEmoji);
}

TEST(TextFormat, FormatsObjectsAndIntegers) {
  EXPECT_EQ(format("%@", {"abc"}), "abc");
  EXPECT_EQ(format("%@ %@", {1, 2.5}), "1 2.5");
  EXPECT_EQ(format("noteToBaby.baby_Name == %@", {kCyrillicChest}),
            "noteToBaby.baby_Name == " + kCyrillicChest);
  EXPECT_EQ(format("_%@_%d", {"2014_May_03_10_15", 7}), "_2014_May_03_10_15_7");
  EXPECT_EQ(format("%@PhotoTmp%d", {"Anna", 3}), "AnnaPhotoTmp3");
  EXPECT_EQ(format("0%d", {5}), "05");
  EXPECT_EQ(format("%02d:%02d", {7, 30}), "07:30");
  EXPECT_EQ(format("%d %ld %lld %llu %qu %i", {1, 2L, 3LL, 4, 5, -6}), "1 2 3 4 5 -6");
  EXPECT_EQ(format("%d", {5000000000LL}), "5000000000");
  EXPECT_EQ(format("%u %lu", {-1, -1}), "4294967295 18446744073709551615");
  EXPECT_EQ(format("%hhd %hu", {300, 70000}), "44 4464");
  EXPECT_EQ(format("%+d|% d|%5d|%-5d|%05d", {5, 5, 42, 42, -42}), "+5| 5|   42|42   |-0042");
  EXPECT_EQ(format("%d%%", {50}), "50%");
  EXPECT_EQ(format("%@", {Value()}), "<null>");
  EXPECT_EQ(format("%@", {Value(Array{1, "a b"})}), "(\n    1,\n    \"a b\"\n)");
}

TEST(TextFormat, FormatsHexadecimalAndAddresses) {
  EXPECT_EQ(format("%x %X %#x %o", {255, 255, 255, 8}), "ff FF 0xff 10");
  EXPECT_EQ(format("%x", {-1}), "ffffffff");
  EXPECT_EQ(format("%llx", {-1}), "ffffffffffffffff");
  EXPECT_EQ(format("%x", {0x123456789LL}), "123456789");
  EXPECT_EQ(format("%02x%02x", {10, 255}), "0aff");
  // The platform takes flags after the width too.
  EXPECT_EQ(format("%18#llx|", {0x100000000LL}), "       0x100000000|");
  EXPECT_EQ(format("%0*llx", {16, 0x1000}), "0000000000001000");
  EXPECT_EQ(format("%*d|", {-4, 7}), "7   |");  // a negative width pads on the right
  EXPECT_EQ(format("%*d", {INT64_MIN, 7}), "%*d");
  EXPECT_EQ(format("%-4ld%@", {3L, "x"}), "3   x");
  EXPECT_EQ(format("%p", {4096}), "0x1000");
  EXPECT_EQ(format("Unexpected error in vm_allocate(): 0x%x", {10}),
            "Unexpected error in vm_allocate(): 0xa");
}

TEST(TextFormat, FormatsRealNumbers) {
  EXPECT_EQ(format("%.2f", {3.14159}), "3.14");
  EXPECT_EQ(format("%.1f", {2.26}), "2.3");
  EXPECT_EQ(format("%.1f", {*Decimal::parse("2.5")}), "2.5");
  EXPECT_EQ(format("%f", {1}), "1.000000");
  EXPECT_EQ(format("%.0f", {2.5}), "2");  // exact ties go to even, as printf does
  EXPECT_EQ(format("%e", {12345.678}), "1.234568e+04");
  EXPECT_EQ(format("%g|%g", {0.0001, 1e20}), "0.0001|1e+20");
  EXPECT_EQ(format("%8.3f|", {-1.5}), "  -1.500|");
  EXPECT_EQ(format("%.*f", {2, 1.0 / 3}), "0.33");
  EXPECT_EQ(format("Feedback: [ %@ / %.2f / %@ / b:%d / %@ / n:%d / %@(%@) ]",
                   {"iPad", 7.1, "en", 2, "1.4", 120, "Anna", "ru"}),
            "Feedback: [ iPad / 7.10 / en / b:2 / 1.4 / n:120 / Anna(ru) ]");
}

// Switches LC_NUMERIC to a locale with a decimal comma for its lifetime: an installed one, or
// one compiled into a temporary folder when none is installed.
class CommaLocale {
 public:
  CommaLocale() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
      if (std::setlocale(LC_NUMERIC, name)) return;
    }
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    if (const char* old = std::getenv("LOCPATH")) oldLocPath_ = old;
    ::setenv("LOCPATH", dir_.path().c_str(), 1);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  }
  ~CommaLocale() {
    std::setlocale(LC_NUMERIC, previous_.c_str());
    if (oldLocPath_)
      ::setenv("LOCPATH", oldLocPath_->c_str(), 1);
    else
      ::unsetenv("LOCPATH");
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

TEST(TextFormat, FormatsStringsAndCharacters) {
  EXPECT_EQ(format("%s|%-6s|%6s", {"abc", "ab", "ab"}), "abc|ab    |    ab");
  EXPECT_EQ(format("%5@|", {kEmoji}), "   " + kEmoji + "|");  // widths count UTF-16 units
  EXPECT_EQ(format("%.3@", {"abcdef"}), "abc");
  EXPECT_EQ(format("%.2@", {"a" + kEmoji}), "a");  // precision never splits a pair
  EXPECT_EQ(format("%c%C", {65, 0x421}), "A\xD0\xA1");
  EXPECT_EQ(format("%C", {0xD800}), "\xEF\xBF\xBD");
  EXPECT_EQ(format("[%-100s=> %5d]", {"x", 3}), "[x" + std::string(99, ' ') + "=>     3]");
}

TEST(TextFormat, HonoursArgumentPositions) {
  EXPECT_EQ(format("%1$@ %2$@ %1$@", {"a", "b"}), "a b a");
  EXPECT_EQ(format("%2$@ %1$@", {"a", "b"}), "b a");
  EXPECT_EQ(format("%2$d/%1$.1f", {2.25, 9}), "9/2.2");
  EXPECT_EQ(format("%3$@", {"a"}), "%3$@");
  EXPECT_EQ(format("%0$@", {"a"}), "%0$@");
}

TEST(TextFormat, LeavesWhatItCannotFillAsGiven) {
  EXPECT_EQ(format("%@ and %@", {"x"}), "x and %@");
  EXPECT_EQ(format("100%", {}), "100%");
  EXPECT_EQ(format("%k %d", {1}), "%k 1");
  EXPECT_EQ(format("%n", {1}), "%n");
  EXPECT_EQ(format("%*d", {}), "%*d");
  EXPECT_EQ(format("%999999999d", {1}), "%999999999d");
  EXPECT_EQ(format("%l", {1}), "%l");
  EXPECT_EQ(format("\xFF%d\xC3", {1}),
            "\xFF"
            "1\xC3");
  EXPECT_EQ(format("", {1}), "");
}

TEST(TextFormat, WritesMismatchedArgumentsAsTheirDescription) {
  EXPECT_EQ(format("%d", {"text"}), "text");
  EXPECT_EQ(format("%d|%d", {true, 2.9}), "1|2");
  EXPECT_EQ(format("%.1f", {"n/a"}), "n/a");
  EXPECT_EQ(format("%x", {Value()}), "<null>");
  EXPECT_EQ(format("%s", {42}), "42");
}

TEST(TextFormat, TakesArgumentArrays) {
  const Array args{"Anna", 3, 2.5};
  EXPECT_EQ(format("%@ %d %.2f", args), "Anna 3 2.50");
  EXPECT_EQ(format("%@", Array{}), "%@");
}

}  // namespace
}  // namespace foundation::text
