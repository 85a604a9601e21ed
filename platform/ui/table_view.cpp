#include "platform/ui/table_view.h"

#include <algorithm>

#include "platform/foundation/log.h"

namespace ui {

namespace {

std::string describe(const IndexPath& p) {
  return "section " + std::to_string(p.section) + ", row " + std::to_string(p.row);
}

}  // namespace

// The table's structure (sections, heights, geometry), tiling the rows that show, and reloading.

// ---------------------------------------------------------------------------------------- TableView


TableView::TableView(const Rect& frame, TableViewStyle style)
    : ScrollView(frame),
      style_(style),
      headerHeight_(style == TableViewStyle::kPlain ? 22 : 35),
      footerHeight_(style == TableViewStyle::kPlain ? 22 : 10) {
  setBackgroundColor(style == TableViewStyle::kPlain ? Color::white() : Color::rgb255(239, 239, 244));
  setClipsToBounds(true);
  installRowSwipe();
}

void TableView::setTableHeaderView(std::shared_ptr<View> view) {
  if (tableHeader_ && tableHeader_->superview() == this) tableHeader_->removeFromSuperview();
  tableHeader_ = std::move(view);
  if (tableHeader_) addSubview(tableHeader_);
  relayoutOffsets();
  tile();
}

void TableView::setTableFooterView(std::shared_ptr<View> view) {
  if (tableFooter_ && tableFooter_->superview() == this) tableFooter_->removeFromSuperview();
  tableFooter_ = std::move(view);
  if (tableFooter_) addSubview(tableFooter_);
  tile();
}

void TableView::registerCell(std::string identifier, CellFactory factory) {
  factories_[std::move(identifier)] = std::move(factory);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  auto pool = reusePool_.find(identifier);
  if (pool != reusePool_.end() && !pool->second.empty()) {
    std::shared_ptr<TableViewCell> cell = pool->second.back();
    pool->second.pop_back();
    cell->prepareForReuse();
    return cell;
  }
  auto factory = factories_.find(identifier);
  if (factory == factories_.end() || !factory->second) return nullptr;
  std::shared_ptr<TableViewCell> cell = factory->second();
  if (cell && cell->reuseIdentifier_.empty()) cell->reuseIdentifier_ = identifier;
  return cell;
}

void TableView::enqueue(const std::shared_ptr<TableViewCell>& cell) {
  if (!cell) return;
  if (cell->superview() == this) cell->removeFromSuperview();
  cell->selected_ = false;
  cell->highlighted_ = false;
  cell->showsDeleteConfirmation_ = false;
  if (cell->reuseIdentifier().empty()) return;
  auto& pool = reusePool_[cell->reuseIdentifier()];
  if (std::find(pool.begin(), pool.end(), cell) == pool.end()) pool.push_back(cell);
}

int TableView::numberOfRowsInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return sections_[section].rows;
}

bool TableView::isValid(const IndexPath& p) const {
  return p.section >= 0 && p.section < numberOfSections() && p.row >= 0 && p.row < sections_[p.section].rows;
}

void TableView::computeSection(int s, double& y) {
  Section& sec = sections_[s];
  sec.rows = std::max(0, dataSource_->numberOfRowsInSection(*this, s));
  sec.top = y;
  sec.header.reset();
  sec.footer.reset();
  sec.headerAsked = false;
  sec.footerAsked = false;
  std::optional<double> header = delegate_ ? delegate_->heightForHeaderInSection(*this, s) : std::nullopt;
  if (header) {
    sec.headerHeight = std::max(0.0, *header);
  } else {
    sec.headerHeight = headerFor(s) ? headerHeight_ : (style_ == TableViewStyle::kGrouped ? 10 : 0);
  }
  sec.rowHeights.assign(static_cast<size_t>(sec.rows), rowHeight_);
  if (delegate_) {
    for (int r = 0; r < sec.rows; ++r) {
      if (auto h = delegate_->heightForRowAtIndexPath(*this, IndexPath{s, r}))
        sec.rowHeights[r] = std::max(0.0, *h);
    }
  }
  std::optional<double> footer = delegate_ ? delegate_->heightForFooterInSection(*this, s) : std::nullopt;
  if (footer) {
    sec.footerHeight = std::max(0.0, *footer);
  } else {
    sec.footerHeight = footerFor(s) ? footerHeight_ : (style_ == TableViewStyle::kGrouped ? 10 : 0);
  }
  y += sec.headerHeight + sec.footerHeight;
  for (double h : sec.rowHeights) y += h;
}

