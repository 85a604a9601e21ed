#include "platform/ui/keyboard.h"

#include <algorithm>

#include "platform/runtime/notification_center.h"
#include "platform/runtime/run_loop.h"
#include "platform/ui/device.h"
#include "platform/ui/screen_internals.h"

namespace ui {

namespace {

bool& visible() {
  static bool v = false;
  return v;
}

constexpr double kAnimationDuration = 0.25;

double screenWidth() {
  const DeviceProfile& d = device();
  return d.isLandscape() ? std::max(d.screenWidth, d.screenHeight) : d.screenWidth;
}

double screenHeight() {
  const DeviceProfile& d = device();
  return d.isLandscape() ? std::min(d.screenWidth, d.screenHeight) : d.screenHeight;
}

foundation::Dictionary userInfo(const graphics::Rect& begin, const graphics::Rect& end) {
  foundation::Dictionary info;
  info.set(std::string(kKeyboardFrameBeginUserInfoKey), rectValue(begin));
  info.set(std::string(kKeyboardFrameEndUserInfoKey), rectValue(end));
  info.set(std::string(kKeyboardAnimationDurationUserInfoKey), kAnimationDuration);
  return info;
}

void postChange(std::string_view willName, std::string_view didName, const graphics::Rect& begin,
                const graphics::Rect& end) {
  auto& center = runtime::NotificationCenter::defaultCenter();
  foundation::Dictionary info = userInfo(begin, end);
  center.post(std::string(willName), nullptr, info);
  center.post(std::string(kKeyboardWillChangeFrameNotification), nullptr, info);
  std::string did(didName);
  runtime::RunLoop::main().performSoon([info, did] {
    auto& c = runtime::NotificationCenter::defaultCenter();
    c.post(std::string(kKeyboardDidChangeFrameNotification), nullptr, info);
    c.post(did, nullptr, info);
  });
}

}  // namespace

graphics::Rect keyboardFrame(const foundation::Dictionary& userInfo, std::string_view key) {
  const foundation::Dictionary* d = userInfo[key].dictionary();
  if (!d) return {};
  auto get = [&](std::string_view k) { return (*d)[k].toDouble().value_or(0); };
  return graphics::Rect(get("X"), get("Y"), get("Width"), get("Height"));
}

foundation::Value rectValue(const graphics::Rect& rect) {
  return foundation::Dictionary{
      {"X", rect.x()}, {"Y", rect.y()}, {"Width", rect.width()}, {"Height", rect.height()}};
}

double Keyboard::height() {
  const DeviceProfile& d = device();
  if (d.isPad()) return d.isLandscape() ? 352 : 264;
  if (d.isLandscape()) return 162;
  if (d.screenHeight >= 736) return 226;
  return 216;
}

graphics::Rect Keyboard::shownFrame() {
  return graphics::Rect(0, screenHeight() - height(), screenWidth(), height());
}

graphics::Rect Keyboard::hiddenFrame() { return graphics::Rect(0, screenHeight(), screenWidth(), height()); }

bool Keyboard::isVisible() { return visible(); }

void Keyboard::show() {
  // Typing that moves to another field keeps the keyboard up, but a popover may have to move for it.
  if (!visible()) {
    visible() = true;
    postChange(kKeyboardWillShowNotification, kKeyboardDidShowNotification, hiddenFrame(), shownFrame());
  }
  screens::placePopoversForKeyboard();
}

void Keyboard::hide() {
  if (!visible()) return;
  visible() = false;
  postChange(kKeyboardWillHideNotification, kKeyboardDidHideNotification, shownFrame(), hiddenFrame());
  screens::placePopoversForKeyboard();
}

void Keyboard::reset() { visible() = false; }

}  // namespace ui
