// Overlays as the window plays them: an action sheet slides up and back down, a popover fades in
// and out; both answer taps as the device does meanwhile, and leave nothing behind.
#include <gtest/gtest.h>

#include <optional>

#include "platform/ui/controls.h"
#include "platform/ui/screen_render.h"
#include "platform/ui/touch.h"
#include "ui_fixture.h"

namespace {

class PlayedOverlaysTest : public ui_testing::UiTest {
 protected:
  // A window on a screen of the colour, animations playing from now.
  void show(const std::shared_ptr<ui::ViewController>& root, const graphics::Color& colour) {
    root->view()->setBackgroundColor(colour);
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    runLoop();
    ui::setAnimationMode(ui::AnimationMode::kPlayed);
  }
  graphics::Image::Rgba pixel(double x, double y) {
    auto image = ui::renderScreenToImage(*window_, 1, ui::ScreenRenderOptions{clock_.now()});
    return image.ok() ? image->pixel(static_cast<int>(x), static_cast<int>(y)) : graphics::Image::Rgba{};
  }
  std::shared_ptr<ui::Window> window_ = std::make_shared<ui::Window>();
};

struct SheetAnswers : ui::ActionSheetDelegate {
  explicit SheetAnswers(foundation::Clock& clock) : clock(clock) {}
  void actionSheetClickedButtonAtIndex(ui::ActionSheet&, int) override { clicked.push_back(clock.now().sinceReference); }
  void actionSheetDidDismissWithButtonIndex(ui::ActionSheet&, int) override {
    dismissed.push_back(clock.now().sinceReference);
  }
  foundation::Clock& clock;
  std::vector<double> clicked, dismissed;
};

// Shown on a grey screen, the sheet rises from the bottom edge as the dimming deepens; its buttons
// answer at their places at once. A tap is clicked at once and takes the sheet out of reach; it
// sinks away drawn, and its dismissal is told once it is out. A delegate that goes meanwhile hears
// nothing more.
TEST_F(PlayedOverlaysTest, AnActionSheetSlidesUpAndDownAndAnswersMeanwhile) {
  show(std::make_shared<ui::ViewController>(), graphics::Color::white(0.5));
  SheetAnswers answers(clock_);
  const double start = clock_.now().sinceReference;
  auto sheet = ui::ActionSheet::create(std::nullopt, &answers, "Cancel", "Start");
  sheet->showInView(nullptr);
  const auto buttons = ui::overlayTargets(window_->bounds().size);
  ASSERT_EQ(buttons.size(), 2u);
  // Whether the sheet's near-white panel is drawn `below` points under where its first button stands.
  const auto drawnAt = [&](double below) { return pixel(160, buttons.front().frame.y() + below).r > 235; };
  const auto dimmedTo = [&] { return pixel(20, 100).r; };
  EXPECT_FALSE(drawnAt(60));
  EXPECT_NEAR(dimmedTo(), 128, 1);
  loop_.advance(0.15);
  EXPECT_TRUE(drawnAt(60));
  EXPECT_FALSE(drawnAt(1));
  EXPECT_GT(dimmedTo(), 0.6 * 128 + 5);
  EXPECT_LT(dimmedTo(), 128 - 5);
  loop_.advance(0.2);
  EXPECT_TRUE(drawnAt(1));
  EXPECT_NEAR(dimmedTo(), 0.6 * 128, 1);

  ASSERT_TRUE(ui::tapOverlayTarget(buttons.front()));
  EXPECT_EQ(answers.clicked, std::vector<double>{start + 0.35});
  EXPECT_TRUE(ui::overlayTargets(window_->bounds().size).empty());
  loop_.advance(0.15);
  EXPECT_TRUE(drawnAt(60));
  EXPECT_FALSE(drawnAt(1));
  EXPECT_TRUE(answers.dismissed.empty());
  loop_.advance(0.2);
  EXPECT_EQ(answers.dismissed, std::vector<double>{start + 0.65});
  EXPECT_FALSE(drawnAt(60));
  EXPECT_NEAR(dimmedTo(), 128, 1);

  auto gone = std::make_unique<SheetAnswers>(clock_);
  sheet->setDelegate(gone.get());
  sheet->showInView(nullptr);
  loop_.advance(0.4);
  sheet->tapButton(sheet->cancelButtonIndex());
  gone.reset();
  loop_.advance(0.4);
  EXPECT_EQ(sheet->delegate(), nullptr);
  EXPECT_TRUE(ui::actionSheetsSlidingAway().empty());
}

// On the tablet a popover fades in over a white screen whose dimming fades with it; its controls
// answer from the start. Closed, it is out of reach at once and fades out before it leaves the window.
TEST_F(PlayedOverlaysTest, APopoverFadesInAndOutAndAnswersMeanwhile) {
  ui::ScopedDevice pad(ui::DeviceProfile::pad());
  window_ = std::make_shared<ui::Window>();
  auto root = std::make_shared<ui::ViewController>();
  show(root, graphics::Color::white());
  auto content = std::make_shared<ui::ViewController>();
  content->view()->setBackgroundColor(graphics::Color::red());
  auto done = std::make_shared<ui::Button>(ui::Rect(10, 10, 100, 44));
  int taps = 0;
  done->addTarget([&](ui::Control&) { ++taps; }, ui::kControlEventTouchUpInside);
  content->view()->addSubview(done);
  auto popover = ui::PopoverController::create(content);
  popover->presentPopoverFromRect(ui::Rect(100, 100, 50, 50), root->view().get(), ui::kPopoverArrowLeft, true);
  const ui::Rect frame = content->view()->frame();
  // How red its middle is drawn, and how light the screen below it.
  const auto redness = [&] {
    const auto p = pixel(frame.midX(), frame.midY());
    return p.r - p.g;
  };
  const auto outside = [&] { return pixel(frame.midX(), frame.maxY() + 40).r; };
  EXPECT_LT(redness(), 10);
  EXPECT_GT(outside(), 250);
  loop_.advance(0.125);
  EXPECT_GT(redness(), 40);
  EXPECT_LT(redness(), 200);
  EXPECT_GT(outside(), 160);
  EXPECT_LT(outside(), 250);
  EXPECT_EQ(ui::TouchInjector(*window_).tap(ui::Point(frame.x() + 20, frame.y() + 20)), done.get());
  EXPECT_EQ(taps, 1);
  loop_.advance(0.15);
  EXPECT_GT(redness(), 250);

  popover->dismissPopoverAnimated(true);
  EXPECT_TRUE(ui::visiblePopovers().empty());
  EXPECT_FALSE(window_->hitTest(frame.center())->isDescendantOfView(content->view().get()));
  loop_.advance(0.125);
  EXPECT_GT(redness(), 40);
  EXPECT_LT(redness(), 200);
  loop_.advance(0.15);
  EXPECT_EQ(content->view()->superview(), nullptr);
  EXPECT_EQ(content->view()->alpha(), 1);
  EXPECT_LT(redness(), 10);
  EXPECT_GT(outside(), 250);
}

}  // namespace
