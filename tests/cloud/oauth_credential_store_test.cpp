// Credentials, the "oauth_" parameters, the signing key and the keychain items of a store.
#include "cloud/oauth_credential_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <tuple>

#include "cloud/oauth_errors.h"

namespace cloud {
namespace {

using foundation::Date;
using foundation::Dictionary;
using foundation::ManualClock;

Dictionary appCredentials(std::string secret = "kd94hf93k423kf44") {
  return Dictionary{{std::string(kOAuthCredentialConsumerKey), "dpf43f3p2l4k3l03"},
                    {std::string(kOAuthCredentialConsumerSecret), secret},
                    {std::string(kOAuthSignatureMethod), "PLAINTEXT"}};
}

std::vector<std::string> names(const std::vector<OAuthURLRequestParameter>& parameters) {
  std::vector<std::string> out;
  for (const auto& p : parameters) out.push_back(p.name);
  return out;
}

// Internet-password items in memory; a test can make the next operations answer a given status.
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
    if (!items.emplace(key(item), std::string(value)).second) return kDuplicateItem;
    return kSuccess;
  }
  std::int32_t update(const Item& item, std::string_view value) override {
    ++calls;
    ++updates;
    items[key(item)] = std::string(value);
    return kSuccess;
  }
  std::int32_t remove(const Item& item) override {
    ++calls;
    if (removeStatus != kSuccess) return removeStatus;
    return items.erase(key(item)) ? kSuccess : kItemNotFound;
  }

  std::map<Key, std::string> items;
  std::int32_t addStatus = kSuccess;
  std::int32_t removeStatus = kSuccess;
  int calls = 0;
  int updates = 0;
};

TEST(OAuthCredentialStore, ReadsWhatItWasGivenAndCopiesIt) {
  Dictionary given = appCredentials();
  OAuthCredentialConcreteStore store(given);
  given.set(std::string(kOAuthCredentialConsumerKey), "changed");
  EXPECT_EQ(store.consumerKey(), "dpf43f3p2l4k3l03");
  EXPECT_EQ(store.consumerSecret(), "kd94hf93k423kf44");
  EXPECT_EQ(store.signatureMethod(), "PLAINTEXT");
  EXPECT_EQ(store.accessToken(), std::nullopt);
  EXPECT_EQ(store.credentialNamed("kOAuthCredentialConsumerKey"), "dpf43f3p2l4k3l03");
  EXPECT_EQ(store.baseURL(), std::nullopt);

  store.setSignatureMethod("HMAC-SHA1");
  EXPECT_EQ(store.oauthSignatureMethodParameter(),
            OAuthURLRequestParameter("oauth_signature_method", "HMAC-SHA1"));
}

TEST(OAuthCredentialStore, SigningKeyEscapesBothSecrets) {
  OAuthCredentialConcreteStore store(appCredentials("a b"));
  EXPECT_EQ(store.signingKey(), "a%20b&");

  OAuthCredentialConcreteStore app(appCredentials());
  EXPECT_EQ(app.signingKey(), "kd94hf93k423kf44&");
  ASSERT_TRUE(app.setRequestToken("hh5s93j4hdidpola").ok());
  ASSERT_TRUE(app.setRequestTokenSecret("hdhd0244k9j7ao03").ok());
  EXPECT_EQ(app.signingKey(), "kd94hf93k423kf44&hdhd0244k9j7ao03");
  // The access token's secret wins over the request token's.
  ASSERT_TRUE(app.setAccessToken("nnch734d00sl2jdk").ok());
  ASSERT_TRUE(app.setAccessTokenSecret("pf&k/i").ok());
  EXPECT_EQ(app.signingKey(), "kd94hf93k423kf44&pf%26k%2Fi");

  OAuthCredentialConcreteStore noSecret(Dictionary{});
  EXPECT_EQ(noSecret.signingKey(), "&");
}

TEST(OAuthCredentialStore, TokenSecretFollowsTheTokenThatIsPresent) {
  OAuthCredentialConcreteStore store(appCredentials());
  ASSERT_TRUE(store.setAccessTokenSecret("orphan").ok());
  EXPECT_EQ(store.tokenSecret(), "");  // a secret without its token does not count
  ASSERT_TRUE(store.setRequestToken("r").ok());
  ASSERT_TRUE(store.setRequestTokenSecret("rs").ok());
  EXPECT_EQ(store.tokenSecret(), "rs");
  ASSERT_TRUE(store.setAccessToken("a").ok());
  EXPECT_EQ(store.tokenSecret(), "orphan");
  EXPECT_EQ(store.oauthTokenParameter(), OAuthURLRequestParameter("oauth_token", "a"));
}

