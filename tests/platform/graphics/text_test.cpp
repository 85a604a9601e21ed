#include <gtest/gtest.h>

#include <string>

#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/text_measure.h"

namespace graphics {
namespace {

const Font kTen("HelveticaNeue", 10);

// ---- Fixed advance ----------------------------------------------------------------------------

TEST(FixedAdvanceMeasurerTest, OneLineIsHalfAnEmACharacter) {
  FixedAdvanceTextMeasurer m;
  EXPECT_EQ(m.measure("Hello", kTen), (TextMetrics{Size(25, 12), 1}));
  EXPECT_EQ(m.measure("Сhest", kTen).size.width, 25) << "characters, not bytes";
  EXPECT_EQ(m.measure("😀", kTen).size.width, 5);
  EXPECT_EQ(m.measure("", kTen), (TextMetrics{}));
  EXPECT_EQ(m.measure("ab  ", kTen).size.width, 10) << "trailing spaces are not counted";
  EXPECT_DOUBLE_EQ(m.lineHeight(Font("AvenirNext-Regular", 15)), 18);
}

TEST(FixedAdvanceMeasurerTest, WrapsAtSpacesAndBreaksLongWords) {
  FixedAdvanceTextMeasurer m;
  // "aaa bbb": 35 wide; in 20 the second word moves down.
  EXPECT_EQ(m.measure("aaa bbb", kTen, 20), (TextMetrics{Size(15, 24), 2}));
  EXPECT_EQ(m.measure("aaa bbb", kTen, 35), (TextMetrics{Size(35, 12), 1}))
      << "exactly fitting stays on one line";
  // One word longer than the width breaks between characters: 4 to a line.
  EXPECT_EQ(m.measure("abcdefghij", kTen, 20), (TextMetrics{Size(20, 36), 3}));
  // Character wrap breaks inside words even when a space exists.
  EXPECT_EQ(m.measure("ab cdef", kTen, 20, LineBreakMode::kCharWrap).lineCount, 2);
  EXPECT_EQ(m.measure("ab cdef", kTen, 20, LineBreakMode::kWordWrap).lineCount, 2);
  // Newlines always break; an empty line still has a height.
  EXPECT_EQ(m.measure("a\n\nb", kTen), (TextMetrics{Size(5, 36), 3}));
  // A width narrower than one character still places one character a line.
  EXPECT_EQ(m.measure("abc", kTen, 1).lineCount, 3);
}

TEST(FixedAdvanceMeasurerTest, TruncatingModesKeepOneLineWithinTheWidth) {
  FixedAdvanceTextMeasurer m;
  const TextMetrics t = m.measure("aaa bbb ccc", kTen, 20, LineBreakMode::kTruncateTail);
  EXPECT_EQ(t.lineCount, 1);
  EXPECT_EQ(t.size.width, 20);
  EXPECT_EQ(m.measure("aaa", kTen, 100, LineBreakMode::kClip).size.width, 15);
}

TEST(FixedAdvanceMeasurerTest, MixedRunsTakeTheLargestSizeForTheLine) {
  FixedAdvanceTextMeasurer m;
  AttributedText text("ab", Font("AvenirNext-Medium", 16));
  text.append(" cd", Font("AvenirNext-Regular", 10));
  const TextMetrics t = m.measure(text, 0);
  EXPECT_EQ(t.size.width, 16 + 15);
  EXPECT_DOUBLE_EQ(t.size.height, 16 * 1.2);
}

TEST(FixedAdvanceMeasurerTest, RangeBoundsFollowAlignmentAndLines) {
  FixedAdvanceTextMeasurer m;
  // A centred text of 80 points in 200: it starts at 60.
  const AttributedText centred(std::string(16, 'x'), kTen, Color::black(), TextAlignment::kCenter);
  EXPECT_EQ(m.rangeBounds(centred, 200, 0, 16), Rect(60, 0, 80, 12));
  const AttributedText right("abcd", kTen, Color::black(), TextAlignment::kRight);
  EXPECT_EQ(m.rangeBounds(right, 100, 2, 2), Rect(90, 0, 10, 12));
  const AttributedText left("aaa bbb", kTen);
  EXPECT_EQ(m.rangeBounds(left, 20, 4, 3), Rect(0, 12, 15, 12)) << "the second line";
  EXPECT_EQ(m.rangeBounds(left, 0, 2, 0), Rect(10, 0, 0, 12)) << "an empty range is a caret";
  const Rect past = m.rangeBounds(left, 0, 50, 3);
  EXPECT_EQ(past.width(), 0);
  // UTF-16 counting: the emoji is two units.
  const AttributedText emoji("😀ab", kTen);
  EXPECT_EQ(m.rangeBounds(emoji, 0, 2, 1), Rect(5, 0, 5, 12));
}

TEST(DefaultMeasurerTest, ScopedMeasurerReplacesAndRestoresTheDefault) {
  const auto before = defaultTextMeasurer();
  ASSERT_NE(before, nullptr);
  {
    ScopedTextMeasurer fixed;
    EXPECT_EQ(defaultTextMeasurer()->sizeOf("Hello", kTen), Size(25, 12));
    {
      ScopedTextMeasurer wider(std::make_shared<FixedAdvanceTextMeasurer>(1.0, 2.0));
      EXPECT_EQ(defaultTextMeasurer()->sizeOf("Hello", kTen), Size(50, 20));
    }
    EXPECT_EQ(defaultTextMeasurer()->sizeOf("Hello", kTen), Size(25, 12));
  }
  EXPECT_EQ(defaultTextMeasurer(), before);
  auto previous = setDefaultTextMeasurer(nullptr);
  EXPECT_NE(dynamic_cast<const PangoTextMeasurer*>(defaultTextMeasurer().get()), nullptr);
  setDefaultTextMeasurer(previous);
}

// ---- Pango ------------------------------------------------------------------------------------

TEST(PangoMeasurerTest, SizesGrowWithTextAndFont) {
  PangoTextMeasurer m;
  const TextMetrics one = m.measure("Hello", Font("HelveticaNeue", 16));
  EXPECT_EQ(one.lineCount, 1);
  EXPECT_GT(one.size.width, 20);
  EXPECT_LT(one.size.width, 60);
  EXPECT_GT(one.size.height, 16);
  EXPECT_LT(one.size.height, 24);
  EXPECT_DOUBLE_EQ(one.size.height, m.lineHeight(Font("HelveticaNeue", 16)));
  EXPECT_GT(m.measure("Hello", Font("HelveticaNeue", 32)).size.width, one.size.width * 1.9);
  EXPECT_GT(m.measure("Hello world", Font("HelveticaNeue", 16)).size.width, one.size.width);
  EXPECT_EQ(m.measure("", Font("HelveticaNeue", 16)), (TextMetrics{}));
}

TEST(PangoMeasurerTest, FontNamesReachDifferentFaces) {
  PangoTextMeasurer m;
  const std::string text = "Measurement system";
  const double regular = m.measure(text, Font("HelveticaNeue", 20)).size.width;
  const double bold = m.measure(text, Font("Helvetica-Bold", 20)).size.width;
  const double light = m.measure(text, Font("HelveticaNeue-Light", 20)).size.width;
  const double condensed = m.measure(text, Font("AvenirNext-Regular", 20)).size.width;
  const double condensedBold = m.measure(text, Font("AvenirNext-Medium", 20)).size.width;
  EXPECT_GT(bold, regular);
  EXPECT_DOUBLE_EQ(light, regular) << "the light face shares the regular face's advances";
  EXPECT_LT(condensed, regular);
  EXPECT_GT(condensedBold, condensed);
}

// The sum of alpha of the text drawn black on a transparent bitmap.
long inkOf(const std::string& text, const Font& font) {
  auto canvas = std::move(CairoCanvas::createBitmap(Size(300, 40), 1)).value();
  canvas->drawText(text, Point(0, 0), font, Color::black());
  const Image image = std::move(canvas->image()).value();
  long ink = 0;
  for (int y = 0; y < image.pixelHeight(); ++y)
    for (int x = 0; x < image.pixelWidth(); ++x) ink += image.pixel(x, y).a;
  return ink;
}

TEST(PangoMeasurerTest, WeightsDrawLighterAndHeavierStrokes) {
  const std::string text = "Measurement system";
  const long regular = inkOf(text, Font("HelveticaNeue", 20));
  EXPECT_LT(inkOf(text, Font("HelveticaNeue-UltraLight", 20)), regular * 3 / 4);
  EXPECT_LT(inkOf(text, Font("HelveticaNeue-Light", 20)), regular * 3 / 4);
  EXPECT_GT(inkOf(text, Font("Helvetica-Bold", 20)), regular * 5 / 4);
}

TEST(PangoMeasurerTest, WrapsWithinTheWidth) {
  PangoTextMeasurer m;
  const Font font("AvenirNext-Regular", 16);
  const std::string text = "Breast Feeding Sleep Walk Bath Activity Mood Weight Height";
  const TextMetrics wide = m.measure(text, font);
  const TextMetrics narrow = m.measure(text, font, 120);
  EXPECT_EQ(wide.lineCount, 1);
  EXPECT_GT(narrow.lineCount, 2);
  EXPECT_LE(narrow.size.width, 120);
  EXPECT_NEAR(narrow.size.height, narrow.lineCount * m.lineHeight(font), 0.01);
  const TextMetrics truncated = m.measure(
      AttributedText(text, font, Color::black(), TextAlignment::kLeft, LineBreakMode::kTruncateTail), 120);
  EXPECT_EQ(truncated.lineCount, 1);
  EXPECT_EQ(truncated.size.width, 120);
  EXPECT_EQ(m.measure("a\nb", font).lineCount, 2);
}

TEST(PangoMeasurerTest, InvalidTextIsMeasuredWithoutFailing) {
  PangoTextMeasurer m;
  const std::string broken = std::string("ab\xff\xfe") + "cd";
  const TextMetrics t = m.measure(broken, kTen);
  EXPECT_EQ(t.lineCount, 1);
  EXPECT_GT(t.size.width, 0);
  const Rect r = m.rangeBounds(AttributedText(broken, kTen), 0, 0, 100);
  EXPECT_GT(r.width(), 0);
}

TEST(PangoMeasurerTest, RangeBoundsCoverTheirCharacters) {
  PangoTextMeasurer m;
  const Font font("AvenirNext-Regular", 13);
  const AttributedText text("12 kg 300 g", font);
  const double total = m.measure(text, 0).size.width;
  const Rect whole = m.rangeBounds(text, 0, 0, 11);
  EXPECT_NEAR(whole.x(), 0, 0.01);
  EXPECT_NEAR(whole.width(), total, 0.01);
  const Rect tail = m.rangeBounds(text, 0, 6, 5);
  EXPECT_GT(tail.x(), whole.width() / 3);
  EXPECT_NEAR(tail.maxX(), total, 0.01);
  // Centred in a wider box, the text moves right by half the free space.
  const AttributedText centred("12 kg 300 g", font, Color::black(), TextAlignment::kCenter);
  const Rect inBox = m.rangeBounds(centred, 200, 0, 11);
  EXPECT_NEAR(inBox.x(), (200 - total) / 2, 0.5);
}

TEST(PangoMeasurerTest, DrawnTextFitsTheMeasuredBox) {
  // What the cairo canvas draws, at any scale, stays inside the measured box drawn at a point.
  PangoTextMeasurer m;
  const Font font("AvenirNext-Regular", 18);
  const std::string text = "Tooth Appeared: 1/2/15";
  const Size measured = m.sizeOf(text, font);
  for (double scale : {1.0, 2.0, 3.0}) {
    SCOPED_TRACE(scale);
    auto canvas = std::move(CairoCanvas::createBitmap(Size(300, 60), scale)).value();
    canvas->drawText(text, Point(10, 10), font, Color::black());
    const Image image = std::move(canvas->image()).value();
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    for (int y = 0; y < image.pixelHeight(); ++y)
      for (int x = 0; x < image.pixelWidth(); ++x)
        if (image.pixel(x, y).a > 0) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          minY = std::min(minY, y);
          maxY = std::max(maxY, y);
        }
    ASSERT_GE(maxX, 0) << "something was drawn";
    EXPECT_GE(minX / scale, 10 - 1);
    EXPECT_LE((maxX + 1) / scale, 10 + measured.width + 1);
    EXPECT_GE(minY / scale, 10 - 1);
    EXPECT_LE((maxY + 1) / scale, 10 + measured.height + 1);
    EXPECT_GT((maxX + 1 - minX) / scale, measured.width * 0.8) << "the ink spans most of the width";
  }
}

TEST(PangoMeasurerTest, RectTextDrawsOnlyLinesThatFit) {
  PangoTextMeasurer m;
  const Font font("HelveticaNeue", 12);
  const double line = m.lineHeight(font);
  auto canvas = std::move(CairoCanvas::createBitmap(Size(100, 100), 1)).value();
  // Three lines of text in a box one and a half lines high: only the first is drawn.
  canvas->drawText("aaaa\nbbbb\ncccc", Rect(0, 0, 100, line * 1.5), font, Color::black());
  const Image image = std::move(canvas->image()).value();
  int inkBelow = 0;
  for (int y = static_cast<int>(line * 1.5) + 1; y < 100; ++y)
    for (int x = 0; x < 100; ++x) inkBelow += image.pixel(x, y).a > 0;
  EXPECT_EQ(inkBelow, 0);
}

}  // namespace
}  // namespace graphics
