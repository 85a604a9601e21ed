#include "analytics/page_view_delegate.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "analytics/session_sink.h"
#include "analytics/tally_util.h"

namespace analytics {
namespace {

using foundation::Value;

// The proxies live as long as the process may send them messages: never destroyed at exit.
std::vector<std::unique_ptr<TallyPageViewDelegate>>& proxies() {
  static auto* list = new std::vector<std::unique_ptr<TallyPageViewDelegate>>();
  return *list;
}
std::vector<std::unique_ptr<TallyPageViewDelegateOld>>& oldProxies() {
  static auto* list = new std::vector<std::unique_ptr<TallyPageViewDelegateOld>>();
  return *list;
}

std::string describe(const void* object) {
  if (!object) return "(null)";
  char text[32];
  std::snprintf(text, sizeof text, "%p", object);
  return text;
}

std::string describe(const ui::ViewController& screen) {
  if (!screen.storyboardIdentifier().empty()) return screen.storyboardIdentifier();
  if (!screen.title().empty()) return screen.title();
  return describe(static_cast<const void*>(&screen));
}

std::string describe(const std::vector<std::shared_ptr<ui::ViewController>>& screens) {
  std::string text = "(";
  for (size_t i = 0; i < screens.size(); ++i) text += (i ? ", " : "") + describe(*screens[i]);
  return text + ")";
}

const TallyPageViewProxy* asProxy(const ui::NavigationControllerDelegate* d) {
  return dynamic_cast<const TallyPageViewProxy*>(d);
}
const TallyPageViewProxy* asProxy(const ui::TabBarControllerDelegate* d) {
  return dynamic_cast<const TallyPageViewProxy*>(d);
}

bool isPageViewTarget(const ui::ViewController* target) {
  return dynamic_cast<const ui::NavigationController*>(target) ||
         dynamic_cast<const ui::TabBarController*>(target);
}

void countPageView() {
  if (auto session = CurrentSession::get()) session->maybeIncrementPageView();
}

}  // namespace

// ---- Passing on, logging, counting

void TallyPageViewProxy::navigationControllerDidShowViewController(ui::NavigationController& navigation,
                                                                   ui::ViewController& shown, bool animated) {
  TallyUtil::guarded([&] {
    if (navigationDelegate_)
      navigationDelegate_->navigationControllerDidShowViewController(navigation, shown, animated);
    TallyUtil::log(2, className_ + ": Navigation View [%@], incremented pageViewCount",
                   {describe(navigation)});
    countPageView();
  });
}

void TallyPageViewProxy::navigationControllerWillShowViewController(ui::NavigationController& navigation,
                                                                    ui::ViewController& shown,
                                                                    bool animated) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ": navigation controller [%@], view controller [%@], animated [%d]",
                   {describe(navigation), describe(shown), Value(animated ? 1 : 0)});
    if (navigationDelegate_)
      navigationDelegate_->navigationControllerWillShowViewController(navigation, shown, animated);
  });
}

bool TallyPageViewProxy::tabBarControllerShouldSelectViewController(ui::TabBarController& tabs,
                                                                    ui::ViewController& screen) {
  bool answer = true;
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ": tabbar controller [%@] view controller [%@]",
                   {describe(tabs), describe(screen)});
    if (tabBarDelegate_) answer = tabBarDelegate_->tabBarControllerShouldSelectViewController(tabs, screen);
  });
  return answer;
}

void TallyPageViewProxy::tabBarControllerDidSelectViewController(ui::TabBarController& tabs,
                                                                 ui::ViewController& screen) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ":  tabBarController [%@], viewController [%@], incremented pageViewCount",
                   {describe(tabs), describe(screen)});
    if (tabBarDelegate_) tabBarDelegate_->tabBarControllerDidSelectViewController(tabs, screen);
    countPageView();
  });
}

void TallyPageViewProxy::tabBarControllerWillBeginCustomizingViewControllers(ui::TabBarController& tabs,
                                                                             const Screens& screens) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ": tabBarController [%@], viewController [%@]",
                   {describe(tabs), describe(screens)});
    if (tabBarDelegate_) tabBarDelegate_->tabBarControllerWillBeginCustomizingViewControllers(tabs, screens);
  });
}

void TallyPageViewProxy::tabBarControllerWillEndCustomizingViewControllers(ui::TabBarController& tabs,
                                                                           const Screens& screens,
                                                                           bool changed) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ": tabBarController [%@], viewController [%@], changed [%d]",
                   {describe(tabs), describe(screens), Value(changed ? 1 : 0)});
    if (tabBarDelegate_)
      tabBarDelegate_->tabBarControllerWillEndCustomizingViewControllers(tabs, screens, changed);
  });
}

void TallyPageViewProxy::tabBarControllerDidEndCustomizingViewControllers(ui::TabBarController& tabs,
                                                                          const Screens& screens,
                                                                          bool changed) {
  TallyUtil::guarded([&] {
    TallyUtil::log(2, className_ + ": tabBarController [%@], viewControllers [%@], changed [%d]",
                   {describe(tabs), describe(screens), Value(changed ? 1 : 0)});
    if (tabBarDelegate_)
      tabBarDelegate_->tabBarControllerDidEndCustomizingViewControllers(tabs, screens, changed);
  });
}

