#pragma once
// noteTableController_Base: the notes list screen shared by the phone and tablet main screens. It
// shows a NotesListModel in a table: running timers first, then the days (list or summary style),
// grows the list as its last row comes into view, deletes a note on a swipe, and opens the note
// editor on a row. A failed fetch shows an empty list and an alert; the process goes on.
//
// The owner sets the context, file store, baby, filter and style, then calls updateTable.
// Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "note_editor/note_view_delegate.h"
#include "notes_list/notes_list_model.h"
#include "platform/ui/alert.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace notes_list {

class noteTableController_Base : public ui::ViewController,
                                 public ui::TableViewDataSource,
                                 public ui::TableViewDelegate,
                                 public note_editor::noteViewDelegate {
 public:
  noteTableController_Base(app::NoteEditHelper neh, entriesStatisticHelper::Services services,
                           std::shared_ptr<app::localSaves> saves, bool iPad = false);

  NotesListModel& model() { return model_; }
  const std::shared_ptr<ui::TableView>& table() const { return table_; }
  // The alert of the last failed fetch or deletion, while it is on screen.
  const std::shared_ptr<ui::AlertView>& failureAlert() const { return failureAlert_; }

  // Fetches again and reloads the table; a failure empties the list and shows an alert.
  void updateTable();

  void viewDidLoad() override;

  // --- Table
  int numberOfSectionsInTableView(ui::TableView& table) override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  void commitEditingStyle(ui::TableView& table, ui::CellEditingStyle style,
                          const ui::IndexPath& path) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  std::optional<double> heightForHeaderInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::View> viewForHeaderInSection(ui::TableView& table, int section) override;
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

  // --- What the editor reports: the list fetches again when stored data changed.
  void noteViewChildDone(ui::ViewController& child, bool changed) override;
  void noteEditWasClosedAndSaved(ui::ViewController& editor, bool saved) override;

  // A row of the timers section was chosen; the main screens open the running timer.
  virtual void openTimerWithNum(std::size_t /*number*/) {}

 private:
  void showFailure(const foundation::Error& error);
  std::string localizedType(const std::optional<std::string>& type) const;

  app::NoteEditHelper neh_;
  entriesStatisticHelper::Services services_;
  NotesListModel model_;
  bool iPad_;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::AlertView> failureAlert_;
};

}  // namespace notes_list
