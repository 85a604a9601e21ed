#include "app/image_effects.h"

#include <gtest/gtest.h>

#include "platform/foundation/log.h"

namespace app {
namespace {

using graphics::Color;
using graphics::Image;

constexpr double kScreenScale = 2.0;
const Image::Rgba kHairline{201, 203, 206, 255};

Image solid(int w, int h, Image::Rgba colour, double scale = 1.0) {
  Image img(w, h, scale);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, colour);
  return img;
}

// Left half black, right half white, opaque.
Image halves(int w, int h, double scale) {
  Image img(w, h, scale);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, x < w / 2 ? Image::Rgba{0, 0, 0, 255} : Image::Rgba{255, 255, 255, 255});
  return img;
}

TEST(BlurKernelTest, SizeFromRadiusAndScaleAlwaysOdd) {
  // 5 points at scale 2: 10 × 3 × 2.5066 / 4 = 18.8 -> 19.
  EXPECT_EQ(blurKernelSize(5, 2), 19);
  // 1 point at scale 2: 3.76 -> 4, even -> 5.
  EXPECT_EQ(blurKernelSize(1, 2), 5);
  // A tiny radius rounds to 0, which is even: 1, no visible blur.
  EXPECT_EQ(blurKernelSize(0.01, 2), 1);
  EXPECT_EQ(blurKernelSize(5, 3), 29);  // 28.2
  EXPECT_EQ(blurKernelSize(1e12, 2) % 2, 1) << "absurd radii stay odd and bounded";
}

TEST(SaturationMatrixTest, QuantisedEntries) {
  const auto grey = saturationMatrix(0);
  // 0.0722 × 256 = 18.48, 0.7152 × 256 = 183.09, 0.2126 × 256 = 54.43.
  EXPECT_EQ(grey,
            (std::array<std::int16_t, 16>{18, 18, 18, 0, 183, 183, 183, 0, 54, 54, 54, 0, 0, 0, 0, 256}));
  const auto same = saturationMatrix(1);
  EXPECT_EQ(same[0], 256);
  EXPECT_EQ(same[5], 256);
  EXPECT_EQ(same[10], 256) << "0.2126 + 0.7873 = 0.9999, 255.97 rounds to 256";
  EXPECT_EQ(same[1], 0);
  const auto vivid = saturationMatrix(2);
  EXPECT_EQ(vivid[0], 494);   // (0.0722 + 1.8556) × 256 = 493.52
  EXPECT_EQ(vivid[4], -183);  // (0.7152 − 1.4304) × 256 = −183.09
  const auto desaturated = saturationMatrix(0.4);
  EXPECT_EQ(desaturated[0], 113);  // (0.0722 + 0.37112) × 256 = 113.49
}

TEST(ApplyBlurTest, NoBlurNoSaturationIsTheImageWithItsHairline) {
  const Image receiver = solid(20, 10, {10, 200, 30, 255}, 2.0);  // 10 × 5 points
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(receiver, 0, 6, std::nullopt,
                                                                                1.0, nullptr, kScreenScale);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixelWidth(), 20);
  EXPECT_EQ(result->scale(), 2.0);
  // The hairline at x − 0.5 = 5.5 points: pixels 10.5 to 11.5 → column 10 only.
  for (int x = 0; x < 20; ++x)
    EXPECT_EQ(result->pixel(x, 4), x == 10 ? kHairline : receiver.pixel(x, 4)) << x;
  EXPECT_EQ(result->pixel(10, 0), kHairline);
  EXPECT_EQ(result->pixel(10, 9), kHairline);
  EXPECT_EQ(receiver.pixel(10, 4), (Image::Rgba{10, 200, 30, 255})) << "the receiver is not changed";
}

TEST(ApplyBlurTest, TintIsFilledOverTheWholeImage) {
  const Image receiver = solid(10, 10, {255, 255, 255, 255});
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
      receiver, 0, 100, Color::rgb255(140, 127, 243, 0.7), 1.0, nullptr, 1.0);
  ASSERT_TRUE(result.has_value());
  const auto p = result->pixel(3, 3);
  // 0.7 × violet + 0.3 × white.
  EXPECT_NEAR(p.r, 0.7 * 140 + 0.3 * 255, 1.5);
  EXPECT_NEAR(p.g, 0.7 * 127 + 0.3 * 255, 1.5);
  EXPECT_NEAR(p.b, 0.7 * 243 + 0.3 * 255, 1.5);
  EXPECT_EQ(p.a, 255);
}

