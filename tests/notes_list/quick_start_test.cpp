#include "notes_list/quick_start.h"

#include <gtest/gtest.h>

#include "notes_list/latest_updates.h"
#include "notes_list/list_fixture.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/ui/render.h"

namespace {

using list_test::at;
using notes_list::quickStartView;

struct Clicks : notes_list::quickStartViewDelegate {
  void quickStartNumWasClicked(int slot) override { slots.push_back(slot); }
  std::vector<int> slots;
};

class QuickStartTest : public list_test::ListTest {
 protected:
  std::shared_ptr<quickStartView> strip() {
    auto view = std::make_shared<quickStartView>(
        graphics::Rect(0, 0, 320, 60), neh(), [this] { return context_; }, list_test::english);
    view->currentBabyName = "Anna";
    view->typeIdArr = {"Sleep", "Food", "Walk", "Bath", "Drink"};
    view->typeIconArr = {"a", "b", "c", "d", "e"};
    return view;
  }
  static std::vector<std::string> texts(quickStartView& view) {
    graphics::RecordingCanvas canvas(graphics::Size(320, 60));
    view.drawRect(canvas, view.bounds());
    std::vector<std::string> out;
    for (const auto& text : canvas.texts()) out.push_back(text.text);
    return out;
  }
};

TEST_F(QuickStartTest, SlotsFollowTheScreenAndTouchesFollowTheSlices) {
  const std::pair<ui::DeviceProfile, unsigned> devices[] = {{ui::DeviceProfile::phone568(), 5},
                                                            {ui::DeviceProfile::phone667(), 6},
                                                            {ui::DeviceProfile::phone667Zoomed(), 5},
                                                            {ui::DeviceProfile::phone736(), 7},
                                                            {ui::DeviceProfile::pad(), 6}};
  for (const auto& [profile, slots] : devices) {
    ui::ScopedDevice scoped(profile);
    EXPECT_EQ(strip()->framesCount(), slots) << profile.screenHeight;
  }
  ui::DeviceProfile landscape = ui::DeviceProfile::pad();
  landscape.statusBarOrientation = ui::Orientation::kLandscapeLeft;
  ui::ScopedDevice scoped(landscape);
  EXPECT_EQ(strip()->framesCount(), 9u);
}

TEST_F(QuickStartTest, TouchesReportTheirSliceAndTheLastOneAsMore) {
  auto view = strip();
  Clicks clicks;
  view->quickStartView_delegate = &clicks;
  for (double x : {0.0, 64.0, 65.0, 250.0, 319.0}) view->checkPoint(x);
  EXPECT_EQ(clicks.slots, (std::vector<int>{0, 0, 1, 3, -1}));
}

TEST_F(QuickStartTest, LabelsShowForNotesStoppedLessThanADayAgo) {
  auto view = strip();
  const auto now = clock_.now();
  add("Sleep", now - 86400 + 60 - 3600, now - 86400 + 60);  // 23 h 59 min ago
  add("Food", now - 86400, now - 86400);                    // exactly a day ago
  add("Walk", now - 7200, now - 3600);
  add("Walk", now + 600, now + 1200);  // in the future: the earlier one counts
  EXPECT_FALSE(view->timeLabelForType("Sleep", 40).empty());
  EXPECT_TRUE(view->timeLabelForType("Food", 40).empty());
  EXPECT_EQ(view->timeLabelForType("Walk", 400),
            neh().getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(now - 3600, now, true, true));
  // Too wide for a narrow slot: the "ago" word goes.
  EXPECT_EQ(view->timeLabelForType("Walk", 1),
            neh().getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(now - 3600, now, false, true));
  // Slot by slot: the label at the top of the strip over its slot, then the icon (here the type's
  // stand-in letter); a day-old note, no note ("Bath") and the more slot answer that none was drawn.
  const graphics::Rect frame(70, 14, 40, 40);
  const std::pair<int, std::vector<std::string>> slots[] = {
      {0, {view->timeLabelForType("Sleep", 40), "S"}}, {1, {"F"}}, {3, {"B"}}, {-1, {}}};
  for (const auto& [num, expected] : slots) {
    graphics::RecordingCanvas canvas;
    EXPECT_EQ(view->drawImageNumInRect(canvas, num, frame), expected.size() == 2) << num;
    const auto drawn = canvas.texts();
    std::vector<std::string> shown;
    for (const auto& text : drawn) shown.push_back(text.text);
    EXPECT_EQ(shown, expected) << num;
    if (num == 0 && !drawn.empty()) {
      EXPECT_EQ(drawn[0].rect, graphics::Rect(67, 0, 46, drawn[0].rect->height()));
    }
  }
  auto drawn = texts(*view);
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), "quick launch"), 0);
  EXPECT_TRUE(ui::renderToPng(*view, testing_support::testOutput() / "quick_start_strip.png", 2).ok());
}

TEST_F(QuickStartTest, CaptionWithoutLabelsAndNothingWithFewIcons) {
  auto view = strip();
  auto drawn = texts(*view);
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), "quick launch"), 1);
  view->typeIconArr.resize(3);
  graphics::RecordingCanvas canvas(graphics::Size(320, 60));
  view->drawRect(canvas, view->bounds());
  EXPECT_TRUE(canvas.ops().empty());
}

TEST_F(QuickStartTest, RedrawsEveryThirtySecondsOnceDrawn) {
  auto view = strip();
  texts(*view);
  const int before = view->displayRequestCount();
  loop_.advance(30);
  loop_.advance(30);
  EXPECT_EQ(view->displayRequestCount(), before + 2);
}

TEST_F(QuickStartTest, LatestUpdatesListTheNewestNoteOfEachTypeBeforeNow) {
  const auto now = clock_.now();
  add("Sleep", now - 7200, now - 3600);
  add("Food", now + 600, now + 600);  // only in the future: no row
  add("Breast Feeding", now - 600, now - 300, 5, std::nullopt, "Left Breast");
  add("Walk", now - 90000, now - 86400);
  std::vector<std::string> events;
  notes_list::lastNotesController::Services services;
  services.neh = neh();
  services.context = context_;
  services.clock = &clock_;
  services.language = list_test::english;
  services.logEvent = [&events](std::string event, foundation::Dictionary) { events.push_back(event); };
  auto screen = std::make_shared<notes_list::lastNotesController>(services);
  screen->setCurrentBabyName("Anna");
  auto navigation = std::make_shared<ui::NavigationController>(screen);
  navigation->view();
  screen->view()->setFrame(graphics::Rect(0, 0, 320, 568));
  screen->table()->layoutIfNeeded();
  EXPECT_EQ(events, std::vector<std::string>{"latest_changes"});
  ASSERT_EQ(screen->lastNotesArray().size(), 3u);
  EXPECT_EQ(screen->lastNotesArray()[0].note_Type(), "Breast Feeding");
  EXPECT_EQ(screen->lastNotesArray()[2].note_Type(), "Walk");
  auto* cell = dynamic_cast<notes_list::lastNoteCell*>(screen->table()->cellForRowAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->typeLable->text(),
            "Breast Feeding (" + list_test::english().localized("Left Breast").substr(0, 1) + ")");
  EXPECT_EQ(cell->timeAgoLable->text(),
            neh().getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(now - 300, now, true, false));
}

}  // namespace
