#include "app/settings_records.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "file_store_fixture.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"

namespace app {
namespace {

using namespace file_store_test;
using foundation::Dictionary;
using foundation::Value;
using Tutorial = std::optional<tutorialStatus>;
using Rate = std::optional<askRateData>;

class SettingsRecordsTest : public FileStoreTest {
 protected:
  SettingsRecordsTest() : FileStoreTest("Europe/Moscow"), records_(home_) {}

  TutorialEnvironment environment(int version = 22) {
    TutorialEnvironment env;
    env.versionNumber = version;
    env.clock = &clock_;
    env.countryCode = "RU";
    env.logEvent = [this](std::string name, Dictionary parameters) {
      events_.push_back({std::move(name), std::move(parameters)});
    };
    return env;
  }
  void writeText(std::string_view file, std::string_view text) {
    ASSERT_TRUE(records_.createSettingsDir().ok());
    ASSERT_TRUE(files::writeText(records_.pathOf(file), text, files::TextEncoding::Utf16).ok());
  }

  foundation::ScopedDefaultLocale locale_{foundation::Locale("ru_RU")};
  SettingsRecords records_;
  foundation::ManualClock clock_{Date{450000000}};
  std::vector<std::pair<std::string, Dictionary>> events_;
};

// --- The records' files

TEST_F(SettingsRecordsTest, RecordsRoundTripAsKeyedArchivesAndDamagedOnesReadAsAbsent) {
  EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(22, 3)).ok());
  ASSERT_TRUE(records_.writeRateRequestData(askRateData(231, true, 50)).ok());
  EXPECT_EQ(records_.readTutorialStatus(), Tutorial(tutorialStatus(22, 3)));
  EXPECT_EQ(records_.readRateRequestData(), Rate(askRateData(231, true, 50)));
  const Bytes rate = readAll(records_.pathOf(kRateRequestDataFileName));
  for (std::string_view key : {"NSKeyedArchiver", "askRateData", "vers", "rated", "tilask"})
    EXPECT_NE(std::search(rate.begin(), rate.end(), key.begin(), key.end()), rate.end()) << key;

  const fs::path file = records_.pathOf(kTutorialStatusFileName);
  const Bytes good = readAll(file);
  foundation::ScopedLogCapture log;
  // Empty, truncated, another kind of file, the other record's file, a folder.
  for (const Bytes& bad : {Bytes{}, Bytes(good.begin(), good.end() - 3), bytes("{}"), rate}) {
    ASSERT_TRUE(files::writeAtomic(file, bad).ok());
    EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
  }
  ASSERT_TRUE(files::remove(file).ok());
  ASSERT_TRUE(files::createDirectory(file).ok());
  EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
}

TEST_F(SettingsRecordsTest, FirstLaunchDateAndErrorCountAreUtf16Text) {
  const Date midnight = foundation::DateFormatter::withPattern("yyyy.MM.dd", foundation::Locale::posix(),
                                                               foundation::TimeZone::local())
                            .dateFromString("2015.03.05")
                            .value();
  ASSERT_TRUE(records_.writeFirstLaunchDate(midnight + 12 * 3600).ok());
  EXPECT_EQ(
      readAll(records_.pathOf(kFirstLaunchFileName)),
      (Bytes{0xFF, 0xFE, '2', 0, '0', 0, '1', 0, '5', 0, '.', 0, '0', 0, '3', 0, '.', 0, '0', 0, '5', 0}));
  EXPECT_EQ(records_.readFirstLaunchDate(), std::optional<Date>(midnight));
  for (const std::string_view bad : {"", "2015-03-05", "yesterday", "2015.13.40"}) {
    writeText(kFirstLaunchFileName, bad);
    EXPECT_EQ(records_.readFirstLaunchDate(), std::nullopt) << bad;
  }
  ASSERT_TRUE(files::writeAtomic(records_.pathOf(kFirstLaunchFileName), Bytes{0xFF, 0xFE, '2'}).ok());
  EXPECT_EQ(records_.readFirstLaunchDate(), std::nullopt);

  EXPECT_EQ(records_.readAlertAboutErrors(), std::nullopt);
  ASSERT_TRUE(records_.writeAlertAboutErrors(40).ok());
  EXPECT_EQ(readAll(records_.pathOf(kAlertAboutErrorsFileName)), (Bytes{0xFF, 0xFE, '4', 0, '0', 0}));
  EXPECT_EQ(records_.readAlertAboutErrors(), std::optional<int>(40));
  writeText(kAlertAboutErrorsFileName, "ten");
  EXPECT_EQ(records_.readAlertAboutErrors(), std::optional<int>(0));
  ASSERT_TRUE(files::writeAtomic(records_.pathOf(kAlertAboutErrorsFileName), Bytes{0xFE}).ok());
  EXPECT_EQ(records_.readAlertAboutErrors(), std::nullopt);
}

// --- The tutorial's step

