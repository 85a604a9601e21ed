#pragma once
// The sub-value list editor: the note editor opens it on a type's sub-value row to pick the note's
// sub-value and to search, add, rename and delete the type's sub-values.
//
//   note editor --push--> strValueListEditController --push (editing)--> strValueEditController
//        ^                        | back button: replace the type's StrValue rows, save,
//        +---- chosen text -------+ then hand the chosen text back (the editor pops this screen)
//
// The edited list lives in a SubValueList until the back button; nothing reaches the store before.
// Promises: a new text is trimmed before the empty and duplicate checks, so adding never makes an
// empty entry nor a second copy of a listed one; a rename refuses only an empty text. The chosen
// text is only ever changed by a pick or an add: renaming or deleting its entry here leaves it as
// it was, so the note keeps the sub-value it had. A failed save rolls the context back, so the
// shared context never holds a half-replaced list, and shows an alert; the chosen text still goes
// back to the note. Everything runs on the main thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/flat_widgets.h"
#include "app/note_edit_helper.h"
#include "note_editor/note_editor.h"
#include "note_editor/note_view_delegate.h"
#include "platform/runtime/notification_center.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/table_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace note_editor {

inline constexpr const char* kStrValueEditControllerId = "strValueEditController";
// The search field's placeholder: the field searches and names a new sub-value.
inline constexpr std::string_view kSearchPlaceholderKey = "Search";

// The list being edited, the rows the search shows and the chosen entry.
class SubValueList {
 public:
  enum class Outcome { kDone, kEmpty, kDuplicate, kUnknown };

  // The chosen entry, when the list holds it, is shown first until the first search.
  SubValueList(std::vector<std::string> values, std::optional<std::string> chosen);

  const std::vector<std::string>& values() const { return values_; }
  const std::vector<std::string>& shown() const { return shown_; }
  // What the note editor gets back: the last text picked or added, or the one it came with; nothing
  // when there was none.
  const std::optional<std::string>& chosen() const { return chosen_; }

  // Shows the entries that begin with the text, ignoring case, in list order; all for no text.
  void search(std::string_view text);
  // Trims the text; an empty or an already listed text changes nothing. Else it goes on top and is
  // chosen. The search is cleared.
  Outcome add(std::string_view typed);
  // Trims the new text, which must not be empty; it may equal another entry. The renamed entry
  // moves to the top; the chosen text stays as it was, even when it was the old one.
  Outcome rename(std::string_view old, std::string_view typed);
  // By row of the shown rows; a row outside them (a stale tap) does nothing and returns false.
  bool removeShownRow(int row);
  bool chooseShownRow(int row);
  std::optional<std::string> shownRow(int row) const;

 private:
  std::vector<std::string> values_;
  std::vector<std::string> shown_;
  std::string search_;
  std::optional<std::string> chosen_;
};

// One row: the text, a check mark on the chosen one, hairlines.
class strValueCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "cell_id_strValueCell";
  strValueCell();

  std::shared_ptr<ui::Label> strValueLable;
  std::shared_ptr<ui::ImageView> checkMarkImg;
  int cellNum = 0;
  bool firstInSection = false;
  bool lastInSection = false;
  // The row holds the chosen sub-value (and the list is not being edited): the tick shows. Kept
  // apart from the table's own selection, which the table resets whenever it shows a row.
  bool chosen = false;

  void setSelected(bool selected, bool animated) override;
  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

class strValueListEditController : public ui::ViewController,
                                   public subValueListScreen,
                                   public ui::TableViewDataSource,
                                   public ui::TableViewDelegate,
                                   public ui::TextFieldDelegate {
 public:
  explicit strValueListEditController(EditorServices services);
  ~strValueListEditController() override;

  // --- Set by the note editor before the view loads
  void setValues(std::vector<std::string> values) override { values_ = std::move(values); }
  void setStrCurrent(std::optional<std::string> current) override { strCurrent_ = std::move(current); }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) override {
    context_ = std::move(context);
  }
  void setNoteInputDelegate(noteInputDelegate* delegate) override { delegate_ = delegate; }
  void setNote_Type(std::optional<std::string> type) override { note_Type_ = std::move(type); }
  void setScreenTitle(std::string title) override { setTitle(std::move(title)); }

  // The edited list (after the view loaded).
  const SubValueList& list() const { return *list_; }
  ui::TableView& valueTable() { return *valueTable_; }
  ui::TextField& searchTextField() { return *searchTextField_; }
  ui::Button& addButton() { return *addButton_; }

  // --- Actions
  void addNew();
  void editValueTable();
  // The back button: replaces the type's stored sub-values and hands the chosen one back.
  void done();
  // From the rename screen; pops it. False, and the rename screen stays, when the new text is
  // empty (an alert says so).
  bool closeStrValueEditorWithOldStrAndNewStr(const std::string& old, const std::string& typed);
  void updateTable();

  void viewDidLoad() override;
  void setEditing(bool editing, bool animated) override;

  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  bool canEditRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  void commitEditingStyle(ui::TableView& table, ui::CellEditingStyle style,
                          const ui::IndexPath& path) override;
  void willDisplayCell(ui::TableView& table, ui::TableViewCell& cell, const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;
  bool textFieldShouldReturn(ui::TextField& field) override;

 private:
  std::string localized(std::string_view key) const;
  void alert(std::string_view key);
  // Replaces the StrValue rows of the type by the list; on failure the context is rolled back.
  foundation::Status replaceStoredValues();

  EditorServices services_;
  app::NoteEditHelper helper_;
  std::vector<std::string> values_;
  std::optional<std::string> strCurrent_;
  std::shared_ptr<store::Context> context_;
  noteInputDelegate* delegate_ = nullptr;
  std::optional<std::string> note_Type_;
  std::unique_ptr<SubValueList> list_;
  std::vector<runtime::ObserverToken> observers_;

  std::shared_ptr<ui::TextField> searchTextField_;
  std::shared_ptr<ui::Button> addButton_;
  std::shared_ptr<app::lineDrawerView> fieldDrawerView_;
  std::shared_ptr<ui::TableView> valueTable_;
};

// The rename screen: one text field.
class strValueEditController : public ui::ViewController {
 public:
  std::shared_ptr<strValueListEditController> strValueListCtrl;
  std::string textForField;

  ui::TextField& textField() { return *textField_; }
  void viewDidLoad() override;
  // Trims the text; the list screen decides and pops this one when it takes the rename.
  void back();

 private:
  std::shared_ptr<ui::TextField> textField_;
  std::shared_ptr<app::lineDrawerView> fieldDrawerView_;
};

// Registers "strValueListEdit" and "strValueEditController".
void registerSubValueScreens(ui::Storyboard& storyboard, std::function<EditorServices()> services);

}  // namespace note_editor
