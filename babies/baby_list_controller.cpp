#include "babies/baby_list_controller.h"

#include "app/app_delegate.h"
#include "navigation/bar_title.h"
#include "navigation/interface_locale.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/predicate.h"
#include "app/value_texts.h"

namespace babies {

using foundation::Value;

namespace {

inline constexpr std::string_view kNotSetKey = "Not set";

std::string localized(std::string_view key) { return app::InterfaceText::current().localized(key); }

std::shared_ptr<store::Context> applicationContext() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->managedObjectContext() : nullptr;
}

std::shared_ptr<app::localSaves> applicationSaves() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->babysLocalSaves() : nullptr;
}

std::optional<std::string> applicationBabyName() {
  auto* delegate = app::AppDelegate::shared();
  return delegate ? delegate->currentBabyName() : std::nullopt;
}

std::shared_ptr<ui::TableView> fullTable(ui::ViewController& owner) {
  auto table = std::make_shared<ui::TableView>(owner.view()->bounds());
  table->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  owner.view()->addSubview(table);
  return table;
}

std::shared_ptr<ui::TableViewCell> plainCell(ui::TableView& table, const char* identifier,
                                             ui::CellStyle style) {
  auto cell = table.dequeueReusableCellWithIdentifier(identifier);
  return cell ? cell : std::make_shared<ui::TableViewCell>(style, identifier);
}

// Leaves a screen that may have been pushed or presented: pops it off a stack it is not the root
// of, else dismisses it (or what holds it).
void leave(ui::ViewController& screen) {
  auto* navigation = screen.navigationController();
  if (navigation && navigation->viewControllers().size() > 1 && navigation->topViewController() == &screen) {
    navigation->popViewControllerAnimated(true);
    return;
  }
  screen.dismissViewControllerAnimated(true);
}

std::vector<store::ObjectPtr> rowsOfBaby(store::Context& context, std::string_view entity,
                                         std::string_view format, const std::string& name) {
  store::FetchRequest request{std::string(entity)};
  auto predicate = store::Predicate::parse(format, {Value(name)});
  if (!predicate) return {};
  request.predicate = predicate.value();
  auto rows = context.fetch(request);
  return rows ? std::move(rows).value() : std::vector<store::ObjectPtr>{};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// babyListController

babyListController::babyListController() = default;

ui::TableView& babyListController::babyTable() {
  view();
  return *table_;
}

void babyListController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!locSaves_) locSaves_ = applicationSaves();
  setTitle(localized("Babies"));
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      "+", ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { addBaby(); }));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Edit"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem& item) {
        setEditing(!isEditing(), true);
        item.setTitle(isEditing() ? localized("Done") : localized("Edit"));
        navigationItem().setLeftBarButtonItem(navigationItem().leftBarButtonItem());
      }));
  table_ = fullTable(*this);
  table_->setAllowsSelectionDuringEditing(true);
  table_->setDataSource(this);
  table_->setDelegate(this);
  updateList();
}

void babyListController::updateList() {
  if (!context_) return;
  babies_.clear();
  auto rows = context_->fetch(store::FetchRequest{std::string(app::Baby::kEntityName)});
  if (rows) {
    for (auto& row : rows.value()) babies_.emplace_back(row);
  } else {
    foundation::log("The babies could not be read: " + rows.error().description());
  }
  if (table_) table_->reloadData();
}

void babyListController::viewDidAppear(bool /*animated*/) {
  if (developBabyName_) {
    const std::string name = *std::exchange(developBabyName_, std::nullopt);
    for (const auto& baby : babies_) {
      if (baby.baby_Name() == name) return openEditor(baby);
    }
  }
  // Nothing to choose from: the user starts with the first baby.
  if (context_ && babies_.empty() && !presentedViewController()) addBaby();
}

void babyListController::addBaby() { openEditor({}); }

void babyListController::editBabyAtIndex(size_t index) {
  if (index < babies_.size()) openEditor(babies_[index]);
}

void babyListController::openEditor(const app::Baby& baby) {
  auto editor = std::make_shared<addBabyController>();
  editor->setManagedObjectContext(context_);
  editor->setLocSaves(locSaves_);
  editor->setBaby(baby);
  editor->setAddBaby_delegate(this);
  editor->setClock(clock_);
  editingFirstBaby_ = !baby && babies_.empty();
  editedBaby_ = baby;
  editedName_ = baby.baby_Name();
  if (auto* navigation = navigationController()) {
    navigation->pushViewController(editor, true);
  } else {
    presentViewController(std::make_shared<ui::NavigationController>(editor), true);
  }
}

