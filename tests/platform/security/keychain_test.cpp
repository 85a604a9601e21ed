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

// A generic-password dictionary of the service and (when not empty) account, plus extra entries.
Dictionary item(std::string service, std::string account = {},
                std::initializer_list<std::pair<std::string_view, Value>> extra = {}) {
  Dictionary d{{"class", "genp"}, {"svce", std::move(service)}};
  if (!account.empty()) d.set("acct", std::move(account));
  for (const auto& [key, value] : extra) d.set(std::string(key), value);
  return d;
}

Dictionary withData(Dictionary d, std::string_view data) {
  d.set("v_Data", bytes(data));
  return d;
}

// An internet-password dictionary of server, security domain and account, plus extra entries.
Dictionary internet(std::string server, std::string domain, std::string account,
                    std::initializer_list<std::pair<std::string_view, Value>> extra = {}) {
  Dictionary d{{"class", "inet"}};
  if (!server.empty()) d.set("srvr", std::move(server));
  if (!domain.empty()) d.set("sdmn", std::move(domain));
  if (!account.empty()) d.set("acct", std::move(account));
  for (const auto& [key, value] : extra) d.set(std::string(key), value);
  return d;
}

constexpr std::int64_t kOAuthType = 0x6f617574;

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() : home_(dir_.path()), clock_(foundation::Date{1000}), keychain_(home_, clock_) {}

  void add(std::string service, std::string account, std::string_view data) {
    ASSERT_EQ(keychain_.add(withData(item(std::move(service), std::move(account)), data)),
              Keychain::kSuccess);
  }
  // The data of the one item the query matches, or "<none>".
  std::string dataOf(Dictionary query) {
    query.set("r_Data", true);
    Value result;
    EXPECT_EQ(keychain_.copyMatching(query, &result), Keychain::kSuccess);
    const Bytes* b = result.data();
    return b ? std::string(b->begin(), b->end()) : std::string("<none>");
  }
  Dictionary attributesOf(Dictionary query) {
    query.set("r_Attributes", true);
    query.set("r_Data", true);
    Value result;
    EXPECT_EQ(keychain_.copyMatching(query, &result), Keychain::kSuccess);
    return result.dictionary() ? *result.dictionary() : Dictionary{};
  }

  testing_support::TempDir dir_;
  files::AppHome home_;
  foundation::ManualClock clock_;
  Keychain keychain_;
};

