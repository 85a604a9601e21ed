#pragma once
// The rows of the notes list. The list fills the subviews and sets the position switches; each
// row fills itself white and draws its own hairlines (0.5 points, no antialiasing, the flat grey):
//
//   iPhoneNoteCell        a note with a value      bottom line, from the inset unless last of its day
//   iPhoneNoteNoticeCell  a free-text note         the same
//   iPhoneTimerNoteCell   a running timer          a top line when first, then the same bottom line
//   iPhoneSumNoteCell     one type's day totals    one full-width line under the day's last row only
//
// The inset keeps the icon column open between the rows of one day.

#include <cstddef>
#include <memory>

#include "platform/ui/controls.h"
#include "platform/ui/table_view.h"

namespace notes_list {

// The separator inset: where the lines inside a day start.
double listSeparatorInset(bool iPad);

// Where a range of the label's text (in UTF-16 units) lies, in the label's superview: laid out in
// the label's size, then moved to the label's left edge, centre or right edge as its alignment
// says (other alignments keep the layout's x).
graphics::Rect boundingRectForCharacterRange(const ui::Label& label, std::size_t utf16Start,
                                             std::size_t utf16Length);

// A row with a bottom line that starts at the inset unless it ends its day.
class listRowCell : public ui::TableViewCell {
 public:
  listRowCell(std::string identifier, bool iPad);

  bool lastCellInSection = false;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;

 protected:
  bool iPad_;
};

class iPhoneNoteCell : public listRowCell {
 public:
  static constexpr const char* kIdentifier = "iPhoneNoteCell";
  explicit iPhoneNoteCell(bool iPad = false);
  void layoutSubviews() override;

  std::shared_ptr<ui::Label> typeLable, mainLable, notesLable, toTimeLable, durationTimeLable;
  std::shared_ptr<ui::ImageView> mainImage, photoForCellImage;
};

class iPhoneNoteNoticeCell : public listRowCell {
 public:
  static constexpr const char* kIdentifier = "iPhoneNoteNoticeCell";
  explicit iPhoneNoteNoticeCell(bool iPad = false);
  void layoutSubviews() override;

  std::shared_ptr<ui::Label> typeLable, mainLable, toTimeLable;
  std::shared_ptr<ui::ImageView> mainImage, photoForCellImage;
};

class iPhoneTimerNoteCell : public listRowCell {
 public:
  static constexpr const char* kIdentifier = "iPhoneTimerNoteCell";
  explicit iPhoneTimerNoteCell(bool iPad = false);
  void layoutSubviews() override;

  bool firstCellInSection = false;
  std::shared_ptr<ui::Label> typeLable;
  std::shared_ptr<ui::ImageView> typeImage, timerImage;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
};

// The rounded backdrop (countImage) is fitted to the totals text whenever the row is laid out,
// and hidden while there is no text.
class iPhoneSumNoteCell : public ui::TableViewCell {
 public:
  static constexpr const char* kIdentifier = "iPhoneSumNoteCell";
  explicit iPhoneSumNoteCell(bool iPad = false);
  void layoutSubviews() override;

  bool lastCellInSection = false;
  std::shared_ptr<ui::Label> typeLable, countLable;
  std::shared_ptr<ui::ImageView> typeImage, countImage;

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;

 private:
  bool iPad_;
};

}  // namespace notes_list
