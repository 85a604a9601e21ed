// The whole screen as a person sees it: the alert and its buttons where a tap finds them, the
// keyboard that types, and the status bar over the screens.
#include "platform/ui/screen_render.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/controls.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/text_input.h"
#include "support/temp_dir.h"
#include "ui_fixture.h"

namespace {

class ScreenRenderTest : public ui_testing::UiTest {
 protected:
  ScreenRenderTest() {
    window_ = std::make_shared<ui::Window>();
    window_->setBackgroundColor(graphics::Color::white());
    auto root = std::make_shared<ui::ViewController>();
    root->view()->setBackgroundColor(graphics::Color::white());
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    runLoop();
  }
  graphics::Image render(const std::string& name) {
    auto image = ui::renderScreenToImage(*window_, 2, ui::ScreenRenderOptions{clock_.now()});
    EXPECT_TRUE(image.ok());
    auto png = image->pngData();
    EXPECT_TRUE(png.ok());
    const auto path = testing_support::testOutput() / "screen_render" / (name + ".png");
    std::filesystem::create_directories(path.parent_path());
    (void)ui::renderScreenToPng(*window_, path, 2, ui::ScreenRenderOptions{clock_.now()});
    return std::move(*image);
  }
  std::shared_ptr<ui::Window> window_;
};

struct Answers : ui::AlertViewDelegate, ui::ActionSheetDelegate {
  void alertViewClickedButtonAtIndex(ui::AlertView&, int index) override { alert.push_back(index); }
  void actionSheetClickedButtonAtIndex(ui::ActionSheet&, int index) override { sheet.push_back(index); }
  std::vector<int> alert, sheet;
};

TEST_F(ScreenRenderTest, AlertsAndSheetsShowTheirButtonsWhereTapsFindThem) {
  Answers answers;
  const graphics::Size screen = window_->bounds().size;
  auto blank = render("blank");
  // The status bar's clock and battery are drawn over a white screen.
  bool inked = false;
  for (int x = 0; x < blank.pixelWidth(); ++x) inked |= blank.pixel(x, 20).r < 128;
  EXPECT_TRUE(inked);
  // The ink follows what lies under the bar: the application's white gives way to black on a white
  // screen but stays on a bar's purple picture; black gives way to white on a black screen.
  graphics::Image purple(1, 1);
  purple.setPixel(0, 0, {140, 127, 243, 255});
  const struct {
    ui::StatusBarStyle style;
    graphics::Color screen;
    bool barPicture, whiteInk;
  } inks[] = {{ui::StatusBarStyle::kLightContent, graphics::Color::white(), false, false},
              {ui::StatusBarStyle::kLightContent, graphics::Color::white(), true, true},
              {ui::StatusBarStyle::kDefault, graphics::Color::black(), false, true}};
  for (const auto& ink : inks) {
    ui::Application::shared().setStatusBarStyle(ink.style);
    window_->rootViewController()->view()->setBackgroundColor(ink.screen);
    auto navigationBar = std::make_shared<ui::NavigationBar>();
    navigationBar->setFrame(graphics::Rect(0, 0, window_->bounds().width(), 64));
    navigationBar->setBackgroundImage(std::make_shared<const graphics::Image>(purple));
    if (ink.barPicture) window_->rootViewController()->view()->addSubview(navigationBar);
    auto bar = render("status_bar");
    navigationBar->removeFromSuperview();
    int inked = 0;  // pixels of the expected ink along the clock's middle
    for (int x = 0; x < bar.pixelWidth(); ++x)
      inked += ink.whiteInk ? bar.pixel(x, 20).g > 240 : bar.pixel(x, 20).g < 15;
    EXPECT_GT(inked, 0) << ink.barPicture;
  }
  ui::Application::shared().setStatusBarStyle(ui::StatusBarStyle::kDefault);
  window_->rootViewController()->view()->setBackgroundColor(graphics::Color::white());

  auto sheet = ui::ActionSheet::create("Photo", &answers, "Cancel", "Delete", {"Camera"});
  sheet->showInView(window_.get());
  auto sheetTargets = ui::overlayTargets(screen);
  ASSERT_EQ(sheetTargets.size(), 3u);
  // The cancel button stands last, at the bottom.
  EXPECT_EQ(sheetTargets[2].title, "Cancel");
  EXPECT_GT(sheetTargets[2].frame.y(), sheetTargets[1].frame.maxY());

  auto alert = ui::AlertView::create("Reminder", "Feed the baby", &answers, "Later", {"Now"});
  alert->show();
  auto targets = ui::overlayTargets(screen);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[1].title, "Now");
  for (const auto& t : targets)
    EXPECT_TRUE(graphics::Rect(0, 0, screen.width, screen.height).contains(t.frame));
  auto shown = render("alert_over_sheet");
  // The screen behind is dimmed; the alert's panel is light.
  EXPECT_LT(shown.pixel(4, 300).r, 200);
  EXPECT_GT(shown
                .pixel(static_cast<int>(targets[1].frame.midX() * 2),
                       static_cast<int>(targets[1].frame.y() * 2) + 4)
                .r,
            200);

