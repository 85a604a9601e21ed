#include "note_editor/value_panel.h"

#include <algorithm>

#include "note_editor/date_changes.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/animation.h"
#include "app/value_texts.h"

namespace note_editor {
namespace {

constexpr double kBar = 44;
constexpr double kWheelHeight = 216;
constexpr double kKeypadHeight = 264;
constexpr double kPanelHeight = kBar + kKeypadHeight;

// The panel's bar buttons are 80 points wide, or as wide as a longer translation of their title
// needs with a margin ("Abbrechen"), so that it stays whole and clear of the screen's edge.
double barButtonWidth(const ui::Button& button) {
  return std::max(80.0, graphics::defaultTextMeasurer()->sizeOf(button.currentTitle(), button.titleFont()).width + 16);
}

}  // namespace

ValuePanel::ValuePanel(ui::View& host, NoteEditor& model, Hooks hooks)
    : host_(host), model_(model), hooks_(std::move(hooks)) {
  const double width = host_.bounds().size.width;
  const double height = host_.bounds().size.height;
  datePickerView_ = std::make_shared<ui::View>(ui::Rect(0, 0, width, height));
  // Clear: the editor stays in sight, undimmed, behind the panel; the view only takes the taps
  // meant for the editor while the panel is up.
  datePickerView_->setBackgroundColor(ui::Color::clear());
  datePickerView_->setAlpha(0);
  datePickerView_->setHidden(true);
  datePickerView_->setAutoresizingMask(ui::kFlexibleWidth | ui::kFlexibleHeight);
  host_.addSubview(datePickerView_);

  panel_ = std::make_shared<ui::View>(ui::Rect(0, height, width, kPanelHeight));
  panel_->setBackgroundColor(ui::Color::white(1));
  // Closed, the panel waits below the screen's bottom edge and out of sight, also when the screen
  // grows as the bars hide for another editor (the notice's).
  panel_->setAutoresizingMask(ui::kFlexibleTopMargin | ui::kFlexibleWidth);
  panel_->setHidden(true);
  host_.addSubview(panel_);
  dateBackView_ = std::make_shared<ui::View>(ui::Rect(0, kBar, width, kWheelHeight + kBar));
  dateBackView_->setBackgroundColor(ui::Color::white(1));
  panel_->addSubview(dateBackView_);
  datePicker_ = std::make_shared<ui::DatePicker>(ui::Rect(0, kBar, width, kWheelHeight));
  datePicker_->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  panel_->addSubview(datePicker_);
  segment_ = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"", ""});
  segment_->setFrame(ui::Rect(width / 2 - 80, 8, 160, 28));
  segment_->addTarget(
      [this](ui::Control&) {
        datePicker_->setMode(segment_->selectedSegmentIndex() == 0 ? ui::DatePickerMode::kDate
                                                                   : ui::DatePickerMode::kTime);
      },
      ui::kControlEventValueChanged);
  panel_->addSubview(segment_);
  nowButton_ = std::make_shared<ui::Button>();
  nowButton_->setFrame(ui::Rect(0, kBar + kWheelHeight, width, kBar));
  nowButton_->addTarget([this](ui::Control&) { nowDateClicked(); }, ui::kControlEventTouchUpInside);
  panel_->addSubview(nowButton_);
  cancelButton_ = std::make_shared<ui::Button>();
  cancelButton_->setTitle(model_.localized("Cancel"));
  cancelButton_->setFrame(ui::Rect(0, 0, barButtonWidth(*cancelButton_), kBar));
  cancelButton_->addTarget([this](ui::Control&) { pickerCancel(); }, ui::kControlEventTouchUpInside);
  panel_->addSubview(cancelButton_);
  doneButton_ = std::make_shared<ui::Button>();
  doneButton_->setTitle(model_.localized("Done"));
  const double doneWidth = barButtonWidth(*doneButton_);
  doneButton_->setFrame(ui::Rect(width - doneWidth, 0, doneWidth, kBar));
  doneButton_->addTarget([this](ui::Control&) { pickerDone(); }, ui::kControlEventTouchUpInside);
  panel_->addSubview(doneButton_);

  keypad_ = std::make_shared<noteEditPickerPanelView>();
  keypad_->setFrame(ui::Rect(0, kBar, width, kKeypadHeight));
  keypad_->setKeySink([this](int key) {
    entry_.key(key);
    numLabel_->setText(entry_.keypadLabelText());
  });
  keypad_->initAll();
  panel_->addSubview(keypad_);
  numLabel_ = std::make_shared<ui::Label>();
  numLabel_->setFrame(ui::Rect(20, kBar, width - 40, kBar));
  numLabel_->setFont(graphics::Font("AvenirNext-Regular", 30));
  numLabel_->setTextAlignment(graphics::TextAlignment::kCenter);
  panel_->addSubview(numLabel_);
  initDatePicker();
}

