#include "notes_list/filter_view_controller.h"

#include <algorithm>

#include "app/value_texts.h"
#include "notes_list/date_picker_cell.h"
#include "notes_list/filter_cells.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"

namespace notes_list {

using foundation::Date;
using ui::IndexPath;

namespace {

constexpr double kRowHeight = 44;
constexpr double kPickerRowHeight = 162;
constexpr double kTypePickerRowHeight = 130;
constexpr double kHeaderHeight = 30;

template <class Cell>
std::shared_ptr<Cell> dequeue(ui::TableView& table) {
  return std::dynamic_pointer_cast<Cell>(table.dequeueReusableCellWithIdentifier(Cell::kIdentifier));
}

}  // namespace

filterViewController::filterViewController(Services services) : services_(std::move(services)) {}

app::InterfaceText filterViewController::language() const {
  return services_.language ? services_.language() : app::InterfaceText::current();
}

std::string filterViewController::localized(std::string_view key) const { return language().localized(key); }

std::string filterViewController::dateText(const std::optional<Date>& date) const {
  return date ? dateFormatter_.stringFromDate(*date) : std::string();
}

void filterViewController::loadView() {
  auto view = std::make_shared<ui::View>(
      ui::ViewController::presentationFrame(ui::ModalPresentationStyle::kFullScreen));
  setView(view);
}

void filterViewController::viewDidLoad() {
  const graphics::Rect bounds = view()->bounds();
  datePickerView_ = std::make_shared<app::lineDrawerView>(bounds);
  datePickerView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  filterTable_ = std::make_shared<ui::TableView>(bounds);
  filterTable_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  filterTable_->setSeparatorStyle(ui::SeparatorStyle::kNone);
  filterTable_->setDataSource(this);
  filterTable_->setDelegate(this);
  registerFilterCells(*filterTable_, [this](ui::Control& sender) { dateAction(sender); });
  view()->addSubview(datePickerView_);
  view()->addSubview(filterTable_);
}

void filterViewController::setAllStuffWithMail(bool mail) {
  auto root = view();
  root->setBackgroundColor(graphics::Color(250 / 255.0, 249 / 255.0, 253 / 255.0, 1));
  if (!reportMode()) {
    setTitle(localized("Filter"));
    navigationItem().setRightBarButtonItem(
        app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector("Apply", [this] { applyFilter(); }));
    navigationItem().setLeftBarButtonItem(app::FlatBarButtonItems::barButtonItemWithTextWithTargetSelector(
        "Cancel", [this] { backToMainScreen(); }));
  }
  if (!ui::device().isPhone()) {
    const graphics::Rect b = datePickerView_->bounds();
    const float y = static_cast<float>(b.height() - 228);
    datePickerView_->linesArr = {{0, y}, {static_cast<float>(3 * b.width()), y}};
    datePickerView_->setNeedsDisplay();
  }
  if (mail) {
    graphics::Rect frame = datePickerView_->frame();
    frame.origin.y += 44 + (ui::device().isPad() ? 0 : 20);
    datePickerView_->setFrame(frame);
  }
  dateFormatter_ = foundation::DateFormatter::withStyles(
      foundation::DateFormatterStyle::Long, foundation::DateFormatterStyle::None,
      app::interfaceLocale(language()));
  const Date now = services_.clock ? services_.clock->now() : runtime::RunLoop::main().clock().now();
  model_.configure(services_.neh, now, services_.calendar.value_or(foundation::Calendar::current()));
  datePickerRow_.reset();
  filterTable_->reloadData();
}

void filterViewController::setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(
    const std::optional<std::vector<std::string>>& types,
    const std::optional<std::vector<std::string>>& subTypes, bool useSubTypes, std::optional<Date> begin,
    std::optional<Date> end) {
  model_.restore(types, subTypes, useSubTypes, begin, end);
  if (filterTable_) filterTable_->reloadData();
}

void filterViewController::applyFilter() {
  if (noteView_delegate_) noteView_delegate_->noteViewChildFilter(*this);
}

void filterViewController::backToMainScreen() {
  if (noteView_delegate_) noteView_delegate_->noteViewChildDone(*this, false);
}

// --- Table layout

std::vector<filterViewController::SectionKind> filterViewController::sections() const {
  std::vector<SectionKind> kinds{SectionKind::kDates};
  if (reportMode()) kinds.push_back(SectionKind::kOptions);
  kinds.push_back(SectionKind::kSegment);
  if (model_.isDetailed()) kinds.push_back(SectionKind::kPicker);
  kinds.push_back(SectionKind::kSelectAll);
  kinds.push_back(SectionKind::kRows);
  return kinds;
}

std::optional<filterViewController::SectionKind> filterViewController::kindOf(int section) const {
  auto kinds = sections();
  if (section < 0 || section >= static_cast<int>(kinds.size())) return std::nullopt;
  return kinds[static_cast<std::size_t>(section)];
}

int filterViewController::numberOfSectionsInTableView(ui::TableView& /*table*/) {
  return static_cast<int>(sections().size());
}

int filterViewController::numberOfRowsInSection(ui::TableView& /*table*/, int section) {
  switch (kindOf(section).value_or(SectionKind::kRows)) {
    case SectionKind::kDates:
      return datePickerRow_ ? 3 : 2;
    case SectionKind::kOptions:
      return 4;
    case SectionKind::kSegment:
    case SectionKind::kPicker:
      return 1;
    case SectionKind::kSelectAll:
      return model_.selectableRowCount() > 0 || !model_.isDetailed() ? 1 : 0;
    case SectionKind::kRows:
      return static_cast<int>(model_.selectableRowCount());
  }
  return 0;
}

std::optional<double> filterViewController::heightForRowAtIndexPath(ui::TableView& table,
                                                                    const IndexPath& path) {
  switch (kindOf(path.section).value_or(SectionKind::kRows)) {
    case SectionKind::kDates:
      return datePickerRow_ == path.row ? kPickerRowHeight : table.rowHeight();
    case SectionKind::kPicker:
      return kTypePickerRowHeight;
    default:
      return kRowHeight;
  }
}

std::optional<double> filterViewController::heightForHeaderInSection(ui::TableView& /*table*/, int section) {
  const int shifted = section - (reportMode() ? 1 : 0);
  const bool detailed = model_.isDetailed();
  // No gap right below the segment, nor between the select-all row and the rows it acts on.
  if (shifted == 2 || (!detailed && shifted == 3) || (detailed && shifted == 4)) return 0.0;
  return kHeaderHeight;
}

std::shared_ptr<ui::View> filterViewController::viewForHeaderInSection(ui::TableView& table, int section) {
  const double height = heightForHeaderInSection(table, section).value_or(kHeaderHeight);
  auto header = std::make_shared<ui::View>(graphics::Rect(0, 0, view()->bounds().width(), height));
  header->setBackgroundColor(graphics::Color::clear());
  return header;
}

void filterViewController::willDisplayCell(ui::TableView& /*table*/, ui::TableViewCell& cell,
                                           const IndexPath& /*path*/) {
  cell.setBackgroundColor(graphics::Color::clear());
}

// --- Cells

std::shared_ptr<ui::TableViewCell> filterViewController::dateCell(int row) {
  if (datePickerRow_ == row)
    return filterTable_->dequeueReusableCellWithIdentifier(datePickerCell::kIdentifier);
  auto cell = dequeue<filterDateCell>(*filterTable_);
  if (!cell) return nullptr;
  const bool begin = row == 0;
  cell->dateIDLable->setText(localized(begin ? "Begin" : "End"));
  cell->dateLable->setText(dateText(begin ? model_.beginDate() : model_.endDate()));
  cell->firstInSection = begin;
  cell->lastInSection = !begin && row == (datePickerRow_ ? 2 : 1);
  return cell;
}

std::shared_ptr<ui::TableViewCell> filterViewController::optionCell(int row) {
  auto& table = *filterTable_;
  if (row <= 1) {
    auto cell = dequeue<filterSwitchCell>(table);
    if (!cell) return nullptr;
    cell->mainLable->setText(localized(row == 0 ? "Show the time" : "From latest to earliest"));
    cell->mainSwitch->setOn(row == 0 ? model_.shouldUseTime() : model_.shouldDoWithDescending());
    cell->mainSwitch->removeAllActions();
    cell->mainSwitch->addTarget([this](ui::Control& sender) { cellSwitchChanged(sender); },
                                ui::kControlEventValueChanged);
    cell->firstInSection = row == 0;
    cell->lastInSection = false;
    return cell;
  }
  if (row == 2) {
    auto cell = dequeue<filterColorTypeCell>(table);
    if (!cell) return nullptr;
    cell->typeLable->setText(localized("Style"));
    cell->typeSegment->setTitleForSegmentAtIndex(localized("Light"), 0);
    cell->typeSegment->setTitleForSegmentAtIndex(localized("Colorful"), 1);
    cell->typeSegment->setSelectedSegmentIndex(model_.shouldReportForPrinting() ? 0 : 1);
    cell->typeSegment->removeAllActions();
    cell->typeSegment->addTarget([this](ui::Control& sender) { cellSegmentChanged(sender); },
                                 ui::kControlEventValueChanged);
    cell->firstInSection = false;
    cell->lastInSection = false;
    return cell;
  }
  auto cell = dequeue<filterPhotoCell>(table);
  if (!cell) return nullptr;
  cell->photoLable->setText(localized("Photos"));
  const char* titles[] = {"Not include", "Small", "Big"};
  for (int i = 0; i < 3; ++i) cell->photoSegment->setTitleForSegmentAtIndex(localized(titles[i]), i);
  cell->photoSegment->setSelectedSegmentIndex(static_cast<int>(model_.photosType()));
  cell->photoSegment->removeAllActions();
  cell->photoSegment->addTarget([this](ui::Control& sender) { cellSegmentChanged(sender); },
                                ui::kControlEventValueChanged);
  cell->firstInSection = false;
  cell->lastInSection = true;
  return cell;
}

std::shared_ptr<ui::TableViewCell> filterViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                               const IndexPath& path) {
  std::shared_ptr<ui::TableViewCell> result;
  switch (kindOf(path.section).value_or(SectionKind::kRows)) {
    case SectionKind::kDates:
      result = dateCell(path.row);
      break;
    case SectionKind::kOptions:
      result = optionCell(path.row);
      break;
    case SectionKind::kSegment: {
      auto cell = dequeue<filterSegmentCell>(table);
      if (!cell) break;
      cell->filterSegment->setTitleForSegmentAtIndex(localized("Basic Filter"), 0);
      cell->filterSegment->setTitleForSegmentAtIndex(localized("Detailed Filter"), 1);
      cell->filterSegment->setSelectedSegmentIndex(model_.isDetailed() ? 1 : 0);
      // Without a type that has sub-values the detailed filter would have nothing to pick.
      cell->filterSegment->setEnabled(model_.canUseDetailed());
      cell->filterSegment->removeAllActions();
      cell->filterSegment->addTarget([this](ui::Control& sender) { filterSegmentWasChanges(sender); },
                                     ui::kControlEventValueChanged);
      result = cell;
      break;
    }
    case SectionKind::kSelectAll: {
      auto cell = dequeue<filterSelectTypeCell>(table);
      if (!cell) break;
      cell->deselectButton->setTitle(localized("Unselect all"));
      cell->selectButton->setTitle(localized("Select all"));
      cell->deselectButton->removeAllActions();
      cell->selectButton->removeAllActions();
      cell->deselectButton->addTarget([this](ui::Control&) { deselectButtonClicked(); },
                                      ui::kControlEventTouchUpInside);
      cell->selectButton->addTarget([this](ui::Control&) { selectButtonClicked(); },
                                    ui::kControlEventTouchUpInside);
      result = cell;
      break;
    }
    case SectionKind::kPicker: {
      auto cell = dequeue<filterPickerCell>(table);
      if (!cell) break;
      auto& picker = *cell->filterPicker;
      picker.setDataSource(this);
      picker.setDelegate(this);
      picker.setShowsSelectionIndicator(false);
      picker.reloadAllComponents();
      picker.selectRow(static_cast<int>(model_.currentTypeNum()), 0, false);
      result = cell;
      break;
    }
    case SectionKind::kRows: {
      auto cell = dequeue<filterGroupCell>(table);
      if (!cell) break;
      const auto row = static_cast<std::size_t>(path.row);
      if (model_.isDetailed()) {
        auto values = model_.currentSubTypes();
        cell->typeLable->setText(row < values.size() ? values[row] : std::string());
      } else {
        auto types = model_.noteTypeArray();
        cell->typeLable->setText(row < types.size() ? localized(types[row]) : std::string());
      }
      cell->firstInSection = path.row == 0;
      cell->lastInSection = path.row + 1 == numberOfRowsInSection(table, path.section);
      cell->setSelectionTypeWithAnima(model_.isTicked(row), false);
      result = cell;
      break;
    }
  }
  if (result) result->setNeedsDisplay();
  return result;
}

