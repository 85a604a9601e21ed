#include "note_editor/note_edit_controller.h"

#include "app/flat_widgets.h"
#include "note_editor/date_changes.h"
#include "note_editor/value_panel.h"
#include "platform/foundation/log.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"
#include "platform/ui/keyboard.h"

namespace note_editor {

using graphics::Color;
using graphics::Rect;

namespace {

constexpr double kStripeHeight = 90;
constexpr double kPhotoSide = 70;

}  // namespace

noteEditController::noteEditController(EditorServices services, std::filesystem::path photoLibrary)
    : model_(std::move(services)), photoLibrary_(std::move(photoLibrary)) {}

noteEditController::~noteEditController() {
  cancelPendingDelete();
  deleteTimer();
}

// ---------------------------------------------------------------------------------------------
// The screen

void noteEditController::viewDidLoad() {
  view()->setBackgroundColor(Color::rgb255(242, 239, 252));
  buildViews();
  saveButton_ = app::FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector("iPhone_ok_button_white",
                                                                                  [this] { save(); });
  cancelButton_ = app::FlatBarButtonItems::leftButtonWithImgPathWithTargetSelector("iPhone_cancel_button",
                                                                                   [this] { cancel(); });
  emptyButton_ = ui::BarButtonItem::withTitle("", ui::BarButtonItemStyle::kPlain, {});
  toMainScreenButton_ = app::FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector(
      "iPhone_to_mainscreen_button", [this] { save(); });
  observeNotifications();

  model_.setUp();
  if (!model_.editingNote) {
    deleteButton_->setAlpha(0);
    makeCopyButton_->setAlpha(0);
  }
  updateBarButtons();
  if (model_.note_Type) setTitle(model_.localized(*model_.note_Type));
  afterTimerChange();
}

void noteEditController::viewWillAppear(bool /*animated*/) { updateEditView(); }

void noteEditController::viewDidAppear(bool /*animated*/) {
  if (!model_.local_ID) return;
  model_.fakeRunningTimer();
  noteEditTable_->reloadData();
}

void noteEditController::updateBarButtons() {
  const bool running = model_.runningTimerBar;
  // A note without a type cannot be stored: no Save is offered.
  navigationItem().setRightBarButtonItem(running            ? toMainScreenButton_
                                         : model_.note_Type ? saveButton_
                                                            : emptyButton_);
  navigationItem().setLeftBarButtonItem(running ? emptyButton_ : cancelButton_);
  if (auto* navigation = navigationController()) navigation->updateNavigationBar();
}

void noteEditController::buildViews() {
  const double w = view()->bounds().size.width, h = view()->bounds().size.height;
  noteEditTable_ = std::make_shared<ui::TableView>(Rect(0, 0, w, h), ui::TableViewStyle::kGrouped);
  noteEditTable_->setBackgroundColor(Color::clear());
  noteEditTable_->setSeparatorStyle(ui::SeparatorStyle::kNone);
  noteEditTable_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  noteEditTable_->registerCell(noteEditDateCell::kIdentifier,
                               [] { return std::make_shared<noteEditDateCell>(); });
  noteEditTable_->registerCell(noteEditCell::kIdentifier, [] { return std::make_shared<noteEditCell>(); });
  noteEditTable_->registerCell(noteSegmentEditCell::kIdentifier,
                               [] { return std::make_shared<noteSegmentEditCell>(); });
  noteEditTable_->registerCell(noteEditNoticeCell::kIdentifier,
                               [] { return std::make_shared<noteEditNoticeCell>(); });
  noteEditTable_->registerCell(noteTimerCell::kIdentifier, [] { return std::make_shared<noteTimerCell>(); });
  noteEditTable_->registerCell(noteTimerBreastCell::kIdentifier,
                               [] { return std::make_shared<noteTimerBreastCell>(); });
  noteEditTable_->setDataSource(this);
  noteEditTable_->setDelegate(this);
  view()->addSubview(noteEditTable_);

  // The stripe at the bottom: delete on the left, the round photo in the middle, copy on the right.
  bottomStripe_ = std::make_shared<ui::View>(Rect(0, h - kStripeHeight, w, kStripeHeight));
  bottomStripe_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleTopMargin);
  view()->addSubview(bottomStripe_);
  const double y = (kStripeHeight - kPhotoSide) / 2;
  deleteButton_ = std::make_shared<ui::Button>(Rect(15, y + 15, 80, 40));
  deleteButton_->setTitle(model_.localized("Delete"));
  deleteButton_->setTitleColor(Color::rgb255(140, 127, 243));
  deleteButton_->addTarget([this](ui::Control&) { deleteNote(); }, ui::kControlEventTouchUpInside);
  makeCopyButton_ = std::make_shared<ui::Button>(Rect(w - 95, y + 15, 80, 40));
  makeCopyButton_->setTitle(model_.localized("Copy"));
  makeCopyButton_->setTitleColor(Color::rgb255(140, 127, 243));
  makeCopyButton_->addTarget([this](ui::Control&) { copyNote(); }, ui::kControlEventTouchUpInside);
  const Rect photoRect((w - kPhotoSide) / 2, y, kPhotoSide, kPhotoSide);
  photoFrameView_ = std::make_shared<ui::View>(photoRect);
  photoFrameView_->setBackgroundColor(Color::white());
  photoView_ = std::make_shared<ui::ImageView>(photoRect.insetBy(2, 2));
  photoView_->setContentMode(ui::ContentMode::kScaleAspectFill);
  for (ui::View* round : {static_cast<ui::View*>(photoView_.get()), photoFrameView_.get()}) {
    round->setClipsToBounds(true);
    round->setCornerRadius(photoView_->frame().size.width / 2);
  }
  photoButton_ = std::make_shared<ui::Button>(photoRect);
  photoButton_->addTarget([this](ui::Control&) { editPhoto(); }, ui::kControlEventTouchUpInside);
  for (const auto& v : std::vector<std::shared_ptr<ui::View>>{deleteButton_, makeCopyButton_, photoFrameView_,
                                                              photoView_, photoButton_})
    bottomStripe_->addSubview(v);

