#include "platform/security/keychain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Dictionary;
using foundation::Value;
using security::Keychain;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Dictionary item(std::string service, std::string account = {}) {
  Dictionary d{{std::string(Keychain::kClassKey), std::string(Keychain::kClassGenericPassword)},
               {std::string(Keychain::kServiceKey), std::move(service)}};
  if (!account.empty()) d.set(std::string(Keychain::kAccountKey), std::move(account));
  return d;
}

Dictionary with(Dictionary d, std::string_view key, Value value) {
  d.set(std::string(key), std::move(value));
  return d;
}

Dictionary withData(Dictionary d, std::string_view data) {
  return with(std::move(d), Keychain::kValueDataKey, bytes(data));
}

Dictionary search(Dictionary d, bool data = true, bool attributes = false) {
  if (data) d.set(std::string(Keychain::kReturnDataKey), true);
  if (attributes) d.set(std::string(Keychain::kReturnAttributesKey), true);
  return d;
}

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() : home_(dir_.path()), clock_(foundation::Date{1000}), keychain_(home_, clock_) {}

  std::string dataOf(const Dictionary& query) {
    Value result;
    EXPECT_EQ(keychain_.copyMatching(search(query), &result), Keychain::kSuccess);
    const Bytes* b = result.data();
    return b ? std::string(b->begin(), b->end()) : std::string("<none>");
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  foundation::ManualClock clock_;
  Keychain keychain_;
};

TEST_F(KeychainTest, AddedItemsAreFoundByServiceAndAccount) {
  ASSERT_EQ(keychain_.add(withData(item("com.example.cloud.auth"), "archive")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("com.example.tally", "TallyAPIKey"), "key")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("com.example.tally", "TallyUserOptOut"), "yes")), Keychain::kSuccess);

  EXPECT_EQ(dataOf(item("com.example.cloud.auth")), "archive");
  EXPECT_EQ(dataOf(item("com.example.tally", "TallyAPIKey")), "key");
  EXPECT_EQ(dataOf(item("com.example.tally", "TallyUserOptOut")), "yes");

  // Only the status when nothing is asked back; the result is left alone on failure.
  Value untouched("unchanged");
  EXPECT_EQ(keychain_.copyMatching(item("com.example.tally", "TallyAPIKey"), &untouched), Keychain::kSuccess);
  EXPECT_TRUE(untouched.isNull());
  untouched = Value("unchanged");
  EXPECT_EQ(keychain_.copyMatching(search(item("com.example.tally", "nothing")), &untouched),
            Keychain::kItemNotFound);
  EXPECT_EQ(untouched, Value("unchanged"));
  EXPECT_EQ(keychain_.copyMatching(search(item("other")), nullptr), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, AttributesComeBackWithAccessibilityAndDates) {
  ASSERT_EQ(keychain_.add(with(withData(item("svc", "acct"), "secret"), Keychain::kAccessibleKey,
                               std::string(Keychain::kAccessibleAfterFirstUnlock))),
            Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("svc", "plain"), "x")), Keychain::kSuccess);

  Value result;
  ASSERT_EQ(keychain_.copyMatching(search(item("svc", "acct"), true, true), &result), Keychain::kSuccess);
  const Dictionary* attributes = result.dictionary();
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ((*attributes)["class"], Value("genp"));
  EXPECT_EQ((*attributes)["svce"], Value("svc"));
  EXPECT_EQ((*attributes)["acct"], Value("acct"));
  EXPECT_EQ((*attributes)["pdmn"], Value("ck"));
  EXPECT_EQ((*attributes)["v_Data"], Value(bytes("secret")));
  EXPECT_EQ((*attributes)["cdat"], Value(foundation::Date{1000}));
  EXPECT_EQ((*attributes)["mdat"], Value(foundation::Date{1000}));

  // Without an accessibility the item is readable when unlocked, the platform's default.
  ASSERT_EQ(keychain_.copyMatching(search(item("svc", "plain"), false, true), &result), Keychain::kSuccess);
  EXPECT_EQ((*result.dictionary())["pdmn"], Value("ak"));
  EXPECT_FALSE(result.dictionary()->contains("v_Data"));

  // The accessibility is an attribute like the others: it narrows a search.
  EXPECT_EQ(keychain_.copyMatching(with(item("svc"), Keychain::kAccessibleKey, "ak"), nullptr),
            Keychain::kSuccess);
  EXPECT_EQ(keychain_.copyMatching(with(item("svc", "plain"), Keychain::kAccessibleKey, "ck"), nullptr),
            Keychain::kItemNotFound);
}

