#include "platform/ui/controls.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/text_measure.h"

namespace ui {

namespace {

Rect centered(Size size, const Rect& in) {
  return Rect(in.x() + (in.width() - size.width) / 2, in.y() + (in.height() - size.height) / 2, size.width,
              size.height);
}

}  // namespace

// ---------------------------------------------------------------------------------------------- Label

Label::Label() { setUserInteractionEnabled(false); }

Label::Label(const Rect& frame) : View(frame) { setUserInteractionEnabled(false); }

void Label::setText(std::string text) {
  text_ = std::move(text);
  attributed_.reset();
  setNeedsDisplay();
}

void Label::setFont(Font font) {
  font_ = std::move(font);
  setNeedsDisplay();
}

void Label::setTextColor(const Color& color) {
  textColor_ = color;
  setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
  numberOfLines_ = std::max(0, lines);
  setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode mode) {
  lineBreak_ = mode;
  setNeedsDisplay();
}

void Label::setAttributedText(std::optional<graphics::AttributedText> text) {
  attributed_ = std::move(text);
  if (attributed_) text_ = attributed_->string();
  setNeedsDisplay();
}

graphics::AttributedText Label::drawnText() const {
  // A one-line label never wraps: wrapping modes clip there.
  LineBreakMode mode = lineBreak_;
  if (numberOfLines_ == 1 && (mode == LineBreakMode::kWordWrap || mode == LineBreakMode::kCharWrap)) {
    mode = LineBreakMode::kClip;
  }
  graphics::AttributedText t =
      attributed_ ? *attributed_ : graphics::AttributedText(text_, font_, textColor_, alignment_, mode);
  if (attributed_ && numberOfLines_ == 1 &&
      (t.lineBreak == LineBreakMode::kWordWrap || t.lineBreak == LineBreakMode::kCharWrap)) {
    t.lineBreak = LineBreakMode::kClip;
  }
  // A one-line label that adjusts shrinks every run by one factor (down to its minimum) to fit.
  if (adjustsFontSize_ && numberOfLines_ == 1 && bounds().width() > 0 && !t.isEmpty()) {
    const double width = graphics::defaultTextMeasurer()->measure(t, 0).size.width;
    if (width > bounds().width()) {
      const double factor = std::max(minimumScaleFactor_, bounds().width() / width);
      if (factor > 0) {
        for (auto& run : t.runs) run.font = run.font.withSize(run.font.pointSize() * factor);
      }
    }
  }
  return t;
}

Rect Label::textRectForBounds(const Rect& b) const {
  graphics::AttributedText t = drawnText();
  auto measurer = graphics::defaultTextMeasurer();
  double maxWidth = numberOfLines_ == 1 ? 0 : b.width();
  graphics::TextMetrics m = measurer->measure(t, maxWidth);
  double height = m.size.height;
  if (numberOfLines_ > 1 && m.lineCount > numberOfLines_ && m.lineCount > 0) {
    height = height / m.lineCount * numberOfLines_;
  }
  height = std::min(height, b.height());
  return Rect(b.x(), b.y() + (b.height() - height) / 2, b.width(), height);
}

void Label::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  if (text_.empty()) return;
  canvas.drawText(drawnText(), textRectForBounds(bounds()));
}

bool Label::isTextCut() const {
  if (text_.empty()) return false;
  // Half a point of slack: measuring and laying out round differently.
  constexpr double kSlack = 0.5;
  const Rect b = bounds();
  const graphics::AttributedText t = drawnText();
  auto measurer = graphics::defaultTextMeasurer();
  if (numberOfLines_ == 1) {
    const Size size = measurer->measure(t, 0).size;
    return size.width > b.width() + kSlack || size.height > b.height() + kSlack;
  }
  graphics::AttributedText wrapped = t;
  wrapped.lineBreak = LineBreakMode::kWordWrap;
  const graphics::TextMetrics m = measurer->measure(wrapped, b.width());
  if (numberOfLines_ > 0 && m.lineCount > numberOfLines_) return true;
  return m.size.height > b.height() + kSlack || m.size.width > b.width() + kSlack;
}

Size Label::sizeThatFits(Size size) const {
  if (text_.empty()) return Size(0, 0);
  double maxWidth = numberOfLines_ == 1 ? 0 : size.width;
  graphics::TextMetrics m = graphics::defaultTextMeasurer()->measure(drawnText(), maxWidth);
  return Size(std::ceil(m.size.width), std::ceil(m.size.height));
}