  EXPECT_TRUE(ui::tapOverlayTarget(targets[1]));
  EXPECT_EQ(answers.alert, std::vector<int>{1});
  // The sheet comes to the front again.
  targets = ui::overlayTargets(screen);
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_TRUE(ui::tapOverlayTarget(targets[0]));
  EXPECT_EQ(answers.sheet, std::vector<int>{0});
  EXPECT_FALSE(ui::overlayBlocksScreen());
}

TEST_F(ScreenRenderTest, TheKeyboardTypesIntoTheFieldAndNumberFieldsGetTheKeypad) {
  const struct {
    ui::KeyboardType type;
    std::vector<std::string> keys;
    std::string typed;
  } cases[] = {
      {ui::KeyboardType::kDefault, {"b", "o", "space", "b", "delete", "x"}, "bo x"},
      {ui::KeyboardType::kDecimalPad, {"1", "2", ".", "5"}, "12.5"},
  };
  for (const auto& c : cases) {
    auto field = std::make_shared<ui::TextField>(graphics::Rect(10, 40, 200, 30));
    field->setKeyboardType(c.type);
    window_->addSubview(field);
    ASSERT_TRUE(field->becomeFirstResponder());
    auto keys = ui::overlayTargets(window_->bounds().size);
    for (const auto& name : c.keys) {
      auto key =
          std::find_if(keys.begin(), keys.end(), [&](const ui::OverlayTarget& k) { return k.title == name; });
      ASSERT_NE(key, keys.end()) << name;
      EXPECT_TRUE(ui::Keyboard::shownFrame().contains(key->frame));
      EXPECT_TRUE(ui::tapOverlayTarget(*key));
    }
    EXPECT_EQ(field->text(), c.typed);
    render(c.type == ui::KeyboardType::kDefault ? "keyboard" : "keypad");
    field->resignFirstResponder();
    field->removeFromSuperview();
  }
  EXPECT_TRUE(ui::overlayTargets(window_->bounds().size).empty());
}

TEST_F(ScreenRenderTest, AFormSheetFloatsOverADimmedScreenOnTheTablet) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window_ = std::make_shared<ui::Window>();
  auto root = std::make_shared<ui::ViewController>();
  root->view()->setBackgroundColor(graphics::Color::white());
  window_->setRootViewController(root);
  window_->makeKeyAndVisible();
  auto sheet = std::make_shared<ui::ViewController>();
  sheet->view()->setBackgroundColor(graphics::Color::white());
  sheet->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  root->presentViewController(sheet, false);
  runLoop();
  auto image = render("form_sheet");
  const graphics::Point inside = sheet->view()->frame().center();
  EXPECT_EQ(image.pixel(static_cast<int>(inside.x * 2), static_cast<int>(inside.y * 2)).r, 255);
  EXPECT_LT(image.pixel(8, 1000).r, 200);
}

// Played for one case of a loop: the next case sets its screen up at once.
struct PlayedAnimations {
  PlayedAnimations() { ui::setAnimationMode(ui::AnimationMode::kPlayed); }
  ~PlayedAnimations() { ui::setAnimationMode(ui::AnimationMode::kAtOnce); }
};

