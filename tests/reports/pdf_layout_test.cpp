#include "reports/pdf_layout.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/graphics/recording_canvas.h"
#include "platform/graphics/text_measure.h"

namespace {

using graphics::AttributedText;
using graphics::Font;
using graphics::Point;
using graphics::RecordingCanvas;
using graphics::Rect;
using graphics::Size;
namespace pdf = reports::pdf;

// Characters advance half their font size; a line is exactly one font size high, so a text of
// size s measures s high and pads to s + 4.
class PdfLayoutTest : public ::testing::Test {
 protected:
  graphics::ScopedTextMeasurer measurer_{std::make_shared<graphics::FixedAdvanceTextMeasurer>(0.5, 1.0)};
  RecordingCanvas canvas_{Size(612, 792)};

  static AttributedText text(const std::string& s, double size) {
    return AttributedText(s, Font("AvenirNext-Regular", size));
  }
};

TEST_F(PdfLayoutTest, BlockBreaksToNewPageOnlyWhenItsBottomReaches742) {
  struct Case {
    double fontSize;  // padded height fontSize + 4
    bool forPrint;
    Point expected;
    int pages;
    int backgrounds;
  } cases[] = {
      {37, true, {50, 741}, 0, 0},  // 700 + 41 < 742: stays
      {38, true, {50, 92}, 1, 0},   // 700 + 42: next page at 50, printing: white
      {38, false, {50, 92}, 1, 1},  // colourful: the new page is filled first
  };
  for (const auto& c : cases) {
    RecordingCanvas canvas;
    const Point end =
        pdf::drawText(canvas, text("abcd", c.fontSize), Point{50.9, 700.7}, Size{}, false, true, c.forPrint);
    EXPECT_EQ(end, c.expected) << c.fontSize;
    EXPECT_EQ(canvas.pageCount(), c.pages);
    EXPECT_EQ(canvas.fills().size(), static_cast<size_t>(c.backgrounds));
    ASSERT_EQ(canvas.texts().size(), 1u);
    EXPECT_EQ(canvas.texts()[0].rect,
              Rect(50, c.expected.y - (c.fontSize + 4), 2 * c.fontSize + 4, c.fontSize + 4));
  }
}

TEST_F(PdfLayoutTest, BackFillIs512WideFromOnePointAboveAndNextLineFlagChoosesTheCorner) {
  const Point top = pdf::drawText(canvas_, text("ab", 20), Point{60.5, 100.2}, Size{}, true, false, true);
  EXPECT_EQ(top, (Point{60, 100}));
  ASSERT_EQ(canvas_.fills().size(), 1u);
  EXPECT_EQ(canvas_.fills()[0].rect, Rect(60, 99, 512, 26));
  EXPECT_EQ(canvas_.fills()[0].color, pdf::rgb255(242, 239, 252));
  EXPECT_EQ(canvas_.texts()[0].rect, Rect(60, 100, 24, 24));
}

TEST_F(PdfLayoutTest, UnlimitedTextWrapsAtTheRightMargin) {
  // 60 characters of 20 points: 600 wide unlimited; from x = 50 it wraps within 512.
  const std::string words = "aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd eeeeeeeee fffffffff";
  const Point end = pdf::drawText(canvas_, text(words, 20), Point{50, 100}, Size{}, false, true, true);
  ASSERT_EQ(canvas_.texts().size(), 1u);
  const Rect drawn = *canvas_.texts()[0].rect;
  EXPECT_LE(drawn.x() + drawn.width(), 562 + 4);
  EXPECT_EQ(drawn.height(), 44);  // two lines of 20 + padding
  EXPECT_EQ(end.y, 144);
}

TEST_F(PdfLayoutTest, TextTallerThanAPageIsSplitBetweenLinesAcrossPages) {
  // 100 lines of 10 points with a 50-point width: about 69 fit from 50 to 742.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "line" + std::to_string(i % 10) + " ";
  const Point end = pdf::drawText(canvas_, text(many, 10), Point{50, 400}, Size{50, 0}, false, true, false);
  const auto texts = canvas_.texts();
  ASSERT_GE(texts.size(), 2u);
  std::string joined;
  for (const auto& t : texts) {
    EXPECT_LT(t.rect->y() + t.rect->height(), 742) << t.text;
    EXPECT_EQ(t.rect->y(), 50);  // every piece starts a page of its own
    joined += t.text;
  }
  EXPECT_EQ(joined, many);
  EXPECT_EQ(canvas_.pageCount(), static_cast<int>(texts.size()));
  EXPECT_EQ(end.y, 50 + texts.back().rect->height());
}

TEST_F(PdfLayoutTest, LinesAndBackgroundUseTheStatedGeometry) {
  pdf::drawLineFromPointToPointWithColor(canvas_, {50, 10}, {562, 10}, pdf::violet());
  pdf::fillBackground(canvas_);
  const auto lines = canvas_.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].width, 0.5);
  EXPECT_TRUE(lines[0].antialias);
  EXPECT_EQ(canvas_.fills()[0].rect, Rect(0, 0, 612, 792));
  EXPECT_EQ(canvas_.fills()[0].color, pdf::rgb255(140, 127, 243));
  EXPECT_FALSE(pdf::contains_page(Rect(0, 700, 0, 42)));
  EXPECT_TRUE(pdf::contains_page(Rect(9999, 700, -5, 41)));
  EXPECT_EQ(canvas_.saveDepth(), 0);
}

}  // namespace
