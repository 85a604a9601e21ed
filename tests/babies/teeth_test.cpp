// The tooth chart: the one-way rules of a tooth's events, a refused save leaving nothing behind, the
// spots taking touches where they are drawn, and the chart screen reached by touch.

#include "babies/teeth.h"

#include "babies/teeth_view_controller.h"
#include "babies_fixture.h"
#include "platform/ui/touch.h"

namespace babies {
namespace {

constexpr double kDay = 86400;

class TeethTest : public babies_test::BabiesTest {
 protected:
  TeethRecords records(std::optional<std::string> name = "Anna") { return TeethRecords(context_, std::move(name)); }
  size_t storedTeeth() { return context_->count(store::FetchRequest{"Tooth"}).valueOr(99); }
  void refuseTeeth() {
    sql("CREATE TRIGGER refuse BEFORE INSERT ON ZTOOTH BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
};

TEST_F(TeethTest, AToothAppearsThenIsLostAndNothingFollows) {
  // One step: the tooth, the day of the event, and the state recorded or the error refusing it.
  struct Step {
    int num;
    double day;
    std::int64_t expected;  // 10 or 20 recorded; otherwise the error code
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<int, int>> spotStates;  // tooth, state on the chart afterwards
  };
  const Case cases[] = {
      {"appears, then is lost", {{5, 0, 10}, {5, 3, 20}}, {{5, 2}, {4, 0}}},
      {"lost the day it appeared", {{5, 0, 10}, {5, 0, 20}}, {{5, 2}}},
      {"lost before it appeared", {{5, 10, 10}, {5, 9, kTeethLostBeforeAppearing}}, {{5, 1}}},
      {"nothing after a loss", {{5, 0, 10}, {5, 1, 20}, {5, 2, kTeethAlreadyLost}}, {{5, 2}}},
      {"below the first tooth", {{-1, 0, kTeethNoSuchTooth}}, {}},
      {"past the last tooth", {{20, 0, kTeethNoSuchTooth}}, {}},
      {"the first and the last", {{0, 0, 10}, {19, 0, 10}}, {{0, 1}, {19, 1}, {10, 0}}},
  };
  for (const Case& c : cases) {
    sql("DELETE FROM ZTOOTH");
    context_->reset();
    addBaby("Anna");
    size_t recorded = 0;
    for (const Step& step : c.steps) {
      auto tooth = records().recordNextEvent(step.num, foundation::Date{500000000 + step.day * kDay});
      if (step.expected == kToothAppeared || step.expected == kToothLost) {
        ASSERT_TRUE(tooth.ok()) << c.name << ": " << tooth.error().description();
        EXPECT_EQ(tooth->tooth_State(), step.expected) << c.name;
        EXPECT_EQ(tooth->tooth_Description(), "") << c.name;
        ++recorded;
      } else {
        ASSERT_FALSE(tooth.ok()) << c.name;
        EXPECT_EQ(tooth.error().code, step.expected) << c.name;
      }
    }
    EXPECT_EQ(storedTeeth(), recorded) << c.name;
    const auto teeth = records().teeth();
    for (const auto& [num, state] : c.spotStates) EXPECT_EQ(toothStateOf(teeth, num), state) << c.name << " " << num;
    sql("DELETE FROM ZBABY");
    context_->reset();
  }
}

TEST_F(TeethTest, RecordsBelongToTheirBabyAndNeedOne) {
  addBaby("Anna");
  addBaby("Bob");
  ASSERT_TRUE(records("Bob").recordNextEvent(3, foundation::Date{500000000}).ok());
  EXPECT_TRUE(records().teeth().empty());
  EXPECT_EQ(records().nextState(3), kToothAppeared);
  EXPECT_EQ(records("Bob").nextState(3), kToothLost);
  EXPECT_EQ(records("Bob").earliestNextDate(3), foundation::Date{500000000});

  for (auto [context, name] : {std::pair{context_, std::optional<std::string>("Nobody")},
                               std::pair{std::shared_ptr<store::Context>(), std::optional<std::string>("Anna")},
                               std::pair{context_, std::optional<std::string>()}}) {
    auto tooth = TeethRecords(context, name).recordNextEvent(3, foundation::Date{500000000});
    ASSERT_FALSE(tooth.ok());
    EXPECT_EQ(tooth.error().code, kTeethNoBaby);
  }
  EXPECT_EQ(storedTeeth(), 1u);
}

TEST_F(TeethTest, ARefusedSaveLeavesNoHalfEvent) {
  addBaby("Anna");
  refuseTeeth();
  EXPECT_FALSE(records().recordNextEvent(2, foundation::Date{500000000}).ok());
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_EQ(storedTeeth(), 0u);
  sql("DROP TRIGGER refuse");
  EXPECT_TRUE(records().recordNextEvent(2, foundation::Date{500000000}).ok());
  EXPECT_EQ(records().nextState(2), kToothLost);
}

TEST_F(TeethTest, EverySpotTakesTheTouchesWhereItIsDrawn) {
  const teethChartView chart(graphics::Rect(0, 0, kChartWidth, kChartHeight));
  ASSERT_EQ(chart.spots().size(), static_cast<size_t>(kToothCount));
  for (int n = 0; n < kToothCount; ++n) {
    const graphics::Rect drawn = toothDrawnRect(chart.spots()[static_cast<size_t>(n)], n);
    ASSERT_GT(drawn.width(), 0) << "tooth " << n << " has no picture";
    EXPECT_TRUE(graphics::Rect(0, 0, kChartWidth, kChartHeight).contains(drawn.origin)) << n;
    EXPECT_EQ(chart.checkPoint(drawn.center()), n) << n;
  }
  // The middle of the mouth is no tooth.
  EXPECT_EQ(chart.checkPoint({kChartWidth / 2, kChartHeight / 2}), std::nullopt);
}

// Finds the button showing `title` in a view tree.
ui::Button* buttonTitled(ui::View& view, const std::string& title) {
  if (auto* button = dynamic_cast<ui::Button*>(&view); button && !view.isHidden() && button->currentTitle() == title)
    return button;
  for (auto& sub : view.subviews())
    if (auto* found = buttonTitled(*sub, title)) return found;
  return nullptr;
}

TEST_F(TeethTest, TheChartRecordsByTouchAndKeepsALossAfterItsAppearance) {
  addBaby("Anna");
  auto screen = std::make_shared<teethViewController>();
  screen->setManagedObjectContext(context_);
  screen->setCurrentBabyName("Anna");
  screen->setClock(&clock_);
  ui::Window window;
  window.setRootViewController(std::make_shared<ui::NavigationController>(screen));
  window.makeKeyAndVisible();
  runLoop();
  ui::TouchInjector finger(window);
  auto touchTooth = [&](int n) {
    const auto& spot = screen->chart().spots()[static_cast<size_t>(n)];
    finger.tap(screen->chart().convertPointToView(toothDrawnRect(spot, n).center(), &window));
    runLoop();
  };
  auto tapPanel = [&](const std::string& title) {
    ui::Button* button = buttonTitled(*screen->view(), title);
    ASSERT_NE(button, nullptr) << title;
    finger.tap(button->convertPointToView(button->bounds().center(), &window));
    runLoop();
  };

  touchTooth(12);
  ASSERT_EQ(screen->pendingTooth(), 12);
  tapPanel("Cancel");
  EXPECT_EQ(screen->pendingTooth(), std::nullopt);
  EXPECT_EQ(storedTeeth(), 0u);

  touchTooth(12);
  EXPECT_EQ(screen->datePicker().maximumDate(), clock_.now());
  screen->datePicker().spinToDate(clock_.now() - 30 * kDay);
  tapPanel("Done");
  EXPECT_EQ(screen->chart().spots()[12].toothState, 1);
  const foundation::Date appeared = screen->datePicker().date();

  // The loss cannot be dated before the appearance: the wheel stops there.
  touchTooth(12);
  EXPECT_EQ(screen->datePicker().minimumDate(), appeared);
  screen->datePicker().spinToDate(appeared - 5 * kDay);
  tapPanel("Done");
  EXPECT_EQ(screen->chart().spots()[12].toothState, 2);
  EXPECT_EQ(toothDateOf(records().teeth(), 12, kToothLost), appeared);

  touchTooth(12);  // lost: nothing more to ask
  EXPECT_EQ(screen->pendingTooth(), std::nullopt);
  EXPECT_EQ(storedTeeth(), 2u);
}

}  // namespace
}  // namespace babies
