#include "cloud/oauth_parameter.h"

#include <cstdio>

#include "cloud/oauth_escaping.h"

namespace cloud {

std::string OAuthURLRequestParameter::URLEncodedParameterString() const {
  return stringByAddingURIPercentEscapesUsingEncoding(name) + "=" +
         stringByAddingURIPercentEscapesUsingEncoding(value.value_or(""));
}

std::strong_ordering OAuthURLRequestParameter::compare(const OAuthURLRequestParameter& other) const {
  // std::string compares as unsigned bytes, which for escaped ASCII is what servers do.
  int byName = stringByAddingURIPercentEscapesUsingEncoding(name).compare(
      stringByAddingURIPercentEscapesUsingEncoding(other.name));
  if (byName != 0) return byName < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
  int byValue = stringByAddingURIPercentEscapesUsingEncoding(value.value_or(""))
                    .compare(stringByAddingURIPercentEscapesUsingEncoding(other.value.value_or("")));
  if (byValue != 0) return byValue < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
  return std::strong_ordering::equal;
}

std::string OAuthURLRequestParameter::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<" + std::string(className()) + ": " + address + " " + URLEncodedParameterString() + ">";
}

namespace {

// Calls `pair` with the name and value texts of each non-empty pair, as written.
template <typename Pair>
void forEachPair(std::string_view text, Pair pair) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t amp = text.find('&', start);
    if (amp == std::string_view::npos) amp = text.size();
    std::string_view written = text.substr(start, amp - start);
    start = amp + 1;
    if (written.empty()) continue;
    std::size_t eq = written.find('=');
    pair(written.substr(0, eq), eq == std::string_view::npos ? std::string_view() : written.substr(eq + 1));
  }
}

}  // namespace

std::vector<OAuthURLRequestParameter> OAuthURLRequestParameter::parametersFromString(std::string_view text) {
  std::vector<OAuthURLRequestParameter> parameters;
  parameters.reserve(10);
  forEachPair(text, [&](std::string_view name, std::string_view value) {
    auto unescaped = stringByReplacingPercentEscapes(value);
    parameters.emplace_back(std::string(name),
                            unescaped ? std::optional<std::string>(std::move(*unescaped)) : std::nullopt);
  });
  return parameters;
}

foundation::Result<std::vector<OAuthURLRequestParameter>> OAuthURLRequestParameter::decodedParametersFromString(
    std::string_view text) {
  std::vector<OAuthURLRequestParameter> parameters;
  std::optional<foundation::Error> failure;
  forEachPair(text, [&](std::string_view name, std::string_view value) {
    auto decodedName = stringByReplacingPercentEscapes(name);
    auto decodedValue = stringByReplacingPercentEscapes(value);
    if (!decodedName || !decodedValue) {
      if (!failure) failure = decodedName ? decodedValue.error() : decodedName.error();
      return;
    }
    parameters.emplace_back(std::move(*decodedName), std::move(*decodedValue));
  });
  if (failure) return *failure;
  return parameters;
}

std::vector<OAuthURLRequestParameter> OAuthURLRequestParameter::parametersFromDictionary(
    const foundation::Dictionary& dictionary) {
  std::vector<OAuthURLRequestParameter> parameters;
  parameters.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) {
    if (value.isNull()) {
      parameters.emplace_back(key, std::nullopt);
    } else if (const std::string* text = value.string()) {
      parameters.emplace_back(key, *text);
    } else {
      parameters.emplace_back(key, value.description());
    }
  }
  return parameters;
}

foundation::Dictionary OAuthURLRequestParameter::parameterDictionaryFromString(std::string_view text) {
  foundation::Dictionary dictionary;
  for (auto& parameter : parametersFromString(text))
    if (parameter.value) dictionary.set(parameter.name, std::move(*parameter.value));
  return dictionary;
}

std::string OAuthURLRequestParameter::parameterStringForParameters(
    const std::vector<OAuthURLRequestParameter>& parameters) {
  std::string text;
  for (const auto& parameter : parameters) {
    if (!text.empty()) text += '&';  // an encoded pair is never empty
    text += parameter.URLEncodedParameterString();
  }
  return text;
}

std::string OAuthURLRequestParameter::parameterStringForDictionary(const foundation::Dictionary& dictionary) {
  return parameterStringForParameters(parametersFromDictionary(dictionary));
}

}  // namespace cloud
