#include "platform/runtime/user_defaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>

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
  // What the file holds (a file that cannot be read fails the test with its error).
  Value onDisk() const { return *plist::readPropertyList(*files::readFile(file())); }

  testing_support::TempDir home;
};

TEST_F(UserDefaultsTest, ValuesOfEveryKindSurviveSynchronizeAndReopenFromLibraryPreferences) {
  EXPECT_EQ(file(), home.path() / "Library" / "Preferences" / "com.example.diary.plist");
  const Dictionary values{{"cloud.sync.nonce", "5F0B6A3C"},
                          {"count", -42},
                          {"expiry", 456789.5},
                          {"flag", true},
                          {"list", Array{"a", 1}},
                          {"blob", Bytes{1, 2}},
                          {"kCloudSavedCredentials", Dictionary{{"kCloudUserId", "7"}}},
                          {"when", Date{1000}}};
  {
    runtime::UserDefaults defaults(file(), {"en"});
    for (const auto& [key, value] : values) ASSERT_TRUE(defaults.setObject(key, value).ok()) << key;
    ASSERT_TRUE(defaults.synchronize().ok());
    // The file is a binary property list of exactly the stored values.
    EXPECT_EQ(plist::detectFormat(files::readFile(file())->data(), 8), plist::Format::Binary);
    EXPECT_EQ(onDisk(), Value(values));
  }
  runtime::UserDefaults reopened(file(), {"en"});
  for (const auto& [key, value] : values) EXPECT_EQ(reopened.objectForKey(key), value) << key;
}

TEST_F(UserDefaultsTest, TypedGettersConvertTheWayThePlatformDoes) {
  runtime::UserDefaults defaults(file(), {"en"});
  struct Case {
    Value stored;
    std::int64_t integer;
    double real;
    bool boolean;
    std::optional<std::string> text;
  };
  for (const Case& c :
       {Case{Value("  -12abc"), -12, -12.0, true, "  -12abc"}, Case{Value("2.5e1x"), 2, 25.0, true, "2.5e1x"},
        Case{Value("YES"), 0, 0.0, true, "YES"}, Case{Value(" true"), 0, 0.0, true, " true"},
        Case{Value("007"), 7, 7.0, true, "007"}, Case{Value("no"), 0, 0.0, false, "no"},
        Case{Value(3.9), 3, 3.9, true, "3.9"}, Case{Value(5), 5, 5.0, true, "5"},
        Case{Value(true), 1, 1.0, true, "1"}, Case{Value(Array{"a", 1}), 0, 0.0, false, std::nullopt},
        Case{Value(), 0, 0.0, false, std::nullopt}}) {
    ASSERT_TRUE(defaults.setObject("k", c.stored).ok());
    EXPECT_EQ(defaults.integerForKey("k"), c.integer) << c.stored.description();
    EXPECT_EQ(defaults.doubleForKey("k"), c.real) << c.stored.description();
    EXPECT_EQ(defaults.boolForKey("k"), c.boolean) << c.stored.description();
    EXPECT_EQ(defaults.stringForKey("k"), c.text) << c.stored.description();
  }
  // A list holding anything but text is no string list.
  ASSERT_TRUE(defaults.setArray("mixed", {"a", 1}).ok());
  EXPECT_EQ(defaults.stringArrayForKey("mixed"), std::nullopt);
}

TEST_F(UserDefaultsTest, RegisteredValuesSitBelowStoredOnesAndAreNeverWritten) {
  runtime::UserDefaults defaults(file(), {"ru", "en"});
  EXPECT_EQ(defaults.preferredLanguages(), (std::vector<std::string>{"ru", "en"}));
  EXPECT_EQ(defaults.stringArrayForKey(runtime::UserDefaults::kAppleLanguagesKey),
            (std::vector<std::string>{"ru", "en"}));
  defaults.registerDefaults(Dictionary{{"limit", 5}, {"name", "default"}});
  defaults.setInteger("limit", 9);
  EXPECT_EQ(defaults.integerForKey("limit"), 9);
  EXPECT_EQ(defaults.dictionaryRepresentation(),
            (Dictionary{{"AppleLanguages", Value(Array{"ru", "en"})}, {"limit", 9}, {"name", "default"}}));
  defaults.removeObjectForKey("limit");
  EXPECT_EQ(defaults.integerForKey("limit"), 5);
  ASSERT_TRUE(defaults.setString("other", "x").ok());
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(onDisk(), Value(Dictionary{{"other", "x"}}));

  // The language screen stores one code and saves at once.
  ASSERT_TRUE(defaults.setArray(runtime::UserDefaults::kAppleLanguagesKey, {"ja"}).ok());
  ASSERT_TRUE(defaults.synchronize().ok());
  runtime::UserDefaults reopened(file(), {"en"});
  EXPECT_EQ(reopened.preferredLanguages(), std::vector<std::string>{"ja"});
  // Removing it brings the process's languages back.
  reopened.removeObjectForKey(runtime::UserDefaults::kAppleLanguagesKey);
  EXPECT_EQ(reopened.preferredLanguages(), std::vector<std::string>{"en"});
}

