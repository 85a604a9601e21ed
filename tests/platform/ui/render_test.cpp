// A small view tree rendered through cairo, checked pixel by pixel.

#include "platform/ui/render.h"

#include <gtest/gtest.h>

#include "platform/graphics/recording_canvas.h"
#include "platform/ui/controls.h"
#include "support/temp_dir.h"
#include "ui_fixture.h"

namespace {

using Rgba = graphics::Image::Rgba;

// Draws a hairline along its top, as the flat list strips do.
class Strip : public ui::View {
 public:
  using ui::View::View;
  void drawRect(graphics::Canvas& canvas, const ui::Rect&) override {
    canvas.setShouldAntialias(false);
    canvas.setLineWidth(0.5);
    canvas.setStrokeColor(ui::Color::rgb255(201, 203, 206));
    canvas.strokeLine(ui::Point(0, 0.5), ui::Point(bounds().width(), 0.5));
    ++draws;
  }
  int draws = 0;
};

class RenderTest : public ui_testing::UiTest {
 protected:
  RenderTest() {
    root->setBackgroundColor(ui::Color::white());
    red->setBackgroundColor(ui::Color::red());
    blue->setBackgroundColor(ui::Color::blue());
    hidden->setBackgroundColor(ui::Color::green());
    hidden->setHidden(true);
    half->setBackgroundColor(ui::Color::black());
    half->setAlpha(0.5);
    round->setBackgroundColor(ui::Color::green());
    round->setCornerRadius(10);
    round->setClipsToBounds(true);
    root->addSubview(red);
    red->addSubview(blue);
    root->addSubview(hidden);
    root->addSubview(half);
    root->addSubview(strip);
    root->addSubview(round);
  }

  graphics::Image render(double scale) {
    auto image = ui::renderToImage(*root, scale);
    EXPECT_TRUE(image.ok());
    return image.ok() ? std::move(image).value() : graphics::Image();
  }

