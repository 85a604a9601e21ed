#include "babies/baby_record_editor.h"

#include <algorithm>

#include "babies/screen_support.h"
#include "navigation/bar_title.h"
#include "platform/foundation/log.h"
#include "platform/ui/keyboard.h"

namespace babies {

using graphics::Rect;

namespace {
constexpr double kTop = 16, kFieldHeight = 40, kFullStep = 50, kLeastStep = 44;

// The distance from one field to the next: the full step, or less where the fields would otherwise
// reach under the keyboard of a screen `height` tall (a contact's six fields on the smallest phone,
// where the last one was half hidden while it was typed into); never below a finger's 44 points.
double fieldStep(double height, size_t fields) {
  if (fields < 2) return kFullStep;
  const double aboveKeyboard = height - ui::Keyboard::height();
  const double fits = (aboveKeyboard - kTop - kFieldHeight - 8) / static_cast<double>(fields - 1);
  return std::clamp(fits, kLeastStep, kFullStep);
}
}  // namespace

babyRecordEditController::babyRecordEditController(const RecordKind& kind, std::shared_ptr<store::Context> context,
                                                   std::optional<std::string> babyName, store::ObjectPtr record)
    : kind_(kind), context_(std::move(context)), babyName_(std::move(babyName)), record_(std::move(record)) {}

void babyRecordEditController::viewDidLoad() {
  view()->setBackgroundColor(graphics::Color::white());
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Cancel"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { cancel(); }));
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Done"), ui::BarButtonItemStyle::kDone, [this](ui::BarButtonItem&) { save(); }));
  const std::string shown = record_ ? recordRowText(kind_, record_) : std::string();
  navigation::setShrinkingTitle(*this, shown.empty() ? localized(kind_.addKey) : shown);

  const double width = view()->bounds().width();
  const auto values = recordValues(kind_, record_);
  const double step = fieldStep(view()->bounds().height(), kind_.fields.size());
  double y = kTop;
  for (size_t i = 0; i < kind_.fields.size(); ++i, y += step) {
    auto field = std::make_shared<ui::TextField>(Rect(20, y, width - 40, kFieldHeight));
    field->setPlaceholder(localized(kind_.fields[i].labelKey));
    field->setPlaceholderColor(graphics::Color::hairlineGray());
    field->setText(values[i]);
    field->setDelegate(this);
    field->setAutoresizingMask(ui::kFlexibleWidth);
    view()->addSubview(field);
    fields_.push_back(std::move(field));
  }
  if (record_) {
    auto remove = std::make_shared<ui::Button>(Rect(20, y + 6, width - 40, 44));
    remove->setTitle(localized("Delete"));
    remove->setTitleColor(graphics::Color::rgb255(220, 40, 40));
    remove->addTarget([this](ui::Control&) { deleteRecord(); }, ui::kControlEventTouchUpInside);
    remove->setAutoresizingMask(ui::kFlexibleWidth);
    view()->addSubview(remove);
  }
}

bool babyRecordEditController::textFieldShouldReturn(ui::TextField& field) {
  for (size_t i = 0; i + 1 < fields_.size(); ++i) {
    if (fields_[i].get() == &field) return fields_[i + 1]->becomeFirstResponder(), true;
  }
  field.resignFirstResponder();
  return true;
}

void babyRecordEditController::showAlert(const foundation::Error& error) {
  std::string title = localized("The record could not be saved.");
  if (const auto* key = error.userInfo["key"].string()) title = localized(*key);
  alert_ = ui::AlertView::create(title, "", nullptr, localized("OK"));
  alert_->show();
}

void babyRecordEditController::save() {
  view()->endEditing(true);
  std::vector<std::string> values;
  for (const auto& field : fields_) values.push_back(field->text());
  auto saved = BabyRecords(context_, babyName_).save(kind_, record_, values);
  if (!saved) return showAlert(saved.error());
  finish(true);
}

void babyRecordEditController::cancel() { finish(false); }

void babyRecordEditController::deleteRecord() {
  if (!record_) return;
  sheet_ = askToDelete(*this, this);
}

void babyRecordEditController::actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) {
  if (buttonIndex != sheet.destructiveButtonIndex()) return;
  if (auto removed = BabyRecords(context_, babyName_).remove(record_); !removed) return showAlert(removed.error());
  finish(true);
}

void babyRecordEditController::finish(bool changed) {
  auto self = shared_from_this();
  view()->endEditing(true);
  if (delegate_) return delegate_->babyRecordEditDone(*this, changed);
  leave(*this);
}

}  // namespace babies
