#include "platform/graphics/image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace graphics {
namespace {

using foundation::Bytes;

// PNG files written by a small independent writer (Python's zlib and struct), byte for byte.
namespace fixtures {
const Bytes kGray8 = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x08, 0x00, 0x00, 0x00, 0x00, 0xb8,
    0x1f, 0x39, 0xc6, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60,
    0x68, 0xf8, 0xcf, 0xc0, 0x25, 0x22, 0x07, 0x00, 0x08, 0x67, 0x01, 0xbc, 0x9c, 0x67, 0x35,
    0xa0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
const Bytes kGrayAlpha8 = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x04, 0x00, 0x00,
    0x00, 0x5e, 0x2b, 0xb7, 0x01, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0x38, 0xf1, 0xdf, 0x88, 0x01, 0x00, 0x06, 0x86, 0x01, 0xfa, 0xd3, 0x72,
    0xca, 0x8f, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
const Bytes kPaletteWithTransparency = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x03, 0x00, 0x00, 0x00, 0x45, 0x68, 0xfd,
    0x16, 0x00, 0x00, 0x00, 0x09, 0x50, 0x4c, 0x54, 0x45, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00,
    0x00, 0xff, 0x2d, 0x4a, 0xcd, 0x8a, 0x00, 0x00, 0x00, 0x03, 0x74, 0x52, 0x4e, 0x53, 0xff, 0x80,
    0x00, 0x7f, 0x6d, 0x68, 0x78, 0x00, 0x00, 0x00, 0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63,
    0x60, 0x60, 0x64, 0x60, 0x62, 0x00, 0x00, 0x00, 0x0e, 0x00, 0x04, 0xc6, 0x88, 0x7c, 0xf8, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
const Bytes kRgb16 = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x10, 0x02, 0x00, 0x00, 0x00, 0x2b,
    0xd0, 0x34, 0x9e, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x10,
    0x32, 0x69, 0x68, 0xf8, 0xff, 0x9f, 0x01, 0x0c, 0x00, 0x1b, 0x92, 0x03, 0x45, 0xda, 0x05,
    0xc2, 0x82, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
// 100000 × 100000 RGBA.
const Bytes kHugeHeader = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x01, 0x86, 0xa0, 0x00, 0x01, 0x86, 0xa0, 0x08, 0x06, 0x00, 0x00, 0x00, 0xa8, 0x52, 0x0b, 0xc8, 0x00,
    0x00, 0x00, 0x0b, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x60, 0x40, 0x05, 0x00, 0x00, 0x10, 0x00,
    0x01, 0x39, 0xbd, 0x8f, 0x65, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
};
}  // namespace fixtures

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
    const Bytes png = original.pngData().value();
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(Image::sniffFormat(png.data(), png.size()), ImageFormat::kPng);
    EXPECT_EQ(png[25], withAlpha ? 6 : 2);  // IHDR colour type: RGBA, or RGB when opaque
    auto decoded = Image::decode(png);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(decoded->pixelWidth(), 37);
    EXPECT_EQ(decoded->pixelHeight(), 23);
    EXPECT_EQ(decoded->pixels(), original.pixels());
  }
}

TEST(ImagePngTest, DecodesEveryColourTypeToStraightRgba) {
  struct Case {
    const char* what;
    const Bytes& png;
    int x, y;
    Image::Rgba expected;
  };
  const Case cases[] = {
      {"grey", fixtures::kGray8, 0, 0, {0, 0, 0, 255}},
      {"grey", fixtures::kGray8, 1, 0, {128, 128, 128, 255}},
      {"grey", fixtures::kGray8, 2, 1, {30, 30, 30, 255}},
      {"grey and alpha", fixtures::kGrayAlpha8, 0, 0, {200, 200, 200, 255}},
      {"palette", fixtures::kPaletteWithTransparency, 0, 0, {255, 0, 0, 255}},
      {"palette", fixtures::kPaletteWithTransparency, 1, 0, {0, 255, 0, 128}},
      {"palette", fixtures::kPaletteWithTransparency, 1, 1, {255, 0, 0, 255}},
      {"16 bits", fixtures::kRgb16, 0, 0, {0x12, 0x80, 0xFF, 255}},
      {"16 bits", fixtures::kRgb16, 1, 0, {0, 0, 0, 255}},
  };
  for (const Case& c : cases) {
    auto image = Image::decode(c.png);
    ASSERT_TRUE(image.ok()) << c.what;
    EXPECT_EQ(image->pixel(c.x, c.y), c.expected) << c.what << " at " << c.x << ", " << c.y;
  }
  // Fully transparent pixels, whatever colour they name.
  EXPECT_EQ(Image::decode(fixtures::kGrayAlpha8)->pixel(1, 0).a, 0);
  EXPECT_EQ(Image::decode(fixtures::kPaletteWithTransparency)->pixel(0, 1).a, 0);
  EXPECT_EQ(Image::decode(fixtures::kGray8)->pixelWidth(), 3);
  EXPECT_EQ(Image::decode(fixtures::kGray8)->pixelHeight(), 2);
}

