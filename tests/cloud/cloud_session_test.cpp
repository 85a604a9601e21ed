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
using Ids = std::vector<std::string>;

constexpr std::string_view kAppKey = "qwv3rtnpa8sdkmz";
constexpr std::string_view kAppSecret = "hxb7ytrefo2lmcu";

std::string k(std::string_view name) { return std::string(name); }

Dictionary user(std::string id, std::string token, std::string secret) {
  return Dictionary{{k(kCloudUserIdKey), std::move(id)},
                    {k(kOAuthCredentialAccessToken), std::move(token)},
                    {k(kOAuthCredentialAccessTokenSecret), std::move(secret)}};
}

// The item as a given version wrote it; version 0 writes no version.
Dictionary stored(int version, Value users, std::string_view appKey = kAppKey) {
  Dictionary item{{k(kOAuthCredentialConsumerKey), appKey}, {k(kCloudUserCredentialsKey), std::move(users)}};
  if (version) item.set(k(kCloudCredentialVersionKey), version);
  return item;
}

Dictionary currentForm(Array users) { return stored(3, std::move(users)); }

// The user-defaults entry of the oldest releases: one token, no user.
Dictionary olderEntry(std::string_view appKey = kAppKey) {
  return Dictionary{{k(kOAuthCredentialConsumerKey), appKey},
                    {k(kOAuthCredentialAccessToken), "t0"},
                    {k(kOAuthCredentialAccessTokenSecret), "s0"}};
}

class CloudSessionTest : public ::testing::Test {
 protected:
  CloudSessionTest()
      : home_(dir_.path()),
        keychain_(std::make_shared<Keychain>(home_, keychainClock_)),
        defaults_(std::make_shared<runtime::UserDefaults>(dir_ / "defaults.plist")) {
    CloudKeychain::configure(keychain_, "org.example.diary");
  }
  ~CloudSessionTest() override {
    CloudSession::setSharedSession(nullptr);
    CloudKeychain::configure(nullptr, "");
  }

  std::unique_ptr<CloudSession> start() {
    return std::make_unique<CloudSession>(k(kAppKey), k(kAppSecret), "sandbox", defaults_, clock_);
  }

  Dictionary query(std::string_view what = "r_Data") const {
    return Dictionary{{"class", "genp"}, {"svce", "org.example.diary.cloud.auth"}, {k(what), true}};
  }

  // Writes the item the way an earlier release left it.
  static void storeItem(const Dictionary& contents) { CloudKeychain::setCredentials(contents); }

  bool hasItem() { return keychain_->copyMatching(query(), nullptr) == Keychain::kSuccess; }

  // The item's dictionary as stored.
  Dictionary storedItem() {
    Value data;
    EXPECT_EQ(keychain_->copyMatching(query(), &data), Keychain::kSuccess);
    if (!data.data()) return {};
    auto root = plist::unarchiveRootValue(*data.data());
    return root.ok() && root->dictionary() ? *root->dictionary() : Dictionary{};
  }

  // An attribute of the item ("mdat", "pdmn").
  Value attribute(std::string_view name) {
    Value result;
    EXPECT_EQ(keychain_->copyMatching(query("r_Attributes"), &result), Keychain::kSuccess);
    return result.dictionary() ? (*result.dictionary())[name] : Value();
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  foundation::ManualClock keychainClock_{foundation::Date{100}};
  foundation::ManualClock clock_{foundation::Date{500000000}};
  std::shared_ptr<Keychain> keychain_;
  std::shared_ptr<runtime::UserDefaults> defaults_;
};

TEST_F(CloudSessionTest, AFirstStartIsUnlinkedStoresNothingAndHasOneAnonymousStore) {
  foundation::ScopedLogCapture log;
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  EXPECT_EQ(session->root(), "sandbox");
  EXPECT_EQ(session->baseCredentials(), (Dictionary{{"kOAuthCredentialConsumerKey", kAppKey},
                                                    {"kOAuthCredentialConsumerSecret", kAppSecret},
                                                    {"kOAuthSignatureMethod", "PLAINTEXT"}}));
  EXPECT_FALSE(files::exists(keychain_->folder()));
  EXPECT_TRUE(log.messages().empty());
  session->unlinkAll();
  EXPECT_EQ(log.messages(), Ids{"[WARNING] CloudSDK: error deleting credentials (-25300)"});

  auto anonymous = session->credentialStoreForUserId(std::nullopt);
  ASSERT_NE(anonymous, nullptr);
  EXPECT_EQ(anonymous->consumerKey(), kAppKey);
  EXPECT_EQ(anonymous->signatureMethod(), "PLAINTEXT");
  EXPECT_EQ(anonymous->accessToken(), std::nullopt);
  EXPECT_EQ(session->credentialStoreForUserId("nobody"), nullptr);
  session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "42");
  session->unlinkAll();  // forgets every user, deletes the item and keeps the anonymous store
  EXPECT_FALSE(session->isLinked());
  EXPECT_EQ(session->credentialStoreForUserId(std::nullopt), anonymous);
  EXPECT_FALSE(hasItem());
  EXPECT_FALSE(start()->isLinked());
}

