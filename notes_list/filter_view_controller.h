#pragma once
// filterViewController: the note filter screen (storyboard identifier "filterViewController").
//
// Two modes, told apart by whether a noteView_delegate is set:
//   list mode    the notes list presents it: title "Filter", "Cancel" and "Apply"; on "Apply" the
//                list reads the result and dismisses the screen, on "Cancel" it just dismisses it.
//   report mode  the report screen embeds its view: a section of report options (time, order,
//                style, photos) comes first; the report reads the result from its own thread.
// Calling order: create, set the delegate, setAllStuffWithMail, restore a result, show, read.
//
// Sections, top to bottom: dates (Begin, End, and the inline picker under the one being edited),
// report options (report mode), the "Basic Filter"/"Detailed Filter" segment, the type picker
// (detailed), the select-all row, then one row per type or per sub-value of the picked type.
//
// The state lives in a FilterModel (its lock makes the getters safe from the report thread);
// everything else runs on the main thread. The screen never dismisses itself.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/flat_widgets.h"
#include "app/note_edit_helper.h"
#include "note_editor/note_view_delegate.h"
#include "notes_list/filter_model.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date_formatter.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace notes_list {

inline constexpr std::string_view kFilterViewControllerId = "filterViewController";

// Adopted by the report screen; the filter keeps it and never calls it.
class filterDelegate {
 public:
  virtual ~filterDelegate() = default;
  virtual void setHiddenNavigationController(bool hidden) = 0;
};

class filterViewController : public ui::ViewController,
                             public ui::TableViewDataSource,
                             public ui::TableViewDelegate,
                             public ui::PickerViewDataSource,
                             public ui::PickerViewDelegate {
 public:
  struct Services {
    app::NoteEditHelper neh;
    // "Today" for the default period; the system clock when null.
    const foundation::Clock* clock = nullptr;
    // The interface language; InterfaceText::current() when empty.
    std::function<app::InterfaceText()> language;
    // The calendar of the default period; the current one when absent.
    std::optional<foundation::Calendar> calendar;
  };

  explicit filterViewController(Services services);

  // --- Set-up, in this order
  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  note_editor::noteViewDelegate* noteView_delegate() const { return noteView_delegate_; }
  void setFilter_delegate(std::shared_ptr<filterDelegate> delegate) {
    filter_delegate_ = std::move(delegate);
  }
  const std::shared_ptr<filterDelegate>& filter_delegate() const { return filter_delegate_; }
  // Loads the view and configures the screen for its mode; `mail` only moves datePickerView.
  void setAllStuffWithMail(bool mail);
  // Restores a result (nil types: the default period kept; the basic filter ticks every type, the
  // detailed one keeps its ticks) and reloads.
  void setFilterWithTypesAndSubTypesUseSubTypesAndBeginDateAndEndDate(
      const std::optional<std::vector<std::string>>& types,
      const std::optional<std::vector<std::string>>& subTypes, bool useSubTypes,
      std::optional<foundation::Date> begin, std::optional<foundation::Date> end);

  // --- The result; any thread
  bool getSelectedTypesAndSubTypes(std::vector<std::string>& types,
                                   std::vector<std::string>& subTypes) const {
    return model_.getSelectedTypesAndSubTypes(types, subTypes);
  }
  std::optional<foundation::Date> getBeginDate() const { return model_.beginDate(); }
  std::optional<foundation::Date> getEndDate() const { return model_.endDate(); }
  FilterPhotos photosType() const { return model_.photosType(); }
  bool shouldUseTime() const { return model_.shouldUseTime(); }
  bool shouldDoWithDescending() const { return model_.shouldDoWithDescending(); }
  bool shouldReportForPrinting() const { return model_.shouldReportForPrinting(); }
  FilterResult result() const { return model_.result(); }
  const FilterModel& model() const { return model_; }

  // --- Bar buttons (list mode)
  void applyFilter();
  void backToMainScreen();

  // --- Actions of the cells' controls
  void selectButtonClicked();
  void deselectButtonClicked();
  void filterSegmentWasChanges(ui::Control& sender);
  void cellSwitchChanged(ui::Control& sender);
  void cellSegmentChanged(ui::Control& sender);
  void dateAction(ui::Control& sender);

  const std::shared_ptr<ui::TableView>& filterTable() const { return filterTable_; }
  const std::shared_ptr<app::lineDrawerView>& datePickerView() const { return datePickerView_; }
  // The row of the open inline picker (section 0), if any.
  std::optional<int> datePickerIndexPath() const { return datePickerRow_; }

  void loadView() override;
  void viewDidLoad() override;

  // --- Table
  int numberOfSectionsInTableView(ui::TableView& table) override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView& /*table*/, const ui::IndexPath& /*path*/) override {
    return false;
  }
  std::optional<double> heightForRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  std::optional<double> heightForHeaderInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::View> viewForHeaderInSection(ui::TableView& table, int section) override;
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

  // --- Type picker
  int numberOfComponentsInPickerView(ui::PickerView& picker) override;
  int numberOfRowsInComponent(ui::PickerView& picker, int component) override;
  std::optional<double> widthForComponent(ui::PickerView& picker, int component) override;
  std::optional<double> rowHeightForComponent(ui::PickerView& picker, int component) override;
  std::shared_ptr<ui::View> viewForRow(ui::PickerView& picker, int row, int component,
                                       std::shared_ptr<ui::View> reusing) override;
  void didSelectRow(ui::PickerView& picker, int row, int component) override;

 private:
  enum class SectionKind { kDates, kOptions, kSegment, kPicker, kSelectAll, kRows };
  std::vector<SectionKind> sections() const;
  std::optional<SectionKind> kindOf(int section) const;
  bool reportMode() const { return noteView_delegate_ == nullptr; }
  // The interface language the services give, or the application's.
  app::InterfaceText language() const;
  std::string localized(std::string_view key) const;
  std::shared_ptr<ui::TableViewCell> dateCell(int row);
  std::shared_ptr<ui::TableViewCell> optionCell(int row);
  // The row of the table cell holding a control; the open picker's row when the control lies in
  // no cell (date picker only).
  std::optional<ui::IndexPath> rowOfControl(ui::Control& sender, bool fallBackToPicker) const;
  void displayInlineDatePickerForRow(int row);
  void updateDatePicker();
  std::string dateText(const std::optional<foundation::Date>& date) const;

  Services services_;
  FilterModel model_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<filterDelegate> filter_delegate_;
  std::shared_ptr<ui::TableView> filterTable_;
  std::shared_ptr<app::lineDrawerView> datePickerView_;
  std::optional<int> datePickerRow_;
  foundation::DateFormatter dateFormatter_;
};

}  // namespace notes_list
