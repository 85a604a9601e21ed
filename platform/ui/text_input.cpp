#include "platform/ui/text_input.h"

#include <algorithm>

#include "platform/graphics/text_measure.h"
#include "platform/runtime/notification_center.h"

namespace ui {

namespace {

// Drops the last UTF-8 character (a whole code point, however many bytes it takes).
void dropLastCharacter(std::string& text) {
  if (text.empty()) return;
  size_t i = text.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
  text.erase(i);
}

std::string masked(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  std::string out;
  for (size_t i = 0; i < count; ++i) out += "\u2022";
  return out;
}

}  // namespace

// ------------------------------------------------------------------------------------------ TextField

TextField::TextField() = default;

TextField::TextField(const Rect& frame) : Control(frame) {}

void TextField::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void TextField::setPlaceholder(std::string placeholder) {
  placeholder_ = std::move(placeholder);
  setNeedsDisplay();
}

void TextField::setFont(Font font) {
  font_ = std::move(font);
  setNeedsDisplay();
}

void TextField::setTextColor(const Color& color) {
  textColor_ = color;
  setNeedsDisplay();
}

void TextField::textChanged() {
  setNeedsDisplay();
  auto keep = weak_from_this().lock();
  sendActionsForControlEvents(kControlEventEditingChanged);
  runtime::NotificationCenter::defaultCenter().post(std::string(kTextFieldTextDidChangeNotification), this);
}

void TextField::insertText(const std::string& text) {
  if (!isFirstResponder() && !becomeFirstResponder()) return;
  text_ += text;
  textChanged();
}

void TextField::deleteBackward() {
  if (!isFirstResponder() || text_.empty()) return;
  dropLastCharacter(text_);
  textChanged();
}

void TextField::tapReturnKey() {
  if (!isFirstResponder()) return;
  auto keep = weak_from_this().lock();
  bool agreed = delegate_ ? delegate_->textFieldShouldReturn(*this) : true;
  if (agreed) sendActionsForControlEvents(kControlEventEditingDidEndOnExit);
}

void TextField::tapClearButton() {
  if (delegate_ && !delegate_->textFieldShouldClear(*this)) return;
  if (text_.empty()) return;
  text_.clear();
  textChanged();
}

bool TextField::shouldBecomeFirstResponder() {
  return delegate_ ? delegate_->textFieldShouldBeginEditing(*this) : true;
}

bool TextField::shouldResignFirstResponder() {
  return delegate_ ? delegate_->textFieldShouldEndEditing(*this) : true;
}

void TextField::didBecomeFirstResponder() {
  auto keep = weak_from_this().lock();
  if (delegate_) delegate_->textFieldDidBeginEditing(*this);
  sendActionsForControlEvents(kControlEventEditingDidBegin);
  setNeedsDisplay();
}

void TextField::didResignFirstResponder() {
  auto keep = weak_from_this().lock();
  if (delegate_) delegate_->textFieldDidEndEditing(*this);
  sendActionsForControlEvents(kControlEventEditingDidEnd);
  setNeedsDisplay();
}

void TextField::touchEndedInside(Point /*location*/) { becomeFirstResponder(); }

void TextField::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  bool showPlaceholder = text_.empty();
  const std::string shown = showPlaceholder ? placeholder_ : (secure_ ? masked(text_) : text_);
  if (shown.empty()) return;
  graphics::AttributedText t(shown, font_, showPlaceholder ? placeholderColor_ : textColor_, alignment_,
                             LineBreakMode::kTruncateTail);
  double h = graphics::defaultTextMeasurer()->measure(t, 0).size.height;
  Rect b = bounds();
  canvas.drawText(t, Rect(b.x(), b.y() + (b.height() - h) / 2, b.width(), h));
}

// ------------------------------------------------------------------------------------------- TextView

TextView::TextView() = default;

TextView::TextView(const Rect& frame) : View(frame) {}

void TextView::setText(std::string text) {
  text_ = std::move(text);
  setNeedsDisplay();
}

void TextView::setFont(Font font) {
  font_ = std::move(font);
  setNeedsDisplay();
}

void TextView::setTextColor(const Color& color) {
  textColor_ = color;
  setNeedsDisplay();
}

void TextView::textChanged() {
  setNeedsDisplay();
  auto keep = weak_from_this().lock();
  if (delegate_) delegate_->textViewDidChange(*this);
  runtime::NotificationCenter::defaultCenter().post(std::string(kTextViewTextDidChangeNotification), this);
}

void TextView::insertText(const std::string& text) {
  if (!isFirstResponder() && !becomeFirstResponder()) return;
  text_ += text;
  textChanged();
}

void TextView::deleteBackward() {
  if (!isFirstResponder() || text_.empty()) return;
  dropLastCharacter(text_);
  textChanged();
}

void TextView::touchesEnded(const TouchSet& /*touches*/) {
  if (editable_) becomeFirstResponder();
}

bool TextView::shouldBecomeFirstResponder() {
  return delegate_ ? delegate_->textViewShouldBeginEditing(*this) : true;
}

bool TextView::shouldResignFirstResponder() {
  return delegate_ ? delegate_->textViewShouldEndEditing(*this) : true;
}

void TextView::didBecomeFirstResponder() {
  if (delegate_) delegate_->textViewDidBeginEditing(*this);
}

void TextView::didResignFirstResponder() {
  if (delegate_) delegate_->textViewDidEndEditing(*this);
}

void TextView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  if (text_.empty()) return;
  Rect b = bounds();
  Rect inner(b.x() + 5, b.y() + 8, std::max(0.0, b.width() - 10), std::max(0.0, b.height() - 16));
  canvas.drawText(text_, inner, font_, textColor_, TextAlignment::kLeft, LineBreakMode::kWordWrap);
}

}  // namespace ui
