#include "navigation/reminder_controller.h"

#include <algorithm>

#include "app/app_delegate.h"
#include "app/flat_widgets.h"
#include "app/note_types.h"
#include "navigation/interface_locale.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "app/value_texts.h"

namespace navigation {

using foundation::Value;

namespace {

foundation::Error reminderError(ReminderErrorCode code, std::string description) {
  return foundation::Error::make(std::string(kReminderErrorDomain), code, std::move(description));
}

std::optional<Reminder> reminderOf(const ui::LocalNotification& notification) {
  const auto* type = notification.userInfo[app::kReminderTypeKey].string();
  const auto* baby = notification.userInfo[app::kReminderBabyNameKey].string();
  if (!type || !baby || type->empty() || baby->empty() || !notification.fireDate) return std::nullopt;
  return Reminder{*notification.fireDate, *type, *baby};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ReminderScheduler

ReminderScheduler::ReminderScheduler(ui::Application& application, const foundation::Clock* clock)
    : application_(application), clock_(clock ? clock : &runtime::RunLoop::main().clock()) {}

std::vector<Reminder> ReminderScheduler::reminders(const std::optional<std::string>& babyName) const {
  std::vector<Reminder> out;
  for (const auto& notification : application_.scheduledLocalNotifications()) {
    auto reminder = reminderOf(notification);
    if (reminder && (!babyName || reminder->babyName == *babyName)) out.push_back(std::move(*reminder));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Reminder& a, const Reminder& b) { return a.fireDate < b.fireDate; });
  return out;
}

foundation::Status ReminderScheduler::schedule(const Reminder& reminder, const std::string& alertText) {
  if (!app::isKnownType(reminder.type))
    return reminderError(kReminderNoType, "A reminder needs a note type.");
  if (reminder.babyName.empty()) return reminderError(kReminderNoBaby, "A reminder needs a baby.");
  if (reminder.fireDate <= clock_->now())
    return reminderError(kReminderInThePast, "A reminder must lie ahead.");
  ui::LocalNotification notification;
  notification.fireDate = reminder.fireDate;
  notification.alertBody = alertText;
  notification.soundName = "default";
  notification.applicationIconBadgeNumber = 1;
  notification.userInfo.set(std::string(app::kReminderTypeKey), Value(reminder.type));
  notification.userInfo.set(std::string(app::kReminderBabyNameKey), Value(reminder.babyName));
  application_.scheduleLocalNotification(notification);
  return {};
}

void ReminderScheduler::cancel(const Reminder& reminder) {
  application_.cancelLocalNotification(
      [&](const ui::LocalNotification& notification) { return reminderOf(notification) == reminder; });
}

// ---------------------------------------------------------------------------------------------
// reminderController

reminderController::reminderController(ChooserServices services, const foundation::Clock* clock)
    : services_(std::move(services)), scheduler_(ui::Application::shared(), clock) {}

void reminderController::viewDidLoad() {
  if (!context_) {
    if (auto* delegate = app::AppDelegate::shared()) context_ = delegate->managedObjectContext();
  }
  const void* sender = app::AppDelegate::shared();
  auto& center = runtime::NotificationCenter::defaultCenter();
  reminderDidCome_ = center.addObserver(std::string(app::kReminderDidComeNotification), sender,
                                        [this](const runtime::Notification&) { refresh(); });
  statusInfo_ = center.addObserver(std::string(app::kUpdateNotificationsStatusInfoNotification), sender,
                                   [this](const runtime::Notification&) { refresh(); });

  setTitle(services_.localized("Reminders"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      services_.localized("Done"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { back(); }));
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      "+", ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { addReminder(); }));
  table_ = std::make_shared<ui::TableView>(view()->bounds());
  table_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  table_->setDataSource(this);
  table_->setDelegate(this);
  view()->addSubview(table_);
}

void reminderController::viewWillAppear(bool /*animated*/) { refresh(); }

void reminderController::refresh() {
  reminders_ = currentBaby_ ? scheduler_.reminders(currentBaby_) : std::vector<Reminder>{};
  if (table_) table_->reloadData();
}

void reminderController::addReminder() {
  auto* navigation = navigationController();
  if (!navigation || !storyboard()) return;
  auto chooser = std::dynamic_pointer_cast<noteTypeTableController>(
      storyboard()->instantiateViewControllerWithIdentifier(kNoteTypeId));
  if (!chooser) return;
  chooser->setReminderChoose_delegate(std::dynamic_pointer_cast<reminderController>(shared_from_this()));
  chooser->setCurrentBabyName(currentBaby_);
  chooser->setManagedObjectContext(context_);
  chooser->setForReminders(true);
  navigation->pushViewController(chooser, true);
}

void reminderController::back() {
  auto self = shared_from_this();
  if (auto delegate = noteView_delegate_) return delegate->noteViewChildDone(*this, false);
  dismissViewControllerAnimated(true);
}

void reminderController::doDismissMeDone(ui::ViewController& /*sender*/, bool done) {
  // A cancelled date leaves the user in the chooser to pick another type (or go back).
  if (!done) return;
  refresh();
  auto* navigation = navigationController();
  if (navigation && navigation->topViewController() != this) navigation->popViewControllerAnimated(true);
}

int reminderController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(reminders_.size());
}

