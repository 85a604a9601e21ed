#pragma once
// Percent-escaping as OAuth signatures need it, and the reverse for query and form texts.

#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace cloud {

// The UTF-8 text with every byte escaped as "%" and two upper-case hexadecimal digits, except
// A-Z, a-z, 0-9 and "-", ".", "_", "~". A "%" is escaped like any other byte, so text that already
// holds escapes (a path such as "/a%20b") is escaped once more, as a signature base string needs.
// Also the escaping of a URL's absolute string. The text is always taken as UTF-8.
std::string stringByAddingURIPercentEscapesUsingEncoding(std::string_view text);

// Decodes one name or value of a query or form text: "%XX" gives the byte XX; every other
// character, "+" included, stands for itself (a "+" in a token secret is part of the secret).
// A "%" without two hexadecimal digits, or a result that is not UTF-8, is an error
// (kOAuthMalformedParameterString).
foundation::Result<std::string> stringByReplacingPercentEscapes(std::string_view text);

// True for four parts separated by ".", each of the digits 0-9 only (at least one) with a value
// below 255.
bool isIPAddress(std::string_view text);

}  // namespace cloud
