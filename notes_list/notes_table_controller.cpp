#include "notes_list/notes_table_controller.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "app/app_delegate.h"
#include "app/flat_widgets.h"
#include "note_editor/note_edit_controller.h"
#include "note_editor/note_editor.h"
#include "notes_list/list_cells.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/log.h"
#include "platform/foundation/text.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/controls.h"

namespace notes_list {

namespace {

std::size_t at(int index) {
  return index < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(index);
}

}  // namespace

noteTableController_Base::noteTableController_Base(app::NoteEditHelper neh,
                                                   entriesStatisticHelper::Services services,
                                                   std::shared_ptr<app::localSaves> saves, bool iPad)
    : neh_(neh),
      services_(services),
      saves_(saves),
      model_(std::move(neh), std::move(services), std::move(saves)),
      iPad_(iPad) {}

void noteTableController_Base::setManagedObjectContext(std::shared_ptr<store::Context> context) {
  services_.context = std::move(context);
  remakeModel();
}

void noteTableController_Base::setLocSaves(std::shared_ptr<app::localSaves> saves) {
  saves_ = std::move(saves);
  remakeModel();
}

void noteTableController_Base::remakeModel() {
  NotesListModel fresh(neh_, services_, saves_);
  fresh.setCurrentBabyName(model_.currentBabyName());
  fresh.setFilter(model_.filter());
  fresh.setSumStyle(model_.sumStyle());
  model_ = std::move(fresh);
}

void noteTableController_Base::viewDidLoad() {
  table_ = std::make_shared<ui::TableView>(view()->bounds());
  table_->setDataSource(this);
  table_->setDelegate(this);
  table_->registerCell(iPhoneNoteCell::kIdentifier,
                       [this] { return std::make_shared<iPhoneNoteCell>(iPad_); });
  table_->registerCell(iPhoneNoteNoticeCell::kIdentifier,
                       [this] { return std::make_shared<iPhoneNoteNoticeCell>(iPad_); });
  table_->registerCell(iPhoneTimerNoteCell::kIdentifier,
                       [this] { return std::make_shared<iPhoneTimerNoteCell>(iPad_); });
  table_->registerCell(iPhoneSumNoteCell::kIdentifier,
                       [this] { return std::make_shared<iPhoneSumNoteCell>(iPad_); });
  view()->addSubview(table_);
  noteQuickStartView_ = std::make_shared<ui::View>(graphics::Rect(0, 0, 0, 0));
  checkFirstLaunch();
}

void noteTableController_Base::viewWillAppear(bool) { updateLanguageStuff(); }

void noteTableController_Base::checkFirstLaunch() {
  if (!saves_) return;
  const auto marker = saves_->home().library() / "Settings" / "firstLaunch.txt";
  if (files::exists(marker) && !files::isDirectory(marker)) return;
  std::optional<std::size_t> notes;
  if (services_.context) {
    // One row answers whether there is any: no count over the whole diary.
    store::FetchRequest any{std::string(app::Note::kEntityName)};
    any.fetchLimit = 1;
    if (auto found = services_.context->fetchObjectIDs(any); found.ok()) notes = found.value().size();
  }
  if (notes == std::size_t{0}) {
    // An empty diary: the units overlay asks for the units first; it writes the file itself.
    if (!extras_) return;
    fstLaunchView_ = extras_->makeFirstLaunchView(*this, view()->bounds());
    if (!fstLaunchView_) return;
    fstLaunchView_->setOpaque(false);
    fstLaunchView_->setBackgroundColor(graphics::Color::clear());
    view()->addSubview(fstLaunchView_);
    if (iPad_) {
      const auto size = view()->bounds().size;
      const bool landscape = ui::device().isLandscape();
      const double side = landscape ? size.width : size.height;
      fstLaunchView_->setFrame(graphics::Rect(0, 0, side, side));
    }
    return;
  }
  // Notes exist (or the store could not say): this is no first launch.
  if (extras_) extras_->saveFirstLaunchFile(*this);
}

ui::ImageRef noteTableController_Base::icon(const std::optional<std::string>& type) const {
  auto name = neh_.getIconPath(type);
  return name ? ui::imageNamed(*name) : nullptr;
}

app::InterfaceText noteTableController_Base::language() const {
  return services_.language ? services_.language() : app::InterfaceText::current();
}

std::string noteTableController_Base::localized(std::string_view key) const { return language().localized(key); }

std::string noteTableController_Base::localizedType(const std::optional<std::string>& type) const {
  return type ? localized(*type) : "";
}

void noteTableController_Base::showFailure(const foundation::Error& error) {
  failureAlert_ = ui::AlertView::create("", error.localizedDescription(), nullptr, std::string("OK"));
  failureAlert_->show();
}

void noteTableController_Base::setupFetchedResultsController() { performFetch(); }

namespace {

// The screen's class as a person reading the log knows it: without its namespace.
std::string classNameOf(const std::type_info& type) {
  int failed = 0;
  std::unique_ptr<char, void (*)(void*)> full(abi::__cxa_demangle(type.name(), nullptr, nullptr, &failed),
                                              std::free);
  std::string name = failed == 0 && full ? full.get() : type.name();
  const auto colons = name.rfind("::");
  return colons == std::string::npos ? name : name.substr(colons + 2);
}

}  // namespace

void noteTableController_Base::performFetch() {
  auto status = model_.performFetch();
  if (!status.ok()) {
    // Logged for whoever reads the device's log; the person sees the alert, and the diary goes on.
    const foundation::Error& error = status.error();
    const std::string* reason = error.userInfo["NSLocalizedFailureReason"].string();
    app::logUnresolved(error);
    foundation::log(foundation::text::format(
        "[%@ %@] %@ (%@)", {foundation::Value(classNameOf(typeid(*this))), "performFetch",
                            foundation::Value(error.localizedDescription()), reason ? *reason : "(null)"}));
    showFailure(error);
  }
  tellUnreadableTimers();
  updateTable();
}

void noteTableController_Base::tellUnreadableTimers() {
  // Once per baby while its file stays unreadable: every refresh reads it again, and the user knows.
  if (!model_.timersError()) {
    timersUnreadableFor_.reset();
    return;
  }
  if (timersUnreadableFor_ == model_.currentBabyName()) return;
  timersUnreadableFor_ = model_.currentBabyName();
  timersAlert_ = ui::AlertView::create("", localized(note_editor::text_key::kTimersUnreadable), nullptr,
                                       localized("OK"));
  timersAlert_->show();
}

void noteTableController_Base::resetAllFilteres() {
  model_.setFilter(std::nullopt);
  setupFetchedResultsController();
  scrollToFirstDay();
}

void noteTableController_Base::scrollToFirstDay() {
  if (table_) table_->setContentOffset(graphics::Point(table_->contentOffset().x, 0));
}

void noteTableController_Base::updateTable() {
  if (separatorView_) separatorView_->setHidden(model_.hasTimersSection());
  if (!table_) return;
  table_->reloadData();
  // A list that got shorter (a deletion, another day range) is never left scrolled past its end.
  const double most = std::max(0.0, table_->contentSize().height - table_->bounds().size.height);
  if (table_->contentOffset().y > most)
    table_->setContentOffset(graphics::Point(table_->contentOffset().x, most));
}

void noteTableController_Base::updateQuickStartView() {
  if (!separatorView_ && table_) {
    auto separator =
        std::make_shared<app::tableSectionSeparator>(graphics::Rect(0, 0, table_->bounds().size.width, 1));
    separator->firstSection = true;
    separator->setBackgroundColor(graphics::Color::clear());
    separatorView_ = separator;
    table_->setTableHeaderView(separatorView_);
  }
  quickStartTypeArr_ = neh_.getTypeIds("userList");
  if (quickStartTypeArr_.empty() && table_) table_->setTableHeaderView(nullptr);
  if (extras_ && noteQuickStartView_)
    extras_->updateQuickStartView(*this, *noteQuickStartView_, quickStartTypeArr_);
}

void noteTableController_Base::updateLanguageStuff() {
  const auto language = services_.preferredLanguage ? services_.preferredLanguage() : std::nullopt;
  showGrowthInfo_ = language == std::optional<std::string>("ru");
  if (noteQuickStartView_) noteQuickStartView_->setNeedsDisplay();
  const std::string shown = this->language().language();
  const bool changed = shownLanguage_ && *shownLanguage_ != shown;
  shownLanguage_ = shown;
  // Type names, times and totals are texts of the language they were made in.
  if (changed && model_.currentBabyName()) performFetch();
}

std::string noteTableController_Base::getSectionTitle(std::size_t dataSection) const {
  return model_.sectionTitle(model_.hasTimersSection() ? dataSection + 1 : dataSection);
}

void noteTableController_Base::noteEditWasSaved() {
  performFetch();
  if (extras_) extras_->noteEditWasSaved(*this);
}

void noteTableController_Base::mailComposeControllerDidFinish(ui::MailComposeViewController& composer,
                                                              ui::MailComposeResult result,
                                                              const std::optional<foundation::Error>& error) {
  mailDelegate::mailComposeControllerDidFinish(composer, result, error);
  dismissViewControllerAnimated(true);
}

int noteTableController_Base::numberOfSectionsInTableView(ui::TableView&) {
  return static_cast<int>(model_.numberOfSections());
}

int noteTableController_Base::numberOfRowsInSection(ui::TableView&, int section) {
  return static_cast<int>(model_.numberOfRows(at(section)));
}

std::shared_ptr<ui::TableViewCell> noteTableController_Base::cellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& path) {
  const std::size_t section = at(path.section), row = at(path.row);
  const bool last = row + 1 == model_.numberOfRows(section);
  if (!model_.dataSection(section)) {
    auto cell = std::static_pointer_cast<iPhoneTimerNoteCell>(
        table.dequeueReusableCellWithIdentifier(iPhoneTimerNoteCell::kIdentifier));
    if (row < model_.stopWatch().size()) {
      const auto type = model_.stopWatch()[row]->param_Type();
      cell->typeLable->setText(localizedType(type));
      cell->typeImage->setImage(icon(type));
    }
    cell->firstCellInSection = row == 0;
    cell->lastCellInSection = last;
    cell->setNeedsDisplay();
    return cell;
  }
  if (model_.sumStyle()) {
    auto cell = std::static_pointer_cast<iPhoneSumNoteCell>(
        table.dequeueReusableCellWithIdentifier(iPhoneSumNoteCell::kIdentifier));
    if (const DayRow* sum = model_.sumRowAt(section, row)) {
      std::string count = sum->valWithMeasure.value_or("");
      if (sum->time) count = count.empty() ? *sum->time : count + ", " + *sum->time;
      cell->typeLable->setText(localizedType(sum->id) + " (" + sum->get_count + ")");
      cell->typeImage->setImage(icon(sum->id));
      cell->countLable->setText(count);
      cell->countImage->setHidden(count.empty());
      // The backdrop is fitted to the new text.
      cell->setNeedsLayout();
    }
    cell->lastCellInSection = last;
    cell->setNeedsDisplay();
    return cell;
  }
  static const NoteRow none;
  const NoteRow* found = model_.rowAt(section, row);
  const NoteRow& note = found ? *found : none;
  const auto type = note.type ? std::optional<std::string>(*note.type) : std::nullopt;
  const auto texts = neh_.getDateAndDurationStrings(
      type, note.start, note.stop, note.number,
      note.unit ? std::optional<std::string_view>(*note.unit) : std::nullopt, !iPad_);
  const std::string identifier = model_.cellIdentifierForType(note.type);
  if (identifier == iPhoneNoteNoticeCell::kIdentifier) {
    auto cell =
        std::static_pointer_cast<iPhoneNoteNoticeCell>(table.dequeueReusableCellWithIdentifier(identifier));
    cell->typeLable->setText(localizedType(type));
    cell->mainImage->setImage(icon(type));
    cell->mainLable->setText(note.notice ? *note.notice : "");
    cell->toTimeLable->setText(texts.empty() ? "" : texts[0]);
    cell->photoForCellImage->setHidden(!NotesListModel::showsPhotoMark(note));
    cell->lastCellInSection = last;
    cell->setNeedsDisplay();
    return cell;
  }
  auto cell = std::static_pointer_cast<iPhoneNoteCell>(table.dequeueReusableCellWithIdentifier(identifier));
  cell->typeLable->setText(localizedType(type));
  cell->mainImage->setImage(icon(type));
  cell->mainLable->setText(neh_.getCurrentValues(
      type, note.strValue ? std::optional<std::string_view>(*note.strValue) : std::nullopt, note.number,
      note.unit ? std::optional<std::string_view>(*note.unit) : std::nullopt));
  cell->notesLable->setText(note.notice ? *note.notice : "");
  cell->toTimeLable->setText(texts.empty() ? "" : texts[0]);
  cell->durationTimeLable->setText(texts.size() > 1 ? texts[1] : "");
  cell->photoForCellImage->setHidden(!NotesListModel::showsPhotoMark(note));
  cell->lastCellInSection = last;
  // The notice is narrower beside the photo mark.
  cell->setNeedsLayout();
  cell->setNeedsDisplay();
  return cell;
}

