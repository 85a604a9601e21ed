#pragma once
// firstLaunchView: the full-screen overlay of the first launch that asks for the measurement
// system: a weight unit (kg, lbs, lbs and oz), a length unit (cm, inch, ft and inch) and a
// temperature unit (Celsius, Fahrenheit). It draws everything itself and hit-tests its own
// touches; it stores nothing. Once all three are chosen a "Start" text shows at the bottom, and a
// tap within 80 points of the bottom edge tells the delegate, which confirms and stores the units.
//
// Layout, from the superview's size W × B and a top offset T that depends on the device:
//   T + 40   title "Measurement system"
//   T + 110  "Weight"       buttons at T + 145   (taps T + 130 ... T + 200)
//   T + 215  "Height"       buttons at T + 250   (taps T + 200 ... T + 320)
//   T + 320  "Temperature"  buttons at T + 355   (taps T + 320 ... T + 420)
// Taps choose by thirds (halves for temperature) of a 320-point strip centred on the screen.
// Main thread only.

#include <string>
#include <vector>

#include "app/value_texts.h"
#include "notes_list/first_launch.h"
#include "platform/ui/view.h"

namespace notes_list {

class firstLaunchViewDelegate {
 public:
  virtual ~firstLaunchViewDelegate() = default;
  virtual void firstLaunchViewDoClose() = 0;
};

class firstLaunchView : public ui::View {
 public:
  // `language` gives the texts; InterfaceText::current() when empty.
  explicit firstLaunchView(const graphics::Rect& frame, std::function<app::InterfaceText()> language = {});

  firstLaunchViewDelegate* firstLaunchView_delegate = nullptr;  // non-owning
  unsigned weightNum = 0;
  unsigned heightNum = 0;
  unsigned temperNum = 0;
  UnitChoice choice() const { return {weightNum, heightNum, temperNum}; }

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
  void touchesEnded(const ui::TouchSet& touches) override;
  // The unit buttons by their captions, and "Start" once all three are chosen.
  std::vector<AccessibilityElement> accessibilityElements() const override;
  // Acts on the location of one touch, in this view's coordinates.
  void checkPoint(graphics::Point location);

  // The rectangle of a button: row 0 weight, 1 length, 2 temperature; column from 0.
  graphics::Rect buttonRect(int row, int column) const;
  // The top offset T and the side margin X0 in force.
  double topOffset() const;

 private:
  struct Metrics {
    double W = 0, B = 0, T = 0, X0 = 0, w = 0, h = 0;
  };
  Metrics metrics() const;
  void drawNotationText(graphics::Canvas& canvas, const std::string& text, const graphics::Rect& rect,
                        bool exampleColor) const;
  void drawExample(graphics::Canvas& canvas, const std::string& text, const graphics::Rect& rect) const;
  std::string localized(std::string_view key) const;

  std::function<app::InterfaceText()> language_;
};

}  // namespace notes_list
