#include "reports/pdf_layout.h"

#include <cmath>
#include <vector>

#include "platform/graphics/text_measure.h"

namespace reports::pdf {

using graphics::AttributedText;
using graphics::Canvas;
using graphics::Color;
using graphics::Point;
using graphics::Rect;
using graphics::Size;

Color rgb255(int r, int g, int b, double alpha) {
  return Color(static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f, static_cast<float>(b) / 255.0f,
               alpha);
}

Color violet() { return rgb255(140, 127, 243); }

Color backFillColor(bool forPrint) { return forPrint ? rgb255(242, 239, 252) : violet(); }

bool contains_page(const Rect& rect) { return rect.y() + rect.height() < kTextBottom; }

void drawLineFromPointToPointWithColor(Canvas& canvas, Point from, Point to, const Color& color) {
  canvas.save();
  canvas.setShouldAntialias(true);
  canvas.setLineWidth(kLineWidth);
  canvas.setColor(color);
  canvas.strokeLine(from, to);
  canvas.restore();
}

void fillRectInFrameWithColor(Canvas& canvas, const Rect& rect, const Color& color) {
  canvas.save();
  canvas.setColor(color);
  canvas.fillRect(rect);
  canvas.restore();
}

void fillBackground(Canvas& canvas) {
  fillRectInFrameWithColor(canvas, Rect(0, 0, kPageWidth, kPageHeight), violet());
}

void fillBackgroundWithGradient(Canvas& canvas, const std::array<float, 8>& c) {
  const graphics::Gradient gradient{{Color(c[0], c[1], c[2], c[3]), Color(c[4], c[5], c[6], c[7])}, {}};
  canvas.save();
  canvas.clipToRect(Rect(0, 0, kPageWidth, kPageHeight));
  canvas.drawLinearGradient(gradient, Point{kPageWidth / 2, 0}, Point{kPageWidth / 2, kPageHeight}, false,
                            false);
  canvas.restore();
}

void beginPage(Canvas& canvas, bool forPrint) {
  canvas.beginPage();
  if (!forPrint) fillBackground(canvas);
}

namespace {

// How a block at x is laid out: the width its lines wrap at (0: none) and its padded box. Text
// given no width limit wraps only where it would cross the right margin: blocks starting in the
// left half keep the report's 50-point right margin, short labels further right may run to the
// page's edge.
struct BlockLayout {
  double width = 0;
  Size box;
};

Size padded(Size measured) {
  return Size{std::trunc(measured.width) + kTextPadding, std::trunc(measured.height) + kTextPadding};
}

Size paddedSize(const AttributedText& text, double width) {
  return padded(graphics::defaultTextMeasurer()->measure(text, width).size);
}

BlockLayout layoutBlock(const AttributedText& text, double x, double givenWidth) {
  const auto measurer = graphics::defaultTextMeasurer();
  if (givenWidth > 0) return {givenWidth, padded(measurer->measure(text, givenWidth).size)};
  const double right = x < kPageWidth / 2 ? kPageWidth - kMargin : kPageWidth - kTextPadding;
  const double room = std::max(right - x, 1.0);
  const Size unlimited = measurer->measure(text, 0).size;
  if (unlimited.width <= room) return {0, padded(unlimited)};
  return {room, padded(measurer->measure(text, room).size)};
}

// The text from byte `from` to byte `to` of its whole string, keeping each run's font and colour.
AttributedText slice(const AttributedText& text, size_t from, size_t to) {
  AttributedText out;
  out.alignment = text.alignment;
  out.lineBreak = text.lineBreak;
  size_t offset = 0;
  for (const auto& run : text.runs) {
    const size_t start = offset, end = offset + run.text.size();
    offset = end;
    const size_t a = std::max(start, from), b = std::min(end, to);
    if (a < b) out.runs.push_back({run.text.substr(a - start, b - a), run.font, run.color});
  }
  return out;
}

// Byte offsets where a line may end: after each blank or newline, and the end.
std::vector<size_t> breakOffsets(const std::string& whole) {
  std::vector<size_t> out;
  for (size_t i = 0; i < whole.size(); ++i)
    if (whole[i] == ' ' || whole[i] == '\n') out.push_back(i + 1);
  if (out.empty() || out.back() != whole.size()) out.push_back(whole.size());
  return out;
}

void drawBlock(Canvas& canvas, const AttributedText& text, Point at, Size box, bool fillBack, bool forPrint) {
  if (fillBack)
    fillRectInFrameWithColor(canvas, Rect(at.x, at.y - 1, kBackFillWidth, box.height + 2),
                             backFillColor(forPrint));
  canvas.drawText(text, Rect(at.x, at.y, box.width, box.height));
}

}  // namespace

Size textBlockSize(const AttributedText& text, Point point, Size boundingSize) {
  return layoutBlock(text, std::trunc(point.x), boundingSize.width).box;
}

Point drawText(Canvas& canvas, const AttributedText& text, Point point, Size boundingSize, bool fillBack,
               bool setNextLine, bool forPrint) {
  const double x = std::trunc(point.x);
  double y = std::trunc(point.y);
  const BlockLayout layout = layoutBlock(text, x, boundingSize.width);
  const double width = layout.width;
  Size box = layout.box;
  if (!contains_page(Rect(x, y, box.width, box.height))) {
    beginPage(canvas, forPrint);
    y = kPageTop;
  }
  if (contains_page(Rect(x, y, box.width, box.height))) {
    drawBlock(canvas, text, Point{x, y}, box, fillBack, forPrint);
    return Point{x, setNextLine ? y + box.height : y};
  }

  // Taller than a page: as many whole lines as fit on each page, the rest on the next.
  AttributedText rest = text;
  while (true) {
    box = paddedSize(rest, width);
    if (contains_page(Rect(x, y, box.width, box.height))) break;
    const std::string whole = rest.string();
    const std::vector<size_t> breaks = breakOffsets(whole);
    // The longest head ending at a break that fits; heights grow with the head.
    size_t lo = 0, hi = breaks.size();  // breaks[0, lo) fit, breaks[hi, end) do not
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const Size head = paddedSize(slice(rest, 0, breaks[mid]), width);
      if (contains_page(Rect(x, y, head.width, head.height)))
        lo = mid + 1;
      else
        hi = mid;
    }
    // Even one line too tall for an empty page: draw it alone, clipped to the page, and go on.
    const size_t cut = lo == 0 ? breaks.front() : breaks[lo - 1];
    const AttributedText head = slice(rest, 0, cut);
    const Size headBox = paddedSize(head, width);
    canvas.save();
    canvas.clipToRect(Rect(0, 0, kPageWidth, kPageHeight));
    drawBlock(canvas, head, Point{x, y}, headBox, fillBack, forPrint);
    canvas.restore();
    if (cut >= whole.size()) return Point{x, setNextLine ? y + headBox.height : y};
    rest = slice(rest, cut, whole.size());
    beginPage(canvas, forPrint);
    y = kPageTop;
  }
  drawBlock(canvas, rest, Point{x, y}, box, fillBack, forPrint);
  return Point{x, setNextLine ? y + box.height : y};
}

}  // namespace reports::pdf
