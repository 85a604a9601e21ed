// The shared flat widgets: their drawing on the recording canvas, the bar items' layout and taps.

#include "app/flat_widgets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/clock.h"
#include "platform/graphics/recording_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/bundle.h"
#include "platform/runtime/run_loop.h"
#include "platform/runtime/user_defaults.h"
#include "platform/ui/image_library.h"
#include "platform/ui/touch.h"
#include "support/temp_dir.h"

namespace {

using graphics::Point;
using graphics::RecordingCanvas;
using graphics::Rect;

const graphics::Color kGrey = graphics::Color::rgb255(201, 203, 206);

std::vector<std::pair<Point, Point>> segments(const RecordingCanvas& canvas) {
  std::vector<std::pair<Point, Point>> out;
  for (const auto& line : canvas.lines()) out.emplace_back(line.from, line.to);
  return out;
}

void expectHairlines(const RecordingCanvas& canvas) {
  for (const auto& line : canvas.lines()) {
    EXPECT_FALSE(line.antialias);
    EXPECT_EQ(line.width, 0.5);
    EXPECT_TRUE(line.color.approximatelyEquals(kGrey)) << line.color.toString();
  }
}

TEST(TableSectionSeparator, DrawsOnlyTheLinesItIsAskedFor) {
  auto strip = std::make_shared<app::tableSectionSeparator>(Rect(0, 0, 320, 23));
  EXPECT_FALSE(strip->firstSection);
  EXPECT_FALSE(strip->showBottomLine);
  ASSERT_TRUE(strip->backgroundColor());
  EXPECT_TRUE(strip->backgroundColor()->approximatelyEquals(graphics::Color(1, 1, 1, 0.96)));
  EXPECT_EQ(strip->autoresizingMask(),
            ui::kFlexibleLeftMargin | ui::kFlexibleWidth | ui::kFlexibleRightMargin);

  RecordingCanvas none;
  strip->drawRect(none, strip->bounds());
  EXPECT_TRUE(none.lines().empty());

  strip->firstSection = true;
  strip->showBottomLine = true;
  RecordingCanvas both;
  strip->drawRect(both, strip->bounds());
  EXPECT_THAT(segments(both), ::testing::ElementsAre(std::pair(Point(0, 0.5), Point(320, 0.5)),
                                                     std::pair(Point(0, 23), Point(320, 23))));
  expectHairlines(both);
}

TEST(JustListCell, ClosesTheSectionWithFullLinesAndInsetsTheInnerOnes) {
  app::justListCell cell(ui::CellStyle::kDefault, "justListCell");
  cell.setFrame(Rect(0, 0, 320, 44));
  ASSERT_NE(cell.idLable, nullptr);
  ASSERT_NE(cell.typeImg, nullptr);

  RecordingCanvas inner;
  cell.drawRect(inner, cell.bounds());
  ASSERT_EQ(inner.fills().size(), 1u);
  EXPECT_EQ(inner.fills()[0].rect, Rect(0, 0, 320, 44));
  EXPECT_EQ(inner.fills()[0].color, graphics::Color::white());
  EXPECT_THAT(segments(inner), ::testing::ElementsAre(std::pair(Point(50, 44), Point(320, 44))));

  cell.firstInSection = true;
  cell.lastInSection = true;
  RecordingCanvas only;
  cell.drawRect(only, cell.bounds());
  EXPECT_THAT(segments(only), ::testing::ElementsAre(std::pair(Point(0, 0.5), Point(320, 0.5)),
                                                     std::pair(Point(0, 44), Point(320, 44))));
  expectHairlines(only);
  EXPECT_FALSE(only.opsOf<graphics::rec::Fill>().at(0).state.antialias);
}

TEST(LineDrawerView, DrawsNothingUntilGivenLinesRectanglesOrAFrame) {
  app::lineDrawerView view(Rect(0, 0, 200, 100));
  EXPECT_FALSE(view.drawFrameRect);
  RecordingCanvas empty;
  view.drawRect(empty, view.bounds());
  EXPECT_TRUE(empty.ops().empty());

  // Points two by two; an odd last point draws nothing.
  view.linesArr = {{0, 44.5f}, {200, 44.5f}, {0, 0}, {0, 100}, {5, 5}};
  RecordingCanvas lines;
  view.drawRect(lines, view.bounds());
  EXPECT_THAT(segments(lines), ::testing::ElementsAre(std::pair(Point(0, 44.5), Point(200, 44.5)),
                                                      std::pair(Point(0, 0), Point(0, 100))));
  expectHairlines(lines);

  // Rectangles only with a colour.
  view.linesArr.clear();
  view.rectsArr = {Rect(10, 10, 20, 20)};
  RecordingCanvas noColour;
  view.drawRect(noColour, view.bounds());
  EXPECT_TRUE(noColour.fills().empty());
  view.rectColor = graphics::Color::red();
  RecordingCanvas filled;
  view.drawRect(filled, view.bounds());
  ASSERT_EQ(filled.fills().size(), 1u);
  EXPECT_EQ(filled.fills()[0].rect, Rect(10, 10, 20, 20));
  EXPECT_EQ(filled.fills()[0].color, graphics::Color::red());

  view.rectsArr.clear();
  view.drawFrameRect = true;
  RecordingCanvas frame;
  view.drawRect(frame, view.bounds());
  EXPECT_THAT(segments(frame), ::testing::ElementsAre(std::pair(Point(0, 0.5), Point(0, 100)),
                                                      std::pair(Point(0, 0.5), Point(199.5, 0.5)),
                                                      std::pair(Point(199.5, 0.5), Point(199.5, 100)),
                                                      std::pair(Point(0, 100), Point(199.5, 100))));
  expectHairlines(frame);
}

TEST(FlatSettings, OneSharedRecordWithTheFlatDefaults) {
  app::FlatSettings& settings = app::FlatSettings::sharedInstance();
  EXPECT_EQ(&settings, &app::FlatSettings::sharedInstance());
  EXPECT_EQ(settings.secondColor(), graphics::Color::clear());
  EXPECT_EQ(settings.iconImageColor(), graphics::Color::white());
  EXPECT_EQ(settings.textFieldPlaceHolderColor(), graphics::Color::clear());
  EXPECT_EQ(settings.font(), graphics::Font("AvenirNext-Regular", 15));
}

// A bundle with the bar images and an English table, and a main run loop for the taps.
class BarButtonTest : public ::testing::Test {
 protected:
  BarButtonTest() : loop_(clock_), main_(loop_) {
    std::filesystem::create_directories(dir_.path() / "en.lproj");
    graphics::Image badge(44, 44);
    auto png = badge.pngData();
    for (const char* name : {"iPhone_back_button.png", "iPhone_badge.png", "iPhone_cancel_button.png"}) {
      std::ofstream out(dir_ / name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    }
    previousBundle_ = runtime::Bundle::setMain(
        std::make_shared<runtime::Bundle>(dir_.path(), std::vector<std::string>{"en"}));
    ui::clearImageCache();
    app::FlatBarButtonItems::setLocalizer([this](std::string_view key) {
      auto it = texts.find(std::string(key));
      return it == texts.end() ? std::string(key) : it->second;
    });
  }
  ~BarButtonTest() override {
    app::FlatBarButtonItems::setLocalizer({});
    runtime::Bundle::setMain(previousBundle_);
    ui::clearImageCache();
  }

  std::map<std::string, std::string> texts{{"Edit", "Edit"}, {"Apply", "Anwenden"}};
  testing_support::TempDir dir_;
  foundation::ManualClock clock_;
  runtime::RunLoop loop_;
  runtime::ScopedMainRunLoop main_;
  graphics::ScopedTextMeasurer measurer_{std::make_shared<graphics::FixedAdvanceTextMeasurer>(0.5, 1.2)};
  std::shared_ptr<runtime::Bundle> previousBundle_;
};

TEST_F(BarButtonTest, ImageButtonsHoldTheirPictureOffsetInA44PointViewAndActOnATapAnywhere) {
  int taps = 0;
  auto left = app::FlatBarButtonItems::leftButtonWithImgPathWithTargetSelector("iPhone_cancel_button",
                                                                               [&] { ++taps; });
  auto right = app::FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector("iPhone_ok_button_white",
                                                                                 [&] { ++taps; });
  auto back = app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([&] { ++taps; });
  ASSERT_TRUE(left->customView() && right->customView() && back->customView());
  EXPECT_EQ(left->customView()->frame(), Rect(0, 0, 44, 44));
  EXPECT_EQ(right->customView()->frame(), Rect(0, 0, 44, 44));
  EXPECT_EQ(back->customView()->frame(), Rect(0, 0, 20, 44));
  auto imageOf = [](const std::shared_ptr<ui::BarButtonItem>& item) {
    return dynamic_cast<ui::ImageView*>(item->customView()->subviews().at(0).get());
  };
  EXPECT_EQ(imageOf(left)->frame(), Rect(-16, 0, 44, 44));
  EXPECT_EQ(imageOf(right)->frame(), Rect(16, 0, 44, 44));
  EXPECT_EQ(imageOf(back)->frame(), Rect(-16, 0, 44, 44));
  EXPECT_NE(imageOf(left)->image(), nullptr);
  EXPECT_NE(imageOf(back)->image(), nullptr);
  EXPECT_EQ(imageOf(right)->image(), nullptr);  // not in the bundle: the item still works

  for (auto& item : {left, right, back}) {
    ui::TouchInjector touch(*item->customView());
    touch.tap(Point(10, 30));
  }
  EXPECT_EQ(taps, 3);
  // The item itself has no action of its own: it acts through its view.
  left->tap();
  EXPECT_EQ(taps, 3);
}

TEST_F(BarButtonTest, TextItemsAreLocalisedAndMayHaveNoAction) {
  int taps = 0;
  auto apply = app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector("Apply", [&] { ++taps; });
  EXPECT_EQ(apply->title(), "Anwenden");
  EXPECT_EQ(apply->customView(), nullptr);
  EXPECT_EQ(apply->style(), ui::BarButtonItemStyle::kPlain);
  apply->tap();
  EXPECT_EQ(taps, 1);
  auto empty = app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector("", nullptr);
  EXPECT_EQ(empty->title(), "");
  empty->tap();  // nothing happens
}

TEST_F(BarButtonTest, TheBadgedEditButtonIsAsWideAsItsTextAndKeepsTheBadgeAtItsEnd) {
  int taps = 0;
  auto item = app::FlatBarButtonItems::rightButtonEditTextWithBadgeWithTargetSelector([&] { ++taps; });
  ui::View& container = *item->customView();
  // "Edit" at 16 points and half an em a character measures 32: the view is 33 wide.
  EXPECT_EQ(container.frame(), Rect(0, 0, 33, 44));
  ASSERT_EQ(container.subviews().size(), 2u);
  auto* label = dynamic_cast<ui::Label*>(container.subviews()[0].get());
  auto* badge = dynamic_cast<ui::ImageView*>(container.subviews()[1].get());
  ASSERT_TRUE(label && badge);
  EXPECT_EQ(label->text(), "Edit");
  EXPECT_EQ(label->frame(), Rect(8, 0, 33, 44));
  EXPECT_EQ(label->textAlignment(), graphics::TextAlignment::kRight);
  EXPECT_EQ(label->textColor(), graphics::Color::white());
  EXPECT_EQ(label->font(), graphics::Font("HelveticaNeue", 16));
  EXPECT_EQ(badge->frame(), Rect(13, -6, 44, 44));
  EXPECT_NE(badge->image(), nullptr);
  ui::TouchInjector touch(container);
  touch.tap(Point(5, 20));
  EXPECT_EQ(taps, 1);

  // A longer translation widens the button; the badge stays 20 points inside its right end.
  texts["Edit"] = "Bearbeiten";
  auto longer = app::FlatBarButtonItems::rightButtonEditTextWithBadgeWithTargetSelector([] {});
  EXPECT_EQ(longer->customView()->frame().width(), 81);
  EXPECT_EQ(longer->customView()->subviews()[1]->frame(), Rect(61, -6, 44, 44));
}

TEST_F(BarButtonTest, WithoutALocalizerTheTextsComeFromTheBundleInTheUsersLanguage) {
  std::ofstream(dir_ / "en.lproj" / "Localizable.strings") << "\"Apply\" = \"Apply now\";\n";
  auto previous = runtime::UserDefaults::setStandard(
      std::make_shared<runtime::UserDefaults>(dir_ / "prefs.plist", std::vector<std::string>{"en"}));
  app::FlatBarButtonItems::setLocalizer({});
  EXPECT_EQ(app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector("Apply", nullptr)->title(),
            "Apply now");
  EXPECT_EQ(app::FlatBarButtonItems::localized("Missing key"), "Missing key");
  runtime::UserDefaults::setStandard(previous);
}

}  // namespace