void TableView::loadStructure() {
  sections_.clear();
  loaded_ = true;
  if (!dataSource_) return;
  int n = std::max(0, dataSource_->numberOfSectionsInTableView(*this));
  sections_.resize(static_cast<size_t>(n));
  double y = tableHeader_ ? tableHeader_->frame().height() : 0;
  for (int s = 0; s < n; ++s) computeSection(s, y);
}

void TableView::relayoutOffsets() {
  double y = tableHeader_ ? tableHeader_->frame().height() : 0;
  for (auto& sec : sections_) {
    sec.top = y;
    y += sec.headerHeight + sec.footerHeight;
    for (double h : sec.rowHeights) y += h;
  }
}

std::shared_ptr<View> TableView::headerFor(int section) {
  Section& sec = sections_[section];
  if (!sec.headerAsked) {
    sec.headerAsked = true;
    sec.header = delegate_ ? delegate_->viewForHeaderInSection(*this, section) : nullptr;
    if (!sec.header && dataSource_) {
      if (auto title = dataSource_->titleForHeaderInSection(*this, section)) {
        auto box = std::make_shared<View>(Rect(0, 0, bounds().width(), headerHeight_));
        box->setBackgroundColor(Color::white(0.97));
        auto label =
            std::make_shared<Label>(Rect(15, 0, std::max(0.0, bounds().width() - 30), headerHeight_));
        label->setText(*title);
        label->setFont(Font::boldSystemFontOfSize(14));
        label->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        box->addSubview(label);
        sec.header = box;
      }
    }
  }
  return sec.header;
}

std::shared_ptr<View> TableView::footerFor(int section) {
  Section& sec = sections_[section];
  if (!sec.footerAsked) {
    sec.footerAsked = true;
    sec.footer = delegate_ ? delegate_->viewForFooterInSection(*this, section) : nullptr;
  }
  return sec.footer;
}

Rect TableView::rectForHeaderInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return Rect();
  const Section& sec = sections_[section];
  return Rect(0, sec.top, bounds().width(), sec.headerHeight);
}

Rect TableView::rectForFooterInSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return Rect();
  const Section& sec = sections_[section];
  double y = sec.top + sec.headerHeight;
  for (double h : sec.rowHeights) y += h;
  return Rect(0, y, bounds().width(), sec.footerHeight);
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& path) const {
  if (!isValid(path)) return Rect();
  const Section& sec = sections_[path.section];
  double y = sec.top + sec.headerHeight;
  for (int r = 0; r < path.row; ++r) y += sec.rowHeights[r];
  return Rect(0, y, bounds().width(), sec.rowHeights[path.row]);
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point point) const {
  for (int s = 0; s < numberOfSections(); ++s) {
    const Section& sec = sections_[s];
    double y = sec.top + sec.headerHeight;
    for (int r = 0; r < sec.rows; ++r) {
      double h = sec.rowHeights[r];
      if (point.y >= y && point.y < y + h) return IndexPath{s, r};
      y += h;
    }
  }
  return std::nullopt;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) const {
  for (const auto& [path, c] : visible_) {
    if (c.get() == cell) return path;
  }
  return std::nullopt;
}

Size TableView::contentSize() const {
  double h = tableHeader_ ? tableHeader_->frame().height() : 0;
  if (!sections_.empty()) {
    Rect last = rectForFooterInSection(numberOfSections() - 1);
    h = last.maxY();
  }
  if (tableFooter_) h += tableFooter_->frame().height();
  return Size(bounds().width(), h);
}

