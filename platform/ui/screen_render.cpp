#include "platform/ui/screen_render.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "platform/files/file_ops.h"
#include "platform/foundation/calendar.h"
#include "platform/graphics/cairo_canvas.h"
#include "platform/graphics/text_measure.h"
#include "platform/ui/alert.h"
#include "platform/ui/animation.h"
#include "platform/ui/application.h"
#include "platform/ui/device.h"
#include "platform/ui/keyboard.h"
#include "platform/ui/render.h"
#include "platform/ui/screen_internals.h"
#include "platform/ui/text_input.h"
#include "platform/ui/view_controller.h"

namespace ui {

namespace {

constexpr double kAlertWidth = 270;
constexpr double kButtonHeight = 44;
constexpr double kSheetMargin = 8;

const Color kDim = Color::white(0, 0.4);
const Color kPanel = Color::white(0.97, 0.98);
const Color kHairline = Color::white(0.75);
const Color kDestructive = Color::rgb(1, 0.23, 0.19);

graphics::Font titleFont() { return graphics::Font::boldSystemFontOfSize(17); }
graphics::Font messageFont() { return graphics::Font::systemFontOfSize(13); }
graphics::Font buttonFont() { return graphics::Font::systemFontOfSize(17); }

double textHeight(const std::string& text, const graphics::Font& font, double width) {
  if (text.empty()) return 0;
  return graphics::defaultTextMeasurer()->measure(text, font, width).size.height;
}

// Where an alert or sheet sits and what it shows, computed once for drawing and for tapping.
struct Panel {
  Rect frame;
  std::string title;
  std::string message;
  double textHeight = 0;
  std::vector<OverlayTarget> buttons;
  int cancelIndex = -1;
  int destructiveIndex = -1;
};

std::optional<Panel> alertPanel(Size screen) {
  auto alert = topAlert();
  if (!alert) return std::nullopt;
  Panel panel;
  panel.title = alert->title();
  panel.message = alert->message();
  panel.cancelIndex = alert->cancelButtonIndex();
  const double inner = kAlertWidth - 32;
  panel.textHeight = 20 + textHeight(panel.title, titleFont(), inner) + 4 +
                     textHeight(panel.message, messageFont(), inner) + 20;
  const int count = alert->numberOfButtons();
  // Two buttons stand side by side, as on the device; more are stacked.
  const bool sideBySide = count == 2;
  const double buttonsHeight = sideBySide ? kButtonHeight : kButtonHeight * count;
  const double height = panel.textHeight + buttonsHeight;
  const double x = (screen.width - kAlertWidth) / 2;
  const double y = std::max(kStatusBarHeight, (screen.height - height) / 2);
  panel.frame = Rect(x, y, kAlertWidth, height);
  for (int i = 0; i < count; ++i) {
    OverlayTarget button;
    button.kind = OverlayTarget::Kind::kAlertButton;
    button.title = alert->buttonTitleAtIndex(i);
    button.index = i;
    button.frame = sideBySide
                       ? Rect(x + i * kAlertWidth / 2, y + panel.textHeight, kAlertWidth / 2, kButtonHeight)
                       : Rect(x, y + panel.textHeight + i * kButtonHeight, kAlertWidth, kButtonHeight);
    panel.buttons.push_back(std::move(button));
  }
  return panel;
}

Panel sheetPanel(const ActionSheet& sheet, Size screen) {
  Panel panel;
  panel.title = sheet.title().value_or("");
  panel.cancelIndex = sheet.cancelButtonIndex();
  panel.destructiveIndex = sheet.destructiveButtonIndex();
  const double width = std::min(screen.width, 400.0) - 2 * kSheetMargin;
  panel.textHeight = panel.title.empty() ? 0 : 16 + textHeight(panel.title, messageFont(), width - 32) + 16;
  const int count = sheet.numberOfButtons();
  // The cancel button stands apart, below the others.
  const bool separateCancel = panel.cancelIndex >= 0;
  const double height = panel.textHeight + kButtonHeight * count + (separateCancel ? kSheetMargin : 0);
  const double x = (screen.width - width) / 2;
  const double y = screen.height - kSheetMargin - height;
  panel.frame = Rect(x, y, width, height);
  double top = y + panel.textHeight;
  for (int i = 0; i < count; ++i) {
    OverlayTarget button;
    button.kind = OverlayTarget::Kind::kSheetButton;
    button.title = sheet.buttonTitleAtIndex(i);
    button.index = i;
    if (i == panel.cancelIndex) {
      button.frame = Rect(x, y + height - kButtonHeight, width, kButtonHeight);
    } else {
      button.frame = Rect(x, top, width, kButtonHeight);
      top += kButtonHeight;
    }
    panel.buttons.push_back(std::move(button));
  }
  return panel;
}

std::optional<Panel> topPanel(Size screen) {
  if (auto alert = alertPanel(screen)) return alert;
  if (auto sheet = topActionSheet()) return sheetPanel(*sheet, screen);
  return std::nullopt;
}

// A sheet drawn `shown` of its way up (1 in place) lies lower by the rest of its way from below the
// screen's bottom edge.
Panel slidDown(Panel panel, double shown, Size screen) {
  const double by = (1 - shown) * (screen.height - panel.frame.y());
  panel.frame = panel.frame.offsetBy(0, by);
  for (auto& button : panel.buttons) button.frame = button.frame.offsetBy(0, by);
  return panel;
}

// The dimming behind an overlay or a floating screen, `share` of its full depth.
Color dimming(double share) { return Color::white(0, kDim.a * share); }

bool numericKeyboard() {
  auto* field = dynamic_cast<TextField*>(View::currentFirstResponder());
  if (!field) return false;
  return field->keyboardType() == KeyboardType::kNumberPad ||
         field->keyboardType() == KeyboardType::kDecimalPad;
}

std::vector<OverlayTarget> keyboardKeys() {
  std::vector<OverlayTarget> keys;
  if (!Keyboard::isVisible()) return keys;
  const Rect area = Keyboard::shownFrame();
  auto add = [&keys](std::string title, Rect frame) {
    keys.push_back(OverlayTarget{OverlayTarget::Kind::kKey, std::move(title), -1, frame});
  };
  if (numericKeyboard()) {
    static const char* const kPad[4][3] = {
        {"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}, {".", "0", "delete"}};
    const double w = area.width() / 3;
    const double h = area.height() / 4;
    for (int row = 0; row < 4; ++row)
      for (int column = 0; column < 3; ++column)
        add(kPad[row][column], Rect(area.x() + column * w, area.y() + row * h, w, h).insetBy(1, 1));
    return keys;
  }
  static const char* const kRows[3] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  const double w = area.width() / 10;
  const double h = area.height() / 4;
  for (int row = 0; row < 3; ++row) {
    const std::string letters = kRows[row];
    const double left = area.x() + (area.width() - w * static_cast<double>(letters.size())) / 2;
    for (size_t i = 0; i < letters.size(); ++i)
      add(std::string(1, letters[i]),
          Rect(left + w * static_cast<double>(i), area.y() + row * h, w, h).insetBy(3, 5));
  }
  add("delete", Rect(area.maxX() - w * 1.5, area.y() + 2 * h, w * 1.5, h).insetBy(3, 5));
  add("space", Rect(area.x() + w * 2, area.y() + 3 * h, w * 5.5, h).insetBy(3, 5));
  // A tablet's keyboard has a key of its own that puts it away; the phone's has none.
  const double returnWidth = device().isPad() ? 1.5 : 2.5;
  add("return", Rect(area.x() + w * 7.5, area.y() + 3 * h, w * returnWidth, h).insetBy(3, 5));
  if (device().isPad())
    add(std::string(kHideKeyboardKey), Rect(area.x() + w * 9, area.y() + 3 * h, w, h).insetBy(3, 5));
  return keys;
}

void drawCentred(graphics::Canvas& canvas, const std::string& text, const graphics::Font& font,
                 const Color& color, const Rect& rect) {
  const double h = textHeight(text, font, rect.width());
  canvas.drawText(graphics::AttributedText(text, font, color, graphics::TextAlignment::kCenter),
                  Rect(rect.x(), rect.y() + (rect.height() - h) / 2, rect.width(), h));
}

// `dimmed`: the share of the dimming behind it (a sheet's follows its slide).
void drawPanel(graphics::Canvas& canvas, const Panel& panel, bool isAlert, Size screen, double dimmed = 1) {
  canvas.setFillColor(dimming(dimmed));
  canvas.fillRect(Rect(0, 0, screen.width, screen.height));
  canvas.setFillColor(kPanel);
  canvas.fillPath(graphics::Path::roundedRect(panel.frame, isAlert ? 13 : 10));
  const double inner = panel.frame.width() - 32;
  double y = panel.frame.y() + (isAlert ? 20 : 16);
  if (!panel.title.empty()) {
    const auto& font = isAlert ? titleFont() : messageFont();
    const double h = textHeight(panel.title, font, inner);
    canvas.drawText(graphics::AttributedText(panel.title, font, isAlert ? Color::black() : Color::white(0.45),
                                             graphics::TextAlignment::kCenter),
                    Rect(panel.frame.x() + 16, y, inner, h));
    y += h + 4;
  }
  if (!panel.message.empty()) {
    const double h = textHeight(panel.message, messageFont(), inner);
    canvas.drawText(graphics::AttributedText(panel.message, messageFont(), Color::black(),
                                             graphics::TextAlignment::kCenter),
                    Rect(panel.frame.x() + 16, y, inner, h));
  }
  canvas.setStrokeColor(kHairline);
  canvas.setLineWidth(0.5);
  for (const auto& button : panel.buttons) {
    if (button.index == panel.cancelIndex && !isAlert) {
      // The sheet's cancel button is a panel of its own.
      canvas.setFillColor(Color::white());
      canvas.fillPath(graphics::Path::roundedRect(button.frame, 10));
    }
    canvas.strokeLineSegments(
        {Point(button.frame.x(), button.frame.y()), Point(button.frame.maxX(), button.frame.y())});
    if (isAlert && button.frame.x() > panel.frame.x())
      canvas.strokeLineSegments(
          {Point(button.frame.x(), button.frame.y()), Point(button.frame.x(), button.frame.maxY())});
    const bool bold = button.index == panel.cancelIndex;
    const Color color = button.index == panel.destructiveIndex ? kDestructive : Color::systemBlue();
    drawCentred(canvas, button.title, bold ? graphics::Font::boldSystemFontOfSize(17) : buttonFont(), color,
                button.frame);
  }
}

void drawKeyboard(graphics::Canvas& canvas) {
  if (!Keyboard::isVisible()) return;
  canvas.setFillColor(Color::white(0.82));
  canvas.fillRect(Keyboard::shownFrame());
  for (const auto& key : keyboardKeys()) {
    canvas.setFillColor(Color::white());
    canvas.fillPath(graphics::Path::roundedRect(key.frame, 5));
    drawCentred(canvas, key.title, graphics::Font::systemFontOfSize(key.title.size() > 1 ? 12 : 20),
                Color::black(), key.frame);
  }
}

// The content views of the popovers drawn in the window (fading ones too).
std::vector<View*> popoverViews(View& window) {
  std::vector<View*> views;
  for (const auto& popover : screens::drawnPopovers()) {
    const auto& content = popover->contentViewController();
    if (content && content->isViewLoaded() && content->view()->superview() == &window)
      views.push_back(content->view().get());
  }
  return views;
}

// Form sheets and popovers float over a dimmed screen; they are the window's subviews already, so
// the dimming goes in below them and the popovers' frames on top, as they are drawn now.
void drawFloatingFrames(graphics::Canvas& canvas, View& window) {
  for (View* content : popoverViews(window)) {
    const Rect frame = presentedFrame(*content);
    canvas.setStrokeColor(Color::white(0.3, presentedAlpha(*content)));
    canvas.setLineWidth(1);
    canvas.strokePath(graphics::Path::roundedRect(frame.insetBy(-1, -1), 6));
  }
}

// The views that float over a dimmed screen: popovers' contents, and on the tablet the form and
// page sheets presented over the root.
std::vector<const View*> floatingViews(View& window) {
  std::vector<const View*> views;
  for (View* content : popoverViews(window)) views.push_back(content);
  auto* asWindow = dynamic_cast<Window*>(&window);
  if (!asWindow || !device().isPad()) return views;
  for (ViewController* c = asWindow->rootViewController(); c; c = c->presentedViewController()) {
    const auto style = c->modalPresentationStyle();
    if (c->presentingViewController() && c->isViewLoaded() &&
        (style == ModalPresentationStyle::kFormSheet || style == ModalPresentationStyle::kPageSheet))
      views.push_back(c->view().get());
  }
  return views;
}

// The colour a picture shows at a point of the view it fills.
std::optional<Color> pictureColourAt(const graphics::Image& image, const View& view, Point p) {
  const Rect b = view.bounds();
  if (image.isEmpty() || b.width() <= 0 || b.height() <= 0) return std::nullopt;
  const auto px = image.pixel(static_cast<int>((p.x - b.x()) / b.width() * image.pixelWidth()),
                              static_cast<int>((p.y - b.y()) / b.height() * image.pixelHeight()));
  if (px.a < 128) return std::nullopt;
  return Color::rgb255(px.r, px.g, px.b);
}

// The colour a person sees at a point of the window: the front-most shown view there that paints
// it (a bar, a picture, an opaque enough background), in the view's own points. Views are taken
// where and how opaque they are drawn now (a bar sliding away still covers the top).
std::optional<Color> colourAt(const View& view, Point p) {
  if (view.isHidden() || presentedAlpha(view) < 0.05 || !view.pointInside(p)) return std::nullopt;
  const auto& subviews = view.subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
    const View& sub = **it;
    const Rect shown = presentedFrame(sub);
    const Point inSub(p.x - shown.x() + sub.bounds().x(), p.y - shown.y() + sub.bounds().y());
    if (auto colour = colourAt(sub, inSub)) return colour;
  }
  if (const auto* bar = dynamic_cast<const NavigationBar*>(&view)) {
    const auto drop = bar->backdrop();
    if (!drop) return std::nullopt;
    if (drop->picture)
      if (auto colour = pictureColourAt(*drop->picture, view, p)) return colour;
    return drop->tint;
  }
  if (const auto* picture = dynamic_cast<const ImageView*>(&view); picture && picture->image())
    if (auto colour = pictureColourAt(*picture->image(), view, p)) return colour;
  if (const auto& background = view.backgroundColor(); background && background->a >= 0.5) return background;
  return std::nullopt;
}

// The bar's clock and battery take the application's style where it stands out on what lies under
// them (white on the phone's coloured bars); on a screen too light for white ink, or too dark for
// black, they take the other.
bool lightStatusBar(const View& window, Size screen) {
  const bool light = Application::shared().statusBarStyle() == StatusBarStyle::kLightContent;
  const Point middle(window.bounds().x() + screen.width / 2, window.bounds().y() + kStatusBarHeight / 2);
  const auto under = colourAt(window, middle);
  if (!under) return light;
  const double brightness = 0.299 * under->r + 0.587 * under->g + 0.114 * under->b;
  return light ? brightness < 0.75 : brightness < 0.25;
}

void drawStatusBar(graphics::Canvas& canvas, Size screen, foundation::Date now, bool light) {
  // Sliding, it is drawn that far up off the top.
  const double shown = Application::shared().statusBarShownShare();
  if (shown <= 0) return;
  canvas.save();
  canvas.translate(0, (shown - 1) * kStatusBarHeight);
  const Color ink = light ? Color::white() : Color::black();
  const auto parts = foundation::Calendar::current().components(
      foundation::CalendarUnit::Hour | foundation::CalendarUnit::Minute, now);
  char clock[16] = "--:--";
  if (parts && parts->hour && parts->minute)
    std::snprintf(clock, sizeof clock, "%d:%02d", *parts->hour, *parts->minute);
  const Rect bar(0, 0, screen.width, kStatusBarHeight);
  canvas.drawText(graphics::AttributedText(clock, graphics::Font::boldSystemFontOfSize(12), ink,
                                           graphics::TextAlignment::kCenter),
                  Rect(0, 3, bar.width(), 15));
  canvas.drawText(graphics::AttributedText("Carrier", graphics::Font::systemFontOfSize(12), ink),
                  Rect(6, 3, 80, 15));
  // The battery, full.
  const Rect battery(bar.maxX() - 32, 6, 24, 10);
  canvas.setStrokeColor(ink);
  canvas.setLineWidth(1);
  canvas.strokeRect(battery);
  canvas.setFillColor(ink);
  canvas.fillRect(battery.insetBy(2, 2));
  canvas.fillRect(Rect(battery.maxX(), 9, 2, 4));
  canvas.restore();
}

}  // namespace

std::vector<OverlayTarget> overlayTargets(Size screen) {
  if (auto panel = topPanel(screen)) return panel->buttons;
  return keyboardKeys();
}

bool overlayBlocksScreen() { return topAlert() != nullptr || topActionSheet() != nullptr; }

bool tapOverlayTarget(const OverlayTarget& target) {
  switch (target.kind) {
    case OverlayTarget::Kind::kAlertButton: {
      auto alert = topAlert();
      return alert && alert->tapButton(target.index);
    }
    case OverlayTarget::Kind::kSheetButton: {
      auto sheet = topActionSheet();
      return sheet && sheet->tapButton(target.index);
    }
    case OverlayTarget::Kind::kKey:
      break;
  }
  View* responder = View::currentFirstResponder();
  if (target.title == kHideKeyboardKey) return responder && responder->resignFirstResponder();
  std::string text = target.title == "space" ? " " : target.title;
  if (auto* field = dynamic_cast<TextField*>(responder)) {
    if (target.title == "delete") {
      field->deleteBackward();
    } else if (target.title == "return") {
      field->tapReturnKey();
    } else {
      field->insertText(text);
    }
    return true;
  }
  if (auto* textView = dynamic_cast<TextView*>(responder)) {
    if (target.title == "delete") {
      textView->deleteBackward();
    } else {
      textView->insertText(target.title == "return" ? "\n" : text);
    }
    return true;
  }
  return false;
}

void renderScreen(View& window, graphics::Canvas& canvas, const ScreenRenderOptions& options) {
  auto keep = window.weak_from_this().lock();
  window.layoutIfNeeded();
  graphics::ScopedCurrentCanvas current(canvas);
  const Size screen = window.bounds().size;
  // The window draws nothing of its own beyond its background; its subviews are the screens, and
  // the dimming goes in below the first one that floats (a form sheet or popover).
  const auto floating = floatingViews(window);
  auto subviews = window.subviews();
  const auto firstFloating = std::find_if(subviews.begin(), subviews.end(), [&](const auto& sub) {
    return !sub->isHidden() && std::find(floating.begin(), floating.end(), sub.get()) != floating.end();
  });
  // Below a floating screen, what the caller kept of the last picture serves while it holds.
  ScreenUnderlay* underlay = firstFloating == subviews.end() ? nullptr : options.underlay;
  std::vector<const View*> below;
  if (underlay)
    for (auto it = subviews.begin(); it != firstFloating; ++it) below.push_back(it->get());
  if (!underlay || !underlay->restore(window, below)) {
    canvas.save();
    canvas.translate(-window.bounds().x(), -window.bounds().y());
    if (const auto& background = window.backgroundColor(); background && !background->isClear()) {
      canvas.setFillColor(*background);
      canvas.fillRect(window.bounds());
    } else {
      canvas.setFillColor(Color::black());
      canvas.fillRect(window.bounds());
    }
    canvas.restore();
    // Where each is shown now: a presented screen rises into place, a dismissed one sinks away.
    for (auto it = subviews.begin(); it != firstFloating; ++it) drawSubview(**it, canvas);
    if (underlay) underlay->keep(window, below);
  }
  for (auto it = firstFloating; it != subviews.end(); ++it) {
    if (it == firstFloating) {
      // As deep as the floating screen is opaque now: a popover's fades with it.
      canvas.setFillColor(dimming(presentedAlpha(**it)));
      canvas.fillRect(Rect(0, 0, screen.width, screen.height));
    }
    drawSubview(**it, canvas);
  }
  drawFloatingFrames(canvas, window);
  drawKeyboard(canvas);
  if (auto alert = alertPanel(screen)) {
    drawPanel(canvas, *alert, true, screen);
  } else {
    // Sheets sliding down under the newest one on screen, each as far up as it is drawn now.
    auto sheets = actionSheetsSlidingAway();
    if (auto top = topActionSheet()) sheets.push_back(std::move(top));
    for (const auto& sheet : sheets) {
      const double shown = sheet->shownShare();
      drawPanel(canvas, slidDown(sheetPanel(*sheet, screen), shown, screen), false, screen, shown);
    }
  }
  drawStatusBar(canvas, screen, options.now, lightStatusBar(window, screen));
  window.markDisplayed();
}

foundation::Result<graphics::Image> renderScreenToImage(View& window, double scale,
                                                        const ScreenRenderOptions& options) {
  auto keep = window.weak_from_this().lock();
  window.layoutIfNeeded();
  auto canvas = graphics::CairoCanvas::createBitmap(window.bounds().size, scale);
  if (!canvas.ok()) return canvas.error();
  renderScreen(window, **canvas, options);
  return (*canvas)->image();
}

foundation::Status renderScreenToPng(View& window, const std::filesystem::path& path, double scale,
                                     const ScreenRenderOptions& options) {
  auto image = renderScreenToImage(window, scale, options);
  if (!image.ok()) return image.error();
  auto data = image->pngData();
  if (!data.ok()) return data.error();
  return files::writeAtomic(path, *data);
}

}  // namespace ui
