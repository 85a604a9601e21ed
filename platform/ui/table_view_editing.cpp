#include "platform/ui/table_view.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/text_measure.h"
#include "platform/ui/gesture.h"
#include "platform/ui/platform_texts.h"

namespace ui {

namespace {

// How far a touch moves before it is a drag rather than a tap on a row.
constexpr double kScrollSlop = 10;

// A finger drawn to the left across a row: the swipe that offers the row's Delete button. It lets
// go of any other drag at once (up and down scroll; to the right belongs to a side menu).
class RowSwipe : public PanGestureRecognizer {
 public:
  explicit RowSwipe(TableView& table) : table_(table) {}

  void touchesBegan(const TouchSet& touches) override {
    PanGestureRecognizer::touchesBegan(touches);
    row_.reset();
    if (touches.empty() || table_.isEditing() || !table_.dataSource()) return fail();
    start_ = touches.front().locationInView(&table_);
    row_ = table_.indexPathForRowAtPoint(start_);
    if (!row_ || pushedAside()) fail();
  }

  void touchesMoved(const TouchSet& touches) override {
    if (touches.empty()) return;
    const Point at = touches.front().locationInView(&table_);
    const double dx = at.x - start_.x, dy = at.y - start_.y;
    if (state() == GestureState::kPossible && std::hypot(dx, dy) > kScrollSlop &&
        (dx >= 0 || std::fabs(dx) < std::fabs(dy))) {
      fail();
      return;
    }
    PanGestureRecognizer::touchesMoved(touches);
  }

  void touchesEnded(const TouchSet& touches) override {
    PanGestureRecognizer::touchesEnded(touches);
    if (state() == GestureState::kEnded && row_) table_.swipeToDeleteRowAtIndexPath(*row_);
  }

 private:
  // A list slid partly off the screen (a side menu open beside it) leaves the drag to what slid it.
  bool pushedAside() const {
    const View* root = &table_;
    while (root->superview()) root = root->superview();
    const Rect shown = table_.convertRectToView(table_.bounds(), nullptr);
    return shown.minX() < -0.5 || shown.maxX() > root->bounds().width() + 0.5;
  }

