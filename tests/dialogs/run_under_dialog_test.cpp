#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog.h"
#include "platform/Transfer.h"
#include "settings/SettingsFile.h"
#include "support/TestServers.h"
#include "update/RunUpdate.h"

namespace palisor {
namespace {

// The window beneath the dialog as an update run sees it: its pauses let the user act.
class PausingHost final : public Host {
 public:
  void SetCaption(std::string_view) override {}
  void EnableButton(RunButton, bool) override {}
  void SetTimerInterval(int milliseconds) override { timerInterval = milliseconds; }
  bool ProcessEvents() override {
    if (pauses++ == 0 && userActs) {
      userActs();
    }
    QCoreApplication::processEvents();
    return true;
  }

  std::function<void()> userActs;  // what the user does at the run's first pause
  int pauses = 0;
  int timerInterval = -1;
};

}  // namespace

// A countdown run starting beneath the open settings dialog: the user presses OK while the
// run pauses for events.
class RunUnderDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void okDuringARunTakesEffectAtOnceAndTheRunGoesOn() {
    test::ScratchDirectory scratch;
    test::ScratchDir lists;
    lists.Write("proxy_c1.txt", "1.2.3.4\n");
    lists.Write("proxy_c2.txt", "5.6.7.8\n");
    test::HttpServer server(lists.path());

    // The addresses come from the file: OK leaves the record as the file holds it.
    test::WriteFileBytes(
        scratch.SettingsFile(),
        QByteArray::fromStdString("[FTP]\nFTPSW=0\n[URL]\nURL1=" + server.Url("/proxy_c1.txt") +
                                  "\nURL2=" + server.Url("/proxy_c2.txt") + "\n"));
    Module1 state;
    LoadSettings(state);
    state.secondsLeft = 0;

    Dialog dialog(state);
    dialog.show();
    test::Named<QCheckBox>(&dialog, "Check2")->setChecked(true);
    test::Named<QLineEdit>(&dialog, "Text9")->setText(QStringLiteral("24"));
    test::Named<QLineEdit>(&dialog, "Text7")->setText(QStringLiteral("600"));
    test::Named<QCheckBox>(&dialog, "Check4")->setChecked(false);

    PausingHost host;
    host.userActs = [&dialog] { test::Click(&dialog, "OKButton"); };
    Transfer transfer;
    const RunReport report = RunUpdate(state, host, transfer);

    QCOMPARE(report.error, std::string());
    QCOMPARE(int(report.outcome), int(Outcome::kOk));
    QVERIFY(!dialog.isVisible());
    // OK came after the first list: the second list, now enabled, and the new mask made it
    // into the output of the same run.
    QCOMPARE(test::ReadBytes("htaccess.txt"),
             std::string("deny from 1.2.3.4/24\ndeny from 5.6.7.8/24\n"));
    QCOMPARE(state.settings.TMINT, 600);
    QCOMPARE(state.secondsLeft, 600);
    QCOMPARE(host.timerInterval, 1000);
    QCOMPARE(ReadIniValue("URL", "MODE2", kSettingsFile, ""), std::string("-1"));
  }
};

}  // namespace palisor

QTEST_MAIN(palisor::RunUnderDialogTest)
#include "run_under_dialog_test.moc"
