#include "platform/graphics/canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>

#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/recording_canvas.h"
#include "support/temp_dir.h"

namespace graphics {
namespace {

const Color kGrey = Color::hairlineGray();

// ---- Geometry, colours, fonts ------------------------------------------------------------------

TEST(GeometryTest, RectangleSetOperations) {
  const Rect a(0, 0, 10, 10), b(5, 5, 10, 10), c(20, 20, 1, 1);
  EXPECT_EQ(a.intersection(b), Rect(5, 5, 5, 5));
  EXPECT_TRUE(a.intersection(c).isNull());
  EXPECT_FALSE(a.intersects(Rect(10, 0, 5, 5))) << "rectangles that only touch do not intersect";
  EXPECT_EQ(a.unionWith(c), Rect(0, 0, 21, 21));
  EXPECT_EQ(Rect::null().unionWith(c), c);
  EXPECT_TRUE(a.contains(Point(0, 0)));
  EXPECT_FALSE(a.contains(Point(10, 5))) << "the max edge is outside";
  EXPECT_EQ(Rect(10, 10, -4, -2).standardized(), Rect(6, 8, 4, 2));
  EXPECT_EQ(Rect(0.5, 0.25, 2, 2).integral(), Rect(0, 0, 3, 3));
  EXPECT_TRUE(a.insetBy(6, 0).isNull());
  EXPECT_EQ(insetRect(a, EdgeInsets{1, 2, 3, 4}), Rect(2, 1, 4, 6));
}

TEST(GeometryTest, TransformsComposeLikeTheContextFunctions) {
  // translate then scale, as a context would be told: points are scaled first, then moved.
  const AffineTransform t = AffineTransform::identity().translated(10, 20).scaled(2, 3);
  EXPECT_EQ(t.apply({1, 1}), Point(12, 23));
  const AffineTransform r = AffineTransform::makeRotation(std::numbers::pi / 2);
  const Point p = r.apply({1, 0});
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, 1, 1e-12) << "positive angles turn x toward y (clockwise on screen)";
  const AffineTransform inv = t.inverted();
  const Point back = inv.apply(t.apply({3.5, -7}));
  EXPECT_NEAR(back.x, 3.5, 1e-12);
  EXPECT_NEAR(back.y, -7, 1e-12);
  const AffineTransform singular = AffineTransform::makeScale(0, 1);
  EXPECT_EQ(singular.inverted(), singular);
  EXPECT_EQ(t.applyToRect(Rect(0, 0, 1, 1)), Rect(10, 20, 2, 3));
}

TEST(ColorTest, ComponentsFromBytesAreSinglePrecisionFractions) {
  const Color violet = Color::rgb255(140, 127, 243);
  EXPECT_EQ(violet.r, static_cast<double>(140.0f / 255.0f));
  EXPECT_NEAR(violet.r, 0.5490196347, 1e-9);
  EXPECT_NEAR(violet.g, 0.4980392158, 1e-9);
  EXPECT_NEAR(violet.b, 0.9529411793, 1e-9);
  EXPECT_EQ(violet.a, 1.0);
  EXPECT_EQ(Color::hairlineGray().toRgba8(), (Color::Rgba8{201, 203, 206, 255}));
  EXPECT_EQ(Color(2, -1, 0.5, 7), Color(1, 0, 0.5, 1)) << "components are clamped";
  EXPECT_EQ(Color::white(0.5, 0.25).toRgba8(), (Color::Rgba8{128, 128, 128, 64}));
  EXPECT_TRUE(Color::clear().isClear());
  EXPECT_TRUE(Color::hsb(0, 1, 1).approximatelyEquals(Color::red()));
  EXPECT_TRUE(Color::hsb(2.0 / 3.0, 1, 1).approximatelyEquals(Color::blue()));
}

TEST(FontTest, SystemNamesMapToInstalledFaces) {
  struct Case {
    const char* name;
    const char* family;
    FontWeight weight;
  };
  const Case cases[] = {
      {"AvenirNext-Regular", "DejaVu Sans Condensed", FontWeight::kRegular},
      {"AvenirNext-Medium", "DejaVu Sans Condensed", FontWeight::kMedium},
      {"AvenirNext-UltraLight", "DejaVu Sans", FontWeight::kUltraLight},
      {"HelveticaNeue", "DejaVu Sans", FontWeight::kRegular},
      {"HelveticaNeue-Light", "DejaVu Sans", FontWeight::kLight},
      {"HelveticaNeue-UltraLight", "DejaVu Sans", FontWeight::kUltraLight},
      {"Helvetica-Bold", "DejaVu Sans", FontWeight::kBold},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto font = Font::fontWithNameSize(c.name, 15);
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(font->family(), c.family);
    EXPECT_EQ(font->weight(), c.weight);
    EXPECT_EQ(font->pointSize(), 15);
    EXPECT_EQ(font->name(), c.name);
  }
  EXPECT_EQ(Font("AvenirNext-Medium", 12).pangoFamilyAndStyle(), "DejaVu Sans Condensed Bold");
  EXPECT_TRUE(Font("HelveticaNeue-Italic", 12).italic());
}

TEST(FontTest, UnknownNamesGiveNothingButStillDraw) {
  EXPECT_FALSE(Font::fontWithNameSize("ComicSans-Regular", 12).has_value());
  EXPECT_FALSE(Font::fontWithNameSize("AvenirNext-Wobbly", 12).has_value());
  EXPECT_FALSE(Font::fontWithNameSize("AvenirNextX", 12).has_value());
  EXPECT_FALSE(Font::fontWithNameSize("", 12).has_value());
  const Font fallback("ComicSans-Regular", 12);
  EXPECT_EQ(fallback.family(), "DejaVu Sans");
  EXPECT_EQ(Font::systemFontOfSize(17), Font());
  EXPECT_EQ(Font::boldSystemFontOfSize(14).weight(), FontWeight::kBold);
}

// ---- Paths ------------------------------------------------------------------------------------

TEST(PathTest, ArcsRoundedRectsAndSegments) {
  Path arc;
  arc.addArc({50, 50}, 10, -std::numbers::pi / 2, 0, true);
  const Rect box = arc.boundingBox();
  EXPECT_NEAR(box.minX(), 50, 1e-9);
  EXPECT_NEAR(box.maxX(), 60, 1e-9);
  EXPECT_NEAR(box.minY(), 40, 1e-9);
  EXPECT_NEAR(box.maxY(), 50, 1e-9);
  ASSERT_TRUE(arc.currentPoint().has_value());
  EXPECT_NEAR(arc.currentPoint()->x, 60, 1e-9);

  // Counter-clockwise from 0 to -π/2 takes the short way too; from 0 to π/2 the long way round.
  Path longWay;
  longWay.addArc({0, 0}, 1, 0, std::numbers::pi / 2, false);
  EXPECT_NEAR(longWay.boundingBox().minX(), -1, 1e-9);

  const Path rounded = Path::roundedRect(Rect(0, 0, 20, 10), 100);
  EXPECT_EQ(rounded.boundingBox(), Rect(0, 0, 20, 10)) << "the radius is clamped to half the short side";
  EXPECT_TRUE(rounded.lineSegments().empty()) << "curved paths have no straight-segment view";

  Path lines;
  lines.addLineSegments({{0, 0}, {1, 0}, {2, 2}, {3, 3}, {9, 9}});
  EXPECT_EQ(lines.lineSegments().size(), 2u) << "the odd last point is ignored";
  EXPECT_EQ(Path::rect(Rect(0, 0, 2, 1)).lineSegments().size(), 4u);
}

// ---- Recording canvas ------------------------------------------------------------------------

TEST(RecordingCanvasTest, RecordsHairlinesWithTheirSettings) {
  RecordingCanvas canvas(Size(320, 44));
  canvas.fillRect(Rect(0, 0, 320, 44));
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(kGrey);
  canvas.strokeLine({0, 0.5}, {320, 0.5});
  canvas.setShouldAntialias(true);
  canvas.strokeLine({50, 44}, {320, 44});

  const auto lines = canvas.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].from, Point(0, 0.5));
  EXPECT_EQ(lines[0].to, Point(320, 0.5));
  EXPECT_EQ(lines[0].width, 0.5);
  EXPECT_FALSE(lines[0].antialias);
  EXPECT_EQ(lines[0].color, kGrey);
  EXPECT_TRUE(lines[1].antialias);
  EXPECT_EQ(lines[1].from, Point(50, 44));

  const auto fills = canvas.fills();
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].color, Color::black()) << "the default fill colour";
  EXPECT_EQ(fills[0].shape, rec::Shape::kRect);
}

