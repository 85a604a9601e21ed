// The window plays the first-run units overlay's confirming action sheet as the device does: it
// slides up from the bottom edge when shown and back down when answered, and its buttons answer.
#include <gtest/gtest.h>

#include <optional>

#include "platform/graphics/image.h"
#include "program_run.h"
#include "support/temp_dir.h"
#include "window_run.h"

namespace {

using namespace program_run;

// `film NAME COMMAND...` sends the command and takes pictures of the window one after another for
// 0.8 seconds (at most 60), as PNG files home/NAME-NN.png.
const char* const kFilm = R"SH(film() { name=$1; shift; echo "$*" >&3; end=$(( $(date +%s%N) / 1000000 + 800 ))
  for i in $(seq -w 1 60); do DISPLAY=:$d xwd -id "$win" -silent >"$HOME_DIR/$name-$i.xwd"
    [ $(( $(date +%s%N) / 1000000 )) -gt $end ] && break; sleep 0.03; done
  for f in "$HOME_DIR/$name"-*.xwd; do timeout 20 convert "xwd:$f" "png:${f%.xwd}.png"; rm -f "$f"; done; }
)SH";

// Where the sheet's blue "Cancel" starts in the middle of the screen's lower part, in points of the
// phone's 568, for each picture of a film; none where the sheet is not drawn there.
std::vector<std::optional<double>> cancelTops(const testing_support::TempDir& home, const std::string& name) {
  std::vector<std::optional<double>> tops;
  for (int i = 1; i <= 60; ++i) {
    char file[64];
    std::snprintf(file, sizeof file, "%s-%02d.png", name.c_str(), i);
    auto frame = graphics::Image::fromFile(home / file);
    if (!frame.ok()) break;
    const double perPoint = frame->pixelHeight() / 568.0;
    auto& top = tops.emplace_back();
    for (int y = static_cast<int>(400 * perPoint); y < frame->pixelHeight() && !top; ++y)
      for (int x = frame->pixelWidth() * 2 / 5; x < frame->pixelWidth() * 3 / 5 && !top; ++x) {
        const auto p = frame->pixel(x, y);
        if (p.b > 200 && p.r < 90 && p.g > 70 && p.g < 170) top = y / perPoint;
      }
  }
  return tops;
}

// Three tries each way, for a machine too busy to draw a frame within a slide; each film ends with
// the sheet at rest, in place or gone.
TEST(WindowPresentation, TheUnitsSheetSlidesUpAndDownAndAnswers) {
  if (!virtualDisplayTools() || shell("command -v xwd >/dev/null && command -v convert >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb, xdotool, import, xwd or convert is missing";
  testing_support::TempDir home;
  const std::string body = std::string(kFilm) + R"SH(printf 'tap Name\ntype Ben\nkey return\ntap Done\ntap kg\ntap cm\ntap °C\n' >&3
step 008
sleep 0.5
for k in 1 2 3; do film up$k tap Start; film down$k tap Cancel; done
printf 'tap Start\n' >&3
sleep 0.8
printf 'tap Start\n' >&3
step 016
sleep 0.8
look
)SH";
  ASSERT_EQ(runInWindow(home, home / "unused.png", body, "800x700"), 0) << readFile(home / "err");
  // Pictures that show the sheet below its place on its way up, and on its way down.
  int rising = 0, sinking = 0;
  for (int k = 1; k <= 3; ++k) {
    const auto up = cancelTops(home, "up" + std::to_string(k));
    const auto down = cancelTops(home, "down" + std::to_string(k));
    ASSERT_GE(up.size(), 3u) << readFile(home / "err");
    ASSERT_GE(down.size(), 3u);
    ASSERT_TRUE(up.back()) << "the sheet is not in place";
    const double place = *up.back();
    EXPECT_GT(place, 500);
    EXPECT_FALSE(down.back()) << "the sheet is still there after its Cancel";
    for (const auto& top : up) rising += top && *top > place + 4;
    for (const auto& top : down) sinking += top && *top > place + 4;
  }
  EXPECT_GE(rising, 1) << "no picture shows the sheet on its way up";
  EXPECT_GE(sinking, 1) << "no picture shows the sheet on its way down";
  // Its Start answered: the overlay is gone and the notes list is there.
  const auto texts = lastLookTexts(readFile(home / "out"));
  EXPECT_TRUE(texts.count("quick launch")) << readFile(home / "out");
  EXPECT_FALSE(texts.count("Cancel"));
}

}  // namespace
