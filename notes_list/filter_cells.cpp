#include "notes_list/filter_cells.h"

#include "notes_list/date_picker_cell.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"

namespace notes_list {

using graphics::Point;
using graphics::Rect;

namespace {

const graphics::Color kLineGrey = graphics::Color::rgb255(169, 169, 169);
const graphics::Color kTextColour = graphics::Color::rgb255(64, 66, 87);

// White surface and the grey 0.5-point pen, without antialiasing, inside a saved state.
void beginCellDrawing(graphics::Canvas& canvas, const Rect& bounds) {
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setFillColor(graphics::Color::white());
  canvas.fillRect(bounds);
  canvas.setStrokeColor(kLineGrey);
}

graphics::Font cellFont(double size) {
  return graphics::Font::fontWithNameSize("AvenirNext-Regular", size).value_or(graphics::Font::systemFontOfSize(size));
}

std::shared_ptr<ui::Label> makeLabel(double size) {
  auto label = std::make_shared<ui::Label>();
  label->setFont(cellFont(size));
  label->setTextColor(kTextColour);
  return label;
}

// The tick of a type row: the bundle's picture, or a drawn ring (with a check when ticked) where
// the bundle has none, so the choice is always visible.
class TickMark : public ui::ImageView {
 public:
  TickMark(bool ticked, ui::ImageRef image) : ui::ImageView(std::move(image)), ticked_(ticked) {}
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override {
    if (image()) return ui::ImageView::drawRect(canvas, rect);
    const Rect b = bounds();
    const Rect ring(b.x() + 1, b.y() + 1, b.width() - 2, b.height() - 2);
    const graphics::Color accent = graphics::Color::rgb255(140, 127, 243);
    canvas.save();
    canvas.setLineWidth(1.5);
    if (ticked_) {
      canvas.setFillColor(accent);
      canvas.fillEllipse(ring);
      canvas.setStrokeColor(graphics::Color::white());
      graphics::Path check;
      check.moveTo(Point(b.width() * 0.28, b.height() * 0.52));
      check.lineTo(Point(b.width() * 0.44, b.height() * 0.68));
      check.lineTo(Point(b.width() * 0.72, b.height() * 0.36));
      canvas.strokePath(check);
    } else {
      canvas.setStrokeColor(kLineGrey);
      canvas.strokeEllipse(ring);
    }
    canvas.restore();
  }

 private:
  bool ticked_;
};

}  // namespace

void filterPlacedCell::drawPlacedLines(graphics::Canvas& canvas,
                                       std::initializer_list<double> bottoms) const {
  const Rect b = bounds();
  canvas.save();
  beginCellDrawing(canvas, b);
  if (firstInSection) canvas.strokeLine(Point(0, 0.5), Point(b.width(), 0.5));
  const double x0 = lastInSection ? 0 : 10;
  for (double y : bottoms) canvas.strokeLine(Point(x0, y), Point(b.width(), y));
  canvas.restore();
}

// --- filterSelectTypeCell

filterSelectTypeCell::filterSelectTypeCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  deselectButton = std::make_shared<ui::Button>();
  selectButton = std::make_shared<ui::Button>();
  for (auto* button : {&deselectButton, &selectButton}) {
    (*button)->setTitleColor(graphics::Color::rgb255(140, 127, 243));
    contentView().addSubview(*button);
  }
}

void filterSelectTypeCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const Rect b = contentView().bounds();
  deselectButton->setFrame(Rect(0, 0, b.width() / 2, b.height()));
  selectButton->setFrame(Rect(b.width() / 2, 0, b.width() / 2, b.height()));
}

void filterSelectTypeCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const Rect b = bounds();
  canvas.save();
  beginCellDrawing(canvas, b);
  canvas.strokeLine(Point(0, 0.5), Point(b.width(), 0.5));
  canvas.strokeLine(Point(b.width() / 2, 0.5), Point(b.width() / 2, b.height()));
  canvas.restore();
}

// --- filterDateCell

filterDateCell::filterDateCell() : filterPlacedCell(ui::CellStyle::kDefault, kIdentifier) {
  dateIDLable = makeLabel(15);
  dateLable = makeLabel(15);
  dateLable->setTextAlignment(graphics::TextAlignment::kRight);
  contentView().addSubview(dateIDLable);
  contentView().addSubview(dateLable);
}

