#include "app/settings_records.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/files/file_ops.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/log.h"
#include "platform/foundation/time_zone.h"
#include "platform/plist/property_list.h"
#include "support/temp_dir.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

struct LoggedEvent {
  std::string name;
  Dictionary parameters;
};

class SettingsRecordsTest : public ::testing::Test {
 protected:
  SettingsRecordsTest()
      : zone_(*foundation::TimeZone::withIdentifier("Europe/Moscow")),
        locale_(foundation::Locale("ru_RU")),
        home_(temp_.path() / "home"),
        records_(home_) {
    EXPECT_TRUE(home_.create().ok());
  }

  TutorialEnvironment environment(int version) {
    TutorialEnvironment env;
    env.versionNumber = version;
    env.clock = &clock_;
    env.countryCode = "RU";
    env.logEvent = [this](std::string name, Dictionary parameters) {
      events_.push_back({std::move(name), std::move(parameters)});
    };
    return env;
  }

  Date localMidnight(std::string_view day) {
    return *foundation::DateFormatter::withPattern("yyyy.MM.dd", foundation::Locale::posix(),
                                                   foundation::TimeZone::local())
                .dateFromString(day);
  }

  foundation::ScopedDefaultTimeZone zone_;
  foundation::ScopedDefaultLocale locale_;
  testing_support::TempDir temp_;
  files::AppHome home_;
  SettingsRecords records_;
  foundation::ManualClock clock_{Date{450000000}};
  std::vector<LoggedEvent> events_;
};

TEST(ApplicationVersionNumberTest, DotsRemovedAndLeadingDigitsRead) {
  EXPECT_EQ(applicationVersionNumber("2.1.3"), 213);
  EXPECT_EQ(applicationVersionNumber("2.1"), 21);
  EXPECT_EQ(applicationVersionNumber("2.2"), 22);
  EXPECT_EQ(applicationVersionNumber("2.3.1"), 231);
  EXPECT_EQ(applicationVersionNumber("1.0b2"), 10);
  EXPECT_EQ(applicationVersionNumber("beta"), 0);
  EXPECT_EQ(applicationVersionNumber(""), 0);
  EXPECT_EQ(integerValueOfText("  -12abc"), -12);
  EXPECT_EQ(integerValueOfText("99999999999999"), 2147483647);
}

// --- The records' files ----------------------------------------------------------------------------------

TEST_F(SettingsRecordsTest, RecordsRoundTripAsKeyedArchivesInSettings) {
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(22, 3)).ok());
  ASSERT_TRUE(records_.writeRateRequestData(askRateData(231, true, 50)).ok());
  EXPECT_EQ(records_.settingsDir(), home_.library() / "Settings");
  EXPECT_EQ(records_.readTutorialStatus(), std::optional<tutorialStatus>(tutorialStatus(22, 3)));
  EXPECT_EQ(records_.readRateRequestData(), std::optional<askRateData>(askRateData(231, true, 50)));

  auto bytes = files::readFile(home_.library() / "Settings" / "rateRequestData.txt");
  ASSERT_TRUE(bytes.ok());
  const auto holds = [&](std::string_view text) {
    return std::search(bytes->begin(), bytes->end(), text.begin(), text.end()) != bytes->end();
  };
  const bool found =
      holds("NSKeyedArchiver") && holds("askRateData") && holds("vers") && holds("rated") && holds("tilask");
  EXPECT_TRUE(found) << "the record keeps its keys \"vers\", \"rated\", \"tilask\"";
}

TEST_F(SettingsRecordsTest, MissingEmptyTruncatedAndForeignRecordsReadAsAbsent) {
  EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(22, 1)).ok());
  const fs::path file = records_.pathOf(kTutorialStatusFileName);
  const Bytes good = *files::readFile(file);
  foundation::ScopedLogCapture log;
  for (const Bytes& bad :
       {Bytes{}, Bytes(good.begin(), good.begin() + static_cast<long>(good.size() - 3)), Bytes{'{', '}'}}) {
    ASSERT_TRUE(files::writeAtomic(file, bad).ok());
    EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
  }
  // The other record's file in this one's place.
  ASSERT_TRUE(records_.writeRateRequestData(askRateData(22, false, 3)).ok());
  ASSERT_TRUE(files::writeAtomic(file, *files::readFile(records_.pathOf(kRateRequestDataFileName))).ok());
  EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
  ASSERT_TRUE(files::remove(file).ok());
  ASSERT_TRUE(files::createDirectory(file).ok());
  EXPECT_EQ(records_.readTutorialStatus(), std::nullopt);
}

