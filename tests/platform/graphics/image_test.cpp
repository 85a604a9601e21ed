#include "platform/graphics/image.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace graphics {
namespace {

using foundation::Bytes;

// PNG files written by a small independent writer (Python's zlib and struct), byte for byte.
namespace fixtures {
// 73 bytes
const std::uint8_t kGray8[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x08, 0x00, 0x00, 0x00, 0x00, 0xb8,
    0x1f, 0x39, 0xc6, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60,
    0x68, 0xf8, 0xcf, 0xc0, 0x25, 0x22, 0x07, 0x00, 0x08, 0x67, 0x01, 0xbc, 0x9c, 0x67, 0x35,
    0xa0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
// 70 bytes
const std::uint8_t kGrayAlpha8[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x04, 0x00, 0x00,
    0x00, 0x5e, 0x2b, 0xb7, 0x01, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0x38, 0xf1, 0xdf, 0x88, 0x01, 0x00, 0x06, 0x86, 0x01, 0xfa, 0xd3, 0x72,
    0xca, 0x8f, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
// 107 bytes
const std::uint8_t kPaletteWithTransparency[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x03, 0x00, 0x00, 0x00, 0x45, 0x68, 0xfd,
    0x16, 0x00, 0x00, 0x00, 0x09, 0x50, 0x4c, 0x54, 0x45, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00,
    0x00, 0xff, 0x2d, 0x4a, 0xcd, 0x8a, 0x00, 0x00, 0x00, 0x03, 0x74, 0x52, 0x4e, 0x53, 0xff, 0x80,
    0x00, 0x7f, 0x6d, 0x68, 0x78, 0x00, 0x00, 0x00, 0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63,
    0x60, 0x60, 0x64, 0x60, 0x62, 0x00, 0x00, 0x00, 0x0e, 0x00, 0x04, 0xc6, 0x88, 0x7c, 0xf8, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
// 74 bytes
const std::uint8_t kRgb16[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x10, 0x02, 0x00, 0x00, 0x00, 0x2b,
    0xd0, 0x34, 0x9e, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x10,
    0x32, 0x69, 0x68, 0xf8, 0xff, 0x9f, 0x01, 0x0c, 0x00, 0x1b, 0x92, 0x03, 0x45, 0xda, 0x05,
    0xc2, 0x82, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
// 68 bytes
const std::uint8_t kHugeHeader[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x01, 0x86, 0xa0, 0x00, 0x01, 0x86, 0xa0, 0x08, 0x06, 0x00, 0x00, 0x00, 0xa8, 0x52, 0x0b, 0xc8, 0x00,
    0x00, 0x00, 0x0b, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60, 0x40, 0x05, 0x00, 0x00, 0x10, 0x00,
    0x01, 0x39, 0xbd, 0x8f, 0x65, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
}  // namespace fixtures

Bytes bytesOf(const std::uint8_t* data, size_t size) { return Bytes(data, data + size); }
template <size_t N>
Bytes bytesOf(const std::uint8_t (&data)[N]) {
  return Bytes(data, data + N);
}

// A picture with smooth colour ramps and, optionally, varying alpha.
Image sample(int width, int height, bool withAlpha) {
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto r = static_cast<std::uint8_t>(x * 255 / (width - 1));
      const auto g = static_cast<std::uint8_t>(y * 255 / (height - 1));
      const auto b = static_cast<std::uint8_t>((x + y) * 255 / (width + height - 2));
      const auto a = withAlpha ? static_cast<std::uint8_t>((x * 7 + y * 13) % 256) : std::uint8_t{255};
      image.setPixel(x, y, {r, g, b, a});
    }
  }
  return image;
}

void expectError(const foundation::Result<Image>& result, ImageError code) {
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().domain, kImageErrorDomain);
  EXPECT_EQ(result.error().code, static_cast<std::int64_t>(code)) << result.error().description();
}

TEST(ImagePngTest, RoundTripIsExactWithAndWithoutAlpha) {
  for (bool withAlpha : {true, false}) {
    const Image original = sample(37, 23, withAlpha);
    auto png = original.pngData();
    ASSERT_TRUE(png.ok());
    ASSERT_GT(png->size(), 33u);
    EXPECT_EQ((*png)[1], 'P');
    EXPECT_EQ((*png)[25], withAlpha ? 6 : 2);  // IHDR colour type: RGBA, or RGB when opaque
    auto decoded = Image::decode(*png);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(decoded->pixelWidth(), 37);
    EXPECT_EQ(decoded->pixelHeight(), 23);
    EXPECT_EQ(decoded->pixels(), original.pixels());
  }
}

TEST(ImagePngTest, DecodesEveryColourTypeToStraightRgba) {
  auto gray = Image::decode(bytesOf(fixtures::kGray8));
  ASSERT_TRUE(gray.ok()) << gray.error().description();
  EXPECT_EQ(gray->pixelWidth(), 3);
  EXPECT_EQ(gray->pixelHeight(), 2);
  EXPECT_EQ(gray->pixel(0, 0), (Image::Rgba{0, 0, 0, 255}));
  EXPECT_EQ(gray->pixel(1, 0), (Image::Rgba{128, 128, 128, 255}));
  EXPECT_EQ(gray->pixel(2, 1), (Image::Rgba{30, 30, 30, 255}));

  auto grayAlpha = Image::decode(bytesOf(fixtures::kGrayAlpha8));
  ASSERT_TRUE(grayAlpha.ok()) << grayAlpha.error().description();
  EXPECT_EQ(grayAlpha->pixel(0, 0), (Image::Rgba{200, 200, 200, 255}));
  EXPECT_EQ(grayAlpha->pixel(1, 0).a, 0);

  auto palette = Image::decode(bytesOf(fixtures::kPaletteWithTransparency));
  ASSERT_TRUE(palette.ok()) << palette.error().description();
  EXPECT_EQ(palette->pixel(0, 0), (Image::Rgba{255, 0, 0, 255}));
  EXPECT_EQ(palette->pixel(1, 0), (Image::Rgba{0, 255, 0, 128}));
  EXPECT_EQ(palette->pixel(0, 1).a, 0);
  EXPECT_EQ(palette->pixel(1, 1), (Image::Rgba{255, 0, 0, 255}));

  auto deep = Image::decode(bytesOf(fixtures::kRgb16));
  ASSERT_TRUE(deep.ok()) << deep.error().description();
  EXPECT_EQ(deep->pixel(0, 0), (Image::Rgba{0x12, 0x80, 0xFF, 255}));
  EXPECT_EQ(deep->pixel(1, 0), (Image::Rgba{0, 0, 0, 255}));
}

TEST(ImagePngTest, ReadsWhatCairoWrites) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 9);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, 0.2, 0.4, 0.9, 1.0);
  cairo_rectangle(cr, 0, 0, 8, 9);
  cairo_fill(cr);
  cairo_set_source_rgba(cr, 0.9, 0.1, 0.3, 0.5);
  cairo_rectangle(cr, 4, 2, 10, 5);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);

  Bytes written;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        auto* out = static_cast<Bytes*>(closure);
        out->insert(out->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &written);
  const Image fromSurface = Image::fromCairoArgb32(cairo_image_surface_get_data(surface), 16, 9,
                                                   cairo_image_surface_get_stride(surface));
  cairo_surface_destroy(surface);

  auto decoded = Image::decode(written);
  ASSERT_TRUE(decoded.ok()) << decoded.error().description();
  EXPECT_EQ(decoded->pixels(), fromSurface.pixels());
  EXPECT_EQ(decoded->pixel(0, 0), (Image::Rgba{51, 102, 230, 255}));
  EXPECT_EQ(decoded->pixel(15, 0).a, 0);
  EXPECT_EQ(decoded->pixel(12, 3).a, 128);
}