void babyListController::addBabyControllerDone(ui::ViewController& sender, bool changed,
                                               const app::Baby& added) {
  // Telling the delegate may dismiss this list; keep it for the call.
  auto self = shared_from_this();
  if (auto* navigation = navigationController(); navigation && navigation->topViewController() == &sender) {
    navigation->popViewControllerAnimated(true);
  } else if (presentedViewController()) {
    dismissViewControllerAnimated(true);
  }
  if (changed) updateList();
  const bool firstBaby = std::exchange(editingFirstBaby_, false) && added;
  const app::Baby edited = std::exchange(editedBaby_, {});
  const auto editedName = std::exchange(editedName_, std::nullopt);
  if (firstBaby) return tellChosen(added);
  // The opener's baby was renamed or deleted: it shows the renamed one, or the first left.
  if (!changed || !edited || !editedName || editedName != currentBabyName()) return;
  if (!edited.isDeleted() && edited.object()->context()) {
    if (edited.baby_Name() != editedName) tellChosen(edited);
  } else if (!babies_.empty()) {
    tellChosen(babies_.front());
  }
}

std::optional<std::string> babyListController::currentBabyName() const {
  return currentBabyName_ ? currentBabyName_ : applicationBabyName();
}

void babyListController::tellChosen(const app::Baby& baby) {
  auto self = shared_from_this();
  auto delegate = babyList_delegate_;
  currentBabyName_ = baby.baby_Name();
  if (delegate)
    delegate->babyListControllerDone(baby.baby_Name(), baby.baby_Gender().value_or(false) ? kGirl : kBoy,
                                     baby.baby_BirthDay());
}

int babyListController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(babies_.size());
}

std::shared_ptr<ui::TableViewCell> babyListController::cellForRowAtIndexPath(ui::TableView& table,
                                                                             const ui::IndexPath& path) {
  auto cell = plainCell(table, "babyCell", ui::CellStyle::kSubtitle);
  const auto& baby = babies_.at(static_cast<size_t>(path.row));
  cell->textLabel().setText(baby.baby_Name().value_or(""));
  cell->detailTextLabel().setText(baby.baby_Gender().value_or(false) ? localized("Girl") : localized("Boy"));
  cell->setAccessoryType(ui::CellAccessoryType::kDetailDisclosureButton);
  return cell;
}

bool babyListController::canEditRowAtIndexPath(ui::TableView& /*table*/, const ui::IndexPath& /*path*/) {
  return false;
}

void babyListController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  const auto index = static_cast<size_t>(path.row);
  if (index >= babies_.size()) return;
  if (isEditing()) return editBabyAtIndex(index);
  tellChosen(babies_[index]);
}

// ---------------------------------------------------------------------------------------------
// addBabyController

addBabyController::addBabyController() = default;

void addBabyController::setIcon(std::optional<graphics::Image> icon) {
  icon_ = std::move(icon);
  removeIcon_ = false;
}

void addBabyController::removeIcon() {
  icon_.reset();
  removeIcon_ = true;
}

void addBabyController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!locSaves_) locSaves_ = applicationSaves();
  view()->setBackgroundColor(graphics::Color::white());
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Cancel"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { cancel(); }));
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Done"), ui::BarButtonItemStyle::kDone, [this](ui::BarButtonItem&) { save(); }));
  navigation::setShrinkingTitle(*this, baby_ ? baby_.baby_Name().value_or("") : localized("New baby"));

  const double width = view()->bounds().width();
  nameField_ = std::make_shared<ui::TextField>(ui::Rect(20, 20, width - 40, 40));
  nameField_->setPlaceholder(localized("Name"));
  genderSegment_ =
      std::make_shared<ui::SegmentedControl>(std::vector<std::string>{localized("Boy"), localized("Girl")});
  genderSegment_->setFrame(ui::Rect(20, 72, width - 40, 32));
  bloodPicker_ = std::make_shared<ui::PickerView>(ui::Rect(0, 112, width, 162));
  bloodPicker_->setDataSource(this);
  bloodPicker_->setDelegate(this);
  birthdayPicker_ = std::make_shared<ui::DatePicker>(ui::Rect(0, 282, width, 162));
  birthdayPicker_->setMode(ui::DatePickerMode::kDate);
  birthdayPicker_->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  for (const auto& part : std::initializer_list<std::shared_ptr<ui::View>>{nameField_, genderSegment_,
                                                                           bloodPicker_, birthdayPicker_})
    view()->addSubview(part);

  nameField_->setText(baby_.baby_Name().value_or(""));
  genderSegment_->setSelectedSegmentIndex(baby_.baby_Gender().value_or(false) ? kGirl : kBoy);
  bloodPicker_->reloadAllComponents();
  bloodPicker_->selectRow(baby_.baby_Bood().value_or(0), 0);
  const foundation::Date today = (clock_ ? *clock_ : runtime::RunLoop::main().clock()).now();
  birthdayPicker_->setMaximumDate(std::max(today, baby_.baby_BirthDay().value_or(today)));
  birthdayPicker_->setDate(baby_.baby_BirthDay().value_or(today));

  if (baby_) {
    auto remove = std::make_shared<ui::Button>(ui::Rect(20, 456, width - 40, 44));
    remove->setTitle(localized("Delete"));
    remove->setTitleColor(graphics::Color::rgb255(220, 40, 40));
    remove->addTarget([this](ui::Control&) { deleteBaby(); }, ui::kControlEventTouchUpInside);
    view()->addSubview(remove);
  }
}

