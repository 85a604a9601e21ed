#pragma once
// A canvas that records every drawing operation, with the state it was drawn in, for tests.
//
// Every op carries a RecordedState: the transform, colours, line settings, antialiasing, alpha, blend
// mode and the clip's bounds in base coordinates at the time of the op. Coordinates in the ops are
// as passed (user space); `state.transform` maps them to the canvas's base space. The helpers
// fills(), lines(), images() and texts() flatten the ops into the shapes most tests look for.

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/graphics/canvas.h"

namespace graphics {

struct RecordedState {
  AffineTransform transform;
  Color fillColor = Color::black();
  Color strokeColor = Color::black();
  double lineWidth = 1.0;
  LineCap lineCap = LineCap::kButt;
  LineJoin lineJoin = LineJoin::kMiter;
  double miterLimit = 10.0;
  double dashPhase = 0;
  std::vector<double> dash;
  bool antialias = true;
  double alpha = 1.0;
  BlendMode blendMode = BlendMode::kNormal;
  // Bounds of the clip in base coordinates (path clips by their bounding box); none when unclipped.
  std::optional<Rect> clipBounds;
  int maskCount = 0;  // mask clips in force
  friend bool operator==(const RecordedState&, const RecordedState&) = default;
};

namespace rec {

enum class Shape { kRect, kEllipse, kPath, kLineSegments };

struct Save {};
struct Restore {};
struct BeginPage {
  int pageIndex = 0;  // 0 for the first page
};
struct Clip {
  enum class Kind { kRect, kPath, kMask };
  Kind kind = Kind::kRect;
  Rect rect;  // kRect, kMask; the path's bounding box for kPath
  Path path;  // kPath
  FillRule rule = FillRule::kNonZero;
  std::shared_ptr<const Image> mask;  // kMask
  RecordedState state;
};
struct Fill {
  Shape shape = Shape::kPath;
  Rect rect;  // kRect, kEllipse; the path's bounding box for kPath
  Path path;  // always set (a rectangle or ellipse as its path)
  FillRule rule = FillRule::kNonZero;
  Color color;  // the fill colour of the state
  RecordedState state;
};
struct Stroke {
  Shape shape = Shape::kPath;
  Rect rect;
  Path path;
  Color color;  // the stroke colour of the state
  double lineWidth = 1.0;
  bool antialias = true;
  RecordedState state;
};
struct ClearRect {
  Rect rect;
  RecordedState state;
};
struct DrawImage {
  Rect rect;
  std::shared_ptr<const Image> image;
  BlendMode blendMode = BlendMode::kNormal;
  double alpha = 1.0;
  RecordedState state;
};
struct DrawText {
  AttributedText text;
  std::optional<Point> point;  // drawn at a point
  std::optional<Rect> rect;    // drawn in a rectangle
  RecordedState state;
};
struct DrawGradient {
  Gradient gradient;
  Point start, end;
  bool extendStart = false;
  bool extendEnd = false;
  RecordedState state;
};

}  // namespace rec

using RecordedOp = std::variant<rec::Save, rec::Restore, rec::BeginPage, rec::Clip, rec::Fill, rec::Stroke,
                                rec::ClearRect, rec::DrawImage, rec::DrawText, rec::DrawGradient>;

// Flattened views of the ops.
struct RecordedLine {
  Point from, to;          // user space
  Point baseFrom, baseTo;  // base space (through the transform)
  Color color;
  double width = 1.0;
  bool antialias = true;
  std::vector<double> dash;
};
struct RecordedFill {
  rec::Shape shape = rec::Shape::kPath;
  Rect rect;      // user space (the path's bounds for paths)
  Rect baseRect;  // bounding box in base space
  Color color;
  double alpha = 1.0;  // the state's global alpha
  BlendMode blendMode = BlendMode::kNormal;
};
struct RecordedImage {
  Rect rect;
  Rect baseRect;
  std::shared_ptr<const Image> image;
  BlendMode blendMode = BlendMode::kNormal;
  double alpha = 1.0;  // the op's alpha times the state's
};
struct RecordedText {
  std::string text;  // the whole text
  Font font;         // of the first run
  Color color;       // of the first run
  std::optional<Point> point;
  std::optional<Rect> rect;
  Point basePosition;  // the point, or the rectangle's origin, in base space
  TextAlignment alignment = TextAlignment::kLeft;
  LineBreakMode lineBreak = LineBreakMode::kWordWrap;
  AttributedText attributed;
};

class RecordingCanvas : public Canvas {
 public:
  // The size is informational (what the drawing was made for).
  explicit RecordingCanvas(Size size = {});

  Size size() const { return size_; }
  const std::vector<RecordedOp>& ops() const { return ops_; }
  void clear();
  // The state in force now.
  const RecordedState& state() const { return stack_.back(); }
  int pageCount() const { return pages_; }

  // Fills of rectangles, ellipses and paths.
  std::vector<RecordedFill> fills() const;
  // Straight segments of strokes: line segments, stroked paths made only of straight lines, and the
  // four sides of stroked rectangles.
  std::vector<RecordedLine> lines() const;
  std::vector<RecordedImage> images() const;
  std::vector<RecordedText> texts() const;
  template <class T>
  std::vector<T> opsOf() const {
    std::vector<T> out;
    for (const auto& op : ops_)
      if (auto* p = std::get_if<T>(&op)) out.push_back(*p);
    return out;
  }

  void save() override;
  void restore() override;
  int saveDepth() const override { return static_cast<int>(stack_.size()) - 1; }
  AffineTransform transform() const override { return state().transform; }
  void translate(double dx, double dy) override;
  void scale(double sx, double sy) override;
  void rotate(double radians) override;
  void concat(const AffineTransform& t) override;
  void clipToRect(const Rect& rect) override;
  void clipToPath(const Path& path, FillRule rule) override;
  void clipToMask(const Rect& rect, const Image& mask) override;
  void setLineWidth(double width) override;
  void setLineCap(LineCap cap) override;
  void setLineJoin(LineJoin join) override;
  void setMiterLimit(double limit) override;
  void setLineDash(double phase, const std::vector<double>& lengths) override;
  void setShouldAntialias(bool antialias) override;
  void setFillColor(const Color& color) override;
  void setStrokeColor(const Color& color) override;
  void setAlpha(double alpha) override;
  void setBlendMode(BlendMode mode) override;
  void fillRect(const Rect& rect) override;
  void strokeRect(const Rect& rect) override;
  void fillEllipse(const Rect& rect) override;
  void strokeEllipse(const Rect& rect) override;
  void fillPath(const Path& path, FillRule rule) override;
  void strokePath(const Path& path) override;
  void strokeLineSegments(const std::vector<Point>& points) override;
  void clearRect(const Rect& rect) override;
  void drawImage(const Image& image, const Rect& rect, BlendMode mode, double alpha) override;
  void drawText(const AttributedText& text, Point point) override;
  void drawText(const AttributedText& text, const Rect& rect) override;
  void drawLinearGradient(const Gradient& gradient, Point start, Point end, bool extendStart,
                          bool extendEnd) override;
  bool beginPage() override;

  using Canvas::drawText;

 private:
  RecordedState& mutableState() { return stack_.back(); }
  void intersectClip(const Rect& baseBounds);
  void recordFill(rec::Shape shape, const Rect& rect, const Path& path, FillRule rule);
  void recordStroke(rec::Shape shape, const Rect& rect, const Path& path);

  Size size_;
  std::vector<RecordedState> stack_;
  std::vector<RecordedOp> ops_;
  int pages_ = 0;
};

}  // namespace graphics