TEST_F(SettingsRecordsTest, FirstLaunchDateIsUtf16TextWithAByteOrderMark) {
  const Date noon = localMidnight("2015.03.05") + 12 * 3600;
  ASSERT_TRUE(records_.writeFirstLaunchDate(noon).ok());
  const Bytes expected = {0xFF, 0xFE, '2', 0,   '0', 0,   '1', 0,   '5', 0,   '.',
                          0,    '0',  0,   '3', 0,   '.', 0,   '0', 0,   '5', 0};
  EXPECT_EQ(*files::readFile(records_.pathOf(kFirstLaunchFileName)), expected);
  EXPECT_EQ(records_.readFirstLaunchDate(), std::optional<Date>(localMidnight("2015.03.05")));

  for (const std::string_view bad : {"", "2015-03-05", "yesterday", "2015.13.40"}) {
    ASSERT_TRUE(
        files::writeText(records_.pathOf(kFirstLaunchFileName), bad, files::TextEncoding::Utf16).ok());
    EXPECT_EQ(records_.readFirstLaunchDate(), std::nullopt) << bad;
  }
  ASSERT_TRUE(files::writeAtomic(records_.pathOf(kFirstLaunchFileName), Bytes{0xFF, 0xFE, '2'}).ok());
  EXPECT_EQ(records_.readFirstLaunchDate(), std::nullopt);
}

TEST_F(SettingsRecordsTest, ErrorNoticeCountIsUtf16Text) {
  EXPECT_EQ(records_.readAlertAboutErrors(), std::nullopt);
  ASSERT_TRUE(records_.createSettingsDir().ok());
  ASSERT_TRUE(records_.writeAlertAboutErrors(40).ok());
  EXPECT_EQ(*files::readFile(records_.pathOf(kAlertAboutErrorsFileName)),
            (Bytes{0xFF, 0xFE, '4', 0, '0', 0}));
  EXPECT_EQ(records_.readAlertAboutErrors(), std::optional<int>(40));
  ASSERT_TRUE(
      files::writeText(records_.pathOf(kAlertAboutErrorsFileName), "ten", files::TextEncoding::Utf16).ok());
  EXPECT_EQ(records_.readAlertAboutErrors(), std::optional<int>(0));
  ASSERT_TRUE(files::writeAtomic(records_.pathOf(kAlertAboutErrorsFileName), Bytes{0xFE}).ok());
  EXPECT_EQ(records_.readAlertAboutErrors(), std::nullopt);
}

TEST_F(SettingsRecordsTest, FirstLaunchStartsTheTutorialAndWritesNothing) {
  EXPECT_EQ(initTutorialStatus(false, records_, environment(22)), 0);
  EXPECT_FALSE(fs::exists(records_.pathOf(kTutorialStatusFileName)));
  EXPECT_FALSE(fs::exists(records_.settingsDir()));
}

TEST_F(SettingsRecordsTest, SameVersionRestoresTheStep) {
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(22, 2)).ok());
  EXPECT_EQ(initTutorialStatus(false, records_, environment(22)), 2);
}

TEST_F(SettingsRecordsTest, UpdateFrom21To22EndsTheTutorial) {
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(applicationVersionNumber("2.1"), 1)).ok());
  EXPECT_EQ(initTutorialStatus(false, records_, environment(applicationVersionNumber("2.2"))), -1);
  EXPECT_EQ(records_.readTutorialStatus(), std::optional<tutorialStatus>(tutorialStatus(22, -1)));
}

TEST_F(SettingsRecordsTest, RecordOfANewerVersionIsTakenUnchanged) {
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(30, 3)).ok());
  EXPECT_EQ(initTutorialStatus(false, records_, environment(22)), 3);
  EXPECT_EQ(records_.readTutorialStatus(), std::optional<tutorialStatus>(tutorialStatus(30, 3)));
}

TEST_F(SettingsRecordsTest, UnreadableRecordCountsAsMissing) {
  ASSERT_TRUE(records_.createSettingsDir().ok());
  ASSERT_TRUE(files::writeAtomic(records_.pathOf(kTutorialStatusFileName), std::string_view("junk")).ok());
  EXPECT_EQ(initTutorialStatus(false, records_, environment(22)), 0);
}

TEST_F(SettingsRecordsTest, AfterARestoreTheTutorialIsFinished) {
  ASSERT_TRUE(records_.writeTutorialStatus(tutorialStatus(22, 1)).ok());
  EXPECT_EQ(initTutorialStatus(true, records_, environment(22)), -1);
  EXPECT_EQ(records_.readTutorialStatus(), std::optional<tutorialStatus>(tutorialStatus(22, -1)));
}

TEST_F(SettingsRecordsTest, SavingAStepWritesItAndMakesTheFolder) {
  ASSERT_TRUE(saveTutorialState(3, records_, environment(22)).ok());
  EXPECT_EQ(records_.readTutorialStatus(), std::optional<tutorialStatus>(tutorialStatus(22, 3)));
  EXPECT_TRUE(events_.empty());
}