// A red screen whose wheel asks it for its rows whenever it is drawn.
class RedWheelScreen : public ui::ViewController, public ui::PickerViewDataSource {
 public:
  void viewDidLoad() override {
    view()->setBackgroundColor(graphics::Color::red());
    auto wheel = std::make_shared<ui::PickerView>(ui::Rect(0, view()->bounds().height() - 216, 320, 216));
    wheel->setDataSource(this);
    wheel->reloadAllComponents();
    view()->addSubview(wheel);
  }
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int) override {
    ++asked;
    return 3;
  }
  int asked = 0;
};

// Played (the window's real time), a presented screen is drawn rising from the bottom edge into its
// place and a dismissed one sinking away, on the phone and as the tablet's form sheet: a picture
// between shows it part-way. The dismissed screen lives on while it is drawn (its wheel asks it for
// rows) and ends once it is out.
TEST_F(ScreenRenderTest, APresentedScreenRisesAndADismissedOneSinksInThePicture) {
  const struct {
    const char* what;
    ui::DeviceProfile device;
    ui::ModalPresentationStyle style;
  } cases[] = {
      {"phone", ui::DeviceProfile::phone568(), ui::ModalPresentationStyle::kFullScreen},
      {"tablet", ui::DeviceProfile::pad(), ui::ModalPresentationStyle::kFormSheet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ui::ScopedDevice device(c.device);
    window_ = std::make_shared<ui::Window>();
    auto root = std::make_shared<ui::ViewController>();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    runLoop();
    PlayedAnimations played;
    auto sheet = std::make_shared<RedWheelScreen>();
    sheet->setModalPresentationStyle(c.style);
    root->presentViewController(sheet, true);
    const ui::Rect place = sheet->view()->frame();
    const double bottom = window_->bounds().height();
    // Where the red screen's top edge is drawn in the middle of its column, in points.
    const auto redTop = [&]() -> std::optional<double> {
      auto image = ui::renderScreenToImage(*window_, 1, ui::ScreenRenderOptions{clock_.now()});
      if (!image.ok()) return std::nullopt;
      for (int y = 0; y < image->pixelHeight(); ++y) {
        const auto p = image->pixel(static_cast<int>(place.midX()), y);
        if (p.r > 200 && p.g < 60 && p.b < 60) return y;
      }
      return std::nullopt;
    };
    EXPECT_FALSE(redTop());
    loop_.advance(0.175);
    auto top = redTop();
    ASSERT_TRUE(top);
    EXPECT_GT(*top, place.y() + 20);
    EXPECT_LT(*top, bottom - 20);
    loop_.advance(0.2);
    EXPECT_NEAR(redTop().value_or(-1), place.y(), 1);

    std::weak_ptr<RedWheelScreen> leaving = sheet;
    sheet.reset();
    root->dismissViewControllerAnimated(true);
    loop_.advance(0.175);
    ASSERT_FALSE(leaving.expired());
    const int asked = leaving.lock()->asked;
    top = redTop();
    ASSERT_TRUE(top);
    EXPECT_GT(*top, place.y() + 20);
    EXPECT_LT(*top, bottom - 20);
    EXPECT_GT(leaving.lock()->asked, asked);
    loop_.advance(0.2);
    EXPECT_FALSE(redTop());
    EXPECT_TRUE(leaving.expired());
  }
}

// What lies below a floating screen, kept by the caller as the window keeps it: restored whenever it
// was kept (the views below stay as they are here).
class KeptBelow : public ui::ScreenUnderlay {
 public:
  explicit KeptBelow(graphics::CairoCanvas& canvas) : canvas_(canvas) {}
  bool restore(const ui::View&, const std::vector<const ui::View*>& below) override {
    asked = below;
    if (pixels_.empty() || !canvas_.restorePixels(pixels_)) return false;
    ++restored;
    return true;
  }
  void keep(const ui::View&, const std::vector<const ui::View*>& below) override {
    EXPECT_EQ(below, asked);
    pixels_ = canvas_.pixelCopy();
    ++kept;
  }
  std::vector<const ui::View*> asked;
  int restored = 0, kept = 0;

 private:
  graphics::CairoCanvas& canvas_;
  std::vector<std::uint8_t> pixels_;
};

// A window drawing frame after frame on one canvas keeps what lies below a tablet's form sheet while
// the sheet rises: the screens below are drawn once, and every picture is the one drawn whole. A
// screen with nothing floating is drawn whole without asking.
TEST_F(ScreenRenderTest, WhatLiesBelowAFormSheetIsDrawnOnceWhileTheSheetRises) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window_ = std::make_shared<ui::Window>();
  auto root = std::make_shared<ui::ViewController>();
  root->view()->setBackgroundColor(graphics::Color::white());
  auto label = std::make_shared<ui::Label>(ui::Rect(10, 100, 300, 40));
  label->setText("Below the sheet");
  root->view()->addSubview(label);
  window_->setRootViewController(root);
  window_->makeKeyAndVisible();
  runLoop();
  auto canvas = graphics::CairoCanvas::createBitmap(window_->bounds().size, 1.2).value();
  KeptBelow kept(*canvas);
  const auto frameIsWhole = [&] {
    canvas->clearBitmap();
    ui::renderScreen(*window_, *canvas, ui::ScreenRenderOptions{clock_.now(), &kept});
    auto whole = ui::renderScreenToImage(*window_, 1.2, ui::ScreenRenderOptions{clock_.now()});
    return whole.ok() && graphics::Image::samePicture(canvas->image().value(), *whole);
  };
  EXPECT_TRUE(frameIsWhole());
  EXPECT_EQ(kept.kept + kept.restored, 0) << "nothing floats yet";

  PlayedAnimations played;
  auto sheet = std::make_shared<RedWheelScreen>();
  sheet->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  root->presentViewController(sheet, true);
  for (int frame = 0; frame < 8; ++frame) {
    EXPECT_TRUE(frameIsWhole()) << frame;
    loop_.advance(0.05);
  }
  EXPECT_EQ(kept.asked, std::vector<const ui::View*>{root->view().get()});
  EXPECT_EQ(kept.kept, 1);
  EXPECT_EQ(kept.restored, 7);
}

