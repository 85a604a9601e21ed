#pragma once
// noteEditController: the note editor's screen. It builds the views, shows what its NoteEditor
// model describes, and turns taps, sheets, child screens and keyboard notifications into calls on
// the model. The rules (set-up, rows, saving, copying, deleting) live in the model.
//
// The opener sets the context, the baby's name, the delegate and one of: a note type (new note),
// the edited note, or a running timer's index; then shows the screen. After a save, a cancel or a
// delete the delegate is told exactly once and closes the screen; a failed save or delete shows an
// alert and the screen stays.
//
// The timers run in the model; the screen keeps their one-second tick on the main run loop while
// the model asks for it, and recounts them on the return to the foreground. The value entry plugs
// in through the protected hooks (date panel, number entry, the answer of sheet 8).

#include <memory>
#include <optional>
#include <string>

#include "note_editor/editor_cells.h"
#include "note_editor/note_editor.h"
#include "note_editor/note_view_delegate.h"
#include "note_editor/photo_view_controller.h"
#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace note_editor {

class ValuePanel;

// Storyboard identifiers of the editor's screens and of the sub-value list editor it opens.
inline constexpr const char* kNoteEditControllerId = "NoteEditController";
inline constexpr const char* kEditNoteNavigationId = "edit_note_navigation_id";
inline constexpr const char* kStrValueListEditId = "strValueListEdit";

