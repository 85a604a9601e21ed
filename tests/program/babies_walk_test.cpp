// A parent walks the diary program through a baby's own screens, on a phone and on the tablet: the
// tooth chart (read back from the store and from the report's text), the allergies, the baby's picture,
// the photo library when it is empty, and the new-baby screen's keyboard. Each case is a script the
// `diary` program runs; the screens go to test-output/babies_walk/<walk>.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>

#include "app/entities.h"
#include "platform/foundation/clock.h"
#include "platform/graphics/image.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace program_run;

// The new baby Ada and the first-run units, typed as a parent does.
const std::string kNewBaby = kNewBabyFirstRun;

struct Device {
  const char* name;
  const char* arguments;
  // From the notes list to the side menu (the phone) or nowhere (the tablet's panel shows all).
  const char* menu;
};
const Device kPhone{"phone", "", "tap iPhone_list_button\n"};
const Device kTablet{"tablet", "--device ipad", ""};

struct WalkRun : DiaryRun {
  fs::path screens;
};

// Runs the program on home/"root"; both streams in `out`.
WalkRun runWalk(const testing_support::TempDir& home, const std::string& script, const std::string& walk,
                const Device& device) {
  WalkRun run;
  run.screens = testing_support::testOutput() / "babies_walk" / (walk + "-" + device.name);
  static_cast<DiaryRun&>(run) = runDiaryScript(home, script + "quit\n", run.screens, device.arguments);
  return run;
}

// How many pixels of the last screen drawn are pure red, the colour of the test's picture.
int redPixelsOnLastScreen(const fs::path& screens) {
  std::vector<fs::path> steps;
  for (const auto& entry : fs::directory_iterator(screens)) steps.push_back(entry.path());
  if (steps.empty()) return 0;
  auto image = graphics::Image::fromFile(*std::max_element(steps.begin(), steps.end()));
  if (!image.ok()) return 0;
  int red = 0;
  const auto& p = image->pixels();
  for (size_t i = 0; i + 3 < p.size(); i += 4) red += p[i] > 240 && p[i + 1] < 20 && p[i + 2] < 20;
  return red;
}

TEST(BabiesWalk, TeethRecordedOnTheChartAreStoredAndReported) {
  // Tooth 4 appears today; tooth 11 appears, then is lost on a day the wheel offers before its
  // appearance, which it must not take; then a touch on the lost tooth asks for nothing.
  const std::string teeth =
      "tap Teeth\ntap \"tooth 4\"\ntap Done\ntap \"tooth 11\"\ntap Done\ntap \"tooth 11\"\n"
      "pick \"Jan 1, 2020\"\ntap Done\ntap \"tooth 11\"\nlook\ntap Done\n";
  for (const Device& device : {kPhone, kTablet}) {
    testing_support::TempDir home;
    std::string script = kNewBaby + device.menu + teeth;
    if (&device == &kPhone) script += "tap iPhone_list_button\ntap Settings\ntap Report\ntap Start\nwait 60\n";
    const WalkRun run = runWalk(home, script, "teeth", device);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(lastLookTexts(run.out).count("Lost Tooth")) << device.name << ": a lost tooth asked for a date";

    OpenStore keep;
    std::multiset<std::pair<int, int>> events;
    std::optional<foundation::Date> appeared, lost;
    for (auto& row : storedRows(home, "Tooth", keep)) {
      const app::Tooth tooth(row);
      events.emplace(tooth.tooth_Num().value_or(-1), tooth.tooth_State().value_or(-1));
      EXPECT_EQ(tooth.toothToBaby().baby_Name(), "Ada");
      if (tooth.tooth_Num() == 10) (tooth.tooth_State() == 10 ? appeared : lost) = tooth.tooth_Date();
    }
    EXPECT_EQ(events, (std::multiset<std::pair<int, int>>{{3, 10}, {10, 10}, {10, 20}})) << run.out;
    ASSERT_TRUE(appeared && lost) << run.out;
    EXPECT_GE(*lost, *appeared) << device.name << ": lost before it appeared";
    EXPECT_LT(foundation::Clock::system().now() - *lost, 2 * 86400) << device.name;

    if (&device != &kPhone) continue;
    const fs::path pdf = home / "root" / "tmp" / "report.pdf";
    ASSERT_TRUE(fs::exists(pdf)) << run.out;
    ASSERT_EQ(shell("pdftotext " + quotedPath(pdf) + " " + quotedPath(home / "report.txt")), 0);
    const std::string text = readFile(home / "report.txt");
    const auto count = [&](const std::string& what) {
      size_t n = 0;
      for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count("Tooth Appeared:"), 2u) << text;
    EXPECT_EQ(count("Lost Tooth:"), 1u) << text;
    EXPECT_EQ(count("Not enough data"), 0u) << text;
  }
}

