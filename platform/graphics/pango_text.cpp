#include "platform/graphics/pango_text.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace graphics::pango_text {
namespace {

std::string validUtf8(const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out(valid);
  g_free(valid);
  return out;
}

PangoFontDescription* newDescription(const Font& font) {
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, font.family().c_str());
  PangoWeight weight = PANGO_WEIGHT_NORMAL;
  switch (font.weight()) {
    case FontWeight::kUltraLight:
    case FontWeight::kLight:
      weight = PANGO_WEIGHT_ULTRALIGHT;
      break;
    case FontWeight::kRegular:
      weight = PANGO_WEIGHT_NORMAL;
      break;
    default:
      weight = PANGO_WEIGHT_BOLD;
      break;
  }
  pango_font_description_set_weight(d, weight);
  pango_font_description_set_style(d, font.italic() ? PANGO_STYLE_OBLIQUE : PANGO_STYLE_NORMAL);
  const double size = font.pointSize() > 0 ? font.pointSize() : 0.01;
  pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
  return d;
}

guint16 to16(double v) { return static_cast<guint16>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0)); }

// Text that leaves ink: not empty and not only blanks.
bool inks(const std::string& s) { return s.find_first_not_of(" \t\r\n") != std::string::npos; }

// The colour run `r` is drawn in. Blanks leave no ink, so a run of blanks takes the colour of the
// text before it (or, at the start, after it): a PDF then keeps the line in one text object instead
// of switching colour for an invisible space and back.
Color inkColor(const AttributedText& text, size_t r) {
  if (inks(text.runs[r].text)) return text.runs[r].color;
  for (size_t before = r; before-- > 0;)
    if (inks(text.runs[before].text)) return text.runs[before].color;
  for (size_t after = r + 1; after < text.runs.size(); ++after)
    if (inks(text.runs[after].text)) return text.runs[after].color;
  return text.runs[r].color;
}

}  // namespace

ContextPtr newContext() {
  PangoFontMap* map = pango_cairo_font_map_get_default();
  ContextPtr context(pango_font_map_create_context(map));
  pango_cairo_context_set_resolution(context.get(), 72.0);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context.get(), options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(context.get(), FALSE);
  return context;
}

std::string layoutText(const AttributedText& text) {
  std::string out;
  for (const TextRun& run : text.runs) out += validUtf8(run.text);
  return out;
}

LayoutPtr newLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use) {
  LayoutPtr layout(pango_layout_new(context));
  const Font baseFont = text.runs.empty() ? Font() : text.runs.front().font;
  PangoFontDescription* base = newDescription(baseFont);
  pango_layout_set_font_description(layout.get(), base);
  pango_font_description_free(base);

  std::string all;
  PangoAttrList* attrs = pango_attr_list_new();
  for (size_t r = 0; r < text.runs.size(); ++r) {
    const TextRun& run = text.runs[r];
    const std::string part = validUtf8(run.text);
    if (part.empty()) continue;
    const guint start = static_cast<guint>(all.size());
    all += part;
    const guint end = static_cast<guint>(all.size());
    PangoFontDescription* d = newDescription(run.font);
    PangoAttribute* fontAttr = pango_attr_font_desc_new(d);
    pango_font_description_free(d);
    const Color color = inkColor(text, r);
    PangoAttribute* colorAttr = pango_attr_foreground_new(to16(color.r), to16(color.g), to16(color.b));
    PangoAttribute* alphaAttr = pango_attr_foreground_alpha_new(std::max<guint16>(1, to16(color.a)));
    for (PangoAttribute* a : {fontAttr, colorAttr, alphaAttr}) {
      a->start_index = start;
      a->end_index = end;
      pango_attr_list_insert(attrs, a);
    }
  }
  pango_layout_set_text(layout.get(), all.data(), static_cast<int>(all.size()));
  pango_layout_set_attributes(layout.get(), attrs);
  pango_attr_list_unref(attrs);

  switch (text.alignment) {
    case TextAlignment::kCenter:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
      break;
    case TextAlignment::kRight:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
      break;
    case TextAlignment::kJustified:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
      pango_layout_set_justify(layout.get(), TRUE);
      break;
    default:
      pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
      break;
  }

  if (use == WidthUse::kNone || !(width > 0)) return layout;
  const int pangoWidth = static_cast<int>(std::min(width * PANGO_SCALE, 1e9));
  switch (text.lineBreak) {
    case LineBreakMode::kWordWrap:
      pango_layout_set_width(layout.get(), pangoWidth);
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
      break;
    case LineBreakMode::kCharWrap:
      pango_layout_set_width(layout.get(), pangoWidth);
      pango_layout_set_wrap(layout.get(), PANGO_WRAP_CHAR);
      break;
    case LineBreakMode::kClip:
      break;
    case LineBreakMode::kTruncateHead:
    case LineBreakMode::kTruncateTail:
    case LineBreakMode::kTruncateMiddle:
      if (use == WidthUse::kDraw) {
        pango_layout_set_width(layout.get(), pangoWidth);
        pango_layout_set_ellipsize(layout.get(),
                                   text.lineBreak == LineBreakMode::kTruncateHead   ? PANGO_ELLIPSIZE_START
                                   : text.lineBreak == LineBreakMode::kTruncateTail ? PANGO_ELLIPSIZE_END
                                                                                    : PANGO_ELLIPSIZE_MIDDLE);
      }
      break;
  }
  return layout;
}