void ValuePanel::initDatePicker() {
  segment_->setTitleForSegmentAtIndex(model_.localized("Date"), 0);
  segment_->setTitleForSegmentAtIndex(model_.localized("Time"), 1);
  segment_->setSelectedSegmentIndex(1);
  nowButton_->setTitle(model_.localized("Now"));
  datePicker_->setBackgroundColor(ui::Color::white(1));
  overlay_ = std::make_shared<customPickerView>(datePicker_->frame());
  overlay_->cutTopAndBottom = false;
  overlay_->elementsTextColor = ui::Color(0.7882353, 0.7960784, 0.8078431, 1);
  panel_->addSubview(overlay_);
}

void ValuePanel::initInputPicker() {
  if (inputPicker_) return;
  inputPicker_ = std::make_shared<ui::PickerView>();
  inputPicker_->setFrame(ui::Rect(0, kBar + 1, host_.bounds().size.width, kWheelHeight));
  inputPicker_->setDataSource(this);
  inputPicker_->setDelegate(this);
  inputPicker_->setBackgroundColor(ui::Color::white(1));
  // Behind the panel's other views: its bar's buttons stay on top of the wheel.
  panel_->insertSubviewAtIndex(inputPicker_, 0);
}

void ValuePanel::updateRange() {
  if (!inputPicker_ || !entry_.wheel()) return;
  inputPicker_->reloadAllComponents();
  for (int c = 0; c < entry_.wheel()->numberOfComponents(); ++c) {
    inputPicker_->selectRow(entry_.selectedRows()[static_cast<size_t>(c)], c);
  }
}

void ValuePanel::slideIn(double fromBottom) {
  // The bars go first: the screen grows under them, and the panel and the dimming are placed on
  // the grown screen, so that they reach its bottom and cover all of it.
  if (hooks_.barsHidden) hooks_.barsHidden(true);
  const double height = host_.bounds().size.height;
  const double targetY = height - fromBottom;
  const ui::Rect frame = panel_->frame();
  panel_->setFrame(ui::Rect(frame.origin.x, height, frame.size.width, frame.size.height));
  datePickerView_->setFrame(host_.bounds());
  datePickerView_->setHidden(false);
  panel_->setHidden(false);
  ui::animate(0.3, [this, targetY] {
    datePickerView_->setAlpha(1);
    if (hooks_.stripeAlpha) hooks_.stripeAlpha(0);
    const ui::Rect f = panel_->frame();
    panel_->setFrame(ui::Rect(f.origin.x, targetY, f.size.width, f.size.height));
  });
}

void ValuePanel::close() {
  if (hooks_.barsHidden) hooks_.barsHidden(false);
  ui::animate(
      0.3,
      [this] {
        datePickerView_->setAlpha(0);
        if (hooks_.stripeAlpha) hooks_.stripeAlpha(1);
        const ui::Rect f = panel_->frame();
        panel_->setFrame(ui::Rect(f.origin.x, host_.bounds().size.height, f.size.width, f.size.height));
      },
      // The completion runs later on the run loop, perhaps after the editor went: it holds the
      // views it touches, not this panel.
      [dim = std::weak_ptr<ui::View>(datePickerView_), panel = std::weak_ptr<ui::View>(panel_)](bool) {
        auto dimming = dim.lock();
        auto sliding = panel.lock();
        if (!dimming || !sliding) return;
        const bool closed = dimming->alpha() == 0;
        dimming->setHidden(closed);
        sliding->setHidden(closed);
      });
}

