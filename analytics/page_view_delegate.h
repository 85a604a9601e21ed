#pragma once
// Page views the SDK counts by itself: a proxy stands in front of a navigation or tab-bar
// controller's delegate, passes every message on to the delegate that was there before, and counts
// one page view when the navigation controller has shown a screen or the user has selected a tab
// (the session counts views more than 0.3 seconds apart only).
//
//   TallyPageViewDelegate     (Tally::logAllPageViewsForTarget) keeps the controller alive, follows
//                             every later replacement of its delegate (staying in front of the new
//                             one) and is removed again by destroyDelegateOnTarget.
//   TallyPageViewDelegateOld  (Tally::logAllPageViews) is installed once and stays for the process; a
//                             later replacement of the controller's delegate takes its place.
//
// Installing twice on one controller stacks two proxies, each counting. A proxy never puts itself in
// front of a chain that already passes through it, so two following proxies cannot end up passing
// messages to each other for ever.
//
// Main thread only (delegate messages arrive there); only the count moves to the session queue. The
// delegates passed on to are not owned: the application keeps them alive while they are set.

#include <memory>
#include <string>

#include "platform/ui/tab_bar_controller.h"
#include "platform/ui/view_controller.h"

namespace analytics {

// What both proxies do with a message: pass it on, log it, count it.
class TallyPageViewProxy : public ui::NavigationControllerDelegate, public ui::TabBarControllerDelegate {
 public:
  // The delegate messages are passed on to.
  ui::NavigationControllerDelegate* navigationDelegate() const { return navigationDelegate_; }
  ui::TabBarControllerDelegate* tabBarDelegate() const { return tabBarDelegate_; }
  // A proxy further down this one's chain goes: this one passes on to what it passed on to.
  void passOnPast(const TallyPageViewProxy& gone);

  void navigationControllerWillShowViewController(ui::NavigationController& navigation,
                                                  ui::ViewController& shown, bool animated) override;
  void navigationControllerDidShowViewController(ui::NavigationController& navigation,
                                                 ui::ViewController& shown, bool animated) override;
  bool tabBarControllerShouldSelectViewController(ui::TabBarController& tabs,
                                                  ui::ViewController& screen) override;
  void tabBarControllerDidSelectViewController(ui::TabBarController& tabs,
                                               ui::ViewController& screen) override;
  void tabBarControllerWillBeginCustomizingViewControllers(ui::TabBarController& tabs,
                                                           const Screens& screens) override;
  void tabBarControllerWillEndCustomizingViewControllers(ui::TabBarController& tabs, const Screens& screens,
                                                         bool changed) override;
  void tabBarControllerDidEndCustomizingViewControllers(ui::TabBarController& tabs, const Screens& screens,
                                                        bool changed) override;

 protected:
  explicit TallyPageViewProxy(std::string className) : className_(std::move(className)) {}
  // Takes the controller's delegate as the one to pass on to and puts this proxy in its place.
  void installOn(ui::ViewController& target);
  // Whether the chain of proxies starting at `first` passes through this one.
  bool chainReachesThis(const TallyPageViewProxy* first, bool navigation) const;
  std::string savedDelegateDescription() const;

  std::string className_;
  ui::NavigationControllerDelegate* navigationDelegate_ = nullptr;
  ui::TabBarControllerDelegate* tabBarDelegate_ = nullptr;
};

class TallyPageViewDelegate : public TallyPageViewProxy {
 public:
  // Nothing unless the controller is a navigation or tab-bar controller.
  static void createDelegateOnTarget(const std::shared_ptr<ui::ViewController>& target);
  // The first proxy on the controller gives the controller its saved delegate back and goes; nothing
  // for null or a controller without one.
  static void destroyDelegateOnTarget(const ui::ViewController* target);

  explicit TallyPageViewDelegate(std::shared_ptr<ui::ViewController> target);
  ~TallyPageViewDelegate() override;
  TallyPageViewDelegate(const TallyPageViewDelegate&) = delete;
  TallyPageViewDelegate& operator=(const TallyPageViewDelegate&) = delete;

  const std::shared_ptr<ui::ViewController>& target() const { return target_; }

 private:
  void stopObserving();

  std::shared_ptr<ui::ViewController> target_;
  int observation_ = 0;
};

class TallyPageViewDelegateOld : public TallyPageViewProxy {
 public:
  // Nothing unless the controller is a navigation or tab-bar controller.
  static void createDelegateOnTarget(const std::shared_ptr<ui::ViewController>& target);

  explicit TallyPageViewDelegateOld(ui::ViewController& target);
};

}  // namespace analytics
