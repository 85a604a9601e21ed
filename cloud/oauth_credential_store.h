#pragma once
// OAuth credentials of one client (consumer key and secret, request and access tokens, signature
// method) and the "oauth_" parameters and signing key made from them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/oauth_parameter.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace cloud {

// Keys of the credential dictionary; each text equals its name.
inline constexpr std::string_view kOAuthCredentialConsumerKey = "kOAuthCredentialConsumerKey";
inline constexpr std::string_view kOAuthCredentialConsumerSecret = "kOAuthCredentialConsumerSecret";
inline constexpr std::string_view kOAuthCredentialUsername = "kOAuthCredentialUsername";
inline constexpr std::string_view kOAuthCredentialPassword = "kOAuthCredentialPassword";
inline constexpr std::string_view kOAuthCredentialRequestToken = "kOAuthCredentialRequestToken";
inline constexpr std::string_view kOAuthCredentialRequestTokenSecret = "kOAuthCredentialRequestTokenSecret";
inline constexpr std::string_view kOAuthCredentialAccessToken = "kOAuthCredentialAccessToken";
inline constexpr std::string_view kOAuthCredentialAccessTokenSecret = "kOAuthCredentialAccessTokenSecret";
inline constexpr std::string_view kOAuthCredentialSessionHandle = "kOAuthCredentialSessionHandle";
inline constexpr std::string_view kOAuthSignatureMethod = "kOAuthSignatureMethod";

// Where a store keeps credentials between launches: internet-password items addressed by security
// domain (the authentication host), server (the base host) and account (the credential's name).
// Results are the keychain's status codes.
class OAuthKeychain {
 public:
  struct Item {
    std::string securityDomain;
    std::string server;
    std::string account;
  };
  // The item type of every OAuth item, the four characters 'oaut'.
  static constexpr std::uint32_t kItemType = 0x6f617574;

  static constexpr std::int32_t kSuccess = 0;
  static constexpr std::int32_t kParam = -50;
  static constexpr std::int32_t kAllocate = -108;
  static constexpr std::int32_t kNotAvailable = -25291;
  static constexpr std::int32_t kDuplicateItem = -25299;
  static constexpr std::int32_t kItemNotFound = -25300;

  // The item as the platform's keychain addresses it: class "inet", security domain "sdmn",
  // server "srvr", account "acct" and item type "type".
  static foundation::Dictionary attributesOf(const Item& item);

  virtual ~OAuthKeychain() = default;
  // Reads the item's data into *value.
  virtual std::int32_t find(const Item& item, std::string* value) = 0;
  // As find, and the item's attributes, its data under "v_Data" among them, into *attributes
  // (either may be null). By default the item's address and data; a keychain that keeps more
  // attributes (dates, label) gives them too.
  virtual std::int32_t findItem(const Item& item, std::string* value, foundation::Dictionary* attributes);
  virtual std::int32_t add(const Item& item, std::string_view value) = 0;
  virtual std::int32_t update(const Item& item, std::string_view value) = 0;
  virtual std::int32_t remove(const Item& item) = 0;
};

// Makes one "oauth_nonce" value per call.
using OAuthNonceSource = std::function<std::string()>;
// A new random UUID (from the kernel's random generator) in its 36-character upper-case form.
std::string makeOAuthNonce();

// Reading and clearing the credentials.
class OAuthCredentialStore {
 public:
  virtual ~OAuthCredentialStore() = default;
  virtual std::optional<std::string> credentialNamed(std::string_view name) const = 0;
  virtual foundation::Status discardOAuthCredentials() = 0;
  virtual std::optional<std::string> consumerKey() const = 0;
  virtual std::optional<std::string> consumerSecret() const = 0;
  virtual std::optional<std::string> username() const = 0;
  virtual std::optional<std::string> password() const = 0;
  virtual std::optional<std::string> requestToken() const = 0;
  virtual std::optional<std::string> requestTokenSecret() const = 0;
  virtual std::optional<std::string> accessToken() const = 0;
  virtual std::optional<std::string> accessTokenSecret() const = 0;
};

// Making the "oauth_" parameters and the signing key.
class OAuthParameterFactory {
 public:
  virtual ~OAuthParameterFactory() = default;
  virtual std::vector<OAuthURLRequestParameter> oauthParameters() const = 0;
  virtual OAuthURLRequestParameter oauthConsumerKeyParameter() const = 0;
  virtual std::optional<OAuthURLRequestParameter> oauthTokenParameter() const = 0;
  virtual OAuthURLRequestParameter oauthSignatureMethodParameter() const = 0;
  virtual OAuthURLRequestParameter oauthTimestampParameter() const = 0;
  virtual OAuthURLRequestParameter oauthNonceParameter() const = 0;
  virtual OAuthURLRequestParameter oauthVersionParameter() const = 0;
  virtual std::optional<std::string> signatureMethod() const = 0;
  virtual void setSignatureMethod(std::optional<std::string> method) = 0;
  virtual std::string signingKey() const = 0;
  virtual std::string timestamp() const = 0;
};

