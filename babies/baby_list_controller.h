#pragma once
// The baby list and the screens the main screens open about one baby:
//
//   babyListController          every Baby; a row chooses the baby (babyListControllerDone), "+"
//                               opens the profile editor for a new baby, a row's detail button
//                               opens it for that baby. An empty list opens the editor at once;
//                               the very first baby created there is chosen as well.
//   addBabyController           the profile editor (name, gender, blood group, birthday, icon);
//                               its rules are BabyProfileRules.
//   babyInfoTableViewController the current baby's allergies and information texts, or contacts,
//                               as a list that adds, opens and deletes them.
//   photoCollectionController   the current baby's note photos, as a list.
//
// Main thread only. A screen given no context, file store or baby takes them from the
// application delegate when it loads.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/settings_records.h"
#include "app/value_texts.h"
#include "babies/baby_profile.h"
#include "babies/baby_record_editor.h"
#include "babies/baby_records.h"
#include "note_editor/note_view_delegate.h"
#include "note_editor/photo_view_controller.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date.h"
#include "platform/store/context.h"
#include "platform/ui/alert.h"
#include "platform/ui/controls.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace babies {

inline constexpr const char* kBabyNavigationId = "baby_navigation_id";
inline constexpr const char* kBabyListId = "babyListController";
inline constexpr const char* kChangeBabySegue = "changeBabySegue";
inline constexpr const char* kAddBabyId = "addBabyController";
inline constexpr const char* kBabyInfoTableId = "babyInfoTableViewController";
inline constexpr const char* kBabyInfoTableSegue = "babyInfoTableViewController";
inline constexpr const char* kBabyInfoTableSegue2 = "babyInfoTableViewController2";
inline constexpr const char* kPhotoCollectionId = "photoCollectionController";
inline constexpr const char* kPhotoCollectionSegue = "photoCollectionController";

// The two kinds of records babyInfoTableViewController lists.
inline constexpr std::string_view kInfoTypeAllergies = "Allergies";
inline constexpr std::string_view kInfoTypeContacts = "Contacts";

// Told which baby was chosen.
class babyListControllerDelegate {
 public:
  virtual ~babyListControllerDelegate() = default;
  // Name, gender (0 a boy) and birthday of the chosen baby. The receiver dismisses the list.
  virtual void babyListControllerDone(const std::optional<std::string>& name, int gender,
                                      const std::optional<foundation::Date>& birthday) = 0;
};

// Told when the profile editor closes.
class addBabyControllerDelegate {
 public:
  virtual ~addBabyControllerDelegate() = default;
  // `changed`: a baby was added, changed or deleted. `added` is the new baby when one was added.
  virtual void addBabyControllerDone(ui::ViewController& sender, bool changed, const app::Baby& added) = 0;
};

class babyListController : public ui::ViewController,
                           public ui::TableViewDataSource,
                           public ui::TableViewDelegate,
                           public addBabyControllerDelegate {
 public:
  babyListController();

  // --- Set by the opener before updateList
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  // Kept strongly: the opener may let go of the list before the user chooses.
  void setBabyList_delegate(std::shared_ptr<babyListControllerDelegate> delegate) {
    babyList_delegate_ = std::move(delegate);
  }
  void setLocSaves(std::shared_ptr<app::localSaves> saves) { locSaves_ = std::move(saves); }
  // The baby the opener shows; the application delegate's current baby when not given. When the
  // editor renames or deletes that baby, the delegate is told the baby to show instead (the
  // renamed one, or the first that remains), so the opener never goes on with a name that is gone.
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  // Handed to the profile editor (see addBabyController::setClock).
  void setClock(const foundation::Clock* clock) { clock_ = clock; }
  // A baby whose editor the list opens as soon as it appears (the screenshot tools).
  void setDevelopBabyName(std::optional<std::string> name) { developBabyName_ = std::move(name); }

  const std::shared_ptr<store::Context>& managedObjectContext() const { return context_; }
  const std::shared_ptr<babyListControllerDelegate>& babyList_delegate() const { return babyList_delegate_; }
  const std::shared_ptr<app::localSaves>& locSaves() const { return locSaves_; }
  const std::vector<app::Baby>& babies() const { return babies_; }
  ui::TableView& babyTable();

  // With a context: fetches every Baby (no order) and reloads the table; without one, nothing.
  void updateList();

  // --- Actions
  // "+": the profile editor for a new baby.
  void addBaby();
  // The profile editor for the baby in that row.
  void editBabyAtIndex(size_t index);

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

  void addBabyControllerDone(ui::ViewController& sender, bool changed, const app::Baby& added) override;

 private:
  void openEditor(const app::Baby& baby);
  std::optional<std::string> currentBabyName() const;
  void tellChosen(const app::Baby& baby);

  std::shared_ptr<store::Context> context_;
  std::shared_ptr<babyListControllerDelegate> babyList_delegate_;
  std::shared_ptr<app::localSaves> locSaves_;
  std::optional<std::string> developBabyName_;
  std::optional<std::string> currentBabyName_;
  const foundation::Clock* clock_ = nullptr;
  std::vector<app::Baby> babies_;
  // The baby in the editor and its name when the editor opened.
  app::Baby editedBaby_;
  std::optional<std::string> editedName_;
  std::shared_ptr<ui::TableView> table_;
  // The editor was opened because the list was empty.
  bool editingFirstBaby_ = false;
};

