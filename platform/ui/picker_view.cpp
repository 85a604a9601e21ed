#include "platform/ui/picker_view.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>

#include "platform/foundation/calendar.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/time_zone.h"
#include "platform/ui/gesture.h"
#include "platform/ui/render.h"

namespace ui {

namespace {

constexpr double kDragSlop = 10;

// The band around the middle row, where the selection rests.
void drawSelectionBand(graphics::Canvas& canvas, const Rect& bounds, double rowHeight) {
  canvas.save();
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(Color::white(0.78));
  const double top = bounds.midY() - rowHeight / 2;
  canvas.strokeLine(Point(bounds.minX(), top), Point(bounds.maxX(), top));
  canvas.strokeLine(Point(bounds.minX(), top + rowHeight), Point(bounds.maxX(), top + rowHeight));
  canvas.restore();
}

// A finger on a wheel: the wheel under the point where the touch began turns a row for each row
// height the finger travelled (up: later rows), shown while it moves and taken when it lifts. A
// drag that sets off sideways is not the wheel's.
class WheelDrag : public PanGestureRecognizer {
 public:
  struct Hooks {
    std::function<int(Point)> wheelAt;
    std::function<double(int)> rowHeight;
    std::function<void(int wheel, int rows)> preview;
    std::function<void(int wheel, int rows)> commit;
  };
  WheelDrag(View& owner, Hooks hooks) : owner_(owner), hooks_(std::move(hooks)) {}

  void touchesBegan(const TouchSet& touches) override {
    PanGestureRecognizer::touchesBegan(touches);
    if (touches.empty()) return;
    start_ = touches.front().locationInView(&owner_);
    wheel_ = hooks_.wheelAt(start_);
    if (wheel_ < 0) fail();
  }

  void touchesMoved(const TouchSet& touches) override {
    if (touches.empty()) return;
    const Point at = touches.front().locationInView(&owner_);
    if (state() == GestureState::kPossible && std::hypot(at.x - start_.x, at.y - start_.y) > kDragSlop &&
        std::fabs(at.x - start_.x) > std::fabs(at.y - start_.y)) {
      fail();
      return;
    }
    PanGestureRecognizer::touchesMoved(touches);
    if (state() == GestureState::kBegan || state() == GestureState::kChanged)
      hooks_.preview(wheel_, rowsTo(at));
  }

  void touchesEnded(const TouchSet& touches) override {
    PanGestureRecognizer::touchesEnded(touches);
    if (state() != GestureState::kEnded || touches.empty()) return;
    hooks_.preview(-1, 0);
    hooks_.commit(wheel_, rowsTo(touches.front().locationInView(&owner_)));
  }

  void touchesCancelled(const TouchSet& touches) override {
    PanGestureRecognizer::touchesCancelled(touches);
    hooks_.preview(-1, 0);
  }

 private:
  int rowsTo(Point at) const {
    const double h = hooks_.rowHeight(wheel_);
    return h > 0 ? static_cast<int>(std::lround((start_.y - at.y) / h)) : 0;
  }