TEST(ImageJpegTest, RoundTripStaysWithinToleranceAndTransparencyGoesOverBlack) {
  const Image original = sample(64, 48, false);
  const Bytes jpeg = original.jpegData(1.0).value();
  EXPECT_EQ(Image::sniffFormat(jpeg.data(), jpeg.size()), ImageFormat::kJpeg);
  auto decoded = Image::decode(jpeg);
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

  // Transparent pixels are encoded over black.
  Image image(8, 8);
  for (int i = 0; i < 64; ++i) image.setPixel(i % 8, i / 8, {200, 100, 50, 128});
  const Image::Rgba p = Image::decode(image.jpegData(1.0).value()).value().pixel(4, 4);
  EXPECT_NEAR(p.r, 100, 3);
  EXPECT_NEAR(p.g, 50, 3);
  EXPECT_NEAR(p.b, 25, 3);
  EXPECT_EQ(p.a, 255);
}

// The quantisation tables of the first DQT segment.
std::vector<int> quantisationValues(const Bytes& jpeg) {
  for (size_t i = 2; i + 4 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xDB) continue;
    const size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
    std::vector<int> values;
    for (size_t p = i + 4; p + 65 <= i + 2 + length; p += 65)
      values.insert(values.end(), &jpeg[p + 1], &jpeg[p + 65]);
    return values;
  }
  return {};
}

TEST(ImageJpegTest, QualityOneIsLibjpegQualityHundredAndLowerQualityIsSmaller) {
  const Image original = sample(64, 64, false);
  const Bytes best = original.jpegData(1.0).value();
  const std::vector<int> table = quantisationValues(best);
  ASSERT_FALSE(table.empty());
  for (int v : table) EXPECT_EQ(v, 1);
  EXPECT_LT(original.jpegData(0.3).value().size(), best.size());
  EXPECT_EQ(original.jpegData(7.0).value(), best) << "quality is clamped";
  EXPECT_TRUE(original.jpegData(0.0).ok());
  EXPECT_FALSE(original.jpegData(std::nan("")).ok());
}

TEST(ImageTest, EmptyImagesHaveNoEncodingAndOutOfRangePixelsAreHarmless) {
  const Image empty;
  EXPECT_TRUE(empty.isEmpty());
  ASSERT_FALSE(empty.pngData().ok());
  EXPECT_EQ(empty.pngData().error().code, static_cast<std::int64_t>(ImageError::kInvalidImage));
  EXPECT_FALSE(empty.jpegData(1.0).ok());
  EXPECT_TRUE(Image(0, 5).isEmpty());
  EXPECT_TRUE(Image(-3, 5).isEmpty());
  EXPECT_TRUE(Image(Image::kMaxDimension + 1, 1).isEmpty());

  Image image(2, 2);
  image.setPixel(5, 5, {1, 2, 3, 4});
  image.setPixel(-1, 0, {1, 2, 3, 4});
  EXPECT_EQ(image.pixel(5, 5), Image::Rgba{});
  EXPECT_EQ(image.pixel(0, -1), Image::Rgba{});
  EXPECT_FALSE(image.isOpaque());
  EXPECT_EQ(image.stride(), 8u);
}

// Patches the JPEG's baseline frame header (SOF0), which starts at the returned offset.
Bytes patchFrameHeader(Bytes jpeg, const std::function<void(Bytes&, size_t)>& patch) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      patch(jpeg, i);
      return jpeg;
    }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// Broken input of every kind is refused with its error, never decoded halfway or crashed on.
