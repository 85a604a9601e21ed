#include "platform/ui/table_view.h"

#include <algorithm>

#include "platform/ui/gesture.h"

namespace ui {

namespace {

// How wide the editing controls are at the row's edges; the content gives way by as much.
constexpr double kEditingControlWidth = 38;

const Color& editingGrey() {
  static const Color grey = Color::rgb255(199, 199, 204);
  return grey;
}

// The round control at the left of an editing row: red with a bar to delete, green with a cross to
// insert. A tap does what the table's tapEditingControlAtIndexPath does for the cell's row.
class EditingControl : public Button {
 public:
  explicit EditingControl(CellEditingStyle style) : style_(style) {
    addTarget(
        [this](Control&) {
          auto* cell = ancestorOfType<TableViewCell>();
          auto* table = cell ? cell->ancestorOfType<TableView>() : nullptr;
          if (!table) return;
          if (auto path = table->indexPathForCell(cell)) table->tapEditingControlAtIndexPath(*path);
        },
        kControlEventTouchUpInside);
  }
  CellEditingStyle style() const { return style_; }

  void drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) override {
    const Rect b = bounds();
    const Point c = b.center();
    const bool remove = style_ == CellEditingStyle::kDelete;
    canvas.setShouldAntialias(true);
    canvas.setFillColor(remove ? Color::rgb255(255, 59, 48) : Color::rgb255(76, 217, 100));
    canvas.fillEllipse(Rect(c.x - 11, c.y - 11, 22, 22));
    canvas.setFillColor(Color::white());
    canvas.fillRect(Rect(c.x - 6, c.y - 1, 12, 2));
    if (!remove) canvas.fillRect(Rect(c.x - 1, c.y - 6, 2, 12));
  }

 private:
  CellEditingStyle style_;
};

// The grip at the right edge of a row that may move. A finger that drags it carries the row; it
// takes the touch before the list's own scrolling does, being the innermost recogniser.
class ReorderControl : public View {
 public:
  ReorderControl() {
    addGestureRecognizer(std::make_shared<PanGestureRecognizer>([this](GestureRecognizer& g) { follow(g); }));
  }

  void drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) override {
    const Point c = bounds().center();
    canvas.setFillColor(editingGrey());
    for (double dy : {-5.0, 0.0, 5.0}) canvas.fillRect(Rect(c.x - 9, c.y + dy - 1, 18, 2));
  }
  // A touch on the grip is for dragging only: it never selects the row.
  void touchesBegan(const TouchSet&) override {}
  void touchesMoved(const TouchSet&) override {}
  void touchesEnded(const TouchSet&) override {}
  void touchesCancelled(const TouchSet&) override {}

 private:
  void follow(GestureRecognizer& gesture) {
    auto* cell = ancestorOfType<TableViewCell>();
    auto* table = cell ? cell->ancestorOfType<TableView>() : nullptr;
    if (!table) return;
    auto& pan = static_cast<PanGestureRecognizer&>(gesture);
    switch (gesture.state()) {
      case GestureState::kBegan: {
        // Held where the finger first came down, before it moved far enough to drag.
        const Point now = pan.locationInView(table);
        const Point moved = pan.translationInView(table);
        if (!table->beginReorder(*cell, Point(now.x - moved.x, now.y - moved.y))) return;
        table->followReorder(now);
        break;
      }
      case GestureState::kChanged:
        table->followReorder(pan.locationInView(table));
        break;
      case GestureState::kEnded:
        table->followReorder(pan.locationInView(table));
        table->endReorder(true);
        break;
      default:
        table->endReorder(false);
        break;
    }
  }
};

// The mark at the right of a row with an accessory: a tick on the chosen row, a chevron on a row that
// leads on, a round "i" on a row with details. It only shows: a touch on it goes to the row.
class AccessoryMark : public View {
 public:
  explicit AccessoryMark(CellAccessoryType type) : type_(type) { setUserInteractionEnabled(false); }

