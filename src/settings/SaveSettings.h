#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Result.h"
#include "settings/Settings.h"

namespace palisor {

// The values of the list dialog, as its OK left them with the settings dialog.
struct ListDialogInputs {
  // URL1 ... URL6, and a country's allow list (IPG_JP_URL1 ...), in kListSources rows
  std::array<std::string, kListCount> urls;
  std::array<std::string, kCountryCount> denyUrls;  // IPG_JP_URL2 ...
  std::string checkUrl;                             // CHECKURL
  std::string caFile;                               // CAFILE
  std::string lcFile;                               // LCFILE
  std::int32_t perLine = 0;                         // PERLINE; 0: absent
  bool merge = false;                               // MERGE
  OtherLines otherLines = OtherLines::kAsk;         // OTHERLINES
  std::string lineSep;                              // LINESEP's code ("\\n" ...)
};

// What the list dialog shows for `settings`.
ListDialogInputs ListInputsOf(const Settings& settings);

// The seventeen values the settings dialog edits, as its controls hold them, the five
// country modes chosen through it and the list dialog's values.
struct SettingsDialogInputs {
  int check4 = 0;  // FTPSW
  // MODE1 ... MODE6, the lists after the countries, from Check1, Check2, Check3, Check5,
  // Check6 and Check7
  std::array<int, kListCount - kCountryCount> listChecks{};
  std::string text1;   // SVNAME
  std::string text3;   // SVUSER
  std::string text4;   // SVPSWD
  std::string text2;   // SVPATH
  std::string text8;   // SVFILE
  std::string text11;  // CHARBF
  std::string text12;  // CHARAF
  std::string text6;   // LISTMAX
  std::string text9;   // MASK
  std::string text7;   // TMINT
  // IPG_JP ... IPG_KR
  std::array<std::int16_t, kCountryCount> countryModes{};
  ListDialogInputs lists;
};

// The save step of the settings dialog's OK, from what the dialog `shown` at its opening and
// what it holds now (`edited`), in one atomic replacement of the file: a key whose normalised
// value the edit changed gets the new value; any other key keeps what the file holds now, so
// hand edits made meanwhile survive, and is only added, with its value as the file reads now,
// when the file lacks it. CHECKURL, CAFILE, LCFILE, OTHERLINES, PERLINE, MERGE and LINESEP
// are written only when changed, and PERLINE changed to absent is removed.
// Gives the settings the file holds now; a failure names the file and the reason.
Result<Settings> SaveSettings(const SettingsDialogInputs& shown, const SettingsDialogInputs& edited,
                              std::string_view file = kSettingsFile);

// Sets one key and leaves every other byte of the file as it is, by the same one atomic
// replacement; gives the settings the file then holds.
Result<Settings> SaveSetting(std::string_view section, std::string_view key, std::string_view text,
                             std::string_view file = kSettingsFile);

}  // namespace palisor