  TableView& table_;
  Point start_;
  std::optional<IndexPath> row_;
};

}  // namespace

void TableView::installRowSwipe() { addGestureRecognizer(std::make_shared<RowSwipe>(*this)); }

// What a person does to rows: selecting, editing, the delete button, moving, and touches.

void TableView::selectRowAtIndexPath(std::optional<IndexPath> path, bool /*animated*/,
                                     ScrollPosition position) {
  if (selected_) {
    if (TableViewCell* old = cellForRowAtIndexPath(*selected_)) old->setSelected(false, false);
  }
  selected_.reset();
  if (!path || !isValid(*path)) return;
  selected_ = path;
  if (position != ScrollPosition::kNone) scrollToRowAtIndexPath(*path, position);
  if (TableViewCell* cell = cellForRowAtIndexPath(*path)) cell->setSelected(true, false);
}

void TableView::deselectRowAtIndexPath(const IndexPath& path, bool /*animated*/) {
  if (selected_ != path) return;
  selected_.reset();
  if (TableViewCell* cell = cellForRowAtIndexPath(path)) cell->setSelected(false, false);
}

bool TableView::tapRowAtIndexPath(const IndexPath& path) {
  if (!loaded_) tile();
  if (!isValid(path)) return false;
  if (deleteConfirmation_) {
    // The first tap only closes the delete button.
    hideDeleteConfirmation();
    return false;
  }
  if (editing_ ? !allowsSelectionDuringEditing_ : !allowsSelection_) return false;
  std::optional<IndexPath> target = delegate_ ? delegate_->willSelectRowAtIndexPath(*this, path) : path;
  if (!target || !isValid(*target)) return false;
  if (selected_ && *selected_ != *target) {
    IndexPath old = *selected_;
    deselectRowAtIndexPath(old, false);
    if (delegate_) delegate_->didDeselectRowAtIndexPath(*this, old);
  }
  selected_ = target;
  if (TableViewCell* cell = cellForRowAtIndexPath(*target)) cell->setSelected(true, false);
  if (delegate_) delegate_->didSelectRowAtIndexPath(*this, *target);
  return true;
}

void TableView::setEditing(bool editing, bool animated) {
  hideDeleteConfirmation();
  if (!editing) endReorder(false);
  editing_ = editing;
  for (auto& [path, cell] : visible_) {
    cell->setEditing(editing, animated);
    configureEditingControls(*cell, path);
  }
}

namespace {

// What a row shows a person: its first label with a text (the editing controls are named by it).
std::string shownText(View& view) {
  if (view.isHidden()) return {};
  if (auto* label = dynamic_cast<Label*>(&view); label && !label->text().empty()) return label->text();
  for (auto& sub : view.subviews())
    if (std::string text = shownText(*sub); !text.empty()) return text;
  return {};
}

}  // namespace

void TableView::configureEditingControls(TableViewCell& cell, const IndexPath& path) {
  CellEditingStyle style = CellEditingStyle::kNone;
  bool movable = false;
  if (editing_ && dataSource_ && isValid(path)) {
    if (dataSource_->canEditRowAtIndexPath(*this, path))
      style = delegate_ ? delegate_->editingStyleForRowAtIndexPath(*this, path) : CellEditingStyle::kDelete;
    movable = dataSource_->canMoveRowAtIndexPath(*this, path);
  }
  cell.showEditingControls(style, movable,
                           style == CellEditingStyle::kNone && !movable ? "" : shownText(cell.contentView()));
  cell.layoutIfNeeded();
}

void TableView::hideDeleteConfirmation() {
  if (!deleteConfirmation_) return;
  IndexPath path = *deleteConfirmation_;
  deleteConfirmation_.reset();
  if (TableViewCell* cell = cellForRowAtIndexPath(path)) cell->showsDeleteConfirmation_ = false;
  placeDeleteButton();
}

void TableView::showDeleteConfirmation(const IndexPath& path) {
  hideDeleteConfirmation();
  deleteConfirmation_ = path;
  if (TableViewCell* cell = cellForRowAtIndexPath(path)) cell->showsDeleteConfirmation_ = true;
  placeDeleteButton();
}

void TableView::placeDeleteButton() {
  TableViewCell* cell = deleteConfirmation_ ? cellForRowAtIndexPath(*deleteConfirmation_) : nullptr;
  if (!cell) {
    if (deleteButton_ && deleteButton_->superview()) deleteButton_->removeFromSuperview();
    return;
  }
  if (!deleteButton_) {
    deleteButton_ = std::make_shared<Button>();
    deleteButton_->setBackgroundColor(Color::rgb255(255, 59, 48));
    deleteButton_->setTitleColor(Color::white());
    deleteButton_->setTitleFont(Font::systemFontOfSize(17));
    std::weak_ptr<View> weak = weak_from_this();
    deleteButton_->addTarget(
        [weak, this](Control&) {
          if (auto keep = weak.lock()) tapDeleteConfirmationButton();
        },
        kControlEventTouchUpInside);
  }
  const std::string title = deleteConfirmationButtonTitle();
  deleteButton_->setTitle(title);
  // As wide as its title needs, never narrower than a finger.
  const double width =
      std::max(82.0, graphics::defaultTextMeasurer()->sizeOf(title, deleteButton_->titleFont()).width + 30);
  const Rect b = cell->bounds();
  deleteButton_->setFrame(Rect(b.width() - width, 0, width, b.height()));
  if (deleteButton_->superview() != cell) cell->addSubview(deleteButton_);
  cell->bringSubviewToFront(deleteButton_.get());
}

bool TableView::swipeToDeleteRowAtIndexPath(const IndexPath& path) {
  if (!loaded_) tile();
  if (editing_ || !isValid(path) || !dataSource_) return false;
  if (!dataSource_->canEditRowAtIndexPath(*this, path)) return false;
  CellEditingStyle style =
      delegate_ ? delegate_->editingStyleForRowAtIndexPath(*this, path) : CellEditingStyle::kDelete;
  if (style != CellEditingStyle::kDelete) return false;
  showDeleteConfirmation(path);
  if (delegate_) delegate_->willBeginEditingRowAtIndexPath(*this, path);
  return true;
}

bool TableView::tapEditingControlAtIndexPath(const IndexPath& path) {
  if (!editing_ || !isValid(path) || !dataSource_) return false;
  if (!dataSource_->canEditRowAtIndexPath(*this, path)) return false;
  CellEditingStyle style =
      delegate_ ? delegate_->editingStyleForRowAtIndexPath(*this, path) : CellEditingStyle::kDelete;
  switch (style) {
    case CellEditingStyle::kDelete:
      showDeleteConfirmation(path);
      return true;
    case CellEditingStyle::kInsert:
      dataSource_->commitEditingStyle(*this, CellEditingStyle::kInsert, path);
      return true;
    case CellEditingStyle::kNone:
      break;
  }
  return false;
}

std::string TableView::deleteConfirmationButtonTitle() const {
  if (!deleteConfirmation_) return {};
  if (delegate_)
    return delegate_->titleForDeleteConfirmationButton(const_cast<TableView&>(*this), *deleteConfirmation_);
  return platformText("Delete");
}

bool TableView::tapDeleteConfirmationButton() {
  if (!deleteConfirmation_ || !dataSource_) return false;
  IndexPath path = *deleteConfirmation_;
  hideDeleteConfirmation();
  auto keep = weak_from_this().lock();
  dataSource_->commitEditingStyle(*this, CellEditingStyle::kDelete, path);
  if (!editing_ && delegate_) delegate_->didEndEditingRowAtIndexPath(*this, path);
  return true;
}

bool TableView::moveRowByUser(const IndexPath& from, const IndexPath& to) {
  if (!editing_ || !isValid(from) || !dataSource_) return false;
  if (!dataSource_->canMoveRowAtIndexPath(*this, from)) return false;
  if (to.section < 0 || to.section >= numberOfSections() || to.row < 0) return false;
  int limit = sections_[to.section].rows - (to.section == from.section ? 1 : 0);
  IndexPath proposed{to.section, std::min(to.row, limit)};
  IndexPath target = delegate_ ? delegate_->targetIndexPathForMove(*this, from, proposed) : proposed;
  if (target.section < 0 || target.section >= numberOfSections()) return false;
  if (target == from) return false;
  auto keep = weak_from_this().lock();
  unsigned before = reloads_;
  dataSource_->moveRowAtIndexPath(*this, from, target);
  // A source that reloaded the table has shown the new order already.
  if (reloads_ == before) moveRowAtIndexPath(from, target);
  return true;
}

std::optional<IndexPath> TableView::dropPlaceFor(const Rect& carried, const IndexPath& from) const {
  // The section whose rows lie nearest the carried row's middle.
  const double y = carried.midY();
  std::optional<int> section;
  double best = 0;
  for (int s = 0; s < numberOfSections(); ++s) {
    if (sections_[s].rows == 0) continue;
    const double top = rectForRowAtIndexPath(IndexPath{s, 0}).minY();
    const double bottom = rectForRowAtIndexPath(IndexPath{s, sections_[s].rows - 1}).maxY();
    const double away = y < top ? top - y : y > bottom ? y - bottom : 0;
    if (!section || away < best) {
      section = s;
      best = away;
    }
  }
  if (!section) return std::nullopt;
  // Its place among the other rows. Carried up, it passes a row once its top edge is above that
  // row's middle; carried down, once its bottom edge is below it. Comparing middles instead would
  // never let it pass the first row: the carried row stops at the list's top edge, where its middle
  // is the first row's middle.
  int row = 0;
  for (int r = 0; r < sections_[*section].rows; ++r) {
    const IndexPath other{*section, r};
    if (other == from) continue;
    const double middle = rectForRowAtIndexPath(other).midY();
    const bool above = other < from;
    if (above ? middle <= carried.minY() : middle < carried.maxY()) ++row;
  }
  return IndexPath{*section, row};
}

bool TableView::beginReorder(TableViewCell& cell, Point finger) {
  endReorder(false);
  auto path = indexPathForCell(&cell);
  if (!editing_ || !path || !dataSource_ || !dataSource_->canMoveRowAtIndexPath(*this, *path)) return false;
  hideDeleteConfirmation();
  reorder_ = Reorder{*path, std::static_pointer_cast<TableViewCell>(cell.shared_from_this()),
                     finger.y - cell.frame().y(), contentOffset().y};
  // Carried above the other rows.
  bringSubviewToFront(&cell);
  return true;
}

void TableView::followReorder(Point finger) {
  if (!reorder_) return;
  auto cell = reorder_->cell.lock();
  if (!cell) return;
  // Past the edge in sight the list moves on, never back, as far as the finger went past it.
  const double height = bounds().height();
  const double shown = finger.y - contentOffset().y;
  const double lowest = maximumContentOffset().y;
  double offset = contentOffset().y;
  if (shown > height) offset = std::max(offset, std::min(lowest, reorder_->startOffset + shown - height));
  if (shown < 0) offset = std::min(offset, std::max(0.0, reorder_->startOffset + shown));
  if (offset != contentOffset().y) setContentOffset(Point(contentOffset().x, offset));
  const Rect f = cell->frame();
  const double top = std::clamp(finger.y - reorder_->grip, offset, std::max(offset, offset + height - f.height()));
  cell->setFrame(Rect(f.x(), top, f.width(), f.height()));
}

std::optional<IndexPath> TableView::reorderingIndexPath() const {
  if (!reorder_) return std::nullopt;
  return reorder_->from;
}

void TableView::endReorder(bool drop) {
  if (!reorder_) return;
  const Reorder carried = *reorder_;
  reorder_.reset();
  auto cell = carried.cell.lock();
  std::optional<IndexPath> to = cell && drop ? dropPlaceFor(cell->frame(), carried.from) : std::nullopt;
  auto keep = weak_from_this().lock();
  // The row goes where it was carried; a row dropped where it began, or not let go, goes back.
  if (!to || !moveRowByUser(carried.from, *to)) tile();
}

// Scrolling is the scroll view's pan (it cancels the touch once it takes it); here a touch that
// stayed put is a tap on its row, and one that moved further is nothing.
void TableView::touchesBegan(const TouchSet& touches) {
  if (touches.empty()) return;
  touchStart_ = touches.front().location;
  touchMoved_ = false;
}

void TableView::touchesMoved(const TouchSet& touches) {
  if (touches.empty() || !touchStart_) return;
  const Point at = touches.front().location;
  if (std::hypot(at.x - touchStart_->x, at.y - touchStart_->y) > kScrollSlop) touchMoved_ = true;
}

void TableView::touchesEnded(const TouchSet& touches) {
  const bool tapped = touchStart_ && !touchMoved_;
  touchStart_.reset();
  touchMoved_ = false;
  if (!tapped || touches.empty()) return;
  Point p = touches.front().locationInView(this);
  if (auto path = indexPathForRowAtPoint(p)) {
    tapRowAtIndexPath(*path);
  } else {
    hideDeleteConfirmation();
  }
}

void TableView::touchesCancelled(const TouchSet& /*touches*/) {
  touchStart_.reset();
  touchMoved_ = false;
}

}  // namespace ui
