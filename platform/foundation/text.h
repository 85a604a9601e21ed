#pragma once
// Text helpers for UTF-8 strings that must count, cut and compare the way the platform's
// UTF-16 strings do.
//
// Malformed UTF-8 never stops these helpers. Conversions (toUtf16, fromUtf16) report it as an
// Error. Everything else reads each byte that does not start a well-formed sequence as one
// U+FFFD REPLACEMENT CHARACTER, i.e. one UTF-16 unit: counting and cutting count it as one unit
// and keep the original byte in what they return, while comparison, normalisation and case
// mapping see (and the latter two write) U+FFFD in its place.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation::text {

// The error conversions give: domain "NSCocoaErrorDomain", the platform's code for text in an
// encoding that does not apply.
inline constexpr std::string_view kErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kInapplicableStringEncodingError = 261;

// The system's one UTF-8 check: well-formed UTF-8 has no stray continuation bytes, no overlong
// forms, no surrogates, nothing past U+10FFFF and no sequence cut short. Runs of ASCII are checked
// eight bytes at a time.
bool isValidUtf8(std::string_view utf8);
// The length of the longest well-formed prefix: the offset of the first byte that does not start a
// well-formed sequence, or the text's size when there is none.
size_t validUtf8Length(std::string_view utf8);
// Appends the UTF-8 bytes of a code point (at most U+10FFFF, not a surrogate).
void appendCodePoint(std::string& out, char32_t codePoint);
// Appends the text with the double quote, the backslash and every control below U+0020 escaped as
// in C and JSON: \" \\ \b \t \n \f \r, and the other controls as \u00XX (lower-case hexadecimal).
// Everything else, the slash and all non-ASCII characters included, is copied as it stands.
void appendEscaped(std::string& out, std::string_view text);
// The text's bytes as "%XX" (upper-case hexadecimal), all but the unreserved characters of URIs
// (letters, digits, "-._~") and the ASCII characters listed in `keep`.
std::string percentEscaped(std::string_view text, std::string_view keep = {});

// UTF-16 code units the text takes (a character outside the BMP counts 2).
size_t utf16Length(std::string_view utf8);
// Conversions fail on malformed input (invalid UTF-8, unpaired surrogates).
Result<std::u16string> toUtf16(std::string_view utf8);
Result<std::string> fromUtf16(std::u16string_view utf16);

// The first `units` UTF-16 units of the text, shortened so no surrogate pair is split.
std::string prefixUtf16(std::string_view utf8, size_t units);
// The text from UTF-16 offset `start`, `length` units long, widened to whole code points.
// Empty when `start` lies at or beyond the end or `length` is 0.
std::string substringUtf16(std::string_view utf8, size_t start, size_t length);

enum class Ordering { Ascending = -1, Same = 0, Descending = 1 };
// Literal comparison by UTF-16 units, as the platform's plain compare: does.
Ordering compare(std::string_view a, std::string_view b);
// Case-insensitive comparison (full case folding), then by UTF-16 units.
Ordering caseInsensitiveCompare(std::string_view a, std::string_view b);
// Literal and case-sensitive, except that runs of ASCII digits compare by their numeric value
// ("file2" before "file10"; "07" and "7" are the same number).
Ordering numericCompare(std::string_view a, std::string_view b);
// Localised, case-insensitive (but accent-sensitive) comparison for sorting names shown to the
// user, by the collation of `localeId` ("de_DE", "ru"...). An empty id means Locale::current();
// the POSIX locale ("C", "en_US_POSIX") collates by the root (language-neutral) order.
Ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                         std::string_view localeId = {});

// Canonical composition (precomposed form).
std::string toNFC(std::string_view utf8);
// Full case mappings, not tailored to any language ("ß" upper-cases to "SS").
std::string toLower(std::string_view utf8);
std::string toUpper(std::string_view utf8);
// Removes white space and line breaks (Unicode White_Space) at both ends.
std::string trim(std::string_view utf8);

// printf-style formatting in which %@ takes a Value's description; %d %i %ld %lld %qd %u %x %X %o
// take integers, %f %.Nf %e %g %a take numbers, %s %S a string, %c %C a character, %p an address,
// %% a percent sign; flags (- + space # 0), widths and precisions (also as *) and %1$@ style
// positions are honoured. Numbers always use "." as decimal separator. Widths pad by UTF-16
// units. A value that does not fit its directive (a string for %d) is written as its
// description. A directive without a matching argument, or one that is not understood, is
// written as given.
std::string format(std::string_view pattern, std::initializer_list<Value> args);
std::string format(std::string_view pattern, const Array& args);

}  // namespace foundation::text
