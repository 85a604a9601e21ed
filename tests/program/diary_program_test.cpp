// The diary program as a person runs it: the sample day on a fresh data root ending in a report, a
// day of notes typed as commands and found in the store, and the window under a virtual display
// saving a note from clicks.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "platform/foundation/calendar.h"
#include "platform/graphics/image.h"
#include "platform/ui/animation.h"
#include "platform/store/store.h"
#include "program_run.h"
#include "window_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;


// Runs the diary without a window on the data root home/"root" with a script; its exit status, and
// what it printed in `out`.
int runScript(const testing_support::TempDir& home, const std::filesystem::path& script,
              const std::filesystem::path& screens, std::string& out) {
  const int status = shell(diaryCommand(home, script, screens, "--no-window") + " </dev/null >" +
                           quotedPath(home / "out") + " 2>" + quotedPath(home / "err"));
  out = readFile(home / "out") + readFile(home / "err");
  return status;
}

double minutes(const app::Note& note) {
  return note.note_DateStop() && note.note_DateStart() ? (*note.note_DateStop() - *note.note_DateStart()) / 60
                                                       : -1;
}

TEST(DiaryProgram, TheSampleDayEndsWithAReportPopplerReads) {
  testing_support::TempDir home;
  const auto screens = testing_support::testOutput() / "diary_sample_day";
  std::filesystem::remove_all(screens);
  std::string out;
  ASSERT_EQ(runScript(home, testing_support::sourceRoot() / "program/examples/new_baby_day.diary", screens, out),
            0)
      << out;
  EXPECT_NE(out.find("screen: " + (screens / "step-001.png").string()), std::string::npos) << out;
  EXPECT_NE(out.find("\"Breast Feeding (1)\", \"21m\""), std::string::npos) << "the summary: " << out;
  EXPECT_NE(out.find("diary: ended"), std::string::npos) << out;

  const auto pdf = home / "root" / "tmp" / "report.pdf";
  ASSERT_TRUE(std::filesystem::exists(pdf)) << out;
  ASSERT_EQ(shell("pdftotext " + quotedPath(pdf) + " " + quotedPath(home / "report.txt")), 0);
  const std::string text = readFile(home / "report.txt");
  EXPECT_NE(text.find("Ada"), std::string::npos) << text;
  EXPECT_NE(text.find("Breast Feeding"), std::string::npos) << text;
  std::filesystem::copy_file(pdf, screens / "report.pdf", std::filesystem::copy_options::overwrite_existing);

  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_DOUBLE_EQ(minutes(notes.begin()->second), 21);
  EXPECT_EQ(notes.begin()->second.noteToBaby().baby_Name(), "Ada");
}

