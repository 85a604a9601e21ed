#include "platform/ui/table_view.h"

#include <algorithm>

namespace ui {

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

}  // namespace ui
