#pragma once
// The tooth chart screen: the current baby's 20 teeth as spots, each in the colour of its state (not
// appeared, appeared, lost). A touch inside a spot's touch area asks for the date of the tooth's next
// event on a date wheel: its appearance for a tooth not yet there, its loss for an appeared one (no
// earlier than the appearance); a lost tooth takes no more events. "Done" under the wheel records the
// event (TeethRecords) and the spot changes colour; "Cancel" records nothing.
//
// Reached from the phone's side menu (pushed) and from the tablet's panel ("teethSegue", a form sheet
// with nothing handed over): a screen given no context or baby takes the application's when it
// loads. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "babies/teeth.h"
#include "babies/tooth_spot_info.h"
#include "platform/foundation/clock.h"
#include "platform/store/context.h"
#include "platform/ui/controls.h"
#include "platform/ui/picker_view.h"
#include "platform/ui/view_controller.h"

namespace babies {

inline constexpr const char* kTeethId = "teethViewController";
inline constexpr const char* kTeethNavId = "teethViewController_nav";
inline constexpr const char* kTeethSegue = "teethSegue";

// Told which spot a touch fell in.
class teethViewDelegate {
 public:
  virtual ~teethViewDelegate() = default;
  virtual void toothWasTouched(int num) = 0;
};

// The drawn chart, kChartWidth by kChartHeight points. Each spot is also an accessibility element
// labelled "tooth N" (N = tooth number + 1), so that it can be found and reached by name.
class teethChartView : public ui::View {
 public:
  explicit teethChartView(const graphics::Rect& frame);

  teethViewDelegate* teethView_delegate = nullptr;
  const std::vector<toothSpotInfo>& spots() const { return spots_; }
  // The spots' states from the baby's records.
  void showTeeth(const std::vector<app::Tooth>& teeth);
  // While a tooth waits for its date, its spot shows the state the event gives it (1 appeared, 2
  // lost), so the parent sees which tooth the wheel asks about; none: every spot as recorded.
  void setPendingTooth(std::optional<int> num, int state = 0);

  void drawRect(graphics::Canvas& canvas, const graphics::Rect& rect) override;
  void touchesEnded(const ui::TouchSet& touches) override;
  std::vector<AccessibilityElement> accessibilityElements() const override;

  // The tooth whose touch area holds the point (the last drawn first), or none.
  std::optional<int> checkPoint(graphics::Point point) const;

 private:
  std::vector<toothSpotInfo> spots_;
  std::optional<int> pending_;
  int pendingState_ = 0;
};

class teethViewController : public ui::ViewController, public teethViewDelegate {
 public:
  teethViewController();

  void setManagedObjectContext(std::shared_ptr<store::Context> context) { context_ = std::move(context); }
  void setCurrentBabyName(std::optional<std::string> name) { currentBabyName_ = std::move(name); }
  // Today, the latest date the wheel offers; the main run loop's clock when not given. Must outlive
  // the screen.
  void setClock(const foundation::Clock* clock) { clock_ = clock; }

  teethChartView& chart() { return *chart_; }
  ui::DatePicker& datePicker() { return *datePicker_; }
  // The tooth whose date the wheel asks for, while it shows.
  std::optional<int> pendingTooth() const { return pendingTooth_; }

  // Reads the baby's teeth again and redraws.
  void reload();
  void toothWasTouched(int num) override;
  // Under the wheel: record the event on the wheel's date, or not.
  void recordPendingTooth();
  void cancelPendingTooth();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

 private:
  TeethRecords records() const { return TeethRecords(context_, currentBabyName_); }
  void showPanel(bool shown);
  // The panel along the bottom with the chart at the top, or, for a tooth of the lower jaw, the
  // panel at the top with the chart as low as the view allows, so the tooth asked about shows.
  void placePanelAndChart();

  std::shared_ptr<store::Context> context_;
  std::optional<std::string> currentBabyName_;
  const foundation::Clock* clock_ = nullptr;
  std::shared_ptr<ui::BarButtonItem> doneItem_;
  std::shared_ptr<teethChartView> chart_;
  std::shared_ptr<ui::View> panel_;
  std::shared_ptr<ui::Label> panelTitle_;
  std::shared_ptr<ui::DatePicker> datePicker_;
  std::optional<int> pendingTooth_;
};

// Registers "teethViewController", the same in a navigation controller, the phone's side-menu segue
// navigation::kTeethSidebarShow (pushed) and the tablet's "teethSegue" (a form sheet).
void registerTeethScreens(ui::Storyboard& storyboard);

}  // namespace babies
