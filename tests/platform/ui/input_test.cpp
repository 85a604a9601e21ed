// Text entry with the keyboard's notifications, and the pickers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/runtime/notification_center.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/text_input.h"
#include "platform/ui/touch.h"
#include "ui_fixture.h"

namespace {

using ::testing::ElementsAre;

// Listens to the keyboard as the note editor does.
class KeyboardWatcher {
 public:
  KeyboardWatcher() {
    auto& center = runtime::NotificationCenter::defaultCenter();
    for (std::string_view name : {ui::kKeyboardWillShowNotification, ui::kKeyboardDidShowNotification,
                                  ui::kKeyboardWillHideNotification, ui::kKeyboardDidHideNotification,
                                  ui::kKeyboardDidChangeFrameNotification}) {
      tokens.push_back(center.addObserver(std::string(name), nullptr, [this](const runtime::Notification& n) {
        names.push_back(n.name);
        begins.push_back(ui::keyboardFrame(n.userInfo, ui::kKeyboardFrameBeginUserInfoKey));
        ends.push_back(ui::keyboardFrame(n.userInfo, ui::kKeyboardFrameEndUserInfoKey));
      }));
    }
  }
  std::vector<runtime::ObserverToken> tokens;
  std::vector<std::string> names;
  std::vector<ui::Rect> begins, ends;
};

class NoticeDelegate : public ui::TextFieldDelegate, public ui::TextViewDelegate {
 public:
  std::vector<std::string> calls;
  bool allowBegin = true;
  bool textFieldShouldBeginEditing(ui::TextField&) override {
    calls.push_back("shouldBegin");
    return allowBegin;
  }
  void textFieldDidBeginEditing(ui::TextField&) override { calls.push_back("didBegin"); }
  void textFieldDidEndEditing(ui::TextField& f) override { calls.push_back("didEnd " + f.text()); }
  bool textFieldShouldReturn(ui::TextField& f) override {
    calls.push_back("return");
    f.resignFirstResponder();
    return true;
  }
  void textViewDidChange(ui::TextView& v) override { calls.push_back("changed " + v.text()); }
  void textViewDidEndEditing(ui::TextView& v) override { calls.push_back("viewEnd " + v.text()); }
};

class InputTest : public ui_testing::UiTest {};

TEST_F(InputTest, TheKeyboardComesWithTheFirstTextInputAndGoesWithTheLast) {
  KeyboardWatcher watcher;
  NoticeDelegate delegate;
  auto root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 568));
  auto name = std::make_shared<ui::TextField>(ui::Rect(10, 10, 200, 30));
  auto notice = std::make_shared<ui::TextView>(ui::Rect(10, 50, 300, 200));
  root->addSubview(name);
  root->addSubview(notice);
  name->setDelegate(&delegate);
  notice->setDelegate(&delegate);

  ui::TouchInjector touch(*root);
  touch.tap(ui::Point(20, 20));
  EXPECT_TRUE(name->isFirstResponder());
  EXPECT_TRUE(ui::Keyboard::isVisible());
  // The will-notification arrives at once, the did-notifications on the run loop.
  EXPECT_THAT(watcher.names, ElementsAre("UIKeyboardWillShowNotification"));
  runLoop();
  EXPECT_THAT(watcher.names,
              ElementsAre("UIKeyboardWillShowNotification", "UIKeyboardDidChangeFrameNotification",
                          "UIKeyboardDidShowNotification"));
  EXPECT_EQ(watcher.begins[0], ui::Rect(0, 568, 320, 216));
  EXPECT_EQ(watcher.ends[0], ui::Rect(0, 352, 320, 216));

  name->insertText("Ann");
  name->insertText("a");
  name->deleteBackward();
  EXPECT_EQ(name->text(), "Ann");
  // Moving to the text view keeps the keyboard up.
  ASSERT_TRUE(notice->becomeFirstResponder());
  notice->insertText("Slept well");
  runLoop();
  EXPECT_EQ(watcher.names.size(), 3u);
  ASSERT_TRUE(notice->resignFirstResponder());
  runLoop();
  EXPECT_THAT(watcher.names,
              ElementsAre("UIKeyboardWillShowNotification", "UIKeyboardDidChangeFrameNotification",
                          "UIKeyboardDidShowNotification", "UIKeyboardWillHideNotification",
                          "UIKeyboardDidChangeFrameNotification", "UIKeyboardDidHideNotification"));
  EXPECT_EQ(watcher.ends[3], ui::Rect(0, 568, 320, 216));
  EXPECT_THAT(delegate.calls, ElementsAre("shouldBegin", "didBegin", "didEnd Ann", "changed Slept well",
                                          "viewEnd Slept well"));
}

