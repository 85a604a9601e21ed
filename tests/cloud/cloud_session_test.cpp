// The cloud session: stored credentials in their three forms, users, the keychain item and the
// login hand-back.
#include "cloud/cloud_session.h"

#include <gtest/gtest.h>

#include <memory>

#include "cloud/cloud_keychain.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/keyed_archive.h"
#include "platform/ui/device.h"
#include "support/temp_dir.h"

namespace cloud {
namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using security::Keychain;

constexpr std::string_view kAppKey = "qwv3rtnpa8sdkmz";
constexpr std::string_view kAppSecret = "hxb7ytrefo2lmcu";
constexpr std::string_view kBundleId = "org.example.diary";

std::string k(std::string_view name) { return std::string(name); }

Dictionary user(std::string id, std::string token, std::string secret) {
  return Dictionary{{k(kCloudUserIdKey), std::move(id)},
                    {k(kOAuthCredentialAccessToken), std::move(token)},
                    {k(kOAuthCredentialAccessTokenSecret), std::move(secret)}};
}

class CloudSessionTest : public ::testing::Test {
 protected:
  CloudSessionTest()
      : home_(dir_.path()),
        keychain_(std::make_shared<Keychain>(home_, keychainClock_)),
        defaults_(std::make_shared<runtime::UserDefaults>(dir_ / "defaults.plist")) {
    CloudKeychain::configure(keychain_, kBundleId);
  }
  ~CloudSessionTest() override {
    CloudSession::setSharedSession(nullptr);
    CloudKeychain::configure(nullptr, "");
  }

  std::unique_ptr<CloudSession> start(std::string_view appKey = kAppKey) {
    return std::make_unique<CloudSession>(std::string(appKey), std::string(kAppSecret), "sandbox", defaults_,
                                          clock_);
  }

  Dictionary query() const {
    return Dictionary{{"class", "genp"}, {"svce", "org.example.diary.cloud.auth"}, {"r_Data", true}};
  }

  // Writes the item the way an earlier release left it.
  void storeItem(const Dictionary& contents) {
    auto archived = plist::archiveRootValue(Value(contents));
    ASSERT_TRUE(archived.ok());
    Dictionary attributes = query();
    attributes.erase("r_Data");
    attributes.set("v_Data", *archived);
    ASSERT_EQ(keychain_->add(attributes), Keychain::kSuccess);
  }

  bool hasItem() { return keychain_->copyMatching(query(), nullptr) == Keychain::kSuccess; }

  // The item's dictionary as stored.
  Dictionary storedItem() {
    Value data;
    EXPECT_EQ(keychain_->copyMatching(query(), &data), Keychain::kSuccess);
    if (!data.data()) return {};
    auto root = plist::unarchiveRootValue(*data.data());
    EXPECT_TRUE(root.ok());
    return root.ok() && root->dictionary() ? *root->dictionary() : Dictionary{};
  }

  Dictionary currentForm(Array users) const {
    return Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                      {k(kCloudCredentialVersionKey), 3},
                      {k(kCloudUserCredentialsKey), std::move(users)}};
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  foundation::ManualClock keychainClock_{foundation::Date{100}};
  foundation::ManualClock clock_{foundation::Date{500000000}};
  std::shared_ptr<Keychain> keychain_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
};

TEST_F(CloudSessionTest, AFirstStartIsUnlinkedAndStoresNothing) {
  foundation::ScopedLogCapture log;
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  EXPECT_TRUE(session->userIds().empty());
  EXPECT_EQ(session->root(), "sandbox");
  EXPECT_EQ(session->baseCredentials(), (Dictionary{{"kOAuthCredentialConsumerKey", kAppKey},
                                                    {"kOAuthCredentialConsumerSecret", kAppSecret},
                                                    {"kOAuthSignatureMethod", "PLAINTEXT"}}));
  EXPECT_FALSE(hasItem());
  EXPECT_FALSE(files::exists(keychain_->folder()));
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(CloudSessionTest, AVersionOneItemBecomesTheUnknownUserUntilARealUserArrives) {
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                       {k(kCloudCredentialVersionKey), 1},
                       {k(kOAuthCredentialAccessToken), "old-token"},
                       {k(kOAuthCredentialAccessTokenSecret), "old-secret"}});
  auto session = start();
  ASSERT_EQ(session->userIds(), std::vector<std::string>{"unknown"});
  EXPECT_EQ(session->credentialStoreForUserId("unknown")->accessToken(), "old-token");
  EXPECT_EQ(storedItem(), currentForm(Array{user("unknown", "old-token", "old-secret")}));