// The profile editor: a new baby when given none, else that baby (rename, edit, delete). Its
// picture (top left: the stored icon as a circle, or the default picture of the gender) opens the
// photo screen ("notePhotoEdit"), straight into the library when there is no icon yet; what the
// photo screen hands back is stored as the icon at save, or the icon removed. The name field's
// return key closes the keyboard. Saving a new name logs "baby_names" ("name", "lang", "country").
class addBabyController : public ui::ViewController,
                          public ui::ActionSheetDelegate,
                          public ui::PickerViewDataSource,
                          public ui::PickerViewDelegate,
                          public ui::TextFieldDelegate,
                          public note_editor::photoViewControllerDelegate {
 public:
  addBabyController();

  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setLocSaves(std::shared_ptr<app::localSaves> saves) { locSaves_ = std::move(saves); }
  void setBaby(app::Baby baby) { baby_ = std::move(baby); }
  void setAddBaby_delegate(addBabyControllerDelegate* delegate) { delegate_ = delegate; }
  // Today, for a new baby's birthday and the latest one allowed; the main run loop's clock when not given.
  // Must outlive the screen.
  void setClock(const foundation::Clock* clock) { clock_ = clock; }

  const app::Baby& baby() const { return baby_; }
  ui::TextField& nameField() { return *nameField_; }
  ui::SegmentedControl& genderSegment() { return *genderSegment_; }
  ui::PickerView& bloodPicker() { return *bloodPicker_; }
  ui::DatePicker& birthdayPicker() { return *birthdayPicker_; }
  // Where "baby_names" goes; Tally's when not given.
  void setLogEvent(app::AnalyticsEventSink logEvent) { logEvent_ = std::move(logEvent); }

  ui::Button& pictureButton() { return *pictureButton_; }
  // The icon to store at save (the photo screen hands it over through setPhoto).
  void setIcon(std::optional<graphics::Image> icon);
  void removeIcon();
  // The picture the row shows: the one chosen here, else the stored icon unless removed here.
  std::optional<graphics::Image> shownIcon() const;
  // The alert of the last refused save, while it is on screen.
  const std::shared_ptr<ui::AlertView>& alert() const { return alert_; }

  // --- Actions
  // Checks and stores; a refused name shows an alert titled with its key's text and the screen
  // stays.
  void save();
  void cancel();
  // Asks first (a sheet with the destructive "Delete"), then deletes; only for an existing baby.
  void deleteBaby();
  // The picture: the photo screen, over the library when there is no icon.
  void openPicture();

  void viewDidLoad() override;
  void viewWillLayoutSubviews() override;

  bool textFieldShouldReturn(ui::TextField& field) override;
  void setPhoto(const std::optional<graphics::Image>& image) override;
  void actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) override;
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int) override { return kBloodGroupCount; }
  std::optional<std::string> titleForRow(ui::PickerView& picker, int row, int component) override;

 private:
  BabyProfileInput input() const;
  void finish(bool changed, const app::Baby& added);
  void showAlert(const foundation::Error& error);
  void showPicture();
  void logBabyName(const std::string& name);
  // Fits the parts to the view's height (see the .cpp).
  void layOutParts();

  std::shared_ptr<store::Context> context_;
  std::shared_ptr<app::localSaves> locSaves_;
  app::AnalyticsEventSink logEvent_;
  app::Baby baby_;
  addBabyControllerDelegate* delegate_ = nullptr;
  const foundation::Clock* clock_ = nullptr;
  std::optional<graphics::Image> icon_;
  bool removeIcon_ = false;
  // The baby's icon as stored when the screen loaded.
  std::optional<graphics::Image> storedIcon_;
  std::shared_ptr<ui::Button> pictureButton_;
  std::shared_ptr<ui::TextField> nameField_;
  std::shared_ptr<ui::SegmentedControl> genderSegment_;
  std::shared_ptr<ui::PickerView> bloodPicker_;
  std::shared_ptr<ui::DatePicker> birthdayPicker_;
  std::shared_ptr<ui::Button> deleteButton_;
  std::shared_ptr<ui::AlertView> alert_;
  std::shared_ptr<ui::ActionSheet> sheet_;
};

