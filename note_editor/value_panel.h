#pragma once
// The sliding panel at the bottom of the editor: the date picker with its date/time segment and
// "Now" button, the number wheel, and the keypad with its label. It holds the views and one
// NumberEntry; the rules live in value_entry.h and date_changes.h. Main thread only.

#include <functional>
#include <memory>

#include "note_editor/keypad.h"
#include "note_editor/note_editor.h"
#include "note_editor/value_entry.h"
#include "platform/ui/controls.h"
#include "platform/ui/picker_view.h"

namespace note_editor {

class ValuePanel : public ui::PickerViewDataSource, public ui::PickerViewDelegate {
 public:
  struct Hooks {
    // Done or cancel closed the panel: the table shows the change.
    std::function<void()> reload;
    // A start date on a live breast timer: ask where the added time goes (sheet 8).
    std::function<void()> askAboutAddDuration;
    // Shows or hides the navigation bar (and on the phone the status bar) around the panel.
    std::function<void(bool hidden)> barsHidden;
    // The editor's bottom stripe fades out while the panel is up.
    std::function<void(double alpha)> stripeAlpha;
  };

  // Builds the views into `host` (the editor's view) below its bottom edge.
  ValuePanel(ui::View& host, NoteEditor& model, Hooks hooks);

  void changeTheDate(bool start);
  void editNumValue();
  void nowDateClicked();
  void pickerCancel();
  void pickerDone();

  ui::View& pickerPanelView() { return *panel_; }
  // The dimming behind the panel.
  ui::View& datePickerView() { return *datePickerView_; }
  ui::DatePicker& datePicker() { return *datePicker_; }
  ui::SegmentedControl& dateAndTimeSegment() { return *segment_; }
  ui::Button& nowDateButton() { return *nowButton_; }
  ui::Button& doneButton() { return *doneButton_; }
  ui::Button& cancelButton() { return *cancelButton_; }
  ui::PickerView* inputPicker() { return inputPicker_.get(); }
  ui::Label& numLabel() { return *numLabel_; }
  noteEditPickerPanelView& keypad() { return *keypad_; }
  const NumberEntry& entry() const { return entry_; }

  // The wheel's data source and delegate.
  int numberOfComponentsInPickerView(ui::PickerView& picker) override;
  int numberOfRowsInComponent(ui::PickerView& picker, int component) override;
  std::optional<double> widthForComponent(ui::PickerView& picker, int component) override;
  std::optional<double> rowHeightForComponent(ui::PickerView& picker, int component) override;
  std::shared_ptr<ui::View> viewForRow(ui::PickerView& picker, int row, int component,
                                       std::shared_ptr<ui::View> reusing) override;
  void didSelectRow(ui::PickerView& picker, int row, int component) override;

 private:
  void initDatePicker();
  void initInputPicker();
  // The date panel's views, or the number entry's (wheel or keypad).
  void showDateViews(bool shown);
  void updateRange();
  // Hides the bars, then slides the panel up to `fromBottom` points above the screen's bottom.
  void slideIn(double fromBottom);
  void close();

  ui::View& host_;
  NoteEditor& model_;
  Hooks hooks_;
  NumberEntry entry_;
  std::shared_ptr<ui::View> datePickerView_, panel_, dateBackView_;
  std::shared_ptr<ui::DatePicker> datePicker_;
  std::shared_ptr<customPickerView> overlay_;
  std::shared_ptr<ui::SegmentedControl> segment_;
  std::shared_ptr<ui::Button> nowButton_, doneButton_, cancelButton_;
  std::shared_ptr<ui::PickerView> inputPicker_;
  std::shared_ptr<ui::Label> numLabel_;
  std::shared_ptr<noteEditPickerPanelView> keypad_;
};

}  // namespace note_editor
