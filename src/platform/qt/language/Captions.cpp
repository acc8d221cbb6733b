#include "platform/qt/language/Captions.h"

#include <QtGlobal>
#include <algorithm>
#include <iterator>

#include "platform/qt/language/InterfaceLanguage.h"

namespace palisor {
namespace {

// The captions the core gives in Japanese: each list's download, the stages and the closing
// caption.
constexpr const char* kCoreCaptions[] = {
    QT_TRANSLATE_NOOP("Caption", "国別情報の取得中[日本]"),
    QT_TRANSLATE_NOOP("Caption", "国別情報の取得中[中国]"),
    QT_TRANSLATE_NOOP("Caption", "国別情報の取得中[香港]"),
    QT_TRANSLATE_NOOP("Caption", "国別情報の取得中[台湾]"),
    QT_TRANSLATE_NOOP("Caption", "国別情報の取得中[韓国]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[Anonymous]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[Non-Anonymous]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[Squid]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[露①]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[露②]"),
    QT_TRANSLATE_NOOP("Caption", "PROXY情報の取得中[加]"),
    QT_TRANSLATE_NOOP("Caption", "解析中"),
    QT_TRANSLATE_NOOP("Caption", "送信中"),
    QT_TRANSLATE_NOOP("Caption", "待機中"),
};

std::string ToStd(const QString& text) {
  return text.toUtf8().toStdString();
}

std::string AnalysingPattern() {
  return ToStd(Translate("Caption", "解析中(%1件)"));
}

}  // namespace

std::string CaptionText(std::string_view japanese) {
  const auto* known = std::find_if(std::begin(kCoreCaptions), std::end(kCoreCaptions),
                                   [japanese](const char* caption) { return caption == japanese; });
  return known == std::end(kCoreCaptions) ? std::string(japanese)
                                          : ToStd(Translate("Caption", *known));
}

std::string WaitingCaption(std::int32_t secondsLeft) {
  return ToStd(Translate("Caption", "待機中(%1秒)").arg(secondsLeft));
}

std::string StoppedCaption() {
  return ToStd(Translate("Caption", "停止中"));
}

std::string WritingCaption(std::uint64_t linesWritten) {
  return AnalysingCaption(linesWritten, AnalysingPattern());
}

CaptionWording InterfaceCaptions() {
  return {CaptionText, AnalysingPattern()};
}

}  // namespace palisor
