#pragma once
// The drawing primitives every block of the PDF report goes through, on any Canvas: US Letter
// pages (612 x 792 points, origin top left, y down), the violet page background, ruled lines and
// measured text blocks that move to a new page when they do not fit above y = 742.
//
// A text block is measured first; its box is the measured size cut to whole points plus 4 on each
// axis, at the start point cut to whole points. Where the report's fixed layout would run off the
// page, the block stays on it instead:
//   - text measured without a width limit wraps at the page's right margin (x = 562), so a long name
//     or heading never runs off the right edge;
//   - a block taller than a page is split between lines across as many pages as it needs.
// Measuring uses graphics::defaultTextMeasurer(), which agrees with what CairoCanvas draws.

#include <array>

#include "platform/graphics/canvas.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"

namespace reports::pdf {

inline constexpr double kPageWidth = 612.0;
inline constexpr double kPageHeight = 792.0;
// A text block fits while its top plus its height is below this.
inline constexpr double kTextBottom = 742.0;
// The y of the first block on a page a text block started.
inline constexpr double kPageTop = 50.0;
// The left and right margin that unlimited text wraps within.
inline constexpr double kMargin = 50.0;
inline constexpr double kBackFillWidth = 512.0;
inline constexpr double kTextPadding = 4.0;
inline constexpr double kLineWidth = 0.5;

// Components 0-255 as the report gives them, each n/255 in single precision.
graphics::Color rgb255(int r, int g, int b, double alpha = 1.0);
// RGB 140, 127, 243: the colourful page background.
graphics::Color violet();
// The back fill behind a text block: RGB 242, 239, 252 printing, violet colourful.
graphics::Color backFillColor(bool forPrint);

// True when the rectangle's bottom (y + height) is above 742; x and width are not looked at.
bool contains_page(const graphics::Rect& rect);

void drawLineFromPointToPointWithColor(graphics::Canvas& canvas, graphics::Point from, graphics::Point to,
                                       const graphics::Color& color);
void fillRectInFrameWithColor(graphics::Canvas& canvas, const graphics::Rect& rect,
                              const graphics::Color& color);
// The whole page in violet.
void fillBackground(graphics::Canvas& canvas);
// A vertical gradient over the page from the first RGBA colour (top) to the second (bottom).
void fillBackgroundWithGradient(graphics::Canvas& canvas, const std::array<float, 8>& components);
// Starts a new page, with the violet background in the colourful style.
void beginPage(graphics::Canvas& canvas, bool forPrint);

// Draws one text block at `point`, measured within `boundingSize` (a width of 0: no limit) and
// moved to the top of a new page when it does not fit. With `fillBack` a 512-point band of the
// style's back-fill colour lies behind it. Returns the block's top left (after any page break) or,
// with `setNextLine`, its bottom left.
graphics::Point drawText(graphics::Canvas& canvas, const graphics::AttributedText& text,
                         graphics::Point point, graphics::Size boundingSize, bool fillBack, bool setNextLine,
                         bool forPrint);

// The padded box a text block takes at `point` (before any page break).
graphics::Size textBlockSize(const graphics::AttributedText& text, graphics::Point point,
                             graphics::Size boundingSize);

}  // namespace reports::pdf