TEST_F(SettingsRecordsTest, FinishingLogsWholeDaysSinceTheFirstLaunch) {
  ASSERT_TRUE(files::createDirectory(records_.settingsDir()).ok());
  ASSERT_TRUE(
      files::writeText(records_.pathOf(kFirstLaunchFileName), "2015.03.05", files::TextEncoding::Utf16).ok());
  clock_.set(localMidnight("2015.03.05") + 10 * 86400 + 5 * 3600);
  ASSERT_TRUE(saveTutorialState(-1, records_, environment(22)).ok());
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].name, "tutorial_finished");
  EXPECT_EQ(events_[0].parameters["dayNum"], Value("10"));
  EXPECT_EQ(events_[0].parameters["country"], Value("RU"));

  // Logged again at every save while finished; a date ahead of now counts as day 0.
  clock_.set(localMidnight("2015.03.01"));
  ASSERT_TRUE(saveTutorialState(-1, records_, environment(22)).ok());
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].parameters["dayNum"], Value("0"));
}

TEST_F(SettingsRecordsTest, FinishingLogsNothingWithoutADateOrALanguage) {
  ASSERT_TRUE(saveTutorialState(-1, records_, environment(22)).ok());
  EXPECT_TRUE(events_.empty());
  ASSERT_TRUE(
      files::writeText(records_.pathOf(kFirstLaunchFileName), "2015.03.05", files::TextEncoding::Utf16).ok());
  auto env = environment(22);
  env.hasPreferredLanguages = false;
  ASSERT_TRUE(saveTutorialState(-1, records_, env).ok());
  EXPECT_TRUE(events_.empty());
  env = environment(22);
  env.logEvent = nullptr;  // no analytics yet: nothing to send to, nothing breaks
  EXPECT_TRUE(saveTutorialState(-1, records_, env).ok());
  ASSERT_TRUE(saveTutorialState(2, records_, environment(22)).ok());
  EXPECT_TRUE(events_.empty());
}

TEST_F(SettingsRecordsTest, FailedSaveIsReportedAndLogged) {
  ASSERT_TRUE(files::createDirectory(records_.pathOf(kTutorialStatusFileName) / "x").ok());
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(saveTutorialState(1, records_, environment(22)).ok());
  EXPECT_TRUE(log.contains("Cannot save the tutorial state"));
}

// --- The rate prompt's version rule ------------------------------------------------------------------------

TEST(RatePromptTest, NoRecordAsks) {
  const auto decision = ratePromptAfterSave(std::nullopt, 22);
  EXPECT_TRUE(decision.ask);
  EXPECT_FALSE(decision.store.has_value());
}

TEST(RatePromptTest, AnUpdateRestartsTheCountdownAtFiveKeepingRated) {
  auto decision = ratePromptAfterSave(askRateData(21, true, -1), 22);
  EXPECT_FALSE(decision.ask);
  EXPECT_EQ(decision.store, std::optional<askRateData>(askRateData(22, true, 5)));
  decision = ratePromptAfterSave(askRateData(21, false, 280), 22);
  EXPECT_EQ(decision.store, std::optional<askRateData>(askRateData(22, false, 5)));
}

TEST(RatePromptTest, AfterAnUpdateTheQuestionReturnsOnTheSeventhSave) {
  // Rated with 400 notes: never asked again in this version.
  std::optional<askRateData> record = askRateData(21, true, -1);
  EXPECT_FALSE(ratePromptAfterSave(askRateData(21, true, -1), 21).ask);
  EXPECT_FALSE(ratePromptAfterSave(askRateData(21, true, -1), 21).store.has_value());
  int save = 0;
  for (;;) {
    ++save;
    const auto decision = ratePromptAfterSave(record, 22);
    if (decision.ask) break;
    ASSERT_TRUE(decision.store.has_value());
    record = decision.store;
    ASSERT_LT(save, 20);
  }
  EXPECT_EQ(save, 7);
}

TEST(RatePromptTest, CountdownOfAnUnratedRecord) {
  EXPECT_EQ(ratePromptAfterSave(askRateData(22, false, 300), 22).store,
            std::optional<askRateData>(askRateData(22, false, 299)));
  EXPECT_TRUE(ratePromptAfterSave(askRateData(22, false, 0), 22).ask);
  EXPECT_TRUE(ratePromptAfterSave(askRateData(22, false, -4), 22).ask);
  EXPECT_TRUE(ratePromptAfterSave(askRateData(22, true, 0), 22).ask);
  EXPECT_TRUE(ratePromptAfterSave(askRateData(25, false, 0), 22).ask) << "a newer record is kept as it is";
}

}  // namespace
}  // namespace app