  std::shared_ptr<ui::View> root = std::make_shared<ui::View>(ui::Rect(0, 0, 100, 80));
  std::shared_ptr<ui::View> red = std::make_shared<ui::View>(ui::Rect(10, 10, 40, 30));
  std::shared_ptr<ui::View> blue = std::make_shared<ui::View>(ui::Rect(30, 20, 20, 20));
  std::shared_ptr<ui::View> hidden = std::make_shared<ui::View>(ui::Rect(60, 10, 20, 20));
  std::shared_ptr<ui::View> half = std::make_shared<ui::View>(ui::Rect(60, 50, 20, 20));
  std::shared_ptr<Strip> strip = std::make_shared<Strip>(ui::Rect(0, 75, 100, 5));
  std::shared_ptr<ui::View> round = std::make_shared<ui::View>(ui::Rect(5, 45, 20, 20));
};

TEST_F(RenderTest, EachViewDrawsItsBackgroundThenItsContentThenItsSubviewsInPlace) {
  graphics::Image image = render(1);
  ASSERT_EQ(image.pixelWidth(), 100);
  ASSERT_EQ(image.pixelHeight(), 80);
  EXPECT_EQ(image.pixel(5, 5), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(image.pixel(15, 15), (Rgba{255, 0, 0, 255}));
  // The blue subview sits at its frame inside the red one, and overhangs it: no clipping asked.
  EXPECT_EQ(image.pixel(45, 35), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(image.pixel(55, 45), (Rgba{0, 0, 255, 255}));
  // Hidden: nothing; half transparent black over white: grey.
  EXPECT_EQ(image.pixel(70, 20), (Rgba{255, 255, 255, 255}));
  Rgba grey = image.pixel(70, 60);
  EXPECT_NEAR(grey.r, 128, 2);
  EXPECT_EQ(grey.r, grey.b);
  // The hairline without antialiasing fills exactly one row of pixels.
  EXPECT_EQ(image.pixel(50, 75), (Rgba{201, 203, 206, 255}));
  EXPECT_EQ(image.pixel(50, 76), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(strip->draws, 1);
  EXPECT_FALSE(strip->needsDisplay());
  // A rounded view clipped to its bounds leaves its corners out.
  EXPECT_EQ(image.pixel(15, 55), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(image.pixel(5, 45), (Rgba{255, 255, 255, 255}));
}

TEST_F(RenderTest, ClippingToBoundsCutsTheSubviewsAndScaleMultipliesThePixels) {
  red->setClipsToBounds(true);
  graphics::Image image = render(2);
  ASSERT_EQ(image.pixelWidth(), 200);
  EXPECT_EQ(image.pixel(2 * 45, 2 * 35), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(image.pixel(2 * 55, 2 * 45), (Rgba{255, 255, 255, 255}));
  // At scale 2 the hairline is still one pixel: the second device row is background.
  EXPECT_EQ(image.pixel(100, 150), (Rgba{201, 203, 206, 255}));
  EXPECT_EQ(image.pixel(100, 151), (Rgba{255, 255, 255, 255}));
}

TEST_F(RenderTest, AScrolledViewShowsItsContentFromTheBoundsOrigin) {
  red->setBounds(ui::Rect(20, 10, 40, 30));  // the blue square moves up and left by (20, 10)
  red->setClipsToBounds(true);
  graphics::Image image = render(1);
  EXPECT_EQ(image.pixel(10 + 10 + 1, 10 + 10 + 1), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(image.pixel(10 + 5, 10 + 5), (Rgba{255, 0, 0, 255}));
}

TEST_F(RenderTest, APngFileOfTheTreeDecodesToTheSamePixels) {
  testing_support::TempDir dir;
  ASSERT_TRUE(ui::renderToPng(*root, dir / "screen.png", 1).ok());
  auto decoded = graphics::Image::fromFile(dir / "screen.png");
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded->pixel(15, 15), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(decoded->pixel(50, 75), (Rgba{201, 203, 206, 255}));
  // A view of no size renders to an error, not a crash.
  ui::View empty;
  EXPECT_FALSE(ui::renderToImage(empty, 1).ok());
}

TEST_F(RenderTest, RenderingOnARecordingCanvasTranslatesEachView) {
  graphics::RecordingCanvas canvas(ui::Size(100, 80));
  ui::renderView(*root, canvas);
  auto lines = canvas.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].baseFrom, ui::Point(0, 75.5));
  EXPECT_FALSE(lines[0].antialias);
  bool blueFill = false;
  for (const auto& f : canvas.fills()) {
    if (f.color == ui::Color::blue()) {
      blueFill = true;
      EXPECT_EQ(f.baseRect, ui::Rect(40, 30, 20, 20));
    }
  }
  EXPECT_TRUE(blueFill);
  EXPECT_EQ(canvas.saveDepth(), 0);
}

TEST_F(RenderTest, ASegmentTitleShrinksToItsSegmentDownToSixtyPercent) {
  // Two 50-point segments leave 44 points of room; the 13-point font takes 6.5 points a character.
  ui::SegmentedControl control({"Short", "Eightchr"});
  control.setFrame(ui::Rect(0, 0, 100, 30));
  graphics::RecordingCanvas canvas;
  ui::renderView(control, canvas);
  auto texts = canvas.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_DOUBLE_EQ(texts[0].font.pointSize(), 13);
  EXPECT_DOUBLE_EQ(texts[1].font.pointSize(), 13 * 44 / 52.0);
  control.setTitleForSegmentAtIndex(std::string(20, 'x'), 1);  // would need a third: held at 0.6
  graphics::RecordingCanvas again;
  ui::renderView(control, again);
  EXPECT_DOUBLE_EQ(again.texts().at(1).font.pointSize(), 13 * 0.6);
}

TEST_F(RenderTest, ALabelCentresItsLineVerticallyAndShrinksWhenAskedTo) {
  auto label = std::make_shared<ui::Label>(ui::Rect(0, 0, 100, 44));
  label->setText("Hi");
  label->setFont(graphics::Font("AvenirNext-Regular", 10));
  label->setTextAlignment(graphics::TextAlignment::kCenter);
  graphics::RecordingCanvas canvas;
  ui::renderView(*label, canvas);
  auto texts = canvas.texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text, "Hi");
  EXPECT_EQ(texts[0].rect, ui::Rect(0, 16, 100, 12));  // one 12-point line in the middle of 44
  EXPECT_EQ(texts[0].alignment, graphics::TextAlignment::kCenter);
  EXPECT_EQ(texts[0].lineBreak, graphics::LineBreakMode::kTruncateTail);
  EXPECT_EQ(label->sizeThatFits(ui::Size()), ui::Size(10, 12));

  // Forty characters need 200 points; shrinking stops at the minimum scale.
  label->setText(std::string(40, 'x'));
  label->setAdjustsFontSizeToFitWidth(true);
  label->setMinimumScaleFactor(0.6);
  EXPECT_DOUBLE_EQ(label->drawnText().runs.at(0).font.pointSize(), 6);
  label->setMinimumScaleFactor(0);
  EXPECT_DOUBLE_EQ(label->drawnText().runs.at(0).font.pointSize(), 5);
  // Cut or whole: a table of texts in a 100 × 44 label of the 10-point font (5 points a character,
  // 12 a line).
  struct Case {
    int characters;
    bool adjusts;
    double minimumScale;
    int lines;
    bool cut;
  };
  const Case cases[] = {
      {20, false, 0, 1, false},   // exactly fits
      {21, false, 0, 1, true},    // one character over, "…"
      {30, true, 0.6, 1, false},  // shrinks to 0.67
      {40, true, 0.6, 1, true},   // would need 0.5: held at 0.6 and cut
      {60, false, 0, 0, false},   // three wrapped lines of 12 in 44
      {80, false, 0, 0, true},    // four lines: 48 > 44
      {60, false, 0, 2, true},    // three lines where two are allowed
  };
  for (const auto& c : cases) {
    label->setText(std::string(static_cast<size_t>(c.characters), 'x'));
    label->setAdjustsFontSizeToFitWidth(c.adjusts);
    label->setMinimumScaleFactor(c.minimumScale);
    label->setNumberOfLines(c.lines);
    EXPECT_EQ(label->isTextCut(), c.cut) << c.characters << " characters, " << c.lines << " lines";
  }
  label->setNumberOfLines(1);
  auto button = std::make_shared<ui::Button>(ui::Rect(0, 0, 60, 44));
  button->setTitle("Measurement units");
  button->setTitleFont(graphics::Font("AvenirNext-Regular", 10));
  EXPECT_TRUE(button->isTitleCut());
  button->setTitle("Units");
  EXPECT_FALSE(button->isTitleCut());
  // An empty label draws nothing.
  label->setText("");
  graphics::RecordingCanvas empty;
  ui::renderView(*label, empty);
  EXPECT_TRUE(empty.texts().empty());
}

}  // namespace
