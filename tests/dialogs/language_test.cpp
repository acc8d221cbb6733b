// The window, its dialogs and a message box started as the program starts them, under three
// locales: every text shown is its catalogue's translation in English and the Japanese source
// otherwise, and no English text is cut or keeps a Japanese character.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMultiHash>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QXmlStreamReader>
#include <memory>

#include "DialogTestSupport.h"
#include "dialogs/ControlLook.h"
#include "dialogs/Dialog.h"
#include "dialogs/Dialog2.h"
#include "dialogs/ListDialog.h"
#include "mainwindow/Form1.h"
#include "platform/qt/language/Captions.h"
#include "platform/qt/language/InterfaceLanguage.h"

namespace palisor {
namespace {

// Every source text of the catalogue with its translations.
QMultiHash<QString, QString> Catalogue() {
  QFile file(QStringLiteral(PALISOR_CATALOGUE_TS));
  file.open(QIODevice::ReadOnly);
  QXmlStreamReader ts(&file);
  QMultiHash<QString, QString> catalogue;
  QString source;
  while (!ts.atEnd()) {
    ts.readNext();
    if (ts.isStartElement() && ts.name() == QLatin1String("source")) {
      source = ts.readElementText();
    } else if (ts.isStartElement() && ts.name() == QLatin1String("translation")) {
      catalogue.insert(source, ts.readElementText());
    }
  }
  return catalogue;
}

// What English must show for `japanese`: its translations, a pattern's with its numbers, or
// the text itself when the catalogue has none (addresses, "OK", "Anonymous").
QStringList EnglishFor(const QMultiHash<QString, QString>& catalogue, const QString& japanese) {
  if (catalogue.contains(japanese)) {
    return catalogue.values(japanese);
  }
  for (auto entry = catalogue.cbegin(); entry != catalogue.cend(); ++entry) {
    if (!entry.key().contains(QLatin1String("%1"))) {
      continue;
    }
    QStringList parts = entry.key().split(QLatin1String("%1"));
    for (QString& part : parts) {
      part = QRegularExpression::escape(part);
    }
    const QString pattern = parts.join(QLatin1String("(\\d+)"));
    const auto match =
        QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(japanese);
    if (match.hasMatch()) {
      return {entry.value().arg(match.captured(1))};
    }
  }
  return {japanese};
}

bool HasJapanese(const QString& text) {
  for (const QChar c : text) {
    if ((c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF) ||
        (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF)) {
      return true;
    }
  }
  return false;
}

// The texts a window shows, in the order of its controls.
QStringList ShownTexts(const QWidget* window) {
  QStringList texts{window->windowTitle()};
  for (const QWidget* control : window->findChildren<QWidget*>()) {
    texts << control->toolTip();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
      texts << button->text();
    } else if (const auto* label = qobject_cast<const QLabel*>(control)) {
      texts << label->text();
    } else if (const auto* frame = qobject_cast<const QGroupBox*>(control)) {
      texts << frame->title();
    } else if (const auto* spin = qobject_cast<const QSpinBox*>(control)) {
      texts << spin->specialValueText();
    } else if (const auto* combo = qobject_cast<const QComboBox*>(control)) {
      for (int i = 0; i < combo->count(); ++i) {
        texts << combo->itemText(i);
      }
    } else if (const auto* tabs = qobject_cast<const QTabWidget*>(control)) {
      for (int i = 0; i < tabs->count(); ++i) {
        texts << tabs->tabText(i);
      }
    }
  }
  return texts;
}

// Captions that must not be cut in a window laid out in twips.
QStringList CutCaptions(const QWidget* window) {
  QStringList cut;
  for (const QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->width() < WidthForCaption(button)) {
      cut << button->text();
    }
  }
  for (const QWidget* control : window->findChildren<QWidget*>()) {
    const bool captioned = qobject_cast<const QCheckBox*>(control) != nullptr ||
                           qobject_cast<const QRadioButton*>(control) != nullptr ||
                           qobject_cast<const QLabel*>(control) != nullptr;
    if (captioned && control->width() < control->sizeHint().width()) {
      cut << control->objectName();
    }
  }
  return cut;
}

// The texts of every window, as a start under the current locale builds them.
struct Shown {
  QList<QStringList> windows;
  QStringList cut;
};

void ShowEverything(Shown& shown) {
  Module1 state;
  Form1 form(state, {}, std::make_unique<test::NoTray>());
  form.show();
  QTRY_VERIFY_WITH_TIMEOUT(form.windowTitle() != QLatin1String("Palisor"), 3000);
  shown.windows << ShownTexts(&form);
  test::Click(&form, "Command4");  // the countdown stopped
  shown.windows << QStringList{form.windowTitle()};
  shown.cut << CutCaptions(&form);

  Settings settings;
  Dialog dialog(settings);
  dialog.show();
  shown.windows << ShownTexts(&dialog);
  shown.cut << CutCaptions(&dialog);
  // The country notice, then the country dialog it leads to.
  test::WhenModalOpens<QMessageBox>([&shown](QMessageBox* notice) {
    shown.windows << ShownTexts(notice);
    test::WhenModalOpens<Dialog2>([&shown](Dialog2* countries) {
      shown.windows << ShownTexts(countries);
      shown.cut << CutCaptions(countries);
      countries->reject();
    });
    notice->accept();
  });
  test::Click(&dialog, "Command1");
  ListDialog lists(settings);
  shown.windows << ShownTexts(&lists);

  QStringList captions;
  for (const ListSource& source : kListSources) {
    captions << QString::fromUtf8(CaptionText(source.caption));
  }
  for (const char* caption : {"解析中", "送信中", "待機中"}) {
    captions << QString::fromUtf8(CaptionText(caption));
  }
  captions << QString::fromUtf8(WritingCaption(122));
  shown.windows << captions;
}

class LanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void ShownTextsFollowTheLocale_data() {
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<bool>("english");
    QTest::newRow("English") << QByteArray("en_US.UTF-8") << true;
    QTest::newRow("Japanese") << QByteArray("ja_JP.UTF-8") << false;
    QTest::newRow("C") << QByteArray("C") << false;
  }

  void ShownTextsFollowTheLocale() {
    QFETCH(QByteArray, locale);
    QFETCH(bool, english);
    const test::ScratchDirectory work;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
      qunsetenv(name);
    }
    // The Japanese sources, as the windows are built with no catalogue.
    Shown japanese;
    ShowEverything(japanese);
    qputenv("LANG", locale);
    const InterfaceLanguage language;
    Shown shown;
    ShowEverything(shown);

    const auto catalogue = Catalogue();
    QCOMPARE(shown.windows.size(), japanese.windows.size());
    for (qsizetype w = 0; w < shown.windows.size(); ++w) {
      QCOMPARE(shown.windows[w].size(), japanese.windows[w].size());
      for (qsizetype t = 0; t < shown.windows[w].size(); ++t) {
        const QString& text = shown.windows[w][t];
        const QString& source = japanese.windows[w][t];
        const QStringList expected = english ? EnglishFor(catalogue, source) : QStringList{source};
        QVERIFY2(expected.contains(text), qPrintable(source + " shown as " + text));
        QVERIFY2(!english || !HasJapanese(text), qPrintable(text));
      }
    }
    QVERIFY2(shown.cut.isEmpty(), qPrintable(shown.cut.join(", ")));
  }
};

}  // namespace
}  // namespace palisor

QTEST_MAIN(palisor::LanguageTest)
#include "language_test.moc"
