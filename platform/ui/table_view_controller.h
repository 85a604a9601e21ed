#pragma once
// A screen whose view is a table: the table takes the screen as its data source and delegate when
// the screen is one, and follows the screen's editing mode.

#include <memory>

#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace ui {

class TableViewController : public ViewController {
 public:
  explicit TableViewController(TableViewStyle style = TableViewStyle::kPlain) : style_(style) {}

  // The table (the view is loaded on first use).
  TableView& tableView();
  std::shared_ptr<TableView> tableViewShared();

  void loadView() override;
  void setEditing(bool editing, bool animated) override;

 private:
  TableViewStyle style_;
  std::shared_ptr<TableView> table_;
};

}  // namespace ui