  void drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) override {
    const Color blue = Color::systemBlue();
    const Point c = bounds().center();
    canvas.setShouldAntialias(true);
    canvas.setLineCap(graphics::LineCap::kRound);
    canvas.setLineJoin(graphics::LineJoin::kRound);
    graphics::Path path;
    switch (type_) {
      case CellAccessoryType::kCheckmark:
        canvas.setStrokeColor(blue);
        canvas.setLineWidth(2);
        path.moveTo(Point(c.x - 6, c.y));
        path.lineTo(Point(c.x - 2, c.y + 4));
        path.lineTo(Point(c.x + 6, c.y - 5));
        break;
      case CellAccessoryType::kDisclosureIndicator:
        canvas.setStrokeColor(editingGrey());
        canvas.setLineWidth(2);
        path.moveTo(Point(c.x - 2, c.y - 6));
        path.lineTo(Point(c.x + 4, c.y));
        path.lineTo(Point(c.x - 2, c.y + 6));
        break;
      case CellAccessoryType::kDetailDisclosureButton:
        canvas.setStrokeColor(blue);
        canvas.setLineWidth(1);
        canvas.strokeEllipse(Rect(c.x - 11, c.y - 11, 22, 22));
        canvas.setFillColor(blue);
        canvas.fillEllipse(Rect(c.x - 1.25, c.y - 6.5, 2.5, 2.5));
        canvas.fillRect(Rect(c.x - 1, c.y - 2, 2, 8));
        return;
      case CellAccessoryType::kNone:
        return;
    }
    canvas.strokePath(path);
  }

 private:
  CellAccessoryType type_;
};

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
  if (type == accessory_) return;
  accessory_ = type;
  if (accessoryMark_) accessoryMark_->removeFromSuperview();
  accessoryMark_.reset();
  if (type != CellAccessoryType::kNone) {
    accessoryMark_ = std::make_shared<AccessoryMark>(type);
    addSubview(accessoryMark_);
  }
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

void TableViewCell::showEditingControls(CellEditingStyle style, bool movable, const std::string& rowText) {
  const std::string named = rowText.empty() ? "" : " " + rowText;
  auto* shown = dynamic_cast<EditingControl*>(editingControl_.get());
  if (style == CellEditingStyle::kNone || (shown && shown->style() != style)) {
    if (editingControl_) editingControl_->removeFromSuperview();
    editingControl_.reset();
  }
  if (style != CellEditingStyle::kNone && !editingControl_) {
    editingControl_ = std::make_shared<EditingControl>(style);
    addSubview(editingControl_);
  }
  if (editingControl_)
    editingControl_->setAccessibilityLabel((style == CellEditingStyle::kDelete ? "Delete" : "Insert") + named);
  if (!movable && reorderControl_) {
    reorderControl_->removeFromSuperview();
    reorderControl_.reset();
  }
  if (movable && !reorderControl_) {
    reorderControl_ = std::make_shared<ReorderControl>();
    addSubview(reorderControl_);
  }
  if (reorderControl_) reorderControl_->setAccessibilityLabel("Reorder" + named);
  setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
  Rect b = bounds();
  // The editing controls take the row's edges; the content lies between them.
  const double left = editingControl_ ? kEditingControlWidth : 0;
  double right = reorderControl_ ? b.width() - kEditingControlWidth
                 : accessory_ == CellAccessoryType::kNone ? b.width()
                                                          : b.width() - 33;
  right = std::max(left, right);
  if (editingControl_) editingControl_->setFrame(Rect(0, 0, kEditingControlWidth, b.height()));
  if (reorderControl_) reorderControl_->setFrame(Rect(right, 0, b.width() - right, b.height()));
  // An editing row shows its grip where the accessory was.
  if (accessoryMark_) {
    accessoryMark_->setHidden(reorderControl_ != nullptr);
    accessoryMark_->setFrame(Rect(right, 0, b.width() - right, b.height()));
  }
  contentView_->setFrame(Rect(left, 0, right - left, b.height()));
  right -= left;
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