TEST(BabiesWalk, AnAllergyIsAddedEditedAndDeleted) {
  // Each stage runs from a new data root with the stages before it, and leaves these allergies.
  struct Stage {
    const char* name;
    std::string commands;
    std::vector<std::pair<std::string, std::string>> allergies;
  };
  const std::vector<Stage> stages{
      {"refused when blank", "tap \"Add allergy\"\ntap Done\ntap OK\ntap Cancel\n", {}},
      {"added", "tap \"Add allergy\"\ntap Allergen\ntype Milk\nkey return\ntype rash\ntap Done\n", {{"Milk", "rash"}}},
      {"edited", "tap \"Milk: rash\"\ntap rash\nkey delete\nkey delete\nkey delete\nkey delete\ntype hives\ntap Done\n",
       {{"Milk", "hives"}}},
      {"deleted", "tap \"Milk: hives\"\ntap Delete\ntap Delete\n", {}},
  };
  for (const Device& device : {kPhone, kTablet}) {
    std::string script = kNewBaby + device.menu + "tap Allergies\n";
    for (const Stage& stage : stages) {
      script += stage.commands;
      testing_support::TempDir home;
      const WalkRun run = runWalk(home, script + "look\n", std::string("allergy-") + stage.name, device);
      ASSERT_EQ(run.status, 0) << device.name << ", " << stage.name << ": " << run.out;
      OpenStore keep;
      std::vector<std::pair<std::string, std::string>> stored;
      for (auto& row : storedRows(home, "Allergy", keep)) {
        const app::Allergy allergy(row);
        stored.emplace_back(allergy.allergy_Id().value_or(""), allergy.allergy_Note().value_or(""));
        EXPECT_EQ(allergy.allergyToBaby().baby_Name(), "Ada");
      }
      EXPECT_EQ(stored, stage.allergies) << device.name << ", " << stage.name;
      // Back on the list, which shows what is stored.
      const auto shown = lastLookTexts(run.out);
      EXPECT_TRUE(shown.count("Add allergy")) << device.name << ", " << stage.name << ": " << run.out;
      for (const auto& [id, note] : stage.allergies) EXPECT_TRUE(shown.count(id + ": " + note)) << run.out;
    }
  }
}

TEST(BabiesWalk, APictureChosenForANewBabyIsStoredAndShown) {
  // The tablet's panel shows it; on the phone the baby list does.
  for (const auto& [device, toShow] : {std::pair{kTablet, ""}, std::pair{kPhone, "tap Ada\n"}}) {
    testing_support::TempDir home;
    graphics::Image red(120, 120);
    for (size_t i = 0; i < red.pixels().size(); i += 4) red.pixels()[i] = red.pixels()[i + 3] = 255;
    ASSERT_TRUE(putLibraryPicture(home, "red.png", red).ok());
    const WalkRun run = runWalk(home, "tap Photo\ntap red.png\nback\n" + kNewBaby + toShow + "look\n", "picture", device);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto icon = graphics::Image::fromFile(home / "root" / "Documents" / "BabyInfo" / "Ada_ava.jpg");
    ASSERT_TRUE(icon.ok()) << device.name << ": no icon stored; " << run.out;
    EXPECT_EQ(icon->pixelWidth(), 120);
    EXPECT_GT(redPixelsOnLastScreen(run.screens), 400) << device.name << ": the picture is not shown";
  }
}

