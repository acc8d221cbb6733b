#include "settings/Settings.h"

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

}  // namespace palisor
