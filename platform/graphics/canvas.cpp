#include "platform/graphics/canvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace graphics {

// ---- Path -------------------------------------------------------------------------------------

void Path::moveTo(Point p) {
  Element e;
  e.kind = Kind::kMove;
  e.points[0] = p;
  elements_.push_back(e);
  current_ = p;
  subpathStart_ = p;
}

void Path::lineTo(Point p) {
  if (!current_) {
    moveTo(p);
    return;
  }
  Element e;
  e.kind = Kind::kLine;
  e.points[0] = p;
  elements_.push_back(e);
  current_ = p;
}

void Path::curveTo(Point control1, Point control2, Point end) {
  if (!current_) moveTo(control1);
  Element e;
  e.kind = Kind::kCurve;
  e.points[0] = control1;
  e.points[1] = control2;
  e.points[2] = end;
  elements_.push_back(e);
  current_ = end;
}

void Path::quadCurveTo(Point control, Point end) {
  if (!current_) moveTo(control);
  const Point p0 = *current_;
  const Point c1{p0.x + 2.0 / 3.0 * (control.x - p0.x), p0.y + 2.0 / 3.0 * (control.y - p0.y)};
  const Point c2{end.x + 2.0 / 3.0 * (control.x - end.x), end.y + 2.0 / 3.0 * (control.y - end.y)};
  curveTo(c1, c2, end);
}

namespace {

// The end angle actually reached: clockwise arcs run forward, counter-clockwise ones backward, each
// turning at most one full circle (as cairo's arcs do).
double sweptEnd(double start, double end, bool clockwise) {
  const double twoPi = 2 * std::numbers::pi;
  if (clockwise) {
    while (end < start) end += twoPi;
  } else {
    while (end > start) end -= twoPi;
  }
  return end;
}

Point onCircle(Point c, double r, double angle) {
  return {c.x + r * std::cos(angle), c.y + r * std::sin(angle)};
}

}  // namespace

void Path::addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise) {
  const Point start = onCircle(center, radius, startAngle);
  if (!current_) {
    current_ = start;
    subpathStart_ = start;
  }
  Element e;
  e.kind = Kind::kArc;
  e.points[0] = center;
  e.radius = radius;
  e.startAngle = startAngle;
  e.endAngle = endAngle;
  e.clockwise = clockwise;
  elements_.push_back(e);
  current_ = onCircle(center, radius, sweptEnd(startAngle, endAngle, clockwise));
}

void Path::closeSubpath() {
  if (!current_) return;
  Element e;
  e.kind = Kind::kClose;
  elements_.push_back(e);
  current_ = subpathStart_;
}

void Path::addRect(const Rect& r) {
  const Rect s = r.standardized();
  elements_.reserve(elements_.size() + 5);
  moveTo({s.minX(), s.minY()});
  lineTo({s.maxX(), s.minY()});
  lineTo({s.maxX(), s.maxY()});
  lineTo({s.minX(), s.maxY()});
  closeSubpath();
}

void Path::addEllipseInRect(const Rect& r) {
  const Rect s = r.standardized();
  const double k = 0.5522847498307936;
  const double cx = s.midX(), cy = s.midY(), rx = s.width() / 2, ry = s.height() / 2;
  moveTo({cx + rx, cy});
  curveTo({cx + rx, cy + k * ry}, {cx + k * rx, cy + ry}, {cx, cy + ry});
  curveTo({cx - k * rx, cy + ry}, {cx - rx, cy + k * ry}, {cx - rx, cy});
  curveTo({cx - rx, cy - k * ry}, {cx - k * rx, cy - ry}, {cx, cy - ry});
  curveTo({cx + k * rx, cy - ry}, {cx + rx, cy - k * ry}, {cx + rx, cy});
  closeSubpath();
}

void Path::addRoundedRect(const Rect& r, double cornerRadius) {
  const Rect s = r.standardized();
  const double rad = std::clamp(cornerRadius, 0.0, std::min(s.width(), s.height()) / 2);
  if (rad <= 0) {
    addRect(s);
    return;
  }
  const double pi = std::numbers::pi;
  elements_.reserve(elements_.size() + 10);
  moveTo({s.minX() + rad, s.minY()});
  lineTo({s.maxX() - rad, s.minY()});
  addArc({s.maxX() - rad, s.minY() + rad}, rad, -pi / 2, 0, true);
  lineTo({s.maxX(), s.maxY() - rad});
  addArc({s.maxX() - rad, s.maxY() - rad}, rad, 0, pi / 2, true);
  lineTo({s.minX() + rad, s.maxY()});
  addArc({s.minX() + rad, s.maxY() - rad}, rad, pi / 2, pi, true);
  lineTo({s.minX(), s.minY() + rad});
  addArc({s.minX() + rad, s.minY() + rad}, rad, pi, 3 * pi / 2, true);
  closeSubpath();
}

