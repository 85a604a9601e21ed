#include "platform/graphics/cairo_canvas.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files/file_ops.h"
#include "platform/graphics/pango_text.h"

namespace graphics {
namespace {

constexpr int kMaxSurfaceSide = 32767;  // cairo's limit for image surfaces

foundation::Error canvasError(CanvasError code, std::string description) {
  return foundation::Error::make(std::string(kCanvasErrorDomain), static_cast<std::int64_t>(code),
                                 std::move(description));
}

struct SurfaceUnref {
  void operator()(cairo_surface_t* s) const {
    if (s) cairo_surface_destroy(s);
  }
};
using SurfacePtr = std::shared_ptr<cairo_surface_t>;

// An image surface holding the image's premultiplied pixels (the buffer lives with the surface).
SurfacePtr surfaceFromImage(const Image& image) {
  auto words = std::make_shared<std::vector<std::uint32_t>>(image.toCairoArgb32());
  cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(words->data()),
                                                           CAIRO_FORMAT_ARGB32, image.pixelWidth(),
                                                           image.pixelHeight(), image.pixelWidth() * 4);
  static cairo_user_data_key_t key;
  auto* keep = new std::shared_ptr<std::vector<std::uint32_t>>(words);
  cairo_surface_set_user_data(
      s, &key, keep, [](void* p) { delete static_cast<std::shared_ptr<std::vector<std::uint32_t>>*>(p); });
  return SurfacePtr(s, SurfaceUnref{});
}

// The surfaces this thread made of shared images it drew last, so that an image drawn again (the
// same picture in the next report) is not converted again. An entry holds its image weakly and
// counts only while that image lives.
class SharedSurfaces {
 public:
  static SharedSurfaces& get() {
    thread_local SharedSurfaces surfaces;
    return surfaces;
  }

  SurfacePtr surfaceOf(const std::shared_ptr<const Image>& image) {
    for (const Entry& e : entries_)
      if (e.address == image.get() && e.image.lock() == image) return e.surface;
    std::erase_if(entries_, [](const Entry& e) { return e.image.expired(); });
    if (entries_.size() >= kSize) entries_.erase(entries_.begin());
    entries_.push_back({image, image.get(), surfaceFromImage(*image)});
    return entries_.back().surface;
  }

 private:
  static constexpr size_t kSize = 24;
  struct Entry {
    std::weak_ptr<const Image> image;
    const Image* address;
    SurfacePtr surface;
  };
  std::vector<Entry> entries_;
};

// A pattern showing `surface` (w × h pixels) stretched over `rect` in user space.
cairo_pattern_t* stretchedPattern(cairo_surface_t* surface, int w, int h, const Rect& rect) {
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
  cairo_matrix_t m;
  cairo_matrix_init_scale(&m, w / rect.width(), h / rect.height());
  cairo_matrix_translate(&m, -rect.x(), -rect.y());
  cairo_pattern_set_matrix(pattern, &m);
  return pattern;
}

cairo_operator_t cairoOperator(BlendMode mode) {
  switch (mode) {
    case BlendMode::kNormal:
      return CAIRO_OPERATOR_OVER;
    case BlendMode::kMultiply:
      return CAIRO_OPERATOR_MULTIPLY;
    case BlendMode::kScreen:
      return CAIRO_OPERATOR_SCREEN;
    case BlendMode::kOverlay:
      return CAIRO_OPERATOR_OVERLAY;
    case BlendMode::kDarken:
      return CAIRO_OPERATOR_DARKEN;
    case BlendMode::kLighten:
      return CAIRO_OPERATOR_LIGHTEN;
    case BlendMode::kColorDodge:
      return CAIRO_OPERATOR_COLOR_DODGE;
    case BlendMode::kColorBurn:
      return CAIRO_OPERATOR_COLOR_BURN;
    case BlendMode::kSoftLight:
      return CAIRO_OPERATOR_SOFT_LIGHT;
    case BlendMode::kHardLight:
      return CAIRO_OPERATOR_HARD_LIGHT;
    case BlendMode::kDifference:
      return CAIRO_OPERATOR_DIFFERENCE;
    case BlendMode::kExclusion:
      return CAIRO_OPERATOR_EXCLUSION;
    case BlendMode::kHue:
      return CAIRO_OPERATOR_HSL_HUE;
    case BlendMode::kSaturation:
      return CAIRO_OPERATOR_HSL_SATURATION;
    case BlendMode::kColor:
      return CAIRO_OPERATOR_HSL_COLOR;
    case BlendMode::kLuminosity:
      return CAIRO_OPERATOR_HSL_LUMINOSITY;
    case BlendMode::kClear:
      return CAIRO_OPERATOR_CLEAR;
    case BlendMode::kCopy:
      return CAIRO_OPERATOR_SOURCE;
    case BlendMode::kSourceIn:
      return CAIRO_OPERATOR_IN;
    case BlendMode::kSourceOut:
      return CAIRO_OPERATOR_OUT;
    case BlendMode::kSourceAtop:
      return CAIRO_OPERATOR_ATOP;
    case BlendMode::kDestinationOver:
      return CAIRO_OPERATOR_DEST_OVER;
    case BlendMode::kDestinationIn:
      return CAIRO_OPERATOR_DEST_IN;
    case BlendMode::kDestinationOut:
      return CAIRO_OPERATOR_DEST_OUT;
    case BlendMode::kDestinationAtop:
      return CAIRO_OPERATOR_DEST_ATOP;
    case BlendMode::kXor:
      return CAIRO_OPERATOR_XOR;
    case BlendMode::kPlusLighter:
      return CAIRO_OPERATOR_ADD;
  }
  return CAIRO_OPERATOR_OVER;
}

void appendPath(cairo_t* cr, const Path& path) {
  cairo_new_path(cr);
  for (const Path::Element& e : path.elements()) {
    switch (e.kind) {
      case Path::Kind::kMove:
        cairo_move_to(cr, e.points[0].x, e.points[0].y);
        break;
      case Path::Kind::kLine:
        cairo_line_to(cr, e.points[0].x, e.points[0].y);
        break;
      case Path::Kind::kCurve:
        cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                       e.points[2].y);
        break;
      case Path::Kind::kArc:
        if (e.clockwise)
          cairo_arc(cr, e.points[0].x, e.points[0].y, e.radius, e.startAngle, e.endAngle);
        else
          cairo_arc_negative(cr, e.points[0].x, e.points[0].y, e.radius, e.startAngle, e.endAngle);
        break;
      case Path::Kind::kClose:
        cairo_close_path(cr);
        break;
    }
  }
}

