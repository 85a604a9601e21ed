// A popover with fields on the tablet: the field being typed into stays above the keyboard, the
// popover moving up only as far as it must and never off the screen, and back when the keyboard goes.

#include <gtest/gtest.h>

#include "platform/ui/text_input.h"
#include "ui_fixture.h"

namespace {

using PopoverKeyboardTest = ui_testing::UiTest;

constexpr int kResign = -1;      // the field being edited resigns: the keyboard goes
constexpr int kOutsideField = -2;  // a field of the screen behind the popover is edited

struct Step {
  int field;        // index into the popover's fields, or one of the two above
  double popoverY;  // where the popover's top is afterwards
};

TEST_F(PopoverKeyboardTest, TheFieldBeingEditedStaysAboveTheKeyboard) {
  // The popover is 480 high, its fields 40 high at 20, 200, 300 and 420 in it. It is presented at
  // 500 upright (the keyboard's top at 760) and at 288 turned (clamped to the screen; the keyboard's
  // top at 416). A field keeps 8 points clear of the keyboard.
  const struct {
    const char* name;
    ui::Orientation orientation;
    std::vector<Step> steps;
  } cases[] = {
      {"a high field moves nothing", ui::Orientation::kPortrait, {{0, 500}, {1, 500}, {kResign, 500}}},
      {"a low field lifts the popover, as little as it must",
       ui::Orientation::kPortrait,
       {{2, 412}, {kResign, 500}}},
      {"typing moves on to a lower field, then back up to a high one",
       ui::Orientation::kPortrait,
       {{1, 500}, {2, 412}, {3, 292}, {0, 500}, {3, 292}, {kResign, 500}}},
      {"a field behind the popover leaves it where it was presented",
       ui::Orientation::kPortrait,
       {{3, 292}, {kOutsideField, 500}, {kResign, 500}}},
      {"turned, the popover stops at the top of the screen", ui::Orientation::kLandscapeLeft,
       {{0, 288}, {1, 168}, {3, 0}, {kResign, 288}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui::DeviceProfile profile = ui::DeviceProfile::pad();
    profile.statusBarOrientation = c.orientation;
    ui::ScopedDevice pad(profile);
    auto window = std::make_shared<ui::Window>();
    auto root = std::make_shared<ui::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto behind = std::make_shared<ui::TextField>(ui::Rect(20, 100, 200, 40));
    root->view()->addSubview(behind);

    auto content = std::make_shared<ui::ViewController>();
    std::vector<std::shared_ptr<ui::TextField>> fields;
    for (double y : {20.0, 200.0, 300.0, 420.0}) {
      fields.push_back(std::make_shared<ui::TextField>(ui::Rect(10, y, 300, 40)));
      content->view()->addSubview(fields.back());
    }
    auto popover = ui::PopoverController::create(content);
    popover->presentPopoverFromRect(ui::Rect(300, 500, 10, 10), root->view().get(), ui::kPopoverArrowLeft,
                                    false);
    runLoop();
    const ui::View& shown = *content->view();
    const double keyboardTop = ui::Keyboard::shownFrame().y();
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      if (step.field == kResign) {
        ASSERT_NE(ui::View::currentFirstResponder(), nullptr);
        ui::View::currentFirstResponder()->resignFirstResponder();
      } else if (step.field == kOutsideField) {
        ASSERT_TRUE(behind->becomeFirstResponder());
      } else {
        ASSERT_TRUE(fields[step.field]->becomeFirstResponder());
      }
      runLoop();
      EXPECT_DOUBLE_EQ(shown.frame().y(), step.popoverY) << "step " << i;
      EXPECT_DOUBLE_EQ(shown.frame().x(), 310) << "step " << i;
      if (step.field >= 0 && step.popoverY > 0) {
        const ui::Rect field = fields[step.field]->convertRectToView(fields[step.field]->bounds(), nullptr);
        EXPECT_LE(field.maxY(), keyboardTop) << "step " << i;
      }
    }
    popover->dismissPopoverAnimated(false);
    runLoop();
  }
}

}  // namespace
