// The window's geometry: a screen larger than the display opens smaller, the picture fills the
// window whole whatever its proportions, and a click lands on the point of the screen it shows.
// And the window as a person sees it under a virtual display: a presented editor rising into place,
// the pictures of a bar sliding away, and a tablet's clicks and keys shown at once with no step
// pictures written.
#include "program/diary_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>

#include "platform/graphics/image.h"
#include "program_run.h"
#include "support/temp_dir.h"
#include "window_run.h"

namespace {

using namespace program_run;

using graphics::Point;
using graphics::Size;

TEST(DiaryWindow, OpensAtASizeThatFitsTheDisplay) {
  const struct {
    const char* what;
    Size picture, workarea;
    Size atMost;  // the opening size is no larger
    bool whole;   // the picture's own size
  } cases[] = {
      {"phone on a tall display", {640, 1136}, {1024, 1280}, {640, 1136}, true},
      {"phone on 1280 x 1024", {640, 1136}, {1280, 1024}, {640, 1024 - 40}, false},
      {"tablet on 1280 x 1024", {1536, 2048}, {1280, 1024}, {1280, 1024 - 40}, false},
      {"turned tablet on 1366 x 768", {2048, 1536}, {1366, 768}, {1366, 768 - 40}, false},
      {"turned tablet on a narrow tall display", {2048, 1536}, {800, 1280}, {800, 1280}, false},
      {"no work area known", {640, 1136}, {0, 0}, {640, 1136}, true},
  };
  for (const auto& c : cases) {
    const Size opening = program::openingSize(c.picture, c.workarea);
    EXPECT_LE(opening.width, c.atMost.width) << c.what;
    EXPECT_LE(opening.height, c.atMost.height) << c.what;
    EXPECT_GT(opening.width, 0) << c.what;
    EXPECT_EQ(opening == c.picture, c.whole) << c.what;
    // The proportions are kept, to a pixel.
    EXPECT_NEAR(opening.width / opening.height, c.picture.width / c.picture.height, 2 / opening.height) << c.what;
  }
}

TEST(DiaryWindow, AClickLandsOnThePointOfTheScreenItShows) {
  const struct {
    const char* what;
    Size picture, area;
    double pixelsPerPoint;
    Point seen;  // a point of the screen, in points
  } cases[] = {
      {"phone at full size", {640, 1136}, {640, 1136}, 2, {160, 540}},
      {"phone made smaller", {640, 1136}, {549, 975}, 2, {160, 540}},
      {"phone in a wide window", {640, 1136}, {1200, 600}, 2, {319, 567}},
      {"tablet made smaller", {1536, 2048}, {732, 976}, 2, {384, 794}},
      {"turned tablet in a tall window", {2048, 1536}, {700, 1400}, 2, {0, 0}},
      {"one pixel a point, made larger", {320, 480}, {640, 960}, 1, {10, 470}},
  };
  for (const auto& c : cases) {
    const program::ScreenFit fit = program::fitScreen(c.picture, c.area);
    // The whole picture lies in the area, centred, touching two of its sides.
    const double width = c.picture.width * fit.scale, height = c.picture.height * fit.scale;
    EXPECT_LE(width, c.area.width + 1e-9) << c.what;
    EXPECT_LE(height, c.area.height + 1e-9) << c.what;
    EXPECT_TRUE(std::abs(width - c.area.width) < 1e-9 || std::abs(height - c.area.height) < 1e-9) << c.what;
    EXPECT_NEAR(fit.origin.x * 2 + width, c.area.width, 1e-9) << c.what;
    EXPECT_NEAR(fit.origin.y * 2 + height, c.area.height, 1e-9) << c.what;
    // Where the window shows the point, a click maps back to it.
    const double perPoint = fit.scale * c.pixelsPerPoint;
    const Point window(fit.origin.x + c.seen.x * perPoint, fit.origin.y + c.seen.y * perPoint);
    const Point back = program::screenPoint(fit, c.pixelsPerPoint, window);
    EXPECT_NEAR(back.x, c.seen.x, 1e-9) << c.what;
    EXPECT_NEAR(back.y, c.seen.y, 1e-9) << c.what;
  }
  // Nothing to fit: drawn as it is.
  EXPECT_EQ(program::fitScreen({640, 1136}, {0, 0}).scale, 1);
  EXPECT_EQ(program::fitScreen({0, 0}, {640, 1136}).scale, 1);
}

// Pictures of the window taken one after another as a command plays (`NAME=name grab COMMAND`):
// from the first that differs from the window before the command, for 0.7 seconds (at most 40), as
// PNG files home/"frames"/<name>-NN.png, oldest first. Without a command, the window as it is.
const char* const kGrab = R"SH(grab() { mkdir -p "$HOME_DIR/frames"; f="$HOME_DIR/frames/$NAME"
  shoot() { DISPLAY=:$d xwd -id "$win" -silent >"$f-$(printf %02d $1).xwd"; }
  ms() { echo $(( $(date +%s%N) / 1000000 )); }
  shoot 1
  if [ $# -gt 0 ]; then
    before=$(md5sum <"$f-01.xwd"); echo "$*" >&3
    for i in $(seq 300); do shoot 1; [ "$(md5sum <"$f-01.xwd")" != "$before" ] && break; done
    from=$(ms); i=2; while [ $i -le 40 ] && [ $(( $(ms) - from )) -lt 700 ]; do shoot $i; i=$((i + 1)); sleep 0.02; done
  fi
  for x in "$f"-*.xwd; do timeout 20 convert "xwd:$x" "png:${x%.xwd}.png"; rm -f "$x"; done; }
)SH";

