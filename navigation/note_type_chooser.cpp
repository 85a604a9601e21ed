#include "navigation/note_type_chooser.h"

#include <cmath>
#include <utility>

#include "app/app_delegate.h"
#include "app/flat_widgets.h"
#include "app/note_types.h"
#include "navigation/bar_title.h"
#include "navigation/type_order_editor.h"
#include "note_editor/note_edit_controller.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"

namespace navigation {

// ---------------------------------------------------------------------------------------------
// Services

ChooserServices ChooserServices::fromApplication() {
  ChooserServices services;
  services.language = [] { return app::InterfaceText::current(); };
  // The step is looked up at each use: screens made before the launch (the root) ask later.
  if (auto* delegate = app::AppDelegate::shared()) services.library = delegate->home().library();
  services.tutorialState = [] {
    auto* d = app::AppDelegate::shared();
    return d ? d->tutorialState() : -1;
  };
  services.setTutorialState = [](std::int32_t state) -> foundation::Status {
    auto* d = app::AppDelegate::shared();
    if (!d) return {};
    d->setTutorialState(state);
    return d->saveTutorialState();
  };
  return services;
}

std::string ChooserServices::localized(std::string_view key) const {
  return (language ? language() : app::InterfaceText::current()).localized(key);
}

app::NoteEditHelper ChooserServices::helper() const {
  app::NoteEditHelper::Environment environment;
  environment.context = [] { return std::shared_ptr<store::Context>(); };
  environment.library = library;
  environment.language = language;
  return app::NoteEditHelper(std::move(environment));
}

// ---------------------------------------------------------------------------------------------
// Reminder date screen

void reminderChooseDateController::reminderSaved() {
  // The delegate pops this screen; both must outlive the call.
  auto self = shared_from_this();
  if (auto delegate = delegate_) delegate->doDismissMeDone(*this, true);
}

void reminderChooseDateController::cancel() {
  // The delegate pops this screen; both must outlive the call.
  auto self = shared_from_this();
  if (auto delegate = delegate_) delegate->doDismissMeDone(*this, false);
}

// ---------------------------------------------------------------------------------------------
// noteTypeCell

namespace {

// A phone laid out for the larger screens (its rows are taller, its columns exact thirds).
constexpr double kLabelInset = 2;
// How far a name may shrink before it is cut.
constexpr double kLabelMinimumScale = 0.6;
// How far a finger may move and still tap.
constexpr double kTapSlop = 10;

bool largePhone() {
  const auto& d = ui::device();
  return d.isPhone() && (d.isPhone736() || d.isStandardPhone667());
}

}  // namespace

noteTypeCell::noteTypeCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  for (auto* image : {&typeImage, &typeImage2, &typeImage3}) {
    *image = std::make_shared<ui::ImageView>();
    contentView().addSubview(*image);
  }
  // A long name (in German or Russian) shrinks to its column rather than losing its end.
  for (auto* label : {&typeLable, &typeLable2, &typeLable3}) {
    *label = std::make_shared<ui::Label>();
    (*label)->setTextAlignment(ui::TextAlignment::kCenter);
    (*label)->setFont(graphics::Font("AvenirNext-Regular", 15));
    (*label)->setAdjustsFontSizeToFitWidth(true);
    (*label)->setMinimumScaleFactor(kLabelMinimumScale);
    contentView().addSubview(*label);
  }
}

void noteTypeCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  // Three equal columns: icon above, name below.
  const double c = bounds().width() / 3;
  const double h = bounds().height();
  const std::shared_ptr<ui::ImageView> images[] = {typeImage, typeImage2, typeImage3};
  const std::shared_ptr<ui::Label> labels[] = {typeLable, typeLable2, typeLable3};
  for (int k = 0; k < 3; ++k) {
    images[k]->setFrame(graphics::Rect(k * c + c / 2 - 22, 8, 44, 44));
    labels[k]->setFrame(graphics::Rect(k * c + kLabelInset, h - 26, c - 2 * kLabelInset, 20));
  }
}

// The table scrolls under a finger that moves: only a touch that stays where it began picks a type.
void noteTypeCell::touchesBegan(const ui::TouchSet& touches) {
  ui::TableViewCell::touchesBegan(touches);
  touchStart_ = touches.empty() ? std::nullopt : std::optional<graphics::Point>(touches.front().location);
}

void noteTypeCell::touchesCancelled(const ui::TouchSet& touches) {
  ui::TableViewCell::touchesCancelled(touches);
  touchStart_.reset();
}

