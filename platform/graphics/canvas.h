#pragma once
// The drawing surface every view, cell, chart and the PDF report draws on.
//
// Coordinates are points with the origin at the top left and y growing downward; images and text
// draw upright. A Canvas keeps a graphics state (transform, clip, line and colour settings,
// antialiasing, alpha, blend mode) that save() and restore() push and pop, as the platform's
// graphics context does. Two backends: RecordingCanvas (recording_canvas.h) for tests, and
// CairoCanvas (cairo_canvas.h) for PNG and PDF output.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"

namespace graphics {

enum class LineCap { kButt, kRound, kSquare };
enum class LineJoin { kMiter, kRound, kBevel };
enum class FillRule { kNonZero, kEvenOdd };

// Compositing of drawn pixels over what is there.
enum class BlendMode {
  kNormal,
  kMultiply,
  kScreen,
  kOverlay,
  kDarken,
  kLighten,
  kColorDodge,
  kColorBurn,
  kSoftLight,
  kHardLight,
  kDifference,
  kExclusion,
  kHue,
  kSaturation,
  kColor,
  kLuminosity,
  kClear,
  kCopy,
  kSourceIn,
  kSourceOut,
  kSourceAtop,
  kDestinationOver,
  kDestinationIn,
  kDestinationOut,
  kDestinationAtop,
  kXor,
  kPlusLighter,
};

// The platform's values: left 0, centre 1, right 2, justified 3, natural 4 (left here).
enum class TextAlignment { kLeft = 0, kCenter = 1, kRight = 2, kJustified = 3, kNatural = 4 };
// The platform's values 0-5.
enum class LineBreakMode {
  kWordWrap = 0,
  kCharWrap = 1,
  kClip = 2,
  kTruncateHead = 3,
  kTruncateTail = 4,
  kTruncateMiddle = 5,
};

// A path of sub-paths made of lines, cubic curves and arcs; a value type.
class Path {
 public:
  enum class Kind { kMove, kLine, kCurve, kArc, kClose };
  struct Element {
    Kind kind = Kind::kMove;
    // kMove, kLine: points[0]. kCurve: control 1, control 2, end. kArc: points[0] is the centre.
    Point points[3];
    // kArc only. Angles in radians from the x axis; `clockwise` means clockwise on screen
    // (angles increasing, since y grows downward).
    double radius = 0;
    double startAngle = 0;
    double endAngle = 0;
    bool clockwise = true;
    friend bool operator==(const Element&, const Element&) = default;
  };

  void moveTo(Point p);
  void lineTo(Point p);
  void curveTo(Point control1, Point control2, Point end);
  // A quadratic curve, stored as the equivalent cubic.
  void quadCurveTo(Point control, Point end);
  // A circular arc; a line joins the current point to the arc's start when there is one.
  void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
  void closeSubpath();

  // Closed sub-paths.
  void addRect(const Rect& rect);
  void addEllipseInRect(const Rect& rect);
  // Corner radius clamped to half the shorter side.
  void addRoundedRect(const Rect& rect, double cornerRadius);
  // Separate segments: points 0–1, 2–3 and so on (an odd last point is ignored).
  void addLineSegments(const std::vector<Point>& points);

  static Path rect(const Rect& r);
  static Path ellipse(const Rect& r);
  static Path roundedRect(const Rect& r, double cornerRadius);
  static Path line(Point from, Point to);

  const std::vector<Element>& elements() const { return elements_; }
  bool isEmpty() const { return elements_.empty(); }
  std::optional<Point> currentPoint() const { return current_; }
  // Bounds of the end points, control points and arc extremes; null for an empty path.
  Rect boundingBox() const;
  // The straight segments of the path when it holds only moves, lines and closes; empty otherwise.
  std::vector<std::pair<Point, Point>> lineSegments() const;

  friend bool operator==(const Path&, const Path&) = default;

 private:
  std::vector<Element> elements_;
  std::optional<Point> current_;
  std::optional<Point> subpathStart_;
};

// A gradient between colours at locations 0…1; no locations spreads the colours evenly.
struct Gradient {
  std::vector<Color> colors;
  std::vector<double> locations;
  friend bool operator==(const Gradient&, const Gradient&) = default;
};

// Text in runs of one font and colour each, with the paragraph's alignment and line breaking.
struct TextRun {
  std::string text;  // UTF-8
  Font font;
  Color color = Color::black();
  friend bool operator==(const TextRun&, const TextRun&) = default;
};

struct AttributedText {
  std::vector<TextRun> runs;
  TextAlignment alignment = TextAlignment::kLeft;
  LineBreakMode lineBreak = LineBreakMode::kWordWrap;

  AttributedText() = default;
  AttributedText(std::string text, Font font, Color color = Color::black(),
                 TextAlignment alignment = TextAlignment::kLeft,
                 LineBreakMode lineBreak = LineBreakMode::kWordWrap);
  AttributedText& append(std::string text, Font font, Color color = Color::black());

  // The whole text.
  std::string string() const;
  bool isEmpty() const;
  friend bool operator==(const AttributedText&, const AttributedText&) = default;
};

// Default arguments are given here only, never on an override, because a default is chosen by
// the static type of the call: draw through Canvas& (or name every argument) to get these.
class Canvas {
 public:
  virtual ~Canvas() = default;

  // Graphics state. restore() without a matching save() does nothing.
  virtual void save() = 0;
  virtual void restore() = 0;
  virtual int saveDepth() const = 0;

