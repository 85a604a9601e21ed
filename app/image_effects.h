#pragma once
// The two image operations the baby screens and the PDF report use: a single-colour silhouette of
// an image, and a blurred, desaturated and tinted copy with a hairline at a given x.

#include <array>
#include <cstdint>
#include <optional>

#include "platform/graphics/color.h"
#include "platform/graphics/image.h"

namespace app {

// The colour seen through the image used as a clipping mask (its alpha), at the image's size and
// scale; the image's own colours are not kept.
graphics::Image multiplyImageByConstantColor(const graphics::Image& image, const graphics::Color& color);

// A copy of the image, at `screenScale` (the main screen's scale), with, in this order: the image
// blurred by three box passes when `radius` (points) is above the single-precision epsilon, drawn
// only where `maskImage` is opaque when a mask is given; the image's colours desaturated by
// `saturationDeltaFactor` when it differs from 1 (0 gives grey); the `tintColor` filled over the
// whole image when given; and a 0.5-point hairline in the flat grey at x − 0.5 from top to bottom.
// Nothing (and a logged message) for an image under 1 point wide or high, an image without pixels,
// or a mask without pixels.
std::optional<graphics::Image> applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
    const graphics::Image& image, double radius, double width,
    const std::optional<graphics::Color>& tintColor, double saturationDeltaFactor,
    const graphics::Image* maskImage, double screenScale);

// The blur kernel size for a radius in points at a screen scale: the nearest whole number to
// radius × scale × 3·√(2π)/4, raised to the next odd number when even.
int blurKernelSize(double radius, double screenScale);

// The saturation matrix for a factor, quantised for the matrix multiply with divisor 256.
std::array<std::int16_t, 16> saturationMatrix(double saturationDeltaFactor);

}  // namespace app
