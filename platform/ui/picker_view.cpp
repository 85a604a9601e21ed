#include "platform/ui/picker_view.h"

#include <algorithm>

#include "platform/foundation/date_formatter.h"
#include "platform/ui/render.h"

namespace ui {

// ----------------------------------------------------------------------------------------- PickerView

PickerView::PickerView() : View(Rect(0, 0, 320, 216)) {}

PickerView::PickerView(const Rect& frame) : View(frame) {}

int PickerView::numberOfComponents() const {
  return dataSource_
             ? std::max(0, dataSource_->numberOfComponentsInPickerView(const_cast<PickerView&>(*this)))
             : 0;
}

int PickerView::numberOfRowsInComponent(int component) const {
  if (!dataSource_ || component < 0 || component >= numberOfComponents()) return 0;
  return std::max(0, dataSource_->numberOfRowsInComponent(const_cast<PickerView&>(*this), component));
}

double PickerView::rowHeightForComponent(int component) const {
  if (delegate_) {
    if (auto h = delegate_->rowHeightForComponent(const_cast<PickerView&>(*this), component)) return *h;
  }
  return kDefaultRowHeight;
}

double PickerView::widthForComponent(int component) const {
  if (delegate_) {
    if (auto w = delegate_->widthForComponent(const_cast<PickerView&>(*this), component)) return *w;
  }
  int n = numberOfComponents();
  return n > 0 ? bounds().width() / n : 0;
}

void PickerView::reloadAllComponents() {
  int n = numberOfComponents();
  selected_.resize(static_cast<size_t>(n), 0);
  for (int c = 0; c < n; ++c) reloadComponent(c);
  setNeedsDisplay();
}

void PickerView::reloadComponent(int component) {
  if (component < 0 || component >= static_cast<int>(selected_.size())) return;
  int rows = numberOfRowsInComponent(component);
  selected_[component] = rows == 0 ? 0 : std::clamp(selected_[component], 0, rows - 1);
  setNeedsDisplay();
}

void PickerView::selectRow(int row, int component, bool /*animated*/) {
  if (component < 0) return;
  if (static_cast<int>(selected_.size()) <= component) selected_.resize(component + 1, 0);
  int rows = numberOfRowsInComponent(component);
  selected_[component] = rows == 0 ? 0 : std::clamp(row, 0, rows - 1);
  setNeedsDisplay();
}

int PickerView::selectedRowInComponent(int component) const {
  int rows = numberOfRowsInComponent(component);
  if (rows == 0) return -1;
  int row = component < static_cast<int>(selected_.size()) ? selected_[component] : 0;
  return std::clamp(row, 0, rows - 1);
}

void PickerView::spinToRow(int row, int component) {
  int rows = numberOfRowsInComponent(component);
  if (rows == 0) return;
  selectRow(row, component);
  if (delegate_) delegate_->didSelectRow(*this, selectedRowInComponent(component), component);
}

std::shared_ptr<View> PickerView::viewForRow(int row, int component) {
  if (!delegate_ || component < 0) return nullptr;
  if (static_cast<int>(reusable_.size()) <= component) reusable_.resize(component + 1);
  auto view = delegate_->viewForRow(*this, row, component, reusable_[component]);
  if (view) {
    if (view->frame().isEmpty())
      view->setFrame(Rect(0, 0, widthForComponent(component), rowHeightForComponent(component)));
    reusable_[component] = view;
  }
  return view;
}

std::string PickerView::titleForRow(int row, int component) {
  if (delegate_) {
    if (auto title = delegate_->titleForRow(*this, row, component)) return *title;
  }
  if (auto view = viewForRow(row, component)) {
    if (auto* label = dynamic_cast<Label*>(view.get())) return label->text();
  }
  return {};
}

void PickerView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  // The wheels at rest: the selected row in the middle, its neighbours above and below.
  Rect b = bounds();
  int n = numberOfComponents();
  double x = 0;
  for (int c = 0; c < n; ++c) {
    double w = widthForComponent(c);
    double h = rowHeightForComponent(c);
    int rows = numberOfRowsInComponent(c);
    int selected = selectedRowInComponent(c);
    double middle = b.midY() - h / 2;
    int reach = static_cast<int>(b.height() / h / 2) + 1;
    for (int offset = -reach; offset <= reach; ++offset) {
      int row = selected + offset;
      if (row < 0 || row >= rows) continue;
      Rect cell(x, middle + offset * h, w, h);
      if (auto view = viewForRow(row, c)) {
        view->setFrame(Rect(0, 0, w, h));
        canvas.save();
        canvas.translate(cell.x(), cell.y());
        if (offset != 0) canvas.setAlpha(0.5);
        renderView(*view, canvas);
        canvas.restore();
      } else {
        std::string title = titleForRow(row, c);
        if (title.empty()) continue;
        Font font = Font::systemFontOfSize(offset == 0 ? 21 : 18);
        canvas.drawText(title, Rect(cell.x(), cell.y() + (h - font.pointSize() * 1.2) / 2, w, h), font,
                        offset == 0 ? Color::black() : Color::white(0.6), TextAlignment::kCenter,
                        LineBreakMode::kTruncateTail);
      }
    }
    x += w;
  }
}

// ----------------------------------------------------------------------------------------- DatePicker

DatePicker::DatePicker() : Control(Rect(0, 0, 320, 216)) {}

DatePicker::DatePicker(const Rect& frame) : Control(frame) {}

void DatePicker::setMode(DatePickerMode mode) {
  mode_ = mode;
  setNeedsDisplay();
}

foundation::Date DatePicker::clamp(foundation::Date date) const {
  if (minimum_ && date < *minimum_) date = *minimum_;
  if (maximum_ && date > *maximum_) date = *maximum_;
  return date;
}

void DatePicker::setDate(foundation::Date date, bool /*animated*/) {
  date_ = clamp(date);
  setNeedsDisplay();
}

void DatePicker::setMinimumDate(std::optional<foundation::Date> date) {
  minimum_ = date;
  date_ = clamp(date_);
}

void DatePicker::setMaximumDate(std::optional<foundation::Date> date) {
  maximum_ = date;
  date_ = clamp(date_);
}

void DatePicker::spinToDate(foundation::Date date) {
  if (!isEnabled()) return;
  date_ = clamp(date);
  setNeedsDisplay();
  sendActionsForControlEvents(kControlEventValueChanged);
}

void DatePicker::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  using Style = foundation::DateFormatterStyle;
  Style dateStyle = Style::None, timeStyle = Style::None;
  switch (mode_) {
    case DatePickerMode::kTime:
      timeStyle = Style::Short;
      break;
    case DatePickerMode::kDate:
      dateStyle = Style::Long;
      break;
    case DatePickerMode::kDateAndTime:
      dateStyle = Style::Medium;
      timeStyle = Style::Short;
      break;
    case DatePickerMode::kCountDownTimer:
      timeStyle = Style::Short;
      break;
  }
  std::string text = foundation::DateFormatter::withStyles(dateStyle, timeStyle).stringFromDate(date_);
  Rect b = bounds();
  Font font = Font::systemFontOfSize(21);
  canvas.drawText(text, Rect(b.x(), b.midY() - font.pointSize() * 0.6, b.width(), font.pointSize() * 1.2),
                  font, Color::black(), TextAlignment::kCenter, LineBreakMode::kTruncateTail);
}

}  // namespace ui