  View& owner_;
  Hooks hooks_;
  Point start_;
  int wheel_ = -1;
};

}  // namespace

// ----------------------------------------------------------------------------------------- PickerView

PickerView::PickerView() : PickerView(Rect(0, 0, 320, 216)) {}

PickerView::PickerView(const Rect& frame) : View(frame) {
  WheelDrag::Hooks hooks;
  hooks.wheelAt = [this](Point p) { return componentAtPoint(p); };
  hooks.rowHeight = [this](int c) { return rowHeightForComponent(c); };
  hooks.preview = [this](int c, int rows) {
    dragComponent_ = c;
    dragRows_ = rows;
    setNeedsDisplay();
  };
  hooks.commit = [this](int c, int rows) { turnComponent(c, rows); };
  addGestureRecognizer(std::make_shared<WheelDrag>(*this, std::move(hooks)));
}

Rect PickerView::componentFrame(int component) const {
  const int n = numberOfComponents();
  if (component < 0 || component >= n) return Rect();
  double total = 0;
  for (int c = 0; c < n; ++c) total += widthForComponent(c);
  double x = bounds().x() + std::max(0.0, (bounds().width() - total) / 2);
  for (int c = 0; c < component; ++c) x += widthForComponent(c);
  return Rect(x, bounds().y(), widthForComponent(component), bounds().height());
}

int PickerView::componentAtPoint(Point point) const {
  for (int c = 0; c < numberOfComponents(); ++c)
    if (componentFrame(c).contains(point)) return c;
  return -1;
}

void PickerView::turnComponent(int component, int rows) {
  const int selected = selectedRowInComponent(component);
  if (selected < 0) return;
  spinToRow(selected + rows, component);
}

void PickerView::setDataSource(PickerViewDataSource* source) {
  dataSource_ = source;
  dataSourceAlive_ = source ? source->lifetime_.watch() : std::weak_ptr<const bool>();
}

void PickerView::setDelegate(PickerViewDelegate* delegate) {
  delegate_ = delegate;
  delegateAlive_ = delegate ? delegate->lifetime_.watch() : std::weak_ptr<const bool>();
}

int PickerView::numberOfComponents() const {
  PickerViewDataSource* source = dataSource();
  return source ? std::max(0, source->numberOfComponentsInPickerView(const_cast<PickerView&>(*this))) : 0;
}

int PickerView::numberOfRowsInComponent(int component) const {
  PickerViewDataSource* source = dataSource();
  if (!source || component < 0 || component >= numberOfComponents()) return 0;
  return std::max(0, source->numberOfRowsInComponent(const_cast<PickerView&>(*this), component));
}

double PickerView::rowHeightForComponent(int component) const {
  if (PickerViewDelegate* d = delegate()) {
    if (auto h = d->rowHeightForComponent(const_cast<PickerView&>(*this), component)) return *h;
  }
  return kDefaultRowHeight;
}

double PickerView::widthForComponent(int component) const {
  if (PickerViewDelegate* d = delegate()) {
    if (auto w = d->widthForComponent(const_cast<PickerView&>(*this), component)) return *w;
  }
  int n = numberOfComponents();
  return n > 0 ? bounds().width() / n : 0;
}

void PickerView::reloadAllComponents() {
  int n = numberOfComponents();
  selected_.resize(static_cast<size_t>(n), 0);
  for (int c = 0; c < n; ++c) reloadComponent(c);
  setNeedsDisplay();
}

void PickerView::reloadComponent(int component) {
  if (component < 0 || component >= static_cast<int>(selected_.size())) return;
  int rows = numberOfRowsInComponent(component);
  selected_[component] = rows == 0 ? 0 : std::clamp(selected_[component], 0, rows - 1);
  setNeedsDisplay();
}

void PickerView::selectRow(int row, int component, bool /*animated*/) {
  if (component < 0) return;
  if (static_cast<int>(selected_.size()) <= component) selected_.resize(component + 1, 0);
  int rows = numberOfRowsInComponent(component);
  selected_[component] = rows == 0 ? 0 : std::clamp(row, 0, rows - 1);
  setNeedsDisplay();
}

int PickerView::selectedRowInComponent(int component) const {
  int rows = numberOfRowsInComponent(component);
  if (rows == 0) return -1;
  int row = component < static_cast<int>(selected_.size()) ? selected_[component] : 0;
  return std::clamp(row, 0, rows - 1);
}

void PickerView::spinToRow(int row, int component) {
  int rows = numberOfRowsInComponent(component);
  if (rows == 0) return;
  selectRow(row, component);
  if (PickerViewDelegate* d = delegate()) d->didSelectRow(*this, selectedRowInComponent(component), component);
}

std::shared_ptr<View> PickerView::viewForRow(int row, int component) {
  PickerViewDelegate* d = delegate();
  if (!d || component < 0) return nullptr;
  if (static_cast<int>(reusable_.size()) <= component) reusable_.resize(component + 1);
  auto view = d->viewForRow(*this, row, component, reusable_[component]);
  if (view) {
    if (view->frame().isEmpty())
      view->setFrame(Rect(0, 0, widthForComponent(component), rowHeightForComponent(component)));
    reusable_[component] = view;
  }
  return view;
}

std::string PickerView::titleForRow(int row, int component) {
  if (PickerViewDelegate* d = delegate()) {
    if (auto title = d->titleForRow(*this, row, component)) return *title;
  }
  if (auto view = viewForRow(row, component)) {
    if (auto* label = dynamic_cast<Label*>(view.get())) return label->text();
  }
  return {};
}

void PickerView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  // The wheels at rest (or as a finger holds one): the selected row in the middle, its neighbours
  // above and below, as many as the picker's height shows.
  Rect b = bounds();
  int n = numberOfComponents();
  canvas.save();
  canvas.clipToRect(b);
  for (int c = 0; c < n; ++c) {
    const Rect column = componentFrame(c);
    double w = column.width();
    double h = rowHeightForComponent(c);
    int rows = numberOfRowsInComponent(c);
    int selected = selectedRowInComponent(c) + (c == dragComponent_ ? dragRows_ : 0);
    double middle = b.midY() - h / 2;
    int reach = static_cast<int>(b.height() / h / 2) + 1;
    for (int offset = -reach; offset <= reach; ++offset) {
      int row = selected + offset;
      if (row < 0 || row >= rows) continue;
      Rect cell(column.x(), middle + offset * h, w, h);
      if (auto view = viewForRow(row, c)) {
        view->setFrame(Rect(0, 0, w, h));
        canvas.save();
        canvas.translate(cell.x(), cell.y());
        if (offset != 0) canvas.setAlpha(0.5);
        renderView(*view, canvas);
        canvas.restore();
      } else {
        std::string title = titleForRow(row, c);
        if (title.empty()) continue;
        Font font = Font::systemFontOfSize(offset == 0 ? 21 : 18);
        canvas.drawText(title, Rect(cell.x(), cell.y() + (h - font.pointSize() * 1.2) / 2, w, h), font,
                        offset == 0 ? Color::black() : Color::white(0.6), TextAlignment::kCenter,
                        LineBreakMode::kTruncateTail);
      }
    }
  }
  canvas.restore();
  if (n > 0) drawSelectionBand(canvas, b, rowHeightForComponent(0));
}