void filterDateCell::layoutSubviews() {
  filterPlacedCell::layoutSubviews();
  const Rect b = contentView().bounds();
  dateIDLable->setFrame(Rect(15, 0, 90, b.height()));
  dateLable->setFrame(Rect(105, 0, std::max(0.0, b.width() - 120), b.height()));
}

void filterDateCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawPlacedLines(canvas, {bounds().height()});
}

// --- filterSegmentCell

filterSegmentCell::filterSegmentCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  filterSegment = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", ""});
  filterSegment->setTintColor(graphics::Color::rgb255(140, 127, 243));
  contentView().addSubview(filterSegment);
}

void filterSegmentCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const Rect b = contentView().bounds();
  filterSegment->setFrame(Rect(15, 8, std::max(0.0, b.width() - 30), std::max(0.0, b.height() - 16)));
}

// --- filterPickerCell

filterPickerCell::filterPickerCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  filterPicker = std::make_shared<ui::PickerView>();
  contentView().addSubview(filterPicker);
}

void filterPickerCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  filterPicker->setFrame(contentView().bounds());
}

void filterPickerCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const Rect b = bounds();
  canvas.save();
  beginCellDrawing(canvas, b);
  canvas.strokeLine(Point(0, 0.5), Point(b.width(), 0.5));
  canvas.strokeLine(Point(0, b.height()), Point(b.width(), b.height()));
  canvas.restore();
}

// --- filterColorTypeCell, filterPhotoCell, filterSwitchCell: a caption and a control on the right

namespace {
void layoutCaptionAndControl(ui::View& content, ui::Label& caption, ui::View& control, double controlWidth) {
  const Rect b = content.bounds();
  const double width = std::min(controlWidth, std::max(0.0, b.width() - 130));
  caption.setFrame(Rect(15, 0, std::max(0.0, b.width() - width - 30), b.height()));
  control.setFrame(Rect(b.width() - width - 15, 8, width, std::max(0.0, b.height() - 16)));
}

constexpr double kCaptionSize = 15;
constexpr double kStackedCaptionSize = 11;

// Segments share their control equally and draw their titles at 13 points, shrinking a title
// that leaves less than this room round it.
constexpr double kSegmentTitleRoom = 6;

// A caption and a segmented control on one row. The control is as wide as its widest title needs
// (at least `preferredWidth`). Where that does not fit beside the caption, as with a long
// translation on the phone ("Nicht einfügen", "Не включать"), the caption moves, smaller, above a
// control as wide as the row: its titles keep their size instead of shrinking to tiny type.
void layoutCaptionAndSegments(ui::View& content, ui::Label& caption, ui::SegmentedControl& segments,
                              double preferredWidth) {
  const Rect b = content.bounds();
  const auto measurer = graphics::defaultTextMeasurer();
  const graphics::Font titleFont = graphics::Font::systemFontOfSize(13);
  double widest = 0;
  for (int i = 0; i < segments.numberOfSegments(); ++i)
    widest = std::max(widest, measurer->sizeOf(segments.titleForSegmentAtIndex(i), titleFont).width);
  const double needed = segments.numberOfSegments() * (widest + kSegmentTitleRoom);
  const double captionWidth = measurer->sizeOf(caption.text(), cellFont(kCaptionSize)).width;
  const double room = b.width() - captionWidth - 40;  // margins of 15 and a gap of 10
  if (needed <= room) {
    caption.setFont(cellFont(kCaptionSize));
    const double width = std::min(room, std::max(needed, preferredWidth));
    caption.setFrame(Rect(15, 0, std::max(0.0, b.width() - width - 30), b.height()));
    segments.setFrame(Rect(b.width() - width - 15, 8, width, std::max(0.0, b.height() - 16)));
    return;
  }
  caption.setFont(cellFont(kStackedCaptionSize));
  caption.setFrame(Rect(10, 2, std::max(0.0, b.width() - 20), 14));
  segments.setFrame(Rect(10, 17, std::max(0.0, b.width() - 20), std::max(0.0, b.height() - 20)));
}
}  // namespace

filterColorTypeCell::filterColorTypeCell() : filterPlacedCell(ui::CellStyle::kDefault, kIdentifier) {
  typeLable = makeLabel(15);
  typeSegment = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", ""});
  typeSegment->setTintColor(graphics::Color::rgb255(140, 127, 243));
  contentView().addSubview(typeLable);
  contentView().addSubview(typeSegment);
}