// The current baby's records, a section per kind, each ending in a row that adds one: "Allergies"
// shows its allergies and its information texts, "Contacts" its contacts. A record's row opens it in
// the record editor (pushed), where it is changed or deleted.
class babyInfoTableViewController : public ui::ViewController,
                                    public ui::TableViewDataSource,
                                    public ui::TableViewDelegate,
                                    public babyRecordEditDelegate {
 public:
  babyInfoTableViewController();

  void setInfoType(std::string type) { infoType_ = std::move(type); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }

  const std::string& infoType() const { return infoType_; }
  // The records' rows' texts as shown, section after section (the adding rows left out).
  std::vector<std::string> rows() const;
  ui::TableView& infoTable() { return *table_; }

  // Reads the records again.
  void reload();
  // Back: on the tablet tells the delegate (nothing changed), on the phone pops.
  void back();
  // Opens the editor on a new record of the section's kind, or on the record in that row.
  void openRecord(int section, std::optional<size_t> row);

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  int numberOfSectionsInTableView(ui::TableView& table) override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  // A record's row is as tall as its whole text wrapped; the adding rows keep the table's height.
  std::optional<double> heightForRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  void babyRecordEditDone(ui::ViewController& editor, bool changed) override;

 private:
  struct Section {
    const RecordKind* kind;
    std::vector<store::ObjectPtr> records;
  };

  std::string infoType_;
  std::optional<std::string> currentBabyName_;
  std::shared_ptr<store::Context> context_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::vector<Section> sections_;
  std::shared_ptr<ui::TableView> table_;
};

// The current baby's note photos, newest first, one row each (date and picture).
class photoCollectionController : public ui::ViewController, public ui::TableViewDataSource {
 public:
  photoCollectionController();

  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setLocSaves(std::shared_ptr<app::localSaves> saves) { locSaves_ = std::move(saves); }
  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }

  // The photos' keys, newest first (rows whose file is missing are left out).
  const std::vector<std::string>& photoKeys() const { return photoKeys_; }
  ui::TableView& photoTable() { return *table_; }

  void reload();
  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }

 private:
  std::optional<std::string> currentBabyName_;
  std::shared_ptr<store::Context> context_;
  std::shared_ptr<app::localSaves> locSaves_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::vector<std::string> photoKeys_;
  std::vector<std::optional<foundation::Date>> photoDates_;
  std::shared_ptr<ui::TableView> table_;
};

// Registers "baby_navigation_id" (the list in its own navigation controller), "babyListController",
// "addBabyController", "babyInfoTableViewController", "photoCollectionController", and the segues
// "changeBabySegue", "babyInfoTableViewController", "babyInfoTableViewController2" and
// "photoCollectionController" (each to a navigation controller holding the screen), and the tooth
// chart's screens and segues (registerTeethScreens).
void registerBabyScreens(ui::Storyboard& storyboard);

}  // namespace babies
