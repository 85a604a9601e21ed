// The charts: growth measures in the type's current unit, a day's notes cut at midnight, and the
// back action on either device.

#include <gtest/gtest.h>

#include "app/model.h"
#include "charts/chart_screens.h"
#include "platform/files/app_home.h"
#include "platform/foundation/time_zone.h"
#include "platform/runtime/bundle.h"
#include "platform/store/store.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_fixture.h"
#include "support/diary_store.h"
#include "support/temp_dir.h"

namespace charts {
namespace {

using foundation::Date;

// December 2026, UTC.
Date at(int day, int hour, int minute = 0) {
  return Date::fromUnix(1796083200.0 + (day - 1) * 86400.0 + hour * 3600.0 + minute * 60.0);
}

struct Opener : note_editor::noteViewDelegate {
  std::vector<bool> answers;
  void noteViewChildDone(ui::ViewController&, bool changed) override { answers.push_back(changed); }
  void noteEditWasClosedAndSaved(ui::ViewController&, bool) override {}
};

class ChartsTest : public ui_testing::UiTest {
 protected:
  ChartsTest() {
    store_ = testing_support::openDiaryStore(home_);
    context_ = store_->newContext().value();
    baby_ = testing_support::savedBaby(*context_, "Anna");
    clock_.set(at(20, 12));
  }

  app::NoteEditHelper helper() {
    app::NoteEditHelper::Environment environment;
    environment.context = [this] { return context_; };
    environment.library = home_.library();
    environment.clock = &clock_;
    environment.language = [] {
      static auto bundle = std::make_shared<runtime::Bundle>(testing_support::resourcesFolder());
      return app::InterfaceText(
          "en", [](std::string_view key) { return bundle->localizedStringInLanguage(key, "en"); });
    };
    return app::NoteEditHelper(environment);
  }

  void add(const std::string& type, Date start, Date stop, std::optional<double> number = {},
           std::optional<std::string> unit = {}) {
    auto note = app::Note::insertIn(*context_);
    note.setNote_Type(type);
    note.setNote_DateStart(start);
    note.setNote_DateStop(stop);
    if (number) note.setNote_numValue(foundation::Decimal::fromDouble(*number));
    note.setNote_numMeasureCurrent(std::move(unit));
    note.setNoteToBaby(baby_);
    EXPECT_TRUE(context_->save().ok());
  }

  foundation::Calendar utc() const {
    return foundation::Calendar::gregorian(foundation::TimeZone::withIdentifier("UTC").value());
  }

