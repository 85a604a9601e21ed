#pragma once
// What a person would miss on a screen as the real fonts draw it: a control that does not lie
// wholly on the screen, and a text drawn cut (wider than its label even after the label has shrunk
// it as far as it may, or with more lines than it holds; a button's title wider than the button).
// Rows of a table that are scrolled partly out of its view are the table's business, not faults.

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/text_measure.h"
#include "platform/ui/controls.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view.h"

namespace screen_fit {

namespace detail {

inline bool shown(const ui::View& view) { return !view.isHidden() && view.alpha() > 0.01; }

inline void walk(ui::View& view, ui::View& window, bool inTable, std::vector<std::string>& found) {
  if (!shown(view)) return;
  const auto measurer = graphics::defaultTextMeasurer();
  const graphics::Rect b = view.bounds();
  const graphics::Rect onScreen = view.convertRectToView(b, &window);
  const graphics::Rect screen = window.bounds();
  // A part of a table's row is clipped by the table, which the check of the table itself covers.
  const bool isControl = dynamic_cast<ui::Control*>(&view) || dynamic_cast<ui::Label*>(&view) ||
                         dynamic_cast<ui::TextField*>(&view) || dynamic_cast<ui::TableView*>(&view);
  if (isControl && !inTable && onScreen.width() > 0 && onScreen.height() > 0 &&
      (onScreen.x() < screen.x() - 0.5 || onScreen.y() < screen.y() - 0.5 ||
       onScreen.maxX() > screen.maxX() + 0.5 || onScreen.maxY() > screen.maxY() + 0.5)) {
    std::string name = typeid(view).name();
    if (auto* label = dynamic_cast<ui::Label*>(&view)) name = "\"" + label->text() + "\"";
    if (auto* button = dynamic_cast<ui::Button*>(&view)) name = "button \"" + button->currentTitle() + "\"";
    found.push_back("off the screen: " + name);
  }
  if (auto* label = dynamic_cast<ui::Label*>(&view); label && !label->text().empty() && b.width() > 0) {
    const auto text = label->drawnText();
    const int lines = label->numberOfLines();
    const graphics::TextMetrics m = measurer->measure(text, lines == 1 ? 0 : b.width());
    const bool cut = lines == 1 ? m.size.width > b.width() + 0.5
                                : (lines > 0 && m.lineCount > lines) || m.size.height > b.height() + 1;
    if (cut) found.push_back("cut: \"" + label->text() + "\"");
  } else if (auto* segments = dynamic_cast<ui::SegmentedControl*>(&view)) {
    // Segments share the width equally and draw their titles in the control's 13-point font.
    const int n = segments->numberOfSegments();
    for (int i = 0; i < n && b.width() > 0; ++i) {
      const std::string title = segments->titleForSegmentAtIndex(i);
      if (measurer->sizeOf(title, graphics::Font::systemFontOfSize(13)).width > b.width() / n + 0.5)
        found.push_back("cut: \"" + title + "\"");
    }
  } else if (auto* button = dynamic_cast<ui::Button*>(&view); button && !button->currentTitle().empty()) {
    const double width = measurer->sizeOf(button->currentTitle(), button->titleFont()).width;
    const auto image = button->imageForState(button->state());
    if (width + (image ? image->pointWidth() : 0) > b.width() + 0.5)
      found.push_back("cut: \"" + button->currentTitle() + "\"");
  }
  const bool table = inTable || dynamic_cast<ui::TableView*>(&view);
  auto subviews = view.subviews();
  for (auto& sub : subviews) walk(*sub, window, table, found);
}

}  // namespace detail

// Everything on the window that a person would miss; empty when all is well.
inline std::vector<std::string> problems(ui::View& window) {
  // The fonts as the screen draws them, not the tests' fixed advances.
  graphics::ScopedTextMeasurer real(std::make_shared<graphics::PangoTextMeasurer>());
  std::vector<std::string> found;
  detail::walk(window, window, false, found);
  return found;
}

}  // namespace screen_fit
