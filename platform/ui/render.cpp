#include "platform/ui/render.h"

#include "platform/files/file_ops.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/ui/animation.h"

namespace ui {

namespace {

void drawTree(View& view, graphics::Canvas& canvas, double inheritedAlpha) {
  // Drawn as it is shown now: an animation may be carrying its alpha and frame.
  double alpha = inheritedAlpha * presentedAlpha(view);
  if (view.isHidden() || alpha <= 0.0) return;
  Rect b = view.bounds();
  canvas.save();
  canvas.setAlpha(alpha);
  canvas.translate(-b.x(), -b.y());
  bool rounded = view.cornerRadius() > 0;
  if (view.clipsToBounds()) {
    if (rounded) {
      canvas.clipToPath(graphics::Path::roundedRect(b, view.cornerRadius()));
    } else {
      canvas.clipToRect(b);
    }
  }
  if (const auto& background = view.backgroundColor(); background && !background->isClear()) {
    canvas.save();
    canvas.setFillColor(*background);
    if (rounded) {
      canvas.fillPath(graphics::Path::roundedRect(b, view.cornerRadius()));
    } else {
      canvas.fillRect(b);
    }
    canvas.restore();
  }
  canvas.save();
  canvas.clipToRect(b);
  view.drawRect(canvas, b);
  canvas.restore();
  view.markDisplayed();
  // A subview may leave the tree while drawing runs (it should not, but keep it alive).
  auto subviews = view.subviews();
  for (auto& sub : subviews) {
    canvas.save();
    const Rect shown = presentedFrame(*sub);
    canvas.translate(shown.x(), shown.y());
    // A size on its way stretches what the view draws at its own size, as a layer's content does.
    const Size size = sub->frame().size;
    if (shown.size != size && size.width > 0 && size.height > 0)
      canvas.scale(shown.width() / size.width, shown.height() / size.height);
    drawTree(*sub, canvas, alpha);
    canvas.restore();
  }
  canvas.restore();
}

}  // namespace

void renderView(View& view, graphics::Canvas& canvas) {
  auto keep = view.weak_from_this().lock();
  view.layoutIfNeeded();
  graphics::ScopedCurrentCanvas current(canvas);
  drawTree(view, canvas, 1.0);
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
