#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <algorithm>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog.h"
#include "dialogs/Dialog2.h"
#include "settings/SettingsFile.h"

namespace palisor {
namespace {

using test::Named;

Settings HeldSettings() {
  Settings s;
  s.SVNAME = "ftp.mysite.example";
  s.SVUSER = "hogehoge";
  s.SVPSWD = "pa55";
  s.SVPATH = "/usr/home/hogehoge/public_html";
  s.SVFILE = ".htaccess";
  s.LCFILE = ".\\htaccess.txt";
  s.FTPSW = true;
  s.CHARBF = "deny from ";
  s.TMINT = 3600;
  s.MASK = 32;
  s.LISTMAX = 9999;
  s.lists[kAnonymousList].mode = true;
  s.lists[kRussia2List].mode = true;
  return s;
}

QLineEdit* Box(const Dialog& dialog, const char* name) {
  return Named<QLineEdit>(&dialog, name);
}
QCheckBox* Tick(const Dialog& dialog, const char* name) {
  return Named<QCheckBox>(&dialog, name);
}

const char* const kFtpBoxes[] = {"Text1", "Text2", "Text3", "Text4", "Text8"};

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { scratch_ = std::make_unique<test::ScratchDirectory>(); }
  void cleanup() { scratch_.reset(); }

  void fillsEveryControlFromTheRecord() {
    Settings state = HeldSettings();
    Dialog dialog(state);
    QCOMPARE(Box(dialog, "Text1")->text(), QStringLiteral("ftp.mysite.example"));
    QCOMPARE(Box(dialog, "Text3")->text(), QStringLiteral("hogehoge"));
    QCOMPARE(Box(dialog, "Text4")->text(), QStringLiteral("pa55"));
    QCOMPARE(Box(dialog, "Text2")->text(), QStringLiteral("/usr/home/hogehoge/public_html"));
    QCOMPARE(Box(dialog, "Text8")->text(), QStringLiteral(".htaccess"));
    QCOMPARE(Box(dialog, "Text11")->text(), QStringLiteral("deny from "));
    QCOMPARE(Box(dialog, "Text12")->text(), QString());
    QCOMPARE(Box(dialog, "Text6")->text(), QStringLiteral("9999"));
    QCOMPARE(Box(dialog, "Text9")->text(), QStringLiteral("32"));
    QCOMPARE(Box(dialog, "Text7")->text(), QStringLiteral("3600"));
    const char* const checks[] = {"Check4", "Check1", "Check2", "Check3",
                                  "Check5", "Check6", "Check7"};
    // Check3 and Check5 follow MODE3 and MODE4: both off here.
    const bool expected[] = {true, true, false, false, false, true, false};
    for (int i = 0; i < 7; ++i) {
      QCOMPARE(Tick(dialog, checks[i])->isChecked(), expected[i]);
    }
    QCOMPARE(dialog.focusWidget(), Tick(dialog, "Check1"));
  }

  void boxesKeepTheirLengthLimitsAndMasks() {
    Settings state = HeldSettings();
    state.LISTMAX = 50000;
    state.TMINT = -1;
    Dialog dialog(state);
    QCOMPARE(Box(dialog, "Text6")->text(), QStringLiteral("5000"));
    QCOMPARE(Box(dialog, "Text7")->text(), QStringLiteral("-1"));
    Box(dialog, "Text7")->clear();
    QTest::keyClicks(Box(dialog, "Text7"), "1234567");
    QCOMPARE(Box(dialog, "Text7")->text(), QStringLiteral("12345"));
    QTest::keyClicks(Box(dialog, "Text9"), "999");
    QCOMPARE(Box(dialog, "Text9")->text(), QStringLiteral("32"));
    QLineEdit* password = Box(dialog, "Text4");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
             int('*'));
    // An unlimited box takes a long value whole.
    QTest::keyClicks(Box(dialog, "Text2"), QString(200, QLatin1Char('x')));
    QCOMPARE(Box(dialog, "Text2")->text().size(), 30 + 200);
  }

  void ftpEnablingRuleFollowsCheck4() {
    Settings state = HeldSettings();
    state.FTPSW = false;
    Dialog dialog(state);
    const QColor windowColour = QApplication::palette().color(QPalette::Active, QPalette::Base);
    const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
    QVERIFY(windowColour != buttonFace);
    const auto expectFtpBoxes = [&](bool enabled, const QColor& colour) {
      for (const char* name : kFtpBoxes) {
        QCOMPARE(Box(dialog, name)->isEnabled(), enabled);
        QCOMPARE(Box(dialog, name)->palette().color(QPalette::Base), colour);
      }
      QVERIFY(Box(dialog, "Text11")->isEnabled());
      QVERIFY(Named<QLabel>(&dialog, "Label1")->isEnabled());
      QVERIFY(Tick(dialog, "Check4")->isEnabled());
      QCOMPARE(Box(dialog, "Text1")->text(), QStringLiteral("ftp.mysite.example"));
    };
    expectFtpBoxes(false, buttonFace);
    QTest::mouseClick(Tick(dialog, "Check4"), Qt::LeftButton, {}, QPoint(5, 8));
    expectFtpBoxes(true, windowColour);
    Tick(dialog, "Check4")->setChecked(false);
    expectFtpBoxes(false, buttonFace);
  }

