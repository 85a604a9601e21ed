#pragma once
// The failures of request signing. Each error's domain is the failure's name and its localised
// description the text below, so a caller can tell them apart by domain and show the text as is.

#include <cstdint>
#include <string_view>

#include "platform/foundation/error.h"

namespace cloud {

inline constexpr std::string_view kOAuthUnsupportedSignatureMethod = "Unsupported Signature Method";
inline constexpr std::string_view kOAuthUnhandledHTTPMethodException = "UnhandledHTTPMethodException";
inline constexpr std::string_view kOAuthKeychainDuplicateItem = "Keychain duplicate item exception";
inline constexpr std::string_view kOAuthKeychainNotAvailable = "Keychain Not Available";
inline constexpr std::string_view kOAuthKeychainParameterError = "Keychain parameter error";
inline constexpr std::string_view kOAuthKeychainMemoryError = "Keychain memory error";
// A query or form text that does not decode (a bad percent escape, or bytes that are not UTF-8).
inline constexpr std::string_view kOAuthMalformedParameterString = "OAuthMalformedParameterString";
// Base64 text that cannot be decoded (a single character left in its last group).
inline constexpr std::string_view kOAuthMalformedBase64 = "OAuthMalformedBase64";

// Code of the errors that carry no keychain status.
inline constexpr std::int64_t kOAuthErrorCode = 1;

// "The signature method \"<method>\" is not currently support by OAuthConnection"
foundation::Error oauthUnsupportedSignatureMethodError(std::string_view method);
// "The requested HTTP method, <method>, is not supported"
foundation::Error oauthUnhandledHTTPMethodError(std::string_view method);
// Keychain failures; the code is the keychain's status. The name fills the texts that have a slot.
foundation::Error oauthKeychainDuplicateItemError(std::string_view name, std::int32_t status);
foundation::Error oauthKeychainNotAvailableError(std::int32_t status);
foundation::Error oauthKeychainParameterError(std::string_view name, std::int32_t status);
foundation::Error oauthKeychainMemoryError(std::int32_t status);
foundation::Error oauthMalformedParameterStringError(std::string_view reason);

}  // namespace cloud
