#include "notes_list/date_picker_cell.h"

#include "platform/ui/device.h"
#include "app/value_texts.h"

namespace notes_list {

using graphics::Rect;

datePickerCell::datePickerCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  datePicker = std::make_shared<ui::DatePicker>(Rect(0, 0, 320, 216));
  datePicker->setTag(kPickerTag);
  datePicker->setMode(ui::DatePickerMode::kDate);
  datePicker->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  datePicker->setAutoresizingMask(ui::kFlexibleWidth);
  contentView().addSubview(datePicker);
  setClipsToBounds(true);
}

void datePickerCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  // The phone's picker is made 216 points high but its row is lower: the wheel takes its row's
  // height rather than spread over the rows below it.
  datePicker->setFrame(contentView().bounds());
}

void datePickerCell::awakeFromNib() {
  if (ui::device().isPhone()) return;
  auto old = datePicker;
  auto replacement = std::make_shared<ui::DatePicker>(
      Rect(old->frame().x(), old->frame().y(), old->frame().width(), kPadPickerHeight));
  replacement->setMode(old->mode());
  replacement->setLocale(old->locale());
  replacement->setTag(old->tag());
  replacement->setDate(old->date());
  replacement->setAutoresizingMask(old->autoresizingMask());
  for (const auto& entry : old->actions()) {
    if (entry.events & ui::kControlEventValueChanged) {
      replacement->addTarget(entry.action, ui::kControlEventValueChanged);
    }
  }
  old->removeFromSuperview();
  contentView().addSubview(replacement);
  datePicker = replacement;
}

}  // namespace notes_list
