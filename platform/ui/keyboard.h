#pragma once
// The on-screen keyboard: it comes up when a text input becomes first responder and goes when the
// last one resigns. Each change posts the platform's keyboard notifications on the default center
// (object: none) with the keyboard's frames in screen coordinates: the will-notifications and
// will-change-frame at once, did-change-frame and the did-notification on the main run loop.

#include <string_view>

#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"

namespace ui {

inline constexpr std::string_view kKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr std::string_view kKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr std::string_view kKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr std::string_view kKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline constexpr std::string_view kKeyboardWillChangeFrameNotification =
    "UIKeyboardWillChangeFrameNotification";
inline constexpr std::string_view kKeyboardDidChangeFrameNotification =
    "UIKeyboardDidChangeFrameNotification";

// User-info keys: frames as dictionaries with "X", "Y", "Width" and "Height", the duration in seconds.
inline constexpr std::string_view kKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr std::string_view kKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr std::string_view kKeyboardAnimationDurationUserInfoKey =
    "UIKeyboardAnimationDurationUserInfoKey";

// A frame of a keyboard notification's user info; an empty rectangle when the key is missing.
graphics::Rect keyboardFrame(const foundation::Dictionary& userInfo, std::string_view key);
foundation::Value rectValue(const graphics::Rect& rect);

class Keyboard {
 public:
  // Height of the keyboard for the device profile in force and its orientation.
  static double height();
  // The frame of the keyboard on screen (at the bottom of the screen).
  static graphics::Rect shownFrame();
  // Just below the screen.
  static graphics::Rect hiddenFrame();
  static bool isVisible();

  // Called when the first responder changes between keyboard users and others.
  static void show();
  static void hide();
  // Forgets the keyboard's state (between tests); posts nothing.
  static void reset();
};

}  // namespace ui
