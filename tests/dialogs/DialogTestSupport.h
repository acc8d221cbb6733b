#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <string_view>

#include "platform/qt/Tray.h"

namespace palisor::test {

// A desktop without a notification area: the window is never sent to the tray.
class NoTray final : public Tray {
 public:
  bool Available() const override { return false; }
  void ShowIcon() override {}
  void HideIcon() override {}
  void OnPress(PressHandler) override {}
  void SetWarning(bool) override {}
  void SetToolTip(std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}
};

// Acts on the next modal window of type W once its exec() has opened it. A modal dialog
// blocks the test in its own event loop, so the test must arm this before the click.
template <typename W>
void WhenModalOpens(std::function<void(W*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
    if (modal == nullptr || !modal->isVisible()) {
      return;
    }
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
}

// A member of a control array: its objectName is the array's, its index a property.
template <typename Control>
Control* Member(const QWidget* window, const char* arrayName, int index) {
  for (Control* control : window->findChildren<Control*>(QString::fromLatin1(arrayName))) {
    if (control->property("index").toInt() == index) {
      return control;
    }
  }
  return nullptr;
}

template <typename Control>
Control* Named(const QWidget* window, const char* name) {
  return window->findChild<Control*>(QString::fromLatin1(name));
}

inline void Click(const QWidget* window, const char* buttonName) {
  QTest::mouseClick(Named<QPushButton>(window, buttonName), Qt::LeftButton);
}

// The focusable controls in the order Tab visits them, starting at `first`.
inline QStringList TabOrderFrom(QWidget* first, int count) {
  QStringList names;
  QWidget* widget = first;
  while (names.size() < count) {
    if (widget->focusPolicy() & Qt::TabFocus) {
      const QVariant index = widget->property("index");
      names << widget->objectName() + (index.isValid() ? "(" + index.toString() + ")" : "");
    }
    widget = widget->nextInFocusChain();
  }
  return names;
}

inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

// Every test runs in an empty working directory, where the settings file is kept.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~ScratchDirectory() { QDir::setCurrent(previous_); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  QString SettingsFile() const { return dir_.filePath(QStringLiteral("palisor.ini")); }

 private:
  QString previous_;
  QTemporaryDir dir_;
};

}  // namespace palisor::test
