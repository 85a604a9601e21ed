#include "note_editor/sub_value_list.h"

#include <algorithm>

#include "note_editor/note_edit_controller.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/ui/image_library.h"
#include "platform/ui/keyboard.h"

namespace note_editor {

namespace text = foundation::text;

// ---------------------------------------------------------------------------------------------
// SubValueList

SubValueList::SubValueList(std::vector<std::string> values, std::optional<std::string> chosen)
    : values_(std::move(values)), shown_(values_), chosen_(std::move(chosen)) {
  if (!chosen_) return;
  auto it = std::find(shown_.begin(), shown_.end(), *chosen_);
  if (it != shown_.end()) std::rotate(shown_.begin(), it, it + 1);
}

namespace {
// A typed sub-value loses the spaces and tabs around it; a line break is part of what was typed.
std::string trimBlanks(std::string_view typed) {
  const auto first = typed.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(typed.substr(first, typed.find_last_not_of(" \t") - first + 1));
}
}  // namespace

void SubValueList::search(std::string_view typed) {
  search_ = std::string(typed);
  shown_.clear();
  const std::string prefix = text::toLower(typed);
  for (const auto& value : values_)
    if (prefix.empty() || text::toLower(value).starts_with(prefix)) shown_.push_back(value);
}

SubValueList::Outcome SubValueList::add(std::string_view typed) {
  std::string value = trimBlanks(typed);
  if (value.empty()) return Outcome::kEmpty;
  if (std::find(values_.begin(), values_.end(), value) != values_.end()) return Outcome::kDuplicate;
  values_.insert(values_.begin(), value);
  chosen_ = std::move(value);
  search("");
  return Outcome::kDone;
}

SubValueList::Outcome SubValueList::rename(std::string_view old, std::string_view typed) {
  std::string value = trimBlanks(typed);
  if (value.empty()) return Outcome::kEmpty;
  auto it = std::find(values_.begin(), values_.end(), old);
  if (it == values_.end()) return Outcome::kUnknown;
  values_.erase(it);
  values_.insert(values_.begin(), std::move(value));
  search("");
  return Outcome::kDone;
}

std::optional<std::string> SubValueList::shownRow(int row) const {
  if (row < 0 || row >= static_cast<int>(shown_.size())) return std::nullopt;
  return shown_[static_cast<size_t>(row)];
}

bool SubValueList::removeShownRow(int row) {
  auto value = shownRow(row);
  if (!value) return false;
  auto it = std::find(values_.begin(), values_.end(), *value);
  if (it != values_.end()) values_.erase(it);
  search(search_);
  return true;
}

bool SubValueList::chooseShownRow(int row) {
  auto value = shownRow(row);
  if (!value) return false;
  chosen_ = std::move(value);
  return true;
}

// ---------------------------------------------------------------------------------------------
// strValueCell

strValueCell::strValueCell()
    : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier),
      strValueLable(std::make_shared<ui::Label>()),
      checkMarkImg(std::make_shared<ui::ImageView>(ui::imageNamed("check_mark"))) {
  contentView().addSubview(strValueLable);
  contentView().addSubview(checkMarkImg);
  checkMarkImg->setHidden(true);
}

void strValueCell::setSelected(bool selected, bool animated) {
  ui::TableViewCell::setSelected(selected, animated);
  setNeedsDisplay();
}

void strValueCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  // Within the content, which gives way to the delete control while the list is edited.
  const auto b = contentView().bounds();
  checkMarkImg->setFrame(graphics::Rect(10, (b.height() - 24) / 2, 24, 24));
  strValueLable->setFrame(graphics::Rect(44, 0, std::max(0.0, b.width() - 54), b.height()));
  checkMarkImg->setHidden(!chosen);
}

void strValueCell::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  const auto b = bounds();
  const double w = b.width();
  const double h = b.height();
  app::beginFlatRowDrawing(canvas, b);
  if (firstInSection) canvas.strokeLine(graphics::Point(0, 0.5), graphics::Point(w, 0.5));
  canvas.strokeLine(graphics::Point(lastInSection ? 0 : 44, h), graphics::Point(w, h));
  checkMarkImg->setHidden(!chosen);
}

// ---------------------------------------------------------------------------------------------
// strValueListEditController

strValueListEditController::strValueListEditController(EditorServices services)
    : services_(std::move(services)), helper_([this] {
        app::NoteEditHelper::Environment environment;
        environment.context = [this] { return context_; };
        environment.library = services_.library;
        environment.clock = services_.clock;
        environment.language = services_.language;
        return app::NoteEditHelper(std::move(environment));
      }()) {}

strValueListEditController::~strValueListEditController() = default;