TEST(DiaryProgram, TheTouchesExampleBackDatesSwipesScrollsAndMails) {
  testing_support::TempDir home;
  const auto screens = testing_support::testOutput() / "diary_touches";
  std::filesystem::remove_all(screens);
  std::string out;
  ASSERT_EQ(runScript(home, testing_support::sourceRoot() / "program/examples/touches.diary", screens, out), 0)
      << out;
  // The chooser scrolled to its last types; the composer showed what it sends.
  EXPECT_NE(out.find("\"Vaccine\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"Report: Cleo\", \"Cancel\", \"Send\", \"To:\", \"Recipients\""), std::string::npos)
      << out;

  // The diaper change is kept at the picked time; the walk is gone.
  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.size(), 1u) << out;
  ASSERT_EQ(notes.begin()->first, "WC");
  const auto when = foundation::Calendar::current().components(
      foundation::CalendarUnit::Year | foundation::CalendarUnit::Month | foundation::CalendarUnit::Day |
          foundation::CalendarUnit::Hour | foundation::CalendarUnit::Minute,
      *notes.begin()->second.note_DateStop());
  ASSERT_TRUE(when);
  EXPECT_EQ(std::tuple(*when->year, *when->month, *when->day, *when->hour, *when->minute),
            std::tuple(2026, 1, 2, 5, 30));

  // The report went to the outbox with its attachment.
  const auto mail = home / "root" / "Outbox" / "mail-0001.eml";
  ASSERT_TRUE(std::filesystem::exists(mail)) << out;
  const std::string text = readFile(mail);
  EXPECT_NE(text.find("To: grandma@example.com\r\n"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("Subject: Report: Cleo"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("filename=\"report.pdf\""), std::string::npos);
  std::filesystem::copy_file(mail, screens / "report.eml", std::filesystem::copy_options::overwrite_existing);
}

TEST(DiaryProgram, ADayOfNotesTypedAsCommandsIsInTheStore) {
  testing_support::TempDir home;
  std::ofstream(home / "day") << R"(tap Name
type Ben
key return
tap Done
tap kg
tap cm
tap °C
tap Start
tap Start
tap Sleep
tap Start
advance 90m
tap Stop
tap Stop
tap iPhone_ok_button_white
tap Diaper
tap Wet
pick Poopy
back
tap Note
type after the bath
tap Done
tap iPhone_ok_button_white
advance 1h
tap +
tap Weight
tap "0 kg"
pick 4
pick .2
pick 2 5
tap Done
tap iPhone_ok_button_white
tap "Breast Feeding"
tap Right
advance 7m
tap Stop
tap Stop
tap iPhone_ok_button_white
quit
)";
  std::string out;
  ASSERT_EQ(runScript(home, home / "day", home / "s", out), 0) << out;

  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.size(), 4u) << out;
  ASSERT_EQ(notes.count("Sleep"), 1u);
  EXPECT_DOUBLE_EQ(minutes(notes.find("Sleep")->second), 90);
  ASSERT_EQ(notes.count("WC"), 1u);
  EXPECT_EQ(notes.find("WC")->second.note_strValue(), "Poopy");
  EXPECT_EQ(notes.find("WC")->second.note_Notice(), "after the bath");
  ASSERT_EQ(notes.count("Weight"), 1u);
  ASSERT_TRUE(notes.find("Weight")->second.note_numValue());
  EXPECT_DOUBLE_EQ(notes.find("Weight")->second.note_numValue()->toDouble(), 4.25);
  ASSERT_EQ(notes.count("Breast Feeding"), 1u);
  EXPECT_DOUBLE_EQ(minutes(notes.find("Breast Feeding")->second), 7);
  for (const auto& [type, note] : notes) EXPECT_EQ(note.noteToBaby().baby_Name(), "Ben") << type;
}

TEST(DiaryProgram, AScriptStopsAtACommandThatNamesNothing) {
  testing_support::TempDir home;
  std::ofstream(home / "script") << "tap \"No such button\"\nadvance 1h\nquit\n";
  const std::string command = diaryCommand(home, home / "script", home / "s") + " </dev/null >" +
                              quotedPath(home / "out") + " 2>" + quotedPath(home / "err");
  const int status = shell(command);
  const std::string err = readFile(home / "err");
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("no control \"No such button\""), std::string::npos) << err;
  // Nothing ran after it: only the first screen was drawn.
  EXPECT_TRUE(std::filesystem::exists(home / "s" / "step-001.png"));
  EXPECT_FALSE(std::filesystem::exists(home / "s" / "step-002.png"));
}

TEST(DiaryProgram, TheWindowSavesANoteFromClicksUnderAVirtualDisplay) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const auto shot = testing_support::testOutput() / "diary_window.png";
  std::filesystem::remove(shot);
  // A free display number and the program fed through a pipe: the baby and the units as commands,
  // then a click on the strip's diaper (the window shows two pixels a point), a click on the editor's
  // save button, a screenshot, and quit.
  const std::string body = std::string(kBenFirstRun) + R"(step 010
DISPLAY=:$d xdotool mousemove --window "$win" 320 295 click 1
step 011
DISPLAY=:$d xdotool mousemove --window "$win" 596 84 click 1
step 012
DISPLAY=:$d import -window "$win" "$SHOT"
)";
  ASSERT_EQ(runInWindow(home, shot, body), 0) << readFile(home / "err");
  const std::string out = readFile(home / "out");
  EXPECT_NE(out.find("step-012.png"), std::string::npos) << out << readFile(home / "err");
  EXPECT_NE(out.find("diary: ended"), std::string::npos) << out;
  ASSERT_TRUE(std::filesystem::exists(shot));
  EXPECT_GT(std::filesystem::file_size(shot), 1000u);

  OpenStore keep;
  const auto notes = storedNotes(home, keep);
  ASSERT_EQ(notes.size(), 1u) << out;
  EXPECT_EQ(notes.begin()->first, "WC");
  EXPECT_EQ(notes.begin()->second.noteToBaby().baby_Name(), "Ben");
}