  std::unique_ptr<app::NoteEditHelper> neh_;
  testing_support::TempDir temp_;
  files::AppHome home_{temp_.path() / "home"};
  std::shared_ptr<store::Store> store_;
  std::shared_ptr<store::Context> context_;
  app::Baby baby_;
};

TEST_F(ChartsTest, GrowthMeasuresComeInTheCurrentUnitConvertedOnlyWhenStoredInAnother) {
  const auto neh = helper();
  neh.getValueType("Weight").setVt_NumMeasureCurrent("Notation_kg");
  ASSERT_TRUE(context_->save().ok());
  add("Weight", at(3, 9), at(3, 9), 10, "Notation_lbs");
  add("Weight", at(1, 9), at(1, 9), 3.5, "Notation_kg");
  add("Weight", at(2, 9), at(2, 9));  // no number: not a measure
  add("Height", at(2, 9), at(2, 9), 50, "Notation_cm");

  auto series = growthSeries(*context_, neh, "Anna", "Weight");
  ASSERT_TRUE(series.ok());
  EXPECT_EQ(series->unit, "Notation_kg");
  ASSERT_EQ(series->points.size(), 2u);
  EXPECT_EQ(series->points[0].date, at(1, 9));
  EXPECT_DOUBLE_EQ(series->points[0].value, 3.5);
  EXPECT_NEAR(series->points[1].value, 4.5359237, 1e-6);
  EXPECT_TRUE(growthSeries(*context_, neh, "Nobody", "Weight")->points.empty());
}

TEST_F(ChartsTest, DaySpansAreCutAtMidnight) {
  add("Sleep", at(4, 22), at(5, 6));                   // split at midnight
  add("Breast Feeding", at(4, 23, 50), at(5, 0, 20));  // not split: on the day it starts
  add("WC", at(5, 7), at(5, 7));
  add("Walk", at(5, 23), at(6, 1));
  const auto neh = helper();
  auto spans = daySpans(*context_, neh, utc(), "Anna", at(5, 12));
  ASSERT_TRUE(spans.ok());
  struct Expected {
    const char* type;
    Date start, stop;
  } expected[] = {{"Sleep", at(5, 0), at(5, 6)}, {"WC", at(5, 7), at(5, 7)}, {"Walk", at(5, 23), at(6, 0)}};
  ASSERT_EQ(spans->size(), std::size(expected));
  for (size_t i = 0; i < spans->size(); ++i) {
    EXPECT_EQ((*spans)[i].type, expected[i].type);
    EXPECT_EQ((*spans)[i].start, expected[i].start) << i;
    EXPECT_EQ((*spans)[i].stop, expected[i].stop) << i;
  }
  auto dayBefore = daySpans(*context_, neh, utc(), "Anna", at(4, 1));
  ASSERT_TRUE(dayBefore.ok());
  ASSERT_EQ(dayBefore->size(), 2u);
  EXPECT_EQ((*dayBefore)[0].stop, at(5, 0));  // the sleep's first part
  EXPECT_EQ((*dayBefore)[1].stop, at(5, 0));  // the feeding, cut at the day's end
  EXPECT_EQ(splitAtDays(utc(), at(5, 0), at(5, 0)).size(), 1u);
}

TEST_F(ChartsTest, BackTellsTheTabletsOpenerAndPopsOnThePhone) {
  for (bool pad : {true, false}) {
    ui::ScopedDevice device(pad ? ui::DeviceProfile::pad() : ui::DeviceProfile::phone568());
    for (int screenKind = 0; screenKind < 2; ++screenKind) {
      Opener opener;
      std::shared_ptr<ui::ViewController> chart;
      if (screenKind == 0) {
        auto graph = std::make_shared<graphicsViewController>(helper());
        graph->setNoteView_delegate(&opener);
        graph->setManagedObjectContext(context_);
        chart = graph;
      } else {
        auto track = std::make_shared<DayTrackController>(helper(), &clock_, utc());
        track->setNoteView_delegate(&opener);
        track->setManagedObjectContext(context_);
        chart = track;
      }
      auto navigation = std::make_shared<ui::NavigationController>(std::make_shared<ui::ViewController>());
      navigation->pushViewController(chart, false);
      ui::Window window;
      window.setRootViewController(navigation);
      window.makeKeyAndVisible();
      runLoop();
      chart->navigationItem().leftBarButtonItem()->tap();
      runLoop();
      EXPECT_EQ(opener.answers, pad ? std::vector<bool>{false} : std::vector<bool>{}) << pad << screenKind;
      EXPECT_EQ(navigation->viewControllers().size(), pad ? 2u : 1u) << pad << screenKind;
      window.setRootViewController(nullptr);
      runLoop();
    }
  }
}

TEST_F(ChartsTest, ScreensShowTheStoredNotes) {
  neh_ = std::make_unique<app::NoteEditHelper>(helper());
  neh_->getValueType("Weight").setVt_NumMeasureCurrent("Notation_kg");
  for (int day = 1; day <= 4; ++day) add("Weight", at(day, 9), at(day, 9), 3.4 + day * 0.1, "Notation_kg");
  add("Sleep", at(19, 22), at(20, 6));
  add("WC", at(20, 7), at(20, 7));

  auto graph = std::make_shared<graphicsViewController>(*neh_);
  graph->setManagedObjectContext(context_);
  graph->setCurrentBabyName("Anna");
  auto track = std::make_shared<DayTrackController>(*neh_, &clock_, utc());
  track->setManagedObjectContext(context_);
  track->setCurrentBabyName("Anna");
  for (auto& screen : std::vector<std::shared_ptr<ui::ViewController>>{graph, track}) {
    ui::Window window;
    window.setRootViewController(std::make_shared<ui::NavigationController>(screen));
    window.makeKeyAndVisible();
    runLoop();
    const auto out = testing_support::testOutput() / "charts";
    std::filesystem::create_directories(out);
    EXPECT_TRUE(
        ui::renderToPng(window, out / (screen == graph ? "growth_graph.png" : "day_track.png"), 2).ok());
    window.setRootViewController(nullptr);
    runLoop();
  }
  EXPECT_EQ(graph->plot().series().points.size(), 4u);
  // However the types are laid out, one of them is chosen at a time.
  int segments = 0;
  for (const auto& row : graph->typeRows()) segments += row->numberOfSegments();
  EXPECT_EQ(segments, 4);
  graph->typeRows()[0]->tapSegment(1);
  EXPECT_EQ(graph->plot().series().type, "Height");
  graph->typeRows().back()->tapSegment(graph->typeRows().back()->numberOfSegments() - 1);
  EXPECT_EQ(graph->plot().series().type, "Head Size");
  int chosen = 0;
  for (const auto& row : graph->typeRows()) chosen += row->selectedSegmentIndex() >= 0;
  EXPECT_EQ(chosen, 1);
  EXPECT_EQ(track->dayStart(), at(20, 0));
  EXPECT_EQ(track->strip().spans().size(), 2u);
  track->previousDay();
  ASSERT_EQ(track->strip().spans().size(), 1u);
  EXPECT_EQ(track->strip().spans()[0].start, at(19, 22));
}

}  // namespace
}  // namespace charts