  session->updateAccessTokenAccessTokenSecretForUserId("new-token", "new-secret", "1234");
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"1234"});
  EXPECT_EQ(session->credentialStoreForUserId("unknown"), nullptr);
  EXPECT_EQ(storedItem(), currentForm(Array{user("1234", "new-token", "new-secret")}));
}

TEST_F(CloudSessionTest, AVersionTwoItemWithTwoUsersIsRewrittenInTheCurrentForm) {
  Array users{user("111", "t1", "s1"), user("222", "t2", "s2")};
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                       {k(kCloudCredentialVersionKey), 2},
                       {k(kCloudUserCredentialsKey), users}});
  auto session = start();
  EXPECT_EQ(session->userIds(), (std::vector<std::string>{"111", "222"}));
  auto second = session->credentialStoreForUserId("222");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->accessToken(), "t2");
  EXPECT_EQ(second->accessTokenSecret(), "s2");
  EXPECT_EQ(second->consumerKey(), kAppKey);
  EXPECT_EQ(second->signingKey(), "hxb7ytrefo2lmcu&s2");
  EXPECT_EQ(storedItem(), currentForm(users));
}

TEST_F(CloudSessionTest, AnItemWithoutAVersionReadsAsVersionTwo) {
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                       {k(kCloudUserCredentialsKey), Array{user("9", "t", "s")}}});
  auto session = start();
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"9"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("9", "t", "s")}));
}

TEST_F(CloudSessionTest, ACurrentItemIsReadWithoutBeingWritten) {
  storeItem(currentForm(Array{user("9", "t", "s")}));
  keychainClock_.advance(3600);
  auto session = start();
  EXPECT_TRUE(session->isLinked());
  Dictionary attributes{{"class", "genp"}, {"svce", "org.example.diary.cloud.auth"}, {"r_Attributes", true}};
  Value result;
  ASSERT_EQ(keychain_->copyMatching(attributes, &result), Keychain::kSuccess);
  EXPECT_EQ((*result.dictionary())["mdat"], Value(foundation::Date{100}));
}

TEST_F(CloudSessionTest, DamagedEntriesAreSkippedNotLinked) {
  storeItem(Dictionary{
      {k(kOAuthCredentialConsumerKey), kAppKey},
      {k(kCloudCredentialVersionKey), 3},
      {k(kCloudUserCredentialsKey), Array{"not a user", Dictionary{{k(kCloudUserIdKey), "no-token"}},
                                          Dictionary{{k(kCloudUserIdKey), 5},
                                                     {k(kOAuthCredentialAccessToken), "t"},
                                                     {k(kOAuthCredentialAccessTokenSecret), "s"}},
                                          user("ok", "t", "s")}}});
  EXPECT_EQ(start()->userIds(), std::vector<std::string>{"ok"});
}

TEST_F(CloudSessionTest, AVersionOneItemWithoutATokenLinksNobody) {
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey}, {k(kCloudCredentialVersionKey), 1}});
  EXPECT_FALSE(start()->isLinked());
}

TEST_F(CloudSessionTest, AnItemOfAnotherApplicationKeyIsDeletedAtStart) {
  Dictionary other = currentForm(Array{user("9", "t", "s")});
  other.set(k(kOAuthCredentialConsumerKey), "anotherappkey00");
  storeItem(other);
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  EXPECT_FALSE(hasItem());
}

TEST_F(CloudSessionTest, UserDefaultsOfOlderReleasesAreMovedIntoTheKeychainAndRemoved) {
  ASSERT_TRUE(defaults_
                  ->setDictionary(kCloudSavedCredentialsKeyKey,
                                  Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                                             {k(kOAuthCredentialAccessToken), "t0"},
                                             {k(kOAuthCredentialAccessTokenSecret), "s0"}})
                  .ok());
  ASSERT_TRUE(
      defaults_->setDictionary(kCloudSavedCredentialsKey, currentForm(Array{user("77", "t7", "s7")})).ok());
  auto session = start();
  // The real user of the later entry replaces the placeholder of the older one.
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"77"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("77", "t7", "s7")}));
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());
  // Removed on disk as well, not only in memory.
  runtime::UserDefaults reread(dir_ / "defaults.plist");
  EXPECT_TRUE(reread.objectForKey(kCloudSavedCredentialsKey).isNull());
}

