#pragma once

#include <functional>

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
};

}  // namespace palisor
