// Animations as a window on real time plays them: each starts from its first frame, however long the
// main thread was busy after setting it up, while time that commands move the clock by counts.
#include "platform/ui/animation.h"

#include <gtest/gtest.h>

#include "ui_fixture.h"

namespace {

class AnimationTest : public ui_testing::UiTest {
 protected:
  AnimationTest() { ui::setAnimationMode(ui::AnimationMode::kPlayed); }

  // What the window does as real time passes: it holds back what no frame has drawn yet, then
  // moves the clock on.
  void passRealTime(double seconds) {
    ui::holdUndrawnAnimations(seconds);
    loop_.advance(seconds);
  }

  std::shared_ptr<ui::View> badge = std::make_shared<ui::View>(ui::Rect(0, 0, 20, 20));
};

TEST_F(AnimationTest, AnAnimationStartsFromItsFirstFrame) {
  bool finished = false;
  badge->setAlpha(0);
  ui::animate(1, [&] { badge->setAlpha(1); }, [&](bool) { finished = true; });
  // The step that set it up kept the main thread for half a second: nothing of it was seen.
  passRealTime(0.5);
  EXPECT_EQ(ui::presentedAlpha(*badge), 0);
  ui::animationsDrawn();
  passRealTime(0.5);
  EXPECT_NEAR(ui::presentedAlpha(*badge), 0.5, 1e-9);
  // Drawn, it plays on with real time, and ends a second after its first frame.
  passRealTime(0.4);
  EXPECT_FALSE(finished);
  EXPECT_TRUE(ui::animationsPlaying());
  passRealTime(0.1);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(ui::animationsPlaying());
  EXPECT_EQ(ui::presentedAlpha(*badge), 1);
}

// The window draws an animation first a frame on: its first picture already shows it on its way.
TEST_F(AnimationTest, AWindowDrawsAnAnimationFirstAFrameOn) {
  bool finished = false;
  ui::animate(0.3, [&] { badge->setFrame(ui::Rect(300, 0, 20, 20)); }, [&](bool) { finished = true; });
  passRealTime(0.2);
  EXPECT_EQ(ui::presentedFrame(*badge).x(), 0);
  const double frame = 1.0 / 60;
  ui::holdUndrawnAnimations(-frame);
  EXPECT_NEAR(ui::presentedFrame(*badge).x(), 300 * ui::easeInOut(frame / 0.3), 1e-3);
  EXPECT_GT(ui::presentedFrame(*badge).x(), 0.5);
  ui::animationsDrawn();
  // Drawn, it is moved on no further, and stands at its end a frame sooner.
  ui::holdUndrawnAnimations(-frame);
  passRealTime(0.3 - frame);
  EXPECT_EQ(ui::presentedFrame(*badge).x(), 300);
  passRealTime(frame);
  EXPECT_TRUE(finished);
}

TEST_F(AnimationTest, TimeACommandMovesTheClockByCounts) {
  bool finished = false;
  ui::animate(1, 0.5, [&] { badge->setFrame(ui::Rect(100, 0, 20, 20)); }, [&](bool) { finished = true; });
  // An "advance" of the console: the clock moves without real time passing.
  loop_.advance(1);
  EXPECT_NEAR(ui::presentedFrame(*badge).x(), 50, 1e-9);
  passRealTime(0.2);
  EXPECT_NEAR(ui::presentedFrame(*badge).x(), 50, 1e-9);
  ui::animationsDrawn();
  passRealTime(0.5);
  EXPECT_TRUE(finished);
  EXPECT_EQ(ui::presentedFrame(*badge).x(), 100);
}

}  // namespace
