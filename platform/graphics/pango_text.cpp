#include "platform/graphics/pango_text.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>
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

// Sets the layout's width for its line breaking `mode` and `use` (not kNone).
void applyWidth(PangoLayout* layout, LineBreakMode mode, double width, WidthUse use) {
  const int pangoWidth = static_cast<int>(std::min(width * PANGO_SCALE, 1e9));
  switch (mode) {
    case LineBreakMode::kWordWrap:
      pango_layout_set_width(layout, pangoWidth);
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
      break;
    case LineBreakMode::kCharWrap:
      pango_layout_set_width(layout, pangoWidth);
      pango_layout_set_wrap(layout, PANGO_WRAP_CHAR);
      break;
    case LineBreakMode::kClip:
      break;
    case LineBreakMode::kTruncateHead:
    case LineBreakMode::kTruncateTail:
    case LineBreakMode::kTruncateMiddle:
      if (use == WidthUse::kDraw) {
        pango_layout_set_width(layout, pangoWidth);
        pango_layout_set_ellipsize(layout, mode == LineBreakMode::kTruncateHead   ? PANGO_ELLIPSIZE_START
                                           : mode == LineBreakMode::kTruncateTail ? PANGO_ELLIPSIZE_END
                                                                                  : PANGO_ELLIPSIZE_MIDDLE);
      }
      break;
  }
}

}  // namespace

Color baseColor(const AttributedText& text) { return text.runs.empty() ? Color::black() : inkColor(text, 0); }

namespace {

bool drawsGlyphs(const PangoGlyphItem* run) {
  for (int g = 0; g < run->glyphs->num_glyphs; ++g)
    if (run->glyphs->glyphs[g].glyph != PANGO_GLYPH_EMPTY) return true;
  return false;
}

// Whether the run is only blanks whose glyphs leave no ink.
bool inklessBlanks(const PangoGlyphItem* run, const char* text) {
  const PangoItem* item = run->item;
  if (!item || !item->analysis.font || item->length <= 0 || run->glyphs->num_glyphs == 0) return false;
  const std::string_view part(text + item->offset, static_cast<size_t>(item->length));
  if (part.find_first_not_of(' ') != std::string_view::npos) return false;
  for (int g = 0; g < run->glyphs->num_glyphs; ++g) {
    const PangoGlyph glyph = run->glyphs->glyphs[g].glyph;
    if (glyph == PANGO_GLYPH_EMPTY) continue;
    PangoRectangle ink;
    pango_font_get_glyph_extents(item->analysis.font, glyph, &ink, nullptr);
    if (ink.width != 0 && ink.height != 0) return false;
  }
  return true;
}

// Empties the glyphs of the layout's blank runs between inked runs (see newLayout()). Done as the
// layout is made, before anything measures it or a cache shares it.
void hideBlankRuns(PangoLayout* layout) {
  const char* text = pango_layout_get_text(layout);
  for (GSList* l = pango_layout_get_lines_readonly(layout); l; l = l->next) {
    const auto* line = static_cast<const PangoLayoutLine*>(l->data);
    const PangoGlyphItem* before = nullptr;  // the last run on the line that draws glyphs
    for (GSList* r = line->runs; r; r = r->next) {
      auto* run = static_cast<PangoGlyphItem*>(r->data);
      const PangoGlyphItem* after = r->next ? static_cast<const PangoGlyphItem*>(r->next->data) : nullptr;
      if (before && after && inklessBlanks(run, text)) {
        for (int g = 0; g < run->glyphs->num_glyphs; ++g) run->glyphs->glyphs[g].glyph = PANGO_GLYPH_EMPTY;
        continue;
      }
      if (drawsGlyphs(run)) before = run;
    }
  }
}

}  // namespace

PangoLayoutLine* leftAlignedSingleLine(PangoLayout* layout) {
  if (pango_layout_get_line_count(layout) != 1 || pango_layout_get_alignment(layout) != PANGO_ALIGN_LEFT ||
      pango_layout_get_justify(layout) || pango_layout_get_indent(layout) != 0)
    return nullptr;
  PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0);
  return line && line->resolved_dir == PANGO_DIRECTION_LTR ? line : nullptr;
}

