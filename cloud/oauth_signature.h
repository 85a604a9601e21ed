#pragma once
// The "oauth_signature" parameter of a request, made by PLAINTEXT or HMAC-SHA1.

#include <string>
#include <string_view>

#include "cloud/oauth_parameter.h"
#include "cloud/oauth_request.h"
#include "platform/foundation/error.h"

namespace cloud {

class OAuthSignatureParameter : public OAuthURLRequestParameter {
 public:
  static constexpr std::string_view kName = "oauth_signature";

  // The signature of the sorted, encoded parameter text for the request under the secret (the
  // signing key): for "HMAC-SHA1" as below; for "PLAINTEXT" the secret itself. Any other method
  // is an error named kOAuthUnsupportedSignatureMethod.
  static foundation::Result<OAuthSignatureParameter> withTextAndSecretForRequestUsingMethod(
      std::string_view text, std::string_view secret, const OAuthURLRequest& request,
      std::string_view method);

  // The HMAC-SHA1 signature of the request's signature base string.
  static foundation::Result<OAuthSignatureParameter> usingHMAC_SHA1WithTextAndSecretForRequest(
      std::string_view text, std::string_view secret, const OAuthURLRequest& request);

  // "<method>&<escaped URL>&<escaped parameter text>", where the URL is the request's URL without
  // its query, normalised (absoluteNormalizedString).
  static std::string signatureBaseStringUsingParameterStringForRequest(std::string_view text,
                                                                       const OAuthURLRequest& request);

  // Base64 (28 characters) of the HMAC-SHA1 of the text's bytes keyed by the secret's bytes.
  static foundation::Result<std::string> HMAC_SHA1SignatureForTextUsingSecret(std::string_view text,
                                                                              std::string_view secret);

  std::string_view className() const override { return "OAuthSignatureParameter"; }

 private:
  explicit OAuthSignatureParameter(std::string signature)
      : OAuthURLRequestParameter(std::string(kName), signature) {}
};

}  // namespace cloud
