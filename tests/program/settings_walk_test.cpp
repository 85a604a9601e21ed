// A parent meets the diary's settings through the `diary` program: a first launch on a phone whose
// language the diary has no texts for, a reminder that outlives a quit, and a restore on the tablet
// whose backup screen stays open. Each walk is a script; what `look` lists and what the program
// printed are read back. The screens go to test-output/settings_walk/<walk>.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "linked_cloud.h"
#include "platform/files/file_ops.h"
#include "platform/plist/property_list.h"
#include "platform/ui/application.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

DiaryRun runDiary(const testing_support::TempDir& home, const std::string& script, const std::string& walk,
                  const std::string& arguments = "", const std::string& environment = "") {
  return runDiaryScript(home, script, testing_support::testOutput() / "settings_walk" / walk, arguments,
                        environment);
}

// The texts of each alert the program's looks found up, in order.
std::vector<std::vector<std::string>> alertLooks(const std::string& out) {
  return quotedLines(out, "the alert's buttons: ");
}

// A phone's first launch hides the language screen's bar: it still confirms, and the baby step
// follows; the next launch starts in the chosen language. The tablet's bar keeps its own "OK".
TEST(SettingsWalk, AFirstLaunchInALanguageWithoutTextsGoesOnToTheFirstBaby) {
  struct Case {
    const char* name;
    const char* lang;
    std::string device;
  };
  const Case cases[] = {
      {"phone-it", "it_IT.UTF-8", ""},
      {"phone-nl", "nl_NL.UTF-8", ""},
      {"phone-sv", "sv_SE.UTF-8", "--device iphone-667"},
      {"tablet-it", "it_IT.UTF-8", "--device ipad"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const std::string environment = std::string("-u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=") + c.lang;
    // "OK" before a language is marked leaves the screen where it is.
    DiaryRun run =
        runDiary(home, "look\ntap OK\ntap English\ntap OK\nlook\nquit\n", c.name, c.device, environment);
    ASSERT_EQ(run.status, 0) << run.out;
    auto looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 2u) << run.out;
    EXPECT_TRUE(lists(looks[0], "English") && lists(looks[0], "Deutsch")) << run.out;
    EXPECT_EQ(std::count(looks[0].begin(), looks[0].end(), "OK"), 1) << run.out;
    EXPECT_TRUE(lists(looks[1], "New baby") && lists(looks[1], "Name")) << run.out;
    EXPECT_TRUE(cutTexts(run.out).empty()) << run.out;

    run = runDiary(home, "look\nquit\n", std::string(c.name) + "-again", c.device, environment);
    ASSERT_EQ(run.status, 0) << run.out;
    looks = lookTexts(run.out);
    ASSERT_EQ(looks.size(), 1u) << run.out;
    EXPECT_TRUE(lists(looks[0], "New baby") && !lists(looks[0], "Deutsch")) << run.out;
  }
}

// The date a reminder's wheel shows `days` from today.
std::string wheelDay(int days) {
  const std::time_t when = std::time(nullptr) + days * 86400;
  char date[32];
  std::strftime(date, sizeof date, "%b %-d, %Y", std::localtime(&when));
  return date;
}

constexpr const char* kToReminders = "tap iPhone_list_button\ntap Reminders\n";

// On the reminder list: a Sleep reminder for tomorrow.
std::string addSleepReminderTomorrow() {
  return "tap +\ntap Sleep\npick \"" + wheelDay(1) + "\"\ntap iPhone_ok_button_white\n";
}

// Moves every kept fire date a day into the past, as if the diary had not run since.
void letTheScheduleFallDue(const testing_support::TempDir& home) {
  const auto file = home / "root" / std::string(ui::kScheduledNotificationsFileName);
  const auto bytes = files::readFile(file);
  ASSERT_TRUE(bytes.ok());
  auto schedule = plist::readPropertyList(*bytes);
  ASSERT_TRUE(schedule.ok() && schedule->array() && !schedule->array()->empty());
  foundation::Array due;
  for (const auto& entry : *schedule->array()) {
    auto notification = ui::LocalNotification::fromValue(entry);
    ASSERT_TRUE(notification);
    notification->fireDate = foundation::Clock::system().now() - 86400;
    due.push_back(notification->toValue());
  }
  const auto written = plist::writePropertyList(foundation::Value(std::move(due)), plist::Format::Binary);
  ASSERT_TRUE(written.ok());
  ASSERT_TRUE(files::writeAtomic(file, *written).ok());
}

