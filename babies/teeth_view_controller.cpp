#include "babies/teeth_view_controller.h"

#include <algorithm>

#include "app/value_texts.h"
#include "babies/screen_support.h"
#include "navigation/bar_title.h"
#include "navigation/side_menu_controller.h"
#include "platform/foundation/log.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/alert.h"
#include "platform/ui/storyboard.h"

namespace babies {

using graphics::Rect;

namespace {

constexpr double kPanelHeight = 250;
constexpr double kWheelHeight = 162;

}  // namespace

// ---------------------------------------------------------------------------------------------
// teethChartView

teethChartView::teethChartView(const Rect& frame) : ui::View(frame), spots_(makeToothSpots(chartToothColors())) {
  setBackgroundColor(graphics::Color::white());
}

void teethChartView::showTeeth(const std::vector<app::Tooth>& teeth) {
  for (int n = 0; n < static_cast<int>(spots_.size()); ++n) spots_[static_cast<size_t>(n)].toothState = toothStateOf(teeth, n);
  setNeedsDisplay();
}

void teethChartView::setPendingTooth(std::optional<int> num, int state) {
  pending_ = num;
  pendingState_ = state;
  setNeedsDisplay();
}

void teethChartView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  for (int n = 0; n < static_cast<int>(spots_.size()); ++n) {
    const toothSpotInfo& spot = spots_[static_cast<size_t>(n)];
    const int state = pending_ == n ? pendingState_ : spot.toothState;
    const toothSpotInfo::ImageRef& image = state == 1   ? spot.appearToothImg()
                                           : state == 2 ? spot.disappearToothImg()
                                                        : spot.noToothImg();
    if (image) canvas.drawImage(*image, toothDrawnRect(spot, n));
  }
}

std::optional<int> teethChartView::checkPoint(graphics::Point point) const {
  for (int n = static_cast<int>(spots_.size()) - 1; n >= 0; --n) {
    const Rect touch = toothTouchRect(spots_[static_cast<size_t>(n)], n);
    if (touch.width() > 0 && touch.contains(point)) return n;
  }
  return std::nullopt;
}

void teethChartView::touchesEnded(const ui::TouchSet& touches) {
  if (touches.empty()) return;
  const auto num = checkPoint(touches.front().locationInView(this));
  if (num && teethView_delegate) teethView_delegate->toothWasTouched(*num);
}

std::vector<ui::View::AccessibilityElement> teethChartView::accessibilityElements() const {
  std::vector<AccessibilityElement> elements;
  for (int n = 0; n < static_cast<int>(spots_.size()); ++n) {
    const Rect touch = toothTouchRect(spots_[static_cast<size_t>(n)], n);
    if (touch.width() > 0) elements.push_back({"tooth " + std::to_string(n + 1), touch});
  }
  return elements;
}

// ---------------------------------------------------------------------------------------------
// teethViewController

teethViewController::teethViewController() = default;

void teethViewController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  view()->setBackgroundColor(graphics::Color::white());
  doneItem_ = ui::BarButtonItem::withTitle(localized("Done"), ui::BarButtonItemStyle::kPlain,
                                          [this](ui::BarButtonItem&) { leave(*this); });
  navigationItem().setLeftBarButtonItem(doneItem_);
  navigation::setShrinkingTitle(*this, localized("Teeth"));

  const double width = view()->bounds().width(), height = view()->bounds().height();
  chart_ = std::make_shared<teethChartView>(Rect((width - kChartWidth) / 2, 0, kChartWidth, kChartHeight));
  chart_->setAutoresizingMask(ui::kFlexibleLeftMargin | ui::kFlexibleRightMargin);
  chart_->teethView_delegate = this;
  view()->addSubview(chart_);

  // The date panel, along the bottom edge while a tooth waits for its date.
  panel_ = std::make_shared<ui::View>(Rect(0, height - kPanelHeight, width, kPanelHeight));
  panel_->setBackgroundColor(graphics::Color::white());
  panel_->setAutoresizingMask(ui::kFlexibleTopMargin | ui::kFlexibleWidth);
  panelTitle_ = std::make_shared<ui::Label>(Rect(20, 4, width - 40, 30));
  panelTitle_->setTextAlignment(ui::TextAlignment::kCenter);
  panelTitle_->setAdjustsFontSizeToFitWidth(true);
  panelTitle_->setMinimumScaleFactor(0.6);
  panelTitle_->setAutoresizingMask(ui::kFlexibleWidth);
  datePicker_ = std::make_shared<ui::DatePicker>(Rect(0, 36, width, kWheelHeight));
  datePicker_->setMode(ui::DatePickerMode::kDate);
  datePicker_->setLocale(app::interfaceLocale(app::InterfaceText::current()));
  datePicker_->setAutoresizingMask(ui::kFlexibleWidth);
  auto button = [&](const std::string& title, double x, auto action) {
    auto b = std::make_shared<ui::Button>(Rect(x, 36 + kWheelHeight + 6, width / 2 - 20, 44));
    b->setTitle(title);
    b->setTitleColor(graphics::Color::accentViolet());
    b->addTarget([this, action](ui::Control&) { (this->*action)(); }, ui::kControlEventTouchUpInside);
    b->setAutoresizingMask(ui::kFlexibleWidth);
    panel_->addSubview(b);
  };
  panel_->addSubview(panelTitle_);
  panel_->addSubview(datePicker_);
  button(localized("Cancel"), 10, &teethViewController::cancelPendingTooth);
  button(localized("Done"), width / 2 + 10, &teethViewController::recordPendingTooth);
  view()->addSubview(panel_);
  showPanel(false);
}