TEST_F(CloudSessionTest, UserDefaultsOfAnotherKeyAreRemovedWithoutBeingLoaded) {
  ASSERT_TRUE(defaults_
                  ->setDictionary(kCloudSavedCredentialsKeyKey,
                                  Dictionary{{k(kOAuthCredentialConsumerKey), "other"},
                                             {k(kOAuthCredentialAccessToken), "t0"},
                                             {k(kOAuthCredentialAccessTokenSecret), "s0"}})
                  .ok());
  ASSERT_TRUE(defaults_->setString(kCloudSavedCredentialsKey, "not a dictionary").ok());
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  EXPECT_FALSE(hasItem());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());
}

TEST_F(CloudSessionTest, TheAnonymousStoreIsOneStoreWithTheApplicationsCredentialsOnly) {
  auto session = start();
  auto anonymous = session->credentialStoreForUserId(std::nullopt);
  ASSERT_NE(anonymous, nullptr);
  EXPECT_EQ(session->credentialStoreForUserId(std::nullopt), anonymous);
  EXPECT_EQ(anonymous->consumerKey(), kAppKey);
  EXPECT_EQ(anonymous->signatureMethod(), "PLAINTEXT");
  EXPECT_EQ(anonymous->accessToken(), std::nullopt);
  EXPECT_EQ(session->credentialStoreForUserId("nobody"), nullptr);
  EXPECT_FALSE(session->isLinked());

  session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "42");
  session->unlinkAll();
  EXPECT_EQ(session->credentialStoreForUserId(std::nullopt), anonymous);
}

TEST_F(CloudSessionTest, UnlinkAllForgetsEveryUserAndTheNextStartFindsNoItem) {
  auto session = start();
  session->updateAccessTokenAccessTokenSecretForUserId("t1", "s1", "1");
  session->updateAccessTokenAccessTokenSecretForUserId("t2", "s2", "2");
  ASSERT_TRUE(hasItem());
  session->unlinkAll();
  EXPECT_FALSE(session->isLinked());
  EXPECT_FALSE(hasItem());
  EXPECT_FALSE(start()->isLinked());
}

TEST_F(CloudSessionTest, UnlinkingTheLastUserLeavesAnItemWithNoUsers) {
  auto session = start();
  session->updateAccessTokenAccessTokenSecretForUserId("t1", "s1", "1");
  session->updateAccessTokenAccessTokenSecretForUserId("t2", "s2", "2");
  session->unlinkUserId("1");
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"2"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("2", "t2", "s2")}));
  session->unlinkUserId("2");
  EXPECT_FALSE(session->isLinked());
  EXPECT_EQ(storedItem(), currentForm(Array{}));
  EXPECT_FALSE(start()->isLinked());
}

TEST_F(CloudSessionTest, SettingATokenWithoutSavingLeavesTheItemAlone) {
  auto session = start();
  session->setAccessTokenAccessTokenSecretForUserId("t", "s", "5");
  EXPECT_TRUE(session->isLinked());
  EXPECT_FALSE(hasItem());
  // A second token for the same user replaces the first in the same store.
  auto store = session->credentialStoreForUserId("5");
  session->setAccessTokenAccessTokenSecretForUserId("t2", "s2", "5");
  EXPECT_EQ(session->credentialStoreForUserId("5"), store);
  EXPECT_EQ(store->accessToken(), "t2");
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"5"});
}

TEST_F(CloudSessionTest, TheItemIsReadableAfterTheFirstUnlockFromSystemFourOn) {
  Dictionary attributes{{"class", "genp"}, {"svce", "org.example.diary.cloud.auth"}, {"r_Attributes", true}};
  Value result;
  {
    ui::ScopedDevice device(ui::DeviceProfile::phone667());
    start()->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
    ASSERT_EQ(keychain_->copyMatching(attributes, &result), Keychain::kSuccess);
    EXPECT_EQ((*result.dictionary())["pdmn"], Value("ck"));
    start()->unlinkAll();
  }
  ui::DeviceProfile old = ui::DeviceProfile::phone568();
  old.systemVersion = "3.1.3";
  ui::ScopedDevice device(old);
  start()->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  ASSERT_EQ(keychain_->copyMatching(attributes, &result), Keychain::kSuccess);
  EXPECT_EQ((*result.dictionary())["pdmn"], Value("ak"));
}

