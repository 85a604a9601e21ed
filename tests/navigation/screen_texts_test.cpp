// The navigation screens in the longest languages, on the smallest phone and on the tablet: every
// text is drawn whole and every control lies on the screen.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "app/model.h"
#include "navigation/language_controller.h"
#include "navigation/note_type_chooser.h"
#include "navigation/reminder_controller.h"
#include "navigation/screen_fit.h"
#include "navigation/settings_controller.h"
#include "navigation/type_order_editor.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "platform/ui/ui_fixture.h"
#include "support/temp_dir.h"

namespace navigation {
namespace {

class ScreenTextsTest : public ui_testing::UiTest {
 protected:
  ScreenTextsTest() {
    previousBundle_ =
        runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(testing_support::resourcesFolder()));
    previousDefaults_ = runtime::UserDefaults::setStandard(defaults_);
    app::installNavigationBarLook();
    store_ = store::Store::open(temp_.path() / "dataBase.sqlite", app::managedObjectModel()).value();
    context_ = store_->newContext().value();
  }
  ~ScreenTextsTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
    runtime::Bundle::setMain(previousBundle_);
    runtime::UserDefaults::setStandard(previousDefaults_);
    ui::NavigationBar::appearance() = plainBars_;
  }

  void speak(const std::string& language) {
    ASSERT_TRUE(defaults_->setArray(runtime::UserDefaults::kAppleLanguagesKey,
                                    foundation::Array{foundation::Value(language)}));
  }

  ChooserServices services() {
    ChooserServices s;
    s.language = [] { return app::InterfaceText::current(); };
    s.library = temp_.path() / "Library";
    s.tutorialState = [] { return -1; };
    return s;
  }

  app::NoteEditHelper helper() {
    app::NoteEditHelper::Environment environment;
    environment.context = [context = context_] { return context; };
    environment.library = temp_.path() / "Library";
    return app::NoteEditHelper(environment);
  }

  // Shows the screens pushed one on another and returns what a person would miss on the top one.
  std::vector<std::string> problemsOf(std::vector<std::shared_ptr<ui::ViewController>> stack) {
    if (window_) window_->setRootViewController(nullptr);
    window_ = std::make_shared<ui::Window>();
    auto navigation = std::make_shared<ui::NavigationController>(stack.front());
    window_->setRootViewController(navigation);
    window_->makeKeyAndVisible();
    for (size_t i = 1; i < stack.size(); ++i) navigation->pushViewController(stack[i], false);
    runLoop();
    window_->layoutIfNeeded();
    return screen_fit::problems(*window_);
  }

  // Laid out and checked with the fonts as the screen draws them.
  graphics::ScopedTextMeasurer realFonts_{std::make_shared<graphics::PangoTextMeasurer>()};
  testing_support::TempDir temp_;
  std::shared_ptr<runtime::UserDefaults> defaults_ =
      std::make_shared<runtime::UserDefaults>(temp_.path() / "prefs.plist", std::vector<std::string>{"en"});
  std::shared_ptr<runtime::Bundle> previousBundle_;
  // The bars as the launch styles them, restored afterwards.
  const ui::NavigationBarAppearance plainBars_ = ui::NavigationBar::appearance();
  std::shared_ptr<runtime::UserDefaults> previousDefaults_;
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(ScreenTextsTest, EveryTextIsWholeAndEveryControlOnTheScreen) {
  for (bool pad : {false, true}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    for (const char* language : {"en", "ru", "de"}) {
      speak(language);
      auto reminderDate = std::make_shared<reminderDateScreen>(services(), &clock_);
      reminderDate->setTypeId("Breast Feeding");
      const std::pair<const char*, std::vector<std::shared_ptr<ui::ViewController>>> screens[] = {
          {"chooser", {std::make_shared<noteTypeTableController>(services())}},
          {"order editor",
           {std::make_shared<noteTypeTableController>(services()),
            std::make_shared<noteTypeListEditController>(services())}},
          {"settings", {std::make_shared<settingsController>(helper())}},
          {"units",
           {std::make_shared<settingsController>(helper()), std::make_shared<unitsController>(helper())}},
          {"language",
           {std::make_shared<settingsController>(helper()), std::make_shared<languageController>(defaults_)}},
          {"reminders", {std::make_shared<reminderController>(services(), &clock_)}},
          {"reminder date", {std::make_shared<reminderController>(services(), &clock_), reminderDate}},
      };
      for (const auto& [name, stack] : screens) {
        EXPECT_EQ(problemsOf(stack), std::vector<std::string>{})
            << name << " in " << language << (pad ? " on the tablet" : " on the phone");
      }
    }
  }
}

}  // namespace
}  // namespace navigation
