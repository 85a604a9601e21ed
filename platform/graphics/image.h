#pragma once
// A bitmap image with its scale, read from and written to JPEG and PNG.
//
// Pixels are RGBA, 8 bits a channel, with straight (not premultiplied) alpha, rows top to bottom
// and no padding (stride = pixel width × 4). Straight alpha is what PNG stores, so a PNG round trip
// is exact; the drawing layer converts to and from cairo's premultiplied ARGB32 with toCairoArgb32()
// and fromCairoArgb32().
//
// The scale maps pixels to points: an image of 200 × 100 pixels at scale 2 is 100 × 50 points. A file
// named with "@2x" or "@3x" before its extension has that scale; every other image has scale 1.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace graphics {

inline constexpr std::string_view kImageErrorDomain = "ImageErrorDomain";

enum class ImageError : std::int64_t {
  kUnreadableFile = 1,  // the file could not be read
  kUnknownFormat = 2,   // neither JPEG nor PNG (or no bytes at all)
  kCorrupt = 3,         // a JPEG or PNG that does not decode: truncated, damaged or invalid
  kTooLarge = 4,        // dimensions beyond what we decode or encode
  kInvalidImage = 5,    // encoding an empty image
  kEncodeFailed = 6,
};

enum class ImageFormat { kJpeg, kPng };

class Image {
 public:
  // Largest width or height we handle, and the most pixels; a file claiming more is refused
  // before anything is allocated.
  static constexpr int kMaxDimension = 65535;
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

  // An empty image: no pixels.
  Image() = default;
  // Transparent black pixels. Sizes that are not positive, or too large, give an empty image.
  Image(int pixelWidth, int pixelHeight, double scale = 1.0);

  // Decodes JPEG or PNG bytes, told apart by their signature.
  static foundation::Result<Image> decode(const foundation::Bytes& data, double scale = 1.0);
  static foundation::Result<Image> decode(const std::uint8_t* data, size_t size, double scale = 1.0);
  // Reads and decodes a file; its scale comes from its name.
  static foundation::Result<Image> fromFile(const std::filesystem::path& path);
  // 2 or 3 when the file name's stem ends in "@2x" or "@3x" (before any "~ipad"-style suffix), else 1.
  static double scaleFromFileName(const std::filesystem::path& path);
  // The format the bytes announce by their signature, if JPEG or PNG.
  static std::optional<ImageFormat> sniffFormat(const std::uint8_t* data, size_t size);

  // JPEG at a quality from 0 (smallest) to 1 (best; libjpeg quality 100), 4:4:4 chroma from 0.9 up.
  // JPEG has no alpha: colours are composited over black, as premultiplied pixels would show.
  foundation::Result<foundation::Bytes> jpegData(double quality) const;
  // PNG, 8 bits a channel: RGB when every pixel is opaque, RGBA otherwise. Lossless.
  foundation::Result<foundation::Bytes> pngData() const;

  bool isEmpty() const { return width_ == 0 || height_ == 0; }
  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  double scale() const { return scale_; }
  void setScale(double scale);
  // Size in points: pixels divided by the scale.
  double pointWidth() const { return width_ / scale_; }
  double pointHeight() const { return height_ / scale_; }

  // The RGBA bytes (see the top of this file).
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }
  std::vector<std::uint8_t>& pixels() { return pixels_; }
  size_t stride() const { return static_cast<size_t>(width_) * 4; }
  // Whether both hold the same picture: the same size in pixels and the same pixels, whatever their
  // scales. Two absent images are the same too.
  static bool samePicture(const std::optional<Image>& a, const std::optional<Image>& b) {
    if (!a || !b) return !a && !b;
    return a->width_ == b->width_ && a->height_ == b->height_ && a->pixels_ == b->pixels_;
  }

  struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
  };
  // Out-of-range coordinates read as transparent black and are ignored when written.
  Rgba pixel(int x, int y) const;
  void setPixel(int x, int y, Rgba colour);
  // True when every pixel has alpha 255.
  bool isOpaque() const;

  // Cairo's CAIRO_FORMAT_ARGB32: one native-endian 32-bit word a pixel, 0xAARRGGBB, colours
  // premultiplied by alpha, rows of width words (which is cairo's stride for this format).
  std::vector<std::uint32_t> toCairoArgb32() const;
  // From a cairo ARGB32 surface's data; `strideBytes` is the surface's stride.
  static Image fromCairoArgb32(const std::uint8_t* data, int pixelWidth, int pixelHeight, int strideBytes,
                               double scale = 1.0);

 private:
  int width_ = 0;
  int height_ = 0;
  double scale_ = 1.0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace graphics