// fontconfig's system configuration runs some thirty files of rules over every font description
// Pango asks for, which makes each new size or weight cost about half a millisecond, and takes
// milliseconds to read at start. Texts here name their families, so the system's font folders and
// their caches alone find the same fonts, falling back among them by coverage for a script those
// families lack; bold and slanted faces a font lacks (a CJK fallback's) are still made up. A
// configuration named in the environment is kept, as is the system's when the folders hold no font.
void useFontFoldersConfig() {
  static const bool once = [] {
    if (std::getenv("FONTCONFIG_FILE") || std::getenv("FONTCONFIG_PATH")) return false;
    static constexpr char kFolders[] = R"(<?xml version="1.0"?>
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <dir prefix="xdg">fonts</dir>
  <dir>~/.fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <cachedir prefix="xdg">fontconfig</cachedir>
  <cachedir>~/.fontconfig</cachedir>
  <match target="font">
    <test name="weight" compare="less_eq"><const>medium</const></test>
    <test target="pattern" name="weight" compare="more_eq"><const>bold</const></test>
    <edit name="embolden" mode="assign"><bool>true</bool></edit>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>
  <match target="font">
    <test name="slant"><const>roman</const></test>
    <test target="pattern" name="slant" compare="not_eq"><const>roman</const></test>
    <edit name="matrix" mode="assign">
      <times><name>matrix</name><matrix><double>1</double><double>0.2</double><double>0</double><double>1</double></matrix></times>
    </edit>
    <edit name="slant" mode="assign"><const>oblique</const></edit>
  </match>
</fontconfig>)";
    FcConfig* config = FcConfigCreate();
    if (!config) return false;
    bool used = false;
    if (FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kFolders), FcFalse) &&
        FcConfigBuildFonts(config)) {
      const FcFontSet* fonts = FcConfigGetFonts(config, FcSetSystem);
      used = fonts && fonts->nfont > 0 && FcConfigSetCurrent(config);
    }
    if (!used) FcConfigDestroy(config);  // the current one lives as long as the process
    return used;
  }();
  (void)once;
}

