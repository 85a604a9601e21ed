#pragma once
// Table views: sections of rows shown as cells, driven through a data source (what is there) and a
// delegate (how it looks and what a tap does). Only the rows inside the visible bounds have cells;
// scrolling (the bounds' origin) asks for more and keeps the ones that leave for reuse, by their
// reuse identifier. Selection, swipe-delete, editing and moving rows reach the data source and the
// delegate as the user's gestures would; row updates are checked against the data source's counts
// (an update that does not add up is logged and the table reloads instead).
//
// A table is a scroll view (scroll_view.h): a finger or the wheel moves it and it stops at its ends.
// What an owner that loads its rows in bunches hooks on, in the delegate:
//   - willDisplayCell: a row is about to come on screen (by a scroll, a reload or an update), once
//     the table is consistent again; it may reload the table from here.
//   - scrollViewDidScroll: the content offset changed (finger, wheel or code); indexPathsForVisibleRows
//     then says what is on screen.
// A touch that moved 10 points is a drag, never a tap on a row. A finger drawn to the left across a
// row that may be deleted is a swipe (taken before a side menu's pan around the list). A swiped row,
// or one whose editing control was tapped, shows a "Delete" button on its right edge, a real button
// inside the cell: a tap on it commits the deletion through the data source; a touch anywhere else
// hides it (on the table that touch does nothing more, elsewhere it goes on to what it touched).
//
// In editing mode a row carries its editing controls, real controls inside its cell that `look`
// and a finger find: at its left edge the delete (or insert) control when the data source lets it
// be edited and the delegate's style for it is not none, and at its right edge the reorder control
// when the data source lets it move. A tap on the delete control shows the row's Delete button; a
// finger that drags the reorder control carries the row along and drops it where it is let go
// (the other rows keep their places until then); a drag anywhere else scrolls as ever.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/platform_texts.h"
#include "platform/ui/scroll_view.h"

namespace ui {

class TableView;
class TableViewCell;

struct IndexPath {
  int section = 0;
  int row = 0;
  friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

enum class TableViewStyle { kPlain = 0, kGrouped = 1 };
enum class CellStyle { kDefault = 0, kValue1 = 1, kValue2 = 2, kSubtitle = 3 };
// The platform's values.
enum class CellEditingStyle { kNone = 0, kDelete = 1, kInsert = 2 };
enum class CellSelectionStyle { kNone = 0, kBlue = 1, kGray = 2, kDefault = 3 };
enum class CellAccessoryType {
  kNone = 0,
  kDisclosureIndicator = 1,
  kDetailDisclosureButton = 2,
  kCheckmark = 3
};
enum class SeparatorStyle { kNone = 0, kSingleLine = 1 };
enum class RowAnimation {
  kFade = 0,
  kRight = 1,
  kLeft = 2,
  kTop = 3,
  kBottom = 4,
  kNone = 5,
  kMiddle = 6,
  kAutomatic = 100
};
enum class ScrollPosition { kNone = 0, kTop = 1, kMiddle = 2, kBottom = 3 };

class TableViewCell : public View {
 public:
  explicit TableViewCell(CellStyle style = CellStyle::kDefault, std::string reuseIdentifier = "");

  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  CellStyle cellStyle() const { return style_; }
  // The view the cell's content goes into; it fills the cell.
  View& contentView() { return *contentView_; }
  // Made on first use, inside the content view.
  Label& textLabel();
  Label& detailTextLabel();
  ImageView& imageView();

  CellAccessoryType accessoryType() const { return accessory_; }
  void setAccessoryType(CellAccessoryType type);
  CellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(CellSelectionStyle style) { selectionStyle_ = style; }

  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted, bool animated);
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated);
  // The delete button shown after a swipe.
  bool showsDeleteConfirmation() const { return showsDeleteConfirmation_; }
  // While the table edits: the control at the row's left edge (null when the row shows none) and
  // the reorder control at its right edge (null when the row cannot move). Owned by the cell.
  Button* editingControl() const { return editingControl_.get(); }
  View* reorderControl() const { return reorderControl_.get(); }
  // Called before the table hands out the cell again.
  virtual void prepareForReuse() {}

