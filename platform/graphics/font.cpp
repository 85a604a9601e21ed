#include "platform/graphics/font.h"

#include <array>
#include <utility>

namespace graphics {
namespace {

constexpr std::string_view kSans = "DejaVu Sans";
constexpr std::string_view kSansCondensed = "DejaVu Sans Condensed";

struct FamilyEntry {
  std::string_view prefix;
  std::string_view installed;
};

// The families the system names, narrow ones first so that "AvenirNextCondensed" is not read as
// "AvenirNext" with a style "Condensed".
constexpr std::array<FamilyEntry, 5> kFamilies = {{
    {"AvenirNextCondensed", kSansCondensed},
    {"AvenirNext", kSansCondensed},
    {"HelveticaNeue", kSans},
    {"Helvetica", kSans},
    {".HelveticaNeueInterface", kSans},
}};

struct StyleEntry {
  std::string_view suffix;
  FontWeight weight;
  bool italic;
};

constexpr std::array<StyleEntry, 24> kStyles = {{
    {"", FontWeight::kRegular, false},
    {"Regular", FontWeight::kRegular, false},
    {"Roman", FontWeight::kRegular, false},
    {"Italic", FontWeight::kRegular, true},
    {"Oblique", FontWeight::kRegular, true},
    {"UltraLight", FontWeight::kUltraLight, false},
    {"UltraLightItalic", FontWeight::kUltraLight, true},
    {"Thin", FontWeight::kUltraLight, false},
    {"ThinItalic", FontWeight::kUltraLight, true},
    {"Light", FontWeight::kLight, false},
    {"LightItalic", FontWeight::kLight, true},
    {"LightOblique", FontWeight::kLight, true},
    {"Medium", FontWeight::kMedium, false},
    {"MediumItalic", FontWeight::kMedium, true},
    {"DemiBold", FontWeight::kSemibold, false},
    {"DemiBoldItalic", FontWeight::kSemibold, true},
    {"Bold", FontWeight::kBold, false},
    {"BoldItalic", FontWeight::kBold, true},
    {"BoldOblique", FontWeight::kBold, true},
    {"CondensedBold", FontWeight::kBold, false},
    {"CondensedBlack", FontWeight::kHeavy, false},
    {"Heavy", FontWeight::kHeavy, false},
    {"HeavyItalic", FontWeight::kHeavy, true},
    {"Black", FontWeight::kHeavy, false},
}};

struct Resolved {
  std::string_view family;
  FontWeight weight;
  bool italic;
};

std::optional<Resolved> resolve(std::string_view name) {
  for (const FamilyEntry& family : kFamilies) {
    if (name.substr(0, family.prefix.size()) != family.prefix) continue;
    std::string_view rest = name.substr(family.prefix.size());
    if (!rest.empty()) {
      if (rest.front() != '-') continue;
      rest.remove_prefix(1);
      if (rest.empty()) continue;
    }
    for (const StyleEntry& style : kStyles)
      if (style.suffix == rest) return Resolved{family.installed, style.weight, style.italic};
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

Font::Font() : Font("HelveticaNeue", 17) {}

Font::Font(std::string name, double pointSize) : name_(std::move(name)), pointSize_(pointSize) {
  if (!(pointSize_ > 0)) pointSize_ = 0;
  const std::optional<Resolved> r = resolve(name_);
  family_ = std::string(r ? r->family : kSans);
  weight_ = r ? r->weight : FontWeight::kRegular;
  italic_ = r ? r->italic : false;
  // The ultra-light face exists only at normal width.
  if (weight_ == FontWeight::kUltraLight || weight_ == FontWeight::kLight) family_ = std::string(kSans);
}

std::optional<Font> Font::fontWithNameSize(std::string_view name, double pointSize) {
  if (!isKnownName(name)) return std::nullopt;
  return Font(std::string(name), pointSize);
}

Font Font::systemFontOfSize(double pointSize) { return Font("HelveticaNeue", pointSize); }
Font Font::boldSystemFontOfSize(double pointSize) { return Font("HelveticaNeue-Bold", pointSize); }
Font Font::italicSystemFontOfSize(double pointSize) { return Font("HelveticaNeue-Italic", pointSize); }

bool Font::isKnownName(std::string_view name) { return resolve(name).has_value(); }

std::string Font::pangoFamilyAndStyle() const {
  std::string out = family_;
  switch (weight_) {
    case FontWeight::kUltraLight:
    case FontWeight::kLight:
      out += " Ultra-Light";
      break;
    case FontWeight::kRegular:
      break;
    default:
      out += " Bold";
      break;
  }
  if (italic_) out += " Oblique";
  return out;
}

}  // namespace graphics