TEST_F(InputTest, TheReturnKeyAsksTheDelegateAndARefusalKeepsTheFieldIdle) {
  NoticeDelegate delegate;
  auto field = std::make_shared<ui::TextField>(ui::Rect(0, 0, 100, 30));
  field->setDelegate(&delegate);
  int exits = 0;
  field->addTarget([&](ui::Control&) { ++exits; }, ui::kControlEventEditingDidEndOnExit);
  field->insertText("12");
  field->tapReturnKey();
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(ui::Keyboard::isVisible());
  delegate.allowBegin = false;
  field->insertText("3");
  EXPECT_EQ(field->text(), "12");
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(InputTest, KeyboardFramesFollowTheDevice) {
  {
    ui::ScopedDevice pad(ui::DeviceProfile::pad());
    EXPECT_EQ(ui::Keyboard::shownFrame(), ui::Rect(0, 760, 768, 264));
  }
  ui::ScopedDevice tall(ui::DeviceProfile::phone736());
  EXPECT_EQ(ui::Keyboard::shownFrame(), ui::Rect(0, 510, 414, 226));
}

TEST_F(InputTest, EndEditingResignsTheResponderInsideTheTree) {
  auto root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 568));
  auto field = std::make_shared<ui::TextField>(ui::Rect(0, 0, 100, 30));
  root->addSubview(field);
  field->becomeFirstResponder();
  auto other = std::make_shared<ui::View>();
  EXPECT_TRUE(other->endEditing(false));
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(root->endEditing(false));
  EXPECT_EQ(ui::View::currentFirstResponder(), nullptr);
  // A field that goes away while editing takes the keyboard with it.
  {
    auto transient = std::make_shared<ui::TextField>(ui::Rect(0, 0, 100, 30));
    transient->becomeFirstResponder();
    EXPECT_TRUE(ui::Keyboard::isVisible());
  }
  EXPECT_EQ(ui::View::currentFirstResponder(), nullptr);
  EXPECT_FALSE(ui::Keyboard::isVisible());
  // A field that leaves the screen stops editing.
  field->becomeFirstResponder();
  field->removeFromSuperview();
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(ui::Keyboard::isVisible());
}

class NumberWheel : public ui::PickerViewDataSource, public ui::PickerViewDelegate {
 public:
  std::vector<std::string> picked;
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 2; }
  int numberOfRowsInComponent(ui::PickerView&, int component) override { return component == 0 ? 100 : 10; }
  std::optional<double> rowHeightForComponent(ui::PickerView&, int) override { return 32.0; }
  std::shared_ptr<ui::View> viewForRow(ui::PickerView&, int row, int component,
                                       std::shared_ptr<ui::View> reusing) override {
    auto label = std::dynamic_pointer_cast<ui::Label>(reusing);
    if (!label) label = std::make_shared<ui::Label>(ui::Rect(0, 0, 100, 32));
    label->setText(component == 0 ? std::to_string(row) : " ." + std::to_string(row));
    return label;
  }
  void didSelectRow(ui::PickerView& picker, int row, int component) override {
    picked.push_back(std::to_string(component) + ":" + std::to_string(row) + " of " +
                     std::to_string(picker.selectedRowInComponent(0)));
  }
};

TEST_F(InputTest, PickersSelectFromCodeQuietlyAndFromASpinLoudly) {
  NumberWheel wheel;
  ui::PickerView picker;
  EXPECT_EQ(picker.selectedRowInComponent(0), -1);
  picker.setDataSource(&wheel);
  picker.setDelegate(&wheel);
  picker.reloadAllComponents();
  EXPECT_EQ(picker.numberOfComponents(), 2);
  EXPECT_EQ(picker.selectedRowInComponent(1), 0);
  picker.selectRow(36, 0, false);
  picker.selectRow(500, 1, false);  // held to the last row
  EXPECT_EQ(picker.selectedRowInComponent(1), 9);
  EXPECT_TRUE(wheel.picked.empty());
  picker.spinToRow(37, 0);
  EXPECT_THAT(wheel.picked, ElementsAre("0:37 of 37"));
  EXPECT_EQ(picker.titleForRow(37, 0), "37");
  EXPECT_EQ(picker.titleForRow(6, 1), " .6");
  EXPECT_EQ(picker.selectedRowInComponent(5), -1);
}

TEST_F(InputTest, ADatePickerKeepsItsDateWithinItsLimits) {
  ui::DatePicker picker;
  picker.setTag(99);
  picker.setMode(ui::DatePickerMode::kTime);
  foundation::Date now{600000000};
  picker.setMaximumDate(now);
  picker.setMinimumDate(now - 86400);
  picker.setDate(now + 3600);
  EXPECT_EQ(picker.date(), now);
  std::vector<double> changes;
  picker.addTarget(
      [&](ui::Control& c) { changes.push_back(static_cast<ui::DatePicker&>(c).date().sinceReference); },
      ui::kControlEventValueChanged);
  picker.spinToDate(now - 30 * 3600.0);
  EXPECT_THAT(changes, ElementsAre(now.sinceReference - 86400));
  // The actions can be carried over to a replacement picker.
  ui::DatePicker replacement(ui::Rect(0, 0, 320, 162));
  for (const auto& entry : picker.actions()) replacement.addTarget(entry.action, entry.events);
  replacement.spinToDate(now);
  EXPECT_EQ(changes.size(), 2u);
}

}  // namespace