TEST_F(KeychainTest, ServiceAndAccountNameOneItem) {
  ASSERT_EQ(keychain_.add(withData(item("svc", "a"), "1")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.add(withData(item("svc", "a"), "2")), Keychain::kDuplicateItem);
  EXPECT_EQ(dataOf(item("svc", "a")), "1");
  // An item without an account has the empty one.
  ASSERT_EQ(keychain_.add(withData(item("svc"), "3")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.add(withData(with(item("svc"), Keychain::kAccountKey, ""), "4")),
            Keychain::kDuplicateItem);
  // Account and generic attribute may be given as bytes, as the analytics wrapper does.
  ASSERT_EQ(keychain_.add(withData(with(with(item("svc"), Keychain::kAccountKey, bytes("TallyDataKey")),
                                        Keychain::kGenericKey, bytes("TallyDataKey")),
                                   "5")),
            Keychain::kSuccess);
  EXPECT_EQ(dataOf(item("svc", "TallyDataKey")), "5");
  EXPECT_EQ(dataOf(with(item("svc"), Keychain::kGenericKey, bytes("TallyDataKey"))), "5");
}

TEST_F(KeychainTest, SearchWithoutAServiceSpansServicesInOrder) {
  ASSERT_EQ(keychain_.add(withData(item("b", "x"), "b-x")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("a", "y"), "a-y")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("a", "x"), "a-x")), Keychain::kSuccess);

  Dictionary all{{"class", "genp"}, {"r_Data", true}, {"m_Limit", "m_LimitAll"}};
  Value result;
  ASSERT_EQ(keychain_.copyMatching(all, &result), Keychain::kSuccess);
  ASSERT_TRUE(result.isArray());
  EXPECT_EQ(*result.array(), (foundation::Array{bytes("a-x"), bytes("a-y"), bytes("b-x")}));

  Dictionary accountX{{"class", "genp"}, {"acct", "x"}, {"r_Data", true}};
  ASSERT_EQ(keychain_.copyMatching(accountX, &result), Keychain::kSuccess);
  EXPECT_EQ(result, Value(bytes("a-x")));
}

TEST_F(KeychainTest, MalformedDictionariesAreRefusedBeforeAnythingIsTouched) {
  EXPECT_EQ(keychain_.add(Dictionary{{"svce", "s"}, {"v_Data", bytes("d")}}), Keychain::kParam);
  EXPECT_EQ(keychain_.add(Dictionary{{"class", "keys"}, {"svce", "s"}}), Keychain::kParam);
  EXPECT_EQ(keychain_.add(Dictionary{{"class", 7}, {"svce", "s"}}), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), "colour", "red")), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), Keychain::kServiceKey, 12)), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), Keychain::kValueDataKey, 12)), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), Keychain::kAccessibleKey, "sometimes")), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), Keychain::kReturnDataKey, true)), Keychain::kParam);
  EXPECT_EQ(keychain_.add(with(item("s"), Keychain::kCreationDateKey, foundation::Date{5})),
            Keychain::kParam);
  EXPECT_EQ(keychain_.add(Dictionary{{"class", "inet"}, {"acct", "a"}}), Keychain::kUnimplemented);
  EXPECT_FALSE(files::exists(keychain_.folder()));

  ASSERT_EQ(keychain_.add(withData(item("s", "a"), "d")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.copyMatching(withData(item("s", "a"), "d"), nullptr), Keychain::kParam);
  EXPECT_EQ(keychain_.copyMatching(with(item("s"), Keychain::kReturnDataKey, 1), nullptr), Keychain::kParam);
  EXPECT_EQ(keychain_.copyMatching(with(item("s"), Keychain::kMatchLimitKey, "m_LimitSome"), nullptr),
            Keychain::kParam);
  EXPECT_EQ(keychain_.update(item("s", "a"), item("s", "a")), Keychain::kParam);  // class among the changes
  EXPECT_EQ(keychain_.update(search(item("s", "a")), Dictionary{{"v_Data", bytes("e")}}), Keychain::kParam);
  EXPECT_EQ(keychain_.remove(withData(item("s", "a"), "d")), Keychain::kParam);
  EXPECT_EQ(keychain_.remove(Dictionary{{"svce", "s"}}), Keychain::kParam);
  EXPECT_EQ(dataOf(item("s", "a")), "d");
}