  void layoutSubviews() override;

 private:
  friend class TableView;
  CellStyle style_;
  std::string reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<Label> detailTextLabel_;
  std::shared_ptr<ImageView> imageView_;
  CellAccessoryType accessory_ = CellAccessoryType::kNone;
  // Draws the accessory at the row's right edge; none while the row has no accessory.
  std::shared_ptr<View> accessoryMark_;
  CellSelectionStyle selectionStyle_ = CellSelectionStyle::kDefault;
  bool selected_ = false;
  bool highlighted_ = false;
  bool editing_ = false;
  bool showsDeleteConfirmation_ = false;
  // The controls for the row's editing style (none: no control) and its moving; `rowText` names
  // them for a person ("Delete Meat", "Reorder Sleep").
  void showEditingControls(CellEditingStyle style, bool movable, const std::string& rowText);
  std::shared_ptr<Button> editingControl_;
  std::shared_ptr<View> reorderControl_;
};

// Non-owning, both.
class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfSectionsInTableView(TableView& /*table*/) { return 1; }
  virtual int numberOfRowsInSection(TableView& table, int section) = 0;
  // A null cell is logged and shown as an empty cell.
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& path) = 0;
  // A plain header with this title when the delegate gives no header view.
  virtual std::optional<std::string> titleForHeaderInSection(TableView& /*table*/, int /*section*/) {
    return std::nullopt;
  }
  // Whether the row may be deleted (or inserted) at all; a source that edits nothing answers false.
  virtual bool canEditRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) { return true; }
  virtual void commitEditingStyle(TableView& /*table*/, CellEditingStyle /*style*/,
                                  const IndexPath& /*path*/) {}
  virtual bool canMoveRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) { return false; }
  // The user moved a row: the source updates its model; the table has moved the row already.
  virtual void moveRowAtIndexPath(TableView& /*table*/, const IndexPath& /*from*/, const IndexPath& /*to*/) {}
};

class TableViewDelegate : public ScrollViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  // Nothing: the table's own height (rowHeight, or sectionHeaderHeight when there is a header).
  virtual std::optional<double> heightForRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {
    return std::nullopt;
  }
  virtual std::optional<double> heightForHeaderInSection(TableView& /*table*/, int /*section*/) {
    return std::nullopt;
  }
  virtual std::optional<double> heightForFooterInSection(TableView& /*table*/, int /*section*/) {
    return std::nullopt;
  }
  virtual std::shared_ptr<View> viewForHeaderInSection(TableView& /*table*/, int /*section*/) {
    return nullptr;
  }
  virtual std::shared_ptr<View> viewForFooterInSection(TableView& /*table*/, int /*section*/) {
    return nullptr;
  }
  virtual void willDisplayCell(TableView& /*table*/, TableViewCell& /*cell*/, const IndexPath& /*path*/) {}
  // The row to select instead, or nothing to select none.
  virtual std::optional<IndexPath> willSelectRowAtIndexPath(TableView& /*table*/, const IndexPath& path) {
    return path;
  }
  virtual void didSelectRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {}
  virtual void didDeselectRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {}
  virtual CellEditingStyle editingStyleForRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {
    return CellEditingStyle::kDelete;
  }
  virtual std::string titleForDeleteConfirmationButton(TableView& /*table*/, const IndexPath& /*path*/) {
    return platformText("Delete");
  }
  // Where a dragged row may go; the proposed place by default.
  virtual IndexPath targetIndexPathForMove(TableView& /*table*/, const IndexPath& /*from*/,
                                           const IndexPath& proposed) {
    return proposed;
  }
  virtual void willBeginEditingRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {}
  virtual void didEndEditingRowAtIndexPath(TableView& /*table*/, const IndexPath& /*path*/) {}
};

