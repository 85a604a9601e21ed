#pragma once
// noteTableController_Base: the notes list screen shared by the phone and tablet main screens. It
// shows a NotesListModel in a table: running timers first, then the days (list or summary style),
// grows the list as its last row comes into view, deletes a note on a swipe, and opens the note
// editor on a row. A failed fetch shows an empty list and an alert; the process goes on.
//
// The pieces beside the list (first-run overlay and first-launch file, quick-start strip, prompts
// after a save) plug in through ListExtras; without them the list has none of them.
//
// The owner sets the baby, filter and style, then calls performFetch (or setupFetchedResultsController).
// Subclasses (the main screens) extend viewDidLoad, performFetch and updateTable and answer the
// hooks below. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "navigation/mail_delegate.h"
#include "note_editor/note_view_delegate.h"
#include "notes_list/list_extras.h"
#include "notes_list/notes_list_model.h"
#include "platform/ui/alert.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace notes_list {

class noteTableController_Base : public navigation::mailDelegate,
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
  // The alert that the baby's running timers could not be read; shown once per baby while its file
  // stays unreadable (the list then shows no timers and writes nothing over it).
  const std::shared_ptr<ui::AlertView>& timersAlert() const { return timersAlert_; }
  bool iPad() const { return iPad_; }

  // --- Pieces beside the list; not owned, may be null. Set before the view loads.
  void setListExtras(ListExtras* extras) { extras_ = extras; }
  ListExtras* listExtras() const { return extras_; }

  // --- State the main screens set and read
  const std::shared_ptr<store::Context>& managedObjectContext() const { return services_.context; }
  const std::shared_ptr<app::localSaves>& locSaves() const { return saves_; }
  // A new store context (the launch opened the store, a restore replaced it) or file store: the
  // list reads through it from the next fetch on, keeping its baby, filter and style.
  void setManagedObjectContext(std::shared_ptr<store::Context> context);
  void setLocSaves(std::shared_ptr<app::localSaves> saves);
  const app::NoteEditHelper& neh() const { return neh_; }
  void setCurrentBabyName(std::optional<std::string> name) { model_.setCurrentBabyName(std::move(name)); }
  const std::optional<std::string>& currentBabyName() const { return model_.currentBabyName(); }
  int currentbabyGender() const { return currentbabyGender_; }
  void setCurrentbabyGender(int gender) { currentbabyGender_ = gender; }
  const std::optional<std::string>& local_ID() const { return local_ID_; }
  void setLocal_ID(std::optional<std::string> id) { local_ID_ = std::move(id); }
  const std::optional<foundation::Date>& birthDayDate() const { return birthDayDate_; }
  void setBirthDayDate(std::optional<foundation::Date> date) { birthDayDate_ = date; }
  bool shouldChooseTheLanguage() const { return shouldChooseTheLanguage_; }
  void setShouldChooseTheLanguage(bool should) { shouldChooseTheLanguage_ = should; }
  // The interface language is Russian (updateLanguageStuff).
  bool showGrowthInfo() const { return showGrowthInfo_; }
  bool sumStyle() const { return model_.sumStyle(); }
  // Followed by updateTable (or performFetch), which rebuilds the rows.
  void setSumStyle(bool sumStyle) { model_.setSumStyle(sumStyle); }
  // The filter in force; none: not filtering.
  bool filtering() const { return model_.filter().has_value(); }
  void setFilter(std::optional<ListFilter> filter) { model_.setFilter(std::move(filter)); }
  // Number of notes of the whole store after the last save (the prompts count it).
  std::uint64_t allEntriesNum() const { return allEntriesNum_; }
  void setAllEntriesNum(std::uint64_t count) { allEntriesNum_ = count; }
  entriesStatisticHelper& statistic() { return model_.statistic(); }

  // --- Views the main screens place. The quick-start slot is made at load (zero-sized) and
  // filled by the extras; the first-run overlay exists while it is shown.
  const std::shared_ptr<ui::View>& noteQuickStartView() const { return noteQuickStartView_; }
  const std::shared_ptr<ui::View>& separatorView() const { return separatorView_; }
  const std::shared_ptr<ui::View>& fstLaunchView() const { return fstLaunchView_; }
  void setFstLaunchView(std::shared_ptr<ui::View> view) { fstLaunchView_ = std::move(view); }
  const std::vector<std::string>& quickStartTypeArr() const { return quickStartTypeArr_; }

  // --- Loading and fetching
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  // Builds the fetch for the baby, filter and style in force and runs performFetch.
  void setupFetchedResultsController();
  // Fetches again, then updateTable. A failure empties the list and shows an alert.
  virtual void performFetch();
  // Ends the filter and fetches again, from the first day.
  void resetAllFilteres();
  // The list from its top, the first day in view (a new filter or baby).
  void scrollToFirstDay();
  // Hides the table's header line while timers are shown and reloads the table.
  virtual void updateTable();
  // The table's header line and the quick-start strip (through the extras).
  void updateQuickStartView();
  // Reads the first preferred language (showGrowthInfo) and redraws the strip; when the interface
  // language changed since the last call, the list is fetched again so that its day titles, rows
  // and totals read in the new one.
  virtual void updateLanguageStuff();
  // The header text of a data section (a day), empty when there is none.
  std::string getSectionTitle(std::size_t dataSection) const;

  // --- After a save: fetch again, then the extras' count and prompts.
  void noteEditWasSaved();

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

  // --- Mail: the base's logging, then the composer is dismissed.
  void mailComposeControllerDidFinish(ui::MailComposeViewController& composer, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>& error) override;

  // --- Hooks the main screens answer; nothing here.
  // A row of the timers section was chosen.
  virtual void openTimerWithNum(std::size_t /*number*/) {}
  // A slot of the quick-start strip was tapped (-1: the slot that is not a note type).
  virtual void quickStartNumWasClicked(int /*slot*/) {}

 private:
  // The list model again over the current context and file store.
  void remakeModel();
  void showFailure(const foundation::Error& error);
  void checkFirstLaunch();
  void tellUnreadableTimers();
  // The interface language the services give, or the application's.
  app::InterfaceText language() const;
  std::string localized(std::string_view key) const;
  std::string localizedType(const std::optional<std::string>& type) const;
  ui::ImageRef icon(const std::optional<std::string>& type) const;

  app::NoteEditHelper neh_;
  entriesStatisticHelper::Services services_;
  std::shared_ptr<app::localSaves> saves_;
  NotesListModel model_;
  bool iPad_;
  ListExtras* extras_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::AlertView> failureAlert_;
  std::shared_ptr<ui::AlertView> timersAlert_;
  std::optional<std::string> timersUnreadableFor_;  // the baby whose unreadable timers were told
  std::shared_ptr<ui::View> noteQuickStartView_;
  std::shared_ptr<ui::View> separatorView_;
  std::shared_ptr<ui::View> fstLaunchView_;
  std::vector<std::string> quickStartTypeArr_;
  int currentbabyGender_ = 0;
  std::optional<std::string> local_ID_;
  std::optional<foundation::Date> birthDayDate_;
  bool shouldChooseTheLanguage_ = false;
  bool showGrowthInfo_ = false;
  std::optional<std::string> shownLanguage_;  // the interface language the rows were made in
  std::uint64_t allEntriesNum_ = 0;
};

}  // namespace notes_list