std::string strValueListEditController::localized(std::string_view key) const {
  return (services_.language ? services_.language() : app::InterfaceText::current()).localized(key);
}

void strValueListEditController::alert(std::string_view key) {
  ui::AlertView::create(localized(key), "", nullptr, localized("OK"))->show();
}

void strValueListEditController::viewDidLoad() {
  const double w = view()->bounds().width();
  const double h = view()->bounds().height();
  view()->setBackgroundColor(graphics::Color::rgb(250 / 255.0, 249 / 255.0, 253 / 255.0, 1));

  searchTextField_ = std::make_shared<ui::TextField>(graphics::Rect(10, 0, w - 64, 44));
  searchTextField_->setDelegate(this);
  searchTextField_->setPlaceholder(localized(kSearchPlaceholderKey));
  addButton_ = std::make_shared<ui::Button>(graphics::Rect(w - 44, 0, 44, 44));
  addButton_->setTitle("+");
  addButton_->addTarget([this](ui::Control&) { addNew(); }, ui::kControlEventTouchUpInside);
  fieldDrawerView_ = std::make_shared<app::lineDrawerView>(graphics::Rect(0, 0, w, 45));
  fieldDrawerView_->linesArr = {{0, 44.5F}, {static_cast<float>(w), 44.5F}};
  valueTable_ = std::make_shared<ui::TableView>(graphics::Rect(0, 45, w, std::max(0.0, h - 45)));
  valueTable_->registerCell(strValueCell::kIdentifier, [] { return std::make_shared<strValueCell>(); });
  valueTable_->setSeparatorStyle(ui::SeparatorStyle::kNone);
  valueTable_->setAllowsSelectionDuringEditing(true);
  valueTable_->setDataSource(this);
  valueTable_->setDelegate(this);
  view()->addSubview(fieldDrawerView_);
  view()->addSubview(searchTextField_);
  view()->addSubview(addButton_);
  view()->addSubview(valueTable_);

  observers_.push_back(runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(ui::kTextFieldTextDidChangeNotification), searchTextField_.get(),
      [this](const runtime::Notification&) { updateTable(); }));
  observers_.push_back(runtime::NotificationCenter::defaultCenter().addObserver(
      std::string(ui::kKeyboardWillHideNotification), nullptr,
      [this](const runtime::Notification&) { updateTable(); }));

  navigationItem().setLeftBarButtonItem(
      app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] { done(); }));
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withTitle(
      localized("Edit"), ui::BarButtonItemStyle::kPlain, [this](ui::BarButtonItem&) { editValueTable(); }));
  setEditing(false, false);

  list_ = std::make_unique<SubValueList>(std::move(values_), strCurrent_);
  valueTable_->reloadData();
}

void strValueListEditController::setEditing(bool editing, bool animated) {
  ui::ViewController::setEditing(editing, animated);
  if (valueTable_) valueTable_->setEditing(editing, animated);
  if (auto& right = navigationItem().rightBarButtonItem())
    right->setTitle(localized(editing ? "Done" : "Edit"));
}

void strValueListEditController::updateTable() {
  if (!list_) return;
  list_->search(searchTextField_->text());
  valueTable_->reloadData();
}

void strValueListEditController::addNew() {
  if (!list_) return;
  if (list_->add(searchTextField_->text()) != SubValueList::Outcome::kDone) return;
  searchTextField_->setText("");
  searchTextField_->resignFirstResponder();
  updateTable();
}

void strValueListEditController::editValueTable() {
  setEditing(!isEditing(), true);
  valueTable_->reloadData();
}

bool strValueListEditController::closeStrValueEditorWithOldStrAndNewStr(const std::string& old,
                                                                        const std::string& typed) {
  if (!list_) return false;
  if (list_->rename(old, typed) == SubValueList::Outcome::kEmpty) {
    alert("CantBeEmpty");
    return false;
  }
  searchTextField_->setText("");
  updateTable();
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
  return true;
}

foundation::Status strValueListEditController::replaceStoredValues() {
  if (!context_) return foundation::Error::make("diary", 1, "There is no store to save into.");
  app::ValueType row = helper_.getValueType(note_Type_);
  if (!row) return foundation::Error::make("diary", 2, "The note type has no value record.");
  for (const auto& value : row.valueTypeToStrValue()) context_->deleteObject(value.object());
  for (const auto& text : list_->values()) {
    auto value = app::StrValue::insertIn(*context_);
    value.setStrValue(text);
    row.addValueTypeToStrValueObject(value);
  }
  auto status = context_->save();
  if (!status.ok()) context_->rollback();
  return status;
}