void TableView::scrollToRowAtIndexPath(const IndexPath& path, ScrollPosition position, bool animated) {
  if (!loaded_ && dataSource_) loadStructure();
  if (!isValid(path)) return;
  Rect row = rectForRowAtIndexPath(path);
  double h = bounds().height();
  double y = contentOffset().y;
  switch (position) {
    case ScrollPosition::kTop:
      y = row.y();
      break;
    case ScrollPosition::kMiddle:
      y = row.midY() - h / 2;
      break;
    case ScrollPosition::kBottom:
      y = row.maxY() - h;
      break;
    case ScrollPosition::kNone:
      if (row.y() < y) {
        y = row.y();
      } else if (row.maxY() > y + h) {
        y = row.maxY() - h;
      }
      break;
  }
  y = std::clamp(y, 0.0, std::max(0.0, contentSize().height - h));
  setContentOffset(Point(contentOffset().x, y), animated);
}

TableViewCell* TableView::cellForRowAtIndexPath(const IndexPath& path) const {
  auto it = visible_.find(path);
  return it == visible_.end() ? nullptr : it->second.get();
}

std::vector<TableViewCell*> TableView::visibleCells() const {
  std::vector<TableViewCell*> out;
  for (const auto& entry : visible_) out.push_back(entry.second.get());
  return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() const {
  std::vector<IndexPath> out;
  for (const auto& entry : visible_) out.push_back(entry.first);
  return out;
}

View* TableView::headerViewForSection(int section) const {
  auto it = visibleHeaders_.find(section);
  return it == visibleHeaders_.end() ? nullptr : it->second.get();
}

View* TableView::footerViewForSection(int section) const {
  auto it = visibleFooters_.find(section);
  return it == visibleFooters_.end() ? nullptr : it->second.get();
}

// Tiling puts on screen exactly the rows, headers and footers that overlap the visible rect:
// cells that stay keep their place, cells that leave go to the reuse pool, new ones come from the
// data source. The delegate hears of new cells only once the table is consistent again.
void TableView::tile() {
  if (!loaded_) {
    if (!dataSource_) return;
    loadStructure();
  }
  if (tiling_) return;
  tiling_ = true;
  const Rect visibleRect = bounds();
  std::map<IndexPath, std::shared_ptr<TableViewCell>> next = keepCellsOnScreen(visibleRect);
  std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>> shown;
  placeRows(visibleRect, next, shown);
  visible_ = std::move(next);
  placeSupplementaryViews(visibleRect, visibleHeaders_, true);
  placeSupplementaryViews(visibleRect, visibleFooters_, false);
  placeTableHeaderAndFooter();
  placeDeleteButton();
  tiling_ = false;
  announceShownCells(shown);
}

bool TableView::overlaps(const Rect& visibleRect, const Rect& rect) {
  return rect.height() > 0 && rect.maxY() > visibleRect.minY() && rect.minY() < visibleRect.maxY();
}

std::map<IndexPath, std::shared_ptr<TableViewCell>> TableView::keepCellsOnScreen(const Rect& visibleRect) {
  std::map<IndexPath, std::shared_ptr<TableViewCell>> kept;
  auto carried = reorder_ ? reorder_->cell.lock() : nullptr;
  for (auto& [path, cell] : visible_) {
    // A carried row stays with the finger while the list moves on under it.
    if (isValid(path) && (cell == carried || overlaps(visibleRect, rectForRowAtIndexPath(path)))) {
      kept[path] = cell;
    } else {
      enqueue(cell);
    }
  }
  return kept;
}

std::shared_ptr<TableViewCell> TableView::newCellFor(
    const IndexPath& path, std::map<IndexPath, std::shared_ptr<TableViewCell>>& next) {
  std::shared_ptr<TableViewCell> cell =
      dataSource_ ? dataSource_->cellForRowAtIndexPath(*this, path) : nullptr;
  if (!cell) {
    foundation::log("The table's data source gave no cell for " + describe(path));
    cell = std::make_shared<TableViewCell>();
  }
  // A cell handed out again while it still waited for reuse leaves the pool, and one handed out
  // again for another row leaves that row.
  auto& pool = reusePool_[cell->reuseIdentifier()];
  pool.erase(std::remove(pool.begin(), pool.end(), cell), pool.end());
  for (auto it = next.begin(); it != next.end(); ++it) {
    if (it->second == cell) {
      next.erase(it);
      break;
    }
  }
  cell->selected_ = selected_ == path;
  cell->editing_ = editing_;
  cell->showsDeleteConfirmation_ = deleteConfirmation_ == path;
  configureEditingControls(*cell, path);
  return cell;
}

void TableView::placeRows(const Rect& visibleRect, std::map<IndexPath, std::shared_ptr<TableViewCell>>& next,
                          std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>>& shown) {
  for (int s = 0; s < numberOfSections(); ++s) {
    const Section& sec = sections_[s];
    double y = sec.top + sec.headerHeight;
    for (int r = 0; r < sec.rows; ++r) {
      Rect rect(0, y, bounds().width(), sec.rowHeights[r]);
      y += sec.rowHeights[r];
      if (!overlaps(visibleRect, rect)) continue;
      const IndexPath path{s, r};
      std::shared_ptr<TableViewCell> cell;
      if (auto it = next.find(path); it != next.end()) {
        cell = it->second;
      } else {
        cell = newCellFor(path, next);
        next[path] = cell;
        shown.emplace_back(path, cell);
      }
      // A row a finger carries lies where the finger has it.
      const bool carried = reorder_ && reorder_->cell.lock() == cell;
      if (!carried) cell->setFrame(rect);
      if (cell->superview() != this) insertSubviewAtIndex(cell, 0);
    }
  }
}

void TableView::placeSupplementaryViews(const Rect& visibleRect,
                                        std::map<int, std::shared_ptr<View>>& shownViews, bool header) {
  std::map<int, std::shared_ptr<View>> placed;
  for (int s = 0; s < numberOfSections(); ++s) {
    Rect rect = header ? rectForHeaderInSection(s) : rectForFooterInSection(s);
    if (!overlaps(visibleRect, rect)) continue;
    std::shared_ptr<View> view = header ? headerFor(s) : footerFor(s);
    if (!view) continue;
    view->setFrame(rect);
    if (view->superview() != this) addSubview(view);
    placed[s] = view;
  }
  for (auto& [s, view] : shownViews) {
    auto it = placed.find(s);
    if ((it == placed.end() || it->second != view) && view->superview() == this) view->removeFromSuperview();
  }
  shownViews = std::move(placed);
}

void TableView::placeTableHeaderAndFooter() {
  if (tableHeader_) {
    tableHeader_->setFrame(Rect(0, 0, bounds().width(), tableHeader_->frame().height()));
    if (tableHeader_->superview() != this) addSubview(tableHeader_);
  }
  if (tableFooter_) {
    double top = contentSize().height - tableFooter_->frame().height();
    tableFooter_->setFrame(Rect(0, top, bounds().width(), tableFooter_->frame().height()));
    if (tableFooter_->superview() != this) addSubview(tableFooter_);
  }
}

void TableView::announceShownCells(
    const std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>>& shown) {
  if (!delegate_) return;
  // A delegate may reload the table from willDisplayCell: a cell no longer at its row is skipped.
  for (auto& [path, cell] : shown) {
    auto it = visible_.find(path);
    if (it == visible_.end() || it->second != cell) continue;
    delegate_->willDisplayCell(*this, *cell, path);
  }
}

void TableView::setFrame(const Rect& frame) {
  View::setFrame(frame);
  if (loaded_) tile();
}

void TableView::layoutSubviews() { tile(); }

void TableView::reloadData() {
  ++reloads_;
  // A reload while a row is carried drops the carry: the rows are the data source's again.
  reorder_.reset();
  hideDeleteConfirmation();
  selected_.reset();
  auto cells = std::move(visible_);
  visible_.clear();
  for (auto& [path, cell] : cells) enqueue(cell);
  for (auto* shown : {&visibleHeaders_, &visibleFooters_}) {
    for (auto& [s, view] : *shown) {
      if (view->superview() == this) view->removeFromSuperview();
    }
    shown->clear();
  }
  loadStructure();
  // Content that got shorter brings its end back into view.
  const Point offset = contentOffset();
  const double lowest = maximumContentOffset().y;
  if (offset.y > lowest) setBounds(Rect(Point(offset.x, lowest), bounds().size));
  tile();
  if (offset.y > lowest && delegate_) delegate_->scrollViewDidScroll(*this);
}

}  // namespace ui
