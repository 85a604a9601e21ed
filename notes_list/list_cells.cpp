#include "notes_list/list_cells.h"

#include <algorithm>

#include "app/flat_widgets.h"
#include "platform/foundation/text.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/image_library.h"

namespace notes_list {

namespace {

using graphics::Point;
using graphics::Rect;

// The looks the rows' prototypes give their texts: the type small in the accent colour, the value in
// the text colour, times and notices smaller and grey, times and durations flush right.
struct TextLook {
  const char* font;
  double size;
  graphics::Color color;
  graphics::TextAlignment alignment = graphics::TextAlignment::kLeft;
};
const graphics::Color kAccent = graphics::Color::rgb255(140, 127, 243);
const graphics::Color kText = graphics::Color::rgb255(64, 66, 87);
const graphics::Color kGrey = graphics::Color::rgb255(142, 142, 147);
const TextLook kTypeLook{"AvenirNext-Medium", 14, kAccent};
const TextLook kValueLook{"AvenirNext-Regular", 15, kText};
const TextLook kTimeLook{"AvenirNext-Regular", 12, kGrey, graphics::TextAlignment::kRight};
const TextLook kDurationLook{"AvenirNext-Regular", 15, kText, graphics::TextAlignment::kRight};
const TextLook kNoticeLook{"AvenirNext-Regular", 12, kGrey};

std::shared_ptr<ui::Label> addLabel(ui::View& parent, const TextLook& look) {
  auto label = std::make_shared<ui::Label>();
  label->setBackgroundColor(graphics::Color::clear());
  label->setFont(graphics::Font::fontWithNameSize(look.font, look.size)
                     .value_or(graphics::Font::systemFontOfSize(look.size)));
  label->setTextColor(look.color);
  label->setTextAlignment(look.alignment);
  // A long type name or value gives up a little size before it is cut.
  label->setAdjustsFontSizeToFitWidth(true);
  label->setMinimumScaleFactor(0.75);
  parent.addSubview(label);
  return label;
}

std::shared_ptr<ui::ImageView> addImage(ui::View& parent) {
  auto image = std::make_shared<ui::ImageView>();
  parent.addSubview(image);
  return image;
}

// The small camera a row shows when its note has a photo; hidden until the list says so.
std::shared_ptr<ui::ImageView> addPhotoMark(ui::View& parent) {
  auto mark = addImage(parent);
  mark->setImage(ui::imageNamed("iPad_icon_photos"));
  mark->setHidden(true);
  return mark;
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

namespace {

// Widens a text on the left of a row up to where the text at its right (flush right) begins, less
// a gap, so that a long type name ("Кормление грудью") is not cut while the row has room for it;
// never narrower than its own column. The text at the right then keeps to the room its text takes,
// so that neither lies over the other and a finger finds each.
void widenUpTo(ui::Label& left, ui::Label& right, double margin = 0) {
  constexpr double kGap = 4;
  const std::string& text = right.text();
  const Rect rightFrame = right.frame();
  const double boundary =
      text.empty() ? rightFrame.maxX()
                   : boundingRectForCharacterRange(right, 0, foundation::text::utf16Length(text)).minX() - margin - kGap;
  Rect frame = left.frame();
  if (boundary - kGap - frame.origin.x <= frame.size.width) return;
  frame.size.width = boundary - kGap - frame.origin.x;
  left.setFrame(frame);
  right.setFrame(Rect(boundary, rightFrame.origin.y, rightFrame.maxX() - boundary, rightFrame.size.height));
}

}  // namespace

Rect boundingRectForCharacterRange(const ui::Label& label, std::size_t utf16Start, std::size_t utf16Length) {
  const Rect frame = label.frame();
  Rect box = graphics::defaultTextMeasurer()->rangeBounds(label.drawnText(), frame.size.width, utf16Start,
                                                          utf16Length);
  switch (label.textAlignment()) {
    case graphics::TextAlignment::kLeft:
      box.origin.x = frame.origin.x;
      break;
    case graphics::TextAlignment::kCenter:
      box.origin.x = frame.origin.x + frame.size.width / 2 - box.size.width / 2;
      break;
    case graphics::TextAlignment::kRight:
      box.origin.x = frame.origin.x + frame.size.width - box.size.width;
      break;
    default:
      break;
  }
  return box;
}

listRowCell::listRowCell(std::string identifier, bool iPad)
    : ui::TableViewCell(ui::CellStyle::kDefault, std::move(identifier)), iPad_(iPad) {
  setBackgroundColor(graphics::Color::clear());
}

void listRowCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), false, lastCellInSection ? 0 : listSeparatorInset(iPad_));
}

iPhoneNoteCell::iPhoneNoteCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView(), kTypeLook);
  mainLable = addLabel(contentView(), kValueLook);
  notesLable = addLabel(contentView(), kNoticeLook);
  toTimeLable = addLabel(contentView(), kTimeLook);
  durationTimeLable = addLabel(contentView(), kDurationLook);
  mainImage = addImage(contentView());
  photoForCellImage = addPhotoMark(contentView());
}

