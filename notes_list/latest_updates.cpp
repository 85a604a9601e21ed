#include "notes_list/latest_updates.h"

#include <algorithm>

#include "app/flat_widgets.h"
#include "app/value_texts.h"
#include "notes_list/note_predicates.h"
#include "platform/foundation/text.h"
#include "platform/ui/device.h"

namespace notes_list {

using foundation::Date;

app::Note latestNoteOfType(store::Context& context, const std::string& babyName, const std::string& type,
                           Date now) {
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = fixedPredicate("noteToBaby.baby_Name == %@ AND note_Type == %@ AND note_DateStop < %@",
                                     {babyName, type, now});
  request.sortDescriptors = {{"note_DateStop", false, store::StringComparison::LocalizedCaseInsensitive}};
  request.fetchLimit = 1;
  auto found = context.fetch(request);
  if (!found.ok() || found->empty()) return {};
  return app::Note(found->front());
}

// --- lastNoteCell

lastNoteCell::lastNoteCell() : ui::TableViewCell(ui::CellStyle::kDefault, kIdentifier) {
  auto font = [](double size) {
    return graphics::Font::fontWithNameSize("AvenirNext-Regular", size)
        .value_or(graphics::Font::systemFontOfSize(size));
  };
  typeLable = std::make_shared<ui::Label>();
  typeLable->setFont(font(16));
  detailLable = std::make_shared<ui::Label>();
  toTimeLable = std::make_shared<ui::Label>();
  toTimeLable->setFont(font(12));
  timeAgoLable = std::make_shared<ui::Label>();
  timeAgoLable->setFont(font(12));
  timeAgoLable->setTextAlignment(graphics::TextAlignment::kRight);
  mainImage = std::make_shared<ui::ImageView>();
  mainImage->setContentMode(ui::ContentMode::kScaleAspectFit);
  for (const auto& view : std::initializer_list<std::shared_ptr<ui::View>>{
           typeLable, detailLable, toTimeLable, timeAgoLable, mainImage}) {
    contentView().addSubview(view);
  }
}

void lastNoteCell::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const graphics::Rect b = contentView().bounds();
  const double w = std::max(0.0, b.width() - 70);
  mainImage->setFrame(graphics::Rect(10, 10, 40, 40));
  typeLable->setFrame(graphics::Rect(60, 6, w, 24));
  toTimeLable->setFrame(graphics::Rect(60, 32, w / 2, 20));
  timeAgoLable->setFrame(graphics::Rect(60 + w / 2, 32, w / 2, 20));
}

void lastNoteCell::drawRect(graphics::Canvas& canvas, const graphics::Rect& /*rect*/) {
  const graphics::Rect b = bounds();
  canvas.save();
  canvas.setFillColor(graphics::Color::white());
  canvas.fillRect(b);
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(graphics::Color(0.6627451181, 0.6627451181, 0.6627451181, 1));
  canvas.strokeLine(graphics::Point(60, b.height()), graphics::Point(b.width(), b.height()));
  canvas.restore();
}

// --- lastNotesController

lastNotesController::lastNotesController(Services services) : services_(std::move(services)) {}

void lastNotesController::viewDidLoad() {
  if (services_.logEvent) services_.logEvent("latest_changes", {});
  const app::InterfaceText text = services_.language ? services_.language() : app::InterfaceText::current();
  // Japanese and Chinese words are one or two characters; a first letter would say nothing.
  cutBreastWord_ = !text.isOneOf({"ja", "zh-Hans"});
  if (ui::device().isPhone()) {
    navigationItem().setRightBarButtonItem(app::FlatBarButtonItems::rightButtonWithImgPathWithTargetSelector(
        "iPhone_ok_button_white", [this] { back(); }));
  }
  dateFormatter_ = foundation::DateFormatter::withStyles(foundation::DateFormatterStyle::Short,
                                                         foundation::DateFormatterStyle::Short,
                                                         app::interfaceLocale(text));
  navigationItem().setTitle(text.localized("Latest Updates"));

  lastNotesArray_.clear();
  if (services_.context && currentBabyName_) {
    const Date now = services_.clock->now();
    for (const auto& type : services_.neh.getTypeIds("")) {
      if (auto note = latestNoteOfType(*services_.context, *currentBabyName_, type, now)) {
        lastNotesArray_.push_back(note);
      }
    }
  }
  std::stable_sort(lastNotesArray_.begin(), lastNotesArray_.end(),
                   [](const app::Note& a, const app::Note& b) {
                     return a.note_DateStop().value_or(Date{}) > b.note_DateStop().value_or(Date{});
                   });

  table_ = std::make_shared<ui::TableView>(view()->bounds());
  table_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  table_->setRowHeight(60);
  table_->setSeparatorStyle(ui::SeparatorStyle::kNone);
  table_->registerCell(lastNoteCell::kIdentifier, [] { return std::make_shared<lastNoteCell>(); });
  table_->setDataSource(this);
  table_->setDelegate(this);
  view()->addSubview(table_);
}

void lastNotesController::back() {
  if (noteView_delegate_) noteView_delegate_->noteViewChildDone(*this, false);
}

int lastNotesController::numberOfRowsInSection(ui::TableView& /*table*/, int /*section*/) {
  return static_cast<int>(lastNotesArray_.size());
}

std::shared_ptr<ui::TableViewCell> lastNotesController::cellForRowAtIndexPath(ui::TableView& table,
                                                                              const ui::IndexPath& path) {
  auto cell = std::dynamic_pointer_cast<lastNoteCell>(
      table.dequeueReusableCellWithIdentifier(lastNoteCell::kIdentifier));
  if (!cell || path.row < 0 || static_cast<std::size_t>(path.row) >= lastNotesArray_.size()) return cell;
  const app::Note& note = lastNotesArray_[static_cast<std::size_t>(path.row)];
  const app::InterfaceText text = services_.language ? services_.language() : app::InterfaceText::current();
  const std::string type = note.note_Type().value_or("");
  const Date stop = note.note_DateStop().value_or(Date{});
  if (auto icon = services_.neh.getIconPath(type)) cell->mainImage->setImage(ui::imageNamed(*icon));
  std::string title = text.localized(type);
  const auto sub = note.note_strValue();
  if ((type == "Breast Feeding" || type == "Pumping") && sub && !sub->empty()) {
    std::string word = text.localized(*sub);
    if (cutBreastWord_) word = foundation::text::substringUtf16(word, 0, 1);
    title = foundation::text::format("%@ (%@)", {title, word});
  }
  cell->typeLable->setText(title);
  cell->toTimeLable->setText(dateFormatter_.stringFromDate(stop));
  cell->timeAgoLable->setText(services_.neh.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(
      stop, services_.clock->now(), true, false));
  cell->setNeedsDisplay();
  return cell;
}

}  // namespace notes_list