bool noteTableController_Base::canEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& path) {
  return model_.canEditRow(at(path.section));
}

void noteTableController_Base::commitEditingStyle(ui::TableView& table, ui::CellEditingStyle style,
                                                  const ui::IndexPath& path) {
  if (style != ui::CellEditingStyle::kDelete || !model_.canEditRow(at(path.section))) return;
  auto status = model_.deleteNoteAt(at(path.section), at(path.row));
  if (!status.ok()) showFailure(status.error());
  tellUnreadableTimers();
  if (&table == table_.get())
    updateTable();
  else
    table.reloadData();
}

std::optional<double> noteTableController_Base::heightForRowAtIndexPath(ui::TableView&,
                                                                        const ui::IndexPath& path) {
  if (model_.sumStyle() && model_.dataSection(at(path.section))) return iPad_ ? 60 : 40;
  return iPad_ ? 70 : 60;
}

std::optional<double> noteTableController_Base::heightForHeaderInSection(ui::TableView&, int section) {
  if (!model_.dataSection(at(section))) return 0;
  return iPad_ ? 25 : 23;
}

std::shared_ptr<ui::View> noteTableController_Base::viewForHeaderInSection(ui::TableView& table,
                                                                           int section) {
  if (!model_.dataSection(at(section))) return nullptr;
  const double height = iPad_ ? 25 : 23;
  auto header =
      std::make_shared<app::tableSectionSeparator>(graphics::Rect(0, 0, table.bounds().size.width, height));
  auto label = std::make_shared<ui::Label>(
      graphics::Rect(model_.sumStyle() ? 0 : 10, 1, table.bounds().size.width, height));
  label->setText(model_.sectionTitle(at(section)));
  label->setFont(graphics::Font("AvenirNext-Regular", iPad_ ? 16 : 13));
  label->setTextColor(graphics::Color(0.250980407, 0.258823544, 0.341176480, 1));
  label->setTextAlignment(model_.sumStyle() ? graphics::TextAlignment::kCenter
                                            : graphics::TextAlignment::kLeft);
  label->setBackgroundColor(graphics::Color::clear());
  label->setOpaque(false);
  label->setAutoresizingMask(ui::kFlexibleLeftMargin | ui::kFlexibleWidth | ui::kFlexibleRightMargin);
  header->addSubview(label);
  return header;
}

