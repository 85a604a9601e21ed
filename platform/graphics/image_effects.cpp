#include "platform/graphics/image_effects.h"

#include <algorithm>
#include <cmath>

namespace graphics {
namespace {

foundation::Error effectsError(ImageEffectsError code, std::string description) {
  return foundation::Error::make(std::string(kImageEffectsErrorDomain), static_cast<std::int64_t>(code),
                                 std::move(description));
}

std::uint8_t premultiply(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + 127) / 255);
}

std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) {
  if (a == 0) return 0;
  return static_cast<std::uint8_t>(std::min(255, (c * 255 + a / 2) / a));
}

// The mean of `count` values summed to `sum`, rounded half up.
inline std::uint8_t roundedMean(std::uint64_t sum, std::uint64_t count) {
  return static_cast<std::uint8_t>((sum + count / 2) / count);
}

}  // namespace

PixelBuffer::PixelBuffer(int w, int h) {
  if (w <= 0 || h <= 0) return;
  width = w;
  height = h;
  data.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
}

PixelBuffer PixelBuffer::fromImage(const Image& image) {
  PixelBuffer out(image.pixelWidth(), image.pixelHeight());
  const auto& src = image.pixels();
  for (size_t i = 0; i + 3 < out.data.size(); i += 4) {
    const std::uint8_t a = src[i + 3];
    out.data[i + 0] = premultiply(src[i + 2], a);
    out.data[i + 1] = premultiply(src[i + 1], a);
    out.data[i + 2] = premultiply(src[i + 0], a);
    out.data[i + 3] = a;
  }
  return out;
}

Image PixelBuffer::toImage(double scale) const {
  Image out(width, height, scale);
  if (out.isEmpty()) return out;
  auto& dst = out.pixels();
  for (size_t i = 0; i + 3 < data.size(); i += 4) {
    const std::uint8_t a = data[i + 3];
    dst[i + 0] = unpremultiply(data[i + 2], a);
    dst[i + 1] = unpremultiply(data[i + 1], a);
    dst[i + 2] = unpremultiply(data[i + 0], a);
    dst[i + 3] = a;
  }
  return out;
}

foundation::Status boxConvolve(const PixelBuffer& source, PixelBuffer& destination, int kernelHeight,
                               int kernelWidth) {
  // Row sums of 8-bit values stay within 32 bits up to this width; no image is that wide anyway.
  if (kernelHeight < 1 || kernelWidth < 1 || kernelWidth > (1 << 23) || kernelHeight > (1 << 23) ||
      kernelHeight % 2 == 0 || kernelWidth % 2 == 0)
    return effectsError(ImageEffectsError::kInvalidKernelSize, "Box kernels must have positive odd sizes");
  if (source.isEmpty() || source.width != destination.width || source.height != destination.height ||
      source.data.size() != destination.data.size() || &source == &destination)
    return effectsError(ImageEffectsError::kBufferMismatch,
                        "Box convolution needs two distinct buffers of one size");
  const int w = source.width, h = source.height;
  const int rx = kernelWidth / 2, ry = kernelHeight / 2;
  const std::uint64_t area =
      static_cast<std::uint64_t>(kernelWidth) * static_cast<std::uint64_t>(kernelHeight);
  // Horizontal sums over the kernel's width (edges extended), kept whole for one rounding at the end.
  std::vector<std::uint32_t> rowSums(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = &source.data[static_cast<size_t>(y) * source.rowBytes()];
    std::uint32_t* out = &rowSums[static_cast<size_t>(y) * static_cast<size_t>(w) * 4];
    for (int c = 0; c < 4; ++c) {
      // The first box: rx copies of the left edge, the row up to rx, and copies of the right edge
      // for the part of the kernel past it (counted, not looped, so huge kernels cost nothing).
      const int last = std::min(rx, w - 1);
      std::uint32_t sum = static_cast<std::uint32_t>(rx) * row[c] +
                          static_cast<std::uint32_t>(rx - last) * row[(w - 1) * 4 + c];
      for (int k = 0; k <= last; ++k) sum += row[k * 4 + c];
      for (int x = 0; x < w; ++x) {
        out[x * 4 + c] = sum;
        sum += row[std::min(x + rx + 1, w - 1) * 4 + c];
        sum -= row[std::max(x - rx, 0) * 4 + c];
      }
    }
  }
  // Vertical running sums of the horizontal sums.
  const size_t stride = static_cast<size_t>(w) * 4;
  std::vector<std::uint64_t> column(static_cast<size_t>(w) * 4, 0);
  {
    const int last = std::min(ry, h - 1);
    const std::uint32_t* top = &rowSums[0];
    const std::uint32_t* bottom = &rowSums[static_cast<size_t>(h - 1) * stride];
    for (size_t i = 0; i < stride; ++i)
      column[i] = static_cast<std::uint64_t>(ry) * top[i] + static_cast<std::uint64_t>(ry - last) * bottom[i];
    for (int k = 0; k <= last; ++k) {
      const std::uint32_t* src = &rowSums[static_cast<size_t>(k) * stride];
      for (size_t i = 0; i < stride; ++i) column[i] += src[i];
    }
  }
  for (int y = 0; y < h; ++y) {
    std::uint8_t* out = &destination.data[static_cast<size_t>(y) * stride];
    for (size_t i = 0; i < stride; ++i) out[i] = roundedMean(column[i], area);
    const std::uint32_t* add = &rowSums[static_cast<size_t>(std::min(y + ry + 1, h - 1)) * stride];
    const std::uint32_t* sub = &rowSums[static_cast<size_t>(std::max(y - ry, 0)) * stride];
    for (size_t i = 0; i < stride; ++i) column[i] = column[i] + add[i] - sub[i];
  }
  return {};
}

