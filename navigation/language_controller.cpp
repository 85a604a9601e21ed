#include "navigation/language_controller.h"

#include <algorithm>

#include "app/flat_widgets.h"
#include "platform/foundation/log.h"
#include "platform/ui/device.h"
#include "platform/ui/screen_render.h"

namespace navigation {

const std::vector<InterfaceLanguage>& interfaceLanguages() {
  static const std::vector<InterfaceLanguage> languages = {
      {"en", "English"}, {"de", "Deutsch"},   {"es", "Español"}, {"fr", "Français"},
      {"ja", "日本語"},  {"pt", "Português"}, {"ru", "Русский"}, {"zh-Hans", "简体中文"},
  };
  return languages;
}

namespace {

// The listed language a preference names: itself, or the language it is a regional form of
// ("pt-PT" is "pt", "zh-Hans-CN" is "zh-Hans").
std::optional<size_t> languageIndex(std::string_view preferred) {
  const auto& languages = interfaceLanguages();
  std::optional<size_t> best;
  for (size_t i = 0; i < languages.size(); ++i) {
    const auto code = languages[i].code;
    if (preferred == code) return i;
    if (preferred.starts_with(code) && preferred.size() > code.size() && preferred[code.size()] == '-')
      best = i;
  }
  return best;
}

}  // namespace

languageController::languageController(std::shared_ptr<runtime::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

runtime::UserDefaults& languageController::defaults() const {
  return defaults_ ? *defaults_ : *runtime::UserDefaults::standard();
}

void languageController::viewDidLoad() {
  setTitle("Language / Язык");
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      "OK", ui::BarButtonItemStyle::kDone, [this](ui::BarButtonItem&) { done(); }));
  // Pushed from the settings: the flat back button, which leaves the two-language title its room.
  if (!launchedFromMainScreen_) {
    navigationItem().setLeftBarButtonItem(
        app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] {
          if (auto* navigation = navigationController();
              navigation && navigation->viewControllers().size() > 1)
            navigation->popViewControllerAnimated(true);
        }));
  }
  if (auto preferred = defaults().stringArrayForKey(runtime::UserDefaults::kAppleLanguagesKey);
      preferred && !preferred->empty())
    selected_ = languageIndex(preferred->front());
  table_ = std::make_shared<ui::TableView>(view()->bounds());
  table_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  table_->setDataSource(this);
  table_->setDelegate(this);
  view()->addSubview(table_);

  confirmButton_ = std::make_shared<ui::Button>(ui::Rect());
  confirmButton_->setTitle("OK");
  confirmButton_->setTitleColor(graphics::Color::rgb255(140, 127, 243));
  confirmButton_->setTitleFont(graphics::Font::systemFontOfSize(18));
  confirmButton_->setBackgroundColor(graphics::Color::white());
  confirmButton_->addTarget([this](ui::Control&) { done(); }, ui::kControlEventTouchUpInside);
  view()->addSubview(confirmButton_);
  confirmHairline_ = std::make_shared<ui::View>(ui::Rect());
  confirmHairline_->setBackgroundColor(app::flatHairlineColor());
  confirmHairline_->setUserInteractionEnabled(false);
  view()->addSubview(confirmHairline_);
  layOutParts();
}

void languageController::viewWillAppear(bool /*animated*/) { layOutParts(); }

void languageController::viewWillLayoutSubviews() { layOutParts(); }

void languageController::layOutParts() {
  if (!table_) return;
  constexpr double kConfirmHeight = 50;
  auto* navigation = navigationController();
  const bool barShown = navigation && !navigation->isNavigationBarHidden();
  const ui::Rect b = view()->bounds();
  // Without a bar the screen starts at the top of the display, under the status bar.
  const double top = barShown || ui::device().statusBarHidden ? 0 : ui::kStatusBarHeight;
  const double bottom = barShown ? 0 : kConfirmHeight;
  table_->setFrame(ui::Rect(b.x(), b.y() + top, b.width(), std::max(0.0, b.height() - top - bottom)));
  confirmButton_->setFrame(ui::Rect(b.x(), b.maxY() - kConfirmHeight, b.width(), kConfirmHeight));
  confirmHairline_->setFrame(ui::Rect(b.x(), b.maxY() - kConfirmHeight, b.width(), 0.5));
  confirmButton_->setHidden(barShown);
  confirmHairline_->setHidden(barShown);
}

int languageController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(interfaceLanguages().size());
}

std::shared_ptr<ui::TableViewCell> languageController::cellForRowAtIndexPath(ui::TableView& table,
                                                                             const ui::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier("languageCell");
  if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::kDefault, "languageCell");
  const auto index = static_cast<size_t>(path.row);
  cell->textLabel().setText(std::string(interfaceLanguages().at(index).name));
  cell->setAccessoryType(selected_ == index ? ui::CellAccessoryType::kCheckmark
                                            : ui::CellAccessoryType::kNone);
  return cell;
}

void languageController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  if (path.row < 0 || static_cast<size_t>(path.row) >= interfaceLanguages().size()) return;
  selected_ = static_cast<size_t>(path.row);
  table.reloadData();
}

void languageController::done() {
  if (!selected_) return;
  const std::string code(interfaceLanguages()[*selected_].code);
  // The chosen language first, the others as they were.
  foundation::Array languages{foundation::Value(code)};
  if (auto preferred = defaults().stringArrayForKey(runtime::UserDefaults::kAppleLanguagesKey)) {
    for (const auto& language : *preferred) {
      if (language != code) languages.emplace_back(language);
    }
  }
  if (auto stored = defaults().setArray(runtime::UserDefaults::kAppleLanguagesKey, std::move(languages));
      !stored) {
    foundation::log("The language could not be stored: " + stored.error().description());
    return;
  }
  if (auto written = defaults().synchronize(); !written)
    foundation::log("The language could not be written: " + written.error().description());

  auto self = shared_from_this();
  auto* navigation = navigationController();
  if (launchedFromMainScreen_) {
    if (navigation) return navigation->dismissViewControllerAnimated(false);
    return dismissViewControllerAnimated(false);
  }
  if (navigation && navigation->viewControllers().size() > 1) navigation->popViewControllerAnimated(true);
}

// ---------------------------------------------------------------------------------------------

void registerLanguageScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kLanguageControllerId, [] { return std::make_shared<languageController>(); });
}

}  // namespace navigation