  void tabRunsThroughTheFramesToTheButtonsAndTheBannerShowsTheVersion() {
    Settings state = HeldSettings();
    Dialog dialog(state);
    QVERIFY(Named<QLabel>(&dialog, "Label13")->text().contains(QStringLiteral(PALISOR_VERSION)));
    const QStringList expected{"Check1", "Check2", "Check3",   "Check5",       "Check6",
                               "Check7", "Check4", "Text1",    "Text3",        "Text4",
                               "Text2",  "Text8",  "Text11",   "Text12",       "Text9",
                               "Text6",  "Text7",  "OKButton", "CancelButton", "Command1"};
    QCOMPARE(test::TabOrderFrom(Tick(dialog, "Check1"), 20), expected);
  }

  void okNormalisesSavesRestartsTheCountdownAndCloses() {
    Settings state = HeldSettings();
    Dialog dialog(state);
    dialog.show();
    Box(dialog, "Text1")->setText(QStringLiteral("  ftp.newsite.example/ "));
    Box(dialog, "Text7")->setText(QStringLiteral("59"));
    Box(dialog, "Text12")->setText(QStringLiteral("# 日本語"));
    test::Click(&dialog, "OKButton");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(state.SVNAME, std::string("ftp.newsite.example"));
    QCOMPARE(state.TMINT, 3600);
    // The record holds what the file now holds, as the next start would read it.
    QCOMPARE(state.CHARBF, std::string("deny from "));
    QCOMPARE(state.CHARAF, std::string("# 日本語"));
    const std::string file = scratch_->SettingsFile().toStdString();
    QCOMPARE(ReadIniValue("FTP", "SVNAME", file, ""), std::string("ftp.newsite.example"));
    QCOMPARE(ReadIniValue("ETC", "TMINT", file, ""), std::string("3600"));
    QCOMPARE(ReadIniValue("EDIT", "CHARAF", file, ""), std::string("# 日本語"));
    QCOMPARE(ReadIniValue("FTP", "LCFILE", file, "<absent>"), std::string("<absent>"));
  }

