#pragma once
// Points, sizes, rectangles, edge insets and affine transforms in points (double precision).
//
// Coordinates follow the screen's convention: origin at the top left, y grows downward. Rectangles
// keep their origin and size as given; the min/max accessors and the set operations work on the
// standardised rectangle (negative sizes flipped), as the platform's rectangle functions do.

#include <cmath>
#include <limits>
#include <string>

namespace graphics {

using CGFloat = double;

struct Point {
  double x = 0;
  double y = 0;

  constexpr Point() = default;
  constexpr Point(double x, double y) : x(x), y(y) {}
  friend constexpr bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;

  constexpr Size() = default;
  constexpr Size(double width, double height) : width(width), height(height) {}
  friend constexpr bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(Point origin, Size size) : origin(origin), size(size) {}
  constexpr Rect(double x, double y, double width, double height) : origin(x, y), size(width, height) {}

  // The null rectangle: what the intersection of two disjoint rectangles is.
  static Rect null();
  bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }

  constexpr double x() const { return origin.x; }
  constexpr double y() const { return origin.y; }
  constexpr double width() const { return size.width; }
  constexpr double height() const { return size.height; }

  double minX() const { return std::fmin(origin.x, origin.x + size.width); }
  double maxX() const { return std::fmax(origin.x, origin.x + size.width); }
  double midX() const { return origin.x + size.width / 2; }
  double minY() const { return std::fmin(origin.y, origin.y + size.height); }
  double maxY() const { return std::fmax(origin.y, origin.y + size.height); }
  double midY() const { return origin.y + size.height / 2; }
  Point center() const { return {midX(), midY()}; }

  // True for a null rectangle or one with zero width or height.
  bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }
  // Half-open: the min edges belong to the rectangle, the max edges do not.
  bool contains(Point p) const;
  bool contains(const Rect& other) const;
  bool intersects(const Rect& other) const;

  Rect standardized() const;
  Rect intersection(const Rect& other) const;  // null when they do not meet
  Rect unionWith(const Rect& other) const;
  Rect insetBy(double dx, double dy) const;  // null when the inset leaves nothing
  Rect offsetBy(double dx, double dy) const;
  // The smallest rectangle with whole-number edges that contains this one.
  Rect integral() const;

  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// Insets of the four edges; positive values shrink a rectangle.
struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;

  friend constexpr bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

Rect insetRect(const Rect& rect, const EdgeInsets& insets);

// x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static constexpr AffineTransform identity() { return {}; }
  static AffineTransform makeTranslation(double tx, double ty);
  static AffineTransform makeScale(double sx, double sy);
  // Positive angles turn the x axis toward the y axis (clockwise on screen).
  static AffineTransform makeRotation(double radians);

  bool isIdentity() const { return *this == AffineTransform{}; }
  // This transform followed by `then`.
  AffineTransform concat(const AffineTransform& then) const;
  // Applied before this transform: translate, scale or rotate the user space this maps from.
  AffineTransform translated(double tx, double ty) const;
  AffineTransform scaled(double sx, double sy) const;
  AffineTransform rotated(double radians) const;
  // The inverse; a singular transform is returned unchanged, as the platform does.
  AffineTransform inverted() const;

  Point apply(Point p) const;
  Size applyToSize(Size s) const;  // without translation
  // The bounding box of the transformed rectangle.
  Rect applyToRect(const Rect& r) const;

  friend constexpr bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

// For test failure messages: "{x, y}", "{w, h}", "{{x, y}, {w, h}}".
std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);

}  // namespace graphics
