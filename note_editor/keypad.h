#pragma once
// Two self-drawn views of the number panel: the keypad (keys "1" to "9", ".", "0" and "<" in a
// 3 × 4 grid under a 44-point top band) and the hairline overlay laid over the date picker.
// Main thread only.

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/ui/view.h"

namespace note_editor {

class noteEditPickerPanelView : public ui::View {
 public:
  noteEditPickerPanelView();
  // The receiver of the key under a new touch (0-8 the digits 1-9, 9 ".", 10 "0", 11 delete).
  void setKeySink(std::function<void(int)> sink) { sink_ = std::move(sink); }
  void initAll();

  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;
  // The twelve keys, each by the text it shows and its frame, so that they can be found by it.
  std::vector<AccessibilityElement> accessibilityElements() const override;
  // A key acts when the finger touches it, once per touch; sliding or lifting sends nothing.
  void touchesBegan(const ui::TouchSet& touches) override;
  void touchesEnded(const ui::TouchSet& /*touches*/) override {}
  // Keys typed on a keyboard while the keypad shows: the digits, and "." or "," for the "." key,
  // each as its key would be touched. Text holding anything else is refused whole (false) and
  // sends nothing.
  bool insertText(std::string_view text);
  // The keyboard's delete: the "<" key.
  void deleteBackward();

  std::int32_t cell_x() const { return cellX_; }
  std::int32_t cell_y() const { return cellY_; }

 private:
  void checkPoint(const ui::TouchSet& touches);

  std::function<void(int)> sink_;
  std::int32_t cellX_ = -1;
  std::int32_t cellY_ = -1;
};

// Hairlines (and, when asked, white masks) over a picker; touches pass through to it.
class customPickerView : public ui::View {
 public:
  explicit customPickerView(const ui::Rect& frame);

  ui::Color elementsTextColor = ui::Color::white(0.5, 0.6);
  // Vertical separators: 0 at 90 and 230, 1 and 2 in the middle, 3 at 230 and 310 on a tablet or
  // 130 and 200 on a phone (the device in use); others none.
  std::int32_t pickerStyle = -1;
  bool cutTopAndBottom = true;
  // With cutTopAndBottom: masks 46 high instead of a fifth of the height.
  bool dateCut = false;

  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;
};

}  // namespace note_editor