  // The transform from user space to the canvas's base space (points at the canvas origin).
  virtual AffineTransform transform() const = 0;
  // Each applies before the current transform, as the platform's context functions do.
  virtual void translate(double dx, double dy) = 0;
  virtual void scale(double sx, double sy) = 0;
  virtual void rotate(double radians) = 0;
  virtual void concat(const AffineTransform& t) = 0;

  // Clips intersect with the current clip until the state is restored.
  virtual void clipToRect(const Rect& rect) = 0;
  virtual void clipToPath(const Path& path, FillRule rule = FillRule::kNonZero) = 0;
  // Later drawing shows through the mask image's alpha, stretched over `rect`.
  virtual void clipToMask(const Rect& rect, const Image& mask) = 0;

  virtual void setLineWidth(double width) = 0;
  virtual void setLineCap(LineCap cap) = 0;
  virtual void setLineJoin(LineJoin join) = 0;
  virtual void setMiterLimit(double limit) = 0;
  // No lengths: solid lines.
  virtual void setLineDash(double phase, const std::vector<double>& lengths) = 0;
  // Without antialiasing, edges snap to whole device pixels and a stroke is never thinner than one
  // device pixel, so a 0.5-point hairline shows as one pixel at scale 1 and at scale 2.
  virtual void setShouldAntialias(bool antialias) = 0;
  virtual void setFillColor(const Color& color) = 0;
  virtual void setStrokeColor(const Color& color) = 0;
  // Sets both, as the platform's colour `set` does.
  void setColor(const Color& color) {
    setFillColor(color);
    setStrokeColor(color);
  }
  // Global alpha multiplied into everything drawn.
  virtual void setAlpha(double alpha) = 0;
  virtual void setBlendMode(BlendMode mode) = 0;

  // Shapes, with the fill or stroke colour of the state.
  virtual void fillRect(const Rect& rect) = 0;
  virtual void strokeRect(const Rect& rect) = 0;
  virtual void fillEllipse(const Rect& rect) = 0;
  virtual void strokeEllipse(const Rect& rect) = 0;
  virtual void fillPath(const Path& path, FillRule rule = FillRule::kNonZero) = 0;
  virtual void strokePath(const Path& path) = 0;
  // Separate segments: points 0–1, 2–3 and so on.
  virtual void strokeLineSegments(const std::vector<Point>& points) = 0;
  void strokeLine(Point from, Point to) { strokeLineSegments({from, to}); }
  // Clears the rectangle to transparent.
  virtual void clearRect(const Rect& rect) = 0;

  // The image stretched into `rect`, with a blend mode and an alpha on top of the state's.
  virtual void drawImage(const Image& image, const Rect& rect, BlendMode mode = BlendMode::kNormal,
                         double alpha = 1.0) = 0;

  // drawImage() of an image that is shared and stays as it is (nothing changes it while it is
  // shared): a backend may keep what it makes of it for the next drawing of the same image.
  virtual void drawSharedImage(const std::shared_ptr<const Image>& image, const Rect& rect,
                               BlendMode mode = BlendMode::kNormal, double alpha = 1.0);

  // A JPEG file's bytes of `pixelSize` pixels, drawn as drawImage draws it (normal blend, alpha 1).
  // A PDF canvas embeds the bytes as they are instead of re-encoding decoded pixels; every other
  // canvas decodes them and draws the image (nothing when they do not decode).
  virtual void drawJpegData(const std::shared_ptr<const std::vector<std::uint8_t>>& jpeg, Size pixelSize,
                            const Rect& rect);

  // Text at a point: the top left of the first line's box; lines break only at newlines.
  virtual void drawText(const AttributedText& text, Point point) = 0;
  // Text in a rectangle: lines wrap at its width (or are truncated, by the line-break mode), align
  // within it, and only lines that fit its height are drawn (the first line always is).
  virtual void drawText(const AttributedText& text, const Rect& rect) = 0;
  void drawText(const std::string& text, Point point, const Font& font, const Color& color) {
    drawText(AttributedText(text, font, color), point);
  }
  void drawText(const std::string& text, const Rect& rect, const Font& font, const Color& color,
                TextAlignment alignment = TextAlignment::kLeft,
                LineBreakMode lineBreak = LineBreakMode::kWordWrap) {
    drawText(AttributedText(text, font, color, alignment, lineBreak), rect);
  }

  // A linear gradient along start→end, filling the clip; `extendStart`/`extendEnd` continue the end
  // colours beyond the ends.
  virtual void drawLinearGradient(const Gradient& gradient, Point start, Point end, bool extendStart = false,
                                  bool extendEnd = false) = 0;

  // Starts a new page on a paged (PDF) canvas; false on a canvas without pages.
  virtual bool beginPage() { return false; }
};

// The canvas drawing is going to on this thread (the platform's current graphics context).
Canvas* currentCanvas();

// Makes a canvas current for its lifetime; nests.
class ScopedCurrentCanvas {
 public:
  explicit ScopedCurrentCanvas(Canvas& canvas);
  ~ScopedCurrentCanvas();
  ScopedCurrentCanvas(const ScopedCurrentCanvas&) = delete;
  ScopedCurrentCanvas& operator=(const ScopedCurrentCanvas&) = delete;

 private:
  Canvas* previous_;
};

}  // namespace graphics
