#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/text_measure.h"
#include "support/command_output.h"
#include "support/temp_dir.h"

namespace graphics {
namespace {

const Font kTen("HelveticaNeue", 10);

// ---- Fixed advance ----------------------------------------------------------------------------

// Half an em a character, 1.2 em a line.
TEST(FixedAdvanceMeasurerTest, LinesWrapsAndTruncations) {
  struct Case {
    const char* text;
    double width;
    LineBreakMode mode;
    TextMetrics metrics;
  };
  const Case cases[] = {
      {"Hello", 0, LineBreakMode::kWordWrap, {Size(25, 12), 1}},
      {"\u0421hest", 0, LineBreakMode::kWordWrap, {Size(25, 12), 1}},  // characters, not bytes
      {"\U0001F600", 0, LineBreakMode::kWordWrap, {Size(5, 12), 1}},
      {"", 0, LineBreakMode::kWordWrap, {}},
      {"ab  ", 0, LineBreakMode::kWordWrap, {Size(10, 12), 1}},  // trailing spaces are not counted
      {"aaa bbb", 20, LineBreakMode::kWordWrap, {Size(15, 24), 2}},
      {"aaa bbb", 35, LineBreakMode::kWordWrap, {Size(35, 12), 1}},  // exactly fitting stays on one line
      // One word longer than the width breaks between characters: 4 to a line.
      {"abcdefghij", 20, LineBreakMode::kWordWrap, {Size(20, 36), 3}},
      // Character wrap breaks inside words even when a space exists.
      {"ab cdef", 20, LineBreakMode::kCharWrap, {Size(20, 24), 2}},
      {"ab cdef", 20, LineBreakMode::kWordWrap, {Size(20, 24), 2}},
      // Newlines always break; an empty line still has a height.
      {"a\n\nb", 0, LineBreakMode::kWordWrap, {Size(5, 36), 3}},
      // A width narrower than one character still places one character a line.
      {"abc", 1, LineBreakMode::kWordWrap, {Size(1, 36), 3}},
      {"aaa bbb ccc", 20, LineBreakMode::kTruncateTail, {Size(20, 12), 1}},
      {"aaa", 100, LineBreakMode::kClip, {Size(15, 12), 1}},
  };
  FixedAdvanceTextMeasurer m;
  for (const Case& c : cases)
    EXPECT_EQ(m.measure(c.text, kTen, c.width, c.mode), c.metrics) << c.text << " in " << c.width;
  EXPECT_DOUBLE_EQ(m.lineHeight(Font("AvenirNext-Regular", 15)), 18);
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

// Text drawn black on a transparent bitmap of 300 × 60 points.
Image drawn(double scale, const std::function<void(Canvas&)>& draw) {
  auto canvas = CairoCanvas::createBitmap(Size(300, 60), scale).value();
  draw(*canvas);
  return canvas->image().value();
}

struct Ink {
  long alpha = 0;                                            // the sum of alpha
  int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;  // the bounds of inked pixels
};

Ink inkOf(const Image& image) {
  Ink ink;
  for (int y = 0; y < image.pixelHeight(); ++y)
    for (int x = 0; x < image.pixelWidth(); ++x)
      if (const int a = image.pixel(x, y).a; a > 0) {
        ink.alpha += a;
        ink.minX = std::min(ink.minX, x);
        ink.maxX = std::max(ink.maxX, x);
        ink.minY = std::min(ink.minY, y);
        ink.maxY = std::max(ink.maxY, y);
      }
  return ink;
}

TEST(PangoMeasurerTest, FontNamesReachDifferentFacesAndWeights) {
  const std::string text = "Measurement system";
  const auto width = [&](const char* name) { return PangoTextMeasurer().sizeOf(text, Font(name, 20)).width; };
  const auto ink = [&](const char* name) {
    return inkOf(drawn(1, [&](Canvas& c) { c.drawText(text, Point(0, 0), Font(name, 20), Color::black()); }))
        .alpha;
  };
  const double regular = width("HelveticaNeue");
  EXPECT_GT(width("Helvetica-Bold"), regular);
  EXPECT_DOUBLE_EQ(width("HelveticaNeue-Light"), regular) << "the light face shares the regular advances";
  EXPECT_LT(width("AvenirNext-Regular"), regular) << "condensed";
  EXPECT_GT(width("AvenirNext-Medium"), width("AvenirNext-Regular"));

  const long regularInk = ink("HelveticaNeue");
  EXPECT_LT(ink("HelveticaNeue-UltraLight"), regularInk * 3 / 4);
  EXPECT_LT(ink("HelveticaNeue-Light"), regularInk * 3 / 4);
  EXPECT_GT(ink("Helvetica-Bold"), regularInk * 5 / 4);
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
    const Ink ink =
        inkOf(drawn(scale, [&](Canvas& c) { c.drawText(text, Point(10, 10), font, Color::black()); }));
    ASSERT_GE(ink.maxX, 0) << "something was drawn";
    EXPECT_GE(ink.minX / scale, 10 - 1);
    EXPECT_LE((ink.maxX + 1) / scale, 10 + measured.width + 1);
    EXPECT_GE(ink.minY / scale, 10 - 1);
    EXPECT_LE((ink.maxY + 1) / scale, 10 + measured.height + 1);
    EXPECT_GT((ink.maxX + 1 - ink.minX) / scale, measured.width * 0.8) << "the ink spans most of the width";
  }
}

TEST(PangoMeasurerTest, RectTextAlignsInsideItsRectangleAndDrawsOnlyLinesThatFit) {
  // Right-aligned in (100, 10, 100, 30) at scale 2: all ink inside, reaching close to the right edge.
  const Ink right = inkOf(drawn(2, [](Canvas& c) {
    c.drawText("Hello", Rect(100, 10, 100, 30), Font("HelveticaNeue", 20), Color::black(),
               TextAlignment::kRight);
  }));
  EXPECT_GT(right.alpha, 100 * 255);
  EXPECT_GE(right.minX, 200);
  EXPECT_GE(right.minY, 20);
  EXPECT_LT(right.maxY, 80);
  EXPECT_LT(right.maxX, 400);
  EXPECT_GE(right.maxX, 370);

  // Three lines of text in a box one and a half lines high: only the first is drawn.
  const Font font("HelveticaNeue", 12);
  const double line = PangoTextMeasurer().lineHeight(font);
  const Ink firstLine = inkOf(drawn(1, [&](Canvas& c) {
    c.drawText("aaaa\nbbbb\ncccc", Rect(0, 0, 100, line * 1.5), font, Color::black());
  }));
  EXPECT_GE(firstLine.maxY, 0);
  EXPECT_LE(firstLine.maxY, static_cast<int>(line * 1.5));
}

TEST(PangoMeasurerTest, AMeasuredLabelThatTruncatesIsDrawnWholeOnlyWhereItFits) {
  // Measured first, as a label is, then drawn right-aligned at scale 2: within a rectangle it fits
  // it draws as the same text drawn without truncation; in a narrower one it stays inside.
  const Font font("HelveticaNeue", 16);
  const AttributedText text("Feeding 12:30", font, Color::black(), TextAlignment::kRight,
                            LineBreakMode::kTruncateTail);
  const AttributedText clipped("Feeding 12:30", font, Color::black(), TextAlignment::kRight, LineBreakMode::kClip);
  const double width = PangoTextMeasurer().measure(text, 0).size.width;
  const auto inkIn = [](const AttributedText& t, double w) {
    return inkOf(drawn(2, [&](Canvas& c) { c.drawText(t, Rect(10, 10, w, 30)); }));
  };
  const Ink fits = inkIn(text, width + 20);
  const Ink whole = inkIn(clipped, width + 20);
  EXPECT_EQ(fits.alpha, whole.alpha);
  EXPECT_EQ(fits.minX, whole.minX);
  EXPECT_GE(fits.maxX, (10 + width + 20) * 2 - 4) << "right-aligned";
  const Ink cut = inkIn(text, width / 2);
  EXPECT_LE(cut.maxX, (10 + width / 2) * 2);
  EXPECT_GE(cut.minX, 20);
  EXPECT_LT(cut.alpha, whole.alpha * 3 / 4);
}

TEST(PangoMeasurerTest, TextInAScriptItsFontLacksFallsBackAndStillTakesBold) {
  const std::string text = "日本語のテキスト";
  PangoTextMeasurer m;
  const double regularWidth = m.sizeOf(text, Font("HelveticaNeue", 20)).width;
  EXPECT_GT(regularWidth, 20 * 6) << "eight wide glyphs, not boxes of hex digits";
  const auto ink = [&](const char* name) {
    return inkOf(drawn(1, [&](Canvas& c) { c.drawText(text, Point(0, 0), Font(name, 20), Color::black()); }))
        .alpha;
  };
  EXPECT_GT(ink("Helvetica-Bold"), ink("HelveticaNeue") * 11 / 10) << "the fallback's bold is made up";
}

TEST(PangoMeasurerTest, APdfDrawsTheLinesOfItsRectangleWhateverWasMeasuredBefore) {
  // The PDF canvas draws a just-measured layout as it is only when its lines are those of the
  // rectangle: a narrower rectangle wraps anew, a wider one keeps the measured lines.
  testing_support::TempDir dir;
  const Font font("AvenirNext-Regular", 16);
  const AttributedText text("alpha beta gamma delta", font, Color::black());
  PangoTextMeasurer m;
  const double one = m.measure(text, 0).size.width;
  const double wrapped = m.measure(text, one * 0.6).size.width;
  auto canvas = CairoCanvas::createPdf(dir.path() / "lines.pdf", Size(612, 792)).value();
  canvas->beginPage();
  (void)m.measure(text, 0);
  canvas->drawText(text, Rect(10, 10, one * 0.6, 100));  // narrower than measured: wraps
  canvas->beginPage();
  (void)m.measure(text, one * 0.6);
  canvas->drawText(text, Rect(10, 10, wrapped + 4, 100));  // as measured within a width
  canvas->beginPage();
  canvas->drawText(text, Rect(10, 10, one + 4, 100));  // wide enough: one line
  ASSERT_TRUE(canvas->finish().ok());

  std::vector<int> lines;
  for (int page = 1; page <= 3; ++page) {
    const std::string pages = " -f " + std::to_string(page) + " -l " + std::to_string(page);
    std::string out = testing_support::commandOutput("pdftotext" + pages + " '" + (dir / "lines.pdf").string() + "' -");
    out.erase(std::remove(out.begin(), out.end(), '\f'), out.end());
    while (!out.empty() && out.back() == '\n') out.pop_back();
    lines.push_back(static_cast<int>(std::count(out.begin(), out.end(), '\n')) + 1);
  }
  EXPECT_GT(lines[0], 1);
  EXPECT_EQ(lines[1], lines[0]);
  EXPECT_EQ(lines[2], 1);
}

}  // namespace
}  // namespace graphics
