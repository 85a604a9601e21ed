#include "charts/chart_screens.h"

#include "charts/chart_common.h"

#include <algorithm>
#include <cmath>

#include "charts/sum_chart.h"
#include "navigation/interface_locale.h"
#include "navigation/side_menu_controller.h"
#include "navigation/url_helper.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/foundation/number_formatter.h"
#include "platform/graphics/text_measure.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"

namespace charts {

using foundation::Date;
using graphics::Color;
using ui::Point;
using ui::Rect;

namespace detail {

const Color& hairline() {
  static const Color color = Color::rgb255(201, 203, 206);
  return color;
}
const Color& accent() {
  static const Color color = Color::rgb255(140, 127, 243);
  return color;
}

void chartBack(ui::ViewController& screen, note_editor::noteViewDelegate* delegate) {
  auto self = screen.shared_from_this();
  if (ui::device().isPad() && delegate) return delegate->noteViewChildDone(screen, false);
  auto* navigation = screen.navigationController();
  if (navigation && navigation->viewControllers().size() > 1) {
    navigation->popViewControllerAnimated(true);
  } else if (delegate) {
    delegate->noteViewChildDone(screen, false);
  } else {
    screen.dismissViewControllerAnimated(true);
  }
}

std::shared_ptr<ui::BarButtonItem> backItem(std::function<void()> action) {
  return ui::BarButtonItem::withTitle(localized("Done"), ui::BarButtonItemStyle::kPlain,
                                      [action = std::move(action)](ui::BarButtonItem&) { action(); });
}

std::shared_ptr<ui::Button> stepButton(const char* title, std::function<void()> action) {
  auto button = std::make_shared<ui::Button>();
  button->setTitle(title);
  button->setTitleColor(accent());
  button->addTarget([action = std::move(action)](ui::Control&) { action(); }, ui::kControlEventTouchUpInside);
  return button;
}

}  // namespace detail

using namespace detail;

namespace {

std::string shortDate(Date date) {
  return foundation::DateFormatter::withStyles(foundation::DateFormatterStyle::Short,
                                               foundation::DateFormatterStyle::None)
      .stringFromDate(date);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GrowthPlotView

void GrowthPlotView::setSeries(GrowthSeries series) {
  series_ = std::move(series);
  setNeedsDisplay();
}

Rect GrowthPlotView::plotRect() const {
  const auto b = bounds();
  return Rect(b.x() + 48, b.y() + 24, std::max(1.0, b.width() - 64), std::max(1.0, b.height() - 56));
}

Point GrowthPlotView::pointFor(const GrowthPoint& point) const {
  const Rect plot = plotRect();
  const auto& points = series_.points;
  if (points.empty()) return plot.origin;
  auto [minDate, maxDate] =
      std::minmax_element(points.begin(), points.end(), [](auto& a, auto& b) { return a.date < b.date; });
  auto [minValue, maxValue] =
      std::minmax_element(points.begin(), points.end(), [](auto& a, auto& b) { return a.value < b.value; });
  double t0 = minDate->date.sinceReference, t1 = maxDate->date.sinceReference;
  if (t1 - t0 < 1) t0 -= kSecondsPerDay, t1 += kSecondsPerDay;
  double v0 = minValue->value, v1 = maxValue->value;
  const double margin = std::max((v1 - v0) * 0.1, std::abs(v1) * 0.05 + 1e-6);
  v0 -= margin, v1 += margin;
  const double x = plot.x() + (point.date.sinceReference - t0) / (t1 - t0) * plot.width();
  const double y = plot.maxY() - (point.value - v0) / (v1 - v0) * plot.height();
  return Point(x, y);
}

void GrowthPlotView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const auto b = bounds();
  const Rect plot = plotRect();
  const auto small = graphics::Font::systemFontOfSize(11);
  canvas.setFillColor(Color::white());
  canvas.fillRect(b);
  canvas.setStrokeColor(hairline());
  canvas.setLineWidth(0.5);
  canvas.strokeLine(Point(plot.x(), plot.y()), Point(plot.x(), plot.maxY()));
  canvas.strokeLine(Point(plot.x(), plot.maxY()), Point(plot.maxX(), plot.maxY()));
  if (!series_.unit.empty())
    canvas.drawText(localized(series_.unit), Rect(b.x() + 4, b.y() + 4, 120, 16), small, Color::gray());
  if (series_.points.empty()) {
    canvas.drawText(emptyText_, Rect(plot.x(), plot.midY() - 10, plot.width(), 20),
                    graphics::Font::systemFontOfSize(15), Color::gray(), graphics::TextAlignment::kCenter);
    return;
  }
  std::vector<Point> line;
  for (const auto& point : series_.points) line.push_back(pointFor(point));
  canvas.setStrokeColor(accent());
  canvas.setLineWidth(2);
  graphics::Path path;
  path.moveTo(line.front());
  for (size_t i = 1; i < line.size(); ++i) path.lineTo(line[i]);
  if (line.size() > 1) canvas.strokePath(path);
  canvas.setFillColor(accent());
  for (const auto& p : line) canvas.fillEllipse(Rect(p.x - 3.5, p.y - 3.5, 7, 7));

  // The lowest and highest measures beside the axis, the first and last dates below it.
  auto [low, high] = std::minmax_element(series_.points.begin(), series_.points.end(),
                                         [](auto& a, auto& c) { return a.value < c.value; });
  for (const auto* point : {&*low, &*high}) {
    canvas.drawText(foundation::NumberFormatter::format(point->value, 2), Rect(b.x(), pointFor(*point).y - 7, plot.x() - b.x() - 4, 14),
                    small, Color::darkGray(), graphics::TextAlignment::kRight);
  }
  canvas.drawText(shortDate(series_.points.front().date), Rect(plot.x(), plot.maxY() + 4, 100, 14), small,
                  Color::darkGray());
  if (series_.points.size() > 1)
    canvas.drawText(shortDate(series_.points.back().date), Rect(plot.maxX() - 100, plot.maxY() + 4, 100, 14),
                    small, Color::darkGray(), graphics::TextAlignment::kRight);
}

// ---------------------------------------------------------------------------------------------
// DayStripView

namespace {
constexpr double kRowHeight = 28;
constexpr double kHeaderHeight = 20;
constexpr double kTitleInset = 4;
// The names take at most this share of the width, the hours the rest.
constexpr double kMostTitleShare = 0.45;
constexpr double kTitleFontSize = 12;
constexpr double kLeastTitleFontSize = 8;
}  // namespace

void DayStripView::setSpans(std::vector<DaySpan> spans, Date dayStart) {
  spans_ = std::move(spans);
  dayStart_ = dayStart;
  setNeedsDisplay();
}

std::vector<std::string> DayStripView::rowTypes() const {
  std::vector<std::string> types;
  for (const auto& span : spans_) {
    if (std::find(types.begin(), types.end(), span.type) == types.end()) types.push_back(span.type);
  }
  return types;
}

std::string DayStripView::titleOf(const std::string& type) const { return typeTitle_ ? typeTitle_(type) : type; }

DayStripView::TitleLayout DayStripView::titleLayout() const {
  // The names are written whole: the column widens to the longest, up to its share of the width;
  // past that the font shrinks, and a name still too long takes two lines of its row.
  const double most = std::max(40.0, bounds().width() * kMostTitleShare);
  const auto measurer = graphics::defaultTextMeasurer();
  double widest = 0;
  TitleLayout layout{most, kTitleFontSize, false};
  for (double size = kTitleFontSize; size >= kLeastTitleFontSize; size -= 1) {
    widest = 0;
    for (const auto& type : rowTypes())
      widest = std::max(widest, measurer->sizeOf(titleOf(type), graphics::Font::systemFontOfSize(size)).width);
    layout.fontSize = size;
    if (widest + 2 * kTitleInset <= most) {
      layout.width = std::max(64.0, std::ceil(widest) + 2 * kTitleInset);
      return layout;
    }
  }
  layout.twoLines = true;
  return layout;
}

Rect DayStripView::titleRect(std::size_t row) const {
  const TitleLayout layout = titleLayout();
  const double top = kHeaderHeight + static_cast<double>(row) * kRowHeight;
  const double lineHeight = layout.fontSize + 4;
  const double height = layout.twoLines ? std::min(kRowHeight - 2, 2 * lineHeight) : lineHeight;
  return Rect(kTitleInset, top + (kRowHeight - height) / 2, layout.width - 2 * kTitleInset, height);
}

Rect DayStripView::rectFor(const DaySpan& span) const {
  const auto types = rowTypes();
  const auto row = static_cast<double>(std::find(types.begin(), types.end(), span.type) - types.begin());
  const double labelWidth = titleLayout().width;
  const double width = std::max(1.0, bounds().width() - labelWidth - 8);
  const double x0 = labelWidth + std::clamp((span.start - dayStart_) / kSecondsPerDay, 0.0, 1.0) * width;
  const double x1 = labelWidth + std::clamp((span.stop - dayStart_) / kSecondsPerDay, 0.0, 1.0) * width;
  // A one-date note is a mark of its own width, so it shows.
  return Rect(x0, kHeaderHeight + row * kRowHeight + 4, std::max(3.0, x1 - x0), kRowHeight - 8);
}

std::vector<ui::View::AccessibilityElement> DayStripView::accessibilityElements() const {
  std::vector<AccessibilityElement> elements;
  const auto types = rowTypes();
  for (std::size_t row = 0; row < types.size(); ++row) elements.push_back({titleOf(types[row]), titleRect(row)});
  return elements;
}

void DayStripView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const auto b = bounds();
  const auto small = graphics::Font::systemFontOfSize(10);
  canvas.setFillColor(Color::white());
  canvas.fillRect(b);
  const TitleLayout layout = titleLayout();
  const double width = std::max(1.0, b.width() - layout.width - 8);
  const auto types = rowTypes();
  const double bottom = kHeaderHeight + static_cast<double>(std::max<size_t>(types.size(), 1)) * kRowHeight;
  canvas.setStrokeColor(hairline());
  canvas.setLineWidth(0.5);
  for (int hour = 0; hour <= 24; hour += 3) {
    const double x = layout.width + hour / 24.0 * width;
    canvas.strokeLine(Point(x, kHeaderHeight), Point(x, bottom));
    if (hour < 24) canvas.drawText(std::to_string(hour), Point(x + 2, 4), small, Color::darkGray());
  }
  for (size_t row = 0; row <= types.size(); ++row) {
    const double y = kHeaderHeight + static_cast<double>(row) * kRowHeight;
    canvas.strokeLine(Point(0, y), Point(b.width(), y));
  }
  for (size_t row = 0; row < types.size(); ++row) {
    canvas.drawText(titleOf(types[row]), titleRect(row), graphics::Font::systemFontOfSize(layout.fontSize),
                    Color::black(), graphics::TextAlignment::kLeft,
                    layout.twoLines ? graphics::LineBreakMode::kWordWrap : graphics::LineBreakMode::kClip);
  }
  canvas.setFillColor(accent());
  for (const auto& span : spans_) canvas.fillRect(rectFor(span));
}

// ---------------------------------------------------------------------------------------------
// graphicsViewController

graphicsViewController::graphicsViewController(app::NoteEditHelper helper, app::AnalyticsEventSink logEvent)
    : helper_(std::move(helper)), logEvent_(logEvent ? std::move(logEvent) : navigation::tallyEventSink()) {
  types_ = helper_.getTypeIds(app::kGrowthTypesList);
}

void graphicsViewController::viewDidLoad() {
  logEvent_("graphics", {});
  if (!context_) context_ = applicationContext();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  if (local_ID_) typeIndex_ = 0;
  view()->setBackgroundColor(Color::white());
  setTitle(localized("Growth graph"));
  navigationItem().setLeftBarButtonItem(backItem([this] { back(); }));
  plot_ = std::make_shared<GrowthPlotView>();
  plot_->setEmptyText(localized("No measures yet"));
  view()->addSubview(plot_);
}

void graphicsViewController::layoutTypeRows(double width) {
  constexpr double kRowHeight = 30, kGap = 6, kPadding = 8;
  std::vector<std::string> titles;
  for (const auto& type : types_) titles.push_back(localized(type));
  const size_t count = std::max<size_t>(titles.size(), 1);
  const auto font = graphics::Font::systemFontOfSize(13);
  const bool oneRow = std::all_of(titles.begin(), titles.end(), [&](const std::string& title) {
    return graphics::defaultTextMeasurer()->sizeOf(title, font).width + kPadding <= width / count;
  });
  const size_t perRow = oneRow ? count : (count + 1) / 2;
  if (typeRows_.size() != (count + perRow - 1) / perRow) {
    for (auto& row : typeRows_) row->removeFromSuperview();
    typeRows_.clear();
    for (size_t first = 0; first < titles.size(); first += perRow) {
      const auto end = titles.begin() + static_cast<std::ptrdiff_t>(std::min(first + perRow, titles.size()));
      auto row = std::make_shared<ui::SegmentedControl>(
          std::vector<std::string>(titles.begin() + static_cast<std::ptrdiff_t>(first), end));
      row->addTarget(
          [this, first, raw = row.get()](ui::Control&) {
            showTypeAtIndex(static_cast<int>(first) + raw->selectedSegmentIndex());
          },
          ui::kControlEventValueChanged);
      view()->addSubview(row);
      typeRows_.push_back(std::move(row));
    }
  }
  for (size_t i = 0; i < typeRows_.size(); ++i) {
    typeRows_[i]->setFrame(Rect(10, 10 + static_cast<double>(i) * (kRowHeight + kGap), width, kRowHeight));
    const int selected = typeIndex_ - static_cast<int>(i * perRow);
    typeRows_[i]->setSelectedSegmentIndex(selected >= 0 && selected < typeRows_[i]->numberOfSegments()
                                              ? selected
                                              : ui::SegmentedControl::kNoSegment);
  }
}

void graphicsViewController::viewWillLayoutSubviews() {
  const auto b = view()->bounds();
  layoutTypeRows(b.width() - 20);
  const double top = 10 + static_cast<double>(typeRows_.size()) * 36 + 4;
  plot_->setFrame(Rect(0, top, b.width(), std::max(0.0, b.height() - top)));
}

void graphicsViewController::viewWillAppear(bool /*animated*/) {
  viewWillLayoutSubviews();
  showTypeAtIndex(typeIndex_);
}

void graphicsViewController::showTypeAtIndex(int index) {
  view();
  if (index < 0 || static_cast<size_t>(index) >= types_.size()) return;
  typeIndex_ = index;
  viewWillLayoutSubviews();
  GrowthSeries series{types_[static_cast<size_t>(index)], {}, {}};
  if (context_ && currentBabyName_) {
    auto read = growthSeries(*context_, helper_, *currentBabyName_, series.type);
    if (read) {
      series = std::move(read).value();
    } else {
      foundation::log("The growth measures could not be read: " + read.error().description());
    }
  }
  plot_->setSeries(std::move(series));
}

void graphicsViewController::back() { chartBack(*this, noteView_delegate_); }

// ---------------------------------------------------------------------------------------------
// DayTrackController

DayTrackController::DayTrackController(app::NoteEditHelper helper, const foundation::Clock* clock,
                                       foundation::Calendar calendar)
    : helper_(std::move(helper)),
      clock_(clock ? clock : &runtime::RunLoop::main().clock()),
      calendar_(std::move(calendar)) {
  dayStart_ = calendar_.startOfDay(clock_->now()).value_or(clock_->now());
}

void DayTrackController::viewDidLoad() {
  if (!context_) context_ = applicationContext();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  if (local_ID_ && context_ && currentBabyName_) {
    if (auto latest = latestNoteDate(*context_, *currentBabyName_))
      dayStart_ = calendar_.startOfDay(*latest).value_or(*latest);
  }
  view()->setBackgroundColor(Color::white());
  setTitle(localized("Graph of the day"));
  navigationItem().setLeftBarButtonItem(backItem([this] { back(); }));
  dayLabel_ = std::make_shared<ui::Label>();
  dayLabel_->setTextAlignment(graphics::TextAlignment::kCenter);
  previousButton_ = stepButton("<", [this] { previousDay(); });
  nextButton_ = stepButton(">", [this] { nextDay(); });
  strip_ = std::make_shared<DayStripView>();
  strip_->setTypeTitle([](const std::string& type) { return localized(type); });
  for (const auto& part :
       std::initializer_list<std::shared_ptr<ui::View>>{dayLabel_, previousButton_, nextButton_, strip_})
    view()->addSubview(part);
}

void DayTrackController::viewWillLayoutSubviews() {
  const auto b = view()->bounds();
  previousButton_->setFrame(Rect(10, 8, 44, 32));
  nextButton_->setFrame(Rect(b.width() - 54, 8, 44, 32));
  dayLabel_->setFrame(Rect(60, 8, std::max(0.0, b.width() - 120), 32));
  strip_->setFrame(Rect(0, 48, b.width(), std::max(0.0, b.height() - 48)));
}

void DayTrackController::viewWillAppear(bool /*animated*/) {
  viewWillLayoutSubviews();
  reload();
}

void DayTrackController::showDay(Date day) {
  dayStart_ = calendar_.startOfDay(day).value_or(day);
  reload();
}

void DayTrackController::previousDay() {
  if (auto day = calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, -1, dayStart_)) showDay(*day);
}