class OAuthCredentialConcreteStore : public OAuthCredentialStore, public OAuthParameterFactory {
 public:
  // A store holding a copy of the credentials (string values under the keys above). Time for
  // "oauth_timestamp" comes from the clock, which must outlive the store.
  explicit OAuthCredentialConcreteStore(foundation::Dictionary credentials,
                                        foundation::Clock& clock = foundation::Clock::system());
  // With the service's base URL, which also serves as the authentication URL.
  OAuthCredentialConcreteStore(foundation::Dictionary credentials, std::string baseURL,
                               foundation::Clock& clock = foundation::Clock::system());
  OAuthCredentialConcreteStore(foundation::Dictionary credentials, std::string baseURL,
                               std::string authenticationURL,
                               foundation::Clock& clock = foundation::Clock::system());

  const foundation::Dictionary& store() const { return store_; }
  const std::optional<std::string>& baseURL() const { return baseURL_; }
  const std::optional<std::string>& authenticationURL() const { return authenticationURL_; }

  // Where "oauth_nonce" values come from; makeOAuthNonce unless replaced (tests pin it).
  void setNonceSource(OAuthNonceSource source);
  // The keychain that setCredentialWithName, removeCredentialNamed and clearing a token write to;
  // not owned. Without one, or in a store without base and authentication URLs (whose items would
  // have no host to tell them from other services' items), no keychain item is touched.
  void setKeychain(OAuthKeychain* keychain) { keychain_ = keychain; }
  // A ready parameter to send instead of "oauth_version" = "1.0".
  void setVersionParameter(std::optional<OAuthURLRequestParameter> parameter) {
    versionParameter_ = std::move(parameter);
  }

  // OAuthCredentialStore
  std::optional<std::string> credentialNamed(std::string_view name) const override;
  // Clears request token and secret, access token and secret and session handle, each as its
  // setter does; the first keychain failure is returned after all are cleared.
  foundation::Status discardOAuthCredentials() override;
  std::optional<std::string> consumerKey() const override;
  std::optional<std::string> consumerSecret() const override;
  std::optional<std::string> username() const override;
  std::optional<std::string> password() const override;
  std::optional<std::string> requestToken() const override;
  std::optional<std::string> requestTokenSecret() const override;
  std::optional<std::string> accessToken() const override;
  std::optional<std::string> accessTokenSecret() const override;
  std::optional<std::string> sessionHandle() const;

  // A value is stored under its key; nothing removes the key and the keychain item of that name.
  foundation::Status setRequestToken(std::optional<std::string> value);
  foundation::Status setRequestTokenSecret(std::optional<std::string> value);
  foundation::Status setAccessToken(std::optional<std::string> value);
  foundation::Status setAccessTokenSecret(std::optional<std::string> value);
  foundation::Status setSessionHandle(std::optional<std::string> value);

  // Stores the value and writes the keychain item of that name.
  foundation::Status setCredentialWithName(std::string value, std::string_view name);
  // Removes the key and the keychain item of that name.
  foundation::Status removeCredentialNamed(std::string_view name);

  // The access token secret when there is an access token, else the request token secret when
  // there is a request token, else the empty text.
  std::string tokenSecret() const;

  // Keychain items of this store. Adding or updating fails with kOAuthKeychainDuplicateItem or
  // kOAuthKeychainNotAvailable; removing with kOAuthKeychainParameterError, kOAuthKeychainMemoryError
  // or kOAuthKeychainNotAvailable; other results (a missing item included) count as done.
  foundation::Status addToKeychainUsingNameAndValue(std::string_view name, std::string_view value);
  std::optional<std::string> findValueFromKeychainUsingName(std::string_view name) const;
  // The value, and the matching item's attributes (with its data) into *item when it is not null;
  // nothing (and *item untouched) when there is no such item.
  std::optional<std::string> findValueFromKeychainUsingNameReturningItem(std::string_view name,
                                                                         foundation::Dictionary* item) const;
  foundation::Status removeValueFromKeychainUsingName(std::string_view name);

  // OAuthParameterFactory
  // Consumer key, token (only when there is one), signature method, timestamp, nonce, version.
  std::vector<OAuthURLRequestParameter> oauthParameters() const override;
  OAuthURLRequestParameter oauthConsumerKeyParameter() const override;
  // "oauth_token" = the access token, else the request token; nothing when there is neither.
  std::optional<OAuthURLRequestParameter> oauthTokenParameter() const override;
  OAuthURLRequestParameter oauthSignatureMethodParameter() const override;
  OAuthURLRequestParameter oauthTimestampParameter() const override;
  OAuthURLRequestParameter oauthNonceParameter() const override;
  OAuthURLRequestParameter oauthVersionParameter() const override;
  std::optional<std::string> signatureMethod() const override;
  void setSignatureMethod(std::optional<std::string> method) override;
  // "<escaped consumer secret>&<escaped token secret>" (an absent secret counts as empty).
  std::string signingKey() const override;
  // Whole seconds since 1970-01-01 UTC (the fraction dropped) in decimal; 64 bits wide, so it
  // keeps counting past 2038.
  std::string timestamp() const override;

 private:
  foundation::Status setOrClear(std::string_view key, std::optional<std::string> value);
  std::optional<OAuthKeychain::Item> keychainItem(std::string_view name) const;

  foundation::Dictionary store_;
  std::optional<std::string> baseURL_;
  std::optional<std::string> authenticationURL_;
  foundation::Clock* clock_;
  OAuthNonceSource nonceSource_;
  OAuthKeychain* keychain_ = nullptr;
  std::optional<OAuthURLRequestParameter> versionParameter_;
};

}  // namespace cloud