class TableView : public ScrollView {
 public:
  using CellFactory = std::function<std::shared_ptr<TableViewCell>()>;

  explicit TableView(const Rect& frame = Rect(), TableViewStyle style = TableViewStyle::kPlain);

  TableViewStyle style() const { return style_; }
  TableViewDataSource* dataSource() const { return dataSource_; }
  void setDataSource(TableViewDataSource* source) { dataSource_ = source; }
  TableViewDelegate* delegate() const { return delegate_; }
  // Also the scroll delegate.
  void setDelegate(TableViewDelegate* delegate) {
    delegate_ = delegate;
    setScrollDelegate(delegate);
  }

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height) { rowHeight_ = height; }
  double sectionHeaderHeight() const { return headerHeight_; }
  void setSectionHeaderHeight(double height) { headerHeight_ = height; }
  double sectionFooterHeight() const { return footerHeight_; }
  void setSectionFooterHeight(double height) { footerHeight_ = height; }
  SeparatorStyle separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(SeparatorStyle style) { separatorStyle_ = style; }
  // Views above the first section and below the last; their heights are their frames'.
  const std::shared_ptr<View>& tableHeaderView() const { return tableHeader_; }
  void setTableHeaderView(std::shared_ptr<View> view);
  const std::shared_ptr<View>& tableFooterView() const { return tableFooter_; }
  void setTableFooterView(std::shared_ptr<View> view);
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool allows) { allowsSelection_ = allows; }
  bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
  void setAllowsSelectionDuringEditing(bool allows) { allowsSelectionDuringEditing_ = allows; }

  // Cell prototypes: the factory makes a new cell of the identifier when none waits for reuse.
  void registerCell(std::string identifier, CellFactory factory);
  // A cell waiting for reuse (after prepareForReuse), else a new one from the registered factory;
  // null when neither exists.
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

  // Asks the data source and the delegate for everything again; the selection goes.
  void reloadData();
  bool hasLoaded() const { return loaded_; }
  // As last loaded.
  int numberOfSections() const { return static_cast<int>(sections_.size()); }
  int numberOfRowsInSection(int section) const;

  // Row updates, checked against the data source's new counts. Inside beginUpdates/endUpdates they
  // apply together at endUpdates: deletions and reloads name rows as they were, insertions as they
  // will be.
  void beginUpdates();
  void endUpdates();
  void insertRowsAtIndexPaths(const std::vector<IndexPath>& paths,
                              RowAnimation animation = RowAnimation::kAutomatic);
  void deleteRowsAtIndexPaths(const std::vector<IndexPath>& paths,
                              RowAnimation animation = RowAnimation::kAutomatic);
  void reloadRowsAtIndexPaths(const std::vector<IndexPath>& paths,
                              RowAnimation animation = RowAnimation::kAutomatic);
  void insertSections(const std::vector<int>& sections, RowAnimation animation = RowAnimation::kAutomatic);
  void deleteSections(const std::vector<int>& sections, RowAnimation animation = RowAnimation::kAutomatic);
  void reloadSections(const std::vector<int>& sections, RowAnimation animation = RowAnimation::kAutomatic);
  void moveRowAtIndexPath(const IndexPath& from, const IndexPath& to);

  // Geometry, in the table's content coordinates.
  Rect rectForRowAtIndexPath(const IndexPath& path) const;
  Rect rectForHeaderInSection(int section) const;
  Rect rectForFooterInSection(int section) const;
  std::optional<IndexPath> indexPathForRowAtPoint(Point point) const;
  std::optional<IndexPath> indexPathForCell(const TableViewCell* cell) const;
  Size contentSize() const override;
  void scrollToRowAtIndexPath(const IndexPath& path, ScrollPosition position, bool animated = false);

  // The cells and headers on screen now.
  TableViewCell* cellForRowAtIndexPath(const IndexPath& path) const;
  std::vector<TableViewCell*> visibleCells() const;
  std::vector<IndexPath> indexPathsForVisibleRows() const;
  View* headerViewForSection(int section) const;
  View* footerViewForSection(int section) const;

  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  // From code: no delegate callbacks.
  void selectRowAtIndexPath(std::optional<IndexPath> path, bool animated,
                            ScrollPosition position = ScrollPosition::kNone);
  void deselectRowAtIndexPath(const IndexPath& path, bool animated);
  // A tap on a row as the user makes it: willSelect, the old selection's deselection, didSelect.
  // False when nothing was selected (selection off, a refusing delegate, a delete button to close).
  bool tapRowAtIndexPath(const IndexPath& path);

  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated);
  // A swipe across a row as the user makes it (outside editing mode): shows the delete button when
  // the data source lets the row be edited and the delegate's style for it is delete.
  bool swipeToDeleteRowAtIndexPath(const IndexPath& path);
  // In editing mode, a tap on a row's editing control: a delete style shows the delete button, an
  // insert style commits the insertion.
  bool tapEditingControlAtIndexPath(const IndexPath& path);
  std::optional<IndexPath> deleteConfirmationIndexPath() const { return deleteConfirmation_; }
  std::string deleteConfirmationButtonTitle() const;
  // The delete button while it shows (inside the row's cell), else null.
  Button* deleteConfirmationButton() const { return deleteButton_ && deleteButton_->superview() ? deleteButton_.get() : nullptr; }
  // The delete button: the data source commits the deletion.
  bool tapDeleteConfirmationButton();
  // Closes the delete button without deleting (a touch somewhere else on the screen).
  void hideDeleteConfirmationButton() { hideDeleteConfirmation(); }
  // In editing mode, a row dragged by its reorder control from one place to another.
  bool moveRowByUser(const IndexPath& from, const IndexPath& to);
  // A finger on a row's reorder control, as the control reports it, at points of the table's
  // content: the drag began (the row is remembered, with where the finger holds it), moved (the row
  // follows, within the part of the list in sight; a finger past the list's edge pushes the list
  // on by as far as it went past, up to the content's end), ended (the row goes where its middle
  // lies) or was cancelled (the row goes back). False when the cell is not a row that may move now.
  bool beginReorder(TableViewCell& cell, Point finger);
  void followReorder(Point finger);
  void endReorder(bool drop);
  // The row being carried by a finger, if any.
  std::optional<IndexPath> reorderingIndexPath() const;

  void setFrame(const Rect& frame) override;
  void layoutSubviews() override;
  void touchesBegan(const TouchSet& touches) override;
  void touchesMoved(const TouchSet& touches) override;
  void touchesEnded(const TouchSet& touches) override;
  void touchesCancelled(const TouchSet& touches) override;

 protected:
  void contentOffsetDidChange() override { tile(); }

 private:
  struct Section {
    int rows = 0;
    double top = 0;
    double headerHeight = 0;
    double footerHeight = 0;
    std::vector<double> rowHeights;
    std::shared_ptr<View> header;  // made when its height was decided, or when first shown
    std::shared_ptr<View> footer;
    bool headerAsked = false;
    bool footerAsked = false;
  };
  struct Update {
    std::vector<IndexPath> deletes;
    std::vector<IndexPath> inserts;
    std::vector<IndexPath> reloads;
    std::vector<int> deleteSections;
    std::vector<int> insertSections;
    std::vector<int> reloadSections;
    std::vector<std::pair<IndexPath, IndexPath>> moves;
    bool empty() const;
  };
  // Where an update takes what is on screen.
  struct UpdatePlan {
    std::vector<int> sectionMap;            // old section to new, -1 when deleted
    std::map<IndexPath, IndexPath> rowMap;  // old row to new, for rows that stay or move
    std::set<IndexPath> reloaded;           // rows (as they were) that get new cells
    std::set<int> reloadedSections;         // sections (as they were) that get new cells
  };
  using CellMap = std::map<IndexPath, std::shared_ptr<TableViewCell>>;
  using ShownCells = std::vector<std::pair<IndexPath, std::shared_ptr<TableViewCell>>>;

  bool isValid(const IndexPath& path) const;
  void loadStructure();
  void computeSection(int s, double& y);
  void relayoutOffsets();
  // Tiling, step by step.
  void tile();
  static bool overlaps(const Rect& visibleRect, const Rect& rect);
  CellMap keepCellsOnScreen(const Rect& visibleRect);
  std::shared_ptr<TableViewCell> newCellFor(const IndexPath& path, CellMap& next);
  void placeRows(const Rect& visibleRect, CellMap& next, ShownCells& shown);
  void placeSupplementaryViews(const Rect& visibleRect, std::map<int, std::shared_ptr<View>>& shownViews,
                               bool header);
  void placeTableHeaderAndFooter();
  void announceShownCells(const ShownCells& shown);
  void enqueue(const std::shared_ptr<TableViewCell>& cell);
  std::shared_ptr<View> headerFor(int section);
  std::shared_ptr<View> footerFor(int section);
  // Updates: checked and planned first (an empty text means sound), then carried out.
  void apply(Update update);
  std::string planSections(const Update& update, UpdatePlan& plan);
  std::string planRows(const Update& update, UpdatePlan& plan);
  void carryOver(const UpdatePlan& plan);
  void hideDeleteConfirmation();
  void showDeleteConfirmation(const IndexPath& path);
  // The finger's swipe to the left across a row that offers its Delete button.
  void installRowSwipe();
  // Puts the delete button into the confirmed row's cell while it is on screen.
  void placeDeleteButton();
  // Gives the cell of a row the editing controls the data source and the delegate allow it now.
  void configureEditingControls(TableViewCell& cell, const IndexPath& path);
  // Where a row carried from `from` goes when it lies at `carried` in the content: in the section
  // whose rows lie nearest, after every other row whose middle its leading edge passed.
  std::optional<IndexPath> dropPlaceFor(const Rect& carried, const IndexPath& from) const;

  TableViewStyle style_;
  TableViewDataSource* dataSource_ = nullptr;
  TableViewDelegate* delegate_ = nullptr;
  double rowHeight_ = 44;
  double headerHeight_;
  double footerHeight_;
  SeparatorStyle separatorStyle_ = SeparatorStyle::kSingleLine;
  std::shared_ptr<View> tableHeader_;
  std::shared_ptr<View> tableFooter_;
  bool allowsSelection_ = true;
  bool allowsSelectionDuringEditing_ = false;

  std::map<std::string, CellFactory> factories_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
  bool loaded_ = false;
  // Counts reloads, so that a move can tell whether the data source reloaded meanwhile.
  unsigned reloads_ = 0;
  std::vector<Section> sections_;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
  std::map<int, std::shared_ptr<View>> visibleHeaders_;
  std::map<int, std::shared_ptr<View>> visibleFooters_;
  std::optional<IndexPath> selected_;
  bool editing_ = false;
  std::optional<IndexPath> deleteConfirmation_;
  int updateDepth_ = 0;
  Update pending_;
  bool tiling_ = false;
  std::shared_ptr<Button> deleteButton_;
  // A touch on the table: where it began (in the table's content) and whether it moved too far to
  // be a tap.
  std::optional<Point> touchStart_;
  bool touchMoved_ = false;
  // A row carried by its reorder control: where it was, how far below the cell's top the finger
  // holds it, and the list's offset when the drag began.
  struct Reorder {
    IndexPath from;
    std::weak_ptr<TableViewCell> cell;
    double grip = 0;
    double startOffset = 0;
  };
  std::optional<Reorder> reorder_;
};

}  // namespace ui
