#include <QApplication>

#include "mainwindow/Form1.h"
#include "platform/Transfer.h"
#include "platform/qt/WindowStart.h"
#include "settings/Settings.h"
#include "update/RunUpdate.h"

int main(int argc, char* argv[]) {
  const palisor::WindowStart start(argc, argv);
  if (const auto exitCode = start.exitCode()) {
    return *exitCode;
  }
  // The program ends only through Form1 ("終了" or closing it); hiding it to the tray must not.
  QApplication::setQuitOnLastWindowClosed(false);

  palisor::Module1 state;
  palisor::Transfer transfer;
  palisor::Form1 form(state, [&transfer](palisor::Module1& runState, palisor::Host& host) {
    palisor::RunUpdate(runState, host, transfer);
  });
  form.show();
  return QApplication::exec();
}
