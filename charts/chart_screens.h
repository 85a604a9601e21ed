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

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/note_edit_helper.h"
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
  void drawRect(graphics::Canvas& canvas, const ui::Rect& rect) override;

 private:
  std::vector<std::string> rowTypes() const;
  std::vector<DaySpan> spans_;
  foundation::Date dayStart_;
  std::function<std::string(const std::string&)> typeTitle_;
};

class graphicsViewController : public ui::ViewController {
 public:
  explicit graphicsViewController(app::NoteEditHelper helper = {});

  void setNoteView_delegate(note_editor::noteViewDelegate* delegate) { noteView_delegate_ = delegate; }
  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }

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
  note_editor::noteViewDelegate* noteView_delegate_ = nullptr;
  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
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
  foundation::Date dayStart_;
  std::shared_ptr<ui::Label> dayLabel_;
  std::shared_ptr<ui::Button> previousButton_;
  std::shared_ptr<ui::Button> nextButton_;
  std::shared_ptr<DayStripView> strip_;
};

// Registers "graphicsViewController" and "DayTrackController" (each alone), and the segues
// "graphicsSegue" and "showDayTrackSegue" (each to a navigation controller holding the screen).
void registerChartScreens(ui::Storyboard& storyboard);

}  // namespace charts