TEST_F(CloudSessionTest, KeychainFailuresAreLoggedAndNeverReachTheCaller) {
  // An item whose data is no keyed archive: the session starts unlinked, and the next save replaces it.
  Dictionary attributes{
      {"class", "genp"}, {"svce", "org.example.diary.cloud.auth"}, {"v_Data", foundation::Bytes{1, 2, 3}}};
  ASSERT_EQ(keychain_->add(attributes), Keychain::kSuccess);
  {
    foundation::ScopedLogCapture log;
    auto session = start();
    EXPECT_FALSE(session->isLinked());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"[WARNING] CloudSDK: error reading stored credentials (-26275)"});
    session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  }
  EXPECT_EQ(storedItem(), currentForm(Array{user("1", "t", "s")}));
  EXPECT_TRUE(start()->isLinked());

  // Without a keychain nothing is kept, and every attempt says why.
  CloudKeychain::configure(nullptr, kBundleId);
  foundation::ScopedLogCapture log;
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  EXPECT_TRUE(session->isLinked());
  session->unlinkAll();
  EXPECT_TRUE(log.contains("[WARNING] CloudSDK: error reading stored credentials (-25291)"));
  EXPECT_TRUE(log.contains("[WARNING] CloudSDK: error saving credentials (-25291)"));
  EXPECT_TRUE(log.contains("[WARNING] CloudSDK: error deleting credentials (-25291)"));
}

TEST_F(CloudSessionTest, DeletingAMissingItemIsReported) {
  foundation::ScopedLogCapture log;
  start()->unlinkAll();
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{"[WARNING] CloudSDK: error deleting credentials (-25300)"});
}

TEST_F(CloudSessionTest, TheSharedSessionIsHeldUntilReplaced) {
  EXPECT_EQ(CloudSession::sharedSession(), nullptr);
  std::shared_ptr<CloudSession> first = start();
  std::weak_ptr<CloudSession> watch = first;
  CloudSession::setSharedSession(first);
  CloudSession::setSharedSession(first);
  first.reset();
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(CloudSession::sharedSession(), watch.lock());
  CloudSession::setSharedSession(start());
  EXPECT_TRUE(watch.expired());
  EXPECT_NE(CloudSession::sharedSession(), nullptr);
}

// --- the login hand-back ---------------------------------------------------------------------------

class CloudLinkTest : public CloudSessionTest {
 protected:
  void waitForAnswer(std::string nonce = "5E1B6A4C-55C9-4B0B-8A57-2C1D0A8F9E11") {
    ASSERT_TRUE(defaults_->setString(kCloudLinkNonceKey, nonce).ok());
  }
  static std::string connectURL(std::string_view state = "5E1B6A4C-55C9-4B0B-8A57-2C1D0A8F9E11") {
    return "cloud-qwv3rtnpa8sdkmz://1/"
           "connect?oauth_token=tok%2Fen&oauth_token_secret=sec+ret&uid=31337&state=" +
           std::string(state);
  }
};

TEST_F(CloudLinkTest, AVerifiedAnswerLinksTheUserAndUsesTheNonceUp) {
  auto session = start();
  EXPECT_EQ(session->appScheme(), "cloud-qwv3rtnpa8sdkmz");
  waitForAnswer();
  EXPECT_TRUE(session->handleOpenURL(connectURL()));
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"31337"});
  auto store = session->credentialStoreForUserId("31337");
  EXPECT_EQ(store->accessToken(), "tok/en");
  EXPECT_EQ(store->accessTokenSecret(), "sec+ret");
  EXPECT_EQ(storedItem(), currentForm(Array{user("31337", "tok/en", "sec+ret")}));
  EXPECT_TRUE(defaults_->objectForKey(kCloudLinkNonceKey).isNull());
  EXPECT_TRUE(runtime::UserDefaults(dir_ / "defaults.plist").objectForKey(kCloudLinkNonceKey).isNull());

  // The same answer again finds no nonce and is refused.
  session->unlinkAll();
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(session->handleOpenURL(connectURL()));
  EXPECT_FALSE(session->isLinked());
  EXPECT_EQ(log.messages(), std::vector<std::string>{"[ERROR] unable to verify link request"});
}

