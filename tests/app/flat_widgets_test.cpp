// The shared flat widgets: their drawing on the recording canvas, the bar items' layout and taps.

#include "app/flat_widgets.h"

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
using Bar = app::FlatBarButtonItems;
using Segments = std::vector<std::pair<Point, Point>>;
using Fills = std::vector<std::pair<Rect, graphics::Color>>;

// What a view draws: its fills, and its segments, every one a grey hairline without antialiasing.
std::pair<Fills, Segments> drawing(ui::View& view, bool crispFills = false) {
  RecordingCanvas canvas;
  view.drawRect(canvas, view.bounds());
  std::pair<Fills, Segments> out;
  for (const auto& fill : canvas.fills()) out.first.emplace_back(fill.rect, fill.color);
  for (const auto& fill : canvas.opsOf<graphics::rec::Fill>())
    EXPECT_TRUE(!crispFills || !fill.state.antialias);
  for (const auto& line : canvas.lines()) {
    EXPECT_FALSE(line.antialias);
    EXPECT_EQ(line.width, 0.5);
    EXPECT_TRUE(line.color.approximatelyEquals(graphics::Color::rgb255(201, 203, 206)))
        << line.color.toString();
    out.second.emplace_back(line.from, line.to);
  }
  return out;
}

TEST(FlatWidgets, SeparatorListCellAndLineDrawerDrawTheirLinesAsAsked) {
  app::tableSectionSeparator strip(Rect(0, 0, 320, 23));
  EXPECT_EQ(drawing(strip), (std::pair<Fills, Segments>{}));
  strip.firstSection = strip.showBottomLine = true;
  EXPECT_EQ(drawing(strip).second,
            (Segments{{Point(0, 0.5), Point(320, 0.5)}, {Point(0, 23), Point(320, 23)}}));

  // A list row: white, the inner rows' bottom line inset 50 points, full lines closing the section.
  app::justListCell cell(ui::CellStyle::kDefault, "justListCell");
  cell.setFrame(Rect(0, 0, 320, 44));
  ASSERT_TRUE(cell.idLable && cell.typeImg);
  EXPECT_EQ(drawing(cell, true),
            (std::pair<Fills, Segments>{{{Rect(0, 0, 320, 44), graphics::Color::white()}},
                                        {{Point(50, 44), Point(320, 44)}}}));
  cell.firstInSection = cell.lastInSection = true;
  EXPECT_EQ(drawing(cell).second,
            (Segments{{Point(0, 0.5), Point(320, 0.5)}, {Point(0, 44), Point(320, 44)}}));

  // The line drawer draws nothing until given lines, rectangles or a frame.
  app::lineDrawerView view(Rect(0, 0, 200, 100));
  EXPECT_EQ(drawing(view), (std::pair<Fills, Segments>{}));
  // Points two by two; an odd last point draws nothing.
  view.linesArr = {{0, 44.5f}, {200, 44.5f}, {0, 0}, {0, 100}, {5, 5}};
  EXPECT_EQ(drawing(view).second,
            (Segments{{Point(0, 44.5), Point(200, 44.5)}, {Point(0, 0), Point(0, 100)}}));
  // Rectangles only with a colour.
  view.linesArr.clear();
  view.rectsArr = {Rect(10, 10, 20, 20)};
  EXPECT_EQ(drawing(view), (std::pair<Fills, Segments>{}));
  view.rectColor = graphics::Color::red();
  EXPECT_EQ(drawing(view).first, (Fills{{Rect(10, 10, 20, 20), graphics::Color::red()}}));
  view.rectsArr.clear();
  view.drawFrameRect = true;
  EXPECT_EQ(drawing(view).second, (Segments{{Point(0, 0.5), Point(0, 100)},
                                            {Point(0, 0.5), Point(199.5, 0.5)},
                                            {Point(199.5, 0.5), Point(199.5, 100)},
                                            {Point(0, 100), Point(199.5, 100)}}));
}

