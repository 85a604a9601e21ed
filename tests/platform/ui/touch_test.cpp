// Touches injected into view trees: hit-testing down the tree, self-hit-testing custom views,
// controls, gesture recognisers and the view geometry they rely on.

#include "platform/ui/touch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ui/controls.h"
#include "platform/ui/gesture.h"
#include "ui_fixture.h"

namespace {

// A drawn keypad that finds the key under a touch itself: three columns, four rows under a 44-point
// band, reporting row × 3 + column the moment the finger lands.
class Keypad : public ui::View {
 public:
  using ui::View::View;
  std::vector<int> pressed;
  int cellX = -1, cellY = -1;

  void checkPoint(const ui::TouchSet& touches) {
    cellX = cellY = -1;
    ui::Point p = touches.front().locationInView(this);
    double w = bounds().width(), h = bounds().height();
    if (p.x >= 0) cellX = p.x <= w / 3 ? 0 : (p.x <= w / 3 + w / 3 ? 1 : 2);
    double y = p.y - 44, q = (h - 44) / 4;
    if (y >= 0) cellY = y <= q ? 0 : (y <= 2 * q ? 1 : (y <= 3 * q ? 2 : 3));
    setNeedsDisplay();
  }
  void touchesBegan(const ui::TouchSet& touches) override {
    checkPoint(touches);
    if (cellX >= 0 && cellY >= 0) pressed.push_back(cellY * 3 + cellX);
    cellX = cellY = -1;
  }
  void touchesEnded(const ui::TouchSet&) override {}
};

class Recorder : public ui::View {
 public:
  using ui::View::View;
  std::vector<std::string> phases;
  std::vector<ui::Point> points;
  void touchesBegan(const ui::TouchSet& t) override { record("began", t); }
  void touchesMoved(const ui::TouchSet& t) override { record("moved", t); }
  void touchesEnded(const ui::TouchSet& t) override { record("ended", t); }
  void touchesCancelled(const ui::TouchSet& t) override { record("cancelled", t); }

