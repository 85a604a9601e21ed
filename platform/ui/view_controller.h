#pragma once
// Screens: view controllers with their view loading and appearance callbacks, navigation
// controllers, modal and form-sheet presentation, popovers, bar button items and the window.
//
// Transitions are headless. The will-callbacks (viewWillAppear, viewWillDisappear) run at once; the
// did-callbacks and the completion run on the main run loop, as they would once the transition had
// played. Every push, pop, presentation and dismissal is also recorded (screenEvents()).
//
// Ownership: a window owns its root controller, a presenting controller owns the one it presents, a
// navigation controller owns its stack, a controller owns its view and its children. A screen that
// leaves while animations play (popped, dismissed) is kept until its view has slid out, since what
// that view draws may call back into it. Delegates are plain pointers.

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/color.h"
#include "platform/graphics/font.h"
#include "platform/ui/controls.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"
#include "platform/ui/view.h"

namespace ui {

class ViewController;
class NavigationController;
class PopoverController;
class Storyboard;
class StoryboardSegue;

// The platform's presentation styles.
enum class ModalPresentationStyle { kFullScreen = 0, kPageSheet = 1, kFormSheet = 2, kCurrentContext = 3 };
enum class BarButtonItemStyle { kPlain = 0, kBordered = 1, kDone = 2 };
// The system's own bar button items that the screens use, with the platform's values.
enum class BarButtonSystemItem { kCancel = 1 };

// The edges of a screen's view that may lie under the bars (the platform's bits).
enum RectEdge : unsigned {
  kRectEdgeNone = 0,
  kRectEdgeTop = 1,
  kRectEdgeLeft = 2,
  kRectEdgeBottom = 4,
  kRectEdgeRight = 8,
  kRectEdgeAll = 15,
};

class BarButtonItem {
 public:
  using Action = std::function<void(BarButtonItem& sender)>;

  BarButtonItem() = default;
  static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withImage(ImageRef image, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);
  // A system item: the system's own title for the kind in the interface language (platformText),
  // plain style, as the back button's "Back".
  static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action);
  // The kind of a system item; nothing for any other item.
  std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }

  // A new title, image or enabled state shows at once in the bar that shows the item.
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const ImageRef& image() const { return image_; }
  void setImage(ImageRef image);
  BarButtonItemStyle style() const { return style_; }
  void setStyle(BarButtonItemStyle style) { style_ = style; }
  const std::shared_ptr<View>& customView() const { return customView_; }
  void setCustomView(std::shared_ptr<View> view) { customView_ = std::move(view); }
  const Action& action() const { return action_; }
  void setAction(Action action) { action_ = std::move(action); }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

  // A tap as the user makes it: an enabled item without a custom view calls its action. (An item
  // with a custom view is tapped through that view: its own controls and recognisers act.)
  void tap();

 private:
  friend class NavigationItem;
  void changed() {
    if (onChange_) onChange_();
  }
  // Set by the navigation item that holds the item, which tells its bar.
  std::function<void()> onChange_;
  std::string title_;
  ImageRef image_;
  BarButtonItemStyle style_ = BarButtonItemStyle::kPlain;
  std::shared_ptr<View> customView_;
  Action action_;
  bool enabled_ = true;
  int tag_ = 0;
  std::optional<BarButtonSystemItem> systemItem_;
};

// What a screen shows in the navigation bar.
class NavigationItem {
 public:
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const std::shared_ptr<View>& titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> view);
  const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  // The item a screen pushed over this one shows as its back button; the title when none.
  const std::shared_ptr<BarButtonItem>& backBarButtonItem() const { return back_; }
  void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) { back_ = std::move(item); }
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool hides);

  // Told of every change, so the bar that shows the item can follow it.
  void setChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }

 private:
  void changed() {
    if (onChange_) onChange_();
  }
  // The item now in a slot hears its changes through this navigation item; the one it replaced no
  // longer does, unless it stays in the other slot.
  void watch(const std::shared_ptr<BarButtonItem>& item, const std::shared_ptr<BarButtonItem>& replaced);
  std::function<void()> onChange_;
  // Lives as long as this item: what a bar button item's change handler checks first.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string title_;
  std::shared_ptr<View> titleView_;
  std::shared_ptr<BarButtonItem> left_;
  std::shared_ptr<BarButtonItem> right_;
  std::shared_ptr<BarButtonItem> back_;
  bool hidesBackButton_ = false;
};