TEST(RecordingCanvasTest, SaveRestoreAndTransformsAreKept) {
  RecordingCanvas canvas;
  canvas.setColor(Color::red());
  canvas.save();
  canvas.translate(10, 20);
  canvas.scale(2, 2);
  canvas.setColor(Color::blue());
  canvas.setAlpha(0.5);
  canvas.strokeLine({1, 1}, {2, 1});
  canvas.fillEllipse(Rect(0, 0, 4, 2));
  EXPECT_EQ(canvas.saveDepth(), 1);
  canvas.restore();
  canvas.restore();  // unbalanced: ignored
  EXPECT_EQ(canvas.saveDepth(), 0);
  canvas.fillRect(Rect(0, 0, 1, 1));

  const auto lines = canvas.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].baseFrom, Point(12, 22));
  EXPECT_EQ(lines[0].baseTo, Point(14, 22));
  EXPECT_EQ(lines[0].color, Color::blue());

  const auto fills = canvas.fills();
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_EQ(fills[0].shape, rec::Shape::kEllipse);
  EXPECT_EQ(fills[0].baseRect, Rect(10, 20, 8, 4));
  EXPECT_EQ(fills[0].alpha, 0.5);
  EXPECT_EQ(fills[1].color, Color::red()) << "restore brings the colour back";
  EXPECT_EQ(fills[1].alpha, 1.0);
  EXPECT_EQ(canvas.opsOf<rec::Save>().size(), 1u);
  EXPECT_EQ(canvas.opsOf<rec::Restore>().size(), 1u);
}

