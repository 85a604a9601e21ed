#include "navigation/type_order_editor.h"

#include "app/flat_widgets.h"
#include "platform/foundation/log.h"
#include "platform/ui/alert.h"
#include "platform/ui/animation.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"

namespace navigation {

// ---------------------------------------------------------------------------------------------
// noteTypeListEditCell

noteTypeListEditCell::noteTypeListEditCell()
    : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier),
      typeImg(std::make_shared<ui::ImageView>()),
      typeId(std::make_shared<ui::Label>()) {
  contentView().addSubview(typeImg);
  contentView().addSubview(typeId);
}

void noteTypeListEditCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  // Within the content, which leaves the row's right edge to its reorder control.
  const auto b = contentView().bounds();
  typeImg->setFrame(graphics::Rect(10, (b.height() - 44) / 2, 44, 44));
  typeId->setFrame(graphics::Rect(63, 0, std::max(0.0, b.width() - 63), b.height()));
}

void noteTypeListEditCell::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  const auto b = bounds();
  const double w = b.width();
  const double h = b.height();
  canvas.setFillColor(graphics::Color::white());
  canvas.fillRect(b);
  canvas.setStrokeColor(app::flatHairlineColor());
  if (firstCell) canvas.strokeLine(graphics::Point(0, 0), graphics::Point(w, 0));
  // Indented past the icon except under the last row.
  canvas.strokeLine(graphics::Point(lastCell ? 0 : 63, h), graphics::Point(w, h));
}

// ---------------------------------------------------------------------------------------------
// noteTypeListEditController

noteTypeListEditController::noteTypeListEditController(ChooserServices services)
    : services_(std::move(services)), helper_(services_.helper()) {}

void noteTypeListEditController::viewDidLoad() {
  typeMutArray_ = helper_.getTypeIds("userList");
  tableView().registerCell(noteTypeListEditCell::kIdentifier,
                           [] { return std::make_shared<noteTypeListEditCell>(); });
  tableView().setSeparatorStyle(ui::SeparatorStyle::kNone);
  tableView().setDataSource(this);
  tableView().setDelegate(this);
  setEditing(true, false);
  // The flat back button: a back button titled with the chooser's name would be cut in the longer
  // languages. The order is saved as the screen goes, whichever way it goes.
  navigationItem().setLeftBarButtonItem(app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] {
    if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
  }));
  playBadgeStep();
}

void noteTypeListEditController::playBadgeStep() {
  if (services_.tutorial() != 3 || !services_.setTutorialState) return;
  if (auto status = services_.setTutorialState(4); !status.ok())
    foundation::log("The tutorial step could not be stored: " + status.error().description());
  auto image = ui::imageNamed("iPhone_badge_no_letter");
  if (!image) return;
  const double w = tableView().frame().width();
  const bool pad = ui::device().isPad();
  const double x1 = pad ? 492 : w - 48;
  const double y1 = 154;
  badge_ = std::make_shared<ui::ImageView>(image);
  badge_->setFrame(graphics::Rect(pad ? 503 : w - 37, 165, 22, 22));
  badge_->setAlpha(0);
  view()->addSubview(badge_);
  // Each step starts when the one before completes; the badge grows, rises and fades out.
  auto badge = badge_;
  ui::animate(
      0.6, [badge] { badge->setAlpha(0.005); },
      [badge, x1, y1](bool) {
        ui::animate(
            0.5,
            [badge, x1, y1] {
              badge->setAlpha(0.99);
              badge->setFrame(graphics::Rect(x1, y1, 44, 44));
            },
            [badge, x1, y1](bool) {
              ui::animate(
                  0.4, [badge] { badge->setAlpha(1.0); },
                  [badge, x1, y1](bool) {
                    ui::animate(
                        0.9, [badge, x1, y1] { badge->setFrame(graphics::Rect(x1, y1 - 88 - 12, 44, 44)); },
                        [badge](bool) { ui::animate(0.6, [badge] { badge->setAlpha(0); }); });
                  });
            });
      });
}

int noteTypeListEditController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(typeMutArray_.size());
}

std::shared_ptr<ui::TableViewCell> noteTypeListEditController::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<noteTypeListEditCell>(
      table.dequeueReusableCellWithIdentifier(noteTypeListEditCell::kIdentifier));
  if (!cell || path.row < 0 || static_cast<size_t>(path.row) >= typeMutArray_.size()) return cell;
  const std::string& key = typeMutArray_[static_cast<size_t>(path.row)];
  cell->firstCell = path.row == 0;
  cell->lastCell = static_cast<size_t>(path.row) + 1 == typeMutArray_.size();
  cell->typeId->setText(services_.localized(key));
  auto icon = helper_.getIconPath(key);
  cell->typeImg->setImage(icon ? ui::imageNamed(*icon) : nullptr);
  cell->setNeedsDisplay();
  return cell;
}

void noteTypeListEditController::moveRowAtIndexPath(ui::TableView& table, const ui::IndexPath& from,
                                                    const ui::IndexPath& to) {
  if (from.row == to.row || from.row < 0 || static_cast<size_t>(from.row) >= typeMutArray_.size() ||
      to.row < 0)
    return;
  std::string key = std::move(typeMutArray_[static_cast<size_t>(from.row)]);
  typeMutArray_.erase(typeMutArray_.begin() + from.row);
  const size_t place = std::min(static_cast<size_t>(to.row), typeMutArray_.size());
  typeMutArray_.insert(typeMutArray_.begin() + static_cast<std::ptrdiff_t>(place), std::move(key));
  table.reloadData();
}

void noteTypeListEditController::willDisplayCell(ui::TableView& /*table*/, ui::TableViewCell& cell,
                                                 const ui::IndexPath& /*path*/) {
  cell.setBackgroundColor(graphics::Color::clear());
}

foundation::Status noteTypeListEditController::saveListSettings() {
  if (typeMutArray_.empty()) return {};
  auto status = helper_.saveNewTypeList(typeMutArray_);
  if (!status.ok()) {
    foundation::log("The order of the note types could not be saved: " + status.error().description());
    ui::AlertView::create(services_.localized("The order could not be saved."), "", nullptr,
                          services_.localized("OK"))
        ->show();
  }
  return status;
}

void noteTypeListEditController::viewWillDisappear(bool animated) {
  ui::TableViewController::viewWillDisappear(animated);
  (void)saveListSettings();
}

void noteTypeListEditController::typeListSwitchChanged() { tableView().reloadData(); }

void noteTypeListEditController::done() {
  (void)saveListSettings();
  if (noteView_delegate_) noteView_delegate_->noteViewChildDone(*this, true);
}

}  // namespace navigation