// ------------------------------------------------------------------------------------------ ImageView

ImageView::ImageView() { setUserInteractionEnabled(false); }

ImageView::ImageView(const Rect& frame) : View(frame) { setUserInteractionEnabled(false); }

ImageView::ImageView(ImageRef image)
    : View(Rect(0, 0, image ? image->pointWidth() : 0, image ? image->pointHeight() : 0)),
      image_(std::move(image)) {
  setUserInteractionEnabled(false);
}

void ImageView::setImage(ImageRef image) {
  image_ = std::move(image);
  setNeedsDisplay();
}

Rect ImageView::imageRect() const {
  Rect b = bounds();
  if (!image_ || image_->isEmpty()) return b;
  double iw = image_->pointWidth();
  double ih = image_->pointHeight();
  switch (contentMode()) {
    case ContentMode::kScaleAspectFit:
    case ContentMode::kScaleAspectFill: {
      double sx = b.width() / iw;
      double sy = b.height() / ih;
      double s = contentMode() == ContentMode::kScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
      return centered(Size(iw * s, ih * s), b);
    }
    case ContentMode::kCenter:
      return centered(Size(iw, ih), b);
    case ContentMode::kScaleToFill:
    case ContentMode::kRedraw:
      break;
  }
  return b;
}

void ImageView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  if (!image_ || image_->isEmpty()) return;
  canvas.drawSharedImage(image_, imageRect());
}

Size ImageView::sizeThatFits(Size /*size*/) const {
  if (!image_) return Size(0, 0);
  return Size(image_->pointWidth(), image_->pointHeight());
}

// -------------------------------------------------------------------------------------------- Control

int Control::addTarget(Action action, unsigned events) {
  int id = nextId_++;
  actions_.push_back({id, events, std::move(action)});
  return id;
}

void Control::removeAction(int id) {
  actions_.erase(
      std::remove_if(actions_.begin(), actions_.end(), [id](const ActionEntry& e) { return e.id == id; }),
      actions_.end());
}

void Control::sendActionsForControlEvents(unsigned events) {
  // An action may close the screen that holds this control; keep it alive until all have run.
  auto keep = weak_from_this().lock();
  auto actions = actions_;
  for (auto& entry : actions) {
    if ((entry.events & events) && entry.action) entry.action(*this);
  }
}

void Control::setEnabled(bool enabled) {
  enabled_ = enabled;
  setNeedsDisplay();
}

void Control::setSelected(bool selected) {
  selected_ = selected;
  setNeedsDisplay();
}

void Control::setHighlighted(bool highlighted) {
  highlighted_ = highlighted;
  setNeedsDisplay();
}

ControlState Control::state() const {
  if (!enabled_) return ControlState::kDisabled;
  if (highlighted_) return ControlState::kHighlighted;
  if (selected_) return ControlState::kSelected;
  return ControlState::kNormal;
}

void Control::touchesBegan(const TouchSet& touches) {
  if (!enabled_) {
    View::touchesBegan(touches);
    return;
  }
  setHighlighted(true);
  sendActionsForControlEvents(kControlEventTouchDown);
}

void Control::touchesMoved(const TouchSet& touches) {
  if (!enabled_) {
    View::touchesMoved(touches);
    return;
  }
  bool inside = !touches.empty() && bounds().contains(touches.front().locationInView(this));
  setHighlighted(inside);
  sendActionsForControlEvents(inside ? kControlEventTouchDragInside : kControlEventTouchDragOutside);
}

void Control::touchesEnded(const TouchSet& touches) {
  if (!enabled_) {
    View::touchesEnded(touches);
    return;
  }
  auto keep = weak_from_this().lock();
  setHighlighted(false);
  if (touches.empty()) return;
  Point p = touches.front().locationInView(this);
  if (bounds().contains(p)) {
    touchEndedInside(p);
    sendActionsForControlEvents(kControlEventTouchUpInside);
  } else {
    sendActionsForControlEvents(kControlEventTouchUpOutside);
  }
}

void Control::touchesCancelled(const TouchSet& touches) {
  if (!enabled_) {
    View::touchesCancelled(touches);
    return;
  }
  setHighlighted(false);
  sendActionsForControlEvents(kControlEventTouchCancel);
}