// The look of every navigation bar, set once at launch.
struct NavigationBarAppearance {
  std::string backgroundImageName;
  std::optional<Color> barTintColor;
  std::optional<Color> tintColor;
  std::optional<graphics::Font> titleFont;
  std::optional<Color> titleColor;
  bool translucent = true;
};

class NavigationBar : public View {
 public:
  static NavigationBarAppearance& appearance();
  static constexpr double kBarHeight = 44;
  // How far a long title shrinks before it is cut.
  static constexpr double kBarTitleMinimumScale = 0.6;

  NavigationBar();

  // Shows the item: its title or title view, its left item or (when `backTitle` is given and the
  // item does not hide it) a back button, and its right item. `onBack` is the back button's action.
  void showItem(const NavigationItem* item, std::optional<std::string> backTitle,
                std::function<void()> onBack);
  // The back button while one is shown, else null.
  Button* backButton() const { return backButton_.get(); }
  // The views of the item's left and right bar buttons while they are shown, else null.
  View* leftItemView() const { return leftView_.get(); }
  Label* titleLabel() const { return titleLabel_.get(); }
  // A background image for this bar only, over the appearance's; null gives the appearance's back.
  // An empty image (no pixels) leaves the bar with no background at all: what lies behind shows.
  const ImageRef& backgroundImage() const { return backgroundImage_; }
  void setBackgroundImage(ImageRef image);
  // What the bar paints behind its items: none when its own image is empty, else the appearance's
  // tint under its own picture or, without one, the appearance's picture (null when neither).
  struct Backdrop {
    Color tint;
    ImageRef picture;
  };
  std::optional<Backdrop> backdrop() const;
  // What is drawn along the bar's bottom edge: a hairline unless an image is set (stretched along
  // the edge, at its own height; an empty image draws nothing). As on the platform, a bar's own
  // shadow image counts only over a background image of its own.
  const ImageRef& shadowImage() const { return shadowImage_; }
  void setShadowImage(ImageRef image);
  // Whether screens may lie under this bar: this bar's own setting, else the appearance's. A change
  // moves the screen below at its navigation controller's next layoutContent().
  bool isTranslucent() const { return translucent_.value_or(appearance().translucent); }
  void setTranslucent(bool translucent) { translucent_ = translucent; }

  void layoutSubviews() override;
  void drawRect(graphics::Canvas& canvas, const Rect& rect) override;

 private:
  std::shared_ptr<View> itemView(const std::shared_ptr<BarButtonItem>& item);
  double statusBarInset() const;

  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<View> titleView_;
  std::shared_ptr<View> leftView_;
  std::shared_ptr<View> rightView_;
  std::shared_ptr<Button> backButton_;
  ImageRef backgroundImage_;
  ImageRef shadowImage_;
  std::optional<bool> translucent_;
};

class ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  ViewController();
  virtual ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // The view, loaded on first use: loadView() makes it, then viewDidLoad() runs once.
  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  // Replaces the view (before loading: the view loadView would make).
  void setView(std::shared_ptr<View> view);
  // Makes the view; the default is a plain view of plannedViewFrame().
  virtual void loadView();
  // The frame the view takes once shown: what the navigation controller holding it or the
  // presentation showing it (a form sheet on the tablet) gives it, known before the view loads so
  // that viewDidLoad lays out in the room the screen will have; else the whole screen.
  Rect plannedViewFrame() const;
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}
  // Around the layout of the view's subviews.
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}
  // Lays the view out now (with the two callbacks) when it needs it.
  void layoutViewIfNeeded();
  virtual void willRotateToInterfaceOrientation(Orientation /*to*/, double /*duration*/) {}
  virtual void didRotateFromInterfaceOrientation(Orientation /*from*/) {}
  // Whether the screen would turn to the orientation; the kit's screens stand upright unless they say.
  virtual bool shouldAutorotateToInterfaceOrientation(Orientation orientation) const {
    return orientation == Orientation::kPortrait;
  }
  // Before a segue from this screen is performed.
  virtual void prepareForSegue(StoryboardSegue& /*segue*/, View* /*sender*/) {}

  // True from the start of an appearance until the start of the next disappearance.
  bool isOnScreen() const;

  const std::string& title() const { return title_; }
  // Also the navigation item's title.
  void setTitle(std::string title);
  NavigationItem& navigationItem() { return navigationItem_; }
  const NavigationItem& navigationItem() const { return navigationItem_; }

  // The storyboard it came from (for a controller made in code, that of its parent or presenter).
  Storyboard* storyboard() const;
  const std::string& storyboardIdentifier() const { return storyboardIdentifier_; }

  // Containment.
  ViewController* parentViewController() const { return parent_; }
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
  void addChildViewController(std::shared_ptr<ViewController> child);
  void removeFromParentViewController();
  // The nearest navigation controller among this controller and its parents.
  NavigationController* navigationController() const;

  // Presentation. The presenting screen is the outermost parent of this one; it holds the presented
  // one until it is dismissed. A screen that already presents one presents nothing more (logged).
  void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion = {});
  // Dismisses what this screen (or its outermost parent) presents, or else this screen itself when
  // it was presented. With nothing to dismiss nothing happens and the completion does not run.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
  ViewController* presentedViewController() const;
  ViewController* presentingViewController() const;
  ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
  void setModalPresentationStyle(ModalPresentationStyle style) { presentationStyle_ = style; }
  bool isModalInPopover() const { return modalInPopover_; }
  void setModalInPopover(bool modal) { modalInPopover_ = modal; }

  // Performs the storyboard segue with the identifier from this screen: false, and nothing happens,
  // when the storyboard knows no such segue or its destination cannot be made.
  bool performSegueWithIdentifier(const std::string& identifier, View* sender = nullptr);

  // Editing mode of the screen (a table screen puts its table into it too).
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated);

  // The edges of the view that lie under a translucent navigation bar: a navigation controller lays
  // the view out from the top of the screen, under its bar, when the bar is translucent and these
  // include the top; otherwise below the bar. Unlike the platform's later systems the kit's default
  // is none, so a screen stays below the bar unless it asks to extend under it. The other edges
  // are kept for the screen's own use (the kit has no tool bar).
  unsigned edgesForExtendedLayout() const { return edgesForExtendedLayout_; }
  void setEdgesForExtendedLayout(unsigned edges);

  void setNeedsStatusBarAppearanceUpdate() { ++statusBarUpdates_; }
  int statusBarAppearanceUpdateCount() const { return statusBarUpdates_; }

  // Appearance plumbing, used by containers and transitions: the will-callback now, the
  // did-callback at endAppearanceTransition. Forwarded to the visible children.
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();
  // Rotation: the callbacks to this screen, its visible children and what it presents.
  void notifyRotation(Orientation to, Orientation from, bool will);
  // The frame the view of a presented screen takes in the window, for the device in force.
  static Rect presentationFrame(ModalPresentationStyle style);

 protected:
  // The children that appear and disappear with this screen; by default the children whose views
  // are inside this screen's view.
  virtual std::vector<ViewController*> appearanceChildren();

 private:
  friend class Storyboard;
  friend class NavigationController;
  friend class PopoverController;
  enum class Appearance { kDisappeared, kAppearing, kAppeared, kDisappearing };

  ViewController* outermost();
  void dismissPresented(bool animated, std::function<void()> completion);

  std::shared_ptr<View> view_;
  bool loading_ = false;
  std::string title_;
  NavigationItem navigationItem_;
  Storyboard* storyboard_ = nullptr;
  std::string storyboardIdentifier_;
  ViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::shared_ptr<ViewController> presented_;
  ViewController* presenting_ = nullptr;
  ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::kFullScreen;
  bool modalInPopover_ = false;
  Appearance appearance_ = Appearance::kDisappeared;
  bool appearanceAnimated_ = false;
  std::vector<std::weak_ptr<ViewController>> transitionChildren_;
  // The presented screen covered this one, which comes back when it goes.
  bool coveredByPresented_ = false;
  int statusBarUpdates_ = 0;
  unsigned edgesForExtendedLayout_ = kRectEdgeNone;
  bool editing_ = false;
  std::optional<Rect> plannedFrame_;
};

