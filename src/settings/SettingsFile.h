#pragma once

#include <string>
#include <string_view>

#include "platform/IniFile.h"
#include "settings/Settings.h"

namespace palisor {

// Reads one key of an INI file by the profile reading rules; any problem gives `fallback`.
std::string ReadIniValue(std::string_view section, std::string_view key, std::string_view file,
                         std::string_view fallback);

// Decodes a LINESEP code ("\n", "\N", "\t", "\,", "\|", empty) into the separator itself.
std::string DecodeLineSeparator(std::string_view code);

// A default list's address: the placeholder list folder and `fileName`.
std::string DefaultListAddress(std::string_view fileName);

// Whether `address` is still on the placeholder host of the default lists, which no list is on.
bool IsPlaceholderAddress(std::string_view address);
// The code a separator is written as: "\\n" for LF and so on; any other text stands for itself.
std::string EncodeLineSeparator(std::string_view separator);

// The settings a settings file holds, with every default, conversion and clamp.
Settings SettingsFrom(const IniSnapshot& file);

// The settings `file` holds, by SettingsFrom.
Settings LoadSettings(std::string_view file = kSettingsFile);

}  // namespace palisor
