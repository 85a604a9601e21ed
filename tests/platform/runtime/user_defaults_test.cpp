#include "platform/runtime/user_defaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/plist/property_list.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using foundation::Array;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  fs::path file() const {
    return runtime::UserDefaults::fileFor(files::AppHome(home.path()), "com.example.diary");
  }
  Value onDisk() const {
    auto bytes = files::readFile(file());
    EXPECT_TRUE(bytes.ok());
    if (!bytes) return Value();
    auto value = plist::readPropertyList(*bytes);
    EXPECT_TRUE(value.ok());
    return value.ok() ? *value : Value();
  }

  testing_support::TempDir home;
};

TEST_F(UserDefaultsTest, LivesInLibraryPreferencesUnderTheBundleIdentifier) {
  EXPECT_EQ(file(), home.path() / "Library" / "Preferences" / "com.example.diary.plist");
}

TEST_F(UserDefaultsTest, TypedValuesSurviveSynchronizeAndReopen) {
  {
    runtime::UserDefaults defaults(file(), {"en"});
    ASSERT_TRUE(defaults.setString("cloud.sync.nonce", "5F0B6A3C-0000-4000-8000-000000000000").ok());
    defaults.setInteger("count", -42);
    defaults.setDouble("OAuthAutomaticTokenRefreshLastExpiryDate", 456789.5);
    defaults.setBool("flag", true);
    ASSERT_TRUE(defaults.setArray("list", {"a", 1}).ok());
    ASSERT_TRUE(defaults.setDictionary("kCloudSavedCredentials", Dictionary{{"kCloudUserId", "7"}}).ok());
    ASSERT_TRUE(defaults.setObject("blob", Value(Bytes{1, 2})).ok());
    ASSERT_TRUE(defaults.setObject("when", Value(Date{1000})).ok());
    ASSERT_TRUE(defaults.synchronize().ok());
    // The file is a binary property list of exactly the stored values.
    auto bytes = files::readFile(file());
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
    EXPECT_EQ(onDisk().dictionary()->size(), 8u);
  }
  runtime::UserDefaults reopened(file(), {"en"});
  EXPECT_EQ(reopened.stringForKey("cloud.sync.nonce"), "5F0B6A3C-0000-4000-8000-000000000000");
  EXPECT_EQ(reopened.integerForKey("count"), -42);
  EXPECT_EQ(reopened.doubleForKey("OAuthAutomaticTokenRefreshLastExpiryDate"), 456789.5);
  EXPECT_TRUE(reopened.boolForKey("flag"));
  EXPECT_EQ(reopened.arrayForKey("list"), (Array{"a", 1}));
  EXPECT_EQ(reopened.dictionaryForKey("kCloudSavedCredentials"), (Dictionary{{"kCloudUserId", "7"}}));
  EXPECT_EQ(reopened.dataForKey("blob"), (Bytes{1, 2}));
  EXPECT_EQ(reopened.objectForKey("when"), Value(Date{1000}));
}

TEST_F(UserDefaultsTest, TypedGettersConvertTheWayThePlatformDoes) {
  runtime::UserDefaults defaults(file(), {"en"});
  ASSERT_TRUE(defaults.setString("digits", "  -12abc").ok());
  ASSERT_TRUE(defaults.setString("yes", "YES").ok());
  ASSERT_TRUE(defaults.setString("true", " true").ok());
  ASSERT_TRUE(defaults.setString("zeroes", "007").ok());
  ASSERT_TRUE(defaults.setString("no", "no").ok());
  ASSERT_TRUE(defaults.setString("real", "2.5e1x").ok());
  defaults.setDouble("double", 3.9);
  defaults.setInteger("int", 5);
  defaults.setBool("bool", true);

  EXPECT_EQ(defaults.integerForKey("digits"), -12);
  EXPECT_EQ(defaults.integerForKey("double"), 3);
  EXPECT_EQ(defaults.integerForKey("bool"), 1);
  EXPECT_EQ(defaults.integerForKey("missing"), 0);
  EXPECT_EQ(defaults.doubleForKey("real"), 25.0);
  EXPECT_EQ(defaults.doubleForKey("int"), 5.0);
  EXPECT_TRUE(defaults.boolForKey("yes"));
  EXPECT_TRUE(defaults.boolForKey("true"));
  EXPECT_TRUE(defaults.boolForKey("zeroes"));
  EXPECT_FALSE(defaults.boolForKey("no"));
  EXPECT_TRUE(defaults.boolForKey("int"));
  EXPECT_FALSE(defaults.boolForKey("missing"));
  EXPECT_EQ(defaults.stringForKey("int"), "5");
  EXPECT_EQ(defaults.stringForKey("bool"), "1");
  EXPECT_EQ(defaults.stringForKey("missing"), std::nullopt);
  // Getters of the wrong kind give nothing.
  EXPECT_EQ(defaults.arrayForKey("digits"), std::nullopt);
  EXPECT_EQ(defaults.dictionaryForKey("digits"), std::nullopt);
  EXPECT_EQ(defaults.dataForKey("digits"), std::nullopt);
  ASSERT_TRUE(defaults.setArray("mixed", {"a", 1}).ok());
  EXPECT_EQ(defaults.stringArrayForKey("mixed"), std::nullopt);
}

