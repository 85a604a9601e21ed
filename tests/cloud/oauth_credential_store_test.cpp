// Credentials, the "oauth_" parameters, the signing key and the keychain items of a store.
#include "cloud/oauth_credential_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <regex>
#include <tuple>

#include "cloud/oauth_errors.h"

namespace cloud {
namespace {

using foundation::Date;
using foundation::Dictionary;
using foundation::ManualClock;
using Param = OAuthURLRequestParameter;

Dictionary appCredentials(std::string secret = "kd94hf93k423kf44") {
  return Dictionary{{std::string(kOAuthCredentialConsumerKey), "dpf43f3p2l4k3l03"},
                    {std::string(kOAuthCredentialConsumerSecret), secret},
                    {std::string(kOAuthSignatureMethod), "PLAINTEXT"}};
}

// Internet-password items in memory; a test can make adding or removing answer a given status.
class FakeKeychain : public OAuthKeychain {
 public:
  using Key = std::tuple<std::string, std::string, std::string>;
  static Key key(const Item& item) { return {item.securityDomain, item.server, item.account}; }

  std::int32_t find(const Item& item, std::string* value) override {
    ++calls;
    auto it = items.find(key(item));
    if (it == items.end()) return kItemNotFound;
    *value = it->second;
    return kSuccess;
  }
  std::int32_t add(const Item& item, std::string_view value) override {
    ++calls;
    if (addStatus != kSuccess) return addStatus;
    return items.emplace(key(item), value).second ? kSuccess : kDuplicateItem;
  }
  std::int32_t update(const Item& item, std::string_view value) override {
    ++calls, ++updates;
    items[key(item)] = value;
    return kSuccess;
  }
  std::int32_t remove(const Item& item) override {
    ++calls;
    if (removeStatus != kSuccess) return removeStatus;
    return items.erase(key(item)) ? kSuccess : kItemNotFound;
  }

  std::map<Key, std::string> items;
  std::int32_t addStatus = kSuccess, removeStatus = kSuccess;
  int calls = 0, updates = 0;
};

TEST(OAuthCredentialStore, CopiesWhatItWasGivenAndMakesTheSigningKeyFromThePresentToken) {
  Dictionary given = appCredentials();
  OAuthCredentialConcreteStore store(given);
  given.set(std::string(kOAuthCredentialConsumerKey), "changed");
  EXPECT_EQ(store.consumerKey(), "dpf43f3p2l4k3l03");
  EXPECT_EQ(store.credentialNamed("kOAuthCredentialConsumerSecret"), "kd94hf93k423kf44");
  EXPECT_EQ(store.accessToken(), std::nullopt);
  EXPECT_EQ(store.baseURL(), std::nullopt);
  store.setSignatureMethod("HMAC-SHA1");
  EXPECT_EQ(store.oauthSignatureMethodParameter(), Param("oauth_signature_method", "HMAC-SHA1"));
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&");
  EXPECT_EQ(OAuthCredentialConcreteStore(appCredentials("a b")).signingKey(), "a%20b&");
  EXPECT_EQ(OAuthCredentialConcreteStore(Dictionary{}).signingKey(), "&");

  ASSERT_TRUE(store.setAccessTokenSecret("pf&k/i").ok());
  EXPECT_EQ(store.tokenSecret(), "");  // a secret without its token does not count
  ASSERT_TRUE(store.setRequestToken("hh5s93j4hdidpola").ok());
  ASSERT_TRUE(store.setRequestTokenSecret("hdhd0244k9j7ao03").ok());
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&hdhd0244k9j7ao03");
  // The access token's secret wins over the request token's.
  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  EXPECT_EQ(store.signingKey(), "kd94hf93k423kf44&pf%26k%2Fi");
  EXPECT_EQ(store.oauthTokenParameter(), Param("oauth_token", "nnch734d00sl2jdk"));

  // Clearing a token removes its key; discarding keeps only the application's credentials.
  ASSERT_TRUE(store.setSessionHandle("h").ok());
  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_FALSE(store.store().contains(kOAuthCredentialAccessToken));
  EXPECT_EQ(store.oauthTokenParameter(), Param("oauth_token", "hh5s93j4hdidpola"));
  ASSERT_TRUE(store.discardOAuthCredentials().ok());
  EXPECT_EQ(store.store().size(), 3u);
  EXPECT_EQ(store.sessionHandle(), std::nullopt);
  EXPECT_EQ(store.oauthTokenParameter(), std::nullopt);
}

TEST(OAuthCredentialStore, OAuthParametersComeInTheirOrderWithTimestampsPast2038) {
  ManualClock clock(Date::fromUnix(1191242096.75));
  OAuthCredentialConcreteStore store(appCredentials(), clock);
  store.setNonceSource([] { return std::string("kllo9940pd9333jh"); });
  EXPECT_EQ(store.oauthParameters(), (std::vector<Param>{{"oauth_consumer_key", "dpf43f3p2l4k3l03"},
                                                         {"oauth_signature_method", "PLAINTEXT"},
                                                         {"oauth_timestamp", "1191242096"},  // no fraction
                                                         {"oauth_nonce", "kllo9940pd9333jh"},
                                                         {"oauth_version", "1.0"}}));
  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  store.setVersionParameter(Param("oauth_version", "1.0a"));
  auto withToken = store.oauthParameters();
  ASSERT_EQ(withToken.size(), 6u);
  EXPECT_EQ(withToken[1], Param("oauth_token", "nnch734d00sl2jdk"));
  EXPECT_EQ(withToken.back().value, "1.0a");

  clock.set(Date::fromUnix(2147483648));
  EXPECT_EQ(store.timestamp(), "2147483648");
  clock.set(Date::fromUnix(4102444800.5));  // 2100-01-01
  EXPECT_EQ(store.timestamp(), "4102444800");
  clock.set(Date{std::numeric_limits<double>::quiet_NaN()});
  EXPECT_EQ(store.timestamp(), "0");
  clock.set(Date{1e300});
  EXPECT_FALSE(store.timestamp().empty());
}

TEST(OAuthCredentialStore, NoncesAreFreshRandomUuids) {
  OAuthCredentialConcreteStore store(appCredentials());
  const std::string a = *store.oauthNonceParameter().value;
  EXPECT_NE(a, *store.oauthNonceParameter().value);
  // A random (version 4) UUID in upper case.
  EXPECT_TRUE(
      std::regex_match(a, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << a;
}

TEST(OAuthCredentialStore, KeychainItemsAreAddressedByBothHostsAndTheName) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/1",
                                     "https://www.example.com/auth");
  store.setKeychain(&keychain);
  ASSERT_TRUE(store.setCredentialWithName("tok", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.items.at({"www.example.com", "api.example.com", "kOAuthCredentialAccessToken"}), "tok");
  EXPECT_EQ(store.accessToken(), "tok");
  // An existing item is updated rather than added twice.
  ASSERT_TRUE(store.setCredentialWithName("tok2", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.updates, 1);
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), "tok2");

  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_TRUE(keychain.items.empty());
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), std::nullopt);
  // Removing an item that is not there is not a failure.
  EXPECT_TRUE(store.removeCredentialNamed(kOAuthCredentialRequestToken).ok());
  EXPECT_TRUE(store.removeValueFromKeychainUsingName(kOAuthCredentialRequestToken).ok());
}

