#pragma once
// Reminders: local notifications the application schedules for a baby and a note type, the list
// that shows them and the screen that picks a reminder's date.
//
//   reminderController --"+"--> note-type chooser (reminder mode) --type--> date screen
//        ^                                                                     | save: schedule
//        +------------ doDismissMeDone(YES): list read again, chooser popped <-+
//
// A reminder is a scheduled local notification whose user info holds "type" (a note-type key) and
// "babyName"; its text is the type's localised name. The application keeps them, so there is no
// file of our own. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "navigation/note_type_chooser.h"
#include "note_editor/note_view_delegate.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/runtime/notification_center.h"
#include "platform/store/context.h"
#include "platform/ui/alert.h"
#include "platform/ui/application.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace navigation {

inline constexpr const char* kRemindersNavId = "remidersNav_id";
inline constexpr const char* kReminderControllerId = "reminderController";
inline constexpr const char* kReminderSegue = "reminderSegue";

inline constexpr std::string_view kReminderErrorDomain = "ReminderErrorDomain";
enum ReminderErrorCode : std::int64_t {
  kReminderNoType = 1,     // no note type, or one the diary does not know
  kReminderNoBaby = 2,     // no baby name
  kReminderInThePast = 3,  // the date is not after now
};

struct Reminder {
  foundation::Date fireDate;
  std::string type;
  std::string babyName;
  friend bool operator==(const Reminder&, const Reminder&) = default;
};

// The reminders among the application's scheduled local notifications.
class ReminderScheduler {
 public:
  // `clock` (must outlive the scheduler) gives now; the main run loop's clock when null.
  explicit ReminderScheduler(ui::Application& application = ui::Application::shared(),
                             const foundation::Clock* clock = nullptr);

  // The reminders, soonest first; only the baby's when a name is given. Notifications that are
  // not reminders (no type or no baby) are left out.
  std::vector<Reminder> reminders(const std::optional<std::string>& babyName = std::nullopt) const;
  // Schedules one, with `alertText` as its text. Refuses an unknown type, an empty baby name or a
  // date that is not after now (an error, nothing scheduled).
  foundation::Status schedule(const Reminder& reminder, const std::string& alertText);
  // Cancels every scheduled notification equal to it.
  void cancel(const Reminder& reminder);

 private:
  ui::Application& application_;
  const foundation::Clock* clock_;
};

// The reminder list of the current baby.
class reminderController : public ui::ViewController,
                           public ui::TableViewDataSource,
                           public ui::TableViewDelegate,
                           public reminderChooseDelegate {
 public:
  explicit reminderController(ChooserServices services = ChooserServices::fromApplication(),
                              const foundation::Clock* clock = nullptr);

  // Kept strongly, as the list answers after its opener may have let go of it.
  void setNoteView_delegate(std::shared_ptr<note_editor::noteViewDelegate> delegate) {
    noteView_delegate_ = std::move(delegate);
  }
  void setCurrentBaby(std::optional<std::string> name) { currentBaby_ = std::move(name); }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }

  const std::vector<Reminder>& reminders() const { return reminders_; }
  ui::TableView& reminderTable() { return *table_; }
  // Reads the scheduled reminders again and reloads the table.
  void refresh();

  // --- Actions
  // "+": pushes the note-type chooser in reminder mode.
  void addReminder();
  // Back: tells the delegate noteViewChildDone(self, NO).
  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  // A swipe-delete cancels the reminder.
  void commitEditingStyle(ui::TableView& table, ui::CellEditingStyle style,
                          const ui::IndexPath& path) override;

  // From the chooser: YES refreshes the list, then the chooser is popped, animated; NO (the date
  // was cancelled) leaves the chooser up.
  void doDismissMeDone(ui::ViewController& sender, bool done) override;

 private:
  ChooserServices services_;
  ReminderScheduler scheduler_;
  std::shared_ptr<note_editor::noteViewDelegate> noteView_delegate_;
  std::optional<std::string> currentBaby_;
  std::shared_ptr<store::Context> context_;
  std::vector<Reminder> reminders_;
  std::shared_ptr<ui::TableView> table_;
  runtime::ObserverToken reminderDidCome_;
  runtime::ObserverToken statusInfo_;
};

// The date screen the chooser pushes in reminder mode: a date picker (from a minute from now)
// and "Save", which schedules the reminder and answers YES; "Cancel" answers NO.
class reminderDateScreen : public reminderChooseDateController {
 public:
  explicit reminderDateScreen(ChooserServices services = ChooserServices::fromApplication(),
                              const foundation::Clock* clock = nullptr);

  ui::DatePicker& datePicker() { return *picker_; }
  // The alert of a refused reminder, while it is on screen.
  const std::shared_ptr<ui::AlertView>& alert() const { return alert_; }

  void save();

  void viewDidLoad() override;

 private:
  ChooserServices services_;
  const foundation::Clock* clock_;
  ReminderScheduler scheduler_;
  std::shared_ptr<ui::DatePicker> picker_;
  std::shared_ptr<ui::AlertView> alert_;
};

// Registers "remidersNav_id" (the list in its own navigation controller), "reminderController",
// the segue "reminderSegue" (to "remidersNav_id"), and "chooseReminderDateController" as
// reminderDateScreen (after registerChooserScreens, whose plain date screen it replaces). `clock`
// (which must outlive the screens) gives them now; the main run loop's clock when null.
void registerReminderScreens(ui::Storyboard& storyboard, const foundation::Clock* clock = nullptr);

}  // namespace navigation
