#include "cloud/oauth_url.h"

#include <algorithm>
#include <optional>

#include "cloud/oauth_escaping.h"

namespace cloud {
namespace {

struct UrlParts {
  std::string scheme;  // empty when the text has none
  bool hasAuthority = false;
  std::string userInfo;  // with its "@" when present
  std::string host;
  std::string port;  // digits after ":"; empty when none
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

bool isSchemeChar(char c, bool first) {
  bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (first) return alpha;
  return alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

UrlParts parseUrl(std::string_view url) {
  UrlParts parts;
  std::size_t pos = 0;
  std::size_t colon = url.find(':');
  if (colon != std::string_view::npos && colon > 0) {
    bool valid = true;
    for (std::size_t i = 0; i < colon && valid; ++i) valid = isSchemeChar(url[i], i == 0);
    if (valid) {
      parts.scheme = std::string(url.substr(0, colon));
      pos = colon + 1;
    }
  }
  if (url.substr(pos, 2) == "//") {
    parts.hasAuthority = true;
    pos += 2;
    std::size_t end = url.find_first_of("/?#", pos);
    if (end == std::string_view::npos) end = url.size();
    std::string_view authority = url.substr(pos, end - pos);
    pos = end;
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
      parts.userInfo = std::string(authority.substr(0, at + 1));
      authority.remove_prefix(at + 1);
    }
    std::size_t portColon = std::string_view::npos;
    if (!authority.empty() && authority.front() == '[') {
      std::size_t close = authority.find(']');
      if (close != std::string_view::npos && close + 1 < authority.size() && authority[close + 1] == ':') {
        portColon = close + 1;
      }
    } else {
      portColon = authority.rfind(':');
    }
    if (portColon != std::string_view::npos) {
      parts.port = std::string(authority.substr(portColon + 1));
      authority = authority.substr(0, portColon);
    }
    parts.host = std::string(authority);
  }
  std::size_t pathEnd = url.find_first_of("?#", pos);
  if (pathEnd == std::string_view::npos) pathEnd = url.size();
  parts.path = std::string(url.substr(pos, pathEnd - pos));
  pos = pathEnd;
  if (pos < url.size() && url[pos] == '?') {
    std::size_t queryEnd = url.find('#', pos);
    if (queryEnd == std::string_view::npos) queryEnd = url.size();
    parts.query = std::string(url.substr(pos + 1, queryEnd - pos - 1));
    pos = queryEnd;
  }
  if (pos < url.size() && url[pos] == '#') parts.fragment = std::string(url.substr(pos + 1));
  return parts;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// The URL before its query and fragment, and the query (when there is a "?").
std::pair<std::string_view, std::optional<std::string_view>> splitQuery(std::string_view url) {
  std::size_t question = url.find('?');
  std::size_t hash = url.find('#');
  if (question == std::string_view::npos || (hash != std::string_view::npos && hash < question)) {
    return {url, std::nullopt};
  }
  std::size_t queryEnd = hash == std::string_view::npos ? url.size() : hash;
  return {url.substr(0, question), url.substr(question + 1, queryEnd - question - 1)};
}

}  // namespace

std::string urlHost(std::string_view url) { return parseUrl(url).host; }

std::string urlByRemovingQuery(std::string_view url) {
  std::size_t question = url.find('?');
  if (question == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, question));
}

foundation::Result<std::string> urlByAddingParameters(
    std::string_view url, const std::vector<OAuthURLRequestParameter>& parameters) {
  auto [base, query] = splitQuery(url);
  std::vector<OAuthURLRequestParameter> all;
  if (query) {
    auto existing = OAuthURLRequestParameter::decodedParametersFromString(*query);
    if (!existing) return existing.error();
    all = std::move(*existing);
  }
  all.insert(all.end(), parameters.begin(), parameters.end());
  if (all.empty()) return std::string(base);
  return std::string(base) + "?" + OAuthURLRequestParameter::parameterStringForParameters(all);
}

foundation::Result<std::string> urlByAddingParameterDictionary(std::string_view url,
                                                               const foundation::Dictionary& parameters) {
  auto [base, query] = splitQuery(url);
  if (!query && parameters.empty()) return std::string(url);
  foundation::Dictionary merged = parameters;
  if (query) {
    auto existing = OAuthURLRequestParameter::decodedParametersFromString(*query);
    if (!existing) return existing.error();
    for (auto& parameter : *existing) merged.set(parameter.name, parameter.value.value_or(""));
  }
  return std::string(base) + "?" + OAuthURLRequestParameter::parameterStringForDictionary(merged);
}

std::string absoluteNormalizedString(std::string_view url) {
  UrlParts parts = parseUrl(url);
  std::string out;
  std::string scheme = asciiLower(parts.scheme);
  if (!scheme.empty()) out += scheme + ":";
  if (parts.hasAuthority) {
    out += "//" + parts.userInfo + asciiLower(parts.host);
    bool defaultPort = (scheme == "http" && parts.port == "80") || (scheme == "https" && parts.port == "443");
    if (!parts.port.empty() && !defaultPort) out += ":" + parts.port;
  }
  out += parts.path;
  if (parts.path.empty() && !parts.query) out += "/";
  if (parts.query) out += "?" + *parts.query;
  return out;
}

bool domainMatches(std::string_view url, std::string_view domain) {
  std::string host = urlHost(url);
  if (isIPAddress(host) && host == domain) return true;
  if (host.size() > domain.size()) {
    std::size_t at = host.find(domain);
    return at != std::string::npos && at + domain.size() == host.size();
  }
  if (host.size() + 1 == domain.size()) return asciiLower(host) == asciiLower(domain.substr(1));
  return false;
}

}  // namespace cloud