TEST(ImageJpegTest, RoundTripStaysWithinTolerance) {
  const Image original = sample(64, 48, false);
  auto jpeg = original.jpegData(1.0);
  ASSERT_TRUE(jpeg.ok());
  EXPECT_EQ((*jpeg)[0], 0xFF);
  EXPECT_EQ((*jpeg)[1], 0xD8);
  auto decoded = Image::decode(*jpeg);
  ASSERT_TRUE(decoded.ok()) << decoded.error().description();
  ASSERT_EQ(decoded->pixelWidth(), 64);
  ASSERT_EQ(decoded->pixelHeight(), 48);
  double total = 0;
  int worst = 0;
  for (size_t i = 0; i < original.pixels().size(); ++i) {
    const int diff = std::abs(int(original.pixels()[i]) - int(decoded->pixels()[i]));
    total += diff;
    worst = std::max(worst, diff);
  }
  EXPECT_LT(total / original.pixels().size(), 1.0);
  EXPECT_LE(worst, 6);
  EXPECT_TRUE(decoded->isOpaque());
}

// The quantisation tables of the first DQT segment.
std::vector<int> quantisationValues(const Bytes& jpeg) {
  for (size_t i = 2; i + 4 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) {
      const size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
      std::vector<int> values;
      for (size_t p = i + 4; p + 65 <= i + 2 + length; p += 65) {
        for (size_t k = 1; k <= 64; ++k) values.push_back(jpeg[p + k]);
      }
      return values;
    }
  }
  return {};
}

