#include "platform/ui/table_view.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/foundation/log.h"
#include "platform/graphics/text_measure.h"

namespace ui {

namespace {

constexpr double kScrollSlop = 10;

std::string describe(const IndexPath& p) {
  return "section " + std::to_string(p.section) + ", row " + std::to_string(p.row);
}

}  // namespace

// -------------------------------------------------------------------------------------- TableViewCell

TableViewCell::TableViewCell(CellStyle style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, 44)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setBackgroundColor(Color::white());
  contentView_ = std::make_shared<View>(bounds());
  contentView_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
  addSubview(contentView_);
}

Label& TableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = std::make_shared<Label>();
    textLabel_->setFont(Font::systemFontOfSize(17));
    contentView_->addSubview(textLabel_);
    setNeedsLayout();
  }
  return *textLabel_;
}

Label& TableViewCell::detailTextLabel() {
  if (!detailTextLabel_) {
    detailTextLabel_ = std::make_shared<Label>();
    detailTextLabel_->setFont(Font::systemFontOfSize(style_ == CellStyle::kSubtitle ? 12 : 17));
    detailTextLabel_->setTextColor(style_ == CellStyle::kValue1 ? Color::white(0.56) : Color::black());
    if (style_ == CellStyle::kValue1) detailTextLabel_->setTextAlignment(TextAlignment::kRight);
    contentView_->addSubview(detailTextLabel_);
    setNeedsLayout();
  }
  return *detailTextLabel_;
}

ImageView& TableViewCell::imageView() {
  if (!imageView_) {
    imageView_ = std::make_shared<ImageView>();
    imageView_->setContentMode(ContentMode::kCenter);
    contentView_->addSubview(imageView_);
    setNeedsLayout();
  }
  return *imageView_;
}

void TableViewCell::setAccessoryType(CellAccessoryType type) {
  accessory_ = type;
  setNeedsLayout();
}

void TableViewCell::setSelected(bool selected, bool /*animated*/) {
  selected_ = selected;
  setNeedsDisplay();
}

void TableViewCell::setHighlighted(bool highlighted, bool /*animated*/) {
  highlighted_ = highlighted;
  setNeedsDisplay();
}

void TableViewCell::setEditing(bool editing, bool /*animated*/) {
  editing_ = editing;
  setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
  Rect b = bounds();
  double right = accessory_ == CellAccessoryType::kNone ? b.width() : b.width() - 33;
  contentView_->setFrame(Rect(0, 0, std::max(0.0, right), b.height()));
  double x = 15;
  if (imageView_ && imageView_->image()) {
    double w = imageView_->image()->pointWidth();
    imageView_->setFrame(Rect(x, 0, w, b.height()));
    x += w + 15;
  }
  double width = std::max(0.0, right - x - 15);
  if (style_ == CellStyle::kSubtitle && detailTextLabel_) {
    if (textLabel_) textLabel_->setFrame(Rect(x, 4, width, b.height() / 2 - 2));
    detailTextLabel_->setFrame(Rect(x, b.height() / 2, width, b.height() / 2 - 4));
  } else if (style_ == CellStyle::kValue1 && detailTextLabel_) {
    if (textLabel_) textLabel_->setFrame(Rect(x, 0, width / 2, b.height()));
    detailTextLabel_->setFrame(Rect(x + width / 2, 0, width / 2, b.height()));
  } else if (textLabel_) {
    textLabel_->setFrame(Rect(x, 0, width, b.height()));
  }
}

// ---------------------------------------------------------------------------------------- TableView

bool TableView::Update::empty() const {
  return deletes.empty() && inserts.empty() && reloads.empty() && deleteSections.empty() &&
         insertSections.empty() && reloadSections.empty() && moves.empty();
}

