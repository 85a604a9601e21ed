#pragma once
// The rows of the note filter. Each is made for its reuse identifier, which is its class name; the
// filter fills the labels and wires the controls. All but the segment row draw a white surface with
// grey hairlines: the first row of a section is closed by a full-width top line, inner rows are
// parted by lines 10 points in from the left, and the last row gets a full-width bottom line.

#include <memory>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/table_view.h"

namespace notes_list {

// A row that knows its place in its section, for its hairlines.
class filterPlacedCell : public ui::TableViewCell {
 public:
  using ui::TableViewCell::TableViewCell;
  bool firstInSection = false;
  bool lastInSection = false;

 protected:
  // White surface, hairlines at the top (first row) and at `y` from x0 (0 last, 10 inner rows).
  void drawPlacedLines(graphics::Canvas& canvas, std::initializer_list<double> bottoms) const;
};

class filterSelectTypeCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "filterSelectTypeCell";
  filterSelectTypeCell();
  std::shared_ptr<ui::Button> deselectButton;
  std::shared_ptr<ui::Button> selectButton;
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class filterDateCell : public filterPlacedCell {
 public:
  static constexpr const char* kIdentifier = "filterDateCell";
  filterDateCell();
  std::shared_ptr<ui::Label> dateIDLable;  // "Begin" or "End"
  std::shared_ptr<ui::Label> dateLable;    // the date
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

// Draws nothing of its own.
class filterSegmentCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "filterSegmentCell";
  filterSegmentCell();
  std::shared_ptr<ui::SegmentedControl> filterSegment;
  void layoutSubviews() override;
};

class filterPickerCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "filterPickerCell";
  filterPickerCell();
  std::shared_ptr<ui::PickerView> filterPicker;
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class filterColorTypeCell : public filterPlacedCell {
 public:
  static constexpr const char* kIdentifier = "filterColorTypeCell";
  filterColorTypeCell();
  std::shared_ptr<ui::Label> typeLable;
  std::shared_ptr<ui::SegmentedControl> typeSegment;  // "Light", "Colorful"
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class filterPhotoCell : public filterPlacedCell {
 public:
  static constexpr const char* kIdentifier = "filterPhotoCell";
  filterPhotoCell();
  std::shared_ptr<ui::Label> photoLable;
  std::shared_ptr<ui::SegmentedControl> photoSegment;  // "Not include", "Small", "Big"
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class filterGroupCell : public filterPlacedCell {
 public:
  static constexpr const char* kIdentifier = "filterGroupCell";
  filterGroupCell();
  std::shared_ptr<ui::Label> typeLable;
  std::shared_ptr<ui::ImageView> imgOn;   // the ticked mark
  std::shared_ptr<ui::ImageView> imgOff;  // the unticked mark
  std::string type;
  // Fades the marks over 0.2 seconds whether or not `animated` is asked for.
  void setSelectionTypeWithAnima(bool ticked, bool animated);
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class filterSwitchCell : public filterPlacedCell {
 public:
  static constexpr const char* kIdentifier = "filterSwitchCell";
  filterSwitchCell();
  std::shared_ptr<ui::Label> mainLable;
  std::shared_ptr<ui::Switch> mainSwitch;
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

// Registers the eight prototypes and the inline date picker row with the table; the picker's value
// changes go to `dateAction`, wired before the row settles its picker.
void registerFilterCells(ui::TableView& table, ui::Control::Action dateAction);

}  // namespace notes_list