TEST(RecordingCanvasTest, ClipsImagesTextsGradientsAndPages) {
  RecordingCanvas canvas;
  canvas.beginPage();
  canvas.translate(5, 5);
  canvas.clipToRect(Rect(0, 0, 100, 100));
  canvas.clipToPath(Path::roundedRect(Rect(50, 50, 100, 100), 10));
  EXPECT_EQ(canvas.state().clipBounds, Rect(55, 55, 50, 50));

  Image icon(4, 2, 2.0);
  canvas.drawImage(icon, Rect(1, 2, 3, 4), BlendMode::kMultiply, 0.8);
  canvas.drawText("Edit", Rect(0, 0, 120, 44), Font("HelveticaNeue", 16), Color::white(),
                  TextAlignment::kRight);
  AttributedText line("Sleep", Font("AvenirNext-Medium", 16));
  line.append(" 2h", Font("AvenirNext-Regular", 16));
  canvas.drawText(line, Point(50, 60));
  canvas.drawLinearGradient(Gradient{{Color::red(), Color::blue()}, {}}, {306, 0}, {306, 792});
  canvas.beginPage();

  EXPECT_EQ(canvas.pageCount(), 2);
  const auto images = canvas.images();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].rect, Rect(1, 2, 3, 4));
  EXPECT_EQ(images[0].baseRect, Rect(6, 7, 3, 4));
  EXPECT_EQ(images[0].blendMode, BlendMode::kMultiply);
  EXPECT_DOUBLE_EQ(images[0].alpha, 0.8);
  EXPECT_EQ(images[0].image->pixelWidth(), 4);
  EXPECT_EQ(images[0].image->scale(), 2.0);

  const auto texts = canvas.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "Edit");
  EXPECT_EQ(texts[0].font, Font("HelveticaNeue", 16));
  EXPECT_EQ(texts[0].color, Color::white());
  EXPECT_EQ(texts[0].alignment, TextAlignment::kRight);
  EXPECT_EQ(texts[0].rect, Rect(0, 0, 120, 44));
  EXPECT_FALSE(texts[0].point.has_value());
  EXPECT_EQ(texts[1].text, "Sleep 2h");
  EXPECT_EQ(texts[1].font.name(), "AvenirNext-Medium");
  EXPECT_EQ(texts[1].attributed.runs.size(), 2u);
  EXPECT_EQ(texts[1].basePosition, Point(55, 65));

  const auto gradients = canvas.opsOf<rec::DrawGradient>();
  ASSERT_EQ(gradients.size(), 1u);
  EXPECT_EQ(gradients[0].start, Point(306, 0));
  EXPECT_FALSE(gradients[0].extendEnd);
}