void teethViewController::viewWillAppear(bool /*animated*/) { reload(); }

void teethViewController::reload() {
  if (chart_) chart_->showTeeth(records().teeth());
}

void teethViewController::placePanelAndChart() {
  const double width = view()->bounds().width(), height = view()->bounds().height();
  const bool lower = pendingTooth_ && *pendingTooth_ >= kToothCount / 2;
  panel_->setFrame(Rect(0, lower ? 0 : height - kPanelHeight, width, kPanelHeight));
  chart_->setFrame(Rect((width - kChartWidth) / 2, lower ? std::max(0.0, height - kChartHeight) : 0, kChartWidth,
                        kChartHeight));
}

void teethViewController::showPanel(bool shown) {
  placePanelAndChart();
  chart_->setPendingTooth(shown ? pendingTooth_ : std::nullopt,
                          shown && pendingTooth_ ? records().nextState(*pendingTooth_).value_or(0) / 10 : 0);
  panel_->setHidden(!shown);
  // The chart takes no touch, and the screen cannot be left, while the wheel waits for its date:
  // the panel's own buttons answer it.
  chart_->setUserInteractionEnabled(!shown);
  navigationItem().setHidesBackButton(shown);
  navigationItem().setLeftBarButtonItem(shown ? nullptr : doneItem_);
}

void teethViewController::toothWasTouched(int num) {
  view();
  const TeethRecords teeth = records();
  const auto state = teeth.nextState(num);
  if (!state) return;  // lost: nothing follows
  pendingTooth_ = num;
  panelTitle_->setText(localized(*state == kToothAppeared ? "Tooth Appeared" : "Lost Tooth"));
  const foundation::Date today = (clock_ ? *clock_ : runtime::RunLoop::main().clock()).now();
  const auto earliest = teeth.earliestNextDate(num);
  datePicker_->setMinimumDate(std::nullopt);
  datePicker_->setMaximumDate(std::max(today, earliest.value_or(today)));
  datePicker_->setMinimumDate(earliest);
  datePicker_->setDate(today);
  showPanel(true);
}

void teethViewController::recordPendingTooth() {
  if (!pendingTooth_) return;
  const int num = *std::exchange(pendingTooth_, std::nullopt);
  showPanel(false);
  auto recorded = records().recordNextEvent(num, datePicker_->date());
  if (!recorded) {
    foundation::log("The tooth was not recorded: " + recorded.error().description());
    ui::AlertView::create(localized("The record could not be saved."), "", nullptr, localized("OK"))->show();
  }
  reload();
}

void teethViewController::cancelPendingTooth() {
  pendingTooth_.reset();
  showPanel(false);
}

void registerTeethScreens(ui::Storyboard& storyboard) {
  storyboard.registerController(kTeethId, [] { return std::make_shared<teethViewController>(); });
  storyboard.registerController(kTeethNavId, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<teethViewController>());
  });
  storyboard.registerSegue(navigation::kTeethSidebarShow, kTeethId, ui::SegueKind::kPush);
  storyboard.registerSegue(kTeethSegue, kTeethNavId, ui::SegueKind::kFormSheet);
}

}  // namespace babies
