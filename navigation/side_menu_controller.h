#pragma once
// The phone's root: a side-menu container with the sidebar menu behind (rear) and the notes list
// in its navigation controller in front. Revealing the menu slides the front screen to the right
// and shows the front screen's `transparentView`, which keeps the list from taking touches until
// the front comes back:
//
//   front shown  --revealToggle / drag right-->  rear shown (front at x = kRearRevealWidth)
//   rear shown   --revealToggle / drag left--->  front shown
//
// The sidebar lists the screens the storyboard can make (a row per registered segue) and shows
// the chosen one over the front screen. Opening the growth graph from it moves the first-use
// tutorial from step 1 to 2 and posts "updateTutorial". Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "navigation/note_type_chooser.h"
#include "platform/ui/gesture.h"
#include "platform/ui/table_view.h"
#include "platform/ui/view_controller.h"

namespace navigation {

// Posted (no object) after the sidebar moved the tutorial on.
inline constexpr const char* kUpdateTutorialNotification = "updateTutorial";
// The sidebar's segue to the growth graph.
inline constexpr const char* kGrowGraphSidebarShow = "grow_graph_sidebar_show";
// The sidebar's segue to the tooth chart.
inline constexpr const char* kTeethSidebarShow = "teeth_sidebar_show";
// The sidebar's segue to the summary chart, and the text key of its row.
inline constexpr const char* kSumChartSidebarShow = "sum_chart_sidebar_show";
inline constexpr const char* kSumChartSidebarTitle = "Summary Chart";

// What the container reads of its front screen (or of the top screen of a front navigation
// controller).
class SideMenuFrontScreen {
 public:
  virtual ~SideMenuFrontScreen() = default;
  // Shown while the menu is revealed; may be null.
  virtual ui::View* transparentView() const = 0;
};

class SideMenuController : public ui::ViewController {
 public:
  // How far the front screen moves right while the menu shows.
  static constexpr double kRearRevealWidth = 260;

  SideMenuController(std::shared_ptr<ui::ViewController> rear, std::shared_ptr<ui::ViewController> front);

  const std::shared_ptr<ui::ViewController>& rearViewController() const { return rear_; }
  const std::shared_ptr<ui::ViewController>& frontViewController() const { return front_; }
  bool isRearShown() const { return rearShown_; }

  // Opens the menu when the front screen shows and closes it when the menu shows, animated.
  void revealToggle();
  // Shows the menu (YES) or the front screen (NO).
  void setRearShown(bool shown, bool animated);
  // The drag recogniser, made on first request; a front screen adds it to its own view so that a
  // horizontal drag moves the menu.
  const std::shared_ptr<ui::PanGestureRecognizer>& panGestureRecognizer();

  void loadView() override;
  void viewDidLayoutSubviews() override;

 private:
  void handlePan(ui::PanGestureRecognizer& pan);
  void placeFront(double x);
  void updateTransparentView();

  std::shared_ptr<ui::ViewController> rear_;
  std::shared_ptr<ui::ViewController> front_;
  std::shared_ptr<ui::PanGestureRecognizer> pan_;
  bool rearShown_ = false;
  double panStartX_ = 0;
};

// The nearest enclosing side-menu container of `controller` (itself included), walking up the
// parents; null outside one.
SideMenuController* revealViewController(const ui::ViewController& controller);

// One row of the sidebar: the text key of its title and the segue it performs.
struct SidebarItem {
  std::string titleKey;
  std::string segueIdentifier;
};

class sidebarMenuController : public ui::ViewController,
                              public ui::TableViewDataSource,
                              public ui::TableViewDelegate {
 public:
  // Called with each destination before it shows (hand it the context, the baby, a delegate).
  using Prepare = std::function<void(const std::string& segue, ui::ViewController& destination)>;

  sidebarMenuController(ChooserServices services, std::vector<SidebarItem> items, Prepare prepare = {});

  // The rows shown: the items whose segue and destination the storyboard knows.
  const std::vector<SidebarItem>& rows() const { return rows_; }
  ui::TableView* table() const { return table_.get(); }

  // Shows the destination of the row's segue over the front screen and closes the menu: a
  // navigation controller is presented, any other screen is pushed on the front navigation
  // controller. A segue whose destination cannot be made leaves everything as it is.
  void openRow(std::size_t row);

  void viewDidLoad() override;
  // Each time the menu is revealed: its rows in the language now in force.
  void viewWillAppear(bool animated) override;
  int numberOfRowsInSection(ui::TableView& table, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table,
                                                           const ui::IndexPath& path) override;
  void didSelectRowAtIndexPath(ui::TableView& table, const ui::IndexPath& path) override;

 private:
  ChooserServices services_;
  std::vector<SidebarItem> items_;
  std::vector<SidebarItem> rows_;
  Prepare prepare_;
  std::shared_ptr<ui::TableView> table_;
};

}  // namespace navigation