// ----------------------------------------------------------------------------------------- DatePicker

DatePicker::DatePicker() : DatePicker(Rect(0, 0, 320, 216)) {}

DatePicker::DatePicker(const Rect& frame) : Control(frame) {
  WheelDrag::Hooks hooks;
  hooks.wheelAt = [this](Point p) { return isEnabled() ? wheelAtPoint(p) : -1; };
  hooks.rowHeight = [](int) { return PickerView::kDefaultRowHeight; };
  hooks.preview = [this](int wheel, int rows) {
    dragWheel_ = wheel;
    dragRows_ = rows;
    setNeedsDisplay();
  };
  hooks.commit = [this](int wheel, int rows) { turnWheel(wheel, rows); };
  addGestureRecognizer(std::make_shared<WheelDrag>(*this, std::move(hooks)));
}

void DatePicker::setMode(DatePickerMode mode) {
  mode_ = mode;
  setNeedsDisplay();
}

foundation::Date DatePicker::clamp(foundation::Date date) const {
  if (minimum_ && date < *minimum_) date = *minimum_;
  if (maximum_ && date > *maximum_) date = *maximum_;
  return date;
}

void DatePicker::setDate(foundation::Date date, bool /*animated*/) {
  date_ = clamp(date);
  setNeedsDisplay();
}