AffineTransform fromCairo(const cairo_matrix_t& m) { return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0}; }
cairo_matrix_t toCairo(const AffineTransform& t) {
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  return m;
}

// Where a PDF goes as cairo writes it: its file, put in place when the canvas is finished, through a
// buffer (cairo writes a few bytes at a time). The first failure is kept for finish().
struct PdfFile {
  static constexpr size_t kBuffer = 64 * 1024;
  std::optional<files::AtomicWriter> writer;
  std::string buffer;
  std::optional<foundation::Error> error;

  bool flush() {
    if (!error && !buffer.empty()) {
      if (auto written = writer->write(buffer.data(), buffer.size()); !written.ok()) error = written.error();
    }
    buffer.clear();
    return !error;
  }
};

cairo_status_t writeToPdfFile(void* closure, const unsigned char* data, unsigned int length) {
  auto* file = static_cast<PdfFile*>(closure);
  file->buffer.append(reinterpret_cast<const char*>(data), length);
  if (file->buffer.size() >= PdfFile::kBuffer && !file->flush()) return CAIRO_STATUS_WRITE_ERROR;
  return CAIRO_STATUS_SUCCESS;
}

struct MaskClip {
  SurfacePtr surface;
  int pixelWidth = 0;
  int pixelHeight = 0;
  Rect rect;
  cairo_matrix_t ctm;
};

}  // namespace

struct CairoCanvas::Impl {
  struct State {
    Color fill = Color::black();
    Color stroke = Color::black();
    double lineWidth = 1.0;
    bool antialias = true;
    double alpha = 1.0;
    BlendMode blend = BlendMode::kNormal;
    std::vector<std::shared_ptr<const MaskClip>> masks;
  };

  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  bool pdf = false;
  bool finished = false;
  Size size;
  double scale = 1.0;
  int pixelWidth = 0;
  int pixelHeight = 0;
  int pages = 0;
  bool pageOpen = false;
  std::filesystem::path path;
  PdfFile pdfFile;
  std::vector<State> states{State{}};
  cairo_matrix_t base;

  ~Impl() {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }

  State& state() { return states.back(); }

  void resetState() {
    while (states.size() > 1) {
      states.pop_back();
      cairo_restore(cr);
    }
    states.front() = State{};
    cairo_set_matrix(cr, &base);
    cairo_reset_clip(cr);
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  }

