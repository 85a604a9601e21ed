#pragma once
// The editor of one record of a baby (an allergy, an information text or a contact): a text field
// per field of its kind, "Cancel" and "Done" in the bar, and for a stored record a "Delete" that asks
// first. "Done" stores through BabyRecords; a refused or failed save shows an alert and the screen
// stays with what was typed. The return key goes on to the next field and closes the keyboard after
// the last. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "babies/baby_records.h"
#include "platform/store/context.h"
#include "platform/ui/alert.h"
#include "platform/ui/controls.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace babies {

// Told when the editor closes.
class babyRecordEditDelegate {
 public:
  virtual ~babyRecordEditDelegate() = default;
  // `changed`: a record was added, changed or deleted. The receiver takes the editor away.
  virtual void babyRecordEditDone(ui::ViewController& editor, bool changed) = 0;
};

class babyRecordEditController : public ui::ViewController,
                                 public ui::TextFieldDelegate,
                                 public ui::ActionSheetDelegate {
 public:
  // A new record of the kind for the baby, or the given one.
  babyRecordEditController(const RecordKind& kind, std::shared_ptr<store::Context> context,
                           std::optional<std::string> babyName, store::ObjectPtr record = nullptr);

  void setRecordEdit_delegate(babyRecordEditDelegate* delegate) { delegate_ = delegate; }

  const std::vector<std::shared_ptr<ui::TextField>>& fields() const { return fields_; }
  const std::shared_ptr<ui::AlertView>& alert() const { return alert_; }

  // --- Actions
  void save();
  void cancel();
  // Asks first (a sheet with the destructive "Delete"), then deletes; only for a stored record.
  void deleteRecord();

  void viewDidLoad() override;
  bool textFieldShouldReturn(ui::TextField& field) override;
  void actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) override;

 private:
  void finish(bool changed);
  void showAlert(const foundation::Error& error);

  const RecordKind& kind_;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> babyName_;
  store::ObjectPtr record_;
  babyRecordEditDelegate* delegate_ = nullptr;
  std::vector<std::shared_ptr<ui::TextField>> fields_;
  std::shared_ptr<ui::AlertView> alert_;
  std::shared_ptr<ui::ActionSheet> sheet_;
};

}  // namespace babies
