// The charts: growth measures in the type's current unit, a day's notes cut at midnight, a type's
// totals per day, the fixed screenshot settings of local_ID, the opening events, and the back
// action on either device.

#include <gtest/gtest.h>

#include "app/model.h"
#include "charts/chart_screens.h"
#include "charts/sum_chart.h"
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

// --- The summary chart's totals per day.

struct NoteRow {
  const char* type;
  Date start, stop;
  std::optional<double> number = std::nullopt;
  std::optional<std::string> unit = std::nullopt;
};

struct SumCase {
  const char* name;
  std::vector<NoteRow> notes;
  const char* type;
  const char* measure;
  std::vector<DaySum> expected;
};

TEST_F(ChartsTest, SumsPerDayCutSplitTypesAtMidnightAndBringValuesIntoTheMeasuresUnit) {
  const double oz = 29.573531;
  const std::vector<SumCase> cases{
      {"a sleep across midnight: hours on each day",
       {{"Sleep", at(4, 21, 30), at(5, 3)}},
       "Sleep", "show_hours", {{at(4, 0), 2.5}, {at(5, 0), 3}}},
      {"a sleep across midnight counts on both days",
       {{"Sleep", at(4, 21, 30), at(5, 3)}, {"Sleep", at(5, 13), at(5, 14)}},
       "Sleep", "show_count", {{at(4, 0), 1}, {at(5, 0), 2}}},
      {"a sleep ending at midnight is not the next day's",
       {{"Sleep", at(4, 22), at(5, 0)}},
       "Sleep", "show_count", {{at(4, 0), 1}}},
      {"a walk of no length counts on its day",
       {{"Walk", at(6, 10), at(6, 10)}},
       "Walk", "show_count", {{at(6, 0), 1}}},
      {"a breast feeding is not cut: its sides' minutes on the day it ends",
       {{"Breast Feeding", at(4, 23, 50), at(5, 0, 20), 10, std::string("8")}},
       "Breast Feeding", "show_hours", {{at(5, 0), 18.0 / 60}}},
      {"pumping hours by its dates",
       {{"Pumping", at(7, 9), at(7, 9, 30), 40, std::string("Notation_ml")}},
       "Pumping", "show_hours", {{at(7, 0), 0.5}}},
      {"drinks in ounces: millilitres converted, ounces kept",
       {{"Drink", at(8, 9), at(8, 9), 100, std::string("Notation_ml")},
        {"Drink", at(8, 12), at(8, 12), 2, std::string("Notation_oz")},
        {"Drink", at(9, 12), at(9, 12), 59.147062, std::string("Notation_ml")}},
       "Drink", "Notation_oz", {{at(8, 0), 100 / oz + 2}, {at(9, 0), 2}}},
      {"drinks in millilitres: ounces converted",
       {{"Drink", at(8, 9), at(8, 9), 100, std::string("Notation_ml")},
        {"Drink", at(8, 12), at(8, 12), 2, std::string("Notation_oz")}},
       "Drink", "Notation_ml", {{at(8, 0), 100 + 2 * oz}}},
      {"one-date notes by the day of their stop",
       {{"Mood", at(3, 23, 59), at(3, 23, 59)}, {"Mood", at(4, 0), at(4, 0)}, {"Mood", at(4, 8), at(4, 8)}},
       "Mood", "show_count", {{at(3, 0), 1}, {at(4, 0), 2}}},
      {"no notes of the type: no days", {{"Mood", at(3, 9), at(3, 9)}}, "Sleep", "show_count", {}},
  };
  const auto neh = helper();
  for (const auto& c : cases) {
    const auto earlier = context_->fetch(store::FetchRequest{"Note"});
    ASSERT_TRUE(earlier.ok());
    for (const auto& object : *earlier) context_->deleteObject(object);
    for (const auto& note : c.notes) add(note.type, note.start, note.stop, note.number, note.unit);
    auto series = sumSeries(*context_, neh, utc(), "Anna", c.type, c.measure);
    ASSERT_TRUE(series.ok()) << c.name;
    ASSERT_EQ(series->days.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(series->days[i].day, c.expected[i].day) << c.name << " " << i;
      EXPECT_NEAR(series->days[i].value, c.expected[i].value, 1e-9) << c.name << " " << i;
    }
  }
}