void filterColorTypeCell::layoutSubviews() {
  filterPlacedCell::layoutSubviews();
  layoutCaptionAndSegments(contentView(), *typeLable, *typeSegment, 170);
}

void filterColorTypeCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawPlacedLines(canvas, {bounds().height()});
}

filterPhotoCell::filterPhotoCell() : filterPlacedCell(ui::CellStyle::kDefault, kIdentifier) {
  photoLable = makeLabel(15);
  photoSegment = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", "", ""});
  photoSegment->setTintColor(graphics::Color::rgb255(140, 127, 243));
  contentView().addSubview(photoLable);
  contentView().addSubview(photoSegment);
}

void filterPhotoCell::layoutSubviews() {
  filterPlacedCell::layoutSubviews();
  layoutCaptionAndSegments(contentView(), *photoLable, *photoSegment, 200);
}

void filterPhotoCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawPlacedLines(canvas, {bounds().height()});
}

filterSwitchCell::filterSwitchCell() : filterPlacedCell(ui::CellStyle::kDefault, kIdentifier) {
  mainLable = makeLabel(15);
  mainSwitch = std::make_shared<ui::Switch>();
  contentView().addSubview(mainLable);
  contentView().addSubview(mainSwitch);
}

void filterSwitchCell::layoutSubviews() {
  filterPlacedCell::layoutSubviews();
  layoutCaptionAndControl(contentView(), *mainLable, *mainSwitch, 51);
}

void filterSwitchCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawPlacedLines(canvas, {bounds().height()});
}

// --- filterGroupCell

filterGroupCell::filterGroupCell() : filterPlacedCell(ui::CellStyle::kDefault, kIdentifier) {
  typeLable = makeLabel(16);
  imgOn = std::make_shared<TickMark>(true, ui::imageNamed("filter_check_on"));
  imgOff = std::make_shared<TickMark>(false, ui::imageNamed("filter_check_off"));
  for (auto* mark : {&imgOn, &imgOff}) (*mark)->setContentMode(ui::ContentMode::kScaleAspectFit);
  imgOn->setAlpha(0);
  contentView().addSubview(typeLable);
  contentView().addSubview(imgOff);
  contentView().addSubview(imgOn);
}

void filterGroupCell::setSelectionTypeWithAnima(bool ticked, bool /*animated*/) {
  ui::animate(0.2, [on = imgOn, off = imgOff, ticked] {
    on->setAlpha(ticked ? 1 : 0);
    off->setAlpha(ticked ? 0 : 1);
  });
}

void filterGroupCell::layoutSubviews() {
  filterPlacedCell::layoutSubviews();
  const Rect b = contentView().bounds();
  typeLable->setFrame(Rect(15, 0, std::max(0.0, b.width() - 60), std::min(44.0, b.height())));
  const Rect mark(b.width() - 37, 11, 22, 22);
  imgOn->setFrame(mark);
  imgOff->setFrame(mark);
}

void filterGroupCell::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  drawPlacedLines(canvas, {44, bounds().height()});
}

void registerFilterCells(ui::TableView& table, ui::Control::Action dateAction) {
  table.registerCell(filterSelectTypeCell::kIdentifier,
                     [] { return std::make_shared<filterSelectTypeCell>(); });
  table.registerCell(filterDateCell::kIdentifier, [] { return std::make_shared<filterDateCell>(); });
  table.registerCell(filterSegmentCell::kIdentifier, [] { return std::make_shared<filterSegmentCell>(); });
  table.registerCell(filterPickerCell::kIdentifier, [] { return std::make_shared<filterPickerCell>(); });
  table.registerCell(filterColorTypeCell::kIdentifier,
                     [] { return std::make_shared<filterColorTypeCell>(); });
  table.registerCell(filterPhotoCell::kIdentifier, [] { return std::make_shared<filterPhotoCell>(); });
  table.registerCell(filterGroupCell::kIdentifier, [] { return std::make_shared<filterGroupCell>(); });
  table.registerCell(filterSwitchCell::kIdentifier, [] { return std::make_shared<filterSwitchCell>(); });
  table.registerCell(datePickerCell::kIdentifier, [dateAction] {
    auto cell = std::make_shared<datePickerCell>();
    if (dateAction) cell->datePicker->addTarget(dateAction, ui::kControlEventValueChanged);
    cell->awakeFromNib();
    return cell;
  });
}

}  // namespace notes_list
