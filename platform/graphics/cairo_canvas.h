#pragma once
// The cairo backend of Canvas: bitmaps of any size and scale (read back as an Image or written to
// PNG) and PDF documents with pages. Text is laid out by Pango exactly as PangoTextMeasurer measures.
//
// A bitmap of w × h points at scale s has ceil(w·s) × ceil(h·s) pixels and starts transparent; one
// point is s pixels. A PDF is written to its file atomically by finish(); a PDF canvas destroyed
// without finish() writes nothing, so no half-written document is ever left behind. A canvas is used
// on the thread that made it (its fonts come from that thread's font map); other threads make their own.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/graphics/canvas.h"

struct _cairo;
struct _cairo_surface;

namespace graphics {

inline constexpr std::string_view kCanvasErrorDomain = "CanvasErrorDomain";

enum class CanvasError : std::int64_t {
  kInvalidSize = 1,      // a size that is not positive or too large
  kSurfaceFailed = 2,    // cairo could not make or draw the surface
  kWriteFailed = 3,      // the output file could not be written
  kWrongKind = 4,        // a bitmap operation on a PDF canvas or the reverse
  kAlreadyFinished = 5,  // the PDF was already finished
};

class CairoCanvas final : public Canvas {
 public:
  // A transparent bitmap; an error for a non-positive size or scale or more than Image::kMaxPixels.
  static foundation::Result<std::unique_ptr<CairoCanvas>> createBitmap(Size size, double scale);
  // A PDF of pages `pageSize` points large, written to `path` by finish(). Drawing before the first
  // beginPage() starts the first page implicitly.
  static foundation::Result<std::unique_ptr<CairoCanvas>> createPdf(const std::filesystem::path& path,
                                                                    Size pageSize);
  ~CairoCanvas() override;
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  bool isPdf() const;
  Size size() const;
  double scaleFactor() const;  // pixels a point (1 for a PDF)
  int pixelWidth() const;
  int pixelHeight() const;
  int pageCount() const;

  // Bitmap: the pixels drawn so far (straight alpha, at the canvas's scale).
  foundation::Result<Image> image() const;
  // Bitmap: transparent again, its state (transform, clip, colours) as when it was made, so that
  // one canvas serves picture after picture of one size without making and filling new pixels.
  void clearBitmap();
  // Bitmap: its pixels as cairo holds them (premultiplied ARGB32, the canvas's pixel size), for a
  // caller that shows them as they are drawn rather than reading them back as an Image. Flushed; it
  // lives as long as the canvas, and drawing on the canvas changes it. Null for a PDF.
  _cairo_surface* bitmapSurface() const;
  // Bitmap: a copy of its pixels as they are now, and that copy put back (true when it fits this
  // canvas's pixel size), for a caller that keeps part of a picture to draw the next one over.
  std::vector<std::uint8_t> pixelCopy() const;
  bool restorePixels(const std::vector<std::uint8_t>& copy);
  // Bitmap: written as PNG, atomically.
  foundation::Status writePng(const std::filesystem::path& path) const;
  // PDF: ends the last page and writes the file. Drawing afterwards is ignored.
  foundation::Status finish();

  void save() override;
  void restore() override;
  int saveDepth() const override;
  AffineTransform transform() const override;
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
  // Keeps the surface it makes of the image for this thread's next drawings of it (a few images).
  void drawSharedImage(const std::shared_ptr<const Image>& image, const Rect& rect, BlendMode mode,
                       double alpha) override;
  // On a PDF the bytes are embedded as the image's own JPEG stream (cairo's MIME data).
  void drawJpegData(const std::shared_ptr<const std::vector<std::uint8_t>>& jpeg, Size pixelSize,
                    const Rect& rect) override;
  void drawText(const AttributedText& text, Point point) override;
  void drawText(const AttributedText& text, const Rect& rect) override;
  void drawLinearGradient(const Gradient& gradient, Point start, Point end, bool extendStart,
                          bool extendEnd) override;
  bool beginPage() override;

  using Canvas::drawText;

 private:
  struct Impl;
  explicit CairoCanvas(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace graphics