TEST_F(UserDefaultsTest, AppleLanguagesDefaultsToThePreferredLanguagesUntilWritten) {
  runtime::UserDefaults defaults(file(), {"ru", "en"});
  EXPECT_EQ(defaults.preferredLanguages(), (std::vector<std::string>{"ru", "en"}));
  EXPECT_EQ(defaults.stringArrayForKey(runtime::UserDefaults::kAppleLanguagesKey),
            (std::vector<std::string>{"ru", "en"}));
  // Registered values are never written.
  ASSERT_TRUE(defaults.setString("other", "x").ok());
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_FALSE(onDisk().dictionary()->contains("AppleLanguages"));

  // The language screen stores one code and saves at once.
  ASSERT_TRUE(defaults.setArray(runtime::UserDefaults::kAppleLanguagesKey, {"ja"}).ok());
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(defaults.preferredLanguages(), std::vector<std::string>{"ja"});
  runtime::UserDefaults reopened(file(), {"en"});
  EXPECT_EQ(reopened.preferredLanguages(), std::vector<std::string>{"ja"});
  // Removing it brings the process's languages back.
  reopened.removeObjectForKey(runtime::UserDefaults::kAppleLanguagesKey);
  EXPECT_EQ(reopened.preferredLanguages(), std::vector<std::string>{"en"});
}

TEST_F(UserDefaultsTest, RegisteredDefaultsSitBelowStoredValues) {
  runtime::UserDefaults defaults(file(), {"en"});
  defaults.registerDefaults(Dictionary{{"limit", 5}, {"name", "default"}});
  EXPECT_EQ(defaults.integerForKey("limit"), 5);
  defaults.setInteger("limit", 9);
  EXPECT_EQ(defaults.integerForKey("limit"), 9);
  defaults.removeObjectForKey("limit");
  EXPECT_EQ(defaults.integerForKey("limit"), 5);
  const Dictionary all = defaults.dictionaryRepresentation();
  EXPECT_EQ(all["name"], Value("default"));
  EXPECT_TRUE(all.contains("AppleLanguages"));
}

TEST_F(UserDefaultsTest, NullRemovesAndUnstorableValuesAreRefused) {
  runtime::UserDefaults defaults(file(), {"en"});
  ASSERT_TRUE(defaults.setString("k", "v").ok());
  ASSERT_TRUE(defaults.setObject("k", Value()).ok());
  EXPECT_TRUE(defaults.objectForKey("k").isNull());

  EXPECT_FALSE(defaults.setArray("list", {"a", Value()}).ok());
  EXPECT_FALSE(defaults.setString("bad", std::string("\xC3\x28")).ok());
  EXPECT_FALSE(defaults.setString(std::string("bad\xFF"), "v").ok());
  EXPECT_TRUE(defaults.objectForKey("list").isNull());
  // A refused value never poisons the next write.
  ASSERT_TRUE(defaults.setString("good", "v").ok());
  EXPECT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(onDisk(), Value(Dictionary{{"good", "v"}}));
}

TEST_F(UserDefaultsTest, SynchronizeWritesOnlyChangesAndCreatesTheFolder) {
  runtime::UserDefaults defaults(file(), {"en"});
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_FALSE(files::exists(file()));  // nothing changed, nothing written
  defaults.setBool("flag", false);
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_TRUE(files::exists(file()));
  EXPECT_EQ(onDisk(), Value(Dictionary{{"flag", false}}));
  // No temporary file is left beside it.
  auto entries = files::listDirectory(file().parent_path());
  ASSERT_TRUE(entries.ok());
  EXPECT_EQ(*entries, std::vector<std::string>{"com.example.diary.plist"});
}