TEST(RecordingCanvasTest, CurrentCanvasNestsPerThread) {
  EXPECT_EQ(currentCanvas(), nullptr);
  RecordingCanvas outer, inner;
  {
    ScopedCurrentCanvas a(outer);
    EXPECT_EQ(currentCanvas(), &outer);
    {
      ScopedCurrentCanvas b(inner);
      EXPECT_EQ(currentCanvas(), &inner);
    }
    EXPECT_EQ(currentCanvas(), &outer);
  }
  EXPECT_EQ(currentCanvas(), nullptr);
}

// ---- Cairo bitmaps ---------------------------------------------------------------------------

std::unique_ptr<CairoCanvas> bitmap(Size size, double scale) {
  auto canvas = CairoCanvas::createBitmap(size, scale);
  EXPECT_TRUE(canvas.ok());
  return std::move(canvas).value();
}

Image::Rgba rgba(const Color& c) {
  const auto v = c.toRgba8();
  return {v.r, v.g, v.b, v.a};
}

const Image::Rgba kWhite{255, 255, 255, 255};
const Image::Rgba kGreyPixel{201, 203, 206, 255};

TEST(CairoCanvasTest, BitmapSizeFollowsScale) {
  auto canvas = bitmap(Size(10.5, 3), 2);
  EXPECT_EQ(canvas->pixelWidth(), 21);
  EXPECT_EQ(canvas->pixelHeight(), 6);
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->scale(), 2.0);
  EXPECT_EQ(image->pixel(0, 0), (Image::Rgba{0, 0, 0, 0})) << "a new bitmap is transparent";
  EXPECT_EQ(bitmap(Size(0.3, 0.3), 3)->pixelWidth(), 1);

  EXPECT_FALSE(CairoCanvas::createBitmap(Size(0, 10), 1).ok());
  EXPECT_FALSE(CairoCanvas::createBitmap(Size(10, 10), 0).ok());
  EXPECT_FALSE(CairoCanvas::createBitmap(Size(100000, 10), 1).ok());
  auto huge = CairoCanvas::createBitmap(Size(30000, 30000), 1);
  ASSERT_FALSE(huge.ok());
  EXPECT_EQ(huge.error().domain, kCanvasErrorDomain);
  EXPECT_EQ(huge.error().code, static_cast<std::int64_t>(CanvasError::kInvalidSize));
  EXPECT_FALSE(canvas->finish().ok()) << "a bitmap is not finished like a PDF";
  EXPECT_FALSE(canvas->beginPage());
}

// The flat cells: a white row with a top hairline at y 0.5 and a bottom hairline at its height,
// antialiasing off. Each must be exactly one pixel row: the first and the last.
void drawCell(Canvas& canvas, double w, double h) {
  canvas.setFillColor(Color::white());
  canvas.fillRect(Rect(0, 0, w, h));
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(kGrey);
  canvas.strokeLine({0, 0.5}, {w, 0.5});
  canvas.strokeLine({50, h}, {w, h});
}