TEST_F(SettingsRecordsTest, TutorialStepAtLaunchAndAfterARestore) {
  const struct {
    const char* what;
    Tutorial stored;
    bool junk, finished;
    int step;
    Tutorial after;
  } cases[] = {
      {"first launch", {}, false, false, 0, {}},
      {"same version", tutorialStatus(22, 2), false, false, 2, tutorialStatus(22, 2)},
      {"update from 2.1 to 2.2", tutorialStatus(21, 1), false, false, -1, tutorialStatus(22, -1)},
      {"record of a newer version", tutorialStatus(30, 3), false, false, 3, tutorialStatus(30, 3)},
      {"unreadable record", {}, true, false, 0, {}},
      {"after a restore", tutorialStatus(22, 1), false, true, -1, tutorialStatus(22, -1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(files::remove(records_.settingsDir()).ok());
    if (c.stored) {
      ASSERT_TRUE(records_.writeTutorialStatus(*c.stored).ok());
    }
    if (c.junk) writeText(kTutorialStatusFileName, "junk");
    EXPECT_EQ(initTutorialStatus(c.finished, records_, environment(applicationVersionNumber("2.2"))), c.step);
    EXPECT_EQ(records_.readTutorialStatus(), c.after);
  }
  ASSERT_TRUE(files::remove(records_.settingsDir()).ok());
  EXPECT_EQ(initTutorialStatus(false, records_, environment()), 0);
  EXPECT_FALSE(fs::exists(records_.settingsDir())) << "a first launch writes nothing";
}

TEST_F(SettingsRecordsTest, SavingAStepAndLoggingTheFinish) {
  ASSERT_TRUE(saveTutorialState(3, records_, environment()).ok());  // makes the folder
  EXPECT_EQ(records_.readTutorialStatus(), Tutorial(tutorialStatus(22, 3)));
  ASSERT_TRUE(saveTutorialState(-1, records_, environment()).ok());
  EXPECT_TRUE(events_.empty()) << "no first-launch date: nothing to log";

  writeText(kFirstLaunchFileName, "2015.03.05");
  const Date firstLaunch = *records_.readFirstLaunchDate();
  clock_.set(firstLaunch + 10 * 86400 + 5 * 3600);
  ASSERT_TRUE(saveTutorialState(-1, records_, environment()).ok());
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].first, "tutorial_finished");
  EXPECT_EQ(events_[0].second, (Dictionary{{"dayNum", Value("10")}, {"country", Value("RU")}}));
  // Logged again at every save while finished; a date ahead of now counts as day 0.
  clock_.set(firstLaunch - 4 * 86400);
  ASSERT_TRUE(saveTutorialState(-1, records_, environment()).ok());
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].second["dayNum"], Value("0"));

  // Not for another step, without a preferred language, nor (harmlessly) without analytics.
  auto env = environment();
  env.hasPreferredLanguages = false;
  ASSERT_TRUE(saveTutorialState(-1, records_, env).ok());
  ASSERT_TRUE(saveTutorialState(2, records_, environment()).ok());
  env = environment();
  env.logEvent = nullptr;
  EXPECT_TRUE(saveTutorialState(-1, records_, env).ok());
  EXPECT_EQ(events_.size(), 2u);

  ASSERT_TRUE(files::remove(records_.pathOf(kTutorialStatusFileName)).ok());
  ASSERT_TRUE(files::createDirectory(records_.pathOf(kTutorialStatusFileName) / "x").ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saveTutorialState(1, records_, environment()).ok());
  EXPECT_TRUE(log.contains("Cannot save the tutorial state"));
}

// --- The rate prompt's version rule

TEST(RatePromptTest, VersionNumbersAndDecisionsAfterASave) {
  // Version texts: dots removed, leading digits read.
  for (const auto& [text, number] : std::vector<std::pair<const char*, int>>{
           {"2.1.3", 213}, {"2.1", 21}, {"2.3.1", 231}, {"1.0b2", 10}, {"beta", 0}, {"", 0}})
    EXPECT_EQ(applicationVersionNumber(text), number) << text;
  EXPECT_EQ(integerValueOfText("  -12abc"), -12);
  EXPECT_EQ(integerValueOfText("99999999999999"), 2147483647);

  const struct {
    Rate record;
    int version;
    bool ask;
    Rate store;
  } cases[] = {
      {{}, 22, true, {}},
      // An update restarts the countdown at five, keeping "rated".
      {askRateData(21, true, -1), 22, false, askRateData(22, true, 5)},
      {askRateData(21, false, 280), 22, false, askRateData(22, false, 5)},
      {askRateData(21, true, -1), 21, false, {}},  // rated: never asked again in this version
      {askRateData(22, false, 300), 22, false, askRateData(22, false, 299)},
      {askRateData(22, true, 3), 22, false, askRateData(22, true, 2)},
      {askRateData(22, false, 0), 22, true, {}},
      {askRateData(22, false, -4), 22, true, {}},
      {askRateData(22, true, 0), 22, true, {}},
      {askRateData(25, false, 0), 22, true, {}},  // a newer record is kept as it is
  };
  for (const auto& c : cases) {
    const auto decision = ratePromptAfterSave(c.record, c.version);
    EXPECT_EQ(decision.ask, c.ask) << &c - cases;
    EXPECT_EQ(decision.store, c.store) << &c - cases;
  }
  // After an update the question returns on the seventh save.
  Rate record = askRateData(21, true, -1);
  int save = 1;
  for (; save < 20 && !ratePromptAfterSave(record, 22).ask; ++save)
    record = ratePromptAfterSave(record, 22).store;
  EXPECT_EQ(save, 7);
}

}  // namespace
}  // namespace app
