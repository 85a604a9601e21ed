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

foundation::Result<std::vector<OAuthURLRequestParameter>> OAuthURLRequestParameter::parametersFromString(
    std::string_view text) {
  std::vector<OAuthURLRequestParameter> parameters;
  parameters.reserve(10);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t amp = text.find('&', start);
    if (amp == std::string_view::npos) amp = text.size();
    std::string_view pair = text.substr(start, amp - start);
    start = amp + 1;
    if (pair.empty()) continue;
    std::size_t eq = pair.find('=');
    auto name = stringByReplacingPercentEscapes(pair.substr(0, eq));
    if (!name) return name.error();
    auto value = stringByReplacingPercentEscapes(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (!value) return value.error();
    parameters.emplace_back(std::move(*name), std::move(*value));
  }
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

foundation::Result<foundation::Dictionary> OAuthURLRequestParameter::parameterDictionaryFromString(
    std::string_view text) {
  auto parameters = parametersFromString(text);
  if (!parameters) return parameters.error();
  foundation::Dictionary dictionary;
  for (auto& parameter : *parameters) dictionary.set(parameter.name, parameter.value.value_or(""));
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