TEST(CairoCanvasTest, HairlinesWithoutAntialiasingAreOnePixelAtEveryScale) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    auto canvas = bitmap(Size(100, 10), scale);
    drawCell(*canvas, 100, 10);
    auto image = canvas->image();
    ASSERT_TRUE(image.ok());
    const int last = image->pixelHeight() - 1;
    const int x = image->pixelWidth() - 2;
    EXPECT_EQ(image->pixel(x, 0), kGreyPixel);
    EXPECT_EQ(image->pixel(x, 1), kWhite);
    EXPECT_EQ(image->pixel(x, last), kGreyPixel);
    EXPECT_EQ(image->pixel(x, last - 1), kWhite);
    // The bottom line starts at x 50.
    EXPECT_EQ(image->pixel(static_cast<int>(49 * scale), last), kWhite);
    EXPECT_EQ(image->pixel(static_cast<int>(50 * scale), last), kGreyPixel);
  }
}

TEST(CairoCanvasTest, HalfPointLineAtScaleThreeIsItsOwnWidth) {
  // 0.5 points are 1.5 pixels: no widening; the line from 0.75 to 2.25 pixels covers row 1.
  auto canvas = bitmap(Size(10, 10), 3);
  drawCell(*canvas, 10, 10);
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->pixel(28, 0), kWhite);
  EXPECT_EQ(image->pixel(28, 1), kGreyPixel);
  EXPECT_EQ(image->pixel(28, 2), kWhite);
}

TEST(CairoCanvasTest, HairlineAtScaleTwoLandsOnTheExpectedRow) {
  auto canvas = bitmap(Size(20, 10), 2);
  canvas->setFillColor(Color::white());
  canvas->fillRect(Rect(0, 0, 20, 10));
  canvas->setShouldAntialias(false);
  canvas->setLineWidth(0.5);
  canvas->setStrokeColor(kGrey);
  canvas->strokeLine({0, 5}, {20, 5});
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  // 5 points is the boundary between pixel rows 9 and 10; the one-pixel line covers row 9.
  for (int y = 0; y < 20; ++y) EXPECT_EQ(image->pixel(7, y), y == 9 ? kGreyPixel : kWhite) << "row " << y;
}

TEST(CairoCanvasTest, AntialiasedHairlineIsHalfCovered) {
  auto canvas = bitmap(Size(20, 20), 1);
  canvas->setFillColor(Color::white());
  canvas->fillRect(Rect(0, 0, 20, 20));
  canvas->setLineWidth(0.5);
  canvas->setStrokeColor(Color::black());
  canvas->strokeLine({0, 10}, {20, 10});
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  const auto above = image->pixel(10, 9), below = image->pixel(10, 10);
  EXPECT_GT(above.r, 150);
  EXPECT_LT(above.r, 230);
  EXPECT_GT(below.r, 150);
  EXPECT_LT(below.r, 230);
  EXPECT_EQ(image->pixel(10, 8), kWhite);
}