namespace {

// What decides a layout: every run's text, font and colour, the alignment and the line breaking.
std::string signatureOf(const AttributedText& text) {
  std::string out;
  out.reserve(64);
  for (const TextRun& run : text.runs) {
    out += run.text;
    out += '\0';
    out += run.font.family();
    const double numbers[] = {run.font.pointSize(), static_cast<double>(run.font.weight()),
                              run.font.italic() ? 1.0 : 0.0, run.color.r, run.color.g, run.color.b, run.color.a};
    out.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
  }
  out += static_cast<char>(text.alignment);
  out += static_cast<char>(text.lineBreak);
  return out;
}

bool truncates(LineBreakMode mode) {
  return mode == LineBreakMode::kTruncateHead || mode == LineBreakMode::kTruncateTail ||
         mode == LineBreakMode::kTruncateMiddle;
}

struct CachedLayout {
  std::size_t hash = 0;
  std::string signature;
  double width = 0;  // 0: laid out without a width
  WidthUse use = WidthUse::kNone;
  PangoContext* context = nullptr;
  LayoutPtr layout;
};

// A few recent layouts, newest last; old ones drop out.
struct LayoutCache {
  static constexpr std::size_t kSize = 24;
  std::vector<CachedLayout> entries;

  static LayoutCache& get() {
    thread_local LayoutCache cache;
    return cache;
  }
  void add(CachedLayout entry) {
    if (entries.size() >= kSize) entries.erase(entries.begin());
    entries.push_back(std::move(entry));
  }
};

LayoutPtr ref(PangoLayout* layout) { return LayoutPtr(static_cast<PangoLayout*>(g_object_ref(layout))); }

}  // namespace

LayoutPtr measuredLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use) {
  // A width only matters where it wraps or truncates; without one the use does not matter.
  const double w = use == WidthUse::kNone || !(width > 0) ? 0 : width;
  const WidthUse u = w == 0 ? WidthUse::kNone : use;
  std::string signature = signatureOf(text);
  const std::size_t hash = std::hash<std::string>{}(signature);
  LayoutCache& cache = LayoutCache::get();
  for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it)
    if (it->hash == hash && it->width == w && it->use == u && it->context == context &&
        it->signature == signature)
      return ref(it->layout.get());
  LayoutPtr layout = newLayout(context, text, w, u);
  cache.add({hash, std::move(signature), w, u, context, ref(layout.get())});
  return layout;
}

LayoutPtr drawableLayout(const AttributedText& text, double width) {
  if (truncates(text.lineBreak)) return nullptr;
  if (text.alignment != TextAlignment::kLeft && text.alignment != TextAlignment::kNatural) return nullptr;
  const bool wrapping = text.lineBreak == LineBreakMode::kWordWrap || text.lineBreak == LineBreakMode::kCharWrap;
  const std::string signature = signatureOf(text);
  const std::size_t hash = std::hash<std::string>{}(signature);
  LayoutCache& cache = LayoutCache::get();
  for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it) {
    if (it->hash != hash || it->signature != signature) continue;
    PangoLayout* layout = it->layout.get();
    if (!wrapping || !(width > 0)) {
      // No wrapping when drawn: only a layout that did not wrap either has the same lines.
      if (it->width == 0) return ref(layout);
      continue;
    }
    if (it->width == width) return ref(layout);
    // Lines run from the left edge only left to right; a right-to-left line sits at the width's end.
    bool leftToRight = true;
    for (GSList* line = pango_layout_get_lines_readonly(layout); line; line = line->next)
      if (static_cast<PangoLayoutLine*>(line->data)->resolved_dir != PANGO_DIRECTION_LTR) leftToRight = false;
    if (!leftToRight) continue;
    // Greedy wrapping at `width` gives the same lines when every line fits in it and the layout
    // wrapped at a width no smaller (a shorter line would not have been taken there either), or
    // did not wrap at all (an unlimited layout, or one of a single line).
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    if (toPoints(logical.width) > width) continue;
    const bool unwrapped = it->width == 0 || pango_layout_get_line_count(layout) == 1;
    if (unwrapped || it->width >= width) return ref(layout);
  }
  return nullptr;
}

}  // namespace graphics::pango_text