iPhoneNoteNoticeCell::iPhoneNoteNoticeCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView(), kTypeLook);
  // Two lines of the notice fit its row.
  mainLable = addLabel(contentView(), kValueLook);
  mainLable->setNumberOfLines(2);
  toTimeLable = addLabel(contentView(), kTimeLook);
  mainImage = addImage(contentView());
  photoForCellImage = addPhotoMark(contentView());
}

iPhoneTimerNoteCell::iPhoneTimerNoteCell(bool iPad) : listRowCell(kIdentifier, iPad) {
  typeLable = addLabel(contentView(), kValueLook);
  typeImage = addImage(contentView());
  // The stopwatch tells a running timer's row from a saved note's.
  timerImage = addImage(contentView());
  timerImage->setImage(ui::imageNamed("stopwatch_icon"));
}

void iPhoneTimerNoteCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), firstCellInSection, lastCellInSection ? 0 : listSeparatorInset(iPad_));
}

iPhoneSumNoteCell::iPhoneSumNoteCell(bool iPad)
    : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier), iPad_(iPad) {
  setBackgroundColor(graphics::Color::clear());
  typeLable = addLabel(contentView(), kValueLook);
  typeImage = addImage(contentView());
  countImage = addImage(contentView());
  // A pale wash of the accent colour behind the totals.
  countImage->setBackgroundColor(graphics::Color(140 / 255.0, 127 / 255.0, 243 / 255.0, 0.15));
  countImage->setClipsToBounds(true);
  countImage->setCornerRadius(iPad ? 12 : 11);
  // Over its backdrop.
  countLable =
      addLabel(contentView(), TextLook{"AvenirNext-Regular", 14, kText, graphics::TextAlignment::kRight});
}

void iPhoneSumNoteCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRow(canvas, bounds(), false, lastCellInSection ? 0 : -1);
}

// The layouts the storyboard prototypes would give: icon column, type above the value, times right.
// On the iPad the times keep a fixed column at the right edge, as the list sets them there.
void iPhoneNoteCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width;
  const double photo = photoForCellImage->isHidden() ? 0 : 15;
  mainImage->setFrame(Rect(9, 10, 40, 40));
  typeLable->setFrame(Rect(58, 4, w * 0.5 - 58, 18));
  notesLable->setFrame(Rect(58, 40, w - 58 - photo, 16));
  if (iPad_) {
    mainLable->setFrame(Rect(58, 21, w - 210, 20));
    toTimeLable->setFrame(Rect(w - 220, 4, 210, 18));
    durationTimeLable->setFrame(Rect(w - 135, 21, 125, 20));
  } else {
    mainLable->setFrame(Rect(58, 21, w * 0.6 - 58, 20));
    toTimeLable->setFrame(Rect(w * 0.5, 4, w * 0.5 - 10, 18));
    durationTimeLable->setFrame(Rect(w * 0.6, 21, w * 0.4 - 10, 20));
  }
  widenUpTo(*typeLable, *toTimeLable);
  widenUpTo(*mainLable, *durationTimeLable);
  // The mark stays inside the row on both devices.
  photoForCellImage->setFrame(Rect(w - 22, 40, 16, 16));
}

void iPhoneNoteNoticeCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width;
  mainImage->setFrame(Rect(9, 10, 40, 40));
  typeLable->setFrame(Rect(58, 4, w * 0.5 - 58, 18));
  if (iPad_) {
    mainLable->setFrame(Rect(58, 22, w - 80, 34));
    toTimeLable->setFrame(Rect(w - 220, 4, 210, 18));
  } else {
    mainLable->setFrame(Rect(58, 22, w - 58 - 25, 34));
    toTimeLable->setFrame(Rect(w * 0.5, 4, w * 0.5 - 10, 18));
  }
  widenUpTo(*typeLable, *toTimeLable);
  photoForCellImage->setFrame(Rect(w - 22, 40, 16, 16));
}

void iPhoneTimerNoteCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width, h = bounds().size.height;
  typeImage->setFrame(Rect(9, (h - 40) / 2, 40, 40));
  typeLable->setFrame(Rect(58, 0, w - 58 - 50, h));
  timerImage->setFrame(Rect(iPad_ ? w - 30 - 5 : w - 40, (h - 30) / 2, 30, 30));
}

void iPhoneSumNoteCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width, h = bounds().size.height;
  typeImage->setFrame(Rect(9, (h - 30) / 2, 30, 30));
  typeLable->setFrame(Rect(48, 0, w * 0.5 - 48, h));
  countLable->setFrame(iPad_ ? Rect(w - 215, 0, 200, h) : Rect(w * 0.5, 0, w * 0.5 - 15, h));
  // The backdrop hugs the totals, a margin on either side.
  const std::string& text = countLable->text();
  countImage->setHidden(text.empty());
  const Rect box = boundingRectForCharacterRange(*countLable, 0, foundation::text::utf16Length(text));
  const double margin = iPad_ ? 8 : 7;
  countImage->setFrame(Rect(box.origin.x - margin, (h - 22) / 2, box.size.width + 2 * margin, 22));
  // The type's name may run up to the backdrop.
  widenUpTo(*typeLable, *countLable, margin);
}

}  // namespace notes_list