  // False once finished; on a PDF, drawing before the first page begins it.
  bool drawable() {
    if (finished || !cr) return false;
    if (pdf && !pageOpen) {
      pageOpen = true;
      pages = std::max(pages, 1);
    }
    return true;
  }

  void applyAntialias() {
    cairo_set_antialias(cr, state().antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  }

  // Draws with `draw` (which sets its own source) through the state's masks, blend mode and the
  // extra alpha. Colour-based drawing folds the global alpha into its colours and passes 1.
  template <class Draw>
  void composite(const Draw& draw, double alpha) {
    State& st = state();
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (alpha <= 0) return;
    const cairo_operator_t op = cairoOperator(st.blend);
    if (st.masks.empty() && alpha >= 1.0) {
      cairo_set_operator(cr, op);
      draw();
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
      return;
    }
    cairo_push_group(cr);
    draw();
    cairo_pattern_t* content = cairo_pop_group(cr);
    for (const auto& mask : st.masks) {
      cairo_push_group(cr);
      cairo_set_source(cr, content);
      cairo_save(cr);
      cairo_set_matrix(cr, &mask->ctm);
      // Outside its rectangle the mask hides everything; inside, its edge pixels hold to the edge.
      const Rect r = mask->rect.standardized();
      cairo_new_path(cr);
      cairo_rectangle(cr, r.x(), r.y(), r.width(), r.height());
      cairo_clip(cr);
      cairo_pattern_t* maskPattern =
          stretchedPattern(mask->surface.get(), mask->pixelWidth, mask->pixelHeight, mask->rect);
      cairo_pattern_set_extend(maskPattern, CAIRO_EXTEND_PAD);
      cairo_mask(cr, maskPattern);
      cairo_pattern_destroy(maskPattern);
      cairo_restore(cr);
      cairo_pattern_destroy(content);
      content = cairo_pop_group(cr);
    }
    cairo_set_source(cr, content);
    cairo_set_operator(cr, op);
    cairo_paint_with_alpha(cr, alpha);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_pattern_destroy(content);
  }

  void setSource(const Color& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * state().alpha); }

  // An image surface of w × h pixels stretched into `rect`, its edge pixels held beyond its edges.
  void drawSurface(const SurfacePtr& surface, int w, int h, const Rect& rect, BlendMode mode, double alpha) {
    const BlendMode saved = state().blend;
    state().blend = mode;
    composite(
        [&] {
          cairo_pattern_t* pattern = stretchedPattern(surface.get(), w, h, rect);
          cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
          cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
          cairo_set_source(cr, pattern);
          const Rect r = rect.standardized();
          cairo_new_path(cr);
          cairo_rectangle(cr, r.x(), r.y(), r.width(), r.height());
          cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
          cairo_fill(cr);
          cairo_pattern_destroy(pattern);
        },
        alpha * state().alpha);
    state().blend = saved;
  }

