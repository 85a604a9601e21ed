#pragma once
// Pickers: the wheel picker driven by a data source and a delegate, and the date picker. Both keep
// a selection that code sets without callbacks and that a person's turn sets with them: a finger
// dragged up or down a wheel turns it by a row for each row height it travelled (shown while it
// moves, taken when it lifts), and spinToRow / spinToDate / turnWheel do the same from a script.
// Every turn is held inside the picker's limits (the rows a wheel has, the minimum and maximum
// dates) and then reported: the delegate's didSelectRow, the date picker's value-changed action.
// Both draw the selection band: a hairline above and below the middle row.
//
// A wheel's drag is its own: inside a list it is not taken for a scroll (the innermost recogniser
// wins, touch.h); a sideways drag is left to the views around it.

#include <memory>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/locale.h"
#include "platform/ui/controls.h"

namespace ui {

class PickerView;

namespace detail {
// Tells whoever watches it whether its owner still exists. A copy is an object of its own, with a
// lifetime of its own.
class Lifetime {
 public:
  Lifetime() = default;
  Lifetime(const Lifetime&) {}
  Lifetime& operator=(const Lifetime&) { return *this; }
  std::weak_ptr<const bool> watch() const { return alive_; }

 private:
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};
}  // namespace detail

// A picker holds its data source and its delegate weakly, as the platform does: one that has ended
// (its screen gone while the picker is still drawn, sliding away) is as none.
class PickerViewDataSource {
 public:
  virtual ~PickerViewDataSource() = default;
  virtual int numberOfComponentsInPickerView(PickerView& picker) = 0;
  virtual int numberOfRowsInComponent(PickerView& picker, int component) = 0;

 private:
  friend class PickerView;
  detail::Lifetime lifetime_;
};

class PickerViewDelegate {
 public:
  virtual ~PickerViewDelegate() = default;
  // Nothing: the picker's own default.
  virtual std::optional<double> widthForComponent(PickerView& /*picker*/, int /*component*/) {
    return std::nullopt;
  }
  virtual std::optional<double> rowHeightForComponent(PickerView& /*picker*/, int /*component*/) {
    return std::nullopt;
  }
  virtual std::optional<std::string> titleForRow(PickerView& /*picker*/, int /*row*/, int /*component*/) {
    return std::nullopt;
  }
  // A view for the row; `reusing` is the view given for a row of the component before (or null).
  virtual std::shared_ptr<View> viewForRow(PickerView& /*picker*/, int /*row*/, int /*component*/,
                                           std::shared_ptr<View> /*reusing*/) {
    return nullptr;
  }
  virtual void didSelectRow(PickerView& /*picker*/, int /*row*/, int /*component*/) {}

 private:
  friend class PickerView;
  detail::Lifetime lifetime_;
};

class PickerView : public View {
 public:
  static constexpr double kDefaultRowHeight = 32;

  PickerView();
  explicit PickerView(const Rect& frame);

  // Null once the one set has ended.
  PickerViewDataSource* dataSource() const { return dataSourceAlive_.expired() ? nullptr : dataSource_; }
  void setDataSource(PickerViewDataSource* source);
  PickerViewDelegate* delegate() const { return delegateAlive_.expired() ? nullptr : delegate_; }
  void setDelegate(PickerViewDelegate* delegate);
  bool showsSelectionIndicator() const { return showsSelectionIndicator_; }
  void setShowsSelectionIndicator(bool shows) { showsSelectionIndicator_ = shows; }

  // Asked of the data source each time (0 without one).
  int numberOfComponents() const;
  int numberOfRowsInComponent(int component) const;
  double rowHeightForComponent(int component) const;
  double widthForComponent(int component) const;

  // Keeps the selections inside the rows the data source now has and redraws.
  void reloadAllComponents();
  void reloadComponent(int component);
  // From code: no delegate callback. Rows outside the component are held to its last row.
  void selectRow(int row, int component, bool animated = false);
  // -1 for a component without rows or beyond the components.
  int selectedRowInComponent(int component) const;
  // A spin as the user makes it: the row becomes the selection and the delegate hears of it.
  void spinToRow(int row, int component);
  // A turn by `rows` rows from the selection (negative: back up), as a finger makes it.
  void turnComponent(int component, int rows);
  // Where a wheel lies: the wheels side by side, centred across the picker as the platform lays
  // them (their widths from the delegate, else equal shares of the width).
  Rect componentFrame(int component) const;
  // The wheel under a point of the picker; -1 for none.
  int componentAtPoint(Point point) const;