  // The notice editor over everything, shown while the notice is edited.
  noticeTextBackView_ = std::make_shared<ui::View>(Rect(0, 0, w, h));
  noticeTextBackView_->setBackgroundColor(Color::rgb255(242, 239, 252));
  noticeTextBackView_->setAlpha(0);
  noticeTextBackView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  noticeTextView_ = std::make_shared<ui::TextView>(Rect(0, 0, w, h - 44));
  noticeTextView_->setFont(graphics::Font("AvenirNext-Regular", 17));
  noticeTextDoneButton_ = std::make_shared<ui::Button>(Rect(0, h - 44, w, 44));
  noticeTextDoneButton_->setTitle(model_.localized("Done"));
  noticeTextDoneButton_->setTitleColor(Color::rgb255(140, 127, 243));
  noticeTextDoneButton_->addTarget([this](ui::Control&) { textEditDone(); }, ui::kControlEventTouchUpInside);
  noticeTextBackView_->addSubview(noticeTextView_);
  noticeTextBackView_->addSubview(noticeTextDoneButton_);
  view()->addSubview(noticeTextBackView_);
}

void noteEditController::observeNotifications() {
  auto& center = runtime::NotificationCenter::defaultCenter();
  observers_.push_back(center.addObserver(std::string(ui::kApplicationWillEnterForegroundNotification),
                                          nullptr,
                                          [this](const runtime::Notification&) { willEnterForeground(); }));
  observers_.push_back(center.addObserver(std::string(ui::kKeyboardWillShowNotification), nullptr,
                                          [this](const runtime::Notification&) { layoutNotice(); }));
  observers_.push_back(center.addObserver(std::string(ui::kKeyboardDidChangeFrameNotification), nullptr,
                                          [this](const runtime::Notification&) { layoutNotice(); }));
  observers_.push_back(center.addObserver(std::string(ui::kKeyboardWillHideNotification), nullptr,
                                          [this](const runtime::Notification&) { keyboardWillBeHidden(); }));
}

// ---------------------------------------------------------------------------------------------
// The notice

