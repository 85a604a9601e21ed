#pragma once
// What the chart screens share: their texts, colours, the application's context and baby when the
// opener hands none, and the back action. Private to charts/.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "babies/screen_support.h"
#include "note_editor/note_view_delegate.h"
#include "platform/graphics/color.h"
#include "platform/store/context.h"
#include "platform/ui/controls.h"
#include "platform/ui/view_controller.h"

namespace charts::detail {

inline constexpr double kSecondsPerDay = 24 * 60 * 60;

const graphics::Color& hairline();
const graphics::Color& accent();
using babies::applicationBabyName;
using babies::applicationContext;
using babies::localized;
// Back from a chart: the tablet's opener dismisses it, on the phone it leaves its stack; a chart
// that is the first screen of its own and has no opener to tell dismisses itself.
void chartBack(ui::ViewController& screen, note_editor::noteViewDelegate* delegate);
// The "Done" item of a chart's bar.
std::shared_ptr<ui::BarButtonItem> backItem(std::function<void()> action);
// A "<" or ">" button in the accent colour.
std::shared_ptr<ui::Button> stepButton(const char* title, std::function<void()> action);

}  // namespace charts::detail