// A bundle with the bar images and an English table, and a main run loop for the taps.
class BarButtonTest : public ::testing::Test {
 protected:
  BarButtonTest() : loop_(clock_), main_(loop_) {
    std::filesystem::create_directories(dir_.path() / "en.lproj");
    auto png = graphics::Image(44, 44).pngData();
    for (const char* name : {"iPhone_back_button.png", "iPhone_badge.png", "iPhone_cancel_button.png"})
      std::ofstream(dir_ / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(png->data()), png->size());
    previousBundle_ = runtime::Bundle::setMain(
        std::make_shared<runtime::Bundle>(dir_.path(), std::vector<std::string>{"en"}));
    ui::clearImageCache();
    Bar::setLocalizer([this](std::string_view key) {
      auto it = texts.find(std::string(key));
      return it == texts.end() ? std::string(key) : it->second;
    });
  }
  ~BarButtonTest() override {
    Bar::setLocalizer({});
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

TEST_F(BarButtonTest, ImageButtonsHoldTheirPictureOffsetInTheirViewAndActOnATapAnywhere) {
  int taps = 0;
  const struct {
    std::shared_ptr<ui::BarButtonItem> item;
    Rect view, image;
    bool hasImage;
  } cases[] = {
      {Bar::leftButtonWithImgPathWithTargetSelector("iPhone_cancel_button", [&] { ++taps; }),
       Rect(0, 0, 44, 44), Rect(-16, 0, 44, 44), true},
      // Not in the bundle: the item still works.
      {Bar::rightButtonWithImgPathWithTargetSelector("iPhone_ok_button_white", [&] { ++taps; }),
       Rect(0, 0, 44, 44), Rect(16, 0, 44, 44), false},
      {Bar::backBarButtonItemWithTargetSelector([&] { ++taps; }), Rect(0, 0, 20, 44), Rect(-16, 0, 44, 44),
       true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.item->customView());
    EXPECT_EQ(c.item->customView()->frame(), c.view);
    auto* image = dynamic_cast<ui::ImageView*>(c.item->customView()->subviews().at(0).get());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->frame(), c.image);
    EXPECT_EQ(image->image() != nullptr, c.hasImage);
    ui::TouchInjector(*c.item->customView()).tap(Point(10, 30));
    c.item->tap();  // the item has no action of its own: it acts through its view
  }
  EXPECT_EQ(taps, 3);
}

TEST_F(BarButtonTest, TextItemsAreLocalisedAndMayHaveNoAction) {
  int taps = 0;
  auto apply = Bar::barButtonItemWithTextWithTargetSelector("Apply", [&] { ++taps; });
  EXPECT_EQ(apply->title(), "Anwenden");
  apply->tap();
  EXPECT_EQ(taps, 1);
  auto empty = Bar::barButtonItemWithTextWithTargetSelector("", nullptr);
  EXPECT_EQ(empty->title(), "");
  empty->tap();  // nothing happens

  // Without a localizer the texts come from the bundle in the user's language.
  std::ofstream(dir_ / "en.lproj" / "Localizable.strings") << "\"Apply\" = \"Apply now\";\n";
  auto previous = runtime::UserDefaults::setStandard(
      std::make_shared<runtime::UserDefaults>(dir_ / "prefs.plist", std::vector<std::string>{"en"}));
  Bar::setLocalizer({});
  EXPECT_EQ(Bar::barButtonItemWithTextWithTargetSelector("Apply", nullptr)->title(), "Apply now");
  EXPECT_EQ(Bar::localized("Missing key"), "Missing key");
  runtime::UserDefaults::setStandard(previous);
}

TEST_F(BarButtonTest, TheBadgedEditButtonIsAsWideAsItsTextAndKeepsTheBadgeAtItsEnd) {
  int taps = 0;
  auto item = Bar::rightButtonEditTextWithBadgeWithTargetSelector([&] { ++taps; });
  ui::View& container = *item->customView();
  // "Edit" at 16 points and half an em a character measures 32: the view is 33 wide.
  EXPECT_EQ(container.frame(), Rect(0, 0, 33, 44));
  ASSERT_EQ(container.subviews().size(), 2u);
  auto* label = dynamic_cast<ui::Label*>(container.subviews()[0].get());
  auto* badge = dynamic_cast<ui::ImageView*>(container.subviews()[1].get());
  ASSERT_TRUE(label && badge);
  EXPECT_EQ(label->text(), "Edit");
  EXPECT_EQ(label->frame(), Rect(8, 0, 33, 44));
  EXPECT_EQ(badge->frame(), Rect(13, -6, 44, 44));
  EXPECT_NE(badge->image(), nullptr);
  ui::TouchInjector(container).tap(Point(5, 20));
  EXPECT_EQ(taps, 1);

  // A longer translation widens the button; the badge stays 20 points inside its right end.
  texts["Edit"] = "Bearbeiten";
  auto longer = Bar::rightButtonEditTextWithBadgeWithTargetSelector([] {});
  EXPECT_EQ(longer->customView()->frame().width(), 81);
  EXPECT_EQ(longer->customView()->subviews()[1]->frame(), Rect(61, -6, 44, 44));
}

}  // namespace