void noteEditController::editNotice() {
  noticeTextView_->setText(model_.note_Notice.value_or(""));
  if (auto* navigation = navigationController()) navigation->setNavigationBarHidden(true, true);
  if (!ui::device().isPad()) ui::Application::shared().setStatusBarHidden(true, true);
  ui::animate(0.2, [this] { noticeTextBackView_->setAlpha(1); });
  noticeTextView_->becomeFirstResponder();
  // A keyboard that stayed up from another field announces nothing: lay out for it now.
  layoutNotice();
}

void noteEditController::textEditDone() {
  noticeTextView_->resignFirstResponder();
  if (model_.timerStarted) (void)model_.refrashTimerSave();
}

void noteEditController::viewDidLayoutSubviews() { layoutNotice(); }

void noteEditController::layoutNotice() {
  if (!noticeTextView_ || !noticeTextView_->isFirstResponder()) return;
  // The keyboard's top in the notice editor's own coordinates: the bars hide around it and the
  // screen may lie anywhere in the window, so its height alone does not place the done button.
  const Rect keyboard = ui::Keyboard::isVisible() ? ui::Keyboard::shownFrame() : ui::Keyboard::hiddenFrame();
  const double h = noticeTextBackView_->bounds().size.height;
  const double top = std::min(h, noticeTextBackView_->convertPointFromView(keyboard.origin, nullptr).y);
  Rect text = noticeTextView_->frame();
  text.origin.y = 0;
  if (ui::device().isPad()) {
    // The tablet's keyboard has a key of its own that puts it away (and the notice with it), so the
    // text runs down to the keyboard without a done button.
    noticeTextDoneButton_->setHidden(true);
    text.size.height = top;
  } else {
    Rect done = noticeTextDoneButton_->frame();
    done.origin.y = top - done.size.height;
    noticeTextDoneButton_->setFrame(done);
    text.size.height = done.origin.y;
  }
  noticeTextView_->setFrame(text);
}

void noteEditController::keyboardWillBeHidden() {
  if (!noticeTextView_ || noticeTextBackView_->alpha() == 0) return;
  model_.note_Notice = noticeTextView_->text();
  noteEditTable_->reloadData();
  if (auto* navigation = navigationController()) navigation->setNavigationBarHidden(false, true);
  if (!ui::device().isPad()) ui::Application::shared().setStatusBarHidden(false, true);
  ui::animate(0.2, [this] { noticeTextBackView_->setAlpha(0); });
}

// ---------------------------------------------------------------------------------------------
// Table

int noteEditController::numberOfSectionsInTableView(ui::TableView& /*table*/) { return 3; }

int noteEditController::numberOfRowsInSection(ui::TableView& /*table*/, int section) {
  return model_.numberOfRowsInSection(section);
}

std::optional<double> noteEditController::heightForRowAtIndexPath(ui::TableView& /*table*/,
                                                                  const ui::IndexPath& path) {
  return model_.rowHeight(path.section, path.row, view()->bounds().size.height);
}

std::optional<double> noteEditController::heightForHeaderInSection(ui::TableView& /*table*/, int section) {
  return model_.headerHeight(section);
}

std::shared_ptr<ui::View> noteEditController::viewForHeaderInSection(ui::TableView& /*table*/, int section) {
  const double w = view()->bounds().size.width;
  auto header = std::make_shared<ui::View>(Rect(0, 0, w, 30));
  header->setBackgroundColor(Color::clear());
  if (section == 0) {
    auto label = std::make_shared<ui::Label>(Rect(0, 0, w - 10, 30));
    label->setBackgroundColor(Color::clear());
    label->setTextAlignment(graphics::TextAlignment::kRight);
    label->setFont(graphics::Font("AvenirNext-Regular", 16));
    // The editor's text colour: white would vanish into the pale lilac behind it.
    label->setTextColor(Color::rgb255(64, 66, 87));
    label->setText(model_.headerText());
    header->addSubview(label);
  }
  return header;
}

