#pragma once
// Text helpers for UTF-8 strings that must count, cut and compare the way the platform's
// UTF-16 strings do.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation::text {

bool isValidUtf8(std::string_view utf8);

// UTF-16 code units the text takes (a character outside the BMP counts 2).
size_t utf16Length(std::string_view utf8);
// Conversions fail on malformed input (invalid UTF-8, unpaired surrogates).
Result<std::u16string> toUtf16(std::string_view utf8);
Result<std::string> fromUtf16(std::u16string_view utf16);

// The first `units` UTF-16 units of the text, shortened so no surrogate pair is split.
std::string prefixUtf16(std::string_view utf8, size_t units);
// The text from UTF-16 offset `start`, `length` units long, widened to whole code points.
std::string substringUtf16(std::string_view utf8, size_t start, size_t length);

enum class Ordering { Ascending = -1, Same = 0, Descending = 1 };
// Literal comparison by UTF-16 units, as the platform's plain compare: does.
Ordering compare(std::string_view a, std::string_view b);
// Case-insensitive comparison (full case folding).
Ordering caseInsensitiveCompare(std::string_view a, std::string_view b);
// Runs of digits compare by their numeric value ("file2" before "file10").
Ordering numericCompare(std::string_view a, std::string_view b);
// Localised, case-insensitive comparison for sorting names shown to the user.
Ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

std::string toNFC(std::string_view utf8);
std::string toLower(std::string_view utf8);
std::string toUpper(std::string_view utf8);
// Removes white space and line breaks (Unicode White_Space) at both ends.
std::string trim(std::string_view utf8);

// printf-style formatting in which %@ takes a Value's description; %d %i %ld %lld %u %x %X
// take integers, %f %.Nf %g %e take numbers, %s a string, %% a percent sign, and %1$@ style
// positions are honoured. A directive without a matching argument is written as given.
std::string format(std::string_view pattern, std::initializer_list<Value> args);

}  // namespace foundation::text