void DayTrackController::nextDay() {
  if (auto day = calendar_.dateByAddingUnit(foundation::CalendarUnit::Day, 1, dayStart_)) showDay(*day);
}

void DayTrackController::reload() {
  view();
  auto formatter = navigation::interfaceDateFormatter(foundation::DateFormatterStyle::Medium,
                                                      foundation::DateFormatterStyle::None);
  formatter.setTimeZone(calendar_.timeZone());
  dayLabel_->setText(formatter.stringFromDate(dayStart_));
  std::vector<DaySpan> spans;
  if (context_ && currentBabyName_) {
    auto read = daySpans(*context_, helper_, calendar_, *currentBabyName_, dayStart_);
    if (read) {
      spans = std::move(read).value();
    } else {
      foundation::log("The notes of the day could not be read: " + read.error().description());
    }
  }
  strip_->setSpans(std::move(spans), dayStart_);
}

void DayTrackController::back() { chartBack(*this, noteView_delegate_); }

// ---------------------------------------------------------------------------------------------

namespace {

template <typename Screen>
void registerChart(ui::Storyboard& storyboard, const char* identifier, const char* navigationId) {
  storyboard.registerController(identifier, [] { return std::make_shared<Screen>(); });
  storyboard.registerController(navigationId, [] {
    return std::make_shared<ui::NavigationController>(std::make_shared<Screen>());
  });
}

}  // namespace

void registerChartScreens(ui::Storyboard& storyboard) {
  registerChart<graphicsViewController>(storyboard, kGraphicsId, kGraphicsNavigationId);
  registerChart<DayTrackController>(storyboard, kDayTrackId, kDayTrackNavigationId);
  registerChart<sumChartController>(storyboard, kSumChartId, kSumChartNavigationId);
  storyboard.registerSegue(kGraphicsSegue, kGraphicsNavigationId, ui::SegueKind::kFormSheet);
  storyboard.registerSegue(kDayTrackSegue, kDayTrackNavigationId, ui::SegueKind::kFormSheet);
  storyboard.registerSegue(kSumChartSegue, kSumChartNavigationId, ui::SegueKind::kFormSheet);
  storyboard.registerSegue(navigation::kSumChartSidebarShow, kSumChartId, ui::SegueKind::kPush);
}

}  // namespace charts