TEST(OAuthCredentialStore, KeychainFailuresCarryTheirNamesAndTexts) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/");
  store.setKeychain(&keychain);
  auto expectError = [](const foundation::Status& status, std::string_view domain, std::string_view text) {
    ASSERT_FALSE(status.ok()) << domain;
    EXPECT_EQ(status.error().domain, domain);
    EXPECT_EQ(status.error().localizedDescription(), text);
  };

  keychain.addStatus = OAuthKeychain::kDuplicateItem;
  expectError(store.addToKeychainUsingNameAndValue("kOAuthCredentialRequestToken", "x"),
              "Keychain duplicate item exception", "Item already exists for kOAuthCredentialRequestToken");
  keychain.addStatus = OAuthKeychain::kNotAvailable;
  auto unavailable = store.setCredentialWithName("x", "name");
  expectError(unavailable, "Keychain Not Available", "Keychain Access Not Currently Available");
  EXPECT_EQ(unavailable.error().code, OAuthKeychain::kNotAvailable);
  keychain.addStatus = -1;  // any other result is not reported
  EXPECT_TRUE(store.setCredentialWithName("x", "name").ok());

  keychain.removeStatus = OAuthKeychain::kParam;
  expectError(
      store.removeCredentialNamed("kOAuthCredentialSessionHandle"), "Keychain parameter error",
      "One or more parameters passed to the function were not valid from kOAuthCredentialSessionHandle");
  keychain.removeStatus = OAuthKeychain::kAllocate;
  expectError(store.discardOAuthCredentials(), "Keychain memory error", "Failed to allocate memory");
}

TEST(OAuthCredentialStore, AStoreWithoutURLsLeavesTheKeychainAlone) {
  FakeKeychain keychain;
  keychain.items[{"", "", "kOAuthCredentialAccessToken"}] = "someone else's";
  OAuthCredentialConcreteStore store(appCredentials());
  store.setKeychain(&keychain);
  ASSERT_TRUE(store.setAccessToken("t").ok());
  ASSERT_TRUE(store.setCredentialWithName("v", "kOAuthCredentialUsername").ok());
  ASSERT_TRUE(store.discardOAuthCredentials().ok());
  EXPECT_EQ(keychain.calls, 0);
  EXPECT_EQ(keychain.items.size(), 1u);
}

}  // namespace
}  // namespace cloud
