#pragma once

#include <QString>
#include <QTranslator>

#include "platform/Language.h"

namespace palisor {

// The interface's texts in `language`: for English, the catalogue built into the program is in
// use for as long as this lives, for tr() too when the application object exists. Made before
// the first text is shown; one at a time.
class InterfaceLanguage final {
 public:
  explicit InterfaceLanguage(Language language = DesktopLanguage());
  InterfaceLanguage(const InterfaceLanguage&) = delete;
  InterfaceLanguage& operator=(const InterfaceLanguage&) = delete;
  ~InterfaceLanguage();

 private:
  QTranslator catalogue_;
  bool inUse_ = false;
};

// `source`, a Japanese text of `context`, in the interface's language; as it is when no
// catalogue is in use or the catalogue lacks it.
QString Translate(const char* context, const char* source);

}  // namespace palisor