TEST_F(KeychainTest, UpdateChangesMatchingItemsAndKeepsTheirCreationDate) {
  ASSERT_EQ(keychain_.add(withData(item("svc", "a"), "old")), Keychain::kSuccess);
  clock_.advance(60);
  ASSERT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"v_Data", bytes("new")}, {"pdmn", "ck"}}),
            Keychain::kSuccess);
  Value result;
  ASSERT_EQ(keychain_.copyMatching(search(item("svc", "a"), true, true), &result), Keychain::kSuccess);
  const Dictionary& attributes = *result.dictionary();
  EXPECT_EQ(attributes["v_Data"], Value(bytes("new")));
  EXPECT_EQ(attributes["pdmn"], Value("ck"));
  EXPECT_EQ(attributes["cdat"], Value(foundation::Date{1000}));
  EXPECT_EQ(attributes["mdat"], Value(foundation::Date{1060}));

  EXPECT_EQ(keychain_.update(item("svc", "missing"), Dictionary{{"v_Data", bytes("x")}}),
            Keychain::kItemNotFound);
  EXPECT_EQ(keychain_.update(item("nothing"), Dictionary{{"v_Data", bytes("x")}}), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, UpdateCanMoveAnItemButNeverMakesTwoOfOneName) {
  ASSERT_EQ(keychain_.add(withData(item("svc", "a"), "A")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("svc", "b"), "B")), Keychain::kSuccess);

  EXPECT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"acct", "b"}}), Keychain::kDuplicateItem);
  // Renaming every item of the service to one account would collide as well; nothing changes.
  EXPECT_EQ(keychain_.update(item("svc"), Dictionary{{"acct", "c"}}), Keychain::kDuplicateItem);
  EXPECT_EQ(dataOf(item("svc", "a")), "A");
  EXPECT_EQ(dataOf(item("svc", "b")), "B");

  ASSERT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"svce", "other"}}), Keychain::kSuccess);
  EXPECT_EQ(keychain_.copyMatching(item("svc", "a"), nullptr), Keychain::kItemNotFound);
  EXPECT_EQ(dataOf(item("other", "a")), "A");
  EXPECT_TRUE(files::exists(keychain_.fileForService("other")));
}

