#pragma once
// Rendering a view tree: each view draws its background, then its drawRect, then its subviews,
// each translated into its own coordinates; a view's own drawing is clipped to its bounds, its
// subviews only when it clips to bounds. Hidden and fully transparent views draw nothing; alpha
// multiplies down the tree. The tree is laid out first. Views are drawn where and how opaque they are
// shown now, which differs from their own values while an animation plays on them (animation.h): a
// size on its way stretches what a view draws itself, never its subviews, which go where their
// own frames are shown.

#include <filesystem>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/canvas.h"
#include "platform/graphics/image.h"
#include "platform/ui/view.h"

namespace ui {

// Draws the view with its top left at the canvas's current origin.
void renderView(View& view, graphics::Canvas& canvas);
// Draws a subview where its superview shows it now (its presented frame), the canvas's origin
// being the superview's bounds origin; `inheritedAlpha` is the superview's drawn alpha. The tree
// is expected to be laid out.
void drawSubview(View& subview, graphics::Canvas& canvas, double inheritedAlpha = 1);
// The view as a bitmap of its size at `scale` pixels a point.
foundation::Result<graphics::Image> renderToImage(View& view, double scale);
foundation::Result<foundation::Bytes> renderToPngData(View& view, double scale);
// Written atomically.
foundation::Status renderToPng(View& view, const std::filesystem::path& path, double scale);

}  // namespace ui
