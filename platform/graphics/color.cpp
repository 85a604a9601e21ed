#include "platform/graphics/color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace graphics {
namespace {

double clamp01(double v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, 0.0, 1.0);
}

std::uint8_t to8(double v) { return static_cast<std::uint8_t>(std::lround(clamp01(v) * 255.0)); }

}  // namespace

Color::Color(double red, double green, double blue, double alpha)
    : r(clamp01(red)), g(clamp01(green)), b(clamp01(blue)), a(clamp01(alpha)) {}

Color Color::rgb255(int red, int green, int blue, double alpha) {
  auto component = [](int n) { return static_cast<double>(static_cast<float>(n) / 255.0f); };
  return Color(component(red), component(green), component(blue), alpha);
}

Color Color::white(double w, double alpha) { return Color(w, w, w, alpha); }

Color Color::hsb(double hue, double saturation, double brightness, double alpha) {
  const double h = clamp01(hue) * 6.0;
  const double s = clamp01(saturation);
  const double v = clamp01(brightness);
  const int sector = static_cast<int>(std::floor(h)) % 6;
  const double f = h - std::floor(h);
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (sector) {
    case 0:
      return Color(v, t, p, alpha);
    case 1:
      return Color(q, v, p, alpha);
    case 2:
      return Color(p, v, t, alpha);
    case 3:
      return Color(p, q, v, alpha);
    case 4:
      return Color(t, p, v, alpha);
    default:
      return Color(v, p, q, alpha);
  }
}

Color::Rgba8 Color::toRgba8() const { return {to8(r), to8(g), to8(b), to8(a)}; }

bool Color::approximatelyEquals(const Color& o, double tolerance) const {
  return std::fabs(r - o.r) <= tolerance && std::fabs(g - o.g) <= tolerance &&
         std::fabs(b - o.b) <= tolerance && std::fabs(a - o.a) <= tolerance;
}

std::string Color::toString() const {
  const Rgba8 c = toRgba8();
  char buf[64];
  std::snprintf(buf, sizeof buf, "rgba(%d, %d, %d, %.3f)", c.r, c.g, c.b, a);
  return buf;
}

}  // namespace graphics