void noteTypeCell::touchesEnded(const ui::TouchSet& touches) {
  const auto start = std::exchange(touchStart_, std::nullopt);
  // The table hears the end too, so that a scroll it began is over.
  ui::TableViewCell::touchesEnded(touches);
  if (touches.empty()) return;
  if (start &&
      std::hypot(touches.front().location.x - start->x, touches.front().location.y - start->y) > kTapSlop)
    return;
  checkPoint(touches);
}

void noteTypeCell::checkPoint(const ui::TouchSet& touches) {
  if (!noteTypeCell_delegate || touches.empty()) return;
  const double x = touches.front().locationInView(this).x;
  const double w = bounds().width();
  const int picked = x > 2 * w / 3 ? rightNum : x > w / 3 ? middleNum : leftNum;
  if (picked >= 0) noteTypeCell_delegate->noteTypeFromNum(picked);
}

void noteTypeCell::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  const auto b = bounds();
  const double w = b.width();
  const double h = b.height();
  app::beginFlatRowDrawing(canvas, b);
  if (firstCell) canvas.strokeLine(graphics::Point(0, 0.5), graphics::Point(w, 0.5));
  canvas.strokeLine(graphics::Point(0, h), graphics::Point(w, h));
  canvas.strokeLine(graphics::Point(w / 3, 0.5), graphics::Point(w / 3, h));
  canvas.strokeLine(graphics::Point(2 * w / 3, 0.5), graphics::Point(2 * w / 3, h));
}

// ---------------------------------------------------------------------------------------------
// noteTypeTableController

noteTypeTableController::noteTypeTableController(ChooserServices services)
    : services_(std::move(services)), helper_(services_.helper()) {}

std::shared_ptr<ui::BarButtonItem> noteTypeTableController::plainEditButton() {
  return ui::BarButtonItem::withTitle(services_.localized("Edit"), ui::BarButtonItemStyle::kPlain,
                                      [this](ui::BarButtonItem&) { edit(); });
}

void noteTypeTableController::viewDidLoad() {
  view()->setBackgroundColor(graphics::Color::rgb(250 / 255.0, 249 / 255.0, 253 / 255.0, 1));
  if (!forReminders_) {
    navigationItem().setLeftBarButtonItem(
        ui::BarButtonItem::withTitle(services_.localized("Cancel"), ui::BarButtonItemStyle::kPlain,
                                     [this](ui::BarButtonItem&) { cancel(); }));
  } else {
    // Pushed over the reminder list: the flat back button, as a back button titled with the list's
    // name is cut in the longer languages.
    navigationItem().setLeftBarButtonItem(
        app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] {
          if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
        }));
  }
  navigationItem().setRightBarButtonItem(
      services_.tutorial() == 3
          ? app::FlatBarButtonItems::rightButtonEditTextWithBadgeWithTargetSelector([this] { edit(); })
          : plainEditButton());
  setShrinkingTitle(*this, services_.localized("Categories"));

  // The table fills the view as the navigation controller sizes it (below its bar), so that its
  // last row can be scrolled into sight.
  typeTable_ = std::make_shared<ui::TableView>(view()->bounds());
  typeTable_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  typeTable_->setAllowsSelection(false);
  typeTable_->setSeparatorStyle(ui::SeparatorStyle::kNone);
  typeTable_->registerCell(noteTypeCell::kIdentifier, [] { return std::make_shared<noteTypeCell>(); });
  typeTable_->setDataSource(this);
  typeTable_->setDelegate(this);
  view()->addSubview(typeTable_);
}

void noteTypeTableController::viewWillAppear(bool /*animated*/) {
  noteTypeArray_ = helper_.getTypeIds("userList");
  typeTable_->reloadData();
}

int noteTypeTableController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(noteTypeArray_.size() / 3);
}

std::optional<double> noteTypeTableController::heightForRowAtIndexPath(ui::TableView& /*table*/,
                                                                       const ui::IndexPath& /*path*/) {
  if (ui::device().isPad()) return 100;
  return largePhone() ? 84 : 80;
}

ui::ImageRef noteTypeTableController::getImageForTypeID(const std::string& type) const {
  if (!forReminders_ && type == app::note_type::kWeight && services_.tutorial() == 0)
    return ui::imageNamed("icon_weight_badge.png");
  auto path = helper_.getIconPath(type);
  return path ? ui::imageNamed(*path) : nullptr;
}

