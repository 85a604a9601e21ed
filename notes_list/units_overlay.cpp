#include "notes_list/units_overlay.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/text.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"

namespace notes_list {

using foundation::Value;
using graphics::Color;
using graphics::Font;
using graphics::Point;
using graphics::Rect;

namespace {

Font namedFont(std::string_view name, double size) {
  return Font::fontWithNameSize(name, size).value_or(Font::systemFontOfSize(size));
}

graphics::Size measure(const std::string& text, const Font& font) {
  return graphics::defaultTextMeasurer()->sizeOf(text, font);
}

// Caption and example formats with their unit keys, per row and choice.
struct Button {
  const char* caption;
  const char* example;
  std::vector<const char*> keys;
};
const std::vector<std::vector<Button>>& buttons() {
  static const std::vector<std::vector<Button>> table = {
      {{"%@", "3.5 %@", {"Notation_kg"}},
       {"%@", "7.5 %@", {"Notation_lbs"}},
       {"%@ . %@", "7 %@ 5 %@", {"Notation_lbs", "Notation_oz"}}},
      {{"%@", "52 %@", {"Notation_cm"}},
       {"%@", "20 %@", {"Notation_inch"}},
       {"%@ . %@", "1 %@ 8 %@", {"Notation_ft", "Notation_inch"}}},
      {{"%@  ", "36.6 %@", {"Notation_celsius"}}, {"%@  ", "98.6 %@", {"Notation_fahrenheit"}}},
  };
  return table;
}

}  // namespace

firstLaunchView::firstLaunchView(const Rect& frame, std::function<app::InterfaceText()> language)
    : ui::View(frame), language_(std::move(language)) {}

std::string firstLaunchView::localized(std::string_view key) const {
  return (language_ ? language_() : app::InterfaceText::current()).localized(key);
}

firstLaunchView::Metrics firstLaunchView::metrics() const {
  const auto& device = ui::device();
  Metrics m;
  const Rect frame = superview() ? superview()->frame() : this->frame();
  m.W = frame.width();
  m.B = frame.height();
  const bool landscape = device.isLandscape();
  if (device.isPad() && landscape && device.systemVersionNumber() < 8.0) std::swap(m.W, m.B);
  if (device.isPad()) {
    m.T = landscape ? 160 : 300;
    m.X0 = std::trunc((m.W - 320) / 2 + 15);
  } else if (device.isStandardPhone667()) {
    m.T = 60;
    m.X0 = std::trunc(m.W / 18 + 15);
  } else if (device.isPhone736()) {
    m.T = 100;
    m.X0 = std::trunc(m.W / 14 + 15);
  } else {
    m.X0 = 15;
  }
  if (auto frameImage = ui::imageNamed("iPhone_note_button_rounded_frame")) {
    m.w = frameImage->pointWidth() / 2;
    m.h = frameImage->pointHeight() / 2;
  }
  return m;
}

double firstLaunchView::topOffset() const { return metrics().T; }

Rect firstLaunchView::buttonRect(int row, int column) const {
  const Metrics m = metrics();
  const double y = m.T + 145 + 105 * row;
  if (row == 2) return Rect(column == 0 ? m.X0 + 36 : m.W - m.X0 - m.w - 36, y, m.w, m.h);
  const double xs[] = {m.X0, m.W / 2 - m.w / 2, m.W - m.X0 - m.w};
  return Rect(xs[std::clamp(column, 0, 2)], y, m.w, m.h);
}

void firstLaunchView::drawNotationText(graphics::Canvas& canvas, const std::string& text, const Rect& rect,
                                       bool exampleColor) const {
  const Font font = namedFont("AvenirNext-Regular", 13);
  const graphics::Size size = measure(text, font);
  const Color color = exampleColor ? Color(0.8627451, 0.76862746, 1.0, 1) : Color::white();
  canvas.drawText(
      text,
      Point(rect.x() + rect.width() / 2 - size.width / 2, rect.y() + rect.height() / 2 - size.height / 2),
      font, color);
}

void firstLaunchView::drawExample(graphics::Canvas& canvas, const std::string& text, const Rect& rect) const {
  drawNotationText(canvas, text, Rect(rect.x() + 1, rect.y() + 28, rect.width(), rect.height()), true);
}

void firstLaunchView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const Metrics m = metrics();
  canvas.save();
  if (auto back = ui::imageNamed("iPhone_note_back")) {
    const double side = std::max(m.W, m.B);
    canvas.drawSharedImage(back, Rect(0, 0, side, side));
  }
  auto centred = [&](const std::string& text, const Font& font, const Color& color, double y) {
    canvas.drawText(text, Point(m.W / 2 - measure(text, font).width / 2, y), font, color);
  };
  centred(localized("Measurement system"), namedFont("AvenirNext-UltraLight", 30), Color::white(), m.T + 40);
  if (weightNum && heightNum && temperNum) {
    const std::string start = localized("Start");
    const Font font = namedFont("HelveticaNeue-Light", 26);
    centred(start, font, Color(1, 1, 1, 0.8), m.B - measure(start, font).height - 20);
  }
  auto frame = ui::imageNamed("iPhone_note_button_rounded_frame");
  auto filled = ui::imageNamed("iPhone_note_button_rounded_frame_filled");
  if (frame && filled) {
    const char* headings[] = {"Weight", "Height", "Temperature"};
    const unsigned chosen[] = {weightNum, heightNum, temperNum};
    for (int row = 0; row < 3; ++row) {
      centred(localized(headings[row]), namedFont("AvenirNext-Regular", 18), Color(1, 1, 1, 0.8),
              m.T + 110 + 105 * row);
      const auto& rowButtons = buttons()[static_cast<std::size_t>(row)];
      for (std::size_t column = 0; column < rowButtons.size(); ++column) {
        const Rect r = buttonRect(row, static_cast<int>(column));
        const bool isChosen = chosen[row] == column + 1;
        canvas.drawSharedImage(isChosen ? filled : frame, r);
        foundation::Array units;
        for (const char* key : rowButtons[column].keys) units.emplace_back(localized(key));
        drawNotationText(canvas, foundation::text::format(rowButtons[column].caption, units), r, false);
        if (isChosen) drawExample(canvas, foundation::text::format(rowButtons[column].example, units), r);
      }
    }
  }
  canvas.restore();
}

