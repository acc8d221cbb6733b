#include <QRadioButton>
#include <QTest>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/Dialog2.h"

namespace palisor {
namespace {

using test::Member;
using test::Named;

const char* const kArrays[] = {"OPT_JP", "OPT_CN", "OPT_HK", "OPT_TW", "OPT_KR"};

// The index of the selected button of a country, or -1 when none is.
int SelectedIndex(const Dialog2& dialog, Country country) {
  for (int index = 0; index < 3; ++index) {
    if (Member<QRadioButton>(&dialog, kArrays[country], index)->isChecked()) {
      return index;
    }
  }
  return -1;
}

void Choose(const Dialog2& dialog, Country country, int index) {
  QTest::mouseClick(Member<QRadioButton>(&dialog, kArrays[country], index), Qt::LeftButton);
}

Settings SettingsWithModes(std::int16_t jp, std::int16_t cn, std::int16_t hk, std::int16_t tw,
                           std::int16_t kr) {
  Settings s;
  s.lists[kJapan].mode = jp;
  s.lists[kChina].mode = cn;
  s.lists[kHongKong].mode = hk;
  s.lists[kTaiwan].mode = tw;
  s.lists[kKorea].mode = kr;
  return s;
}

}  // namespace

class CountryDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { scratch_ = std::make_unique<test::ScratchDirectory>(); }
  void cleanup() { scratch_.reset(); }

  void opensWithTheHeldModesSelected() {
    Settings s = SettingsWithModes(0, 1, 2, 0, 2);
    Dialog2 dialog(s);
    QCOMPARE(SelectedIndex(dialog, kJapan), 0);
    QCOMPARE(SelectedIndex(dialog, kChina), 1);
    QCOMPARE(SelectedIndex(dialog, kHongKong), 2);
    QCOMPARE(SelectedIndex(dialog, kTaiwan), 0);
    QCOMPARE(SelectedIndex(dialog, kKorea), 2);
  }

  void tabRunsFromTheButtonsThroughEachFrameLeftToRight() {
    Settings s;
    Dialog2 dialog(s);
    QStringList expected{"OKButton", "CancelButton"};
    for (const char* array : kArrays) {
      for (int index = 0; index < 3; ++index) {
        expected << QStringLiteral("%1(%2)").arg(QString::fromLatin1(array)).arg(index);
      }
    }
    QCOMPARE(test::TabOrderFrom(Named<QPushButton>(&dialog, "OKButton"), 17), expected);
  }

  void buttonsOfOneFrameExcludeEachOtherOnly() {
    Settings s;
    Dialog2 dialog(s);
    Choose(dialog, kChina, 2);
    Choose(dialog, kChina, 1);
    QCOMPARE(SelectedIndex(dialog, kChina), 1);
    QCOMPARE(SelectedIndex(dialog, kJapan), 0);
  }

  void okStoresTheChoicesInMemoryOnly() {
    Settings s = SettingsWithModes(0, 0, 0, 0, 0);
    Dialog2 dialog(s);
    Choose(dialog, kChina, 2);
    Choose(dialog, kKorea, 1);
    test::Click(&dialog, "OKButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(s.lists[kChina].mode, std::int16_t{2});
    QCOMPARE(s.lists[kKorea].mode, std::int16_t{1});
    QCOMPARE(s.lists[kJapan].mode, std::int16_t{0});
    QCOMPARE(s.lists[kHongKong].mode, std::int16_t{0});
    QCOMPARE(s.lists[kTaiwan].mode, std::int16_t{0});
    QVERIFY(!QFile::exists(scratch_->SettingsFile()));
  }

  void cancelEscAndTheCloseBoxStoreNothing() {
    for (int way = 0; way < 3; ++way) {
      Settings s = SettingsWithModes(1, 2, 0, 1, 2);
      Dialog2 dialog(s);
      dialog.show();
      Choose(dialog, kJapan, 0);
      Choose(dialog, kKorea, 1);
      if (way == 0) {
        test::Click(&dialog, "CancelButton");
      } else if (way == 1) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        dialog.close();
      }
      QVERIFY(!dialog.isVisible());
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
      QCOMPARE(s.lists[kJapan].mode, std::int16_t{1});
      QCOMPARE(s.lists[kKorea].mode, std::int16_t{2});
      Dialog2 reopened(s);
      QCOMPARE(SelectedIndex(reopened, kJapan), 1);
    }
  }

  void aModeOutsideTheButtonsOpensUnselectedAndSurvivesOk() {
    Settings s = SettingsWithModes(0, -1, 7, 0, 0);
    Dialog2 dialog(s);
    QCOMPARE(SelectedIndex(dialog, kChina), -1);
    QCOMPARE(SelectedIndex(dialog, kHongKong), -1);
    Choose(dialog, kHongKong, 2);
    test::Click(&dialog, "OKButton");
    QCOMPARE(s.lists[kChina].mode, std::int16_t{-1});
    QCOMPARE(s.lists[kHongKong].mode, std::int16_t{2});
  }

 private:
  std::unique_ptr<test::ScratchDirectory> scratch_;
};

}  // namespace palisor

QTEST_MAIN(palisor::CountryDialogTest)
#include "country_dialog_test.moc"
