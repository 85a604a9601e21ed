#include "cloud/oauth_errors.h"

#include <string>

namespace cloud {
namespace {

foundation::Error named(std::string_view name, std::int64_t code, std::string text) {
  return foundation::Error::make(std::string(name), code, std::move(text));
}

}  // namespace

foundation::Error oauthUnsupportedSignatureMethodError(std::string_view method) {
  return named(
      kOAuthUnsupportedSignatureMethod, kOAuthErrorCode,
      "The signature method \"" + std::string(method) + "\" is not currently support by OAuthConnection");
}

foundation::Error oauthUnhandledHTTPMethodError(std::string_view method) {
  return named(kOAuthUnhandledHTTPMethodException, kOAuthErrorCode,
               "The requested HTTP method, " + std::string(method) + ", is not supported");
}

foundation::Error oauthKeychainDuplicateItemError(std::string_view name, std::int32_t status) {
  return named(kOAuthKeychainDuplicateItem, status, "Item already exists for " + std::string(name));
}

foundation::Error oauthKeychainNotAvailableError(std::int32_t status) {
  return named(kOAuthKeychainNotAvailable, status, "Keychain Access Not Currently Available");
}

foundation::Error oauthKeychainParameterError(std::string_view name, std::int32_t status) {
  return named(kOAuthKeychainParameterError, status,
               "One or more parameters passed to the function were not valid from " + std::string(name));
}

foundation::Error oauthKeychainMemoryError(std::int32_t status) {
  return named(kOAuthKeychainMemoryError, status, "Failed to allocate memory");
}

foundation::Error oauthMalformedParameterStringError(std::string_view reason) {
  return named(kOAuthMalformedParameterString, kOAuthErrorCode, std::string(reason));
}

}  // namespace cloud
