#pragma once

#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace palisor {

// Reads one key of an INI file by the profile reading rules; any problem gives `fallback`.
std::string ReadIniValue(std::string_view section, std::string_view key, std::string_view file,
                         std::string_view fallback);

// Writes one key by the profile writing rules; true when the file was written.
bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   std::string_view file);

// Decodes a LINESEP code ("\n", "\N", "\t", "\,", "\|", empty) into the separator itself.
std::string DecodeLineSeparator(std::string_view code);

// Fills the settings from `file` with every default, conversion and clamp, and sets
// secondsLeft to TMINT.
void LoadSettings(Module1& state, std::string_view file = kSettingsFile);

}  // namespace palisor
