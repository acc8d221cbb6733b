#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/IniFile.h"
#include "settings/Settings.h"

namespace palisor {

// The [CNT] keys of one country: its mode, its allow list and its deny list.
struct CountryKeyNames {
  std::string_view mode;
  std::string_view allowList;
  std::string_view denyList;
};

// In Country order.
inline constexpr std::array<CountryKeyNames, kCountryCount> kCountryKeyNames = {{
    {"IPG_JP", "IPG_JP_URL1", "IPG_JP_URL2"},
    {"IPG_CN", "IPG_CN_URL1", "IPG_CN_URL2"},
    {"IPG_HK", "IPG_HK_URL1", "IPG_HK_URL2"},
    {"IPG_TW", "IPG_TW_URL1", "IPG_TW_URL2"},
    {"IPG_KR", "IPG_KR_URL1", "IPG_KR_URL2"},
}};

// Reads one key of an INI file by the profile reading rules; any problem gives `fallback`.
std::string ReadIniValue(std::string_view section, std::string_view key, std::string_view file,
                         std::string_view fallback);

// Decodes a LINESEP code ("\n", "\N", "\t", "\,", "\|", empty) into the separator itself.
std::string DecodeLineSeparator(std::string_view code);

// The settings a settings file holds, with every default, conversion and clamp.
Settings SettingsFrom(const IniSnapshot& file);

// Fills the settings from `file` by SettingsFrom and sets secondsLeft to TMINT.
void LoadSettings(Module1& state, std::string_view file = kSettingsFile);

}  // namespace palisor