// The editor's way of making room: the navigation bar slides up out of view as the status bar slides
// off the top, over the same time. Every picture on the way is whole: the bar's title and the
// screen's rows keep their size (never stretched or squeezed), the title stays inside the bar as
// drawn, and the status bar's ink stands out on the bar while the bar is still under it.
TEST_F(ScreenRenderTest, EveryPictureOfABarSlidingAwayIsWhole) {
  const graphics::Color purple = graphics::Color::rgb255(120, 100, 220);
  ui::NavigationBar::appearance().barTintColor = purple;
  auto& app = ui::Application::shared();
  app.setStatusBarStyle(ui::StatusBarStyle::kLightContent);
  auto screen = std::make_shared<ui::ViewController>();
  screen->setTitle("Diaper");
  auto nav = std::make_shared<ui::NavigationController>(screen);
  window_->setRootViewController(nav);
  app.setKeyWindow(window_);
  runLoop();
  auto row = std::make_shared<ui::Label>(ui::Rect(16, 100, 200, 30));
  row->setText("Note");
  screen->view()->addSubview(row);

  ui::setAnimationMode(ui::AnimationMode::kPlayed);
  nav->setNavigationBarHidden(true, true);
  app.setStatusBarHidden(true, true);
  for (int frame = 0; frame <= 5; ++frame) {
    SCOPED_TRACE(frame);
    graphics::RecordingCanvas canvas(window_->bounds().size);
    ui::renderScreen(*window_, canvas, ui::ScreenRenderOptions{clock_.now()});
    std::optional<ui::Rect> bar;
    for (const auto& fill : canvas.fills())
      if (fill.color == purple) bar = fill.baseRect;
    for (const auto& text : canvas.opsOf<graphics::rec::DrawText>()) {
      const auto& t = text.state.transform;
      const std::string words = text.text.string();
      if (words == "Diaper" || words == "Note") {
        EXPECT_DOUBLE_EQ(t.a, 1) << words;
        EXPECT_DOUBLE_EQ(t.d, 1) << words;
      }
      // The title rides in the bar's lowest 44 points, as drawn, below the status bar's room.
      if (words == "Diaper" && bar && text.rect) {
        EXPECT_NEAR(t.ty + text.rect->midY() * t.d, bar->maxY() - 22, 1);
      }
      if (words == "Carrier" && bar && bar->maxY() > 20) {
        EXPECT_EQ(text.text.runs.front().color, graphics::Color::white());
      }
    }
    loop_.advance(ui::kBarSlideDuration / 5);
  }
  EXPECT_FALSE(ui::animationsPlaying());
}

}  // namespace