// A controller's delegate reference that tells its observers of every assignment, so that an object
// standing between a controller and its delegate can follow a replacement (the platform's key-value
// observation of "delegate"). Non-owning, like every delegate here. Main thread only.
template <class Delegate>
class DelegateSlot {
 public:
  using Observer = std::function<void(Delegate* now)>;

  Delegate* get() const { return delegate_; }
  // Every assignment is reported, even of the same delegate.
  void set(Delegate* delegate) {
    delegate_ = delegate;
    const auto ids = observerIds();
    for (int id : ids) {
      // An observer may remove others (or itself) while it is told: only those still here hear it.
      auto it =
          std::find_if(observers_.begin(), observers_.end(), [id](const auto& o) { return o.first == id; });
      if (it == observers_.end()) continue;
      Observer observer = it->second;
      observer(delegate);
    }
  }
  // The id to stop with.
  int observe(Observer observer) {
    observers_.emplace_back(++lastId_, std::move(observer));
    return lastId_;
  }
  void unobserve(int id) {
    std::erase_if(observers_, [id](const auto& o) { return o.first == id; });
  }

 private:
  std::vector<int> observerIds() const {
    std::vector<int> ids;
    for (const auto& o : observers_) ids.push_back(o.first);
    return ids;
  }
  Delegate* delegate_ = nullptr;
  std::vector<std::pair<int, Observer>> observers_;
  int lastId_ = 0;
};

// Told when a navigation controller shows a new top screen: will at once, did once the transition has
// played (on the main run loop).
class NavigationControllerDelegate {
 public:
  virtual ~NavigationControllerDelegate() = default;
  virtual void navigationControllerWillShowViewController(NavigationController& /*navigation*/,
                                                          ViewController& /*shown*/, bool /*animated*/) {}
  virtual void navigationControllerDidShowViewController(NavigationController& /*navigation*/,
                                                         ViewController& /*shown*/, bool /*animated*/) {}
};

// Shows the top screen of its stack below its navigation bar (over the whole view while the bar is
// hidden, and under a translucent bar when the screen's edges for extended layout include the top),
// with a back button for every screen but the root.
class NavigationController : public ViewController {
 public:
  NavigationController();
  explicit NavigationController(std::shared_ptr<ViewController> root);

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const {
    return childViewControllers();
  }
  ViewController* topViewController() const;
  // The top screen's answer.
  bool shouldAutorotateToInterfaceOrientation(Orientation orientation) const override {
    const ViewController* top = topViewController();
    return top ? top->shouldAutorotateToInterfaceOrientation(orientation)
               : ViewController::shouldAutorotateToInterfaceOrientation(orientation);
  }
  // The screen presented over the top one, or the top one.
  ViewController* visibleViewController() const;

  void pushViewController(std::shared_ptr<ViewController> controller, bool animated);
  // The popped screen; null when only the root is left.
  std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToViewController(const ViewController* controller,
                                                                   bool animated);
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated);

  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);
  NavigationBar& navigationBar();

  // The title of the back button the top screen shows; none at the root or when its item hides it.
  std::optional<std::string> backButtonTitle() const;
  // A tap on the back button: pops, animated. False when no back button is shown.
  bool tapBackButton();

  NavigationControllerDelegate* delegate() const { return delegate_.get(); }
  void setDelegate(NavigationControllerDelegate* delegate) { delegate_.set(delegate); }
  // Where the delegate is kept, for those that follow its replacement.
  DelegateSlot<NavigationControllerDelegate>& delegateSlot() { return delegate_; }

  void loadView() override;
  // Refreshes the bar from the top screen's navigation item (after the item changed).
  void updateNavigationBar();
  // Lays the top screen's view out again (after its edges for extended layout changed).
  void layoutContent();
  // The status bar came or went: the bar takes its 20 points or gives them back, and the top
  // screen's view follows. The application calls this on every navigation controller on screen.
  void statusBarVisibilityChanged();

 protected:
  std::vector<ViewController*> appearanceChildren() override;

 private:
  void showTop(ViewController* oldTop, bool animated, bool pushing);

  void tellDelegateOfNewTop(ViewController* newTop, bool animated);

  bool barHidden_ = false;
  std::shared_ptr<NavigationBar> bar_;
  DelegateSlot<NavigationControllerDelegate> delegate_;
};