TEST(ImageJpegTest, QualityOneIsLibjpegQualityHundredAndLowerQualityIsSmaller) {
  const Image original = sample(64, 64, false);
  auto best = original.jpegData(1.0);
  auto low = original.jpegData(0.3);
  auto clamped = original.jpegData(7.0);
  ASSERT_TRUE(best.ok());
  ASSERT_TRUE(low.ok());
  ASSERT_TRUE(clamped.ok());
  const std::vector<int> table = quantisationValues(*best);
  ASSERT_FALSE(table.empty());
  for (int v : table) EXPECT_EQ(v, 1);
  EXPECT_LT(low->size(), best->size());
  EXPECT_EQ(*clamped, *best);
  EXPECT_TRUE(original.jpegData(0.0).ok());
  EXPECT_FALSE(original.jpegData(std::nan("")).ok());
}

TEST(ImageJpegTest, TransparentPixelsAreEncodedOverBlack) {
  Image image(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) image.setPixel(x, y, {200, 100, 50, 128});
  auto decoded = Image::decode(*image.jpegData(1.0));
  ASSERT_TRUE(decoded.ok());
  const Image::Rgba p = decoded->pixel(4, 4);
  EXPECT_NEAR(p.r, 100, 3);
  EXPECT_NEAR(p.g, 50, 3);
  EXPECT_NEAR(p.b, 25, 3);
  EXPECT_EQ(p.a, 255);
}

TEST(ImageTest, EmptyImagesHaveNoEncoding) {
  const Image empty;
  EXPECT_TRUE(empty.isEmpty());
  ASSERT_FALSE(empty.pngData().ok());
  EXPECT_EQ(empty.pngData().error().code, static_cast<std::int64_t>(ImageError::kInvalidImage));
  EXPECT_FALSE(empty.jpegData(1.0).ok());
  EXPECT_TRUE(Image(0, 5).isEmpty());
  EXPECT_TRUE(Image(-3, 5).isEmpty());
  EXPECT_TRUE(Image(Image::kMaxDimension + 1, 1).isEmpty());
}

class BrokenImageTest : public ::testing::Test {
 protected:
  Bytes jpeg = *sample(40, 30, false).jpegData(0.8);
  Bytes png = *sample(40, 30, true).pngData();
};

