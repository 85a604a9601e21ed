#pragma once
// Operations on URLs given by their absolute text ("https://host/path?query").

#include <string>
#include <string_view>
#include <vector>

#include "cloud/oauth_parameter.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace cloud {

// The host of an absolute URL, as written ("https://u@Api.Example.com:8443/x" gives
// "Api.Example.com"); empty when the text has no authority.
std::string urlHost(std::string_view url);

// The URL cut before its first "?" (a fragment goes with it), or the URL itself when it has none.
std::string urlByRemovingQuery(std::string_view url);

// The URL with the parameters of its own query followed by the given ones as its query.
// A query that does not decode is an error.
foundation::Result<std::string> urlByAddingParameters(
    std::string_view url, const std::vector<OAuthURLRequestParameter>& parameters);

// The URL with the given pairs, into which its own query's pairs are merged (a query pair replaces
// a given pair of the same name), as its query; with no query and no pairs, the URL itself.
foundation::Result<std::string> urlByAddingParameterDictionary(std::string_view url,
                                                               const foundation::Dictionary& parameters);

// The URL as a signature base string names it: scheme and host in lower case, the port left out
// when it is the scheme's default (80 for http, 443 for https), no fragment, and "/" as the path
// when the URL has neither a path nor a query.
std::string absoluteNormalizedString(std::string_view url);

// Whether the URL's host belongs to the domain: an IP address host equal to the domain; a longer
// host in which the domain first occurs at its end ("api.example.com" and ".example.com"); or a
// host one character shorter than the domain that equals the domain without its first character,
// ignoring case ("example.com" and ".example.com"). A host equal to a non-IP domain is false.
bool domainMatches(std::string_view url, std::string_view domain);

}  // namespace cloud
