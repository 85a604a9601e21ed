#include "navigation/bar_title.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/graphics/text_measure.h"
#include "platform/ui/controls.h"

namespace navigation {

// The room is what the bar gives a title: the width less, on each side, the wider button (its own
// view's width, or its title and 8 points, at least 44), its 16-point margin and 8 points of air.
void setShrinkingTitle(ui::ViewController& screen, const std::string& title) {
  screen.setTitle(title);
  const auto& look = ui::NavigationBar::appearance();
  const graphics::Font buttonFont = ui::Button().titleFont();
  double button = 44;
  const auto& bar = screen.navigationItem();
  for (const auto& item : {bar.leftBarButtonItem(), bar.rightBarButtonItem()}) {
    if (!item) continue;
    if (const auto& custom = item->customView()) {
      button = std::max(button, custom->frame().width());
      continue;
    }
    const double width = graphics::defaultTextMeasurer()->sizeOf(item->title(), buttonFont).width;
    button = std::max(button, std::ceil(width) + 8);
  }
  auto label = std::make_shared<ui::Label>(
      ui::Rect(0, 0, std::max(0.0, screen.view()->bounds().width() - 2 * (16 + button + 8)), 44));
  label->setText(title);
  label->setFont(look.titleFont.value_or(graphics::Font::boldSystemFontOfSize(17)));
  label->setTextColor(look.titleColor.value_or(graphics::Color::black()));
  label->setTextAlignment(graphics::TextAlignment::kCenter);
  label->setAdjustsFontSizeToFitWidth(true);
  label->setMinimumScaleFactor(0.6);
  label->setUserInteractionEnabled(false);
  screen.navigationItem().setTitle("");
  screen.navigationItem().setTitleView(label);
}

}  // namespace navigation
