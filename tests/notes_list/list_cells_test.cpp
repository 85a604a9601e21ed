#include "notes_list/list_cells.h"

#include <gtest/gtest.h>

#include "platform/graphics/recording_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/render.h"
#include "support/temp_dir.h"

namespace {

using graphics::Point;
using graphics::Rect;

struct Line {
  double fromX, fromY, toX;
  friend bool operator==(const Line&, const Line&) = default;
};

std::vector<Line> linesOf(ui::View& cell) {
  graphics::RecordingCanvas canvas(cell.bounds().size);
  cell.drawRect(canvas, cell.bounds());
  std::vector<Line> lines;
  for (const auto& line : canvas.lines()) {
    EXPECT_FALSE(line.antialias);
    EXPECT_EQ(line.width, 0.5);
    EXPECT_EQ(line.color, graphics::Color::rgb255(201, 203, 206));
    lines.push_back({line.from.x, line.from.y, line.to.x});
  }
  return lines;
}

TEST(ListCellsTest, LinesFollowThePositionInTheDay) {
  struct Case {
    const char* what;
    std::shared_ptr<ui::TableViewCell> cell;
    std::vector<Line> lines;
  };
  auto inner = std::make_shared<notes_list::iPhoneNoteCell>();
  auto last = std::make_shared<notes_list::iPhoneNoteNoticeCell>(true);
  last->lastCellInSection = true;
  auto iPadInner = std::make_shared<notes_list::iPhoneNoteCell>(true);
  auto timer = std::make_shared<notes_list::iPhoneTimerNoteCell>();
  timer->firstCellInSection = timer->lastCellInSection = true;
  auto sumInner = std::make_shared<notes_list::iPhoneSumNoteCell>();
  auto sumLast = std::make_shared<notes_list::iPhoneSumNoteCell>();
  sumLast->lastCellInSection = true;
  const std::vector<Case> cases = {
      {"inner row", inner, {{58, 60, 320}}},          {"last row", last, {{0, 60, 320}}},
      {"inner iPad row", iPadInner, {{70, 60, 320}}}, {"single timer", timer, {{0, 0.5, 320}, {0, 60, 320}}},
      {"summary inside a day", sumInner, {}},         {"summary closing a day", sumLast, {{0, 60, 320}}},
  };
  for (const auto& c : cases) {
    c.cell->setFrame(Rect(0, 0, 320, 60));
    EXPECT_EQ(linesOf(*c.cell), c.lines) << c.what;
  }
  // Both kinds of note row have a picture for their photo mark, which the list shows or hides.
  EXPECT_TRUE(inner->photoForCellImage->image() && last->photoForCellImage->image());
  inner->typeLable->setText("Sleep");
  inner->mainLable->setText("2h 30m");
  inner->typeLable->setFrame(Rect(58, 5, 200, 20));
  inner->mainLable->setFrame(Rect(58, 30, 200, 20));
  EXPECT_TRUE(ui::renderToPng(*inner, testing_support::testOutput() / "notes_list_cell.png", 2).ok());
}

TEST(ListCellsTest, MeasuredTextPlacesTheTotalsBackdrop) {
  graphics::ScopedTextMeasurer fixed;  // every character half the font size wide
  ui::Label label(Rect(10, 0, 200, 20));
  label.setFont(graphics::Font("AvenirNext-Regular", 16));
  label.setText("0123456789");  // 80 points
  const struct {
    graphics::TextAlignment alignment;
    double x;
  } cases[] = {{graphics::TextAlignment::kLeft, 10},
               {graphics::TextAlignment::kCenter, 70},
               {graphics::TextAlignment::kRight, 130}};
  for (const auto& c : cases) {
    label.setTextAlignment(c.alignment);
    const Rect box = notes_list::boundingRectForCharacterRange(label, 0, 10);
    EXPECT_EQ(box.origin.x, c.x);
    EXPECT_EQ(box.size.width, 80);
  }

  for (bool iPad : {false, true}) {
    notes_list::iPhoneSumNoteCell cell(iPad);
    cell.setFrame(Rect(0, 0, 320, 40));
    cell.countLable->setText("3h 20m");
    cell.layoutIfNeeded();
    const Rect text = notes_list::boundingRectForCharacterRange(*cell.countLable, 0, 6);
    const double margin = iPad ? 8 : 7;
    EXPECT_EQ(cell.countImage->frame().origin.x, text.origin.x - margin);
    EXPECT_EQ(cell.countImage->frame().size.width, text.size.width + 2 * margin);
    EXPECT_FALSE(cell.countImage->isHidden());
    EXPECT_EQ(cell.countImage->cornerRadius(), iPad ? 12 : 11);
    cell.countLable->setText("");
    cell.setNeedsLayout();
    cell.layoutIfNeeded();
    EXPECT_TRUE(cell.countImage->isHidden());
  }
}

}  // namespace