std::vector<graphics::Image> frames(const testing_support::TempDir& home, const std::string& name) {
  std::vector<graphics::Image> all;
  for (int i = 1; i < 100; ++i) {
    char file[64];
    std::snprintf(file, sizeof file, "%s-%02d.png", name.c_str(), i);
    auto image = graphics::Image::fromFile(home / "frames" / file);
    if (!image.ok()) break;
    all.push_back(std::move(*image));
  }
  return all;
}

// The phone's bars and the editor's bar: the diary's purple.
bool barPurple(graphics::Image::Rgba p) {
  return std::abs(p.r - 140) < 12 && std::abs(p.g - 127) < 12 && std::abs(p.b - 243) < 12;
}

// A column of the phone's screen clear of the bars' buttons and the editor's photo button, in
// points, and how tall a run of purple is that only a bar makes (the strip's round buttons are
// shorter).
constexpr double kClearColumn = 60;
constexpr double kBarRun = 50;

// Pixels a point of a picture of the phone's screen (568 points high), as the window shows it.
double perPoint(const graphics::Image& frame) { return frame.pixelHeight() / 568.0; }

// Whether the editor's bar is drawn on its way up: a run of purple rows as tall as a bar in the
// column, below the bar at its top.
bool barRising(const graphics::Image& frame) {
  const int x = static_cast<int>(kClearColumn * perPoint(frame));
  const int tall = static_cast<int>(kBarRun * perPoint(frame));
  // Past the bar at the top (its edge row may be blended with the window's).
  int y = 0;
  while (y < tall && !barPurple(frame.pixel(x, y))) ++y;
  while (y < frame.pixelHeight() && barPurple(frame.pixel(x, y))) ++y;
  for (int run = 0; y < frame.pixelHeight(); ++y) {
    run = barPurple(frame.pixel(x, y)) ? run + 1 : 0;
    if (run == tall) return true;
  }
  return false;
}

// Played, the strip's Diaper opens its editor rising from the bottom: pictures taken while it plays
// show it part-way, below the list's bar, before it stands in place. Each frame plays on real time,
// the first from where the presentation starts however long the step took; a small window draws
// them quicker, and a machine too busy to draw a frame within the rise gets three tries.
TEST(DiaryWindow, APresentedEditorRisesIntoPlace) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const std::string body = std::string(kBenFirstRun) + "step 010\n" + kGrab + R"SH(sleep 0.5
for k in 1 2 3; do
  NAME=rise$k grab tap Diaper
  step $(printf %03d $((9 + 2 * k)))
  sleep 0.8
  [ $k = 1 ] && NAME=end grab
  echo 'tap iPhone_cancel_button' >&3
  step $(printf %03d $((10 + 2 * k)))
  sleep 0.8
done
)SH";
  ASSERT_EQ(runInWindow(home, home / "unused.png", body, "800x700"), 0) << readFile(home / "err");
  int partWay = 0;
  for (const char* name : {"rise1", "rise2", "rise3"}) {
    const auto taken = frames(home, name);
    ASSERT_GE(taken.size(), 3u) << name << readFile(home / "err");
    for (const auto& frame : taken) partWay += barRising(frame);
  }
  EXPECT_GE(partWay, 1) << "no picture shows the editor on its way";
  // At the end it stands in place: its bar at the top, nothing purple below it.
  const auto end = frames(home, "end");
  ASSERT_EQ(end.size(), 1u);
  EXPECT_LT(end.front().pixelHeight(), 700);
  EXPECT_FALSE(barRising(end.front()));
  EXPECT_TRUE(barPurple(end.front().pixel(static_cast<int>(kClearColumn * perPoint(end.front())),
                                          static_cast<int>(50 * perPoint(end.front())))));
}

// The white ink of the bar's title in the middle of the screen below the status bar (whose clock is
// white too): its first and last rows, in pixels.
std::optional<std::pair<int, int>> titleRows(const graphics::Image& frame) {
  std::optional<std::pair<int, int>> rows;
  for (int y = 40; y < 200; ++y)
    for (int x = 250; x < 390; ++x) {
      const auto p = frame.pixel(x, y);
      if (p.r > 250 && p.g > 250 && p.b > 250) {
        rows = rows ? std::pair{rows->first, y} : std::pair{y, y};
        break;
      }
    }
  return rows;
}

