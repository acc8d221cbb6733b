#include "platform/qt/SystemTray.h"

#include <utility>

namespace palisor {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

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

SystemTray::SystemTray(const QIcon& icon, const QIcon& warningIcon, const QString& toolTip)
    : usual_(icon), warning_(warningIcon) {
  icon_.setIcon(usual_);
  icon_.setToolTip(toolTip);
  // Queued: the handler may hide the icon, which must not happen while Qt is still inside
  // its own handling of the press that activated it.
  QObject::connect(
      &icon_, &QSystemTrayIcon::activated, &icon_,
      [this](QSystemTrayIcon::ActivationReason reason) {
        if (handler_) {
          handler_(TrayPressFrom(reason));
        }
      },
      Qt::QueuedConnection);
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

void SystemTray::SetWarning(bool warning) {
  icon_.setIcon(warning ? warning_ : usual_);
}

void SystemTray::SetToolTip(std::string_view text) {
  icon_.setToolTip(FromUtf8(text));
}

void SystemTray::ShowMessage(std::string_view title, std::string_view text) {
  icon_.showMessage(FromUtf8(title), FromUtf8(text), QSystemTrayIcon::Warning);
}

}  // namespace palisor
