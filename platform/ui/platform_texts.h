#pragma once
// The platform's own texts (the mail screen's buttons and rows, a list's delete button, the
// default back button) in the interface language: the first preferred language's table
// "Platform.strings" in the application's "<language>.lproj", keyed by the English text, as the
// platform brings its own translations. The English text where that language has none. Any thread;
// each language's table is read once.

#include <string>
#include <string_view>

namespace ui {

std::string platformText(std::string_view english);

}  // namespace ui
