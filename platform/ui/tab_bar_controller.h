#pragma once
// A tab-bar controller: one tab per child screen along the bottom, the selected child's view above.
//
// A tap on a tab (tapTab, or a tap on its button) asks the delegate whether the screen may be
// selected, selects it and tells the delegate; selecting from code (setSelectedIndex) tells nobody,
// as on the platform. The user may reorder the tabs (customizeViewControllers): the delegate hears
// the start and, with whether the order changed, the end.
//
// Owns its children, like every container; the delegate is a plain pointer kept in a DelegateSlot so
// that whoever stands between the controller and its delegate can follow a replacement.

#include <memory>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/view_controller.h"

namespace ui {

class TabBarController;

class TabBarControllerDelegate {
 public:
  using Screens = std::vector<std::shared_ptr<ViewController>>;
  virtual ~TabBarControllerDelegate() = default;
  virtual bool tabBarControllerShouldSelectViewController(TabBarController& /*tabs*/,
                                                          ViewController& /*screen*/) {
    return true;
  }
  virtual void tabBarControllerDidSelectViewController(TabBarController& /*tabs*/,
                                                       ViewController& /*screen*/) {}
  virtual void tabBarControllerWillBeginCustomizingViewControllers(TabBarController& /*tabs*/,
                                                                   const Screens& /*screens*/) {}
  virtual void tabBarControllerWillEndCustomizingViewControllers(TabBarController& /*tabs*/,
                                                                 const Screens& /*screens*/,
                                                                 bool /*changed*/) {}
  virtual void tabBarControllerDidEndCustomizingViewControllers(TabBarController& /*tabs*/,
                                                                const Screens& /*screens*/,
                                                                bool /*changed*/) {}
};

class TabBarController : public ViewController {
 public:
  static constexpr double kTabBarHeight = 49;

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
    return childViewControllers();
  }
  // The first screen is selected (or the one selected before, when it stays).
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers);
  // -1 without screens.
  int selectedIndex() const { return selected_; }
  ViewController* selectedViewController() const;
  // From code: nobody is told. An index out of range changes nothing.
  void setSelectedIndex(int index);
  // The user's tap on a tab: false when the index is out of range or the delegate refused. A tap on
  // the selected tab is reported too.
  bool tapTab(int index);
  // The user reorders the tabs; false (and nothing is told) unless `order` holds the same screens.
  bool customizeViewControllers(std::vector<std::shared_ptr<ViewController>> order);

  TabBarControllerDelegate* delegate() const { return delegate_.get(); }
  void setDelegate(TabBarControllerDelegate* delegate) { delegate_.set(delegate); }
  DelegateSlot<TabBarControllerDelegate>& delegateSlot() { return delegate_; }

  // The bar's tab buttons, in the order of the screens (titled by the screens' titles).
  const std::vector<std::shared_ptr<Button>>& tabButtons();

  void loadView() override;

 protected:
  std::vector<ViewController*> appearanceChildren() override;

 private:
  void select(int index);
  void layoutContent();
  void rebuildTabs();

  int selected_ = -1;
  std::shared_ptr<View> bar_;
  std::vector<std::shared_ptr<Button>> tabs_;
  DelegateSlot<TabBarControllerDelegate> delegate_;
};

}  // namespace ui
