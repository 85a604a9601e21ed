#include "platform/graphics/text_measure.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/graphics/pango_text.h"

namespace graphics {
namespace {

bool wraps(LineBreakMode mode) {
  return mode == LineBreakMode::kWordWrap || mode == LineBreakMode::kCharWrap;
}

// Byte offset in `utf8` of the UTF-16 offset `units` (the end when past it).
size_t byteOffsetOfUtf16(const std::string& utf8, size_t units) {
  size_t i = 0, counted = 0;
  while (i < utf8.size() && counted < units) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
    counted += len == 4 ? 2 : 1;
    i += len;
  }
  return std::min(i, utf8.size());
}

}  // namespace

// ---- Pango ------------------------------------------------------------------------------------

void prepareFonts() { pango_text::useFontFoldersConfig(); }

TextMetrics PangoTextMeasurer::measure(const AttributedText& text, double maxWidth) const {
  if (text.isEmpty()) return {};
  const bool limited = maxWidth > 0;
  const auto extents =
      pango_text::measuredExtents(pango_text::threadContext(), text, maxWidth, pango_text::WidthUse::kMeasure);
  TextMetrics m;
  m.size.width = pango_text::toPoints(extents.logical.width);
  m.size.height = pango_text::toPoints(extents.logical.height);
  m.lineCount = extents.lineCount;
  if (limited && !wraps(text.lineBreak)) m.size.width = std::min(m.size.width, maxWidth);
  return m;
}

Rect PangoTextMeasurer::rangeBounds(const AttributedText& text, double maxWidth, size_t utf16Start,
                                    size_t utf16Length) const {
  const std::string all = pango_text::layoutText(text);
  // The layout the text was measured with, most often: a label's range is asked after its size.
  auto layout = pango_text::measuredLayout(pango_text::threadContext(), text, maxWidth, pango_text::WidthUse::kMeasure);
  const int startByte = static_cast<int>(byteOffsetOfUtf16(all, utf16Start));
  const int endByte = static_cast<int>(byteOffsetOfUtf16(all, utf16Start + utf16Length));
  if (endByte <= startByte) {
    PangoRectangle pos;
    pango_layout_index_to_pos(layout.get(), startByte, &pos);
    return Rect(pango_text::toPoints(pos.x), pango_text::toPoints(pos.y), 0,
                pango_text::toPoints(pos.height));
  }
  Rect box = Rect::null();
  PangoLayoutIter* iter = pango_layout_get_iter(layout.get());
  do {
    PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
    const int lineStart = line->start_index, lineEnd = line->start_index + line->length;
    if (lineEnd < startByte || lineStart > endByte) continue;
    PangoRectangle lineLogical;
    pango_layout_iter_get_line_extents(iter, nullptr, &lineLogical);
    int* ranges = nullptr;
    int count = 0;
    pango_layout_line_get_x_ranges(line, std::max(startByte, lineStart), std::min(endByte, lineEnd), &ranges,
                                   &count);
    for (int i = 0; i < count; ++i) {
      // The ranges are relative to the layout's left edge, alignment included.
      const double x0 = pango_text::toPoints(ranges[2 * i]);
      const double x1 = pango_text::toPoints(ranges[2 * i + 1]);
      if (x1 <= x0) continue;
      box = box.unionWith(
          Rect(x0, pango_text::toPoints(lineLogical.y), x1 - x0, pango_text::toPoints(lineLogical.height)));
    }
    g_free(ranges);
  } while (pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  if (box.isNull()) {
    PangoRectangle pos;
    pango_layout_index_to_pos(layout.get(), startByte, &pos);
    return Rect(pango_text::toPoints(pos.x), pango_text::toPoints(pos.y), 0,
                pango_text::toPoints(pos.height));
  }
  return box;
}

double PangoTextMeasurer::lineHeight(const Font& font) const {
  auto layout =
      pango_text::newLayout(pango_text::threadContext(), AttributedText("X", font), 0, pango_text::WidthUse::kNone);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  return pango_text::toPoints(logical.height);
}

// ---- Fixed advance ----------------------------------------------------------------------------

namespace {

struct Glyph {
  char32_t ch = 0;
  double advance = 0;
  double size = 0;  // font size
  size_t utf16Index = 0;
};

struct Line {
  std::vector<Glyph> glyphs;  // without the newline or the space dropped at a wrap
  double height = 0;
  double width() const {
    double w = 0;
    size_t end = glyphs.size();
    while (end > 0 && glyphs[end - 1].ch == U' ') --end;
    for (size_t i = 0; i < end; ++i) w += glyphs[i].advance;
    return w;
  }
};

std::vector<Glyph> decode(const AttributedText& text, double advance) {
  std::vector<Glyph> out;
  size_t utf16 = 0;
  for (const TextRun& run : text.runs) {
    const std::string& s = run.text;
    size_t i = 0;
    while (i < s.size()) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      char32_t cp = 0;
      size_t len = 1;
      if (c < 0x80) {
        cp = c;
      } else if ((c >> 5) == 0x6 && i + 1 < s.size()) {
        cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
        len = 2;
      } else if ((c >> 4) == 0xE && i + 2 < s.size()) {
        cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
        len = 3;
      } else if ((c >> 3) == 0x1E && i + 3 < s.size()) {
        cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
        len = 4;
      } else {
        cp = 0xFFFD;
      }
      out.push_back(Glyph{cp, advance * run.font.pointSize(), run.font.pointSize(), utf16});
      utf16 += cp >= 0x10000 ? 2 : 1;
      i += len;
    }
  }
  return out;
}

std::vector<Line> layOut(const AttributedText& text, double maxWidth, double advance, double lineHeight) {
  const std::vector<Glyph> glyphs = decode(text, advance);
  const bool wrap = maxWidth > 0 && wraps(text.lineBreak);
  const bool charWrap = text.lineBreak == LineBreakMode::kCharWrap;
  const double fallbackSize = text.runs.empty() ? 0 : text.runs.front().font.pointSize();
  std::vector<Line> lines(1);
  double width = 0;  // of the current line, trailing spaces included
  auto finish = [&](Line& line) {
    double size = 0;
    for (const Glyph& g : line.glyphs) size = std::max(size, g.size);
    line.height = lineHeight * (size > 0 ? size : fallbackSize);
  };
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const Glyph& g = glyphs[i];
    if (g.ch == U'\n') {
      finish(lines.back());
      lines.emplace_back();
      width = 0;
      continue;
    }
    Line& line = lines.back();
    const bool overflows =
        wrap && !line.glyphs.empty() && g.ch != U' ' && width + g.advance > maxWidth + 1e-9;
    if (!overflows) {
      line.glyphs.push_back(g);
      width += g.advance;
      continue;
    }
    // Break: at the last space of the line (word wrap), else before this character.
    size_t breakAt = line.glyphs.size();
    if (!charWrap) {
      // After the last space that follows a word; a line of one long word breaks between characters.
      for (size_t k = line.glyphs.size(); k > 0; --k) {
        if (line.glyphs[k - 1].ch != U' ') continue;
        bool wordBefore = false;
        for (size_t j = 0; j + 1 < k; ++j) wordBefore = wordBefore || line.glyphs[j].ch != U' ';
        if (wordBefore) breakAt = k;
        break;
      }
    }
    std::vector<Glyph> carried(line.glyphs.begin() + static_cast<std::ptrdiff_t>(breakAt), line.glyphs.end());
    line.glyphs.resize(breakAt);
    finish(line);
    lines.emplace_back();
    width = 0;
    for (const Glyph& c : carried) {
      lines.back().glyphs.push_back(c);
      width += c.advance;
    }
    lines.back().glyphs.push_back(g);
    width += g.advance;
  }
  finish(lines.back());
  return lines;
}

}  // namespace

