#include "platform/ui/render.h"

#include "platform/files/file_ops.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/ui/animation.h"

namespace ui {

namespace {

// Draws a view at the canvas's origin. While an animation carries its size, what the view draws
// itself (its background and its drawRect) is stretched from its own size to the size shown, as a
// layer's content is; its subviews are not: each goes where its own frame is shown, so that a bar
// or a list on its way keeps its texts and rows whole.
void drawTree(View& view, graphics::Canvas& canvas, double inheritedAlpha, Size shownSize) {
  // Drawn as it is shown now: an animation may be carrying its alpha and frame.
  double alpha = inheritedAlpha * presentedAlpha(view);
  if (view.isHidden() || alpha <= 0.0) return;
  Rect b = view.bounds();
  const double sx = b.width() > 0 ? shownSize.width / b.width() : 1;
  const double sy = b.height() > 0 ? shownSize.height / b.height() : 1;
  const bool stretched = sx != 1 || sy != 1;
  canvas.save();
  canvas.setAlpha(alpha);
  canvas.translate(-b.x(), -b.y());
  bool rounded = view.cornerRadius() > 0;
  if (view.clipsToBounds()) {
    const Rect shown(b.x(), b.y(), shownSize.width, shownSize.height);
    if (rounded) {
      canvas.clipToPath(graphics::Path::roundedRect(shown, view.cornerRadius()));
    } else {
      canvas.clipToRect(shown);
    }
  }
  canvas.save();
  if (stretched) {
    canvas.translate(b.x(), b.y());
    canvas.scale(sx, sy);
    canvas.translate(-b.x(), -b.y());
  }
  if (const auto& background = view.backgroundColor(); background && !background->isClear()) {
    canvas.setFillColor(*background);
    if (rounded) {
      canvas.fillPath(graphics::Path::roundedRect(b, view.cornerRadius()));
    } else {
      canvas.fillRect(b);
    }
  }
  canvas.clipToRect(b);
  view.drawRect(canvas, b);
  canvas.restore();
  view.markDisplayed();
  // A subview may leave the tree while drawing runs (it should not, but keep it alive).
  auto subviews = view.subviews();
  for (auto& sub : subviews) drawSubview(*sub, canvas, alpha);
  canvas.restore();
}

}  // namespace

void drawSubview(View& subview, graphics::Canvas& canvas, double inheritedAlpha) {
  const Rect shown = presentedFrame(subview);
  canvas.save();
  canvas.translate(shown.x(), shown.y());
  drawTree(subview, canvas, inheritedAlpha, shown.size);
  canvas.restore();
}

void renderView(View& view, graphics::Canvas& canvas) {
  auto keep = view.weak_from_this().lock();
  view.layoutIfNeeded();
  graphics::ScopedCurrentCanvas current(canvas);
  drawTree(view, canvas, 1.0, view.bounds().size);
}

foundation::Result<graphics::Image> renderToImage(View& view, double scale) {
  auto keep = view.weak_from_this().lock();
  view.layoutIfNeeded();
  auto canvas = graphics::CairoCanvas::createBitmap(view.bounds().size, scale);
  if (!canvas.ok()) return canvas.error();
  renderView(view, **canvas);
  return (*canvas)->image();
}

foundation::Result<foundation::Bytes> renderToPngData(View& view, double scale) {
  auto image = renderToImage(view, scale);
  if (!image.ok()) return image.error();
  return image->pngData();
}

foundation::Status renderToPng(View& view, const std::filesystem::path& path, double scale) {
  auto data = renderToPngData(view, scale);
  if (!data.ok()) return data.error();
  return files::writeAtomic(path, *data);
}

}  // namespace ui
