#include <QApplication>

#include "mainwindow/Form1.h"
#include "platform/Process.h"
#include "platform/Transfer.h"
#include "platform/qt/StopSignals.h"
#include "platform/qt/WindowStart.h"
#include "platform/qt/language/InterfaceLanguage.h"
#include "settings/Settings.h"
#include "update/RunUpdate.h"

int main(int argc, char* argv[]) {
  palisor::KeepOutOfCoreDumps();
  palisor::WindowStart start(argc, argv);
  if (const auto exitCode = start.exitCode()) {
    return *exitCode;
  }
  // Before the first widget: each takes its texts in the desktop's language as it is built.
  const palisor::InterfaceLanguage language;
  // The program ends only through Form1 ("終了" or closing it); hiding it to the tray must not.
  QApplication::setQuitOnLastWindowClosed(false);

  palisor::Module1 state;
  palisor::Transfer transfer;
  palisor::Form1 form(state, [&transfer](palisor::Settings& settings, palisor::RunEvents& events,
                                         std::stop_token stop, const palisor::RunOptions& options) {
    return palisor::RunUpdate(settings, events, transfer, std::move(stop), options);
  });
  const palisor::StopSignals stopSignals([&form] { form.close(); });
  start.OnSummoned([&form] { form.ShowAgain(); });
  form.show();
  form.OpenSettingsWhenNoFile();
  const int exitCode = QApplication::exec();
  // As a shell reports a program a signal ended: 130 for SIGINT, 143 for SIGTERM.
  return stopSignals.received() != 0 ? 128 + stopSignals.received() : exitCode;
}