std::optional<std::string> addBabyController::titleForRow(ui::PickerView& /*picker*/, int row,
                                                          int /*component*/) {
  return row == 0 ? localized(kNotSetKey) : std::string(bloodGroupText(row));
}

BabyProfileInput addBabyController::input() const {
  BabyProfileInput input;
  input.name = nameField_->text();
  input.gender = genderSegment_->selectedSegmentIndex() == kGirl ? kGirl : kBoy;
  input.bloodGroup = std::max(0, bloodPicker_->selectedRowInComponent(0));
  input.birthday = birthdayPicker_->date();
  input.icon = icon_;
  input.removeIcon = removeIcon_;
  return input;
}

void addBabyController::showAlert(const foundation::Error& error) {
  std::string title = localized("The baby could not be saved.");
  if (error.domain == kBabyProfileErrorDomain) {
    if (const auto* key = error.userInfo["key"].string()) title = localized(*key);
  }
  alert_ = ui::AlertView::create(title, "", nullptr, localized("OK"));
  alert_->show();
}

void addBabyController::save() {
  view();
  BabyProfileRules rules(context_, locSaves_);
  if (baby_) {
    if (auto updated = rules.updateBaby(baby_, input()); !updated) return showAlert(updated.error());
    return finish(true, {});
  }
  auto added = rules.addBaby(input());
  if (!added) return showAlert(added.error());
  finish(true, added.value());
}

void addBabyController::cancel() { finish(false, {}); }

void addBabyController::deleteBaby() {
  if (!baby_) return;
  sheet_ = ui::ActionSheet::create(std::nullopt, this, localized("Cancel"), localized("Delete"));
  sheet_->showInView(view().get());
}

void addBabyController::actionSheetClickedButtonAtIndex(ui::ActionSheet& sheet, int buttonIndex) {
  if (buttonIndex != sheet.destructiveButtonIndex()) return;
  BabyProfileRules rules(context_, locSaves_);
  if (auto deleted = rules.deleteBaby(baby_); !deleted) {
    alert_ = ui::AlertView::create(localized("The baby could not be deleted."), "", nullptr, localized("OK"));
    alert_->show();
    return;
  }
  finish(true, {});
}

void addBabyController::finish(bool changed, const app::Baby& added) {
  auto self = shared_from_this();
  if (delegate_) return delegate_->addBabyControllerDone(*this, changed, added);
  leave(*this);
}

// ---------------------------------------------------------------------------------------------
// babyInfoTableViewController

babyInfoTableViewController::babyInfoTableViewController() = default;

void babyInfoTableViewController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  setTitle(infoType_ == kInfoTypeContacts ? localized("Contacts") : localized("Allergies"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Done"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { back(); }));
  table_ = fullTable(*this);
  table_->setDataSource(this);
}

void babyInfoTableViewController::viewWillAppear(bool /*animated*/) { reload(); }

void babyInfoTableViewController::reload() {
  rows_.clear();
  if (context_ && currentBabyName_) {
    if (infoType_ == kInfoTypeContacts) {
      for (auto& row : rowsOfBaby(*context_, app::Contact::kEntityName, "contactToBaby.baby_Name == %@",
                                  *currentBabyName_)) {
        const app::Contact contact(row);
        std::string text = contact.contact_FirstName().value_or("");
        if (auto last = contact.contact_LastName(); last && !last->empty())
          text += (text.empty() ? "" : " ") + *last;
        if (auto phone = contact.contact_Phone(); phone && !phone->empty())
          text += (text.empty() ? "" : ", ") + *phone;
        rows_.push_back(std::move(text));
      }
    } else {
      for (auto& row : rowsOfBaby(*context_, app::Allergy::kEntityName, "allergyToBaby.baby_Name == %@",
                                  *currentBabyName_)) {
        const app::Allergy allergy(row);
        std::string text = allergy.allergy_Id().value_or("");
        if (auto note = allergy.allergy_Note(); note && !note->empty())
          text += (text.empty() ? "" : ": ") + *note;
        rows_.push_back(std::move(text));
      }
    }
  }
  if (table_) table_->reloadData();
}

void babyInfoTableViewController::back() {
  auto self = shared_from_this();
  if (noteView_delegate_) return noteView_delegate_->noteViewChildDone(*this, false);
  leave(*this);
}

int babyInfoTableViewController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(rows_.size());
}

