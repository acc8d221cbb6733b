#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog.h"
#include "mainwindow/Form1.h"
#include "platform/Transfer.h"
#include "settings/SettingsFile.h"
#include "support/TestServers.h"
#include "update/RunUpdate.h"

namespace palisor {
// An update run starting beneath the open settings dialog, its first list slow to come.
class RunUnderDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void okDuringARunTakesEffectFromItsNextStageAndTheOpenDialogCostsTheRunNothing() {
    test::ScratchDirectory scratch;
    test::ScratchDir lists;
    lists.Write("proxy_c1.txt", "1.2.3.4\n");
    lists.Write("proxy_c2.txt", "5.6.7.8\n");
    test::HttpServer server(lists.path());

    // The addresses come from the file (the window loads it): OK leaves the record as the
    // file holds it.
    test::WriteFileBytes(scratch.SettingsFile(),
                         QByteArray::fromStdString(
                             "[FTP]\nFTPSW=0\n[URL]\nURL1=" + server.Url("/proxy_c1.txt?delay=2") +
                             "\nURL2=" + server.Url("/proxy_c2.txt") + "\n"));
    Module1 state;
    Transfer transfer;
    RunReport report;
    Form1 form(
        state,
        [&](Settings& settings, RunEvents& events, std::stop_token stop,
            const RunOptions& options) {
          return report = RunUpdate(settings, events, transfer, std::move(stop), options);
        },
        std::make_unique<test::NoTray>());
    form.show();

    bool sawFirstList = false;
    test::WhenModalOpens<Dialog>([&](Dialog* dialog) {
      form.RunUpdateNow();  // the countdown reaching 0 beneath the dialog
      sawFirstList = QTest::qWaitFor(
          [&] { return form.windowTitle() == QStringLiteral("PROXY情報の取得中[Anonymous]"); });
      QTest::qWait(1000);  // the user takes their time; the run goes on meanwhile
      test::Named<QCheckBox>(dialog, "Check2")->setChecked(true);
      test::Named<QLineEdit>(dialog, "Text9")->setText(QStringLiteral("24"));
      test::Named<QLineEdit>(dialog, "Text7")->setText(QStringLiteral("600"));
      test::Named<QCheckBox>(dialog, "Check4")->setChecked(false);
      test::Click(dialog, "OKButton");
    });
    test::Click(&form, "Command5");
    QVERIFY(sawFirstList);
    QTRY_VERIFY_WITH_TIMEOUT(!form.RunInProgress(), 10000);

    QCOMPARE(report.error, std::string());
    QCOMPARE(int(report.outcome), int(Outcome::kOk));
    // OK came while the first list was on its way: the second list, now enabled, and the
    // new mask made it into the output of the same run.
    QCOMPARE(test::ReadBytes("htaccess.txt"),
             std::string("deny from 1.2.3.4/24\ndeny from 5.6.7.8/24\n"));
    QCOMPARE(state.settings.TMINT, 600);
    QCOMPARE(form.countdown().secondsLeft(), 600);
    QCOMPARE(form.TimerInterval(), 1000);
    QCOMPARE(ReadIniValue("URL", "MODE2", kSettingsFile, ""), std::string("-1"));
  }
};

}  // namespace palisor

QTEST_MAIN(palisor::RunUnderDialogTest)
#include "run_under_dialog_test.moc"