class noteEditController : public ui::ViewController,
                           public ui::TableViewDataSource,
                           public ui::TableViewDelegate,
                           public ui::ActionSheetDelegate,
                           public ui::AlertViewDelegate,
                           public noteInputDelegate,
                           public photoViewControllerDelegate {
 public:
  explicit noteEditController(EditorServices services, std::filesystem::path photoLibrary = {});
  ~noteEditController() override;

  // --- Set by the opener before the view loads

  void setManagedObjectContext(std::shared_ptr<store::Context> context) {
    model_.managedObjectContext = std::move(context);
  }
  void setCurrentBabyName(std::optional<std::string> name) { model_.currentBabyName = std::move(name); }
  void setNoteView_delegate(noteViewDelegate* delegate) { delegate_ = delegate; }
  void setNote_Type(std::optional<std::string> type) { model_.note_Type = std::move(type); }
  void setEditingNote(app::Note note) { model_.editingNote = std::move(note); }
  void setStopWatchOn(bool on) { model_.stopWatchOn = on; }
  void setStopWatchNum(std::int32_t number) { model_.stopWatchNum = number; }
  void setLocal_ID(std::optional<std::string> id) { model_.local_ID = std::move(id); }

  NoteEditor& model() { return model_; }
  noteViewDelegate* noteView_delegate() const { return delegate_; }

  // --- Views (after the view loaded)

  ui::TableView& noteEditTable() { return *noteEditTable_; }
  ui::Button& deleteButton() { return *deleteButton_; }
  ui::Button& makeCopyButton() { return *makeCopyButton_; }
  ui::Button& photoButton() { return *photoButton_; }
  ui::ImageView& photoView() { return *photoView_; }
  ui::View& photoFrameView() { return *photoFrameView_; }
  ui::View& noticeTextBackView() { return *noticeTextBackView_; }
  ui::TextView& noticeTextView() { return *noticeTextView_; }
  ui::Button& noticeTextDoneButton() { return *noticeTextDoneButton_; }
  const std::shared_ptr<ui::BarButtonItem>& saveButton() const { return saveButton_; }
  const std::shared_ptr<ui::BarButtonItem>& cancelButton() const { return cancelButton_; }
  const std::shared_ptr<ui::BarButtonItem>& toMainScreenButton() const { return toMainScreenButton_; }
  const std::shared_ptr<ui::BarButtonItem>& emptyButton() const { return emptyButton_; }

  // --- Actions

  void save();
  void cancel();
  void deleteNote();
  void copyNote();
  void editPhoto();
  void editNotice();
  void textEditDone();
  // Reloads the table and the photo area.
  void updateEditView();
  void alertAboutTime(std::string_view key, std::optional<std::string_view> second = std::nullopt);
  // A delete confirmed but not yet carried out (the 0.2-second wait after the sheet).
  bool deletePending() const { return static_cast<bool>(deleteTimer_) && deleteTimer_.isValid(); }
  // Shows the bar buttons of the state: save and cancel, or to-main-screen while a timer runs.
  void updateBarButtons();

  // --- The screen

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidLayoutSubviews() override;

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
  std::optional<double> heightForFooterInSection(ui::TableView& /*table*/, int /*section*/) override {
    return 0;
  }
  std::shared_ptr<ui::View> viewForHeaderInSection(ui::TableView& table, int section) override;
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

  // --- Sheets, alerts, child screens

  void actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) override;
  void alertViewClickedButtonAtIndex(ui::AlertView& /*alert*/, int /*buttonIndex*/) override {}
  void noteInputSetSubtypesAndValues(ui::ViewController& sender,
                                     const std::optional<std::string>& text) override;
  void noteInputSetNotes(ui::ViewController& sender, const std::optional<std::string>& text) override;
  void noteInputCancel(ui::ViewController& sender) override;
  void setPhoto(const std::optional<graphics::Image>& image) override;

 protected:
  // Hooks of the value entry: the date panel on the start or the stop date, the number entry.
  virtual void changeTheDate(bool start);
  virtual void editNumValue();
  // The timers: a timer cell's button (0 left, 1 centre, 2 right), its close button, the answer
  // of sheets 4 to 8 (the model answers 4 to 7), the return to the foreground.
  virtual void timerButtonClicked(int button);
  // A timer cell's button as it sends its action, known by its restoration identifier; any other
  // sender does nothing.
  void timerButtonClicked(ui::Control& sender);
  virtual void closeTimer();
  virtual void timerSheetAnswered(int sheet, int buttonIndex);
  virtual void willEnterForeground();

 public:
  // The confirmation sheets of the timers: reset (4), save and switch sides (5 left, 6 right),
  // stop (7).
  void askAboutReset();
  void askToStartAnotherBreast(std::uint32_t side);
  void askAboutStop();
  // The one-second tick runs while the model asks for it.
  // The date and number panel, built on first use.
  ValuePanel& valuePanel();
  bool isTicking() const { return static_cast<bool>(noteTimerTick_) && noteTimerTick_.isValid(); }

 protected:
  // Shows a confirmation sheet with the number, for the dispatcher.
  void showSheet(int number, std::optional<std::string_view> destructive, std::vector<std::string> others);

 private:
  void buildViews();
  void observeNotifications();
  // The notice editor ends at the keyboard (on the phone its done button sits on it).
  void layoutNotice();
  void keyboardWillBeHidden();
  void fillTimerCell(timerCellBase& cell);
  void openSubValueEditor();
  void openPhotoScreen(int getPhotoOnStart);
  void removeThisNote();
  void copyThisNote();
  void cancelPendingDelete();
  // Tells the opener once; later closes do nothing.
  void closeSaved();
  void closeChanged();
  // After a timer operation: the tick as the model wants it, the bar, the table, the limit alert.
  void afterTimerChange();
  void deleteTimer();

  NoteEditor model_;
  std::filesystem::path photoLibrary_;
  noteViewDelegate* delegate_ = nullptr;
  bool closed_ = false;
  runtime::Timer deleteTimer_;
  runtime::Timer noteTimerTick_;
  std::uint64_t tickStarts_ = 0;
  std::vector<runtime::ObserverToken> observers_;
  std::unique_ptr<ValuePanel> valuePanel_;

  std::shared_ptr<ui::TableView> noteEditTable_;
  std::shared_ptr<ui::View> bottomStripe_;
  std::shared_ptr<ui::Button> deleteButton_, makeCopyButton_, photoButton_;
  std::shared_ptr<ui::View> photoFrameView_;
  std::shared_ptr<ui::ImageView> photoView_;
  std::shared_ptr<ui::View> noticeTextBackView_;
  std::shared_ptr<ui::TextView> noticeTextView_;
  std::shared_ptr<ui::Button> noticeTextDoneButton_;
  std::shared_ptr<ui::BarButtonItem> saveButton_, cancelButton_, toMainScreenButton_, emptyButton_;
};

// Registers the editor ("NoteEditController"), the editor in its own navigation controller
// ("edit_note_navigation_id") and the photo screen ("notePhotoEdit"). Each new editor gets the
// services the function gives; pictures are chosen from `photoLibrary`.
void registerNoteEditorScreens(ui::Storyboard& storyboard, std::function<EditorServices()> services,
                               std::filesystem::path photoLibrary);

}  // namespace note_editor