TEST_F(CloudSessionTest, OlderKeychainFormsAreReadAndRewrittenInTheCurrentForm) {
  const Array two{user("111", "t1", "s1"), user("222", "t2", "s2")};
  for (int version : {0, 2}) {
    storeItem(stored(version, two));
    auto session = start();
    EXPECT_EQ(session->userIds(), (Ids{"111", "222"})) << version;
    EXPECT_EQ(storedItem(), currentForm(two)) << version;
    (void)CloudKeychain::deleteCredentials();
  }

  // Version 1 held one token and no user: it stays as the unknown user until a real user arrives.
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey},
                       {k(kCloudCredentialVersionKey), 1},
                       {k(kOAuthCredentialAccessToken), "old-token"},
                       {k(kOAuthCredentialAccessTokenSecret), "old-secret"}});
  auto session = start();
  ASSERT_EQ(session->userIds(), Ids{"unknown"});
  auto store = session->credentialStoreForUserId("unknown");
  EXPECT_EQ(store->accessTokenSecret(), "old-secret");
  EXPECT_EQ(store->signingKey(), "hxb7ytrefo2lmcu&old-secret");
  EXPECT_EQ(storedItem(), currentForm(Array{user("unknown", "old-token", "old-secret")}));
  session->updateAccessTokenAccessTokenSecretForUserId("new-token", "new-secret", "1234");
  EXPECT_EQ(session->userIds(), Ids{"1234"});
  EXPECT_EQ(session->credentialStoreForUserId("unknown"), nullptr);
  EXPECT_EQ(storedItem(), currentForm(Array{user("1234", "new-token", "new-secret")}));

  // A current item is read without being written.
  keychainClock_.advance(3600);
  EXPECT_TRUE(start()->isLinked());
  EXPECT_EQ(attribute("mdat"), Value(foundation::Date{100}));
}

TEST_F(CloudSessionTest, DamagedTokenlessOrForeignItemsLinkNobody) {
  storeItem(currentForm(Array{"not a user", Dictionary{{k(kCloudUserIdKey), "no-token"}},
                              Dictionary{{k(kCloudUserIdKey), 5},
                                         {k(kOAuthCredentialAccessToken), "t"},
                                         {k(kOAuthCredentialAccessTokenSecret), "s"}},
                              user("ok", "t", "s")}));
  EXPECT_EQ(start()->userIds(), Ids{"ok"});
  storeItem(Dictionary{{k(kOAuthCredentialConsumerKey), kAppKey}, {k(kCloudCredentialVersionKey), 1}});
  EXPECT_FALSE(start()->isLinked());

  // Tokens of another application are deleted at start.
  storeItem(stored(3, Array{user("9", "t", "s")}, "anotherappkey00"));
  EXPECT_FALSE(start()->isLinked());
  EXPECT_FALSE(hasItem());
}

TEST_F(CloudSessionTest, UserDefaultsOfOlderReleasesAreMovedIntoTheKeychainAndRemoved) {
  // Entries of another key, or of the wrong type, are removed without being loaded.
  ASSERT_TRUE(defaults_->setDictionary(kCloudSavedCredentialsKeyKey, olderEntry("other")).ok());
  ASSERT_TRUE(defaults_->setString(kCloudSavedCredentialsKey, "not a dictionary").ok());
  EXPECT_FALSE(start()->isLinked());
  EXPECT_FALSE(hasItem());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());

  ASSERT_TRUE(defaults_->setDictionary(kCloudSavedCredentialsKeyKey, olderEntry(kAppKey)).ok());
  ASSERT_TRUE(
      defaults_->setDictionary(kCloudSavedCredentialsKey, currentForm(Array{user("77", "t7", "s7")})).ok());
  // The real user of the later entry replaces the placeholder of the older one.
  EXPECT_EQ(start()->userIds(), Ids{"77"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("77", "t7", "s7")}));
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull());
  // Removed on disk as well, not only in memory.
  EXPECT_TRUE(
      runtime::UserDefaults(dir_ / "defaults.plist").objectForKey(kCloudSavedCredentialsKey).isNull());
}

