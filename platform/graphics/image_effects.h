#pragma once
// Whole-image operations: scaling, tinting, masking, box blur and colour matrix.
//
// The blur and the colour matrix work as the platform's vImage functions do, on 8-bit four-channel
// pixel buffers whose channels are processed in memory order: the bitmap contexts of the platform
// hold premultiplied pixels as B, G, R, A bytes, and PixelBuffer keeps that order so that a colour
// matrix written for those contexts means the same here.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/graphics/color.h"
#include "platform/graphics/image.h"

namespace graphics {

inline constexpr std::string_view kImageEffectsErrorDomain = "ImageEffectsErrorDomain";

enum class ImageEffectsError : std::int64_t {
  kInvalidKernelSize = 1,  // a box kernel that is not a positive odd size
  kBufferMismatch = 2,     // source and destination buffers of different sizes, or an empty buffer
  kInvalidDivisor = 3,     // a matrix divisor of 0
};

// Premultiplied pixels, 4 bytes each in the order B, G, R, A, rows top to bottom without padding.
struct PixelBuffer {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> data;

  PixelBuffer() = default;
  // Transparent black.
  PixelBuffer(int width, int height);
  static PixelBuffer fromImage(const Image& image);
  Image toImage(double scale) const;

  size_t rowBytes() const { return static_cast<size_t>(width) * 4; }
  bool isEmpty() const { return width <= 0 || height <= 0; }
};

// A box convolution of `kernelHeight` × `kernelWidth` (both odd), each channel of each destination
// pixel the rounded mean of the source box around it, edges extended (coordinates past an edge read
// the edge pixel). Runs in time proportional to the pixels, whatever the kernel. `source` and
// `destination` must be distinct buffers of one size; the destination is overwritten.
foundation::Status boxConvolve(const PixelBuffer& source, PixelBuffer& destination, int kernelHeight,
                               int kernelWidth);

// For every pixel, channel j of the destination is Σᵢ source channel i × matrix[4·i + j], divided
// by `divisor` (truncated toward zero) and clamped to 0…255; channels in memory order. `source` and
// `destination` may be the same buffer.
foundation::Status matrixMultiply(const PixelBuffer& source, PixelBuffer& destination,
                                  const std::array<std::int16_t, 16>& matrix, std::int32_t divisor);

// The image resampled to `pixelWidth` × `pixelHeight` pixels (bilinear, edges held), with the given
// scale. A non-positive size gives an empty image.
Image scaledImage(const Image& image, int pixelWidth, int pixelHeight, double scale);
// The image at a size in points and a scale.
Image scaledImage(const Image& image, double pointWidth, double pointHeight, double scale);

// The colour seen through the image's alpha: every pixel takes the colour, with alpha = the colour's
// alpha × the pixel's alpha. The image's own colours are not kept.
Image tintedImage(const Image& image, const Color& color);

// The image with its alpha multiplied by the mask's alpha; the mask is stretched over the image.
Image maskedImage(const Image& image, const Image& mask);

// `passes` box convolutions of a `kernelSize` square kernel (odd; an even size is raised by one) on
// the premultiplied pixels. A kernel of 1 or no passes leaves the image as it is.
Image boxBlurredImage(const Image& image, int kernelSize, int passes = 3);

// The colour matrix of matrixMultiply() applied to the premultiplied B, G, R, A pixels.
Image colorMatrixedImage(const Image& image, const std::array<std::int16_t, 16>& matrix,
                         std::int32_t divisor);

}  // namespace graphics