TEST(CairoCanvasTest, FillsTransformsClipsAlphaAndBlend) {
  auto canvas = bitmap(Size(40, 40), 1);
  canvas->setFillColor(Color::white());
  canvas->fillRect(Rect(0, 0, 40, 40));
  canvas->save();
  canvas->translate(10, 10);
  canvas->clipToRect(Rect(0, 0, 10, 10));
  canvas->setFillColor(Color::red());
  canvas->fillRect(Rect(-10, -10, 40, 40));  // clipped to (10, 10, 10, 10)
  canvas->restore();
  canvas->setFillColor(Color::blue());
  canvas->setAlpha(0.5);
  canvas->fillRect(Rect(30, 30, 5, 5));
  canvas->setAlpha(1);
  canvas->setBlendMode(BlendMode::kMultiply);
  canvas->setFillColor(Color(0, 1, 1));
  canvas->fillRect(Rect(0, 30, 5, 5));
  canvas->setBlendMode(BlendMode::kNormal);
  canvas->setFillColor(Color::black());
  canvas->fillEllipse(Rect(30, 0, 10, 10));
  canvas->clearRect(Rect(0, 0, 2, 2));

  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->pixel(15, 15), rgba(Color::red()));
  EXPECT_EQ(image->pixel(9, 15), kWhite);
  EXPECT_EQ(image->pixel(20, 15), kWhite);
  EXPECT_EQ(image->pixel(32, 32), (Image::Rgba{127, 127, 255, 255}));
  EXPECT_EQ(image->pixel(2, 32), (Image::Rgba{0, 255, 255, 255})) << "cyan multiplied over white";
  EXPECT_EQ(image->pixel(35, 5), rgba(Color::black()));
  EXPECT_EQ(image->pixel(30, 0), kWhite) << "outside the ellipse";
  EXPECT_EQ(image->pixel(1, 1), (Image::Rgba{0, 0, 0, 0}));
}

TEST(CairoCanvasTest, ImagesStretchIntoTheirRectangle) {
  Image quad(2, 2);
  quad.setPixel(0, 0, {255, 0, 0, 255});
  quad.setPixel(1, 0, {0, 255, 0, 255});
  quad.setPixel(0, 1, {0, 0, 255, 255});
  quad.setPixel(1, 1, {255, 255, 255, 128});
  auto canvas = bitmap(Size(40, 40), 2);
  canvas->drawImage(quad, Rect(0, 0, 20, 20));
  canvas->drawImage(quad, Rect(20, 20, 20, 20), BlendMode::kNormal, 0.5);
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->pixel(5, 5), (Image::Rgba{255, 0, 0, 255}));
  EXPECT_EQ(image->pixel(35, 5), (Image::Rgba{0, 255, 0, 255}));
  EXPECT_EQ(image->pixel(5, 35), (Image::Rgba{0, 0, 255, 255}));
  const auto half = image->pixel(35, 35);
  EXPECT_NEAR(half.a, 128, 1);
  EXPECT_EQ(image->pixel(45, 45).a, 128) << "alpha 0.5 halves an opaque pixel";
  EXPECT_EQ(image->pixel(41, 41).r, 255);
}

TEST(CairoCanvasTest, RoundPhotoClipAndDashedStroke) {
  // A photo clipped to a circle, as the report's baby icon: corners stay empty.
  Image photo(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) photo.setPixel(x, y, {0, 128, 0, 255});
  auto canvas = bitmap(Size(40, 40), 2);
  canvas->save();
  canvas->clipToPath(Path::roundedRect(Rect(0, 0, 40, 40), 20));
  canvas->drawImage(photo, Rect(0, 0, 40, 40));
  canvas->restore();
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->pixel(40, 40), (Image::Rgba{0, 128, 0, 255}));
  EXPECT_EQ(image->pixel(2, 2).a, 0);
  EXPECT_EQ(image->pixel(77, 77).a, 0);
  EXPECT_EQ(image->pixel(40, 1).a, 255);

  auto dashed = bitmap(Size(20, 4), 1);
  dashed->setShouldAntialias(false);
  dashed->setLineWidth(2);
  dashed->setLineDash(0, {4, 4});
  dashed->strokeLine({0, 2}, {20, 2});
  auto d = dashed->image();
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d->pixel(1, 2).a, 255);
  EXPECT_EQ(d->pixel(5, 2).a, 0);
  EXPECT_EQ(d->pixel(9, 2).a, 255);
}

TEST(CairoCanvasTest, MaskClipShowsDrawingThroughTheMaskAlphaUntilRestore) {
  Image mask(40, 20, 2.0);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) mask.setPixel(x, y, {0, 0, 0, 255});
  auto canvas = bitmap(Size(20, 10), 1);
  canvas->save();
  canvas->clipToMask(Rect(0, 0, 20, 10), mask);
  canvas->setFillColor(Color::red());
  canvas->fillRect(Rect(0, 0, 20, 10));
  canvas->restore();
  canvas->setFillColor(Color::blue());
  canvas->fillRect(Rect(18, 8, 2, 2));
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image->pixel(2, 5), rgba(Color::red()));
  EXPECT_EQ(image->pixel(15, 5).a, 0);
  EXPECT_EQ(image->pixel(19, 9), rgba(Color::blue())) << "the mask ended with the state";
}

