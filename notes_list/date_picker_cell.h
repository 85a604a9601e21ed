#pragma once
// datePickerCell: the row of an inline date picker. Its picker carries the tag 99, by which the
// screens that own the row find it. Off the phone the row's picker is replaced, once the row is
// made, by a 162-point-high one that keeps the old one's mode, tag, date and value-changed actions.
// Either picker keeps within its row: never drawn over the rows below it.

#include <memory>

#include "platform/ui/picker_view.h"
#include "platform/ui/table_view.h"

namespace notes_list {

class datePickerCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "datePickerCell";
  static constexpr int kPickerTag = 99;
  static constexpr double kPadPickerHeight = 162;

  datePickerCell();
  std::shared_ptr<ui::DatePicker> datePicker;

  // The replacement of the tablet; the owner calls it after wiring the picker (the platform does
  // it when the row comes out of the storyboard).
  void awakeFromNib();
  void layoutSubviews() override;
};

}  // namespace notes_list
