#include "platform/graphics/image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/graphics/image_codec.h"

namespace graphics {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

double validScale(double scale) { return std::isfinite(scale) && scale > 0 ? scale : 1.0; }

}  // namespace

Image::Image(int pixelWidth, int pixelHeight, double scale) : scale_(validScale(scale)) {
  if (pixelWidth <= 0 || pixelHeight <= 0 || pixelWidth > kMaxDimension || pixelHeight > kMaxDimension ||
      std::int64_t{pixelWidth} * pixelHeight > kMaxPixels) {
    return;
  }
  pixels_.assign(static_cast<size_t>(pixelWidth) * pixelHeight * 4, 0);
  width_ = pixelWidth;
  height_ = pixelHeight;
}

void Image::setScale(double scale) { scale_ = validScale(scale); }

std::optional<ImageFormat> Image::sniffFormat(const std::uint8_t* data, size_t size) {
  if (data && size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0) {
    return ImageFormat::kPng;
  }
  if (data && size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ImageFormat::kJpeg;
  return std::nullopt;
}

foundation::Result<Image> Image::decode(const foundation::Bytes& data, double scale) {
  return decode(data.data(), data.size(), scale);
}

foundation::Result<Image> Image::decode(const std::uint8_t* data, size_t size, double scale) {
  scale = validScale(scale);
  if (!data || size == 0) return codec::imageError(ImageError::kUnknownFormat, "The image data is empty");
  const std::optional<ImageFormat> format = sniffFormat(data, size);
  if (format == ImageFormat::kJpeg) return codec::decodeJpeg(data, size, scale);
  if (format == ImageFormat::kPng) return codec::decodePng(data, size, scale);
  return codec::imageError(ImageError::kUnknownFormat, "The data is neither a JPEG nor a PNG image");
}

foundation::Result<Image> Image::fromFile(const std::filesystem::path& path) {
  auto unreadable = [&path](const std::string& why) {
    foundation::Error error = codec::imageError(ImageError::kUnreadableFile, why);
    error.userInfo.set(std::string(foundation::Error::kFilePathKey), path.string());
    return error;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return unreadable("The image file is a folder: " + path.string());
  std::ifstream in(path, std::ios::binary);
  if (!in) return unreadable("The image file could not be opened: " + path.string());
  foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return unreadable("The image file could not be read: " + path.string());
  auto image = decode(bytes, scaleFromFileName(path));
  if (!image.ok()) {
    foundation::Error error = image.error();
    error.userInfo.set(std::string(foundation::Error::kFilePathKey), path.string());
    return error;
  }
  return image;
}

double Image::scaleFromFileName(const std::filesystem::path& path) {
  std::string stem = path.stem().string();
  // Device suffixes such as "~ipad" follow the scale: "icon@2x~ipad.png".
  if (const auto tilde = stem.find('~'); tilde != std::string::npos) stem.erase(tilde);
  auto endsWith = [&stem](std::string_view suffix) {
    return stem.size() >= suffix.size() &&
           stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (endsWith("@2x")) return 2.0;
  if (endsWith("@3x")) return 3.0;
  return 1.0;
}

foundation::Result<foundation::Bytes> Image::jpegData(double quality) const {
  return codec::encodeJpeg(*this, quality);
}

foundation::Result<foundation::Bytes> Image::pngData() const { return codec::encodePng(*this); }

Image::Rgba Image::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  const std::uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

void Image::setPixel(int x, int y, Rgba colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 4];
  p[0] = colour.r;
  p[1] = colour.g;
  p[2] = colour.b;
  p[3] = colour.a;
}

bool Image::isOpaque() const {
  for (size_t i = 3; i < pixels_.size(); i += 4) {
    if (pixels_[i] != 255) return false;
  }
  return true;
}

std::vector<std::uint32_t> Image::toCairoArgb32() const {
  std::vector<std::uint32_t> out(static_cast<size_t>(width_) * height_);
  for (size_t i = 0; i < out.size(); ++i) {
    const std::uint8_t* p = &pixels_[i * 4];
    const std::uint32_t a = p[3];
    // Pictures are mostly clear or solid: those words need no arithmetic (and `out` is zeroed).
    if (a == 0) continue;
    if (a == 255) {
      out[i] = 0xFF000000u | (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
      continue;
    }
    auto premultiply = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    out[i] = (a << 24) | (premultiply(p[0]) << 16) | (premultiply(p[1]) << 8) | premultiply(p[2]);
  }
  return out;
}

Image Image::fromCairoArgb32(const std::uint8_t* data, int pixelWidth, int pixelHeight, int strideBytes,
                             double scale) {
  Image image(pixelWidth, pixelHeight, scale);
  if (image.isEmpty() || !data || strideBytes < pixelWidth * 4) return Image();
  for (int y = 0; y < pixelHeight; ++y) {
    const std::uint8_t* row = data + static_cast<size_t>(y) * strideBytes;
    for (int x = 0; x < pixelWidth; ++x) {
      std::uint32_t word;
      std::memcpy(&word, row + static_cast<size_t>(x) * 4, 4);
      const std::uint32_t a = word >> 24;
      auto unpremultiply = [a](std::uint32_t c) -> std::uint8_t {
        if (a == 0) return 0;
        if (a == 255) return static_cast<std::uint8_t>(c);
        return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
      };
      image.setPixel(x, y,
                     {unpremultiply((word >> 16) & 0xFF), unpremultiply((word >> 8) & 0xFF),
                      unpremultiply(word & 0xFF), static_cast<std::uint8_t>(a)});
    }
  }
  return image;
}

}  // namespace graphics