  void fill(const Path& path, FillRule rule) {
    if (!drawable()) return;
    const Color color = state().fill;
    composite(
        [&] {
          applyAntialias();
          setSource(color);
          appendPath(cr, path);
          cairo_set_fill_rule(
              cr, rule == FillRule::kEvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
          cairo_fill(cr);
        },
        1.0);
  }

  // Without antialiasing a bitmap stroke is at least one device pixel wide, so hairlines show.
  double effectiveLineWidth() {
    double width = state().lineWidth;
    if (pdf || state().antialias) return width;
    double dx1 = width, dy1 = 0, dx2 = 0, dy2 = width;
    cairo_user_to_device_distance(cr, &dx1, &dy1);
    cairo_user_to_device_distance(cr, &dx2, &dy2);
    const double device = std::min(std::hypot(dx1, dy1), std::hypot(dx2, dy2));
    if (device >= 1.0) return width;
    // One device pixel in user units.
    double ux1 = 1, uy1 = 0, ux2 = 0, uy2 = 1;
    cairo_device_to_user_distance(cr, &ux1, &uy1);
    cairo_device_to_user_distance(cr, &ux2, &uy2);
    return std::max(std::hypot(ux1, uy1), std::hypot(ux2, uy2));
  }

  void stroke(const Path& path) {
    if (!drawable()) return;
    const Color color = state().stroke;
    composite(
        [&] {
          applyAntialias();
          setSource(color);
          cairo_set_line_width(cr, effectiveLineWidth());
          appendPath(cr, path);
          cairo_stroke(cr);
        },
        1.0);
  }

  void drawText(const AttributedText& text, const Rect& rect, bool inRect) {
    if (!drawable() || text.isEmpty()) return;
    if (state().alpha >= 1) {
      composite([&] { layoutAndShow(text, rect, inRect); }, 1.0);
      return;
    }
    AttributedText faded = text;
    for (TextRun& run : faded.runs) run.color = run.color.withAlpha(run.color.a * state().alpha);
    composite([&] { layoutAndShow(faded, rect, inRect); }, 1.0);
  }

  void layoutAndShow(const AttributedText& text, const Rect& rect, bool inRect) {
    const bool wrapOrTruncate = inRect && rect.width() > 0 && text.lineBreak != LineBreakMode::kClip;
    // Texts are laid out in points, as they were measured, whatever the scale they are drawn at:
    // cairo draws the glyphs at the device's size, and the fonts and layout the measurer just made
    // serve the drawing instead of a second set loaded for the device's scale.
    pango_text::LayoutPtr layout = pango_text::drawableLayout(text, wrapOrTruncate ? rect.width() : 0);
    if (!layout)
      layout = pango_text::newLayout(pango_text::threadContext(), text, wrapOrTruncate ? rect.width() : 0,
                                     wrapOrTruncate ? pango_text::WidthUse::kDraw : pango_text::WidthUse::kNone);
    const Color base = pango_text::baseColor(text);
    cairo_set_source_rgba(cr, base.r, base.g, base.b, base.a);
    const bool widthSet = pango_layout_get_width(layout.get()) >= 0;
    const bool clipped = inRect && text.lineBreak == LineBreakMode::kClip;
    if (clipped) {
      cairo_save(cr);
      cairo_rectangle(cr, rect.x(), rect.y(), rect.width(), rect.height());
      cairo_clip(cr);
    }
    // One line `logical` (in layout units, from the layout's top left) with its baseline there.
    auto show = [&](PangoLayoutLine* line, const PangoRectangle& logical, int baseline) {
      double x = rect.x() + pango_text::toPoints(logical.x);
      if (inRect && !widthSet) {
        const double lineWidth = pango_text::toPoints(logical.width);
        double offset = 0;
        if (text.alignment == TextAlignment::kCenter) offset = (rect.width() - lineWidth) / 2;
        if (text.alignment == TextAlignment::kRight) offset = rect.width() - lineWidth;
        x = rect.x() + offset;
      }
      cairo_move_to(cr, x, rect.y() + pango_text::toPoints(baseline));
      pango_cairo_show_layout_line(cr, line);
    };
    if (PangoLayoutLine* only = pango_text::leftAlignedSingleLine(layout.get())) {
      // Most texts: the line starts at the layout's top left, without an iterator's bookkeeping.
      PangoRectangle logical;
      pango_layout_line_get_extents(only, nullptr, &logical);
      show(only, logical, -logical.y);
    } else {
      PangoLayoutIter* iter = pango_layout_get_iter(layout.get());
      bool firstLine = true;
      do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        const double bottom = pango_text::toPoints(logical.y) + pango_text::toPoints(logical.height);
        if (inRect && !firstLine && bottom > rect.height() + 0.01) break;
        firstLine = false;
        show(pango_layout_iter_get_line_readonly(iter), logical, pango_layout_iter_get_baseline(iter));
      } while (pango_layout_iter_next_line(iter));
      pango_layout_iter_free(iter);
    }
    if (clipped) cairo_restore(cr);
  }
};

CairoCanvas::CairoCanvas(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CairoCanvas::~CairoCanvas() = default;

foundation::Result<std::unique_ptr<CairoCanvas>> CairoCanvas::createBitmap(Size size, double scale) {
  if (!(size.width > 0) || !(size.height > 0) || !(scale > 0) || !std::isfinite(size.width * scale) ||
      !std::isfinite(size.height * scale))
    return canvasError(CanvasError::kInvalidSize, "A bitmap needs a positive size and scale");
  const double pw = std::ceil(size.width * scale - 1e-9), ph = std::ceil(size.height * scale - 1e-9);
  if (pw > kMaxSurfaceSide || ph > kMaxSurfaceSide || pw * ph > static_cast<double>(Image::kMaxPixels))
    return canvasError(CanvasError::kInvalidSize, "The bitmap is too large");
  auto impl = std::make_unique<Impl>();
  impl->pixelWidth = static_cast<int>(pw);
  impl->pixelHeight = static_cast<int>(ph);
  impl->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, impl->pixelWidth, impl->pixelHeight);
  if (cairo_surface_status(impl->surface) != CAIRO_STATUS_SUCCESS)
    return canvasError(CanvasError::kSurfaceFailed, "cairo could not make the bitmap");
  impl->cr = cairo_create(impl->surface);
  impl->size = size;
  impl->scale = scale;
  cairo_scale(impl->cr, scale, scale);
  cairo_get_matrix(impl->cr, &impl->base);
  return std::unique_ptr<CairoCanvas>(new CairoCanvas(std::move(impl)));
}