 private:
  void record(const char* phase, const ui::TouchSet& t) {
    phases.push_back(phase);
    points.push_back(t.front().locationInView(this));
  }
};

class TouchTest : public ui_testing::UiTest {
 protected:
  std::shared_ptr<ui::View> root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
};

TEST_F(TouchTest, TouchesReachTheDeepestVisibleViewInItsOwnCoordinates) {
  auto panel = std::make_shared<ui::View>(ui::Rect(20, 100, 300, 300));
  auto target = std::make_shared<Recorder>(ui::Rect(10, 10, 100, 50));
  auto cover = std::make_shared<Recorder>(ui::Rect(10, 10, 100, 50));
  root->addSubview(panel);
  panel->addSubview(target);
  panel->addSubview(cover);
  ui::TouchInjector touch(*root);

  // The front-most sibling takes the touch...
  EXPECT_EQ(touch.tap(ui::Point(40, 120)), cover.get());
  // ...unless it is hidden, transparent or not interactive.
  cover->setHidden(true);
  EXPECT_EQ(touch.tap(ui::Point(40, 120)), target.get());
  cover->setHidden(false);
  cover->setAlpha(0);
  EXPECT_EQ(touch.tap(ui::Point(40, 120)), target.get());
  cover->setAlpha(1);
  cover->setUserInteractionEnabled(false);
  EXPECT_EQ(touch.began(ui::Point(40, 120)), target.get());
  touch.moved(ui::Point(45, 125));
  touch.ended(ui::Point(200, 125));  // a touch keeps its view, wherever it ends
  EXPECT_THAT(target->phases,
              ::testing::ElementsAre("began", "ended", "began", "ended", "began", "moved", "ended"));
  EXPECT_EQ(target->points[4], ui::Point(10, 10));
  EXPECT_EQ(target->points[6], ui::Point(170, 15));
  // Outside its superview's bounds a view takes no touches, even where it is drawn.
  auto overhang = std::make_shared<Recorder>(ui::Rect(10, -40, 50, 50));
  panel->addSubview(overhang);
  EXPECT_EQ(touch.tap(ui::Point(40, 105)), overhang.get());
  EXPECT_EQ(touch.tap(ui::Point(40, 70)), root.get());
  EXPECT_EQ(touch.tap(ui::Point(300, 420)), root.get());
  // A scrolled view (bounds moved) hit-tests in content coordinates.
  panel->setBounds(ui::Rect(0, 40, 300, 300));
  EXPECT_EQ(panel->frame(), ui::Rect(20, 100, 300, 300));
  EXPECT_EQ(touch.tap(ui::Point(40, 105)), target.get());
  EXPECT_EQ(target->points.back(), ui::Point(10, 35));
}

TEST_F(TouchTest, ADrawnKeypadFindsTheKeyUnderTheFinger) {
  auto keypad = std::make_shared<Keypad>(ui::Rect(0, 216, 320, 264));
  root->addSubview(keypad);
  ui::TouchInjector touch(*root);
  touch.tap(ui::Point(10, 216 + 50));              // "1"
  touch.tap(ui::Point(310, 216 + 260));            // "<"
  touch.tap(ui::Point(160, 216 + 30));             // the top band: nothing
  touch.tap(ui::Point(320.0 / 3, 216 + 44 + 55));  // on the boundaries: the left and upper key
  // Sliding a held finger sends nothing further.
  touch.began(ui::Point(200, 216 + 100));
  touch.moved(ui::Point(20, 216 + 200));
  touch.ended(ui::Point(20, 216 + 200));
  EXPECT_THAT(keypad->pressed, ::testing::ElementsAre(0, 11, 0, 4));
  EXPECT_GT(keypad->displayRequestCount(), 0);
}

TEST_F(TouchTest, ATapRecogniserOnAContainerActsAndCancelsTheTouchInTheView) {
  auto container = std::make_shared<ui::View>(ui::Rect(0, 0, 44, 44));
  auto inner = std::make_shared<Recorder>(ui::Rect(0, 0, 44, 44));
  container->addSubview(inner);
  root->addSubview(container);
  int taps = 0;
  container->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>([&](ui::GestureRecognizer& r) {
    ++taps;
    EXPECT_EQ(r.state(), ui::GestureState::kEnded);
    EXPECT_EQ(r.locationInView(r.view()), ui::Point(20, 22));
  }));
  ui::TouchInjector touch(*root);
  touch.tap(ui::Point(20, 22));
  EXPECT_EQ(taps, 1);
  EXPECT_THAT(inner->phases, ::testing::ElementsAre("began", "cancelled"));
  // A finger that wanders off is no tap.
  touch.drag(ui::Point(5, 5), ui::Point(40, 40));
  EXPECT_EQ(taps, 1);
}

TEST_F(TouchTest, APanRecogniserReportsTheDrag) {
  std::vector<ui::GestureState> states;
  ui::Point translation;
  auto pan = std::make_shared<ui::PanGestureRecognizer>([&](ui::GestureRecognizer& r) {
    states.push_back(r.state());
    translation = static_cast<ui::PanGestureRecognizer&>(r).translationInView(nullptr);
  });
  root->addGestureRecognizer(pan);
  ui::TouchInjector touch(*root);
  touch.drag(ui::Point(10, 100), ui::Point(170, 100), 4);
  EXPECT_THAT(states, ::testing::ElementsAre(ui::GestureState::kBegan, ui::GestureState::kChanged,
                                             ui::GestureState::kChanged, ui::GestureState::kChanged,
                                             ui::GestureState::kEnded));
  EXPECT_EQ(translation, ui::Point(160, 0));
}