// Records the analytics events a screen logs.
struct Events {
  std::vector<std::string> names;
  app::AnalyticsEventSink sink() {
    return [this](std::string event, foundation::Dictionary) { names.push_back(std::move(event)); };
  }
};

void show(const std::shared_ptr<ui::ViewController>& screen, ui::Window& window) {
  window.setRootViewController(std::make_shared<ui::NavigationController>(screen));
  window.makeKeyAndVisible();
}

TEST_F(ChartsTest, SummaryChartOffersTheBabysTypesAndTheTypesMeasures) {
  neh_ = std::make_unique<app::NoteEditHelper>(helper());
  neh_->getValueType("Drink").setVt_NumMeasureCurrent("Notation_oz");
  ASSERT_TRUE(context_->save().ok());
  add("Drink", at(8, 9), at(8, 9), 100, "Notation_ml");
  add("Sleep", at(4, 21, 30), at(5, 3));
  Events events;
  auto chart = std::make_shared<sumChartController>(*neh_, utc(), events.sink());
  chart->setManagedObjectContext(context_);
  chart->setCurrentBabyName("Anna");
  ui::Window window;
  show(chart, window);
  runLoop();
  EXPECT_EQ(events.names, std::vector<std::string>{"sum_chart"});
  // The baby's types in the default order, the first shown with its measures.
  EXPECT_EQ(chart->types(), (std::vector<std::string>{"Sleep", "Drink"}));
  EXPECT_EQ(chart->type(), "Sleep");
  EXPECT_EQ(chart->measures(), (std::vector<std::string>{"show_hours", "show_count"}));
  const auto labels = [&] {
    std::vector<std::string> texts;
    for (const auto& element : chart->bars().accessibilityElements()) texts.push_back(element.label);
    return texts;
  };
  EXPECT_EQ(labels(), (std::vector<std::string>{"2.5", "Dec 4", "3", "Dec 5"}));
  // The next type starts at its first measure, here its current unit.
  chart->nextType();
  EXPECT_EQ(chart->type(), "Drink");
  EXPECT_EQ(chart->measures(), (std::vector<std::string>{"Notation_oz", "show_count"}));
  EXPECT_EQ(labels(), (std::vector<std::string>{"3.38", "Dec 8"}));
  chart->measureSegment().tapSegment(1);
  EXPECT_EQ(labels(), (std::vector<std::string>{"1", "Dec 8"}));
  // Past the last type comes the first again, and back.
  chart->nextType();
  EXPECT_EQ(chart->type(), "Sleep");
  chart->previousType();
  EXPECT_EQ(chart->type(), "Drink");
  window.setRootViewController(nullptr);
  runLoop();
}

TEST_F(ChartsTest, SummaryChartShowsTheLatestDaysThatFit) {
  neh_ = std::make_unique<app::NoteEditHelper>(helper());
  for (int day = 1; day <= 20; ++day) add("Mood", at(day, 9), at(day, 9));
  Events events;
  auto chart = std::make_shared<sumChartController>(*neh_, utc(), events.sink());
  chart->setManagedObjectContext(context_);
  chart->setCurrentBabyName("Anna");
  ui::Window window;
  show(chart, window);
  runLoop();
  const auto shown = chart->bars().shownDays();
  ASSERT_FALSE(shown.empty());
  ASSERT_LT(shown.size(), 20u);
  EXPECT_EQ(shown.back().day, at(20, 0));
  // Every bar lies inside the chart, none over another.
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto bar = chart->bars().barRect(i);
    EXPECT_GE(bar.x(), 0);
    EXPECT_LE(bar.maxX(), chart->bars().bounds().width());
    if (i > 0) {
      EXPECT_LE(chart->bars().barRect(i - 1).maxX(), bar.x());
    }
  }
  window.setRootViewController(nullptr);
  runLoop();
}

