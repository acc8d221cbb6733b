#include "settings/Settings.h"

#include "platform/Text.h"

namespace palisor {

const std::array<ListSource, kListCount> kListSources = {{
    {"Japan", "国別情報の取得中[日本]", ListGroup::kCountry, "IPG_JP", "IPG_JP_URL1", "IPG_JP_URL2",
     "ipg_ALLOW_JP.txt", "ipg_DENY_JP.txt", 0},
    {"China", "国別情報の取得中[中国]", ListGroup::kCountry, "IPG_CN", "IPG_CN_URL1", "IPG_CN_URL2",
     "ipg_ALLOW_CN.txt", "ipg_DENY_CN.txt", 0},
    {"Hong Kong", "国別情報の取得中[香港]", ListGroup::kCountry, "IPG_HK", "IPG_HK_URL1",
     "IPG_HK_URL2", "ipg_ALLOW_HK.txt", "ipg_DENY_HK.txt", 0},
    {"Taiwan", "国別情報の取得中[台湾]", ListGroup::kCountry, "IPG_TW", "IPG_TW_URL1",
     "IPG_TW_URL2", "ipg_ALLOW_TW.txt", "ipg_DENY_TW.txt", 0},
    {"Korea", "国別情報の取得中[韓国]", ListGroup::kCountry, "IPG_KR", "IPG_KR_URL1", "IPG_KR_URL2",
     "ipg_ALLOW_KR.txt", "ipg_DENY_KR.txt", 0},
    {"Anonymous", "PROXY情報の取得中[Anonymous]", ListGroup::kProxy, "MODE1", "URL1", "",
     "proxy_c1.txt", "", 1},
    {"Non-Anonymous", "PROXY情報の取得中[Non-Anonymous]", ListGroup::kProxy, "MODE2", "URL2", "",
     "proxy_c2.txt", "", 0},
    {"Squid", "PROXY情報の取得中[Squid]", ListGroup::kProxy, "MODE3", "URL3", "", "proxy_c3.txt",
     "", 0},
    {"Russia 1", "PROXY情報の取得中[露①]", ListGroup::kOverseas, "MODE4", "URL4", "",
     "proxy_ru1.txt", "", 0},
    {"Russia 2", "PROXY情報の取得中[露②]", ListGroup::kOverseas, "MODE5", "URL5", "",
     "proxy_ru2.txt", "", 0},
    {"Canada", "PROXY情報の取得中[加]", ListGroup::kOverseas, "MODE6", "URL6", "", "proxy_ca.txt",
     "", 0},
}};

std::string_view SectionOf(const ListSource& source) {
  return source.group == ListGroup::kCountry ? "CNT" : "URL";
}

bool ListEnabled(const Settings& s, std::size_t row) {
  return s.lists[row].mode != 0;
}

const std::string& ListAddress(const Settings& s, std::size_t row) {
  static const std::string kNone;
  const ListSettings& list = s.lists[row];
  if (kListSources[row].group != ListGroup::kCountry) {
    return list.url;
  }
  switch (list.mode) {
    case kModeAllow:
      return list.url;
    case kModeDeny:
      return list.denyUrl;
    default:
      return kNone;
  }
}

OtherLines ReadOtherLines(std::string_view text) {
  const std::string_view word = TrimBlanks(text);
  for (const OtherLines choice : {OtherLines::kKeep, OtherLines::kReplace}) {
    const std::string_view name = OtherLinesText(choice);
    if (word.size() == name.size() && StartsWithNoCase(word, name)) {
      return choice;
    }
  }
  return OtherLines::kAsk;
}

std::string_view OtherLinesText(OtherLines choice) {
  switch (choice) {
    case OtherLines::kKeep:
      return "keep";
    case OtherLines::kReplace:
      return "replace";
    case OtherLines::kAsk:
      break;
  }
  return "ask";
}

bool IsRequireForm(std::string_view charbf) {
  static constexpr std::string_view kWord = "require";
  const std::string_view text = TrimBlanks(charbf);
  return StartsWithNoCase(text, kWord) &&
         (text.size() == kWord.size() || text[kWord.size()] == ' ' || text[kWord.size()] == '\t');
}

std::int32_t PerLineFor(const Settings& s) {
  if (s.PERLINE != 0) {
    return s.PERLINE;
  }
  return IsRequireForm(s.CHARBF) ? kPerLineForRequire : 1;
}

}  // namespace palisor