std::shared_ptr<ui::TableViewCell> noteEditController::cellForRowAtIndexPath(ui::TableView& table,
                                                                             const ui::IndexPath& path) {
  const RowContent content = model_.rowContent(path.section, path.row);
  auto cell = table.dequeueReusableCellWithIdentifier(content.identifier);
  if (!cell) return cell;
  if (auto* date = dynamic_cast<noteEditDateCell*>(cell.get())) {
    date->leftLable->setText(content.leftText);
    date->rightLable->setText(content.rightText);
    date->drawTopLine = content.drawTopLine;
    date->drawBottomLine = content.drawBottomLine;
    date->foolLine = content.foolLine;
  } else if (auto* value = dynamic_cast<noteEditCell*>(cell.get())) {
    value->valueLable->setText(content.rightText);
    value->drawTopLine = content.drawTopLine;
    value->drawBottomLine = content.drawBottomLine;
    value->foolLine = content.foolLine;
  } else if (auto* segment = dynamic_cast<noteSegmentEditCell*>(cell.get())) {
    segment->segmentLabel->setText(content.leftText);
    for (int i = 0; i < static_cast<int>(content.segmentTitles.size()); ++i)
      segment->breastSegment->setTitleForSegmentAtIndex(content.segmentTitles[static_cast<size_t>(i)], i);
    if (content.selectedSegment) segment->breastSegment->setSelectedSegmentIndex(*content.selectedSegment);
    segment->breastSegment->removeAllActions();
    segment->breastSegment->addTarget(
        [this](ui::Control& sender) {
          // The row's cell, found from the control; a control outside a cell does nothing.
          if (!sender.ancestorOfType<ui::TableViewCell>()) return;
          model_.breastSegmentChanged(static_cast<ui::SegmentedControl&>(sender).selectedSegmentIndex());
        },
        ui::kControlEventValueChanged);
  } else if (auto* notice = dynamic_cast<noteEditNoticeCell*>(cell.get())) {
    notice->noticeTextView->setText(content.rightText);
    notice->editButton->removeAllActions();
    notice->editButton->addTarget([this](ui::Control&) { editNotice(); }, ui::kControlEventTouchUpInside);
  } else if (auto* timer = dynamic_cast<timerCellBase*>(cell.get())) {
    fillTimerCell(*timer);
  }
  cell->setNeedsDisplay();
  return cell;
}

void noteEditController::fillTimerCell(timerCellBase& cell) {
  const TimerCellContent content = model_.timerCellContent();
  cell.closeButton->setHidden(content.closeHidden);
  cell.leftPrevLable->setText(content.leftPrevious);
  cell.rightPrevLable->setText(content.rightPrevious);
  if (auto* single = dynamic_cast<noteTimerCell*>(&cell)) {
    single->timeLable->setText(content.time);
    single->hoursLable->setText(content.hoursCaption);
    single->minutesLable->setText(content.minutesCaption);
    single->secondsLable->setText(content.secondsCaption);
  } else if (auto* breast = dynamic_cast<noteTimerBreastCell*>(&cell)) {
    breast->timeLeftLable->setText(content.time);
    breast->timeRightLable->setText(content.time2);
  }
  const std::array<std::pair<ui::Button*, ui::Label*>, 3> parts{
      {{cell.leftButton.get(), cell.leftButtonLable.get()},
       {cell.centerButton.get(), cell.centerButtonLable.get()},
       {cell.rightButton.get(), cell.rightButtonLable.get()}}};
  for (size_t i = 0; i < parts.size(); ++i) {
    const TimerButtonLook& look = content.buttons[i];
    auto [button, label] = parts[i];
    button->setHidden(look.hidden);
    label->setText(look.hidden ? "" : look.label);
    if (!look.hidden && !look.keepsImage)
      button->setBackgroundImage(ui::imageNamed(look.filled ? "iPhone_note_button_rounded_frame_filled"
                                                            : "iPhone_note_button_rounded_frame"));
    button->removeAllActions();
    button->addTarget([this](ui::Control& sender) { timerButtonClicked(sender); },
                      ui::kControlEventTouchUpInside);
  }
  cell.closeButton->removeAllActions();
  cell.closeButton->addTarget([this](ui::Control&) { closeTimer(); }, ui::kControlEventTouchUpInside);
}

void noteEditController::willDisplayCell(ui::TableView& /*table*/, ui::TableViewCell& cell,
                                         const ui::IndexPath& /*path*/) {
  cell.setBackgroundColor(Color::clear());
}

void noteEditController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  switch (model_.tapOnRow(path.section, path.row)) {
    case RowTap::kStartDate:
      changeTheDate(true);
      break;
    case RowTap::kStopDate:
      changeTheDate(false);
      break;
    case RowTap::kNumberEntry:
      editNumValue();
      break;
    case RowTap::kSubValues:
      openSubValueEditor();
      break;
    case RowTap::kNone:
      break;
  }
}