// --- Taps

void filterViewController::didSelectRowAtIndexPath(ui::TableView& table, const IndexPath& path) {
  const auto kind = kindOf(path.section);
  if (kind == SectionKind::kDates) {
    if (datePickerRow_ != path.row) displayInlineDatePickerForRow(path.row);
    return;
  }
  table.deselectRowAtIndexPath(path, true);
  if (kind != SectionKind::kRows) return;
  const bool ticked = model_.flip(static_cast<std::size_t>(path.row));
  if (auto* cell = dynamic_cast<filterGroupCell*>(table.cellForRowAtIndexPath(path))) {
    cell->setSelectionTypeWithAnima(ticked, true);
  }
}

void filterViewController::selectButtonClicked() {
  model_.setAllSelected(true);
  filterTable_->reloadData();
}

void filterViewController::deselectButtonClicked() {
  model_.setAllSelected(false);
  filterTable_->reloadData();
}

void filterViewController::filterSegmentWasChanges(ui::Control& sender) {
  auto* segment = dynamic_cast<ui::SegmentedControl*>(&sender);
  if (!segment) return;
  model_.chooseDetailed(segment->selectedSegmentIndex() == 1);
  // Also when the model refused: the segment shows the filter in force again.
  filterTable_->reloadData();
}

std::optional<IndexPath> filterViewController::rowOfControl(ui::Control& sender,
                                                            bool fallBackToPicker) const {
  if (auto* cell = sender.ancestorOfType<ui::TableViewCell>()) {
    if (auto path = filterTable_->indexPathForCell(cell)) return path;
  }
  if (fallBackToPicker && datePickerRow_) return IndexPath{0, *datePickerRow_};
  return std::nullopt;
}