foundation::Result<std::unique_ptr<CairoCanvas>> CairoCanvas::createPdf(const std::filesystem::path& path,
                                                                        Size pageSize) {
  if (!(pageSize.width > 0) || !(pageSize.height > 0) || pageSize.width > 14400 || pageSize.height > 14400)
    return canvasError(CanvasError::kInvalidSize, "A PDF page needs a positive size up to 14400 points");
  if (path.empty() || !std::filesystem::is_directory(path.has_parent_path() ? path.parent_path() : "."))
    return canvasError(CanvasError::kWriteFailed, "The PDF's folder does not exist: " + path.string());
  auto impl = std::make_unique<Impl>();
  impl->pdf = true;
  impl->path = path;
  auto file = files::AtomicWriter::create(path);
  if (!file.ok()) return canvasError(CanvasError::kWriteFailed, "Could not write " + path.string());
  impl->pdfFile.writer = std::move(file).value();
  impl->pdfFile.buffer.reserve(PdfFile::kBuffer);
  impl->surface =
      cairo_pdf_surface_create_for_stream(writeToPdfFile, &impl->pdfFile, pageSize.width, pageSize.height);
  if (cairo_surface_status(impl->surface) != CAIRO_STATUS_SUCCESS)
    return canvasError(CanvasError::kSurfaceFailed, "cairo could not make the PDF");
  impl->cr = cairo_create(impl->surface);
  impl->size = pageSize;
  impl->scale = 1.0;
  impl->pixelWidth = static_cast<int>(std::ceil(pageSize.width));
  impl->pixelHeight = static_cast<int>(std::ceil(pageSize.height));
  cairo_get_matrix(impl->cr, &impl->base);
  return std::unique_ptr<CairoCanvas>(new CairoCanvas(std::move(impl)));
}

bool CairoCanvas::isPdf() const { return impl_->pdf; }
Size CairoCanvas::size() const { return impl_->size; }
double CairoCanvas::scaleFactor() const { return impl_->scale; }
int CairoCanvas::pixelWidth() const { return impl_->pixelWidth; }
int CairoCanvas::pixelHeight() const { return impl_->pixelHeight; }
int CairoCanvas::pageCount() const { return impl_->pages; }
int CairoCanvas::saveDepth() const { return static_cast<int>(impl_->states.size()) - 1; }

foundation::Result<Image> CairoCanvas::image() const {
  if (impl_->pdf) return canvasError(CanvasError::kWrongKind, "A PDF canvas has no bitmap");
  cairo_surface_flush(impl_->surface);
  return Image::fromCairoArgb32(cairo_image_surface_get_data(impl_->surface), impl_->pixelWidth,
                                impl_->pixelHeight, cairo_image_surface_get_stride(impl_->surface),
                                impl_->scale);
}