void ValuePanel::showDateViews(bool shown) {
  for (ui::View* v :
       {static_cast<ui::View*>(segment_.get()), static_cast<ui::View*>(nowButton_.get()), dateBackView_.get(),
        static_cast<ui::View*>(datePicker_.get()), static_cast<ui::View*>(overlay_.get())}) {
    v->setHidden(!shown);
  }
  if (inputPicker_) inputPicker_->setHidden(shown || entry_.usesKeypad());
  numLabel_->setHidden(shown || !entry_.usesKeypad());
  keypad_->setHidden(shown || !entry_.usesKeypad());
}

void ValuePanel::changeTheDate(bool start) {
  datePicker_->setMode(ui::DatePickerMode::kTime);
  model_.pickerViewType = start ? 1 : 2;
  const auto date = start ? model_.note_DateStart : model_.note_DateStop;
  datePicker_->setDate(date.value_or(model_.now()));
  segment_->setSelectedSegmentIndex(1);
  showDateViews(true);
  slideIn(kWheelHeight + 88);
}

void ValuePanel::editNumValue() {
  entry_.open(model_);
  if (!entry_.usesKeypad()) initInputPicker();
  updateRange();
  showDateViews(false);
  numLabel_->setText(entry_.keypadLabelText());
  slideIn(entry_.usesKeypad() ? kPanelHeight : 260);
}

void ValuePanel::nowDateClicked() { datePicker_->setDate(model_.now(), true); }

void ValuePanel::pickerCancel() {
  model_.pickerViewType = 0;
  close();
}

void ValuePanel::pickerDone() {
  if (model_.pickerViewType == 3) {
    entry_.done(model_);
  } else if (pickedDateDone(model_, datePicker_->date())) {
    if (hooks_.reload) hooks_.reload();
    close();
    if (hooks_.askAboutAddDuration) hooks_.askAboutAddDuration();
    return;
  }
  if (hooks_.reload) hooks_.reload();
  close();
}

int ValuePanel::numberOfComponentsInPickerView(ui::PickerView& picker) {
  return &picker == inputPicker_.get() && entry_.wheel() ? entry_.wheel()->numberOfComponents() : 0;
}

int ValuePanel::numberOfRowsInComponent(ui::PickerView& picker, int component) {
  return &picker == inputPicker_.get() && entry_.wheel() ? entry_.wheel()->numberOfRows(component) : 0;
}

std::optional<double> ValuePanel::widthForComponent(ui::PickerView& picker, int component) {
  if (&picker != inputPicker_.get() || !entry_.wheel()) return 0.0;
  const auto language =
      model_.services().preferredLanguage ? model_.services().preferredLanguage() : std::nullopt;
  return entry_.wheel()->widthForComponent(component, picker.bounds().size.width, language);
}

std::optional<double> ValuePanel::rowHeightForComponent(ui::PickerView& picker, int /*component*/) {
  return &picker == inputPicker_.get() ? NumberWheel::kRowHeight : 0.0;
}

std::shared_ptr<ui::View> ValuePanel::viewForRow(ui::PickerView& picker, int row, int component,
                                                 std::shared_ptr<ui::View> reusing) {
  if (&picker != inputPicker_.get() || !entry_.wheel()) return nullptr;
  auto label = std::make_shared<ui::Label>();
  if (reusing) label->setFrame(reusing->bounds());
  label->setBackgroundColor(ui::Color::clear());
  label->setTextAlignment(graphics::TextAlignment::kCenter);
  label->setFont(graphics::Font("AvenirNext-Regular", 30));
  label->setTextColor(ui::Color::rgb255(64, 66, 87, 1));
  label->setText(entry_.wheel()->rowText(row, component));
  return label;
}

void ValuePanel::didSelectRow(ui::PickerView& picker, int row, int component) {
  if (&picker == inputPicker_.get()) entry_.selectRow(row, component);
}

}  // namespace note_editor