TEST_F(UserDefaultsTest, NullRemovesAndUnstorableValuesAreRefusedWithoutPoisoningTheNextWrite) {
  runtime::UserDefaults defaults(file(), {"en"});
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_FALSE(files::exists(file()));  // nothing changed, nothing written
  ASSERT_TRUE(defaults.setString("k", "v").ok());
  ASSERT_TRUE(defaults.setObject("k", Value()).ok());
  EXPECT_TRUE(defaults.objectForKey("k").isNull());
  EXPECT_FALSE(defaults.setArray("list", {"a", Value()}).ok());
  EXPECT_FALSE(defaults.setString("bad", std::string("\xC3\x28")).ok());
  EXPECT_FALSE(defaults.setString(std::string("bad\xFF"), "v").ok());
  EXPECT_TRUE(defaults.objectForKey("list").isNull());
  ASSERT_TRUE(defaults.setString("good", "v").ok());
  EXPECT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(onDisk(), Value(Dictionary{{"good", "v"}}));
  // No temporary file is left beside it.
  EXPECT_EQ(*files::listDirectory(file().parent_path()), std::vector<std::string>{"com.example.diary.plist"});
}

TEST_F(UserDefaultsTest, ADamagedFileReadsAsEmptyWithALogLineAndIsReplacedByTheNextWrite) {
  fs::create_directories(file().parent_path());
  for (std::string_view contents :
       {"bplist00 broken", "<plist><dict><key>", "<?xml version=\"1.0\"?><plist><array/></plist>"}) {
    ASSERT_TRUE(files::writeAtomic(file(), contents).ok());
    foundation::ScopedLogCapture capture;
    runtime::UserDefaults defaults(file(), {"en"});
    EXPECT_TRUE(capture.contains("UserDefaults")) << contents;
    EXPECT_TRUE(capture.contains(file().string())) << contents;
    EXPECT_EQ(defaults.dictionaryRepresentation(), (Dictionary{{"AppleLanguages", Value(Array{"en"})}}));
    defaults.setInteger("fresh", 1);
    ASSERT_TRUE(defaults.synchronize().ok());
    EXPECT_EQ(onDisk(), Value(Dictionary{{"fresh", 1}}));
  }
}

TEST_F(UserDefaultsTest, AFailedWriteIsReportedAndKeepsTheChangesForTheNextOrTheLastWrite) {
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
  // Unsaved changes are written when the instance goes away.
  { runtime::UserDefaults(file(), {"en"}).setInteger("late", 3); }
  EXPECT_EQ(runtime::UserDefaults(file(), {"en"}).integerForKey("late"), 3);
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
  const char* const names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    unsetenv(name);
  }
  // Each row sets one more variable, of a higher priority than the ones before.
  using Step = std::tuple<const char*, const char*, std::vector<std::string>>;
  for (const auto& [name, value, expected] :
       {Step{"LANG", nullptr, {"en"}}, Step{"LANG", "C.UTF-8", {"en"}}, Step{"LANG", "ru_RU.UTF-8", {"ru"}},
        Step{"LC_ALL", "zh_TW.UTF-8", {"zh-Hant"}},
        Step{"LANGUAGE", "pt_PT:zh_CN:de:pt_PT", {"pt-PT", "zh-Hans", "de", "zh-Hant"}}}) {
    if (value) setenv(name, value, 1);
    EXPECT_EQ(runtime::systemPreferredLanguages(), expected) << (value ? value : "(none)");
  }
  for (size_t i = 0; i < std::size(names); ++i)
    saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