class PopoverControllerDelegate {
 public:
  virtual ~PopoverControllerDelegate() = default;
  // The user closed the popover (a tap outside it); not sent when code dismisses it.
  virtual void popoverControllerDidDismissPopover(PopoverController& popover) = 0;
};

// The platform's arrow directions.
enum PopoverArrowDirection : unsigned {
  kPopoverArrowUp = 1,
  kPopoverArrowDown = 2,
  kPopoverArrowLeft = 4,
  kPopoverArrowRight = 8,
  kPopoverArrowAny = 15,
};

class PopoverController : public std::enable_shared_from_this<PopoverController> {
 public:
  static std::shared_ptr<PopoverController> create(std::shared_ptr<ViewController> content);
  ~PopoverController();

  const std::shared_ptr<ViewController>& contentViewController() const { return content_; }
  PopoverControllerDelegate* delegate() const { return delegate_; }
  void setDelegate(PopoverControllerDelegate* delegate) { delegate_ = delegate; }
  Size popoverContentSize() const { return contentSize_; }
  void setPopoverContentSize(Size size) { contentSize_ = size; }

  // Shows the content next to `rect` of `view` (in that view's coordinates). While visible the
  // popover is kept on screen by the screen itself, even when nobody else holds it.
  void presentPopoverFromRect(const Rect& rect, View* view, unsigned permittedArrowDirections, bool animated);
  bool isPopoverVisible() const { return visible_; }
  // Closes it from code; the delegate is not told.
  void dismissPopoverAnimated(bool animated);
  // A tap outside the popover: it closes (unless its content is modal in popover) and the delegate
  // is told. Returns whether it closed.
  bool dismissByUser();

  // Where it was last presented from.
  const Rect& presentedFromRect() const { return fromRect_; }
  View* presentedInView() const { return fromView_; }
  unsigned permittedArrowDirections() const { return arrows_; }

  // The keyboard moves the popover up, as little as it must and never off the top of the screen, so
  // that the field being typed into in it stays above the keyboard; once the keyboard is down (or
  // the field is not in it), the popover is back where it was presented.
  void placeForKeyboard();

 private:
  PopoverController() = default;
  std::shared_ptr<ViewController> content_;
  PopoverControllerDelegate* delegate_ = nullptr;
  Size contentSize_{320, 480};
  bool visible_ = false;
  Rect fromRect_;
  View* fromView_ = nullptr;
  unsigned arrows_ = 0;
  // Where the presentation put the content, in its window, before the keyboard moved it.
  Rect presentedFrame_;
};

// The popovers on screen, oldest first.
std::vector<std::shared_ptr<PopoverController>> visiblePopovers();

class Window : public View {
 public:
  // The size of the main screen in the device profile in force.
  Window();
  explicit Window(const Rect& frame);

  ViewController* rootViewController() const { return root_.get(); }
  std::shared_ptr<ViewController> rootViewControllerShared() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller);
  // Shows the window: the root screen appears.
  void makeKeyAndVisible();
  bool isVisible() const { return visible_; }

  // Turns the device: the screens hear willRotate, the status bar's orientation and the window's
  // size change, the screens hear didRotate.
  void rotateTo(Orientation orientation);

  // The screen on top: the last presented over the root, else the root.
  ViewController* topmostViewController() const;

  // On the tablet a form or page sheet is modal: the dimmed screen around it takes no touches.
  View* hitTest(Point point) override;

 private:
  std::shared_ptr<ViewController> root_;
  bool visible_ = false;
};

// What the screens did, for tests: every push, pop, presentation and dismissal.
struct ScreenEvent {
  enum class Kind { kPresent, kDismiss, kPush, kPop, kShowPopover, kDismissPopover };
  Kind kind = Kind::kPresent;
  std::weak_ptr<ViewController> controller;
  bool animated = false;
  ModalPresentationStyle style = ModalPresentationStyle::kFullScreen;
};
const std::vector<ScreenEvent>& screenEvents();
void clearScreenEvents();

}  // namespace ui