void noteEditController::updateEditView() {
  if (!noteEditTable_) return;
  noteEditTable_->reloadData();
  if (model_.note_Photo) {
    photoButton_->setBackgroundImage(nullptr);
    // The note's own picture has no name of its own: the button over it goes by "Photo".
    photoButton_->setAccessibilityLabel(model_.localized("Photo"));
    photoView_->setImage(std::make_shared<const graphics::Image>(*model_.note_Photo));
    photoView_->setAlpha(1);
    photoFrameView_->setAlpha(0.5);
  } else {
    photoView_->setImage(nullptr);
    photoView_->setAlpha(0);
    photoFrameView_->setAlpha(0);
    photoButton_->setAccessibilityLabel("");
    photoButton_->setBackgroundImage(ui::imageNamed("edit_photo_white.png"));
  }
}

// ---------------------------------------------------------------------------------------------
// Child screens

void noteEditController::openSubValueEditor() {
  auto texts = model_.subValueTexts();
  auto* navigation = navigationController();
  if (!texts || !navigation || !storyboard()) return;
  auto screen = storyboard()->instantiateViewControllerWithIdentifier(kStrValueListEditId);
  auto* list = dynamic_cast<subValueListScreen*>(screen.get());
  if (!list) return;
  list->setValues(std::move(*texts));
  list->setStrCurrent(model_.note_strVal);
  list->setManagedObjectContext(model_.managedObjectContext);
  list->setNoteInputDelegate(this);
  list->setNote_Type(model_.note_Type);
  list->setScreenTitle(title());
  navigation->pushViewController(screen, true);
}

