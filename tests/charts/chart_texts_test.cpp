// The charts in the longest languages, on the smallest phone and on the tablet: every text is drawn
// whole and every control lies on the screen.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
#include "platform/graphics/recording_canvas.h"
#include "navigation/screen_fit.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/ui_fixture.h"
#include "support/diary_store.h"
#include "support/temp_dir.h"

namespace charts {
namespace {

class ChartTextsTest : public ui_testing::UiTest {
 protected:
  ChartTextsTest() {
    previousBundle_ =
        runtime::Bundle::setMain(std::make_shared<runtime::Bundle>(testing_support::resourcesFolder()));
    previousDefaults_ = runtime::UserDefaults::setStandard(defaults_);
    app::installNavigationBarLook();
    store_ = testing_support::openDiaryStore(home_);
    context_ = store_->newContext().value();
  }
  ~ChartTextsTest() override {
    runtime::Bundle::setMain(previousBundle_);
    runtime::UserDefaults::setStandard(previousDefaults_);
    ui::NavigationBar::appearance() = plainBars_;
  }

  app::NoteEditHelper helper(const std::string& language) {
    app::NoteEditHelper::Environment environment;
    environment.context = [this] { return context_; };
    environment.library = home_.library();
    environment.clock = &clock_;
    environment.language = [language] {
      return app::InterfaceText(language, [language](std::string_view key) {
        return runtime::Bundle::main()->localizedStringInLanguage(key, language);
      });
    };
    return app::NoteEditHelper(environment);
  }

  graphics::ScopedTextMeasurer realFonts_{std::make_shared<graphics::PangoTextMeasurer>()};
  testing_support::TempDir temp_;
  files::AppHome home_{temp_.path() / "home"};
  std::shared_ptr<runtime::UserDefaults> defaults_ =
      std::make_shared<runtime::UserDefaults>(temp_.path() / "prefs.plist", std::vector<std::string>{"en"});
  std::shared_ptr<runtime::Bundle> previousBundle_;
  std::shared_ptr<runtime::UserDefaults> previousDefaults_;
  const ui::NavigationBarAppearance plainBars_ = ui::NavigationBar::appearance();
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
};

TEST_F(ChartTextsTest, EveryTextIsWholeAndEveryControlOnTheScreen) {
  for (bool pad : {false, true}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    for (const char* language : {"en", "ru", "de"}) {
      ASSERT_TRUE(defaults_->setArray(runtime::UserDefaults::kAppleLanguagesKey,
                                      foundation::Array{foundation::Value(language)}));
      const std::shared_ptr<ui::ViewController> screens[] = {
          std::make_shared<graphicsViewController>(helper(language)),
          std::make_shared<DayTrackController>(helper(language), &clock_),
          std::make_shared<sumChartController>(helper(language), foundation::Calendar::current(),
                                               [](std::string, foundation::Dictionary) {})};
      for (const auto& screen : screens) {
        auto window = std::make_shared<ui::Window>();
        window->setRootViewController(std::make_shared<ui::NavigationController>(screen));
        window->makeKeyAndVisible();
        runLoop();
        window->layoutIfNeeded();
        const ui::ViewController& shown = *screen;
        EXPECT_EQ(screen_fit::problems(*window), std::vector<std::string>{})
            << typeid(shown).name() << " in " << language << (pad ? " on the tablet" : " on the phone");
        // The day is named in the interface's language (the fixture's clock stands in 1/2020).
        if (auto* track = dynamic_cast<DayTrackController*>(screen.get());
            track && language == std::string("ru")) {
          EXPECT_NE(track->dayLabel().text().find("янв"), std::string::npos) << track->dayLabel().text();
        }
        window->setRootViewController(nullptr);
        runLoop();
      }
    }
  }
}

// The day track writes the names of its rows whole: a name the column cannot hold at the largest
// size is drawn smaller, and one still too long takes two lines.
TEST_F(ChartTextsTest, TheDayTrackWritesItsTypeNamesWhole) {
  struct Case {
    bool pad;
    const char* language;
  } cases[] = {{false, "en"}, {false, "ru"}, {false, "de"}, {true, "ru"}, {true, "en"}};
  const std::vector<std::string> types{"Breast Feeding", "Sleep", "Сhest Size", "Temperature", "Procedure"};
  for (const auto& c : cases) {
    ui::ScopedDevice device(c.pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    DayStripView strip;
    strip.setFrame(graphics::Rect(0, 0, c.pad ? 540 : 320, 400));
    strip.setTypeTitle([&](const std::string& type) {
      return runtime::Bundle::main()->localizedStringInLanguage(type, c.language);
    });
    std::vector<DaySpan> spans;
    for (std::size_t i = 0; i < types.size(); ++i)
      spans.push_back({types[i], foundation::Date{3600.0 * static_cast<double>(i)},
                       foundation::Date{3600.0 * static_cast<double>(i) + 1800}});
    strip.setSpans(spans, foundation::Date{0});
    graphics::RecordingCanvas canvas(graphics::Size{strip.bounds().width(), strip.bounds().height()});
    strip.drawRect(canvas, strip.bounds());
    std::size_t names = 0;
    for (const auto& text : canvas.texts()) {
      if (!text.rect || text.text.size() < 3) continue;  // the hours
      ++names;
      const auto size = graphics::defaultTextMeasurer()->sizeOf(
          text.text, text.font, text.lineBreak == graphics::LineBreakMode::kWordWrap ? text.rect->width() : 0);
      EXPECT_LE(size.width, text.rect->width() + 0.5) << text.text << " in " << c.language;
      EXPECT_LE(size.height, text.rect->height() + 0.5) << text.text << " in " << c.language;
      // The bars start right of the names.
      EXPECT_LE(text.rect->maxX(), strip.rectFor(spans.front()).x()) << text.text;
    }
    EXPECT_EQ(names, types.size()) << c.language;
  }
}

}  // namespace
}  // namespace charts