// The last "look" the program printed.
std::string lastLook(const std::string& out) {
  const size_t at = out.rfind("on the screen:");
  return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

TEST(DiaryProgram, TheWindowScrollsUnderTheMouseAndRunsOnRealTime) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const auto shot = testing_support::testOutput() / "diary_window_drag.png";
  std::filesystem::remove(shot);
  // The type chooser is taller than the screen: a mouse drag up it brings its last rows, the wheel
  // takes it back up. Then a note is made and deleted from its editor, whose deletion waits a
  // moment: no command moves the clock, real time does.
  const std::string body = std::string(kBenFirstRun) + R"SH(printf 'tap +\n' >&3
step 011
x mousemove --window "$win" 320 900 mousedown 1
for y in 820 740 660 580 500 420 340 260; do x mousemove --window "$win" 320 $y; sleep 0.05; done
x mouseup 1
step 012
x mousemove --window "$win" 10 10
DISPLAY=:$d import -window "$win" "$SHOT"
look
echo "--- dragged" >>"$HOME_DIR/marks"; grep "on the screen" "$HOME_DIR/out" | tail -1 >>"$HOME_DIR/marks"
x mousemove --window "$win" 320 700 click 4 click 4 click 4 click 4 click 4 click 4
for i in $(seq 25); do look; grep "on the screen" "$HOME_DIR/out" | tail -1 | grep -q '"Diaper"' && break; sleep 0.2; done
echo "--- wheeled" >>"$HOME_DIR/marks"; grep "on the screen" "$HOME_DIR/out" | tail -1 >>"$HOME_DIR/marks"
n=$(shots)
printf 'tap Cancel\ntap Diaper\ntap iPhone_ok_button_white\npick Wet\ntap Delete\ntap Delete\n' >&3
after $((n + 6))
for i in $(seq 50); do look; grep "on the screen" "$HOME_DIR/out" | tail -1 | grep -q '"Wet"' || break; sleep 0.2; done
echo "--- deleted" >>"$HOME_DIR/marks"; grep "on the screen" "$HOME_DIR/out" | tail -1 >>"$HOME_DIR/marks"
)SH";
  ASSERT_EQ(runInWindow(home, shot, body), 0) << readFile(home / "err");
  const std::string out = readFile(home / "out");
  const std::string marks = readFile(home / "marks");
  const auto part = [&](const std::string& mark) {
    const size_t at = marks.find("--- " + mark);
    return at == std::string::npos ? std::string() : lastLook(marks.substr(at, marks.find("---", at + 4) - at));
  };
  // Dragged up, the chooser shows its last types and no longer its first; the wheel brings them back.
  EXPECT_NE(part("dragged").find("\"Vaccine\""), std::string::npos) << marks << out;
  EXPECT_EQ(part("dragged").find("\"Diaper\""), std::string::npos) << marks;
  EXPECT_NE(part("wheeled").find("\"Diaper\""), std::string::npos) << marks;
  // The deletion went through without a single advance.
  EXPECT_EQ(part("deleted").find("\"Wet\""), std::string::npos) << marks;
  EXPECT_EQ(out.find("advance"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(shot));

  OpenStore keep;
  EXPECT_TRUE(storedNotes(home, keep).empty()) << out;
}

TEST(DiaryProgram, TheMouseCarriesATypeToTheTopOfTheOrder) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const auto shot = testing_support::testOutput() / "diary_window_order.png";
  // The third type's grip, held and carried up past the list's top into the status bar, then let go.
  const std::string body = std::string(kBenFirstRun) + R"SH(printf 'tap +\ntap Edit\n' >&3
step 012
x mousemove --window "$win" 600 348 mousedown 1
for y in 330 300 260 200 150 100 60 40; do x mousemove --window "$win" 600 $y; sleep 0.05; done
x mouseup 1
step 013
printf 'back\n' >&3
step 014
DISPLAY=:$d import -window "$win" "$SHOT"
)SH";
  ASSERT_EQ(runInWindow(home, shot, body), 0) << readFile(home / "err");
  const auto order = storedOrder(home);
  ASSERT_EQ(order.size(), 24u) << readFile(home / "out");
  EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 3),
            (std::vector<std::string>{"WC", "Breast Feeding", "Sleep"}));
}

