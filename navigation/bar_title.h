#pragma once
// A screen title that shrinks into the room its bar's buttons leave instead of being cut: titles such
// as a new baby's or the chooser's are longer than that room in Russian and German on a phone.

#include <string>

#include "platform/ui/view_controller.h"

namespace navigation {

// Sets the screen's title and shows it in the bar as a label that shrinks to at most 0.6 of the bar's
// title font to fit between the screen's bar items; call it after the items are set.
void setShrinkingTitle(ui::ViewController& screen, const std::string& title);

}  // namespace navigation
