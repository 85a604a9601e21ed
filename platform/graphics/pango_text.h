#pragma once
// Internal to the graphics library: laying out AttributedText with Pango, shared by the measurer
// and the cairo canvas so that what is measured is what is drawn. Other modules use
// text_measure.h and canvas.h instead.

#include <pango/pangocairo.h>

#include <memory>
#include <string>

#include "platform/graphics/canvas.h"

namespace graphics::pango_text {

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
using ContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

// A context at 72 units an inch without hinting, for this thread's font map.
ContextPtr newContext();

// How a layout treats its width.
enum class WidthUse {
  kNone,     // no width: lines break at newlines only
  kMeasure,  // wrap modes wrap at the width; other modes do not wrap
  kDraw,     // as kMeasure, and truncation modes ellipsize at the width
};

// The text is made valid UTF-8 first (invalid bytes become U+FFFD), so byte offsets refer to
// layoutText(text).
std::string layoutText(const AttributedText& text);
LayoutPtr newLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use);

inline double toPoints(int pangoUnits) { return static_cast<double>(pangoUnits) / PANGO_SCALE; }

// The layouts this thread measured last, so that a text measured again (a block measured, then
// measured within a width, then drawn) is laid out once. measuredLayout() answers from them and
// lays out on a miss; the canvas asks drawableLayout() before laying out a text to draw.
LayoutPtr measuredLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use);
// A layout the measurer made of `text` whose lines are exactly those a layout at `width` (0: none)
// would have, for drawing with the measurer's fonts; null when there is none. Only left-aligned
// texts that wrap or clip qualify.
LayoutPtr drawableLayout(const AttributedText& text, double width);

}  // namespace graphics::pango_text
