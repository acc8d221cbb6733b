#pragma once

#include "platform/qt/Tray.h"

namespace palisor {

// What the tray needs of the main window.
class TrayWindow {
 public:
  virtual ~TrayWindow() = default;

  virtual void HideWindow() = 0;
  // Makes the window visible again in its normal (not minimised) state.
  virtual void ShowWindowNormal() = 0;
};

// Sends the minimised window to the notification area and brings it back from there.
class TrayDock final {
 public:
  TrayDock(Tray& tray, TrayWindow& window) : tray_(tray), window_(window) {}
  TrayDock(const TrayDock&) = delete;
  TrayDock& operator=(const TrayDock&) = delete;

  // The window has just been minimised. Without a notification area it stays minimised
  // where the desktop keeps such windows: a hidden window with no icon could never come back.
  void WindowMinimised();
  // A press or a double-click of the left or right button brings the window back.
  void IconPressed(TrayPress press);
  // Called every second: when the notification area has gone (its panel ended) while the
  // window is in it, the window comes back, as no icon and no second start could reach it.
  void CheckTray();

  bool InTray() const { return inTray_; }
  // Shows the window in its normal state, out of the notification area when it waits there.
  void Restore();

 private:
  Tray& tray_;
  TrayWindow& window_;
  bool inTray_ = false;
};

}  // namespace palisor