  // The delegate's view for a row (null when it gives none).
  std::shared_ptr<View> viewForRow(int row, int component);
  // The delegate's title for a row, else the text of its row view when that is a label; empty else.
  std::string titleForRow(int row, int component);

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 private:
  PickerViewDataSource* dataSource_ = nullptr;
  std::weak_ptr<const bool> dataSourceAlive_;
  PickerViewDelegate* delegate_ = nullptr;
  std::weak_ptr<const bool> delegateAlive_;
  bool showsSelectionIndicator_ = false;
  std::vector<int> selected_;
  std::vector<std::shared_ptr<View>> reusable_;
  // The wheel a finger turns now and by how many rows so far (drawn, not yet selected).
  int dragComponent_ = -1;
  int dragRows_ = 0;
};

// The platform's date picker modes.
enum class DatePickerMode { kTime = 0, kDate = 1, kDateAndTime = 2, kCountDownTimer = 3 };

class DatePicker : public Control {
 public:
  DatePicker();
  explicit DatePicker(const Rect& frame);
  ~DatePicker() override;

  DatePickerMode mode() const { return mode_; }
  void setMode(DatePickerMode mode);
  // The locale the wheels and the texts are written in (month names, 12 or 24 hours, the order of
  // day and month); the current locale until set. A screen in an interface language of its own
  // gives its locale here. A new locale, current locale or local time zone shows at the next draw.
  foundation::Locale locale() const;
  void setLocale(std::optional<foundation::Locale> locale);
  foundation::Date date() const { return date_; }
  // From code: no value-changed event. The date is held inside the minimum and maximum.
  void setDate(foundation::Date date, bool animated = false);
  const std::optional<foundation::Date>& minimumDate() const { return minimum_; }
  void setMinimumDate(std::optional<foundation::Date> date);
  const std::optional<foundation::Date>& maximumDate() const { return maximum_; }
  void setMaximumDate(std::optional<foundation::Date> date);

  // A spin as the user makes it: the picker shows the date held inside the limits and sends
  // value-changed.
  void spinToDate(foundation::Date date);

  // The date as the picker's mode writes it in the current locale: a short time, a long date, or a
  // medium date with a short time.
  std::string shownText() const;
  // A date or a time as a screen writes one, read against this picker's date: a time alone keeps
  // the picker's day, a date alone keeps its time of day. The blanks of the locale's formats (a
  // narrow no-break space before "AM") may be typed as plain spaces. Nothing when the text is no
  // date; the limits are not applied here.
  std::optional<foundation::Date> dateFromText(std::string_view text) const;

  // The wheels of the mode, left to right as the locale orders them.
  enum class Wheel { kDay, kMonth, kDayOfMonth, kYear, kHour, kMinute, kAmPm };
  std::vector<Wheel> wheels() const;
  Rect wheelFrame(int wheel) const;
  int wheelAtPoint(Point point) const;
  // The date a turn of a wheel by `rows` rows gives, before the limits: the month, day-of-month,
  // hour and minute wheels go round (an hour wheel of 12 keeps the half of the day); the day wheel
  // and the year wheel run on; the AM/PM wheel has two rows.
  foundation::Date dateAfterTurning(int wheel, int rows) const;
  // What a wheel shows `rows` rows from its selection; empty past the end of a wheel.
  std::string wheelText(int wheel, int rows) const;
  // A turn as a person makes it: the date moves, held inside the limits, and value-changed is sent
  // (also when the limits hold it where it was).
  void turnWheel(int wheel, int rows);

  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 private:
  // What the wheels are written and turned with in the locale and the local zone in force.
  struct Writing;
  const Writing& writing() const;
  std::vector<Wheel> wheelsIn(const Writing& writing) const;
  foundation::Date dateAfterTurning(const Writing& writing, Wheel wheel, int rows) const;
  std::string wheelText(const Writing& writing, Wheel wheel, int rows) const;

  foundation::Date clamp(foundation::Date date) const;
  std::optional<foundation::Locale> locale_;
  // Made on first use and made again when the locale, the current locale or the local zone it was
  // made for has changed; never shared with another picker.
  mutable std::unique_ptr<Writing> writing_;
  int dragWheel_ = -1;
  int dragRows_ = 0;

  DatePickerMode mode_ = DatePickerMode::kDateAndTime;
  foundation::Date date_;
  std::optional<foundation::Date> minimum_;
  std::optional<foundation::Date> maximum_;
};

}  // namespace ui
