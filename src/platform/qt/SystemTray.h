#pragma once

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>

#include "platform/qt/Tray.h"

namespace palisor {

// How Qt's tray reports a mouse action, in the tray's own terms.
TrayPress TrayPressFrom(QSystemTrayIcon::ActivationReason reason);

// The notification area through QSystemTrayIcon, with no context menu.
class SystemTray final : public Tray {
 public:
  SystemTray(const QIcon& icon, const QIcon& warningIcon, const QString& toolTip);
  SystemTray(const SystemTray&) = delete;
  SystemTray& operator=(const SystemTray&) = delete;

  bool Available() const override;
  void ShowIcon() override;
  void HideIcon() override;
  void OnPress(PressHandler handler) override;
  void SetWarning(bool warning) override;
  void SetToolTip(std::string_view text) override;
  void ShowMessage(std::string_view title, std::string_view text) override;

 private:
  QIcon usual_;
  QIcon warning_;
  QSystemTrayIcon icon_;
  PressHandler handler_;
};

}  // namespace palisor
