#include "navigation/settings_controller.h"

#include <algorithm>

#include "app/app_delegate.h"
#include "app/flat_widgets.h"
#include "app/note_types.h"
#include "navigation/language_controller.h"
#include "navigation/url_helper.h"
#include "platform/foundation/log.h"
#include "platform/ui/device.h"

namespace navigation {

namespace {

std::string localized(std::string_view key) { return app::InterfaceText::current().localized(key); }

std::shared_ptr<ui::TableViewCell> settingsCell(ui::TableView& table, const char* identifier,
                                                ui::CellStyle style) {
  auto cell = table.dequeueReusableCellWithIdentifier(identifier);
  return cell ? cell : std::make_shared<ui::TableViewCell>(style, identifier);
}

std::shared_ptr<ui::TableView> fullTable(ui::ViewController& owner) {
  auto table = std::make_shared<ui::TableView>(owner.view()->bounds(), ui::TableViewStyle::kGrouped);
  table->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  owner.view()->addSubview(table);
  return table;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// settingsController

settingsController::settingsController(app::NoteEditHelper helper) : helper_(std::move(helper)) {}

void settingsController::viewDidLoad() {
  if (!context_) {
    if (auto* delegate = app::AppDelegate::shared()) context_ = delegate->managedObjectContext();
  }
  table_ = fullTable(*this);
  table_->setDataSource(this);
  table_->setDelegate(this);
}

void settingsController::viewWillAppear(bool /*animated*/) {
  // The language may have changed on the screen this one pushed.
  setTitle(localized("Settings"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Done"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { back(); }));
  table_->reloadData();
}

int settingsController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) { return kRowCount; }

std::shared_ptr<ui::TableViewCell> settingsController::cellForRowAtIndexPath(ui::TableView& table,
                                                                             const ui::IndexPath& path) {
  auto cell = settingsCell(table, "settingsCell", ui::CellStyle::kDefault);
  switch (path.row) {
    case kUnitsRow:
      cell->textLabel().setText(localized("Measurement units"));
      break;
    case kLanguageRow:
      cell->textLabel().setText(localized("Language"));
      break;
    case kReportRow:
      cell->textLabel().setText(localized("Report"));
      break;
    case kBackupRow:
      cell->textLabel().setText(localized("Cloud"));
      break;
    default:
      cell->textLabel().setText(localized("Feedback"));
      break;
  }
  cell->setAccessoryType(path.row == kFeedbackRow ? ui::CellAccessoryType::kNone
                                                  : ui::CellAccessoryType::kDisclosureIndicator);
  return cell;
}

void settingsController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  if (path.row == kUnitsRow) openUnits();
  if (path.row == kLanguageRow) openLanguage();
  if (path.row == kReportRow) openReport();
  if (path.row == kBackupRow) openBackup();
  if (path.row == kFeedbackRow) sendFeedback();
}

void settingsController::openUnits() {
  auto* navigation = navigationController();
  if (!navigation) return;
  std::shared_ptr<ui::ViewController> units =
      storyboard() ? storyboard()->instantiateViewControllerWithIdentifier(kUnitsId) : nullptr;
  navigation->pushViewController(units ? units : std::make_shared<unitsController>(helper_), true);
}

void settingsController::openLanguage() {
  auto* navigation = navigationController();
  if (!navigation) return;
  auto language = std::dynamic_pointer_cast<languageController>(
      storyboard() ? storyboard()->instantiateViewControllerWithIdentifier(kLanguageControllerId) : nullptr);
  if (!language) language = std::make_shared<languageController>();
  language->setLaunchedFromMainScreen(false);
  navigation->pushViewController(language, true);
}

void settingsController::openReport() {
  auto* navigation = navigationController();
  auto screen = navigation && storyboard()
                    ? storyboard()->instantiateViewControllerWithIdentifier(kReportScreenId)
                    : nullptr;
  if (!screen) return;
  if (auto* input = dynamic_cast<reportScreenInput*>(screen.get())) {
    input->setManagedObjectContext(context_);
    input->setCurrentBabyName(currentBabyName_);
  }
  navigation->pushViewController(screen, true);
}

void settingsController::openBackup() {
  auto* navigation = navigationController();
  auto screen = navigation && storyboard()
                    ? storyboard()->instantiateViewControllerWithIdentifier(kBackupScreenId)
                    : nullptr;
  if (screen) navigation->pushViewController(screen, true);
}

void settingsController::sendFeedback() {
  launchMailAppOnDevice(std::string(kSupportMailAddress), localized("Feedback"), "", std::nullopt);
}

void settingsController::mailComposeControllerDidFinish(ui::MailComposeViewController& composer,
                                                        ui::MailComposeResult result,
                                                        const std::optional<foundation::Error>& error) {
  mailDelegate::mailComposeControllerDidFinish(composer, result, error);
  composer.dismissViewControllerAnimated(true);
}

void settingsController::back() {
  auto self = shared_from_this();
  // Stored units may have changed: the tablet's list reads the store again.
  if (ui::device().isPad() && noteView_delegate_) return noteView_delegate_->noteViewChildDone(*this, true);
  auto* navigation = navigationController();
  if (navigation && navigation->viewControllers().size() > 1) {
    navigation->popViewControllerAnimated(true);
  } else if (noteView_delegate_) {
    noteView_delegate_->noteViewChildDone(*this, true);
  } else {
    dismissViewControllerAnimated(true);
  }
}

// ---------------------------------------------------------------------------------------------
// unitsController

unitsController::unitsController(app::NoteEditHelper helper) : helper_(std::move(helper)) {
  for (const auto& type : app::defaultTypeIds()) {
    if (helper_.notationByTypeId(type).size() > 1) types_.push_back(type);
  }
}

std::optional<std::string> unitsController::unitOf(const std::string& type) const {
  return helper_.getValueType(type).vt_NumMeasureCurrent();
}

foundation::Status unitsController::setUnit(const std::string& type, const std::string& unit) {
  const auto units = helper_.notationByTypeId(type);
  if (std::find(units.begin(), units.end(), unit) == units.end())
    return foundation::Error::make("UnitsErrorDomain", 1, "The type has no such unit.");
  const app::ValueType row = helper_.getValueType(type);
  store::Context* context = row ? row.object()->context() : nullptr;
  if (!context) return foundation::Error::make("UnitsErrorDomain", 2, "The type's values cannot be read.");
  // The remembered value (where a new note of the type starts) keeps its quantity: it moves into
  // the new unit in the same save. A row that never had a unit holds the type's first (metric) one.
  const std::string was = row.vt_NumMeasureCurrent().value_or(units.front());
  if (const auto value = row.vt_NumCurrent(); value && was != unit) {
    row.setVt_NumCurrent(static_cast<float>(helper_.convertNotationToOpposite(type, was, unit, *value)));
  }
  row.setVt_NumMeasureCurrent(unit);
  auto saved = context->save();
  if (!saved) {
    context->rollback();
    foundation::log("Failed to save the new MainData. Error = " + saved.error().description());
  }
  return saved;
}

void unitsController::viewDidLoad() {
  setTitle(localized("Measurement units"));
  // The flat back button leaves the title the bar's width: a back button titled with the settings'
  // name would cut both in the longer languages.
  navigationItem().setLeftBarButtonItem(app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] {
    if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
  }));
  table_ = fullTable(*this);
  table_->setDataSource(this);
  table_->setDelegate(this);
}

int unitsController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(types_.size());
}

