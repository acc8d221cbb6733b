#include "platform/qt/SystemTray.h"

#include <utility>

namespace palisor {

TrayPress TrayPressFrom(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:  // the left button, reported at the press on X11
      return TrayPress::kLeft;
    case QSystemTrayIcon::Context:  // the right button, likewise at the press
      return TrayPress::kRight;
    case QSystemTrayIcon::DoubleClick:
      return TrayPress::kDoubleClick;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
      break;
  }
  return TrayPress::kOther;
}

SystemTray::SystemTray(const QIcon& icon, const QString& toolTip) {
  icon_.setIcon(icon);
  icon_.setToolTip(toolTip);
  QObject::connect(&icon_, &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (handler_) {
                       handler_(TrayPressFrom(reason));
                     }
                   });
}

bool SystemTray::Available() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTray::ShowIcon() {
  icon_.show();
}

void SystemTray::HideIcon() {
  icon_.hide();
}

void SystemTray::OnPress(PressHandler handler) {
  handler_ = std::move(handler);
}

}  // namespace palisor
