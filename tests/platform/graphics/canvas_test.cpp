#include "platform/graphics/canvas.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>
#include <string>

#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/recording_canvas.h"
#include "support/command_output.h"
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
  EXPECT_EQ(t.applyToRect(Rect(0, 0, 1, 1)), Rect(10, 20, 2, 3));
  const Point p = AffineTransform::makeRotation(std::numbers::pi / 2).apply({1, 0});
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, 1, 1e-12) << "positive angles turn x toward y (clockwise on screen)";
  const Point back = t.inverted().apply(t.apply({3.5, -7}));
  EXPECT_NEAR(back.x, 3.5, 1e-12);
  EXPECT_NEAR(back.y, -7, 1e-12);
  const AffineTransform singular = AffineTransform::makeScale(0, 1);
  EXPECT_EQ(singular.inverted(), singular);
}

TEST(ColorTest, ComponentsFromBytesAreSinglePrecisionFractions) {
  const Color violet = Color::rgb255(140, 127, 243);
  EXPECT_EQ(violet.r, static_cast<double>(140.0f / 255.0f));
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

TEST(FontTest, SystemNamesMapToInstalledFacesAndUnknownNamesStillDraw) {
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

  for (const char* unknown : {"ComicSans-Regular", "AvenirNext-Wobbly", "AvenirNextX", ""})
    EXPECT_FALSE(Font::fontWithNameSize(unknown, 12).has_value()) << unknown;
  EXPECT_EQ(Font("ComicSans-Regular", 12).family(), "DejaVu Sans");
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

  // Counter-clockwise from 0 to π/2 goes the long way round.
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
  Canvas& drawing = canvas;  // defaults come with the interface
  canvas.beginPage();
  canvas.translate(5, 5);
  canvas.clipToRect(Rect(0, 0, 100, 100));
  drawing.clipToPath(Path::roundedRect(Rect(50, 50, 100, 100), 10));
  EXPECT_EQ(canvas.state().clipBounds, Rect(55, 55, 50, 50));

  canvas.drawImage(Image(4, 2, 2.0), Rect(1, 2, 3, 4), BlendMode::kMultiply, 0.8);
  canvas.drawText("Edit", Rect(0, 0, 120, 44), Font("HelveticaNeue", 16), Color::white(),
                  TextAlignment::kRight);
  AttributedText line("Sleep", Font("AvenirNext-Medium", 16));
  line.append(" 2h", Font("AvenirNext-Regular", 16));
  canvas.drawText(line, Point(50, 60));
  drawing.drawLinearGradient(Gradient{{Color::red(), Color::blue()}, {}}, {306, 0}, {306, 792});
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

std::unique_ptr<CairoCanvas> bitmap(Size size, double scale, bool white = false) {
  auto canvas = CairoCanvas::createBitmap(size, scale).value();
  if (white) {
    canvas->setFillColor(Color::white());
    canvas->fillRect(Rect(Point(0, 0), size));
  }
  return canvas;
}

Image::Rgba rgba(const Color& c) {
  const auto v = c.toRgba8();
  return {v.r, v.g, v.b, v.a};
}

const Image::Rgba kWhite{255, 255, 255, 255};
const Image::Rgba kGreyPixel{201, 203, 206, 255};
const Image::Rgba kClear{0, 0, 0, 0};

void unantialiasedHairlines(Canvas& canvas) {
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(kGrey);
}

TEST(CairoCanvasTest, BitmapSizeFollowsScale) {
  auto canvas = bitmap(Size(10.5, 3), 2);
  EXPECT_EQ(canvas->pixelWidth(), 21);
  EXPECT_EQ(canvas->pixelHeight(), 6);
  const Image image = canvas->image().value();
  EXPECT_EQ(image.scale(), 2.0);
  EXPECT_EQ(image.pixel(0, 0), kClear) << "a new bitmap is transparent";
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

// The flat cells: a white row with a top hairline at y 0.5 and a bottom hairline at its height from
// x 50, antialiasing off. Each must be exactly one pixel row, the first and the last, at scales 1 and 2;
// written to PNG and read back.
TEST(CairoCanvasTest, PngOnDiskHasTheExpectedPixels) {
  testing_support::TempDir dir;
  const Image::Rgba violet{140, 127, 243, 255};
  for (int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    auto canvas = bitmap(Size(60, 44), scale, true);
    unantialiasedHairlines(*canvas);
    canvas->strokeLine({0, 0.5}, {60, 0.5});
    canvas->strokeLine({50, 44}, {60, 44});
    canvas->setFillColor(Color::accentViolet());
    canvas->fillRect(Rect(10, 10, 10, 10));
    const auto path = dir / ("cell" + std::to_string(scale) + ".png");
    ASSERT_TRUE(canvas->writePng(path).ok());
    const Image read = Image::fromFile(path).value();
    ASSERT_EQ(read.pixelWidth(), 60 * scale);
    ASSERT_EQ(read.pixelHeight(), 44 * scale);
    const int last = read.pixelHeight() - 1, x = read.pixelWidth() - 2;
    EXPECT_EQ(read.pixel(x, 0), kGreyPixel);
    EXPECT_EQ(read.pixel(x, 1), kWhite);
    EXPECT_EQ(read.pixel(x, last), kGreyPixel);
    EXPECT_EQ(read.pixel(x, last - 1), kWhite);
    EXPECT_EQ(read.pixel(49 * scale, last), kWhite);
    EXPECT_EQ(read.pixel(50 * scale, last), kGreyPixel);
    EXPECT_EQ(read.pixel(15 * scale, 15 * scale), violet);
    EXPECT_EQ(read.pixel(10 * scale - 1, 15 * scale), kWhite);
    EXPECT_EQ(read.pixel(10 * scale, 15 * scale), violet);
    EXPECT_FALSE(canvas->writePng(dir / "missing" / "cell.png").ok());
  }
}

TEST(CairoCanvasTest, HalfPointLineCoversOnePixelRowUnantialiasedAndHalfOfTwoAntialiased) {
  struct Case {
    double scale, y;
    int row;
  };
  // At scale 2, y 5 is the boundary between rows 9 and 10. At scale 3 the line is 1.5 pixels, from
  // 0.75 to 2.25: no widening, it covers row 1.
  for (const Case& c : {Case{2, 5, 9}, Case{3, 0.5, 1}}) {
    SCOPED_TRACE(c.scale);
    auto canvas = bitmap(Size(10, 10), c.scale, true);
    unantialiasedHairlines(*canvas);
    canvas->strokeLine({0, c.y}, {10, c.y});
    const Image image = canvas->image().value();
    for (int y = 0; y < image.pixelHeight(); ++y)
      EXPECT_EQ(image.pixel(7, y), y == c.row ? kGreyPixel : kWhite) << "row " << y;
  }
  // Antialiased, a half-point line on a row boundary half covers the two rows beside it.
  auto canvas = bitmap(Size(20, 20), 1, true);
  canvas->setLineWidth(0.5);
  canvas->setStrokeColor(Color::black());
  canvas->strokeLine({0, 10}, {20, 10});
  const Image image = canvas->image().value();
  for (int y : {9, 10}) {
    EXPECT_GT(image.pixel(10, y).r, 150);
    EXPECT_LT(image.pixel(10, y).r, 230);
  }
  EXPECT_EQ(image.pixel(10, 8), kWhite);
}

TEST(CairoCanvasTest, FillsTransformsClipsAlphaAndBlend) {
  auto canvas = bitmap(Size(40, 40), 1, true);
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

  const Image image = canvas->image().value();
  EXPECT_EQ(image.pixel(15, 15), rgba(Color::red()));
  EXPECT_EQ(image.pixel(9, 15), kWhite);
  EXPECT_EQ(image.pixel(20, 15), kWhite);
  EXPECT_EQ(image.pixel(32, 32), (Image::Rgba{127, 127, 255, 255}));
  EXPECT_EQ(image.pixel(2, 32), (Image::Rgba{0, 255, 255, 255})) << "cyan multiplied over white";
  EXPECT_EQ(image.pixel(35, 5), rgba(Color::black()));
  EXPECT_EQ(image.pixel(30, 0), kWhite) << "outside the ellipse";
  EXPECT_EQ(image.pixel(1, 1), kClear);
}

TEST(CairoCanvasTest, ImagesStretchIntoTheirRectangle) {
  Image quad(2, 2);
  quad.setPixel(0, 0, {255, 0, 0, 255});
  quad.setPixel(1, 0, {0, 255, 0, 255});
  quad.setPixel(0, 1, {0, 0, 255, 255});
  quad.setPixel(1, 1, {255, 255, 255, 128});
  auto canvas = bitmap(Size(40, 40), 2);
  static_cast<Canvas&>(*canvas).drawImage(quad, Rect(0, 0, 20, 20));
  canvas->drawImage(quad, Rect(20, 20, 20, 20), BlendMode::kNormal, 0.5);
  const Image image = canvas->image().value();
  EXPECT_EQ(image.pixel(5, 5), (Image::Rgba{255, 0, 0, 255}));
  EXPECT_EQ(image.pixel(35, 5), (Image::Rgba{0, 255, 0, 255}));
  EXPECT_EQ(image.pixel(5, 35), (Image::Rgba{0, 0, 255, 255}));
  EXPECT_NEAR(image.pixel(35, 35).a, 128, 1);
  EXPECT_EQ(image.pixel(45, 45).a, 128) << "alpha 0.5 halves an opaque pixel";
  EXPECT_EQ(image.pixel(41, 41).r, 255);
}

// A window draws picture after picture on one canvas: cleared, it draws the next exactly as a new
// canvas would, whatever the last one left set (a transform, a clip, an alpha, a colour, a mask, a
// save not restored).
TEST(CairoCanvasTest, AClearedBitmapDrawsTheNextPictureAsANewOneWould) {
  Image quad(2, 2);
  quad.setPixel(0, 0, {255, 0, 0, 255});
  quad.setPixel(1, 1, {0, 0, 255, 128});
  const auto picture = [&](Canvas& canvas) {
    canvas.fillRect(Rect(1, 1, 30, 3));
    canvas.drawImage(quad, Rect(3.3, 5.7, 17, 11), BlendMode::kNormal, 0.6);
    canvas.drawText(AttributedText("Aq", Font::systemFontOfSize(9), Color::white(0.2, 0.7)), Point(2, 20));
    canvas.setFillColor(Color::red());
    canvas.setAlpha(0.4);
    canvas.fillEllipse(Rect(10.25, 12.5, 15, 9));
  };
  for (const double scale : {1.0, 1.2, 2.0}) {
    auto reused = bitmap(Size(33, 31), scale);
    reused->save();
    reused->translate(4, 7);
    reused->scale(0.5, 2);
    reused->clipToRect(Rect(0, 0, 6, 6));
    reused->clipToMask(Rect(0, 0, 6, 6), quad);
    reused->setFillColor(Color::blue());
    reused->setAlpha(0.3);
    reused->setBlendMode(BlendMode::kMultiply);
    picture(*reused);
    reused->clearBitmap();
    picture(*reused);
    auto made = bitmap(Size(33, 31), scale);
    picture(*made);
    EXPECT_TRUE(Image::samePicture(reused->image().value(), made->image().value())) << scale;
    EXPECT_EQ(reused->saveDepth(), made->saveDepth()) << scale;
  }
}

TEST(CairoCanvasTest, RoundPhotoClipAndDashedStroke) {
  // A photo clipped to a circle, as the report's baby icon: corners stay empty.
  Image photo(8, 8);
  for (int i = 0; i < 64; ++i) photo.setPixel(i % 8, i / 8, {0, 128, 0, 255});
  auto canvas = bitmap(Size(40, 40), 2);
  canvas->save();
  Canvas& drawing = *canvas;
  drawing.clipToPath(Path::roundedRect(Rect(0, 0, 40, 40), 20));
  drawing.drawImage(photo, Rect(0, 0, 40, 40));
  canvas->restore();
  const Image image = canvas->image().value();
  EXPECT_EQ(image.pixel(40, 40), (Image::Rgba{0, 128, 0, 255}));
  EXPECT_EQ(image.pixel(2, 2).a, 0);
  EXPECT_EQ(image.pixel(77, 77).a, 0);
  EXPECT_EQ(image.pixel(40, 1).a, 255);

  auto dashed = bitmap(Size(20, 4), 1);
  dashed->setShouldAntialias(false);
  dashed->setLineWidth(2);
  dashed->setLineDash(0, {4, 4});
  dashed->strokeLine({0, 2}, {20, 2});
  const Image d = dashed->image().value();
  EXPECT_EQ(d.pixel(1, 2).a, 255);
  EXPECT_EQ(d.pixel(5, 2).a, 0);
  EXPECT_EQ(d.pixel(9, 2).a, 255);
}

TEST(CairoCanvasTest, MaskClipShowsDrawingThroughTheMaskAlphaUntilRestore) {
  Image mask(40, 20, 2.0);
  for (int i = 0; i < 400; ++i) mask.setPixel(i % 20, i / 20, {0, 0, 0, 255});
  auto canvas = bitmap(Size(20, 10), 1);
  canvas->save();
  canvas->clipToMask(Rect(0, 0, 20, 10), mask);
  canvas->setFillColor(Color::red());
  canvas->fillRect(Rect(0, 0, 20, 10));
  canvas->restore();
  canvas->setFillColor(Color::blue());
  canvas->fillRect(Rect(18, 8, 2, 2));
  const Image image = canvas->image().value();
  EXPECT_EQ(image.pixel(2, 5), rgba(Color::red()));
  EXPECT_EQ(image.pixel(15, 5).a, 0);
  EXPECT_EQ(image.pixel(19, 9), rgba(Color::blue())) << "the mask ended with the state";
}

TEST(CairoCanvasTest, LinearGradientRunsBetweenItsEnds) {
  const Gradient redToBlue{{Color::red(), Color::blue()}, {}};
  auto canvas = bitmap(Size(10, 100), 1);
  static_cast<Canvas&>(*canvas).drawLinearGradient(redToBlue, {5, 0}, {5, 100});
  const Image image = canvas->image().value();
  EXPECT_GT(image.pixel(5, 0).r, 245);
  EXPECT_GT(image.pixel(5, 99).b, 245);
  EXPECT_NEAR(image.pixel(5, 50).r, 127, 4);
  EXPECT_NEAR(image.pixel(5, 50).b, 127, 4);

  // Extended at the start only: nothing beyond the end.
  auto partial = bitmap(Size(10, 100), 1);
  partial->drawLinearGradient(redToBlue, {5, 25}, {5, 75}, true, false);
  const Image p = partial->image().value();
  EXPECT_EQ(p.pixel(5, 5), rgba(Color::red()));
  EXPECT_EQ(p.pixel(5, 90).a, 0);
}

// ---- PDF ----------------------------------------------------------------------------------------

// The page count as pdfinfo reports it, or -1 without pdfinfo.
int pdfinfoPages(const std::filesystem::path& path) {
  std::istringstream info(testing_support::commandOutput("pdfinfo '" + path.string() + "'"));
  int pages = -1, n = 0;
  for (std::string line; std::getline(info, line);)
    if (std::sscanf(line.c_str(), "Pages: %d", &n) == 1) pages = n;
  return pages;
}

void expectPages(const std::filesystem::path& path, int expected) {
  const int pages = pdfinfoPages(path);
  EXPECT_TRUE(pages < 0 || pages == expected) << path << ": " << pages << " pages, not " << expected;
}

TEST(CairoPdfTest, TwoPagesWrittenOnFinish) {
  testing_support::TempDir dir;
  const auto path = dir / "report.pdf";
  auto pdf = CairoCanvas::createPdf(path, Size(612, 792)).value();
  EXPECT_TRUE(pdf->isPdf());
  EXPECT_TRUE(pdf->beginPage());
  pdf->setFillColor(Color::accentViolet());
  pdf->fillRect(Rect(0, 0, 612, 792));
  pdf->drawText("AppName", Point(200, 80), Font("AvenirNext-Regular", 50), Color::white());
  pdf->save();
  pdf->translate(100, 100);  // a new page starts from a fresh state
  EXPECT_TRUE(pdf->beginPage());
  EXPECT_EQ(pdf->saveDepth(), 0);
  EXPECT_TRUE(pdf->transform().isIdentity());
  pdf->setLineWidth(0.5);
  pdf->strokeLine({50, 100}, {562, 100});
  EXPECT_EQ(pdf->pageCount(), 2);
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing is on disk before the document is finished";

  ASSERT_TRUE(pdf->finish().ok());
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(bytes.str().substr(0, 5), "%PDF-");
  EXPECT_NE(bytes.str().find("%%EOF"), std::string::npos);
  expectPages(path, 2);
  EXPECT_FALSE(pdf->finish().ok()) << "finishing twice is an error";
  pdf->fillRect(Rect(0, 0, 1, 1));  // ignored after finishing
  EXPECT_FALSE(pdf->beginPage());
}

TEST(CairoPdfTest, BlankPagesCountDrawingStartsTheFirstPageAndAbandonedDocumentsLeaveNoFile) {
  testing_support::TempDir dir;
  auto blank = CairoCanvas::createPdf(dir / "blank.pdf", Size(612, 792)).value();
  for (int i = 0; i < 3; ++i) blank->beginPage();
  ASSERT_TRUE(blank->finish().ok());
  expectPages(dir / "blank.pdf", 3);

  auto implicit = CairoCanvas::createPdf(dir / "implicit.pdf", Size(100, 100)).value();
  implicit->fillRect(Rect(0, 0, 10, 10));
  EXPECT_EQ(implicit->pageCount(), 1);
  ASSERT_TRUE(implicit->finish().ok());
  expectPages(dir / "implicit.pdf", 1);

  CairoCanvas::createPdf(dir / "abandoned.pdf", Size(100, 100)).value()->beginPage();
  EXPECT_FALSE(std::filesystem::exists(dir / "abandoned.pdf"));
}

// A run of blanks leaves no ink, so it is drawn in its neighbour's colour (a PDF keeps the line in
// one text object): the picture is the same whatever the blank's colour, every inked run keeps its
// own, and the blank is still part of the text a reader copies.
TEST(CairoCanvasTest, BlanksBetweenRunsShowNoColourAndStayInTheText) {
  const Color red(1, 0, 0, 1), blue(0, 0, 1, 1);
  auto line = [&](const Color& blank, bool leading) {
    AttributedText t;
    if (leading) t.append(" ", Font("Helvetica", 12), blank);
    t.append("Ab", Font("AvenirNext-Regular", 16), red);
    t.append(" ", Font("Helvetica", 12), blank);
    t.append(" Cd", Font("AvenirNext-Regular", 14), blue);  // blanks with ink: its own colour
    return t;
  };
  auto draw = [&](const AttributedText& t) {
    auto canvas = bitmap(Size(120, 30), 2, true);
    canvas->drawText(t, Rect(4, 4, 110, 24));
    return canvas->image().value();
  };
  for (bool leading : {false, true}) {
    SCOPED_TRACE(leading);
    const Image black = draw(line(Color::black(), leading));
    EXPECT_TRUE(Image::samePicture(black, draw(line(Color(0, 1, 0, 0.5), leading))));
    int reddish = 0, bluish = 0;
    for (int y = 0; y < black.pixelHeight(); ++y)
      for (int x = 0; x < black.pixelWidth(); ++x) {
        const Image::Rgba p = black.pixel(x, y);
        reddish += p.r > 200 && p.b < 100;
        bluish += p.b > 200 && p.r < 100;
      }
    EXPECT_GT(reddish, 20);
    EXPECT_GT(bluish, 20);
  }
  testing_support::TempDir dir;
  auto pdf = CairoCanvas::createPdf(dir / "line.pdf", Size(200, 60)).value();
  pdf->drawText(line(Color::black(), false), Rect(4, 4, 190, 40));
  ASSERT_TRUE(pdf->finish().ok());
  const std::string text = testing_support::pdfText(dir / "line.pdf");
  if (!text.empty()) {
    EXPECT_NE(text.find("Ab Cd"), std::string::npos) << text;
  }
}

// A shared picture is drawn as drawImage draws it, also again from what the canvas kept of it; a
// new picture, even one at the freed picture's address, is never drawn from the old one's surface.
TEST(CairoCanvasTest, SharedPicturesDrawAsImagesAndAnotherPictureIsNeverTakenForThem) {
  // Made apart from its control block, so that a freed picture's memory is free for the next one.
  auto solid = [](Image::Rgba colour) {
    auto* image = new Image(4, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) image->setPixel(x, y, x == 0 ? Image::Rgba{0, 0, 0, 0} : colour);
    return std::shared_ptr<const Image>(image);
  };
  auto red = solid({255, 0, 0, 170});
  auto plain = bitmap(Size(20, 20), 2);
  plain->drawImage(*red, Rect(2, 2, 16, 16), BlendMode::kNormal, 1.0);
  for (int round = 0; round < 2; ++round) {
    auto shared = bitmap(Size(20, 20), 2);
    static_cast<Canvas&>(*shared).drawSharedImage(red, Rect(2, 2, 16, 16));
    EXPECT_TRUE(Image::samePicture(shared->image().value(), plain->image().value())) << round;
  }
  for (int round = 0; round < 8; ++round) {
    red.reset();
    red = solid({0, 0, 255, 255});  // often at the address the freed picture had
    auto canvas = bitmap(Size(20, 20), 1);
    static_cast<Canvas&>(*canvas).drawSharedImage(red, Rect(0, 0, 20, 20));
    EXPECT_EQ(canvas->image().value().pixel(15, 10), (Image::Rgba{0, 0, 255, 255})) << round;
    red = solid({255, 0, 0, 255});
    static_cast<Canvas&>(*canvas).drawSharedImage(red, Rect(0, 0, 20, 20));
    EXPECT_EQ(canvas->image().value().pixel(15, 10), (Image::Rgba{255, 0, 0, 255})) << round;
  }
  RecordingCanvas recording(Size(20, 20));
  static_cast<Canvas&>(recording).drawSharedImage(red, Rect(1, 2, 3, 4));
  static_cast<Canvas&>(recording).drawSharedImage(nullptr, Rect(1, 2, 3, 4));
  ASSERT_EQ(recording.images().size(), 1u);
  EXPECT_EQ(recording.images()[0].rect, Rect(1, 2, 3, 4));
}

// Text of one colour is drawn in its inked runs' colour, whatever colour a blank before them has,
// and keeps that colour's alpha.
TEST(CairoCanvasTest, TextOfOneColourIsDrawnInItsInkedColour) {
  const Color red(1, 0, 0, 1), halfRed(1, 0, 0, 0.5), blue(0, 0, 1, 1);
  struct Case {
    const char* name;
    AttributedText text;
    int mostAlpha;
  };
  AttributedText leading(" ", Font("Helvetica", 12), blue);
  leading.append("Ab", Font("AvenirNext-Regular", 16), red);
  leading.append(" ", Font("Helvetica", 12), Color::black());
  leading.append("Cd", Font("AvenirNext-Medium", 14), red);
  const Case cases[] = {
      {"a leading blank of another colour", leading, 255},
      {"half transparent", AttributedText("AbCd", Font("AvenirNext-Regular", 16), halfRed), 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto canvas = bitmap(Size(80, 24), 2);
    canvas->drawText(c.text, Rect(2, 2, 76, 20));
    const Image image = canvas->image().value();
    int inked = 0, mostAlpha = 0;
    for (int y = 0; y < image.pixelHeight(); ++y)
      for (int x = 0; x < image.pixelWidth(); ++x) {
        const Image::Rgba p = image.pixel(x, y);
        if (p.a == 0) continue;
        ++inked;
        mostAlpha = std::max<int>(mostAlpha, p.a);
        EXPECT_EQ(p.g + p.b, 0) << x << "," << y;
      }
    EXPECT_GT(inked, 40);
    EXPECT_NEAR(mostAlpha, c.mostAlpha, 1);
  }
}

// A text of one line stands exactly where the same line stands as the first of several, whether it
// is drawn at a point or in a rectangle it wraps in.
TEST(CairoCanvasTest, ALineStandsWhereItStandsAsTheFirstOfSeveral) {
  auto firstLine = [](const std::string& text, bool inRect) {
    auto canvas = bitmap(Size(120, 60), 2);
    const AttributedText t(text, Font("AvenirNext-Medium", 15.5), Color::black());
    if (inRect)
      canvas->drawText(t, Rect(3.3, 2.7, 110, 50));
    else
      canvas->drawText(t, Point(3.3, 2.7));
    Image image = canvas->image().value();
    for (int y = 40; y < image.pixelHeight(); ++y)  // below the first line
      for (int x = 0; x < image.pixelWidth(); ++x) image.setPixel(x, y, {0, 0, 0, 0});
    return image;
  };
  for (bool inRect : {false, true}) {
    SCOPED_TRACE(inRect);
    EXPECT_TRUE(Image::samePicture(firstLine("Ab, gy", inRect), firstLine("Ab, gy\nCd", inRect)));
  }
}

// A blank between runs of other sizes leaves neither a glyph nor a font of its own in a PDF where
// no glyph moves for it; a blank after which the line would go on in the same size keeps its glyph
// (the next glyph would otherwise be written relative to the one before, a hair away from where it
// stood). The text a reader copies keeps its blanks either way.
TEST(CairoPdfTest, BlankRunsBetweenSizesLeaveNoFontOfTheirOwn) {
  struct Case {
    double after;   // size of the run after the blank; the one before is 16
    bool ownFont;   // whether the blank's face ("DejaVu Sans", not the condensed face) is in the file
  };
  for (const Case& c : {Case{14, false}, Case{16, false}}) {
    SCOPED_TRACE(c.after);
    AttributedText line("Ab", Font("AvenirNext-Medium", 16), Color::black());
    line.append(" ", Font("Helvetica", 12), Color::black());
    line.append("Cd", Font("AvenirNext-Regular", c.after), Color::black());
    testing_support::TempDir dir;
    const auto path = dir / "line.pdf";
    auto pdf = CairoCanvas::createPdf(path, Size(200, 60)).value();
    pdf->drawText(line, Rect(4, 4, 190, 40));
    ASSERT_TRUE(pdf->finish().ok());
    const std::string fonts = testing_support::commandOutput("pdffonts '" + path.string() + "'");
    if (fonts.empty()) GTEST_SKIP() << "pdffonts is not installed";
    // Each font's line starts with its subset's name, "ABCDEF+DejaVuSansCondensed-Bold".
    std::set<std::string> faces;
    std::istringstream rows(fonts);
    for (std::string row; std::getline(rows, row);)
      if (const size_t plus = row.find('+'); plus != std::string::npos && plus < row.find(' '))
        faces.insert(row.substr(plus + 1, row.find(' ') - plus - 1));
    EXPECT_TRUE(faces.count("DejaVuSansCondensed")) << fonts;
    EXPECT_EQ(faces.count("DejaVuSans") == 1, c.ownFont) << fonts;
    EXPECT_NE(testing_support::pdfText(path).find("Ab Cd"), std::string::npos);
  }
}

TEST(CairoPdfTest, BadPathsAndSizesAreErrors) {
  testing_support::TempDir dir;
  auto missing = CairoCanvas::createPdf(dir / "no" / "such" / "report.pdf", Size(612, 792));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, static_cast<std::int64_t>(CanvasError::kWriteFailed));
  EXPECT_FALSE(CairoCanvas::createPdf(dir / "r.pdf", Size(0, 792)).ok());
  auto pdf = CairoCanvas::createPdf(dir / "r.pdf", Size(612, 792)).value();
  EXPECT_FALSE(pdf->image().ok());
  EXPECT_FALSE(pdf->writePng(dir / "r.png").ok());
}

}  // namespace
}  // namespace graphics
