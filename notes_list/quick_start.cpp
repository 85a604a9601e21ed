#include "notes_list/quick_start.h"

#include "notes_list/latest_updates.h"
#include "platform/foundation/text.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/device.h"
#include "platform/ui/image_library.h"

namespace notes_list {

using graphics::Color;
using graphics::Point;
using graphics::Rect;

namespace {

const Color kPurple(0.5490196347, 0.4980392158, 0.9529411793, 1);

graphics::Font avenir(std::string_view name, double size) {
  return graphics::Font::fontWithNameSize(name, size).value_or(graphics::Font::systemFontOfSize(size));
}

// A letter centred in an icon's place, for a picture the bundle does not have.
void drawStandIn(graphics::Canvas& canvas, const std::string& text, const Rect& icon) {
  const auto font = avenir("AvenirNext-Medium", icon.height() * 0.6);
  const auto size = graphics::defaultTextMeasurer()->sizeOf(text, font);
  canvas.drawText(text, Point(icon.center().x - size.width / 2, icon.center().y - size.height / 2), font,
                  kPurple);
}

}  // namespace

quickStartView::quickStartView(const Rect& frame, app::NoteEditHelper neh,
                               std::function<std::shared_ptr<store::Context>()> context,
                               std::function<app::InterfaceText()> language)
    : ui::View(frame), neh_(std::move(neh)), context_(std::move(context)), language_(std::move(language)) {}

quickStartView::~quickStartView() { refresh_.invalidate(); }

quickStartView* quickStartView::in(ui::View& slot) {
  for (const auto& view : slot.subviews()) {
    if (auto* strip = dynamic_cast<quickStartView*>(view.get())) return strip;
  }
  return nullptr;
}

std::string quickStartView::localized(std::string_view key) const {
  return (language_ ? language_() : app::InterfaceText::current()).localized(key);
}

unsigned quickStartView::framesCount() const {
  const auto& device = ui::device();
  if (device.isPad()) return ui::isPortrait(device.statusBarOrientation) ? 6 : 9;
  if (device.isPhone736()) return 7;
  if (device.isStandardPhone667()) return 6;
  return 5;
}

void quickStartView::doUpdate() {
  std::weak_ptr<ui::View> weak = weak_from_this();
  refresh_ = runtime::RunLoop::main().performAfter(30.0, [weak] {
    if (auto self = std::dynamic_pointer_cast<quickStartView>(weak.lock())) self->doUpdate();
  });
  setNeedsDisplay();
}

graphics::AttributedText quickStartView::labelText(const std::string& text) const {
  const double size = ui::device().isPad() ? 15 : 12;
  return graphics::AttributedText(text, avenir("AvenirNext-Medium", size), kPurple,
                                  graphics::TextAlignment::kCenter);
}

std::optional<ui::View::AccessibilityElement> quickStartView::timeLabel(const std::string& type,
                                                                        const Rect& frame) const {
  auto context = context_ ? context_() : nullptr;
  if (!context || !currentBabyName) return std::nullopt;
  const foundation::Date now = runtime::RunLoop::main().clock().now();
  app::Note note = latestNoteOfType(*context, *currentBabyName, type, now);
  if (!note || !note.note_DateStop() || now - *note.note_DateStop() >= 86400) return std::nullopt;
  const foundation::Date stop = *note.note_DateStop();
  const auto measurer = graphics::defaultTextMeasurer();
  std::string text = neh_.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(stop, now, true, true);
  auto size = measurer->measure(labelText(text), 0).size;
  if (size.width > frame.width() + 6) {
    text = neh_.getIntervalBetween2DatesWithMinutesStringAddAgoUseShortVers(stop, now, false, true);
    size = measurer->measure(labelText(text), 0).size;
  }
  // Centred over the slot at the very top of the strip.
  const Rect at(frame.x() - 3, ui::device().isPad() ? 2 : 0, frame.width() + 6, size.height);
  return AccessibilityElement{std::move(text), at};
}

std::string quickStartView::timeLabelForType(const std::string& type, double slotWidth) const {
  auto label = timeLabel(type, Rect(0, 0, slotWidth, 0));
  return label ? std::move(label->label) : std::string();
}

Rect quickStartView::slotFrame(unsigned i) const {
  const unsigned n = framesCount();
  auto frameImage = ui::imageNamed("iPhone_mainscreen_quick_launch_icon_frame");
  const bool pad = ui::device().isPad();
  const float k = pad ? 0.56f : 0.40f;
  // Without the frame picture the slots keep the size of the usual artwork (100 points).
  const float fw = static_cast<float>(k * (frameImage ? frameImage->pointWidth() : 100.0));
  const float fh = static_cast<float>(k * (frameImage ? frameImage->pointHeight() : 100.0));
  const float s = static_cast<float>(frame().width()) / static_cast<float>(n);
  const float g = static_cast<float>(n) * (s - fw) / static_cast<float>(n + 1);
  const double y = frame().height() / 2 - fh / 2 + (pad ? 8 : 6);
  return Rect(g + i * (g + fw), y, fw, fh);
}

graphics::Font quickStartView::captionFont() const {
  return avenir("AvenirNext-Regular", ui::device().isPad() ? 15 : 12);
}

ui::View::AccessibilityElement quickStartView::caption() const {
  std::string text = localized("quick launch");
  const auto size = graphics::defaultTextMeasurer()->sizeOf(text, captionFont());
  const Rect at(bounds().width() / 2 - size.width / 2, ui::device().isPad() ? 1 : 0, size.width, size.height);
  return {std::move(text), at};
}

bool quickStartView::drawImageNumInRect(graphics::Canvas& canvas, int num, const Rect& frame) {
  const Rect icon(frame.x() + 5, frame.y() + 5, frame.width() - 10, frame.height() - 10);
  if (num < 0) {
    if (auto more = ui::imageNamed("iPhone_more")) {
      canvas.drawSharedImage(more, icon);
    } else {
      drawStandIn(canvas, "+", icon);
    }
    if (showTheBadge) {
      if (auto badge = ui::imageNamed("iPhone_badge")) {
        canvas.drawSharedImage(badge,
                               Rect(frame.x() + 27, frame.y() - 17, frame.width() - 10, frame.height() - 10));
      }
    }
    return false;
  }
  const auto index = static_cast<std::size_t>(num);
  if (index >= typeIdArr.size()) return false;
  const auto label = timeLabel(typeIdArr[index], frame);
  if (label) canvas.drawText(labelText(label->label), label->frame);
  auto image = index < typeIconArr.size() ? ui::imageNamed(typeIconArr[index]) : nullptr;
  if (image) {
    canvas.drawSharedImage(image, icon);
  } else {
    // No icon in the bundle: the type's initial stands in for it.
    drawStandIn(canvas, foundation::text::substringUtf16(localized(typeIdArr[index]), 0, 1), icon);
  }
  return label.has_value();
}

void quickStartView::drawRect(graphics::Canvas& canvas, const Rect& /*rect*/) {
  if (typeIconArr.size() < 4) return;
  if (!refreshStarted_) {
    refreshStarted_ = true;
    std::weak_ptr<ui::View> weak = weak_from_this();
    refresh_ = runtime::RunLoop::main().performAfter(30.0, [weak] {
      if (auto self = std::dynamic_pointer_cast<quickStartView>(weak.lock())) self->doUpdate();
    });
  }
  const bool pad = ui::device().isPad();
  const Rect b = bounds();
  canvas.save();
  if (!pad) {
    canvas.setFillColor(Color(0.9803921580, 0.9764705896, 0.9921568632, 1));
    canvas.fillRect(b);
  }
  const unsigned n = framesCount();
  auto frameImage = ui::imageNamed("iPhone_mainscreen_quick_launch_icon_frame");

  auto drawFrame = [&](const Rect& r) {
    if (frameImage) {
      canvas.drawSharedImage(frameImage, r, graphics::BlendMode::kNormal, 0.8);
      return;
    }
    canvas.save();
    canvas.setLineWidth(1);
    canvas.setStrokeColor(Color(0.7882353068, 0.7960784435, 0.8078431487, 1));
    canvas.strokePath(graphics::Path::roundedRect(r, r.width() / 4));
    canvas.restore();
  };
  bool anyLabel = false;
  for (unsigned i = 0; i + 1 < n; ++i) {
    const Rect slot = slotFrame(i);
    drawFrame(slot);
    anyLabel = drawImageNumInRect(canvas, static_cast<int>(i), slot) || anyLabel;
  }
  if (!anyLabel) {
    const AccessibilityElement text = caption();
    canvas.drawText(text.label, text.frame.origin, captionFont(), kPurple);
  }
  const Rect more = slotFrame(n - 1);
  drawFrame(more);
  drawImageNumInRect(canvas, -1, more);

  canvas.setShouldAntialias(false);
  canvas.setLineWidth(0.5);
  canvas.setStrokeColor(Color(0.7882353068, 0.7960784435, 0.8078431487, 1));
  canvas.strokeLine(Point(0, b.height()), Point(b.width(), b.height()));
  canvas.restore();
}

void quickStartView::touchesEnded(const ui::TouchSet& touches) {
  if (touches.empty()) return;
  checkPoint(touches.front().locationInView(this).x);
}

std::vector<ui::View::AccessibilityElement> quickStartView::accessibilityElements() const {
  const unsigned n = framesCount();
  const Rect b = bounds();
  // The texts drawn over the slots are read out too, where they are drawn: the same lookups as a
  // drawing makes, and none while the strip draws nothing.
  const bool drawn = typeIconArr.size() >= 4;
  bool anyLabel = false;
  std::vector<AccessibilityElement> elements;
  for (unsigned i = 0; i < n; ++i) {
    std::string label = "+";
    if (i + 1 < n) {
      if (i >= typeIdArr.size()) continue;
      label = localized(typeIdArr[i]);
      if (auto time = drawn ? timeLabel(typeIdArr[i], slotFrame(i)) : std::nullopt) {
        anyLabel = true;
        elements.push_back(std::move(*time));
      }
    }
    elements.push_back({std::move(label), Rect(b.x() + i * b.width() / n, b.y(), b.width() / n, b.height())});
  }
  if (drawn && !anyLabel) elements.push_back(caption());
  return elements;
}

void quickStartView::checkPoint(double x) {
  const unsigned n = framesCount();
  const double w = bounds().width();
  unsigned slot = 0;
  for (unsigned i = 1; i < n; ++i) {
    if (x > i * (w / n)) ++slot;
  }
  if (!quickStartView_delegate) return;
  quickStartView_delegate->quickStartNumWasClicked(slot == n - 1 ? -1 : static_cast<int>(slot));
}

}  // namespace notes_list