foundation::Status matrixMultiply(const PixelBuffer& source, PixelBuffer& destination,
                                  const std::array<std::int16_t, 16>& matrix, std::int32_t divisor) {
  if (divisor == 0)
    return effectsError(ImageEffectsError::kInvalidDivisor, "The matrix divisor must not be 0");
  if (source.isEmpty() || source.width != destination.width || source.height != destination.height ||
      source.data.size() != destination.data.size())
    return effectsError(ImageEffectsError::kBufferMismatch, "Matrix multiply needs two buffers of one size");
  for (size_t i = 0; i + 3 < source.data.size(); i += 4) {
    const std::int32_t in[4] = {source.data[i], source.data[i + 1], source.data[i + 2], source.data[i + 3]};
    std::uint8_t out[4];
    for (int j = 0; j < 4; ++j) {
      std::int32_t sum = 0;
      for (int k = 0; k < 4; ++k) sum += in[k] * matrix[static_cast<size_t>(4 * k + j)];
      out[j] = static_cast<std::uint8_t>(std::clamp(sum / divisor, 0, 255));
    }
    std::copy(out, out + 4, &destination.data[i]);
  }
  return {};
}

Image scaledImage(const Image& image, int pixelWidth, int pixelHeight, double scale) {
  if (pixelWidth <= 0 || pixelHeight <= 0 || image.isEmpty()) return Image();
  if (static_cast<std::int64_t>(pixelWidth) * pixelHeight > Image::kMaxPixels) return Image();
  Image out(pixelWidth, pixelHeight, scale);
  if (out.isEmpty()) return out;
  // Resample the premultiplied pixels so transparent edges do not bleed their colours.
  const PixelBuffer src = PixelBuffer::fromImage(image);
  PixelBuffer dst(pixelWidth, pixelHeight);
  const double sx = static_cast<double>(image.pixelWidth()) / pixelWidth;
  const double sy = static_cast<double>(image.pixelHeight()) / pixelHeight;
  const int sw = image.pixelWidth(), sh = image.pixelHeight();
  // When shrinking by more than 2, average the covered source box instead of sampling four pixels.
  const bool average = sx > 2 || sy > 2;
  for (int y = 0; y < pixelHeight; ++y) {
    for (int x = 0; x < pixelWidth; ++x) {
      std::uint8_t* out = &dst.data[(static_cast<size_t>(y) * pixelWidth + x) * 4];
      if (average) {
        const int x0 = static_cast<int>(std::floor(x * sx)),
                  x1 = std::max(x0 + 1, static_cast<int>(std::floor((x + 1) * sx)));
        const int y0 = static_cast<int>(std::floor(y * sy)),
                  y1 = std::max(y0 + 1, static_cast<int>(std::floor((y + 1) * sy)));
        std::uint32_t sums[4] = {0, 0, 0, 0};
        std::uint32_t count = 0;
        for (int yy = y0; yy < std::min(y1, sh); ++yy)
          for (int xx = x0; xx < std::min(x1, sw); ++xx) {
            const std::uint8_t* p = &src.data[(static_cast<size_t>(yy) * sw + xx) * 4];
            for (int c = 0; c < 4; ++c) sums[c] += p[c];
            ++count;
          }
        for (int c = 0; c < 4; ++c) out[c] = count ? roundedMean(sums[c], count) : 0;
        continue;
      }
      const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, static_cast<double>(sw - 1));
      const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, static_cast<double>(sh - 1));
      const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
      const int ix1 = std::min(ix + 1, sw - 1), iy1 = std::min(iy + 1, sh - 1);
      const double tx = fx - ix, ty = fy - iy;
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int px, int py) {
          return static_cast<double>(src.data[(static_cast<size_t>(py) * sw + px) * 4 + c]);
        };
        const double top = at(ix, iy) * (1 - tx) + at(ix1, iy) * tx;
        const double bottom = at(ix, iy1) * (1 - tx) + at(ix1, iy1) * tx;
        out[c] = static_cast<std::uint8_t>(std::lround(std::clamp(top * (1 - ty) + bottom * ty, 0.0, 255.0)));
      }
    }
  }
  return dst.toImage(scale);
}

