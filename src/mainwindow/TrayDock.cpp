#include "mainwindow/TrayDock.h"

namespace palisor {

void TrayDock::WindowMinimised() {
  if (inTray_ || !tray_.Available()) {
    return;
  }
  window_.HideWindow();
  tray_.ShowIcon();
  inTray_ = true;
}

void TrayDock::IconPressed(TrayPress press) {
  if (!inTray_ || press == TrayPress::kOther) {
    return;
  }
  Restore();
}

void TrayDock::CheckTray() {
  if (inTray_ && !tray_.Available()) {
    Restore();
  }
}

void TrayDock::Restore() {
  tray_.HideIcon();
  window_.ShowWindowNormal();
  inTray_ = false;
}

}  // namespace palisor
