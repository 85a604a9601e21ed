#include "reports/pdf_viewer_controller.h"

#include <cairo.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>

#include "app/flat_widgets.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/storyboard.h"

namespace reports {

namespace {

foundation::Error viewerError(std::string description) {
  return foundation::Error::make("PdfViewerErrorDomain", 1, std::move(description));
}

// The grey the web view shows behind the pages until it is cleared.
ui::Color backdrop() { return ui::Color(0.5, 0.5, 0.5, 1); }

}  // namespace

struct PdfPagesView::Document {
  PopplerDocument* document = nullptr;
  ~Document() {
    if (document) g_object_unref(document);
  }
};

foundation::Status PdfPagesView::loadFile(const std::filesystem::path& path) {
  document_.reset();
  pageSizes_.clear();
  rendered_.clear();
  renderedPixelWidth_ = 0;
  setNeedsDisplay();
  GError* error = nullptr;
  gchar* uri = g_filename_to_uri(std::filesystem::absolute(path).c_str(), nullptr, &error);
  if (!uri) {
    std::string message = error ? error->message : "bad path";
    if (error) g_error_free(error);
    return viewerError("Could not open " + path.string() + ": " + message);
  }
  PopplerDocument* document = poppler_document_new_from_file(uri, nullptr, &error);
  g_free(uri);
  if (!document) {
    std::string message = error ? error->message : "not a PDF";
    if (error) g_error_free(error);
    return viewerError("Could not open " + path.string() + ": " + message);
  }
  document_ = std::make_shared<Document>();
  document_->document = document;
  const int pages = poppler_document_get_n_pages(document);
  for (int i = 0; i < pages; ++i) {
    PopplerPage* page = poppler_document_get_page(document, i);
    double w = 0, h = 0;
    if (page) {
      poppler_page_get_size(page, &w, &h);
      g_object_unref(page);
    }
    pageSizes_.push_back(graphics::Size(w, h));
  }
  return {};
}

double PdfPagesView::stackedHeight(double width) const {
  double height = 0;
  for (const graphics::Size& page : pageSizes_) {
    if (page.width <= 0 || page.height <= 0) continue;
    if (height > 0) height += kPageGap;
    height += page.height * width / page.width;
  }
  return height;
}

void PdfPagesView::drawRect(graphics::Canvas& canvas, const ui::Rect&) {
  if (!document_ || pageSizes_.empty()) return;
  const double width = bounds().width();
  if (width <= 0) return;
  // Pages are rendered at twice the view's width in pixels: sharp on the screens we render for.
  const int pixelWidth = static_cast<int>(std::ceil(width * 2));
  if (pixelWidth != renderedPixelWidth_) {
    rendered_.assign(pageSizes_.size(), nullptr);
    renderedPixelWidth_ = pixelWidth;
  }
  double y = 0;
  for (size_t i = 0; i < pageSizes_.size() && y < bounds().height(); ++i) {
    const graphics::Size page = pageSizes_[i];
    if (page.width <= 0 || page.height <= 0) continue;
    const double scale = width / page.width;
    const double height = page.height * scale;
    if (!rendered_[i]) {
      const int pixelHeight = static_cast<int>(std::ceil(height * 2));
      if (static_cast<std::int64_t>(pixelWidth) * pixelHeight > graphics::Image::kMaxPixels) break;
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
      cairo_t* cr = cairo_create(surface);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_scale(cr, pixelWidth / page.width, pixelWidth / page.width);
      if (PopplerPage* p = poppler_document_get_page(document_->document, static_cast<int>(i))) {
        poppler_page_render(p, cr);
        g_object_unref(p);
      }
      cairo_destroy(cr);
      cairo_surface_flush(surface);
      rendered_[i] = std::make_shared<const graphics::Image>(
          graphics::Image::fromCairoArgb32(cairo_image_surface_get_data(surface), pixelWidth, pixelHeight,
                                           cairo_image_surface_get_stride(surface), 2.0));
      cairo_surface_destroy(surface);
    }
    canvas.drawImage(*rendered_[i], graphics::Rect(0, y, width, height));
    y += height + kPageGap;
  }
}

PdfWebView::PdfWebView() : pages_(std::make_shared<PdfPagesView>()) {
  setBackgroundColor(backdrop());
  pages_->setBackgroundColor(backdrop());
  addSubview(pages_);
}

void PdfWebView::layoutSubviews() {
  // The pages take their whole stacked height, so the later pages (the teeth, the days) can be
  // scrolled to; never less than the view, so the backdrop behind a short report is the pages'.
  const ui::Size size = bounds().size;
  const double height = std::max(size.height, std::ceil(pages_->stackedHeight(size.width)));
  pages_->setFrame(ui::Rect(0, 0, size.width, height));
  setContentSize(ui::Size(size.width, height));
}

void PdfWebView::loadRequest(const std::filesystem::path& path,
                             std::function<void(const foundation::Status&)> finished) {
  auto status = pages_->loadFile(path);
  layoutSubviews();
  // A web view reports its load later, never from inside the request.
  std::weak_ptr<View> self = weak_from_this();
  runtime::RunLoop::main().performSoon([self, status, finished = std::move(finished)] {
    if (self.lock() && finished) finished(status);
  });
}

pdfViewerController::pdfViewerController() = default;

void pdfViewerController::viewDidLoad() {
  ViewController::viewDidLoad();
  auto root = view();
  pdfWebView_ = std::make_shared<PdfWebView>();
  pdfWebView_->setFrame(root->bounds());
  pdfWebView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  root->addSubview(pdfWebView_);
  std::weak_ptr<ViewController> weak = weak_from_this();
  navigationItem().setRightBarButtonItem(
      app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector("Send", [weak] {
        if (auto self = std::static_pointer_cast<pdfViewerController>(weak.lock())) self->sendMail();
      }));
  pdfWebView_->setAlpha(0);
  loadContentByPath(contentPath_);
}

void pdfViewerController::loadContentByPath(const std::filesystem::path& path) {
  if (!pdfWebView_) return;
  std::weak_ptr<ViewController> weak = weak_from_this();
  pdfWebView_->setScalesPageToFit(true);
  pdfWebView_->loadRequest(path, [weak](const foundation::Status& status) {
    auto self = std::static_pointer_cast<pdfViewerController>(weak.lock());
    if (!self || !self->pdfWebView_) return;
    self->loadStatus_ = status;
    self->webViewDidFinishLoad(*self->pdfWebView_);
  });
}

void pdfViewerController::webViewDidFinishLoad(PdfWebView&) {
  if (ui::device().systemVersionNumber() >= 8.0) {
    std::weak_ptr<ViewController> weak = weak_from_this();
    runtime::RunLoop::main().performAfter(0.1, [weak] {
      if (auto self = std::static_pointer_cast<pdfViewerController>(weak.lock())) self->clearBackground();
    });
  } else if (pdfWebView_) {
    // Older systems have no backdrop to clear: show the pages at once rather than never.
    pdfWebView_->setAlpha(1);
  }
}

void pdfViewerController::clearBackground() {
  // The first subview of each level down to the view that draws the pages.
  ui::View* v = pdfWebView_.get();
  PdfPagesView* pages = nullptr;
  while (v) {
    ui::View* first = v->subviews().empty() ? nullptr : v->subviews().front().get();
    if ((pages = dynamic_cast<PdfPagesView*>(first))) break;
    v = first;
  }
  if (!pages) return;
  pages->setBackgroundColor(ui::Color::clear());
  auto web = pdfWebView_;
  ui::animate(0.15, 0.15, ui::AnimationCurve::kEaseOut, [web] { web->setAlpha(1.0); });
}

void pdfViewerController::sendMail() {
  if (mailSend_delegate_) mailSend_delegate_->sendReport();
}

void registerPdfViewer(ui::Storyboard& storyboard) {
  storyboard.registerController(std::string(kPdfViewerControllerId),
                                [] { return std::make_shared<pdfViewerController>(); });
}

}  // namespace reports