void DatePicker::setMinimumDate(std::optional<foundation::Date> date) {
  minimum_ = date;
  date_ = clamp(date_);
}

void DatePicker::setMaximumDate(std::optional<foundation::Date> date) {
  maximum_ = date;
  date_ = clamp(date_);
}

void DatePicker::spinToDate(foundation::Date date) {
  if (!isEnabled()) return;
  date_ = clamp(date);
  setNeedsDisplay();
  sendActionsForControlEvents(kControlEventValueChanged);
}

namespace {

using foundation::Calendar;
using foundation::CalendarUnit;
using foundation::DateComponents;
using foundation::DateFormatter;
using Style = foundation::DateFormatterStyle;

constexpr auto kAllUnits = CalendarUnit::Year | CalendarUnit::Month | CalendarUnit::Day | CalendarUnit::Hour |
                           CalendarUnit::Minute | CalendarUnit::Second | CalendarUnit::Nanosecond;

// The styles a screen writes dates and times in, with what each holds.
struct ShownStyle {
  Style date;
  Style time;
};
constexpr ShownStyle kShownStyles[] = {
    {Style::None, Style::Short},  {Style::None, Style::Medium}, {Style::Long, Style::None},
    {Style::Medium, Style::None}, {Style::Short, Style::None},  {Style::Full, Style::None},
    {Style::Medium, Style::Short}, {Style::Long, Style::Short}, {Style::Short, Style::Short},
    {Style::Full, Style::Short},
};

std::string replacedSpaces(std::string_view text, std::string_view with) {
  std::string out;
  for (char c : text) {
    if (c == ' ')
      out += with;
    else
      out += c;
  }
  return out;
}

int wrapped(int value, int count) { return ((value % count) + count) % count; }

std::string_view wheelPattern(DatePicker::Wheel wheel, bool twelveHours) {
  switch (wheel) {
    case DatePicker::Wheel::kDay:
      return "EEE MMM d";
    case DatePicker::Wheel::kMonth:
      return "LLLL";
    case DatePicker::Wheel::kDayOfMonth:
      return "d";
    case DatePicker::Wheel::kYear:
      return "y";
    case DatePicker::Wheel::kHour:
      return twelveHours ? "h" : "HH";
    case DatePicker::Wheel::kMinute:
      return "mm";
    case DatePicker::Wheel::kAmPm:
      return "a";
  }
  return "";
}

}  // namespace

// What the wheels are written and turned with. ICU's pattern generators and formatters cost far
// more to make than a wheel's cell costs to draw, and a screen draws dozens of cells a frame, so a
// picker keeps them for the locale, the current locale (whose week rules its calendar takes) and
// the local zone they were made for, and makes them again as soon as any of those has changed.
struct DatePicker::Writing {
  Writing(foundation::Locale shown, foundation::Locale current, std::uint64_t zone)
      : locale(std::move(shown)),
        calendarLocale(std::move(current)),
        zoneGeneration(zone),
        localZone(foundation::TimeZone::local()),
        calendar(Calendar::gregorian(localZone, calendarLocale)) {
    const auto hours = DateFormatter::dateFormatFromTemplate("j", locale);
    twelveHours = hours && hours->find('a') != std::string::npos;
    // In the locale's order of month, day and year.
    const std::string pattern = DateFormatter::dateFormatFromTemplate("yMMMMd", locale).value_or("MMMM d y");
    std::vector<std::pair<size_t, Wheel>> order{
        {pattern.find('M'), Wheel::kMonth}, {pattern.find('d'), Wheel::kDayOfMonth}, {pattern.find('y'), Wheel::kYear}};
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [at, wheel] : order) dateOrder.push_back(wheel);
  }

  // A wheel's own formatter, made when it is first asked for.
  const DateFormatter& wheelFormatter(Wheel wheel) const {
    auto& made = wheelFormatters[static_cast<size_t>(wheel)];
    if (!made) made = DateFormatter::withPattern(wheelPattern(wheel, twelveHours), locale, localZone);
    return *made;
  }

  // The formatter of the mode's shown text, made when it is first asked for.
  const DateFormatter& shownFormatter(DatePickerMode mode) const {
    auto& made = shownFormatters[static_cast<size_t>(mode)];
    if (made) return *made;
    Style dateStyle = Style::None, timeStyle = Style::None;
    switch (mode) {
      case DatePickerMode::kTime:
      case DatePickerMode::kCountDownTimer:
        timeStyle = Style::Short;
        break;
      case DatePickerMode::kDate:
        dateStyle = Style::Long;
        break;
      case DatePickerMode::kDateAndTime:
        dateStyle = Style::Medium;
        timeStyle = Style::Short;
        break;
    }
    made = DateFormatter::withStyles(dateStyle, timeStyle, locale, localZone);
    return *made;
  }

  foundation::Locale locale;          // the picker's own, else the current one
  foundation::Locale calendarLocale;  // the current one
  std::uint64_t zoneGeneration = 0;   // of the local zone below
  foundation::TimeZone localZone;     // the zone the calendar and formatters are in
  Calendar calendar;
  bool twelveHours = false;
  std::vector<Wheel> dateOrder;
  mutable std::array<std::optional<DateFormatter>, 7> wheelFormatters;
  mutable std::array<std::optional<DateFormatter>, 4> shownFormatters;
};

