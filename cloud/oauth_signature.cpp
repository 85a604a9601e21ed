#include "cloud/oauth_signature.h"

#include "cloud/oauth_base64.h"
#include "cloud/oauth_errors.h"
#include "cloud/oauth_escaping.h"
#include "cloud/oauth_url.h"
#include "platform/security/digest.h"

namespace cloud {

foundation::Result<OAuthSignatureParameter> OAuthSignatureParameter::withTextAndSecretForRequestUsingMethod(
    std::string_view text, std::string_view secret, const OAuthURLRequest& request, std::string_view method) {
  if (method == "HMAC-SHA1") return usingHMAC_SHA1WithTextAndSecretForRequest(text, secret, request);
  if (method == "PLAINTEXT") return OAuthSignatureParameter(std::string(secret));
  return oauthUnsupportedSignatureMethodError(method);
}

foundation::Result<OAuthSignatureParameter>
OAuthSignatureParameter::usingHMAC_SHA1WithTextAndSecretForRequest(std::string_view text,
                                                                   std::string_view secret,
                                                                   const OAuthURLRequest& request) {
  auto signature = HMAC_SHA1SignatureForTextUsingSecret(
      signatureBaseStringUsingParameterStringForRequest(text, request), secret);
  if (!signature) return signature.error();
  return OAuthSignatureParameter(std::move(*signature));
}

std::string OAuthSignatureParameter::signatureBaseStringUsingParameterStringForRequest(
    std::string_view text, const OAuthURLRequest& request) {
  // The query's parameters belong to the parameter text, never to the URL part.
  return request.HTTPMethod + "&" +
         stringByAddingURIPercentEscapesUsingEncoding(
             absoluteNormalizedString(urlByRemovingQuery(request.url))) +
         "&" + stringByAddingURIPercentEscapesUsingEncoding(text);
}

foundation::Result<std::string> OAuthSignatureParameter::HMAC_SHA1SignatureForTextUsingSecret(
    std::string_view text, std::string_view secret) {
  auto digest = security::hmacSha1(secret, text);
  if (!digest) return digest.error();
  return OAuthBase64EncodeWithLineBreaks(*digest);
}

}  // namespace cloud