ContextPtr newContext() {
  useFontFoldersConfig();
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

PangoContext* threadContext() {
  thread_local ContextPtr context = newContext();
  return context.get();
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

  // Text of one colour takes it from the cairo source (baseColor()); only text of several colours
  // carries colour attributes, which make Pango split and colour its runs.
  const Color drawnIn = baseColor(text);
  bool oneColour = true;
  for (size_t r = 0; r < text.runs.size() && oneColour; ++r) oneColour = inkColor(text, r) == drawnIn;

  std::string all;
  PangoAttrList* attrs = pango_attr_list_new();
  for (size_t r = 0; r < text.runs.size(); ++r) {
    const TextRun& run = text.runs[r];
    const std::string part = validUtf8(run.text);
    if (part.empty()) continue;
    const guint start = static_cast<guint>(all.size());
    all += part;
    const guint end = static_cast<guint>(all.size());
    auto insert = [&](PangoAttribute* a) {
      a->start_index = start;
      a->end_index = end;
      pango_attr_list_insert(attrs, a);
    };
    PangoFontDescription* d = newDescription(run.font);
    insert(pango_attr_font_desc_new(d));
    pango_font_description_free(d);
    if (oneColour) continue;
    const Color color = inkColor(text, r);
    insert(pango_attr_foreground_new(to16(color.r), to16(color.g), to16(color.b)));
    insert(pango_attr_foreground_alpha_new(std::max<guint16>(1, to16(color.a))));
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

  if (use != WidthUse::kNone && width > 0) applyWidth(layout.get(), text.lineBreak, width, use);
  hideBlankRuns(layout.get());
  return layout;
}

namespace {

// A hash for the layout cache from the runs' texts and sizes, the alignment and the line breaking;
// entries with the same hash are told apart by comparing the whole texts, fonts and colours.
std::size_t hashOf(const AttributedText& text) {
  std::size_t h = static_cast<std::size_t>(text.alignment) * 31 + static_cast<std::size_t>(text.lineBreak);
  for (const TextRun& run : text.runs)
    h = (h * 1000003) ^ std::hash<std::string_view>{}(run.text) ^ std::hash<double>{}(run.font.pointSize());
  return h;
}

bool truncates(LineBreakMode mode) {
  return mode == LineBreakMode::kTruncateHead || mode == LineBreakMode::kTruncateTail ||
         mode == LineBreakMode::kTruncateMiddle;
}

struct CachedLayout {
  std::size_t hash = 0;
  AttributedText text;
  double width = 0;  // 0: laid out without a width
  WidthUse use = WidthUse::kNone;
  PangoContext* context = nullptr;
  LayoutPtr layout;
  LayoutExtents extents;
};

// The recent layouts (a screen's texts, measured and then drawn), newest last; old ones drop out.
struct LayoutCache {
  static constexpr std::size_t kSize = 128;
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

namespace {

// The cached layout of `text` at `width` for `use`, laid out and kept on a miss.
const CachedLayout& cachedLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use) {
  // A width only matters where it wraps or truncates; without one the use does not matter.
  const double w = use == WidthUse::kNone || !(width > 0) ? 0 : width;
  const WidthUse u = w == 0 ? WidthUse::kNone : use;
  const std::size_t hash = hashOf(text);
  LayoutCache& cache = LayoutCache::get();
  for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it)
    if (it->hash == hash && it->width == w && it->use == u && it->context == context && it->text == text)
      return *it;
  LayoutPtr layout = newLayout(context, text, w, u);
  LayoutExtents extents;
  pango_layout_get_extents(layout.get(), nullptr, &extents.logical);
  extents.lineCount = pango_layout_get_line_count(layout.get());
  cache.add({hash, text, w, u, context, std::move(layout), extents});
  return cache.entries.back();
}

}  // namespace

LayoutExtents measuredExtents(PangoContext* context, const AttributedText& text, double width, WidthUse use) {
  return cachedLayout(context, text, width, use).extents;
}

LayoutPtr measuredLayout(PangoContext* context, const AttributedText& text, double width, WidthUse use) {
  return ref(cachedLayout(context, text, width, use).layout.get());
}

LayoutPtr drawableLayout(const AttributedText& text, double width) {
  const bool wrapping = text.lineBreak == LineBreakMode::kWordWrap || text.lineBreak == LineBreakMode::kCharWrap;
  const bool leftAligned = text.alignment == TextAlignment::kLeft || text.alignment == TextAlignment::kNatural;
  // Laid out to wrap, a text keeps Pango's placing of its lines; only a left-aligned one reads the
  // same from another width.
  if (wrapping && width > 0 && !leftAligned) return nullptr;
  const std::size_t hash = hashOf(text);
  LayoutCache& cache = LayoutCache::get();
  for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it) {
    if (it->hash != hash || it->text != text) continue;
    PangoLayout* layout = it->layout.get();
    if (!wrapping || !(width > 0)) {
      // No wrapping when drawn: only a layout that did not wrap either has the same lines. A text
      // that truncates is drawn as it is when its one line fits: nothing is cut off. Laid out
      // without a width, its line is placed by the canvas, whatever its alignment.
      if (it->width != 0) continue;
      if (truncates(text.lineBreak) && width > 0 &&
          (it->extents.lineCount != 1 || toPoints(it->extents.logical.width) > width))
        continue;
      return ref(layout);
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
    if (toPoints(it->extents.logical.width) > width) continue;
    const bool unwrapped = it->width == 0 || it->extents.lineCount == 1;
    if (unwrapped || it->width >= width) return ref(layout);
  }
  return nullptr;
}

}  // namespace graphics::pango_text