  void enterInATextBoxActsAsOk() {
    Settings state = HeldSettings();
    Dialog dialog(state);
    dialog.show();
    Box(dialog, "Text7")->setText(QStringLiteral("600"));
    QTest::keyClick(Box(dialog, "Text7"), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(state.TMINT, 600);
    QVERIFY(QFile::exists(scratch_->SettingsFile()));
  }

  void okThatCannotSaveSaysWhyAndKeepsTheEdits() {
    Settings state = HeldSettings();
    QVERIFY(QDir().mkdir(scratch_->SettingsFile()));  // in the way of the file
    Dialog dialog(state);
    dialog.show();
    Box(dialog, "Text7")->setText(QStringLiteral("900"));
    QString message;
    test::WhenModalOpens<QMessageBox>([&message](QMessageBox* failure) {
      message = failure->text();
      failure->button(QMessageBox::Ok)->click();
    });
    test::Click(&dialog, "OKButton");
    QVERIFY(message.contains(scratch_->SettingsFile()));
    QVERIFY(message.contains(QStringLiteral("not a regular file")));
    QVERIFY(dialog.isVisible());
    QCOMPARE(Box(dialog, "Text7")->text(), QStringLiteral("900"));
    QCOMPARE(state.TMINT, 3600);

    // Once the way is clear, the same OK saves.
    QVERIFY(QDir().rmdir(scratch_->SettingsFile()));
    test::Click(&dialog, "OKButton");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(state.TMINT, 900);
  }

  void handEditsMadeWhileTheDialogIsOpenSurviveOk() {
    test::WriteFileBytes(scratch_->SettingsFile(), "[ETC]\nTMINT=3600\n[URL]\nURL1=a\n");
    Settings state = LoadSettings();
    Dialog dialog(state);
    dialog.show();
    test::WriteFileBytes(scratch_->SettingsFile(), "[ETC]\nTMINT=7200\n[URL]\nURL1=b\n");
    Box(dialog, "Text1")->setText(QStringLiteral("new.example"));
    test::Click(&dialog, "OKButton");
    QVERIFY(!dialog.isVisible());
    const std::string file = scratch_->SettingsFile().toStdString();
    QCOMPARE(ReadIniValue("ETC", "TMINT", file, ""), std::string("7200"));
    QCOMPARE(ReadIniValue("URL", "URL1", file, ""), std::string("b"));
    QCOMPARE(ReadIniValue("FTP", "SVNAME", file, ""), std::string("new.example"));
    QCOMPARE(state.TMINT, 7200);
    QCOMPARE(state.lists[kAnonymousList].url, std::string("b"));
  }

  void cancelEscAndTheCloseBoxStoreNothing() {
    for (int way = 0; way < 3; ++way) {
      Settings state = HeldSettings();
      Dialog dialog(state);
      dialog.show();
      Box(dialog, "Text7")->setText(QStringLiteral("600"));
      Box(dialog, "Text1")->setText(QStringLiteral("other.example"));
      Tick(dialog, "Check2")->setChecked(true);
      if (way == 0) {
        test::Click(&dialog, "CancelButton");
      } else if (way == 1) {
        QTest::keyClick(Box(dialog, "Text1"), Qt::Key_Escape);
      } else {
        dialog.close();
      }
      QVERIFY(!dialog.isVisible());
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
      QCOMPARE(state.TMINT, 3600);
      QCOMPARE(state.SVNAME, std::string("ftp.mysite.example"));
      QVERIFY(!state.lists[kNonAnonymousList].mode);
      QVERIFY(!QFile::exists(scratch_->SettingsFile()));
      Dialog reopened(state);
      QCOMPARE(Box(reopened, "Text7")->text(), QStringLiteral("3600"));
    }
  }

  void countryControlShowsTheNoticeThenTheCountryDialog() {
    Settings state = HeldSettings();
    Dialog dialog(state);
    dialog.show();
    Box(dialog, "Text7")->setText(QStringLiteral("900"));
    // Noted while the notice is open, compared once it is gone: a failed comparison must not
    // leave a modal box open.
    bool noticeShown = false;
    bool countriesOpenedDuringNotice = true;
    test::WhenModalOpens<QMessageBox>([&](QMessageBox* notice) {
      noticeShown = true;
      const QWidgetList windows = QApplication::topLevelWidgets();
      countriesOpenedDuringNotice = std::any_of(windows.cbegin(), windows.cend(), [](QWidget* w) {
        return qobject_cast<Dialog2*>(w) != nullptr;
      });
      notice->button(QMessageBox::Ok)->click();
    });
    test::WhenModalOpens<Dialog2>([](Dialog2* countries) {
      QTest::mouseClick(test::Member<QRadioButton>(countries, "OPT_CN", 2), Qt::LeftButton);
      test::Click(countries, "OKButton");
    });
    test::Click(&dialog, "Command1");
    QVERIFY(noticeShown);
    QVERIFY(!countriesOpenedDuringNotice);
    // Back in the settings dialog with its edit intact; nothing saved yet.
    QVERIFY(dialog.isVisible());
    QCOMPARE(Box(dialog, "Text7")->text(), QStringLiteral("900"));
    QVERIFY(!QFile::exists(scratch_->SettingsFile()));
  }

  void countryChoicesReachTheFileOnlyThroughOk() {
    const QByteArray oldFile = "[CNT]\nIPG_CN=1\n";
    for (const bool confirm : {false, true}) {
      test::WriteFileBytes(scratch_->SettingsFile(), oldFile);
      Settings state = LoadSettings();
      QCOMPARE(state.lists[kChina].mode, std::int16_t{1});
      Dialog dialog(state);
      dialog.show();
      test::WhenModalOpens<QMessageBox>(
          [](QMessageBox* notice) { notice->button(QMessageBox::Ok)->click(); });
      test::WhenModalOpens<Dialog2>([](Dialog2* countries) {
        QTest::mouseClick(test::Member<QRadioButton>(countries, "OPT_CN", 2), Qt::LeftButton);
        QTest::mouseClick(test::Member<QRadioButton>(countries, "OPT_TW", 1), Qt::LeftButton);
        test::Click(countries, "OKButton");
      });
      test::Click(&dialog, "Command1");
      test::Click(&dialog, confirm ? "OKButton" : "CancelButton");
      // Cancel drops them from memory too.
      QCOMPARE(state.lists[kChina].mode, std::int16_t(confirm ? 2 : 1));
      QCOMPARE(state.lists[kTaiwan].mode, std::int16_t(confirm ? 1 : 0));

      const Settings restarted = LoadSettings();
      QCOMPARE(restarted.lists[kChina].mode, std::int16_t(confirm ? 2 : 1));
      QCOMPARE(restarted.lists[kTaiwan].mode, std::int16_t(confirm ? 1 : 0));
      if (!confirm) {
        QCOMPARE(test::FileBytes(scratch_->SettingsFile()), oldFile);
      }
    }
  }

 private:
  std::unique_ptr<test::ScratchDirectory> scratch_;
};

}  // namespace palisor

QTEST_MAIN(palisor::SettingsDialogTest)
#include "settings_dialog_test.moc"
