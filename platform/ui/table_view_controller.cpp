#include "platform/ui/table_view_controller.h"

namespace ui {

TableView& TableViewController::tableView() { return *tableViewShared(); }

std::shared_ptr<TableView> TableViewController::tableViewShared() {
  view();
  return table_;
}

void TableViewController::loadView() {
  Rect frame = presentationFrame(ModalPresentationStyle::kFullScreen);
  table_ = std::make_shared<TableView>(frame, style_);
  table_->setDataSource(dynamic_cast<TableViewDataSource*>(this));
  table_->setDelegate(dynamic_cast<TableViewDelegate*>(this));
  table_->setEditing(isEditing(), false);
  setView(table_);
}

void TableViewController::setEditing(bool editing, bool animated) {
  ViewController::setEditing(editing, animated);
  if (table_) table_->setEditing(editing, animated);
}

}  // namespace ui
