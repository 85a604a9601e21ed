#pragma once
// String tables in the platform's ".strings" syntax:
//
//   /* A comment */
//   "key" = "value";      // a line comment
//   unquoted_key = "text with \"escapes\"\n and \U00e9";
//   "Same";               // the key is its own value
//
// The bytes may be UTF-8 (with or without its byte-order mark) or UTF-16 in either byte order
// with its byte-order mark. Strings are quoted with " or ', or left unquoted when they consist
// of letters, digits and _ $ / : . - only. Escapes: \" \' \\ \n \t \r \a \b \f \v, \U and \u
// with up to four hexadecimal digits (surrogate pairs combine), \ with up to three octal
// digits; any other escaped character stands for itself. A later entry for a key replaces an
// earlier one. A table compiled into an XML or binary property list (a dictionary of strings)
// reads too.

#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace runtime {

// The entries of a table as a dictionary of strings, in file order. Malformed text fails with
// the line of the fault ("NSCocoaErrorDomain", the platform's property-list parse error 3840).
foundation::Result<foundation::Dictionary> parseStringsFile(const foundation::Bytes& data);
foundation::Result<foundation::Dictionary> parseStringsText(std::string_view utf8);

}  // namespace runtime