TEST(DiaryProgram, TheWindowFitsADisplayLowerThanTheScreenAndTakesTypedDigits) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  // On a 1280 x 1024 display both devices' screens are taller than the display: the window opens
  // smaller, the whole screen drawn in it. Digits typed on the keyboard go to the drawn keypad, and
  // a click on its "0" (the bottom row, out of reach at full size) lands on it.
  const struct {
    std::string name;
    std::string arguments;
    int pictureWidth, pictureHeight;  // pixels, two a point
    std::string opens;                // the commands that open the editor of a value in ml or g
    std::string field;                // its value row
    std::string shown;                // the screen then shown
    int zeroX, zeroY;                 // the keypad's "0", in points
    std::string type;
    double value;
  } cases[] = {
      {"phone", "", 640, 1136, "tap +\\ntap Drink", "0 ml", "013", 160, 540, "Drink", 120},
      {"tablet", "--device ipad", 1536, 2048, "tap Food", "0 g", "012", 384, 794, "Food", 120},
  };
  for (const auto& c : cases) {
    testing_support::TempDir home;
    const auto shot = testing_support::testOutput() / ("diary_window_fit_" + c.name + ".png");
    std::filesystem::remove(shot);
    const std::string body = "W=" + std::to_string(c.pictureWidth) + " H=" + std::to_string(c.pictureHeight) +
                             " OPENS='" + c.opens + "' FIELD='" + c.field + "' SHOWN=" + c.shown + " ZERO='" +
                             std::to_string(c.zeroX) + " " + std::to_string(c.zeroY) + "'\n" + kBenFirstRun + R"SH(
printf "$OPENS\\ntap \"%s\"\\n" "$FIELD" >&3
step $SHOWN
eval "$(x getwindowgeometry --shell "$win")"
echo "window $WIDTH $HEIGHT" >>"$HOME_DIR/marks"
# A point of the screen where the window shows it: the picture scaled to fit, centred.
at() { awk -v w="$WIDTH" -v h="$HEIGHT" -v pw="$W" -v ph="$H" -v x="$1" -v y="$2" 'BEGIN {
  s = w / pw; if (h / ph < s) s = h / ph; printf "%d %d", (w - pw * s) / 2 + x * 2 * s, (h - ph * s) / 2 + y * 2 * s }'; }
n=$(shots)
x windowfocus --sync "$win"
x type --delay 40 12
after $((n + 2))
x mousemove --window "$win" $(at $ZERO) click 1
after $((n + 3))
look
grep "on the screen" "$HOME_DIR/out" | tail -1 >>"$HOME_DIR/marks"
DISPLAY=:$d import -window "$win" "$SHOT"
printf 'tap Done\ntap iPhone_ok_button_white\n' >&3
)SH";
    ASSERT_EQ(runInWindow(home, shot, body, "1280x1024", c.arguments), 0) << c.name << readFile(home / "err");
    const std::string out = readFile(home / "out");
    const std::string marks = readFile(home / "marks");
    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(marks.c_str(), "window %d %d", &width, &height), 2) << c.name << marks << out;
    EXPECT_LE(width, 1280) << c.name;
    EXPECT_LE(height, 1024) << c.name;
    EXPECT_LT(height, c.pictureHeight) << c.name;
    EXPECT_NE(marks.find("\"120\""), std::string::npos) << c.name << ": the keypad shows " << marks << out;
    EXPECT_TRUE(std::filesystem::exists(shot)) << c.name;

    OpenStore keep;
    const auto notes = storedNotes(home, keep);
    ASSERT_EQ(notes.count(c.type), 1u) << c.name << out << readFile(home / "err");
    const auto value = notes.find(c.type)->second.note_numValue();
    ASSERT_TRUE(value) << c.name;
    EXPECT_DOUBLE_EQ(value->toDouble(), c.value) << c.name;
  }
}

// The last `count` pictures the program drew, oldest first.
std::vector<std::filesystem::path> lastScreens(const std::string& out, size_t count) {
  std::vector<std::filesystem::path> all;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("screen: ")) all.emplace_back(line.substr(8));
  if (all.size() > count) all.erase(all.begin(), all.end() - static_cast<std::ptrdiff_t>(count));
  return all;
}

// How much of a red badge a picture of a screen `screenWidth` points wide shows in a strip of it
// (points): its red weight (alpha times area, in points; a picture's own transparency shows white)
// and the weight's centre line.
struct RedSeen {
  double weight = 0, centreY = 0;
};

