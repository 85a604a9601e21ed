#pragma once
// The summary chart: for the current baby, one note type at a time (stepped through with "<" and
// ">" among the types the baby has notes of, in the user's order) and one of the measures the type
// offers (a segment each: count, hours, its unit), a bar per day that has notes, the latest days
// that fit the width, each bar with its total above and its date below.
//
// Opened from the phone's side menu (pushed) and from the tablet's panel ("summaryChartSegue", in
// its navigation controller "sum_chart_navigation_id"); it takes the context and the baby from the
// application delegate when the opener hands none. Back pops it off a navigation stack, or
// dismisses it when it is the first screen of its own. A `local_ID` set before the view loads
// fixes what the screenshot mode shows: the first type and its first measure, whatever was chosen
// before. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/settings_records.h"
#include "charts/chart_data.h"
#include "platform/foundation/calendar.h"
#include "platform/store/context.h"
#include "platform/ui/controls.h"
#include "platform/ui/view_controller.h"

namespace charts {

inline constexpr const char* kSumChartId = "sumChartController";
inline constexpr const char* kSumChartNavigationId = "sum_chart_navigation_id";
inline constexpr const char* kSumChartSegue = "summaryChartSegue";

// Bars of a type's totals per day; the texts it draws are also its accessibility elements, so a
// person's `look` reads the totals and the dates.
class SumBarsView : public ui::View {
 public:
  // `valueText` writes a total, `dayText` a day.
  void setSeries(SumSeries series, std::function<std::string(double)> valueText,
                 std::function<std::string(foundation::Date)> dayText);
  const SumSeries& series() const { return series_; }
  void setEmptyText(std::string text) { emptyText_ = std::move(text); }
  // The days drawn: the latest that fit the width, oldest first.
  std::vector<DaySum> shownDays() const;
  // The bar of a shown day, in the view's coordinates.
  ui::Rect barRect(std::size_t shownIndex) const;
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;
  std::vector<AccessibilityElement> accessibilityElements() const override;

 private:
  struct Text {
    std::string text;
    ui::Rect rect;
  };
  std::vector<Text> texts() const;
  double slotWidth() const;

  SumSeries series_;
  std::string emptyText_;
  std::function<std::string(double)> valueText_;
  std::function<std::string(foundation::Date)> dayText_;
};

class sumChartController : public ui::ViewController {
 public:
  explicit sumChartController(app::NoteEditHelper helper = {},
                              foundation::Calendar calendar = foundation::Calendar::current(),
                              app::AnalyticsEventSink logEvent = nullptr);

  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setLocal_ID(std::optional<std::string> id) { local_ID_ = std::move(id); }
  const std::optional<std::string>& local_ID() const { return local_ID_; }

  // The types offered (those the baby has notes of) and the one shown.
  const std::vector<std::string>& types() const { return types_; }
  const std::optional<std::string>& type() const { return type_; }
  // The measures of the shown type, one segment each.
  const std::vector<std::string>& measures() const { return measures_; }
  SumBarsView& bars() { return *bars_; }
  ui::SegmentedControl& measureSegment() { return *measureSegment_; }

  void showType(const std::string& type);
  void previousType();
  void nextType();
  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillLayoutSubviews() override;

 private:
  void readTypes();
  void reload();
  void stepType(int by);

  app::NoteEditHelper helper_;
  foundation::Calendar calendar_;
  app::AnalyticsEventSink logEvent_;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  std::optional<std::string> local_ID_;
  std::vector<std::string> types_;
  std::optional<std::string> type_;
  std::vector<std::string> measures_;
  int measureIndex_ = 0;
  std::shared_ptr<ui::Button> previousButton_;
  std::shared_ptr<ui::Button> nextButton_;
  std::shared_ptr<ui::Label> typeLabel_;
  std::shared_ptr<ui::SegmentedControl> measureSegment_;
  std::shared_ptr<SumBarsView> bars_;
};

}  // namespace charts
