#include "settings/Settings.h"

#include "platform/Text.h"

namespace palisor {

std::int16_t& Settings::CountryMode(Country c) {
  switch (c) {
    case kJapan:
      return IPG_JP;
    case kChina:
      return IPG_CN;
    case kHongKong:
      return IPG_HK;
    case kTaiwan:
      return IPG_TW;
    case kKorea:
    case kCountryCount:
      break;
  }
  return IPG_KR;
}

std::int16_t Settings::CountryMode(Country c) const {
  return const_cast<Settings*>(this)->CountryMode(c);
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