RedSeen redIn(const graphics::Image& picture, double screenWidth, double left, double top, double right,
             double bottom) {
  const double scale = picture.pixelWidth() / screenWidth;
  double weight = 0, moment = 0;
  for (int y = static_cast<int>(top * scale); y < static_cast<int>(bottom * scale) && y < picture.pixelHeight(); ++y)
    for (int x = static_cast<int>(left * scale); x < static_cast<int>(right * scale) && x < picture.pixelWidth(); ++x) {
      const std::uint8_t* p = &picture.pixels()[static_cast<size_t>(y) * picture.stride() + static_cast<size_t>(x) * 4];
      const double red = std::max(0, p[0] - p[1]) / 255.0 * p[3] / 255.0 / (scale * scale);
      weight += red;
      moment += red * (y + 0.5) / scale;
    }
  return {weight, weight > 0 ? moment / weight : 0};
}

// The first-use badge of the type order editor, seen in the window: each step of its chain starts
// when the one before ends. It fades in while it grows to twice its size (0.6 s nearly invisible,
// then 0.5 s), stays (0.4 s), rises 100 points (0.9 s) and fades out (0.6 s). The window runs on
// real time and each "advance" moves its clock on 0.3 s more; a picture is drawn at a time between
// the advances made and those plus the real time gone by since the editor opened, and must show the
// badge somewhere on its way in that span.
TEST(DiaryProgram, TheWindowPlaysTheBadgeChainOfTheTypeOrderEditor) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  constexpr int kAdvances = 12;
  constexpr double kStep = 0.3;
  std::string body = std::string(kBenFirstRun) + R"(
printf 'tap +\ntap Weight\ntap iPhone_ok_button_white\ntap iPhone_list_button_badge\ntap "Growth graph"\ntap Done\n' >&3
printf 'tap iPhone_sum_button_badge\ntap iPhone_ok_button_white\ntap +\ntap Edit\n' >&3
)";
  for (int i = 0; i < kAdvances; ++i) body += "echo 'advance 0.3' >&3\n";
  body += "step 032\n";
  ASSERT_EQ(runInWindow(home, home / "unused.png", body), 0) << readFile(home / "err");
  const std::string out = readFile(home / "out");
  const auto screens = lastScreens(out, kAdvances + 1);
  ASSERT_EQ(screens.size(), static_cast<size_t>(kAdvances + 1)) << out;

  // The chain as drawn at `t` seconds after the editor opened: the share of the whole badge's red
  // (alpha times the square of the size's share) and how far it has risen.
  const auto chain = [](double t) {
    const auto eased = [&](double from, double length) { return ui::easeInOut((t - from) / length); };
    double alpha = 0.005 * eased(0, 0.6) + 0.985 * eased(0.6, 0.5) + 0.01 * eased(1.1, 0.4);
    const double side = 22 + 22 * eased(0.6, 0.5);
    alpha *= 1 - eased(2.4, 0.6);
    return std::pair{alpha * (side / 44) * (side / 44), 100 * eased(1.5, 0.9)};
  };
  // The badge whole (44 points a side, opaque) over white, from its own picture.
  auto badge = graphics::Image::fromFile(testing_support::resourcesFolder() / "iPhone_badge_no_letter@2x.png");
  ASSERT_TRUE(badge.ok());
  const double full = redIn(*badge, 44, 0, 0, 44, 44).weight;
  const double restY = 64 + 154 + 22;
  const auto written = [&](size_t i) { return std::filesystem::last_write_time(screens[i]); };
  // The real time a step takes at most, for the span of the first.
  double longestStep = 0;
  for (size_t i = 1; i < screens.size(); ++i)
    longestStep = std::max(longestStep, std::chrono::duration<double>(written(i) - written(i - 1)).count());
  int moving = 0;
  // The first picture, drawn as the editor opens, shows the chooser still sliding away under it.
  for (size_t i = 1; i < screens.size(); ++i) {
    const double from = kStep * static_cast<double>(i);
    const double to = from + longestStep + std::chrono::duration<double>(written(i) - written(0)).count();
    double lowRed = 2, highRed = -1, lowRise = 200, highRise = -1;
    for (int k = 0; k <= 200; ++k) {
      const auto [red, rise] = chain(from + (to - from) * k / 200);
      lowRed = std::min(lowRed, red), highRed = std::max(highRed, red);
      lowRise = std::min(lowRise, rise), highRise = std::max(highRise, rise);
    }
    // The badge's strip of the 320-point phone screen: its column, below the navigation bar.
    auto picture = graphics::Image::fromFile(screens[i]);
    ASSERT_TRUE(picture.ok()) << screens[i];
    const RedSeen r = redIn(*picture, 320, 250, 70, 320, 320);
    const double red = r.weight / full, rise = restY - r.centreY;
    const std::string when = screens[i].string() + " at " + std::to_string(from) + "-" + std::to_string(to) + " s";
    EXPECT_GE(red, lowRed - 0.1) << when;
    EXPECT_LE(red, highRed + 0.1) << when;
    if (red > 0.3) {
      EXPECT_GE(rise, lowRise - 3) << when;
      EXPECT_LE(rise, highRise + 3) << when;
    }
    // Seen on its way: neither absent nor whole and at rest.
    if ((red > 0.05 && red < 0.9) || (red > 0.3 && rise > 5 && rise < 95)) ++moving;
  }
  EXPECT_GE(moving, 2) << out;
}

