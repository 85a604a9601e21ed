#include "note_editor/keypad.h"

#include "note_editor/value_entry.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/device.h"

namespace note_editor {
namespace {

constexpr double kTopBand = 44;
constexpr const char* kKeys[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", ".", "0", "<"};

void drawValueText(graphics::Canvas& canvas, ui::Point centre, const std::string& text, unsigned size) {
  const graphics::Font font("AvenirNext-Regular", size);
  const graphics::Size measured = graphics::defaultTextMeasurer()->sizeOf(text, font);
  canvas.drawText(text, ui::Point(centre.x - measured.width / 2, centre.y - measured.height / 2), font,
                  ui::Color(0.2509804, 0.2588235, 0.3411765, 0.8));
}

}  // namespace

noteEditPickerPanelView::noteEditPickerPanelView() = default;

void noteEditPickerPanelView::initAll() {
  cellX_ = cellY_ = -1;
  setNeedsDisplay();
}

void noteEditPickerPanelView::drawRect(graphics::Canvas& canvas, const ui::Rect& /*rect*/) {
  const double width = bounds().size.width;
  const double height = bounds().size.height;
  canvas.save();
  canvas.setFillColor(ui::Color(0.96862745, 0.96862745, 0.96862745, 1));
  canvas.fillRect(ui::Rect(0, 0, width, height));
  const double column = width / 3;
  const double row = (height - kTopBand) / 4;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 3; ++i) {
      drawValueText(canvas, ui::Point(column / 2 + i * column, kTopBand + row / 2 + j * row),
                    kKeys[j * 3 + i], 30);
    }
  }
  canvas.setStrokeColor(ui::Color(0.6627451, 0.6627451, 0.6627451, 1));
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.strokeLine(ui::Point(0, kTopBand + 0.5), ui::Point(width, kTopBand + 0.5));
  canvas.restore();
}

std::vector<ui::View::AccessibilityElement> noteEditPickerPanelView::accessibilityElements() const {
  const double column = bounds().size.width / 3;
  const double row = (bounds().size.height - kTopBand) / 4;
  std::vector<AccessibilityElement> keys;
  for (int key = 0; key < 12; ++key)
    keys.push_back({kKeys[key], ui::Rect((key % 3) * column, kTopBand + (key / 3) * row, column, row)});
  return keys;
}

void noteEditPickerPanelView::checkPoint(const ui::TouchSet& touches) {
  cellX_ = cellY_ = -1;
  if (!touches.empty()) {
    const ui::Point p = touches.front().locationInView(this);
    if (const auto key = keypadKeyAt(bounds().size.width, bounds().size.height, p.x, p.y)) {
      cellX_ = *key % 3;
      cellY_ = *key / 3;
    }
  }
  setNeedsDisplay();
}

void noteEditPickerPanelView::touchesBegan(const ui::TouchSet& touches) {
  checkPoint(touches);
  if (cellX_ >= 0 && cellY_ >= 0 && sink_) sink_(cellY_ * 3 + cellX_);
  cellX_ = cellY_ = -1;
  setNeedsDisplay();
}

bool noteEditPickerPanelView::insertText(std::string_view text) {
  std::vector<int> keys;
  for (const char c : text) {
    if (c >= '1' && c <= '9')
      keys.push_back(c - '1');
    else if (c == '0')
      keys.push_back(10);
    else if (c == '.' || c == ',')
      keys.push_back(9);
    else
      return false;
  }
  if (sink_)
    for (const int key : keys) sink_(key);
  return true;
}

void noteEditPickerPanelView::deleteBackward() {
  if (sink_) sink_(11);
}

customPickerView::customPickerView(const ui::Rect& frame) {
  setFrame(frame);
  setBackgroundColor(ui::Color::clear());
  setUserInteractionEnabled(false);
}

void customPickerView::drawRect(graphics::Canvas& canvas, const ui::Rect& /*rect*/) {
  const double width = bounds().size.width;
  const double height = bounds().size.height;
  canvas.save();
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setColor(elementsTextColor);
  auto vertical = [&](double x) { canvas.strokeLine(ui::Point(x, 0), ui::Point(x, height)); };
  switch (pickerStyle) {
    case 0:
      vertical(90), vertical(230);
      break;
    case 1:
    case 2:
      vertical(width / 2);
      break;
    case 3: {
      const bool pad = ui::device().isPad();
      vertical(pad ? 230 : 130), vertical(pad ? 310 : 200);
      break;
    }
    default:
      break;
  }
  if (cutTopAndBottom) {
    const double band = dateCut ? 46 : height / 5;
    canvas.setFillColor(ui::Color::white(1));
    canvas.fillRect(ui::Rect(0, 0, width, band));
    canvas.fillRect(ui::Rect(0, height - band, width, band));
    canvas.setColor(elementsTextColor);
    canvas.strokeLine(ui::Point(0, band), ui::Point(width, band));
    canvas.strokeLine(ui::Point(0, height - band), ui::Point(width, height - band));
  } else {
    canvas.strokeLine(ui::Point(0, 0.5), ui::Point(width, 0.5));
    canvas.strokeLine(ui::Point(0, height), ui::Point(width, height));
  }
  canvas.restore();
}

}  // namespace note_editor
