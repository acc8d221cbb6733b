#pragma once

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <string>

namespace palisor {

// Places a control by its layout in twips, relative to its container, at the screen's dpi.
void PlaceInTwips(QWidget* control, int left, int top, int width, int height);

// Sizes a window's client area in twips.
void SizeClientInTwips(QWidget* window, int width, int height);

// The dialogs' Japanese face: the classic "ＭＳ Ｐゴシック" where it exists, else the
// desktop's Japanese Gothic.
QFont GothicFont(double points, bool bold = false);

// The banner's Western face: Arial, else a metric-compatible or plain sans-serif face.
QFont ArialFont(double points, bool bold = false);

// The width a push button needs to show its caption whole, inside its frame.
int WidthForCaption(const QPushButton* button);

// The layout was drawn for the classic face's narrow metrics and the Japanese captions; where
// the face or the language in use needs more room, a button, check box, option button or label
// grows to the right rather than clip its caption. Called once the window's controls and
// fonts are all in place.
void KeepCaptionsWhole(QWidget* window);

void SetTextColour(QWidget* control, const QColor& colour);

// The settings hold text as the file's bytes; the controls show it as UTF-8.
QString FromBytes(const std::string& bytes);
std::string ToBytes(const QString& text);

// Creates a control with its caption (or initial text), its object name and its place.
template <typename Control>
Control* MakeControl(QWidget* parent, const char* name, const QString& caption, int left, int top,
                     int width, int height) {
  auto* control = new Control(caption, parent);
  control->setObjectName(QString::fromLatin1(name));
  PlaceInTwips(control, left, top, width, height);
  return control;
}

}  // namespace palisor