TEST_F(ChartsTest, LocalIdFixesWhatTheScreenshotModeShows) {
  neh_ = std::make_unique<app::NoteEditHelper>(helper());
  add("Sleep", at(3, 21), at(4, 2));
  add("WC", at(5, 7), at(5, 7));  // the baby's latest note, days before today (the 20th)
  add("Drink", at(2, 7), at(2, 7), 100, "Notation_ml");
  struct Case {
    bool localId;
    Date trackDay;
  } cases[] = {{false, at(20, 0)}, {true, at(5, 0)}};
  for (const auto& c : cases) {
    auto track = std::make_shared<DayTrackController>(*neh_, &clock_, utc());
    track->setManagedObjectContext(context_);
    track->setCurrentBabyName("Anna");
    Events events;
    auto chart = std::make_shared<sumChartController>(*neh_, utc(), events.sink());
    chart->setManagedObjectContext(context_);
    chart->setCurrentBabyName("Anna");
    if (c.localId) {
      track->setLocal_ID("en");
      chart->setLocal_ID("en");
    }
    ui::Window window;
    show(track, window);
    runLoop();
    EXPECT_EQ(track->dayStart(), c.trackDay) << c.localId;
    show(chart, window);
    runLoop();
    EXPECT_EQ(chart->type(), "Sleep") << c.localId;
    // Shown again, the screen keeps the person's choice unless its settings are fixed.
    chart->nextType();
    chart->nextType();
    ASSERT_EQ(chart->type(), "Drink");
    chart->measureSegment().tapSegment(1);
    chart->viewWillAppear(false);
    EXPECT_EQ(chart->type(), c.localId ? "Sleep" : "Drink");
    EXPECT_EQ(chart->measureSegment().selectedSegmentIndex(), c.localId ? 0 : 1);
    window.setRootViewController(nullptr);
    runLoop();
  }
}

TEST_F(ChartsTest, OpeningTheGrowthGraphLogsItsEvent) {
  Events events;
  auto graph = std::make_shared<graphicsViewController>(helper(), events.sink());
  graph->setManagedObjectContext(context_);
  EXPECT_TRUE(events.names.empty());
  ui::Window window;
  show(graph, window);
  runLoop();
  EXPECT_EQ(events.names, std::vector<std::string>{"graphics"});
  window.setRootViewController(nullptr);
  runLoop();
}

TEST_F(ChartsTest, TheStoryboardMakesEachChartInItsNavigationController) {
  ui::Storyboard storyboard;
  registerChartScreens(storyboard);
  struct Case {
    const char* identifier;
    bool (*isChart)(ui::ViewController&);
  } cases[] = {
      {"graphics_navigation_id", [](ui::ViewController& v) { return !!dynamic_cast<graphicsViewController*>(&v); }},
      {"day_track_navigation_id", [](ui::ViewController& v) { return !!dynamic_cast<DayTrackController*>(&v); }},
      {"sum_chart_navigation_id", [](ui::ViewController& v) { return !!dynamic_cast<sumChartController*>(&v); }},
  };
  for (const auto& c : cases) {
    auto navigation =
        std::dynamic_pointer_cast<ui::NavigationController>(storyboard.instantiateViewControllerWithIdentifier(c.identifier));
    ASSERT_NE(navigation, nullptr) << c.identifier;
    ASSERT_EQ(navigation->viewControllers().size(), 1u) << c.identifier;
    EXPECT_TRUE(c.isChart(*navigation->viewControllers().front())) << c.identifier;
  }
  // The tablet's panel and the phone's side menu reach the summary chart.
  for (const char* segue : {"summaryChartSegue", "sum_chart_sidebar_show"}) {
    const auto declared = storyboard.segue(segue);
    ASSERT_TRUE(declared) << segue;
    EXPECT_TRUE(storyboard.hasController(declared->destinationIdentifier)) << segue;
  }
}

}  // namespace
}  // namespace charts
