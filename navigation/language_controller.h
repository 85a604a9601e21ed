#pragma once
// The language screen: the eight interface languages, each in its own name. A tap marks one;
// "OK" confirms it: the "AppleLanguages" preference becomes that language first, and the
// screen goes:
//   launched from the main screen  the navigation controller holding it is dismissed, not animated
//   otherwise (from the settings)  it pops itself
// "OK" is the bar's where a bar shows; where none does (the phone's first launch hides it) the
// screen shows its own "OK" below the list, and the list starts below the status bar.
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/user_defaults.h"
#include "platform/ui/controls.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace navigation {

inline constexpr const char* kLanguageControllerId = "languageController";

struct InterfaceLanguage {
  std::string_view code;  // the "lproj" folder name
  std::string_view name;  // in the language itself
};
// The languages the diary has texts for.
const std::vector<InterfaceLanguage>& interfaceLanguages();

class languageController : public ui::ViewController,
                           public ui::TableViewDataSource,
                           public ui::TableViewDelegate {
 public:
  // The standard preferences when null.
  explicit languageController(std::shared_ptr<runtime::UserDefaults> defaults = nullptr);

  void setLaunchedFromMainScreen(bool launched) { launchedFromMainScreen_ = launched; }
  bool launchedFromMainScreen() const { return launchedFromMainScreen_; }

  // The marked language's index; at first the one in force (none when it is not among them).
  std::optional<size_t> selectedIndex() const { return selected_; }
  ui::TableView& languageTable() { return *table_; }

  // "OK": writes the marked language and leaves; nothing while none is marked.
  void done();
  // The screen's own "OK", shown only while no navigation bar shows.
  ui::Button& confirmButton() { return *confirmButton_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillLayoutSubviews() override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

 private:
  runtime::UserDefaults& defaults() const;
  // The list, and the own "OK" when no bar shows, in the view's bounds.
  void layOutParts();

  std::shared_ptr<runtime::UserDefaults> defaults_;
  bool launchedFromMainScreen_ = false;
  std::optional<size_t> selected_;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::Button> confirmButton_;
  std::shared_ptr<ui::View> confirmHairline_;
};

// Registers "languageController".
void registerLanguageScreens(ui::Storyboard& storyboard);

}  // namespace navigation