// --------------------------------------------------------------------------------------------- Button

Button::Button() = default;

Button::Button(const Rect& frame) : Control(frame) {}

void Button::setTitle(std::string title, ControlState state) {
  titles_[state] = std::move(title);
  setNeedsDisplay();
}

std::string Button::titleForState(ControlState state) const {
  auto it = titles_.find(state);
  if (it == titles_.end()) it = titles_.find(ControlState::kNormal);
  return it == titles_.end() ? std::string() : it->second;
}

void Button::setTitleColor(const Color& color, ControlState state) {
  titleColors_[state] = color;
  setNeedsDisplay();
}

Color Button::titleColorForState(ControlState state) const {
  auto it = titleColors_.find(state);
  if (it == titleColors_.end()) it = titleColors_.find(ControlState::kNormal);
  return it == titleColors_.end() ? Color::systemBlue() : it->second;
}

void Button::setImage(ImageRef image, ControlState state) {
  images_[state] = std::move(image);
  setNeedsDisplay();
}

ImageRef Button::imageForState(ControlState state) const {
  auto it = images_.find(state);
  if (it == images_.end()) it = images_.find(ControlState::kNormal);
  return it == images_.end() ? nullptr : it->second;
}

void Button::setBackgroundImage(ImageRef image, ControlState state) {
  backgroundImages_[state] = std::move(image);
  setNeedsDisplay();
}

ImageRef Button::backgroundImageForState(ControlState state) const {
  auto it = backgroundImages_.find(state);
  if (it == backgroundImages_.end()) it = backgroundImages_.find(ControlState::kNormal);
  return it == backgroundImages_.end() ? nullptr : it->second;
}

void Button::setTitleFont(Font font) {
  titleFont_ = std::move(font);
  setNeedsDisplay();
}

void Button::tap() {
  if (!isEnabled()) return;
  auto keep = weak_from_this().lock();
  sendActionsForControlEvents(kControlEventTouchDown);
  sendActionsForControlEvents(kControlEventTouchUpInside);
}

bool Button::isTitleCut() const {
  const std::string title = currentTitle();
  if (title.empty()) return false;
  ImageRef image = imageForState(state());
  const double room = bounds().width() - (image ? image->pointWidth() : 0);
  return graphics::defaultTextMeasurer()->sizeOf(title, titleFont_).width > room + 0.5;
}

void Button::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  Rect b = bounds();
  ControlState s = state();
  if (ImageRef background = backgroundImageForState(s)) canvas.drawSharedImage(background, b);
  ImageRef image = imageForState(s);
  std::string title = titleForState(s);
  Size imageSize = image ? Size(image->pointWidth(), image->pointHeight()) : Size();
  Size titleSize;
  if (!title.empty()) titleSize = graphics::defaultTextMeasurer()->sizeOf(title, titleFont_);
  double total = imageSize.width + titleSize.width;
  double x = b.x() + (b.width() - total) / 2;
  if (image) {
    canvas.drawSharedImage(image,
                           Rect(x, b.y() + (b.height() - imageSize.height) / 2, imageSize.width, imageSize.height));
  }
  if (!title.empty()) {
    canvas.drawText(title, Point(x + imageSize.width, b.y() + (b.height() - titleSize.height) / 2),
                    titleFont_, titleColorForState(s));
  }
}

// ----------------------------------------------------------------------------------- SegmentedControl

SegmentedControl::SegmentedControl() = default;

SegmentedControl::SegmentedControl(std::vector<std::string> titles) : titles_(std::move(titles)) {
  setFrame(Rect(0, 0, 60.0 * titles_.size(), 29));
}

void SegmentedControl::insertSegmentWithTitle(std::string title, int index) {
  index = std::clamp(index, 0, numberOfSegments());
  titles_.insert(titles_.begin() + index, std::move(title));
  if (selected_ >= index) ++selected_;
  setNeedsDisplay();
}

void SegmentedControl::removeAllSegments() {
  titles_.clear();
  selected_ = kNoSegment;
  setNeedsDisplay();
}

void SegmentedControl::setTitleForSegmentAtIndex(std::string title, int index) {
  if (index < 0 || index >= numberOfSegments()) return;
  titles_[index] = std::move(title);
  setNeedsDisplay();
}