std::shared_ptr<ui::TableViewCell> reminderController::cellForRowAtIndexPath(ui::TableView& table,
                                                                             const ui::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier("reminderCell");
  if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::kSubtitle, "reminderCell");
  const auto& reminder = reminders_.at(static_cast<size_t>(path.row));
  cell->textLabel().setText(services_.localized(reminder.type));
  cell->detailTextLabel().setText(
      interfaceDateFormatter(foundation::DateFormatterStyle::Medium, foundation::DateFormatterStyle::Short)
          .stringFromDate(reminder.fireDate));
  return cell;
}

void reminderController::commitEditingStyle(ui::TableView& /*table*/, ui::CellEditingStyle style,
                                            const ui::IndexPath& path) {
  if (style != ui::CellEditingStyle::kDelete || path.row < 0 ||
      static_cast<size_t>(path.row) >= reminders_.size())
    return;
  scheduler_.cancel(reminders_[static_cast<size_t>(path.row)]);
  refresh();
}

// ---------------------------------------------------------------------------------------------
// reminderDateScreen

reminderDateScreen::reminderDateScreen(ChooserServices services, const foundation::Clock* clock)
    : services_(std::move(services)),
      clock_(clock ? clock : &runtime::RunLoop::main().clock()),
      scheduler_(ui::Application::shared(), clock_) {}

void reminderDateScreen::viewDidLoad() {
  view()->setBackgroundColor(graphics::Color::white());
  setTitle(typeId() ? services_.localized(*typeId()) : services_.localized("Reminder"));
  // The editor's picture buttons: the type's name (the title) keeps the bar's width between them.
  navigationItem().setLeftBarButtonItem(app::FlatBarButtonItems::leftButtonWithImgPathWithTargetSelector(
      "iPhone_cancel_button", [this] { cancel(); }));
  navigationItem().setRightBarButtonItem(app::FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector(
      "iPhone_ok_button_white", [this] { save(); }));
  picker_ = std::make_shared<ui::DatePicker>(ui::Rect(0, 20, view()->bounds().width(), 216));
  picker_->setAutoresizingMask(ui::kFlexibleWidth);
  picker_->setMode(ui::DatePickerMode::kDateAndTime);
  picker_->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  const auto soon = clock_->now() + 60;
  picker_->setMinimumDate(soon);
  picker_->setDate(soon);
  view()->addSubview(picker_);
}

void reminderDateScreen::save() {
  view();
  const Reminder reminder{picker_->date(), typeId().value_or(""), babyName().value_or("")};
  const std::string text = services_.localized("Reminder") + ": " + services_.localized(reminder.type) +
                           (reminder.babyName.empty() ? "" : " (" + reminder.babyName + ")");
  if (auto scheduled = scheduler_.schedule(reminder, text); !scheduled) {
    alert_ = ui::AlertView::create(services_.localized("The reminder could not be set."), "", nullptr,
                                   services_.localized("OK"));
    alert_->show();
    return;
  }
  reminderSaved();
}

// ---------------------------------------------------------------------------------------------

void registerReminderScreens(ui::Storyboard& storyboard, const foundation::Clock* clock) {
  storyboard.registerController(kReminderControllerId, [clock] {
    return std::make_shared<reminderController>(ChooserServices::fromApplication(), clock);
  });
  storyboard.registerController(kRemindersNavId, [clock] {
    return std::make_shared<ui::NavigationController>(
        std::make_shared<reminderController>(ChooserServices::fromApplication(), clock));
  });
  storyboard.registerSegue(kReminderSegue, kRemindersNavId, ui::SegueKind::kFormSheet);
  storyboard.registerController(kChooseReminderDateId, [clock] {
    return std::make_shared<reminderDateScreen>(ChooserServices::fromApplication(), clock);
  });
}

}  // namespace navigation
