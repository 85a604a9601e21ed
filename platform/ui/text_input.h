#pragma once
// Text fields and text views. Becoming first responder brings up the keyboard (keyboard.h) and
// tells the delegate; typing is injected with insertText / deleteBackward and the return key with
// tapReturnKey, as the keyboard would deliver them.

#include <string>
#include <string_view>

#include "platform/ui/controls.h"

namespace ui {

class TextField;
class TextView;

inline constexpr std::string_view kTextFieldTextDidChangeNotification =
    "UITextFieldTextDidChangeNotification";
inline constexpr std::string_view kTextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

enum class KeyboardType {
  kDefault = 0,
  kNumbersAndPunctuation = 2,
  kNumberPad = 4,
  kEmailAddress = 7,
  kDecimalPad = 8
};

// Non-owning.
class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(TextField& /*field*/) { return true; }
  virtual void textFieldDidBeginEditing(TextField& /*field*/) {}
  virtual bool textFieldShouldEndEditing(TextField& /*field*/) { return true; }
  virtual void textFieldDidEndEditing(TextField& /*field*/) {}
  virtual bool textFieldShouldReturn(TextField& /*field*/) { return true; }
  virtual bool textFieldShouldClear(TextField& /*field*/) { return true; }
};

class TextViewDelegate {
 public:
  virtual ~TextViewDelegate() = default;
  virtual bool textViewShouldBeginEditing(TextView& /*view*/) { return true; }
  virtual void textViewDidBeginEditing(TextView& /*view*/) {}
  virtual bool textViewShouldEndEditing(TextView& /*view*/) { return true; }
  virtual void textViewDidEndEditing(TextView& /*view*/) {}
  virtual void textViewDidChange(TextView& /*view*/) {}
};

class TextField : public Control {
 public:
  TextField();
  explicit TextField(const Rect& frame);

  const std::string& text() const { return text_; }
  // From code: no events.
  void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string placeholder);
  const Color& placeholderColor() const { return placeholderColor_; }
  void setPlaceholderColor(const Color& color) { placeholderColor_ = color; }
  const Font& font() const { return font_; }
  void setFont(Font font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& color);
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
  KeyboardType keyboardType() const { return keyboardType_; }
  void setKeyboardType(KeyboardType type) { keyboardType_ = type; }
  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool secure) { secure_ = secure; }
  TextFieldDelegate* delegate() const { return delegate_; }
  void setDelegate(TextFieldDelegate* delegate) { delegate_ = delegate; }
  bool isEditing() const { return isFirstResponder(); }

  // Typing: when not editing the field first becomes first responder (nothing is typed when it
  // cannot); then the text changes, editing-changed is sent and the change notification posted.
  void insertText(const std::string& text);
  // Removes the last character.
  void deleteBackward();
  // The return key: asks the delegate; when it agrees, sends editing-did-end-on-exit.
  void tapReturnKey();
  // The clear button: asks the delegate, then empties the text.
  void tapClearButton();

  bool canBecomeFirstResponder() const override { return isEnabled(); }
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 protected:
  bool shouldBecomeFirstResponder() override;
  bool shouldResignFirstResponder() override;
  void didBecomeFirstResponder() override;
  void didResignFirstResponder() override;
  bool usesKeyboard() const override { return true; }
  void touchEndedInside(Point location) override;

 private:
  void textChanged();

  std::string text_;
  std::string placeholder_;
  Color placeholderColor_ = Color::white(0.7);
  Font font_ = Font::systemFontOfSize(17);
  Color textColor_ = Color::black();
  TextAlignment alignment_ = TextAlignment::kLeft;
  KeyboardType keyboardType_ = KeyboardType::kDefault;
  bool secure_ = false;
  TextFieldDelegate* delegate_ = nullptr;
};

class TextView : public View {
 public:
  TextView();
  explicit TextView(const Rect& frame);

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const Font& font() const { return font_; }
  void setFont(Font font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& color);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }
  TextViewDelegate* delegate() const { return delegate_; }
  void setDelegate(TextViewDelegate* delegate) { delegate_ = delegate; }
  bool isEditing() const { return isFirstResponder(); }

  void insertText(const std::string& text);
  void deleteBackward();

  bool canBecomeFirstResponder() const override { return editable_; }
  void touchesEnded(const TouchSet& touches) override;
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 protected:
  bool shouldBecomeFirstResponder() override;
  bool shouldResignFirstResponder() override;
  void didBecomeFirstResponder() override;
  void didResignFirstResponder() override;
  bool usesKeyboard() const override { return true; }

 private:
  void textChanged();

  std::string text_;
  Font font_ = Font::systemFontOfSize(12);
  Color textColor_ = Color::black();
  bool editable_ = true;
  TextViewDelegate* delegate_ = nullptr;
};

}  // namespace ui