TEST_F(BrokenImageTest, NothingOrTextIsNotAnImage) {
  expectError(Image::decode(Bytes{}), ImageError::kUnknownFormat);
  expectError(Image::decode(nullptr, 0), ImageError::kUnknownFormat);
  const std::string text = "Breast Feeding\nSleep\n";
  expectError(Image::decode(bytesOf(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())),
              ImageError::kUnknownFormat);
  expectError(Image::decode(Bytes{0xFF, 0xD8}), ImageError::kUnknownFormat);
}

TEST_F(BrokenImageTest, TruncatedJpegIsAnErrorAtEveryLength) {
  for (size_t keep : {size_t{3}, size_t{4}, size_t{20}, jpeg.size() / 3, jpeg.size() / 2, jpeg.size() - 2}) {
    SCOPED_TRACE(keep);
    expectError(Image::decode(bytesOf(jpeg.data(), keep)), ImageError::kCorrupt);
  }
}

TEST_F(BrokenImageTest, JpegWithABrokenFrameHeaderIsAnError) {
  Bytes broken = jpeg;
  bool patched = false;
  for (size_t i = 2; i + 9 < broken.size(); ++i) {
    if (broken[i] == 0xFF && broken[i + 1] == 0xC0) {
      broken[i + 9] = 0;  // no components
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  expectError(Image::decode(broken), ImageError::kCorrupt);
}

TEST_F(BrokenImageTest, JpegClaimingHugeDimensionsIsRefusedBeforeDecoding) {
  Bytes huge = jpeg;
  for (size_t i = 2; i + 9 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = 0xFD;  // height 65000
      huge[i + 6] = 0xE8;
      huge[i + 7] = 0xFD;  // width 65000
      huge[i + 8] = 0xE8;
      break;
    }
  }
  expectError(Image::decode(huge), ImageError::kTooLarge);
}

TEST_F(BrokenImageTest, TruncatedOrDamagedPngIsAnError) {
  for (size_t keep : {size_t{8}, size_t{20}, size_t{40}, png.size() / 2, png.size() - 16}) {
    SCOPED_TRACE(keep);
    expectError(Image::decode(bytesOf(png.data(), keep)), ImageError::kCorrupt);
  }
  Bytes damaged = png;
  damaged[damaged.size() / 2] ^= 0x55;  // inside the image data: its checksum no longer matches
  expectError(Image::decode(damaged), ImageError::kCorrupt);
}

TEST_F(BrokenImageTest, PngClaimingHugeDimensionsIsRefusedBeforeDecoding) {
  expectError(Image::decode(bytesOf(fixtures::kHugeHeader)), ImageError::kTooLarge);
}

TEST(ImageScaleTest, ScaleComesFromTheFileNameAndSetsThePointSize) {
  EXPECT_EQ(Image::scaleFromFileName("icons/iPhone_badge.png"), 1.0);
  EXPECT_EQ(Image::scaleFromFileName("iPhone_nav_bar@2x.png"), 2.0);
  EXPECT_EQ(Image::scaleFromFileName("iPhone_nav_bar@3x.png"), 3.0);
  EXPECT_EQ(Image::scaleFromFileName("icon@2x~ipad.png"), 2.0);
  EXPECT_EQ(Image::scaleFromFileName("icon@2x.backup.png"), 1.0);
  EXPECT_EQ(Image::scaleFromFileName("@2x"), 2.0);

  Image image(200, 100, 2.0);
  EXPECT_EQ(image.pointWidth(), 100.0);
  EXPECT_EQ(image.pointHeight(), 50.0);
  image.setScale(0.0);  // not a scale: back to 1
  EXPECT_EQ(image.scale(), 1.0);
  auto decoded = Image::decode(*Image(30, 60).pngData(), 3.0);
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded->pointWidth(), 10.0);
  EXPECT_EQ(decoded->pointHeight(), 20.0);
}