TEST(BabiesWalk, AnEmptyPhotoLibraryChosenAndCancelledLeavesTheScreenAsItWas) {
  struct Case {
    Device device;
    std::string before;  // to the screen that opens the library
    std::string open;
    std::set<std::string> backOn;  // what the screen shows again
  };
  const Case cases[] = {
      {kPhone, kNewBaby + "tap Diaper\n", "tap edit_photo_white\ntap \"Choose Photo\"\n",
       {"Diaper", "edit_photo_white", "Wet"}},
      {kTablet, "", "tap Photo\n", {"New baby", "Photo", "Name"}},
  };
  for (const Case& c : cases) {
    testing_support::TempDir home;
    const WalkRun run = runWalk(home, c.before + c.open + "look\ntap Cancel\nlook\n", "empty-library", c.device);
    ASSERT_EQ(run.status, 0) << run.out;
    const fs::path library = home / "root" / "Media" / "DCIM";
    EXPECT_TRUE(fs::is_directory(library)) << c.device.name << ": the library was not made";
    // The empty library says where pictures are taken from.
    EXPECT_NE(run.out.find("folder " + library.string()), std::string::npos) << run.out;
    const auto shown = lastLookTexts(run.out);
    for (const auto& text : c.backOn) EXPECT_TRUE(shown.count(text)) << c.device.name << ": " << text << "; " << run.out;
    EXPECT_FALSE(shown.count("Delete")) << c.device.name << ": a photo screen with nothing to delete";
  }
  // The note is saved without a photo.
  testing_support::TempDir home;
  const WalkRun saved = runWalk(home, cases[0].before + cases[0].open + "tap Cancel\ntap iPhone_ok_button_white\n",
                            "empty-library-saved", kPhone);
  ASSERT_EQ(saved.status, 0) << saved.out;
  OpenStore keep;
  EXPECT_EQ(storedRows(home, "Note", keep).size(), 1u);
  EXPECT_TRUE(storedRows(home, "PhotoInfo", keep).empty());

  const fs::path help = home / "help";
  ASSERT_EQ(shell(quotedPath(diaryProgram()) + " --help >" + quotedPath(help)), 0);
  EXPECT_NE(readFile(help).find("Media/DCIM"), std::string::npos) << "--help does not say where pictures are";
}

TEST(BabiesWalk, TheNewBabysReturnKeyClosesTheKeyboard) {
  testing_support::TempDir home;
  const WalkRun run = runWalk(home, "tap Name\ntype Ada\nkey return\ntype x\n", "new-baby-keyboard", kPhone);
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("no field is being edited"), std::string::npos) << run.out;
}

// The seconds a stopwatch text ("00:05:03") stands for; nothing for any other text.
std::optional<int> stopwatchSeconds(const std::string& text) {
  int h = 0, m = 0, s = 0;
  char end = 0;
  if (text.size() != 8 || std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &end) != 3) return std::nullopt;
  return h * 3600 + m * 60 + s;
}

TEST(BabiesWalk, ABabyWithANameTooLongForAFileKeepsItsRunningTimerThroughARestart) {
  testing_support::TempDir home;
  const std::string name(250, 'a');
  std::string firstRun = kNewBaby;
  firstRun.replace(firstRun.find("type Ada"), 8, "type " + name);
  // Each run starts its clock at the real time it starts: the timer has run for the five minutes
  // advanced plus the real time from its start to the second run's, which the two runs bound.
  const auto before = std::chrono::steady_clock::now();
  const WalkRun started = runWalk(
      home, firstRun + "tap Sleep\ntap Start\ntap iPhone_to_mainscreen_button\n", "long-name-timer", kPhone);
  ASSERT_EQ(started.status, 0) << started.out;
  const WalkRun reopened = runWalk(home, "advance 5m\ntap Sleep #2\nlook\n", "long-name-timer-again", kPhone);
  const double restart = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  EXPECT_EQ(reopened.status, 0) << reopened.out;
  std::optional<int> seconds;
  for (const auto& text : lastLookTexts(reopened.out))
    if (!seconds) seconds = stopwatchSeconds(text);
  ASSERT_TRUE(seconds) << reopened.out;
  EXPECT_GE(*seconds, 300) << reopened.out;
  EXPECT_LE(*seconds, 300 + restart + 1) << reopened.out;
  EXPECT_EQ(reopened.out.find("too long"), std::string::npos) << reopened.out;
}

}  // namespace
