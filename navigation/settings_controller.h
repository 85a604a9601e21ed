#pragma once
// The settings screen and the measurement units screen it opens.
//
//   settingsController   rows: "Measurement units" (pushes unitsController), "Language" (pushes
//                        languageController), "Report" (pushes the report screen with the store
//                        and the current baby), "Cloud" (pushes the backup screen), "Feedback"
//                        (mail to the support address)
//   unitsController      a row per note type that has more than one unit; a tap moves the type
//                        to its next unit and stores it in the type's ValueType row
//
// Back from the settings: on the tablet the screen tells its noteView_delegate
// noteViewChildDone(self, YES) (stored units may have changed); on the phone it pops. Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "navigation/mail_delegate.h"
#include "note_editor/note_view_delegate.h"
#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace navigation {

inline constexpr const char* kSettingsId = "settingsController";
inline constexpr const char* kSettingsNavId = "settingsNav_id";
inline constexpr const char* kSettingsSegue = "settingsSegue";
inline constexpr const char* kUnitsId = "unitsController";
inline constexpr const char* kReportScreenId = "mail_report_id";
inline constexpr const char* kBackupScreenId = "backUpController";

// What the settings screen hands the report screen before pushing it.
class reportScreenInput {
 public:
  virtual ~reportScreenInput() = default;
  virtual void setManagedObjectContext(std::shared_ptr<store::Context> context) = 0;
  virtual void setCurrentBabyName(std::optional<std::string> name) = 0;
};

class settingsController : public mailDelegate, public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  enum Row { kUnitsRow, kLanguageRow, kReportRow, kBackupRow, kFeedbackRow, kRowCount };

  explicit settingsController(app::NoteEditHelper helper = {});

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }

  ui::TableView& settingsTable() { return *table_; }

  // --- Actions
  void openUnits();
  void openLanguage();
  // Push the screens the storyboard makes under kReportScreenId and kBackupScreenId.
  void openReport();
  void openBackup();
  void sendFeedback();
  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

  // The composer goes once the user is done with it.
  void mailComposeControllerDidFinish(ui::MailComposeViewController& composer, ui::MailComposeResult result,
                                      const std::optional<foundation::Error>& error) override;

 private:
  app::NoteEditHelper helper_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  std::shared_ptr<ui::TableView> table_;
};

class unitsController : public ui::ViewController,
                        public ui::TableViewDataSource,
                        public ui::TableViewDelegate {
 public:
  // The helper's context holds the ValueType rows this screen changes.
  explicit unitsController(app::NoteEditHelper helper = {});

  // The types listed, in the default order.
  const std::vector<std::string>& types() const { return types_; }
  // The type's unit as stored now.
  std::optional<std::string> unitOf(const std::string& type) const;
  ui::TableView& unitsTable() { return *table_; }
  const std::shared_ptr<ui::AlertView>& alert() const { return alert_; }

  // Stores `unit` as the type's current unit: it must be one of notationByTypeId(type). The type's
  // remembered value is converted into it in the same save. A failed save is rolled back and returned.
  foundation::Status setUnit(const std::string& type, const std::string& unit);

  void viewDidLoad() override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }
  // Moves the row's type to its next unit; a failure shows an alert.
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

 private:
  app::NoteEditHelper helper_;
  std::vector<std::string> types_;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::AlertView> alert_;
};

// Registers "settingsController", "settingsNav_id" (it in its own navigation controller), the
// segue "settingsSegue" (to "settingsNav_id") and "unitsController".
void registerSettingsScreens(ui::Storyboard& storyboard);

}  // namespace navigation
