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

// Makes fontconfig read the system's font folders alone (see prepareFonts()); once a process.
void useFontFoldersConfig();

// A context at 72 units an inch without hinting, for this thread's font map.
ContextPtr newContext();
// This thread's context, made by newContext() on first use and kept while the thread lives: the one
// texts are measured and drawn with, so that the layouts measuredExtents() keeps serve both.
PangoContext* threadContext();

// How a layout treats its width.
enum class WidthUse {
  kNone,     // no width: lines break at newlines only
  kMeasure,  // wrap modes wrap at the width; other modes do not wrap
  kDraw,     // as kMeasure, and truncation modes ellipsize at the width
};

// The text is made valid UTF-8 first (invalid bytes become U+FFFD), so byte offsets refer to
// layoutText(text).
std::string layoutText(const AttributedText& text);
// A layout of `text`, its lines laid out. On a line, a run between two inked runs that holds only
// blanks (U+0020) whose glyphs leave no ink has its glyphs emptied, their advances kept, so that it
// measures as before. Drawn, such a run (the blank between runs of other sizes) would be a glyph of
// its own size and font, which a PDF writes as a new text matrix and font and back; the glyph after
// it might then be placed relative to the glyph before rather than at its own place, which moves it
// by less than a thousandth of its size.
LayoutPtr newLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use);

// The colour a layout of `text` draws in where it carries no colour of its own: its first inked
// run's. newLayout() gives text of one colour no colour attributes, so the caller sets this one as
// the cairo source before drawing.
Color baseColor(const AttributedText& text);

// The layout's line when it has only one, left to right and at its left edge (left-aligned, not
// justified, not indented), so that it stands at the layout's top left; null otherwise.
PangoLayoutLine* leftAlignedSingleLine(PangoLayout* layout);

inline double toPoints(int pangoUnits) { return static_cast<double>(pangoUnits) / PANGO_SCALE; }

// What measuring a layout gives: its logical box and its number of lines.
struct LayoutExtents {
  PangoRectangle logical{};
  int lineCount = 0;
};

// The layouts this thread measured last, with their extents, so that a text measured again (a block
// measured, then measured within a width, then drawn) is laid out and measured once.
// measuredExtents() answers from them and lays out on a miss; the canvas asks drawableLayout()
// before laying out a text to draw.
LayoutExtents measuredExtents(PangoContext* context, const AttributedText& text, double width, WidthUse use);
// The layout measuredExtents() answers from, for reading its lines and glyph places (never changed:
// the cache shares it).
LayoutPtr measuredLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use);
// A layout the measurer made of `text` whose lines are exactly those a layout at `width` (0: none)
// would have, for drawing with the measurer's fonts; null when there is none. A text that wraps
// qualifies when left-aligned, one that truncates when its single line fits.
LayoutPtr drawableLayout(const AttributedText& text, double width);

}  // namespace graphics::pango_text