// A Sleep reminder set, the diary quit: the next run lists it and its alert comes when its time
// does; one whose time passed while the diary was not running comes at the next start; a kept
// schedule that cannot be read is said so and the diary goes on.
TEST(SettingsWalk, AReminderOutlivesAQuit) {
  testing_support::TempDir home;
  DiaryRun run = runDiary(
      home, std::string(kNewBabyFirstRun) + kToReminders + addSleepReminderTomorrow() + "quit\n", "set");
  ASSERT_EQ(run.status, 0) << run.out;

  run = runDiary(home,
                 std::string(kToReminders) + "look\nadvance 1h\nlook\nadvance 2d\nlook\ntap OK\nlook\nquit\n",
                 "next-run");
  ASSERT_EQ(run.status, 0) << run.out;
  auto looks = lookTexts(run.out);
  ASSERT_EQ(looks.size(), 3u) << run.out;
  EXPECT_TRUE(lists(looks[0], "Sleep")) << run.out;
  EXPECT_TRUE(lists(looks[1], "Sleep")) << run.out;  // not due yet
  ASSERT_EQ(alertLooks(run.out).size(), 1u) << run.out;
  EXPECT_TRUE(lists(alertLooks(run.out)[0], "OK")) << run.out;
  EXPECT_FALSE(lists(looks[2], "Sleep")) << run.out;  // delivered, gone from the list

  run = runDiary(home, std::string(kToReminders) + "look\n" + addSleepReminderTomorrow() + "quit\n",
                 "set-again");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_EQ(lookTexts(run.out).size(), 1u) << run.out;
  EXPECT_FALSE(lists(lookTexts(run.out)[0], "Sleep")) << run.out;  // it came once, not again
  letTheScheduleFallDue(home);
  run = runDiary(home, "look\ntap OK\ntap iPhone_list_button\ntap Reminders\nlook\nquit\n", "fell-due");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_EQ(alertLooks(run.out).size(), 1u) << run.out;
  ASSERT_EQ(lookTexts(run.out).size(), 1u) << run.out;
  EXPECT_FALSE(lists(lookTexts(run.out)[0], "Sleep")) << run.out;

  ASSERT_TRUE(files::writeAtomic(home / "root" / std::string(ui::kScheduledNotificationsFileName),
                                 std::string("bplist00 cut short"))
                  .ok());
  run = runDiary(home, std::string(kToReminders) + addSleepReminderTomorrow() + "look\nquit\n", "unreadable");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("cannot be read"), std::string::npos) << run.out;
  EXPECT_TRUE(alertLooks(run.out).empty()) << run.out;
  ASSERT_EQ(lookTexts(run.out).size(), 1u) << run.out;
  EXPECT_TRUE(lists(lookTexts(run.out)[0], "Sleep")) << run.out;
}

// A restore into an empty store keeps the tablet's Settings sheet open under the baby list's
// popover; once the restore is over, the backup screen in it shows its actions again, not the
// transfer's panel.
TEST(SettingsWalk, ATabletRestoreLeavesTheBackupScreenReady) {
  LinkedCloud cloud;
  testing_support::TempDir home;
  LinkedCloud::link(home);
  cloud.putBackUp({});
  // A tap beside the popover, below the sheet, puts the popover away.
  const DiaryRun run =
      runDiary(home,
               std::string(kNewBabyFirstRun) +
                   "tap Settings\ntap Cloud\ntap \"Restore data\"\nwait 30\ntap Yes\nwait 30\n"
                   "tap OK\nlook\ntap 600 900\nlook\nquit\n",
               "tablet-restore", "--device ipad");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto looks = lookTexts(run.out);
  ASSERT_EQ(looks.size(), 2u) << run.out;
  EXPECT_TRUE(lists(looks[0], "New baby")) << run.out;
  for (const char* shown : {"Back up data", "Restore data", "Disconnect"})
    EXPECT_TRUE(lists(looks[1], shown)) << shown << "\n" << run.out;
  EXPECT_FALSE(lists(looks[1], "Loading...")) << run.out;
}

// A diary whose parent chose Russian asks the cloud service for its replies in Russian (a backup's
// requests carry the locale), whatever the system's own language.
TEST(SettingsWalk, TheCloudIsAskedInTheChosenLanguage) {
  LinkedCloud cloud;
  testing_support::TempDir home;
  LinkedCloud::link(home);
  const DiaryRun run = runDiary(home,
                                firstRun("Masha", "ru") + "tap iPhone_list_button\ntap " +
                                    quotedText("Settings", "ru") + "\ntap " + quotedText("Cloud", "ru") +
                                    "\ntap " + quotedText("DoBackUp", "ru") + "\ntap " +
                                    quotedText("Yes", "ru") + "\nwait 30\nquit\n",
                                "cloud-locale", "--language ru", "LANG=C.UTF-8");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto requests = cloud.server().requests();
  std::vector<std::string> locales;
  for (const auto& seen : requests)
    if (seen.params.count("locale")) locales.push_back(seen.params.at("locale"));
  ASSERT_FALSE(locales.empty()) << run.out;
  EXPECT_EQ(locales, std::vector<std::string>(locales.size(), "ru"));
}

}  // namespace