TEST_F(KeychainTest, ServiceAndAccountNameOneItem) {
  add("com.example.cloud.auth", "", "archive");
  add("com.example.tally", "TallyAPIKey", "key");
  add("com.example.tally", "TallyUserOptOut", "yes");
  EXPECT_EQ(dataOf(item("com.example.cloud.auth")), "archive");
  EXPECT_EQ(dataOf(item("com.example.tally", "TallyAPIKey")), "key");
  EXPECT_EQ(dataOf(item("com.example.tally", "TallyUserOptOut")), "yes");

  EXPECT_EQ(keychain_.add(withData(item("com.example.tally", "TallyAPIKey"), "2")), Keychain::kDuplicateItem);
  EXPECT_EQ(dataOf(item("com.example.tally", "TallyAPIKey")), "key");
  // An absent account is the empty one.
  EXPECT_EQ(keychain_.add(withData(item("com.example.cloud.auth", "", {{"acct", ""}}), "4")),
            Keychain::kDuplicateItem);
  // Account and generic attribute may be given as bytes, as the analytics wrapper does.
  ASSERT_EQ(
      keychain_.add(withData(item("svc", "", {{"acct", bytes("TallyDataKey")}, {"gena", bytes("G")}}), "5")),
      Keychain::kSuccess);
  EXPECT_EQ(dataOf(item("svc", "TallyDataKey")), "5");
  EXPECT_EQ(dataOf(item("svc", "", {{"gena", bytes("G")}})), "5");

  // Only the status when nothing is asked back; the result is left alone on failure.
  Value untouched("unchanged");
  EXPECT_EQ(keychain_.copyMatching(item("com.example.tally", "TallyAPIKey"), &untouched), Keychain::kSuccess);
  EXPECT_TRUE(untouched.isNull());
  untouched = Value("unchanged");
  EXPECT_EQ(keychain_.copyMatching(item("com.example.tally", "nothing", {{"r_Data", true}}), &untouched),
            Keychain::kItemNotFound);
  EXPECT_EQ(untouched, Value("unchanged"));
  EXPECT_EQ(keychain_.copyMatching(item("other"), nullptr), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, AttributesComeBackWithAccessibilityAndDates) {
  ASSERT_EQ(keychain_.add(withData(item("svc", "acct", {{"pdmn", "ck"}}), "secret")), Keychain::kSuccess);
  add("svc", "plain", "x");
  EXPECT_EQ(attributesOf(item("svc", "acct")), (Dictionary{{"class", "genp"},
                                                           {"svce", "svc"},
                                                           {"acct", "acct"},
                                                           {"pdmn", "ck"},
                                                           {"v_Data", bytes("secret")},
                                                           {"cdat", foundation::Date{1000}},
                                                           {"mdat", foundation::Date{1000}}}));

  // Without an accessibility the item is readable when unlocked, the platform's default; the
  // attributes alone carry no data.
  Value result;
  ASSERT_EQ(keychain_.copyMatching(item("svc", "plain", {{"r_Attributes", true}}), &result),
            Keychain::kSuccess);
  EXPECT_EQ((*result.dictionary())["pdmn"], Value("ak"));
  EXPECT_FALSE(result.dictionary()->contains("v_Data"));

  // The accessibility is an attribute like the others: it narrows a search.
  EXPECT_EQ(keychain_.copyMatching(item("svc", "", {{"pdmn", "ak"}}), nullptr), Keychain::kSuccess);
  EXPECT_EQ(keychain_.copyMatching(item("svc", "plain", {{"pdmn", "ck"}}), nullptr), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, SearchWithoutAServiceSpansServicesInOrder) {
  add("b", "x", "b-x");
  add("a", "y", "a-y");
  add("a", "x", "a-x");
  Value result;
  ASSERT_EQ(keychain_.copyMatching(Dictionary{{"class", "genp"}, {"r_Data", true}, {"m_Limit", "m_LimitAll"}},
                                   &result),
            Keychain::kSuccess);
  EXPECT_EQ(result, Value(foundation::Array{bytes("a-x"), bytes("a-y"), bytes("b-x")}));
  EXPECT_EQ(dataOf(Dictionary{{"class", "genp"}, {"acct", "x"}}), "a-x");
}

TEST_F(KeychainTest, MalformedDictionariesAreRefusedBeforeAnythingIsTouched) {
  const Dictionary refusedAdds[] = {
      Dictionary{{"svce", "s"}, {"v_Data", bytes("d")}},  // no class
      Dictionary{{"class", "keys"}, {"svce", "s"}},
      Dictionary{{"class", 7}, {"svce", "s"}},
      item("s", "", {{"colour", "red"}}),
      item("s", "", {{"svce", 12}}),
      item("s", "", {{"v_Data", 12}}),
      item("s", "", {{"pdmn", "sometimes"}}),
      item("s", "", {{"r_Data", true}}),
      item("s", "", {{"cdat", foundation::Date{5}}}),
      item("s", "", {{"srvr", "host"}}),  // attributes of the other class
      Dictionary{{"class", "inet"}, {"svce", "s"}},
      Dictionary{{"class", "inet"}, {"gena", "g"}},
      Dictionary{{"class", "inet"}, {"type", "oaut"}},
  };
  for (const Dictionary& bad : refusedAdds) EXPECT_EQ(keychain_.add(bad), Keychain::kParam) << bad.size();
  EXPECT_FALSE(files::exists(keychain_.folder()));

  add("s", "a", "d");
  EXPECT_EQ(keychain_.copyMatching(withData(item("s", "a"), "d"), nullptr), Keychain::kParam);
  EXPECT_EQ(keychain_.copyMatching(item("s", "", {{"r_Data", 1}}), nullptr), Keychain::kParam);
  EXPECT_EQ(keychain_.copyMatching(item("s", "", {{"m_Limit", "m_LimitSome"}}), nullptr), Keychain::kParam);
  EXPECT_EQ(keychain_.update(item("s", "a"), item("s", "a")), Keychain::kParam);  // class among the changes
  EXPECT_EQ(keychain_.update(item("s", "a", {{"r_Data", true}}), Dictionary{{"v_Data", bytes("e")}}),
            Keychain::kParam);
  EXPECT_EQ(keychain_.remove(withData(item("s", "a"), "d")), Keychain::kParam);
  EXPECT_EQ(keychain_.remove(Dictionary{{"svce", "s"}}), Keychain::kParam);
  EXPECT_EQ(dataOf(item("s", "a")), "d");
}

TEST_F(KeychainTest, UpdateChangesMatchesKeepsCreationAndNeverMakesTwoOfOneName) {
  add("svc", "a", "old");
  add("svc", "b", "B");
  clock_.advance(60);
  ASSERT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"v_Data", bytes("new")}, {"pdmn", "ck"}}),
            Keychain::kSuccess);
  const Dictionary attributes = attributesOf(item("svc", "a"));
  EXPECT_EQ(attributes["v_Data"], Value(bytes("new")));
  EXPECT_EQ(attributes["pdmn"], Value("ck"));
  EXPECT_EQ(attributes["cdat"], Value(foundation::Date{1000}));
  EXPECT_EQ(attributes["mdat"], Value(foundation::Date{1060}));
  EXPECT_EQ(keychain_.update(item("svc", "missing"), Dictionary{{"v_Data", bytes("x")}}),
            Keychain::kItemNotFound);
  EXPECT_EQ(keychain_.update(item("nothing"), Dictionary{{"v_Data", bytes("x")}}), Keychain::kItemNotFound);

  EXPECT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"acct", "b"}}), Keychain::kDuplicateItem);
  // Renaming every item of the service to one account would collide as well; nothing changes.
  EXPECT_EQ(keychain_.update(item("svc"), Dictionary{{"acct", "c"}}), Keychain::kDuplicateItem);
  EXPECT_EQ(dataOf(item("svc", "a")), "new");
  EXPECT_EQ(dataOf(item("svc", "b")), "B");
  // Moving an item to another service moves it to that service's file.
  ASSERT_EQ(keychain_.update(item("svc", "a"), Dictionary{{"svce", "other"}}), Keychain::kSuccess);
  EXPECT_EQ(keychain_.copyMatching(item("svc", "a"), nullptr), Keychain::kItemNotFound);
  EXPECT_EQ(dataOf(item("other", "a")), "new");
  EXPECT_TRUE(files::exists(keychain_.fileForService("other")));
}