TEST(ApplyBlurTest, SaturationChangeWithoutBlurTakesEffect) {
  // Pure red at s = 0: every channel is 255 × 54 / 256, truncated: 53 (the red luminance weight).
  const Image receiver = solid(8, 8, {255, 0, 0, 255});
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
      receiver, 0, 100, std::nullopt, 0.0, nullptr, 1.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixel(2, 2), (Image::Rgba{53, 53, 53, 255}));
  const Image green = solid(4, 4, {0, 255, 0, 255});
  auto g = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(green, 0, 100, std::nullopt, 0.0,
                                                                           nullptr, 1.0);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->pixel(1, 1), (Image::Rgba{182, 182, 182, 255}));  // 255 × 183 / 256 = 182.3
}

TEST(ApplyBlurTest, BlurSoftensTheEdgeAndStaysOpaque) {
  const Image receiver = halves(40, 20, 1.0);  // 40 × 20 points
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(receiver, 2, 0, std::nullopt,
                                                                                1.0, nullptr, kScreenScale);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixelWidth(), 80) << "made at the screen's scale";
  EXPECT_EQ(result->scale(), kScreenScale);
  // The edge at 40 pixels is smeared; far from it the halves keep their colours.
  const auto nearEdgeDark = result->pixel(37, 20), nearEdgeLight = result->pixel(42, 20);
  EXPECT_GT(nearEdgeDark.r, 20);
  EXPECT_LT(nearEdgeLight.r, 235);
  EXPECT_EQ(result->pixel(5, 20).r, 0);
  EXPECT_EQ(result->pixel(75, 20).r, 255);
  EXPECT_EQ(result->pixel(40, 20).a, 255);
}

TEST(ApplyBlurTest, TinyRadiusCountsAsBlurButChangesNothing) {
  const Image receiver = halves(10, 4, 1.0);
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
      receiver, 0.01, 100, std::nullopt, 1.0, nullptr, 1.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixels(), receiver.pixels());
}

TEST(ApplyBlurTest, MaskLimitsTheBlurredCopy) {
  const Image receiver = halves(40, 20, 1.0);
  // The mask covers the right half only: the left half stays sharp.
  Image mask(40, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) mask.setPixel(x, y, {0, 0, 0, 255});
  auto result = applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(receiver, 2, 0, std::nullopt,
                                                                                1.0, &mask, 1.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixel(19, 10), (Image::Rgba{0, 0, 0, 255})) << "sharp where the mask is clear";
  EXPECT_LT(result->pixel(20, 10).r, 235) << "blurred where it is opaque";
  EXPECT_GT(result->pixel(20, 10).r, 0);
}

TEST(ApplyBlurTest, BadImagesGiveNothingWithTheMessage) {
  foundation::ScopedLogCapture log;
  const Image thin(1, 20, 2.0);  // 0.5 × 10 points
  EXPECT_FALSE(applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(thin, 5, 10, std::nullopt, 1,
                                                                               nullptr, 2)
                   .has_value());
  EXPECT_TRUE(log.contains("*** error: invalid size: (0.50 x 10.00). Both dimensions must be >= 1: "));

  EXPECT_FALSE(applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(Image(), 5, 10, std::nullopt,
                                                                               1, nullptr, 2)
                   .has_value());
  EXPECT_TRUE(log.contains("(0.00 x 0.00)"));

  const Image ok = solid(4, 4, {1, 2, 3, 255});
  const Image emptyMask;
  EXPECT_FALSE(applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(ok, 5, 10, std::nullopt, 1,
                                                                               &emptyMask, 2)
                   .has_value());
  EXPECT_TRUE(log.contains("*** error: maskImage must be backed by a CGImage: "));
}

TEST(MultiplyImageTest, ColourThroughTheImageAlpha) {
  Image icon(4, 2, 2.0);
  icon.setPixel(0, 0, {10, 20, 30, 255});
  icon.setPixel(1, 0, {200, 100, 0, 128});
  const Image silhouette = multiplyImageByConstantColor(icon, Color::rgb255(140, 127, 243, 0.2));
  EXPECT_EQ(silhouette.pixelWidth(), 4);
  EXPECT_EQ(silhouette.scale(), 2.0);
  EXPECT_EQ(silhouette.pixel(0, 0), (Image::Rgba{140, 127, 243, 51}));
  EXPECT_EQ(silhouette.pixel(1, 0), (Image::Rgba{140, 127, 243, 26}));
  EXPECT_EQ(silhouette.pixel(2, 0).a, 0);
  EXPECT_EQ(multiplyImageByConstantColor(icon, Color::white()).pixel(0, 0),
            (Image::Rgba{255, 255, 255, 255}));
  EXPECT_TRUE(multiplyImageByConstantColor(Image(), Color::white()).isEmpty());
}

}  // namespace
}  // namespace app