TEST_F(CloudSessionTest, SettingATokenDoesNotSaveAndUnlinkingOneUserSavesTheRest) {
  auto session = start();
  session->setAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  EXPECT_TRUE(session->isLinked());
  EXPECT_FALSE(hasItem());
  // A second token for the same user replaces the first in the same store.
  auto store = session->credentialStoreForUserId("1");
  session->updateAccessTokenAccessTokenSecretForUserId("t1", "s1", "1");
  session->updateAccessTokenAccessTokenSecretForUserId("t2", "s2", "2");
  EXPECT_EQ(session->credentialStoreForUserId("1"), store);
  EXPECT_EQ(store->accessToken(), "t1");
  session->unlinkUserId("1");
  EXPECT_EQ(session->userIds(), Ids{"2"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("2", "t2", "s2")}));
  session->unlinkUserId("2");
  EXPECT_FALSE(session->isLinked());
  EXPECT_EQ(storedItem(), currentForm(Array{}));
  EXPECT_FALSE(start()->isLinked());
}

TEST_F(CloudSessionTest, TheItemIsReadableAfterTheFirstUnlockFromSystemFourOn) {
  {
    ui::ScopedDevice device(ui::DeviceProfile::phone667());
    start()->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
    EXPECT_EQ(attribute("pdmn"), Value("ck"));
    start()->unlinkAll();
  }
  ui::DeviceProfile old = ui::DeviceProfile::phone568();
  old.systemVersion = "3.1.3";
  ui::ScopedDevice device(old);
  start()->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  EXPECT_EQ(attribute("pdmn"), Value("ak"));
}

TEST_F(CloudSessionTest, WithoutAKeychainNothingIsKeptAndEveryAttemptSaysWhy) {
  CloudKeychain::configure(nullptr, "org.example.diary");
  foundation::ScopedLogCapture log;
  auto session = start();
  EXPECT_FALSE(session->isLinked());
  session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
  EXPECT_TRUE(session->isLinked());
  session->unlinkAll();
  EXPECT_EQ(log.messages(), (Ids{"[WARNING] CloudSDK: error reading stored credentials (-25291)",
                                 "[WARNING] CloudSDK: error saving credentials (-25291)",
                                 "[WARNING] CloudSDK: error deleting credentials (-25291)"}));
}

TEST_F(CloudSessionTest, LeftoversOfOlderReleasesMergeWithTheKeychainAndNeverReplaceIt) {
  // What a migration interrupted after its write leaves: the item in the current form, and the
  // user-defaults entries it came from (with an older token for user 1) still there.
  storeItem(currentForm(Array{user("1", "t1", "s1"), user("2", "t2", "s2")}));
  ASSERT_TRUE(defaults_->setDictionary(kCloudSavedCredentialsKeyKey, olderEntry()).ok());
  ASSERT_TRUE(defaults_
                  ->setDictionary(kCloudSavedCredentialsKey,
                                  currentForm(Array{user("1", "old", "old"), user("3", "t3", "s3")}))
                  .ok());
  auto session = start();
  EXPECT_EQ(session->userIds(), (Ids{"1", "3", "2"}));
  EXPECT_EQ(session->credentialStoreForUserId("1")->accessToken(), "t1");
  EXPECT_EQ(storedItem(),
            currentForm(Array{user("1", "t1", "s1"), user("3", "t3", "s3"), user("2", "t2", "s2")}));
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKeyKey).isNull());
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());
}