TEST_F(UserDefaultsTest, UnsavedChangesAreWrittenWhenTheInstanceGoesAway) {
  {
    runtime::UserDefaults defaults(file(), {"en"});
    defaults.setInteger("late", 3);
  }
  runtime::UserDefaults reopened(file(), {"en"});
  EXPECT_EQ(reopened.integerForKey("late"), 3);
}

TEST_F(UserDefaultsTest, ADamagedFileReadsAsEmptyWithALogLine) {
  fs::create_directories(file().parent_path());
  for (std::string_view contents :
       {std::string_view("bplist00 broken"), std::string_view("<plist><dict><key>"),
        std::string_view("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    {
      std::ofstream out(file(), std::ios::binary | std::ios::trunc);
      out << contents;
    }
    foundation::ScopedLogCapture capture;
    runtime::UserDefaults defaults(file(), {"en"});
    EXPECT_TRUE(capture.contains("UserDefaults")) << contents;
    EXPECT_TRUE(capture.contains(file().string())) << contents;
    EXPECT_EQ(defaults.dictionaryRepresentation().size(), 1u) << contents;  // only AppleLanguages
    EXPECT_EQ(defaults.preferredLanguages(), std::vector<std::string>{"en"});
    // It is replaced by the next write.
    defaults.setInteger("fresh", 1);
    ASSERT_TRUE(defaults.synchronize().ok());
    EXPECT_EQ(onDisk(), Value(Dictionary{{"fresh", 1}}));
  }
}

TEST_F(UserDefaultsTest, AFailedWriteIsReportedAndKeepsTheChanges) {
  // A file where the folder should be.
  fs::create_directories(home.path() / "Library");
  std::ofstream(home.path() / "Library" / "Preferences") << "not a folder";
  runtime::UserDefaults defaults(file(), {"en"});
  defaults.setInteger("kept", 1);
  EXPECT_FALSE(defaults.synchronize().ok());
  EXPECT_EQ(defaults.integerForKey("kept"), 1);
  fs::remove(home.path() / "Library" / "Preferences");
  EXPECT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(onDisk(), Value(Dictionary{{"kept", 1}}));
}

TEST_F(UserDefaultsTest, ConcurrentWritersAndReadersAreSafe) {
  runtime::UserDefaults defaults(file(), {"en"});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        defaults.setInteger("key" + std::to_string(t), i);
        (void)defaults.integerForKey("key" + std::to_string((t + 1) % 4));
        if (i % 50 == 0) (void)defaults.synchronize();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(defaults.synchronize().ok());
  for (int t = 0; t < 4; ++t) EXPECT_EQ(defaults.integerForKey("key" + std::to_string(t)), 199);
  EXPECT_EQ(onDisk().dictionary()->size(), 4u);
}

TEST(SystemPreferredLanguagesTest, ComeFromTheLocaleEnvironment) {
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved;
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
    unsetenv(name);
  }

  EXPECT_EQ(runtime::systemPreferredLanguages(), std::vector<std::string>{"en"});
  setenv("LANG", "C.UTF-8", 1);
  EXPECT_EQ(runtime::systemPreferredLanguages(), std::vector<std::string>{"en"});
  setenv("LANG", "ru_RU.UTF-8", 1);
  EXPECT_EQ(runtime::systemPreferredLanguages(), std::vector<std::string>{"ru"});
  setenv("LC_ALL", "zh_TW.UTF-8", 1);
  EXPECT_EQ(runtime::systemPreferredLanguages(), std::vector<std::string>{"zh-Hant"});
  setenv("LANGUAGE", "pt_PT:zh_CN:de:pt_PT", 1);
  EXPECT_EQ(runtime::systemPreferredLanguages(),
            (std::vector<std::string>{"pt-PT", "zh-Hans", "de", "zh-Hant"}));

  for (const auto& entry : saved) {
    if (entry.value) {
      setenv(entry.name, entry.value->c_str(), 1);
    } else {
      unsetenv(entry.name);
    }
  }
}

}  // namespace
