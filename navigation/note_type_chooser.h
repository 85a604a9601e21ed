#pragma once
// The "Categories" screen: the 24 note types as icons, three to a row, in the user's order (read
// again each time it appears, so a new order shows at once). A tap hands the type on:
//
//   note mode      (notes list opens it)    tap -> push the note editor for the type
//   reminder mode  (reminder list pushes it) tap -> push the reminder date screen
//
// Its "Edit" button pushes the order editor. Two first-use badges show here: the Weight icon at
// step 0 (note mode) and the badged "Edit" button at step 3. Everything runs on the main thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/value_texts.h"
#include "note_editor/note_view_delegate.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace navigation {

inline constexpr const char* kAddNoteNavigationId = "add_note_navigation_id";
// The tablet's way to the chooser from its list: "add_note_navigation_id" as a form sheet.
inline constexpr const char* kAddNoteSegue = "addNoteSegue";
inline constexpr const char* kNoteTypeId = "note_type_id";
inline constexpr const char* kChooseReminderDateId = "chooseReminderDateController";
inline constexpr const char* kNoteTypeListEditId = "noteTypeListEditController";

// What the chooser and the order editor need of the application.
struct ChooserServices {
  std::function<app::InterfaceText()> language;
  // The Library folder that holds Settings/"categoriesSequence.txt".
  std::filesystem::path library;
  std::function<std::int32_t()> tutorialState;
  // Sets the step and stores it.
  std::function<foundation::Status(std::int32_t)> setTutorialState;

  // The application delegate's step, its Library, the current interface language.
  static ChooserServices fromApplication();

  std::string localized(std::string_view key) const;
  app::NoteEditHelper helper() const;
  std::int32_t tutorial() const { return tutorialState ? tutorialState() : -1; }
};

// The screen that pushed the chooser in reminder mode, and the chooser itself towards the date screen.
class reminderChooseDelegate {
 public:
  virtual ~reminderChooseDelegate() = default;
  // YES after a reminder was added or changed, NO on cancel; the sender does not close itself.
  virtual void doDismissMeDone(ui::ViewController& sender, bool done) = 0;
};

// The reminder date screen, as far as the chooser uses it: it is given the baby and the type and
// answers its delegate (kept strongly, as the chooser may leave the stack before it answers).
class reminderChooseDateController : public ui::ViewController {
 public:
  void setBabyName(std::optional<std::string> name) { babyName_ = std::move(name); }
  void setTypeId(std::optional<std::string> type) { typeId_ = std::move(type); }
  void setReminderChoose_delegate(std::shared_ptr<reminderChooseDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const std::optional<std::string>& babyName() const { return babyName_; }
  const std::optional<std::string>& typeId() const { return typeId_; }
  const std::shared_ptr<reminderChooseDelegate>& reminderChoose_delegate() const { return delegate_; }

  // The reminder was stored (by the scheduler): tells the delegate YES.
  void reminderSaved();
  // Cancel: tells the delegate NO.
  void cancel();

 private:
  std::optional<std::string> babyName_;
  std::optional<std::string> typeId_;
  std::shared_ptr<reminderChooseDelegate> delegate_;
};

class noteTypeCellDelegate {
 public:
  virtual ~noteTypeCellDelegate() = default;
  virtual void noteTypeFromNum(int index) = 0;
};

// One row of three types; -1 marks an empty column.
class noteTypeCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "cell_id_NoteType";
  noteTypeCell();

  noteTypeCellDelegate* noteTypeCell_delegate = nullptr;
  int leftNum = -1, middleNum = -1, rightNum = -1;
  std::shared_ptr<ui::ImageView> typeImage, typeImage2, typeImage3;
  std::shared_ptr<ui::Label> typeLable, typeLable2, typeLable3;
  bool firstCell = false;

  void touchesBegan(const ui::TouchSet& touches) override;
  void touchesEnded(const ui::TouchSet& touches) override;
  void touchesCancelled(const ui::TouchSet& touches) override;
  // The column under the touch's x picks the index; nothing for -1 or without a delegate.
  void checkPoint(const ui::TouchSet& touches);
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;

 private:
  // Where the touch began, in the window: a finger that moved scrolled the table instead.
  std::optional<graphics::Point> touchStart_;
};

class noteTypeTableController : public ui::ViewController,
                                public ui::TableViewDataSource,
                                public ui::TableViewDelegate,
                                public note_editor::noteViewDelegate,
                                public noteTypeCellDelegate,
                                public reminderChooseDelegate {
 public:
  explicit noteTypeTableController(ChooserServices services);

  // --- Set by the opener before the view loads
  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  // Kept strongly, as the reminder list keeps the chooser's answer path alive.
  void setReminderChoose_delegate(std::shared_ptr<reminderChooseDelegate> delegate) {
    reminderChoose_delegate_ = std::move(delegate);
  }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setForReminders(bool forReminders) { forReminders_ = forReminders; }

  const std::vector<std::string>& noteTypeArray() const { return noteTypeArray_; }
  ui::TableView& typeTable() { return *typeTable_; }
  // The icon of the type: the type's own, but the badged Weight icon at step 0 in note mode.
  ui::ImageRef getImageForTypeID(const std::string& type) const;

  // --- Actions
  void edit();
  void cancel();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;

  void noteTypeFromNum(int index) override;
  void noteViewChildDone(ui::ViewController& child, bool changed) override;
  void noteEditWasClosedAndSaved(ui::ViewController& editor, bool saved) override;
  void doDismissMeDone(ui::ViewController& sender, bool done) override;

 private:
  std::shared_ptr<ui::BarButtonItem> plainEditButton();

  ChooserServices services_;
  app::NoteEditHelper helper_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<reminderChooseDelegate> reminderChoose_delegate_;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  bool forReminders_ = false;
  std::vector<std::string> noteTypeArray_;
  std::shared_ptr<ui::TableView> typeTable_;
};

// Registers the chooser ("note_type_id", and in its own navigation controller
// "add_note_navigation_id") and the order editor ("noteTypeListEditController").
void registerChooserScreens(ui::Storyboard& storyboard, std::function<ChooserServices()> services);

}  // namespace navigation
