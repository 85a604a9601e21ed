// The charts as a parent reaches them in the diary program: the summary chart from the phone's side
// menu and from the tablet's panel, with a sleep across midnight split over its two days and a drink
// stored in millilitres shown in ounces after the unit was switched; and the developer screenshot
// mode run by the program's switch, whose captures differ wherever their screens do.
#include <gtest/gtest.h>

#include <ctime>
#include <set>

#include "program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace program_run;

// Runs the diary on home/"root" in UTC with a script, its pictures in test-output/charts_walk/<name>.
DiaryRun runDiary(const testing_support::TempDir& home, const std::string& script, const std::string& name,
                  const std::string& arguments = "") {
  return runDiaryScript(home, script, testing_support::testOutput() / "charts_walk" / name, arguments, "TZ=UTC");
}

// The texts of each "look", in order.
std::vector<std::set<std::string>> looks(const std::string& out) {
  std::vector<std::set<std::string>> all;
  for (const auto& texts : lookTexts(out)) all.emplace_back(texts.begin(), texts.end());
  return all;
}

constexpr const char* kFirstRun = kNewBabyFirstRun;

// The clock's advance to the next 21:30 UTC.
std::string toHalfPastNine() {
  const long now = static_cast<long>(std::time(nullptr));
  const long wanted = 21 * 3600 + 30 * 60;
  return "advance " + std::to_string(((wanted - now % 86400) % 86400 + 86400) % 86400) + "s\n";
}

// A script after the first run, and what each of its looks must and must not list.
struct ChartWalk {
  const char* name;
  const char* arguments;
  std::string script;
  std::vector<std::vector<std::string>> shows;
  std::vector<std::vector<std::string>> hides;
};

TEST(ChartsWalk, TheSummaryChartTotalsWhatTheParentRecorded) {
  const std::string toChart = "tap iPhone_list_button\ntap \"Summary Chart\"\nlook\n";
  const std::vector<ChartWalk> walks{
      {"sleep-across-midnight", "",
       toHalfPastNine() +
           "tap Sleep\ntap Start\nadvance 5h\nadvance 30m\ntap Stop\ntap Stop\ntap iPhone_ok_button_white\n" +
           toChart + "tap Count\nlook\n",
       // 21:30 to midnight and midnight to 03:00, each day's sleep counted once.
       {{"Summary Chart", "Sleep", "Hours", "Count", "2.5", "3"}, {"Sleep", "1"}},
       {{"5.5"}, {"2.5", "2"}}},
      {"drink-in-ounces", "",
       "tap +\ntap Drink\ntap \"0 ml\"\ntap 1\ntap 0\ntap 0\ntap Done\ntap iPhone_ok_button_white\n" + toChart +
           "tap Done\ntap iPhone_list_button\ntap Settings\ntap \"Measurement units\"\ntap Drink\nback\n"
           "tap Done\n" +
           toChart,
       // 100 ml, then the same 100 ml in the ounces the type now uses.
       {{"Drink", "ml", "100"}, {"Drink", "oz", "3.38", "Count"}},
       {{"oz"}, {"100", "ml"}}},
      {"tablet-panel", "--device ipad", "tap \"Summary Chart\"\nlook\ntap Done\nlook\n",
       {{"Summary Chart", "Done"}, {"List", "Summary", "Summary Chart", "Growth graph"}},
       {{}, {"Done"}}},
  };
  for (const auto& walk : walks) {
    testing_support::TempDir home;
    const DiaryRun run = runDiary(home, std::string(kFirstRun) + walk.script + "quit\n", walk.name, walk.arguments);
    ASSERT_EQ(run.status, 0) << walk.name << "\n" << run.out;
    const auto seen = looks(run.out);
    ASSERT_EQ(seen.size(), walk.shows.size()) << walk.name << "\n" << run.out;
    for (size_t i = 0; i < seen.size(); ++i) {
      for (const auto& text : walk.shows[i])
        EXPECT_TRUE(seen[i].count(text)) << walk.name << ", look " << i << ": \"" << text << "\" missing\n" << run.out;
      for (const auto& text : walk.hides[i])
        EXPECT_FALSE(seen[i].count(text)) << walk.name << ", look " << i << ": \"" << text << "\" shown\n" << run.out;
    }
  }
}

TEST(ChartsWalk, TheDrinkKeepsItsStoredUnitAfterTheSwitch) {
  testing_support::TempDir home;
  const DiaryRun run = runDiary(home,
                           std::string(kFirstRun) +
                               "tap +\ntap Drink\ntap \"0 ml\"\ntap 1\ntap 0\ntap 0\ntap Done\n"
                               "tap iPhone_ok_button_white\ntap iPhone_list_button\ntap Settings\n"
                               "tap \"Measurement units\"\ntap Drink\nquit\n",
                           "drink-stored");
  ASSERT_EQ(run.status, 0) << run.out;
  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.count("Drink"), 1u) << run.out;
  const auto& drink = notes.find("Drink")->second;
  EXPECT_EQ(drink.note_numMeasureCurrent(), "Notation_ml");
  ASSERT_TRUE(drink.note_numValue());
  EXPECT_DOUBLE_EQ(drink.note_numValue()->toDouble(), 100);
}

// The screenshot switch on an empty data root: the walk paces itself every two seconds of the
// diary's clock. Before the upload (no account is linked here) every capture is on disk.
TEST(ChartsWalk, TheScreenshotWalkCapturesEachScreenOnce) {
  testing_support::TempDir home;
  std::string script = "look\n";
  for (int i = 0; i < 12; ++i) script += "advance 2\n";
  const DiaryRun run = runDiary(home, script + "quit\n", "screenshots", "--screenshots");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("en[English]:Emma"), std::string::npos) << run.out;
  const fs::path captures = home / "root" / "Documents" / "ScreenShots" / "en" / "iPhone_5.5";
  std::vector<std::string> pictures;
  for (int n = 1; n <= 11; ++n) {
    const fs::path file = captures / (std::to_string(n) + ".jpg");
    ASSERT_TRUE(fs::exists(file)) << file << "\n" << run.out;
    pictures.push_back(readFile(file));
  }
  const fs::path forPeople = testing_support::testOutput() / "charts_walk" / "screenshots" / "captures";
  fs::remove_all(forPeople);
  fs::create_directories(forPeople.parent_path());
  fs::copy(captures, forPeople, fs::copy_options::recursive);
  // 2 and 9 are both the summary list (step 8 presents nothing); every other pair differs.
  for (size_t i = 0; i < pictures.size(); ++i)
    for (size_t j = i + 1; j < pictures.size(); ++j) {
      if (i + 1 == 2 && j + 1 == 9) continue;
      EXPECT_NE(pictures[i], pictures[j]) << "captures " << i + 1 << " and " << j + 1 << " are one picture";
    }
}

}  // namespace
