#include "note_editor/editor_cells.h"

#include <array>
#include <utility>

#include "platform/graphics/text_measure.h"
#include "platform/ui/device.h"

namespace note_editor {

using graphics::Point;
using graphics::Rect;
using ui::TextAlignment;

namespace {

// The text colour of the rows (the interface file's dark slate).
const graphics::Color kTextColor = graphics::Color::rgb255(64, 66, 87);

std::shared_ptr<ui::Label> addLabel(ui::View& parent, double size, TextAlignment alignment,
                                    const char* font = "AvenirNext-Regular") {
  auto label = std::make_shared<ui::Label>();
  label->setFont(graphics::Font(font, size));
  label->setTextColor(kTextColor);
  label->setTextAlignment(alignment);
  label->setBackgroundColor(graphics::Color::clear());
  parent.addSubview(label);
  return label;
}

// Starts a hairline drawing; the caller restores the state.
void beginHairlines(graphics::Canvas& canvas) {
  canvas.save();
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(editorHairlineColor());
}

void drawRowLines(graphics::Canvas& canvas, const Rect& bounds, bool top, bool bottom, bool full) {
  beginHairlines(canvas);
  const double w = bounds.size.width, h = bounds.size.height;
  if (top) canvas.strokeLine(Point(0, 0.5), Point(w, 0.5));
  if (bottom) canvas.strokeLine(Point(full ? 0 : 10, h), Point(w, h));
  canvas.restore();
}

void centreOn(ui::View& view, double x, double y) {
  Rect frame = view.frame();
  frame.origin = Point(x - frame.size.width / 2, y - frame.size.height / 2);
  view.setFrame(frame);
}

}  // namespace

graphics::Color editorHairlineColor() { return graphics::Color::rgb255(242, 239, 252, 0.3); }

// --- Date and value rows

lineSwitchCell::lineSwitchCell(std::string identifier)
    : ui::TableViewCell(ui::CellStyle::kDefault, std::move(identifier)) {
  setBackgroundColor(graphics::Color::clear());
}

void lineSwitchCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRowLines(canvas, bounds(), drawTopLine, drawBottomLine, foolLine);
}

noteEditDateCell::noteEditDateCell() : lineSwitchCell(kIdentifier) {
  leftLable = addLabel(contentView(), 17, TextAlignment::kLeft);
  rightLable = addLabel(contentView(), 17, TextAlignment::kRight);
}

void noteEditDateCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width, h = bounds().size.height;
  leftLable->setFrame(Rect(15, 0, w * 0.4 - 15, h));
  rightLable->setFrame(Rect(w * 0.4, 0, w * 0.6 - 15, h));
}

noteEditCell::noteEditCell() : lineSwitchCell(kIdentifier) {
  valueLable = addLabel(contentView(), 17, TextAlignment::kLeft);
}

void noteEditCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  valueLable->setFrame(Rect(15, 0, bounds().size.width - 30, bounds().size.height));
}

// --- Segment and notice rows

noteSegmentEditCell::noteSegmentEditCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  setBackgroundColor(graphics::Color::clear());
  segmentLabel = addLabel(contentView(), 17, TextAlignment::kLeft);
  breastSegment = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", ""});
  breastSegment->setTintColor(graphics::Color::rgb255(140, 127, 243));
  contentView().addSubview(breastSegment);
}

void noteSegmentEditCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width, h = bounds().size.height;
  segmentLabel->setFrame(Rect(15, 0, w - 215, h));
  breastSegment->setFrame(Rect(w - 195, (h - 29) / 2, 180, 29));
}

void noteSegmentEditCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawRowLines(canvas, bounds(), false, true, false);
}

noteEditNoticeCell::noteEditNoticeCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  setBackgroundColor(graphics::Color::clear());
  noticeTextView = std::make_shared<ui::TextView>();
  noticeTextView->setEditable(false);
  noticeTextView->setFont(graphics::Font("AvenirNext-Regular", 17));
  noticeTextView->setTextColor(kTextColor);
  noticeTextView->setBackgroundColor(graphics::Color::clear());
  contentView().addSubview(noticeTextView);
  editButton = std::make_shared<ui::Button>();
  contentView().addSubview(editButton);
}

void noteEditNoticeCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const Rect area(10, 5, bounds().size.width - 20, bounds().size.height - 10);
  noticeTextView->setFrame(area);
  editButton->setFrame(area);
}

// --- Timer rows

std::optional<int> timerButtonIndex(std::string_view restorationIdentifier) {
  std::string_view kind = restorationIdentifier;
  if (kind.size() > 1 && kind.back() == '2') kind.remove_suffix(1);
  if (kind == "timerLeftButton") return 0;
  if (kind == "timerCenterButton") return 1;
  if (kind == "timerRightButton") return 2;
  return std::nullopt;
}

timerButton::timerButton(std::string restorationIdentifier)
    : ui::Button(Rect(0, 0, 90, 40)), restorationIdentifier_(std::move(restorationIdentifier)) {}

timerCellBase::timerCellBase(std::string identifier, std::string_view suffix)
    : ui::TableViewCell(ui::CellStyle::kDefault, std::move(identifier)) {
  setBackgroundColor(graphics::Color::clear());
  const std::pair<std::shared_ptr<ui::Button>*, const char*> buttons[] = {
      {&leftButton, "timerLeftButton"},
      {&centerButton, "timerCenterButton"},
      {&rightButton, "timerRightButton"}};
  for (const auto& [button, name] : buttons) {
    *button = std::make_shared<timerButton>(name + std::string(suffix));
    contentView().addSubview(*button);
  }
  for (auto* label : {&leftButtonLable, &centerButtonLable, &rightButtonLable}) {
    *label = addLabel(contentView(), 15, TextAlignment::kCenter);
    (*label)->setFrame(Rect(0, 0, 90, 40));
    (*label)->setUserInteractionEnabled(false);
  }
  for (auto* label : {&leftPrevLable, &rightPrevLable}) {
    *label = addLabel(contentView(), 12, TextAlignment::kCenter);
    (*label)->setFrame(Rect(0, 0, 90, 16));
  }
  closeButton = std::make_shared<ui::Button>(Rect(0, 0, 30, 30));
  closeButton->setTitle("×");
  closeButton->setTitleColor(kTextColor);
  contentView().addSubview(closeButton);
}

void timerCellBase::layoutButtons(double y, double leftX, double rightX) {
  const double w = bounds().size.width;
  centreOn(*leftButton, leftX, y);
  centreOn(*leftButtonLable, leftX, y);
  centreOn(*leftPrevLable, leftX, y + 30);
  centreOn(*centerButton, w / 2, y);
  centreOn(*centerButtonLable, w / 2, y);
  centreOn(*rightButton, rightX, y);
  centreOn(*rightButtonLable, rightX, y);
  centreOn(*rightPrevLable, rightX, y + 30);
  centreOn(*closeButton, w - 20, 20);
}

void timerCellBase::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  // Decided once per cell, at its first drawing, when its frame is final.
  if (!atLeastOnce_) {
    adjusted_ = adjustForScreen();
    atLeastOnce_ = true;
  }
  beginHairlines(canvas);
  canvas.strokeLine(Point(0, bounds().size.height), Point(bounds().size.width, bounds().size.height));
  canvas.restore();
}

void timerCellBase::keepAdjustment() {
  // The base layout puts every view back where the cell's design has it; a made adjustment
  // depends only on that, so applying it again lands on the same frames.
  if (adjusted_) (void)adjustForScreen();
}

namespace {

void moveTo(ui::View& view, double x) {
  Rect frame = view.frame();
  frame.origin.x = x;
  view.setFrame(frame);
}

void centreOnX(ui::View& view, double centre) { moveTo(view, centre - view.frame().size.width / 2); }

// A counter grows a field of hours after the first hour; it shrinks to fit instead of cutting.
void fitCounter(ui::Label& label) {
  label.setAdjustsFontSizeToFitWidth(true);
  label.setMinimumScaleFactor(0.5);
}

}  // namespace