std::shared_ptr<ui::TableViewCell> babyInfoTableViewController::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  auto cell = plainCell(table, "infoCell", ui::CellStyle::kDefault);
  cell->textLabel().setText(rows_.at(static_cast<size_t>(path.row)));
  return cell;
}

// ---------------------------------------------------------------------------------------------
// photoCollectionController

photoCollectionController::photoCollectionController() = default;

void photoCollectionController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!locSaves_) locSaves_ = applicationSaves();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  setTitle(localized("Photos"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Done"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { back(); }));
  table_ = fullTable(*this);
  table_->setRowHeight(88);
  table_->setDataSource(this);
}

void photoCollectionController::viewWillAppear(bool /*animated*/) { reload(); }

void photoCollectionController::reload() {
  photoKeys_.clear();
  photoDates_.clear();
  if (context_ && currentBabyName_) {
    store::FetchRequest request{std::string(app::PhotoInfo::kEntityName)};
    auto predicate = store::Predicate::parse("photoInfoToBaby.baby_Name == %@", {Value(*currentBabyName_)});
    if (predicate) {
      request.predicate = predicate.value();
      request.sortDescriptors = {{"photo_Date", false}};
      if (auto rows = context_->fetch(request)) {
        for (auto& row : rows.value()) {
          const app::PhotoInfo info(row);
          auto key = info.photo_Path();
          // A row whose file is gone has nothing to show.
          if (!key || !locSaves_ || !std::filesystem::exists(locSaves_->getPhotosDir() / (*key + ".jpg")))
            continue;
          photoKeys_.push_back(*key);
          photoDates_.push_back(info.photo_Date());
        }
      }
    }
  }
  if (table_) table_->reloadData();
}

void photoCollectionController::back() {
  auto self = shared_from_this();
  if (noteView_delegate_) return noteView_delegate_->noteViewChildDone(*this, false);
  leave(*this);
}

int photoCollectionController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(photoKeys_.size());
}

std::shared_ptr<ui::TableViewCell> photoCollectionController::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  auto cell = plainCell(table, "photoCell", ui::CellStyle::kDefault);
  const auto index = static_cast<size_t>(path.row);
  const auto& date = photoDates_.at(index);
  const auto formatter = navigation::interfaceDateFormatter(foundation::DateFormatterStyle::Medium,
                                                            foundation::DateFormatterStyle::Short);
  cell->textLabel().setText(date ? formatter.stringFromDate(*date) : "");
  if (locSaves_) {
    if (auto image = locSaves_->getPhoto(photoKeys_[index]))
      cell->imageView().setImage(std::make_shared<graphics::Image>(std::move(*image)));
  }
  return cell;
}

// ---------------------------------------------------------------------------------------------

void registerBabyScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kBabyListId, [] { return std::make_shared<babyListController>(); });
  storyboard.registerController(kBabyNavigationId, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<babyListController>());
  });
  storyboard.registerController(kAddBabyId, [] { return std::make_shared<addBabyController>(); });
  storyboard.registerController(kBabyInfoTableId,
                                [] { return std::make_shared<babyInfoTableViewController>(); });
  storyboard.registerController(kPhotoCollectionId,
                                [] { return std::make_shared<photoCollectionController>(); });
  const std::string infoNav = std::string(kBabyInfoTableId) + "_nav";
  const std::string photoNav = std::string(kPhotoCollectionId) + "_nav";
  storyboard.registerController(infoNav, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<babyInfoTableViewController>());
  });
  storyboard.registerController(photoNav, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<photoCollectionController>());
  });
  storyboard.registerSegue(kChangeBabySegue, kBabyNavigationId, ui::SegueKind::kFormSheet);
  storyboard.registerSegue(kBabyInfoTableSegue, infoNav, ui::SegueKind::kPopover);
  storyboard.registerSegue(kBabyInfoTableSegue2, infoNav, ui::SegueKind::kPopover);
  storyboard.registerSegue(kPhotoCollectionSegue, photoNav, ui::SegueKind::kFormSheet);
}

}  // namespace babies