std::shared_ptr<ui::TableViewCell> noteTypeTableController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                  const ui::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<noteTypeCell>(
      table.dequeueReusableCellWithIdentifier(noteTypeCell::kIdentifier));
  if (!cell) return cell;
  cell->firstCell = path.row == 0;
  int* nums[] = {&cell->leftNum, &cell->middleNum, &cell->rightNum};
  const std::shared_ptr<ui::ImageView> images[] = {cell->typeImage, cell->typeImage2, cell->typeImage3};
  const std::shared_ptr<ui::Label> labels[] = {cell->typeLable, cell->typeLable2, cell->typeLable3};
  for (int k = 0; k < 3; ++k) {
    const size_t index = static_cast<size_t>(path.row) * 3 + static_cast<size_t>(k);
    *nums[k] = -1;
    if (index >= noteTypeArray_.size()) continue;
    labels[k]->setText(services_.localized(noteTypeArray_[index]));
    images[k]->setImage(getImageForTypeID(noteTypeArray_[index]));
    *nums[k] = static_cast<int>(index);
  }
  cell->noteTypeCell_delegate = this;
  cell->setNeedsDisplay();
  return cell;
}

void noteTypeTableController::willDisplayCell(ui::TableView& /*table*/, ui::TableViewCell& cell,
                                              const ui::IndexPath& /*path*/) {
  cell.setBackgroundColor(graphics::Color::clear());
}

void noteTypeTableController::noteTypeFromNum(int index) {
  auto* navigation = navigationController();
  if (!navigation || !storyboard() || index < 0 || static_cast<size_t>(index) >= noteTypeArray_.size())
    return;
  const std::string& type = noteTypeArray_[static_cast<size_t>(index)];
  if (forReminders_) {
    auto screen = std::dynamic_pointer_cast<reminderChooseDateController>(
        storyboard()->instantiateViewControllerWithIdentifier(kChooseReminderDateId));
    if (!screen) return;
    screen->setBabyName(currentBabyName_);
    screen->setTypeId(type);
    screen->setReminderChoose_delegate(
        std::dynamic_pointer_cast<noteTypeTableController>(shared_from_this()));
    navigation->pushViewController(screen, true);
    return;
  }
  auto editor = std::dynamic_pointer_cast<note_editor::noteEditController>(
      storyboard()->instantiateViewControllerWithIdentifier(note_editor::kNoteEditControllerId));
  if (!editor) return;
  editor->setNote_Type(type);
  editor->setManagedObjectContext(context_);
  editor->setCurrentBabyName(currentBabyName_);
  editor->setNoteView_delegate(this);
  navigation->pushViewController(editor, true);
}

void noteTypeTableController::edit() {
  if (services_.tutorial() == 3) navigationItem().setRightBarButtonItem(plainEditButton());
  auto* navigation = navigationController();
  if (!navigation || !storyboard()) return;
  if (auto screen = storyboard()->instantiateViewControllerWithIdentifier(kNoteTypeListEditId))
    navigation->pushViewController(screen, true);
}

void noteTypeTableController::cancel() { noteViewChildDone(*this, false); }

void noteTypeTableController::noteViewChildDone(ui::ViewController& /*child*/, bool changed) {
  if (noteView_delegate_) noteView_delegate_->noteViewChildDone(*this, changed);
}

void noteTypeTableController::noteEditWasClosedAndSaved(ui::ViewController& /*editor*/, bool saved) {
  if (noteView_delegate_) noteView_delegate_->noteEditWasClosedAndSaved(*this, saved);
}

void noteTypeTableController::doDismissMeDone(ui::ViewController& /*sender*/, bool done) {
  // The date screen on top goes without animation; the opener then pops this one. The stack lets
  // go of both as they pop, so keep this screen until the answer has gone out.
  auto self = shared_from_this();
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(false);
  if (reminderChoose_delegate_) reminderChoose_delegate_->doDismissMeDone(*this, done);
}

// ---------------------------------------------------------------------------------------------

void registerChooserScreens(ui::Storyboard& storyboard, std::function<ChooserServices()> services) {
  storyboard.registerController(kNoteTypeId,
                                [services] { return std::make_shared<noteTypeTableController>(services()); });
  storyboard.registerController(kAddNoteNavigationId, [services] {
    return std::make_shared<ui::NavigationController>(std::make_shared<noteTypeTableController>(services()));
  });
  storyboard.registerSegue(kAddNoteSegue, kAddNoteNavigationId, ui::SegueKind::kFormSheet);
  storyboard.registerController(
      kNoteTypeListEditId, [services] { return std::make_shared<noteTypeListEditController>(services()); });
  storyboard.registerController(kChooseReminderDateId,
                                [] { return std::make_shared<reminderChooseDateController>(); });
}

}  // namespace navigation