noteTimerCell::noteTimerCell() : timerCellBase(kIdentifier, "") {
  timeLable = addLabel(contentView(), 50, TextAlignment::kCenter, "HelveticaNeue-UltraLight");
  fitCounter(*timeLable);
  hoursLable = addLabel(contentView(), 10, TextAlignment::kCenter);
  minutesLable = addLabel(contentView(), 10, TextAlignment::kCenter);
  secondsLable = addLabel(contentView(), 10, TextAlignment::kCenter);
}

void noteTimerCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double w = bounds().size.width;
  timeLable->setFrame(Rect(w / 2 - 110, 20, 220, 60));
  const double t = timeLable->frame().origin.x;
  hoursLable->setFrame(Rect(t + 7, 80, 60, 14));
  minutesLable->setFrame(Rect(t + 80, 80, 60, 14));
  secondsLable->setFrame(Rect(t + 153, 80, 60, 14));
  layoutButtons(130, w / 2 - 100, w / 2 + 100);
  keepAdjustment();
}

bool noteTimerCell::adjustForScreen() {
  const ui::DeviceProfile& device = ui::device();
  if (device.isPad() || !(device.isStandardPhone667() || device.isPhone736())) return false;
  const double t = timeLable->frame().origin.x;
  const std::pair<ui::View*, double> moves[] = {
      {hoursLable.get(), 7},         {secondsLable.get(), 191},   {leftButton.get(), -6},
      {leftButtonLable.get(), 1},    {leftPrevLable.get(), 1},    {rightButton.get(), 204},
      {rightButtonLable.get(), 211}, {rightPrevLable.get(), 211},
  };
  for (const auto& [view, offset] : moves) moveTo(*view, t + offset);
  return true;
}

noteTimerBreastCell::noteTimerBreastCell() : timerCellBase(kIdentifier, "2") {
  timeLeftLable = addLabel(contentView(), 36, TextAlignment::kCenter, "HelveticaNeue-UltraLight");
  timeRightLable = addLabel(contentView(), 36, TextAlignment::kCenter, "HelveticaNeue-UltraLight");
  fitCounter(*timeLeftLable);
  fitCounter(*timeRightLable);
}

void noteTimerBreastCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double cx = bounds().size.width / 2;
  timeLeftLable->setFrame(Rect(cx - 92 - 70, 25, 140, 55));
  timeRightLable->setFrame(Rect(cx + 92 - 70, 25, 140, 55));
  layoutButtons(115, cx - 92, cx + 92);
  keepAdjustment();
}

bool noteTimerBreastCell::adjustForScreen() {
  const ui::DeviceProfile& device = ui::device();
  const bool standard667 = !device.isPad() && device.isStandardPhone667();
  if (!device.isPad() && !standard667 && !device.isPhone736()) return false;
  const graphics::Font font("HelveticaNeue-UltraLight", standard667 ? 45 : 50);
  // The larger counters get the height their line needs, about the same middle.
  const double lineHeight = graphics::defaultTextMeasurer()->lineHeight(font);
  for (ui::Label* time : {timeLeftLable.get(), timeRightLable.get()}) {
    time->setFont(font);
    Rect frame = time->frame();
    if (lineHeight > frame.size.height) {
      frame.origin.y -= (lineHeight - frame.size.height) / 2;
      frame.size.height = lineHeight;
      time->setFrame(frame);
    }
  }
  const double cx = frame().size.width / 2, side = standard667 ? 92 : 106;
  const std::pair<ui::Label*, std::array<ui::View*, 3>> groups[] = {
      {timeLeftLable.get(), {leftButton.get(), leftButtonLable.get(), leftPrevLable.get()}},
      {timeRightLable.get(), {rightButton.get(), rightButtonLable.get(), rightPrevLable.get()}},
  };
  double centre = cx - side;
  for (const auto& [time, views] : groups) {
    centreOnX(*time, centre);
    for (ui::View* view : views) centreOnX(*view, centre);
    centre = cx + side;
  }
  return true;
}

}  // namespace note_editor
