#include "dialogs/ControlLook.h"

#include <algorithm>

#include <QCheckBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QList>
#include <QPalette>
#include <QRadioButton>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <QWidget>

#include "platform/qt/Fonts.h"
#include "platform/qt/Twips.h"

namespace palisor {
namespace {

double ScreenDpi(const QWidget* control) {
  const QScreen* screen = control->screen();
  if (screen == nullptr) {
    screen = QGuiApplication::primaryScreen();
  }
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

QFont WithSize(QFont font, double points, bool bold) {
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// The first face of the list that is installed. Handing Qt the whole list would not do: it
// takes an absent first face as the desktop's default and uses the rest only for glyphs that
// one lacks, so the Latin text would come out in a wider face than the layout allows for.
QFont FontFromFaces(const QStringList& faces, double points, bool bold) {
  QFont font;
  const QStringList installed = QFontDatabase::families();
  for (const QString& face : faces) {
    if (installed.contains(face, Qt::CaseInsensitive)) {
      font.setFamily(face);
      return WithSize(font, points, bold);
    }
  }
  // None installed: the desktop's font substitution picks the nearest face to the first.
  font.setFamily(faces.front());
  return WithSize(font, points, bold);
}

}  // namespace

void PlaceInTwips(QWidget* control, int left, int top, int width, int height) {
  const double dpi = ScreenDpi(control);
  control->setGeometry(TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(width, dpi),
                       TwipsToPixels(height, dpi));
}

void SizeClientInTwips(QWidget* window, int width, int height) {
  const double dpi = ScreenDpi(window);
  window->setFixedSize(TwipsToPixels(width, dpi), TwipsToPixels(height, dpi));
}

QFont GothicFont(double points, bool bold) {
  return FontFromFaces(JapaneseGothicFaces(), points, bold);
}

QFont ArialFont(double points, bool bold) {
  return FontFromFaces({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")},
                       points, bold);
}

int WidthForCaption(const QPushButton* button) {
  // The frame on each side, and two pixels of air so the text does not touch it.
  const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
  return button->fontMetrics().horizontalAdvance(button->text()) + 2 * (frame + 2);
}

void KeepCaptionsWhole(QWidget* window) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    button->resize(std::max(button->width(), WidthForCaption(button)), button->height());
  }
  QList<QWidget*> captioned;
  for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
    captioned << box;
  }
  for (QRadioButton* option : window->findChildren<QRadioButton*>()) {
    captioned << option;
  }
  for (QLabel* label : window->findChildren<QLabel*>()) {
    captioned << label;
  }
  for (QWidget* control : captioned) {
    const int needed = control->sizeHint().width();
    if (needed > control->width()) {
      control->resize(needed, control->height());
    }
  }
}

void SetTextColour(QWidget* control, const QColor& colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::ButtonText, colour);
  control->setPalette(palette);
}

QString FromBytes(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace palisor
