#pragma once
// Views: rectangles in a tree that draw themselves onto a Canvas and receive touches.
//
// A superview owns its subviews (shared_ptr); a view knows its superview by a plain pointer that the
// superview clears when it lets the view go. Views are made with std::make_shared. Frames are in the
// superview's coordinates; the bounds' origin is where the view's own content starts (a scrolled
// table moves it). Nothing is drawn until the tree is rendered (render.h): a view then draws its
// background colour, its drawRect and its subviews, in its own coordinates.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/canvas.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"

namespace ui {

using graphics::Color;
using graphics::Point;
using graphics::Rect;
using graphics::Size;

class View;
class Window;
class GestureRecognizer;

// The platform's autoresizing bits.
enum AutoresizingMask : unsigned {
  kAutoresizingNone = 0,
  kFlexibleLeftMargin = 1 << 0,
  kFlexibleWidth = 1 << 1,
  kFlexibleRightMargin = 1 << 2,
  kFlexibleTopMargin = 1 << 3,
  kFlexibleHeight = 1 << 4,
  kFlexibleBottomMargin = 1 << 5,
};

// How a view's content (an image) fills its bounds; the platform's values.
enum class ContentMode {
  kScaleToFill = 0,
  kScaleAspectFit = 1,
  kScaleAspectFill = 2,
  kRedraw = 3,
  kCenter = 4,
};

enum class TouchPhase { kBegan, kMoved, kEnded, kCancelled };

// One finger on the screen. Locations are kept in the coordinates of the view tree's root the touch
// was injected into; ask for them in any view of that tree.
struct Touch {
  View* root = nullptr;
  // The view the touch began in (the hit-tested view); it receives every phase of the touch.
  View* view = nullptr;
  Point location;
  Point previousLocation;
  TouchPhase phase = TouchPhase::kBegan;
  int tapCount = 1;

  Point locationInView(const View* view) const;
  Point previousLocationInView(const View* view) const;
};
using TouchSet = std::vector<Touch>;

class View : public std::enable_shared_from_this<View> {
 public:
  View();
  explicit View(const Rect& frame);
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Geometry.
  Rect frame() const { return frame_; }
  virtual void setFrame(const Rect& frame);
  Rect bounds() const { return bounds_; }
  void setBounds(const Rect& bounds);
  Point center() const { return frame_.center(); }
  void setCenter(Point center);

  // Appearance.
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  // None (nothing drawn) until set; a clear colour draws nothing either.
  const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<Color> color);
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool clipsToBounds() const { return clipsToBounds_; }
  void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
  // The layer's corner radius: rounds the background, and the content when clipping to bounds.
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool value) { autoresizesSubviews_ = value; }
  ContentMode contentMode() const { return contentMode_; }
  void setContentMode(ContentMode mode) { contentMode_ = mode; }

  // The tree.
  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  // Adds the view on top of the others, taking it from its old superview first.
  void addSubview(std::shared_ptr<View> view);
  void insertSubviewAtIndex(std::shared_ptr<View> view, size_t index);
  void removeFromSuperview();
  void bringSubviewToFront(const View* view);
  void sendSubviewToBack(const View* view);
  bool isDescendantOfView(const View* view) const;
  // This view or the first descendant (depth first, in subview order) with the tag.
  View* viewWithTag(int tag);
  // The window at the root of the tree, if the tree has one.
  Window* window() const;
  // The nearest ancestor (or this view) of the given type.
  template <class T>
  T* ancestorOfType() {
    for (View* v = this; v; v = v->superview_) {
      if (auto* t = dynamic_cast<T*>(v)) return t;
    }
    return nullptr;
  }

  // Drawing. drawRect draws the view's own content in its bounds' coordinates; the renderer has
  // already filled the background. setNeedsDisplay marks the view for redrawing.
  virtual void drawRect(graphics::Canvas& canvas, const Rect& rect);
  void setNeedsDisplay();
  bool needsDisplay() const { return needsDisplay_; }
  // How often setNeedsDisplay was called since the view was made.
  int displayRequestCount() const { return displayRequests_; }
  // Called by the renderer once the view is drawn.
  void markDisplayed() { needsDisplay_ = false; }

  // Layout. layoutSubviews runs from layoutIfNeeded once setNeedsLayout (or a change of size) asked
  // for it; the renderer and the view controllers lay views out before they show them.
  virtual void layoutSubviews() {}
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  void layoutIfNeeded();
  virtual Size sizeThatFits(Size size) const;
  void sizeToFit();

  // Tree callbacks.
  virtual void willMoveToSuperview(View* /*newSuperview*/) {}
  virtual void didMoveToSuperview() {}

  // Coordinates between views of one tree (a null view means the tree's root).
  Point convertPointToView(Point point, const View* view) const;
  Point convertPointFromView(Point point, const View* view) const;
  Rect convertRectToView(const Rect& rect, const View* view) const;
  Rect convertRectFromView(const Rect& rect, const View* view) const;

  // Touches. hitTest answers the deepest visible, interactive view under the point (in this view's
  // coordinates), front-most subviews first. The touch handlers pass the touches on to the
  // superview unless a view takes them.
  virtual View* hitTest(Point point);
  virtual bool pointInside(Point point) const;
  virtual void touchesBegan(const TouchSet& touches);
  virtual void touchesMoved(const TouchSet& touches);
  virtual void touchesEnded(const TouchSet& touches);
  virtual void touchesCancelled(const TouchSet& touches);

  void addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer);
  void removeGestureRecognizer(const GestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }

  // The first responder: the one view that takes the keyboard's typing.
  virtual bool canBecomeFirstResponder() const { return false; }
  bool becomeFirstResponder();
  bool resignFirstResponder();
  bool isFirstResponder() const;
  // Makes the first responder inside this view's tree resign; true when none is left there.
  bool endEditing(bool force);
  static View* currentFirstResponder();

  // What a screen reader says for this view when it shows no text of its own (an image button).
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
  // The controls of a view that draws them itself, each a label and a frame in this view's
  // coordinates; empty for views built of subviews.
  struct AccessibilityElement {
    std::string label;
    Rect frame;
  };
  virtual std::vector<AccessibilityElement> accessibilityElements() const { return {}; }

 protected:
  // Hooks of the first responder change, for text inputs: may refuse (false).
  virtual bool shouldBecomeFirstResponder() { return true; }
  virtual bool shouldResignFirstResponder() { return true; }
  virtual void didBecomeFirstResponder() {}
  virtual void didResignFirstResponder() {}
  // Text inputs bring up the keyboard when they become first responder.
  virtual bool usesKeyboard() const { return false; }

 private:
  void resizeSubviews(Size oldSize);
  void detachFromSuperview();

  Rect frame_;
  Rect bounds_;
  bool hidden_ = false;
  double alpha_ = 1.0;
  bool opaque_ = true;
  std::optional<Color> backgroundColor_;
  int tag_ = 0;
  bool clipsToBounds_ = false;
  double cornerRadius_ = 0;
  bool userInteractionEnabled_ = true;
  unsigned autoresizingMask_ = kAutoresizingNone;
  bool autoresizesSubviews_ = true;
  ContentMode contentMode_ = ContentMode::kScaleToFill;
  View* superview_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  bool needsDisplay_ = true;
  int displayRequests_ = 0;
  bool needsLayout_ = true;
  std::string accessibilityLabel_;
};

}  // namespace ui
