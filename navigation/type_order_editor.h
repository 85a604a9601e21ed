#pragma once
// The note-type order editor: the 24 types in a table that is always reordering (rows move, none
// is deleted or added). Whenever the screen goes away (back button or done) the whole order is
// written to Library/Settings/"categoriesSequence.txt"; the chooser reads it when it comes back.
// A write that fails leaves the old file as it was (the write is atomic) and an alert says so.
// At first-use step 3 the screen moves the step to 4 and plays the badge animation once.

#include <memory>
#include <string>
#include <vector>

#include "navigation/note_type_chooser.h"
#include "platform/ui/table_view_controller.h"

namespace navigation {

class noteTypeListEditCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "noteTypeListEditCell";
  noteTypeListEditCell();

  std::shared_ptr<ui::ImageView> typeImg;
  std::shared_ptr<ui::Label> typeId;
  bool firstCell = false;
  bool lastCell = false;

  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class noteTypeListEditController : public ui::TableViewController,
                                   public ui::TableViewDataSource,
                                   public ui::TableViewDelegate {
 public:
  explicit noteTypeListEditController(ChooserServices services);

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  const std::vector<std::string>& typeMutArray() const { return typeMutArray_; }
  // The badge of the first-use step, while the screen shows it (null otherwise).
  ui::ImageView* badgeView() const { return badge_.get(); }

  // Writes the order; a failure shows an alert and the file keeps the old order.
  foundation::Status saveListSettings();
  void done();
  // Shows the order being edited again.
  void typeListSwitchChanged();

  void viewDidLoad() override;
  void viewWillDisappear(bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canMoveRowAtIndexPath(ui::TableView& /*table*/, const ui::IndexPath& /*path*/) override {
    return true;
  }
  void moveRowAtIndexPath(ui::TableView& table, const ui::IndexPath& from, const ui::IndexPath& to) override;
  ui::CellEditingStyle editingStyleForRowAtIndexPath(ui::TableView& /*table*/,
                                                     const ui::IndexPath& /*path*/) override {
    return ui::CellEditingStyle::kNone;
  }
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;

 private:
  void playBadgeStep();

  ChooserServices services_;
  app::NoteEditHelper helper_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::vector<std::string> typeMutArray_;
  std::shared_ptr<ui::ImageView> badge_;
};

}  // namespace navigation
