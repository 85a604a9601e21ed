#include "app/image_effects.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "platform/foundation/log.h"

namespace app {
namespace {

using graphics::Color;
using graphics::Image;

const Image::Rgba kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255}, kHairline{201, 203, 206, 255};

// An opaque image, each pixel's colour chosen by its x.
Image painted(int w, int h, double scale, const std::function<Image::Rgba(int x)>& colourAt) {
  Image img(w, h, scale);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, colourAt(x));
  return img;
}
Image solid(int w, int h, Image::Rgba colour, double scale = 1.0) {
  return painted(w, h, scale, [&](int) { return colour; });
}
// Left half black, right half white.
Image halves(int w, int h) {
  return painted(w, h, 1.0, [&](int x) { return x < w / 2 ? kBlack : kWhite; });
}
std::optional<Image> apply(const Image& image, double radius, double width, std::optional<Color> tint = {},
                           double saturation = 1.0, const Image* mask = nullptr, double screenScale = 1.0) {
  return applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(image, radius, width, tint,
                                                                         saturation, mask, screenScale);
}

TEST(ImageEffectsTest, KernelSizeAndSaturationMatrix) {
  // radius × scale × 3·√(2π)/4, rounded, made odd: 18.8 -> 19; 3.76 -> 4 -> 5; 0 -> 1.
  for (const auto& [radius, scale, size] :
       std::vector<std::tuple<double, double, int>>{{5, 2, 19}, {1, 2, 5}, {0.01, 2, 1}})
    EXPECT_EQ(blurKernelSize(radius, scale), size) << radius << " at " << scale;
  EXPECT_EQ(blurKernelSize(1e12, 2) % 2, 1) << "absurd radii stay odd and bounded";

  // 0.0722 × 256 = 18.48, 0.7152 × 256 = 183.09, 0.2126 × 256 = 54.43.
  EXPECT_EQ(saturationMatrix(0),
            (std::array<std::int16_t, 16>{18, 18, 18, 0, 183, 183, 183, 0, 54, 54, 54, 0, 0, 0, 0, 256}));
  const auto same = saturationMatrix(1);
  EXPECT_EQ((std::array{same[0], same[5], same[10], same[1]}),
            (std::array<std::int16_t, 4>{256, 256, 256, 0}))
      << "0.2126 + 0.7873 = 0.9999, 255.97 rounds to 256";
  EXPECT_EQ(saturationMatrix(2)[0], 494);  // (0.0722 + 1.8556) × 256 = 493.52, rounded
}

TEST(ImageEffectsTest, WithoutBlurTheImageKeepsItsPixelsGetsItsHairlineAndTakesTintAndSaturation) {
  const Image receiver = solid(20, 10, {10, 200, 30, 255}, 2.0);  // 10 × 5 points
  auto result = apply(receiver, 0, 6, {}, 1.0, nullptr, 2.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixelWidth(), 20);
  EXPECT_EQ(result->scale(), 2.0);
  // The hairline at x − 0.5 = 5.5 points: pixels 10.5 to 11.5, so column 10 only, top to bottom.
  for (int x = 0; x < 20; ++x)
    EXPECT_EQ(result->pixel(x, 4), x == 10 ? kHairline : receiver.pixel(x, 4)) << x;
  EXPECT_EQ(result->pixel(10, 0), kHairline);
  EXPECT_EQ(result->pixel(10, 9), kHairline);
  EXPECT_EQ(receiver.pixel(10, 4), (Image::Rgba{10, 200, 30, 255})) << "the receiver is not changed";
  // A tiny radius counts as a blur but its kernel of 1 changes nothing; one under the single-precision
  // epsilon is no blur at all.
  const Image sharp = halves(10, 4);
  EXPECT_EQ(apply(sharp, 0.01, 100)->pixels(), sharp.pixels());
  EXPECT_EQ(apply(sharp, 1e-7, 100)->pixels(), sharp.pixels());

  // Tint and saturation take effect without blur.
  const auto tinted = apply(solid(10, 10, kWhite), 0, 100, Color::rgb255(140, 127, 243, 0.7))->pixel(3, 3);
  // 0.7 × violet + 0.3 × white.
  EXPECT_NEAR(tinted.r, 0.7 * 140 + 0.3 * 255, 1.5);
  EXPECT_NEAR(tinted.g, 0.7 * 127 + 0.3 * 255, 1.5);
  EXPECT_NEAR(tinted.b, 0.7 * 243 + 0.3 * 255, 1.5);
  EXPECT_EQ(tinted.a, 255);
  // Grey at 0: every channel is 255 × the colour's weight / 256, truncated (54 for red, 183 for green).
  EXPECT_EQ(apply(solid(8, 8, {255, 0, 0, 255}), 0, 100, {}, 0.0)->pixel(2, 2),
            (Image::Rgba{53, 53, 53, 255}));
  EXPECT_EQ(apply(solid(4, 4, {0, 255, 0, 255}), 0, 100, {}, 0.0)->pixel(1, 1),
            (Image::Rgba{182, 182, 182, 255}));
}