// A window with nothing moving draws nothing and takes next to no processor time, on the phone and
// on the larger tablet; a click shows at once (a frame or two; here within generous bounds for a
// loaded machine).
TEST(DiaryProgram, TheWindowAtRestTakesNextToNoTimeAndShowsAClickPromptly) {
  if (!virtualDisplayTools() || shell("command -v xwd >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb, xdotool, import or xwd is missing";
  const struct {
    std::string name, arguments;
    int pictureWidth, pictureHeight;  // pixels, two a point
    int clickX, clickY;               // points: something that changes the screen
  } cases[] = {
      {"phone", "", 640, 1136, 160, 147},         // the strip's diaper: its editor rises
      {"tablet", "--device ipad", 1536, 2048, 620, 42},  // the "Summary" segment
  };
  for (const auto& c : cases) {
    testing_support::TempDir home;
    const std::string body = "W=" + std::to_string(c.pictureWidth) + " H=" + std::to_string(c.pictureHeight) +
                             " CLICK='" + std::to_string(c.clickX) + " " + std::to_string(c.clickY) + "'\n" +
                             kBenFirstRun + R"SH(step 010
sleep 1
cpu() { awk '{ print $14 + $15 }' /proc/$diary/stat; }
a=$(cpu); sleep 3; b=$(cpu)
echo "rest $((b - a)) $(getconf CLK_TCK)" >>"$HOME_DIR/marks"
eval "$(x getwindowgeometry --shell "$win")"
at() { awk -v w="$WIDTH" -v h="$HEIGHT" -v pw="$W" -v ph="$H" -v x="$1" -v y="$2" 'BEGIN {
  s = w / pw; if (h / ph < s) s = h / ph; printf "%d %d", (w - pw * s) / 2 + x * 2 * s, (h - ph * s) / 2 + y * 2 * s }'; }
shot() { DISPLAY=:$d xwd -id "$win" -silent | md5sum; }
x mousemove --window "$win" $(at $CLICK)
before=$(shot)
t0=$(date +%s%N)
x click 1
for i in $(seq 500); do [ "$(shot)" != "$before" ] && break; done
t1=$(date +%s%N)
echo "click $(( (t1 - t0) / 1000000 ))" >>"$HOME_DIR/marks"
step 011
)SH";
    ASSERT_EQ(runInWindow(home, home / "unused.png", body, "1024x1280", c.arguments), 0)
        << c.name << readFile(home / "err");
    const std::string marks = readFile(home / "marks");
    int ticks = -1, perSecond = 0, clickMs = -1;
    ASSERT_EQ(std::sscanf(marks.c_str(), "rest %d %d\nclick %d", &ticks, &perSecond, &clickMs), 3) << c.name << marks;
    // Three seconds at rest: under a tenth of a processor (it took a third to three quarters when
    // the window drew four times a second).
    EXPECT_LT(ticks, perSecond * 3 / 10) << c.name << ": " << marks;
    EXPECT_LT(clickMs, 1500) << c.name << ": " << marks;
    // The click went through to the diary: its step was told of.
    EXPECT_NE(readFile(home / "out").find("step-011"), std::string::npos) << c.name;
  }
}

}  // namespace