DatePicker::~DatePicker() = default;

const DatePicker::Writing& DatePicker::writing() const {
  // The generation is read before the zone, so a zone set in between only makes the next call
  // build again.
  const std::uint64_t zone = foundation::TimeZone::localGeneration();
  foundation::Locale current = foundation::Locale::current();
  foundation::Locale shown = locale_.value_or(current);
  if (!writing_ || writing_->zoneGeneration != zone || !(writing_->locale == shown) ||
      !(writing_->calendarLocale == current))
    writing_ = std::make_unique<Writing>(std::move(shown), std::move(current), zone);
  return *writing_;
}

foundation::Locale DatePicker::locale() const { return locale_.value_or(foundation::Locale::current()); }

void DatePicker::setLocale(std::optional<foundation::Locale> locale) {
  locale_ = std::move(locale);
  setNeedsDisplay();
}

std::vector<DatePicker::Wheel> DatePicker::wheels() const { return wheelsIn(writing()); }

std::vector<DatePicker::Wheel> DatePicker::wheelsIn(const Writing& writing) const {
  std::vector<Wheel> time{Wheel::kHour, Wheel::kMinute};
  if (writing.twelveHours) time.push_back(Wheel::kAmPm);
  switch (mode_) {
    case DatePickerMode::kDate:
      return writing.dateOrder;
    case DatePickerMode::kDateAndTime:
      time.insert(time.begin(), Wheel::kDay);
      return time;
    case DatePickerMode::kTime:
    case DatePickerMode::kCountDownTimer:
      return time;
  }
  return time;
}

namespace {

// Where the wheel at `index` of `all` lies: shares of the width, a day or a month needing more than
// a number.
Rect wheelFrameIn(const std::vector<DatePicker::Wheel>& all, int index, const Rect& bounds) {
  if (index < 0 || index >= static_cast<int>(all.size())) return Rect();
  auto share = [](DatePicker::Wheel w) {
    switch (w) {
      case DatePicker::Wheel::kDay:
      case DatePicker::Wheel::kMonth:
        return 2.2;
      case DatePicker::Wheel::kYear:
        return 1.4;
      default:
        return 1.0;
    }
  };
  double total = 0;
  for (DatePicker::Wheel w : all) total += share(w);
  double x = bounds.x();
  for (int i = 0; i < index; ++i) x += bounds.width() * share(all[i]) / total;
  return Rect(x, bounds.y(), bounds.width() * share(all[index]) / total, bounds.height());
}

}  // namespace

