#include "platform/qt/language/InterfaceLanguage.h"

#include <QCoreApplication>

namespace palisor {
namespace {

// The catalogue in use; palisor-update has no application object to ask.
const QTranslator* gCatalogue = nullptr;

}  // namespace

InterfaceLanguage::InterfaceLanguage(Language language) {
  if (language != Language::kEnglish) {
    return;
  }
  inUse_ = catalogue_.load(QStringLiteral(":/palisor/translations/palisor_en.qm"));
  if (!inUse_) {
    return;
  }
  gCatalogue = &catalogue_;
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::installTranslator(&catalogue_);
  }
}

InterfaceLanguage::~InterfaceLanguage() {
  if (!inUse_) {
    return;
  }
  gCatalogue = nullptr;
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::removeTranslator(&catalogue_);
  }
}

QString Translate(const char* context, const char* source) {
  if (gCatalogue != nullptr) {
    if (QString text = gCatalogue->translate(context, source); !text.isEmpty()) {
      return text;
    }
  }
  return QString::fromUtf8(source);
}

}  // namespace palisor