void noteEditController::noteInputSetSubtypesAndValues(ui::ViewController& /*sender*/,
                                                       const std::optional<std::string>& text) {
  model_.noteInputSetSubtypesAndValues(text);
  updateEditView();
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void noteEditController::noteInputSetNotes(ui::ViewController& /*sender*/,
                                           const std::optional<std::string>& text) {
  model_.note_Notice = text;
  updateEditView();
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void noteEditController::noteInputCancel(ui::ViewController& /*sender*/) {
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void noteEditController::editPhoto() {
  if (!model_.note_Photo) {
    std::vector<std::string> others;
    if (photoViewController::isCameraAvailable()) others.push_back(model_.localized("Take Photo"));
    others.push_back(model_.localized("Choose Photo"));
    showSheet(2, std::nullopt, std::move(others));
    return;
  }
  openPhotoScreen(0);
}

void noteEditController::openPhotoScreen(int getPhotoOnStart) {
  auto* navigation = navigationController();
  if (!navigation) return;
  std::shared_ptr<ui::ViewController> screen;
  if (storyboard())
    screen =
        storyboard()->instantiateViewControllerWithIdentifier(photoViewController::kStoryboardIdentifier);
  if (!screen) screen = std::make_shared<photoViewController>(photoLibrary_);
  auto* photo = dynamic_cast<photoViewController*>(screen.get());
  if (!photo) return;
  photo->photoView_delegate = this;
  photo->getPhotoOnStart = getPhotoOnStart;
  if (getPhotoOnStart == 0) {
    photo->photoImage = model_.note_Photo;
    if (model_.editingNote) photo->photoInfo = model_.editingNote.noteToPhotoInfo();
  }
  navigation->pushViewController(screen, true);
}

void noteEditController::setPhoto(const std::optional<graphics::Image>& image) {
  model_.setPhoto(image);
  // A running timer's photo is kept with its record.
  if (model_.timerStarted) {
    if (auto written = model_.refrashTimerSave(); !written) {
      foundation::log("Cannot keep the running timer's photo: " + written.error().description());
      alertAboutTime(text_key::kTimerNotStored);
    }
  }
  updateEditView();
}

// ---------------------------------------------------------------------------------------------
// Sheets and alerts

void noteEditController::showSheet(int number, std::optional<std::string_view> destructive,
                                   std::vector<std::string> others) {
  model_.actionSheetNum = number;
  auto sheet = ui::ActionSheet::create(
      std::nullopt, this, model_.localized("Cancel"),
      destructive ? std::optional<std::string>(model_.localized(*destructive)) : std::nullopt,
      std::move(others));
  sheet->showInView(view().get());
}

void noteEditController::alertAboutTime(std::string_view key, std::optional<std::string_view> second) {
  ui::AlertView::create("", model_.alertText(key, second), this, "OK")->show();
}

void noteEditController::actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) {
  const int number = static_cast<int>(model_.actionSheetNum);
  model_.actionSheetNum = 0;
  switch (number) {
    case 1:
      if (buttonIndex == 0) {
        std::weak_ptr<ui::ViewController> self = weak_from_this();
        deleteTimer_ = runtime::RunLoop::main().performAfter(0.2, [this, self] {
          if (!self.expired()) removeThisNote();
        });
      }
      break;
    case 2: {
      const std::string title = sheet.buttonTitleAtIndex(buttonIndex);
      if (buttonIndex == sheet.cancelButtonIndex()) break;
      if (title == model_.localized("Take Photo")) openPhotoScreen(1);
      if (title == model_.localized("Choose Photo")) openPhotoScreen(2);
      break;
    }
    case 3:
      if (buttonIndex == 0) copyThisNote();
      break;
    default:
      timerSheetAnswered(number, buttonIndex);
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Saving, copying, deleting

void noteEditController::save() {
  if (closed_) return;
  if (model_.timerStarted) {
    // The note stays a running timer; its record takes what the editor shows. Without a record
    // there is nothing to go back to: the editor stays and says so.
    if (auto kept = model_.keepRunningTimer(); !kept) {
      foundation::log("Cannot keep the running timer: " + kept.error().description());
      alertAboutTime(text_key::kTimerNotStored);
      return;
    }
    model_.timerStarted = false;
    model_.ticking = false;
    deleteTimer();
    closeSaved();
    return;
  }
  if (delegate_) {
    const SaveOutcome outcome = model_.saveThisNote();
    if (!outcome.close) {
      if (outcome.alert) ui::AlertView::create("", *outcome.alert, this, "OK")->show();
      return;
    }
  }
  closeSaved();
}

void noteEditController::cancel() {
  if (closed_) return;
  cancelPendingDelete();
  if (delegate_) {
    closed_ = true;
    delegate_->noteViewChildDone(*this, true);
  }
}

void noteEditController::closeSaved() {
  cancelPendingDelete();
  if (!delegate_) return;
  closed_ = true;
  delegate_->noteEditWasClosedAndSaved(*this, true);
}

void noteEditController::closeChanged() {
  cancelPendingDelete();
  if (!delegate_) return;
  closed_ = true;
  delegate_->noteViewChildDone(*this, true);
}

void noteEditController::cancelPendingDelete() {
  if (deleteTimer_) deleteTimer_.invalidate();
  deleteTimer_ = runtime::Timer();
}

void noteEditController::deleteNote() {
  if (!model_.editingNote || closed_) return;
  showSheet(1, "Delete", {});
}

void noteEditController::removeThisNote() {
  deleteTimer_ = runtime::Timer();
  if (closed_ || !delegate_ || !model_.editingNote) return;
  if (auto removed = model_.removeThisNote(); !removed) {
    alertAboutTime(text_key::kDeleteFailed);
    return;
  }
  closeChanged();
}

void noteEditController::copyNote() {
  if (!model_.editingNote || closed_) return;
  showSheet(3, "Copy", {});
}

void noteEditController::copyThisNote() {
  if (!delegate_ || !model_.editingNote) return;
  model_.copyThisNote();
  updateEditView();
  ui::animate(0.2, [this] {
    makeCopyButton_->setAlpha(0);
    deleteButton_->setAlpha(0);
  });
}

// ---------------------------------------------------------------------------------------------
// Timers

void noteEditController::deleteTimer() {
  if (noteTimerTick_) noteTimerTick_.invalidate();
  noteTimerTick_ = runtime::Timer();
}

void noteEditController::afterTimerChange() {
  if (!model_.ticking || closed_ || model_.tickStarts != tickStarts_) deleteTimer();
  tickStarts_ = model_.tickStarts;
  if (model_.ticking && !closed_ && !isTicking()) {
    noteTimerTick_ = runtime::RunLoop::main().scheduleTimer(1.0, true, [this](runtime::Timer&) {
      model_.tick();
      afterTimerChange();
    });
  }
  updateBarButtons();
  if (model_.limitAlertPending) {
    model_.limitAlertPending = false;
    updateEditView();
    alertAboutTime(text_key::kTimerLimitExceeded);
  } else if (noteEditTable_) {
    noteEditTable_->reloadData();
  }
  if (model_.pendingAlert) {
    const std::string text = std::move(*model_.pendingAlert);
    model_.pendingAlert.reset();
    ui::AlertView::create("", text, this, "OK")->show();
  }
}

void noteEditController::timerButtonClicked(int button) {
  const int sheet = model_.timerButtonClicked(button);
  afterTimerChange();
  if (sheet == 7) askAboutStop();
  if (sheet == 5 || sheet == 6) askToStartAnotherBreast(sheet == 5 ? 1 : 2);
}

void noteEditController::timerButtonClicked(ui::Control& sender) {
  const auto* button = dynamic_cast<const timerButton*>(&sender);
  if (const auto index = button ? timerButtonIndex(button->restorationIdentifier()) : std::nullopt)
    timerButtonClicked(*index);
}

void noteEditController::closeTimer() {
  model_.closeTimer();
  afterTimerChange();
}

void noteEditController::timerSheetAnswered(int sheet, int buttonIndex) {
  if (sheet == 8) {
    // Left, right, both halves; the cancel button (last) adds nothing.
    changeBreastFeedStartDate(model_, buttonIndex >= 0 && buttonIndex <= 2 ? buttonIndex : -1);
    afterTimerChange();
    updateEditView();
    return;
  }
  const auto alert = model_.timerSheetAnswered(sheet, buttonIndex);
  afterTimerChange();
  if (alert) ui::AlertView::create("", *alert, this, "OK")->show();
}

void noteEditController::willEnterForeground() {
  model_.setTimerCountFromDates(true);
  afterTimerChange();
  updateEditView();
}

void noteEditController::askAboutReset() { showSheet(4, text_key::kReset, {}); }

void noteEditController::askToStartAnotherBreast(std::uint32_t side) {
  if (side == 1 || side == 2) showSheet(side == 1 ? 5 : 6, text_key::kSwitchSides, {});
}

void noteEditController::askAboutStop() { showSheet(7, text_key::kStop, {}); }

// ---------------------------------------------------------------------------------------------
// Registration

void registerNoteEditorScreens(ui::Storyboard& storyboard, std::function<EditorServices()> services,
                               std::filesystem::path photoLibrary) {
  storyboard.registerController(kNoteEditControllerId, [services, photoLibrary] {
    return std::make_shared<noteEditController>(services(), photoLibrary);
  });
  storyboard.registerController(kEditNoteNavigationId, [services, photoLibrary] {
    return std::make_shared<ui::NavigationController>(
        std::make_shared<noteEditController>(services(), photoLibrary));
  });
  storyboard.registerController(photoViewController::kStoryboardIdentifier, [photoLibrary] {
    return std::make_shared<photoViewController>(photoLibrary);
  });
}

// ---------------------------------------------------------------------------------------------
// Value entry

ValuePanel& noteEditController::valuePanel() {
  if (!valuePanel_) {
    ValuePanel::Hooks hooks;
    hooks.reload = [this] { updateEditView(); };
    hooks.askAboutAddDuration = [this] { showSheet(8, std::nullopt, addDurationButtons(model_)); };
    hooks.barsHidden = [this](bool hidden) {
      if (!ui::device().isPad()) ui::Application::shared().setStatusBarHidden(hidden, true);
      if (auto* navigation = navigationController()) navigation->setNavigationBarHidden(hidden, true);
    };
    hooks.stripeAlpha = [this](double alpha) { bottomStripe_->setAlpha(alpha); };
    valuePanel_ = std::make_unique<ValuePanel>(*view(), model_, std::move(hooks));
  }
  return *valuePanel_;
}

void noteEditController::changeTheDate(bool start) { valuePanel().changeTheDate(start); }

void noteEditController::editNumValue() { valuePanel().editNumValue(); }

}  // namespace note_editor
