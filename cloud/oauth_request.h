#pragma once
// A request before signing, and the plain HTTP request that signing produces.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cloud/oauth_parameter.h"
#include "platform/foundation/error.h"

namespace cloud {

// An HTTP request ready to be sent: what the networking layer takes.
struct HttpRequest {
  std::string method = "GET";
  std::string url;  // absolute, query included
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // bytes

  // The first header of that name, compared without case; nullptr when there is none.
  const std::string* header(std::string_view name) const;
  // Replaces every header of that name (compared without case) by one with the value.
  void setHeader(std::string name, std::string value);
};

class OAuthURLRequest {
 public:
  // A "GET" request for the URL with the parameters (OAuth parameters included, unsigned).
  explicit OAuthURLRequest(std::string url, std::vector<OAuthURLRequestParameter> parameters = {});

  // A request for an existing HTTP request: its URL without the query, the query's parameters
  // followed by those of a form body ("application/x-www-form-urlencoded"), and its method.
  // A query or body that does not decode is an error.
  static foundation::Result<OAuthURLRequest> withURLRequest(const HttpRequest& request);

  void addParameters(const std::vector<OAuthURLRequestParameter>& parameters);

  // Signs the request and returns it as an HTTP request, also kept in urlRequest:
  // the parameters are sorted (by escaped name, then escaped value; a query still on `url` is
  // taken in as parameters), signed with the secret (the store's signing key) by the method
  // ("PLAINTEXT" or "HMAC-SHA1"), and the signature appended. "GET" sends them as the query;
  // "POST" as a form body with "Content-Length" and "Content-Type" headers.
  // Errors: kOAuthUnsupportedSignatureMethod for another signature method;
  // kOAuthUnhandledHTTPMethodException for another HTTP method or a "GET" without parameters;
  // kOAuthMalformedParameterString for a query on `url` that does not decode.
  foundation::Result<HttpRequest> urlRequestSignedWithSecretUsingMethod(std::string_view secret,
                                                                        std::string_view signatureMethod);

  std::string url;  // absolute, normally without query
  std::string HTTPMethod = "GET";
  std::optional<HttpRequest> urlRequest;  // the last signed request built from this object
  std::vector<OAuthURLRequestParameter> parameters;
};

}  // namespace cloud
