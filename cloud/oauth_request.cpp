#include "cloud/oauth_request.h"

#include <algorithm>

#include "cloud/oauth_errors.h"
#include "cloud/oauth_signature.h"
#include "cloud/oauth_url.h"

namespace cloud {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// A form body, whatever parameters follow the media type ("...; charset=utf-8").
bool isFormContentType(const std::string* contentType) {
  if (contentType == nullptr) return false;
  std::string_view type = *contentType;
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  while (!type.empty() && type.front() == ' ') type.remove_prefix(1);
  return equalsIgnoringCase(type, "application/x-www-form-urlencoded");
}

// The URL without query and fragment, and its query when it has one.
std::pair<std::string, std::optional<std::string>> splitUrl(std::string_view url) {
  url = url.substr(0, url.find('#'));
  std::size_t question = url.find('?');
  if (question == std::string_view::npos) return {std::string(url), std::nullopt};
  return {std::string(url.substr(0, question)), std::string(url.substr(question + 1))};
}

}  // namespace

const std::string* HttpRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return &value;
  }
  return nullptr;
}

void HttpRequest::setHeader(std::string name, std::string value) {
  std::erase_if(headers, [&](const auto& entry) { return equalsIgnoringCase(entry.first, name); });
  headers.emplace_back(std::move(name), std::move(value));
}

OAuthURLRequest::OAuthURLRequest(std::string url, std::vector<OAuthURLRequestParameter> parameters)
    : url(std::move(url)), parameters(std::move(parameters)) {
  if (this->parameters.empty()) this->parameters.reserve(10);
}

foundation::Result<OAuthURLRequest> OAuthURLRequest::withURLRequest(const HttpRequest& request) {
  auto [base, query] = splitUrl(request.url);
  std::vector<OAuthURLRequestParameter> parameters;
  if (query) {
    auto fromQuery = OAuthURLRequestParameter::decodedParametersFromString(*query);
    if (!fromQuery) return fromQuery.error();
    parameters = std::move(*fromQuery);
  }
  // Signing a "POST" replaces the body with the signed parameters, so a form body's pairs must be
  // among them or they would be lost.
  if (!request.body.empty() && isFormContentType(request.header("Content-Type"))) {
    // The form encoding writes a blank as "+" (elsewhere, as in token replies, "+" is itself).
    std::string body = request.body;
    std::replace(body.begin(), body.end(), '+', ' ');
    auto fromBody = OAuthURLRequestParameter::decodedParametersFromString(body);
    if (!fromBody) return fromBody.error();
    parameters.insert(parameters.end(), fromBody->begin(), fromBody->end());
  }
  OAuthURLRequest result(std::move(base), std::move(parameters));
  result.HTTPMethod = request.method;
  return result;
}

void OAuthURLRequest::addParameters(const std::vector<OAuthURLRequestParameter>& more) {
  parameters.insert(parameters.end(), more.begin(), more.end());
}

foundation::Result<HttpRequest> OAuthURLRequest::urlRequestSignedWithSecretUsingMethod(
    std::string_view secret, std::string_view signatureMethod) {
  auto byOrder = [](const OAuthURLRequestParameter& a, const OAuthURLRequestParameter& b) {
    return a.compare(b) < 0;
  };
  std::stable_sort(parameters.begin(), parameters.end(), byOrder);

  // A query left on the URL is signed and sent with the other parameters, not beside them.
  auto [base, query] = splitUrl(url);
  std::vector<OAuthURLRequestParameter> all;
  if (query) {
    auto fromQuery = OAuthURLRequestParameter::decodedParametersFromString(*query);
    if (!fromQuery) return fromQuery.error();
    all = std::move(*fromQuery);
    all.insert(all.end(), parameters.begin(), parameters.end());
    std::stable_sort(all.begin(), all.end(), byOrder);
  }
  const std::vector<OAuthURLRequestParameter>& sorted = query ? all : parameters;

  std::string text = OAuthURLRequestParameter::parameterStringForParameters(sorted);
  auto signature =
      OAuthSignatureParameter::withTextAndSecretForRequestUsingMethod(text, secret, *this, signatureMethod);
  if (!signature) return signature.error();
  text += "&" + signature->URLEncodedParameterString();

  HttpRequest request;
  request.method = HTTPMethod;
  if (HTTPMethod == "GET" && !sorted.empty()) {
    request.url = base + "?" + text;
  } else if (HTTPMethod == "POST") {
    request.url = base;
    request.body = std::move(text);
    request.setHeader("Content-Length", std::to_string(request.body.size()));
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
  } else {
    return oauthUnhandledHTTPMethodError(HTTPMethod);
  }
  urlRequest = request;
  return request;
}

}  // namespace cloud
