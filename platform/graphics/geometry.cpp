#include "platform/graphics/geometry.h"

#include <algorithm>
#include <cstdio>

namespace graphics {

Rect Rect::null() {
  const double inf = std::numeric_limits<double>::infinity();
  return Rect(inf, inf, 0, 0);
}

Rect Rect::standardized() const {
  if (isNull()) return *this;
  return Rect(minX(), minY(), std::fabs(size.width), std::fabs(size.height));
}

bool Rect::contains(Point p) const {
  if (isEmpty()) return false;
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& other) const {
  if (isNull() || other.isNull()) return false;
  return other.minX() >= minX() && other.maxX() <= maxX() && other.minY() >= minY() && other.maxY() <= maxY();
}

bool Rect::intersects(const Rect& other) const { return !intersection(other).isNull(); }

Rect Rect::intersection(const Rect& other) const {
  if (isNull() || other.isNull()) return null();
  const double x0 = std::max(minX(), other.minX());
  const double y0 = std::max(minY(), other.minY());
  const double x1 = std::min(maxX(), other.maxX());
  const double y1 = std::min(maxY(), other.maxY());
  if (x1 < x0 || y1 < y0) return null();
  // Rectangles that only touch do not intersect, unless one of them has no area itself.
  if ((x1 == x0 && size.width != 0 && other.size.width != 0) ||
      (y1 == y0 && size.height != 0 && other.size.height != 0))
    return null();
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& other) const {
  if (isNull()) return other.standardized();
  if (other.isNull()) return standardized();
  const double x0 = std::min(minX(), other.minX());
  const double y0 = std::min(minY(), other.minY());
  const double x1 = std::max(maxX(), other.maxX());
  const double y1 = std::max(maxY(), other.maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::insetBy(double dx, double dy) const {
  if (isNull()) return *this;
  Rect r = standardized();
  r.origin.x += dx;
  r.origin.y += dy;
  r.size.width -= 2 * dx;
  r.size.height -= 2 * dy;
  if (r.size.width < 0 || r.size.height < 0) return null();
  return r;
}

Rect Rect::offsetBy(double dx, double dy) const {
  if (isNull()) return *this;
  return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}

Rect Rect::integral() const {
  if (isNull()) return *this;
  const double x0 = std::floor(minX());
  const double y0 = std::floor(minY());
  const double x1 = std::ceil(maxX());
  const double y1 = std::ceil(maxY());
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect insetRect(const Rect& rect, const EdgeInsets& insets) {
  return Rect(rect.origin.x + insets.left, rect.origin.y + insets.top,
              rect.size.width - insets.left - insets.right, rect.size.height - insets.top - insets.bottom);
}

AffineTransform AffineTransform::makeTranslation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }

AffineTransform AffineTransform::makeScale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

AffineTransform AffineTransform::makeRotation(double radians) {
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::concat(const AffineTransform& t) const {
  return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
          c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

AffineTransform AffineTransform::translated(double x, double y) const {
  return makeTranslation(x, y).concat(*this);
}

AffineTransform AffineTransform::scaled(double sx, double sy) const {
  return makeScale(sx, sy).concat(*this);
}

AffineTransform AffineTransform::rotated(double radians) const { return makeRotation(radians).concat(*this); }

AffineTransform AffineTransform::inverted() const {
  const double det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return *this;
  const double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
  return {ia, ib, ic, id, -(tx * ia + ty * ic), -(tx * ib + ty * id)};
}

Point AffineTransform::apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

Size AffineTransform::applyToSize(Size s) const {
  return {a * s.width + c * s.height, b * s.width + d * s.height};
}

Rect AffineTransform::applyToRect(const Rect& r) const {
  if (r.isNull()) return r;
  const Rect s = r.standardized();
  const Point corners[4] = {apply({s.minX(), s.minY()}), apply({s.maxX(), s.minY()}),
                            apply({s.minX(), s.maxY()}), apply({s.maxX(), s.maxY()})};
  double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
  for (const Point& p : corners) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  return Rect(x0, y0, x1 - x0, y1 - y0);
}

std::string toString(Point p) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "{%g, %g}", p.x, p.y);
  return buf;
}

std::string toString(Size s) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "{%g, %g}", s.width, s.height);
  return buf;
}

std::string toString(const Rect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }

}  // namespace graphics