TableView::TableView(const Rect& frame, TableViewStyle style)
    : ScrollView(frame),
      style_(style),
      headerHeight_(style == TableViewStyle::kPlain ? 22 : 35),
      footerHeight_(style == TableViewStyle::kPlain ? 22 : 10) {
  setBackgroundColor(style == TableViewStyle::kPlain ? Color::white() : Color::rgb255(239, 239, 244));
  setClipsToBounds(true);
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
  for (auto& [path, cell] : visible_) {
    if (isValid(path) && overlaps(visibleRect, rectForRowAtIndexPath(path))) {
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
      cell->setFrame(rect);
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

void TableView::beginUpdates() { ++updateDepth_; }

void TableView::endUpdates() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  Update update = std::move(pending_);
  pending_ = Update();
  if (!update.empty()) apply(std::move(update));
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& paths, RowAnimation /*animation*/) {
  Update u;
  u.inserts = paths;
  if (updateDepth_ > 0) {
    pending_.inserts.insert(pending_.inserts.end(), paths.begin(), paths.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths, RowAnimation /*animation*/) {
  Update u;
  u.deletes = paths;
  if (updateDepth_ > 0) {
    pending_.deletes.insert(pending_.deletes.end(), paths.begin(), paths.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths, RowAnimation /*animation*/) {
  Update u;
  u.reloads = paths;
  if (updateDepth_ > 0) {
    pending_.reloads.insert(pending_.reloads.end(), paths.begin(), paths.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::insertSections(const std::vector<int>& sections, RowAnimation /*animation*/) {
  Update u;
  u.insertSections = sections;
  if (updateDepth_ > 0) {
    pending_.insertSections.insert(pending_.insertSections.end(), sections.begin(), sections.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::deleteSections(const std::vector<int>& sections, RowAnimation /*animation*/) {
  Update u;
  u.deleteSections = sections;
  if (updateDepth_ > 0) {
    pending_.deleteSections.insert(pending_.deleteSections.end(), sections.begin(), sections.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::reloadSections(const std::vector<int>& sections, RowAnimation /*animation*/) {
  Update u;
  u.reloadSections = sections;
  if (updateDepth_ > 0) {
    pending_.reloadSections.insert(pending_.reloadSections.end(), sections.begin(), sections.end());
  } else {
    apply(std::move(u));
  }
}

void TableView::moveRowAtIndexPath(const IndexPath& from, const IndexPath& to) {
  Update u;
  u.moves.emplace_back(from, to);
  if (updateDepth_ > 0) {
    pending_.moves.emplace_back(from, to);
  } else {
    apply(std::move(u));
  }
}

// An update is checked against the data source's new counts before anything moves; a wrong one
// is logged and the table reloads instead, as the platform would throw. A sound one maps every
// old row that stays to its new place, carries visible cells and the selection over, and tiles.
void TableView::apply(Update u) {
  if (!loaded_) {
    if (dataSource_) reloadData();
    return;
  }
  UpdatePlan plan;
  std::string problem = planSections(u, plan);
  if (problem.empty()) problem = planRows(u, plan);
  if (!problem.empty()) {
    foundation::log("Invalid table update (" + problem + "); the table reloads instead");
    reloadData();
    return;
  }
  carryOver(plan);
  for (auto* shown : {&visibleHeaders_, &visibleFooters_}) {
    for (auto& [s, view] : *shown) {
      if (view->superview() == this) view->removeFromSuperview();
    }
    shown->clear();
  }
  loadStructure();
  for (auto& [path, cell] : visible_) cell->selected_ = selected_ == path;
  tile();
}

std::string TableView::planSections(const Update& u, UpdatePlan& plan) {
  const int oldCount = numberOfSections();
  const int newCount = dataSource_ ? std::max(0, dataSource_->numberOfSectionsInTableView(*this)) : 0;
  const std::set<int> deleted(u.deleteSections.begin(), u.deleteSections.end());
  const std::set<int> inserted(u.insertSections.begin(), u.insertSections.end());
  plan.reloadedSections.insert(u.reloadSections.begin(), u.reloadSections.end());
  std::string problem;
  for (int s : deleted) {
    if (s < 0 || s >= oldCount) problem = "a deleted section does not exist";
  }
  for (int s : plan.reloadedSections) {
    if (s < 0 || s >= oldCount || deleted.count(s)) problem = "a reloaded section does not exist";
  }
  for (int s : inserted) {
    if (s < 0 || s >= newCount) problem = "an inserted section is out of range";
  }
  if (!problem.empty()) return problem;
  const int expected = oldCount - static_cast<int>(deleted.size()) + static_cast<int>(inserted.size());
  if (newCount != expected)
    return "the number of sections is " + std::to_string(newCount) + ", expected " + std::to_string(expected);
  plan.sectionMap.assign(static_cast<size_t>(oldCount), -1);
  int ns = 0;
  for (int os = 0; os < oldCount; ++os) {
    if (deleted.count(os)) continue;
    while (inserted.count(ns)) ++ns;
    plan.sectionMap[os] = ns++;
  }
  return {};
}

std::string TableView::planRows(const Update& u, UpdatePlan& plan) {
  plan.reloaded.insert(u.reloads.begin(), u.reloads.end());
  for (int os = 0; os < numberOfSections(); ++os) {
    const int ns = plan.sectionMap[os];
    if (ns < 0 || plan.reloadedSections.count(os)) continue;
    // Deletions and the sources of moves name rows as they were, insertions and the targets of
    // moves as they will be.
    std::set<int> deleted, inserted;
    for (const auto& p : u.deletes)
      if (p.section == os) deleted.insert(p.row);
    for (const auto& p : u.inserts)
      if (p.section == ns) inserted.insert(p.row);
    for (const auto& [from, to] : u.moves) {
      if (from.section == os) deleted.insert(from.row);
      if (to.section == ns) inserted.insert(to.row);
    }
    const int oldRows = sections_[os].rows;
    const int newRows = std::max(0, dataSource_->numberOfRowsInSection(*this, ns));
    for (int r : deleted)
      if (r < 0 || r >= oldRows) return "a deleted row does not exist in section " + std::to_string(os);
    for (int r : inserted)
      if (r < 0 || r >= newRows) return "an inserted row is out of range in section " + std::to_string(ns);
    const int expected = oldRows - static_cast<int>(deleted.size()) + static_cast<int>(inserted.size());
    if (newRows != expected)
      return "section " + std::to_string(ns) + " has " + std::to_string(newRows) + " rows, expected " +
             std::to_string(expected);
    int nr = 0;
    for (int r = 0; r < oldRows; ++r) {
      if (deleted.count(r)) continue;
      while (inserted.count(nr)) ++nr;
      plan.rowMap[IndexPath{os, r}] = IndexPath{ns, nr++};
    }
  }
  for (const auto& p : u.reloads)
    if (!isValid(p)) return "a reloaded row does not exist";
  for (const auto& [from, to] : u.moves) {
    if (!isValid(from)) return "a moved row does not exist";
    if (plan.sectionMap[from.section] >= 0) plan.rowMap[from] = to;
  }
  return {};
}

void TableView::carryOver(const UpdatePlan& plan) {
  // A row that stays keeps its cell and its selection; a reloaded one gets a new cell.
  auto newPlace = [&](const IndexPath& path) -> std::optional<IndexPath> {
    auto it = plan.rowMap.find(path);
    if (it == plan.rowMap.end() || plan.reloaded.count(path) || plan.reloadedSections.count(path.section))
      return std::nullopt;
    return it->second;
  };
  std::map<IndexPath, std::shared_ptr<TableViewCell>> next;
  for (auto& [path, cell] : visible_) {
    if (auto to = newPlace(path)) {
      next[*to] = cell;
    } else {
      enqueue(cell);
    }
  }
  visible_ = std::move(next);
  if (selected_) selected_ = newPlace(*selected_);
  hideDeleteConfirmation();
}

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
  editing_ = editing;
  for (auto& [path, cell] : visible_) cell->setEditing(editing, animated);
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
  return "Delete";
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
