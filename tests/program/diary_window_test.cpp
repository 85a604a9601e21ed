// The window's geometry: a screen larger than the display opens smaller, the picture fills the
// window whole whatever its proportions, and a click lands on the point of the screen it shows.
#include "program/diary_window.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

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

}  // namespace
