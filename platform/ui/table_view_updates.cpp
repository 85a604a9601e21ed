#include "platform/ui/table_view.h"

#include <algorithm>
#include <set>

#include "platform/foundation/log.h"

namespace ui {

// Row and section updates: gathered between beginUpdates and endUpdates, checked against the data
// source's new counts, then carried out on what is on screen.

bool TableView::Update::empty() const {
  return deletes.empty() && inserts.empty() && reloads.empty() && deleteSections.empty() &&
         insertSections.empty() && reloadSections.empty() && moves.empty();
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

}  // namespace ui
