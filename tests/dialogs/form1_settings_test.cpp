#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog.h"
#include "mainwindow/Form1.h"
#include "settings/SettingsFile.h"

namespace palisor {
// "設定" on the main window: the settings dialog, modal, and what its OK does to the countdown.
class Form1SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    scratch_ = std::make_unique<test::ScratchDirectory>();
    state_ = std::make_unique<Module1>();
    form_ = std::make_unique<Form1>(
        *state_,
        [this](Settings&, RunEvents&, std::stop_token, const RunOptions&) {
          ++runs_;
          return RunReport{};
        },
        std::make_unique<test::NoTray>());
    form_->show();
  }
  void cleanup() {
    form_.reset();
    state_.reset();
    scratch_.reset();
  }

  void okRestartsTheCountdownWithoutStartingAStoppedTimer() {
    test::Click(form_.get(), "Command4");  // 停止
    QCOMPARE(form_->TimerInterval(), 0);
    bool wasModal = false;
    test::WhenModalOpens<Dialog>([&wasModal](Dialog* dialog) {
      wasModal = dialog->isModal();
      test::Named<QLineEdit>(dialog, "Text7")->setText(QStringLiteral("900"));
      test::Click(dialog, "OKButton");
    });
    test::Click(form_.get(), "Command5");
    QVERIFY(wasModal);
    QCOMPARE(state_->settings.TMINT, 900);
    QCOMPARE(form_->countdown().secondsLeft(), 900);
    QCOMPARE(form_->TimerInterval(), 0);
    QCOMPARE(ReadIniValue("ETC", "TMINT", kSettingsFile, ""), std::string("900"));
    QCOMPARE(runs_, 0);
  }

  void cancelLeavesTheCountdownAndEachOpeningStartsAfresh() {
    QCOMPARE(form_->TimerInterval(), 1000);
    form_->countdown().Restart(77);
    test::WhenModalOpens<Dialog>([](Dialog* dialog) {
      test::Named<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("typed.example"));
      test::Click(dialog, "CancelButton");
    });
    test::Click(form_.get(), "Command5");
    QCOMPARE(form_->countdown().secondsLeft(), 77);
    QCOMPARE(form_->TimerInterval(), 1000);
    QVERIFY(state_->settings.SVNAME.empty());

    QString shown = QStringLiteral("<not opened>");
    test::WhenModalOpens<Dialog>([&shown](Dialog* dialog) {
      shown = test::Named<QLineEdit>(dialog, "Text1")->text();
      test::Click(dialog, "CancelButton");
    });
    test::Click(form_.get(), "Command5");
    QCOMPARE(shown, QString());
    QVERIFY(!QFile::exists(scratch_->SettingsFile()));
  }

 private:
  std::unique_ptr<test::ScratchDirectory> scratch_;
  std::unique_ptr<Module1> state_;
  std::unique_ptr<Form1> form_;
  std::atomic<int> runs_ = 0;  // counted on the run's thread
};

}  // namespace palisor

QTEST_MAIN(palisor::Form1SettingsTest)
#include "form1_settings_test.moc"