void CairoCanvas::clearBitmap() {
  if (impl_->pdf || !impl_->cr) return;
  impl_->resetState();
  cairo_save(impl_->cr);
  cairo_set_operator(impl_->cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(impl_->cr);
  cairo_restore(impl_->cr);
}

_cairo_surface* CairoCanvas::bitmapSurface() const {
  if (impl_->pdf) return nullptr;
  cairo_surface_flush(impl_->surface);
  return impl_->surface;
}

std::vector<std::uint8_t> CairoCanvas::pixelCopy() const {
  if (impl_->pdf) return {};
  cairo_surface_flush(impl_->surface);
  const std::uint8_t* data = cairo_image_surface_get_data(impl_->surface);
  return std::vector<std::uint8_t>(data, data + static_cast<size_t>(cairo_image_surface_get_stride(impl_->surface)) *
                                                    static_cast<size_t>(impl_->pixelHeight));
}

bool CairoCanvas::restorePixels(const std::vector<std::uint8_t>& copy) {
  if (impl_->pdf) return false;
  const size_t bytes =
      static_cast<size_t>(cairo_image_surface_get_stride(impl_->surface)) * static_cast<size_t>(impl_->pixelHeight);
  if (copy.size() != bytes) return false;
  cairo_surface_flush(impl_->surface);
  std::memcpy(cairo_image_surface_get_data(impl_->surface), copy.data(), bytes);
  cairo_surface_mark_dirty(impl_->surface);
  return true;
}

foundation::Status CairoCanvas::writePng(const std::filesystem::path& path) const {
  auto img = image();
  if (!img) return img.error();
  auto png = img->pngData();
  if (!png) return png.error();
  auto written = files::writeAtomic(path, *png);
  if (!written) return canvasError(CanvasError::kWriteFailed, "Could not write " + path.string());
  return {};
}

foundation::Status CairoCanvas::finish() {
  if (!impl_->pdf) return canvasError(CanvasError::kWrongKind, "Only a PDF canvas is finished");
  if (impl_->finished) return canvasError(CanvasError::kAlreadyFinished, "The PDF was already finished");
  impl_->finished = true;
  // Every begun page is written, blank or not; a document needs at least one.
  if (!impl_->pageOpen && impl_->pages == 0) impl_->pages = 1;
  impl_->resetState();
  cairo_show_page(impl_->cr);
  impl_->pageOpen = false;
  cairo_destroy(impl_->cr);
  impl_->cr = nullptr;
  cairo_surface_finish(impl_->surface);
  const cairo_status_t status = cairo_surface_status(impl_->surface);
  cairo_surface_destroy(impl_->surface);
  impl_->surface = nullptr;
  // The file is put in place only whole: a failed write or a failed cairo leave the old one.
  PdfFile& file = impl_->pdfFile;
  const bool flushed = file.flush();
  if (flushed && status != CAIRO_STATUS_SUCCESS) {
    file.writer.reset();
    return canvasError(CanvasError::kSurfaceFailed,
                       std::string("cairo failed: ") + cairo_status_to_string(status));
  }
  if (!flushed || !file.writer->commit().ok())
    return canvasError(CanvasError::kWriteFailed, "Could not write " + impl_->path.string());
  return {};
}

bool CairoCanvas::beginPage() {
  if (!impl_->pdf || impl_->finished) return false;
  if (impl_->pageOpen) {
    impl_->resetState();
    cairo_show_page(impl_->cr);
  }
  impl_->pageOpen = true;
  impl_->pages++;
  return true;
}

void CairoCanvas::save() {
  if (!impl_->cr) return;
  cairo_save(impl_->cr);
  impl_->states.push_back(impl_->state());
}

void CairoCanvas::restore() {
  if (!impl_->cr || impl_->states.size() <= 1) return;
  cairo_restore(impl_->cr);
  impl_->states.pop_back();
}

AffineTransform CairoCanvas::transform() const {
  if (!impl_->cr) return {};
  cairo_matrix_t m;
  cairo_get_matrix(impl_->cr, &m);
  return fromCairo(m).concat(fromCairo(impl_->base).inverted());
}

void CairoCanvas::translate(double dx, double dy) {
  if (impl_->cr) cairo_translate(impl_->cr, dx, dy);
}
void CairoCanvas::scale(double sx, double sy) {
  // A zero scale would make cairo's matrix singular and stop all drawing; ignore it as nothing would show.
  if (impl_->cr && sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy))
    cairo_scale(impl_->cr, sx, sy);
}
void CairoCanvas::rotate(double radians) {
  if (impl_->cr && std::isfinite(radians)) cairo_rotate(impl_->cr, radians);
}
void CairoCanvas::concat(const AffineTransform& t) {
  if (!impl_->cr) return;
  const double det = t.a * t.d - t.b * t.c;
  if (det == 0 || !std::isfinite(det) || !std::isfinite(t.tx) || !std::isfinite(t.ty)) return;
  const cairo_matrix_t m = toCairo(t);
  cairo_transform(impl_->cr, &m);
}

void CairoCanvas::clipToRect(const Rect& rect) { clipToPath(Path::rect(rect), FillRule::kNonZero); }

