#include "notes_list/units_overlay.h"

#include <gtest/gtest.h>

#include "notes_list/first_launch.h"
#include "notes_list/list_extras_impl.h"
#include "notes_list/list_fixture.h"
#include "notes_list/notes_table_controller.h"
#include "platform/files/file_ops.h"

namespace {

using list_test::at;
using notes_list::firstLaunchView;

class UnitsOverlayTest : public list_test::ListTest {
 protected:
  void open() {
    notes_list::ListExtrasImpl::Services services;
    services.prompts.home = home_;
    services.prompts.clock = &clock_;
    services.language = list_test::english;
    extras_ = std::make_unique<notes_list::ListExtrasImpl>(services);
    list_ = std::make_shared<notes_list::noteTableController_Base>(neh(), ListTest::services(), saves_);
    list_->setListExtras(extras_.get());
    window_ = std::make_shared<ui::Window>(graphics::Rect(0, 0, 320, 568));
    window_->setRootViewController(list_);
    window_->makeKeyAndVisible();
    runLoop();
  }
  ~UnitsOverlayTest() override {
    if (window_) window_->setRootViewController(nullptr);
    runLoop();
  }
  firstLaunchView* overlay() const { return dynamic_cast<firstLaunchView*>(list_->fstLaunchView().get()); }
  bool firstLaunchWritten() const { return files::exists(home_.library() / "Settings" / "firstLaunch.txt"); }
  // Chooses kg, inch and Fahrenheit by taps on the 320-point phone (T = 0), then "Start".
  void chooseAndStart() {
    overlay()->checkPoint({50, 150});   // weight, first third
    overlay()->checkPoint({150, 250});  // length, second third
    overlay()->checkPoint({200, 380});  // temperature, right half
    overlay()->checkPoint({10, 500});   // the Start area
    ASSERT_NE(ui::topActionSheet(), nullptr);
    ui::topActionSheet()->tapButton(0);
  }

  std::unique_ptr<notes_list::ListExtrasImpl> extras_;
  std::shared_ptr<notes_list::noteTableController_Base> list_;
  std::shared_ptr<ui::Window> window_;
};

TEST_F(UnitsOverlayTest, TapsChooseByThirdsAndHalvesOfTheStrip) {
  firstLaunchView view(graphics::Rect(0, 0, 320, 568));
  const struct {
    double x, y;
    unsigned weight, height, temper;
  } taps[] = {
      {106, 200, 1, 0, 0}, {107, 201, 1, 2, 0}, {213, 320, 1, 3, 0}, {40, 400, 1, 3, 0},
      {280, 400, 1, 3, 0}, {159, 419, 1, 3, 1}, {161, 330, 1, 3, 2}, {100, 129, 1, 3, 2},
  };
  for (const auto& tap : taps) {
    view.checkPoint({tap.x, tap.y});
    EXPECT_EQ(view.weightNum, tap.weight) << tap.x << "," << tap.y;
    EXPECT_EQ(view.heightNum, tap.height) << tap.x << "," << tap.y;
    EXPECT_EQ(view.temperNum, tap.temper) << tap.x << "," << tap.y;
  }
}

TEST_F(UnitsOverlayTest, StartStoresTheUnitsWhereTheTypesReadThem) {
  open();
  ASSERT_NE(overlay(), nullptr);
  overlay()->checkPoint({10, 500});  // nothing chosen yet: no confirmation
  EXPECT_EQ(ui::topActionSheet(), nullptr);
  chooseAndStart();
  EXPECT_EQ(list_->fstLaunchView(), nullptr);
  EXPECT_TRUE(firstLaunchWritten());
  auto unit = [this](const char* type) {
    return neh().getValueType(type).vt_NumMeasureCurrent().value_or("");
  };
  EXPECT_EQ(unit("Weight"), "Notation_kg");
  EXPECT_EQ(unit("Height"), "Notation_inch");
  EXPECT_EQ(unit("Temperature"), "Notation_fahrenheit");
  EXPECT_FLOAT_EQ(neh().getValueType("Temperature").vt_NumCurrent().value_or(0), 98.6f);
  EXPECT_FLOAT_EQ(neh().getValueType("Bath").vt_NumCurrent().value_or(0), 98.8f);
  for (const char* type : {"Food", "Drink", "Pumping", "Head Size"}) {
    EXPECT_EQ(unit(type), neh().notationByTypeId(type).front()) << type;
  }
}

TEST_F(UnitsOverlayTest, AFailedSaveKeepsTheOverlayAndSaysSo) {
  open();
  ASSERT_NE(overlay(), nullptr);
  context_->close();
  chooseAndStart();
  ASSERT_NE(extras_->unitsAlert(), nullptr);
  EXPECT_TRUE(extras_->unitsAlert()->isVisible());
  ASSERT_NE(overlay(), nullptr);
  EXPECT_EQ(overlay()->weightNum, 1u);
  EXPECT_FALSE(firstLaunchWritten());
}

TEST_F(UnitsOverlayTest, FirstLaunchDateIsReadInTheCalendarItWasWrittenIn) {
  app::SettingsRecords records(home_);
  ASSERT_TRUE(notes_list::saveFirstLaunchFile(records, at(2, 15)).ok());
  EXPECT_EQ(notes_list::daysSinceFirstLaunch(records, at(20, 14)), 18);
  for (const char* text : {"2026.12.02", "2569.12.02", "0008.12.02"}) {  // Gregorian, Buddhist, imperial
    ASSERT_TRUE(
        files::writeText(records.pathOf(app::kFirstLaunchFileName), text, files::TextEncoding::Utf16).ok());
    EXPECT_EQ(notes_list::readFirstLaunchDate(records, clock_.now()), at(2, 0)) << text;
  }
  ASSERT_TRUE(
      files::writeText(records.pathOf(app::kFirstLaunchFileName), "soon", files::TextEncoding::Utf16).ok());
  EXPECT_EQ(notes_list::readFirstLaunchDate(records, clock_.now()), std::nullopt);
}

}  // namespace