// The editor's Note row hides its bar and the status bar, which slide off the top together. Every
// picture on the way is whole: the title never stretched taller than at rest, and the status bar's
// ink never black on the purple bar.
TEST(DiaryWindow, EveryPictureOfTheEditorsBarHidingIsWhole) {
  if (!virtualDisplayTools()) GTEST_SKIP() << "Xvfb, xdotool or import is missing";
  testing_support::TempDir home;
  const std::string body = std::string(kBenFirstRun) + "step 010\n" + kGrab +
                           "echo 'tap Diaper' >&3\nstep 011\nsleep 0.6\nNAME=rest grab\nNAME=hide grab tap Note\n"
                           "step 012\n";
  ASSERT_EQ(runInWindow(home, home / "unused.png", body), 0) << readFile(home / "err");
  const auto rest = frames(home, "rest");
  const auto taken = frames(home, "hide");
  ASSERT_EQ(rest.size(), 1u) << readFile(home / "err");
  ASSERT_GE(taken.size(), 3u) << readFile(home / "err");
  const auto atRest = titleRows(rest.front());
  ASSERT_TRUE(atRest) << "the editor's title is not on its bar";
  const int height = atRest->second - atRest->first;
  for (size_t i = 0; i < taken.size(); ++i) {
    const auto& frame = taken[i];
    if (auto rows = titleRows(frame)) {
      EXPECT_LE(rows->second - rows->first, height + 3) << "picture " << i;
    }
    // "Carrier" at the top left: on the purple bar, its ink is white.
    if (!barPurple(frame.pixel(4, 4))) continue;
    int dark = 0;
    for (int y = 4; y < 34; ++y)
      for (int x = 8; x < 90; ++x) {
        const auto p = frame.pixel(x, y);
        dark += p.r + p.g + p.b < 200;
      }
    EXPECT_EQ(dark, 0) << "picture " << i;
  }
}

// On the tablet, without --screens: a click on the list's "Summary" shows within a frame or two,
// and twenty letters typed into a note's notice are all shown soon after the last key (it used to
// trail it by seconds while each key's 1536 x 2048 picture was written). No step picture is written.
TEST(DiaryWindow, ATabletShowsClicksAndTypingAtOnceAndWritesNoPictures) {
  if (!virtualDisplayTools() || shell("command -v xwd >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb, xdotool, import or xwd is missing";
  testing_support::TempDir home;
  const std::string body = std::string(kBenFirstRun) + R"SH(now() { echo $(( $(date +%s%N) / 1000000 )); }
look
sleep 1
eval "$(x getwindowgeometry --shell "$win")"
# What the window shows below the status bar (its clock may turn a minute meanwhile).
shot() { DISPLAY=:$d xwd -id "$win" -silent | tail -c $((WIDTH * (HEIGHT - 60) * 4)) | md5sum; }
# The time from `since` until the window shows what it shows once it has settled.
settled() { since=$1; last=; at=; for i in $(seq 400); do s=$(shot); t=$(now)
  if [ "$s" != "$last" ]; then last=$s; at=$t; elif [ $((t - at)) -gt 1500 ]; then break; fi; done
  echo $((at - since)); }
x mousemove --window "$win" $(( WIDTH * 620 / 768 )) $(( HEIGHT * 42 / 1024 ))
t0=$(now); x click 1
echo "click $(settled $t0)" >>"$HOME_DIR/marks"
printf 'tap List\ntap Diaper\ntap Note\n' >&3
look
sleep 1
x windowfocus --sync "$win"
x type --delay 40 abcdefghijklmnopqrst
t0=$(now)
echo "typed $(settled $t0)" >>"$HOME_DIR/marks"
look
)SH";
  ASSERT_EQ(runInWindow(home, home / "unused.png", body, "1024x1280", "--device ipad", false), 0)
      << readFile(home / "err");
  const std::string out = readFile(home / "out");
  const std::string marks = readFile(home / "marks");
  int clickMs = -1, typedMs = -1;
  ASSERT_EQ(std::sscanf(marks.c_str(), "click %d\ntyped %d", &clickMs, &typedMs), 2) << marks << out;
  EXPECT_NE(out.find("\"abcdefghijklmnopqrst\""), std::string::npos) << out << readFile(home / "err");
  // A frame or two after the last key, as after a click (here with room for a loaded machine).
  EXPECT_LT(clickMs, 1000) << marks;
  EXPECT_LT(typedMs, 2 * clickMs + 400) << marks;
  EXPECT_EQ(out.find("\nscreen: "), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(home / "root" / "tmp" / "screens"));
}

}  // namespace