std::shared_ptr<ui::TableViewCell> unitsController::cellForRowAtIndexPath(ui::TableView& table,
                                                                          const ui::IndexPath& path) {
  auto cell = settingsCell(table, "unitCell", ui::CellStyle::kValue1);
  const auto& type = types_.at(static_cast<size_t>(path.row));
  cell->textLabel().setText(localized(type));
  cell->detailTextLabel().setText(localized(unitOf(type).value_or("")));
  return cell;
}

void unitsController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  if (path.row < 0 || static_cast<size_t>(path.row) >= types_.size()) return;
  const auto& type = types_[static_cast<size_t>(path.row)];
  const auto units = helper_.notationByTypeId(type);
  if (units.empty()) return;
  auto current = std::find(units.begin(), units.end(), unitOf(type).value_or(""));
  const auto& next = current == units.end() || current + 1 == units.end() ? units.front() : *(current + 1);
  if (auto stored = setUnit(type, next); !stored) {
    alert_ = ui::AlertView::create(localized("The units could not be saved."), "", nullptr, localized("OK"));
    alert_->show();
  }
  table.reloadData();
}

// ---------------------------------------------------------------------------------------------

void registerSettingsScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kSettingsId, [] { return std::make_shared<settingsController>(); });
  storyboard.registerController(kSettingsNavId, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<settingsController>());
  });
  storyboard.registerSegue(kSettingsSegue, kSettingsNavId, ui::SegueKind::kFormSheet);
  storyboard.registerController(kUnitsId, [] { return std::make_shared<unitsController>(); });
}

}  // namespace navigation