TEST(ImageEffectsTest, BlurSoftensTheEdgeAtTheScreenScaleOnlyWhereTheMaskIsOpaque) {
  auto result = apply(halves(40, 20), 2, 0, {}, 1.0, nullptr, 2.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->pixelWidth(), 80) << "made at the screen's scale";
  EXPECT_EQ(result->scale(), 2.0);
  // The edge at 40 pixels is smeared; far from it the halves keep their colours; all stays opaque.
  EXPECT_GT(result->pixel(37, 20).r, 20);
  EXPECT_LT(result->pixel(42, 20).r, 235);
  EXPECT_EQ(result->pixel(5, 20).r, 0);
  EXPECT_EQ(result->pixel(75, 20).r, 255);
  EXPECT_EQ(result->pixel(40, 20).a, 255);

  // A mask over the right half only: the left half stays sharp.
  Image mask(40, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) mask.setPixel(x, y, kBlack);
  auto masked = apply(halves(40, 20), 2, 0, {}, 1.0, &mask);
  ASSERT_TRUE(masked.has_value());
  EXPECT_EQ(masked->pixel(19, 10), kBlack) << "sharp where the mask is clear";
  EXPECT_LT(masked->pixel(20, 10).r, 235) << "blurred where it is opaque";
  EXPECT_GT(masked->pixel(20, 10).r, 0);
}

TEST(ImageEffectsTest, BadImagesGiveNothingWithTheMessage) {
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(apply(Image(1, 20, 2.0), 5, 10, {}, 1, nullptr, 2));  // 0.5 × 10 points
  EXPECT_TRUE(log.contains("*** error: invalid size: (0.50 x 10.00). Both dimensions must be >= 1: "));
  EXPECT_FALSE(apply(Image(), 5, 10, {}, 1, nullptr, 2));
  EXPECT_TRUE(log.contains("(0.00 x 0.00)"));
  const Image emptyMask;
  EXPECT_FALSE(apply(solid(4, 4, {1, 2, 3, 255}), 5, 10, {}, 1, &emptyMask, 2));
  EXPECT_TRUE(log.contains("*** error: maskImage must be backed by a CGImage: "));
}

// The tint itself is the graphics library's; here only that the silhouette is made with it.
TEST(ImageEffectsTest, SilhouetteIsTheColourThroughTheImageAlpha) {
  Image icon(2, 1);
  icon.setPixel(0, 0, {200, 100, 0, 128});
  const Image silhouette = multiplyImageByConstantColor(icon, Color::rgb255(140, 127, 243, 0.2));
  EXPECT_EQ(silhouette.pixel(0, 0), (Image::Rgba{140, 127, 243, 26}));
  EXPECT_EQ(silhouette.pixel(1, 0).a, 0);
}

}  // namespace
}  // namespace app
