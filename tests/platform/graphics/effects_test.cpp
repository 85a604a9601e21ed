#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/graphics/image_effects.h"

namespace graphics {
namespace {

PixelBuffer randomBuffer(int w, int h, unsigned seed) {
  PixelBuffer b(w, h);
  std::mt19937 rng(seed);
  for (auto& v : b.data) v = static_cast<std::uint8_t>(rng() & 0xFF);
  return b;
}

// The definition, one box at a time: the rounded mean of channel c over the box, edges extended.
std::uint8_t referenceBoxPixel(const PixelBuffer& src, int x, int y, int c, int kh, int kw) {
  std::uint64_t sum = 0;
  for (int dy = -kh / 2; dy <= kh / 2; ++dy)
    for (int dx = -kw / 2; dx <= kw / 2; ++dx) {
      const int sx = std::clamp(x + dx, 0, src.width - 1), sy = std::clamp(y + dy, 0, src.height - 1);
      sum += src.data[(static_cast<size_t>(sy) * src.width + sx) * 4 + c];
    }
  const std::uint64_t area = static_cast<std::uint64_t>(kh) * kw;
  return static_cast<std::uint8_t>((sum + area / 2) / area);
}

TEST(BoxConvolveTest, MatchesTheBoxDefinitionWithExtendedEdges) {
  const PixelBuffer src = randomBuffer(23, 17, 7);
  for (auto [kh, kw] : {std::pair{1, 1}, {3, 3}, {5, 9}, {7, 1}, {31, 31}, {61, 3}}) {
    SCOPED_TRACE(std::to_string(kh) + "x" + std::to_string(kw));
    PixelBuffer dst(src.width, src.height);
    ASSERT_TRUE(boxConvolve(src, dst, kh, kw).ok());
    PixelBuffer expected(src.width, src.height);
    for (size_t i = 0; i < expected.data.size(); ++i) {
      const int pixel = static_cast<int>(i / 4);
      expected.data[i] = referenceBoxPixel(src, pixel % src.width, pixel / src.width, i % 4, kh, kw);
    }
    EXPECT_EQ(dst.data, expected.data);
  }
}

TEST(BoxConvolveTest, HugeKernelsKeepFlatAreasAndCostNoMoreThanSmallOnes) {
  // Extended edges add no darkness, and the running sums do not overflow, up to the largest kernel.
  PixelBuffer flat(8, 3), blurred(8, 3);
  std::fill(flat.data.begin(), flat.data.end(), 77);
  ASSERT_TRUE(boxConvolve(flat, blurred, (1 << 23) - 1, (1 << 23) - 1).ok());
  EXPECT_TRUE(std::all_of(blurred.data.begin(), blurred.data.end(), [](auto v) { return v == 77; }));

  // Time proportional to pixels: a kernel wider than the image finishes like any other. A kernel
  // loop per pixel would take minutes here.
  const PixelBuffer src = randomBuffer(1000, 800, 3);
  PixelBuffer dst(1000, 800);
  ASSERT_TRUE(boxConvolve(src, dst, 2001, 2001).ok());
  EXPECT_EQ(dst.data[(400 * 1000 + 500) * 4], referenceBoxPixel(src, 500, 400, 0, 2001, 2001));
}

TEST(BoxConvolveTest, RefusesBadKernelsAndBuffers) {
  PixelBuffer a(4, 4), b(4, 4), c(5, 4);
  for (auto [kh, kw] : {std::pair{2, 3}, {3, 4}, {0, 1}, {-1, 3}}) {
    const auto status = boxConvolve(a, b, kh, kw);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kImageEffectsErrorDomain);
    EXPECT_EQ(status.error().code, static_cast<std::int64_t>(ImageEffectsError::kInvalidKernelSize));
  }
  EXPECT_EQ(boxConvolve(a, c, 3, 3).error().code,
            static_cast<std::int64_t>(ImageEffectsError::kBufferMismatch));
  EXPECT_FALSE(boxConvolve(a, a, 3, 3).ok()) << "in place is not a box convolution";
  PixelBuffer empty, empty2;
  EXPECT_FALSE(boxConvolve(empty, empty2, 3, 3).ok());
}

TEST(MatrixMultiplyTest, ChannelsMixInMemoryOrder) {
  PixelBuffer px(1, 1), out(1, 1);
  px.data = {10, 20, 30, 255};
  // Row i is the input channel, column j the output channel: channel 0 copied to channel 2.
  std::array<std::int16_t, 16> m{};
  m[0 * 4 + 2] = 1;
  m[3 * 4 + 3] = 1;
  ASSERT_TRUE(matrixMultiply(px, out, m, 1).ok());
  EXPECT_EQ(out.data, (std::vector<std::uint8_t>{0, 0, 10, 255}));

  // Sums are truncated by the divisor and clamped.
  std::array<std::int16_t, 16> mix{};
  mix[0 * 4 + 0] = 3;     // 30 / 4 = 7.5 -> 7
  mix[1 * 4 + 1] = -100;  // negative -> 0
  mix[2 * 4 + 2] = 100;   // 750 -> 255
  mix[3 * 4 + 3] = 4;
  ASSERT_TRUE(matrixMultiply(px, px, mix, 4).ok()) << "in place is allowed";
  EXPECT_EQ(px.data, (std::vector<std::uint8_t>{7, 0, 255, 255}));

  EXPECT_EQ(matrixMultiply(px, out, m, 0).error().code,
            static_cast<std::int64_t>(ImageEffectsError::kInvalidDivisor));
}

TEST(PixelBufferTest, HoldsPremultipliedBgra) {
  Image img(2, 1);
  img.setPixel(0, 0, {200, 100, 50, 255});
  img.setPixel(1, 0, {200, 100, 50, 128});
  const PixelBuffer b = PixelBuffer::fromImage(img);
  EXPECT_EQ(b.data, (std::vector<std::uint8_t>{50, 100, 200, 255, 25, 50, 100, 128}));
  const Image back = b.toImage(2.0);
  EXPECT_EQ(back.scale(), 2.0);
  EXPECT_EQ(back.pixel(0, 0), img.pixel(0, 0));
  EXPECT_NEAR(back.pixel(1, 0).r, 200, 1);
  EXPECT_NEAR(back.pixel(1, 0).b, 50, 2);
}

TEST(ImageEffectsTest, ScalingKeepsCornersAveragesAndDoesNotBleedTransparentColour) {
  Image quad(2, 2);
  quad.setPixel(0, 0, {255, 0, 0, 255});
  quad.setPixel(1, 0, {0, 255, 0, 255});
  quad.setPixel(0, 1, {0, 0, 255, 255});
  quad.setPixel(1, 1, {255, 255, 255, 255});
  const Image big = scaledImage(quad, 8, 8, 2.0);
  EXPECT_EQ(big.pixelWidth(), 8);
  EXPECT_EQ(big.scale(), 2.0);
  EXPECT_EQ(big.pixel(0, 0), (Image::Rgba{255, 0, 0, 255}));
  EXPECT_EQ(big.pixel(7, 7), (Image::Rgba{255, 255, 255, 255}));

  Image checker(16, 16);
  for (int i = 0; i < 256; ++i)
    checker.setPixel(i % 16, i / 16,
                     (i % 16 + i / 16) % 2 ? Image::Rgba{255, 255, 255, 255} : Image::Rgba{0, 0, 0, 255});
  EXPECT_NEAR(scaledImage(checker, 4, 4, 1.0).pixel(1, 1).r, 128, 1);

  const Image byPoints = scaledImage(quad, 10.5, 4.0, 2.0);
  EXPECT_EQ(byPoints.pixelWidth(), 21);
  EXPECT_EQ(byPoints.pixelHeight(), 8);
  EXPECT_TRUE(scaledImage(quad, 0, 4, 1.0).isEmpty());
  EXPECT_TRUE(scaledImage(Image(), 4, 4, 1.0).isEmpty());

  Image edge(2, 1);
  edge.setPixel(0, 0, {255, 0, 0, 255});
  edge.setPixel(1, 0, {0, 255, 0, 0});  // invisible green
  const Image stretched = scaledImage(edge, 8, 1, 1.0);
  for (int x = 0; x < 8; ++x)
    EXPECT_TRUE(stretched.pixel(x, 0).a == 0 || stretched.pixel(x, 0).g == 0) << "x " << x;
}

TEST(ImageEffectsTest, TintMaskBlurAndMatrixOnImages) {
  Image icon(3, 1, 2.0);
  icon.setPixel(0, 0, {10, 20, 30, 255});
  icon.setPixel(1, 0, {10, 20, 30, 128});
  const Image tinted = tintedImage(icon, Color::rgb255(140, 127, 243, 0.5));
  EXPECT_EQ(tinted.scale(), 2.0);
  EXPECT_EQ(tinted.pixel(0, 0), (Image::Rgba{140, 127, 243, 128}));
  EXPECT_EQ(tinted.pixel(1, 0), (Image::Rgba{140, 127, 243, 64}));
  EXPECT_EQ(tinted.pixel(2, 0).a, 0);

  Image mask(1, 1);
  mask.setPixel(0, 0, {0, 0, 0, 128});
  EXPECT_EQ(maskedImage(icon, mask).pixel(0, 0), (Image::Rgba{10, 20, 30, 128}));
  EXPECT_EQ(maskedImage(icon, Image()).pixel(0, 0).a, 0);

  EXPECT_EQ(boxBlurredImage(icon, 1).pixels(), icon.pixels());
  Image bar(9, 1);
  bar.setPixel(4, 0, {255, 255, 255, 255});
  const Image blurred = boxBlurredImage(bar, 2, 1);  // even: raised to 3
  EXPECT_EQ(blurred.pixel(3, 0).a, 85);
  EXPECT_EQ(blurred.pixel(2, 0).a, 0);

  // In memory order B, G, R, A: swapping channels 0 and 2 swaps red and blue.
  std::array<std::int16_t, 16> swapRedBlue{};
  swapRedBlue[0 * 4 + 2] = swapRedBlue[2 * 4 + 0] = swapRedBlue[1 * 4 + 1] = swapRedBlue[3 * 4 + 3] = 1;
  EXPECT_EQ(colorMatrixedImage(icon, swapRedBlue, 1).pixel(0, 0), (Image::Rgba{30, 20, 10, 255}));
}

}  // namespace
}  // namespace graphics