TEST(CairoCanvasTest, LinearGradientRunsBetweenItsEnds) {
  auto canvas = bitmap(Size(10, 100), 1);
  canvas->drawLinearGradient(Gradient{{Color::red(), Color::blue()}, {}}, {5, 0}, {5, 100});
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  EXPECT_GT(image->pixel(5, 0).r, 245);
  EXPECT_GT(image->pixel(5, 99).b, 245);
  EXPECT_NEAR(image->pixel(5, 50).r, 127, 4);
  EXPECT_NEAR(image->pixel(5, 50).b, 127, 4);

  // Not extended: nothing beyond the ends; extended at the start only.
  auto partial = bitmap(Size(10, 100), 1);
  partial->drawLinearGradient(Gradient{{Color::red(), Color::blue()}, {}}, {5, 25}, {5, 75}, true, false);
  auto p = partial->image();
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->pixel(5, 5), rgba(Color::red()));
  EXPECT_EQ(p->pixel(5, 90).a, 0);
}

TEST(CairoCanvasTest, TextInkStaysInsideItsRectangle) {
  auto canvas = bitmap(Size(200, 60), 2);
  canvas->setFillColor(Color::white());
  canvas->fillRect(Rect(0, 0, 200, 60));
  canvas->drawText("Hello", Rect(100, 10, 100, 30), Font("HelveticaNeue", 20), Color::black(),
                   TextAlignment::kRight);
  auto image = canvas->image();
  ASSERT_TRUE(image.ok());
  int dark = 0, darkOutside = 0;
  for (int y = 0; y < image->pixelHeight(); ++y)
    for (int x = 0; x < image->pixelWidth(); ++x)
      if (image->pixel(x, y).r < 128) {
        ++dark;
        if (x < 200 || y < 20 || y >= 80) ++darkOutside;
      }
  EXPECT_GT(dark, 100);
  EXPECT_EQ(darkOutside, 0);
  // Right-aligned: the ink reaches close to the right edge.
  bool inkNearRight = false;
  for (int y = 20; y < 80; ++y)
    for (int x = 370; x < 400; ++x) inkNearRight = inkNearRight || image->pixel(x, y).r < 128;
  EXPECT_TRUE(inkNearRight);
}

TEST(CairoCanvasTest, PngOnDiskHasTheExpectedPixels) {
  testing_support::TempDir dir;
  auto canvas = bitmap(Size(60, 44), 2);
  drawCell(*canvas, 60, 44);
  canvas->setFillColor(Color::accentViolet());
  canvas->fillRect(Rect(10, 10, 10, 10));
  const auto path = dir / "cell.png";
  ASSERT_TRUE(canvas->writePng(path).ok());
  auto read = Image::fromFile(path);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->pixelWidth(), 120);
  EXPECT_EQ(read->pixelHeight(), 88);
  EXPECT_EQ(read->pixel(110, 0), kGreyPixel);
  EXPECT_EQ(read->pixel(110, 87), kGreyPixel);
  EXPECT_EQ(read->pixel(110, 86), kWhite);
  EXPECT_EQ(read->pixel(30, 30), (Image::Rgba{140, 127, 243, 255}));
  EXPECT_EQ(read->pixel(19, 30), kWhite);
  EXPECT_EQ(read->pixel(20, 30), (Image::Rgba{140, 127, 243, 255}));

  EXPECT_FALSE(canvas->writePng(dir / "missing" / "cell.png").ok());
}