TEST_F(KeychainTest, RemoveDeletesMatchesAndTheFileOfAnEmptiedService) {
  add("one", "a", "1");
  add("one", "b", "2");
  add("two", "a", "3");
  EXPECT_EQ(keychain_.remove(item("one", "a")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.remove(item("one", "a")), Keychain::kItemNotFound);
  EXPECT_EQ(dataOf(item("one", "b")), "2");
  // Without a service the query reaches every service.
  EXPECT_EQ(keychain_.remove(Dictionary{{"class", "genp"}, {"acct", "a"}}), Keychain::kSuccess);
  EXPECT_FALSE(files::exists(keychain_.fileForService("two")));
  EXPECT_EQ(keychain_.remove(item("one")), Keychain::kSuccess);
  EXPECT_FALSE(files::exists(keychain_.fileForService("one")));
}

TEST_F(KeychainTest, ItemsLiveInOwnerOnlyFilesWithSafeDistinctNamesOnePerService) {
  const std::string longName(600, 'x');
  const std::string services[] = {
      "com.example.cloud.auth", "", "..", "a/b", "a%2Fb", "caf\xC3\xA9", longName, longName + "y"};
  for (const std::string& service : services) {
    const fs::path file = keychain_.fileForService(service);
    EXPECT_EQ(file.parent_path(), keychain_.folder()) << service;
    EXPECT_LE(file.filename().string().size(), 255u);
    EXPECT_NE(file.filename().string()[0], '.');
    add(service, "", service);
  }
  EXPECT_EQ(keychain_.folder(), dir_.path() / "Library" / "Keychains");
  EXPECT_EQ(Keychain::folderFor(home_), keychain_.folder());
  EXPECT_EQ(files::listDirectory(keychain_.folder())->size(), std::size(services));
  struct stat st {};
  ASSERT_EQ(::stat(keychain_.fileForService("a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(keychain_.folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A later launch (another keychain object over the same home) finds every item.
  Keychain again(home_, clock_);
  for (const std::string& service : services) {
    Value result;
    ASSERT_EQ(again.copyMatching(item(service, "", {{"r_Data", true}}), &result), Keychain::kSuccess);
    EXPECT_EQ(result, Value(bytes(service)));
  }
}

TEST_F(KeychainTest, AnUnreadableFileIsReportedAndSetAsideNeverOverwritten) {
  add("svc", "a", "secret");
  const fs::path file = keychain_.fileForService("svc");
  const Bytes good = *files::readFile(file);
  auto expectDecodeError = [&](const Bytes& damaged) {
    ASSERT_TRUE(files::writeAtomic(file, damaged).ok());
    EXPECT_EQ(keychain_.copyMatching(item("svc", "a", {{"r_Data", true}}), nullptr), Keychain::kDecode)
        << damaged.size();
  };
  // Every cut of a good file, a few altered bytes, and one byte too many: an error, never a crash
  // or a wrong item.
  for (size_t length = 0; length < good.size(); ++length)
    expectDecodeError(Bytes(good.begin(), good.begin() + static_cast<long>(length)));
  for (size_t at : {size_t{0}, size_t{4}, size_t{9}, good.size() - 1}) {
    Bytes bad = good;
    bad[at] ^= 0xFF;
    expectDecodeError(bad);
  }
  Bytes longer = good;
  longer.push_back(0);
  expectDecodeError(longer);
  // A search across services cannot rule the damaged file out either.
  EXPECT_EQ(keychain_.copyMatching(Dictionary{{"class", "genp"}, {"acct", "a"}}, nullptr), Keychain::kDecode);

  // The first change moves the damaged file aside, keeping its bytes, and starts afresh.
  foundation::ScopedLogCapture log;
  add("svc", "b", "fresh");
  EXPECT_TRUE(log.contains("aside"));
  EXPECT_EQ(*files::readFile(fs::path(file.string() + ".damaged")), longer);
  EXPECT_EQ(dataOf(item("svc", "b")), "fresh");
  EXPECT_EQ(keychain_.copyMatching(item("svc", "a"), nullptr), Keychain::kItemNotFound);
}

TEST_F(KeychainTest, InternetPasswordsAreNamedByServerSecurityDomainAndAccount) {
  const struct {
    const char* server;
    const char* domain;
    const char* account;
    const char* data;
  } items[] = {
      {"api.example.com", "www.example.com", "token", "t1"},
      {"api.example.com", "other.example.com", "token", "t2"},
      {"api2.example.com", "www.example.com", "token", "t3"},
      {"api.example.com", "www.example.com", "secret", "t4"},
  };
  for (const auto& i : items) {
    ASSERT_EQ(
        keychain_.add(withData(internet(i.server, i.domain, i.account, {{"type", kOAuthType}}), i.data)),
        Keychain::kSuccess)
        << i.data;
    // The type is not part of the name.
    EXPECT_EQ(keychain_.add(withData(internet(i.server, i.domain, i.account, {{"type", 1}}), "x")),
              Keychain::kDuplicateItem);
  }
  // A generic password of the same account is another item, never found by an internet query.
  add("api.example.com", "token", "generic");

  const struct {
    Dictionary query;
    const char* data;  // null: nothing matches
  } finds[] = {
      {internet("api.example.com", "www.example.com", "token"), "t1"},
      {internet("api.example.com", "other.example.com", ""), "t2"},
      {internet("api2.example.com", "", ""), "t3"},
      {internet("", "", "secret"), "t4"},
      {internet("api2.example.com", "", "", {{"type", kOAuthType}}), "t3"},
      {internet("api2.example.com", "", "", {{"type", 1}}), nullptr},
      {internet("api.example.com", "www.example.com", "missing"), nullptr},
      {internet("generic.example.com", "", ""), nullptr},
  };
  for (const auto& f : finds) {
    Dictionary query = f.query;
    query.set("r_Data", true);
    Value result;
    EXPECT_EQ(keychain_.copyMatching(query, &result), f.data ? Keychain::kSuccess : Keychain::kItemNotFound);
    if (f.data) {
      EXPECT_EQ(result, Value(bytes(f.data)));
    }
  }
  Value all;
  ASSERT_EQ(
      keychain_.copyMatching(internet("", "", "token", {{"r_Data", true}, {"m_Limit", "m_LimitAll"}}), &all),
      Keychain::kSuccess);
  EXPECT_EQ(all, Value(foundation::Array{bytes("t2"), bytes("t1"), bytes("t3")}));
  EXPECT_EQ(attributesOf(internet("api2.example.com", "", "")),
            (Dictionary{{"class", "inet"},
                        {"srvr", "api2.example.com"},
                        {"sdmn", "www.example.com"},
                        {"acct", "token"},
                        {"type", kOAuthType},
                        {"pdmn", "ak"},
                        {"v_Data", bytes("t3")},
                        {"cdat", foundation::Date{1000}},
                        {"mdat", foundation::Date{1000}}}));

  // Updates change the data and may rename, but never onto another item's name.
  const Dictionary first = internet("api.example.com", "www.example.com", "token");
  ASSERT_EQ(keychain_.update(first, Dictionary{{"v_Data", bytes("t1b")}}), Keychain::kSuccess);
  EXPECT_EQ(dataOf(first), "t1b");
  EXPECT_EQ(keychain_.update(first, Dictionary{{"sdmn", "other.example.com"}}), Keychain::kDuplicateItem);
  EXPECT_EQ(keychain_.update(first, Dictionary{{"svce", "s"}}), Keychain::kParam);
  ASSERT_EQ(keychain_.update(first, Dictionary{{"srvr", "api3.example.com"}}), Keychain::kSuccess);
  EXPECT_EQ(dataOf(internet("api3.example.com", "", "")), "t1b");

  // Each server has its own owner-only file beside, not among, the generic passwords.
  const fs::path file = keychain_.fileForServer("api3.example.com");
  EXPECT_EQ(file.parent_path(), keychain_.folder() / "Internet");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(keychain_.copyMatching(
                Dictionary{{"class", "genp"}, {"acct", "token"}, {"m_Limit", "m_LimitAll"}}, nullptr),
            Keychain::kSuccess);

  EXPECT_EQ(keychain_.remove(internet("api3.example.com", "", "")), Keychain::kSuccess);
  EXPECT_EQ(keychain_.remove(internet("api3.example.com", "", "")), Keychain::kItemNotFound);
  EXPECT_FALSE(files::exists(file));
  EXPECT_EQ(keychain_.remove(internet("", "", "token")), Keychain::kSuccess);
  EXPECT_EQ(dataOf(internet("", "", "")), "t4");
  EXPECT_EQ(dataOf(item("api.example.com", "token")), "generic");
}

TEST_F(KeychainTest, ADamagedInternetFileHoldsNoItemsAndIsSetAsideOnTheNextWrite) {
  const Dictionary token = internet("api.example.com", "www.example.com", "token");
  ASSERT_EQ(keychain_.add(withData(token, "t1")), Keychain::kSuccess);
  add("api.example.com", "token", "generic");
  const fs::path file = keychain_.fileForServer("api.example.com");
  // Junk, and a whole generic-password file put in its place: neither is read as internet items.
  for (const Bytes& damaged :
       {bytes("junk"), *files::readFile(keychain_.fileForService("api.example.com"))}) {
    ASSERT_TRUE(files::writeAtomic(file, damaged).ok());
    Value untouched("unchanged");
    EXPECT_EQ(keychain_.copyMatching(token, &untouched), Keychain::kDecode);
    EXPECT_EQ(untouched, Value("unchanged"));
  }
  ASSERT_EQ(keychain_.add(withData(token, "t2")), Keychain::kSuccess);
  EXPECT_EQ(dataOf(token), "t2");
  EXPECT_TRUE(files::exists(fs::path(file.string() + ".damaged")));
}

TEST_F(KeychainTest, AFolderThatCannotBeWrittenGivesAnIOError) {
  ASSERT_TRUE(files::createDirectory(dir_.path() / "Library").ok());
  ASSERT_TRUE(files::writeAtomic(keychain_.folder(), std::string_view("not a folder")).ok());
  EXPECT_EQ(keychain_.add(withData(item("svc"), "x")), Keychain::kIO);
  EXPECT_EQ(keychain_.copyMatching(item("svc"), nullptr), Keychain::kItemNotFound);
}

}  // namespace
