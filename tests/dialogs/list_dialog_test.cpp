#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog.h"
#include "dialogs/ListDialog.h"
#include "settings/SettingsFile.h"
#include "support/TestServers.h"

namespace palisor {

using test::Named;

class ListDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { scratch_ = std::make_unique<test::ScratchDirectory>(); }
  void cleanup() { scratch_.reset(); }

  // A try judges the list by the run's rules and shows what it found; nothing is written.
  void aTryShowsWhatTheRunWouldTake() {
    test::ScratchDir lists;
    lists.Write("proxies.txt", "192.0.2.1\n192.0.2.2:8080\n\n# header\n<html>\n");
    lists.Write("jp.txt", "192.0.2.0/24\n# a comment\nOrder allow,deny\n");
    lists.Write("moved.html", "<!DOCTYPE html>\n<p>moved</p>\n");
    const test::HttpServer server(lists.path());
    struct Case {
      const char* key;
      std::string address;
      const char* answer;
    };
    const Case cases[] = {
        {"URL1", server.Url("/proxies.txt"),
         "2 entries usable; 2 lines skipped, not read by Apache as meant: \"# header\", "
         "\"<html>\""},
        {"IPG_JP_URL1", server.Url("/jp.txt"),
         "2 entries usable; 1 line skipped, not read by Apache as meant: \"Order allow,deny\""},
        {"IPG_KR_URL2", server.Url("/moved.html"),
         "failed: no address in 2 lines; first line \"<!DOCTYPE html>\""},
        {"URL6", server.Url("/status/404"), "the server answered with HTTP status 404"},
        {"CHECKURL", server.Url("/status/503"), "the site answered HTTP status 503"},
        {"URL4", "http://lists.palisor.example/proxy/proxy_ru1.txt", "failed: no address yet"},
    };
    Settings settings = LoadSettings();
    const Settings before = settings;
    ListDialog dialog(settings);
    dialog.show();
    for (const Case& c : cases) {
      Named<QLineEdit>(&dialog, c.key)->setText(QString::fromStdString(c.address));
      test::Click(&dialog, ("Try_" + std::string(c.key)).c_str());
    }
    for (const Case& c : cases) {
      const QLabel* answer = Named<QLabel>(&dialog, ("Result_" + std::string(c.key)).c_str());
      QTRY_VERIFY2_WITH_TIMEOUT(answer->text().contains(QString::fromUtf8(c.answer)),
                                qPrintable(answer->text()), 10000);
    }
    QVERIFY(settings == before);
    QVERIFY(!QFile::exists(scratch_->SettingsFile()));
  }

  // A try that hangs neither blocks a second try nor the dialog's closing.
  void aHangingTryGivesWayAtOnce() {
    test::ScratchDir lists;
    const test::HttpServer server(lists.path());
    Settings settings = LoadSettings();
    QElapsedTimer elapsed;
    elapsed.start();
    {
      ListDialog dialog(settings);
      dialog.show();
      Named<QLineEdit>(&dialog, "URL2")->setText(QString::fromStdString(server.Url("/stall")));
      test::Click(&dialog, "Try_URL2");
      QTest::qWait(300);
      test::Click(&dialog, "Try_URL2");
      QTest::qWait(300);
    }
    QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
  }

  // The list dialog's values reach the file only through the settings dialog's OK, which
  // keeps a hand edit made meanwhile; Cancel of either dialog drops them, in memory too.
  void valuesReachTheFileOnlyThroughTheSettingsOk() {
    const QByteArray file = "[FTP]\nFTPSW=0\n[EDIT]\nCHARBF=deny from\n";
    const QByteArray handEdit = "[FTP]\nFTPSW=0\nLCFILE=.\\by-hand.txt\n[EDIT]\nCHARBF=deny from\n";
    enum class Ends { kListCancel, kSettingsCancel, kOk };
    for (const Ends ends : {Ends::kListCancel, Ends::kSettingsCancel, Ends::kOk}) {
      test::WriteFileBytes(scratch_->SettingsFile(), file);
      Settings state = LoadSettings();
      const Settings loaded = state;
      Dialog dialog(state);
      dialog.show();
      test::WhenModalOpens<ListDialog>([ends](ListDialog* lists) {
        Named<QCheckBox>(lists, "MODE2")->setChecked(true);
        Named<QLineEdit>(lists, "URL2")->setText(QStringLiteral("http://l.example/two.txt"));
        Named<QSpinBox>(lists, "PERLINE")->setValue(20);
        test::Click(lists, ends == Ends::kListCancel ? "CancelButton" : "OKButton");
      });
      test::Click(&dialog, "Command2");
      QCOMPARE(Named<QCheckBox>(&dialog, "Check2")->isChecked(), ends != Ends::kListCancel);
      QCOMPARE(test::FileBytes(scratch_->SettingsFile()), file);
      test::WriteFileBytes(scratch_->SettingsFile(), handEdit);
      test::Click(&dialog, ends == Ends::kOk ? "OKButton" : "CancelButton");

      const Settings restarted = LoadSettings();
      if (ends != Ends::kOk) {
        QCOMPARE(test::FileBytes(scratch_->SettingsFile()), handEdit);
        QVERIFY(state == loaded);
        continue;
      }
      QCOMPARE(restarted.lists[kNonAnonymousList].url, std::string("http://l.example/two.txt"));
      QCOMPARE(restarted.lists[kNonAnonymousList].mode, std::int16_t{1});
      QCOMPARE(restarted.PERLINE, 20);
      QCOMPARE(restarted.LCFILE, std::string(".\\by-hand.txt"));
      QVERIFY(state == restarted);
    }
  }

 private:
  std::unique_ptr<test::ScratchDirectory> scratch_;
};

}  // namespace palisor

QTEST_MAIN(palisor::ListDialogTest)
#include "list_dialog_test.moc"