TEST_F(CloudSessionTest, LeftoversStayWhenTheMigratedItemCannotBeSaved) {
  const Array users{user("5", "t5", "s5"), user("6", "t6", "s6")};
  ASSERT_TRUE(defaults_->setDictionary(kCloudSavedCredentialsKey, currentForm(users)).ok());
  // A keychain file that cannot be read at all (here a folder in its place) cannot be replaced.
  const auto file = keychain_->fileForService("org.example.diary.cloud.auth");
  ASSERT_TRUE(files::createDirectory(file / "x").ok());
  {
    foundation::ScopedLogCapture log;
    EXPECT_EQ(start()->userIds(), (Ids{"5", "6"}));
    EXPECT_EQ(log.messages().back(), "[WARNING] CloudSDK: error saving credentials (-36)");
  }
  EXPECT_FALSE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());
  ASSERT_TRUE(files::remove(file).ok());
  EXPECT_EQ(start()->userIds(), (Ids{"5", "6"}));
  EXPECT_EQ(storedItem(), currentForm(users));
  EXPECT_TRUE(defaults_->objectForKey(kCloudSavedCredentialsKey).isNull());
}

// Damage where the item should be: the session starts unlinked, and the next save replaces it.
TEST_F(CloudSessionTest, ADamagedItemOrKeychainFileLinksNobodyAndTheNextSaveReplacesIt) {
  const struct {
    bool wholeFile;  // the data stand for the keychain file, not for the item's data
    foundation::Bytes data;
    std::string log;  // what the start logs, when it matters
  } cases[] = {{false, {1, 2, 3}, "[WARNING] CloudSDK: error reading stored credentials (-26275)"},
               {false, *plist::archiveRootValue(Value(Array{"1", "t", "s"})), ""},
               {true, {'b', 'p', 'l', 'i', 's', 't'}, ""},
               {true, {}, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.data.begin(), c.data.end()));
    if (c.wholeFile) {
      ASSERT_TRUE(files::createDirectory(keychain_->folder()).ok());
      ASSERT_TRUE(files::writeAtomic(keychain_->fileForService("org.example.diary.cloud.auth"), c.data).ok());
    } else {
      Dictionary attributes = query("v_Data");
      attributes.set("v_Data", c.data);
      ASSERT_EQ(keychain_->add(attributes), Keychain::kSuccess);
    }
    foundation::ScopedLogCapture log;
    auto session = start();
    EXPECT_FALSE(session->isLinked());
    if (!c.log.empty()) {
      EXPECT_EQ(log.messages(), Ids{c.log});
    }
    session->updateAccessTokenAccessTokenSecretForUserId("t", "s", "1");
    EXPECT_EQ(storedItem(), currentForm(Array{user("1", "t", "s")}));
    EXPECT_EQ(start()->userIds(), Ids{"1"});
    (void)CloudKeychain::deleteCredentials();
  }
}

TEST_F(CloudSessionTest, TheSharedSessionIsHeldUntilReplaced) {
  EXPECT_EQ(CloudSession::sharedSession(), nullptr);
  std::shared_ptr<CloudSession> first = start();
  std::weak_ptr<CloudSession> watch = first;
  CloudSession::setSharedSession(first);
  CloudSession::setSharedSession(first);
  first.reset();
  EXPECT_EQ(CloudSession::sharedSession(), watch.lock());
  CloudSession::setSharedSession(start());
  EXPECT_TRUE(watch.expired());
  EXPECT_NE(CloudSession::sharedSession(), nullptr);
}

// --- the login hand-back ---------------------------------------------------------------------------

class CloudLinkTest : public CloudSessionTest {
 protected:
  CloudLinkTest() : session_(start()) {}
  void waitForAnswer() { ASSERT_TRUE(defaults_->setString(kCloudLinkNonceKey, "5E1B6A4C-55C9").ok()); }
  bool nonceWaits() { return !defaults_->objectForKey(kCloudLinkNonceKey).isNull(); }
  static std::string connectURL(
      std::string_view query = "oauth_token=tok%2Fen&oauth_token_secret=sec+ret&uid=31337",
      std::string_view state = "&state=5E1B6A4C-55C9") {
    return "cloud-qwv3rtnpa8sdkmz://1/connect?" + std::string(query) + std::string(state);
  }
  std::unique_ptr<CloudSession> session_;
};