void noteTableController_Base::willDisplayCell(ui::TableView& table, ui::TableViewCell& cell,
                                               const ui::IndexPath& path) {
  cell.setBackgroundColor(graphics::Color::clear());
  if (model_.willDisplayRow(at(path.section), at(path.row))) {
    // More rows came in: reload once the table is done laying out this one.
    std::weak_ptr<ui::TableView> weak = std::static_pointer_cast<ui::TableView>(table.shared_from_this());
    runtime::RunLoop::main().performSoon([weak] {
      if (auto strong = weak.lock()) strong->reloadData();
    });
  }
}

void noteTableController_Base::didSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& path) {
  const std::size_t section = at(path.section);
  if (!model_.dataSection(section)) return openTimerWithNum(at(path.row));
  const app::Note note = model_.noteAt(section, at(path.row));
  if (!note || !storyboard()) return;
  // The phone presents the storyboard's editor navigation; the tablet wraps the editor scene in a
  // navigation of its own, shown as a form sheet.
  std::shared_ptr<ui::NavigationController> navigation;
  std::shared_ptr<note_editor::noteEditController> editor;
  if (iPad_) {
    editor = std::dynamic_pointer_cast<note_editor::noteEditController>(
        storyboard()->instantiateViewControllerWithIdentifier(note_editor::kNoteEditControllerId));
    if (!editor) return;
    navigation = std::make_shared<ui::NavigationController>(editor);
    navigation->setModalPresentationStyle(ui::ModalPresentationStyle::kFormSheet);
  } else {
    navigation = std::dynamic_pointer_cast<ui::NavigationController>(
        storyboard()->instantiateViewControllerWithIdentifier(note_editor::kEditNoteNavigationId));
    if (!navigation || navigation->viewControllers().empty()) return;
    editor = std::dynamic_pointer_cast<note_editor::noteEditController>(navigation->viewControllers().back());
    if (!editor) return;
  }
  editor->setManagedObjectContext(services_.context);
  editor->setCurrentBabyName(model_.currentBabyName());
  editor->setNoteView_delegate(this);
  editor->setEditingNote(note);
  presentViewController(navigation, true);
}

void noteTableController_Base::noteViewChildDone(ui::ViewController&, bool changed) {
  dismissViewControllerAnimated(true);
  if (changed)
    performFetch();
  else if (table_)
    table_->reloadData();
}

void noteTableController_Base::noteEditWasClosedAndSaved(ui::ViewController&, bool saved) {
  dismissViewControllerAnimated(true);
  if (saved)
    noteEditWasSaved();
  else
    performFetch();
}

}  // namespace notes_list