std::vector<ui::View::AccessibilityElement> firstLaunchView::accessibilityElements() const {
  std::vector<AccessibilityElement> elements;
  for (int row = 0; row < 3; ++row) {
    const auto& rowButtons = buttons()[static_cast<std::size_t>(row)];
    for (std::size_t column = 0; column < rowButtons.size(); ++column) {
      foundation::Array units;
      for (const char* key : rowButtons[column].keys) units.emplace_back(localized(key));
      elements.push_back({foundation::text::format(rowButtons[column].caption, units),
                          buttonRect(row, static_cast<int>(column))});
    }
  }
  if (weightNum && heightNum && temperNum) {
    const Metrics m = metrics();
    elements.push_back({localized("Start"), Rect(0, m.B - 80, m.W, 80)});
  }
  return elements;
}

void firstLaunchView::touchesEnded(const ui::TouchSet& touches) {
  if (touches.empty()) return;
  checkPoint(touches.front().locationInView(this));
}

void firstLaunchView::checkPoint(Point location) {
  const Metrics m = metrics();
  const double x = location.x;
  const double y = location.y;
  const double left = m.W / 2 - 160;
  if (y >= m.T + 130 && y < m.T + 420) {
    if (x < left || x > left + 320) return;
    if (y <= m.T + 320) {
      const unsigned column = x <= left + 106 ? 1 : x <= left + 212 ? 2 : 3;
      (y <= m.T + 200 ? weightNum : heightNum) = column;
    } else if (x > std::trunc(left + 40) && x < std::trunc(m.W / 2 + 120)) {
      temperNum = x < m.W / 2 ? 1 : 2;
    }
    setNeedsDisplay();
    return;
  }
  if (weightNum && heightNum && temperNum && y >= m.B - 80 && firstLaunchView_delegate) {
    firstLaunchView_delegate->firstLaunchViewDoClose();
  }
}

}  // namespace notes_list
