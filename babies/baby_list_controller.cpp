#include "babies/baby_list_controller.h"

#include <algorithm>
#include <cmath>

#include "app/app_delegate.h"
#include "babies/screen_support.h"
#include "babies/teeth_view_controller.h"
#include "navigation/bar_title.h"
#include "navigation/interface_locale.h"
#include "navigation/url_helper.h"
#include "platform/foundation/locale.h"
#include "platform/runtime/user_defaults.h"
#include "platform/graphics/image_effects.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/image_library.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/store/predicate.h"

namespace babies {

using foundation::Value;

namespace {

inline constexpr std::string_view kNotSetKey = "Not set";

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
  showChild(*this, editor);
}

void babyListController::addBabyControllerDone(ui::ViewController& sender, bool changed,
                                               const app::Baby& added) {
  // Telling the delegate may dismiss this list; keep it for the call.
  auto self = shared_from_this();
  takeAwayChild(*this, sender);
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
  const bool girl = baby.baby_Gender().value_or(false);
  cell->detailTextLabel().setText(girl ? localized("Girl") : localized("Boy"));
  // The picture a parent chose, else the default one of the gender.
  std::optional<graphics::Image> icon;
  if (auto name = baby.baby_Name(); name && locSaves_) icon = locSaves_->getIcon(*name);
  const ui::ImageRef fallback = icon ? nullptr : ui::imageNamed(girl ? "babyGirl" : "babyBoy");
  const graphics::Image* picture = icon ? &*icon : fallback.get();
  if (picture && !picture->isEmpty()) {
    cell->imageView().setImage(thumbnail(*picture, 36));
  }
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

std::optional<graphics::Image> addBabyController::shownIcon() const {
  if (icon_) return icon_;
  return removeIcon_ ? std::nullopt : storedIcon_;
}

void addBabyController::showPicture() {
  if (!pictureButton_) return;
  const auto icon = shownIcon();
  const bool girl = genderSegment_ && genderSegment_->selectedSegmentIndex() == kGirl;
  // A chosen picture shows as a circle; the default pictures keep their own square shape.
  pictureButton_->setBackgroundImage(icon ? std::make_shared<const graphics::Image>(*icon)
                                          : ui::imageNamed(girl ? "babyGirl" : "babyBoy"));
  pictureButton_->setCornerRadius(icon ? pictureButton_->bounds().width() / 2 : 0);
  pictureButton_->setClipsToBounds(icon.has_value());
}

void addBabyController::openPicture() {
  auto* navigation = navigationController();
  auto* board = storyboard();
  if (!navigation || !board) return;
  auto screen = board->instantiateViewControllerWithIdentifier(note_editor::photoViewController::kStoryboardIdentifier);
  auto* photo = dynamic_cast<note_editor::photoViewController*>(screen.get());
  if (!photo) return;
  view()->endEditing(true);
  photo->photoView_delegate = this;
  photo->photoImage = shownIcon();
  // Without a picture yet there is nothing to show first: straight to the library.
  photo->getPhotoOnStart = photo->photoImage ? 0 : 2;
  navigation->pushViewController(screen, true);
}

void addBabyController::setPhoto(const std::optional<graphics::Image>& image) {
  const auto shown = shownIcon();
  if (graphics::Image::samePicture(image, shown)) return;
  if (image) {
    setIcon(*image);
  } else {
    removeIcon();
  }
  showPicture();
}

bool addBabyController::textFieldShouldReturn(ui::TextField& field) {
  // The keyboard would cover the birthday's wheel.
  field.resignFirstResponder();
  return true;
}

void addBabyController::logBabyName(const std::string& name) {
  if (!logEvent_) logEvent_ = navigation::tallyEventSink();
  const auto languages = runtime::UserDefaults::standard()->preferredLanguages();
  logEvent_("baby_names", foundation::Dictionary{{"name", name},
                                                  {"lang", languages.empty() ? std::string() : languages.front()},
                                                  {"country", foundation::Locale::current().countryCode()}});
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

  if (baby_ && locSaves_) {
    if (auto name = baby_.baby_Name()) storedIcon_ = locSaves_->getIcon(*name);
  }
  pictureButton_ = std::make_shared<ui::Button>(ui::Rect());
  pictureButton_->setAccessibilityLabel(localized("Photo"));
  pictureButton_->addTarget([this](ui::Control&) { openPicture(); }, ui::kControlEventTouchUpInside);
  view()->addSubview(pictureButton_);
  nameField_ = std::make_shared<ui::TextField>(ui::Rect());
  nameField_->setPlaceholder(localized("Name"));
  nameField_->setDelegate(this);
  genderSegment_ =
      std::make_shared<ui::SegmentedControl>(std::vector<std::string>{localized("Boy"), localized("Girl")});
  bloodPicker_ = std::make_shared<ui::PickerView>(ui::Rect());
  bloodPicker_->setDataSource(this);
  bloodPicker_->setDelegate(this);
  birthdayPicker_ = std::make_shared<ui::DatePicker>(ui::Rect());
  // A shrunk wheel shows fewer rows, not rows over its neighbour.
  bloodPicker_->setClipsToBounds(true);
  birthdayPicker_->setClipsToBounds(true);
  birthdayPicker_->setMode(ui::DatePickerMode::kDate);
  birthdayPicker_->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  for (const auto& part : std::initializer_list<std::shared_ptr<ui::View>>{nameField_, genderSegment_,
                                                                           bloodPicker_, birthdayPicker_})
    view()->addSubview(part);

  nameField_->setText(baby_.baby_Name().value_or(""));
  genderSegment_->setSelectedSegmentIndex(baby_.baby_Gender().value_or(false) ? kGirl : kBoy);
  genderSegment_->addTarget([this](ui::Control&) { showPicture(); }, ui::kControlEventValueChanged);
  showPicture();
  bloodPicker_->reloadAllComponents();
  bloodPicker_->selectRow(baby_.baby_Bood().value_or(0), 0);
  const foundation::Date today = (clock_ ? *clock_ : runtime::RunLoop::main().clock()).now();
  birthdayPicker_->setMaximumDate(std::max(today, baby_.baby_BirthDay().value_or(today)));
  birthdayPicker_->setDate(baby_.baby_BirthDay().value_or(today));

  if (baby_) {
    deleteButton_ = std::make_shared<ui::Button>(ui::Rect());
    deleteButton_->setTitle(localized("Delete"));
    deleteButton_->setTitleColor(graphics::Color::rgb255(220, 40, 40));
    deleteButton_->addTarget([this](ui::Control&) { deleteBaby(); }, ui::kControlEventTouchUpInside);
    view()->addSubview(deleteButton_);
  }
  layOutParts();
}

void addBabyController::viewWillLayoutSubviews() {
  if (birthdayPicker_) layOutParts();
}

void addBabyController::layOutParts() {
  // The two wheels share what the view leaves below the name and gender and above "Delete": a
  // phone's screen has room for both at full height, the tablet's popover (after a restore into an
  // empty store) has less, and there they shrink rather than run past the popover's bottom edge.
  constexpr double kFullWheel = 162, kGap = 8, kWheelsTop = 112, kDeleteHeight = 44, kDeleteGap = 12;
  const double width = view()->bounds().width(), height = view()->bounds().height();
  const double below = deleteButton_ ? kDeleteGap + kDeleteHeight : 0;
  const double wheel = std::clamp((height - kWheelsTop - kGap - below - 4) / 2, 0.0, kFullWheel);
  pictureButton_->setFrame(ui::Rect(20, 12, 56, 56));
  nameField_->setFrame(ui::Rect(88, 20, width - 108, 40));
  genderSegment_->setFrame(ui::Rect(20, 72, width - 40, 32));
  bloodPicker_->setFrame(ui::Rect(0, kWheelsTop, width, wheel));
  birthdayPicker_->setFrame(ui::Rect(0, kWheelsTop + wheel + kGap, width, wheel));
  if (deleteButton_)
    deleteButton_->setFrame(ui::Rect(20, kWheelsTop + 2 * wheel + kGap + kDeleteGap, width - 40, kDeleteHeight));
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
  view()->endEditing(true);
  BabyProfileRules rules(context_, locSaves_);
  if (baby_) {
    const auto oldName = baby_.baby_Name();
    if (auto updated = rules.updateBaby(baby_, input()); !updated) return showAlert(updated.error());
    if (auto name = baby_.baby_Name(); name && name != oldName) logBabyName(*name);
    return finish(true, {});
  }
  auto added = rules.addBaby(input());
  if (!added) return showAlert(added.error());
  logBabyName(added->baby_Name().value_or(""));
  finish(true, added.value());
}

void addBabyController::cancel() { finish(false, {}); }

void addBabyController::deleteBaby() {
  if (!baby_) return;
  sheet_ = askToDelete(*this, this);
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
  table_->setDelegate(this);
}

void babyInfoTableViewController::viewWillAppear(bool /*animated*/) { reload(); }

void babyInfoTableViewController::reload() {
  sections_.clear();
  const BabyRecords records(context_, currentBabyName_);
  const std::vector<const RecordKind*> kinds =
      infoType_ == kInfoTypeContacts ? std::vector{&contactRecords()} : std::vector{&allergyRecords(), &infoRecords()};
  for (const RecordKind* kind : kinds) sections_.push_back({kind, records.records(*kind)});
  if (table_) table_->reloadData();
}

std::vector<std::string> babyInfoTableViewController::rows() const {
  std::vector<std::string> texts;
  for (const auto& section : sections_)
    for (const auto& record : section.records) texts.push_back(recordRowText(*section.kind, record));
  return texts;
}

void babyInfoTableViewController::back() {
  auto self = shared_from_this();
  if (noteView_delegate_) return noteView_delegate_->noteViewChildDone(*this, false);
  leave(*this);
}

void babyInfoTableViewController::openRecord(int section, std::optional<size_t> row) {
  if (section < 0 || static_cast<size_t>(section) >= sections_.size()) return;
  const Section& shown = sections_[static_cast<size_t>(section)];
  if (row && *row >= shown.records.size()) return;
  auto editor = std::make_shared<babyRecordEditController>(*shown.kind, context_, currentBabyName_,
                                                           row ? shown.records[*row] : nullptr);
  editor->setRecordEdit_delegate(this);
  showChild(*this, editor);
}

void babyInfoTableViewController::babyRecordEditDone(ui::ViewController& editor, bool changed) {
  auto self = shared_from_this();
  takeAwayChild(*this, editor);
  if (changed) reload();
}

int babyInfoTableViewController::numberOfSectionsInTableView(ui::TableView& /*table*/) {
  return static_cast<int>(sections_.size());
}

int babyInfoTableViewController::numberOfRowsInSection(ui::TableView& /*table*/, int section) {
  if (section < 0 || static_cast<size_t>(section) >= sections_.size()) return 0;
  return static_cast<int>(sections_[static_cast<size_t>(section)].records.size()) + 1;
}

std::optional<std::string> babyInfoTableViewController::titleForHeaderInSection(ui::TableView& /*table*/,
                                                                                int section) {
  // One kind needs no heading; the screen's title names it.
  if (sections_.size() < 2 || section < 0 || static_cast<size_t>(section) >= sections_.size()) return std::nullopt;
  return localized(sections_[static_cast<size_t>(section)].kind == &infoRecords() ? "Information" : "Allergies");
}

std::shared_ptr<ui::TableViewCell> babyInfoTableViewController::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  auto cell = plainCell(table, "infoCell", ui::CellStyle::kDefault);
  const Section& section = sections_.at(static_cast<size_t>(path.section));
  const auto row = static_cast<size_t>(path.row);
  if (row < section.records.size()) {
    cell->textLabel().setText(recordRowText(*section.kind, section.records[row]));
    cell->textLabel().setTextColor(graphics::Color::black());
    // A record's row wraps (see heightForRowAtIndexPath): an allergy's reaction or a contact's
    // phone number is what the parent looks for, and it comes last.
    cell->textLabel().setNumberOfLines(0);
    cell->textLabel().setLineBreakMode(graphics::LineBreakMode::kWordWrap);
    cell->setAccessoryType(ui::CellAccessoryType::kDisclosureIndicator);
  } else {
    cell->textLabel().setText(localized(section.kind->addKey));
    cell->textLabel().setTextColor(graphics::Color::accentViolet());
    cell->textLabel().setNumberOfLines(1);
    cell->textLabel().setLineBreakMode(graphics::LineBreakMode::kTruncateTail);
    cell->setAccessoryType(ui::CellAccessoryType::kNone);
  }
  return cell;
}

std::optional<double> babyInfoTableViewController::heightForRowAtIndexPath(ui::TableView& table,
                                                                           const ui::IndexPath& path) {
  if (path.section < 0 || static_cast<size_t>(path.section) >= sections_.size() || path.row < 0) return std::nullopt;
  const Section& section = sections_[static_cast<size_t>(path.section)];
  const auto row = static_cast<size_t>(path.row);
  if (row >= section.records.size()) return std::nullopt;
  // The label's width in a row with a disclosure indicator: 15 points each side, 33 for the indicator.
  constexpr double kSides = 15 + 15 + 33, kPadding = 12;
  const double width = std::max(1.0, table.bounds().width() - kSides);
  static const graphics::Font font = ui::TableViewCell().textLabel().font();
  const double text =
      graphics::defaultTextMeasurer()->measure(recordRowText(*section.kind, section.records[row]), font, width).size.height;
  return std::max(table.rowHeight(), std::ceil(text) + 2 * kPadding);
}

void babyInfoTableViewController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  if (path.section < 0 || static_cast<size_t>(path.section) >= sections_.size() || path.row < 0) return;
  const auto row = static_cast<size_t>(path.row);
  const bool adds = row >= sections_[static_cast<size_t>(path.section)].records.size();
  openRecord(path.section, adds ? std::nullopt : std::optional<size_t>(row));
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
    // A photo at its own size would fill the row and push its date out of sight.
    auto image = locSaves_->getPhoto(photoKeys_[index]);
    cell->imageView().setImage(image && !image->isEmpty() ? thumbnail(*image, 80) : nullptr);
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
  registerTeethScreens(storyboard);
}

}  // namespace babies
