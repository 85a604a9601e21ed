#include "charts/sum_chart.h"

#include <algorithm>
#include <cmath>

#include "app/note_types.h"
#include "charts/chart_common.h"
#include "navigation/bar_title.h"
#include "navigation/interface_locale.h"
#include "navigation/url_helper.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/log.h"
#include "platform/foundation/number_formatter.h"
#include "platform/graphics/text_measure.h"

namespace charts {

using foundation::Date;
using graphics::Color;
using ui::Point;
using ui::Rect;
using namespace detail;

namespace {
// Room above the bars for the totals and below them for the dates.
constexpr double kValueHeight = 16;
constexpr double kDayHeight = 16;
constexpr double kTopInset = 8;
// A day's slot is never narrower than a date written small.
constexpr double kLeastSlot = 44;
constexpr double kSideInset = 8;
const graphics::Font& smallFont() {
  static const graphics::Font font = graphics::Font::systemFontOfSize(10);
  return font;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// SumBarsView

void SumBarsView::setSeries(SumSeries series, std::function<std::string(double)> valueText,
                            std::function<std::string(Date)> dayText) {
  series_ = std::move(series);
  valueText_ = std::move(valueText);
  dayText_ = std::move(dayText);
  setNeedsDisplay();
}

double SumBarsView::slotWidth() const {
  const double width = std::max(1.0, bounds().width() - 2 * kSideInset);
  const auto count = static_cast<double>(std::max<std::size_t>(series_.days.size(), 1));
  // As wide as the days allow, but never so narrow a date would not fit, nor wider than a third.
  return std::clamp(width / count, std::min(kLeastSlot, width), width / 3);
}

std::vector<DaySum> SumBarsView::shownDays() const {
  const double width = std::max(1.0, bounds().width() - 2 * kSideInset);
  const auto fit = static_cast<std::size_t>(std::max(1.0, std::floor(width / slotWidth())));
  const auto& days = series_.days;
  return days.size() <= fit ? days : std::vector<DaySum>(days.end() - static_cast<std::ptrdiff_t>(fit), days.end());
}

Rect SumBarsView::barRect(std::size_t shownIndex) const {
  const auto days = shownDays();
  if (shownIndex >= days.size()) return Rect();
  double highest = 0;
  for (const auto& day : days) highest = std::max(highest, day.value);
  const double slot = slotWidth();
  const double top = kTopInset + kValueHeight;
  const double bottom = std::max(top + 1, bounds().height() - kDayHeight - 4);
  const double height = highest > 0 ? std::max(0.0, days[shownIndex].value) / highest * (bottom - top) : 0;
  const double x = kSideInset + static_cast<double>(shownIndex) * slot;
  // A day with a total of zero still shows a sliver, so the day is seen to have notes.
  return Rect(x + slot * 0.2, bottom - std::max(2.0, height), slot * 0.6, std::max(2.0, height));
}

std::vector<SumBarsView::Text> SumBarsView::texts() const {
  std::vector<Text> texts;
  const auto days = shownDays();
  if (days.empty()) {
    if (!emptyText_.empty()) texts.push_back({emptyText_, Rect(0, bounds().height() / 2 - 10, bounds().width(), 20)});
    return texts;
  }
  const double slot = slotWidth();
  const double bottom = std::max(kTopInset + kValueHeight + 1, bounds().height() - kDayHeight - 4);
  for (std::size_t i = 0; i < days.size(); ++i) {
    const Rect bar = barRect(i);
    const double x = kSideInset + static_cast<double>(i) * slot;
    if (valueText_) texts.push_back({valueText_(days[i].value), Rect(x, bar.y() - kValueHeight, slot, kValueHeight)});
    if (dayText_) texts.push_back({dayText_(days[i].day), Rect(x, bottom + 2, slot, kDayHeight)});
  }
  return texts;
}

std::vector<ui::View::AccessibilityElement> SumBarsView::accessibilityElements() const {
  std::vector<AccessibilityElement> elements;
  for (auto& text : texts()) elements.push_back({std::move(text.text), text.rect});
  return elements;
}

void SumBarsView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  const auto b = bounds();
  canvas.setFillColor(Color::white());
  canvas.fillRect(b);
  const double bottom = std::max(kTopInset + kValueHeight + 1, b.height() - kDayHeight - 4);
  canvas.setStrokeColor(hairline());
  canvas.setLineWidth(0.5);
  canvas.strokeLine(Point(kSideInset, bottom), Point(b.width() - kSideInset, bottom));
  canvas.setFillColor(accent());
  const auto days = shownDays();
  for (std::size_t i = 0; i < days.size(); ++i) canvas.fillRect(barRect(i));
  for (const auto& text : texts()) {
    const bool empty = days.empty();
    canvas.drawText(text.text, text.rect, empty ? graphics::Font::systemFontOfSize(15) : smallFont(),
                    empty ? Color::gray() : Color::darkGray(), graphics::TextAlignment::kCenter,
                    graphics::LineBreakMode::kClip);
  }
}

// ---------------------------------------------------------------------------------------------
// sumChartController

sumChartController::sumChartController(app::NoteEditHelper helper, foundation::Calendar calendar,
                                       app::AnalyticsEventSink logEvent)
    : helper_(std::move(helper)),
      calendar_(std::move(calendar)),
      logEvent_(logEvent ? std::move(logEvent) : navigation::tallyEventSink()) {}

void sumChartController::viewDidLoad() {
  logEvent_("sum_chart", {});
  if (!context_) context_ = applicationContext();
  if (!currentBabyName_) currentBabyName_ = applicationBabyName();
  view()->setBackgroundColor(Color::white());
  navigationItem().setLeftBarButtonItem(backItem([this] { back(); }));
  // "Сводный график", "Übersichtsdiagramm": longer than a phone's bar leaves beside "Done".
  navigation::setShrinkingTitle(*this, localized("Summary Chart"));
  previousButton_ = stepButton("<", [this] { previousType(); });
  nextButton_ = stepButton(">", [this] { nextType(); });
  typeLabel_ = std::make_shared<ui::Label>();
  typeLabel_->setTextAlignment(graphics::TextAlignment::kCenter);
  typeLabel_->setAdjustsFontSizeToFitWidth(true);
  measureSegment_ = std::make_shared<ui::SegmentedControl>();
  measureSegment_->addTarget(
      [this](ui::Control&) {
        measureIndex_ = measureSegment_->selectedSegmentIndex();
        reload();
      },
      ui::kControlEventValueChanged);
  bars_ = std::make_shared<SumBarsView>();
  bars_->setEmptyText(localized("No measures yet"));
  for (const auto& part : std::initializer_list<std::shared_ptr<ui::View>>{previousButton_, nextButton_, typeLabel_,
                                                                           measureSegment_, bars_})
    view()->addSubview(part);
}

void sumChartController::viewWillLayoutSubviews() {
  const auto b = view()->bounds();
  previousButton_->setFrame(Rect(10, 8, 44, 32));
  nextButton_->setFrame(Rect(b.width() - 54, 8, 44, 32));
  typeLabel_->setFrame(Rect(60, 8, std::max(0.0, b.width() - 120), 32));
  measureSegment_->setFrame(Rect(10, 48, std::max(0.0, b.width() - 20), 30));
  bars_->setFrame(Rect(0, 86, b.width(), std::max(0.0, b.height() - 86)));
}

void sumChartController::viewWillAppear(bool /*animated*/) {
  viewWillLayoutSubviews();
  readTypes();
  // The screenshot mode's settings: the first type and its first measure.
  if (local_ID_ || !type_ || std::find(types_.begin(), types_.end(), *type_) == types_.end()) {
    type_ = types_.empty() ? std::nullopt : std::optional<std::string>(types_.front());
    measureIndex_ = 0;
  }
  reload();
}

void sumChartController::readTypes() {
  types_.clear();
  if (!context_ || !currentBabyName_) return;
  auto read = typesWithNotes(*context_, helper_, *currentBabyName_);
  if (read) {
    types_ = std::move(read).value();
  } else {
    foundation::log("The types of the notes could not be read: " + read.error().description());
  }
}

void sumChartController::showType(const std::string& type) {
  view();
  if (type_ != type) measureIndex_ = 0;
  type_ = type;
  reload();
}

void sumChartController::stepType(int by) {
  if (types_.empty()) return;
  const auto at = type_ ? std::find(types_.begin(), types_.end(), *type_) : types_.end();
  const auto count = static_cast<int>(types_.size());
  const int index = at == types_.end() ? 0 : (static_cast<int>(at - types_.begin()) + by + count) % count;
  showType(types_[static_cast<std::size_t>(index)]);
}

void sumChartController::previousType() { stepType(-1); }
void sumChartController::nextType() { stepType(1); }

void sumChartController::reload() {
  view();
  measures_ = type_ ? helper_.getSumsForType(*type_) : std::vector<std::string>{};
  if (measureIndex_ < 0 || measureIndex_ >= static_cast<int>(measures_.size())) measureIndex_ = 0;
  typeLabel_->setText(type_ ? localized(*type_) : "");
  previousButton_->setHidden(types_.size() < 2);
  nextButton_->setHidden(types_.size() < 2);
  measureSegment_->removeAllSegments();
  for (const auto& measure : measures_)
    measureSegment_->insertSegmentWithTitle(localized(measure), measureSegment_->numberOfSegments());
  measureSegment_->setSelectedSegmentIndex(measures_.empty() ? ui::SegmentedControl::kNoSegment : measureIndex_);
  measureSegment_->setHidden(measures_.empty());

  SumSeries series;
  if (type_ && !measures_.empty()) {
    series = {*type_, measures_[static_cast<std::size_t>(measureIndex_)], {}};
    if (context_ && currentBabyName_) {
      auto read = sumSeries(*context_, helper_, calendar_, *currentBabyName_, series.type, series.measure);
      if (read) {
        series = std::move(read).value();
      } else {
        foundation::log("The totals of the notes could not be read: " + read.error().description());
      }
    }
  }
  const bool counting = series.measure == app::kShowCount;
  auto formatter = navigation::interfaceDateFormatter(foundation::DateFormatterStyle::Short,
                                                      foundation::DateFormatterStyle::None);
  formatter.setTimeZone(calendar_.timeZone());
  if (auto pattern = foundation::DateFormatter::dateFormatFromTemplate("dMMM", formatter.locale()))
    formatter.setDateFormat(*pattern);
  bars_->setSeries(
      std::move(series),
      // Counts are whole; the other totals keep at most two decimals.
      [counting](double value) { return foundation::NumberFormatter::format(value, counting ? 0 : 2); },
      [formatter = std::make_shared<foundation::DateFormatter>(std::move(formatter))](Date day) {
        return formatter->stringFromDate(day);
      });
}

void sumChartController::back() { chartBack(*this, nullptr); }

}  // namespace charts