void CairoCanvas::clipToPath(const Path& path, FillRule rule) {
  if (!impl_->cr) return;
  impl_->applyAntialias();
  appendPath(impl_->cr, path);
  cairo_set_fill_rule(impl_->cr,
                      rule == FillRule::kEvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_clip(impl_->cr);
}

void CairoCanvas::clipToMask(const Rect& rect, const Image& mask) {
  if (!impl_->cr) return;
  if (mask.isEmpty() || rect.isEmpty()) {
    // Nothing shows through an empty mask.
    cairo_new_path(impl_->cr);
    cairo_rectangle(impl_->cr, 0, 0, 0, 0);
    cairo_clip(impl_->cr);
    return;
  }
  auto clip = std::make_shared<MaskClip>();
  clip->surface = surfaceFromImage(mask);
  clip->pixelWidth = mask.pixelWidth();
  clip->pixelHeight = mask.pixelHeight();
  clip->rect = rect;
  cairo_get_matrix(impl_->cr, &clip->ctm);
  impl_->state().masks.push_back(std::move(clip));
}

void CairoCanvas::setLineWidth(double width) {
  impl_->state().lineWidth = std::isfinite(width) ? std::max(width, 0.0) : 1.0;
}
void CairoCanvas::setLineCap(LineCap cap) {
  if (!impl_->cr) return;
  cairo_set_line_cap(impl_->cr, cap == LineCap::kRound    ? CAIRO_LINE_CAP_ROUND
                                : cap == LineCap::kSquare ? CAIRO_LINE_CAP_SQUARE
                                                          : CAIRO_LINE_CAP_BUTT);
}
void CairoCanvas::setLineJoin(LineJoin join) {
  if (!impl_->cr) return;
  cairo_set_line_join(impl_->cr, join == LineJoin::kRound   ? CAIRO_LINE_JOIN_ROUND
                                 : join == LineJoin::kBevel ? CAIRO_LINE_JOIN_BEVEL
                                                            : CAIRO_LINE_JOIN_MITER);
}
void CairoCanvas::setMiterLimit(double limit) {
  if (impl_->cr && std::isfinite(limit)) cairo_set_miter_limit(impl_->cr, limit);
}
void CairoCanvas::setLineDash(double phase, const std::vector<double>& lengths) {
  if (!impl_->cr) return;
  // cairo refuses negative lengths and all-zero patterns; such a dash draws solid.
  const bool valid =
      std::all_of(lengths.begin(), lengths.end(), [](double l) { return l >= 0 && std::isfinite(l); }) &&
      std::any_of(lengths.begin(), lengths.end(), [](double l) { return l > 0; });
  if (lengths.empty() || !valid) {
    cairo_set_dash(impl_->cr, nullptr, 0, 0);
    return;
  }
  cairo_set_dash(impl_->cr, lengths.data(), static_cast<int>(lengths.size()), phase);
}
void CairoCanvas::setShouldAntialias(bool antialias) { impl_->state().antialias = antialias; }
void CairoCanvas::setFillColor(const Color& color) { impl_->state().fill = color; }
void CairoCanvas::setStrokeColor(const Color& color) { impl_->state().stroke = color; }
void CairoCanvas::setAlpha(double alpha) {
  impl_->state().alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}
void CairoCanvas::setBlendMode(BlendMode mode) { impl_->state().blend = mode; }

void CairoCanvas::fillRect(const Rect& rect) { impl_->fill(Path::rect(rect), FillRule::kNonZero); }
void CairoCanvas::strokeRect(const Rect& rect) { impl_->stroke(Path::rect(rect)); }
void CairoCanvas::fillEllipse(const Rect& rect) { impl_->fill(Path::ellipse(rect), FillRule::kNonZero); }
void CairoCanvas::strokeEllipse(const Rect& rect) { impl_->stroke(Path::ellipse(rect)); }
void CairoCanvas::fillPath(const Path& path, FillRule rule) { impl_->fill(path, rule); }
void CairoCanvas::strokePath(const Path& path) { impl_->stroke(path); }
void CairoCanvas::strokeLineSegments(const std::vector<Point>& points) {
  Path path;
  path.addLineSegments(points);
  impl_->stroke(path);
}

void CairoCanvas::clearRect(const Rect& rect) {
  if (!impl_->drawable()) return;
  cairo_t* cr = impl_->cr;
  cairo_save(cr);
  impl_->applyAntialias();
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_rectangle(cr, rect.x(), rect.y(), rect.width(), rect.height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void CairoCanvas::drawImage(const Image& image, const Rect& rect, BlendMode mode, double alpha) {
  if (image.isEmpty() || rect.isEmpty() || !std::isfinite(rect.width()) || !std::isfinite(rect.height()))
    return;
  if (!impl_->drawable()) return;
  impl_->drawSurface(surfaceFromImage(image), image.pixelWidth(), image.pixelHeight(), rect, mode, alpha);
}

void CairoCanvas::drawSharedImage(const std::shared_ptr<const Image>& image, const Rect& rect, BlendMode mode,
                                  double alpha) {
  if (!image || image->isEmpty() || rect.isEmpty() || !std::isfinite(rect.width()) ||
      !std::isfinite(rect.height()))
    return;
  if (!impl_->drawable()) return;
  impl_->drawSurface(SharedSurfaces::get().surfaceOf(image), image->pixelWidth(), image->pixelHeight(), rect,
                     mode, alpha);
}

void CairoCanvas::drawJpegData(const std::shared_ptr<const std::vector<std::uint8_t>>& jpeg, Size pixelSize,
                               const Rect& rect) {
  const int w = static_cast<int>(pixelSize.width), h = static_cast<int>(pixelSize.height);
  if (!impl_->pdf || !jpeg || jpeg->empty() || w <= 0 || h <= 0 ||
      static_cast<std::int64_t>(w) * h > Image::kMaxPixels) {
    Canvas::drawJpegData(jpeg, pixelSize, rect);
    return;
  }
  if (rect.isEmpty() || !std::isfinite(rect.width()) || !std::isfinite(rect.height())) return;
  if (!impl_->drawable()) return;
  // The PDF surface writes the attached JPEG stream, at its own size, in place of the surface's
  // pixels, which it never reads: one blank pixel stretched over the rectangle stands in for them.
  // (A surface of the image's size would be cleared, and copied whole when released while the
  // document still refers to it.)
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1), SurfaceUnref{});
  auto* keep = new std::shared_ptr<const std::vector<std::uint8_t>>(jpeg);
  if (cairo_surface_set_mime_data(
          surface.get(), CAIRO_MIME_TYPE_JPEG, jpeg->data(), jpeg->size(),
          [](void* p) { delete static_cast<std::shared_ptr<const std::vector<std::uint8_t>>*>(p); },
          keep) != CAIRO_STATUS_SUCCESS) {
    delete keep;
    Canvas::drawJpegData(jpeg, pixelSize, rect);
    return;
  }
  impl_->composite(
      [&] {
        cairo_t* cr = impl_->cr;
        cairo_pattern_t* pattern = stretchedPattern(surface.get(), 1, 1, rect);
        // Not PAD: cairo embeds a padded copy for that, re-encoded and without the JPEG stream.
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_NONE);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        cairo_set_source(cr, pattern);
        // Outside its rectangle the pattern is clear, so painting covers just the rectangle; a
        // filled rectangle would cost the document a clip of its own around every photo.
        cairo_paint(cr);
        cairo_pattern_destroy(pattern);
      },
      impl_->state().alpha);
}

