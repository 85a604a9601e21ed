#pragma once
// Measuring text: the bounding size of text in its fonts within a width, with line breaking.
//
// Sizes are those of laid-out line boxes from the first line's top (the platform's line-fragment
// origin): the width of the widest line and the sum of the line heights. A width limit of 0 or less
// means no limit; lines then break only at newlines. Word- and character-wrap modes break lines at
// the limit; the clip and truncate modes keep each paragraph on one line, no wider than the limit.
//
// The process default is the Pango measurer, which agrees with what CairoCanvas draws. Tests make
// layout deterministic with FixedAdvanceTextMeasurer through ScopedTextMeasurer.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/graphics/canvas.h"
#include "platform/graphics/geometry.h"

namespace graphics {

struct TextMetrics {
  Size size;
  int lineCount = 0;
  friend bool operator==(const TextMetrics&, const TextMetrics&) = default;
};

class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;

  virtual TextMetrics measure(const AttributedText& text, double maxWidth) const = 0;
  // The box of a range of the text, counted in UTF-16 units as the platform counts: x from the
  // left of the layout (alignment inside `maxWidth` applied when there is a limit), y from its top.
  // A range over several lines gives the union of its parts; an empty or out-of-range range gives
  // a zero-width rectangle at the nearest position.
  virtual Rect rangeBounds(const AttributedText& text, double maxWidth, size_t utf16Start,
                           size_t utf16Length) const = 0;
  // The height of one line of the font.
  virtual double lineHeight(const Font& font) const = 0;

  TextMetrics measure(const std::string& text, const Font& font, double maxWidth = 0,
                      LineBreakMode lineBreak = LineBreakMode::kWordWrap) const {
    return measure(AttributedText(text, font, Color::black(), TextAlignment::kLeft, lineBreak), maxWidth);
  }
  Size sizeOf(const std::string& text, const Font& font, double maxWidth = 0) const {
    return measure(text, font, maxWidth).size;
  }
};

// Pango with the fonts the Font class maps to, at 72 units an inch (one unit a point) and without
// hinting, so measurements do not depend on the scale text is later drawn at.
class PangoTextMeasurer : public TextMeasurer {
 public:
  TextMetrics measure(const AttributedText& text, double maxWidth) const override;
  Rect rangeBounds(const AttributedText& text, double maxWidth, size_t utf16Start,
                   size_t utf16Length) const override;
  double lineHeight(const Font& font) const override;
  using TextMeasurer::measure;
};

// Every character (Unicode scalar value, newlines aside) advances `advance` × the font size; a line
// is `lineHeight` × the largest font size on it high. Lines wrap at spaces (a space at a break is
// dropped) and words longer than the limit break between characters; a character always fits on an
// empty line. Trailing spaces of a line are not counted in its width.
class FixedAdvanceTextMeasurer : public TextMeasurer {
 public:
  explicit FixedAdvanceTextMeasurer(double advance = 0.5, double lineHeight = 1.2);

  TextMetrics measure(const AttributedText& text, double maxWidth) const override;
  Rect rangeBounds(const AttributedText& text, double maxWidth, size_t utf16Start,
                   size_t utf16Length) const override;
  double lineHeight(const Font& font) const override;
  using TextMeasurer::measure;

 private:
  double advance_;
  double lineHeight_;
};

// Sets up where the process's fonts come from (once; measuring and drawing text do it themselves).
// A program that starts another library reading fontconfig (a toolkit) calls it first, so that
// both read the same configuration from the start.
void prepareFonts();

// The process default measurer (a PangoTextMeasurer unless replaced). Thread-safe.
std::shared_ptr<const TextMeasurer> defaultTextMeasurer();
// Replaces the default and returns the previous one; null restores the Pango measurer.
std::shared_ptr<const TextMeasurer> setDefaultTextMeasurer(std::shared_ptr<const TextMeasurer> measurer);

// Installs a measurer as the default while it lives (FixedAdvanceTextMeasurer when none is given).
class ScopedTextMeasurer {
 public:
  ScopedTextMeasurer();
  explicit ScopedTextMeasurer(std::shared_ptr<const TextMeasurer> measurer);
  ~ScopedTextMeasurer();
  ScopedTextMeasurer(const ScopedTextMeasurer&) = delete;
  ScopedTextMeasurer& operator=(const ScopedTextMeasurer&) = delete;

 private:
  std::shared_ptr<const TextMeasurer> previous_;
};

}  // namespace graphics
