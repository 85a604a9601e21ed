#pragma once
// A clean screen for each test: a main run loop on a manual clock, a known device, animations applied
// at once, plain navigation bars, and no alerts, popovers, keyboard, recorded events or application
// state left over from another test. A test may play animations or restyle the bars: the fixture
// puts them back.

#include <gtest/gtest.h>

#include "platform/foundation/clock.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/alert.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/view.h"
#include "platform/ui/view_controller.h"

namespace ui_testing {

class UiTest : public ::testing::Test {
 protected:
  UiTest() : loop_(clock_), mainLoop_(loop_), device_(ui::DeviceProfile::phone568()) { resetScreen(); }
  ~UiTest() override {
    ui::setAnimationMode(ui::AnimationMode::kAtOnce);  // what the test leaves open closes at once
    for (auto& p : ui::visiblePopovers()) p->dismissPopoverAnimated(false);
    if (ui::View* responder = ui::View::currentFirstResponder()) responder->resignFirstResponder();
    loop_.runUntilIdle();
    resetScreen();
  }

  static void resetScreen() {
    ui::setAnimationMode(ui::AnimationMode::kAtOnce);
    ui::NavigationBar::appearance() = ui::NavigationBarAppearance{};
    ui::removeAllAlerts();
    ui::clearScreenEvents();
    ui::clearAnimationLog();
    ui::Application::shared().reset();
    ui::Keyboard::reset();
  }

  void runLoop() { loop_.runUntilIdle(); }

  foundation::ManualClock clock_{foundation::Date{600000000}};
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop mainLoop_;
  ui::ScopedDevice device_;
  graphics::ScopedTextMeasurer measurer_;
};

}  // namespace ui_testing