TEST_F(CloudLinkTest, AVerifiedAnswerLinksTheUserAndUsesTheNonceUp) {
  EXPECT_EQ(session_->appScheme(), "cloud-qwv3rtnpa8sdkmz");
  waitForAnswer();
  EXPECT_TRUE(session_->handleOpenURL(connectURL()));
  EXPECT_EQ(session_->userIds(), Ids{"31337"});
  EXPECT_EQ(storedItem(), currentForm(Array{user("31337", "tok/en", "sec+ret")}));
  EXPECT_FALSE(nonceWaits());
  EXPECT_TRUE(runtime::UserDefaults(dir_ / "defaults.plist").objectForKey(kCloudLinkNonceKey).isNull());

  // The same answer again finds no nonce and is refused.
  session_->unlinkAll();
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(session_->handleOpenURL(connectURL()));
  EXPECT_FALSE(session_->isLinked());
  EXPECT_EQ(log.messages(), Ids{"[ERROR] unable to verify link request"});
}

TEST_F(CloudLinkTest, UnverifiedOrIncompleteAnswersLinkNobodyAndUseTheNonceUp) {
  const std::string unverified = "[ERROR] unable to verify link request";
  const std::string incomplete = "[ERROR] CloudSDK: link answer without credentials";
  const std::pair<std::string, std::string> cases[] = {
      {connectURL("oauth_token=t&oauth_token_secret=s&uid=1", "&state=00000000-0000"), unverified},
      {connectURL("oauth_token=t&oauth_token_secret=s&uid=1", ""), unverified},
      {connectURL("oauth_token_secret=s&uid=1"), incomplete},
      {connectURL("oauth_token=t&uid=1"), incomplete},
      {connectURL("oauth_token=t&oauth_token_secret=s"), incomplete},
      {connectURL("oauth_token=&oauth_token_secret=s&uid=1"), incomplete},
      {connectURL("oauth_token=%zz&oauth_token_secret=s&uid=1"), incomplete},
      {connectURL("oauth_token=t&oauth_token_secret=%C3&uid=1"), incomplete},
      // States whose escapes do not decode, one with a NUL after the nonce, one far longer than any real
      // one, and a query of nothing but separators.
      {connectURL("oauth_token=t&oauth_token_secret=s&uid=1", "&state=%4"), unverified},
      {connectURL("oauth_token=t&oauth_token_secret=s&uid=1", "&state=5E1B6A4C-55C9%00"), unverified},
      {connectURL("oauth_token=t&oauth_token_secret=s&uid=1", "&state=" + std::string(1 << 20, '5')),
       unverified},
      {connectURL("&&==&oauth_token&state&uid=&state=", ""), unverified}};
  for (const auto& [url, message] : cases) {
    waitForAnswer();
    foundation::ScopedLogCapture log;
    SCOPED_TRACE(url.substr(0, 120));
    EXPECT_FALSE(session_->handleOpenURL(url));
    EXPECT_FALSE(session_->isLinked());
    EXPECT_FALSE(nonceWaits());
    EXPECT_EQ(log.messages(), Ids{message});
  }
  EXPECT_FALSE(hasItem());
}

TEST_F(CloudLinkTest, OtherHandBackPathsAreTakenAndChangeNothing) {
  waitForAnswer();
  foundation::ScopedLogCapture log;
  for (std::string path : {"cancel", "", "somewhere/else?uid=3"}) {
    EXPECT_TRUE(session_->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1/" + path)) << path;
  }
  EXPECT_FALSE(session_->isLinked());
  EXPECT_TRUE(log.messages().empty());  // a cancel is logged at INFO, below what is printed
  EXPECT_TRUE(nonceWaits());            // for the next attempt
  // The action is the first path component; a fragment is not part of the query.
  EXPECT_TRUE(session_->handleOpenURL("cloud-qwv3rtnpa8sdkmz://1//connect/more?" +
                                      connectURL().substr(connectURL().find('?') + 1) + "#frag"));
  EXPECT_EQ(session_->userIds(), Ids{"31337"});
}

TEST_F(CloudLinkTest, URLsThatAreNotThisApplicationsHandBackAreNotTaken) {
  waitForAnswer();
  for (std::string url : {"https://www.example.com/connect", "cloud-otherkey0000000://1/connect?state=x",
                          "cloud-qwv3rtnpa8sdkmz://2/connect", "cloud-qwv3rtnpa8sdkmz://1",
                          "cloud-qwv3rtnpa8sdkmz:", "CLOUD-qwv3rtnpa8sdkmz://1/cancel", ""}) {
    EXPECT_FALSE(session_->handleOpenURL(url)) << url;
  }
  EXPECT_TRUE(nonceWaits());
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
