#include "notes_list/list_cells.h"

#include <gtest/gtest.h>

#include "platform/graphics/recording_canvas.h"
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
  inner->typeLable->setText("Sleep");
  inner->mainLable->setText("2h 30m");
  inner->typeLable->setFrame(Rect(58, 5, 200, 20));
  inner->mainLable->setFrame(Rect(58, 30, 200, 20));
  EXPECT_TRUE(ui::renderToPng(*inner, testing_support::testOutput() / "notes_list_cell.png", 2).ok());
}

}  // namespace