TEST_F(KeychainTest, RemoveDeletesMatchesAndTheFileOfAnEmptiedService) {
  ASSERT_EQ(keychain_.add(withData(item("one", "a"), "1")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("one", "b"), "2")), Keychain::kSuccess);
  ASSERT_EQ(keychain_.add(withData(item("two", "a"), "3")), Keychain::kSuccess);

  EXPECT_EQ(keychain_.remove(item("one", "a")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.remove(item("one", "a")), Keychain::kItemNotFound);
  EXPECT_EQ(dataOf(item("one", "b")), "2");
  // Without a service the query reaches every service.
  EXPECT_EQ(keychain_.remove(Dictionary{{"class", "genp"}, {"acct", "a"}}), Keychain::kSuccess);
  EXPECT_FALSE(files::exists(keychain_.fileForService("two")));
  EXPECT_EQ(keychain_.remove(item("one")), Keychain::kSuccess);
  EXPECT_FALSE(files::exists(keychain_.fileForService("one")));
  EXPECT_EQ(keychain_.remove(item("one")), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, ItemsLiveInOwnerOnlyFilesOnePerService) {
  ASSERT_EQ(keychain_.add(withData(item("com.example.cloud.auth"), "a")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.folder(), dir_.path() / "Library" / "Keychains");
  fs::path file = keychain_.fileForService("com.example.cloud.auth");
  EXPECT_EQ(file.parent_path(), keychain_.folder());
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(keychain_.folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A later launch (another keychain object over the same home) finds the item.
  Keychain again(home_, clock_);
  Value result;
  ASSERT_EQ(again.copyMatching(search(item("com.example.cloud.auth")), &result), Keychain::kSuccess);
  EXPECT_EQ(result, Value(bytes("a")));
}

TEST_F(KeychainTest, AnyServiceNameMakesASafeDistinctFileName) {
  std::string longName(600, 'x');
  for (std::string service : {std::string(""), std::string(".."), std::string("a/b"), std::string("a%2Fb"),
                              std::string("caf\xC3\xA9"), longName, longName + "y"}) {
    fs::path file = keychain_.fileForService(service);
    EXPECT_EQ(file.parent_path(), keychain_.folder()) << service;
    EXPECT_LE(file.filename().string().size(), 255u);
    EXPECT_NE(file.filename().string()[0], '.');
    ASSERT_EQ(keychain_.add(withData(item(service), service)), Keychain::kSuccess) << service;
  }
  for (std::string service : {std::string(""), std::string(".."), std::string("a/b"), std::string("a%2Fb"),
                              std::string("caf\xC3\xA9"), longName, longName + "y"}) {
    EXPECT_EQ(dataOf(item(service)), service);
  }
  EXPECT_EQ(files::listDirectory(keychain_.folder())->size(), 7u);
}

TEST_F(KeychainTest, AnUnreadableFileIsReportedAndSetAsideNeverOverwritten) {
  ASSERT_EQ(keychain_.add(withData(item("svc", "a"), "secret")), Keychain::kSuccess);
  fs::path file = keychain_.fileForService("svc");
  Bytes good = *files::readFile(file);

  // Every cut of a good file and a few altered bytes: an error, never a crash or a wrong item.
  for (size_t length = 0; length < good.size(); ++length) {
    ASSERT_TRUE(files::writeAtomic(file, Bytes(good.begin(), good.begin() + static_cast<long>(length))).ok());
    EXPECT_EQ(keychain_.copyMatching(search(item("svc", "a")), nullptr), Keychain::kDecode) << length;
  }
  for (size_t at : {size_t{0}, size_t{4}, size_t{9}, good.size() - 1}) {
    Bytes bad = good;
    bad[at] ^= 0xFF;
    ASSERT_TRUE(files::writeAtomic(file, bad).ok());
    EXPECT_EQ(keychain_.copyMatching(search(item("svc", "a")), nullptr), Keychain::kDecode) << at;
  }
  Bytes longer = good;
  longer.push_back(0);
  ASSERT_TRUE(files::writeAtomic(file, longer).ok());
  EXPECT_EQ(keychain_.copyMatching(search(item("svc")), nullptr), Keychain::kDecode);
  // A search across services cannot rule the damaged file out either.
  EXPECT_EQ(keychain_.copyMatching(Dictionary{{"class", "genp"}, {"acct", "a"}}, nullptr), Keychain::kDecode);

  // The first change moves the damaged file aside, keeping its bytes, and starts afresh.
  foundation::ScopedLogCapture log;
  ASSERT_EQ(keychain_.add(withData(item("svc", "b"), "fresh")), Keychain::kSuccess);
  EXPECT_TRUE(log.contains("aside"));
  fs::path aside = file;
  aside += ".damaged";
  EXPECT_EQ(*files::readFile(aside), longer);
  EXPECT_EQ(dataOf(item("svc", "b")), "fresh");
  EXPECT_EQ(keychain_.copyMatching(item("svc", "a"), nullptr), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, AFolderThatCannotBeWrittenGivesAnIOError) {
  ASSERT_TRUE(files::createDirectory(dir_.path() / "Library").ok());
  ASSERT_TRUE(files::writeAtomic(keychain_.folder(), std::string_view("not a folder")).ok());
  EXPECT_EQ(keychain_.add(withData(item("svc"), "x")), Keychain::kIO);
  EXPECT_EQ(keychain_.copyMatching(item("svc"), nullptr), Keychain::kItemNotFound);
}

}  // namespace