TEST(ImageFileTest, ReadsFilesWithTheirScaleAndReportsUnreadableOnes) {
  testing_support::TempDir dir;
  const Image original = sample(12, 8, true);
  {
    const Bytes png = *original.pngData();
    std::ofstream(dir / "photo@2x.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), png.size());
    const Bytes jpeg = *original.jpegData(1.0);
    std::ofstream(dir / "photo.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
    std::ofstream(dir / "notes.png") << "not an image";
  }
  auto png = Image::fromFile(dir / "photo@2x.png");
  ASSERT_TRUE(png.ok()) << png.error().description();
  EXPECT_EQ(png->scale(), 2.0);
  EXPECT_EQ(png->pointWidth(), 6.0);
  EXPECT_EQ(png->pixels(), original.pixels());

  auto jpeg = Image::fromFile(dir / "photo.jpg");
  ASSERT_TRUE(jpeg.ok()) << jpeg.error().description();
  EXPECT_EQ(jpeg->scale(), 1.0);
  EXPECT_EQ(jpeg->pixelWidth(), 12);

  auto missing = Image::fromFile(dir / "missing.jpg");
  expectError(missing, ImageError::kUnreadableFile);
  EXPECT_EQ(missing.error().userInfo[foundation::Error::kFilePathKey],
            foundation::Value((dir / "missing.jpg").string()));
  expectError(Image::fromFile(dir.path()), ImageError::kUnreadableFile);
  auto text = Image::fromFile(dir / "notes.png");
  expectError(text, ImageError::kUnknownFormat);
  EXPECT_TRUE(text.error().userInfo.contains(foundation::Error::kFilePathKey));
}

TEST(ImageCairoTest, ConvertsToAndFromPremultipliedArgb32) {
  Image image(3, 1);
  image.setPixel(0, 0, {255, 128, 0, 255});
  image.setPixel(1, 0, {200, 100, 50, 128});
  image.setPixel(2, 0, {90, 90, 90, 0});
  const std::vector<std::uint32_t> argb = image.toCairoArgb32();
  ASSERT_EQ(argb.size(), 3u);
  EXPECT_EQ(argb[0], 0xFFFF8000u);
  EXPECT_EQ(argb[1], 0x80643219u);  // 200, 100, 50 at alpha 128/255
  EXPECT_EQ(argb[2], 0x00000000u);

  const Image back =
      Image::fromCairoArgb32(reinterpret_cast<const std::uint8_t*>(argb.data()), 3, 1, 12, 2.0);
  EXPECT_EQ(back.scale(), 2.0);
  EXPECT_EQ(back.pixel(0, 0), (Image::Rgba{255, 128, 0, 255}));
  const Image::Rgba half = back.pixel(1, 0);
  EXPECT_NEAR(half.r, 200, 1);
  EXPECT_NEAR(half.g, 100, 1);
  EXPECT_NEAR(half.b, 50, 1);
  EXPECT_EQ(half.a, 128);
  EXPECT_EQ(back.pixel(2, 0), (Image::Rgba{0, 0, 0, 0}));
  EXPECT_TRUE(Image::fromCairoArgb32(nullptr, 3, 1, 12).isEmpty());
  EXPECT_TRUE(Image::fromCairoArgb32(reinterpret_cast<const std::uint8_t*>(argb.data()), 3, 1, 8).isEmpty());
}

TEST(ImageTest, PixelAccessOutsideTheImageIsHarmless) {
  Image image(2, 2);
  image.setPixel(5, 5, {1, 2, 3, 4});
  image.setPixel(-1, 0, {1, 2, 3, 4});
  EXPECT_EQ(image.pixel(5, 5), Image::Rgba{});
  EXPECT_EQ(image.pixel(0, -1), Image::Rgba{});
  EXPECT_FALSE(image.isOpaque());
  EXPECT_EQ(image.stride(), 8u);
}

}  // namespace
}  // namespace graphics