void strValueListEditController::done() {
  if (!delegate_ || !list_) return;
  // A list that cannot be saved is said so, and the person still goes back to the note: the back
  // button is the only way off this screen, and the next save may well succeed.
  if (auto status = replaceStoredValues(); !status.ok()) {
    foundation::log("Failed to save the new MainData. Error = " + status.error().description());
    alert("The list could not be saved.");
  }
  delegate_->noteInputSetSubtypesAndValues(*this, list_->chosen());
}

int strValueListEditController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return list_ ? static_cast<int>(list_->shown().size()) : 0;
}

std::shared_ptr<ui::TableViewCell> strValueListEditController::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<strValueCell>(
      table.dequeueReusableCellWithIdentifier(strValueCell::kIdentifier));
  auto text = list_ ? list_->shownRow(path.row) : std::nullopt;
  if (!cell || !text) return cell;
  cell->cellNum = path.row;
  cell->firstInSection = path.row == 0;
  cell->lastInSection = path.row == numberOfRowsInSection(table, 0) - 1;
  cell->strValueLable->setText(*text);
  cell->chosen = !isEditing() && list_->chosen() == *text;
  cell->setSelected(cell->chosen, false);
  cell->checkMarkImg->setHidden(!cell->chosen);
  cell->setNeedsDisplay();
  return cell;
}

bool strValueListEditController::canEditRowAtIndexPath(ui::TableView& table, const ui::IndexPath& /*path*/) {
  return table.isEditing();
}

void strValueListEditController::commitEditingStyle(ui::TableView& /*table*/, ui::CellEditingStyle style,
                                                    const ui::IndexPath& path) {
  if (style != ui::CellEditingStyle::kDelete || !list_) return;
  if (list_->removeShownRow(path.row)) valueTable_->reloadData();
}

void strValueListEditController::willDisplayCell(ui::TableView& /*table*/, ui::TableViewCell& cell,
                                                 const ui::IndexPath& /*path*/) {
  cell.setBackgroundColor(graphics::Color::clear());
}

void strValueListEditController::didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) {
  searchTextField_->resignFirstResponder();
  if (!list_) return;
  if (!isEditing()) {
    if (list_->chooseShownRow(path.row)) table.reloadData();
    return;
  }
  auto text = list_->shownRow(path.row);
  auto* navigation = navigationController();
  if (!text || !navigation || !storyboard()) return;
  auto screen = std::dynamic_pointer_cast<strValueEditController>(
      storyboard()->instantiateViewControllerWithIdentifier(kStrValueEditControllerId));
  if (!screen) return;
  screen->strValueListCtrl = std::static_pointer_cast<strValueListEditController>(shared_from_this());
  screen->textForField = *text;
  navigation->pushViewController(screen, true);
}

bool strValueListEditController::textFieldShouldReturn(ui::TextField& field) {
  field.resignFirstResponder();
  return true;
}

// ---------------------------------------------------------------------------------------------
// strValueEditController

void strValueEditController::viewDidLoad() {
  const double w = view()->bounds().width();
  view()->setBackgroundColor(graphics::Color::rgb(250 / 255.0, 249 / 255.0, 253 / 255.0, 1));
  fieldDrawerView_ = std::make_shared<app::lineDrawerView>(graphics::Rect(0, 20, w, 44));
  const auto fw = static_cast<float>(w);
  fieldDrawerView_->linesArr = {{0, 0.5F}, {fw, 0.5F}, {0, 43.5F}, {fw, 43.5F}};
  textField_ = std::make_shared<ui::TextField>(graphics::Rect(10, 20, w - 20, 44));
  view()->addSubview(fieldDrawerView_);
  view()->addSubview(textField_);
  navigationItem().setLeftBarButtonItem(
      app::FlatBarButtonItems::backBarButtonItemWithTargetSelector([this] { back(); }));
  textField_->setText(textForField);
  textField_->becomeFirstResponder();
}

void strValueEditController::back() {
  textField_->setText(trimBlanks(textField_->text()));
  if (!strValueListCtrl) return;
  // Held here: the list screen pops this one, which may release it.
  auto self = shared_from_this();
  if (strValueListCtrl->closeStrValueEditorWithOldStrAndNewStr(textForField, textField_->text()))
    textField_->resignFirstResponder();
}

// ---------------------------------------------------------------------------------------------

void registerSubValueScreens(ui::Storyboard& storyboard, std::function<EditorServices()> services) {
  storyboard.registerController(
      kStrValueListEditId, [services] { return std::make_shared<strValueListEditController>(services()); });
  storyboard.registerController(kStrValueEditControllerId,
                                [] { return std::make_shared<strValueEditController>(); });
}

}  // namespace note_editor