FixedAdvanceTextMeasurer::FixedAdvanceTextMeasurer(double advance, double lineHeight)
    : advance_(advance), lineHeight_(lineHeight) {}

TextMetrics FixedAdvanceTextMeasurer::measure(const AttributedText& text, double maxWidth) const {
  if (text.isEmpty()) return {};
  const std::vector<Line> lines = layOut(text, maxWidth, advance_, lineHeight_);
  TextMetrics m;
  for (const Line& line : lines) {
    m.size.width = std::max(m.size.width, line.width());
    m.size.height += line.height;
  }
  m.lineCount = static_cast<int>(lines.size());
  if (maxWidth > 0) m.size.width = std::min(m.size.width, std::max(maxWidth, 0.0));
  return m;
}

Rect FixedAdvanceTextMeasurer::rangeBounds(const AttributedText& text, double maxWidth, size_t utf16Start,
                                           size_t utf16Length) const {
  const std::vector<Line> lines = layOut(text, maxWidth, advance_, lineHeight_);
  const double layoutWidth = maxWidth > 0 ? maxWidth : measure(text, 0).size.width;
  Rect box = Rect::null();
  std::optional<Rect> caret;
  double y = 0;
  for (const Line& line : lines) {
    const double lw = line.width();
    double x = 0;
    if (text.alignment == TextAlignment::kCenter) x = (layoutWidth - lw) / 2;
    if (text.alignment == TextAlignment::kRight) x = layoutWidth - lw;
    for (const Glyph& g : line.glyphs) {
      const bool inside = g.utf16Index >= utf16Start && g.utf16Index < utf16Start + utf16Length;
      if (inside) box = box.unionWith(Rect(x, y, g.advance, line.height));
      if (!caret && g.utf16Index >= utf16Start) caret = Rect(x, y, 0, line.height);
      x += g.advance;
    }
    y += line.height;
  }
  if (!box.isNull()) return box;
  if (caret) return *caret;
  const double h = lines.empty() ? 0 : lines.back().height;
  return Rect(lines.empty() ? 0 : lines.back().width(), y - h, 0, h);
}

double FixedAdvanceTextMeasurer::lineHeight(const Font& font) const { return lineHeight_ * font.pointSize(); }

// ---- Process default --------------------------------------------------------------------------

namespace {

std::mutex& defaultMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const TextMeasurer>& defaultSlot() {
  static std::shared_ptr<const TextMeasurer> slot = std::make_shared<PangoTextMeasurer>();
  return slot;
}

}  // namespace

std::shared_ptr<const TextMeasurer> defaultTextMeasurer() {
  std::lock_guard lock(defaultMutex());
  return defaultSlot();
}

std::shared_ptr<const TextMeasurer> setDefaultTextMeasurer(std::shared_ptr<const TextMeasurer> measurer) {
  std::lock_guard lock(defaultMutex());
  if (!measurer) measurer = std::make_shared<PangoTextMeasurer>();
  std::swap(defaultSlot(), measurer);
  return measurer;
}

ScopedTextMeasurer::ScopedTextMeasurer() : ScopedTextMeasurer(std::make_shared<FixedAdvanceTextMeasurer>()) {}

ScopedTextMeasurer::ScopedTextMeasurer(std::shared_ptr<const TextMeasurer> measurer)
    : previous_(setDefaultTextMeasurer(std::move(measurer))) {}

ScopedTextMeasurer::~ScopedTextMeasurer() { setDefaultTextMeasurer(previous_); }

}  // namespace graphics
