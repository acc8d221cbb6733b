#pragma once

#include <functional>
#include <string_view>

namespace palisor {

// What the user did on the tray icon, as far as the window cares.
enum class TrayPress {
  kLeft,         // left button pressed
  kRight,        // right button pressed
  kDoubleClick,  // left or right button double-clicked
  kOther,        // middle button, release, move or anything the desktop adds
};

// The desktop's notification area, holding at most the program's one icon.
class Tray {
 public:
  using PressHandler = std::function<void(TrayPress)>;

  virtual ~Tray() = default;

  // Whether the desktop has a notification area that takes icons right now.
  virtual bool Available() const = 0;
  virtual void ShowIcon() = 0;
  virtual void HideIcon() = 0;
  // `handler` receives every press on the icon from now on.
  virtual void OnPress(PressHandler handler) = 0;
  // The icon's warning variant, or its usual look.
  virtual void SetWarning(bool warning) = 0;
  // The text shown while the pointer rests on the icon (UTF-8).
  virtual void SetToolTip(std::string_view text) = 0;
  // A balloon or notification from the icon, if the desktop shows them (UTF-8).
  virtual void ShowMessage(std::string_view title, std::string_view text) = 0;
};

}  // namespace palisor