TEST(BrokenImageTest, EveryDamagedInputIsRefused) {
  const Bytes jpeg = sample(40, 30, false).jpegData(0.8).value();
  const Bytes png = sample(40, 30, true).pngData().value();
  const std::string text = "Breast Feeding\nSleep\n";
  const auto prefix = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); };
  struct Case {
    std::string name;
    Bytes bytes;
    ImageError error;
  };
  std::vector<Case> cases = {
      {"empty", {}, ImageError::kUnknownFormat},
      {"text", Bytes(text.begin(), text.end()), ImageError::kUnknownFormat},
      {"a bare JPEG signature", {0xFF, 0xD8}, ImageError::kUnknownFormat},
      {"JPEG frame without components", patchFrameHeader(jpeg, [](Bytes& b, size_t i) { b[i + 9] = 0; }),
       ImageError::kCorrupt},
      {"JPEG claiming 65000 × 65000",
       patchFrameHeader(jpeg,
                        [](Bytes& b, size_t i) {
                          b[i + 5] = b[i + 7] = 0xFD;
                          b[i + 6] = b[i + 8] = 0xE8;
                        }),
       ImageError::kTooLarge},
      {"PNG claiming 100000 × 100000", fixtures::kHugeHeader, ImageError::kTooLarge},
  };
  for (size_t keep : {size_t{3}, size_t{4}, size_t{20}, jpeg.size() / 3, jpeg.size() / 2, jpeg.size() - 2})
    cases.push_back({"JPEG cut to " + std::to_string(keep), prefix(jpeg, keep), ImageError::kCorrupt});
  for (size_t keep : {size_t{8}, size_t{20}, size_t{40}, png.size() / 2, png.size() - 16})
    cases.push_back({"PNG cut to " + std::to_string(keep), prefix(png, keep), ImageError::kCorrupt});
  Bytes damaged = png;
  damaged[damaged.size() / 2] ^= 0x55;  // inside the image data: its checksum no longer matches
  cases.push_back({"PNG with a damaged data chunk", damaged, ImageError::kCorrupt});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectError(Image::decode(c.bytes), c.error);
  }
  expectError(Image::decode(nullptr, 0), ImageError::kUnknownFormat);
  EXPECT_FALSE(Image::sniffFormat(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(ImageScaleTest, ScaleComesFromTheFileNameAndSetsThePointSize) {
  for (const auto& [name, scale] : {std::pair{"icons/iPhone_badge.png", 1.0}, {"iPhone_nav_bar@2x.png", 2.0},
                                     {"iPhone_nav_bar@3x.png", 3.0}, {"icon@2x~ipad.png", 2.0},
                                     {"icon@2x.backup.png", 1.0}, {"@2x", 2.0}})
    EXPECT_EQ(Image::scaleFromFileName(name), scale) << name;

  Image image(200, 100, 2.0);
  EXPECT_EQ(image.pointWidth(), 100.0);
  EXPECT_EQ(image.pointHeight(), 50.0);
  image.setScale(0.0);  // not a scale: back to 1
  EXPECT_EQ(image.scale(), 1.0);
  const Image decoded = Image::decode(Image(30, 60).pngData().value(), 3.0).value();
  EXPECT_EQ(decoded.pointWidth(), 10.0);
  EXPECT_EQ(decoded.pointHeight(), 20.0);
}

TEST(ImageFileTest, ReadsFilesWithTheirScaleAndReportsUnreadableOnes) {
  testing_support::TempDir dir;
  const Image original = sample(12, 8, true);
  const auto write = [&](const char* name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  write("photo@2x.png", original.pngData().value());
  write("photo.jpg", original.jpegData(1.0).value());
  std::ofstream(dir / "notes.png") << "not an image";

  const Image png = Image::fromFile(dir / "photo@2x.png").value();
  EXPECT_EQ(png.scale(), 2.0);
  EXPECT_EQ(png.pointWidth(), 6.0);
  EXPECT_EQ(png.pixels(), original.pixels());
  const Image jpeg = Image::fromFile(dir / "photo.jpg").value();
  EXPECT_EQ(jpeg.scale(), 1.0);
  EXPECT_EQ(jpeg.pixelWidth(), 12);

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
  EXPECT_EQ(argb, (std::vector<std::uint32_t>{0xFFFF8000u, 0x80643219u, 0}));  // premultiplied

  const auto* data = reinterpret_cast<const std::uint8_t*>(argb.data());
  const Image back = Image::fromCairoArgb32(data, 3, 1, 12, 2.0);
  EXPECT_EQ(back.scale(), 2.0);
  EXPECT_EQ(back.pixel(0, 0), (Image::Rgba{255, 128, 0, 255}));
  const Image::Rgba half = back.pixel(1, 0);
  EXPECT_NEAR(half.r, 200, 1);
  EXPECT_NEAR(half.g, 100, 1);
  EXPECT_NEAR(half.b, 50, 1);
  EXPECT_EQ(half.a, 128);
  EXPECT_EQ(back.pixel(2, 0), (Image::Rgba{0, 0, 0, 0}));
  EXPECT_TRUE(Image::fromCairoArgb32(nullptr, 3, 1, 12).isEmpty());
  EXPECT_TRUE(Image::fromCairoArgb32(data, 3, 1, 8).isEmpty()) << "a stride shorter than a row";
}

}  // namespace
}  // namespace graphics