std::string SegmentedControl::titleForSegmentAtIndex(int index) const {
  if (index < 0 || index >= numberOfSegments()) return {};
  return titles_[index];
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
  selected_ = (index >= 0 && index < numberOfSegments()) ? index : kNoSegment;
  setNeedsDisplay();
}

void SegmentedControl::setTintColor(const Color& color) {
  tint_ = color;
  setNeedsDisplay();
}

void SegmentedControl::tapSegment(int index) {
  if (!isEnabled() || index < 0 || index >= numberOfSegments()) return;
  auto keep = weak_from_this().lock();
  bool changed = index != selected_;
  setSelectedSegmentIndex(index);
  if (changed) sendActionsForControlEvents(kControlEventValueChanged);
}

void SegmentedControl::touchEndedInside(Point location) {
  int n = numberOfSegments();
  if (n == 0 || bounds().width() <= 0) return;
  int index = static_cast<int>((location.x - bounds().x()) / (bounds().width() / n));
  tapSegment(std::clamp(index, 0, n - 1));
}

void SegmentedControl::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  Rect b = bounds();
  int n = numberOfSegments();
  if (n == 0 || b.isEmpty()) return;
  double w = b.width() / n;
  Font font = Font::systemFontOfSize(13);
  if (selected_ != kNoSegment) {
    canvas.setFillColor(tint_);
    canvas.fillRect(Rect(b.x() + w * selected_, b.y(), w, b.height()));
  }
  canvas.setStrokeColor(tint_);
  canvas.setLineWidth(1);
  canvas.strokeRect(b.insetBy(0.5, 0.5));
  for (int i = 1; i < n; ++i) canvas.strokeLine(Point(b.x() + w * i, b.y()), Point(b.x() + w * i, b.maxY()));
  for (int i = 0; i < n; ++i) {
    const Font fitted = segmentTitleFont(font, titles_[i], w);
    canvas.drawText(
        titles_[i], Rect(b.x() + w * i, b.y() + (b.height() - fitted.pointSize() * 1.2) / 2, w, b.height()),
        fitted, i == selected_ ? Color::white() : tint_, TextAlignment::kCenter, LineBreakMode::kTruncateTail);
  }
}

// A title wider than its segment (a long translation) shrinks, down to 60%, before it is cut.
Font SegmentedControl::segmentTitleFont(const Font& font, const std::string& title, double segmentWidth) {
  constexpr double kPadding = 6;
  constexpr double kMinimumScale = 0.6;
  const double room = segmentWidth - kPadding;
  if (title.empty() || room <= 0) return font;
  const double width =
      graphics::defaultTextMeasurer()
          ->measure(graphics::AttributedText(title, font, tint_, TextAlignment::kCenter, LineBreakMode::kClip), 0)
          .size.width;
  if (width <= room) return font;
  return font.withSize(font.pointSize() * std::max(kMinimumScale, room / width));
}

// --------------------------------------------------------------------------------------------- Switch

Switch::Switch() : Control(Rect(0, 0, 51, 31)) {}

Switch::Switch(const Rect& frame) : Control(Rect(frame.x(), frame.y(), 51, 31)) {}

void Switch::setOn(bool on, bool /*animated*/) {
  on_ = on;
  setNeedsDisplay();
}

void Switch::toggle() {
  if (!isEnabled()) return;
  setOn(!on_);
  sendActionsForControlEvents(kControlEventValueChanged);
}

void Switch::touchEndedInside(Point /*location*/) { toggle(); }

void Switch::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  Rect b = bounds();
  double h = b.height();
  graphics::Path track = graphics::Path::roundedRect(b.insetBy(0.5, 0.5), h / 2);
  if (on_) {
    canvas.setFillColor(onTint_);
    canvas.fillPath(track);
  } else {
    canvas.setStrokeColor(Color::white(0.9));
    canvas.setLineWidth(1);
    canvas.strokePath(track);
  }
  double d = h - 2;
  Rect knob(on_ ? b.maxX() - d - 1 : b.x() + 1, b.y() + 1, d, d);
  canvas.setFillColor(Color::white());
  canvas.fillEllipse(knob);
  canvas.setStrokeColor(Color::white(0.85));
  canvas.strokeEllipse(knob);
}

}  // namespace ui
