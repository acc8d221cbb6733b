#include "dialogs/ControlLook.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStringList>
#include <QWidget>

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

QFont FontFromFaces(const QStringList& faces, double points, bool bold) {
  QFont font(faces);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
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
  return FontFromFaces({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                        QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")},
                       points, bold);
}

QFont ArialFont(double points, bool bold) {
  return FontFromFaces({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")},
                       points, bold);
}

void SetTextColour(QWidget* control, const QColor& colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::ButtonText, colour);
  control->setPalette(palette);
}

}  // namespace palisor