void Path::addLineSegments(const std::vector<Point>& points) {
  for (size_t i = 0; i + 1 < points.size(); i += 2) {
    moveTo(points[i]);
    lineTo(points[i + 1]);
  }
}

Path Path::rect(const Rect& r) {
  Path p;
  p.addRect(r);
  return p;
}

Path Path::ellipse(const Rect& r) {
  Path p;
  p.addEllipseInRect(r);
  return p;
}

Path Path::roundedRect(const Rect& r, double cornerRadius) {
  Path p;
  p.addRoundedRect(r, cornerRadius);
  return p;
}

Path Path::line(Point from, Point to) {
  Path p;
  p.moveTo(from);
  p.lineTo(to);
  return p;
}

Rect Path::boundingBox() const {
  Rect box = Rect::null();
  auto add = [&box](Point p) { box = box.unionWith(Rect(p.x, p.y, 0, 0)); };
  for (const Element& e : elements_) {
    switch (e.kind) {
      case Kind::kMove:
      case Kind::kLine:
        add(e.points[0]);
        break;
      case Kind::kCurve:
        for (const Point& p : e.points) add(p);
        break;
      case Kind::kArc: {
        const double end = sweptEnd(e.startAngle, e.endAngle, e.clockwise);
        add(onCircle(e.points[0], e.radius, e.startAngle));
        add(onCircle(e.points[0], e.radius, end));
        const double lo = std::min(e.startAngle, end), hi = std::max(e.startAngle, end);
        const double quarter = std::numbers::pi / 2;
        for (double a = std::ceil(lo / quarter) * quarter; a <= hi; a += quarter)
          add(onCircle(e.points[0], e.radius, a));
        break;
      }
      case Kind::kClose:
        break;
    }
  }
  return box;
}

std::vector<std::pair<Point, Point>> Path::lineSegments() const {
  std::vector<std::pair<Point, Point>> out;
  std::optional<Point> current, start;
  for (const Element& e : elements_) {
    switch (e.kind) {
      case Kind::kMove:
        current = e.points[0];
        start = e.points[0];
        break;
      case Kind::kLine:
        if (current) out.emplace_back(*current, e.points[0]);
        current = e.points[0];
        break;
      case Kind::kClose:
        if (current && start && !(*current == *start)) out.emplace_back(*current, *start);
        current = start;
        break;
      case Kind::kCurve:
      case Kind::kArc:
        return {};
    }
  }
  return out;
}

// ---- AttributedText ---------------------------------------------------------------------------

AttributedText::AttributedText(std::string text, Font font, Color color, TextAlignment alignment,
                               LineBreakMode lineBreak)
    : alignment(alignment), lineBreak(lineBreak) {
  runs.push_back(TextRun{std::move(text), std::move(font), color});
}

AttributedText& AttributedText::append(std::string text, Font font, Color color) {
  runs.push_back(TextRun{std::move(text), std::move(font), color});
  return *this;
}

std::string AttributedText::string() const {
  std::string out;
  for (const TextRun& run : runs) out += run.text;
  return out;
}

bool AttributedText::isEmpty() const {
  return std::all_of(runs.begin(), runs.end(), [](const TextRun& r) { return r.text.empty(); });
}

// ---- Current canvas ---------------------------------------------------------------------------

namespace {
thread_local Canvas* tlsCurrent = nullptr;
}

Canvas* currentCanvas() { return tlsCurrent; }

ScopedCurrentCanvas::ScopedCurrentCanvas(Canvas& canvas) : previous_(tlsCurrent) { tlsCurrent = &canvas; }

ScopedCurrentCanvas::~ScopedCurrentCanvas() { tlsCurrent = previous_; }

void Canvas::drawSharedImage(const std::shared_ptr<const Image>& image, const Rect& rect, BlendMode mode,
                             double alpha) {
  if (image) drawImage(*image, rect, mode, alpha);
}

void Canvas::drawJpegData(const std::shared_ptr<const std::vector<std::uint8_t>>& jpeg, Size,
                          const Rect& rect) {
  if (!jpeg) return;
  auto image = Image::decode(jpeg->data(), jpeg->size());
  if (image.ok()) drawImage(*image, rect);
}

}  // namespace graphics
