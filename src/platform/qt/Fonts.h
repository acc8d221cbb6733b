#pragma once

#include <QStringList>

namespace palisor {

// The Japanese Gothic faces the window and the dialogs are drawn in, the first installed
// one winning: the Windows face where it is installed, then the desktop's own. Qt's own
// fallback picks a wide Latin face.
inline QStringList JapaneseGothicFaces() {
  return {QStringLiteral("ＭＳ Ｐゴシック"),  QStringLiteral("MS PGothic"),
          QStringLiteral("IPAPGothic"),       QStringLiteral("VL PGothic"),
          QStringLiteral("Noto Sans CJK JP"), QStringLiteral("TakaoPGothic"),
          QStringLiteral("IPAGothic"),        QStringLiteral("Source Han Sans JP")};
}

}  // namespace palisor
