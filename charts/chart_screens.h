#pragma once
// The two chart screens the main screens open:
//
//   graphicsViewController  the growth graph: one growth type at a time (a segment per type),
//                           the baby's measures over time in the type's current unit
//   DayTrackController      the day track: one day's notes on a 24-hour strip, a row per type,
//                           with buttons for the day before and after
//
// Each draws itself with the platform canvas. Back: on the tablet the screen tells its
// noteView_delegate noteViewChildDone(self, NO) (the opener dismisses it); on the phone it pops
// its navigation controller. Main thread only; the context and baby come from the application
// delegate when the opener gives none.
//
// A `local_ID` set before the view loads fixes what the screenshot mode shows: the growth graph
// its first type, the day track the day of the baby's latest note (its sample notes lie months
// back). Opening the growth graph logs the analytics event "graphics".

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
#include "app/settings_records.h"
#include "charts/chart_data.h"
#include "note_editor/note_view_delegate.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/store/context.h"
#include "platform/ui/controls.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view_controller.h"

namespace charts {

inline constexpr const char* kGraphicsId = "graphicsViewController";
inline constexpr const char* kGraphicsSegue = "graphicsSegue";
inline constexpr const char* kDayTrackId = "DayTrackController";
inline constexpr const char* kDayTrackSegue = "showDayTrackSegue";
// The two charts, each the top screen of a navigation controller of its own.
inline constexpr const char* kGraphicsNavigationId = "graphics_navigation_id";
inline constexpr const char* kDayTrackNavigationId = "day_track_navigation_id";

// The plot of a growth series: axes, a line through the points and a dot at each.
class GrowthPlotView : public ui::View {
 public:
  void setSeries(GrowthSeries series);
  const GrowthSeries& series() const { return series_; }
  void setEmptyText(std::string text) { emptyText_ = std::move(text); }
  // Where a point is drawn, in the view's coordinates (for hit tests and tests).
  ui::Point pointFor(const GrowthPoint& point) const;
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;

 private:
  ui::Rect plotRect() const;
  GrowthSeries series_;
  std::string emptyText_;
};

// A day's spans on 24 columns of hours, one row per type in the order of first appearance.
class DayStripView : public ui::View {
 public:
  void setSpans(std::vector<DaySpan> spans, foundation::Date dayStart);
  const std::vector<DaySpan>& spans() const { return spans_; }
  void setTypeTitle(std::function<std::string(const std::string&)> title) { typeTitle_ = std::move(title); }
  // The rectangle a span takes, in the view's coordinates.
  ui::Rect rectFor(const DaySpan& span) const;
  // Where the name of the row's type is written, in the view's coordinates.
  ui::Rect titleRect(std::size_t row) const;
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;
  // The rows' type names, as written.
  std::vector<AccessibilityElement> accessibilityElements() const override;

 private:
  struct TitleLayout {
    double width;     // of the names' column
    double fontSize;  // of every name
    bool twoLines;    // a name still too long wraps
  };
  TitleLayout titleLayout() const;
  std::string titleOf(const std::string& type) const;
  std::vector<std::string> rowTypes() const;
  std::vector<DaySpan> spans_;
  foundation::Date dayStart_;
  std::function<std::string(const std::string&)> typeTitle_;
};

class graphicsViewController : public ui::ViewController {
 public:
  // `logEvent` takes the analytics event of the opening; the analytics SDK's when empty.
  explicit graphicsViewController(app::NoteEditHelper helper = {}, app::AnalyticsEventSink logEvent = nullptr);

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setLocal_ID(std::optional<std::string> id) { local_ID_ = std::move(id); }
  const std::optional<std::string>& local_ID() const { return local_ID_; }
  // The index of the type shown.
  int typeIndex() const { return typeIndex_; }

  // The growth types, one per segment.
  const std::vector<std::string>& types() const { return types_; }
  // The type choosers: one row of every type, or two rows of half as many when a name would not
  // fit its segment (the longer languages on a phone). Choosing in one row clears the other.
  const std::vector<std::shared_ptr<ui::SegmentedControl>>& typeRows() const { return typeRows_; }
  GrowthPlotView& plot() { return *plot_; }
  // Shows the type at the index; reads the store again.
  void showTypeAtIndex(int index);

  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillLayoutSubviews() override;

 private:
  app::NoteEditHelper helper_;
  app::AnalyticsEventSink logEvent_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  std::optional<std::string> local_ID_;
  std::vector<std::string> types_;
  int typeIndex_ = 0;
  void layoutTypeRows(double width);
  std::vector<std::shared_ptr<ui::SegmentedControl>> typeRows_;
  std::shared_ptr<GrowthPlotView> plot_;
};

class DayTrackController : public ui::ViewController {
 public:
  // `clock` (must outlive the screen) gives today; the main run loop's clock when null.
  explicit DayTrackController(app::NoteEditHelper helper = {}, const foundation::Clock* clock = nullptr,
                              foundation::Calendar calendar = foundation::Calendar::current());

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  void setLocal_ID(std::optional<std::string> id) { local_ID_ = std::move(id); }
  const std::optional<std::string>& local_ID() const { return local_ID_; }

  // The start of the day shown (local midnight).
  foundation::Date dayStart() const { return dayStart_; }
  DayStripView& strip() { return *strip_; }
  ui::Label& dayLabel() { return *dayLabel_; }
  void showDay(foundation::Date day);
  void previousDay();
  void nextDay();

  void back();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillLayoutSubviews() override;

 private:
  void reload();

  app::NoteEditHelper helper_;
  const foundation::Clock* clock_;
  foundation::Calendar calendar_;
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  std::optional<std::string> local_ID_;
  foundation::Date dayStart_;
  std::shared_ptr<ui::Label> dayLabel_;
  std::shared_ptr<ui::Button> previousButton_;
  std::shared_ptr<ui::Button> nextButton_;
  std::shared_ptr<DayStripView> strip_;
};

// Registers "graphicsViewController", "DayTrackController" and "sumChartController" (each alone),
// "graphics_navigation_id", "day_track_navigation_id" and "sum_chart_navigation_id" (each a
// navigation controller holding its chart), the segues "graphicsSegue", "showDayTrackSegue" and
// "summaryChartSegue" (to those), and the side menu's segue to the summary chart (pushed).
void registerChartScreens(ui::Storyboard& storyboard);

}  // namespace charts