TEST_F(TouchTest, ButtonsSegmentsAndSwitchesAnswerTouches) {
  auto button = std::make_shared<ui::Button>(ui::Rect(10, 10, 100, 44));
  auto segment = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"List", "Summary"});
  segment->setFrame(ui::Rect(10, 100, 200, 29));
  segment->setSelectedSegmentIndex(0);
  auto toggle = std::make_shared<ui::Switch>(ui::Rect(10, 200, 0, 0));
  root->addSubview(button);
  root->addSubview(segment);
  root->addSubview(toggle);
  std::vector<std::string> events;
  button->addTarget([&](ui::Control&) { events.push_back("button"); }, ui::kControlEventTouchUpInside);
  segment->addTarget(
      [&](ui::Control& c) {
        events.push_back("segment " +
                         std::to_string(static_cast<ui::SegmentedControl&>(c).selectedSegmentIndex()));
      },
      ui::kControlEventValueChanged);
  toggle->addTarget(
      [&](ui::Control& c) { events.push_back(static_cast<ui::Switch&>(c).isOn() ? "on" : "off"); },
      ui::kControlEventValueChanged);
  ui::TouchInjector touch(*root);
  touch.tap(ui::Point(50, 30));
  touch.began(ui::Point(50, 30));
  touch.ended(ui::Point(300, 300));  // lifted outside: no action
  touch.tap(ui::Point(160, 110));    // "Summary"
  touch.tap(ui::Point(170, 110));    // already selected: no change
  touch.tap(ui::Point(20, 210));
  EXPECT_EQ(toggle->frame().size, ui::Size(51, 31));
  EXPECT_THAT(events, ::testing::ElementsAre("button", "segment 1", "on"));
  // Changes from code send nothing; a disabled button takes no tap.
  segment->setSelectedSegmentIndex(0);
  toggle->setOn(false);
  button->setEnabled(false);
  button->tap();
  touch.tap(ui::Point(50, 30));
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(button->titleForState(ui::ControlState::kHighlighted), "");
  button->setTitle("Now");
  EXPECT_EQ(button->titleForState(ui::ControlState::kHighlighted), "Now");
}

TEST_F(TouchTest, AControlActionThatRemovesTheScreenDoesNotPullTheFloorAway) {
  auto screen = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
  auto button = std::make_shared<ui::Button>(ui::Rect(10, 10, 100, 44));
  screen->addSubview(button);
  root->addSubview(screen);
  std::weak_ptr<ui::Button> weak = button;
  button->addTarget(
      [&](ui::Control&) {
        screen->removeFromSuperview();
        screen.reset();
      },
      ui::kControlEventTouchUpInside);
  button.reset();
  ui::TouchInjector touch(*root);
  touch.tap(ui::Point(20, 20));
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(root->subviews().empty());
}

TEST_F(TouchTest, AutoresizingFollowsTheSuperviewsSize) {
  auto parent = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 100));
  auto stretch = std::make_shared<ui::View>(ui::Rect(10, 10, 300, 20));
  stretch->setAutoresizingMask(ui::kFlexibleWidth);
  auto pinnedRight = std::make_shared<ui::View>(ui::Rect(270, 10, 40, 20));
  pinnedRight->setAutoresizingMask(ui::kFlexibleLeftMargin);
  auto centred = std::make_shared<ui::View>(ui::Rect(100, 0, 120, 20));
  centred->setAutoresizingMask(ui::kFlexibleLeftMargin | ui::kFlexibleRightMargin);
  parent->addSubview(stretch);
  parent->addSubview(pinnedRight);
  parent->addSubview(centred);
  parent->setFrame(ui::Rect(0, 0, 768, 100));
  EXPECT_EQ(stretch->frame(), ui::Rect(10, 10, 748, 20));
  EXPECT_EQ(pinnedRight->frame(), ui::Rect(718, 10, 40, 20));
  EXPECT_EQ(centred->frame(), ui::Rect(324, 0, 120, 20));
  EXPECT_TRUE(parent->needsLayout());
  EXPECT_EQ(parent->viewWithTag(0), parent.get());
  centred->setTag(5);
  EXPECT_EQ(parent->viewWithTag(5), centred.get());
  EXPECT_EQ(stretch->convertPointToView(ui::Point(1, 1), centred.get()), ui::Point(-313, 11));
}

}  // namespace
