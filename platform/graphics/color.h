#pragma once
// An RGBA colour with components from 0 to 1, straight (not premultiplied) alpha, device RGB.

#include <cstdint>
#include <string>

namespace graphics {

struct Color {
  // Components (named colours are the static functions below).
  double r = 0;
  double g = 0;
  double b = 0;
  double a = 0;

  constexpr Color() = default;
  // Components are clamped to 0…1.
  Color(double red, double green, double blue, double alpha = 1.0);

  static Color rgb(double red, double green, double blue, double alpha = 1.0) {
    return Color(red, green, blue, alpha);
  }
  // Components given as 0-255: each is the single-precision value n/255 widened, as the system's
  // colours are written in code (140 gives 0.54901963…).
  static Color rgb255(int red, int green, int blue, double alpha = 1.0);
  // A grey: white 0 is black, 1 is white.
  static Color white(double white, double alpha = 1.0);
  // Hue, saturation and brightness from 0 to 1.
  static Color hsb(double hue, double saturation, double brightness, double alpha = 1.0);

  // The platform's named colours.
  static Color clear() { return Color(0, 0, 0, 0); }
  static Color black() { return Color(0, 0, 0, 1); }
  static Color white() { return Color(1, 1, 1, 1); }
  static Color darkGray() { return white(1.0 / 3.0); }
  static Color gray() { return white(0.5); }
  static Color lightGray() { return white(2.0 / 3.0); }
  static Color red() { return Color(1, 0, 0); }
  static Color green() { return Color(0, 1, 0); }
  static Color blue() { return Color(0, 0, 1); }
  static Color cyan() { return Color(0, 1, 1); }
  static Color yellow() { return Color(1, 1, 0); }
  static Color magenta() { return Color(1, 0, 1); }
  static Color orange() { return Color(1, 0.5, 0); }
  static Color purple() { return Color(0.5, 0, 0.5); }
  static Color brown() { return Color(0.6, 0.4, 0.2); }

  // The system's own colours: the flat hairline grey (201, 203, 206), the accent violet (140, 127, 243)
  // and the blue (0, 122, 255) of its buttons, ticks and alert buttons.
  static Color hairlineGray() { return rgb255(201, 203, 206); }
  static Color accentViolet() { return rgb255(140, 127, 243); }
  static Color systemBlue() { return rgb255(0, 122, 255); }

  Color withAlpha(double alpha) const { return Color(r, g, b, alpha); }
  bool isClear() const { return a <= 0; }

  // 0-255 components, rounded to nearest.
  struct Rgba8 {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba8&, const Rgba8&) = default;
  };
  Rgba8 toRgba8() const;

  // Equal within 1e-6 a component.
  bool approximatelyEquals(const Color& other, double tolerance = 1e-6) const;
  // "rgba(r, g, b, a)" with 0-255 integers for the colours, for test messages.
  std::string toString() const;

  friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace graphics