TEST_F(CloudLinkTest, AnAnswerToAnotherAttemptIsRefusedAndUsesTheNonceUp) {
  auto session = start();
  waitForAnswer();
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(session->handleOpenURL(connectURL("00000000-0000-0000-0000-000000000000")));
  EXPECT_FALSE(session->isLinked());
  EXPECT_FALSE(hasItem());
  EXPECT_TRUE(defaults_->objectForKey(kCloudLinkNonceKey).isNull());
  EXPECT_TRUE(log.contains("[ERROR] unable to verify link request"));

  waitForAnswer();
  EXPECT_FALSE(
      session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/connect?oauth_token=t&oauth_token_secret=s&uid=1"));
  EXPECT_FALSE(session->isLinked());
}

TEST_F(CloudLinkTest, AVerifiedAnswerWithoutCredentialsLinksNobody) {
  auto session = start();
  for (std::string query :
       {"oauth_token_secret=s&uid=1", "oauth_token=t&uid=1", "oauth_token=t&oauth_token_secret=s",
        "oauth_token=&oauth_token_secret=s&uid=1", "oauth_token=%zz&oauth_token_secret=s&uid=1"}) {
    waitForAnswer("N");
    foundation::ScopedLogCapture log;
    EXPECT_FALSE(session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/connect?" + query + "&state=N")) << query;
    EXPECT_FALSE(session->isLinked()) << query;
    EXPECT_TRUE(log.contains("[ERROR]")) << query;
  }
}

TEST_F(CloudLinkTest, ACancelledLinkIsTakenAndChangesNothing) {
  auto session = start();
  waitForAnswer();
  foundation::ScopedLogCapture log;
  EXPECT_TRUE(session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/cancel"));
  EXPECT_FALSE(session->isLinked());
  EXPECT_TRUE(log.messages().empty());  // logged at INFO, below what is printed
  // The nonce waits for the next attempt.
  EXPECT_FALSE(defaults_->objectForKey(kCloudLinkNonceKey).isNull());
  // Any other path of the hand-back is taken too, and changes nothing.
  EXPECT_TRUE(session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/"));
  EXPECT_TRUE(session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/somewhere/else?uid=3"));
  EXPECT_FALSE(session->isLinked());
  // The action is the first path component; a fragment is not part of the query.
  EXPECT_TRUE(session->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1//connect/more?" +
                                     connectURL().substr(connectURL().find('?') + 1) + "#frag"));
  EXPECT_EQ(session->userIds(), std::vector<std::string>{"31337"});
}

TEST_F(CloudLinkTest, URLsThatAreNotThisApplicationsHandBackAreNotTaken) {
  auto session = start();
  waitForAnswer();
  for (std::string url : {"https://www.example.com/connect", "cloud-otherkey0000000://1/connect?state=x",
                          "cloud-qwv3rtnpa8sdkmz://2/connect", "cloud-qwv3rtnpa8sdkmz://1",
                          "cloud-qwv3rtnpa8sdkmz:", "CLOUD-qwv3rtnpa8sdkmz://1/cancel", ""}) {
    EXPECT_FALSE(session->handleOpenURL(url)) << url;
  }
  // The nonce is untouched by URLs that are not hand-backs.
  EXPECT_FALSE(defaults_->objectForKey(kCloudLinkNonceKey).isNull());
}

TEST(CloudURLParams, SplitsAtAmpersandsAndTheFirstEquals) {
  EXPECT_EQ(
      CloudSession::parseURLParams("a=1&b=x%20y&c=p+q&d=e=f&flag&=v&e=caf%C3%A9"),
      (Dictionary{{"a", "1"}, {"b", "x y"}, {"c", "p+q"}, {"d", "e=f"}, {"", "v"}, {"e", "caf\xC3\xA9"}}));
  EXPECT_EQ(CloudSession::parseURLParams(""), Dictionary{});
  // Names are taken as written; values whose escapes do not decode are left out; the last one wins.
  EXPECT_EQ(CloudSession::parseURLParams("n%41me=1&bad=%4&worse=%ZZ&notutf8=%FF&n%41me=2"),
            (Dictionary{{"n%41me", "2"}}));
}

}  // namespace
}  // namespace cloud