void filterViewController::cellSwitchChanged(ui::Control& sender) {
  auto* control = dynamic_cast<ui::Switch*>(&sender);
  auto path = rowOfControl(sender, false);
  if (!control || !path) return;
  if (path->row == 0) model_.setUseTime(control->isOn());
  if (path->row == 1) model_.setDescending(control->isOn());
}

void filterViewController::cellSegmentChanged(ui::Control& sender) {
  auto* segment = dynamic_cast<ui::SegmentedControl*>(&sender);
  auto path = rowOfControl(sender, false);
  if (!segment || !path) return;
  const int index = segment->selectedSegmentIndex();
  if (path->row == 2) model_.setForPrinting(index == 0);
  if (path->row == 3 && index >= 0 && index <= 2) model_.setPhotosType(static_cast<FilterPhotos>(index));
}

// --- Inline date picker

void filterViewController::displayInlineDatePickerForRow(int row) {
  auto& table = *filterTable_;
  table.beginUpdates();
  const bool above = datePickerRow_ && *datePickerRow_ < row;
  const bool same = datePickerRow_ && *datePickerRow_ == row + 1;
  if (datePickerRow_) {
    table.deleteRowsAtIndexPaths({{0, *datePickerRow_}}, ui::RowAnimation::kFade);
    datePickerRow_.reset();
  }
  if (!same) {
    const int revealed = above ? row - 1 : row;
    datePickerRow_ = revealed + 1;
    table.insertRowsAtIndexPaths({{0, *datePickerRow_}}, ui::RowAnimation::kFade);
  }
  table.deselectRowAtIndexPath({0, row}, true);
  table.endUpdates();
  updateDatePicker();
}

