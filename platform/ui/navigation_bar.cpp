#include "platform/ui/view_controller.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/graphics/text_measure.h"
#include "platform/ui/application.h"
#include "platform/ui/gesture.h"
#include "platform/ui/platform_texts.h"

namespace ui {

// ------------------------------------------------------------------------------------- BarButtonItem

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style,
                                                        Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(ImageRef image, BarButtonItemStyle style,
                                                        Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->image_ = std::move(image);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
  auto item = std::make_shared<BarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem kind, Action action) {
  // The system item's word is the platform's, in the interface language.
  auto item = withTitle(platformText("Cancel"), BarButtonItemStyle::kPlain, std::move(action));
  item->systemItem_ = kind;
  return item;
}

void BarButtonItem::setTitle(std::string title) {
  title_ = std::move(title);
  changed();
}

void BarButtonItem::setImage(ImageRef image) {
  image_ = std::move(image);
  changed();
}

void BarButtonItem::setEnabled(bool enabled) {
  enabled_ = enabled;
  changed();
}

void BarButtonItem::tap() {
  if (!enabled_ || customView_ || !action_) return;
  auto action = action_;
  action(*this);
}

// ------------------------------------------------------------------------------------ NavigationItem

void NavigationItem::setTitle(std::string title) {
  title_ = std::move(title);
  changed();
}

void NavigationItem::setTitleView(std::shared_ptr<View> view) {
  titleView_ = std::move(view);
  changed();
}

void NavigationItem::watch(const std::shared_ptr<BarButtonItem>& item,
                           const std::shared_ptr<BarButtonItem>& replaced) {
  if (replaced && replaced != item && replaced != left_ && replaced != right_) replaced->onChange_ = nullptr;
  if (!item) return;
  std::weak_ptr<bool> alive = alive_;
  item->onChange_ = [alive, this] {
    if (alive.lock()) changed();
  };
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool /*animated*/) {
  auto replaced = std::exchange(left_, std::move(item));
  watch(left_, replaced);
  changed();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool /*animated*/) {
  auto replaced = std::exchange(right_, std::move(item));
  watch(right_, replaced);
  changed();
}

void NavigationItem::setHidesBackButton(bool hides) {
  hidesBackButton_ = hides;
  changed();
}

// ------------------------------------------------------------------------------------- NavigationBar

NavigationBarAppearance& NavigationBar::appearance() {
  static NavigationBarAppearance a;
  return a;
}

NavigationBar::NavigationBar() {
  titleLabel_ = std::make_shared<Label>();
  titleLabel_->setTextAlignment(TextAlignment::kCenter);
  // A title longer than the room between the bar's buttons (a translation, a subject) shrinks, as
  // the kit's other titles do, before it is cut.
  titleLabel_->setAdjustsFontSizeToFitWidth(true);
  titleLabel_->setMinimumScaleFactor(kBarTitleMinimumScale);
  addSubview(titleLabel_);
  setAutoresizingMask(kFlexibleWidth);
}

std::shared_ptr<View> NavigationBar::itemView(const std::shared_ptr<BarButtonItem>& item) {
  if (!item) return nullptr;
  if (item->customView()) return item->customView();
  auto button = std::make_shared<Button>(Rect(0, 0, 0, kBarHeight));
  if (item->image()) {
    button->setImage(item->image());
    button->setFrame(Rect(0, 0, std::max(44.0, item->image()->pointWidth()), kBarHeight));
  } else {
    button->setTitle(item->title());
    double width = graphics::defaultTextMeasurer()->sizeOf(item->title(), button->titleFont()).width;
    button->setFrame(Rect(0, 0, std::max(44.0, std::ceil(width) + 8), kBarHeight));
  }
  if (auto tint = appearance().tintColor) button->setTitleColor(*tint);
  button->setEnabled(item->isEnabled());
  std::weak_ptr<BarButtonItem> weak = item;
  button->addTarget(
      [weak](Control&) {
        if (auto i = weak.lock()) i->tap();
      },
      kControlEventTouchUpInside);
  return button;
}

void NavigationBar::showItem(const NavigationItem* item, std::optional<std::string> backTitle,
                             std::function<void()> onBack) {
  for (auto* view :
       {leftView_.get(), rightView_.get(), titleView_.get(), static_cast<View*>(backButton_.get())}) {
    if (view && view->superview() == this) view->removeFromSuperview();
  }
  leftView_.reset();
  rightView_.reset();
  titleView_.reset();
  backButton_.reset();
  titleLabel_->setText(item ? item->title() : "");
  titleLabel_->setFont(appearance().titleFont.value_or(graphics::Font::boldSystemFontOfSize(17)));
  titleLabel_->setTextColor(appearance().titleColor.value_or(Color::black()));
  if (item) {
    if (item->titleView()) {
      titleView_ = item->titleView();
      addSubview(titleView_);
    }
    if (item->leftBarButtonItem()) {
      leftView_ = itemView(item->leftBarButtonItem());
    } else if (backTitle && !item->hidesBackButton()) {
      // The back button shows the previous screen's title; a title longer than a third of the bar
      // collapses to the chevron alone rather than being cut.
      backButton_ = std::make_shared<Button>(Rect(0, 0, 90, kBarHeight));
      const std::string full = "\u2039 " + *backTitle;
      const double needed = graphics::defaultTextMeasurer()->sizeOf(full, backButton_->titleFont()).width + 4;
      const double most = std::max(90.0, bounds().width() / 3);
      if (needed <= most) {
        backButton_->setFrame(Rect(0, 0, std::max(90.0, needed), kBarHeight));
        backButton_->setTitle(full);
      } else {
        backButton_->setTitle("\u2039");
      }
      if (auto tint = appearance().tintColor) backButton_->setTitleColor(*tint);
      backButton_->addTarget(
          [onBack](Control&) {
            if (onBack) onBack();
          },
          kControlEventTouchUpInside);
    }
    rightView_ = itemView(item->rightBarButtonItem());
  }
  if (leftView_) addSubview(leftView_);
  if (backButton_) addSubview(backButton_);
  if (rightView_) addSubview(rightView_);
  setNeedsLayout();
  layoutIfNeeded();
  setNeedsDisplay();
}

double NavigationBar::statusBarInset() const { return std::max(0.0, bounds().height() - kBarHeight); }

void NavigationBar::layoutSubviews() {
  Rect b = bounds();
  double top = statusBarInset();
  auto placeLeft = [&](View* v, double x) {
    if (v)
      v->setFrame(
          Rect(x, top + (kBarHeight - v->frame().height()) / 2, v->frame().width(), v->frame().height()));
  };
  placeLeft(leftView_.get(), 16);
  placeLeft(backButton_.get(), 8);
  if (rightView_) placeLeft(rightView_.get(), b.width() - 16 - rightView_->frame().width());
  // The title is centred in the room the bar's buttons leave on both sides; a title too long for
  // that moves off the centre into the room between the buttons, as far as it must.
  double left = 0, right = 0;
  for (const View* v :
       {static_cast<const View*>(leftView_.get()), static_cast<const View*>(backButton_.get())})
    if (v && v->superview() == this) left = std::max(left, v->frame().maxX());
  if (rightView_ && rightView_->superview() == this) right = b.width() - rightView_->frame().x();
  constexpr double kGap = 8;
  const double side = std::max(left, right) + kGap;
  Rect title(side, top, std::max(0.0, b.width() - 2 * side), kBarHeight);
  const double needed = graphics::defaultTextMeasurer()->sizeOf(titleLabel_->text(), titleLabel_->font()).width;
  const double roomStart = left + kGap, roomEnd = b.width() - right - kGap;
  if (needed > title.width() && roomEnd - roomStart > title.width()) {
    const double width = std::min(needed, roomEnd - roomStart);
    title = Rect(std::clamp(b.width() / 2 - width / 2, roomStart, roomEnd - width), top, width, kBarHeight);
  }
  titleLabel_->setFrame(title);
  if (titleView_) {
    Rect f = titleView_->frame();
    titleView_->setFrame(
        Rect((b.width() - f.width()) / 2, top + (kBarHeight - f.height()) / 2, f.width(), f.height()));
  }
}

void NavigationBar::setBackgroundImage(ImageRef image) {
  backgroundImage_ = std::move(image);
  setNeedsDisplay();
}

void NavigationBar::setShadowImage(ImageRef image) {
  shadowImage_ = std::move(image);
  setNeedsDisplay();
}

std::optional<NavigationBar::Backdrop> NavigationBar::backdrop() const {
  // An empty image of the bar's own: no background, so what lies behind the bar shows.
  if (backgroundImage_ && backgroundImage_->isEmpty()) return std::nullopt;
  const NavigationBarAppearance& a = appearance();
  ImageRef picture = backgroundImage_;
  if (!picture && !a.backgroundImageName.empty()) picture = imageNamed(a.backgroundImageName);
  return Backdrop{a.barTintColor.value_or(Color::white(0.97)), std::move(picture)};
}

void NavigationBar::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  Rect b = bounds();
  if (const auto drop = backdrop()) {
    canvas.setFillColor(drop->tint);
    canvas.fillRect(b);
    // Shared pictures: a canvas keeps what it makes of them for the next frame.
    if (drop->picture) canvas.drawSharedImage(drop->picture, b);
  }
  // The shadow along the bottom edge: the bar's own image only over its own background.
  if (backgroundImage_ && shadowImage_) {
    if (!shadowImage_->isEmpty()) {
      const double h = shadowImage_->pointHeight();
      canvas.drawSharedImage(shadowImage_, Rect(0, b.height() - h, b.width(), h));
    }
    return;
  }
  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(Color(0, 0, 0, 0.3));
  canvas.strokeLine(Point(0, b.height() - 0.25), Point(b.width(), b.height() - 0.25));
}


}  // namespace ui
