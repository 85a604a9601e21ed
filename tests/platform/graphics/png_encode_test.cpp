// The PNG writer as its callers meet it: pictures of screens (flat colour, text-like detail, rows that
// repeat) and odd sizes come back exactly, and the file is a well-formed PNG, every chunk's checksum
// checked here apart from libpng, that says its colours are sRGB.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/graphics/image.h"

namespace graphics {
namespace {

using foundation::Bytes;

// A phone screen as the console draws it: a coloured bar, white rows with grey separators, text-like
// strokes in a few inks, and a round icon a row; `translucent` makes the bar let the back show.
Image screenLike(int width, int height, bool translucent) {
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Image::Rgba p{255, 255, 255, 255};
      if (y < height / 10) {
        p = {143, 130, 245, static_cast<std::uint8_t>(translucent ? 128 + x % 100 : 255)};
      } else if (y % 120 == 119) {
        p = {200, 199, 204, 255};
      } else if (y % 120 > 20 && y % 120 < 44 && x > 116 && x < 116 + 9 * (width / 20)) {
        // Glyph-like strokes: a few shapes that recur along the line, edges in between inks.
        const unsigned v = (static_cast<unsigned>(x % 37) * 7 + static_cast<unsigned>(y % 120) * 3 +
                            static_cast<unsigned>(x / 37 % 5) * 11) % 23;
        if (v < 12) p = {static_cast<std::uint8_t>(143 + v), 130, static_cast<std::uint8_t>(245 - v * 9), 255};
      } else {
        // The row's icon: a disc of one colour with a soft rim.
        const int dx = x - 58, dy = y % 120 - 60;
        const int d2 = dx * dx + dy * dy;
        if (d2 < 36 * 36) p = {143, 130, 245, 255};
        else if (d2 < 38 * 38) p = {static_cast<std::uint8_t>(143 + (d2 - 1296) / 3), 190, 250, 255};
      }
      image.setPixel(x, y, p);
    }
  }
  return image;
}

std::uint32_t bigEndian(const Bytes& b, size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// CRC-32 as the PNG format defines it, written out here rather than taken from zlib.
std::uint32_t crc32(const std::uint8_t* data, size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

// The file's chunks in order; a failure names what is wrong with its layout.
std::vector<Chunk> chunksOf(const Bytes& png) {
  static constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<Chunk> chunks;
  EXPECT_GE(png.size(), kSignature.size());
  if (png.size() < kSignature.size() || std::memcmp(png.data(), kSignature.data(), kSignature.size()) != 0) {
    ADD_FAILURE() << "no PNG signature";
    return chunks;
  }
  size_t at = kSignature.size();
  while (at + 12 <= png.size()) {
    const std::uint32_t length = bigEndian(png, at);
    if (length > png.size() - at - 12) {
      ADD_FAILURE() << "a chunk runs past the end at " << at;
      return chunks;
    }
    Chunk chunk{std::string(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8)),
                std::vector<std::uint8_t>(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                          png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length))};
    EXPECT_EQ(crc32(png.data() + at + 4, length + 4), bigEndian(png, at + 8 + length)) << chunk.type << " at " << at;
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "bytes after the last chunk";
  return chunks;
}

TEST(PngEncodeTest, ScreensAndOddSizesComeBackExactlyAsWellFormedSrgbFiles) {
  struct Case {
    const char* what;
    Image image;
  };
  const Case cases[] = {
      {"phone screen", screenLike(640, 1136, false)},
      {"phone screen with a translucent bar", screenLike(640, 1136, true)},
      {"one pixel", screenLike(1, 1, false)},
      {"one column", screenLike(1, 301, true)},
      {"one row", screenLike(517, 1, false)},
      {"odd width", screenLike(333, 97, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Image& image = c.image;
    const auto png = image.pngData();
    ASSERT_TRUE(png.ok()) << png.error().description();

    const std::vector<Chunk> chunks = chunksOf(*png);
    ASSERT_GE(chunks.size(), 3u);
    ASSERT_EQ(chunks.front().type, "IHDR");
    ASSERT_EQ(chunks.front().data.size(), 13u);
    const Bytes header(chunks.front().data.begin(), chunks.front().data.end());
    EXPECT_EQ(bigEndian(header, 0), static_cast<std::uint32_t>(image.pixelWidth()));
    EXPECT_EQ(bigEndian(header, 4), static_cast<std::uint32_t>(image.pixelHeight()));
    EXPECT_EQ(header[8], 8);                         // bits a sample
    EXPECT_EQ(header[9], image.isOpaque() ? 2 : 6);  // RGB when opaque, else RGBA
    EXPECT_EQ(header[12], 0);                        // not interlaced
    EXPECT_EQ(chunks.back().type, "IEND");
    bool srgb = false, data = false;
    for (const Chunk& chunk : chunks) {
      if (chunk.type == "sRGB") srgb = !data;  // before the image data, as the format asks
      if (chunk.type == "IDAT") data = true;
    }
    EXPECT_TRUE(srgb);
    EXPECT_TRUE(data);

    auto ours = Image::decode(*png);
    ASSERT_TRUE(ours.ok()) << ours.error().description();
    EXPECT_EQ(ours->pixels(), image.pixels());
  }
}

TEST(PngEncodeTest, AScreenOfFlatColourAndTextIsStoredSmall) {
  // Left uncompressed, or compressed at level 0, the screen would take its raw 2.2 MB; the step
  // pictures of a walk through the diary are kept, one a step.
  const Image screen = screenLike(640, 1136, false);
  const auto png = screen.pngData();
  ASSERT_TRUE(png.ok());
  EXPECT_LT(png->size(), static_cast<size_t>(640 * 1136 * 3 / 20));
}

}  // namespace
}  // namespace graphics