void CairoCanvas::drawText(const AttributedText& text, Point point) {
  impl_->drawText(text, Rect(point.x, point.y, 0, 0), false);
}

void CairoCanvas::drawText(const AttributedText& text, const Rect& rect) {
  impl_->drawText(text, rect, true);
}

void CairoCanvas::drawLinearGradient(const Gradient& gradient, Point start, Point end, bool extendStart,
                                     bool extendEnd) {
  if (gradient.colors.empty() || (start == end)) return;
  if (!impl_->drawable()) return;
  impl_->composite(
      [&] {
        cairo_t* cr = impl_->cr;
        cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
        const size_t n = gradient.colors.size();
        for (size_t i = 0; i < n; ++i) {
          double location = n == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(n - 1);
          if (gradient.locations.size() == n) location = std::clamp(gradient.locations[i], 0.0, 1.0);
          const Color& c = gradient.colors[i];
          cairo_pattern_add_color_stop_rgba(pattern, location, c.r, c.g, c.b, c.a);
          if (n == 1) cairo_pattern_add_color_stop_rgba(pattern, 1.0, c.r, c.g, c.b, c.a);
        }
        cairo_pattern_set_extend(pattern, extendStart || extendEnd ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
        cairo_save(cr);
        if (extendStart != extendEnd) {
          // Keep only the half-plane on the extended side of the end that is not extended.
          const Point edge = extendStart ? end : start;
          const double dx = end.x - start.x, dy = end.y - start.y;
          const double len = std::hypot(dx, dy);
          const double ux = dx / len, uy = dy / len;
          const double big = 1e6;
          const double sign = extendStart ? -1.0 : 1.0;  // toward the kept side
          cairo_new_path(cr);
          cairo_move_to(cr, edge.x - uy * big, edge.y + ux * big);
          cairo_line_to(cr, edge.x + uy * big, edge.y - ux * big);
          cairo_line_to(cr, edge.x + uy * big + sign * ux * big, edge.y - ux * big + sign * uy * big);
          cairo_line_to(cr, edge.x - uy * big + sign * ux * big, edge.y + ux * big + sign * uy * big);
          cairo_close_path(cr);
          cairo_clip(cr);
        }
        cairo_set_source(cr, pattern);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_pattern_destroy(pattern);
      },
      impl_->state().alpha);
}

}  // namespace graphics