void filterViewController::updateDatePicker() {
  if (!datePickerRow_) return;
  auto* cell = filterTable_->cellForRowAtIndexPath({0, *datePickerRow_});
  if (!cell || cell->reuseIdentifier() != datePickerCell::kIdentifier) return;
  auto* picker = dynamic_cast<ui::DatePicker*>(cell->viewWithTag(datePickerCell::kPickerTag));
  if (!picker) return;
  picker->setLocale(dateFormatter_.locale());
  auto date = *datePickerRow_ == 1 ? model_.beginDate() : model_.endDate();
  if (date) picker->setDate(*date, false);
}

void filterViewController::dateAction(ui::Control& sender) {
  auto* picker = dynamic_cast<ui::DatePicker*>(&sender);
  auto path = rowOfControl(sender, true);
  if (!picker || !path) return;
  if (path->row == 1) {
    model_.setBeginDate(picker->date());
  } else {
    model_.setEndDate(picker->date());
  }
  if (auto* cell = dynamic_cast<filterDateCell*>(filterTable_->cellForRowAtIndexPath({0, path->row - 1}))) {
    cell->dateLable->setText(dateText(path->row == 1 ? model_.beginDate() : model_.endDate()));
  }
}

// --- Type picker

int filterViewController::numberOfComponentsInPickerView(ui::PickerView& /*picker*/) { return 1; }

