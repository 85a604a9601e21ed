#include "app/image_effects.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/foundation/log.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/image_effects.h"

namespace app {
namespace {

using graphics::Image;

std::string describe(const Image& image) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "<Image {%g, %g} scale %g>", image.pointWidth(), image.pointHeight(),
                image.scale());
  return buf;
}

// The receiver drawn into a bitmap of its own size in points at the screen's scale.
std::optional<graphics::PixelBuffer> drawnAtScale(const Image& image, double scale) {
  auto canvas = graphics::CairoCanvas::createBitmap({image.pointWidth(), image.pointHeight()}, scale);
  if (!canvas) return std::nullopt;
  (*canvas)->drawImage(image, graphics::Rect(0, 0, image.pointWidth(), image.pointHeight()),
                       graphics::BlendMode::kNormal, 1.0);
  auto drawn = (*canvas)->image();
  if (!drawn) return std::nullopt;
  return graphics::PixelBuffer::fromImage(*drawn);
}

}  // namespace

graphics::Image multiplyImageByConstantColor(const graphics::Image& image, const graphics::Color& color) {
  return graphics::tintedImage(image, color);
}

int blurKernelSize(double radius, double screenScale) {
  const double sqrtTwoPi = 2.5066282746310002;
  const double size = std::floor(radius * screenScale * 3.0 * sqrtTwoPi / 4.0 + 0.5);
  // Far beyond any image: with edges extended, a kernel wider than twice the image changes nothing more.
  const double limit = 1 << 20;
  int k = static_cast<int>(std::clamp(size, 0.0, limit));
  if (k % 2 == 0) k += 1;
  return k;
}

std::array<std::int16_t, 16> saturationMatrix(double s) {
  const double m[16] = {
      0.0722 + 0.9278 * s,
      0.0722 - 0.0722 * s,
      0.0722 - 0.0722 * s,
      0,  //
      0.7152 - 0.7152 * s,
      0.7152 + 0.2848 * s,
      0.7152 - 0.7152 * s,
      0,  //
      0.2126 - 0.2126 * s,
      0.2126 - 0.2126 * s,
      0.2126 + 0.7873 * s,
      0,  //
      0,
      0,
      0,
      1,
  };
  std::array<std::int16_t, 16> out{};
  for (size_t i = 0; i < 16; ++i) {
    const float scaled = static_cast<float>(m[i] * 256.0);
    out[i] = static_cast<std::int16_t>(std::clamp(std::lroundf(scaled), -32768L, 32767L));
  }
  return out;
}

std::optional<graphics::Image> applyBlurWithRadiusWidthTintColorSaturationDeltaFactorMaskImage(
    const graphics::Image& image, double radius, double width,
    const std::optional<graphics::Color>& tintColor, double saturationDeltaFactor,
    const graphics::Image* maskImage, double screenScale) {
  const double w = image.pointWidth(), h = image.pointHeight();
  if (!(w >= 1) || !(h >= 1)) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "*** error: invalid size: (%.2f x %.2f). Both dimensions must be >= 1: ", w, h);
    foundation::log(buf + describe(image));
    return std::nullopt;
  }
  if (image.isEmpty()) {
    foundation::log("*** error: image must be backed by a CGImage: " + describe(image));
    return std::nullopt;
  }
  if (maskImage && maskImage->isEmpty()) {
    foundation::log("*** error: maskImage must be backed by a CGImage: " + describe(*maskImage));
    return std::nullopt;
  }
  if (!(screenScale > 0) || !std::isfinite(screenScale)) screenScale = 1.0;

  const bool hasBlur = radius > FLT_EPSILON;
  const bool hasSaturationChange = std::fabs(saturationDeltaFactor - 1.0) > FLT_EPSILON;
  const graphics::Rect full(0, 0, w, h);

  std::optional<Image> effect;
  if (hasBlur || hasSaturationChange) {
    std::optional<graphics::PixelBuffer> input = drawnAtScale(image, screenScale);
    if (!input) return std::nullopt;
    graphics::PixelBuffer& a = *input;
    graphics::PixelBuffer b(a.width, a.height);
    if (hasBlur) {
      const int k = blurKernelSize(radius, screenScale);
      if (!graphics::boxConvolve(a, b, k, k) || !graphics::boxConvolve(b, a, k, k) ||
          !graphics::boxConvolve(a, b, k, k))
        return std::nullopt;
    }
    if (hasSaturationChange) {
      const auto matrix = saturationMatrix(saturationDeltaFactor);
      if (hasBlur) {
        if (!graphics::matrixMultiply(b, a, matrix, 256)) return std::nullopt;
        effect = a.toImage(screenScale);
      } else {
        if (!graphics::matrixMultiply(a, b, matrix, 256)) return std::nullopt;
        effect = b.toImage(screenScale);
      }
    } else {
      effect = b.toImage(screenScale);
    }
  }

  auto output = graphics::CairoCanvas::createBitmap({w, h}, screenScale);
  if (!output) {
    foundation::log("*** error: could not make an image context for " + describe(image));
    return std::nullopt;
  }
  graphics::CairoCanvas& c = **output;
  c.drawImage(image, full, graphics::BlendMode::kNormal, 1.0);
  // The effect image is drawn whenever one was made: a saturation change shows without a blur too.
  if (effect) {
    c.save();
    if (maskImage) c.clipToMask(full, *maskImage);
    c.drawImage(*effect, full, graphics::BlendMode::kNormal, 1.0);
    c.restore();
  }
  if (tintColor) {
    c.save();
    c.setFillColor(*tintColor);
    c.fillRect(full);
    c.restore();
  }
  c.setShouldAntialias(false);
  c.setLineWidth(0.5);
  c.setStrokeColor(graphics::Color::hairlineGray());
  c.strokeLine({width - 0.5, 0}, {width - 0.5, h});
  auto result = c.image();
  if (!result) return std::nullopt;
  return std::move(*result);
}

}  // namespace app