// ---- PDF ----------------------------------------------------------------------------------------

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The page count as pdfinfo reports it, or -1 without pdfinfo.
int pdfinfoPages(const std::filesystem::path& path) {
  const std::string command = "pdfinfo '" + path.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[512];
  int pages = -1;
  while (fgets(line, sizeof line, pipe)) {
    int n = 0;
    if (std::sscanf(line, "Pages: %d", &n) == 1) pages = n;
  }
  pclose(pipe);
  return pages;
}

TEST(CairoPdfTest, TwoPagesWrittenOnFinish) {
  testing_support::TempDir dir;
  const auto path = dir / "report.pdf";
  auto created = CairoCanvas::createPdf(path, Size(612, 792));
  ASSERT_TRUE(created.ok());
  auto& pdf = **created;
  EXPECT_TRUE(pdf.isPdf());
  EXPECT_TRUE(pdf.beginPage());
  pdf.setFillColor(Color::accentViolet());
  pdf.fillRect(Rect(0, 0, 612, 792));
  pdf.drawText("AppName", Point(200, 80), Font("AvenirNext-Regular", 50), Color::white());
  pdf.save();
  pdf.translate(100, 100);  // a new page starts from a fresh state
  EXPECT_TRUE(pdf.beginPage());
  EXPECT_EQ(pdf.saveDepth(), 0);
  EXPECT_TRUE(pdf.transform().isIdentity());
  pdf.setShouldAntialias(true);
  pdf.setLineWidth(0.5);
  pdf.strokeLine({50, 100}, {562, 100});
  EXPECT_EQ(pdf.pageCount(), 2);
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing is on disk before the document is finished";

  ASSERT_TRUE(pdf.finish().ok());
  const std::string bytes = readAll(path);
  EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
  EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
  const int pages = pdfinfoPages(path);
  if (pages >= 0) {
    EXPECT_EQ(pages, 2);
  }
  EXPECT_FALSE(pdf.finish().ok()) << "finishing twice is an error";
  pdf.fillRect(Rect(0, 0, 1, 1));  // ignored after finishing
  EXPECT_FALSE(pdf.beginPage());
}

TEST(CairoPdfTest, BlankPagesCountAndDrawingStartsTheFirstPage) {
  testing_support::TempDir dir;
  {
    auto pdf = std::move(CairoCanvas::createPdf(dir / "blank.pdf", Size(612, 792))).value();
    pdf->beginPage();
    pdf->beginPage();
    pdf->beginPage();
    ASSERT_TRUE(pdf->finish().ok());
    const int pages = pdfinfoPages(dir / "blank.pdf");
    if (pages >= 0) {
      EXPECT_EQ(pages, 3);
    }
  }
  {
    auto pdf = std::move(CairoCanvas::createPdf(dir / "implicit.pdf", Size(100, 100))).value();
    pdf->fillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(pdf->pageCount(), 1);
    ASSERT_TRUE(pdf->finish().ok());
    const int pages = pdfinfoPages(dir / "implicit.pdf");
    if (pages >= 0) {
      EXPECT_EQ(pages, 1);
    }
  }
  {
    // Abandoned without finishing: no file.
    auto pdf = std::move(CairoCanvas::createPdf(dir / "abandoned.pdf", Size(100, 100))).value();
    pdf->beginPage();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "abandoned.pdf"));
}

TEST(CairoPdfTest, BadPathsAndSizesAreErrors) {
  testing_support::TempDir dir;
  auto missing = CairoCanvas::createPdf(dir / "no" / "such" / "report.pdf", Size(612, 792));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, static_cast<std::int64_t>(CanvasError::kWriteFailed));
  EXPECT_FALSE(CairoCanvas::createPdf(dir / "r.pdf", Size(0, 792)).ok());
  auto pdf = std::move(CairoCanvas::createPdf(dir / "r.pdf", Size(612, 792))).value();
  EXPECT_FALSE(pdf->image().ok());
  EXPECT_FALSE(pdf->writePng(dir / "r.png").ok());
}

}  // namespace
}  // namespace graphics