Rect DatePicker::wheelFrame(int wheel) const { return wheelFrameIn(wheels(), wheel, bounds()); }

int DatePicker::wheelAtPoint(Point point) const {
  const auto all = wheels();
  for (int i = 0; i < static_cast<int>(all.size()); ++i)
    if (wheelFrameIn(all, i, bounds()).contains(point)) return i;
  return -1;
}

foundation::Date DatePicker::dateAfterTurning(int wheel, int rows) const {
  const Writing& w = writing();
  const auto all = wheelsIn(w);
  if (wheel < 0 || wheel >= static_cast<int>(all.size())) return date_;
  return dateAfterTurning(w, all[wheel], rows);
}

foundation::Date DatePicker::dateAfterTurning(const Writing& writing, Wheel wheel, int rows) const {
  if (rows == 0) return date_;
  const Calendar& calendar = writing.calendar;
  auto parts = calendar.components(kAllUnits, date_);
  if (!parts) return date_;
  DateComponents c = *parts;
  auto monthLength = [&](int year, int month) {
    DateComponents first;
    first.year = year;
    first.month = month;
    first.day = 1;
    auto day = calendar.dateFromComponents(first);
    auto range = day ? calendar.rangeOfDaysInMonth(*day) : std::nullopt;
    return range ? range->count : 31;
  };
  switch (wheel) {
    case Wheel::kDay:
      return calendar.dateByAddingUnit(CalendarUnit::Day, rows, date_).value_or(date_);
    case Wheel::kMonth:
      c.month = wrapped(*c.month - 1 + rows, 12) + 1;
      c.day = std::min(*c.day, monthLength(*c.year, *c.month));
      break;
    case Wheel::kDayOfMonth:
      c.day = wrapped(*c.day - 1 + rows, monthLength(*c.year, *c.month)) + 1;
      break;
    case Wheel::kYear:
      c.year = *c.year + rows;
      c.day = std::min(*c.day, monthLength(*c.year, *c.month));
      break;
    case Wheel::kHour:
      c.hour = writing.twelveHours ? wrapped(*c.hour % 12 + rows, 12) + (*c.hour >= 12 ? 12 : 0)
                                   : wrapped(*c.hour + rows, 24);
      break;
    case Wheel::kMinute:
      c.minute = wrapped(*c.minute + rows, 60);
      break;
    case Wheel::kAmPm: {
      const int half = std::clamp((*c.hour >= 12 ? 1 : 0) + rows, 0, 1);
      c.hour = *c.hour % 12 + half * 12;
      break;
    }
  }
  return calendar.dateFromComponents(c).value_or(date_);
}

std::string DatePicker::wheelText(int wheel, int rows) const {
  const Writing& w = writing();
  const auto all = wheelsIn(w);
  if (wheel < 0 || wheel >= static_cast<int>(all.size())) return {};
  return wheelText(w, all[wheel], rows);
}

std::string DatePicker::wheelText(const Writing& writing, Wheel wheel, int rows) const {
  if (wheel == Wheel::kAmPm) {
    const int half = (writing.calendar.component(CalendarUnit::Hour, date_).value_or(0) >= 12 ? 1 : 0) + rows;
    if (half < 0 || half > 1) return {};
  }
  if (wheel == Wheel::kYear && rows != 0) {
    // A year wheel runs on; no wheel shows years before the first.
    const int year = writing.calendar.component(CalendarUnit::Year, date_).value_or(1);
    if (year + rows < 1) return {};
  }
  return writing.wheelFormatter(wheel).stringFromDate(dateAfterTurning(writing, wheel, rows));
}

void DatePicker::turnWheel(int wheel, int rows) {
  if (!isEnabled() || wheel < 0 || wheel >= static_cast<int>(wheels().size())) return;
  date_ = clamp(dateAfterTurning(wheel, rows));
  setNeedsDisplay();
  sendActionsForControlEvents(kControlEventValueChanged);
}

