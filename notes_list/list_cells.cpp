#include "notes_list/list_cells.h"

#include "app/flat_widgets.h"

namespace notes_list {

namespace {

using graphics::Point;
using graphics::Rect;

std::shared_ptr<ui::Label> addLabel(ui::View& parent) {
  auto label = std::make_shared<ui::Label>();
  label->setBackgroundColor(graphics::Color::clear());
  parent.addSubview(label);
  return label;
}

std::shared_ptr<ui::ImageView> addImage(ui::View& parent) {
  auto image = std::make_shared<ui::ImageView>();
  parent.addSubview(image);
  return image;
}

// The white fill and the bottom line of a row.
void drawRow(graphics::Canvas& canvas, const Rect& bounds, bool top, double bottomFrom) {
  canvas.save();
  app::beginFlatRowDrawing(canvas, bounds);
  const double w = bounds.size.width, h = bounds.size.height;
  if (top) canvas.strokeLine(Point(0, 0.5), Point(w, 0.5));
  if (bottomFrom >= 0) canvas.strokeLine(Point(bottomFrom, h), Point(w, h));
  canvas.restore();
}

}  // namespace

double listSeparatorInset(bool iPad) { return iPad ? 70 : 58; }

listRowCell::listRowCell(std::string identifier, bool iPad)
    : ui::TableViewCell(ui::CellStyle::kDefault, std::move(identifier)), iPad_(iPad) {
  setBackgroundColor(graphics::Color::clear());
}

void listRowCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), false, lastCellInSection ? 0 : listSeparatorInset(iPad_));
}

iPhoneNoteCell::iPhoneNoteCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView());
  mainLable = addLabel(contentView());
  notesLable = addLabel(contentView());
  toTimeLable = addLabel(contentView());
  durationTimeLable = addLabel(contentView());
  mainImage = addImage(contentView());
  photoForCellImage = addImage(contentView());
}

iPhoneNoteNoticeCell::iPhoneNoteNoticeCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView());
  mainLable = addLabel(contentView());
  toTimeLable = addLabel(contentView());
  mainImage = addImage(contentView());
  photoForCellImage = addImage(contentView());
}

iPhoneTimerNoteCell::iPhoneTimerNoteCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView());
  typeImage = addImage(contentView());
  timerImage = addImage(contentView());
}

void iPhoneTimerNoteCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), firstCellInSection, lastCellInSection ? 0 : listSeparatorInset(iPad_));
}

iPhoneSumNoteCell::iPhoneSumNoteCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  setBackgroundColor(graphics::Color::clear());
  typeLable = addLabel(contentView());
  countLable = addLabel(contentView());
  typeImage = addImage(contentView());
  countImage = addImage(contentView());
}

void iPhoneSumNoteCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), false, lastCellInSection ? 0 : -1);
}

}  // namespace notes_list