TEST(OAuthCredentialStore, OAuthParametersComeInTheirOrder) {
  ManualClock clock(Date::fromUnix(1191242096.75));
  OAuthCredentialConcreteStore store(appCredentials(), clock);
  store.setNonceSource([] { return std::string("kllo9940pd9333jh"); });

  auto withoutToken = store.oauthParameters();
  EXPECT_EQ(names(withoutToken),
            (std::vector<std::string>{"oauth_consumer_key", "oauth_signature_method", "oauth_timestamp",
                                      "oauth_nonce", "oauth_version"}));
  EXPECT_EQ(withoutToken[0].value, "dpf43f3p2l4k3l03");
  EXPECT_EQ(withoutToken[1].value, "PLAINTEXT");
  EXPECT_EQ(withoutToken[2].value, "1191242096");  // the fraction is dropped
  EXPECT_EQ(withoutToken[3].value, "kllo9940pd9333jh");
  EXPECT_EQ(withoutToken[4].value, "1.0");

  ASSERT_TRUE(store.setAccessToken("nnch734d00sl2jdk").ok());
  auto withToken = store.oauthParameters();
  ASSERT_EQ(withToken.size(), 6u);
  EXPECT_EQ(withToken[1], OAuthURLRequestParameter("oauth_token", "nnch734d00sl2jdk"));

  store.setVersionParameter(OAuthURLRequestParameter("oauth_version", "1.0a"));
  EXPECT_EQ(store.oauthParameters().back().value, "1.0a");
}

TEST(OAuthCredentialStore, TimestampsFollowTheClockPast2038) {
  ManualClock clock(Date::fromUnix(2147483647));
  OAuthCredentialConcreteStore store(appCredentials(), clock);
  EXPECT_EQ(store.timestamp(), "2147483647");
  clock.advance(1);
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
  std::string a = *store.oauthNonceParameter().value;
  std::string b = *store.oauthNonceParameter().value;
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(a[i], '-');
    } else {
      EXPECT_TRUE((a[i] >= '0' && a[i] <= '9') || (a[i] >= 'A' && a[i] <= 'F')) << a;
    }
  }
  EXPECT_EQ(a[14], '4');  // a random (version 4) UUID
}

TEST(OAuthCredentialStore, ClearingATokenRemovesItsKey) {
  OAuthCredentialConcreteStore store(appCredentials());
  ASSERT_TRUE(store.setAccessToken("t").ok());
  ASSERT_TRUE(store.setAccessTokenSecret("s").ok());
  ASSERT_TRUE(store.setSessionHandle("h").ok());
  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_FALSE(store.store().contains(kOAuthCredentialAccessToken));
  EXPECT_EQ(store.oauthTokenParameter(), std::nullopt);

  ASSERT_TRUE(store.discardOAuthCredentials().ok());
  EXPECT_EQ(store.store().size(), 3u);  // only the application's credentials stay
  EXPECT_EQ(store.sessionHandle(), std::nullopt);
}

TEST(OAuthCredentialStore, KeychainItemsAreAddressedByBothHostsAndTheName) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/1",
                                     "https://www.example.com/auth");
  store.setKeychain(&keychain);

  ASSERT_TRUE(store.setCredentialWithName("tok", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.items.at({"www.example.com", "api.example.com", "kOAuthCredentialAccessToken"}), "tok");
  EXPECT_EQ(store.accessToken(), "tok");
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), "tok");

  // An existing item is updated rather than added twice.
  ASSERT_TRUE(store.setCredentialWithName("tok2", kOAuthCredentialAccessToken).ok());
  EXPECT_EQ(keychain.updates, 1);
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), "tok2");

  ASSERT_TRUE(store.setAccessToken(std::nullopt).ok());
  EXPECT_TRUE(keychain.items.empty());
  EXPECT_EQ(store.findValueFromKeychainUsingName(kOAuthCredentialAccessToken), std::nullopt);
  // Removing an item that is not there is not a failure.
  EXPECT_TRUE(store.removeCredentialNamed(kOAuthCredentialRequestToken).ok());
}

TEST(OAuthCredentialStore, KeychainFailuresCarryTheirNamesAndTexts) {
  FakeKeychain keychain;
  OAuthCredentialConcreteStore store(appCredentials(), "https://api.example.com/");
  store.setKeychain(&keychain);

  keychain.addStatus = OAuthKeychain::kDuplicateItem;
  auto duplicate = store.addToKeychainUsingNameAndValue("kOAuthCredentialRequestToken", "x");
  ASSERT_FALSE(duplicate.ok());
  EXPECT_EQ(duplicate.error().domain, "Keychain duplicate item exception");
  EXPECT_EQ(duplicate.error().localizedDescription(), "Item already exists for kOAuthCredentialRequestToken");

  keychain.addStatus = OAuthKeychain::kNotAvailable;
  auto unavailable = store.setCredentialWithName("x", "name");
  ASSERT_FALSE(unavailable.ok());
  EXPECT_EQ(unavailable.error().domain, "Keychain Not Available");
  EXPECT_EQ(unavailable.error().localizedDescription(), "Keychain Access Not Currently Available");
  EXPECT_EQ(unavailable.error().code, OAuthKeychain::kNotAvailable);

  keychain.addStatus = -1;  // any other result is not reported
  EXPECT_TRUE(store.setCredentialWithName("x", "name").ok());

  keychain.removeStatus = OAuthKeychain::kParam;
  auto param = store.removeCredentialNamed("kOAuthCredentialSessionHandle");
  ASSERT_FALSE(param.ok());
  EXPECT_EQ(param.error().domain, "Keychain parameter error");
  EXPECT_EQ(
      param.error().localizedDescription(),
      "One or more parameters passed to the function were not valid from kOAuthCredentialSessionHandle");

  keychain.removeStatus = OAuthKeychain::kAllocate;
  auto memory = store.discardOAuthCredentials();
  ASSERT_FALSE(memory.ok());
  EXPECT_EQ(memory.error().domain, "Keychain memory error");
  EXPECT_EQ(memory.error().localizedDescription(), "Failed to allocate memory");
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