std::string DatePicker::shownText() const { return writing().shownFormatter(mode_).stringFromDate(date_); }

std::optional<foundation::Date> DatePicker::dateFromText(std::string_view text) const {
  const Calendar calendar = Calendar::current();
  auto current = calendar.components(kAllUnits, date_);
  if (!current) return std::nullopt;
  // Typed blanks stand for the locale's narrow and no-break spaces.
  const std::string candidates[] = {std::string(text), replacedSpaces(text, "\u202F"),
                                    replacedSpaces(text, "\u00A0")};
  for (const auto& style : kShownStyles) {
    const auto formatter = DateFormatter::withStyles(style.date, style.time, locale());
    for (const auto& candidate : candidates) {
      auto read = formatter.dateFromString(candidate);
      if (!read) continue;
      auto got = calendar.components(kAllUnits, *read);
      if (!got) continue;
      DateComponents c = *current;
      if (style.date != Style::None) {
        c.year = got->year;
        c.month = got->month;
        c.day = got->day;
      }
      if (style.time != Style::None) {
        c.hour = got->hour;
        c.minute = got->minute;
        if (style.time != Style::Short) c.second = got->second;
      }
      if (auto date = calendar.dateFromComponents(c)) return date;
    }
  }
  // A screen's own pattern ("Dec 7, 2026  4:19 AM"): a date, then a time after the last blank
  // before the hour's digits, each read on its own.
  const std::string whole(text);
  const size_t colon = whole.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  size_t hourStart = colon;
  while (hourStart > 0 && std::isdigit(static_cast<unsigned char>(whole[hourStart - 1]))) --hourStart;
  if (hourStart == colon || hourStart == 0) return std::nullopt;
  std::string datePart = whole.substr(0, hourStart);
  while (!datePart.empty() && (datePart.back() == ' ' || datePart.back() == ',')) datePart.pop_back();
  const std::string timePart = whole.substr(hourStart);
  if (datePart.empty() || datePart.size() == hourStart) return std::nullopt;
  auto day = dateFromText(datePart);
  if (!day) return std::nullopt;
  DatePicker onThatDay;
  onThatDay.date_ = *day;
  onThatDay.locale_ = locale_;
  auto both = onThatDay.dateFromText(timePart);
  // Only a time may follow: a second date there would be read as one.
  if (!both || calendar.component(CalendarUnit::Day, *both) != calendar.component(CalendarUnit::Day, *day))
    return std::nullopt;
  return both;
}

void DatePicker::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  // Each wheel at rest (or as a finger holds it): the date's part in the middle, the parts a turn
  // would bring above and below.
  const Rect b = bounds();
  const double h = PickerView::kDefaultRowHeight;
  const int reach = static_cast<int>(b.height() / h / 2) + 1;
  const Writing& w = writing();
  const auto all = wheelsIn(w);
  canvas.save();
  canvas.clipToRect(b);
  for (int wheel = 0; wheel < static_cast<int>(all.size()); ++wheel) {
    const Rect column = wheelFrameIn(all, wheel, b);
    const int held = wheel == dragWheel_ ? dragRows_ : 0;
    for (int offset = -reach; offset <= reach; ++offset) {
      const std::string text = wheelText(w, all[wheel], held + offset);
      if (text.empty()) continue;
      const Font font = Font::systemFontOfSize(offset == 0 ? 21 : 18);
      const double y = b.midY() - h / 2 + offset * h + (h - font.pointSize() * 1.2) / 2;
      canvas.drawText(text, Rect(column.x(), y, column.width(), h), font,
                      offset == 0 ? Color::black() : Color::white(0.6), TextAlignment::kCenter,
                      LineBreakMode::kTruncateTail);
    }
  }
  canvas.restore();
  drawSelectionBand(canvas, b, h);
}

}  // namespace ui