Image scaledImage(const Image& image, double pointWidth, double pointHeight, double scale) {
  if (!(scale > 0) || !(pointWidth > 0) || !(pointHeight > 0)) return Image();
  const double pw = std::ceil(pointWidth * scale - 1e-9), ph = std::ceil(pointHeight * scale - 1e-9);
  if (pw > Image::kMaxDimension || ph > Image::kMaxDimension) return Image();
  return scaledImage(image, static_cast<int>(pw), static_cast<int>(ph), scale);
}

Image tintedImage(const Image& image, const Color& color) {
  Image out(image.pixelWidth(), image.pixelHeight(), image.scale());
  if (out.isEmpty()) return out;
  const Color::Rgba8 c = color.toRgba8();
  auto& dst = out.pixels();
  const auto& src = image.pixels();
  for (size_t i = 0; i + 3 < dst.size(); i += 4) {
    const std::uint8_t a = static_cast<std::uint8_t>((src[i + 3] * c.a + 127) / 255);
    if (a == 0) continue;
    dst[i + 0] = c.r;
    dst[i + 1] = c.g;
    dst[i + 2] = c.b;
    dst[i + 3] = a;
  }
  return out;
}

Image maskedImage(const Image& image, const Image& mask) {
  if (image.isEmpty()) return image;
  if (mask.isEmpty()) return Image(image.pixelWidth(), image.pixelHeight(), image.scale());
  const Image fitted = (mask.pixelWidth() == image.pixelWidth() && mask.pixelHeight() == image.pixelHeight())
                           ? mask
                           : scaledImage(mask, image.pixelWidth(), image.pixelHeight(), image.scale());
  Image out = image;
  auto& dst = out.pixels();
  const auto& m = fitted.pixels();
  for (size_t i = 0; i + 3 < dst.size(); i += 4) {
    dst[i + 3] = static_cast<std::uint8_t>((dst[i + 3] * m[i + 3] + 127) / 255);
    if (dst[i + 3] == 0) dst[i] = dst[i + 1] = dst[i + 2] = 0;
  }
  return out;
}

Image boxBlurredImage(const Image& image, int kernelSize, int passes) {
  if (image.isEmpty() || kernelSize <= 1 || passes <= 0) return image;
  if (kernelSize % 2 == 0) ++kernelSize;
  PixelBuffer a = PixelBuffer::fromImage(image);
  PixelBuffer b(a.width, a.height);
  for (int i = 0; i < passes; ++i) {
    if (!boxConvolve(a, b, kernelSize, kernelSize)) return image;
    std::swap(a, b);
  }
  return a.toImage(image.scale());
}

Image colorMatrixedImage(const Image& image, const std::array<std::int16_t, 16>& matrix,
                         std::int32_t divisor) {
  if (image.isEmpty()) return image;
  PixelBuffer buffer = PixelBuffer::fromImage(image);
  if (!matrixMultiply(buffer, buffer, matrix, divisor)) return image;
  return buffer.toImage(image.scale());
}

}  // namespace graphics