// ---- Installing

void TallyPageViewProxy::installOn(ui::ViewController& target) {
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(&target)) {
    navigationDelegate_ = navigation->delegate();
    navigation->setDelegate(this);
  } else if (auto* tabs = dynamic_cast<ui::TabBarController*>(&target)) {
    tabBarDelegate_ = tabs->delegate();
    tabs->setDelegate(this);
  }
}

bool TallyPageViewProxy::chainReachesThis(const TallyPageViewProxy* first, bool navigation) const {
  // Bounded: a chain made elsewhere could in principle loop.
  const TallyPageViewProxy* p = first;
  for (int step = 0; p && step < 1000; ++step) {
    if (p == this) return true;
    p = navigation ? asProxy(p->navigationDelegate_) : asProxy(p->tabBarDelegate_);
  }
  return false;
}

std::string TallyPageViewProxy::savedDelegateDescription() const {
  if (navigationDelegate_) return describe(static_cast<const void*>(navigationDelegate_));
  return describe(static_cast<const void*>(tabBarDelegate_));
}

void TallyPageViewProxy::passOnPast(const TallyPageViewProxy& gone) {
  if (navigationDelegate_ == &gone) navigationDelegate_ = gone.navigationDelegate_;
  if (tabBarDelegate_ == &gone) tabBarDelegate_ = gone.tabBarDelegate_;
}

TallyPageViewDelegate::TallyPageViewDelegate(std::shared_ptr<ui::ViewController> target)
    : TallyPageViewProxy("TallyPageViewDelegate"), target_(std::move(target)) {
  installOn(*target_);
  // Follows every replacement of the controller's delegate: the new one is passed on to and the
  // proxy goes back in front, unless the new one already passes messages on through it.
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(target_.get())) {
    observation_ =
        navigation->delegateSlot().observe([this, navigation](ui::NavigationControllerDelegate* now) {
          if (now == this || now == navigationDelegate_ || chainReachesThis(asProxy(now), true)) return;
          navigationDelegate_ = now;
          navigation->setDelegate(this);
        });
  } else if (auto* tabs = dynamic_cast<ui::TabBarController*>(target_.get())) {
    observation_ = tabs->delegateSlot().observe([this, tabs](ui::TabBarControllerDelegate* now) {
      if (now == this || now == tabBarDelegate_ || chainReachesThis(asProxy(now), false)) return;
      tabBarDelegate_ = now;
      tabs->setDelegate(this);
    });
  }
  TallyUtil::log(2, "TallyPageViewDelegate: delegate[%@] created", {savedDelegateDescription()});
}

TallyPageViewDelegate::~TallyPageViewDelegate() { stopObserving(); }

void TallyPageViewDelegate::stopObserving() {
  if (!observation_) return;
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(target_.get())) {
    navigation->delegateSlot().unobserve(observation_);
  } else if (auto* tabs = dynamic_cast<ui::TabBarController*>(target_.get())) {
    tabs->delegateSlot().unobserve(observation_);
  }
  observation_ = 0;
}

void TallyPageViewDelegate::createDelegateOnTarget(const std::shared_ptr<ui::ViewController>& target) {
  if (!isPageViewTarget(target.get())) return;
  proxies().push_back(std::make_unique<TallyPageViewDelegate>(target));
}

void TallyPageViewDelegate::destroyDelegateOnTarget(const ui::ViewController* target) {
  if (!target) return;
  auto& list = proxies();
  auto it =
      std::find_if(list.begin(), list.end(), [target](const auto& p) { return p->target_.get() == target; });
  if (it == list.end()) return;
  std::unique_ptr<TallyPageViewDelegate> proxy = std::move(*it);
  list.erase(it);
  TallyUtil::log(2, "TallyPageViewDelegate: delegate[%@] destroyed", {proxy->savedDelegateDescription()});
  // It stops following first: giving the delegate back must not bring it in front again.
  proxy->stopObserving();
  // Deeper in a chain of proxies, the one in front of it passes on past it.
  for (auto& other : list) other->passOnPast(*proxy);
  for (auto& other : oldProxies()) other->passOnPast(*proxy);
  if (auto* navigation = dynamic_cast<ui::NavigationController*>(proxy->target_.get())) {
    if (navigation->delegate() == proxy.get()) navigation->setDelegate(proxy->navigationDelegate_);
  } else if (auto* tabs = dynamic_cast<ui::TabBarController*>(proxy->target_.get())) {
    if (tabs->delegate() == proxy.get()) tabs->setDelegate(proxy->tabBarDelegate_);
  }
}

TallyPageViewDelegateOld::TallyPageViewDelegateOld(ui::ViewController& target)
    : TallyPageViewProxy("TallyPageViewDelegateOld") {
  installOn(target);
  TallyUtil::log(2, "TallyPageViewDelegateOld: delegate[%@] created", {savedDelegateDescription()});
}

void TallyPageViewDelegateOld::createDelegateOnTarget(const std::shared_ptr<ui::ViewController>& target) {
  if (!isPageViewTarget(target.get())) return;
  oldProxies().push_back(std::make_unique<TallyPageViewDelegateOld>(*target));
}

}  // namespace analytics
