#pragma once
// A font by the system's own name and a size in points, mapped onto the fonts installed here.
//
// The system names its fonts as the phone does ("AvenirNext-Regular", "HelveticaNeue-Light",
// "Helvetica-Bold"...). This machine has DejaVu: Avenir Next maps to DejaVu Sans Condensed (its
// narrower widths are closer to Avenir's), Helvetica and Helvetica Neue to DejaVu Sans. Weights map
// to the nearest installed face: ultra-light, thin and light to DejaVu Sans ExtraLight; regular and
// book to the regular face; medium, demi-bold, semi-bold, bold, heavy and black to the bold face.
// Italic and oblique names take the oblique face.

#include <optional>
#include <string>
#include <string_view>

namespace graphics {

enum class FontWeight { kUltraLight, kLight, kRegular, kMedium, kSemibold, kBold, kHeavy };

class Font {
 public:
  // The system font (Helvetica Neue on the phone) at 17 points, the platform's label default.
  Font();
  // Any name: an unknown name keeps its name and draws with the system font's face.
  Font(std::string name, double pointSize);

  // The platform's font-by-name: nothing for a name it does not know.
  static std::optional<Font> fontWithNameSize(std::string_view name, double pointSize);
  static Font systemFontOfSize(double pointSize);
  static Font boldSystemFontOfSize(double pointSize);
  static Font italicSystemFontOfSize(double pointSize);
  // True for the family names the system uses (Avenir Next, Helvetica Neue, Helvetica) with a
  // known style suffix.
  static bool isKnownName(std::string_view name);

  const std::string& name() const { return name_; }
  double pointSize() const { return pointSize_; }
  Font withSize(double pointSize) const { return Font(name_, pointSize); }

  // The installed face this font draws with.
  const std::string& family() const { return family_; }  // "DejaVu Sans" or "DejaVu Sans Condensed"
  FontWeight weight() const { return weight_; }
  bool italic() const { return italic_; }
  // A Pango font description string for the installed face, without the size.
  std::string pangoFamilyAndStyle() const;

  friend bool operator==(const Font& a, const Font& b) {
    return a.name_ == b.name_ && a.pointSize_ == b.pointSize_;
  }

 private:
  std::string name_;
  double pointSize_ = 17;
  std::string family_;
  FontWeight weight_ = FontWeight::kRegular;
  bool italic_ = false;
};

}  // namespace graphics