int filterViewController::numberOfRowsInComponent(ui::PickerView& /*picker*/, int /*component*/) {
  return static_cast<int>(model_.noteTypeWithSubArray().size());
}

std::optional<double> filterViewController::widthForComponent(ui::PickerView& /*picker*/, int /*component*/) {
  return 320.0;
}

std::optional<double> filterViewController::rowHeightForComponent(ui::PickerView& /*picker*/,
                                                                  int /*component*/) {
  return 32.0;
}

std::shared_ptr<ui::View> filterViewController::viewForRow(ui::PickerView& /*picker*/, int row,
                                                           int /*component*/,
                                                           std::shared_ptr<ui::View> reusing) {
  auto types = model_.noteTypeWithSubArray();
  auto label = std::make_shared<ui::Label>(reusing ? reusing->bounds() : graphics::Rect(0, 0, 320, 32));
  label->setOpaque(true);
  label->setBackgroundColor(graphics::Color::clear());
  label->setTextColor(graphics::Color(64 / 255.0, 66 / 255.0, 87 / 255.0, 1));
  label->setFont(graphics::Font::fontWithNameSize("AvenirNext-Regular", 24)
                     .value_or(graphics::Font::systemFontOfSize(24)));
  label->setTextAlignment(graphics::TextAlignment::kCenter);
  label->setAdjustsFontSizeToFitWidth(true);
  label->setMinimumScaleFactor(0.6);
  if (row >= 0 && static_cast<std::size_t>(row) < types.size())
    label->setText(localized(types[static_cast<std::size_t>(row)]));
  return label;
}

void filterViewController::didSelectRow(ui::PickerView& /*picker*/, int row, int /*component*/) {
  if (row < 0) return;
  model_.pickType(static_cast<std::size_t>(row));
  filterTable_->reloadData();
}

}  // namespace notes_list
