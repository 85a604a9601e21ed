#include "platform/graphics/recording_canvas.h"

#include <algorithm>

namespace graphics {

RecordingCanvas::RecordingCanvas(Size size) : size_(size) { stack_.emplace_back(); }

void RecordingCanvas::clear() {
  ops_.clear();
  stack_.clear();
  stack_.emplace_back();
  pages_ = 0;
}

void RecordingCanvas::save() {
  stack_.push_back(stack_.back());
  ops_.emplace_back(rec::Save{});
}

void RecordingCanvas::restore() {
  if (stack_.size() <= 1) return;
  stack_.pop_back();
  ops_.emplace_back(rec::Restore{});
}

void RecordingCanvas::translate(double dx, double dy) {
  mutableState().transform = state().transform.translated(dx, dy);
}
void RecordingCanvas::scale(double sx, double sy) {
  mutableState().transform = state().transform.scaled(sx, sy);
}
void RecordingCanvas::rotate(double radians) {
  mutableState().transform = state().transform.rotated(radians);
}
void RecordingCanvas::concat(const AffineTransform& t) {
  mutableState().transform = t.concat(state().transform);
}

void RecordingCanvas::intersectClip(const Rect& baseBounds) {
  auto& clip = mutableState().clipBounds;
  clip = clip ? clip->intersection(baseBounds) : baseBounds.standardized();
}

void RecordingCanvas::clipToRect(const Rect& rect) {
  intersectClip(state().transform.applyToRect(rect));
  rec::Clip op;
  op.kind = rec::Clip::Kind::kRect;
  op.rect = rect;
  op.path = Path::rect(rect);
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::clipToPath(const Path& path, FillRule rule) {
  const Rect box = path.boundingBox();
  intersectClip(box.isNull() ? Rect::null() : state().transform.applyToRect(box));
  rec::Clip op;
  op.kind = rec::Clip::Kind::kPath;
  op.rect = box;
  op.path = path;
  op.rule = rule;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::clipToMask(const Rect& rect, const Image& mask) {
  intersectClip(state().transform.applyToRect(rect));
  mutableState().maskCount++;
  rec::Clip op;
  op.kind = rec::Clip::Kind::kMask;
  op.rect = rect;
  op.path = Path::rect(rect);
  op.mask = std::make_shared<const Image>(mask);
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::setLineWidth(double width) { mutableState().lineWidth = width; }
void RecordingCanvas::setLineCap(LineCap cap) { mutableState().lineCap = cap; }
void RecordingCanvas::setLineJoin(LineJoin join) { mutableState().lineJoin = join; }
void RecordingCanvas::setMiterLimit(double limit) { mutableState().miterLimit = limit; }
void RecordingCanvas::setLineDash(double phase, const std::vector<double>& lengths) {
  mutableState().dashPhase = phase;
  mutableState().dash = lengths;
}
void RecordingCanvas::setShouldAntialias(bool antialias) { mutableState().antialias = antialias; }
void RecordingCanvas::setFillColor(const Color& color) { mutableState().fillColor = color; }
void RecordingCanvas::setStrokeColor(const Color& color) { mutableState().strokeColor = color; }
void RecordingCanvas::setAlpha(double alpha) { mutableState().alpha = std::clamp(alpha, 0.0, 1.0); }
void RecordingCanvas::setBlendMode(BlendMode mode) { mutableState().blendMode = mode; }

void RecordingCanvas::recordFill(rec::Shape shape, const Rect& rect, const Path& path, FillRule rule) {
  rec::Fill op;
  op.shape = shape;
  op.rect = rect;
  op.path = path;
  op.rule = rule;
  op.color = state().fillColor;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::recordStroke(rec::Shape shape, const Rect& rect, const Path& path) {
  rec::Stroke op;
  op.shape = shape;
  op.rect = rect;
  op.path = path;
  op.color = state().strokeColor;
  op.lineWidth = state().lineWidth;
  op.antialias = state().antialias;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::fillRect(const Rect& rect) {
  recordFill(rec::Shape::kRect, rect, Path::rect(rect), FillRule::kNonZero);
}
void RecordingCanvas::strokeRect(const Rect& rect) {
  recordStroke(rec::Shape::kRect, rect, Path::rect(rect));
}
void RecordingCanvas::fillEllipse(const Rect& rect) {
  recordFill(rec::Shape::kEllipse, rect, Path::ellipse(rect), FillRule::kNonZero);
}
void RecordingCanvas::strokeEllipse(const Rect& rect) {
  recordStroke(rec::Shape::kEllipse, rect, Path::ellipse(rect));
}
void RecordingCanvas::fillPath(const Path& path, FillRule rule) {
  recordFill(rec::Shape::kPath, path.boundingBox(), path, rule);
}
void RecordingCanvas::strokePath(const Path& path) {
  recordStroke(rec::Shape::kPath, path.boundingBox(), path);
}
void RecordingCanvas::strokeLineSegments(const std::vector<Point>& points) {
  Path path;
  path.addLineSegments(points);
  recordStroke(rec::Shape::kLineSegments, path.boundingBox(), path);
}

void RecordingCanvas::clearRect(const Rect& rect) { ops_.emplace_back(rec::ClearRect{rect, state()}); }

void RecordingCanvas::drawImage(const Image& image, const Rect& rect, BlendMode mode, double alpha) {
  rec::DrawImage op;
  op.rect = rect;
  op.image = std::make_shared<const Image>(image);
  op.blendMode = mode;
  op.alpha = alpha;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::drawText(const AttributedText& text, Point point) {
  rec::DrawText op;
  op.text = text;
  op.point = point;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::drawText(const AttributedText& text, const Rect& rect) {
  rec::DrawText op;
  op.text = text;
  op.rect = rect;
  op.state = state();
  ops_.emplace_back(std::move(op));
}

void RecordingCanvas::drawLinearGradient(const Gradient& gradient, Point start, Point end, bool extendStart,
                                         bool extendEnd) {
  ops_.emplace_back(rec::DrawGradient{gradient, start, end, extendStart, extendEnd, state()});
}

bool RecordingCanvas::beginPage() {
  ops_.emplace_back(rec::BeginPage{pages_});
  ++pages_;
  return true;
}

std::vector<RecordedFill> RecordingCanvas::fills() const {
  std::vector<RecordedFill> out;
  for (const auto& op : ops_) {
    const auto* fill = std::get_if<rec::Fill>(&op);
    if (!fill) continue;
    out.push_back(RecordedFill{fill->shape, fill->rect, fill->state.transform.applyToRect(fill->rect),
                               fill->color, fill->state.alpha, fill->state.blendMode});
  }
  return out;
}

std::vector<RecordedLine> RecordingCanvas::lines() const {
  std::vector<RecordedLine> out;
  for (const auto& op : ops_) {
    const auto* stroke = std::get_if<rec::Stroke>(&op);
    if (!stroke || stroke->shape == rec::Shape::kEllipse) continue;
    for (const auto& [from, to] : stroke->path.lineSegments()) {
      RecordedLine line;
      line.from = from;
      line.to = to;
      line.baseFrom = stroke->state.transform.apply(from);
      line.baseTo = stroke->state.transform.apply(to);
      line.color = stroke->color;
      line.width = stroke->lineWidth;
      line.antialias = stroke->antialias;
      line.dash = stroke->state.dash;
      out.push_back(line);
    }
  }
  return out;
}

std::vector<RecordedImage> RecordingCanvas::images() const {
  std::vector<RecordedImage> out;
  for (const auto& op : ops_) {
    const auto* draw = std::get_if<rec::DrawImage>(&op);
    if (!draw) continue;
    out.push_back(RecordedImage{draw->rect, draw->state.transform.applyToRect(draw->rect), draw->image,
                                draw->blendMode, draw->alpha * draw->state.alpha});
  }
  return out;
}

std::vector<RecordedText> RecordingCanvas::texts() const {
  std::vector<RecordedText> out;
  for (const auto& op : ops_) {
    const auto* draw = std::get_if<rec::DrawText>(&op);
    if (!draw) continue;
    RecordedText t;
    t.text = draw->text.string();
    if (!draw->text.runs.empty()) {
      t.font = draw->text.runs.front().font;
      t.color = draw->text.runs.front().color;
    }
    t.point = draw->point;
    t.rect = draw->rect;
    t.basePosition = draw->state.transform.apply(draw->point ? *draw->point : draw->rect->origin);
    t.alignment = draw->text.alignment;
    t.lineBreak = draw->text.lineBreak;
    t.attributed = draw->text;
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace graphics
